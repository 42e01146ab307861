// The terminal GUI's display: the screen of cells and how it reaches the
// terminal, inline (below the console's text) or full screen (on the
// alternate screen), with the terminal modes the GUI sets while it runs.
//
// State: the display mode; whether raw mode, the alternate screen, mouse
// reporting and a hidden cursor are on; the dirty flag (a redraw is due);
// something-drawn; lines-above (how many rows the cursor sits below the top
// of the drawn area); the caret (negative when none); the GUI's origin in
// the console; the console size (80x24 when it cannot be read); the screen
// being painted and the previous screen, which holds what the terminal
// shows.
//
// A frame writes only what changed: once the terminal shows a frame of the
// same size, a flush compares the new cells with it and writes only the
// runs of changed cells, each after a cursor move. Anything that puts
// the terminal's contents in doubt (the first frame, a new size, console
// printing, a console resize, a stop and continue) drops the previous
// screen, and the next flush writes every cell. Each flush starts and ends
// with default colors and no attributes, and its bytes go out in one
// looped write.
//
// Attributes change with the fewest sequences: only the differences from
// the previous written cell are sent. Bold and dim share one "off" (22):
// turning either off re-sends the one that stays on.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "gui/terminal/screen.h"
#include "gui/terminal/terminal_io.h"

namespace kel::tui {

enum class DisplayMode { kInline, kFullScreen };

// The sequences written outside a flush, one write each.
namespace sequence {
inline constexpr char kEnterAlternateScreen[] = "\x1B[?1049h\x1B[2J";
inline constexpr char kLeaveAlternateScreen[] = "\x1B[?1049l";
inline constexpr char kClearScreen[] = "\x1B[2J";
inline constexpr char kHideCursor[] = "\x1B[?25l";
inline constexpr char kShowCursor[] = "\x1B[?25h";
inline constexpr char kMouseReportingOn[] = "\x1B[?1000h\x1B[?1003h\x1B[?1015h\x1B[?1006h";
inline constexpr char kMouseReportingOff[] = "\x1B[?1000l\x1B[?1003l\x1B[?1015l\x1B[?1006l";
inline constexpr char kQueryCursor[] = "\x1B[6n";
}  // namespace sequence

// Appends the SGR sequence that sets a color word as foreground or
// background.
void append_sgr_color(std::string* out, uint32_t color_word, bool foreground);
// Appends what turns the attributes and colors of the previous cell into
// those of the current one; returns the current cell (the next previous).
ScreenCell append_sgr_attributes(std::string* out, const ScreenCell& previous,
                                 const ScreenCell& current);

class Display {
 public:
  explicit Display(TerminalIO& io) : io_(io) {}

  // --- The session: terminal modes on and off ---
  // Full screen from a fullscreen window on until leave(): during a
  // session the switch enters the alternate screen at once, and going back
  // to inline waits for the session's end.
  void set_mode(DisplayMode mode);
  DisplayMode mode() const { return mode_; }
  // Raw mode and the console size (unless raw mode is on already), the
  // cursor query that fixes the inline origin, the alternate screen in
  // full-screen mode.
  void enter();
  // Puts the terminal back: in inline mode the cursor goes to the drawn
  // area's last row and then to a new line, so console output starts
  // below the GUI; mouse reporting off, alternate screen left, cursor
  // shown, raw mode off; the display state returns to its start.
  void leave();
  bool raw_mode() const { return raw_mode_; }
  bool in_alternate_screen() const { return in_alternate_screen_; }
  void set_mouse_reporting(bool on);
  bool mouse_reporting() const { return mouse_reporting_; }
  void hide_cursor();
  void show_cursor();
  bool cursor_hidden() const { return cursor_hidden_; }

  // --- Frames ---
  // The size the active window asks for (capped at the console's size
  // when presented).
  void set_window_size(int32_t width, int32_t height);
  // The caret in screen cells; negative for none. The renderer sets it
  // while it paints (present() clears it before).
  void set_caret(int32_t column, int32_t row) {
    caret_column_ = column;
    caret_row_ = row;
  }
  bool has_caret() const { return caret_column_ >= 0 || caret_row_ >= 0; }
  int32_t caret_column() const { return caret_column_; }
  int32_t caret_row() const { return caret_row_; }
  void mark_dirty() { dirty_ = true; }
  bool dirty() const { return dirty_; }
  // Once per frame: fixes the origin, and when the display is dirty,
  // blanks the screen, lets the renderer paint it and flushes it.
  using Renderer = std::function<void(Screen&)>;
  void present(const Renderer& render);
  // Writes the screen (only the changed cells when the terminal shows the
  // previous frame) and clears the dirty flag.
  void flush();
  Screen& screen() { return screen_; }

  // --- The console around the GUI ---
  // Reads the console size again and arranges a whole redraw (clearing the
  // alternate screen first); the caller tells the windows.
  void on_console_resize();
  // Before and after the runtime prints while the GUI is shown: the drawn
  // area is erased from its first row, and redrawn whole below the printed
  // text on the next frame.
  void suspend_output();
  void resume_output();
  // The terminal went on after a stop: modes were set again, redraw whole.
  void on_resumed();
  // A cursor position report (1-based row and column).
  void on_cursor_report(int32_t row, int32_t column);
  // Cursor position queries written and not answered yet: the answer of
  // the last one must be read before the terminal goes back to the
  // console, or the shell would show it as typed text.
  int32_t unanswered_cursor_queries() const { return unanswered_cursor_queries_; }
  void forget_cursor_queries() { unanswered_cursor_queries_ = 0; }

  int32_t console_columns() const { return console_columns_; }
  int32_t console_rows() const { return console_rows_; }
  int32_t origin_column() const { return origin_column_; }
  int32_t origin_row() const { return origin_row_; }
  int32_t lines_above() const { return lines_above_; }
  bool something_drawn() const { return something_drawn_; }
  // The bytes the last flush wrote.
  size_t last_flush_size() const { return last_flush_size_; }

 private:
  TerminalIO& io_;
  DisplayMode mode_ = DisplayMode::kInline;
  bool entered_ = false;  // between enter() and leave()
  bool raw_mode_ = false;
  bool in_alternate_screen_ = false;
  bool mouse_reporting_ = false;
  bool cursor_hidden_ = false;
  bool dirty_ = false;
  bool something_drawn_ = false;
  int32_t lines_above_ = 0;
  int32_t caret_column_ = -1, caret_row_ = -1;
  int32_t origin_column_ = 0, origin_row_ = 0;
  int32_t unanswered_cursor_queries_ = 0;
  int32_t console_columns_ = 80, console_rows_ = 24;
  int32_t window_width_ = 0, window_height_ = 0;
  Screen screen_;
  Screen shown_;             // what the terminal shows, when shown_valid_
  bool shown_valid_ = false;
  std::string output_;
  size_t last_flush_size_ = 0;
  // Where the cursor is during a flush (row in the drawn area; column, or
  // -1 when unknown, as after writing a row's last cell).
  int32_t cursor_row_ = 0, cursor_column_ = -1;

  void write_now(std::string_view bytes);
  void query_cursor();
  void read_console_size();
  void update_mode_sequences();
  void write_everything();
  void write_changes();
  void move_cursor(int32_t column, int32_t row);
  // Inline mode: carriage return, then up or down and right to the cell.
  void move_from_line_start(int32_t column, int32_t row);
  void place_cursor_after_flush();
};

}  // namespace kel::tui
