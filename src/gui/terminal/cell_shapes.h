// The draw dialect's shapes in character cells: boxes, lines, triangles,
// circles and ellipses painted into the screen for a face.
//
// Every point is relative to the face (its top-left cell is 0x0) and every
// cell painted lies inside the face's clip rectangle (its visible area in
// screen cells), so a face never paints over another. Outline cells are
// "█" in the pen color (box frames use the box-drawing characters);
// filled cells are blanks with the fill color as background and keep their
// foreground; an outline cell keeps the background under it.
//
// Work is bounded by the clip, not by the coordinates: a line is walked
// only over the part that can reach the clip, and radii are held at
// kLargestRadius, so a huge shape costs no more than one the size of the
// screen.
#pragma once

#include <cstdint>
#include <vector>

#include "gui/terminal/screen.h"

namespace kel::tui {

struct CellPoint {
  int32_t x = 0, y = 0;
};

// The draw state of one face being painted.
struct DrawState {
  int32_t origin_x = 0, origin_y = 0;  // the face's top-left cell on the screen
  CellRect clip;                       // the face's visible area on the screen
  bool pen_on = true;
  uint32_t pen_color = color::kDefault;
  bool fill_on = false;
  uint32_t fill_color = color::kDefault;
};

constexpr int32_t kLargestRadius = 1 << 16;

// A box between two opposite corners (both inside it, in any order).
void draw_box(Screen& screen, const DrawState& state, CellPoint first, CellPoint second);
// Connected segments through the points.
void draw_line(Screen& screen, const DrawState& state, const std::vector<CellPoint>& points);
void draw_triangle(Screen& screen, const DrawState& state, CellPoint a, CellPoint b, CellPoint c);
// A circle of the radius around the center, twice as wide as high in cells
// (a cell is about twice as high as wide); nothing for a radius below 1.
void draw_circle(Screen& screen, const DrawState& state, CellPoint center, int32_t radius);
// The ellipse inside the box at top_left of the size; nothing when either
// side is below 1.
void draw_ellipse(Screen& screen, const DrawState& state, CellPoint top_left, double width, double height);

}  // namespace kel::tui
