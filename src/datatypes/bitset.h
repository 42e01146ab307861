// bitset!: a growable set of non-negative integers and characters (the
// character classes of parse and of string searches), written
// "make bitset! #{00FF}" or "make bitset! [not #{40}]".
//
// Cell: type 30; data2 the node of a byte series (unit 1, content from
// offset 0); data1 and data3 0. Bit n is byte n >> 3 under the mask
// 0x80 >> (n & 7), so bit 0 is the high bit of the first byte; a character
// is the bit of its code point. The bytes from head to tail are the stored
// bytes; length? is their count times 8.
//
// A bitset can be complemented: series_flags::kBitsetComplement on the
// buffer (not the cell) makes every bit beyond the stored bytes (a virtual
// bit) a member, so "every character but a few" stays finite. A stored 1
// is always a member. The invariant every routine keeps: membership of bit
// n is the stored bit when n is stored, else the flag. Bytes that become
// stored (growth, a tail moved up) take the flag's fill (0xFF or 0) so
// that moving the tail never changes a membership.
//
// The set operations (and~, or~, xor~ and the set natives) give exact
// membership for any mix of complemented and plain operands: the result's
// flag is the operator applied to the two flags, and every stored byte the
// operator applied to the operands' bytes, a missing byte reading as the
// operand's fill.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::bitset {

inline Cell make_value(NodeId node) { return make_cell(TYPE_BITSET, 0, node, 0); }
inline NodeId node_of(const Cell& bitset) { return bitset.data2; }
inline SeriesBuffer* buffer_of(const Cell* bitset) { return memory::buffer_of(bitset->data2); }

// --- Reading -------------------------------------------------------------------------------

// Address of the first stored byte, and of the tail (valid until the next
// allocation).
uint8_t* rs_head(const Cell* bitset);
uint8_t* rs_tail(const Cell* bitset);
// Stored bytes times 8.
int32_t length_q(const Cell* bitset);
bool complemented(const Cell* bitset);
// True when n < 0 or its byte is at or past the tail (a virtual bit).
bool beyond_q(const Cell* bitset, int64_t n);
// Membership of bit n (a virtual bit, a negative n included, answers the
// complement flag).
bool test_bit(const Cell* bitset, int64_t n);

// --- Writing -------------------------------------------------------------------------------

// Makes bit n stored: grows the buffer when needed and moves the tail up to
// byte (n >> 3) + 1, the new bytes taking the flag's fill. Returns the head
// (valid until the next allocation).
uint8_t* expand(Cell* bitset, int64_t n);
// Inverts every byte of the buffer's capacity from its head.
void invert_bytes(SeriesBuffer* buffer);

// --- Specs -----------------------------------------------------------------------------------

enum Operation : int32_t {
  kHighest = 0,  // the highest bit index the description names
  kSet = 1,
  kTest = 2,     // 1 when every named bit is a member, else 0
  kClear = 3,
};
enum ErrorMode : int32_t {
  kFromMake = 0,  // a bad spec value raises bad-make-arg
  kFromTo = 1,    // bad-to-arg
  kFromAction = 2,  // invalid-arg
};

// Walks a spec (char!, integer!, float!, string!, or a block of those with
// "lower - upper" ranges) doing the operation on the bitset (which may be
// null for kHighest). At the top level (not nested), kHighest answers the
// byte count the bits need ((highest + 8) >> 3, at least 1), and kSet moves
// the tail up to that count.
int64_t process(const Cell* spec, Cell* bitset, Operation operation, bool nested, ErrorMode mode);

// A new bitset made from a spec (mode kFromMake or kFromTo), pushed on the
// evaluation stack; returns it.
Cell* make_from(const Cell* spec, ErrorMode mode);

// The set routine of and~ (6), or~ (5), xor~ (7) and the set natives
// (8 unique, 9 union, 10 intersect, 11 exclude, 12 difference) on the
// current frame's first two arguments; the new bitset becomes the frame's
// result, which is returned.
Cell* do_bitwise(int32_t op);

// Pushes a copy of the cell.
Cell* push(const Cell& bitset);

// Registers bitset! (id 30, no parent).
void init();

}  // namespace kel::bitset
