// Argument checks for natives, actions and datatypes: a typeset's bitmap,
// the type check of an argument against it, and numbers taken as integers.
// The error-raising ones never return: they raise script expect-arg naming
// the current call, the value's datatype and the argument (as the
// interpreter's own checks do).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "runtime/cell.h"

namespace kel {

// True when the typeset cell's bitmap has the bit of the datatype. The
// bitmap is 96 bits from data1 on, most significant bit first in each byte.
// Every datatype's bit lies in its first 8 bytes, read as one little-endian
// word, where the bit of type t sits at t ^ 7: one shift, since the
// interpreter asks this of every argument it passes.
inline bool typeset_has(const Cell& typeset, TypeId type) {
  static_assert(std::endian::native == std::endian::little, "typeset words are read little-endian");
  if (type < 64) {
    uint64_t first_bits;
    std::memcpy(&first_bits, &typeset.data1, sizeof first_bits);
    return (first_bits >> (type ^ 7)) & 1;
  }
  const auto* bytes = reinterpret_cast<const uint8_t*>(&typeset.data1);
  return type < 96 && (bytes[type >> 3] & (0x80 >> (type & 7))) != 0;
}
inline void typeset_add(Cell& typeset, TypeId type) {
  auto* bytes = reinterpret_cast<uint8_t*>(&typeset.data1);
  bytes[type >> 3] |= static_cast<uint8_t>(0x80 >> (type & 7));
}

// Raises script expect-arg for argument index of the current call holding
// a value of the type. Installed as the runtime's raise_expect_arg entry
// (runtime/upcalls.h), which action dispatch uses for a datatype without
// a handler.
[[noreturn]] void raise_expect_arg(int32_t index, TypeId type);

// Returns the value when its type is in the typeset, else raises script
// expect-arg naming the call, the value's datatype and the argument.
const Cell* check_arg_type(const Cell& typeset, int32_t index, const Cell* value);
// Raises expect-arg (with unset! as the type) when the value is unset.
const Cell* check_arg_not_unset(int32_t index, const Cell* value);

// integer! gives its value; a float! outside the 32-bit range or NaN raises
// script out-of-range; otherwise truncated toward zero.
int32_t number_to_integer(const Cell& value);

}  // namespace kel
