// Support routines through which natives, actions and datatypes handle
// cells and series, check arguments and reach the root block. They are the
// most called routines of the system, so each is short and does one thing;
// the error-raising ones never return after raising.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel {

// Appends an unset! cell at the tail of a cell buffer, doubling the buffer
// when full. *buffer is updated when the buffer moves. Returns the new cell.
Cell* alloc_tail(SeriesBuffer** buffer);
// The same on a block's buffer.
Cell* alloc_tail_cell(const Cell* block);
// Appends a copy of the value to the block; returns the new cell.
Cell* append_value(const Cell* block, const Cell& value);
// Reserves n bytes at the tail (growing to 2n bytes when the capacity is
// below n, else to twice the capacity) and returns their address.
uint8_t* alloc_tail_unit(SeriesBuffer** buffer, uint32_t n);

// Appends four spaces per level to a mold buffer (a string cell).
void mold_indent(Cell* buffer, int32_t level);
// Replicates the first n bytes over n x count bytes by doubling copies.
void fill_pattern(uint8_t* buffer, uint32_t n, uint32_t count);

// The root block: the first block made at start-up; it holds the decoded
// boot image and other values that must survive collection.
namespace root {
void init();
NodeId block();
// Marks the start of the boot image's cells (root_cell 0).
void set_image_base(uint32_t cell_index);
Cell* cell(uint32_t n);
NodeId node(uint32_t n);
// Appends a value to the root block (it then lives as long as the process).
Cell* keep(const Cell& value);
}  // namespace root

// --- Argument checks ------------------------------------------------------------

// True when the typeset cell's bitmap has the bit of the datatype.
inline bool typeset_has(const Cell& typeset, TypeId type) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&typeset.data1);
  return type < 96 && (bytes[type >> 3] & (0x80 >> (type & 7))) != 0;
}
inline void typeset_add(Cell& typeset, TypeId type) {
  auto* bytes = reinterpret_cast<uint8_t*>(&typeset.data1);
  bytes[type >> 3] |= static_cast<uint8_t>(0x80 >> (type & 7));
}

// Returns the value when its type is in the typeset, else raises script
// expect-arg naming the call, the value's datatype and the argument.
const Cell* check_arg_type(const Cell& typeset, int32_t index, const Cell* value);
// The same on argument slot index of the current frame; a negative index
// checks nothing.
void check_arg_type_at(const Cell& typeset, int32_t index);
// Checks only when the refinement's logic value is true.
void check_refinement_arg_type(const Cell& refinement, const Cell& typeset, int32_t index,
                               const Cell* value);
// Raises expect-arg (with unset! as the type) when the value is unset.
const Cell* check_arg_not_unset(int32_t index, const Cell* value);
// With the refinement true, sets its logic slot; else sets its count
// argument slots to none.
void set_refinement_slots(const Cell& refinement, int32_t index, int32_t count);

// integer! gives its value; a float! outside the 32-bit range or NaN raises
// script out-of-range; otherwise truncated toward zero.
int32_t number_to_integer(const Cell& value);

}  // namespace kel
