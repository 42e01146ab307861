// Memory statistics: how much series memory is in use, and frame by frame
// how full the node frames, series frames and big frames are.
//
// The figures are taken in one pass over the memory manager's frames into
// plain C++ vectors, before any series is made for the report: building
// the report allocates, and the figures must describe memory as it was
// when asked, not as the report itself changed it. Nothing in the walk
// allocates series memory, so no buffer moves while it runs.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/cell.h"

namespace kel::memory_stats {

struct NodeFrameFigures {
  uint32_t free;
  uint32_t used;
  uint32_t capacity;  // free + used: the node ids the frame can hand out
};

struct SeriesFrameFigures {
  uint64_t free;   // from the allocation point to the end of the frame
  uint64_t used;   // from the start of the data area to the allocation point
  uint64_t total;  // the data area
};

struct Figures {
  std::vector<NodeFrameFigures> node_frames;      // in id order
  std::vector<SeriesFrameFigures> series_frames;  // in address order
  std::vector<uint64_t> big_frames;               // the size of each, in list order
  // Series memory in use: every used node's slot, the used part of every
  // series frame, every big frame.
  uint64_t total;
  // Bytes in use on the process's low-level heap (the runtime heap, the
  // C++ containers, anything from malloc).
  uint64_t heap;
};

Figures gather();

// The plain figure: bytes of series memory in use.
uint64_t total_bytes();

// The detailed report, appended to a block: a block of [free used
// capacity] blocks for the node frames, a block of [free used total]
// blocks for the series frames, a block of big frame sizes, then the total
// and the low-level heap figures. Every block and every frame entry starts
// on a new line. The figures are those of gather() at the call.
void fill_block(const Cell* block);
void fill_block(const Cell* block, const Figures& figures);

// Appends a number as an integer! when it fits in 32 bits, else as a
// float! (figures of several GiB).
void append_number(const Cell* block, int64_t number);

}  // namespace kel::memory_stats
