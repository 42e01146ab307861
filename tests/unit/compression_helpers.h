// Shared by the compression tests: building deflate streams by hand, test
// inputs of several kinds, and calling the routines on buffers of their
// exact size (so that under AddressSanitizer a byte read or written past
// either end fails).
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "io/compression.h"
#include "io/deflate.h"
#include "io/framings.h"
#include "io/inflate.h"

namespace kel::compression_testing {

using Bytes = std::vector<uint8_t>;

inline Bytes bytes_of(const std::string& text) { return Bytes(text.begin(), text.end()); }

// --- Writing streams by hand ----------------------------------------------------------

// Appends fields least significant bit first; Huffman codes most
// significant bit first, as deflate sends them.
class StreamWriter {
 public:
  StreamWriter& bits(uint32_t count, uint32_t value) {
    for (uint32_t i = 0; i < count; ++i) {
      if (pending_ == 0) bytes_.push_back(0);
      bytes_.back() |= static_cast<uint8_t>(((value >> i) & 1) << pending_);
      pending_ = (pending_ + 1) & 7;
    }
    return *this;
  }
  StreamWriter& code(uint32_t length, uint32_t value) {
    for (uint32_t i = length; i-- > 0;) bits(1, (value >> i) & 1);
    return *this;
  }
  StreamWriter& byte(uint8_t value) {
    pending_ = 0;
    bytes_.push_back(value);
    return *this;
  }
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
  uint32_t pending_ = 0;
};

// The canonical codes of an alphabet's code lengths (RFC 1951 3.2.2).
inline std::vector<uint32_t> canonical_codes(const std::vector<uint8_t>& lengths) {
  uint32_t count[16] = {};
  for (uint8_t length : lengths) ++count[length];
  count[0] = 0;
  uint32_t next[16] = {};
  for (int length = 1; length < 16; ++length) next[length] = (next[length - 1] + count[length - 1]) << 1;
  std::vector<uint32_t> codes(lengths.size());
  for (size_t symbol = 0; symbol < lengths.size(); ++symbol)
    if (lengths[symbol] != 0) codes[symbol] = next[lengths[symbol]]++;
  return codes;
}

// A fixed-code symbol: literal/length symbols by their table, distance
// symbols as 5 bits.
inline void fixed_symbol(StreamWriter& out, uint32_t symbol) {
  if (symbol < 144) out.code(8, 0x30 + symbol);
  else if (symbol < 256) out.code(9, 0x190 + symbol - 144);
  else if (symbol < 280) out.code(7, symbol - 256);
  else out.code(8, 0xC0 + symbol - 280);
}

// A dynamic block: the header with its code lengths, then the data.
struct DynamicBlock {
  std::vector<uint8_t> literal_lengths;   // HLIT entries (257 to 288)
  std::vector<uint8_t> distance_lengths;  // HDIST entries (1 to 32)
  // The code length symbols sent, each with its extra bits; empty: each
  // length sent as itself.
  std::vector<std::pair<uint8_t, uint32_t>> length_symbols;
  // The code length code's lengths (19, in symbol order); empty: a
  // complete code of 4 and 5 bits.
  std::vector<uint8_t> code_length_lengths;
  // The data: literal/length symbols (below 288) and distance symbols
  // (kDistance + symbol), each with extra bits (value, count).
  struct Item {
    uint32_t symbol;
    uint32_t extra = 0;
    uint32_t extra_bits = 0;
  };
  std::vector<Item> data;
  static constexpr uint32_t kDistance = 1000;
};

inline void write_dynamic(StreamWriter& out, bool final, const DynamicBlock& block) {
  static constexpr uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  std::vector<uint8_t> cl_lengths = block.code_length_lengths;
  if (cl_lengths.empty()) {
    cl_lengths.assign(19, 4);
    for (uint32_t symbol : {13, 14, 15, 16, 17, 18}) cl_lengths[symbol] = 5;
  }
  out.bits(1, final ? 1 : 0).bits(2, 2);
  out.bits(5, static_cast<uint32_t>(block.literal_lengths.size() - 257));
  out.bits(5, static_cast<uint32_t>(block.distance_lengths.size() - 1));
  out.bits(4, 19 - 4);
  for (uint8_t symbol : kOrder) out.bits(3, cl_lengths[symbol]);
  std::vector<uint32_t> cl_codes = canonical_codes(cl_lengths);
  auto send_length = [&](uint8_t symbol, uint32_t extra) {
    out.code(cl_lengths[symbol], cl_codes[symbol]);
    if (symbol == 16) out.bits(2, extra);
    if (symbol == 17) out.bits(3, extra);
    if (symbol == 18) out.bits(7, extra);
  };
  if (block.length_symbols.empty()) {
    for (uint8_t length : block.literal_lengths) send_length(length, 0);
    for (uint8_t length : block.distance_lengths) send_length(length, 0);
  } else {
    for (const auto& [symbol, extra] : block.length_symbols) send_length(symbol, extra);
  }
  std::vector<uint32_t> literal_codes = canonical_codes(block.literal_lengths);
  std::vector<uint32_t> distance_codes = canonical_codes(block.distance_lengths);
  for (const DynamicBlock::Item& item : block.data) {
    if (item.symbol >= DynamicBlock::kDistance) {
      uint32_t symbol = item.symbol - DynamicBlock::kDistance;
      out.code(block.distance_lengths[symbol], distance_codes[symbol]);
    } else {
      out.code(block.literal_lengths[item.symbol], literal_codes[item.symbol]);
    }
    out.bits(item.extra_bits, item.extra);
  }
}

// --- Inputs -------------------------------------------------------------------------------

inline Bytes random_bytes(size_t size, uint32_t seed) {
  std::mt19937 generator(seed);
  Bytes bytes(size);
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(generator());
  return bytes;
}

// Lines of words from a small vocabulary, like a log or a table.
inline Bytes text_bytes(size_t size, uint32_t seed) {
  static const char* const kWords[] = {"deflate", "the",  "block", "of",     "literal", "length",
                                       "distance", "code", "tree",  "window", "match",   "header",
                                       "1995",     "42",   ",",     "\n",     "Zürich",  "naïve"};
  std::mt19937 generator(seed);
  Bytes bytes;
  bytes.reserve(size + 16);
  while (bytes.size() < size) {
    std::string word = kWords[generator() % (sizeof kWords / sizeof kWords[0])];
    bytes.insert(bytes.end(), word.begin(), word.end());
    bytes.push_back(' ');
  }
  bytes.resize(size);
  return bytes;
}

// Runs of a few bytes repeated at several periods.
inline Bytes repetitive_bytes(size_t size) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i / 1000) % 3 == 0 ? 'x' : "abcabd"[i % 6]);
  return bytes;
}

// --- Calling the routines on buffers of exact size -------------------------------------------

using Compressor = int32_t (*)(uint8_t*, size_t*, const uint8_t*, size_t);

struct Coded {
  int32_t result;
  size_t size;
  Bytes bytes;  // the bytes written, when the result is 0
};

// Calls a routine with an output of exactly capacity bytes (input copied
// to a vector of its exact size too).
inline Coded call_exact(Compressor routine, const Bytes& input, size_t capacity) {
  Bytes in(input);
  Bytes out(capacity);
  size_t size = capacity;
  int32_t result = routine(out.data(), &size, in.data(), in.size());
  Coded coded{result, size, {}};
  if (result == 0) coded.bytes.assign(out.begin(), out.begin() + static_cast<ptrdiff_t>(size));
  return coded;
}

// Calls a routine with no room first, then again with the size it asks
// for while it answers 1 (too small) or, for a framing's compressor, 2
// with a size beyond the room it had (below the framing's minimum).
inline Coded call_sized(Compressor routine, const Bytes& input) {
  size_t capacity = 0;
  Coded coded = call_exact(routine, input, capacity);
  for (int attempt = 0; attempt < 2 && (coded.result == 1 || coded.result == 2) && coded.size > capacity; ++attempt) {
    capacity = coded.size;
    coded = call_exact(routine, input, capacity);
  }
  return coded;
}

inline Coded deflate_of(const Bytes& input) { return call_sized(deflate::compress, input); }
inline Coded inflate_of(const Bytes& input) { return call_sized(deflate::decompress, input); }

}  // namespace kel::compression_testing
