// The start-up wiring check: after the boot every native, action and hook
// slot is filled, and a slot left empty is named and stops the start-up.
#include <string>
#include <vector>

#include "boot/wiring_check.h"
#include "datatypes/block.h"
#include "datatypes/string.h"
#include "evaluator/natives.h"
#include "test_support.h"

namespace kel::testing {
namespace {

std::string joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += name + "; ";
  return text;
}

class WiringCheck : public RuntimeTest {};

TEST_F(WiringCheck, EverySlotIsFilledAfterStartUp) {
  EXPECT_TRUE(boot::unwired_slots().empty()) << joined(boot::unwired_slots());
}

// Empties the print native and the comparator hooks for its lifetime.
class EmptiedSlots {
 public:
  EmptiedSlots()
      : print_(natives::entry(static_cast<uint32_t>(natives::Native::print))),
        blocks_(block::comparator_caller()),
        strings_(string::comparator_caller()) {
    natives::install(natives::Native::print, nullptr);
    block::set_comparator_caller(nullptr);
    string::set_comparator_caller(nullptr);
  }
  ~EmptiedSlots() {
    natives::install(natives::Native::print, print_);
    block::set_comparator_caller(blocks_);
    string::set_comparator_caller(strings_);
  }

 private:
  natives::Entry print_;
  block::ComparatorCaller blocks_;
  string::ComparatorCaller strings_;
};

TEST_F(WiringCheck, AnEmptySlotIsNamed) {
  EmptiedSlots emptied;
  EXPECT_EQ(boot::unwired_slots(),
            (std::vector<std::string>{"native 23 print", "hook sort/compare of blocks", "hook sort/compare of strings"}));
}

TEST_F(WiringCheck, AnEmptySlotStopsTheStartUp) {
  boot::require_wiring_check();
  EXPECT_EXIT(
      {
        EmptiedSlots emptied;
        boot::check_wiring();
      },
      ::testing::ExitedWithCode(70), "start-up left 3 slots empty:\n  native 23 print\n");
  boot::check_wiring();  // every slot filled again: nothing happens
}

}  // namespace
}  // namespace kel::testing
