// The console's input (see terminal.h).
//
// The line and history cells live in this module between setup and edit;
// they are collector roots, so the values stay reachable (and are updated
// when compaction moves them) while the read waits.
#include "console/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <deque>
#include <exception>
#include <vector>

#include "console/key_decoder.h"
#include "console/line_editor.h"
#include "datatypes/context.h"
#include "evaluator/natives_families.h"
#include "runtime/symbol_table.h"

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
#include "runtime/platform.h"
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

// --- The line editor on the terminal -----------------------------------------------------------
//
// During a read the terminal is in raw mode (no line discipline, no echo,
// no signal keys), so every key reaches the editor, Ctrl-C as the char 3;
// between reads it is in the mode it had, so Ctrl-C typed while code runs
// halts it. The mode is put back on every way out of a read: its end, an
// error unwinding through it (RawMode's destructor), the process's end
// (atexit), SIGTERM and SIGHUP (restored, then the signal's default
// action), SIGTSTP (restored; raw mode comes back on SIGCONT and the line
// is drawn again). SIGWINCH wakes the read through a pipe, whatever thread
// took the signal, and the line is laid out for the new width.

constexpr int kEscapeWaitMilliseconds = 50;

int draw_descriptor = -1;  // where the editor draws: the terminal
bool have_saved_mode = false;
struct termios saved_mode {};
volatile std::sig_atomic_t raw_mode_on = 0;
volatile std::sig_atomic_t resumed = 0;
int wake_pipe[2] = {-1, -1};
line_editor::Editor the_editor;
key_decoder::Decoder the_decoder;
// Keys that came after the end of the last read (typed ahead, or the rest
// of a paste): the next read takes them first.
std::deque<int32_t> queued_keys;

void restore_mode_now() {
  if (raw_mode_on && have_saved_mode) ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_mode);
  raw_mode_on = 0;
}

void enter_raw_mode() {
  if (!have_saved_mode) return;
  struct termios raw = saved_mode;
  raw.c_iflag &= ~static_cast<tcflag_t>(BRKINT | ICRNL | INLCR | IGNCR | ISTRIP | IXON);
  raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON | IEXTEN | ISIG);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (::tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) raw_mode_on = 1;
}

void wake_reader() {
  if (wake_pipe[1] < 0) return;
  int saved_errno = errno;
  char byte = 1;
  [[maybe_unused]] ssize_t ignored = ::write(wake_pipe[1], &byte, 1);
  errno = saved_errno;
}

void on_window_change(int) { wake_reader(); }

// The mode goes back, then the signal does what it would have done.
void on_ending_signal(int signal_number) {
  restore_mode_now();
  platform::raise_with_default_action(signal_number);
}

void on_stop(int) {
  int saved_errno = errno;
  bool was_raw = raw_mode_on;
  restore_mode_now();
  platform::raise_with_default_action(SIGTSTP);
  // Running again.
  struct sigaction stop {};
  stop.sa_handler = on_stop;
  sigemptyset(&stop.sa_mask);
  ::sigaction(SIGTSTP, &stop, nullptr);
  if (was_raw) {
    enter_raw_mode();
    resumed = 1;
    wake_reader();
  }
  errno = saved_errno;
}

void restore_at_exit() { restore_mode_now(); }

// Prepares the editor once: where to draw, the saved mode, the handlers.
bool editor_ready() {
  static int state = 0;  // 0 not tried, 1 ready, -1 not possible
  if (state != 0) return state > 0;
  state = -1;
  if (::tcgetattr(STDIN_FILENO, &saved_mode) != 0) return false;
  have_saved_mode = true;
  if (::isatty(STDOUT_FILENO) == 1) {
    draw_descriptor = STDOUT_FILENO;
  } else {
    // Results go to standard output; the line is drawn on the terminal.
    draw_descriptor = ::open("/dev/tty", O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (draw_descriptor < 0 && (::fcntl(STDIN_FILENO, F_GETFL) & O_ACCMODE) == O_RDWR) {
      draw_descriptor = STDIN_FILENO;
    }
    if (draw_descriptor < 0) return false;
  }
  if (::pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  std::atexit(restore_at_exit);
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  action.sa_handler = on_window_change;
  ::sigaction(SIGWINCH, &action, nullptr);
  action.sa_handler = on_ending_signal;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGHUP, &action, nullptr);
  action.sa_handler = on_stop;
  ::sigaction(SIGTSTP, &action, nullptr);
  state = 1;
  return true;
}

// Raw mode for the length of one read, restored however the read ends.
struct RawMode {
  RawMode() { enter_raw_mode(); }
  ~RawMode() { restore_mode_now(); }
  RawMode(const RawMode&) = delete;
  RawMode& operator=(const RawMode&) = delete;
};

void draw(const std::string& bytes) {
  size_t written = 0;
  while (written < bytes.size()) {
    ssize_t count = ::write(draw_descriptor, bytes.data() + written, bytes.size() - written);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return;
    written += static_cast<size_t>(count);
  }
}

int32_t screen_columns() {
  struct winsize size {};
  if (::ioctl(draw_descriptor, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  if (::ioctl(STDIN_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

// The column the prompt starts at: 0 after a line feed; otherwise the
// terminal is asked (ESC [ 6 n, answered ESC [ row ; column R). Keys that
// come with the answer are kept; no answer in time counts as column 0.
int32_t prompt_column() {
  if (natives_eval::last_line_feed()) return 0;
  draw("\x1B[6n");
  std::string received;
  for (int waits = 0; waits < 4; ++waits) {
    struct pollfd input {STDIN_FILENO, POLLIN, 0};
    if (::poll(&input, 1, kEscapeWaitMilliseconds) <= 0) continue;
    char bytes[256];
    ssize_t count = ::read(STDIN_FILENO, bytes, sizeof bytes);
    if (count <= 0) break;
    received.append(bytes, static_cast<size_t>(count));
    size_t at = received.find("\x1B[");
    while (at != std::string::npos) {
      size_t k = at + 2, row_digits = 0, column_digits = 0;
      int32_t column = 0;
      while (k < received.size() && received[k] >= '0' && received[k] <= '9') ++k, ++row_digits;
      if (k < received.size() && received[k] == ';' && row_digits > 0) {
        ++k;
        while (k < received.size() && received[k] >= '0' && received[k] <= '9') {
          column = column * 10 + (received[k] - '0');
          ++k, ++column_digits;
        }
        if (k < received.size() && received[k] == 'R' && column_digits > 0) {
          std::string others = received.substr(0, at) + received.substr(k + 1);
          std::vector<int32_t> keys;
          the_decoder.feed(others.data(), others.size(), &keys);
          queued_keys.insert(queued_keys.end(), keys.begin(), keys.end());
          return column - 1;
        }
      }
      at = received.find("\x1B[", at + 2);
    }
  }
  std::vector<int32_t> keys;
  the_decoder.feed(received.data(), received.size(), &keys);
  queued_keys.insert(queued_keys.end(), keys.begin(), keys.end());
  return 0;
}

std::vector<std::u32string> history_texts() {
  std::vector<std::u32string> texts;
  if (!current_history.is(TYPE_BLOCK)) return texts;
  Cell history = current_history;
  SeriesBuffer* buffer = memory::buffer_of(history.data2);
  uint32_t count = buffer->cell_count();
  for (uint32_t i = 0; i < count; ++i) {
    Cell entry = memory::buffer_of(history.data2)->cells()[i];
    if (!string::is_string_like(entry.type())) continue;
    entry.data1 = 0;
    texts.push_back(line_editor::from_utf8(string::to_std_string(entry)));
  }
  return texts;
}

// Completion through the console's Kel function kel-complete-input (with
// the line at the cursor and console? true), when there is one. Its block
// is read as texts: the first value's index is the new cursor.
line_editor::Completion complete_with_kel(const std::u32string& line, size_t cursor) {
  line_editor::Completion completion;
  Cell* slot = context::global_slot(symbol::make("kel-complete-input"));
  if (slot == nullptr || !slot->is(TYPE_FUNCTION)) return completion;
  Cell function = *slot;
  Cell* saved_top = stack::top;
  Cell* text = string::push_new(static_cast<uint32_t>(line.size()) + 1);
  string::append_utf8(text, line_editor::to_utf8(line.substr(0, cursor)));
  Cell arguments[2] = {*text, logic::make(true)};
  string::append_utf8(&arguments[0], line_editor::to_utf8(line.substr(cursor)));
  arguments[0].data1 = static_cast<uint32_t>(cursor);
  Cell result = interpreter::call_value(function, arguments, 2);
  stack::top = saved_top;
  if (!result.is(TYPE_BLOCK)) return completion;
  uint32_t count = memory::buffer_of(result.data2)->cell_count();
  for (uint32_t i = result.data1; i < count; ++i) {
    Cell value = memory::buffer_of(result.data2)->cells()[i];
    if (!string::is_string_like(value.type())) continue;
    if (completion.values.empty()) {
      completion.cursor = value.data1;
      value.data1 = 0;
    }
    completion.values.push_back(line_editor::from_utf8(string::to_std_string(value)));
  }
  return completion;
}

enum class EditorEnd { kAnswer, kEnd };

// One read with the editor; the answer goes into the line string.
EditorEnd edit_on_terminal(const Cell& prompt, bool hidden) {
  output::flush();
  std::string prompt_text = output::EscapeTranslator().translate(string::to_std_string(prompt));
  int32_t origin = 0;
  {
    RawMode raw;
    origin = prompt_column();
  }
  RawMode raw;
  char drained[64];
  while (::read(wake_pipe[0], drained, sizeof drained) > 0) {
  }
  resumed = 0;
  // An error raised by completion leaves the read: the cursor goes below
  // the line before the error is reported.
  struct LeaveTheLine {
    int unwinding = std::uncaught_exceptions();
    ~LeaveTheLine() {
      if (std::uncaught_exceptions() <= unwinding) return;
      the_editor.abandon();
      draw(the_editor.take_output());
    }
  } leave_the_line;
  the_editor.set_completer(complete_with_kel);
  the_editor.begin(line_editor::from_utf8(prompt_text), hidden, history_texts(), screen_columns(), origin);
  draw(the_editor.take_output());
  line_editor::Outcome outcome = line_editor::Outcome::kGoingOn;
  bool ended = false;
  while (outcome == line_editor::Outcome::kGoingOn && !ended) {
    while (!queued_keys.empty() && outcome == line_editor::Outcome::kGoingOn) {
      int32_t key = queued_keys.front();
      queued_keys.pop_front();
      outcome = the_editor.key(key);
    }
    if (outcome != line_editor::Outcome::kGoingOn) break;
    the_editor.render();
    draw(the_editor.take_output());
    struct pollfd waits[2] = {{STDIN_FILENO, POLLIN, 0}, {wake_pipe[0], POLLIN, 0}};
    int ready = ::poll(waits, 2, the_decoder.escape_pending() ? kEscapeWaitMilliseconds : -1);
    if (ready < 0) {
      if (errno != EINTR) break;
      // An interrupt sent to the process (the keyboard's Ctrl-C arrives
      // as a key) answers as Ctrl-C does.
      if (interpreter::halt_requested) {
        interpreter::halt_requested = 0;
        outcome = the_editor.key(key_decoder::keys::kCtrlC);
      }
      continue;
    }
    std::vector<int32_t> keys;
    if (ready == 0) {
      the_decoder.timeout(&keys);
    }
    if (waits[1].revents & POLLIN) {
      while (::read(wake_pipe[0], drained, sizeof drained) > 0) {
      }
      if (resumed) {
        resumed = 0;
        the_editor.redraw_on_new_row();
      } else {
        the_editor.resize(screen_columns());
      }
    }
    if (waits[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      char bytes[4096];
      ssize_t count = ::read(STDIN_FILENO, bytes, sizeof bytes);
      if (count > 0) {
        the_decoder.feed(bytes, static_cast<size_t>(count), &keys);
      } else if (count == 0 || errno != EINTR) {
        ended = true;  // the terminal is gone
      }
    }
    queued_keys.insert(queued_keys.end(), keys.begin(), keys.end());
  }
  draw(the_editor.take_output());
  if (ended) return EditorEnd::kEnd;
  if (current_line.is(TYPE_STRING)) {
    Cell line = current_line;
    string::append_utf8(&line, line_editor::to_utf8(the_editor.line()));
    if (the_editor.added_to_history() && current_history.is(TYPE_BLOCK)) {
      Cell history = current_history;
      block::insert_cells(&history, current_line, false, false);
    }
  }
  return EditorEnd::kAnswer;
}

}  // namespace

std::string repaired_utf8(const std::string& bytes) {
  return line_editor::to_utf8(line_editor::from_utf8(bytes));
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
  if (input_is_terminal && editor_ready()) {
    interpreter::halt_requested = 0;
    return edit_on_terminal(prompt, hidden) == EditorEnd::kAnswer;
  }
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
