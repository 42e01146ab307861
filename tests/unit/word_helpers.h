// Helpers for the symbol, context, word and typeset tests: building words
// and blocks in C++ (there is no lexer to read them from text), molding and
// forming values, and calling action handlers inside a native frame.
#pragma once

#include <initializer_list>
#include <string>

#include "datatypes/context.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/actions.h"
#include "runtime/stack.h"
#include "runtime/datatype_registry.h"
#include "runtime/memory.h"
#include "runtime/series_tail.h"
#include "runtime/root_block.h"
#include "test_support.h"

namespace kel::testing {

// An unbound word of a kind (no context, index -1).
inline Cell loose_word(const char* name, TypeId type = TYPE_WORD) {
  return word::make_value(symbol::make(name), 0, -1, type);
}

// A word of a kind bound in the global context, as the lexer makes them.
inline Cell global_word(const char* name, TypeId type = TYPE_WORD) {
  Cell cell;
  word::make_at(symbol::make(name), &cell);
  return cell.set_type(type);
}

// A block (or another block kind) holding copies of the cells, kept alive
// from the root block.
inline Cell block_of(std::initializer_list<Cell> cells, TypeId type = TYPE_BLOCK) {
  Cell block = make_cell(type, 0, memory::alloc_cells(static_cast<uint32_t>(cells.size()) + 1), 0);
  for (const Cell& cell : cells) append_value(&block, cell);
  root::keep(block);
  return block;
}

inline Cell& cell_at(const Cell& block, uint32_t index) {
  return memory::buffer_of(block.data2)->cells()[index];
}

// Molds with a /part limit; returns the text and stores the limit left.
inline std::string molded_part(const Cell& value, int32_t limit, int32_t* left) {
  stack::Guard guard;
  Cell* buffer = string::push_new(16);
  Cell value_copy = value;
  Cell part = make_cell(TYPE_INTEGER, 0, static_cast<uint32_t>(limit));
  *left = actions::mold(&value_copy, buffer, false, false, false, &part, limit, 0);
  return string::to_std_string(*buffer);
}

// Calls an action handler inside a native frame whose argument cells are the
// given values; returns the frame's result. The handler is the one of the
// first argument's type, or of dispatch when given (make and to dispatch on
// their target type).
template <Action A, class Call>
Cell call_in_frame(std::initializer_list<Cell> arguments, Call&& call, TypeId dispatch = 0) {
  stack::Guard guard;
  stack::mark_native(nullptr);
  for (const Cell& argument : arguments) stack::push(argument);
  Cell* frame = stack::arguments();
  ActionHandler<A> handler = action_handler<A>(dispatch != 0 ? dispatch : frame[0].type());
  EXPECT_NE(handler, nullptr);
  if (handler != nullptr) call(handler, frame);
  return *stack::arguments();
}

}  // namespace kel::testing
