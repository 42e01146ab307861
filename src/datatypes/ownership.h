// Ownership: which object owns a series or an object held in one of its
// fields, so that a change deep inside the value (an append to a block in a
// field, a character changed in a string) reaches the owner's
// `on-deep-change*` handler.
//
// The owner table is a node-keyed hash table (hash_table kind 4) whose
// entries hold three cells: the owned value, the owner object and the
// owner's field word. The key is the node of the owned series (data2 of its
// cell) or the context node of an owned object (data1). An owned series
// buffer carries series_flags::kOwned (an owned object, the flag on its
// context's buffer), so modifying code pays one flag test before asking the
// table; the owner's context cell carries object::kOwnerFlag.
//
// Containers (blocks, parens, paths, hash!) are owned together with every
// value inside them, by the same owner and field; a container met inside
// itself is owned once. The table is made on first use and keeps no value
// alive: at each collection, entries whose value or owner was not reached
// are dropped.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::ownership {

// The types whose values can be owned.
bool is_owned_kind(TypeId type);

// The node a value is keyed by in the owner table (0 for other types).
NodeId key_of(const Cell& value);

// Whether the value is flagged as owned: the one test modifying code makes
// before calling check().
inline bool is_owned(const Cell& value) {
  NodeId node = key_of(value);
  return node != 0 && (memory::buffer_of(node)->flags & series_flags::kOwned) != 0;
}

// The test for a series cell whose type is known to be a series: its buffer
// carries the owned flag.
inline bool series_owned(const Cell& series) {
  return (memory::buffer_of(series.data2)->flags & series_flags::kOwned) != 0;
}

// Records the owner and field word of a value that is of an owned kind and
// not owned yet, and then of every value inside it when it is a container.
void set_owner(const Cell& value, const Cell& owner, const Cell& word);
// set_owner, then flags the owner's context as an owner.
void set_owner_flagged(const Cell& value, const Cell& owner, const Cell& word);
// Forgets the owner of a value (and of the values inside a container).
void unbind(const Cell& value);
// The same for count cells of a block from an index (0-based, absolute).
void unbind_range(const Cell& block, uint32_t index, uint32_t count);
// The owner object of a keyed node, or null when it has none. The address
// points into the table: read it before anything that may allocate.
const Cell* get_owner(NodeId node);

// Takes an owner table over with its collector hook: a start from the
// boot image's heap takes the table the boot made (see table below).
void adopt_table(NodeId table);

// Tells the owner of a changed value about the change: the action word
// (append, appended, change ...), the value put in (null when none), the
// index (0-based from the head) and the part (cells or characters
// concerned). Answers true when a notification was sent.
bool check(const Cell& value, uint32_t action_symbol, const Cell* new_value, int32_t index,
           int32_t part);

// The table's node (0 before first use).
NodeId table();

}  // namespace kel::ownership
