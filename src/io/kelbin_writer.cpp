// The kelbin writers' shared state (see kelbin_internal.h): the symbol
// table in the order of first use, the table of what was written where,
// and the rules both layouts follow to decide how a value is written.
//
// Symbols and nodes are dense small integers, so both tables are vectors
// indexed by them. The path entries form a tree: an entry names the entry
// of the container it lies in and its record index there, so remembering a
// value costs one entry and the path is rebuilt only when it is written.
#include <algorithm>

#include "datatypes/context.h"
#include "datatypes/object.h"
#include "io/kelbin_internal.h"
#include "runtime/errors.h"

namespace kel::kelbin {

uint32_t Encoder::symbol_index(uint32_t symbol) {
  if (symbol >= index_of_symbol_.size()) index_of_symbol_.resize(size_t{symbol} + 1 + index_of_symbol_.size() / 2, 0);
  uint32_t& slot = index_of_symbol_[symbol];
  if (slot == 0) {
    symbols_.push_back(symbol);
    slot = static_cast<uint32_t>(symbols_.size());
  }
  return slot - 1;
}

uint32_t Encoder::remember(NodeId node) {
  entries_.push_back(Entry{current_, record_index_});
  auto entry = static_cast<uint32_t>(entries_.size() - 1);
  if (node == 0) return entry;
  if (node >= entry_of_node_.size()) entry_of_node_.resize(size_t{node} + 1 + entry_of_node_.size() / 2, 0);
  entry_of_node_[node] = entry;
  return entry;
}

void Encoder::path_of(uint32_t entry, std::vector<uint32_t>* out) const {
  out->clear();
  for (uint32_t at = entry; at != 0; at = entries_[at].parent) out->push_back(entries_[at].index);
  std::reverse(out->begin(), out->end());
}

Encoder::Nesting::Nesting(Encoder& encoder) : encoder_(encoder) {
  if (++encoder_.depth_ > kMaxDepth) {
    --encoder_.depth_;
    fire(ErrorId::internal_too_deep);
  }
}

void Encoder::no_codec(const Cell& value) { fire(ErrorId::access_no_codec, &value); }

bool Encoder::bound_owner(const Cell& word, Cell* owner) {
  NodeId context = word.data1;
  if (context == 0 || context == context::global()) return false;
  Cell self = *context::self_cell(context);
  // Only an object's or a function's binding travels; any other context
  // (a native's, a loop's, an error's) reads as the global one.
  if (!(self.is(TYPE_OBJECT) || self.is(TYPE_FUNCTION)) || self.data1 != context) return false;
  *owner = self;
  return true;
}

void Encoder::handler_indexes(const Cell& object, int32_t* on_change, int32_t* on_deep_change) {
  NodeId handlers = object::handlers_of(object);
  int32_t* indexes[2] = {on_change, on_deep_change};
  for (uint32_t k = 0; k < 2; ++k) {
    uint32_t field = memory::buffer_of(handlers)->cells()[k].data2 >> 16;
    *indexes[k] = field == object::kNoHandler ? -1 : static_cast<int32_t>(field);
  }
}

ContextForm Encoder::context_form(NodeId context) {
  ContextForm form;
  Cell* cell = context::cell(context);
  form.kind = context::kind(context);
  form.stack = context::on_stack(context);
  form.self = (cell->header & context::kObjectFlag) != 0;
  uint32_t count = context::word_count(context);
  form.symbols.reserve(count);
  for (uint32_t i = 0; i < count; ++i) form.symbols.push_back(context::word_at(context, i)->data2);
  if (!form.stack) {
    const Cell* values = context::values_head(context);
    for (uint32_t i = 0; i < count && !form.values; ++i) form.values = !values[i].is(TYPE_UNSET);
  }
  return form;
}

}  // namespace kel::kelbin
