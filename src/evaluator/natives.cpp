// The native table (see natives.h).
#include "evaluator/natives.h"

#include "runtime/errors.h"

namespace kel::natives {

namespace {
Entry table[kTableSize + 1];  // by number; slot 0 unused
}

void install(Native native, Entry e) { table[static_cast<uint32_t>(native)] = e; }

void init() {}

Entry entry(uint32_t number) { return number >= 1 && number <= kTableSize ? table[number] : nullptr; }

void call(uint32_t number, bool check_types, const int32_t* refinements) {
  Entry e = entry(number);
  if (e == nullptr) fire(ErrorId::internal_not_done);
  e(check_types, refinements);
}

}  // namespace kel::natives
