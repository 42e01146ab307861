// The memory manager: node frames, series frames and big frames (see
// memory.h for the data and the invariants).
//
// The node slots of all node frames lie in one reserved address range, so a
// node id indexes them directly; a node frame is the metadata (free list and
// counters) of 10000 consecutive ids. Series frames are kept in a list sorted
// by address, so the collector's compaction can slide buffers towards lower
// addresses frame by frame.
#include "runtime/memory.h"
#include "runtime/memory_internal.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "runtime/errors.h"
#include "runtime/exits.h"
#include "runtime/platform.h"
#include "runtime/runtime.h"

namespace kel::memory {


uintptr_t* node_slots = nullptr;
bool collection_requested = false;
internal::State internal::state;
using namespace internal;

// Maps the pages of a range that is about to be written from end to end
// in one call, instead of one page fault each: a start-up writes the node
// slots of its first frames and fills its first series frame at once, and
// the faults were a good part of its time. A system that cannot do it
// leaves the pages to fault in as they are touched.
void internal::populate(void* start, size_t size) {
#ifdef MADV_POPULATE_WRITE
  auto first = runtime::align_up(reinterpret_cast<uintptr_t>(start), 4096);
  auto end = (reinterpret_cast<uintptr_t>(start) + size) & ~uintptr_t{4095};
  if (end > first) ::madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
#else
  (void)start;
  (void)size;
#endif
}

namespace {

// Every OS block is preceded by 16 bytes holding its mapped size.
constexpr size_t kOsPrefix = 16;
// The heap size (every block the memory manager holds from the system) up
// to which a new block asks for huge pages (try_allocate_virtual).
constexpr uint64_t kHugePageBudget = uint64_t{32} << 20;
static_assert(kFirstSeriesFrameSize + sizeof(SeriesFrame) + kOsPrefix <= kBigThreshold &&
                  kFirstSeriesFrameSize + sizeof(SeriesFrame) + kOsPrefix > kBigThreshold - 4096,
              "the first frame's block is one huge page");

}  // namespace

bool initialised() { return state.ready; }

// --- The evacuation ring ----------------------------------------------------------
//
// Under the evacuating stress setting every frame lives in one reserved,
// inaccessible range of address space, the ring. Blocks are mapped into it
// at its cursor, which only moves forward and wraps at the end; each
// collection moves every frame that holds no pinned buffer to the cursor
// (mremap: the pages travel, nothing is copied) and gives the range it left
// back to the reservation, so a pointer into the old place faults. A range
// is handed out again only once the cursor has gone round the whole ring,
// which bounds the address space however long a run lasts. Ranges are
// multiples of 2 MiB on 2 MiB boundaries, so that huge pages move whole.

namespace {
constexpr uint64_t kRingBytes = uint64_t{64} << 30;
constexpr uint64_t kRingAlignment = uint64_t{2} << 20;

struct Range {
  uint8_t* start;
  uint64_t size;
};

uint8_t* block_of(const void* usable) {
  return const_cast<uint8_t*>(static_cast<const uint8_t*>(usable)) - kOsPrefix;
}
uint64_t block_size(const void* usable) { return *reinterpret_cast<const uint64_t*>(block_of(usable)); }

bool in_ring(const uint8_t* address) {
  return state.ring != nullptr && address >= state.ring && address < state.ring + kRingBytes;
}

// The OS blocks of every frame in use.
std::vector<Range> frame_blocks() {
  std::vector<Range> blocks;
  for (SeriesFrame* f = state.series_head; f; f = f->next) blocks.push_back({block_of(f), block_size(f)});
  for (BigFrame* f = state.big_head; f; f = f->next) blocks.push_back({block_of(f), block_size(f)});
  return blocks;
}

// A range of size bytes (a multiple of the alignment) at the cursor; once
// the ring has wrapped, past the blocks still in use. Null when the ring
// has no such room.
uint8_t* ring_take(uint64_t size, const std::vector<Range>& in_use) {
  uint64_t travelled = 0;
  while (travelled <= kRingBytes) {
    if (state.ring_cursor + size > kRingBytes) {
      travelled += kRingBytes - state.ring_cursor;
      state.ring_cursor = 0;
      state.ring_wrapped = true;
    }
    uint8_t* start = state.ring + state.ring_cursor;
    const Range* hit = nullptr;
    if (state.ring_wrapped) {
      for (const Range& r : in_use)
        if (r.start < start + size && start < r.start + r.size) hit = &r;
    }
    if (hit == nullptr) {
      state.ring_cursor += size;
      return start;
    }
    uint64_t past = runtime::align_up(static_cast<uint64_t>(hit->start + hit->size - state.ring), kRingAlignment);
    travelled += past - state.ring_cursor;
    state.ring_cursor = past;
  }
  return nullptr;
}

// Makes a ring range part of the inaccessible reservation again.
void ring_release(uint8_t* start, uint64_t size) {
  ::mmap(start, size, PROT_NONE, MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
}

// A block of size bytes mapped at the ring's cursor, or null.
uint8_t* ring_map(uint64_t size) {
  uint8_t* start = ring_take(runtime::align_up(size, kRingAlignment), frame_blocks());
  if (start == nullptr) return nullptr;
  size = runtime::align_up(size, kRingAlignment);
  if (::mmap(start, size, PROT_READ | PROT_WRITE, MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) == MAP_FAILED) {
    ring_release(start, size);
    return nullptr;
  }
  ::madvise(start, size, MADV_HUGEPAGE);
  *reinterpret_cast<uint64_t*>(start) = size;
  return start;
}
}  // namespace

namespace {
void open_ring() {
  if (state.ring != nullptr) return;
  void* ring = ::mmap(nullptr, kRingBytes + kRingAlignment, PROT_NONE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (ring == MAP_FAILED) runtime::quit(94, KEL_CALLER_ADDRESS());
  state.ring_reservation = ring;
  state.ring = reinterpret_cast<uint8_t*>(runtime::align_up(reinterpret_cast<uintptr_t>(ring), kRingAlignment));
  state.ring_cursor = 0;
  state.ring_wrapped = false;
}
}  // namespace

void set_stress(bool poison, bool evacuate) {
  state.poison_retired = poison;
  state.evacuating = evacuate;
  if (evacuate) open_ring();
}

// --- OS blocks ---------------------------------------------------------------

namespace {
// An OS block, or null when the system refuses it. huge_pages false keeps
// it on 4 KiB pages whatever the budget.
void* try_allocate_virtual(size_t size, bool huge_pages = true) {
  if (state.evacuating) {
    if (uint8_t* block = ring_map(size + kOsPrefix)) {
      state.os_bytes += block_size(block + kOsPrefix);
      return block + kOsPrefix;
    }
  }
  size_t rounded = runtime::align_up(size + kOsPrefix, 4096);
  // Huge pages while the heap is small: a program whose heap stays within
  // the budget (most, and every collection-heavy one measured) keeps the
  // fewer faults and TLB misses of huge pages all the way. Past it, blocks
  // take 4 KiB pages, each mapped when touched: where the system's memory is
  // fragmented, a huge page fault waits for the kernel to compact memory
  // (milliseconds each), which made a heap growing by hundreds of megabytes
  // take two to three times as long from one run to the next.
  huge_pages = huge_pages && state.os_bytes + rounded <= kHugePageBudget;
  void* block = nullptr;
  uint32_t caught =
      exits::catch_exits(exits::kMemoryCatch, [&] { block = platform::os_allocate(rounded, false, huge_pages); });
  if (caught != 0) {
    runtime::system().exit_code = 0;
    return nullptr;
  }
  state.os_bytes += rounded;
  *static_cast<uint64_t*>(block) = rounded;
  return static_cast<uint8_t*>(block) + kOsPrefix;
}
}  // namespace

void* allocate_virtual(size_t size, bool huge_pages) {
  void* address = try_allocate_virtual(size, huge_pages);
  if (address == nullptr) fire(ErrorId::internal_no_memory);
  return address;
}

void free_virtual(void* address) {
  uint8_t* block = static_cast<uint8_t*>(address) - kOsPrefix;
  uint64_t rounded = *reinterpret_cast<uint64_t*>(block);
  state.os_bytes -= rounded;
  if (in_ring(block)) {
    ring_release(block, rounded);
    return;
  }
  uint32_t caught = exits::catch_exits(exits::kMemoryCatch, [&] { platform::os_free(block, rounded); });
  if (caught != 0) {
    runtime::system().exit_code = 0;
    fire(ErrorId::internal_wrong_mem);
  }
}

// --- Nodes -------------------------------------------------------------------------

void internal::set_active_node_frame(uint32_t index) {
  state.active_node_frame = index;
  state.active_frame = index < state.node_frames.size() ? &state.node_frames[index] : nullptr;
}

uint32_t internal::new_node_frame() {
  // Reuse the slot of a released frame before growing the range.
  uint32_t index = 0;
  while (index < state.node_frames.size() && state.node_frames[index].live) ++index;
  if (index >= kMaxNodeFrames) fire(ErrorId::internal_no_memory);
  if (index == state.node_frames.size()) state.node_frames.emplace_back();
  NodeFrame& frame = state.node_frames[index];
  frame = NodeFrame{};
  frame.live = true;
  uint32_t first = index * kNodesPerFrame;
  uint32_t last = first + kNodesPerFrame - 1;
  // Thread every node into the free list, lowest id first; id 0 stays null.
  uint32_t start = first == 0 ? 1 : first;
  populate(node_slots + first, kNodesPerFrame * sizeof(uintptr_t));
  // Two links at a time in a two-lane vector (start-up threads several
  // frames): the slot of id holds (id + 1) << 1 | 1, so each pair of links
  // is the one before it plus 4.
  using Links = uint64_t __attribute__((vector_size(16)));
  static_assert(sizeof(uintptr_t) == sizeof(uint64_t), "a node slot is a 64-bit word");
  uint32_t id = start;
  Links links = {(uint64_t{id} + 1) << 1 | 1, (uint64_t{id} + 2) << 1 | 1};
  const Links step = {4, 4};
  for (; id + 2 <= last; id += 2, links += step) std::memcpy(node_slots + id, &links, sizeof links);
  for (; id < last; ++id) node_slots[id] = (static_cast<uintptr_t>(id + 1) << 1) | 1;
  node_slots[last] = 1;
  frame.free_head = start;
  state.os_bytes += runtime::align_up(uint64_t{kNodesPerFrame} * sizeof(uintptr_t), 4096);
  // The vector may have moved: the active frame's entry is found again.
  set_active_node_frame(state.active_node_frame);
  return index;
}

namespace {
void release_node_frame(uint32_t index) {
  NodeFrame& frame = state.node_frames[index];
  frame.live = false;
  uintptr_t* begin = node_slots + uint64_t{index} * kNodesPerFrame;
  // Give whole pages back to the OS; what remains reads as zero later.
  auto start = runtime::align_up(reinterpret_cast<uintptr_t>(begin), 4096);
  auto end = reinterpret_cast<uintptr_t>(begin + kNodesPerFrame) & ~uintptr_t{4095};
  std::memset(begin, 0, kNodesPerFrame * sizeof(uintptr_t));
  if (end > start) ::madvise(reinterpret_cast<void*>(start), end - start, MADV_DONTNEED);
  state.os_bytes -= runtime::align_up(uint64_t{kNodesPerFrame} * sizeof(uintptr_t), 4096);
}
}  // namespace

namespace {
// The frame to hand out nodes from: the first one in use with a free node;
// failing that, the first empty one that a collection kept; none (the
// number of frames) when every frame is full. Frames in use go first, so
// that the empty ones stay empty and can go when they are not needed.
uint32_t frame_with_free_node() {
  uint32_t empty = static_cast<uint32_t>(state.node_frames.size());
  for (uint32_t i = 0; i < state.node_frames.size(); ++i) {
    const NodeFrame& f = state.node_frames[i];
    if (!f.live || f.release || f.free_head == 0) continue;
    if (f.used > 0) return i;
    if (empty == state.node_frames.size()) empty = i;
  }
  return empty;
}
}  // namespace

namespace {
// The frame to take a node from when the active one has none left (or is
// gone): another with a free node, else a new one.
[[gnu::noinline]] NodeFrame* pick_node_frame() {
  uint32_t index = frame_with_free_node();
  if (index == state.node_frames.size()) index = new_node_frame();
  set_active_node_frame(index);
  return state.active_frame;
}

// Whether a node can be taken from the frame without looking further.
inline bool has_free_node(const NodeFrame* frame) {
  return frame != nullptr && frame->live && frame->free_head != 0;
}

// The first node off a frame's free list, its slot 0 until its buffer is linked.
[[gnu::always_inline]] inline NodeId pop_node(NodeFrame* frame) {
  NodeId node = frame->free_head;
  frame->free_head = static_cast<uint32_t>(node_slots[node] >> 1);
  node_slots[node] = 0;
  ++frame->used;
  ++state.nodes_since_collection;
  return node;
}

// A node off the active frame's free list: inline in every allocation.
[[gnu::always_inline]] inline NodeId take_node() {
  NodeFrame* frame = state.active_frame;
  if (!has_free_node(frame)) [[unlikely]] frame = pick_node_frame();
  return pop_node(frame);
}
}  // namespace

NodeId alloc_node() { return take_node(); }

void free_node(NodeId node) {
  NodeFrame& frame = state.node_frames[node / kNodesPerFrame];
  node_slots[node] = (static_cast<uintptr_t>(frame.free_head) << 1) | 1;
  frame.free_head = node;
  --frame.used;
}

// --- Series frames -------------------------------------------------------------

namespace {
// Links a frame into the frame list, which stays sorted by address.
void insert_series_frame(SeriesFrame* frame) {
  SeriesFrame* after = state.series_tail;
  while (after && after > frame) after = after->previous;
  frame->previous = after;
  frame->next = after ? after->next : state.series_head;
  if (frame->next) frame->next->previous = frame;
  else state.series_tail = frame;
  if (after) after->next = frame;
  else state.series_head = frame;
  ++state.series_count;
}

// Makes an empty frame of size data bytes at an OS block's usable address
// and links it into the list.
SeriesFrame* link_series_frame(void* address, uint32_t size) {
  auto* frame = static_cast<SeriesFrame*>(address);
  frame->total = size + sizeof(SeriesFrame);
  frame->allocation = frame->area();
  frame->tail = frame->area() + size;
  frame->serial = state.series_frames_made++;
  insert_series_frame(frame);
  return frame;
}

}  // namespace

// A new frame; need is the buffer it is made for. In the evacuation ring a
// frame's block fills whole huge pages: one, unless the buffer needs more.
internal::SeriesFrame* internal::new_series_frame(uint64_t need) {
  uint32_t size = state.next_frame_size;
  bool first = state.series_count == 0;
  if (size < kBigThreshold) state.next_frame_size = std::min(size * 2, kBigThreshold);
  if (first && size == kFirstSeriesFrameSize) state.next_frame_size = kSecondSeriesFrameSize;
  if (state.evacuating) {
    constexpr uint64_t kOverhead = kOsPrefix + sizeof(SeriesFrame);
    size = static_cast<uint32_t>(runtime::align_up(need + 1 + kOverhead, kRingAlignment) - kOverhead);
  }
  // A first frame that the image's pages will be mapped over never asks
  // for a huge page.
  const bool lazy_first = first && !state.evacuating && state.lazy_first_frame;
  void* block = allocate_virtual(size + sizeof(SeriesFrame), !lazy_first);
  // The first frame, one huge page, fills at start-up: it is mapped at once,
  // unless the image's pages will be mapped over it (a system that gives
  // huge pages unasked is then told not to there). The later frames fill as
  // a program goes, a fault per page (a huge page while the heap is within
  // the huge page budget).
  if (lazy_first) {
    ::madvise(static_cast<uint8_t*>(block) - kOsPrefix, size + sizeof(SeriesFrame) + kOsPrefix, MADV_NOHUGEPAGE);
  } else if (first && !state.evacuating) {
    populate(block, size + sizeof(SeriesFrame));
  }
  return link_series_frame(block, size);
}

namespace {
// Takes a frame out of the list without releasing its memory.
void unlink_series_frame(SeriesFrame* frame) {
  if (frame->previous) frame->previous->next = frame->next;
  else state.series_head = frame->next;
  if (frame->next) frame->next->previous = frame->previous;
  else state.series_tail = frame->previous;
  if (state.series_active == frame) state.series_active = state.series_tail;
  --state.series_count;
}

void free_series_frame(SeriesFrame* frame) {
  unlink_series_frame(frame);
  free_virtual(frame);
}

// The first frame in address order with room for need and at least
// kMinFrameRoom free. Settling for the first frame with room for need alone
// would find a nearly full frame ahead of the roomy ones and make a new
// frame at every fill; since compaction never moves buffers between frames,
// a few long-lived buffers in each would then hold ever more frames.
SeriesFrame* find_series_frame(uint64_t need) {
  uint64_t wanted = std::max<uint64_t>(need, kMinFrameRoom);
  for (SeriesFrame* f = state.series_head; f; f = f->next)
    if (f->allocation + wanted < f->tail) return f;
  return nullptr;
}

// Makes a big frame for a buffer of need bytes (header included) at an OS
// block's usable address and appends it to the list.
BigFrame* link_big(void* address, uint64_t need) {
  auto* frame = static_cast<BigFrame*>(address);
  frame->size = need;
  frame->next = nullptr;
  frame->previous = state.big_tail;
  if (state.big_tail) state.big_tail->next = frame;
  else state.big_head = frame;
  state.big_tail = frame;
  ++state.big_count;
  return frame;
}

BigFrame* alloc_big(uint64_t need) { return link_big(allocate_virtual(need + sizeof(BigFrame)), need); }

void unlink_big(BigFrame* frame) {
  if (frame->previous) frame->previous->next = frame->next;
  else state.big_head = frame->next;
  if (frame->next) frame->next->previous = frame->previous;
  else state.big_tail = frame->previous;
  --state.big_count;
}

void free_big(SeriesBuffer* buffer) {
  auto* frame = reinterpret_cast<BigFrame*>(buffer) - 1;
  unlink_big(frame);
  free_virtual(frame);
}

// A buffer that a resize left behind: its node no longer refers to it. Big
// and fixed buffers are released at once; a buffer in a series frame stays
// until compaction reclaims its space.
void retire(SeriesBuffer* old) {
  old->node = 0;
  old->flags &= ~series_flags::kInUse;
  if (old->flags & series_flags::kBig) {
    free_big(old);
  } else if (old->flags & series_flags::kFixed) {
    state.fixed.erase(old);
    runtime::free(old);
  } else if (state.poison_retired) {
    // Under stress a pointer kept across the growth reads garbage at once.
    std::memset(old->data(), 0xDD, old->size);
  }
}
}  // namespace

void init(bool lazy_first_frame) {
  if (state.ready) return;
  // The range is reserved, not committed. Its pages are 4 KiB ones,
  // mapped a frame's slots at a time as node frames are made (see
  // populate): start-up makes two frames, 160 KiB of slots, which map in
  // less time than a huge page there took to be zeroed whole.
  size_t range = size_t{kMaxNodeFrames} * kNodesPerFrame * sizeof(uintptr_t);
  void* p = ::mmap(nullptr, range, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) runtime::quit(94, KEL_CALLER_ADDRESS());
  node_slots = static_cast<uintptr_t*>(p);
  state = State{};
  state.ready = true;
  new_node_frame();
  state.lazy_first_frame = lazy_first_frame;
  state.series_active = new_series_frame(0);
}

void shutdown() {
  if (!state.ready) return;
  while (state.series_head) free_series_frame(state.series_head);
  while (state.big_head) free_big(state.big_head->buffer());
  for (const auto& [start, size] : state.guards) ::munmap(start, size);
  if (state.ring_reservation) ::munmap(state.ring_reservation, kRingBytes + kRingAlignment);
  ::munmap(node_slots, size_t{kMaxNodeFrames} * kNodesPerFrame * sizeof(uintptr_t));
  node_slots = nullptr;
  state = State{};
}

// --- Buffers ---------------------------------------------------------------------

void check_series_size(uint64_t bytes) {
  if (bytes > kMaxSeriesBytes) fire(ErrorId::internal_no_memory);
}

uint64_t grown_capacity(uint64_t current, uint64_t needed) {
  check_series_size(needed);
  uint64_t doubled = current > kMaxSeriesBytes ? kMaxSeriesBytes : current * 2;
  return std::min(kMaxSeriesBytes, std::max(needed, doubled));
}

namespace {
// The frame space of a buffer of need bytes that does not fit the active
// frame (or a big frame of its own): the rare part of an allocation, kept
// out of the common path below.
[[gnu::noinline]] SeriesBuffer* place_elsewhere(uint64_t need, uint32_t* big) {
  if (need >= kBigThreshold) {
    *big = series_flags::kBig;
    return alloc_big(need)->buffer();
  }
  SeriesFrame* frame = find_series_frame(need);
  if (frame == nullptr) {
    if (need >= state.next_frame_size) state.next_frame_size = kBigThreshold;
    frame = new_series_frame(need);
  }
  state.series_active = frame;
  auto* buffer = reinterpret_cast<SeriesBuffer*>(frame->allocation);
  frame->allocation += need;
  return buffer;
}

// The header of a new buffer of the capacity, for the node (0 when it has
// none yet).
[[gnu::always_inline]] inline void start_buffer(SeriesBuffer* buffer, uint32_t unit, uint32_t big, uint64_t capacity,
                                                int32_t offset, NodeId node) {
  uint32_t flags = unit | series_flags::kInUse | big | series_flags::kFresh;
  uint32_t start = 0;
  if (offset == -1) {
    flags |= series_flags::kStartedInMiddle;
    start = static_cast<uint32_t>(capacity / 2);
  } else if (offset > 0) {
    start = static_cast<uint32_t>(offset);
  }
  buffer->flags = flags;
  buffer->node = node;
  buffer->size = static_cast<uint32_t>(capacity);
  buffer->offset = start;
  buffer->tail = start;
  buffer->pins = 0;
}

// Counts a new buffer's bytes against the collection budget.
[[gnu::always_inline]] inline void count_allocation(uint64_t need) {
  state.allocated_since_collection += need;
  if (state.allocated_since_collection >= state.collection_budget) collection_requested = true;
}

// A new buffer: most are small and fit the active frame, which takes a
// bump of its allocation pointer (start-up makes tens of thousands).
[[gnu::always_inline]] inline SeriesBuffer* new_buffer(uint32_t count, uint32_t unit, int32_t offset) {
  uint64_t capacity = runtime::align_up(uint64_t{count} * unit, 16);
  check_series_size(capacity);
  uint64_t need = capacity + sizeof(SeriesBuffer);
  SeriesBuffer* buffer;
  uint32_t big = 0;
  count_allocation(need);
  SeriesFrame* frame = state.series_active;
  if (need < kBigThreshold && frame && frame->allocation + need < frame->tail) [[likely]] {
    buffer = reinterpret_cast<SeriesBuffer*>(frame->allocation);
    frame->allocation += need;
  } else {
    buffer = place_elsewhere(need, &big);
  }
  start_buffer(buffer, unit, big, capacity, offset, 0);
  return buffer;
}

// A series whose node or buffer the active frames cannot give at once.
[[gnu::noinline]] NodeId alloc_series_elsewhere(uint32_t count, uint32_t unit, int32_t offset) {
  NodeId node = take_node();
  // The node must never hold 0 while a collection could look at it: link
  // both ways before anything else happens.
  SeriesBuffer* buffer = new_buffer(count, unit, offset);
  buffer->node = node;
  set_buffer(node, buffer);
  return node;
}
}  // namespace

SeriesBuffer* alloc_series_buffer(uint32_t count, uint32_t unit, int32_t offset) {
  return new_buffer(count, unit, offset);
}

NodeId alloc_series(uint32_t count, uint32_t unit, int32_t offset) {
  // The common case takes no call and saves no register: a small buffer
  // that the active series frame has room for, and a free node in the
  // active node frame.
  uint64_t capacity = runtime::align_up(uint64_t{count} * unit, 16);
  uint64_t need = capacity + sizeof(SeriesBuffer);
  NodeFrame* nodes = state.active_frame;
  SeriesFrame* frame = state.series_active;
  if (need < kBigThreshold && frame != nullptr && frame->allocation + need < frame->tail && has_free_node(nodes))
      [[likely]] {
    NodeId node = pop_node(nodes);
    count_allocation(need);
    auto* buffer = reinterpret_cast<SeriesBuffer*>(frame->allocation);
    frame->allocation += need;
    start_buffer(buffer, unit, 0, capacity, offset, node);
    set_buffer(node, buffer);
    return node;
  }
  return alloc_series_elsewhere(count, unit, offset);
}

NodeId alloc_fixed_series(uint32_t count, uint32_t unit, int32_t offset) {
  uint64_t capacity = runtime::align_up(uint64_t{count} * unit, 16);
  check_series_size(capacity);
  auto* buffer = static_cast<SeriesBuffer*>(runtime::allocate(capacity + sizeof(SeriesBuffer)));
  buffer->flags = unit | 0xA0100000u;
  buffer->size = static_cast<uint32_t>(capacity);
  buffer->pins = 0;
  uint32_t start = offset == -1 ? static_cast<uint32_t>(capacity / 2) : offset > 0 ? offset : 0;
  if (offset == -1) buffer->flags |= series_flags::kStartedInMiddle;
  buffer->offset = buffer->tail = start;
  NodeId node = alloc_node();
  buffer->node = node;
  set_buffer(node, buffer);
  state.fixed.insert(buffer);
  return node;
}

NodeId alloc_cells(uint32_t count) { return alloc_series(count, sizeof(Cell), 0); }

NodeId alloc_unset_cells(uint32_t count) {
  NodeId node = alloc_series(count, sizeof(Cell), 0);
  SeriesBuffer* buffer = buffer_of(node);
  Cell* cells = reinterpret_cast<Cell*>(buffer->data());
  for (uint32_t i = 0; i < count; ++i) cells[i] = make_cell(TYPE_UNSET);
  return node;
}

NodeId alloc_bytes(uint32_t count) { return alloc_series(count == 0 ? 16 : count, 1, 0); }

NodeId alloc_codepoints(uint32_t count, uint32_t unit) {
  if (count == 0) count = 16 / unit;
  return alloc_series(count, unit, 0);
}

NodeId alloc_bytes_filled(uint32_t count, uint8_t byte) {
  NodeId node = alloc_bytes(count);
  SeriesBuffer* buffer = buffer_of(node);
  std::memset(buffer->data(), byte, count);
  buffer->tail = count;
  return node;
}

SeriesBuffer* resize_series_buffer(SeriesBuffer* buffer, uint32_t new_size) {
  // 0 asks for the next step of growth: twice the capacity, capped at the
  // series limit; a buffer already there cannot grow.
  uint64_t size = new_size == 0 ? grown_capacity(buffer->size, uint64_t{buffer->size} + 1) : new_size;
  check_series_size(size);
  uint32_t unit = buffer->unit() == 0 ? 1 : buffer->unit();
  NodeId node = buffer->node;
  uint32_t used = buffer->used();
  SeriesBuffer* fresh;
  if (buffer->flags & series_flags::kFixed) {
    uint64_t capacity = runtime::align_up(size, 16);
    fresh = static_cast<SeriesBuffer*>(runtime::allocate(capacity + sizeof(SeriesBuffer)));
    fresh->size = static_cast<uint32_t>(capacity);
    fresh->flags = buffer->flags;
    state.fixed.insert(fresh);
  } else {
    fresh = alloc_series_buffer(static_cast<uint32_t>((size + unit - 1) / unit), unit, 0);
    uint32_t big = fresh->flags & series_flags::kBig;
    fresh->flags = (buffer->flags & ~series_flags::kBig) | big;
  }
  fresh->node = node;
  fresh->pins = buffer->pins;
  fresh->offset = 0;
  fresh->tail = used;
  if (fresh->tail > fresh->size) fresh->tail = fresh->size;
  if (node) set_buffer(node, fresh);
  // The content is not copied here: the caller fills the new buffer, so the
  // old one may only be reclaimed afterwards (expand_series copies first).
  buffer->node = 0;
  buffer->flags &= ~series_flags::kInUse;
  return fresh;
}

SeriesBuffer* expand_series(SeriesBuffer* buffer, uint32_t new_size) {
  uint32_t used = buffer->used();
  uint32_t flags = buffer->flags;
  uint8_t* from = buffer->head_ptr();
  SeriesBuffer* fresh = resize_series_buffer(buffer, new_size);
  uint32_t copied = used < fresh->size ? used : fresh->size;
  std::memcpy(fresh->data(), from, copied);
  fresh->tail = copied;
  buffer->flags = flags & ~series_flags::kInUse;
  retire(buffer);
  return fresh;
}

SeriesBuffer* expand_series_filled(SeriesBuffer* buffer, uint32_t new_size, uint8_t byte) {
  SeriesBuffer* fresh = expand_series(buffer, new_size);
  std::memset(fresh->tail_ptr(), byte, fresh->size - fresh->tail);
  return fresh;
}

NodeId copy_series(SeriesBuffer* buffer) {
  NodeId source = buffer->node;
  uint32_t capacity = buffer->size;
  NodeId node = alloc_bytes(capacity);
  // Collections happen only at safe points, so the source has not moved;
  // still, read it through its node when it has one.
  SeriesBuffer* from = source ? buffer_of(source) : buffer;
  SeriesBuffer* to = buffer_of(node);
  uint32_t big = to->flags & series_flags::kBig;
  to->flags = (from->flags & ~(series_flags::kBig | series_flags::kFixed | series_flags::kMark)) |
              series_flags::kInUse | big;
  uint32_t used = from->used();
  std::memcpy(to->data(), from->head_ptr(), used);
  to->offset = 0;
  to->tail = used;
  to->pins = 0;
  return node;
}

// --- Statistics -------------------------------------------------------------------

Usage usage() {
  Usage u{};
  u.os_bytes = state.os_bytes;
  for (const NodeFrame& f : state.node_frames) {
    if (!f.live) continue;
    ++u.node_frames;
    u.nodes_used += f.used;
  }
  for (SeriesFrame* f = state.series_head; f; f = f->next) {
    ++u.series_frames;
    u.series_bytes_used += static_cast<uint64_t>(f->allocation - f->area());
  }
  u.big_frames = state.big_count;
  return u;
}

void collect_node_frames() {
  // Frames that emptied are kept while the nodes they hold stay within what
  // the last cycle handed out: a program that makes and drops many small
  // series would otherwise give their pages back at every collection and
  // fault them in and thread their free lists again right after.
  uint64_t kept_nodes = 0;
  for (uint32_t i = 0; i < state.node_frames.size(); ++i) {
    NodeFrame& f = state.node_frames[i];
    if (!f.live) continue;
    if (f.used == 0 && !f.release && kept_nodes + kNodesPerFrame <= state.nodes_since_collection) {
      kept_nodes += kNodesPerFrame;
    } else if (f.used == 0 || f.release) {
      release_node_frame(i);
      continue;
    }
    f.history = (f.history << 1) | (f.used == f.used_at_last_collection ? 1 : 0);
    f.used_at_last_collection = f.used;
  }
  set_active_node_frame(frame_with_free_node());
  state.nodes_since_collection = 0;
}

namespace {
constexpr uint32_t kHeader = sizeof(SeriesBuffer);

// A buffer is alive when it is marked and still the buffer of its node.
bool alive(SeriesBuffer* b) {
  return (b->flags & series_flags::kMark) && b->node != 0 && buffer_of(b->node) == b;
}

// Frees a dead buffer's node, unless a resize already gave the node away.
void release_node(SeriesBuffer* b) {
  if (b->node != 0 && buffer_of(b->node) == b) free_node(b->node);
}

// The end of every sweep: the fixed buffers on the runtime heap (which
// never move), then the budget up to the next collection.
void finish_sweep(SweepResult& result, uint64_t live_bytes) {
  std::vector<SeriesBuffer*> dead;
  for (SeriesBuffer* b : state.fixed) {
    if (alive(b)) b->flags &= ~series_flags::kMark;
    else dead.push_back(b);
  }
  for (SeriesBuffer* b : dead) {
    release_node(b);
    state.fixed.erase(b);
    ++result.freed_buffers;
    runtime::free(b);
  }
  state.allocated_since_collection = 0;
  state.collection_budget = std::max<uint64_t>(live_bytes, kMinCollectionBudget);
  ++state.sweeps;
  state.bulk_taken_as_live = false;
}
}  // namespace

BulkMark bulk_mark() { return {state.allocated_since_collection, state.sweeps}; }

void take_bulk_as_live(const BulkMark& mark) {
  if (state.sweeps != mark.sweeps || state.bulk_taken_as_live) return;
  if (mark.allocated >= state.collection_budget || state.allocated_since_collection < state.collection_budget) return;
  // The budget a collection finding the bulk alive would have set, counted
  // from now.
  uint64_t bulk = state.allocated_since_collection - mark.allocated;
  state.collection_budget = state.allocated_since_collection + std::max(state.collection_budget, bulk);
  state.bulk_taken_as_live = true;
  collection_requested = false;
}

namespace {
// The sweep; keep_empty keeps frames that it empties, as many as the next
// collection budget would fill again.
SweepResult sweep_frames(bool poison, bool keep_empty) {
  SweepResult result{};
  uint64_t live_bytes = 0;
  uint64_t kept_empty_bytes = 0;
  for (SeriesFrame* f = state.series_head; f;) {
    SeriesFrame* next = f->next;
    uint8_t* read = f->area();
    uint8_t* write = f->area();
    while (read < f->allocation) {
      auto* b = reinterpret_cast<SeriesBuffer*>(read);
      uint32_t stride = b->size + kHeader;
      if (alive(b)) {
        b->flags &= ~series_flags::kMark;
        if (b->pins > 0) {
          // A pinned buffer stays; the gap before it becomes one dead
          // buffer, so that the frame can still be walked buffer by buffer.
          if (write < read) {
            auto* filler = reinterpret_cast<SeriesBuffer*>(write);
            *filler = SeriesBuffer{0, 0, static_cast<uint32_t>(read - write) - kHeader, 0, 0, 0};
          }
          write = read + stride;
        } else {
          if (write != read) {
            std::memmove(write, read, stride);
            set_buffer(reinterpret_cast<SeriesBuffer*>(write)->node, reinterpret_cast<SeriesBuffer*>(write));
            result.moved_bytes += stride;
          }
          write += stride;
        }
      } else {
        release_node(b);
        ++result.freed_buffers;
        result.freed_bytes += stride;
      }
      read += stride;
    }
    if (poison && write < f->allocation) std::memset(write, 0xDD, static_cast<size_t>(f->allocation - write));
    f->allocation = write;
    live_bytes += static_cast<uint64_t>(write - f->area());
    if (write == f->area()) {
      // Empty frames within the budget are kept: the allocations up to the
      // next collection would map them again (under plain poisoning they
      // go, so that a stale pointer into them faults; evacuation keeps them
      // poisoned). The first frame always stays, but when empty it counts
      // against the budget like the others (new frames may be mapped below
      // the old ones and so become the first); each frame counts with all
      // the memory it maps, so that the empty frames kept never hold more
      // than the budget.
      uint64_t room = runtime::align_up(f->total + kOsPrefix, 4096);
      if (f == state.series_head || (keep_empty && kept_empty_bytes + room <= state.collection_budget)) {
        kept_empty_bytes += room;
      } else {
        free_series_frame(f);
      }
    }
    f = next;
  }
  if (state.series_active == nullptr) state.series_active = state.series_head;
  for (BigFrame* big = state.big_head; big;) {
    BigFrame* next = big->next;
    SeriesBuffer* b = big->buffer();
    if (alive(b)) {
      b->flags &= ~series_flags::kMark;
      live_bytes += b->size;
    } else {
      release_node(b);
      ++result.freed_buffers;
      result.freed_bytes += b->size;
      free_big(b);
    }
    big = next;
  }
  finish_sweep(result, live_bytes);
  return result;
}
}  // namespace

// Under poisoning emptied frames go, so that a stale pointer into them
// faults.
SweepResult sweep(bool poison) { return sweep_frames(poison, !poison); }

// --- Evacuation --------------------------------------------------------------------

namespace {
bool holds_pinned_buffer(SeriesFrame* frame) {
  for (uint8_t* at = frame->area(); at < frame->allocation;) {
    auto* b = reinterpret_cast<SeriesBuffer*>(at);
    if (b->pins > 0 && b->node != 0 && buffer_of(b->node) == b) return true;
    at += b->size + kHeader;
  }
  return false;
}

// Keeps a released range inaccessible, so that the system does not hand it
// out again while stale pointers into it may still be used.
void guard_range(uint8_t* start, uint64_t size) {
  if (::mmap(start, size, PROT_NONE, MAP_FIXED_NOREPLACE | MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0) == start)
    state.guards.emplace_back(start, size);
}

// Copies the unpinned live buffers of a frame that cannot move whole to a
// frame of fresh memory; their old places become dead buffers with
// poisoned data, so the frame can still be walked. False when fresh memory
// ran out before every such buffer left.
bool copy_out_unpinned(SeriesFrame* frame, SeriesFrame*& spill, SweepResult& result) {
  for (uint8_t* at = frame->area(); at < frame->allocation;) {
    auto* b = reinterpret_cast<SeriesBuffer*>(at);
    uint32_t stride = b->size + kHeader;
    at += stride;
    if (b->pins > 0 || b->node == 0 || buffer_of(b->node) != b) continue;
    if (spill == nullptr || !(spill->allocation + stride < spill->tail)) {
      void* usable = try_allocate_virtual(kBigThreshold + sizeof(SeriesFrame));
      if (usable == nullptr) return false;
      spill = link_series_frame(usable, kBigThreshold);
    }
    auto* copy = reinterpret_cast<SeriesBuffer*>(spill->allocation);
    spill->allocation += stride;
    std::memcpy(copy, b, stride);
    set_buffer(b->node, copy);
    b->node = 0;
    b->flags &= ~series_flags::kInUse;
    std::memset(b->data(), 0xDD, b->size);
    result.moved_bytes += stride;
  }
  return true;
}

// Moves a ring block to the ring's cursor and returns how far it went (0
// when it could not move); the range it left is the reservation again.
ptrdiff_t move_block(void* usable, const std::vector<Range>& in_use) {
  uint8_t* block = block_of(usable);
  uint64_t size = block_size(usable);
  uint8_t* target = ring_take(size, in_use);
  if (target == nullptr) return 0;
  if (::mremap(block, size, size, MREMAP_MAYMOVE | MREMAP_FIXED, target) == MAP_FAILED) return 0;
  ring_release(block, size);
  return target - block;
}

// Points the nodes of the buffers of a frame that moved by distance at
// their new places.
void follow_moved_frame(SeriesFrame* frame, ptrdiff_t distance) {
  frame->allocation += distance;
  frame->tail += distance;
  for (uint8_t* at = frame->area(); at < frame->allocation;) {
    auto* b = reinterpret_cast<SeriesBuffer*>(at);
    at += b->size + kHeader;
    if (b->node != 0 && node_slots[b->node] == reinterpret_cast<uintptr_t>(b) - distance) set_buffer(b->node, b);
  }
}

// Rebuilds a frame list from its frames, in the order given.
template <class Frame>
void relink_frames(const std::vector<Frame*>& frames, Frame*& head, Frame*& tail, uint32_t& count) {
  head = tail = nullptr;
  count = 0;
  for (Frame* f : frames) {
    f->previous = tail;
    f->next = nullptr;
    if (tail) tail->next = f;
    else head = f;
    tail = f;
    ++count;
  }
}

// Series frames stay in address order.
void relink_series_frames(std::vector<SeriesFrame*>& frames) {
  std::sort(frames.begin(), frames.end());
  relink_frames(frames, state.series_head, state.series_tail, state.series_count);
}

void relink_big_frames(const std::vector<BigFrame*>& frames) {
  relink_frames(frames, state.big_head, state.big_tail, state.big_count);
}

void evacuate_series_frames(SweepResult& result, const std::vector<Range>& in_use) {
  // Frames that cannot move whole (those made before the ring, and those
  // that keep a pinned buffer) give up their other buffers by copy first,
  // while the frame list is still whole; one left with nothing is released
  // and its range guarded.
  std::vector<SeriesFrame*> before;
  for (SeriesFrame* f = state.series_head; f; f = f->next) before.push_back(f);
  std::vector<SeriesFrame*> staying;
  SeriesFrame* spill = nullptr;
  for (SeriesFrame* f : before) {
    bool pinned = holds_pinned_buffer(f);
    if (!pinned && in_ring(block_of(f))) continue;
    bool emptied = copy_out_unpinned(f, spill, result) && !pinned;
    if (!emptied) {
      staying.push_back(f);
      continue;
    }
    uint8_t* block = block_of(f);
    uint64_t size = block_size(f);
    bool outside = !in_ring(block);
    free_series_frame(f);
    if (outside) guard_range(block, size);
  }
  // The others move whole; an empty one has nothing to hide.
  std::vector<SeriesFrame*> frames;
  for (SeriesFrame* f = state.series_head; f; f = f->next) frames.push_back(f);
  for (SeriesFrame*& f : frames) {
    if (f == spill || f->allocation == f->area() ||
        std::find(staying.begin(), staying.end(), f) != staying.end())
      continue;
    ptrdiff_t distance = move_block(f, in_use);
    if (distance == 0) continue;
    bool active = state.series_active == f;
    f = reinterpret_cast<SeriesFrame*>(reinterpret_cast<uint8_t*>(f) + distance);
    follow_moved_frame(f, distance);
    if (active) state.series_active = f;
    result.moved_bytes += static_cast<uint64_t>(f->allocation - f->area());
  }
  relink_series_frames(frames);
  if (state.series_active == nullptr) state.series_active = state.series_tail;
}

void evacuate_big_frames(SweepResult& result, const std::vector<Range>& in_use) {
  std::vector<BigFrame*> frames;
  for (BigFrame* f = state.big_head; f; f = f->next) frames.push_back(f);
  for (BigFrame*& f : frames) {
    SeriesBuffer* b = f->buffer();
    if (b->pins > 0) continue;
    if (in_ring(block_of(f))) {
      ptrdiff_t distance = move_block(f, in_use);
      if (distance == 0) continue;
      f = reinterpret_cast<BigFrame*>(reinterpret_cast<uint8_t*>(f) + distance);
    } else {
      // Made before the ring: copied into it once.
      void* usable = try_allocate_virtual(f->size + sizeof(BigFrame));
      if (usable == nullptr) continue;
      auto* copy = static_cast<BigFrame*>(usable);
      copy->size = f->size;
      std::memcpy(copy->buffer(), b, f->size);
      uint8_t* block = block_of(f);
      uint64_t size = block_size(f);
      free_virtual(f);
      guard_range(block, size);
      f = copy;
    }
    set_buffer(f->buffer()->node, f->buffer());
    result.moved_bytes += f->size;
  }
  relink_big_frames(frames);
}
}  // namespace

SweepResult evacuate() {
  // Frames that the sweep empties stay where they are (they hold no buffer
  // to move), poisoned, rather than having new ones mapped soon after.
  SweepResult result = sweep_frames(true, true);
  open_ring();
  std::vector<Range> in_use = frame_blocks();
  evacuate_series_frames(result, in_use);
  evacuate_big_frames(result, in_use);
  return result;
}

uint32_t series_frame_count() { return state.series_count; }

SeriesFrameView series_frame_at(uint32_t index) {
  SeriesFrame* f = state.series_head;
  while (f && index--) f = f->next;
  if (!f) return SeriesFrameView{nullptr, nullptr, nullptr};
  return SeriesFrameView{f->area(), f->allocation, f->tail};
}

std::vector<NodeFrameView> node_frame_views() {
  std::vector<NodeFrameView> views;
  for (uint32_t i = 0; i < state.node_frames.size(); ++i) {
    const NodeFrame& f = state.node_frames[i];
    if (!f.live) continue;
    views.push_back(NodeFrameView{f.used, i == 0 ? kNodesPerFrame - 1 : kNodesPerFrame});
  }
  return views;
}

std::vector<uint64_t> big_frame_sizes() {
  std::vector<uint64_t> sizes;
  for (BigFrame* f = state.big_head; f; f = f->next) sizes.push_back(f->size);
  return sizes;
}

}  // namespace kel::memory
