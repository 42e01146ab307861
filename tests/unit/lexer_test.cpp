// The lexer: every literal form loads to its datatype and value, nesting,
// comments and line counting, each syntax error with its "(line N)", bad
// UTF-8, and the lexer's state after a failed load.
#include "io/lexer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/map.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/actions.h"
#include "runtime/memory.h"
#include "datatypes/runtime_words.h"
#include "runtime/series_tail.h"
#include "runtime/root_block.h"
#include "test_support.h"
#include "runtime/upcalls.h"

namespace kel {
namespace {

using LexerTest = testing::RuntimeTest;

const uint8_t* bytes_of(std::string_view text) { return reinterpret_cast<const uint8_t*>(text.data()); }

// Loads the text as a block, kept alive from the root block.
Cell load(std::string_view text) {
  Cell result;
  lexer::load(&result, bytes_of(text), static_cast<uint32_t>(text.size()));
  root::keep(result);
  return result;
}

uint32_t length_of(const Cell& block) { return memory::buffer_of(block.data2)->cell_count() - block.data1; }
const Cell& at(const Cell& block, uint32_t index) { return memory::buffer_of(block.data2)->cells()[block.data1 + index]; }

// The one value the text loads to.
Cell load_one(std::string_view text) {
  Cell block = load(text);
  EXPECT_EQ(length_of(block), 1u) << text;
  return length_of(block) > 0 ? at(block, 0) : make_cell(TYPE_NONE);
}

std::string mold(const Cell& value) { return actions::mold_to_string(value, false); }

// The message of the error that loading the text raises ("" when none):
// the catalog template with its arguments filled in.
std::string load_error(std::string_view text, ErrorId* id = nullptr) {
  auto caught = testing::catch_error([&] { load(text); });
  if (!caught) return "";
  if (id != nullptr) *id = *caught;
  const Cell& error = testing::last_error();
  std::string out;
  for (const char* p = error_info(*caught).template_source; *p != '\0';) {
    std::string text_part;
    if (*p == '"') {
      for (++p; *p != '\0' && *p != '"'; ++p) text_part += *p;
      if (*p != '\0') ++p;
    } else if (std::strncmp(p, ":arg", 4) == 0) {
      // Datatypes with their "!", the texts as they are.
      Cell argument = error_value::argument(error, p[4] - '0');
      text_part = argument.is(TYPE_DATATYPE) ? mold(argument) : actions::form_to_string(argument);
      p += 5;
    } else {
      ++p;
      continue;
    }
    if (!out.empty()) out += ' ';
    out += text_part;
  }
  return out;
}

std::string symbol_name(const Cell& word) { return std::string(symbol::name(word::symbol_of(word))); }

// --- Literal forms -----------------------------------------------------------------------

struct LiteralCase {
  const char* source;
  TypeId type;
  const char* mold;  // the value molded back
};

TEST_F(LexerTest, EveryLiteralFormLoadsToItsDatatypeAndMoldsBack) {
  const LiteralCase cases[] = {
      {"123", TYPE_INTEGER, "123"},
      {"-45", TYPE_INTEGER, "-45"},
      {"+7", TYPE_INTEGER, "7"},
      {"1'000'000", TYPE_INTEGER, "1000000"},
      {"1.5", TYPE_FLOAT, "1.5"},
      {"-0.25e2", TYPE_FLOAT, "-25.0"},
      {".5", TYPE_FLOAT, "0.5"},
      {"1.#INF", TYPE_FLOAT, "1.#INF"},
      {"-1.#inf", TYPE_FLOAT, "-1.#INF"},
      {"1.#NaN", TYPE_FLOAT, "1.#NaN"},
      {"50%", TYPE_PERCENT, "50%"},
      {"12.5%", TYPE_PERCENT, "12.5%"},
      {"#\"a\"", TYPE_CHAR, "#\"a\""},
      {"abc", TYPE_WORD, "abc"},
      {"abc:", TYPE_SET_WORD, "abc:"},
      {":abc", TYPE_GET_WORD, ":abc"},
      {"'abc", TYPE_LIT_WORD, "'abc"},
      {"/abc", TYPE_REFINEMENT, "/abc"},
      {"/", TYPE_WORD, "/"},
      {"+", TYPE_WORD, "+"},
      {"<=", TYPE_WORD, "<="},
      {"#abc", TYPE_ISSUE, "#abc"},
      {"\"abc\"", TYPE_STRING, "\"abc\""},
      {"{abc}", TYPE_STRING, "\"abc\""},
      {"%a/b.txt", TYPE_FILE, "%a/b.txt"},
      {"http://x.org/p?q=1", TYPE_URL, "http://x.org/p?q=1"},
      {"joe@x.org", TYPE_EMAIL, "joe@x.org"},
      {"<a href>", TYPE_TAG, "<a href>"},
      {"@name", TYPE_REF, "@name"},
      {"1.2.3", TYPE_TUPLE, "1.2.3"},
      {"255.0.0.128", TYPE_TUPLE, "255.0.0.128"},
      {"10x-20", TYPE_PAIR, "10x-20"},
      {"10:30", TYPE_TIME, "10:30:00"},
      {"-1:02:03", TYPE_TIME, "-1:02:03"},
      {"2024-01-15", TYPE_DATE, "15-Jan-2024"},
      {"#{0102FF}", TYPE_BINARY, "#{0102FF}"},
      {"FFh", TYPE_INTEGER, "255"},
      {"#(true)", TYPE_LOGIC, "true"},
      {"#(none)", TYPE_NONE, "none"},
      {"#(integer!)", TYPE_DATATYPE, "integer!"},
      {"$1.50", TYPE_MONEY, "$1.50"},
      {"-USD$1'000.25", TYPE_MONEY, "-USD$1000.25"},
      {"EUR$0.5", TYPE_MONEY, "EUR$0.50"},
      {"(1, 2)", TYPE_POINT2D, "(1, 2)"},
      {"( 1.5 , -2e2 )", TYPE_POINT2D, "(1.5, -200)"},
      {"(1, 2, 3)", TYPE_POINT3D, "(1, 2, 3)"},
      {"[]", TYPE_BLOCK, "[]"},
      {"()", TYPE_PAREN, "()"},
  };
  for (const LiteralCase& c : cases) {
    SCOPED_TRACE(c.source);
    Cell value = load_one(c.source);
    EXPECT_EQ(value.type(), c.type);
    EXPECT_EQ(mold(value), c.mold);
  }
}

struct NumberCase {
  const char* source;
  TypeId type;
  double value;
};

TEST_F(LexerTest, IntegersThatLeaveThe32BitRangeBecomeFloats) {
  const NumberCase cases[] = {
      {"2147483647", TYPE_INTEGER, 2147483647.0},
      {"-2147483648", TYPE_INTEGER, -2147483648.0},
      {"-2147483647", TYPE_INTEGER, -2147483647.0},
      {"-1000000000", TYPE_INTEGER, -1000000000.0},
      {"00000000001", TYPE_INTEGER, 1.0},
      {"2147483648", TYPE_FLOAT, 2147483648.0},
      {"-2147483649", TYPE_FLOAT, -2147483649.0},
      {"99999999999999", TYPE_FLOAT, 99999999999999.0},
      {"7FFFFFFFh", TYPE_INTEGER, 2147483647.0},
      {"FFFFFFFFh", TYPE_INTEGER, -1.0},
      {"0Ah", TYPE_INTEGER, 10.0},
  };
  for (const NumberCase& c : cases) {
    SCOPED_TRACE(c.source);
    Cell value = load_one(c.source);
    ASSERT_EQ(value.type(), c.type);
    double got = value.is(TYPE_INTEGER) ? static_cast<double>(value.int_at2()) : value.as_double();
    EXPECT_EQ(got, c.value);
  }
}

TEST_F(LexerTest, SpecialFloatsCarryTheirBits) {
  EXPECT_TRUE(std::isnan(load_one("1.#NaN").as_double()));
  EXPECT_EQ(load_one("-1.#INF").as_double(), -INFINITY);
  EXPECT_EQ(load_one("50%").as_double(), 0.5);
}

struct TextCase {
  const char* source;
  TypeId type;
  std::u32string text;  // the code points of the value
};

std::u32string code_points(const Cell& string) {
  std::u32string out;
  SeriesBuffer* buffer = memory::buffer_of(string.data2);
  uint32_t unit = buffer->unit();
  for (uint8_t* p = buffer->head_ptr(); p < buffer->tail_ptr(); p += unit) out += unicode::get_char(p, unit);
  return out;
}

TEST_F(LexerTest, StringsDecodeEscapesAndUtf8IntoTheNarrowestUnit) {
  const TextCase cases[] = {
      {"\"a^/b\"", TYPE_STRING, U"a\nb"},
      {"\"a^(line)b^(TAB)c\"", TYPE_STRING, U"a\nb\tc"},
      {"\"^(1F600)\"", TYPE_STRING, U"\U0001F600"},
      {"\"^(41)^(e9)\"", TYPE_STRING, U"A\u00E9"},
      {"\"^(null)^(back)^(page)^(esc)^(del)\"", TYPE_STRING, std::u32string(U"\0\b\f\x1B\x7F", 5)},
      {"\"^\"^-^^^~^@\"", TYPE_STRING, std::u32string(U"\"\t^\x7F\0", 5)},
      {"\"^a^Z^[\"", TYPE_STRING, U"\u0001\u001A\u001B"},
      {"\"^()\"", TYPE_STRING, std::u32string(1, U'\0')},
      {"\"caf\xC3\xA9\"", TYPE_STRING, U"caf\u00E9"},
      {"\"\xE2\x82\xAC\"", TYPE_STRING, U"\u20AC"},
      {"{a{b}c}", TYPE_STRING, U"a{b}c"},
      {"{a^}b}", TYPE_STRING, U"a}b"},
      {"{line1\nline2}", TYPE_STRING, U"line1\nline2"},
      {"%{raw ^/ text}%", TYPE_STRING, U"raw ^/ text"},
      {"%%{a}%b}%%", TYPE_STRING, U"a}%b"},
      {"%%{x}% y}%%", TYPE_STRING, U"x}% y"},
      {"%\"a^\"b\"", TYPE_FILE, U"a\"b"},
      {"%\"my file^^.txt\"", TYPE_FILE, U"my file^.txt"},
      {"%a^b", TYPE_FILE, U"a^b"},
      {"%a%20b", TYPE_FILE, U"a b"},
      {"http://x/a%C3%A9", TYPE_URL, U"http://x/a\u00E9"},
      {"http://x/%C3%28", TYPE_URL, U"http://x/\u00C3("},
      {"<a \"b>\">", TYPE_TAG, U"a \"b>\""},
      {"@caf\xC3\xA9", TYPE_REF, U"caf\u00E9"},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.source);
    Cell value = load_one(c.source);
    ASSERT_EQ(value.type(), c.type);
    EXPECT_EQ(code_points(value), c.text);
  }
  EXPECT_EQ(memory::buffer_of(load_one("\"caf\xC3\xA9\"").data2)->unit(), 1u) << "Latin-1 text stays in 1-byte units";
  EXPECT_EQ(memory::buffer_of(load_one("\"\xE2\x82\xAC\"").data2)->unit(), 2u);
  EXPECT_EQ(memory::buffer_of(load_one("\"^(1F600)\"").data2)->unit(), 4u);
}

TEST_F(LexerTest, CharsTakeOneCharacterOrOneEscape) {
  const std::pair<const char*, uint32_t> cases[] = {
      {"#\"a\"", 'a'},        {"#\"^/\"", '\n'},        {"#\"^(line)\"", '\n'}, {"#\"^\"\"", '"'},
      {"#\"\xC3\xA9\"", 0xE9}, {"#\"^(1F600)\"", 0x1F600}, {"#\"^(10FFFF)\"", 0x10FFFF},
  };
  for (const auto& [source, code_point] : cases) {
    SCOPED_TRACE(source);
    Cell value = load_one(source);
    ASSERT_EQ(value.type(), TYPE_CHAR);
    EXPECT_EQ(value.data2, code_point);
  }
}

TEST_F(LexerTest, WordsAreInternedAndBoundInTheGlobalContext) {
  Cell block = load("print Print 'print :print print: #print /print");
  ASSERT_EQ(length_of(block), 7u);
  uint32_t print = word::symbol_of(at(block, 0));
  EXPECT_NE(word::symbol_of(at(block, 1)), print) << "the case variant keeps its spelling";
  EXPECT_EQ(symbol::resolve(word::symbol_of(at(block, 1))), print);
  for (uint32_t i : {2u, 3u, 4u, 5u, 6u}) EXPECT_EQ(word::symbol_of(at(block, i)), print) << i;
  EXPECT_NE(word::context_of(at(block, 0)), 0u);
  EXPECT_EQ(word::index_of(at(block, 5)), -1) << "issues are never bound";
  EXPECT_EQ(symbol_name(load_one("caf\xC3\xA9")), "caf\xC3\xA9");
}

TEST_F(LexerTest, WideBlanksSeparateWordsButZeroWidthNonJoinerDoesNot) {
  Cell block = load("\xC2\xA0" "abc\xC2\xA0" "def\xE2\x80\x83" "ghi");
  ASSERT_EQ(length_of(block), 3u);
  EXPECT_EQ(symbol_name(at(block, 0)), "abc");
  EXPECT_EQ(symbol_name(at(block, 1)), "def");
  EXPECT_EQ(symbol_name(at(block, 2)), "ghi");
  EXPECT_EQ(length_of(load("a\xE2\x80\x8C" "b")), 1u) << "U+200C is part of the word";
  EXPECT_EQ(length_of(load("\xC2\xA0\xC2\xA0")), 0u) << "a token of blanks only is skipped";
}

struct DateCase {
  const char* source;
  const char* mold;
};

TEST_F(LexerTest, DatesInEveryForm) {
  const DateCase cases[] = {
      {"2024-01-15", "15-Jan-2024"},
      {"15-Jan-2024", "15-Jan-2024"},
      {"15/january/2024", "15-Jan-2024"},
      {"15-Jan-24", "15-Jan-2024"},
      {"1-1-99", "1-Jan-1999"},
      {"29-Feb-2024", "29-Feb-2024"},
      {"2024-01-15/10:30", "15-Jan-2024/10:30:00"},
      {"2024-01-15T10:30:15", "15-Jan-2024/10:30:15"},
      {"2024-01-15/10:30+2:00", "15-Jan-2024/10:30:00+02:00"},
      {"2024-01-15/10:30-05:30", "15-Jan-2024/10:30:00-05:30"},
      {"20240115T1030Z", "15-Jan-2024/10:30:00"},
      {"2024-W01-1", "1-Jan-2024"},
      {"2024-032", "1-Feb-2024"},
  };
  for (const DateCase& c : cases) {
    SCOPED_TRACE(c.source);
    Cell value = load_one(c.source);
    ASSERT_EQ(value.type(), TYPE_DATE);
    EXPECT_EQ(mold(value), c.mold);
  }
}

TEST_F(LexerTest, TimesCountSeconds) {
  const std::pair<const char*, double> cases[] = {
      {"1:30", 5400.0}, {"1:30.5", 90.5}, {"1:02:03.25", 3723.25}, {"-0:30", -1800.0}, {"100:00", 360000.0},
  };
  for (const auto& [source, seconds] : cases) {
    SCOPED_TRACE(source);
    Cell value = load_one(source);
    ASSERT_EQ(value.type(), TYPE_TIME);
    EXPECT_DOUBLE_EQ(value.as_double(), seconds);
  }
}

TEST_F(LexerTest, BinariesInEachBaseWithBlanksAndComments) {
  const std::pair<const char*, const char*> cases[] = {
      {"#{}", "#{}"},
      {"#{0a 0B\n ff ; a comment\n 10}", "#{0A0BFF10}"},
      {"2#{00000001 11111111}", "#{01FF}"},
      {"64#{AQL/}", "#{0102FF}"},
      {"64#{AQI=}", "#{0102}"},
      {"16#{CAFE}", "#{CAFE}"},
  };
  for (const auto& [source, molded] : cases) {
    SCOPED_TRACE(source);
    Cell value = load_one(source);
    ASSERT_EQ(value.type(), TYPE_BINARY);
    EXPECT_EQ(mold(value), molded);
  }
}

// --- Structure -----------------------------------------------------------------------------

TEST_F(LexerTest, BlocksParensAndPathsNest) {
  const std::pair<const char*, const char*> cases[] = {
      {"[a [b c] (d e)]", "[a [b c] (d e)]"},
      {"[[[]]]", "[[[]]]"},
      {"a/b/c", "a/b/c"},
      {"a/b:", "a/b:"},
      {"'a/b", "'a/b"},
      {":a/b", ":a/b"},
      {"a/1/\"s\"", "a/1/\"s\""},
      {"a/(b c)/d", "a/(b c)/d"},
      {"a/(b/c)", "a/(b/c)"},
      {"a/:b", "a/:b"},
      {"[a/b]", "[a/b]"},
      {"(a/b c)", "(a/b c)"},
  };
  for (const auto& [source, molded] : cases) {
    SCOPED_TRACE(source);
    EXPECT_EQ(mold(load_one(source)), molded);
  }
  EXPECT_EQ(load_one("a/b:").type(), TYPE_SET_PATH);
  EXPECT_EQ(load_one("'a/b").type(), TYPE_LIT_PATH);
  EXPECT_EQ(load_one(":a/b").type(), TYPE_GET_PATH);
  Cell block = load("a/b c");
  ASSERT_EQ(length_of(block), 2u) << "a blank ends the path";
  EXPECT_EQ(at(block, 0).type(), TYPE_PATH);
}

TEST_F(LexerTest, MapsLoadTheirKeysAndValues) {
  Cell map = load_one("#[a 1 \"k\" [x y] 2 #[b 3]]");
  ASSERT_EQ(map.type(), TYPE_MAP);
  EXPECT_EQ(map::size(map), 3);
  EXPECT_EQ(map::size(load_one("#[]")), 0);
  Cell block = load_one("[#[a #[b 1]] x]");
  ASSERT_EQ(length_of(block), 2u);
  EXPECT_EQ(at(block, 0).type(), TYPE_MAP);
}

TEST_F(LexerTest, CommentsAreSkippedAndNewLinesAreMarked) {
  Cell block = load("a ; comment\nb c\n\n  [d\n e]");
  ASSERT_EQ(length_of(block), 4u);
  EXPECT_FALSE(at(block, 0).new_line()) << "the first value of the text";
  EXPECT_TRUE(at(block, 1).new_line());
  EXPECT_FALSE(at(block, 2).new_line());
  EXPECT_TRUE(at(block, 3).new_line());
  EXPECT_FALSE(at(at(block, 3), 0).new_line());
  EXPECT_TRUE(at(at(block, 3), 1).new_line());
  EXPECT_FALSE(load_one("{a\nb}").new_line()) << "a multi-line string starts where its brace is";
  EXPECT_EQ(length_of(load("; only a comment")), 0u);
}

TEST_F(LexerTest, EmptyAndBlankInputLoadAnEmptyBlock) {
  for (const char* source : {"", "   ", "\n\n\t", "\r\n"}) {
    Cell block = load(source);
    EXPECT_TRUE(block.is(TYPE_BLOCK));
    EXPECT_EQ(length_of(block), 0u) << source;
  }
}

TEST_F(LexerTest, ANulByteEndsTheTextLikeItsEnd) {
  EXPECT_EQ(length_of(load(std::string_view("a b\0c d", 7))), 2u);
}

TEST_F(LexerTest, DeepNestingCostsNoStack) {
  constexpr int kDepth = 200000;
  std::string text(kDepth, '[');
  text += "x";
  text.append(kDepth, ']');
  Cell value = load_one(text);
  int depth = 0;
  while (value.is(TYPE_BLOCK)) {
    ++depth;
    ASSERT_EQ(length_of(value), 1u);
    value = at(value, 0);
  }
  EXPECT_EQ(depth, kDepth);
  EXPECT_TRUE(value.is(TYPE_WORD));
}

TEST_F(LexerTest, ALargeTextGrowsTheValueBuffer) {
  std::string text;
  for (int i = 0; i < 5000; ++i) text += "[" + std::to_string(i) + " w" + std::to_string(i % 7) + " \"s\"] ";
  Cell block = load(text);
  ASSERT_EQ(length_of(block), 5000u);
  EXPECT_EQ(mold(at(block, 4999)), "[4999 w1 \"s\"]");
}

// --- Errors ---------------------------------------------------------------------------------

struct ErrorCase {
  const char* source;
  ErrorId id;
  const char* message;
};

TEST_F(LexerTest, SyntaxErrorsNameTheLineAndQuoteTheText) {
  const ErrorCase cases[] = {
      {"[a b", ErrorId::syntax_missing, "(line 1) missing ] at [a b"},
      {"a b]", ErrorId::syntax_missing, "(line 1) missing [ at ]"},
      {"(a]", ErrorId::syntax_missing, "(line 1) missing ) at (a]"},
      {"[a)", ErrorId::syntax_missing, "(line 1) missing ] at [a)"},
      {"(a", ErrorId::syntax_missing, "(line 1) missing ) at (a"},
      {"\"abc", ErrorId::syntax_invalid, "(line 1) invalid string! at \"abc"},
      {"\"ab\ncd\"", ErrorId::syntax_invalid, "(line 1) invalid string! at \"ab"},
      {"{abc", ErrorId::syntax_invalid, "(line 1) invalid string! at {abc"},
      {"x {a{b}", ErrorId::syntax_invalid, "(line 1) invalid string! at {a{b}"},
      {"\"^(1234567)\"", ErrorId::syntax_invalid, "(line 1) invalid string! at \"^(1234567)\""},
      {"\"^(110000)\"", ErrorId::syntax_invalid, "(line 1) invalid string! at \"^(110000)\""},
      {"\"^(lin)\"", ErrorId::syntax_invalid, "(line 1) invalid string! at \"^(lin)\""},
      {"1''0", ErrorId::syntax_invalid, "(line 1) invalid integer! at 1''0"},
      {"12a", ErrorId::syntax_invalid, "(line 1) invalid integer! at 12a"},
      {"#", ErrorId::syntax_invalid, "(line 1) invalid issue! at #"},
      {"'foo:", ErrorId::syntax_invalid, "(line 1) invalid lit-word! at 'foo:"},
      {":foo:", ErrorId::syntax_invalid, "(line 1) invalid word! at :foo:"},
      {"a/b/", ErrorId::syntax_invalid, "(line 1) invalid path! at a/b/"},
      {"a/b:/c", ErrorId::syntax_invalid, "(line 1) invalid path! at a/b:/c"},
      {"#(foo)", ErrorId::syntax_malconstruct, "(line 1) invalid construction spec at #(foo)"},
      {"#(true )", ErrorId::syntax_malconstruct, "(line 1) invalid construction spec at #(true )"},
      {"}", ErrorId::syntax_bad_char, "(line 1) invalid character at }"},
      {"a \\b", ErrorId::syntax_bad_char, "(line 1) invalid character at \\b"},
      {"#[a 1 b]", ErrorId::syntax_invalid, "(line 1) invalid map! at #[a 1 b]"},
      {"#[[a] 1]", ErrorId::syntax_invalid, "(line 1) invalid map! at #[[a] 1]"},
      {"#[a 1)", ErrorId::syntax_missing, "(line 1) missing ] at #[a 1)"},
      {"1.2.300", ErrorId::syntax_invalid, "(line 1) invalid tuple! at 1.2.300"},
      {"1.2.", ErrorId::syntax_invalid, "(line 1) invalid tuple! at 1.2."},
      {"1..2", ErrorId::syntax_invalid, "(line 1) invalid float! at 1..2"},
      {"29-Feb-2023", ErrorId::syntax_invalid, "(line 1) invalid date! at 29-Feb-2023"},
      {"2024-13-01", ErrorId::syntax_invalid, "(line 1) invalid date! at 2024-13-01"},
      {"2024-01-15/24:00", ErrorId::syntax_invalid, "(line 1) invalid date! at 2024-01-15/24:00"},
      {"15-Ja-2024", ErrorId::syntax_invalid, "(line 1) invalid date! at 15-Ja-2024"},
      {"1:", ErrorId::syntax_invalid, "(line 1) invalid time! at 1:"},
      {"#\"ab\"", ErrorId::syntax_invalid, "(line 1) invalid char! at #\"ab\""},
      {"#\"\"", ErrorId::syntax_invalid, "(line 1) invalid char! at #\"\""},
      {"#{ABC}", ErrorId::syntax_invalid, "(line 1) invalid binary! at #{ABC}"},
      {"#{GG}", ErrorId::syntax_invalid, "(line 1) invalid binary! at #{GG}"},
      {"8#{00}", ErrorId::syntax_invalid, "(line 1) invalid binary! at 8#{00}"},
      {"2#{0101}", ErrorId::syntax_invalid, "(line 1) invalid binary! at 2#{0101}"},
      {"1.5x2", ErrorId::syntax_invalid, "(line 1) invalid pair! at 1.5x2"},
      {"1h", ErrorId::syntax_invalid, "(line 1) invalid integer! at 1h"},
      {"Ah", ErrorId::syntax_invalid, "(line 1) invalid word! at Ah"},
      {"123456789h", ErrorId::syntax_invalid, "(line 1) invalid integer! at 123456789h"},
      {"%{a}%%", ErrorId::syntax_invalid, "(line 1) invalid string! at %{a}%%"},
      {"%%{a}%", ErrorId::syntax_invalid, "(line 1) invalid string! at %%{a}%"},
      {"%\"abc", ErrorId::syntax_invalid, "(line 1) invalid file! at %\"abc"},
      {"a, b", ErrorId::syntax_invalid, "(line 1) invalid word! at a, b"},
      {"[1 , 2]", ErrorId::syntax_invalid, "(line 1) invalid point2D! at , 2]"},
      {"US$1", ErrorId::syntax_invalid, "(line 1) invalid money! at US$1"},
      {"XYZ$1", ErrorId::syntax_invalid, "(line 1) invalid money! at XYZ$1"},
      {"$1.", ErrorId::syntax_invalid, "(line 1) invalid money! at $1."},
      {"$1''0", ErrorId::syntax_invalid, "(line 1) invalid money! at $1''0"},
      {"$1.123456", ErrorId::syntax_invalid, "(line 1) invalid money! at $1.123456"},
      {"$123456789012345678", ErrorId::syntax_invalid, "(line 1) invalid money! at $123456789012345678"},
      {"(1, 2, 3, 4)", ErrorId::syntax_invalid, "(line 1) invalid point3D! at (1, 2, 3, 4)"},
      {"(1, 2", ErrorId::syntax_invalid, "(line 1) invalid point2D! at 1, 2"},
      {"(a , b)", ErrorId::syntax_invalid, "(line 1) invalid point2D! at (a , b)"},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.source);
    ErrorId id{};
    EXPECT_EQ(load_error(c.source, &id), c.message);
    EXPECT_EQ(id, c.id);
  }
}

// The line an error names is the line the scan has reached: the line of
// the token at fault, and for an unclosed block or string at the end of the
// input, the last line. Line feeds inside strings, comments and binaries
// count; a carriage return alone does not.
TEST_F(LexerTest, TheLineNumberIsTheLineTheScanReached) {
  const std::pair<const char*, const char*> cases[] = {
      {"a\nb\n1''0", "(line 3) invalid integer! at 1''0"},
      {"{x\ny\nz} 1''0", "(line 3) invalid integer! at 1''0"},
      {"%{x\ny}% 1''0", "(line 2) invalid integer! at 1''0"},
      {"%%{x\n}%\ny}%% 1''0", "(line 3) invalid integer! at 1''0"},
      {"\"a\" ; c\n[\n  b\n  1''0]", "(line 4) invalid integer! at 1''0]"},
      {"#{00\n11\n} 1''0", "(line 3) invalid integer! at 1''0"},
      // The quoted text starts at the opening bracket or brace; the line is
      // where the input ended. (These named the opening's line before.)
      {"[\n a\n b", "(line 3) missing ] at ["},
      {"a\n\n{x\ny", "(line 4) invalid string! at {x"},
      {"[1 2\n3)", "(line 2) missing ] at [1 2"},
      {"a\r1''0", "(line 1) invalid integer! at 1''0"},
      {"a\r\n1''0", "(line 2) invalid integer! at 1''0"},
  };
  for (const auto& [source, message] : cases) {
    SCOPED_TRACE(source);
    EXPECT_EQ(load_error(source), message);
  }
}

TEST_F(LexerTest, TheQuotedTextStopsAtTheLineEndAndAfterThirtyBytes) {
  EXPECT_EQ(load_error("[abc\ndef"), "(line 2) missing ] at [abc");
  EXPECT_EQ(load_error("[" + std::string(50, 'x')), "(line 1) missing ] at [" + std::string(29, 'x'));
  // A code point that crosses the thirtieth byte is quoted whole.
  std::string text = "[" + std::string(28, 'x') + "\xE2\x82\xAC" + "yyy";
  EXPECT_EQ(load_error(text), "(line 1) missing ] at [" + std::string(28, 'x') + "\xE2\x82\xAC");
}

// Malformed UTF-8 is bad text like any other: the token it stands in is
// invalid, a byte no token may start with is a bad character, and the error
// names its line. (The whole input used to be refused up front with an
// access error that named no line.) The quoted text stops before the
// malformed bytes, so it never holds them.
TEST_F(LexerTest, MalformedUtf8MakesItsTokenInvalid) {
  const std::tuple<const char*, ErrorId, const char*> cases[] = {
      {"a \xFF b", ErrorId::syntax_bad_char, "(line 1) invalid character at "},
      {"1\n\x80", ErrorId::syntax_bad_char, "(line 2) invalid character at "},
      {"\xC0\xAF", ErrorId::syntax_bad_char, "(line 1) invalid character at "},
      {"\"abc\xC3\"", ErrorId::syntax_invalid, "(line 1) invalid string! at \"abc"},
      {"x\n\"a\x80" "b\"", ErrorId::syntax_invalid, "(line 2) invalid string! at \"a"},
      {"{ok\n\xF5\x80\x80\x80}", ErrorId::syntax_invalid, "(line 2) invalid string! at {ok"},
      {"\xC3", ErrorId::syntax_invalid, "(line 1) invalid word! at "},
      {"a \xED\xA0\x80", ErrorId::syntax_invalid, "(line 1) invalid word! at "},
      {"ab\x80", ErrorId::syntax_invalid, "(line 1) invalid word! at ab"},
      {"/a\x80", ErrorId::syntax_invalid, "(line 1) invalid refinement! at /a"},
      {"#a\xC3 b", ErrorId::syntax_invalid, "(line 1) invalid issue! at #a"},
      {"<a\x80>", ErrorId::syntax_invalid, "(line 1) invalid tag! at <a"},
      {"%a\x80", ErrorId::syntax_invalid, "(line 1) invalid file! at %a"},
      {"a@b\x80", ErrorId::syntax_invalid, "(line 1) invalid email! at a@b"},
      {"#\"\x80\"", ErrorId::syntax_invalid, "(line 1) invalid char! at #\""},
      {"#{0\x80}", ErrorId::syntax_invalid, "(line 1) invalid binary! at #{0"},
  };
  for (const auto& [source, id, message] : cases) {
    SCOPED_TRACE(source);
    ErrorId raised{};
    EXPECT_EQ(load_error(source, &raised), message);
    EXPECT_EQ(raised, id);
  }
  // A comment is no token: its text is skipped, not decoded.
  EXPECT_EQ(mold(load_one("; comment \x80\nb")), "b");
}

// A NUL byte between tokens ends the text like the end of the input: what
// follows it is never read, malformed or not.
TEST_F(LexerTest, ANulBetweenTokensEndsTheText) {
  const std::pair<std::string_view, const char*> cases[] = {
      {std::string_view("1\0\xFF", 3), "[1]"},
      {std::string_view("a \0 [", 5), "[a]"},
      {std::string_view("\0x", 2), "[]"},
  };
  for (const auto& [source, expected] : cases) {
    SCOPED_TRACE(std::string(source));
    EXPECT_EQ(mold(load(source)), expected);
  }
  // Inside a token it is no end: the token is cut short and invalid.
  EXPECT_EQ(load_error(std::string_view("\"a\0b\"", 5)), "(line 1) invalid string! at \"a");
}

TEST_F(LexerTest, AFailedLoadLeavesTheLexerReadyForTheNextOne) {
  const char* failing[] = {"[a [b (c", "{open", "a/b/", "\"^(zz)\"", "\xFF", "#[a]"};
  for (const char* source : failing) {
    SCOPED_TRACE(source);
    EXPECT_NE(load_error(source), "");
    EXPECT_EQ(lexer::active_scans(), 0u);
    EXPECT_EQ(mold(load("[x (y) {z}]")), "[[x (y) \"z\"]]");
  }
}

// --- Modes -----------------------------------------------------------------------------------

TEST_F(LexerTest, AScanThatDoesNotDeliverEndsQuietlyOnBadText) {
  lexer::ScanOptions check;
  check.output = false;
  Cell result = make_cell(TYPE_UNSET);
  for (const char* source : {"[a b", "1''0", "\xFF", "{x", "a b]"}) {
    SCOPED_TRACE(source);
    EXPECT_EQ(lexer::scan(&result, bytes_of(source), static_cast<uint32_t>(std::strlen(source)), check),
              TYPE_ERROR);
  }
  EXPECT_EQ(lexer::active_scans(), 0u);
  lexer::ScanOptions quick;
  quick.load = false;
  std::string_view open_block = "[a b";
  EXPECT_EQ(lexer::scan(&result, bytes_of(open_block), 4, quick), TYPE_ERROR);
  EXPECT_TRUE(result.is(TYPE_NONE)) << "an unclosed block gives none";
}

TEST_F(LexerTest, SingleTokenModeStopsAfterOneValueAndReportsHowFarItGot) {
  lexer::ScanOptions one;
  one.single_token = true;
  const std::tuple<const char*, TypeId, int32_t> cases[] = {
      {"abc def", TYPE_WORD, 3},
      {"  [a b] c", TYPE_BLOCK, 7},
      {"; note\n12 13", TYPE_INTEGER, 9},
      {"a/b c", TYPE_PATH, 3},
      {"{x} y", TYPE_STRING, 3},
      {"\"s\"", TYPE_STRING, 3},
  };
  for (const auto& [source, type, position] : cases) {
    SCOPED_TRACE(source);
    Cell value;
    int32_t reached = -1;
    EXPECT_EQ(lexer::scan(&value, bytes_of(source), static_cast<uint32_t>(std::strlen(source)), one, &reached), type);
    EXPECT_EQ(value.type(), type);
    EXPECT_EQ(reached, position);
  }
}

TEST_F(LexerTest, AQuickScanFindsTheDatatypeWithoutBuilding) {
  lexer::ScanOptions quick;
  quick.load = false;
  quick.single_token = true;
  const std::pair<const char*, TypeId> cases[] = {
      {"12", TYPE_INTEGER}, {"a:", TYPE_SET_WORD}, {"[a b]", TYPE_BLOCK}, {"a/b", TYPE_PATH},
      {"1.2.3", TYPE_TUPLE}, {"\"s\"", TYPE_STRING}, {"12a", TYPE_ERROR},
  };
  for (const auto& [source, type] : cases) {
    SCOPED_TRACE(source);
    Cell result;
    EXPECT_EQ(lexer::scan(&result, bytes_of(source), static_cast<uint32_t>(std::strlen(source)), quick), type);
  }
}

TEST_F(LexerTest, AQuickScanOfAWholeTextEndsWhateverTheText) {
  lexer::ScanOptions quick;
  quick.load = false;
  // A word followed by a wide blank once made the quick scan spin (found by
  // the fuzzer).
  const char* texts[] = {"[a [b (d e\xE2\x80\x83)%#[k 1]]] (f, g) (1, 2)]", "50% <t> #\"c\" x", "a\xC2\xA0 b"};
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    Cell result;
    int32_t reached = 0;
    lexer::scan(&result, bytes_of(text), static_cast<uint32_t>(std::strlen(text)), quick, &reached);
    EXPECT_GT(reached, 0);
  }
}

TEST_F(LexerTest, WordConversionsAskTheLexerWhatANameIs) {
  const std::pair<const char*, TypeId> cases[] = {
      {"abc", TYPE_WORD}, {"abc:", TYPE_SET_WORD}, {"12", TYPE_INTEGER}, {"a b", 0}, {"", 0}, {"1''0", 0},
  };
  for (const auto& [name, type] : cases) {
    SCOPED_TRACE(name);
    Cell word = word::make_value(symbol::make(name), 0, -1);
    EXPECT_EQ(word::lex_type(word), type);
  }
}

TEST_F(LexerTest, AppendingToATargetBlockKeepsItsValues) {
  Cell target = load("x");
  lexer::ScanOptions into;
  into.target = &target;
  std::string_view text = "y [z]";
  lexer::scan(nullptr, bytes_of(text), static_cast<uint32_t>(text.size()), into);
  EXPECT_EQ(mold(target), "[x y [z]]");
}

TEST_F(LexerTest, ScanningAStringCountsCharactersAndReadsWideUnits) {
  Cell source;
  std::string_view text = "\xF0\x9F\x98\x80 \"\xE2\x82\xAC\" rest";
  string::load(bytes_of(text), static_cast<uint32_t>(text.size()), &source, string::kEncodingUtf8);
  root::keep(source);
  ASSERT_EQ(memory::buffer_of(source.data2)->unit(), 4u);
  lexer::ScanOptions one;
  one.single_token = true;
  Cell value;
  int32_t reached = 0;
  EXPECT_EQ(lexer::scan_string(&value, &source, -1, one, &reached), TYPE_WORD);
  EXPECT_EQ(reached, 1) << "one character, four bytes";
  source.data1 = 2;
  EXPECT_EQ(lexer::scan_string(&value, &source, -1, one, &reached), TYPE_STRING);
  EXPECT_EQ(code_points(value), U"\u20AC");
  EXPECT_EQ(reached, 3);
  Cell all;
  lexer::scan_string(&all, &source, 3, lexer::ScanOptions{}, nullptr);
  EXPECT_EQ(length_of(all), 1u) << "a length limits the text scanned";
}

// --- Events ----------------------------------------------------------------------------------

struct Recorded {
  std::string event;
  TypeId type;
  int32_t index;
  Cell token;
};
std::vector<Recorded> recorded;
std::vector<std::string> event_list;  // the events named at the head of the callback's body
int32_t move_to = -1;                 // where the callback moves its input on an error event
bool accept_errors = true;            // the callback's answer to an error event
bool accept_prescans = true;          // its answer to a prescan event
// Run inside the callback on a load event, when set.
void (*on_load)(const Cell& value) = nullptr;

std::string word_text(const Cell& word) { return std::string(symbol::name(word::symbol_of(word))); }

bool record_call(const Cell&, Cell* arguments) {
  TypeId type = arguments[2].is(TYPE_DATATYPE) ? arguments[2].data1 : 0;
  std::string event = word_text(arguments[0]);
  recorded.push_back({event, type, static_cast<int32_t>(arguments[1].data1), arguments[4]});
  if (event == "load" && on_load != nullptr) on_load(arguments[4]);
  if (event == "prescan") return accept_prescans;
  if (event == "error") {
    if (move_to >= 0) arguments[1].data1 = static_cast<uint32_t>(move_to);
    move_to = -1;
    return accept_errors;
  }
  return true;
}

bool record_body(const Cell&, Cell* out) {
  if (event_list.empty()) return false;
  Cell block = make_cell(TYPE_BLOCK, 0, memory::alloc_cells(8), 0);
  for (const std::string& name : event_list) {
    Cell word;
    word::make_at(symbol::make(name), &word);
    append_value(&block, word);
  }
  root::keep(block);
  *out = block;
  return true;
}

class LexerEventTest : public LexerTest {
 protected:
  void SetUp() override {
    LexerTest::SetUp();
    installed_call_ = upcalls::table.lexer_callback;
    installed_body_ = upcalls::table.lexer_first_body_value;
    upcalls::table.lexer_callback = record_call;
    upcalls::table.lexer_first_body_value = record_body;
    recorded.clear();
    event_list.clear();
    move_to = -1;
    accept_errors = true;
    accept_prescans = true;
    on_load = nullptr;
  }
  // Scans the text as a string source with the recording callback.
  Cell scan_traced(std::string_view text) {
    Cell source;
    string::load(bytes_of(text), static_cast<uint32_t>(text.size()), &source, string::kEncodingUtf8);
    root::keep(source);
    Cell callback = make_cell(TYPE_NONE);
    lexer::ScanOptions traced;
    traced.callback = &callback;
    Cell result = make_cell(TYPE_NONE);
    lexer::scan_string(&result, &source, -1, traced, nullptr);
    return result;
  }
  std::string events() const {
    std::string out;
    for (const Recorded& r : recorded) {
      if (!out.empty()) out += ' ';
      out += r.event;
      if (r.type != 0) out += std::string(":") + datatype_name(r.type);
    }
    return out;
  }
  void TearDown() override {
    upcalls::table.lexer_callback = installed_call_;
    upcalls::table.lexer_first_body_value = installed_body_;
    LexerTest::TearDown();
  }

 private:
  upcalls::LexerCallback installed_call_ = nullptr;
  upcalls::LexerFirstBodyValue installed_body_ = nullptr;
};

TEST_F(LexerEventTest, EveryEventReachesACallbackWithoutAnEventList) {
  scan_traced("[a]");
  EXPECT_EQ(events(), "prescan:block! open:block! prescan:word! scan:word! load:word! prescan:block! close:block!");
}

TEST_F(LexerEventTest, AnEventListAtTheHeadOfTheBodySelectsTheEvents) {
  event_list = {"open", "close", "error"};
  scan_traced("[a {b} (c)]");
  EXPECT_EQ(events(), "open:block! open:string! close:string! open:paren! close:paren! close:block!");
  EXPECT_EQ(recorded[1].index, 3) << "an open event reports the position of its delimiter";
  EXPECT_EQ(recorded[2].index, 6) << "a close event reports the position after it";
}

TEST_F(LexerEventTest, ACallbackThatMovesItsInputMovesTheScan) {
  event_list = {"error"};
  move_to = 3;
  accept_errors = false;
  Cell result = scan_traced("a } b");
  EXPECT_EQ(events(), "error:error!");
  EXPECT_EQ(mold(result), "[a b]") << "the scan went on after the bad character";
}

TEST_F(LexerEventTest, AnErrorTheCallbackAcceptsIsRaisedAndOneItRefusesEndsTheScan) {
  event_list = {"error"};
  auto caught = testing::catch_error([&] { scan_traced("a } b"); });
  EXPECT_EQ(caught, ErrorId::syntax_bad_char);
  accept_errors = false;
  caught = testing::catch_error([&] { EXPECT_TRUE(scan_traced("a } b").is(TYPE_NONE)); });
  EXPECT_FALSE(caught.has_value());
  EXPECT_EQ(events(), "error:error! error:error!");
}

}  // namespace
}  // namespace kel

namespace kel {
namespace {

std::vector<Cell> marked;
void remember_marked(const Cell& cell) { marked.push_back(cell); }

TEST_F(LexerEventTest, TokensTheCallbackPassesOverAreSkippedWhole) {
  event_list = {"prescan"};
  accept_prescans = false;
  Cell result = scan_traced("a ] [b] 12 \"s\"");
  EXPECT_EQ(mold(result), "[]");
  EXPECT_EQ(events(), "prescan:word! prescan:block! prescan:block! prescan:word! prescan:block! prescan:integer! prescan:string!");
}

TEST_F(LexerEventTest, TheCollectorSeesTheValuesOfARunningScan) {
  event_list = {"load"};
  on_load = [](const Cell&) {
    marked.clear();
    lexer::mark_buffers(remember_marked);
  };
  scan_traced("alpha [beta]");
  // At the last load event (beta): the exit-state words, alpha, beta, the
  // source and the callback; the open block's marker is no value and is
  // not reported.
  ASSERT_EQ(marked.size(), 5u);
  EXPECT_EQ(word_text(marked[1]), "alpha");
  EXPECT_EQ(word_text(marked[2]), "beta");
  EXPECT_TRUE(marked[3].is(TYPE_STRING));
}

TEST_F(LexerEventTest, ACallbackMayStartAScanOfItsOwn) {
  event_list = {"load"};
  static std::string inner;
  on_load = [](const Cell&) {
    EXPECT_EQ(lexer::active_scans(), 1u);
    Cell nested = load("[x (y)] z");
    inner = mold(nested);
  };
  Cell outer = scan_traced("a [b c]");
  EXPECT_EQ(inner, "[[x (y)] z]");
  EXPECT_EQ(mold(outer), "[a [b c]]") << "the nested scan left the outer one's values alone";
  EXPECT_EQ(lexer::active_scans(), 0u);
}

TEST_F(LexerEventTest, AnErrorInABracedStringSpansFromItsOpeningBrace) {
  event_list = {"error"};
  accept_errors = false;
  scan_traced("ab {cd");
  ASSERT_EQ(recorded.size(), 1u);
  EXPECT_EQ(recorded[0].type, TYPE_STRING);
  EXPECT_EQ(recorded[0].index, 6) << "the input is at the end of the faulty text";
  ASSERT_TRUE(recorded[0].token.is(TYPE_PAIR));
  EXPECT_EQ(recorded[0].token.data2, 4u) << "the token starts at the brace (1-based)";
}

TEST_F(LexerEventTest, MovingOnFromAnUnclosedBracedStringReadsOnAsOrdinaryText) {
  // As a tracer does: on an error, go one character on and refuse.
  event_list = {"error"};
  accept_errors = false;
  move_to = 4;
  Cell result = scan_traced("ab {cd");
  EXPECT_EQ(mold(result), "[ab cd]");
}

}  // namespace
}  // namespace kel
