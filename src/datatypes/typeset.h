// typeset!: a set of datatypes held in the cell itself, with no series.
//
// The 12 bytes of data1..data3 form a 96-bit bitmap: the bit of datatype id
// t is byte t >> 3 (in memory order from data1's first byte), mask
// 0x80 >> (t & 7) (typeset_has / typeset_add in support.h). Bit 0 names no
// type; only ids 1 up to the highest registered type are ever shown, the
// other bits are carried along (complement sets them all).
//
// Function specs state their accepted argument types with typesets, so the
// operations here never allocate except when they build a block or text.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kel::typeset {

inline Cell make_value(uint32_t word1 = 0, uint32_t word2 = 0, uint32_t word3 = 0) {
  return make_cell(TYPE_TYPESET, word1, word2, word3);
}

void clear_bits(Cell* typeset);
// Keeps only the types that the other set holds too.
inline void restrict_to(Cell* typeset, const Cell& other) {
  typeset->data1 &= other.data1;
  typeset->data2 &= other.data2;
  typeset->data3 &= other.data3;
}
// Set bits among ids 1 .. the highest registered type id.
uint32_t count_bits(const Cell& typeset);

// Appends a typeset with exactly these bitmap words to a block.
Cell* make_in_block(const Cell* block, uint32_t word1, uint32_t word2, uint32_t word3);
// The typeset of every type but unset!.
Cell all_value();
// Appends it to a block.
Cell* make_all(const Cell* block);
// The typeset of an argument spec: words are replaced by their values;
// datatypes and typesets add their bits; a word whose value is a word (an
// unknown type name) stands for object!; blocks are skipped; any other
// value raises script invalid-type-spec.
Cell from_block(const Cell* spec);
// Appends it to a block.
Cell* make_from_block(const Cell* block, const Cell* spec);
// Adds one value's bits: a word! is first replaced by its value, then a
// datatype! adds its bit and a typeset! its bits; any other value raises
// script invalid-arg.
void add_type(Cell* typeset, const Cell* value);
// Makes target a new block of the name words of the set types, by id.
Cell* to_block(const Cell& typeset, Cell* target);
// The frame's two arguments combined under a set or bitwise operator code
// (5 or and 9 union: OR; 6 and and 10 intersect: AND; 7 xor and 12
// difference: XOR; 11 exclude: first AND NOT second; 8 unique: the first
// unchanged). The second may be a datatype! (its one bit). The result
// becomes the frame's result.
Cell* do_bitwise(int32_t op);
Cell* push(const Cell& typeset);
// Writes "make typeset! [name! ...]", or with only just the names separated
// by spaces; with part_flag stops once the count left is negative. Returns
// the count left.
int32_t mold_names(const Cell& typeset, Cell* buffer, bool only, bool part_flag, int32_t limit);

// Action handlers.
Cell* make_to(Cell* proto, Cell* spec, TypeId type);
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
Cell* complement(Cell* value);
Cell* find(Cell* series, Cell* value, int part, int only, int case_sensitive, int same, int any,
           int with, int skip, int last, int reverse, int tail, int match);

// Registers typeset! (id 33).
void init();

}  // namespace kel::typeset
