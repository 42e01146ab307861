// paren!: the parenthesised block (see paren.h). Its form is the block form;
// its comparison is the block comparison.
#include "datatypes/paren.h"

#include "datatypes/block.h"
#include "datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/cycles.h"
#include "runtime/datatype_registry.h"

namespace kel::paren {

Cell* push(const Cell& cell) { return stack::push_as(cell, TYPE_PAREN); }

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent) {
  if (cycles::detect(*value, buffer, &part, true)) return part;
  if (!only) {
    string::concatenate_literal(buffer, "(");
    --part;
  }
  part = block::mold_each(value, buffer, only, all, flat, arg, part, indent);
  if (!only) {
    string::concatenate_literal(buffer, ")");
    --part;
  }
  return part;
}

void init() {
  DatatypeRecord record(TYPE_PAREN, TYPE_BLOCK, "paren!");
  record.handle<Action::mold>(mold).inherit_rest();
  record.entries[static_cast<int>(Action::trim) - 1] = ActionEntry{};
  register_datatype(record);
}

}  // namespace kel::paren
