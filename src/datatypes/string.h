// string!: text as code points in 1-, 2- or 4-byte units (string_units.h).
//
// Cell: header type 7 (or a string-like child type), data1 the index in
// characters from the buffer's head, data2 the series node, data3 0. The
// buffer holds no terminating NUL; its tail marks the end.
//
// The routines here are the low-level ones through which the rest of the
// system reads and writes text; the string! actions build on them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::string {

inline Cell make_value(NodeId node, uint32_t head = 0, TypeId type = TYPE_STRING) {
  return make_cell(type, head, node, 0);
}
inline SeriesBuffer* buffer_of(const Cell* s) { return memory::buffer_of(s->data2); }

// Initialises the cell as an empty string! (unit 1) with room for capacity
// characters (1 when 0), index 0.
Cell* rs_make_at(Cell* cell, uint32_t capacity);
// Initialises the cell as an empty string! with room for length characters
// of the given unit.
Cell* load_at(Cell* cell, uint32_t length, uint32_t unit);
// A new empty string pushed on the evaluation stack.
Cell* push_new(uint32_t capacity);

// Code points from the index to the tail (0 when the index is past it).
uint32_t rs_length(const Cell* s);
// Code point at an absolute position from the head.
uint32_t rs_abs_at(const Cell* s, uint32_t position);
// Empties the string: unit 1, tail = head, index 0.
void rs_reset(Cell* s);

// Appends one code point; a 1-byte buffer widens above 127. Returns the
// (possibly moved) buffer.
SeriesBuffer* append_char(SeriesBuffer* buffer, uint32_t code_point);
// Stores a code point at a byte position of the buffer's data, widening
// first when it does not fit (a 1-byte buffer widens above 255); the
// position is rebased after widening. Returns the buffer.
SeriesBuffer* poke_char(SeriesBuffer* buffer, uint32_t byte_position, uint32_t code_point);

// Appends each byte of a NUL-terminated text as a code point.
void concatenate_literal(Cell* s, const char* text);
void concatenate_literal_part(Cell* s, const char* bytes, uint32_t count);
// Appends UTF-8 text (decoded to code points).
void append_utf8(Cell* s, std::string_view utf8);

// The string's text from its index as UTF-8 (for C++ callers and tests).
std::string to_std_string(const Cell& s);

}  // namespace kel::string
