// block!: construction and the rs routines, make and to, mold and form byte
// for byte, comparison, path access, and the search and modification
// actions (find, select, put, append, insert, change, copy, take, sort,
// swap, trim, the set operations), including a hash!'s index kept in step.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "block_helpers.h"
#include "datatypes/series.h"
#include "runtime/cycles.h"
#include "runtime/hash_table.h"
#include "datatypes/argument_checks.h"
#include "runtime/upcalls.h"

namespace kel {
namespace {

using namespace kel::testing;
using Blocks = RuntimeTest;

// --- Construction and rs routines --------------------------------------------------

TEST_F(Blocks, MakeAtGivesAnEmptyBlockWithRoomForTheCapacity) {
  struct Case {
    int32_t capacity;
    uint32_t room;
  } cases[] = {{10, 10}, {0, 1}, {-5, 1}};
  for (const Case& c : cases) {
    stack::Guard guard;
    Cell* block = block::push_only(c.capacity);
    EXPECT_TRUE(block->is(TYPE_BLOCK));
    EXPECT_EQ(block::rs_length(block), 0);
    EXPECT_GE(block::buffer_of(block)->size / sizeof(Cell), c.room);
  }
}

TEST_F(Blocks, RsRoutinesReadAndEditAtTheIndex) {
  Cell abc = B({W("a"), W("b"), W("c")});
  Cell cursor = abc;
  EXPECT_FALSE(block::rs_next(&cursor));
  EXPECT_FALSE(block::rs_next(&cursor));
  EXPECT_EQ(cursor.data1, 2u);
  EXPECT_TRUE(block::rs_next(&cursor));  // no cell after the last: stays
  EXPECT_EQ(cursor.data1, 2u);

  Cell past = at(abc, 9);
  EXPECT_EQ(block::rs_length(&past), -6);
  EXPECT_TRUE(block::rs_tail_q(&past));
  EXPECT_EQ(block::rs_head(&past), block::rs_tail(&past));
  EXPECT_EQ(past.data1, 3u);

  EXPECT_EQ(mold(*block::rs_abs_at(&abc, 1)), "b");
  block::rs_remove_last(&past);
  EXPECT_EQ(mold(abc), "[a b]");
  EXPECT_EQ(past.data1, 2u);
  Cell b_at = at(abc, 1);
  block::rs_clear_from(&b_at);
  EXPECT_EQ(mold(abc), "[a]");
  block::rs_set_tail(&abc, 0);
  EXPECT_EQ(mold(abc), "[]");
  block::rs_remove_last(&abc);  // empty: nothing
  EXPECT_EQ(mold(abc), "[]");
}

TEST_F(Blocks, RsAppendBlockMayAppendABlockToItself) {
  Cell ab = B({W("a"), W("b")});
  for (int i = 0; i < 4; ++i) block::rs_append_block(&ab, &ab);
  EXPECT_EQ(block::rs_length(&ab), 32);
  EXPECT_EQ(mold(at(ab, 28)), "[a b a b]");
}

TEST_F(Blocks, RsSelectAndRemoveValueCompareAsFindDoes) {
  Cell pairs = B({W("a"), I(1), S("B"), I(2), W("last")});
  EXPECT_EQ(mold(block::rs_select(&pairs, W("A"))), "1");
  EXPECT_EQ(mold(block::rs_select(&pairs, S("b"))), "2");
  EXPECT_EQ(mold(block::rs_select(&pairs, W("last"))), "none");
  EXPECT_EQ(mold(block::rs_select(&pairs, W("zz"))), "none");
  block::rs_remove_value(&pairs, I(2), true);
  EXPECT_EQ(mold(pairs), "[a 1 \"B\" last]");
  Cell from_b = at(pairs, 2);
  block::rs_remove_value(&from_b, I(1), false);  // 1 lies before the index
  EXPECT_EQ(mold(pairs), "[a 1 \"B\" last]");
}

TEST_F(Blocks, SelectWordMatchesWordKindsIgnoringCaseUnlessAsked) {
  Cell set_x = W("x");
  set_x.set_type(TYPE_SET_WORD);
  Cell block = B({I(0), set_x, I(1), W("Y"), I(2), W("z")});
  EXPECT_EQ(mold(block::select_word(&block, W("x"), false)), "1");
  EXPECT_EQ(mold(block::select_word(&block, W("y"), false)), "2");
  EXPECT_EQ(mold(block::select_word(&block, W("y"), true)), "none");
  EXPECT_EQ(mold(block::select_word(&block, W("z"), false)), "none");  // last cell
}

TEST_F(Blocks, InsertCellsMovesTheRestAndMayAdvance) {
  Cell ab = B({W("a"), W("b")});
  Cell cursor = at(ab, 1);
  block::insert_cells(&cursor, W("x"), true, false);
  EXPECT_EQ(mold(ab), "[a x b]");
  EXPECT_EQ(cursor.data1, 2u);
  block::insert_cells(&cursor, W("h"), false, true);
  EXPECT_EQ(mold(ab), "[h a x b]");
  EXPECT_EQ(cursor.data1, 2u);
  Cell self = at(ab, 1);
  block::rs_insert_block(&self, &ab);
  EXPECT_EQ(mold(ab), "[h h a x b a x b]");
  EXPECT_EQ(self.data1, 1u);
}

TEST_F(Blocks, CloneCopiesFromTheIndexAndDeepClonesNestedBlocks) {
  Cell inner = B({W("b")});
  Cell paren = B({W("p")}, TYPE_PAREN);
  Cell outer = B({W("a"), NL(inner), paren});
  stack::Guard guard;
  Cell shallow = *block::clone(&outer, false, false);
  EXPECT_EQ(mold(shallow), "[a\n[b] (p)]");
  EXPECT_EQ(block::rs_abs_at(&shallow, 1)->data2, inner.data2);
  Cell deep = *block::clone(&outer, true, false);
  EXPECT_NE(block::rs_abs_at(&deep, 1)->data2, inner.data2);
  EXPECT_TRUE(block::rs_abs_at(&deep, 1)->new_line());
  EXPECT_EQ(block::rs_abs_at(&deep, 2)->data2, paren.data2);
  Cell any = *block::clone(&outer, true, true);
  EXPECT_NE(block::rs_abs_at(&any, 2)->data2, paren.data2);
  Cell at_tail = at(outer, 3);
  Cell tail_part = *block::clone(&at_tail, false, false);
  EXPECT_EQ(mold(tail_part), "[]");
}

TEST_F(Blocks, CloningABlockThatHoldsItselfIsRefused) {
  Cell self = B({W("x")});
  block::rs_append(&self, self);
  auto error = catch_error([&] { block::clone(&self, true, false); });
  EXPECT_EQ(error, ErrorId::internal_no_cycle);
  EXPECT_EQ(cycles::size(), 0u);
}

TEST_F(Blocks, MakeInAppendsANewBlockToItsParent) {
  Cell parent = B({I(1)});
  Cell* child = block::make_in(&parent, 4);
  block::rs_append(child, W("x"));
  EXPECT_EQ(mold(parent), "[1 [x]]");
  Cell* scratch = block::make_in(nullptr, 2);
  EXPECT_TRUE(scratch->is(TYPE_BLOCK));
  Cell* fixed = block::make_fixed_in(&parent, 1);
  block::rs_append(fixed, I(2));
  EXPECT_EQ(mold(parent), "[1 [x] [2]]");
}

TEST_F(Blocks, FrameHelpersAppendAndInsertFromTheStack) {
  Cell block = B({I(1)});
  {
    ActionFrame frame;
    frame.arg(block);
    frame.arg(I(2));
    block::append_frame_arg();
  }
  EXPECT_EQ(mold(block), "[1 2]");
  {
    stack::Guard guard;
    stack::push(block);
    stack::mark_native(nullptr);
    stack::push(I(3));
    block::append_frame_value();
    block::insert_frame_value();
  }
  EXPECT_EQ(mold(block), "[3 1 2 3]");
}

// --- make and to ---------------------------------------------------------------

TEST_F(Blocks, MakeAndToBuildBlocks) {
  Cell typeset = make_cell(TYPE_TYPESET);
  typeset_add(typeset, TYPE_BLOCK);
  typeset_add(typeset, TYPE_INTEGER);
  struct Case {
    bool is_make;
    TypeId type;
    Cell spec;
    const char* expected;
  } cases[] = {
      {true, TYPE_BLOCK, I(10), "[]"},
      {true, TYPE_BLOCK, float_cell(2.5), "[]"},
      {true, TYPE_BLOCK, B({W("a"), W("b")}), "[a b]"},
      {true, TYPE_BLOCK, at(B({W("a"), W("b")}), 1), "[b]"},
      {true, TYPE_PAREN, B({I(1)}), "(1)"},
      {false, TYPE_BLOCK, I(1), "[1]"},
      {false, TYPE_BLOCK, B({W("a")}, TYPE_PAREN), "[a]"},
      {false, TYPE_PAREN, B({I(1), I(2)}), "(1 2)"},
      {false, TYPE_BLOCK, typeset, "[block! integer!]"},
      {false, TYPE_BLOCK, none_cell(), "[none]"},
  };
  for (const Case& c : cases) {
    Cell made = c.is_make ? convert<Action::make>(c.type, c.spec) : convert<Action::to>(c.type, c.spec);
    EXPECT_TRUE(made.is(c.type));
    EXPECT_EQ(mold(made), c.expected);
    EXPECT_EQ(made.data1, 0u);
    if (series::is_block_kind(c.spec.type())) {
      EXPECT_NE(made.data2, c.spec.data2);
    }
  }
}

TEST_F(Blocks, MakeAndToRefuseWhatTheyCannotConvert) {
  EXPECT_EQ(catch_error([] { convert<Action::make>(TYPE_BLOCK, S("x")); }), ErrorId::script_bad_make_arg);
  EXPECT_EQ(catch_error([] { convert<Action::make>(TYPE_BLOCK, W("x")); }), ErrorId::script_bad_make_arg);
}

// --- mold and form ---------------------------------------------------------------

TEST_F(Blocks, MoldWritesBlocksByteForByte) {
  Cell self = B({W("x")});
  block::rs_append(&self, self);
  struct Case {
    Cell value;
    bool only;
    bool all;
    bool flat;
    const char* text;
  } cases[] = {
      {B({}), false, false, false, "[]"},
      {B({W("a"), W("b")}), false, false, false, "[a b]"},
      {B({W("a"), W("b")}), true, false, false, "a b"},
      {B({I(1), B({I(2), I(3)}), S("x"), B({})}), false, false, false, "[1 [2 3] \"x\" []]"},
      {B({none_cell(), logic_cell(true)}), false, true, false, "[#(none) #(true)]"},
      {at(B({I(1), I(2), I(3)}), 1), false, false, false, "[2 3]"},
      {B({W("a"), NL(W("b"))}), false, false, false, "[a\nb]"},
      {B({NL(W("a")), NL(W("b"))}), false, false, false, "[\n    a\n    b\n]"},
      {B({NL(W("a")), NL(W("b"))}), false, false, true, "[a b]"},
      {B({NL(W("a")), W("b")}), false, false, false, "[\n    a b\n]"},
      {B({NL(W("a")), NL(W("b"))}), true, false, false, "a\nb"},
      {B({W("a"), B({NL(W("b"))})}), false, false, false, "[a [\n    b\n]]"},
      {B({NL(W("a")), B({NL(W("b")), NL(I(1))})}), false, false, false,
       "[\n    a [\n        b\n        1\n    ]\n]"},
      {B({NL(W("a")), NL(B({NL(W("b"))}))}), false, false, false, "[\n    a\n    [\n        b\n    ]\n]"},
      {self, false, false, false, "[x [...]]"},
      {B({B({}, TYPE_PAREN), B({W("a"), W("b")}, TYPE_PAREN)}), false, false, false, "[() (a b)]"},
  };
  for (const Case& c : cases) EXPECT_EQ(mold_with(c.value, c.only, c.all, c.flat), c.text);
}

TEST_F(Blocks, MoldPartStopsAfterTheValueThatUsesUpTheLimit) {
  struct Case {
    Cell value;
    int32_t part;
    const char* text;
    int32_t left;
  } cases[] = {
      {B({I(1), I(2), I(3), I(4)}), 4, "[1 2]", -1},
      {B({I(1), I(2), I(3), I(4)}), 100, "[1 2 3 4]", 91},
      {B({B({I(1), I(2), I(3)}), I(4)}), 3, "[[1]]", -2},
      // The limit runs out inside a multi-line block: no closing line.
      {B({NL(I(1)), NL(I(2))}), 3, "[\n    1]", -5},
  };
  for (const Case& c : cases) {
    int32_t left = 0;
    EXPECT_EQ(mold_with(c.value, false, false, false, c.part, &left), c.text);
    EXPECT_EQ(left, c.left) << c.text;
  }
}

TEST_F(Blocks, FormWritesNoBracketsAndOneSpaceBetweenValues) {
  Cell self = B({W("x")});
  block::rs_append(&self, self);
  struct Case {
    Cell value;
    const char* text;
  } cases[] = {
      {B({}), ""},
      {B({W("a"), B({W("b"), W("c")}), S("d")}), "a b c d"},
      {B({NL(W("a")), NL(I(1))}), "a 1"},
      {B({S("line\n"), W("b"), S("tab\t"), W("c")}), "line\nb tab\tc"},
      {B({none_cell(), logic_cell(false)}), "none false"},
      {self, "x ..."},
  };
  for (const Case& c : cases) EXPECT_EQ(form(c.value), c.text);
  int32_t left = 0;
  EXPECT_EQ(form_part(B({I(1), I(2), I(3)}), 2, &left), "1 2");
  EXPECT_EQ(left, -1);
}

// --- Comparison -----------------------------------------------------------------

int32_t compare(const Cell& a, const Cell& b, int32_t op) {
  Cell x = a;
  Cell y = b;
  return actions::compare_value(&x, &y, op);
}

TEST_F(Blocks, CompareWalksTheCellsAndDecidesMixedTypesByTypeId) {
  Cell same = B({I(1)});
  struct Case {
    Cell a;
    Cell b;
    int32_t op;
    int32_t expected;
  } cases[] = {
      {B({I(1), I(2)}), B({I(1), I(2)}), kCmpEqual, 0},
      {B({I(1), I(2)}), B({I(1), float_cell(2.0)}), kCmpEqual, 0},
      {B({W("a")}), B({W("b"), W("c")}), kCmpEqual, 1},
      {B({W("a")}), B({W("A")}), kCmpEqual, 0},
      {B({I(1), W("a")}), B({I(1), S("a")}), kCmpLesser, 1},  // word! sorts after string!
      {B({I(1)}), B({}), kCmpGreater, 1},
      {B({}), B({I(1)}), kCmpLesser, 0},
      {B({I(1)}), B({I(1), I(2)}), kCmpLesser, -1},
      {B({I(3)}), B({I(1), I(2)}), kCmpLesser, 1},
      {same, same, kCmpSame, 0},
      {same, B({I(1)}), kCmpSame, -1},
      {B({I(1)}), B({I(1)}, TYPE_PAREN), kCmpEqual, kNotComparable},
      {B({W("a")}, TYPE_PATH), B({W("a")}, TYPE_LIT_PATH), kCmpWord, 0},
      {B({W("a")}, TYPE_PATH), B({W("a")}, TYPE_LIT_PATH), kCmpEqual, kNotComparable},
  };
  for (const Case& c : cases) EXPECT_EQ(compare(c.a, c.b, c.op), c.expected) << mold(c.a) << " " << mold(c.b);
}

TEST_F(Blocks, BlocksHoldingThemselvesCompareWithoutEndlessRecursion) {
  Cell one = B({W("x")});
  block::rs_append(&one, one);
  Cell two = B({W("x")});
  block::rs_append(&two, two);
  EXPECT_EQ(compare(one, two, kCmpEqual), 0);
  EXPECT_EQ(cycles::size(), 0u);
}

// --- Path access --------------------------------------------------------------------

Cell path_get(Cell block, const Cell& element) {
  stack::Guard guard;
  Cell e = element;
  return *block::eval_path(&block, &e, nullptr, nullptr, nullptr, nullptr, 0, false, true, false);
}

void path_set(Cell block, const Cell& element, const Cell& value) {
  stack::Guard guard;
  Cell e = element;
  Cell v = value;
  Cell path = B({W("b"), element}, TYPE_PATH);
  block::eval_path(&block, &e, &v, &path, nullptr, nullptr, 0, false, false, false);
}

TEST_F(Blocks, PathsReadAfterAKeyAndSetInPlace) {
  Cell b = B({W("x"), I(1), W("y"), I(2), S("k"), I(3)});
  EXPECT_EQ(mold(path_get(b, W("y"))), "2");
  EXPECT_EQ(mold(path_get(b, W("Y"))), "2");
  EXPECT_EQ(mold(path_get(b, W("z"))), "none");
  EXPECT_EQ(mold(path_get(b, I(2))), "1");
  EXPECT_EQ(mold(path_get(b, I(9))), "none");
  EXPECT_EQ(mold(path_get(b, S("k"))), "3");
  path_set(b, W("y"), I(5));
  path_set(b, I(1), W("q"));
  EXPECT_EQ(mold(b), "[q 1 y 5 \"k\" 3]");
  EXPECT_EQ(catch_error([&] { path_set(b, W("z"), I(3)); }), ErrorId::script_bad_path_set);
  EXPECT_EQ(catch_error([&] { path_set(b, I(7), I(3)); }), ErrorId::script_out_of_range);
}

// --- find and select ---------------------------------------------------------------

struct Refinements {
  std::optional<Cell> part;
  std::optional<Cell> skip;
  bool only = false;
  bool case_sensitive = false;
  bool same = false;
  bool last = false;
  bool reverse = false;
  bool tail = false;
  bool match = false;
};

Cell run_find(const Cell& series, const Cell& value, const Refinements& r) {
  ActionFrame frame;
  Cell* s = frame.arg(series);
  Cell* v = frame.arg(value);
  int part = r.part ? frame.ref(*r.part) : -1;
  int skip = r.skip ? frame.ref(*r.skip) : -1;
  auto flag = [](bool on) { return on ? ActionFrame::kOn : -1; };
  return *handler<Action::find>(TYPE_BLOCK)(s, v, part, flag(r.only), flag(r.case_sensitive),
                                                flag(r.same), -1, -1, skip, flag(r.last),
                                                flag(r.reverse), flag(r.tail), flag(r.match));
}

Cell run_select(const Cell& series, const Cell& value, const Refinements& r) {
  ActionFrame frame;
  Cell* s = frame.arg(series);
  Cell* v = frame.arg(value);
  int part = r.part ? frame.ref(*r.part) : -1;
  int skip = r.skip ? frame.ref(*r.skip) : -1;
  auto flag = [](bool on) { return on ? ActionFrame::kOn : -1; };
  return *handler<Action::select>(TYPE_BLOCK)(s, v, part, flag(r.only), flag(r.case_sensitive),
                                                  flag(r.same), -1, -1, skip, flag(r.last),
                                                  flag(r.reverse));
}

int32_t found_at(const Cell& result) {
  return result.is(TYPE_NONE) ? -1 : static_cast<int32_t>(result.data1);
}

Refinements with_part(Cell part) {
  Refinements r;
  r.part = part;
  return r;
}
Refinements with_skip(int32_t size) {
  Refinements r;
  r.skip = I(size);
  return r;
}

TEST_F(Blocks, FindLooksForValuesTypesAndSequences) {
  Cell abc = B({W("a"), W("b"), W("c")});
  Cell aba = B({W("a"), W("b"), W("a")});
  Cell mixed = B({I(1), S("a"), I(2), B({}), W("A")});
  Cell typeset = make_cell(TYPE_TYPESET);
  typeset_add(typeset, TYPE_BLOCK);
  typeset_add(typeset, TYPE_WORD);
  Refinements plain;
  Refinements only;
  only.only = true;
  Refinements tail;
  tail.tail = true;
  Refinements last;
  last.last = true;
  Refinements reverse;
  reverse.reverse = true;
  Refinements match;
  match.match = true;
  Refinements match_tail;
  match_tail.match = true;
  match_tail.tail = true;
  Refinements case_sensitive;
  case_sensitive.case_sensitive = true;
  Refinements last_skip = with_skip(2);
  last_skip.last = true;
  struct Case {
    Cell series;
    Cell value;
    Refinements refinements;
    int32_t index;  // -1: none
  } cases[] = {
      {abc, W("b"), plain, 1},
      {abc, W("B"), plain, 1},
      {abc, W("B"), case_sensitive, -1},
      {abc, W("z"), plain, -1},
      {abc, W("b"), tail, 2},
      {abc, B({W("b"), W("c")}), plain, 1},
      {abc, B({W("b"), W("c")}), tail, 3},
      {abc, B({W("c"), W("d")}), plain, -1},
      {B({B({W("b"), W("c")}), W("a")}), B({W("b"), W("c")}), only, 0},
      {abc, B({W("b"), W("c")}), only, -1},
      {mixed, make_cell(TYPE_DATATYPE, TYPE_STRING), plain, 1},
      {mixed, typeset, plain, 3},
      {mixed, B({}), plain, 3},  // an empty block finds an empty block
      {mixed, S("A"), plain, 1},
      {mixed, S("A"), case_sensitive, -1},
      {B({W("a"), I(1), W("b"), I(2)}), W("b"), with_skip(2), 2},
      {B({W("a"), W("b"), W("c")}), W("b"), with_skip(2), -1},
      {aba, W("a"), last, 2},
      {B({W("a"), W("b"), W("a"), W("b")}), B({W("a"), W("b")}), last, 2},
      {B({W("a"), I(1), W("a"), I(2)}), W("a"), last_skip, 2},
      {at(aba, 3), W("a"), reverse, 2},
      {at(aba, 2), W("a"), reverse, 0},
      {at(aba, 0), W("a"), reverse, -1},
      {at(B({W("a"), W("b"), W("c")}), 3), B({W("b"), W("c")}), reverse, 1},
      {B({W("a"), W("b")}), W("b"), match, -1},
      {B({W("a"), W("b")}), W("a"), match, 0},
      {B({W("a"), W("b")}), W("a"), match_tail, 1},
      {abc, W("c"), with_part(I(2)), -1},
      {abc, W("b"), with_part(I(2)), 1},
      {abc, W("a"), with_part(I(0)), -1},
      {abc, W("c"), with_part(at(abc, 2)), -1},
      {abc, W("c"), with_part(at(abc, 3)), 2},
      {abc, B({W("b"), W("c")}), with_part(I(2)), -1},
      {at(abc, 1), W("a"), plain, -1},
      {at(abc, 3), W("a"), plain, -1},
      {B({}), W("a"), plain, -1},
  };
  for (const Case& c : cases) {
    Cell result = run_find(c.series, c.value, c.refinements);
    EXPECT_EQ(found_at(result), c.index) << mold(c.series) << " " << mold(c.value);
    if (c.index >= 0) {
      EXPECT_EQ(result.data2, c.series.data2);
    }
  }
}

TEST_F(Blocks, FindChecksItsSkipSize) {
  Cell abc = B({W("a"), W("b"), W("c")});
  EXPECT_EQ(catch_error([&] { run_find(abc, W("b"), with_skip(0)); }), ErrorId::script_out_of_range);
  Refinements text_skip;
  text_skip.skip = S("2");
  EXPECT_EQ(catch_error([&] { run_find(abc, W("b"), text_skip); }), ErrorId::script_invalid_refine_arg);
  EXPECT_EQ(catch_error([&] { run_find(abc, W("b"), with_part(S("x"))); }),
            ErrorId::script_invalid_refine_arg);
}

TEST_F(Blocks, SelectAnswersTheValueAfterTheMatch) {
  Refinements plain;
  Refinements only;
  only.only = true;
  struct Case {
    Cell series;
    Cell value;
    Refinements refinements;
    const char* expected;
  } cases[] = {
      {B({W("a"), I(1), W("b"), I(2)}), W("b"), plain, "2"},
      {B({W("a"), W("b")}), W("b"), plain, "none"},
      {B({W("a"), W("b"), W("c"), W("d")}), B({W("a"), W("b")}), plain, "c"},
      {B({B({W("a")}), W("x"), W("a"), W("y")}), B({W("a")}), only, "x"},
      {B({B({W("a")}), W("x"), W("a"), W("y")}), B({W("a")}), plain, "y"},
      {B({W("a"), I(1), W("b"), I(1)}), I(1), with_skip(2), "none"},
      {B({W("k"), I(1), W("k"), I(2)}), W("k"), [] {
         Refinements r;
         r.last = true;
         return r;
       }(), "2"},
  };
  for (const Case& c : cases) EXPECT_EQ(mold(run_select(c.series, c.value, c.refinements)), c.expected);
}

// --- put, append, insert, change ------------------------------------------------------

TEST_F(Blocks, PutSetsTheValueAfterAKeyOrAddsThePair) {
  struct Case {
    Cell block;
    Cell key;
    Cell value;
    const char* after;
  } cases[] = {
      {B({W("a"), I(1)}), W("b"), I(2), "[a 1 b 2]"},
      {B({W("a"), I(1)}), W("a"), I(3), "[a 3]"},
      {B({W("a")}), W("a"), I(1), "[a 1]"},
      {B({B({W("k")}), I(1)}), B({W("k")}), I(9), "[[k] 9]"},
  };
  for (Case& c : cases) {
    Cell result;
    {
      ActionFrame frame;
      Cell* s = frame.arg(c.block);
      Cell* key = frame.arg(c.key);
      Cell* value = frame.arg(c.value);
      result = *handler<Action::put>(TYPE_BLOCK)(s, key, value, -1);
    }
    EXPECT_EQ(mold(c.block), c.after);
    EXPECT_EQ(mold(result), mold(c.value));
  }
}

struct Insertion {
  std::optional<int32_t> part;
  bool only = false;
  std::optional<int32_t> dup;
};

Cell run_insertion(Action action, const Cell& series, const Cell& value, const Insertion& how) {
  ActionFrame frame;
  Cell* s = frame.arg(series);
  Cell* v = frame.arg(value);
  int part = how.part ? frame.ref(I(*how.part)) : -1;
  int dup = how.dup ? frame.ref(I(*how.dup)) : -1;
  int only = how.only ? ActionFrame::kOn : -1;
  if (action == Action::append) return *handler<Action::append>(TYPE_BLOCK)(s, v, part, only, dup);
  if (action == Action::insert) return *handler<Action::insert>(TYPE_BLOCK)(s, v, part, only, dup);
  return *handler<Action::change>(TYPE_BLOCK)(s, v, part, only, dup);
}

TEST_F(Blocks, AppendAndInsertAddCellsAndAnswerTheirPositions) {
  Cell ab = B({W("a"), W("b")});
  struct Case {
    Action action;
    Cell series;
    Cell value;
    Insertion how;
    const char* after;
    uint32_t answered_index;
  } cases[] = {
      {Action::append, B({}), W("x"), {std::nullopt, false, 3}, "[x x x]", 0},
      {Action::append, B({}), B({W("a"), W("b"), W("c")}), {2, false, std::nullopt}, "[a b]", 0},
      {Action::append, B({}), B({W("a"), W("b")}), {-1, false, std::nullopt}, "[a b]", 0},
      {Action::append, B({W("a")}), B({W("b"), W("c")}), {}, "[a b c]", 0},
      {Action::append, B({W("a")}), B({W("b"), W("c")}), {std::nullopt, true, std::nullopt}, "[a [b c]]", 0},
      {Action::append, at(B({W("a")}), 1), W("b"), {}, "[a b]", 0},
      {Action::append, B({W("a")}), B({}), {}, "[a]", 0},
      {Action::append, B({W("a")}), W("x"), {std::nullopt, false, 0}, "[a]", 0},
      {Action::insert, ab, W("x"), {}, "[x a b]", 1},
      {Action::insert, at(B({W("a"), W("b")}), 2), W("x"), {}, "[a b x]", 3},
      {Action::insert, at(B({W("a"), W("b")}), 7), W("x"), {}, "[a b x]", 3},
      {Action::insert, at(B({W("a"), W("b")}), 1), B({W("x"), W("y")}), {std::nullopt, false, 2},
       "[a x y x y b]", 5},
      {Action::insert, B({}), B({W("a"), W("b")}), {1, false, 6}, "[a a a a a a]", 6},
  };
  for (Case& c : cases) {
    Cell result = run_insertion(c.action, c.series, c.value, c.how);
    EXPECT_EQ(mold(at(c.series, 0)), c.after);
    EXPECT_EQ(result.data1, c.answered_index) << c.after;
    EXPECT_EQ(result.data2, c.series.data2);
  }
}

TEST_F(Blocks, AppendingABlockToItselfCopiesWhatItHeldBefore) {
  Cell ab = B({W("a"), W("b")});
  run_insertion(Action::append, ab, ab, {});
  EXPECT_EQ(mold(ab), "[a b a b]");
  Cell cd = B({W("c"), W("d")});
  run_insertion(Action::insert, at(cd, 1), cd, {std::nullopt, false, 3});
  EXPECT_EQ(mold(cd), "[c c d c d c d d]");
}

TEST_F(Blocks, ChangeOverwritesOrReplacesAPart) {
  struct Case {
    Cell series;
    Cell value;
    Insertion how;
    const char* after;
    uint32_t answered_index;
  } cases[] = {
      {B({W("a"), W("b"), W("c")}), B({W("x"), W("y")}), {}, "[x y c]", 2},
      {B({W("a"), W("b"), W("c")}), W("x"), {2, false, std::nullopt}, "[x c]", 1},
      {B({W("a")}), B({W("x"), W("y"), W("z")}), {}, "[x y z]", 3},
      {B({W("a"), W("b"), W("c")}), B({W("x"), W("y"), W("z")}), {1, false, std::nullopt}, "[x y z b c]", 3},
      {B({W("a"), W("b"), W("c")}), W("x"), {std::nullopt, false, 2}, "[x x c]", 2},
      {B({W("a"), W("b"), W("c")}), B({W("x")}), {std::nullopt, true, std::nullopt}, "[[x] b c]", 1},
      {B({W("a"), W("b"), W("c")}), B({}), {2, false, std::nullopt}, "[c]", 0},
      {at(B({W("a"), W("b")}), 2), W("x"), {}, "[a b x]", 3},
      {B({W("a"), W("b"), W("c")}), W("x"), {9, false, std::nullopt}, "[x]", 1},
  };
  for (Case& c : cases) {
    Cell result = run_insertion(Action::change, c.series, c.value, c.how);
    EXPECT_EQ(mold(at(c.series, 0)), c.after);
    EXPECT_EQ(result.data1, c.answered_index) << c.after;
  }
  Cell abc = B({W("a"), W("b"), W("c")});
  run_insertion(Action::change, at(abc, 1), abc, {});  // a stretch of the block itself
  EXPECT_EQ(mold(abc), "[a a b c]");
}

// --- copy and take -------------------------------------------------------------------

Cell run_copy(const Cell& series, bool deep, std::optional<Cell> types = std::nullopt,
              std::optional<Cell> part = std::nullopt) {
  ActionFrame frame;
  Cell* s = frame.arg(series);
  int part_index = part ? frame.ref(*part) : -1;
  int types_index = types ? frame.ref(*types) : -1;
  return *handler<Action::copy>(series.type())(s, s, part_index, deep ? ActionFrame::kOn : -1, types_index);
}

TEST_F(Blocks, CopyDeepCopiesEveryNestedSeries) {
  Cell inner = B({W("a")});
  Cell text = S("t");
  Cell outer = B({NL(inner), text, I(1)});
  Cell shallow = run_copy(outer, false);
  EXPECT_EQ(block::rs_abs_at(&shallow, 0)->data2, inner.data2);
  Cell deep = run_copy(outer, true);
  EXPECT_EQ(mold(deep), "[\n    [a] \"t\" 1\n]");
  EXPECT_NE(block::rs_abs_at(&deep, 0)->data2, inner.data2);
  EXPECT_NE(block::rs_abs_at(&deep, 1)->data2, text.data2);
  Cell part = run_copy(outer, true, std::nullopt, I(1));
  EXPECT_EQ(mold(part), "[\n    [a]\n]");
  EXPECT_NE(block::rs_abs_at(&part, 0)->data2, inner.data2);
  EXPECT_TRUE(run_copy(B({I(1)}, TYPE_PAREN), false).is(TYPE_PAREN));
  Cell direct = block::copy_block(&outer, true);
  EXPECT_EQ(mold(direct), mold(deep));
  EXPECT_NE(block::rs_abs_at(&direct, 0)->data2, inner.data2);
}

TEST_F(Blocks, CopyTypesCopiesOnlyTheNamedKinds) {
  Cell inner = B({W("a")});
  Cell text = S("t");
  Cell outer = B({inner, text});
  Cell copied = run_copy(outer, false, make_cell(TYPE_DATATYPE, TYPE_STRING));
  EXPECT_EQ(block::rs_abs_at(&copied, 0)->data2, inner.data2);
  EXPECT_NE(block::rs_abs_at(&copied, 1)->data2, text.data2);
}

TEST_F(Blocks, CopyDeepOfABlockHoldingItselfFailsAndLeavesNoCycleEntry) {
  Cell b = B({W("x")});
  run_insertion(Action::append, b, b, {std::nullopt, true, std::nullopt});
  EXPECT_EQ(catch_error([&] { run_copy(b, true); }), ErrorId::internal_no_cycle);
  EXPECT_EQ(cycles::size(), 0u);
  EXPECT_EQ(mold(b), "[x [...]]");
}

TEST_F(Blocks, TakeAnswersTheElementOrAPartAndDeepCopies) {
  Cell inner = B({W("a")});
  Cell block = B({inner, W("b"), W("c")});
  Cell taken;
  {
    ActionFrame frame;
    Cell* s = frame.arg(block);
    taken = *handler<Action::take>(TYPE_BLOCK)(s, -1, ActionFrame::kOn, -1);
  }
  EXPECT_EQ(mold(taken), "[a]");
  EXPECT_NE(taken.data2, inner.data2);
  {
    ActionFrame frame;
    Cell* s = frame.arg(block);
    int part = frame.ref(I(1));
    taken = *handler<Action::take>(TYPE_BLOCK)(s, part, -1, -1);
  }
  EXPECT_EQ(mold(taken), "[b]");
  EXPECT_EQ(mold(block), "[c]");
}

// --- sort ----------------------------------------------------------------------------

struct SortHow {
  bool case_sensitive = false;
  std::optional<int32_t> skip;
  std::optional<Cell> compare;
  std::optional<int32_t> part;
  bool all = false;
  bool reverse = false;
  bool stable = false;
};

void run_sort(const Cell& series, const SortHow& how) {
  ActionFrame frame;
  Cell* s = frame.arg(series);
  int skip = how.skip ? frame.ref(I(*how.skip)) : -1;
  int compare = how.compare ? frame.ref(*how.compare) : -1;
  int part = how.part ? frame.ref(I(*how.part)) : -1;
  auto flag = [](bool on) { return on ? ActionFrame::kOn : -1; };
  handler<Action::sort>(series.type())(s, flag(how.case_sensitive), skip, compare, part, flag(how.all),
                                       flag(how.reverse), flag(how.stable));
}

TEST_F(Blocks, SortOrdersCellsRecordsAndParts) {
  SortHow plain;
  SortHow reverse;
  reverse.reverse = true;
  SortHow pairs;
  pairs.skip = 2;
  SortHow by_second;
  by_second.skip = 2;
  by_second.compare = I(2);
  SortHow all_fields;
  all_fields.skip = 2;
  all_fields.all = true;
  SortHow first_two;
  first_two.part = 2;
  SortHow stable_pairs;
  stable_pairs.skip = 2;
  stable_pairs.stable = true;
  SortHow stable;
  stable.stable = true;
  SortHow stable_case = stable;
  stable_case.case_sensitive = true;
  SortHow reverse_pairs = pairs;
  reverse_pairs.reverse = true;
  struct Case {
    Cell series;
    SortHow how;
    const char* after;
  } cases[] = {
      {B({I(3), I(1), I(2)}), plain, "[1 2 3]"},
      {B({I(3), I(1), I(2)}), reverse, "[3 2 1]"},
      {B({W("b"), I(2), W("a"), I(1)}), pairs, "[a 1 b 2]"},
      {B({W("b"), I(2), W("a"), I(1)}), reverse_pairs, "[b 2 a 1]"},
      {B({W("a"), I(2), W("b"), I(1)}), by_second, "[b 1 a 2]"},
      {B({W("a"), I(2), W("a"), I(1)}), all_fields, "[a 1 a 2]"},
      {B({I(3), I(1), I(2)}), first_two, "[1 3 2]"},
      {B({W("b"), I(1), W("a"), I(2), W("b"), I(0), W("a"), I(1)}), stable_pairs, "[a 2 a 1 b 1 b 0]"},
      {B({S("b"), S("B"), S("a")}), stable, "[\"a\" \"b\" \"B\"]"},
      {B({S("b"), S("B"), S("a")}), stable_case, "[\"B\" \"a\" \"b\"]"},
      {B({I(1), S("a"), W("a"), none_cell()}), stable, "[none \"a\" 1 a]"},
      {B({float_cell(2.5), I(1), I(3)}), plain, "[1 2.5 3]"},
      {B({}), plain, "[]"},
  };
  for (Case& c : cases) {
    run_sort(c.series, c.how);
    EXPECT_EQ(mold(c.series), c.after);
  }
  Cell numbers = B({I(3), I(2), I(1), I(0)});
  SortHow before_index;
  before_index.part = -2;
  run_sort(at(numbers, 2), before_index);
  EXPECT_EQ(mold(numbers), "[2 3 1 0]");
}

TEST_F(Blocks, SortRefusesIncompatibleRefinements) {
  SortHow all_alone;
  all_alone.all = true;
  SortHow odd_skip;
  odd_skip.skip = 3;
  SortHow field_without_skip;
  field_without_skip.compare = I(1);
  SortHow field_out_of_record;
  field_out_of_record.skip = 2;
  field_out_of_record.compare = I(3);
  SortHow text_comparator;
  text_comparator.compare = S("x");
  SortHow field_with_all;
  field_with_all.skip = 2;
  field_with_all.all = true;
  field_with_all.compare = I(1);
  struct Case {
    SortHow how;
    ErrorId error;
  } cases[] = {
      {all_alone, ErrorId::script_bad_refines},
      {odd_skip, ErrorId::script_invalid_refine_arg},
      {field_without_skip, ErrorId::script_bad_refines},
      {field_out_of_record, ErrorId::script_out_of_range},
      {text_comparator, ErrorId::script_invalid_refine_arg},
      {field_with_all, ErrorId::script_bad_refines},
  };
  for (const Case& c : cases) {
    Cell series = B({W("a"), I(1), W("b"), I(2)});
    EXPECT_EQ(catch_error([&] { run_sort(series, c.how); }), c.error);
  }
}

// A stand-in for the evaluator calling func [a b] [a > b] on integers, and
// a record of the blocks it was handed.
Cell greater_than(const Cell&, const Cell& first, const Cell& second) {
  if (first.is(TYPE_BLOCK)) {
    Cell a = first;
    Cell b = second;
    return logic::make(block::rs_abs_at(&a, 1)->int_at2() > block::rs_abs_at(&b, 1)->int_at2());
  }
  return logic::make(first.int_at2() > second.int_at2());
}

TEST_F(Blocks, SortWithAComparisonFunctionGoesThroughTheEvaluatorHook) {
  Cell function = make_cell(TYPE_FUNCTION);
  SortHow with_function;
  with_function.compare = function;
  Cell numbers = B({I(1), I(3), I(2)});
  upcalls::CallComparison installed = upcalls::table.call_comparison;
  ASSERT_NE(installed, nullptr) << "the evaluator installs its caller at start-up";
  upcalls::table.call_comparison = nullptr;
  EXPECT_EQ(catch_error([&] { run_sort(numbers, with_function); }), ErrorId::internal_not_done);
  upcalls::table.call_comparison = greater_than;
  for (bool stable : {false, true}) {
    Cell series = B({I(1), I(3), I(2), I(5), I(4)});
    SortHow how = with_function;
    how.stable = stable;
    run_sort(series, how);
    EXPECT_EQ(mold(series), "[5 4 3 2 1]");
  }
  Cell records = B({W("a"), I(1), W("b"), I(3), W("c"), I(2)});
  SortHow whole_records = with_function;
  whole_records.skip = 2;
  whole_records.all = true;
  run_sort(records, whole_records);
  EXPECT_EQ(mold(records), "[b 3 c 2 a 1]");
  upcalls::table.call_comparison = installed;
}

TEST_F(Blocks, ComparisonFunctionResultsMapToOrder) {
  struct Case {
    Cell result;
    int32_t order;
  } cases[] = {
      {logic_cell(true), 1}, {logic_cell(false), -1}, {I(-7), -7},          {I(0), 0},
      {float_cell(0.5), 1},  {float_cell(-2.0), -1},  {float_cell(0.0), 0}, {float_cell(NAN), 0},
      {none_cell(), -1},     {W("x"), 1},
  };
  for (const Case& c : cases) EXPECT_EQ(block::comparator_result(c.result), c.order) << mold(c.result);
}

// --- swap and trim --------------------------------------------------------------------

TEST_F(Blocks, SwapExchangesTheCellsAtTwoPositions) {
  Cell ab = B({W("a"), W("b")});
  Cell cd = B({W("c"), W("d")});
  {
    ActionFrame frame;
    Cell* first = frame.arg(at(ab, 1));
    Cell* second = frame.arg(cd);
    EXPECT_EQ(handler<Action::swap>(TYPE_BLOCK)(first, second)->data1, 1u);
  }
  EXPECT_EQ(mold(ab), "[a c]");
  EXPECT_EQ(mold(cd), "[b d]");
  {
    ActionFrame frame;
    Cell* first = frame.arg(at(ab, 2));
    Cell* second = frame.arg(cd);
    handler<Action::swap>(TYPE_BLOCK)(first, second);
  }
  EXPECT_EQ(mold(ab), "[a c]");
  EXPECT_EQ(catch_error([&] {
              ActionFrame frame;
              Cell* first = frame.arg(ab);
              Cell* second = frame.arg(S("x"));
              handler<Action::swap>(TYPE_BLOCK)(first, second);
            }),
            ErrorId::script_invalid_arg);
}

TEST_F(Blocks, TrimRemovesNoneValuesButNotTheWordNone) {
  Cell block = B({none_cell(), W("a"), none_cell(), W("none"), none_cell(), W("b"), none_cell()});
  Cell from = at(block, 1);
  handler<Action::trim>(TYPE_BLOCK)(&from, -1, -1, -1, -1, -1, -1);
  EXPECT_EQ(mold(block), "[none a none b]");
  EXPECT_TRUE(block::rs_abs_at(&block, 0)->is(TYPE_NONE));
  EXPECT_TRUE(block::rs_abs_at(&block, 2)->is(TYPE_WORD));
}

// --- Set operations ------------------------------------------------------------------

TEST_F(Blocks, SetOperationsKeepEachRecordOnce) {
  struct Case {
    int32_t op;
    Cell first;
    Cell second;
    bool case_sensitive;
    int32_t skip;
    const char* result;
  } cases[] = {
      {8, B({W("a"), W("b"), W("a")}), B({}), false, 1, "[a b]"},
      {9, B({W("a"), W("b")}), B({W("b"), W("c")}), false, 1, "[a b c]"},
      {10, B({W("a"), W("b")}), B({W("b"), W("c")}), false, 1, "[b]"},
      {11, B({W("a"), W("b")}), B({W("b"), W("c")}), false, 1, "[a]"},
      {12, B({W("a"), W("b")}), B({W("b"), W("c")}), false, 1, "[a c]"},
      {8, B({S("a"), S("A")}), B({}), false, 1, "[\"a\"]"},
      {8, B({S("a"), S("A")}), B({}), true, 1, "[\"a\" \"A\"]"},
      {8, B({W("a"), I(1), W("a"), I(2), W("b"), I(3)}), B({}), false, 2, "[a 1 b 3]"},
      {9, B({W("a"), I(1)}), B({W("a"), I(2), W("b"), I(3)}), false, 2, "[a 1 b 3]"},
      {8, B({B({W("a")}), B({W("a")}), B({W("b")})}), B({}), false, 1, "[[a] [b]]"},
      {10, B({B({W("a")}), I(1)}), B({I(2), B({W("a")})}), false, 1, "[[a]]"},
      {8, at(B({W("a"), W("b"), W("b")}), 1), B({}), false, 1, "[b]"},
      {12, B({I(1), I(1)}), B({I(2), I(2)}), false, 1, "[1 2]"},
  };
  for (Case& c : cases) {
    Cell first = c.first;
    Cell second = c.second;
    Cell* result = block::do_set_op(&first, &second, c.case_sensitive, c.skip, c.op);
    EXPECT_EQ(mold(*result), c.result) << c.op;
    EXPECT_TRUE(result->is(TYPE_BLOCK));
    EXPECT_EQ(result->data3, 0u);
    EXPECT_NE(result->data2, c.first.data2);
  }
  Cell paren = B({I(1), I(1)}, TYPE_PAREN);
  Cell none_second = B({});
  EXPECT_TRUE(block::do_set_op(&paren, &none_second, false, 1, 8)->is(TYPE_PAREN));
  Cell any = B({I(1)});
  EXPECT_EQ(catch_error([&] { block::do_set_op(&any, &none_second, false, 0, 8); }),
            ErrorId::script_invalid_refine_arg);
}

// --- hash! index maintenance ----------------------------------------------------------

// A hash! made directly over a block (hash! registers later; its block
// actions are the ones tested here).
Cell make_hash(std::initializer_list<Cell> values) {
  Cell block = B(values);
  block.set_type(TYPE_HASH);
  block.data3 = hash_table::init(static_cast<uint32_t>(values.size()), &block, hash_table::kHash, 0);
  return block;
}

std::string mold_hash(Cell hash) {
  hash.set_type(TYPE_BLOCK);
  return mold(hash);
}

int32_t hash_find(const Cell& hash, const Cell& value) {
  Cell wanted = value;
  Cell* cell = hash_table::find(hash.data3, &wanted, 0, 1, kCmpFind, false, false);
  return cell ? static_cast<int32_t>(cell - block::buffer_of(&hash)->cells()) : -1;
}

TEST_F(Blocks, BlockActionsKeepAHashIndexInStep) {
  Cell h = make_hash({W("a"), I(1), W("b"), I(2)});
  EXPECT_EQ(found_at(run_find(h, W("b"), {})), 2);

  run_insertion(Action::append, h, B({W("c"), I(3)}), {});
  EXPECT_EQ(hash_find(h, W("c")), 4);
  run_insertion(Action::insert, h, W("z"), {});
  EXPECT_EQ(hash_find(h, W("z")), 0);
  EXPECT_EQ(hash_find(h, W("c")), 5);
  {
    ActionFrame frame;
    Cell* s = frame.arg(h);
    handler<Action::remove>(TYPE_BLOCK)(s, -1, -1);
  }
  EXPECT_EQ(hash_find(h, W("z")), -1);
  EXPECT_EQ(hash_find(h, W("b")), 2);
  Cell q = W("q");
  series::poke_value(&h, 1, &q);
  EXPECT_EQ(hash_find(h, W("q")), 0);
  EXPECT_EQ(hash_find(h, W("a")), -1);
  run_insertion(Action::change, at(h, 2), W("y"), {});
  EXPECT_EQ(hash_find(h, W("y")), 2);
  EXPECT_EQ(hash_find(h, W("b")), -1);
  {
    ActionFrame frame;
    Cell* s = frame.arg(h);
    handler<Action::reverse>(TYPE_BLOCK)(s, -1, -1);
  }
  EXPECT_EQ(mold_hash(h), "[3 c 2 y 1 q]");
  EXPECT_EQ(hash_find(h, W("q")), 5);
  {
    ActionFrame frame;
    Cell* origin = frame.arg(h);
    Cell* target = frame.arg(at(h, 6));
    handler<Action::move>(TYPE_BLOCK)(origin, target, -1);
  }
  EXPECT_EQ(mold_hash(h), "[c 2 y 1 q 3]");
  EXPECT_EQ(hash_find(h, I(3)), 5);
  EXPECT_EQ(hash_find(h, W("c")), 0);
  {
    ActionFrame frame;
    Cell* s = frame.arg(at(h, 4));
    handler<Action::take>(TYPE_BLOCK)(s, -1, -1, -1);
  }
  EXPECT_EQ(hash_find(h, W("q")), -1);
  EXPECT_EQ(hash_find(h, I(3)), 4);
  Cell rest = at(h, 2);
  handler<Action::clear>(TYPE_BLOCK)(&rest);
  EXPECT_EQ(hash_find(h, W("y")), -1);
  EXPECT_EQ(hash_find(h, I(2)), 1);
  EXPECT_EQ(found_at(run_find(h, I(2), {})), 1);
}

// --- Registration ---------------------------------------------------------------------

TEST_F(Blocks, BlockRegistersUnderSeries) {
  EXPECT_TRUE(is_registered(TYPE_BLOCK));
  EXPECT_EQ(reinterpret_cast<void*>(handler<Action::find>(TYPE_BLOCK)), reinterpret_cast<void*>(&block::find));
  EXPECT_EQ(reinterpret_cast<void*>(handler<Action::insert>(TYPE_BLOCK)), reinterpret_cast<void*>(&block::insert));
  EXPECT_EQ(reinterpret_cast<void*>(handler<Action::remove>(TYPE_BLOCK)), reinterpret_cast<void*>(&series::remove));
  EXPECT_EQ(handler<Action::add>(TYPE_BLOCK), nullptr);
  EXPECT_EQ(handler<Action::open>(TYPE_BLOCK), nullptr);
  EXPECT_EQ(handler<Action::set_path>(TYPE_BLOCK), nullptr);
}

}  // namespace
}  // namespace kel
