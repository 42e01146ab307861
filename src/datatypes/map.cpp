// map!: construction, lookup and storage, the text forms, comparison, copy,
// reflection, extend and the foreach step (see map.h for the cell, the pair
// block and the key rules).
//
// Entries are found through the table's probe (hash_table::probe_key), which
// yields every key equal to the wanted one under the operator. A removed
// entry's key stays in the table, so a lookup prefers a live entry among the
// candidates and only a store falls back to reviving a removed one. Walks
// over the pair block read the buffer through its node at each step: storing
// may grow the block, and copying or molding a value may allocate.
//
// Reactive owners are not told of changes yet: the ownership tracker comes
// later and will be called around put/path set ("put"/"put-ed"), remove
// ("remove"/"removed"), clear ("clear"/"cleared") and extend.
#include "datatypes/map.h"

#include <algorithm>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/actions.h"
#include "runtime/stack.h"
#include "runtime/cycles.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "runtime/hash_table.h"
#include "datatypes/runtime_words.h"
#include "datatypes/argument_checks.h"

namespace kel::map {

namespace {

SeriesBuffer* pair_buffer(const Cell& map) { return memory::buffer_of(pairs_of(map)); }
uint32_t pair_cell_count(const Cell& map) { return pair_buffer(map)->cell_count(); }
Cell pair_cell(const Cell& map, uint32_t index) { return pair_buffer(map)->cells()[index]; }

// A removed entry's value cell has header 0.
bool entry_live(const Cell& map, uint32_t key_index) {
  return key_index + 1 < pair_cell_count(map) && pair_cell(map, key_index + 1).header != 0;
}

bool is_text_key(TypeId type) { return series::is_text_kind(type) || type == TYPE_BINARY; }

int32_t lookup_op(bool case_sensitive) { return case_sensitive ? kCmpStrictEqual : kCmpEqual; }

// A series value (from its index) copied into a buffer of its own.
Cell copy_series_value(const Cell& value) {
  Cell source = value;
  uint32_t length = series::rs_length_from_head(&source);
  uint32_t start = std::min(source.data1, length);
  return series::copy_units(&source, start, length - start);
}

// A stored key as it leaves the map: set-word! keys as word!, series keys
// as copies (so that editing them cannot move the key in the table).
Cell key_handed_out(const Cell& key) {
  Cell result = is_text_key(key.type()) ? copy_series_value(key) : key;
  if (result.is(TYPE_SET_WORD)) result.set_type(TYPE_WORD);
  clear_new_line(&result);
  return result;
}

constexpr int64_t kNoEntry = -1;

// The cell index of the key cell of the entry equal to the key under op: a
// live entry when there is one, else (with removed_too) the first removed
// one met, else kNoEntry. The key's hash goes to *hash when asked for.
int64_t find_entry(const Cell& map, const Cell& key, int32_t op, bool removed_too, uint32_t* hash = nullptr) {
  if (!key_type_q(key.type())) return kNoEntry;  // no such key can be stored
  NodeId table = table_of(map);
  hash_table::Probe probe;
  int64_t removed = kNoEntry;
  for (;;) {
    Cell wanted = key;
    Cell* found = hash_table::probe_key(table, &wanted, &probe, op);
    if (hash != nullptr) *hash = probe.hash;
    if (found == nullptr) break;
    auto index = static_cast<uint32_t>(found - pair_buffer(map)->cells());
    if (entry_live(map, index)) return index;
    if (removed == kNoEntry) removed = index;
  }
  return removed_too ? removed : kNoEntry;
}

// Appends a pair (the key normalised, naming the path in its errors) and
// indexes the key, which no key of the map equals under any comparison
// (the probe that gave its hash found none, live or removed: a key equal
// case-sensitively is equal at all). Answers nothing: the pair is the last
// one of the block.
void append_pair(const Cell& map, const Cell& key, const Cell& value, const Cell* path, uint32_t hash) {
  stack::Guard guard;
  Cell* normal = stack::push(key);
  normalize_key(normal, path);
  Cell* stored_value = stack::push(value);
  clear_new_line(stored_value);
  Cell block = block::make_value(pairs_of(map));
  auto key_index = static_cast<uint32_t>(block::rs_length(&block));
  block::rs_append(&block, *normal);
  block::rs_append(&block, *stored_value);
  hash_table::put_new_map_key(table_of(map), pair_buffer(map)->cells() + key_index, hash);
}

// Stores the value under the key: overwrites a live entry, revives a
// removed one (the live count grows), or appends a new pair.
void store(const Cell& map, const Cell& key, const Cell& value, bool case_sensitive, const Cell* path) {
  uint32_t hash = 0;
  int64_t found = find_entry(map, key, lookup_op(case_sensitive), true, &hash);
  if (found == kNoEntry) {
    append_pair(map, key, value, path, hash);
    return;
  }
  Cell stored = value;
  clear_new_line(&stored);
  Cell& slot = pair_buffer(map)->cells()[found + 1];  // tables pad a key without value
  bool revived = slot.header == 0;
  slot = stored;
  if (revived) ++hash_table::record_of(table_of(map))->size;
}

[[noreturn]] void fire_bad_key(TypeId type, const Cell* path) {
  Cell datatype = datatype::make(type);
  fire(ErrorId::script_invalid_path, path != nullptr ? path : &none::value, &datatype);
}

// The key cell indexes of the live entries, in entry order.
std::vector<uint32_t> live_entries(const Cell& map) {
  std::vector<uint32_t> entries;
  uint32_t count = pair_cell_count(map);
  for (uint32_t i = 0; i + 1 < count; i += 2)
    if (pair_cell(map, i + 1).header != 0) entries.push_back(i);
  return entries;
}

// A new block (pushed) of the live keys, values or pairs.
enum class Gather { kKeys, kValues, kPairs };
Cell* collect(const Cell& map, Gather what) {
  std::vector<uint32_t> entries = live_entries(map);
  auto room = static_cast<int32_t>(entries.size() * (what == Gather::kPairs ? 2 : 1));
  Cell* result = block::push_only(room);
  for (uint32_t index : entries) {
    if (what != Gather::kValues) {
      Cell key = pair_cell(map, index);
      if (what == Gather::kKeys) {
        key = key_handed_out(key);
      } else {
        // The body keeps each key's stored type (word keys as set-words).
        if (is_text_key(key.type())) key = copy_series_value(key);
        key.set_new_line(true);
      }
      block::rs_append(result, key);
    }
    if (what != Gather::kKeys) {
      Cell value = pair_cell(map, index + 1);
      clear_new_line(&value);
      block::rs_append(result, value);
    }
  }
  return result;
}

// The entry writer shared by mold and form. Entries are each key molded,
// one space and the value molded; with flat they are separated by a space,
// in the mold layout (mold without only) each stands on a line of its own
// indented one level deeper than the map, otherwise they are separated by
// line feeds. Answers the part limit left; *wrote tells whether any entry was
// written.
int32_t write_entries(const Cell& map, Cell* buffer, bool mold_layout, bool all, bool flat, Cell* arg,
                      int32_t part, int32_t indent, bool* wrote) {
  *wrote = false;
  std::vector<uint32_t> entries = live_entries(map);
  if (entries.empty()) return part;
  cycles::Entry entry(pairs_of(map));
  bool lines = mold_layout && !flat;
  int32_t depth = lines ? indent + 1 : indent;
  if (lines) {
    string::concatenate_literal(buffer, "\n");
    --part;
  }
  bool first = true;
  for (uint32_t index : entries) {
    if (part <= 0) break;
    // A value's mold may run code that edits this map (an object's handler,
    // say): an entry that went away meanwhile is passed over.
    if (index + 1 >= pair_cell_count(map)) break;
    Cell key = pair_cell(map, index);
    Cell value = pair_cell(map, index + 1);
    if (value.header == 0) continue;
    if (lines) {
      mold_indent(buffer, depth);
      part -= 4 * depth;
    } else if (!first) {
      string::concatenate_literal(buffer, flat ? " " : "\n");
      --part;
    }
    first = false;
    part = actions::mold(&key, buffer, false, all, flat, arg, part, depth);
    string::concatenate_literal(buffer, " ");
    --part;
    part = actions::mold(&value, buffer, false, all, flat, arg, part, depth);
    *wrote = true;
    if (lines) {
      string::concatenate_literal(buffer, "\n");
      --part;
    }
  }
  return part;
}

// A copy of a nested value through its own copy handler, in a frame of its
// own, with the same /deep and /types (blocks then check for cycles
// themselves).
Cell copy_nested(const Cell& value, bool deep, const Cell* kind) {
  stack::Guard guard;
  stack::mark_native(nullptr);
  Cell* source = stack::push(value);
  Cell* result = stack::push_slot();
  int types = -1;
  if (kind != nullptr) types = static_cast<int>(stack::push(*kind) - stack::arguments());
  Cell* copied = actions::handler_for<Action::copy>(*source)(source, result, -1, deep ? 0 : -1, types);
  return *copied;
}

bool copyable_by_kind(TypeId type) {
  return series::is_series_kind(type) || type == TYPE_BITSET || type == TYPE_OBJECT || type == TYPE_ERROR ||
         type == TYPE_MAP;
}

// Replaces the values of a fresh copy (not the keys) that copy/deep and
// copy/types copy; source is the map they were copied from.
void copy_values(const Cell& source, const Cell& copy, bool deep, const Cell* kind) {
  if (deep && cycles::find(pairs_of(source))) fire(ErrorId::internal_no_cycle);
  cycles::Entry entry(pairs_of(source));
  uint32_t count = pair_cell_count(copy);
  for (uint32_t i = 1; i < count; i += 2) {
    Cell value = pair_cell(copy, i);
    if (value.header == 0) continue;
    TypeId type = value.type();
    if (kind != nullptr) {
      if (!copyable_by_kind(type)) continue;
      bool wanted = kind->is(TYPE_DATATYPE) ? kind->data1 == type : typeset_has(*kind, type);
      if (!wanted) continue;
    } else if (!series::is_series_kind(type) && !(deep && type == TYPE_MAP)) {
      // Besides series, /deep copies nested maps, so that a map that holds
      // itself meets the cycle check.
      continue;
    }
    Cell copied = copy_nested(value, deep, kind);
    clear_new_line(&copied);
    pair_buffer(copy)->cells()[i] = copied;
  }
}

// A map over a fresh copy of the source's cells (from its index), for make
// and to from a block kind.
Cell* make_from_block(const Cell* spec) {
  Cell source = *spec;
  int32_t length = std::max(block::rs_length(&source), 0);
  if (length % 2 != 0) fire(ErrorId::script_invalid_arg, &source);
  stack::Guard guard;
  Cell* pairs = stack::push(series::copy_units(&source, source.data1, static_cast<uint32_t>(length)));
  pairs->set_type(TYPE_BLOCK);
  pairs->data3 = 0;
  Cell made;
  make_at(&made, pairs, length);
  return stack::set_result(made);
}

bool is_equality(int32_t op) {
  return op == kCmpEqual || op == kCmpNotEqual || op == kCmpStrictEqual || op == kCmpSame || op == kCmpFind;
}

// Whether every live entry of the first map has an equal entry in the second
// (their live counts being equal).
bool same_entries(const Cell& first, const Cell& second, int32_t op) {
  bool strict = op == kCmpStrictEqual;
  int32_t key_op = strict ? kCmpStrictEqual : kCmpEqual;
  int32_t value_op = strict ? kCmpStrictEqual : op == kCmpFind ? kCmpFind : kCmpEqual;
  for (uint32_t index : live_entries(first)) {
    Cell key = pair_cell(first, index);
    if (pair_cell(first, index + 1).header == 0) continue;
    bool matched = false;
    hash_table::Probe probe;
    for (;;) {
      Cell wanted = key;
      Cell* candidate = hash_table::probe_key(table_of(second), &wanted, &probe, key_op);
      if (candidate == nullptr) break;
      auto at = static_cast<uint32_t>(candidate - pair_buffer(second)->cells());
      if (!entry_live(second, at)) continue;
      Cell mine = pair_cell(first, index + 1);
      Cell theirs = pair_cell(second, at + 1);
      if (actions::compare(&mine, &theirs, value_op)) {
        matched = true;
        break;
      }
    }
    if (!matched) return false;
  }
  return true;
}

}  // namespace

// --- Routines -----------------------------------------------------------------------

int32_t size(const Cell& map) { return hash_table::size(table_of(map)); }

bool key_type_q(TypeId type) {
  switch (type) {
    case TYPE_STRING:
    case TYPE_FILE:
    case TYPE_URL:
    case TYPE_CHAR:
    case TYPE_INTEGER:
    case TYPE_FLOAT:
    case TYPE_WORD:
    case TYPE_SET_WORD:
    case TYPE_LIT_WORD:
    case TYPE_GET_WORD:
    case TYPE_REFINEMENT:
    case TYPE_ISSUE:
    case TYPE_PAIR:
    case TYPE_PERCENT:
    case TYPE_TUPLE:
    case TYPE_BINARY:
    case TYPE_TIME:
    case TYPE_TAG:
    case TYPE_EMAIL:
    case TYPE_DATE:
    case TYPE_MONEY:
    case TYPE_REF:
    case TYPE_POINT2D:
    case TYPE_POINT3D: return true;
    default: return false;
  }
}

void normalize_key(Cell* key, const Cell* path) {
  TypeId type = key->type();
  if (!key_type_q(type)) fire_bad_key(type, path);
  clear_new_line(key);
  switch (type) {
    case TYPE_WORD:
    case TYPE_LIT_WORD:
    case TYPE_GET_WORD: key->set_type(TYPE_SET_WORD); break;
    default:
      if (is_text_key(type)) *key = copy_series_value(*key);
      break;
  }
}

Cell* make_at(Cell* cell, const Cell* pairs, int32_t size) {
  stack::Guard guard;
  Cell* block;
  if (pairs == nullptr) {
    block = block::push_only(std::max(size, 2));
  } else if (pairs->data1 == 0) {
    block = stack::push(block::make_value(pairs->data2));
  } else {
    Cell source = *pairs;
    int32_t length = std::max(block::rs_length(&source), 0);
    block = stack::push(series::copy_units(&source, source.data1, static_cast<uint32_t>(length)));
    block->set_type(TYPE_BLOCK);
    block->data3 = 0;
  }
  uint32_t count = block::buffer_of(block)->cell_count();
  // Every key is normalised before the table sees it: the table compares
  // keys as they are stored.
  for (uint32_t i = 0; i < count; ++i) {
    Cell value = block::buffer_of(block)->cells()[i];
    clear_new_line(&value);
    if (i % 2 == 0) normalize_key(&value, nullptr);
    block::buffer_of(block)->cells()[i] = value;
  }
  uint32_t keys = std::max<uint32_t>((count + 1) / 2, 1);
  NodeId table = hash_table::init(keys, block, hash_table::kMap, 0);
  *cell = make_cell(TYPE_MAP, 0, block->data2, table);
  return cell;
}

Cell* push(const Cell& map) { return stack::push(map); }

Cell* extend(Cell* map, const Cell* pairs, bool case_sensitive) {
  stack::Guard guard;
  Cell* source;
  if (pairs->is(TYPE_MAP)) {
    source = collect(*pairs, Gather::kPairs);
  } else {
    if (!series::is_block_kind(pairs->type())) fire(ErrorId::script_invalid_arg, pairs);
    source = stack::push(*pairs);
  }
  int32_t length = std::max(block::rs_length(source), 0);
  if (length % 2 != 0) fire(ErrorId::script_invalid_arg, pairs);
  // Every key is checked before the map changes, so a bad key leaves it
  // as it was.
  for (int32_t i = 0; i < length; i += 2) {
    TypeId type = block::buffer_of(source)->cells()[source->data1 + static_cast<uint32_t>(i)].type();
    if (!key_type_q(type)) fire_bad_key(type, nullptr);
  }
  // Room for every new pair at once, so the block grows once.
  SeriesBuffer* b = pair_buffer(*map);
  uint64_t needed = uint64_t{b->used()} + uint64_t(length) * sizeof(Cell);
  memory::check_series_size(needed);
  if (uint64_t{b->offset} + needed > b->size) memory::expand_series(b, static_cast<uint32_t>(needed));
  for (int32_t i = 0; i < length; i += 2) {
    const Cell* cells = block::buffer_of(source)->cells() + source->data1 + static_cast<uint32_t>(i);
    Cell key = cells[0];
    Cell value = cells[1];
    store(*map, key, value, case_sensitive, nullptr);
  }
  return map;
}

bool foreach_next(const Cell* words, Cell* iterator, int32_t count) {
  Cell word_block = *words;
  uint32_t first_word = word_block.data1;
  count = std::min(count, std::max(block::rs_length(&word_block), 0));
  for (int32_t w = 0; w < count; ++w) {
    Cell word = block::buffer_of(&word_block)->cells()[first_word + static_cast<uint32_t>(w)];
    if (word.type() < TYPE_WORD || word.type() > TYPE_GET_WORD) fire(ErrorId::script_invalid_arg, &word);
  }
  Cell map = *iterator;
  uint32_t position = iterator->data1;
  bool took = false;
  for (int32_t w = 0; w < count; ++w) {
    Cell value = none::value;
    for (uint32_t length = pair_cell_count(map); position < length;) {
      uint32_t key_index = position & ~1u;
      if (key_index + 1 >= length || pair_cell(map, key_index + 1).header == 0) {
        position = key_index + 2;  // a removed entry, or a key cut off its value
        continue;
      }
      Cell cell = pair_cell(map, position);
      value = position == key_index ? key_handed_out(cell) : cell;
      clear_new_line(&value);
      ++position;
      took = true;
      break;
    }
    Cell word = block::buffer_of(&word_block)->cells()[first_word + static_cast<uint32_t>(w)];
    context::set(&word, value);
  }
  iterator->data1 = position;
  return took;
}

Cell get(const Cell& map, const Cell& key, bool case_sensitive) {
  int64_t found = find_entry(map, key, lookup_op(case_sensitive), false);
  if (found == kNoEntry) return none::value;
  return pair_cell(map, static_cast<uint32_t>(found) + 1);
}

void set(const Cell& map, const Cell& key, const Cell& value, bool case_sensitive) {
  store(map, key, value, case_sensitive, nullptr);
}

// --- make and to --------------------------------------------------------------------

Cell* make(Cell*, Cell* spec, TypeId) {
  switch (spec->type()) {
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: return make_from_block(spec);
    case TYPE_INTEGER:
    case TYPE_FLOAT: {
      int32_t n = number_to_integer(*spec);
      if (n < 0) fire(ErrorId::script_out_of_range, spec);
      int32_t room = n == 0 ? 2 : n > 0x3FFFFFFF ? 0x7FFFFFFE : 2 * n;
      Cell made;
      {
        stack::Guard guard;
        make_at(&made, nullptr, room);
      }
      return stack::set_result(made);
    }
    case TYPE_MAP: {
      Cell source = *spec;
      Cell* result = stack::push_slot();
      copy(&source, result, -1, -1, -1);
      Cell made = *result;
      stack::pop(1);
      return stack::set_result(made);
    }
    default: {
      Cell wanted = datatype::make(TYPE_MAP);
      fire_bad_to_arg(&wanted, spec);
    }
  }
}

Cell* to(Cell* proto, Cell* spec, TypeId type) {
  if (spec->is(TYPE_INTEGER) || spec->is(TYPE_FLOAT)) {
    Cell wanted = datatype::make(TYPE_MAP);
    fire_bad_to_arg(&wanted, spec);
  }
  return make(proto, spec, type);
}

// --- reflect ------------------------------------------------------------------------

Cell* reflect(Cell* value, int field) {
  bool known = field > 0 && static_cast<uint32_t>(field) <= symbol::count();
  uint32_t canonical = known ? symbol::resolve(static_cast<uint32_t>(field)) : 0;
  Gather what;
  if (canonical != 0 && canonical == symbol::resolve(runtime_words::words)) what = Gather::kKeys;
  else if (canonical != 0 && canonical == symbol::resolve(runtime_words::values)) what = Gather::kValues;
  else if (canonical != 0 && canonical == symbol::resolve(runtime_words::body)) what = Gather::kPairs;
  else fire(ErrorId::internal_not_done);
  Cell map = *value;
  Cell result;
  {
    stack::Guard guard;
    result = *collect(map, what);
  }
  return stack::set_result(result);
}

// --- Text ---------------------------------------------------------------------------

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
  if (cycles::detect(*value, buffer, &part, false)) return part;
  bool wrote = false;
  return write_entries(*value, buffer, false, false, false, arg, part, 0, &wrote);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent) {
  if (cycles::detect(*value, buffer, &part, true)) return part;
  if (!only) {
    string::concatenate_literal(buffer, "#[");
    part -= 2;
  }
  bool wrote = false;
  part = write_entries(*value, buffer, !only, all, flat, arg, part, indent, &wrote);
  if (!only) {
    if (wrote && !flat && indent >= 1) {
      mold_indent(buffer, indent);
      part -= 4 * indent;
    }
    string::concatenate_literal(buffer, "]");
    --part;
  }
  return part;
}

// --- Path access --------------------------------------------------------------------

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t,
                bool case_sensitive, bool, bool) {
  Cell map = *parent;
  Cell key = *element;
  if (value == nullptr) return stack::push(get(map, key, case_sensitive));
  Cell stored = *value;
  store(map, key, stored, case_sensitive, path);
  return value;
}

// --- Comparison ---------------------------------------------------------------------

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
  if (!value2->is(TYPE_MAP)) return kNotComparable;
  if (op == kCmpSort || op == kCmpCaseSort) {
    NodeId a = table_of(*value1), b = table_of(*value2);
    return a < b ? -1 : a > b ? 1 : 0;
  }
  if (!is_equality(op)) return kNotComparable;
  if (value1->data2 == value2->data2 && value1->data1 == value2->data1) return 0;
  if (op == kCmpSame) return -1;
  if (cycles::find(pairs_of(*value1))) return cycles::find(pairs_of(*value2)) ? 0 : -1;
  if (size(*value1) != size(*value2)) return 1;
  if (size(*value1) == 0) return 0;
  Cell first = *value1;
  Cell second = *value2;
  cycles::Entry entry1(pairs_of(first));
  cycles::Entry entry2(pairs_of(second));
  return same_entries(first, second, op) ? 0 : 1;
}

// --- Actions ------------------------------------------------------------------------

Cell* clear(Cell* map) {
  hash_table::clear(table_of(*map));
  return map;
}

Cell* copy(Cell* value, Cell* result, int, int deep, int types) {
  Cell source = *value;
  const Cell* kind = types >= 0 ? stack::arguments() + types : nullptr;
  Cell kind_value = kind != nullptr ? *kind : none::value;
  stack::Guard guard;
  Cell* pairs = stack::push(block::make_value(memory::copy_series(pair_buffer(source))));
  pair_buffer(*pairs)->flags &= ~series_flags::kOwned;
  NodeId table = hash_table::copy(table_of(source), pairs->data2);
  Cell* made = stack::push(make_cell(TYPE_MAP, 0, pairs->data2, table));
  if (deep >= 0 || kind != nullptr) copy_values(source, *made, deep >= 0, kind != nullptr ? &kind_value : nullptr);
  *result = *made;
  return result;
}

Cell* find(Cell* map, Cell* value, int, int, int case_sensitive, int same, int, int, int, int, int, int,
           int) {
  int32_t op = same >= 0 ? kCmpSame : lookup_op(case_sensitive >= 0);
  int64_t found = find_entry(*map, *value, op, false);
  if (found == kNoEntry) return none::set_result();
  Cell key = pair_cell(*map, static_cast<uint32_t>(found));
  return stack::set_result(key_handed_out(key));
}

int32_t length_q(Cell* map) { return size(*map); }

Cell* put(Cell* map, Cell* key, Cell* value, int case_sensitive) {
  Cell stored = *value;
  Cell wanted = *key;
  store(*map, wanted, stored, case_sensitive >= 0, nullptr);
  return stack::set_result(stored);
}

Cell* remove(Cell* map, int, int key) {
  if (key < 0) fire(ErrorId::script_missing_arg);
  Cell wanted = stack::arguments()[key];
  // Removal is case-sensitive whatever the caller asks: it must never take
  // out an entry that merely resembles the key.
  int64_t found = find_entry(*map, wanted, kCmpStrictEqual, false);
  if (found != kNoEntry) hash_table::remove(table_of(*map), pair_buffer(*map)->cells() + found);
  return map;
}

Cell* select(Cell* map, Cell* value, int, int, int case_sensitive, int same, int, int, int, int, int) {
  int32_t op = same >= 0 ? kCmpSame : lookup_op(case_sensitive >= 0);
  int64_t found = find_entry(*map, *value, op, false);
  if (found == kNoEntry) return none::set_result();
  return stack::set_result(pair_cell(*map, static_cast<uint32_t>(found) + 1));
}

// --- Registration -------------------------------------------------------------------

void init() {
  DatatypeRecord record(TYPE_MAP, 0, "map!");
  record.handle<Action::make>(make)
      .handle<Action::reflect>(reflect)
      .handle<Action::to>(to)
      .handle<Action::form>(form)
      .handle<Action::mold>(mold)
      .handle<Action::eval_path>(eval_path)
      .handle<Action::compare>(compare)
      .handle<Action::clear>(clear)
      .handle<Action::copy>(copy)
      .handle<Action::find>(find)
      .handle<Action::length_q>(length_q)
      .handle<Action::put>(put)
      .handle<Action::remove>(remove)
      .handle<Action::select>(select);
  register_datatype(record);
}

}  // namespace kel::map
