// The start-up wiring check: after the boot every native, action and hook
// slot is filled, and a slot left empty is named and stops the start-up.
#include <string>
#include <vector>

#include "boot/wiring_check.h"
#include "evaluator/natives.h"
#include "runtime/upcalls.h"
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

// Empties the print native and two entries of the registration table (the
// comparison sort/compare calls, and the collector's marking of the lexer's
// values) for its lifetime.
class EmptiedSlots {
 public:
  EmptiedSlots()
      : print_(natives::entry(static_cast<uint32_t>(natives::Native::print))),
        comparison_(upcalls::table.call_comparison),
        lexer_roots_(upcalls::table.mark_lexer_roots) {
    natives::install(natives::Native::print, nullptr);
    upcalls::table.call_comparison = nullptr;
    upcalls::table.mark_lexer_roots = nullptr;
  }
  ~EmptiedSlots() {
    natives::install(natives::Native::print, print_);
    upcalls::table.call_comparison = comparison_;
    upcalls::table.mark_lexer_roots = lexer_roots_;
  }

 private:
  natives::Entry print_;
  upcalls::CallComparison comparison_;
  upcalls::MarkRoots lexer_roots_;
};

TEST_F(WiringCheck, AnEmptySlotIsNamed) {
  EmptiedSlots emptied;
  EXPECT_EQ(boot::unwired_slots(),
            (std::vector<std::string>{"native 23 print",
                                      "upcall io mark_lexer_roots (the collector marks the running scans' values)",
                                      "upcall evaluator call_comparison (sort/compare with a function)"}));
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
