// The line editor's core (see line_editor.h).
#include "console/line_editor.h"

#include <algorithm>

#include "runtime/unicode.h"

namespace kel::line_editor {

namespace keys = key_decoder::keys;

namespace {

constexpr char32_t kEscapeChar = 0x1B;
constexpr int32_t kTabCells = 4;

// The chars of the ESC sequences in a prompt (ESC, then "[" or "(", digits
// and ";", and one final char) take no cells.
std::vector<bool> prompt_sequence_chars(const std::u32string& prompt) {
  std::vector<bool> in_sequence(prompt.size(), false);
  for (size_t i = 0; i < prompt.size(); ++i) {
    if (prompt[i] != kEscapeChar) continue;
    in_sequence[i] = true;
    if (i + 1 >= prompt.size() || (prompt[i + 1] != U'[' && prompt[i + 1] != U'(')) continue;
    size_t k = i + 1;
    in_sequence[k++] = true;
    while (k < prompt.size() && ((prompt[k] >= U'0' && prompt[k] <= U'9') || prompt[k] == U';')) in_sequence[k++] = true;
    if (k < prompt.size()) in_sequence[k++] = true;
    i = k - 1;
  }
  return in_sequence;
}

void append_number(std::string* out, int32_t number) { *out += std::to_string(number); }

}  // namespace

int32_t display_width(char32_t c) {
  if (c == U'\t') return kTabCells;
  if (c < 0x20 || c == 0x7F) return 0;
  // Most terminals draw the pictographs of this block two cells wide.
  if (c >= 0x1F300 && c <= 0x1F5FF) return 2;
  return unicode::char_width(c);
}

void append_utf8(std::string* out, char32_t c) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | (c >> 6));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out += static_cast<char>(0xE0 | (c >> 12));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (c >> 18));
    *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string to_utf8(const std::u32string& text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t c : text) append_utf8(&out, c);
  return out;
}

std::u32string from_utf8(const std::string& text) {
  std::u32string out;
  size_t i = 0;
  while (i < text.size()) {
    size_t used = 1;
    int32_t code = key_decoder::decode_utf8(text.data() + i, text.size() - i, &used);
    out += static_cast<char32_t>(code == key_decoder::kIncomplete ? key_decoder::kReplacementChar : code);
    i += used;
  }
  return out;
}

// --- Reads and keys -------------------------------------------------------------------------

void Editor::begin(std::u32string prompt, bool hidden, std::vector<std::u32string> history, int32_t columns,
                   int32_t origin_column) {
  prompt_ = std::move(prompt);
  hidden_ = hidden;
  history_ = std::move(history);
  history_position_ = -1;
  added_to_history_ = false;
  finished_ = false;
  columns_ = std::max(columns, 1);
  origin_column_ = std::clamp(origin_column, 0, columns_ - 1);
  line_.clear();
  cursor_ = 0;
  output_.clear();
  terminal_ = Position{0, origin_column_};
  draw_from_scratch();
}

Outcome Editor::key(int32_t code) {
  switch (code) {
    case keys::kTab:
      complete();
      return Outcome::kGoingOn;
    case keys::kEnter:
      finish_on_new_row();
      if (!hidden_ && !line_.empty() && (history_.empty() || history_.front() != line_)) {
        history_.insert(history_.begin(), line_);
        added_to_history_ = true;
      }
      return Outcome::kLine;
    case keys::kBackspace:
    case keys::kDeleteChar:
      if (cursor_ > 0) line_.erase(--cursor_, 1);
      return Outcome::kGoingOn;
    case keys::kLeft:
    case keys::kCtrlB:
      if (cursor_ > 0) --cursor_;
      return Outcome::kGoingOn;
    case keys::kRight:
    case keys::kCtrlF:
      if (cursor_ < line_.size()) ++cursor_;
      return Outcome::kGoingOn;
    case keys::kUp:
    case keys::kCtrlP:
      if (history_position_ >= static_cast<int32_t>(history_.size()) - 1) {
        line_.clear();
        cursor_ = 0;
      } else {
        fetch_history(++history_position_);
      }
      return Outcome::kGoingOn;
    case keys::kDown:
    case keys::kCtrlN:
      // Down shows the entry at the position before moving, so the first
      // Down after a run of Up shows the same entry again.
      if (history_position_ < 0) {
        line_.clear();
        cursor_ = 0;
      } else {
        fetch_history(history_position_--);
      }
      return Outcome::kGoingOn;
    case keys::kHome:
    case keys::kCtrlA:
      cursor_ = 0;
      return Outcome::kGoingOn;
    case keys::kEnd:
    case keys::kCtrlE:
      cursor_ = line_.size();
      return Outcome::kGoingOn;
    case keys::kDelete:
      if (cursor_ < line_.size()) line_.erase(cursor_, 1);
      return Outcome::kGoingOn;
    case keys::kCtrlK:
      line_.erase(cursor_);
      return Outcome::kGoingOn;
    case keys::kCtrlD:
      if (cursor_ < line_.size()) {
        line_.erase(cursor_, 1);
        return Outcome::kGoingOn;
      }
      if (!line_.empty()) return Outcome::kGoingOn;
      finish_on_new_row();
      line_ = U"q";
      return Outcome::kQuit;
    case keys::kCtrlC:
      finish_on_new_row();
      line_ = U"q";
      return Outcome::kQuit;
    case keys::kEscape:
      finish_on_new_row();
      line_ += kEscapeChar;
      return Outcome::kEscape;
    default:
      if (code < 0x20 || code > 0x10FFFF) return Outcome::kGoingOn;
      insert(static_cast<char32_t>(code));
      return Outcome::kGoingOn;
  }
}

void Editor::insert(char32_t c) {
  line_.insert(cursor_, 1, c);
  ++cursor_;
}

// Fetching copies the entry: editing the line never changes the history.
void Editor::fetch_history(int32_t index) {
  line_ = history_[static_cast<size_t>(index)];
  cursor_ = line_.size();
}

// One value: it becomes the line. Several: they are listed on rows of
// their own below the line, and the prompt and the new line are drawn
// again under them; the read goes on. None: Tab is typed as a char.
void Editor::complete() {
  Completion completion;
  if (completer_) completion = completer_(line_, cursor_);
  if (completion.values.empty()) {
    insert(U'\t');
    return;
  }
  auto take_line = [&] {
    line_ = completion.values.front();
    cursor_ = std::min(completion.cursor, line_.size());
  };
  if (completion.values.size() == 1) {
    take_line();
    return;
  }
  render();
  take_line();
  move_to(starts_.back());
  if (!(terminal_.column == 0 && terminal_.row > 0)) output_ += "\r\n";
  std::string listing;
  for (size_t i = 1; i < completion.values.size(); ++i) {
    for (char32_t c : completion.values[i]) {
      if (c >= 0x20 && c != 0x7F) append_utf8(&listing, c);
    }
    listing += ' ';
  }
  output_ += listing;
  output_ += "\r\n";
  origin_column_ = 0;
  terminal_ = Position{0, 0};
  draw_from_scratch();
}

// The cursor goes below the end of the text, to the start of a new row.
void Editor::finish_on_new_row() {
  if (finished_) return;
  render();
  move_to(starts_.back());
  if (!(terminal_.column == 0 && terminal_.row > 0)) output_ += "\r\n";
  finished_ = true;
}

// --- The screen -----------------------------------------------------------------------------

std::u32string Editor::wanted() const {
  std::u32string text = prompt_;
  if (hidden_) text.append(line_.size(), U'*');
  else text += line_;
  return text;
}

void Editor::lay_out_from(size_t index) {
  starts_.resize(shown_.size() + 1);
  for (size_t i = index; i < shown_.size(); ++i) {
    Position at = starts_[i];
    int32_t width = widths_[i];
    if (shown_[i] == U'\t') {
      at.column += width;
      at.row += at.column / columns_;
      at.column %= columns_;
    } else if (width > 0) {
      if (at.column + width > columns_) at = Position{at.row + 1, 0};
      at.column += width;
      if (at.column >= columns_) at = Position{at.row + 1, 0};
    }
    starts_[i + 1] = at;
  }
}

Position Editor::drawn_at(size_t index) const {
  Position at = starts_[index];
  if (shown_[index] != U'\t' && at.column + widths_[index] > columns_) return Position{at.row + 1, 0};
  return at;
}

Position Editor::cursor_position() const {
  size_t index = prompt_.size() + cursor_;
  return index < shown_.size() ? drawn_at(index) : starts_.back();
}

void Editor::move_to(Position target) {
  if (target.row < terminal_.row) {
    output_ += "\x1B[";
    append_number(&output_, terminal_.row - target.row);
    output_ += 'A';
  } else if (target.row > terminal_.row) {
    output_ += "\x1B[";
    append_number(&output_, target.row - terminal_.row);
    output_ += 'B';
  }
  if (target.column != terminal_.column) {
    if (target.column == 0) {
      output_ += '\r';
    } else {
      output_ += "\x1B[";
      append_number(&output_, std::abs(target.column - terminal_.column));
      output_ += target.column > terminal_.column ? 'C' : 'D';
    }
  }
  terminal_ = target;
}

// Writes one char of shown_ where the terminal's cursor is (its start). A
// row filled to the right margin is left with CR LF, so the terminal's
// cursor is where the layout says, whatever the terminal's wrapping rules.
void Editor::write_char(size_t index) {
  char32_t c = shown_[index];
  int32_t width = widths_[index];
  auto cells = [this](const std::string& bytes, int32_t count) {
    output_ += bytes;
    terminal_.column += count;
    if (terminal_.column >= columns_) {
      output_ += "\r\n";
      terminal_ = Position{terminal_.row + 1, 0};
    }
  };
  if (c == U'\t') {
    for (int32_t i = 0; i < width; ++i) cells(" ", 1);
    return;
  }
  if (width == 0) {
    bool in_prompt = index < prompt_.size();
    if ((c >= 0x20 && c != 0x7F) || (in_prompt && c == kEscapeChar)) append_utf8(&output_, c);
    return;
  }
  if (terminal_.column + width > columns_) cells(std::string(static_cast<size_t>(columns_ - terminal_.column), ' '), columns_ - terminal_.column);
  std::string bytes;
  append_utf8(&bytes, c);
  cells(bytes, std::min(width, columns_));
}

void Editor::render() {
  if (finished_) return;
  std::u32string want = wanted();
  size_t old_size = shown_.size();
  size_t first = 0;
  size_t common = std::min(old_size, want.size());
  while (first < common && shown_[first] == want[first]) ++first;
  if (first < old_size || first < want.size()) {
    std::vector<bool> in_sequence;
    if (first < prompt_.size()) in_sequence = prompt_sequence_chars(prompt_);
    shown_ = std::move(want);
    widths_.resize(shown_.size());
    for (size_t i = first; i < shown_.size(); ++i) {
      widths_[i] = static_cast<uint8_t>(i < prompt_.size() && in_sequence[i] ? 0 : display_width(shown_[i]));
    }
    lay_out_from(first);
    move_to(starts_[first]);
    for (size_t i = first; i < shown_.size(); ++i) write_char(i);
    if (old_size > first) output_ += "\x1B[J";
  }
  move_to(cursor_position());
}

void Editor::draw_from_scratch() {
  shown_.clear();
  widths_.clear();
  starts_.assign(1, Position{0, origin_column_});
  render();
}

void Editor::resize(int32_t columns) {
  output_ += '\r';
  if (terminal_.row > 0) {
    output_ += "\x1B[";
    append_number(&output_, terminal_.row);
    output_ += 'A';
  }
  output_ += "\x1B[J";
  columns_ = std::max(columns, 1);
  origin_column_ = 0;
  terminal_ = Position{0, 0};
  draw_from_scratch();
}

void Editor::redraw_on_new_row() {
  output_ += "\r\n";
  origin_column_ = 0;
  terminal_ = Position{0, 0};
  draw_from_scratch();
}

std::string Editor::take_output() {
  std::string taken;
  taken.swap(output_);
  return taken;
}

}  // namespace kel::line_editor
