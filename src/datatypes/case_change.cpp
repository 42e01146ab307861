// Changing the case of a value in place (see case_change.h).
#include "datatypes/case_change.h"

#include <algorithm>

#include "datatypes/ownership.h"
#include "datatypes/runtime_words.h"
#include "datatypes/string.h"
#include "runtime/case_folding.h"
#include "runtime/errors.h"
#include "runtime/string_units.h"

namespace kel::case_folding {

namespace {

[[noreturn]] void reject_part(const Cell* part) {
  Cell refinement = runtime_words::part_refinement;
  fire(ErrorId::script_invalid_refine_arg, &refinement, part);
}

// The number of characters to change from index, given available characters
// up to the tail.
uint32_t part_count(const Cell* value, const Cell* part, uint32_t available) {
  if (part == nullptr) return available;
  int64_t requested;
  if (part->is(TYPE_INTEGER)) {
    requested = part->int_at2();
  } else if (part->type() == value->type() && part->data2 == value->data2) {
    requested = int64_t{part->data1} - int64_t{value->data1};
  } else {
    reject_part(part);
  }
  return static_cast<uint32_t>(std::clamp<int64_t>(requested, 0, available));
}

}  // namespace

Cell* change_case(Cell* value, const Cell* part, bool upper) {
  if (value->is(TYPE_CHAR)) {
    value->data2 = change_char(value->data2, upper);
    return value;
  }

  SeriesBuffer* buffer = string::buffer_of(value);
  uint32_t unit = buffer->unit();
  // Checked before the unit divides anything.
  if (unit != 1 && unit != 2 && unit != 4) unicode::bad_unit();
  uint32_t length = buffer->used() / unit;
  if (value->data1 > length) value->data1 = length;
  uint32_t index = value->data1;
  uint32_t end = index + part_count(value, part, length - index);

  // A widening moves the content and changes the unit, so the byte position
  // is recomputed from the character position on every step.
  for (uint32_t position = index; position < end; ++position) {
    unit = buffer->unit();
    uint32_t byte_position = buffer->offset + position * unit;
    uint32_t code_point = unicode::get_char(buffer->data() + byte_position, unit);
    uint32_t mapped = change_char(code_point, upper);
    if (mapped != code_point) buffer = string::poke_char(buffer, byte_position, mapped);
  }
  // The owner hears of the change once it is made (uppercase and lowercase
  // have no past form).
  if (ownership::series_owned(*value)) {
    ownership::check(*value, upper ? runtime_words::uppercase : runtime_words::lowercase, nullptr,
                     static_cast<int32_t>(index), static_cast<int32_t>(end - index));
  }
  return value;
}

}  // namespace kel::case_folding
