// object! (see object.h): construction, prototype inheritance, path access,
// reflection, text and comparison. The change handlers live in
// object_events.cpp.
//
// Every routine here reaches fields through the object's context node and a
// field index, re-reading the values block after anything that may
// allocate or evaluate: a value copy, a rebinding or a handler call can move
// it. Values being built are kept on the evaluation stack.
#include "datatypes/object.h"

#include <string_view>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime/actions.h"
#include "runtime/stack.h"
#include "runtime/cycles.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "runtime/exits.h"
#include "datatypes/ownership.h"
#include "datatypes/runtime_words.h"
#include "runtime/series_tail.h"
#include "datatypes/argument_checks.h"
#include "runtime/upcalls.h"

namespace kel::object {

namespace {
uint32_t class_counter = kClassCounterStart;

inline uint32_t canonical(uint32_t symbol) { return symbol::resolve(symbol); }
inline uint32_t canonical_of(const Cell& word) { return symbol::resolve(word::symbol_of(word)); }

// The values a prototype hands down as copies: series that an inheriting
// object must not share with its prototype.
bool is_inherited_copy_type(TypeId type) { return series::is_series_kind(type); }

// The series that a deep duplicate (copy/deep) replaces by copies.
bool is_deep_copy_type(TypeId type) {
  switch (type) {
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_STRING:
    case TYPE_FILE:
    case TYPE_URL:
    case TYPE_PATH:
    case TYPE_LIT_PATH:
    case TYPE_SET_PATH:
    case TYPE_GET_PATH:
    case TYPE_TAG:
    case TYPE_EMAIL:
    case TYPE_REF:
      return true;
    default:
      return false;
  }
}

bool is_bindable_block(TypeId type) {
  return type == TYPE_BLOCK || type == TYPE_PAREN || type == TYPE_HASH ||
         (type >= TYPE_PATH && type <= TYPE_GET_PATH);
}

Cell* values_head(NodeId context) { return context::values_head(context); }

// A copy of a series value through its own copy handler, in a frame of its
// own (blocks then detect cycles themselves).
Cell copy_series_value(const Cell& value, bool deep, const Cell* types) {
  stack::Guard guard;
  stack::mark_native(nullptr);
  Cell* source = stack::push(value);
  Cell* result = stack::push_slot();
  int types_index = -1;
  if (types != nullptr) types_index = static_cast<int>(stack::push(*types) - stack::arguments());
  Cell* copied = actions::handler_for<Action::copy>(*source)(source, result, -1, deep ? 0 : -1, types_index);
  return *copied;
}

// Rebinds an inherited function held in a field: a new function with the
// same spec, a copy of its context and a deep copy of its body bound first
// to the object (self included) and then to the new function context.
void rebind_function(NodeId object_context, uint32_t index) {
  Cell function = values_head(object_context)[index];
  Cell body = *function::info(function, function::kInfoBody);
  if (!body.is(TYPE_BLOCK)) fire(ErrorId::script_bad_func_def, &function);
  stack::Guard guard;
  Cell owner = function;
  NodeId function_context = context::copy(&owner, context::kFunctionKind);
  stack::push(owner);  // keeps the new context reachable
  Cell spec = block::make_value(function.data2);
  Cell made = *function::push(&spec, &body, function_context, function.header & 0x0600);
  Cell copied_body = *function::info(made, function::kInfoBody);
  context::bind(&copied_body, object_context, true);
  context::bind(&copied_body, function_context, false);
  values_head(object_context)[index] = made;
}

// Whether a value's type is one of those a /types argument names (a
// datatype! or a typeset!).
bool type_selected(TypeId type, const Cell& types) {
  if (types.is(TYPE_DATATYPE)) return types.data1 == type;
  if (types.is(TYPE_TYPESET)) return typeset_has(types, type);
  return false;
}

// Replaces the values of a fresh copy according to the copy options:
// series by copies, function! values rebound to the copy.
void copy_values_of(NodeId context, bool deep, const Cell* types) {
  uint32_t count = context::word_count(context);
  for (uint32_t i = 0; i < count; ++i) {
    Cell value = values_head(context)[i];
    TypeId type = value.type();
    if (type == TYPE_FUNCTION) {
      rebind_function(context, i);
      continue;
    }
    if (types != nullptr) {
      if (!type_selected(type, *types)) continue;
      if (is_object_kind(type)) {
        if (deep && cycles::find(context_of(value))) fire(ErrorId::internal_no_cycle);
        Cell* kept = stack::push(none::value);
        duplicate(value, kept, deep, true);
        values_head(context)[i] = *kept;
        stack::pop(1);
      } else if (series::is_series_kind(type)) {
        values_head(context)[i] = copy_series_value(value, deep, types);
      }
      continue;
    }
    if (deep && is_deep_copy_type(type)) values_head(context)[i] = copy_series_value(value, true, nullptr);
  }
}

void clear_marks(NodeId context) {
  uint32_t count = context::word_count(context);
  for (uint32_t i = 0; i < count; ++i) context::word_at(context, i)->header &= ~flags::kFieldSet;
}

void clear_new_lines(NodeId context) {
  uint32_t count = context::word_count(context);
  Cell* values = values_head(context);
  for (uint32_t i = 0; i < count; ++i) clear_new_line(values + i);
}

// A new object context (heap, object kind, object flag) of room for size
// fields.
NodeId new_context(uint32_t size) { return context::create(size, false, true, 0, context::kObjectKind); }

// The word! cell of a field, bound to the object, with no header flags.
Cell field_word(NodeId context, uint32_t index) {
  Cell word = *context::word_at(context, index);
  word.header = TYPE_WORD;
  return word;
}

bool is_handler_field(NodeId context, uint32_t index) {
  uint32_t symbol = canonical_of(*context::word_at(context, index));
  return symbol == runtime_words::on_change_star || symbol == runtime_words::on_deep_change_star;
}

// The path errors for a field the object lacks (or whose value is unset):
// with get and tail set the step quietly yields unset; with only tail set
// (a plain access at the end of a path, or put) it is invalid-path;
// otherwise unset-path.
Cell* missing_field(Cell* path, Cell* element, bool get, bool tail) {
  if (get && tail) return stack::push(unset::value);
  Cell path_value = path ? *path : none::value;
  Cell element_value = *element;
  if (tail) fire(ErrorId::script_invalid_path, &path_value, &element_value);
  fire(ErrorId::script_unset_path, &path_value, &element_value);
}
}  // namespace

uint32_t next_class_id() { return ++class_counter; }
uint32_t last_class_id() { return class_counter; }
void set_last_class_id(uint32_t id) { class_counter = id; }

// --- Constructors ----------------------------------------------------------------------

Cell* make_at(Cell* cell, uint32_t size) {
  NodeId context = new_context(size);
  *cell = make_value(context, kStartUpClass, 0);
  *context::self_cell(context) = *cell;
  return cell;
}

Cell* push_new(uint32_t size, uint32_t class_id, TypeId type) {
  Cell* result = stack::push(none::value);
  NodeId context = new_context(size);
  *result = make_value(context, class_id, 0, type);
  *context::self_cell(context) = *result;
  return result;
}

Cell* push_for_context(NodeId context, uint32_t class_id) {
  if (!context::on_stack(context)) {
    SeriesBuffer* values = memory::buffer_of(context::values_node(context));
    uint32_t words = context::word_count(context);
    if (values->cell_count() == 0 && words > 0) {
      for (uint32_t i = 0; i < words; ++i) alloc_tail(&values);
    }
  }
  return push(context, class_id, 0);
}

Cell* push(NodeId context, uint32_t class_id, NodeId handlers) {
  Cell* result = stack::push(make_value(context, class_id, handlers));
  *context::self_cell(context) = *result;
  return result;
}

Cell* duplicate(const Cell& source_value, Cell* destination, bool deep, bool new_handlers) {
  Cell source = source_value;
  Cell owner = source;
  NodeId context = context::copy(&owner, context::kObjectKind);
  *destination = make_value(context, class_of(source), new_handlers ? 0 : handlers_of(source), source.type());
  uint32_t count = context::word_count(context);
  NodeId source_context = context_of(source);
  for (uint32_t i = 0; i < count; ++i) values_head(context)[i] = values_head(source_context)[i];
  *context::self_cell(context) = *destination;
  cycles::Entry entry(source_context);
  copy_values_of(context, deep, nullptr);
  if (new_handlers) install_handlers(destination);
  return destination;
}

namespace {
// copy with a /types filter: as duplicate, the values copied by type.
Cell* duplicate_by_types(const Cell& source, Cell* destination, bool deep, const Cell& types) {
  Cell owner = source;
  NodeId context = context::copy(&owner, context::kObjectKind);
  *destination = make_value(context, class_of(source), 0, source.type());
  uint32_t count = context::word_count(context);
  for (uint32_t i = 0; i < count; ++i) values_head(context)[i] = values_head(context_of(source))[i];
  *context::self_cell(context) = *destination;
  cycles::Entry entry(context_of(source));
  copy_values_of(context, deep, &types);
  install_handlers(destination);
  return destination;
}
}  // namespace

bool run_spec(const Cell& object, const Cell& spec_value) {
  Cell spec = spec_value;
  NodeId context = context_of(object);
  context::add_set_words(context, &spec);
  context::bind(&spec, context, true);
  upcalls::table.eval_block(spec, false);
  if (exits::exiting()) return false;
  stack::pop(1);
  clear_marks(context);
  clear_new_lines(context);
  return true;
}

Cell* make_object(const Cell* prototype, const Cell* spec_value, TypeId type) {
  Cell spec = *spec_value;
  bool inherit = prototype != nullptr && is_object_kind(prototype->type());
  Cell proto = inherit ? *prototype : none::value;
  Cell* result = stack::push(none::value);
  stack::push(spec);
  stack::push(proto);
  if (inherit) {
    duplicate(proto, result, false, false);
    result->data3 = 0;
  } else {
    NodeId context = new_context(4);
    *result = make_value(context, 0, 0, type);
  }
  result->set_type(type);
  NodeId context = context_of(*result);
  *context::self_cell(context) = *result;
  uint32_t words_before = context::word_count(context);

  if (is_object_kind(spec.type())) {
    NodeId spec_context = context_of(spec);
    uint32_t count = context::word_count(spec_context);
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t symbol = word::symbol_of(*context::word_at(spec_context, i));
      context::put_value(context, symbol, values_head(spec_context)[i]);
    }
    uint32_t total = context::word_count(context);
    for (uint32_t i = 0; i < total; ++i) {
      Cell value = values_head(context)[i];
      if (value.is(TYPE_FUNCTION)) rebind_function(context, i);
      else if (is_inherited_copy_type(value.type())) values_head(context)[i] = copy_series_value(value, true, nullptr);
    }
  } else if (spec.is(TYPE_BLOCK)) {
    context::add_set_words(context, &spec);
    context::bind(&spec, context, true);
    if (inherit) {
      uint32_t total = context::word_count(context);
      for (uint32_t i = 0; i < total; ++i) {
        Cell value = values_head(context)[i];
        if (!is_inherited_copy_type(value.type())) continue;
        Cell copied = copy_series_value(value, true, nullptr);
        if (is_bindable_block(copied.type())) context::bind(&copied, context, true);
        values_head(context)[i] = copied;
      }
    }
    upcalls::table.eval_block(spec, false);
    if (exits::exiting()) return nullptr;
    stack::pop(1);
    clear_marks(context);
    clear_new_lines(context);
  } else {
    Cell wanted = datatype::make(type);
    fire(ErrorId::syntax_malconstruct, &wanted, &spec);
  }

  bool grew = context::word_count(context) != words_before;
  result->data2 = (grew || !inherit) ? next_class_id() : class_of(proto);
  install_handlers(result);
  stack::top = result + 1;
  return result;
}

Cell* construct(const Cell* spec_value, const Cell* prototype, bool only) {
  Cell spec = *spec_value;
  Cell* result = stack::push(none::value);
  stack::push(spec);
  if (prototype != nullptr && is_object_kind(prototype->type())) {
    duplicate(*prototype, result, false, false);
    result->data3 = 0;
  } else {
    NodeId context = new_context(4);
    *result = make_value(context, next_class_id(), 0);
    *context::self_cell(context) = *result;
  }
  NodeId context = context_of(*result);
  NodeId node = spec.data2;
  auto length = [node] { return memory::buffer_of(node)->cell_count(); };
  for (uint32_t i = spec.data1; i < length(); ++i) {
    Cell item = memory::buffer_of(node)->cells()[i];
    if (!item.is(TYPE_SET_WORD)) continue;
    Cell value = none::value;
    for (uint32_t j = i + 1; j < length(); ++j) {
      Cell next = memory::buffer_of(node)->cells()[j];
      if (next.is(TYPE_SET_WORD)) continue;
      value = next;
      break;
    }
    if (!only && value.is(TYPE_WORD)) {
      uint32_t symbol = canonical_of(value);
      static const std::string_view kTrue[] = {"true", "yes", "on"};
      static const std::string_view kFalse[] = {"false", "no", "off"};
      std::string_view name = symbol::name(symbol);
      for (std::string_view t : kTrue)
        if (name == t) value = logic::true_value;
      for (std::string_view f : kFalse)
        if (name == f) value = logic::false_value;
      if (symbol == runtime_words::none) value = none::value;
    }
    clear_new_line(&value);
    context::put_value(context, word::symbol_of(item), value);
  }
  install_handlers(result);
  stack::top = result + 1;
  return result;
}

// --- Fields ------------------------------------------------------------------------------

uint32_t size_of(const Cell& object) { return context::word_count(context_of(object)); }
Cell* values_of(const Cell& object) { return values_head(context_of(object)); }
Cell* word_at(const Cell& object, uint32_t index) { return context::word_at(context_of(object), index); }

int32_t find_field_index(NodeId context, uint32_t symbol) { return context::find_word(context, symbol, true); }

const Cell* find_field(NodeId context, uint32_t symbol) {
  int32_t index = find_field_index(context, symbol);
  if (index < 0) return &none::value;
  return values_head(context) + index;
}

bool holds_context(const Cell& value, NodeId context) {
  return is_object_kind(value.type()) && context_of(value) == context;
}

void store_field(const Cell& object_value, uint32_t index, const Cell& word, const Cell& value) {
  Cell object = object_value;
  Cell field = word;
  Cell new_value = value;
  NodeId context = context_of(object);
  Cell old_value = values_head(context)[index];
  values_head(context)[index] = new_value;
  if (!has_deep_handler(object)) return;
  if (ownership::is_owned(old_value)) {
    const Cell* owner = ownership::get_owner(ownership::key_of(old_value));
    if (owner != nullptr && holds_context(*owner, context)) ownership::unbind(old_value);
  }
  ownership::set_owner(new_value, object, field);
}

bool store_field_named(const Cell& object, uint32_t symbol, const Cell& value) {
  NodeId context = context_of(object);
  int32_t index = find_field_index(context, symbol);
  if (index < 0) return false;
  Cell word = *context::word_at(context, static_cast<uint32_t>(index));
  word.header = TYPE_WORD;
  store_field(object, static_cast<uint32_t>(index), word, value);
  return true;
}

void set_field(const Cell& object_value, uint32_t index, const Cell& word, const Cell& value) {
  Cell object = object_value;
  NodeId context = context_of(object);
  context::word_at(context, index)->header |= flags::kFieldSet;
  if (handlers_of(object) == 0) {
    values_head(context)[index] = value;
    return;
  }
  stack::Guard guard;
  Cell* old_value = stack::push(values_head(context)[index]);
  Cell* new_value = stack::push(value);
  Cell* field = stack::push(word);
  // Copies for after an error: the stack cells above are unwound by then.
  // Nothing collects between the raise and the restore below.
  Cell previous = *old_value;
  Cell field_word = word;
  store_field(object, index, *field, *new_value);
  Cell function;
  if (!change_handler(object, &function)) return;
  try {
    call_change_handler(object, function, *field, *old_value, *new_value);
  } catch (const exits::Unwind& unwind) {
    // A handler that raises refuses the assignment: the field gets its old
    // value back, owned again as it was.
    if (unwind.code == exits::kError) store_field(object, index, field_word, previous);
    throw;
  }
}

// --- Text ---------------------------------------------------------------------------------

int32_t write_body(const Cell& object_value, Cell* buffer, bool all, bool flat, bool lines, Cell* arg,
                   int32_t part, int32_t indent) {
  Cell object = object_value;
  NodeId context = context_of(object);
  cycles::Entry entry(context);
  bool line_layout = lines && !flat;
  bool first = true;
  for (uint32_t i = 0; i < context::word_count(context); ++i) {
    if (part <= 0) break;
    if (!all && is_handler_field(context, i)) continue;
    if (line_layout) {
      string::concatenate_literal(buffer, "\n");
      mold_indent(buffer, indent + 1);
      part -= 1 + 4 * (indent + 1);
    } else if (!first) {
      string::concatenate_literal(buffer, flat ? " " : "\n");
      --part;
    }
    first = false;
    std::string_view name = symbol::name(word::symbol_of(*context::word_at(context, i)));
    string::append_utf8(buffer, name);
    string::concatenate_literal(buffer, ": ");
    part -= static_cast<int32_t>(name.size()) + 2;
    Cell* value = stack::push(values_head(context)[i]);
    if (value->type() == TYPE_VALUE) {
      *value = unset::value;
      values_head(context)[i] = unset::value;
    }
    if (value->is(TYPE_WORD)) {
      string::concatenate_literal(buffer, "'");
      --part;
    }
    part = actions::mold(value, buffer, false, all, flat, arg, part, indent + 1);
    stack::pop(1);
  }
  if (line_layout && !first) {
    string::concatenate_literal(buffer, "\n");
    mold_indent(buffer, indent);
    part -= 1 + 4 * indent;
  }
  return part;
}

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
  if (cycles::find(context_of(*value))) {
    string::concatenate_literal(buffer, "...");
    return part - 3;
  }
  return write_body(*value, buffer, false, false, false, arg, part, 0);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent) {
  if (cycles::find(context_of(*value))) {
    string::concatenate_literal(buffer, "make object! [...]");
    return part - 18;
  }
  if (!only) {
    string::concatenate_literal(buffer, "make object! [");
    part -= 14;
  }
  part = write_body(*value, buffer, all, flat, !only, arg, part, indent);
  if (!only) {
    string::concatenate_literal(buffer, "]");
    --part;
  }
  return part;
}

// --- Path access -----------------------------------------------------------------------------

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool, bool get,
                bool tail) {
  Cell object = *parent;
  Cell word = *element;
  TypeId type = word.type();
  if (type != TYPE_WORD && type != TYPE_SET_WORD && type != TYPE_GET_WORD && type != TYPE_LIT_WORD) {
    Cell path_value = path ? *path : none::value;
    fire(ErrorId::script_invalid_path, &path_value, &word);
  }
  NodeId context = context_of(object);
  int32_t index = word::index_of(word);
  if (word::context_of(word) != context || index < 0) {
    if (value != nullptr && index < 0 && word::symbol_of(word) == runtime_words::self) {
      Cell path_value = path ? *path : none::value;
      fire(ErrorId::script_invalid_path, &path_value, &word);
    }
    index = find_field_index(context, word::symbol_of(word));
    if (index < 0) return missing_field(path, element, get, tail);
    word = field_word(context, static_cast<uint32_t>(index));
  }
  if (value != nullptr) {
    Cell stored = *value;
    set_field(object, static_cast<uint32_t>(index), word, stored);
    return value;
  }
  Cell found = values_head(context)[index];
  if (found.is(TYPE_UNSET) || found.type() == TYPE_VALUE) return missing_field(path, element, get, tail);
  return stack::push(found);
}

// --- Reflection and modification ------------------------------------------------------------

Cell* reflect(Cell* value, int field) {
  Cell object = *value;
  NodeId context = context_of(object);
  uint32_t asked = canonical(static_cast<uint32_t>(field));
  uint32_t count = context::word_count(context);
  if (asked == runtime_words::class_) return stack::push(integer::make(static_cast<int32_t>(class_of(object))));
  if (asked == runtime_words::owner)
    return stack::push(logic::make((context::cell(context)->header & kOwnerFlag) != 0));
  if (asked == runtime_words::events_q) return stack::push(logic::make(handlers_of(object) != 0));
  Cell* result = block::push_only(static_cast<int32_t>(count == 0 ? 1 : count * 2));
  if (asked == runtime_words::changed) {
    for (uint32_t i = 0; i < count; ++i)
      if (context::word_at(context, i)->header & flags::kFieldSet) block::rs_append(result, field_word(context, i));
  } else if (asked == runtime_words::words) {
    for (uint32_t i = 0; i < count; ++i) block::rs_append(result, field_word(context, i));
  } else if (asked == runtime_words::values) {
    for (uint32_t i = 0; i < count; ++i) block::rs_append(result, values_head(context)[i]);
  } else if (asked == runtime_words::body) {
    for (uint32_t i = 0; i < count; ++i) {
      Cell set_word = field_word(context, i);
      set_word.header = TYPE_SET_WORD | flags::kNewLine;
      block::rs_append(result, set_word);
      Cell field_value = values_head(context)[i];
      if (field_value.is(TYPE_WORD)) field_value.set_type(TYPE_LIT_WORD);
      else if (field_value.is(TYPE_PATH)) field_value.set_type(TYPE_LIT_PATH);
      block::rs_append(result, field_value);
    }
  } else {
    fire(ErrorId::internal_not_done);
  }
  return result;
}

Cell* modify(Cell* target, Cell* field, Cell* value, int) {
  Cell object = *target;
  Cell given = *value;
  NodeId context = context_of(object);
  uint32_t asked = word::is_any_word(field->type()) ? canonical_of(*field) : 0;
  if (asked == runtime_words::changed) {
    if (!given.is(TYPE_NONE)) fire(ErrorId::script_invalid_arg, &given);
    clear_marks(context);
  } else if (asked == runtime_words::owner) {
    uint32_t count = context::word_count(context);
    for (uint32_t i = 0; i < count; ++i) {
      Cell word = field_word(context, i);
      ownership::set_owner(values_head(context)[i], object, word);
    }
    context::cell(context)->header |= kOwnerFlag;
  } else if (asked == runtime_words::owned) {
    if (given.is(TYPE_NONE)) {
      ownership::unbind(object);
    } else if (given.is(TYPE_BLOCK) && block::rs_length(&given) >= 2 &&
               is_object_kind(block::rs_head(&given)->type())) {
      Cell owner = *block::rs_head(&given);
      Cell word = block::rs_head(&given)[1];
      ownership::set_owner(object, owner, word);
    } else {
      fire(ErrorId::script_invalid_arg, &given);
    }
  } else {
    Cell field_value = *field;
    fire(ErrorId::script_invalid_arg, &field_value);
  }
  return stack::set_result(given);
}

// --- Comparison ---------------------------------------------------------------------------------

namespace {
bool is_number(TypeId type) { return type == TYPE_INTEGER || type == TYPE_FLOAT || type == TYPE_PERCENT; }
bool is_word_kind(TypeId type) { return type >= TYPE_WORD && type <= TYPE_REFINEMENT; }

int32_t compare_fields(const Cell& value1, const Cell& value2, int32_t op) {
  TypeId type1 = value1.type(), type2 = value2.type();
  if (type1 == type2 || (is_word_kind(type1) && is_word_kind(type2)) || (is_number(type1) && is_number(type2))) {
    stack::Guard guard;
    Cell* a = stack::push(value1);
    Cell* b = stack::push(value2);
    if (action_handler<Action::compare>(type1) == nullptr && type1 != TYPE_NATIVE && type1 != TYPE_ACTION &&
        type1 != TYPE_OP && type1 != TYPE_FUNCTION && type1 != TYPE_ROUTINE && type1 != TYPE_LOGIC) {
      // A type with no comparison of its own: the same cell is equal.
      bool same = a->data1 == b->data1 && a->data2 == b->data2 && a->data3 == b->data3;
      return same ? 0 : (a->data2 < b->data2 ? -1 : 1);
    }
    return actions::compare_value(a, b, op);
  }
  return type1 < type2 ? -1 : 1;
}
}  // namespace

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
  if (!is_object_kind(value2->type())) return kNotComparable;
  NodeId context1 = context_of(*value1), context2 = context_of(*value2);
  if (context1 == context2) return 0;
  if (op == kCmpSame) return -1;
  if (cycles::find(context1)) return cycles::find(context2) ? 0 : -1;
  cycles::Entry entry1(context1);
  cycles::Entry entry2(context2);
  uint32_t count1 = context::word_count(context1), count2 = context::word_count(context2);
  if (count1 != count2) return count1 > count2 ? 1 : -1;
  for (uint32_t i = 0; i < count1; ++i) {
    uint32_t symbol1 = canonical_of(*context::word_at(context1, i));
    uint32_t symbol2 = canonical_of(*context::word_at(context2, i));
    if (symbol1 != symbol2) return symbol1 < symbol2 ? -1 : 1;
    Cell field1 = values_head(context1)[i];
    Cell field2 = values_head(context2)[i];
    int32_t result = compare_fields(field1, field2, op);
    if (result != 0) return result;
  }
  return 0;
}

// --- Series-like actions -------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, TypeId type) {
  const Cell* prototype = is_object_kind(proto->type()) ? proto : nullptr;
  Cell* made = make_object(prototype, spec, type);
  if (made == nullptr) return stack::arguments();  // a pending exit: leave the stacks alone
  return made;
}

Cell* copy(Cell* value, Cell*, int part, int deep, int types) {
  Cell source = *value;
  if (part >= 0) {
    Cell word;
    word::make_at(word::symbol_of(runtime_words::part_refinement), &word);
    Cell given = stack::arguments()[part];
    fire(ErrorId::script_invalid_refine_arg, &word, &given);
  }
  Cell* result = stack::push(none::value);
  if (types >= 0) {
    Cell kind = stack::arguments()[types];
    duplicate_by_types(source, result, deep >= 0, kind);
  } else {
    duplicate(source, result, deep >= 0, true);
  }
  return result;
}

Cell* put(Cell* series, Cell* key, Cell* value, int) {
  Cell object = *series;
  Cell given = *value;
  if (!key->is(TYPE_WORD)) {
    Cell type = datatype::make(key->type());
    fire(ErrorId::script_invalid_key_type, &type);
  }
  NodeId context = context_of(object);
  int32_t index = find_field_index(context, word::symbol_of(*key));
  if (index < 0) missing_field(nullptr, key, false, true);
  Cell word = field_word(context, static_cast<uint32_t>(index));
  set_field(object, static_cast<uint32_t>(index), word, given);
  return stack::set_result(given);
}

Cell* select(Cell* series, Cell* value, int, int, int, int, int, int, int, int, int) {
  TypeId type = value->type();
  if (type != TYPE_WORD && type != TYPE_SET_WORD && type != TYPE_GET_WORD && type != TYPE_LIT_WORD) {
    Cell datatype_value = datatype::make(type);
    fire(ErrorId::script_invalid_type, &datatype_value);
  }
  NodeId context = context_of(*series);
  return stack::push(*find_field(context, word::symbol_of(*value)));
}

void init() {
  DatatypeRecord record(TYPE_OBJECT, 0, "object!");
  record.handle<Action::make>(make)
      .handle<Action::reflect>(reflect)
      .handle<Action::form>(form)
      .handle<Action::mold>(mold)
      .handle<Action::eval_path>(eval_path)
      .handle<Action::compare>(compare)
      .handle<Action::copy>(copy)
      .handle<Action::put>(put)
      .handle<Action::select>(select)
      .handle<Action::modify>(modify);
  register_datatype(record);
}

}  // namespace kel::object
