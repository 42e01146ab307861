// triple!: its constructor and its one text (see triple.h).
#include "datatypes/triple.h"

#include <string>

#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "runtime/datatype_registry.h"

namespace kel::triple {

Cell* set_cell(Cell* cell, int32_t first, int32_t second, int32_t third) {
  uint32_t new_line = cell->header & flags::kNewLine;
  *cell = make(first, second, third);
  cell->header |= new_line;
  return cell;
}

namespace {

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
  std::string text = "make triple! [";
  text += integer::form_signed(static_cast<int32_t>(value->data1)).view();
  text += ' ';
  text += integer::form_signed(static_cast<int32_t>(value->data2)).view();
  text += ' ';
  text += integer::form_signed(static_cast<int32_t>(value->data3)).view();
  text += ']';
  string::concatenate_literal_part(buffer, text.data(), static_cast<uint32_t>(text.size()));
  return part - static_cast<int32_t>(text.size());
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* arg, int32_t part, int32_t) {
  return form(value, buffer, arg, part);
}

}  // namespace

void init() {
  DatatypeRecord record(TYPE_TRIPLE, 0, "triple!");
  record.handle<Action::form>(form).handle<Action::mold>(mold);
  register_datatype(record);
}

}  // namespace kel::triple
