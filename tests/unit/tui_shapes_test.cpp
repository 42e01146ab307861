// The draw dialect's shapes on a small cell grid: each case paints into a
// face at 1x1 of a 12x6 screen and compares the whole screen, row by row
// ("." a blank, "=" a filled blank, "#" a full block, box-drawing
// characters as themselves).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "gui/terminal/cell_shapes.h"

namespace kel::tui {
namespace {

constexpr uint32_t kPen = color::palette256(196);
constexpr uint32_t kFill = color::palette256(21);

std::string rows_of(const Screen& screen) {
  std::string text;
  for (int32_t y = 0; y < screen.height(); ++y) {
    if (y > 0) text += '\n';
    for (int32_t x = 0; x < screen.width(); ++x) {
      const ScreenCell& cell = screen.at(x, y);
      if (cell.code_point == 0) {
        text += cell.background == kFill ? '=' : '.';
      } else if (cell.code_point == 0x2588) {
        text += '#';
      } else {
        char32_t c = cell.code_point;
        text += static_cast<char>(0xE0 | (c >> 12));
        text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (c & 0x3F));
      }
    }
  }
  return text;
}

// A face of 10x4 cells at 1x1.
DrawState face(bool pen, bool fill) {
  DrawState state;
  state.origin_x = 1;
  state.origin_y = 1;
  state.clip = CellRect{1, 1, 11, 5};
  state.pen_on = pen;
  state.pen_color = kPen;
  state.fill_on = fill;
  state.fill_color = kFill;
  return state;
}

std::string painted(const std::function<void(Screen&)>& draw) {
  Screen screen;
  screen.resize(12, 6);
  draw(screen);
  return rows_of(screen);
}

// A box: the frame in box-drawing characters, the fill inside; the corners
// may come in any order; only the face's area is painted.
TEST(TuiShapes, Boxes) {
  struct Case {
    const char* name;
    bool pen, fill;
    CellPoint first, second;
    const char* expected;
  };
  const Case cases[] = {
      {"frame of the face", true, false, {0, 0}, {9, 3},
       "............\n"
       ".┌────────┐.\n"
       ".│........│.\n"
       ".│........│.\n"
       ".└────────┘.\n"
       "............"},
      {"corners in the other order", true, false, {3, 2}, {0, 0},
       "............\n"
       ".┌──┐.......\n"
       ".│..│.......\n"
       ".└──┘.......\n"
       "............\n"
       "............"},
      {"fill without a frame", false, true, {1, 1}, {3, 2},
       "............\n"
       "............\n"
       "..===.......\n"
       "..===.......\n"
       "............\n"
       "............"},
      {"frame over the fill", true, true, {0, 0}, {2, 2},
       "............\n"
       ".┌─┐........\n"
       ".│=│........\n"
       ".└─┘........\n"
       "............\n"
       "............"},
      {"cut by the face's edges", true, false, {5, 2}, {20, 10},
       "............\n"
       "............\n"
       "............\n"
       "......┌────.\n"
       "......│.....\n"
       "............"},
      {"entirely outside", true, true, {-9, -9}, {-1, -1},
       "............\n"
       "............\n"
       "............\n"
       "............\n"
       "............\n"
       "............"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(painted([&](Screen& s) { draw_box(s, face(c.pen, c.fill), c.first, c.second); }), c.expected)
        << c.name;
  }
}

// Lines: connected segments of full blocks, the shorter axis rounded to
// the nearest cell; the parts outside the face are not painted, however
// far they reach.
TEST(TuiShapes, Lines) {
  struct Case {
    const char* name;
    std::vector<CellPoint> points;
    const char* expected;
  };
  const Case cases[] = {
      {"shallow", {{0, 0}, {9, 3}},
       "............\n"
       ".##.........\n"
       "...###......\n"
       "......###...\n"
       ".........##.\n"
       "............"},
      {"connected", {{0, 0}, {0, 2}, {3, 2}},
       "............\n"
       ".#..........\n"
       ".#..........\n"
       ".####.......\n"
       "............\n"
       "............"},
      {"leaving the face", {{8, 1}, {30, 1}},
       "............\n"
       "............\n"
       ".........##.\n"
       "............\n"
       "............\n"
       "............"},
      {"far beyond both sides", {{-2000000000, 3}, {2000000000, 3}},
       "............\n"
       "............\n"
       "............\n"
       "............\n"
       ".##########.\n"
       "............"},
      {"one point", {{2, 2}, {2, 2}},
       "............\n"
       "............\n"
       "............\n"
       "...#........\n"
       "............\n"
       "............"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(painted([&](Screen& s) { draw_line(s, face(true, false), c.points); }), c.expected) << c.name;
  }
  // With the pen off a line paints nothing.
  EXPECT_EQ(painted([](Screen& s) { draw_line(s, face(false, true), {{0, 0}, {9, 3}}); }),
            painted([](Screen&) {}));
}

// Triangles: filled row by row down to (not including) the bottom point's
// row, then the outline.
TEST(TuiShapes, Triangles) {
  EXPECT_EQ(painted([](Screen& s) { draw_triangle(s, face(false, true), {0, 0}, {4, 0}, {0, 3}); }),
            "............\n"
            ".=====......\n"
            ".====.......\n"
            ".===........\n"
            "............\n"
            "............");
  EXPECT_EQ(painted([](Screen& s) { draw_triangle(s, face(true, false), {0, 3}, {3, 0}, {0, 0}); }),
            "............\n"
            ".####.......\n"
            ".#.#........\n"
            ".##.........\n"
            ".#..........\n"
            "............");
}

// Circles are twice as wide as high; an ellipse fits the box of its size;
// radius 0 paints nothing.
TEST(TuiShapes, CirclesAndEllipses) {
  EXPECT_EQ(painted([](Screen& s) { draw_circle(s, face(true, false), {4, 2}, 1); }),
            "............\n"
            "............\n"
            "....###.....\n"
            "...#...#....\n"
            "....###.....\n"
            "............");
  EXPECT_EQ(painted([](Screen& s) { draw_circle(s, face(true, true), {4, 2}, 0); }), painted([](Screen&) {}));
  EXPECT_EQ(painted([](Screen& s) { draw_ellipse(s, face(false, true), {0, 0}, 9, 3); }),
            "............\n"
            "...=====....\n"
            ".=========..\n"
            "...=====....\n"
            "............\n"
            "............");
  EXPECT_EQ(painted([](Screen& s) { draw_ellipse(s, face(true, false), {0, 0}, 9, 3); }),
            "............\n"
            "...#####....\n"
            ".##.....##..\n"
            "...#####....\n"
            "............\n"
            "............");
  EXPECT_EQ(painted([](Screen& s) { draw_ellipse(s, face(true, true), {0, 0}, 0.5, 3); }), painted([](Screen&) {}));
}

// A face never paints over another: shapes much larger than the face
// change no cell outside it.
TEST(TuiShapes, NothingOutsideTheFace) {
  Screen screen;
  screen.resize(12, 6);
  DrawState state = face(true, true);
  draw_circle(screen, state, {4, 2}, 1000000);
  draw_ellipse(screen, state, {-50, -50}, 100, 100);
  draw_triangle(screen, state, {-100, -100}, {100, 0}, {0, 100});
  draw_box(screen, state, {-100, -100}, {100, 100});
  draw_line(screen, state, {{-100, -100}, {100, 100}, {-100, 50}});
  for (int32_t y = 0; y < 6; ++y) {
    for (int32_t x = 0; x < 12; ++x) {
      if (!state.clip.contains(x, y)) {
        EXPECT_EQ(screen.at(x, y), ScreenCell{}) << x << "," << y;
      }
    }
  }
}

}  // namespace
}  // namespace kel::tui
