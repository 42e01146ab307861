// integer!: 32-bit arithmetic that overflows into float!, the edge cases of
// the minimum integer, division by zero, power, the bitwise actions,
// rounding with every refinement, texts, conversions and comparison.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>

#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "runtime/random.h"
#include "runtime/number_parsers.h"
#include "numbers_helpers.h"

namespace kel {
namespace {

using namespace numbers_test;
using IntegerTest = testing::RuntimeTest;

constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();

struct MathCase {
  Action action;
  Cell left, right;
  const char* expected;
};

void check(const MathCase* begin, const MathCase* end) {
  for (const MathCase* c = begin; c != end; ++c)
    EXPECT_EQ(math(c->action, c->left, c->right), c->expected)
        << action_word(c->action) << " " << mold(c->left) << " " << mold(c->right);
}

TEST_F(IntegerTest, ArithmeticStaysIntegerUntilTheResultLeavesTheRange) {
  const MathCase cases[] = {
      {Action::add, I(2), I(3), "integer! 5"},
      {Action::add, I(kMax), I(1), "float! 2147483648.0"},
      {Action::add, I(kMin), I(-1), "float! -2147483649.0"},
      {Action::subtract, I(kMin), I(1), "float! -2147483649.0"},
      {Action::subtract, I(0), I(kMin), "float! 2147483648.0"},
      {Action::subtract, I(-1), I(kMax), "integer! -2147483648"},
      {Action::multiply, I(65536), I(65536), "float! 4294967296.0"},
      {Action::multiply, I(kMin), I(-1), "float! 2147483648.0"},
      {Action::multiply, I(-65536), I(32768), "integer! -2147483648"},
      {Action::divide, I(6), I(2), "integer! 3"},
      {Action::divide, I(7), I(2), "float! 3.5"},
      {Action::divide, I(-7), I(2), "float! -3.5"},
      {Action::divide, I(kMin), I(2), "integer! -1073741824"},
      {Action::remainder, I(-7), I(2), "integer! -1"},
      {Action::remainder, I(7), I(-2), "integer! 1"},
      {Action::remainder, I(kMin), I(kMax), "integer! -1"},
  };
  check(std::begin(cases), std::end(cases));
}

TEST_F(IntegerTest, DivisionByZeroAndTheMinimumByMinusOneAreErrors) {
  const MathCase cases[] = {
      {Action::divide, I(1), I(0), "error zero-divide"},
      {Action::divide, I(0), I(0), "error zero-divide"},
      {Action::remainder, I(1), I(0), "error zero-divide"},
      {Action::divide, I(kMin), I(-1), "error overflow"},
      {Action::remainder, I(kMin), I(-1), "error overflow"},
      {Action::divide, I(kMin), I(1), "integer! -2147483648"},
      // A float divisor follows IEEE arithmetic instead.
      {Action::divide, I(1), F(0.0), "float! 1.#INF"},
      {Action::divide, I(-1), F(0.0), "float! -1.#INF"},
  };
  check(std::begin(cases), std::end(cases));
}

TEST_F(IntegerTest, NegateAndAbsoluteRefuseTheMinimum) {
  struct Case {
    Action action;
    int32_t value;
    const char* expected;
  } cases[] = {
      {Action::negate, 5, "integer! -5"},         {Action::negate, kMax, "integer! -2147483647"},
      {Action::negate, kMin, "error overflow"},    {Action::absolute, -5, "integer! 5"},
      {Action::absolute, kMin, "error overflow"},  {Action::absolute, kMin + 1, "integer! 2147483647"},
      {Action::complement, 0, "integer! -1"},      {Action::complement, 5, "integer! -6"},
      {Action::complement, kMin, "integer! 2147483647"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(unary(c.action, I(c.value)), c.expected) << action_word(c.action) << " " << c.value;
}

TEST_F(IntegerTest, BitwiseActions) {
  const MathCase cases[] = {
      {Action::and_t, I(12), I(10), "integer! 8"},  {Action::or_t, I(12), I(10), "integer! 14"},
      {Action::xor_t, I(12), I(10), "integer! 6"},  {Action::and_t, I(-1), I(255), "integer! 255"},
      {Action::or_t, I(kMin), I(1), "integer! -2147483647"},
      {Action::xor_t, I(-1), I(kMax), "integer! -2147483648"},
      {Action::and_t, I(0x61), C('a'), "integer! 97"},
  };
  check(std::begin(cases), std::end(cases));
}

TEST_F(IntegerTest, MixedArithmeticWithTheOtherNumberTypes) {
  const MathCase cases[] = {
      {Action::add, I(1), F(2.5), "float! 3.5"},
      {Action::add, I(1), C('a'), "integer! 98"},
      {Action::subtract, I(1), F(0.25), "float! 0.75"},
      // An integer on the left and a percent on the right gives a float.
      {Action::multiply, I(3), P(0.5), "float! 1.5"},
      {Action::add, I(1), P(0.5), "float! 1.5"},
      {Action::remainder, I(7), F(2.5), "float! 2.0"},
      {Action::add, I(1), S("2"), "error invalid-type"},
      // Operators that have no meaning on floats.
      {Action::and_t, I(1), F(1.0), "error cannot-use"},
      // Operations a compound type cannot take with an integer on the left.
      {Action::divide, I(1), make_cell(TYPE_PAIR), "error not-related"},
      {Action::subtract, I(1), make_cell(TYPE_TUPLE), "error not-related"},
      {Action::multiply, I(1), make_cell(TYPE_DATE), "error not-related"},
  };
  check(std::begin(cases), std::end(cases));
}

TEST_F(IntegerTest, PowerIsExactWhileItFitsAndFloatBeyond) {
  const MathCase cases[] = {
      {Action::power, I(2), I(30), "integer! 1073741824"},
      {Action::power, I(2), I(31), "float! 2147483648.0"},
      {Action::power, I(-2), I(31), "integer! -2147483648"},
      {Action::power, I(-2), I(32), "float! 4294967296.0"},
      {Action::power, I(10), I(10), "float! 10000000000.0"},
      {Action::power, I(3), I(0), "integer! 1"},
      {Action::power, I(0), I(0), "integer! 1"},
      {Action::power, I(1), I(kMax), "integer! 1"},
      {Action::power, I(-1), I(kMax), "integer! -1"},
      {Action::power, I(2), I(-1), "float! 0.5"},
      {Action::power, I(4), F(0.5), "float! 2.0"},
      {Action::power, I(2), S("3"), "error expect-arg"},
  };
  check(std::begin(cases), std::end(cases));
}

TEST_F(IntegerTest, EvenAndOdd) {
  for (int32_t v : {0, 2, -2, kMin, 1 << 30}) {
    EXPECT_EQ(unary(Action::even_q, I(v)), "logic! true") << v;
    EXPECT_EQ(unary(Action::odd_q, I(v)), "logic! false") << v;
  }
  for (int32_t v : {1, -1, kMax, 7}) {
    EXPECT_EQ(unary(Action::even_q, I(v)), "logic! false") << v;
    EXPECT_EQ(unary(Action::odd_q, I(v)), "logic! true") << v;
  }
}

TEST_F(IntegerTest, RoundWithEveryRefinement) {
  struct Case {
    int32_t value;
    const char* refinements;
    Cell scale;
    const char* expected;
  } cases[] = {
      {17, "", I(5), "integer! 15"},
      {18, "", I(5), "integer! 20"},
      {15, "", I(10), "integer! 20"},  // a tie goes away from zero
      {-15, "", I(10), "integer! -20"},
      {15, "even", I(10), "integer! 20"},
      {25, "even", I(10), "integer! 20"},
      {15, "half-down", I(10), "integer! 10"},
      {-15, "half-down", I(10), "integer! -10"},
      {15, "half-ceiling", I(10), "integer! 20"},
      {-15, "half-ceiling", I(10), "integer! -10"},
      {-11, "floor", I(5), "integer! -15"},
      {11, "floor", I(5), "integer! 10"},
      {11, "ceiling", I(5), "integer! 15"},
      {-11, "ceiling", I(5), "integer! -10"},
      {-19, "down", I(5), "integer! -15"},
      {19, "down", I(5), "integer! 15"},
      {17, "", I(-5), "integer! 15"},  // the scale's magnitude counts
      {11, "", I(0), "integer! 11"},
      {20, "", I(5), "integer! 20"},
      // A float scale rounds as a float and gives the scale's type.
      {7, "", F(2.5), "float! 7.5"},
      {7, "", P(0.5), "percent! 700%"},
      {7, "", make_cell(TYPE_MONEY), "error not-related"},
      // Results beyond the range are refused, results inside it are given,
      // whatever the intermediate values.
      {kMax, "", I(10), "error overflow"},
      {kMax, "floor", I(10), "integer! 2147483640"},
      // The minimum is given back unchanged, whatever the scale.
      {kMin, "", I(10), "integer! -2147483648"},
      {kMin, "down", I(10), "integer! -2147483648"},
      {kMin, "", I(1), "integer! -2147483648"},
      {kMin, "", F(2.5), "integer! -2147483648"},
      {5, "", I(kMin), "integer! 0"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(round(I(c.value), c.refinements, &c.scale), c.expected)
        << "round/" << c.refinements << "/to " << c.value << " " << mold(c.scale);
  EXPECT_EQ(round(I(7), ""), "integer! 7");
  EXPECT_EQ(round(I(kMin), "floor"), "integer! -2147483648");
}

TEST_F(IntegerTest, FormAndMoldWriteTheDecimalText) {
  struct Case {
    int32_t value;
    const char* text;
  } cases[] = {{0, "0"}, {-5, "-5"}, {kMax, "2147483647"}, {kMin, "-2147483648"}, {1000000, "1000000"}};
  for (const Case& c : cases) {
    EXPECT_EQ(form(I(c.value)), c.text);
    EXPECT_EQ(mold(I(c.value)), c.text);
    EXPECT_EQ(integer::form_signed(c.value).view(), c.text);
  }
  stack::Guard guard;
  Cell* value = stack::push(I(-123));
  Cell* buffer = string::push_new(8);
  EXPECT_EQ(actions::form(value, buffer, nullptr, 10), 6) << "the part limit less the 4 characters";
}

TEST_F(IntegerTest, ConversionsToInteger) {
  Cell time = float_type::make(90.5, TYPE_TIME);
  struct Case {
    Cell spec;
    const char* expected;
  } cases[] = {
      {F(2.9), "integer! 2"},
      {F(-2.9), "integer! -2"},
      {F(2147483647.9), "integer! 2147483647"},
      {F(-2147483648.9), "integer! -2147483648"},
      {F(3e9), "error type-limit"},
      {F(-2147483649.0), "error type-limit"},
      {F(NAN), "error type-limit"},
      {F(INFINITY), "error type-limit"},
      {P(0.5), "integer! 0"},
      {P(25.0), "integer! 25"},
      {C(0x10FFFF), "integer! 1114111"},
      {time, "integer! 91"},
      {B({1, 2, 3, 4, 0xFF}), "integer! 16909060"},
      {B({1, 2}), "integer! 258"},
      {B({0xFF, 0xFF, 0xFF, 0xFF}), "integer! -1"},
      {B({}), "integer! 0"},
      {S("123"), "integer! 123"},
      {S("+7"), "integer! 7"},
      {S("-2147483648"), "integer! -2147483648"},
      {S("2147483647"), "integer! 2147483647"},
      {S("2147483648"), "error bad-to-arg"},
      {S("1'000"), "integer! 1000"},
      {S("12a"), "error bad-to-arg"},
      {S(""), "error bad-to-arg"},
      {S("-"), "error bad-to-arg"},
      {S(" 1"), "error bad-to-arg"},
      {make_cell(TYPE_NONE), "error bad-to-arg"},
  };
  for (const Case& c : cases) EXPECT_EQ(convert<Action::to>(TYPE_INTEGER, c.spec), c.expected) << mold(c.spec);

  EXPECT_EQ(convert<Action::make>(TYPE_INTEGER, make_cell(TYPE_LOGIC, 1)), "integer! 1");
  EXPECT_EQ(convert<Action::make>(TYPE_INTEGER, make_cell(TYPE_LOGIC, 0)), "integer! 0");
  EXPECT_EQ(convert<Action::to>(TYPE_INTEGER, make_cell(TYPE_LOGIC, 1)), "error bad-to-arg");
}

TEST_F(IntegerTest, ToIntegerReadsTheTextFromTheIndexInAnyUnit) {
  Cell text = S("x42");
  text.data1 = 1;
  EXPECT_EQ(convert<Action::to>(TYPE_INTEGER, text), "integer! 42");
  Cell wide = S("-17\u20AC");  // a 2-byte unit string; the euro sign is no digit
  EXPECT_EQ(convert<Action::to>(TYPE_INTEGER, wide), "error bad-to-arg");
  wide = S("\u20AC-17");
  wide.data1 = 1;
  EXPECT_EQ(convert<Action::to>(TYPE_INTEGER, wide), "integer! -17");
}

TEST_F(IntegerTest, ToIntegerOfAnIssueReadsHexadecimalDigits) {
  struct Case {
    const char* name;
    const char* expected;
  } cases[] = {{"FF", "integer! 255"},       {"ff", "integer! 255"},
               {"FFFFFFFF", "integer! -1"},  {"7fffffff", "integer! 2147483647"},
               {"123456789", "error invalid-data"}, {"FG", "error invalid-data"}};
  for (const Case& c : cases) {
    Cell issue = make_cell(TYPE_ISSUE, 0, symbol::make(c.name), 0xFFFFFFFFu);
    EXPECT_EQ(convert<Action::to>(TYPE_INTEGER, issue), c.expected) << c.name;
  }
}

TEST_F(IntegerTest, IntegerTextScanner) {
  struct Case {
    const char* text;
    int32_t value;
    int32_t error;
  } cases[] = {
      {"2147483647", kMax, 0},
      {"2147483648", 0, number_text::kNumberOverflow},
      {"-2147483648", kMin, 0},
      {"-2'147'483'648", kMin, 0},
      {"-21474836480", 0, number_text::kNumberOverflow},
      {"99999999999999999999", 0, number_text::kNumberOverflow},
      {"1'000", 1000, 0},
      {"12a", 12, number_text::kBadNumberText},
      {"-12a", -12, number_text::kBadNumberText},
      {"", 0, number_text::kBadNumberText},
      {"+", 0, number_text::kBadNumberText},
  };
  for (const Case& c : cases) {
    int32_t error = 0;
    auto bytes = reinterpret_cast<const uint8_t*>(c.text);
    int32_t value = number_text::scan_integer_text(bytes, static_cast<uint32_t>(std::strlen(c.text)), 1, &error);
    EXPECT_EQ(value, c.value) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
}

TEST_F(IntegerTest, Comparison) {
  struct Case {
    Cell a, b;
    int32_t op;
    const char* expected;
  } cases[] = {
      {I(1), I(1), kCmpEqual, "true"},
      {I(1), F(1.0), kCmpEqual, "true"},
      {I(1), F(1.0), kCmpStrictEqual, "false"},
      {I(1), F(1.0), kCmpSame, "false"},
      {I(1), I(1), kCmpStrictEqual, "true"},
      {I(97), C('a'), kCmpEqual, "true"},
      {I(97), C('a'), kCmpStrictEqual, "false"},
      {I(1), I(2), kCmpLesser, "true"},
      {I(kMin), I(kMax), kCmpLesser, "true"},
      {I(2), F(1.5), kCmpGreater, "true"},
      {I(1), P(0.01), kCmpGreater, "true"},
      {I(1), F(NAN), kCmpEqual, "false"},
      {I(1), F(NAN), kCmpLesser, "false"},
      {I(1), F(NAN), kCmpGreaterOrEqual, "false"},
      {I(1), S("1"), kCmpEqual, "false"},
      {I(1), S("1"), kCmpLesser, "error invalid-compare"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(relation(c.a, c.b, c.op), c.expected) << mold(c.a) << " op " << c.op << " " << mold(c.b);
}

TEST_F(IntegerTest, RandomDrawsFromOneToTheBoundAndSeedsTheGenerator) {
  auto draw = [](int32_t bound, int seed = -1) {
    stack::Guard guard;
    stack::mark_native(nullptr);
    Cell* value = stack::push(I(bound));
    return *actions::handler_for<Action::random>(*value)(value, seed, -1, -1);
  };
  std::set<int32_t> seen;
  for (int i = 0; i < 2000; ++i) {
    Cell r = draw(6);
    ASSERT_TRUE(r.is(TYPE_INTEGER));
    ASSERT_GE(integer::get(r), 1);
    ASSERT_LE(integer::get(r), 6);
    seen.insert(integer::get(r));
  }
  EXPECT_EQ(seen.size(), 6u);
  EXPECT_EQ(integer::get(draw(0)), 0);
  int32_t negative = integer::get(draw(-3));
  EXPECT_TRUE(negative >= -3 && negative <= -1) << negative;

  EXPECT_TRUE(draw(42, 0).is(TYPE_UNSET)) << "random/seed answers unset";
  int32_t first = integer::get(draw(1000000));
  draw(42, 0);
  EXPECT_EQ(integer::get(draw(1000000)), first) << "the same seed gives the same draws";
}

}  // namespace
}  // namespace kel
