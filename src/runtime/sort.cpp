// The merge sort and the quicksort over fixed-width records.
//
// Both sorts see the array through Records: a base, a width and the
// comparator with its two arguments, addressed by 32-bit record indexes.
// Every change either sort makes to the array is an exchange of two records,
// except in the merge, which takes one run out into a scratch buffer; a
// guard there writes the records still in the scratch back into the gap
// they left, so that when the comparator throws, the array still holds
// every record exactly once. No loop relies on the comparator being
// consistent to stay inside its range: each scan is bounded by indexes, and
// each step of a divide-and-conquer makes a range strictly smaller.
#include "runtime/sort.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "runtime/errors.h"

namespace kel::sort {

void swap(void* a, void* b, uint32_t width, bool byte_wise) {
  auto* left = static_cast<uint8_t*>(a);
  auto* right = static_cast<uint8_t*>(b);
  if (left == right) return;
  uint32_t done = 0;
  if (!byte_wise) {
    // memcpy keeps the word moves free of alignment and aliasing assumptions;
    // the compiler turns each into one 32-bit load or store.
    for (; done + 4 <= width; done += 4) {
      uint32_t left_word, right_word;
      std::memcpy(&left_word, left + done, 4);
      std::memcpy(&right_word, right + done, 4);
      std::memcpy(left + done, &right_word, 4);
      std::memcpy(right + done, &left_word, 4);
    }
  }
  for (; done < width; ++done) std::swap(left[done], right[done]);
}

namespace {

struct Records {
  uint8_t* base;
  uint32_t width;
  bool byte_wise;
  void* argument1;
  void* argument2;
  Comparator comparator;

  uint8_t* at(uint32_t index) const { return base + static_cast<size_t>(index) * width; }
  int32_t compare_records(const void* a, const void* b) const {
    return comparator(a, b, argument1, argument2);
  }
  int32_t compare(uint32_t a, uint32_t b) const { return compare_records(at(a), at(b)); }
  void exchange(uint32_t a, uint32_t b) const { swap(at(a), at(b), width, byte_wise); }
  size_t bytes(uint32_t records) const { return static_cast<size_t>(records) * width; }
};

Records records_of(void* base, uint32_t width, void* argument1, void* argument2,
                   Comparator comparator) {
  return Records{static_cast<uint8_t*>(base), width, width % 4 != 0, argument1, argument2,
                 comparator};
}

void reverse(const Records& records, uint32_t first, uint32_t last) {
  while (last - first > 1) records.exchange(first++, --last);
}

// [first, middle) and [middle, last) trade places, by three reversals so that
// no record needs a temporary of its own width.
void rotate(const Records& records, uint32_t first, uint32_t middle, uint32_t last) {
  if (first == middle || middle == last) return;
  reverse(records, first, middle);
  reverse(records, middle, last);
  reverse(records, first, last);
}

// Each new record moves left by adjacent exchanges while its left neighbour
// compares greater, so equal records keep their order.
void insertion_sort(const Records& records, uint32_t first, uint32_t sorted_end, uint32_t last) {
  for (uint32_t next = sorted_end; next < last; ++next) {
    for (uint32_t at = next; at > first && records.compare(at - 1, at) > 0; --at) {
      records.exchange(at - 1, at);
    }
  }
}

// ---------------------------------------------------------------------------
// Merge sort

// Runs shorter than this are extended by insertion: merging many tiny runs
// costs more than sorting small stretches directly.
constexpr uint32_t kMinimumRun = 24;

// Powers on the run stack rise strictly from bottom to top and a power never
// exceeds 34 for 32-bit counts, so this many entries always suffice.
constexpr uint32_t kRunStackCapacity = 40;

struct PendingRun {
  uint32_t start;
  uint32_t power;
};

// The end of the natural run that begins at start: non-descending (each
// neighbour comparison <= 0) or strictly descending (each > 0). A descending
// run is reversed in place; being strict, it holds no equal records whose
// order the reversal could swap.
uint32_t count_run(const Records& records, uint32_t start, uint32_t end) {
  if (end - start < 2) return end;
  uint32_t run_end = start + 1;
  if (records.compare(start, run_end) > 0) {
    do ++run_end;
    while (run_end < end && records.compare(run_end - 1, run_end) > 0);
    reverse(records, start, run_end);
  } else {
    do ++run_end;
    while (run_end < end && records.compare(run_end - 1, run_end) <= 0);
  }
  return run_end;
}

uint32_t next_run(const Records& records, uint32_t start, uint32_t count) {
  uint32_t run_end = count_run(records, start, count);
  uint32_t wanted_end = count - start > kMinimumRun ? start + kMinimumRun : count;
  if (run_end < wanted_end) {
    insertion_sort(records, start, run_end, wanted_end);
    run_end = wanted_end;
  }
  return run_end;
}

// The depth, in the binary subdivision of [0, count), at which the midpoints
// of the runs [start1, end1) and [end1, end2) first fall into different
// halves. a / 2n and b / 2n are those midpoints as fractions of the array;
// each turn compares their next binary digit. The values stay below 2n, so
// 64 bits hold them for any 32-bit count.
uint32_t boundary_power(uint32_t start1, uint32_t end1, uint32_t end2, uint32_t count) {
  uint64_t n = count;
  uint64_t a = static_cast<uint64_t>(start1) + end1;
  uint64_t b = static_cast<uint64_t>(end1) + end2;
  uint32_t power = 0;
  while ((a >= n) == (b >= n)) {
    ++power;
    if (a >= n) {
      a -= n;
      b -= n;
    }
    a <<= 1;
    b <<= 1;
  }
  return power + 1;
}

// count / 2 records, taken from the C heap on first use so that a sort that
// never merges allocates nothing; freed when the sort ends, by a throw too.
class ScratchBuffer {
 public:
  explicit ScratchBuffer(size_t bytes) : bytes_(bytes) {}
  ScratchBuffer(const ScratchBuffer&) = delete;
  ScratchBuffer& operator=(const ScratchBuffer&) = delete;
  ~ScratchBuffer() { std::free(memory_); }

  uint8_t* get() {
    if (memory_ == nullptr) {
      memory_ = static_cast<uint8_t*>(std::malloc(bytes_));
      if (memory_ == nullptr) fire(ErrorId::internal_no_memory);
    }
    return memory_;
  }

 private:
  size_t bytes_;
  uint8_t* memory_ = nullptr;
};

// A merge from the front: the left run waits in the scratch buffer, and the
// records of it not yet placed always fit exactly the gap between the last
// placed record and the first unplaced right record.
struct FrontMerge {
  const Records& records;
  const uint8_t* scratch;
  uint32_t scratch_count;
  uint32_t scratch_taken;
  uint32_t output;

  ~FrontMerge() {
    std::memcpy(records.at(output), scratch + records.bytes(scratch_taken),
                records.bytes(scratch_count - scratch_taken));
  }
};

// A merge from the back: the right run waits in the scratch buffer; its
// unplaced records scratch[0, scratch_left) fit the gap right after the
// unplaced left records [.., left_end).
struct BackMerge {
  const Records& records;
  const uint8_t* scratch;
  uint32_t scratch_left;
  uint32_t left_end;

  ~BackMerge() {
    std::memcpy(records.at(left_end), scratch, records.bytes(scratch_left));
  }
};

// Merges the sorted runs [left, middle) and [middle, right); the shorter one
// goes to the scratch buffer. Ties go to the left run's record first.
void merge(const Records& records, uint32_t left, uint32_t middle, uint32_t right,
           ScratchBuffer& scratch_buffer) {
  // Runs already in order, common in nearly sorted input, cost one comparison.
  if (records.compare(middle - 1, middle) <= 0) return;
  uint8_t* scratch = scratch_buffer.get();
  const uint32_t width = records.width;
  if (right - middle < middle - left) {
    uint32_t right_count = right - middle;
    std::memcpy(scratch, records.at(middle), records.bytes(right_count));
    BackMerge state{records, scratch, right_count, middle};
    uint8_t* output = records.at(right);
    while (state.left_end > left && state.scratch_left > 0) {
      const uint8_t* right_last = scratch + records.bytes(state.scratch_left - 1);
      output -= width;
      if (records.compare_records(records.at(state.left_end - 1), right_last) <= 0) {
        std::memcpy(output, right_last, width);
        --state.scratch_left;
      } else {
        std::memcpy(output, records.at(state.left_end - 1), width);
        --state.left_end;
      }
    }
  } else {
    uint32_t left_count = middle - left;
    std::memcpy(scratch, records.at(left), records.bytes(left_count));
    FrontMerge state{records, scratch, left_count, 0, left};
    uint32_t right_next = middle;
    while (state.scratch_taken < left_count && right_next < right) {
      const uint8_t* left_first = scratch + records.bytes(state.scratch_taken);
      if (records.compare_records(left_first, records.at(right_next)) <= 0) {
        std::memcpy(records.at(state.output), left_first, width);
        ++state.scratch_taken;
      } else {
        std::memcpy(records.at(state.output), records.at(right_next), width);
        ++right_next;
      }
      ++state.output;
    }
  }
}

// ---------------------------------------------------------------------------
// Quicksort

constexpr uint32_t kInsertionLimit = 8;   // ranges below this are sorted by insertion
constexpr uint32_t kSampleStride = 97;    // the order probe looks at every 97th pair
constexpr uint32_t kProbeDistance = 10;   // how far past the ordered prefix a stretch is sought
constexpr uint32_t kMinimumStretch = 4;   // shorter ordered stretches are not worth moving
constexpr uint32_t kSpreadSampleLimit = 128;  // from here on a pivot is a median of medians

struct OrderMeasure {
  uint32_t run_end;   // end of the leading run
  int32_t direction;  // +1 ascending, -1 descending, 0 all equal
  int64_t score;
};

// The leading run is the stretch whose neighbour comparisons agree in sign
// (zeros are skipped, the first non-zero one sets the direction); the score
// is its length with the direction's sign, plus one for each ascending and
// minus one for each descending pair among those sampled after it.
OrderMeasure measure_order(const Records& records, uint32_t first, uint32_t last) {
  OrderMeasure measure{first + 1, 0, 0};
  for (; measure.run_end < last; ++measure.run_end) {
    int32_t result = records.compare(measure.run_end - 1, measure.run_end);
    if (result == 0) continue;
    int32_t sign = result < 0 ? 1 : -1;
    if (measure.direction == 0) {
      measure.direction = sign;
    } else if (sign != measure.direction) {
      break;
    }
  }
  measure.score = static_cast<int64_t>(measure.run_end - first) * measure.direction;
  for (uint64_t sample = static_cast<uint64_t>(measure.run_end) + kSampleStride; sample < last;
       sample += kSampleStride) {
    auto at = static_cast<uint32_t>(sample);
    int32_t result = records.compare(at - 1, at);
    if (result < 0) ++measure.score;
    if (result > 0) --measure.score;
  }
  return measure;
}

uint32_t floor_log2(uint32_t value) {
  uint32_t log = 0;
  while (value >>= 1) ++log;
  return log;
}

uint32_t integer_square_root(uint32_t value) {
  uint64_t root = 0;
  while ((root + 1) * (root + 1) <= value) ++root;
  return static_cast<uint32_t>(root);
}

void sift_down(const Records& records, uint32_t first, uint32_t root, uint32_t size) {
  for (;;) {
    uint64_t child = 2 * static_cast<uint64_t>(root) + 1;
    if (child >= size) return;
    auto larger = static_cast<uint32_t>(child);
    if (larger + 1 < size && records.compare(first + larger, first + larger + 1) < 0) ++larger;
    if (records.compare(first + root, first + larger) >= 0) return;
    records.exchange(first + root, first + larger);
    root = larger;
  }
}

// The fallback when partitioning keeps going badly: O(n log n) in every case.
void heap_sort(const Records& records, uint32_t first, uint32_t last) {
  uint32_t size = last - first;
  for (uint32_t root = size / 2; root-- > 0;) sift_down(records, first, root, size);
  for (uint32_t end = size - 1; end > 0; --end) {
    records.exchange(first, first + end);
    sift_down(records, first, 0, end);
  }
}

uint32_t median_of_three(const Records& records, uint32_t a, uint32_t b, uint32_t c) {
  if (records.compare(a, b) < 0) {
    if (records.compare(b, c) < 0) return b;
    return records.compare(a, c) < 0 ? c : a;
  }
  if (records.compare(a, c) < 0) return a;
  return records.compare(b, c) < 0 ? c : b;
}

// Puts the pivot at the front, where the partition expects it. A small range
// takes the median of its first, middle and last records: the middle record
// is brought to position 1 and at most three compare-and-exchange steps order
// first, 1 and last. A large range takes the median of three such medians
// spread over it, so that a few records out of place at its ends (nearly
// sorted input with disorder at the front or the back) cannot make every
// pivot an extreme one.
void choose_pivot(const Records& records, uint32_t first, uint32_t last) {
  uint32_t length = last - first;
  if (length >= kSpreadSampleLimit) {
    uint32_t step = length / 8;
    uint32_t middle = first + length / 2;
    uint32_t chosen = median_of_three(
        records, median_of_three(records, first, first + step, first + 2 * step),
        median_of_three(records, middle - step, middle, middle + step),
        median_of_three(records, last - 1 - 2 * step, last - 1 - step, last - 1));
    records.exchange(first, chosen);
    return;
  }
  uint32_t second = first + 1;
  records.exchange(first + length / 2, second);
  if (records.compare(second, first) < 0) records.exchange(first, second);
  if (records.compare(last - 1, second) < 0) {
    records.exchange(second, last - 1);
    if (records.compare(second, first) < 0) records.exchange(first, second);
  }
  records.exchange(first, second);
}

struct Partition {
  uint32_t less_end;       // [first, less_end) compare less than the pivot
  uint32_t greater_start;  // [less_end, greater_start) equal, final; the rest greater
};

// Three-way partition around the record at first. Records equal to the pivot
// gather right after it while the scans run, and are swapped into the middle
// at the end, so that a range of many equal records shrinks at once.
Partition partition(const Records& records, uint32_t first, uint32_t last) {
  const uint32_t pivot = first;
  uint32_t equal_end = first + 1;  // [first, equal_end): the pivot and its equals
  uint32_t left = first + 1;       // [equal_end, left): less than the pivot
  uint32_t right = last;           // [right, last): greater than the pivot
  for (;;) {
    int32_t result = 0;
    while (left < right && (result = records.compare(left, pivot)) <= 0) {
      if (result == 0) records.exchange(equal_end++, left);
      ++left;
    }
    if (left == right) break;
    // The record at left compares greater: look for one from the right that
    // does not.
    while (right - 1 > left && (result = records.compare(right - 1, pivot)) > 0) --right;
    if (right - 1 == left) {
      right = left;
      break;
    }
    --right;
    records.exchange(left, right);
    if (result == 0) records.exchange(equal_end++, left);
    ++left;
  }
  uint32_t equal_count = equal_end - first;
  uint32_t less_count = left - equal_end;
  uint32_t moves = equal_count < less_count ? equal_count : less_count;
  for (uint32_t step = 0; step < moves; ++step) records.exchange(first + step, left - 1 - step);
  return Partition{first + less_count, left};
}

// Recursion goes into the smaller part and the loop goes on with the larger
// one, so the machine stack holds at most log2(n) frames; the depth budget
// bounds how many poor partitions a range may suffer before heap sort takes
// over.
void quicksort_proper(const Records& records, uint32_t first, uint32_t last,
                      uint32_t depth_budget) {
  while (last - first >= kInsertionLimit) {
    if (depth_budget == 0) {
      heap_sort(records, first, last);
      return;
    }
    --depth_budget;
    choose_pivot(records, first, last);
    Partition parts = partition(records, first, last);
    if (parts.less_end - first < last - parts.greater_start) {
      quicksort_proper(records, first, parts.less_end, depth_budget);
      first = parts.greater_start;
    } else {
      quicksort_proper(records, parts.greater_start, last, depth_budget);
      last = parts.less_end;
    }
  }
  insertion_sort(records, first, first, last);
}

void sort_range(const Records& records, uint32_t first, uint32_t last);

// Merges two adjacent sorted ranges without a buffer: the middle record of
// the longer range is placed by binary search in the other, one rotation
// brings the two middle parts into order, and the two halves that result are
// merged the same way. Each step makes both halves strictly smaller whatever
// the comparator answers.
void merge_in_place(const Records& records, uint32_t first, uint32_t middle, uint32_t last) {
  while (first < middle && middle < last) {
    if (records.compare(middle - 1, middle) <= 0) return;
    uint32_t left_length = middle - first;
    uint32_t right_length = last - middle;
    if (left_length + right_length == 2) {
      records.exchange(first, middle);
      return;
    }
    uint32_t left_cut, right_cut;
    if (left_length > right_length) {
      left_cut = first + left_length / 2;
      // The first right record not less than the left cut.
      uint32_t low = middle, high = last;
      while (low < high) {
        uint32_t probe = low + (high - low) / 2;
        if (records.compare(probe, left_cut) < 0) low = probe + 1; else high = probe;
      }
      right_cut = low;
    } else {
      right_cut = middle + right_length / 2;
      // The first left record greater than the right cut.
      uint32_t low = first, high = middle;
      while (low < high) {
        uint32_t probe = low + (high - low) / 2;
        if (records.compare(right_cut, probe) < 0) high = probe; else low = probe + 1;
      }
      left_cut = low;
    }
    rotate(records, left_cut, middle, right_cut);
    uint32_t new_middle = left_cut + (right_cut - middle);
    if (new_middle - first < last - new_middle) {
      merge_in_place(records, first, left_cut, new_middle);
      first = new_middle;
      middle = right_cut;
    } else {
      merge_in_place(records, new_middle, right_cut, last);
      last = new_middle;
      middle = left_cut;
    }
  }
}

// Input whose ordered prefix is long, or whose sampled pairs mostly agree.
// The prefix is first grown past small disorder: 10 records ahead of the
// displaced records collected so far a probe looks for a record that may
// follow the prefix, steps back record by record to where that order begins
// and forward to where it ends, and a stretch of at least 4 such records is
// rotated next to the prefix, pushing the displaced records behind it. Each
// turn displaces at least one more record, and the growing stops once more
// than about the square root of the range is displaced, so the whole costs
// O(n) comparisons and exchanges. A descending prefix is turned around at the
// end. When the prefix then covers at least half the range, the rest is
// sorted on its own and merged in; otherwise its order says little about the
// range and the quicksort proper takes the whole.
void sort_nearly_sorted(const Records& records, uint32_t first, uint32_t last,
                        const OrderMeasure& measure) {
  const int32_t direction = measure.direction;
  auto in_order = [&](uint32_t a, uint32_t b) {
    int32_t result = records.compare(a, b);
    return direction > 0 ? result <= 0 : result >= 0;
  };
  uint32_t length = last - first;
  uint32_t displaced_limit = integer_square_root(length);
  if (displaced_limit < 32) displaced_limit = 32;
  uint32_t prefix_end = measure.run_end;
  uint32_t displaced_end = measure.run_end;  // [prefix_end, displaced_end): set aside
  while (displaced_end - prefix_end <= displaced_limit && last - displaced_end > kProbeDistance) {
    uint32_t probe = displaced_end + kProbeDistance;
    if (!in_order(prefix_end - 1, probe)) {
      displaced_end = probe + 1;
      continue;
    }
    uint32_t stretch_start = probe;
    while (stretch_start > displaced_end && in_order(stretch_start - 1, stretch_start) &&
           in_order(prefix_end - 1, stretch_start - 1)) {
      --stretch_start;
    }
    uint32_t stretch_end = probe + 1;
    while (stretch_end < last && in_order(stretch_end - 1, stretch_end)) ++stretch_end;
    if (stretch_end - stretch_start >= kMinimumStretch) {
      rotate(records, prefix_end, stretch_start, stretch_end);
      prefix_end += stretch_end - stretch_start;
    }
    displaced_end = stretch_end;
  }
  if (direction < 0) reverse(records, first, prefix_end);
  if (prefix_end - first >= last - prefix_end) {
    sort_range(records, prefix_end, last);
    merge_in_place(records, first, prefix_end, last);
  } else {
    quicksort_proper(records, first, last, 2 * floor_log2(length) + 2);
  }
}

// The driver: input already in order either way is done in one pass; a
// score above length / 512 in magnitude marks input as nearly sorted.
void sort_range(const Records& records, uint32_t first, uint32_t last) {
  uint32_t length = last - first;
  if (length < kInsertionLimit) {
    insertion_sort(records, first, first, last);
    return;
  }
  OrderMeasure measure = measure_order(records, first, last);
  if (measure.run_end == last) {
    if (measure.direction < 0) reverse(records, first, last);
    return;
  }
  int64_t magnitude = measure.score < 0 ? -measure.score : measure.score;
  if (magnitude > length / 512) {
    sort_nearly_sorted(records, first, last, measure);
  } else {
    quicksort_proper(records, first, last, 2 * floor_log2(length) + 2);
  }
}

}  // namespace

void merge_sort(void* base, uint32_t count, uint32_t width, void* argument1, void* argument2,
                Comparator comparator) {
  if (count < 2 || width == 0) return;
  uint64_t scratch_bytes = static_cast<uint64_t>(count / 2) * width;
  if (scratch_bytes > UINT32_MAX) fire(ErrorId::script_too_long);
  Records records = records_of(base, width, argument1, argument2, comparator);
  ScratchBuffer scratch(static_cast<size_t>(scratch_bytes));

  PendingRun stack[kRunStackCapacity];
  uint32_t depth = 0;
  uint32_t start = 0;
  uint32_t end = next_run(records, 0, count);
  while (end < count) {
    uint32_t next_end = next_run(records, end, count);
    uint32_t power = boundary_power(start, end, next_end, count);
    while (depth > 0 && stack[depth - 1].power > power) {
      --depth;
      merge(records, stack[depth].start, start, end, scratch);
      start = stack[depth].start;
    }
    stack[depth++] = PendingRun{start, power};
    start = end;
    end = next_end;
  }
  while (depth > 0) {
    --depth;
    merge(records, stack[depth].start, start, count, scratch);
    start = stack[depth].start;
  }
}

void quick_sort(void* base, uint32_t count, uint32_t width, void* argument1, void* argument2,
                Comparator comparator) {
  if (count < 2 || width == 0) return;
  sort_range(records_of(base, width, argument1, argument2, comparator), 0, count);
}

}  // namespace kel::sort
