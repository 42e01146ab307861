// The root block: the first block made at start-up; it holds the decoded
// boot image and other values that must survive collection (the collector
// marks it first). Values are only ever appended to it.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::root {

void init();
NodeId block();
// Marks the start of the boot image's cells (root_cell 0).
void set_image_base(uint32_t cell_index);
Cell* cell(uint32_t n);
NodeId node(uint32_t n);
// Appends a value to the root block (it then lives as long as the process).
Cell* keep(const Cell& value);

}  // namespace kel::root
