// Hash tables: one open-addressing design behind the index of a hash!
// (kind 0), the index of a map! (kind 1), the system symbol table and every
// context's word table (kind 2), and the node-keyed tables of the ownership
// tracker and the serializer (kinds 3 and 4).
//
// A table never holds values itself. Kinds 0-2 index the cells of a block,
// kinds 3-4 fixed-size entries of an entry block. The table is one node: a
// byte series holding the 44-byte Record below, whose fields name the other
// series (bucket status, bucket slots, the indexed block, and for hash! the
// cell-to-bucket array and the duplicate lists), so a collector reaches the
// whole table from its node (see mark()).
//
// Buckets: a power-of-two count, at least 4, with 2 status bits each
// (16 buckets per 32-bit word: bucket i at word i >> 4, bit 2 x (i & 15);
// 2 empty, 1 deleted, 0 live) and one 32-bit slot each. A live slot holds
// the 0-based cell index of its key in the block (kinds 0-2), -k for the
// k-th duplicate list of a hash! (1-based; the list holds the cell indexes
// of every cell whose key equals the bucket's key), or the byte offset of
// the entry in the entry block (kinds 3-4). A map!'s slot array holds as
// many words again after the slots: each bucket's key hash. Probing starts
// at hash & (buckets - 1) and moves by 1, 2, 3 ... (triangular offsets)
// until an empty bucket or back at the start. An insertion first resizes
// when occupied (live plus deleted buckets) has reached upper
// (0.77 x buckets).
//
// Hashes are recomputed from the keys whenever a table is resized, except in
// a map!, whose keys never change once stored: its buckets keep their keys'
// hashes, which a probe compares before the keys and a resize reuses. Keys
// hash by value (hash_value); series and contexts hash by node id, and node
// ids never change when buffers move, so no table needs re-indexing after a
// collection (the record's stamp stays 0).
//
// Raw cell pointers returned by these routines point into the indexed block:
// they are valid until the next call that may allocate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/action_slots.h"
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::hash_table {

enum Kind : int32_t {
  kHash = 0,             // hash!: every cell of the block, with duplicate lists
  kMap = 1,              // map!: key cells of a key/value pair block
  kSymbols = 2,          // the symbol table, and every context's word table
  kPointers = 3,         // entries keyed by a node id
  kPointersChecked = 4,  // the same, with a second node in the entry's third cell
};

// The table record, stored as the data of a 44-byte byte series.
struct Record {
  int32_t size;        // live keys
  int32_t indexes;     // kind 0: node of the cell-to-bucket array; kinds 3-4: entry size in bytes
  int32_t duplicates;  // kind 0: node of the array of duplicate-list nodes
  int32_t flags;       // node of the bucket status array
  int32_t slots;       // node of the bucket slot array
  int32_t block;       // node of the indexed block (kinds 0-2) or of the entry block (3-4)
  int32_t occupied;    // live plus deleted buckets
  int32_t buckets;     // bucket count, a power of two, at least 4
  int32_t upper;       // occupied bound that makes the next insertion resize first
  int32_t kind;
  int32_t stamp;       // always 0: hashes never depend on where a buffer lives
};
static_assert(sizeof(Record) == 44, "the table record is eleven 32-bit fields");

// The record of a table (a pointer into its buffer: re-read after allocations).
Record* record_of(NodeId table);

// Bucket status values.
constexpr uint32_t kLive = 0;
constexpr uint32_t kDeleted = 1;
constexpr uint32_t kEmpty = 2;

// The status of a bucket in a status array of two bits per bucket, four
// buckets to a byte, the lowest bits first; shared by the tables and the
// pointer map.
inline uint32_t get_status(const uint8_t* status, uint32_t bucket) {
  return (status[bucket >> 2] >> ((bucket & 3) * 2)) & 3;
}
inline void set_status(uint8_t* status, uint32_t bucket, uint32_t value) {
  uint32_t shift = (bucket & 3) * 2;
  status[bucket >> 2] = static_cast<uint8_t>((status[bucket >> 2] & ~(3u << shift)) | (value << shift));
}

// Above this many cells to re-index, refresh() and move() ask for a rebuild.
constexpr uint32_t kRefreshLimit = 30000;

// Makes a table for size keys and returns its node. block is a cell of the
// block to index (from its index on; map! blocks by pairs), or null for a
// new block of room for size cells; kinds 3-4 always get a new entry block,
// with entries of (extra + 1) cells. A symbol table made for 4000 or more
// keys is made for twice as many. With kind 2, extra 2 and a context cell in
// place of the block, the result is a copy of that context's word table
// (see copy_word_table).
NodeId init(uint32_t size, const Cell* block, int32_t kind, int32_t extra);

// A copy of a context's word table: the record, its word block, its slot and
// status arrays. The copied word cells still name the source context.
NodeId copy_word_table(const Cell& context);

// Inserts the key of a cell of the indexed block and returns the cell; for
// map! returns the existing key cell when the key is present (the caller
// then stores the value after that key; a removed entry counts as live
// again). Putting a hash! cell that is already indexed re-indexes it under
// its current key.
Cell* put(NodeId table, Cell* cell);
// The worker of put(): also reports whether a hash! was rebuilt, in which
// case every cell of the block is indexed and the caller stops inserting.
Cell* put_key(NodeId table, Cell* cell, bool* rebuilt);
// map!: indexes a key cell of the block that no key in the table equals
// under any comparison (a probe for it found none), given its hash (the
// probe's): the bucket is taken without comparing keys. Returns the cell.
Cell* put_new_map_key(NodeId table, Cell* cell, uint32_t hash);
// Inserts the key cells from start (0-based cell index) to the tail, stepping
// by step cells (2 for map!). For map!, a key already present takes the new
// value (copied onto the existing value cell) and the duplicate pair is cut
// out of the block.
void put_all(NodeId table, uint32_t start, uint32_t step);

// Looks a value up. hash!: among the cells whose key equals value under the
// comparison op, the cell with the smallest index >= from whose distance from
// from is a multiple of skip; with last, the largest such index; with
// reverse, the largest index below from whose distance (from - index - 1) is
// a multiple of skip. map!: the first equal key cell. Null when none.
Cell* find(NodeId table, const Cell* value, int32_t from, int32_t skip, int32_t op, bool last,
           bool reverse);

// hash!: find's search without refinements, the same answer as
// find(table, value, from, 1, kCmpFind, false, false) by a shorter road for
// the commonest keys.
Cell* find_from(NodeId table, const Cell* value, int32_t from);

// The state of a probe that a map! caller continues to enumerate every key
// equal to a value. Start with bucket -1.
struct Probe {
  int32_t bucket = -1;
  int32_t end = 0;
  int32_t step = 0;
  uint32_t hash = 0;  // the value's hash, once the probe has started
};
// The next key cell equal to value under op along the probe, or null at the
// end of the probe.
Cell* probe_key(NodeId table, const Cell* value, Probe* probe, int32_t op = kCmpEqual);

// Removes a key cell of the block. hash!: the cell leaves its duplicate list
// and the bucket is deleted when no cell is left for it. map!: the entry is
// marked removed (the value cell after the key gets header 0), its bucket
// stays live.
void remove(NodeId table, Cell* key);
// Removes the keys of count cells from start (0-based cell index); removing
// every cell of the block clears the table.
void remove_range(NodeId table, uint32_t start, uint32_t count);
// Every bucket empty, size and occupied 0, duplicate lists dropped; a map!'s
// pair block is emptied too (its pairs are no longer indexed).
void clear(NodeId table);
// A new table over a copy of the indexed block (block: the copy's node), with
// copies of every array.
NodeId copy(NodeId table, NodeId block);

// hash! re-indexing after an edit of the block at cell index from:
// - delta > 0: delta cells were inserted at from; the count cells that
//   followed from (indexes from .. from + count - 1 before the insertion)
//   now sit delta cells further. The new cells are left unindexed: the
//   caller puts them.
// - delta < 0: the -delta cells at from were removed (their keys leave the
//   table) and the count cells after them moved down by -delta.
// shift false updates the stored indexes only, leaving the cell-to-bucket
// array as it is. Returns true, changing nothing, when count exceeds
// kRefreshLimit: the caller then rebuilds the table.
bool refresh(NodeId table, int32_t delta, uint32_t from, uint32_t count, bool shift);
// hash! re-indexing after count cells moved inside the block from index
// from so that they now start at index to (the other cells keep their order).
// Returns true, changing nothing, when too many cells are affected.
bool move(NodeId table, uint32_t to, uint32_t from, uint32_t count);
// hash!: indexes every cell of the block again in a table made for size keys.
void rebuild(NodeId table, uint32_t size);

// The symbol table: the 1-based id of the symbol named by the UTF-8 bytes,
// appending a record when the name is new. A name equal to an existing one
// apart from ASCII letter case gets a new id whose alias is the existing
// canonical id, unless no_alias is set, which answers the existing id.
int32_t get_symbol(NodeId table, const char* text, uint32_t length, bool no_alias);

// A context's word table: the index of the symbol's word, or -1. With
// case_insensitive, a word whose symbol has the same canonical id matches.
// With a context node given and the word absent, a word cell (word!, the
// context, the symbol, its index) is appended, its index written to *index,
// and -1 returned.
int32_t get_word_index(NodeId table, uint32_t symbol, bool case_insensitive, NodeId context,
                       int32_t* index);
// Word cell n of a context's word table (context: the context's first cell).
Cell* get_word(const Cell& context, uint32_t n);
// The buffer of a context's word block.
SeriesBuffer* get_words(const Cell& context);
NodeId words_node(const Cell& context);

// Node-keyed tables (kinds 3-4). put_ptr appends an entry for the key (first
// cell header 2, key in data1) unless one exists, and returns the entry's
// payload (the cells after the first); get_ptr returns the payload or null;
// remove_ptr deletes the entry (its first word zeroed) and returns its
// payload, or null.
Cell* put_ptr(NodeId table, NodeId key);
Cell* get_ptr(NodeId table, NodeId key);
Cell* remove_ptr(NodeId table, NodeId key);

// Collector support. mark() hands every node of the table to mark_node: the
// record, status and slot arrays, the block, for hash! the cell-to-bucket
// array, the duplicates array and every list; for kinds 3-4 each live
// entry's key node, and, when that node holds cells, mark_cells (when given)
// for it. sweep() (kinds 3-4, after marking) removes each live entry whose
// key node, or in kind 4 whose second node, is unmarked.
using MarkNode = void (*)(NodeId node);
using IsMarked = bool (*)(NodeId node);
void mark(NodeId table, MarkNode mark_node, MarkNode mark_cells = nullptr);
void sweep(NodeId table, IsMarked is_marked);

// Hashing.
uint32_t murmur3(const void* bytes, size_t length);  // MurmurHash3 x86_32, runtime seed
uint32_t hash_pointer(uint32_t value);               // the final mix alone, no seed
// Code points from the string's index to its tail, upper-cased unless
// case_sensitive: equals murmur3 of the text as UCS-4 whatever the unit.
uint32_t hash_string(const Cell& string, bool case_sensitive);
// A symbol name with the ASCII letters A-Z lowered.
uint32_t hash_symbol_name(const char* text, uint32_t length);
// The hash of a value by its type (tables always hash case-insensitively;
// the comparison then decides).
uint32_t hash_value(const Cell& value, bool case_sensitive = false);

// Diagnostic listing of a table's keys, by molding them.
std::string dump(NodeId table);

// Counters (read from the record).
int32_t size(NodeId table);
int32_t buckets(NodeId table);
int32_t upper(NodeId table);
int32_t occupied(NodeId table);
NodeId block(NodeId table);
Kind kind(NodeId table);
// Bucket count for a table made for n keys: 4 / 0.77 gives 8 (upper 6).
uint32_t bucket_count_for(uint32_t size);

}  // namespace kel::hash_table

// The pointer map: a table of the same design outside the series heap,
// mapping 32-bit keys (node ids) to 32-bit values, for the collector while it
// compacts (it must not allocate series then). Entries are (key, value)
// pairs in one array, one per bucket.
namespace kel::pointer_map {

struct Entry {
  uint32_t key;
  uint32_t value;
};

struct Map {
  uint32_t size;
  uint8_t* status;  // 2 bits per bucket, as in the hash tables
  Entry* entries;   // one per bucket
  uint32_t occupied;
  uint32_t buckets;
  uint32_t upper;
};

// A map for n keys, or null when memory is refused.
Map* make(uint32_t n);
void free(Map* map);
// Sets the key's value (an existing key takes the new value). Returns 0, or
// -1 when growing was refused (the map is then unchanged).
int32_t put(Map* map, uint32_t key, uint32_t value);
// The address of the key's value, or null.
uint32_t* get(Map* map, uint32_t key);
void remove(Map* map, uint32_t key);
// The live entry after the given one (null: the first), or null at the end.
Entry* next(Map* map, Entry* after);
void clear(Map* map);
uint32_t count(const Map* map);

}  // namespace kel::pointer_map
