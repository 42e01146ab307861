// char!: conversions (with the checks on code point range and on UTF-8
// sequences in binaries), code point arithmetic, the actions inherited from
// integer!, mold escapes and comparison.
#include <gtest/gtest.h>

#include <cmath>

#include "numbers_helpers.h"

namespace kel {
namespace {

using namespace numbers_test;
using CharTest = testing::RuntimeTest;

TEST_F(CharTest, ConversionsCheckTheCodePointRange) {
  Cell at_index = S("abc");
  at_index.data1 = 1;
  Cell at_tail = S("abc");
  at_tail.data1 = 3;
  struct Case {
    Cell spec;
    const char* expected;
  } cases[] = {
      {I(97), "char! #\"a\""},
      {I(1114111), "char! #\"\xF4\x8F\xBF\xBF\""},
      {I(1114112), "error out-of-range"},
      {I(-1), "error out-of-range"},
      {C('z'), "char! #\"z\""},
      {F(97.9), "char! #\"a\""},
      {F(-0.5), "char! #\"^@\""},
      {F(1e10), "error out-of-range"},
      {F(NAN), "error out-of-range"},
      {P(0.65), "char! #\"^@\""},
      {S("abc"), "char! #\"a\""},
      {S("\u00E9t\u00E9"), "char! #\"\u00E9\""},
      {at_index, "char! #\"b\""},
      {at_tail, "error bad-to-arg"},
      {S(""), "error bad-to-arg"},
      {make_cell(TYPE_NONE), "error bad-to-arg"},
      {make_cell(TYPE_LOGIC, 1), "error bad-to-arg"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(convert<Action::to>(TYPE_CHAR, c.spec), c.expected) << mold(c.spec);
    EXPECT_EQ(convert<Action::make>(TYPE_CHAR, c.spec), c.expected) << mold(c.spec);
  }
}

TEST_F(CharTest, ToCharOfABinaryDecodesOneCompleteWellFormedSequence) {
  struct Case {
    Cell spec;
    const char* expected;
  } cases[] = {
      {B({0x61}), "char! #\"a\""},
      {B({0x61, 0xFF}), "char! #\"a\""},  // only the first sequence is read
      {B({0xC3, 0xA9}), "char! #\"\u00E9\""},
      {B({0xE2, 0x82, 0xAC}), "char! #\"\u20AC\""},
      {B({0xF0, 0x9F, 0x98, 0x80}), "char! #\"\U0001F600\""},
      {B({}), "error bad-to-arg"},
      {B({0xC3}), "error bad-to-arg"},              // cut short
      {B({0xE2, 0x82}), "error bad-to-arg"},        // cut short
      {B({0xF0, 0x9F, 0x98}), "error bad-to-arg"},  // cut short
      {B({0x80}), "error bad-to-arg"},              // a continuation byte first
      {B({0xC3, 0x41}), "error bad-to-arg"},        // a missing continuation byte
      {B({0xC0, 0x80}), "error bad-to-arg"},        // overlong
      {B({0xED, 0xA0, 0x80}), "error bad-to-arg"},  // a surrogate
      {B({0xF4, 0x90, 0x80, 0x80}), "error bad-to-arg"},  // above U+10FFFF
      {B({0xFF}), "error bad-to-arg"},
  };
  for (const Case& c : cases) EXPECT_EQ(convert<Action::to>(TYPE_CHAR, c.spec), c.expected) << mold(c.spec);

  Cell past_the_tail = B({0x61});
  past_the_tail.data1 = 5;
  EXPECT_EQ(convert<Action::to>(TYPE_CHAR, past_the_tail), "error bad-to-arg");
  Cell from_index = B({0x61, 0xC3, 0xA9});
  from_index.data1 = 1;
  EXPECT_EQ(convert<Action::to>(TYPE_CHAR, from_index), "char! #\"\u00E9\"");
}

TEST_F(CharTest, ArithmeticGivesCodePointsOrOverflow) {
  struct Case {
    Action action;
    Cell left, right;
    const char* expected;
  } cases[] = {
      {Action::add, C('a'), I(1), "char! #\"b\""},
      {Action::add, C('a'), C(1), "char! #\"b\""},
      {Action::add, C('a'), F(1.9), "char! #\"b\""},
      {Action::subtract, C('a'), I(97), "char! #\"^@\""},
      {Action::subtract, C('a'), I(98), "error overflow"},
      {Action::add, C(0x10FFFF), I(1), "error overflow"},
      {Action::add, C('a'), I(2147483647), "error overflow"},
      {Action::multiply, C('a'), I(2), "char! #\"\u00C2\""},
      {Action::divide, C('z'), I(2), "char! #\"=\""},  // integer division: 122 / 2
      {Action::divide, C('a'), I(2), "char! #\"0\""},  // 97 / 2 truncated, not 48.5
      {Action::divide, C('a'), I(0), "error zero-divide"},
      {Action::remainder, C('a'), I(10), "char! #\"^G\""},
      {Action::or_t, C('A'), I(32), "char! #\"a\""},
      {Action::and_t, C('a'), I(0x5F), "char! #\"A\""},
      {Action::xor_t, C('a'), C(' '), "char! #\"A\""},
      {Action::add, C('a'), F(1e10), "error out-of-range"},
      {Action::add, C('a'), P(0.5), "error invalid-type"},
      {Action::add, C('a'), S("b"), "error invalid-type"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(math(c.action, c.left, c.right), c.expected)
        << action_word(c.action) << " " << mold(c.left) << " " << mold(c.right);
}

TEST_F(CharTest, InheritsAbsoluteEvenOddAndRandomFromInteger) {
  EXPECT_EQ(unary(Action::absolute, C('a')), "char! #\"a\"");
  EXPECT_EQ(unary(Action::even_q, C('b')), "logic! true");
  EXPECT_EQ(unary(Action::odd_q, C('a')), "logic! true");
  stack::Guard guard;
  stack::mark_native(nullptr);
  Cell* value = stack::push(C('z'));
  for (int i = 0; i < 200; ++i) {
    *value = C('z');
    Cell r = *actions::handler_for<Action::random>(*value)(value, -1, -1, -1);
    ASSERT_TRUE(r.is(TYPE_CHAR));
    ASSERT_TRUE(r.data2 >= 1 && r.data2 <= 'z') << r.data2;
  }
}

TEST_F(CharTest, MoldEscapesAndForm) {
  struct Case {
    uint32_t code_point;
    const char* mold;
    const char* mold_all;
  } cases[] = {
      {'a', "#\"a\"", "#\"a\""},
      {'\t', "#\"^-\"", "#\"^-\""},
      {'\n', "#\"^/\"", "#\"^/\""},
      {0, "#\"^@\"", "#\"^@\""},
      {0x1E, "#\"^(1E)\"", "#\"^(1E)\""},
      {'"', "#\"^\"\"", "#\"^\"\""},
      {'^', "#\"^^\"", "#\"^^\""},
      {127, "#\"^~\"", "#\"^~\""},
      {0x85, "#\"^(85)\"", "#\"^(85)\""},
      {0xE9, "#\"\u00E9\"", "#\"^(E9)\""},
      {0x20AC, "#\"\u20AC\"", "#\"^(20AC)\""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mold(C(c.code_point)), c.mold) << c.code_point;
    EXPECT_EQ(actions::mold_to_string(C(c.code_point), true), c.mold_all) << c.code_point;
  }
  EXPECT_EQ(mold(C('\t')).size(), 5u);
  EXPECT_EQ(form(C('a')), "a");
  EXPECT_EQ(form(C(0x20AC)), "\u20AC");
  EXPECT_EQ(form(C('\t')), "\t");
}

TEST_F(CharTest, ComparisonIsByCodePointWithoutFolding) {
  struct Case {
    Cell a, b;
    int32_t op;
    const char* expected;
  } cases[] = {
      {C('a'), C('a'), kCmpEqual, "true"},
      {C('a'), C('A'), kCmpEqual, "false"},
      {C('a'), C('b'), kCmpLesser, "true"},
      {C('a'), I(97), kCmpEqual, "true"},
      {C('a'), I(97), kCmpStrictEqual, "false"},
      {C('a'), I(98), kCmpLesser, "true"},
      {C('a'), F(97.0), kCmpEqual, "false"},
      {C('a'), S("a"), kCmpLesser, "error invalid-compare"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(relation(c.a, c.b, c.op), c.expected) << mold(c.a) << " op " << c.op << " " << mold(c.b);
}

}  // namespace
}  // namespace kel
