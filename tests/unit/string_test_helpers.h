// Helpers for the string! tests: strings of a chosen unit built from UTF-8,
// blocks of values, and action calls made the way the action entry makes
// them (in a frame whose first cell is the series and the result).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "datatypes/string.h"
#include "datatypes/string_internal.h"
#include "runtime/stack.h"
#include "runtime/datatype_registry.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"
#include "test_support.h"

namespace kel::string_testing {

// The code points of UTF-8 text.
inline std::vector<uint32_t> code_points(std::string_view utf8) {
  std::vector<uint32_t> out;
  const auto* p = reinterpret_cast<const uint8_t*>(utf8.data());
  const auto* end = p + utf8.size();
  while (p < end) {
    int32_t c;
    p = unicode::fast_decode_utf8_char(p, &c);
    out.push_back(static_cast<uint32_t>(c));
  }
  return out;
}

// A string of the given unit holding the text (each code point must fit
// the unit), at the given index, pushed on the evaluation stack so it stays
// rooted for the test. type makes it a file!, tag! ...
inline Cell text(std::string_view utf8, uint32_t unit = 1, uint32_t index = 0, TypeId type = TYPE_STRING) {
  std::vector<uint32_t> chars = code_points(utf8);
  Cell* cell = stack::push_slot();
  string::load_at(cell, static_cast<uint32_t>(chars.size()) + 1, unit);
  SeriesBuffer* b = string::buffer_of(cell);
  for (size_t i = 0; i < chars.size(); ++i) unicode::put_char(b->head_ptr() + i * unit, unit, chars[i]);
  b->tail = b->offset + static_cast<uint32_t>(chars.size()) * unit;
  cell->data1 = index;
  cell->set_type(type);
  return *cell;
}

inline std::string utf8(const Cell& s) { return string::to_std_string(s); }
// The whole text from the head, whatever the index.
inline std::string whole(Cell s) {
  s.data1 = 0;
  return string::to_std_string(s);
}
inline uint32_t unit_of(const Cell& s) { return string::buffer_of(&s)->unit(); }

inline Cell character(uint32_t code_point) { return make_cell(TYPE_CHAR, 0, code_point); }
inline Cell integer_cell(int32_t value) { return make_cell(TYPE_INTEGER, 0, static_cast<uint32_t>(value)); }

// A block! of the values, pushed on the stack.
inline Cell block(std::initializer_list<Cell> values) { return testing::pushed_block(values); }

// A bitset! holding the code points (bit n: byte n >> 3, mask 0x80 >> (n & 7)).
inline Cell bitset(std::initializer_list<uint32_t> members, bool complemented = false) {
  uint32_t highest = 0;
  for (uint32_t m : members) highest = std::max(highest, m);
  uint32_t bytes = (highest >> 3) + 1;
  NodeId node = memory::alloc_bytes_filled(bytes, 0);
  SeriesBuffer* b = memory::buffer_of(node);
  for (uint32_t m : members) b->head_ptr()[m >> 3] |= static_cast<uint8_t>(0x80 >> (m & 7));
  if (complemented) b->flags |= series_flags::kBitsetComplement;
  return *stack::push(make_cell(TYPE_BITSET, 0, node, 0));
}

// Action frames come from test_support.h: a refinement is pushed as its
// argument cell (ref), or as a logic! true for a flag, and answers its
// frame index.
using testing::ActionFrame;

// "none", or the series' text from its index followed by "@" and the index:
// enough to tell where a search or an edit left the series.
inline std::string where(const Cell& result) {
  if (result.is(TYPE_NONE)) return "none";
  return utf8(result) + "@" + std::to_string(result.data1);
}

}  // namespace kel::string_testing
