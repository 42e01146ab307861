// A small terminal for the line editor's tests: it takes the bytes the
// editor writes (UTF-8 text, CR, LF, ESC [ n A/B/C/D, ESC [ J) and keeps
// the cells and the cursor as an xterm-like terminal would, with automatic
// wrapping at the right margin (the cursor waits at the last column until
// the next char) and a wide char that does not fit moved to the next row.
// Rows are unbounded downwards; row 0 is where the prompt's row was.
#pragma once

#include <string>
#include <vector>

#include "console/key_decoder.h"
#include "console/line_editor.h"
#include "runtime/unicode.h"

namespace kel::test_support {

class VirtualScreen {
 public:
  explicit VirtualScreen(int columns) : columns_(columns) { rows_.emplace_back(); }

  void write(const std::string& bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
      char byte = bytes[i];
      if (byte == '\x1B') {
        i = sequence(bytes, i);
        continue;
      }
      if (byte == '\r') {
        column_ = 0;
        pending_wrap_ = false;
        ++i;
        continue;
      }
      if (byte == '\n') {
        down(1);
        pending_wrap_ = false;
        ++i;
        continue;
      }
      size_t used = 1;
      int32_t code = key_decoder::decode_utf8(bytes.data() + i, bytes.size() - i, &used);
      i += used;
      put(static_cast<char32_t>(code));
    }
  }

  // The text of a row, trailing blanks dropped (a wide char's second cell
  // is left out).
  std::string row(int index) const {
    if (index >= static_cast<int>(rows_.size())) return "";
    std::string text;
    for (char32_t c : rows_[static_cast<size_t>(index)]) {
      if (c == kSecondHalf) continue;
      line_editor::append_utf8(&text, c == 0 ? U' ' : c);
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
  }
  int row_count() const { return static_cast<int>(rows_.size()); }
  int cursor_row() const { return row_; }
  int cursor_column() const { return column_; }

 private:
  static constexpr char32_t kSecondHalf = 0xFFFFFFFF;
  int columns_;
  std::vector<std::u32string> rows_;
  int row_ = 0;
  int column_ = 0;
  bool pending_wrap_ = false;

  void down(int count) {
    row_ += count;
    while (static_cast<int>(rows_.size()) <= row_) rows_.emplace_back();
  }

  void set_cell(int column, char32_t c) {
    std::u32string& cells = rows_[static_cast<size_t>(row_)];
    if (static_cast<int>(cells.size()) <= column) cells.resize(static_cast<size_t>(column) + 1, 0);
    cells[static_cast<size_t>(column)] = c;
  }

  void put(char32_t c) {
    int width = (c >= 0x1F300 && c <= 0x1F5FF) ? 2 : unicode::char_width(c);
    if (width == 0) return;
    if (pending_wrap_ || column_ + width > columns_) {
      // A wide char that does not fit leaves the last cell blank.
      column_ = 0;
      down(1);
      pending_wrap_ = false;
    }
    set_cell(column_, c);
    if (width == 2) set_cell(column_ + 1, kSecondHalf);
    column_ += width;
    if (column_ >= columns_) {
      column_ = columns_ - 1;
      pending_wrap_ = true;
    }
  }

  size_t sequence(const std::string& bytes, size_t at) {
    size_t i = at + 1;
    if (i >= bytes.size() || bytes[i] != '[') return i;
    ++i;
    int number = 0;
    bool first = true;  // only the first parameter counts here
    while (i < bytes.size() && ((bytes[i] >= '0' && bytes[i] <= '9') || bytes[i] == ';')) {
      if (bytes[i] == ';') first = false;
      else if (first) number = number * 10 + (bytes[i] - '0');
      ++i;
    }
    bool has_number = number > 0;
    if (i >= bytes.size()) return i;
    if (!has_number) number = 1;
    char final = bytes[i];
    pending_wrap_ = false;
    switch (final) {
      case 'A': row_ = std::max(0, row_ - number); break;
      case 'B': down(number); break;
      case 'C': column_ = std::min(columns_ - 1, column_ + number); break;
      case 'D': column_ = std::max(0, column_ - number); break;
      case 'J':
        if (row_ < static_cast<int>(rows_.size())) {
          std::u32string& cells = rows_[static_cast<size_t>(row_)];
          if (static_cast<int>(cells.size()) > column_) cells.resize(static_cast<size_t>(column_));
          rows_.resize(static_cast<size_t>(row_) + 1);
        }
        break;
      default: break;  // colours and the like change no cell
    }
    return i + 1;
  }
};

}  // namespace kel::test_support
