// The boot's own routines (see system_internals.h).
//
// The build facts come from the generated build_info.h (KEL_GIT_* are empty
// when the build was not made from a git work tree; the git facts are then
// none). The hand-over (install) does not keep the system object: the
// hooks it installs look the object up through the global word `system` at
// each use, so that they follow the object the program sees, and fall back
// to the runtime's own data when the word holds something else.
#include "library/system_internals.h"

#include <ctime>
#include <optional>
#include <string>

#include "build_info.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/date.h"
#include "datatypes/file.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/source_evaluation.h"
#include "runtime/stack.h"
#include "io/lexer.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/platform.h"
#include "runtime/runtime.h"
#include "runtime/upcalls.h"

#ifndef KEL_GIT_COMMIT
#define KEL_GIT_COMMIT ""
#define KEL_GIT_BRANCH ""
#define KEL_GIT_TAG ""
#define KEL_GIT_AHEAD ""
#define KEL_GIT_TIME ""
#define KEL_GIT_MESSAGE ""
#endif
#ifndef KEL_BUILD_BASENAME
#define KEL_BUILD_BASENAME "kel"
#endif

namespace kel::system_internals {

namespace {
bool full_support = false;

inline Cell* arguments() { return stack::arguments(); }

std::string_view name_of(const Cell& word) { return symbol::name(symbol::resolve(word::symbol_of(word))); }

// The one value of a Kel text (a literal the lexer reads), pushed.
Cell literal(const std::string& text) {
  Cell* loaded = source_evaluation::load(text);
  SeriesBuffer* buffer = memory::buffer_of(loaded->data2);
  return buffer->cell_count() > loaded->data1 ? buffer->cells()[loaded->data1] : none::value;
}

// An error template: the one value of its Kel text, loaded as the boot
// image holds it ready (or lexed when it does not).
Cell template_value(std::string_view text) {
  Cell* loaded = upcalls::table.load_library_text(text);
  SeriesBuffer* buffer = memory::buffer_of(loaded->data2);
  return buffer->cell_count() > loaded->data1 ? buffer->cells()[loaded->data1] : none::value;
}

Cell text_value(const std::string& text) {
  return *string::load_cstr(text.data(), static_cast<uint32_t>(text.size()), string::kEncodingUtf8);
}

// Text the process was given as bytes: one that is not UTF-8 is escaped as
// file names are (file.h), never refused.
Cell process_text(const std::string& text) {
  return *file::from_os_text(reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()));
}

// A Unix time as a date! in the local zone, written as the lexer reads it.
Cell local_date(std::time_t seconds) {
  std::tm local{};
  ::localtime_r(&seconds, &local);
  static const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  long offset = local.tm_gmtoff / 60;
  char text[64];
  std::snprintf(text, sizeof text, "%d-%s-%d/%02d:%02d:%02d%c%ld:%02ld", local.tm_mday, kMonths[local.tm_mon],
                local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec, offset < 0 ? '-' : '+',
                (offset < 0 ? -offset : offset) / 60, (offset < 0 ? -offset : offset) % 60);
  return literal(text);
}

// The machine the executable was compiled for, as the target word names it.
const char* target_word() {
#if defined(__x86_64__)
  return "x86-64";
#elif defined(__i386__)
  return "IA-32";
#elif defined(__aarch64__)
  return "ARM64";
#elif defined(__arm__)
  return "ARM";
#else
  return "Unknown";
#endif
}

Cell word_value(const char* name) {
  Cell word;
  word::make_at(symbol::make(name), &word);
  return word;
}
}  // namespace

// --- Build facts ---------------------------------------------------------------------------

void build_value(uint32_t) {
  stack::Guard guard;
  std::string_view name = name_of(arguments()[0]);
  bool git = KEL_GIT_COMMIT[0] != '\0';
  Cell result = none::value;
  if (name == "version") {
    result = text_value(KEL_VERSION);
  } else if (name == "date") {
    result = literal(std::string(KEL_BUILD_STAMP) + "+0:00");
  } else if (name == "basename") {
    result = text_value(KEL_BUILD_BASENAME);
    result.set_type(TYPE_FILE);
  } else if (name == "target") {
    result = word_value(target_word());
  } else if (name == "debug?") {
#ifdef NDEBUG
    result = logic::make(false);
#else
    result = logic::make(true);
#endif
  } else if (!git) {
    result = none::value;
  } else if (name == "git-branch") {
    result = text_value(KEL_GIT_BRANCH);
  } else if (name == "git-tag") {
    result = literal(std::string("#") + (KEL_GIT_TAG[0] ? KEL_GIT_TAG : "v" KEL_VERSION));
  } else if (name == "git-ahead") {
    result = integer::make(static_cast<int32_t>(std::strtol(KEL_GIT_AHEAD, nullptr, 10)));
  } else if (name == "git-date") {
    result = local_date(static_cast<std::time_t>(std::strtoll(KEL_GIT_TIME, nullptr, 10)));
  } else if (name == "git-commit") {
    result = literal(std::string("#") + KEL_GIT_COMMIT);
  } else if (name == "git-message") {
    result = text_value(KEL_GIT_MESSAGE);
  }
  stack::set_last(result);
}

// --- The global context as an object ----------------------------------------------------------

// Class id -1 and no handlers; the object becomes the global context's
// owner cell, so `self` read at the top level is this object.
void words_object(uint32_t) {
  Cell made = *object::push_for_context(context::global(), 0xFFFFFFFF);
  stack::set_last(made);
}

// --- The error catalog --------------------------------------------------------------------------

// One object per category, in table order: code, type, then each id of the
// category with its template read from the table's Kel source.
void error_catalog(uint32_t) {
  stack::Guard guard;
  Cell* errors = object::push_new(kErrorCategoryCount, object::kStartUpClass);
  for (int c = 0; c < kErrorCategoryCount; ++c) {
    stack::Guard one;
    auto category = static_cast<ErrorCategory>(c);
    const ErrorCategoryInfo& info = category_info(category);
    uint32_t ids = 0;
    for (int i = 0; i < kErrorIdCount; ++i)
      if (error_info(static_cast<ErrorId>(i)).category == category) ++ids;
    Cell* object = object::push_new(2 + ids, object::kStartUpClass);
    NodeId context = object::context_of(*object);
    context::put_value(context, symbol::make("code"), integer::make(info.code));
    context::put_value(context, symbol::make("type"), text_value(info.title));
    for (int i = 0; i < kErrorIdCount; ++i) {
      const ErrorInfo& error = error_info(static_cast<ErrorId>(i));
      if (error.category != category) continue;
      stack::Guard template_guard;
      context::put_value(context, symbol::make(error.word), template_value(error.template_source));
    }
    context::put_value(object::context_of(*errors), symbol::make(info.word), *object);
  }
  stack::set_last(*errors);
}

// --- Process facts -------------------------------------------------------------------------------

// The arguments from the one at `from` on (0: the executable's name),
// joined with single spaces; one that holds a blank, or is empty, is
// written between double quotes. The text is for reading only: a double
// quote inside an argument cannot be told from one around it, so the
// arguments themselves come from argument-list.
namespace {
std::string command_line_text(int first) {
  const runtime::SystemRecord& record = runtime::system();
  if (first < 0) first = 0;
  std::string text;
  for (int i = first; i < record.argc && record.argv != nullptr && record.argv[i] != nullptr; ++i) {
    std::string argument = record.argv[i];
    if (i > first) text += ' ';
    bool quoted = argument.empty() || argument.find_first_of(" \t") != std::string::npos;
    if (quoted) text += '"';
    text += argument;
    if (quoted) text += '"';
  }
  return text;
}
}  // namespace

void command_line(uint32_t) {
  stack::Guard guard;
  std::string text = command_line_text(integer::get(arguments()[0]));
  stack::set_last(runtime::system().argc > 0 ? process_text(text) : none::value);
}

// The process's arguments one for one, each a string!, the executable's
// name first.
void argument_list(uint32_t) {
  stack::Guard guard;
  const runtime::SystemRecord& record = runtime::system();
  Cell* block = block::push_only(record.argc > 0 ? record.argc : 1);
  for (int i = 0; i < record.argc && record.argv != nullptr && record.argv[i] != nullptr; ++i) {
    stack::Guard item_guard;
    Cell argument = process_text(record.argv[i]);
    block::rs_append(block, argument);
  }
  stack::set_last(*block);
}

void environment_variable(uint32_t) {
  stack::Guard guard;
  std::optional<std::string> value = platform::get_env(string::to_std_string(arguments()[0]));
  stack::set_last(value ? text_value(*value) : none::value);
}

// Everything is interpreted until the library carries compiled code: any
// frame opened by the interpreter below this call answers true.
void interpreted(uint32_t) { stack::set_last(logic::make(stack::opened_by_interpreter(stack::current_frame(), false))); }

void float_option(uint32_t) {
  std::string_view name = name_of(arguments()[0]);
  bool on = logic::value_true(arguments()[1], false, nullptr);
  if (name == "pretty?") float_type::set_pretty(on);
  else if (name == "full?") full_support = on;
  stack::set_last(arguments()[1]);
}

bool float_full_support() { return full_support; }

void collector_active(uint32_t) { stack::set_last(logic::make(collector::enabled())); }
void collector_series_cycles(uint32_t) {
  stack::set_last(integer::make(static_cast<int32_t>(collector::cycle_count())));
}
// Node frames are swept in the same cycles as series frames.
void collector_node_cycles(uint32_t) {
  stack::set_last(integer::make(static_cast<int32_t>(collector::cycle_count())));
}

// --- Hand-over ------------------------------------------------------------------------------------

namespace {
uint32_t canonical(const char* name) { return symbol::resolve(symbol::make(name)); }

struct Symbols {
  uint32_t system, standard, error, catalog, errors, locale, months, state, stack_trace;
  uint32_t categories[kErrorCategoryCount];
};
Symbols symbols;

// The value at a path of object fields from the global word `system`, or
// none where the path leaves the objects.
Cell system_member(std::initializer_list<uint32_t> path) {
  Cell* slot = context::global_slot(symbols.system);
  if (slot == nullptr) return none::value;
  Cell current = *slot;
  for (uint32_t symbol : path) {
    if (!object::is_object_kind(current.type())) return none::value;
    current = *object::find_field(object::context_of(current), symbol);
  }
  return current;
}

NodeId standard_error() {
  Cell prototype = system_member({symbols.standard, symbols.error});
  return object::is_object_kind(prototype.type()) ? object::context_of(prototype) : 0;
}

Cell catalog_category(ErrorCategory category) {
  return system_member({symbols.catalog, symbols.errors, symbols.categories[static_cast<int>(category)]});
}

Cell locale_months() { return system_member({symbols.locale, symbols.months}); }

Cell stack_trace() { return system_member({symbols.state, symbols.stack_trace}); }
}  // namespace

// What install hands over, from the system object: the same for the
// routine and for a start from the boot image's heap, which holds the
// object install was called with but none of the C++ state it set.
void hand_over(const Cell& system) {
  symbols.system = canonical("system");
  symbols.standard = canonical("standard");
  symbols.error = canonical("error");
  symbols.catalog = canonical("catalog");
  symbols.errors = canonical("errors");
  symbols.locale = canonical("locale");
  symbols.months = canonical("months");
  symbols.state = canonical("state");
  symbols.stack_trace = canonical("stack-trace");
  for (int c = 0; c < kErrorCategoryCount; ++c)
    symbols.categories[c] = canonical(category_info(static_cast<ErrorCategory>(c)).word);
  error_value::SystemParts parts;
  parts.prototype = standard_error;
  parts.category = catalog_category;
  parts.trace_depth = stack_trace;
  error_value::set_system_parts(parts);
  upcalls::table.month_names = locale_months;
  Cell lexer_object = *object::find_field(object::context_of(system), canonical("lexer"));
  if (object::is_object_kind(lexer_object.type())) {
    Cell states = *object::find_field(object::context_of(lexer_object), canonical("exit-states"));
    if (states.is(TYPE_BLOCK)) lexer::set_exit_states(states);
  }
}

void install(uint32_t) {
  Cell system = arguments()[0];
  hand_over(system);
  stack::set_last(system);
}

void reinstall() {
  Cell* system = context::global_slot(canonical("system"));
  if (system != nullptr && object::is_object_kind(system->type())) hand_over(*system);
}

namespace {
Cell field_of(const Cell& object, const char* name) {
  if (!object::is_object_kind(object.type())) return none::value;
  return *object::find_field(object::context_of(object), canonical(name));
}

void store_quietly(const Cell& object, const char* name, const Cell& value) {
  if (object::is_object_kind(object.type())) object::store_field_named(object, canonical(name), value);
}
}  // namespace

void refresh_process_facts() {
  stack::Guard guard;
  Cell* slot = context::global_slot(canonical("system"));
  if (slot == nullptr) return;
  Cell system = *slot;
  Cell options = field_of(system, "options");
  // path: get-current-dir, as the routine makes it.
  std::string path = platform::get_current_dir();
  if (path.empty() || path.back() != '/') path += '/';
  store_quietly(options, "path",
                *file::from_os_path(reinterpret_cast<const uint8_t*>(path.data()), static_cast<uint32_t>(path.size())));
  // cache: the home folder's .kel folder (/tmp's without a home).
  std::optional<std::string> home = platform::get_env("HOME");
  Cell cache = text_value((home ? *home : std::string("/tmp")) + "/.kel/");
  cache.set_type(TYPE_FILE);
  store_quietly(options, "cache", cache);
  // The command line: system/script/args as the process gives it, then
  // extract-boot-args splits it into system/options/boot and args.
  const runtime::SystemRecord& record = runtime::system();
  store_quietly(field_of(system, "script"), "args", record.argc > 0 ? process_text(command_line_text(0)) : none::value);
  store_quietly(options, "boot", none::value);
  store_quietly(options, "args", none::value);
  Cell* extract = context::global_slot(canonical("extract-boot-args"));
  if (extract != nullptr && extract->is(TYPE_FUNCTION)) {
    Cell function = *extract;
    interpreter::call_value(function, nullptr, 0);
  }
  // The commit's date in this process's time zone.
  Cell git = field_of(field_of(system, "build"), "git");
  if (object::is_object_kind(git.type()) && KEL_GIT_COMMIT[0] != '\0')
    store_quietly(git, "date", local_date(static_cast<std::time_t>(std::strtoll(KEL_GIT_TIME, nullptr, 10))));
}

}  // namespace kel::system_internals
