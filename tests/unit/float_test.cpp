// float! and percent!: float text both ways (the round trip of mold, the
// g-style form and its pretty? option, the special values), the text-to-
// number parsers, tolerant comparison, IEEE arithmetic, rounding with every
// refinement and the conversions.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "runtime/number_parsers.h"
#include "numbers_helpers.h"
#include "runtime/float_text.h"

namespace kel {
namespace {

using namespace numbers_test;
using FloatTest = testing::RuntimeTest;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

uint64_t bits_of(double d) {
  uint64_t b;
  std::memcpy(&b, &d, sizeof b);
  return b;
}

double read(std::string_view text, int32_t adjustment = 0, int32_t* remainder_out = nullptr) {
  int32_t remainder = -1;
  double value = float_type::parse(text.data(), text.data() + text.size(), adjustment, &remainder);
  if (remainder_out != nullptr) *remainder_out = remainder;
  return value;
}

// Turns the pretty? option on for one scope.
struct PrettyOn {
  PrettyOn() { float_type::set_pretty(true); }
  ~PrettyOn() { float_type::set_pretty(false); }
};

// A block! over the values (the block datatype is not needed to hold them).
Cell block_of(std::initializer_list<Cell> values) {
  NodeId node = memory::alloc_cells(static_cast<uint32_t>(values.size()) + 1);
  SeriesBuffer* buffer = memory::buffer_of(node);
  Cell* cells = buffer->cells();
  for (const Cell& v : values) *cells++ = v;
  buffer->tail = buffer->offset + static_cast<uint32_t>(values.size() * sizeof(Cell));
  return make_cell(TYPE_BLOCK, 0, node, 0);
}

TEST_F(FloatTest, MoldWritesTheShortestTextThatReadsBack) {
  struct Case {
    double value;
    const char* text;
  } cases[] = {
      {0.1, "0.1"},
      {1.0, "1.0"},
      {100.0, "100.0"},
      {-1.5, "-1.5"},
      {123.456, "123.456"},
      {1e16, "10000000000000000.0"},
      {1e17, "1.0e17"},
      {1.5e300, "1.5e300"},
      {0.000001, "0.000001"},
      {1e-7, "0.0000001"},
      {1e-8, "1.0e-8"},
      {0.1 + 0.2, "0.30000000000000004"},
      {9007199254740993.0, "9007199254740992.0"},
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {DBL_MAX, "1.7976931348623157e308"},
      {std::numeric_limits<double>::denorm_min(), "5.0e-324"},
      {kInf, "1.#INF"},
      {-kInf, "-1.#INF"},
      {kNaN, "1.#NaN"},
      {-kNaN, "1.#NaN"},
  };
  for (const Case& c : cases) EXPECT_EQ(mold(F(c.value)), c.text) << c.text;
}

TEST_F(FloatTest, FormBufferHonoursDigitCountAndKeepZero) {
  EXPECT_EQ(float_type::form_buffer(-0.0, 0, false).view(), "-0");
  EXPECT_EQ(float_type::form_buffer(1e17, 0, false).view(), "1e17");
  EXPECT_EQ(float_type::form_buffer(1.0, 0, false).view(), "1");
  EXPECT_EQ(float_type::form_buffer(2.0 / 3.0, 6, false).view(), "0.666667");
  EXPECT_EQ(float_type::form_buffer(0.1, 22, true).view(), "0.1000000000000000055511");
  EXPECT_EQ(float_type::form_buffer(999999.5, 6, true).view(), "1000000.0") << "a carry into a new digit";
  float_type::Digits digits = float_type::to_digits(123.456, 2, false);
  EXPECT_EQ(digits.view(), "12");
  EXPECT_EQ(digits.position, 3);
  digits = float_type::to_digits(-0.00125, 0, false);
  EXPECT_EQ(digits.view(), "125");
  EXPECT_EQ(digits.position, -2);
  EXPECT_TRUE(digits.negative);
}

TEST_F(FloatTest, AMillionRandomDoublesRoundTripExactly) {
  std::mt19937_64 generator(20240611);
  int checked = 0;
  for (int i = 0; i < 1000000; ++i) {
    uint64_t bits = generator();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    if (std::isnan(value)) continue;
    float_type::FloatText text = float_type::form_buffer(value, 0, true);
    int32_t remainder = -1;
    double back = read(text.view(), 0, &remainder);
    ASSERT_EQ(bits_of(back), bits) << text.c_str();
    ASSERT_EQ(remainder, 0) << text.c_str();
    ++checked;
  }
  EXPECT_GT(checked, 990000);
}

TEST_F(FloatTest, PercentMoldRoundTripsThroughTheTwoPlaceShift) {
  std::mt19937_64 generator(7);
  std::uniform_real_distribution<double> fractions(-10.0, 10.0);
  for (int i = 0; i < 100000; ++i) {
    double value = i % 2 ? fractions(generator) : std::ldexp(fractions(generator), i % 200 - 100);
    float_type::FloatText text = percent::mold_text(value);
    ASSERT_EQ(text.text[text.length - 1], '%') << text.c_str();
    ASSERT_EQ(bits_of(read(std::string_view(text.text, text.length - 1), -2)), bits_of(value)) << text.c_str();
  }
}

TEST_F(FloatTest, FormUsesRoundedDigitsAndThePrettyOption) {
  struct Case {
    double value;
    const char* plain;
    const char* pretty;
  } cases[] = {
      {3.0, "3.0", "3.0"},
      {0.1, "0.1", "0.1"},
      {1e20, "1.0e20", "1.0e20"},
      {1.5e-5, "1.5e-5", "1.5e-5"},
      {1e16, "1.0e16", "1.0e16"},
      {0.1 + 0.2, "0.3", "0.3"},
      {0.1 + 0.7, "0.7999999999999999", "0.8"},
      {-(0.1 + 0.7), "-0.7999999999999999", "-0.8"},
      {1.0 / 3.0, "0.3333333333333333", "0.3333333333333333"},
      {0.0, "0.0", "0.0"},
      {-0.0, "-0.0", "0.0"},
      {1e-20, "9.999999999999999e-21", "0.0"},
      {1e-10, "1.0e-10", "1.0e-10"},
      {kInf, "1.#INF", "1.#INF"},
      {-kInf, "-1.#INF", "-1.#INF"},
      {kNaN, "1.#NaN", "1.#NaN"},
  };
  float_type::set_pretty(false);  // the booted runtime forms prettily
  for (const Case& c : cases) EXPECT_EQ(form(F(c.value)), c.plain) << c.plain;
  PrettyOn pretty;
  for (const Case& c : cases) EXPECT_EQ(form(F(c.value)), c.pretty) << c.pretty;
}

TEST_F(FloatTest, DivisionByZeroFormsAsTheSpecialTexts) {
  EXPECT_EQ(form(call_math(Action::divide, F(1.0), F(0.0))), "1.#INF");
  EXPECT_EQ(form(call_math(Action::divide, F(-1.0), F(0.0))), "-1.#INF");
  EXPECT_EQ(form(call_math(Action::divide, F(0.0), F(0.0))), "1.#NaN");
}

TEST_F(FloatTest, TextKindsOfOtherDatatypes) {
  using float_type::form_float;
  EXPECT_EQ(form_float(90.5, float_type::kFormTime).view(), "90.5");
  EXPECT_EQ(form_float(1.0 / 3.0, float_type::kFormTime).view(), "0.333333");
  EXPECT_EQ(form_float(static_cast<float>(0.1), float_type::kFormPoint).view(), "0.1");
  EXPECT_EQ(form_float(3.0, float_type::kFormPoint).view(), "3");
  EXPECT_EQ(form_float(3.0, float_type::kFormFloat32).view(), "3.0");
  EXPECT_EQ(form_float(25.0, float_type::kFormPercent32).view(), "25%");
}

TEST_F(FloatTest, PercentFormAndMold) {
  float_type::set_pretty(false);  // the plain forms; the booted runtime forms prettily
  struct Case {
    double fraction;
    const char* form;
    const char* mold;
  } cases[] = {
      {0.5, "50%", "50%"},
      {0.25, "25%", "25%"},
      {0.125, "12.5%", "12.5%"},
      {1.0 / 3.0, "33.33333333333%", "33.33333333333333%"},
      {0.1 + 0.2, "30%", "30.000000000000004%"},
      {0.0, "0%", "0%"},
      {-0.0, "-0%", "-0%"},
      {1e20, "1e22%", "1e22%"},
      {kInf, "1.#INF", "1.#INF"},
      {kNaN, "1.#NaN", "1.#NaN"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(form(P(c.fraction)), c.form) << c.mold;
    EXPECT_EQ(mold(P(c.fraction)), c.mold) << c.mold;
  }
}

TEST_F(FloatTest, ParseReadsNumbersAndTheSpecialForms) {
  struct Case {
    const char* text;
    double value;
    int32_t remainder;
  } cases[] = {
      {"0.1", 0.1, 0},
      {"1e23", 1e23, 0},
      {"2.2250738585072011e-308", 2.2250738585072011e-308, 0},
      {"4.9e-324", std::numeric_limits<double>::denorm_min(), 0},
      {"2.4703282292062327e-324", 0.0, 0},  // below half the smallest subnormal
      {"0.30000000000000004", 0.1 + 0.2, 0},
      {"+5", 5.0, 0},
      {"-0", -0.0, 0},
      {"-0.0", -0.0, 0},
      {"000012.5", 12.5, 0},
      {"1.", 1.0, 0},
      {".5", 0.5, 0},
      {"1E3", 1000.0, 0},
      {"1e309", kInf, 0},
      {"-1e309", -kInf, 0},
      {"1e-400", 0.0, 0},
      {"-1e-400", -0.0, 0},
      {"1e99999999999999999999", kInf, 0},
      {"1.5x", 1.5, 1},
      {"1e", 1.0, 1},
      {"1e+", 1.0, 2},
      {"1.#INF", kInf, 0},
      {"-1.#INF", -kInf, 0},
      {"1.#inf", kInf, 0},
      {"1.#NaN", kNaN, 0},
      {"0001.#NaN", kNaN, 0},
      {"12.#INF", 12.0, 4},
      {"abc", 0.0, 3},
  };
  for (const Case& c : cases) {
    int32_t remainder = -1;
    double value = read(c.text, 0, &remainder);
    if (std::isnan(c.value)) {
      EXPECT_TRUE(std::isnan(value)) << c.text;
      EXPECT_EQ(bits_of(value), 0x7FF8000000000000u) << "a positive quiet NaN: " << c.text;
    } else {
      EXPECT_EQ(bits_of(value), bits_of(c.value)) << c.text;
    }
    EXPECT_EQ(remainder, c.remainder) << c.text;
  }
  EXPECT_EQ(read("5", -2), 0.05);
  EXPECT_EQ(read("1e5", -2), 1000.0);
  EXPECT_EQ(read("30.000000000000004", -2), 0.1 + 0.2);
}

TEST_F(FloatTest, LongTextsAreConvertedWhole) {
  // 1 + 2^-53 exactly: halfway between 1.0 and the next double, a tie that
  // goes to the even neighbour, 1.0. Any non-zero digit far beyond breaks
  // the tie upward, so a reader that cut the text would get it wrong.
  std::string halfway = "1.00000000000000011102230246251565404236316680908203125";
  EXPECT_EQ(read(halfway), 1.0);
  std::string above = halfway + std::string(1000, '0') + "1";
  EXPECT_EQ(read(above), std::nextafter(1.0, 2.0));
  EXPECT_EQ(read("1" + std::string(400, '0')), kInf);
  EXPECT_EQ(read("0." + std::string(400, '0') + "1"), 0.0);
  EXPECT_EQ(read("0." + std::string(400, '0') + "1", 401 + 1), 10.0) << "adjustment on a long text";
}

TEST_F(FloatTest, FloatTextScannerAndSyntaxCheck) {
  struct Case {
    std::string text;
    bool ok;
    double value;
  } cases[] = {
      {"1,5", true, 1.5},
      {"1.", true, 1.0},
      {".5", true, 0.5},
      {"-2.5e3", true, -2500.0},
      {"1'000.5", true, 1000.5},
      {"1'000'000", true, 1e6},
      {"1e", false, 0},
      {"e5", false, 0},
      {"1.e5", false, 0},
      {"1.5e+", false, 0},
      {"", false, 0},
      {".", false, 0},
      {"--1", false, 0},
      {"1.#INF", false, 0},
      {"1 ", false, 0},
      {"0." + std::string(309, '0') + "1", true, 1e-310},
      {"0." + std::string(310, '0') + "1", false, 0},  // 313 characters
  };
  for (const Case& c : cases) {
    int32_t error = 0;
    auto bytes = reinterpret_cast<const uint8_t*>(c.text.data());
    double value = number_text::scan_float_text(bytes, static_cast<uint32_t>(c.text.size()), 1, &error);
    if (c.ok) {
      EXPECT_EQ(error, 0) << c.text;
      EXPECT_EQ(value, c.value) << c.text;
    } else {
      EXPECT_EQ(error, number_text::kBadNumberText) << c.text;
      EXPECT_TRUE(std::isnan(value)) << c.text;
    }
  }
  // Wide units: the same text in 4-byte units.
  const uint32_t wide[] = {'-', '1', ',', '2', '5'};
  int32_t error = 0;
  EXPECT_EQ(number_text::scan_float_text(reinterpret_cast<const uint8_t*>(wide), 5, 4, &error), -1.25);
  EXPECT_EQ(error, 0);
}

TEST_F(FloatTest, EqualityIsTolerantAndStrictEqualityExact) {
  double one = 1.0;
  double ten_ulps = one, eleven_ulps;
  for (int i = 0; i < 10; ++i) ten_ulps = std::nextafter(ten_ulps, 2.0);
  eleven_ulps = std::nextafter(ten_ulps, 2.0);
  struct Case {
    Cell a, b;
    int32_t op;
    const char* expected;
  } cases[] = {
      {F(0.1 + 0.2), F(0.3), kCmpEqual, "true"},
      {F(0.1 + 0.2), F(0.3), kCmpNotEqual, "false"},
      {F(0.1 + 0.2), F(0.3), kCmpStrictEqual, "false"},
      {F(0.1 + 0.2), F(0.3), kCmpLesser, "false"},
      {F(0.1 + 0.2), F(0.3), kCmpGreater, "true"},
      {F(one), F(ten_ulps), kCmpEqual, "true"},
      {F(one), F(eleven_ulps), kCmpEqual, "false"},
      {F(-one), F(-ten_ulps), kCmpEqual, "true"},
      {F(1e-17), F(0.0), kCmpEqual, "true"},
      {F(1e-17), F(-1e-17), kCmpEqual, "true"},
      {F(0.0), F(-0.0), kCmpEqual, "true"},
      {F(0.0), F(-0.0), kCmpStrictEqual, "true"},
      {F(0.0), F(-0.0), kCmpSame, "false"},
      {F(kInf), F(kInf), kCmpEqual, "true"},
      {F(kInf), F(DBL_MAX), kCmpEqual, "false"},
      {F(kNaN), F(kNaN), kCmpEqual, "false"},
      {F(kNaN), F(kNaN), kCmpNotEqual, "true"},
      {F(kNaN), F(kNaN), kCmpStrictEqual, "false"},
      {F(kNaN), F(1.0), kCmpLesser, "false"},
      {F(kNaN), F(1.0), kCmpLesserOrEqual, "false"},
      {F(kNaN), F(1.0), kCmpGreater, "false"},
      {F(kNaN), F(1.0), kCmpGreaterOrEqual, "false"},
      {F(0.5), P(0.5), kCmpEqual, "true"},
      {F(0.5), P(0.5), kCmpStrictEqual, "false"},
      {P(0.5), F(0.5), kCmpEqual, "true"},
      {F(2.0), I(2), kCmpEqual, "true"},
      {F(2.0), I(2), kCmpStrictEqual, "false"},
      {F(2.5), I(2), kCmpGreater, "true"},
      {F(97.0), C('a'), kCmpEqual, "false"},
      {F(1.0), S("1"), kCmpEqual, "false"},
      {F(1.0), S("1"), kCmpLesser, "error invalid-compare"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(relation(c.a, c.b, c.op), c.expected) << mold(c.a) << " op " << c.op << " " << mold(c.b);
  Cell nan = F(kNaN), one_cell = F(1.0);
  EXPECT_EQ(actions::compare_value(&nan, &one_cell, kCmpSort), 0) << "sorting treats NaN as equal";
}

TEST_F(FloatTest, ArithmeticFollowsIeeeAndTheOperandTypes) {
  struct Case {
    Action action;
    Cell left, right;
    const char* expected;
  } cases[] = {
      {Action::add, F(0.1), F(0.2), "float! 0.30000000000000004"},
      {Action::add, P(0.5), F(0.25), "percent! 75%"},
      {Action::add, F(0.25), P(0.5), "float! 0.75"},
      {Action::multiply, P(0.5), I(3), "percent! 150%"},
      {Action::add, F(1.5), C('a'), "float! 98.5"},
      {Action::add, P(0.5), C('a'), "error invalid-type"},
      {Action::divide, F(1.0), I(0), "float! 1.#INF"},
      {Action::remainder, F(5.5), I(2), "float! 1.5"},
      {Action::remainder, F(-5.5), I(2), "float! -1.5"},
      {Action::remainder, F(5.0), F(kInf), "float! 5.0"},
      {Action::remainder, F(1.0), F(0.0), "float! 1.#NaN"},
      {Action::remainder, F(kInf), F(2.0), "float! 1.#NaN"},
      {Action::add, F(1.0), S("2"), "error invalid-type"},
      {Action::subtract, F(1.0), make_cell(TYPE_PAIR), "error not-related"},
      {Action::divide, P(0.5), make_cell(TYPE_POINT2D), "error not-related"},
      {Action::power, F(2.0), I(3), "float! 8.0"},
      {Action::power, F(4.0), F(0.5), "float! 2.0"},
      {Action::power, P(0.5), I(2), "percent! 25%"},
      {Action::power, F(2.0), I(-2), "float! 0.25"},
      {Action::power, F(2.0), P(0.5), "error expect-arg"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(math(c.action, c.left, c.right), c.expected)
        << action_word(c.action) << " " << mold(c.left) << " " << mold(c.right);
  // One time! operand makes the result a time! (whose text is its own);
  // time! shares this arithmetic, so it is called directly here.
  auto add = [](const Cell& left, const Cell& right) {
    stack::Guard guard;
    stack::mark_native(nullptr);
    stack::push(left);
    stack::push(right);
    return *float_type::do_math(kOpAdd);
  };
  Cell time = float_type::make(2.0, TYPE_TIME);
  for (Cell sum : {add(time, F(1.0)), add(F(1.0), time), add(I(1), time), add(time, I(1))}) {
    EXPECT_TRUE(sum.is(TYPE_TIME));
    EXPECT_EQ(sum.as_double(), 3.0);
  }
  EXPECT_TRUE(add(time, time).is(TYPE_TIME));
  EXPECT_TRUE(add(P(0.5), F(1.0)).is(TYPE_PERCENT));
}

TEST_F(FloatTest, UnaryActions) {
  struct Case {
    Action action;
    Cell value;
    const char* expected;
  } cases[] = {
      {Action::negate, F(1.5), "float! -1.5"},
      {Action::negate, F(0.0), "float! 0.0"},
      {Action::negate, P(0.5), "percent! -50%"},
      {Action::absolute, F(-2.5), "float! 2.5"},
      {Action::absolute, F(-0.0), "float! 0.0"},
      {Action::absolute, F(-kInf), "float! 1.#INF"},
      {Action::even_q, F(2.0), "logic! true"},
      {Action::even_q, F(2.5), "logic! true"},
      {Action::odd_q, F(-3.7), "logic! true"},
      {Action::even_q, F(1e300), "logic! true"},
      {Action::odd_q, F(4294967297.0), "logic! true"},
      {Action::odd_q, F(kInf), "error out-of-range"},
      {Action::even_q, F(kNaN), "error out-of-range"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(unary(c.action, c.value), c.expected) << action_word(c.action) << " " << mold(c.value);
}

TEST_F(FloatTest, RoundWithEveryRefinement) {
  struct Case {
    Cell value;
    const char* refinements;
    const Cell* scale;
    const char* expected;
  };
  Cell hundredth = F(0.01), hundred = F(100.0), five = I(5), one = I(1), zero = I(0), huge = F(1e308);
  Cell point = P(0.01), money = make_cell(TYPE_MONEY);
  double tiny = std::numeric_limits<double>::denorm_min();
  Cell two_tiny = F(2 * tiny), tiny_cell = F(tiny);
  const Case cases[] = {
      {F(2.5), "", nullptr, "float! 3.0"},
      {F(-2.5), "", nullptr, "float! -3.0"},
      {F(2.4), "", nullptr, "float! 2.0"},
      {F(2.5), "even", nullptr, "float! 2.0"},
      {F(3.5), "even", nullptr, "float! 4.0"},
      {F(-2.5), "even", nullptr, "float! -2.0"},
      {F(2.5), "half-down", nullptr, "float! 2.0"},
      {F(2.6), "half-down", nullptr, "float! 3.0"},
      {F(-2.5), "half-ceiling", nullptr, "float! -2.0"},
      {F(2.5), "half-ceiling", nullptr, "float! 3.0"},
      {F(2.4), "ceiling", nullptr, "float! 3.0"},
      {F(-2.6), "ceiling", nullptr, "float! -2.0"},
      {F(-2.4), "floor", nullptr, "float! -3.0"},
      {F(-2.6), "down", nullptr, "float! -2.0"},
      {F(2.6), "down", nullptr, "float! 2.0"},
      {F(1.2345), "", &hundredth, "float! 1.23"},
      {F(1234.5678), "", &hundred, "float! 1200.0"},
      {F(12.5), "", &five, "integer! 15"},
      {F(-12.5), "down", &five, "integer! -10"},
      {F(0.5), "", &zero, "float! 0.5"},
      {F(1e300), "", &one, "float! 1.0e300"},  // the scale is below the value's precision
      {F(3e9), "", &one, "error out-of-range"},
      {F(DBL_MAX), "", &huge, "error overflow"},
      {F(kNaN), "", nullptr, "float! 1.#NaN"},
      {F(kInf), "", nullptr, "float! 1.#INF"},
      {P(0.123456), "", nullptr, "percent! 12%"},
      {P(0.123456), "", &point, "percent! 12.35%"},
      {F(0.123456), "", &point, "percent! 12%"},
      {F(3 * tiny), "", &two_tiny, "float! 2.0e-323"},
      {F(1e-310), "", &tiny_cell, "float! 1.0e-310"},
      {F(2.5), "", &money, "error not-related"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(round(c.value, c.refinements, c.scale), c.expected)
        << "round/" << c.refinements << " " << mold(c.value) << (c.scale ? " " + mold(*c.scale) : "");
}

TEST_F(FloatTest, ConversionsToFloatAndPercent) {
  Cell time = float_type::make(90.5, TYPE_TIME);
  struct Case {
    TypeId target;
    Cell spec;
    const char* expected;
  } cases[] = {
      {TYPE_FLOAT, I(1), "float! 1.0"},
      {TYPE_FLOAT, C('a'), "float! 97.0"},
      {TYPE_FLOAT, P(0.5), "float! 0.5"},
      {TYPE_FLOAT, time, "float! 90.5"},
      {TYPE_PERCENT, F(0.25), "percent! 25%"},
      {TYPE_PERCENT, I(2), "percent! 200%"},
      {TYPE_FLOAT, B({0x3F, 0xF0, 0, 0, 0, 0, 0, 0}), "float! 1.0"},
      {TYPE_FLOAT, B({0x3F, 0xF0, 0, 0, 0, 0, 0, 0, 0xFF}), "float! 1.0"},
      {TYPE_FLOAT, B({}), "float! 0.0"},
      {TYPE_FLOAT, block_of({I(15), I(2)}), "float! 1500.0"},
      {TYPE_FLOAT, block_of({I(3), I(-1)}), "float! 0.3"},
      {TYPE_FLOAT, block_of({F(1.5), F(2.0)}), "float! 150.0"},
      {TYPE_FLOAT, block_of({F(-0.1), I(1)}), "float! -1.0"},
      {TYPE_FLOAT, block_of({I(1), I(400)}), "float! 1.#INF"},
      {TYPE_FLOAT, block_of({F(0.0), I(400)}), "float! 0.0"},
      {TYPE_FLOAT, block_of({F(-kInf), I(-400)}), "float! -1.#INF"},
      {TYPE_FLOAT, block_of({I(5), F(2.9)}), "float! 500.0"},
      {TYPE_FLOAT, block_of({I(5), F(1e10)}), "error out-of-range"},
      {TYPE_FLOAT, block_of({I(1), S("2")}), "error bad-to-arg"},
      {TYPE_FLOAT, block_of({I(1)}), "error bad-to-arg"},
      {TYPE_FLOAT, S("1.5"), "float! 1.5"},
      {TYPE_FLOAT, S("-1,5e2"), "float! -150.0"},
      {TYPE_FLOAT, S("1e400"), "float! 1.#INF"},
      {TYPE_FLOAT, S(""), "error bad-to-arg"},
      {TYPE_FLOAT, S("abc"), "error bad-to-arg"},
      {TYPE_FLOAT, S("1.5%"), "error bad-to-arg"},
      {TYPE_PERCENT, S("50%"), "percent! 50%"},
      {TYPE_PERCENT, S(" 12.5% "), "percent! 12.5%"},
      {TYPE_PERCENT, S("0.5"), "percent! 50%"},
      {TYPE_PERCENT, S("5"), "percent! 500%"},
      {TYPE_PERCENT, S("x"), "error bad-to-arg"},
      {TYPE_PERCENT, S(""), "error bad-to-arg"},
      {TYPE_FLOAT, make_cell(TYPE_NONE), "error bad-to-arg"},
      {TYPE_PERCENT, make_cell(TYPE_LOGIC, 1), "error bad-to-arg"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(convert<Action::to>(c.target, c.spec), c.expected) << mold(c.spec);
    EXPECT_EQ(convert<Action::make>(c.target, c.spec), c.expected) << mold(c.spec);
  }
}

TEST_F(FloatTest, RandomScalesTheValueAndSeeds) {
  auto draw = [](const Cell& value, int seed, int secure) {
    stack::Guard guard;
    stack::mark_native(nullptr);
    Cell* cell = stack::push(value);
    return *actions::handler_for<Action::random>(*cell)(cell, seed, secure, -1);
  };
  for (int i = 0; i < 1000; ++i) {
    Cell r = draw(F(10.0), -1, -1);
    ASSERT_TRUE(r.is(TYPE_FLOAT));
    ASSERT_TRUE(r.as_double() >= 0.0 && r.as_double() <= 10.0) << r.as_double();
    Cell p = draw(P(0.5), -1, 0);
    ASSERT_TRUE(p.is(TYPE_PERCENT));
    ASSERT_TRUE(p.as_double() >= 0.0 && p.as_double() <= 0.5) << p.as_double();
  }
  EXPECT_TRUE(draw(F(1.5), 0, -1).is(TYPE_UNSET));
  double first = draw(F(1.0), -1, -1).as_double();
  draw(F(1.5), 0, -1);
  EXPECT_EQ(draw(F(1.0), -1, -1).as_double(), first);
}

}  // namespace
}  // namespace kel
