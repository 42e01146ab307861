// The two general sorts: results against the standard library's sorts on
// many input shapes and sizes, stability of the merge sort, odd record
// widths, the comparisons saved on ordered input, the scratch-size error, and
// what is left in the array when the comparator throws or contradicts itself.
#include "runtime/sort.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"

namespace kel {
namespace {

// A record of width 8 (moved word-wise): the sort key and where the record
// started, so that order among equal keys is visible.
struct Item {
  int32_t key;
  uint32_t origin;
};
static_assert(sizeof(Item) == 8);

bool operator==(const Item& a, const Item& b) { return a.key == b.key && a.origin == b.origin; }

int32_t three_way(int32_t a, int32_t b) { return a < b ? -1 : (a > b ? 1 : 0); }

// Compares items by key; argument1, when given, counts the calls.
int32_t compare_items(const void* a, const void* b, void* calls, void*) {
  if (calls != nullptr) ++*static_cast<uint64_t*>(calls);
  return three_way(static_cast<const Item*>(a)->key, static_cast<const Item*>(b)->key);
}

using SortFunction = void (*)(void*, uint32_t, uint32_t, void*, void*, sort::Comparator);

struct NamedSort {
  const char* name;
  SortFunction run;
};
const NamedSort kBothSorts[] = {{"merge_sort", sort::merge_sort}, {"quick_sort", sort::quick_sort}};

enum class Shape {
  random,
  sorted,
  reversed,
  all_equal,
  organ_pipe,
  few_distinct,
  descending_with_ties,
  sorted_with_few_swaps,
  sorted_with_random_tail,
  reversed_with_few_swaps,
  sawtooth,
};

struct NamedShape {
  const char* name;
  Shape shape;
};
const NamedShape kShapes[] = {
    {"random", Shape::random},
    {"sorted", Shape::sorted},
    {"reversed", Shape::reversed},
    {"all equal", Shape::all_equal},
    {"organ pipe", Shape::organ_pipe},
    {"few distinct", Shape::few_distinct},
    {"descending with ties", Shape::descending_with_ties},
    {"sorted with few swaps", Shape::sorted_with_few_swaps},
    {"sorted with random tail", Shape::sorted_with_random_tail},
    {"reversed with few swaps", Shape::reversed_with_few_swaps},
    {"sawtooth", Shape::sawtooth},
};

const uint32_t kSizes[] = {0, 1, 2, 7, 8, 23, 24, 25, 100, 1000, 100000};

std::vector<int32_t> make_keys(Shape shape, uint32_t count, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<int32_t> keys(count);
  auto n = static_cast<int32_t>(count);
  for (int32_t i = 0; i < n; ++i) {
    switch (shape) {
      case Shape::random: keys[i] = static_cast<int32_t>(random() % (2 * count + 1)); break;
      case Shape::sorted:
      case Shape::sorted_with_few_swaps:
      case Shape::sorted_with_random_tail: keys[i] = i; break;
      case Shape::reversed:
      case Shape::reversed_with_few_swaps: keys[i] = n - i; break;
      case Shape::all_equal: keys[i] = 7; break;
      case Shape::organ_pipe: keys[i] = std::min(i, n - 1 - i); break;
      case Shape::few_distinct: keys[i] = static_cast<int32_t>(random() % 4); break;
      case Shape::descending_with_ties: keys[i] = (n - i) / 3; break;
      case Shape::sawtooth: keys[i] = i % 50; break;
    }
  }
  if (count > 1 && (shape == Shape::sorted_with_few_swaps ||
                    shape == Shape::reversed_with_few_swaps)) {
    for (uint32_t swaps = 0; swaps < 1 + count / 1000; ++swaps) {
      std::swap(keys[random() % count], keys[random() % count]);
    }
  }
  if (shape == Shape::sorted_with_random_tail) {
    for (uint32_t i = count - count / 20; i < count; ++i) keys[i] = static_cast<int32_t>(random() % count);
  }
  return keys;
}

std::vector<Item> make_items(const std::vector<int32_t>& keys) {
  std::vector<Item> items(keys.size());
  for (uint32_t i = 0; i < keys.size(); ++i) items[i] = Item{keys[i], i};
  return items;
}

bool by_key(const Item& a, const Item& b) { return a.key < b.key; }
bool by_key_then_origin(const Item& a, const Item& b) {
  return a.key != b.key ? a.key < b.key : a.origin < b.origin;
}

// Every record of `before` is in `after` exactly once.
bool same_records(std::vector<Item> before, std::vector<Item> after) {
  std::sort(before.begin(), before.end(), by_key_then_origin);
  std::sort(after.begin(), after.end(), by_key_then_origin);
  return before == after;
}

TEST(MergeSort, MatchesStableSortIncludingTheOrderOfEqualKeys) {
  for (const NamedShape& shape : kShapes) {
    for (uint32_t count : kSizes) {
      SCOPED_TRACE(std::string(shape.name) + ", " + std::to_string(count) + " records");
      std::vector<Item> items = make_items(make_keys(shape.shape, count, count));
      std::vector<Item> expected = items;
      std::stable_sort(expected.begin(), expected.end(), by_key);
      sort::merge_sort(items.data(), count, sizeof(Item), nullptr, nullptr, compare_items);
      EXPECT_TRUE(items == expected);
    }
  }
}

TEST(QuickSort, OrdersLikeSortAndKeepsEveryRecord) {
  for (const NamedShape& shape : kShapes) {
    for (uint32_t count : kSizes) {
      SCOPED_TRACE(std::string(shape.name) + ", " + std::to_string(count) + " records");
      std::vector<Item> items = make_items(make_keys(shape.shape, count, count));
      std::vector<Item> original = items;
      std::vector<int32_t> expected_keys = make_keys(shape.shape, count, count);
      std::sort(expected_keys.begin(), expected_keys.end());
      sort::quick_sort(items.data(), count, sizeof(Item), nullptr, nullptr, compare_items);
      std::vector<int32_t> keys;
      for (const Item& item : items) keys.push_back(item.key);
      EXPECT_EQ(keys, expected_keys);
      EXPECT_TRUE(same_records(original, items));
    }
  }
}

TEST(Sort, FewerThanTwoRecordsCallNoComparator) {
  for (const NamedSort& sorter : kBothSorts) {
    SCOPED_TRACE(sorter.name);
    uint64_t calls = 0;
    sorter.run(nullptr, 0, sizeof(Item), &calls, nullptr, compare_items);
    Item one{5, 0};
    sorter.run(&one, 1, sizeof(Item), &calls, nullptr, compare_items);
    EXPECT_EQ(calls, 0u);
    EXPECT_TRUE(one == (Item{5, 0}));
  }
}

// Ordered input, either way, costs one comparison per neighbouring pair.
TEST(Sort, OrderedInputIsFinishedInCountMinusOneComparisons) {
  const uint32_t count = 1000;
  struct Case {
    const char* sort_name;
    SortFunction run;
    Shape shape;
  };
  const Case cases[] = {
      {"merge_sort", sort::merge_sort, Shape::sorted},
      {"merge_sort", sort::merge_sort, Shape::reversed},
      {"merge_sort", sort::merge_sort, Shape::all_equal},
      {"quick_sort", sort::quick_sort, Shape::sorted},
      {"quick_sort", sort::quick_sort, Shape::reversed},
      {"quick_sort", sort::quick_sort, Shape::all_equal},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.sort_name) + " on shape " + std::to_string(static_cast<int>(c.shape)));
    std::vector<Item> items = make_items(make_keys(c.shape, count, 1));
    uint64_t calls = 0;
    c.run(items.data(), count, sizeof(Item), &calls, nullptr, compare_items);
    EXPECT_EQ(calls, count - 1);
    EXPECT_TRUE(std::is_sorted(items.begin(), items.end(), by_key));
  }
}

TEST(MergeSort, LeavesAllEqualRecordsInTheirPlaces) {
  std::vector<Item> items = make_items(std::vector<int32_t>(5000, 3));
  const std::vector<Item> original = items;
  sort::merge_sort(items.data(), 5000, sizeof(Item), nullptr, nullptr, compare_items);
  EXPECT_TRUE(items == original);
}

// A key in the first three bytes, most significant first: records of width 3
// are exchanged byte by byte.
int32_t compare_three_byte_keys(const void* a, const void* b, void*, void*) {
  return std::memcmp(a, b, 3);
}

// Width 16: the key and three payload words derived from where the record
// started, so a record torn apart by the moves shows up.
struct Wide {
  int32_t key;
  uint32_t origin;
  uint32_t origin_times_three;
  uint32_t origin_inverted;
};
static_assert(sizeof(Wide) == 16);

int32_t compare_wide(const void* a, const void* b, void*, void*) {
  return three_way(static_cast<const Wide*>(a)->key, static_cast<const Wide*>(b)->key);
}

TEST(Sort, RecordsOfWidthThreeAndSixteenAreSortedWhole) {
  for (const NamedSort& sorter : kBothSorts) {
    for (uint32_t count : {25u, 1000u, 30000u}) {
      SCOPED_TRACE(std::string(sorter.name) + ", " + std::to_string(count) + " records");
      std::mt19937 random(count);

      std::vector<uint8_t> bytes(3 * count);
      std::vector<uint32_t> expected(count);
      for (uint32_t i = 0; i < count; ++i) {
        uint32_t key = random() % 0x1000000;
        if (i % 3 == 0) key = 0x00FF00;  // many duplicates
        bytes[3 * i] = static_cast<uint8_t>(key >> 16);
        bytes[3 * i + 1] = static_cast<uint8_t>(key >> 8);
        bytes[3 * i + 2] = static_cast<uint8_t>(key);
        expected[i] = key;
      }
      std::sort(expected.begin(), expected.end());
      sorter.run(bytes.data(), count, 3, nullptr, nullptr, compare_three_byte_keys);
      std::vector<uint32_t> keys(count);
      for (uint32_t i = 0; i < count; ++i) {
        keys[i] = (uint32_t{bytes[3 * i]} << 16) | (uint32_t{bytes[3 * i + 1]} << 8) | bytes[3 * i + 2];
      }
      EXPECT_EQ(keys, expected);

      std::vector<Wide> wide(count);
      for (uint32_t i = 0; i < count; ++i) {
        wide[i] = Wide{static_cast<int32_t>(random() % 100), i, 3 * i, ~i};
      }
      std::vector<Wide> expected_wide = wide;
      std::stable_sort(expected_wide.begin(), expected_wide.end(),
                       [](const Wide& a, const Wide& b) { return a.key < b.key; });
      sorter.run(wide.data(), count, sizeof(Wide), nullptr, nullptr, compare_wide);
      std::vector<bool> seen(count, false);
      for (uint32_t i = 0; i < count; ++i) {
        const Wide& record = wide[i];
        ASSERT_LT(record.origin, count);
        EXPECT_EQ(record.origin_times_three, 3 * record.origin);
        EXPECT_EQ(record.origin_inverted, ~record.origin);
        EXPECT_FALSE(seen[record.origin]);
        seen[record.origin] = true;
        EXPECT_EQ(record.key, expected_wide[i].key);
        if (sorter.run == sort::merge_sort) {
          EXPECT_EQ(record.origin, expected_wide[i].origin);
        }
      }
    }
  }
}

TEST(Sort, SwapExchangesWholeRecordsWordWiseOrByteWise) {
  struct Case {
    uint32_t width;
    bool byte_wise;
  };
  for (Case c : {Case{3, true}, Case{8, false}, Case{16, true}, Case{6, false}, Case{1, true}}) {
    SCOPED_TRACE("width " + std::to_string(c.width));
    std::vector<uint8_t> a(c.width), b(c.width);
    for (uint32_t i = 0; i < c.width; ++i) {
      a[i] = static_cast<uint8_t>(i + 1);
      b[i] = static_cast<uint8_t>(0xF0 - i);
    }
    const std::vector<uint8_t> original_a = a, original_b = b;
    sort::swap(a.data(), b.data(), c.width, c.byte_wise);
    EXPECT_EQ(a, original_b);
    EXPECT_EQ(b, original_a);
  }
}

// The callers carry their options in the two arguments: here the direction
// and the offset of the field to sort on.
int32_t compare_selected_field(const void* a, const void* b, void* descending, void* offset) {
  int32_t x, y;
  std::memcpy(&x, static_cast<const uint8_t*>(a) + *static_cast<uint32_t*>(offset), 4);
  std::memcpy(&y, static_cast<const uint8_t*>(b) + *static_cast<uint32_t*>(offset), 4);
  int32_t result = three_way(x, y);
  return *static_cast<bool*>(descending) ? -result : result;
}

TEST(Sort, ComparatorReceivesBothArguments) {
  for (const NamedSort& sorter : kBothSorts) {
    SCOPED_TRACE(sorter.name);
    std::vector<Item> items = make_items(make_keys(Shape::random, 300, 9));
    bool descending = true;
    uint32_t offset = offsetof(Item, origin);
    sorter.run(items.data(), 300, sizeof(Item), &descending, &offset, compare_selected_field);
    for (uint32_t i = 0; i < 300; ++i) EXPECT_EQ(items[i].origin, 299 - i);
  }
}

TEST(MergeSort, ScratchBeyond32BitsRaisesTooLong) {
  struct Case {
    uint32_t count;
    uint32_t width;
  };
  for (Case c : {Case{0x80000000u, 4}, Case{0xFFFFFFFFu, 3}, Case{4, 0x80000000u}}) {
    SCOPED_TRACE(std::to_string(c.count) + " records of " + std::to_string(c.width) + " bytes");
    Item placeholder[4] = {};
    uint64_t calls = 0;
    auto error = testing::catch_error([&] {
      sort::merge_sort(placeholder, c.count, c.width, &calls, nullptr, compare_items);
    });
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(*error, ErrorId::script_too_long);
    EXPECT_EQ(calls, 0u);
  }
}

// Throws a non-local exit, as an error raised inside a user comparator does,
// once a given number of comparisons have been answered.
struct Tripwire {
  uint64_t comparisons_left;
  uint64_t comparisons = 0;
};

int32_t compare_until_tripped(const void* a, const void* b, void* tripwire, void*) {
  auto& state = *static_cast<Tripwire*>(tripwire);
  if (state.comparisons_left == 0) throw exits::Unwind{exits::kError};
  --state.comparisons_left;
  ++state.comparisons;
  return compare_items(a, b, nullptr, nullptr);
}

size_t heap_bytes_in_use() {
  struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

// Whatever comparison throws, the array afterwards holds every record once,
// and the merge sort's scratch buffer has been given back.
TEST(Sort, ComparatorThrowingAtAnyPointLeavesEveryRecordOnce) {
  struct Case {
    Shape shape;
    uint32_t count;
  };
  const Case cases[] = {{Shape::random, 300},      {Shape::few_distinct, 300},
                        {Shape::organ_pipe, 300},  {Shape::sorted_with_few_swaps, 2000},
                        {Shape::sawtooth, 3000},   {Shape::random, 10000}};
  for (const NamedSort& sorter : kBothSorts) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(sorter.name) + ", shape " + std::to_string(static_cast<int>(c.shape)) +
                   ", " + std::to_string(c.count) + " records");
      const std::vector<Item> original = make_items(make_keys(c.shape, c.count, 5));
      std::vector<Item> work = original;
      Tripwire full{UINT64_MAX};
      sorter.run(work.data(), c.count, sizeof(Item), &full, nullptr, compare_until_tripped);
      const uint64_t total = full.comparisons;
      const uint64_t step = std::max<uint64_t>(1, total / 400);

      std::vector<Item> sorted_original = original, sorted_work(c.count);
      std::sort(sorted_original.begin(), sorted_original.end(), by_key_then_origin);
      // The unwinder allocates its own caches on a first throw through new
      // frames; take that throw before measuring the heap.
      {
        std::vector<Item> warm = original;
        Tripwire early{total / 2};
        try {
          sorter.run(warm.data(), c.count, sizeof(Item), &early, nullptr, compare_until_tripped);
        } catch (const exits::Unwind&) {
        }
      }
      const size_t heap_before = heap_bytes_in_use();
      uint32_t failures = 0;
      for (uint64_t trip_at = 0; trip_at < total; trip_at += step) {
        std::copy(original.begin(), original.end(), work.begin());
        Tripwire tripwire{trip_at};
        bool thrown = false;
        try {
          sorter.run(work.data(), c.count, sizeof(Item), &tripwire, nullptr, compare_until_tripped);
        } catch (const exits::Unwind&) {
          thrown = true;
        }
        std::copy(work.begin(), work.end(), sorted_work.begin());
        std::sort(sorted_work.begin(), sorted_work.end(), by_key_then_origin);
        if (!thrown || !(sorted_work == sorted_original)) {
          if (++failures <= 3) ADD_FAILURE() << "throw after " << trip_at << " comparisons";
        }
      }
      EXPECT_EQ(heap_bytes_in_use(), heap_before);
    }
  }
}

int32_t compare_then_raise(const void* a, const void* b, void* calls, void*) {
  if (++*static_cast<uint64_t*>(calls) > 500) fire(ErrorId::script_not_same_type);
  return compare_items(a, b, nullptr, nullptr);
}

TEST(Sort, ErrorRaisedByTheComparatorPassesThrough) {
  for (const NamedSort& sorter : kBothSorts) {
    SCOPED_TRACE(sorter.name);
    const std::vector<Item> original = make_items(make_keys(Shape::random, 1000, 3));
    std::vector<Item> items = original;
    uint64_t calls = 0;
    auto error = testing::catch_error([&] {
      sorter.run(items.data(), 1000, sizeof(Item), &calls, nullptr, compare_then_raise);
    });
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(*error, ErrorId::script_not_same_type);
    EXPECT_TRUE(same_records(original, items));
  }
}

// A comparator whose answers are random contradicts itself; the sorts must
// still finish, stay inside the array and keep every record.
int32_t compare_at_random(const void*, const void*, void* random, void*) {
  return static_cast<int32_t>((*static_cast<std::mt19937*>(random))() % 3) - 1;
}

TEST(Sort, SelfContradictingComparatorStillKeepsEveryRecord) {
  for (const NamedSort& sorter : kBothSorts) {
    for (Shape shape : {Shape::random, Shape::sorted, Shape::organ_pipe}) {
      for (uint32_t count : {9u, 100u, 5000u, 50000u}) {
        SCOPED_TRACE(std::string(sorter.name) + ", " + std::to_string(count) + " records");
        const std::vector<Item> original = make_items(make_keys(shape, count, count));
        std::vector<Item> items = original;
        std::mt19937 random(count);
        sorter.run(items.data(), count, sizeof(Item), &random, nullptr, compare_at_random);
        EXPECT_TRUE(same_records(original, items));
      }
    }
  }
}

// An adversary that decides the records' values only as the sort compares
// them, always in the way that makes the chosen pivot a bad one; it drives a
// plain median-of-three quicksort into quadratic behaviour.
struct Adversary {
  std::vector<int32_t> value;
  int32_t undecided;
  int32_t next_decided = 0;
  int32_t candidate = -1;
  uint64_t comparisons = 0;
};

int32_t compare_adversarially(const void* a, const void* b, void* adversary, void*) {
  auto& state = *static_cast<Adversary*>(adversary);
  int32_t x, y;
  std::memcpy(&x, a, 4);
  std::memcpy(&y, b, 4);
  ++state.comparisons;
  if (state.value[x] == state.undecided && state.value[y] == state.undecided) {
    state.value[x == state.candidate ? x : y] = state.next_decided++;
  }
  if (state.value[x] == state.undecided) {
    state.candidate = x;
  } else if (state.value[y] == state.undecided) {
    state.candidate = y;
  }
  return three_way(state.value[x], state.value[y]);
}

uint64_t comparisons_allowed(uint32_t count) {
  return static_cast<uint64_t>(6 * count * std::log2(static_cast<double>(count)));
}

// Comparison counts are deterministic, so a bound on them catches a
// quadratic blow-up without measuring time.
TEST(QuickSort, ComparisonsStayWithinNLogNOnHardInputs) {
  const uint32_t count = 50000;
  for (const NamedShape& shape : kShapes) {
    SCOPED_TRACE(shape.name);
    std::vector<Item> items = make_items(make_keys(shape.shape, count, 11));
    uint64_t calls = 0;
    sort::quick_sort(items.data(), count, sizeof(Item), &calls, nullptr, compare_items);
    EXPECT_LE(calls, comparisons_allowed(count));
    EXPECT_TRUE(std::is_sorted(items.begin(), items.end(), by_key));
  }

  SCOPED_TRACE("adversary");
  Adversary adversary{std::vector<int32_t>(count, count), static_cast<int32_t>(count)};
  std::vector<int32_t> indexes(count);
  for (uint32_t i = 0; i < count; ++i) indexes[i] = static_cast<int32_t>(i);
  sort::quick_sort(indexes.data(), count, 4, &adversary, nullptr, compare_adversarially);
  EXPECT_LE(adversary.comparisons, comparisons_allowed(count));
  for (uint32_t i = 1; i < count; ++i) {
    ASSERT_LE(adversary.value[indexes[i - 1]], adversary.value[indexes[i]]);
  }
}

}  // namespace
}  // namespace kel
