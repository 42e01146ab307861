// Growable arrays for the runtime's own use, kept in ordinary series buffers
// so the collector manages them like any series. An array is a series node
// whose buffer's unit is the element width; the content runs from the head
// to the tail. Pick and poke indexes are 1-based; the find operations answer
// a byte offset from the first element, or -1.
#pragma once

#include <cstdint>

#include "runtime/memory.h"

namespace kel::array {

NodeId make(uint32_t count, uint32_t unit);
uint32_t length(NodeId array);
void clear(NodeId array);
// Sets the length to n elements.
void set_length(NodeId array, uint32_t n);
NodeId copy(NodeId array);
uint8_t* data(NodeId array);

void append_byte(NodeId array, uint8_t byte);
uint8_t pick_byte(NodeId array, uint32_t index);
void append_bytes(NodeId array, const uint8_t* source, uint32_t n);

void append_int(NodeId array, int32_t value);
int32_t find_int(NodeId array, int32_t value);
int32_t pick_int(NodeId array, uint32_t index);
void poke_int(NodeId array, uint32_t index, int32_t value);

// Pointer-sized elements (8 bytes here).
void append_ptr(NodeId array, const void* pointer);
int32_t find_ptr(NodeId array, const void* pointer);
void* pick_ptr(NodeId array, uint32_t index);
void remove_ptr(NodeId array, const void* pointer);

// Opens a gap of one element at a 0-based element position and stores the
// value's first unit bytes there (any unit width).
void insert_at(NodeId array, const void* value, uint32_t position);
// Removes n bytes at a byte offset from the first element.
void remove_at(NodeId array, uint32_t byte_offset, uint32_t n);

}  // namespace kel::array
