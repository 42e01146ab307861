// typeset! (see typeset.h): construction from blocks, the set operations
// on the three bitmap words, and molding by type names.
#include "datatypes/typeset.h"


#include "datatypes/datatype.h"
#include "datatypes/logic.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/action_slots.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "runtime/series_tail.h"
#include "datatypes/argument_checks.h"

namespace kel::typeset {

namespace {
// Operator codes of the bitwise actions and the set natives.
constexpr int32_t kOr = 5;
constexpr int32_t kAnd = 6;
constexpr int32_t kXor = 7;
constexpr int32_t kUnique = 8;
constexpr int32_t kUnion = 9;
constexpr int32_t kIntersect = 10;
constexpr int32_t kExclude = 11;
constexpr int32_t kDifference = 12;

constexpr char kMoldPrefix[] = "make typeset! [";
constexpr int32_t kMoldPrefixLength = 15;
static_assert(sizeof kMoldPrefix - 1 == kMoldPrefixLength);

void or_bits(Cell* into, const Cell& bits) {
  into->data1 |= bits.data1;
  into->data2 |= bits.data2;
  into->data3 |= bits.data3;
}

// The block's cells from its index, read one at a time by position: adding
// a word's value evaluates nothing but may allocate.
template <class Each>
void for_each_cell(const Cell* block, Each&& each) {
  NodeId node = block->data2;
  for (uint32_t i = block->data1; i < memory::buffer_of(node)->cell_count(); ++i) {
    Cell item = memory::buffer_of(node)->cells()[i];
    each(item);
  }
}

// The value of a word, as word/get gives it (unset raises no-value).
Cell value_of(const Cell& word_cell) {
  stack::Guard guard;
  return *word::get(&word_cell);
}

// Removes the last character written to a string.
void drop_last_char(Cell* buffer) {
  SeriesBuffer* b = string::buffer_of(buffer);
  if (b->used() >= b->unit()) b->tail -= b->unit();
}
}  // namespace

void clear_bits(Cell* typeset) {
  typeset->data1 = 0;
  typeset->data2 = 0;
  typeset->data3 = 0;
}

uint32_t count_bits(const Cell& typeset) {
  uint32_t count = 0;
  TypeId highest = highest_registered_type();
  for (TypeId t = 1; t <= highest; ++t)
    if (typeset_has(typeset, t)) ++count;
  return count;
}

Cell* make_in_block(const Cell* block, uint32_t word1, uint32_t word2, uint32_t word3) {
  return append_value(block, make_value(word1, word2, word3));
}

Cell all_value() {
  Cell all = make_value(0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu);
  auto* bytes = reinterpret_cast<uint8_t*>(&all.data1);
  bytes[TYPE_UNSET >> 3] &= static_cast<uint8_t>(~(0x80u >> (TYPE_UNSET & 7)));
  return all;
}

Cell* make_all(const Cell* block) { return append_value(block, all_value()); }

Cell* make_from_block(const Cell* block, const Cell* spec) { return append_value(block, from_block(spec)); }

Cell from_block(const Cell* spec) {
  Cell result = make_value();
  for_each_cell(spec, [&](const Cell& item) {
    Cell value = item.is(TYPE_WORD) ? value_of(item) : item;
    switch (value.type()) {
      case TYPE_DATATYPE: typeset_add(result, value.data1); break;
      case TYPE_TYPESET: or_bits(&result, value); break;
      case TYPE_WORD: typeset_add(result, TYPE_OBJECT); break;
      case TYPE_BLOCK: break;
      default: fire(ErrorId::script_invalid_type_spec, &value);
    }
  });
  return result;
}

void add_type(Cell* typeset, const Cell* value) {
  Cell given = *value;
  Cell resolved = given.is(TYPE_WORD) ? value_of(given) : given;
  switch (resolved.type()) {
    case TYPE_DATATYPE: typeset_add(*typeset, resolved.data1); break;
    case TYPE_TYPESET: or_bits(typeset, resolved); break;
    default: fire(ErrorId::script_invalid_arg, &given);
  }
}

Cell* to_block(const Cell& typeset, Cell* target) {
  Cell bits = typeset;
  *target = make_cell(TYPE_BLOCK, 0, memory::alloc_cells(4), 0);
  TypeId highest = highest_registered_type();
  for (TypeId t = 1; t <= highest; ++t) {
    if (!typeset_has(bits, t)) continue;
    uint32_t symbol = type_name(t).symbol;
    if (symbol == 0) symbol = symbol::make(type_name(t).name);
    word::append_to(target, symbol);
  }
  return target;
}

Cell* do_bitwise(int32_t op) {
  Cell* frame = stack::arguments();
  Cell first = frame[0];
  if (op == kUnique) return stack::set_result(first);
  Cell second = frame[1];
  if (second.is(TYPE_DATATYPE)) {
    TypeId type = second.data1;
    second = make_value();
    typeset_add(second, type);
  } else if (!second.is(TYPE_TYPESET)) {
    fire(ErrorId::script_invalid_arg, &frame[1]);
  }
  Cell result = make_value();
  switch (op) {
    case kOr:
    case kUnion:
      result = make_value(first.data1 | second.data1, first.data2 | second.data2, first.data3 | second.data3);
      break;
    case kAnd:
    case kIntersect:
      result = make_value(first.data1 & second.data1, first.data2 & second.data2, first.data3 & second.data3);
      break;
    case kXor:
    case kDifference:
      result = make_value(first.data1 ^ second.data1, first.data2 ^ second.data2, first.data3 ^ second.data3);
      break;
    case kExclude:
      result = make_value(first.data1 & ~second.data1, first.data2 & ~second.data2, first.data3 & ~second.data3);
      break;
    default:
      fire(ErrorId::script_invalid_arg, &frame[1]);
  }
  return stack::set_result(result);
}

Cell* push(const Cell& typeset) { return stack::push(typeset); }

int32_t mold_names(const Cell& typeset, Cell* buffer, bool only, bool part_flag, int32_t limit) {
  Cell bits = typeset;
  if (!only) {
    string::concatenate_literal(buffer, kMoldPrefix);
    limit -= kMoldPrefixLength;
  }
  bool wrote = false;
  TypeId highest = highest_registered_type();
  for (TypeId t = 1; t <= highest; ++t) {
    if (!typeset_has(bits, t)) continue;
    if (part_flag && limit < 0) return limit;
    const TypeName& name = type_name(t);
    string::concatenate_literal_part(buffer, name.name, name.length + 1);
    string::concatenate_literal(buffer, " ");
    limit -= static_cast<int32_t>(name.length) + 2;
    wrote = true;
  }
  if (only) {
    if (wrote) {
      drop_last_char(buffer);
      ++limit;
    }
    return limit;
  }
  // The closing bracket takes the place of the last separator.
  if (wrote) {
    drop_last_char(buffer);
  } else {
    --limit;
  }
  string::concatenate_literal(buffer, "]");
  return limit;
}

// --- Action handlers ----------------------------------------------------------------

Cell* make_to(Cell*, Cell* spec, TypeId) {
  if (spec->is(TYPE_TYPESET)) return stack::set_result(*spec);
  if (!spec->is(TYPE_BLOCK)) {
    Cell target = datatype::make(TYPE_TYPESET);
    fire_bad_to_arg(&target, spec);
  }
  Cell block = *spec;
  Cell result = make_value();
  for_each_cell(&block, [&](const Cell& item) { add_type(&result, &item); });
  return stack::set_result(result);
}

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
  return mold_names(*value, buffer, false, arg != nullptr, part);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool, bool, Cell* arg, int32_t part, int32_t) {
  return mold_names(*value, buffer, only, arg != nullptr, part);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
  if (!value2->is(TYPE_TYPESET)) return kNotComparable;
  switch (op) {
    case kCmpEqual:
    case kCmpNotEqual:
    case kCmpStrictEqual:
    case kCmpSame:
    case kCmpFind:
      return value1->data1 == value2->data1 && value1->data2 == value2->data2 && value1->data3 == value2->data3
                 ? 0
                 : 1;
    case kCmpSort:
    case kCmpCaseSort: {
      uint32_t count1 = count_bits(*value1);
      uint32_t count2 = count_bits(*value2);
      return count1 == count2 ? 0 : count1 < count2 ? -1 : 1;
    }
    default:
      return kNotComparable;
  }
}

namespace {
Cell* and_t() { return do_bitwise(kAnd); }
Cell* or_t() { return do_bitwise(kOr); }
Cell* xor_t() { return do_bitwise(kXor); }
}  // namespace

Cell* complement(Cell* value) {
  Cell result = make_value(~value->data1, ~value->data2, ~value->data3);
  return stack::set_result(result);
}

Cell* find(Cell* series, Cell* value, int, int, int, int, int, int, int, int, int, int, int) {
  Cell given = *value;
  if (!given.is(TYPE_DATATYPE)) fire(ErrorId::script_invalid_arg, &given);
  bool found = typeset_has(*series, given.data1);
  return stack::set_result(found ? logic::true_value : logic::false_value);
}

void init() {
  DatatypeRecord record(TYPE_TYPESET, 0, "typeset!");
  record.handle<Action::make>(make_to)
      .handle<Action::to>(make_to)
      .handle<Action::form>(form)
      .handle<Action::mold>(mold)
      .handle<Action::compare>(compare)
      .handle<Action::and_t>(and_t)
      .handle<Action::complement>(complement)
      .handle<Action::or_t>(or_t)
      .handle<Action::xor_t>(xor_t)
      .handle<Action::find>(find);
  register_datatype(record);
}

}  // namespace kel::typeset
