// point2D! and point3D!: literals and text, make and to, IEEE arithmetic
// in single precision (with pair! and numbers), tolerant and exact
// comparison, rounding, access by path and pick, and the other actions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

#include "datatypes/point2d.h"
#include "datatypes/point3d.h"
#include "datatypes/pair.h"
#include "value_types_helpers.h"

namespace kel {
namespace {

using namespace value_types_testing;

class PointTest : public LiteralTest {};

Cell P2(double x, double y) { return point2d::make(x, y); }
Cell P3(double x, double y, double z) { return point3d::make(x, y, z); }
Cell Pr(int32_t x, int32_t y) { return pair::make(x, y); }
Cell P(double fraction) {
  Cell cell = make_cell(TYPE_PERCENT);
  cell.set_double(fraction);
  return cell;
}

uint32_t bits_of(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// --- Text and literals ------------------------------------------------------------------------

TEST_F(PointTest, MoldAndFormWriteTheAxesInParentheses) {
  constexpr double kInfinity = std::numeric_limits<double>::infinity();
  struct Case {
    Cell point;
    const char* text;
  } cases[] = {
      {P2(1, 2.5), "(1, 2.5)"},
      {P2(-0.5, 100000), "(-0.5, 100000)"},
      {P2(0.1, 1e20), "(0.1, 1e20)"},
      {P2(kInfinity, -kInfinity), "(1.#INF, -1.#INF)"},
      {P3(1, 2, 3), "(1, 2, 3)"},
      {P3(1.5, -2, 1.0 / 3.0), "(1.5, -2, 0.3333333)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mold(c.point), c.text);
    EXPECT_EQ(form(c.point), c.text);
    EXPECT_EQ(reloaded(c.point), typed_mold(c.point));
  }
}

TEST_F(PointTest, LiteralsLoadTwoOrThreeNumbers) {
  EXPECT_EQ(typed_mold(V("(1, 2)")), "point2D! (1, 2)");
  EXPECT_EQ(typed_mold(V("(1.5,-2)")), "point2D! (1.5, -2)");
  EXPECT_EQ(typed_mold(V("(1, 2, 3)")), "point3D! (1, 2, 3)");
  EXPECT_EQ(typed_mold(V("(1.#INF, 0)")), "point2D! (1.#INF, 0)");
  for (const char* source : {"(1, 2, 3, 4)", "(1,)", "(1, a)"}) {
    Cell loaded = make_cell(TYPE_UNSET);
    TypeId type = word::scan_text(source, &loaded);
    EXPECT_NE(type, TYPE_POINT2D) << source;
    EXPECT_NE(type, TYPE_POINT3D) << source;
  }
}

// --- make and to --------------------------------------------------------------------------

TEST_F(PointTest, MakeAndToFromNumbersPairsPointsBlocksAndText) {
  struct Case {
    TypeId type;
    Cell spec;
    const char* expected;
  } cases[] = {
      {TYPE_POINT2D, I(3), "point2D! (3, 3)"},
      {TYPE_POINT2D, F(0.1), "point2D! (0.1, 0.1)"},
      {TYPE_POINT2D, Pr(1, 2), "point2D! (1, 2)"},
      {TYPE_POINT2D, P2(1, 2), "point2D! (1, 2)"},
      {TYPE_POINT2D, P3(1, 2, 3), "error bad-to-arg"},
      {TYPE_POINT2D, Blk({I(1), F(2.5)}), "point2D! (1, 2.5)"},
      {TYPE_POINT2D, Blk({I(1), F(2.5), I(9)}), "point2D! (1, 2.5)"},
      {TYPE_POINT2D, Blk({I(1)}), "error malconstruct"},
      {TYPE_POINT2D, Blk({I(1), S("2")}), "error malconstruct"},
      {TYPE_POINT2D, S("(4, 5)"), "point2D! (4, 5)"},
      {TYPE_POINT2D, S("(4, 5, 6)"), "error bad-to-arg"},
      {TYPE_POINT2D, S("4"), "error bad-to-arg"},
      {TYPE_POINT2D, None(), "error bad-to-arg"},
      {TYPE_POINT3D, I(-1), "point3D! (-1, -1, -1)"},
      {TYPE_POINT3D, Pr(1, 2), "point3D! (1, 2, 0)"},
      {TYPE_POINT3D, P2(1, 2), "point3D! (1, 2, 0)"},
      {TYPE_POINT3D, P3(1, 2, 3), "point3D! (1, 2, 3)"},
      {TYPE_POINT3D, Blk({I(1), I(2)}), "error malconstruct"},
      {TYPE_POINT3D, Blk({I(1), I(2), F(3.5)}), "point3D! (1, 2, 3.5)"},
      {TYPE_POINT3D, S("(1, 2, 3)"), "point3D! (1, 2, 3)"},
      {TYPE_POINT3D, S("(1, 2)"), "error bad-to-arg"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(converted<Action::make>(c.type, c.spec), c.expected) << datatype_name(c.type) << " " << mold(c.spec);
    EXPECT_EQ(converted<Action::to>(c.type, c.spec), c.expected) << datatype_name(c.type) << " " << mold(c.spec);
  }
}

// --- Arithmetic ------------------------------------------------------------------------------

TEST_F(PointTest, ArithmeticWithNumbersPairsAndPoints) {
  struct Case {
    Action action;
    Cell left;
    Cell right;
    const char* expected;
  } cases[] = {
      {Action::multiply, P2(1, 2), F(0.5), "point2D! (0.5, 1)"},
      {Action::divide, P2(1, 2), I(0), "point2D! (1.#INF, 1.#INF)"},
      {Action::divide, P2(1, -2), F(0.0), "point2D! (1.#INF, -1.#INF)"},
      {Action::divide, P2(0, 1), F(0.0), "point2D! (1.#NaN, 1.#INF)"},
      {Action::add, P2(1, 2), I(1), "point2D! (2, 3)"},
      {Action::add, P2(1, 2), Pr(10, 20), "point2D! (11, 22)"},
      {Action::subtract, P2(1, 2), P2(0.5, 0.5), "point2D! (0.5, 1.5)"},
      {Action::remainder, P2(7.5, -7.5), I(2), "point2D! (1.5, -1.5)"},
      {Action::multiply, P2(1, 2), P(0.5), "point2D! (0.5, 1)"},
      {Action::add, P2(1, 2), P3(1, 2, 3), "error invalid-type"},
      {Action::add, P2(1, 2), S("1"), "error invalid-type"},
      {Action::add, P3(1, 2, 3), P3(1, 1, 1), "point3D! (2, 3, 4)"},
      {Action::multiply, P3(1, 2, 3), I(2), "point3D! (2, 4, 6)"},
      {Action::add, P3(1, 2, 3), Pr(1, 1), "error invalid-type"},
      {Action::add, P3(1, 2, 3), P2(1, 1), "error invalid-type"},
      // A number or a pair on the left arrives through their own arithmetic.
      {Action::add, Pr(3, 4), P2(0.5, 0.5), "point2D! (3.5, 4.5)"},
      {Action::add, I(1), P2(0.5, 0.5), "point2D! (1.5, 1.5)"},
      {Action::subtract, I(1), P2(0.5, 2), "point2D! (0.5, -1)"},
      {Action::multiply, F(2.0), P3(1, 2, 3), "point3D! (2, 4, 6)"},
      {Action::divide, I(1), P2(1, 1), "error not-related"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(math(c.action, c.left, c.right), c.expected)
        << action_word(c.action) << " " << mold(c.left) << " " << mold(c.right);
}

TEST_F(PointTest, ResultsAreStoredInSinglePrecision) {
  Cell sum = call_frame_action(Action::add, {P2(0.1, 0), F(0.2)});
  EXPECT_EQ(point2d::x_of(sum), static_cast<float>(static_cast<double>(0.1f) + 0.2));
  Cell big = call_frame_action(Action::multiply, {P2(1e30, 1), F(1e30)});
  EXPECT_TRUE(std::isinf(point2d::x_of(big)));
}

TEST_F(PointTest, NegateAbsoluteAndReverse) {
  EXPECT_EQ(outcome([] { return call_unary(Action::negate, P2(0, -1)); }), "point2D! (0, 1)");
  Cell negated = call_unary(Action::negate, P2(0, -1));
  EXPECT_EQ(bits_of(point2d::x_of(negated)), 0u);  // a positive zero
  EXPECT_EQ(outcome([] { return call_unary(Action::absolute, P3(-1, 2, -0.5)); }), "point3D! (1, 2, 0.5)");
  EXPECT_EQ(outcome([] {
              stack::Guard guard;
              stack::mark_native(nullptr);
              Cell* p = stack::push(P3(1, 2, 3));
              return *actions::handler_for<Action::reverse>(*p)(p, -1, -1);
            }),
            "point3D! (3, 2, 1)");
  EXPECT_EQ(outcome([] {
              stack::Guard guard;
              stack::mark_native(nullptr);
              Cell* p = stack::push(P2(1, 2));
              return *actions::handler_for<Action::reverse>(*p)(p, -1, -1);
            }),
            "point2D! (2, 1)");
}

// --- Comparison ------------------------------------------------------------------------------

TEST_F(PointTest, EqualityIsTolerantStrictEqualityExact) {
  Cell computed = call_frame_action(Action::multiply, {P2(0.1, 0), F(3.0)});
  computed = call_frame_action(Action::divide, {computed, F(3.0)});
  float next = std::nextafter(0.1f, 1.0f);
  struct Case {
    Cell left;
    Cell right;
    int32_t op;
    const char* expected;
  } cases[] = {
      {P2(next, 0), P2(0.1, 0), kCmpEqual, "true"},
      {P2(next, 0), P2(0.1, 0), kCmpStrictEqual, "false"},
      {computed, P2(0.1, 0), kCmpEqual, "true"},
      {P2(0.1, 0), P2(0.1, 0), kCmpStrictEqual, "true"},
      {P2(0.1, 0), P2(0.2, 0), kCmpEqual, "false"},
      {P2(0, 0), P2(-0.0, 0), kCmpStrictEqual, "true"},
      {P2(0, 0), P2(-0.0, 0), kCmpSame, "false"},
      {P2(std::nan(""), 0), P2(std::nan(""), 0), kCmpStrictEqual, "false"},
      {P2(1, 2), Pr(1, 2), kCmpEqual, "true"},
      {Pr(1, 2), P2(1, 2), kCmpEqual, "true"},
      {P2(1, 2), P2(1, 3), kCmpLesser, "true"},
      {P2(2, 0), P2(1, 3), kCmpGreater, "true"},
      {P3(1, 2, 3), P3(1, 2, 4), kCmpLesser, "true"},
      {P3(1, 2, 3), P2(1, 2), kCmpEqual, "false"},
      {P3(1, 2, 0), Pr(1, 2), kCmpEqual, "false"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(relation(c.left, c.right, c.op), c.expected) << mold(c.left) << " op " << c.op << " " << mold(c.right);
}

// --- Rounding --------------------------------------------------------------------------------

TEST_F(PointTest, RoundingEachAxis) {
  struct Case {
    Cell value;
    const char* refinements;
    std::optional<Cell> scale;
    const char* expected;
  } cases[] = {
      {P2(1.5, -2.5), "", std::nullopt, "point2D! (2, -3)"},
      {P2(1.5, -2.5), "even", std::nullopt, "point2D! (2, -2)"},
      {P2(1.26, 7), "to", F(0.5), "point2D! (1.5, 7)"},
      {P2(17, 17), "to", Pr(5, 10), "point2D! (15, 20)"},
      {P2(17, 17), "to", P2(5, 0.25), "point2D! (15, 17)"},
      {P3(1.2, 2.7, 3.3), "to", P2(1, 1), "point3D! (1, 3, 3.3)"},
      {P3(1.2, 2.7, 3.3), "down", std::nullopt, "point3D! (1, 2, 3)"},
      {P2(1e20, 1), "to", I(1), "point2D! (1e20, 1)"},
      {P2(1, 1), "to", V("$1"), "error not-related"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(outcome([&] { return call_round(c.value, c.refinements, c.scale ? &*c.scale : nullptr); }), c.expected)
        << mold(c.value) << " " << c.refinements;
}

// --- Access ---------------------------------------------------------------------------------

TEST_F(PointTest, PathsAndPickReadAndWriteAxes) {
  EXPECT_EQ(outcome([] { return path_get(P2(1, 2.5), W("y")); }), "float! 2.5");
  EXPECT_EQ(outcome([] { return path_get(P3(1, 2, 3), I(3)); }), "float! 3.0");
  EXPECT_EQ(outcome([] { return path_get(P3(1, 2, 3), W("Z")); }), "float! 3.0");
  EXPECT_EQ(outcome([] { return path_get(P2(1, 2), W("z")); }), "error invalid-path");
  EXPECT_EQ(outcome([] { return path_get(P2(1, 2), I(3)); }), "error invalid-path");
  EXPECT_EQ(outcome([] { return path_set(P2(1, 2), W("x"), F(0.25)); }), "point2D! (0.25, 2)");
  EXPECT_EQ(outcome([] { return path_set(P3(1, 2, 3), I(3), I(7)); }), "point3D! (1, 2, 7)");
  EXPECT_EQ(outcome([] { return path_set(P2(1, 2), W("x"), S("1")); }), "error invalid-type");
  EXPECT_EQ(outcome([] { return pick(P2(1, 2), I(2)); }), "float! 2.0");
  EXPECT_EQ(outcome([] { return pick(P2(1, 2), W("x")); }), "float! 1.0");
  EXPECT_EQ(outcome([] { return pick(P2(1, 2), I(3)); }), "error out-of-range");
  EXPECT_EQ(outcome([] { return pick(P2(1, 2), W("w")); }), "error cannot-use");
  EXPECT_EQ(point3d::get_axis(W("z")), 3);
  EXPECT_EQ(point2d::get_axis(W("z")), 0);
}

Cell random_of(const Cell& value, bool seed) {
  stack::Guard guard;
  stack::mark_native(nullptr);
  Cell* argument = stack::push(value);
  return *actions::handler_for<Action::random>(value)(argument, seed ? 0 : -1, -1, -1);
}

TEST_F(PointTest, RandomStaysBetweenZeroAndEachAxis) {
  random_of(P2(3, 4), true);
  Cell first = random_of(P3(10, -10, 0), false);
  random_of(P2(3, 4), true);
  EXPECT_EQ(mold(random_of(P3(10, -10, 0), false)), mold(first));
  for (int i = 0; i < 100; ++i) {
    Cell drawn = random_of(P3(10, -10, 0), false);
    EXPECT_GE(point3d::x_of(drawn), 0.0f);
    EXPECT_LE(point3d::x_of(drawn), 10.0f);
    EXPECT_LE(point3d::y_of(drawn), 0.0f);
    EXPECT_GE(point3d::y_of(drawn), -10.0f);
    EXPECT_EQ(point3d::z_of(drawn), 0.0f);
  }
}

}  // namespace
}  // namespace kel
