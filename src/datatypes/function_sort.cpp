// Sorting with a user comparison function (see function_sort.h).
#include "datatypes/function_sort.h"

#include <cstring>
#include <numeric>
#include <vector>

#include "datatypes/series.h"
#include "runtime/errors.h"
#include "runtime/sort.h"

namespace kel::series {

namespace {

struct Run {
  RecordComparator compare;
  void* context;
  // A copy of the series cell: a throw or an error out of the function
  // unrolls the evaluation stack, frame cells included, before it reaches
  // this sort's handler.
  Cell series;
  uint32_t length;  // the series' units from its head when the sort began
};

bool length_kept(const Run& run) { return rs_length_from_head(&run.series) == run.length; }

int32_t compare_numbers(const void* a, const void* b, void* argument, void*) {
  const auto& run = *static_cast<const Run*>(argument);
  uint32_t first, second;
  std::memcpy(&first, a, sizeof first);
  std::memcpy(&second, b, sizeof second);
  int32_t result = run.compare(first, second, run.context);
  if (!length_kept(run)) {
    Cell changed = run.series;
    fire(ErrorId::script_invalid_arg, &changed);
  }
  return result;
}

// Puts the records in the order found, in units of the series' unit as it
// is now (a string the function widened keeps its characters' places).
void lay_down(const Run& run, uint32_t start, uint32_t record_units, const std::vector<uint32_t>& order) {
  if (!length_kept(run)) return;
  SeriesBuffer* b = buffer_of(&run.series);
  size_t record_bytes = size_t{record_units} * b->unit();
  uint8_t* base = b->head_ptr() + size_t{start} * b->unit();
  std::vector<uint8_t> before(base, base + record_bytes * order.size());
  for (size_t i = 0; i < order.size(); ++i)
    std::memcpy(base + i * record_bytes, before.data() + order[i] * record_bytes, record_bytes);
}

}  // namespace

void sort_by_function(const Cell* series, uint32_t start, uint32_t records, uint32_t record_units, bool stable,
                      RecordComparator compare, void* context) {
  if (records < 2) return;
  std::vector<uint32_t> order(records);
  std::iota(order.begin(), order.end(), 0u);
  Run run{compare, context, *series, rs_length_from_head(series)};
  try {
    if (stable) sort::merge_sort(order.data(), records, sizeof(uint32_t), &run, nullptr, compare_numbers);
    else sort::quick_sort(order.data(), records, sizeof(uint32_t), &run, nullptr, compare_numbers);
  } catch (...) {
    lay_down(run, start, record_units, order);
    throw;
  }
  lay_down(run, start, record_units, order);
}

}  // namespace kel::series
