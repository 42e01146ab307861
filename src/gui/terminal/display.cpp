// The terminal GUI's display: sessions, frames and their bytes (see
// display.h).
#include "gui/terminal/display.h"

#include <algorithm>
#include <cstdio>

#include "runtime/unicode.h"

namespace kel::tui {

namespace {

void append_number(std::string* out, int64_t number) { out->append(std::to_string(number)); }

// ESC [ n letter, for the cursor moves.
void append_move(std::string* out, int32_t count, char letter) {
  out->append("\x1B[");
  append_number(out, count);
  out->push_back(letter);
}

// The SGR parameter of an entry of the 16-color table.
void append_table16(std::string* out, uint32_t index, bool foreground) {
  if (index < 8) {
    append_number(out, (foreground ? 30 : 40) + index);
  } else if (index == 9) {
    out->append(foreground ? "39" : "49");
  } else if (index >= 10 && index <= 17) {
    append_number(out, (foreground ? 90 : 100) + index - 10);
  } else {
    out->push_back('0');
  }
}

// The attributes that have their own on and off sequences, in the order
// they are compared (bold and dim are handled together first).
struct AttributeSequence {
  uint32_t bit;
  const char* on;
  const char* off;
};
constexpr AttributeSequence kReverseSequence{attribute::kReverse, "\x1B[7m", "\x1B[27m"};
constexpr AttributeSequence kLaterSequences[] = {
    {attribute::kItalic, "\x1B[3m", "\x1B[23m"},
    {attribute::kStrike, "\x1B[9m", "\x1B[29m"},
    {attribute::kUnderline, "\x1B[4m", "\x1B[24m"},
};

void append_change(std::string* out, const AttributeSequence& sequence, uint32_t before, uint32_t after) {
  bool was = (before & sequence.bit) != 0, is = (after & sequence.bit) != 0;
  if (is && !was) out->append(sequence.on);
  if (was && !is) out->append(sequence.off);
}

void append_char(std::string* out, uint32_t code_point) {
  uint8_t bytes[4];
  int32_t count = unicode::encode_char(code_point, bytes);
  out->append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(count));
}

// The character a cell shows.
void append_cell(std::string* out, const ScreenCell& cell) {
  if ((cell.attributes & attribute::kMasked) != 0) {
    out->push_back('*');
  } else if (cell.code_point == 0) {
    out->push_back(' ');
  } else {
    append_char(out, cell.code_point);
  }
}

// A cell after the attributes it needs. The second half of a wide
// character is not written, except when masked: "*" takes one column, so
// a masked wide character shows as two.
void append_styled_cell(std::string* out, ScreenCell* state, const ScreenCell& cell) {
  if ((cell.attributes & attribute::kContinuation) != 0) {
    if ((cell.attributes & attribute::kMasked) != 0) out->push_back('*');
    return;
  }
  *state = append_sgr_attributes(out, *state, cell);
  append_cell(out, cell);
}

// How many unchanged cells a run of changed ones may take in rather than
// end and move the cursor (a move costs about as many bytes).
constexpr int32_t kLargestGapWrittenThrough = 4;

}  // namespace

void append_sgr_color(std::string* out, uint32_t color_word, bool foreground) {
  out->append("\x1B[");
  uint32_t value = color_word & 0xFFFFFF;
  switch (color::kind(color_word)) {
    case 0:
      out->append(foreground ? "39" : "49");
      break;
    case color::kKindTable16:
      append_table16(out, value & 0xFF, foreground);
      break;
    case color::kKindPalette256:
      out->append(foreground ? "38;5;" : "48;5;");
      append_number(out, value & 0xFF);
      break;
    case color::kKindTrueColor:
      out->append(foreground ? "38;2;" : "48;2;");
      append_number(out, value >> 16 & 0xFF);
      out->push_back(';');
      append_number(out, value >> 8 & 0xFF);
      out->push_back(';');
      append_number(out, value & 0xFF);
      break;
    default:
      out->push_back('0');
  }
  out->push_back('m');
}

ScreenCell append_sgr_attributes(std::string* out, const ScreenCell& previous, const ScreenCell& current) {
  uint32_t before = previous.attributes, after = current.attributes;
  constexpr uint32_t kIntensity = attribute::kBold | attribute::kDim;
  // 22 ends bold and dim alike: after it, the one that stays is sent again.
  bool intensity_off = (before & ~after & kIntensity) != 0;
  if (intensity_off) {
    out->append("\x1B[22m");
    if ((after & attribute::kDim) != 0) out->append("\x1B[2m");
  } else if ((after & ~before & attribute::kDim) != 0) {
    out->append("\x1B[2m");
  }
  append_change(out, kReverseSequence, before, after);
  bool bold_on = intensity_off ? (after & attribute::kBold) != 0 : (after & ~before & attribute::kBold) != 0;
  if (bold_on) out->append("\x1B[1m");
  for (const AttributeSequence& sequence : kLaterSequences) append_change(out, sequence, before, after);
  if (current.foreground != previous.foreground) append_sgr_color(out, current.foreground, true);
  if (current.background != previous.background) append_sgr_color(out, current.background, false);
  return current;
}

bool write_all(TerminalIO& io, const char* bytes, size_t count) {
  size_t written = 0;
  while (written < count) {
    ptrdiff_t part = io.write(bytes + written, count - written);
    if (part <= 0) return false;
    written += static_cast<size_t>(part);
  }
  return true;
}

// --- The session ---------------------------------------------------------------------------------

void Display::write_now(std::string_view bytes) { write_all(io_, bytes); }

void Display::read_console_size() {
  int32_t columns = 0, rows = 0;
  if (!io_.size(&columns, &rows) || columns < 1 || rows < 1) {
    columns = 80;
    rows = 24;
  }
  console_columns_ = columns;
  console_rows_ = rows;
}

void Display::update_mode_sequences() {
  std::string restore, reenter;
  if (mouse_reporting_) {
    restore += sequence::kMouseReportingOff;
    reenter += sequence::kMouseReportingOn;
  }
  if (in_alternate_screen_) {
    restore += sequence::kLeaveAlternateScreen;
    reenter += sequence::kEnterAlternateScreen;
  }
  if (cursor_hidden_) {
    restore += sequence::kShowCursor;
    reenter += sequence::kHideCursor;
  }
  io_.set_mode_sequences(restore, reenter);
}

void Display::set_mode(DisplayMode mode) {
  if (!entered_) {
    mode_ = mode;
    return;
  }
  if (mode != DisplayMode::kFullScreen || mode_ == DisplayMode::kFullScreen) return;
  mode_ = mode;
  write_now(sequence::kEnterAlternateScreen);
  in_alternate_screen_ = true;
  shown_valid_ = false;
  dirty_ = true;
  update_mode_sequences();
}

void Display::enter() {
  entered_ = true;
  if (!raw_mode_) {
    read_console_size();
    if (io_.set_raw_mode(true)) {
      raw_mode_ = true;
      if (mode_ == DisplayMode::kInline) query_cursor();
    }
  }
  if (mode_ == DisplayMode::kFullScreen && !in_alternate_screen_) {
    write_now(sequence::kEnterAlternateScreen);
    in_alternate_screen_ = true;
    shown_valid_ = false;
  }
  update_mode_sequences();
}

void Display::leave() {
  if (mode_ == DisplayMode::kInline && something_drawn_ && screen_.height() > 0) {
    std::string bytes;
    int32_t below = screen_.height() - 1 - lines_above_;
    if (below > 0) append_move(&bytes, below, 'B');
    bytes.append("\r\n");
    write_now(bytes);
  }
  if (mouse_reporting_) write_now(sequence::kMouseReportingOff);
  if (in_alternate_screen_) write_now(sequence::kLeaveAlternateScreen);
  if (cursor_hidden_) write_now(sequence::kShowCursor);
  if (raw_mode_) io_.set_raw_mode(false);
  io_.set_mode_sequences("", "");
  entered_ = false;
  raw_mode_ = in_alternate_screen_ = mouse_reporting_ = cursor_hidden_ = false;
  dirty_ = something_drawn_ = shown_valid_ = false;
  mode_ = DisplayMode::kInline;
  lines_above_ = 0;
  caret_column_ = caret_row_ = -1;
  origin_column_ = origin_row_ = 0;
  window_width_ = window_height_ = 0;
  screen_.resize(0, 0);
  output_.clear();
  output_.shrink_to_fit();
}

void Display::set_mouse_reporting(bool on) {
  if (on == mouse_reporting_) return;
  write_now(on ? sequence::kMouseReportingOn : sequence::kMouseReportingOff);
  mouse_reporting_ = on;
  update_mode_sequences();
}

void Display::hide_cursor() {
  if (cursor_hidden_) return;
  write_now(sequence::kHideCursor);
  cursor_hidden_ = true;
  update_mode_sequences();
}

void Display::show_cursor() {
  if (!cursor_hidden_) return;
  write_now(sequence::kShowCursor);
  cursor_hidden_ = false;
  update_mode_sequences();
}

// --- Frames --------------------------------------------------------------------------------------

void Display::set_window_size(int32_t width, int32_t height) {
  if (width == window_width_ && height == window_height_) return;
  window_width_ = width;
  window_height_ = height;
  dirty_ = true;
}

void Display::present(const Renderer& render) {
  if (mode_ == DisplayMode::kFullScreen) {
    origin_column_ = origin_row_ = 0;
  } else if (console_rows_ < origin_row_ + screen_.height()) {
    origin_row_ = std::max(console_rows_ - screen_.height(), 0);
  }
  if (!dirty_) return;
  int32_t width = std::clamp(window_width_, 0, console_columns_);
  int32_t height = std::clamp(window_height_, 0, console_rows_);
  if (width != screen_.width() || height != screen_.height()) {
    // The terminal shows a frame of another size, and in inline mode the
    // whole area is erased and written again.
    shown_valid_ = false;
    screen_.resize(width, height);
  } else {
    screen_.clear();
  }
  caret_column_ = caret_row_ = -1;
  if (screen_.width() < 1 || screen_.height() < 1) {
    // An empty window writes nothing at all.
    dirty_ = false;
    return;
  }
  if (render) render(screen_);
  if (!has_caret()) hide_cursor();
  std::fflush(nullptr);
  flush();
  if (has_caret()) show_cursor();
  std::fflush(nullptr);
}

void Display::flush() {
  output_.clear();
  if (screen_.width() < 1 || screen_.height() < 1) {
    dirty_ = false;
    last_flush_size_ = 0;
    return;
  }
  if (shown_valid_) {
    write_changes();
  } else {
    write_everything();
  }
  place_cursor_after_flush();
  if (!output_.empty()) write_all(io_, output_.data(), output_.size());
  last_flush_size_ = output_.size();
  output_.clear();
  // What the terminal shows now, for the next frame's comparison.
  shown_ = screen_;
  shown_valid_ = true;
  something_drawn_ = true;
  dirty_ = false;
}

void Display::write_everything() {
  if (mode_ == DisplayMode::kFullScreen) {
    output_.append("\x1B[H");
  } else {
    output_.push_back('\r');
    if (lines_above_ > 0) append_move(&output_, lines_above_, 'A');
    output_.append("\x1B[0J");
  }
  ScreenCell state{};
  for (int32_t y = 0; y < screen_.height(); ++y) {
    const ScreenCell* cells = screen_.row(y);
    for (int32_t x = 0; x < screen_.width(); ++x) append_styled_cell(&output_, &state, cells[x]);
    if (y + 1 < screen_.height()) {
      // The background of a row's end does not bleed into the console line.
      state.background = color::kDefault;
      output_.append("\x1B[49m\r\n");
    }
  }
  append_sgr_attributes(&output_, state, ScreenCell{});
  cursor_row_ = screen_.height() - 1;
  cursor_column_ = -1;
}

void Display::move_cursor(int32_t column, int32_t row) {
  if (row == cursor_row_ && column == cursor_column_) return;
  if (mode_ == DisplayMode::kFullScreen) {
    output_.append("\x1B[");
    append_number(&output_, origin_row_ + row + 1);
    output_.push_back(';');
    append_number(&output_, origin_column_ + column + 1);
    output_.push_back('H');
  } else if (row == cursor_row_ && cursor_column_ >= 0 && column > cursor_column_) {
    append_move(&output_, column - cursor_column_, 'C');
  } else {
    move_from_line_start(column, row);
  }
  cursor_row_ = row;
  cursor_column_ = column;
}

void Display::move_from_line_start(int32_t column, int32_t row) {
  output_.push_back('\r');
  if (row < cursor_row_) append_move(&output_, cursor_row_ - row, 'A');
  if (row > cursor_row_) append_move(&output_, row - cursor_row_, 'B');
  if (column > 0) append_move(&output_, column, 'C');
  cursor_row_ = row;
  cursor_column_ = column;
}

void Display::write_changes() {
  cursor_row_ = lines_above_;
  cursor_column_ = -1;
  ScreenCell state{};
  int32_t width = screen_.width();
  for (int32_t y = 0; y < screen_.height(); ++y) {
    const ScreenCell* cells = screen_.row(y);
    const ScreenCell* old = shown_.row(y);
    int32_t x = 0;
    while (x < width) {
      if (cells[x] == old[x]) {
        ++x;
        continue;
      }
      // A run of changed cells, taking in short unchanged gaps; it starts
      // and ends on whole characters.
      int32_t start = x;
      if ((cells[start].attributes & attribute::kContinuation) != 0 && start > 0) --start;
      int32_t end = x + 1, gap = 0;
      for (int32_t k = x + 1; k < width && gap <= kLargestGapWrittenThrough; ++k) {
        if (cells[k] == old[k]) {
          ++gap;
        } else {
          end = k + 1;
          gap = 0;
        }
      }
      if (end < width && (cells[end].attributes & attribute::kContinuation) != 0) ++end;
      move_cursor(start, y);
      for (int32_t k = start; k < end; ++k) append_styled_cell(&output_, &state, cells[k]);
      // After the row's last cell the terminal waits to wrap: the column
      // is no longer known.
      cursor_column_ = end < width ? end : -1;
      x = end;
    }
  }
  append_sgr_attributes(&output_, state, ScreenCell{});
}

void Display::place_cursor_after_flush() {
  if (has_caret()) {
    int32_t row = std::clamp(caret_row_, 0, screen_.height() - 1);
    int32_t column = std::max(caret_column_, 0);
    if (mode_ == DisplayMode::kFullScreen) {
      move_cursor(column, row);
    } else {
      // Written as a move from the row the cursor is on.
      move_from_line_start(column, row);
    }
  }
  lines_above_ = cursor_row_;
}

// --- The console around the GUI ------------------------------------------------------------------

void Display::on_console_resize() {
  read_console_size();
  shown_valid_ = false;
  dirty_ = true;
  if (in_alternate_screen_) write_now(sequence::kClearScreen);
}

void Display::suspend_output() {
  if (something_drawn_) {
    // The whole drawn area goes, from its first row, even when the cursor
    // is on that row.
    std::string bytes = "\r";
    if (lines_above_ > 0) append_move(&bytes, lines_above_, 'A');
    bytes.append("\x1B[0J");
    write_now(bytes);
    lines_above_ = 0;
  }
  something_drawn_ = false;
  shown_valid_ = false;
  std::fflush(nullptr);
}

void Display::resume_output() {
  if (!raw_mode_) return;
  dirty_ = true;
  shown_valid_ = false;
  query_cursor();
}

void Display::query_cursor() {
  write_now(sequence::kQueryCursor);
  ++unanswered_cursor_queries_;
}

void Display::on_resumed() {
  shown_valid_ = false;
  dirty_ = true;
  if (in_alternate_screen_) write_now(sequence::kClearScreen);
}

void Display::on_cursor_report(int32_t row, int32_t column) {
  if (unanswered_cursor_queries_ > 0) --unanswered_cursor_queries_;
  origin_row_ = row - 1;
  origin_column_ = column - 1;
}

}  // namespace kel::tui
