// The path family (see path.h): construction, conversion and the slash
// forms. Form and mold walk the elements from the index with "/" between
// two of them (each slash costs one unit of the part limit), with the path's
// node on the cycle stack, so a path met inside itself shows as "...", of
// whichever kind it is (no quote or colon around it).
#include "datatypes/path.h"

#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/actions.h"
#include "runtime/stack.h"
#include "runtime/cycles.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "datatypes/argument_checks.h"

namespace kel::path {

namespace {

// Writes the elements with a slash between two of them; form or mold each.
int32_t write_elements(Cell* value, Cell* buffer, bool molding, bool only, bool all, bool flat,
                       Cell* arg, int32_t part) {
  if (cycles::detect(*value, buffer, &part, molding)) return part;
  cycles::Entry entry(value->data2);
  uint32_t length = block::buffer_of(value)->cell_count();
  for (uint32_t i = value->data1; i < length; ++i) {
    if (part <= 0) return part;
    if (i != value->data1) {
      string::concatenate_literal(buffer, "/");
      --part;
    }
    Cell element = block::buffer_of(value)->cells()[i];
    part = molding ? actions::mold(&element, buffer, only, all, flat, arg, part, 0)
                   : actions::form(&element, buffer, arg, part);
  }
  return part;
}

void unsupport(DatatypeRecord& record, Action action) {
  record.entries[static_cast<int>(action) - 1] = ActionEntry{};
}

}  // namespace

Cell* push(const Cell& cell) { return stack::push_as(cell, TYPE_PATH); }

Cell* make_at(Cell* cell, int32_t capacity) {
  block::make_at(cell, capacity);
  cell->set_type(TYPE_PATH);
  return cell;
}

Cell* make(Cell* proto, Cell* spec, TypeId type) {
  switch (spec->type()) {
    case TYPE_INTEGER:
    case TYPE_FLOAT:
    case TYPE_PERCENT: {
      Cell* made = block::push_only(number_to_integer(*spec));
      made->set_type(type);
      return stack::set_result(*made);
    }
    default:
      if (!series::is_block_kind(spec->type())) {
        Cell wanted = datatype::make(type);
        fire(ErrorId::script_bad_make_arg, &wanted, spec);
      }
      return block::to(proto, spec, type);
  }
}

Cell* to(Cell* proto, Cell* spec, TypeId type) {
  switch (spec->type()) {
    case TYPE_OBJECT:
    case TYPE_TYPESET:
    case TYPE_MAP: {
      Cell value = *spec;
      Cell* made = block::push_only(1);
      block::rs_append(made, value);
      made->set_type(type);
      return stack::set_result(*made);
    }
    default: return block::to(proto, spec, type);
  }
}

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
  return write_elements(value, buffer, false, false, false, false, arg, part);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t) {
  return write_elements(value, buffer, true, only, all, flat, arg, part);
}

Cell* copy(Cell* value, Cell* result, int part, int deep, int types) {
  return block::copy(value, result, part, deep, types);
}

void init() {
  DatatypeRecord record(TYPE_PATH, TYPE_BLOCK, "path!");
  record.handle<Action::make>(make)
      .handle<Action::to>(to)
      .handle<Action::form>(form)
      .handle<Action::mold>(mold)
      .handle<Action::copy>(copy)
      .inherit_rest();
  unsupport(record, Action::random);
  unsupport(record, Action::sort);
  unsupport(record, Action::trim);
  register_datatype(record);
}

}  // namespace kel::path

namespace kel::lit_path {

Cell* push(const Cell& cell) { return stack::push_as(cell, TYPE_LIT_PATH); }

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent) {
  if (cycles::detect(*value, buffer, &part, true)) return part;  // the ellipsis alone, no quote
  string::concatenate_literal(buffer, "'");
  return path::mold(value, buffer, only, all, flat, arg, part - 1, indent);
}

void init() {
  DatatypeRecord record(TYPE_LIT_PATH, TYPE_PATH, "lit-path!");
  record.handle<Action::mold>(mold).inherit_rest();
  register_datatype(record);
}

}  // namespace kel::lit_path

namespace kel::set_path {

Cell* push(const Cell& cell) { return stack::push_as(cell, TYPE_SET_PATH); }

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent) {
  if (cycles::detect(*value, buffer, &part, true)) return part;  // the ellipsis alone, no colon
  part = path::mold(value, buffer, only, all, flat, arg, part, indent);
  string::concatenate_literal(buffer, ":");
  return part - 1;
}

void init() {
  DatatypeRecord record(TYPE_SET_PATH, TYPE_PATH, "set-path!");
  record.handle<Action::mold>(mold).inherit_rest();
  register_datatype(record);
}

}  // namespace kel::set_path

namespace kel::get_path {

Cell* push(const Cell& cell) { return stack::push_as(cell, TYPE_GET_PATH); }

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent) {
  if (cycles::detect(*value, buffer, &part, true)) return part;  // the ellipsis alone, no colon
  string::concatenate_literal(buffer, ":");
  return path::mold(value, buffer, only, all, flat, arg, part - 1, indent);
}

void init() {
  DatatypeRecord record(TYPE_GET_PATH, TYPE_PATH, "get-path!");
  record.handle<Action::mold>(mold).inherit_rest();
  register_datatype(record);
}

}  // namespace kel::get_path
