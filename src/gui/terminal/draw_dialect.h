// The draw dialect in the terminal: the interpreter of a face's `draw`
// block (and of the block `draw` gives an image), over the screen cells.
//
// A draw block is a flat block of commands, each a word followed by its
// arguments; the interpreter reads them in order, checks every argument's
// kind and acts on the few commands that paint in cells (pen, fill-pen,
// box, line, triangle, circle, ellipse, font, text). The rest (line styles,
// polygons, arcs, curves, images, shadows, clipping, shapes, matrices) are
// read and checked and change nothing in cells. A block after rotate,
// scale, translate, skew, transform or push runs as a nested draw block
// with the same draw state: transformations have no effect in cells.
//
// Argument kinds: a point is a pair or a point2D; a number an integer or a
// float; a color a tuple or a word whose value is a tuple; a font and an
// image may also be given as a word holding one. Colors become 256-color
// words (color::rgb_to_256).
//
// Coordinates are cells relative to the face (its top-left cell is 0x0) and
// nothing is painted outside the face's clip rectangle, so a face never
// paints over another (cell_shapes.h, text_cells.h).
//
// Failures stop the whole draw: a word that is no command, or an argument
// of the wrong kind, raises `draw-invalid` with the block at the offending
// value; a nested block that is already being run (the block itself, or
// one that leads back to it through other blocks) raises `draw-infinite`
// at that value. When `system/view/silent?` is true the draw stops without
// an error. What was painted before the failure stays.
//
// Nested blocks are run from an explicit stack, never by C++ recursion, so
// however deep a block is nested the machine stack does not grow. The
// interpreter runs no Kel code: it reads the block and the values words
// hold, and raising an error is the only allocation.
#pragma once

#include <cstdint>
#include <vector>

#include "gui/terminal/screen.h"
#include "gui/terminal/text_cells.h"
#include "runtime/cell.h"

namespace kel::tui {

// The face a draw block paints: its top-left cell on the screen, its
// visible area on the screen (x2 and y2 excluded), and the attribute flags
// of the face's text (bold, dim, reverse, masked), which text drawn by the
// block takes too.
struct DrawArea {
  int32_t origin_x = 0, origin_y = 0;
  CellRect clip;
  uint32_t text_attributes = 0;
};

// Runs a face's draw block over its area: the face painter calls it last,
// after the face's own text. A draw block that is not a block paints
// nothing. Raises draw-invalid or draw-infinite as described above.
void paint_draw_block(Screen& screen, const DrawArea& area, const Cell& draw_block);

// `gui/OS-do-draw`: the draw block of `system/view/platform/draw-image`,
// interpreted and checked as on a face; no pixel of the image changes in
// the terminal. An image without pixels (width or height 0) is left alone
// and the block is not read.
void os_do_draw(const Cell& image, const Cell& commands);

// --- Rich text ------------------------------------------------------------------------

// One group of a rich-text face's style block: the range (0-based start,
// count, in code points of the text) and what it lays over those cells.
struct StyledRange {
  int64_t start = 0;
  int64_t count = 0;
  RangeStyle style;
};

// The groups of a rich-text style block (the face's `data`): each range, a
// pair of the 1-based first character and the count, is followed by its
// styles: a color (a tuple) the foreground, `backdrop` and a color the
// background, `bold` `italic` `underline` `strike` their attributes;
// `border`, a font name (a string) and a font size (an integer) are
// accepted and change nothing in cells. Anything else is passed over.
std::vector<StyledRange> read_rich_text_styles(const Cell& style_block);

// Paints a rich-text face's text with its styles at (x, y) within the clip:
// the face's font color as the foreground (else the given one), the face's
// `color` as the background of the painted cells, the style block over
// them, placed in the face's size by its para's `align` and `v-align` and
// wrapped at its width when the para's `wrap?` is true.
void paint_rich_text(Screen& screen, const CellRect& clip, int32_t x, int32_t y, const Cell& face,
                     uint32_t foreground, uint32_t attributes);

}  // namespace kel::tui
