// The runtime floor: heap blocks, start-up, the runtime-error report and the
// typed printers. See runtime.h for the data and its invariants.
#include "runtime/runtime.h"

#include <csignal>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <pthread.h>
#include <unistd.h>

#include "runtime/exits.h"
#include "runtime/output.h"
#include "runtime/upcalls.h"

extern "C" char __executable_start;  // provided by the GNU linker

namespace kel::runtime {

// Every heap block starts with this header; the check word tells a block of
// ours from any other address, so that free() can ignore foreign addresses
// without searching the whole list.
struct alignas(16) HeapBlock {
  HeapBlock* previous;
  HeapBlock* next;
  uint32_t size;
  uint32_t check;
};
static_assert(sizeof(HeapBlock) % 16 == 0, "blocks stay 16-byte aligned");

namespace {
constexpr uint32_t kLiveCheck = 0x4B454C48;  // "KELH"
SystemRecord the_system;
size_t live_blocks = 0;

void link_at_tail(HeapBlock* block) {
  SystemRecord& s = the_system;
  block->previous = s.heap_tail;
  block->next = nullptr;
  if (s.heap_tail) s.heap_tail->next = block;
  else s.heap_head = block;
  s.heap_tail = block;
  ++live_blocks;
}

void unlink(HeapBlock* block) {
  SystemRecord& s = the_system;
  if (block->previous) block->previous->next = block->next;
  else s.heap_head = block->next;
  if (block->next) block->next->previous = block->previous;
  else s.heap_tail = block->previous;
  --live_blocks;
}

HeapBlock* header_of(void* address) {
  if (address == nullptr) return nullptr;
  auto* block = reinterpret_cast<HeapBlock*>(static_cast<char*>(address) - sizeof(HeapBlock));
  if (block->check != kLiveCheck) return nullptr;
  return block;
}
}  // namespace

SystemRecord& system() { return the_system; }

void* allocate(size_t size) {
  auto* block = static_cast<HeapBlock*>(std::malloc(size + sizeof(HeapBlock)));
  if (block == nullptr) quit(94, KEL_CALLER_ADDRESS());
  block->size = static_cast<uint32_t>(size);
  block->check = kLiveCheck;
  link_at_tail(block);
  return block + 1;
}

void* allocate_zeroed(size_t size) {
  void* p = allocate(size);
  std::memset(p, 0, size);
  return p;
}

void free(void* address) {
  HeapBlock* block = header_of(address);
  if (block == nullptr) return;
  unlink(block);
  block->check = 0;
  std::free(block);
}

void* resize(void* address, size_t size) {
  if (address == nullptr) return allocate(size);
  if (size == 0) {
    free(address);
    return nullptr;
  }
  HeapBlock* block = header_of(address);
  if (block == nullptr) return nullptr;
  HeapBlock* previous = block->previous;
  HeapBlock* next = block->next;
  auto* moved = static_cast<HeapBlock*>(std::realloc(block, size + sizeof(HeapBlock)));
  if (moved == nullptr) quit(94, KEL_CALLER_ADDRESS());
  moved->size = static_cast<uint32_t>(size);
  // Re-link the neighbours to the (possibly) moved header.
  if (previous) previous->next = moved;
  else the_system.heap_head = moved;
  if (next) next->previous = moved;
  else the_system.heap_tail = moved;
  return moved + 1;
}

void free_all() {
  HeapBlock* block = the_system.heap_head;
  while (block) {
    HeapBlock* next = block->next;
    block->check = 0;
    std::free(block);
    block = next;
  }
  the_system.heap_head = the_system.heap_tail = nullptr;
  live_blocks = 0;
}

size_t live_block_count() { return live_blocks; }

// --- Runtime-error report ----------------------------------------------------

const char* error_message(int code) {
  switch (code) {
    case 1: return "access violation";
    case 2: return "invalid alignment";
    case 3: return "breakpoint";
    case 4: return "single step";
    case 5: return "bounds exceeded";
    case 6: return "float denormal operan";
    case 7: return "float divide by zero";
    case 8: return "float inexact result";
    case 9: return "float invalid operation";
    case 10: return "float overflow";
    case 11: return "float stack check";
    case 12: return "float underflow";
    case 13: return "integer divide by zero";
    case 14: return "integer overflow";
    case 15: return "privileged instruction";
    case 16: return "invalid virtual address";
    case 17: return "illegal instruction";
    case 18: return "non-continuable exception";
    case 19: return "stack error or overflow";
    case 20: return "invalid disposition";
    case 21: return "guard page";
    case 22: return "invalid handle";
    case 23: return "illegal operand";
    case 24: return "illegal addressing mode";
    case 25: return "illegal trap";
    case 26: return "coprocessor error";
    case 27: return "non-existent physical address";
    case 28: return "object specific hardware error";
    case 29: return "hardware memory error consumed AR";
    case 30: return "hardware memory error consumed AO";
    case 31: return "privileged register";
    case 32: return "segmentation fault";
    case 33: return "FPU error";
    case 34: return "Bus error";
    case 94: return "out of memory";
    case 95: return "no CATCH for THROW";
    case 98: return "assertion failed";
    case 99: return "unknown error";
    case 100: return "no value matched in CASE";
    case 101: return "no value matched in SWITCH";
    default: return "unknown error code!";
  }
}

namespace {
// Formats the report into a caller's buffer with no allocation, so that the
// fault handler can use it. Returns the length.
size_t format_report_into(char* out, size_t room, int code, uint32_t address) {
  if (code == 0) return 0;
  size_t n = 0;
  auto put = [&](const char* text) {
    while (*text && n + 1 < room) out[n++] = *text++;
  };
  char digits[16];
  put("\n*** Runtime Error ");
  {
    // Decimal, signed.
    long value = code;
    bool negative = value < 0;
    unsigned long magnitude = negative ? static_cast<unsigned long>(-value) : static_cast<unsigned long>(value);
    int d = 15;
    digits[d] = '\0';
    do {
      digits[--d] = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude && d > 1);
    if (negative) digits[--d] = '-';
    put(digits + d);
  }
  put(": ");
  put(error_message(code));
  put("\n*** at: ");
  static const char hex[] = "0123456789ABCDEF";
  for (int i = 0; i < 8; ++i) digits[i] = hex[(address >> (28 - 4 * i)) & 0xF];
  digits[8] = '\0';
  put(digits);
  put("h\n");
  out[n] = '\0';
  return n;
}

void write_all(int fd, const char* text, size_t length) {
  while (length > 0) {
    ssize_t written = ::write(fd, text, length);
    if (written <= 0) return;
    text += written;
    length -= static_cast<size_t>(written);
  }
}

// What the layers above keep outside the process (the terminal the GUI
// holds in its modes) is put back before the process ends; once, so that
// an end reached while putting it back does not go round again.
void run_end_of_process() {
  static bool ran = false;
  if (ran || upcalls::table.end_of_process == nullptr) return;
  ran = true;
  upcalls::table.end_of_process();
}
}  // namespace

std::string format_report(int code, uint32_t address) {
  char buffer[256];
  size_t n = format_report_into(buffer, sizeof buffer, code, address);
  return std::string(buffer, n);
}

uint32_t code_offset(const void* address) {
  auto base = reinterpret_cast<uintptr_t>(&__executable_start);
  auto at = reinterpret_cast<uintptr_t>(address);
  return static_cast<uint32_t>(at >= base ? at - base : at);
}

#ifdef KEL_PROFILE_GENERATE
extern "C" void __gcov_dump(void);
#endif
namespace {
// A build instrumented for profile-guided optimisation writes its counts
// here: the process ends with _exit, which skips the exit handlers that
// would otherwise write them.
void dump_profile() {
#ifdef KEL_PROFILE_GENERATE
  __gcov_dump();
#endif
}
}  // namespace

void quit(int code, uint32_t address) {
  dump_profile();
  run_end_of_process();
  output::flush();
  if (code != 0) {
    char buffer[256];
    size_t n = format_report_into(buffer, sizeof buffer, code, address);
    write_all(STDOUT_FILENO, buffer, n);
  }
  std::fflush(nullptr);
  free_all();
  ::_exit(code);
}

void end_process(int status) {
  dump_profile();
  run_end_of_process();
  output::flush();
  std::fflush(nullptr);
  ::_exit(status);
}

void top_catch() { quit(95, code_offset(reinterpret_cast<const void*>(&top_catch))); }

namespace {
// Memory that the C++ library's containers ask for and the system refuses
// ends the process with the out-of-memory report, as the runtime's own
// allocations do, never with an exception nothing catches.
void on_out_of_memory() { quit(94, code_offset(reinterpret_cast<const void*>(&on_out_of_memory))); }
}  // namespace

// --- Hardware faults ------------------------------------------------------------
//
// SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGTRAP are caught on an alternate
// stack and end the process through the same report as every other fatal
// condition. The handler uses only async-signal-safe calls: it formats into a
// local buffer and writes it with write(2).

namespace {
int fault_code(int signal, int si_code) {
  switch (signal) {
    case SIGSEGV: return 1;
    case SIGBUS: return si_code == BUS_ADRALN ? 2 : 34;
    case SIGFPE:
      switch (si_code) {
        case FPE_INTDIV: return 13;
        case FPE_INTOVF: return 14;
        case FPE_FLTDIV: return 7;
        case FPE_FLTOVF: return 10;
        case FPE_FLTUND: return 12;
        case FPE_FLTRES: return 8;
        case FPE_FLTINV: return 9;
        case FPE_FLTSUB: return 5;
        default: return 33;
      }
    case SIGILL:
      switch (si_code) {
        case ILL_PRVOPC: return 15;
        case ILL_ILLOPN: return 23;
        case ILL_ILLADR: return 24;
        case ILL_ILLTRP: return 25;
        case ILL_COPROC: return 26;
        case ILL_PRVREG: return 31;
        default: return 17;
      }
    case SIGTRAP: return si_code == TRAP_TRACE ? 4 : 3;
    default: return 99;
  }
}

void on_fault(int signal, siginfo_t* info, void* context) {
  const void* at = info ? info->si_addr : nullptr;
#if defined(__x86_64__)
  if (context) {
    auto* uc = static_cast<ucontext_t*>(context);
    at = reinterpret_cast<const void*>(uc->uc_mcontext.gregs[REG_RIP]);
    the_system.fault_stack = static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RSP]);
    the_system.fault_frame = static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RBP]);
  }
#else
  (void)context;
#endif
  int code = fault_code(signal, info ? info->si_code : 0);
  char buffer[256];
  size_t n = format_report_into(buffer, sizeof buffer, code, code_offset(at));
  write_all(STDOUT_FILENO, buffer, n);
  ::_exit(code);
}

// A console interrupt asks the interpreter to halt what it evaluates
// (interpreter.h). The runtime thread must hear the signal itself, so that
// a read of the console waiting there ends (EINTR): a signal that reached
// another thread is only passed on to it, so one interrupt makes one
// request.
pthread_t runtime_thread;

}  // namespace

volatile std::sig_atomic_t halt_requested = 0;

namespace {
void on_interrupt(int) {
  if (!pthread_equal(pthread_self(), runtime_thread)) {
    pthread_kill(runtime_thread, SIGINT);
    return;
  }
  halt_requested = 1;
}

bool alternate_stack_ready = false;
}  // namespace

void start_up(int argc, char** argv) {
  the_system.argc = argc;
  the_system.argv = argv;
  std::signal(SIGPIPE, SIG_IGN);
  // A file grown past the process's size limit fails the write (EFBIG),
  // which the file layer reports, instead of ending the process.
  std::signal(SIGXFSZ, SIG_IGN);
  std::set_new_handler(on_out_of_memory);

  if (!alternate_stack_ready) {
    static char alternate_stack[64 * 1024];
    stack_t ss{};
    ss.ss_sp = alternate_stack;
    ss.ss_size = sizeof alternate_stack;
    sigaltstack(&ss, nullptr);
    alternate_stack_ready = true;
  }
#ifndef KEL_SANITIZE
  // Under the sanitizers their own fault reports are more useful.
  struct sigaction fault{};
  fault.sa_sigaction = on_fault;
  fault.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&fault.sa_mask);
  for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP}) sigaction(s, &fault, nullptr);
#endif
  // A console interrupt halts the evaluation; reads are not restarted
  // after it, so the console sees it while it waits for a line.
  runtime_thread = pthread_self();
  struct sigaction interrupt{};
  interrupt.sa_handler = on_interrupt;
  sigemptyset(&interrupt.sa_mask);
  sigaction(SIGINT, &interrupt, nullptr);
}

// --- Angles ---------------------------------------------------------------------

double degrees_to_radians(double a, int mode) {
  a = std::fmod(a, 360.0);
  if (a > 180.0 || a < -180.0) a += a >= 0.0 ? -360.0 : 360.0;
  if (a > 90.0 || a < -90.0) {
    if (mode == 0) a += a >= 0.0 ? -180.0 : 180.0;
    else if (mode == 2) a = (a >= 0.0 ? 180.0 : -180.0) - a;
  }
  return a * 3.141592653589793 / 180.0;
}

// --- Typed print ------------------------------------------------------------------

void append_item(std::string& out, bool value) { out += value ? "true" : "false"; }
void append_item(std::string& out, int32_t value) { out += std::to_string(value); }
void append_item(std::string& out, uint32_t value) { out += std::to_string(value); }
void append_item(std::string& out, int64_t value) { out += std::to_string(value); }
void append_item(std::string& out, char value) { out += value; }
void append_item(std::string& out, float value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.7g", static_cast<double>(value));
  out += buffer;
}
void append_item(std::string& out, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.16g", value);
  out += buffer;
}
void append_item(std::string& out, const char* value) { out += value ? value : ""; }
void append_item(std::string& out, const std::string& value) { out += value; }
void append_item(std::string& out, Hex value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%08X", value.value);
  out += buffer;
}

void write_typed(const std::string& text) {
  output::SuspendTerminalGui suspended;
  output::print_bytes(text.data(), text.size());
  output::flush();
}

uint8_t print_char(uint8_t byte) {
  char text[2] = {static_cast<char>(byte), '\0'};
  output::print_bytes(text, 1);
  return byte;
}

const char* print_chars(const char* text, int32_t count) {
  // One write for the whole text, so an escape sequence in it reaches the
  // terminal translator in one piece.
  size_t length = 0;
  for (const char* p = text; *p && count != 0; ++p, --count) ++length;
  output::print_bytes(text, length);
  return text;
}

std::string char_literal_text(uint8_t c) {
  std::string out = "#\"";
  if (c == 0) out += "^@";
  else if (c == 9) out += "^-";
  else if (c == 10) out += "^/";
  else if (c < 32) {
    out += '^';
    out += static_cast<char>(64 + c);
  } else if (c < 128) out += static_cast<char>(c);
  else {
    static const char hex[] = "0123456789ABCDEF";
    out += "^(";
    out += hex[c >> 4];
    out += hex[c & 15];
    out += ')';
  }
  out += '"';
  return out;
}

void print_char_literal(uint8_t byte) {
  std::string text = char_literal_text(byte);
  output::print_bytes(text.data(), text.size());
}

}  // namespace kel::runtime

namespace kel::exits {
uint32_t pending = 0;

void throw_unwind(uint32_t code) {
  runtime::system().exit_code = code;
  throw Unwind{code};
}
}  // namespace kel::exits
