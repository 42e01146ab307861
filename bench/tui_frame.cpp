// The terminal GUI's frame cost: a full-screen window of 200 widgets
// (10 x 20 boxes of 16 x 3 cells, each filled, with a label) painted
// into the screen and presented every frame, the way the event loop
// redraws a dirty window. The terminal is a sink that counts bytes.
//
// Rows: the first frame (with the one-time set-up: the cell blocks, the
// width tables); frames written whole (every cell, as after a console
// resize or printing); frames where nothing changed; frames where one
// widget's label changes; frames where every widget's label changes. Each prints the mean time a frame takes
// (painting and presenting) and the bytes it writes. The frame budget is
// 33 ms; the aim is under 2 ms a frame, with only changed cells written.
#include <chrono>
#include <cstdio>
#include <string>

#include "gui/terminal/display.h"
#include "gui/terminal/text_cells.h"

#include "counting_terminal.h"

namespace {

using namespace kel::tui;

constexpr int kColumns = 10, kRows = 20, kWidth = 16, kHeight = 3;

// One widget: a filled box with a label centred in it, the way the face
// painter fills a face, measures its text and paints it.
void paint_widget(Screen& screen, int index, int label_number) {
  int x = index % kColumns * kWidth, y = index / kColumns * kHeight;
  CellRect clip{x, y, x + kWidth, y + kHeight};
  uint32_t background = color::rgb_to_256(static_cast<uint32_t>(40 + index % 7 * 30) | 0x604000u);
  for (int row = y; row < y + kHeight; ++row)
    for (int column = x; column < x + kWidth; ++column) screen.fill(column, row, background);
  std::string label = "Item " + std::to_string(label_number);
  std::u32string text(label.begin(), label.end());
  TextStyle style{color::palette256(231), index % 5 == 0 ? attribute::kBold : 0u, true, false};
  TextSize size = measure_text(text, 0, true);
  paint_text(screen, clip, x + (kWidth - size.columns) / 2, y + 1, text, style);
}

struct Row {
  const char* name;
  int frames;
  int (*label)(int widget, int frame);
  bool whole = false;  // every frame is written whole, as after a resize
};

}  // namespace

int main() {
  CountingTerminal terminal;
  Display display(terminal);
  display.set_mode(DisplayMode::kFullScreen);
  display.enter();
  display.set_window_size(kColumns * kWidth, kRows * kHeight);
  const Row rows[] = {
      {"first frame (every cell)", 1, [](int widget, int) { return widget; }},
      {"written whole (as on resize)", 500, [](int widget, int) { return widget; }, true},
      {"nothing changed", 2000, [](int widget, int) { return widget; }},
      {"one widget changes", 2000, [](int widget, int frame) { return widget == 57 ? frame : widget; }},
      {"every widget changes", 2000, [](int widget, int frame) { return widget + frame; }},
  };
  std::printf("terminal GUI frames: %d widgets on %dx%d cells\n", kColumns * kRows, kColumns * kWidth,
              kRows * kHeight);
  std::printf("%-28s %12s %16s\n", "row", "us/frame", "bytes/frame");
  for (const Row& row : rows) {
    size_t bytes_before = terminal.bytes;
    auto start = std::chrono::steady_clock::now();
    for (int frame = 0; frame < row.frames; ++frame) {
      display.mark_dirty();
      if (row.whole) display.on_console_resize();
      display.present([&](Screen& screen) {
        for (int widget = 0; widget < kColumns * kRows; ++widget) paint_widget(screen, widget, row.label(widget, frame));
      });
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-28s %12.1f %16.1f\n", row.name, seconds * 1e6 / row.frames,
                static_cast<double>(terminal.bytes - bytes_before) / row.frames);
  }
  display.leave();
  return 0;
}
