// The real terminal behind the TerminalIO seam: standard input and output
// on a text terminal.
//
// Raw mode turns off line editing, echo, the extended input keys, flow
// control and the carriage-return translation of input; it keeps the
// signal keys, so that Ctrl-C interrupts (the runtime's halt request ends
// the event loop, which puts the terminal back) and Ctrl-Z stops. Output
// processing stays as it was: the GUI writes its own CR LF.
//
// While raw mode is on, signal handlers keep the terminal safe on the ways
// out that run no GUI code: SIGTERM and SIGHUP write the restore sequence,
// put the saved mode back and then take their default action; SIGTSTP does
// the same and stops, and when the process goes on it sets raw mode and
// writes the re-enter sequence again (and notes kResumed, so that the next
// frame redraws everything). SIGWINCH notes kResized and ends a wait for
// input. The handlers that were there before come back when raw mode ends.
// The sequences live in fixed buffers that the handlers only read; they are
// changed with those signals blocked.
#pragma once

#include "gui/terminal/terminal_io.h"

namespace kel::tui {

class RealTerminal final : public TerminalIO {
 public:
  // The descriptors to use (standard input and output in the program; a
  // pseudo-terminal in tests).
  RealTerminal(int input_descriptor, int output_descriptor);
  ~RealTerminal() override;
  RealTerminal(const RealTerminal&) = delete;
  RealTerminal& operator=(const RealTerminal&) = delete;

  ptrdiff_t read(char* into, size_t room, int32_t timeout_milliseconds) override;
  ptrdiff_t write(const char* bytes, size_t count) override;
  bool size(int32_t* columns, int32_t* rows) override;
  bool set_raw_mode(bool on) override;
  int64_t now_microseconds() override;
  void set_mode_sequences(std::string_view restore, std::string_view reenter) override;
  uint32_t take_notices() override;

 private:
  int input_;
  int output_;
};

}  // namespace kel::tui
