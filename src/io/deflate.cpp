// The deflate compressor (see deflate.h).
//
// Layout of the stream: the bit 1 (final block), the bits 01 (fixed codes),
// the literals and matches, the end-of-block code (seven zero bits), then
// zero bits to the byte boundary. Bits go out least significant first;
// Huffman codes, which deflate sends most significant bit first, are kept
// reversed in the tables below, each joined with its extra bits into one
// value that is appended in one go.
//
// Match table: 1024 buckets of 4 slots, each holding a position + 1 (0 is
// an empty slot). A step at position p hashes the three bytes there to a
// bucket, takes the first slot of it (in slot order) whose position lies
// less than 32768 bytes back and starts with the same three bytes, extends
// that match up to 258 bytes, and stores the step's start in the bucket,
// in a slot chosen from the three bytes where the next step begins.
// Positions inside a match are never stored. Steps with fewer than three
// bytes left neither look up nor store: nothing is read past the input.
#include "io/deflate.h"

#include <array>
#include <cstring>

namespace kel::deflate {

namespace {

constexpr uint32_t kBuckets = 1024;
constexpr uint32_t kSlotsPerBucket = 4;
constexpr size_t kWindow = 32768;
constexpr uint32_t kMinimumMatch = 3;
constexpr uint32_t kLongestMatch = 258;

constexpr uint32_t reverse_bits(uint32_t value, uint32_t count) {
  uint32_t reversed = 0;
  for (uint32_t i = 0; i < count; ++i) reversed |= ((value >> i) & 1) << (count - 1 - i);
  return reversed;
}

// A code ready to append: its bits (reversed code, then extra bits above
// it) and how many there are.
struct Code {
  uint32_t bits;
  uint32_t count;
};

// Literals 0-143 take the 8-bit codes 0x30 + b, 144-255 the 9-bit codes
// 0x190 + (b - 144).
constexpr std::array<Code, 256> kLiteralCodes = [] {
  std::array<Code, 256> codes{};
  for (uint32_t b = 0; b < 256; ++b)
    codes[b] = b < 144 ? Code{reverse_bits(0x30 + b, 8), 8} : Code{reverse_bits(0x190 + (b - 144), 9), 9};
  return codes;
}();

// Lengths 3 to 258: the length code (257-279 as 7-bit codes code - 256,
// 280-285 as 8-bit codes 0xC0 + code - 280) followed by its extra bits.
constexpr std::array<Code, kLongestMatch + 1> kLengthCodes = [] {
  constexpr uint32_t kBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
  constexpr uint32_t kExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                   2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
  std::array<Code, kLongestMatch + 1> codes{};
  for (uint32_t index = 0; index < 29; ++index) {
    uint32_t symbol = 257 + index;
    Code code = symbol < 280 ? Code{reverse_bits(symbol - 256, 7), 7} : Code{reverse_bits(0xC0 + symbol - 280, 8), 8};
    uint32_t last = index == 28 ? 258 : index == 27 ? 257 : kBase[index + 1] - 1;
    for (uint32_t length = kBase[index]; length <= last; ++length)
      codes[length] = Code{code.bits | (length - kBase[index]) << code.count, code.count + kExtra[index]};
  }
  return codes;
}();

// A distance (1 to 32768): the 5-bit distance code, from the bit length of
// distance - 1, followed by its extra bits.
inline Code distance_code(uint32_t distance) {
  uint32_t offset = distance - 1;
  if (offset < 4) return Code{reverse_bits(offset, 5), 5};
  uint32_t high = 31 - static_cast<uint32_t>(__builtin_clz(offset));  // 2 to 14
  uint32_t extra = high - 1;
  uint32_t code = 2 * high + ((offset >> extra) & 1);
  static constexpr std::array<uint8_t, 30> kReversed = [] {
    std::array<uint8_t, 30> reversed{};
    for (uint32_t c = 0; c < 30; ++c) reversed[c] = static_cast<uint8_t>(reverse_bits(c, 5));
    return reversed;
  }();
  return Code{kReversed[code] | (offset & ((1u << extra) - 1)) << 5, 5 + extra};
}

inline uint32_t three_bytes(const uint8_t* at) {
  return uint32_t{at[0]} << 16 | uint32_t{at[1]} << 8 | at[2];
}

inline uint32_t bucket_of(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7FEB352Du;
  x ^= x >> 15;
  x *= 0x846CA68Bu;
  x ^= x >> 16;
  return x & (kBuckets - 1);
}

inline uint32_t slot_of(uint32_t x) { return ((x >> 14) - x) & (kSlotsPerBucket - 1); }

// The bit writer: bits are appended above the pending ones and leave as
// whole bytes, in order. A byte at or past the capacity is counted, not
// stored.
class BitWriter {
 public:
  BitWriter(uint8_t* output, size_t capacity) : output_(output), capacity_(capacity) {}

  // At most 32 bits at a time.
  void put(uint32_t bits, uint32_t count) {
    pending_ |= uint64_t{bits} << pending_count_;
    pending_count_ += count;
    if (pending_count_ >= 32) {
      if (position_ + 4 <= capacity_) {
        uint8_t bytes[4] = {static_cast<uint8_t>(pending_), static_cast<uint8_t>(pending_ >> 8),
                            static_cast<uint8_t>(pending_ >> 16), static_cast<uint8_t>(pending_ >> 24)};
        std::memcpy(output_ + position_, bytes, 4);
        position_ += 4;
      } else {
        for (int i = 0; i < 4; ++i) store(static_cast<uint8_t>(pending_ >> (8 * i)));
      }
      pending_ >>= 32;
      pending_count_ -= 32;
    }
  }

  // Zero bits up to the byte boundary; every pending byte leaves.
  void finish() {
    while (pending_count_ > 0) {
      store(static_cast<uint8_t>(pending_));
      pending_ >>= 8;
      pending_count_ = pending_count_ > 8 ? pending_count_ - 8 : 0;
    }
  }

  size_t length() const { return position_; }

 private:
  void store(uint8_t byte) {
    if (position_ < capacity_) output_[position_] = byte;
    ++position_;
  }

  uint8_t* output_;
  size_t capacity_;
  size_t position_ = 0;
  uint64_t pending_ = 0;
  uint32_t pending_count_ = 0;
};

// How many bytes at a and b agree, from start up to limit.
inline uint32_t agreeing_length(const uint8_t* a, const uint8_t* b, uint32_t start, uint32_t limit) {
  uint32_t length = start;
  while (length + 8 <= limit) {
    uint64_t x, y;
    std::memcpy(&x, a + length, 8);
    std::memcpy(&y, b + length, 8);
    if (uint64_t difference = x ^ y) return length + static_cast<uint32_t>(__builtin_ctzll(difference)) / 8;
    length += 8;
  }
  while (length < limit && a[length] == b[length]) ++length;
  return length;
}

}  // namespace

compression::Outcome compress(const compression::Output& output, const uint8_t* input, size_t length) {
  uint32_t table[kBuckets][kSlotsPerBucket];
  std::memset(table, 0, sizeof table);
  BitWriter writer(output.bytes, output.capacity);
  writer.put(0b011, 3);  // final block, fixed codes

  size_t position = 0;
  uint32_t here = length >= kMinimumMatch ? three_bytes(input) : 0;  // the three bytes at position
  while (position < length) {
    size_t start = position;
    bool hashed = length - position >= kMinimumMatch;
    uint32_t* bucket = hashed ? table[bucket_of(here)] : nullptr;
    bool matched = false;
    if (hashed && position >= kMinimumMatch) {
      for (uint32_t slot = 0; slot < kSlotsPerBucket; ++slot) {
        uint32_t stored = bucket[slot];
        if (stored == 0) continue;
        size_t candidate = stored - 1;
        if (position - candidate >= kWindow || three_bytes(input + candidate) != here) continue;
        size_t left = length - position;
        uint32_t limit = left < kLongestMatch ? static_cast<uint32_t>(left) : kLongestMatch;
        uint32_t match = agreeing_length(input + candidate, input + position, kMinimumMatch, limit);
        Code length_code = kLengthCodes[match];
        Code distance = distance_code(static_cast<uint32_t>(position - candidate));
        writer.put(length_code.bits, length_code.count);
        writer.put(distance.bits, distance.count);
        position += match;
        matched = true;
        break;
      }
    }
    if (!matched) {
      Code literal = kLiteralCodes[input[position]];
      writer.put(literal.bits, literal.count);
      ++position;
    }
    if (length - position >= kMinimumMatch) {
      here = three_bytes(input + position);
      if (hashed) bucket[slot_of(here)] = static_cast<uint32_t>(start + 1);
    }
  }

  writer.put(0, 7);  // end of block
  writer.finish();
  size_t size = writer.length();
  return {size <= output.capacity ? compression::kDone : compression::kOutputTooSmall, size};
}

int32_t compress(uint8_t* output, size_t* capacity, const uint8_t* input, size_t length) {
  compression::Outcome outcome = compress(compression::Output(output, *capacity), input, length);
  *capacity = outcome.size;
  return outcome.result;
}

}  // namespace kel::deflate
