// Case folding: the simple one-to-one mapping of code points in both
// directions (BMP through the tables, supplementary planes through the pair
// lists) and the in-place conversion of char! values and strings, with its
// part argument and its widening of Latin-1 strings.
#include "runtime/case_folding.h"
#include "datatypes/case_change.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>

#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "runtime/stack.h"
#include "test_support.h"

namespace kel {
namespace {

using testing::RuntimeTest;

class CaseFoldingTest : public RuntimeTest {
 protected:
  // A string! on the evaluation stack holding the UTF-8 text, index 0.
  static Cell* make_string(const std::string& utf8) {
    Cell* cell = string::rs_make_at(stack::push_slot(), 8);
    string::append_utf8(cell, utf8);
    return cell;
  }
  // A Latin-1 (unit 1) string whose code points are the given bytes.
  static Cell* make_latin1_string(const std::string& bytes) {
    Cell* cell = string::rs_make_at(stack::push_slot(), 8);
    string::concatenate_literal_part(cell, bytes.data(), static_cast<uint32_t>(bytes.size()));
    return cell;
  }
  // The whole text of the string, whatever its index.
  static std::string whole_text(const Cell* s) {
    Cell head = *s;
    head.data1 = 0;
    return string::to_std_string(head);
  }
  static uint32_t unit_of(const Cell* s) { return string::buffer_of(s)->unit(); }

  void SetUp() override {
    RuntimeTest::SetUp();
    stack_guard_.emplace();  // only once the stack exists
  }
  void TearDown() override { stack_guard_.reset(); }

  std::optional<stack::Guard> stack_guard_;
};

TEST_F(CaseFoldingTest, MapsCodePointsToUpperAndLowerCase) {
  struct Case {
    uint32_t code_point, upper, lower;
  };
  const Case cases[] = {
      {'a', 'A', 'a'},
      {'Z', 'Z', 'z'},
      {0x00FF, 0x0178, 0x00FF},   // ÿ: upper case leaves Latin-1
      {0x0178, 0x0178, 0x00FF},
      {0x00B5, 0x039C, 0x00B5},   // micro sign upper-cases to Greek capital mu
      {0x01C5, 0x01C4, 0x01C6},   // title-case Dž has both partners
      {0xFF41, 0xFF21, 0xFF41},   // fullwidth, near the top of the BMP lists
      {0x10428, 0x10400, 0x10428},  // Deseret, first supplementary key
      {0x10400, 0x10400, 0x10428},
      {0x1E943, 0x1E921, 0x1E943},  // Adlam, last supplementary to-upper key
      {0x1E921, 0x1E921, 0x1E943},
      {'7', '7', '7'},
      {0x4E00, 0x4E00, 0x4E00},
      {0x0000, 0x0000, 0x0000},
      {0xFFFF, 0xFFFF, 0xFFFF},
      {0x10000, 0x10000, 0x10000},  // just above the BMP, below every key
      {0x10450, 0x10450, 0x10450},  // Shavian: inside the key range, no case
      {0x1E944, 0x1E944, 0x1E944},  // just above the last key
      {0x10FFFF, 0x10FFFF, 0x10FFFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "U+" << std::hex << c.code_point);
    EXPECT_EQ(case_folding::change_char(c.code_point, true), c.upper);
    EXPECT_EQ(case_folding::to_upper_char(c.code_point), c.upper);
    EXPECT_EQ(case_folding::change_char(c.code_point, false), c.lower);
    EXPECT_EQ(case_folding::to_lower_char(c.code_point), c.lower);
  }
}

TEST_F(CaseFoldingTest, ToggleGivesUpperCaseWhenItDiffersElseLowerCase) {
  struct Case {
    uint32_t code_point, toggled;
  };
  const Case cases[] = {
      {'a', 'A'}, {'A', 'a'}, {0x00FF, 0x0178}, {0x0178, 0x00FF},
      {0x01C5, 0x01C4},  // title case: its upper-case form wins
      {0x10400, 0x10428}, {0x10428, 0x10400}, {'5', '5'}, {0x4E00, 0x4E00},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "U+" << std::hex << c.code_point);
    EXPECT_EQ(case_folding::toggle_char(c.code_point), c.toggled);
  }
}

TEST_F(CaseFoldingTest, ChangesACharValueInPlace) {
  Cell value = make_cell(TYPE_CHAR, 0, 0x00FF);
  EXPECT_EQ(case_folding::change_case(&value, nullptr, true), &value);
  EXPECT_EQ(value.data2, 0x0178u);
  case_folding::change_case(&value, nullptr, false);
  EXPECT_EQ(value.data2, 0x00FFu);
}

TEST_F(CaseFoldingTest, UppercaseWidensALatin1StringAndKeepsConvertingAfterIt) {
  Cell* s = make_latin1_string("a\xFF" "bc");
  ASSERT_EQ(unit_of(s), 1u);
  EXPECT_EQ(case_folding::change_case(s, nullptr, true), s);
  EXPECT_EQ(unit_of(s), 2u);
  EXPECT_EQ(whole_text(s), "A\u0178BC");
}

TEST_F(CaseFoldingTest, ConvertsSupplementaryCharactersInAFourByteString) {
  Cell* s = make_string("\U00010400Ab\U0001E921");
  case_folding::change_case(s, nullptr, false);
  EXPECT_EQ(whole_text(s), "\U00010428ab\U0001E943");
  case_folding::change_case(s, nullptr, true);
  EXPECT_EQ(whole_text(s), "\U00010400AB\U0001E921");
}

TEST_F(CaseFoldingTest, ConvertsOnlyFromTheStringsIndex) {
  Cell* s = make_string("abcdef");
  s->data1 = 3;
  case_folding::change_case(s, nullptr, true);
  EXPECT_EQ(whole_text(s), "abcDEF");
  EXPECT_EQ(s->data1, 3u);
}

TEST_F(CaseFoldingTest, AnIndexPastTheTailMovesToTheTailAndChangesNothing) {
  Cell* s = make_string("abc");
  s->data1 = 10;
  case_folding::change_case(s, nullptr, true);
  EXPECT_EQ(s->data1, 3u);
  EXPECT_EQ(whole_text(s), "abc");
}

TEST_F(CaseFoldingTest, AnIntegerPartCountsFromTheIndexAndStopsAtTheTail) {
  struct Case {
    int32_t count;
    const char* expected;
  };
  const Case cases[] = {
      {2, "abCDef"},
      {4, "abCDEF"},    // exactly the rest
      {100, "abCDEF"},  // larger than the rest
      {0, "abcdef"},
      {-3, "abcdef"},   // a negative count changes nothing
      {INT32_MIN, "abcdef"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    Cell* s = make_string("abcdef");
    s->data1 = 2;
    Cell part = integer::make(c.count);
    case_folding::change_case(s, &part, true);
    EXPECT_EQ(whole_text(s), c.expected);
  }
}

TEST_F(CaseFoldingTest, ASeriesPartOfTheSameStringEndsTheRangeAtItsIndex) {
  struct Case {
    uint32_t part_index;
    const char* expected;
  };
  const Case cases[] = {
      {4, "abCDef"},
      {6, "abCDEF"},
      {50, "abCDEF"},  // a part index past the tail stops at the tail
      {2, "abcdef"},
      {1, "abcdef"},   // a part before the index changes nothing
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.part_index);
    Cell* s = make_string("abcdef");
    s->data1 = 2;
    Cell part = *s;
    part.data1 = c.part_index;
    case_folding::change_case(s, &part, true);
    EXPECT_EQ(whole_text(s), c.expected);
  }
}

TEST_F(CaseFoldingTest, APartOfAnotherSeriesOrTypeRaisesInvalidRefineArg) {
  Cell* s = make_string("abcdef");
  Cell* other = make_string("abcdef");
  Cell same_buffer_other_type = *s;
  same_buffer_other_type.set_type(TYPE_FILE);
  same_buffer_other_type.data1 = 3;
  const Cell bad_parts[] = {*other, same_buffer_other_type, make_cell(TYPE_NONE),
                            make_cell(TYPE_CHAR, 0, 'x')};
  for (const Cell& part : bad_parts) {
    SCOPED_TRACE(datatype_name(part.type()));
    auto error = testing::catch_error([&] { case_folding::change_case(s, &part, true); });
    ASSERT_EQ(error, ErrorId::script_invalid_refine_arg);
    EXPECT_EQ(error_value::argument(testing::last_error(), 1).type(), TYPE_REFINEMENT);
    Cell reported_part = error_value::argument(testing::last_error(), 2);
    EXPECT_EQ(reported_part.header, part.header);
    EXPECT_EQ(reported_part.data1, part.data1);
    EXPECT_EQ(reported_part.data2, part.data2);
    EXPECT_EQ(whole_text(s), "abcdef");
  }
}

TEST_F(CaseFoldingTest, AStringWithAnUnknownUnitEndsWithRuntimeError101) {
  Cell* s = make_string("abc");
  string::buffer_of(s)->set_unit(3);
  EXPECT_EXIT(case_folding::change_case(s, nullptr, true), ::testing::ExitedWithCode(101), "");
  string::buffer_of(s)->set_unit(1);
}

}  // namespace
}  // namespace kel
