// Hash tables: sizing, value hashing, hash! duplicate lists, find's short
// road and re-indexing after block edits, map! keys and their kept hashes, the symbol table and context word tables,
// node-keyed tables, the collector entry points and the pointer map.
//
// Tables are built over blocks made here cell by cell. Lookups are checked
// against a linear scan of the same block wherever an edit could leave a
// stale index behind.
#include "runtime/hash_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "datatypes/integer.h"
#include "datatypes/symbol.h"
#include "runtime/actions.h"
#include "runtime/array.h"
#include "runtime/string_units.h"
#include "runtime/series_tail.h"
#include "test_support.h"

namespace kel {
namespace {

namespace ht = hash_table;

using HashTableTest = testing::RuntimeTest;

// --- Builders ------------------------------------------------------------------------

NodeId make_block(const std::vector<Cell>& cells) {
  NodeId node = memory::alloc_cells(static_cast<uint32_t>(cells.size()) + 1);
  SeriesBuffer* b = memory::buffer_of(node);
  std::copy(cells.begin(), cells.end(), b->cells());
  b->tail = b->offset + static_cast<uint32_t>(cells.size() * sizeof(Cell));
  return node;
}

std::vector<Cell> integers(std::initializer_list<int32_t> values) {
  std::vector<Cell> cells;
  for (int32_t v : values) cells.push_back(integer::make(v));
  return cells;
}

// A string of the given unit holding the code points.
Cell make_text(std::u32string_view text, uint32_t unit, TypeId type = TYPE_STRING) {
  NodeId node = memory::alloc_codepoints(static_cast<uint32_t>(text.size()) + 1, unit);
  SeriesBuffer* b = memory::buffer_of(node);
  for (size_t i = 0; i < text.size(); ++i) unicode::put_char(b->head_ptr() + i * unit, unit, text[i]);
  b->tail = b->offset + static_cast<uint32_t>(text.size() * unit);
  return make_cell(type, 0, node, 0);
}

Cell word(TypeId type, std::string_view name) { return make_cell(type, 0, symbol::make(name), 0xFFFFFFFF); }

Cell* cell_at(NodeId block, uint32_t i) { return memory::buffer_of(block)->cells() + i; }
uint32_t length_of(NodeId block) { return memory::buffer_of(block)->cell_count(); }

NodeId hash_over(NodeId block) {
  Cell cell = make_cell(TYPE_BLOCK, 0, block, 0);
  return ht::init(std::max<uint32_t>(length_of(block), 1), &cell, ht::kHash, 0);
}

// Index of a found cell, -1 for none.
int32_t index_of(NodeId table, Cell* found) {
  if (found == nullptr) return -1;
  return static_cast<int32_t>(found - memory::buffer_of(ht::block(table))->cells());
}

int32_t find_index(NodeId table, Cell value, int32_t from = 0, int32_t skip = 1, bool last = false,
                   bool reverse = false, int32_t op = kCmpEqual) {
  return index_of(table, ht::find(table, &value, from, skip, op, last, reverse));
}

// The answer of find by walking the block.
int32_t linear_find(NodeId block, int32_t value, int32_t from, int32_t skip, bool last, bool reverse) {
  int32_t best = -1;
  auto n = static_cast<int32_t>(length_of(block));
  for (int32_t l = 0; l < n; ++l) {
    const Cell& c = *cell_at(block, static_cast<uint32_t>(l));
    if (!c.is(TYPE_INTEGER) || c.int_at2() != value) continue;
    if (reverse) {
      if (l < from && (from - l - 1) % skip == 0) best = l;
    } else if (l >= from && (l - from) % skip == 0) {
      if (last || best < 0) best = l;
    }
  }
  return best;
}

// Every key of a hash! of integers against the linear scan, forward, last
// and backward from a few places.
void expect_hash_matches_block(NodeId table, int32_t key_range) {
  NodeId block = ht::block(table);
  auto n = static_cast<int32_t>(length_of(block));
  for (int32_t key = -1; key <= key_range; ++key) {
    for (int32_t from : {0, n / 3, n - 1}) {
      ASSERT_EQ(find_index(table, integer::make(key), from), linear_find(block, key, from, 1, false, false))
          << "key " << key << " from " << from;
      ASSERT_EQ(find_index(table, integer::make(key), from, 1, true),
                linear_find(block, key, from, 1, true, false))
          << "last: key " << key << " from " << from;
      ASSERT_EQ(find_index(table, integer::make(key), from, 1, false, true),
                linear_find(block, key, from, 1, false, true))
          << "reverse: key " << key << " from " << from;
    }
  }
}

// Inserts cells into a hash!'s block at an index and re-indexes the way the
// block actions do: refresh, then put each new cell (or rebuild when asked).
void insert_cells(NodeId table, uint32_t at, const std::vector<Cell>& cells) {
  NodeId block = ht::block(table);
  SeriesBuffer* b = memory::buffer_of(block);
  uint32_t old_length = b->cell_count();
  auto n = static_cast<uint32_t>(cells.size());
  if (b->tail + n * sizeof(Cell) > b->size) b = memory::expand_series(b, b->tail + n * sizeof(Cell) + 64);
  Cell* head = b->cells();
  std::memmove(head + at + n, head + at, (old_length - at) * sizeof(Cell));
  std::copy(cells.begin(), cells.end(), head + at);
  b->tail += n * sizeof(Cell);
  if (ht::refresh(table, static_cast<int32_t>(n), at, old_length - at, true)) {
    ht::rebuild(table, length_of(block));
    return;
  }
  for (uint32_t i = 0; i < n; ++i) {
    bool rebuilt = false;
    ht::put_key(table, cell_at(block, at + i), &rebuilt);
    if (rebuilt) return;
  }
}

void remove_cells(NodeId table, uint32_t at, uint32_t n) {
  NodeId block = ht::block(table);
  SeriesBuffer* b = memory::buffer_of(block);
  uint32_t old_length = b->cell_count();
  bool too_many = ht::refresh(table, -static_cast<int32_t>(n), at, old_length - at - n, true);
  Cell* head = b->cells();
  std::memmove(head + at, head + at + n, (old_length - at - n) * sizeof(Cell));
  b->tail -= n * sizeof(Cell);
  if (too_many) ht::rebuild(table, length_of(block));
}

// --- Sizing ------------------------------------------------------------------------

TEST_F(HashTableTest, BucketCountAndBoundFollowTheLoadFactor) {
  struct Case {
    uint32_t size;
    int32_t kind;
    int32_t buckets, upper;
  } cases[] = {
      {0, ht::kHash, 8, 6},    {3, ht::kMap, 8, 6},        {4, ht::kHash, 8, 6},
      {5, ht::kHash, 8, 6},    {10, ht::kHash, 16, 12},    {100, ht::kMap, 256, 197},
      {1, ht::kPointers, 8, 6}, {4000, ht::kSymbols, 16384, 12615},  // symbol tables: twice the size
  };
  for (const Case& c : cases) {
    NodeId table = ht::init(c.size, nullptr, c.kind, 2);
    EXPECT_EQ(ht::buckets(table), c.buckets) << c.size;
    EXPECT_EQ(ht::upper(table), c.upper) << c.size;
    EXPECT_EQ(ht::size(table), 0);
    EXPECT_EQ(ht::record_of(table)->stamp, 0);
  }
}

// --- Hashing ----------------------------------------------------------------------

TEST_F(HashTableTest, MurmurDependsOnTheTailBytesAndTheLength) {
  const char text[] = "abcd";
  EXPECT_NE(ht::murmur3(text, 3), ht::murmur3(text, 4));
  EXPECT_NE(ht::murmur3(text, 0), ht::murmur3("\0", 1));
  // hash_pointer is the bare final mix: 0 stays 0, other values scatter.
  EXPECT_EQ(ht::hash_pointer(0), 0u);
  EXPECT_NE(ht::hash_pointer(1), ht::hash_pointer(2));
}

// A symbol name hashes as murmur3 of its bytes with the ASCII capitals
// lowered and nothing else touched (UTF-8 bytes, punctuation next to the
// letters), whatever the name's length modulo four: the hash lowers four
// bytes at a time as it reads them.
TEST_F(HashTableTest, SymbolNameHashLowersOnlyTheAsciiCapitals) {
  const std::string names[] = {"",        "A",          "Zz",         "@AZ[",       "`az{",
                               "PRINT",   "Mixed-Case", "\xC3\x89T\xC3\xA9", "\xC0\xDA\xE1\xFA", "ABCDEFGHIJKLMNOPQRSTUVWXYZ"};
  for (const std::string& name : names) {
    std::string lowered = name;
    for (char& c : lowered)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    EXPECT_EQ(ht::hash_symbol_name(name.data(), static_cast<uint32_t>(name.size())),
              ht::murmur3(lowered.data(), lowered.size()))
        << name;
  }
}

TEST_F(HashTableTest, StringHashIgnoresUnitWidthAndCaseUnlessCaseSensitive) {
  std::u32string texts[] = {U"ABC", U"abc", U"Abc", U"\u00E9t\u00C9"};
  for (const std::u32string& text : texts) {
    uint32_t narrow = ht::hash_value(make_text(text, 1));
    EXPECT_EQ(ht::hash_value(make_text(text, 2)), narrow);
    EXPECT_EQ(ht::hash_value(make_text(text, 4)), narrow);
    EXPECT_EQ(ht::hash_string(make_text(text, 4), true), ht::hash_string(make_text(text, 1), true));
  }
  EXPECT_EQ(ht::hash_value(make_text(U"ABC", 1)), ht::hash_value(make_text(U"abc", 2)));
  EXPECT_NE(ht::hash_string(make_text(U"ABC", 1), true), ht::hash_string(make_text(U"abc", 1), true));
  // The hash is MurmurHash3 of the upper-cased text as UCS-4.
  uint32_t ucs4[] = {'A', 'B', 'C'};
  EXPECT_EQ(ht::hash_value(make_text(U"abc", 1)), ht::murmur3(ucs4, sizeof ucs4));
  // Every string-like type hashes its text.
  EXPECT_EQ(ht::hash_value(make_text(U"abc", 1, TYPE_FILE)), ht::hash_value(make_text(U"abc", 1)));
}

TEST_F(HashTableTest, StringHashStartsAtTheIndexAndSurvivesAnIndexPastTheTail) {
  Cell whole = make_text(U"xabc", 1);
  Cell tail = whole;
  tail.data1 = 1;
  EXPECT_EQ(ht::hash_value(tail), ht::hash_value(make_text(U"abc", 2)));
  Cell past = whole;
  past.data1 = 40;  // the owner cut the string below the index
  EXPECT_EQ(ht::hash_value(past), ht::hash_value(make_text(U"", 1)));
}

TEST_F(HashTableTest, ValueHashesFollowTheType) {
  Cell negative_zero = make_cell(TYPE_FLOAT);
  negative_zero.set_double(-0.0);
  Cell zero = make_cell(TYPE_FLOAT);
  zero.set_double(0.0);
  EXPECT_EQ(ht::hash_value(negative_zero), ht::hash_value(zero)) << "-0.0 equals 0.0";
  Cell one = make_cell(TYPE_FLOAT);
  one.set_double(1.0);
  EXPECT_NE(ht::hash_value(one), ht::hash_value(zero));

  EXPECT_EQ(ht::hash_value(make_cell(TYPE_UNSET)), static_cast<uint32_t>(-2));
  EXPECT_EQ(ht::hash_value(make_cell(TYPE_NONE)), static_cast<uint32_t>(-1));
  EXPECT_EQ(ht::hash_value(integer::make(7)), ht::hash_pointer(7));
  EXPECT_EQ(ht::hash_value(make_cell(TYPE_LOGIC, 1)), ht::hash_pointer(1));

  // A tuple hashes only its bytes, as many as its header says.
  Cell tuple = make_cell(TYPE_TUPLE | (3u << 19), 0x030201);
  Cell longer = make_cell(TYPE_TUPLE | (4u << 19), 0x030201);
  EXPECT_NE(ht::hash_value(tuple), ht::hash_value(longer));
  Cell garbage = tuple;
  garbage.data2 = 99;
  EXPECT_EQ(ht::hash_value(tuple), ht::hash_value(garbage));

  // money!: a zero amount hashes alike whatever its sign bit; flags other
  // than the sign do not count.
  Cell money = make_cell(TYPE_MONEY, 0, 0, 0);
  Cell negative_money = make_cell(TYPE_MONEY | 0x4000, 0, 0, 0);
  EXPECT_EQ(ht::hash_value(money), ht::hash_value(negative_money));
  Cell amount = make_cell(TYPE_MONEY, 0x100, 0, 0);
  Cell negative_amount = make_cell(TYPE_MONEY | 0x4000, 0x100, 0, 0);
  Cell flagged_amount = make_cell(TYPE_MONEY | flags::kNewLine, 0x100, 0, 0);
  EXPECT_NE(ht::hash_value(amount), ht::hash_value(negative_amount));
  EXPECT_EQ(ht::hash_value(amount), ht::hash_value(flagged_amount));
}

TEST_F(HashTableTest, WordKindsHashByTheirCanonicalSymbol) {
  Cell lower = word(TYPE_WORD, "hash-word");
  Cell upper = word(TYPE_SET_WORD, "HASH-WORD");
  Cell issue = word(TYPE_ISSUE, "hash-word");
  EXPECT_NE(lower.data2, upper.data2);
  EXPECT_EQ(ht::hash_value(lower), ht::hash_value(upper));
  EXPECT_EQ(ht::hash_value(lower), ht::hash_value(issue));
}

// --- hash! ------------------------------------------------------------------------

TEST_F(HashTableTest, HashFindsFirstLastAndSkippedDuplicates) {
  // 7 sits at 0, 3 and 6: one duplicate list.
  NodeId block = make_block(integers({7, 1, 2, 7, 3, 4, 7, 5}));
  NodeId table = hash_over(block);
  EXPECT_EQ(ht::size(table), 6) << "distinct keys";
  struct Case {
    int32_t from, skip;
    bool last, reverse;
    int32_t expected;
  } cases[] = {
      {0, 1, false, false, 0}, {1, 1, false, false, 3}, {0, 1, true, false, 6}, {4, 1, false, false, 6},
      {0, 3, false, false, 0}, {1, 3, false, false, -1}, {0, 3, true, false, 6}, {3, 3, false, false, 3},
      {0, 2, true, false, 6},  {7, 1, false, true, 6},  {6, 1, false, true, 3}, {8, 4, false, true, 3},
      {1, 1, false, true, 0},  {0, 1, false, true, -1}, {7, 1, false, false, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(find_index(table, integer::make(7), c.from, c.skip, c.last, c.reverse), c.expected)
        << "from " << c.from << " skip " << c.skip << (c.last ? " last" : "") << (c.reverse ? " reverse" : "");
  }
  EXPECT_EQ(find_index(table, integer::make(5)), 7);
  EXPECT_EQ(find_index(table, integer::make(99)), -1);
}

TEST_F(HashTableTest, FindFromAnswersAsTheGeneralFindForEveryValueAndStart) {
  // Integers alone, met twice, next to a char and a float of their value,
  // and texts differing in case: the short road for integers must hand the
  // others to the general walk.
  std::vector<Cell> cells = integers({5, 7, 65, 7, 9});
  cells.push_back(make_cell(TYPE_CHAR, 0, 65));
  cells.push_back(make_text(U"Ab", 1));
  cells.push_back(make_text(U"aB", 2));
  cells.push_back(integer::make(9));
  NodeId table = hash_over(make_block(cells));
  std::vector<Cell> wanted = integers({5, 7, 9, 65, 66, -1});
  wanted.push_back(make_cell(TYPE_CHAR, 0, 65));
  wanted.push_back(make_text(U"ab", 1));
  wanted.push_back(make_text(U"AB", 4));
  for (const Cell& value : wanted) {
    for (int32_t from = 0; from <= static_cast<int32_t>(cells.size()); ++from) {
      int32_t general = find_index(table, value, from, 1, false, false, kCmpFind);
      EXPECT_EQ(index_of(table, ht::find_from(table, &value, from)), general)
          << "value of type " << value.type() << " from " << from;
    }
  }
}

TEST_F(HashTableTest, HashGrowsThroughManyInsertsAndResizes) {
  std::vector<Cell> cells;
  for (int32_t i = 0; i < 20; ++i) cells.push_back(integer::make(i % 7));
  NodeId table = hash_over(make_block(cells));
  int32_t first_buckets = ht::buckets(table);
  std::vector<Cell> more;
  for (int32_t i = 0; i < 3000; ++i) more.push_back(integer::make((i * 7919) % 1000));
  insert_cells(table, length_of(ht::block(table)), more);
  // Appending one by one through put exercises every resize on the way.
  for (int32_t i = 0; i < 500; ++i) insert_cells(table, length_of(ht::block(table)), {integer::make(1000 + i)});
  EXPECT_GT(ht::buckets(table), first_buckets);
  EXPECT_LT(ht::occupied(table), ht::buckets(table));
  EXPECT_EQ(ht::size(table), 1500);
  expect_hash_matches_block(table, 1500);
}

TEST_F(HashTableTest, HashRemoveAndReinsert) {
  NodeId block = make_block(integers({1, 2, 1, 3, 1}));
  NodeId table = hash_over(block);
  ht::remove(table, cell_at(block, 0));
  EXPECT_EQ(find_index(table, integer::make(1)), 2) << "the list keeps the others";
  ht::remove(table, cell_at(block, 2));
  ht::remove(table, cell_at(block, 4));
  EXPECT_EQ(find_index(table, integer::make(1)), -1);
  EXPECT_EQ(ht::size(table), 2);
  ht::remove(table, cell_at(block, 4));  // a second removal changes nothing
  EXPECT_EQ(ht::size(table), 2);
  ht::put(table, cell_at(block, 4));
  EXPECT_EQ(find_index(table, integer::make(1)), 4);
  EXPECT_EQ(ht::size(table), 3);
  // Many removals and insertions of new keys reuse deleted buckets until a
  // resize purges them.
  for (int32_t round = 0; round < 200; ++round) {
    *cell_at(block, 1) = integer::make(100 + round);
    ht::put(table, cell_at(block, 1));  // an overwritten cell is put again
    EXPECT_EQ(find_index(table, integer::make(100 + round)), 1);
    if (round > 0) {
      EXPECT_EQ(find_index(table, integer::make(99 + round)), -1);
    }
  }
  EXPECT_EQ(ht::size(table), 3);
  EXPECT_LT(ht::occupied(table), ht::buckets(table));
}

TEST_F(HashTableTest, HashReindexesAfterEditsInTheMiddleOfTheBlock) {
  std::vector<Cell> cells;
  for (int32_t i = 0; i < 60; ++i) cells.push_back(integer::make(i % 9));
  NodeId table = hash_over(make_block(cells));
  insert_cells(table, 10, integers({4, 100, 4, 101}));
  expect_hash_matches_block(table, 110);
  remove_cells(table, 5, 7);
  expect_hash_matches_block(table, 110);
  insert_cells(table, 0, integers({8, 8, 8}));
  expect_hash_matches_block(table, 110);
  remove_cells(table, 0, 2);
  expect_hash_matches_block(table, 110);
  remove_cells(table, length_of(ht::block(table)) - 5, 5);  // at the tail
  expect_hash_matches_block(table, 110);
  // Many new cells at once: a rebuild may happen in the middle of the puts.
  std::vector<Cell> many;
  for (int32_t i = 0; i < 200; ++i) many.push_back(integer::make(i % 50));
  insert_cells(table, 20, many);
  expect_hash_matches_block(table, 110);
}

TEST_F(HashTableTest, RefreshAsksForARebuildAboveItsLimit) {
  NodeId table = hash_over(make_block(integers({1, 2, 3})));
  EXPECT_TRUE(ht::refresh(table, 1, 0, ht::kRefreshLimit + 1, true));
  EXPECT_EQ(find_index(table, integer::make(3)), 2) << "nothing changed";
  EXPECT_FALSE(ht::refresh(table, 0, 0, 3, true));
}

TEST_F(HashTableTest, HashMoveInsideTheBlock) {
  struct Case {
    uint32_t to, from, count;
  } cases[] = {{0, 5, 3}, {6, 1, 3}, {2, 3, 1}, {7, 0, 2}, {0, 8, 2}};
  for (const Case& c : cases) {
    std::vector<Cell> cells = integers({0, 1, 2, 1, 4, 5, 2, 7, 1, 9});
    NodeId table = hash_over(make_block(cells));
    NodeId block = ht::block(table);
    // Move the cells in the block the way a block action would.
    std::vector<Cell> moved(cells.begin() + c.from, cells.begin() + c.from + c.count);
    cells.erase(cells.begin() + c.from, cells.begin() + c.from + c.count);
    cells.insert(cells.begin() + c.to, moved.begin(), moved.end());
    std::copy(cells.begin(), cells.end(), memory::buffer_of(block)->cells());
    EXPECT_FALSE(ht::move(table, c.to, c.from, c.count));
    SCOPED_TRACE("move " + std::to_string(c.count) + " from " + std::to_string(c.from) + " to " +
                 std::to_string(c.to));
    expect_hash_matches_block(table, 10);
    // The cell-to-bucket array followed: each cell still leaves the table.
    for (uint32_t i = 0; i < length_of(block); ++i) ht::remove(table, cell_at(block, i));
    EXPECT_EQ(ht::size(table), 0);
  }
}

TEST_F(HashTableTest, HashCaseSensitiveFindComparesEachDuplicate) {
  // "abc" and "ABC" are equal keys of one duplicate list; a strict lookup
  // must still tell them apart.
  NodeId block = make_block({make_text(U"ABC", 1), make_text(U"x", 1), make_text(U"abc", 2)});
  NodeId table = hash_over(block);
  EXPECT_EQ(ht::size(table), 2);
  EXPECT_EQ(find_index(table, make_text(U"abc", 1)), 0);
  EXPECT_EQ(find_index(table, make_text(U"abc", 1), 0, 1, false, false, kCmpStrictEqual), 2);
  EXPECT_EQ(find_index(table, make_text(U"ABC", 4), 0, 1, true, false, kCmpStrictEqual), 0);
  EXPECT_EQ(find_index(table, make_text(U"Abc", 1), 0, 1, false, false, kCmpStrictEqual), -1);
}

TEST_F(HashTableTest, MutatedElementStillLeavesTheTable) {
  Cell text = make_text(U"key", 1);
  NodeId block = make_block({text, make_text(U"other", 1)});
  NodeId table = hash_over(block);
  // The owner changes the string after it was indexed.
  SeriesBuffer* b = memory::buffer_of(text.data2);
  b->head_ptr()[0] = 'K';
  b->tail = b->offset + 2;
  ht::remove(table, cell_at(block, 0));
  EXPECT_EQ(ht::size(table), 1);
  EXPECT_EQ(find_index(table, make_text(U"other", 1)), 1);
  ht::rebuild(table, 2);
  EXPECT_EQ(find_index(table, make_text(U"KE", 1)), 0) << "a rebuild hashes the current text";
}

TEST_F(HashTableTest, RemoveRangeAndClear) {
  NodeId block = make_block(integers({1, 2, 3, 2, 5}));
  NodeId table = hash_over(block);
  ht::remove_range(table, 1, 2);
  EXPECT_EQ(find_index(table, integer::make(2)), 3);
  EXPECT_EQ(find_index(table, integer::make(3)), -1);
  EXPECT_EQ(find_index(table, integer::make(1)), 0);
  ht::remove_range(table, 0, 5);  // every cell: the table is cleared
  EXPECT_EQ(ht::size(table), 0);
  EXPECT_EQ(ht::occupied(table), 0);
  EXPECT_EQ(find_index(table, integer::make(5)), -1);
  ht::put_all(table, 0, 1);
  EXPECT_EQ(find_index(table, integer::make(2)), 1);
  EXPECT_EQ(ht::size(table), 4);
}

TEST_F(HashTableTest, CopyIsIndependentOfTheOriginal) {
  NodeId block = make_block(integers({1, 2, 1, 4}));
  NodeId table = hash_over(block);
  NodeId block_copy = memory::copy_series(memory::buffer_of(block));
  NodeId table_copy = ht::copy(table, block_copy);
  ht::remove(table, cell_at(block, 0));
  ht::remove(table, cell_at(block, 2));
  EXPECT_EQ(find_index(table, integer::make(1)), -1);
  EXPECT_EQ(find_index(table_copy, integer::make(1), 1), 2);
  EXPECT_EQ(ht::block(table_copy), block_copy);
  ht::remove(table_copy, cell_at(block_copy, 2));
  EXPECT_EQ(find_index(table_copy, integer::make(1)), 0) << "the copy has its own duplicate list";
}

TEST_F(HashTableTest, DumpListsAliveThenDeletedKeys) {
  NodeId block = make_block(integers({1, 2}));
  NodeId table = hash_over(block);
  ht::remove(table, cell_at(block, 1));
  EXPECT_EQ(ht::dump(table), "== Alive keys ==\n1\n\n== Deleted keys ==\n2\n");
}

// --- map! ------------------------------------------------------------------------

NodeId map_over(const std::vector<Cell>& pairs) {
  Cell cell = make_cell(TYPE_BLOCK, 0, make_block(pairs), 0);
  return ht::init(static_cast<uint32_t>(pairs.size()), &cell, ht::kMap, 0);
}

TEST_F(HashTableTest, MapTreatsEveryWordKindAsTheSameKey) {
  NodeId table = map_over({word(TYPE_SET_WORD, "a"), integer::make(1), word(TYPE_SET_WORD, "b"), integer::make(2)});
  for (TypeId type : {TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD}) {
    Cell key = word(type, "a");
    Cell* found = ht::find(table, &key, 0, 1, kCmpEqual, false, false);
    ASSERT_NE(found, nullptr) << datatype_name(type);
    EXPECT_EQ(index_of(table, found), 0);
    EXPECT_EQ(key.type(), type) << "the caller's cell keeps its type";
  }
  // Building from a block whose keys repeat as other word kinds keeps one
  // entry, with the last value.
  NodeId repeated = map_over({word(TYPE_SET_WORD, "a"), integer::make(1), word(TYPE_WORD, "a"), integer::make(2),
                              word(TYPE_LIT_WORD, "a"), integer::make(3), word(TYPE_GET_WORD, "a"), integer::make(4)});
  EXPECT_EQ(ht::size(repeated), 1);
  EXPECT_EQ(length_of(ht::block(repeated)), 2u) << "duplicate pairs are cut out";
  EXPECT_EQ(cell_at(ht::block(repeated), 1)->int_at2(), 4);
}

TEST_F(HashTableTest, MapKeysAreCaseSensitiveOnInsertAndLooseOnLookup) {
  NodeId table = map_over({make_text(U"B", 1), integer::make(2), make_text(U"b", 1), integer::make(3)});
  EXPECT_EQ(ht::size(table), 2) << "\"B\" and \"b\" are two keys";
  Cell lower = make_text(U"b", 2);
  EXPECT_EQ(index_of(table, ht::find(table, &lower, 0, 1, kCmpStrictEqual, false, false)), 2);
  // Enumerating every key equal to "b" under the loose comparison.
  ht::Probe probe;
  std::set<int32_t> found;
  while (Cell* key = ht::probe_key(table, &lower, &probe, kCmpEqual)) found.insert(index_of(table, key));
  EXPECT_EQ(found, (std::set<int32_t>{0, 2}));
  EXPECT_EQ(ht::probe_key(table, &lower, &probe, kCmpEqual), nullptr) << "an ended probe stays ended";
}

TEST_F(HashTableTest, MapRemovalMarksTheValueAndPutRevivesIt) {
  NodeId table = map_over({integer::make(1), integer::make(10), integer::make(2), integer::make(20)});
  NodeId block = ht::block(table);
  ht::remove(table, cell_at(block, 0));
  EXPECT_EQ(cell_at(block, 1)->header, 0u);
  EXPECT_EQ(ht::size(table), 1);
  ht::remove(table, cell_at(block, 0));
  EXPECT_EQ(ht::size(table), 1) << "removing a removed entry counts once";
  Cell key = integer::make(1);
  EXPECT_EQ(index_of(table, ht::find(table, &key, 0, 1, kCmpEqual, false, false)), 0)
      << "the key stays findable: the map! datatype skips removed entries";
  // Putting the key again (a new pair at the tail) answers the old key cell
  // and counts the entry as live again.
  SeriesBuffer* b = memory::buffer_of(block);
  *alloc_tail(&b) = integer::make(1);
  *alloc_tail(&b) = integer::make(11);
  Cell* holder = ht::put(table, cell_at(block, 4));
  EXPECT_EQ(index_of(table, holder), 0);
  EXPECT_EQ(ht::size(table), 2);
}

TEST_F(HashTableTest, MapGrowsAndKeepsEveryKey) {
  std::vector<Cell> pairs;
  for (int32_t i = 0; i < 2000; ++i) {
    pairs.push_back(integer::make(i * 31));
    pairs.push_back(integer::make(i));
  }
  Cell cell = make_cell(TYPE_BLOCK, 0, make_block(pairs), 0);
  NodeId table = ht::init(4, &cell, ht::kMap, 0);  // made small: grows while filled
  EXPECT_EQ(ht::size(table), 2000);
  for (int32_t i = 0; i < 2000; ++i) {
    Cell key = integer::make(i * 31);
    Cell* found = ht::find(table, &key, 0, 1, kCmpEqual, false, false);
    ASSERT_NE(found, nullptr) << i;
    EXPECT_EQ(found[1].int_at2(), i);
  }
}

TEST_F(HashTableTest, MapKeyMutatedByItsOwnerBreaksNothingElse) {
  std::vector<Cell> pairs;
  std::vector<Cell> keys;
  for (int32_t i = 0; i < 40; ++i) {
    std::u32string text = U"key";
    for (char c : std::to_string(i)) text += static_cast<char32_t>(c);
    keys.push_back(make_text(text, 1));
    pairs.push_back(keys.back());
    pairs.push_back(integer::make(i));
  }
  NodeId table = map_over(pairs);
  // Key 7's series is emptied, and key 8's index is moved past its tail.
  memory::buffer_of(keys[7].data2)->tail = memory::buffer_of(keys[7].data2)->offset;
  cell_at(ht::block(table), 16)->data1 = 50;
  // Growth rehashes the mutated keys without harm.
  SeriesBuffer* b = memory::buffer_of(ht::block(table));
  for (int32_t i = 0; i < 100; ++i) {
    *alloc_tail(&b) = integer::make(i);
    *alloc_tail(&b) = integer::make(i);
    ht::put(table, b->cells_tail() - 2);
    b = memory::buffer_of(ht::block(table));
  }
  for (int32_t i = 0; i < 40; ++i) {
    if (i == 7 || i == 8) continue;
    Cell* found = ht::find(table, &keys[static_cast<size_t>(i)], 0, 1, kCmpEqual, false, false);
    ASSERT_NE(found, nullptr) << i;
    EXPECT_EQ(found[1].int_at2(), i);
  }
  ht::remove(table, cell_at(ht::block(table), 14));
  EXPECT_EQ(ht::size(table), 139);
}

TEST_F(HashTableTest, MapKeysKeepTheirHashesThroughGrowthAndCopies) {
  // Text keys differing in case hash alike; the copy grows on its own.
  std::vector<Cell> pairs;
  for (int32_t i = 0; i < 30; ++i) {
    std::u32string text = U"Key";
    for (char c : std::to_string(i)) text += static_cast<char32_t>(c);
    pairs.push_back(make_text(text, i % 2 == 0 ? 1 : 2));
    pairs.push_back(integer::make(i));
  }
  NodeId table = map_over(pairs);
  NodeId block_copy = memory::copy_series(memory::buffer_of(ht::block(table)));
  NodeId copy = ht::copy(table, block_copy);
  EXPECT_NE(ht::record_of(copy)->slots, ht::record_of(table)->slots) << "the copy has slots and hashes of its own";
  SeriesBuffer* b = memory::buffer_of(block_copy);
  for (int32_t i = 0; i < 200; ++i) {
    *alloc_tail(&b) = integer::make(1000 + i);
    *alloc_tail(&b) = integer::make(i);
    ht::put(copy, b->cells_tail() - 2);
    b = memory::buffer_of(block_copy);
  }
  EXPECT_GT(ht::buckets(copy), ht::buckets(table));
  for (int32_t i = 0; i < 30; ++i) {
    std::u32string text = U"kEY";
    for (char c : std::to_string(i)) text += static_cast<char32_t>(c);
    Cell key = make_text(text, 4);
    for (NodeId t : {table, copy}) {
      Cell* found = ht::find(t, &key, 0, 1, kCmpEqual, false, false);
      ASSERT_NE(found, nullptr) << i;
      EXPECT_EQ(found[1].int_at2(), i);
      EXPECT_EQ(ht::find(t, &key, 0, 1, kCmpStrictEqual, false, false), nullptr) << "case differs";
    }
  }
}

TEST_F(HashTableTest, MapClearEmptiesTableAndPairs) {
  NodeId table = map_over({integer::make(1), integer::make(10)});
  ht::clear(table);
  EXPECT_EQ(ht::size(table), 0);
  EXPECT_EQ(length_of(ht::block(table)), 0u);
  Cell key = integer::make(1);
  EXPECT_EQ(ht::find(table, &key, 0, 1, kCmpEqual, false, false), nullptr);
}

// --- Symbols and words ------------------------------------------------------------------

int32_t intern(NodeId table, std::string_view name, bool no_alias = false) {
  return ht::get_symbol(table, name.data(), static_cast<uint32_t>(name.size()), no_alias);
}

Cell* symbol_record(NodeId table, int32_t id) { return cell_at(ht::block(table), static_cast<uint32_t>(id - 1)); }

TEST_F(HashTableTest, SymbolCaseVariantsAreAliasesOfTheFirstSpelling) {
  NodeId table = ht::init(16, nullptr, ht::kSymbols, 0);
  int32_t print = intern(table, "print");
  EXPECT_EQ(print, 1);
  EXPECT_EQ(intern(table, "print"), print);
  int32_t capital = intern(table, "Print");
  EXPECT_NE(capital, print);
  EXPECT_EQ(static_cast<int32_t>(symbol_record(table, capital)->data1), print);
  int32_t shout = intern(table, "PRINT");
  EXPECT_EQ(static_cast<int32_t>(symbol_record(table, shout)->data1), print) << "alias of the canonical id";
  EXPECT_EQ(intern(table, "PRINT"), shout);
  EXPECT_EQ(intern(table, "pRiNt", true), print) << "no-alias answers the existing symbol";
  EXPECT_EQ(ht::size(table), 3);
  // Only A-Z fold: É and é are two canonical names.
  int32_t upper_e = intern(table, "\xC3\x89t\xC3\xA9");
  int32_t lower_e = intern(table, "\xC3\xA9t\xC3\xA9");
  EXPECT_NE(upper_e, lower_e);
  EXPECT_EQ(static_cast<int32_t>(symbol_record(table, lower_e)->data1), symbol::kCanonical);
}

TEST_F(HashTableTest, SymbolRecordsHoldTheNameWithANulPastTheTail) {
  NodeId table = ht::init(16, nullptr, ht::kSymbols, 0);
  for (std::string_view name : {std::string_view("word"), std::string_view("")}) {
    int32_t id = intern(table, name);
    const Cell& record = *symbol_record(table, id);
    EXPECT_TRUE(record.is(TYPE_SYMBOL));
    EXPECT_EQ(static_cast<int32_t>(record.data1), symbol::kCanonical);
    EXPECT_EQ(record.data2, 0u) << "no cached string yet";
    SeriesBuffer* name_buffer = memory::buffer_of(record.data3);
    EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(name_buffer->head_ptr()), name_buffer->used()), name);
    EXPECT_EQ(name_buffer->head_ptr()[name.size()], 0);
  }
  EXPECT_EQ(intern(table, ""), 2) << "the empty name is interned once";
}

TEST_F(HashTableTest, SymbolTableGrowsSixteenfoldAndKeepsAliases) {
  NodeId table = ht::init(4, nullptr, ht::kSymbols, 0);
  int32_t buckets = ht::buckets(table);
  std::vector<int32_t> ids;
  for (int32_t i = 0; i < 300; ++i) ids.push_back(intern(table, "name" + std::to_string(i)));
  EXPECT_EQ(ht::buckets(table), buckets * 16 * 16);
  for (int32_t i = 0; i < 300; ++i) {
    EXPECT_EQ(intern(table, "name" + std::to_string(i)), ids[static_cast<size_t>(i)]);
    int32_t variant = intern(table, "NAME" + std::to_string(i));
    EXPECT_EQ(static_cast<int32_t>(symbol_record(table, variant)->data1), ids[static_cast<size_t>(i)]);
  }
  EXPECT_EQ(ht::size(table), 600);
}

Cell context_of(NodeId table) { return make_cell(TYPE_CONTEXT, table, 0, 0); }

TEST_F(HashTableTest, WordTableFindsAndAddsWords) {
  NodeId table = ht::init(1, nullptr, ht::kSymbols, 0);
  NodeId context = memory::alloc_cells(2);
  uint32_t foo = symbol::make("table-foo");
  uint32_t capital_foo = symbol::make("Table-Foo");
  uint32_t bar = symbol::make("table-bar");
  int32_t index = -7;
  EXPECT_EQ(ht::get_word_index(table, foo, true, 0, &index), -1) << "absent, not added";
  EXPECT_EQ(index, -7);
  EXPECT_EQ(ht::get_word_index(table, foo, true, context, &index), -1);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(ht::get_word_index(table, bar, true, context, &index), -1);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(ht::get_word_index(table, foo, false, 0, nullptr), 0);
  EXPECT_EQ(ht::get_word_index(table, capital_foo, true, 0, nullptr), 0) << "case-insensitive: canonical ids";
  EXPECT_EQ(ht::get_word_index(table, capital_foo, false, 0, nullptr), -1) << "exact: ids differ";

  Cell ctx = context_of(table);
  const Cell& second = *ht::get_word(ctx, 1);
  EXPECT_TRUE(second.is(TYPE_WORD));
  EXPECT_EQ(second.data1, context);
  EXPECT_EQ(second.data2, bar);
  EXPECT_EQ(second.data3, 1u);
  EXPECT_EQ(ht::get_words(ctx)->cell_count(), 2u);
  EXPECT_EQ(ht::words_node(ctx), ht::block(table));
}

TEST_F(HashTableTest, WordTableGrowsAndCopies) {
  NodeId table = ht::init(1, nullptr, ht::kSymbols, 0);
  NodeId context = memory::alloc_cells(2);
  std::vector<uint32_t> symbols;
  for (int32_t i = 0; i < 200; ++i) {
    symbols.push_back(symbol::make("ctx-word-" + std::to_string(i)));
    int32_t index = -1;
    ht::get_word_index(table, symbols.back(), true, context, &index);
    EXPECT_EQ(index, i);
  }
  EXPECT_EQ(ht::buckets(table), 8 * 16 * 16);
  Cell ctx = context_of(table);
  NodeId copied = ht::init(0, &ctx, ht::kSymbols, 2);
  EXPECT_NE(ht::block(copied), ht::block(table));
  int32_t index = -1;
  ht::get_word_index(copied, symbol::make("ctx-only-in-copy"), true, context, &index);
  EXPECT_EQ(index, 200);
  EXPECT_EQ(ht::get_word_index(table, symbol::make("ctx-only-in-copy"), true, 0, nullptr), -1);
  for (int32_t i = 0; i < 200; ++i) {
    EXPECT_EQ(ht::get_word_index(table, symbols[static_cast<size_t>(i)], false, 0, nullptr), i);
    EXPECT_EQ(ht::get_word_index(copied, symbols[static_cast<size_t>(i)], false, 0, nullptr), i);
  }
}

TEST_F(HashTableTest, WordTableBuiltFromABlockSkipsRepeatedSymbols) {
  uint32_t a = symbol::make("block-a");
  uint32_t b = symbol::make("block-b");
  NodeId words = make_block({make_cell(TYPE_WORD, 0, a, 0), make_cell(TYPE_WORD, 0, b, 1), make_cell(TYPE_WORD, 0, a, 2)});
  Cell cell = make_cell(TYPE_BLOCK, 0, words, 0);
  NodeId table = ht::init(3, &cell, ht::kSymbols, 0);
  EXPECT_EQ(ht::size(table), 2);
  EXPECT_EQ(ht::get_word_index(table, b, false, 0, nullptr), 1);
}

// --- Node-keyed tables ------------------------------------------------------------------

TEST_F(HashTableTest, PointerTablePutGetRemove) {
  NodeId table = ht::init(4, nullptr, ht::kPointers, 2);
  EXPECT_EQ(ht::record_of(table)->indexes, 48) << "entry of three cells";
  std::vector<NodeId> keys;
  for (int32_t i = 0; i < 100; ++i) {
    keys.push_back(memory::alloc_bytes(1));
    Cell* payload = ht::put_ptr(table, keys.back());
    payload->data1 = static_cast<uint32_t>(i);
  }
  for (int32_t i = 0; i < 100; ++i) {
    Cell* payload = ht::get_ptr(table, keys[static_cast<size_t>(i)]);
    ASSERT_NE(payload, nullptr);
    EXPECT_EQ(payload->data1, static_cast<uint32_t>(i));
    EXPECT_EQ(payload[-1].header, 2u);
    EXPECT_EQ(payload[-1].data1, keys[static_cast<size_t>(i)]);
  }
  EXPECT_EQ(ht::put_ptr(table, keys[3])->data1, 3u) << "an existing entry is answered";
  EXPECT_EQ(ht::size(table), 100);
  Cell* removed = ht::remove_ptr(table, keys[3]);
  ASSERT_NE(removed, nullptr);
  EXPECT_EQ(removed[-1].header, 0u);
  EXPECT_EQ(ht::get_ptr(table, keys[3]), nullptr);
  EXPECT_EQ(ht::remove_ptr(table, keys[3]), nullptr);
  EXPECT_EQ(ht::size(table), 99);
}

TEST_F(HashTableTest, PointerTableKeepsItsBucketCountAfterManyRemovals) {
  NodeId table = ht::init(40, nullptr, ht::kPointers, 1);
  int32_t buckets = ht::buckets(table);
  // Churn: keep few keys live while occupied climbs to the bound.
  std::vector<NodeId> live;
  for (int32_t i = 0; i < 1000; ++i) {
    NodeId key = memory::alloc_bytes(1);
    ht::put_ptr(table, key)->data1 = key;
    live.push_back(key);
    if (live.size() > 5) {
      ht::remove_ptr(table, live.front());
      live.erase(live.begin());
    }
    ASSERT_EQ(ht::buckets(table), buckets) << "after " << i << " insertions";
    ASSERT_LT(ht::occupied(table), ht::buckets(table));
  }
  for (NodeId key : live) EXPECT_EQ(ht::get_ptr(table, key)->data1, key) << "payload copied by the rebuild";
}

// --- Collector entry points ---------------------------------------------------------------

std::vector<NodeId> marked_nodes;
std::vector<NodeId> marked_cells;
void record_mark(NodeId node) { marked_nodes.push_back(node); }
void record_cells(NodeId node) { marked_cells.push_back(node); }
std::set<NodeId> live_nodes;
bool is_live(NodeId node) { return live_nodes.count(node) != 0; }

bool was_marked(NodeId node) {
  return std::find(marked_nodes.begin(), marked_nodes.end(), node) != marked_nodes.end();
}

TEST_F(HashTableTest, MarkReachesEverySeriesOfAHash) {
  NodeId block = make_block(integers({1, 1, 2, 2, 2}));
  NodeId table = hash_over(block);
  marked_nodes.clear();
  ht::mark(table, record_mark);
  const ht::Record& r = *ht::record_of(table);
  for (int32_t field : {r.indexes, r.duplicates, r.flags, r.slots, r.block})
    EXPECT_TRUE(was_marked(static_cast<NodeId>(field))) << field;
  EXPECT_TRUE(was_marked(table));
  EXPECT_EQ(array::length(static_cast<NodeId>(r.duplicates)), 2u);
  for (uint32_t k = 1; k <= 2; ++k)
    EXPECT_TRUE(was_marked(static_cast<NodeId>(array::pick_int(static_cast<NodeId>(r.duplicates), k))));
}

TEST_F(HashTableTest, MarkReachesEverySeriesOfAMap) {
  NodeId table = map_over({make_text(U"a", 1), integer::make(1), integer::make(2), integer::make(3)});
  marked_nodes.clear();
  ht::mark(table, record_mark);
  const ht::Record& r = *ht::record_of(table);
  for (int32_t field : {r.flags, r.slots, r.block}) EXPECT_TRUE(was_marked(static_cast<NodeId>(field))) << field;
  EXPECT_TRUE(was_marked(table));
}

TEST_F(HashTableTest, MarkAndSweepPointerTableKeys) {
  NodeId table = ht::init(4, nullptr, ht::kPointersChecked, 2);
  NodeId kept = memory::alloc_cells(2);
  NodeId lost = memory::alloc_bytes(1);
  NodeId kept_with_lost_owner = memory::alloc_bytes(1);
  NodeId owner = memory::alloc_bytes(1);
  ht::put_ptr(table, kept);
  ht::put_ptr(table, lost);
  ht::put_ptr(table, kept_with_lost_owner)[1].data1 = owner;  // the entry's third cell
  marked_nodes.clear();
  marked_cells.clear();
  ht::mark(table, record_mark, record_cells);
  EXPECT_TRUE(was_marked(kept));
  EXPECT_TRUE(was_marked(lost));
  EXPECT_EQ(marked_cells, std::vector<NodeId>{kept}) << "only a key holding cells";

  live_nodes = {kept, kept_with_lost_owner};
  ht::sweep(table, is_live);
  EXPECT_NE(ht::get_ptr(table, kept), nullptr);
  EXPECT_EQ(ht::get_ptr(table, lost), nullptr);
  EXPECT_EQ(ht::get_ptr(table, kept_with_lost_owner), nullptr) << "its second node was not marked";
  EXPECT_EQ(ht::size(table), 1);
}

// --- Pointer map -------------------------------------------------------------------------

TEST(PointerMap, PutGetRemoveAndIterate) {
  pointer_map::Map* map = pointer_map::make(0);
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(map->buckets, 8u);
  for (uint32_t key = 1; key <= 1000; ++key) ASSERT_EQ(pointer_map::put(map, key * 16, key), 0);
  EXPECT_EQ(pointer_map::count(map), 1000u);
  EXPECT_EQ(pointer_map::put(map, 32, 77), 0) << "an existing key takes the new value";
  EXPECT_EQ(*pointer_map::get(map, 32), 77u);
  EXPECT_EQ(pointer_map::count(map), 1000u);
  for (uint32_t key = 1; key <= 1000; key += 2) pointer_map::remove(map, key * 16);
  EXPECT_EQ(pointer_map::get(map, 16), nullptr);
  EXPECT_EQ(pointer_map::count(map), 500u);
  std::set<uint32_t> seen;
  for (pointer_map::Entry* e = pointer_map::next(map, nullptr); e; e = pointer_map::next(map, e)) {
    EXPECT_EQ(e->key % 32, 0u);
    seen.insert(e->key);
  }
  EXPECT_EQ(seen.size(), 500u);
  pointer_map::clear(map);
  EXPECT_EQ(pointer_map::next(map, nullptr), nullptr);
  EXPECT_EQ(pointer_map::get(map, 32), nullptr);
  pointer_map::free(map);
}

TEST(PointerMap, ChurnKeepsTheBucketCount) {
  pointer_map::Map* map = pointer_map::make(16);
  uint32_t buckets = map->buckets;
  for (uint32_t key = 0; key < 5000; ++key) {
    ASSERT_EQ(pointer_map::put(map, key, key), 0);
    if (key >= 3) pointer_map::remove(map, key - 3);
  }
  EXPECT_EQ(map->buckets, buckets);
  EXPECT_EQ(pointer_map::count(map), 3u);
  EXPECT_EQ(*pointer_map::get(map, 4999), 4999u);
  pointer_map::free(map);
}

}  // namespace
}  // namespace kel
