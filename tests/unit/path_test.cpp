// paren! and the path family: their text forms, construction, conversion,
// comparison and which block actions they inherit.
#include <gtest/gtest.h>

#include "block_helpers.h"
#include "datatypes/paren.h"
#include "datatypes/path.h"
#include "datatypes/series.h"
#include "runtime/cycles.h"
#include "datatypes/argument_checks.h"

namespace kel {
namespace {

using namespace kel::testing;
using Paths = RuntimeTest;

TEST_F(Paths, PathsMoldAndFormWithSlashes) {
  Cell self = B({W("x")}, TYPE_PATH);
  block::rs_append(&self, self);
  struct Case {
    Cell value;
    const char* mold;
    const char* form;
  } cases[] = {
      {B({W("a"), W("b"), I(1)}, TYPE_PATH), "a/b/1", "a/b/1"},
      {B({W("a"), W("b")}, TYPE_LIT_PATH), "'a/b", "a/b"},
      {B({W("a"), W("b")}, TYPE_SET_PATH), "a/b:", "a/b"},
      {B({W("a"), W("b")}, TYPE_GET_PATH), ":a/b", "a/b"},
      {B({W("a"), S("k"), B({I(1)}, TYPE_PAREN)}, TYPE_PATH), "a/\"k\"/(1)", "a/k/1"},
      {B({W("a"), NL(W("b"))}, TYPE_PATH), "a/b", "a/b"},  // new-line markers are not rendered
      {at(B({W("a"), W("b")}, TYPE_PATH), 1), "b", "b"},
      {B({}, TYPE_PATH), "", ""},
      {self, "x/...", "x/..."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mold(c.value), c.mold);
    EXPECT_EQ(form(c.value), c.form);
  }
  EXPECT_EQ(cycles::size(), 0u);
}

TEST_F(Paths, PathMoldCountsSlashesAndAffixesAgainstThePartLimit) {
  int32_t left = 0;
  EXPECT_EQ(mold_with(B({W("a"), W("b"), W("c")}, TYPE_PATH), false, false, false, 3, &left), "a/b");
  EXPECT_EQ(left, 0);
  EXPECT_EQ(mold_with(B({W("a"), W("b")}, TYPE_SET_PATH), false, false, false, 100, &left), "a/b:");
  EXPECT_EQ(left, 96);
  EXPECT_EQ(mold_with(B({W("a")}, TYPE_LIT_PATH), false, false, false, 100, &left), "'a");
  EXPECT_EQ(left, 98);
  EXPECT_EQ(form_part(B({W("ab"), W("cd"), W("ef")}, TYPE_PATH), 4, &left), "ab/cd");
  EXPECT_EQ(left, -1);
}

TEST_F(Paths, ParensMoldInParenthesesWithTheBlockRules) {
  struct Case {
    Cell value;
    bool only;
    const char* mold;
  } cases[] = {
      {B({I(1), W("+"), I(2)}, TYPE_PAREN), false, "(1 + 2)"},
      {B({I(1), I(2)}, TYPE_PAREN), true, "1 2"},
      {B({}, TYPE_PAREN), false, "()"},
      {B({NL(W("a")), NL(W("b"))}, TYPE_PAREN), false, "(\n    a\n    b\n)"},
      {B({B({I(1)}, TYPE_PAREN), B({I(2)})}, TYPE_PAREN), false, "((1) [2])"},
  };
  for (const Case& c : cases) EXPECT_EQ(mold_with(c.value, c.only, false, false), c.mold);
  EXPECT_EQ(form(B({W("a"), B({W("b")}, TYPE_PAREN)}, TYPE_PAREN)), "a b");
  Cell self = B({W("x")}, TYPE_PAREN);
  block::rs_append(&self, self);
  EXPECT_EQ(mold(self), "(x (...))");
}

TEST_F(Paths, PushRetypesTheCopy) {
  stack::Guard guard;
  Cell block = B({W("a")});
  EXPECT_TRUE(paren::push(block)->is(TYPE_PAREN));
  EXPECT_TRUE(path::push(block)->is(TYPE_PATH));
  EXPECT_TRUE(lit_path::push(block)->is(TYPE_LIT_PATH));
  EXPECT_TRUE(set_path::push(block)->is(TYPE_SET_PATH));
  EXPECT_TRUE(get_path::push(block)->is(TYPE_GET_PATH));
  Cell* made = path::make_at(stack::push_slot(), 5);
  EXPECT_TRUE(made->is(TYPE_PATH));
  EXPECT_EQ(block::rs_length(made), 0);
}

TEST_F(Paths, MakeAndToBuildPathsOfTheRequestedType) {
  Cell typeset = make_cell(TYPE_TYPESET);
  typeset_add(typeset, TYPE_INTEGER);
  struct Case {
    bool is_make;
    TypeId type;
    Cell spec;
    const char* mold;
  } cases[] = {
      {false, TYPE_PATH, B({W("a"), W("b"), I(1)}), "a/b/1"},
      {false, TYPE_LIT_PATH, B({W("a"), W("b")}), "'a/b"},
      {false, TYPE_SET_PATH, B({W("a"), W("b")}), "a/b:"},
      {false, TYPE_GET_PATH, B({W("a"), W("b")}), ":a/b"},
      {false, TYPE_PATH, W("a"), "a"},
      {false, TYPE_PATH, typeset, nullptr},
      {true, TYPE_PATH, I(5), ""},
      {true, TYPE_PATH, I(0), ""},
      {true, TYPE_SET_PATH, B({W("x"), W("y")}, TYPE_PAREN), "x/y:"},
  };
  for (const Case& c : cases) {
    Cell made = c.is_make ? convert<Action::make>(c.type, c.spec) : convert<Action::to>(c.type, c.spec);
    EXPECT_TRUE(made.is(c.type)) << c.mold;
    if (c.spec.is(TYPE_TYPESET)) {
      // The whole typeset is the one element.
      ASSERT_EQ(block::rs_length(&made), 1);
      EXPECT_TRUE(block::rs_abs_at(&made, 0)->is(TYPE_TYPESET));
    } else {
      EXPECT_EQ(mold(made), c.mold);
    }
  }
  EXPECT_EQ(catch_error([] { convert<Action::make>(TYPE_PATH, S("a")); }), ErrorId::script_bad_make_arg);
}

TEST_F(Paths, CopyOfAPathKeepsItsType) {
  Cell path = B({W("a"), W("b")}, TYPE_GET_PATH);
  ActionFrame frame;
  Cell* s = frame.arg(path);
  Cell copied = *handler<Action::copy>(TYPE_GET_PATH)(s, s, -1, -1, -1);
  EXPECT_TRUE(copied.is(TYPE_GET_PATH));
  EXPECT_NE(copied.data2, path.data2);
  EXPECT_EQ(mold(copied), ":a/b");
}

TEST_F(Paths, PathsCompareAsBlocksAndMatchLitPathsOnlyForWordComparison) {
  Cell path = B({W("a"), W("b")}, TYPE_PATH);
  Cell lit = B({W("a"), W("b")}, TYPE_LIT_PATH);
  EXPECT_EQ(actions::compare_value(&path, &lit, kCmpWord), 0);
  EXPECT_EQ(actions::compare_value(&lit, &path, kCmpStrictWord), 0);
  EXPECT_FALSE(actions::compare(&path, &lit, kCmpEqual));
  Cell other = B({W("A"), W("b")}, TYPE_PATH);
  EXPECT_TRUE(actions::compare(&path, &other, kCmpEqual));
}

TEST_F(Paths, TheFamilyInheritsBlockActionsButNotSortRandomOrTrim) {
  for (TypeId type : {TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH}) {
    EXPECT_EQ(handler<Action::sort>(type), nullptr) << type;
    EXPECT_EQ(handler<Action::random>(type), nullptr) << type;
    EXPECT_EQ(handler<Action::trim>(type), nullptr) << type;
    EXPECT_EQ(reinterpret_cast<void*>(handler<Action::find>(type)), reinterpret_cast<void*>(&block::find));
    EXPECT_EQ(reinterpret_cast<void*>(handler<Action::form>(type)), reinterpret_cast<void*>(&path::form));
    EXPECT_EQ(reinterpret_cast<void*>(handler<Action::make>(type)), reinterpret_cast<void*>(&path::make));
  }
  EXPECT_EQ(handler<Action::trim>(TYPE_PAREN), nullptr);
  EXPECT_NE(handler<Action::sort>(TYPE_PAREN), nullptr);
  EXPECT_NE(handler<Action::random>(TYPE_PAREN), nullptr);
  EXPECT_EQ(reinterpret_cast<void*>(handler<Action::form>(TYPE_PAREN)), reinterpret_cast<void*>(&block::form));
}

TEST_F(Paths, PathsAreAlteredThroughTheBlockActions) {
  Cell path = B({W("a"), W("b")}, TYPE_PATH);
  ActionFrame frame;
  Cell* s = frame.arg(path);
  Cell* value = frame.arg(I(1));
  handler<Action::append>(TYPE_PATH)(s, value, -1, -1, -1);
  EXPECT_EQ(mold(path), "a/b/1");
  EXPECT_TRUE(s->is(TYPE_PATH));
}

}  // namespace
}  // namespace kel
