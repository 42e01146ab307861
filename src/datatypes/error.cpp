// error! values (see error.h): making them, what a raise records in them,
// their text, and the error! datatype's action handlers.
//
// Catalog lookups go through the canonical symbols of the category and id
// words, interned once when first needed. The prototype the errors copy is a
// context of the ten fields made on first use and kept in the root block.
#include "datatypes/error.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/actions.h"
#include "runtime/stack.h"
#include "runtime/datatype_registry.h"
#include "runtime/memory.h"
#include "datatypes/runtime_words.h"
#include "runtime/root_block.h"
#include "runtime/upcalls.h"
#include "datatypes/argument_checks.h"

namespace kel::error_value {

namespace {
constexpr const char* kFieldNames[kFieldCount] = {"code", "type", "id",    "arg1",  "arg2",
                                                   "arg3", "near", "where", "stack", "files"};

struct CatalogWords {
  bool ready = false;
  uint32_t categories[kErrorCategoryCount] = {};
  uint32_t ids[kErrorIdCount] = {};
};
CatalogWords catalog_words;
NodeId prototype_context = 0;
SystemParts system_parts;

bool words_exist() { return symbol::table() != 0 && context::global() != 0; }

// The canonical symbols of the catalog's words, interned on first use.
const CatalogWords& catalog() {
  if (!catalog_words.ready) {
    for (int c = 0; c < kErrorCategoryCount; ++c)
      catalog_words.categories[c] = symbol::resolve(symbol::make(category_info(static_cast<ErrorCategory>(c)).word));
    for (int i = 0; i < kErrorIdCount; ++i)
      catalog_words.ids[i] = symbol::resolve(symbol::make(error_info(static_cast<ErrorId>(i)).word));
    catalog_words.ready = true;
  }
  return catalog_words;
}

// Whether a context holds the ten error fields, in order.
bool has_error_fields(NodeId context) {
  if (context::word_count(context) < kFieldCount) return false;
  for (uint32_t i = 0; i < kFieldCount; ++i)
    if (symbol::name(symbol::resolve(word::symbol_of(*context::word_at(context, i)))) != kFieldNames[i]) return false;
  return true;
}

// Made without using the evaluation stack: the first error may well be a
// stack overflow, with only a few cells of room left. Once the system
// object exists, its error prototype is the one copied.
NodeId prototype_node() {
  if (system_parts.prototype != nullptr) {
    NodeId standard = system_parts.prototype();
    if (standard != 0 && has_error_fields(standard)) return standard;
  }
  if (prototype_context == 0) {
    Cell proto;
    object::make_at(&proto, kFieldCount);
    for (const char* name : kFieldNames) context::put_value(object::context_of(proto), symbol::make(name), none::value);
    root::keep(proto);
    prototype_context = object::context_of(proto);
  }
  return prototype_context;
}

// A fresh error pushed on the stack: a copy of the prototype, every field
// none.
Cell* push_error() {
  NodeId context = context::create(kFieldCount, false, true, prototype_node(), context::kObjectKind);
  Cell* error = stack::push(object::make_value(context, kClassId, 0, TYPE_ERROR));
  Cell* values = context::values_head(context);
  for (uint32_t i = 0; i < kFieldCount; ++i) values[i] = none::value;
  *context::self_cell(context) = *error;
  return error;
}

Cell global_word(uint32_t symbol) {
  Cell word;
  word::make_at(symbol, &word);
  return word;
}

uint32_t canonical_symbol(const Cell& value) {
  return word::is_any_word(value.type()) ? symbol::resolve(word::symbol_of(value)) : 0;
}

int category_of_symbol(uint32_t symbol) {
  const CatalogWords& words = catalog();
  for (int c = 0; c < kErrorCategoryCount; ++c)
    if (words.categories[c] == symbol) return c;
  return -1;
}

bool find_in_category(int category, uint32_t id_symbol, ErrorId* out) {
  const CatalogWords& words = catalog();
  for (int i = 0; i < kErrorIdCount; ++i) {
    if (static_cast<int>(error_info(static_cast<ErrorId>(i)).category) != category) continue;
    if (words.ids[i] == id_symbol) {
      *out = static_cast<ErrorId>(i);
      return true;
    }
  }
  return false;
}

// Fills code, type and id from a catalog id.
void set_identity(const Cell& error, ErrorId id) {
  const ErrorInfo& info = error_info(id);
  const ErrorCategoryInfo& category = category_info(info.category);
  set_field(error, kCode, integer::make(category.code + info.number - 2));
  set_field(error, kType, global_word(symbol::make(category.word)));
  set_field(error, kId, global_word(symbol::make(info.word)));
}

void set_near(const Cell& error) {
  const Cell position = upcalls::table.position();
  if (series::is_block_kind(position.type())) set_field(error, kNear, position);
}

// Appends the mold of a value cut to limit characters (flat: on one line).
void append_limited_mold(Cell* buffer, const Cell& value, int32_t limit, bool flat) {
  stack::Guard guard;
  Cell* held = stack::push(value);
  Cell* scratch = string::push_new(64);
  actions::mold(held, scratch, false, false, flat, nullptr, limit, 0);
  string::truncate_to(string::buffer_of(scratch), static_cast<uint32_t>(limit));
  string::concatenate_part(buffer, scratch, -1);
}

// An argument's text in a message: molded and cut in the syntax
// category, formed otherwise.
void write_argument(const Cell& value, ErrorCategory category, Cell* buffer) {
  if (category == ErrorCategory::syntax) {
    append_limited_mold(buffer, value, kSyntaxArgumentLimit, false);
  } else {
    stack::Guard guard;
    Cell* held = stack::push(value);
    actions::form(held, buffer, nullptr, 0x7FFFFFFF);
  }
}

// The catalog object of the error's category (none before the system
// object exists).
Cell catalog_category(ErrorCategory category) {
  if (system_parts.category == nullptr) return none::value;
  Cell found = system_parts.category(category);
  return object::is_object_kind(found.type()) ? found : none::value;
}

// The message template the catalog object holds for the id, when it is one
// the message can be made from.
bool catalog_template(ErrorId id, Cell* out) {
  Cell category = catalog_category(error_info(id).category);
  if (category.is(TYPE_NONE)) return false;
  *out = *object::find_field(object::context_of(category), catalog().ids[static_cast<int>(id)]);
  return out->is(TYPE_STRING) || out->is(TYPE_BLOCK) || out->is(TYPE_WORD) || out->is(TYPE_GET_WORD);
}

// The value of the error's field that a template word names (none when the
// error has no such field).
Cell named_field(const Cell& error, const Cell& word) {
  if (error.data1 == 0) return none::value;
  int32_t index = context::find_word(error.data1, word::symbol_of(word), true);
  if (index < 0) return none::value;
  return context::values_head(error.data1)[index];
}

// A template value of the catalog object: a string as it stands; a word by
// the value of the field it names; a block element by element, one space
// between two elements.
void write_template_value(const Cell& error, ErrorCategory category, const Cell& value, Cell* buffer) {
  if (value.is(TYPE_STRING)) {
    string::concatenate_part(buffer, &value, -1);
    return;
  }
  if (!value.is(TYPE_BLOCK)) {
    write_argument(named_field(error, value), category, buffer);
    return;
  }
  stack::Guard guard;
  Cell* held = stack::push(value);  // keeps the template alive while texts are made
  for (uint32_t i = held->data1; i < memory::buffer_of(held->data2)->cell_count(); ++i) {
    Cell item = memory::buffer_of(held->data2)->cells()[i];
    if (i > held->data1) string::concatenate_literal(buffer, " ");
    if (item.is(TYPE_STRING)) {
      string::concatenate_part(buffer, &item, -1);
    } else if (item.is(TYPE_WORD) || item.is(TYPE_GET_WORD)) {
      write_argument(named_field(error, item), category, buffer);
    } else {
      stack::Guard inner;
      actions::form(stack::push(item), buffer, nullptr, 0x7FFFFFFF);
    }
  }
}

// The category title the report shows: the catalog object's `type` when it
// is a string, else the table's.
void write_title(ErrorCategory category, Cell* buffer) {
  Cell object = catalog_category(category);
  if (!object.is(TYPE_NONE)) {
    Cell title = *object::find_field(object::context_of(object), symbol::resolve(symbol::make("type")));
    if (title.is(TYPE_STRING)) {
      string::concatenate_part(buffer, &title, -1);
      return;
    }
  }
  string::concatenate_literal(buffer, category_info(category).title);
}

// The message: the template's strings as they are and each argument
// reference formed (molded and cut in the syntax category), one space
// between two pieces. The catalog object's template is used once the
// system object exists, the table's before.
void write_message(const Cell& error, ErrorId id, Cell* buffer) {
  const ErrorInfo& info = error_info(id);
  Cell template_value;
  if (catalog_template(id, &template_value)) {
    write_template_value(error, info.category, template_value, buffer);
    return;
  }
  const char* p = info.template_source;
  bool first = true;
  auto separate = [&] {
    if (!first) string::concatenate_literal(buffer, " ");
    first = false;
  };
  while (*p) {
    if (*p == '"') {
      const char* start = ++p;
      while (*p && *p != '"') ++p;
      separate();
      string::concatenate_literal_part(buffer, start, static_cast<uint32_t>(p - start));
      if (*p) ++p;
    } else if (p[0] == ':' || (p[0] == 'a' && p[1] == 'r' && p[2] == 'g')) {
      if (*p == ':') ++p;
      int n = p[3] - '0';
      p += 4;
      separate();
      write_argument(argument(error, n), info.category, buffer);
    } else {
      ++p;  // brackets and spaces between the pieces
    }
  }
}

// The words of the named calls between the frame records at `from` and
// depth, the innermost kTraceLength of them, appended outermost first:
// every named frame above level 1, only the calls of functions at level 1.
// The records above the frame top are those of the calls an error just
// left: the frame stack is a fixed array, and nothing has opened a frame
// over them since.
constexpr uint32_t kTraceLength = 20;
void collect_call_words(Cell* block, uint32_t from, uint32_t depth, int32_t level) {
  stack::Frame* last = stack::frame_bottom + depth;
  if (last > stack::frame_end) last = stack::frame_end;
  Cell found[kTraceLength];
  uint32_t count = 0;
  for (stack::Frame* f = last - 1; f >= stack::frame_bottom + from && count < kTraceLength; --f) {
    uint32_t symbol = f->symbol();
    if (symbol == 0 || symbol == runtime_words::angled_body || symbol == runtime_words::angled_anon) continue;
    Cell word = word::make_value(symbol, 0, -1);
    if (level <= 1) {
      NodeId context = f->word_context ? f->word_context : context::global();
      int32_t index = context::find_word(context, symbol, true);
      Cell* values = context::values_head(context);
      if (index < 0 || values == nullptr || !values[index].is(TYPE_FUNCTION)) continue;
      word.data1 = context;
      word.data3 = static_cast<uint32_t>(index);
    }
    found[count++] = word;
  }
  while (count > 0) block::rs_append(block, found[--count]);
}

void write_text(const Cell& error, ErrorId id, Cell* buffer) {
  string::concatenate_literal(buffer, "*** ");
  write_title(error_info(id).category, buffer);
  string::concatenate_literal(buffer, ": ");
  write_message(error, id, buffer);
  string::concatenate_literal(buffer, "\n*** Where: ");
  Cell where = field(error, kWhere);
  if (where.is(TYPE_WORD) || where.is(TYPE_STRING)) {
    stack::Guard guard;
    Cell* held = stack::push(where);
    actions::form(held, buffer, nullptr, 0x7FFFFFFF);
  } else {
    string::concatenate_literal(buffer, "???");
  }
  string::concatenate_literal(buffer, "\n*** Near : ");
  append_limited_mold(buffer, field(error, kNear), kNearLimit, true);
  // The call trace, once captured: the frames it was read from are gone.
  Cell stack_field = field(error, kStack);
  if (stack_field.is(TYPE_BLOCK) && trace_depth() > 0) {
    string::concatenate_literal(buffer, "\n*** Stack: ");
    stack::Guard guard;
    Cell* words = stack::push(stack_field);
    actions::form(words, buffer, nullptr, 0x7FFFFFFF);
  }
  Cell files = field(error, kFiles);
  if (files.is(TYPE_BLOCK)) {
    string::concatenate_literal(buffer, "\n*** Files: ");
    append_limited_mold(buffer, files, kNearLimit, true);
  }
}

template <class Write>
std::string to_text(Write&& write) {
  stack::Guard guard;
  Cell* buffer = string::push_new(128);
  write(buffer);
  return string::to_std_string(*buffer);
}

// The text shown for an error whose fields name nothing in the catalog.
void write_invalid(const Cell& error, Cell* buffer) {
  Cell offending = field(error, kType);
  int category = category_of_symbol(canonical_symbol(offending));
  if (category >= 0) offending = field(error, kId);
  string::concatenate_literal(buffer, "*** Internal Error: invalid error object field value: ");
  stack::Guard guard;
  Cell* held = stack::push(offending);
  actions::form(held, buffer, nullptr, 0x7FFFFFFF);
}
}  // namespace

// --- Values ---------------------------------------------------------------------------------

Cell create(ErrorId id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
  const Cell* given[3] = {arg1, arg2, arg3};
  Cell arguments[3];
  for (int i = 0; i < 3; ++i) arguments[i] = given[i] ? *given[i] : none::value;
  if (!words_exist()) {
    return make_cell(TYPE_ERROR, 0, static_cast<uint32_t>(id) + 1, 0);
  }
  // The error is built without a collection point, so the arguments need
  // no roots; the stack is spared for the same reason as above.
  stack::Guard guard;
  Cell error = *push_error();
  set_identity(error, id);
  for (int i = 0; i < 3; ++i) set_field(error, static_cast<Field>(kArg1 + i), arguments[i]);
  set_near(error);
  return error;
}

bool find_id(const Cell& error, ErrorId* out) {
  if (error.data1 == 0) {
    if (error.data2 == 0) return false;
    *out = static_cast<ErrorId>(error.data2 - 1);
    return true;
  }
  int category = category_of_symbol(canonical_symbol(field(error, kType)));
  if (category < 0) return false;
  return find_in_category(category, canonical_symbol(field(error, kId)), out);
}

ErrorId id_of(const Cell& error) {
  ErrorId id;
  return find_id(error, &id) ? id : ErrorId::internal_invalid_error;
}

Cell field(const Cell& error, Field which) {
  if (error.data1 == 0 || which >= context::word_count(error.data1)) return none::value;
  return context::values_head(error.data1)[which];
}

void set_field(const Cell& error, Field which, const Cell& value) {
  if (error.data1 == 0) return;
  context::values_head(error.data1)[which] = value;
}

Cell argument(const Cell& error, int n) {
  if (n < 1 || n > 3) return none::value;
  return field(error, static_cast<Field>(kArg1 + n - 1));
}

std::string message_text(const Cell& error) {
  ErrorId id;
  if (!find_id(error, &id)) return "";
  return to_text([&](Cell* buffer) { write_message(error, id, buffer); });
}

std::string form_text(const Cell& error) {
  ErrorId id;
  if (!find_id(error, &id)) return to_text([&](Cell* buffer) { write_invalid(error, buffer); });
  return to_text([&](Cell* buffer) { write_text(error, id, buffer); });
}

void record_raise(const Cell& error, uint32_t where_symbol, NodeId where_context, uint32_t depth) {
  if (error.data1 == 0) return;
  stack::Guard guard;
  stack::push(error);
  if (where_symbol != 0 && field(error, kWhere).is(TYPE_NONE)) {
    Cell where;
    int32_t index = where_context ? context::find_word(where_context, where_symbol, false) : -1;
    if (index >= 0) where = word::make_value(where_symbol, where_context, index);
    else where = global_word(where_symbol);
    set_field(error, kWhere, where);
  }
  if (field(error, kStack).is(TYPE_BLOCK)) return;
  set_field(error, kStack, integer::make(static_cast<int32_t>(depth)));
}

void capture_trace(const Cell& error, uint32_t from) {
  if (!error.is(TYPE_ERROR) || error.data1 == 0) return;
  Cell depth = field(error, kStack);
  if (!depth.is(TYPE_INTEGER) || depth.int_at2() < 0) return;
  int32_t level = trace_depth();
  stack::Guard guard;
  Cell* held = stack::push(error);
  Cell* words = block::push_only(kTraceLength);
  collect_call_words(words, from, static_cast<uint32_t>(depth.int_at2()), level > 0 ? level : 1);
  set_field(*held, kStack, *words);
}

void set_system_parts(const SystemParts& parts) { system_parts = parts; }

int32_t trace_depth() {
  if (system_parts.trace_depth == nullptr) return 0;
  Cell depth = system_parts.trace_depth();
  return depth.is(TYPE_INTEGER) && depth.int_at2() > 0 ? depth.int_at2() : 0;
}

Cell prototype() {
  NodeId context = prototype_node();
  return *context::self_cell(context);
}

// --- The word of the call --------------------------------------------------------------------

namespace {
// The innermost named frame, or null.
stack::Frame* named_frame() {
  for (stack::Frame* f = stack::frame_top - 1; f >= stack::frame_bottom; --f) {
    uint32_t symbol = f->symbol();
    if (symbol != 0 && symbol != runtime_words::angled_body && symbol != runtime_words::angled_anon) return f;
  }
  return nullptr;
}

Cell anonymous_word() { return word::make_value(runtime_words::angled_anon, 0, -1); }

bool is_callable(TypeId type) {
  return type == TYPE_NATIVE || type == TYPE_ACTION || type == TYPE_OP || type == TYPE_FUNCTION ||
         type == TYPE_ROUTINE;
}

// The value a frame called: the function whose context the frame runs, or
// the value of the frame's word in its context.
bool called_value(const stack::Frame& frame, Cell* out) {
  if (frame.function_context != 0) {
    Cell self = *context::self_cell(frame.function_context);
    if (is_callable(self.type())) {
      *out = self;
      return true;
    }
  }
  NodeId contexts[2] = {frame.word_context, context::global()};
  for (NodeId context : contexts) {
    if (context == 0) continue;
    int32_t index = context::find_word(context, frame.symbol(), true);
    Cell* values = context::values_head(context);
    if (index < 0 || values == nullptr) continue;
    if (!context::on_stack(context) &&
        static_cast<uint32_t>(index) >= memory::buffer_of(context::values_node(context))->cell_count())
      continue;
    if (is_callable(values[index].type())) {
      *out = values[index];
      return true;
    }
  }
  return false;
}
}  // namespace

// A word of the global context once words exist; before the symbol table
// (errors during start-up) a bare cell naming the symbol.
Cell call_word() {
  uint32_t symbol = stack::call_symbol();
  if (!words_exist()) return make_cell(TYPE_WORD, 0, symbol, word::kUnresolved);
  if (symbol == 0) symbol = runtime_words::angled_anon;
  if (symbol == 0) return make_cell(TYPE_WORD, 0, 0, word::kUnresolved);
  return global_word(symbol);
}

Cell call_argument_word(int index) {
  if (!words_exist()) return make_cell(TYPE_WORD, 0, 0, word::kUnresolved);
  stack::Frame* frame = named_frame();
  Cell callee;
  if (frame == nullptr || !called_value(*frame, &callee) || callee.data2 == 0) return anonymous_word();
  // The interface block's argument words (word!, lit-word!, get-word!) and refinements,
  // counted from 0; doc strings, type blocks and return: are passed over.
  SeriesBuffer* spec = memory::buffer_of(callee.data2);
  int counted = 0;
  for (uint32_t i = 0; i < spec->cell_count(); ++i) {
    const Cell& item = spec->cells()[i];
    TypeId type = item.type();
    if (type != TYPE_WORD && type != TYPE_LIT_WORD && type != TYPE_GET_WORD && type != TYPE_REFINEMENT) continue;
    if (counted++ == index) return word::make_value(word::symbol_of(item), 0, -1);
  }
  return anonymous_word();
}

// --- Action handlers ------------------------------------------------------------------------

Cell* make(Cell*, Cell* spec, TypeId) {
  Cell given = *spec;
  stack::push(given);
  Cell* error = push_error();
  Cell made = *error;
  set_near(made);
  switch (given.type()) {
    case TYPE_INTEGER: {
      int32_t code = given.int_at2();
      if (code < 0 || code / 100 >= kErrorCategoryCount) fire(ErrorId::script_out_of_range, &given);
      int category = code / 100;
      set_field(made, kCode, given);
      set_field(made, kType, global_word(symbol::make(category_info(static_cast<ErrorCategory>(category)).word)));
      // The id at the code's position in its category, when there is one.
      for (int i = 0; i < kErrorIdCount; ++i) {
        const ErrorInfo& info = error_info(static_cast<ErrorId>(i));
        if (static_cast<int>(info.category) == category && info.number - 2 == code % 100) {
          set_field(made, kId, global_word(symbol::make(info.word)));
          break;
        }
      }
      break;
    }
    case TYPE_BLOCK: {
      Cell* head = block::rs_length(&given) > 0 ? block::rs_head(&given) : nullptr;
      if (head != nullptr && head->is(TYPE_WORD)) {
        // [category id arg1 arg2 arg3]: a catalog error named by its words.
        Cell category_word = head[0];
        Cell id_word = block::rs_length(&given) > 1 ? head[1] : none::value;
        int category = category_of_symbol(canonical_symbol(category_word));
        if (category < 0) fire(ErrorId::internal_invalid_error, &category_word);
        ErrorId id;
        if (!find_in_category(category, canonical_symbol(id_word), &id)) fire(ErrorId::internal_invalid_error, &id_word);
        set_identity(made, id);
        int32_t length = block::rs_length(&given);
        for (int32_t n = 2; n < length && n < 5; ++n)
          set_field(made, static_cast<Field>(kArg1 + n - 2), block::rs_head(&given)[n]);
      } else {
        if (!object::run_spec(made, given)) return stack::arguments();
        ErrorId id;
        if (field(made, kCode).is(TYPE_NONE) && find_id(made, &id)) {
          const ErrorInfo& info = error_info(id);
          set_field(made, kCode, integer::make(category_info(info.category).code + info.number - 2));
        }
      }
      break;
    }
    case TYPE_STRING:
      set_identity(made, ErrorId::user_message);
      set_field(made, kArg1, given);
      break;
    default: {
      Cell wanted = datatype::make(TYPE_ERROR);
      fire_bad_to_arg(&wanted, &given);
    }
  }
  return error;
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
  Cell error = *value;
  uint32_t before = string::rs_length(buffer);
  ErrorId id;
  if (!find_id(error, &id)) {
    Cell offending = field(error, kType);
    if (category_of_symbol(canonical_symbol(offending)) >= 0) offending = field(error, kId);
    fire(ErrorId::internal_invalid_error, &offending);
  }
  write_text(error, id, buffer);
  return part - static_cast<int32_t>(string::rs_length(buffer) - before);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent) {
  Cell error = *value;
  if (error.data1 == 0) {
    string::concatenate_literal(buffer, "make error! []");
    return part - 14;
  }
  if (!only) {
    string::concatenate_literal(buffer, "make error! [");
    part -= 13;
  }
  part = object::write_body(error, buffer, all, flat, !only, arg, part, indent);
  if (!only) {
    string::concatenate_literal(buffer, "]");
    --part;
  }
  return part;
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
  if (!value2->is(TYPE_ERROR)) return kNotComparable;
  return object::compare(value1, value2, op);
}

}  // namespace kel::error_value

namespace kel::error_type {

void init() {
  // The runtime raises and reports errors through these entries.
  upcalls::table.make_error = error_value::create;
  upcalls::table.record_raise = error_value::record_raise;
  upcalls::table.error_text = error_value::form_text;
  upcalls::table.raise_expect_arg = raise_expect_arg;
  DatatypeRecord record(TYPE_ERROR, TYPE_OBJECT, "error!");
  record.handle<Action::make>(error_value::make)
      .inherit(Action::reflect)
      .handle<Action::form>(error_value::form)
      .handle<Action::mold>(error_value::mold)
      .inherit(Action::eval_path)
      .handle<Action::compare>(error_value::compare)
      .inherit(Action::copy)
      .inherit(Action::find)
      .inherit(Action::select);
  register_datatype(record);
}

}  // namespace kel::error_type
