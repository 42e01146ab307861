// tuple!: 3 to 12 bytes written with dots (1.2.3, 255.0.0.128): version
// numbers and, above all, colours (three channel bytes and an optional
// alpha byte).
//
// Cell: type 39; header bits 19-22 hold the size (3..12); bytes 4 to 15 of
// the cell (data1, data2, data3 in memory order) hold the bytes, the
// tuple's first byte at the lowest address, so a colour r.g.b has data1 =
// b << 16 | g << 8 | r (alpha << 24 added for r.g.b.a). The constructors
// leave the bytes past the size 0, and every operation keeps them 0.
//
// Tuples never allocate: every operation works on the bytes inside the
// cell. Arithmetic clamps each byte to 0..255.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace kel::tuple {

constexpr uint32_t kMinSize = 3;
constexpr uint32_t kMaxSize = 12;
constexpr uint32_t kSizeShift = 19;
constexpr uint32_t kSizeMask = 0x0F << kSizeShift;

inline uint32_t size_of(const Cell& tuple) { return (tuple.header & kSizeMask) >> kSizeShift; }
// The bytes start at data1 and run on through data2 and data3: the address
// is taken from the whole cell, so that the compiler's bounds checks see
// the 12 bytes rather than data1's four.
inline uint8_t* bytes_of(Cell* tuple) { return reinterpret_cast<uint8_t*>(tuple) + offsetof(Cell, data1); }
inline const uint8_t* bytes_of(const Cell& tuple) {
  return reinterpret_cast<const uint8_t*>(&tuple) + offsetof(Cell, data1);
}

// Sets the cell to a tuple of count bytes (3..12; bytes beyond count are
// zeroed). The new-line flag of the cell is kept.
Cell* set_bytes(Cell* cell, const uint8_t* bytes, uint32_t count);
// Pushes a tuple with that size and those payload words.
Cell* push(uint32_t size, uint32_t word1, uint32_t word2, uint32_t word3);
// A 3-byte tuple (alpha -1) or a 4-byte tuple with the alpha byte; each
// value is taken modulo 256.
Cell* set_rgba(Cell* cell, int32_t channel1, int32_t channel2, int32_t channel3, int32_t alpha);
// Pushes a tuple of max(count, 3) bytes, the low byte of each integer.
Cell* from_values(uint32_t count, const int32_t* values);
// The target becomes a tuple of the binary's bytes from its index (at most
// 12), padded with zeros to at least 3.
Cell* get_bytes(const Cell& binary, Cell* target);
// The colour of an issue of 3, 6 or 8 hexadecimal digits (#F0A is
// 255.0.170, #FF000080 is 255.0.0.128); anything else raises script
// invalid-data with the issue.
Cell* from_issue(const Cell& issue, Cell* target);
// True when every byte of the size is 0.
bool zero_q(const Cell& tuple);

// The byte arithmetic worker on the frame's two arguments (a number on the
// left is accepted for the operators that commute; subtract and divide
// refuse it with script not-related).
Cell* do_math(int32_t op);

// Action handlers.
Cell* make(Cell* proto, Cell* spec, TypeId type);
Cell* random(Cell* value, int seed, int secure, int only);
Cell* to(Cell* proto, Cell* spec, TypeId type);
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item,
                int32_t index, bool case_sensitive, bool get, bool tail);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
Cell* add();
Cell* subtract();
Cell* multiply();
Cell* divide();
Cell* remainder();
Cell* and_t();
Cell* or_t();
Cell* xor_t();
Cell* complement(Cell* value);
int32_t length_q(Cell* value);
Cell* pick(Cell* value, int32_t index, Cell* boxed);
Cell* reverse(Cell* value, int part, int skip);

// Registers tuple! (id 39, no parent).
void init();

}  // namespace kel::tuple
