// The console's input: one line of user input for `ask`, and the routines
// through which the console's Kel code reaches it; and the console window's
// title.
//
// State, one set for the process: whether standard input is a terminal
// (decided once by init), the line string and the history block of the
// current read (handed over by setup before every read, held as collector
// roots), and the line editor with the keys typed ahead of its next read.
//
// On a terminal each read runs the line editor (line_editor.h) in raw mode:
// it draws the prompt and the line (on the terminal even when standard
// output is redirected), walks the history, completes on Tab through the
// Kel function kel-complete-input, and puts the entered line at the head of
// the history block. Ctrl-C, and Ctrl-D on an empty line, answer "q". The
// terminal's mode is back to what it was whenever Kel code runs.
//
// Otherwise lines are read as UTF-8 bytes up to a line feed, one byte at a
// time so that nothing past the line is taken from the descriptor (a child
// process or `read-stdin` may read the rest). The line feed is not kept; a
// carriage return before it stays in the line. A byte that cannot start or
// continue a UTF-8 sequence becomes U+FFFD. The end of the data, or a read
// that fails, ends the input: the text read so far is the last line, and
// the read after it reports the end (the console then quits). An interrupt
// (Ctrl-C) while waiting for a line gives the line "q", as the line editor
// does.
//
// The title goes to a terminal on standard output as the sequence
// ESC ] 0 ; title BEL, which Linux consoles and xterm-like terminals take;
// redirected output gets nothing, so that it holds only what was printed.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/cell.h"

namespace kel::terminal {

// How a read of one line ended.
enum class ReadOutcome {
  kLine,         // a line (possibly the last one, without its line feed)
  kEnd,          // no more input
  kInterrupted,  // Ctrl-C while waiting
};

// Decides whether standard input is a terminal.
void init();
bool console_input();

// The window size in columns and rows, or 0x0 when standard input is no
// terminal or the size cannot be read.
void window_size(int32_t* columns, int32_t* rows);

// Sets the terminal's title to the text (its control characters left out,
// so that it cannot end the sequence early). True when standard output is
// no terminal; false when writing the sequence failed.
bool set_title(const std::string& utf8);
std::string title_sequence(const std::string& utf8);

// Hands over the line buffer and the history block of the next read.
void setup(const Cell& line, const Cell& history);

// Reads one line into the line buffer (after writing the prompt on a
// terminal). False when the input has ended.
bool edit(const Cell& prompt, bool hidden);

// Appends one line of standard input to the string (see the header text).
ReadOutcome stdin_readline(Cell* line);

// Reads up to count bytes of standard input into the binary at its tail;
// the count read, 0 at the end of the input, -1 on failure.
int64_t read_stdin(Cell* binary, int64_t count);

// The routine entries (routines.h) of the console's input: _set-buffer-
// history, _read-input, _terminate-console, input-stdin, read-stdin, and
// the window size and title that system/console/init reads and sets. The
// library's routine rows reach them through the registration table, which
// register_routines fills at start-up.
void register_routines();
void set_buffer_history_routine(uint32_t);
void read_input_routine(uint32_t);
void terminate_console_routine(uint32_t);
void input_stdin_routine(uint32_t);
void read_stdin_routine(uint32_t);
void terminal_size_routine(uint32_t);
void console_title_routine(uint32_t);

// Exposed for tests: decodes bytes as UTF-8 text, each byte that cannot
// start or continue a sequence (and a sequence cut short) as U+FFFD.
std::string repaired_utf8(const std::string& bytes);

}  // namespace kel::terminal
