// handle! (see handle.h).
#include "datatypes/handle.h"

#include <string>

#include "datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/datatype_registry.h"
#include "runtime/series_tail.h"

namespace kel::handle {

namespace {
// The names of the handle classes, by class - 1.
constexpr const char* kClassNames[] = {"window"};
constexpr uint32_t kClassCount = sizeof(kClassNames) / sizeof(kClassNames[0]);

// Eight hexadecimal digits and "h": nine characters.
int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
  std::string text = string::to_hex(static_cast<int32_t>(value->data2), false) + "h";
  string::concatenate_literal(buffer, text.c_str());
  return part - static_cast<int32_t>(text.size());
}

int32_t mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell* arg, int32_t part, int32_t) {
  if (!all) {
    string::concatenate_literal(buffer, "handle!");
    return part - 7;
  }
  string::concatenate_literal(buffer, "#[handle! ");
  part = form(value, buffer, arg, part - 10);
  uint32_t handle_class = value->data1;
  if (handle_class > 0 && handle_class <= kClassCount) {
    std::string name = std::string(" ") + kClassNames[handle_class - 1];
    string::concatenate_literal(buffer, name.c_str());
    part -= static_cast<int32_t>(name.size());
  }
  string::concatenate_literal(buffer, "]");
  return part - 1;
}

// Any other value ranks below a handle; handles rank by their values.
int32_t compare(Cell* value1, Cell* value2, int32_t) {
  if (!value2->is(TYPE_HANDLE)) return 1;
  auto a = static_cast<int32_t>(value1->data2), b = static_cast<int32_t>(value2->data2);
  return a < b ? -1 : a > b ? 1 : 0;
}
}  // namespace

Cell* box(uint32_t value, uint32_t handle_class) { return stack::set_result(make_value(value, handle_class)); }

Cell* make_in_block(const Cell* block, uint32_t value, uint32_t handle_class) {
  return append_value(block, make_value(value, handle_class));
}

Cell* push_null() { return stack::push(make_value(0, 0)); }

void init() {
  DatatypeRecord record(TYPE_HANDLE, TYPE_INTEGER, "handle!");
  record.handle<Action::form>(form).handle<Action::mold>(mold).handle<Action::compare>(compare);
  register_datatype(record);
}

}  // namespace kel::handle
