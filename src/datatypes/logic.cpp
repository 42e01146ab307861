// logic!: make from numbers (non-zero is true), to (none gives false, every
// other value true), form and mold, comparison for equality and sorting
// only, the bitwise and~ or~ xor~ and complement, and random.
#include "datatypes/logic.h"

#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/none.h"
#include "datatypes/unset.h"
#include "datatypes/string.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "runtime/series_tail.h"

namespace kel::logic {

const Cell true_value = make_cell(TYPE_LOGIC, 1);
const Cell false_value = make_cell(TYPE_LOGIC, 0);

Cell* box(bool flag) { return stack::set_result(make(flag)); }

Cell* make_in(const Cell* block, bool flag) { return append_value(block, make(flag)); }

Cell* push(bool flag) { return stack::push(make(flag)); }

bool value_true(const Cell& cell, bool check, const Cell* word) {
  switch (cell.type()) {
    case TYPE_NONE: return false;
    case TYPE_LOGIC: return cell.data1 != 0;
    case TYPE_UNSET:
      if (check) fire(ErrorId::script_no_value, word);
      return true;
    default: return true;
  }
}

bool true_q() {
  const Cell& result = *stack::arguments();
  if (result.is(TYPE_UNSET)) fire(ErrorId::script_no_return);
  return value_true(result, false, nullptr);
}

bool false_q() {
  const Cell& result = *stack::arguments();
  return result.is(TYPE_NONE) || (result.is(TYPE_LOGIC) && result.data1 == 0);
}

bool top_false() {
  const Cell* cell = stack::top > stack::arguments() ? stack::get_top() : stack::arguments();
  return cell->is(TYPE_NONE) || (cell->is(TYPE_LOGIC) && cell->data1 == 0);
}

namespace {
Cell* to(Cell* proto, Cell* spec, TypeId) {
  (void)proto;
  if (spec->is(TYPE_LOGIC)) return stack::set_result(Cell(*spec));
  return box(!spec->is(TYPE_NONE));
}

Cell* make_logic(Cell* proto, Cell* spec, TypeId type) {
  switch (spec->type()) {
    case TYPE_INTEGER: return box(spec->data2 != 0);
    case TYPE_FLOAT:
    case TYPE_PERCENT: return box(!(spec->as_double() == 0.0));
    default: return to(proto, spec, type);
  }
}

Cell* random(Cell* value, int seed, int secure, int) {
  if (seed >= 0) {
    random::seed(static_cast<int32_t>(value->data1));
    return unset::set_result();
  }
  int32_t r = secure >= 0 ? random::rand_secure() : random::rand();
  return box(r > 0x3FFFFFFF);
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
  bool flag = value->data1 != 0;
  string::concatenate_literal(buffer, flag ? "true" : "false");
  return part - (flag ? 4 : 5);
}

int32_t mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell*, int32_t part, int32_t) {
  bool flag = value->data1 != 0;
  if (all) string::concatenate_literal(buffer, "#(");
  string::concatenate_literal(buffer, flag ? "true" : "false");
  if (all) string::concatenate_literal(buffer, ")");
  return part - (flag ? 4 : 5) - (all ? 3 : 0);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
  if (!value2->is(TYPE_LOGIC) || !is_equality_or_sort(op)) return kNotComparable;
  return static_cast<int32_t>(value1->data1) - static_cast<int32_t>(value2->data1);
}

Cell* complement(Cell* value) {
  value->data1 ^= 1;
  return value;
}

// and~ or~ xor~ read both operands from the current frame.
Cell* bitwise(uint32_t (*operation)(uint32_t, uint32_t)) {
  Cell* first = stack::arguments();
  Cell* second = first + 1;
  if (!second->is(TYPE_LOGIC)) {
    Cell call = error_value::call_word();
    Cell type = datatype::make(second->type());
    Cell argument = error_value::call_argument_word(1);
    fire(ErrorId::script_expect_arg, &call, &type, &argument);
  }
  first->data1 = operation(first->data1, second->data1);
  return first;
}
Cell* and_t() { return bitwise([](uint32_t a, uint32_t b) { return a & b; }); }
Cell* or_t() { return bitwise([](uint32_t a, uint32_t b) { return a | b; }); }
Cell* xor_t() { return bitwise([](uint32_t a, uint32_t b) { return a ^ b; }); }
}  // namespace

void init() {
  DatatypeRecord record(TYPE_LOGIC, 0, "logic!");
  record.handle<Action::make>(make_logic)
      .handle<Action::random>(random)
      .handle<Action::to>(to)
      .handle<Action::form>(form)
      .handle<Action::mold>(mold)
      .handle<Action::compare>(compare)
      .handle<Action::and_t>(and_t)
      .handle<Action::complement>(complement)
      .handle<Action::or_t>(or_t)
      .handle<Action::xor_t>(xor_t);
  register_datatype(record);
}

}  // namespace kel::logic
