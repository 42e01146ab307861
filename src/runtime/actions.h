// Action dispatch: the inner routines that find a datatype's handler in the
// datatype action table and call it with explicit arguments. A type without
// a handler for the action raises script expect-arg naming the current call,
// the value's datatype and the call's first argument.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/action_slots.h"
#include "runtime/cell.h"
#include "runtime/datatype_registry.h"

namespace kel::actions {

[[noreturn]] void unsupported(const Cell& value);

template <Action A>
ActionHandler<A> handler_for(const Cell& value) {
  ActionHandler<A> h = action_handler<A>(value.type());
  if (h == nullptr) unsupported(value);
  return h;
}

// Appends the value's form / mold to the output string; returns the part
// limit left.
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);

// The raw compare answer: 0, negative, positive or -2 (not comparable).
int32_t compare_value(Cell* value1, Cell* value2, int32_t op);
// The relation for an operator code; -2 is false for the equality codes and
// script invalid-compare for the ordering ones.
bool compare(Cell* value1, Cell* value2, int32_t op);

// Conveniences for C++ callers: the whole form or mold as UTF-8 text. They
// use a string on the evaluation stack and leave the stack as they found it.
std::string form_to_string(const Cell& value);
std::string mold_to_string(const Cell& value, bool all);

}  // namespace kel::actions
