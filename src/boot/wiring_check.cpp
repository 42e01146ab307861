// The start-up wiring check (see wiring_check.h).
#include "boot/wiring_check.h"

#include <cstdio>
#include <cstdlib>

#include "console/case_evaluation.h"
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/natives.h"
#include "io/lexer.h"
#include "runtime/output_hooks.h"

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

// The natives whose families are not built yet (child processes): until
// they are, calling them raises internal not-done. This list is the one
// place that admits an empty native slot; an entry goes when its native is
// installed.
constexpr natives::Native kNotBuiltYet[] = {natives::Native::call};

bool not_built_yet(uint32_t number) {
  for (natives::Native native : kNotBuiltYet)
    if (static_cast<uint32_t>(native) == number) return true;
  return false;
}
}  // namespace

std::vector<std::string> unwired_slots() {
  std::vector<std::string> missing;
  for (uint32_t number = 1; number <= natives::kNativeCount; ++number) {
    if (natives::entry(number) == nullptr && !not_built_yet(number))
      missing.push_back("native " + std::to_string(number) + " " + natives::native_word(number));
  }
  for (uint32_t slot = 1; slot <= kActionSlots; ++slot) {
    if (slot != kSetPathSlot && action_entries::entry(slot) == nullptr)
      missing.push_back("action entry " + std::to_string(slot));
  }
  auto hook = [&](bool filled, const char* name) {
    if (!filled) missing.push_back(std::string("hook ") + name);
  };
  hook(block::comparator_caller() != nullptr, "sort/compare of blocks");
  hook(string::comparator_caller() != nullptr, "sort/compare of strings");
  hook(word::scanner() != nullptr, "word scanner");
  hook(lexer::callback_bridge().call != nullptr && lexer::callback_bridge().first_body_value != nullptr,
       "lexer callback bridge");
  hook(output_hooks::print_hook_count() > 0, "print");
  hook(date::months_source() != nullptr, "month names");
  hook(case_evaluation::installed() != nullptr, "case evaluator");
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
