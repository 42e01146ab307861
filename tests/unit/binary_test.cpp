// binary!: the text form, the base 2/16/58/64 codecs, conversions, the
// byte-level editing actions, trim, the bitwise actions and comparison.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/binary_codecs.h"
#include "datatypes/tuple.h"
#include "literal_helpers.h"
#include "runtime/string_units.h"

namespace kel {
namespace {

using namespace literal_testing;

class BinaryTest : public LiteralTest {};

// A binary of count bytes 0, 1, 2 ...
Cell counting(uint32_t count) {
  std::vector<uint8_t> bytes(count);
  for (uint32_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(i);
  return *binary::load_bytes(bytes.data(), count);
}

std::string hex_digits(uint32_t from, uint32_t to) {
  std::string text;
  const char* digits = "0123456789ABCDEF";
  for (uint32_t i = from; i < to; ++i) {
    text += digits[(i >> 4) & 15];
    text += digits[i & 15];
  }
  return text;
}

std::string molded(const Cell& value, bool only, bool flat, int32_t part, int32_t indent) {
  Cell* out = string::push_new(64);
  binary::mold_bytes(&value, out, only, flat, part, indent);
  return string::to_std_string(*out);
}

// --- Text ---------------------------------------------------------------------------------

TEST_F(BinaryTest, ShortBinariesMoldOnOneLine) {
  EXPECT_EQ(mold(B({})), "#{}");
  EXPECT_EQ(mold(B({1, 2})), "#{0102}");
  EXPECT_EQ(form(B({0xAB, 0xCD})), "#{ABCD}");
  EXPECT_EQ(mold(B({9, 1, 2}, 1)), "#{0102}");
  EXPECT_EQ(mold(counting(30)), "#{" + hex_digits(0, 30) + "}");
}

TEST_F(BinaryTest, LongBinariesMoldThirtyTwoBytesALine) {
  EXPECT_EQ(mold(counting(31)), "#{\n    " + hex_digits(0, 31) + "\n}");
  // Exactly 32 bytes: the closing brace follows the last line's indentation.
  EXPECT_EQ(mold(counting(32)), "#{\n    " + hex_digits(0, 32) + "\n    }");
  EXPECT_EQ(mold(counting(40)), "#{\n    " + hex_digits(0, 32) + "\n    " + hex_digits(32, 40) + "\n}");
  EXPECT_EQ(molded(counting(40), false, false, 0x7FFFFFFF, 1),
            "#{\n        " + hex_digits(0, 32) + "\n        " + hex_digits(32, 40) + "\n    }");
  EXPECT_EQ(molded(counting(40), false, true, 0x7FFFFFFF, 0), "#{" + hex_digits(0, 40) + "}");
  EXPECT_EQ(molded(counting(3), true, false, 0x7FFFFFFF, 0), hex_digits(0, 3));
}

TEST_F(BinaryTest, MoldLoadsBackThroughTheLexer) {
  for (const Cell& b : {B({}), B({1, 2}), counting(31), counting(32), counting(100)})
    EXPECT_EQ(reloaded(b), typed_mold(b));
}

TEST_F(BinaryTest, MoldStopsAtThePartLimit) {
  EXPECT_EQ(molded(B({1, 2, 3, 4}), false, false, 5, 0), "#{0102}");
  EXPECT_EQ(molded(B({1, 2, 3, 4}), false, false, 2, 0), "#{}");
}

// --- Codecs -----------------------------------------------------------------------------------

std::string encoded(char* (*encoder)(char*, const uint8_t*, uint32_t), std::initializer_list<uint8_t> bytes) {
  std::string out(8 * bytes.size() + 8, '\0');
  char* end = encoder(out.data(), bytes.begin(), static_cast<uint32_t>(bytes.size()));
  out.resize(static_cast<size_t>(end - out.data()));
  return out;
}

std::string decoded(int32_t base, std::string_view text, uint32_t unit = 1) {
  std::vector<uint32_t> points;
  Cell s = T(TYPE_STRING, text);
  for (uint32_t i = 0; i < string::rs_length(&s); ++i) points.push_back(string::rs_abs_at(&s, i));
  for (uint32_t point : points) unit = std::max(unit, unicode::unit_for(point));
  std::vector<uint8_t> units(points.size() * unit + 1);
  for (size_t i = 0; i < points.size(); ++i) unicode::put_char(units.data() + i * unit, unit, points[i]);
  NodeId node = binary::decode_base(base, units.data(), static_cast<uint32_t>(points.size()), unit);
  return node == 0 ? "invalid" : mold(binary::make_value(node));
}

TEST_F(BinaryTest, Base64FollowsRfc4648) {
  EXPECT_EQ(encoded(binary::encode_base64, {'a', 'b', 'c'}), "YWJj");
  EXPECT_EQ(encoded(binary::encode_base64, {'a', 'b'}), "YWI=");
  EXPECT_EQ(encoded(binary::encode_base64, {'a'}), "YQ==");
  EXPECT_EQ(encoded(binary::encode_base64, {}), "");
  EXPECT_EQ(encoded(binary::encode_base64, {0xFB, 0xFF}), "+/8=");
  struct Case {
    const char* text;
    const char* bytes;
  } cases[] = {
      {"YWJj", "#{616263}"},     {"YWI=", "#{6162}"},         {"YQ==", "#{61}"},
      {"YWI", "#{}"},            {"Y===", "invalid"},         {"YW;comment\nI=", "#{6162}"},
      {"YW'I\r\n=", "#{6162}"},  {"Y\x0BWI=", "invalid"},      {"YW*I=", "invalid"},
      {"", "#{}"},               {"YWJjZA==", "#{61626364}"}, {"YWJj=", "invalid"},
  };
  for (const Case& c : cases) EXPECT_EQ(decoded(64, c.text), c.bytes) << c.text;
  EXPECT_EQ(decoded(64, "YW\xC3\xA9I="), "invalid");  // a code point above 127
}

TEST_F(BinaryTest, Base16IsAsciiHexadecimalOnly) {
  EXPECT_EQ(encoded(binary::encode_base16, {0x00, 0xFF}), "00FF");
  struct Case {
    const char* text;
    const char* bytes;
  } cases[] = {
      {"00 ff", "#{00FF}"},   {"0G", "invalid"},        {"ABC", "#{AB}"},
      {"a\tb;x\ncd", "#{ABCD}"},
      // Fullwidth digits and U+0130 (whose low seven bits are "0") are no
      // hexadecimal digits.
      {"\xEF\xBC\x90\xEF\xBC\x90", "invalid"},
      {"\xC4\xB0\xC4\xB0", "invalid"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(decoded(16, c.text), c.bytes) << c.text;
    EXPECT_EQ(decoded(16, c.text, 4), c.bytes) << c.text;
  }
}

TEST_F(BinaryTest, Base2AndBase58) {
  EXPECT_EQ(encoded(binary::encode_base2, {0xA5}), "10100101");
  EXPECT_EQ(decoded(2, "1010 0101"), "#{A5}");
  EXPECT_EQ(decoded(2, "1010"), "invalid");
  EXPECT_EQ(decoded(2, "10100102"), "invalid");
  EXPECT_EQ(encoded(binary::encode_base58, {0, 0}), "11");
  EXPECT_EQ(encoded(binary::encode_base58, {0, 0xFF}), "15Q");
  EXPECT_EQ(encoded(binary::encode_base58, {}), "");
  EXPECT_EQ(encoded(binary::encode_base58, {'h', 'e', 'l', 'l', 'o'}), "Cn8eVZg");
  EXPECT_EQ(decoded(58, "15Q"), "#{00FF}");
  EXPECT_EQ(decoded(58, "Cn8e'VZg\r"), "#{68656C6C6F}");
  EXPECT_EQ(decoded(58, "0"), "invalid");
  EXPECT_EQ(decoded(58, "15Q\xC3\xA9zz"), "invalid");  // no code point above 127 is a digit
  EXPECT_EQ(decoded(7, "1"), "invalid");
}

TEST_F(BinaryTest, Base58RoundTripsArbitraryBytes) {
  std::vector<uint8_t> bytes = {0, 0, 1, 0, 255, 254, 3, 0, 0, 128};
  for (size_t length = 0; length <= bytes.size(); ++length) {
    std::string text(2 * length + 2, '\0');
    char* end = binary::encode_base58(text.data(), bytes.data(), static_cast<uint32_t>(length));
    text.resize(static_cast<size_t>(end - text.data()));
    NodeId node = binary::decode_base58(reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()), 1);
    ASSERT_NE(node, 0u);
    SeriesBuffer* buffer = memory::buffer_of(node);
    ASSERT_EQ(std::vector<uint8_t>(buffer->head_ptr(), buffer->tail_ptr()),
              std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(length)))
        << text;
  }
}

// --- Conversion -------------------------------------------------------------------------------

TEST_F(BinaryTest, ConversionToBytes) {
  struct Case {
    Cell spec;
    const char* expected;
  } cases[] = {
      {I(1), "binary! #{00000001}"},
      {I(-1), "binary! #{FFFFFFFF}"},
      {F(1.0), "binary! #{3FF0000000000000}"},
      {S("\xC3\xA9"), "binary! #{C3A9}"},
      {make_cell(TYPE_CHAR, 0, 0xE9), "binary! #{C3A9}"},
      {make_cell(TYPE_CHAR, 0, 0x1F600), "binary! #{F09F9880}"},
      {W("ABCD", TYPE_ISSUE), "binary! #{ABCD}"},
      {W("ABC", TYPE_ISSUE), "binary! #{AB}"},
      {W("XY", TYPE_ISSUE), "error invalid-data"},
      {Blk({I(1), S("a"), B({2})}), "binary! #{016102}"},
      {Blk({I(1), Blk({I(2), I(3)})}), "binary! #{010203}"},
      {Blk({None()}), "error bad-to-arg"},
      {B({7, 8, 9}, 1), "binary! #{0809}"},
      {T(TYPE_FILE, "a/b"), "binary! #{612F62}"},
      {None(), "error bad-to-arg"},
  };
  for (const Case& c : cases) EXPECT_EQ(converted<Action::to>(TYPE_BINARY, c.spec), c.expected) << mold(c.spec);
  Cell colour = make_cell(TYPE_UNSET);
  tuple::set_rgba(&colour, 1, 2, 3, 4);
  EXPECT_EQ(converted<Action::to>(TYPE_BINARY, colour), "binary! #{01020304}");
}

// --- Editing ------------------------------------------------------------------------------------

// append or insert with the refinements as the action entry passes them.
std::string added(Action action, const Cell& series, const Cell& value, std::optional<Cell> part = {},
                  std::optional<Cell> dup = {}, bool only = false) {
  return outcome([&] {
    stack::Guard guard;
    stack::mark_native(nullptr);
    Cell* target = stack::push(series);
    Cell* argument = stack::push(value);
    int part_index = part ? static_cast<int>(stack::push(*part) - stack::arguments()) : -1;
    int only_flag = only ? static_cast<int>(stack::push(make_cell(TYPE_LOGIC, 1)) - stack::arguments()) : -1;
    int dup_index = dup ? static_cast<int>(stack::push(*dup) - stack::arguments()) : -1;
    using Handler = Cell* (*)(Cell*, Cell*, int, int, int);
    auto handler = reinterpret_cast<Handler>(action_entry(TYPE_BINARY, action));
    Cell result = *handler(target, argument, part_index, only_flag, dup_index);
    // The whole binary and where the result's index stands.
    Cell whole = result;
    whole.data1 = 0;
    return Blk({whole, I(static_cast<int32_t>(result.data1))});
  });
}

TEST_F(BinaryTest, AppendAddsTheBytesOfValues) {
  struct Case {
    Cell value;
    const char* expected;
  } cases[] = {
      {I(-1), "block! [#{01FF} 0]"},
      {I(255), "block! [#{01FF} 0]"},
      {I(256), "error invalid-arg"},
      {I(-129), "error invalid-arg"},
      {Blk({I(1), S("a"), B({2})}), "block! [#{01016102} 0]"},
      {make_cell(TYPE_CHAR, 0, 0xE9), "block! [#{01C3A9} 0]"},
      {S(""), "block! [#{01} 0]"},
      {None(), "error bad-to-arg"},
  };
  for (const Case& c : cases) EXPECT_EQ(added(Action::append, B({1}), c.value), c.expected) << mold(c.value);
}

TEST_F(BinaryTest, AppendPartAndDup) {
  EXPECT_EQ(added(Action::append, B({}), S("abc"), I(2)), "block! [#{6162} 0]");
  EXPECT_EQ(added(Action::append, B({}), Blk({I(1), I(2), I(3)}), I(2)), "block! [#{0102} 0]");
  EXPECT_EQ(added(Action::append, B({}), Blk({S("abc"), I(2)}), I(2), {}, true), "block! [#{6162} 0]");
  EXPECT_EQ(added(Action::append, B({0}), B({1, 2}), {}, I(3)), "block! [#{00010201020102} 0]");
  EXPECT_EQ(added(Action::append, B({0}), B({1, 2}), {}, I(0)), "block! [#{00} 0]");
}

TEST_F(BinaryTest, AppendingABinaryToItselfDoublesIt) {
  Cell b = B({1, 2, 3});
  EXPECT_EQ(added(Action::append, b, b), "block! [#{010203010203} 0]");
}

TEST_F(BinaryTest, InsertLeavesTheIndexPastTheNewBytes) {
  EXPECT_EQ(added(Action::insert, B({1, 4}, 1), B({2, 3})), "block! [#{01020304} 3]");
  EXPECT_EQ(added(Action::insert, B({1}, 1), B({2})), "block! [#{0102} 2]");
  // An index past the tail (the binary was cut through another reference)
  // counts as the tail.
  EXPECT_EQ(added(Action::insert, B({1}, 5), B({2})), "block! [#{0102} 2]");
}

std::string changed(const Cell& series, const Cell& value, std::optional<Cell> part = {}, std::optional<Cell> dup = {}) {
  return outcome([&] {
    stack::Guard guard;
    stack::mark_native(nullptr);
    Cell* target = stack::push(series);
    Cell* argument = stack::push(value);
    int part_index = part ? static_cast<int>(stack::push(*part) - stack::arguments()) : -1;
    int dup_index = dup ? static_cast<int>(stack::push(*dup) - stack::arguments()) : -1;
    Cell result = *action_handler<Action::change>(TYPE_BINARY)(target, argument, part_index, -1, dup_index);
    Cell whole = result;
    whole.data1 = 0;
    return Blk({whole, I(static_cast<int32_t>(result.data1))});
  });
}

TEST_F(BinaryTest, ChangeReplacesBytesAndFormsOtherValues) {
  EXPECT_EQ(changed(B({1, 2, 3}), B({0xAA})), "block! [#{AA0203} 1]");
  EXPECT_EQ(changed(B({1, 2, 3}), B({0xAA, 0xBB}), I(1)), "block! [#{AABB0203} 2]");
  EXPECT_EQ(changed(B({1, 2, 3}), B({0xAA}), I(9)), "block! [#{AA} 1]");
  EXPECT_EQ(changed(B({1, 2, 3}, 1), B({0xAA}), {}, I(3)), "block! [#{01AAAAAA} 4]");
  EXPECT_EQ(changed(B({1, 2, 3, 4, 5}), None()), "block! [#{6E6F6E6505} 4]");
  EXPECT_EQ(changed(B({1, 2}), I(300)), "error invalid-arg");
}

std::string trimmed(const Cell& series, const char* refinement, std::optional<Cell> with = {}) {
  return outcome([&] {
    stack::Guard guard;
    stack::mark_native(nullptr);
    Cell* target = stack::push(series);
    int flag = static_cast<int>(stack::push(make_cell(TYPE_LOGIC, 1)) - stack::arguments());
    int with_index = with ? static_cast<int>(stack::push(*with) - stack::arguments()) : -1;
    std::string r = refinement;
    return *action_handler<Action::trim>(TYPE_BINARY)(target, r == "head" ? flag : -1, r == "tail" ? flag : -1,
                                                      r == "auto" ? flag : -1, r == "lines" ? flag : -1,
                                                      r == "all" ? flag : -1, with_index);
  });
}

TEST_F(BinaryTest, TrimRemovesZeroBytes) {
  EXPECT_EQ(trimmed(B({0, 0, 1, 2, 0}), ""), "binary! #{0102}");
  EXPECT_EQ(trimmed(B({0, 0, 1, 2, 0}), "head"), "binary! #{010200}");
  EXPECT_EQ(trimmed(B({0, 0, 1, 2, 0}), "tail"), "binary! #{00000102}");
  EXPECT_EQ(trimmed(B({0, 1, 0, 2, 0}), "all"), "binary! #{0102}");
  EXPECT_EQ(trimmed(B({0, 0, 0}), ""), "binary! #{}");
  EXPECT_EQ(trimmed(B({1, 2, 3, 2}), "with", B({2})), "binary! #{0103}");
  EXPECT_EQ(trimmed(B({'a', 'b', 'c'}), "with", S("ac")), "binary! #{62}");
  EXPECT_EQ(trimmed(B({1, 2}), "auto"), "error not-done");
  EXPECT_EQ(trimmed(B({1, 2}), "lines"), "error not-done");
}

// --- Bitwise and comparison ---------------------------------------------------------------

TEST_F(BinaryTest, BitwiseActionsCombineToTheLongerLength) {
  EXPECT_EQ(math(Action::and_t, B({0xFF, 0x0F}), B({0x0F, 0xF0, 0xF0})), "binary! #{0F0000}");
  EXPECT_EQ(math(Action::or_t, B({0xFF, 0x0F}), B({0x0F, 0xF0, 0xF0})), "binary! #{FFFFF0}");
  EXPECT_EQ(math(Action::xor_t, B({0xFF, 0x0F}), B({0x0F, 0xF0, 0xF0})), "binary! #{F0FFF0}");
  EXPECT_EQ(math(Action::xor_t, B({9, 0xFF}, 1), B({0x0F})), "binary! #{F0}");
  EXPECT_EQ(math(Action::and_t, B({1}), I(1)), "error invalid-arg");
}

TEST_F(BinaryTest, ComplementInvertsInPlace) {
  Cell b = B({0x00, 0xF0, 0x0F});
  stack::Guard guard;
  stack::mark_native(nullptr);
  Cell* argument = stack::push(b);
  argument->data1 = 1;
  action_handler<Action::complement>(TYPE_BINARY)(argument);
  EXPECT_EQ(mold(b), "#{000FF0}");  // the same buffer, changed from the index
}

TEST_F(BinaryTest, ComparisonIsByteOrderThenLength) {
  EXPECT_EQ(compare(B({1, 2}), B({1, 2}), kCmpEqual), 0);
  EXPECT_EQ(compare(B({1}), B({1, 2}), kCmpLesser), -1);
  EXPECT_EQ(compare(B({2}), B({1, 2}), kCmpGreater), 1);
  EXPECT_EQ(compare(B({1}), B({1, 2}), kCmpEqual), 1);  // unequal lengths
  EXPECT_EQ(compare(B({0xFF}), B({0x01}), kCmpLesser), 1);  // bytes are unsigned
  EXPECT_EQ(compare(B({}), B({}), kCmpEqual), 0);
  EXPECT_EQ(compare(B({1}), S("a"), kCmpEqual), kNotComparable);
  Cell b = B({1});
  EXPECT_EQ(compare(b, b, kCmpSame), 0);
  EXPECT_EQ(compare(b, B({1}), kCmpSame), -1);
}

TEST_F(BinaryTest, MatchingForParse) {
  Cell b = B({'a', 'b', 'c'});
  EXPECT_TRUE(binary::match_value(&b, &(b), kCmpEqual));
  Cell ab = S("ab");
  EXPECT_TRUE(binary::match_value(&b, &ab, kCmpEqual));
  Cell longer = S("abcd");
  EXPECT_FALSE(binary::match_value(&b, &longer, kCmpEqual));
  Cell c = make_cell(TYPE_CHAR, 0, 'a');
  EXPECT_TRUE(binary::match_value(&b, &c, kCmpEqual));
  Cell empty = B({});
  EXPECT_TRUE(binary::match_value(&b, &empty, kCmpEqual));
  EXPECT_FALSE(binary::match_value(&b, &empty, kCmpLesser));
  Cell number = I(97);
  EXPECT_FALSE(binary::match_value(&b, &number, kCmpEqual));
}

// --- Byte routines ------------------------------------------------------------------------------

TEST_F(BinaryTest, ByteRoutinesGrowTheBuffer) {
  Cell b;
  binary::init_cell(&b, 0);
  stack::push(b);
  binary::append_int(0x01020304, &b);
  binary::append_int(-1, &b);
  EXPECT_EQ(mold(b), "#{01020304FFFFFFFF}");
  uint8_t middle[] = {0xAA, 0xBB};
  binary::insert_bytes(&b, 2, middle, 2);
  EXPECT_EQ(mold(b), "#{0102AABB0304FFFFFFFF}");
  binary::overwrite_bytes(&b, 9, middle, 2);
  EXPECT_EQ(mold(b), "#{0102AABB0304FFFFFFAABB}");
  binary::overwrite_bytes(&b, 13, middle, 1);  // past the tail: a zero gap
  EXPECT_EQ(mold(b), "#{0102AABB0304FFFFFFAABB0000AA}");
  std::vector<uint8_t> many(100, 7);
  binary::append_bytes(&b, many.data(), 100);
  EXPECT_EQ(binary::rs_length(&b), 114u);
  binary::skip(&b, 200);
  EXPECT_TRUE(binary::tail_q(&b));
  binary::skip(&b, -113);
  EXPECT_EQ(binary::get_byte(&b, 1), 2);
  EXPECT_EQ(*binary::rs_head(&b), 2);
  binary::clear(&b);
  EXPECT_EQ(binary::rs_length(&b), 0u);
  b.data1 = 0;
  EXPECT_EQ(mold(b), "#{01}");
}

TEST_F(BinaryTest, SetByteTakesIntegersAndChars) {
  uint8_t byte = 0;
  binary::set_byte(&byte, I(0x1FF));
  EXPECT_EQ(byte, 0xFF);
  binary::set_byte(&byte, make_cell(TYPE_CHAR, 0, 'A'));
  EXPECT_EQ(byte, 'A');
  EXPECT_EQ(error_of([&] { binary::set_byte(&byte, S("a")); }), "invalid-arg");
}

}  // namespace
}  // namespace kel
