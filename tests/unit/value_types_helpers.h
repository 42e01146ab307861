// Helpers shared by the tests of money!, the points, bitset! and vector!:
// values loaded from source text, outcomes described with mold/all (so an
// amount shows its five fraction digits), and the round action called with
// refinements given by name. The literal helpers supply the rest.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include "literal_helpers.h"

namespace kel::value_types_testing {

using namespace literal_testing;

// The one value the lexer loads from the text (the test fails when the
// text is not exactly one value).
inline Cell V(std::string_view source) {
  Cell loaded = make_cell(TYPE_UNSET);
  TypeId type = word::scan_text(source, &loaded);
  EXPECT_NE(type, 0u) << source;
  return loaded;
}

// "money! $1.10000", "float! 0.33333" or "error <id word>": the outcome
// with its type and its mold/all.
template <class Body>
std::string precise(Body&& body) {
  Cell result{};
  std::optional<ErrorId> error = testing::catch_error([&] { result = body(); });
  if (error) return std::string("error ") + error_info(*error).word;
  return std::string(datatype_name(result.type())) + " " + actions::mold_to_string(result, true);
}

inline std::string precise_math(Action action, const Cell& left, const Cell& right) {
  return precise([&] { return call_frame_action(action, {left, right}); });
}

// make or to with the outcome described by mold/all.
template <Action A>
std::string precise_convert(TypeId type, const Cell& spec) {
  return precise([&] { return convert<A>(type, spec); });
}

// round with refinements given by name ("to", "even", "down", "half-down",
// "floor", "ceiling", "half-ceiling"), several separated by "/".
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

// The relation under a comparison operator through the comparison
// dispatch: "true", "false" or "error <id word>".
inline std::string relation(const Cell& a, const Cell& b, int32_t op) {
  Cell left = a, right = b;
  bool answer = false;
  std::optional<ErrorId> error = testing::catch_error([&] { answer = actions::compare(&left, &right, op); });
  if (error) return std::string("error ") + error_info(*error).word;
  return answer ? "true" : "false";
}

// mold with /part and /only as the mold action gives it: the handler
// writes, then the text is cut to the limit (0x7FFFFFFF: no /part).
inline std::string molded_part(const Cell& value, int32_t limit, bool only = false) {
  stack::Guard guard;
  stack::mark_native(nullptr);
  Cell* subject = stack::push(value);
  Cell* part = stack::push(integer::make(limit));
  Cell* out = string::push_new(32);
  actions::mold(subject, out, only, false, false, limit == 0x7FFFFFFF ? nullptr : part, limit, 0);
  std::string text = string::to_std_string(*out);
  if (limit != 0x7FFFFFFF && text.size() > static_cast<size_t>(limit)) text.resize(static_cast<size_t>(limit));
  return text;
}

}  // namespace kel::value_types_testing
