// Shared helpers for the unit tests: a booted runtime, running code that may
// raise a Kel error the way a `try` would, calling action handlers in a
// frame the way the action entries do, and describing an outcome (a value
// or a raised error) as one short text, so that tables of cases read like a
// transcript: "integer! 3", "error overflow".
//
// The topic helpers (block_helpers.h, literal_helpers.h, numbers_helpers.h,
// string_test_helpers.h, value_types_helpers.h, word_helpers.h) build on
// these and add only what their topic needs.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "boot/entry.h"
#include "boot/wiring_check.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "runtime/actions.h"
#include "runtime/stack.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "runtime/exits.h"
#include "runtime/memory.h"
#include "runtime/runtime.h"
#include "runtime/series_tail.h"

namespace kel::testing {

// Initialises the runtime once per test binary, with the start-up check
// that every native, action and hook slot was filled.
inline void boot() {
  boot::require_wiring_check();
  boot::init_runtime(&boot::kBuiltImage);
}

// Runs body inside a try frame. Returns the catalog id of the error it
// raised, or nothing when it completed. The stacks are left as they were.
template <class Body>
std::optional<ErrorId> catch_error(Body&& body) {
  boot();
  stack::Guard guard;
  stack::mark_try(nullptr);
  try {
    body();
  } catch (const exits::Unwind& unwind) {
    if (unwind.code != exits::kError) throw;
    runtime::system().exit_code = 0;
    return error_value::id_of(runtime::system().thrown_value);
  }
  return std::nullopt;
}

// The error value caught by the last catch_error that caught one.
inline const Cell& last_error() { return runtime::system().thrown_value; }

// A fixture that boots the runtime.
class RuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override { boot(); }
};

// --- Values and their texts ---------------------------------------------------------

inline Cell I(int32_t value) { return integer::make(value); }

// A float! cell.
inline Cell float_cell(double d) {
  Cell c = make_cell(TYPE_FLOAT);
  c.set_double(d);
  return c;
}

// A block! of the values, at index 0, pushed on the evaluation stack so it
// stays rooted for the test.
inline Cell pushed_block(std::initializer_list<Cell> values) {
  NodeId node = memory::alloc_cells(static_cast<uint32_t>(values.size()) + 1);
  SeriesBuffer* b = memory::buffer_of(node);
  for (const Cell& v : values) *alloc_tail(&b) = v;
  return *stack::push(make_cell(TYPE_BLOCK, 0, node, 0));
}

inline std::string mold(const Cell& value) { return actions::mold_to_string(value, false); }
inline std::string form(const Cell& value) { return actions::form_to_string(value); }

// "integer! 3" (the datatype and the mold of the body's result, mold/all
// with mold_all), or "error <id word>" when the body raised an error.
template <class Body>
std::string outcome(Body&& body, bool mold_all = false) {
  Cell result{};
  std::optional<ErrorId> error = catch_error([&] { result = body(); });
  if (error) return std::string("error ") + error_info(*error).word;
  return std::string(datatype_name(result.type())) + " " + actions::mold_to_string(result, mold_all);
}

// The relation under a comparison operator through the comparison dispatch
// (-2 answers false for equality, raises invalid-compare for ordering):
// "true", "false" or "error <id word>".
inline std::string relation(const Cell& a, const Cell& b, int32_t op) {
  Cell left = a, right = b;
  bool answer = false;
  std::optional<ErrorId> error = catch_error([&] { answer = actions::compare(&left, &right, op); });
  if (error) return std::string("error ") + error_info(*error).word;
  return answer ? "true" : "false";
}

// --- Calling action handlers ----------------------------------------------------------

// An action frame as the action entries build it: argument cells in order,
// then the refinements' arguments, whose frame indexes ref() answers. The
// frame and everything pushed are dropped when it goes out of scope, so read
// results before that.
class ActionFrame {
 public:
  ActionFrame() { stack::mark_native(nullptr); }
  Cell* arg(const Cell& value) { return stack::push(value); }
  int ref(const Cell& value) { return static_cast<int>(stack::push(value) - stack::arguments()); }
  // A refinement without an argument: any index but -1.
  static constexpr int kOn = 0;
  // A used refinement pushed as a logic! true.
  int flag() { return ref(make_cell(TYPE_LOGIC, 1)); }
  // The refinement's index when it has a value (or is on), else -1.
  template <class T>
  int optional(const std::optional<T>& value) {
    return value ? ref(*value) : -1;
  }
  int optional(bool on) { return on ? flag() : -1; }

 private:
  stack::Guard guard_;
};

// make or to into the type, through the target type's handler, in a frame
// whose first cell is the prototype (a datatype! cell, and the result slot).
template <Action A>
Cell convert(TypeId type, const Cell& spec) {
  stack::Guard guard;
  stack::mark_native(nullptr);
  Cell* proto = stack::push(datatype::make(type));
  Cell* argument = stack::push(spec);
  auto handler = action_handler<A>(type);
  if (handler == nullptr) actions::unsupported(*proto);
  return *handler(proto, argument, type);
}

// An arithmetic or index action that reads its operands from the frame.
inline Cell call_frame_action(Action action, std::initializer_list<Cell> operands) {
  stack::Guard guard;
  stack::mark_native(nullptr);
  for (const Cell& operand : operands) stack::push(operand);
  auto handler = reinterpret_cast<Cell* (*)()>(action_entry(operands.begin()->type(), action));
  if (handler == nullptr) actions::unsupported(*operands.begin());
  return *handler();
}

// An action of one argument that takes the cell (negate, even?, odd?,
// complement) or reads the frame (absolute).
inline Cell call_unary(Action action, const Cell& value) {
  stack::Guard guard;
  stack::mark_native(nullptr);
  Cell* argument = stack::push(value);
  GenericHandler h = action_entry(value.type(), action);
  if (h == nullptr) actions::unsupported(value);
  if (action == Action::absolute) return *reinterpret_cast<Cell* (*)()>(h)();
  return *reinterpret_cast<Cell* (*)(Cell*)>(h)(argument);
}

// round with refinements given by name ("to", "even", "down", "half-down",
// "floor", "ceiling", "half-ceiling"), several separated by "/"; the scale
// is /to's argument.
inline Cell call_round(const Cell& value, std::string_view refinements, const Cell* scale = nullptr) {
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
  return *actions::handler_for<Action::round>(value)(argument, to, has("even"), has("down"), has("half-down"),
                                                      has("floor"), has("ceiling"), has("half-ceiling"));
}

}  // namespace kel::testing
