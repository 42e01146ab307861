// The deflate decoder (see inflate.h).
//
// The decoder keeps the count of bytes produced; every byte goes to the
// output while the count is below its capacity, and the output is asked
// to grow (when it can) before the count reaches the capacity. An output
// that cannot grow keeps its capacity, and the bytes past it are only
// counted: back references then still check their distance against the
// count, and read only bytes that were written (a source lies before its
// destination).
//
// The inner loop of a Huffman block works on local copies of the reader's
// and the output's state, so that stores into the output, which may alias
// anything, do not force them back to memory; they are written back when
// the block ends, fails or the output must grow.
#include "io/inflate.h"

#include <array>
#include <cstring>

namespace kel::inflate {

namespace {

constexpr std::array<uint8_t, 256> kReversedBytes = [] {
  std::array<uint8_t, 256> reversed{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t r = 0;
    for (uint32_t bit = 0; bit < 8; ++bit) r |= ((i >> bit) & 1) << (7 - bit);
    reversed[i] = static_cast<uint8_t>(r);
  }
  return reversed;
}();

inline uint32_t reverse16(uint32_t value) {
  return uint32_t{kReversedBytes[value & 0xFF]} << 8 | kReversedBytes[(value >> 8) & 0xFF];
}

}  // namespace

int32_t build_table(Table& table, const uint8_t* lengths, uint32_t symbols) {
  uint32_t count[kMaxCodeLength + 1] = {};
  for (uint32_t symbol = 0; symbol < symbols; ++symbol) {
    if (lengths[symbol] > kMaxCodeLength) return -1;
    ++count[lengths[symbol]];
  }
  // The code space left after each length: below 0 is over-subscribed.
  int32_t left = 1;
  for (uint32_t length = 1; length <= kMaxCodeLength; ++length) {
    left = left * 2 - static_cast<int32_t>(count[length]);
    if (left < 0) return -1;
  }
  uint32_t next_code[kMaxCodeLength + 1] = {};
  for (uint32_t length = 2; length <= kMaxCodeLength; ++length)
    next_code[length] = (next_code[length - 1] + count[length - 1]) << 1;
  // Where the entries of each length start: entries without a code first.
  uint32_t start[kMaxCodeLength + 1];
  start[0] = 0;
  start[1] = count[0];
  for (uint32_t length = 1; length < kMaxCodeLength; ++length) start[length + 1] = start[length] + count[length];

  std::memset(table.fast, 0, sizeof table.fast);
  for (uint32_t symbol = 0; symbol < symbols; ++symbol) {
    uint32_t length = lengths[symbol];
    if (length == 0) {
      table.entries[start[0]++] = 0;
      continue;
    }
    uint32_t code = next_code[length]++;
    table.entries[start[length]++] = code << (32 - length) | symbol << 4 | length;
    if (length <= kFastBits) {
      uint32_t reversed = reverse16(code) >> (16 - length);  // in transmission order
      for (uint32_t index = reversed; index < (1u << kFastBits); index += 1u << length)
        table.fast[index] = static_cast<uint16_t>(symbol << 4 | length);
    }
  }
  table.first = count[0];
  table.end = symbols;
  return static_cast<int32_t>(symbols - count[0]);
}

namespace {

// symbol << 4 | length of the code the bits start, or 0 for none.
inline uint32_t lookup(const Table& table, uint64_t bits) {
  if (uint32_t hit = table.fast[bits & ((1u << kFastBits) - 1)]) return hit;
  uint32_t key = reverse16(static_cast<uint32_t>(bits) & 0xFFFF) << 16 | 0xFFFF;
  // The last entry not greater than the key.
  uint32_t low = table.first, high = table.end;
  while (low < high) {
    uint32_t middle = (low + high) / 2;
    if (table.entries[middle] <= key) low = middle + 1;
    else high = middle;
  }
  if (low == table.first) return 0;
  uint32_t entry = table.entries[low - 1];
  uint32_t length = entry & 15;
  // An incomplete code set leaves bit patterns that start no code.
  if ((entry ^ key) >> (32 - length) != 0) return 0;
  return entry & 0xFFFF;
}

}  // namespace

void BitReader::refill() {
  if (valid < 0) return;
  if (position + 8 <= length) {
    uint64_t word;
    std::memcpy(&word, input + position, 8);
    bits |= word << valid;
    position += static_cast<size_t>(63 - valid) >> 3;
    valid |= 56;
    return;
  }
  while (valid <= 56 && position < length) {
    bits |= uint64_t{input[position++]} << valid;
    valid += 8;
  }
}

int32_t decode_symbol(BitReader& reader, const Table& table) {
  if (reader.valid < static_cast<int32_t>(kMaxCodeLength)) reader.refill();
  uint32_t hit = lookup(table, reader.bits);
  if (hit == 0) return -1;
  reader.take(hit & 15);
  return static_cast<int32_t>(hit >> 4);
}

}  // namespace kel::inflate

namespace kel::deflate {

namespace {

using compression::Result;
using inflate::BitReader;
using inflate::Table;

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                        193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a dynamic block gives the code lengths of the code
// length alphabet.
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

constexpr uint32_t kEndOfBlock = 256;
constexpr uint32_t kLiteralSymbols = 286;   // 286 and 287 have codes only in fixed blocks, and mean nothing
constexpr uint32_t kDistanceSymbols = 30;   // likewise 30 and 31

struct FixedTables {
  Table literals;
  Table distances;
  FixedTables() {
    uint8_t lengths[inflate::kMaxSymbols];
    for (uint32_t symbol = 0; symbol < 288; ++symbol)
      lengths[symbol] = symbol < 144 ? 8 : symbol < 256 ? 9 : symbol < 280 ? 7 : 8;
    inflate::build_table(literals, lengths, 288);
    std::memset(lengths, 5, 32);
    inflate::build_table(distances, lengths, 32);
  }
};

const FixedTables& fixed_tables() {
  static const FixedTables tables;
  return tables;
}

class Decoder {
 public:
  Decoder(compression::Output& output, const uint8_t* input, size_t length)
      : output_(output), reader_(input, length) {}

  compression::Outcome run() {
    size_t original_capacity = output_.capacity;
    bool final_block = false;
    while (!final_block) {
      reader_.refill();
      final_block = reader_.take(1) == 1;
      uint32_t type = reader_.take(2);
      if (reader_.overrun()) return fail(compression::kMalformed);
      Result result;
      switch (type) {
        case 0: result = stored(); break;
        case 1: result = codes(fixed_tables().literals, fixed_tables().distances); break;
        case 2: result = dynamic(); break;
        default: result = compression::kReservedBlock; break;
      }
      if (result != compression::kDone) return fail(result);
    }
    bool fitted = output_.grow != nullptr || count_ <= original_capacity;
    return {fitted ? compression::kDone : compression::kOutputTooSmall, count_};
  }

 private:
  compression::Outcome fail(Result result) const { return {result, count_}; }

  // Whether the output holds room for needed bytes in all, growing it
  // when it can.
  bool room_for(size_t needed) {
    if (needed <= output_.capacity) return true;
    if (output_.grow == nullptr) return false;
    output_.grow(output_, needed);
    return needed <= output_.capacity;
  }

  Result stored() {
    reader_.align();
    reader_.refill();
    uint32_t size = reader_.take(16);
    reader_.take(16);  // the complement of the size, not compared
    if (reader_.overrun()) return compression::kMalformed;
    reader_.release_bytes();
    if (reader_.length - reader_.position < size) return compression::kStoredPastEnd;
    const uint8_t* from = reader_.input + reader_.position;
    if (size == 0) {
      // nothing to copy (and the output may have no buffer at all)
    } else if (room_for(count_ + size)) {
      std::memcpy(output_.bytes + count_, from, size);
    } else if (count_ < output_.capacity) {
      std::memcpy(output_.bytes + count_, from, output_.capacity - count_);
    }
    count_ += size;
    reader_.position += size;
    return compression::kDone;
  }

  Result dynamic() {
    reader_.refill();
    uint32_t literal_count = reader_.take(5) + 257;
    uint32_t distance_count = reader_.take(5) + 1;
    uint32_t code_length_count = reader_.take(4) + 4;
    uint8_t code_length_lengths[19] = {};
    for (uint32_t i = 0; i < code_length_count; ++i) {
      reader_.refill();
      code_length_lengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(reader_.take(3));
    }
    if (reader_.overrun()) return compression::kMalformed;
    Table code_lengths;
    if (inflate::build_table(code_lengths, code_length_lengths, 19) <= 0) return compression::kMalformed;

    // Literal/length and distance lengths form one sequence: a repeat may
    // cross from one into the other, never past the end.
    uint8_t lengths[inflate::kMaxSymbols + 32];
    uint32_t total = literal_count + distance_count;
    uint32_t filled = 0;
    while (filled < total) {
      int32_t symbol = inflate::decode_symbol(reader_, code_lengths);
      if (symbol < 0) return compression::kMalformed;
      uint8_t value = 0;
      uint32_t repeat;
      if (symbol < 16) {
        value = static_cast<uint8_t>(symbol);
        repeat = 1;
      } else if (symbol == 16) {
        if (filled == 0) return compression::kMalformed;
        value = lengths[filled - 1];
        repeat = 3 + reader_.take(2);
      } else if (symbol == 17) {
        repeat = 3 + reader_.take(3);
      } else {
        repeat = 11 + reader_.take(7);
      }
      if (reader_.overrun() || repeat > total - filled) return compression::kMalformed;
      std::memset(lengths + filled, value, repeat);
      filled += repeat;
    }
    const uint8_t* literal_lengths = lengths;
    const uint8_t* distance_lengths = lengths + literal_count;
    for (uint32_t symbol = kLiteralSymbols; symbol < literal_count; ++symbol)
      if (literal_lengths[symbol] != 0) return compression::kMalformed;
    for (uint32_t symbol = kDistanceSymbols; symbol < distance_count; ++symbol)
      if (distance_lengths[symbol] != 0) return compression::kMalformed;
    if (literal_lengths[kEndOfBlock] == 0) return compression::kMalformed;

    // A block of literals only may have no distance code at all; a match
    // in it then finds no code and is refused.
    Table literals, distances;
    if (inflate::build_table(literals, literal_lengths, literal_count) < 0) return compression::kMalformed;
    if (inflate::build_table(distances, distance_lengths, distance_count) < 0) return compression::kMalformed;
    return codes(literals, distances);
  }

  // The data of a fixed or dynamic block, up to its end-of-block code.
  Result codes(const Table& literals, const Table& distances) {
    const uint8_t* input = reader_.input;
    size_t input_length = reader_.length;
    size_t position = reader_.position;
    uint64_t bits = reader_.bits;
    int32_t valid = reader_.valid;
    uint8_t* out = output_.bytes;
    size_t capacity = output_.capacity;
    size_t count = count_;

    auto save = [&] {
      reader_.position = position;
      reader_.bits = bits;
      reader_.valid = valid;
      count_ = count;
    };
    auto take = [&](uint32_t n) {
      uint32_t value = static_cast<uint32_t>(bits & ((uint64_t{1} << n) - 1));
      bits >>= n;
      valid -= static_cast<int32_t>(n);
      return value;
    };
    // Asks the output for room; afterwards out and capacity are current.
    auto grow = [&](size_t needed) {
      save();
      bool fits = room_for(needed);
      out = output_.bytes;
      capacity = output_.capacity;
      return fits;
    };

    for (;;) {
      // A length with its extra bits and a distance with its extra bits
      // take at most 48 bits.
      if (valid < 48) {
        if (position + 8 <= input_length) {
          uint64_t word;
          std::memcpy(&word, input + position, 8);
          bits |= word << valid;
          position += static_cast<size_t>(63 - valid) >> 3;
          valid |= 56;
        } else {
          while (valid <= 56 && position < input_length) {
            bits |= uint64_t{input[position++]} << valid;
            valid += 8;
          }
        }
      }
      uint32_t hit = inflate::lookup(literals, bits);
      if (hit == 0) return save(), compression::kMalformed;
      take(hit & 15);
      uint32_t symbol = hit >> 4;
      if (symbol < 256) {
        if (valid < 0) return save(), compression::kMalformed;
        if (count < capacity || grow(count + 1)) out[count] = static_cast<uint8_t>(symbol);
        ++count;
        continue;
      }
      if (symbol == kEndOfBlock) {
        save();
        return valid < 0 ? compression::kMalformed : compression::kDone;
      }
      if (symbol >= 257 + 29) return save(), compression::kMalformed;
      uint32_t index = symbol - 257;
      uint32_t length = kLengthBase[index] + take(kLengthExtra[index]);
      uint32_t distance_hit = inflate::lookup(distances, bits);
      if (distance_hit == 0) return save(), compression::kMalformed;
      take(distance_hit & 15);
      uint32_t distance_symbol = distance_hit >> 4;
      if (distance_symbol >= kDistanceSymbols) return save(), compression::kMalformed;
      uint32_t distance = kDistanceBase[distance_symbol] + take(kDistanceExtra[distance_symbol]);
      if (valid < 0) return save(), compression::kMalformed;
      if (distance > count) return save(), compression::kDistanceTooFar;

      // Copies may overlap their own output: a distance of 1 repeats the
      // last byte. Whole 8-byte words are copied when the distance allows
      // it and the capacity holds the overshoot.
      if (count + length + 8 <= capacity || grow(count + length + 8)) {
        uint8_t* to = out + count;
        const uint8_t* from = to - distance;
        if (distance >= 8) {
          for (uint32_t done = 0; done < length; done += 8) std::memcpy(to + done, from + done, 8);
        } else if (distance == 1) {
          std::memset(to, *from, length);
        } else {
          for (uint32_t i = 0; i < length; ++i) to[i] = from[i];
        }
      } else {
        for (uint32_t i = 0; i < length; ++i)
          if (count + i < capacity) out[count + i] = out[count + i - distance];
      }
      count += length;
    }
  }

  compression::Output& output_;
  BitReader reader_;
  size_t count_ = 0;
};

}  // namespace

compression::Outcome decompress(compression::Output& output, const uint8_t* input, size_t length) {
  return Decoder(output, input, length).run();
}

int32_t decompress(uint8_t* output, size_t* capacity, const uint8_t* input, size_t length) {
  compression::Output target(output, *capacity);
  compression::Outcome outcome = decompress(target, input, length);
  *capacity = outcome.size;
  return outcome.result;
}

}  // namespace kel::deflate
