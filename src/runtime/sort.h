// The runtime's two general sorts, on arrays of fixed-width records in place.
//
// An array is a base address, a count of records and a record width in
// bytes; any width of at least one byte works. Records whose width is a
// multiple of 4 are exchanged 32 bits at a time, others byte by byte. The
// comparator returns a negative number when its first record sorts before
// the second, 0 when they are equal and a positive number when it sorts
// after; its two opaque arguments are passed through untouched, so that a
// caller can carry its options (case sensitivity, a user comparator, a field
// offset) into every comparison.
//
// Whatever the comparator does, short of changing the array, the sorts stay
// within the array and keep every record exactly once: a comparator that
// throws (a Kel error raised inside a user function) leaves the array partly
// sorted, a comparator that contradicts itself leaves it in some order.
// Sorting fewer than two records calls no comparator.
#pragma once

#include <cstdint>

namespace kel::sort {

using Comparator = int32_t (*)(const void* a, const void* b, void* argument1, void* argument2);

// Stable, in place: a natural merge sort whose runs are merged in the order
// the Powersort policy gives. It takes advantage of existing order (sorted or
// strictly descending input is one run, done in count - 1 comparisons) and
// needs a scratch buffer of count / 2 records. Raises script error too-long
// when that buffer's size does not fit 32 bits, internal error no-memory
// when it cannot be had.
void merge_sort(void* base, uint32_t count, uint32_t width, void* argument1, void* argument2,
                Comparator comparator);

// Unstable, in place, no allocation. Already ordered input (either way) is
// recognised in one pass; nearly sorted input is finished by sorting its
// disordered rest and merging; everything else goes through a three-way
// quicksort that falls back to a heap sort before it could turn quadratic.
void quick_sort(void* base, uint32_t count, uint32_t width, void* argument1, void* argument2,
                Comparator comparator);

// Exchanges two records. With byte_wise false the records are moved 32 bits
// at a time (any bytes beyond the last whole word one by one).
void swap(void* a, void* b, uint32_t width, bool byte_wise);

}  // namespace kel::sort
