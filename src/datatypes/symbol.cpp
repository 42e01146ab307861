// symbol! records as a datatype (see symbol.h).
#include "datatypes/symbol.h"

#include "runtime/action_slots.h"
#include "runtime/datatype_registry.h"

namespace kel::symbol {

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
  if (!value2->is(TYPE_SYMBOL)) return kNotComparable;
  return compare_text(record_name(*value1), record_name(*value2), op);
}

void init() {
  DatatypeRecord record(TYPE_SYMBOL, 0, "symbol!");
  record.handle<Action::compare>(compare);
  register_datatype(record);
}

}  // namespace kel::symbol
