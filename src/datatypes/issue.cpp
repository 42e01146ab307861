// issue!: a word kind that is never bound (see word.h). Issues carry the
// global context and index -1; deep binding skips them, so #foo stays a
// plain name however it is used.
#include <string>

#include "datatypes/context.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/datatype_registry.h"
#include "runtime/series_tail.h"
#include "runtime/root_block.h"
#include "runtime/unicode.h"

namespace kel::issue {

namespace {
Cell named(uint32_t symbol) { return word::make_value(symbol, context::global(), -1, TYPE_ISSUE); }
}  // namespace

Cell* append_name(const char* name, const Cell* block) {
  return append_value(block, named(symbol::make(name)));
}

Cell* load(const char* name) {
  Cell value = named(symbol::make(name));
  if (context::word_recording()) return root::keep(value);
  return stack::push(value);
}

Cell* make_at(Cell* cell, const char* name) {
  Cell value = named(symbol::make(name));
  *cell = value;
  return cell;
}

Cell* push(const Cell& cell) {
  Cell value = cell;
  return stack::push(value.set_type(TYPE_ISSUE));
}

// Text becomes an issue as it is: no lexer check, so #"a b" is possible.
Cell* make_to(Cell* proto, Cell* spec, TypeId type) {
  switch (spec->type()) {
    case TYPE_STRING: {
      int32_t part = -1;
      std::string utf8 = unicode::to_utf8(spec, &part);
      uint32_t symbol = symbol::make(utf8);
      return stack::set_result(named(symbol).set_type(type));
    }
    case TYPE_CHAR: {
      uint8_t bytes[4];
      int32_t length = unicode::encode_char(spec->data2, bytes);
      uint32_t symbol = symbol::make_from_text(reinterpret_cast<const char*>(bytes), static_cast<uint32_t>(length));
      return stack::set_result(named(symbol).set_type(type));
    }
    case TYPE_WORD:
    case TYPE_SET_WORD:
    case TYPE_LIT_WORD:
    case TYPE_GET_WORD:
    case TYPE_REFINEMENT:
    case TYPE_ISSUE: {
      Cell value = *spec;
      return stack::set_result(value.set_type(type));
    }
    default:
      return word::make_to(proto, spec, type);
  }
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent) {
  return word::mold(value, buffer, only, all, flat, arg, part, indent);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
  if (!value2->is(TYPE_ISSUE)) return kNotComparable;
  return word::compare(value1, value2, op);
}

void init() {
  DatatypeRecord record(TYPE_ISSUE, TYPE_WORD, "issue!");
  record.handle<Action::make>(make_to)
      .handle<Action::to>(make_to)
      .handle<Action::mold>(mold)
      .handle<Action::compare>(compare)
      .inherit(Action::form);
  register_datatype(record);
}

}  // namespace kel::issue
