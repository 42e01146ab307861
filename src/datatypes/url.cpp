// url!: the percent-encoding codec, mold, construction from a block and
// path access (see url.h).
#include "datatypes/url.h"

#include <string>
#include <vector>

#include "datatypes/binary_codecs.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/datatype.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/actions.h"
#include "runtime/stack.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "runtime/unicode.h"
#include "runtime/upcalls.h"

namespace kel::url {

namespace {

constexpr bool is_alphanumeric(uint32_t byte) {
  return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9');
}

constexpr bool in_url_set(uint32_t byte) {
  if (is_alphanumeric(byte)) return true;
  for (char c : std::string_view("!#$&'()*+,-./:=?@_~"))
    if (byte == static_cast<uint8_t>(c)) return true;
  return false;
}

constexpr bool in_unreserved_set(uint32_t byte) {
  return is_alphanumeric(byte) || byte == '-' || byte == '.' || byte == '_' || byte == '~';
}

struct ByteTable {
  bool allowed[128];
};

template <bool (*Member)(uint32_t)>
constexpr ByteTable make_table() {
  ByteTable table{};
  for (uint32_t b = 0; b < 128; ++b) table.allowed[b] = Member(b);
  return table;
}

constexpr ByteTable kUrlTable = make_table<in_url_set>();
constexpr ByteTable kUnreservedTable = make_table<in_unreserved_set>();

// The text from the index as code points (a copy, so that the source may
// be the target of what follows).
std::vector<uint32_t> code_points_of(const Cell* text) {
  std::vector<uint32_t> points;
  uint32_t length = string::rs_length(text);
  points.reserve(length);
  uint32_t start = string::index_of(text);
  for (uint32_t i = 0; i < length; ++i) points.push_back(string::rs_abs_at(text, start + i));
  return points;
}

void append_code_point(Cell* target, uint32_t code_point) {
  string::append_char(string::buffer_of(target), code_point);
}

// The escaped text of a string's UTF-8 bytes. For mold, parentheses are
// escaped too: the lexer ends a url! token at them, and a molded URL must
// load back whole.
std::string escaped(const Cell* source, int32_t mode, bool for_mold = false) {
  std::string utf8 = string::to_std_string(*source);
  std::string out;
  out.reserve(utf8.size());
  char piece[3];
  for (char c : utf8) {
    if (for_mold && (c == '(' || c == ')')) out += c == '(' ? "%28" : "%29";
    else out.append(piece, escape_byte(mode, static_cast<uint8_t>(c), piece));
  }
  return out;
}

bool block_like(const Cell* value) {
  return value->is(TYPE_BLOCK) || value->is(TYPE_PAREN) || value->is(TYPE_HASH);
}

// Appends a value's form to the string.
void append_form(Cell* target, const Cell& value) {
  Cell copy = value;
  actions::form(&copy, target, nullptr, 0x7FFFFFFF);
}

}  // namespace

bool url_byte_allowed(uint32_t byte) { return byte < 128 && kUrlTable.allowed[byte]; }
bool unreserved_byte_allowed(uint32_t byte) { return byte < 128 && kUnreservedTable.allowed[byte]; }

// --- Codec ---------------------------------------------------------------------------

Cell* push(const Cell& url) { return stack::push(url); }

bool decode_hex_pair(const uint8_t* text, uint32_t length, uint8_t* byte) {
  if (length < 3 || text[0] != '%') return false;
  int32_t high = binary::hex_digit_value(text[1]);
  int32_t low = binary::hex_digit_value(text[2]);
  if (high < 0 || low < 0) return false;
  *byte = static_cast<uint8_t>(high << 4 | low);
  return true;
}

uint32_t escape_byte(int32_t mode, uint8_t byte, char out[3]) {
  bool allowed = mode == kUnreservedMode ? unreserved_byte_allowed(byte) : url_byte_allowed(byte);
  if (allowed) {
    out[0] = static_cast<char>(byte);
    return 1;
  }
  constexpr char kHex[] = "0123456789ABCDEF";
  out[0] = '%';
  out[1] = kHex[byte >> 4];
  out[2] = kHex[byte & 15];
  return 3;
}

void dehex(const Cell* source, Cell* target) {
  std::vector<uint32_t> points = code_points_of(source);
  size_t n = points.size();
  // The byte of the escape at position i, or -1.
  auto escape_at = [&](size_t i) -> int32_t {
    if (i + 2 >= n || points[i] != '%') return -1;
    int32_t high = binary::hex_digit_value(points[i + 1]);
    int32_t low = binary::hex_digit_value(points[i + 2]);
    return high < 0 || low < 0 ? -1 : high << 4 | low;
  };
  size_t i = 0;
  while (i < n) {
    int32_t lead = escape_at(i);
    if (lead < 0) {
      append_code_point(target, points[i]);
      ++i;
      continue;
    }
    int32_t length = unicode::lead_size(static_cast<uint8_t>(lead));
    if (length == 0) {
      append_code_point(target, static_cast<uint32_t>(lead));
      i += 3;
      continue;
    }
    // The run of escapes the lead byte announces, as far as it goes.
    uint8_t bytes[4] = {static_cast<uint8_t>(lead)};
    int32_t gathered = 1;
    while (gathered < length) {
      int32_t next = escape_at(i + 3 * static_cast<size_t>(gathered));
      if (next < 0) break;
      bytes[gathered++] = static_cast<uint8_t>(next);
    }
    int32_t code_point =
        gathered == length ? character::decode_utf8_sequence(bytes, static_cast<uint32_t>(length)) : -1;
    if (code_point >= 0) {
      append_code_point(target, static_cast<uint32_t>(code_point));
    } else {
      // Not UTF-8 (cut short or malformed): every escaped byte stands for
      // itself.
      for (int32_t k = 0; k < gathered; ++k) append_code_point(target, bytes[k]);
    }
    i += 3 * static_cast<size_t>(gathered);
  }
}

void enhex(const Cell* source, Cell* target, int32_t mode) {
  std::string text = escaped(source, mode);
  string::concatenate_literal_part(target, text.data(), static_cast<uint32_t>(text.size()));
}

Cell* load(const uint8_t* bytes, uint32_t length) {
  Cell* raw = string::load_cstr(reinterpret_cast<const char*>(bytes), length, string::kEncodingUtf8);
  Cell* decoded = string::push_new(length);
  dehex(raw, decoded);
  decoded->set_type(TYPE_URL);
  *raw = *decoded;
  stack::pop(1);
  return raw;
}

// --- Action handlers ---------------------------------------------------------------

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell*, int32_t part, int32_t) {
  std::string text = escaped(value, kUrlMode, true);
  uint32_t written = static_cast<uint32_t>(text.size());
  if (part < 0) written = 0;
  else if (static_cast<uint32_t>(part) < written) written = static_cast<uint32_t>(part);
  string::concatenate_literal_part(buffer, text.data(), written);
  return part - static_cast<int32_t>(written);
}

Cell* to(Cell* proto, Cell* spec, TypeId type) {
  if (type != TYPE_URL || !block_like(spec)) return action_handler<Action::to>(TYPE_STRING)(proto, spec, type);
  SeriesBuffer* buffer = block::buffer_of(spec);
  uint32_t count = buffer->cell_count() > spec->data1 ? buffer->cell_count() - spec->data1 : 0;
  // A scheme without a host is no URL.
  if (count < 2) {
    Cell url_type = datatype::make(TYPE_URL);
    fire_bad_to_arg(&url_type, spec);
  }
  Cell* result = string::push_new(16);
  auto element = [&](uint32_t i) { return block::buffer_of(spec)->cells()[spec->data1 + i]; };
  append_form(result, element(0));
  string::concatenate_literal(result, "://");
  append_form(result, element(1));
  uint32_t i = 2;
  if (i < count && element(i).is(TYPE_INTEGER)) {
    string::concatenate_literal(result, ":");
    append_form(result, element(i));
    ++i;
  }
  for (; i < count; ++i) {
    Cell segment = element(i);
    string::concatenate_literal(result, segment.is(TYPE_ISSUE) ? "#" : "/");
    append_form(result, segment);
  }
  result->set_type(TYPE_URL);
  return stack::set_result(*result);
}

Cell* make(Cell* proto, Cell* spec, TypeId type) {
  if (type == TYPE_URL && block_like(spec)) return to(proto, spec, type);
  return action_handler<Action::make>(TYPE_STRING)(proto, spec, type);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool, bool, bool) {
  if (value != nullptr) fire(ErrorId::script_bad_path_set, path, element);
  Cell segment = *element;
  if (segment.is(TYPE_GET_WORD)) {
    segment = *word::get(&segment);
    stack::pop(1);
  }
  std::string text = actions::form_to_string(segment);
  uint32_t length = string::rs_length(parent);
  bool ends_with_slash = length > 0 && string::rs_abs_at(parent, string::index_of(parent) + length - 1) == '/';
  bool starts_with_slash = !text.empty() && text[0] == '/';
  Cell* result = string::push_new(length + static_cast<uint32_t>(text.size()) + 1);
  string::concatenate_part(result, parent, -1);
  std::string_view piece = text;
  if (ends_with_slash && starts_with_slash) piece.remove_prefix(1);
  else if (!ends_with_slash && !starts_with_slash) string::concatenate_literal(result, "/");
  string::append_utf8(result, piece);
  result->set_type(parent->type());
  return result;
}

void init() {
  DatatypeRecord record(TYPE_URL, TYPE_STRING, "url!");
  record.handle<Action::make>(make)
      .handle<Action::to>(to)
      .handle<Action::mold>(mold)
      .handle<Action::eval_path>(eval_path)
      .handle<Action::read>(upcalls::forward<&upcalls::Table::url_read>)
      .handle<Action::write>(upcalls::forward<&upcalls::Table::url_write>);
  record.inherit(string::kInheritedSeriesActions).inherit({Action::form, Action::compare});
  register_datatype(record);
}

}  // namespace kel::url
