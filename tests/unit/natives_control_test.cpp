// The control, exit and comparison natives as C++ callers see them: with
// the check-types flag an entry refuses an argument outside its spec before
// it does anything; loop counts are coerced the way loop and repeat need.
// Their behaviour from Kel is covered by tests/kel/control.kel, exits.kel
// and compare.kel.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "evaluator/natives.h"
#include "evaluator/natives_families.h"
#include "runtime/stack.h"
#include "test_support.h"

namespace kel {
namespace {

using testing::catch_error;
using NativeEntries = testing::RuntimeTest;

// Calls a native by number in a native frame holding the given arguments,
// with no refinement used; answers the error raised, if any.
std::optional<ErrorId> call_checked(natives::Native native, std::initializer_list<Cell> arguments) {
  return catch_error([&] {
    stack::mark_native(nullptr);
    for (const Cell& argument : arguments) stack::push(argument);
    int32_t refinements[32];
    for (int32_t& r : refinements) r = -1;
    natives::call(static_cast<uint32_t>(native), true, refinements);
  });
}

TEST_F(NativeEntries, CheckedCallsRefuseArgumentsOutsideTheSpec) {
  Cell number = integer::make(1);
  Cell text = *string::push_new(4);
  Cell empty_block = *block::push_only(1);
  struct Case {
    natives::Native native;
    std::initializer_list<Cell> arguments;
  } refused[] = {
      {natives::Native::if_, {number, number}},
      {natives::Native::either, {number, empty_block, number}},
      {natives::Native::loop, {text, empty_block}},
      {natives::Native::while_, {empty_block, number}},
      {natives::Native::repeat, {number, number, empty_block}},
      {natives::Native::try_, {number}},
      {natives::Native::catch_, {text}},
      {natives::Native::union_, {number, number}},
      {natives::Native::unique, {number}},
      {natives::Native::max, {none::value, number}},
  };
  for (const Case& c : refused) {
    auto error = call_checked(c.native, c.arguments);
    ASSERT_TRUE(error.has_value()) << natives::native_word(static_cast<uint32_t>(c.native));
    EXPECT_EQ(*error, ErrorId::script_expect_arg) << natives::native_word(static_cast<uint32_t>(c.native));
  }
}

TEST_F(NativeEntries, CheckedCallsRunWithArgumentsInsideTheSpec) {
  Cell empty_block = *block::push_only(1);
  EXPECT_FALSE(call_checked(natives::Native::if_, {integer::make(1), empty_block}).has_value());
  EXPECT_FALSE(call_checked(natives::Native::loop, {integer::make(2), empty_block}).has_value());
  EXPECT_FALSE(call_checked(natives::Native::max, {integer::make(1), integer::make(2)}).has_value());
}

TEST(LoopCount, FloatsTruncateTowardZeroAndClampToTheIntegerRange) {
  testing::boot();
  struct Case {
    double count;
    int32_t expected;
  } cases[] = {
      {2.9, 2},
      {-2.9, -2},
      {0.5, 0},
      {1e12, std::numeric_limits<int32_t>::max()},
      {-1e12, std::numeric_limits<int32_t>::min()},
      {std::numeric_limits<double>::infinity(), std::numeric_limits<int32_t>::max()},
      {std::nan(""), 0},
  };
  for (const Case& c : cases) {
    Cell count = testing::float_cell(c.count);
    natives_control::coerce_count(&count);
    EXPECT_TRUE(count.is(TYPE_INTEGER)) << c.count;
    EXPECT_EQ(count.int_at2(), c.expected) << c.count;
  }
  Cell integer_count = integer::make(-7);
  natives_control::coerce_count(&integer_count);
  EXPECT_EQ(integer_count.int_at2(), -7);
}

}  // namespace
}  // namespace kel
