// The draw dialect's interpreter on a small cell grid: draw blocks written
// in Kel (loaded and evaluated by the booted runtime, so words hold the
// system's own colors, fonts, faces and images) painted into a face at 1x1
// of a 12x6 screen, the face being 10x4 cells. The screen is compared row
// by row ("." a blank, "=" a blank with a background, "#" a full block,
// other characters as themselves); colors and attributes are checked cell
// by cell. Failures are given as the error's id and the molded block at
// the position it names.
#include "gui/terminal/draw_dialect.h"

#include <gtest/gtest.h>

#include <string>

#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/image.h"
#include "evaluator/source_evaluation.h"
#include "runtime/actions.h"
#include "runtime/stack.h"
#include "test_support.h"

namespace kel::tui {
namespace {

const uint32_t kRed = color::rgb_to_256(0x0000FF);    // 255.0.0
const uint32_t kBlue = color::rgb_to_256(0xFF0000);   // 0.0.255
const uint32_t kGreen = color::rgb_to_256(0x00FF00);  // 0.255.0

void append_utf8(std::string& text, char32_t c) {
  if (c < 0x80) {
    text += static_cast<char>(c);
  } else if (c < 0x800) {
    text += static_cast<char>(0xC0 | (c >> 6));
    text += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    text += static_cast<char>(0xE0 | (c >> 12));
    text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    text += static_cast<char>(0xF0 | (c >> 18));
    text += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string rows_of(const Screen& screen) {
  std::string text;
  for (int32_t y = 0; y < screen.height(); ++y) {
    if (y > 0) text += '\n';
    for (int32_t x = 0; x < screen.width(); ++x) {
      const ScreenCell& cell = screen.at(x, y);
      if (cell.attributes & attribute::kContinuation) continue;
      if (cell.code_point == 0) {
        text += cell.background == color::kDefault ? '.' : '=';
      } else if (cell.code_point == 0x2588) {
        text += '#';
      } else {
        append_utf8(text, cell.code_point);
      }
    }
  }
  return text;
}

// Row y of the rows.
std::string row_of(const Screen& screen, int32_t y) {
  std::string rows = rows_of(screen);
  size_t start = 0;
  for (int32_t i = 0; i < y; ++i) start = rows.find('\n', start) + 1;
  return rows.substr(start, rows.find('\n', start) - start);
}

// The face: 10x4 cells at 1x1, all of it visible.
constexpr DrawArea kFace{1, 1, CellRect{1, 1, 11, 5}, 0};

class DrawDialect : public testing::RuntimeTest {
 protected:
  Screen screen;

  void SetUp() override {
    RuntimeTest::SetUp();
    screen.resize(12, 6);
  }

  // Evaluates the source (its last value the draw block) and paints the
  // block into the face; answers "" or the failure.
  std::string paint(const std::string& source, const DrawArea& area = kFace) {
    std::string failure;
    auto id = testing::catch_error([&] {
      stack::Guard guard;
      Cell block = *source_evaluation::do_source(source);
      paint_draw_block(screen, area, block);
    });
    if (id) failure = failure_text();
    return failure;
  }

  std::string painted(const std::string& source, const DrawArea& area = kFace) {
    std::string failure = paint(source, area);
    EXPECT_EQ(failure, "") << source;
    return rows_of(screen);
  }

  // Draws the block of the source on an image of the size, as draw-image
  // asks; answers "" or the failure.
  std::string on_image(const std::string& size, const std::string& source) {
    auto id = testing::catch_error([&] {
      stack::Guard guard;
      Cell image = *source_evaluation::do_source("make image! " + size);
      Cell block = *source_evaluation::do_source(source);
      os_do_draw(image, block);
    });
    return id ? failure_text() : "";
  }

  static std::string failure_text() {
    const Cell& error = testing::last_error();
    std::string name = actions::mold_to_string(error_value::field(error, error_value::kId), false);
    return name + " at: " + actions::mold_to_string(error_value::argument(error, 1), false);
  }

  const ScreenCell& cell(int32_t x, int32_t y) const { return screen.at(x, y); }
};

// --- Shapes: what each painting command paints in the face --------------------------

// The commands that act paint relative to the face and within it; a box's
// corners may come in any order; the pen off leaves only the fill; a
// circle of radius 0 paints nothing; a transformation's block is painted
// untransformed.
TEST_F(DrawDialect, PaintingCommands) {
  struct Case {
    const char* name;
    const char* source;
    const char* expected;
  };
  const Case cases[] = {
      {"a box paints only its frame", "[box 0x0 9x3]",
       "............\n"
       ".┌────────┐.\n"
       ".│........│.\n"
       ".│........│.\n"
       ".└────────┘.\n"
       "............"},
      {"corners in the other order", "[box 5x3 0x0]",
       "............\n"
       ".┌────┐.....\n"
       ".│....│.....\n"
       ".│....│.....\n"
       ".└────┘.....\n"
       "............"},
      {"pen off: only the fill", "[pen off fill-pen 0.0.255 box 1x1 3x2]",
       "............\n"
       "............\n"
       "..===.......\n"
       "..===.......\n"
       "............\n"
       "............"},
      {"fill under the frame, a color word and a radius", "[fill-pen blue box 0x0 2x2 5]",
       "............\n"
       ".┌─┐........\n"
       ".│=│........\n"
       ".└─┘........\n"
       "............\n"
       "............"},
      {"a circle of radius 0", "[circle 4x2 0]",
       "............\n"
       "............\n"
       "............\n"
       "............\n"
       "............\n"
       "............"},
      {"a circle, the second radius ignored", "[circle 4x1 1 3]",
       "............\n"
       "....###.....\n"
       "...#...#....\n"
       "....###.....\n"
       "............\n"
       "............"},
      {"an ellipse in its box", "[ellipse 0x0 4x2]",
       "............\n"
       "..###.......\n"
       ".#...#......\n"
       "..###.......\n"
       "............\n"
       "............"},
      {"a line through points", "[line 0x0 0x2 3x2 3x0]",
       "............\n"
       ".#..#.......\n"
       ".#..#.......\n"
       ".####.......\n"
       "............\n"
       "............"},
      {"pen off: no line", "[pen off line 0x0 9x3]",
       "............\n"
       "............\n"
       "............\n"
       "............\n"
       "............\n"
       "............"},
      {"a filled triangle", "[pen off fill-pen 255.0.0 triangle 0x0 4x3 0x3]",
       "............\n"
       ".=..........\n"
       ".==.........\n"
       ".===........\n"
       "............\n"
       "............"},
      {"points as point2D", "[box (0.0, 0.0) (2.9, 1.2)]",
       "............\n"
       ".┌─┐........\n"
       ".└─┘........\n"
       "............\n"
       "............\n"
       "............"},
      {"rotate by 45: the box unrotated", "[rotate 45 [box 0x0 3x1]]",
       "............\n"
       ".┌──┐.......\n"
       ".└──┘.......\n"
       "............\n"
       "............\n"
       "............"},
      {"nested transformations and push",
       "[translate 2x1 pen [scale 2 2 [skew 1 2 fill-pen [push [box 0x0 2x1]] transform 30 1x1 2 2 3x3 [line 5x0 "
       "5x1]]]]",
       "............\n"
       ".┌─┐..#.....\n"
       ".└─┘..#.....\n"
       "............\n"
       "............\n"
       "............"},
      {"commands without an effect in cells are read and passed over",
       "img: make image! 2x2 f: make font! [size: 10] "
       "[line-width 2 line-join round line-cap square line-pattern 2 1 anti-alias off "
       "polygon 0x0 4x0 4x4 arc 5x5 2x2 0 90 closed curve 0x0 1x1 2x2 3x3 spline 0x0 1x1 2x0 closed "
       "image img 0x0 2x2 border crop 0x0 1x1 image img shadow 1x1 2 3 black inset shadow off "
       "clip 0x0 5x5 intersect clip [move 0x0 'line 1x1 2x2 hline 3 vline 2 arc 4x4 2 3 45 sweep large "
       "curve 1x1 2x2 3x3 curv 1x1 qcurve 1x1 2x2 qcurv 3x3 close] xor "
       "shape [move 1x1 'hline 2] matrix [1 0 0 1 0 0] fill-pen reset-matrix invert-matrix pen "
       "pen linear 0x0 0 10 255.0.0 0.5 blue pad fill-pen radial 1x1 0 5 white black reflect "
       "fill-pen diamond green pen pattern 4x4 0x0 4x4 tile [box 0x0 1x1] fill-pen bitmap img 0x0 2x2 flip-x "
       "font f box 0x0 1x1]",
       "............\n"
       ".┌┐.........\n"
       ".└┘.........\n"
       "............\n"
       "............\n"
       "............"},
  };
  for (const Case& c : cases) {
    screen.resize(12, 6);
    EXPECT_EQ(painted(c.source), c.expected) << c.name;
  }
}

// Coordinates are relative to the face and every cell painted lies in its
// clip rectangle: a face never paints over another, however far a shape
// reaches; text wraps at the clip's right edge.
TEST_F(DrawDialect, Clipping) {
  struct Case {
    const char* name;
    DrawArea area;
    const char* source;
    const char* expected;
  };
  const DrawArea partly_hidden{3, 2, CellRect{3, 2, 8, 4}, 0};  // 5x2 visible of a larger face
  const Case cases[] = {
      {"a fill larger than the face", kFace, "[pen off fill-pen 255.0.0 box -5x-5 20x20]",
       "............\n"
       ".==========.\n"
       ".==========.\n"
       ".==========.\n"
       ".==========.\n"
       "............"},
      {"a frame cut by the clip", partly_hidden, "[box -1x0 3x5]",
       "............\n"
       "............\n"
       "...───┐.....\n"
       "......│.....\n"
       "............\n"
       "............"},
      {"far-reaching lines, circles and triangles cut at the clip", partly_hidden,
       "[line -9x-9 20x20 circle 0x0 9 triangle -5x-5 30x0 0x30]",
       "............\n"
       "............\n"
       "...#........\n"
       "....#.......\n"
       "............\n"
       "............"},
      {"text wraps at the clip's right edge", kFace, "[text 7x1 {abcdefg}]",
       "............\n"
       "............\n"
       "........abc.\n"
       "........def.\n"
       "........g...\n"
       "............"},
      {"text below the face is not painted", kFace, "[text 0x4 {hidden}]",
       "............\n"
       "............\n"
       "............\n"
       "............\n"
       "............\n"
       "............"},
  };
  for (const Case& c : cases) {
    screen.resize(12, 6);
    EXPECT_EQ(painted(c.source, c.area), c.expected) << c.name;
  }
}

// --- Colors and text ----------------------------------------------------------------------

// A pen color paints outlines; a fill color is the background of filled
// cells, and a frame over it keeps that background; colors come as tuples
// or as words holding tuples.
TEST_F(DrawDialect, PenAndFillColors) {
  painted("my-pen: 255.0.0 [pen my-pen fill-pen 0.0.255 box 0x0 2x2 pen green line 5x0 5x1]");
  EXPECT_EQ(cell(1, 1).foreground, kRed);
  EXPECT_EQ(cell(1, 1).background, kBlue);
  EXPECT_EQ(cell(2, 2).background, kBlue);
  EXPECT_EQ(cell(6, 1).foreground, kGreen);
  EXPECT_EQ(cell(6, 1).code_point, 0x2588u);
  // A fully transparent color is the terminal's default.
  painted("[pen 255.0.0.255 box 0x0 1x1]");
  EXPECT_EQ(cell(1, 1).foreground, color::kDefault);
}

// Text takes the font's color when a font set one, else the pen's; a font
// without a color gives the text back to the pen. The face's text
// attributes apply, SGR sequences in the text are interpreted, never
// painted.
TEST_F(DrawDialect, TextColorsAndAttributes) {
  struct Case {
    const char* name;
    const char* source;
    uint32_t foreground;
  };
  const Case cases[] = {
      {"the pen's color", "[pen 255.0.0 text 0x0 {a}]", kRed},
      {"the font's color over the pen's", "f: make font! [color: 0.0.255] [pen 255.0.0 font f pen green text 0x0 {a}]",
       kBlue},
      {"a font without a color", "f: make font! [color: 0.0.255] g: make font! [] [font f font g pen green text 0x0 {a}]",
       kGreen},
      {"the pen off: default", "[pen 255.0.0 pen off text 0x0 {a}]", color::kDefault},
  };
  for (const Case& c : cases) {
    screen.resize(12, 6);
    painted(c.source);
    EXPECT_EQ(cell(1, 1).code_point, U'a') << c.name;
    EXPECT_EQ(cell(1, 1).foreground, c.foreground) << c.name;
  }
  screen.resize(12, 6);
  DrawArea bold_face = kFace;
  bold_face.text_attributes = attribute::kBold;
  painted("reduce ['text 1x0 rejoin [{x} #\"^[\" {[4my}]]", bold_face);
  EXPECT_EQ(row_of(screen, 1), "..xy........");
  EXPECT_EQ(cell(2, 1).attributes, attribute::kBold);
  EXPECT_EQ(cell(3, 1).attributes, attribute::kBold | attribute::kUnderline);
}

// A rich-text face given to text: its text with its styles laid over
// ranges that count code points (a character above U+FFFF is one
// position), placed by its para within its size.
TEST_F(DrawDialect, RichTextFaces) {
  painted(
      "rt: make face! [type: 'rich-text size: 8x1 text: {a\U0001F600bcd} "
      "data: [3x2 bold 255.0.0 1x1 backdrop 0.0.255 underline 5x1 italic border {Mono} 12]] "
      "compose [text 0x0 (rt)]");
  EXPECT_EQ(cell(1, 1).code_point, U'a');
  EXPECT_EQ(cell(1, 1).background, kBlue);
  EXPECT_EQ(cell(1, 1).attributes, attribute::kUnderline);
  EXPECT_EQ(cell(2, 1).code_point, 0x1F600u);
  EXPECT_EQ(cell(2, 1).attributes, 0u);
  EXPECT_EQ(cell(4, 1).code_point, U'b');
  EXPECT_EQ(cell(4, 1).attributes, attribute::kBold);
  EXPECT_EQ(cell(4, 1).foreground, kRed);
  EXPECT_EQ(cell(5, 1).attributes, attribute::kBold);
  EXPECT_EQ(cell(6, 1).code_point, U'd');
  EXPECT_EQ(cell(6, 1).attributes, attribute::kItalic);
  // Centered by its para in its 8 columns.
  screen.resize(12, 6);
  painted(
      "rt: make face! [type: 'rich-text size: 8x1 text: {ab} para: make para! [align: 'center]] "
      "compose [text 1x1 (rt)]");
  EXPECT_EQ(row_of(screen, 2), ".....ab.....");
}

// --- Failures -------------------------------------------------------------------------------

// A word that is no command, or an argument of the wrong kind, stops the
// draw with draw-invalid at the offending value (a nested block's own
// position when it is there); a missing argument is reported at the end.
TEST_F(DrawDialect, InvalidInput) {
  struct Case {
    const char* source;
    const char* expected;
  };
  const Case cases[] = {
      {"[jump 0x0]", "draw-invalid at: [jump 0x0]"},
      {"[box 0x0 {a}]", "draw-invalid at: [\"a\"]"},
      {"[box 0x0]", "draw-invalid at: []"},
      {"[box 0x0 1x1 'radius]", "draw-invalid at: ['radius]"},
      {"[pen {red}]", "draw-invalid at: [\"red\"]"},
      {"[pen no-such-color-here]", "draw-invalid at: [no-such-color-here]"},
      {"[fill-pen 12]", "draw-invalid at: [12]"},
      {"[pen linear 0x0 10x10 pad]", "draw-invalid at: [pad]"},
      {"[pen pattern 2x2 box 0x0 1x1]", "draw-invalid at: [box 0x0 1x1]"},
      {"[fill-pen bitmap 1]", "draw-invalid at: [1]"},
      {"[line 0x0]", "draw-invalid at: []"},
      {"[line-width blue]", "draw-invalid at: [blue]"},
      {"[line-join 1]", "draw-invalid at: [1]"},
      {"[line-pattern 1.5]", "draw-invalid at: [1.5]"},
      {"[triangle 0x0 1x1 box]", "draw-invalid at: [box]"},
      {"[polygon 0x0 1x1]", "draw-invalid at: []"},
      {"[circle 0x0 {r}]", "draw-invalid at: [\"r\"]"},
      {"[ellipse 0x0 5]", "draw-invalid at: [5]"},
      {"[anti-alias 0]", "draw-invalid at: [0]"},
      {"[font 1.2.3]", "draw-invalid at: [1.2.3]"},
      {"[text 0x0 123]", "draw-invalid at: [123]"},
      {"[text {a}]", "draw-invalid at: [\"a\"]"},
      {"[arc 0x0 1x1 0]", "draw-invalid at: []"},
      {"[curve 0x0 1x1]", "draw-invalid at: []"},
      {"[spline 0x0]", "draw-invalid at: []"},
      {"[image 0x0]", "draw-invalid at: [0x0]"},
      {"[shadow blue]", "draw-invalid at: [blue]"},
      {"[clip 0x0 {x}]", "draw-invalid at: [\"x\"]"},
      {"[shape [move 0x0 jump 1x1]]", "draw-invalid at: [jump 1x1]"},
      {"[shape [arc 1x1]]", "draw-invalid at: []"},
      {"[shape 1]", "draw-invalid at: [1]"},
      {"[rotate {a}]", "draw-invalid at: [\"a\"]"},
      {"[scale 1]", "draw-invalid at: []"},
      {"[translate 1]", "draw-invalid at: [1]"},
      {"[skew 1 {a}]", "draw-invalid at: [\"a\"]"},
      {"[transform 0 0x0 1 1]", "draw-invalid at: []"},
      {"[push 1]", "draw-invalid at: [1]"},
      {"[matrix [1 2 3]]", "draw-invalid at: []"},
      {"[matrix [1 2 3 4 5 6 7]]", "draw-invalid at: [7]"},
      {"[push [rotate 10 [box 0x0 {a}]]]", "draw-invalid at: [\"a\"]"},
      {"f: make face! [type: 'base] compose [text 0x0 (f)]", "draw-invalid at: [make object! ["},
  };
  for (const Case& c : cases) {
    screen.resize(12, 6);
    std::string failure = paint(c.source);
    if (std::string_view(c.expected).back() == '[') {
      EXPECT_EQ(failure.substr(0, std::string_view(c.expected).size()), c.expected) << c.source;
    } else {
      EXPECT_EQ(failure, c.expected) << c.source;
    }
  }
}

// What was painted before the failure stays; with system/view/silent? the
// draw stops without an error.
TEST_F(DrawDialect, FailureStopsTheDraw) {
  EXPECT_EQ(paint("[box 0x0 1x1 jump box 3x0 4x1]"), "draw-invalid at: [jump box 3x0 4x1]");
  EXPECT_EQ(row_of(screen, 1), ".┌┐.........");
  screen.resize(12, 6);
  EXPECT_EQ(paint("system/view/silent?: true [box 0x0 1x1 jump box 3x0 4x1]"), "");
  painted("system/view/silent?: false []");
  EXPECT_EQ(row_of(screen, 1), ".┌┐.........");
}

// A block that is being run, met again as a nested block, would never end:
// draw-infinite at that value, whether the block holds itself or leads back
// to itself through others. The same block nested twice side by side is no
// cycle, and nesting however deep runs without growing the machine stack.
TEST_F(DrawDialect, InfiniteRecursion) {
  struct Case {
    const char* source;
    const char* expected;
  };
  const Case cases[] = {
      {"b: copy [box 0x0 1x1 push []] b/5: b b", "draw-infinite at: [[...]]"},
      {"a: copy [push []] b: reduce ['rotate 45 a] a/2: b a", "draw-infinite at: [[push [...]]]"},
      {"a: copy [] b: reduce ['translate 1x1 'pen a] append a reduce ['scale 1 1 b] reduce ['push a]",
       "draw-infinite at: [[scale 1 1 [...]]]"},
      {"c: [box 0x0 1x1] reduce ['push c 'rotate 0 c]", ""},
      {"b: [box 0x0 1x1] loop 100000 [b: reduce ['push b]] b", ""},
  };
  for (const Case& c : cases) {
    screen.resize(12, 6);
    EXPECT_EQ(paint(c.source), c.expected) << c.source;
  }
}

// draw-image: the same interpreter and failures; an image without pixels
// leaves the block unread; no pixel changes in the terminal.
TEST_F(DrawDialect, OnImages) {
  EXPECT_EQ(on_image("4x3", "[fill-pen blue box 0x0 3x2 text 0x0 {a}]"), "");
  EXPECT_EQ(on_image("4x3", "[box 0x0 jump]"), "draw-invalid at: [jump]");
  EXPECT_EQ(on_image("4x3", "b: copy [push []] b/2: b b"), "draw-infinite at: [[...]]");
  EXPECT_EQ(on_image("0x3", "[jump]"), "");
  EXPECT_EQ(on_image("4x0", "[jump]"), "");
  auto id = testing::catch_error([&] {
    stack::Guard guard;
    Cell image = *source_evaluation::do_source("make image! [2x1 #{FF000000FF00}]");
    Cell block = *source_evaluation::do_source("[pen blue fill-pen green box 0x0 1x0 line 0x0 1x0]");
    std::vector<uint32_t> before = image::copy_pixels(image);
    os_do_draw(image, block);
    EXPECT_EQ(image::copy_pixels(image), before);
  });
  EXPECT_FALSE(id.has_value());
}

}  // namespace
}  // namespace kel::tui
