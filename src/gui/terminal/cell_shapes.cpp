// The draw dialect's shapes in character cells (see cell_shapes.h).
#include "gui/terminal/cell_shapes.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace kel::tui {

namespace {

constexpr uint32_t kFullBlock = 0x2588;
constexpr uint32_t kTopLeft = 0x250C, kTopRight = 0x2510, kBottomLeft = 0x2514, kBottomRight = 0x2518;
constexpr uint32_t kVertical = 0x2502, kHorizontal = 0x2500;

// Coordinates on the screen, wide enough for a face's offset plus any
// 32-bit point.
struct Cell64 {
  int64_t x, y;
};

Cell64 on_screen(const DrawState& state, CellPoint point) {
  return Cell64{int64_t{state.origin_x} + point.x, int64_t{state.origin_y} + point.y};
}

CellRect visible_clip(const Screen& screen, const DrawState& state) { return state.clip.intersect(screen.bounds()); }

bool inside(const CellRect& clip, int64_t x, int64_t y) {
  return x >= clip.x1 && x < clip.x2 && y >= clip.y1 && y < clip.y2;
}

// An outline cell: the glyph in the pen color over the cell's background.
void outline(Screen& screen, const CellRect& clip, const DrawState& state, int64_t x, int64_t y,
             uint32_t glyph) {
  if (!inside(clip, x, y)) return;
  int32_t column = static_cast<int32_t>(x), row = static_cast<int32_t>(y);
  CellStyle style{screen.at(column, row).background, state.pen_color, 0};
  screen.put(column, row, glyph, style, clip);
}

void fill_row(Screen& screen, const CellRect& clip, const DrawState& state, int64_t y, int64_t from, int64_t to) {
  if (y < clip.y1 || y >= clip.y2) return;
  if (from > to) std::swap(from, to);
  int64_t first = std::max<int64_t>(from, clip.x1), last = std::min<int64_t>(to, clip.x2 - 1);
  for (int64_t x = first; x <= last; ++x) {
    screen.fill(static_cast<int32_t>(x), static_cast<int32_t>(y), state.fill_color);
  }
}

// a0 + (a1 - a0) * numerator / denominator, truncated toward zero, without
// overflow.
int64_t interpolate(int64_t a0, int64_t a1, int64_t numerator, int64_t denominator) {
  return a0 + static_cast<int64_t>(static_cast<__int128>(a1 - a0) * numerator / denominator);
}

// floor(numerator / denominator) for a positive denominator.
int64_t floor_divide(__int128 numerator, __int128 denominator) {
  __int128 quotient = numerator / denominator;
  if (numerator % denominator != 0 && numerator < 0) --quotient;
  return static_cast<int64_t>(quotient);
}

// One segment, walked along its longer axis and only over the steps whose
// cells can lie in the clip; the shorter axis is rounded to the nearest
// cell.
void segment(Screen& screen, const CellRect& clip, const DrawState& state, Cell64 from, Cell64 to) {
  int64_t dx = to.x - from.x, dy = to.y - from.y;
  bool along_x = std::llabs(dx) >= std::llabs(dy);
  int64_t steps = along_x ? std::llabs(dx) : std::llabs(dy);
  if (steps == 0) {
    outline(screen, clip, state, from.x, from.y, kFullBlock);
    return;
  }
  int64_t major_start = along_x ? from.x : from.y;
  int64_t direction = (along_x ? dx : dy) > 0 ? 1 : -1;
  int64_t low = along_x ? clip.x1 : clip.y1, high = (along_x ? clip.x2 : clip.y2) - 1;
  // The steps whose major coordinate falls inside the clip.
  int64_t first = direction > 0 ? low - major_start : major_start - high;
  int64_t last = direction > 0 ? high - major_start : major_start - low;
  first = std::max<int64_t>(first, 0);
  last = std::min(last, steps);
  int64_t minor_start = along_x ? from.y : from.x, minor_delta = along_x ? dy : dx;
  for (int64_t i = first; i <= last; ++i) {
    int64_t major = major_start + direction * i;
    int64_t minor = minor_start + floor_divide(static_cast<__int128>(2) * i * minor_delta + steps,
                                               static_cast<__int128>(2) * steps);
    if (along_x) {
      outline(screen, clip, state, major, minor, kFullBlock);
    } else {
      outline(screen, clip, state, minor, major, kFullBlock);
    }
  }
}

// The ellipse of radii rx and ry around the center, outline and fill
// (the integer midpoint form: four symmetric points a step, then the rest
// of the vertical run of a flat ellipse).
void ellipse(Screen& screen, const DrawState& state, Cell64 center, int64_t rx, int64_t ry) {
  CellRect clip = visible_clip(screen, state);
  if (clip.empty()) return;
  rx = std::min<int64_t>(rx, kLargestRadius);
  ry = std::min<int64_t>(ry, kLargestRadius);
  struct Step {
    int64_t x, y;
  };
  std::vector<Step> steps;
  int64_t x = -rx, y = 0;
  int64_t b2 = ry * ry, a2 = rx * rx;
  int64_t error = x * (2 * b2 + x) + b2;
  do {
    steps.push_back({x, y});
    int64_t twice = 2 * error;
    if (twice >= (x * 2 + 1) * b2) error += (++x * 2 + 1) * b2;
    if (twice <= (y * 2 + 1) * a2) error += (++y * 2 + 1) * a2;
  } while (x <= 0);
  while (y++ < ry) steps.push_back({0, y});
  if (state.fill_on) {
    for (const Step& step : steps) {
      fill_row(screen, clip, state, center.y + step.y, center.x + step.x, center.x - step.x);
      fill_row(screen, clip, state, center.y - step.y, center.x + step.x, center.x - step.x);
    }
  }
  if (state.pen_on) {
    for (const Step& step : steps) {
      outline(screen, clip, state, center.x - step.x, center.y + step.y, kFullBlock);
      outline(screen, clip, state, center.x + step.x, center.y + step.y, kFullBlock);
      outline(screen, clip, state, center.x + step.x, center.y - step.y, kFullBlock);
      outline(screen, clip, state, center.x - step.x, center.y - step.y, kFullBlock);
    }
  }
}

}  // namespace

void draw_box(Screen& screen, const DrawState& state, CellPoint first, CellPoint second) {
  CellRect clip = visible_clip(screen, state);
  Cell64 a = on_screen(state, first), b = on_screen(state, second);
  int64_t left = std::min(a.x, b.x), right = std::max(a.x, b.x);
  int64_t top = std::min(a.y, b.y), bottom = std::max(a.y, b.y);
  if (clip.empty() || left >= clip.x2 || right < clip.x1 || top >= clip.y2 || bottom < clip.y1) return;
  int64_t x_from = std::max<int64_t>(left, clip.x1), x_to = std::min<int64_t>(right, clip.x2 - 1);
  int64_t y_from = std::max<int64_t>(top, clip.y1), y_to = std::min<int64_t>(bottom, clip.y2 - 1);
  for (int64_t y = y_from; y <= y_to; ++y) {
    if (state.fill_on) fill_row(screen, clip, state, y, x_from, x_to);
    if (!state.pen_on) continue;
    for (int64_t x = x_from; x <= x_to; ++x) {
      bool on_left = x == left, on_right = x == right, on_top = y == top, on_bottom = y == bottom;
      uint32_t glyph = 0;
      if (on_top && on_left) glyph = kTopLeft;
      else if (on_top && on_right) glyph = kTopRight;
      else if (on_bottom && on_left) glyph = kBottomLeft;
      else if (on_bottom && on_right) glyph = kBottomRight;
      else if (on_left || on_right) glyph = kVertical;
      else if (on_top || on_bottom) glyph = kHorizontal;
      if (glyph != 0) outline(screen, clip, state, x, y, glyph);
    }
  }
}

void draw_line(Screen& screen, const DrawState& state, const std::vector<CellPoint>& points) {
  CellRect clip = visible_clip(screen, state);
  if (clip.empty() || !state.pen_on) return;
  for (size_t i = 1; i < points.size(); ++i) {
    segment(screen, clip, state, on_screen(state, points[i - 1]), on_screen(state, points[i]));
  }
}

void draw_triangle(Screen& screen, const DrawState& state, CellPoint a, CellPoint b, CellPoint c) {
  CellRect clip = visible_clip(screen, state);
  if (clip.empty()) return;
  Cell64 corners[3] = {on_screen(state, a), on_screen(state, b), on_screen(state, c)};
  std::sort(std::begin(corners), std::end(corners), [](const Cell64& p, const Cell64& q) { return p.y < q.y; });
  const Cell64 &top = corners[0], &middle = corners[1], &bottom = corners[2];
  if (state.fill_on) {
    int64_t y_from = std::max<int64_t>(top.y, clip.y1), y_to = std::min<int64_t>(bottom.y, clip.y2);
    for (int64_t y = y_from; y < y_to; ++y) {
      int64_t long_edge = interpolate(top.x, bottom.x, y - top.y, bottom.y - top.y);
      int64_t short_edge = y < middle.y ? interpolate(top.x, middle.x, y - top.y, middle.y - top.y)
                                        : interpolate(middle.x, bottom.x, y - middle.y, bottom.y - middle.y);
      fill_row(screen, clip, state, y, long_edge, short_edge);
    }
  }
  if (state.pen_on) {
    segment(screen, clip, state, top, middle);
    segment(screen, clip, state, middle, bottom);
    segment(screen, clip, state, bottom, top);
  }
}

void draw_circle(Screen& screen, const DrawState& state, CellPoint center, int32_t radius) {
  if (radius <= 0) return;
  int64_t r = std::min<int64_t>(radius, kLargestRadius);
  ellipse(screen, state, on_screen(state, center), 2 * r, r);
}

void draw_ellipse(Screen& screen, const DrawState& state, CellPoint top_left, double width, double height) {
  if (!(width >= 1) || !(height >= 1)) return;
  auto radius = [](double side) {
    double half = std::trunc((std::min(side, 4.0 * kLargestRadius) + 0.5) / 2);
    return static_cast<int64_t>(half);
  };
  int64_t rx = radius(width), ry = radius(height);
  Cell64 corner = on_screen(state, top_left);
  ellipse(screen, state, Cell64{corner.x + rx, corner.y + ry}, rx, ry);
}

}  // namespace kel::tui
