// Case folding: the Unicode simple (one-to-one) upper- and lower-case mapping
// of single code points, used by case-insensitive hashing, comparison and
// search, by char! conversions, and by `uppercase` and `lowercase`.
//
// The Basic Multilingual Plane is mapped through two direct tables of 65536
// 32-bit entries, indexed by code point, where 0 means "maps to itself"; they
// are built once, by init() or by the first lookup that needs them, and
// read-only after. Code points above 0xFFFF are
// looked up in short sorted pair lists. No mapping changes a text's length in
// characters, though it may need a wider string unit (U+00FF upper-cases to
// U+0178).
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kel::case_folding {

// Builds the two BMP tables from the generated pair lists. Runs once; later
// calls do nothing. change_char runs it when it first needs the tables.
void init();

// The upper-case form of a code point when upper is true, else the lower-case
// form; a code point without a mapping is returned unchanged.
uint32_t change_char(uint32_t code_point, bool upper);

// ASCII maps its 26 letters and nothing else, without the tables: hashing
// and comparing keys case-insensitively folds every character, and most
// are ASCII.
inline uint32_t to_upper_char(uint32_t code_point) {
  if (code_point < 0x80) return code_point - 'a' < 26u ? code_point - ('a' - 'A') : code_point;
  return change_char(code_point, true);
}
inline uint32_t to_lower_char(uint32_t code_point) {
  if (code_point < 0x80) return code_point - 'A' < 26u ? code_point + ('a' - 'A') : code_point;
  return change_char(code_point, false);
}

// The upper-case form when it differs from the code point, else the
// lower-case form.
uint32_t toggle_char(uint32_t code_point);

// change_case, which changes a value in place, is in datatypes/case_change.h.

}  // namespace kel::case_folding
