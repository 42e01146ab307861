// tag!: the angle-bracket text form (see tag.h).
#include "datatypes/tag.h"

#include "datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/datatype_registry.h"

namespace kel::tag {

Cell* push(const Cell& tag) { return stack::push(tag); }

Cell* load(const uint8_t* bytes, uint32_t length) {
  Cell* cell = string::load_cstr(reinterpret_cast<const char*>(bytes), length, string::kEncodingUtf8);
  cell->set_type(TYPE_TAG);
  return cell;
}

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
  string::concatenate_literal(buffer, "<");
  part = action_handler<Action::form>(TYPE_STRING)(value, buffer, arg, part - 1);
  string::concatenate_literal(buffer, ">");
  return part - 1;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* arg, int32_t part, int32_t) {
  return form(value, buffer, arg, part);
}

void init() {
  DatatypeRecord record(TYPE_TAG, TYPE_STRING, "tag!");
  record.handle<Action::form>(form).handle<Action::mold>(mold);
  record.inherit(string::kInheritedSeriesActions)
      .inherit({Action::make, Action::reflect, Action::to, Action::eval_path, Action::compare});
  register_datatype(record);
}

}  // namespace kel::tag
