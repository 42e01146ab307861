// Case folding (see case_folding.h).
//
// The pair lists come from case_tables.inc, generated from the Unicode
// character database by scripts/gen-case-tables.py. BMP keys are spread into
// the direct tables once; supplementary keys stay in their sorted lists,
// where a bounds test rejects almost every code point before any search.
#include "runtime/case_folding.h"

#include <algorithm>
#include <span>

#include "runtime/memory.h"
#include "runtime/string_units.h"

namespace kel::case_folding {

namespace {

struct CasePair {
  uint32_t key;
  uint32_t partner;
};

#include "runtime/case_tables.inc"

constexpr uint32_t kBmpSize = 0x10000;

constexpr bool keys_sorted_within(std::span<const CasePair> pairs, uint32_t low, uint32_t high) {
  for (size_t i = 0; i < pairs.size(); ++i) {
    if (pairs[i].key < low || pairs[i].key > high) return false;
    if (i > 0 && pairs[i - 1].key >= pairs[i].key) return false;
  }
  return !pairs.empty();
}
// The lookups rely on these: direct indexing below 0x10000, and a bounds test
// plus binary search above it.
static_assert(keys_sorted_within(kBmpToUpper, 0, kBmpSize - 1));
static_assert(keys_sorted_within(kBmpToLower, 0, kBmpSize - 1));
static_assert(keys_sorted_within(kSupplementaryToUpper, kBmpSize, 0x10FFFF));
static_assert(keys_sorted_within(kSupplementaryToLower, kBmpSize, 0x10FFFF));

// Zero-initialised, so an unbuilt table maps everything to itself rather
// than to garbage.
uint32_t to_upper_table[kBmpSize];
uint32_t to_lower_table[kBmpSize];
bool tables_built = false;

void fill_table(uint32_t* table, std::span<const CasePair> pairs) {
  for (const CasePair& pair : pairs) table[pair.key] = pair.partner;
}

uint32_t search_supplementary(std::span<const CasePair> pairs, uint32_t code_point) {
  if (code_point < pairs.front().key || code_point > pairs.back().key) return code_point;
  auto found = std::lower_bound(pairs.begin(), pairs.end(), code_point,
                                [](const CasePair& pair, uint32_t key) { return pair.key < key; });
  return found->key == code_point ? found->partner : code_point;
}

}  // namespace

void init() {
  if (tables_built) return;
  fill_table(to_upper_table, kBmpToUpper);
  fill_table(to_lower_table, kBmpToLower);
  tables_built = true;
}

uint32_t change_char(uint32_t code_point, bool upper) {
  if (code_point < kBmpSize) {
    // Built on the first use, so that a start whose text is all ASCII
    // (which never comes here) spends nothing on them.
    if (!tables_built) [[unlikely]] init();
    uint32_t mapped = (upper ? to_upper_table : to_lower_table)[code_point];
    return mapped != 0 ? mapped : code_point;
  }
  return search_supplementary(upper ? std::span<const CasePair>(kSupplementaryToUpper)
                                    : std::span<const CasePair>(kSupplementaryToLower),
                              code_point);
}

uint32_t toggle_char(uint32_t code_point) {
  uint32_t upper = change_char(code_point, true);
  return upper != code_point ? upper : change_char(code_point, false);
}

}  // namespace kel::case_folding
