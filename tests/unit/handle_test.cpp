// handle! texts and order for handle values no Kel text can make: a
// handle's value and its class come only from the system code that opens it.
#include "datatypes/handle.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace kel {
namespace {

using Handles = testing::RuntimeTest;

TEST_F(Handles, FormIsEightHexadecimalDigitsAndH) {
  EXPECT_EQ(testing::form(handle::make_value(255, 0)), "000000FFh");
  EXPECT_EQ(testing::form(handle::make_value(0xDEADBEEF, handle::kClassWindow)), "DEADBEEFh");
}

TEST_F(Handles, MoldAllNamesTheClassOfAClassedHandle) {
  EXPECT_EQ(actions::mold_to_string(handle::make_value(255, 0), true), "#[handle! 000000FFh]");
  EXPECT_EQ(actions::mold_to_string(handle::make_value(16, handle::kClassWindow), true), "#[handle! 00000010h window]");
  EXPECT_EQ(testing::mold(handle::make_value(16, handle::kClassWindow)), "handle!");
}

TEST_F(Handles, HandlesCompareByTheirSignedValues) {
  stack::Guard guard;
  Cell* low = stack::push(handle::make_value(0xFFFFFFFF, 0));  // -1 as a signed value
  Cell* high = stack::push(handle::make_value(3, handle::kClassWindow));
  Cell* other = stack::push(integer::make(3));
  EXPECT_EQ(actions::compare_value(low, high, kCmpSort), -1);
  EXPECT_EQ(actions::compare_value(high, low, kCmpSort), 1);
  EXPECT_EQ(actions::compare_value(high, high, kCmpEqual), 0);
  EXPECT_EQ(actions::compare_value(high, other, kCmpEqual), 1);
}

}  // namespace
}  // namespace kel
