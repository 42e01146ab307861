// string! storage and text output: widening rules, the character routines,
// copying between units, loading external text, hexadecimal, matching for
// parse, mold and form, comparison, make/to and path access.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "datatypes/datatype.h"
#include "datatypes/string.h"
#include "datatypes/string_internal.h"
#include "runtime/actions.h"
#include "runtime/stack.h"
#include "runtime/datatype_registry.h"
#include "string_test_helpers.h"
#include "test_support.h"

namespace kel {
namespace {

using namespace string_testing;
using testing::catch_error;

class StringTest : public testing::RuntimeTest {
 protected:
  stack::Guard guard_;  // every string a test pushes is dropped after it
};

// --- Widening -----------------------------------------------------------------------------

TEST_F(StringTest, EachEntryPointWidensAtItsOwnThreshold) {
  enum Routine { kAppend, kOverwrite, kInsert, kPoke };
  struct Case {
    Routine routine;
    uint32_t unit;
    uint32_t code_point;
    uint32_t expected_unit;
  } cases[] = {
      {kAppend, 1, 0x7F, 1},     {kAppend, 1, 0x80, 2},      {kAppend, 1, 0xE9, 2},
      {kAppend, 1, 0x1F600, 4},  {kAppend, 2, 0xFFFF, 2},    {kAppend, 2, 0x10000, 4},
      {kOverwrite, 1, 0xE9, 1},  {kOverwrite, 1, 0x100, 2},  {kOverwrite, 2, 0x10000, 4},
      {kInsert, 1, 0xFF, 1},     {kInsert, 1, 0x10000, 4},   {kInsert, 4, 0x41, 4},
      {kPoke, 1, 0xE9, 1},       {kPoke, 1, 0x20AC, 2},      {kPoke, 2, 0x1F600, 4},
  };
  for (const Case& c : cases) {
    Cell s = text("ab", c.unit);
    SeriesBuffer* b = string::buffer_of(&s);
    switch (c.routine) {
      case kAppend: string::append_char(b, c.code_point); break;
      case kOverwrite: string::overwrite_char(b, 1, c.code_point); break;
      case kInsert: string::insert_char(b, 1, c.code_point); break;
      case kPoke: string::poke_char(b, b->offset + c.unit, c.code_point); break;
    }
    SCOPED_TRACE(::testing::Message() << "routine " << c.routine << " unit " << c.unit << " U+" << std::hex
                                      << c.code_point);
    EXPECT_EQ(unit_of(s), c.expected_unit);
    // The neighbours keep their code points through the widening.
    EXPECT_EQ(string::rs_abs_at(&s, 0), uint32_t{'a'});
    uint32_t written = c.routine == kAppend ? 2 : 1;
    EXPECT_EQ(string::rs_abs_at(&s, written), c.code_point);
  }
}

TEST_F(StringTest, OverwriteAtTheTailAppendsAndInsertPastItClampsToTheTail) {
  for (uint32_t unit : {1u, 2u, 4u}) {
    Cell s = text("ab", unit);
    string::overwrite_char(string::buffer_of(&s), 2, 'c');
    string::overwrite_char(string::buffer_of(&s), 9, 'd');
    string::insert_char(string::buffer_of(&s), 99, 'e');
    string::insert_char(string::buffer_of(&s), 0, '>');
    EXPECT_EQ(utf8(s), ">abcde") << "unit " << unit;
  }
}

TEST_F(StringTest, RemovingCountsFromTheIndexAndStopsAtTheTail) {
  for (uint32_t unit : {1u, 2u, 4u}) {
    Cell s = text("abcdefg", unit, 1);
    string::remove_char(&s, 0);           // b
    string::remove_part(&s, 1, 2);        // d e
    string::remove_part(&s, 2, 100);      // g and nothing past it
    string::remove_part(&s, 50, 1);       // past the tail: nothing
    EXPECT_EQ(whole(s), "acf") << "unit " << unit;
    string::truncate_to(string::buffer_of(&s), 5);  // holds fewer: unchanged
    EXPECT_EQ(whole(s), "acf");
    string::truncate_to(string::buffer_of(&s), 1);
    EXPECT_EQ(whole(s), "a");
  }
}

TEST_F(StringTest, ResetEmptiesAndNarrowsTheUnit) {
  Cell s = text("€uro", 2, 2);
  string::rs_reset(&s);
  EXPECT_EQ(unit_of(s), 1u);
  EXPECT_EQ(s.data1, 0u);
  EXPECT_EQ(string::rs_length(&s), 0u);
}

TEST_F(StringTest, HeadClampsAnIndexPastTheTailAndSkipNeverLeavesTheSeries) {
  Cell s = text("abc", 2, 7);
  EXPECT_EQ(string::rs_length(&s), 0u);
  EXPECT_TRUE(string::rs_tail_q(&s));
  EXPECT_EQ(string::rs_head(&s), string::rs_tail(&s));
  EXPECT_EQ(s.data1, 3u);
  s.data1 = 1;
  EXPECT_FALSE(string::rs_skip(&s, 1));
  EXPECT_EQ(s.data1, 2u);
  EXPECT_TRUE(string::rs_skip(&s, 5)) << "a skip past the tail reports the tail";
  EXPECT_EQ(s.data1, 2u) << "and does not move";
  EXPECT_TRUE(string::rs_next(&s));
  EXPECT_EQ(s.data1, 3u);
}

// --- Copying between strings --------------------------------------------------------------

TEST_F(StringTest, ConcatenateCopiesAcrossUnitsInEachMode) {
  using string::Concatenate;
  struct Case {
    const char* target;
    uint32_t target_unit;
    const char* source;
    uint32_t source_unit;
    int32_t part;
    uint32_t offset;
    Concatenate mode;
    const char* expected;
    uint32_t expected_unit;
  } cases[] = {
      {"abc", 1, "de", 1, -1, 0, Concatenate::kAppend, "abcde", 1},
      {"abc", 1, "d€f", 2, -1, 0, Concatenate::kAppend, "abcd€f", 2},
      {"abc", 1, "x😀y", 4, 2, 0, Concatenate::kAppend, "abcx😀", 4},
      {"a€c", 2, "xyz", 1, -1, 0, Concatenate::kAppend, "a€cxyz", 2},
      {"a😀c", 4, "é€", 2, -1, 1, Concatenate::kInsert, "aé€😀c", 4},
      {"abc", 1, "é€", 2, -1, 9, Concatenate::kInsert, "abcé€", 2},
      {"abcd", 1, "XY", 1, -1, 1, Concatenate::kOverwrite, "aXYd", 1},
      {"abcd", 1, "X😀Z", 4, -1, 3, Concatenate::kOverwrite, "abcX😀Z", 4},
      {"abcd", 2, "", 1, -1, 1, Concatenate::kOverwrite, "abcd", 2},
      {"abcd", 1, "xyz", 1, 0, 0, Concatenate::kAppend, "abcd", 1},
  };
  for (const Case& c : cases) {
    Cell target = text(c.target, c.target_unit);
    Cell source = text(c.source, c.source_unit);
    string::concatenate(&target, &source, c.part, c.offset, c.mode);
    EXPECT_EQ(utf8(target), c.expected) << c.target << " + " << c.source;
    EXPECT_EQ(unit_of(target), c.expected_unit) << c.target << " + " << c.source;
  }
}

TEST_F(StringTest, ConcatenateAStringIntoItselfReadsTheOriginalText) {
  for (uint32_t unit : {1u, 2u, 4u}) {
    Cell s = text("abc", unit);
    Cell from_b = s;
    from_b.data1 = 1;
    string::concatenate(&s, &s, -1, 0, string::Concatenate::kAppend);
    EXPECT_EQ(utf8(s), "abcabc");
    string::concatenate(&s, &from_b, 2, 1, string::Concatenate::kInsert);
    EXPECT_EQ(utf8(s), "abcbcabc") << "unit " << unit;
  }
}

TEST_F(StringTest, InsertCodepointsMovesTextBetweenUnits) {
  Cell source = text("x€yz", 2, 1);
  Cell target = text("ab", 1, 1);
  string::insert_codepoints(&source, &target, 2);
  EXPECT_EQ(whole(target), "a€yb");
  EXPECT_EQ(unit_of(target), 2u);
  EXPECT_EQ(whole(source), "xz");
}

TEST_F(StringTest, WidenCopyFillsANewOrAGivenBuffer) {
  Cell narrow = text("aé", 1);
  NodeId fresh = string::widen_copy(string::buffer_of(&narrow), 0, 4);
  Cell copy = string::make_value(fresh);
  EXPECT_EQ(utf8(copy), "aé");
  EXPECT_EQ(unit_of(copy), 4u);

  Cell target = text("old text", 1);
  string::widen_copy(string::buffer_of(&narrow), target.data2, 2);
  EXPECT_EQ(utf8(target), "aé");
  EXPECT_EQ(unit_of(target), 2u);

  SeriesBuffer* b = string::convert_width(string::buffer_of(&narrow), 1, 2);
  EXPECT_EQ(b->unit(), 2u);
  EXPECT_EQ(utf8(narrow), "aé");
}

TEST_F(StringTest, ExchangeBlocksSwapsTwoRangesAroundAGap) {
  Cell s = text("ABCgapXY", 1);
  string::exchange_blocks(string::buffer_of(&s)->head_ptr(), 3, 3, 2);
  EXPECT_EQ(utf8(s), "XYgapABC");
  Cell wide = text("€1-😀", 4);
  string::exchange_blocks(string::buffer_of(&wide)->head_ptr(), 8, 4, 4);
  EXPECT_EQ(utf8(wide), "😀-€1");
}

// --- Reading -------------------------------------------------------------------------------

TEST_F(StringTest, FindCharHasCharAndStartsWithLiteral) {
  Cell s = text("xaBcAb", 2, 1);
  EXPECT_EQ(string::find_char(&s, 'c'), 2);
  EXPECT_EQ(string::find_char(&s, 'x'), -1) << "before the index";
  EXPECT_EQ(string::find_char(&s, 'b'), 4) << "no case folding";
  EXPECT_TRUE(string::has_char(&s, 'b', 1, false));
  EXPECT_FALSE(string::has_char(&s, 'B', 2, true)) << "steps of 2 visit positions 1, 3, 5: a c b";
  EXPECT_TRUE(string::has_char(&s, 'B', 2, false));
  EXPECT_TRUE(string::has_char(&s, 'A', 3, true)) << "positions 1 and 4";
  EXPECT_FALSE(string::has_char(&s, 'x', 1, true)) << "the head is before the index";

  Cell t = text("Ġab", 2);
  EXPECT_FALSE(string::starts_with_literal(&t, "\x20" "a")) << "U+0120 never matches a byte";
  t.data1 = 1;
  EXPECT_TRUE(string::starts_with_literal(&t, "ab"));
  EXPECT_FALSE(string::starts_with_literal(&t, "abc")) << "the text is shorter";
}

TEST_F(StringTest, ToHexAndByteToHex) {
  struct Case {
    int32_t value;
    bool trim;
    const char* expected;
  } cases[] = {
      {255, false, "000000FF"}, {-1, false, "FFFFFFFF"}, {-2, false, "FFFFFFFE"},
      {255, true, "FF"},        {0, true, "00"},         {0x1E, true, "1E"},
      {0x1F600, true, "1F600"}, {-1, true, "FFFFFFFF"}, {0, false, "00000000"},
  };
  for (const Case& c : cases) EXPECT_EQ(string::to_hex(c.value, c.trim), c.expected) << c.value;
  auto digits = string::byte_to_hex(0xA7);
  EXPECT_EQ(std::string(digits.data(), 2), "A7");
}

// --- Loading -------------------------------------------------------------------------------

TEST_F(StringTest, LoadDecodesUtf8AndUtf16IntoTheNarrowestUnit) {
  struct Case {
    std::string bytes;
    int32_t encoding;
    uint32_t length;  // in units of the encoding
    const char* expected;
    uint32_t unit;
  } cases[] = {
      {"caf\xC3\xA9", string::kEncodingUtf8, 5, "café", 1},
      {"\xEF\xBB\xBF" "ab", string::kEncodingUtf8, 5, "ab", 1},
      {"a\xE2\x82\xAC", string::kEncodingUtf8, 4, "a€", 2},
      {"ab\xE2\x82", string::kEncodingUtf8, 4, "ab", 1},  // incomplete end dropped
      {std::string("a\0\xE9\0", 4), string::kEncodingUtf16le, 2, "aé", 1},
      {std::string("\xAC\x20z\0", 4), string::kEncodingUtf16le, 2, "€z", 2},
      {std::string("\x3D\xD8\x00\xDE!\0", 6), string::kEncodingUtf16le, 3, "😀!", 4},
  };
  for (const Case& c : cases) {
    Cell* s = string::load(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.length, nullptr, c.encoding);
    EXPECT_TRUE(s->is(TYPE_STRING));
    EXPECT_EQ(utf8(*s), c.expected);
    EXPECT_EQ(unit_of(*s), c.unit) << c.expected;
  }
}

TEST_F(StringTest, LoadingNothingGivesAnEmptyString) {
  for (int32_t encoding : {string::kEncodingUtf8, string::kEncodingUtf16le}) {
    Cell* s = string::load(reinterpret_cast<const uint8_t*>(""), 0, nullptr, encoding);
    EXPECT_EQ(string::rs_length(s), 0u);
  }
}

TEST_F(StringTest, AnUnsupportedEncodingIsAnInternalErrorNotAnExit) {
  EXPECT_EQ(catch_error([] { string::load_cstr("abc", 3, 1); }), ErrorId::internal_feature_na);
}

TEST_F(StringTest, LoadInAppendsTheStringToABlock) {
  Cell b = block({});
  Cell* added = string::load_in(reinterpret_cast<const uint8_t*>("hé"), 3, &b, string::kEncodingUtf8);
  EXPECT_EQ(memory::buffer_of(b.data2)->cell_count(), 1u);
  EXPECT_EQ(utf8(*added), "hé");
}

TEST_F(StringTest, StrictUtf8LoadingRaisesOnBadBytes) {
  Cell* good = string::load_utf8_strict(reinterpret_cast<const uint8_t*>("\xE2\x82\xAC"), 3);
  EXPECT_EQ(utf8(*good), "€");
  EXPECT_EQ(catch_error([] { string::load_utf8_strict(reinterpret_cast<const uint8_t*>("a\xFF"), 2); }),
            ErrorId::access_invalid_utf8);
  EXPECT_EQ(catch_error([] { string::load_utf8_strict(reinterpret_cast<const uint8_t*>("a\xE2\x82"), 3); }),
            ErrorId::access_invalid_utf8)
      << "an incomplete end is an error here";
}

// --- Matching for parse --------------------------------------------------------------------

TEST_F(StringTest, CharInBitsetUsesTheComplementBeyondTheStoredBits) {
  Cell vowels = bitset({'a', 'e'});
  Cell not_x = bitset({'x'}, true);
  struct Case {
    const char* text;
    const Cell* set;
    bool expected;
  } cases[] = {
      {"a", &vowels, true}, {"b", &vowels, false}, {"€", &vowels, false},
      {"b", &not_x, false},  // stored bits mean membership, whatever the flag
      {"€", &not_x, true},   {"", &vowels, false},
  };
  for (const Case& c : cases) {
    for (uint32_t unit : {2u, 4u}) {
      Cell s = text(c.text, unit);
      EXPECT_EQ(string::char_in_bitset(&s, c.set), c.expected) << c.text;
    }
  }
}

TEST_F(StringTest, TagDelimitersNeverReadPastTheTail) {
  Cell tag = text("br", 1, 0, TYPE_TAG);
  Cell exact = text("<br>", 1);
  Cell cut = text("<br", 1);
  Cell longer = text("x<br/>", 2, 1);
  EXPECT_TRUE(string::tag_delimiters(&exact, &tag));
  EXPECT_FALSE(string::tag_delimiters(&cut, &tag));
  EXPECT_FALSE(string::tag_delimiters(&longer, &tag));
  EXPECT_TRUE(string::match_value(&exact, &tag, kCmpEqual));
  Cell upper_tag = text("BR", 1, 0, TYPE_TAG);
  EXPECT_TRUE(string::match_value(&exact, &upper_tag, kCmpEqual));
  EXPECT_FALSE(string::match_value(&exact, &upper_tag, kCmpStrictEqual));
}

TEST_F(StringTest, MatchValueByType) {
  Cell s = text("Hello", 2);
  Cell key = text("hel", 1);
  Cell too_long = text("hello!", 1);
  Cell h = character('h');
  Cell number = integer_cell(72);
  EXPECT_TRUE(string::match_value(&s, &key, kCmpEqual));
  EXPECT_FALSE(string::match_value(&s, &key, kCmpStrictEqual));
  EXPECT_FALSE(string::match_value(&s, &too_long, kCmpEqual));
  EXPECT_TRUE(string::match_value(&s, &h, kCmpEqual));
  EXPECT_FALSE(string::match_value(&s, &h, kCmpStrictEqual));
  EXPECT_FALSE(string::match_value(&s, &number, kCmpEqual)) << "other types never match";
}

// --- mold and form ---------------------------------------------------------------------------

std::string molded(const Cell& s, bool all = false, int32_t part = string::detail::kNoPartLimit,
                   int32_t* left = nullptr) {
  stack::Guard guard;
  Cell* value = stack::push(s);
  Cell* out = string::push_new(16);
  int32_t r = actions::mold(value, out, false, all, false, nullptr, part, 0);
  if (left) *left = r;
  return utf8(*out);
}

TEST_F(StringTest, MoldEscapesAndChoosesItsDelimiters) {
  std::string forty_nine(49, 'a'), fifty(50, 'a');
  struct Case {
    std::string text;
    bool all;
    std::string expected;
  } cases[] = {
      {"abc", false, "\"abc\""},
      {"", false, "\"\""},
      {"a\tb", false, "\"a^-b\""},
      {"a\nb\nc", false, "\"a^/b^/c\""},
      {"a\nb\nc\nd", false, "{a^/b^/c^/d}"},
      {"say \"hi\"", false, "{say \"hi\"}"},
      {"a^b", false, "\"a^^b\""},
      {"{x}", false, "\"{x}\""},
      {"\"{x}", false, "{\"{x}}"},
      {"\"{a", false, "{\"^{a}"},
      {"\"{a{b}", false, "{\"^{a^{b^}}"},
      {"\"a}", false, "{\"a^}}"},
      {"\"{a{b}c}", false, "{\"{a{b}c}}"},
      {"\"^", false, "{\"^^}"},
      {std::string("\0\x1B\x1C\x1E\x1F\x7F", 6), false, "\"^@^[^\\^(1E)^_^~\""},
      {"\x01\x08\x0B\x1A\x1D", false, "\"^A^H^K^Z^]\""},
      {"é", false, "\"é\""},
      {"é", true, "\"^(E9)\""},
      {"\xC2\x85", false, "\"^(85)\""},
      {"\xC2\x80\xC2\x9F\xC2\xA0", false, "\"^(80)^(9F)\xC2\xA0\""},
      {"€😀", true, "\"^(20AC)^(1F600)\""},
      {"€", false, "\"€\""},
      {forty_nine, false, "\"" + forty_nine + "\""},
      {fifty, false, "{" + fifty + "}"},
  };
  for (const Case& c : cases) {
    uint32_t widest = 1;
    for (uint32_t cp : code_points(c.text)) widest = std::max(widest, unicode::unit_for(cp));
    for (uint32_t unit : {1u, 2u, 4u}) {
      if (unit < widest) continue;
      Cell s = c.text.empty() ? text("", unit) : text(c.text, unit);
      EXPECT_EQ(molded(s, c.all), c.expected) << "unit " << unit << " text " << c.text;
    }
  }
}

TEST_F(StringTest, MoldUnderAPartLimitWritesThePartAndCountsItsCharacters) {
  int32_t left = 0;
  EXPECT_EQ(molded(text("abcdef", 2, 1), false, 3, &left), "\"bcd\"");
  EXPECT_EQ(left, 3 - 3 - 2);
  EXPECT_EQ(molded(text("ab\"cd", 1), false, 2, &left), "\"ab\"") << "quotes count only in the range";
  EXPECT_EQ(molded(text(std::string(60, 'x'), 1), false, 2, &left), "{xx}")
      << "the whole length still chooses braces";
  EXPECT_EQ(molded(text("abc", 1), false, 0, &left), "\"\"");
  EXPECT_EQ(left, -2);
  EXPECT_EQ(molded(text("abc", 1), false, string::detail::kNoPartLimit, &left), "\"abc\"");
  EXPECT_EQ(left, string::detail::kNoPartLimit - 5);
}

TEST_F(StringTest, MoldCharIsTheEscapeRuleOfCharLiterals) {
  Cell* out = string::push_new(8);
  string::mold_char(out, '\t', false);
  string::mold_char(out, '"', false);
  string::mold_char(out, 0xE9, true);
  string::mold_char(out, 'z', true);
  EXPECT_EQ(utf8(*out), "^-^\"^(E9)z");
}

TEST_F(StringTest, FormCopiesTheTextWithinThePartLimit) {
  Cell* out = string::push_new(4);
  Cell* s = stack::push(text("h€llo", 2, 1));
  EXPECT_EQ(actions::form(s, out, nullptr, 2), 2 - 4);
  EXPECT_EQ(utf8(*out), "€l");
  EXPECT_EQ(unit_of(*out), 2u);
  actions::form(s, out, nullptr, string::detail::kNoPartLimit);
  EXPECT_EQ(utf8(*out), "€l€llo");
  EXPECT_EQ(actions::form_to_string(text("x\ny", 4)), "x\ny");
}

// --- compare -------------------------------------------------------------------------------

TEST_F(StringTest, CompareByOperator) {
  struct Case {
    const char* a;
    uint32_t unit_a;
    const char* b;
    uint32_t unit_b;
    int32_t op;
    int32_t expected;
  } cases[] = {
      {"abc", 1, "ABC", 2, kCmpEqual, 0},
      {"abc", 1, "ABC", 1, kCmpStrictEqual, 1},
      {"abc", 4, "abc", 1, kCmpStrictEqual, 0},
      {"ab", 1, "abc", 1, kCmpLesser, -1},
      {"ab", 1, "abc", 1, kCmpEqual, 1},
      {"abd", 1, "abc", 2, kCmpGreater, 1},
      {"b", 1, "A", 1, kCmpSort, 1},
      {"B", 1, "a", 1, kCmpSort, 1},
      {"B", 1, "a", 1, kCmpCaseSort, -1},
      {"é", 1, "É", 2, kCmpEqual, 0},
      {"é", 1, "É", 2, kCmpStrictEqual, 1},
      {"a", 1, "", 1, kCmpLesser, 1},
      {"", 1, "a", 1, kCmpLesser, -1},
      {"", 1, "", 4, kCmpEqual, 0},
      {"abc", 1, "ABC", 1, kCmpFind, 0},
      {"abc", 1, "abc", 1, kCmpSame, -1},
      {"😀b", 4, "😀a", 4, kCmpGreaterOrEqual, 1},
      {"abc", 2, "ABC", 1, kCmpNotEqual, 0},
      {"ab", 1, "abc", 4, kCmpNotEqual, 1},
      {"abc", 1, "ABD", 1, kCmpLesserOrEqual, -1},
      {"b", 1, "a€", 2, kCmpLesser, 1},
  };
  for (const Case& c : cases) {
    Cell* a = stack::push(text(c.a, c.unit_a));
    Cell* b = stack::push(text(c.b, c.unit_b));
    EXPECT_EQ(actions::compare_value(a, b, c.op), c.expected) << c.a << " op " << c.op << " " << c.b;
  }
}

TEST_F(StringTest, EqualityRulesBetweenStringsAndOtherValues) {
  Cell* s = stack::push(text("abc", 1));
  Cell* same = stack::push(*s);
  Cell* file = stack::push(text("ABC", 1, 0, TYPE_FILE));
  Cell* number = stack::push(integer_cell(1));
  EXPECT_EQ(actions::compare_value(s, same, kCmpSame), 0);
  EXPECT_TRUE(actions::compare(s, file, kCmpEqual)) << "text of another string type compares as text";
  EXPECT_EQ(actions::compare_value(s, file, kCmpStrictEqual), kNotComparable);
  EXPECT_EQ(actions::compare_value(s, file, kCmpLesser), kNotComparable);
  EXPECT_FALSE(actions::compare(s, number, kCmpEqual));
  EXPECT_EQ(catch_error([&] { actions::compare(s, number, kCmpLesser); }), ErrorId::script_invalid_compare);
}

TEST_F(StringTest, CompareStringsInMatchMode) {
  Cell s = text("abcd", 1);
  Cell key = text("AB", 2);
  Cell empty = text("", 1);
  EXPECT_EQ(string::compare_strings(&s, &key, kCmpEqual, true), 0);
  EXPECT_EQ(string::compare_strings(&s, &empty, kCmpEqual, true), 0);
  EXPECT_EQ(string::compare_strings(&s, &empty, kCmpFind, true), 1);
  Cell longer = text("abcde", 1);
  EXPECT_EQ(string::compare_strings(&s, &longer, kCmpEqual, true), 1);
}

// --- make and to ---------------------------------------------------------------------------

// The string! handler, also for its child types (which inherit it).
template <Action A>
Cell convert(TypeId type, const Cell& spec) {
  ActionFrame frame;
  Cell* proto = frame.arg(datatype::make(type));
  Cell* argument = frame.arg(spec);
  return *action_handler<A>(TYPE_STRING)(proto, argument, type);
}

TEST_F(StringTest, MakeWithANumberGivesAnEmptyStringOfThatCapacity) {
  Cell made = convert<Action::make>(TYPE_STRING, integer_cell(100));
  EXPECT_TRUE(made.is(TYPE_STRING));
  EXPECT_EQ(string::rs_length(&made), 0u);
  EXPECT_GE(string::buffer_of(&made)->size, 100u);
  Cell zero = convert<Action::make>(TYPE_STRING, integer_cell(0));
  EXPECT_GE(string::buffer_of(&zero)->size, 16u);
  EXPECT_EQ(catch_error([] { convert<Action::make>(TYPE_STRING, integer_cell(-1)); }),
            ErrorId::script_out_of_range);
}

TEST_F(StringTest, ToStringConvertsBySpecType) {
  Cell copy = convert<Action::to>(TYPE_STRING, text("a€c", 2, 1));
  EXPECT_EQ(utf8(copy), "€c");
  EXPECT_EQ(copy.data1, 0u);

  Cell as_file = convert<Action::to>(TYPE_FILE, text("dir", 1));
  EXPECT_TRUE(as_file.is(TYPE_FILE));

  Cell from_block = convert<Action::to>(TYPE_STRING, block({text("x", 1), make_cell(TYPE_NONE), text("y", 2)}));
  EXPECT_EQ(utf8(from_block), "xnoney") << "formed values without separators";

  Cell from_logic = convert<Action::to>(TYPE_STRING, make_cell(TYPE_LOGIC, 1));
  EXPECT_EQ(utf8(from_logic), "true");

  EXPECT_EQ(catch_error([] { convert<Action::to>(TYPE_STRING, make_cell(TYPE_NONE)); }),
            ErrorId::script_bad_to_arg);
}

TEST_F(StringTest, ToStringDecodesABinaryFromItsIndex) {
  Cell bytes = text("....", 1, 1, TYPE_BINARY);
  SeriesBuffer* b = string::buffer_of(&bytes);
  const uint8_t raw[] = {'x', 0xC3, 0xA9, '!'};
  std::memcpy(b->head_ptr(), raw, 4);
  b->tail = b->offset + 4;
  Cell decoded = convert<Action::to>(TYPE_STRING, bytes);
  EXPECT_EQ(utf8(decoded), "é!");
  b->head_ptr()[2] = 0xFF;
  EXPECT_EQ(catch_error([&] { convert<Action::to>(TYPE_STRING, bytes); }), ErrorId::access_invalid_utf8);
}

// --- eval-path -----------------------------------------------------------------------------

TEST_F(StringTest, IntegerPathElementsPickAndPoke) {
  if (!is_registered(TYPE_SERIES)) GTEST_SKIP() << "series! is not registered yet";
  auto eval_path = action_handler<Action::eval_path>(TYPE_STRING);
  Cell* s = stack::push(text("abc", 1));
  Cell* path = stack::push(make_cell(TYPE_NONE));
  Cell* two = stack::push(integer_cell(2));
  Cell* got = eval_path(s, two, nullptr, path, nullptr, nullptr, 0, false, true, false);
  EXPECT_TRUE(got->is(TYPE_CHAR));
  EXPECT_EQ(got->data2, uint32_t{'b'});
  Cell* euro = stack::push(character(0x20AC));
  eval_path(s, two, euro, path, nullptr, nullptr, 0, false, false, false);
  EXPECT_EQ(utf8(*s), "a€c");
  EXPECT_EQ(unit_of(*s), 2u);
}

TEST_F(StringTest, PathElementsSelectFindAndRefuseWords) {
  auto eval_path = action_handler<Action::eval_path>(TYPE_STRING);
  Cell* s = stack::push(text("a=1;b=2", 1));
  Cell* path = stack::push(make_cell(TYPE_NONE));
  Cell* key = stack::push(text("b=", 1));
  Cell* got = eval_path(s, key, nullptr, path, nullptr, nullptr, 0, false, true, false);
  EXPECT_TRUE(got->is(TYPE_CHAR));
  EXPECT_EQ(got->data2, uint32_t{'2'});

  Cell* missing = stack::push(text("c=", 1));
  EXPECT_TRUE(eval_path(s, missing, nullptr, path, nullptr, nullptr, 0, false, true, false)->is(TYPE_NONE));
  Cell* value = stack::push(character('9'));
  EXPECT_EQ(catch_error([&] { eval_path(s, missing, value, path, nullptr, nullptr, 0, false, false, false); }),
            ErrorId::script_bad_path_set);
  Cell* found = stack::push(text("a=", 1));
  if (is_registered(TYPE_SERIES)) {
    // The value goes to the second character of the match.
    eval_path(s, found, value, path, nullptr, nullptr, 0, false, false, false);
    EXPECT_EQ(utf8(*s), "a91;b=2");
  }
  Cell* word = stack::push(make_cell(TYPE_WORD));
  EXPECT_EQ(catch_error([&] { eval_path(s, word, nullptr, path, nullptr, nullptr, 0, false, true, false); }),
            ErrorId::script_invalid_path);
}

}  // namespace
}  // namespace kel
