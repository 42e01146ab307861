// The slot pool: a block of value cells handed out by 1-based index, for
// runtime code that must keep values alive where the collector sees them and
// refer to them by a small number. A free cell is an integer! whose value is
// the 0-based index of the next free cell (-1 ends the list); the pool
// doubles when it runs out.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::slot_pool {

constexpr uint32_t kInitialCapacity = 100;

void init();
NodeId node();
uint32_t capacity();
// Cell of a 1-based index.
Cell* get(uint32_t index);
// Stores a copy of the value and returns its 1-based index.
uint32_t alloc(const Cell& value);
// Index 0 does nothing.
void free(uint32_t index);

}  // namespace kel::slot_pool
