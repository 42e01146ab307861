// The heap image (see memory.h): the node frames, their slots and the
// series frames with their buffers, as bytes another process can put back.
//
// Layout (native byte order; an image is only ever read by the executable
// that the same build made):
//   Header                      counts, the active frames, the collection figures
//   NodeFrameRecord x nodes     each node frame's free list head and counters
//   for each series frame, by serial:
//     SeriesFrameRecord         its serial, data size, bytes in use and padding
//     zero bytes                the padding: the bytes in use start where a
//                               frame's data area starts in its pages
//     the bytes in use          padded to 8
//   uint32 x 10000 x nodes      the node slots, encoded (see encode_slot)
//
// Buffers need no fixing: they hold node ids, unit sizes and offsets. Only
// a node slot holds an address, which the image writes as the serial of its
// frame and the offset in its data area; a free slot holds the next free
// id and is written as it is (an id below the serial bits, so that a slot
// reads back as its frame's base, 0 for a free one, plus its low bits).
#include <algorithm>
#include <cstring>

#include "runtime/memory.h"
#include "runtime/memory_internal.h"
#include "runtime/platform.h"

namespace kel::memory {

using namespace internal;

namespace {
constexpr uint32_t kMagic = 0x5048454Bu;  // "KEHP"
constexpr uint32_t kVersion = 1;
// A slot of a buffer at offset o of the frame of serial s reads
// ((s + 1) << kSerialShift) | o: even (buffers are 8-byte aligned) and
// never 0, so it stands apart from a free slot (odd) and an empty one (0).
constexpr uint32_t kSerialShift = 24;
constexpr uint64_t kMaxOffset = uint64_t{1} << kSerialShift;

struct Header {
  uint32_t magic;
  uint32_t version;
  uint32_t node_frames;
  uint32_t series_frames;
  uint32_t active_node_frame;
  uint32_t active_series_serial;
  uint32_t next_frame_size;
  uint32_t series_frames_made;
  uint64_t nodes_since_collection;
  uint64_t allocated_since_collection;
  uint64_t collection_budget;
};

struct NodeFrameRecord {
  uint32_t free_head;
  uint32_t used;
  uint32_t stamp;
  uint32_t used_at_last_collection;
  uint32_t history;
  uint32_t reserved;
};

struct SeriesFrameRecord {
  uint64_t serial;
  uint64_t size;
  uint64_t used;
  uint64_t padding;  // zero bytes between the record and the frame's bytes
};

// Where a frame's data area lies from the start of its OS block (whose
// first 16 bytes hold the block's size, then the frame's record): a
// frame's bytes that an image places this far past a page boundary can be
// mapped from a file in place.
uint64_t area_in_block(SeriesFrame* frame) {
  return static_cast<uint64_t>(frame->area() - reinterpret_cast<uint8_t*>(frame)) + 16;
}

uint64_t padded(uint64_t bytes) { return (bytes + 7) & ~uint64_t{7}; }

// The series frames by serial (the list is in address order).
std::vector<SeriesFrame*> frames_by_serial() {
  std::vector<SeriesFrame*> frames;
  for (SeriesFrame* f = state.series_head; f; f = f->next) frames.push_back(f);
  std::sort(frames.begin(), frames.end(), [](SeriesFrame* a, SeriesFrame* b) { return a->serial < b->serial; });
  return frames;
}

// A slot as the image writes it; false when it holds an address that is
// in no series frame (a fixed or big buffer).
// Neighbouring nodes mostly have their buffers in one frame: the frame of
// the last slot is tried first.
bool encode_slot(uintptr_t slot, const std::vector<SeriesFrame*>& frames, SeriesFrame** last, uint32_t* encoded) {
  if (slot == 0 || (slot & 1) != 0) {
    if (slot >= kMaxOffset) return false;
    *encoded = static_cast<uint32_t>(slot);
    return true;
  }
  auto* address = reinterpret_cast<uint8_t*>(slot);
  SeriesFrame* hint = *last;
  if (hint != nullptr && address >= hint->area() && address < hint->allocation) {
    *encoded = static_cast<uint32_t>(((hint->serial + 1) << kSerialShift) | static_cast<uint64_t>(address - hint->area()));
    return true;
  }
  for (SeriesFrame* f : frames) {
    if (address < f->area() || address >= f->allocation) continue;
    *last = f;
    auto offset = static_cast<uint64_t>(address - f->area());
    *encoded = static_cast<uint32_t>(((f->serial + 1) << kSerialShift) | offset);
    return true;
  }
  return false;
}

// Walks the heap in image order, handing each piece to the sink: the
// writer appends them, the fingerprint folds them into its sums.
template <typename Sink>
bool walk_heap(Sink& sink, uint64_t page_offset, bool aligned, const char** failure) {
  if (state.big_count != 0 || !state.fixed.empty()) {
    *failure = "the heap holds a big or fixed buffer";
    return false;
  }
  std::vector<SeriesFrame*> frames = frames_by_serial();
  for (size_t i = 0; i < frames.size(); ++i) {
    if (frames[i]->serial != i) {
      *failure = "a series frame was released";
      return false;
    }
    if (static_cast<uint64_t>(frames[i]->tail - frames[i]->area()) >= kMaxOffset ||
        i + 1 >= (uint64_t{1} << (32 - kSerialShift))) {
      *failure = "a series frame is too large or too late for the image";
      return false;
    }
  }
  auto node_frames = static_cast<uint32_t>(state.node_frames.size());
  for (const NodeFrame& f : state.node_frames) {
    if (!f.live || f.release) {
      *failure = "a node frame was released";
      return false;
    }
  }
  Header header{};
  header.magic = kMagic;
  header.version = kVersion;
  header.node_frames = node_frames;
  header.series_frames = static_cast<uint32_t>(frames.size());
  header.active_node_frame = state.active_node_frame;
  header.active_series_serial = state.series_active ? static_cast<uint32_t>(state.series_active->serial) : 0;
  header.next_frame_size = state.next_frame_size;
  header.series_frames_made = state.series_frames_made;
  header.nodes_since_collection = state.nodes_since_collection;
  header.allocated_since_collection = state.allocated_since_collection;
  header.collection_budget = state.collection_budget;
  sink.put(&header, sizeof header);
  for (const NodeFrame& f : state.node_frames) {
    NodeFrameRecord record{f.free_head, f.used, f.stamp, f.used_at_last_collection, f.history, 0};
    sink.put(&record, sizeof record);
  }
  for (SeriesFrame* f : frames) {
    SeriesFrameRecord record{f->serial, static_cast<uint64_t>(f->tail - f->area()),
                             static_cast<uint64_t>(f->allocation - f->area()), 0};
    if (aligned) {
      uint64_t data_at = page_offset + sink.written() + sizeof record;
      record.padding = (area_in_block(f) + 4096 - data_at % 4096) % 4096;
    }
    sink.put(&record, sizeof record);
    sink.zeros(record.padding);
    sink.put(f->area(), padded(record.used));
  }
  uint32_t block[1024];
  uint32_t filled = 0;
  uint64_t slots = uint64_t{node_frames} * kNodesPerFrame;
  SeriesFrame* last = nullptr;
  for (uint64_t id = 0; id < slots; ++id) {
    if (!encode_slot(node_slots[id], frames, &last, &block[filled])) {
      *failure = "a node's buffer lies outside the series frames";
      return false;
    }
    if (++filled == 1024) {
      sink.put(block, sizeof block);
      filled = 0;
    }
  }
  sink.put(block, filled * sizeof(uint32_t));
  return true;
}

struct VectorSink {
  std::vector<uint8_t>* out;
  size_t start;
  void put(const void* bytes, size_t size) {
    auto* p = static_cast<const uint8_t*>(bytes);
    out->insert(out->end(), p, p + size);
  }
  void zeros(size_t size) { out->resize(out->size() + size, 0); }
  uint64_t written() const { return out->size() - start; }
};

// Two sums over 64-bit words, the second of the running first ones, kept in
// two lanes of four words a step (a piece's tail in a last, padded word):
// cheap enough to take over the heap at every start.
struct FingerprintSink {
  using Lanes = uint64_t __attribute__((vector_size(16)));
  Lanes a = {1, 1};
  Lanes b = {0, 0};
  Lanes c = {0, 0};
  Lanes d = {0, 0};
  void put(const void* bytes, size_t size) {
    auto* p = static_cast<const uint8_t*>(bytes);
    size_t steps = size / 32;
    for (size_t i = 0; i < steps; ++i) {
      Lanes low, high;
      std::memcpy(&low, p + i * 32, 16);
      std::memcpy(&high, p + i * 32 + 16, 16);
      a += low;
      c += high;
      b += a;
      d += c;
    }
    size_t done = steps * 32;
    if (done < size) {
      uint8_t tail[32] = {};
      std::memcpy(tail, p + done, size - done);
      Lanes low, high;
      std::memcpy(&low, tail, 16);
      std::memcpy(&high, tail + 16, 16);
      a += low;
      c += high;
      b += a;
      d += c;
    }
    b[0] += size;
  }
  void zeros(size_t) {}
  uint64_t written() const { return 0; }
  uint64_t value() const {
    uint64_t first = a[0] ^ (a[1] << 7) ^ (c[0] << 13) ^ (c[1] << 19);
    uint64_t second = b[0] + 3 * b[1] + 5 * d[0] + 7 * d[1];
    return first ^ (second << 1) ^ (second >> 63);
  }
};

// Maps the pages of the executable's file that hold a frame's bytes over
// the frame's own pages, from its block's start (the block's size and the
// frame's record, which the file's page does not hold, are written back):
// a start then reads, and copies when it writes, only the pages it
// touches, and zeroes no fresh memory for the rest. False when the bytes
// cannot be mapped where they are: they are copied then.
bool map_frame(SeriesFrame* frame, const uint8_t* bytes, uint64_t used) {
  uint64_t head = area_in_block(frame);
  uint8_t* block = frame->area() - head;
  if (used == 0 || ((reinterpret_cast<uintptr_t>(bytes) - head) & 4095) != 0) return false;
  uint64_t length = (head + used + 4095) & ~uint64_t{4095};
  if (block + length > frame->tail) return false;
  uint8_t saved[64];
  static_assert(sizeof(SeriesFrame) + 16 <= sizeof saved, "the block's head fits");
  std::memcpy(saved, block, head);
  if (!platform::map_executable_pages(block, length, bytes - head)) return false;
  std::memcpy(block, saved, head);
  // What the file holds after the frame's bytes is not the frame's.
  std::memset(frame->area() + used, 0, length - head - used);
  return true;
}

// Reads the image's pieces in order, refusing to read past its end.
struct Cursor {
  const uint8_t* at;
  const uint8_t* end;
  const void* take(uint64_t size) {
    if (size > static_cast<uint64_t>(end - at)) return nullptr;
    const uint8_t* piece = at;
    at += size;
    return piece;
  }
};
}  // namespace

bool write_heap_image(std::vector<uint8_t>* out, uint64_t page_offset, const char** failure) {
  // A pin or a mark would outlive the process that set it.
  for (SeriesFrame* f = state.series_head; f; f = f->next) {
    for (uint8_t* at = f->area(); at < f->allocation;) {
      auto* buffer = reinterpret_cast<SeriesBuffer*>(at);
      if (buffer->pins != 0 || (buffer->flags & series_flags::kMark) != 0) {
        *failure = "a buffer is pinned or marked";
        return false;
      }
      at += sizeof(SeriesBuffer) + buffer->size;
    }
  }
  VectorSink sink{out, out->size()};
  return walk_heap(sink, page_offset, true, failure);
}

uint64_t heap_fingerprint() {
  FingerprintSink sink;
  const char* failure = nullptr;
  if (!walk_heap(sink, 0, false, &failure)) return 0;
  return sink.value();
}

bool read_heap_image(const uint8_t* bytes, size_t size, bool map_pages, const char** failure) {
  Cursor cursor{bytes, bytes + size};
  // First everything is checked; the heap is changed only after.
  Header header{};
  const void* piece = cursor.take(sizeof header);
  if (piece == nullptr) {
    *failure = "the heap image is cut short";
    return false;
  }
  std::memcpy(&header, piece, sizeof header);
  if (header.magic != kMagic || header.version != kVersion) {
    *failure = "the heap image has another format";
    return false;
  }
  if (header.node_frames == 0 || header.node_frames > kMaxNodeFrames || header.series_frames == 0 ||
      header.series_frames > 255 || header.active_node_frame >= header.node_frames ||
      header.active_series_serial >= header.series_frames) {
    *failure = "the heap image's counts are out of range";
    return false;
  }
  const auto* node_records = static_cast<const NodeFrameRecord*>(
      cursor.take(uint64_t{header.node_frames} * sizeof(NodeFrameRecord)));
  std::vector<const SeriesFrameRecord*> frame_records;
  std::vector<const uint8_t*> frame_bytes;
  for (uint32_t i = 0; i < header.series_frames && node_records != nullptr; ++i) {
    const auto* record = static_cast<const SeriesFrameRecord*>(cursor.take(sizeof(SeriesFrameRecord)));
    if (record == nullptr) break;
    const void* padding = record->padding < 4096 ? cursor.take(record->padding) : nullptr;
    const auto* data = padding != nullptr ? static_cast<const uint8_t*>(cursor.take(padded(record->used))) : nullptr;
    if (data == nullptr || record->serial != i || record->used > record->size || record->size >= kMaxOffset) {
      *failure = "a series frame of the heap image does not hold together";
      return false;
    }
    frame_records.push_back(record);
    frame_bytes.push_back(data);
  }
  uint64_t slot_count = uint64_t{header.node_frames} * kNodesPerFrame;
  const auto* slots = static_cast<const uint8_t*>(cursor.take(slot_count * sizeof(uint32_t)));
  if (node_records == nullptr || frame_records.size() != header.series_frames || slots == nullptr ||
      cursor.at != cursor.end) {
    *failure = "the heap image is cut short";
    return false;
  }
  // This process's frames must be the image's first ones, each with room
  // for what the image puts in it.
  std::vector<SeriesFrame*> frames = frames_by_serial();
  if (frames.size() > header.series_frames || state.series_frames_made != frames.size() ||
      state.node_frames.size() > header.node_frames ||
      state.big_count != 0 || !state.fixed.empty()) {
    *failure = "the heap holds more than the heap image started from";
    return false;
  }
  for (size_t i = 0; i < frames.size(); ++i) {
    if (frames[i]->serial != i || static_cast<uint64_t>(frames[i]->tail - frames[i]->area()) < frame_records[i]->used) {
      *failure = "the heap's frames are not those the heap image started from";
      return false;
    }
  }
  // Every slot that names a buffer names one inside its frame's bytes; a
  // free one links to a node of the image (its id below the serial bits).
  // The highest place a buffer of each frame can start, by serial + 1.
  uint64_t last_start[256] = {};
  for (uint32_t i = 0; i < header.series_frames; ++i)
    last_start[i + 1] = frame_records[i]->used >= sizeof(SeriesBuffer) ? frame_records[i]->used - sizeof(SeriesBuffer) + 1 : 0;
  for (uint64_t id = 0; id < slot_count; ++id) {
    uint32_t encoded;
    std::memcpy(&encoded, slots + id * sizeof(uint32_t), sizeof encoded);
    uint32_t serial = encoded >> kSerialShift;
    uint32_t offset = encoded & static_cast<uint32_t>(kMaxOffset - 1);
    if (serial == 0) {
      if ((encoded & 1) == 0 ? encoded != 0 : (encoded >> 1) >= slot_count) {
        *failure = "a free node of the heap image links outside its nodes";
        return false;
      }
    } else if (serial > header.series_frames || offset >= last_start[serial] || (offset & 7) != 0) {
      *failure = "a node of the heap image names no buffer";
      return false;
    }
  }

  // The image holds together: the heap becomes its heap.
  while (state.node_frames.size() < header.node_frames) new_node_frame();
  while (frames.size() < header.series_frames) {
    // Each frame is made the size it had (a frame the writer made for a
    // large buffer may be larger than the usual next one).
    if (!state.evacuating) state.next_frame_size = static_cast<uint32_t>(frame_records[frames.size()]->size);
    SeriesFrame* made = new_series_frame(frame_records[frames.size()]->used);
    if (made->serial != frames.size() ||
        static_cast<uint64_t>(made->tail - made->area()) < frame_records[frames.size()]->used) {
      // Frames are made in the image's order; one that differs means the
      // process started from another heap (checked above, so not reached).
      *failure = "a series frame could not be made again";
      return false;
    }
    frames.push_back(made);
  }
  for (size_t i = 0; i < frames.size(); ++i) {
    uint64_t used = frame_records[i]->used;
    // (Under the evacuating stress setting frames are copied: a frame
    // whose pages came from two mappings could not move in one step.)
    if (!map_pages || state.evacuating || !map_frame(frames[i], frame_bytes[i], used)) {
      // The pages written end to end are mapped in one call, not a fault each.
      populate(frames[i]->area(), used);
      std::memcpy(frames[i]->area(), frame_bytes[i], used);
    }
    frames[i]->allocation = frames[i]->area() + frame_records[i]->used;
  }
  for (uint32_t i = 0; i < header.node_frames; ++i) {
    NodeFrame& f = state.node_frames[i];
    const NodeFrameRecord& r = node_records[i];
    f.live = true;
    f.release = false;
    f.free_head = r.free_head;
    f.used = r.used;
    f.stamp = r.stamp;
    f.used_at_last_collection = r.used_at_last_collection;
    f.history = r.history;
  }
  // A slot is its frame's area plus its offset; a free or empty one has no
  // serial bits, and base 0 leaves it as it is.
  uintptr_t base[256] = {};
  for (uint32_t i = 0; i < header.series_frames; ++i) base[i + 1] = reinterpret_cast<uintptr_t>(frames[i]->area());
  for (uint64_t id = 0; id < slot_count; ++id) {
    uint32_t encoded;
    std::memcpy(&encoded, slots + id * sizeof(uint32_t), sizeof encoded);
    node_slots[id] = base[encoded >> kSerialShift] + (encoded & static_cast<uint32_t>(kMaxOffset - 1));
  }
  set_active_node_frame(header.active_node_frame);
  state.series_active = frames[header.active_series_serial];
  state.next_frame_size = header.next_frame_size;
  state.nodes_since_collection = header.nodes_since_collection;
  state.allocated_since_collection = header.allocated_since_collection;
  state.collection_budget = header.collection_budget;
  collection_requested = state.allocated_since_collection >= state.collection_budget;
  return true;
}

}  // namespace kel::memory
