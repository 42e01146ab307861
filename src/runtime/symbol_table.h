// The symbol table: the interned names behind every word, one table for
// the process. The symbol! datatype (datatypes/symbol.h) registers the
// records' type.
//
// The symbol table is a block of symbol! records kept alive from the root
// block; record n-1 is symbol id n, so ids are 1-based and dense, and records
// are only ever appended. A kind-2 hash index over the block finds a name
// quickly; its key is the name with only the ASCII letters A-Z lowered.
//
// Record cell (type 13):
//   data1  alias: -1 (any value <= 0) for a canonical symbol; for a case
//          variant, the id of the canonical symbol it was first matched to
//   data2  node of the cached string! of the name, 0 until first needed
//   data3  node of a byte series holding the UTF-8 name (tail excludes the
//          NUL kept just past it)
// data1/data2 have the shape of a string cell (index, node), which is why the
// cached name can be formed as a string at index 0.
//
// A name differing from an earlier one only by letter case gets its own id
// (so molding keeps the spelling) whose alias is the earlier, canonical id:
// case-insensitive equality of words is equality of resolve() results.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::symbol {

constexpr uint32_t kInitialCapacity = 4000;
constexpr int32_t kCanonical = -1;

// The symbol table block and its hash index (0 before init_table()).
NodeId table();
NodeId index();

// Creates the table block (kept alive from the root block) and its index.
void init_table();

// Interning. make() records case variants as aliases of their canonical
// symbol; make_flagged() returns the existing symbol for a name equal to it
// apart from case (start-up only, so that built-in names have one id).
uint32_t make(std::string_view utf8);
uint32_t make_flagged(std::string_view utf8);
uint32_t make_from_text(const char* utf8, uint32_t length);
// Interns the text of a string! from its index.
uint32_t make_from_string(const Cell* string);

// Number of symbols interned so far (the highest id).
uint32_t count();

// The record of a symbol id, with its cached string made first. The address
// points into the table block: re-read it after anything that may allocate.
Cell* get(uint32_t id);
// The record without touching its cached string (same caveat).
Cell* record(uint32_t id);

// The cached string! node of a record's name, made on first use.
NodeId get_string(uint32_t id);
// The NUL-terminated UTF-8 name; valid until the next allocation.
const char* get_c_string(uint32_t id);
// The UTF-8 name; valid until the next allocation.
std::string_view name(uint32_t id);

namespace detail {
// The table block's node (it never changes once made): resolve reads it
// inline, as binding and comparing words ask for canonical ids all the time.
extern NodeId table_node;
}  // namespace detail

// The canonical id of a symbol: itself, or its alias when it is a variant.
inline uint32_t resolve(uint32_t id) {
  int32_t alias = static_cast<int32_t>(memory::buffer_of(detail::table_node)->cells()[id - 1].data1);
  return alias <= 0 ? id : static_cast<uint32_t>(alias);
}
int32_t get_alias(uint32_t id);

// A record's name bytes, read from its byte series.
inline std::string_view record_name(const Cell& record) {
  SeriesBuffer* b = memory::buffer_of(record.data3);
  return std::string_view(reinterpret_cast<const char*>(b->head_ptr()), b->used());
}

// Pushes a string! at index 0 whose node is the symbol's cached name (not a
// copy).
Cell* push_string(uint32_t id);

// Two symbols' names compared as text (for word ordering): 0 when equal, -1
// or 1 by the first differing code point, folded to upper case unless the
// operator is strict-equal or case-sort.
int32_t compare_names(uint32_t id1, uint32_t id2, int32_t op);

// Two names compared as text from their first character (see
// compare_names).
int32_t compare_text(std::string_view first, std::string_view second, int32_t op);

}  // namespace kel::symbol
