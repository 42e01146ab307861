// kelbin, byte for byte: the records each value is written as in both
// layouts, the headers around them, the records the reader refuses (with
// the position it names) and the boot mode's own forms, read from
// hand-made buffers.
//
// Buffers live in vectors of their exact size, so that under
// AddressSanitizer a byte read past the end fails the test.
#include "io/kelbin.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/image.h"
#include "datatypes/native.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/source_evaluation.h"
#include "runtime/stack.h"
#include "runtime/lz_codec.h"
#include "runtime/root_block.h"
#include "test_support.h"

namespace kel {
namespace {

using Bytes = std::vector<uint8_t>;
using Kelbin = testing::RuntimeTest;

// --- Building and reading buffers -----------------------------------------------------

Bytes hex(const std::string& text) {
  Bytes out;
  std::string digits;
  for (char c : text)
    if (c != ' ') digits += c;
  for (size_t i = 0; i + 1 < digits.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  return out;
}

std::string hex(const Bytes& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (uint8_t b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes uleb(uint32_t value) {
  Bytes out;
  while (value >= 0x80) {
    out.push_back(static_cast<uint8_t>(value | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<uint8_t>(value));
  return out;
}

Bytes u32(uint32_t value) {
  return Bytes{static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
               static_cast<uint8_t>(value >> 24)};
}

const Bytes kMagic = hex("4B454C42494E");

// A compact buffer around a records area, with a symbol table of the
// names when there are any.
Bytes compact(const Bytes& records, const std::vector<std::string>& names = {}) {
  Bytes out = kMagic + Bytes{2, static_cast<uint8_t>(names.empty() ? 1 : 5)} + uleb(1) +
              uleb(static_cast<uint32_t>(records.size()));
  if (!names.empty()) {
    Bytes area;
    Bytes offsets;
    for (const std::string& name : names) {
      offsets = offsets + u32(static_cast<uint32_t>(area.size()));
      area.insert(area.end(), name.begin(), name.end());
      area.push_back(0);
    }
    out = out + uleb(static_cast<uint32_t>(names.size())) + uleb(static_cast<uint32_t>(area.size())) + offsets + area;
  }
  return out + records;
}

// A fixed buffer around records given as words, each name of the symbol
// table padded to 8 bytes.
Bytes fixed(const std::vector<uint32_t>& words, const std::vector<std::string>& names = {}) {
  Bytes records;
  for (uint32_t w : words) records = records + u32(w);
  Bytes out = kMagic + Bytes{2, static_cast<uint8_t>(names.empty() ? 0 : 4)} + u32(1) +
              u32(static_cast<uint32_t>(records.size()));
  if (!names.empty()) {
    Bytes area;
    Bytes offsets;
    for (const std::string& name : names) {
      offsets = offsets + u32(static_cast<uint32_t>(area.size()));
      area.insert(area.end(), name.begin(), name.end());
      do area.push_back(0);
      while (area.size() % 8 != 0);
    }
    out = out + u32(static_cast<uint32_t>(names.size())) + u32(static_cast<uint32_t>(area.size())) + offsets + area;
  }
  return out + records;
}

Bytes bytes_of(const Cell& binary) {
  SeriesBuffer* b = memory::buffer_of(binary.data2);
  return Bytes(b->head_ptr(), b->tail_ptr());
}

// The encoding of the value Kel source evaluates to.
Bytes encoded(const std::string& source, bool compact_layout) {
  stack::Guard guard;
  Cell value = *source_evaluation::do_source(source);
  return bytes_of(compact_layout ? kelbin::encode_cp(value) : kelbin::encode(value));
}

// The records area of a compact buffer without a symbol table.
std::string compact_records(const std::string& source) {
  Bytes all = encoded(source, true);
  EXPECT_EQ(all[7], 1) << source;
  size_t at = 8;
  while (all[at] & 0x80) ++at;  // record count
  ++at;
  while (all[at] & 0x80) ++at;  // records size
  ++at;
  return hex(Bytes(all.begin() + static_cast<long>(at), all.end()));
}

// The records area of a fixed buffer without a symbol table.
std::string fixed_records(const std::string& source) {
  Bytes all = encoded(source, false);
  EXPECT_EQ(all[7], 0) << source;
  return hex(Bytes(all.begin() + 16, all.end()));
}

// What decoding the buffer gives: the mold/all of the block of top-level
// values (or just their count), or "error <id> <argument>".
std::string decoded(const Bytes& buffer, bool codec = true, bool molded = true) {
  std::string text;
  auto error = testing::catch_error([&] {
    stack::Guard guard;
    Cell* out = block::push_only(1);
    kelbin::decode(buffer.data(), buffer.size(), *out, codec, nullptr);
    text = molded ? actions::mold_to_string(*out, true) : std::to_string(block::rs_length(out)) + " value";
  });
  if (!error) return text;
  Cell argument = error_value::argument(testing::last_error(), 1);
  return std::string("error ") + error_info(*error).word +
         (argument.is(TYPE_INTEGER) ? " " + std::to_string(argument.int_at2()) : "");
}

// --- Records of the compact layout ------------------------------------------------------
// Integers of 0 to 63 take one byte; others a type byte and a zigzag uleb.
// Floats, times and percents that are whole (percents: whole hundredths)
// take the short form; negative zero, halves and the rest the two halves
// of the double. Text is stored in its units, never as UTF-8.

struct RecordCase {
  const char* source;
  const char* records;
};

TEST_F(Kelbin, CompactRecordsOfScalars) {
  const RecordCase cases[] = {
      {"0", "80"},
      {"63", "BF"},
      {"64", "0B8001"},
      {"-1", "0B01"},
      {"-64", "0B7F"},
      {"2147483647", "0BFEFFFFFF0F"},
      {"-2147483648", "0BFFFFFFFF0F"},
      {"3.0", "4C06"},
      {"-2.0", "4C03"},
      {"0.5", "0C000000000000E03F"},
      {"-0.0", "0C0000000000000080"},
      {"2147483000.0", "4CF0F5FFFF0F"},
      {"2147483001.0", "0C0000405EFFFFDF41"},
      {"1%", "6602"},
      {"-50%", "6663"},
      {"12.5%", "26000000000000C03F"},
      {"1:00", "6BA038"},
      {"#\"a\"", "0A61"},
      {"#\"^(1F600)\"", "0A80EC07"},
      {"3x-4", "250607"},
      {"1.2.3", "27010203"},
      {"1.2.3.4", "670401020304"},
      {"integer!", "010B"},
      {"none", "03"},
      {"true", "C2"},
      {"false", "C3"},
      {"()", "02"},
      {"$1.50", "31000000000000000000150000"},
      {"-$2", "71000000000000000000200000"},
      {"make typeset! [integer!]", "21020010"},
      {"1-Feb-2024", "2F8020D00F"},
      {"1-Feb-2024/0:00:01", "6F8020D10F000000000000F03F"},
  };
  for (const RecordCase& c : cases) EXPECT_EQ(compact_records(c.source), c.records) << c.source;
}

TEST_F(Kelbin, CompactRecordsOfSeries) {
  const RecordCase cases[] = {
      // Text in the narrowest units it was made with: Latin-1, UCS-2, UCS-4.
      {"\"abc\"", "070C616263"},
      {"\"\u00e9\"", "0704E9"},
      {"\"\u20ac\"", "0705AC20"},
      {"\"\U0001F600\"", "070600F60100"},
      {"%a.txt", "0814612E747874"},
      {"#{0102}", "29020102"},
      {"[]", "0500"},
      // A block at an index: S, the head, then every cell of its buffer.
      {"next next [1 2 3 4 5]", "4502058182838485"},
      {"make vector! [integer! 16 [1 -1]]", "23" "2D" "02" "0100FFFF"},
      {"make bitset! #{80}", "1E0180"},
      // A block twice: the second is the path to the first.
      {"b: [1] reduce [b b]", "0502" "050181" "C105" "0200" "00"},
  };
  for (const RecordCase& c : cases) EXPECT_EQ(compact_records(c.source), c.records) << c.source;
}

// An image! record: S and the head when not at the head, then the width,
// the height and each pixel's word (bytes B, G, R, A; A the opacity, 255 -
// the transparency the language shows) from the top-left pixel; an image
// met again is the path to the first.
TEST_F(Kelbin, CompactRecordsOfImages) {
  const RecordCase cases[] = {
      {"make image! [2x1 #{FF0000 00FF00} #{00 80}]", "35" "02" "01" "0000FFFF" "00FF007F"},
      {"next make image! [2x1 #{010203 040506}]", "75" "01" "02" "01" "030201FF" "060504FF"},
      {"make image! 0x3", "35" "00" "03"},
      {"make image! [300x0]", "35" "AC02" "00"},
      {"i: make image! [1x1 #{0A0B0C}] reduce [i next i]", "0502" "35" "01" "01" "0C0B0AFF" "C1" "75" "01" "0200" "00"},
  };
  for (const RecordCase& c : cases) EXPECT_EQ(compact_records(c.source), c.records) << c.source;
}

// The fixed layout: the head, the size word (width low, height high 16
// bits), then the pixel words; a shared one the reference record after
// its head.
TEST_F(Kelbin, FixedRecordsOfImages) {
  const RecordCase cases[] = {
      {"make image! [2x1 #{FF0000 00FF00} #{00 80}]", "35000000" "00000000" "02000100" "0000FFFF" "00FF007F"},
      {"next make image! [2x1 #{010203 040506}]", "35000000" "01000000" "02000100" "030201FF" "060504FF"},
      {"make image! 0x3", "35000000" "00000000" "00000300"},
      {"i: make image! [1x1 #{0A0B0C}] reduce [i next i]",
       "05000000" "00000000" "02000000" "35000000" "00000000" "01000100" "0C0B0AFF"
       "35000800" "01000000" "FF000000" "02000000" "00000000" "00000000"},
  };
  for (const RecordCase& c : cases) EXPECT_EQ(fixed_records(c.source), c.records) << c.source;
}

// --- Headers --------------------------------------------------------------------------------
// "KELBIN", version 2, the flags (1 compact, 4 symbols), then the layout's
// header: ulebs in the compact layout, 32-bit words in the fixed one.

TEST_F(Kelbin, Headers) {
  EXPECT_EQ(hex(encoded("1", true)), "4B454C42494E" "02" "01" "01" "01" "81");
  EXPECT_EQ(hex(encoded("1", false)), "4B454C42494E" "02" "00" "01000000" "08000000" "0B000000" "01000000");
  // Words name their symbol by index into a table of each distinct name.
  EXPECT_EQ(hex(encoded("[a b a]", true)),
            "4B454C42494E" "02" "05" "01" "08" "02" "04" "00000000" "02000000" "6100" "6200"
            "0503" "0F00" "0F01" "0F00");
}

TEST_F(Kelbin, FixedLayoutWordsAndSymbolTable) {
  // An unbound word is written as a global one, its index -1; each name in
  // the string area starts at a multiple of 8.
  stack::Guard guard;
  Cell word = word::make_value(symbol::make("a"), 0, -1);
  EXPECT_EQ(hex(bytes_of(kelbin::encode(word))),
            "4B454C42494E" "02" "04" "01000000" "0C000000" "01000000" "08000000" "00000000" "6100000000000000"
            "0F000002" "00000000" "FFFFFFFF");
}

TEST_F(Kelbin, FixedRecords) {
  const RecordCase cases[] = {
      // Three one-byte units and one byte of padding.
      {"\"abc\"", "07010000" "00000000" "03000000" "61626300"},
      // A float! record at 12 bytes of the records area gets a padding word;
      // one at 16 bytes none. Doubles are written high half first.
      {"[2.0]", "05000000" "00000000" "01000000" "00000000" "0C000000" "00000040" "00000000"},
      {"reduce [none 2.0]", "05000000" "00000000" "02000000" "03000000" "0C000000" "00000040" "00000000"},
      {"-7", "0B000000" "F9FFFFFF"},
      {"1.2.3.4", "27040000" "01020304" "00000000" "00000000"},
      // A map of 2 entries: the count 4, then key and value records.
      {"make map! [1 2 3 4]", "28000000" "04000000" "0B000000" "01000000" "0B000000" "02000000" "0B000000"
                              "03000000" "0B000000" "04000000"},
  };
  for (const RecordCase& c : cases) EXPECT_EQ(fixed_records(c.source), c.records) << c.source;
}

TEST_F(Kelbin, FixedOpOfAnActionCarriesTheActionsDatatype) {
  Bytes all;
  {
    stack::Guard guard;
    all = bytes_of(kelbin::encode(native::make_op(*source_evaluation::do_source(":add"))));
  }
  // After the symbol table (the interface block's words), the op!'s header: bits
  // 16-23 action! (22).
  auto word_at = [&](size_t at) { return uint32_t{all[at]} | uint32_t{all[at + 1]} << 8 | uint32_t{all[at + 2]} << 16; };
  size_t records = 24 + 4 * size_t{word_at(16)} + word_at(20);
  EXPECT_EQ(hex(Bytes(all.begin() + static_cast<long>(records), all.begin() + static_cast<long>(records) + 4)),
            "17001600");
  stack::Guard guard;
  Cell* out = block::push_only(1);
  kelbin::decode(all.data(), all.size(), *out, true, nullptr);
  Cell op = *block::rs_abs_at(out, 0);
  EXPECT_TRUE(op.is(TYPE_OP));
  EXPECT_EQ(native::op_source_type(op), TYPE_ACTION);
  EXPECT_EQ(op.data1, source_evaluation::do_source(":add")->data1);
}

// --- The container, read ------------------------------------------------------------------

TEST_F(Kelbin, ContainerChecks) {
  // The magic is upper case; the version byte is not read.
  Bytes lower = compact(hex("81"));
  std::memcpy(lower.data(), "kelbin", 6);
  EXPECT_EQ(decoded(lower), "error invalid-data");
  for (uint8_t version : {0, 1, 2, 255}) {
    Bytes buffer = compact(hex("81"));
    buffer[6] = version;
    EXPECT_EQ(decoded(buffer), "[1]") << int(version);
  }
  // A symbol table of no symbols is a table.
  EXPECT_EQ(decoded(kMagic + hex("02 05 01 01 00 00 81")), "[1]");
  // A string area must end with a NUL.
  EXPECT_EQ(decoded(kMagic + hex("02 05 01 01 01 01 00000000 61 81")), "error kb-invalid-record 11");
  // The records size cannot pass the end of the buffer.
  EXPECT_EQ(decoded(kMagic + hex("02 01 01 05 81")), "error kb-invalid-record 10");
  // A fixed layout needs its two header words.
  EXPECT_EQ(decoded(kMagic + hex("02 00 01000000")), "error invalid-data");
  EXPECT_EQ(decoded(kMagic + hex("02 00 01000000 09000000 03000000")), "error kb-invalid-record 13");
  // Words of the compact writer set flags 5, others 1.
  EXPECT_EQ(encoded("[a]", true)[7], 5);
  EXPECT_EQ(encoded("[1]", true)[7], 1);
}

TEST_F(Kelbin, CompressedPayloadsAreUnpacked) {
  // A value long enough to pack: its payload (after the flags) packed with
  // the LZ codec, flag 2 set.
  Bytes plain = encoded("head insert/dup copy [] [\"some text\" 12345 [a b c]] 20", true);
  Bytes payload(plain.begin() + 8, plain.end());
  Bytes packed(payload.size());
  int64_t size = lz_codec::compress(payload.data(), static_cast<uint32_t>(payload.size()), packed.data());
  ASSERT_GT(size, 0);
  packed.resize(static_cast<size_t>(size));
  Bytes buffer = Bytes(plain.begin(), plain.begin() + 8) + packed;
  buffer[7] |= 2;
  EXPECT_EQ(decoded(buffer), decoded(plain));
  // A corrupted stream is invalid data.
  Bytes broken = buffer;
  broken.resize(broken.size() - 3);
  EXPECT_EQ(decoded(broken), "error invalid-data");
  // Positions count from the start of the unpacked bytes: the bad lead byte
  // 0xFE is at offset 2 there.
  Bytes bad = hex("01 7E FE") + Bytes(125, 0x80);
  Bytes bad_packed(bad.size());
  int64_t bad_size = lz_codec::compress(bad.data(), static_cast<uint32_t>(bad.size()), bad_packed.data());
  ASSERT_GT(bad_size, 0);
  bad_packed.resize(static_cast<size_t>(bad_size));
  EXPECT_EQ(decoded(kMagic + hex("02 03") + bad_packed), "error kb-invalid-record 3");
}

// --- Records the codec mode refuses ------------------------------------------------------------
// Each names 1 + the offset of the field whose check failed. In a compact
// buffer without symbols and a records area below 128 bytes, the records
// start at offset 10.

struct RefusedCase {
  const char* what;
  Bytes records;
  int position;      // 1-based, from the start of the buffer
  bool path = false;  // a reference path, which counts from the top-level values
};

// Each record alone in the records area, which starts at offset 10.
std::vector<RefusedCase> compact_refused() {
  return {
      {"lead byte 0xC5", hex("C5"), 11},
      {"lead byte 0xFE", hex("FE"), 11},
      {"a small integer after the shared prefix", hex("C1 81"), 12},
      {"the bind prefix in data", hex("C4 10 00 81"), 11},
      {"datatype id 0", hex("00"), 11},
      {"datatype id 13", hex("0D"), 11},
      {"a context! record in data", hex("0E 02 00"), 11},
      {"datatype id 42", hex("2A"), 11},
      {"datatype id 55", hex("3F 37"), 11},
      {"logic! by type byte", hex("04"), 11},
      {"a datatype! value of id 14", hex("01 0E"), 11},
      {"a uleb with a fifth byte of 0x10", hex("0B FFFFFFFF10"), 12},
      {"a string longer than the bytes left", hex("07 0C 61"), 12},
      {"a block count beyond the bytes left", hex("05 FFFFFFFF0F"), 12},
      {"a string unit of 8 bytes", hex("07 03"), 12},
      {"a char above 0x10FFFF", hex("0A") + uleb(0x110000), 11},
      {"a 4-byte string unit above 0x10FFFF", hex("07 06 00001100"), 12},
      {"an error code of no catalog entry", hex("22") + uleb(9999), 11},
      {"a vector of 1-byte floats", hex("23 30 00"), 12},
      {"a vector of 8-byte integers", hex("23 2F 00"), 12},
      // An image whose size the bytes left cannot hold names its record,
      // and nothing is allocated for the pixels it claims.
      {"an image larger than the bytes left", hex("35 02 02 00"), 11},
      {"an image of 65535x65535 pixels in 4 bytes", hex("35 FFFF03 FFFF03 00000000"), 11},
      {"an image one pixel short", hex("75 01 02 01 00000000 000000"), 11},
      {"an image wider than 65535", hex("35 808004 00"), 11},
      {"an image sharing a binary's buffer", hex("05 02 29 01 00 C1 35 02 00 00"), 17, true},
      {"a binary sharing an image's buffer", hex("05 02 35 00 00 C1 29 02 00 00"), 17, true},
      {"a block sharing a string's buffer", hex("05 02 07 04 78 C1 05 02 00 00"), 17, true},
      {"a path beyond its container", hex("05 01 FF 02 00 05"), 14, true},
      {"a path of length 0", hex("FF 00"), 12, true},
      {"an op! of an integer", hex("17 81"), 11},
      {"a map of an odd count", hex("28 03 81 82 83"), 12},
      {"a map with a block for a key", hex("28 02 05 00 81"), 11},
      {"a map in the short form", hex("68 00"), 11},
      {"a currency index beyond the list", hex("31 FF 0000000000000000000000"), 11},
      {"a money digit above 9", hex("31 00 0A00000000000000000000"), 11},
      {"a date of month 13", hex("2F 80D0D00F"), 11},
      {"a date with a time but no S", hex("2F 8020D10F"), 11},
      {"a date with S but no time", hex("6F 8020D00F 00000000 00000000"), 11},
      {"a tuple of 0 bytes", hex("67 00"), 11},
      {"a tuple of 13 bytes", hex("67 0D") + Bytes(13, 1), 11},
      {"a typeset of 13 bytes", hex("21 0D") + Bytes(13, 0), 11},
      {"a word without a symbol table", hex("0F 00"), 12},
      {"a routine!", hex("1D"), 0},
  };
}

TEST_F(Kelbin, CompactRecordsRefused) {
  for (const RefusedCase& c : compact_refused()) {
    std::string expected = c.position == 0 ? "error no-codec" : "error kb-invalid-record " + std::to_string(c.position);
    EXPECT_EQ(decoded(compact(c.records)), expected) << c.what;
  }
}

// Inside a block the reader takes a quicker way through the commonest
// records (integers, floats, strings, words, logic values, none, blocks)
// than through a record alone: a record it refuses is refused at the same
// place whichever way it is met. Around each refused record: a block; two
// blocks; a block whose small integer goes first and whose record comes
// after the new-line prefix. (A path inside them would lead elsewhere.)
TEST_F(Kelbin, CompactRecordsRefusedInsideBlocks) {
  struct Around {
    Bytes before;
    int shift;  // the bytes before the record
  };
  const Around arounds[] = {{hex("05 01"), 2}, {hex("05 01 05 01"), 4}, {hex("05 02 81 C0"), 4}};
  for (const RefusedCase& c : compact_refused()) {
    if (c.position == 0 || c.path) continue;
    for (const Around& around : arounds) {
      EXPECT_EQ(decoded(compact(around.before + c.records)),
                "error kb-invalid-record " + std::to_string(c.position + around.shift))
          << c.what << " after " << hex(around.before);
    }
  }
}

// Records of the commonest forms cut short anywhere name the field that
// is cut: the records area of two records of data, cut at every length,
// in a buffer whose records start at offset 48.
TEST_F(Kelbin, CompactRecordsCutShortNameTheirPlace) {
  const std::vector<std::string> names = {"yes", "hotel", "echo", "xray"};
  const Bytes records = hex(
      "05 02"
      "C0 05 05 0B D00F 07 34 756E69666F726D2064656C7461 0C 3333333333 9F7940 0F 00 05 03 0F 01 0F 02 0F 03"
      "C0 05 05 81 07 08 6162 4C 0A 0F 00 C0 05 00");
  EXPECT_EQ(decoded(compact(records, names)),
            "[[\n    [1000 \"uniform delta\" 409.95 yes [hotel echo xray]]\n    [1 \"ab\" 5.0 yes\n    []]\n]]");
  const int positions[] = {50, 50, 50, 53, 53, 53, 53, 53, 53, 58, 58, 58, 58, 58, 58, 58, 58, 58, 58, 58, 58,
                           58, 72, 73, 73, 73, 73, 77, 77, 77, 77, 81, 82, 83, 84, 84, 84, 84, 88, 89, 90, 91,
                           92, 93, 93, 93, 93, 93, 93, 99, 100, 101, 102, 103, 104, 105};
  ASSERT_EQ(std::size(positions), records.size() - 1);
  for (size_t cut = 1; cut < records.size(); ++cut) {
    Bytes part(records.begin(), records.begin() + static_cast<long>(cut));
    EXPECT_EQ(decoded(compact(part, names)), "error kb-invalid-record " + std::to_string(positions[cut - 1]))
        << "cut at " << cut;
  }
}

// The new-line prefix marks the record after it, whatever reads it: the
// quick path of the commonest records inside a block (integers, words,
// blocks, strings, floats, logic values, none) as well as whole records
// (a time). A prefix with no record after it is refused where the record
// would be.
TEST_F(Kelbin, NewLinePrefixesMarkTheValueAfterThem) {
  stack::Guard guard;
  Cell* out = block::push_only(1);
  Bytes buffer = compact(hex("05 0B C0 81 C0 0F 00 81 0F 00 C0 0500 C0 07 04 61 C0 0C 000000000000F83F"
                             "C0 0B 8001 C0 C2 C0 03 C0 6B 02"),
                         {"a"});
  kelbin::decode(buffer.data(), buffer.size(), *out, true, nullptr);
  Cell block_value = *block::rs_abs_at(out, 0);
  const bool marked[] = {true, true, false, false, true, true, true, true, true, true, true};
  const TypeId types[] = {TYPE_INTEGER, TYPE_WORD,    TYPE_INTEGER, TYPE_WORD,  TYPE_BLOCK, TYPE_STRING,
                          TYPE_FLOAT,   TYPE_INTEGER, TYPE_LOGIC,   TYPE_NONE, TYPE_TIME};
  ASSERT_EQ(block::rs_length(&block_value), 11);
  for (int i = 0; i < 11; ++i) {
    const Cell* cell = block::rs_abs_at(&block_value, i);
    EXPECT_EQ(cell->new_line(), marked[i]) << i;
    EXPECT_EQ(cell->type(), types[i]) << i;
  }
  EXPECT_EQ(decoded(compact(hex("05 01 C0"))), "error kb-invalid-record 14");
  EXPECT_EQ(decoded(compact(hex("C0"))), "error kb-invalid-record 12");
  EXPECT_EQ(decoded(compact(hex("05 01 C0 0F 00"))), "error kb-invalid-record 15");  // the symbol index
}

// Images come back with their pixels (alpha too), their size, their head
// and their sharing; a size of 0 in either side reads no pixels.
TEST_F(Kelbin, ImagesAreRead) {
  EXPECT_EQ(decoded(compact(hex("35 01 01 00000000"))), "[make image! [1x1 #{000000} #{\n    FF\n}]]");
  EXPECT_EQ(decoded(compact(hex("35 00 00 35 00 05 35 FFFF03 00"))),
            "[make image! [0x0 #{}] make image! [0x5 #{}] make image! [65535x0 #{}]]");
  EXPECT_EQ(decoded(fixed({0x35, 0, 0x00010002, 0x80102030, 0xFF405060})),
            "[make image! [2x1 #{102030405060} #{\n    7F00\n}]]");
  stack::Guard guard;
  Cell* out = block::push_only(1);
  Bytes buffer = compact(hex("05 02 35 01 02 01020304 05060708 C1 75 01 02 00 00"));
  kelbin::decode(buffer.data(), buffer.size(), *out, true, nullptr);
  Cell both = *block::rs_abs_at(out, 0);
  Cell first = *block::rs_abs_at(&both, 0);
  Cell second = *block::rs_abs_at(&both, 1);
  EXPECT_EQ(first.data2, second.data2);
  EXPECT_EQ(second.data1, 1u);
  EXPECT_EQ(second.data3, first.data3);
  EXPECT_EQ(image::pixels_of(first)[1], 0x08070605u);
}

TEST_F(Kelbin, ReadsStopAtTheRecordsArea) {
  // The integer's payload lies past the records area, though the buffer
  // holds it.
  Bytes buffer = kMagic + hex("02 01 01 01 0B 01");
  EXPECT_EQ(decoded(buffer), "error kb-invalid-record 12");
}

TEST_F(Kelbin, NestingIsCappedAtOneThousandRecords) {
  auto nested = [](int depth) {
    Bytes records;
    for (int i = 0; i < depth; ++i) records = records + hex("0501");
    return records + hex("80");
  };
  // 999 blocks around an integer: 1000 records deep (too deep to mold).
  EXPECT_EQ(decoded(compact(nested(999)), true, false), "1 value");
  // Record 1001 starts 2000 bytes into the records area, which starts at 11
  // here (a two-byte records size).
  EXPECT_EQ(decoded(compact(nested(1000))), "error kb-invalid-record 2012");
}

TEST_F(Kelbin, WordsNeedTheirSymbolInTheTable) {
  // Records start after the table: 8 + 1 + 1 + 1 + 1 + 4 + 2 = 18.
  EXPECT_EQ(decoded(compact(hex("0F 00"), {"a"})), "[a]");
  EXPECT_EQ(decoded(compact(hex("0F 01"), {"a"})), "error kb-invalid-record 20");
  // Offsets name the starts of names: two may name the same one, none the
  // middle of one (the records start at 8 + 4 + 8 + 3 = 23).
  EXPECT_EQ(decoded(kMagic + hex("02 05 01 06 02 03 00000000 00000000 616200" "05 02 0F 00 0F 01")), "[[ab ab]]");
  EXPECT_EQ(decoded(kMagic + hex("02 05 01 02 02 03 00000000 01000000 616200" "0F 01")), "error kb-invalid-record 25");
}

// Decodes that share a symbol table (the boot image's entries) take a
// name's symbol and global word from the first decode that used it; a map
// must have one index for each name of the buffer's table.
TEST_F(Kelbin, SharedSymbolsAreTakenFromTheFirstDecodeThatUsedThem) {
  kelbin::SharedSymbols shared(2);
  const Bytes first_map = u32(1) + u32(0);  // "b" and "a" of the shared table
  const Bytes second_map = u32(0);          // "a"
  const kelbin::SymbolMap first{&shared, first_map.data(), 2};
  const kelbin::SymbolMap second{&shared, second_map.data(), 1};
  stack::Guard guard;
  Cell* out = block::push_only(1);
  Bytes one = compact(hex("0F 00 0F 01"), {"shared-b", "shared-a"});
  kelbin::decode(one.data(), one.size(), *out, true, nullptr, &first);
  EXPECT_EQ(shared.ids[0], symbol::make("shared-a"));
  EXPECT_EQ(shared.ids[1], symbol::make("shared-b"));
  // The second buffer's name is another text: the shared table's word is
  // taken without reading it.
  Bytes two = compact(hex("0F 00"), {"other"});
  uint32_t symbols_before = symbol::count();
  kelbin::decode(two.data(), two.size(), *out, true, nullptr, &second);
  EXPECT_EQ(symbol::count(), symbols_before);
  EXPECT_EQ(actions::mold_to_string(*out, true), "[shared-b shared-a shared-a]");
  Bytes three = compact(hex("0F 00"), {"a", "b"});
  auto error = testing::catch_error([&] { kelbin::decode(three.data(), three.size(), *out, true, nullptr, &second); });
  ASSERT_TRUE(error);
  EXPECT_EQ(*error, ErrorId::script_kb_invalid_record);
}

TEST_F(Kelbin, FixedRecordsRefused) {
  const struct {
    const char* what;
    std::vector<uint32_t> words;
    int position;
  } cases[] = {
      // Records start at offset 16.
      {"a string longer than the records", {0x107, 0, 9, 0x00636261}, 25},
      {"a block count beyond the records", {5, 0, 100}, 25},
      {"a text unit of 3 bytes", {0x307, 0, 1, 0x61}, 17},
      {"a logic of 2", {4, 2}, 17},
      {"a header of datatype 200", {200}, 17},
      {"a tuple of 13 bytes", {0xD27, 0, 0, 0}, 17},
      {"an op! of a float", {0x000C0017, 0xC, 0, 0}, 17},
      // An image's size against the words left: the record's position.
      {"an image of 65535x65535 pixels in one word", {0x35, 0, 0xFFFFFFFF, 0}, 17},
      {"an image one pixel short", {0x35, 0, 0x00010002, 0xFF000000}, 17},
  };
  for (const auto& c : cases)
    EXPECT_EQ(decoded(fixed(c.words)), "error kb-invalid-record " + std::to_string(c.position)) << c.what;
  // Padding words between records are passed over.
  EXPECT_EQ(decoded(fixed({3, 0, 0, 3})), "[#(none) #(none)]");
}

// --- The boot mode -------------------------------------------------------------------------------
// Bind records set a word and drop both cells; words may name a context by
// the position of the cell a context! or object! record made.

TEST_F(Kelbin, BootBindRecordsSetWordsAndLeaveNothing) {
  // set-word! (16) kelbin-boot-word, set to 42.
  EXPECT_EQ(decoded(compact(hex("C4 10 00 AA"), {"kelbin-boot-word"}), false), "[]");
  stack::Guard guard;
  EXPECT_EQ(testing::mold(*source_evaluation::do_source("kelbin-boot-word")), "42");
  // The same in the fixed layout: a 0xC4 header, a word record, a value.
  EXPECT_EQ(decoded(fixed({0xC4, 0x02000010, 0, 0xFFFFFFFF, 0xB, 43}, {"kelbin-boot-word"}), false), "[]");
  EXPECT_EQ(testing::mold(*source_evaluation::do_source("kelbin-boot-word")), "43");
  // A native's spec lands after it and goes with the bind.
  uint32_t print = source_evaluation::do_source(":print")->data1;
  EXPECT_EQ(decoded(compact(hex("C4 10 00 15") + uleb(print) + hex("05 01 0F 01"), {"kelbin-boot-native", "value"}),
                    false),
            "[]");
  Cell made = *source_evaluation::do_source(":kelbin-boot-native");
  EXPECT_TRUE(made.is(TYPE_NATIVE));
  EXPECT_EQ(made.data1, print);
}

TEST_F(Kelbin, BootWordsBoundByContextNumber) {
  // A context! record (kind 2, values follow) of one word x holding 5,
  // then x bound to context 0 at index 0, and at index -1 (looked up).
  EXPECT_EQ(decoded(compact(hex("0E 12 01 00 85" "4F 00 00 00" "4F 00 00 01"), {"x"}), false),
            "[make object! [\n    x: 5\n] x x]");
  stack::Guard guard;
  Cell* out = block::push_only(1);
  Bytes buffer = compact(hex("0E 12 01 00 85" "4F 00 00 00" "4F 00 00 01"), {"x"});
  kelbin::decode(buffer.data(), buffer.size(), *out, false, nullptr);
  for (uint32_t i = 1; i <= 2; ++i) {
    Cell word = *block::rs_abs_at(out, i);
    EXPECT_EQ(word::context_of(word), block::rs_abs_at(out, 0)->data1);
    EXPECT_EQ(word::index_of(word), 0);
  }
  // A number past the block, or naming no context, and an unknown name.
  EXPECT_EQ(decoded(compact(hex("0E 12 01 00 85" "4F 00 01 00"), {"x"}), false), "error kb-invalid-record 24");
  EXPECT_EQ(decoded(compact(hex("81 4F 00 00 00"), {"x"}), false), "error kb-invalid-record 20");
  EXPECT_EQ(decoded(compact(hex("0E 12 01 00 85" "4F 01 00 01"), {"x", "y"}), false), "error kb-invalid-record 30");
  // The fixed layout: symbol, index, context number.
  EXPECT_EQ(decoded(fixed({0x4000000E, 1, 0, 0xB, 7, 0xF, 0, 0, 0}, {"x"}), false),
            "[make object! [\n    x: 7\n] x]");
}

// The boot cannot go on without its image: a bad one ends the process
// with status 1 (a failure, not the 0 of a clean end), whether its magic
// is wrong or its packed payload does not unpack.
TEST_F(Kelbin, BootDecodeOfABadImageEndsTheProcessWithStatusOne) {
  Bytes bad_magic = hex("4B 45 4C 42 49 58 01 05");
  EXPECT_EXIT(kelbin::decode_boot(bad_magic.data(), bad_magic.size()), ::testing::ExitedWithCode(1), "");
  Bytes bad_packing = hex("4B 45 4C 42 49 4E 01 03 FF FF FF FF");
  EXPECT_EXIT(kelbin::decode_boot(bad_packing.data(), bad_packing.size()), ::testing::ExitedWithCode(1), "");
}

TEST_F(Kelbin, BootDecodeOfNoRecordsAnswersTheNextRootPosition) {
  Bytes buffer = compact({});
  uint32_t before = memory::buffer_of(root::block())->cell_count();
  EXPECT_EQ(kelbin::decode_boot(buffer.data(), buffer.size()), before);
  EXPECT_EQ(memory::buffer_of(root::block())->cell_count(), before);
}

}  // namespace
}  // namespace kel
