// The text codecs of binary!: base 2, 16, 58 and 64 (enbase, debase, and
// conversions of issue! and text to bytes).
//
// Encoders write plain ASCII into a buffer the caller sized and return the
// end of what they wrote. Decoders read the code points of a text (units of
// 1, 2 or 4 bytes) and answer a new binary! node, or 0 when the text is not
// valid; they raise no error. In every decoder a ";" starts a comment that
// runs up to and including the next line feed. Hexadecimal digits are the
// ASCII "0"-"9", "A"-"F" and "a"-"f" only: no code point above 127 is ever
// a digit of any base.
#pragma once

#include <cstdint>

#include "runtime/memory.h"

namespace kel::binary {

// Room an encoder needs for count bytes.
constexpr uint64_t base2_room(uint64_t count) { return 8 * count; }
constexpr uint64_t base16_room(uint64_t count) { return 2 * count; }
constexpr uint64_t base58_room(uint64_t count) { return 2 * count; }
constexpr uint64_t base64_room(uint64_t count) { return 4 * ((count + 2) / 3); }

// Eight "0"/"1" per byte, most significant bit first.
char* encode_base2(char* output, const uint8_t* bytes, uint32_t count);
// Two upper-case hexadecimal digits per byte, high nibble first.
char* encode_base16(char* output, const uint8_t* bytes, uint32_t count);
// Bitcoin-style base 58: one "1" per leading zero byte, then the rest as
// one big-endian number (no line breaks).
char* encode_base58(char* output, const uint8_t* bytes, uint32_t count);
// RFC 4648 base 64 with "=" padding, no line breaks.
char* encode_base64(char* output, const uint8_t* bytes, uint32_t count);

// Decoders over count code points of the given unit at text.
// Base 2: blanks and control characters skipped; bits left over invalid.
NodeId decode_base2(const uint8_t* text, uint32_t count, uint32_t unit);
// Base 16: blanks and control characters skipped; a lone last digit dropped.
NodeId decode_base16(const uint8_t* text, uint32_t count, uint32_t unit);
// Base 58: tab, line feed, form feed, carriage return, space and "'"
// skipped; a code point above 127 makes the text invalid.
NodeId decode_base58(const uint8_t* text, uint32_t count, uint32_t unit);
// Base 64: the same characters skipped; "=" ends the text (with 2 or 3
// digits pending); 1 to 3 digits pending at the end without "=" are dropped.
NodeId decode_base64(const uint8_t* text, uint32_t count, uint32_t unit);
// One of the four by base (2, 16, 58, 64); 0 for any other base.
NodeId decode_base(int32_t base, const uint8_t* text, uint32_t count, uint32_t unit);

// The value of an ASCII hexadecimal digit, or -1.
inline int32_t hex_digit_value(uint32_t code_point) {
  if (code_point >= '0' && code_point <= '9') return static_cast<int32_t>(code_point - '0');
  if (code_point >= 'A' && code_point <= 'F') return static_cast<int32_t>(code_point - 'A' + 10);
  if (code_point >= 'a' && code_point <= 'f') return static_cast<int32_t>(code_point - 'a' + 10);
  return -1;
}

}  // namespace kel::binary
