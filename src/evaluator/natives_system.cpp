// System natives: thin entries into the services of the operating system
// and of the runtime: to-local-file, wait, checksum, set-env, get-env,
// list-env, now, browse and recycle.
//
// Text crosses into the operating system as UTF-8 in C++ strings, made
// before anything is asked of the system, so no raw pointer into a series
// buffer is held across a system call; the answers become new series only
// after the call has returned. Names and values that the system cannot
// carry faithfully (an embedded NUL, a variable name holding "=") are
// refused with an error instead of being cut short silently.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/date.h"
#include "datatypes/file.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/time.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime/checksum.h"
#include "evaluator/interpreter.h"
#include "evaluator/native_arguments.h"
#include "evaluator/natives.h"
#include "evaluator/natives_families.h"
#include "runtime/stack.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/platform.h"
#include "datatypes/runtime_words.h"

extern char** environ;

namespace kel::natives_system {

namespace {

using namespace native_arguments;

// Accepted argument types, for entries called with check_types.
Cell local_file_types;   // file! string!
Cell wait_types;         // number! time! block! none!
Cell checksum_data_types;  // binary! string! file!
Cell word_types;
Cell checksum_spec_types;  // any-string! binary! integer!
Cell env_name_types;       // any-string! any-word!
Cell env_value_types;      // string! none!
Cell browse_types;         // url! file!

// A new string! holding UTF-8 text, left as the frame's result.
void set_string_result(const std::string& utf8) {
  Cell* made = string::push_new(static_cast<uint32_t>(utf8.size()));
  string::append_utf8(made, utf8);
  stack::set_last(*made);
}

// --- to-local-file ---------------------------------------------------------------------

// Refinement: /full. Paths are POSIX paths in both notations, so only /full
// changes the text.
void to_local_file(bool check_types, const int32_t* refinements) {
  if (check_types) check(local_file_types, 0);
  Cell path = *argument(0);
  Cell* made = string::push_new(string::rs_length(&path));
  file::convert_path(path, made, used(refinements[0]));
  stack::set_last(*made);
}

// --- wait -------------------------------------------------------------------------------

// Refinement: /all, which changes nothing. A negative or NaN duration waits
// no time at all. A console interrupt wakes the wait to halt it; when
// nothing could take the halt yet, the rest of the time is slept.
void wait(bool check_types, const int32_t*) {
  if (check_types) check(wait_types, 0);
  Cell value = *argument(0);
  double seconds;
  switch (value.type()) {
    case TYPE_INTEGER: seconds = static_cast<double>(integer::get(value)); break;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: seconds = value.as_double(); break;
    default: fire(ErrorId::script_invalid_arg, &value);
  }
  if (seconds > 0) {
    double left = platform::sleep(seconds, &interpreter::halt_requested);
    if (left > 0) {
      interpreter::halt_point();
      platform::sleep(left);
    }
  }
  none::set_result();
}

// --- checksum ----------------------------------------------------------------------------

// The whole content of a file; a file that cannot be read raises access
// cannot-open with its name.
std::vector<uint8_t> read_whole_file(const Cell& file) {
  std::string path = file::to_os_path(file, false);
  Cell name = file;
  if (path.find('\0') != std::string::npos) fire(ErrorId::access_cannot_open, &name);
  int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) fire(ErrorId::access_cannot_open, &name);
  std::vector<uint8_t> content;
  struct stat status {};
  bool readable = ::fstat(descriptor, &status) == 0 && !S_ISDIR(status.st_mode);
  if (readable && status.st_size > 0) content.reserve(static_cast<size_t>(status.st_size));
  uint8_t chunk[65536];
  while (readable) {
    ssize_t n = ::read(descriptor, chunk, sizeof chunk);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      readable = false;
      break;
    }
    content.insert(content.end(), chunk, chunk + n);
  }
  ::close(descriptor);
  if (!readable) fire(ErrorId::access_cannot_open, &name);
  return content;
}

// Bytes to hash, owned by C++ so that no series buffer is read while the
// result is being made.
std::vector<uint8_t> bytes_of(const Cell& value) {
  if (value.is(TYPE_BINARY)) {
    Cell binary = value;
    const uint8_t* head = binary::rs_head(&binary);
    return std::vector<uint8_t>(head, head + binary::rs_length(&binary));
  }
  std::string utf8 = string::to_std_string(value);
  return std::vector<uint8_t>(utf8.begin(), utf8.end());
}

[[noreturn]] void reject_with(const Cell& spec) {
  Cell refinement = runtime_words::with_refinement;
  fire(ErrorId::script_invalid_refine_arg, &refinement, &spec);
}

// Refinement: /with spec. The method is settled (and every combination of
// method and spec checked) before the data is read, so a file is read
// only for a checksum that can be made.
void checksum(bool check_types, const int32_t* refinements) {
  int32_t with_at = refinements[0];
  if (check_types) {
    check(checksum_data_types, 0);
    check(word_types, 1);
    if (used(with_at)) check(checksum_spec_types, with_at);
  }
  Cell method_word = *argument(1);
  crypto::Method method = crypto::method_of(word::symbol_of(method_word));
  if (method == crypto::Method::none) fire(ErrorId::script_invalid_arg, &method_word);
  Cell spec = used(with_at) ? *argument(with_at) : none::value;
  bool has_spec = used(with_at);
  bool plain = method == crypto::Method::crc32 || method == crypto::Method::tcp || method == crypto::Method::adler32;
  if (plain && has_spec) reject_with(spec);
  if (method == crypto::Method::hash) {
    if (!has_spec) fire(ErrorId::script_missing_arg);
    if (!spec.is(TYPE_INTEGER)) reject_with(spec);
  } else if (has_spec && spec.is(TYPE_INTEGER)) {
    reject_with(spec);
  }

  Cell data = *argument(0);
  std::vector<uint8_t> bytes = data.is(TYPE_FILE) ? read_whole_file(data) : bytes_of(data);
  switch (method) {
    case crypto::Method::crc32:
      stack::set_last(integer::make(crypto::crc32(bytes.data(), bytes.size())));
      return;
    case crypto::Method::tcp:
      stack::set_last(integer::make(crypto::tcp_checksum(bytes.data(), bytes.size())));
      return;
    case crypto::Method::adler32:
      stack::set_last(integer::make(crypto::adler32(bytes.data(), bytes.size())));
      return;
    case crypto::Method::hash:
      stack::set_last(integer::make(crypto::hash_with_size(bytes.data(), bytes.size(), integer::get(spec))));
      return;
    default: break;
  }
  crypto::Digest digest;
  if (has_spec) {
    std::vector<uint8_t> key = bytes_of(spec);
    digest = crypto::hmac(bytes.data(), bytes.size(), key.data(), key.size(), method);
  } else {
    digest = crypto::digest(bytes.data(), bytes.size(), crypto::method_index(method));
  }
  stack::set_last(*binary::load_bytes(digest.bytes.data(), digest.size));
}

// --- Environment variables ------------------------------------------------------------------

// A variable's name: the text of a string or of a word.
std::string variable_name(const Cell& var) {
  if (word::is_any_word(var.type())) return std::string(symbol::name(word::symbol_of(var)));
  return string::to_std_string(var);
}

// Whether the system can hold a variable by this name.
bool valid_name(const std::string& name) {
  return !name.empty() && name.find('=') == std::string::npos && name.find('\0') == std::string::npos;
}

void set_env(bool check_types, const int32_t*) {
  if (check_types) {
    check(env_name_types, 0);
    check(env_value_types, 1);
  }
  Cell var = *argument(0);
  Cell value = *argument(1);
  std::string name = variable_name(var);
  if (!valid_name(name)) fire(ErrorId::script_invalid_arg, &var);
  bool done;
  if (value.is(TYPE_NONE)) {
    done = platform::set_env(name, nullptr);
  } else {
    std::string text = string::to_std_string(value);
    if (text.find('\0') != std::string::npos) fire(ErrorId::script_invalid_arg, &value);
    done = platform::set_env(name, &text);
  }
  if (!done) fire(ErrorId::script_invalid_arg, &var);
  stack::set_last(value);
}

void get_env(bool check_types, const int32_t*) {
  if (check_types) check(env_name_types, 0);
  std::string name = variable_name(*argument(0));
  std::optional<std::string> value;
  if (valid_name(name)) value = platform::get_env(name);
  if (value) set_string_result(*value);
  else none::set_result();
}

// Names are compared case-sensitively, as the system does: PATH and path
// are two variables.
void list_env(bool, const int32_t*) {
  std::vector<std::pair<std::string, std::string>> variables;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    std::string text(*entry);
    // A name never starts with its own separator, so the search for "="
    // starts after the first character.
    size_t separator = text.find('=', 1);
    if (separator == std::string::npos) variables.emplace_back(text, std::string());
    else variables.emplace_back(text.substr(0, separator), text.substr(separator + 1));
  }
  Cell* map = stack::push_slot();
  map::make_at(map, nullptr, static_cast<int32_t>(2 * variables.size() + 2));
  for (const auto& [name, value] : variables) {
    Cell* key = string::push_new(static_cast<uint32_t>(name.size()));
    string::append_utf8(key, name);
    Cell* text = string::push_new(static_cast<uint32_t>(value.size()));
    string::append_utf8(text, value);
    map::set(*map, *key, *text, true);
    stack::pop(2);
  }
  stack::set_last(*map);
}

// --- now ----------------------------------------------------------------------------------

// Refinements in spec order.
enum NowRefinement { kYear, kMonth, kDay, kTime, kZone, kDate, kWeekday, kYearday, kPrecise, kUtc, kNowCount };

void now(bool, const int32_t* refinements) {
  int32_t count = 0;
  for (int32_t i = 0; i < kNowCount; ++i) count += used(refinements[i]);
  if (count > 2 && !(used(refinements[kTime]) && used(refinements[kUtc]))) fire(ErrorId::script_bad_refines);

  platform::Moment moment = platform::now_moment(used(refinements[kUtc]), used(refinements[kPrecise]));
  uint32_t zone = date::zone_of(moment.date);
  Cell current = make_cell(TYPE_DATE, moment.date | date::kTimeFlag);
  current.set_double(date::subtract_zone(moment.time_of_day, zone));

  struct FieldOf {
    NowRefinement refinement;
    int32_t field;
  };
  static constexpr FieldOf kFields[] = {
      {kYear, date::kFieldYear}, {kMonth, date::kFieldMonth},     {kDay, date::kFieldDay},
      {kTime, date::kFieldTime}, {kZone, date::kFieldZone},       {kWeekday, date::kFieldWeekday},
      {kYearday, date::kFieldYearday}, {kDate, date::kFieldDate},
  };
  for (const FieldOf& f : kFields) {
    if (!used(refinements[f.refinement])) continue;
    stack::set_last(date::get_field(current, f.field));
    return;
  }
  stack::set_last(current);
}

// --- browse ---------------------------------------------------------------------------------

// The text goes to the desktop's default handler (xdg-open) as one
// argument of a shell that starts it in the background and returns at
// once: the text is never parsed by the shell, and the console does not
// wait for the handler.
void browse(bool check_types, const int32_t*) {
  if (check_types) check(browse_types, 0);
  Cell target = *argument(0);
  std::string text = target.is(TYPE_FILE) ? file::to_os_path(target, false) : string::to_std_string(target);
  if (text.find('\0') != std::string::npos) fire(ErrorId::script_invalid_arg, &target);
  const char* shell_arguments[] = {"sh", "-c", "xdg-open \"$1\" >/dev/null 2>&1 &", "sh", text.c_str(), nullptr};
  pid_t child = 0;
  int failed = ::posix_spawn(&child, "/bin/sh", nullptr, nullptr, const_cast<char* const*>(shell_arguments), environ);
  if (failed != 0) fire(ErrorId::access_cannot_open, &target);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  unset::set_result();
}

// --- recycle --------------------------------------------------------------------------------

// Refinements: /on, /off. A collection runs only while the collector is
// on, as at every other safe point; the answer is the figure stats gives.
void recycle(bool, const int32_t* refinements) {
  bool on = used(refinements[0]);
  bool off = used(refinements[1]);
  if (on && off) fire(ErrorId::script_bad_refines);
  if (on || off) {
    collector::set_enabled(on);
    unset::set_result();
    return;
  }
  collector::collect();
  const int32_t stats_refinements[2] = {-1, -1};
  natives::call(static_cast<uint32_t>(natives::Native::stats), false, stats_refinements);
}

}  // namespace

void init() {
  crypto::init();

  local_file_types = typeset_of({{TYPE_FILE, TYPE_STRING}});
  wait_types = typeset_of({{TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT, TYPE_TIME, TYPE_BLOCK, TYPE_NONE}});
  checksum_data_types = typeset_of({{TYPE_BINARY, TYPE_STRING, TYPE_FILE}});
  word_types = typeset_of({{TYPE_WORD}});
  checksum_spec_types = typeset_of({kAnyString, {TYPE_BINARY, TYPE_INTEGER}});
  env_name_types = typeset_of({kAnyString, kAnyWord});
  env_value_types = typeset_of({{TYPE_STRING, TYPE_NONE}});
  browse_types = typeset_of({{TYPE_URL, TYPE_FILE}});

  using natives::Native;
  natives::install(Native::to_local_file, to_local_file);
  natives::install(Native::wait, wait);
  natives::install(Native::checksum, checksum);
  natives::install(Native::set_env, set_env);
  natives::install(Native::get_env, get_env);
  natives::install(Native::list_env, list_env);
  natives::install(Native::now, now);
  natives::install(Native::browse, browse);
  natives::install(Native::recycle, recycle);
}

}  // namespace kel::natives_system
