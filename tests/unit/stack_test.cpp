// The evaluation stack: frames, unwinding, limits and the raise of errors to
// the nearest try frame.
#include "runtime/stack.h"

#include <gtest/gtest.h>

#include "datatypes/integer.h"
#include "runtime/random.h"
#include "test_support.h"

namespace kel {
namespace {

using testing::catch_error;
using StackTest = testing::RuntimeTest;

TEST_F(StackTest, UnwindingTheOutermostFrameLeavesTheStackEmpty) {
  stack::init();
  stack::mark_native(nullptr);
  stack::push(integer::make(1));
  stack::push(integer::make(2));
  stack::unwind();
  EXPECT_TRUE(stack::empty());
  EXPECT_EQ(stack::arguments(), stack::bottom);
  EXPECT_EQ(stack::top, stack::bottom + 1) << "one result cell is kept";
  stack::init();
}

TEST_F(StackTest, UnwindLastCopiesTheResultIntoTheCallersSlot) {
  stack::Guard guard;
  stack::mark_native(nullptr);
  Cell* caller_slot = stack::push(integer::make(0));
  stack::mark_native(nullptr);
  stack::push(integer::make(42));
  stack::unwind_last();
  EXPECT_EQ(caller_slot->int_at2(), 42);
  EXPECT_EQ(stack::arguments(), caller_slot);
}

TEST_F(StackTest, ValueStackOverflowsAtItsCapacity) {
  stack::init();
  for (uint32_t i = 1; i < stack::kValueCapacity; ++i) stack::push(integer::make(1));
  auto error = catch_error([] { stack::push(integer::make(1)); });
  EXPECT_EQ(error, ErrorId::internal_stack_overflow);
  stack::init();
}

TEST_F(StackTest, FrameStackOverflowsAtItsCapacity) {
  stack::init();
  for (uint32_t i = 1; i < stack::kFrameCapacity; ++i) stack::mark_native(nullptr);
  // The test's own try frame takes the last record.
  auto error = catch_error([] { stack::mark_native(nullptr); });
  EXPECT_EQ(error, ErrorId::internal_stack_overflow);
  stack::init();
}

TEST_F(StackTest, ErrorLeavesTheCellsAboveTheTryFrameAndPushesItself) {
  stack::init();
  stack::mark_try(nullptr);
  Cell* kept = stack::push(integer::make(7));
  stack::mark_native(nullptr);
  stack::mark_loop(nullptr);
  stack::push(integer::make(8));
  try {
    fire(ErrorId::math_zero_divide);
  } catch (const exits::Unwind& u) {
    EXPECT_EQ(u.code, exits::kError);
  }
  EXPECT_TRUE(stack::empty()) << "the try frame is popped too";
  EXPECT_EQ(kept->int_at2(), 7);
  EXPECT_TRUE(stack::get_top()->is(TYPE_ERROR));
  EXPECT_EQ(error_value::id_of(*stack::get_top()), ErrorId::math_zero_divide);
  stack::init();
}

TEST_F(StackTest, UnrollStopsAtTheNearestFrameOfTheKind) {
  stack::init();
  stack::mark_loop(nullptr);
  Cell* loop_first = stack::push(integer::make(1));
  stack::mark_native(nullptr);
  stack::mark_native(nullptr);
  stack::push(integer::make(99));
  stack::unroll_last(stack::kLoop);
  EXPECT_EQ(stack::depth(), 1u);
  EXPECT_EQ(loop_first->int_at2(), 99) << "the innermost result reaches the loop's first cell";
  stack::init();
}

TEST_F(StackTest, EvalLooksForInterpreterFrames) {
  stack::Guard guard;
  stack::mark_interp(nullptr);
  stack::set_interp_flag();
  stack::mark_native(nullptr);
  EXPECT_TRUE(stack::opened_by_interpreter(nullptr, false));
  EXPECT_FALSE(stack::opened_by_interpreter(nullptr, true));
}

TEST_F(StackTest, PopNeverGoesBelowTheBottom) {
  stack::Guard guard;
  stack::init();
  stack::push(integer::make(1));
  stack::pop(5);
  EXPECT_EQ(stack::top, stack::bottom);
  EXPECT_EQ(stack::get_top(), stack::bottom);
}

TEST(RandomTest, SequencesAfterSeeding) {
  random::seed(0);
  EXPECT_EQ(random::rand(), 0);
  random::seed(1);
  EXPECT_EQ(random::rand(), 4194449);
  EXPECT_EQ(random::rand(), 1284266036);
  EXPECT_EQ(random::rand(), 226251983);
  random::init();
  EXPECT_EQ(random::rand(), 1573102752);
  EXPECT_EQ(random::rand(), 2054623780);
}

TEST(RandomTest, DrawsAreNeverNegativeAcrossRegenerations) {
  random::seed(12345);
  for (int i = 0; i < 5000; ++i) ASSERT_GE(random::rand(), 0);
  for (int i = 0; i < 100; ++i) ASSERT_GE(random::rand_secure(), 0);
}

TEST(RandomTest, UniformIntegerBounds) {
  random::seed(7);
  for (int i = 0; i < 200; ++i) {
    EXPECT_EQ(random::int_uniform(false, 1), 1);
    EXPECT_EQ(random::int_uniform(false, -1), -1);
    int32_t d = random::int_uniform(false, 6);
    EXPECT_TRUE(d >= 1 && d <= 6);
    int32_t m = random::int_uniform(false, INT32_MIN);
    EXPECT_TRUE(m < 0);
  }
  random::seed(3);
  int32_t expected = random::rand();
  random::seed(3);
  EXPECT_EQ(random::int_uniform(false, 0), 0);
  EXPECT_EQ(random::rand(), expected) << "a zero bound draws nothing";
}

}  // namespace
}  // namespace kel
