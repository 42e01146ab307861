// The real terminal: termios, the window size, the signals that must not
// leave the terminal in the GUI's modes (see real_terminal.h).
#include "gui/terminal/real_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "runtime/platform.h"

namespace kel::tui {

namespace {

// What the signal handlers read: set up while raw mode is on, with the
// handled signals blocked whenever it changes.
struct SignalState {
  int input = -1;
  int output = -1;
  struct termios saved {};
  struct termios raw {};
  char restore[256] = {};
  size_t restore_length = 0;
  char reenter[256] = {};
  size_t reenter_length = 0;
  int wake[2] = {-1, -1};
};
SignalState state;
volatile std::sig_atomic_t raw_mode_on = 0;
volatile std::sig_atomic_t pending_notices = 0;

constexpr int kHandledSignals[] = {SIGTERM, SIGHUP, SIGTSTP, SIGWINCH};
constexpr size_t kHandledCount = sizeof kHandledSignals / sizeof kHandledSignals[0];
struct sigaction previous_actions[kHandledCount];

sigset_t handled_set() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal_number : kHandledSignals) sigaddset(&set, signal_number);
  return set;
}

// Runs a change of the state with the handlers kept out.
template <class Change>
void with_signals_blocked(Change change) {
  sigset_t set = handled_set(), before;
  pthread_sigmask(SIG_BLOCK, &set, &before);
  change();
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

void write_fully(int descriptor, const char* bytes, size_t count) {
  while (count > 0) {
    ssize_t written = ::write(descriptor, bytes, count);
    if (written < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (written <= 0) return;
    bytes += written;
    count -= static_cast<size_t>(written);
  }
}

void wake_reader() {
  if (state.wake[1] < 0) return;
  char byte = 1;
  [[maybe_unused]] ssize_t ignored = ::write(state.wake[1], &byte, 1);
}

// Only async-signal-safe calls from here to the end of the handlers.
void restore_now() {
  write_fully(state.output, state.restore, state.restore_length);
  ::tcsetattr(state.input, TCSANOW, &state.saved);
}

void install(int signal_number);

void on_signal(int signal_number) {
  int saved_errno = errno;
  if (signal_number == SIGWINCH) {
    pending_notices = pending_notices | notice::kResized;
    wake_reader();
  } else if (raw_mode_on && signal_number == SIGTSTP) {
    restore_now();
    platform::raise_with_default_action(SIGTSTP);
    // Going on after the stop: the GUI's modes again, and a whole redraw.
    install(SIGTSTP);
    ::tcsetattr(state.input, TCSANOW, &state.raw);
    write_fully(state.output, state.reenter, state.reenter_length);
    pending_notices = pending_notices | notice::kResumed;
    wake_reader();
  } else if (raw_mode_on) {
    restore_now();
    platform::raise_with_default_action(signal_number);
  } else {
    platform::raise_with_default_action(signal_number);
  }
  errno = saved_errno;
}

void install(int signal_number) {
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal_number, &action, nullptr);
}

void copy_sequence(std::string_view bytes, char* into, size_t* length) {
  size_t count = std::min(bytes.size(), sizeof state.restore);
  std::memcpy(into, bytes.data(), count);
  *length = count;
}

}  // namespace

RealTerminal::RealTerminal(int input_descriptor, int output_descriptor)
    : input_(input_descriptor), output_(output_descriptor) {}

RealTerminal::~RealTerminal() { set_raw_mode(false); }

ptrdiff_t RealTerminal::read(char* into, size_t room, int32_t timeout_milliseconds) {
  struct pollfd waits[2] = {{input_, POLLIN, 0}, {state.wake[0], POLLIN, 0}};
  nfds_t count = state.wake[0] >= 0 ? 2 : 1;
  int ready = ::poll(waits, count, std::max(timeout_milliseconds, 0));
  if (ready <= 0) return 0;  // nothing, or a signal ended the wait
  if (count == 2 && (waits[1].revents & POLLIN) != 0) {
    char drained[64];
    while (::read(state.wake[0], drained, sizeof drained) > 0) {
    }
  }
  if ((waits[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) return 0;
  ssize_t got = ::read(input_, into, room);
  if (got < 0 && (errno == EINTR || errno == EAGAIN)) return 0;
  return got > 0 ? got : -1;
}

ptrdiff_t RealTerminal::write(const char* bytes, size_t count) {
  for (;;) {
    ssize_t written = ::write(output_, bytes, count);
    if (written > 0) return written;
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && errno == EAGAIN) {
      struct pollfd wait {output_, POLLOUT, 0};
      ::poll(&wait, 1, 100);
      continue;
    }
    return -1;
  }
}

bool RealTerminal::size(int32_t* columns, int32_t* rows) {
  struct winsize window {};
  if (::ioctl(output_, TIOCGWINSZ, &window) != 0 && ::ioctl(input_, TIOCGWINSZ, &window) != 0) return false;
  *columns = window.ws_col;
  *rows = window.ws_row;
  return window.ws_col > 0 && window.ws_row > 0;
}

bool RealTerminal::set_raw_mode(bool on) {
  if (on == static_cast<bool>(raw_mode_on)) return true;
  if (on) {
    struct termios saved {};
    if (::tcgetattr(input_, &saved) != 0) return false;
    struct termios raw = saved;
    raw.c_iflag &= ~static_cast<tcflag_t>(BRKINT | ICRNL | INLCR | IGNCR | ISTRIP | IXON);
    raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON | IEXTEN);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (::tcsetattr(input_, TCSANOW, &raw) != 0) return false;
    with_signals_blocked([&] {
      state.input = input_;
      state.output = output_;
      state.saved = saved;
      state.raw = raw;
      if (state.wake[0] < 0 && ::pipe2(state.wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        state.wake[0] = state.wake[1] = -1;
      }
      for (size_t i = 0; i < kHandledCount; ++i) {
        struct sigaction action {};
        action.sa_handler = on_signal;
        sigemptyset(&action.sa_mask);
        ::sigaction(kHandledSignals[i], &action, &previous_actions[i]);
      }
      raw_mode_on = 1;
    });
    return true;
  }
  with_signals_blocked([&] {
    ::tcsetattr(state.input, TCSANOW, &state.saved);
    for (size_t i = 0; i < kHandledCount; ++i) ::sigaction(kHandledSignals[i], &previous_actions[i], nullptr);
    raw_mode_on = 0;
    state.restore_length = state.reenter_length = 0;
  });
  return true;
}

int64_t RealTerminal::now_microseconds() {
  struct timespec now {};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1000000 + now.tv_nsec / 1000;
}

void RealTerminal::set_mode_sequences(std::string_view restore, std::string_view reenter) {
  with_signals_blocked([&] {
    copy_sequence(restore, state.restore, &state.restore_length);
    copy_sequence(reenter, state.reenter, &state.reenter_length);
  });
}

uint32_t RealTerminal::take_notices() {
  uint32_t notices = 0;
  with_signals_blocked([&] {
    notices = static_cast<uint32_t>(pending_notices);
    pending_notices = 0;
  });
  return notices;
}

}  // namespace kel::tui
