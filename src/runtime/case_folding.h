// Case folding: the Unicode simple (one-to-one) upper- and lower-case mapping
// of single code points, used by case-insensitive hashing, comparison and
// search, by char! conversions, and by `uppercase` and `lowercase`.
//
// The Basic Multilingual Plane is mapped through two direct tables of 65536
// 32-bit entries, indexed by code point, where 0 means "maps to itself"; they
// are built once by init() and read-only after. Code points above 0xFFFF are
// looked up in short sorted pair lists. No mapping changes a text's length in
// characters, though it may need a wider string unit (U+00FF upper-cases to
// U+0178).
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kel::case_folding {

// Builds the two BMP tables from the generated pair lists. Runs once; later
// calls do nothing. Until it has run every BMP code point maps to itself.
void init();

// The upper-case form of a code point when upper is true, else the lower-case
// form; a code point without a mapping is returned unchanged.
uint32_t change_char(uint32_t code_point, bool upper);

inline uint32_t to_upper_char(uint32_t code_point) { return change_char(code_point, true); }
inline uint32_t to_lower_char(uint32_t code_point) { return change_char(code_point, false); }

// The upper-case form when it differs from the code point, else the
// lower-case form.
uint32_t toggle_char(uint32_t code_point);

// Changes the case of a char! cell's code point, or of the characters of a
// string-like series from its index, in place, and returns the value. An
// index past the tail is first moved to the tail. part limits the count:
// null for "to the tail", an integer! count (negative counts as 0), or a
// series of the value's type and buffer whose index ends the range; any other
// part raises script invalid-refine-arg. The count never reaches past the
// tail. A string widens its unit when a new code point needs it.
Cell* change_case(Cell* value, const Cell* part, bool upper);

}  // namespace kel::case_folding
