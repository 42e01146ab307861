// Hash tables (see hash_table.h for the record, the bucket scheme and the
// kinds).
//
// Every routine here works with node ids and 0-based indexes and re-reads a
// buffer's address after anything that may allocate: growing the indexed
// block, the arrays, or a duplicate list. Comparisons go through the
// datatypes' compare handlers on copies of the cells, so a handler never
// sees a pointer into a buffer that the table is about to touch.
//
// Invariants kept by every operation:
// - occupied counts live plus deleted buckets and stays below buckets (an
//   insertion resizes first once it reaches upper), so every probe meets an
//   empty bucket;
// - hash!: a live slot names one cell index or a non-empty duplicate list;
//   the cell-to-bucket array names, for every indexed cell, the 1-based
//   bucket that holds its index (-1 for a cell that is not indexed), so a
//   cell can leave the table without its key being hashed again (its key may
//   have changed since it was put);
// - map!: the bucket of a key stays live when its entry is removed (the
//   value cell's header 0 marks the removal), and size counts live entries;
// - symbol tables: the canonical spelling of a name is always met before its
//   case variants on their common probe path (records are only appended, and
//   a resize re-inserts them in record order).
#include "runtime/hash_table.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <vector>

#include "runtime/symbol_table.h"
#include "runtime/actions.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/array.h"
#include "runtime/case_folding.h"
#include "runtime/errors.h"
#include "runtime/string_units.h"
#include "runtime/series_tail.h"

namespace kel::hash_table {

namespace {

// An internal string view whose third data word, when not negative, limits
// the hashed text to that many code points.
constexpr TypeId kStringSliceType = 56;

constexpr double kLoadFactor = 0.77;

// --- Record and arrays ------------------------------------------------------------

Record* rec(NodeId table) { return reinterpret_cast<Record*>(memory::buffer_of(table)->head_ptr()); }

NodeId node_field(int32_t field) { return static_cast<NodeId>(field); }

uint8_t* status_array(const Record* r) { return memory::buffer_of(node_field(r->flags))->head_ptr(); }
int32_t* slot_array(const Record* r) {
  return reinterpret_cast<int32_t*>(memory::buffer_of(node_field(r->slots))->head_ptr());
}
SeriesBuffer* block_buffer(const Record* r) { return memory::buffer_of(node_field(r->block)); }
Cell* block_cells(const Record* r) { return block_buffer(r)->cells(); }
uint32_t block_length(const Record* r) { return block_buffer(r)->cell_count(); }

uint32_t round_up_power_of_two(uint64_t n) {
  uint64_t p = 4;
  while (p < n) p <<= 1;
  if (p > 0x40000000u) fire(ErrorId::internal_no_memory);
  return static_cast<uint32_t>(p);
}

// A byte series of n bytes, all of them used, each set to byte.
NodeId make_filled(uint32_t n, uint8_t byte) {
  NodeId node = memory::alloc_bytes_filled(n == 0 ? 4 : n, byte);
  return node;
}
NodeId make_status(uint32_t buckets) { return make_filled((buckets + 3) / 4, 0xAA); }
// The slot array; a map!'s holds each bucket's key hash after its slots.
NodeId make_slots(uint32_t buckets, int32_t kind) { return make_filled(buckets * (kind == kMap ? 8 : 4), 0); }

// hash!: the cell-to-bucket array (int32 per cell, -1 = not indexed).
int32_t* index_array(const Record* r) {
  return reinterpret_cast<int32_t*>(memory::buffer_of(node_field(r->indexes))->head_ptr());
}
uint32_t index_length(const Record* r) { return memory::buffer_of(node_field(r->indexes))->used() / 4; }

NodeId make_index_array(uint32_t cells) {
  NodeId node = make_filled(cells * 4, 0xFF);
  memory::buffer_of(node)->set_unit(4);
  return node;
}

// Makes the cell-to-bucket array at least n entries long, new entries -1.
void ensure_index_length(NodeId table, uint32_t n) {
  Record* r = rec(table);
  uint32_t length = index_length(r);
  if (length >= n) return;
  uint32_t wanted = std::max(n, length * 2);
  SeriesBuffer* b = memory::buffer_of(node_field(r->indexes));
  if (b->offset + uint64_t{wanted} * 4 > b->size) b = memory::expand_series(b, wanted * 4);
  std::memset(b->tail_ptr(), 0xFF, wanted * 4 - b->used());
  b->tail = b->offset + wanted * 4;
}

// map!: the hash of each live bucket's key, after the slots in the slot
// array, so that a probe passes the keys of other hashes without comparing
// them and a resize places the keys without hashing them again.
uint32_t* key_hashes(const Record* r) { return reinterpret_cast<uint32_t*>(slot_array(r) + r->buckets); }

// hash!: duplicate list k (1-based) and its elements.
NodeId list_node(const Record* r, int32_t k) {
  return static_cast<NodeId>(array::pick_int(node_field(r->duplicates), static_cast<uint32_t>(k)));
}
uint32_t list_length(NodeId list) { return memory::buffer_of(list)->used() / 4; }
int32_t* list_elements(NodeId list) { return reinterpret_cast<int32_t*>(memory::buffer_of(list)->head_ptr()); }

// The first cell index a live hash! slot names.
int32_t first_index_of_slot(const Record* r, int32_t slot) {
  if (slot >= 0) return slot;
  return list_elements(list_node(r, -slot))[0];
}

// --- Rooting -------------------------------------------------------------------------

// Keeps series on the evaluation stack while more is allocated, so that a
// collection during the build keeps them; the stack top is restored on the
// way out. A table is held as a hash! cell naming it in its third word.
class StackRoots {
 public:
  StackRoots() : top_(stack::top) {}
  ~StackRoots() { stack::top = top_; }
  StackRoots(const StackRoots&) = delete;
  StackRoots& operator=(const StackRoots&) = delete;
  void table(NodeId table) { stack::push(make_cell(TYPE_HASH, 0, 0, table)); }
  void series(NodeId node) { stack::push(make_cell(TYPE_BINARY, 0, node, 0)); }

 private:
  Cell* top_;
};

// --- Probing ---------------------------------------------------------------------

// Walks the triangular probe sequence: the k-th step moves k buckets on. The
// first `buckets` positions are all distinct, so the walk visits every
// bucket once before it would come back to its start.
struct ProbeWalk {
  uint32_t mask;
  uint32_t bucket;
  uint32_t step = 0;
  ProbeWalk(uint32_t hash, uint32_t buckets) : mask(buckets - 1), bucket(hash & (buckets - 1)) {}
  bool advance() {
    ++step;
    if (step > mask) return false;
    bucket = (bucket + step) & mask;
    return true;
  }
};

// Where an insertion probe stopped: at the live bucket whose entry matched,
// or, when none did, at the bucket a new entry takes (the first deleted
// bucket on the path, else the empty one that ended it).
struct InsertionProbe {
  bool matched = false;
  uint32_t bucket = 0;
};

// Walks a key's probe path for an insertion, offering each live bucket's
// slot to matches(slot), or to matches(slot, bucket) when it takes both. The
// record and its arrays are read afresh at each step, so matches may compare
// through handlers that allocate; with arrays_held, matches allocates
// nothing and they are read once.
template <bool arrays_held = false, class Matches>
InsertionProbe probe_for_insertion(NodeId table, uint32_t hash, Matches&& matches) {
  Record* r = rec(table);
  const uint8_t* status = status_array(r);
  const int32_t* slots = slot_array(r);
  ProbeWalk walk(hash, static_cast<uint32_t>(r->buckets));
  int32_t first_deleted = -1;
  for (;;) {
    if constexpr (!arrays_held) {
      r = rec(table);
      status = status_array(r);
      slots = slot_array(r);
    }
    uint32_t state = get_status(status, walk.bucket);
    if (state == kEmpty) break;
    if (state == kDeleted) {
      if (first_deleted < 0) first_deleted = static_cast<int32_t>(walk.bucket);
    } else if constexpr (std::is_invocable_v<Matches, int32_t, uint32_t>) {
      if (matches(slots[walk.bucket], walk.bucket)) return {true, walk.bucket};
    } else if (matches(slots[walk.bucket])) {
      return {true, walk.bucket};
    }
    if (!walk.advance()) break;
  }
  return {false, first_deleted >= 0 ? static_cast<uint32_t>(first_deleted) : walk.bucket};
}

// Makes the bucket an insertion probe chose live, naming the slot (a cell
// index or an entry offset), and counts it.
[[gnu::always_inline]] inline void claim_bucket(Record* r, uint32_t bucket, int32_t slot) {
  uint8_t* status = status_array(r);
  if (get_status(status, bucket) == kEmpty) ++r->occupied;
  set_status(status, bucket, kLive);
  slot_array(r)[bucket] = slot;
  ++r->size;
}

// map!: claim_bucket, also recording the key's hash.
[[gnu::always_inline]] inline void claim_map_bucket(Record* r, uint32_t bucket, int32_t slot, uint32_t hash) {
  claim_bucket(r, bucket, slot);
  key_hashes(r)[bucket] = hash;
}

// map! keys: word kinds are looked up as set-word!.
Cell normalized_map_key(const Cell& key) {
  Cell copy = key;
  switch (key.type()) {
    case TYPE_WORD:
    case TYPE_LIT_WORD:
    case TYPE_GET_WORD:
      copy.set_type(TYPE_SET_WORD);
      break;
    default:
      break;
  }
  return copy;
}

// The types whose values hash_value hashes as text.
[[gnu::always_inline]] inline bool hashed_as_text(TypeId type) {
  return type == TYPE_STRING || type == TYPE_FILE || type == TYPE_URL || type == TYPE_TAG || type == TYPE_EMAIL ||
         type == TYPE_REF;
}

// Two integers are equal under every comparison when their values are: the
// commonest keys are compared without the datatype's dispatch, which is the
// only way a comparison reaches code that may allocate.
bool plainly_comparable(const Cell& a, const Cell& b) { return a.is(TYPE_INTEGER) && b.is(TYPE_INTEGER); }

// Two texts of one type holding the same characters from their indexes,
// both one byte per character: the commonest match of a text key, known
// equal without the datatype's comparison (under every comparison but
// /same, which asks for one series).
bool same_narrow_text(const Cell& a, const Cell& b) {
  if (a.type() != b.type() || !hashed_as_text(a.type()) || a.data2 == 0 || b.data2 == 0) return false;
  const SeriesBuffer* x = memory::buffer_of(a.data2);
  const SeriesBuffer* y = memory::buffer_of(b.data2);
  if (x->unit() != 1 || y->unit() != 1) return false;
  uint32_t x_start = std::min(a.data1, x->used());
  uint32_t y_start = std::min(b.data1, y->used());
  uint32_t length = x->used() - x_start;
  return length == y->used() - y_start &&
         std::memcmp(x->data() + x->offset + x_start, y->data() + y->offset + y_start, length) == 0;
}

[[gnu::noinline]] bool keys_equal_by_type(Cell a, Cell b, int32_t op) {
  if (op != kCmpSame && same_narrow_text(a, b)) return true;
  return actions::compare_value(&a, &b, op) == 0;
}
[[gnu::always_inline]] inline bool keys_equal(const Cell& a, const Cell& b, int32_t op) {
  if (plainly_comparable(a, b)) return a.data2 == b.data2;
  return keys_equal_by_type(a, b, op);
}

// Whether two keys of different hashes are certainly unequal under every
// comparison a map! makes: two texts (equal texts have the same code points
// up to letter case, and the hash folds case), or two integers, chars or
// words of one type. Keys of other kinds may be equal with different hashes
// (an integer and a float, tuples of different lengths, dates in different
// zones): those are compared whatever their hashes, as they always were.
[[gnu::always_inline]] inline bool hash_decides_within(TypeId type) {
  switch (type) {
    case TYPE_INTEGER:
    case TYPE_CHAR:
    case TYPE_SET_WORD:
    case TYPE_REFINEMENT:
    case TYPE_ISSUE: return true;
    default: return hashed_as_text(type);
  }
}
[[gnu::always_inline]] inline bool hash_decides(const Cell& a, const Cell& b) {
  if (hashed_as_text(a.type())) return hashed_as_text(b.type());
  return a.type() == b.type() && hash_decides_within(a.type());
}

// Symbol 0 names nothing (a word cell not made from a name): it hashes as
// itself rather than reading before the first record.
uint32_t resolve_symbol(uint32_t id) { return id == 0 ? 0 : symbol::resolve(id); }

// The final mix of MurmurHash3, which hashes every value held in a word.
uint32_t final_mix(uint32_t h) {
  h ^= h >> 16;
  h *= 0x85ebca6b;
  h ^= h >> 13;
  h *= 0xc2b2ae35;
  h ^= h >> 16;
  return h;
}

// Integers, the commonest keys, hash without the dispatch on the type (to
// what hash_value gives them).
[[gnu::always_inline]] inline uint32_t table_hash(const Cell& key) {
  return key.is(TYPE_INTEGER) ? final_mix(key.data2) : hash_value(key, false);
}

// --- Symbol records -----------------------------------------------------------------

std::string_view record_name(const Cell& record) {
  SeriesBuffer* b = memory::buffer_of(record.data3);
  return std::string_view(reinterpret_cast<const char*>(b->head_ptr()), b->used());
}

bool ascii_equal_ignoring_case(std::string_view a, const char* b) {
  for (size_t i = 0; i < a.size(); ++i) {
    uint8_t x = static_cast<uint8_t>(a[i]), y = static_cast<uint8_t>(b[i]);
    if (x >= 'A' && x <= 'Z') x |= 0x20;
    if (y >= 'A' && y <= 'Z') y |= 0x20;
    if (x != y) return false;
  }
  return true;
}

// Appends a symbol record to the table's block: the name in a byte series
// with a NUL kept past its tail. Returns the new 1-based id.
int32_t append_symbol_record(NodeId table, const char* text, uint32_t length, int32_t alias) {
  NodeId name = memory::alloc_bytes(length + 1);
  SeriesBuffer* nb = memory::buffer_of(name);
  if (length) std::memcpy(nb->data(), text, length);
  nb->data()[length] = 0;
  nb->tail = length;
  StackRoots roots;
  roots.series(name);
  SeriesBuffer* b = block_buffer(rec(table));
  Cell* cell = alloc_tail(&b);
  *cell = make_cell(TYPE_SYMBOL, static_cast<uint32_t>(alias), 0, name);
  return static_cast<int32_t>(b->cell_count());
}

// --- Resizing ------------------------------------------------------------------------

void rebuild_hash(NodeId table, uint32_t size);
void resize_pointers(NodeId table, uint32_t wanted);
bool put_hash_index(NodeId table, uint32_t index, bool may_rebuild);

// Orders distinct cell indexes as the block holds them: by marking each in
// a map of the block's cells and reading the map back (the indexes of a
// table's live keys are distinct), or by sorting when one lies past the end.
void put_in_block_order(std::vector<int32_t>& indexes, uint32_t cells) {
  std::vector<uint8_t> held(cells, 0);
  for (int32_t index : indexes) {
    if (index < 0 || static_cast<uint32_t>(index) >= cells || held[index] != 0) {
      std::sort(indexes.begin(), indexes.end());
      return;
    }
    held[index] = 1;
  }
  size_t next = 0;
  for (uint32_t i = 0; i < cells; ++i)
    if (held[i] != 0) indexes[next++] = static_cast<int32_t>(i);
}

// Kinds 1 and 2: new bucket arrays of round-up(count) buckets, every live key
// placed again in block order (so a canonical symbol stays ahead of its
// variants). Does nothing when the live keys would not fit under the bound.
void resize_cells(NodeId table, uint64_t count) {
  uint32_t buckets = round_up_power_of_two(count);
  auto upper = static_cast<int32_t>(buckets * kLoadFactor + 0.5);
  Record* r = rec(table);
  const bool map = r->kind == kMap;
  std::vector<int32_t> live;
  live.reserve(static_cast<size_t>(r->size));
  // map!: the keys' hashes by cell index, from the old buckets.
  std::vector<uint32_t> hash_of_cell(map ? block_length(r) : 0);
  {
    const uint8_t* status = status_array(r);
    const int32_t* slots = slot_array(r);
    for (int32_t i = 0; i < r->buckets; ++i) {
      if (get_status(status, static_cast<uint32_t>(i)) != kLive) continue;
      live.push_back(slots[i]);
      if (map) hash_of_cell[static_cast<uint32_t>(slots[i])] = key_hashes(r)[i];
    }
  }
  if (static_cast<int64_t>(live.size()) >= upper) return;
  put_in_block_order(live, block_length(r));

  // The live slots are gathered: the old arrays can go.
  NodeId status_node = make_status(buckets);
  rec(table)->flags = static_cast<int32_t>(status_node);
  NodeId slots_node = make_slots(buckets, rec(table)->kind);
  rec(table)->slots = static_cast<int32_t>(slots_node);
  r = rec(table);
  r->buckets = static_cast<int32_t>(buckets);
  r->upper = upper;
  r->occupied = static_cast<int32_t>(live.size());
  uint8_t* status = status_array(r);
  int32_t* slots = slot_array(r);
  uint32_t* hashes = map ? key_hashes(r) : nullptr;
  const Cell* cells = block_cells(r);
  for (int32_t index : live) {
    uint32_t hash = map ? hash_of_cell[static_cast<uint32_t>(index)] : table_hash(cells[index]);
    ProbeWalk walk(hash, buckets);
    while (get_status(status, walk.bucket) != kEmpty) walk.advance();
    set_status(status, walk.bucket, kLive);
    slots[walk.bucket] = index;
    if (map) hashes[walk.bucket] = hash;
  }
}

// The bucket count asked for when an insertion finds occupied at the bound:
// the same count when deletions left fewer than half the buckets live,
// else more.
uint32_t grown_count(const Record* r) {
  return r->size * 2 < r->buckets ? static_cast<uint32_t>(r->buckets - 1) : static_cast<uint32_t>(r->buckets + 1);
}

// The growth of a table that reached its bound (see make_room).
[[gnu::noinline]] bool grow_for_one_more(NodeId table) {
  Record* r = rec(table);
  uint32_t n = grown_count(r);
  switch (r->kind) {
    case kHash:
      rebuild_hash(table, n);
      return true;
    case kMap:
      resize_cells(table, static_cast<uint64_t>(r->buckets) + 1);
      return false;
    case kSymbols:
      resize_cells(table, static_cast<uint64_t>(r->buckets) * 16);
      return false;
    default:
      resize_pointers(table, n);
      return false;
  }
}

// Makes room for one more key when the table reached its bound. Returns true
// when a hash! was rebuilt (every cell of its block then indexed). Every
// insertion asks, and nearly every time the answer is that there is room:
// that test is inline, the growth is not.
inline bool make_room(NodeId table) {
  Record* r = rec(table);
  if (r->occupied < r->upper) return false;
  return grow_for_one_more(table);
}

// --- hash! ------------------------------------------------------------------------

// Takes a cell out of the table through the cell-to-bucket array, without
// hashing it (its key may have changed since it was put).
void remove_hash_index(NodeId table, uint32_t index) {
  Record* r = rec(table);
  if (index >= index_length(r)) return;
  int32_t* indexes = index_array(r);
  int32_t bucket = indexes[index] - 1;
  if (bucket < 0) return;
  indexes[index] = -1;
  int32_t* slots = slot_array(r);
  int32_t slot = slots[bucket];
  if (slot < 0) {
    NodeId list = list_node(r, -slot);
    int32_t* elements = list_elements(list);
    uint32_t n = list_length(list);
    for (uint32_t i = 0; i < n; ++i) {
      if (elements[i] == static_cast<int32_t>(index)) {
        array::remove_at(list, i * 4, 4);
        --n;
        break;
      }
    }
    if (n > 0) return;
  }
  set_status(status_array(r), static_cast<uint32_t>(bucket), kDeleted);
  --r->size;
}

// Indexes cell `index` of a hash! block. With may_rebuild, a table at its
// bound is rebuilt (which indexes every cell, this one too) and true is
// returned.
bool put_hash_index(NodeId table, uint32_t index, bool may_rebuild) {
  remove_hash_index(table, index);
  if (may_rebuild && make_room(table)) return true;
  ensure_index_length(table, index + 1);
  Cell key = block_cells(rec(table))[index];
  InsertionProbe probe = probe_for_insertion(table, table_hash(key), [&](int32_t slot) {
    Record* r = rec(table);
    Cell other = block_cells(r)[first_index_of_slot(r, slot)];
    return other.type() == key.type() && keys_equal(key, other, kCmpEqual);
  });
  if (probe.matched) {
    // A duplicate key: the bucket names a list of every cell with it.
    Record* r = rec(table);
    int32_t slot = slot_array(r)[probe.bucket];
    if (slot >= 0) {
      NodeId list = array::make(4, 4);
      array::append_int(list, slot);
      r = rec(table);
      array::append_int(node_field(r->duplicates), static_cast<int32_t>(list));
      r = rec(table);
      slot = -static_cast<int32_t>(array::length(node_field(r->duplicates)));
      slot_array(r)[probe.bucket] = slot;
    }
    array::append_int(list_node(rec(table), -slot), static_cast<int32_t>(index));
    index_array(rec(table))[index] = static_cast<int32_t>(probe.bucket) + 1;
    return false;
  }
  Record* r = rec(table);
  if (get_status(status_array(r), probe.bucket) == kLive) {
    // Unreachable while occupied stays below the bucket count; a full table
    // is rebuilt larger rather than overwritten.
    rebuild_hash(table, static_cast<uint32_t>(r->buckets) * 2);
    return true;
  }
  claim_bucket(r, probe.bucket, static_cast<int32_t>(index));
  index_array(r)[index] = static_cast<int32_t>(probe.bucket) + 1;
  return false;
}

// Indexes every cell of the block again in fresh arrays sized for at least
// size keys (and at least the block's cell count, so the re-insertion never
// reaches the bound).
void rebuild_hash(NodeId table, uint32_t size) {
  Record* r = rec(table);
  uint32_t cells = block_length(r);
  uint64_t keys = std::max(size, cells);
  uint32_t buckets = round_up_power_of_two(static_cast<uint64_t>(static_cast<double>(keys) * 1.5));
  if (static_cast<int32_t>(buckets) == r->buckets) {
    std::memset(status_array(r), 0xAA, memory::buffer_of(node_field(r->flags))->used());
  } else {
    NodeId status_node = make_status(buckets);
    rec(table)->flags = static_cast<int32_t>(status_node);
    NodeId slots_node = make_slots(buckets, kHash);
    r = rec(table);
    r->slots = static_cast<int32_t>(slots_node);
  }
  r->buckets = static_cast<int32_t>(buckets);
  r->upper = static_cast<int32_t>(buckets * kLoadFactor);
  r->size = 0;
  r->occupied = 0;
  array::clear(node_field(r->duplicates));
  ensure_index_length(table, cells);
  r = rec(table);
  std::memset(index_array(r), 0xFF, index_length(r) * 4);
  for (uint32_t i = 0; i < cells; ++i) put_hash_index(table, i, false);
}

bool qualifies(int64_t distance, int64_t skip) {
  int64_t remainder = distance % skip;
  if (remainder < 0) remainder += skip;
  return remainder == 0;
}

// The arrays of a table as they are now: valid until the next allocation.
struct TableArrays {
  const uint8_t* status;
  const int32_t* slots;
  const Cell* cells;
  explicit TableArrays(NodeId table) {
    const Record* r = rec(table);
    status = status_array(r);
    slots = slot_array(r);
    cells = block_cells(r);
  }
};

// find_in_hash for the commonest search: an integer, forward, one cell at a
// time, on a probe path that holds integers only. Integers compare by value
// under every mode, so the bucket holding an integer of that value is the
// only one to look at, and no comparison runs Kel code or allocates. A key
// of another type on the path (a float or char may equal the integer), or
// the value held more than once (a list of cells), goes back to the
// general walk: answers &kWalkNeeded then.
const Cell kWalkNeeded{};
[[gnu::always_inline]] inline const Cell* find_integer(NodeId table, const Cell& wanted, int32_t from) {
  const Record* r = rec(table);
  TableArrays arrays(table);
  ProbeWalk walk(table_hash(wanted), static_cast<uint32_t>(r->buckets));
  for (;;) {
    uint32_t state = get_status(arrays.status, walk.bucket);
    if (state == kEmpty) return nullptr;
    if (state == kLive) {
      int32_t slot = arrays.slots[walk.bucket];
      const Cell& key = arrays.cells[slot >= 0 ? slot : first_index_of_slot(r, slot)];
      if (!key.is(TYPE_INTEGER)) return &kWalkNeeded;
      if (key.data2 == wanted.data2) {
        if (slot < 0) return &kWalkNeeded;
        return slot >= from ? &key : nullptr;
      }
    }
    if (!walk.advance()) return nullptr;
  }
}

// The general lookup of find_in_hash: every live bucket of the probe path
// is compared through the datatypes, duplicate lists are walked.
[[gnu::noinline]] Cell* walk_hash(NodeId table, const Cell* value, int32_t from, int32_t skip, int32_t op,
                                  bool last, bool reverse) {
  // A copy: comparisons may run code that changes the cell the value came from.
  const Cell wanted = *value;
  int64_t step = skip == 0 ? 1 : std::abs(static_cast<int64_t>(skip));
  ProbeWalk walk(table_hash(wanted), static_cast<uint32_t>(rec(table)->buckets));
  int64_t best = -1;
  // The arrays are read once and again only after a comparison that went
  // through a datatype (which may allocate and move them).
  TableArrays arrays(table);
  for (;;) {
    uint32_t state = get_status(arrays.status, walk.bucket);
    if (state == kEmpty) break;
    if (state == kLive) {
      int32_t slot = arrays.slots[walk.bucket];
      Cell key = arrays.cells[slot >= 0 ? slot : first_index_of_slot(rec(table), slot)];
      bool plain = plainly_comparable(wanted, key);
      bool equal = keys_equal(wanted, key, op);
      if (!plain) arrays = TableArrays(table);
      if (equal || (slot < 0 && op != kCmpEqual)) {
        // Cells share a list when they are equal under kCmpEqual; under a
        // stricter mode (case-sensitive) each must be compared on its own.
        bool each = slot < 0 && op != kCmpEqual;
        // The cell indexes of the bucket: its slot, or its duplicate list,
        // read afresh for each cell (comparing may allocate and move it).
        uint32_t n = slot >= 0 ? 1 : list_length(list_node(rec(table), -slot));
        for (uint32_t i = 0; i < n; ++i) {
          int64_t l = slot;
          if (slot < 0) {
            NodeId list = list_node(rec(table), -slot);
            if (i >= list_length(list)) break;
            l = list_elements(list)[i];
          }
          if (each && !keys_equal(wanted, block_cells(rec(table))[l], op)) continue;
          if (reverse) {
            if (l < from && qualifies(from - l - 1, step) && l > best) best = l;
          } else if (l >= from && qualifies(l - from, step)) {
            if (last ? l > best : (best < 0 || l < best)) best = l;
          }
        }
        if (each) arrays = TableArrays(table);
      }
    }
    if (!walk.advance()) break;
  }
  if (best < 0) return nullptr;
  return block_cells(rec(table)) + best;
}

Cell* find_in_hash(NodeId table, const Cell* value, int32_t from, int32_t skip, int32_t op, bool last,
                   bool reverse) {
  if (value->is(TYPE_INTEGER) && !last && !reverse && (skip == 0 || skip == 1)) {
    const Cell* found = find_integer(table, *value, from);
    if (found != &kWalkNeeded) return const_cast<Cell*>(found);
  }
  return walk_hash(table, value, from, skip, op, last, reverse);
}

// --- map! ------------------------------------------------------------------------

// Indexes the key cell at index; returns the index of the key cell that now
// holds the key (an existing equal key, or this one).
uint32_t put_map_index(NodeId table, uint32_t index) {
  make_room(table);
  Cell key = normalized_map_key(block_cells(rec(table))[index]);
  uint32_t hash = table_hash(key);
  // Keys match only keys of their own type: of the types whose hash decides,
  // a key of another hash is passed without a look at it.
  const bool hash_decides_key = hash_decides_within(key.type());
  // Read again after a comparison through a datatype, which may allocate.
  const uint32_t* hashes = key_hashes(rec(table));
  InsertionProbe probe = probe_for_insertion(table, hash, [&](int32_t slot, uint32_t bucket) {
    if (hash_decides_key && hashes[bucket] != hash) return false;
    Cell other = normalized_map_key(block_cells(rec(table))[slot]);
    if (other.type() != key.type()) return false;
    bool plain = plainly_comparable(key, other);
    bool equal = keys_equal(key, other, kCmpStrictEqual);
    if (!plain) hashes = key_hashes(rec(table));
    return equal;
  });
  Record* r = rec(table);
  if (probe.matched) {
    int32_t slot = slot_array(r)[probe.bucket];
    // Putting a removed key brings its entry back: the caller stores the
    // value after it.
    if (static_cast<uint32_t>(slot) + 1 < block_length(r) && block_cells(r)[slot + 1].header == 0) ++r->size;
    return static_cast<uint32_t>(slot);
  }
  claim_map_bucket(r, probe.bucket, static_cast<int32_t>(index), hash);
  return index;
}

// put_map_index for a key known to be absent: the insertion probe's walk
// with nothing to match.
uint32_t put_new_map_index(NodeId table, uint32_t index, uint32_t hash) {
  make_room(table);
  InsertionProbe probe = probe_for_insertion<true>(table, hash, [](int32_t) { return false; });
  claim_map_bucket(rec(table), probe.bucket, static_cast<int32_t>(index), hash);
  return index;
}

Cell* find_in_map(NodeId table, const Cell* value, int32_t op) {
  Probe probe;
  return probe_key(table, value, &probe, op);
}

// --- Symbol and word tables ---------------------------------------------------------

// Generic kind-2 insertion (filling a word table from a block): a word whose
// symbol is there already, or a record whose name is, is not added again.
uint32_t put_symbol_index(NodeId table, uint32_t index) {
  make_room(table);
  Cell key = block_cells(rec(table))[index];
  InsertionProbe probe = probe_for_insertion(table, table_hash(key), [&](int32_t slot) {
    const Cell& other = block_cells(rec(table))[slot];
    return key.is(TYPE_SYMBOL) ? other.is(TYPE_SYMBOL) && record_name(other) == record_name(key)
                               : !other.is(TYPE_SYMBOL) && other.data2 == key.data2;
  });
  Record* r = rec(table);
  if (probe.matched) return static_cast<uint32_t>(slot_array(r)[probe.bucket]);
  claim_bucket(r, probe.bucket, static_cast<int32_t>(index));
  return index;
}

// --- Pointer tables ------------------------------------------------------------------

uint32_t entry_size(const Record* r) { return static_cast<uint32_t>(r->indexes); }
Cell* entry_at(const Record* r, int32_t offset) {
  return reinterpret_cast<Cell*>(block_buffer(r)->head_ptr() + offset);
}

// Rebuilds a pointer table with round-up(wanted) buckets: live entries are
// copied, in bucket order, into a new entry block and hashed again, which
// drops the dead ones.
void resize_pointers(NodeId table, uint32_t wanted) {
  uint32_t buckets = round_up_power_of_two(wanted);
  auto upper = static_cast<int32_t>(buckets * kLoadFactor + 0.5);
  Record* r = rec(table);
  if (r->size >= upper) return;
  uint32_t size = entry_size(r);
  StackRoots roots;
  NodeId status_node = make_status(buckets);
  roots.series(status_node);
  NodeId slots_node = make_slots(buckets, rec(table)->kind);
  roots.series(slots_node);
  uint64_t entry_cells = static_cast<uint64_t>(upper) * size / 16;
  memory::check_series_size(entry_cells * sizeof(Cell));
  NodeId entries = memory::alloc_cells(static_cast<uint32_t>(entry_cells));
  r = rec(table);
  const uint8_t* old_status = status_array(r);
  const int32_t* old_slots = slot_array(r);
  uint8_t* status = memory::buffer_of(status_node)->head_ptr();
  auto* slots = reinterpret_cast<int32_t*>(memory::buffer_of(slots_node)->head_ptr());
  SeriesBuffer* target = memory::buffer_of(entries);
  int32_t live = 0;
  for (int32_t i = 0; i < r->buckets; ++i) {
    if (get_status(old_status, static_cast<uint32_t>(i)) != kLive) continue;
    const Cell* entry = entry_at(r, old_slots[i]);
    auto offset = static_cast<int32_t>(target->used());
    std::memcpy(target->tail_ptr(), entry, size);
    target->tail += size;
    ProbeWalk walk(hash_pointer(entry->data1), buckets);
    while (get_status(status, walk.bucket) != kEmpty) walk.advance();
    set_status(status, walk.bucket, kLive);
    slots[walk.bucket] = offset;
    ++live;
  }
  r->flags = static_cast<int32_t>(status_node);
  r->slots = static_cast<int32_t>(slots_node);
  r->block = static_cast<int32_t>(entries);
  r->buckets = static_cast<int32_t>(buckets);
  r->upper = upper;
  r->size = live;
  r->occupied = live;
}

// The bucket of a key in a pointer table, or -1.
int32_t find_pointer_bucket(NodeId table, NodeId key) {
  Record* r = rec(table);
  const uint8_t* status = status_array(r);
  const int32_t* slots = slot_array(r);
  ProbeWalk walk(hash_pointer(key), static_cast<uint32_t>(r->buckets));
  do {
    uint32_t state = get_status(status, walk.bucket);
    if (state == kEmpty) return -1;
    if (state == kLive && entry_at(r, slots[walk.bucket])->data1 == key) return static_cast<int32_t>(walk.bucket);
  } while (walk.advance());
  return -1;
}

}  // namespace

// --- Hashing -----------------------------------------------------------------------

namespace {
constexpr uint32_t kC1 = 0xcc9e2d51;
constexpr uint32_t kC2 = 0x1b873593;

uint32_t rotate_left(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }

// MurmurHash3 x86_32 fed one 32-bit block at a time.
struct Murmur {
  uint32_t h = random::hash_seed();
  void block(uint32_t k) {
    k *= kC1;
    k = rotate_left(k, 15);
    k *= kC2;
    h ^= k;
    h = rotate_left(h, 13);
    h = h * 5 + 0xe6546b64;
  }
  uint32_t finish(uint32_t length) { return final_mix(h ^ length); }
};

uint32_t hash_words(const Cell& value, int first, int count) {
  uint32_t words[3] = {value.data1, value.data2, value.data3};
  return murmur3(words + (first - 1), static_cast<size_t>(count) * 4);
}

// A double payload (data2-3) with -0.0 taken as 0.0, which it equals.
uint32_t hash_double(const Cell& value) {
  uint32_t words[2] = {value.data2, value.data3};
  if (words[0] == 0 && words[1] == 0x80000000u) words[1] = 0;
  return murmur3(words, 8);
}

uint32_t hash_money(const Cell& value) {
  Cell copy = value;
  copy.header &= flags::kTypeMask | 0x4000u;
  // A zero amount is zero whatever its sign bit.
  if ((copy.data1 >> 8) == 0 && copy.data2 == 0 && copy.data3 == 0) copy.header &= flags::kTypeMask;
  return murmur3(&copy, sizeof copy);
}

uint32_t hash_binary(const Cell& value) {
  SeriesBuffer* b = memory::buffer_of(value.data2);
  uint32_t used = b->used();
  uint32_t start = value.data1 < used ? value.data1 : used;
  return murmur3(b->head_ptr() + start, used - start);
}

uint32_t hash_symbol_record(const Cell& record) {
  std::string_view name = record_name(record);
  return hash_symbol_name(name.data(), static_cast<uint32_t>(name.size()));
}
}  // namespace

uint32_t murmur3(const void* bytes, size_t length) {
  const auto* data = static_cast<const uint8_t*>(bytes);
  Murmur m;
  size_t blocks = length / 4;
  for (size_t i = 0; i < blocks; ++i) {
    uint32_t k;
    std::memcpy(&k, data + i * 4, 4);
    m.block(k);
  }
  const uint8_t* tail = data + blocks * 4;
  uint32_t k = 0;
  switch (length & 3) {
    case 3: k ^= static_cast<uint32_t>(tail[2]) << 16; [[fallthrough]];
    case 2: k ^= static_cast<uint32_t>(tail[1]) << 8; [[fallthrough]];
    case 1:
      k ^= tail[0];
      k *= kC1;
      k = rotate_left(k, 15);
      k *= kC2;
      m.h ^= k;
  }
  return m.finish(static_cast<uint32_t>(length));
}

uint32_t hash_pointer(uint32_t value) { return final_mix(value); }

uint32_t hash_string(const Cell& string, bool case_sensitive) {
  SeriesBuffer* b = memory::buffer_of(string.data2);
  uint32_t unit = b->unit();
  if (unit != 1 && unit != 2 && unit != 4) unicode::bad_unit();
  uint32_t count = b->used() / unit;
  uint32_t start = string.data1 < count ? string.data1 : count;
  count -= start;
  if (string.type() == kStringSliceType && static_cast<int32_t>(string.data3) >= 0)
    count = std::min(count, string.data3);
  const uint8_t* p = b->head_ptr() + start * unit;
  Murmur m;
  if (unit == 1) {
    // The commonest text, read a byte at a time.
    for (uint32_t i = 0; i < count; ++i) m.block(case_sensitive ? p[i] : case_folding::to_upper_char(p[i]));
    return m.finish(count * 4);
  }
  for (uint32_t i = 0; i < count; ++i, p += unit) {
    uint32_t c = unicode::get_char(p, unit);
    m.block(case_sensitive ? c : case_folding::to_upper_char(c));
  }
  return m.finish(count * 4);
}

// The ASCII capitals of four packed bytes lowered, every other byte (UTF-8
// lead and trail bytes included) kept: each byte's low seven bits plus
// 0x3F reach the top bit from 'A' up, plus 0x25 from the byte after 'Z' up,
// and no sum carries into the next byte.
namespace {
uint32_t lower_ascii_capitals(uint32_t k) {
  uint32_t low_bits = k & 0x7F7F7F7Fu;
  uint32_t from_a = low_bits + 0x3F3F3F3Fu;
  uint32_t past_z = low_bits + 0x25252525u;
  uint32_t capitals = from_a & ~past_z & ~k & 0x80808080u;
  return k | (capitals >> 2);
}
}  // namespace

uint32_t hash_symbol_name(const char* text, uint32_t length) {
  // murmur3 of the name with its ASCII capitals lowered, lowered as it is
  // read rather than copied first: every symbol interned hashes its name.
  Murmur m;
  uint32_t blocks = length / 4;
  for (uint32_t i = 0; i < blocks; ++i) {
    uint32_t k;
    std::memcpy(&k, text + size_t{i} * 4, 4);
    m.block(lower_ascii_capitals(k));
  }
  const auto* tail = reinterpret_cast<const uint8_t*>(text) + size_t{blocks} * 4;
  uint32_t k = 0;
  switch (length & 3) {
    case 3: k ^= static_cast<uint32_t>(tail[2]) << 16; [[fallthrough]];
    case 2: k ^= static_cast<uint32_t>(tail[1]) << 8; [[fallthrough]];
    case 1:
      k ^= tail[0];
      k = lower_ascii_capitals(k);
      k *= kC1;
      k = rotate_left(k, 15);
      k *= kC2;
      m.h ^= k;
  }
  return m.finish(length);
}

uint32_t hash_value(const Cell& value, bool case_sensitive) {
  switch (value.type()) {
    case TYPE_UNSET: return static_cast<uint32_t>(-2);
    case TYPE_NONE: return static_cast<uint32_t>(-1);
    case TYPE_DATATYPE:
    case TYPE_LOGIC:
    case TYPE_OBJECT:
    case TYPE_ERROR:
    case TYPE_PORT: return hash_pointer(value.data1);
    case TYPE_CHAR:
    case TYPE_INTEGER:
    case TYPE_MAP:
    case TYPE_HANDLE:
    case TYPE_EVENT: return hash_pointer(value.data2);
    case TYPE_NATIVE:
    case TYPE_ACTION: return hash_pointer(value.data3);
    case TYPE_WORD:
    case TYPE_SET_WORD:
    case TYPE_LIT_WORD:
    case TYPE_GET_WORD:
    case TYPE_REFINEMENT:
    case TYPE_ISSUE: return hash_pointer(resolve_symbol(value.data2));
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_PATH:
    case TYPE_LIT_PATH:
    case TYPE_SET_PATH:
    case TYPE_GET_PATH:
    case TYPE_HASH:
    case TYPE_IMAGE:
    case TYPE_POINT2D: return hash_words(value, 1, 2);
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: return hash_double(value);
    case TYPE_PAIR: return hash_words(value, 2, 2);
    case TYPE_OP:
    case TYPE_FUNCTION:
    case TYPE_TRIPLE:
    case TYPE_TYPESET:
    case TYPE_DATE:
    case TYPE_POINT3D: return hash_words(value, 1, 3);
    case TYPE_TUPLE: {
      uint32_t length = (value.header >> 19) & 0xF;
      return murmur3(&value.data1, std::min<uint32_t>(length, 12));
    }
    case TYPE_BINARY: return hash_binary(value);
    case TYPE_MONEY: return hash_money(value);
    case TYPE_STRING:
    case TYPE_FILE:
    case TYPE_URL:
    case TYPE_TAG:
    case TYPE_EMAIL:
    case TYPE_REF:
    case kStringSliceType: return hash_string(value, case_sensitive);
    case TYPE_SYMBOL: return hash_symbol_record(value);
    default: return 0;
  }
}

// --- Creation -------------------------------------------------------------------------

Record* record_of(NodeId table) { return rec(table); }

uint32_t bucket_count_for(uint32_t size) {
  if (size < 4) size = 4;
  return round_up_power_of_two(static_cast<uint64_t>(size / kLoadFactor));
}

NodeId init(uint32_t size, const Cell* block, int32_t kind, int32_t extra) {
  if (kind == kSymbols && extra == 2 && block != nullptr && block->is(TYPE_CONTEXT))
    return copy_word_table(*block);
  if (kind == kSymbols && size >= 4000) size *= 2;
  if (size < 4) size = 4;
  uint32_t buckets = bucket_count_for(size);

  NodeId table = memory::alloc_bytes(sizeof(Record));
  {
    SeriesBuffer* b = memory::buffer_of(table);
    std::memset(b->head_ptr(), 0, sizeof(Record));
    b->tail = b->offset + sizeof(Record);
  }
  StackRoots roots;
  roots.table(table);
  {
    Record* r = rec(table);
    r->kind = kind;
    r->buckets = static_cast<int32_t>(buckets);
    r->upper = static_cast<int32_t>(buckets * kLoadFactor);
    if (kind >= kPointers) r->indexes = (extra + 1) * 16;
  }
  NodeId status_node = make_status(buckets);
  rec(table)->flags = static_cast<int32_t>(status_node);
  NodeId slots_node = make_slots(buckets, kind);
  rec(table)->slots = static_cast<int32_t>(slots_node);
  if (kind == kHash) {
    NodeId indexes = make_index_array(size);
    rec(table)->indexes = static_cast<int32_t>(indexes);
    NodeId duplicates = array::make(4, 4);
    rec(table)->duplicates = static_cast<int32_t>(duplicates);
  }
  if (block == nullptr || kind >= kPointers) {
    uint64_t count = kind >= kPointers ? uint64_t{size} * static_cast<uint64_t>(extra + 1) : size;
    memory::check_series_size(count * sizeof(Cell));
    NodeId cells = memory::alloc_cells(static_cast<uint32_t>(count));
    rec(table)->block = static_cast<int32_t>(cells);
    return table;
  }
  rec(table)->block = static_cast<int32_t>(block->data2);
  put_all(table, block->data1, kind == kMap ? 2 : 1);
  return table;
}

NodeId copy_word_table(const Cell& context) {
  NodeId source = context.data1;
  NodeId table = memory::copy_series(memory::buffer_of(source));
  StackRoots roots;
  roots.table(table);
  NodeId words = memory::copy_series(block_buffer(rec(table)));
  rec(table)->block = static_cast<int32_t>(words);
  NodeId slots = memory::copy_series(memory::buffer_of(node_field(rec(table)->slots)));
  rec(table)->slots = static_cast<int32_t>(slots);
  NodeId status = memory::copy_series(memory::buffer_of(node_field(rec(table)->flags)));
  rec(table)->flags = static_cast<int32_t>(status);
  return table;
}

// --- Insertion and lookup ------------------------------------------------------------------

Cell* put_key(NodeId table, Cell* cell, bool* rebuilt) {
  if (rebuilt) *rebuilt = false;
  Record* r = rec(table);
  auto index = static_cast<uint32_t>(cell - block_cells(r));
  switch (r->kind) {
    case kHash: {
      bool was_rebuilt = put_hash_index(table, index, true);
      if (rebuilt) *rebuilt = was_rebuilt;
      return block_cells(rec(table)) + index;
    }
    case kMap: return block_cells(rec(table)) + put_map_index(table, index);
    case kSymbols: return block_cells(rec(table)) + put_symbol_index(table, index);
    default: return cell;
  }
}

Cell* put(NodeId table, Cell* cell) { return put_key(table, cell, nullptr); }

Cell* put_new_map_key(NodeId table, Cell* cell, uint32_t hash) {
  auto index = static_cast<uint32_t>(cell - block_cells(rec(table)));
  return block_cells(rec(table)) + put_new_map_index(table, index, hash);
}

void put_all(NodeId table, uint32_t start, uint32_t step) {
  if (step == 0) step = 1;
  uint32_t i = start;
  while (i < block_length(rec(table))) {
    Record* r = rec(table);
    switch (r->kind) {
      case kHash:
        if (put_hash_index(table, i, true)) return;
        break;
      case kMap: {
        if (i + 1 >= block_length(r)) {
          // A key without its value: the pair is completed with none.
          SeriesBuffer* b = block_buffer(r);
          *alloc_tail(&b) = make_cell(TYPE_NONE);
        }
        uint32_t holder = put_map_index(table, i);
        if (holder != i) {
          // The key is there already: it takes the new value and this pair
          // leaves the block.
          SeriesBuffer* b = block_buffer(rec(table));
          Cell* cells = b->cells();
          cells[holder + 1] = cells[i + 1];
          std::memmove(cells + i, cells + i + 2, (b->cell_count() - i - 2) * sizeof(Cell));
          b->tail -= 2 * sizeof(Cell);
          continue;
        }
        break;
      }
      case kSymbols:
        put_symbol_index(table, i);
        break;
      default:
        return;
    }
    i += step;
  }
}

Cell* find_from(NodeId table, const Cell* value, int32_t from) {
  if (value->is(TYPE_INTEGER)) {
    const Cell* found = find_integer(table, *value, from);
    if (found != &kWalkNeeded) return const_cast<Cell*>(found);
  }
  return walk_hash(table, value, from, 1, kCmpFind, false, false);
}

Cell* find(NodeId table, const Cell* value, int32_t from, int32_t skip, int32_t op, bool last, bool reverse) {
  switch (rec(table)->kind) {
    case kHash: return find_in_hash(table, value, from, skip, op, last, reverse);
    case kMap: return find_in_map(table, value, op);
    default: return nullptr;
  }
}

Cell* probe_key(NodeId table, const Cell* value, Probe* probe, int32_t op) {
  Record* r = rec(table);
  const bool map = r->kind == kMap;
  const Cell wanted = map ? normalized_map_key(*value) : *value;
  auto buckets = static_cast<uint32_t>(r->buckets);
  uint32_t mask = buckets - 1;
  if (probe->bucket == -1) {
    probe->hash = table_hash(wanted);
    probe->bucket = static_cast<int32_t>(probe->hash & mask);
    probe->end = probe->bucket;
    probe->step = 0;
  } else if (probe->bucket < 0) {
    return nullptr;  // the probe already ended
  } else {
    if (static_cast<uint32_t>(++probe->step) > mask) {
      probe->bucket = -2;
      return nullptr;
    }
    probe->bucket = static_cast<int32_t>((static_cast<uint32_t>(probe->bucket) + probe->step) & mask);
  }
  // The arrays are read once, and again after a comparison that went
  // through a datatype (which may allocate and move them).
  TableArrays arrays(table);
  const uint32_t* hashes = map ? key_hashes(r) : nullptr;
  for (;;) {
    auto bucket = static_cast<uint32_t>(probe->bucket);
    uint32_t state = get_status(arrays.status, bucket);
    if (state == kEmpty) break;
    if (state == kLive) {
      int32_t slot = arrays.slots[bucket];
      Cell key = arrays.cells[slot >= 0 ? slot : first_index_of_slot(rec(table), slot)];
      if (map) key = normalized_map_key(key);
      // A map! passes a key of another hash that cannot equal the value.
      bool passed = map && hashes[bucket] != probe->hash && hash_decides(wanted, key);
      if (!passed) {
        bool plain = plainly_comparable(wanted, key);
        if (keys_equal(wanted, key, op)) return block_cells(rec(table)) + first_index_of_slot(rec(table), slot);
        if (!plain) {
          arrays = TableArrays(table);
          if (map) hashes = key_hashes(rec(table));
        }
      }
    }
    if (static_cast<uint32_t>(++probe->step) > mask) break;
    probe->bucket = static_cast<int32_t>((bucket + probe->step) & mask);
  }
  probe->bucket = -2;
  return nullptr;
}

// --- Removal ----------------------------------------------------------------------------

void remove(NodeId table, Cell* key) {
  Record* r = rec(table);
  auto index = static_cast<uint32_t>(key - block_cells(r));
  if (r->kind == kHash) {
    remove_hash_index(table, index);
  } else if (r->kind == kMap) {
    if (index + 1 >= block_length(r)) return;
    Cell& value = block_cells(r)[index + 1];
    if (value.header == 0) return;  // removed already
    value.header = 0;
    --r->size;
  }
}

void remove_range(NodeId table, uint32_t start, uint32_t count) {
  Record* r = rec(table);
  uint32_t length = block_length(r);
  if (start == 0 && count >= length) {
    clear(table);
    return;
  }
  uint32_t end = count > length - std::min(start, length) ? length : start + count;
  if (r->kind == kHash) {
    for (uint32_t i = start; i < end; ++i) remove_hash_index(table, i);
  } else if (r->kind == kMap) {
    for (uint32_t i = start; i < end; i += 2) remove(table, block_cells(rec(table)) + i);
  }
}

void clear(NodeId table) {
  Record* r = rec(table);
  std::memset(status_array(r), 0xAA, memory::buffer_of(node_field(r->flags))->used());
  r->size = 0;
  r->occupied = 0;
  switch (r->kind) {
    case kHash:
      std::memset(index_array(r), 0xFF, index_length(r) * 4);
      array::clear(node_field(r->duplicates));
      break;
    case kMap:
    case kPointers:
    case kPointersChecked: {
      SeriesBuffer* b = block_buffer(r);
      b->tail = b->offset;
      break;
    }
    default:
      break;
  }
}

NodeId copy(NodeId table, NodeId block) {
  NodeId result = memory::copy_series(memory::buffer_of(table));
  StackRoots roots;
  roots.table(result);
  rec(result)->block = static_cast<int32_t>(block);
  NodeId status = memory::copy_series(memory::buffer_of(node_field(rec(result)->flags)));
  rec(result)->flags = static_cast<int32_t>(status);
  NodeId slots = memory::copy_series(memory::buffer_of(node_field(rec(result)->slots)));
  rec(result)->slots = static_cast<int32_t>(slots);
  if (rec(result)->kind == kHash) {
    NodeId indexes = memory::copy_series(memory::buffer_of(node_field(rec(result)->indexes)));
    rec(result)->indexes = static_cast<int32_t>(indexes);
    NodeId duplicates = memory::copy_series(memory::buffer_of(node_field(rec(result)->duplicates)));
    rec(result)->duplicates = static_cast<int32_t>(duplicates);
    uint32_t lists = array::length(duplicates);
    for (uint32_t k = 1; k <= lists; ++k) {
      NodeId list = memory::copy_series(memory::buffer_of(list_node(rec(result), static_cast<int32_t>(k))));
      array::poke_int(duplicates, k, static_cast<int32_t>(list));
    }
  }
  return result;
}

// --- Re-indexing after block edits --------------------------------------------------------

namespace {
// Applies a renumbering of the cells of [low, high) to the stored indexes:
// single slots directly, each duplicate list once (a list may hold several
// of the renumbered cells, and a renumbered index may equal one still to be
// renumbered, so the lists are rewritten as a whole).
template <class Renumber>
void renumber_range(NodeId table, uint32_t low, uint32_t high, Renumber renumber) {
  Record* r = rec(table);
  high = std::min(high, index_length(r));
  const int32_t* indexes = index_array(r);
  int32_t* slots = slot_array(r);
  std::vector<int32_t> lists;
  for (uint32_t i = low; i < high; ++i) {
    int32_t bucket = indexes[i] - 1;
    if (bucket < 0) continue;
    int32_t slot = slots[bucket];
    if (slot >= 0) slots[bucket] = static_cast<int32_t>(renumber(static_cast<uint32_t>(slot)));
    else lists.push_back(-slot);
  }
  std::sort(lists.begin(), lists.end());
  lists.erase(std::unique(lists.begin(), lists.end()), lists.end());
  for (int32_t k : lists) {
    NodeId list = list_node(r, k);
    int32_t* elements = list_elements(list);
    uint32_t n = list_length(list);
    for (uint32_t i = 0; i < n; ++i) {
      auto e = static_cast<uint32_t>(elements[i]);
      if (e >= low && e < high) elements[i] = static_cast<int32_t>(renumber(e));
    }
  }
}
}  // namespace

bool refresh(NodeId table, int32_t delta, uint32_t from, uint32_t count, bool shift) {
  if (count > kRefreshLimit) return true;
  if (rec(table)->kind != kHash || delta == 0) return false;
  if (delta > 0) {
    auto n = static_cast<uint32_t>(delta);
    ensure_index_length(table, from + n + count);
    renumber_range(table, from, from + count, [n](uint32_t i) { return i + n; });
    if (shift) {
      int32_t* indexes = index_array(rec(table));
      std::memmove(indexes + from + n, indexes + from, count * 4);
      std::memset(indexes + from, 0xFF, n * 4);
    }
    return false;
  }
  auto n = static_cast<uint32_t>(-delta);
  for (uint32_t i = from; i < from + n; ++i) remove_hash_index(table, i);
  renumber_range(table, from + n, from + n + count, [n](uint32_t i) { return i - n; });
  if (shift) {
    Record* r = rec(table);
    uint32_t length = index_length(r);
    if (from + n < length) {
      int32_t* indexes = index_array(r);
      uint32_t moved = std::min(count, length - (from + n));
      std::memmove(indexes + from, indexes + from + n, moved * 4);
      uint32_t cleared_from = from + moved, cleared_to = std::min(length, from + n + moved);
      if (cleared_to > cleared_from) std::memset(indexes + cleared_from, 0xFF, (cleared_to - cleared_from) * 4);
    }
  }
  return false;
}

bool move(NodeId table, uint32_t to, uint32_t from, uint32_t count) {
  if (rec(table)->kind != kHash || count == 0 || to == from) return false;
  uint32_t low = std::min(from, to), high = std::max(from, to) + count;
  if (high - low > kRefreshLimit) return true;
  auto renumber = [=](uint32_t i) {
    if (i >= from && i < from + count) return to + (i - from);
    uint32_t rest = i < from ? i : i - count;  // position among the cells that stayed
    return rest < to ? rest : rest + count;
  };
  ensure_index_length(table, high);
  renumber_range(table, low, high, renumber);
  int32_t* indexes = index_array(rec(table));
  std::vector<int32_t> old(indexes + low, indexes + high);
  for (uint32_t i = low; i < high; ++i) indexes[renumber(i)] = old[i - low];
  return false;
}

void rebuild(NodeId table, uint32_t size) { rebuild_hash(table, size); }

// --- Symbols and words --------------------------------------------------------------------

int32_t get_symbol(NodeId table, const char* text, uint32_t length, bool no_alias) {
  make_room(table);
  std::string_view name(text, length);
  uint32_t hash = hash_symbol_name(text, length);
  const Cell* records = block_cells(rec(table));

  // The bucket where a new record goes: the first deleted one on the path,
  // else the empty one that ended the probe.
  uint32_t target = 0;
  if (!no_alias) {
    InsertionProbe exact =
        probe_for_insertion(table, hash, [&](int32_t slot) { return record_name(records[slot]) == name; });
    if (exact.matched) return slot_array(rec(table))[exact.bucket] + 1;
    target = exact.bucket;
  }
  InsertionProbe variant = probe_for_insertion(table, hash, [&](int32_t slot) {
    std::string_view other = record_name(records[slot]);
    return other.size() == length && ascii_equal_ignoring_case(other, text);
  });
  int32_t variant_of = -1;
  if (variant.matched) {
    // The canonical id, even if the first match met were a variant.
    int32_t slot = slot_array(rec(table))[variant.bucket];
    auto alias = static_cast<int32_t>(records[slot].data1);
    variant_of = alias > 0 ? alias : slot + 1;
    if (no_alias) return variant_of;
  } else if (no_alias) {
    target = variant.bucket;
  }

  int32_t id = append_symbol_record(table, text, length, variant_of > 0 ? variant_of : symbol::kCanonical);
  claim_bucket(rec(table), target, id - 1);
  return id;
}

int32_t get_word_index(NodeId table, uint32_t symbol, bool case_insensitive, NodeId context, int32_t* index) {
  if (context != 0) make_room(table);
  uint32_t canonical = resolve_symbol(symbol);
  // Comparing two symbols allocates nothing, and every context lookup
  // comes here: the arrays are held for the probe.
  const Cell* words = block_cells(rec(table));
  InsertionProbe probe = probe_for_insertion<true>(table, hash_pointer(canonical), [&](int32_t slot) {
    uint32_t other = words[slot].data2;
    return other == symbol || (case_insensitive && resolve_symbol(other) == canonical);
  });
  if (probe.matched) return slot_array(rec(table))[probe.bucket];
  if (context == 0) return -1;

  SeriesBuffer* b = block_buffer(rec(table));
  auto position = static_cast<int32_t>(b->cell_count());
  Cell* word = alloc_tail(&b);
  *word = make_cell(TYPE_WORD, context, symbol, static_cast<uint32_t>(position));
  claim_bucket(rec(table), probe.bucket, position);
  if (index) *index = position;
  return -1;
}

NodeId words_node(const Cell& context) { return node_field(rec(context.data1)->block); }
SeriesBuffer* get_words(const Cell& context) { return memory::buffer_of(words_node(context)); }
Cell* get_word(const Cell& context, uint32_t n) { return get_words(context)->cells() + n; }

// --- Pointer tables --------------------------------------------------------------------------

Cell* put_ptr(NodeId table, NodeId key) {
  int32_t bucket = find_pointer_bucket(table, key);
  if (bucket >= 0) {
    Record* r = rec(table);
    return entry_at(r, slot_array(r)[bucket]) + 1;
  }
  make_room(table);
  Record* r = rec(table);
  uint32_t size = entry_size(r);
  SeriesBuffer* b = block_buffer(r);
  auto offset = static_cast<int32_t>(b->used());
  uint8_t* place = alloc_tail_unit(&b, size);
  std::memset(place, 0, size);
  auto* entry = reinterpret_cast<Cell*>(place);
  entry->header = 2;
  entry->data1 = key;

  // The key is not in the table (looked up above): the probe only finds
  // the bucket for it.
  InsertionProbe probe = probe_for_insertion(table, hash_pointer(key), [](int32_t) { return false; });
  r = rec(table);
  claim_bucket(r, probe.bucket, offset);
  return entry_at(r, offset) + 1;
}

Cell* get_ptr(NodeId table, NodeId key) {
  int32_t bucket = find_pointer_bucket(table, key);
  if (bucket < 0) return nullptr;
  Record* r = rec(table);
  return entry_at(r, slot_array(r)[bucket]) + 1;
}

Cell* remove_ptr(NodeId table, NodeId key) {
  int32_t bucket = find_pointer_bucket(table, key);
  if (bucket < 0) return nullptr;
  Record* r = rec(table);
  set_status(status_array(r), static_cast<uint32_t>(bucket), kDeleted);
  --r->size;
  Cell* entry = entry_at(r, slot_array(r)[bucket]);
  entry->header = 0;
  return entry + 1;
}

// --- Collector support -----------------------------------------------------------------------

void mark(NodeId table, MarkNode mark_node, MarkNode mark_cells) {
  mark_node(table);
  Record* r = rec(table);
  if (r->kind == kHash) {
    mark_node(node_field(r->indexes));
    mark_node(node_field(r->duplicates));
    uint32_t lists = array::length(node_field(r->duplicates));
    for (uint32_t k = 1; k <= lists; ++k) mark_node(list_node(r, static_cast<int32_t>(k)));
  }
  mark_node(node_field(r->flags));
  mark_node(node_field(r->slots));
  mark_node(node_field(r->block));
  if (r->kind < kPointers) return;
  const uint8_t* status = status_array(r);
  const int32_t* slots = slot_array(r);
  for (int32_t i = 0; i < r->buckets; ++i) {
    if (get_status(status, static_cast<uint32_t>(i)) != kLive) continue;
    NodeId key = entry_at(r, slots[i])->data1;
    if (key == 0) continue;
    mark_node(key);
    if (mark_cells && memory::buffer_of(key)->unit() == sizeof(Cell)) mark_cells(key);
  }
}

void sweep(NodeId table, IsMarked is_marked) {
  Record* r = rec(table);
  if (r->kind < kPointers) return;
  uint8_t* status = status_array(r);
  const int32_t* slots = slot_array(r);
  for (int32_t i = 0; i < r->buckets; ++i) {
    if (get_status(status, static_cast<uint32_t>(i)) != kLive) continue;
    Cell* entry = entry_at(r, slots[i]);
    bool dead = !is_marked(entry->data1);
    if (!dead && r->kind == kPointersChecked && entry[2].data1 != 0) dead = !is_marked(entry[2].data1);
    if (!dead) continue;
    set_status(status, static_cast<uint32_t>(i), kDeleted);
    entry->header = 0;
    entry->data1 = 0;
    --r->size;
  }
}

// --- Diagnostics and counters ---------------------------------------------------------------

std::string dump(NodeId table) {
  std::string alive = "== Alive keys ==\n", deleted = "== Deleted keys ==\n";
  Record* r = rec(table);
  for (int32_t i = 0; i < r->buckets; ++i) {
    r = rec(table);
    uint32_t state = get_status(status_array(r), static_cast<uint32_t>(i));
    if (state == kEmpty) continue;
    int32_t slot = slot_array(r)[i];
    std::string line;
    if (r->kind >= kPointers) {
      line = "node " + std::to_string(entry_at(r, slot)->data1);
    } else {
      int32_t index = first_index_of_slot(r, slot);
      if (index < 0 || static_cast<uint32_t>(index) >= block_length(r)) continue;
      Cell key = block_cells(r)[index];
      line = key.is(TYPE_SYMBOL) ? std::string(record_name(key)) : actions::mold_to_string(key, false);
    }
    (state == kLive ? alive : deleted) += line + "\n";
  }
  return alive + "\n" + deleted;
}

int32_t size(NodeId table) { return rec(table)->size; }
int32_t buckets(NodeId table) { return rec(table)->buckets; }
int32_t upper(NodeId table) { return rec(table)->upper; }
int32_t occupied(NodeId table) { return rec(table)->occupied; }
NodeId block(NodeId table) { return node_field(rec(table)->block); }
Kind kind(NodeId table) { return static_cast<Kind>(rec(table)->kind); }

}  // namespace kel::hash_table
