// none!: form and mold "none" (mold/all "#(none)"); none equals only none and
// has no order; as an empty series it answers none to clear, find, remove,
// select, take and length?.
#include "datatypes/none.h"

#include "datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/datatype_registry.h"
#include "runtime/series_tail.h"

namespace kel::none {

const Cell value = make_cell(TYPE_NONE);

Cell* set_result() { return stack::set_result(value); }

Cell* make_in(const Cell* block) { return append_value(block, value); }

Cell* push() { return stack::push(value); }

namespace {
Cell* make(Cell*, Cell*, TypeId) { return set_result(); }

int32_t form(Cell*, Cell* buffer, Cell*, int32_t part) {
  string::concatenate_literal(buffer, "none");
  return part - 4;
}

int32_t mold(Cell*, Cell* buffer, bool, bool all, bool, Cell*, int32_t part, int32_t) {
  string::concatenate_literal(buffer, all ? "#(none)" : "none");
  return part - (all ? 7 : 4);
}

int32_t compare(Cell*, Cell* value2, int32_t op) {
  return value2->is(TYPE_NONE) && is_equality_or_sort(op) ? 0 : kNotComparable;
}

Cell* clear(Cell*) { return set_result(); }
Cell* find(Cell*, Cell*, int, int, int, int, int, int, int, int, int, int, int) { return set_result(); }
int32_t length(Cell*) { return -1; }
Cell* remove(Cell*, int, int) { return set_result(); }
Cell* select(Cell*, Cell*, int, int, int, int, int, int, int, int, int) { return set_result(); }
Cell* take(Cell*, int, int, int) { return set_result(); }
}  // namespace

void init() {
  DatatypeRecord record(TYPE_NONE, 0, "none!");
  record.handle<Action::make>(make)
      .handle<Action::to>(make)
      .handle<Action::form>(form)
      .handle<Action::mold>(mold)
      .handle<Action::compare>(compare)
      .handle<Action::clear>(clear)
      .handle<Action::find>(find)
      .handle<Action::length_q>(length)
      .handle<Action::remove>(remove)
      .handle<Action::select>(select)
      .handle<Action::take>(take);
  register_datatype(record);
}

}  // namespace kel::none
