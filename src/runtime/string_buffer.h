// String buffers: the few routines on string! cells that the runtime itself
// writes and reads text with (the print hooks, error and cycle texts, the
// symbol table, action dispatch's form and mold for C++ callers). The
// string! datatype (datatypes/string.h) builds everything else on them.
//
// A string cell holds its head index in data1 and its node in data2; the
// buffer holds code points in the narrowest unit that fits (string_units.h).
// Every routine reads the unit from the buffer for each call, since growth
// or widening may change it, and re-reads the buffer after each allocation.
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

// The index a text routine reads from: a symbol! record (whose data1 is its
// alias, not an index) is read from its first character.
inline uint32_t index_of(const Cell* s) { return s->is(TYPE_SYMBOL) ? 0 : s->data1; }

namespace detail {
// The unit of a string buffer, checked: any unit but 1, 2 or 4 ends the
// process with runtime error 101.
uint32_t checked_unit(const SeriesBuffer* buffer);
}  // namespace detail

// Initialises the cell as an empty string! (unit 1) with room for capacity
// characters (1 when 0), index 0.
Cell* rs_make_at(Cell* cell, uint32_t capacity);
// Initialises the cell as an empty string! with room for length characters
// of the given unit.
Cell* load_at(Cell* cell, uint32_t length, uint32_t unit);
// A new empty string pushed on the evaluation stack.
Cell* push_new(uint32_t capacity);

// Appends each byte of a NUL-terminated text as a code point.
void concatenate_literal(Cell* s, const char* text);
void concatenate_literal_part(Cell* s, const char* bytes, uint32_t count);
// Appends UTF-8 text (decoded to code points).
void append_utf8(Cell* s, std::string_view utf8);

// The string's text from its index as UTF-8 (for C++ callers and tests).
std::string to_std_string(const Cell& s);

}  // namespace kel::string

namespace kel {
// Appends four spaces per level to a mold buffer (a string cell).
void mold_indent(Cell* buffer, int32_t level);
}  // namespace kel
