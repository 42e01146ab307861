// The floor of the runtime: the runtime system record, the runtime heap,
// process start-up, the typed print primitives used for diagnostics and the
// numbered runtime-error exit.
//
// Runtime heap blocks carry a 16-byte header (previous, next, size asked,
// a check word) and form one doubly linked list of live blocks, newest at the
// tail, so that every block still live can be released at the normal end.
// Every fatal condition of the runtime ends in runtime::quit with a number
// from the runtime-error table; every recoverable one is a throw (exits.h).
#pragma once

#include <csignal>

#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/cell.h"

namespace kel::runtime {

struct HeapBlock;

// The one runtime system record.
struct SystemRecord {
  int argc = 0;
  char** argv = nullptr;          // UTF-8 arguments, null after the last
  uint32_t exit_code = 0;         // the exit in flight (exits.h); 0 when none
  Cell thrown_value{};            // the value of a throw or error in flight
  const uint8_t* boot_image = nullptr;
  uintptr_t fault_stack = 0;      // stack and frame pointer of the last fault
  uintptr_t fault_frame = 0;
  HeapBlock* heap_head = nullptr;
  HeapBlock* heap_tail = nullptr;
};

SystemRecord& system();

// Runtime heap (malloc underneath). Exhaustion is runtime error 94.
void* allocate(size_t size);
void* allocate_zeroed(size_t size);
void free(void* address);                 // an address not on the list is ignored
void* resize(void* address, size_t size); // null allocates; size 0 frees, gives null
void free_all();                          // releases every live block
size_t live_block_count();

// Process start-up: signal handlers on an alternate stack, SIGPIPE ignored,
// the argument vector kept in the system record. Must run on the thread that
// runs the runtime.
void start_up(int argc, char** argv);

// Set by the SIGINT handler (and nothing else in it): a console interrupt
// waits here until the interpreter's next safe point raises the console's
// halt (interpreter.h).
extern volatile std::sig_atomic_t halt_requested;

// The message of a runtime error number ("unknown error code!" for numbers
// outside the table).
const char* error_message(int code);

// The report text of runtime::quit: "" for code 0, else
// "\n*** Runtime Error <code>: <message>\n*** at: <8 hex digits>h\n".
std::string format_report(int code, uint32_t address);

// Ends the process: prints the report (nothing for 0), releases every heap
// block and exits with the code as status.
[[noreturn]] void quit(int code, uint32_t address);

// Ends the process with a status and no report (the console's -2 after an
// uncaught error, quit/return): output is flushed first.
[[noreturn]] void end_process(int status);

// The offset of a code address inside the executable, as reports show it.
uint32_t code_offset(const void* address);

// The return address of the function that calls it, as a report address.
#define KEL_CALLER_ADDRESS() (::kel::runtime::code_offset(__builtin_return_address(0)))

// Reported when a throw reaches the outermost catcher.
[[noreturn]] void top_catch();

// x86 (a + alignment - 1) & ~(alignment - 1), alignment a power of two.
constexpr uint64_t align_up(uint64_t size, uint64_t alignment) {
  return (size + alignment - 1) & ~(alignment - 1);
}

// Folds an angle in degrees for the trigonometric functions and converts it
// to radians. Mode 0 tangent, 1 cosine, 2 sine.
double degrees_to_radians(double angle, int mode);

// --- Typed print --------------------------------------------------------
// The diagnostics printers take a list of typed items: bool prints
// true/false, integers in decimal, a char as itself, float as "%.7g", double
// as "%.16g", C strings as they are, Hex as eight upper-case hex digits.
struct Hex {
  uint32_t value;
};

void append_item(std::string& out, bool value);
void append_item(std::string& out, int32_t value);
void append_item(std::string& out, uint32_t value);
void append_item(std::string& out, int64_t value);
void append_item(std::string& out, char value);
void append_item(std::string& out, float value);
void append_item(std::string& out, double value);
void append_item(std::string& out, const char* value);
void append_item(std::string& out, const std::string& value);
void append_item(std::string& out, Hex value);

// Writes the formatted items to standard output, with the terminal GUI's
// drawing suspended around the write; flushes at the end.
void write_typed(const std::string& text);

template <class... Items>
void print_typed(bool separated, const Items&... items) {
  std::string out;
  size_t remaining = sizeof...(Items);
  auto one = [&](const auto& item) {
    append_item(out, item);
    --remaining;
    if (separated && remaining > 0) {
      char last = out.empty() ? '\0' : out.back();
      if (last != ' ' && last != '\n' && last != '\r' && last != '\t') out += ' ';
    }
  };
  (one(items), ...);
  write_typed(out);
}

template <class... Items>
void print(const Items&... items) {
  print_typed(false, items...);
}

template <class... Items>
void print_line(const Items&... items) {
  print_typed(false, items..., "\n");
}

// Character printers.
uint8_t print_char(uint8_t byte);
const char* print_chars(const char* text, int32_t count);
void print_char_literal(uint8_t byte);
// The text print_char_literal writes, for tests and callers that build text.
std::string char_literal_text(uint8_t byte);

}  // namespace kel::runtime
