// string! storage: the low-level routines on string cells and buffers (see
// string.h), and the helpers the string! actions share (string_internal.h).
//
// Every routine reads the unit from the buffer for each call, since any
// growth or widening may have changed it, and re-reads the buffer after each
// call that may allocate. A string's characters live from the buffer's head
// offset to its tail; the cell's index counts characters from that head.
#include "datatypes/string.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/string_internal.h"
#include "runtime/stack.h"
#include "runtime/case_folding.h"
#include "runtime/action_slots.h"
#include "runtime/errors.h"
#include "runtime/float_text.h"
#include "datatypes/runtime_words.h"
#include "runtime/series_tail.h"
#include "runtime/unicode.h"

namespace kel::string {

// --- Shared helpers -------------------------------------------------------------------

namespace detail {

uint32_t element_unit(const Cell* series) {
  const SeriesBuffer* buffer = memory::buffer_of(series->data2);
  if (series->is(TYPE_VECTOR) && buffer->unit() == 8) return 8;
  return checked_unit(buffer);
}

SeriesBuffer* reserve(SeriesBuffer* buffer, uint64_t extra_bytes) {
  if (uint64_t{buffer->tail} + extra_bytes <= buffer->size) return buffer;
  // expand_series moves the content to the start of the data area, so the
  // new capacity only has to hold the content and the extra bytes.
  uint64_t need = uint64_t{buffer->used()} + extra_bytes;
  uint64_t size = memory::grown_capacity(buffer->size, std::max<uint64_t>(need, 16));
  return memory::expand_series(buffer, static_cast<uint32_t>(size));
}

SeriesBuffer* widen_to(SeriesBuffer* buffer, uint32_t unit) {
  uint32_t current = checked_unit(buffer);
  if (unit <= current) return buffer;
  if (current == 1) {
    return unit == 2 ? unicode::widen_latin1_to_ucs2(buffer) : unicode::widen_latin1_to_ucs4(buffer);
  }
  return unicode::widen_ucs2_to_ucs4(buffer);
}

SeriesBuffer* open_gap(SeriesBuffer* buffer, uint32_t position, uint32_t count) {
  uint32_t unit = checked_unit(buffer);
  uint32_t length = buffer->used() / unit;
  if (position > length) position = length;
  uint64_t bytes = uint64_t{count} * unit;
  memory::check_series_size(bytes);
  buffer = reserve(buffer, bytes);
  uint8_t* at = buffer->head_ptr() + position * unit;
  std::memmove(at + bytes, at, (length - position) * unit);
  buffer->tail += static_cast<uint32_t>(bytes);
  return buffer;
}

void copy_chars(uint8_t* destination, uint32_t destination_unit, const uint8_t* source,
                uint32_t source_unit, uint32_t count) {
  if (destination_unit == source_unit) {
    std::memmove(destination, source, size_t{count} * source_unit);
    return;
  }
  for (uint32_t i = 0; i < count; ++i) {
    unicode::put_char(destination + i * destination_unit, destination_unit,
                      unicode::get_char(source + i * source_unit, source_unit));
  }
}

Cell* push_copy(const Cell* source, uint32_t position, uint32_t count, TypeId type) {
  uint32_t unit = checked_unit(buffer_of(source));
  Cell* copy = stack::push_slot();
  load_at(copy, count, unit);
  copy->set_type(type);
  SeriesBuffer* from = buffer_of(source);  // re-read: the allocation may have moved it
  SeriesBuffer* to = buffer_of(copy);
  std::memcpy(to->head_ptr(), from->head_ptr() + position * unit, size_t{count} * unit);
  to->tail = to->offset + count * unit;
  return copy;
}

uint32_t fold(uint32_t code_point) { return case_folding::to_upper_char(code_point); }

bool is_blank(uint32_t c) {
  return c == ' ' || c == '\t' || c == 0xA0 || c == 0x1680 || c == 0x180E ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x202F || c == 0x205F || c == 0x3000;
}

bool is_whitespace(uint32_t c) {
  return (c >= 1 && c <= 32) || c == 0x85 || c == 0x2028 || c == 0x2029 || is_blank(c);
}

void bad_refinement_argument(Refinement refinement, const Cell* value) {
  const Cell* word = nullptr;
  switch (refinement) {
    case Refinement::kPart: word = &runtime_words::part_refinement; break;
    case Refinement::kSkip: word = &runtime_words::skip_refinement; break;
    case Refinement::kCompare: word = &runtime_words::compare_refinement; break;
  }
  // Before the runtime words exist the message names no refinement.
  Cell name = word->is(TYPE_REFINEMENT) ? *word : make_cell(TYPE_NONE);
  fire(ErrorId::script_invalid_refine_arg, &name, value);
}

int32_t part_count(const Cell* series, const Cell* part) {
  if (part->is(TYPE_INTEGER)) return part->int_at2();
  if (part->type() != series->type() || part->data2 != series->data2) {
    bad_refinement_argument(Refinement::kPart, part);
  }
  return static_cast<int32_t>(part->data1) - static_cast<int32_t>(series->data1);
}

Cell* refinement_argument(int index) { return stack::arguments() + index; }

}  // namespace detail

using detail::checked_unit;
using detail::fold;

// --- Cells --------------------------------------------------------------------------------

Cell* push(const Cell& s) { return stack::push(s); }

// --- Loading ------------------------------------------------------------------------------

Cell* load(const uint8_t* bytes, uint32_t length, Cell* cell, int32_t encoding) {
  if (cell == nullptr) cell = stack::push_slot();
  NodeId node = 0;
  switch (encoding) {
    case kEncodingUtf8: {
      uint32_t remainder = 0;
      node = unicode::load_utf8(bytes, length, 0, &remainder, false);
      break;
    }
    case kEncodingUtf16le: {
      // The bytes may sit at any address; the decoder reads whole 16-bit units.
      std::vector<uint16_t> units(length == 0 ? 1 : length);
      if (length) std::memcpy(units.data(), bytes, size_t{length} * 2);
      node = unicode::load_utf16le(units.data(), length, 0, false);
      break;
    }
    default:
      fire(ErrorId::internal_feature_na);
  }
  *cell = make_value(node);
  return cell;
}

Cell* load_cstr(const char* bytes, uint32_t length, int32_t encoding) {
  return load(reinterpret_cast<const uint8_t*>(bytes), length, nullptr, encoding);
}

Cell* load_in(const uint8_t* bytes, uint32_t length, const Cell* block, int32_t encoding) {
  // The new string stays on the stack until the block holds it.
  Cell* loaded = load(bytes, length, nullptr, encoding);
  Cell value = *loaded;
  Cell* cell = alloc_tail_cell(block);
  *cell = value;
  stack::pop(1);
  return cell;
}

Cell* load_in_default(const uint8_t* bytes, uint32_t length, const Cell* block) {
  return load_in(bytes, length, block, kEncodingUtf8);
}

Cell* load_utf8_strict(const uint8_t* bytes, uint32_t length) {
  Cell* cell = stack::push_slot();
  NodeId node = memory::alloc_codepoints(length == 0 ? 1 : length, 1);
  *cell = make_value(node);
  unicode::load_utf8(bytes, length, node, nullptr, false);
  return cell;
}

// --- Reading ------------------------------------------------------------------------------

uint32_t rs_length(const Cell* s) {
  uint32_t length = detail::length_from_head(buffer_of(s));
  uint32_t index = index_of(s);
  return index >= length ? 0 : length - index;
}

uint32_t rs_length_from_head(const Cell* s) { return detail::length_from_head(buffer_of(s)); }

uint8_t* rs_head(Cell* s) {
  SeriesBuffer* b = buffer_of(s);
  uint32_t unit = checked_unit(b);
  uint32_t length = b->used() / unit;
  if (s->data1 > length) s->data1 = length;
  return b->head_ptr() + s->data1 * unit;
}

uint8_t* rs_tail(const Cell* s) { return buffer_of(s)->tail_ptr(); }

bool rs_tail_q(const Cell* s) {
  const SeriesBuffer* b = buffer_of(s);
  return uint64_t{s->data1} * checked_unit(b) >= b->used();
}

uint32_t rs_abs_at(const Cell* s, uint32_t position) {
  SeriesBuffer* b = buffer_of(s);
  uint32_t unit = checked_unit(b);
  return unicode::get_char(b->head_ptr() + position * unit, unit);
}

void rs_reset(Cell* s) {
  SeriesBuffer* b = buffer_of(s);
  b->set_unit(1);
  b->tail = b->offset;
  s->data1 = 0;
}

bool rs_skip(Cell* s, int32_t n) {
  int64_t length = rs_length_from_head(s);
  int64_t position = int64_t{s->data1} + n;
  if (position >= 0 && position <= length) s->data1 = static_cast<uint32_t>(position);
  return position >= length;
}

int32_t find_char(const Cell* s, uint32_t code_point) {
  SeriesBuffer* b = buffer_of(s);
  uint32_t unit = checked_unit(b);
  uint32_t length = b->used() / unit;
  const uint8_t* head = b->head_ptr();
  for (uint32_t i = index_of(s); i < length; ++i) {
    if (unicode::get_char(head + i * unit, unit) == code_point) {
      return static_cast<int32_t>(i - index_of(s));
    }
  }
  return -1;
}

bool has_char(const Cell* s, uint32_t code_point, int32_t step, bool case_sensitive) {
  SeriesBuffer* b = buffer_of(s);
  uint32_t unit = checked_unit(b);
  uint32_t length = b->used() / unit;
  const uint8_t* head = b->head_ptr();
  uint32_t sought = case_sensitive ? code_point : fold(code_point);
  uint32_t stride = step < 1 ? 1 : static_cast<uint32_t>(step);
  for (uint64_t i = index_of(s); i < length; i += stride) {
    uint32_t c = unicode::get_char(head + i * unit, unit);
    if ((case_sensitive ? c : fold(c)) == sought) return true;
  }
  return false;
}

bool starts_with_literal(const Cell* s, const char* text) {
  size_t count = std::strlen(text);
  if (rs_length(s) < count) return false;
  SeriesBuffer* b = buffer_of(s);
  uint32_t unit = checked_unit(b);
  const uint8_t* p = b->head_ptr() + index_of(s) * unit;
  for (size_t i = 0; i < count; ++i) {
    if (unicode::get_char(p + i * unit, unit) != static_cast<uint8_t>(text[i])) return false;
  }
  return true;
}

double parse_float(const uint8_t* start, uint32_t length, uint32_t unit) {
  std::string ascii(length, '\0');
  for (uint32_t i = 0; i < length; ++i) {
    uint32_t c = unicode::get_char(start + i * unit, unit);
    if (c > 127) {
      ascii.resize(i);
      break;
    }
    ascii[i] = static_cast<char>(c);
  }
  int32_t remainder = 0;
  return float_type::parse(ascii.data(), ascii.data() + ascii.size(), 0, &remainder);
}

// --- Writing characters -------------------------------------------------------------------

SeriesBuffer* append_char(SeriesBuffer* buffer, uint32_t code_point) {
  buffer = unicode::widen_for(buffer, code_point, 127);
  uint32_t unit = checked_unit(buffer);
  uint8_t* p = alloc_tail_unit(&buffer, unit);
  unicode::put_char(p, unit, code_point);
  return buffer;
}

SeriesBuffer* overwrite_char(SeriesBuffer* buffer, uint32_t offset, uint32_t code_point) {
  buffer = unicode::widen_for(buffer, code_point, 255);
  uint32_t unit = checked_unit(buffer);
  uint32_t length = buffer->used() / unit;
  if (offset >= length) {
    offset = length;
    buffer = detail::open_gap(buffer, length, 1);
  }
  unicode::put_char(buffer->head_ptr() + offset * unit, unit, code_point);
  return buffer;
}

SeriesBuffer* insert_char(SeriesBuffer* buffer, uint32_t offset, uint32_t code_point) {
  buffer = unicode::widen_for(buffer, code_point, 255);
  uint32_t unit = checked_unit(buffer);
  uint32_t length = buffer->used() / unit;
  if (offset > length) offset = length;
  buffer = detail::open_gap(buffer, offset, 1);
  unicode::put_char(buffer->head_ptr() + offset * unit, unit, code_point);
  return buffer;
}

SeriesBuffer* poke_char(SeriesBuffer* buffer, uint32_t byte_position, uint32_t code_point) {
  uint32_t old_unit = checked_unit(buffer);
  uint32_t index = (byte_position - buffer->offset) / old_unit;
  buffer = unicode::widen_for(buffer, code_point, 255);
  uint32_t unit = buffer->unit();
  unicode::put_char(buffer->head_ptr() + index * unit, unit, code_point);
  return buffer;
}

void remove_char(Cell* s, uint32_t offset) { remove_part(s, offset, 1); }

void remove_part(Cell* s, uint32_t offset, uint32_t count) {
  SeriesBuffer* b = buffer_of(s);
  uint32_t unit = checked_unit(b);
  uint32_t length = b->used() / unit;
  uint64_t position = uint64_t{s->data1} + offset;
  if (position >= length || count == 0) return;
  if (count > length - position) count = static_cast<uint32_t>(length - position);
  uint8_t* at = b->head_ptr() + position * unit;
  std::memmove(at, at + size_t{count} * unit, (length - position - count) * unit);
  b->tail -= count * unit;
}

void truncate_to(SeriesBuffer* buffer, uint32_t n) {
  uint32_t unit = checked_unit(buffer);
  if (buffer->used() / unit >= n) buffer->tail = buffer->offset + n * unit;
}

SeriesBuffer* convert_width(SeriesBuffer* buffer, uint32_t from, uint32_t to) {
  if (checked_unit(buffer) != from) unicode::bad_unit();
  return detail::widen_to(buffer, to);
}

NodeId widen_copy(const SeriesBuffer* source, NodeId target, uint32_t unit) {
  NodeId source_node = source->node;
  uint32_t source_unit = checked_unit(source);
  uint32_t count = source->used() / source_unit;
  if (target == 0) {
    target = memory::alloc_codepoints(count == 0 ? 1 : count, unit);
  } else {
    SeriesBuffer* t = memory::buffer_of(target);
    t->tail = t->offset;
    t->set_unit(unit);
    detail::reserve(t, uint64_t{count} * unit);
  }
  SeriesBuffer* t = memory::buffer_of(target);
  SeriesBuffer* s = memory::buffer_of(source_node);
  detail::copy_chars(t->head_ptr(), unit, s->head_ptr(), source_unit, count);
  t->tail = t->offset + count * unit;
  return target;
}

// --- Copying text -----------------------------------------------------------------------------

void concatenate(Cell* target, const Cell* source, int32_t part, uint32_t offset, Concatenate mode) {
  if (source->data2 == 0) return;  // a symbol! whose name was never decoded
  uint32_t count = rs_length(source);
  if (part >= 0 && static_cast<uint32_t>(part) < count) count = static_cast<uint32_t>(part);
  if (count == 0) return;

  stack::Guard guard;
  Cell from = *source;
  uint32_t from_index = index_of(source);
  // Copying a string into itself: the source is first set apart, since the
  // gap opened for it would shift or overwrite the characters being read.
  if (source->data2 == target->data2) {
    from = *detail::push_copy(source, from_index, count, TYPE_STRING);
    from_index = 0;
  }

  uint32_t source_unit = checked_unit(buffer_of(&from));
  SeriesBuffer* b = detail::widen_to(buffer_of(target), source_unit);
  uint32_t unit = b->unit();
  uint32_t length = b->used() / unit;
  uint32_t position = length;
  switch (mode) {
    case Concatenate::kAppend:
      b = detail::open_gap(b, length, count);
      break;
    case Concatenate::kInsert:
      position = std::min(offset, length);
      b = detail::open_gap(b, position, count);
      break;
    case Concatenate::kOverwrite:
      position = std::min(offset, length);
      if (uint64_t{position} + count > length) b = detail::open_gap(b, length, position + count - length);
      break;
  }
  SeriesBuffer* s = buffer_of(&from);
  detail::copy_chars(b->head_ptr() + position * unit, unit, s->head_ptr() + from_index * source_unit,
                     source_unit, count);
}

void insert_codepoints(Cell* source, Cell* target, uint32_t count) {
  uint32_t available = rs_length(source);
  if (count > available) count = available;
  if (count == 0) return;
  stack::Guard guard;
  Cell* moved = detail::push_copy(source, source->data1, count, TYPE_STRING);
  uint32_t at = target->data1;
  concatenate(target, moved, -1, at, Concatenate::kInsert);
  // Inside one buffer, an insertion before the source shifts it up.
  uint32_t offset = 0;
  if (source->data2 == target->data2 && at <= source->data1) offset = count;
  remove_part(source, offset, count);
}

void exchange_blocks(uint8_t* base, uint32_t first_length, uint32_t gap, uint32_t second_length) {
  // Three reversals exchange the ranges in place, with no scratch memory: the
  // whole stretch reversed puts them in the new order, each part reversed
  // again restores its own byte order.
  uint8_t* end = base + first_length + gap + second_length;
  std::reverse(base, end);
  std::reverse(base, base + second_length);
  std::reverse(base + second_length, base + second_length + gap);
  std::reverse(base + second_length + gap, end);
}

// --- Hexadecimal ----------------------------------------------------------------------------------

namespace {
constexpr char kHexDigits[] = "0123456789ABCDEF";
}

std::array<char, 2> byte_to_hex(uint8_t byte) { return {kHexDigits[byte >> 4], kHexDigits[byte & 15]}; }

std::string to_hex(int32_t value, bool trim) {
  auto bits = static_cast<uint32_t>(value);
  std::string digits(8, '0');
  for (int i = 7; i >= 0; --i, bits >>= 4) digits[static_cast<size_t>(i)] = kHexDigits[bits & 15];
  if (!trim) return digits;
  if (value == 0) return "00";
  return digits.substr(digits.find_first_not_of('0'));
}

// --- Matching ------------------------------------------------------------------------------------

bool char_in_bitset(const Cell* s, const Cell* bitset) {
  if (rs_tail_q(s)) return false;
  uint32_t code_point = rs_abs_at(s, s->data1);
  const SeriesBuffer* bits = memory::buffer_of(bitset->data2);
  uint32_t byte = code_point >> 3;
  if (byte >= bits->used()) return (bits->flags & series_flags::kBitsetComplement) != 0;
  return (bits->data()[bits->offset + byte] & (0x80u >> (code_point & 7))) != 0;
}

bool tag_delimiters(const Cell* s, const Cell* tag) {
  uint64_t closing = uint64_t{s->data1} + rs_length(tag) + 1;
  if (closing >= rs_length_from_head(s)) return false;
  return rs_abs_at(s, s->data1) == '<' && rs_abs_at(s, static_cast<uint32_t>(closing)) == '>';
}

bool match_value(const Cell* s, const Cell* value, int32_t op) {
  switch (value->type()) {
    case TYPE_CHAR: {
      if (rs_tail_q(s)) return false;
      uint32_t c = rs_abs_at(s, s->data1);
      uint32_t sought = value->data2;
      return op == kCmpStrictEqual ? c == sought : fold(c) == fold(sought);
    }
    case TYPE_TAG: {
      if (!tag_delimiters(s, value)) return false;
      Cell text = *s;
      text.data1 += 1;
      return compare_strings(&text, value, op, true) == 0;
    }
    default:
      if (!is_string_like(value->type())) return false;
      return compare_strings(s, value, op, true) == 0;
  }
}

// --- Comparison ----------------------------------------------------------------------------------

namespace {
// The characters of a text operand: symbol! records count from their first
// character, and one whose name was never decoded is empty.
struct TextView {
  const uint8_t* head;
  uint32_t unit;
  uint32_t length;
};
TextView view_of(const Cell* s) {
  if (s->data2 == 0) return {nullptr, 1, 0};
  SeriesBuffer* b = buffer_of(s);
  uint32_t unit = checked_unit(b);
  uint32_t total = b->used() / unit;
  uint32_t index = index_of(s);
  if (index > total) index = total;
  return {b->head_ptr() + index * unit, unit, total - index};
}
}  // namespace

int32_t compare_strings(const Cell* first, const Cell* second, int32_t op, bool match) {
  if (first->data2 == second->data2 && index_of(first) == index_of(second)) {
    switch (op) {
      case kCmpSame:
      case kCmpEqual:
      case kCmpNotEqual:
      case kCmpStrictEqual:
      case kCmpFind:
        return 0;
      default:
        break;
    }
  } else if (op == kCmpSame) {
    return -1;
  }

  TextView a = view_of(first);
  TextView b = view_of(second);
  uint32_t count;
  if (match) {
    if (b.length == 0) return op == kCmpFind ? 1 : 0;
    if (b.length > a.length) return 1;
    count = b.length;
  } else {
    if (a.length != b.length) {
      bool equality = op == kCmpEqual || op == kCmpNotEqual || op == kCmpStrictEqual || op == kCmpFind;
      if (equality || b.length == 0) return 1;
    }
    count = std::min(a.length, b.length);
  }

  bool case_sensitive = op == kCmpStrictEqual || op == kCmpCaseSort;
  // Equal characters fold alike: only where they differ is folding asked.
  uint32_t i = 0;
  if (a.unit == 1 && b.unit == 1) {
    // The commonest texts: skip the run of equal bytes at once.
    while (i < count && a.head[i] == b.head[i]) ++i;
  }
  for (; i < count; ++i) {
    uint32_t c1 = unicode::get_char(a.head + i * a.unit, a.unit);
    uint32_t c2 = unicode::get_char(b.head + i * b.unit, b.unit);
    if (c1 == c2) continue;
    if (!case_sensitive) {
      c1 = fold(c1);
      c2 = fold(c2);
    }
    if (c1 != c2) return c1 > c2 ? 1 : -1;
  }
  if (match || a.length == b.length) return 0;
  return a.length < b.length ? -1 : 1;
}

// --- Text ------------------------------------------------------------------------------------------


}  // namespace kel::string
