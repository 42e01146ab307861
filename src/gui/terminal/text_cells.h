// Text in character cells: how the terminal GUI lays out and paints a
// face's text, a list's lines or a draw block's text, and lays styles of
// rich text over character ranges.
//
// Each character takes its display width (a wide one two cells, a
// combining mark none); a line feed starts a new line at the text's left
// column. With wrapping a line breaks where the next character would pass
// the right edge; without it the rest of the line is cut. Control
// characters are painted as U+FFFD (screen.h), so no text sends raw bytes
// to the terminal.
//
// With SGR interpretation on, an ESC "[" sequence inside the text is
// consumed, never painted: up to three decimal parameters (each modulo
// 65535; a ";" after the third starts a new group and applies nothing),
// and the final "m" applies them in order as SGR codes to the characters
// after it (bold, dim, italic, underline, blink, reverse, hidden, strike
// and their clearing codes 21-29; the 16-color foregrounds and backgrounds
// 30-37, 39, 40-47, 49, 90-97, 100-107; 38;5;n and 48;5;n for the 256-color
// palette; 0 returns to the text's own style). The cursor and erase
// sequences (H f A B C D J K s u) and every other final byte are consumed
// and do nothing. An ESC not followed by "[" is painted as a character.
//
// Ranges of rich text count code points: position i is the i-th code point
// of the text, whatever its width or its plane.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "gui/terminal/cell_shapes.h"
#include "gui/terminal/screen.h"

namespace kel::tui {

struct TextStyle {
  uint32_t foreground = color::kDefault;
  uint32_t attributes = 0;     // cell attributes: bold, dim, reverse, masked ...
  bool interpret_sgr = false;  // SGR sequences in the text change the style
  bool wrap = false;
};

struct TextSize {
  int32_t columns = 0;  // the widest line
  int32_t lines = 0;
  bool operator==(const TextSize&) const = default;
};

// The size of the laid-out text; wrap_width above 0 wraps at that width.
TextSize measure_text(std::u32string_view text, int32_t wrap_width, bool interpret_sgr);

// Paints the text with its first line at (x, y), inside the clip (cut to
// the screen); cells keep their background unless an SGR code sets one.
// When cells is given it receives, for each code point of the text, the
// cell it was painted in ({-1, -1} when it was not: a sequence, a line
// feed, a cut or clipped character).
void paint_text(Screen& screen, const CellRect& clip, int32_t x, int32_t y, std::u32string_view text,
                const TextStyle& style, std::vector<CellPoint>* cells = nullptr);

// A style laid over painted characters.
struct RangeStyle {
  bool set_foreground = false;
  uint32_t foreground = color::kDefault;
  bool set_background = false;
  uint32_t background = color::kDefault;
  uint32_t attributes = 0;  // set in addition to the cell's own
};

// Lays the style over the characters from start (0-based, in code points)
// for count code points; positions outside the text are left alone.
void style_range(Screen& screen, const std::vector<CellPoint>& cells, int64_t start, int64_t count,
                 const RangeStyle& style);

}  // namespace kel::tui
