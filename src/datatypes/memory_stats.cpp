// Memory statistics (see memory_stats.h for why the figures are taken
// before the report is built).
//
// The report's blocks are reached through cells copied out of their parent
// (a node id and an index), never through a Cell* into the parent's
// buffer, which moves when the parent grows.
#include "datatypes/memory_stats.h"

#include <malloc.h>

#include <limits>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "runtime/memory.h"

namespace kel::memory_stats {

Figures gather() {
  Figures figures{};
  for (const memory::NodeFrameView& frame : memory::node_frame_views()) {
    figures.node_frames.push_back(NodeFrameFigures{frame.capacity - frame.used, frame.used, frame.capacity});
    figures.total += uint64_t{frame.used} * sizeof(uintptr_t);
  }
  for (uint32_t i = 0, count = memory::series_frame_count(); i < count; ++i) {
    memory::SeriesFrameView frame = memory::series_frame_at(i);
    SeriesFrameFigures entry{static_cast<uint64_t>(frame.end - frame.allocation),
                             static_cast<uint64_t>(frame.allocation - frame.start),
                             static_cast<uint64_t>(frame.end - frame.start)};
    figures.series_frames.push_back(entry);
    figures.total += entry.used;
  }
  figures.big_frames = memory::big_frame_sizes();
  for (uint64_t size : figures.big_frames) figures.total += size;
  struct mallinfo2 heap = ::mallinfo2();
  figures.heap = heap.uordblks + heap.hblkhd;
  return figures;
}

uint64_t total_bytes() { return gather().total; }

namespace {

Cell number_cell(int64_t number) {
  if (number >= std::numeric_limits<int32_t>::min() && number <= std::numeric_limits<int32_t>::max())
    return integer::make(static_cast<int32_t>(number));
  return float_type::make(static_cast<double>(number));
}

// A new empty block appended to the parent, on a new line; answers a copy
// of its cell.
Cell append_block(const Cell* parent, size_t capacity) {
  Cell* made = block::make_in(parent, static_cast<int32_t>(capacity));
  made->set_new_line(true);
  return *made;
}

// A [a b c] entry on a new line.
void append_triple(const Cell* parent, uint64_t a, uint64_t b, uint64_t c) {
  Cell entry = append_block(parent, 3);
  for (uint64_t figure : {a, b, c}) append_number(&entry, static_cast<int64_t>(figure));
}

void append_number_on_new_line(const Cell* block, uint64_t number) {
  Cell cell = number_cell(static_cast<int64_t>(number));
  cell.set_new_line(true);
  block::rs_append(block, cell);
}

}  // namespace

void append_number(const Cell* block, int64_t number) { block::rs_append(block, number_cell(number)); }

void fill_block(const Cell* block, const Figures& figures) {
  Cell nodes = append_block(block, figures.node_frames.size());
  for (const NodeFrameFigures& f : figures.node_frames) append_triple(&nodes, f.free, f.used, f.capacity);
  Cell series = append_block(block, figures.series_frames.size());
  for (const SeriesFrameFigures& f : figures.series_frames) append_triple(&series, f.free, f.used, f.total);
  Cell big = append_block(block, figures.big_frames.size());
  for (uint64_t size : figures.big_frames) append_number_on_new_line(&big, size);
  append_number_on_new_line(block, figures.total);
  append_number_on_new_line(block, figures.heap);
}

void fill_block(const Cell* block) { fill_block(block, gather()); }

}  // namespace kel::memory_stats
