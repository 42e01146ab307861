// typeset!: construction from blocks and specs, the set operations, find,
// comparison and the text forms.
#include "datatypes/typeset.h"

#include <gtest/gtest.h>

#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/argument_checks.h"
#include "word_helpers.h"

namespace kel {
namespace {

using testing::block_of;
using testing::call_in_frame;
using testing::catch_error;
using testing::cell_at;
using testing::form;
using testing::global_word;
using testing::mold;
using TypesetTest = testing::RuntimeTest;

Cell type(TypeId id) { return datatype::make(id); }

Cell typeset_of(std::initializer_list<TypeId> types) {
  Cell result = typeset::make_value();
  for (TypeId t : types) typeset_add(result, t);
  return result;
}

Cell make_typeset(const Cell& spec) {
  Cell proto = type(TYPE_TYPESET);
  return call_in_frame<Action::make>(
      {proto, spec}, [](auto handler, Cell* frame) { handler(&frame[0], &frame[1], TYPE_TYPESET); },
      TYPE_TYPESET);
}

TEST_F(TypesetTest, MakingFromABlockCollectsItsTypes) {
  struct Case {
    Cell spec;
    const char* mold;
    uint32_t count;
  };
  const Case cases[] = {
      {block_of({}), "make typeset! []", 0},
      {block_of({type(TYPE_INTEGER), type(TYPE_INTEGER)}), "make typeset! [integer!]", 1},
      {block_of({type(TYPE_FLOAT), type(TYPE_INTEGER)}), "make typeset! [integer! float!]", 2},
      {block_of({typeset_of({TYPE_BLOCK, TYPE_PAREN}), type(TYPE_NONE)}), "make typeset! [none! block! paren!]", 3},
  };
  for (const Case& c : cases) {
    Cell result = make_typeset(c.spec);
    ASSERT_TRUE(result.is(TYPE_TYPESET));
    EXPECT_EQ(mold(result), c.mold);
    EXPECT_EQ(typeset::count_bits(result), c.count);
  }
}

TEST_F(TypesetTest, WordsInTheBlockStandForTheirValues) {
  Cell name = global_word("ts-number-type");
  context::set(&name, type(TYPE_INTEGER));
  Cell result = make_typeset(block_of({name}));
  EXPECT_TRUE(typeset_has(result, TYPE_INTEGER));
  EXPECT_EQ(typeset::count_bits(result), 1u);
}

TEST_F(TypesetTest, MakingFromAnythingElseIsRefused) {
  EXPECT_EQ(catch_error([] { make_typeset(integer::make(3)); }), ErrorId::script_bad_to_arg);
  EXPECT_EQ(catch_error([] { make_typeset(block_of({integer::make(3)})); }), ErrorId::script_invalid_arg);
  Cell same = typeset_of({TYPE_STRING});
  EXPECT_EQ(mold(make_typeset(same)), "make typeset! [string!]") << "a typeset makes itself";
}

TEST_F(TypesetTest, MoldOnlyWritesJustTheNames) {
  stack::Guard guard;
  Cell* buffer = string::push_new(16);
  Cell value = typeset_of({TYPE_INTEGER, TYPE_FLOAT});
  int32_t left = typeset::mold_names(value, buffer, true, false, 100);
  EXPECT_EQ(string::to_std_string(*buffer), "integer! float!");
  EXPECT_EQ(left, 100 - 15);
  Cell* empty_buffer = string::push_new(16);
  typeset::mold_names(typeset::make_value(), empty_buffer, true, false, 100);
  EXPECT_EQ(string::to_std_string(*empty_buffer), "");
}

TEST_F(TypesetTest, FormWritesTheConstructionToo) {
  EXPECT_EQ(form(typeset_of({TYPE_CHAR})), "make typeset! [char!]");
}

TEST_F(TypesetTest, APartLimitStopsBeforeTheNextName) {
  stack::Guard guard;
  Cell* buffer = string::push_new(16);
  Cell value = typeset_of({TYPE_NONE, TYPE_LOGIC, TYPE_BLOCK});
  int32_t left = typeset::mold_names(value, buffer, false, true, 20);
  EXPECT_LT(left, 0);
  EXPECT_EQ(string::to_std_string(*buffer), "make typeset! [none! ") << "20 - 15 - 6 is already negative";
}

// Combines two values through the bitwise worker, as the natives do.
Cell combine(const Cell& first, const Cell& second, int32_t op) {
  return call_in_frame<Action::and_t>({first, second}, [op](auto, Cell*) { typeset::do_bitwise(op); });
}

TEST_F(TypesetTest, SetOperationsCombineTheBitmaps) {
  Cell numbers = typeset_of({TYPE_INTEGER, TYPE_FLOAT});
  Cell mixed = typeset_of({TYPE_FLOAT, TYPE_STRING});
  struct Case {
    int32_t op;
    Cell second;
    Cell expected;
  };
  const Case cases[] = {
      {9, mixed, typeset_of({TYPE_INTEGER, TYPE_FLOAT, TYPE_STRING})},   // union
      {5, mixed, typeset_of({TYPE_INTEGER, TYPE_FLOAT, TYPE_STRING})},   // or~
      {10, mixed, typeset_of({TYPE_FLOAT})},                             // intersect
      {6, mixed, typeset_of({TYPE_FLOAT})},                              // and~
      {11, mixed, typeset_of({TYPE_INTEGER})},                           // exclude
      {12, mixed, typeset_of({TYPE_INTEGER, TYPE_STRING})},              // difference
      {7, mixed, typeset_of({TYPE_INTEGER, TYPE_STRING})},               // xor~
      {9, type(TYPE_BLOCK), typeset_of({TYPE_INTEGER, TYPE_FLOAT, TYPE_BLOCK})},  // a datatype is one bit
      {8, integer::make(0), numbers},                                    // unique: the first unchanged
  };
  for (const Case& c : cases) {
    Cell result = combine(numbers, c.second, c.op);
    EXPECT_EQ(mold(result), mold(c.expected)) << "op " << c.op;
  }
  EXPECT_EQ(catch_error([&] { combine(numbers, integer::make(1), 9); }), ErrorId::script_invalid_arg);
}

TEST_F(TypesetTest, TheBitwiseActionsAreRegistered) {
  Cell numbers = typeset_of({TYPE_INTEGER, TYPE_FLOAT});
  Cell result = call_in_frame<Action::or_t>({numbers, type(TYPE_NONE)}, [](auto handler, Cell*) { handler(); });
  EXPECT_EQ(mold(result), "make typeset! [none! integer! float!]");
}

TEST_F(TypesetTest, ComplementOfTheEmptySetFindsEveryType) {
  Cell empty = typeset::make_value();
  Cell all = call_in_frame<Action::complement>({empty}, [](auto handler, Cell* frame) { handler(&frame[0]); });
  for (TypeId t : {TYPE_UNSET, TYPE_INTEGER, TYPE_EVENT}) EXPECT_TRUE(typeset_has(all, t)) << t;
  EXPECT_EQ(all.data1 & 0x80000000u, 0x80000000u) << "bit 0 is inverted too";
}

Cell find_in(const Cell& typeset_value, const Cell& value) {
  return call_in_frame<Action::find>({typeset_value, value}, [](auto handler, Cell* frame) {
    handler(&frame[0], &frame[1], -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  });
}

TEST_F(TypesetTest, FindAnswersWhetherADatatypeIsInTheSet) {
  Cell numbers = typeset_of({TYPE_INTEGER, TYPE_FLOAT});
  EXPECT_EQ(find_in(numbers, type(TYPE_FLOAT)).data1, 1u);
  EXPECT_EQ(find_in(numbers, type(TYPE_STRING)).data1, 0u);
  EXPECT_EQ(catch_error([&] { find_in(numbers, integer::make(1)); }), ErrorId::script_invalid_arg)
      << "a non-datatype raises rather than answering false";
}

TEST_F(TypesetTest, EqualityComparesBitmapsAndSortingCountsTypes) {
  auto compare = action_handler<Action::compare>(TYPE_TYPESET);
  Cell small = typeset_of({TYPE_STRING});
  Cell large = typeset_of({TYPE_INTEGER, TYPE_FLOAT});
  Cell same_as_large = typeset_of({TYPE_FLOAT, TYPE_INTEGER});
  Cell other_pair = typeset_of({TYPE_BLOCK, TYPE_PAREN});
  EXPECT_EQ(compare(&large, &same_as_large, kCmpEqual), 0);
  EXPECT_NE(compare(&large, &other_pair, kCmpStrictEqual), 0);
  EXPECT_LT(compare(&small, &large, kCmpSort), 0) << "fewer types sort first";
  EXPECT_GT(compare(&large, &small, kCmpSort), 0);
  EXPECT_EQ(compare(&large, &other_pair, kCmpSort), 0);
  EXPECT_EQ(compare(&large, &small, kCmpLesser), kNotComparable);
  Cell number = integer::make(1);
  EXPECT_EQ(compare(&large, &number, kCmpEqual), kNotComparable);
}

TEST_F(TypesetTest, ToBlockListsTheTypeNameWordsInIdOrder) {
  Cell target;
  typeset::to_block(typeset_of({TYPE_STRING, TYPE_NONE}), &target);
  ASSERT_TRUE(target.is(TYPE_BLOCK));
  ASSERT_EQ(memory::buffer_of(target.data2)->cell_count(), 2u);
  EXPECT_EQ(mold(cell_at(target, 0)), "none!");
  EXPECT_EQ(mold(cell_at(target, 1)), "string!");
  EXPECT_EQ(cell_at(target, 0).data1, context::global());
}

TEST_F(TypesetTest, SpecsTurnUnknownTypeWordsIntoObjectAndSkipBlocks) {
  Cell alias = global_word("ts-spec-alias");
  context::set(&alias, global_word("ts-spec-class"));
  Cell typed = global_word("ts-spec-typed");
  context::set(&typed, type(TYPE_LOGIC));
  Cell holder = block_of({});
  Cell spec = block_of({alias, typed, block_of({}), typeset_of({TYPE_CHAR})});
  Cell* result = typeset::make_from_block(&holder, &spec);
  EXPECT_EQ(mold(*result), "make typeset! [logic! char! object!]");
  Cell bad = block_of({integer::make(1)});
  EXPECT_EQ(catch_error([&] { typeset::make_from_block(&holder, &bad); }), ErrorId::script_invalid_type_spec);
}

TEST_F(TypesetTest, MakeAllHoldsEveryTypeButUnset) {
  Cell holder = block_of({});
  Cell all = *typeset::make_all(&holder);
  EXPECT_FALSE(typeset_has(all, TYPE_UNSET));
  EXPECT_TRUE(typeset_has(all, TYPE_NONE));
  EXPECT_TRUE(typeset_has(all, TYPE_IMAGE));
}

}  // namespace
}  // namespace kel
