// Helpers for the number datatype tests (integer!, float!, percent!,
// char!): building values, calling action handlers inside a frame the way
// the action entry does, and describing an outcome (a value or a raised
// error) as one short text, so that tables of cases read like a transcript:
//   "float! 2147483648.0", "integer! 3", "error overflow".
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>

#include "datatypes/char.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/percent.h"
#include "datatypes/string.h"
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "test_support.h"

namespace kel::numbers_test {

inline Cell I(int32_t value) { return integer::make(value); }
inline Cell F(double value) { return float_type::make(value); }
inline Cell P(double fraction) { return percent::make(fraction); }
inline Cell C(uint32_t code_point) { return character::make(code_point); }

// A string! holding the UTF-8 text. The cell is left on the evaluation stack
// below any frame the test opens later (there is no collector to mind it).
inline Cell S(std::string_view utf8) {
  Cell* s = string::push_new(static_cast<uint32_t>(utf8.size()));
  string::append_utf8(s, utf8);
  return *s;
}

// A binary! over the bytes, at index 0.
inline Cell B(std::initializer_list<uint8_t> bytes) {
  NodeId node = memory::alloc_bytes(static_cast<uint32_t>(bytes.size()));
  SeriesBuffer* buffer = memory::buffer_of(node);
  if (bytes.size() > 0) std::memcpy(buffer->data(), bytes.begin(), bytes.size());
  buffer->tail = static_cast<uint32_t>(bytes.size());
  return make_cell(TYPE_BINARY, 0, node, 0);
}

// "integer! 3", or "error <id word>" when the body raised an error.
template <class Body>
std::string outcome(Body&& body) {
  Cell result{};
  std::optional<ErrorId> error = testing::catch_error([&] { result = body(); });
  if (error) return std::string("error ") + error_info(*error).word;
  return std::string(datatype_name(result.type())) + " " + actions::mold_to_string(result, false);
}

// Calls an arithmetic action on two operands in a fresh frame.
inline Cell call_math(Action action, const Cell& left, const Cell& right) {
  stack::Guard guard;
  stack::mark_native(nullptr);
  stack::push(left);
  stack::push(right);
  auto handler = reinterpret_cast<Cell* (*)()>(action_entry(left.type(), action));
  if (handler == nullptr) actions::unsupported(left);
  return *handler();
}

inline std::string math(Action action, const Cell& left, const Cell& right) {
  return outcome([&] { return call_math(action, left, right); });
}

// make or to (the frame's first cell is the prototype).
template <Action A>
std::string convert(TypeId type, const Cell& spec) {
  return outcome([&] {
    stack::Guard guard;
    stack::mark_native(nullptr);
    Cell* proto = stack::push(datatype::make(type));
    Cell* argument = stack::push(spec);
    return *actions::handler_for<A>(make_cell(type))(proto, argument, type);
  });
}

// An action of one argument that takes the cell (negate, even?, odd?,
// complement) or reads the frame (absolute).
inline std::string unary(Action action, const Cell& value) {
  return outcome([&] {
    stack::Guard guard;
    stack::mark_native(nullptr);
    Cell* argument = stack::push(value);
    GenericHandler h = action_entry(value.type(), action);
    if (h == nullptr) actions::unsupported(value);
    if (action == Action::absolute) return *reinterpret_cast<Cell* (*)()>(h)();
    return *reinterpret_cast<Cell* (*)(Cell*)>(h)(argument);
  });
}

// round with refinements given by name ("to", "even", "down", "half-down",
// "floor", "ceiling", "half-ceiling"), several separated by "/".
inline std::string round(const Cell& value, std::string_view refinements, const Cell* scale = nullptr) {
  return outcome([&] {
    stack::Guard guard;
    stack::mark_native(nullptr);
    Cell* argument = stack::push(value);
    int to = -1;
    if (scale != nullptr) {
      stack::push(*scale);
      to = 1;
    }
    auto has = [&](std::string_view name) {
      size_t at = 0;
      while (at <= refinements.size()) {
        size_t end = refinements.find('/', at);
        if (end == std::string_view::npos) end = refinements.size();
        if (refinements.substr(at, end - at) == name) return 0;
        at = end + 1;
      }
      return -1;
    };
    return *actions::handler_for<Action::round>(value)(argument, to, has("even"), has("down"),
                                                        has("half-down"), has("floor"), has("ceiling"),
                                                        has("half-ceiling"));
  });
}

inline std::string form(const Cell& value) { return actions::form_to_string(value); }
inline std::string mold(const Cell& value) { return actions::mold_to_string(value, false); }

// compare through the comparison dispatch (-2 answers false for equality,
// raises invalid-compare for ordering).
inline std::string relation(const Cell& a, const Cell& b, int32_t op) {
  Cell left = a, right = b;
  bool answer = false;
  std::optional<ErrorId> error = testing::catch_error([&] { answer = actions::compare(&left, &right, op); });
  if (error) return std::string("error ") + error_info(*error).word;
  return answer ? "true" : "false";
}

}  // namespace kel::numbers_test
