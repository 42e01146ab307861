// Taking the command line's script (see script_run.h).
//
// The work follows the console's read-argument step by step: the argument
// walk over system/options/args (options before the script are stepped
// over, "--catch" is taken out, "--" ends the options), the cut of the raw
// text in system/script/args, the read of the script through the file
// system layer, and the change of folder through system/options/path
// (whose change handler moves the process). Texts are searched as UTF-8
// bytes: every delimiter looked for is ASCII, so no byte of a longer
// character can match one.
#include "boot/script_run.h"

#include <sys/stat.h>

#include <optional>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/logic.h"
#include "datatypes/error.h"
#include "datatypes/file.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/actions.h"
#include "runtime/stack.h"
#include "io/file_system.h"
#include "runtime/errors.h"
#include "runtime/output_hooks.h"
#include "runtime/unicode.h"

namespace kel::boot {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

uint32_t canonical(const char* name) { return symbol::resolve(symbol::make(name)); }

// A field of an object by name (none when the value is no object or has no
// such field).
Cell field(const Cell& object, const char* name) {
  if (!object::is_object_kind(object.type())) return make_cell(TYPE_NONE);
  return *object::find_field(object::context_of(object), canonical(name));
}

// Sets a field as a set-path would: the object's change handler hears of it.
void set_field(const Cell& object, const char* name, const Cell& value) {
  if (!object::is_object_kind(object.type())) return;
  int32_t index = object::find_field_index(object::context_of(object), canonical(name));
  if (index < 0) return;
  Cell word = *object::word_at(object, static_cast<uint32_t>(index));
  object::set_field(object, static_cast<uint32_t>(index), word, value);
}

Cell system_object() {
  Cell* slot = context::global_slot(canonical("system"));
  return slot ? *slot : make_cell(TYPE_NONE);
}

void print_line(const std::string& text) { output_hooks::print_text(text, true); }

// A new file! of a Kel path, pushed.
Cell* push_file(const std::string& path) {
  return file::from_os_path(reinterpret_cast<const uint8_t*>(path.data()), static_cast<uint32_t>(path.size()));
}

}  // namespace

// to-kel-file: separators become "/" (a run of them one), a drive colon
// becomes a leading segment; a second colon, or one after a separator,
// ends the conversion there.
std::string to_kel_file(const std::string& path) {
  std::string out;
  bool colon = false, separator = false;
  for (size_t i = 0; i < path.size(); ++i) {
    char c = path[i];
    if (c == ':') {
      if (colon || separator) return out;
      colon = true;
      if (i + 1 < path.size() && (path[i + 1] == '\\' || path[i + 1] == '/')) ++i;
      out += '/';
    } else if (c == '\\' || c == '/') {
      if (separator) continue;
      out += '/';
      separator = true;
    } else {
      out += c;
      separator = false;
    }
  }
  if (colon) out.insert(out.begin(), '/');
  return out;
}

namespace {

// The folder part of a path as split-path gives it: up to the last "/"
// that more text follows, %./ when there is none.
std::string folder_of(const std::string& path) {
  if (path == "/" || path == "." || path == ".." || path == "./" || path == "../")
    return path.back() == '/' ? path : path + "/";
  size_t end = path.size();
  if (end > 0 && path[end - 1] == '/') --end;
  size_t slash = path.rfind('/', end == 0 ? 0 : end - 1);
  if (slash == std::string::npos || end == 0) return "./";
  return path.substr(0, slash + 1);
}

// An absolute folder without "." and ".." segments, ending with "/".
std::string cleaned_folder(const std::string& absolute) {
  std::vector<std::string> segments;
  size_t start = 0;
  while (start <= absolute.size()) {
    size_t slash = absolute.find('/', start);
    if (slash == std::string::npos) slash = absolute.size();
    std::string segment = absolute.substr(start, slash - start);
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
    start = slash + 1;
  }
  std::string out = "/";
  for (const std::string& segment : segments) out += segment + "/";
  return out;
}

// change-dir: the folder made absolute against system/options/path; one
// that does not exist is refused with access cannot-open; otherwise
// system/options/path takes it, and its handler moves the process.
void change_dir(const Cell& options, const std::string& folder) {
  stack::Guard guard;
  std::string absolute = folder;
  if (absolute.empty() || absolute[0] != '/') {
    Cell current = field(options, "path");
    std::string base = current.is(TYPE_FILE) ? file::to_os_path(current, false) : "/";
    if (base.empty() || base.back() != '/') base += '/';
    absolute = base + folder;
  }
  std::string target = cleaned_folder(absolute);
  struct stat status;
  if (::stat(target.c_str(), &status) != 0) {
    Cell given = *push_file(folder);
    fire(ErrorId::access_cannot_open, &given);
  }
  Cell path = *push_file(target);
  set_field(options, "path", path);
}

// Removes count cells of a block from a position (the block's own index
// counted).
void remove_cells(const Cell& block, uint32_t from, uint32_t count) {
  SeriesBuffer* buffer = memory::buffer_of(block.data2);
  uint32_t length = buffer->cell_count();
  if (from >= length) return;
  if (from + count > length) count = length - from;
  Cell* cells = buffer->cells();
  for (uint32_t i = from; i + count < length; ++i) cells[i] = cells[i + count];
  Cell whole = block::make_value(block.data2, 0);
  block::rs_set_tail(&whole, length - count);
}

}  // namespace

// The leading switches are "--..." or "\"--...\"", up to a bare "--"; the
// script's name is quoted stretches and unquoted non-blank characters.
size_t script_arguments_offset(const std::string& text) {
  size_t length = text.size();
  auto skip_blanks = [&](size_t p) {
    while (p < length && is_blank(text[p])) ++p;
    return p;
  };
  size_t p = skip_blanks(0);
  for (;;) {
    size_t s, e;
    if (text.compare(p, 3, "\"--") == 0) {
      s = p + 3;
      size_t quote = text.find('"', s);
      e = quote == std::string::npos ? length : quote;
      p = quote == std::string::npos ? length : skip_blanks(quote + 1);
    } else if (text.compare(p, 2, "--") == 0) {
      s = p + 2;
      e = s;
      while (e < length && !is_blank(text[e])) ++e;
      p = skip_blanks(e);
    } else {
      break;
    }
    if (s == e) break;
  }
  while (p < length && !is_blank(text[p])) {
    if (text[p] == '"') {
      size_t quote = text.find('"', p + 1);
      p = quote == std::string::npos ? length : quote + 1;
    } else {
      ++p;
    }
  }
  return skip_blanks(p);
}

namespace {

// Cuts the raw command text in place so that it keeps the script's own
// arguments.
void cut_raw_arguments(const Cell& script) {
  Cell raw = field(script, "args");
  if (!raw.is(TYPE_STRING)) return;
  std::string text = string::to_std_string(raw);
  size_t offset = script_arguments_offset(text);
  auto bytes = reinterpret_cast<const uint8_t*>(text.data());
  int32_t characters = unicode::count_chars(bytes, bytes + offset);
  string::remove_part(&raw, 0, static_cast<uint32_t>(characters));
}

}  // namespace

Cell* read_argument() {
  Cell* result = stack::push_slot();
  *result = make_cell(TYPE_NONE);
  stack::Guard guard;
  Cell system = system_object();
  Cell options = field(system, "options");
  Cell script = field(system, "script");
  if (!field(script, "args").is(TYPE_STRING)) return result;
  Cell args = field(options, "args");
  if (!args.is(TYPE_BLOCK)) return result;
  stack::push(args);

  // The options before the script: "--catch" is taken out (it keeps the
  // console running after the script), every other "--..." is stepped
  // over, and an argument after "--" is the script whatever it reads.
  uint32_t at = args.data1;
  for (;;) {
    SeriesBuffer* buffer = memory::buffer_of(args.data2);
    if (at >= buffer->cell_count()) return result;
    Cell item = buffer->cells()[at];
    std::string text = string::is_string_like(item.type()) ? string::to_std_string(item) : "";
    bool after_end_of_options =
        at > args.data1 && string::to_std_string(buffer->cells()[at - 1]) == "--";
    if (text.rfind("--", 0) != 0 || after_end_of_options) break;
    if (text == "--catch") {
      remove_cells(args, at, 1);
      set_field(field(system, "console"), "catch?", logic::make(true));
    } else {
      ++at;
    }
  }

  std::string name = to_kel_file(file::to_os_path(memory::buffer_of(args.data2)->cells()[at], false));
  Cell file = *push_file(name);
  std::optional<std::vector<uint8_t>> source = file_system::read_bytes(file::to_os_path(file, false), -1, -1);
  if (source) {
    set_field(options, "script", file);
    remove_cells(args, args.data1, at + 1 - args.data1);
    cut_raw_arguments(script);
    *result = *file_system::push_content(*source, false, false);
  } else {
    Cell error = error_value::create(ErrorId::access_cannot_open, &file, nullptr, nullptr);
    stack::push(error);
    Cell where;
    word::make_at(symbol::make("read"), &where);
    error_value::set_field(error, error_value::kWhere, where);
    print_line(actions::form_to_string(error));
  }
  // The script's folder becomes the current one; after a failed read only
  // when it exists (the read's error already told what went wrong).
  std::string folder = folder_of(name);
  if (folder != "./" && (source || file_system::file_exists(file::to_os_path(*push_file(folder), false))))
    change_dir(options, folder);
  return result;
}

void script_argument_routine(uint32_t) {
  Cell text = *read_argument();
  stack::set_last(text);
}

}  // namespace kel::boot
