// Appending at a buffer's tail and pattern fills (see series_tail.h).
#include "runtime/series_tail.h"

#include <algorithm>
#include <cstring>

namespace kel {

Cell* alloc_tail_grown(SeriesBuffer** buffer) {
  SeriesBuffer* b = memory::expand_series(
      *buffer, static_cast<uint32_t>(memory::grown_capacity((*buffer)->size, uint64_t{(*buffer)->used()} + sizeof(Cell))));
  *buffer = b;
  Cell* cell = reinterpret_cast<Cell*>(b->tail_ptr());
  *cell = make_cell(TYPE_UNSET);
  b->tail += sizeof(Cell);
  return cell;
}

Cell* alloc_tail_cell(const Cell* block) {
  SeriesBuffer* b = memory::buffer_of(block->data2);
  return alloc_tail(&b);
}

Cell* append_value(const Cell* block, const Cell& value) {
  Cell* cell = alloc_tail_cell(block);
  *cell = value;
  return cell;
}

uint8_t* alloc_tail_unit(SeriesBuffer** buffer, uint32_t n) {
  SeriesBuffer* b = *buffer;
  if (uint64_t{b->tail} + n > b->size) {
    // Content that does not start at the data start is moved there: the
    // new capacity holds the content and the n bytes.
    uint64_t size = memory::grown_capacity(std::max(b->size, n), uint64_t{b->used()} + n);
    b = memory::expand_series(b, static_cast<uint32_t>(size));
    *buffer = b;
  }
  uint8_t* p = b->tail_ptr();
  b->tail += n;
  return p;
}

void fill_pattern(uint8_t* buffer, uint32_t n, uint32_t count) {
  uint64_t total = uint64_t{n} * count;
  uint64_t done = n;
  while (done < total) {
    uint64_t chunk = done <= total - done ? done : total - done;
    std::memcpy(buffer + done, buffer, chunk);
    done += chunk;
  }
}

}  // namespace kel
