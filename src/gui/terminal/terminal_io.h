// The seam between the terminal GUI and the terminal itself: reading and
// writing bytes, the size, raw mode, a clock, and what signals noticed.
// The real terminal (real_terminal.h) sits behind it in the program; the
// tests put a scripted one in its place, so that the screen writer, the
// input parser and the session are checked byte for byte.
//
// The restore sequence is what puts the terminal back as the GUI found it
// (mouse reporting off, alternate screen left, cursor shown), the re-enter
// sequence what sets the GUI's modes again; the display keeps both current
// at every change of those modes, so that a way out that runs no C++ code
// of the GUI (a signal, the process ending) can still write the first, and
// a stopped process that goes on (SIGCONT) the second.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kel::tui {

// Bits of TerminalIO::take_notices.
namespace notice {
constexpr uint32_t kResized = 0x1;  // the window size changed (SIGWINCH)
constexpr uint32_t kResumed = 0x2;  // the process went on after a stop (SIGCONT): redraw whole
}  // namespace notice

class TerminalIO {
 public:
  virtual ~TerminalIO() = default;
  // Reads at most room bytes of what is there, waiting up to the timeout
  // (milliseconds, 0 for no wait) for the first one: the count read, 0
  // when nothing came (or the wait was interrupted), -1 at the end of the
  // input or on failure. Never blocks past the timeout.
  virtual ptrdiff_t read(char* into, size_t room, int32_t timeout_milliseconds) = 0;
  // Writes some of the bytes: the count written (at least 1), or -1 when
  // the terminal can take no more. Callers loop (write_all).
  virtual ptrdiff_t write(const char* bytes, size_t count) = 0;
  // The terminal's columns and rows; false when they cannot be read.
  virtual bool size(int32_t* columns, int32_t* rows) = 0;
  // Raw mode on (no line editing, no echo, every key as typed) or the mode
  // the terminal had back; false when the terminal refused.
  virtual bool set_raw_mode(bool on) = 0;
  // A monotonic clock in microseconds.
  virtual int64_t now_microseconds() = 0;
  // The bytes that undo the GUI's terminal modes and those that set them
  // again (see above); both empty while no GUI runs.
  virtual void set_mode_sequences(std::string_view restore, std::string_view reenter) = 0;
  // The notices (bits above) gathered since the last call, then cleared.
  virtual uint32_t take_notices() = 0;
};

// Writes every byte, looping over partial writes; false when the terminal
// failed before all were written.
bool write_all(TerminalIO& io, const char* bytes, size_t count);
inline bool write_all(TerminalIO& io, std::string_view bytes) {
  return write_all(io, bytes.data(), bytes.size());
}

}  // namespace kel::tui
