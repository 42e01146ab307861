// The memory manager's own records, shared by its files (memory.cpp and
// the heap image, memory_image.cpp): nothing outside src/runtime/memory*
// includes this header. See memory.h for the data and its invariants.
#pragma once

#include <cstdint>
#include <unordered_set>
#include <utility>
#include <vector>

#include "runtime/memory.h"

namespace kel::memory::internal {

// The node range: up to this many node frames (2 GiB of address space
// reserved, touched only as frames are used).
constexpr uint32_t kMaxNodeFrames = 26843;

struct NodeFrame {
  bool live = false;
  bool release = false;       // set when the collector evacuates the frame
  uint32_t free_head = 0;     // first free node id, 0 when none
  uint32_t used = 0;
  uint32_t stamp = 0;
  uint32_t used_at_last_collection = 0;
  uint32_t history = 0;
};

struct SeriesFrame {
  SeriesFrame* previous;
  SeriesFrame* next;
  uint64_t total;      // data size + header
  uint8_t* allocation;
  uint8_t* tail;       // end of the data area
  // The frame's number in the order frames were made (the first is 0):
  // the heap image names frames by it, as their addresses differ from one
  // process to the next.
  uint64_t serial;
  uint8_t* area() { return reinterpret_cast<uint8_t*>(this + 1); }
};
static_assert(sizeof(SeriesFrame) % 8 == 0, "buffers in a frame stay 8-byte aligned");

struct BigFrame {
  BigFrame* next;
  BigFrame* previous;
  uint64_t size;
  uint64_t reserved;
  SeriesBuffer* buffer() { return reinterpret_cast<SeriesBuffer*>(this + 1); }
};

struct State {
  bool ready = false;
  uint64_t os_bytes = 0;
  std::vector<NodeFrame> node_frames;  // index k covers ids k*10000 .. k*10000+9999
  uint32_t active_node_frame = 0;
  // The active node frame's entry, or null when the index names none; set
  // with the index and again whenever the vector may have moved, so that
  // taking a node reads no vector bounds.
  NodeFrame* active_frame = nullptr;
  SeriesFrame* series_head = nullptr;
  SeriesFrame* series_tail = nullptr;
  SeriesFrame* series_active = nullptr;
  uint32_t series_count = 0;
  uint32_t series_frames_made = 0;  // the serial of the next frame
  bool lazy_first_frame = false;    // see memory::init
  uint32_t next_frame_size = kFirstSeriesFrameSize;
  BigFrame* big_head = nullptr;
  BigFrame* big_tail = nullptr;
  uint32_t big_count = 0;
  std::unordered_set<SeriesBuffer*> fixed;  // buffers on the runtime heap
  // Nodes handed out since the last collection: how many emptied node
  // frames the next cycle will fill again, and so keeps.
  uint64_t nodes_since_collection = 0;
  // Series bytes handed out since the last collection, and how many may be
  // before the next one is requested: as many as survived the last one, at
  // least kMinCollectionBudget. A collection then always frees about as much
  // as it has to walk, and the heap stays within about twice the live data.
  uint64_t allocated_since_collection = 0;
  uint64_t collection_budget = kMinCollectionBudget;
  // Collections (sweeps) so far, and whether a bulk value's bytes were
  // taken as live since the last one (take_bulk_as_live).
  uint64_t sweeps = 0;
  bool bulk_taken_as_live = false;
  // The evacuation ring (see evacuate): its reserved range, the cursor
  // within it, whether the cursor went round once, and the guard mappings
  // left where frames made before the ring used to be.
  bool evacuating = false;
  bool poison_retired = false;  // under either stress setting
  void* ring_reservation = nullptr;
  uint8_t* ring = nullptr;
  uint64_t ring_cursor = 0;
  bool ring_wrapped = false;
  std::vector<std::pair<uint8_t*, uint64_t>> guards;
};
extern State state;

// Maps the pages of a range about to be written end to end in one call.
void populate(void* start, size_t size);
// Makes the indexed node frame the one nodes are taken from.
void set_active_node_frame(uint32_t index);
// A new node frame (its ids threaded into its free list); its index.
uint32_t new_node_frame();
// A new series frame linked into the list; need is the buffer it is made for.
SeriesFrame* new_series_frame(uint64_t need);

}  // namespace kel::memory::internal
