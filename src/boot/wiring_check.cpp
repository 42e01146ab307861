// The start-up wiring check (see wiring_check.h).
#include "boot/wiring_check.h"

#include <cstdio>
#include <cstdlib>

#include "evaluator/natives.h"
#include "runtime/output_hooks.h"
#include "runtime/upcalls.h"

namespace kel::boot {

namespace {
#ifdef __OPTIMIZE__
bool required = false;
#else
bool required = true;  // a debug build always checks
#endif

// The action slot without an entry of its own: set-path is reached through
// eval-path.
constexpr uint32_t kSetPathSlot = 8;
constexpr uint32_t kActionSlots = 62;
}  // namespace

std::vector<std::string> unwired_slots() {
  std::vector<std::string> missing;
  for (uint32_t number = 1; number <= natives::kNativeCount; ++number) {
    if (natives::entry(number) == nullptr)
      missing.push_back("native " + std::to_string(number) + " " + natives::native_word(number));
  }
  for (uint32_t slot = 1; slot <= kActionSlots; ++slot) {
    if (slot != kSetPathSlot && action_entries::entry(slot) == nullptr)
      missing.push_back("action entry " + std::to_string(slot));
  }
  if (output_hooks::print_hook_count() == 0) missing.push_back("hook print");
  for (const std::string& entry : upcalls::empty_entries()) missing.push_back("upcall " + entry);
  return missing;
}

void require_wiring_check() { required = true; }

void check_wiring() {
  if (!required) return;
  std::vector<std::string> missing = unwired_slots();
  if (missing.empty()) return;
  std::fprintf(stderr, "kel: start-up left %zu slot%s empty:\n", missing.size(), missing.size() == 1 ? "" : "s");
  for (const std::string& name : missing) std::fprintf(stderr, "  %s\n", name.c_str());
  std::fflush(stderr);
  std::_Exit(70);
}

}  // namespace kel::boot
