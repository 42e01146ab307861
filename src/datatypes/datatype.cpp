// datatype!: names a datatype; form writes the name without its "!", mold
// with it, mold/all in construction syntax #(name!). Datatypes compare only
// for equality.
#include "datatypes/datatype.h"

#include "datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/datatype_registry.h"
#include "runtime/series_tail.h"

namespace kel::datatype {

Cell* make_in(const Cell* block, TypeId type) { return append_value(block, make(type)); }

Cell* push(TypeId type) { return stack::push(make(type)); }

namespace {
int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
  const TypeName& name = type_name(value->data1);
  string::concatenate_literal_part(buffer, name.name, name.length);
  return part - static_cast<int32_t>(name.length);
}

int32_t mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell*, int32_t part, int32_t) {
  const TypeName& name = type_name(value->data1);
  int32_t length = static_cast<int32_t>(name.length) + 1;
  if (all) string::concatenate_literal(buffer, "#(");
  string::concatenate_literal_part(buffer, name.name, name.length + 1);
  if (all) {
    string::concatenate_literal(buffer, ")");
    length += 3;
  }
  return part - length;
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
  if (!is_plain_equality(op)) return kNotComparable;
  return value2->is(TYPE_DATATYPE) && value2->data1 == value1->data1 ? 0 : 1;
}
}  // namespace

void init() {
  DatatypeRecord record(TYPE_DATATYPE, 0, "datatype!");
  record.handle<Action::form>(form).handle<Action::mold>(mold).handle<Action::compare>(compare);
  register_datatype(record);
}

}  // namespace kel::datatype
