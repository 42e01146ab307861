// Appending at the tail of a series buffer, growing it when full, and
// filling a buffer with copies of a pattern. Growth may move the buffer to
// a new address: the routines that take a SeriesBuffer** update it, and a
// caller re-reads any other pointer into the buffer afterwards.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel {

// Appends an unset! cell at the tail of a cell buffer, doubling the buffer
// when full. *buffer is updated when the buffer moves. Returns the new cell.
// A buffer with room takes the append inline; growing is a call.
Cell* alloc_tail_grown(SeriesBuffer** buffer);
inline Cell* alloc_tail(SeriesBuffer** buffer) {
  SeriesBuffer* b = *buffer;
  if (uint64_t{b->tail} + sizeof(Cell) > b->size) [[unlikely]] return alloc_tail_grown(buffer);
  Cell* cell = reinterpret_cast<Cell*>(b->tail_ptr());
  *cell = make_cell(TYPE_UNSET);
  b->tail += sizeof(Cell);
  return cell;
}
// The same on a block's buffer.
Cell* alloc_tail_cell(const Cell* block);
// Appends a copy of the value to the block; returns the new cell.
Cell* append_value(const Cell* block, const Cell& value);
// Reserves n bytes at the tail (growing to 2n bytes when the capacity is
// below n, else to twice the capacity) and returns their address.
uint8_t* alloc_tail_unit(SeriesBuffer** buffer, uint32_t n);

// Replicates the first n bytes over n x count bytes by doubling copies.
void fill_pattern(uint8_t* buffer, uint32_t n, uint32_t count);

}  // namespace kel
