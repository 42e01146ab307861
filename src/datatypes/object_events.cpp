// Object change handlers: the `on-change*` and `on-deep-change*` fields of
// an object, the handler block that caches where they are, the two calls,
// and the set native's field-by-field assignment (see object.h).
//
// The handler block is built once, when the object is made or copied. A
// handler field assigned another function later keeps working (the cached
// local count follows the function's spec); a handler field added after
// creation is never called. Handlers are called through
// interpreter::call_value, so a break, return or throw that leaves a handler
// travels on as an exception and the assignment that fired it is already
// done; an error raised by `on-change*` undoes the assignment first
// (object::set_field). A handler field that holds no function is refused
// with the assignment standing: the fault is the handler's, not the
// value's.
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/errors.h"
#include "datatypes/ownership.h"
#include "datatypes/runtime_words.h"
#include "runtime/upcalls.h"

namespace kel::object {

namespace {
inline uint32_t canonical_of(const Cell& word) { return symbol::resolve(word::symbol_of(word)); }

// The number of frame slots a function keeps after its arguments: /local
// itself and each local word.
uint32_t count_locals(NodeId spec) {
  SeriesBuffer* b = memory::buffer_of(spec);
  uint32_t count = b->cell_count();
  for (uint32_t i = 0; i < count; ++i) {
    const Cell& item = b->cells()[i];
    if (item.is(TYPE_REFINEMENT) && canonical_of(item) == symbol::resolve(runtime_words::local)) {
      uint32_t locals = 1;
      for (uint32_t j = i + 1; j < count; ++j)
        if (b->cells()[j].is(TYPE_WORD)) ++locals;
      return locals;
    }
  }
  return 0;
}

Cell handler_cell(int32_t field_index, const Cell* function) {
  uint32_t index = field_index < 0 ? kNoHandler : static_cast<uint32_t>(field_index);
  uint32_t locals = 0;
  NodeId spec = 0;
  if (function != nullptr && (function->is(TYPE_FUNCTION) || function->is(TYPE_ROUTINE))) {
    spec = function->data2;
    locals = count_locals(spec);
  }
  return make_cell(TYPE_PAIR, 0, (index << 16) | (locals & 0xFFFF), spec);
}

// The field index a handler block cell records, or -1 when absent.
int32_t handler_index(NodeId handlers, uint32_t which) {
  if (handlers == 0) return -1;
  uint32_t index = memory::buffer_of(handlers)->cells()[which].data2 >> 16;
  return index == kNoHandler ? -1 : static_cast<int32_t>(index);
}

// Keeps the cached local count in step with the function now in the field.
void refresh_locals(NodeId handlers, uint32_t which, const Cell& function) {
  Cell* cached = memory::buffer_of(handlers)->cells() + which;
  if (cached->data3 == function.data2) return;
  uint32_t locals = count_locals(function.data2);
  cached = memory::buffer_of(handlers)->cells() + which;
  cached->data2 = (cached->data2 & 0xFFFF0000u) | (locals & 0xFFFF);
  cached->data3 = function.data2;
}

NodeId make_handler_block(int32_t on_change, const Cell* change_function, int32_t on_deep_change,
                          const Cell* deep_function) {
  Cell first = handler_cell(on_change, change_function);
  Cell second = handler_cell(on_deep_change, deep_function);
  NodeId block = memory::alloc_cells(2);
  SeriesBuffer* b = memory::buffer_of(block);
  b->cells()[0] = first;
  b->cells()[1] = second;
  b->tail = b->offset + 2 * sizeof(Cell);
  return block;
}

}  // namespace

void own_fields(const Cell& object) {
  NodeId context = context_of(object);
  uint32_t count = context::word_count(context);
  for (uint32_t i = 0; i < count; ++i) {
    Cell word = *context::word_at(context, i);
    uint32_t symbol = canonical_of(word);
    if (symbol == runtime_words::on_change_star || symbol == runtime_words::on_deep_change_star) continue;
    word.header = TYPE_WORD;
    Cell value = context::values_head(context)[i];
    ownership::set_owner(value, object, word);
  }
  context::cell(context)->header |= kOwnerFlag;
}

namespace {

// The function in a handler field, checked: a field that holds anything
// else raises invalid-obj-evt (on-change*) or is passed over.
bool handler_function(const Cell& object, uint32_t which, Cell* out, bool strict) {
  NodeId handlers = handlers_of(object);
  int32_t index = handler_index(handlers, which);
  if (index < 0) return false;
  Cell value = context::values_head(context_of(object))[index];
  if (!value.is(TYPE_FUNCTION)) {
    if (strict) fire(ErrorId::script_invalid_obj_evt, &value);
    return false;
  }
  refresh_locals(handlers, which, value);
  *out = value;
  return true;
}
}  // namespace

void install_handlers(Cell* object) {
  NodeId context = context_of(*object);
  int32_t on_change = context::find_word(context, runtime_words::on_change_star, true);
  int32_t on_deep_change = context::find_word(context, runtime_words::on_deep_change_star, true);
  if (on_change < 0 && on_deep_change < 0) {
    object->data3 = 0;
  } else {
    Cell functions[2] = {none::value, none::value};
    int32_t indexes[2] = {on_change, on_deep_change};
    for (int k = 0; k < 2; ++k) {
      if (indexes[k] < 0) continue;
      Cell value = context::values_head(context)[indexes[k]];
      if (!value.is(TYPE_FUNCTION)) {
        Cell word = *context::word_at(context, static_cast<uint32_t>(indexes[k]));
        word.header = TYPE_WORD;
        Cell type = datatype::make(value.type());
        fire(ErrorId::script_bad_field_set, &word, &type);
      }
      functions[k] = value;
    }
    object->data3 = make_handler_block(on_change, &functions[0], on_deep_change, &functions[1]);
    if (on_deep_change >= 0) own_fields(*object);
  }
  *context::self_cell(context) = *object;
}

void push_with_handlers(Cell* object, int32_t on_change_index, int32_t on_deep_change_index) {
  NodeId context = context_of(*object);
  const Cell* values = context::values_head(context);
  Cell change = on_change_index >= 0 ? values[on_change_index] : none::value;
  Cell deep = on_deep_change_index >= 0 ? values[on_deep_change_index] : none::value;
  object->data3 = make_handler_block(on_change_index, &change, on_deep_change_index, &deep);
  if (on_deep_change_index >= 0) own_fields(*object);
  *context::self_cell(context) = *object;
}

bool has_deep_handler(const Cell& object) { return handler_index(handlers_of(object), kOnDeepChangeCell) >= 0; }

bool change_handler(const Cell& object, Cell* function) {
  if (handler_index(handlers_of(object), kOnChangeCell) < 0) return false;
  return handler_function(object, kOnChangeCell, function, true);
}

void call_change_handler(const Cell& object_value, const Cell& function_value, const Cell& word_value,
                         const Cell& old_value, const Cell& new_value) {
  Cell object = object_value;
  Cell function = function_value;
  Cell arguments[3] = {word_value, old_value, new_value};
  NodeId context = context_of(object);
  if (word::context_of(arguments[0]) != context || word::index_of(arguments[0]) < 0) {
    context::bind_word(context, &arguments[0]);
  }
  arguments[0].header = TYPE_WORD;
  stack::Guard guard;
  for (const Cell& a : arguments) stack::push(a);  // kept reachable during the call
  stack::push(function);
  upcalls::table.call_value(function, arguments, 3);
}

void fire_on_set(const Cell& object_value, const Cell& word_value, const Cell& old_value, const Cell& new_value) {
  Cell object = object_value;
  Cell function;
  if (!change_handler(object, &function)) return;
  call_change_handler(object, function, word_value, old_value, new_value);
}

void fire_on_set_context(NodeId context, const Cell& word, const Cell& old_value, const Cell& new_value) {
  Cell object = *context::self_cell(context);
  if (!is_object_kind(object.type())) return;
  fire_on_set(object, word, old_value, new_value);
}

void fire_on_deep_change(const Cell& owner_value, const Cell& word, const Cell& target, const Cell& action,
                         const Cell* new_value, int32_t index, int32_t part) {
  Cell owner = owner_value;
  if (handlers_of(owner) == 0) fire(ErrorId::script_invalid_obj_evt, &owner);
  Cell function;
  if (!handler_function(owner, kOnDeepChangeCell, &function, false)) return;
  Cell arguments[7] = {owner,
                       word,
                       target,
                       action,
                       new_value != nullptr ? *new_value : none::value,
                       integer::make(index),
                       integer::make(part)};
  stack::Guard guard;
  for (const Cell& a : arguments) stack::push(a);
  stack::push(function);
  upcalls::table.call_value(function, arguments, 7);
}

void set_values(const Cell& object_value, const Cell& value_given, bool any, bool only, bool some) {
  Cell object = object_value;
  Cell value = value_given;
  stack::Guard guard;
  stack::push(object);
  stack::push(value);
  NodeId context = context_of(object);
  bool skip_handlers = handlers_of(object) != 0;
  uint32_t count = context::word_count(context);

  // The assignments, decided before any is made: (field index, value).
  struct Assignment {
    uint32_t index;
    Cell value;
  };
  std::vector<Assignment> assignments;
  auto is_handler = [&](uint32_t i) {
    uint32_t symbol = canonical_of(*context::word_at(context, i));
    return symbol == runtime_words::on_change_star || symbol == runtime_words::on_deep_change_star;
  };
  if (!only && value.is(TYPE_BLOCK)) {
    uint32_t next = value.data1;
    for (uint32_t i = 0; i < count; ++i) {
      if (skip_handlers && is_handler(i)) continue;
      SeriesBuffer* b = memory::buffer_of(value.data2);
      Cell item = next < b->cell_count() ? b->cells()[next] : none::value;
      ++next;
      assignments.push_back({i, item});
    }
  } else if (!only && is_object_kind(value.type())) {
    NodeId source = context_of(value);
    for (uint32_t i = 0; i < count; ++i) {
      if (skip_handlers && is_handler(i)) continue;
      int32_t found = context::find_word(source, word::symbol_of(*context::word_at(context, i)), true);
      if (found < 0) continue;
      assignments.push_back({i, context::values_head(source)[found]});
    }
  } else {
    for (uint32_t i = 0; i < count; ++i) {
      if (skip_handlers && is_handler(i)) continue;
      assignments.push_back({i, value});
    }
  }

  if (!any && !some) {
    for (const Assignment& a : assignments) {
      if (!a.value.is(TYPE_UNSET)) continue;
      Cell word = *context::word_at(context, a.index);
      word.header = TYPE_WORD;
      fire(ErrorId::script_need_value, &word);
    }
  }
  // The values taken from a block or object stay reachable from it while
  // handlers run.
  for (const Assignment& a : assignments) {
    if (some && a.value.is(TYPE_NONE)) continue;
    Cell word = *context::word_at(context, a.index);
    word.header = TYPE_WORD;
    set_field(object, a.index, word, a.value);
  }
}

}  // namespace kel::object
