// block!: the sequence of value cells on which the language rests (source
// code, data, argument lists, path contents, the bodies of hash! and map!).
//
// Cell: header type 5 (paren!, the paths and hash! share the layout), data1
// the index in cells from the buffer's head, data2 the series node, data3 0
// (a hash! keeps its table node there). The buffer has unit 16: the cells
// between the index and the tail are the block's values. A cell's header bit
// flags::kNewLine marks a value that starts a new line when molded.
//
// The routines below take plain machine arguments and are what compiled
// code and the other datatypes call; the action handlers (own slots of
// block!, and the search and modification actions of block_actions.cpp) work
// on the current frame. A Cell* into a block's buffer stays valid only until
// the next call that may allocate: re-read it through the block's node.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::block {

// --- Cells ------------------------------------------------------------------------

inline Cell make_value(NodeId node, uint32_t index = 0, TypeId type = TYPE_BLOCK) {
  return make_cell(type, index, node, 0);
}
inline SeriesBuffer* buffer_of(const Cell* block) { return memory::buffer_of(block->data2); }

// Positions, shared by the block routines and actions: the index (data1
// read as a signed number), the cell count from the head, and the index
// clamped to the range from the head to the tail.
inline int64_t index_of(const Cell* block) { return static_cast<int32_t>(block->data1); }
inline uint32_t length_from_head(const Cell* block) { return buffer_of(block)->cell_count(); }
inline uint32_t clamped_index(const Cell* block) {
  uint32_t length = length_from_head(block);
  int64_t index = index_of(block);
  return index < 0 ? 0 : index > length ? length : static_cast<uint32_t>(index);
}

// --- rs routines ------------------------------------------------------------------

// Cells from the index to the tail (negative when the index is past it).
int32_t rs_length(const Cell* block);
// Advances the index by one when a cell remains after it; answers whether
// the index is now at the tail.
bool rs_next(Cell* block);
// The cell at the index; an index past the tail is first set back to it.
Cell* rs_head(Cell* block);
Cell* rs_tail(const Cell* block);
bool rs_tail_q(const Cell* block);
// The cell at an absolute position (from the buffer's first cell).
Cell* rs_abs_at(const Cell* block, uint32_t position);
// Sets the tail to the cell at the index.
void rs_clear_from(const Cell* block);
// Sets the tail to the cell at an absolute position.
void rs_set_tail(const Cell* block, uint32_t position);
// Appends a copy of the value at the tail; answers the new cell.
Cell* rs_append(const Cell* block, const Cell& value);
// Drops the last cell of a non-empty block and clamps the index to the tail.
void rs_remove_last(Cell* block);
// Appends copies of the source's cells from its index to its tail (the
// source may be the target itself).
void rs_append_block(const Cell* target, const Cell* source);
// The value after the first cell from the index that equals value (find
// comparison); none when there is none or the match is the last cell.
Cell rs_select(const Cell* block, const Cell& value);
// Removes the first cell equal to value (find comparison), searching from
// the head with from_head, otherwise from the index; the rest moves down.
void rs_remove_value(const Cell* block, const Cell& value, bool from_head);

// --- Construction ------------------------------------------------------------------

// Makes the cell an empty block! whose buffer holds capacity cells (below 1
// counts as 1); index 0. Answers the cell.
Cell* make_at(Cell* cell, int32_t capacity);
// As make_at; with fixed the buffer comes from the runtime heap (it never
// moves), otherwise the whole capacity is filled with unset cells.
Cell* init_at(Cell* cell, int32_t capacity, bool fixed);
// A new block in a fresh cell appended to the parent (any block kind, or a
// map! body), or, with no parent, in one global scratch cell that the next
// such call overwrites. Answers the cell.
Cell* make_in(const Cell* parent, int32_t capacity);
// The same with a fixed buffer; with no parent, in a global cell of its own.
Cell* make_fixed_in(const Cell* parent, int32_t capacity);
// Pushes a copy of the cell on the evaluation stack.
Cell* push(const Cell& block);
// Pushes a new empty block of that capacity (0 counts as 1).
Cell* push_only(int32_t capacity);

// A new block holding copies of the cells from the index (capacity at least
// 1), pushed on the evaluation stack. With deep, nested block! values are
// cloned too, and with any_block also paren! and path values; each clone
// keeps its cell's header (new-line marker included). The result has the
// source's type and index 0. A block met inside itself raises internal
// no-cycle.
Cell* clone(const Cell* block, bool deep, bool any_block);
// A deep clone (block!, paren! and path values) that hands every block it
// makes to copied(data, node) as soon as its cells are copied, before the
// series nested in it are cloned: the nested cells still name their
// sources then, and are handed over in their turn. copied may change the
// cells in place but must not allocate.
Cell* clone_deep(const Cell* block, void (*copied)(void* data, NodeId node), void* data);

// Inserts one cell at the index (at the head with at_head), moving the rest
// up; a hash! indexes it. With advance the index moves past the new cell.
void insert_cells(Cell* block, const Cell& value, bool advance, bool at_head);
// Inserts the source's cells one by one at the block's index, each after the
// previous (the index is left where it was).
void rs_insert_block(Cell* block, const Cell* source);
// Frame helpers of compiled code: insert the frame's first cell into the
// block held just below it (that block's index then moves past it, so
// successive insertions keep their order); append a copy of the frame's
// second cell to the block in its first cell; append a copy of the frame's
// first cell to the block just below it. hash! blocks index the new cell.
void insert_frame_value();
void append_frame_arg();
void append_frame_value();

// The value after the first word-kind cell (word!, set-word!, lit-word!,
// get-word!) whose symbol matches the word's (canonical symbols unless
// case_sensitive); none when absent or when the match is the last cell.
Cell select_word(const Cell* block, const Cell& word, bool case_sensitive);

// --- Text --------------------------------------------------------------------------

// Writes the cells from the index into the mold buffer with the new-line and
// indentation rules of blocks (four spaces per level); the block's node is
// on the cycle stack meanwhile. Answers the part limit left. Parens and
// hash! bodies mold through it too.
int32_t mold_each(Cell* block, Cell* buffer, bool only, bool all, bool flat, Cell* arg,
                  int32_t part, int32_t indent);
// Forms the cells from the index, one space between two values unless the
// text so far ends with a tab, a line feed or a carriage return.
int32_t form_each(Cell* block, Cell* buffer, Cell* arg, int32_t part);

// --- Comparison ---------------------------------------------------------------------

// The block comparison (also of parens, paths and hash!): 0, -1, 1, or -2
// when the two cannot be compared under the operator.
int32_t compare_blocks(Cell* block1, Cell* block2, int32_t op);

// --- Search (block_actions.cpp) -------------------------------------------------------

// Options of find and select, one field per refinement.
struct FindOptions {
  const Cell* part = nullptr;  // /part argument, or null
  int32_t skip = 1;            // /skip size (checked)
  bool only = false;
  bool case_sensitive = false;
  bool same = false;
  bool last = false;
  bool reverse = false;
  bool tail = false;
  bool match = false;
};
// The block positioned at the match (after it with tail), or none. With
// match_length set, also reports how many cells the match covers (0 when
// none was found).
Cell find_value(const Cell* series, const Cell* value, const FindOptions& options,
                uint32_t* match_length = nullptr);
// The value select answers: the cell after the match (after the whole
// sequence when value is a block kind searched without only), or none.
Cell select_value(const Cell* series, const Cell* value, const FindOptions& options);

// Inserts (or appends, with at_tail) the value's cells (or the value itself
// with only, or when it is no block kind) count times; part limits how many
// of its cells are taken (negative: all). Answers the cell position just
// past the inserted cells. A hash! indexes them.
uint32_t insert_value(Cell* block, const Cell* value, int32_t part, bool only, int32_t count,
                      bool at_tail);

// A copy of the block from its index, shallow, or deep: every series held in
// the copy replaced by its own deep copy (a block met inside itself raises
// internal no-cycle and leaves the cycle stack as it was). The copy has the
// source's type (block! for a hash!) and index 0.
Cell copy_block(const Cell* block, bool deep);

// --- Sorting with a user comparison function -------------------------------------

// The evaluator calls the function value with two arguments and answers
// its result: the registration table's call_comparison entry, which the
// interpreter fills at start-up (the start-up check makes sure it did).
// How sort reads a comparison function's result: true 1, false -1, an
// integer itself, a float 1 above 0.0, -1 below, 0 for 0.0 and NaN, none -1,
// any other value 1.
int32_t comparator_result(const Cell& result);

// The worker of the set-operation natives on blocks (op 8 unique, 9 union,
// 10 intersect, 11 exclude, 12 difference): the new block replaces *first,
// which is answered. skip is the record size in cells.
Cell* do_set_op(Cell* first, Cell* second, bool case_sensitive, int32_t skip, int32_t op);

// --- Action handlers shared with paren!, the paths and hash! ---------------------------

Cell* make(Cell* proto, Cell* spec, TypeId type);
Cell* to(Cell* proto, Cell* spec, TypeId type);
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent,
                Cell* p_item, int32_t index, bool case_sensitive, bool get, bool tail);

Cell* find(Cell* series, Cell* value, int part, int only, int case_sensitive, int same, int any,
           int with, int skip, int last, int reverse, int tail, int match);
Cell* select(Cell* series, Cell* value, int part, int only, int case_sensitive, int same, int any,
             int with, int skip, int last, int reverse);
Cell* put(Cell* series, Cell* key, Cell* value, int case_sensitive);
Cell* append(Cell* series, Cell* value, int part, int only, int dup);
Cell* insert(Cell* series, Cell* value, int part, int only, int dup);
Cell* change(Cell* series, Cell* value, int part, int only, int dup);
Cell* copy(Cell* value, Cell* result, int part, int deep, int types);
Cell* take(Cell* series, int part, int deep, int last);
Cell* sort(Cell* series, int case_sensitive, int skip, int compare, int part, int all,
           int reverse, int stable);
Cell* swap(Cell* series1, Cell* series2);
Cell* trim(Cell* series, int head, int tail, int automatic, int lines, int all, int with);

// Registers block! (id 5, parent series!).
void init();

}  // namespace kel::block
