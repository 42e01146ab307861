// ref!: the "@" text form (see ref.h).
#include "datatypes/ref.h"

#include "datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/datatype_registry.h"

namespace kel::ref {

Cell* push(const Cell& ref) { return stack::push(ref); }

Cell* load(const uint8_t* bytes, uint32_t length) {
  Cell* cell = string::load_cstr(reinterpret_cast<const char*>(bytes), length, string::kEncodingUtf8);
  cell->set_type(TYPE_REF);
  return cell;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* arg, int32_t part, int32_t) {
  string::concatenate_literal(buffer, "@");
  return action_handler<Action::form>(TYPE_STRING)(value, buffer, arg, part - 1);
}

void init() {
  DatatypeRecord record(TYPE_REF, TYPE_STRING, "ref!");
  record.handle<Action::mold>(mold);
  record.inherit({Action::make, Action::reflect, Action::to, Action::form, Action::compare, Action::at, Action::back,
                  Action::change, Action::clear, Action::copy, Action::find, Action::head, Action::head_q,
                  Action::index_q, Action::insert, Action::length_q, Action::move, Action::next, Action::pick,
                  Action::poke, Action::remove, Action::reverse, Action::select, Action::skip, Action::swap,
                  Action::tail, Action::tail_q, Action::take, Action::modify});
  register_datatype(record);
}

}  // namespace kel::ref
