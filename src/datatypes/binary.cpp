// binary!: the byte routines, conversions, text form, comparison and the
// byte-level editing actions (see binary.h).
//
// The bytes a value contributes to append, insert, change and to binary!
// are gathered first into a C++ byte vector (the value may be the binary
// itself, or a block holding it), then written into the buffer after one
// growth. No raw buffer address is kept across an allocation: each routine
// re-reads the buffer through the node after growing it.
#include "datatypes/binary.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/binary_codecs.h"
#include "datatypes/image.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "runtime/actions.h"
#include "runtime/stack.h"
#include "runtime/cycles.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "datatypes/runtime_words.h"
#include "runtime/series_tail.h"
#include "runtime/unicode.h"

namespace kel::binary {

namespace {

using Bytes = std::vector<uint8_t>;

// Bytes from the head to the tail.
uint32_t used_of(const Cell* binary) { return buffer_of(binary)->used(); }
// The index, clamped to the tail.
uint32_t index_of(const Cell* binary) { return std::min(binary->data1, used_of(binary)); }

[[noreturn]] void bad_to_arg(const Cell* value) {
  Cell type = datatype::make(TYPE_BINARY);
  fire_bad_to_arg(&type, value);
}

// Makes room for at least count more bytes: grows to what is needed, or to
// twice the capacity when that is more, up to the series limit; past it,
// internal no-memory. Returns the (possibly new) buffer.
SeriesBuffer* reserve(const Cell* binary, uint64_t count) {
  SeriesBuffer* buffer = buffer_of(binary);
  uint64_t content = static_cast<uint64_t>(buffer->used()) + count;
  memory::check_series_size(content);
  if (static_cast<uint64_t>(buffer->tail) + count <= buffer->size) return buffer;
  // The content moves to the start of the new buffer.
  return memory::expand_series(buffer, static_cast<uint32_t>(memory::grown_capacity(buffer->size, content)));
}

// Replaces span bytes at position (from the head) with the bytes repeated
// count times; the rest of the binary moves. Returns the position after
// the new bytes.
uint32_t splice(const Cell* binary, uint32_t position, uint32_t span, const Bytes& bytes, uint64_t count) {
  if (count != 0 && bytes.size() > memory::kMaxSeriesBytes / count) fire(ErrorId::internal_no_memory);
  uint64_t total = bytes.size() * count;
  memory::check_series_size(total);
  uint32_t used = used_of(binary);
  position = std::min(position, used);
  span = std::min(span, used - position);
  SeriesBuffer* buffer = total > span ? reserve(binary, total - span) : buffer_of(binary);
  uint8_t* head = buffer->head_ptr();
  std::memmove(head + position + total, head + position + span, used - position - span);
  if (!bytes.empty() && count > 0) {
    std::memcpy(head + position, bytes.data(), bytes.size());
    if (count > 1) fill_pattern(head + position, static_cast<uint32_t>(bytes.size()), static_cast<uint32_t>(count));
  }
  buffer->tail = buffer->offset + used - span + static_cast<uint32_t>(total);
  return position + static_cast<uint32_t>(total);
}

void append_utf8_of(const Cell& text, Bytes& out) {
  std::string utf8 = string::to_std_string(text);
  out.insert(out.end(), utf8.begin(), utf8.end());
}

void append_char(uint32_t code_point, Bytes& out) {
  uint8_t encoded[4];
  int32_t length = unicode::encode_char(code_point, encoded);
  out.insert(out.end(), encoded, encoded + length);
}

// What a value contributes as bytes. limit (or -1) cuts the bytes of a
// char!, binary!, tuple! or text value; for a block it counts values, or
// bytes with only. With forming, values of other types give the UTF-8 of
// their form; otherwise they raise script bad-to-arg.
void collect_bytes(const Cell& value, int64_t limit, bool only, bool forming, Bytes& out) {
  size_t start = out.size();
  switch (value.type()) {
    case TYPE_CHAR: append_char(value.data2, out); break;
    case TYPE_INTEGER: {
      int32_t n = integer::get(value);
      if (n < -128 || n > 255) fire(ErrorId::script_invalid_arg, &value);
      out.push_back(static_cast<uint8_t>(n));
      return;
    }
    case TYPE_BINARY: {
      const uint8_t* head = rs_head(&value);
      out.insert(out.end(), head, head + rs_length(&value));
      break;
    }
    case TYPE_TUPLE: {
      const uint8_t* bytes = tuple::bytes_of(value);
      out.insert(out.end(), bytes, bytes + tuple::size_of(value));
      break;
    }
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: {
      cycles::Entry entry(value.data2);
      SeriesBuffer* buffer = block::buffer_of(&value);
      uint32_t count = buffer->cell_count() > value.data1 ? buffer->cell_count() - value.data1 : 0;
      if (limit >= 0 && !only) count = static_cast<uint32_t>(std::min<int64_t>(count, limit));
      for (uint32_t i = 0; i < count; ++i) {
        // Re-read: forming an element may allocate and move the block.
        Cell element = block::buffer_of(&value)->cells()[value.data1 + i];
        collect_bytes(element, -1, false, forming, out);
      }
      if (limit >= 0 && only && out.size() - start > static_cast<uint64_t>(limit)) out.resize(start + limit);
      return;
    }
    default:
      if (string::is_string_like(value.type())) {
        append_utf8_of(value, out);
        break;
      }
      if (!forming) bad_to_arg(&value);
      {
        std::string formed = actions::form_to_string(value);
        out.insert(out.end(), formed.begin(), formed.end());
      }
      return;
  }
  if (limit >= 0 && out.size() - start > static_cast<uint64_t>(limit)) out.resize(start + limit);
}

// The count a /part argument gives, relative to the value it limits.
int64_t part_limit(const Cell* value, int part) {
  if (part < 0) return -1;
  const Cell& argument = stack::arguments()[part];
  if (argument.is(TYPE_INTEGER)) return std::max(0, integer::get(argument));
  return std::max(0, series::part_count(value, &argument));
}

uint64_t dup_count(int dup) {
  if (dup < 0) return 1;
  const Cell& argument = stack::arguments()[dup];
  if (!argument.is(TYPE_INTEGER)) fire(ErrorId::script_invalid_arg, &argument);
  return static_cast<uint64_t>(std::max(0, integer::get(argument)));
}

// The bytes of a text or binary value for comparison.
Bytes bytes_for_compare(const Cell& value) {
  Bytes bytes;
  if (value.is(TYPE_BINARY)) {
    const uint8_t* head = rs_head(&value);
    bytes.assign(head, head + rs_length(&value));
  } else {
    append_utf8_of(value, bytes);
  }
  return bytes;
}

}  // namespace

// --- Reading ----------------------------------------------------------------------------

uint32_t rs_length(const Cell* binary) {
  uint32_t used = used_of(binary);
  return binary->data1 < used ? used - binary->data1 : 0;
}

uint8_t* rs_head(const Cell* binary) { return buffer_of(binary)->head_ptr() + index_of(binary); }

uint8_t* tail_pointer(const Cell* binary) { return buffer_of(binary)->tail_ptr(); }

bool tail_q(const Cell* binary) { return binary->data1 >= used_of(binary); }

void skip(Cell* binary, int32_t count) {
  int64_t index = static_cast<int64_t>(binary->data1) + count;
  binary->data1 = static_cast<uint32_t>(std::clamp<int64_t>(index, 0, used_of(binary)));
}

uint8_t get_byte(const Cell* binary, uint32_t offset) { return buffer_of(binary)->head_ptr()[offset]; }

// --- Writing ------------------------------------------------------------------------------

void clear(Cell* binary) {
  SeriesBuffer* buffer = buffer_of(binary);
  if (binary->data1 < buffer->used()) buffer->tail = buffer->offset + binary->data1;
}

void append_bytes(const Cell* binary, const uint8_t* bytes, uint32_t count) {
  SeriesBuffer* buffer = reserve(binary, count);
  if (count > 0) std::memcpy(buffer->tail_ptr(), bytes, count);
  buffer->tail += count;
}

void insert_bytes(const Cell* binary, uint32_t offset, const uint8_t* bytes, uint32_t count) {
  Bytes copy(bytes, bytes + count);
  splice(binary, index_of(binary) + offset, 0, copy, 1);
}

void overwrite_bytes(const Cell* binary, uint32_t offset, const uint8_t* bytes, uint32_t count) {
  uint64_t position = static_cast<uint64_t>(binary->data1) + offset;
  uint32_t used = used_of(binary);
  uint64_t end = position + count;
  Bytes copy(bytes, bytes + count);
  SeriesBuffer* buffer = end > used ? reserve(binary, end - used) : buffer_of(binary);
  uint8_t* head = buffer->head_ptr();
  // A write that starts past the tail leaves zero bytes in the gap.
  if (position > used) std::memset(head + used, 0, position - used);
  if (count > 0) std::memcpy(head + position, copy.data(), count);
  if (end > used) buffer->tail = buffer->offset + static_cast<uint32_t>(end);
}

void append_int(int32_t value, const Cell* binary) {
  auto u = static_cast<uint32_t>(value);
  uint8_t bytes[4] = {static_cast<uint8_t>(u >> 24), static_cast<uint8_t>(u >> 16), static_cast<uint8_t>(u >> 8),
                      static_cast<uint8_t>(u)};
  append_bytes(binary, bytes, 4);
}

// --- Construction ---------------------------------------------------------------------------

Cell* init_cell(Cell* cell, uint32_t capacity) {
  NodeId node = memory::alloc_bytes(capacity == 0 ? 16 : capacity);
  *cell = make_value(node);
  return cell;
}

Cell* make_in_block(const Cell* block, uint32_t capacity) {
  Cell cell;
  init_cell(&cell, capacity);
  return append_value(block, cell);
}

Cell* load_bytes_in(const uint8_t* bytes, uint32_t count, const Cell* block) {
  NodeId node = memory::alloc_bytes(count);
  SeriesBuffer* buffer = memory::buffer_of(node);
  if (count > 0) std::memcpy(buffer->head_ptr(), bytes, count);
  buffer->tail = buffer->offset + count;
  Cell cell = make_value(node);
  return block != nullptr ? append_value(block, cell) : stack::push(cell);
}

Cell* load_bytes(const uint8_t* bytes, uint32_t count) { return load_bytes_in(bytes, count, nullptr); }

Cell* push(const Cell& binary) { return stack::push(binary); }

// --- Bytes of values --------------------------------------------------------------------------

void set_byte(uint8_t* address, const Cell& value) {
  if (!value.is(TYPE_INTEGER) && !value.is(TYPE_CHAR)) fire(ErrorId::script_invalid_arg, &value);
  *address = static_cast<uint8_t>(value.data2);
}

bool match_bit(const Cell* binary, const Cell* bitset) {
  if (tail_q(binary)) return false;
  uint32_t byte = *rs_head(binary);
  SeriesBuffer* bits = memory::buffer_of(bitset->data2);
  if (byte >= bits->used() * 8) return (bits->flags & series_flags::kBitsetComplement) != 0;
  return (bits->head_ptr()[byte >> 3] & (0x80 >> (byte & 7))) != 0;
}

int32_t compare_bytes(const Cell* binary, const Cell* value, int32_t op, bool match) {
  if (!value->is(TYPE_BINARY) && !string::is_string_like(value->type())) return kNotComparable;
  bool equality = op == kCmpEqual || op == kCmpNotEqual || op == kCmpStrictEqual || op == kCmpFind;
  if (value->is(TYPE_BINARY) && binary->data2 == value->data2 && binary->data1 == value->data1) {
    if (op == kCmpSame || equality) return 0;
  }
  if (op == kCmpSame) return -1;
  const uint8_t* first = rs_head(binary);
  uint32_t first_length = rs_length(binary);
  Bytes second = bytes_for_compare(*value);
  first = rs_head(binary);  // the text conversion may have allocated
  if (match) {
    if (second.empty()) return (op == kCmpEqual || op == kCmpFind || op == kCmpStrictEqual) ? 0 : 1;
    if (first_length < second.size()) return 1;
    return std::memcmp(first, second.data(), second.size()) == 0 ? 0 : 1;
  }
  if (first_length == 0 && second.empty()) return 0;
  if (equality && first_length != second.size()) return 1;
  size_t common = std::min<size_t>(first_length, second.size());
  for (size_t i = 0; i < common; ++i)
    if (first[i] != second[i]) return first[i] < second[i] ? -1 : 1;
  if (first_length == second.size()) return 0;
  return first_length < second.size() ? -1 : 1;
}

bool match_value(const Cell* binary, const Cell* value, int32_t op) {
  if (value->is(TYPE_CHAR)) return !tail_q(binary) && *rs_head(binary) == value->data2;
  if (!value->is(TYPE_BINARY) && !string::is_string_like(value->type())) return false;
  return compare_bytes(binary, value, op, true) == 0;
}

// --- Conversion ----------------------------------------------------------------------------

Cell* to(Cell*, Cell* spec, TypeId) {
  Bytes bytes;
  switch (spec->type()) {
    case TYPE_INTEGER: {
      Cell shown = *spec;
      auto u = static_cast<uint32_t>(integer::get(shown));
      for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<uint8_t>(u >> shift));
      break;
    }
    case TYPE_CHAR: append_char(spec->data2, bytes); break;
    case TYPE_FLOAT:
    case TYPE_PERCENT: {
      uint64_t bits = (static_cast<uint64_t>(spec->data3) << 32) | spec->data2;
      for (int shift = 56; shift >= 0; shift -= 8) bytes.push_back(static_cast<uint8_t>(bits >> shift));
      break;
    }
    case TYPE_TUPLE: collect_bytes(*spec, -1, false, false, bytes); break;
    case TYPE_BITSET: {
      SeriesBuffer* buffer = memory::buffer_of(spec->data2);
      bytes.assign(buffer->head_ptr(), buffer->tail_ptr());
      break;
    }
    case TYPE_ISSUE: {
      std::string_view name = symbol::name(word::symbol_of(*spec));
      std::vector<uint8_t> text(name.begin(), name.end());
      // Non-ASCII names are never hexadecimal; the decoder sees them as
      // bytes above 127 and refuses them.
      NodeId node = decode_base16(text.data(), static_cast<uint32_t>(text.size()), 1);
      if (node == 0) fire(ErrorId::script_invalid_data, spec);
      return stack::set_result(make_value(node));
    }
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH:
    case TYPE_BINARY: collect_bytes(*spec, -1, false, false, bytes); break;
    case TYPE_IMAGE:
      // The pixel words as stored: B, G, R, A for each pixel.
      return stack::set_result(image::extract_data(*spec, image::kArgb));
    default:
      if (!string::is_string_like(spec->type())) bad_to_arg(spec);
      append_utf8_of(*spec, bytes);
  }
  NodeId node = memory::alloc_bytes(std::max<uint32_t>(static_cast<uint32_t>(bytes.size()), 16));
  SeriesBuffer* buffer = memory::buffer_of(node);
  if (!bytes.empty()) std::memcpy(buffer->head_ptr(), bytes.data(), bytes.size());
  buffer->tail = buffer->offset + static_cast<uint32_t>(bytes.size());
  return stack::set_result(make_value(node));
}

// --- Text ------------------------------------------------------------------------------------

int32_t mold_bytes(const Cell* value, Cell* buffer, bool only, bool flat, int32_t part, int32_t indent) {
  constexpr char kHex[] = "0123456789ABCDEF";
  uint32_t length = rs_length(value);
  bool lines = length >= 31 && !flat;
  if (!only) {
    string::concatenate_literal(buffer, "#{");
    part -= 2;
  }
  if (lines) {
    string::concatenate_literal(buffer, "\n");
    mold_indent(buffer, indent + 1);
  }
  uint32_t written = 0;
  for (uint32_t i = 0; i < length; ++i) {
    if (part < 1) break;
    // Re-read each time: the output string grows, the binary does not move,
    // but nothing is assumed.
    uint8_t byte = buffer_of(value)->head_ptr()[index_of(value) + i];
    char digits[2] = {kHex[byte >> 4], kHex[byte & 15]};
    string::concatenate_literal_part(buffer, digits, 2);
    part -= 2;
    ++written;
    if (lines && written % 32 == 0) {
      string::concatenate_literal(buffer, "\n");
      mold_indent(buffer, indent + 1);
    }
  }
  if (lines && written % 32 != 0) {
    string::concatenate_literal(buffer, "\n");
    mold_indent(buffer, indent);
  }
  if (!only) {
    string::concatenate_literal(buffer, "}");
    part -= 1;
  }
  return part;
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
  return mold_bytes(value, buffer, false, false, part, 0);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool, bool flat, Cell*, int32_t part, int32_t indent) {
  return mold_bytes(value, buffer, only, flat, part, indent);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
  if (!value2->is(TYPE_BINARY)) return kNotComparable;
  return compare_bytes(value1, value2, op, false);
}

// --- Bitwise -----------------------------------------------------------------------------------

namespace {

Cell* do_bitwise(int32_t op) {
  Cell* first = stack::arguments();
  Cell* second = first + 1;
  if (!second->is(TYPE_BINARY)) fire(ErrorId::script_invalid_arg, second);
  Bytes a = bytes_for_compare(*first), b = bytes_for_compare(*second);
  const Bytes& longer = a.size() >= b.size() ? a : b;
  size_t common = std::min(a.size(), b.size());
  Bytes result(longer.size(), 0);
  for (size_t i = 0; i < common; ++i) {
    switch (op) {
      case kOpAnd: result[i] = a[i] & b[i]; break;
      case kOpOr: result[i] = a[i] | b[i]; break;
      default: result[i] = a[i] ^ b[i]; break;
    }
  }
  if (op != kOpAnd) std::copy(longer.begin() + static_cast<long>(common), longer.end(), result.begin() + static_cast<long>(common));
  Cell* made = load_bytes(result.data(), static_cast<uint32_t>(result.size()));
  *first = *made;
  stack::pop(1);
  return first;
}

}  // namespace

Cell* and_t() { return do_bitwise(kOpAnd); }
Cell* or_t() { return do_bitwise(kOpOr); }
Cell* xor_t() { return do_bitwise(kOpXor); }

Cell* complement(Cell* value) {
  uint8_t* head = rs_head(value);
  uint32_t length = rs_length(value);
  for (uint32_t i = 0; i < length; ++i) head[i] = static_cast<uint8_t>(~head[i]);
  return value;
}

// --- Editing --------------------------------------------------------------------------------

namespace {

// append and insert, one handler: its owner hears "append" and "appended"
// for both. The bytes and the place (the live tail, or the index clamped to
// it) are taken again once the owner has heard of the change.
Cell* add_value(Cell* series, Cell* value, int part, int only, int dup, bool at_tail) {
  uint32_t used = used_of(series);
  if (series->data1 > used) series->data1 = used;
  Bytes bytes;
  collect_bytes(*value, part_limit(value, part), only >= 0, false, bytes);
  uint64_t count = dup_count(dup);
  if (bytes.empty() || count == 0) {
    if (at_tail) series->data1 = 0;
    return series;
  }
  uint32_t position = at_tail ? used_of(series) : series->data1;
  series::Stretch stretch = series::announce(*series, runtime_words::append, value, position, 0,
                                             static_cast<int64_t>(std::min<uint64_t>(bytes.size() * count, INT32_MAX)));
  if (stretch.announced) {
    bytes.clear();
    collect_bytes(*value, part_limit(value, part), only >= 0, false, bytes);
    series->data1 = index_of(series);
  }
  position = at_tail ? used_of(series) : series->data1;
  uint32_t after = splice(series, position, 0, bytes, count);
  stretch.start = position;
  stretch.part = static_cast<int32_t>(after - position);
  series::announce_done(*series, runtime_words::appended, value, stretch);
  series->data1 = at_tail ? 0 : after;
  return series;
}

}  // namespace

Cell* append(Cell* series, Cell* value, int part, int only, int dup) {
  return add_value(series, value, part, only, dup, true);
}

Cell* insert(Cell* series, Cell* value, int part, int only, int dup) {
  return add_value(series, value, part, only, dup, false);
}

Cell* change(Cell* series, Cell* value, int part, int only, int dup) {
  uint32_t used = used_of(series);
  if (series->data1 > used) series->data1 = used;
  Bytes bytes;
  collect_bytes(*value, -1, only >= 0, true, bytes);
  uint64_t count = dup_count(dup);
  int64_t part_span = -1;
  if (part >= 0) {
    const Cell& argument = stack::arguments()[part];
    int64_t n = argument.is(TYPE_INTEGER) ? integer::get(argument) : series::part_count(series, &argument);
    part_span = std::max<int64_t>(n, 0);
  }
  uint64_t total = bytes.size() * count;
  uint64_t span = part_span >= 0 ? static_cast<uint64_t>(part_span) : total;
  uint32_t rest = used - series->data1;
  uint32_t replaced = static_cast<uint32_t>(std::min<uint64_t>(span, rest));
  series::Stretch stretch =
      series::announce(*series, runtime_words::change, value, series->data1, part_span >= 0 ? part_span : replaced,
                       static_cast<int64_t>(std::min<uint64_t>(std::max<uint64_t>(total, replaced), INT32_MAX)));
  if (stretch.announced) {
    // The owner may have changed the binary or the value.
    bytes.clear();
    collect_bytes(*value, -1, only >= 0, true, bytes);
    total = bytes.size() * count;
    series->data1 = stretch.start;
    rest = used_of(series) - series->data1;
    replaced = part_span >= 0 ? stretch.count : static_cast<uint32_t>(std::min<uint64_t>(total, rest));
  }
  series->data1 = splice(series, series->data1, replaced, bytes, count);
  stretch.part = static_cast<int32_t>(std::min<uint64_t>(total, INT32_MAX));
  series::announce_done(*series, runtime_words::changed, value, stretch);
  return series;
}

Cell* trim(Cell* series, int head, int tail, int automatic, int lines, int all, int with) {
  if (automatic >= 0 || lines >= 0) fire(ErrorId::internal_not_done);
  // The owner hears "trim" (and nothing after it); the bytes are read once
  // it has.
  series::announce(*series, runtime_words::trim, nullptr, index_of(series), series::kToTail);
  uint32_t index = index_of(series);
  uint32_t length = rs_length(series);
  bool remove[256] = {};
  bool filtering = with >= 0 || all >= 0;
  if (with >= 0) {
    const Cell& set = stack::arguments()[with];
    switch (set.type()) {
      case TYPE_INTEGER:
      case TYPE_CHAR:
        if (set.data2 < 256) remove[set.data2] = true;
        break;
      case TYPE_BINARY: {
        const uint8_t* bytes = rs_head(&set);
        for (uint32_t i = 0; i < rs_length(&set); ++i) remove[bytes[i]] = true;
        break;
      }
      default: {
        if (!string::is_string_like(set.type())) fire(ErrorId::script_invalid_arg, &set);
        for (uint32_t i = 0; i < string::rs_length(&set); ++i) {
          uint32_t c = string::rs_abs_at(&set, string::index_of(&set) + i);
          if (c < 256) remove[c] = true;
        }
      }
    }
  } else {
    remove[0] = true;
  }
  uint8_t* bytes = rs_head(series);
  uint32_t kept;
  if (filtering) {
    kept = 0;
    for (uint32_t i = 0; i < length; ++i)
      if (!remove[bytes[i]]) bytes[kept++] = bytes[i];
  } else {
    uint32_t start = 0, end = length;
    bool both = head < 0 && tail < 0;
    if (head >= 0 || both)
      while (start < end && bytes[start] == 0) ++start;
    if (tail >= 0 || both)
      while (end > start && bytes[end - 1] == 0) --end;
    kept = end - start;
    std::memmove(bytes, bytes + start, kept);
  }
  SeriesBuffer* buffer = buffer_of(series);
  buffer->tail = buffer->offset + index + kept;
  return series;
}

void init() {
  DatatypeRecord record(TYPE_BINARY, TYPE_STRING, "binary!");
  record.handle<Action::to>(to)
      .handle<Action::form>(form)
      .handle<Action::mold>(mold)
      .handle<Action::compare>(compare)
      .handle<Action::and_t>(and_t)
      .handle<Action::complement>(complement)
      .handle<Action::or_t>(or_t)
      .handle<Action::xor_t>(xor_t)
      .handle<Action::append>(append)
      .handle<Action::insert>(insert)
      .handle<Action::change>(change)
      .handle<Action::trim>(trim);
  record.inherit({Action::make, Action::random, Action::reflect, Action::eval_path, Action::at, Action::back,
                  Action::clear, Action::copy, Action::find, Action::head, Action::head_q, Action::index_q,
                  Action::length_q, Action::move, Action::next, Action::pick, Action::poke, Action::remove,
                  Action::reverse, Action::select, Action::sort, Action::skip, Action::swap, Action::tail,
                  Action::tail_q, Action::take, Action::modify});
  register_datatype(record);
}

}  // namespace kel::binary
