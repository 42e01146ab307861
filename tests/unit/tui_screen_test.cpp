// The terminal GUI's screen and display: color conversion, the cell grid
// with wide characters, and the bytes each frame writes, byte for byte.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "gui/terminal/display.h"
#include "gui/terminal/screen.h"
#include "tui_fake_terminal.h"
#include "tui_test_helpers.h"

namespace kel::tui {
namespace {

using testing::FakeTerminal;
using testing::visible;

uint32_t packed(uint32_t red, uint32_t green, uint32_t blue, uint32_t alpha = 0) {
  return red | green << 8 | blue << 16 | alpha << 24;
}

void paint(Screen& screen, int32_t x, int32_t y, std::u32string_view text, CellStyle style = {}) {
  for (char32_t c : text) x += screen.put(x, y, static_cast<uint32_t>(c), style, screen.bounds());
}

// A tuple color becomes the nearer of the closest cube color and the
// closest grey; alpha 255 is the terminal's default.
TEST(TuiColor, RgbTo256) {
  struct Case {
    uint32_t color;
    uint32_t expected;
  };
  const Case cases[] = {
      {packed(255, 0, 0), color::palette256(196)},
      {packed(128, 128, 128), color::palette256(244)},  // the cube's 102 is farther
      {packed(0, 0, 0), color::palette256(16)},
      {packed(255, 255, 255), color::palette256(231)},
      {packed(8, 8, 8), color::palette256(232)},
      {packed(0, 0, 255), color::palette256(21)},
      {packed(10, 20, 30, 255), color::kDefault},
      {packed(95, 135, 0, 10), color::palette256(64)},
  };
  for (const Case& c : cases) EXPECT_EQ(color::rgb_to_256(c.color), c.expected) << std::hex << c.color;
}

// Each kind of color word has its SGR form.
TEST(TuiSgr, Colors) {
  struct Case {
    uint32_t word;
    bool foreground;
    const char* expected;
  };
  const Case cases[] = {
      {color::kDefault, true, R"(\e[39m)"},
      {color::kDefault, false, R"(\e[49m)"},
      {color::table16(0), true, R"(\e[30m)"},
      {color::table16(7), false, R"(\e[47m)"},
      {color::table16(8), true, R"(\e[0m)"},
      {color::table16(9), true, R"(\e[39m)"},
      {color::table16(9), false, R"(\e[49m)"},
      {color::table16(10), true, R"(\e[90m)"},
      {color::table16(17), false, R"(\e[107m)"},
      {color::table16(18), true, R"(\e[0m)"},
      {color::palette256(200), true, R"(\e[38;5;200m)"},
      {color::palette256(21), false, R"(\e[48;5;21m)"},
      {color::true_color(255, 128, 0), false, R"(\e[48;2;255;128;0m)"},
      {color::true_color(1, 2, 3), true, R"(\e[38;2;1;2;3m)"},
      {3u << 24, true, R"(\e[0m)"},
  };
  for (const Case& c : cases) {
    std::string out;
    append_sgr_color(&out, c.word, c.foreground);
    EXPECT_EQ(visible(out), c.expected) << std::hex << c.word;
  }
}

// Only the differences between two cells are sent, attributes first (dim,
// reverse, bold, italic, strike, underline), then foreground, then
// background. Bold and dim share their "off": turning one off sends the
// other again when it stays on.
TEST(TuiSgr, AttributeChanges) {
  using namespace attribute;
  struct Case {
    uint32_t before;
    uint32_t after;
    const char* expected;
  };
  const Case cases[] = {
      {0, kBold, R"(\e[1m)"},
      {0, kDim, R"(\e[2m)"},
      {0, kDim | kBold, R"(\e[2m\e[1m)"},
      {kBold, 0, R"(\e[22m)"},
      {kDim, 0, R"(\e[22m)"},
      {kBold | kDim, kDim, R"(\e[22m\e[2m)"},   // bold off, dim stays
      {kBold | kDim, kBold, R"(\e[22m\e[1m)"},  // dim off, bold stays
      {kDim, kBold, R"(\e[22m\e[1m)"},
      {kBold, kBold | kDim, R"(\e[2m)"},
      {0, kReverse | kUnderline | kItalic | kStrike, R"(\e[7m\e[3m\e[9m\e[4m)"},
      {kReverse | kUnderline, 0, R"(\e[27m\e[24m)"},
      {kItalic | kStrike, kItalic, R"(\e[29m)"},
      {kBold | kReverse, kDim, R"(\e[22m\e[2m\e[27m)"},
      {0, kBlink | kHidden, ""},  // kept in the cell, never written
      {kBold, kBold, ""},
  };
  for (const Case& c : cases) {
    std::string out;
    ScreenCell before{'a', 0, 0, c.before}, after{'b', 0, 0, c.after};
    ScreenCell state = append_sgr_attributes(&out, before, after);
    EXPECT_EQ(visible(out), c.expected) << std::hex << c.before << " -> " << c.after;
    EXPECT_EQ(state, after);
  }
}

TEST(TuiSgr, ColorsFollowAttributes) {
  std::string out;
  ScreenCell red_bold{'x', color::palette256(21), color::palette256(196), attribute::kBold};
  append_sgr_attributes(&out, ScreenCell{}, red_bold);
  EXPECT_EQ(visible(out), R"(\e[1m\e[38;5;196m\e[48;5;21m)");
  out.clear();
  append_sgr_attributes(&out, red_bold, ScreenCell{});
  EXPECT_EQ(visible(out), R"(\e[22m\e[39m\e[49m)");
}

// --- The cell grid -------------------------------------------------------------------------------

// A wide character takes two cells, the second a continuation; painting
// over either half leaves no half character behind; a wide character
// that does not fit becomes a space.
TEST(TuiScreen, WideCharacters) {
  Screen screen;
  screen.resize(4, 1);
  EXPECT_EQ(screen.put(0, 0, 0x4E2D, {}, screen.bounds()), 2);
  EXPECT_EQ(screen.at(0, 0).code_point, 0x4E2Du);
  EXPECT_EQ(screen.at(1, 0).attributes, attribute::kContinuation);

  // Over the second half: the first becomes a space.
  EXPECT_EQ(screen.put(1, 0, 'x', {}, screen.bounds()), 1);
  EXPECT_EQ(screen.at(0, 0).code_point, uint32_t{' '});
  EXPECT_EQ(screen.at(1, 0), (ScreenCell{'x', 0, 0, 0}));

  // Over the first half: the second becomes a space.
  screen.put(2, 0, 0x4E2D, {}, screen.bounds());
  EXPECT_EQ(screen.put(2, 0, 'y', {}, screen.bounds()), 1);
  EXPECT_EQ(screen.at(3, 0), (ScreenCell{' ', 0, 0, 0}));

  // At the last column there is no room for the second half.
  EXPECT_EQ(screen.put(3, 0, 0x4E2D, {}, screen.bounds()), 1);
  EXPECT_EQ(screen.at(3, 0).code_point, uint32_t{' '});
  // Nor at the clip's last column.
  EXPECT_EQ(screen.put(1, 0, 0x4E2D, {}, CellRect{0, 0, 2, 1}), 1);
  EXPECT_EQ(screen.at(1, 0).code_point, uint32_t{' '});
}

// What cells a character takes: nothing outside the clip or for a
// combining mark; a control character never reaches a cell as itself, so
// no text can send raw escape bytes to the terminal.
TEST(TuiScreen, PutChecksItsCharacter) {
  struct Case {
    uint32_t code_point;
    int32_t x;
    int32_t width;
    uint32_t stored;
  };
  const Case cases[] = {
      {'a', 0, 1, 'a'},
      {0x0301, 0, 0, 0},       // combining acute accent: no cell
      {0x1B, 0, 1, 0xFFFD},    // ESC
      {0x07, 0, 1, 0xFFFD},    // BEL
      {0x9B, 0, 1, 0xFFFD},    // the one-byte CSI
      {'a', 3, 0, 0},          // outside the clip
      {'a', -1, 0, 0},         // outside the screen
      {0x1F600, 0, 2, 0x1F600},
  };
  for (const Case& c : cases) {
    Screen screen;
    screen.resize(4, 1);
    EXPECT_EQ(screen.put(c.x, 0, c.code_point, {}, CellRect{-5, 0, 3, 1}), c.width) << std::hex << c.code_point;
    if (c.x >= 0) {
      EXPECT_EQ(screen.at(c.x, 0).code_point, c.stored) << std::hex << c.code_point;
    }
  }
}

// The block only grows, and every resize blanks the whole area.
TEST(TuiScreen, ResizeBlanks) {
  Screen screen;
  screen.resize(3, 2);
  paint(screen, 0, 1, U"abc");
  screen.resize(2, 1);
  EXPECT_EQ(screen.at(0, 0), ScreenCell{});
  screen.resize(3, 2);
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 3; ++x) EXPECT_EQ(screen.at(x, y), ScreenCell{});
}

// --- Frames --------------------------------------------------------------------------------------

struct TuiDisplay : ::testing::Test {
  FakeTerminal io;
  Display display{io};
  // Presents one frame painted by the function; what was written.
  std::string frame(int32_t width, int32_t height, const std::function<void(Screen&, Display&)>& painter) {
    display.set_window_size(width, height);
    display.mark_dirty();
    display.present([&](Screen& screen) { painter(screen, display); });
    return visible(io.take_written());
  }
};

// The first frame writes every cell: full screen from the top left, inline
// from the start of the GUI's area after erasing it. Each row but the last
// ends with the default background and CR LF; the frame ends with the
// attributes off.
TEST_F(TuiDisplay, WholeFrameFullScreen) {
  display.set_mode(DisplayMode::kFullScreen);
  std::string bytes = frame(3, 2, [](Screen& s, Display&) {
    paint(s, 0, 0, U"ab");
    paint(s, 0, 1, U"c", CellStyle{0, 0, attribute::kBold});
  });
  EXPECT_EQ(bytes, R"(\e[?25l\e[Hab \e[49m\r\n\e[1mc\e[22m  )");
  EXPECT_EQ(display.lines_above(), 1);
}

TEST_F(TuiDisplay, WholeFrameInline) {
  std::string bytes = frame(2, 2, [](Screen& s, Display&) {
    paint(s, 0, 0, U"A");
    paint(s, 1, 0, U"B", CellStyle{color::palette256(21), 0, 0});
  });
  // The background set on the row's last cell does not bleed into the line.
  EXPECT_EQ(bytes, R"(\e[?25l\r\e[0JA\e[48;5;21mB\e[49m\r\n  )");
}

TEST_F(TuiDisplay, WholeFrameCells) {
  display.set_mode(DisplayMode::kFullScreen);
  std::string bytes = frame(7, 1, [](Screen& s, Display&) {
    paint(s, 0, 0, U"中");
    paint(s, 2, 0, U"pw中", CellStyle{0, 0, attribute::kMasked});
  });
  // The continuation cell is not written, unless masked: masked cells show
  // "*", one for each column; code 0 is a space.
  EXPECT_EQ(bytes, R"(\e[?25l\e[H中**** )");
}

// A window of no columns or no rows writes nothing at all.
TEST_F(TuiDisplay, EmptyWindowWritesNothing) {
  EXPECT_EQ(frame(0, 5, [](Screen&, Display&) {}), "");
  EXPECT_EQ(frame(5, 0, [](Screen&, Display&) {}), "");
  EXPECT_FALSE(display.dirty());
}

// The window is cut to the console's size.
TEST_F(TuiDisplay, WindowCutToConsole) {
  io.columns = 4;
  io.rows = 1;
  display.enter();
  io.take_written();
  frame(10, 3, [](Screen&, Display&) {});
  EXPECT_EQ(display.screen().width(), 4);
  EXPECT_EQ(display.screen().height(), 1);
}

// Once the terminal shows a frame, the next one writes only the changed
// cells, each run after a cursor move; short unchanged gaps are written
// through; a frame with no change writes nothing.
TEST_F(TuiDisplay, ChangedCellsOnlyFullScreen) {
  display.set_mode(DisplayMode::kFullScreen);
  auto base = [](Screen& s, Display&) { paint(s, 0, 0, U"0123456789"); };
  frame(10, 3, base);
  struct Case {
    const char* name;
    std::function<void(Screen&, Display&)> painter;
    const char* expected;
  };
  const Case cases[] = {
      {"no change", base, ""},
      {"one cell", [&](Screen& s, Display& d) { base(s, d); paint(s, 4, 1, U"X"); }, R"(\e[2;5HX)"},
      {"gap written through",
       [&](Screen& s, Display& d) { base(s, d); paint(s, 2, 0, U"X"); paint(s, 5, 0, U"Y"); },
       R"(\e[1;3HX34Y)"},
      {"two runs",
       [&](Screen& s, Display& d) { base(s, d); paint(s, 0, 0, U"X"); paint(s, 7, 0, U"Y"); },
       R"(\e[1;1HX\e[1;8HY)"},
      {"style", [&](Screen& s, Display& d) {
         base(s, d);
         paint(s, 1, 2, U"Z", CellStyle{0, color::palette256(196), attribute::kBold});
       },
       R"(\e[3;2H\e[1m\e[38;5;196mZ\e[22m\e[39m)"},
      {"wide character", [&](Screen& s, Display& d) { base(s, d); paint(s, 3, 0, U"中"); },
       R"(\e[1;4H中)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(frame(10, 3, c.painter), c.expected) << c.name;
    frame(10, 3, base);  // back to the base frame
  }
}

// Inline, the moves are relative: from the row the cursor is on, back to
// the start of the line, up or down, then right.
TEST_F(TuiDisplay, ChangedCellsOnlyInline) {
  auto base = [](Screen&, Display&) {};
  frame(10, 3, base);
  EXPECT_EQ(display.lines_above(), 2);
  EXPECT_EQ(frame(10, 3, [](Screen& s, Display&) { paint(s, 4, 0, U"X"); }), R"(\r\e[2A\e[4CX)");
  EXPECT_EQ(display.lines_above(), 0);
  EXPECT_EQ(frame(10, 3, [](Screen& s, Display&) {
              paint(s, 4, 0, U"X");
              paint(s, 1, 2, U"Y");
            }),
            R"(\r\e[2B\e[1CY)");
  EXPECT_EQ(frame(10, 3, [](Screen& s, Display&) {
              paint(s, 4, 0, U"X");
              paint(s, 1, 2, U"Y");
              paint(s, 0, 1, U"a");
              paint(s, 8, 1, U"b");
            }),
            R"(\r\e[1Aa\e[7Cb)");
}

// The caret: the cursor goes to it after the frame and is shown; lines-
// above becomes its row. Without one, the cursor is hidden.
TEST_F(TuiDisplay, Caret) {
  std::string bytes = frame(4, 3, [](Screen& s, Display& d) {
    paint(s, 0, 0, U"ab");
    d.set_caret(2, 0);
  });
  EXPECT_EQ(bytes, R"(\r\e[0Jab  \e[49m\r\n    \e[49m\r\n    \r\e[2A\e[2C)");
  EXPECT_EQ(display.lines_above(), 0);
  EXPECT_FALSE(display.cursor_hidden());
  // The caret moves one column: one cell changes, then the cursor goes back.
  bytes = frame(4, 3, [](Screen& s, Display& d) {
    paint(s, 0, 0, U"abc");
    d.set_caret(3, 0);
  });
  EXPECT_EQ(bytes, R"(\r\e[2Cc\r\e[3C)");
  // No caret: the cursor is hidden first.
  bytes = frame(4, 3, [](Screen& s, Display&) { paint(s, 0, 0, U"abc"); });
  EXPECT_EQ(bytes, R"(\e[?25l)");
  EXPECT_TRUE(display.cursor_hidden());
}

// Anything that puts the terminal's contents in doubt makes the next frame
// write everything. Inline, it starts by going up lines-above rows and
// erasing.
TEST_F(TuiDisplay, WholeRedrawAfterResize) {
  frame(3, 5, [](Screen& s, Display&) { paint(s, 0, 0, U"x"); });
  EXPECT_EQ(display.lines_above(), 4);
  display.on_console_resize();
  EXPECT_TRUE(display.dirty());
  std::string bytes = frame(3, 5, [](Screen& s, Display&) { paint(s, 0, 0, U"x"); });
  EXPECT_EQ(bytes.substr(0, 13), R"(\r\e[4A\e[0Jx)");
}

// Printing while the GUI is shown erases the drawn area from its first
// row, even when the cursor is on that row; the next frame draws the GUI
// whole below the printed text.
TEST_F(TuiDisplay, SuspendAndResumeOutput) {
  io.raw = false;
  display.enter();
  io.take_written();
  frame(3, 3, [](Screen&, Display&) {});
  display.suspend_output();
  EXPECT_EQ(visible(io.take_written()), R"(\r\e[2A\e[0J)");
  EXPECT_EQ(display.lines_above(), 0);
  display.suspend_output();  // nothing drawn now: nothing to erase
  EXPECT_EQ(io.take_written(), "");
  display.resume_output();
  EXPECT_EQ(visible(io.take_written()), R"(\e[6n)");
  EXPECT_TRUE(display.dirty());
  // Drawn again with the caret on the first row.
  std::string bytes = frame(3, 3, [](Screen&, Display& d) { d.set_caret(0, 0); });
  EXPECT_EQ(bytes.substr(0, 7), R"(\r\e[0J)");
  display.suspend_output();
  EXPECT_EQ(visible(io.take_written()), R"(\r\e[0J)");
}

// A cursor report fixes the inline origin; the origin moves up when the GUI
// would reach past the console's last row.
TEST_F(TuiDisplay, Origin) {
  io.rows = 10;
  display.enter();
  display.on_cursor_report(9, 1);
  EXPECT_EQ(display.origin_row(), 8);
  frame(3, 4, [](Screen&, Display&) {});
  display.present(nullptr);
  EXPECT_EQ(display.origin_row(), 6);
}

// Every byte goes out, however few the terminal takes at a time; a
// terminal that fails ends the write instead of looping.
TEST_F(TuiDisplay, WritesLoopUntilComplete) {
  io.write_chunk = 3;
  display.set_mode(DisplayMode::kFullScreen);
  std::string bytes = frame(3, 2, [](Screen& s, Display&) { paint(s, 0, 0, U"ab"); });
  EXPECT_EQ(bytes, R"(\e[?25l\e[Hab \e[49m\r\n   )");
  io.write_limit = 2;
  display.on_console_resize();
  display.present([](Screen& s) { paint(s, 0, 0, U"ab"); });
  EXPECT_EQ(io.written.size(), 2u);
  EXPECT_FALSE(display.dirty());
}

// --- The session's sequences ---------------------------------------------------------------------

// Entering: raw mode, the console size and, inline, the cursor query; full
// screen, the alternate screen. The restore and re-enter sequences follow
// every mode change.
TEST_F(TuiDisplay, EnterAndLeaveFullScreen) {
  io.columns = 0;  // an unreadable size counts as 80x24
  display.set_mode(DisplayMode::kFullScreen);
  display.enter();
  EXPECT_TRUE(io.raw);
  EXPECT_EQ(display.console_columns(), 80);
  EXPECT_EQ(display.console_rows(), 24);
  display.set_mouse_reporting(true);
  display.hide_cursor();
  EXPECT_EQ(visible(io.take_written()),
            R"(\e[?1049h\e[2J\e[?1000h\e[?1003h\e[?1015h\e[?1006h\e[?25l)");
  EXPECT_EQ(visible(io.restore), R"(\e[?1000l\e[?1003l\e[?1015l\e[?1006l\e[?1049l\e[?25h)");
  EXPECT_EQ(visible(io.reenter), R"(\e[?1000h\e[?1003h\e[?1015h\e[?1006h\e[?1049h\e[2J\e[?25l)");
  display.leave();
  EXPECT_EQ(visible(io.take_written()), R"(\e[?1000l\e[?1003l\e[?1015l\e[?1006l\e[?1049l\e[?25h)");
  EXPECT_FALSE(io.raw);
  EXPECT_EQ(io.restore, "");
  EXPECT_EQ(display.mode(), DisplayMode::kInline);
}

// A full-screen window made while an inline session runs switches to the
// alternate screen at once, and the next frame is written whole there;
// the display stays full screen until the session ends.
TEST_F(TuiDisplay, FullScreenDuringASession) {
  display.enter();
  frame(2, 1, [](Screen& s, Display&) { paint(s, 0, 0, U"ab"); });
  io.take_written();
  display.set_mode(DisplayMode::kFullScreen);
  EXPECT_EQ(visible(io.take_written()), R"(\e[?1049h\e[2J)");
  EXPECT_TRUE(display.dirty());
  EXPECT_EQ(frame(2, 1, [](Screen& s, Display&) { paint(s, 0, 0, U"ab"); }), R"(\e[Hab)");
  display.set_mode(DisplayMode::kInline);
  EXPECT_EQ(display.mode(), DisplayMode::kFullScreen);
  display.leave();
  EXPECT_EQ(visible(io.take_written()), R"(\e[?1049l\e[?25h)");
  EXPECT_EQ(display.mode(), DisplayMode::kInline);
}

// Leaving inline: the cursor goes to the drawn area's last row, then to a
// new line, so console output starts below the GUI.
TEST_F(TuiDisplay, LeaveInlineBelowTheGui) {
  display.enter();
  EXPECT_EQ(visible(io.take_written()), R"(\e[6n)");
  frame(3, 4, [](Screen&, Display& d) { d.set_caret(1, 1); });
  display.leave();
  EXPECT_EQ(visible(io.take_written()), R"(\e[2B\r\n)");
  // Nothing drawn: no line.
  display.enter();
  io.take_written();
  display.leave();
  EXPECT_EQ(io.take_written(), "");
}

}  // namespace
}  // namespace kel::tui
