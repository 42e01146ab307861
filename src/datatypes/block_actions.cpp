// block!: the actions that search a block and change it (find, select, put,
// append and insert, change, copy, take, sort, swap, trim) and the worker of
// the set-operation natives. paren!, the paths and hash! inherit them.
//
// Every change keeps a hash!'s index in step: insertions shift the entries
// that follow and index the new cells, removals drop theirs, change rebuilds
// the table. An owned block tells its owner of each change, before it and
// after it (append/appended, insert/inserted, change/changed, put/put-ed,
// sort/sorted, swap/swaped, trim/trimmed; take/taken in series.cpp), with
// the position and the cell count concerned, through series::announce:
// positions, counts and the cells to add are taken once the owner's
// handler has run.
//
// sort with a user function orders record numbers and reads the records
// from the live block (function_sort.h).
//
// Values that a handler copies from one place of a block to another are
// first copied out (into a C++ vector or the evaluation stack): the source
// may be the very block being changed, whose buffer moves when it grows.
#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/function_sort.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "runtime/actions.h"
#include "runtime/stack.h"
#include "runtime/cycles.h"
#include "runtime/errors.h"
#include "runtime/hash_table.h"
#include "datatypes/ownership.h"
#include "datatypes/runtime_words.h"
#include "runtime/slot_pool.h"
#include "runtime/sort.h"
#include "datatypes/argument_checks.h"
#include "runtime/upcalls.h"

namespace kel::block {

namespace {

Cell cell_at(const Cell* block, uint32_t position) { return buffer_of(block)->cells()[position]; }

bool equal_cells(const Cell& cell, const Cell& value, int32_t op) {
  Cell a = cell;
  Cell b = value;
  return actions::compare(&a, &b, op);
}

// equal_cells for find's comparisons: two integers are equal by value under
// every one of them, and are compared without the datatype's dispatch.
bool found_equal(const Cell& cell, const Cell& value, int32_t op) {
  if (cell.is(TYPE_INTEGER) && value.is(TYPE_INTEGER)) return cell.data2 == value.data2;
  return equal_cells(cell, value, op);
}

// A copy of the cells an insertion takes (the source may be the target
// itself, whose buffer the insertion moves). A few cells stay inline, so the
// common insertion of one value allocates nothing.
class CellList {
 public:
  CellList(const Cell* from, size_t count) : count_(count) {
    if (count <= kInline) std::copy(from, from + count, inline_);
    else spill_.assign(from, from + count);
  }
  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  const Cell* data() const { return count_ <= kInline ? inline_ : spill_.data(); }
  void resize(size_t count) {
    if (count >= count_) return;
    if (count_ > kInline && count <= kInline) std::copy(spill_.data(), spill_.data() + count, inline_);
    count_ = count;
    if (count_ > kInline) spill_.resize(count_);
  }

 private:
  static constexpr size_t kInline = 4;
  size_t count_;
  Cell inline_[kInline];
  std::vector<Cell> spill_;
};

// The cells an insertion takes from a value: its cells from its index when
// it is a block kind spread out (no /only), else the value itself.
CellList cells_of(const Cell& value, bool only) {
  if (only || !series::is_block_kind(value.type())) return CellList(&value, 1);
  int32_t length = std::max(rs_length(&value), 0);
  const Cell* from = buffer_of(&value)->cells() + value.data1;
  return CellList(from, static_cast<size_t>(length));
}

// A refinement's argument cell in the current frame, or null when absent.
Cell* refinement_argument(int refinement) {
  return refinement >= 0 ? stack::arguments() + refinement : nullptr;
}

// The /dup count (1 without /dup; below 0 counts as 0).
int64_t dup_count(int dup) {
  if (dup < 0) return 1;
  const Cell* count = stack::arguments() + dup;
  return count->is(TYPE_INTEGER) ? std::max(count->int_at2(), 0) : 1;
}

// The /part count of an insertion, relative to the inserted value (negative
// for all of it).
int64_t insertion_part(int part, const Cell* value) {
  if (part < 0) return -1;
  return series::part_count(value, stack::arguments() + part);
}

// The number of cells an insertion adds (for the owner's notification).
int32_t inserted_count(const Cell& value, bool only, int64_t limit, int64_t count) {
  auto cells = static_cast<int64_t>(cells_of(value, only).size());
  if (limit >= 0 && limit < cells) cells = limit;
  return static_cast<int32_t>(std::min<int64_t>(cells * std::max<int64_t>(count, 0), 0x7FFFFFFF));
}

// The word put, which the runtime word list lacks (it has put-ed).
uint32_t put_symbol() {
  static const uint32_t word_symbol = symbol::make("put");
  return word_symbol;
}

// Matching one position against the value find looks for.
enum class MatchKind { kType, kTypeset, kSequence, kValue };

struct Matcher {
  MatchKind kind = MatchKind::kValue;
  Cell value;
  std::vector<Cell> sequence;
  int32_t op = kCmpFind;

  uint32_t length() const { return kind == MatchKind::kSequence ? static_cast<uint32_t>(sequence.size()) : 1; }

  bool matches(const Cell* block, uint32_t position) const {
    switch (kind) {
      case MatchKind::kType: return cell_at(block, position).type() == value.data1;
      case MatchKind::kTypeset: return typeset_has(value, cell_at(block, position).type());
      case MatchKind::kSequence:
        for (size_t k = 0; k < sequence.size(); ++k)
          if (!found_equal(cell_at(block, position + static_cast<uint32_t>(k)), sequence[k], op)) return false;
        return true;
      case MatchKind::kValue: return found_equal(cell_at(block, position), value, op);
    }
    return false;
  }
};

// The forward search for an integer, the commonest: integer cells are
// compared by value in a plain scan, any other cell through its datatype
// (after which the cells are read again, as the comparison may allocate).
// The index of the first match from `from` to `end` by `step`, or -1.
int64_t scan_for_integer(const Cell& block, const Cell value, int64_t from, int64_t end, int64_t step,
                         bool match_only_first, int32_t op) {
  const Cell* cells = buffer_of(&block)->cells();
  for (int64_t i = from; i <= end; i += step) {
    const Cell& cell = cells[i];
    if (cell.is(TYPE_INTEGER)) {
      if (cell.data2 == value.data2) return i;
    } else {
      bool equal = equal_cells(cell, value, op);
      cells = buffer_of(&block)->cells();
      if (equal) return i;
    }
    if (match_only_first) break;
  }
  return -1;
}

Matcher matcher_for(const Cell& value, const FindOptions& options) {
  Matcher m;
  m.value = value;
  m.op = options.same ? kCmpSame : options.case_sensitive ? kCmpStrictEqual : kCmpFind;
  if (options.only) return m;
  if (value.is(TYPE_DATATYPE)) {
    m.kind = MatchKind::kType;
  } else if (value.is(TYPE_TYPESET)) {
    m.kind = MatchKind::kTypeset;
  } else if (series::is_block_kind(value.type())) {
    // An empty block matches nowhere as a sequence: it is looked for as one
    // cell instead, so it finds an empty block value.
    CellList cells = cells_of(value, false);
    if (!cells.empty()) {
      m.kind = MatchKind::kSequence;
      m.sequence.assign(cells.data(), cells.data() + cells.size());
    }
  }
  return m;
}

// A copy of a nested value for copy/deep and copy/types: blocks through the
// block copy (so the cycle check covers them), every other series and the
// copyable values through their own copy action.
Cell copy_nested(const Cell& value, bool deep, const Cell* kind);

bool copyable_by_kind(TypeId type) {
  return series::is_series_kind(type) || type == TYPE_BITSET || type == TYPE_OBJECT ||
         type == TYPE_ERROR || type == TYPE_MAP;
}

// Replaces the cells of copy (a fresh block) that copy/deep and copy/types
// copy, source_node being the block they were copied from.
void deepen(NodeId source_node, const Cell& copy, bool deep, const Cell* kind) {
  if (deep && cycles::find(source_node)) fire(ErrorId::internal_no_cycle);
  cycles::Entry entry(source_node);
  uint32_t length = length_from_head(&copy);
  for (uint32_t i = 0; i < length; ++i) {
    Cell cell = cell_at(&copy, i);
    TypeId type = cell.type();
    if (kind) {
      if (!copyable_by_kind(type)) continue;
      bool wanted = kind->is(TYPE_DATATYPE) ? kind->data1 == type : typeset_has(*kind, type);
      if (!wanted) continue;
    } else if (!series::is_series_kind(type)) {
      continue;
    }
    Cell copied = copy_nested(cell, deep, kind);
    copied.header = (copied.header & ~flags::kNewLine) | (cell.header & flags::kNewLine);
    buffer_of(&copy)->cells()[i] = copied;
  }
}

Cell copy_nested(const Cell& value, bool deep, const Cell* kind) {
  if (series::is_block_kind(value.type()) && !value.is(TYPE_HASH)) {
    int32_t length = std::max(rs_length(&value), 0);
    Cell* copy = stack::push(series::copy_units(&value, value.data1, static_cast<uint32_t>(length)));
    if (deep) deepen(value.data2, *copy, deep, kind);
    Cell result = *copy;
    stack::pop(1);
    return result;
  }
  // Other values copy through their own handler, in a frame of their own.
  stack::Guard guard;
  stack::mark_native(nullptr);
  Cell* source = stack::push(value);
  Cell* result = stack::push_slot();
  Cell* copied = actions::handler_for<Action::copy>(*source)(source, result, -1, deep ? 0 : -1, -1);
  return *copied;
}

// --- Sorting ------------------------------------------------------------------------


struct SortContext {
  int32_t op;
  bool reverse;
  uint32_t offset;   // field compared (0-based) within a record
  bool all;          // compare every field of a record in turn
  uint32_t size;     // record size in cells
};

// A sort through a user function: the records are read from the live block
// by number (see function_sort.h).
struct CallContext {
  const Cell* series;
  uint32_t start;    // the stretch's first cell
  uint32_t size;     // record size in cells
  uint32_t offset;   // field handed to the function
  bool all;          // hand whole records (as blocks) instead
  bool reverse;
  Cell function;
};

int32_t compare_for_sort(const Cell* a, const Cell* b, int32_t op) {
  Cell x = *a;
  Cell y = *b;
  int32_t result = actions::compare_value(&x, &y, op);
  if (result == kNotComparable) result = static_cast<int32_t>(x.type()) - static_cast<int32_t>(y.type());
  return result;
}

int32_t sort_compare(const void* a, const void* b, void* context, void*) {
  const auto& ctx = *static_cast<const SortContext*>(context);
  const Cell* x = static_cast<const Cell*>(a) + ctx.offset;
  const Cell* y = static_cast<const Cell*>(b) + ctx.offset;
  if (ctx.reverse) std::swap(x, y);
  uint32_t fields = ctx.all ? ctx.size : 1;
  for (uint32_t f = 0; f < fields; ++f) {
    int32_t result = compare_for_sort(x + f, y + f, ctx.op);
    if (result != 0) return result;
  }
  return 0;
}

// The two scratch blocks that hand whole records to a comparison function
// under sort/all/skip (slot pool indexes, 0 until first used).
uint32_t scratch_slots[2] = {0, 0};
constexpr uint32_t kScratchLimit = 0x1FFFFF;

Cell record_block(int which, const Cell* record, uint32_t size) {
  if (scratch_slots[which] == 0) {
    stack::Guard guard;
    scratch_slots[which] = slot_pool::alloc(*push_only(static_cast<int32_t>(size)));
  }
  Cell block = *slot_pool::get(scratch_slots[which]);
  block.data1 = 0;
  rs_set_tail(&block, 0);
  std::vector<Cell> cells(record, record + size);
  for (const Cell& cell : cells) rs_append(&block, cell);
  return block;
}

void shrink_scratch_blocks() {
  for (uint32_t slot : scratch_slots) {
    if (slot == 0 || buffer_of(slot_pool::get(slot))->size <= kScratchLimit) continue;
    stack::Guard guard;
    Cell small = *push_only(1);
    *slot_pool::get(slot) = small;
  }
}

// The value the function receives for a record: its field, or with /all
// (and records of more than one cell) one of the two scratch blocks holding
// a copy of the whole record.
Cell record_value(const CallContext& ctx, uint32_t record, int which) {
  uint32_t first_cell = ctx.start + record * ctx.size;
  if (ctx.all && ctx.size > 1) return record_block(which, buffer_of(ctx.series)->cells() + first_cell, ctx.size);
  return cell_at(ctx.series, first_cell + ctx.offset);
}

int32_t sort_call_compare(uint32_t a, uint32_t b, void* context) {
  const auto& ctx = *static_cast<const CallContext*>(context);
  Cell first = record_value(ctx, a, 0);
  Cell second = record_value(ctx, b, 1);
  // The function sees the second value first (the other way round under
  // /reverse).
  Cell result = ctx.reverse ? upcalls::table.call_comparison(ctx.function, first, second)
                            : upcalls::table.call_comparison(ctx.function, second, first);
  return comparator_result(result);
}

// After a change that may have reordered or replaced cells of a hash!: its
// table indexes the block afresh.
void reindex(const Cell* block) {
  if (NodeId table = series::table_of(block)) hash_table::rebuild(table, length_from_head(block));
}

}  // namespace

// --- Comparator hook -------------------------------------------------------------------


int32_t comparator_result(const Cell& result) {
  switch (result.type()) {
    case TYPE_LOGIC: return result.data1 != 0 ? 1 : -1;
    case TYPE_INTEGER: return result.int_at2();
    case TYPE_FLOAT: {
      double d = result.as_double();
      return d > 0.0 ? 1 : d < 0.0 ? -1 : 0;
    }
    case TYPE_NONE: return -1;
    default: return 1;
  }
}

// --- find and select ------------------------------------------------------------------

Cell find_value(const Cell* series, const Cell* value, const FindOptions& options, uint32_t* match_length) {
  if (match_length) *match_length = 0;
  Cell block = *series;
  int64_t length = length_from_head(&block);
  int64_t position = index_of(&block);
  if (length == 0) return none::value;
  if (position >= length && !options.reverse) return none::value;
  if (position > length) position = length;
  if (position < 0) position = 0;
  int64_t step = std::max(options.skip, 1);

  int64_t end = length - 1;  // the last cell a forward search may reach
  if (options.part) {
    const Cell* part = options.part;
    if (part->is(TYPE_INTEGER)) {
      if (part->int_at2() < 1) return none::value;
      end = position + part->int_at2() - 1;
    } else if (part->type() == block.type() && part->data2 == block.data2) {
      end = index_of(part) - 1;
    } else {
      series::fire_bad_part(part);
    }
    if (end > length - 1) end = length - 1;
  }

  Matcher matcher = matcher_for(*value, options);
  int64_t span = matcher.length();
  int64_t found = -1;

  // A hash! answers single values from its table; types, typesets and
  // sequences are matched by walking the cells like any block, and so are
  // the searches the table cannot answer as a walk would: a block kind
  // value (the table hashes blocks by identity, find compares them by
  // content) and /last within a /part (the table knows no upper bound).
  NodeId table = series::table_of(&block);
  bool table_answers = matcher.kind == MatchKind::kValue && !options.match &&
                       !(options.same && value->is(TYPE_OBJECT)) && !series::is_block_kind(value->type()) &&
                       !(options.last && !options.reverse && end < length - 1);
  if (table != 0 && table_answers) {
    Cell wanted = *value;
    Cell* cell = hash_table::find(table, &wanted, static_cast<int32_t>(position), static_cast<int32_t>(step),
                                  matcher.op, options.last, options.reverse);
    if (cell == nullptr) return none::value;
    found = cell - buffer_of(&block)->cells();
    if (!options.reverse && found > end) return none::value;
  } else if (options.last || options.reverse) {
    // /reverse goes before /last, as in the table and in strings.
    int64_t start;
    if (!options.reverse) {
      // The last record start from the position where the match still fits.
      int64_t last_fit = end - span + 1;
      if (last_fit < position) return none::value;
      start = position + (last_fit - position) / step * step;
    } else {
      // The first record tried ends just before the position; records step
      // back from there.
      start = position - span;
    }
    int64_t lowest = options.reverse ? 0 : position;
    for (int64_t i = start; i >= lowest; i -= step) {
      if (i + span <= length && matcher.matches(&block, static_cast<uint32_t>(i))) {
        found = i;
        break;
      }
      if (options.match) break;
    }
  } else if (matcher.kind == MatchKind::kValue && value->is(TYPE_INTEGER)) {
    found = scan_for_integer(block, *value, position, end, step, options.match, matcher.op);
  } else {
    for (int64_t i = position; i + span - 1 <= end; i += step) {
      if (matcher.matches(&block, static_cast<uint32_t>(i))) {
        found = i;
        break;
      }
      if (options.match) break;
    }
  }
  if (found < 0) return none::value;
  if (match_length) *match_length = static_cast<uint32_t>(span);
  block.data1 = static_cast<uint32_t>(options.tail ? found + span : found);
  return block;
}

Cell select_value(const Cell* series, const Cell* value, const FindOptions& options) {
  FindOptions plain = options;
  plain.tail = false;
  uint32_t span = 0;
  Cell found = find_value(series, value, plain, &span);
  if (found.is(TYPE_NONE)) return none::value;
  uint32_t after = found.data1 + span;
  if (after >= length_from_head(&found)) return none::value;
  return cell_at(&found, after);
}

namespace {
// The find and select options of a handler's refinements; /skip is checked
// here, after the series was found not to be empty.
FindOptions find_options(int part, int only, int case_sensitive, int same, int skip, int last,
                         int reverse, int tail, int match) {
  FindOptions options;
  options.part = refinement_argument(part);
  if (skip >= 0) {
    const Cell* size = stack::arguments() + skip;
    if (!size->is(TYPE_INTEGER)) series::fire_bad_skip(size);
    if (size->int_at2() < 1) fire(ErrorId::script_out_of_range, size);
    options.skip = size->int_at2();
  }
  options.only = only >= 0;
  options.case_sensitive = case_sensitive >= 0;
  options.same = same >= 0;
  options.last = last >= 0;
  options.reverse = reverse >= 0;
  options.tail = tail >= 0;
  options.match = match >= 0;
  return options;
}

bool nothing_to_search(const Cell* series, bool reverse) {
  uint32_t length = length_from_head(series);
  return length == 0 || (index_of(series) >= length && !reverse);
}
}  // namespace

Cell* find(Cell* series, Cell* value, int part, int only, int case_sensitive, int same, int, int,
           int skip, int last, int reverse, int tail, int match) {
  if (nothing_to_search(series, reverse >= 0)) return none::set_result();
  FindOptions options = find_options(part, only, case_sensitive, same, skip, last, reverse, tail, match);
  return stack::set_result(find_value(series, value, options));
}

Cell* select(Cell* series, Cell* value, int part, int only, int case_sensitive, int same, int, int,
             int skip, int last, int reverse) {
  if (nothing_to_search(series, reverse >= 0)) return none::set_result();
  FindOptions options = find_options(part, only, case_sensitive, same, skip, last, reverse, -1, -1);
  return stack::set_result(select_value(series, value, options));
}

// --- put ------------------------------------------------------------------------------------

Cell* put(Cell* series, Cell* key, Cell* value, int case_sensitive) {
  Cell new_value = *value;
  FindOptions options;
  options.only = true;
  options.case_sensitive = case_sensitive >= 0;
  // The key is looked for once the owner has heard of the put.
  series::Stretch stretch = series::announce(*series, put_symbol(), &new_value, index_of(series), 1, 1);
  Cell found = find_value(series, key, options);
  if (found.is(TYPE_NONE)) {
    Cell block = *series;
    insert_value(&block, key, -1, true, 1, true);
    insert_value(&block, &new_value, -1, true, 1, true);
  } else {
    uint32_t after = found.data1 + 1;
    if (after < length_from_head(&found)) {
      if (!equal_cells(cell_at(&found, after), new_value, kCmpFind)) {
        Cell* cell = buffer_of(&found)->cells() + after;
        *cell = new_value;
        if (NodeId table = series::table_of(&found)) hash_table::put(table, cell);
      }
    } else {
      insert_value(&found, &new_value, -1, true, 1, true);
    }
  }
  series::announce_done(*series, runtime_words::put_ed, &new_value, stretch);
  return stack::set_result(new_value);
}

// --- append, insert and change --------------------------------------------------------------

uint32_t insert_value(Cell* block, const Cell* value, int32_t part, bool only, int32_t count,
                      bool at_tail) {
  CellList cells = cells_of(*value, only);
  if (part >= 0 && static_cast<size_t>(part) < cells.size()) cells.resize(static_cast<size_t>(part));
  uint64_t total = uint64_t{cells.size()} * static_cast<uint64_t>(std::max(count, 0));
  if (total == 0) return block->data1;
  if (total > memory::kMaxSeriesBytes / sizeof(Cell)) fire(ErrorId::internal_no_memory);
  block->data1 = clamped_index(block);
  uint32_t position = at_tail ? length_from_head(block) : block->data1;
  SeriesBuffer* b = series::open_gap(block, position, total, count >= 5);
  Cell* at = b->cells() + position;
  for (int32_t r = 0; r < count; ++r, at += cells.size())
    std::memcpy(static_cast<void*>(at), cells.data(), cells.size() * sizeof(Cell));
  series::index_inserted(block, position, static_cast<uint32_t>(total));
  return position + static_cast<uint32_t>(total);
}

// append and insert: the owner hears of the cells the value holds now; the
// insertion then takes the value's cells and the position (the live tail
// for append, the index clamped to it for insert) afresh.
Cell* add_cells(Cell* series, Cell* value, int part, int only, int dup, bool at_tail) {
  int64_t count = dup_count(dup);
  int64_t limit = insertion_part(part, value);
  bool owned = ownership::series_owned(*series);
  uint32_t position = at_tail ? length_from_head(series) : clamped_index(series);
  int32_t inserted = owned ? inserted_count(*value, only >= 0, limit, count) : 0;
  series::Stretch stretch = series::announce(*series, at_tail ? runtime_words::append : runtime_words::insert, value,
                                             position, 0, inserted);
  Cell result = *series;
  stretch.start = at_tail ? length_from_head(series) : clamped_index(series);
  uint32_t after = insert_value(series, value, static_cast<int32_t>(limit), only >= 0, static_cast<int32_t>(count),
                                at_tail);
  stretch.part = static_cast<int32_t>(after > stretch.start ? after - stretch.start : 0);
  series::announce_done(*series, at_tail ? runtime_words::appended : runtime_words::inserted, value, stretch);
  result.data1 = at_tail ? 0 : after;
  return stack::set_result(result);
}

Cell* append(Cell* series, Cell* value, int part, int only, int dup) {
  return add_cells(series, value, part, only, dup, true);
}

Cell* insert(Cell* series, Cell* value, int part, int only, int dup) {
  return add_cells(series, value, part, only, dup, false);
}

Cell* change(Cell* series, Cell* value, int part, int only, int dup) {
  uint64_t count = static_cast<uint64_t>(dup_count(dup));
  auto total_of = [&](const CellList& cells) {
    uint64_t total = uint64_t{cells.size()} * count;
    if (total > memory::kMaxSeriesBytes / sizeof(Cell)) fire(ErrorId::internal_no_memory);
    return total;
  };
  uint64_t total = total_of(cells_of(*value, only >= 0));
  uint32_t position = clamped_index(series);
  series->data1 = position;
  uint64_t remaining = length_from_head(series) - position;
  uint64_t replaced;
  int64_t wanted = 0;  // the /part count, clamped once the owner has heard of the change
  if (part >= 0) {
    wanted = std::max<int64_t>(series::part_count(series, stack::arguments() + part), 0);
    replaced = std::min<uint64_t>(static_cast<uint64_t>(wanted), remaining);
  } else {
    replaced = std::min(total, remaining);
  }
  if (total == 0 && replaced == 0) return series;
  series::Stretch stretch = series::announce(*series, runtime_words::change, value, position, wanted,
                                             static_cast<int64_t>(std::max(total, replaced)));
  // The owner may have changed the block or the value: both are read anew.
  CellList cells = cells_of(*value, only >= 0);
  total = total_of(cells);
  position = stretch.start;
  series->data1 = position;
  replaced = part >= 0 ? stretch.count : std::min<uint64_t>(total, length_from_head(series) - position);
  if (total > replaced) {
    series::open_gap(series, position + static_cast<uint32_t>(replaced), total - replaced, true);
  } else if (total < replaced) {
    SeriesBuffer* b = buffer_of(series);
    Cell* to = b->cells() + position + total;
    Cell* from = b->cells() + position + replaced;
    std::memmove(static_cast<void*>(to), from, size_t(b->cells_tail() - from) * sizeof(Cell));
    b->tail -= static_cast<uint32_t>((replaced - total) * sizeof(Cell));
  }
  Cell* at = buffer_of(series)->cells() + position;
  if (!cells.empty()) {
    for (uint64_t r = 0; r < count; ++r, at += cells.size())
      std::memcpy(static_cast<void*>(at), cells.data(), cells.size() * sizeof(Cell));
  }
  reindex(series);
  series::announce_done(*series, runtime_words::changed, value, stretch);
  Cell result = *series;
  result.data1 = std::min<uint32_t>(position + static_cast<uint32_t>(total), length_from_head(series));
  return stack::set_result(result);
}

// --- copy and take -------------------------------------------------------------------------

Cell copy_block(const Cell* block, bool deep) {
  Cell source = *block;
  int32_t length = std::max(rs_length(&source), 0);
  Cell* copy = stack::push(series::copy_units(&source, source.data1, static_cast<uint32_t>(length)));
  if (copy->is(TYPE_HASH)) copy->set_type(TYPE_BLOCK);
  if (deep) deepen(source.data2, *copy, true, nullptr);
  Cell result = *copy;
  stack::pop(1);
  return result;
}

Cell* copy(Cell* value, Cell* result, int part, int deep, int types) {
  Cell source = *value;
  series::copy(value, result, part, -1, -1);
  if (result->is(TYPE_HASH)) {
    result->set_type(TYPE_BLOCK);
    result->data3 = 0;
  }
  if (deep >= 0 || types >= 0) {
    const Cell* kind = refinement_argument(types);
    Cell* kept = stack::push(*result);
    deepen(source.data2, *kept, deep >= 0, kind);
    stack::pop(1);
  }
  return result;
}

Cell* take(Cell* series, int part, int deep, int last) {
  NodeId source = series->data2;
  Cell* taken = series::take(series, part, deep, last);
  if (taken->is(TYPE_NONE)) return taken;
  if (deep >= 0) {
    Cell* kept = stack::push(*taken);
    deepen(source, *kept, true, nullptr);
    stack::pop(1);
  }
  if (part < 0 && length_from_head(taken) == 1) return stack::set_result(cell_at(taken, 0));
  return taken;
}

// --- sort, swap, trim ------------------------------------------------------------------

Cell* sort(Cell* series, int case_sensitive, int skip, int compare, int part, int all, int reverse,
           int stable) {
  Cell* arguments = stack::arguments();
  int64_t length = series::rs_length(series, false);
  if (length == 0) return series;
  int64_t start = series->data1;
  int64_t count = length;
  int64_t wanted = series::kToTail;  // what the sort covers once the owner has heard of it
  if (part >= 0) {
    int64_t n = series::part_count(series, arguments + part);
    if (n < 0) {
      int64_t before = std::min(-n, start);
      start -= before;
      count = before;
    } else {
      count = std::min(n, length);
    }
    wanted = n < 0 ? count : n;
  }
  if (count == 0) return series;
  int64_t size = 1;
  if (skip >= 0) {
    const Cell* record = arguments + skip;
    if (!record->is(TYPE_INTEGER)) series::fire_bad_skip(record);
    size = record->int_at2();
    if (size < 1 || size > count || count % size != 0) series::fire_bad_skip(record);
  }
  if (all >= 0 && skip < 0) fire(ErrorId::script_bad_refines);

  SortContext context{};
  context.op = case_sensitive >= 0 ? kCmpCaseSort : kCmpSort;
  context.reverse = reverse >= 0;
  context.size = static_cast<uint32_t>(size);
  context.all = all >= 0;
  const Cell* function = nullptr;
  if (compare >= 0) {
    const Cell* how = arguments + compare;
    if (how->is(TYPE_FUNCTION)) {
      if (upcalls::table.call_comparison == nullptr) fire(ErrorId::internal_not_done);
      function = how;
    } else if (how->is(TYPE_INTEGER)) {
      if (skip < 0 || all >= 0) fire(ErrorId::script_bad_refines);
      int32_t field = how->int_at2();
      if (field < 1 || field > size) fire(ErrorId::script_out_of_range, how);
      context.offset = static_cast<uint32_t>(field - 1);
    } else {
      series::fire_bad_compare(how);
    }
  }

  series::Stretch stretch = series::announce(*series, runtime_words::sort, nullptr, start, wanted);
  // Whole records of what the owner left of the stretch.
  auto records = static_cast<uint32_t>(stretch.count / size);
  if (function != nullptr) {
    CallContext call{series, stretch.start, context.size, context.offset, context.all, context.reverse, *function};
    series::sort_by_function(series, stretch.start, records, context.size, stable >= 0, sort_call_compare, &call);
  } else if (records > 1) {
    // Comparing values runs no Kel code and allocates nothing: the records
    // can be sorted where they lie.
    Cell* base = buffer_of(series)->cells() + stretch.start;
    auto width = static_cast<uint32_t>(size * sizeof(Cell));
    if (stable >= 0) sort::merge_sort(base, records, width, &context, nullptr, sort_compare);
    else sort::quick_sort(base, records, width, &context, nullptr, sort_compare);
  }
  shrink_scratch_blocks();
  stretch.part = static_cast<int32_t>(records * size);
  series::announce_done(*series, runtime_words::sorted, nullptr, stretch);
  return series;
}

Cell* swap(Cell* series1, Cell* series2) {
  if (!series::is_block_kind(series2->type())) fire(ErrorId::script_invalid_arg, series2);
  if (series::rs_tail_q(series1) || series::rs_tail_q(series2)) return series1;
  series::SwapStretches stretches = series::announce_swap(*series1, *series2);
  series::Stretch first = stretches.first, second = stretches.second;
  if (stretches.ready()) {
    NodeId table1 = series::table_of(series1);
    NodeId table2 = series::table_of(series2);
    if (table1) hash_table::remove(table1, buffer_of(series1)->cells() + first.start);
    if (table2) hash_table::remove(table2, buffer_of(series2)->cells() + second.start);
    Cell* a = buffer_of(series1)->cells() + first.start;
    Cell* b = buffer_of(series2)->cells() + second.start;
    std::swap(*a, *b);
    if (table1) hash_table::put(table1, buffer_of(series1)->cells() + first.start);
    if (table2) hash_table::put(table2, buffer_of(series2)->cells() + second.start);
  }
  series::announce_swapped(*series1, *series2, stretches);
  return series1;
}

Cell* trim(Cell* series, int, int, int, int, int, int) {
  // Trimming runs to the live tail, wherever the owner left it. A hash!'s
  // cells leave its table while they are all still there and come back in
  // their new places.
  series::Stretch stretch =
      series::announce(*series, runtime_words::trim, nullptr, clamped_index(series), series::kToTail);
  uint32_t position = stretch.start;
  NodeId table = series::table_of(series);
  if (table) hash_table::remove_range(table, position, stretch.count);
  SeriesBuffer* b = buffer_of(series);
  Cell* cells = b->cells();
  uint32_t length = b->cell_count();
  uint32_t kept = position;
  for (uint32_t i = position; i < length; ++i)
    if (!cells[i].is(TYPE_NONE)) cells[kept++] = cells[i];
  b->tail = b->offset + kept * static_cast<uint32_t>(sizeof(Cell));
  if (table) hash_table::put_all(table, position, 1);
  series::announce_done(*series, runtime_words::trimmed, nullptr, stretch);
  return series;
}

// --- Set operations ------------------------------------------------------------------------

Cell* do_set_op(Cell* first, Cell* second, bool case_sensitive, int32_t skip, int32_t op) {
  if (skip < 1) {
    Cell size = integer::make(skip);
    series::fire_bad_skip(&size);
  }
  int32_t compare_op = case_sensitive ? kCmpStrictEqual : kCmpEqual;
  bool two_series = op != 8;
  Cell a = *first;
  Cell b = two_series ? *second : *first;
  a.data1 = clamped_index(&a);
  b.data1 = clamped_index(&b);
  uint32_t length_a = static_cast<uint32_t>(rs_length(&a));
  uint32_t length_b = two_series ? static_cast<uint32_t>(rs_length(&b)) : 0;
  uint32_t room = std::max<uint32_t>(1, length_a + (op == 9 ? length_b : 0));

  stack::Guard guard;
  Cell* result = push_only(static_cast<int32_t>(room));
  result->set_type(TYPE_HASH);
  result->data3 = hash_table::init(room, result, hash_table::kHash, 0);

  // Membership in the other series: its own table when it is a hash!,
  // otherwise one made for this operation.
  Cell* other = nullptr;
  if (two_series) {
    other = stack::push(b);
    if (!series::table_of(other)) {
      Cell indexed = *other;
      indexed.set_type(TYPE_HASH);
      other->data3 = hash_table::init(std::max<uint32_t>(length_b, 1), &indexed, hash_table::kHash, 0);
      other->set_type(TYPE_HASH);
    }
  }

  auto contains = [&](Cell* block, const Cell& key) {
    if (series::is_block_kind(key.type())) {
      // Tables hash a block by its identity, not its content: equal blocks
      // are found by comparing record by record.
      uint32_t length = length_from_head(block);
      for (uint32_t i = block->data1; i < length; i += static_cast<uint32_t>(skip))
        if (equal_cells(cell_at(block, i), key, compare_op)) return true;
      return false;
    }
    Cell wanted = key;
    return hash_table::find(block->data3, &wanted, static_cast<int32_t>(block->data1), skip, compare_op,
                            false, false) != nullptr;
  };
  // Adds the records of a series that pass the test and are not already in
  // the result.
  auto add_records = [&](const Cell& from, uint32_t length, auto&& wanted) {
    for (uint32_t r = 0; r < length; r += static_cast<uint32_t>(skip)) {
      uint32_t width = std::min<uint32_t>(static_cast<uint32_t>(skip), length - r);
      Cell key = cell_at(&from, from.data1 + r);
      if (!wanted(key) || contains(result, key)) continue;
      Cell record = make_value(from.data2, from.data1 + r);
      Cell* source = stack::push(record);
      insert_value(result, source, static_cast<int32_t>(width), false, 1, true);
      stack::pop(1);
    }
  };
  auto any = [](const Cell&) { return true; };
  auto in_other = [&](const Cell& key) { return contains(other, key); };
  auto not_in_other = [&](const Cell& key) { return !contains(other, key); };

  switch (op) {
    case 8: add_records(a, length_a, any); break;
    case 9:
      add_records(a, length_a, any);
      add_records(b, length_b, any);
      break;
    case 10: add_records(a, length_a, in_other); break;
    case 11: add_records(a, length_a, not_in_other); break;
    case 12: {
      add_records(a, length_a, not_in_other);
      // Records of the second not in the first: the first needs a table too.
      Cell* mine = stack::push(a);
      if (!series::table_of(mine)) {
        Cell indexed = *mine;
        indexed.set_type(TYPE_HASH);
        mine->data3 = hash_table::init(std::max<uint32_t>(length_a, 1), &indexed, hash_table::kHash, 0);
        mine->set_type(TYPE_HASH);
      }
      add_records(b, length_b, [&](const Cell& key) { return !contains(mine, key); });
      break;
    }
    default: fire(ErrorId::internal_not_done);
  }

  bool keep_table = first->is(TYPE_HASH) || (two_series && second->is(TYPE_HASH));
  Cell made = *result;
  made.data1 = 0;
  if (!keep_table) {
    made.set_type(first->type());
    made.data3 = 0;
  }
  *first = made;
  return first;
}

}  // namespace kel::block
