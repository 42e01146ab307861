// Helpers for the series, block and path tests: compact builders for
// blocks of integers, words, strings and nested blocks (there is no lexer
// yet) and the texts of mold and form with their refinements; the action
// frames and value texts come from test_support.h.
#pragma once

#include <initializer_list>
#include <string>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/actions.h"
#include "runtime/stack.h"
#include "runtime/datatype_registry.h"
#include "test_support.h"

namespace kel::testing {

inline Cell W(const char* name) { return *word::load(name); }
inline Cell S(const char* text) {
  stack::Guard guard;
  Cell* s = string::push_new(8);
  string::append_utf8(s, text);
  return *s;
}
inline Cell none_cell() { return none::value; }
inline Cell logic_cell(bool flag) { return logic::make(flag); }

// The value marked as starting a new line.
inline Cell NL(Cell value) {
  value.set_new_line(true);
  return value;
}

// A new block (of the given type) holding copies of the values, index 0.
inline Cell B(std::initializer_list<Cell> values, TypeId type = TYPE_BLOCK) {
  stack::Guard guard;
  Cell* block = block::push_only(static_cast<int32_t>(values.size()));
  for (const Cell& value : values) block::rs_append(block, value);
  block->set_type(type);
  return *block;
}

// The same block positioned at a 0-based index.
inline Cell at(Cell series, uint32_t index) {
  series.data1 = index;
  return series;
}

// mold with its refinements; part is the limit (0x7FFFFFFF for none).
inline std::string mold_with(const Cell& value, bool only, bool all, bool flat,
                             int32_t part = 0x7FFFFFFF, int32_t* left = nullptr) {
  stack::Guard guard;
  Cell* v = stack::push(value);
  Cell* buffer = string::push_new(32);
  int32_t rest = actions::mold(v, buffer, only, all, flat, nullptr, part, 0);
  if (left) *left = rest;
  return string::to_std_string(*buffer);
}

inline std::string form_part(const Cell& value, int32_t part, int32_t* left = nullptr) {
  stack::Guard guard;
  Cell* v = stack::push(value);
  Cell* buffer = string::push_new(32);
  int32_t rest = actions::form(v, buffer, nullptr, part);
  if (left) *left = rest;
  return string::to_std_string(*buffer);
}

// The handler of an action for a type.
template <Action A>
ActionHandler<A> handler(TypeId type) {
  return action_handler<A>(type);
}

}  // namespace kel::testing
