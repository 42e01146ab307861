// The console's input (see terminal.h).
//
// The line and history cells live in this module between setup and edit;
// they are collector roots, so the values stay reachable (and are updated
// when compaction moves them) while the read waits.
#include "console/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/pair.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "evaluator/interpreter.h"
#include "runtime/stack.h"
#include "runtime/collector.h"
#include "runtime/output.h"
#include "runtime/upcalls.h"

namespace kel::terminal {

namespace {

bool input_is_terminal = false;
bool initialised = false;
Cell current_line = make_cell(TYPE_NONE);
Cell current_history = make_cell(TYPE_NONE);

void ensure_roots() {
  if (initialised) return;
  initialised = true;
  collector::add_global_root(&current_line);
  collector::add_global_root(&current_history);
}

constexpr const char* kReplacement = "\xEF\xBF\xBD";

// The length of the UTF-8 sequence a lead byte starts (0: none).
int sequence_length(uint8_t lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

bool continuation(uint8_t byte) { return (byte & 0xC0) == 0x80; }

// The second byte's range of a lead byte, which rules out overlong forms,
// surrogates and code points beyond U+10FFFF.
bool second_byte_allowed(uint8_t lead, uint8_t second) {
  switch (lead) {
    case 0xE0: return second >= 0xA0 && second <= 0xBF;
    case 0xED: return second >= 0x80 && second <= 0x9F;
    case 0xF0: return second >= 0x90 && second <= 0xBF;
    case 0xF4: return second >= 0x80 && second <= 0x8F;
    default: return continuation(second);
  }
}

void add_to_history(const Cell& line) {
  if (!current_history.is(TYPE_BLOCK)) return;
  std::string text = string::to_std_string(line);
  if (text.empty()) return;
  Cell history = current_history;
  SeriesBuffer* buffer = memory::buffer_of(history.data2);
  if (history.data1 < buffer->cell_count()) {
    const Cell& newest = buffer->cells()[history.data1];
    if (string::is_string_like(newest.type()) && string::to_std_string(newest) == text) return;
  }
  block::insert_cells(&history, line, false, false);
}

}  // namespace

std::string repaired_utf8(const std::string& bytes) {
  std::string text;
  text.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    auto lead = static_cast<uint8_t>(bytes[i]);
    int length = sequence_length(lead);
    bool valid = length > 0 && i + static_cast<size_t>(length) <= bytes.size();
    if (valid && length > 1) valid = second_byte_allowed(lead, static_cast<uint8_t>(bytes[i + 1]));
    for (int k = 2; valid && k < length; ++k) valid = continuation(static_cast<uint8_t>(bytes[i + k]));
    if (valid) {
      text.append(bytes, i, static_cast<size_t>(length));
      i += static_cast<size_t>(length);
    } else {
      text += kReplacement;
      ++i;
    }
  }
  return text;
}

void init() {
  ensure_roots();
  input_is_terminal = ::isatty(STDIN_FILENO) == 1;
}

bool console_input() { return input_is_terminal; }

void window_size(int32_t* columns, int32_t* rows) {
  *columns = *rows = 0;
  if (!input_is_terminal) return;
  struct winsize size {};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 && ::ioctl(STDIN_FILENO, TIOCGWINSZ, &size) != 0) return;
  *columns = size.ws_col;
  *rows = size.ws_row;
}

std::string title_sequence(const std::string& utf8) {
  std::string sequence = "\x1B]0;";
  for (size_t i = 0; i < utf8.size(); ++i) {
    auto byte = static_cast<uint8_t>(utf8[i]);
    if (byte < 0x20 || byte == 0x7F) continue;
    // U+0080 to U+009F (C2 80 to C2 9F) are controls too: one of them
    // would end the sequence on some terminals.
    if (byte == 0xC2 && i + 1 < utf8.size() && static_cast<uint8_t>(utf8[i + 1]) < 0xA0) {
      ++i;
      continue;
    }
    sequence += static_cast<char>(byte);
  }
  sequence += '\x07';
  return sequence;
}

bool set_title(const std::string& utf8) {
  if (!output::is_terminal()) return true;
  output::flush();
  std::string sequence = title_sequence(utf8);
  size_t written = 0;
  while (written < sequence.size()) {
    ssize_t count = ::write(STDOUT_FILENO, sequence.data() + written, sequence.size() - written);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    written += static_cast<size_t>(count);
  }
  return true;
}

void setup(const Cell& line, const Cell& history) {
  ensure_roots();
  current_line = line;
  current_history = history;
}

ReadOutcome stdin_readline(Cell* line) {
  std::string bytes;
  for (;;) {
    uint8_t byte;
    ssize_t count = ::read(STDIN_FILENO, &byte, 1);
    if (count == 1) {
      if (byte == '\n') break;
      bytes += static_cast<char>(byte);
      continue;
    }
    if (count < 0 && errno == EINTR) {
      if (!interpreter::halt_requested) continue;
      interpreter::halt_requested = 0;
      return ReadOutcome::kInterrupted;
    }
    // The end of the data, or a failure, which would keep failing.
    if (bytes.empty()) return ReadOutcome::kEnd;
    break;
  }
  string::append_utf8(line, repaired_utf8(bytes));
  return ReadOutcome::kLine;
}

bool edit(const Cell& prompt, bool hidden) {
  ensure_roots();
  if (input_is_terminal) {
    std::string text = string::to_std_string(prompt);
    output::print_bytes(text.data(), text.size());
  }
  output::flush();
  // An interrupt that came while no code ran belongs to no evaluation.
  interpreter::halt_requested = 0;
  if (!current_line.is(TYPE_STRING)) return true;
  Cell line = current_line;
  switch (stdin_readline(&line)) {
    case ReadOutcome::kEnd:
      return false;
    case ReadOutcome::kInterrupted:
      // As the line editor answers Ctrl-C: the word that quits.
      string::remove_part(&line, 0, string::rs_length(&line));
      string::append_utf8(&line, "q");
      if (input_is_terminal) output::print_bytes("\n", 1);
      return true;
    case ReadOutcome::kLine:
      break;
  }
  if (input_is_terminal && !hidden) add_to_history(current_line);
  return true;
}

int64_t read_stdin(Cell* binary, int64_t count) {
  if (count <= 0) return 0;
  std::vector<uint8_t> bytes(static_cast<size_t>(count));
  ssize_t got;
  do {
    got = ::read(STDIN_FILENO, bytes.data(), bytes.size());
  } while (got < 0 && errno == EINTR && !interpreter::halt_requested);
  if (got <= 0) return got < 0 ? -1 : 0;
  binary::append_bytes(binary, bytes.data(), static_cast<uint32_t>(got));
  return got;
}

// --- Routine entries --------------------------------------------------------------------------

void set_buffer_history_routine(uint32_t) {
  Cell* frame = stack::arguments();
  setup(frame[0], frame[1]);
  unset::set_result();
}

// The logic result tells the console whether a line came (false: the input
// has ended).
void read_input_routine(uint32_t) {
  Cell* frame = stack::arguments();
  bool read = edit(frame[0], frame[1].is(TYPE_LOGIC) && frame[1].data1 != 0);
  stack::set_last(logic::make(read));
}

// Nothing to restore: the terminal is never left in another mode.
void terminate_console_routine(uint32_t) { unset::set_result(); }

void input_stdin_routine(uint32_t) {
  Cell* line = string::push_new(256);
  stdin_readline(line);
  stack::set_last(*line);
}

void read_stdin_routine(uint32_t) {
  Cell* frame = stack::arguments();
  Cell buffer = frame[0];
  int64_t count = read_stdin(&buffer, integer::get(frame[1]));
  stack::set_last(integer::make(static_cast<int32_t>(count)));
}

void terminal_size_routine(uint32_t) {
  init();
  int32_t columns, rows;
  window_size(&columns, &rows);
  if (columns > 0 && rows > 0) stack::set_last(pair::make(columns, rows));
  else none::set_result();
}

// The logic result tells system/console/init whether the title was set.
void console_title_routine(uint32_t) {
  Cell title = stack::arguments()[0];
  stack::set_last(logic::make(set_title(string::to_std_string(title))));
}

void register_routines() {
  upcalls::table.set_buffer_history = set_buffer_history_routine;
  upcalls::table.read_input = read_input_routine;
  upcalls::table.terminate_console = terminate_console_routine;
  upcalls::table.input_stdin = input_stdin_routine;
  upcalls::table.read_stdin = read_stdin_routine;
  upcalls::table.terminal_size = terminal_size_routine;
  upcalls::table.console_title = console_title_routine;
}

}  // namespace kel::terminal
