// Growable arrays (see array.h).
#include "runtime/array.h"

#include <cstring>

#include "runtime/series_tail.h"

namespace kel::array {

namespace {
SeriesBuffer* buffer(NodeId array) { return memory::buffer_of(array); }
uint32_t unit_of(SeriesBuffer* b) { return b->unit() == 0 ? 1 : b->unit(); }

uint8_t* reserve(NodeId array, uint32_t n) {
  SeriesBuffer* b = buffer(array);
  return alloc_tail_unit(&b, n);
}
}  // namespace

NodeId make(uint32_t count, uint32_t unit) {
  NodeId node = memory::alloc_bytes(count * unit);
  buffer(node)->set_unit(unit);
  return node;
}

uint32_t length(NodeId array) {
  SeriesBuffer* b = buffer(array);
  return b->used() / unit_of(b);
}

void clear(NodeId array) {
  SeriesBuffer* b = buffer(array);
  b->tail = b->offset;
}

void set_length(NodeId array, uint32_t n) {
  SeriesBuffer* b = buffer(array);
  uint64_t bytes = uint64_t{n} * unit_of(b);
  if (b->offset + bytes > b->size) {
    b = memory::expand_series(b, static_cast<uint32_t>(memory::grown_capacity(b->size, bytes)));
  }
  b->tail = b->offset + static_cast<uint32_t>(bytes);
}

NodeId copy(NodeId array) { return memory::copy_series(buffer(array)); }

uint8_t* data(NodeId array) { return buffer(array)->head_ptr(); }

void append_byte(NodeId array, uint8_t byte) { *reserve(array, 1) = byte; }

uint8_t pick_byte(NodeId array, uint32_t index) { return data(array)[index - 1]; }

void append_bytes(NodeId array, const uint8_t* source, uint32_t n) {
  std::memcpy(reserve(array, n), source, n);
}

void append_int(NodeId array, int32_t value) { std::memcpy(reserve(array, 4), &value, 4); }

int32_t find_int(NodeId array, int32_t value) {
  SeriesBuffer* b = buffer(array);
  for (uint32_t offset = 0; offset + 4 <= b->used(); offset += 4) {
    int32_t element;
    std::memcpy(&element, b->head_ptr() + offset, 4);
    if (element == value) return static_cast<int32_t>(offset);
  }
  return -1;
}

int32_t pick_int(NodeId array, uint32_t index) {
  int32_t value;
  std::memcpy(&value, data(array) + (index - 1) * 4, 4);
  return value;
}

void poke_int(NodeId array, uint32_t index, int32_t value) {
  std::memcpy(data(array) + (index - 1) * 4, &value, 4);
}

void append_ptr(NodeId array, const void* pointer) {
  std::memcpy(reserve(array, sizeof pointer), &pointer, sizeof pointer);
}

int32_t find_ptr(NodeId array, const void* pointer) {
  SeriesBuffer* b = buffer(array);
  for (uint32_t offset = 0; offset + sizeof pointer <= b->used(); offset += sizeof pointer) {
    const void* element;
    std::memcpy(&element, b->head_ptr() + offset, sizeof element);
    if (element == pointer) return static_cast<int32_t>(offset);
  }
  return -1;
}

void* pick_ptr(NodeId array, uint32_t index) {
  void* pointer;
  std::memcpy(&pointer, data(array) + (index - 1) * sizeof pointer, sizeof pointer);
  return pointer;
}

void remove_ptr(NodeId array, const void* pointer) {
  int32_t offset = find_ptr(array, pointer);
  if (offset >= 0) remove_at(array, static_cast<uint32_t>(offset), sizeof pointer);
}

void insert_at(NodeId array, const void* value, uint32_t position) {
  SeriesBuffer* b = buffer(array);
  uint32_t unit = unit_of(b);
  reserve(array, unit);  // grows so that any unit width fits
  b = buffer(array);
  uint8_t* at = b->head_ptr() + position * unit;
  std::memmove(at + unit, at, static_cast<size_t>(b->tail_ptr() - unit - at));
  std::memcpy(at, value, unit);
}

void remove_at(NodeId array, uint32_t byte_offset, uint32_t n) {
  SeriesBuffer* b = buffer(array);
  uint8_t* at = b->head_ptr() + byte_offset;
  std::memmove(at, at + n, static_cast<size_t>(b->tail_ptr() - (at + n)));
  b->tail -= n;
}

}  // namespace kel::array
