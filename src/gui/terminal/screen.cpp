// The cell grid and the color conversion of the terminal GUI (see screen.h).
#include "gui/terminal/screen.h"

#include <algorithm>

#include "runtime/unicode.h"

namespace kel::tui {

namespace color {

namespace {
// The xterm palette's value of a 256-color index at or above 16.
void palette_rgb(int32_t index, int32_t* red, int32_t* green, int32_t* blue) {
  static constexpr int32_t kCubeLevels[6] = {0, 95, 135, 175, 215, 255};
  if (index >= 232) {
    *red = *green = *blue = 8 + 10 * (index - 232);
    return;
  }
  int32_t cube = index - 16;
  *red = kCubeLevels[cube / 36];
  *green = kCubeLevels[cube / 6 % 6];
  *blue = kCubeLevels[cube % 6];
}

int32_t cube_level(int32_t channel) {
  if (channel < 48) return 0;
  if (channel < 115) return 1;
  return (channel - 35) / 40;
}

int32_t distance(int32_t index, int32_t red, int32_t green, int32_t blue) {
  int32_t r = 0, g = 0, b = 0;
  palette_rgb(index, &r, &g, &b);
  return (r - red) * (r - red) + (g - green) * (g - green) + (b - blue) * (b - blue);
}
}  // namespace

uint32_t rgb_to_256(uint32_t packed_color) {
  if ((packed_color >> 24) == 255) return kDefault;
  int32_t red = static_cast<int32_t>(packed_color & 0xFF);
  int32_t green = static_cast<int32_t>(packed_color >> 8 & 0xFF);
  int32_t blue = static_cast<int32_t>(packed_color >> 16 & 0xFF);
  int32_t cube = 16 + 36 * cube_level(red) + 6 * cube_level(green) + cube_level(blue);
  int32_t average = (red + green + blue) / 3;
  int32_t grey = 232 + (average > 238 ? 23 : (average - 3) / 10);
  bool cube_nearer = distance(cube, red, green, blue) < distance(grey, red, green, blue);
  return palette256(static_cast<uint32_t>(cube_nearer ? cube : grey));
}

}  // namespace color

CellRect CellRect::intersect(const CellRect& other) const {
  CellRect both{std::max(x1, other.x1), std::max(y1, other.y1), std::min(x2, other.x2),
                std::min(y2, other.y2)};
  if (both.empty()) return CellRect{};
  return both;
}

void Screen::resize(int32_t width, int32_t height) {
  width_ = std::max(width, 0);
  height_ = std::max(height, 0);
  size_t needed = static_cast<size_t>(width_) * static_cast<size_t>(height_);
  if (cells_.size() < needed) cells_.resize(needed);
  clear();
}

void Screen::clear() {
  std::fill(cells_.begin(), cells_.begin() + static_cast<ptrdiff_t>(width_) * height_, ScreenCell{});
}

void Screen::split_wide(int32_t x, int32_t y) {
  ScreenCell& cell = cells_[cell_index(x, y)];
  if ((cell.attributes & attribute::kContinuation) != 0) {
    if (x > 0) cells_[cell_index(x - 1, y)].code_point = ' ';
    cell.attributes &= ~attribute::kContinuation;
    cell.code_point = ' ';
  } else if (x + 1 < width_ && (cells_[cell_index(x + 1, y)].attributes & attribute::kContinuation) != 0) {
    ScreenCell& second = cells_[cell_index(x + 1, y)];
    second.attributes &= ~attribute::kContinuation;
    second.code_point = ' ';
  }
}

int32_t Screen::put(int32_t x, int32_t y, uint32_t code_point, const CellStyle& style,
                    const CellRect& clip) {
  CellRect area = clip.intersect(bounds());
  if (!area.contains(x, y)) return 0;
  // Control characters never reach the terminal as bytes.
  if (code_point < 0x20 || (code_point >= 0x7F && code_point < 0xA0)) code_point = 0xFFFD;
  int32_t width = code_point > 0x10FFFF ? 1 : unicode::char_width(code_point);
  if (width == 0) return 0;
  if (width == 2 && x + 1 >= area.x2) {
    code_point = ' ';
    width = 1;
  }
  split_wide(x, y);
  cells_[cell_index(x, y)] = ScreenCell{code_point, style.background, style.foreground,
                                   style.attributes & ~attribute::kContinuation};
  if (width == 2) {
    split_wide(x + 1, y);
    cells_[cell_index(x + 1, y)] = ScreenCell{0, style.background, style.foreground,
                                         (style.attributes & ~attribute::kContinuation) | attribute::kContinuation};
  }
  return width;
}

void Screen::fill(int32_t x, int32_t y, uint32_t background) {
  if (!contains(x, y)) return;
  split_wide(x, y);
  ScreenCell& cell = cells_[cell_index(x, y)];
  cell = ScreenCell{0, background, cell.foreground, 0};
}

void Screen::restyle(int32_t x, int32_t y, const uint32_t* foreground, const uint32_t* background,
                     uint32_t attributes_to_set) {
  if (!contains(x, y)) return;
  auto change = [&](ScreenCell& cell) {
    if (foreground != nullptr) cell.foreground = *foreground;
    if (background != nullptr) cell.background = *background;
    cell.attributes |= attributes_to_set & ~attribute::kContinuation;
  };
  ScreenCell& cell = cells_[cell_index(x, y)];
  change(cell);
  // The other half of a wide character takes the same style.
  if ((cell.attributes & attribute::kContinuation) != 0) {
    if (x > 0) change(cells_[cell_index(x - 1, y)]);
  } else if (x + 1 < width_ && (cells_[cell_index(x + 1, y)].attributes & attribute::kContinuation) != 0) {
    change(cells_[cell_index(x + 1, y)]);
  }
}

}  // namespace kel::tui
