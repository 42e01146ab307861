// Text in character cells (see text_cells.h).
#include "gui/terminal/text_cells.h"

#include <algorithm>

#include "runtime/unicode.h"

namespace kel::tui {

namespace {

constexpr char32_t kEscape = 0x1B;
constexpr uint32_t kParameterModulus = 65535;

int32_t display_width(char32_t c) {
  if (c < 0x20 || (c >= 0x7F && c < 0xA0) || c > 0x10FFFF) return 1;  // painted as U+FFFD
  return unicode::char_width(static_cast<uint32_t>(c));
}

// The style SGR codes change as the text goes on.
struct RunningStyle {
  uint32_t foreground;
  uint32_t attributes;
  bool background_set = false;
  uint32_t background = color::kDefault;
};

void apply_sgr(const uint32_t* parameters, int32_t count, const TextStyle& base, RunningStyle* style) {
  static constexpr uint32_t kAttributeOfCode[10] = {
      0, attribute::kBold, attribute::kDim, attribute::kItalic, attribute::kUnderline,
      attribute::kBlink, 0, attribute::kReverse, attribute::kHidden, attribute::kStrike};
  uint32_t reset = 0;
  if (count == 0) {
    parameters = &reset;
    count = 1;
  }
  for (int32_t i = 0; i < count; ++i) {
    uint32_t code = parameters[i];
    if (code == 0) {
      *style = RunningStyle{base.foreground, base.attributes};
    } else if (code <= 9) {
      style->attributes |= kAttributeOfCode[code];
    } else if (code >= 21 && code <= 29) {
      style->attributes &= ~kAttributeOfCode[code - 20];
    } else if ((code >= 30 && code <= 37) || code == 39) {
      style->foreground = color::table16(code - 30);
    } else if ((code >= 40 && code <= 47) || code == 49) {
      style->background = color::table16(code - 40);
      style->background_set = true;
    } else if (code >= 90 && code <= 97) {
      style->foreground = color::table16(code - 80);
    } else if (code >= 100 && code <= 107) {
      style->background = color::table16(code - 90);
      style->background_set = true;
    } else if (code == 38 || code == 48) {
      // Only the 256-color form is taken; any other form ends the group.
      if (i + 2 >= count || parameters[i + 1] != 5) break;
      uint32_t word = color::palette256(parameters[i + 2] & 0xFF);
      if (code == 38) {
        style->foreground = word;
      } else {
        style->background = word;
        style->background_set = true;
      }
      i += 2;
    }
    // 6, 26, other forms of 38 and 48, anything else: nothing.
  }
}

// Walks the text: each character with its index and width, each line
// feed, each SGR sequence (when interpreted). A sequence's code points
// are consumed without a character.
template <class OnChar, class OnLineFeed, class OnSgr>
void walk(std::u32string_view text, bool interpret_sgr, OnChar on_char, OnLineFeed on_line_feed, OnSgr on_sgr) {
  size_t i = 0;
  while (i < text.size()) {
    char32_t c = text[i];
    if (c == '\n') {
      on_line_feed();
      ++i;
      continue;
    }
    if (interpret_sgr && c == kEscape && i + 1 < text.size() && text[i + 1] == '[') {
      uint32_t parameters[3] = {};
      int32_t count = 0;  // parameters of the group so far
      int32_t index = 0;  // the parameter being read
      size_t k = i + 2;
      for (; k < text.size(); ++k) {
        char32_t byte = text[k];
        if (byte >= '0' && byte <= '9') {
          uint32_t& value = parameters[index];
          value = (value * 10 + static_cast<uint32_t>(byte - '0')) % kParameterModulus;
          count = std::max(count, index + 1);
        } else if (byte == ';') {
          if (index == 2) {
            // Past the third parameter a new group starts; the old one
            // applies nothing.
            parameters[0] = parameters[1] = parameters[2] = 0;
            index = count = 0;
          } else {
            ++index;
            count = index + 1;  // an empty parameter counts as 0
          }
        } else if (byte >= 0x40 && byte <= 0x7E) {
          break;
        }
      }
      if (k < text.size() && text[k] == 'm') on_sgr(parameters, count);
      i = k + 1;
      continue;
    }
    on_char(i, c, display_width(c));
    ++i;
  }
}

}  // namespace

TextSize measure_text(std::u32string_view text, int32_t wrap_width, bool interpret_sgr) {
  TextSize size;
  if (text.empty()) return size;
  int32_t column = 0;
  size.lines = 1;
  walk(
      text, interpret_sgr,
      [&](size_t, char32_t, int32_t width) {
        if (width == 0) return;
        if (wrap_width > 0 && column > 0 && column + width > wrap_width) {
          ++size.lines;
          column = 0;
        }
        column += width;
        size.columns = std::max(size.columns, column);
      },
      [&] {
        ++size.lines;
        column = 0;
      },
      [](const uint32_t*, int32_t) {});
  return size;
}

void paint_text(Screen& screen, const CellRect& clip, int32_t x, int32_t y, std::u32string_view text,
                const TextStyle& style, std::vector<CellPoint>* cells) {
  CellRect area = clip.intersect(screen.bounds());
  if (cells != nullptr) cells->assign(text.size(), CellPoint{-1, -1});
  RunningStyle running{style.foreground, style.attributes};
  int64_t column = x, row = y;
  bool cut = false;  // the rest of the line is past the edge
  walk(
      text, style.interpret_sgr,
      [&](size_t index, char32_t c, int32_t width) {
        if (width == 0 || cut) return;
        if (column + width > area.x2) {
          if (style.wrap && column > x) {
            ++row;
            column = x;
          } else {
            cut = true;
            return;
          }
        }
        if (row >= area.y1 && row < area.y2 && column >= area.x1) {
          int32_t at_x = static_cast<int32_t>(column), at_y = static_cast<int32_t>(row);
          uint32_t background = running.background_set ? running.background : screen.at(at_x, at_y).background;
          CellStyle cell_style{background, running.foreground, running.attributes};
          if (screen.put(at_x, at_y, static_cast<uint32_t>(c), cell_style, area) > 0 && cells != nullptr) {
            (*cells)[index] = CellPoint{at_x, at_y};
          }
        }
        column += width;
      },
      [&] {
        ++row;
        column = x;
        cut = false;
      },
      [&](const uint32_t* parameters, int32_t count) { apply_sgr(parameters, count, style, &running); });
}

void style_range(Screen& screen, const std::vector<CellPoint>& cells, int64_t start, int64_t count,
                 const RangeStyle& style) {
  int64_t from = std::max<int64_t>(start, 0);
  int64_t to = std::min<int64_t>(static_cast<int64_t>(cells.size()), count > 0 ? start + count : start);
  for (int64_t i = from; i < to; ++i) {
    const CellPoint& cell = cells[static_cast<size_t>(i)];
    if (cell.x < 0) continue;
    screen.restyle(cell.x, cell.y, style.set_foreground ? &style.foreground : nullptr,
                   style.set_background ? &style.background : nullptr, style.attributes);
  }
}

}  // namespace kel::tui
