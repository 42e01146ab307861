// The owner table (see ownership.h).
//
// Entries are [owned value, owner object, field word], keyed by the owned
// value's node. The owned flag on a buffer and the entry go together: a
// value is flagged exactly while it has an entry. The table holds no value
// alive: the collector's sweep hook drops entries whose value or owner was
// not reached, then marks the table's own buffers without walking the
// entries (every entry left names only values that were reached).
#include "datatypes/ownership.h"

#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/hash_table.h"
#include "datatypes/runtime_words.h"

namespace kel::ownership {

namespace {
NodeId owner_table = 0;
constexpr uint32_t kEntryCells = 3;
constexpr uint32_t kInitialEntries = 32;

bool is_container(TypeId type) {
  return type == TYPE_BLOCK || type == TYPE_PAREN || type == TYPE_HASH ||
         (type >= TYPE_PATH && type <= TYPE_GET_PATH);
}

void mark_directly(NodeId node) {
  if (node != 0) memory::buffer_of(node)->flags |= series_flags::kMark;
}

// Runs after marking: entries whose value or owner is gone go away, and the
// table itself survives.
void sweep_table() {
  if (owner_table == 0) return;
  hash_table::sweep(owner_table, collector::is_marked);
  hash_table::Record* record = hash_table::record_of(owner_table);
  NodeId parts[] = {owner_table, static_cast<NodeId>(record->flags), static_cast<NodeId>(record->slots),
                    static_cast<NodeId>(record->block)};
  for (NodeId node : parts) mark_directly(node);
}

NodeId ensure_table() {
  if (owner_table == 0) {
    owner_table = hash_table::init(kInitialEntries, nullptr, hash_table::kPointersChecked, kEntryCells);
    collector::add_sweep_hook(sweep_table);
  }
  return owner_table;
}

void set_flag(NodeId node, bool on) {
  SeriesBuffer* b = memory::buffer_of(node);
  if (on) b->flags |= series_flags::kOwned;
  else b->flags &= ~series_flags::kOwned;
}

void own(const Cell& value, const Cell& owner, const Cell& word) {
  NodeId node = key_of(value);
  if (node == 0) return;
  if (memory::buffer_of(node)->flags & series_flags::kOwned) return;
  Cell kept_value = value, kept_owner = owner, kept_word = word;
  Cell* entry = hash_table::put_ptr(ensure_table(), node);
  entry[0] = kept_value;
  entry[1] = kept_owner;
  entry[2] = kept_word;
  set_flag(node, true);
  if (!is_container(kept_value.type())) return;
  if (cycles::find(node)) return;
  cycles::Entry walking(node);
  for (uint32_t i = 0; i < memory::buffer_of(node)->cell_count(); ++i) {
    Cell item = memory::buffer_of(node)->cells()[i];
    if (is_owned_kind(item.type())) own(item, kept_owner, kept_word);
  }
}

void release(const Cell& value) {
  NodeId node = key_of(value);
  if (node == 0) return;
  if ((memory::buffer_of(node)->flags & series_flags::kOwned) == 0) return;
  set_flag(node, false);
  if (owner_table != 0) {
    Cell* entry = hash_table::remove_ptr(owner_table, node);
    if (entry != nullptr)
      for (uint32_t k = 0; k < kEntryCells; ++k) entry[k] = make_cell(TYPE_UNSET);
  }
  if (!is_container(value.type())) return;
  if (cycles::find(node)) return;
  cycles::Entry walking(node);
  for (uint32_t i = 0; i < memory::buffer_of(node)->cell_count(); ++i) {
    Cell item = memory::buffer_of(node)->cells()[i];
    if (is_owned_kind(item.type())) release(item);
  }
}
}  // namespace

void adopt_table(NodeId table) {
  if (table == 0 || owner_table != 0) return;
  owner_table = table;
  collector::add_sweep_hook(sweep_table);
}

bool is_owned_kind(TypeId type) { return series::is_series_kind(type) || type == TYPE_OBJECT; }

NodeId key_of(const Cell& value) {
  if (value.is(TYPE_OBJECT)) return value.data1;
  if (value.is(TYPE_BITSET) || is_owned_kind(value.type())) return value.data2;
  return 0;
}

NodeId table() { return owner_table; }

void set_owner(const Cell& value, const Cell& owner, const Cell& word) {
  if (!is_owned_kind(value.type())) return;
  own(value, owner, word);
}

void set_owner_flagged(const Cell& value, const Cell& owner, const Cell& word) {
  set_owner(value, owner, word);
  if (object::is_object_kind(owner.type()))
    context::cell(object::context_of(owner))->header |= object::kOwnerFlag;
}

void unbind(const Cell& value) { release(value); }

void unbind_range(const Cell& block, uint32_t index, uint32_t count) {
  NodeId node = block.data2;
  for (uint32_t i = index; i < index + count && i < memory::buffer_of(node)->cell_count(); ++i) {
    Cell item = memory::buffer_of(node)->cells()[i];
    if (is_owned_kind(item.type())) release(item);
  }
}

const Cell* get_owner(NodeId node) {
  if (owner_table == 0 || node == 0) return nullptr;
  Cell* entry = hash_table::get_ptr(owner_table, node);
  return entry == nullptr ? nullptr : entry + 1;
}

bool check(const Cell& value, uint32_t action_symbol, const Cell* new_value, int32_t index, int32_t part) {
  NodeId node = key_of(value);
  if (owner_table == 0 || node == 0) return false;
  Cell* entry = hash_table::get_ptr(owner_table, node);
  if (entry == nullptr) return false;
  Cell owner = entry[1];
  Cell word = entry[2];
  if (object::handlers_of(owner) == 0) return false;
  Cell target = value;
  Cell action;
  word::make_at(action_symbol, &action);
  Cell given = new_value != nullptr ? *new_value : make_cell(TYPE_NONE);
  object::fire_on_deep_change(owner, word, target, action, new_value != nullptr ? &given : nullptr, index, part);
  return true;
}

}  // namespace kel::ownership
