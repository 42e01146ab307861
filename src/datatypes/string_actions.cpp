// string! search and editing: find, select, append, insert, change, swap,
// take and trim. file!, url!, tag!, email! and ref! inherit them; binary!
// and vector! inherit find and select, so the search also knows bytes and
// packed numbers.
//
// Editing first works out the text to add as one run of characters (the
// value itself when it is a plain text, else a temporary string on the
// evaluation stack holding its form), then writes /dup copies of it into the
// target in one step: the target widens once to the text's unit, room is
// opened once, and the copies are laid down by doubling. A value that shares
// the target's buffer is copied apart first, since opening room would shift
// the characters being read.
//
// An owned string tells its owner of each change, before it and after it
// (append/appended, insert/inserted, change/changed, swap/swaped,
// trim/trimmed; take/taken in series.cpp), with the position and the
// character count concerned, through series::announce: positions, counts
// and the text to add are taken once the owner's handler has run.
#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/string_internal.h"
#include "runtime/actions.h"
#include "runtime/stack.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "datatypes/ownership.h"
#include "datatypes/runtime_words.h"
#include "runtime/series_tail.h"
#include "runtime/unicode.h"

namespace kel::string {

using detail::checked_unit;
using detail::fold;
using detail::kNoPartLimit;
using detail::refinement_argument;

// --- Elements -------------------------------------------------------------------------------

namespace detail {

namespace {
// A vector! element read as a number: sizes 1 and 2 are signed, 4 is a
// signed integer (or a 32-bit float), 8 a double.
double vector_element(const uint8_t* p, uint32_t unit, TypeId element_type) {
  if (element_type == TYPE_FLOAT || element_type == TYPE_PERCENT) {
    if (unit == 4) {
      float f;
      std::memcpy(&f, p, 4);
      return f;
    }
    double d;
    std::memcpy(&d, p, 8);
    return d;
  }
  if (element_type == TYPE_CHAR) return unicode::get_char(p, unit);
  switch (unit) {
    case 1: return static_cast<int8_t>(p[0]);
    case 2: return static_cast<int16_t>(p[0] | (p[1] << 8));
    default: return static_cast<int32_t>(unicode::get_char(p, 4));
  }
}
}  // namespace

Cell element_value(const Cell* series, uint32_t position) {
  uint32_t unit = element_unit(series);
  const uint8_t* p = memory::buffer_of(series->data2)->head_ptr() + position * unit;
  switch (series->type()) {
    case TYPE_BINARY:
      return make_cell(TYPE_INTEGER, 0, p[0]);
    case TYPE_VECTOR: {
      TypeId element_type = series->data3;
      double number = vector_element(p, unit, element_type);
      if (element_type == TYPE_FLOAT || element_type == TYPE_PERCENT) {
        Cell cell = make_cell(element_type);
        cell.set_double(number);
        return cell;
      }
      if (element_type == TYPE_CHAR) return make_cell(TYPE_CHAR, 0, static_cast<uint32_t>(number));
      return make_cell(TYPE_INTEGER, 0, static_cast<uint32_t>(static_cast<int32_t>(number)));
    }
    default:
      return make_cell(TYPE_CHAR, 0, unicode::get_char(p, unit));
  }
}

// --- Search ---------------------------------------------------------------------------------

namespace {
enum class KeyKind : uint8_t { kChar, kBitset, kText, kNumber };

struct Key {
  KeyKind kind;
  uint32_t code_point = 0;  // kChar (folded when the search folds)
  Cell cell{};              // kBitset: the bitset; kText: the text (on the stack)
  double number = 0;        // kNumber
};

// The UTF-8 bytes of a text, as a 1-unit string pushed on the stack: the
// form in which text is sought in a binary!.
Cell* push_utf8_bytes(const Cell* text) {
  std::string bytes = to_std_string(*text);
  Cell* result = push_new(static_cast<uint32_t>(bytes.size()));
  concatenate_literal_part(result, bytes.data(), static_cast<uint32_t>(bytes.size()));
  return result;
}

Key make_key(const Cell* series, const Cell* value) {
  bool binary = series->is(TYPE_BINARY);
  bool vector = series->is(TYPE_VECTOR);
  Key key{KeyKind::kText};
  switch (value->type()) {
    case TYPE_CHAR:
      if (vector) {
        key.kind = KeyKind::kNumber;
        key.number = value->data2;
      } else {
        key.kind = KeyKind::kChar;
        key.code_point = value->data2;
      }
      return key;
    case TYPE_BITSET:
      key.kind = KeyKind::kBitset;
      key.cell = *value;
      return key;
    case TYPE_INTEGER:
    case TYPE_FLOAT:
      if (binary || vector) {
        key.kind = KeyKind::kNumber;
        key.number = value->is(TYPE_INTEGER) ? value->int_at2() : value->as_double();
        return key;
      }
      break;
    case TYPE_BINARY:
      if (!binary) fire(ErrorId::script_invalid_arg, value);
      key.cell = *value;
      return key;
    default:
      if (is_string_like(value->type()) && !value->is(TYPE_TAG)) {
        key.cell = binary ? *push_utf8_bytes(value) : *value;
        return key;
      }
      break;
  }
  // Any other value (a tag! with its angle brackets, a word by its name, a
  // number in text) is sought as its form.
  Cell* formed = push_new(16);
  if (value->is(TYPE_TAG)) {
    concatenate_literal(formed, "<");
    concatenate(formed, value, -1, 0, Concatenate::kAppend);
    concatenate_literal(formed, ">");
  } else {
    actions::form(const_cast<Cell*>(value), formed, nullptr, kNoPartLimit);
  }
  key.cell = binary ? *push_utf8_bytes(formed) : *formed;
  return key;
}
}  // namespace

namespace {
template <class Unit, class Test>
int64_t scan_units(const uint8_t* head, int64_t from, int64_t to, Test&& test) {
  for (int64_t position = from; position < to; ++position) {
    Unit u;
    std::memcpy(&u, head + position * static_cast<int64_t>(sizeof(Unit)), sizeof u);
    if (test(static_cast<uint32_t>(u))) return position;
  }
  return to;
}

// The first position in [from, to) of a text whose character passes test,
// or to.
template <class Test>
int64_t scan_text_units(const uint8_t* head, uint32_t unit, int64_t from, int64_t to, Test&& test) {
  switch (unit) {
    case 1: return scan_units<uint8_t>(head, from, to, test);
    case 2: return scan_units<uint16_t>(head, from, to, test);
    default: return scan_units<uint32_t>(head, from, to, test);
  }
}

// code_point is folded already when the search folds.
int64_t scan_for_char(const uint8_t* head, uint32_t unit, int64_t from, int64_t to, uint32_t code_point,
                      bool folding) {
  if (!folding) return scan_text_units(head, unit, from, to, [=](uint32_t c) { return c == code_point; });
  return scan_text_units(head, unit, from, to, [=](uint32_t c) { return fold(c) == code_point; });
}

int64_t scan_for_bitset(const uint8_t* head, uint32_t unit, int64_t from, int64_t to, const Cell& bitset) {
  const SeriesBuffer* bits = memory::buffer_of(bitset.data2);
  const uint8_t* bytes = bits->data() + bits->offset;
  uint32_t count = bits->used();
  bool complement = (bits->flags & series_flags::kBitsetComplement) != 0;
  return scan_text_units(head, unit, from, to, [=](uint32_t c) {
    uint32_t byte = c >> 3;
    if (byte >= count) return complement;
    return (bytes[byte] & (0x80u >> (c & 7))) != 0;
  });
}
}  // namespace

Found search(const Cell* series, const Cell* value, const Search& options) {
  Found none;
  uint32_t length = elements_from_head(series);
  uint32_t index = series->data1;
  if (length == 0) return none;
  if (!options.reverse && index >= length) return none;
  if (options.any || options.with) fire(ErrorId::internal_not_done);
  if (index > length) index = length;

  uint32_t step = 1;
  if (options.skip >= 0) {
    Cell* size = refinement_argument(options.skip);
    if (!size->is(TYPE_INTEGER)) bad_refinement_argument(Refinement::kSkip, size);
    if (size->int_at2() < 1) fire(ErrorId::script_out_of_range, size);
    step = static_cast<uint32_t>(size->int_at2());
  }

  // The range searched: [lower, upper) of positions a match may start at.
  int64_t count = -1;
  if (options.part >= 0) {
    count = part_count(series, refinement_argument(options.part));
    if (count < 1) return none;
  }
  int64_t lower, upper, start;
  int64_t direction = 1;
  int64_t key_bound = length;  // where a text key's comparison must end
  if (options.reverse) {
    if (options.match) return none;
    upper = index;
    lower = count < 0 ? 0 : std::max<int64_t>(0, index - count);
    start = int64_t{index} - 1;
    direction = -1;
    if (start < lower) return none;
  } else {
    lower = index;
    upper = count < 0 ? length : std::min<int64_t>(length, index + count);
    key_bound = upper;
    start = index;
    if (options.last) {
      start = upper - 1;
      direction = -1;
    }
  }

  stack::Guard guard;  // the key's temporary strings
  bool text_series = is_string_like(series->type());
  bool folding = text_series && !options.case_sensitive;
  Key key = make_key(series, value);
  if (key.kind == KeyKind::kChar && folding) key.code_point = fold(key.code_point);
  if (series->is(TYPE_VECTOR) && key.kind != KeyKind::kNumber) return none;

  uint32_t key_length = 1;
  uint32_t key_index = 0;
  uint32_t key_unit = 1;
  if (key.kind == KeyKind::kText) {
    key_length = rs_length(&key.cell);
    key_index = key.cell.data1;
    key_unit = checked_unit(buffer_of(&key.cell));
  }

  // The buffers do not move while the search runs: nothing below allocates.
  uint32_t unit = element_unit(series);
  const uint8_t* head = memory::buffer_of(series->data2)->head_ptr();
  const uint8_t* key_head =
      key.kind == KeyKind::kText ? buffer_of(&key.cell)->head_ptr() + key_index * key_unit : nullptr;
  auto char_at = [&](int64_t position) { return unicode::get_char(head + position * unit, unit); };

  auto matches_at = [&](int64_t position) -> bool {
    switch (key.kind) {
      case KeyKind::kChar: {
        uint32_t c = char_at(position);
        return (folding ? fold(c) : c) == key.code_point;
      }
      case KeyKind::kBitset: {
        uint32_t c = char_at(position);
        const SeriesBuffer* bits = memory::buffer_of(key.cell.data2);
        uint32_t byte = c >> 3;
        if (byte >= bits->used()) return (bits->flags & series_flags::kBitsetComplement) != 0;
        return (bits->data()[bits->offset + byte] & (0x80u >> (c & 7))) != 0;
      }
      case KeyKind::kNumber: {
        const uint8_t* p = head + position * unit;
        if (series->is(TYPE_BINARY)) return p[0] == key.number;
        return vector_element(p, unit, series->data3) == key.number;
      }
      case KeyKind::kText:
        for (uint32_t k = 0; k < key_length; ++k) {
          if (position + k >= key_bound) return false;
          uint32_t c = char_at(position + k);
          uint32_t wanted = unicode::get_char(key_head + k * key_unit, key_unit);
          if (folding ? fold(c) != fold(wanted) : c != wanted) return false;
        }
        return true;
    }
    return false;
  };

  // A character or a bitset sought forward through text, one position at a
  // time (the common find of a delimiter or of a class of characters): a
  // loop of its own per unit width, with the key's test read once.
  if (text_series && direction == 1 && step == 1 && !options.match &&
      (key.kind == KeyKind::kChar || key.kind == KeyKind::kBitset)) {
    int64_t found = key.kind == KeyKind::kChar ? scan_for_char(head, unit, start, upper, key.code_point, folding)
                                               : scan_for_bitset(head, unit, start, upper, key.cell);
    return found < upper ? Found{found, 1} : none;
  }

  for (int64_t position = start; position >= lower && position < upper;
       position += direction * static_cast<int64_t>(step)) {
    if (matches_at(position)) return Found{position, key_length};
    if (options.match) break;
  }
  return none;
}

}  // namespace detail

namespace {
Cell* set_result(const Cell& value) {
  *stack::arguments() = value;
  return stack::arguments();
}

detail::Search search_options(int part, int case_sensitive, int same, int any, int with, int skip,
                              int last, int reverse, int match) {
  detail::Search options;
  options.part = part;
  options.case_sensitive = case_sensitive >= 0 || same >= 0;
  options.any = any >= 0;
  options.with = with >= 0;
  options.skip = skip;
  options.last = last >= 0;
  options.reverse = reverse >= 0;
  options.match = match >= 0;
  return options;
}
}  // namespace

Cell* find(Cell* series, Cell* value, int part, int, int case_sensitive, int same, int any, int with,
           int skip, int last, int reverse, int tail, int match) {
  detail::Found found =
      detail::search(series, value, search_options(part, case_sensitive, same, any, with, skip, last, reverse, match));
  if (found.position < 0) return none::set_result();
  Cell result = *series;
  result.data1 = static_cast<uint32_t>(found.position) + (tail >= 0 ? found.length : 0);
  return set_result(result);
}

Cell* select(Cell* series, Cell* value, int part, int, int case_sensitive, int same, int any, int with,
             int skip, int last, int reverse) {
  detail::Found found =
      detail::search(series, value, search_options(part, case_sensitive, same, any, with, skip, last, reverse, -1));
  if (found.position < 0) return none::set_result();
  uint64_t after = static_cast<uint64_t>(found.position) + found.length;
  if (after >= detail::elements_from_head(series)) return none::set_result();
  return set_result(detail::element_value(series, static_cast<uint32_t>(after)));
}

// --- Editing ------------------------------------------------------------------------------

namespace {
// The characters a value adds to a text: a cell whose text from its index
// is to be added, and how many of its characters. The cell is the value
// itself or a temporary string pushed on the stack.
struct Text {
  Cell cell;
  uint32_t count;
};

// Forms value into the string, keeping at most limit characters of what it
// adds (limit < 0: all).
void form_cut(Cell* into, const Cell* value, int64_t limit) {
  uint32_t before = rs_length_from_head(into);
  Cell* copy = stack::push(*value);
  actions::form(copy, into, nullptr, kNoPartLimit);
  stack::pop(1);
  if (limit >= 0 && rs_length_from_head(into) - before > limit) {
    truncate_to(buffer_of(into), before + static_cast<uint32_t>(limit));
  }
}

Text text_of(const Cell* value, int32_t part, bool only, const Cell* target) {
  TypeId type = value->type();
  if (is_string_like(type) && type != TYPE_TAG) {
    uint32_t count = rs_length(value);
    if (part >= 0 && static_cast<uint32_t>(part) < count) count = static_cast<uint32_t>(part);
    if (value->data2 != target->data2) return {*value, count};
    return {*detail::push_copy(value, value->data1, count, TYPE_STRING), count};
  }

  Cell* text = push_new(16);
  switch (type) {
    case TYPE_CHAR:
      if (part != 0) append_char(buffer_of(text), value->data2);
      break;
    case TYPE_TAG:
      // The angle brackets count towards /part like the text between them.
      concatenate_literal(text, "<");
      concatenate(text, value, -1, 0, Concatenate::kAppend);
      concatenate_literal(text, ">");
      if (part >= 0) truncate_to(buffer_of(text), static_cast<uint32_t>(part));
      break;
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: {
      NodeId block = value->data2;
      uint32_t first = value->data1;
      uint32_t cells = memory::buffer_of(block)->cell_count();
      uint32_t last = first > cells ? first : cells;
      if (!only && part >= 0 && uint64_t{first} + part < last) last = first + static_cast<uint32_t>(part);
      int64_t budget = only ? part : -1;  // with /only, /part counts characters
      for (uint32_t i = first; i < last; ++i) {
        if (budget == 0) break;
        // Re-read the cell each round: forming may allocate and move blocks.
        Cell element = memory::buffer_of(block)->cells()[i];
        uint32_t before = rs_length_from_head(text);
        form_cut(text, &element, budget);
        if (budget > 0) budget -= rs_length_from_head(text) - before;
      }
      break;
    }
    default:
      form_cut(text, value, part);
  }
  return {*text, rs_length(text)};
}

// Writes copies of text's first count characters at position: opening room
// for them (insert) or over the characters there (the tail moving when the
// write passes it). Returns the position just past the copies.
uint32_t put_text(Cell* target, uint32_t position, const Text& text, uint32_t copies, bool insert) {
  uint64_t total = uint64_t{text.count} * copies;
  if (total > 0x7FFFFFFF) fire(ErrorId::internal_no_memory);
  if (total == 0) return position;
  SeriesBuffer* b = detail::widen_to(buffer_of(target), checked_unit(buffer_of(&text.cell)));
  uint32_t unit = b->unit();
  uint32_t length = b->used() / unit;
  if (position > length) position = length;
  memory::check_series_size(uint64_t{total} * unit);
  if (insert) {
    b = detail::open_gap(b, position, static_cast<uint32_t>(total));
  } else if (position + total > length) {
    b = detail::open_gap(b, length, static_cast<uint32_t>(position + total - length));
  }
  SeriesBuffer* s = buffer_of(&text.cell);
  uint32_t source_unit = checked_unit(s);
  uint8_t* at = b->head_ptr() + position * unit;
  detail::copy_chars(at, unit, s->head_ptr() + text.cell.data1 * source_unit, source_unit, text.count);
  if (copies > 1) fill_pattern(at, text.count * unit, copies);
  return position + static_cast<uint32_t>(total);
}

// The /part argument of append and insert: an integer! count, or a position
// in the value's own series (counted from the value's index).
int32_t value_part(const Cell* value, int part) {
  if (part < 0) return -1;
  const Cell* argument = refinement_argument(part);
  if (argument->is(TYPE_INTEGER)) return std::max(0, argument->int_at2());
  if (argument->type() == value->type() && argument->data2 == value->data2) {
    return std::max(0, static_cast<int32_t>(argument->data1) - static_cast<int32_t>(value->data1));
  }
  detail::bad_refinement_argument(detail::Refinement::kPart, argument);
}

int32_t dup_count(int dup) {
  if (dup < 0) return 1;
  const Cell* argument = refinement_argument(dup);
  if (!argument->is(TYPE_INTEGER)) fire(ErrorId::script_invalid_arg, argument);
  return argument->int_at2();
}

void clamp_index(Cell* series) {
  uint32_t length = rs_length_from_head(series);
  if (series->data1 > length) series->data1 = length;
}

// The characters an append or insert adds (for the owner's notification).
int32_t added_count(Cell* series, const Cell* value, int part, int only, int dup) {
  stack::Guard guard;
  Text text = text_of(value, value_part(value, part), only >= 0, series);
  int64_t copies = std::max<int64_t>(dup_count(dup), 1);
  return static_cast<int32_t>(std::min<int64_t>(int64_t{text.count} * copies, 0x7FFFFFFF));
}
}  // namespace

uint32_t insert_value(Cell* target, const Cell* value, int32_t part, bool only, int32_t count, bool at_tail) {
  clamp_index(target);
  uint32_t position = at_tail ? rs_length_from_head(target) : target->data1;
  stack::Guard guard;
  Text text = text_of(value, part, only, target);
  return put_text(target, position, text, count < 2 ? 1 : static_cast<uint32_t>(count), true);
}

namespace {
// append and insert: the owner hears of the characters the value gives now;
// the text and the position (the live tail for append, the index clamped to
// it for insert) are then taken afresh.
Cell* add_text(Cell* series, Cell* value, int part, int only, int dup, bool at_tail) {
  clamp_index(series);
  uint32_t after;
  if (!ownership::series_owned(*series)) {
    // Nobody to tell: the common case of building a string stays lean.
    after = insert_value(series, value, value_part(value, part), only >= 0, dup_count(dup), at_tail);
  } else {
    uint32_t position = at_tail ? rs_length_from_head(series) : series->data1;
    int32_t added = added_count(series, value, part, only, dup);
    series::Stretch stretch = series::announce(*series, at_tail ? runtime_words::append : runtime_words::insert,
                                               value, position, 0, added);
    clamp_index(series);
    stretch.start = at_tail ? rs_length_from_head(series) : series->data1;
    after = insert_value(series, value, value_part(value, part), only >= 0, dup_count(dup), at_tail);
    stretch.part = static_cast<int32_t>(after > stretch.start ? after - stretch.start : 0);
    series::announce_done(*series, at_tail ? runtime_words::appended : runtime_words::inserted, value, stretch);
  }
  Cell result = *series;
  result.data1 = at_tail ? 0 : std::min(after, rs_length_from_head(series));
  return set_result(result);
}
}  // namespace

Cell* append(Cell* series, Cell* value, int part, int only, int dup) {
  return add_text(series, value, part, only, dup, true);
}

Cell* insert(Cell* series, Cell* value, int part, int only, int dup) {
  return add_text(series, value, part, only, dup, false);
}

Cell* change(Cell* series, Cell* value, int part, int only, int dup) {
  clamp_index(series);
  int32_t copies = dup_count(dup);
  if (copies < 1) copies = 1;
  int64_t replaced = part >= 0 ? detail::part_count(series, refinement_argument(part)) : 0;

  stack::Guard guard;
  series::Stretch stretch;
  if (ownership::series_owned(*series)) {
    int64_t added;
    {
      stack::Guard measuring;
      added = int64_t{text_of(value, -1, only >= 0, series).count} * copies;
    }
    int64_t told = std::min<int64_t>(std::max(replaced, added), 0x7FFFFFFF);
    stretch = series::announce(*series, runtime_words::change, value, series->data1, replaced, told);
    // The owner may have changed the string or the value: both are read
    // anew below.
    clamp_index(series);
  }
  uint32_t index = series->data1;
  Text text = text_of(value, -1, only >= 0, series);
  uint32_t after;
  if (part >= 0) {
    replaced = std::clamp<int64_t>(replaced, 0, rs_length(series));
    uint64_t added = uint64_t{text.count} * static_cast<uint32_t>(copies);
    // The replaced stretch first takes the size of what replaces it.
    if (added < static_cast<uint64_t>(replaced)) {
      remove_part(series, static_cast<uint32_t>(added), static_cast<uint32_t>(replaced - added));
    } else if (added > static_cast<uint64_t>(replaced)) {
      if (added > 0x7FFFFFFF) fire(ErrorId::internal_no_memory);
      detail::open_gap(buffer_of(series), index + static_cast<uint32_t>(replaced),
                       static_cast<uint32_t>(added - replaced));
    }
  }
  after = put_text(series, index, text, static_cast<uint32_t>(copies), false);
  stretch.start = index;
  series::announce_done(*series, runtime_words::changed, value, stretch);
  Cell result = *series;
  result.data1 = std::min(after, rs_length_from_head(series));
  return set_result(result);
}

Cell* swap(Cell* series1, Cell* series2) {
  if (!is_string_like(series2->type()) && !series2->is(TYPE_BINARY)) {
    fire(ErrorId::script_invalid_arg, series2);
  }
  if (rs_tail_q(series1) || rs_tail_q(series2)) return set_result(*series1);
  series::SwapStretches stretches = series::announce_swap(*series1, *series2);
  series::Stretch first = stretches.first, second = stretches.second;
  if (stretches.ready()) {
    uint32_t first_char = rs_abs_at(series1, first.start);
    uint32_t second_char = rs_abs_at(series2, second.start);
    // A byte holds no code point above 255.
    if ((series1->is(TYPE_BINARY) && second_char > 255) || (series2->is(TYPE_BINARY) && first_char > 255)) {
      fire(ErrorId::script_invalid_arg, series2);
    }
    SeriesBuffer* b1 = buffer_of(series1);
    poke_char(b1, b1->offset + first.start * b1->unit(), second_char);
    SeriesBuffer* b2 = buffer_of(series2);
    poke_char(b2, b2->offset + second.start * b2->unit(), first_char);
  }
  series::announce_swapped(*series1, *series2, stretches);
  return set_result(*series1);
}

Cell* take(Cell* series, int part, int deep, int last) {
  auto series_take = action_handler<Action::take>(TYPE_SERIES);
  if (series_take == nullptr) actions::unsupported(*series);
  Cell taken = *series_take(series, part, deep, last);
  if (part < 0 && !taken.is(TYPE_NONE)) taken = detail::element_value(&taken, taken.data1);
  return set_result(taken);
}

// --- trim ---------------------------------------------------------------------------------

namespace {
using CodePoints = std::vector<uint32_t>;

CodePoints read_from_index(const Cell* s) {
  uint32_t count = rs_length(s);
  CodePoints chars(count);
  for (uint32_t i = 0; i < count; ++i) chars[i] = rs_abs_at(s, s->data1 + i);
  return chars;
}

// Replaces the characters from the index with chars, which came from them
// and so fit the unit.
void write_from_index(Cell* s, const CodePoints& chars) {
  SeriesBuffer* b = buffer_of(s);
  uint32_t unit = checked_unit(b);
  uint8_t* at = b->head_ptr() + s->data1 * unit;
  for (size_t i = 0; i < chars.size(); ++i) unicode::put_char(at + i * unit, unit, chars[i]);
  b->tail = b->offset + (s->data1 + static_cast<uint32_t>(chars.size())) * unit;
}

CodePoints without_set(const CodePoints& chars, const CodePoints& set) {
  CodePoints kept;
  for (uint32_t c : chars) {
    if (std::find(set.begin(), set.end(), c) == set.end()) kept.push_back(c);
  }
  return kept;
}

CodePoints trimmed_lines(const CodePoints& chars) {
  CodePoints result;
  bool pending_space = false;
  for (uint32_t c : chars) {
    if (detail::is_whitespace(c)) {
      pending_space = !result.empty();
      continue;
    }
    if (pending_space) result.push_back(' ');
    pending_space = false;
    result.push_back(c);
  }
  return result;
}

CodePoints trimmed_ends(const CodePoints& chars, bool head, bool tail) {
  size_t first = 0;
  size_t end = chars.size();
  bool both = !head && !tail;
  if (head || both) {
    while (first < end && detail::is_whitespace(chars[first])) ++first;
  }
  bool line_feed_at_end = false;
  if (tail || both) {
    while (end > first && detail::is_whitespace(chars[end - 1])) {
      if (chars[end - 1] == '\n') line_feed_at_end = true;
      --end;
    }
  }
  if (!both) return CodePoints(chars.begin() + static_cast<std::ptrdiff_t>(first),
                               chars.begin() + static_cast<std::ptrdiff_t>(end));

  // Inside the text, blanks at the start of a line and just before a line
  // feed go too.
  CodePoints result;
  bool line_start = false;
  for (size_t i = first; i < end; ++i) {
    uint32_t c = chars[i];
    if (c == '\n') {
      while (!result.empty() && detail::is_blank(result.back())) result.pop_back();
      result.push_back(c);
      line_start = true;
      continue;
    }
    if (line_start && detail::is_blank(c)) continue;
    line_start = false;
    result.push_back(c);
  }
  if (line_feed_at_end) result.push_back('\n');
  return result;
}

CodePoints trim_set(int with) {
  if (with < 0) return {'\t', '\n', '\r', ' '};
  const Cell* argument = refinement_argument(with);
  if (argument->is(TYPE_CHAR) || argument->is(TYPE_INTEGER)) return {argument->data2};
  if (is_string_like(argument->type()) || argument->is(TYPE_BINARY)) return read_from_index(argument);
  fire(ErrorId::script_invalid_arg, argument);
}
}  // namespace

Cell* trim(Cell* series, int head, int tail, int automatic, int lines, int all, int with) {
  clamp_index(series);
  series::Stretch stretch = series::announce(*series, runtime_words::trim, nullptr, series->data1, series::kToTail);
  // Trimming reads from the index to the live tail, wherever the owner left it.
  clamp_index(series);
  CodePoints chars = read_from_index(series);
  if (all >= 0 || with >= 0) {
    chars = without_set(chars, trim_set(with));
  } else if (automatic >= 0) {
    fire(ErrorId::internal_not_done);
  } else if (lines >= 0) {
    chars = trimmed_lines(chars);
  } else {
    chars = trimmed_ends(chars, head >= 0, tail >= 0);
  }
  write_from_index(series, chars);
  series::announce_done(*series, runtime_words::trimmed, nullptr, stretch);
  return set_result(*series);
}

}  // namespace kel::string
