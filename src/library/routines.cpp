// The routine table and the library's routines (see routines.h).
//
// The table is built once by init(): the fixed rows of the library's
// routines, then one row per type test, then the boot's own rows
// (system_internals.h). A routine! value keeps its row's index in info cell
// 2 and the datatype id of its result in info cell 4 (function.h); the
// spec block and the description body are made from the row's texts, so
// `spec-of` and `body-of` show what the row says.
//
// Entries run inside the frame the interpreter opened for the call: their
// arguments are frame cells already checked against the interface, and the
// first of them receives the result. None of them evaluates Kel code, so
// none can leave a pending exit behind.
#include "library/routines.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/file.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime/actions.h"
#include "evaluator/source_evaluation.h"
#include "evaluator/natives_families.h"
#include "runtime/stack.h"
#include "evaluator/interpreter.h"
#include "evaluator/trace.h"
#include "io/file_system.h"
#include "library/clipboard_routines.h"
#include "library/json_codec.h"
#include "library/image_routines.h"
#include "library/kelbin_codec.h"
#include "library/system_internals.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/output.h"
#include "runtime/platform.h"
#include "runtime/runtime.h"
#include "datatypes/runtime_words.h"
#include "datatypes/argument_checks.h"
#include "runtime/unicode.h"
#include "runtime/upcalls.h"
#include "library/compiled.h"

namespace kel::routines {

namespace {

// kGlobal rows are bound to global words, kInternal rows to the object of
// `system-internals` (the boot's, while it builds the system object),
// kLibraryInternal rows to the object of `library-internals` (the library
// sources' own, taken into their contexts while they load).
// kLayer rows are the layers' above (add_layer_rows): bound by their holder.
enum class Scope : uint8_t { kGlobal, kInternal, kLibraryInternal, kLayer };

struct Row {
  const char* word;
  const char* interface;    // Kel source of the interface block's contents
  const char* description;  // the body: one line saying what the C++ code does
  Entry entry;
  uint32_t parameter;
  int32_t return_type;      // datatype id, or -1 when the interface declares none
  Scope scope;
  const char* holder = nullptr;  // kLayer rows: the word of the holding object, or nullptr
};

std::vector<Row> table;
std::deque<std::string> made_texts;  // the texts of generated rows, kept for their lifetime

const char* keep_text(std::string text) { return made_texts.emplace_back(std::move(text)).c_str(); }

inline Cell* arguments() { return stack::arguments(); }

// The argument-type error of a routine: the call's word, the datatype
// named and the argument's word.
[[noreturn]] void argument_type_error(TypeId type, int index) {
  Cell call = error_value::call_word();
  Cell datatype = datatype::make(type);
  Cell argument = error_value::call_argument_word(index);
  fire(ErrorId::script_expect_arg, &call, &datatype, &argument);
}

// --- Quitting, quiet setters, shifts ---------------------------------------------------

// Ends the process at once: output is flushed, the runtime's heap is left
// to the operating system.
void quit_return(uint32_t) { runtime::end_process(integer::get(arguments()[0])); }

void set_quiet(uint32_t) {
  Cell* frame = arguments();
  if (!frame[0].is(TYPE_WORD)) argument_type_error(frame[0].type(), 0);
  Cell word = frame[0];
  Cell value = frame[1];
  context::set_in(&word, value, word::context_of(word), false);
  stack::set_last(value);
}

bool is_block_like(TypeId type) {
  return type == TYPE_BLOCK || type == TYPE_PAREN || type == TYPE_HASH || type == TYPE_PATH ||
         type == TYPE_LIT_PATH || type == TYPE_SET_PATH || type == TYPE_GET_PATH;
}

// Writes over the cell at the series' position; an owner is not told.
void set_slot_quiet(uint32_t) {
  Cell* frame = arguments();
  if (!is_block_like(frame[0].type())) argument_type_error(TYPE_BLOCK, 0);
  Cell series = frame[0];
  if (series.data1 < memory::buffer_of(series.data2)->cell_count())
    memory::buffer_of(series.data2)->cells()[series.data1] = frame[1];
  unset::set_result();
}

// The shift native's rules: a negative count is 0; 32 bits or more empty
// the word (an arithmetic right shift fills it with the sign).
enum Shift : uint32_t { kRight, kLeft, kLogical };
void shift(uint32_t kind) {
  Cell* frame = arguments();
  int32_t data = integer::get(frame[0]);
  int32_t bits = integer::get(frame[1]);
  if (bits < 0) bits = 0;
  int32_t result;
  switch (kind) {
    case kLeft:
      result = bits >= 32 ? 0 : static_cast<int32_t>(static_cast<uint32_t>(data) << bits);
      break;
    case kLogical:
      result = bits >= 32 ? 0 : static_cast<int32_t>(static_cast<uint32_t>(data) >> bits);
      break;
    default:
      result = bits >= 32 ? (data < 0 ? -1 : 0) : data >> bits;
      break;
  }
  stack::set_last(integer::make(result));
}

void last_line_feed(uint32_t) { stack::set_last(logic::make(natives_eval::last_line_feed())); }

// --- Files --------------------------------------------------------------------------------

void get_current_dir(uint32_t) {
  std::string path = platform::get_current_dir();
  if (path.empty() || path.back() != '/') path += '/';
  Cell made = *file::from_os_path(reinterpret_cast<const uint8_t*>(path.data()),
                                  static_cast<uint32_t>(path.size()));
  stack::set_last(made);
}

void set_current_dir(uint32_t) {
  Cell path = arguments()[0];
  if (!platform::set_current_dir(file::to_os_path(path, false))) fire(ErrorId::access_cannot_open, &path);
  unset::set_result();
}

void create_dir(uint32_t) {
  Cell path = arguments()[0];
  if (!file_system::make_dir(file::to_os_path(path, false))) fire(ErrorId::access_no_create, &path);
  unset::set_result();
}

void exists(uint32_t) {
  stack::set_last(logic::make(file_system::file_exists(file::to_os_path(arguments()[0], false))));
}

// --- Operating system ----------------------------------------------------------------------

// The architecture word of a machine name as uname reports it.
// The object [name arch version build]: the kernel's name, the machine's
// architecture word, the kernel release as a tuple and the number of its
// build ("#1 SMP ..." gives 1).
void os_info(uint32_t) {
  struct utsname facts {};
  ::uname(&facts);
  Cell* object = object::push_new(4, object::kStartUpClass);
  NodeId context = object::context_of(*object);
  string::load_cstr(facts.sysname, static_cast<uint32_t>(std::strlen(facts.sysname)), string::kEncodingUtf8);
  context::put_value(context, symbol::make("name"), *stack::get_top());
  Cell arch;
  word::make_at(symbol::make(architecture_word(facts.machine)), &arch);
  context::put_value(context, symbol::make("arch"), arch);
  int32_t numbers[3];
  release_numbers(facts.release, numbers);
  context::put_value(context, symbol::make("version"), *tuple::from_values(3, numbers));
  const char* build = std::strchr(facts.version, '#');
  int32_t build_number = 0;
  if (build != nullptr)
    for (++build; *build >= '0' && *build <= '9'; ++build) build_number = build_number * 10 + (*build - '0');
  context::put_value(context, symbol::make("build"), integer::make(build_number));
  stack::set_last(*object);
}

// --- Tuples -----------------------------------------------------------------------------------

// The first negative argument (in spec order) is refused with its value.
void refuse_negative(uint32_t count) {
  for (uint32_t i = 0; i < count; ++i)
    if (integer::get(arguments()[i]) < 0) fire_with_integer(ErrorId::script_invalid_arg, integer::get(arguments()[i]));
}

void as_color(uint32_t) {
  refuse_negative(3);
  Cell* frame = arguments();
  Cell made = make_cell(TYPE_UNSET);
  tuple::set_rgba(&made, integer::get(frame[0]), integer::get(frame[1]), integer::get(frame[2]), -1);
  stack::set_last(made);
}

// The bytes of one 32-bit word d.c.b.a, lowest byte first; a value above
// 255 spills into the next byte.
void as_ipv4(uint32_t) {
  refuse_negative(4);
  Cell* frame = arguments();
  uint32_t word = static_cast<uint32_t>(integer::get(frame[3])) << 24 |
                  static_cast<uint32_t>(integer::get(frame[2])) << 16 |
                  static_cast<uint32_t>(integer::get(frame[1])) << 8 | static_cast<uint32_t>(integer::get(frame[0]));
  Cell made = *tuple::push(4, word, 0, 0);
  stack::set_last(made);
}

// --- Text -------------------------------------------------------------------------------------

// UTF-8 sequences in start's buffer from its index to pos's index.
void count_chars(uint32_t) {
  Cell* frame = arguments();
  Cell start = frame[0];
  uint32_t end = frame[1].data1;
  SeriesBuffer* buffer = memory::buffer_of(start.data2);
  uint32_t size = buffer->used();
  if (end > size) end = size;
  int32_t count = 0;
  if (start.data1 < end) count = unicode::count_chars(buffer->head_ptr() + start.data1, buffer->head_ptr() + end);
  stack::set_last(integer::make(count));
}

// --- The evaluation stack ----------------------------------------------------------------------

void stack_size(uint32_t) { stack::set_last(integer::make(static_cast<int32_t>(stack::top - stack::bottom))); }

void pick_stack(uint32_t) {
  int32_t index = integer::get(arguments()[0]);
  int32_t size = static_cast<int32_t>(stack::top - stack::bottom);
  stack::set_last(index > 0 && index < size ? stack::bottom[index - 1] : none::value);
}

void frame_index(uint32_t) {
  stack::set_last(integer::make(static_cast<int32_t>(stack::arguments() - stack::bottom)));
}

// The calls in progress, innermost first: the word of each named frame (in
// the context of the function it runs, else the global one) and the index
// of its first cell.
void collect_calls(uint32_t) {
  Cell block = arguments()[0];
  for (stack::Frame* frame = stack::frame_top - 1; frame > stack::frame_bottom; --frame) {
    uint32_t symbol = frame->symbol();
    if (symbol == 0 || symbol == runtime_words::angled_body || symbol == runtime_words::angled_anon) continue;
    NodeId context = frame->function_context ? frame->function_context : context::global();
    int32_t index = context::find_word(context, symbol, true);
    Cell word = index >= 0 ? word::make_value(symbol, context, index) : *context::add_global_word(symbol);
    block::rs_append(&block, word);
    block::rs_append(&block, integer::make(static_cast<int32_t>(frame->saved_arguments - stack::bottom)));
  }
  unset::set_result();
}

// Both read and set the flag that the user code around the library
// function's call sees (library code itself always runs untraced).
void tracing(uint32_t) { stack::set_last(logic::make(interpreter::user_tracing())); }

// On only while a tracer is installed: outside a traced evaluation there is
// nothing to report to.
void set_tracing(uint32_t) {
  interpreter::set_user_tracing(logic::get(arguments()[0]) != 0 && trace::installed());
  unset::set_result();
}

// --- Standard output ---------------------------------------------------------------------------------

// Bytes go to descriptor 1 as they are, after what the console layer still
// buffers; a closed pipe ends the process quietly (output.h).
void write_bytes(const char* bytes, size_t count) {
  output::flush();
  output::write_standard_output(bytes, count);
}

void write_stdout(uint32_t) {
  Cell data = arguments()[0];
  if (data.is(TYPE_BINARY)) {
    SeriesBuffer* buffer = memory::buffer_of(data.data2);
    uint32_t size = buffer->used();
    if (data.data1 < size) write_bytes(reinterpret_cast<const char*>(buffer->head_ptr() + data.data1), size - data.data1);
  } else {
    std::string text = string::is_string_like(data.type()) ? string::to_std_string(data)
                                                            : actions::form_to_string(data);
    write_bytes(text.data(), text.size());
  }
  unset::set_result();
}

// --- Type tests --------------------------------------------------------------------------------------

void is_type(uint32_t type) { stack::set_last(logic::make(arguments()[0].type() == type)); }

// Reads the typeset word's value at each call, so that rebinding the word
// changes the test.
void is_in_typeset(uint32_t symbol) {
  TypeId type = arguments()[0].type();
  Cell* typeset = context::global_slot(symbol);
  stack::set_last(logic::make(typeset != nullptr && typeset->is(TYPE_TYPESET) && typeset_has(*typeset, type)));
}

// --- The table ----------------------------------------------------------------------------------------

const Row kLibraryRows[] = {
    {"quit-return",
     R"kel("Stops evaluation and exits the program with a given status"
        status [integer!] "Process termination value to return")kel",
     "Ends the process with the status, output flushed, heap left to the system", quit_return, 0, -1,
     Scope::kGlobal},
    {"set-quiet",
     R"kel("Set an object's field to a value without triggering eventual object's events"
        word [any-type!] value [any-type!])kel",
     "Sets the word in its own context without calling the owner's change handlers", set_quiet, 0, -1,
     Scope::kGlobal},
    {"set-slot-quiet",
     R"kel("Set a value in series without triggering eventual owner's events"
        series [any-type!] value [any-type!])kel",
     "Writes the value over the cell at the series position; the owner is not told", set_slot_quiet, 0, -1,
     Scope::kGlobal},
    {"shift-right", R"kel("Shift bits to the right" data [integer!] bits [integer!])kel",
     "Arithmetic shift to the right", shift, kRight, -1, Scope::kGlobal},
    {"shift-left", R"kel("Shift bits to the left" data [integer!] bits [integer!])kel", "Shift to the left",
     shift, kLeft, -1, Scope::kGlobal},
    {"shift-logical", R"kel("Shift bits to the right (unsigned)" data [integer!] bits [integer!])kel",
     "Unsigned shift to the right, zeros entering at the top", shift, kLogical, -1, Scope::kGlobal},
    {"last-lf?", R"kel("Internal Use Only")kel", "Whether the last text printed ended with a line feed",
     last_line_feed, 0, -1, Scope::kGlobal},
    {"get-current-dir", R"kel("Returns the platform's current directory for the process")kel",
     "The process's current directory as a file! ending with /", get_current_dir, 0, -1, Scope::kGlobal},
    {"set-current-dir", R"kel("Sets the platform's current process directory" path [file!])kel",
     "Changes the process's current directory; access cannot-open when it cannot", set_current_dir, 0, -1,
     Scope::kGlobal},
    {"create-dir", R"kel("Create the given directory" path [file!])kel",
     "Makes one folder; access no-create when it cannot", create_dir, 0, -1, Scope::kGlobal},
    {"exists?", R"kel("Returns TRUE if the file exists" path [file!] return: [logic!])kel",
     "Whether a file or folder of that name exists", exists, 0, TYPE_LOGIC, Scope::kGlobal},
    {"os-info", R"kel("Returns detailed operating system version information")kel",
     "The object [name arch version build] of the running kernel", os_info, 0, -1, Scope::kGlobal},
    {"as-color",
     R"kel("Combine R, G and B values into a tuple" r [integer!] g [integer!] b [integer!])kel",
     "The tuple r.g.b, each value taken modulo 256; a negative one is an invalid argument", as_color, 0, -1,
     Scope::kGlobal},
    {"as-ipv4",
     R"kel("Combine a, b, c and d values into a tuple" a [integer!] b [integer!] c [integer!] d [integer!])kel",
     "The 4-byte tuple of the word d << 24 | c << 16 | b << 8 | a", as_ipv4, 0, -1, Scope::kGlobal},
    {"as-rgba",
     R"kel("Combine R, G, B and A color components into a tuple"
        r [integer!] g [integer!] b [integer!] a [integer!])kel",
     "as-ipv4 r g b a", as_ipv4, 0, -1, Scope::kGlobal},
    {"count-chars",
     R"kel("Count UTF-8 encoded characters between two positions in a binary series"
        start [binary!] pos [binary!] return: [integer!])kel",
     "Counts the UTF-8 sequences from start's index to pos's index in start's buffer", count_chars, 0,
     TYPE_INTEGER, Scope::kGlobal},
    {"stack-size?", R"kel(return: [integer!])kel", "Cells in use on the evaluation stack", stack_size, 0,
     TYPE_INTEGER, Scope::kGlobal},
    {"pick-stack", R"kel(idx [integer!])kel", "The cell at a 1-based index of the evaluation stack, or none",
     pick_stack, 0, -1, Scope::kGlobal},
    {"frame-index?", R"kel(return: [integer!])kel", "The stack index of the current frame's first cell",
     frame_index, 0, TYPE_INTEGER, Scope::kGlobal},
    {"collect-calls", R"kel(blk [block!])kel", "Appends the word and stack index of each call in progress",
     collect_calls, 0, -1, Scope::kGlobal},
    {"tracing?", "", "Whether the interpreter reports tracing events now", tracing, 0, -1, Scope::kGlobal},
    {"read-clipboard",
     R"kel("Return the contents of the system clipboard"
        return: [any-type!] "false on failure, none if empty, otherwise: string!, block! of files!, or an image!")kel",
     "A copy of what the clipboard holds", clipboard_routines::read, 0, -1, Scope::kGlobal},
    {"write-clipboard",
     R"kel("Write content to the system clipboard"
        data [any-type!] "string!, block! of files!, an image! or none!"
        return: [logic!] "indicates success")kel",
     "Stores a copy of the value in the clipboard", clipboard_routines::write, 0, TYPE_LOGIC, Scope::kGlobal},
    {"write-stdout", R"kel("Write data to STDOUT" data [any-type!])kel",
     "Writes a binary's bytes, or the text of any other value, to standard output", write_stdout, 0, -1,
     Scope::kGlobal},
    // The console's input and start: the console (console/terminal.h) and the
    // boot (boot/script_run.h) fill their entries of the registration table.
    {"_set-buffer-history", R"kel("Internal Use Only" line [string!] hist [block!])kel",
     "Hands the line buffer and the history block to the console input", upcalls::forward<&upcalls::Table::set_buffer_history>, 0,
     -1, Scope::kGlobal},
    {"_read-input", R"kel("Internal Use Only" prompt [string!] hidden? [logic!])kel",
     "Reads one line of input into the buffer; false once the input has ended", upcalls::forward<&upcalls::Table::read_input>, 0,
     TYPE_LOGIC, Scope::kGlobal},
    {"_terminate-console", "", "Does nothing: the terminal is never left in another mode",
     upcalls::forward<&upcalls::Table::terminate_console>, 0, -1, Scope::kGlobal},
    {"input-stdin", R"kel("Temporary function, internal use only")kel",
     "A new string holding one line of standard input", upcalls::forward<&upcalls::Table::input_stdin>, 0, -1, Scope::kGlobal},
    {"read-stdin",
     R"kel("Temporary function, internal use only" buffer [binary!] buflen [integer!])kel",
     "Reads up to buflen bytes of standard input into the binary; the count read", upcalls::forward<&upcalls::Table::read_stdin>, 0,
     -1, Scope::kGlobal},
    {"_terminal-size", R"kel("Internal Use Only")kel",
     "The terminal's columns and rows as a pair, or none when the input is no terminal",
     upcalls::forward<&upcalls::Table::terminal_size>, 0, -1, Scope::kGlobal},
    {"_console-title", R"kel("Internal Use Only" title [string!])kel",
     "Sets the terminal's title when standard output is one; false when that failed",
     upcalls::forward<&upcalls::Table::console_title>, 0, TYPE_LOGIC, Scope::kGlobal},
    {"_script-argument", R"kel("Internal Use Only")kel",
     "Takes the options and the script from the command line; the script's text, or none",
     upcalls::forward<&upcalls::Table::script_argument>, 0, -1, Scope::kGlobal},
};

// The type tests, in the order the library binds them.
const TypeId kSingleTypeTests[] = {
    TYPE_BITSET,  TYPE_BINARY,  TYPE_BLOCK,    TYPE_CHAR,     TYPE_EMAIL,     TYPE_FILE,    TYPE_FLOAT,
    TYPE_GET_PATH, TYPE_GET_WORD, TYPE_HASH,   TYPE_INTEGER,  TYPE_ISSUE,     TYPE_LIT_PATH, TYPE_LIT_WORD,
    TYPE_LOGIC,   TYPE_MAP,     TYPE_NONE,     TYPE_PAIR,     TYPE_PAREN,     TYPE_PATH,    TYPE_PERCENT,
    TYPE_REFINEMENT, TYPE_SET_PATH, TYPE_SET_WORD, TYPE_STRING, TYPE_TAG,     TYPE_TIME,    TYPE_TYPESET,
    TYPE_TUPLE,   TYPE_UNSET,   TYPE_URL,      TYPE_WORD,     TYPE_IMAGE,     TYPE_DATE,    TYPE_MONEY,
    TYPE_REF,     TYPE_POINT2D, TYPE_POINT3D,  TYPE_HANDLE,   TYPE_ERROR,     TYPE_ACTION,  TYPE_NATIVE,
    TYPE_DATATYPE, TYPE_FUNCTION, TYPE_OBJECT, TYPE_OP,       TYPE_ROUTINE,   TYPE_VECTOR,
};
static_assert(sizeof kSingleTypeTests / sizeof kSingleTypeTests[0] == 48, "48 single-type tests");

const char* const kTypesetTests[] = {
    "any-list",  "any-block", "any-function", "any-object", "any-path", "any-string", "any-word",
    "series",    "number",    "immediate",    "scalar",     "all-word", "any-point",  "planar",
};
static_assert(sizeof kTypesetTests / sizeof kTypesetTests[0] == 14, "14 typeset tests");

const Row kInternalRows[] = {
    {"build-value", R"kel(name [word!])kel",
     "A fact of the build: version date git-branch git-tag git-ahead git-date git-commit git-message basename "
     "target debug?",
     system_internals::build_value, 0, -1, Scope::kInternal},
    {"words-object", "", "The object! whose context is the global context", system_internals::words_object, 0,
     -1, Scope::kInternal},
    {"error-catalog", "", "The catalog's category objects, built from the runtime's error table",
     system_internals::error_catalog, 0, -1, Scope::kInternal},
    {"command-line", R"kel(from [integer!])kel",
     "The command line from the argument at from on (0: the executable) as one text, arguments that hold "
     "blanks in double quotes",
     system_internals::command_line, 0, -1, Scope::kInternal},
    {"argument-list", "", "The process's arguments one for one, each a string, the executable's name first",
     system_internals::argument_list, 0, -1, Scope::kInternal},
    {"environment-variable", R"kel(name [string!])kel", "The value of an environment variable, or none",
     system_internals::environment_variable, 0, -1, Scope::kInternal},
    {"interpreted?", "", "Whether a call frame below the caller's was opened by the interpreter",
     system_internals::interpreted, 0, TYPE_LOGIC, Scope::kInternal},
    {"float-option", R"kel(name [word!] value [any-type!])kel",
     "Sets the float formatter's pretty-print (pretty?) or full-support (full?) flag",
     system_internals::float_option, 0, -1, Scope::kInternal},
    {"active?", R"kel(return: [logic!])kel", "Whether the collector is enabled", system_internals::collector_active,
     0, TYPE_LOGIC, Scope::kInternal},
    {"series-cycles", R"kel(return: [integer!])kel", "The collector's count of cycles",
     system_internals::collector_series_cycles, 0, TYPE_INTEGER, Scope::kInternal},
    {"nodes-cycles", R"kel(return: [integer!])kel", "The collector's count of node-frame cycles",
     system_internals::collector_node_cycles, 0, TYPE_INTEGER, Scope::kInternal},
    // The kelbin codec's members (library/kelbin_codec.h).
    {"kelbin-encode",
     R"kel("Returns the kelbin encoding of the value" data [any-type!] compact? [logic!] "Compact layout, else fixed")kel",
     "A new binary! holding the kelbin encoding of the value, in the compact or the fixed layout",
     kelbin_codec::encode_star, 0, -1, Scope::kInternal},
    {"kelbin-decode", R"kel("Returns the value(s) a kelbin binary, file or URL holds" payload [any-type!])kel",
     "Reads the kelbin data of a binary, file or URL into a block; its one value, or the block",
     kelbin_codec::decode, 0, -1, Scope::kInternal},
    // The image codecs' members (library/image_routines.h); the argument
    // is the encoder's format code.
    {"bmp-encode", R"kel("Returns the image encoded as BMP" img [image!] where [any-type!])kel",
     "A new binary! holding the image as a BMP file", image_routines::encode, 0, -1, Scope::kInternal},
    {"png-encode", R"kel("Returns the image encoded as PNG" img [image!] where [any-type!])kel",
     "A new binary! holding the image as a PNG file", image_routines::encode, 1, -1, Scope::kInternal},
    {"gif-encode", R"kel("Returns the image encoded as GIF" img [image!] where [any-type!])kel",
     "A new binary! holding the image as a GIF file", image_routines::encode, 2, -1, Scope::kInternal},
    {"jpeg-encode", R"kel("Returns the image encoded as JPEG" img [image!] where [any-type!])kel",
     "A new binary! holding the image as a JPEG file", image_routines::encode, 3, -1, Scope::kInternal},
    {"tiff-encode", R"kel("Returns the image encoded as TIFF" img [image!] where [any-type!])kel",
     "A new binary! holding the image as a TIFF file", image_routines::encode, 4, -1, Scope::kInternal},
    {"image-decode", R"kel("Returns the image a binary, file or URL holds" data [any-type!])kel",
     "The first frame of the image data as an image!; none for a binary of no known format",
     image_routines::decode, 0, -1, Scope::kInternal},
    // The tracing flag behind `trace` with a logic value.
    {"set-tracing", R"kel(on [logic!])kel",
     "Sets the tracing flag of the user code that called the library: on only while a tracer is installed",
     set_tracing, 0, -1, Scope::kLibraryInternal},
    // The JSON decoder's routine (library/json_codec.h).
    {"json-unescape", R"kel(str [string!] return: [string!])kel",
     "Replaces the JSON escapes of the string in place; the string",
     json_codec::unescape, 0, TYPE_STRING, Scope::kLibraryInternal},
    {"install", R"kel(system [object!])kel",
     "Hands the finished system object to error forming, date molding and the lexer",
     system_internals::install, 0, -1, Scope::kInternal},
};

std::vector<Row> layer_rows;  // added by the layers above before init()

void build_table() {
  for (const Row& row : kLibraryRows) table.push_back(row);
  for (TypeId type : kSingleTypeTests) {
    std::string name(datatype_name(type));
    name.back() = '?';
    table.push_back(Row{
        keep_text(name), R"kel("Returns true if the value is this type" value [any-type!] return: [logic!])kel",
        keep_text("Whether the value's datatype is " + std::string(datatype_name(type))), is_type, type,
        TYPE_LOGIC, Scope::kGlobal});
  }
  for (const char* typeset : kTypesetTests) {
    std::string spec = "\"Returns true if the value is any type of " + std::string(typeset) +
                       "\" value [any-type!] return: [logic!]";
    uint32_t symbol = symbol::make(std::string(typeset) + "!");
    table.push_back(Row{keep_text(std::string(typeset) + "?"), keep_text(spec),
                        keep_text("Whether the value's datatype is in the typeset the word " + std::string(typeset) +
                                  "! holds now"),
                        is_in_typeset, symbol, TYPE_LOGIC, Scope::kGlobal});
  }
  for (const Row& row : kInternalRows) table.push_back(row);
  for (const Row& row : layer_rows) table.push_back(row);
}

// A routine! value for a row, pushed on the stack.
Cell* push_routine(uint32_t index) {
  const Row& row = table[index];
  // The interface's type words are read at the first call (the datatype words
  // may not be bound yet when the routines are made).
  Cell spec = *upcalls::table.load_library_text(row.interface);
  Cell* body = block::push_only(1);
  string::load_cstr(row.description, static_cast<uint32_t>(std::strlen(row.description)), string::kEncodingUtf8);
  block::rs_append(body, *stack::get_top());
  Cell body_block = *body;
  Cell* made = function::push(&spec, &body_block, 0, 0);
  made->header = TYPE_ROUTINE | (argument_count(spec) << function::kRoutineArgumentShift);
  *function::info(*made, function::kInfoCode) = integer::make(static_cast<int32_t>(index));
  *function::info(*made, function::kInfoExtra) = integer::make(row.return_type);
  *context::self_cell(function::context_of(*made)) = *made;
  return made;
}
}  // namespace

const char* architecture_word(const std::string& machine) {
  if (machine == "x86_64" || machine == "amd64") return "x86-64";
  if (machine == "i386" || machine == "i486" || machine == "i586" || machine == "i686") return "x86-32";
  if (machine == "aarch64" || machine == "arm64") return "ARM64";
  if (machine.rfind("arm", 0) == 0) return "ARM";
  if (machine == "ia64") return "IA-64";
  return "Unknown";
}

void release_numbers(const char* text, int32_t numbers[3]) {
  for (int i = 0; i < 3; ++i) numbers[i] = 0;
  for (int i = 0; i < 3; ++i) {
    // Each number is a byte of the tuple: a larger one is 255, and a long
    // run of digits never overflows.
    while (*text >= '0' && *text <= '9') numbers[i] = std::min(numbers[i] * 10 + (*text++ - '0'), 255);
    if (*text != '.') break;
    ++text;
  }
}

uint32_t argument_count(const Cell& spec) {
  uint32_t count = 0;
  SeriesBuffer* buffer = memory::buffer_of(spec.data2);
  for (uint32_t i = spec.data1; i < buffer->cell_count(); ++i)
    if (buffer->cells()[i].is(TYPE_WORD)) ++count;
  return count;
}

void add_layer_rows(const LayerRow* rows, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    const LayerRow& row = rows[i];
    layer_rows.push_back(Row{row.word, row.interface, row.description, row.entry, row.parameter, row.return_type,
                             row.holder == nullptr ? Scope::kGlobal : Scope::kLayer, row.holder});
  }
}

void init_table() {
  if (!table.empty()) return;
  upcalls::table.call_routine = call;
  upcalls::table.compiled_body = compiled::body;
  build_table();
}

void init() {
  if (!table.empty()) return;
  init_table();
  stack::Guard guard;
  uint32_t internal_count = 0, library_internal_count = 0;
  for (const Row& row : table) {
    if (row.scope == Scope::kInternal) ++internal_count;
    if (row.scope == Scope::kLibraryInternal) ++library_internal_count;
  }
  Cell* internals = object::push_new(internal_count, object::kStartUpClass);
  Cell* library_internals = object::push_new(library_internal_count, object::kStartUpClass);
  for (uint32_t i = 0; i < table.size(); ++i) {
    if (table[i].scope == Scope::kLayer) continue;
    stack::Guard one;
    Cell value = *push_routine(i);
    uint32_t symbol = symbol::make(table[i].word);
    switch (table[i].scope) {
      case Scope::kGlobal: context::put_value(context::global(), symbol, value); break;
      case Scope::kInternal: context::put_value(object::context_of(*internals), symbol, value); break;
      case Scope::kLibraryInternal:
        context::put_value(object::context_of(*library_internals), symbol, value);
        break;
      case Scope::kLayer: break;  // bound below, by holder
    }
  }
  // Each holder's object gathers its rows; the holder word is global.
  std::vector<std::string> holders;
  for (const Row& row : table)
    if (row.scope == Scope::kLayer && std::find(holders.begin(), holders.end(), row.holder) == holders.end())
      holders.emplace_back(row.holder);
  for (const std::string& holder : holders) {
    stack::Guard one;
    uint32_t count = 0;
    for (const Row& row : table) count += row.scope == Scope::kLayer && holder == row.holder;
    Cell* object = object::push_new(count, object::kStartUpClass);
    for (uint32_t i = 0; i < table.size(); ++i) {
      if (table[i].scope != Scope::kLayer || holder != table[i].holder) continue;
      stack::Guard routine_guard;
      Cell value = *push_routine(i);
      context::put_value(object::context_of(*object), symbol::make(table[i].word), value);
    }
    context::put_value(context::global(), symbol::make(holder), *object);
  }
  context::put_value(context::global(), symbol::make("system-internals"), *internals);
  context::put_value(context::global(), symbol::make("library-internals"), *library_internals);
}

void call(const Cell& routine) {
  Cell code = *function::info(routine, function::kInfoCode);
  if (!code.is(TYPE_INTEGER) || static_cast<uint32_t>(code.int_at2()) >= table.size())
    fire(ErrorId::internal_routines);
  const Row& row = table[static_cast<uint32_t>(code.int_at2())];
  row.entry(row.parameter);
}

}  // namespace kel::routines
