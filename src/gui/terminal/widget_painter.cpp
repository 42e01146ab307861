// Painting the widgets of a window (see widget_painter.h).
#include "gui/terminal/widget_painter.h"

#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/image.h"
#include "datatypes/logic.h"
#include "datatypes/tuple.h"
#include "gui/faces.h"
#include "gui/terminal/draw_dialect.h"
#include "gui/terminal/text_cells.h"
#include "runtime/string_buffer.h"
#include "runtime/unicode.h"

namespace kel::tui {

using gui::faces::field;
using gui::faces::is_word;

namespace {

constexpr char32_t kCornerTopLeft = U'┌', kCornerTopRight = U'┐';
constexpr char32_t kCornerBottomLeft = U'└', kCornerBottomRight = U'┘';
constexpr char32_t kRoundTopLeft = U'╭', kRoundTopRight = U'╮';
constexpr char32_t kRoundBottomLeft = U'╰', kRoundBottomRight = U'╯';
constexpr char32_t kEdgeVertical = U'│', kEdgeHorizontal = U'─';
constexpr char32_t kLowerHalfBlock = U'▄';

// The value after a set-word of the name in the face's `options` block,
// or none.
Cell option(const Cell& face, const char* name) {
  Cell options = field(face, "options");
  if (!options.is(TYPE_BLOCK)) return make_cell(TYPE_NONE);
  uint32_t tail = block::length_from_head(&options);
  for (uint32_t i = block::clamped_index(&options); i + 1 < tail; ++i) {
    Cell key = *block::rs_abs_at(&options, i);
    if (key.is(TYPE_SET_WORD) && is_word(key, name)) return *block::rs_abs_at(&options, i + 1);
  }
  return make_cell(TYPE_NONE);
}

bool logic_true(const Cell& value) { return value.is(TYPE_LOGIC) && logic::get(value) != 0; }

// The foreground and attributes of the face's font.
TextStyle font_style(const Cell& face, int32_t color_level, uint32_t text_flags) {
  TextStyle style;
  Cell font = field(face, "font");
  style.foreground = color_word(field(font, "color"), color_level);
  style.attributes = text_flags & (text_flag::kBold | text_flag::kDim | text_flag::kReverse | text_flag::kMasked);
  Cell font_style = field(font, "style");
  auto has_style = [&](const char* name) {
    if (font_style.is(TYPE_BLOCK)) {
      for (uint32_t i = block::clamped_index(&font_style); i < block::length_from_head(&font_style); ++i)
        if (is_word(*block::rs_abs_at(&font_style, i), name)) return true;
      return false;
    }
    return is_word(font_style, name);
  };
  if (has_style("bold")) style.attributes |= attribute::kBold;
  if (has_style("italic")) style.attributes |= attribute::kItalic;
  if (has_style("underline")) style.attributes |= attribute::kUnderline;
  if (has_style("strike")) style.attributes |= attribute::kStrike;
  style.interpret_sgr = (text_flags & text_flag::kInterpretSgr) != 0;
  return style;
}

// Paints a text placed in the box by the face's para.
void paint_placed_text(Screen& screen, const CellRect& box, const CellRect& clip, const Cell& face,
                       std::u32string_view text, TextStyle style) {
  Cell para = field(face, "para");
  style.wrap = logic_true(field(para, "wrap?"));
  int32_t width = box.x2 - box.x1, height = box.y2 - box.y1;
  TextSize size = measure_text(text, style.wrap ? width : 0, style.interpret_sgr);
  int32_t x = box.x1, y = box.y1;
  Cell align = field(para, "align"), vertical = field(para, "v-align");
  if (size.columns < width) {
    if (is_word(align, "center")) x += (width - size.columns) / 2;
    else if (is_word(align, "right")) x += width - size.columns;
  }
  if (size.lines < height) {
    if (is_word(vertical, "middle")) y += (height - size.lines) / 2;
    else if (is_word(vertical, "bottom")) y += height - size.lines;
  }
  paint_text(screen, clip, x, y, text, style);
}

void paint_frame(Screen& screen, const CellRect& box, const CellRect& clip, const Cell& face, int32_t color_level) {
  bool round = is_word(option(face, "border-corners"), "round");
  CellStyle style;
  Cell border_color = option(face, "border-color");
  if (border_color.is(TYPE_TUPLE)) style.foreground = color_word(border_color, color_level);
  int32_t right = box.x2 - 1, bottom = box.y2 - 1;
  // Only the frame's cells are painted: the inside keeps its colors.
  for (int32_t x = box.x1 + 1; x < right; ++x) {
    style.background = clip.contains(x, box.y1) ? screen.at(x, box.y1).background : color::kDefault;
    screen.put(x, box.y1, kEdgeHorizontal, style, clip);
    if (bottom > box.y1) {
      style.background = clip.contains(x, bottom) ? screen.at(x, bottom).background : color::kDefault;
      screen.put(x, bottom, kEdgeHorizontal, style, clip);
    }
  }
  for (int32_t y = box.y1 + 1; y < bottom; ++y) {
    style.background = clip.contains(box.x1, y) ? screen.at(box.x1, y).background : color::kDefault;
    screen.put(box.x1, y, kEdgeVertical, style, clip);
    if (right > box.x1) {
      style.background = clip.contains(right, y) ? screen.at(right, y).background : color::kDefault;
      screen.put(right, y, kEdgeVertical, style, clip);
    }
  }
  auto corner = [&](int32_t x, int32_t y, char32_t c) {
    style.background = clip.contains(x, y) ? screen.at(x, y).background : color::kDefault;
    screen.put(x, y, c, style, clip);
  };
  corner(box.x1, box.y1, round ? kRoundTopLeft : kCornerTopLeft);
  if (right > box.x1) corner(right, box.y1, round ? kRoundTopRight : kCornerTopRight);
  if (bottom > box.y1) {
    corner(box.x1, bottom, round ? kRoundBottomLeft : kCornerBottomLeft);
    if (right > box.x1) corner(right, bottom, round ? kRoundBottomRight : kCornerBottomRight);
  }
  // The title sits on the top border, one column in.
  std::u32string title = code_points_of(field(face, "text"));
  if (!title.empty()) {
    TextStyle title_style = font_style(face, color_level, 0);
    CellRect title_clip = clip.intersect(CellRect{box.x1 + 1, box.y1, right, box.y1 + 1});
    paint_text(screen, title_clip, box.x1 + 1, box.y1, title, title_style);
  }
}

// The face's image, scaled to the face's width and twice its height: each
// cell shows two pixels, the upper as the background of a lower half
// block, the lower as its foreground; a cell whose upper pixel is fully
// transparent stays a blank in the default colors. Scaling takes the
// nearest pixel, read straight from the image (painting allocates nothing).
void paint_image(Screen& screen, const Cell& image, const CellRect& box, const CellRect& clip, int32_t color_level) {
  uint32_t image_width = image::width_of(image), image_height = image::height_of(image);
  int32_t width = box.x2 - box.x1, height = box.y2 - box.y1;
  if (image_width == 0 || image_height == 0 || width <= 0 || height <= 0) return;
  const uint32_t* pixels = image::pixels_of(image);
  auto pixel_at = [&](int32_t column, int32_t pixel_row) {
    uint64_t x = static_cast<uint64_t>(column) * image_width / static_cast<uint64_t>(width);
    uint64_t y = static_cast<uint64_t>(pixel_row) * image_height / (2 * static_cast<uint64_t>(height));
    return pixels[y * image_width + x];
  };
  auto color_of = [&](uint32_t pixel) {
    uint32_t red = pixel >> 16 & 0xFF, green = pixel >> 8 & 0xFF, blue = pixel & 0xFF;
    uint32_t transparency = 255 - (pixel >> 24);
    if (color_level >= 4) return color::true_color(red, green, blue);
    return color::rgb_to_256(red | green << 8 | blue << 16 | transparency << 24);
  };
  for (int32_t y = clip.y1; y < clip.y2; ++y) {
    for (int32_t x = clip.x1; x < clip.x2; ++x) {
      uint32_t upper = pixel_at(x - box.x1, 2 * (y - box.y1));
      uint32_t lower = pixel_at(x - box.x1, 2 * (y - box.y1) + 1);
      CellStyle style;
      if ((upper >> 24) == 0) {
        screen.put(x, y, U' ', style, clip);
        continue;
      }
      style.background = color_of(upper);
      style.foreground = color_of(lower);
      screen.put(x, y, kLowerHalfBlock, style, clip);
    }
  }
}

// The face painter: background, UI text, then (unless left out) the face's
// text or its dimmed hint, then the draw block.
void paint_face(Screen& screen, const Widget& widget, const CellRect& box, const CellRect& clip, uint32_t text_flags,
                int32_t color_level) {
  const Cell& face = widget.face;
  Cell background = field(face, "color");
  if (background.is(TYPE_TUPLE)) {
    uint32_t word = color_word(background, color_level);
    for (int32_t y = clip.y1; y < clip.y2; ++y)
      for (int32_t x = clip.x1; x < clip.x2; ++x) screen.fill(x, y, word);
  }
  Cell picture = field(face, "image");
  if (picture.is(TYPE_IMAGE)) paint_image(screen, picture, box, clip, color_level);
  TextStyle style = font_style(face, color_level, text_flags);
  if (widget.ui_text.is(TYPE_STRING)) {
    TextStyle ui_style = style;
    ui_style.attributes &= ~attribute::kMasked;
    paint_placed_text(screen, box, clip, face, code_points_of(widget.ui_text), ui_style);
  }
  if (widget.type == WidgetType::kRichText) {
    // A rich-text face's text is painted with the style block of its data.
    if ((text_flags & text_flag::kNoFaceText) == 0)
      paint_rich_text(screen, clip, box.x1, box.y1, face, style.foreground, style.attributes);
  } else if ((text_flags & text_flag::kNoFaceText) == 0) {
    std::u32string text = code_points_of(field(face, "text"));
    if (!text.empty()) {
      paint_placed_text(screen, box, clip, face, text, style);
    } else {
      std::u32string hint = code_points_of(option(face, "hint"));
      if (!hint.empty()) {
        style.attributes = (style.attributes & ~attribute::kMasked) | attribute::kDim;
        paint_placed_text(screen, box, clip, face, hint, style);
      }
    }
  }
  // The draw block comes last, over the face's area and its text; its
  // errors are raised to the Kel code that asked for the frame.
  constexpr uint32_t kDrawnAttributes = text_flag::kBold | text_flag::kDim | text_flag::kReverse | text_flag::kMasked;
  paint_draw_block(screen, DrawArea{box.x1, box.y1, clip, text_flags & kDrawnAttributes}, field(face, "draw"));
}

void paint_widget(Screen& screen, Display& display, WidgetTree& tree, Widget& widget, int32_t x, int32_t y,
                  const CellRect& parent_clip, int32_t color_level) {
  if (widget.has(widget_flag::kHidden)) return;
  CellRect box{x, y, x + widget.width(), y + widget.height()};
  CellRect clip = box.intersect(parent_clip).intersect(screen.bounds());
  if (clip.empty()) return;
  bool focused = widget.has(widget_flag::kFocused);
  switch (widget.type) {
    case WidgetType::kWindow:
      break;
    case WidgetType::kField: {
      uint32_t flags = text_flag::kInterpretSgr | (widget.has(widget_flag::kPassword) ? text_flag::kMasked : 0);
      paint_face(screen, widget, box, clip, flags, color_level);
      if (focused) display.set_caret(x + widget.caret_column, y);
      break;
    }
    case WidgetType::kButton:
      paint_face(screen, widget, box, clip, text_flag::kInterpretSgr | (focused ? text_flag::kReverse : 0),
                 color_level);
      break;
    case WidgetType::kCheck:
    case WidgetType::kRadio:
      paint_face(screen, widget, box, clip,
                 text_flag::kInterpretSgr | text_flag::kNoFaceText | (focused ? text_flag::kReverse : 0), color_level);
      break;
    case WidgetType::kProgress:
    case WidgetType::kTextList:
      // The UI text is the face's text too; painted once, its SGR
      // sequences read as attributes.
      paint_face(screen, widget, box, clip, text_flag::kInterpretSgr | text_flag::kNoFaceText, color_level);
      break;
    case WidgetType::kBase:
      paint_face(screen, widget, box, clip, text_flag::kInterpretSgr, color_level);
      if (widget.has(widget_flag::kNamesCaretFace)) {
        // The base stands for the caret of the face its options name: that
        // face shows a caret, here, while it has the focus.
        if (Widget* owner = tree.widget_of(option(widget.face, "caret"))) {
          owner->flags |= widget_flag::kShowsCaret;
          if (owner->has(widget_flag::kFocused)) display.set_caret(x, y);
        }
      }
      break;
    case WidgetType::kGroupBox:
      paint_face(screen, widget, box, clip, text_flag::kNoFaceText, color_level);
      paint_frame(screen, box, clip, widget.face, color_level);
      break;
    default:
      paint_face(screen, widget, box, clip, text_flag::kInterpretSgr, color_level);
      break;
  }
  for (uint32_t id : tree.children(widget)) {
    Widget* child = tree.find(id);
    if (child == nullptr) continue;
    paint_widget(screen, display, tree, *child, x + static_cast<int32_t>(child->x1),
                 y + static_cast<int32_t>(child->y1), clip, color_level);
  }
}

}  // namespace

uint32_t color_word(const Cell& tuple, int32_t color_level) {
  if (!tuple.is(TYPE_TUPLE)) return color::kDefault;
  const uint8_t* bytes = tuple::bytes_of(tuple);
  uint32_t size = tuple::size_of(tuple);
  uint32_t red = size > 0 ? bytes[0] : 0, green = size > 1 ? bytes[1] : 0, blue = size > 2 ? bytes[2] : 0;
  uint32_t alpha = size > 3 ? bytes[3] : 0;
  if (alpha == 255) return color::kDefault;
  if (color_level >= 4) return color::true_color(red, green, blue);
  return color::rgb_to_256(red | green << 8 | blue << 16 | alpha << 24);
}

std::u32string code_points_of(const Cell& string) {
  std::u32string points;
  if (!string.is(TYPE_STRING)) return points;
  std::string bytes = string::to_std_string(string);
  const auto* at = reinterpret_cast<const uint8_t*>(bytes.data());
  const auto* end = at + bytes.size();
  while (at < end) {
    int32_t code_point = 0;
    at = unicode::fast_decode_utf8_char(at, &code_point);
    points.push_back(code_point < 0 ? U'\uFFFD' : static_cast<char32_t>(code_point));
  }
  return points;
}

void paint_window(Screen& screen, Display& display, WidgetTree& tree, Widget& window, int32_t color_level) {
  paint_widget(screen, display, tree, window, 0, 0, screen.bounds(), color_level);
}

}  // namespace kel::tui
