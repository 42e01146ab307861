// The deflate decoder (RFC 1951): raw deflate streams into bytes, for the
// decompress native's deflate method and the zlib and gzip framings
// (framings.h).
//
// Blocks are read until the final one ends: stored blocks are copied,
// fixed and dynamic ones decoded through canonical Huffman tables. A
// stream is refused (a result code, never a crash or a read outside the
// input) when it ends before its final block does, when a dynamic block's
// code lengths are inconsistent (a repeat with no previous length, repeats
// past the declared count, lengths for literal symbols 286-287 or distance
// codes 30-31, an over-subscribed code set, no end-of-block code), when
// its bits start no code of the table, or when it uses a symbol deflate
// does not define.
//
// Huffman table: one 32-bit entry per symbol of the alphabet: the symbol's
// code left-aligned in the top bits, the symbol in bits 4-15 and the code
// length in bits 0-3; symbols without a code are zero entries and sort
// first; the rest are ordered by code length, then symbol, which for
// canonical codes is ascending code order. A symbol is the last entry not
// greater than the next 16 input bits (in transmission order) followed by
// 16 one bits, when that entry's code is a prefix of those bits. In front
// of the search, a direct table answers every code of up to kFastBits bits
// from the next kFastBits input bits at once; the search serves the
// longer codes.
//
// Decoding tables live in the call; nothing is allocated but what the
// output's grow function makes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "io/compression.h"

namespace kel::inflate {

constexpr uint32_t kMaxSymbols = 288;
constexpr uint32_t kMaxCodeLength = 15;
constexpr uint32_t kFastBits = 10;

struct Table {
  uint32_t entries[kMaxSymbols];
  uint32_t first;  // entries[first, end) have codes and are searched
  uint32_t end;
  // symbol << 4 | length for the codes of up to kFastBits bits, indexed by
  // the next kFastBits input bits; 0 where the search decides.
  uint16_t fast[1u << kFastBits];
};

// Builds the table of an alphabet from its code lengths (0 to 15, 0 for
// no code; at most kMaxSymbols symbols). Answers the number of entries
// with a code, or -1 when the lengths over-subscribe the code space (or a
// length is above 15).
int32_t build_table(Table& table, const uint8_t* lengths, uint32_t symbols);

// The bit reader: bits are taken least significant first. Past the end of
// the input nothing is added, so missing bits read as zeros; a reader that
// took more bits than the input holds has overrun it. Its fields are open
// to the decoder's inner loop, which works on copies of them.
struct BitReader {
  BitReader(const uint8_t* bytes, size_t size) : input(bytes), length(size) {}

  // Adds whole input bytes above the valid bits: at least 56 valid bits
  // afterwards while the input lasts. Nothing once the reader has overrun.
  void refill();
  // Takes count bits (at most 32) and answers them.
  uint32_t take(uint32_t count) {
    uint32_t value = static_cast<uint32_t>(bits & ((uint64_t{1} << count) - 1));
    bits >>= count;
    valid -= static_cast<int32_t>(count);
    return value;
  }
  bool overrun() const { return valid < 0; }
  // Drops the bits up to the next byte boundary.
  void align() { take(static_cast<uint32_t>(valid) & 7); }
  // After align: gives the whole bytes still held back to the input, so
  // that position is the next byte to read and no bit is held.
  void release_bytes() {
    position -= static_cast<size_t>(valid) / 8;
    bits = 0;
    valid = 0;
  }

  const uint8_t* input;
  size_t length;
  size_t position = 0;  // the next input byte to add
  uint64_t bits = 0;    // valid bits from bit 0 up (bits above them are input bits too, or 0)
  int32_t valid = 0;    // below 0 once bits past the end were taken
};

// Decodes one symbol: answers it, or -1 when the next bits start no code of
// the table.
int32_t decode_symbol(BitReader& reader, const Table& table);

}  // namespace kel::inflate

namespace kel::deflate {

// Inflates the raw deflate stream of length bytes into the output. The
// result is kDone, kOutputTooSmall (only for an output that cannot grow;
// bytes past its capacity were counted, not written), kMalformed,
// kStoredPastEnd, kReservedBlock or kDistanceTooFar; the size is the
// number of bytes the stream decodes to (for a failure, those decoded
// before it).
compression::Outcome decompress(compression::Output& output, const uint8_t* input, size_t length);

// The same with an in/out capacity: on return it holds the decoded size
// (also when the bytes did not fit).
int32_t decompress(uint8_t* output, size_t* capacity, const uint8_t* input, size_t length);

}  // namespace kel::deflate
