// The draw dialect in the terminal (see draw_dialect.h).
//
// The interpreter keeps one cursor per block being run (the draw block and
// the nested blocks of push and the transformations) on its own stack; the
// top cursor is read. A nested block whose series and start are those of a
// cursor on the stack would be run again and again, so it raises
// draw-infinite: directly (a block holding itself) or through other blocks.
// Every argument is copied out of the block before it is used; nothing
// here allocates in the collected heap except raising the error.
#include "gui/terminal/draw_dialect.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/point2d.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "gui/faces.h"
#include "gui/terminal/cell_shapes.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/symbol_table.h"

namespace kel::tui {

namespace {

uint32_t canonical(std::string_view name) { return symbol::resolve(symbol::make(name)); }

// The words of the dialect, as canonical symbols, interned on first use.
#define KEL_DRAW_COMMANDS(X)                                                                                 \
  X(pen, "pen") X(fill_pen, "fill-pen") X(box, "box") X(line, "line") X(line_width, "line-width")          \
  X(line_join, "line-join") X(line_cap, "line-cap") X(line_pattern, "line-pattern") X(triangle, "triangle") \
  X(polygon, "polygon") X(circle, "circle") X(ellipse, "ellipse") X(anti_alias, "anti-alias") X(font, "font") \
  X(text, "text") X(arc, "arc") X(curve, "curve") X(spline, "spline") X(image, "image") X(shadow, "shadow")  \
  X(clip, "clip") X(shape, "shape") X(rotate, "rotate") X(scale, "scale") X(translate, "translate")         \
  X(skew, "skew") X(transform, "transform") X(push, "push") X(matrix, "matrix")                              \
  X(reset_matrix, "reset-matrix") X(invert_matrix, "invert-matrix")

#define KEL_DRAW_KEYWORDS(X)                                                                                 \
  X(off, "off") X(linear, "linear") X(radial, "radial") X(diamond, "diamond") X(pad, "pad")                  \
  X(repeat, "repeat") X(reflect, "reflect") X(pattern, "pattern") X(bitmap, "bitmap") X(tile, "tile")        \
  X(flip_x, "flip-x") X(flip_y, "flip-y") X(flip_xy, "flip-xy") X(clamp, "clamp") X(closed, "closed")         \
  X(border, "border") X(crop, "crop") X(inset, "inset") X(replace, "replace") X(intersect, "intersect")       \
  X(union_mode, "union") X(xor_mode, "xor") X(exclude, "exclude") X(move, "move") X(hline, "hline")          \
  X(vline, "vline") X(curv, "curv") X(qcurve, "qcurve") X(qcurv, "qcurv") X(close, "close")                 \
  X(sweep, "sweep") X(large, "large") X(backdrop, "backdrop") X(bold, "bold") X(italic, "italic")           \
  X(underline, "underline") X(strike, "strike") X(rich_text, "rich-text") X(center, "center")              \
  X(right, "right") X(middle, "middle") X(bottom, "bottom")

enum class Command {
#define KEL_DRAW_ENUM(name, text) name,
  KEL_DRAW_COMMANDS(KEL_DRAW_ENUM)
#undef KEL_DRAW_ENUM
      count
};

struct Words {
#define KEL_DRAW_FIELD(name, text) uint32_t name = canonical(text);
  KEL_DRAW_COMMANDS(KEL_DRAW_FIELD)
  KEL_DRAW_KEYWORDS(KEL_DRAW_FIELD)
#undef KEL_DRAW_FIELD
  // The commands in the order they are tested.
  uint32_t commands[static_cast<size_t>(Command::count)] = {
#define KEL_DRAW_LIST(name, text) name,
      KEL_DRAW_COMMANDS(KEL_DRAW_LIST)
#undef KEL_DRAW_LIST
  };
};

const Words& words() {
  static const Words table;
  return table;
}

Cell none_cell() { return make_cell(TYPE_NONE); }

// The canonical symbol of a word! (0 for any other value).
uint32_t word_symbol(const Cell& value) {
  return value.is(TYPE_WORD) ? symbol::resolve(word::symbol_of(value)) : 0;
}

std::optional<Command> command_of(const Cell& value) {
  uint32_t symbol = word_symbol(value);
  if (symbol == 0) return std::nullopt;
  const Words& table = words();
  for (size_t i = 0; i < static_cast<size_t>(Command::count); ++i) {
    if (table.commands[i] == symbol) return static_cast<Command>(i);
  }
  return std::nullopt;
}

// The value a word! holds, when it holds one: an unbound word, or one whose
// context has gone, holds nothing (and raises nothing here).
std::optional<Cell> word_value(const Cell& value) {
  if (!value.is(TYPE_WORD)) return std::nullopt;
  NodeId context = word::context_of(value);
  int32_t index = word::index_of(value);
  if (context == 0 || index < 0) return std::nullopt;
  Cell* head = context::values_head(context);
  if (head == nullptr) return std::nullopt;
  if (!context::on_stack(context) &&
      static_cast<uint32_t>(index) >= memory::buffer_of(context::values_node(context))->cell_count()) {
    return std::nullopt;
  }
  return head[index];
}

// A tuple color as a 256-color word (R, G, B and alpha as the tuple's
// first four bytes; a 3-byte tuple has alpha 0).
uint32_t tuple_color(const Cell& tuple) {
  const uint8_t* bytes = tuple::bytes_of(tuple);
  uint32_t alpha = tuple::size_of(tuple) > 3 ? bytes[3] : 0;
  return color::rgb_to_256(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | alpha << 24);
}

// A coordinate as a cell: truncated, held within 32 bits (NaN is 0).
int32_t to_cell(double value) {
  if (std::isnan(value)) return 0;
  value = std::trunc(value);
  if (value <= std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  if (value >= std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(value);
}

int32_t clamp_to_cell(int64_t value) {
  return static_cast<int32_t>(
      std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

struct Point {
  double x = 0, y = 0;
  CellPoint cell() const { return CellPoint{to_cell(x), to_cell(y)}; }
};

std::u32string text_of(const Cell& string_value) {
  std::u32string text;
  uint32_t length = string::rs_length_from_head(&string_value);
  for (uint32_t i = std::min<uint32_t>(string_value.data1, length); i < length; ++i) {
    text.push_back(static_cast<char32_t>(string::rs_abs_at(&string_value, i)));
  }
  return text;
}

bool system_view_silent() {
  Cell* system = context::global_slot(canonical("system"));
  if (system == nullptr) return false;
  Cell silent = gui::faces::field(gui::faces::field(*system, "view"), "silent?");
  return silent.is(TYPE_LOGIC) && logic::get(silent) != 0;
}

// Raised inside the interpreter when a failure stops the draw silently.
struct SilentStop {};

// A block being read: the block as it was given (series and start) and the
// position of the next value.
class Cursor {
 public:
  explicit Cursor(const Cell& block)
      : block_(block), position_(block::clamped_index(&block)) {}

  bool at_end() const { return position_ >= block::length_from_head(&block_); }
  // The next value (none at the end, which no reader takes).
  Cell peek() const { return at_end() ? none_cell() : *block::rs_abs_at(&block_, position_); }
  Cell peek_after() const {
    return position_ + 1 >= block::length_from_head(&block_) ? none_cell()
                                                              : *block::rs_abs_at(&block_, position_ + 1);
  }
  Cell take() { return *block::rs_abs_at(&block_, position_++); }
  // The block at a position: where a failure is reported.
  Cell at(uint32_t position) const { return block::make_value(block_.data2, position, block_.type()); }
  // The series and the start, as one key.
  uint64_t key() const { return key_of(block_); }
  static uint64_t key_of(const Cell& block) {
    return uint64_t{block.data2} << 32 | block::clamped_index(&block);
  }
  uint32_t position() const { return position_; }

 private:
  Cell block_;
  uint32_t position_;
};

// Stops the draw at a value of the cursor's block: silently when the view
// is silent, else with the error.
[[noreturn]] void fail(ErrorId id, const Cursor& cursor, uint32_t position) {
  if (system_view_silent()) throw SilentStop{};
  Cell at = cursor.at(position);
  fire(id, &at);
}
// The next value is not what the command needs.
[[noreturn]] void invalid(const Cursor& cursor) {
  fail(ErrorId::script_draw_invalid, cursor, cursor.position());
}

// --- Argument readers: take_* consumes a value of its kind when the next
// value is one; need_* fails when it is not. -------------------------------------------

std::optional<Point> take_point(Cursor& cursor) {
  Cell value = cursor.peek();
  if (value.is(TYPE_PAIR)) {
    cursor.take();
    return Point{static_cast<double>(pair::x_of(value)), static_cast<double>(pair::y_of(value))};
  }
  if (value.is(TYPE_POINT2D)) {
    cursor.take();
    return Point{point2d::x_of(value), point2d::y_of(value)};
  }
  return std::nullopt;
}
Point need_point(Cursor& cursor) {
  if (auto point = take_point(cursor)) return *point;
  invalid(cursor);
}
// At least the given number of points, then as many as follow.
void need_points(Cursor& cursor, int least, std::vector<CellPoint>* points = nullptr) {
  for (int i = 0; i < least; ++i) {
    Point point = need_point(cursor);
    if (points != nullptr) points->push_back(point.cell());
  }
  while (auto point = take_point(cursor)) {
    if (points != nullptr) points->push_back(point->cell());
  }
}

std::optional<double> take_number(Cursor& cursor) {
  Cell value = cursor.peek();
  if (value.is(TYPE_INTEGER)) {
    cursor.take();
    return static_cast<double>(integer::get(value));
  }
  if (value.is(TYPE_FLOAT)) {
    cursor.take();
    return value.as_double();
  }
  return std::nullopt;
}
double need_number(Cursor& cursor) {
  if (auto number = take_number(cursor)) return *number;
  invalid(cursor);
}

// A color: a tuple, or a word (never a command word) holding one.
std::optional<uint32_t> color_of(const Cell& value) {
  if (value.is(TYPE_TUPLE)) return tuple_color(value);
  if (!value.is(TYPE_WORD) || command_of(value)) return std::nullopt;
  std::optional<Cell> held = word_value(value);
  if (held && held->is(TYPE_TUPLE)) return tuple_color(*held);
  return std::nullopt;
}
std::optional<uint32_t> take_color(Cursor& cursor) {
  std::optional<uint32_t> color = color_of(cursor.peek());
  if (color) cursor.take();
  return color;
}

// One of the keywords, as a word!.
bool take_keyword(Cursor& cursor, std::initializer_list<uint32_t> keywords) {
  uint32_t symbol = word_symbol(cursor.peek());
  if (symbol == 0 || std::find(keywords.begin(), keywords.end(), symbol) == keywords.end()) return false;
  cursor.take();
  return true;
}
void need_word(Cursor& cursor) {
  if (!cursor.peek().is(TYPE_WORD)) invalid(cursor);
  cursor.take();
}

// A value the test accepts, or a word holding one (fonts and images).
std::optional<Cell> take_held(Cursor& cursor, bool (*accepts)(const Cell&)) {
  Cell value = cursor.peek();
  if (!accepts(value)) {
    std::optional<Cell> held = word_value(value);
    if (!held || !accepts(*held)) return std::nullopt;
    value = *held;
  }
  cursor.take();
  return value;
}
bool is_image(const Cell& value) { return value.is(TYPE_IMAGE); }
bool is_object(const Cell& value) { return object::is_object_kind(value.type()); }
Cell need_held(Cursor& cursor, bool (*accepts)(const Cell&)) {
  if (auto value = take_held(cursor, accepts)) return *value;
  invalid(cursor);
}

std::optional<Cell> take_block(Cursor& cursor) {
  Cell value = cursor.peek();
  if (!value.is(TYPE_BLOCK)) return std::nullopt;
  cursor.take();
  return value;
}
Cell need_block(Cursor& cursor) {
  if (auto block = take_block(cursor)) return *block;
  invalid(cursor);
}

// --- Values with no effect in cells, read and checked ----------------------------------

bool starts_pen_value(const Cell& value) {
  const Words& w = words();
  uint32_t symbol = word_symbol(value);
  return color_of(value).has_value() || (symbol != 0 && (symbol == w.off || symbol == w.linear ||
                                                         symbol == w.radial || symbol == w.diamond ||
                                                         symbol == w.pattern || symbol == w.bitmap));
}
// The optional `pen` or `fill-pen` after a transformation: taken unless what
// follows it reads as a pen's value (then it is the next command).
void take_pen_selector(Cursor& cursor) {
  uint32_t symbol = word_symbol(cursor.peek());
  if ((symbol == words().pen || symbol == words().fill_pen) && !starts_pen_value(cursor.peek_after())) {
    cursor.take();
  }
}

void take_tile_mode(Cursor& cursor) {
  const Words& w = words();
  take_keyword(cursor, {w.tile, w.flip_x, w.flip_y, w.flip_xy, w.clamp});
}

// A gradient: its points, numbers and color stops (at least one color),
// then an optional spread.
void read_gradient(Cursor& cursor) {
  bool has_color = false;
  while (true) {
    if (take_point(cursor) || take_number(cursor)) continue;
    if (take_color(cursor)) {
      has_color = true;
      continue;
    }
    break;
  }
  if (!has_color) invalid(cursor);
  const Words& w = words();
  take_keyword(cursor, {w.pad, w.repeat, w.reflect});
}

// The shape sub-dialect (in shape and clip): every command, a word or a
// lit-word (relative moves), is checked with its arguments.
void check_shape_block(const Cell& block) {
  const Words& w = words();
  Cursor cursor(block);
  while (!cursor.at_end()) {
    Cell value = cursor.peek();
    uint32_t symbol = value.is(TYPE_WORD) || value.is(TYPE_LIT_WORD) ? symbol::resolve(word::symbol_of(value)) : 0;
    if (symbol == w.move) {
      cursor.take();
      need_point(cursor);
    } else if (symbol == w.line || symbol == w.curve || symbol == w.curv || symbol == w.qcurve ||
               symbol == w.qcurv) {
      cursor.take();
      need_points(cursor, 1);
    } else if (symbol == w.hline || symbol == w.vline) {
      cursor.take();
      need_number(cursor);
    } else if (symbol == w.arc) {
      // End point, radius (a second radius and an angle may follow), then
      // sweep and large in either order.
      cursor.take();
      need_point(cursor);
      need_number(cursor);
      if (take_number(cursor)) take_number(cursor);
      bool swept = false, large = false;
      while (true) {
        if (!swept && take_keyword(cursor, {w.sweep})) {
          swept = true;
        } else if (!large && take_keyword(cursor, {w.large})) {
          large = true;
        } else {
          break;
        }
      }
    } else if (symbol == w.close) {
      cursor.take();
    } else {
      invalid(cursor);
    }
  }
}

// --- The interpreter -------------------------------------------------------------------

class Interpreter {
 public:
  Interpreter(Screen* screen, const DrawArea& area) : screen_(screen), text_attributes_(area.text_attributes) {
    state_.origin_x = area.origin_x;
    state_.origin_y = area.origin_y;
    state_.clip = area.clip;
  }

  void run(const Cell& block) {
    try {
      cursors_.emplace_back(block);
      running_.insert(cursors_.back().key());
      while (!cursors_.empty()) {
        if (cursors_.back().at_end()) {
          running_.erase(cursors_.back().key());
          cursors_.pop_back();
          continue;
        }
        // The cursor is copied out and back: a nested block pushed by the
        // command may move the vector's cursors.
        Cursor cursor = cursors_.back();
        size_t depth = cursors_.size();
        Cell nested = command(cursor);
        cursors_[depth - 1] = cursor;
        if (nested.is(TYPE_BLOCK)) run_nested(cursor, nested);
      }
    } catch (const SilentStop&) {
      cursors_.clear();
    }
  }

 private:
  Screen* screen_;  // null when drawing changes no cell (on an image)
  DrawState state_;
  uint32_t text_attributes_;
  uint32_t text_color_ = color::kDefault;
  bool font_set_text_color_ = false;
  std::vector<Cursor> cursors_;
  std::unordered_set<uint64_t> running_;  // the keys of the cursors

  // A nested block runs next with the same state, unless it is already
  // running: that would never end. The block is the value just read.
  void run_nested(const Cursor& cursor, const Cell& block) {
    if (!running_.insert(Cursor::key_of(block)).second) {
      fail(ErrorId::script_draw_infinite, cursor, cursor.position() - 1);
    }
    cursors_.emplace_back(block);
  }

  // Reads one command and its arguments and acts on it; answers the block
  // to run nested (none when there is none).
  Cell command(Cursor& cursor);
  void pen_value(Cursor& cursor, bool fill);
  void paint_text_command(Cursor& cursor);
};

void Interpreter::pen_value(Cursor& cursor, bool fill) {
  const Words& w = words();
  if (take_keyword(cursor, {w.off})) {
    (fill ? state_.fill_on : state_.pen_on) = false;
  } else if (auto color = take_color(cursor)) {
    if (fill) {
      state_.fill_on = true;
      state_.fill_color = *color;
    } else {
      state_.pen_on = true;
      state_.pen_color = *color;
      if (!font_set_text_color_) text_color_ = *color;
    }
  } else if (take_keyword(cursor, {w.linear, w.radial, w.diamond})) {
    read_gradient(cursor);
  } else if (take_keyword(cursor, {w.pattern})) {
    // A size, an optional start and end, an optional tile mode, a block.
    need_point(cursor);
    if (take_point(cursor)) take_point(cursor);
    take_tile_mode(cursor);
    need_block(cursor);
  } else if (take_keyword(cursor, {w.bitmap})) {
    need_held(cursor, is_image);
    if (take_point(cursor)) take_point(cursor);
    take_tile_mode(cursor);
  } else {
    invalid(cursor);
  }
}

void Interpreter::paint_text_command(Cursor& cursor) {
  CellPoint at = need_point(cursor).cell();
  Cell value = cursor.peek();
  bool rich_text = is_object(value) && word_symbol(gui::faces::field(value, "type")) == words().rich_text;
  if (!value.is(TYPE_STRING) && !rich_text) invalid(cursor);
  cursor.take();
  if (screen_ == nullptr) return;
  uint32_t foreground = font_set_text_color_ ? text_color_ : state_.pen_on ? state_.pen_color : color::kDefault;
  int32_t x = clamp_to_cell(int64_t{state_.origin_x} + at.x);
  int32_t y = clamp_to_cell(int64_t{state_.origin_y} + at.y);
  if (rich_text) {
    paint_rich_text(*screen_, state_.clip, x, y, value, foreground, text_attributes_);
    return;
  }
  TextStyle style;
  style.foreground = foreground;
  style.attributes = text_attributes_;
  style.interpret_sgr = true;
  style.wrap = true;
  paint_text(*screen_, state_.clip, x, y, text_of(value), style);
}

Cell Interpreter::command(Cursor& cursor) {
  const Words& w = words();
  std::optional<Command> which = command_of(cursor.peek());
  if (!which) invalid(cursor);
  cursor.take();
  Screen* screen = screen_;
  switch (*which) {
    case Command::pen: pen_value(cursor, false); break;
    case Command::fill_pen: pen_value(cursor, true); break;
    case Command::box: {
      CellPoint first = need_point(cursor).cell(), second = need_point(cursor).cell();
      take_number(cursor);  // the corner radius: square corners in cells
      if (screen != nullptr) draw_box(*screen, state_, first, second);
      break;
    }
    case Command::line: {
      std::vector<CellPoint> points;
      need_points(cursor, 2, &points);
      if (screen != nullptr) draw_line(*screen, state_, points);
      break;
    }
    case Command::line_width: need_number(cursor); break;
    case Command::line_join:
    case Command::line_cap:
    case Command::anti_alias: need_word(cursor); break;
    case Command::line_pattern:
      if (!cursor.peek().is(TYPE_INTEGER)) invalid(cursor);
      while (cursor.peek().is(TYPE_INTEGER)) cursor.take();
      break;
    case Command::triangle: {
      CellPoint a = need_point(cursor).cell(), b = need_point(cursor).cell(), c = need_point(cursor).cell();
      if (screen != nullptr) draw_triangle(*screen, state_, a, b, c);
      break;
    }
    case Command::polygon: need_points(cursor, 3); break;
    case Command::circle: {
      CellPoint center = need_point(cursor).cell();
      int32_t radius = to_cell(need_number(cursor));
      take_number(cursor);  // a second radius: a circle in cells has one
      if (screen != nullptr) draw_circle(*screen, state_, center, radius);
      break;
    }
    case Command::ellipse: {
      Point top_left = need_point(cursor), size = need_point(cursor);
      if (screen != nullptr) draw_ellipse(*screen, state_, top_left.cell(), size.x, size.y);
      break;
    }
    case Command::font: {
      Cell font = need_held(cursor, is_object);
      Cell font_color = gui::faces::field(font, "color");
      font_set_text_color_ = font_color.is(TYPE_TUPLE);
      if (font_set_text_color_) text_color_ = tuple_color(font_color);
      break;
    }
    case Command::text: paint_text_command(cursor); break;
    case Command::arc:
      need_point(cursor);
      need_point(cursor);
      need_number(cursor);
      need_number(cursor);
      take_keyword(cursor, {w.closed});
      break;
    case Command::curve:
      need_points(cursor, 3);
      break;
    case Command::spline:
      need_points(cursor, 2);
      take_keyword(cursor, {w.closed});
      break;
    case Command::image:
      need_held(cursor, is_image);
      if (take_point(cursor)) take_point(cursor);
      take_keyword(cursor, {w.border});
      if (take_keyword(cursor, {w.crop})) {
        need_point(cursor);
        need_point(cursor);
      }
      break;
    case Command::shadow:
      if (take_keyword(cursor, {w.off})) break;
      need_point(cursor);
      if (take_number(cursor)) take_number(cursor);
      take_color(cursor);
      take_keyword(cursor, {w.inset});
      break;
    case Command::clip:
      if (auto shape = take_block(cursor)) {
        check_shape_block(*shape);
      } else {
        need_point(cursor);
        need_point(cursor);
      }
      take_keyword(cursor, {w.replace, w.intersect, w.union_mode, w.xor_mode, w.exclude});
      break;
    case Command::shape: check_shape_block(need_block(cursor)); break;
    case Command::rotate:
      need_number(cursor);
      take_point(cursor);
      take_pen_selector(cursor);
      return take_block(cursor).value_or(none_cell());
    case Command::scale:
    case Command::skew:
      need_number(cursor);
      need_number(cursor);
      take_pen_selector(cursor);
      return take_block(cursor).value_or(none_cell());
    case Command::translate:
      need_point(cursor);
      take_pen_selector(cursor);
      return take_block(cursor).value_or(none_cell());
    case Command::transform:
      need_number(cursor);  // the angle
      need_point(cursor);   // the center
      need_number(cursor);  // the scales
      need_number(cursor);
      need_point(cursor);  // the translation
      take_pen_selector(cursor);
      return take_block(cursor).value_or(none_cell());
    case Command::push: return need_block(cursor);
    case Command::matrix: {
      Cursor numbers(need_block(cursor));
      for (int i = 0; i < 6; ++i) need_number(numbers);
      if (!numbers.at_end()) invalid(numbers);
      take_pen_selector(cursor);
      break;
    }
    case Command::reset_matrix:
    case Command::invert_matrix: take_pen_selector(cursor); break;
    case Command::count: break;
  }
  return none_cell();
}

// A 32-bit size of a face facet (a pair or a point2D), when it has one.
std::optional<CellPoint> size_of_face(const Cell& face) {
  Cell size = gui::faces::field(face, "size");
  if (size.is(TYPE_PAIR)) return CellPoint{pair::x_of(size), pair::y_of(size)};
  if (size.is(TYPE_POINT2D)) return CellPoint{to_cell(point2d::x_of(size)), to_cell(point2d::y_of(size))};
  return std::nullopt;
}

}  // namespace

void paint_draw_block(Screen& screen, const DrawArea& area, const Cell& draw_block) {
  if (!draw_block.is(TYPE_BLOCK)) return;
  Interpreter(&screen, area).run(draw_block);
}

void os_do_draw(const Cell& image, const Cell& commands) {
  if (!image.is(TYPE_IMAGE) || image::width_of(image) == 0 || image::height_of(image) == 0) return;
  if (!commands.is(TYPE_BLOCK)) return;
  Interpreter(nullptr, DrawArea{}).run(commands);
}

std::vector<StyledRange> read_rich_text_styles(const Cell& style_block) {
  std::vector<StyledRange> ranges;
  if (!style_block.is(TYPE_BLOCK)) return ranges;
  const Words& w = words();
  Cursor cursor(style_block);
  bool backdrop_next = false;
  while (!cursor.at_end()) {
    Cell value = cursor.take();
    if (value.is(TYPE_PAIR)) {
      // A range: the 1-based first character and the count.
      ranges.push_back(StyledRange{int64_t{pair::x_of(value)} - 1, pair::y_of(value), RangeStyle{}});
      backdrop_next = false;
      continue;
    }
    if (ranges.empty()) continue;
    RangeStyle& style = ranges.back().style;
    std::optional<uint32_t> color = color_of(value);
    uint32_t symbol = word_symbol(value);
    if (color) {
      if (backdrop_next) {
        style.set_background = true;
        style.background = *color;
      } else {
        style.set_foreground = true;
        style.foreground = *color;
      }
    } else if (symbol == w.bold) {
      style.attributes |= attribute::kBold;
    } else if (symbol == w.italic) {
      style.attributes |= attribute::kItalic;
    } else if (symbol == w.underline) {
      style.attributes |= attribute::kUnderline;
    } else if (symbol == w.strike) {
      style.attributes |= attribute::kStrike;
    }
    // border, a font name and a font size change nothing in cells.
    backdrop_next = symbol == w.backdrop;
  }
  return ranges;
}

void paint_rich_text(Screen& screen, const CellRect& clip, int32_t x, int32_t y, const Cell& face,
                     uint32_t foreground, uint32_t attributes) {
  Cell text_value = gui::faces::field(face, "text");
  if (!text_value.is(TYPE_STRING)) return;
  std::u32string text = text_of(text_value);
  const Words& w = words();
  Cell font_color = gui::faces::field(gui::faces::field(face, "font"), "color");
  if (font_color.is(TYPE_TUPLE)) foreground = tuple_color(font_color);
  Cell para = gui::faces::field(face, "para");
  Cell wrap = gui::faces::field(para, "wrap?");
  bool wrapped = wrap.is(TYPE_LOGIC) && logic::get(wrap) != 0;
  CellRect area = clip;
  if (std::optional<CellPoint> size = size_of_face(face)) {
    // Placed within the face's own size, by its para.
    TextSize measured = measure_text(text, wrapped ? size->x : 0, false);
    uint32_t align = word_symbol(gui::faces::field(para, "align"));
    uint32_t v_align = word_symbol(gui::faces::field(para, "v-align"));
    int64_t spare_x = std::max<int64_t>(int64_t{size->x} - measured.columns, 0);
    int64_t spare_y = std::max<int64_t>(int64_t{size->y} - measured.lines, 0);
    int64_t left = x, top = y;
    CellRect own{x, y, clamp_to_cell(left + size->x), clamp_to_cell(top + size->y)};
    area = clip.intersect(own);
    if (align == w.center) left += spare_x / 2;
    if (align == w.right) left += spare_x;
    if (v_align == w.middle) top += spare_y / 2;
    if (v_align == w.bottom) top += spare_y;
    x = clamp_to_cell(left);
    y = clamp_to_cell(top);
  }
  TextStyle style;
  style.foreground = foreground;
  style.attributes = attributes;
  style.wrap = wrapped;
  std::vector<CellPoint> cells;
  paint_text(screen, area, x, y, text, style, &cells);
  Cell face_color = gui::faces::field(face, "color");
  if (face_color.is(TYPE_TUPLE)) {
    RangeStyle background;
    background.set_background = true;
    background.background = tuple_color(face_color);
    style_range(screen, cells, 0, static_cast<int64_t>(cells.size()), background);
  }
  for (const StyledRange& range : read_rich_text_styles(gui::faces::field(face, "data"))) {
    style_range(screen, cells, range.start, range.count, range.style);
  }
}

}  // namespace kel::tui
