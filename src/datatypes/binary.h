// binary!: a series of bytes, written #{0102FF}.
//
// Cell: type 41, data1 the index in bytes, data2 the node of a unit-1
// buffer, data3 0. A byte read from a binary is an integer 0..255. binary!
// is a child of string!: index movement, copy, find, pick, poke, remove,
// reverse, sort, take and the rest work on it byte by byte through the
// inherited handlers; what it does itself is its conversions, its text
// form, its byte comparison, append/insert/change of values as bytes,
// trim of zero bytes and the bitwise actions. The text codecs (base 2, 16,
// 58 and 64) are in binary_codecs.h.
//
// The byte routines below are what serialization, compression, checksums,
// the natives and the image code call. Those taking a binary cell re-read
// its buffer through the node on every call; a returned address is valid
// only until the next allocation.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::binary {

inline Cell make_value(NodeId node, uint32_t index = 0) {
  return make_cell(TYPE_BINARY, index, node, 0);
}
inline SeriesBuffer* buffer_of(const Cell* binary) { return memory::buffer_of(binary->data2); }

// --- Reading --------------------------------------------------------------------------

// Bytes from the index to the tail (0 when the index is past it).
uint32_t rs_length(const Cell* binary);
// Address of the byte at the index (an index past the tail reads as the
// tail), and of the tail.
uint8_t* rs_head(const Cell* binary);
uint8_t* tail_pointer(const Cell* binary);
bool tail_q(const Cell* binary);
// Moves the index by count, clamped to the head and the tail.
void skip(Cell* binary, int32_t count);
inline void next(Cell* binary) { skip(binary, 1); }
// The byte at an offset from the buffer's head.
uint8_t get_byte(const Cell* binary, uint32_t offset);

// --- Writing ---------------------------------------------------------------------------

// Sets the tail to the index.
void clear(Cell* binary);
// Appends count bytes at the tail, growing the buffer. The bytes may not
// lie in the binary's own buffer.
void append_bytes(const Cell* binary, const uint8_t* bytes, uint32_t count);
// Inserts count bytes at an offset from the index (clamped to the tail),
// moving the rest up.
void insert_bytes(const Cell* binary, uint32_t offset, const uint8_t* bytes, uint32_t count);
// Writes count bytes at an offset from the index, growing the buffer when
// needed; the tail moves only when the write ends past it.
void overwrite_bytes(const Cell* binary, uint32_t offset, const uint8_t* bytes, uint32_t count);
// Appends the integer as 4 big-endian bytes.
void append_int(int32_t value, const Cell* binary);

// --- Construction ------------------------------------------------------------------------

// Makes the cell an empty binary (index 0) with that capacity (16 when 0).
Cell* init_cell(Cell* cell, uint32_t capacity);
// Appends such a cell to the block; returns it.
Cell* make_in_block(const Cell* block, uint32_t capacity);
// A new binary holding a copy of the bytes, appended to the block (when
// block is not null) or pushed on the evaluation stack; returns the cell.
Cell* load_bytes_in(const uint8_t* bytes, uint32_t count, const Cell* block);
Cell* load_bytes(const uint8_t* bytes, uint32_t count);
// Pushes a copy of the cell.
Cell* push(const Cell& binary);

// --- Bytes of values --------------------------------------------------------------------

// Stores the low byte of an integer! or char! value at the address; any
// other value raises script invalid-arg (the series poke of a binary).
void set_byte(uint8_t* address, const Cell& value);
// The byte at the index tested in the bitset; a byte at or past the
// bitset's bits answers the bitset's complement flag. False at the tail.
bool match_bit(const Cell* binary, const Cell* bitset);
// For parse: whether the bytes at the index begin with the value's bytes
// (a binary! or any text value as UTF-8), or the byte there equals a char!'s
// code point. A binary shorter than the value never matches.
bool match_value(const Cell* binary, const Cell* value, int32_t op);
// The byte comparison of a binary with a binary or a text value (as UTF-8)
// under a comparison operator; in match mode whether the binary begins with
// the value. -2 for any other value.
int32_t compare_bytes(const Cell* binary, const Cell* value, int32_t op, bool match);

// --- Action handlers ----------------------------------------------------------------------

Cell* to(Cell* proto, Cell* spec, TypeId type);
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);
// The shared text of form and mold: "#{" and "}" unless only, the bytes as
// hexadecimal digits, 32 a line when the binary holds 31 bytes or more
// (unless flat), indented four spaces per level.
int32_t mold_bytes(const Cell* value, Cell* buffer, bool only, bool flat, int32_t part,
                   int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
Cell* and_t();
Cell* or_t();
Cell* xor_t();
Cell* complement(Cell* value);
Cell* append(Cell* series, Cell* value, int part, int only, int dup);
Cell* insert(Cell* series, Cell* value, int part, int only, int dup);
Cell* change(Cell* series, Cell* value, int part, int only, int dup);
Cell* trim(Cell* series, int head, int tail, int automatic, int lines, int all, int with);

// Registers binary! (id 41, parent string!).
void init();

}  // namespace kel::binary
