// Compiled body of rejoin (see series_compiled.h).
//
// The Kel body reduces the block, then appends the rest of the values to a
// copy of the first (a series) or to the first formed. Appending a block to
// a text forms each of its values in turn onto the text, so the routine
// forms each further value straight onto the result. It first walks the
// block once to make sure that reducing it runs nothing and that every
// value it gives has a form written by C++ alone; a second walk builds the
// text. Between the walks and during the second one nothing but C++ forming
// runs, so the words keep the values the first walk saw; the block and the
// word values are read again through their nodes after every allocation.
#include "library/series_compiled.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/series.h"
#include "datatypes/word.h"
#include "library/compiled.h"
#include "runtime/actions.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/string_buffer.h"

namespace kel::series_compiled {

namespace {

constexpr uint64_t type_bit(TypeId type) { return uint64_t{1} << type; }
bool in_types(uint64_t types, TypeId type) { return type < 64 && ((types >> type) & 1) != 0; }

// Values that stand for themselves when evaluated and whose form is plain
// C++ (no object, port, error or date, which may reach Kel code or system
// settings; no block, whose values would need the same check).
constexpr uint64_t kPlainLiterals =
    type_bit(TYPE_NONE) | type_bit(TYPE_LOGIC) | type_bit(TYPE_INTEGER) | type_bit(TYPE_FLOAT) |
    type_bit(TYPE_PERCENT) | type_bit(TYPE_MONEY) | type_bit(TYPE_CHAR) | type_bit(TYPE_PAIR) |
    type_bit(TYPE_TUPLE) | type_bit(TYPE_TIME) | type_bit(TYPE_STRING) | type_bit(TYPE_FILE) |
    type_bit(TYPE_URL) | type_bit(TYPE_TAG) | type_bit(TYPE_EMAIL) | type_bit(TYPE_BINARY) |
    type_bit(TYPE_REFINEMENT) | type_bit(TYPE_DATATYPE);
// A word's value may also be a word of any kind: reducing hands it out as
// it is, and its form is its spelling.
constexpr uint64_t kPlainWordValues = kPlainLiterals | type_bit(TYPE_WORD) | type_bit(TYPE_SET_WORD) |
                                      type_bit(TYPE_LIT_WORD) | type_bit(TYPE_GET_WORD);
// First values that the result copies: text series.
constexpr uint64_t kCopiedFirst =
    type_bit(TYPE_STRING) | type_bit(TYPE_FILE) | type_bit(TYPE_URL) | type_bit(TYPE_TAG) | type_bit(TYPE_EMAIL);
// The other series among the plain values: appending to a binary is no text
// join.
constexpr uint64_t kOtherSeries = type_bit(TYPE_BINARY);

// The value a word has right now, or null when reading it would raise an
// error (an unbound word, a function's word with no call running, an index
// past the values).
const Cell* word_value(const Cell& word) {
  NodeId context = word::context_of(word);
  int32_t index = word::index_of(word);
  if (context == 0 || index < 0) return nullptr;
  Cell* head = context::values_head(context);
  if (head == nullptr) return nullptr;
  if (!context::on_stack(context) &&
      static_cast<uint32_t>(index) >= memory::buffer_of(context::values_node(context))->cell_count())
    return nullptr;
  return head + index;
}

// What reducing a cell gives when that runs nothing and forms plainly, or
// null.
const Cell* plain_value(const Cell& cell) {
  TypeId type = cell.type();
  if (in_types(kPlainLiterals, type)) return &cell;
  if (type != TYPE_WORD) return nullptr;
  const Cell* value = word_value(cell);
  return value != nullptr && in_types(kPlainWordValues, value->type()) ? value : nullptr;
}

// The block's cell at index as reduced (the interpreter hands out values
// without their new-line markers) into *out, or false when the cell is no
// longer one the first walk accepted.
bool reduced_at(const Cell& block, uint32_t index, Cell* out) {
  if (index >= block::length_from_head(&block)) return false;
  const Cell* value = plain_value(block::buffer_of(&block)->cells()[index]);
  if (value == nullptr) return false;
  *out = *value;
  clear_new_line(out);
  return true;
}

// The whole form of a value, with no /part limit.
constexpr int32_t kWholeForm = 0x7FFFFFFF;

// Builds the joined text of the block's values from index from; false when
// the block turned out not to be one the routine handles (the text made so
// far is then dropped, nothing else having changed).
bool join(const Cell& block, uint32_t from, Cell* result) {
  stack::Guard guard;
  Cell first;
  if (!reduced_at(block, from, &first) || in_types(kOtherSeries, first.type())) return false;
  Cell* text;
  if (in_types(kCopiedFirst, first.type())) {
    // copy: from the index (clamped to the tail) to the tail.
    uint32_t length = series::rs_length_from_head(&first);
    uint32_t start = series::index_of(first) < length ? series::index_of(first) : length;
    text = stack::push(series::copy_units(&first, start, length - start));
  } else {
    text = string::push_new(16);
    Cell* formed = stack::push(first);
    actions::form(formed, text, nullptr, kWholeForm);
    stack::pop(1);
  }
  for (uint32_t i = from + 1; i < block::length_from_head(&block); ++i) {
    Cell* value = stack::push_slot();
    if (!reduced_at(block, i, value)) return false;
    actions::form(value, text, nullptr, kWholeForm);
    stack::pop(1);
  }
  *result = *text;
  return true;
}
}  // namespace

void rejoin() {
  const Cell block = stack::arguments()[0];
  uint32_t from = series::index_of(block);
  uint32_t count = block::length_from_head(&block);
  if (from >= count) {
    // Reducing gives a new empty block, which rejoin answers as it is.
    Cell empty;
    block::make_at(&empty, 1);
    stack::set_last(empty);
    return;
  }
  {
    const Cell* cells = block::buffer_of(&block)->cells();
    for (uint32_t i = from; i < count; ++i) {
      const Cell* value = plain_value(cells[i]);
      if (value == nullptr) return compiled::run_kel_body();
      if (i == from && in_types(kOtherSeries, value->type())) return compiled::run_kel_body();
    }
  }

  Cell result;
  if (!join(block, from, &result)) return compiled::run_kel_body();
  stack::set_last(result);
}

}  // namespace kel::series_compiled
