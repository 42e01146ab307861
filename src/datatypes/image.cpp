// image!: construction, positions, pixel access, paths, copy, change,
// comparison and text (see image.h for the cell, the node and the pixel
// word).
//
// A node never changes size, so a range checked against the cell's size
// stays good after an owner's handler (Kel code) ran; only the pixel address
// is read again after anything that may allocate or evaluate.
#include "datatypes/image.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/pair.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/tuple.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/string_buffer.h"
#include "runtime/symbol_table.h"

namespace kel::image {

namespace {

constexpr uint32_t kSizePrefix = 16;  // bytes in front of the pixels: the size word

[[noreturn]] void invalid_arg(const Cell& value) { fire(ErrorId::script_invalid_arg, &value); }

uint32_t alpha_of(uint32_t pixel) { return pixel >> 24; }

// --- Nodes ---------------------------------------------------------------------------

Cell make_value(NodeId node, uint32_t width, uint32_t height) {
  return make_cell(TYPE_IMAGE, 0, node, size_word(width, height));
}

// A new image of width x height pushed on the stack, its pixels not yet set
// (the caller writes every one).
Cell* push_blank(uint32_t width, uint32_t height) {
  Cell* cell = stack::push_slot();
  NodeId node = make_node(width, height, 0);
  *cell = make_value(node, width, height);
  return cell;
}

// --- Positions -----------------------------------------------------------------------------

struct Offset {
  int64_t value;
  bool out_of_range;
};

// The offset a position (integer or pair) names from the image's index;
// base 1 for at, pick and poke, 0 for skip. Clamped to 0 .. area.
Offset offset_of(const Cell& image, const Cell& position, int base) {
  int64_t w = width_of(image), h = height_of(image);
  int64_t area = w * h;
  int64_t index = series::index_of(image);
  int64_t e = 0;
  bool out = false;
  if (position.is(TYPE_INTEGER)) {
    e = integer::get(position);
  } else if (position.is(TYPE_PAIR)) {
    int64_t x = pair::x_of(position), y = pair::y_of(position);
    e = (base == 1 && y > 0) ? x + w * (y - 1) : x + w * y;
    out = base == 1 ? (x < 1 || x > w || y < 1 || y > h) : (x < 0 || x >= w || y < 0 || y >= h);
  } else {
    invalid_arg(position);
  }
  int64_t a = index + e - base + ((base == 1 && e <= 0) ? 1 : 0);
  int64_t clamped = std::clamp<int64_t>(a, 0, area);
  out = out || e == 0 || a < 0 || clamped >= area;
  return {clamped, out};
}

Cell* move_index(int base) {
  Cell* image = stack::arguments();
  image->data1 = static_cast<uint32_t>(offset_of(*image, image[1], base).value);
  return image;
}

// --- Copies ---------------------------------------------------------------------------------

// A new image of the rectangle (cut to the image), pushed on the stack.
Cell* push_rect(const Cell& image, int64_t x, int64_t y, int64_t width, int64_t height) {
  int64_t w = width_of(image), h = height_of(image);
  if (x < 0 || y < 0 || x >= w || y >= h || width < 1 || height < 1) {
    Cell* cell = stack::push_slot();
    init_cell(cell, make_node(0, 0, 0));
    return cell;
  }
  width = std::min(width, w - x);
  height = std::min(height, h - y);
  Cell* made = push_blank(static_cast<uint32_t>(width), static_cast<uint32_t>(height));
  const uint32_t* from = pixels_of(image);
  uint32_t* to = pixels_of(*made);
  for (int64_t row = 0; row < height; ++row)
    std::memcpy(to + row * width, from + (y + row) * w + x, static_cast<size_t>(width) * 4);
  return made;
}

// The rectangle of copy/part: a pair counts from the index (forward when
// positive, back when negative); a position of the same image spans the
// rectangle between the two positions' corners.
Cell* copy_part(const Cell& image, const Cell& part) {
  int64_t w = width_of(image), h = height_of(image);
  int64_t area = w * h;
  int64_t index = series::index_of(image);
  if (part.is(TYPE_INTEGER)) fire(ErrorId::internal_not_done);
  if (part.is(TYPE_IMAGE)) {
    if (part.data2 != image.data2) series::fire_bad_part(&part);
    if (w == 0) return push_rect(image, 0, 0, 0, 0);
    int64_t other = std::min<int64_t>(series::index_of(part), area);
    index = std::min(index, area);
    int64_t x0 = index % w, y0 = index / w, x1 = other % w, y1 = other / w;
    return push_rect(image, std::min(x0, x1), std::min(y0, y1), std::abs(x1 - x0), std::abs(y1 - y0));
  }
  if (!part.is(TYPE_PAIR)) series::fire_bad_part(&part);
  int64_t px = pair::x_of(part), py = pair::y_of(part);
  if (w == 0 || h == 0) return push_rect(image, 0, 0, 0, 0);
  if (px >= 1 && py >= 1 && index < area) {
    int64_t x0 = index % w, y0 = index / w;
    return push_rect(image, x0, y0, std::min(px, w - x0), std::min(py, h - y0));
  }
  if (px < 0 && py < 0 && index >= 1) {
    index = std::min(index, area);
    int64_t width = -px, height = -py, left, top;
    int64_t x = index % w;
    if (x == 0) x = w;
    if (width > x) {
      width = x;
      left = 0;
    } else {
      left = x - width;
    }
    int64_t y = index / w;
    if (y < h) y += 1;
    if (height > y) {
      height = y;
      top = 0;
    } else {
      top = y - height;
    }
    return push_rect(image, left, top, width, height);
  }
  return push_rect(image, 0, 0, 0, 0);
}

// --- Text -----------------------------------------------------------------------------------

// Appends text and counts it against the budget of /part.
struct MoldOutput {
  Cell* buffer;
  int64_t budget;

  void text(const char* s) {
    string::concatenate_literal(buffer, s);
    budget -= static_cast<int64_t>(std::strlen(s));
  }
  void line(int32_t level) {
    text("\n");
    mold_indent(buffer, level);
    budget -= 4 * std::max(level, 0);
  }
};

void hex_byte(char* out, uint32_t byte) {
  static const char digits[] = "0123456789ABCDEF";
  out[0] = digits[(byte >> 4) & 15];
  out[1] = digits[byte & 15];
}

int32_t mold_text(Cell* value, Cell* buffer, bool only, bool flat, bool limited, int32_t part, int32_t level) {
  Cell image = *value;
  MoldOutput out{buffer, part};
  auto exhausted = [&] { return limited && out.budget <= 0; };
  auto result = [&] { return static_cast<int32_t>(std::clamp<int64_t>(out.budget, INT32_MIN, INT32_MAX)); };
  if (!only) out.text("make image! [");
  std::string size = std::to_string(width_of(image)) + "x" + std::to_string(height_of(image));
  out.text(size.c_str());
  uint64_t area = area_of(image);
  if (area == 0) {
    out.text(" #{}]");
    return result();
  }
  out.text(" #{");
  uint64_t index = std::min<uint64_t>(series::index_of(image), area);
  uint64_t count = area - index;
  bool broken = !flat && count * 4 > 30;  // the pixel store: 8 pixels or more
  if (broken) out.line(level);
  bool has_alpha = false;
  char hex[7] = {};
  for (uint64_t k = 0; k < count; ++k) {
    // The buffer grows as it is written: the pixel is read afresh each time.
    uint32_t pixel = pixels_of(image)[index + k];
    if (alpha_of(pixel) != 255) has_alpha = true;
    hex_byte(hex, (pixel >> 16) & 255);
    hex_byte(hex + 2, (pixel >> 8) & 255);
    hex_byte(hex + 4, pixel & 255);
    out.text(hex);
    if (!flat && (k + 1) % 10 == 0) out.line(level);
    if (exhausted()) return result();
  }
  if (broken && count % 10 != 0) out.line(level - 1);
  out.text("}");
  if (has_alpha) {
    out.text(" #{\n");
    mold_indent(buffer, level);
    out.budget -= 4 * std::max(level, 0);
    char two[3] = {};
    for (uint64_t k = 0; k < count; ++k) {
      hex_byte(two, 255 - alpha_of(pixels_of(image)[index + k]));
      out.text(two);
      if (!flat && (k + 1) % 10 == 0) out.line(level);
      if (exhausted()) return result();
    }
    out.line(level - 1);
    out.text("}");
  }
  if (!only) out.text("]");
  return result();
}

// --- Handlers -------------------------------------------------------------------------------

Cell* to(Cell*, Cell* spec, TypeId);

Cell* copy(Cell* value, Cell* result, int part, int, int) {
  Cell image = *value;
  Cell* made;
  if (part >= 0) {
    made = copy_part(image, stack::arguments()[part]);
  } else {
    int64_t w = width_of(image);
    int64_t index = std::min<int64_t>(series::index_of(image), static_cast<int64_t>(area_of(image)));
    made = w == 0 ? push_rect(image, 0, 0, 0, 0) : push_rect(image, index % w, index / w, w, height_of(image));
  }
  *result = *made;
  return result;
}

Cell* make(Cell* proto, Cell* spec, TypeId type) {
  Cell given = *spec;
  if (given.is(TYPE_BLOCK) && series::rs_tail_q(&given)) {
    if (!proto->is(TYPE_IMAGE)) invalid_arg(given);
    Cell original = *proto;
    return copy(&original, proto, -1, -1, -1);
  }
  Cell size;
  Cell rgb = none::value, alpha = none::value, colour = none::value;
  if (given.is(TYPE_PAIR)) {
    size = given;
  } else if (given.is(TYPE_BLOCK)) {
    SeriesBuffer* b = memory::buffer_of(given.data2);
    const Cell* at = b->cells() + given.data1;
    uint32_t n = b->cell_count() - given.data1;
    size = at[0];
    if (!size.is(TYPE_PAIR)) invalid_arg(size);
    if (n > 1) {
      if (at[1].is(TYPE_BINARY)) rgb = at[1];
      else if (at[1].is(TYPE_TUPLE)) colour = at[1];
      else invalid_arg(at[1]);
    }
    if (n > 2) {
      if (!at[2].is(TYPE_BINARY)) invalid_arg(at[2]);
      alpha = at[2];
    }
  } else {
    return to(proto, spec, type);
  }
  int64_t w = std::max(0, pair::x_of(size)), h = std::max(0, pair::y_of(size));
  if (w > kMaxSide || h > kMaxSide) invalid_arg(size);
  uint32_t white = 0xFFFFFFFF;
  NodeId node = make_node(static_cast<uint32_t>(w), static_cast<uint32_t>(h),
                          colour.is(TYPE_TUPLE) ? tuple_to_pixel(colour) : white);
  Cell made = make_value(node, static_cast<uint32_t>(w), static_cast<uint32_t>(h));
  if (!colour.is(TYPE_TUPLE) && (rgb.is(TYPE_BINARY) || alpha.is(TYPE_BINARY))) {
    uint64_t area = uint64_t(w) * uint64_t(h);
    uint64_t rgb_pixels = rgb.is(TYPE_BINARY) ? binary::rs_length(&rgb) / 3 : 0;
    uint64_t alpha_pixels = alpha.is(TYPE_BINARY) ? binary::rs_length(&alpha) : 0;
    uint32_t* pixels = pixels_of(node);
    const uint8_t* rgb_bytes = rgb.is(TYPE_BINARY) ? binary::rs_head(&rgb) : nullptr;
    const uint8_t* alpha_bytes = alpha.is(TYPE_BINARY) ? binary::rs_head(&alpha) : nullptr;
    for (uint64_t k = 0; k < area; ++k) {
      uint32_t a = k < alpha_pixels ? 255u - alpha_bytes[k] : 255u;
      uint32_t colour_bits = 0x00FFFFFF;
      if (k < rgb_pixels) {
        const uint8_t* p = rgb_bytes + k * 3;
        colour_bits = uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
      }
      pixels[k] = a << 24 | colour_bits;
    }
  }
  *proto = made;
  return proto;
}

Cell* to(Cell* proto, Cell* spec, TypeId) {
  if (spec->is(TYPE_IMAGE)) {
    Cell original = *spec;
    return copy(&original, proto, -1, -1, -1);
  }
  Cell datatype = datatype::make(TYPE_IMAGE);
  fire(ErrorId::script_bad_to_arg, &datatype, spec);
}

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
  return mold_text(value, buffer, false, false, arg != nullptr, part, 0);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool, bool flat, Cell* arg, int32_t part, int32_t indent) {
  return mold_text(value, buffer, only, flat, arg != nullptr, part, indent + 1);
}

uint32_t rgb_symbol() {
  static uint32_t id = 0;
  if (id == 0) id = symbol::resolve(symbol::make("rgb"));
  return id;
}

Cell* pick(Cell* image, int32_t index, Cell* boxed);
Cell* poke(Cell* image, int32_t index, Cell* data, Cell* boxed);

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool, bool, bool) {
  if (element->is(TYPE_INTEGER) || element->is(TYPE_PAIR)) {
    Cell position = *element;
    if (value == nullptr) {
      Cell image = *parent;
      Cell* slot = stack::push(image);
      Cell picked = *pick(slot, 0, &position);
      *slot = picked;
      return slot;
    }
    Cell image = *parent;
    Cell given = *value;
    Cell* slot = stack::push(image);
    poke(slot, 0, &given, &position);
    *slot = given;
    return slot;
  }
  DataFormat format;
  uint32_t word = element->type() == TYPE_WORD ? symbol::resolve(element->data2) : 0;
  if (word != 0 && word == symbol::resolve(runtime_words::size)) {
    if (value != nullptr) fire(ErrorId::script_invalid_path, path, element);
    return stack::push(pair::make(static_cast<int32_t>(width_of(*parent)), static_cast<int32_t>(height_of(*parent))));
  } else if (word != 0 && word == symbol::resolve(runtime_words::argb)) {
    format = kArgb;
  } else if (word != 0 && word == rgb_symbol()) {
    format = kRgb;
  } else if (word != 0 && word == symbol::resolve(runtime_words::alpha)) {
    format = kAlpha;
  } else {
    fire(ErrorId::script_invalid_path, path, element);
  }
  if (value == nullptr) return stack::push(extract_data(*parent, format));
  Cell image = *parent;
  Cell given = *value;
  set_data(image, given, format);
  return stack::push(given);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
  if (!value2->is(TYPE_IMAGE)) return kNotComparable;
  bool same = value1->data2 == value2->data2 && value1->data1 == value2->data1;
  if (op == kCmpSame) return same ? 0 : -1;
  bool ordered = op == kCmpEqual || op == kCmpNotEqual || op == kCmpStrictEqual || op == kCmpSort ||
                 op == kCmpCaseSort || op == kCmpFind;
  if (!ordered) return kNotComparable;
  if (same && op != kCmpSort && op != kCmpCaseSort && op != kCmpFind) return 0;
  uint64_t a1 = area_of(*value1), a2 = area_of(*value2);
  if (a1 != a2) return a1 < a2 ? -1 : 1;
  if (a1 == 0) return 0;
  int c = std::memcmp(pixels_of(*value1), pixels_of(*value2), static_cast<size_t>(a1 * 4));
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

Cell* at() { return move_index(1); }
Cell* skip() { return move_index(0); }

Cell* next() {
  Cell* image = stack::arguments();
  if (uint64_t{image->data1} + 1 <= area_of(*image)) image->data1 += 1;
  return image;
}

Cell* tail() {
  Cell* image = stack::arguments();
  image->data1 = static_cast<uint32_t>(area_of(*image));
  return image;
}

Cell* tail_q() {
  Cell* image = stack::arguments();
  return logic::box(image->data1 >= area_of(*image));
}

int32_t length_q(Cell* image) { return static_cast<int32_t>(area_of(*image)); }

Cell* pick(Cell* image, int32_t index, Cell* boxed) {
  int64_t offset;
  if (boxed != nullptr && (boxed->is(TYPE_INTEGER) || boxed->is(TYPE_PAIR))) {
    Offset o = offset_of(*image, *boxed, 1);
    if (o.out_of_range) return none::set_result();
    offset = o.value;
  } else {
    offset = int64_t{image->data1} + index - 1;
  }
  if (offset < 0 || static_cast<uint64_t>(offset) >= area_of(*image)) return none::set_result();
  return stack::set_result(pixel_at(*image, static_cast<uint64_t>(offset)));
}

Cell* poke(Cell* image, int32_t index, Cell* data, Cell* boxed) {
  Cell position = boxed != nullptr ? *boxed : integer::make(index);
  Offset o = offset_of(*image, position, 1);
  if (o.out_of_range) fire(ErrorId::script_out_of_range, &position);
  Cell value = *data;
  if (!value.is(TYPE_TUPLE)) invalid_arg(value);
  Cell target = *image;
  series::Stretch stretch = series::announce(target, runtime_words::poke, &value, o.value, 1);
  pixels_of(target)[o.value] = tuple_to_pixel(value);
  series::announce_done(target, runtime_words::poked, &value, stretch);
  return data;
}

Cell* change(Cell* image, Cell* value, int part, int, int dup) {
  if (part >= 0) fire(ErrorId::internal_not_done);
  if (dup >= 0) {
    const Cell& count = stack::arguments()[dup];
    if (count.is(TYPE_INTEGER) && integer::get(count) >= 2) fire(ErrorId::internal_not_done);
  }
  Cell target = *image;
  Cell given = *value;
  uint64_t w = width_of(target), h = height_of(target), area = w * h;
  uint64_t index = target.data1;
  if (given.is(TYPE_TUPLE)) {
    if (index >= area) {
      Cell position = integer::make(static_cast<int32_t>(index + 1));
      fire(ErrorId::script_out_of_range, &position);
    }
    series::Stretch stretch = series::announce(target, runtime_words::change, &given, index, 1);
    pixels_of(target)[index] = tuple_to_pixel(given);
    series::announce_done(target, runtime_words::changed, &given, stretch);
    image->data1 = static_cast<uint32_t>(index + 1);
    return image;
  }
  if (!given.is(TYPE_IMAGE)) {
    Cell datatype = datatype::make(given.type());
    fire(ErrorId::script_invalid_type, &datatype);
  }
  if (index >= area) return image;
  uint64_t x0 = index % w, y0 = index / w;
  uint64_t sw = width_of(given), sh = height_of(given);
  uint64_t columns = std::min(sw, w - x0), rows = std::min(sh, h - y0);
  series::Stretch stretch =
      series::announce(target, runtime_words::change, &given, index, static_cast<int64_t>(columns * rows));
  // The source may be the target itself: its rows are taken first.
  std::vector<uint32_t> source = copy_pixels(given);
  uint32_t* to_pixels = pixels_of(target);
  for (uint64_t row = 0; row < rows; ++row)
    std::memcpy(to_pixels + (y0 + row) * w + x0, source.data() + row * sw, static_cast<size_t>(columns) * 4);
  series::announce_done(target, runtime_words::changed, &given, stretch);
  uint64_t y_end = y0 + rows;
  image->data1 = static_cast<uint32_t>((y_end - 1) * w + std::min(x0 + sw, w));
  return image;
}

}  // namespace

// --- Shared helpers --------------------------------------------------------------------------

Cell pixel_to_tuple(uint32_t pixel) {
  Cell t;
  tuple::set_rgba(&t, (pixel >> 16) & 255, (pixel >> 8) & 255, pixel & 255, 255 - alpha_of(pixel));
  return t;
}

uint32_t tuple_to_pixel(const Cell& colour) {
  const uint8_t* b = tuple::bytes_of(colour);
  uint32_t a = tuple::size_of(colour) > 3 ? 255u - b[3] : 255u;
  return a << 24 | uint32_t{b[0]} << 16 | uint32_t{b[1]} << 8 | b[2];
}

NodeId make_node(uint32_t width, uint32_t height, uint32_t fill) {
  if (width > kMaxSide || height > kMaxSide) {
    Cell size = pair::make(static_cast<int32_t>(width), static_cast<int32_t>(height));
    invalid_arg(size);
  }
  uint64_t area = uint64_t{width} * height;
  memory::check_series_size(area * 4 + kSizePrefix);
  NodeId node = memory::alloc_series(static_cast<uint32_t>(area + kSizePrefix / 4), 4, kSizePrefix);
  SeriesBuffer* b = memory::buffer_of(node);
  uint32_t word = size_word(width, height);
  std::memcpy(b->data(), &word, 4);
  b->tail = b->offset + static_cast<uint32_t>(area * 4);
  std::fill_n(pixels_of(node), area, fill);
  return node;
}

Cell* init_cell(Cell* cell, NodeId node) {
  *cell = make_cell(TYPE_IMAGE, 0, node, size_word_of(node));
  return cell;
}

Cell* push_pixels(uint32_t width, uint32_t height, const uint32_t* pixels) {
  Cell* made = push_blank(width, height);
  std::memcpy(pixels_of(*made), pixels, static_cast<size_t>(uint64_t{width} * height * 4));
  return made;
}

Cell* push_resized(const Cell& image, int64_t width, int64_t height) {
  if (width < 0 || height < 0 || width > kMaxSide || height > kMaxSide) {
    Cell size = pair::make(static_cast<int32_t>(std::clamp<int64_t>(width, INT32_MIN, INT32_MAX)),
                           static_cast<int32_t>(std::clamp<int64_t>(height, INT32_MIN, INT32_MAX)));
    invalid_arg(size);
  }
  uint64_t sw = width_of(image), sh = height_of(image);
  // The source's pixels are copied out first: the new node may move nothing,
  // but no address is kept across an allocation.
  std::vector<uint32_t> source = copy_pixels(image);
  bool empty_source = sw == 0 || sh == 0;
  Cell* made = push_blank(static_cast<uint32_t>(width), static_cast<uint32_t>(height));
  uint32_t* to_pixels = pixels_of(*made);
  for (int64_t y = 0; y < height; ++y)
    for (int64_t x = 0; x < width; ++x)
      to_pixels[y * width + x] =
          empty_source ? 0 : source[(uint64_t(y) * sh / uint64_t(height)) * sw + uint64_t(x) * sw / uint64_t(width)];
  return made;
}

std::vector<uint32_t> copy_pixels(const Cell& image) {
  const uint32_t* p = pixels_of(image);
  return std::vector<uint32_t>(p, p + area_of(image));
}

Cell pixel_at(const Cell& image, uint64_t offset) { return pixel_to_tuple(pixels_of(image)[offset]); }

Cell extract_data(const Cell& image, DataFormat format) {
  static constexpr uint32_t kBytesPerPixel[] = {1, 3, 4};
  uint64_t area = area_of(image);
  uint64_t bytes = area * kBytesPerPixel[format];
  memory::check_series_size(bytes);
  Cell result;
  binary::init_cell(&result, static_cast<uint32_t>(bytes));
  SeriesBuffer* b = binary::buffer_of(&result);
  uint8_t* out = b->head_ptr();
  const uint32_t* pixels = pixels_of(image);
  switch (format) {
    case kArgb: std::memcpy(out, pixels, static_cast<size_t>(bytes)); break;
    case kRgb:
      for (uint64_t k = 0; k < area; ++k) {
        out[3 * k] = static_cast<uint8_t>(pixels[k] >> 16);
        out[3 * k + 1] = static_cast<uint8_t>(pixels[k] >> 8);
        out[3 * k + 2] = static_cast<uint8_t>(pixels[k]);
      }
      break;
    case kAlpha:
      for (uint64_t k = 0; k < area; ++k) out[k] = static_cast<uint8_t>(255 - alpha_of(pixels[k]));
      break;
  }
  b->tail = b->offset + static_cast<uint32_t>(bytes);
  return result;
}

void set_data(const Cell& image, const Cell& value, DataFormat format) {
  uint64_t area = area_of(image);
  if (!value.is(TYPE_BINARY) && !value.is(TYPE_TUPLE) && !value.is(TYPE_INTEGER)) invalid_arg(value);
  if (area == 0) return;
  series::Stretch stretch = series::announce(image, runtime_words::change, &value, 0, static_cast<int64_t>(area));
  uint32_t* pixels = pixels_of(image);
  if (value.is(TYPE_BINARY)) {
    uint64_t n = binary::rs_length(&value);
    const uint8_t* in = binary::rs_head(&value);
    switch (format) {
      case kArgb: std::memmove(pixels, in, static_cast<size_t>(std::min(n, 4 * area))); break;
      case kRgb:
        for (uint64_t k = 0, count = std::min(n / 3, area); k < count; ++k)
          pixels[k] = (pixels[k] & 0xFF000000) | uint32_t{in[3 * k]} << 16 | uint32_t{in[3 * k + 1]} << 8 | in[3 * k + 2];
        break;
      case kAlpha:
        for (uint64_t k = 0, count = std::min(n, area); k < count; ++k)
          pixels[k] = (pixels[k] & 0x00FFFFFF) | (255u - in[k]) << 24;
        break;
    }
  } else {
    uint8_t b[4] = {};
    if (value.is(TYPE_TUPLE)) {
      std::memcpy(b, tuple::bytes_of(value), 4);
      if (tuple::size_of(value) < 4) b[3] = 0;
    } else {
      uint32_t bits = value.data2;
      for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(bits >> (8 * i));
    }
    uint32_t rgb = uint32_t{b[0]} << 16 | uint32_t{b[1]} << 8 | b[2];
    for (uint64_t k = 0; k < area; ++k) {
      switch (format) {
        case kArgb: pixels[k] = (255u - b[3]) << 24 | rgb; break;
        case kRgb: pixels[k] = (pixels[k] & 0xFF000000) | rgb; break;
        case kAlpha: pixels[k] = (pixels[k] & 0x00FFFFFF) | (255u - b[0]) << 24; break;
      }
    }
  }
  series::announce_done(image, runtime_words::changed, &value, stretch);
}

void init() {
  DatatypeRecord record(TYPE_IMAGE, TYPE_SERIES, "image!");
  record.handle<Action::make>(make)
      .handle<Action::to>(to)
      .handle<Action::form>(form)
      .handle<Action::mold>(mold)
      .handle<Action::eval_path>(eval_path)
      .handle<Action::compare>(compare)
      .handle<Action::at>(at)
      .handle<Action::change>(change)
      .handle<Action::copy>(copy)
      .handle<Action::length_q>(length_q)
      .handle<Action::next>(next)
      .handle<Action::pick>(pick)
      .handle<Action::poke>(poke)
      .handle<Action::skip>(skip)
      .handle<Action::tail>(tail)
      .handle<Action::tail_q>(tail_q);
  record.inherit({Action::back, Action::head, Action::head_q, Action::index_q, Action::modify});
  register_datatype(record);
}

}  // namespace kel::image
