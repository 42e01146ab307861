// Case folding (see case_folding.h).
//
// The pair lists come from case_tables.inc, generated from the Unicode
// character database by scripts/gen-case-tables.py. BMP keys are spread into
// the direct tables once; supplementary keys stay in their sorted lists,
// where a bounds test rejects almost every code point before any search.
#include "runtime/case_folding.h"

#include <algorithm>
#include <span>

#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/runtime_words.h"
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

[[noreturn]] void reject_part(const Cell* part) {
  Cell refinement = runtime_words::part_refinement;
  fire(ErrorId::script_invalid_refine_arg, &refinement, part);
}

// The number of characters to change from index, given available characters
// up to the tail.
uint32_t part_count(const Cell* value, const Cell* part, uint32_t available) {
  if (part == nullptr) return available;
  int64_t requested;
  if (part->is(TYPE_INTEGER)) {
    requested = integer::get(*part);
  } else if (part->type() == value->type() && part->data2 == value->data2) {
    requested = int64_t{part->data1} - int64_t{value->data1};
  } else {
    reject_part(part);
  }
  return static_cast<uint32_t>(std::clamp<int64_t>(requested, 0, available));
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

Cell* change_case(Cell* value, const Cell* part, bool upper) {
  if (value->is(TYPE_CHAR)) {
    value->data2 = change_char(value->data2, upper);
    return value;
  }

  SeriesBuffer* buffer = string::buffer_of(value);
  uint32_t unit = buffer->unit();
  // Checked before the unit divides anything.
  if (unit != 1 && unit != 2 && unit != 4) unicode::bad_unit();
  uint32_t length = buffer->used() / unit;
  if (value->data1 > length) value->data1 = length;
  uint32_t index = value->data1;
  uint32_t end = index + part_count(value, part, length - index);

  // A widening moves the content and changes the unit, so the byte position
  // is recomputed from the character position on every step.
  for (uint32_t position = index; position < end; ++position) {
    unit = buffer->unit();
    uint32_t byte_position = buffer->offset + position * unit;
    uint32_t code_point = unicode::get_char(buffer->data() + byte_position, unit);
    uint32_t mapped = change_char(code_point, upper);
    if (mapped != code_point) buffer = string::poke_char(buffer, byte_position, mapped);
  }
  // The owner hears of the change once it is made (uppercase and lowercase
  // have no past form).
  if (ownership::series_owned(*value)) {
    ownership::check(*value, upper ? runtime_words::uppercase : runtime_words::lowercase, nullptr,
                     static_cast<int32_t>(index), static_cast<int32_t>(end - index));
  }
  return value;
}

}  // namespace kel::case_folding
