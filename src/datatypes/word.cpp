// word! and the word kinds that wrap it: lit-word!, set-word!, get-word!
// and refinement! (see word.h; issue! is in issue.cpp).
//
// The constructors bind in the global context; the value helpers are the
// interpreter's and compiled code's way to read and write variables; the
// action handlers (make/to, form, mold, compare, index?) serve the five kinds
// that inherit them from word!.
#include "datatypes/word.h"

#include <string>

#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "runtime/stack.h"
#include "runtime/action_slots.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "datatypes/runtime_words.h"
#include "runtime/series_tail.h"
#include "runtime/root_block.h"
#include "runtime/unicode.h"
#include "runtime/upcalls.h"

namespace kel::word {

namespace {

// The global word of a symbol as a value: the index found (case flag set,
// so a variant spelling shares its canonical slot) or added.
Cell global_word(uint32_t symbol) {
  Cell* found = context::add_global(symbol, true, false);
  return make_value(symbol, context::global(), index_of(*found));
}
}  // namespace

// --- Constructors -------------------------------------------------------------------

Cell* load(const char* name) {
  uint32_t symbol = symbol::make(name);
  Cell* found = context::add_global(symbol, true, true);
  if (context::word_recording()) return root::keep(Cell(*found));
  return found;
}

Cell* make_at(uint32_t symbol, Cell* cell) {
  Cell value = global_word(symbol);
  *cell = value;
  return cell;
}

Cell* make_in_result(uint32_t symbol) { return make_at(symbol, stack::arguments()); }

Cell* append_to(const Cell* block, uint32_t symbol) {
  Cell value = global_word(symbol);
  return append_value(block, value);
}

Cell* append_name(const char* name, const Cell* block) { return append_to(block, symbol::make(name)); }

Cell* push_global(uint32_t symbol) { return stack::push(global_word(symbol)); }

Cell* push(const Cell& cell) { return stack::push(cell); }

Cell* keep_in_root(const Cell& cell) { return root::keep(cell); }

Cell* at(NodeId context, uint32_t index) { return context::word_at(context, index); }

Cell* push_local(NodeId context, uint32_t index) { return stack::push(*at(context, index)); }

// --- Values -------------------------------------------------------------------------

Cell* get_symbol(const Cell& word) { return symbol::get(symbol_of(word)); }

Cell* get(const Cell* word) {
  Cell value = *context::get(word);
  if (value.is(TYPE_UNSET)) fire(ErrorId::script_no_value, word);
  return stack::push(value);
}

Cell* push_value_of(const Cell* word) {
  Cell value = *context::get(word);
  return stack::push(value);
}

void check_result(Cell* out) {
  Cell value = *stack::arguments();
  if (value.is(TYPE_UNSET)) fire(ErrorId::script_need_value, out);
  *out = value;
}

Cell* get_in(NodeId context, uint32_t index) { return context::values_head(context) + index; }

Cell* push_value(NodeId context, uint32_t index) {
  Cell* head = context::values_head(context);
  if (head == nullptr) {
    Cell named = *at(context, index);
    fire(ErrorId::script_not_defined, &named);
  }
  return stack::push(head[index]);
}

namespace {
// Copies a value into a heap context's slot, marking an object's field.
Cell* store(NodeId context, uint32_t index, const Cell& value) {
  if (context::kind(context) == context::kObjectKind) at(context, index)->header |= flags::kFieldSet;
  Cell* slot = context::values_head(context) + index;
  *slot = value;
  return slot;
}
}  // namespace

Cell* set_value(NodeId context, uint32_t index) { return store(context, index, *stack::get_top()); }

Cell* set_value_from_result(NodeId context, uint32_t index) {
  Cell value = *stack::arguments();
  store(context, index, value);
  return stack::arguments();
}

void set_value_keep_old(NodeId context, uint32_t index) {
  Cell old = context::values_head(context)[index];
  store(context, index, *stack::get_top());
  stack::push(old);
}

Cell* set_from_frame() {
  Cell* frame = stack::arguments();
  Cell value = frame[1];
  if (value.is(TYPE_UNSET)) fire(ErrorId::script_need_value, frame);
  context::set(frame, value);
  stack::set_last_reset(value);
  return stack::arguments();
}

bool any_type_q(const Cell& word) {
  return symbol::resolve(symbol_of(word)) == symbol::resolve(runtime_words::any_type);
}

// --- Lexing names -------------------------------------------------------------------

TypeId scan_text(std::string_view utf8, Cell* out) {
  return upcalls::table.scan_word ? upcalls::table.scan_word(utf8, out) : 0;
}

TypeId lex_type(const Cell& word) {
  if (upcalls::table.scan_word == nullptr) return 0;
  std::string name(symbol::name(symbol_of(word)));
  return upcalls::table.scan_word(name, nullptr);
}

// --- Action handlers ----------------------------------------------------------------

namespace {
[[noreturn]] void bad_to_arg(TypeId type, const Cell* spec) {
  Cell target = datatype::make(type);
  fire_bad_to_arg(&target, spec);
}

// The ASCII text of a plain name, or false: an ASCII letter, then
// letters, digits and the marks - _ ? ! only. No other datatype's literal
// reads like that, so such a text needs no scan (the keys of a decoded
// JSON object go this way by the thousand). A text of any unit width may
// hold one.
bool plain_name(SeriesBuffer* buffer, uint32_t from, std::string* name) {
  uint32_t unit = buffer->unit();
  uint32_t to = buffer->used() / unit;
  if (from >= to) return false;
  const uint8_t* text = buffer->head_ptr();
  auto letter = [](uint32_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  name->clear();
  for (uint32_t i = from; i < to; ++i) {
    uint32_t c = string::get_char(text + uint64_t{i} * unit, unit);
    bool fits = letter(c) || (i > from && ((c >= '0' && c <= '9') || c == '-' || c == '_' || c == '?' || c == '!'));
    if (!fits) return false;
    name->push_back(static_cast<char>(c));
  }
  return true;
}

// Loads text as exactly one value of a word type, retyped to the target.
Cell* make_from_text(const std::string& utf8, TypeId type) {
  Cell loaded = make_cell(TYPE_UNSET);
  TypeId loaded_type = upcalls::table.scan_word ? upcalls::table.scan_word(utf8, &loaded) : 0;
  if (loaded_type == 0 || !is_any_word(loaded.type())) fire(ErrorId::script_invalid_chars);
  loaded.set_type(type);
  return stack::set_result(loaded);
}
}  // namespace

Cell* make_to(Cell*, Cell* spec, TypeId type) {
  switch (spec->type()) {
    case TYPE_DATATYPE: {
      uint32_t symbol = type_name(spec->data1).symbol;
      if (symbol == 0) symbol = symbol::make(type_name(spec->data1).name);
      Cell result = global_word(symbol);
      return stack::set_result(result.set_type(type));
    }
    case TYPE_LOGIC: {
      Cell result = global_word(spec->data1 ? runtime_words::true_ : runtime_words::false_);
      return stack::set_result(result.set_type(type));
    }
    case TYPE_STRING: {
      std::string name;
      if (plain_name(series::buffer_of(spec), series::index_of(*spec), &name)) {
        Cell result = global_word(symbol::make_from_text(name.data(), static_cast<uint32_t>(name.size())));
        return stack::set_result(result.set_type(type));
      }
      int32_t part = -1;
      std::string text = unicode::to_utf8(spec, &part);
      return make_from_text(text, type);
    }
    case TYPE_CHAR: {
      uint8_t bytes[4];
      int32_t length = unicode::encode_char(spec->data2, bytes);
      return make_from_text(std::string(reinterpret_cast<char*>(bytes), static_cast<size_t>(length)), type);
    }
    case TYPE_WORD:
    case TYPE_SET_WORD:
    case TYPE_LIT_WORD:
    case TYPE_GET_WORD: {
      Cell result = *spec;
      return stack::set_result(result.set_type(type));
    }
    case TYPE_REFINEMENT:
    case TYPE_ISSUE: {
      switch (lex_type(*spec)) {
        case TYPE_WORD:
        case TYPE_SET_WORD:
        case TYPE_GET_WORD:
        case TYPE_LIT_WORD:
          break;
        default:
          bad_to_arg(type, spec);
      }
      Cell result = *spec;
      context::bind_word(context::global(), &result);
      return stack::set_result(result.set_type(type));
    }
    default:
      bad_to_arg(type, spec);
  }
}

// Most names are ASCII: their UTF-8 bytes are their code points, copied in
// one go (the name's series is pinned while the output grows). Other names
// are copied from the cached string one code point at a time.
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
  uint32_t symbol = symbol_of(*value);
  bool limited = arg != nullptr && part >= 0;
  std::string_view utf8 = symbol::name(symbol);
  bool ascii = true;
  for (char byte : utf8) ascii = ascii && static_cast<uint8_t>(byte) < 0x80;
  if (ascii) {
    auto length = static_cast<uint32_t>(utf8.size());
    uint32_t count = limited && static_cast<uint32_t>(part) < length ? static_cast<uint32_t>(part) : length;
    Pin pin(symbol::record(symbol)->data3);
    string::concatenate_literal_part(buffer, utf8.data(), count);
    return part - static_cast<int32_t>(length);
  }
  Cell name = string::make_value(symbol::get_string(symbol));
  uint32_t length = string::rs_length(&name);
  uint32_t count = limited && static_cast<uint32_t>(part) < length ? static_cast<uint32_t>(part) : length;
  for (uint32_t i = 0; i < count; ++i) string::append_char(string::buffer_of(buffer), string::rs_abs_at(&name, i));
  return part - static_cast<int32_t>(length);
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* arg, int32_t part, int32_t) {
  const char* before = nullptr;
  const char* after = nullptr;
  switch (value->type()) {
    case TYPE_LIT_WORD: before = "'"; break;
    case TYPE_GET_WORD: before = ":"; break;
    case TYPE_REFINEMENT: before = "/"; break;
    case TYPE_ISSUE: before = "#"; break;
    case TYPE_SET_WORD: after = ":"; break;
    default: break;
  }
  if (before) {
    string::concatenate_literal(buffer, before);
    --part;
  }
  part = form(value, buffer, arg, part);
  if (after) {
    string::concatenate_literal(buffer, after);
    --part;
  }
  return part;
}

namespace {
bool word_and_lit_word(TypeId a, TypeId b) {
  return (a == TYPE_WORD && b == TYPE_LIT_WORD) || (a == TYPE_LIT_WORD && b == TYPE_WORD);
}
}  // namespace

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
  TypeId type1 = value1->type();
  TypeId type2 = value2->type();
  if (!is_any_word(type2)) return kNotComparable;
  if (type2 == TYPE_ISSUE && type1 != TYPE_ISSUE) return kNotComparable;
  uint32_t symbol1 = symbol_of(*value1);
  uint32_t symbol2 = symbol_of(*value2);
  bool same_canonical = symbol::resolve(symbol1) == symbol::resolve(symbol2);
  bool strict = type1 == type2 && symbol1 == symbol2;
  switch (op) {
    case kCmpEqual:
    case kCmpNotEqual:
    case kCmpFind:
      return same_canonical ? 0 : 1;
    case kCmpStrictEqual:
      return strict ? 0 : 1;
    case kCmpSame:
      return strict && context_of(*value1) == context_of(*value2) ? 0 : 1;
    case kCmpStrictWord:
      if (word_and_lit_word(type1, type2)) return symbol1 == symbol2 ? 0 : 1;
      return strict ? 0 : 1;
    case kCmpWord:
      if (word_and_lit_word(type1, type2)) return same_canonical ? 0 : 1;
      return type1 == type2 && same_canonical ? 0 : 1;
    default:
      return symbol::compare_names(symbol1, symbol2, op);
  }
}

Cell* index_q() {
  int32_t index = index_of(*stack::arguments());
  if (index < 0) return none::set_result();
  return stack::set_result(integer::make(index + 1));
}

void init() {
  DatatypeRecord record(TYPE_WORD, TYPE_SYMBOL, "word!");
  record.handle<Action::make>(make_to)
      .handle<Action::to>(make_to)
      .handle<Action::form>(form)
      .handle<Action::mold>(mold)
      .handle<Action::compare>(compare)
      .handle<Action::index_q>(index_q);
  register_datatype(record);
}

void init_type_names() {
  TypeId highest = highest_registered_type();
  for (TypeId type = 1; type <= highest; ++type) {
    const char* name = type_name(type).name;
    if (name == nullptr) continue;
    Cell* loaded = load(name);
    set_type_symbol(type, symbol_of(*loaded));
  }
}

}  // namespace kel::word

// --- The word kinds ---------------------------------------------------------------------
//
// Each kind's helpers are the word! ones with the kind's type set on the
// result; one definition serves all four.

namespace kel::word {
namespace {
Cell* retype(Cell* cell, TypeId type) {
  cell->set_type(type);
  return cell;
}

Cell* set_in_frame() {
  Cell* frame = stack::arguments();
  Cell value = frame[1];
  context::set(frame, value);
  stack::set_last_reset(value);
  return stack::arguments();
}

Cell* get_in_frame() {
  Cell value = *context::get(stack::arguments());
  return stack::set_result(value);
}

Cell* kind_load(const char* name, TypeId type) {
  Cell* loaded = load(name);
  // Without recording, load answers the global table's own word cell, which
  // must stay a word!: the kind is set on a pushed copy.
  if (!context::word_recording()) loaded = stack::push(*loaded);
  return retype(loaded, type);
}

// Registers a kind that has its own mold and inherits the rest from word!
// (index? only where the kind supports it).
void register_kind(TypeId type, const char* name, bool has_index) {
  DatatypeRecord record(type, TYPE_WORD, name);
  record.handle<Action::mold>(mold)
      .inherit(Action::make)
      .inherit(Action::to)
      .inherit(Action::form)
      .inherit(Action::compare);
  if (has_index) record.inherit(Action::index_q);
  register_datatype(record);
}
}  // namespace
}  // namespace kel::word

#define KEL_WORD_KIND(space, type, name, has_index)                                   \
  namespace kel::space {                                                             \
  Cell* append_name(const char* text, const Cell* block) {                           \
    return word::retype(word::append_name(text, block), type);                       \
  }                                                                                  \
  Cell* push(const Cell& cell) { return word::retype(word::push(cell), type); }       \
  Cell* push_local(NodeId context, uint32_t index) {                                 \
    return word::retype(word::push_local(context, index), type);                     \
  }                                                                                  \
  Cell* set() { return word::set_in_frame(); }                                       \
  void init() { word::register_kind(type, name, has_index); }                        \
  }

KEL_WORD_KIND(lit_word, TYPE_LIT_WORD, "lit-word!", true)
KEL_WORD_KIND(set_word, TYPE_SET_WORD, "set-word!", true)
KEL_WORD_KIND(get_word, TYPE_GET_WORD, "get-word!", true)
KEL_WORD_KIND(refinement, TYPE_REFINEMENT, "refinement!", false)
#undef KEL_WORD_KIND

namespace kel::lit_word {
Cell* load(const char* name) { return word::kind_load(name, TYPE_LIT_WORD); }
Cell* get() { return word::get_in_frame(); }
}  // namespace kel::lit_word

namespace kel::set_word {
Cell* load(const char* name) { return word::kind_load(name, TYPE_SET_WORD); }
Cell* get() { return word::get_in_frame(); }
}  // namespace kel::set_word

namespace kel::get_word {
Cell* load(const char* name) { return word::kind_load(name, TYPE_GET_WORD); }
Cell* get(const Cell* word_cell) { return word::push_value_of(word_cell); }
}  // namespace kel::get_word

namespace kel::refinement {
Cell* load(const char* name) {
  uint32_t symbol = symbol::make(name);
  return root::keep(word::make_value(symbol, 0, -1, TYPE_REFINEMENT));
}
Cell* get() { return word::get_in_frame(); }
}  // namespace kel::refinement
