// native!, action! and op! (see native.h).
#include "datatypes/native.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/actions.h"
#include "runtime/stack.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "datatypes/runtime_words.h"
#include "runtime/upcalls.h"
#include "runtime/native_numbers.h"

namespace kel::native {

namespace {
constexpr uint32_t kActionSlots = 62;
struct Interface {
  bool registered = false;
  std::vector<Cell> entries;
};
// The registered interfaces, natives by number then actions by slot (index
// 0 unused in each).
Interface native_interfaces[natives::kTableSize + 1];
Interface action_interfaces[kActionSlots + 1];

Interface* interface_slot(TypeId type, uint32_t number) {
  if (type == TYPE_NATIVE && number >= 1 && number <= natives::kTableSize) return &native_interfaces[number];
  if (type == TYPE_ACTION && number >= 1 && number <= kActionSlots) return &action_interfaces[number];
  return nullptr;
}
}  // namespace

void register_interface(TypeId type, uint32_t number, std::vector<Cell> shape) {
  Interface* slot = interface_slot(type, number);
  if (slot == nullptr) return;
  slot->registered = true;
  slot->entries = std::move(shape);
}

const std::vector<Cell>* registered_interface(TypeId type, uint32_t number) {
  Interface* slot = interface_slot(type, number);
  return slot != nullptr && slot->registered ? &slot->entries : nullptr;
}

bool known_number(TypeId type, uint32_t number) { return interface_slot(type, number) != nullptr; }

Cell* push(TypeId type, const Cell* spec, uint32_t number) {
  Cell* result = stack::push(make_cell(TYPE_NONE));
  NodeId context = context::make_from_words(spec, true, false, context::kFunctionKind);
  stack::push(*context::cell(context));  // keeps the context reachable
  NodeId info = memory::alloc_cells(2);
  SeriesBuffer* b = memory::buffer_of(info);
  b->cells()[kInfoContext] = *context::cell(context);
  b->cells()[kInfoCache] = none::value;
  b->tail = 2 * sizeof(Cell);
  *result = make_cell(type, number, spec->data2, info);
  stack::top = result + 1;
  return result;
}

NodeId context_of(const Cell& value) {
  if (value.is(TYPE_FUNCTION) || value.is(TYPE_ROUTINE)) return function::context_of(value);
  return memory::buffer_of(value.data3)->cells()[kInfoContext].data3;
}

Cell make_op(const Cell& source) {
  Cell op = source;
  op.header = (source.type() << 16) | TYPE_OP;
  return op;
}

bool op_spec_check(const Cell* spec) {
  NodeId node = spec->data2;
  uint32_t length = memory::buffer_of(node)->cell_count();
  int arguments = 0;
  bool plain_seen = false;
  for (uint32_t i = spec->data1; i < length; ++i) {
    Cell item = memory::buffer_of(node)->cells()[i];
    switch (item.type()) {
      case TYPE_WORD:
        ++arguments;
        plain_seen = true;
        break;
      case TYPE_LIT_WORD:
      case TYPE_GET_WORD:
        if (!plain_seen) return false;
        ++arguments;
        break;
      case TYPE_SET_WORD:
        return arguments == 2;
      case TYPE_REFINEMENT: {
        uint32_t symbol = symbol::resolve(word::symbol_of(item));
        bool allowed = symbol == symbol::resolve(runtime_words::local) ||
                       symbol == symbol::resolve(word::symbol_of(runtime_words::extern_refinement));
        return allowed && arguments == 2;
      }
      default:
        break;
    }
  }
  return arguments == 2;
}

namespace {
// make native! / make action!: [spec number].
Cell* make_builtin(Cell* proto, Cell* spec, TypeId type) {
  uint32_t highest = type == TYPE_NATIVE ? natives::kTableSize : kActionSlots;
  bool valid = spec->is(TYPE_BLOCK) && block::rs_length(spec) == 2;
  Cell* items = valid ? block::rs_head(spec) : nullptr;
  if (valid) valid = items[0].is(TYPE_BLOCK) && items[1].is(TYPE_INTEGER) && items[1].int_at2() >= 1 &&
                     static_cast<uint32_t>(items[1].int_at2()) <= highest;
  if (valid && type == TYPE_NATIVE) valid = natives::valid(static_cast<uint32_t>(items[1].int_at2()));
  // A number the boot bound no word to (an empty native slot, the action
  // slots only the interpreter calls) has no interface to hold a new one to.
  if (valid) valid = registered_interface(type, static_cast<uint32_t>(items[1].int_at2())) != nullptr;
  if (!valid) fire(ErrorId::script_bad_make_arg, proto, spec);
  Cell block = items[0];
  uint32_t number = static_cast<uint32_t>(items[1].int_at2());
  Cell* made = push(type, &block, number);
  // Building the argument cache now checks the interface against the
  // registered one (bad-func-def when their shapes differ).
  upcalls::table.argument_cache(*made);
  return stack::set_result(*made);
}

Cell* make_op_value(Cell* proto, Cell* spec, TypeId) {
  (void)proto;
  TypeId source = spec->type();
  if (source != TYPE_ACTION && source != TYPE_NATIVE && source != TYPE_FUNCTION && source != TYPE_ROUTINE) {
    Cell type = make_cell(TYPE_DATATYPE, source);
    fire(ErrorId::script_invalid_type, &type);
  }
  Cell spec_block = block::make_value(spec->data2);
  if (!op_spec_check(&spec_block)) fire(ErrorId::script_bad_op_spec);
  Cell op = make_op(*spec);
  if (source == TYPE_FUNCTION || source == TYPE_ROUTINE) *function::info(*spec, function::kInfoOp) = *spec;
  return stack::set_result(op);
}

Cell* reflect(Cell* value, int field) {
  uint32_t symbol = symbol::resolve(static_cast<uint32_t>(field));
  if (symbol == symbol::resolve(runtime_words::spec)) return stack::set_result(block::make_value(value->data2));
  if (symbol == symbol::resolve(runtime_words::body)) {
    TypeId source = value->is(TYPE_OP) ? op_source_type(*value) : value->type();
    if (source == TYPE_FUNCTION || source == TYPE_ROUTINE)
      return stack::set_result(*function::info(*value, function::kInfoBody));
    return stack::set_result(integer::make(static_cast<int32_t>(value->data1)));
  }
  fire(ErrorId::internal_not_done);
}

int32_t form_text(Cell* buffer, const char* text, int32_t part) {
  string::concatenate_literal(buffer, text);
  int32_t n = 0;
  while (text[n]) ++n;
  return part - n;
}
int32_t form_native(Cell*, Cell* buffer, Cell*, int32_t part) { return form_text(buffer, "?native?", part); }
int32_t form_action(Cell*, Cell* buffer, Cell*, int32_t part) { return form_text(buffer, "?action?", part); }
int32_t form_op(Cell*, Cell* buffer, Cell*, int32_t part) { return form_text(buffer, "?op?", part); }

int32_t mold_spec(Cell* value, Cell* buffer, bool all, bool flat, Cell* arg, int32_t part, int32_t indent) {
  Cell* spec = stack::push(block::make_value(value->data2));
  int32_t left = actions::mold(spec, buffer, false, all, flat, arg, part, indent);
  stack::pop(1);
  return left;
}

int32_t mold_builtin(Cell* value, Cell* buffer, bool, bool all, bool flat, Cell* arg, int32_t part,
                     int32_t indent) {
  part = form_text(buffer, value->is(TYPE_NATIVE) ? "make native! [" : "make action! [", part);
  part = mold_spec(value, buffer, all, flat, arg, part, indent);
  return form_text(buffer, "]", part);
}

int32_t mold_op(Cell* value, Cell* buffer, bool, bool all, bool flat, Cell* arg, int32_t part, int32_t indent) {
  part = form_text(buffer, "make op! ", part);
  TypeId source = op_source_type(*value);
  Cell body = source == TYPE_FUNCTION ? *function::info(*value, function::kInfoBody) : none::value;
  if (source == TYPE_FUNCTION && body.is(TYPE_BLOCK)) {
    part = form_text(buffer, "func ", part);
    part = mold_spec(value, buffer, all, flat, arg, part, indent);
    Cell* body_cell = stack::push(body);
    part = actions::mold(body_cell, buffer, false, all, flat, arg, part, indent);
    stack::pop(1);
    return part;
  }
  part = form_text(buffer, "[", part);
  part = mold_spec(value, buffer, all, flat, arg, part, indent);
  return form_text(buffer, "]", part);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
  if (value2->type() != value1->type()) return kNotComparable;
  if (!is_equality_or_sort(op)) return kNotComparable;
  auto a = static_cast<int32_t>(value1->data1), b = static_cast<int32_t>(value2->data1);
  return a < b ? -1 : a > b ? 1 : 0;
}
}  // namespace

void init_native() {
  DatatypeRecord record(TYPE_NATIVE, 0, "native!");
  record.handle<Action::make>(make_builtin)
      .handle<Action::reflect>(reflect)
      .handle<Action::form>(form_native)
      .handle<Action::mold>(mold_builtin)
      .handle<Action::compare>(compare);
  register_datatype(record);
}

void init_action() {
  DatatypeRecord record(TYPE_ACTION, TYPE_NATIVE, "action!");
  record.handle<Action::make>(make_builtin)
      .inherit(Action::reflect)
      .handle<Action::form>(form_action)
      .handle<Action::mold>(mold_builtin)
      .handle<Action::compare>(compare);
  register_datatype(record);
}

void init_op() {
  DatatypeRecord record(TYPE_OP, TYPE_NATIVE, "op!");
  record.handle<Action::make>(make_op_value)
      .inherit(Action::reflect)
      .handle<Action::form>(form_op)
      .handle<Action::mold>(mold_op)
      .handle<Action::compare>(compare);
  register_datatype(record);
}

}  // namespace kel::native
