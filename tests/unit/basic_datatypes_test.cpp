// datatype!, unset!, none! and logic!: their texts, conversions, comparison
// rules and the logic operations.
#include <gtest/gtest.h>

#include <cmath>

#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "runtime/actions.h"
#include "runtime/stack.h"
#include "runtime/datatype_registry.h"
#include "test_support.h"

namespace kel {
namespace {

using testing::catch_error;
using BasicDatatypes = testing::RuntimeTest;

using testing::float_cell;

// make/to through the target type's handler, as the action entry calls it.
using testing::convert;

TEST_F(BasicDatatypes, FormAndMoldTexts) {
  struct Case {
    Cell value;
    const char* form;
    const char* mold;
    const char* mold_all;
  } cases[] = {
      {datatype::make(TYPE_INTEGER), "integer", "integer!", "#(integer!)"},
      {datatype::make(TYPE_POINT2D), "point2D", "point2D!", "#(point2D!)"},
      {unset::value, "", "unset", "#(unset)"},
      {none::value, "none", "none", "#(none)"},
      {logic::true_value, "true", "true", "#(true)"},
      {logic::false_value, "false", "false", "#(false)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(actions::form_to_string(c.value), c.form);
    EXPECT_EQ(actions::mold_to_string(c.value, false), c.mold);
    EXPECT_EQ(actions::mold_to_string(c.value, true), c.mold_all);
  }
}

TEST_F(BasicDatatypes, FormAndMoldReturnThePartLimitLeft) {
  stack::Guard guard;
  Cell* value = stack::push(logic::false_value);
  Cell* buffer = string::push_new(16);
  EXPECT_EQ(actions::form(value, buffer, nullptr, 3), -2);
  EXPECT_EQ(actions::mold(value, buffer, false, true, false, nullptr, 100, 0), 92);
  Cell* type = stack::push(datatype::make(TYPE_BLOCK));
  EXPECT_EQ(actions::mold(type, buffer, false, false, false, nullptr, 10, 0), 4);
}

TEST_F(BasicDatatypes, MakeLogicFromNumbersAndOtherValues) {
  Cell text;
  {
    stack::Guard guard;
    text = *string::push_new(4);
  }
  struct Case {
    Cell spec;
    bool expected;
  } cases[] = {
      {integer::make(0), false}, {integer::make(2), true},  {float_cell(0.0), false},
      {float_cell(-0.0), false}, {float_cell(NAN), true},    {text, true},
      {none::value, false},      {logic::false_value, false}, {logic::true_value, true},
  };
  for (const Case& c : cases) {
    Cell result = convert<Action::make>(TYPE_LOGIC, c.spec);
    ASSERT_TRUE(result.is(TYPE_LOGIC));
    EXPECT_EQ(result.data1 != 0, c.expected) << actions::mold_to_string(c.spec, false);
  }
}

TEST_F(BasicDatatypes, ToLogicIsTrueForAllButNoneAndFalse) {
  EXPECT_EQ(convert<Action::to>(TYPE_LOGIC, integer::make(0)).data1, 1u);
  EXPECT_EQ(convert<Action::to>(TYPE_LOGIC, none::value).data1, 0u);
  EXPECT_EQ(convert<Action::to>(TYPE_LOGIC, logic::false_value).data1, 0u);
}

TEST_F(BasicDatatypes, MakeAndToUnsetAndNoneIgnoreTheSpec) {
  EXPECT_TRUE(convert<Action::make>(TYPE_UNSET, integer::make(5)).is(TYPE_UNSET));
  EXPECT_TRUE(convert<Action::to>(TYPE_NONE, integer::make(5)).is(TYPE_NONE));
}

TEST_F(BasicDatatypes, ComparisonRules) {
  stack::Guard guard;
  Cell* t = stack::push(logic::true_value);
  Cell* f = stack::push(logic::false_value);
  Cell* one = stack::push(integer::make(1));
  Cell* n = stack::push(none::value);
  Cell* block_type = stack::push(datatype::make(TYPE_BLOCK));
  Cell* block_type2 = stack::push(datatype::make(TYPE_BLOCK));

  EXPECT_FALSE(actions::compare(t, one, kCmpEqual)) << "true = 1 is false, not an error";
  EXPECT_TRUE(actions::compare(t, one, kCmpNotEqual));
  EXPECT_GT(actions::compare_value(t, f, kCmpSort), 0) << "false sorts before true";
  EXPECT_TRUE(actions::compare(n, n, kCmpEqual));
  EXPECT_TRUE(actions::compare(block_type, block_type2, kCmpEqual));
  EXPECT_EQ(catch_error([&] { actions::compare(t, f, kCmpGreater); }), ErrorId::script_invalid_compare);
  EXPECT_EQ(catch_error([&] { actions::compare(n, n, kCmpLesser); }), ErrorId::script_invalid_compare);
  EXPECT_EQ(catch_error([&] { actions::compare(block_type, block_type2, kCmpLesser); }),
            ErrorId::script_invalid_compare);
}

TEST_F(BasicDatatypes, LogicOperations) {
  struct Case {
    Action action;
    bool a, b, result;
  } cases[] = {{Action::and_t, true, false, false}, {Action::and_t, true, true, true},
               {Action::or_t, false, true, true},   {Action::or_t, false, false, false},
               {Action::xor_t, true, true, false},  {Action::xor_t, true, false, true}};
  for (const Case& c : cases) {
    stack::Guard guard;
    stack::mark_native(nullptr);
    stack::push(logic::make(c.a));
    stack::push(logic::make(c.b));
    GenericHandler h = action_entry(TYPE_LOGIC, c.action);
    Cell* result = reinterpret_cast<Cell* (*)()>(h)();
    EXPECT_EQ(result->data1 != 0, c.result);
  }
  Cell value = logic::true_value;
  action_handler<Action::complement>(TYPE_LOGIC)(&value);
  EXPECT_EQ(value.data1, 0u);
}

TEST_F(BasicDatatypes, LogicAndWithANonLogicRaisesExpectArg) {
  auto error = catch_error([] {
    stack::mark_native(nullptr);
    stack::push(logic::true_value);
    stack::push(integer::make(1));
    action_handler<Action::and_t>(TYPE_LOGIC)();
  });
  EXPECT_EQ(error, ErrorId::script_expect_arg);
  EXPECT_EQ(error_value::argument(testing::last_error(), 2).data1, TYPE_INTEGER);
}

TEST_F(BasicDatatypes, NoneAnswersTheEmptySeriesActions) {
  stack::Guard guard;
  stack::mark_native(nullptr);
  Cell* n = stack::push(none::value);
  Cell* v = stack::push(integer::make(1));
  EXPECT_EQ(action_handler<Action::length_q>(TYPE_NONE)(n), -1);
  EXPECT_TRUE(action_handler<Action::select>(TYPE_NONE)(n, v, -1, -1, -1, -1, -1, -1, -1, -1, -1)->is(TYPE_NONE));
  EXPECT_TRUE(action_handler<Action::find>(TYPE_NONE)(n, v, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1)->is(TYPE_NONE));
  EXPECT_TRUE(action_handler<Action::take>(TYPE_NONE)(n, 1, -1, -1)->is(TYPE_NONE));
}

TEST_F(BasicDatatypes, UnsupportedActionsHaveNoHandler) {
  EXPECT_EQ(action_entry(TYPE_DATATYPE, Action::make), nullptr);
  EXPECT_EQ(action_entry(TYPE_UNSET, Action::clear), nullptr);
  EXPECT_EQ(action_entry(TYPE_LOGIC, Action::append), nullptr);
  EXPECT_EQ(catch_error([] { actions::handler_for<Action::append>(unset::value); }),
            ErrorId::script_expect_arg);
}

TEST_F(BasicDatatypes, TruthTests) {
  Cell word = make_cell(TYPE_WORD);
  EXPECT_FALSE(logic::value_true(none::value, true, &word));
  EXPECT_FALSE(logic::value_true(logic::false_value, true, &word));
  EXPECT_TRUE(logic::value_true(integer::make(0), true, &word));
  EXPECT_TRUE(logic::value_true(unset::value, false, &word));
  EXPECT_EQ(catch_error([&] { logic::value_true(unset::value, true, &word); }), ErrorId::script_no_value);
  EXPECT_EQ(catch_error([] {
              stack::mark_native(nullptr);
              stack::push(unset::value);
              logic::true_q();
            }),
            ErrorId::script_no_return);
}

}  // namespace
}  // namespace kel
