// series!: the internal datatype (id 42, no global word) that holds the
// action handlers every series type shares: index movement, pick and poke,
// clear, remove, take, copy, reverse, move, random, reflect and modify.
//
// A series cell is (type, index, node, extra): data1 the index in units from
// the buffer's head, data2 the series node, data3 0 for blocks and strings,
// the element type for vector!, the hash table node for hash!. The handlers
// work on the buffer in units of its unit size (1, 2 or 4 bytes for text,
// bytes and vectors, 16 for value cells), so block!, string! and everything
// that inherits from them share one implementation; a handler that must tell
// elements apart (a cell, a character, a byte, a vector element) switches on
// the cell's type.
//
// Invariants the handlers keep: an index is never negative; an index may lie
// past the tail (a series shortened through another reference), and every
// handler treats such an index as the tail; no copy or memmove is ever given
// a length below zero.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::series {

// --- Type groups ------------------------------------------------------------------

// block!, paren!, the four paths and hash!: elements are value cells.
inline bool is_block_kind(TypeId type) {
  return type == TYPE_BLOCK || type == TYPE_PAREN || type == TYPE_HASH ||
         (type >= TYPE_PATH && type <= TYPE_GET_PATH);
}
// string!, file!, url!, tag!, email!, ref!: elements are characters.
inline bool is_text_kind(TypeId type) {
  return type == TYPE_STRING || type == TYPE_FILE || type == TYPE_URL || type == TYPE_TAG ||
         type == TYPE_EMAIL || type == TYPE_REF;
}
// Every type whose value is a series cell.
inline bool is_series_kind(TypeId type) {
  return is_block_kind(type) || is_text_kind(type) || type == TYPE_BINARY ||
         type == TYPE_VECTOR || type == TYPE_IMAGE;
}

// --- Cell access ----------------------------------------------------------------------

// The index (data1, in units from the buffer's head; it may lie past the
// tail), the node (data2) and the extra word (data3). The first two are
// read inside the interpreter's always-inlined routines, and are always
// inlined themselves, so that the inliner meets loads there and no calls.
[[gnu::always_inline]] inline uint32_t index_of(const Cell& series) { return series.data1; }
inline void set_index(Cell* series, uint32_t index) { series->data1 = index; }
[[gnu::always_inline]] inline NodeId node_of(const Cell& series) { return series.data2; }
// Sets the extra word to 0, what a block or a string keeps there.
inline void clear_extra(Cell* series) { series->data3 = 0; }

inline SeriesBuffer* buffer_of(const Cell* series) { return memory::buffer_of(series->data2); }
inline uint32_t unit_of(const Cell* series) { return buffer_of(series)->unit(); }

// --- Index routines ---------------------------------------------------------------------

// True when the position (index in units) is at or past the tail.
bool rs_tail_q(const Cell* series);
// Units from the head to the tail (ignores the index).
uint32_t rs_length_from_head(const Cell* series);
// Moves the index by n only when the new position does not pass the tail
// (nor the head); answers whether the new position is at or past the tail,
// computed whether or not the move was made.
bool rs_skip(Cell* series, int32_t n);
// With from_head, the length from the head. Otherwise the units from the
// index to the tail: an index past the tail is set back to the tail on the
// cell and 0 is answered.
int32_t rs_length(Cell* series, bool from_head);

// --- Shared argument readers ----------------------------------------------------------------

// The unit count a /part argument names relative to the series' index: an
// integer! as it is, or a series of the same type on the same buffer (its
// index less the series' index). Anything else raises script
// invalid-refine-arg with the /part refinement and the value.
int32_t part_count(const Cell* series, const Cell* part);
// script invalid-refine-arg for the /part, /skip or /compare refinement.
[[noreturn]] void fire_bad_part(const Cell* value);
[[noreturn]] void fire_bad_skip(const Cell* value);
[[noreturn]] void fire_bad_compare(const Cell* value);

// --- Element access --------------------------------------------------------------------------

// The element at an absolute position (from the head) as a value: a copy of
// the cell for block kinds, a char! for text, an integer! for binary!, the
// element value for vector!. The caller checked the position.
Cell element_at(const Cell* series, uint32_t position);
// The value pick answers for index n (1-based from the index, -1 the unit
// before it); none outside the series.
Cell pick_value(const Cell* series, int32_t n);
// Stores a value as poke does (range and kind checked, errors raised);
// answers the value.
void poke_value(Cell* series, int32_t n, const Cell* value);

// --- Editing helpers shared with the other series types -----------------------------

// The hash table of a hash! (0 for every other series, and for a hash! that
// has no table).
inline NodeId table_of(const Cell* series) { return series->is(TYPE_HASH) ? series->data3 : 0; }
// Removes count units at an absolute position (fewer when the tail comes
// first), keeping a hash!'s index in step.
void remove_units(const Cell* series, uint32_t start, uint64_t count);
// Opens a gap of count units at an absolute position (the units from there
// move up; the gap holds stale units) and answers the buffer, grown to twice
// the needed size when it was too small, or to exactly that size with
// exact_growth. Raises internal no-memory past the 32-bit size limit.
SeriesBuffer* open_gap(const Cell* series, uint32_t position, uint64_t count,
                       bool exact_growth = false);
// After count cells were written into a gap at position of a hash!: shifts
// the index entries that followed and indexes the new cells (or rebuilds).
void index_inserted(const Cell* series, uint32_t position, uint32_t count);

// A new series of the series' type and unit holding count units from an
// absolute position, in a buffer of exactly that size (at least one unit).
// The result keeps the source's new-line flag and, for vector!, its element
// type; its index is 0. For hash! the result carries no table (data3 0).
Cell copy_units(const Cell* series, uint32_t start, uint32_t count);

// --- Telling an owner of a change ------------------------------------------------------

// The units of a series that an action changes, from an absolute position,
// and the part its owner hears of.
struct Stretch {
  uint32_t start = 0;
  uint32_t count = 0;
  int32_t part = 0;        // the units concerned, as the owner hears them
  bool announced = false;  // the owner was told, and hears of the end too
};

// A count that runs to the tail of the series, whatever the tail is by
// then.
constexpr int64_t kToTail = INT32_MAX;

// Tells the owner of an owned series (bitsets included) that an action, by
// its word, is about to change count units from start (the owner hears part
// as the units concerned: an insertion concerns units that are not there
// yet), then answers the stretch as the live series holds it: start clamped
// to the length from the head, count (what the action asks for: a /part
// count, or kToTail) to the units that follow start. The owner's handler
// is Kel code that may clear, grow or collect the series (moving every
// buffer), so an action takes its bounds from this answer and reads
// buffers, lengths and the values it adds only after this call. A series
// nobody owns is told nothing; its stretch is derived all the same.
Stretch announce(const Cell& series, uint32_t action_word, const Cell* new_value, int64_t start, int64_t count,
                 int64_t part);
// The same when the owner hears of the count itself (clamped to the series
// as it is when told); the answer's part is the live count.
Stretch announce(const Cell& series, uint32_t action_word, const Cell* new_value, int64_t start, int64_t count);
// The stretch derived anew from the live series with the count the action
// asks for, for an action that tells two owners: the second handler may
// change the first series too. Its part is the live count.
Stretch reclamp(const Cell& series, const Stretch& stretch, int64_t count);
// After the change: tells the owner that announce told, with the action's
// past form, the stretch's start and its part (which the action may have
// set to what it did).
void announce_done(const Cell& series, uint32_t past_word, const Cell* new_value, const Stretch& stretch);

// swap's two positions (the heads of two series, or one series told once):
// both owners are told, then both positions are derived anew, since either
// handler may have shortened either series. The swap happens only when
// both still hold a unit there.
struct SwapStretches {
  Stretch first;
  Stretch second;
  bool two = false;  // two series, each told
  bool ready() const { return first.count == 1 && second.count == 1; }
};
SwapStretches announce_swap(const Cell& series1, const Cell& series2);
void announce_swapped(const Cell& series1, const Cell& series2, const SwapStretches& stretches);

// --- Action handlers ----------------------------------------------------------------------

// The index actions read their arguments from the current frame.
Cell* at();
Cell* back();
Cell* head();
Cell* head_q();
Cell* index_q();
Cell* next();
Cell* skip();
Cell* tail();
Cell* tail_q();

int32_t length_q(Cell* series);
Cell* pick(Cell* series, int32_t index, Cell* boxed);
Cell* poke(Cell* series, int32_t index, Cell* data, Cell* boxed);
Cell* clear(Cell* series);
Cell* remove(Cell* series, int part, int key);
Cell* take(Cell* series, int part, int deep, int last);
Cell* copy(Cell* value, Cell* result, int part, int deep, int types);
Cell* reverse(Cell* series, int part, int skip);
Cell* move(Cell* origin, Cell* target, int part);
Cell* random(Cell* value, int seed, int secure, int only);
Cell* reflect(Cell* value, int field);
Cell* modify(Cell* target, Cell* field, Cell* value, int case_sensitive);

// Registers series! (id 42, no parent).
void init();

}  // namespace kel::series
