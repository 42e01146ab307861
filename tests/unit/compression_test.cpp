// The deflate compressor, the decoder and the zlib and gzip framings on
// their own: the exact streams the compressor writes, every result code of
// the decoder on hand-built streams, the framings' headers and checks,
// outputs that are too small or that grow, and round trips over many kinds
// of input. Cross-checks with the system's zlib are in
// compression_zlib_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "compression_helpers.h"
#include "runtime/checksum.h"

namespace kel {
namespace {

using namespace compression_testing;
using Item = DynamicBlock::Item;

// Bytes from hexadecimal digits; spaces are ignored.
Bytes hex(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
  Bytes bytes;
  for (size_t i = 0; i + 1 < text.size(); i += 2)
    bytes.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
  return bytes;
}

std::string hex_of(const Bytes& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

Bytes repeated(uint8_t byte, size_t count) { return Bytes(count, byte); }

// --- The compressor's exact output ------------------------------------------------------------
// One final fixed block; the first three bytes and the last two are always
// literals; a match is the first slot of the bucket whose three bytes
// agree, extended up to 258 bytes.

TEST(DeflateCompressor, WritesTheseExactStreams) {
  struct Case {
    const char* name;
    Bytes input;
    const char* stream;
  } cases[] = {
      {"empty input: only the end-of-block code", {}, "0300"},
      {"300 equal bytes: three literals, 258 at distance 1, 39 at distance 258", repeated(0x02, 300),
       "6362621A0544860000"},
      {"the same with another byte", repeated('a', 300), "4B4C4C1C0544860000"},
      {"five equal bytes: the last two stay literals", bytes_of("aaaaa"), "4B4C4C4C4C0400"},
      {"six equal bytes: a match of 3 at the end", bytes_of("aaaaaa"), "4B4C4C040200"},
      {"a period of 3", bytes_of("abcabcabcabc"), "4B4C4A862300"},
      {"a match in the middle", bytes_of("Kel Kel Kel!"), "F34ECD5180624500"},
  };
  for (const Case& c : cases) {
    Coded coded = deflate_of(c.input);
    EXPECT_EQ(coded.result, 0) << c.name;
    EXPECT_EQ(hex_of(coded.bytes), c.stream) << c.name;
  }
}

// A match never reaches 32768 bytes back or past 258 bytes, and the
// compressor reads nothing past the input (the vectors are of exact size).
TEST(DeflateCompressor, MatchesStayInsideTheWindowAndTheInput) {
  Bytes input = random_bytes(40000, 1);
  std::copy(input.begin(), input.begin() + 1000, input.begin() + 33000);  // a copy 33000 back: too far
  std::copy(input.begin() + 100, input.begin() + 1100, input.end() - 1000);
  Coded coded = deflate_of(input);
  ASSERT_EQ(coded.result, 0);
  EXPECT_EQ(inflate_of(coded.bytes).bytes, input);
}

// --- Outputs that are too small -------------------------------------------------------------
// A routine given less room than it needs answers 1 with the size it needs
// and writes nothing past the room it had; with exactly that room it
// answers 0. The compressors of the framings refuse a buffer below their
// minimum with 2 and the input length plus that minimum.

TEST(CompressionOutput, TooSmallGivesTheSizeNeeded) {
  Bytes input = text_bytes(5000, 2);
  struct Case {
    const char* name;
    Compressor routine;
    Bytes input;
  } cases[] = {
      {"deflate", deflate::compress, input},
      {"zlib", zlib::compress, input},
      {"gzip", gzip::compress, input},
      {"inflate", deflate::decompress, deflate_of(input).bytes},
      {"zlib inflate", zlib::decompress, call_sized(zlib::compress, input).bytes},
      {"gzip inflate", gzip::decompress, call_sized(gzip::compress, input).bytes},
  };
  for (const Case& c : cases) {
    Coded needed = call_sized(c.routine, c.input);
    ASSERT_EQ(needed.result, 0) << c.name;
    Coded short_by_one = call_exact(c.routine, c.input, needed.size - 1);
    EXPECT_EQ(short_by_one.result, 1) << c.name;
    EXPECT_EQ(short_by_one.size, needed.size) << c.name;
    Coded exact = call_exact(c.routine, c.input, needed.size);
    EXPECT_EQ(exact.result, 0) << c.name;
    EXPECT_EQ(exact.bytes, needed.bytes) << c.name;
  }
}

TEST(CompressionOutput, FramingsRefuseABufferBelowTheirMinimum) {
  Bytes input = bytes_of("abc");
  Coded zlib_short = call_exact(zlib::compress, input, 5);
  EXPECT_EQ(zlib_short.result, 2);
  EXPECT_EQ(zlib_short.size, 3u + 6);
  Coded gzip_short = call_exact(gzip::compress, input, 17);
  EXPECT_EQ(gzip_short.result, 2);
  EXPECT_EQ(gzip_short.size, 3u + 18);
}

// An output that grows: the decoder asks for room before it writes past
// the end, and the result fits whatever room it started with.
struct GrowingOutput {
  Bytes buffer;
  size_t largest_request = 0;
  compression::Output output;

  explicit GrowingOutput(size_t initial) : buffer(initial) {
    output = compression::Output(buffer.data(), buffer.size());
    output.owner = this;
    output.grow = [](compression::Output& target, size_t needed) {
      auto* self = static_cast<GrowingOutput*>(target.owner);
      self->largest_request = std::max(self->largest_request, needed);
      self->buffer.resize(std::max(needed, 2 * self->buffer.size()));
      target.bytes = self->buffer.data();
      target.capacity = self->buffer.size();
    };
  }
};

TEST(CompressionOutput, AGrowingOutputTakesTheWholeResult) {
  Bytes input = text_bytes(300000, 3);
  struct Case {
    const char* name;
    compression::Outcome (*routine)(compression::Output&, const uint8_t*, size_t);
    Compressor compressor;
  } cases[] = {
      {"deflate", deflate::decompress, deflate::compress},
      {"zlib", zlib::decompress, zlib::compress},
      {"gzip", gzip::decompress, gzip::compress},
  };
  for (const Case& c : cases) {
    for (size_t initial : {size_t{0}, size_t{1}, size_t{1000}, size_t{400000}}) {
      Bytes stream = call_sized(c.compressor, input).bytes;
      GrowingOutput target(initial);
      compression::Outcome outcome = c.routine(target.output, stream.data(), stream.size());
      ASSERT_EQ(outcome.result, compression::kDone) << c.name << " " << initial;
      ASSERT_EQ(outcome.size, input.size()) << c.name << " " << initial;
      EXPECT_TRUE(std::equal(input.begin(), input.end(), target.buffer.begin())) << c.name << " " << initial;
    }
  }
}

// --- The decoder's result codes ------------------------------------------------------------------

// A fixed block holding the given literal/length and distance symbols.
Bytes fixed_block(const std::vector<Item>& items, bool final = true) {
  StreamWriter out;
  out.bits(1, final ? 1 : 0).bits(2, 1);
  for (const Item& item : items) {
    if (item.symbol >= DynamicBlock::kDistance) out.code(5, item.symbol - DynamicBlock::kDistance);
    else fixed_symbol(out, item.symbol);
    out.bits(item.extra_bits, item.extra);
  }
  return out.bytes();
}

constexpr uint32_t kDistance = DynamicBlock::kDistance;

// Literal/length lengths giving 'a' to 'n' the lengths 1 to 14 and 'o' and
// the end-of-block code 15 bits: a complete code with 15-bit codes.
std::vector<uint8_t> long_code_lengths() {
  std::vector<uint8_t> lengths(257, 0);
  for (uint8_t i = 0; i < 14; ++i) lengths['a' + i] = static_cast<uint8_t>(i + 1);
  lengths['o'] = 15;
  lengths[256] = 15;
  return lengths;
}

// Literal/length lengths with 'a', 'b', the end of block and the length
// symbol 257 (3) all of 2 bits.
std::vector<uint8_t> small_code_lengths(size_t count = 258) {
  std::vector<uint8_t> lengths(count, 0);
  lengths['a'] = lengths['b'] = lengths[256] = lengths[257] = 2;
  return lengths;
}

Bytes dynamic_stream(const DynamicBlock& block) {
  StreamWriter out;
  write_dynamic(out, true, block);
  return out.bytes();
}

DynamicBlock small_block(std::vector<Item> data, std::vector<uint8_t> distance_lengths = {1}) {
  DynamicBlock block;
  block.literal_lengths = small_code_lengths();
  block.distance_lengths = std::move(distance_lengths);
  block.data = std::move(data);
  return block;
}

TEST(Inflate, EveryResultCode) {
  std::vector<Item> hello = {{'h'}, {'e'}, {'l'}, {'l'}, {'o'}, {256}};
  DynamicBlock long_codes;
  long_codes.literal_lengths = long_code_lengths();
  long_codes.distance_lengths = {1};
  for (char c = 'a'; c <= 'o'; ++c) long_codes.data.push_back({static_cast<uint32_t>(c)});
  long_codes.data.push_back({256});

  // A repeat (16) with no length before it.
  DynamicBlock no_previous = small_block({{256}});
  no_previous.length_symbols = {{16, 0}};
  // Zeros (18: 11 + 127) running past HLIT + HDIST.
  DynamicBlock past_count = small_block({{256}});
  past_count.length_symbols = {{18, 127}, {18, 127}, {18, 127}};
  // A repeat may cross from the literal/length lengths into the distance
  // lengths: 97 zeros, 'a' and 'b' 2, 157 zeros, 256 2, then 16 repeats
  // that 2 five times: for 257 and the four distance codes.
  DynamicBlock crossing = small_block({{'a'}, {257}, {kDistance + 0}, {'b'}, {256}}, {2, 2, 2, 2});
  crossing.length_symbols = {{18, 97 - 11}, {2, 0}, {2, 0}, {18, 138 - 11}, {18, 19 - 11}, {2, 0}, {16, 5 - 3}};
  // Lengths for the literal symbol 286, and for the distance code 30.
  DynamicBlock literal_286 = small_block({{256}});
  literal_286.literal_lengths = small_code_lengths(287);
  literal_286.literal_lengths[286] = 2;
  literal_286.literal_lengths['b'] = 0;
  DynamicBlock distance_30 = small_block({{256}}, std::vector<uint8_t>(31, 0));
  distance_30.distance_lengths[30] = 1;
  // Five codes of 2 bits: over-subscribed.
  DynamicBlock over = small_block({{256}});
  over.literal_lengths['c'] = 2;
  // No code for the end of block: refused before the data is read (which
  // here would be a match before any output).
  DynamicBlock no_end = small_block({{257}, {kDistance + 0}});
  no_end.literal_lengths[256] = 0;
  no_end.literal_lengths['c'] = 2;
  // A code length code with no codes, and one over-subscribed.
  DynamicBlock empty_lengths_code = small_block({{256}});
  empty_lengths_code.code_length_lengths.assign(19, 0);
  DynamicBlock over_lengths_code = small_block({{256}});
  over_lengths_code.code_length_lengths.assign(19, 1);
  // Only literals, and no distance code at all (one distance length 0).
  DynamicBlock literals_only = small_block({{'a'}, {'b'}, {256}}, {0});
  DynamicBlock match_without_distances = small_block({{'a'}, {257}, {256}}, {0});
  // An incomplete literal/length code: 'a' 00, 'b' 01, the end of block
  // 10; the pattern 11 starts no code.
  DynamicBlock incomplete = small_block({{'a'}});
  incomplete.literal_lengths[257] = 0;
  Bytes unassigned_pattern = [&] {
    StreamWriter out;
    write_dynamic(out, true, incomplete);
    out.code(2, 3);
    return out.bytes();
  }();

  struct Case {
    const char* name;
    Bytes stream;
    size_t capacity;
    int32_t result;
    std::string output;  // checked when the result is 0
  } cases[] = {
      {"an empty fixed block", hex("0300"), 16, 0, ""},
      {"a stored block of length 0", hex("010000FFFF"), 16, 0, ""},
      {"a stored block", hex("010300FCFF616263"), 16, 0, "abc"},
      {"a stored block's complement is not compared", hex("0103000000616263"), 16, 0, "abc"},
      {"a stored block, then a fixed one",
       [] {
         Bytes stream = hex("0002 00FD FF 6162");
         Bytes fixed = fixed_block({{'c'}, {256}});
         stream.insert(stream.end(), fixed.begin(), fixed.end());
         return stream;
       }(),
       16, 0, "abc"},
      {"fixed literals", fixed_block(hello), 16, 0, "hello"},
      {"a distance of 1 repeats the last byte", fixed_block({{'x'}, {259}, {kDistance + 0}, {256}}), 16, 0,
       "xxxxxx"},
      {"a copy overlapping its own output", fixed_block({{'a'}, {'b'}, {260}, {kDistance + 1}, {256}}), 16, 0,
       "abababab"},
      {"the longest match", fixed_block({{'z'}, {285}, {kDistance + 0}, {256}}), 300, 0, std::string(259, 'z')},
      {"dynamic codes of up to 15 bits", dynamic_stream(long_codes), 32, 0, "abcdefghijklmno"},
      {"a repeat crossing into the distance lengths", dynamic_stream(crossing), 16, 0, "aaaab"},
      {"a block of literals without distance codes", dynamic_stream(literals_only), 16, 0, "ab"},
      {"output past the capacity", fixed_block(hello), 3, 1, ""},
      {"no input", {}, 16, 2, ""},
      {"a stream that ends before its final block", fixed_block({{'a'}, {256}}, false), 16, 2, ""},
      {"a final block cut short", hex("03"), 16, 2, ""},
      {"a stored block's header cut short", hex("0103"), 16, 2, ""},
      {"fixed literal/length symbol 286", fixed_block({{'a'}, {286}, {256}}), 16, 2, ""},
      {"fixed distance code 30", fixed_block({{'a'}, {257}, {kDistance + 30}, {256}}), 16, 2, ""},
      {"a repeat with no previous length", dynamic_stream(no_previous), 16, 2, ""},
      {"repeats past HLIT + HDIST", dynamic_stream(past_count), 16, 2, ""},
      {"a length for literal symbol 286", dynamic_stream(literal_286), 16, 2, ""},
      {"a length for distance code 30", dynamic_stream(distance_30), 16, 2, ""},
      {"an over-subscribed literal/length code", dynamic_stream(over), 16, 2, ""},
      {"no end-of-block code", dynamic_stream(no_end), 16, 2, ""},
      {"an empty code length code", dynamic_stream(empty_lengths_code), 16, 2, ""},
      {"an over-subscribed code length code", dynamic_stream(over_lengths_code), 16, 2, ""},
      {"a match in a block without distance codes", dynamic_stream(match_without_distances), 16, 2, ""},
      {"bits that start no code", unassigned_pattern, 16, 2, ""},
      {"a stored block past the end of the input", hex("010500FAFF6162"), 16, 3, ""},
      {"a block of the reserved type", hex("07"), 16, 4, ""},
      {"a distance before any output", fixed_block({{257}, {kDistance + 0}, {256}}), 16, 5, ""},
      {"a distance past the output", fixed_block({{'a'}, {257}, {kDistance + 1}, {256}}), 16, 5, ""},
  };
  for (const Case& c : cases) {
    Coded coded = call_exact(deflate::decompress, c.stream, c.capacity);
    EXPECT_EQ(coded.result, c.result) << c.name;
    if (c.result == 0) {
      EXPECT_EQ(std::string(coded.bytes.begin(), coded.bytes.end()), c.output) << c.name;
    }
  }
}

// --- The framings -------------------------------------------------------------------------------------

TEST(Framings, WriteTheseExactStreams) {
  EXPECT_EQ(hex_of(call_sized(zlib::compress, {}).bytes), "7801030000000001");
  EXPECT_EQ(hex_of(call_sized(gzip::compress, {}).bytes), "1F8B08000000000004040300" "0000000000000000");
  // The trailers: Adler-32 big-endian; CRC-32 and length little-endian.
  EXPECT_EQ(hex_of(call_sized(zlib::compress, bytes_of("abc")).bytes), "78014B4C4A0600024D0127");
  EXPECT_EQ(hex_of(call_sized(gzip::compress, bytes_of("abc")).bytes),
            "1F8B08000000000004044B4C4A0600" "C2412435" "03000000");
}

// A gzip member as the system's tools write one, with optional fields.
Bytes gzip_member(uint8_t flags, const Bytes& fields, const Bytes& data) {
  Bytes member = fields;
  const uint8_t header[10] = {0x1F, 0x8B, 0x08, flags, 0, 0, 0, 0, 0, 3};
  member.insert(member.begin(), header, header + 10);
  Bytes deflated = deflate_of(data).bytes;
  member.insert(member.end(), deflated.begin(), deflated.end());
  Bytes whole = call_sized(gzip::compress, data).bytes;  // its trailer is the same
  member.insert(member.end(), whole.end() - 8, whole.end());
  return member;
}

// The member with FHCRC's field inserted where the header ends: the low
// 16 bits of the CRC-32 of the header before it (or a wrong value).
Bytes with_header_crc(Bytes member, size_t header_end, bool right) {
  uint32_t crc = crypto::crc32_update(0, member.data(), header_end) & 0xFFFF;
  if (!right) crc ^= 1;
  member.insert(member.begin() + static_cast<ptrdiff_t>(header_end),
                {static_cast<uint8_t>(crc), static_cast<uint8_t>(crc >> 8)});
  return member;
}

TEST(Framings, ReadingChecksHeadersAndCheckValues) {
  Bytes data = bytes_of("framed data, framed data");
  Bytes zlib_stream = call_sized(zlib::compress, data).bytes;
  auto with_byte = [](Bytes bytes, size_t at, uint8_t value) {
    bytes[at] = value;
    return bytes;
  };
  Bytes extra_and_name = gzip_member(4 | 8, hex("0300 414243 6E616D6500"), data);
  Bytes comment = gzip_member(16, bytes_of(std::string("a comment") + '\0'), data);
  Bytes crc_ok = with_header_crc(gzip_member(8 | 2, bytes_of(std::string("n") + '\0'), data), 12, true);
  Bytes crc_wrong = with_header_crc(gzip_member(8 | 2, bytes_of(std::string("n") + '\0'), data), 12, false);
  Bytes gzip_stream = call_sized(gzip::compress, data).bytes;
  Bytes shorter = gzip_stream;
  shorter[shorter.size() - 4] += 1;  // the length field says one byte more
  Bytes longer = gzip_stream;
  longer[longer.size() - 4] -= 1;

  struct Case {
    const char* name;
    Compressor routine;
    Bytes stream;
    int32_t result;
  } cases[] = {
      {"zlib", zlib::decompress, zlib_stream, 0},
      {"zlib: header not a multiple of 31", zlib::decompress, with_byte(zlib_stream, 1, 0x02), 2},
      {"zlib: a preset dictionary", zlib::decompress, with_byte(zlib_stream, 1, 0x20), 2},
      {"zlib: method 7", zlib::decompress, with_byte(with_byte(zlib_stream, 0, 0x77), 1, 0x09), 2},
      {"zlib: window size field 8", zlib::decompress, with_byte(with_byte(zlib_stream, 0, 0x88), 1, 0x1C), 2},
      {"zlib: Adler-32 mismatch", zlib::decompress, with_byte(zlib_stream, zlib_stream.size() - 1, 0), 2},
      {"zlib: shorter than its framing", zlib::decompress, hex("7801030000"), 2},
      {"zlib: data cut short", zlib::decompress, Bytes(zlib_stream.begin(), zlib_stream.begin() + 8), 2},
      {"gzip", gzip::decompress, gzip_stream, 0},
      {"gzip with FEXTRA and FNAME", gzip::decompress, extra_and_name, 0},
      {"gzip with FCOMMENT", gzip::decompress, comment, 0},
      {"gzip with a right FHCRC", gzip::decompress, crc_ok, 0},
      {"gzip with a wrong FHCRC", gzip::decompress, crc_wrong, 2},
      {"gzip: a reserved flag", gzip::decompress, with_byte(gzip_stream, 3, 0x20), 2},
      {"gzip: method 7", gzip::decompress, with_byte(gzip_stream, 2, 7), 2},
      {"gzip: not a member", gzip::decompress, with_byte(gzip_stream, 1, 0x8C), 2},
      {"gzip: 17 bytes", gzip::decompress, Bytes(gzip_stream.begin(), gzip_stream.begin() + 17), 2},
      {"gzip: FNAME without its end", gzip::decompress, with_byte(gzip_stream, 3, 8), 2},
      {"gzip: FEXTRA past the end", gzip::decompress, gzip_member(4, hex("FFFF"), data), 2},
      {"gzip: fewer bytes than the length field", gzip::decompress, shorter, 2},
      {"gzip: more bytes than the length field", gzip::decompress, longer, 2},
      {"gzip: CRC-32 mismatch", gzip::decompress, with_byte(gzip_stream, gzip_stream.size() - 8, 0), 2},
  };
  for (const Case& c : cases) {
    Coded coded = call_exact(c.routine, c.stream, data.size() + 64);
    EXPECT_EQ(coded.result, c.result) << c.name;
    if (c.result == 0) {
      EXPECT_EQ(coded.bytes, data) << c.name;
    }
  }
}

// Compressing with gzip wraps every input, also one that already looks
// like a gzip member.
TEST(Framings, GzipWrapsAMemberAgain) {
  Bytes member = call_sized(gzip::compress, bytes_of("inner")).bytes;
  Bytes wrapped = call_sized(gzip::compress, member).bytes;
  EXPECT_NE(wrapped, member);
  EXPECT_EQ(call_sized(gzip::decompress, wrapped).bytes, member);
}

// Without a way to grow, a member's length field sizes the output before
// anything is decoded; with one, the field is only a hint up to a small
// bound, so a member that lies about its length never makes a large
// buffer.
TEST(Framings, GzipLengthFieldSizesOnlyWithinABound) {
  Bytes member = call_sized(gzip::compress, bytes_of("tiny")).bytes;
  std::fill(member.end() - 4, member.end(), 0xFF);
  Coded plain = call_exact(gzip::decompress, member, 16);
  EXPECT_EQ(plain.result, 1);
  EXPECT_EQ(plain.size, 0xFFFFFFFFu);
  GrowingOutput target(16);
  compression::Outcome outcome = gzip::decompress(target.output, member.data(), member.size());
  EXPECT_EQ(outcome.result, compression::kMalformed);
  EXPECT_LE(target.largest_request, gzip::kTrustedSizeHint);
  EXPECT_LE(target.buffer.size(), gzip::kTrustedSizeHint);
}

// --- Round trips ----------------------------------------------------------------------------------------

std::vector<std::pair<std::string, Bytes>> round_trip_inputs() {
  Bytes every_byte(256);
  for (int i = 0; i < 256; ++i) every_byte[i] = static_cast<uint8_t>(i);
  return {
      {"empty", {}},
      {"one byte", bytes_of("k")},
      {"two bytes", bytes_of("ke")},
      {"three bytes", bytes_of("kel")},
      {"every byte value", every_byte},
      {"random", random_bytes(200000, 4)},
      {"one byte repeated", repeated(0xAB, 700000)},
      {"repetitive", repetitive_bytes(1000000)},
      {"text", text_bytes(1000000, 5)},
  };
}

TEST(Compression, RoundTripsEveryMethod) {
  struct Method {
    const char* name;
    Compressor compress;
    Compressor decompress;
  } methods[] = {{"deflate", deflate::compress, deflate::decompress},
                 {"zlib", zlib::compress, zlib::decompress},
                 {"gzip", gzip::compress, gzip::decompress}};
  for (const auto& [name, input] : round_trip_inputs()) {
    for (const Method& method : methods) {
      Coded packed = call_exact(method.compress, input, input.size() + 32);
      if (packed.result == 1) packed = call_exact(method.compress, input, packed.size);
      ASSERT_EQ(packed.result, 0) << method.name << " " << name;
      Coded unpacked = call_sized(method.decompress, packed.bytes);
      ASSERT_EQ(unpacked.result, 0) << method.name << " " << name;
      EXPECT_TRUE(unpacked.bytes == input) << method.name << " " << name;
    }
  }
}

// Random streams and corrupted ones end with a result code; the sanitizers
// catch any read or write outside the buffers.
TEST(Inflate, DamagedStreamsEndWithAResult) {
  Bytes input = text_bytes(20000, 6);
  Bytes stream = deflate_of(input).bytes;
  std::mt19937 generator(7);
  for (int trial = 0; trial < 2000; ++trial) {
    Bytes damaged = stream;
    int flips = 1 + static_cast<int>(generator() % 4);
    for (int i = 0; i < flips; ++i) damaged[generator() % damaged.size()] ^= static_cast<uint8_t>(1 << (generator() % 8));
    if (trial % 3 == 0) damaged.resize(generator() % damaged.size());
    Coded coded = call_exact(deflate::decompress, damaged, input.size() + 100);
    EXPECT_LE(coded.result, 5);
  }
  for (int trial = 0; trial < 2000; ++trial) {
    Bytes noise = random_bytes(1 + generator() % 300, static_cast<uint32_t>(trial));
    Coded coded = call_exact(deflate::decompress, noise, 4096);
    EXPECT_LE(coded.result, 5);
  }
}

}  // namespace
}  // namespace kel
