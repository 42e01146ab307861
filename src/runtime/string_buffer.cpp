// String buffers (see string_buffer.h).
#include "runtime/string_buffer.h"

#include <cstring>

#include "runtime/stack.h"
#include "runtime/string_units.h"
#include "runtime/series_tail.h"
#include "runtime/unicode.h"

namespace kel::string {

namespace detail {
uint32_t checked_unit(const SeriesBuffer* buffer) {
  uint32_t unit = buffer->unit();
  if (unit != 1 && unit != 2 && unit != 4) unicode::bad_unit();
  return unit;
}
}  // namespace detail

using detail::checked_unit;

Cell* rs_make_at(Cell* cell, uint32_t capacity) {
  NodeId node = memory::alloc_codepoints(capacity == 0 ? 1 : capacity, 1);
  *cell = make_value(node);
  return cell;
}

Cell* load_at(Cell* cell, uint32_t length, uint32_t unit) {
  NodeId node = memory::alloc_codepoints(length, unit);
  *cell = make_value(node);
  return cell;
}

Cell* push_new(uint32_t capacity) {
  Cell* cell = stack::push_slot();
  return rs_make_at(cell, capacity);
}

void concatenate_literal(Cell* s, const char* text) {
  concatenate_literal_part(s, text, static_cast<uint32_t>(std::strlen(text)));
}

void concatenate_literal_part(Cell* s, const char* bytes, uint32_t count) {
  SeriesBuffer* b = buffer_of(s);
  uint32_t unit = checked_unit(b);
  uint8_t* p = alloc_tail_unit(&b, count * unit);
  if (unit == 1) {
    std::memcpy(p, bytes, count);
  } else {
    for (uint32_t i = 0; i < count; ++i) unicode::put_char(p + i * unit, unit, static_cast<uint8_t>(bytes[i]));
  }
}

void append_utf8(Cell* s, std::string_view utf8) {
  unicode::load_utf8_into(reinterpret_cast<const uint8_t*>(utf8.data()),
                          static_cast<uint32_t>(utf8.size()), s, false);
}

std::string to_std_string(const Cell& s) {
  SeriesBuffer* b = buffer_of(&s);
  uint32_t unit = checked_unit(b);
  std::string out;
  uint8_t bytes[4];
  for (uint8_t* p = b->head_ptr() + index_of(&s) * unit; p < b->tail_ptr(); p += unit) {
    int32_t n = unicode::encode_char(unicode::get_char(p, unit), bytes);
    out.append(reinterpret_cast<char*>(bytes), static_cast<size_t>(n));
  }
  return out;
}


}  // namespace kel::string

namespace kel {

void mold_indent(Cell* buffer, int32_t level) {
  for (int32_t i = 0; i < level; ++i) string::concatenate_literal(buffer, "    ");
}

}  // namespace kel
