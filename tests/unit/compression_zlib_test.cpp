// Cross-checks with the system's zlib (a test-only dependency): what our
// compressor writes inflates with zlib, and what zlib writes at every
// level and strategy (stored, fixed and dynamic blocks, streams of many
// blocks, flushes, gzip members with every optional header field)
// inflates with ours. The 50 MB round trips are left to `make
// test-heavy` (their names start with DISABLED_, which ctest skips).
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "compression_helpers.h"

namespace kel {
namespace {

using namespace compression_testing;

// The window bits zlib takes for each framing.
enum class Framing { raw, zlib, gzip };
int window_bits(Framing framing) { return framing == Framing::raw ? -15 : framing == Framing::zlib ? 15 : 31; }
const char* name_of(Framing framing) {
  return framing == Framing::raw ? "deflate" : framing == Framing::zlib ? "zlib" : "gzip";
}

struct ZlibSettings {
  int level = Z_DEFAULT_COMPRESSION;
  int strategy = Z_DEFAULT_STRATEGY;
  int memory_level = 8;
  size_t flush_every = 0;  // a Z_FULL_FLUSH (or Z_SYNC_FLUSH when odd) after each such chunk
  gz_header* header = nullptr;
  const Bytes* dictionary = nullptr;
};

Bytes zlib_deflate(const Bytes& input, Framing framing, const ZlibSettings& settings = {}) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, settings.level, Z_DEFLATED, window_bits(framing), settings.memory_level,
                         settings.strategy),
            Z_OK);
  if (settings.header != nullptr) {
    EXPECT_EQ(deflateSetHeader(&stream, settings.header), Z_OK);
  }
  if (settings.dictionary != nullptr) {
    EXPECT_EQ(deflateSetDictionary(&stream, settings.dictionary->data(),
                                   static_cast<uInt>(settings.dictionary->size())),
              Z_OK);
  }
  Bytes output(deflateBound(&stream, input.size()) + 1024 + input.size() / 8);
  stream.next_out = output.data();
  stream.avail_out = static_cast<uInt>(output.size());
  size_t chunk = settings.flush_every == 0 ? input.size() : settings.flush_every;
  size_t offset = 0;
  do {
    size_t take = std::min(chunk, input.size() - offset);
    stream.next_in = const_cast<Bytef*>(input.data() + offset);
    stream.avail_in = static_cast<uInt>(take);
    offset += take;
    int flush = offset == input.size() ? Z_FINISH : (settings.flush_every % 2 ? Z_SYNC_FLUSH : Z_FULL_FLUSH);
    int result = ::deflate(&stream, flush);
    EXPECT_TRUE(result == Z_OK || result == Z_STREAM_END);
  } while (offset < input.size());
  output.resize(stream.total_out);
  deflateEnd(&stream);
  return output;
}

// zlib's inflate of a whole stream; false when it refuses it.
bool zlib_inflate(const Bytes& stream, Framing framing, size_t expected_size, Bytes* output) {
  z_stream z{};
  if (inflateInit2(&z, window_bits(framing)) != Z_OK) return false;
  output->assign(expected_size + 1, 0);
  z.next_in = const_cast<Bytef*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  z.next_out = output->data();
  z.avail_out = static_cast<uInt>(output->size());
  int result = ::inflate(&z, Z_FINISH);
  output->resize(z.total_out);
  inflateEnd(&z);
  return result == Z_STREAM_END;
}

Compressor our_compressor(Framing framing) {
  switch (framing) {
    case Framing::raw: return deflate::compress;
    case Framing::zlib: return zlib::compress;
    default: return gzip::compress;
  }
}
Compressor our_decompressor(Framing framing) {
  switch (framing) {
    case Framing::raw: return deflate::decompress;
    case Framing::zlib: return zlib::decompress;
    default: return gzip::decompress;
  }
}

std::vector<std::pair<std::string, Bytes>> inputs() {
  return {{"empty", {}},
          {"one byte", bytes_of("z")},
          {"random", random_bytes(100000, 11)},
          {"repetitive", repetitive_bytes(300000)},
          {"text", text_bytes(300000, 12)}};
}

constexpr Framing kFramings[] = {Framing::raw, Framing::zlib, Framing::gzip};

TEST(CompressionWithZlib, OurStreamsInflateWithZlib) {
  for (const auto& [name, input] : inputs()) {
    for (Framing framing : kFramings) {
      Coded packed = call_sized(our_compressor(framing), input);
      ASSERT_EQ(packed.result, 0) << name_of(framing) << " " << name;
      Bytes unpacked;
      EXPECT_TRUE(zlib_inflate(packed.bytes, framing, input.size(), &unpacked)) << name_of(framing) << " " << name;
      EXPECT_TRUE(unpacked == input) << name_of(framing) << " " << name;
    }
  }
}

void expect_ours_inflate(const Bytes& stream, Framing framing, const Bytes& input, const std::string& what) {
  Coded unpacked = call_sized(our_decompressor(framing), stream);
  ASSERT_EQ(unpacked.result, 0) << what;
  EXPECT_TRUE(unpacked.bytes == input) << what;
}

TEST(CompressionWithZlib, ZlibStreamsAtEveryLevelInflateWithOurs) {
  for (const auto& [name, input] : inputs()) {
    for (Framing framing : kFramings) {
      for (int level = 0; level <= 9; ++level) {
        ZlibSettings settings;
        settings.level = level;
        expect_ours_inflate(zlib_deflate(input, framing, settings), framing, input,
                            std::string(name_of(framing)) + " level " + std::to_string(level) + " " + name);
      }
    }
  }
}

TEST(CompressionWithZlib, ZlibStrategiesAndBlockLayoutsInflateWithOurs) {
  struct Layout {
    const char* name;
    ZlibSettings settings;
  };
  auto with = [](int strategy, int memory_level, size_t flush_every) {
    ZlibSettings settings;
    settings.strategy = strategy;
    settings.memory_level = memory_level;
    settings.flush_every = flush_every;
    return settings;
  };
  const Layout layouts[] = {
      {"filtered", with(Z_FILTERED, 8, 0)},
      {"Huffman codes only", with(Z_HUFFMAN_ONLY, 8, 0)},
      {"runs only", with(Z_RLE, 8, 0)},
      {"fixed codes", with(Z_FIXED, 8, 0)},
      {"small blocks (memory level 1)", with(Z_DEFAULT_STRATEGY, 1, 0)},
      {"full flushes", with(Z_DEFAULT_STRATEGY, 8, 10000)},
      {"sync flushes (empty stored blocks)", with(Z_DEFAULT_STRATEGY, 8, 7001)},
  };
  for (const auto& [name, input] : inputs()) {
    for (Framing framing : kFramings) {
      for (const Layout& layout : layouts)
        expect_ours_inflate(zlib_deflate(input, framing, layout.settings), framing, input,
                            std::string(name_of(framing)) + " " + layout.name + " " + name);
    }
  }
}

// gzip members with FEXTRA, FNAME, FCOMMENT and FHCRC, as zlib writes them;
// a header CRC that does not match is refused, as zlib refuses it.
TEST(CompressionWithZlib, GzipMembersWithEveryHeaderField) {
  Bytes input = text_bytes(50000, 13);
  Bytes extra = bytes_of("AB\x04\x00data");
  std::string file_name = "table.csv", comment = "made by the tests";
  for (int fields = 0; fields < 16; ++fields) {
    gz_header header{};
    header.time = 1700000000;
    header.os = 3;
    if (fields & 1) {
      header.extra = extra.data();
      header.extra_len = static_cast<uInt>(extra.size());
    }
    if (fields & 2) header.name = reinterpret_cast<Bytef*>(file_name.data());
    if (fields & 4) header.comment = reinterpret_cast<Bytef*>(comment.data());
    header.hcrc = (fields & 8) ? 1 : 0;
    ZlibSettings settings;
    settings.header = &header;
    Bytes member = zlib_deflate(input, Framing::gzip, settings);
    expect_ours_inflate(member, Framing::gzip, input, "header fields " + std::to_string(fields));
    if (fields & 8) {
      size_t crc_at = 10 + ((fields & 1) ? 2 + extra.size() : 0) + ((fields & 2) ? file_name.size() + 1 : 0) +
                      ((fields & 4) ? comment.size() + 1 : 0);
      member[crc_at] ^= 0x40;
      Bytes refused;
      EXPECT_FALSE(zlib_inflate(member, Framing::gzip, input.size(), &refused));
      EXPECT_EQ(call_sized(gzip::decompress, member).result, 2) << "wrong header CRC " << fields;
    }
  }
}

TEST(CompressionWithZlib, APresetDictionaryIsRefused) {
  Bytes input = text_bytes(2000, 14);
  Bytes dictionary = text_bytes(500, 15);
  ZlibSettings settings;
  settings.dictionary = &dictionary;
  Bytes stream = zlib_deflate(input, Framing::zlib, settings);
  EXPECT_EQ(call_sized(zlib::decompress, stream).result, 2);
}

// --- 50 MB round trips (make test-heavy) -----------------------------------------------------------

TEST(CompressionWithZlib, DISABLED_HeavyRoundTripsOf50Megabytes) {
  constexpr size_t kSize = 50u << 20;
  const std::pair<const char*, Bytes> big_inputs[] = {
      {"random", random_bytes(kSize, 21)}, {"repetitive", repetitive_bytes(kSize)}, {"text", text_bytes(kSize, 22)}};
  for (const auto& [name, input] : big_inputs) {
    for (Framing framing : kFramings) {
      Coded packed = call_exact(our_compressor(framing), input, input.size() + 32);
      if (packed.result == 1) packed = call_exact(our_compressor(framing), input, packed.size);
      ASSERT_EQ(packed.result, 0) << name_of(framing) << " " << name;
      expect_ours_inflate(packed.bytes, framing, input, std::string("ours ") + name_of(framing) + " " + name);
      Bytes unpacked;
      EXPECT_TRUE(zlib_inflate(packed.bytes, framing, input.size(), &unpacked)) << name_of(framing) << " " << name;
      EXPECT_TRUE(unpacked == input) << name_of(framing) << " " << name;
      expect_ours_inflate(zlib_deflate(input, framing), framing, input,
                          std::string("zlib's ") + name_of(framing) + " " + name);
    }
  }
}

}  // namespace
}  // namespace kel
