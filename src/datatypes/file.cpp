// file!: mold and the conversions between file! values and the system's
// POSIX paths (see file.h).
#include "datatypes/file.h"

#include <string>

#include "datatypes/string.h"
#include "evaluator/stack.h"
#include "io/file_system.h"
#include "runtime/datatype_registry.h"
#include "runtime/platform.h"

namespace kel::file {

Cell* push(const Cell& file) { return stack::push(file); }

Cell* load_cstr(const uint8_t* bytes, uint32_t length, int32_t encoding) {
  Cell* cell = string::load_cstr(reinterpret_cast<const char*>(bytes), length, encoding);
  cell->set_type(TYPE_FILE);
  return cell;
}

std::string to_os_path(const Cell& file, bool full) {
  std::string path = string::to_std_string(file);
  if (full && (path.empty() || path[0] != '/')) {
    std::string directory = platform::get_current_dir();
    if (directory.empty() || directory.back() != '/') directory += '/';
    path = directory + path;
  }
  return path;
}

void convert_path(const Cell& file, Cell* target, bool full) { string::append_utf8(target, to_os_path(file, full)); }

Cell* get_current_dir() {
  std::string directory = platform::get_current_dir();
  if (directory.empty() || directory.back() != '/') directory += '/';
  Cell* cell = string::push_new(static_cast<uint32_t>(directory.size()));
  string::append_utf8(cell, directory);
  return cell;
}

Cell* from_os_path(const uint8_t* bytes, uint32_t length) { return load_cstr(bytes, length, string::kEncodingUtf8); }

bool needs_quotes(uint32_t code_point) {
  if (code_point <= 32) return true;
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
  // break from ending or changing the name when it is loaded back.
  string::concatenate_literal(buffer, "\"");
  for (uint32_t i = 0; i < length; ++i) string::mold_char(buffer, string::rs_abs_at(value, start + i), false);
  string::concatenate_literal(buffer, "\"");
  return part - static_cast<int32_t>(length) - 1;
}

void init() {
  DatatypeRecord record(TYPE_FILE, TYPE_URL, "file!");
  record.handle<Action::mold>(mold);
  // The file actions hand the path to the file system layer.
  record.handle<Action::read>(file_system::read_action);
  record.handle<Action::write>(file_system::write_action);
  record.handle<Action::query>(file_system::query_action);
  record.handle<Action::delete_>(file_system::delete_action);
  record.handle<Action::rename>(file_system::rename_action);
  record.inherit(string::kInheritedSeriesActions)
      .inherit({Action::make, Action::to, Action::form, Action::eval_path, Action::compare});
  register_datatype(record);
}

}  // namespace kel::file
