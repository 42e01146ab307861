// The root block (see root_block.h).
#include "runtime/root_block.h"

#include "runtime/series_tail.h"

namespace kel::root {
namespace {
NodeId root_node = 0;
uint32_t image_base = 0;
}  // namespace

void init() { root_node = memory::alloc_cells(1000); }
NodeId block() { return root_node; }
void set_image_base(uint32_t cell_index) { image_base = cell_index; }
Cell* cell(uint32_t n) { return memory::buffer_of(root_node)->cells() + image_base + n; }
NodeId node(uint32_t n) { return cell(n)->data2; }
Cell* keep(const Cell& value) {
  SeriesBuffer* b = memory::buffer_of(root_node);
  Cell* slot = alloc_tail(&b);
  *slot = value;
  return slot;
}

}  // namespace kel::root
