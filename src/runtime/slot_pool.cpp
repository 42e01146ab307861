// The slot pool (see slot_pool.h).
#include "runtime/slot_pool.h"


namespace kel::slot_pool {

namespace {
NodeId pool = 0;
uint32_t slots = 0;
int32_t free_head = -1;

Cell* cells() { return memory::buffer_of(pool)->cells(); }

// Threads cells [from, to) into the free list ahead of the current head.
void thread_free(uint32_t from, uint32_t to) {
  Cell* c = cells();
  for (uint32_t i = from; i < to; ++i)
    c[i] = make_cell(TYPE_INTEGER, 0, static_cast<uint32_t>(i + 1 < to ? static_cast<int32_t>(i + 1) : free_head));
  free_head = static_cast<int32_t>(from);
}
}  // namespace

void init() {
  slots = kInitialCapacity;
  pool = memory::alloc_cells(slots);
  SeriesBuffer* b = memory::buffer_of(pool);
  b->tail = slots * sizeof(Cell);
  free_head = -1;
  thread_free(0, slots);
}

NodeId node() { return pool; }
uint32_t capacity() { return slots; }

Cell* get(uint32_t index) { return cells() + (index - 1); }

uint32_t alloc(const Cell& value) {
  if (free_head < 0) {
    uint32_t old = slots;
    slots *= 2;
    SeriesBuffer* b = memory::expand_series(memory::buffer_of(pool), slots * sizeof(Cell));
    b->tail = slots * sizeof(Cell);
    thread_free(old, slots);
  }
  auto index = static_cast<uint32_t>(free_head);
  Cell* cell = cells() + index;
  free_head = cell->int_at2();
  *cell = value;
  return index + 1;
}

void free(uint32_t index) {
  if (index == 0) return;
  *get(index) = make_cell(TYPE_INTEGER, 0, static_cast<uint32_t>(free_head));
  free_head = static_cast<int32_t>(index - 1);
}

}  // namespace kel::slot_pool
