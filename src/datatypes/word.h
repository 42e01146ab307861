// The word family: word!, set-word!, lit-word!, get-word!, refinement! and
// issue!, the language's identifiers as values.
//
// All six share one cell (types 15 to 20):
//   data1  node of the context the word is bound to (0: none)
//   data2  symbol id
//   data3  index of the word in that context, -1 when not resolved
// They differ in how they are written and evaluated. Words made from a name
// are bound in the global context (index found or added there); issues get
// the global context and index -1 and are never bound; refinements made by
// refinement::load have no context.
//
// Comparison works on symbols: equality ignoring case compares canonical
// ids (symbol::resolve), strict equality exact ids, ordering the names as
// text.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::word {

constexpr uint32_t kUnresolved = 0xFFFFFFFFu;

inline bool is_any_word(TypeId type) { return type >= TYPE_WORD && type <= TYPE_ISSUE; }

inline Cell make_value(uint32_t symbol, NodeId context, int32_t index, TypeId type = TYPE_WORD) {
  return make_cell(type, context, symbol, static_cast<uint32_t>(index));
}
inline uint32_t symbol_of(const Cell& word) { return word.data2; }
// The interpreter's word lookup, itself always inlined, reads these two: an
// inline call there would weigh on the inliner's budget for its callers.
[[gnu::always_inline]] inline NodeId context_of(const Cell& word) { return word.data1; }
[[gnu::always_inline]] inline int32_t index_of(const Cell& word) { return static_cast<int32_t>(word.data3); }

// --- Constructors -------------------------------------------------------------------

// Interns the name and returns its global word; while word recording is on
// the word is copied to the root block and that copy returned (start-up
// code keeps such words).
Cell* load(const char* name);
// Makes cell a word! for the symbol bound in the global context.
Cell* make_at(uint32_t symbol, Cell* cell);
// The same into the current frame's result cell.
Cell* make_in_result(uint32_t symbol);
// The same in a new cell appended to a block (append_name interns first).
Cell* append_to(const Cell* block, uint32_t symbol);
Cell* append_name(const char* name, const Cell* block);
// The same on a new evaluation stack cell.
Cell* push_global(uint32_t symbol);
// Pushes a copy of any cell.
Cell* push(const Cell& cell);
// Copies a cell into a new cell at the root block's tail.
Cell* keep_in_root(const Cell& cell);
// The word cell at an index of a context's word table, and a pushed copy.
Cell* at(NodeId context, uint32_t index);
Cell* push_local(NodeId context, uint32_t index);

// --- Values -------------------------------------------------------------------------

// The symbol record of the word's symbol (with its cached name made).
Cell* get_symbol(const Cell& word);
// Pushes a copy of the word's value; an unset value raises script no-value.
Cell* get(const Cell* word);
// Pushes a copy of the word's value, unset or not.
Cell* push_value_of(const Cell* word);
// Copies the current frame's first cell into out; an unset value there
// raises script need-value naming out.
void check_result(Cell* out);
// The value cell at an index of a heap context.
Cell* get_in(NodeId context, uint32_t index);
// Pushes a copy of the value at an index of a context; a stack context with
// no call running raises script not-defined naming the word at that index.
Cell* push_value(NodeId context, uint32_t index);
// Copies the last pushed value into the slot at an index of a heap context;
// in an object context the field is marked as set first. No change
// notification is sent by these three.
Cell* set_value(NodeId context, uint32_t index);
// The same from the current frame's result cell; returns it.
Cell* set_value_from_result(NodeId context, uint32_t index);
// The same as set_value, then pushes the slot's previous value.
void set_value_keep_old(NodeId context, uint32_t index);
// Set-word evaluation: the frame holds the word in its first cell and the
// value in its second; an unset value raises script need-value; else the
// word is set and the value becomes the frame's result.
Cell* set_from_frame();

// True when the word names any-type! (canonically).
bool any_type_q(const Cell& word);

// --- Lexing names -------------------------------------------------------------------

// The lexer's service for conversions from text: the datatype that the text
// loads as when it is exactly one value (0 otherwise); when out is not null
// the value is loaded into it: the registration table's scan_word entry,
// which the lexer fills at start-up; until then no text converts to a word
// (conversions raise invalid-chars or bad-to-arg).
// Runs the installed scanner on the text (for conversions of text to
// pair!, tuple!, time! and the like): the datatype of the one value it
// holds, loaded into out, or 0 when it is not exactly one value or no lexer
// is installed yet.
TypeId scan_text(std::string_view utf8, Cell* out);
// The datatype the lexer makes of the word's name alone (0 without a lexer).
TypeId lex_type(const Cell& word);

// --- Action handlers (shared with the other word kinds) ----------------------------

// make and to: one routine; type is the target type, set exactly on the result.
Cell* make_to(Cell* proto, Cell* spec, TypeId type);
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
Cell* index_q();

// Registers word! (id 15, parent symbol!).
void init();

// Makes the word of every registered type's name ("integer!") and records
// its symbol in the type name table (needs the global context).
void init_type_names();

}  // namespace kel::word

// The per-kind helpers: each wraps the word! helper and sets its own type.
// set: the frame holds the word in its first cell and the value in its
// second; the word is set and the value becomes the result. get: the frame's
// result becomes a copy of the value of the word in its first cell.
namespace kel::lit_word {
Cell* append_name(const char* name, const Cell* block);
Cell* load(const char* name);
Cell* push(const Cell& cell);
Cell* push_local(NodeId context, uint32_t index);
Cell* set();
Cell* get();
void init();
}  // namespace kel::lit_word

namespace kel::set_word {
Cell* append_name(const char* name, const Cell* block);
Cell* load(const char* name);
Cell* push(const Cell& cell);
Cell* push_local(NodeId context, uint32_t index);
Cell* set();
Cell* get();
void init();
}  // namespace kel::set_word

namespace kel::get_word {
Cell* append_name(const char* name, const Cell* block);
Cell* load(const char* name);
Cell* push(const Cell& cell);
Cell* push_local(NodeId context, uint32_t index);
Cell* set();
// Pushes a copy of the word's value, unset or not.
Cell* get(const Cell* word);
void init();
}  // namespace kel::get_word

namespace kel::refinement {
Cell* append_name(const char* name, const Cell* block);
// Appends a refinement! with no context for the interned name to the root
// block and returns it (start-up).
Cell* load(const char* name);
Cell* push(const Cell& cell);
Cell* push_local(NodeId context, uint32_t index);
Cell* set();
Cell* get();
void init();
}  // namespace kel::refinement

// issue!: a word that is never bound: global context, index -1.
namespace kel::issue {
Cell* append_name(const char* name, const Cell* block);
// Into the root block while word recording is on, else on a new stack cell.
Cell* load(const char* name);
Cell* make_at(Cell* cell, const char* name);
// Pushes a copy of a cell retyped to issue!.
Cell* push(const Cell& cell);
Cell* make_to(Cell* proto, Cell* spec, TypeId type);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
// Registers issue! (id 20, parent word!).
void init();
}  // namespace kel::issue
