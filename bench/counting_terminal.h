// A terminal for the frame benchmarks: it counts the bytes written and
// reads nothing; its console is 160 columns by 60 rows and its clock stands
// still, so frames are timed by the benchmark itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "gui/terminal/terminal_io.h"

namespace kel::tui {

class CountingTerminal final : public TerminalIO {
 public:
  size_t bytes = 0;
  ptrdiff_t read(char*, size_t, int32_t) override { return 0; }
  ptrdiff_t write(const char*, size_t count) override {
    bytes += count;
    return static_cast<ptrdiff_t>(count);
  }
  bool size(int32_t* columns, int32_t* rows) override {
    *columns = 160;
    *rows = 60;
    return true;
  }
  bool set_raw_mode(bool) override { return true; }
  int64_t now_microseconds() override { return 0; }
  void set_mode_sequences(std::string_view, std::string_view) override {}
  uint32_t take_notices() override { return 0; }
};

}  // namespace kel::tui
