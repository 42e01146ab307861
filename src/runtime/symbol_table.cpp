// The symbol table (see symbol_table.h).
//
// Interning is the hash index's work (hash_table::get_symbol probes by the
// folded name and appends the new records); this file owns the table block
// and the lazily made name strings.
#include "runtime/symbol_table.h"

#include <string>

#include "runtime/action_slots.h"
#include "runtime/stack.h"
#include "runtime/string_buffer.h"
#include "runtime/case_folding.h"
#include "runtime/hash_table.h"
#include "runtime/root_block.h"
#include "runtime/unicode.h"

namespace kel::symbol {

NodeId detail::table_node = 0;

namespace {
using detail::table_node;
NodeId index_node = 0;

uint32_t intern(std::string_view utf8, bool no_alias) {
  return hash_table::get_symbol(index_node, utf8.data(), static_cast<uint32_t>(utf8.size()), no_alias);
}
}  // namespace

NodeId table() { return table_node; }
NodeId index() { return index_node; }

void init_table() {
  table_node = memory::alloc_cells(kInitialCapacity);
  Cell block = make_cell(TYPE_BLOCK, 0, table_node, 0);
  root::keep(block);
  index_node = hash_table::init(kInitialCapacity, &block, hash_table::kSymbols, 0);
}

uint32_t make(std::string_view utf8) { return intern(utf8, false); }
uint32_t make_flagged(std::string_view utf8) { return intern(utf8, true); }
uint32_t make_from_text(const char* utf8, uint32_t length) {
  return intern(std::string_view(utf8, length), false);
}

uint32_t make_from_string(const Cell* string) {
  int32_t part = -1;
  const char* utf8 = unicode::to_utf8(string, &part);
  // to_utf8 reports the byte count through part; the text lives in a shared
  // scratch buffer that interning does not touch.
  return make_from_text(utf8, static_cast<uint32_t>(part));
}

uint32_t count() { return memory::buffer_of(table_node)->cell_count(); }

Cell* record(uint32_t id) { return memory::buffer_of(table_node)->cells() + (id - 1); }

Cell* get(uint32_t id) {
  get_string(id);
  return record(id);
}

NodeId get_string(uint32_t id) {
  NodeId cached = record(id)->data2;
  if (cached != 0) return cached;
  // Copy the name out first: decoding allocates, which may move buffers.
  std::string utf8(name(id));
  NodeId node = unicode::load_utf8_new(reinterpret_cast<const uint8_t*>(utf8.data()),
                                       static_cast<uint32_t>(utf8.size()), false);
  record(id)->data2 = node;
  return node;
}

const char* get_c_string(uint32_t id) {
  SeriesBuffer* b = memory::buffer_of(record(id)->data3);
  // Records keep room for the NUL, but a name series changed by other code
  // might not: grow by one byte rather than write past the capacity.
  if (b->tail + 1 > b->size) b = memory::expand_series(b, b->size + 16);
  *b->tail_ptr() = 0;
  return reinterpret_cast<const char*>(b->head_ptr());
}

std::string_view name(uint32_t id) {
  // An id that names no symbol (0, or one from a damaged cell) reads as the
  // empty name rather than whatever lies outside the table.
  if (id == 0 || id > memory::buffer_of(table_node)->cell_count()) return {};
  return record_name(*record(id));
}

int32_t get_alias(uint32_t id) { return static_cast<int32_t>(record(id)->data1); }

Cell* push_string(uint32_t id) { return stack::push(string::make_value(get_string(id))); }

// Two names compared as text from their first character: code point by code
// point, folded to upper case except for the case-sensitive operators; at
// equal prefixes the shorter name sorts first.
int32_t compare_text(std::string_view first, std::string_view second, int32_t op) {
  bool fold = op != kCmpStrictEqual && op != kCmpCaseSort;
  const auto* p1 = reinterpret_cast<const uint8_t*>(first.data());
  const auto* p2 = reinterpret_cast<const uint8_t*>(second.data());
  const uint8_t* end1 = p1 + first.size();
  const uint8_t* end2 = p2 + second.size();
  while (p1 < end1 && p2 < end2) {
    int32_t c1 = 0;
    int32_t c2 = 0;
    p1 = unicode::fast_decode_utf8_char(p1, &c1);
    p2 = unicode::fast_decode_utf8_char(p2, &c2);
    auto u1 = static_cast<uint32_t>(c1);
    auto u2 = static_cast<uint32_t>(c2);
    if (fold) {
      u1 = case_folding::to_upper_char(u1);
      u2 = case_folding::to_upper_char(u2);
    }
    if (u1 != u2) return u1 > u2 ? 1 : -1;
  }
  bool first_left = p1 < end1;
  bool second_left = p2 < end2;
  if (first_left == second_left) return 0;
  return first_left ? 1 : -1;
}

// Names are NUL-terminated in their byte series, so decoding never reads
// past a name even when its last sequence is cut short.
int32_t compare_names(uint32_t id1, uint32_t id2, int32_t op) {
  get_c_string(id1);
  get_c_string(id2);
  return compare_text(name(id1), name(id2), op);
}

}  // namespace kel::symbol
