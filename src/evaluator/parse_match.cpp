// Parse value matching: literal matches, searches, repeats and type
// matches over block, text and binary input, and the keep routine of
// collect.
//
// The inner loops read the input buffer directly, one unit at a time, with
// the unit width (1, 2 or 4 bytes for text) fixed by a template parameter,
// so that tokenising a large text with a character class costs a table
// test per character and no allocation. Nothing here evaluates Kel code;
// the only routines that allocate (the keep routine, and the UTF-8 form of
// a text value sought in binary input) re-read every buffer afterwards.
#include "evaluator/parse_match.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/datatype.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/actions.h"
#include "io/lexer.h"
#include "runtime/action_slots.h"
#include "runtime/case_folding.h"
#include "runtime/memory.h"
#include "runtime/string_units.h"
#include "datatypes/argument_checks.h"

namespace kel::parse::match {

namespace {

// --- Reading units ----------------------------------------------------------------------------

inline SeriesBuffer* buffer_of(const Cell& input) { return series::buffer_of(&input); }

template <class Unit>
inline uint32_t load_unit(const uint8_t* p) {
  Unit u;
  std::memcpy(&u, p, sizeof u);
  return static_cast<uint32_t>(u);
}

// The code point at an absolute position of a text buffer.
inline uint32_t char_at(const SeriesBuffer* buffer, uint32_t position) {
  uint32_t unit = buffer->unit();
  return unicode::get_char(buffer->data() + buffer->offset + uint64_t{position} * unit, unit);
}

// Upper-case folding as text comparisons use it; ASCII without a call.
inline uint32_t fold(uint32_t c) {
  if (c < 128) return (c >= 'a' && c <= 'z') ? c - 32 : c;
  return case_folding::to_upper_char(c);
}

inline bool same_char(uint32_t c, uint32_t sought, uint32_t sought_folded, int32_t mode) {
  if (c == sought) return true;
  return mode != 2 && fold(c) == sought_folded;
}

// A bitset's membership test over its stored bytes; bits past them answer
// the complement flag. The view holds a raw address: use it only while
// nothing allocates.
struct Bits {
  const uint8_t* bytes;
  uint32_t count;
  bool complement;

  explicit Bits(const Cell& bitset) {
    const SeriesBuffer* b = bitset::buffer_of(&bitset);
    bytes = b->data() + b->offset;
    count = b->used();
    complement = (b->flags & series_flags::kBitsetComplement) != 0;
  }
  bool has(uint32_t c) const {
    uint32_t byte = c >> 3;
    if (byte >= count) return complement;
    return (bytes[byte] & (0x80u >> (c & 7))) != 0;
  }
};

// The first position in [from, end) whose unit satisfies test, or end.
template <class Unit, class Test>
uint32_t scan_units(const uint8_t* head, uint32_t from, uint32_t end, Test&& test) {
  const uint8_t* p = head + uint64_t{from} * sizeof(Unit);
  for (uint32_t i = from; i < end; ++i, p += sizeof(Unit))
    if (test(load_unit<Unit>(p))) return i;
  return end;
}

// Runs the scan with the unit width of the text buffer.
template <class Test>
uint32_t scan_text(const SeriesBuffer* buffer, uint32_t from, uint32_t end, Test&& test) {
  const uint8_t* head = buffer->data() + buffer->offset;
  switch (buffer->unit()) {
    case 1: return scan_units<uint8_t>(head, from, end, test);
    case 2: return scan_units<uint16_t>(head, from, end, test);
    case 4: return scan_units<uint32_t>(head, from, end, test);
    default: unicode::bad_unit();
  }
}

// The bytes of a value sought in binary input: a binary's from its index,
// a text's as UTF-8.
std::string bytes_of(const Cell& value) {
  if (value.is(TYPE_BINARY)) {
    const SeriesBuffer* b = buffer_of(value);
    uint32_t used = b->used();
    uint32_t index = std::min(series::index_of(value), used);
    return std::string(reinterpret_cast<const char*>(b->data() + b->offset + index), used - index);
  }
  return string::to_std_string(value);
}

// --- Match lengths by input kind ----------------------------------------------------------------

// A text value's first character decides most positions of a match or a
// search.
inline uint32_t first_char(const Cell& value) { return string::rs_abs_at(&value, series::index_of(value)); }

int64_t text_match_length(const Cell& input, uint32_t position, uint32_t end, const Cell& value,
                          int32_t mode) {
  switch (value.type()) {
    case TYPE_CHAR: {
      if (position >= end) return -1;
      uint32_t c = char_at(buffer_of(input), position);
      uint32_t sought = character::get(value);
      return same_char(c, sought, fold(sought), mode) ? 1 : -1;
    }
    case TYPE_BITSET:
      if (position >= end) return -1;
      return Bits(value).has(char_at(buffer_of(input), position)) ? 1 : -1;
    case TYPE_TAG: {
      uint32_t length = string::rs_length(&value);
      if (uint64_t{position} + length + 2 > end) return -1;
      Cell at = input;
      series::set_index(&at, position);
      return string::match_value(&at, &value, mode) ? int64_t{length} + 2 : -1;
    }
    default: {
      if (!string::is_string_like(value.type())) return -1;
      uint32_t length = string::rs_length(&value);
      if (length == 0) return 0;
      if (uint64_t{position} + length > end) return -1;
      // Most failing positions differ at the first character.
      uint32_t lead = first_char(value);
      if (!same_char(char_at(buffer_of(input), position), lead, fold(lead), mode)) return -1;
      Cell at = input;
      series::set_index(&at, position);
      return string::match_value(&at, &value, mode) ? int64_t{length} : -1;
    }
  }
}

int64_t binary_match_length(const Cell& input, uint32_t position, uint32_t end, const Cell& value) {
  const SeriesBuffer* b = buffer_of(input);
  const uint8_t* head = b->data() + b->offset;
  switch (value.type()) {
    case TYPE_CHAR:
      if (position >= end) return -1;
      return head[position] == character::get(value) ? 1 : -1;
    case TYPE_BITSET:
      if (position >= end) return -1;
      return Bits(value).has(head[position]) ? 1 : -1;
    default: {
      if (!value.is(TYPE_BINARY) && !string::is_string_like(value.type())) return -1;
      std::string sought = bytes_of(value);
      if (sought.empty()) return 0;
      if (uint64_t{position} + sought.size() > end) return -1;
      head = buffer_of(input)->data() + buffer_of(input)->offset;  // the text's UTF-8 was made
      return std::memcmp(head + position, sought.data(), sought.size()) == 0 ? int64_t(sought.size()) : -1;
    }
  }
}

bool search_text(Cell* input, const Cell& value, int32_t mode, uint32_t end, bool thru) {
  const SeriesBuffer* buffer = buffer_of(*input);
  uint32_t from = series::index_of(*input);
  uint32_t found = end;
  uint32_t length = 1;
  switch (value.type()) {
    case TYPE_CHAR: {
      uint32_t sought = character::get(value), folded = fold(sought);
      found = scan_text(buffer, from, end, [=](uint32_t c) { return same_char(c, sought, folded, mode); });
      break;
    }
    case TYPE_BITSET: {
      Bits bits(value);
      found = scan_text(buffer, from, end, [&](uint32_t c) { return bits.has(c); });
      break;
    }
    default: {
      bool tag = value.is(TYPE_TAG);
      uint32_t text_length = string::rs_length(&value);
      if (!tag && text_length == 0) {
        series::set_index(input, from);
        return true;
      }
      uint32_t lead = tag ? '<' : first_char(value);
      uint32_t lead_folded = fold(lead);
      for (uint32_t i = from; i < end; ++i) {
        i = scan_text(buffer, i, end, [=](uint32_t c) { return same_char(c, lead, lead_folded, mode); });
        if (i >= end) break;
        int64_t n = text_match_length(*input, i, end, value, mode);
        if (n >= 0) {
          found = i;
          length = static_cast<uint32_t>(n);
          break;
        }
      }
    }
  }
  if (found >= end) return false;
  series::set_index(input, thru ? found + length : found);
  return true;
}

bool search_binary(Cell* input, const Cell& value, uint32_t end, bool thru) {
  uint32_t from = series::index_of(*input);
  if (value.is(TYPE_CHAR) || value.is(TYPE_BITSET)) {
    for (uint32_t i = from; i < end; ++i) {
      if (binary_match_length(*input, i, end, value) >= 0) {
        series::set_index(input, thru ? i + 1 : i);
        return true;
      }
    }
    return false;
  }
  std::string sought = bytes_of(value);
  const SeriesBuffer* b = buffer_of(*input);
  const uint8_t* head = b->data() + b->offset;
  if (sought.empty()) return true;
  if (end < sought.size()) return false;
  for (uint32_t i = from; i + sought.size() <= end; ++i) {
    if (head[i] == static_cast<uint8_t>(sought[0]) && std::memcmp(head + i, sought.data(), sought.size()) == 0) {
      series::set_index(input, thru ? i + static_cast<uint32_t>(sought.size()) : i);
      return true;
    }
  }
  return false;
}

// The end of the run of units from the input's index, at most maximum
// long, that the test accepts.
template <class Test>
uint32_t run_end(const Cell& input, uint32_t end, int32_t maximum, Test&& test) {
  uint32_t from = series::index_of(input);
  uint32_t stop = end;
  if (maximum >= 0 && uint64_t{from} + static_cast<uint32_t>(maximum) < stop) stop = from + maximum;
  return scan_text(buffer_of(input), from, stop, [&](uint32_t c) { return !test(c); });
}

}  // namespace

// --- Kinds and literals ------------------------------------------------------------------------

InputKind kind_of(TypeId type) {
  if (series::is_block_kind(type)) return InputKind::kBlock;
  if (type == TYPE_BINARY) return InputKind::kBinary;
  return InputKind::kText;
}

bool is_direct_literal(InputKind kind, const Cell& value) {
  TypeId type = value.type();
  switch (kind) {
    case InputKind::kText:
      return type == TYPE_CHAR || type == TYPE_BITSET || string::is_string_like(type);
    case InputKind::kBinary:
      return type == TYPE_CHAR || type == TYPE_BITSET || type == TYPE_BINARY || string::is_string_like(type);
    case InputKind::kBlock:
      switch (type) {
        case TYPE_WORD:
        case TYPE_SET_WORD:
        case TYPE_GET_WORD:
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_PATH:
        case TYPE_SET_PATH:
        case TYPE_GET_PATH:
        case TYPE_INTEGER:
        case TYPE_DATATYPE:
        case TYPE_TYPESET:
        case TYPE_UNSET:
          return false;
        default:
          return true;
      }
  }
  return false;
}

bool searchable_in_binary(const Cell& value) {
  return value.is(TYPE_BINARY) || value.is(TYPE_CHAR) || value.is(TYPE_BITSET) ||
         string::is_string_like(value.type());
}

bool compare_element(const Cell& element, const Cell& value, int32_t mode) {
  if (value.is(TYPE_LIT_WORD)) {
    TypeId type = element.type();
    if (type < TYPE_WORD || type > TYPE_GET_WORD) return false;
    if (mode == 2) return word::symbol_of(element) == word::symbol_of(value);
    return symbol::resolve(word::symbol_of(element)) == symbol::resolve(word::symbol_of(value));
  }
  Cell first = element, second = value;
  if (value.is(TYPE_LIT_PATH)) {
    TypeId type = element.type();
    if (type < TYPE_PATH || type > TYPE_GET_PATH) return false;
    first.set_type(TYPE_PATH);
    second.set_type(TYPE_PATH);
    return block::compare_blocks(&first, &second, mode == 2 ? kCmpStrictEqual : kCmpEqual) == 0;
  }
  return actions::compare_value(&first, &second, mode == 2 ? kCmpStrictEqual : kCmpEqual) == 0;
}

int64_t match_length(const Cell& input, uint32_t position, uint32_t end, const Cell& value, int32_t mode) {
  switch (kind_of(input.type())) {
    case InputKind::kText:
      return text_match_length(input, position, end, value, mode);
    case InputKind::kBinary:
      return binary_match_length(input, position, end, value);
    case InputKind::kBlock: {
      if (position >= end) return -1;
      Cell element = buffer_of(input)->cells()[position];
      return compare_element(element, value, mode) ? 1 : -1;
    }
  }
  return -1;
}

bool literal(Cell* input, const Cell& value, int32_t mode, uint32_t end) {
  // One character or a class of them against text, the step a grammar
  // takes most often: tested here without the general dispatch.
  TypeId type = value.type();
  if ((type == TYPE_CHAR || type == TYPE_BITSET) && kind_of(input->type()) == InputKind::kText) {
    uint32_t position = series::index_of(*input);
    if (position >= end) return false;
    uint32_t c = char_at(buffer_of(*input), position);
    bool hit;
    if (type == TYPE_CHAR) {
      uint32_t sought = character::get(value);
      hit = same_char(c, sought, fold(sought), mode);
    } else {
      hit = Bits(value).has(c);
    }
    if (hit) series::set_index(input, position + 1);
    return hit;
  }
  int64_t n = match_length(*input, series::index_of(*input), end, value, mode);
  if (n < 0) return false;
  series::set_index(input, series::index_of(*input) + static_cast<uint32_t>(n));
  return true;
}

// --- Types ---------------------------------------------------------------------------------------

namespace {
inline bool type_accepted(const Cell& rule, TypeId type) {
  if (rule.is(TYPE_DATATYPE)) return datatype::named_type(rule) == type;
  return typeset_has(rule, type);
}
}  // namespace

bool datatype_in_block(Cell* input, const Cell& rule, uint32_t end) {
  uint32_t at = series::index_of(*input);
  if (at >= end) return false;
  TypeId type = buffer_of(*input)->cells()[at].type();
  if (!type_accepted(rule, type)) return false;
  series::set_index(input, at + 1);
  return true;
}

bool datatype_in_binary(Cell* input, const Cell& rule, uint32_t end) {
  uint32_t from = series::index_of(*input);
  if (from >= end) return false;
  // The lexer keeps no hold on the bytes once it returns and runs no Kel
  // code without a callback; the pin keeps the buffer still meanwhile.
  Pin pin(series::node_of(*input));
  const SeriesBuffer* b = buffer_of(*input);
  lexer::ScanOptions options;
  options.single_token = true;
  options.load = false;
  options.output = false;
  Cell scratch = make_cell(TYPE_NONE);
  int32_t consumed = 0;
  TypeId type = lexer::scan(&scratch, b->data() + b->offset + from, end - from, options, &consumed);
  if (type == TYPE_ERROR || type == 0 || consumed <= 0) return false;
  if (!type_accepted(rule, type)) return false;
  series::set_index(input, std::min(end, from + static_cast<uint32_t>(consumed)));
  return true;
}

// --- Search and repeat ----------------------------------------------------------------------------

bool search(Cell* input, const Cell& value, int32_t mode, uint32_t end, bool thru) {
  switch (kind_of(input->type())) {
    case InputKind::kText:
      return search_text(input, value, mode, end, thru);
    case InputKind::kBinary:
      return search_binary(input, value, end, thru);
    case InputKind::kBlock: {
      for (uint32_t i = series::index_of(*input); i < end; ++i) {
        Cell element = buffer_of(*input)->cells()[i];
        if (compare_element(element, value, mode)) {
          series::set_index(input, thru ? i + 1 : i);
          return true;
        }
      }
      return false;
    }
  }
  return false;
}

bool repeat(Cell* input, const Cell& value, int32_t minimum, int32_t maximum, int32_t mode, uint32_t end) {
  if (series::index_of(*input) > end) series::set_index(input, end);
  if (kind_of(input->type()) == InputKind::kText) {
    if (value.is(TYPE_BITSET)) {
      Bits bits(value);
      uint32_t stop = run_end(*input, end, maximum, [&](uint32_t c) { return bits.has(c); });
      bool matched = stop - series::index_of(*input) >= static_cast<uint32_t>(minimum);
      series::set_index(input, stop);
      return matched;
    }
    if (value.is(TYPE_CHAR)) {
      uint32_t sought = character::get(value), folded = fold(sought);
      uint32_t stop = run_end(*input, end, maximum, [=](uint32_t c) { return same_char(c, sought, folded, mode); });
      bool matched = stop - series::index_of(*input) >= static_cast<uint32_t>(minimum);
      series::set_index(input, stop);
      return matched;
    }
  }
  int64_t rounds = 0;
  while (maximum < 0 || rounds < maximum) {
    int64_t n = match_length(*input, series::index_of(*input), end, value, mode);
    if (n < 0) break;
    if (n == 0) return true;  // an empty value matches every remaining round in place
    series::set_index(input, series::index_of(*input) + static_cast<uint32_t>(n));
    ++rounds;
  }
  return rounds >= minimum;
}

// --- Keep -------------------------------------------------------------------------------------------

void keep(Cell* target, const Cell& value, bool pick, bool at_tail) {
  Cell where = *target;
  uint32_t after;
  if (series::is_block_kind(target->type())) {
    bool each = pick && series::is_block_kind(value.type());
    after = block::insert_value(&where, &value, -1, !each, 1, at_tail);
  } else if (target->is(TYPE_BINARY)) {
    Cell added = value;
    if (at_tail) {
      binary::append(&where, &added, -1, -1, -1);
      return;
    }
    binary::insert(&where, &added, -1, -1, -1);
    after = series::index_of(where);
  } else {
    after = string::insert_value(&where, &value, -1, false, 1, at_tail);
  }
  if (!at_tail) series::set_index(target, after);
}

}  // namespace kel::parse::match
