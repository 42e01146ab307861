// Text in cells: measuring, painting with wrapping and cutting, the SGR
// sequences a text may carry (interpreted, never painted), and styles laid
// over ranges counted in code points.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "gui/terminal/text_cells.h"

namespace kel::tui {
namespace {

std::u32string text_of(std::u32string_view readable) {
  // \e in the readable form is ESC.
  std::u32string text;
  for (size_t i = 0; i < readable.size(); ++i) {
    if (readable[i] == U'\\' && i + 1 < readable.size() && readable[i + 1] == U'e') {
      text += char32_t{0x1B};
      ++i;
    } else {
      text += readable[i];
    }
  }
  return text;
}

std::string rows_of(const Screen& screen) {
  std::string text;
  for (int32_t y = 0; y < screen.height(); ++y) {
    if (y > 0) text += '|';
    for (int32_t x = 0; x < screen.width(); ++x) {
      const ScreenCell& cell = screen.at(x, y);
      if ((cell.attributes & attribute::kContinuation) != 0) continue;
      uint32_t c = cell.code_point;
      if (c == 0) text += '.';
      else if (c == 0xFFFD) text += '?';
      else if (c < 0x80) text += static_cast<char>(c);
      else text += "W";  // a wide character
    }
  }
  return text;
}

TEST(TuiText, Measure) {
  struct Case {
    const char32_t* text;
    int32_t wrap_width;
    bool sgr;
    TextSize expected;
  };
  const Case cases[] = {
      {U"", 0, true, {0, 0}},
      {U"abc", 0, true, {3, 1}},
      {U"ab\ncde", 0, true, {3, 2}},
      {U"中文", 0, true, {4, 1}},
      {U"e\u0301", 0, true, {1, 1}},  // a combining mark takes no column
      {U"abcdefg", 3, true, {3, 3}},
      {U"a中中", 3, true, {3, 2}},
      {U"\\e[1mab", 0, true, {2, 1}},
      {U"\\e[1mab", 0, false, {6, 1}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(measure_text(text_of(c.text), c.wrap_width, c.sgr), c.expected);
  }
}

// Lines start at the text's column; without wrapping the rest of a line is
// cut, with it the line breaks (a wide character that would pass the edge
// goes whole to the next line); control characters show as U+FFFD.
TEST(TuiText, Layout) {
  struct Case {
    const char32_t* text;
    int32_t x;
    int32_t clip_right;
    bool wrap;
    bool sgr;
    const char* expected;
  };
  const Case cases[] = {
      {U"ab\ncd", 1, 8, false, true, ".ab.....|.cd.....|........"},
      {U"abcdefghij", 0, 8, false, true, "abcdefgh|........|........"},
      {U"abcdefghij", 0, 8, true, true, "abcdefgh|ij......|........"},
      {U"abcd中", 0, 5, true, true, "abcd....|W......|........"},
      {U"abcdefghij\nxy", 0, 8, false, true, "abcdefgh|xy......|........"},
      {U"\\eX\t", 0, 8, false, true, "?X?.....|........|........"},
      {U"\\e[1mX", 0, 8, false, false, "?[1mX...|........|........"},
      {U"\\e[2JX\\e[?25lY\\e[5;5HZ", 0, 8, false, true, "XYZ.....|........|........"},
      {U"ab", -1, 8, false, true, "b.......|........|........"},
  };
  for (const Case& c : cases) {
    Screen screen;
    screen.resize(8, 3);
    TextStyle style;
    style.wrap = c.wrap;
    style.interpret_sgr = c.sgr;
    paint_text(screen, CellRect{0, 0, c.clip_right, 3}, c.x, 0, text_of(c.text), style);
    EXPECT_EQ(rows_of(screen), c.expected);
  }
}

// SGR codes in the text change the style of the characters after them.
TEST(TuiText, SgrCodes) {
  using namespace attribute;
  struct Case {
    const char32_t* text;
    uint32_t base_attributes;
    ScreenCell expected;  // the cell of the last character, "X"
  };
  const uint32_t base_foreground = color::palette256(250);
  const Case cases[] = {
      {U"\\e[1;31mX", 0, {'X', 0, color::table16(1), kBold}},
      {U"\\e[1;31m\\e[0mX", 0, {'X', 0, base_foreground, 0}},
      {U"\\e[1mX\\e[mX", kDim, {'X', 0, base_foreground, kDim}},  // no parameter: 0
      {U"\\e[38;5;196mX", 0, {'X', 0, color::palette256(196), 0}},
      {U"\\e[48;5;21mX", 0, {'X', color::palette256(21), base_foreground, 0}},
      {U"\\e[44mX", 0, {'X', color::table16(4), base_foreground, 0}},
      {U"\\e[49mX", 0, {'X', color::table16(9), base_foreground, 0}},
      {U"\\e[39mX", 0, {'X', 0, color::table16(9), 0}},
      {U"\\e[97mX", 0, {'X', 0, color::table16(17), 0}},
      {U"\\e[103mX", 0, {'X', color::table16(13), base_foreground, 0}},
      {U"\\e[2;3;4;5;7;8;9mX", 0, {'X', 0, base_foreground, kStrike}},  // a new group after the third
      {U"\\e[3;4;7mX", 0, {'X', 0, base_foreground, kItalic | kUnderline | kReverse}},
      {U"\\e[5;8mX", 0, {'X', 0, base_foreground, kBlink | kHidden}},
      {U"\\e[22mX", kBold | kDim, {'X', 0, base_foreground, kBold}},  // clears code 2 only
      {U"\\e[27;29mX", kReverse | kStrike, {'X', 0, base_foreground, 0}},
      {U"\\e[6;26mX", 0, {'X', 0, base_foreground, 0}},
      {U"\\e[38;2;1mX", 0, {'X', 0, base_foreground, 0}},  // another form of 38: the group is ignored
      {U"\\e[65536mX", 0, {'X', 0, base_foreground, kBold}},  // modulo 65535: 1
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    Screen screen;
    screen.resize(4, 1);
    TextStyle style{base_foreground, c.base_attributes, true, false};
    paint_text(screen, screen.bounds(), 0, 0, text_of(c.text), style);
    int32_t last = screen.at(1, 0).code_point == 'X' ? 1 : 0;
    EXPECT_EQ(screen.at(last, 0), c.expected) << "case " << i;
  }
}

// Each code point's cell, and ranges counted in code points: a character
// outside the basic plane is one position, and a style over it reaches
// both its cells.
TEST(TuiText, RangesInCodePoints) {
  Screen screen;
  screen.resize(8, 1);
  std::vector<CellPoint> cells;
  std::u32string text = text_of(U"a\\e[0mb😀c");
  paint_text(screen, screen.bounds(), 0, 0, text, TextStyle{0, 0, true, false}, &cells);
  std::vector<int32_t> columns;
  for (const CellPoint& cell : cells) columns.push_back(cell.x);
  EXPECT_EQ(columns, (std::vector<int32_t>{0, -1, -1, -1, -1, 1, 2, 4}));

  RangeStyle bold;
  bold.attributes = attribute::kBold;
  bold.set_background = true;
  bold.background = color::palette256(21);
  style_range(screen, cells, 6, 1, bold);  // the 😀
  EXPECT_EQ(screen.at(2, 0).attributes, attribute::kBold);
  EXPECT_EQ(screen.at(3, 0).attributes, attribute::kBold | attribute::kContinuation);
  EXPECT_EQ(screen.at(3, 0).background, color::palette256(21));
  EXPECT_EQ(screen.at(4, 0).attributes, 0u);  // "c"
  RangeStyle red;
  red.set_foreground = true;
  red.foreground = color::palette256(196);
  style_range(screen, cells, 7, 100, red);  // past the end: only "c"
  EXPECT_EQ(screen.at(4, 0).foreground, color::palette256(196));
  style_range(screen, cells, -5, 6, red);  // before the start: "a" only
  EXPECT_EQ(screen.at(0, 0).foreground, color::palette256(196));
  EXPECT_EQ(screen.at(1, 0).foreground, 0u);
}

}  // namespace
}  // namespace kel::tui
