// char!: one Unicode code point.
//
// Cell: type 10, data2 the code point (0 .. 0x10FFFF); data1 and data3
// carry nothing. char! is a child of integer! (random, absolute, even? and
// odd? are integer!'s) and takes part in integer arithmetic: the result of
// an operation must again be a code point, else math overflow, and the
// value stays a char!.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kel::character {

constexpr uint32_t kMaxCodePoint = 0x10FFFF;

inline Cell make(uint32_t code_point) { return make_cell(TYPE_CHAR, 0, code_point); }
inline uint32_t get(const Cell& cell) { return cell.data2; }

// Pushes a new char! on the evaluation stack.
Cell* push(uint32_t code_point);
// Appends a char! to the block.
Cell* make_in(const Cell* block, uint32_t code_point);

// The code point of the one UTF-8 sequence at the start of bytes (its
// length announced by its first byte; bytes after it are not looked at), or
// -1 when there are no bytes, the sequence is cut short, or it is not
// well-formed UTF-8 (overlong forms, surrogates and values above 0x10FFFF
// included).
int32_t decode_utf8_sequence(const uint8_t* bytes, uint32_t count);

void init();

}  // namespace kel::character
