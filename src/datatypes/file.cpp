// file!: mold and the conversions between file! values and the system's
// POSIX paths (see file.h).
#include "datatypes/file.h"

#include <string>

#include "datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/datatype_registry.h"
#include "runtime/platform.h"
#include "runtime/unicode.h"
#include "runtime/upcalls.h"

namespace kel::file {

Cell* push(const Cell& file) { return stack::push(file); }

Cell* load_cstr(const uint8_t* bytes, uint32_t length, int32_t encoding) {
  Cell* cell = string::load_cstr(reinterpret_cast<const char*>(bytes), length, encoding);
  cell->set_type(TYPE_FILE);
  return cell;
}

// --- Names that are not UTF-8 ---------------------------------------------------------------
//
// A system path is a string of bytes, and not every one is UTF-8. So that a
// folder holding such a name can still be listed, and the name read,
// renamed or deleted, each byte that is not part of a well-formed UTF-8
// sequence becomes the code point U+DC00 + byte (U+DC80-U+DCFF) in the
// file! value, and the way back writes such a code point as that single
// byte. The range is the one the UTF-8 decoder refuses as text, so well-
// formed names never hold it and the mapping round-trips exactly in both
// directions: valid names keep their text (a "%" included), and every name
// the system gives comes back to the same bytes. Mold writes these code
// points as ^(DCxx) escapes inside a quoted name, which load reads back.

namespace {

constexpr uint32_t kEscapedByteBase = 0xDC00;

bool is_escaped_byte(uint32_t code_point) { return code_point >= 0xDC80 && code_point <= 0xDCFF; }

// The code point of a well-formed sequence at bytes[at], and its length;
// 0 when the bytes there are not one. Overlong forms, code points above
// 0x10FFFF and the escape range itself are not well formed: written back
// they would give other bytes.
uint32_t well_formed_sequence(const uint8_t* bytes, uint32_t length, uint32_t at, uint32_t* code_point) {
  uint8_t lead = bytes[at];
  uint32_t size, value, smallest;
  if (lead < 0x80) {
    *code_point = lead;
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    size = 2, value = lead & 0x1F, smallest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    size = 3, value = lead & 0x0F, smallest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    size = 4, value = lead & 0x07, smallest = 0x10000;
  } else {
    return 0;
  }
  if (length - at < size) return 0;
  for (uint32_t k = 1; k < size; ++k) {
    uint8_t next = bytes[at + k];
    if ((next & 0xC0) != 0x80) return 0;
    value = (value << 6) | (next & 0x3F);
  }
  if (value < smallest || value > 0x10FFFF || (value >= 0xDC00 && value <= 0xDCFF)) return 0;
  *code_point = value;
  return size;
}

// A system path (bytes) as a new string of the type given, pushed.
Cell* push_path_text(const uint8_t* bytes, uint32_t length, TypeId type) {
  Cell* cell = string::push_new(length);
  cell->set_type(type);
  NodeId node = cell->data2;
  SeriesBuffer* buffer = memory::buffer_of(node);
  for (uint32_t at = 0; at < length;) {
    uint32_t code_point;
    uint32_t size = well_formed_sequence(bytes, length, at, &code_point);
    if (size == 0) {
      code_point = kEscapedByteBase + bytes[at];
      size = 1;
    }
    buffer = string::append_char(buffer, code_point);
    at += size;
  }
  return cell;
}

// The bytes of a string's text from its index, escaped bytes written back
// as themselves.
std::string path_bytes(const Cell& text) {
  std::string out;
  uint32_t length = string::rs_length(&text);
  uint32_t start = string::index_of(&text);
  out.reserve(length);
  uint8_t sequence[4];
  for (uint32_t i = 0; i < length; ++i) {
    uint32_t code_point = string::rs_abs_at(&text, start + i);
    if (is_escaped_byte(code_point)) {
      out += static_cast<char>(code_point - kEscapedByteBase);
      continue;
    }
    int32_t size = unicode::encode_char(code_point, sequence);
    out.append(reinterpret_cast<const char*>(sequence), static_cast<size_t>(size));
  }
  return out;
}

std::string current_dir_with_slash() {
  std::string directory = platform::get_current_dir();
  if (directory.empty() || directory.back() != '/') directory += '/';
  return directory;
}

}  // namespace

std::string to_os_path(const Cell& file, bool full) {
  std::string path = path_bytes(file);
  if (full && (path.empty() || path[0] != '/')) path = current_dir_with_slash() + path;
  return path;
}

void convert_path(const Cell& file, Cell* target, bool full) {
  if (full && (string::rs_length(&file) == 0 || string::rs_abs_at(&file, string::index_of(&file)) != '/')) {
    Cell directory = *get_current_dir();
    string::concatenate_part(target, &directory, -1);
    stack::pop(1);
  }
  string::concatenate_part(target, &file, -1);
}

Cell* get_current_dir() {
  std::string directory = current_dir_with_slash();
  return from_os_text(reinterpret_cast<const uint8_t*>(directory.data()), static_cast<uint32_t>(directory.size()));
}

Cell* from_os_path(const uint8_t* bytes, uint32_t length) { return push_path_text(bytes, length, TYPE_FILE); }

Cell* from_os_text(const uint8_t* bytes, uint32_t length) { return push_path_text(bytes, length, TYPE_STRING); }

bool needs_quotes(uint32_t code_point) {
  if (code_point <= 32 || is_escaped_byte(code_point)) return true;
  switch (code_point) {
    case '"': case '%': case ';': case '<': case '>': case '[': case '\\': case ']': case '^': case '`':
    case '{': case '|': case '}':
    // The lexer ends an unquoted file name at these too.
    case '(': case ')': case ':': case '@':
      return true;
    default: return false;
  }
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell*, int32_t part, int32_t) {
  string::concatenate_literal(buffer, "%");
  uint32_t length = string::rs_length(value);
  if (length == 0) {
    string::concatenate_literal(buffer, "\"\"");
    return part - 3;
  }
  if (part >= 0 && static_cast<uint32_t>(part) < length) length = static_cast<uint32_t>(part);
  uint32_t start = string::index_of(value);
  bool quoted = false;
  for (uint32_t i = 0; i < length && !quoted; ++i) quoted = needs_quotes(string::rs_abs_at(value, start + i));
  if (!quoted) {
    string::concatenate_part(buffer, value, static_cast<int32_t>(length));
    return part - static_cast<int32_t>(length) - 1;
  }
  // Inside the quotes the caret escapes keep a quote, a caret or a line
  // break from ending or changing the name when it is loaded back, and show
  // a byte of a name that is not UTF-8 as its code point.
  string::concatenate_literal(buffer, "\"");
  for (uint32_t i = 0; i < length; ++i) {
    uint32_t code_point = string::rs_abs_at(value, start + i);
    if (is_escaped_byte(code_point)) {
      std::string escape = "^(" + string::to_hex(static_cast<int32_t>(code_point), true) + ")";
      string::concatenate_literal(buffer, escape.c_str());
    } else {
      string::mold_char(buffer, code_point, false);
    }
  }
  string::concatenate_literal(buffer, "\"");
  return part - static_cast<int32_t>(length) - 1;
}

void init() {
  DatatypeRecord record(TYPE_FILE, TYPE_URL, "file!");
  record.handle<Action::mold>(mold);
  // The file actions hand the path to the file system layer (io), which
  // fills their entries in the registration table.
  record.handle<Action::read>(upcalls::forward<&upcalls::Table::file_read>);
  record.handle<Action::write>(upcalls::forward<&upcalls::Table::file_write>);
  record.handle<Action::query>(upcalls::forward<&upcalls::Table::file_query>);
  record.handle<Action::delete_>(upcalls::forward<&upcalls::Table::file_delete>);
  record.handle<Action::rename>(upcalls::forward<&upcalls::Table::file_rename>);
  record.inherit(string::kInheritedSeriesActions)
      .inherit({Action::make, Action::to, Action::form, Action::eval_path, Action::compare});
  register_datatype(record);
}

}  // namespace kel::file
