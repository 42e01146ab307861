// vector!: a series of packed numbers or characters of one element type
// and one element size, written "make vector! [1 2 3]" or
// "make vector! [integer! 16 [1 2]]".
//
// Cell: type 35; data1 the index in elements, data2 the node of the
// buffer, data3 the element type (char!, integer!, float! or percent!).
// The buffer's unit is the element size in bytes: 1, 2 or 4 for char! and
// integer! (default 4), 4 or 8 for float! (default 8), 8 for percent!
// (the fraction, 50% stored as 0.5). Elements are little-endian; integer
// elements of 1 and 2 bytes are signed, char! elements are code points
// (unsigned). Writing an integer or char keeps its low 8, 16 or 32 bits; a
// float is stored as a double or rounded to single precision.
//
// vector! is a child of string!: index movement, pick, poke, find, copy,
// sort and the rest are the inherited series handlers, which read and
// write elements through the unit. Here is what it does itself: make,
// text, comparison, element-wise arithmetic, append/insert and change.
// Arithmetic with a number changes the vector in place (integer elements
// wrap around on overflow; a float number given to an integer vector is
// truncated, and one outside the 32-bit range raises script out-of-range);
// arithmetic of two vectors makes a new one as long as the shorter.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::vector {

inline Cell make_value(NodeId node, uint32_t index, TypeId element_type) {
  return make_cell(TYPE_VECTOR, index, node, element_type);
}
inline SeriesBuffer* buffer_of(const Cell* vector) { return memory::buffer_of(vector->data2); }
inline TypeId element_type_of(const Cell* vector) { return vector->data3; }
inline uint32_t element_size_of(const Cell* vector) { return buffer_of(vector)->unit(); }
// The element size of a type when no size is given (4 for char! and
// integer!, 8 for float! and percent!).
uint32_t default_size(TypeId element_type);

// --- Construction ---------------------------------------------------------------------------

// Sets the cell to a new empty vector (index 0) with room for count
// elements; a byte size beyond 32 bits raises internal no-memory.
Cell* make_at(Cell* cell, uint32_t count, TypeId element_type, uint32_t element_size);
// Pushes a copy of the cell.
Cell* push(const Cell& vector);

// --- Elements --------------------------------------------------------------------------------

// The element at the address as a value of the element type.
Cell element_value(const uint8_t* address, uint32_t size, TypeId element_type);
// Pushes it.
Cell* get_value(const uint8_t* address, uint32_t size, TypeId element_type);
// Writes the value (of the element type; checked by the caller) into the
// element slot.
void set_value(uint8_t* address, const Cell& value, uint32_t size);
int32_t element_as_integer(const uint8_t* address, uint32_t size);
double element_as_float(const uint8_t* address, uint32_t size);

// --- Series access ----------------------------------------------------------------------------

// Elements from the index to the tail (0 when the index is past it).
uint32_t rs_length(const Cell* vector);
// Address of the element at the index (the tail when past it), and of the
// tail; valid until the next allocation.
uint8_t* rs_head(const Cell* vector);
uint8_t* rs_tail(const Cell* vector);
bool tail_q(const Cell* vector);
// Moves the index by count, clamped to the head and the tail.
void skip(Cell* vector, int32_t count);
inline void next(Cell* vector) { skip(vector, 1); }
// Sets the tail to the index.
void clear(Cell* vector);
// Appends a raw 32-bit integer element (an integer! vector of 4-byte
// elements).
void append_int(const Cell* vector, int32_t value);
// Append, write at an element position from the head (at the tail the
// vector grows by one), or insert at a position: the value must be of the
// element type, else script invalid-arg.
void append_value(const Cell* vector, const Cell& value);
void poke_value(const Cell* vector, uint32_t position, const Cell& value);
void insert_value(const Cell* vector, uint32_t position, const Cell& value);
// Appends every value of the block from its index (each checked first).
void append_block(const Cell* vector, const Cell* block);

// The target becomes a new block of the elements from the index.
void to_block(const Cell* vector, Cell* target);

// --- Arithmetic ----------------------------------------------------------------------------

// Every element from the index becomes (element op number), in place; the
// number is an integer!, char!, float! or percent! (anything else raises
// internal not-done). With number_first the number is the left operand.
// Returns the vector cell.
Cell* do_math_scalar(int32_t op, Cell* vector, const Cell* number, bool number_first = false);
// The frame's two arguments: vector op vector (a new vector replaces the
// first), vector op number, or number op vector (the vector, changed in
// place, becomes the result).
Cell* do_math(int32_t op);

// Registers vector! (id 35, parent string!).
void init();

}  // namespace kel::vector
