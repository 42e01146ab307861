// The terminal GUI's screen: a grid of character cells that the widgets and
// the draw dialect paint into, and that the screen writer (screen_output.h)
// turns into bytes for the terminal.
//
// A cell is four 32-bit words: the code point (0 is a blank, written as a
// space), the background and foreground color words, and the attribute
// flags. A color word holds its kind in bits 24-31: 0 the terminal's
// default (the whole word 0), 1 an index into the 16-color table (0-17),
// 2 an index into the 256-color palette, 4 a true color (R in bits 16-23,
// G in 8-15, B in 0-7).
//
// Invariants the painting keeps, so that what is written matches what the
// terminal shows: a cell with the continuation flag always follows a cell
// holding a double-width character, and every double-width character is
// followed by one (a wide character that does not fit becomes a space);
// painting over either half of a wide character turns its other half into
// a space. No cell holds a control character: those are painted as U+FFFD,
// so a face's text can never send raw escape bytes to the terminal.
//
// The storage only grows: a smaller size reuses the block, and every
// resize leaves the whole width x height area blank (code 0, default
// colors, no attributes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kel::tui {

// Attribute flags of a cell. Blink and hidden are kept but never written.
namespace attribute {
constexpr uint32_t kBlink = 0x1;
constexpr uint32_t kBold = 0x2;
constexpr uint32_t kDim = 0x4;
constexpr uint32_t kReverse = 0x8;
constexpr uint32_t kUnderline = 0x10;
constexpr uint32_t kStrike = 0x40;
constexpr uint32_t kItalic = 0x100;
constexpr uint32_t kHidden = 0x200;
constexpr uint32_t kContinuation = 0x400;  // second column of a wide character, not written
constexpr uint32_t kMasked = 0x800;        // written as "*" (password text)
}  // namespace attribute

namespace color {
constexpr uint32_t kDefault = 0;
constexpr uint32_t kKindTable16 = 1, kKindPalette256 = 2, kKindTrueColor = 4;
constexpr uint32_t kind(uint32_t word) { return word >> 24; }
constexpr uint32_t table16(uint32_t index) { return kKindTable16 << 24 | (index & 0xFF); }
constexpr uint32_t palette256(uint32_t index) { return kKindPalette256 << 24 | (index & 0xFF); }
constexpr uint32_t true_color(uint32_t red, uint32_t green, uint32_t blue) {
  return kKindTrueColor << 24 | (red & 0xFF) << 16 | (green & 0xFF) << 8 | (blue & 0xFF);
}

// A color packed as R in bits 0-7, G in 8-15, B in 16-23 and alpha in
// 24-31 (how a tuple color arrives) as a 256-color word: the nearer of the
// closest cube color and the closest grey, by squared distance (the cube
// wins only when strictly nearer). Alpha 255 (fully transparent) gives the
// default color.
uint32_t rgb_to_256(uint32_t packed_color);
}  // namespace color

struct ScreenCell {
  uint32_t code_point = 0;
  uint32_t background = color::kDefault;
  uint32_t foreground = color::kDefault;
  uint32_t attributes = 0;
  bool operator==(const ScreenCell&) const = default;
};

// A rectangle of cells, x2 and y2 excluded.
struct CellRect {
  int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  bool empty() const { return x2 <= x1 || y2 <= y1; }
  bool contains(int32_t x, int32_t y) const { return x >= x1 && x < x2 && y >= y1 && y < y2; }
  CellRect intersect(const CellRect& other) const;
};

// How painted text looks: colors and attribute flags.
struct CellStyle {
  uint32_t background = color::kDefault;
  uint32_t foreground = color::kDefault;
  uint32_t attributes = 0;
};

class Screen {
 public:
  // Sets the size (negative counts are taken as 0) and blanks the area.
  void resize(int32_t width, int32_t height);
  // Blanks the whole area.
  void clear();

  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  CellRect bounds() const { return CellRect{0, 0, width_, height_}; }
  bool contains(int32_t x, int32_t y) const { return x >= 0 && x < width_ && y >= 0 && y < height_; }

  // The cell at a position inside the screen.
  const ScreenCell& at(int32_t x, int32_t y) const { return cells_[cell_index(x, y)]; }
  const ScreenCell* row(int32_t y) const { return cells_.data() + static_cast<size_t>(y) * width_; }

  // Paints one character at (x, y) within the clip (cut to the screen);
  // returns the columns it took: 0 for a zero-width character or outside
  // the clip, 2 for a wide one that fits (else it became a space, 1).
  int32_t put(int32_t x, int32_t y, uint32_t code_point, const CellStyle& style, const CellRect& clip);
  // Paints a blank with the background (a filled area).
  void fill(int32_t x, int32_t y, uint32_t background);
  // Lays a style over a painted cell (both halves of a wide character):
  // the colors that are given, and attributes set in addition.
  void restyle(int32_t x, int32_t y, const uint32_t* foreground, const uint32_t* background,
               uint32_t attributes_to_set);

 private:
  std::vector<ScreenCell> cells_;
  int32_t width_ = 0, height_ = 0;
  size_t cell_index(int32_t x, int32_t y) const { return static_cast<size_t>(y) * width_ + x; }
  // Before (x, y) is overwritten: a wide character it is half of loses its
  // other half, which becomes a space in its own colors.
  void split_wide(int32_t x, int32_t y);
};

}  // namespace kel::tui
