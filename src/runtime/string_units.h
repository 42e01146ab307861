// String units: strings hold code points in fixed-width units chosen per
// string, 1 byte (Latin-1, up to 0xFF), 2 bytes (UCS-2, up to 0xFFFF) or
// 4 bytes (UCS-4, up to 0x10FFFF); the unit is the low 5 bits of the buffer's
// flags. A string is widened in place (1 to 2, 1 to 4, 2 to 4) when a wider
// code point arrives, never narrowed except when emptied. Widening works from
// the last unit backward, so source and destination share the buffer. Any
// other unit met in a string is runtime error 101.
#pragma once

#include <cstdint>

#include "runtime/memory.h"

namespace kel::unicode {

// The unit size (1, 2 or 4) that holds a code point.
inline uint32_t unit_for(uint32_t code_point) {
  return code_point <= 0xFF ? 1 : code_point <= 0xFFFF ? 2 : 4;
}

// Ends the process with runtime error 101 (a unit that is not 1, 2 or 4).
[[noreturn]] void bad_unit();

// get_char and put_char are forced inline: a call to either costs more
// than its work, and the profile-guided build otherwise leaves them as
// calls in the codecs' loops (the JSON decoder ran 15% slower for it).

// Reads the code point stored at p in the given unit.
[[gnu::always_inline]] inline uint32_t get_char(const uint8_t* p, uint32_t unit) {
  switch (unit) {
    case 1: return *p;
    case 2: return static_cast<uint32_t>(p[0] | (p[1] << 8));
    case 4: return static_cast<uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16)) | (static_cast<uint32_t>(p[3]) << 24);
    default: bad_unit();
  }
}

// Stores a code point at p in the given unit (the caller made sure it fits).
[[gnu::always_inline]] inline void put_char(uint8_t* p, uint32_t unit, uint32_t code_point) {
  switch (unit) {
    case 1: *p = static_cast<uint8_t>(code_point); break;
    case 2:
      p[0] = static_cast<uint8_t>(code_point);
      p[1] = static_cast<uint8_t>(code_point >> 8);
      break;
    case 4:
      p[0] = static_cast<uint8_t>(code_point);
      p[1] = static_cast<uint8_t>(code_point >> 8);
      p[2] = static_cast<uint8_t>(code_point >> 16);
      p[3] = static_cast<uint8_t>(code_point >> 24);
      break;
    default: bad_unit();
  }
}

// In-place widening; each returns the (possibly moved) buffer with its tail
// at the new end and its head offset scaled.
SeriesBuffer* widen_latin1_to_ucs2(SeriesBuffer* buffer);
SeriesBuffer* widen_latin1_to_ucs4(SeriesBuffer* buffer);
SeriesBuffer* widen_ucs2_to_ucs4(SeriesBuffer* buffer);
// Widens to the unit a code point needs when the buffer's unit cannot hold it.
// one_byte_limit is the largest code point a 1-byte buffer keeps (127 for
// appends, 255 for writes and inserts).
SeriesBuffer* widen_for(SeriesBuffer* buffer, uint32_t code_point, uint32_t one_byte_limit);

}  // namespace kel::unicode
