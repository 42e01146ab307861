// Sorting a stretch of a series with a user comparison function.
//
// A comparison function is Kel code: it may allocate, collect (which moves
// every buffer that is not pinned), and even change the series being
// sorted. So this sort never moves the records while the function runs: it
// orders the record numbers 0 .. records - 1 in a C++ array with the
// runtime's sorts, and the caller's comparator reads the two records it is
// handed from the live series each time. The series stays untouched (every
// value in it reachable by the collector) until the order is known; then the
// records are laid down in that order in one step that neither allocates
// nor evaluates.
//
// The function must leave the series' length as it found it: a comparison
// after which the length differs raises script invalid-arg with the series
// and the records keep the order they had. When the comparator raises
// anything else (an error in the function, a throw or break out of it),
// the order found so far is laid down first, so the series is left partly
// sorted with every record still in it once.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kel::series {

// Compares records a and b (0-based record numbers of the stretch) as the
// sorts of runtime/sort.h compare: negative when a sorts before b.
using RecordComparator = int32_t (*)(uint32_t a, uint32_t b, void* context);

// Sorts records of record_units units each, from the absolute unit start of
// the series (a frame cell, so it stays rooted), stable with the merge sort
// or with the quicksort.
void sort_by_function(const Cell* series, uint32_t start, uint32_t records, uint32_t record_units, bool stable,
                      RecordComparator compare, void* context);

}  // namespace kel::series
