// Helpers shared by the tests of money!, the points, bitset! and vector!:
// values loaded from source text and outcomes described with mold/all (so
// an amount shows its five fraction digits). The literal helpers and
// test_support.h supply the rest.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include "literal_helpers.h"

namespace kel::value_types_testing {

using namespace literal_testing;
using testing::call_round;
using testing::call_unary;
using testing::relation;

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
  return outcome(body, true);
}

inline std::string precise_math(Action action, const Cell& left, const Cell& right) {
  return precise([&] { return call_frame_action(action, {left, right}); });
}

// make or to with the outcome described by mold/all.
template <Action A>
std::string precise_convert(TypeId type, const Cell& spec) {
  return precise([&] { return convert<A>(type, spec); });
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
