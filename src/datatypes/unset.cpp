// unset!: form writes nothing, mold "unset" (mold/all "#(unset)"); make and
// to give unset whatever the argument; unset equals only unset.
#include "datatypes/unset.h"

#include "datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/datatype_registry.h"
#include "runtime/series_tail.h"

namespace kel::unset {

const Cell value = make_cell(TYPE_UNSET);

Cell* set_result() { return stack::set_result(value); }

Cell* make_in(const Cell* block) { return append_value(block, value); }

Cell* push() { return stack::push(value); }

namespace {
Cell* make(Cell*, Cell*, TypeId) { return set_result(); }

int32_t form(Cell*, Cell*, Cell*, int32_t part) { return part; }

int32_t mold(Cell*, Cell* buffer, bool, bool all, bool, Cell*, int32_t part, int32_t) {
  const char* text = all ? "#(unset)" : "unset";
  string::concatenate_literal(buffer, text);
  return part - (all ? 8 : 5);
}

int32_t compare(Cell*, Cell* value2, int32_t op) {
  return value2->is(TYPE_UNSET) && is_equality_or_sort(op) ? 0 : kNotComparable;
}
}  // namespace

void init() {
  DatatypeRecord record(TYPE_UNSET, 0, "unset!");
  record.handle<Action::make>(make)
      .handle<Action::to>(make)
      .handle<Action::form>(form)
      .handle<Action::mold>(mold)
      .handle<Action::compare>(compare);
  register_datatype(record);
}

}  // namespace kel::unset
