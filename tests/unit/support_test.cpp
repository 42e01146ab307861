// Support routines: cell and series helpers, argument checks, conversions,
// the cycle stack, growable arrays and the slot pool.
#include "runtime/series_tail.h"
#include "datatypes/argument_checks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "runtime/array.h"
#include "runtime/cycles.h"
#include "runtime/slot_pool.h"
#include "test_support.h"

namespace kel {
namespace {

using testing::catch_error;
using Support = testing::RuntimeTest;

using testing::float_cell;

TEST_F(Support, CopyCellOntoItselfChangesNothing) {
  Cell c = integer::make(42);
  c.set_new_line(true);
  EXPECT_EQ(copy_cell(&c, &c), &c);
  EXPECT_EQ(c.int_at2(), 42);
  EXPECT_TRUE(c.new_line());
  c.set_type(TYPE_CHAR);
  EXPECT_TRUE(c.new_line()) << "set_type keeps the flags";
  clear_new_line(&c);
  EXPECT_FALSE(c.new_line());
}

TEST_F(Support, NumberToInteger) {
  EXPECT_EQ(number_to_integer(float_cell(2147483647.0)), 2147483647);
  EXPECT_EQ(number_to_integer(float_cell(-2.9)), -2);
  EXPECT_EQ(number_to_integer(float_cell(-2147483648.0)), INT32_MIN);
  EXPECT_EQ(number_to_integer(integer::make(-7)), -7);
  for (double bad : {2147483647.5, -2147483649.0, double(NAN), double(INFINITY)}) {
    EXPECT_EQ(catch_error([&] { number_to_integer(float_cell(bad)); }), ErrorId::script_out_of_range)
        << bad;
  }
}

TEST_F(Support, AllocTailUnitGrowsToTwiceTheRequestOrTheCapacity) {
  NodeId node = memory::alloc_bytes(16);
  SeriesBuffer* b = memory::buffer_of(node);
  b->tail = 16;
  alloc_tail_unit(&b, 100);
  EXPECT_EQ(b->size, 208u) << "200 bytes, rounded up to 16";
  EXPECT_EQ(b->used(), 116u);
  alloc_tail_unit(&b, 100);
  EXPECT_EQ(b->size, 416u) << "twice the capacity";
  EXPECT_EQ(memory::buffer_of(node), b);
}

TEST_F(Support, AllocTailAppendsUnsetCells) {
  NodeId node = memory::alloc_cells(1);
  SeriesBuffer* b = memory::buffer_of(node);
  for (int i = 0; i < 5; ++i) *alloc_tail(&b) = integer::make(i);
  EXPECT_EQ(b->cell_count(), 5u);
  EXPECT_EQ(b->cells()[4].int_at2(), 4);
}

TEST_F(Support, FillPatternReplicates) {
  uint8_t buffer[10] = {'a', 'b'};
  fill_pattern(buffer, 2, 5);
  EXPECT_EQ(std::memcmp(buffer, "ababababab", 10), 0);
  uint8_t odd[9] = {'x', 'y', 'z'};
  fill_pattern(odd, 3, 3);
  EXPECT_EQ(std::memcmp(odd, "xyzxyzxyz", 9), 0);
}

TEST_F(Support, MoldIndentAddsFourSpacesPerLevel) {
  stack::Guard guard;
  Cell* s = string::push_new(4);
  mold_indent(s, 2);
  EXPECT_EQ(string::to_std_string(*s), "        ");
}

TEST_F(Support, CheckArgTypeRaisesExpectArgNamingTheType) {
  Cell typeset = make_cell(TYPE_TYPESET);
  typeset_add(typeset, TYPE_STRING);
  EXPECT_TRUE(typeset_has(typeset, TYPE_STRING));
  EXPECT_FALSE(typeset_has(typeset, TYPE_INTEGER));
  Cell number = integer::make(3);
  EXPECT_EQ(catch_error([&] { check_arg_type(typeset, 0, &number); }), ErrorId::script_expect_arg);
  EXPECT_EQ(error_value::argument(testing::last_error(), 2).data1, TYPE_INTEGER);
  Cell text;
  {
    stack::Guard guard;
    text = *string::push_new(1);
  }
  EXPECT_EQ(check_arg_type(typeset, 0, &text), &text);
  EXPECT_EQ(catch_error([] { check_arg_not_unset(0, &none::value); }), std::nullopt);
  Cell unset = make_cell(TYPE_UNSET);
  EXPECT_EQ(catch_error([&] { check_arg_not_unset(0, &unset); }), ErrorId::script_expect_arg);
}

TEST_F(Support, TypesetBitsFollowTheBitmapLayout) {
  Cell typeset = make_cell(TYPE_TYPESET);
  typeset_add(typeset, 1);
  EXPECT_EQ(typeset.data1 & 0xFF, 0x40u) << "type t sits in byte t >> 3 under 0x80 >> (t & 7)";
  typeset_add(typeset, TYPE_EVENT);
  EXPECT_TRUE(typeset_has(typeset, TYPE_EVENT));
}

TEST_F(Support, CycleStackFindsAndPops) {
  cycles::reset();
  cycles::push(11);
  cycles::push(12);
  EXPECT_TRUE(cycles::find(11));
  cycles::pop();
  EXPECT_FALSE(cycles::find(12));
  cycles::pop();
  cycles::pop();
  EXPECT_EQ(cycles::size(), 0u) << "popping an empty stack leaves it empty";
}

TEST_F(Support, CycleStackRefusesTheThousandthEntry) {
  cycles::reset();
  for (uint32_t i = 1; i < cycles::kCapacity; ++i) cycles::push(i);
  EXPECT_EQ(catch_error([] { cycles::push(5000); }), ErrorId::internal_too_deep);
  EXPECT_EQ(cycles::size(), 0u);
}

TEST_F(Support, CycleEntryIsPoppedWhenAnErrorEscapes) {
  cycles::reset();
  EXPECT_EQ(catch_error([] {
              cycles::Entry outer(21);
              cycles::Entry inner(22);
              fire(ErrorId::script_past_end);
            }),
            ErrorId::script_past_end);
  EXPECT_EQ(cycles::size(), 0u) << "no stale entry makes an innocent block print as [...]";
}

TEST_F(Support, EllipsisTexts) {
  struct Case {
    TypeId type;
    const char* molded;
  } cases[] = {{TYPE_BLOCK, "[...]"}, {TYPE_HASH, "[...]"},  {TYPE_PAREN, "(...)"},
               {TYPE_MAP, "#[...]"},  {TYPE_OBJECT, "make object! [...]"}, {TYPE_PATH, "..."}};
  for (const Case& c : cases) {
    EXPECT_STREQ(cycles::ellipsis(make_cell(c.type), true), c.molded);
    EXPECT_STREQ(cycles::ellipsis(make_cell(c.type), false), "...");
  }
  stack::Guard guard;
  Cell* out = string::push_new(8);
  Cell block = make_cell(TYPE_BLOCK, 0, 77);
  int32_t remaining = 10;
  cycles::reset();
  EXPECT_FALSE(cycles::detect(block, out, &remaining, true));
  cycles::Entry entry(77);
  EXPECT_TRUE(cycles::detect(block, out, &remaining, true));
  EXPECT_EQ(remaining, 5);
  EXPECT_EQ(string::to_std_string(*out), "[...]");
}

TEST_F(Support, ArraysOfIntegers) {
  NodeId a = array::make(1, 4);
  for (int32_t v : {10, 20, 30, 40, 50}) array::append_int(a, v);
  EXPECT_EQ(array::length(a), 5u);
  EXPECT_EQ(array::pick_int(a, 1), 10);
  EXPECT_EQ(array::find_int(a, 30), 8);
  EXPECT_EQ(array::find_int(a, 99), -1);
  array::poke_int(a, 2, 21);
  EXPECT_EQ(array::pick_int(a, 2), 21);
  array::set_length(a, 3);
  EXPECT_EQ(array::length(a), 3u);
  int32_t seven = 7;
  array::insert_at(a, &seven, 0);
  EXPECT_EQ(array::pick_int(a, 1), 7);
  EXPECT_EQ(array::pick_int(a, 4), 30);
  array::clear(a);
  EXPECT_EQ(array::length(a), 0u);
}

TEST_F(Support, ArraysOfPointers) {
  NodeId a = array::make(1, 8);
  int x, y, z;
  array::append_ptr(a, &x);
  array::append_ptr(a, &y);
  array::remove_ptr(a, &z);
  EXPECT_EQ(array::length(a), 2u) << "removing an absent pointer changes nothing";
  array::remove_ptr(a, &x);
  EXPECT_EQ(array::length(a), 1u);
  EXPECT_EQ(array::pick_ptr(a, 1), &y);
  EXPECT_EQ(array::find_ptr(a, &y), 0);
}

TEST_F(Support, ArraysOfBytes) {
  NodeId a = array::make(2, 1);
  const uint8_t bytes[] = {1, 2, 3};
  array::append_bytes(a, bytes, 3);
  array::append_byte(a, 4);
  EXPECT_EQ(array::length(a), 4u);
  EXPECT_EQ(array::pick_byte(a, 4), 4);
  NodeId c = array::copy(a);
  EXPECT_EQ(array::length(c), 4u);
  EXPECT_EQ(array::pick_byte(c, 3), 3);
}

TEST_F(Support, SlotPoolDoublesAndReusesIndexes) {
  uint32_t capacity = slot_pool::capacity();
  uint32_t first = slot_pool::alloc(integer::make(1));
  slot_pool::free(first);
  EXPECT_EQ(slot_pool::alloc(integer::make(2)), first) << "a freed index comes back first";
  std::vector<uint32_t> taken{first};
  while (slot_pool::capacity() == capacity) taken.push_back(slot_pool::alloc(integer::make(9)));
  EXPECT_EQ(slot_pool::capacity(), capacity * 2);
  EXPECT_EQ(slot_pool::get(first)->int_at2(), 2) << "values survive the growth";
  slot_pool::free(0);
  for (uint32_t i : taken) slot_pool::free(i);
}

}  // namespace
}  // namespace kel
