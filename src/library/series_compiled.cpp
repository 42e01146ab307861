// Compiled body of rejoin (see series_compiled.h).
//
// The Kel body reduces the block, then appends the rest of the values to a
// copy of the first (a series) or to the first formed. Appending a block to
// a text forms each of its values in turn onto the text, so the routine
// forms each further value straight onto the result. It reduces the block
// onto the stack in one walk, making sure that reducing runs nothing and
// that every value it gives has a form written by C++ alone, then forms the
// values onto the result: nothing but C++ forming runs meanwhile, and the
// values on the stack stay in reach of a collection. A block too long for
// the room left on the stack goes to the Kel body, which reduces into a
// block.
#include "library/series_compiled.h"

#include <algorithm>

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

// Reduces the block from index from onto the stack, one cell per value
// (without the new-line markers the interpreter drops), when that runs
// nothing; false (the stack then holds part of them) otherwise.
bool reduce_plainly(const Cell& block, uint32_t from) {
  uint32_t count = block::length_from_head(&block);
  // Room for the values, the text and what forming pushes.
  constexpr uint32_t kSpare = 64;
  if (static_cast<uint64_t>(stack::value_end - stack::top) < uint64_t{count - from} + kSpare) return false;
  for (uint32_t i = from; i < count; ++i) {
    const Cell* value = plain_value(block::buffer_of(&block)->cells()[i]);
    if (value == nullptr) return false;
    clear_new_line(stack::push(*value));
  }
  return true;
}

// The whole form of a value, with no /part limit.
constexpr int32_t kWholeForm = 0x7FFFFFFF;
}  // namespace

void rejoin() {
  const Cell block = stack::arguments()[0];
  uint32_t from = series::index_of(block);
  if (from >= block::length_from_head(&block)) {
    // Reducing gives a new empty block, which rejoin answers as it is.
    Cell empty;
    block::make_at(&empty, 1);
    stack::set_last(empty);
    return;
  }
  Cell result;
  {
    // The reduced values stay on the stack, where a collection sees them,
    // while the text is made; they leave it at the end (an error leaves it
    // to the frame that catches it, which drops the values above it).
    Cell* values = stack::top;
    if (!reduce_plainly(block, from) || in_types(kOtherSeries, values[0].type())) {
      result.header = 0;
    } else {
      auto count = static_cast<uint32_t>(stack::top - values);
      Cell* text;
      if (in_types(kCopiedFirst, values[0].type())) {
        // copy: from the index (clamped to the tail) to the tail.
        uint32_t length = series::rs_length_from_head(values);
        uint32_t start = std::min(series::index_of(values[0]), length);
        text = stack::push(series::copy_units(values, start, length - start));
      } else {
        text = string::push_new(16);
        actions::form(values, text, nullptr, kWholeForm);
      }
      // Forming runs no Kel code: the values below the text stay as they are.
      for (uint32_t i = 1; i < count; ++i) actions::form(values + i, text, nullptr, kWholeForm);
      result = *text;
    }
    stack::top = values;
  }
  if (result.header == 0) return compiled::run_kel_body();
  stack::set_last(result);
}

}  // namespace kel::series_compiled
