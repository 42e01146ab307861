// money!: literals, text, exact decimal arithmetic with integers, floats
// and percents on either side, conversions, comparison, rounding, access
// by path and pick, and the other actions.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "datatypes/money.h"
#include "value_types_helpers.h"

namespace kel {
namespace {

using namespace value_types_testing;

class MoneyTest : public LiteralTest {
 protected:
  void TearDown() override {
    money::set_form_digits(2);
    LiteralTest::TearDown();
  }
};

Cell P(double fraction) {
  Cell cell = make_cell(TYPE_PERCENT);
  cell.set_double(fraction);
  return cell;
}

// --- Text ----------------------------------------------------------------------------------

TEST_F(MoneyTest, FormGroupsThousandsMoldDoesNotAndMoldAllShowsFiveDigits) {
  struct Case {
    const char* source;
    const char* formed;
    const char* molded;
    const char* molded_all;
  } cases[] = {
      {"$1234567.5", "$1'234'567.50", "$1234567.50", "$1234567.50000"},
      {"$0.5", "$0.50", "$0.50", "$0.50000"},
      {"-USD$1.5", "-USD$1.50", "-USD$1.50", "-USD$1.50000"},
      {"$0", "$0.00", "$0.00", "$0.00000"},
      {"$999", "$999.00", "$999.00", "$999.00000"},
      {"$1000", "$1'000.00", "$1000.00", "$1000.00000"},
      {"$12345678901234567.12345", "$12'345'678'901'234'567.12", "$12345678901234567.12",
       "$12345678901234567.12345"},
      {"EUR$0.00001", "EUR$0.00", "EUR$0.00", "EUR$0.00001"},
      {"$1.239", "$1.23", "$1.23", "$1.23900"},  // cut, not rounded
  };
  for (const Case& c : cases) {
    Cell value = V(c.source);
    EXPECT_EQ(form(value), c.formed) << c.source;
    EXPECT_EQ(mold(value), c.molded) << c.source;
    EXPECT_EQ(actions::mold_to_string(value, true), c.molded_all) << c.source;
  }
}

TEST_F(MoneyTest, TheMoneyDigitsOptionSetsTheFractionShown) {
  Cell value = V("$12.34567");
  const std::pair<int32_t, const char*> cases[] = {
      {0, "$12"}, {-3, "$12"}, {1, "$12.3"}, {2, "$12.34"}, {5, "$12.34567"}, {9, "$12.34567"},
  };
  for (const auto& [digits, text] : cases) {
    money::set_form_digits(digits);
    EXPECT_EQ(mold(value), text) << digits;
  }
}

TEST_F(MoneyTest, MoldAllLoadsBackAsTheSameAmount) {
  for (const char* source : {"$0", "$1.5", "-$0.00001", "USD$99999999999999999.99999", "-KEL$1'000.5"}) {
    Cell value = V(source);
    Cell loaded = V(actions::mold_to_string(value, true));
    EXPECT_EQ(actions::mold_to_string(loaded, true), actions::mold_to_string(value, true)) << source;
    EXPECT_EQ(compare(value, loaded, kCmpStrictEqual), 0) << source;
  }
}

TEST_F(MoneyTest, TheLexerRefusesMalformedAmounts) {
  for (const char* source : {"$", "$.5", "$,5", "$'1", "$1.", "$1.123456", "$1''0", "$1'", "ABCD$1", "XYZ$1",
                             "$123456789012345678", "US$1", "$1.2'3"}) {
    Cell loaded = make_cell(TYPE_UNSET);
    EXPECT_NE(word::scan_text(source, &loaded), TYPE_MONEY) << source;
  }
  // Leading zeros do not count among the seventeen integer digits.
  EXPECT_EQ(mold(V("$000000000012345678901234567")), "$12345678901234567.00");
}

// --- Arithmetic ------------------------------------------------------------------------------

TEST_F(MoneyTest, ArithmeticIsExactDecimalWithEitherOperandANumber) {
  struct Case {
    Action action;
    Cell left;
    Cell right;
    const char* expected;
  } cases[] = {
      {Action::add, V("$1.10"), V("$2.20"), "money! $3.30000"},
      {Action::add, F(0.1), V("$1"), "money! $1.10000"},
      {Action::add, V("$1"), F(0.1), "money! $1.10000"},
      {Action::add, I(1), V("$1"), "money! $2.00000"},
      {Action::add, F(0.1 + 0.2), V("$0"), "money! $0.30000"},  // digits past the fifth are cut
      {Action::subtract, V("$1"), V("$2.5"), "money! -$1.50000"},
      {Action::subtract, I(5), V("$2"), "money! $3.00000"},
      {Action::subtract, V("$2"), V("$2"), "money! $0.00000"},
      {Action::multiply, V("$2"), I(3), "money! $6.00000"},
      {Action::multiply, I(3), V("-$2"), "money! -$6.00000"},
      {Action::multiply, V("$10"), P(0.5), "money! $5.00000"},
      {Action::multiply, V("$1.00001"), F(0.5), "money! $0.50000"},  // truncated toward zero
      {Action::multiply, V("$1"), V("$1"), "error invalid-type"},
      {Action::divide, V("$1"), V("$3"), "float! 0.33333"},
      {Action::divide, V("$1"), I(3), "money! $0.33333"},
      {Action::divide, V("-$2"), I(3), "money! -$0.66666"},
      {Action::divide, I(1), V("$1"), "error invalid-type"},
      {Action::divide, V("$5"), I(0), "error zero-divide"},
      {Action::remainder, V("$10"), V("$3"), "money! $1.00000"},
      {Action::remainder, V("-$10.5"), I(3), "money! -$1.50000"},
      {Action::remainder, I(10), V("$3"), "error invalid-type"},
      {Action::remainder, V("$1"), V("$0"), "error zero-divide"},
      {Action::add, V("$1"), S("a"), "error invalid-type"},
      {Action::add, V("$1"), F(1e20), "error bad-make-arg"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(precise_math(c.action, c.left, c.right), c.expected)
        << action_word(c.action) << " " << mold(c.left) << " " << mold(c.right);
}

TEST_F(MoneyTest, ResultsBeyondSeventeenIntegerDigitsRaiseTypeLimit) {
  struct Case {
    Action action;
    const char* left;
    const char* right;
    const char* expected;
  } cases[] = {
      {Action::add, "$99999999999999999", "$1", "error type-limit"},
      {Action::add, "$99999999999999999", "$0.99999", "money! $99999999999999999.99999"},
      {Action::subtract, "-$99999999999999999", "$1", "error type-limit"},
      {Action::multiply, "$10000000000", "10000000", "error type-limit"},
      {Action::multiply, "$99999999999999999.99999", "$0.00001", "error invalid-type"},
      {Action::divide, "$99999999999999999", "$0.1", "error type-limit"},
      // A quotient that fits is computed, whatever the operands' digit counts.
      {Action::divide, "$10000000000000000", "0.99999", "money! $10000100001000010.00010"},
  };
  for (const Case& c : cases) {
    Cell left = V(c.left), right = V(c.right);
    EXPECT_EQ(precise_math(c.action, left, right), c.expected) << c.left << " " << c.right;
  }
}

TEST_F(MoneyTest, CurrenciesMustAgreeAndTheResultKeepsTheOneGiven) {
  EXPECT_EQ(precise_math(Action::add, V("USD$1"), V("EUR$1")), "error wrong-denom");
  EXPECT_EQ(precise_math(Action::add, V("USD$1"), V("$1")), "money! USD$2.00000");
  EXPECT_EQ(precise_math(Action::add, V("$1"), V("USD$1")), "money! USD$2.00000");
  EXPECT_EQ(precise_math(Action::multiply, V("USD$1"), I(2)), "money! USD$2.00000");
  EXPECT_EQ(precise_math(Action::divide, V("EUR$1"), V("EUR$4")), "float! 0.25");
  EXPECT_EQ(relation(V("USD$1"), V("EUR$2"), kCmpLesser), "error wrong-denom");
}

// --- Conversions -------------------------------------------------------------------------

TEST_F(MoneyTest, ConversionsFromNumbersAndText) {
  struct Case {
    Cell spec;
    const char* expected;
  } cases[] = {
      {F(0.1), "money! $0.10000"},
      {F(-1234.5), "money! -$1234.50000"},
      {F(1e16), "money! $10000000000000000.00000"},
      {F(0.00001), "money! $0.00001"},
      {F(0.123456), "error bad-make-arg"},  // more fraction digits than money! holds
      {F(1e17), "error bad-make-arg"},
      {F(-1e17), "error bad-make-arg"},
      {F(1e-6), "error bad-make-arg"},
      {F(std::numeric_limits<double>::infinity()), "error bad-make-arg"},
      {F(std::nan("")), "error bad-make-arg"},
      {P(0.5), "money! $0.50000"},
      {I(2147483647), "money! $2147483647.00000"},
      {I(-2147483647 - 1), "money! -$2147483648.00000"},
      {S("$1.25"), "money! $1.25000"},
      {S("USD$7"), "money! USD$7.00000"},
      {S("12.5"), "money! $12.50000"},
      {S("42"), "money! $42.00000"},
      {S("abc"), "error bad-to-arg"},
      {S("1x2"), "error bad-to-arg"},
      {None(), "error bad-to-arg"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(precise_convert<Action::to>(TYPE_MONEY, c.spec), c.expected) << mold(c.spec);
    EXPECT_EQ(precise_convert<Action::make>(TYPE_MONEY, c.spec), c.expected) << mold(c.spec);
  }
}

TEST_F(MoneyTest, MakeTakesACurrencyWordOrASpecBlock) {
  struct Case {
    Cell spec;
    const char* expected;
  } cases[] = {
      {W("usd"), "money! USD$0.00000"},
      {W("xxx"), "error bad-make-arg"},
      {Blk({W("USD"), I(12), I(50000)}), "money! USD$12.50000"},
      {Blk({I(12), I(50000)}), "money! $12.50000"},
      {Blk({I(-12), I(50000)}), "money! -$12.50000"},
      {Blk({I(12)}), "money! $12.00000"},
      {Blk({W("EUR"), F(1.5)}), "money! EUR$1.50000"},
      {Blk({F(1.5)}), "money! $1.50000"},
      {Blk({W("USD")}), "error bad-make-arg"},
      {Blk({W("XXX"), I(1)}), "error bad-make-arg"},
      {Blk({F(1.5), I(2)}), "error bad-make-arg"},
      {Blk({I(12), I(100000)}), "error bad-make-arg"},
      {Blk({I(12), I(-1)}), "error bad-make-arg"},
      {Blk({I(1), I(2), I(3)}), "error bad-make-arg"},
      {Blk({}), "error bad-make-arg"},
      {Blk({S("1")}), "error bad-make-arg"},
  };
  for (const Case& c : cases) EXPECT_EQ(precise_convert<Action::make>(TYPE_MONEY, c.spec), c.expected) << mold(c.spec);
}

TEST_F(MoneyTest, ToIntegerAndToFloat) {
  EXPECT_EQ(money::to_integer(V("$12.99")), 12);
  EXPECT_EQ(money::to_integer(V("-$12.99")), -12);
  EXPECT_EQ(money::to_integer(V("$2147483647.99")), 2147483647);
  EXPECT_EQ(money::to_integer(V("-$2147483648")), -2147483647 - 1);
  EXPECT_EQ(error_of([] { money::to_integer(V("$2147483648")); }), "type-limit");
  EXPECT_EQ(error_of([] { money::to_integer(V("$99999999999")); }), "type-limit");
  EXPECT_EQ(money::to_float(V("$0.1")), 0.1);
  EXPECT_EQ(money::to_float(V("-$1234.56789")), -1234.56789);
  EXPECT_EQ(money::to_float(V("$99999999999999999.99999")), 1e17);
}

TEST_F(MoneyTest, TheLexerConstructorTakesDigitTexts) {
  Cell cell = make_cell(TYPE_UNSET);
  ASSERT_TRUE(money::make_from_digits(&cell, true, 0, "1'234", "5"));
  EXPECT_EQ(mold(cell), "-$1234.50");
  ASSERT_TRUE(money::make_from_digits(&cell, false, 0, "", "123456789"));
  EXPECT_EQ(actions::mold_to_string(cell, true), "$0.12345");
  EXPECT_FALSE(money::make_from_digits(&cell, false, 0, "123456789012345678", ""));
  EXPECT_FALSE(money::make_from_digits(&cell, false, 0, "1a", ""));
  EXPECT_FALSE(money::make_from_digits(&cell, false, 999, "1", ""));
  // The serializer's constructor keeps the digits as they are.
  Cell copy = make_cell(TYPE_UNSET);
  money::set_cell(&copy, true, money::currency_index(V("USD$1")), money::digits(V("$3.25")));
  EXPECT_EQ(mold(copy), "-USD$3.25");
}

TEST_F(MoneyTest, CurrencyCodesFollowTheLocaleListOrder) {
  EXPECT_EQ(money::currency_code_index("AED"), 1);
  EXPECT_EQ(money::currency_code_index("usd"), money::currency_code_index("USD"));
  EXPECT_EQ(money::currency_code(static_cast<uint32_t>(money::currency_code_index("ZMW"))), "ZMW");
  EXPECT_EQ(money::currency_code_index("ZMW"), 170);
  EXPECT_EQ(money::currency_code_index("QQQ"), -1);
  EXPECT_EQ(money::currency_code(0), "");
  EXPECT_EQ(money::currency_code(171), "");
}

// --- Comparison ------------------------------------------------------------------------------

TEST_F(MoneyTest, ComparisonWithNumbersOnEitherSide) {
  struct Case {
    Cell left;
    Cell right;
    int32_t op;
    const char* expected;
  } cases[] = {
      {V("$1"), I(1), kCmpEqual, "true"},
      {I(1), V("$1"), kCmpEqual, "true"},
      {V("$1"), I(1), kCmpStrictEqual, "false"},
      {V("$1"), I(2), kCmpLesser, "true"},
      {I(1), V("$2"), kCmpLesser, "true"},
      {I(3), V("$2"), kCmpLesser, "false"},
      {I(3), V("$2"), kCmpGreaterOrEqual, "true"},
      {F(0.1), V("$0.1"), kCmpEqual, "true"},
      {V("$0.1"), F(0.1), kCmpEqual, "true"},
      {V("$0.33333"), F(1.0 / 3.0), kCmpEqual, "false"},  // too precise: compared as doubles
      {V("$0.33333"), F(1.0 / 3.0), kCmpLesser, "true"},
      {F(1e20), V("$1"), kCmpGreater, "true"},
      {V("$1"), F(1e20), kCmpLesser, "true"},
      {V("-$1"), F(-1e-9), kCmpLesser, "true"},
      {V("$1"), F(std::nan("")), kCmpEqual, "false"},
      {P(0.5), V("$0.5"), kCmpEqual, "true"},
      {V("-$1"), V("$0"), kCmpLesser, "true"},
      {V("-$2"), V("-$1"), kCmpLesser, "true"},
      {V("$0"), V("-$0"), kCmpStrictEqual, "true"},
      {V("$1"), S("$1"), kCmpEqual, "false"},
      {V("$1"), S("$1"), kCmpLesser, "error invalid-compare"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(relation(c.left, c.right, c.op), c.expected) << mold(c.left) << " op " << c.op << " " << mold(c.right);
}

TEST_F(MoneyTest, CurrenciesInComparisons) {
  EXPECT_EQ(relation(V("USD$1"), V("$1"), kCmpEqual), "true");
  EXPECT_EQ(relation(V("USD$1"), V("$1"), kCmpStrictEqual), "false");
  EXPECT_EQ(relation(V("USD$1"), V("$1"), kCmpFind), "false");
  EXPECT_EQ(relation(V("USD$1"), V("EUR$1"), kCmpEqual), "false");
  EXPECT_EQ(relation(V("USD$1"), V("$2"), kCmpLesser), "true");
  // Sorting orders amounts without currency first, then codes by name.
  EXPECT_LT(compare(V("$5"), V("AED$1"), kCmpSort), 0);
  EXPECT_LT(compare(V("EUR$5"), V("USD$1"), kCmpSort), 0);
  EXPECT_GT(compare(V("USD$5"), V("USD$1"), kCmpSort), 0);
}

// --- Rounding -------------------------------------------------------------------------------

TEST_F(MoneyTest, RoundingToScales) {
  struct Case {
    const char* value;
    const char* refinements;
    Cell scale;
    const char* expected;
  } cases[] = {
      {"$1.235", "to", V("$0.01"), "money! $1.24000"},
      {"$1.239", "down/to", V("$0.01"), "money! $1.23000"},
      {"$2.5", "even/to", V("$1"), "money! $2.00000"},
      {"$3.5", "even/to", V("$1"), "money! $4.00000"},
      {"$2.5", "to", I(1), "money! $3.00000"},
      {"-$2.5", "to", I(1), "money! -$3.00000"},
      {"-$2.5", "floor/to", I(1), "money! -$3.00000"},
      {"-$2.5", "ceiling/to", I(1), "money! -$2.00000"},
      {"$2.5", "half-down/to", I(1), "money! $2.00000"},
      {"-$2.5", "half-ceiling/to", I(1), "money! -$2.00000"},
      {"USD$17", "to", F(5.0), "money! USD$15.00000"},
      {"$17", "to", F(0.123456), "error bad-make-arg"},
      {"$17", "to", V("$0"), "money! $17.00000"},
      {"$17", "to", S("1"), "error not-related"},
      {"$99999999999999999.5", "to", I(1), "error type-limit"},
  };
  for (const Case& c : cases) {
    Cell value = V(c.value);
    EXPECT_EQ(precise([&] { return call_round(value, c.refinements, &c.scale); }), c.expected)
        << c.value << " " << c.refinements;
  }
  EXPECT_EQ(precise([&] { return call_round(V("$2.5"), ""); }), "money! $3.00000");
  EXPECT_EQ(precise([&] { return call_round(V("$2.49999"), ""); }), "money! $2.00000");
}

// --- Access -------------------------------------------------------------------------------

TEST_F(MoneyTest, PathsAndPickGiveTheCodeAndTheAmount) {
  EXPECT_EQ(outcome([] { return path_get(V("USD$1.5"), W("code")); }), "word! USD");
  EXPECT_EQ(outcome([] { return path_get(V("$1.5"), W("code")); }), "none! none");
  EXPECT_EQ(outcome([] { return path_get(V("-USD$1.5"), W("amount")); }), "money! -$1.50");
  EXPECT_EQ(outcome([] { return path_get(V("USD$1.5"), I(2)); }), "money! $1.50");
  EXPECT_EQ(outcome([] { return path_get(V("USD$1.5"), I(3)); }), "error invalid-path");
  EXPECT_EQ(outcome([] { return path_get(V("USD$1.5"), W("x")); }), "error invalid-path");
  EXPECT_EQ(outcome([] { return path_set(V("USD$1.5"), W("code"), W("EUR")); }), "error bad-path-set");
  EXPECT_EQ(outcome([] { return pick(V("EUR$2"), I(1)); }), "word! EUR");
  EXPECT_EQ(outcome([] { return pick(V("EUR$2"), W("amount")); }), "money! $2.00");
  EXPECT_EQ(outcome([] { return pick(V("EUR$2"), I(0)); }), "error out-of-range");
}

// --- Other actions ------------------------------------------------------------------------

TEST_F(MoneyTest, SignActionsAndParity) {
  EXPECT_EQ(precise([] { return call_unary(Action::negate, V("USD$1.5")); }), "money! -USD$1.50000");
  EXPECT_EQ(precise([] { return call_unary(Action::negate, V("-$1.5")); }), "money! $1.50000");
  EXPECT_EQ(precise([] { return call_unary(Action::negate, V("$0")); }), "money! $0.00000");
  EXPECT_EQ(precise([] { return call_unary(Action::absolute, V("-EUR$3")); }), "money! EUR$3.00000");
  EXPECT_EQ(outcome([] { return call_unary(Action::even_q, V("$12.99")); }), "logic! true");
  EXPECT_EQ(outcome([] { return call_unary(Action::odd_q, V("-$13.01")); }), "logic! true");
  EXPECT_EQ(outcome([] { return call_unary(Action::odd_q, V("$0.5")); }), "logic! false");
  EXPECT_EQ(money::sign(V("-$0")), 0);
  EXPECT_EQ(money::sign(V("-$0.00001")), -1);
}

Cell random_of(const Cell& value, bool seed) {
  stack::Guard guard;
  stack::mark_native(nullptr);
  Cell* argument = stack::push(value);
  return *actions::handler_for<Action::random>(value)(argument, seed ? 0 : -1, -1, -1);
}

TEST_F(MoneyTest, RandomDrawsBelowTheValueWithItsSignAndCurrency) {
  random_of(V("$42"), true);
  Cell first = random_of(V("-USD$1000.5"), false);
  random_of(V("$42"), true);
  EXPECT_EQ(mold(random_of(V("-USD$1000.5"), false)), mold(first));  // the seed repeats the draws
  for (int i = 0; i < 200; ++i) {
    Cell drawn = random_of(V("-USD$1000.5"), false);
    EXPECT_EQ(money::currency_index(drawn), money::currency_index(V("USD$1")));
    EXPECT_LE(money::sign(drawn), 0);
    EXPECT_EQ(relation(drawn, V("-USD$1000.5"), kCmpGreaterOrEqual), "true") << mold(drawn);
  }
  EXPECT_EQ(mold(random_of(V("$0"), false)), "$0.00");
}

}  // namespace
}  // namespace kel
