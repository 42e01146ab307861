// The terminal GUI's frames and sessions: a frame's order of work through a
// scripted terminal, the terminal put back on every way out of a session,
// and the real terminal on a pseudo-terminal, where signals must leave it
// as it was found.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "gui/terminal/frames.h"
#include "gui/terminal/real_terminal.h"
#include "tui_fake_terminal.h"
#include "tui_test_helpers.h"

namespace kel::tui {
namespace {

using testing::FakeTerminal;
using testing::terminal_bytes;
using testing::visible;

// Records what a frame asks of the GUI, in order.
struct RecordingClient : FrameClient {
  std::vector<std::string> calls;
  void run_timers(int32_t tick) override { calls.push_back("timers " + std::to_string(tick)); }
  void render(Screen& screen, Display&) override {
    calls.push_back("render");
    screen.put(0, 0, 'x', {}, screen.bounds());
  }
  void key(int32_t key, uint32_t flags) override {
    calls.push_back("key " + std::to_string(key) + (flags ? " flagged" : ""));
  }
  void mouse(const MouseAction& action) override {
    calls.push_back("mouse " + std::to_string(action.type) + " " + std::to_string(static_cast<int>(action.x)) +
                    "," + std::to_string(static_cast<int>(action.y)));
  }
  void console_resized(int32_t columns, int32_t rows) override {
    calls.push_back("resized " + std::to_string(columns) + "x" + std::to_string(rows));
  }
  std::string take() {
    std::string text;
    for (const std::string& call : calls) text += (text.empty() ? "" : "; ") + call;
    calls.clear();
    return text;
  }
};

// A frame reads all that came, takes the notices, runs the timers with the
// time since the last frame, presents, then delivers: cursor reports move
// the origin before the mouse reports after them are placed.
TEST(TuiFrames, OrderOfWork) {
  FakeTerminal io;
  TerminalFrames frames(io);
  RecordingClient client;
  frames.enter(true);
  io.take_written();
  frames.display().set_window_size(3, 2);
  frames.display().mark_dirty();
  io.reads = {"a" + terminal_bytes(R"(\e[5;1R)"), terminal_bytes(R"(\e[<0;3;7M\e[A)")};
  EXPECT_TRUE(frames.run_frame(client, false));
  EXPECT_EQ(io.last_timeout, 0);  // after the first byte, only what is there
  EXPECT_EQ(client.take(), "timers 33; render; key 97; mouse 1 2,2; key -20 flagged");
  EXPECT_EQ(frames.display().origin_row(), 4);
  EXPECT_FALSE(frames.display().dirty());

  // An idle frame waits for input up to the frame's time; the timers get
  // the time that passed.
  io.clock += 50000;
  io.notices = notice::kResized;
  io.columns = 100;
  EXPECT_FALSE(frames.run_frame(client, false));
  EXPECT_EQ(io.last_timeout, TerminalFrames::kFrameMilliseconds);
  EXPECT_EQ(client.take(), "resized 100x24; timers 50; render");

  // Polling: nothing came, nothing runs.
  EXPECT_FALSE(frames.run_frame(client, true));
  EXPECT_EQ(client.take(), "");
  EXPECT_EQ(io.last_timeout, 0);
  frames.leave();
}

// A sequence cut by the end of a frame's reads is finished in the next.
TEST(TuiFrames, SplitSequenceWaitsForTheNextFrame) {
  FakeTerminal io;
  TerminalFrames frames(io);
  RecordingClient client;
  frames.enter(false);
  io.reads = {terminal_bytes(R"(\e[1)")};
  frames.run_frame(client, true);
  EXPECT_EQ(client.take(), "timers 33");
  io.reads = {"5~"};
  frames.run_frame(client, true);
  EXPECT_EQ(client.take(), "timers 0; key -35 flagged");
  frames.leave();
}

// After a stop and continue the modes were set again by the signal
// handler: the display redraws everything.
TEST(TuiFrames, ResumedRedrawsWhole) {
  FakeTerminal io;
  TerminalFrames frames(io);
  RecordingClient client;
  frames.display().set_mode(DisplayMode::kFullScreen);
  frames.enter(false);
  frames.display().set_window_size(2, 1);
  frames.display().mark_dirty();
  frames.run_frame(client, false);
  io.take_written();
  frames.run_frame(client, false);
  EXPECT_EQ(io.take_written(), "");
  io.notices = notice::kResumed;
  frames.run_frame(client, false);
  EXPECT_EQ(visible(io.take_written()), R"(\e[2J\e[Hx )");
  frames.leave();
}

// The session puts the terminal back however its scope ends: a return, an
// error unwinding through it. Leaving twice does nothing more.
TEST(TuiSession, RestoredOnEveryWayOut) {
  const char* kRestored = R"(\e[?1000l\e[?1003l\e[?1015l\e[?1006l\e[?1049l\e[?25h)";
  for (bool by_error : {false, true}) {
    FakeTerminal io;
    TerminalFrames frames(io);
    try {
      frames.display().set_mode(DisplayMode::kFullScreen);
      TerminalSession session(frames, true);
      frames.display().hide_cursor();
      EXPECT_TRUE(io.raw);
      EXPECT_EQ(visible(io.restore), kRestored);
      io.take_written();
      if (by_error) throw std::runtime_error("an error in an actor");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(visible(io.take_written()), kRestored) << by_error;
    EXPECT_FALSE(io.raw);
    EXPECT_EQ(io.restore, "");
    frames.leave();
    EXPECT_EQ(io.take_written(), "");
  }
}

// Input still waiting when the session ends is dropped, not typed into the
// console afterwards.
TEST(TuiSession, PendingInputDiscarded) {
  FakeTerminal io;
  TerminalFrames frames(io);
  {
    TerminalSession session(frames, false);
    io.reads = {"typed ahead"};
  }
  EXPECT_TRUE(io.reads.empty());
}

// --- The real terminal on a pseudo-terminal ------------------------------------------------------

struct PseudoTerminal {
  int controller = -1;
  int device = -1;
  PseudoTerminal() {
    controller = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (controller < 0 || ::grantpt(controller) != 0 || ::unlockpt(controller) != 0) return;
    device = ::open(::ptsname(controller), O_RDWR | O_NOCTTY);
  }
  ~PseudoTerminal() {
    if (device >= 0) ::close(device);
    if (controller >= 0) ::close(controller);
  }
  // What the program wrote, up to the text (or everything within the time).
  std::string read_until(const std::string& text, int milliseconds = 5000) {
    std::string got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (got.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      struct pollfd wait {controller, POLLIN, 0};
      if (::poll(&wait, 1, 50) <= 0) continue;
      char bytes[1024];
      ssize_t count = ::read(controller, bytes, sizeof bytes);
      if (count <= 0) break;
      got.append(bytes, static_cast<size_t>(count));
    }
    return got;
  }
  bool canonical_with_echo() {
    struct termios mode {};
    ::tcgetattr(device, &mode);
    return (mode.c_lflag & ICANON) != 0 && (mode.c_lflag & ECHO) != 0;
  }
};

// A child process holds a full-screen session with mouse reporting and a
// hidden cursor on the pseudo-terminal, then waits for signals.
pid_t start_gui_child(PseudoTerminal& terminal) {
  pid_t child = ::fork();
  if (child != 0) return child;
  // A group of its own, with its parent outside it: a stop signal's
  // default action then stops it (in an orphaned group it would not).
  ::setpgid(0, 0);
  RealTerminal real(terminal.device, terminal.device);
  TerminalFrames frames(real);
  frames.display().set_mode(DisplayMode::kFullScreen);
  frames.enter(true);
  frames.display().hide_cursor();
  real.write("READY", 5);
  for (;;) ::pause();
}

// Waits for the child's state change, at most a few seconds (a child that
// does not change is killed, and the wait reports false).
bool wait_for(pid_t child, int* status, int options) {
  for (int tries = 0; tries < 500; ++tries) {
    pid_t done = ::waitpid(child, status, options | WNOHANG);
    if (done == child) return true;
    ::usleep(10000);
  }
  ::kill(child, SIGKILL);
  ::waitpid(child, status, 0);
  return false;
}

const char* kRestoreBytes = R"(\e[?1000l\e[?1003l\e[?1015l\e[?1006l\e[?1049l\e[?25h)";
const char* kReenterBytes = R"(\e[?1000h\e[?1003h\e[?1015h\e[?1006h\e[?1049h\e[2J\e[?25l)";

// SIGTERM and SIGHUP put the terminal back (modes, canonical input and
// echo) before the process ends by the signal.
TEST(TuiRealTerminal, EndingSignalsRestore) {
  for (int signal_number : {SIGTERM, SIGHUP}) {
    PseudoTerminal terminal;
    ASSERT_GE(terminal.device, 0);
    ASSERT_TRUE(terminal.canonical_with_echo());
    pid_t child = start_gui_child(terminal);
    ASSERT_GT(child, 0);
    std::string started = terminal.read_until("READY");
    ASSERT_NE(started.find("READY"), std::string::npos) << visible(started);
    EXPECT_FALSE(terminal.canonical_with_echo());
    ::kill(child, signal_number);
    int status = 0;
    ASSERT_TRUE(wait_for(child, &status, 0));
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << signal_number;
    EXPECT_EQ(visible(terminal.read_until(terminal_bytes(kRestoreBytes), 2000)), kRestoreBytes);
    EXPECT_TRUE(terminal.canonical_with_echo()) << signal_number;
  }
}

// SIGTSTP puts the terminal back and stops; SIGCONT sets the GUI's modes
// again.
TEST(TuiRealTerminal, StopRestoresAndContinueReenters) {
  PseudoTerminal terminal;
  ASSERT_GE(terminal.device, 0);
  pid_t child = start_gui_child(terminal);
  ASSERT_GT(child, 0);
  terminal.read_until("READY");
  ::kill(child, SIGTSTP);
  int status = 0;
  ASSERT_TRUE(wait_for(child, &status, WUNTRACED));
  EXPECT_TRUE(WIFSTOPPED(status));
  EXPECT_EQ(visible(terminal.read_until(terminal_bytes(kRestoreBytes), 2000)), kRestoreBytes);
  EXPECT_TRUE(terminal.canonical_with_echo());
  ::kill(child, SIGCONT);
  EXPECT_EQ(visible(terminal.read_until(terminal_bytes(kReenterBytes), 2000)), kReenterBytes);
  EXPECT_FALSE(terminal.canonical_with_echo());
  ::kill(child, SIGTERM);
  EXPECT_TRUE(wait_for(child, &status, 0));
  EXPECT_TRUE(terminal.canonical_with_echo());
}

volatile sig_atomic_t interrupted = 0;
void on_interrupt(int) { interrupted = 1; }

// Ctrl-C typed at the terminal interrupts the GUI (raw mode keeps the
// signal keys): the frames' wait for input ends, the loop ends, and the
// session puts the terminal back on its way out.
TEST(TuiRealTerminal, CtrlCEndsTheLoopAndRestores) {
  PseudoTerminal terminal;
  ASSERT_GE(terminal.device, 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The pseudo-terminal becomes the child's controlling terminal, so
    // that Ctrl-C typed there reaches it as SIGINT.
    ::setsid();
    ::ioctl(terminal.device, TIOCSCTTY, 0);
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    RealTerminal real(terminal.device, terminal.device);
    TerminalFrames frames(real);
    RecordingClient client;
    {
      frames.display().set_mode(DisplayMode::kFullScreen);
      TerminalSession session(frames, true);
      real.write("READY", 5);
      while (!interrupted) frames.run_frame(client, false);
    }
    real.write("DONE", 4);
    ::_exit(0);
  }
  terminal.read_until("READY");
  ASSERT_EQ(::write(terminal.controller, "\x03", 1), 1);
  std::string rest = terminal.read_until("DONE", 3000);
  int status = 0;
  ASSERT_TRUE(wait_for(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(visible(rest), R"(\e[?1000l\e[?1003l\e[?1015l\e[?1006l\e[?1049lDONE)");
  EXPECT_TRUE(terminal.canonical_with_echo());
}

// Raw mode keeps the signal keys (Ctrl-C interrupts, Ctrl-Z stops) and
// takes every other key as typed; leaving gives the saved mode back.
TEST(TuiRealTerminal, RawModeAndBack) {
  PseudoTerminal terminal;
  ASSERT_GE(terminal.device, 0);
  RealTerminal real(terminal.device, terminal.device);
  ASSERT_TRUE(real.set_raw_mode(true));
  struct termios mode {};
  ::tcgetattr(terminal.device, &mode);
  EXPECT_EQ(mode.c_lflag & (ICANON | ECHO | IEXTEN), 0u);
  EXPECT_NE(mode.c_lflag & ISIG, 0u);
  EXPECT_EQ(mode.c_iflag & ICRNL, 0u);
  // Input arrives as typed, without waiting for a line.
  ASSERT_EQ(::write(terminal.controller, "q\r", 2), 2);
  char bytes[8];
  ptrdiff_t count = real.read(bytes, sizeof bytes, 1000);
  EXPECT_EQ(std::string(bytes, count > 0 ? static_cast<size_t>(count) : 0), "q\r");
  EXPECT_EQ(real.read(bytes, sizeof bytes, 0), 0);  // nothing more: no wait
  ASSERT_TRUE(real.set_raw_mode(false));
  EXPECT_TRUE(terminal.canonical_with_echo());
}

}  // namespace
}  // namespace kel::tui
