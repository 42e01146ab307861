// The memory manager: series nodes, series buffers and the frames they live
// in.
//
// Every series of the language (blocks, strings, binaries, vectors, contexts,
// hash tables, images) keeps its data in a series buffer. Values never point
// at a buffer: a series cell holds a 32-bit node id, and node slot n holds the
// current address of the buffer. Buffers can therefore move (when a series
// grows, and when the collector compacts) without touching the cells.
//
//   node id 0        null
//   node slot        the buffer's address; a free node holds (next free id << 1) | 1
//   node frame       10000 consecutive node ids with a free list and counters
//   series frame     an mmap'd area where ordinary buffers are bump-allocated
//   big frame        one mmap'd area per buffer of 2 MiB and more
//   fixed series     a buffer on the runtime heap (never moves)
//
// Buffer layout: a 24-byte header (flags with the unit size in bits 0-4,
// back reference to the node, capacity in bytes, byte offsets of the head and
// the tail of the content from the start of the data area), then the data.
// Capacity is a multiple of 16; a buffer takes capacity + 24 bytes in its
// frame. Offsets rather than addresses make a move a plain memcpy.
//
// C++ code must not hold a raw pointer into a buffer across any call that may
// allocate or evaluate: it holds node ids, indexes or cells, and re-reads
// buffer_of(node) afterwards, or pins the series.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/cell.h"

namespace kel {

using NodeId = uint32_t;

namespace series_flags {
constexpr uint32_t kUnitMask = 0x0000001F;
constexpr uint32_t kInUse = 0x80000000;          // cleared when a resize abandons the buffer
constexpr uint32_t kFresh = 0x20000000;          // set on every buffer when it is made
constexpr uint32_t kStartedInMiddle = 0x10000000;// content began in the middle (offset -1)
constexpr uint32_t kMark = 0x08000000;           // collector mark
constexpr uint32_t kBig = 0x01000000;            // buffer lives in a big frame
constexpr uint32_t kFixed = 0x00100000;          // fixed buffer on the runtime heap
constexpr uint32_t kBitsetComplement = 0x00080000;
constexpr uint32_t kFromUtf16 = 0x00040000;      // set by the UTF-16 loader
constexpr uint32_t kOwned = 0x00020000;          // the series is owned by an object
constexpr uint32_t kLibraryCode = 0x00200000;    // a block of the library's own code
constexpr uint32_t kPlainArguments = 0x00400000; // an argument cache whose arguments are all plain
constexpr uint32_t kBlockBranches = 0x00800000;  // an argument cache of plain arguments only, the later ones taking block!
// An argument cache with kPlainArguments whose first entries are its plain
// arguments, followed by nothing but a return type before any refinement:
// their number is in the bits of kPlainArity (a cache has at most 255 of
// them). kOnlyPlainArity adds that nothing follows but the return type, so
// a frame holds no cell past the arguments.
constexpr uint32_t kPlainArity = 0x0000FF00;
constexpr uint32_t kPlainArityShift = 8;
constexpr uint32_t kOnlyPlainArity = 0x00010000;
}  // namespace series_flags

struct SeriesBuffer {
  uint32_t flags;
  NodeId node;      // owning node, 0 once abandoned
  uint32_t size;    // capacity of the data area in bytes
  uint32_t offset;  // byte offset of the first used byte
  uint32_t tail;    // byte offset one past the last used byte
  uint32_t pins;    // pin count: a pinned buffer is never moved by compaction

  uint8_t* data() { return reinterpret_cast<uint8_t*>(this + 1); }
  const uint8_t* data() const { return reinterpret_cast<const uint8_t*>(this + 1); }
  uint32_t unit() const { return flags & series_flags::kUnitMask; }
  void set_unit(uint32_t unit) { flags = (flags & ~series_flags::kUnitMask) | unit; }
  uint8_t* head_ptr() { return data() + offset; }
  uint8_t* tail_ptr() { return data() + tail; }
  uint8_t* end_ptr() { return data() + size; }
  uint32_t used() const { return tail - offset; }
  uint32_t room() const { return size - tail; }
  Cell* cells() { return reinterpret_cast<Cell*>(head_ptr()); }
  Cell* cells_tail() { return reinterpret_cast<Cell*>(tail_ptr()); }
  uint32_t cell_count() const { return used() / sizeof(Cell); }
};
static_assert(sizeof(SeriesBuffer) == 24, "a buffer takes capacity + 24 bytes");

namespace memory {

constexpr uint32_t kNodesPerFrame = 10000;
constexpr uint32_t kBigThreshold = 0x200000;          // 2 MiB
// The first series frame with its header and the system block's prefix
// fills one huge page exactly: start-up fills it, and one huge page is
// mapped in a fraction of the time of the 4 KiB pages of half its size.
constexpr uint32_t kFirstSeriesFrameSize = kBigThreshold - 0x40;
// The frame after it takes what start-up leaves over (a few dozen
// kilobytes) and what a short script makes: smaller than a huge page, it
// gets 4 KiB pages, each mapped when first touched, instead of a huge
// page zeroed whole at its first write. The frames after it are huge.
constexpr uint32_t kSecondSeriesFrameSize = 0x100000;
constexpr uint32_t kMinFrameRoom = 0xCCCC;            // below this a new frame is made
constexpr uint64_t kMinCollectionBudget = 0x800000;   // 8 MiB allocated between collections

// The one limit of every series: the largest capacity of a buffer, in bytes
// (2 GiB less 16, so that capacity + header stays a 32-bit size). Sizes are
// computed in 64 bits and checked against it; passing it is the internal
// no-memory error.
constexpr uint64_t kMaxSeriesBytes = 0x7FFFFFF0;

// Raises internal no-memory when bytes pass the series limit.
void check_series_size(uint64_t bytes);
// The capacity a buffer of current bytes grows to when it must hold needed
// bytes: twice current, at least needed, capped at the series limit, so
// that growth near the limit still takes as much room as it can instead
// of exactly the request. needed beyond the limit raises internal
// no-memory. Nothing is allocated.
uint64_t grown_capacity(uint64_t current, uint64_t needed);

// The node slots, indexed by node id.
extern uintptr_t* node_slots;

inline SeriesBuffer* buffer_of(NodeId node) {
  return reinterpret_cast<SeriesBuffer*>(node_slots[node]);
}
inline void set_buffer(NodeId node, SeriesBuffer* buffer) {
  node_slots[node] = reinterpret_cast<uintptr_t>(buffer);
}
inline bool node_is_free(NodeId node) { return (node_slots[node] & 1) != 0; }

// lazy_first_frame: the first series frame gets 4 KiB pages mapped as they
// are touched, for a start that will map most of it from a file (the boot
// image's heap) rather than fill it.
void init(bool lazy_first_frame = false);
// Releases every frame; the memory manager can be initialised again after.
void shutdown();
bool initialised();

// OS blocks (mmap). Refusal throws the platform codes, which the memory
// manager turns into internal no-memory / wrong-mem errors.
void* allocate_virtual(size_t size, bool huge_pages = true);
void free_virtual(void* address);

NodeId alloc_node();
void free_node(NodeId node);

// count units of unit bytes; offset is the start of the content in bytes
// from the start of the data area, or -1 for the middle.
SeriesBuffer* alloc_series_buffer(uint32_t count, uint32_t unit, int32_t offset);
NodeId alloc_series(uint32_t count, uint32_t unit, int32_t offset);
NodeId alloc_fixed_series(uint32_t count, uint32_t unit, int32_t offset);
NodeId alloc_cells(uint32_t count);
NodeId alloc_unset_cells(uint32_t count);
NodeId alloc_bytes(uint32_t count);
NodeId alloc_codepoints(uint32_t count, uint32_t unit);
NodeId alloc_bytes_filled(uint32_t count, uint8_t byte);

inline void set_series_flag(SeriesBuffer* buffer, uint32_t bits) { buffer->flags |= bits; }

// A new buffer of new_size bytes (0: twice the capacity) for the same node,
// the content (not copied) moved to the start of the data area. The old
// buffer is abandoned.
SeriesBuffer* resize_series_buffer(SeriesBuffer* buffer, uint32_t new_size);
// The same, with the content copied.
SeriesBuffer* expand_series(SeriesBuffer* buffer, uint32_t new_size);
SeriesBuffer* expand_series_filled(SeriesBuffer* buffer, uint32_t new_size, uint8_t byte);
// A new node whose buffer has the same capacity, flags and content.
NodeId copy_series(SeriesBuffer* buffer);

// The heap image (memory_image.cpp): the whole heap (node frames with
// their slots, series frames with their buffers) as bytes that another
// process of the same executable can put back, so that it starts with the
// series a first process built. Buffers hold node ids and offsets, never
// addresses; a node slot is written as its frame's serial and the offset
// in it, and read back against that process's own frames. Big frames and
// fixed buffers are not carried: a heap holding one has no image.
//
// Appends the heap's image to out; false, with the reason, when the heap
// holds something the image cannot carry. page_offset is where out's end
// will lie past a page boundary once the image is in place: each frame's
// bytes are placed where a frame's data area lies in its pages, so that
// they can be mapped from a file.
bool write_heap_image(std::vector<uint8_t>* out, uint64_t page_offset, const char** failure);
// A checksum of what write_heap_image would write now, read in place.
uint64_t heap_fingerprint();
// Puts the heap of an image back in place of this process's heap, whose
// frames must be those the image's heap started from (its first frames
// made in the same order). False, with the reason and nothing changed,
// when the image does not hold together.
// With map_pages, frames whose bytes lie in the executable's file are
// mapped from it instead of copied.
bool read_heap_image(const uint8_t* bytes, size_t size, bool map_pages, const char** failure);

// Statistics.
struct Usage {
  uint64_t os_bytes;          // OS memory held by all frames
  uint32_t node_frames;
  uint32_t nodes_used;
  uint32_t series_frames;
  uint64_t series_bytes_used; // bump-allocated bytes in series frames
  uint32_t big_frames;
};
Usage usage();

// Collection requests: once the series bytes allocated since the last
// collection reach its budget (the bytes it left alive, at least
// kMinCollectionBudget), the next safe point collects.
extern bool collection_requested;

// A value made in bulk (a text load, a kelbin decode) is reachable as a
// whole when its maker returns, so a collection that fell due while it was
// made would walk all of it and free none of it. Its maker takes a mark
// before it starts and, once it has its result, hands the mark back: when
// the collection fell due during the work (not before it, and none ran in
// it), the bytes made since the mark count as live data, as if that
// collection had run and found them, and the next one waits for as many
// bytes again. Once at most between two collections, so that a program
// that loads and drops big values still collects: its heap then grows at
// most about twice as far as it would have.
struct BulkMark {
  uint64_t allocated;  // series bytes allocated since the last collection
  uint64_t sweeps;     // collections so far
};
BulkMark bulk_mark();
void take_bulk_as_live(const BulkMark& mark);

// Iteration over the frames, for the collector and for tests.
struct SeriesFrameView {
  uint8_t* start;
  uint8_t* allocation;
  uint8_t* end;
};
uint32_t series_frame_count();
// After a collection: frees node frames that emptied or were evacuated and
// picks the first frame with a free node as the active one.
void collect_node_frames();

// The collector's sweep, after marking: every buffer without the mark bit
// (or abandoned by a resize) is freed with its node; live buffers lose the
// mark and slide towards the start of their frame (pinned ones stay), their
// nodes following them. Frames left empty, other than the first, are
// released, except as many as the next collection budget will fill (an
// empty first frame counting against it). With poison, freed space is
// filled with 0xDD so that a stale pointer into it reads garbage.
struct SweepResult {
  uint64_t freed_buffers;
  uint64_t freed_bytes;
  uint64_t moved_bytes;
};
SweepResult sweep(bool poison);
// The evacuating sweep (KEL_GC_STRESS=evacuate): the sweep, then every frame
// that holds no pinned buffer moves to fresh addresses and its old range
// becomes inaccessible, so a raw pointer kept across a safe point faults at
// its next use; the unpinned buffers of a frame that holds a pinned one are
// copied to fresh memory.
SweepResult evacuate();
// The collector's stress settings: poison has a buffer that a growth
// abandons poisoned at once (a pointer kept across the growth then reads
// garbage); evacuate maps the frames made from now on in the evacuation
// ring that evacuate moves them within.
void set_stress(bool poison, bool evacuate);
SeriesFrameView series_frame_at(uint32_t index);  // in address order

// Per-frame figures, for the memory statistics. Node frames in id order,
// each with the ids it can hand out (the first frame never hands out the
// null id 0) and how many are in use; big frames in list order, each with
// the bytes it holds for its buffer (header included).
struct NodeFrameView {
  uint32_t used;
  uint32_t capacity;
};
std::vector<NodeFrameView> node_frame_views();
std::vector<uint64_t> big_frame_sizes();

}  // namespace memory

// Pins a series buffer for the lifetime of the guard: compaction leaves a
// pinned buffer in place, so a raw pointer into it stays valid across calls
// that may collect. A growth of the series still moves it.
class Pin {
 public:
  explicit Pin(NodeId node) : node_(node) {
    if (node_) ++memory::buffer_of(node_)->pins;
  }
  ~Pin() {
    if (node_) --memory::buffer_of(node_)->pins;
  }
  Pin(const Pin&) = delete;
  Pin& operator=(const Pin&) = delete;

 private:
  NodeId node_;
};

}  // namespace kel
