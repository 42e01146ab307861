// unset!: form writes nothing, mold "unset" (mold/all "#(unset)"); make and
// to give unset whatever the spec; unset equals only unset.
#include "datatypes/unset.h"

#include "datatypes/string.h"
#include "evaluator/stack.h"
#include "runtime/datatype_registry.h"
#include "runtime/support.h"

namespace kel::unset {

const Cell value = make_cell(TYPE_UNSET);

Cell* set_result() {
  *stack::arguments() = value;
  return stack::arguments();
}

Cell* make_in(const Cell* block) {
  Cell* cell = alloc_tail_cell(block);
  *cell = value;
  return cell;
}

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
  if (!value2->is(TYPE_UNSET)) return kNotComparable;
  switch (op) {
    case kCmpEqual:
    case kCmpNotEqual:
    case kCmpStrictEqual:
    case kCmpSame:
    case kCmpFind:
    case kCmpSort:
    case kCmpCaseSort:
      return 0;
    default:
      return kNotComparable;
  }
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
