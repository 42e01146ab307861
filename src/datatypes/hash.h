// hash!: a block with a hash index over its cells, so that find, select and
// put answer from a table instead of walking the block.
//
// Cell: header type 36, data1 the index, data2 the block's buffer (as a
// block cell), data3 the node of its hash table (runtime/hash_table.h,
// kind 0). The table indexes every cell of the block from the buffer's head,
// whatever the cell's index, with duplicate lists for equal cells.
//
// hash! inherits every block action; the block handlers keep the table in
// step with each edit (insertions shift the stored positions, removals drop
// theirs, change rebuilds). What is left here is what the block handlers do
// not know about: the make and to forms, mold, copy (which must give the
// copy a table of its own), sort and trim, after which the reordered cells
// are indexed again, and take/deep, whose result's table must see the deep
// copies that replaced its nested series. find and select without
// refinements ask the table straight away, the commonest use of a hash!;
// every other form goes through the block handlers, which ask the table
// too where it can answer.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::hash {

inline NodeId table_of(const Cell& hash) { return hash.data3; }

// Turns a block cell (any block kind, from its index) into a hash! over the
// same buffer and builds its table, sized for at least size cells. The cell
// must not live in a series buffer. Answers the cell.
Cell* index_block(Cell* block, uint32_t size);

// Pushes a new empty hash! with room for capacity cells (below 1 counts as 1).
Cell* push_empty(int32_t capacity);

// --- Action handlers ---------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, TypeId type);
Cell* to(Cell* proto, Cell* spec, TypeId type);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);
Cell* copy(Cell* value, Cell* result, int part, int deep, int types);
Cell* find(Cell* series, Cell* value, int part, int only, int case_sensitive, int same, int any,
           int with, int skip, int last, int reverse, int tail, int match);
Cell* select(Cell* series, Cell* value, int part, int only, int case_sensitive, int same, int any,
             int with, int skip, int last, int reverse);
Cell* sort(Cell* series, int case_sensitive, int skip, int compare, int part, int all,
           int reverse, int stable);
Cell* take(Cell* series, int part, int deep, int last);
Cell* trim(Cell* series, int head, int tail, int automatic, int lines, int all, int with);

// Registers hash! (id 36, parent block!).
void init();

}  // namespace kel::hash
