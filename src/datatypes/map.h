// map!: a dictionary of key/value pairs over a hash table (kind 1).
//
// Cell: header type 40, data1 0, data2 the node of the pair block, data3 the
// node of the table record (runtime/hash_table.h). The pair block holds key
// and value cells alternately, in the order the entries were made; only the
// key cells are indexed. A removed entry keeps both cells with the value
// cell's header set to 0: every walk over a map skips such entries, and
// setting the key again revives the entry in place. The table record's size
// field is the number of live entries.
//
// Keys are normalised when they enter a table (normalize_key): word kinds
// are stored as set-word!, text and binary keys as private copies. No stored
// key ever leaves the map as it is: find, reflect and foreach hand out copies
// of series keys, so the table cannot be corrupted by editing a key through
// a reference to it.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::map {

inline NodeId pairs_of(const Cell& map) { return map.data2; }
inline NodeId table_of(const Cell& map) { return map.data3; }

// The number of live entries.
int32_t size(const Cell& map);

// Whether values of the type may be map keys (the lexer checks the keys of
// a map literal with it).
bool key_type_q(TypeId type);

// Normalises a key in place: word!, lit-word! and get-word! become set-word!,
// text and binary keys are replaced by a copy of themselves (from their
// index), the other key types stay as they are. A type that cannot be a key
// raises script invalid-path naming the path (none when path is null) and the
// key's datatype.
void normalize_key(Cell* key, const Cell* path);

// Makes the cell a map over a block of pairs (from its index; the block
// becomes the map's pair block when its index is 0, else the pairs are
// copied out), or, with a null block, over a new block with room for size
// cells. Keys are normalised (an invalid key raises invalid-path with none),
// new-line markers cleared, a key without its value gets none, and a key met
// twice keeps the later value. The cell may be a stack cell or any cell that
// does not live in a series buffer. Answers the cell.
Cell* make_at(Cell* cell, const Cell* pairs, int32_t size);

// Pushes a copy of the map cell on the evaluation stack.
Cell* push(const Cell& map);

// The extend native on a map: adds or replaces each key/value pair of the
// block (even length, else script invalid-arg with the block); keys are
// looked up case-sensitively with case_sensitive. An invalid key raises
// invalid-path with none in place of the path. Answers the map.
Cell* extend(Cell* map, const Cell* pairs, bool case_sensitive);

// One round of foreach over a map: the count words of the word block (from
// its index) take the next key, value, key ... of the live entries from the
// iterator's position (a cell index into the pair block, advanced past what
// was taken); a set-word! key is given as a word!, series keys as copies;
// words left over at the end take none. Each loop word must be a word!,
// set-word!, lit-word! or get-word! (else script invalid-arg with it).
// Answers whether any word took a value.
bool foreach_next(const Cell* words, Cell* iterator, int32_t count);

// Lookup and storage for C++ callers (the same rules as the path forms).
// The value stored under the key, or none when absent or removed.
Cell get(const Cell& map, const Cell& key, bool case_sensitive);
// Stores the value under the key (adding, reviving or overwriting the entry).
void set(const Cell& map, const Cell& key, const Cell& value, bool case_sensitive);

// --- Action handlers ---------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, TypeId type);
Cell* to(Cell* proto, Cell* spec, TypeId type);
Cell* reflect(Cell* value, int field);
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent,
                Cell* p_item, int32_t index, bool case_sensitive, bool get, bool tail);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
Cell* clear(Cell* map);
Cell* copy(Cell* value, Cell* result, int part, int deep, int types);
Cell* find(Cell* map, Cell* value, int part, int only, int case_sensitive, int same, int any,
           int with, int skip, int last, int reverse, int tail, int match);
int32_t length_q(Cell* map);
Cell* put(Cell* map, Cell* key, Cell* value, int case_sensitive);
Cell* remove(Cell* map, int part, int key);
Cell* select(Cell* map, Cell* value, int part, int only, int case_sensitive, int same, int any,
             int with, int skip, int last, int reverse);

// Registers map! (id 40, no parent).
void init();

}  // namespace kel::map
