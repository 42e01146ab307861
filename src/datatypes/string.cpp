// string! low-level routines (see string.h).
#include "datatypes/string.h"

#include "evaluator/stack.h"
#include "runtime/string_units.h"
#include "runtime/support.h"
#include "runtime/unicode.h"

namespace kel::string {

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

uint32_t rs_length(const Cell* s) {
  SeriesBuffer* b = buffer_of(s);
  uint32_t unit = b->unit();
  uint32_t length = b->used() / unit;
  return s->data1 >= length ? 0 : length - s->data1;
}

uint32_t rs_abs_at(const Cell* s, uint32_t position) {
  SeriesBuffer* b = buffer_of(s);
  return unicode::get_char(b->head_ptr() + position * b->unit(), b->unit());
}

void rs_reset(Cell* s) {
  SeriesBuffer* b = buffer_of(s);
  b->set_unit(1);
  b->tail = b->offset;
  s->data1 = 0;
}

SeriesBuffer* append_char(SeriesBuffer* buffer, uint32_t code_point) {
  buffer = unicode::widen_for(buffer, code_point, 127);
  uint32_t unit = buffer->unit();
  uint8_t* p = alloc_tail_unit(&buffer, unit);
  unicode::put_char(p, unit, code_point);
  return buffer;
}

SeriesBuffer* poke_char(SeriesBuffer* buffer, uint32_t byte_position, uint32_t code_point) {
  uint32_t old_unit = buffer->unit();
  uint32_t index = (byte_position - buffer->offset) / old_unit;
  buffer = unicode::widen_for(buffer, code_point, 255);
  uint32_t unit = buffer->unit();
  unicode::put_char(buffer->head_ptr() + index * unit, unit, code_point);
  return buffer;
}

void concatenate_literal(Cell* s, const char* text) {
  uint32_t count = 0;
  while (text[count]) ++count;
  concatenate_literal_part(s, text, count);
}

void concatenate_literal_part(Cell* s, const char* bytes, uint32_t count) {
  SeriesBuffer* b = buffer_of(s);
  uint32_t unit = b->unit();
  uint8_t* p = alloc_tail_unit(&b, count * unit);
  if (unit == 1) {
    for (uint32_t i = 0; i < count; ++i) p[i] = static_cast<uint8_t>(bytes[i]);
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
  uint32_t unit = b->unit();
  std::string out;
  uint8_t bytes[4];
  for (uint8_t* p = b->head_ptr() + s.data1 * unit; p < b->tail_ptr(); p += unit) {
    int32_t n = unicode::encode_char(unicode::get_char(p, unit), bytes);
    out.append(reinterpret_cast<char*>(bytes), static_cast<size_t>(n));
  }
  return out;
}

}  // namespace kel::string
