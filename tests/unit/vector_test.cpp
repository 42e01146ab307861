// vector!: making vectors from specs, their text (which makes the same
// vector again), element sizes and the inherited series actions on them,
// append/insert/change, comparison, and element-wise arithmetic with
// numbers and with other vectors.
#include <gtest/gtest.h>

#include <string>

#include "datatypes/vector.h"
#include "io/lexer.h"
#include "value_types_helpers.h"

namespace kel {
namespace {

using namespace value_types_testing;

class VectorTest : public LiteralTest {};

Cell C(uint32_t code_point) { return make_cell(TYPE_CHAR, 0, code_point); }
Cell Pc(double fraction) { return float_type::make(fraction, TYPE_PERCENT); }

// The value of Kel source text evaluated as "make vector! <source>" would
// be: the source is loaded by the lexer, then given to make.
Cell make_vector(const Cell& spec) { return convert<Action::make>(TYPE_VECTOR, spec); }
Cell made_from(std::string_view spec_source) { return make_vector(V(spec_source)); }

std::string made(std::string_view spec_source) {
  Cell spec = V(spec_source);
  std::string text;
  std::optional<ErrorId> error = testing::catch_error([&] { text = mold(make_vector(spec)); });
  return error ? std::string("error ") + error_info(*error).word : text;
}

// --- make and text ---------------------------------------------------------------------------

TEST_F(VectorTest, MakeFromSpecsAndMold) {
  struct Case {
    const char* spec;
    const char* expected;
  } cases[] = {
      {"3", "make vector! [0 0 0]"},
      {"2.9", "make vector! [0 0]"},
      {"0", "make vector! [integer! 32 []]"},
      {"-4", "make vector! [integer! 32 []]"},
      {"[]", "make vector! [integer! 32 []]"},
      {"[1 2 3]", "make vector! [1 2 3]"},
      {"[integer! 16 [1 2]]", "make vector! [integer! 16 [1 2]]"},
      {"[integer! 8 [200]]", "make vector! [integer! 8 [-56]]"},
      {"[integer! 8 3 [1]]", "make vector! [integer! 8 [1 0 0]]"},
      {"[integer! 32 2]", "make vector! [0 0]"},
      {"[integer! 32]", "make vector! [integer! 32 []]"},
      {"[percent! [50%]]", "make vector! [50%]"},
      {"[percent! 16 [50% 12.5%]]", "make vector! [50% 12.5%]"},
      {"[float! 32 [1.5 0.1]]", "make vector! [float! 32 [1.5 0.1]]"},
      {"[float! 64 [1.5]]", "make vector! [1.5]"},
      {"[2.0 3.5]", "make vector! [2.0 3.5]"},
      {"[char! 8 [#\"a\" #\"^/\"]]", "make vector! [char! 8 [#\"a\" #\"^/\"]]"},
      {"[#\"a\" #\"b\"]", "make vector! [#\"a\" #\"b\"]"},
      {"[1 2.0]", "error invalid-arg"},
      {"[integer! 8 [1.5]]", "error invalid-arg"},
      {"[integer!]", "error bad-make-arg"},
      {"[thing! 8]", "error bad-make-arg"},
      {"[integer! 12 [1]]", "error bad-make-arg"},
      {"[float! 16 []]", "error bad-make-arg"},
      {"[float! [1.5]]", "error invalid-spec-field"},
      {"[integer! 32 -1]", "error invalid-spec-field"},
      {"[integer! 32 3 4]", "error invalid-spec-field"},
      {"[integer! 32 [1] [2]]", "error invalid-spec-field"},
      {"[\"a\"]", "error invalid-type"},
      {"\"a\"", "error not-done"},
  };
  for (const Case& c : cases) EXPECT_EQ(made(c.spec), c.expected) << c.spec;
}

TEST_F(VectorTest, FormWritesTheElementsOnly) {
  EXPECT_EQ(form(made_from("[1 -2 3]")), "1 -2 3");
  EXPECT_EQ(form(made_from("[#\"a\" #\"b\"]")), "a b");
  EXPECT_EQ(form(made_from("[percent! [50%]]")), "50%");
  EXPECT_EQ(form(made_from("[]")), "");
}

TEST_F(VectorTest, MoldStopsAtThePartLimitAndOnlyLeavesTheOuterBrackets) {
  Cell vector = made_from("[1 2 3]");
  EXPECT_EQ(molded_part(vector, 15), "make vector! [1");
  EXPECT_EQ(molded_part(vector, 0x7FFFFFFF, true), "1 2 3");
  EXPECT_EQ(molded_part(made_from("[integer! 8 [1]]"), 0x7FFFFFFF, true), "integer! 8 [1]");
}

// The vector that a mold makes when it is evaluated.
Cell remade(const Cell& vector) {
  std::string text = mold(vector);
  Cell loaded = make_cell(TYPE_UNSET);
  lexer::load(&loaded, reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()));
  return make_vector(*block::rs_abs_at(&loaded, 2));
}

TEST_F(VectorTest, TheMoldMakesTheSameVectorAgain) {
  for (const char* spec : {"[1 2 3]", "[integer! 8 [-1 127]]", "[integer! 16 []]", "[char! 32 [#\"^(20AC)\"]]",
                           "[percent! [50% 0.1%]]", "[float! 32 [0.25 -8.5]]", "[1.0 0.1 1e300]"}) {
    Cell vector = made_from(spec);
    Cell again = remade(vector);
    EXPECT_EQ(mold(again), mold(vector)) << spec;
    EXPECT_EQ(vector::element_size_of(&again), vector::element_size_of(&vector)) << spec;
    EXPECT_EQ(compare(again, vector, kCmpEqual), 0) << spec;
  }
}

// --- Element sizes and inherited series actions --------------------------------------------

TEST_F(VectorTest, ElementSizesAreTheBufferUnit) {
  struct Case {
    const char* spec;
    uint32_t size;
  } cases[] = {
      {"[1]", 4},           {"[integer! 8 [1]]", 1}, {"[integer! 16 [1]]", 2}, {"[#\"a\"]", 4},
      {"[char! 8 [#\"a\"]]", 1}, {"[1.5]", 8},       {"[float! 32 [1.5]]", 4}, {"[percent! [1%]]", 8},
      {"[percent! 32 [1%]]", 8},
  };
  for (const Case& c : cases) {
    Cell vector = made_from(c.spec);
    EXPECT_EQ(vector::element_size_of(&vector), c.size) << c.spec;
    EXPECT_EQ(vector::buffer_of(&vector)->unit(), c.size) << c.spec;
  }
}

TEST_F(VectorTest, InheritedSeriesActionsWorkOnEveryElementSize) {
  Cell doubles = made_from("[1.5 2.5 3.5]");
  EXPECT_EQ(typed_mold(pick(doubles, I(2))), "float! 2.5");
  EXPECT_EQ(actions::handler_for<Action::length_q>(doubles)(&doubles), 3);
  Cell bytes = made_from("[integer! 8 [200 1]]");
  EXPECT_EQ(typed_mold(pick(bytes, I(1))), "integer! -56");
  Cell percents = made_from("[percent! [50% 25%]]");
  EXPECT_EQ(typed_mold(pick(percents, I(2))), "percent! 25%");
  {
    stack::Guard guard;
    stack::mark_native(nullptr);
    Cell* series = stack::push(doubles);
    actions::handler_for<Action::reverse>(*series)(series, -1, -1);
  }
  EXPECT_EQ(mold(doubles), "make vector! [3.5 2.5 1.5]");
  {
    stack::Guard guard;
    stack::mark_native(nullptr);
    Cell* series = stack::push(doubles);
    Cell* index = stack::push(I(1));
    Cell* value = stack::push(F(9.0));
    actions::handler_for<Action::poke>(*series)(series, 1, value, index);
  }
  EXPECT_EQ(mold(doubles), "make vector! [9.0 2.5 1.5]");
}

TEST_F(VectorTest, ElementsAsValuesOfTheirType) {
  Cell vector = made_from("[integer! 8 [200 1 2]]");
  vector.data1 = 1;
  Cell block = make_cell(TYPE_UNSET);
  vector::to_block(&vector, &block);
  EXPECT_EQ(typed_mold(block), "block! [1 2]");
  Cell chars = made_from("[char! 16 [#\"a\" #\"^(20AC)\"]]");
  vector::to_block(&chars, &block);
  EXPECT_EQ(block::rs_abs_at(&block, 1)->data2, 0x20ACu);
  uint8_t element[8] = {};
  vector::set_value(element, F(0.1), 4);
  EXPECT_EQ(typed_mold(vector::element_value(element, 4, TYPE_FLOAT)), "float! " + mold(F(static_cast<float>(0.1))));
  vector::set_value(element, I(-2), 2);
  EXPECT_EQ(vector::element_as_integer(element, 2), -2);
  EXPECT_EQ(vector::element_as_integer(element, 1), -2);
}

// --- append, insert, change -----------------------------------------------------------------

Cell series_call(Action action, const Cell& vector, const Cell& value, std::optional<Cell> part = {},
                 std::optional<Cell> dup = {}) {
  stack::Guard guard;
  stack::mark_native(nullptr);
  Cell* series = stack::push(vector);
  Cell* argument = stack::push(value);
  int part_index = -1, dup_index = -1;
  if (part) {
    stack::push(*part);
    part_index = 2;
  }
  if (dup) {
    stack::push(*dup);
    dup_index = part ? 3 : 2;
  }
  auto handler = reinterpret_cast<ActionHandler<Action::append>>(action_entry(TYPE_VECTOR, action));
  return *handler(series, argument, part_index, -1, dup_index);
}

TEST_F(VectorTest, AppendInsertAndChange) {
  Cell vector = made_from("[1 2]");
  series_call(Action::append, vector, I(3));
  series_call(Action::append, vector, Blk({I(4), I(5), I(6)}), I(2));
  series_call(Action::append, vector, I(0), std::nullopt, I(3));
  EXPECT_EQ(mold(vector), "make vector! [1 2 3 4 5 0 0 0]");
  Cell at_second = vector;
  at_second.data1 = 1;
  Cell after = series_call(Action::insert, at_second, Blk({I(7), I(8)}));
  EXPECT_EQ(after.data1, 3u);
  EXPECT_EQ(mold(vector), "make vector! [1 7 8 2 3 4 5 0 0 0]");
  Cell changed = series_call(Action::change, at_second, Blk({I(9)}), I(3));
  EXPECT_EQ(mold(vector), "make vector! [1 9 3 4 5 0 0 0]");
  EXPECT_EQ(changed.data1, 2u);
  series_call(Action::change, at_second, made_from("[10 11]"));
  EXPECT_EQ(mold(vector), "make vector! [1 10 11 4 5 0 0 0]");
  // A vector appended to itself doubles.
  Cell small = made_from("[integer! 16 [1 2]]");
  series_call(Action::append, small, small);
  EXPECT_EQ(mold(small), "make vector! [integer! 16 [1 2 1 2]]");
}

TEST_F(VectorTest, ValuesOfAnotherTypeAreRefusedBeforeAnythingChanges) {
  Cell vector = made_from("[1 2]");
  EXPECT_EQ(error_of([&] { series_call(Action::append, vector, Blk({I(3), F(4.0)})); }), "invalid-arg");
  EXPECT_EQ(error_of([&] { series_call(Action::insert, vector, C('a')); }), "invalid-arg");
  EXPECT_EQ(error_of([&] { series_call(Action::change, vector, made_from("[1.5]")); }), "invalid-arg");
  EXPECT_EQ(mold(vector), "make vector! [1 2]");
  EXPECT_EQ(error_of([&] {
              stack::Guard guard;
              stack::mark_native(nullptr);
              Cell* series = stack::push(vector);
              Cell* index = stack::push(I(1));
              Cell* value = stack::push(F(1.0));
              actions::handler_for<Action::poke>(*series)(series, 1, value, index);
            }),
            "invalid-arg");
}

// --- Comparison --------------------------------------------------------------------------

TEST_F(VectorTest, Comparison) {
  Cell a = made_from("[1 2 3]");
  Cell shorter = made_from("[1 2]");
  EXPECT_EQ(relation(a, made_from("[integer! 8 [1 2 3]]"), kCmpEqual), "true");
  EXPECT_EQ(relation(a, shorter, kCmpEqual), "false");
  EXPECT_EQ(relation(shorter, a, kCmpLesser), "true");
  EXPECT_EQ(relation(made_from("[1 5]"), a, kCmpGreater), "true");
  EXPECT_EQ(relation(made_from("[1.5]"), made_from("[float! 32 [1.5]]"), kCmpEqual), "true");
  EXPECT_EQ(relation(a, made_from("[1.0 2.0 3.0]"), kCmpEqual), "error not-same-type");
  EXPECT_EQ(relation(a, a, kCmpSame), "true");
  EXPECT_EQ(relation(a, made_from("[1 2 3]"), kCmpSame), "false");
  EXPECT_EQ(relation(made_from("[]"), made_from("[integer! 8 []]"), kCmpEqual), "true");
  EXPECT_EQ(relation(a, I(1), kCmpEqual), "false");
}

// --- Arithmetic ------------------------------------------------------------------------------

std::string scalar(Action action, const char* spec, const Cell& number) {
  return outcome([&] { return call_frame_action(action, {made_from(spec), number}); });
}

TEST_F(VectorTest, ArithmeticWithANumberChangesEachElement) {
  struct Case {
    Action action;
    const char* spec;
    Cell number;
    const char* expected;
  } cases[] = {
      {Action::add, "[2147483647 1]", I(1), "vector! make vector! [-2147483648 2]"},
      {Action::add, "[integer! 8 [100]]", I(100), "vector! make vector! [integer! 8 [-56]]"},
      {Action::subtract, "[1 2]", I(3), "vector! make vector! [-2 -1]"},
      {Action::multiply, "[1 2 3]", F(2.9), "vector! make vector! [2 4 6]"},  // truncated to 2
      {Action::multiply, "[1 2 3]", F(0.5), "vector! make vector! [0 0 0]"},
      {Action::add, "[1 2]", F(1e10), "error out-of-range"},
      {Action::add, "[1 2]", F(std::nan("")), "error out-of-range"},
      {Action::divide, "[7 -7]", I(2), "vector! make vector! [3 -3]"},
      {Action::remainder, "[10 20]", I(3), "vector! make vector! [1 2]"},
      {Action::divide, "[1 2]", I(0), "error zero-divide"},
      {Action::divide, "[-2147483648]", I(-1), "error overflow"},
      {Action::or_t, "[1 2]", I(4), "vector! make vector! [5 6]"},
      {Action::and_t, "[3 6]", I(2), "vector! make vector! [2 2]"},
      {Action::xor_t, "[3]", I(1), "vector! make vector! [2]"},
      {Action::multiply, "[1.5 2.5]", I(2), "vector! make vector! [3.0 5.0]"},
      {Action::divide, "[1.0]", I(0), "vector! make vector! [1.#INF]"},
      {Action::add, "[float! 32 [0.5]]", F(0.25), "vector! make vector! [float! 32 [0.75]]"},
      {Action::multiply, "[percent! [50%]]", Pc(0.5), "vector! make vector! [25%]"},
      {Action::or_t, "[1.0]", I(1), "error cannot-use"},
      {Action::add, "[#\"a\"]", I(1), "vector! make vector! [#\"b\"]"},
      {Action::add, "[1]", S("1"), "error not-done"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(scalar(c.action, c.spec, c.number), c.expected) << action_word(c.action) << " " << c.spec;
}

TEST_F(VectorTest, ArithmeticWithANumberWorksInPlace) {
  Cell vector = made_from("[1 2 3]");
  Cell result = call_frame_action(Action::add, {vector, I(10)});
  EXPECT_EQ(result.data2, vector.data2);
  EXPECT_EQ(mold(vector), "make vector! [11 12 13]");
  // Elements before the index take no part.
  Cell from_second = vector;
  from_second.data1 = 1;
  call_frame_action(Action::multiply, {from_second, I(2)});
  EXPECT_EQ(mold(vector), "make vector! [11 24 26]");
  // A failed division leaves every element as it was.
  EXPECT_EQ(error_of([&] { call_frame_action(Action::divide, {vector, I(0)}); }), "zero-divide");
  EXPECT_EQ(mold(vector), "make vector! [11 24 26]");
}

TEST_F(VectorTest, ANumberOnTheLeft) {
  // integer! arithmetic hands the operation over with the operands swapped.
  EXPECT_EQ(outcome([&] { return call_frame_action(Action::add, {I(1), made_from("[1 2]")}); }),
            "vector! make vector! [2 3]");
  EXPECT_EQ(outcome([&] { return call_frame_action(Action::multiply, {F(2.0), made_from("[1.5]")}); }),
            "vector! make vector! [3.0]");
  // Given the number first, it is the left operand of each element.
  Cell vector = made_from("[1 2 4]");
  Cell ten = I(10);
  vector::do_math_scalar(kOpSubtract, &vector, &ten, true);
  EXPECT_EQ(mold(vector), "make vector! [9 8 6]");
  Cell eight = I(8);
  vector::do_math_scalar(kOpDivide, &vector, &eight, true);
  EXPECT_EQ(mold(vector), "make vector! [0 1 1]");
  EXPECT_EQ(error_of([&] { vector::do_math_scalar(kOpDivide, &vector, &eight, true); }), "zero-divide");
}

TEST_F(VectorTest, ArithmeticBetweenVectors) {
  EXPECT_EQ(outcome([&] { return call_frame_action(Action::add, {made_from("[1 2 3]"), made_from("[10 20 30 40 50]")}); }),
            "vector! make vector! [11 22 33]");
  EXPECT_EQ(outcome([&] {
              return call_frame_action(Action::add, {made_from("[integer! 8 [100 1]]"), made_from("[integer! 16 [100 1]]")});
            }),
            "vector! make vector! [integer! 16 [200 2]]");
  EXPECT_EQ(outcome([&] { return call_frame_action(Action::subtract, {made_from("[1.5]"), made_from("[float! 32 [0.5]]")}); }),
            "vector! make vector! [1.0]");
  EXPECT_EQ(outcome([&] { return call_frame_action(Action::add, {made_from("[1]"), made_from("[1.0]")}); }),
            "error not-same-type");
  EXPECT_EQ(outcome([&] { return call_frame_action(Action::divide, {made_from("[1 2]"), made_from("[1 0]")}); }),
            "error zero-divide");
  Cell first = made_from("[1 2]");
  Cell sum = call_frame_action(Action::add, {first, made_from("[1 1]")});
  EXPECT_NE(sum.data2, first.data2);  // a new vector
  EXPECT_EQ(mold(first), "make vector! [1 2]");
}

}  // namespace
}  // namespace kel
