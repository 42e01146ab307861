// Helpers for the tests of the literal datatypes (date!, time!, pair!,
// tuple!, binary!, file!, url!, tag!, email!, ref!): building values, path
// access and pick, on top of the shared action calls and outcome texts of
// test_support.h, so that tables of cases read like a transcript:
//   "date! 1-Jan-2021", "integer! 365", "error not-related".
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/actions.h"
#include "runtime/stack.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "test_support.h"

namespace kel::literal_testing {

using testing::call_frame_action;
using testing::convert;
using testing::form;
using testing::I;
using testing::mold;
using testing::outcome;

// A booted runtime; the evaluation stack is put back as it was after each
// test, so the values a test builds on it do not outlive the test.
class LiteralTest : public testing::RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    guard_.emplace();
  }
  void TearDown() override { guard_.reset(); }

 private:
  std::optional<stack::Guard> guard_;
};

inline Cell F(double value) { return float_type::make(value); }
inline Cell None() { return make_cell(TYPE_NONE); }

// A text value of the type holding the UTF-8 text, at the index. The cell
// stays on the evaluation stack, below any frame the test opens later.
inline Cell T(TypeId type, std::string_view utf8, uint32_t index = 0) {
  Cell* s = string::push_new(static_cast<uint32_t>(utf8.size()) + 1);
  string::append_utf8(s, utf8);
  s->set_type(type);
  s->data1 = index;
  return *s;
}
inline Cell S(std::string_view utf8) { return T(TYPE_STRING, utf8); }

// A binary! over the bytes, at the index.
inline Cell B(std::initializer_list<uint8_t> bytes, uint32_t index = 0) {
  NodeId node = memory::alloc_bytes(static_cast<uint32_t>(bytes.size()) + 1);
  SeriesBuffer* buffer = memory::buffer_of(node);
  if (bytes.size() > 0) std::memcpy(buffer->head_ptr(), bytes.begin(), bytes.size());
  buffer->tail = buffer->offset + static_cast<uint32_t>(bytes.size());
  return *stack::push(make_cell(TYPE_BINARY, index, node, 0));
}

// A block! of the values, pushed on the stack.
inline Cell Blk(std::initializer_list<Cell> values) { return testing::pushed_block(values); }

// A word of the kind for the name.
inline Cell W(const char* name, TypeId type = TYPE_WORD) {
  return word::make_value(symbol::make(name), 0, -1, type);
}

// The value that the lexer loads from the value's mold, molded again with
// its type ("none" when the text does not load as one value).
inline std::string reloaded(const Cell& value) {
  Cell loaded = make_cell(TYPE_UNSET);
  if (word::scan_text(mold(value), &loaded) == 0) return "none";
  return std::string(datatype_name(loaded.type())) + " " + mold(loaded);
}
inline std::string typed_mold(const Cell& value) {
  return std::string(datatype_name(value.type())) + " " + mold(value);
}

// The error a body raises ("none" when it raised nothing).
template <class Body>
std::string error_of(Body&& body) {
  std::optional<ErrorId> error = testing::catch_error(body);
  return error ? error_info(*error).word : "none";
}

inline std::string math(Action action, const Cell& left, const Cell& right) {
  return outcome([&] { return call_frame_action(action, {left, right}); });
}

template <Action A>
std::string converted(TypeId type, const Cell& spec) {
  return outcome([&] { return convert<A>(type, spec); });
}

// Path access: the value reached by value/element.
inline Cell path_get(const Cell& value, const Cell& element) {
  stack::Guard guard;
  stack::mark_native(nullptr);
  Cell* parent = stack::push(value);
  Cell* key = stack::push(element);
  auto handler = actions::handler_for<Action::eval_path>(*parent);
  return *handler(parent, key, nullptr, nullptr, nullptr, nullptr, 0, false, true, false);
}

// Path set: the value after value/element: new_value.
inline Cell path_set(const Cell& value, const Cell& element, const Cell& new_value) {
  stack::Guard guard;
  stack::mark_native(nullptr);
  Cell* parent = stack::push(value);
  Cell* key = stack::push(element);
  Cell* data = stack::push(new_value);
  auto handler = actions::handler_for<Action::eval_path>(*parent);
  handler(parent, key, data, nullptr, nullptr, nullptr, 0, false, false, false);
  return *parent;
}

inline Cell pick(const Cell& value, const Cell& index) {
  stack::Guard guard;
  stack::mark_native(nullptr);
  Cell* target = stack::push(value);
  Cell* boxed = stack::push(index);
  auto handler = actions::handler_for<Action::pick>(*target);
  return *handler(target, boxed->is(TYPE_INTEGER) ? integer::get(*boxed) : 0, boxed);
}

// The compare handler's raw answer.
inline int32_t compare(const Cell& a, const Cell& b, int32_t op) {
  Cell x = a, y = b;
  return actions::compare_value(&x, &y, op);
}

}  // namespace kel::literal_testing
