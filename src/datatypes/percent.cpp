// percent!: its constructors, form and mold; every other action is float!'s.
#include "datatypes/percent.h"

#include "datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/datatype_registry.h"
#include "runtime/series_tail.h"

namespace kel::percent {

Cell* set_cell(Cell* cell, double fraction) {
  cell->set_type(TYPE_PERCENT);
  cell->set_double(fraction);
  return cell;
}

Cell* make_in_block(const Cell* block, double fraction) { return append_value(block, make(fraction)); }

Cell* box(double fraction) { return stack::set_result(make(fraction)); }

Cell* push(double fraction) { return stack::push(make(fraction)); }

Cell* push64(uint32_t low, uint32_t high) { return stack::push(make_cell(TYPE_PERCENT, 0, low, high)); }

float_type::FloatText mold_text(double fraction) {
  // Moving the decimal point of the fraction's shortest digits is exact, and
  // the reader applies the same two-place shift when it reads the text back.
  float_type::Digits digits = float_type::to_digits(fraction, 0, false);
  if (digits.position < float_type::kZeroPosition) digits.position += 2;
  float_type::FloatText text = float_type::form_digits(digits, false);
  if (digits.position != float_type::kSpecialPosition) {
    text.text[text.length++] = '%';
    text.text[text.length] = '\0';
  }
  return text;
}

namespace {

int32_t append_text(Cell* buffer, const float_type::FloatText& text, int32_t part) {
  string::concatenate_literal_part(buffer, text.text, static_cast<uint32_t>(text.length));
  return part - text.length;
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
  return append_text(buffer, float_type::form_float(value->as_double() * 100.0, float_type::kFormPercent),
                     part);
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell*, int32_t part, int32_t) {
  return append_text(buffer, mold_text(value->as_double()), part);
}

}  // namespace

void init() {
  DatatypeRecord record(TYPE_PERCENT, TYPE_FLOAT, "percent!");
  record.handle<Action::form>(form).handle<Action::mold>(mold).inherit_rest();
  register_datatype(record);
}

}  // namespace kel::percent
