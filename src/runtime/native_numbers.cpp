// The numbers of the natives (see native_numbers.h).
#include "runtime/native_numbers.h"

namespace kel::natives {

const char* native_word(uint32_t number) {
  switch (number) {
#define KEL_NATIVE_WORD(n, ident, word) \
  case n:                               \
    return word;
    KEL_NATIVES(KEL_NATIVE_WORD)
#undef KEL_NATIVE_WORD
    default: return nullptr;
  }
}

bool valid(uint32_t number) { return number >= 1 && number <= kNativeCount; }

}  // namespace kel::natives
