// Unicode conversions: UTF-8 in both directions (the table-driven and the
// validating decoder, loading into strings of each unit with widening, byte
// order marks, line ends and incomplete tails), UTF-16LE in both directions
// with its surrogate pairs, Windows-1251 input, and the display width of
// code points.
//
// Byte inputs live in exactly sized heap buffers, so a read past the input
// shows up under the sanitizer build.
#include "runtime/unicode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "test_support.h"

namespace kel {
namespace {

using Bytes = std::vector<uint8_t>;
using CodePoints = std::vector<uint32_t>;
using testing::catch_error;
using testing::last_error;

// An exactly sized copy of the bytes: reading one past them is an error the
// sanitizer reports.
std::unique_ptr<uint8_t[]> exact_copy(const Bytes& bytes) {
  auto copy = std::make_unique<uint8_t[]>(bytes.size());
  if (!bytes.empty()) std::memcpy(copy.get(), bytes.data(), bytes.size());
  return copy;
}

Bytes bytes_of(const std::string& text) { return Bytes(text.begin(), text.end()); }

class UnicodeTest : public testing::RuntimeTest {
 protected:
  static NodeId load(const Bytes& bytes, NodeId target = 0, uint32_t* remainder = nullptr,
                     bool crlf = false) {
    auto input = exact_copy(bytes);
    return unicode::load_utf8(input.get(), static_cast<uint32_t>(bytes.size()), target, remainder,
                              crlf);
  }

  // A string of the unit holding the code points.
  static NodeId make_string(const CodePoints& code_points, uint32_t unit) {
    NodeId node = memory::alloc_codepoints(static_cast<uint32_t>(code_points.size()), unit);
    SeriesBuffer* buffer = memory::buffer_of(node);
    for (size_t i = 0; i < code_points.size(); ++i) {
      unicode::put_char(buffer->data() + i * unit, unit, code_points[i]);
    }
    buffer->tail = static_cast<uint32_t>(code_points.size() * unit);
    return node;
  }

  static CodePoints code_points_of(NodeId node) {
    SeriesBuffer* buffer = memory::buffer_of(node);
    uint32_t unit = buffer->unit();
    CodePoints out;
    for (uint8_t* p = buffer->head_ptr(); p < buffer->tail_ptr(); p += unit) {
      out.push_back(unicode::get_char(p, unit));
    }
    return out;
  }

  static uint32_t unit_of(NodeId node) { return memory::buffer_of(node)->unit(); }

  // The bytes of the binary! argument of the last error caught.
  static Bytes binary_argument() {
    Cell argument = error_value::argument(last_error(), 1);
    EXPECT_EQ(argument.type(), TYPE_BINARY);
    SeriesBuffer* buffer = memory::buffer_of(argument.data2);
    return Bytes(buffer->head_ptr(), buffer->tail_ptr());
  }
};

// --- UTF-8 sequences of every length -------------------------------------------------

struct EncodedCodePoint {
  uint32_t code_point;
  Bytes utf8;
};

const EncodedCodePoint kEncodings[] = {
    {0x0000, {0x00}},
    {0x0041, {0x41}},
    {0x007F, {0x7F}},
    {0x0080, {0xC2, 0x80}},
    {0x00E9, {0xC3, 0xA9}},
    {0x07FF, {0xDF, 0xBF}},
    {0x0800, {0xE0, 0xA0, 0x80}},
    {0x20AC, {0xE2, 0x82, 0xAC}},
    {0xFFFF, {0xEF, 0xBF, 0xBF}},
    {0x10000, {0xF0, 0x90, 0x80, 0x80}},
    {0x1F600, {0xF0, 0x9F, 0x98, 0x80}},
    {0x10FFFF, {0xF4, 0x8F, 0xBF, 0xBF}},
};

TEST_F(UnicodeTest, EncodesAndDecodesSequencesOfOneToFourBytes) {
  for (const EncodedCodePoint& c : kEncodings) {
    SCOPED_TRACE(c.code_point);
    int32_t length = static_cast<int32_t>(c.utf8.size());
    EXPECT_EQ(unicode::char_size(c.code_point), length);

    uint8_t encoded[4] = {};
    ASSERT_EQ(unicode::encode_char(c.code_point, encoded), length);
    EXPECT_EQ(Bytes(encoded, encoded + length), c.utf8);

    auto input = exact_copy(c.utf8);
    int32_t count = length;
    EXPECT_EQ(unicode::decode_utf8_char(input.get(), &count), static_cast<int32_t>(c.code_point));
    EXPECT_EQ(count, length);

    int32_t fast = 0;
    EXPECT_EQ(unicode::fast_decode_utf8_char(input.get(), &fast), input.get() + length);
    EXPECT_EQ(fast, static_cast<int32_t>(c.code_point));

    // Into a new string: the unit is the narrowest that holds the code point.
    NodeId node = load(c.utf8);
    EXPECT_EQ(code_points_of(node), CodePoints{c.code_point});
    EXPECT_EQ(unit_of(node), unicode::unit_for(c.code_point));

    Cell string = string::make_value(node);
    int32_t part = -1;
    const char* text = unicode::to_utf8(&string, &part);
    EXPECT_EQ(part, length);
    EXPECT_EQ(Bytes(text, text + part), c.utf8);
    EXPECT_EQ(text[part], '\0');
  }
}

TEST_F(UnicodeTest, TableDecoderReadsEveryScalarValueBackFromItsEncoding) {
  uint8_t encoded[5];
  for (uint32_t code_point = 0; code_point <= unicode::kMaxCodePoint; ++code_point) {
    if (code_point >= 0xD800 && code_point <= 0xDFFF) continue;
    int32_t length = unicode::encode_char(code_point, encoded);
    encoded[length] = 0;
    int32_t decoded = -2;
    const uint8_t* after = unicode::fast_decode_utf8_char(encoded, &decoded);
    ASSERT_EQ(decoded, static_cast<int32_t>(code_point));
    ASSERT_EQ(after, encoded + length);
  }
}

TEST_F(UnicodeTest, TableDecoderRejectsMalformedSequencesWithoutPassingTheBreakingByte) {
  struct Case {
    Bytes input;  // NUL-terminated
    int advance;
  };
  const Case cases[] = {
      {{0x80, 0x41, 0x00}, 1},              // stray continuation byte
      {{0xC3, 0x28, 0x00}, 1},              // bad continuation: stops at it
      {{0xE2, 0x82, 0x00}, 2},              // cut by the NUL: the NUL is not passed
      {{0xC0, 0x80, 0x00}, 1},              // overlong NUL
      {{0xE0, 0x80, 0x80, 0x00}, 1},        // overlong three-byte form
      {{0xED, 0xA0, 0x80, 0x00}, 1},        // surrogate U+D800
      {{0xF4, 0x90, 0x80, 0x80, 0x00}, 1},  // above U+10FFFF
      {{0xF5, 0x80, 0x00}, 1},
      {{0xFF, 0x00}, 1},
  };
  for (const Case& c : cases) {
    int32_t code_point = 0;
    const uint8_t* after = unicode::fast_decode_utf8_char(c.input.data(), &code_point);
    EXPECT_EQ(code_point, -1) << "input starting " << int{c.input[0]};
    EXPECT_EQ(after - c.input.data(), c.advance) << "input starting " << int{c.input[0]};
  }
}

TEST_F(UnicodeTest, CountsAndSkipsCodePointsInUtf8Ranges) {
  Bytes text = bytes_of("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z");  // a é € 😀 z
  const uint8_t* from = text.data();
  const uint8_t* to = from + text.size();
  EXPECT_EQ(unicode::count_chars(from, to), 5);
  EXPECT_EQ(unicode::count_chars(from, from), 0);
  EXPECT_EQ(unicode::skip_chars(from, to, 0), from);
  EXPECT_EQ(unicode::skip_chars(from, to, 2), from + 3);
  EXPECT_EQ(unicode::skip_chars(from, to, 4), from + 10);
  EXPECT_EQ(unicode::skip_chars(from, to, 99), to);
  EXPECT_EQ(unicode::skip_chars(from, from + 2, 2), from + 2);  // stops at the range end

  EXPECT_EQ(unicode::lead_size(0x41), 0);
  EXPECT_EQ(unicode::lead_size(0x80), 0);
  EXPECT_EQ(unicode::lead_size(0xC3), 2);
  EXPECT_EQ(unicode::lead_size(0xE2), 3);
  EXPECT_EQ(unicode::lead_size(0xF0), 4);
  EXPECT_EQ(unicode::lead_size(0xFF), 4);
}

// --- Loading UTF-8 into strings ----------------------------------------------------------

TEST_F(UnicodeTest, WideningMidDecodeKeepsTheCodePointsAlreadyStored) {
  struct Case {
    std::string utf8;
    CodePoints expected;
    uint32_t unit;
  };
  const Case cases[] = {
      {"\xC3\xA9", {0xE9}, 1},                                  // é stays Latin-1
      {"\xC3\xA9\xE2\x82\xAC", {0xE9, 0x20AC}, 2},               // é then € widens to 2
      {"\xC3\xA9\xF0\x9F\x98\x80", {0xE9, 0x1F600}, 4},          // straight from 1 to 4
      {"a\xE2\x82\xAC" "b\xF0\x9F\x98\x80" "c", {'a', 0x20AC, 'b', 0x1F600, 'c'}, 4},  // 2 then 4
  };
  for (const Case& c : cases) {
    NodeId node = load(bytes_of(c.utf8));
    EXPECT_EQ(code_points_of(node), c.expected) << c.utf8;
    EXPECT_EQ(unit_of(node), c.unit) << c.utf8;
  }
}

TEST_F(UnicodeTest, LoadingIntoATargetAppendsAtItsTailAndWidensIt) {
  NodeId target = make_string({'a', 0xE9}, 1);
  EXPECT_EQ(load(bytes_of("\xE2\x82\xAC"), target), target);
  EXPECT_EQ(code_points_of(target), (CodePoints{'a', 0xE9, 0x20AC}));
  EXPECT_EQ(unit_of(target), 2u);

  load(bytes_of("\xF0\x9F\x98\x80!"), target);
  EXPECT_EQ(code_points_of(target), (CodePoints{'a', 0xE9, 0x20AC, 0x1F600, '!'}));
  EXPECT_EQ(unit_of(target), 4u);

  // A wide target keeps its unit for narrow text.
  NodeId wide = make_string({0x1F600}, 4);
  load(bytes_of("xy"), wide);
  EXPECT_EQ(code_points_of(wide), (CodePoints{0x1F600, 'x', 'y'}));
  EXPECT_EQ(unit_of(wide), 4u);
}

TEST_F(UnicodeTest, LoadingLongTextGrowsTheTargetPastItsCapacity) {
  NodeId target = make_string({}, 1);
  std::string text;
  CodePoints expected;
  for (int i = 0; i < 3000; ++i) {
    text += "x\xE2\x82\xAC";
    expected.push_back('x');
    expected.push_back(0x20AC);
  }
  text += "\xF0\x9F\x98\x80";
  expected.push_back(0x1F600);
  load(bytes_of(text), target);
  EXPECT_EQ(code_points_of(target), expected);
}

// Widening sizes are 64-bit: a string whose wider form would pass the
// series limit is out of memory. (A 32-bit size doubled towards it wrapped
// to 0 and looped forever.) The strings' buffers are address space only:
// their pages are never touched.
TEST_F(UnicodeTest, WideningPastTheSeriesLimitIsOutOfMemory) {
  struct Case {
    uint32_t unit;
    uint32_t used;  // bytes
    SeriesBuffer* (*widen)(SeriesBuffer*);
  } cases[] = {
      {1, 0x44000000, unicode::widen_latin1_to_ucs4},  // 1.1 billion characters to 4 bytes each
      {1, 0x40000000, unicode::widen_latin1_to_ucs2},  // 2^30 characters to 2 bytes each, plus 2
      {2, 0x7FFFFFF0, unicode::widen_ucs2_to_ucs4},
  };
  for (const Case& c : cases) {
    NodeId node = memory::alloc_codepoints(c.used / c.unit, c.unit);
    SeriesBuffer* buffer = memory::buffer_of(node);
    buffer->tail = c.used;
    EXPECT_EQ(catch_error([&] { c.widen(buffer); }), ErrorId::internal_no_memory) << c.unit << " " << c.used;
    EXPECT_EQ(memory::buffer_of(node)->unit(), c.unit) << "the string is left as it was";
    EXPECT_EQ(memory::buffer_of(node)->used(), c.used);
  }
}

TEST_F(UnicodeTest, LeadingByteOrderMarkIsSkipped) {
  EXPECT_TRUE(code_points_of(load({0xEF, 0xBB, 0xBF})).empty());
  EXPECT_EQ(code_points_of(load({0xEF, 0xBB, 0xBF, 'A'})), CodePoints{'A'});
  // Only a leading one: inside the text it is U+FEFF.
  EXPECT_EQ(code_points_of(load({'A', 0xEF, 0xBB, 0xBF})), (CodePoints{'A', 0xFEFF}));
  // Two bytes of it are an incomplete sequence, not a mark.
  uint32_t remainder = 0;
  EXPECT_TRUE(code_points_of(load({0xEF, 0xBB}, 0, &remainder)).empty());
  EXPECT_EQ(remainder, 2u);
}

TEST_F(UnicodeTest, CarriageReturnsBecomeLineFeedsOnlyWithTheFlag) {
  struct Case {
    std::string input;
    std::string with_flag;
  };
  const Case cases[] = {
      {"a\r\nb", "a\nb"},
      {"a\rb", "a\nb"},
      {"a\r", "a\n"},
      {"\r\r\n\n", "\n\n\n"},
      {"\xC3\xA9\r\n\xE2\x82\xAC", "\xC3\xA9\n\xE2\x82\xAC"},
  };
  for (const Case& c : cases) {
    Cell with = string::make_value(load(bytes_of(c.input), 0, nullptr, true));
    Cell without = string::make_value(load(bytes_of(c.input), 0, nullptr, false));
    EXPECT_EQ(string::to_std_string(with), c.with_flag);
    EXPECT_EQ(string::to_std_string(without), c.input);
  }
}

TEST_F(UnicodeTest, IncompleteTrailingSequenceIsLeftAsRemainder) {
  struct Case {
    Bytes input;
    CodePoints decoded;
    uint32_t remainder;
  };
  const Case cases[] = {
      {{'a', 'b'}, {'a', 'b'}, 0},
      {{'a', 0xC3}, {'a'}, 1},
      {{'a', 0xE2, 0x82}, {'a'}, 2},
      {{0xF0, 0x9F, 0x98}, {}, 3},
      {{0xE2, 0x82, 0xAC, 0xF0}, {0x20AC}, 1},
  };
  for (const Case& c : cases) {
    uint32_t remainder = 99;
    NodeId node = load(c.input, 0, &remainder);
    EXPECT_EQ(code_points_of(node), c.decoded);
    EXPECT_EQ(remainder, c.remainder);
  }

  // Chunked input: the remainder is handed back with the next chunk.
  NodeId target = make_string({}, 1);
  uint32_t remainder = 0;
  load({'x', 0xF0, 0x9F}, target, &remainder);
  ASSERT_EQ(remainder, 2u);
  load({0xF0, 0x9F, 0x98, 0x80, 'y'}, target, &remainder);
  EXPECT_EQ(remainder, 0u);
  EXPECT_EQ(code_points_of(target), (CodePoints{'x', 0x1F600, 'y'}));
}

TEST_F(UnicodeTest, IncompleteTailOfCompleteTextIsInvalid) {
  // Without a remainder to return, a cut sequence would be lost silently.
  Bytes input = {'a', 0xE2, 0x82};
  auto copy = exact_copy(input);
  EXPECT_EQ(catch_error([&] { unicode::load_utf8_new(copy.get(), 3, false); }),
            ErrorId::access_invalid_utf8);
  EXPECT_EQ(binary_argument(), (Bytes{0xE2, 0x82}));
}

TEST_F(UnicodeTest, InvalidSequencesRaiseWithTheBytesThatExistAtTheFailure) {
  struct Case {
    Bytes input;
    size_t at;  // where the invalid sequence starts
    Bytes argument;
  };
  const Case cases[] = {
      {{0x80}, 0, {0x80}},                                      // stray continuation, last byte
      {{'a', 0xBF, 'b', 'c', 'd', 'e'}, 1, {0xBF, 'b', 'c', 'd'}},  // at most four bytes
      {{0xC3, 0x41}, 0, {0xC3, 0x41}},                          // bad continuation
      {{0xE2, 0x82, 0x41, 0x42}, 0, {0xE2, 0x82, 0x41, 0x42}},
      {{0xF8, 0x88, 0x80, 0x80, 0x80}, 0, {0xF8, 0x88, 0x80, 0x80}},  // lead byte 0xF8-0xFF
      {{'x', 0xFF}, 1, {0xFF}},
      {{0xED, 0xB0, 0x80}, 0, {0xED, 0xB0, 0x80}},              // U+DC00
      {{0xED, 0xB3, 0xBF}, 0, {0xED, 0xB3, 0xBF}},              // U+DCFF
      {{0xF4, 0x90, 0x80, 0x80}, 0, {0xF4, 0x90, 0x80, 0x80}},  // U+110000
      {{0xF5}, 0, {0xF5}},               // cut short, yet no completion is valid
      {{0xF4, 0x90}, 0, {0xF4, 0x90}},
      {{0xED, 0xB0}, 0, {0xED, 0xB0}},
      {{0xE2, 0x41}, 0, {0xE2, 0x41}},   // cut short after a bad continuation
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.input));
    auto input = exact_copy(c.input);
    uint32_t count = static_cast<uint32_t>(c.input.size());
    uint32_t remainder = 0;
    EXPECT_EQ(catch_error([&] { unicode::load_utf8(input.get(), count, 0, &remainder, false); }),
              ErrorId::access_invalid_utf8);
    EXPECT_EQ(binary_argument(), c.argument);

    // The validating decoder raises at the sequence itself.
    int32_t left = static_cast<int32_t>(count - c.at);
    EXPECT_EQ(catch_error([&] { unicode::decode_utf8_char(input.get() + c.at, &left); }),
              ErrorId::access_invalid_utf8);
    EXPECT_EQ(binary_argument(), c.argument);
  }
}

TEST_F(UnicodeTest, ValidatingDecoderReportsIncompleteSequencesAndAcceptsOverlongForms) {
  Bytes cut = {0xE2, 0x82};
  auto input = exact_copy(cut);
  int32_t count = 2;
  EXPECT_EQ(unicode::decode_utf8_char(input.get(), &count), -1);
  count = 0;
  EXPECT_EQ(unicode::decode_utf8_char(input.get(), &count), -1);

  struct Case {
    Bytes input;
    int32_t code_point;
  };
  const Case cases[] = {
      {{0xC0, 0x80}, 0},               // overlong forms pass
      {{0xE0, 0x81, 0x81}, 0x41},
      {{0xED, 0xA0, 0x80}, 0xD800},    // only 0xDC00-0xDCFF is refused
      {{0xED, 0xB4, 0x80}, 0xDD00},
  };
  for (const Case& c : cases) {
    auto copy = exact_copy(c.input);
    int32_t left = static_cast<int32_t>(c.input.size());
    EXPECT_EQ(unicode::decode_utf8_char(copy.get(), &left), c.code_point);
    EXPECT_EQ(left, static_cast<int32_t>(c.input.size()));
  }
}

TEST_F(UnicodeTest, InvalidInputLeavesTheTargetAsItWas) {
  NodeId target = make_string({'o', 'k'}, 1);
  Bytes input = {'a', 0xE2, 0x82, 0xAC, 0xFF};
  auto copy = exact_copy(input);
  EXPECT_EQ(catch_error([&] { unicode::load_utf8(copy.get(), 5, target, nullptr, false); }),
            ErrorId::access_invalid_utf8);
  EXPECT_EQ(code_points_of(target), (CodePoints{'o', 'k'}));
}

// --- Writing UTF-8 -----------------------------------------------------------------------

TEST_F(UnicodeTest, CodePointsAboveTheUnicodeRangeAreInvalidChars) {
  uint8_t out[4];
  EXPECT_EQ(catch_error([&] { unicode::encode_char(0x110000, out); }), ErrorId::script_invalid_char);
  Cell argument = error_value::argument(last_error(), 1);
  EXPECT_EQ(argument.type(), TYPE_INTEGER);
  EXPECT_EQ(integer::get(argument), 0x110000);

  EXPECT_EQ(catch_error([] { unicode::char_size(0x110000); }), ErrorId::script_invalid_char);
  EXPECT_EQ(catch_error([] { unicode::char_size(-1); }), ErrorId::script_invalid_char);
  EXPECT_EQ(catch_error([&] { unicode::encode_char_bounded(0x110000, out, 4); }),
            ErrorId::script_invalid_char);

  NodeId bad = make_string({'a', 0x110000}, 4);
  Cell string = string::make_value(bad);
  SeriesBuffer* buffer = memory::buffer_of(bad);
  EXPECT_EQ(catch_error([&] { unicode::utf8_length(buffer->head_ptr(), buffer->tail_ptr(), 4); }),
            ErrorId::script_invalid_char);
  EXPECT_EQ(catch_error([&] { unicode::to_utf8(&string, nullptr); }), ErrorId::script_invalid_char);
}

TEST_F(UnicodeTest, Utf8LengthCountsTheBytesOfEachUnit) {
  struct Case {
    CodePoints code_points;
    uint32_t unit;
    int64_t length;
  };
  const Case cases[] = {
      {{}, 1, 0},
      {{'a', 0x7F, 0x80, 0xFF}, 1, 6},
      {{'a', 0xE9, 0x20AC, 0xFFFF}, 2, 9},
      {{'a', 0x20AC, 0x10000, 0x10FFFF}, 4, 12},
  };
  for (const Case& c : cases) {
    SeriesBuffer* buffer = memory::buffer_of(make_string(c.code_points, c.unit));
    EXPECT_EQ(unicode::utf8_length(buffer->head_ptr(), buffer->tail_ptr(), c.unit), c.length);
  }
}

TEST_F(UnicodeTest, BoundedEncodingWritesOnlyTheLeadingBytesThatFit) {
  const Bytes euro = {0xE2, 0x82, 0xAC};
  const int32_t rooms[] = {-1, 0, 1, 2, 3, 4};
  for (int32_t room : rooms) {
    uint8_t out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    int32_t expected = room < 0 ? 0 : room > 3 ? 3 : room;
    EXPECT_EQ(unicode::encode_char_bounded(0x20AC, out, room), expected) << room;
    EXPECT_EQ(Bytes(out, out + expected), Bytes(euro.begin(), euro.begin() + expected));
    EXPECT_EQ(out[expected], 0xEE) << "nothing past the bytes written";
  }
}

TEST_F(UnicodeTest, ToUtf8HonoursIndexPartLimitAndLineEnds) {
  // a é € 😀 LF b, in unit 4.
  NodeId node = make_string({'a', 0xE9, 0x20AC, 0x1F600, '\n', 'b'}, 4);
  struct Case {
    uint32_t index;
    int32_t part;
    bool crlf;
    std::string expected;
  };
  const Case cases[] = {
      {0, -1, false, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\nb"},
      {0, -7, false, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\nb"},  // any negative: no limit
      {0, 0, false, ""},
      {0, 2, false, "a\xC3\xA9"},
      {0, 99, false, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\nb"},
      {2, 2, false, "\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {3, -1, true, "\xF0\x9F\x98\x80\r\nb"},
      {6, -1, false, ""},  // index at the tail
      {9, -1, false, ""},  // index past the tail
  };
  for (const Case& c : cases) {
    Cell string = string::make_value(node, c.index);
    int32_t part = c.part;
    const char* text = unicode::to_utf8_lines(&string, &part, c.crlf);
    EXPECT_EQ(std::string(text, static_cast<size_t>(part)), c.expected)
        << "index " << c.index << " part " << c.part;
    EXPECT_EQ(std::strlen(text), c.expected.size());

    uint8_t out[32];
    int32_t written = unicode::write_utf8(&string, out, c.part);
    if (!c.crlf) {
      EXPECT_EQ(std::string(out, out + written), c.expected);
    }
  }

  // Latin-1 text with line feeds needs two bytes per unit at most.
  NodeId lines = make_string({'\n', '\n', 0xFF, '\n'}, 1);
  Cell string = string::make_value(lines);
  int32_t part = -1;
  EXPECT_EQ(std::string(unicode::to_utf8_buffer(&string, &part, true)), "\r\n\r\n\xC3\xBF\r\n");
  EXPECT_EQ(part, 8);
}

TEST_F(UnicodeTest, BoundedWriteStopsWhenTheRoomIsUsedUp) {
  Cell string = string::make_value(make_string({'a', 0x20AC, 'b'}, 2));  // 61 E2 82 AC 62
  struct Case {
    int32_t room;
    int32_t part;
    Bytes expected;
  };
  const Case cases[] = {
      {0, -1, {}},
      {1, -1, {'a'}},
      {3, -1, {'a', 0xE2, 0x82}},  // the euro sign is cut
      {4, -1, {'a', 0xE2, 0x82, 0xAC}},
      {9, -1, {'a', 0xE2, 0x82, 0xAC, 'b'}},
      {9, 2, {'a', 0xE2, 0x82, 0xAC}},
  };
  for (const Case& c : cases) {
    for (bool nul : {false, true}) {
      uint8_t out[12];
      std::memset(out, 0xEE, sizeof out);
      int32_t written = unicode::write_utf8_bounded(&string, out, c.room, c.part, nul);
      ASSERT_EQ(written, static_cast<int32_t>(c.expected.size())) << "room " << c.room;
      EXPECT_EQ(Bytes(out, out + written), c.expected);
      EXPECT_EQ(out[written], nul ? 0x00 : 0xEE) << "room " << c.room;
      EXPECT_EQ(out[written + 1], 0xEE);
    }
  }
}

// --- UTF-16 ------------------------------------------------------------------------------

TEST_F(UnicodeTest, Utf16UnitSizeIsTheNarrowestThatHoldsTheText) {
  struct Case {
    std::vector<uint16_t> units;
    uint32_t unit;
  };
  const Case cases[] = {
      {{}, 1},
      {{'a', 0xFF}, 1},
      {{'a', 0x0100}, 2},
      {{0xFFFF, 0xD7FF}, 2},
      {{'a', 0xD83D, 0xDE00}, 4},
      {{0xDC00}, 4},  // a lone surrogate still asks for unit 4
  };
  for (const Case& c : cases) {
    EXPECT_EQ(unicode::utf16_unit_size(c.units.data(), static_cast<uint32_t>(c.units.size())),
              c.unit);
  }
}

TEST_F(UnicodeTest, EncodesUtf16WithSurrogatePairs) {
  struct Case {
    uint32_t code_point;
    std::vector<uint16_t> units;
  };
  const Case cases[] = {
      {'A', {'A'}},
      {0xFFFF, {0xFFFF}},
      {0x10000, {0xD800, 0xDC00}},
      {0x1F600, {0xD83D, 0xDE00}},
      {0x10FFFF, {0xDBFF, 0xDFFF}},
      {0x110000, {}},
  };
  for (const Case& c : cases) {
    uint16_t out[3] = {0xEEEE, 0xEEEE, 0xEEEE};
    int32_t count = unicode::encode_utf16_char(c.code_point, out);
    ASSERT_EQ(count, static_cast<int32_t>(c.units.size())) << c.code_point;
    EXPECT_EQ(std::vector<uint16_t>(out, out + count), c.units);
    EXPECT_EQ(out[count], 0xEEEE);
  }
}

TEST_F(UnicodeTest, LoadsUtf16AndReplacesUnpairedSurrogates) {
  struct Case {
    std::vector<uint16_t> units;
    bool drop_cr;
    CodePoints expected;
    uint32_t unit;
  };
  const Case cases[] = {
      {{}, false, {}, 1},
      {{'h', 0xE9}, false, {'h', 0xE9}, 1},
      {{'a', 0x20AC}, false, {'a', 0x20AC}, 2},
      {{0xD800, 0xDC00}, false, {0x10000}, 4},
      {{'a', 0xD83D, 0xDE00, 'b'}, false, {'a', 0x1F600, 'b'}, 4},
      {{'a', 0xD800}, false, {'a', 0xFFFD}, 4},                  // high surrogate last
      {{0xD800, 'b'}, false, {0xFFFD, 'b'}, 4},                  // high not followed by low
      {{0xD800, 0xD800, 0xDC00}, false, {0xFFFD, 0x10000}, 4},   // the second one pairs
      {{'a', 0xDC00, 'b'}, false, {'a', 0xFFFD, 'b'}, 4},        // lone low surrogate
      {{'a', '\r', '\n', 'b', '\r'}, true, {'a', '\n', 'b'}, 1},
      {{'a', '\r', '\n'}, false, {'a', '\r', '\n'}, 1},
      {{0x20AC, '\r', '\n'}, true, {0x20AC, '\n'}, 2},
  };
  for (const Case& c : cases) {
    NodeId node = unicode::load_utf16le(c.units.data(), static_cast<uint32_t>(c.units.size()), 0,
                                        c.drop_cr);
    EXPECT_EQ(code_points_of(node), c.expected) << ::testing::PrintToString(c.units);
    EXPECT_EQ(unit_of(node), c.unit) << ::testing::PrintToString(c.units);
    EXPECT_NE(memory::buffer_of(node)->flags & series_flags::kFromUtf16, 0u);
  }
}

TEST_F(UnicodeTest, LoadingUtf16IntoATargetReplacesItsContent) {
  NodeId target = make_string({'o', 'l', 'd'}, 1);
  const uint16_t units[] = {0xD83D, 0xDE00, 'n'};
  EXPECT_EQ(unicode::load_utf16le(units, 3, target, false), target);
  EXPECT_EQ(code_points_of(target), (CodePoints{0x1F600, 'n'}));
  EXPECT_EQ(unit_of(target), 4u);

  // Without units, the text is read from the target's own buffer, which
  // widens while it is decoded.
  NodeId own = memory::alloc_bytes(8);
  SeriesBuffer* buffer = memory::buffer_of(own);
  const uint8_t little_endian[] = {'h', 0, 0x3D, 0xD8, 0x00, 0xDE, 'i', 0};
  std::memcpy(buffer->data(), little_endian, sizeof little_endian);
  buffer->tail = sizeof little_endian;
  unicode::load_utf16le(nullptr, 4, own, false);
  EXPECT_EQ(code_points_of(own), (CodePoints{'h', 0x1F600, 'i'}));
  EXPECT_EQ(unit_of(own), 4u);
}

TEST_F(UnicodeTest, ToUtf16ReservesRoomForPairsAndLineEnds) {
  NodeId node = make_string({'a', 0x10000, '\n', 0x1F600, '\n', 'b'}, 4);
  Cell string = string::make_value(node);
  struct Case {
    int32_t part;
    bool crlf;
    std::vector<uint16_t> expected;
  };
  const Case cases[] = {
      {-1, false, {'a', 0xD800, 0xDC00, '\n', 0xD83D, 0xDE00, '\n', 'b'}},
      {-1, true, {'a', 0xD800, 0xDC00, '\r', '\n', 0xD83D, 0xDE00, '\r', '\n', 'b'}},
      {2, false, {'a', 0xD800, 0xDC00}},
      {0, true, {}},
  };
  for (const Case& c : cases) {
    int32_t part = c.part;
    const uint16_t* text = unicode::to_utf16_part(&string, &part, c.crlf);
    ASSERT_NE(text, nullptr);
    ASSERT_EQ(part, static_cast<int32_t>(c.expected.size()));
    EXPECT_EQ(std::vector<uint16_t>(text, text + part), c.expected);
    EXPECT_EQ(text[part], 0);
  }

  // Line feeds in Latin-1 and UCS-2 text get their CR as well.
  for (uint32_t unit : {1u, 2u}) {
    Cell narrow = string::make_value(make_string({'x', '\n'}, unit));
    int32_t part = -1;
    const uint16_t* text = unicode::to_utf16_part(&narrow, &part, true);
    EXPECT_EQ(std::vector<uint16_t>(text, text + part + 1),
              (std::vector<uint16_t>{'x', '\r', '\n', 0}));
  }

  // to_utf16 ends lines with LF alone and round-trips through the loader.
  const uint16_t* whole = unicode::to_utf16(&string);
  size_t length = 0;
  while (whole[length] != 0) ++length;
  NodeId back = unicode::load_utf16le(whole, static_cast<uint32_t>(length), 0, false);
  EXPECT_EQ(code_points_of(back), code_points_of(node));

  Cell too_big = string::make_value(make_string({'a', 0x110000}, 4));
  EXPECT_EQ(unicode::to_utf16(&too_big), nullptr);
}

TEST_F(UnicodeTest, WidensLatin1TextToUtf16) {
  uint16_t out[4] = {0xEEEE, 0xEEEE, 0xEEEE, 0xEEEE};
  unicode::latin1_to_utf16("A\xE9\x7F", out);
  EXPECT_EQ(std::vector<uint16_t>(out, out + 4), (std::vector<uint16_t>{'A', 0xE9, 0x7F, 0}));
}

// --- Windows-1251 ------------------------------------------------------------------------

TEST_F(UnicodeTest, DecodesWindows1251) {
  struct Case {
    Bytes input;
    bool crlf;
    CodePoints expected;
    uint32_t unit;
  };
  const Case cases[] = {
      {{'A', 0xA0, 0xA9}, false, {'A', 0xA0, 0xA9}, 1},  // Latin-1 code points stay narrow
      {{0x80}, false, {0x0402}, 2},
      {{0xFF}, false, {0x044F}, 2},
      {{0xC0, 0xE0}, false, {0x0410, 0x0430}, 2},  // А а
      {{0x88, 0x99, 0xB9}, false, {0x20AC, 0x2122, 0x2116}, 2},
      {{0x98}, false, {0x0098}, 1},  // unassigned in the code page
      {{'a', '\r', '\n', 0xC0, '\r'}, true, {'a', '\n', 0x0410, '\n'}, 2},
      {{'a', '\r', '\n'}, false, {'a', '\r', '\n'}, 1},
  };
  for (const Case& c : cases) {
    auto input = exact_copy(c.input);
    NodeId node =
        unicode::load_cp1251(input.get(), static_cast<uint32_t>(c.input.size()), 0, c.crlf);
    EXPECT_EQ(code_points_of(node), c.expected) << ::testing::PrintToString(c.input);
    EXPECT_EQ(unit_of(node), c.unit) << ::testing::PrintToString(c.input);
  }

  NodeId target = make_string({0x1F600}, 4);
  const uint8_t privet[] = {0xCF, 0xF0, 0xE8};
  unicode::load_cp1251(privet, 3, target, false);
  EXPECT_EQ(code_points_of(target), (CodePoints{0x1F600, 0x041F, 0x0440, 0x0438}));
}

// --- Display width -----------------------------------------------------------------------

TEST_F(UnicodeTest, CharWidthOfSampleCodePoints) {
  struct Case {
    uint32_t code_point;
    int32_t width;
    int32_t cjk_width;
  };
  const Case cases[] = {
      {0x0000, 0, 0},       // NUL
      {0x0007, 1, 1},       // controls take one cell
      {0x001F, 1, 1},
      {0x007F, 1, 1},
      {0x009F, 1, 1},
      {'A', 1, 1},
      {0x00A1, 1, 2},       // East Asian ambiguous
      {0x00AD, 1, 2},       // soft hyphen: drawn, and ambiguous
      {0x03B1, 1, 2},       // Greek alpha
      {0x0300, 0, 0},       // combining marks stay zero width in both contexts
      {0x0301, 0, 0},
      {0x036F, 0, 0},
      {0x0370, 1, 1},
      {0x200B, 0, 0},       // zero width space (format character)
      {0x1160, 0, 0},       // Hangul Jamo medial vowel
      {0x11FF, 0, 0},
      {0x1100, 2, 2},       // Hangul Jamo initial consonant
      {0x115F, 2, 2},
      {0x302A, 0, 0},       // wide combining mark: zero comes first
      {0x4E00, 2, 2},
      {0x9FFF, 2, 2},
      {0xAC00, 2, 2},       // Hangul syllable
      {0xFF21, 2, 2},       // fullwidth A
      {0xFF61, 1, 1},       // halfwidth katakana punctuation
      {0xE000, 1, 2},       // private use: ambiguous
      {0x1F600, 2, 2},      // emoji presentation
      {0x1E900, 1, 1},      // Adlam
      {0x20000, 2, 2},
      {0x2FFFD, 2, 2},      // unassigned in plane 2 defaults to wide
      {0x2FFFE, 1, 1},
      {0x3FFFD, 2, 2},
      {0xE0001, 0, 0},      // language tag
      {0xE01EF, 0, 0},      // last variation selector
      {0xE01F0, 1, 1},
      {0x10FFFD, 1, 2},
      {0x10FFFF, 1, 1},
      {0x110000, 1, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(unicode::char_width(c.code_point), c.width) << std::hex << c.code_point;
    EXPECT_EQ(unicode::char_width_cjk(c.code_point), c.cjk_width) << std::hex << c.code_point;
  }
}

}  // namespace
}  // namespace kel
