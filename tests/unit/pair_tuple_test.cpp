// pair! and tuple!: construction, text, componentwise and byte arithmetic,
// access by path and pick, comparison.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <tuple>

#include "datatypes/pair.h"
#include "datatypes/tuple.h"
#include "literal_helpers.h"

namespace kel {
namespace {

using namespace literal_testing;

class PairTest : public LiteralTest {};
class TupleTest : public LiteralTest {};

Cell P(int32_t x, int32_t y) { return pair::make(x, y); }

Cell Tp(std::initializer_list<uint8_t> bytes) {
  Cell cell = make_cell(TYPE_UNSET);
  return *tuple::set_bytes(&cell, bytes.begin(), static_cast<uint32_t>(bytes.size()));
}

float point_axis(const Cell& point, int axis) {
  float value;
  std::memcpy(&value, axis == 1 ? &point.data1 : &point.data2, sizeof value);
  return value;
}

// The result cell of an arithmetic action (errors propagate).
Cell raw_math(Action action, const Cell& left, const Cell& right) {
  return call_frame_action(action, {left, right});
}

// --- pair! ------------------------------------------------------------------------------

TEST_F(PairTest, MoldAndFormWriteXAndY) {
  EXPECT_EQ(mold(P(1, 2)), "1x2");
  EXPECT_EQ(form(P(-3, -4)), "-3x-4");
  EXPECT_EQ(mold(P(-1, -1)), "-1x-1");
  EXPECT_EQ(mold(P(2147483647, -2147483647 - 1)), "2147483647x-2147483648");
}

TEST_F(PairTest, MoldLoadsBackThroughTheLexer) {
  for (const Cell& p : {P(1, 2), P(-3, -4), P(0, 0), P(2147483647, -2147483647 - 1)})
    EXPECT_EQ(reloaded(p), typed_mold(p));
}

TEST_F(PairTest, ConversionFromNumbersBlocksAndText) {
  struct Case {
    Cell spec;
    const char* expected;
  } cases[] = {
      {I(3), "pair! 3x3"},
      {F(2.7), "pair! 2x2"},
      {F(-2.7), "pair! -2x-2"},
      {P(4, 5), "pair! 4x5"},
      {Blk({I(1), I(2)}), "pair! 1x2"},
      {Blk({F(1.5), I(-2), I(9)}), "pair! 1x-2"},
      {Blk({I(1)}), "error malconstruct"},
      {Blk({S("a"), I(1)}), "error malconstruct"},
      {S("3x4"), "pair! 3x4"},
      {S("3"), "error bad-to-arg"},
      {None(), "error bad-to-arg"},
      {F(1e20), "error invalid-arg"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(converted<Action::make>(TYPE_PAIR, c.spec), c.expected) << mold(c.spec);
    EXPECT_EQ(converted<Action::to>(TYPE_PAIR, c.spec), c.expected) << mold(c.spec);
  }
}

TEST_F(PairTest, ComponentwiseIntegerArithmetic) {
  struct Case {
    Action action;
    Cell left;
    Cell right;
    const char* expected;
  } cases[] = {
      {Action::add, P(1, 2), P(3, 4), "pair! 4x6"},
      {Action::subtract, P(1, 2), I(5), "pair! -4x-3"},
      {Action::multiply, P(3, 4), P(2, 3), "pair! 6x12"},
      {Action::divide, P(8, 4), I(2), "pair! 4x2"},
      {Action::remainder, P(10, 20), I(3), "pair! 1x2"},
      {Action::remainder, P(-7, 7), I(2), "pair! -1x1"},
      {Action::and_t, P(1, 2), P(3, 1), "pair! 1x0"},
      {Action::or_t, P(1, 2), P(3, 1), "pair! 3x3"},
      {Action::xor_t, P(1, 2), P(3, 1), "pair! 2x3"},
      // A float operand of the other operators is truncated toward zero.
      {Action::add, P(3, 3), F(0.9), "pair! 3x3"},
      {Action::subtract, P(3, 3), F(1.9), "pair! 2x2"},
      {Action::divide, P(5, 5), I(0), "error zero-divide"},
      {Action::add, P(5, 5), S("1"), "error invalid-type"},
      {Action::add, P(5, 5), F(1.0 / 0.0), "error invalid-arg"},
      // A number on the left arrives with the operands swapped.
      {Action::add, I(1), P(2, 3), "pair! 3x4"},
      {Action::subtract, I(10), P(2, 3), "pair! 8x7"},
      {Action::multiply, I(2), P(3, 4), "pair! 6x8"},
  };
  for (const Case& c : cases) EXPECT_EQ(math(c.action, c.left, c.right), c.expected) << mold(c.left) << " " << mold(c.right);
}

TEST_F(PairTest, FloatMultiplierAndDivisorGivePoints) {
  Cell product = raw_math(Action::multiply, P(3, 3), F(0.5));
  ASSERT_TRUE(product.is(TYPE_POINT2D));
  EXPECT_FLOAT_EQ(point_axis(product, 1), 1.5f);
  EXPECT_FLOAT_EQ(point_axis(product, 2), 1.5f);
  Cell quotient = raw_math(Action::divide, P(5, -5), F(0.0));
  ASSERT_TRUE(quotient.is(TYPE_POINT2D));
  EXPECT_TRUE(std::isinf(point_axis(quotient, 1)) && point_axis(quotient, 1) > 0);
  EXPECT_TRUE(std::isinf(point_axis(quotient, 2)) && point_axis(quotient, 2) < 0);
  EXPECT_EQ(math(Action::divide, P(5, 5), F(std::nan(""))), "error invalid-arg");
  EXPECT_EQ(math(Action::multiply, P(5, 5), F(1.0 / 0.0)), "error invalid-arg");
}

TEST_F(PairTest, ResultsThatLeaveTheIntegersNeverWrap) {
  // The operation moves to point2D!; it must never come back as a wrapped
  // pair.
  for (auto [action, left, right] : {std::tuple{Action::add, P(2147483647, 0), P(1, 0)},
                                     std::tuple{Action::divide, P(7, 3), I(2)},
                                     std::tuple{Action::multiply, P(65536, 1), I(65536)}}) {
    std::string result = math(action, left, right);
    EXPECT_EQ(result.rfind("pair!", 0), std::string::npos) << result;
  }
}

TEST_F(PairTest, NegateAbsoluteReverse) {
  stack::Guard guard;
  stack::mark_native(nullptr);
  Cell* p = stack::push(P(-1, 2));
  EXPECT_EQ(mold(*action_handler<Action::negate>(TYPE_PAIR)(p)), "1x-2");
  *p = P(-2147483647 - 1, 5);
  EXPECT_EQ(mold(*action_handler<Action::negate>(TYPE_PAIR)(p)), "-2147483648x-5");
  EXPECT_EQ(mold(*action_handler<Action::reverse>(TYPE_PAIR)(p, -1, -1)), "-5x-2147483648");
  EXPECT_EQ(mold(call_frame_action(Action::absolute, {P(-1, -2)})), "1x2");
  EXPECT_EQ(error_of([] { call_frame_action(Action::absolute, {P(-2147483647 - 1, 0)}); }), "overflow");
}

TEST_F(PairTest, RoundEachAxisAsAnInteger) {
  auto round_to = [](const Cell& pair, const Cell& scale) {
    return outcome([&] {
      stack::Guard guard;
      stack::mark_native(nullptr);
      Cell* value = stack::push(pair);
      Cell* to = stack::push(scale);
      return *action_handler<Action::round>(TYPE_PAIR)(value, static_cast<int>(to - stack::arguments()), -1, -1, -1,
                                                        -1, -1, -1);
    });
  };
  EXPECT_EQ(round_to(P(17, 23), I(10)), "pair! 20x20");
  EXPECT_EQ(round_to(P(17, 23), P(5, 10)), "pair! 15x20");
  EXPECT_EQ(round_to(P(17, 23), make_cell(TYPE_MONEY)), "error not-related");
}

TEST_F(PairTest, ComparisonIsByXThenY) {
  EXPECT_EQ(compare(P(2147483647, 0), P(-1, 0), kCmpLesser), 1);
  EXPECT_EQ(compare(P(1, 2), P(1, 3), kCmpLesser), -1);
  EXPECT_EQ(compare(P(1, 2), P(1, 2), kCmpSame), 0);
  EXPECT_EQ(compare(P(1, 2), I(1), kCmpEqual), kNotComparable);
}

TEST_F(PairTest, PickAndPathReachTheAxes) {
  Cell p = P(7, -8);
  EXPECT_EQ(mold(pick(p, I(1))), "7");
  EXPECT_EQ(mold(pick(p, W("y"))), "-8");
  EXPECT_EQ(mold(pick(p, W("X"))), "7");
  EXPECT_EQ(error_of([&] { pick(p, I(3)); }), "out-of-range");
  EXPECT_EQ(error_of([&] { pick(p, W("z")); }), "cannot-use");
  EXPECT_EQ(mold(path_get(p, W("x"))), "7");
  EXPECT_EQ(mold(path_get(p, I(2))), "-8");
  EXPECT_EQ(error_of([&] { path_get(p, W("z")); }), "invalid-path");
  EXPECT_EQ(error_of([&] { path_get(p, I(0)); }), "invalid-path");
  EXPECT_EQ(mold(path_set(p, W("y"), I(2))), "7x2");
  EXPECT_EQ(mold(path_set(p, I(1), I(-1))), "-1x-8");
  EXPECT_EQ(error_of([&] { path_set(p, W("y"), F(2.5)); }), "invalid-type");
}

// --- tuple! ---------------------------------------------------------------------------

TEST_F(TupleTest, MoldWritesEveryByteOfTheSize) {
  EXPECT_EQ(mold(Tp({1, 2, 3})), "1.2.3");
  EXPECT_EQ(form(Tp({255, 0, 0, 128})), "255.0.0.128");
  EXPECT_EQ(mold(Tp({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12})), "1.2.3.4.5.6.7.8.9.10.11.12");
  EXPECT_EQ(mold(Tp({0, 0})), "0.0.0");  // never fewer than 3 bytes
  EXPECT_EQ(tuple::size_of(Tp({1, 2, 3, 4, 5})), 5u);
}

TEST_F(TupleTest, MoldLoadsBackThroughTheLexer) {
  for (const Cell& t : {Tp({1, 2, 3}), Tp({255, 0, 0, 128}), Tp({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12})})
    EXPECT_EQ(reloaded(t), typed_mold(t));
}

TEST_F(TupleTest, ConstructorsForColours) {
  Cell c = make_cell(TYPE_UNSET);
  tuple::set_rgba(&c, 1, 2, 259, -1);
  EXPECT_EQ(mold(c), "1.2.3");
  EXPECT_EQ(c.data1, 3u << 16 | 2u << 8 | 1u);
  tuple::set_rgba(&c, 1, 2, 3, 255);
  EXPECT_EQ(mold(c), "1.2.3.255");
  int32_t values[] = {10, 300};
  stack::Guard guard;
  EXPECT_EQ(mold(*tuple::from_values(2, values)), "10.44.0");
  EXPECT_TRUE(tuple::zero_q(Tp({0, 0, 0, 0})));
  EXPECT_FALSE(tuple::zero_q(Tp({0, 0, 0, 1})));
}

TEST_F(TupleTest, ConversionFromBlocksIssuesBinariesAndText) {
  std::initializer_list<Cell> thirteen = {I(1), I(1), I(1), I(1), I(1), I(1), I(1),
                                          I(1), I(1), I(1), I(1), I(1), I(1)};
  struct Case {
    Cell spec;
    const char* expected;
  } cases[] = {
      {Blk({I(1), I(2)}), "tuple! 1.2.0"},
      {Blk({I(1), make_cell(TYPE_CHAR, 0, 'a'), F(2.9)}), "tuple! 1.97.2"},
      {Blk({I(256)}), "error bad-to-arg"},
      {Blk({I(-1)}), "error bad-to-arg"},
      {Blk(thirteen), "error bad-to-arg"},
      {Blk({S("1")}), "error bad-to-arg"},
      {W("F0A", TYPE_ISSUE), "tuple! 255.0.170"},
      {W("FF000080", TYPE_ISSUE), "tuple! 255.0.0.128"},
      {W("ff0080", TYPE_ISSUE), "tuple! 255.0.128"},
      {W("FF00", TYPE_ISSUE), "error invalid-data"},
      {W("GG0", TYPE_ISSUE), "error invalid-data"},
      // Hexadecimal digits are ASCII only (U+0130 would read as "0" by
      // its low seven bits).
      {W("\xC4\xB0\xC4\xB0\xC4\xB0", TYPE_ISSUE), "error invalid-data"},
      {B({1}), "tuple! 1.0.0"},
      {B({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}), "tuple! 1.2.3.4.5.6.7.8.9.10.11.12"},
      {B({9, 1, 2, 3}, 1), "tuple! 1.2.3"},
      {S("1.2.3.4"), "tuple! 1.2.3.4"},
      {T(TYPE_FILE, "255.0.0"), "tuple! 255.0.0"},
      {S("not a tuple"), "error bad-to-arg"},
      {S("1x2"), "error bad-to-arg"},
      {None(), "error bad-to-arg"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(converted<Action::to>(TYPE_TUPLE, c.spec), c.expected) << mold(c.spec);
    EXPECT_EQ(converted<Action::make>(TYPE_TUPLE, c.spec), c.expected) << mold(c.spec);
  }
}

TEST_F(TupleTest, ByteArithmeticClamps) {
  struct Case {
    Action action;
    Cell left;
    Cell right;
    const char* expected;
  } cases[] = {
      {Action::add, Tp({200, 100, 50}), I(100), "tuple! 255.200.150"},
      {Action::subtract, Tp({1, 2, 3}), I(5), "tuple! 0.0.0"},
      {Action::add, Tp({1, 2, 3}), Tp({1, 1, 1, 1}), "tuple! 2.3.4.1"},
      {Action::subtract, Tp({10, 10, 10, 10}), Tp({1, 2, 3}), "tuple! 9.8.7.10"},
      {Action::multiply, Tp({10, 20, 30}), F(0.5), "tuple! 5.10.15"},
      {Action::multiply, Tp({10, 20, 30}), F(1.5), "tuple! 15.30.45"},
      {Action::multiply, Tp({200, 0, 1}), I(2147483647), "tuple! 255.0.255"},
      {Action::subtract, Tp({0, 0, 0}), I(2147483647), "tuple! 0.0.0"},
      {Action::divide, Tp({2, 4, 7}), I(2), "tuple! 1.2.3"},
      {Action::remainder, Tp({7, 8, 9}), I(4), "tuple! 3.0.1"},
      {Action::and_t, Tp({255, 15, 3}), I(6), "tuple! 6.6.2"},
      {Action::or_t, Tp({1, 2, 3}), Tp({4, 4, 4}), "tuple! 5.6.7"},
      {Action::xor_t, Tp({1, 2, 3}), I(3), "tuple! 2.1.0"},
      {Action::divide, Tp({1, 2, 3}), I(0), "error zero-divide"},
      {Action::add, Tp({1, 2, 3}), S("1"), "error invalid-type"},
      // A number on the left: add and multiply commute, subtract and
      // divide are refused.
      {Action::add, I(10), Tp({1, 2, 3}), "tuple! 11.12.13"},
      {Action::multiply, I(2), Tp({1, 2, 200}), "tuple! 2.4.255"},
      {Action::subtract, I(10), Tp({1, 2, 3}), "error not-related"},
      {Action::divide, I(10), Tp({1, 2, 3}), "error not-related"},
      {Action::add, F(1.5), Tp({1, 2, 3}), "tuple! 2.3.4"},
      {Action::subtract, F(1.5), Tp({1, 2, 3}), "error not-related"},
  };
  for (const Case& c : cases) EXPECT_EQ(math(c.action, c.left, c.right), c.expected) << mold(c.left) << " " << mold(c.right);
}

TEST_F(TupleTest, ComplementLengthAndPick) {
  stack::Guard guard;
  stack::mark_native(nullptr);
  Cell* t = stack::push(Tp({0, 255, 1}));
  EXPECT_EQ(mold(*action_handler<Action::complement>(TYPE_TUPLE)(t)), "255.0.254");
  EXPECT_EQ(action_handler<Action::length_q>(TYPE_TUPLE)(t), 3);
  EXPECT_EQ(mold(pick(Tp({1, 2, 3}), I(2))), "2");
  EXPECT_EQ(error_of([] { pick(Tp({1, 2, 3}), I(4)); }), "out-of-range");
  EXPECT_EQ(error_of([] { pick(Tp({1, 2, 3}), I(0)); }), "out-of-range");
}

TEST_F(TupleTest, PathReadsAndWritesBytes) {
  Cell t = Tp({1, 2, 3, 4, 5});
  EXPECT_EQ(mold(path_get(t, I(2))), "2");
  EXPECT_EQ(mold(path_set(t, I(2), I(300))), "1.255.3.4.5");
  EXPECT_EQ(mold(path_set(t, I(2), I(-3))), "1.0.3.4.5");
  EXPECT_EQ(mold(path_set(t, I(4), None())), "1.2.3");
  EXPECT_EQ(mold(path_set(Tp({1, 2, 3, 4}), I(2), None())), "1.0.0");
  EXPECT_EQ(error_of([&] { path_get(t, W("x")); }), "invalid-type");
  EXPECT_EQ(error_of([&] { path_get(t, I(6)); }), "out-of-range");
  EXPECT_EQ(error_of([&] { path_set(t, I(2), S("a")); }), "invalid-type");
  EXPECT_EQ(error_of([&] { path_set(t, I(9), I(1)); }), "out-of-range");
}

TEST_F(TupleTest, CuttingWithNoneZeroesTheDroppedBytes) {
  // Bytes past the size stay zero, so equal tuples stay equal bit for bit.
  Cell cut = path_set(Tp({1, 2, 3, 4, 5}), I(4), None());
  Cell made = Tp({1, 2, 3});
  EXPECT_EQ(cut.data1, made.data1);
  EXPECT_EQ(cut.data2, made.data2);
  EXPECT_EQ(cut.header, made.header);
}

TEST_F(TupleTest, ReverseWholeTuplePartsAndGroups) {
  auto reversed = [](const Cell& tuple, std::optional<Cell> part, std::optional<Cell> skip) {
    return outcome([&] {
      stack::Guard guard;
      stack::mark_native(nullptr);
      Cell* t = stack::push(tuple);
      int part_index = part ? static_cast<int>(stack::push(*part) - stack::arguments()) : -1;
      int skip_index = skip ? static_cast<int>(stack::push(*skip) - stack::arguments()) : -1;
      return *action_handler<Action::reverse>(TYPE_TUPLE)(t, part_index, skip_index);
    });
  };
  EXPECT_EQ(reversed(Tp({1, 2, 3, 4}), {}, {}), "tuple! 4.3.2.1");
  EXPECT_EQ(reversed(Tp({1, 2, 3, 4}), {}, I(2)), "tuple! 3.4.1.2");
  EXPECT_EQ(reversed(Tp({1, 2, 3, 4}), I(2), {}), "tuple! 2.1.3.4");
  EXPECT_EQ(reversed(Tp({1, 2, 3, 4}), {}, I(4)), "tuple! 1.2.3.4");
  EXPECT_EQ(reversed(Tp({1, 2, 3, 4}), {}, I(3)), "error invalid-refine-arg");
  EXPECT_EQ(reversed(Tp({1, 2, 3, 4}), {}, I(0)), "error out-of-range");
  EXPECT_EQ(reversed(Tp({1, 2, 3, 4}), I(-1), {}), "error out-of-range");
  EXPECT_EQ(reversed(Tp({1, 2, 3, 4}), F(1.0), {}), "error invalid-refine-arg");
}

TEST_F(TupleTest, ComparisonPadsWithZeros) {
  EXPECT_EQ(compare(Tp({1, 2, 3}), Tp({1, 2, 3, 0}), kCmpEqual), 0);
  EXPECT_EQ(compare(Tp({1, 2, 3}), Tp({1, 2, 4}), kCmpLesser), -1);
  EXPECT_EQ(compare(Tp({1, 2, 3, 1}), Tp({1, 2, 3}), kCmpGreater), 1);
  EXPECT_EQ(compare(Tp({1, 2, 3}), I(1), kCmpEqual), kNotComparable);
}

TEST_F(TupleTest, RandomKeepsEachByteWithinItsValue) {
  for (int i = 0; i < 20; ++i) {
    stack::Guard guard;
    stack::mark_native(nullptr);
    Cell* t = stack::push(Tp({0, 1, 200, 255}));
    Cell drawn = *action_handler<Action::random>(TYPE_TUPLE)(t, -1, -1, -1);
    const uint8_t* bytes = tuple::bytes_of(drawn);
    ASSERT_EQ(bytes[0], 0);
    ASSERT_LE(bytes[1], 1);
    ASSERT_LE(bytes[2], 200);
    ASSERT_EQ(tuple::size_of(drawn), 4u);
  }
}

}  // namespace
}  // namespace kel
