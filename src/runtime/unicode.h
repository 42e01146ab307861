// Unicode: conversions between UTF-8, UTF-16LE and the string units.
//
// Text enters and leaves the system as UTF-8 (files, the lexer, the network,
// the console) or UTF-16LE (the clipboard); inside, strings hold code points
// in 1-, 2- or 4-byte units (string_units.h). This module converts between
// the two and tells the display width of a code point for the terminal.
//
// Two decoders read UTF-8. The table-driven one trusts its input to be
// complete (the lexer's NUL-terminated source) and is the fast path; the
// validating one checks every byte against the bytes that exist and is used
// for text from outside. Nothing here reads a byte past the count it was
// given.
//
// Conversions to NUL-terminated text return a pointer into one shared
// scratch buffer (one for UTF-8, one for UTF-16) that stays valid until the
// next conversion of the same kind. Text written out ends lines with LF; CR LF
// appears only where a caller's crlf flag asks for it.
//
// A "part" argument limits a conversion to that many code points from the
// string's index; -1 (or any negative value) means no limit.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/string_units.h"

namespace kel::unicode {

// What an unpaired UTF-16 surrogate decodes to.
constexpr uint32_t kReplacementCharacter = 0xFFFD;
constexpr uint32_t kMaxCodePoint = 0x10FFFF;

// --- UTF-8 reading -------------------------------------------------------------

// The UTF-8 decoding automaton: the first 256 bytes map a byte to its class,
// the next 108 map state + class to the next state. States are multiples of
// 12; kUtf8Accept ends a sequence, kUtf8Reject is a malformed one (overlong
// forms, surrogates and code points above 0x10FFFF are rejected). A lead byte
// of class c contributes (0xFF >> c) & byte to the code point.
constexpr uint32_t kUtf8Accept = 0;
constexpr uint32_t kUtf8Reject = 12;
inline constexpr uint8_t kUtf8Dfa[364] = {
    // Byte classes.
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9,
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
    8, 8, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
    10, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 4, 3, 3, 11, 6, 6, 6, 5, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8,
    // Transitions, one row of 12 classes per state.
    0, 12, 24, 36, 60, 96, 84, 12, 12, 12, 48, 72, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,
    12, 0, 12, 12, 12, 12, 12, 0, 12, 0, 12, 12, 12, 24, 12, 12, 12, 12, 12, 24, 12, 24, 12, 12,
    12, 12, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12, 12, 12, 12, 24, 12, 12,
    12, 12, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12, 12, 36, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,
    12, 36, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,
};

// Table-driven decode of one sequence whose bytes the caller guarantees are
// there (NUL-terminated or validated text). *code_point is -1 for a malformed
// sequence. Returns the position after the sequence; a malformed sequence
// ends before the byte that broke it (a lead byte that cannot start one is
// passed over), so a NUL terminator is never stepped over.
inline const uint8_t* fast_decode_utf8_char(const uint8_t* p, int32_t* code_point) {
  uint32_t byte = *p++;
  uint32_t byte_class = kUtf8Dfa[byte];
  uint32_t state = kUtf8Dfa[256 + byte_class];
  uint32_t value = (0xFFu >> byte_class) & byte;
  while (state != kUtf8Accept) {
    if (state == kUtf8Reject) {
      *code_point = -1;
      return p;
    }
    byte = *p;
    state = kUtf8Dfa[256 + state + kUtf8Dfa[byte]];
    if (state == kUtf8Reject) {
      *code_point = -1;
      return p;
    }
    value = (byte & 0x3Fu) | (value << 6);
    ++p;
  }
  *code_point = static_cast<int32_t>(value);
  return p;
}

// Code points in a UTF-8 range (every byte that is not a continuation byte
// starts one).
int32_t count_chars(const uint8_t* from, const uint8_t* to);
// The position n code points further, never past to.
const uint8_t* skip_chars(const uint8_t* from, const uint8_t* to, int32_t n);
// The sequence length a lead byte announces: 4, 3 or 2, else 0.
int32_t lead_size(uint8_t byte);

// Validating decode. *count holds the bytes left on entry and the sequence
// length on return. Returns -1 when the bytes there are a valid start of a
// sequence longer than the bytes left (or none are left). Overlong forms pass;
// a stray continuation byte, a lead byte 0xF8-0xFF, a bad continuation byte,
// a result in 0xDC00-0xDCFF or above 0x10FFFF raise access error invalid-utf8
// with a binary! of the bytes at the failing position (at most 4, never past
// the input).
int32_t decode_utf8_char(const uint8_t* p, int32_t* count);

// Decodes UTF-8, appending at the tail of the target string's buffer (its
// unit kept, widened in place as code points need) or, with target 0, into a
// new string of unit 1. Skips a leading byte-order mark; with crlf, CR LF and
// a lone CR become LF. An incomplete sequence at the end stops the decode and
// its length is stored in *remainder (0 when everything was decoded); with
// remainder null it is invalid input instead. On invalid input the target
// keeps the content it had (possibly widened). Returns the node.
NodeId load_utf8(const uint8_t* bytes, uint32_t count, NodeId target, uint32_t* remainder,
                 bool crlf);
// Decodes complete text into the string value (appending at its tail).
NodeId load_utf8_into(const uint8_t* bytes, uint32_t count, Cell* string, bool crlf);
// Decodes complete text into a new string.
NodeId load_utf8_new(const uint8_t* bytes, uint32_t count, bool crlf);

// --- UTF-8 writing -----------------------------------------------------------------

// 1..4; a negative code point or one above 0x10FFFF raises script
// invalid-char with the code point.
int32_t char_size(int64_t code_point);
// UTF-8 byte count of a unit range; a code point >= 0x110000 raises invalid-char.
int64_t utf8_length(const uint8_t* from, const uint8_t* to, uint32_t unit);
// Writes 1-4 bytes and returns the count (surrogate code points are written
// as three bytes like any other); above 0x10FFFF raises invalid-char.
int32_t encode_char(uint32_t code_point, uint8_t* destination);
// The same, writing only the leading bytes that fit in room (none when room
// <= 0); returns how many were written.
int32_t encode_char_bounded(uint32_t code_point, uint8_t* destination, int32_t room);

// The string (from its index, at most *part code points) as NUL-terminated
// UTF-8 in the scratch buffer; with crlf every LF is written as CR LF. *part
// receives the byte length without the NUL. part may be null (no limit).
const char* to_utf8_buffer(const Cell* string, int32_t* part, bool crlf);
const char* to_utf8(const Cell* string, int32_t* part);
const char* to_utf8_lines(const Cell* string, int32_t* part, bool crlf);
// Into a caller's buffer (room for utf8_length of the part), no NUL; returns
// the byte count.
int32_t write_utf8(const Cell* string, uint8_t* destination, int32_t part);
// Stops when room is used up (the last sequence may be cut); with nul a NUL
// follows (the caller keeps one byte beyond room for it). Returns the byte
// count without the NUL.
int32_t write_utf8_bounded(const Cell* string, uint8_t* destination, int32_t room, int32_t part,
                           bool nul);

// --- UTF-16 --------------------------------------------------------------------------

// The narrowest unit for UTF-16 text: 4 when any unit is a surrogate, 2 when
// any high byte is non-zero, else 1.
uint32_t utf16_unit_size(const uint16_t* units, uint32_t count);
// Decodes UTF-16LE into the target, whose content it replaces (unit set to
// utf16_unit_size's choice), or into a new string. With drop_cr every CR
// unit is dropped. An unpaired surrogate becomes U+FFFD. With units null the
// count units are read from the target's own buffer, from its head. Sets the
// kFromUtf16 flag on the buffer. Returns the node.
NodeId load_utf16le(const uint16_t* units, uint32_t count, NodeId target, bool drop_cr);
// One unit below 0x10000, a surrogate pair up to 0x10FFFF; 0 above (nothing written).
int32_t encode_utf16_char(uint32_t code_point, uint16_t* destination);
// NUL-terminated UTF-16LE in the scratch buffer (null when a code point is
// above 0x10FFFF); *part in: limit, out: length in units without the NUL
// (part may be null). With crlf every LF is preceded by CR.
const uint16_t* to_utf16_part(const Cell* string, int32_t* part, bool crlf);
// The whole string from its index, lines ending in LF.
const uint16_t* to_utf16(const Cell* string);
// Widens a NUL-terminated byte text to 16-bit units, the NUL included.
void latin1_to_utf16(const char* text, uint16_t* destination);
// Single-byte Windows-1251 text, appended at the target's tail (widened as
// needed) or into a new string of unit 1; crlf as for load_utf8.
NodeId load_cp1251(const uint8_t* bytes, uint32_t count, NodeId target, bool crlf);

// --- Display width ---------------------------------------------------------------------

// Terminal cells a code point takes: 0 for NUL and for combining marks and
// format characters, 1 for the other controls, 2 for East Asian wide and
// fullwidth characters, else 1.
int32_t char_width(uint32_t code_point);
// The same for an East Asian context, where ambiguous-width characters take 2.
int32_t char_width_cjk(uint32_t code_point);

}  // namespace kel::unicode
