// The LZ bit-stream codec: the exact records the compressor writes, round
// trips over many kinds of input, hand-built records for each decoding
// rule, and corrupted or random records that must be refused without any
// read outside the input.
//
// Inputs and records live in vectors of their exact size, so that under
// AddressSanitizer a single byte read or written past the end fails.
#include "runtime/lz_codec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"

namespace kel {
namespace {

using Bytes = std::vector<uint8_t>;

// --- Building records by hand ----------------------------------------------------

// Appends fields least significant bit first, as the format reads them.
class BitStream {
 public:
  BitStream& bits(uint32_t count, uint32_t value) {
    for (uint32_t i = 0; i < count; ++i) {
      if (pending_ == 0) bytes_.push_back(0);
      bytes_.back() |= static_cast<uint8_t>(((value >> i) & 1) << pending_);
      pending_ = (pending_ + 1) & 7;
    }
    return *this;
  }
  BitStream& literal(uint8_t byte) { return bits(1, 0).bits(8, byte); }
  // A match whose length needs the shortest length field (3..6) and whose
  // distance is 1..8.
  BitStream& short_match(uint32_t length, uint32_t distance) {
    return bits(1, 1).bits(1, 1).bits(2, length - 3).bits(4, 0).bits(3, distance - 1);
  }
  // A match of the longest length (566) at distance 1.
  BitStream& longest_repeat() { return bits(1, 1).bits(5, 0).bits(9, 511).bits(4, 0).bits(3, 0); }
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
  uint32_t pending_ = 0;
};

void append_u32(Bytes& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint32_t u32_at(const Bytes& bytes, size_t at) {
  return uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 | uint32_t{bytes[at + 2]} << 16 |
         uint32_t{bytes[at + 3]} << 24;
}

struct Block {
  uint32_t length;
  BitStream stream;
};

// A record whose header states the real packed size and the given
// unpacked size (by default the sum of the block lengths).
Bytes make_record(const std::vector<Block>& blocks, int64_t unpacked = -1) {
  Bytes area;
  uint32_t total = 0;
  for (const Block& block : blocks) {
    append_u32(area, block.length);
    area.insert(area.end(), block.stream.bytes().begin(), block.stream.bytes().end());
    total += block.length;
  }
  Bytes record;
  append_u32(record, static_cast<uint32_t>(area.size()));
  append_u32(record, unpacked < 0 ? total : static_cast<uint32_t>(unpacked));
  record.insert(record.end(), area.begin(), area.end());
  return record;
}

// The output of a record, or nothing when the decoder refuses it.
std::optional<Bytes> unpack(const Bytes& record) {
  uint32_t produced = 0xDEADBEEF;
  uint8_t* out = lz_codec::decompress(record.data(), record.size(), &produced);
  if (out == nullptr) return std::nullopt;
  Bytes result(out, out + produced);
  lz_codec::free_buffer(out);
  return result;
}

// The record for an input, or nothing when the compressor declines.
std::optional<Bytes> pack(const Bytes& input) {
  Bytes output(input.size());
  int64_t size = lz_codec::compress(input.data(), static_cast<uint32_t>(input.size()), output.data());
  if (size < 0) return std::nullopt;
  output.resize(static_cast<size_t>(size));
  return output;
}

// --- Reading the codes of a record ---------------------------------------------------

// One code as a reader of the format sees it: a literal (distance 0) or a
// match, with the output position it starts at.
struct Code {
  uint32_t at;
  uint32_t length;
  uint32_t distance;
};

struct Listing {
  std::vector<size_t> block_offsets;  // in the record
  std::vector<uint32_t> block_lengths;
  std::vector<Code> codes;
};

// Lists the codes of a well-formed record, to see which choices the
// compressor made.
Listing list_codes(const Bytes& record) {
  Listing listing;
  size_t position = 8;
  size_t end = 8 + u32_at(record, 0);
  uint32_t at = 0;
  while (position < end) {
    listing.block_offsets.push_back(position);
    uint32_t length = u32_at(record, position);
    position += 4;
    listing.block_lengths.push_back(length);
    uint64_t bit = 0;
    auto get = [&](uint32_t count) {
      uint32_t value = 0;
      for (uint32_t i = 0; i < count; ++i, ++bit)
        value |= uint32_t{(record[position + bit / 8] >> (bit % 8)) & 1u} << i;
      return value;
    };
    for (uint32_t done = 0; done < length;) {
      if (get(1) == 0) {
        get(8);
        listing.codes.push_back({at + done, 1, 0});
        ++done;
        continue;
      }
      uint32_t n;
      if (get(1)) n = get(2);
      else if (get(1)) n = get(2) + 4;
      else if (get(1)) n = get(2) + 8;
      else if (get(1)) n = get(3) + 12;
      else if (get(1)) n = get(5) + 20;
      else n = get(9) + 52;
      uint32_t k = get(4);
      uint32_t distance = k == 0 ? get(3) + 1 : get(k + 2) + (1u << (k + 2)) + 1;
      listing.codes.push_back({at + done, n + 3, distance});
      done += n + 3;
    }
    position += (bit + 7) / 8;
    at += length;
  }
  return listing;
}

const Code* code_at(const Listing& listing, uint32_t at) {
  for (const Code& code : listing.codes)
    if (code.at == at) return &code;
  return nullptr;
}

// --- Inputs --------------------------------------------------------------------------

Bytes random_bytes(size_t count, uint32_t seed, uint32_t alphabet = 256) {
  std::mt19937 generator(seed);
  std::uniform_int_distribution<uint32_t> pick(0, alphabet - 1);
  Bytes bytes(count);
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(pick(generator));
  return bytes;
}

Bytes text_like(size_t count, uint32_t seed) {
  static const char* const words[] = {"the", "block", "series", "value", "of", "word", "context",
                                      "append", "[", "]", "a", "function", "returns", "none",
                                      "integer!", "string", "to", "is", "make", "copy"};
  std::mt19937 generator(seed);
  std::uniform_int_distribution<size_t> pick(0, std::size(words) - 1);
  std::uniform_int_distribution<int> line(0, 11);
  std::string text;
  while (text.size() < count) {
    text += words[pick(generator)];
    text += line(generator) == 0 ? '\n' : ' ';
  }
  text.resize(count);
  return Bytes(text.begin(), text.end());
}

Bytes repeated(const std::string& pattern, size_t count) {
  Bytes bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(pattern[i % pattern.size()]);
  return bytes;
}

// --- The compressor's exact output ----------------------------------------------------

TEST(LzCodec, OneHundredTwentyEightEqualBytesGiveTheKnownRecord) {
  Bytes input(128, 0x41);
  auto record = pack(input);
  ASSERT_TRUE(record);
  // Packed size 8, unpacked size 128, block length 128, then a literal and
  // one match of length 127 at distance 1 in 31 bits.
  Bytes expected = {8, 0, 0, 0, 128, 0, 0, 0, 128, 0, 0, 0, 0x82, 0x02, 0x24, 0x00};
  EXPECT_EQ(*record, expected);
}

TEST(LzCodec, InputsShorterThan128BytesAreNotCompressed) {
  for (size_t length : {0u, 1u, 127u}) {
    Bytes input(length, 0x41);
    Bytes output(length + 1, 0xEE);
    EXPECT_EQ(lz_codec::compress(input.data(), static_cast<uint32_t>(length), output.data()), -1) << length;
  }
}

TEST(LzCodec, InputThatDoesNotShrinkIsDeclined) {
  // Random bytes cost 9 bits each as literals: the record cannot fit in
  // the input's length, and the output buffer of exactly that length is
  // never written past (AddressSanitizer checks the bound).
  for (size_t length : {128u, 4096u, 300000u}) EXPECT_FALSE(pack(random_bytes(length, 7))) << length;
}

TEST(LzCodec, ABlocksBytesDependOnlyOnItsOwnInput) {
  // The same last block after two different first blocks is written
  // byte for byte the same: the tables start empty for every block, and
  // what the first block left in the block buffer is never looked at.
  Bytes tail = text_like(5000, 2);
  Bytes first = text_like(1048576, 1);
  Bytes second = repeated("some other first block ", 1048576);
  first.insert(first.end(), tail.begin(), tail.end());
  second.insert(second.end(), tail.begin(), tail.end());
  auto record_first = pack(first);
  auto record_second = pack(second);
  ASSERT_TRUE(record_first && record_second);
  size_t last_first = list_codes(*record_first).block_offsets.at(1);
  size_t last_second = list_codes(*record_second).block_offsets.at(1);
  EXPECT_TRUE(Bytes(record_first->begin() + static_cast<long>(last_first), record_first->end()) ==
              Bytes(record_second->begin() + static_cast<long>(last_second), record_second->end()));
}

// --- Round trips ---------------------------------------------------------------------------

TEST(LzCodec, EveryRecordTheCompressorWritesDecodesToItsInput) {
  struct Case {
    const char* name;
    Bytes input;
  } cases[] = {
      {"128 bytes, two values", random_bytes(128, 1, 2)},
      {"short text", text_like(200, 2)},
      {"text, 64 KiB", text_like(65536, 4)},
      {"four-letter alphabet", random_bytes(100000, 5, 4)},
      {"sixteen-letter alphabet", random_bytes(200000, 6, 16)},
      {"one repeated byte, exactly one block", Bytes(1048576, 0)},
      {"one block and one byte", repeated("abcdefgh", 1048577)},
      {"period of 7 across blocks", repeated("0123456", 2 * 1048576 + 333)},
      {"text, 2.5 MiB", text_like(2621440, 8)},
      {"runs longer than the longest match", repeated(std::string(1000, 'x') + "y", 50000)},
  };
  for (const Case& c : cases) {
    auto record = pack(c.input);
    ASSERT_TRUE(record) << c.name;
    EXPECT_LT(record->size(), c.input.size()) << c.name;
    auto output = unpack(*record);
    ASSERT_TRUE(output) << c.name;
    EXPECT_TRUE(*output == c.input) << c.name;
  }
}

TEST(LzCodec, LargeInputsAreCutIntoBlocksOfOneMebibyte) {
  struct Case {
    size_t length;
    std::vector<uint32_t> blocks;
  } cases[] = {
      {1048576, {1048576}},
      {1048577, {1048576, 1}},
      {3 * 1048576 + 10, {1048576, 1048576, 1048576, 10}},
  };
  for (const Case& c : cases) {
    auto record = pack(repeated("kel ", c.length));
    ASSERT_TRUE(record) << c.length;
    EXPECT_EQ(list_codes(*record).block_lengths, c.blocks) << c.length;
    EXPECT_EQ(u32_at(*record, 4), c.length);
    if (c.blocks.back() == 1) {
      // One literal: its length word, then 9 bits padded to 2 bytes.
      EXPECT_EQ(record->size() - list_codes(*record).block_offsets.back(), 4u + 2u);
    }
  }
}

TEST(LzCodec, BlocksNeverReferToEachOther) {
  // The second block repeats the first, yet it starts with a literal.
  Bytes input = repeated("abc", 1048576 * 2);
  auto record = pack(input);
  ASSERT_TRUE(record);
  Listing listing = list_codes(*record);
  const Code* second_start = code_at(listing, 1048576);
  ASSERT_NE(second_start, nullptr);
  EXPECT_EQ(second_start->distance, 0u);
  for (const Code& code : listing.codes) {
    if (code.at >= 1048576) {
      EXPECT_LE(code.distance, code.at - 1048576) << code.at;
    }
  }
}

// --- The compressor's choice of matches --------------------------------------------------

TEST(LzCodec, FarMatchesNeedFourBytesToBeatLiterals) {
  // The repeated bytes appear once near the start and once at the given
  // distance further on, between runs of zeros; a different byte after
  // each copy keeps the match exactly as long as the repeat.
  struct Case {
    std::string repeat;
    uint32_t distance;
    bool match;
  } cases[] = {
      {"XYZ", 65536, true},       {"XYZ", 65537, false},      {"XYZ", 262144, false},
      {"XYZW", 65537, true},      {"XYZW", 262144, true},     {"XYZW", 262145, false},
  };
  for (const Case& c : cases) {
    uint32_t second = 1000 + c.distance;
    Bytes input(second + 2000, 0);
    std::memcpy(&input[1000], c.repeat.data(), c.repeat.size());
    input[1000 + c.repeat.size()] = 1;
    std::memcpy(&input[second], c.repeat.data(), c.repeat.size());
    input[second + c.repeat.size()] = 2;
    auto record = pack(input);
    ASSERT_TRUE(record);
    Listing listing = list_codes(*record);
    const Code* code = code_at(listing, second);
    ASSERT_NE(code, nullptr) << c.repeat << " at " << c.distance;
    if (c.match) {
      EXPECT_EQ(code->length, c.repeat.size()) << c.repeat << " at " << c.distance;
      EXPECT_EQ(code->distance, c.distance) << c.repeat << " at " << c.distance;
    } else {
      EXPECT_EQ(code->distance, 0u) << c.repeat << " at " << c.distance << " is a literal";
    }
    EXPECT_TRUE(unpack(*record) == input);
  }
}

TEST(LzCodec, MatchesStopAtTheLongestLength) {
  auto record = pack(Bytes(10000, 0x55));
  ASSERT_TRUE(record);
  for (const Code& code : list_codes(*record).codes) EXPECT_LE(code.length, 566u);
}

// --- Decoding hand-built records ------------------------------------------------------------

// "abc", a zero, 232 repeats of 566 zeros, then "abc" again from 131316
// bytes back: a distance of class 15.
constexpr uint32_t kFarRepeats = 232;
constexpr uint32_t kFarDistance = 4 + 566 * kFarRepeats;

Bytes far_reference_record() {
  BitStream stream;
  stream.literal('a').literal('b').literal('c').literal(0);
  for (uint32_t i = 0; i < kFarRepeats; ++i) stream.longest_repeat();
  stream.bits(1, 1).bits(1, 1).bits(2, 0).bits(4, 15).bits(17, kFarDistance - 1 - (1u << 17));
  return make_record({{kFarDistance + 3, stream}});
}

Bytes far_reference_output() {
  Bytes out(kFarDistance + 3, 0);
  for (uint32_t i = 0; i < 3; ++i) out[i] = out[kFarDistance + i] = static_cast<uint8_t>('a' + i);
  return out;
}

TEST(LzCodec, DecodesEachKindOfCode) {
  struct Case {
    const char* name;
    Bytes record;
    Bytes expected;
  } cases[] = {
      {"one literal: 9 bits in 2 bytes", make_record({{1, BitStream().literal('k')}}), Bytes{'k'}},
      {"a match of distance 1 and length 10 repeats the byte",
       make_record({{11, BitStream().literal('z').bits(1, 1).bits(2, 0b10).bits(2, 3).bits(4, 0).bits(3, 0)}}),
       Bytes(11, 'z')},
      {"4 zero bits then 101 give distance 6",
       make_record({{9, BitStream()
                            .literal('a').literal('b').literal('c').literal('d').literal('e').literal('f')
                            .bits(1, 1).bits(1, 1).bits(2, 0).bits(4, 0).bits(1, 1).bits(1, 0).bits(1, 1)}}),
       Bytes{'a', 'b', 'c', 'd', 'e', 'f', 'a', 'b', 'c'}},
      {"the longest length field: 9 bits + 52 + 3", make_record({{567, BitStream().literal('q').longest_repeat()}}),
       Bytes(567, 'q')},
      {"the widest distance class: 15 means 17 bits above 2^17", far_reference_record(), far_reference_output()},
      {"the next block starts after the last touched byte",
       make_record({{1, BitStream().literal('x')}, {2, BitStream().literal('y').literal('z')}}),
       Bytes{'x', 'y', 'z'}},
      {"packed size 0 decodes to nothing", make_record({}), Bytes{}},
  };
  for (const Case& c : cases) {
    auto output = unpack(c.record);
    ASSERT_TRUE(output) << c.name;
    EXPECT_EQ(*output, c.expected) << c.name;
  }
}

TEST(LzCodec, RefusesInconsistentRecords) {
  Bytes valid = make_record({{3, BitStream().literal('a').literal('b').literal('c')}});
  auto with_packed_size = [&](uint32_t size) {
    Bytes r = valid;
    r[0] = static_cast<uint8_t>(size);
    return r;
  };
  auto truncated = [&](size_t length) { return Bytes(valid.begin(), valid.begin() + static_cast<long>(length)); };
  auto with_trailing = [&](size_t count) {
    Bytes r = valid;
    r.insert(r.end(), count, 0);
    r[0] = static_cast<uint8_t>(r.size() - 8);
    return r;
  };
  struct Case {
    const char* name;
    Bytes record;
  } cases[] = {
      {"shorter than the header", Bytes{0, 0, 0, 0, 0, 0, 0}},
      {"packed size larger than the input", with_packed_size(static_cast<uint32_t>(valid.size() - 7))},
      {"input cut inside the stream", truncated(valid.size() - 1)},
      {"packed size cut inside the stream", with_packed_size(static_cast<uint32_t>(valid.size() - 9))},
      {"block length 0", make_record({{0, BitStream()}}, 0)},
      {"block length above 1 MiB", [] {
         // Enough stream bytes that the header's output size is plausible.
         BitStream stream;
         for (int i = 0; i < 5000; ++i) stream.literal('a');
         return make_record({{1048577, stream}});
       }()},
      {"a match before the block start", make_record({{4, BitStream().literal('a').short_match(3, 2)}})},
      {"a match past the block end", make_record({{3, BitStream().literal('a').short_match(4, 1)}})},
      {"a block asking for more output than the header",
       make_record({{3, BitStream().literal('a').literal('b').literal('c')}}, 2)},
      {"output shorter than the header says", make_record({{3, BitStream().literal('a').literal('b').literal('c')}}, 4)},
      {"a match into the previous block",
       make_record({{2, BitStream().literal('a').literal('b')}, {3, BitStream().short_match(3, 2)}})},
      {"three stray bytes after the last block", with_trailing(3)},
      {"an unpacked size no block area that small can hold", make_record({{1, BitStream().literal('a')}}, 0xFFFFFFF0)},
  };
  for (const Case& c : cases) EXPECT_FALSE(unpack(c.record)) << c.name;
  EXPECT_EQ(lz_codec::decompress(nullptr, 100), nullptr);
}

// --- Hostile input ---------------------------------------------------------------------------

TEST(LzCodec, CorruptedAndRandomRecordsAreRefusedOrDecodedWithinBounds) {
  std::mt19937 generator(20240611);
  std::vector<Bytes> originals;
  for (const Bytes& input : {text_like(3000, 21), random_bytes(5000, 22, 4), repeated("ab", 700),
                             random_bytes(20000, 23, 32)})
    originals.push_back(*pack(input));
  originals.push_back(make_record({{11, BitStream().literal('z').bits(1, 1).bits(2, 0b10).bits(2, 3).bits(4, 0).bits(3, 0)}}));

  auto check = [](const Bytes& record) {
    uint32_t produced = 0;
    uint8_t* out = lz_codec::decompress(record.data(), record.size(), &produced);
    if (out == nullptr) return;
    // Whatever it accepted, it produced exactly what the header promised.
    EXPECT_EQ(produced, u32_at(record, 4));
    lz_codec::free_buffer(out);
  };

  for (int round = 0; round < 3000; ++round) {
    const Bytes& original = originals[static_cast<size_t>(round) % originals.size()];
    Bytes record = original;
    std::uniform_int_distribution<size_t> where(0, record.size() - 1);
    int flips = 1 + round % 4;
    for (int i = 0; i < flips; ++i) record[where(generator)] ^= static_cast<uint8_t>(1 + generator() % 255);
    check(record);
    // The same damage on a record cut short, keeping its header's claims.
    record.resize(std::uniform_int_distribution<size_t>(0, record.size())(generator));
    check(record);
  }
  for (int round = 0; round < 3000; ++round) {
    size_t length = std::uniform_int_distribution<size_t>(0, 300)(generator);
    Bytes record = random_bytes(length, static_cast<uint32_t>(generator()));
    if (length >= 8 && round % 2 == 0) {
      // A plausible header, so that the blocks themselves get decoded.
      uint32_t area = static_cast<uint32_t>(length - 8);
      std::memcpy(record.data(), &area, 4);
      uint32_t unpacked = static_cast<uint32_t>(generator() % (area * 8 + 1));
      std::memcpy(record.data() + 4, &unpacked, 4);
      if (length >= 12) {
        uint32_t block = unpacked;
        std::memcpy(record.data() + 8, &block, 4);
      }
    }
    check(record);
  }
}

}  // namespace
}  // namespace kel
