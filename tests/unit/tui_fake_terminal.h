// A scripted terminal for the terminal GUI's tests: reads hand out the
// chunks queued in `reads` one per call, writes are gathered in `written`
// (at most write_chunk bytes a call, so that short writes are exercised),
// the clock moves only when a test moves it.
#pragma once

#include <cstring>
#include <deque>
#include <string>

#include "gui/terminal/terminal_io.h"

namespace kel::testing {

class FakeTerminal final : public tui::TerminalIO {
 public:
  std::deque<std::string> reads;
  std::string written;
  size_t write_chunk = SIZE_MAX;
  size_t write_limit = SIZE_MAX;  // the terminal fails past this many bytes
  int32_t columns = 80, rows = 24;
  bool size_known = true;
  bool raw = false;
  bool raw_allowed = true;
  int64_t clock = 0;
  std::string restore, reenter;
  uint32_t notices = 0;
  int32_t last_timeout = -1;

  ptrdiff_t read(char* into, size_t room, int32_t timeout_milliseconds) override {
    last_timeout = timeout_milliseconds;
    if (reads.empty()) return 0;
    std::string chunk = reads.front();
    reads.pop_front();
    size_t count = std::min(room, chunk.size());
    std::memcpy(into, chunk.data(), count);
    if (count < chunk.size()) reads.push_front(chunk.substr(count));
    return static_cast<ptrdiff_t>(count);
  }
  ptrdiff_t write(const char* bytes, size_t count) override {
    if (written.size() >= write_limit) return -1;
    size_t part = std::min({count, write_chunk, write_limit - written.size()});
    written.append(bytes, part);
    return static_cast<ptrdiff_t>(part);
  }
  bool size(int32_t* c, int32_t* r) override {
    *c = columns;
    *r = rows;
    return size_known;
  }
  bool set_raw_mode(bool on) override {
    if (on && !raw_allowed) return false;
    raw = on;
    return true;
  }
  int64_t now_microseconds() override { return clock; }
  void set_mode_sequences(std::string_view r, std::string_view e) override {
    restore = r;
    reenter = e;
  }
  uint32_t take_notices() override {
    uint32_t taken = notices;
    notices = 0;
    return taken;
  }
  // What was written since the last call.
  std::string take_written() {
    std::string taken = written;
    written.clear();
    return taken;
  }
};

}  // namespace kel::testing
