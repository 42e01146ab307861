// series!: the generic series actions (see series.h for the cell and the
// invariants).
//
// Positions below are in units from the buffer's head; "length from head"
// is used / unit and "length" is the length from head less the index. Every
// routine re-reads the buffer through the node after anything that may
// allocate, since a growing series moves.
//
// An owned series tells its owner of each change, before it with the
// action's word and after it with the past form (clear/cleared,
// poke/poked, remove/removed, take/taken, reverse/reversed,
// random/randomized, move/moved), with the position and the unit count
// concerned (runtime/ownership.h); a series nobody owns pays one flag test.
// Every action of every series type tells through announce(), which
// answers the stretch the action may then work on, derived from the live
// series after the owner's handler (Kel code) has run.
#include "datatypes/series.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "runtime/actions.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "runtime/hash_table.h"
#include "datatypes/ownership.h"
#include "datatypes/runtime_words.h"

namespace kel::series {

namespace {

Cell* set_result(const Cell& value) { return stack::set_result(value); }

int64_t index_of(const Cell* series) { return static_cast<int32_t>(series->data1); }

// The units from an absolute position to the tail (0 past the tail).
uint32_t units_after(const Cell* series, uint32_t position) {
  uint32_t length = rs_length_from_head(series);
  return position >= length ? 0 : length - position;
}

// Element kinds, for the routines that move units between two series.
enum class Family { kBlock, kText, kBinary, kVector, kImage, kOther };
Family family_of(TypeId type) {
  if (is_block_kind(type)) return Family::kBlock;
  if (is_text_kind(type)) return Family::kText;
  if (type == TYPE_BINARY) return Family::kBinary;
  if (type == TYPE_VECTOR) return Family::kVector;
  if (type == TYPE_IMAGE) return Family::kImage;
  return Family::kOther;
}

// --- vector! elements -------------------------------------------------------------

Cell read_vector_element(const uint8_t* p, uint32_t unit, TypeId element_type) {
  switch (element_type) {
    case TYPE_CHAR: return make_cell(TYPE_CHAR, 0, unicode::get_char(p, unit));
    case TYPE_INTEGER: {
      int32_t value = 0;
      if (unit == 1) value = static_cast<int8_t>(p[0]);
      else if (unit == 2) value = static_cast<int16_t>(p[0] | (p[1] << 8));
      else std::memcpy(&value, p, 4);
      return integer::make(value);
    }
    case TYPE_FLOAT:
    case TYPE_PERCENT: {
      double d;
      if (unit == 4) {
        float f;
        std::memcpy(&f, p, 4);
        d = f;
      } else {
        std::memcpy(&d, p, 8);
      }
      Cell c = make_cell(element_type);
      c.set_double(d);
      return c;
    }
    default: return none::value;
  }
}

void write_vector_element(uint8_t* p, uint32_t unit, const Cell& value) {
  if (value.is(TYPE_FLOAT) || value.is(TYPE_PERCENT)) {
    double d = value.as_double();
    if (unit == 4) {
      float f = static_cast<float>(d);
      std::memcpy(p, &f, 4);
    } else {
      std::memcpy(p, &d, 8);
    }
    return;
  }
  uint32_t bits = value.data2;
  for (uint32_t i = 0; i < unit; ++i) p[i] = static_cast<uint8_t>(bits >> (8 * i));
}

// Runs the find action of the series' type from its index with no
// refinements, in a frame of its own; answers its result.
Cell find_value(const Cell* series, const Cell* value) {
  stack::Guard guard;
  stack::mark_native(nullptr);
  Cell* s = stack::push(*series);
  Cell* v = stack::push(*value);
  Cell* found = actions::handler_for<Action::find>(*s)(s, v, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  return *found;
}

[[noreturn]] void fire_move_bad(const Cell* origin, const Cell* target) {
  Cell from = datatype::make(origin->type());
  Cell to = datatype::make(target->type());
  fire(ErrorId::script_move_bad, &from, &to);
}

// Moves count units from the origin's index into another series at its
// index (clamped to its tail).
Cell* move_between(Cell* origin, Cell* target, uint32_t count) {
  Family from = family_of(origin->type());
  Family to = family_of(target->type());
  uint32_t origin_unit = unit_of(origin);
  uint32_t target_unit = unit_of(target);
  // Units are only ever copied between series whose elements mean the same
  // thing: text and bytes of one unit may trade places, text of any units
  // goes through the string routines, everything else must match exactly.
  bool text_and_bytes = (from == Family::kText && to == Family::kBinary) ||
                        (from == Family::kBinary && to == Family::kText);
  if (from != to && !text_and_bytes) fire_move_bad(origin, target);
  if (from == Family::kText && to == Family::kText && origin_unit != target_unit) {
    string::insert_codepoints(origin, target, count);
    return target;
  }
  if (origin_unit != target_unit) fire_move_bad(origin, target);
  if (from == Family::kVector && origin->data3 != target->data3) fire_move_bad(origin, target);

  uint32_t target_length = rs_length_from_head(target);
  uint32_t position = target->data1 > target_length ? target_length : target->data1;
  SeriesBuffer* into = open_gap(target, position, count);
  SeriesBuffer* source = buffer_of(origin);
  std::memcpy(into->head_ptr() + uint64_t{position} * target_unit,
              source->head_ptr() + uint64_t{origin->data1} * origin_unit,
              uint64_t{count} * origin_unit);
  index_inserted(target, position, count);
  remove_units(origin, origin->data1, count);
  return target;
}

// Moves count units inside one series from the origin's index to the
// target's position. A target inside the moved part leaves everything as it
// is and answers the origin.
Cell* move_within(Cell* origin, Cell* target, uint32_t count) {
  uint32_t length = rs_length_from_head(origin);
  uint32_t source = origin->data1;
  uint32_t destination = target->data1 > length ? length : target->data1;
  if (destination == source) return target;
  if (destination > source) {
    if (destination < source + count) return origin;
    // Too few units at and after the target to place the part after it.
    if (destination != length && length - destination < count) return origin;
  }
  SeriesBuffer* b = buffer_of(origin);
  uint32_t unit = b->unit();
  uint8_t* base = b->head_ptr();
  size_t part_bytes = size_t{count} * unit;
  std::vector<uint8_t> part(base + size_t{source} * unit, base + size_t{source} * unit + part_bytes);
  uint32_t final_start;
  if (destination > source) {
    // The units between the part and the target move down; the part then
    // follows the unit at the target (or ends the series at the tail).
    uint32_t end = destination == length ? length : destination + 1;
    std::memmove(base + size_t{source} * unit, base + size_t{source + count} * unit,
                 size_t{end - source - count} * unit);
    final_start = end - count;
  } else {
    std::memmove(base + size_t{destination + count} * unit, base + size_t{destination} * unit,
                 size_t{source - destination} * unit);
    final_start = destination;
  }
  std::memcpy(base + size_t{final_start} * unit, part.data(), part_bytes);
  if (NodeId table = table_of(origin)) {
    if (hash_table::move(table, final_start, source, count)) hash_table::rebuild(table, length);
  }
  return target;
}

Cell* move_index(bool counts_from_one) {
  Cell* series = stack::arguments();
  Cell* offset = series + 1;
  if (!offset->is(TYPE_INTEGER)) fire(ErrorId::script_invalid_arg, offset);
  int64_t n = offset->int_at2();
  if (counts_from_one && n > 0) n -= 1;
  int64_t target = index_of(series) + n;
  int64_t length = rs_length_from_head(series);
  series->data1 = static_cast<uint32_t>(std::clamp<int64_t>(target, 0, length));
  return series;
}

}  // namespace

// --- Index routines ---------------------------------------------------------------

uint32_t rs_length_from_head(const Cell* series) {
  const SeriesBuffer* b = buffer_of(series);
  uint32_t unit = b->unit();
  return unit == 0 ? b->used() : b->used() / unit;
}

bool rs_tail_q(const Cell* series) { return index_of(series) < 0 ? false : series->data1 >= rs_length_from_head(series); }

bool rs_skip(Cell* series, int32_t n) {
  int64_t length = rs_length_from_head(series);
  int64_t target = index_of(series) + n;
  if (target >= 0 && target <= length) series->data1 = static_cast<uint32_t>(target);
  return target >= length;
}

int32_t rs_length(Cell* series, bool from_head) {
  int64_t length = rs_length_from_head(series);
  int64_t index = index_of(series);
  if (from_head || index < 0) return static_cast<int32_t>(length);
  if (index > length) {
    series->data1 = static_cast<uint32_t>(length);
    return 0;
  }
  return static_cast<int32_t>(length - index);
}

// --- Editing helpers ------------------------------------------------------------

void remove_units(const Cell* series, uint32_t start, uint64_t count) {
  SeriesBuffer* b = buffer_of(series);
  uint32_t unit = b->unit();
  uint32_t length = b->used() / unit;
  if (start >= length || count == 0) return;
  uint32_t removed = count >= length - start ? length - start : static_cast<uint32_t>(count);
  uint8_t* at = b->head_ptr() + uint64_t{start} * unit;
  uint8_t* after = at + uint64_t{removed} * unit;
  std::memmove(at, after, static_cast<size_t>(b->tail_ptr() - after));
  b->tail -= removed * unit;
  if (NodeId table = table_of(series)) {
    uint32_t following = length - start - removed;
    if (hash_table::refresh(table, -static_cast<int32_t>(removed), start, following, true))
      hash_table::rebuild(table, length - removed);
  }
}

SeriesBuffer* open_gap(const Cell* series, uint32_t position, uint64_t count, bool exact_growth) {
  SeriesBuffer* b = buffer_of(series);
  uint32_t unit = b->unit();
  uint64_t bytes = count * unit;
  uint64_t needed = uint64_t{b->used()} + bytes;
  memory::check_series_size(needed);
  if (uint64_t{b->tail} + bytes > b->size) {
    // Room for as much again as is needed, up to the series limit.
    uint64_t size = exact_growth ? needed : memory::grown_capacity(needed, needed);
    b = memory::expand_series(b, static_cast<uint32_t>(size));
  }
  uint8_t* at = b->head_ptr() + uint64_t{position} * unit;
  std::memmove(at + bytes, at, static_cast<size_t>(b->tail_ptr() - at));
  b->tail += static_cast<uint32_t>(bytes);
  return b;
}

void index_inserted(const Cell* series, uint32_t position, uint32_t count) {
  NodeId table = table_of(series);
  if (table == 0 || count == 0) return;
  uint32_t length = rs_length_from_head(series);
  uint32_t following = length - position - count;
  if (hash_table::refresh(table, static_cast<int32_t>(count), position, following, true)) {
    hash_table::rebuild(table, length);
    return;
  }
  for (uint32_t i = 0; i < count; ++i) {
    bool rebuilt = false;
    Cell* cell = buffer_of(series)->cells() + position + i;
    hash_table::put_key(table, cell, &rebuilt);
    if (rebuilt) return;
  }
}

// --- Arguments ------------------------------------------------------------------------

void fire_bad_part(const Cell* value) {
  fire(ErrorId::script_invalid_refine_arg, &runtime_words::part_refinement, value);
}
void fire_bad_skip(const Cell* value) {
  fire(ErrorId::script_invalid_refine_arg, &runtime_words::skip_refinement, value);
}
void fire_bad_compare(const Cell* value) {
  fire(ErrorId::script_invalid_refine_arg, &runtime_words::compare_refinement, value);
}

int32_t part_count(const Cell* series, const Cell* part) {
  if (part->is(TYPE_INTEGER)) return part->int_at2();
  if (part->type() == series->type() && part->data2 == series->data2)
    return static_cast<int32_t>(index_of(part) - index_of(series));
  fire_bad_part(part);
}

// --- Telling an owner of a change ---------------------------------------------------------

namespace {
Stretch clamped_stretch(const Cell& series, int64_t start, int64_t count) {
  int64_t length = rs_length_from_head(&series);
  Stretch stretch;
  stretch.start = static_cast<uint32_t>(std::clamp<int64_t>(start, 0, length));
  stretch.count = static_cast<uint32_t>(std::clamp<int64_t>(count, 0, length - stretch.start));
  return stretch;
}

int32_t told(int64_t units) { return static_cast<int32_t>(std::clamp<int64_t>(units, INT32_MIN, INT32_MAX)); }
}  // namespace

Stretch announce(const Cell& series, uint32_t action_word, const Cell* new_value, int64_t start, int64_t count,
                 int64_t part) {
  Cell target = series;
  bool announced = false;
  if (ownership::is_owned(target)) {
    Cell given = new_value != nullptr ? *new_value : none::value;
    announced = ownership::check(target, action_word, new_value != nullptr ? &given : nullptr, told(start),
                                 told(part));
  }
  // Whatever the handler did, the bounds come from the series as it is now.
  Stretch stretch = clamped_stretch(target, start, count);
  stretch.part = told(part);
  stretch.announced = announced;
  return stretch;
}

Stretch reclamp(const Cell& series, const Stretch& stretch, int64_t count) {
  Stretch live = clamped_stretch(series, stretch.start, count);
  live.part = static_cast<int32_t>(live.count);
  live.announced = stretch.announced;
  return live;
}

Stretch announce(const Cell& series, uint32_t action_word, const Cell* new_value, int64_t start, int64_t count) {
  Stretch told_stretch = clamped_stretch(series, start, count);
  Stretch stretch = announce(series, action_word, new_value, start, count, told_stretch.count);
  stretch.part = static_cast<int32_t>(stretch.count);
  return stretch;
}

SwapStretches announce_swap(const Cell& series1, const Cell& series2) {
  SwapStretches stretches;
  stretches.two = series1.data2 != series2.data2;
  stretches.first = announce(series1, runtime_words::swap, nullptr, series1.data1, 1);
  if (stretches.two) stretches.second = announce(series2, runtime_words::swap, nullptr, series2.data1, 1);
  stretches.first = reclamp(series1, stretches.first, 1);
  stretches.second = reclamp(series2, stretches.two ? stretches.second : Stretch{series2.data1}, 1);
  return stretches;
}

void announce_swapped(const Cell& series1, const Cell& series2, const SwapStretches& stretches) {
  announce_done(series1, runtime_words::swaped, nullptr, stretches.first);
  if (stretches.two) announce_done(series2, runtime_words::swaped, nullptr, stretches.second);
}

void announce_done(const Cell& series, uint32_t past_word, const Cell* new_value, const Stretch& stretch) {
  if (!stretch.announced) return;
  Cell target = series;
  Cell given = new_value != nullptr ? *new_value : none::value;
  ownership::check(target, past_word, new_value != nullptr ? &given : nullptr, static_cast<int32_t>(stretch.start),
                   stretch.part);
}

// --- Elements --------------------------------------------------------------------------

Cell element_at(const Cell* series, uint32_t position) {
  const SeriesBuffer* b = buffer_of(series);
  uint32_t unit = b->unit();
  const uint8_t* p = b->data() + b->offset + uint64_t{position} * unit;
  TypeId type = series->type();
  if (is_block_kind(type)) return *reinterpret_cast<const Cell*>(p);
  if (is_text_kind(type)) return make_cell(TYPE_CHAR, 0, unicode::get_char(p, unit));
  if (type == TYPE_BINARY) return integer::make(*p);
  if (type == TYPE_VECTOR) return read_vector_element(p, unit, series->data3);
  if (type == TYPE_IMAGE) return image::pixel_at(*series, position);
  return none::value;
}

Cell pick_value(const Cell* series, int32_t n) {
  if (n == 0) return none::value;
  int64_t target = index_of(series) + (n > 0 ? int64_t{n} - 1 : int64_t{n});
  if (is_block_kind(series->type())) {
    // The cells themselves, without the unit arithmetic of other series:
    // first and second of a block are the hot picks of data built in blocks.
    SeriesBuffer* b = buffer_of(series);
    if (target < 0 || target >= b->cell_count()) return none::value;
    return b->cells()[target];
  }
  if (target < 0 || target >= rs_length_from_head(series)) return none::value;
  return element_at(series, static_cast<uint32_t>(target));
}

void poke_value(Cell* series, int32_t n, const Cell* value) {
  int64_t target = index_of(series) + (n > 0 ? int64_t{n} - 1 : int64_t{n});
  if (n == 0 || target < 0 || target >= rs_length_from_head(series))
    fire_with_integer(ErrorId::script_out_of_range, n);
  Cell data = *value;
  SeriesBuffer* b = buffer_of(series);
  uint32_t unit = b->unit();
  uint32_t position = static_cast<uint32_t>(target);
  uint8_t* p = b->head_ptr() + uint64_t{position} * unit;
  TypeId type = series->type();
  if (is_block_kind(type)) {
    Cell* cell = reinterpret_cast<Cell*>(p);
    *cell = data;
    if (NodeId table = table_of(series)) hash_table::put(table, cell);
  } else if (is_text_kind(type)) {
    if (!data.is(TYPE_CHAR)) fire(ErrorId::script_invalid_arg, &data);
    string::poke_char(b, b->offset + position * unit, data.data2);
  } else if (type == TYPE_BINARY) {
    if (!data.is(TYPE_INTEGER) && !data.is(TYPE_CHAR)) fire(ErrorId::script_invalid_arg, &data);
    *p = static_cast<uint8_t>(data.data2);
  } else if (type == TYPE_VECTOR) {
    if (data.type() != series->data3) fire(ErrorId::script_invalid_arg, &data);
    write_vector_element(p, unit, data);
  } else {
    fire(ErrorId::script_invalid_arg, &data);
  }
}

Cell copy_units(const Cell* series, uint32_t start, uint32_t count) {
  constexpr uint32_t kAllocatorFlags = series_flags::kInUse | series_flags::kFresh |
                                       series_flags::kStartedInMiddle | series_flags::kMark |
                                       series_flags::kBig | series_flags::kFixed;
  uint32_t unit = unit_of(series);
  NodeId node = memory::alloc_series(count == 0 ? 1 : count, unit, 0);
  SeriesBuffer* from = buffer_of(series);
  SeriesBuffer* to = memory::buffer_of(node);
  std::memcpy(to->data(), from->head_ptr() + uint64_t{start} * unit, uint64_t{count} * unit);
  to->offset = 0;
  to->tail = count * unit;
  to->flags = (to->flags & kAllocatorFlags) | (from->flags & ~(kAllocatorFlags | series_flags::kOwned));
  Cell copy = make_cell(series->type(), 0, node, series->is(TYPE_VECTOR) ? series->data3 : 0);
  copy.header |= series->header & flags::kNewLine;
  return copy;
}

// --- Index actions ----------------------------------------------------------------------

Cell* at() { return move_index(true); }
Cell* skip() { return move_index(false); }

Cell* head() {
  stack::arguments()->data1 = 0;
  return stack::arguments();
}

Cell* tail() {
  Cell* series = stack::arguments();
  series->data1 = rs_length_from_head(series);
  return series;
}

Cell* head_q() { return logic::box(stack::arguments()->data1 == 0); }
Cell* tail_q() { return logic::box(rs_tail_q(stack::arguments())); }

Cell* index_q() {
  Cell* series = stack::arguments();
  return set_result(integer::make(static_cast<int32_t>(index_of(series) + 1)));
}

Cell* next() {
  Cell* series = stack::arguments();
  if (index_of(series) + 1 <= rs_length_from_head(series)) series->data1 += 1;
  return series;
}

Cell* back() {
  Cell* series = stack::arguments();
  if (index_of(series) > 0) series->data1 -= 1;
  return series;
}

int32_t length_q(Cell* series) { return rs_length(series, false); }

// --- Element actions ----------------------------------------------------------------------

Cell* pick(Cell* series, int32_t index, Cell*) { return set_result(pick_value(series, index)); }

Cell* poke(Cell* series, int32_t index, Cell* data, Cell*) {
  int64_t target = index_of(series) + (index > 0 ? int64_t{index} - 1 : int64_t{index});
  // Only a poke that will be made is announced; poke_value checks the range
  // again on the live series, so a handler that shortened it gets
  // out-of-range rather than a write past the tail.
  Stretch stretch;
  if (index != 0 && target >= 0 && target < rs_length_from_head(series))
    stretch = announce(*series, runtime_words::poke, data, target, 1);
  poke_value(series, index, data);
  announce_done(*series, runtime_words::poked, data, stretch);
  return data;
}

Cell* clear(Cell* series) {
  uint32_t length = rs_length_from_head(series);
  if (index_of(series) < 0 || series->data1 >= length) return series;
  // Clearing runs to the live tail, wherever the owner left it.
  Stretch stretch = announce(*series, runtime_words::clear, nullptr, series->data1, kToTail);
  if (NodeId table = table_of(series)) hash_table::remove_range(table, stretch.start, stretch.count);
  SeriesBuffer* b = buffer_of(series);
  b->tail = b->offset + stretch.start * b->unit();
  announce_done(*series, runtime_words::cleared, nullptr, stretch);
  return series;
}

Cell* remove(Cell* series, int part, int key) {
  Cell* arguments = stack::arguments();
  int64_t count = part >= 0 ? part_count(series, arguments + part) : 1;
  if (count < 1) return series;
  int64_t start = index_of(series);
  if (key >= 0) {
    Cell found = find_value(series, arguments + key);
    if (found.is(TYPE_NONE)) return none::set_result();
    start = found.data1;
    count += 1;
  }
  Stretch stretch = announce(*series, runtime_words::remove, nullptr, start, count);
  remove_units(series, stretch.start, stretch.count);
  announce_done(*series, runtime_words::removed, nullptr, stretch);
  return series;
}

Cell* take(Cell* series, int part, int, int last) {
  Cell* arguments = stack::arguments();
  int64_t length = rs_length(series, false);
  if (length == 0) return none::set_result();
  int64_t index = index_of(series);
  int64_t count = 1;
  int64_t start = index;
  if (part >= 0) {
    const Cell* range = arguments + part;
    if (range->is(TYPE_INTEGER)) {
      count = range->int_at2();
    } else if (range->type() == series->type() && range->data2 == series->data2) {
      int64_t end = std::min<int64_t>(index_of(range), index + length);
      if (end < index) count = 0;
      else count = last >= 0 ? index + length - end : end - index;
    } else {
      fire_bad_part(range);
    }
    if (count < 0) {
      if (last >= 0) {
        count = 1;
      } else {
        count = std::min<int64_t>(-count, index);
        start = index - count;
      }
    }
  }
  if (count > length) count = length;
  if (last >= 0) start = index + length - count;
  Stretch stretch = announce(*series, runtime_words::take, nullptr, start, count);
  if (last >= 0) {
    // /last takes from the live tail, wherever the owner left it.
    int64_t live = rs_length(series, false);
    stretch.count = static_cast<uint32_t>(std::min(count, live));
    stretch.start = static_cast<uint32_t>(index_of(series) + live - stretch.count);
    stretch.part = static_cast<int32_t>(stretch.count);
  }
  // Nothing left of what was to be taken: a single element is none, as from
  // an empty series.
  if (stretch.count == 0 && part < 0) {
    announce_done(*series, runtime_words::taken, nullptr, stretch);
    return none::set_result();
  }
  Cell* taken = stack::push(copy_units(series, stretch.start, stretch.count));
  if (series->is(TYPE_HASH) && series->data3 != 0)
    taken->data3 = hash_table::init(stretch.count, taken, hash_table::kHash, 0);
  remove_units(series, stretch.start, stretch.count);
  announce_done(*series, runtime_words::taken, nullptr, stretch);
  return set_result(*taken);
}

Cell* copy(Cell* value, Cell* result, int part, int, int) {
  int64_t length_from_head = rs_length_from_head(value);
  int64_t start = index_of(value);
  int64_t count = length_from_head - start;
  if (part >= 0) {
    const Cell* range = stack::arguments() + part;
    if (range->is(TYPE_PAIR)) {
      int64_t x = static_cast<int32_t>(range->data2);
      int64_t y = static_cast<int32_t>(range->data3);
      start = std::max<int64_t>(0, start + (x > 0 ? x - 1 : x));
      count = y < x ? 0 : y - x;
    } else {
      count = part_count(value, range);
    }
    if (count < 0) {
      if (start + count < 0) {
        count = start;
        start = 0;
      } else {
        start += count;
        count = -count;
      }
    }
  }
  if (start > length_from_head) start = length_from_head;
  if (count < 0) count = 0;
  if (start + count > length_from_head) count = length_from_head - start;
  *result = copy_units(value, static_cast<uint32_t>(start), static_cast<uint32_t>(count));
  return result;
}

Cell* reverse(Cell* series, int part, int skip) {
  Cell* arguments = stack::arguments();
  int64_t length = rs_length(series, false);
  if (length == 0) return series;
  int64_t count = length;
  int64_t wanted = kToTail;  // what the reversal covers once the owner has heard of it
  if (part >= 0) {
    count = part_count(series, arguments + part);
    if (count < 1) return series;
    wanted = count;
    if (count > length) count = length;
  }
  int64_t size = 1;
  if (skip >= 0) {
    const Cell* step = arguments + skip;
    if (!step->is(TYPE_INTEGER)) fire_bad_skip(step);
    size = step->int_at2();
    if (size == count) return series;
    if (size < 1) fire(ErrorId::script_out_of_range, step);
    if (count < size || count % size != 0) fire_bad_skip(step);
  }
  Stretch stretch = announce(*series, runtime_words::reverse, nullptr, series->data1, wanted);
  // Whole records only: what the owner left of the stretch may end inside one.
  uint32_t records = stretch.count / static_cast<uint32_t>(size);
  uint32_t start = stretch.start;
  uint32_t units = records * static_cast<uint32_t>(size);
  NodeId table = table_of(series);
  if (table) hash_table::remove_range(table, start, units);
  if (records > 1) {
    SeriesBuffer* b = buffer_of(series);
    size_t width = static_cast<size_t>(size) * b->unit();
    uint8_t* first = b->head_ptr() + size_t{start} * b->unit();
    uint8_t* last = first + size_t{units - static_cast<uint32_t>(size)} * b->unit();
    for (; first < last; first += width, last -= width) std::swap_ranges(first, first + width, last);
  }
  if (table) {
    for (uint32_t i = 0; i < units; ++i) {
      bool rebuilt = false;
      hash_table::put_key(table, buffer_of(series)->cells() + start + i, &rebuilt);
      if (rebuilt) break;
    }
  }
  announce_done(*series, runtime_words::reversed, nullptr, stretch);
  return series;
}

Cell* move(Cell* origin, Cell* target, int part) {
  if (!is_series_kind(target->type())) {
    Cell call = error_value::call_word();
    Cell type = datatype::make(target->type());
    Cell argument = error_value::call_argument_word(1);
    fire(ErrorId::script_expect_arg, &call, &type, &argument);
  }
  int64_t length = rs_length(origin, false);
  if (length == 0) return origin;
  int64_t count = 1;
  if (part >= 0) {
    count = part_count(origin, stack::arguments() + part);
    if (count < 1) return origin;
  }
  // Both series hear of the move: the origin loses the units, the target
  // (when it is another series) receives them.
  bool between = origin->data2 != target->data2;
  Stretch from = announce(*origin, runtime_words::move, nullptr, origin->data1, count);
  Stretch to;
  if (between) to = announce(*target, runtime_words::move, nullptr, target->data1, 0, from.part);
  // The target's handler runs last and may change the origin too.
  from = reclamp(*origin, from, count);
  origin->data1 = from.start;
  Cell* result = origin;
  if (from.count > 0)
    result = between ? move_between(origin, target, from.count) : move_within(origin, target, from.count);
  announce_done(*origin, runtime_words::moved, nullptr, from);
  if (between) {
    to.part = static_cast<int32_t>(from.count);
    announce_done(*target, runtime_words::moved, nullptr, to);
  }
  return result;
}

Cell* random(Cell* value, int seed, int secure, int only) {
  if (seed >= 0) {
    SeriesBuffer* b = buffer_of(value);
    uint32_t length = units_after(value, value->data1);
    const uint8_t* from = b->head_ptr() + uint64_t{value->data1} * b->unit();
    random::seed(static_cast<int32_t>(hash_table::murmur3(from, size_t{length} * b->unit())));
    return unset::set_result();
  }
  int32_t length = rs_length(value, false);
  if (only >= 0) {
    if (length == 0) return none::set_result();
    int32_t m = random::int_uniform(secure >= 0, length);
    return set_result(element_at(value, value->data1 + m - 1));
  }
  Stretch stretch = announce(*value, runtime_words::random, nullptr, value->data1, kToTail);
  auto remaining = static_cast<int32_t>(stretch.count);
  uint32_t unit = unit_of(value);
  for (int32_t i = 0; i < remaining; ++i) {
    int32_t m = random::int_uniform(secure >= 0, remaining - i);
    // Re-read the buffer: the draw itself does not allocate, but nothing
    // here relies on that.
    uint8_t* at = buffer_of(value)->head_ptr() + uint64_t{stretch.start + static_cast<uint32_t>(i)} * unit;
    std::swap_ranges(at, at + unit, at + size_t(m - 1) * unit);
  }
  announce_done(*value, runtime_words::randomized, nullptr, stretch);
  return value;
}

Cell* reflect(Cell* value, int field) {
  if (field == static_cast<int>(runtime_words::owned) && field != 0) {
    const Cell* owner = ownership::is_owned(*value) ? ownership::get_owner(value->data2) : nullptr;
    return owner != nullptr ? set_result(*owner) : none::set_result();
  }
  fire(ErrorId::internal_not_done);
}

Cell* modify(Cell* target, Cell* field, Cell* value, int) {
  // Only the field owned is acted on: none releases the series from its
  // owner, [owner word] gives it one.
  if (field->type() >= TYPE_WORD && field->type() <= TYPE_REFINEMENT &&
      symbol::resolve(field->data2) == runtime_words::owned) {
    Cell series = *target;
    Cell given = *value;
    if (given.is(TYPE_NONE)) {
      ownership::unbind(series);
    } else if (given.is(TYPE_BLOCK) && given.data1 + 1 < buffer_of(&given)->cell_count()) {
      Cell owner = buffer_of(&given)->cells()[given.data1];
      Cell word = buffer_of(&given)->cells()[given.data1 + 1];
      if (owner.is(TYPE_OBJECT)) ownership::set_owner_flagged(series, owner, word);
    }
  }
  return value;
}

void init() {
  DatatypeRecord record(TYPE_SERIES, 0, "series!");
  record.handle<Action::random>(random)
      .handle<Action::reflect>(reflect)
      .handle<Action::at>(at)
      .handle<Action::back>(back)
      .handle<Action::clear>(clear)
      .handle<Action::copy>(copy)
      .handle<Action::head>(head)
      .handle<Action::head_q>(head_q)
      .handle<Action::index_q>(index_q)
      .handle<Action::length_q>(length_q)
      .handle<Action::move>(move)
      .handle<Action::next>(next)
      .handle<Action::pick>(pick)
      .handle<Action::poke>(poke)
      .handle<Action::remove>(remove)
      .handle<Action::reverse>(reverse)
      .handle<Action::skip>(skip)
      .handle<Action::tail>(tail)
      .handle<Action::tail_q>(tail_q)
      .handle<Action::take>(take)
      .handle<Action::modify>(modify);
  register_datatype(record);
}

}  // namespace kel::series
