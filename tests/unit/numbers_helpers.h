// Helpers for the number datatype tests (integer!, float!, percent!,
// char!): building values, and the shared action calls of test_support.h
// with their outcome (a value or a raised error) described as one short
// text, so that tables of cases read like a transcript:
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
#include "runtime/actions.h"
#include "runtime/stack.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "test_support.h"

namespace kel::numbers_test {

using testing::form;
using testing::I;
using testing::mold;
using testing::outcome;
using testing::relation;

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

// Calls an arithmetic action on two operands in a fresh frame.
inline Cell call_math(Action action, const Cell& left, const Cell& right) {
  return testing::call_frame_action(action, {left, right});
}

inline std::string math(Action action, const Cell& left, const Cell& right) {
  return outcome([&] { return call_math(action, left, right); });
}

// make or to (the frame's first cell is the prototype).
template <Action A>
std::string convert(TypeId type, const Cell& spec) {
  return outcome([&] { return testing::convert<A>(type, spec); });
}

// An action of one argument (see testing::call_unary).
inline std::string unary(Action action, const Cell& value) {
  return outcome([&] { return testing::call_unary(action, value); });
}

// round with refinements given by name (see testing::call_round).
inline std::string round(const Cell& value, std::string_view refinements, const Cell* scale = nullptr) {
  return outcome([&] { return testing::call_round(value, refinements, scale); });
}

}  // namespace kel::numbers_test
