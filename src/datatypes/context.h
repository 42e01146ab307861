// context!: the namespaces behind the global environment, functions,
// natives, actions and objects: an ordered set of words with one value slot
// per word. A word value is bound by holding a context node and the index
// of its word in that context.
//
// A context is a series of two cells:
//   cell 0  the context cell: header type 14 plus flags; data1 the node of
//           its word table (a kind-2 hash table whose key block holds one
//           word! cell per word, in insertion order: data1 the context,
//           data2 the symbol, data3 the index); data2 the values:
//           - heap context: node of the values block;
//           - stack context (flag kStackValues): 1 + the evaluation stack
//             index of the running call's first argument cell, or 0 while
//             no call of it runs (a stack index, never an address, so that
//             cells stay free of machine pointers).
//           data3 the context's own node, so that a copy of the cell (a
//           native's info block keeps one) still names its context.
//   cell 1  the self cell: the value that owns the context (the object for
//           object contexts), unset otherwise.
//
// Invariants: the index of a word in the key block is the index of its value;
// a heap context always has exactly one value cell per word (adding a word
// appends an unset value); words are never removed. Lookups take a case
// flag: with it two symbols match when their canonical ids are equal; the
// table is keyed by the canonical id either way.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/values_reference.h"

namespace kel::context {

// The kind in header bits 11-12 of the context cell.
enum Kind : uint32_t { kGlobalKind = 0, kFunctionKind = 1, kObjectKind = 2 };
constexpr uint32_t kKindShift = 11;
// Set on contexts made by the object constructors, kept by copy.
constexpr uint32_t kObjectFlag = 0x01000000;
constexpr uint32_t kGlobalCapacity = 4000;

// --- Access -------------------------------------------------------------------
// Addresses point into series buffers: re-read them after any allocation.

Cell* self_cell(NodeId context);
NodeId words_table(NodeId context);
Kind kind(NodeId context);
bool on_stack(NodeId context);
uint32_t word_count(NodeId context);
// The word cell at an index of the context's key block.
Cell* word_at(NodeId context, uint32_t index);
// The first value cell (heap values, or the running call's arguments), or
// null for a stack context with no call running.
Cell* values_head(NodeId context);
// The node of a heap context's values block (0 for a stack context).
NodeId values_node(NodeId context);

// Stack contexts: the running call's values reference (data2) and its
// encoding from the first argument cell. The evaluator stores it when a call
// starts, and the stack puts the saved one back when the call's frame is
// popped.
//
// (values_reference, set_values_reference and the last_referenced mirror
// are in runtime/values_reference.h.)
uint32_t stack_reference(const Cell* first_argument);

// --- The global context -------------------------------------------------------------

NodeId global();
// Creates the global context (kind 0, room for 4000 words) and turns word
// recording on.
void init_global();

// Word recording: while on, words, refinements and issues made from names
// by start-up code are copied to the root block so that they live as roots.
bool word_recording();
void set_word_recording(bool on);

// --- Creation and copy -------------------------------------------------------------

// A new context with room for size words (0 is taken as 1). With a source
// context its words are copied in (rebound to the new context) and, for a
// heap context, one unset value is made per word.
NodeId create(uint32_t size, bool stack, bool object, NodeId source, Kind kind);
// A context holding the symbols of the word!, get-word!, lit-word! and
// refinement! values of a block from its index (case flag set, so spellings
// differing only in case add one word); set-words are not added.
NodeId make_from_words(const Cell* block, bool stack, bool object, Kind kind);
// A new context with the words of the owner's context (data1), rebound to
// it; heap values are unset (the caller copies them). The owner's data1
// takes the new node, which is also returned. owner must not live in a
// series buffer (it is written after allocating).
NodeId copy(Cell* owner, Kind kind);

// --- Lookup and growth -------------------------------------------------------------

int32_t find_word(NodeId context, uint32_t symbol, bool case_insensitive);
// Looks the symbol up; when absent appends a word for it to the key block,
// writes its index to *added and answers -1. No value is added.
int32_t find_word_in(NodeId context, uint32_t symbol, bool case_insensitive, int32_t* added);
// The index of the word's symbol (case flag set), added when absent together
// with an unset value for a heap context.
int32_t add_word(NodeId context, uint32_t symbol);
// Adds the symbol with a copy of the value when it is new; nothing otherwise.
void add_field(NodeId context, uint32_t symbol, Cell value);
// Adds the symbol of every set-word! of a block from its index; true when
// the context grew.
bool add_set_words(NodeId context, const Cell* block);
// Stores a copy of the value as the symbol's value, adding the word first
// when it is absent (case flag set). Returns the slot.
Cell* put_value(NodeId context, uint32_t symbol, Cell value);
// The value cell of a symbol (case flag set); a stack context answers from
// the global context. Null when the symbol is absent.
Cell* value_slot(NodeId context, uint32_t symbol);
// The word cell of the symbol in the context (exact match), else the global
// word for it.
Cell* value_slot_or_global(NodeId context, uint32_t symbol);

// The global word of a symbol, added when absent. See context.cpp for the
// treatment of case variants; with copy_flag a variant matched by case gets
// its own word cell in the root block.
Cell* add_global(uint32_t symbol, bool case_insensitive, bool copy_flag);
// add_global(symbol, false, true); while word recording is on the word is
// copied to the root block and the copy returned.
Cell* add_global_word(uint32_t symbol);
// Copies the global value of a symbol into out, adding the symbol first.
void global_value(uint32_t symbol, Cell* out);
// The global value cell of a symbol (case flag set), null when absent.
Cell* global_slot(uint32_t symbol);

// --- Binding -------------------------------------------------------------------------

// Binds one word (case flag set): on success sets its context and index
// and returns the index; otherwise leaves it alone and returns -1.
int32_t bind_word(NodeId context, Cell* word);
// Binds every word of a block and of the blocks, parens, paths and hash!
// values inside it, deeply; issue! values are left alone. With self_flag a
// word! spelled exactly "self" binds to the context with index -1 (it then
// reads as the context's owner). With add_unknown, words the context lacks
// are added to it first, so that every word ends up bound. A block met
// inside itself is walked once.
void bind(const Cell* block, NodeId context, bool self_flag, bool add_unknown = false);
// A deep copy of the block (block::clone with deep and any_block), pushed,
// with its words bound to the context as bind without self_flag or
// add_unknown would bind them: the copy is bound while it is made, in one
// walk, since its blocks are fresh and cannot hold themselves.
Cell* copy_bound(const Cell* block, NodeId context);

// --- Reading and writing ------------------------------------------------------------

// The address of the word's value cell. Raises script no-value for an
// unresolved word (other than self), not-in-context for a function context
// with no call running, not-defined for a word bound to no context.
Cell* get(const Cell* word);
// Stores a copy of the value as the word's value in the context, resolving
// (and if need be adding) the word first when its index is -1. Raises
// not-defined for a function context with no call running. Returns the
// slot (null for a stack context).
Cell* set_in(Cell* word, Cell value, NodeId context, bool notify);
// set_in on the word's own context with notification.
Cell* set(Cell* word, Cell value);
// Resolves the word's index (exact match) when it is -1, then stores an
// integer! n there.
void set_integer(NodeId context, Cell* word, int32_t n);

// Registers context! (id 14, no actions).
void init();

}  // namespace kel::context
