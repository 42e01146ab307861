// hash!: construction, mold, copy, the plain find and select, and the
// re-indexing after sort and take/deep (see hash.h for the cell and the
// table it carries).
//
// Re-indexing a stretch of the block takes every cell of it out of the
// table through the cell-to-bucket array (so the stale keys need not be
// hashed again) and puts the cells back in their new order. sort may be
// interrupted by a comparison function that raises an error: the stretch is
// then re-indexed before the error goes on, so the table never describes
// cells that moved.
//
// Reactive owners hear of sort, trim and take through the block handlers
// these wrap.
#include "datatypes/hash.h"

#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/cycles.h"
#include "runtime/datatype_registry.h"
#include "runtime/hash_table.h"
#include "datatypes/argument_checks.h"

namespace kel::hash {

namespace {

uint32_t length_from_head(const Cell* hash) { return block::buffer_of(hash)->cell_count(); }

uint32_t clamped_index(const Cell* hash) {
  return std::min(hash->data1, length_from_head(hash));
}

// Takes the cells from start to the tail out of the table and indexes them
// again where they now stand.
void reindex_from(const Cell* hash, uint32_t start) {
  NodeId table = hash->data3;
  if (table == 0) return;
  uint32_t length = length_from_head(hash);
  if (start > length) start = length;
  hash_table::remove_range(table, start, length - start);
  hash_table::put_all(table, start, 1);
}

}  // namespace

Cell* index_block(Cell* block, uint32_t size) {
  block->set_type(TYPE_HASH);
  block->data3 = 0;
  // The table covers the whole buffer, whatever the cell's index.
  Cell whole = *block;
  whole.data1 = 0;
  uint32_t cells = length_from_head(block);
  NodeId table = hash_table::init(std::max({size, cells, 1u}), &whole, hash_table::kHash, 0);
  block->data3 = table;
  return block;
}

Cell* push_empty(int32_t capacity) {
  Cell* hash = block::push_only(std::max(capacity, 1));
  return index_block(hash, static_cast<uint32_t>(std::max(capacity, 1)));
}

// --- make and to --------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, TypeId type) {
  switch (spec->type()) {
    case TYPE_INTEGER:
    case TYPE_FLOAT: {
      int32_t capacity = number_to_integer(*spec);
      Cell made;
      {
        stack::Guard guard;
        made = *push_empty(capacity);
      }
      return stack::set_result(made);
    }
    case TYPE_HASH: {
      Cell source = *spec;
      Cell* result = stack::push_slot();
      copy(&source, result, -1, -1, -1);
      Cell made = *result;
      stack::pop(1);
      return stack::set_result(made);
    }
    case TYPE_BLOCK: {
      Cell made;
      {
        stack::Guard guard;
        Cell* clone = block::clone(spec, false, false);
        made = *index_block(clone, length_from_head(clone));
      }
      return stack::set_result(made);
    }
    default: return to(proto, spec, type);
  }
}

Cell* to(Cell* proto, Cell* spec, TypeId) {
  if (spec->is(TYPE_HASH)) return make(proto, spec, TYPE_HASH);
  // The block conversion leaves its result in the frame's result cell.
  Cell* result = block::to(proto, spec, TYPE_HASH);
  Cell converted = *result;
  Cell made;
  {
    stack::Guard guard;
    Cell* held = stack::push(converted);
    made = *index_block(held, length_from_head(held));
  }
  return stack::set_result(made);
}

// --- Text ---------------------------------------------------------------------------

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent) {
  if (cycles::detect(*value, buffer, &part, true)) return part;
  if (!only) {
    string::concatenate_literal(buffer, "make hash! ");
    part -= 11;
  }
  return block::mold(value, buffer, only, all, flat, arg, part, indent);
}

// --- copy ---------------------------------------------------------------------------

Cell* copy(Cell* value, Cell* result, int part, int deep, int types) {
  Cell source = *value;
  block::copy(value, result, part, deep, types);
  Cell copied = *result;
  bool whole = part < 0 && deep < 0 && types < 0 && source.data1 == 0 && source.data3 != 0;
  {
    stack::Guard guard;
    Cell* held = stack::push(copied);
    if (whole) {
      // The same cells at the same places: the table carries over as it is.
      held->set_type(TYPE_HASH);
      held->data3 = hash_table::copy(source.data3, held->data2);
    } else {
      index_block(held, length_from_head(held));
    }
    copied = *held;
  }
  *result = copied;
  return result;
}

// --- find and select ----------------------------------------------------------------

namespace {

// Whether the table alone answers a find of the value without refinements,
// as block::find_value decides: a datatype or typeset matches cells by
// type, and a block kind matches by content (a sequence, or an empty block
// compared cell by cell) while the table hashes blocks by identity; those
// walk the block.
bool table_answers(const Cell& value) {
  TypeId type = value.type();
  return type != TYPE_DATATYPE && type != TYPE_TYPESET && !series::is_block_kind(type);
}

// Refinements arrive as -1 when absent, else a frame index: the AND of
// them is negative only when every one is absent.
template <class... Refinements>
bool none_given(Refinements... refinements) {
  return (refinements & ...) < 0;
}

// The cell index of the first cell from the hash!'s index that equals the
// value (find's comparison), or -1.
[[gnu::always_inline]] inline int64_t indexed_position(const Cell* hash, const Cell* value) {
  int64_t from = block::index_of(hash);
  if (from >= length_from_head(hash)) return -1;
  const Cell* cell = hash_table::find_from(table_of(*hash), value, static_cast<int32_t>(std::max<int64_t>(from, 0)));
  // The lookup may compare through handlers that allocate: the buffer is
  // read after it.
  return cell == nullptr ? -1 : cell - block::buffer_of(hash)->cells();
}

}  // namespace

Cell* find(Cell* series, Cell* value, int part, int only, int case_sensitive, int same, int any, int with,
           int skip, int last, int reverse, int tail, int match) {
  if (!none_given(part, only, case_sensitive, same, skip, last, reverse, tail, match) ||
      table_of(*series) == 0 || !table_answers(*value))
    return block::find(series, value, part, only, case_sensitive, same, any, with, skip, last, reverse, tail,
                       match);
  int64_t position = indexed_position(series, value);
  if (position < 0) return none::set_result();
  Cell found = *series;
  found.data1 = static_cast<uint32_t>(position);
  return stack::set_result(found);
}

Cell* select(Cell* series, Cell* value, int part, int only, int case_sensitive, int same, int any, int with,
             int skip, int last, int reverse) {
  if (!none_given(part, only, case_sensitive, same, skip, last, reverse) || table_of(*series) == 0 ||
      !table_answers(*value))
    return block::select(series, value, part, only, case_sensitive, same, any, with, skip, last, reverse);
  int64_t position = indexed_position(series, value);
  if (position < 0 || position + 1 >= length_from_head(series)) return none::set_result();
  return stack::set_result(block::buffer_of(series)->cells()[position + 1]);
}

// --- sort, take, trim ---------------------------------------------------------------

Cell* sort(Cell* series, int case_sensitive, int skip, int compare, int part, int all, int reverse,
           int stable) {
  Cell hash = *series;
  uint32_t start = clamped_index(&hash);
  // A negative /part sorts the cells before the index.
  if (part >= 0) {
    int64_t count = series::part_count(&hash, stack::arguments() + part);
    if (count < 0) start -= static_cast<uint32_t>(std::min<int64_t>(start, -count));
  }
  try {
    block::sort(series, case_sensitive, skip, compare, part, all, reverse, stable);
  } catch (...) {
    reindex_from(&hash, start);
    throw;
  }
  reindex_from(&hash, start);
  return series;
}

Cell* take(Cell* series, int part, int deep, int last) {
  Cell* taken = block::take(series, part, deep, last);
  // A deep take replaces the nested series of the taken cells after their
  // table was built: the table must see the copies.
  if (deep >= 0 && taken->is(TYPE_HASH) && taken->data3 != 0)
    hash_table::rebuild(taken->data3, length_from_head(taken));
  return taken;
}

// The block's trim keeps the table in step: it takes the cells out while
// they are all still there (after the owner has heard of the trim) and puts
// the kept ones back.
Cell* trim(Cell* series, int head, int tail, int automatic, int lines, int all, int with) {
  return block::trim(series, head, tail, automatic, lines, all, with);
}

// --- Registration -------------------------------------------------------------------

void init() {
  DatatypeRecord record(TYPE_HASH, TYPE_BLOCK, "hash!");
  record.handle<Action::make>(make)
      .handle<Action::to>(to)
      .handle<Action::mold>(mold)
      .handle<Action::copy>(copy)
      .handle<Action::find>(find)
      .handle<Action::select>(select)
      .handle<Action::sort>(sort)
      .handle<Action::take>(take)
      .handle<Action::trim>(trim)
      .inherit_rest();
  // A hash! cannot be shuffled, has no arithmetic, and is no port.
  auto unsupported = [&record](int first, int last) {
    for (int slot = first; slot <= last; ++slot) record.entries[slot - 1] = ActionEntry{};
  };
  unsupported(static_cast<int>(Action::random), static_cast<int>(Action::random));
  unsupported(static_cast<int>(Action::set_path), static_cast<int>(Action::set_path));
  unsupported(static_cast<int>(Action::absolute), static_cast<int>(Action::xor_t));
  unsupported(static_cast<int>(Action::create), static_cast<int>(Action::delete_));
  unsupported(static_cast<int>(Action::open), static_cast<int>(Action::write));
  register_datatype(record);
}

}  // namespace kel::hash
