// The LZ bit-stream codec (see lz_codec.h for the record format).
//
// Codes inside a block, as the bit reader meets them:
//   0 b7..b0                      a literal byte
//   1 <length field> <distance>   a match of length 3..566 at distance
//                                 1..262144, copied one byte at a time so that
//                                 an overlapping copy repeats its source
// The length field is a unary prefix choosing a range, then the offset in
// that range; the distance field is a 4-bit width class, then the bits
// below the class's leading one.
//
// The decoder trusts nothing in the record: every field is checked before
// it is used, the bit reader refuses to pass the block area, and the output
// total is fixed by the header before any byte is written. The compressor
// is greedy with a bounded search (one probe of a 3-byte hash, at most 256
// links of a 4-byte hash chain) and a penalty that makes a far match win
// only when it is clearly longer; its choices are fixed so that the same
// input always gives the same record.
#include "runtime/lz_codec.h"

#include <algorithm>
#include <cstring>

#include "runtime/runtime.h"

namespace kel::lz_codec {

namespace {

uint32_t read_u32(const uint8_t* at) {
  return uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
}

void write_u32(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
  at[2] = static_cast<uint8_t>(value >> 16);
  at[3] = static_cast<uint8_t>(value >> 24);
}

// --- Reading -------------------------------------------------------------------------

// Reads fields of up to 24 bits from one block's stream, least significant
// bit first. Asking for more bits than remain sets the exhausted flag and
// answers 0: the caller checks the flag once per code, before acting on it.
class BitReader {
 public:
  BitReader(const uint8_t* stream, size_t byte_count) : stream_(stream), bit_count_(uint64_t{byte_count} * 8) {}

  uint32_t get(uint32_t count) {
    if (exhausted_ || count > bit_count_ - position_) {
      exhausted_ = true;
      return 0;
    }
    size_t first_byte = static_cast<size_t>(position_ >> 3);
    uint32_t shift = static_cast<uint32_t>(position_ & 7);
    // Only the bytes holding the field are loaded, so nothing past the
    // stream's last needed byte is read.
    uint32_t byte_count = (shift + count + 7) / 8;
    uint64_t window = 0;
    for (uint32_t i = 0; i < byte_count; ++i) window |= uint64_t{stream_[first_byte + i]} << (8 * i);
    position_ += count;
    return static_cast<uint32_t>((window >> shift) & ((uint64_t{1} << count) - 1));
  }

  bool exhausted() const { return exhausted_; }
  // The bytes the stream has touched: a partly read byte counts whole.
  size_t bytes_touched() const { return static_cast<size_t>((position_ + 7) >> 3); }

 private:
  const uint8_t* stream_;
  uint64_t bit_count_;
  uint64_t position_ = 0;
  bool exhausted_ = false;
};

uint32_t read_match_length(BitReader& reader) {
  uint32_t n;
  if (reader.get(1)) n = reader.get(2);
  else if (reader.get(1)) n = reader.get(2) + 4;
  else if (reader.get(1)) n = reader.get(2) + 8;
  else if (reader.get(1)) n = reader.get(3) + 12;
  else if (reader.get(1)) n = reader.get(5) + 20;
  else n = reader.get(9) + 52;
  return n + 3;
}

uint32_t read_match_distance(BitReader& reader) {
  uint32_t width_class = reader.get(4);
  if (width_class == 0) return reader.get(3) + 1;
  uint32_t width = width_class + 2;
  return reader.get(width) + (uint32_t{1} << width) + 1;
}

// Decodes one block of length output bytes from its stream into out.
// Answers the number of stream bytes it took, or 0 on any inconsistency.
size_t decode_block(const uint8_t* stream, size_t available, uint8_t* out, uint32_t length) {
  BitReader reader(stream, available);
  uint32_t done = 0;
  while (done < length) {
    if (reader.get(1) == 0) {
      uint32_t byte = reader.get(8);
      if (reader.exhausted()) return 0;
      out[done++] = static_cast<uint8_t>(byte);
      continue;
    }
    uint32_t match_length = read_match_length(reader);
    uint32_t distance = read_match_distance(reader);
    if (reader.exhausted()) return 0;
    if (distance > done || match_length > length - done) return 0;
    // Byte by byte on purpose: a distance shorter than the length repeats
    // the bytes just written.
    for (uint32_t i = 0; i < match_length; ++i, ++done) out[done] = out[done - distance];
  }
  return reader.bytes_touched();
}

// The most output a block area of that many bytes can describe: the
// densest code is a 566-byte match in 22 bits. A header claiming more is
// refused before anything is allocated for it.
uint64_t largest_output_for(uint32_t packed_size) { return uint64_t{packed_size} * 206; }

// --- Writing -------------------------------------------------------------------------

// Writes fields into the record's block area, least significant bit first.
// A byte that does not fit sets the overflow flag and is dropped: the
// record is then abandoned, so nothing past the area is ever written.
class BitWriter {
 public:
  BitWriter(uint8_t* base, uint32_t capacity) : base_(base), capacity_(capacity) {}

  uint8_t* reserve(uint32_t count) {
    if (count > capacity_ - used_) {
      overflow_ = true;
      return nullptr;
    }
    uint8_t* place = base_ + used_;
    used_ += count;
    return place;
  }

  // value must fit in count bits; count + 7 pending bits fit in the word.
  void put(uint32_t count, uint32_t value) {
    bits_ |= value << pending_;
    pending_ += count;
    while (pending_ >= 8) {
      uint8_t* place = reserve(1);
      if (place == nullptr) return;
      *place = static_cast<uint8_t>(bits_);
      bits_ >>= 8;
      pending_ -= 8;
    }
  }

  void clear_bits() {
    bits_ = 0;
    pending_ = 0;
  }

  bool overflow() const { return overflow_; }
  uint32_t used() const { return used_; }

 private:
  uint8_t* base_;
  uint32_t capacity_;
  uint32_t used_ = 0;
  uint32_t bits_ = 0;
  uint32_t pending_ = 0;
  bool overflow_ = false;
};

void write_match_length(BitWriter& writer, uint32_t length) {
  uint32_t n = length - 3;
  // The prefixes are the decoder's unary choices, first bit lowest.
  if (n <= 3) {
    writer.put(1, 0b1);
    writer.put(2, n);
  } else if (n <= 7) {
    writer.put(2, 0b10);
    writer.put(2, n - 4);
  } else if (n <= 11) {
    writer.put(3, 0b100);
    writer.put(2, n - 8);
  } else if (n <= 19) {
    writer.put(4, 0b1000);
    writer.put(3, n - 12);
  } else if (n <= 51) {
    writer.put(5, 0b10000);
    writer.put(5, n - 20);
  } else {
    writer.put(5, 0);
    writer.put(9, n - 52);
  }
}

void write_match_distance(BitWriter& writer, uint32_t distance) {
  uint32_t b = distance - 1;
  uint32_t width = 2;
  while (b >= (uint32_t{1} << (width + 1))) ++width;
  writer.put(4, width - 2);
  if (width > 2) writer.put(width, b - (uint32_t{1} << width));
  else writer.put(3, b);
}

constexpr uint32_t kHash3Mask = 0x7FFFF;
constexpr uint32_t kHash4Mask = 0xFFFFF;
constexpr uint32_t kHead3Count = kHash3Mask + 1;
constexpr uint32_t kHeadCount = kHead3Count + kHash4Mask + 1;
constexpr uint32_t kChainMask = kFarthestMatch - 1;
constexpr uint32_t kChainLinks = 256;
constexpr uint32_t kFarthestShortMatch = 65536;  // a 3-byte match farther away costs more than literals
constexpr uint32_t kBlockBufferSize = kBlockLimit + kLongestMatch;

// The compressor's tables, from the runtime heap for the length of one call
// (running out of heap there is runtime error 94).
class WorkAreas {
 public:
  WorkAreas()
      : heads(static_cast<int32_t*>(runtime::allocate(sizeof(int32_t) * kHeadCount))),
        chain(static_cast<int32_t*>(runtime::allocate(sizeof(int32_t) * kFarthestMatch))),
        block(static_cast<uint8_t*>(runtime::allocate(kBlockBufferSize))) {}
  ~WorkAreas() {
    runtime::free(block);
    runtime::free(chain);
    runtime::free(heads);
  }
  WorkAreas(const WorkAreas&) = delete;
  WorkAreas& operator=(const WorkAreas&) = delete;

  int32_t* heads;  // last position per 3-byte hash, then per 4-byte hash; -1 empty
  int32_t* chain;  // per position (mod 262144): the 4-byte head it replaced
  uint8_t* block;  // the current block, then room for the longest match
};

uint32_t equal_run(const uint8_t* block, uint32_t candidate, uint32_t position, uint32_t limit) {
  uint32_t length = 0;
  while (length < limit && block[candidate + length] == block[position + length]) ++length;
  return length;
}

// Writes the codes of one block (already copied to the block buffer, its
// tail zeroed) and stops early once the record has overflowed.
void compress_block(WorkAreas& areas, uint32_t length, BitWriter& writer) {
  const uint8_t* block = areas.block;
  int32_t* head3 = areas.heads;
  int32_t* head4 = areas.heads + kHead3Count;
  int32_t* chain = areas.chain;
  uint32_t hash3 = 0;
  uint32_t hash4 = 0;
  for (uint32_t i = 0; i < 3; ++i) hash3 = ((hash3 << 7) + block[i]) & kHash3Mask;
  for (uint32_t i = 0; i < 4; ++i) hash4 = ((hash4 << 5) + block[i]) & kHash4Mask;

  uint32_t position = 0;
  while (position < length) {
    uint32_t best_length = 2;
    uint32_t best_distance = kFarthestMatch;
    uint32_t limit = std::min(length - position, kLongestMatch);
    int64_t lowest = std::max<int64_t>(int64_t{position} - kFarthestMatch, 0);

    int32_t candidate = head3[hash3];
    if (candidate >= lowest && block[candidate] == block[position]) {
      uint32_t run = equal_run(block, static_cast<uint32_t>(candidate), position, limit);
      if (run > best_length) {
        best_length = run;
        best_distance = position - static_cast<uint32_t>(candidate);
      }
    }

    if (best_length < kLongestMatch) {
      candidate = head4[hash4];
      for (uint32_t links = 0; candidate >= lowest && links < kChainLinks; ++links) {
        auto c = static_cast<uint32_t>(candidate);
        // The byte at the best length decides cheaply whether this
        // candidate can beat the best at all.
        if (block[c + best_length] == block[position + best_length] && block[c] == block[position]) {
          uint32_t run = equal_run(block, c, position, limit);
          // A farther match must be longer by one byte for every factor
          // of 8 its distance exceeds the best one's, so that the bits
          // its distance costs are paid for.
          uint32_t penalty = 0;
          for (uint32_t scaled = (position - c) >> 4; scaled > best_distance; scaled >>= 3) ++penalty;
          if (run > best_length + penalty) {
            best_length = run;
            best_distance = position - c;
          }
          if (run >= limit) break;
        }
        candidate = chain[c & kChainMask];
      }
    }

    if (best_length == 3 && best_distance > kFarthestShortMatch) best_length = 0;

    uint32_t consumed;
    if (best_length < 3) {
      writer.put(9, uint32_t{block[position]} << 1);
      consumed = 1;
    } else {
      writer.put(1, 1);
      write_match_length(writer, best_length);
      write_match_distance(writer, best_distance);
      consumed = best_length;
    }
    if (writer.overflow()) return;

    for (uint32_t i = 0; i < consumed; ++i) {
      head3[hash3] = static_cast<int32_t>(position);
      chain[position & kChainMask] = head4[hash4];
      head4[hash4] = static_cast<int32_t>(position);
      ++position;
      hash3 = ((hash3 << 7) + block[position + 2]) & kHash3Mask;
      hash4 = ((hash4 << 5) + block[position + 3]) & kHash4Mask;
    }
  }
}

}  // namespace

uint8_t* decompress(const uint8_t* record, size_t record_length, uint32_t* produced) {
  if (record == nullptr || record_length < kHeaderSize) return nullptr;
  uint32_t packed_size = read_u32(record);
  uint32_t unpacked_size = read_u32(record + 4);
  if (packed_size > record_length - kHeaderSize) return nullptr;
  if (unpacked_size > largest_output_for(packed_size)) return nullptr;

  auto* output = static_cast<uint8_t*>(runtime::allocate(size_t{unpacked_size} + 8));
  size_t position = kHeaderSize;
  size_t end = kHeaderSize + size_t{packed_size};
  uint32_t total = 0;
  bool sound = true;
  while (sound && position < end) {
    if (end - position < 4) {
      sound = false;
      break;
    }
    uint32_t length = read_u32(record + position);
    position += 4;
    if (length < 1 || length > kBlockLimit || length > unpacked_size - total) {
      sound = false;
      break;
    }
    size_t taken = decode_block(record + position, end - position, output + total, length);
    if (taken == 0) {
      sound = false;
      break;
    }
    position += taken;
    total += length;
  }
  if (!sound || total != unpacked_size) {
    runtime::free(output);
    return nullptr;
  }
  if (produced != nullptr) *produced = total;
  return output;
}

int64_t compress(const uint8_t* source, uint32_t length, uint8_t* output) {
  if (length < kMinimumInput) return -1;
  WorkAreas areas;
  BitWriter writer(output + kHeaderSize, length - kHeaderSize);
  write_u32(output + 4, length);

  uint32_t remaining = length;
  while (remaining > 0) {
    uint32_t block_length = std::min(remaining, kBlockLimit);
    std::memcpy(areas.block, source, block_length);
    // The hashes of the last positions and the test at the best length
    // look past the block: zeros there keep the output a function of the
    // input alone.
    std::memset(areas.block + block_length, 0, kLongestMatch);
    uint8_t* length_place = writer.reserve(4);
    if (length_place == nullptr) break;
    write_u32(length_place, block_length);
    std::fill(areas.heads, areas.heads + kHeadCount, -1);
    // Bits left over from the previous block's padding are dropped.
    writer.clear_bits();
    compress_block(areas, block_length, writer);
    if (writer.overflow()) break;
    // Pads the last partial byte with zeros; writes nothing when no bits
    // are pending.
    writer.put(7, 0);
    source += block_length;
    remaining -= block_length;
  }
  if (writer.overflow()) return -1;
  write_u32(output, writer.used());
  return int64_t{writer.used()} + kHeaderSize;
}

void free_buffer(uint8_t* buffer) {
  if (buffer != nullptr) runtime::free(buffer);
}

}  // namespace kel::lz_codec
