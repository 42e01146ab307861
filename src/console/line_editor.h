// The line editor's core: keys in; the line, its cursor, the history walk
// and the bytes that show them on a terminal out. It knows nothing of file
// descriptors or of Kel values, so that every rule is tested as a table
// (terminal.cpp feeds it real keys and writes its output).
//
// The screen: the prompt and the line are laid out from the origin (the
// column where the prompt starts, row 0) over rows of `columns` cells: a
// tab takes 4 cells, ESC sequences in the prompt (ESC [ or ESC ( followed by
// digits and ";" and one final char) take none, other chars their display
// width; a wide char that does not fit in what is left of a row starts the
// next row, the cells it skips written as spaces. Rows are counted from the
// prompt's row; the editor moves the terminal's cursor only by relative
// moves, so the text may scroll. It keeps what the screen shows and where
// each char of it starts, and a redraw writes only from the first char that
// changed (then erases what lay past the new end), so typing or pasting at
// the end of a long line costs only the new chars.
//
// Invariants: `shown_` is the text the screen holds (prompt, then the line
// or its "*" mask); `starts_` has one entry more than `shown_`: where each
// char would start before any skip, and last the end; `terminal_` is where
// the terminal's cursor is. A position's column is below `columns`: a char
// that ends exactly at the right margin puts the end at column 0 of the next
// row, and the editor then writes CR LF so that the terminal agrees.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "console/key_decoder.h"

namespace kel::line_editor {

// What completion gives for the line and its cursor: empty, one value (the
// new line, with the cursor at `cursor`), or the new line followed by the
// candidates to list.
struct Completion {
  std::vector<std::u32string> values;
  size_t cursor = 0;
};
using Completer = std::function<Completion(const std::u32string& line, size_t cursor)>;

// How a key left the read.
enum class Outcome {
  kGoingOn,  // the read goes on
  kLine,     // Enter: the line is the answer
  kQuit,     // Ctrl-C, or Ctrl-D on an empty line: the answer is "q"
  kEscape,   // Esc: the line ends with the char ESC
};

struct Position {
  int32_t row = 0;
  int32_t column = 0;
  bool operator==(const Position&) const = default;
};

class Editor {
 public:
  // Starts a read: the prompt (already in the terminal's own escape
  // sequences), whether the input is hidden, the history (newest first),
  // the width of the screen (taken as 1 when below 1) and the column the
  // prompt starts at. Draws the prompt.
  void begin(std::u32string prompt, bool hidden, std::vector<std::u32string> history, int32_t columns,
             int32_t origin_column);
  // Acts on one key. The screen is brought up to date by render(), which
  // the caller calls once after a run of keys (and the editor itself calls
  // before a key that ends the read).
  Outcome key(int32_t code);
  // Writes what changed since the last render into the output.
  void render();
  // The screen became `columns` wide: the terminal may have moved the text,
  // so the editor goes back to the start of the row it believes the cursor
  // is on and draws prompt and line afresh.
  void resize(int32_t columns);
  // The terminal's state is unknown (the process was stopped and went on):
  // the prompt and line are drawn afresh on a new row.
  void redraw_on_new_row();
  // The read is given up (an error unwinds through it): the cursor goes
  // below the text, so that what is printed next starts a row of its own.
  void abandon() { finish_on_new_row(); }

  void set_completer(Completer completer) { completer_ = std::move(completer); }

  const std::u32string& line() const { return line_; }
  // The history as the read leaves it, and whether Enter put the line at
  // its head (not for hidden input, an empty line, or the line that is
  // already the newest entry, compared with letter case).
  const std::vector<std::u32string>& history() const { return history_; }
  bool added_to_history() const { return added_to_history_; }
  size_t cursor() const { return cursor_; }
  // The bytes to write to the terminal since the last take.
  std::string take_output();

  // The screen position of the cursor and of the end of the text (after
  // the last render), for tests.
  Position cursor_position() const;
  Position end_position() const { return starts_.back(); }
  int32_t columns() const { return columns_; }

 private:
  std::u32string prompt_;
  bool hidden_ = false;
  std::vector<std::u32string> history_;
  int32_t history_position_ = -1;
  bool added_to_history_ = false;
  bool finished_ = false;  // the read has ended: nothing more is drawn
  int32_t columns_ = 80;
  int32_t origin_column_ = 0;
  std::u32string line_;
  size_t cursor_ = 0;
  Completer completer_;

  std::u32string shown_;
  std::vector<Position> starts_;
  std::vector<uint8_t> widths_;  // cells each char of shown_ takes (tab 4, sequences 0)
  Position terminal_;
  std::string output_;

  std::u32string wanted() const;
  void lay_out_from(size_t index);
  void move_to(Position target);
  void write_char(size_t index);
  Position drawn_at(size_t index) const;
  void finish_on_new_row();
  void insert(char32_t c);
  void fetch_history(int32_t index);
  void complete();
  void draw_from_scratch();
};

// Cells a char takes when it is laid out (a tab 4; control chars 0).
int32_t display_width(char32_t c);

// Appends a code point to a UTF-8 byte string.
void append_utf8(std::string* out, char32_t c);
std::string to_utf8(const std::u32string& text);
std::u32string from_utf8(const std::string& text);

}  // namespace kel::line_editor
