// Painting the widgets of a window into the screen's cells: each face's
// background, its UI text (what the framework's helpers build for progress
// bars, text lists, check boxes and radio buttons), its text placed by its
// `para`, a group box's frame, a focused field's caret, then its draw block,
// then its children, each clipped to its own box cut to its parent's, so a
// face never paints outside its parent.
//
// Colors come from tuples: at color level 4 as true colors, below that
// through the 256-color palette; a fully transparent tuple is the default.
// A face with no `color` keeps what its parent painted under it.
#pragma once

#include <cstdint>
#include <string>

#include "gui/terminal/display.h"
#include "gui/terminal/widget_tree.h"

namespace kel::tui {

// Text flags of the painter.
namespace text_flag {
constexpr uint32_t kBold = 0x2, kDim = 0x4, kReverse = 0x8, kMasked = 0x800;
constexpr uint32_t kInterpretSgr = 0x1000;  // SGR sequences in the text change its style
constexpr uint32_t kNoFaceText = 0x2000;    // the face's own text is left out
}  // namespace text_flag

// The color word of a tuple at the color level (none and other values: the
// default color).
uint32_t color_word(const Cell& tuple, int32_t color_level);
// The code points of a string! (from its index), empty for other values.
std::u32string code_points_of(const Cell& string);

// Paints the window's widgets (and sets the display's caret when a field
// that has the focus shows one).
void paint_window(Screen& screen, Display& display, WidgetTree& tree, Widget& window, int32_t color_level);

}  // namespace kel::tui
