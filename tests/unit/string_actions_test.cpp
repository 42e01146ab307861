// string! actions that search and edit: append, insert and change with
// their refinements and widening, find and select, trim, sort, swap, take,
// the set operations, and the series! actions strings inherit.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

#include "datatypes/string.h"
#include "datatypes/string_internal.h"
#include "runtime/stack.h"
#include "runtime/datatype_registry.h"
#include "string_test_helpers.h"
#include "test_support.h"
#include "runtime/upcalls.h"

namespace kel {
namespace {

using namespace string_testing;
using testing::catch_error;

class StringActions : public testing::RuntimeTest {
 protected:
  stack::Guard guard_;
};

Cell logic_true() { return make_cell(TYPE_LOGIC, 1); }

// --- append, insert, change ------------------------------------------------------------------

struct Edit {
  std::optional<Cell> part = std::nullopt;
  bool only = false;
  std::optional<Cell> dup = std::nullopt;
};

Cell edit(Action action, const Cell& series, const Cell& value, const Edit& options = {}) {
  ActionFrame frame;
  Cell* s = frame.arg(series);
  Cell* v = frame.arg(value);
  int part = frame.optional(options.part);
  int only = frame.optional(options.only);
  int dup = frame.optional(options.dup);
  switch (action) {
    case Action::append: return *action_handler<Action::append>(TYPE_STRING)(s, v, part, only, dup);
    case Action::insert: return *action_handler<Action::insert>(TYPE_STRING)(s, v, part, only, dup);
    default: return *action_handler<Action::change>(TYPE_STRING)(s, v, part, only, dup);
  }
}

struct EditCase {
  Action action;
  const char* target;
  uint32_t unit;
  uint32_t index;
  Cell value;
  Edit options;
  const char* expected;
  uint32_t expected_unit;
  const char* result;  // where the returned series stands
};

void run(const EditCase& c) {
  Cell target = text(c.target, c.unit, c.index);
  Cell result = edit(c.action, target, c.value, c.options);
  SCOPED_TRACE(std::string(action_word(c.action)) + " into \"" + c.target + "\" unit " + std::to_string(c.unit));
  EXPECT_EQ(whole(target), c.expected);
  EXPECT_EQ(unit_of(target), c.expected_unit);
  EXPECT_EQ(where(result), c.result);
}

TEST_F(StringActions, AppendAddsTextAtTheTailWideningAsNeeded) {
  EditCase cases[] = {
      {Action::append, "ab", 1, 1, text("cd"), {}, "abcd", 1, "abcd@0"},
      {Action::append, "ab", 1, 0, text("€", 2), {}, "ab€", 2, "ab€@0"},
      {Action::append, "a€", 2, 0, text("😀", 4), {{}, false, integer_cell(3)}, "a€😀😀😀", 4, "a€😀😀😀@0"},
      {Action::append, "ab", 1, 0, text("xyz"), {integer_cell(2)}, "abxy", 1, "abxy@0"},
      {Action::append, "ab", 1, 0, text("xy"), {{}, false, integer_cell(3)}, "abxyxyxy", 1, "abxyxyxy@0"},
      {Action::append, "ab", 1, 0, text("xy"), {{}, false, integer_cell(0)}, "abxy", 1, "abxy@0"},
      {Action::append, "ab", 1, 0, text(""), {}, "ab", 1, "ab@0"},
      {Action::append, "ab", 1, 0, character(0xE9), {}, "abé", 2, "abé@0"},
      {Action::append, "ab", 1, 0, character(0xE9), {{}, false, integer_cell(2)}, "abéé", 2, "abéé@0"},
      {Action::append, "ab", 1, 0, character(0x1F600), {}, "ab😀", 4, "ab😀@0"},
      {Action::append, "ab", 4, 0, character('c'), {}, "abc", 4, "abc@0"},
      {Action::append, "é", 1, 0, text("é", 1), {}, "éé", 1, "éé@0"},
      {Action::append, "a", 1, 0, text("b", 1, 0, TYPE_TAG), {}, "a<b>", 1, "a<b>@0"},
      {Action::append, "a", 1, 0, text("b", 1, 0, TYPE_TAG), {integer_cell(2)}, "a<b", 1, "a<b@0"},
  };
  for (const EditCase& c : cases) run(c);
}

TEST_F(StringActions, AppendFormsEachValueOfABlockWithoutSeparators) {
  Cell values = block({logic_true(), text("x", 2), make_cell(TYPE_NONE)});
  EditCase cases[] = {
      {Action::append, "", 1, 0, values, {}, "truexnone", 2, "truexnone@0"},
      {Action::append, "", 1, 0, values, {integer_cell(2)}, "truex", 2, "truex@0"},
      // With /only the part counts characters, and the last value is cut.
      {Action::append, "", 1, 0, values, {integer_cell(6), true}, "truexn", 2, "truexn@0"},
      {Action::append, ">", 1, 0, values, {{}, false, integer_cell(2)}, ">truexnonetruexnone", 2,
       ">truexnonetruexnone@0"},
  };
  for (const EditCase& c : cases) run(c);
}

TEST_F(StringActions, AppendFormsNumbersAndCharacters) {
  if (!is_registered(TYPE_INTEGER) || !is_registered(TYPE_CHAR)) GTEST_SKIP() << "integer! or char! missing";
  EditCase cases[] = {
      {Action::append, "", 1, 0, block({integer_cell(1), text("a"), character('b')}), {}, "1ab", 1, "1ab@0"},
      {Action::append, "x", 1, 0, integer_cell(-42), {}, "x-42", 1, "x-42@0"},
      {Action::append, "x", 1, 0, integer_cell(12345), {integer_cell(3)}, "x123", 1, "x123@0"},
  };
  for (const EditCase& c : cases) run(c);
}

TEST_F(StringActions, InsertAddsTextAtTheIndexAndReturnsThePositionAfterIt) {
  EditCase cases[] = {
      {Action::insert, "abc", 1, 1, text("XY"), {}, "aXYbc", 1, "bc@3"},
      {Action::insert, "abc", 1, 1, text("😀", 4), {}, "a😀bc", 4, "bc@2"},
      {Action::insert, "abc", 1, 3, text("d"), {}, "abcd", 1, "@4"},
      {Action::insert, "abc", 1, 9, text("d"), {}, "abcd", 1, "@4"},
      {Action::insert, "abc", 1, 0, text("xy"), {integer_cell(1), false, integer_cell(2)}, "xxabc", 1, "abc@2"},
      {Action::insert, "a€c", 2, 2, text("é", 1), {}, "a€éc", 2, "c@3"},
      {Action::insert, "abc", 2, 1, character(0xFF), {}, "aÿbc", 2, "bc@2"},
  };
  for (const EditCase& c : cases) run(c);
}

TEST_F(StringActions, InsertingAStringIntoItselfUsesItsTextBeforeTheChange) {
  for (uint32_t unit : {1u, 2u, 4u}) {
    Cell s = text("abc", unit, 1);
    Cell head = s;
    head.data1 = 0;
    Cell result = edit(Action::insert, s, head);
    EXPECT_EQ(whole(s), "aabcbc");
    EXPECT_EQ(result.data1, 4u);
  }
}

TEST_F(StringActions, ChangeReplacesCharactersFromTheIndex) {
  EditCase cases[] = {
      {Action::change, "abcd", 1, 1, text("XY"), {}, "aXYd", 1, "d@3"},
      {Action::change, "abcd", 1, 1, text("XY"), {integer_cell(1)}, "aXYcd", 1, "cd@3"},
      {Action::change, "abcd", 1, 1, text("X"), {integer_cell(3)}, "aX", 1, "@2"},
      {Action::change, "abcd", 1, 1, text("X"), {integer_cell(-4)}, "aXbcd", 1, "bcd@2"},
      {Action::change, "abcd", 2, 3, text("XYZ"), {}, "abcXYZ", 2, "@6"},
      {Action::change, "abcd", 1, 1, text("😀", 4), {integer_cell(2)}, "a😀d", 4, "d@2"},
      {Action::change, "café", 1, 3, text("😀", 4), {}, "caf😀", 4, "@4"},
      {Action::change, "café", 1, 1, text("€", 2), {}, "c€fé", 2, "fé@2"},
      {Action::change, "abcd", 1, 0, text("xy"), {integer_cell(1), false, integer_cell(2)}, "xyxybcd", 1, "bcd@4"},
      {Action::change, "abc", 1, 0, block({logic_true()}), {}, "true", 1, "@4"},
  };
  for (const EditCase& c : cases) run(c);
}

TEST_F(StringActions, ChangeUpToAPositionInTheSameString) {
  Cell s = text("abcd", 4, 1);
  Cell up_to = s;
  up_to.data1 = 3;
  Cell result = edit(Action::change, s, text("Z"), {up_to});
  EXPECT_EQ(whole(s), "aZd");
  EXPECT_EQ(where(result), "d@2");
  Cell elsewhere = text("abcd", 4, 3);
  EXPECT_EQ(catch_error([&] { edit(Action::change, s, text("Z"), {elsewhere}); }),
            ErrorId::script_invalid_refine_arg);
}

TEST_F(StringActions, ADupCountWhoseTotalOverflowsIsOutOfMemory) {
  EXPECT_EQ(catch_error([] { edit(Action::append, text("x"), text("ab"), {{}, false, integer_cell(0x7FFFFFFF)}); }),
            ErrorId::internal_no_memory);
}

TEST_F(StringActions, APartThatIsNotACountOrAPositionInTheValueIsRefused) {
  Cell other = text("elsewhere");
  EXPECT_EQ(catch_error([&] { edit(Action::append, text("ab"), text("xyz"), {other}); }),
            ErrorId::script_invalid_refine_arg);
  Cell value = text("xyz");
  Cell position = value;
  position.data1 = 2;
  Cell target = text("ab");
  edit(Action::append, target, value, {position});
  EXPECT_EQ(whole(target), "abxy") << "a position in the value itself counts from its index";
}

// --- find and select ------------------------------------------------------------------------

struct Find {
  std::optional<Cell> part = std::nullopt;
  bool case_sensitive = false;
  bool same = false;
  bool any = false;
  bool with = false;
  std::optional<Cell> skip = std::nullopt;
  bool last = false;
  bool reverse = false;
  bool tail = false;
  bool match = false;
};

Cell find(const Cell& series, const Cell& value, const Find& o = {}) {
  ActionFrame frame;
  Cell* s = frame.arg(series);
  Cell* v = frame.arg(value);
  int part = frame.optional(o.part);
  int only = -1;
  int case_sensitive = frame.optional(o.case_sensitive);
  int same = frame.optional(o.same);
  int any = frame.optional(o.any);
  int with = o.with ? frame.ref(text("*")) : -1;
  int skip = frame.optional(o.skip);
  int last = frame.optional(o.last);
  int reverse = frame.optional(o.reverse);
  int tail = frame.optional(o.tail);
  int match = frame.optional(o.match);
  return *action_handler<Action::find>(TYPE_STRING)(s, v, part, only, case_sensitive, same, any, with, skip,
                                                      last, reverse, tail, match);
}

Cell select(const Cell& series, const Cell& value, const Find& o = {}) {
  ActionFrame frame;
  Cell* s = frame.arg(series);
  Cell* v = frame.arg(value);
  int part = frame.optional(o.part);
  int case_sensitive = frame.optional(o.case_sensitive);
  int skip = frame.optional(o.skip);
  int last = frame.optional(o.last);
  int reverse = frame.optional(o.reverse);
  return *action_handler<Action::select>(TYPE_STRING)(s, v, part, -1, case_sensitive, -1, -1, -1, skip, last,
                                                        reverse);
}

TEST_F(StringActions, FindWithEachRefinement) {
  struct Case {
    Cell series;
    Cell value;
    Find options;
    const char* expected;
  } cases[] = {
      {text("abc"), text("B"), {}, "bc@1"},
      {text("abc"), text("B"), {.case_sensitive = true}, "none"},
      {text("abc"), text("B"), {.same = true}, "none"},
      {text("abcd"), text("bc"), {.tail = true}, "d@3"},
      {text("abc"), text("b"), {.match = true}, "none"},
      {text("abc"), text("A"), {.match = true}, "abc@0"},
      {text("abc"), text("ab"), {.tail = true, .match = true}, "c@2"},
      {text("abcabc"), text("b"), {.last = true}, "bc@4"},
      {text("abcabc", 1, 6), text("b"), {.reverse = true}, "bc@4"},
      {text("abcabc", 1, 6), text("bc"), {.reverse = true}, "bc@4"},
      {text("abc"), text("a"), {.reverse = true}, "none"},
      {text("abc", 1, 3), text("c"), {.reverse = true, .match = true}, "none"},
      {text("abcabc"), character('C'), {}, "cabc@2"},
      {text("abcabc"), character('c'), {.tail = true}, "abc@3"},
      {text("abcabc"), character('C'), {.case_sensitive = true}, "none"},
      {text("aXbXcX"), character('X'), {.skip = integer_cell(2)}, "none"},
      {text("aXbXcX", 1, 1), character('X'), {.skip = integer_cell(2)}, "XbXcX@1"},
      {text("abcd"), text("c"), {.part = integer_cell(2)}, "none"},
      {text("abcd"), text("c"), {.part = integer_cell(3)}, "cd@2"},
      {text("abcd"), text("cd"), {.part = integer_cell(3)}, "none"},
      {text("abcd"), text("a"), {.part = integer_cell(0)}, "none"},
      {text("abcabc", 1, 5), text("a"), {.part = integer_cell(1), .reverse = true}, "none"},
      {text("abcabc", 1, 5), text("a"), {.part = integer_cell(2), .reverse = true}, "abc@3"},
      {text("abab"), text("a"), {.part = integer_cell(3), .last = true}, "ab@2"},
      {text("abc", 1, 3), text("a"), {}, "none"},
      {text(""), text("a"), {.reverse = true}, "none"},
      {text("a€😀b", 4), text("😀", 4), {}, "😀b@2"},
      {text("a€b", 2), text("€", 2), {}, "€b@1"},
      {text("xÉy", 2), text("é", 1), {}, "Éy@1"},
      {text("xÉy", 2), character(0xE9), {.case_sensitive = true}, "none"},
      {text("hello world"), bitset({' '}), {}, " world@5"},
      {text("ABC", 2), bitset({'b'}), {}, "none"},
      {text("ab€", 2), bitset({'z'}, true), {}, "€@2"},
      {text("x<b>y"), text("b", 1, 0, TYPE_TAG), {}, "<b>y@1"},
      {text("x/a.txt"), text("A.TXT", 1, 0, TYPE_FILE), {}, "a.txt@2"},
  };
  // Each case again with the series in every unit that holds its text.
  for (const Case& c : cases) {
    uint32_t widest = 1;
    for (uint32_t cp : code_points(whole(c.series))) widest = std::max(widest, unicode::unit_for(cp));
    for (uint32_t unit : {1u, 2u, 4u}) {
      if (unit < widest) continue;
      Cell series = text(whole(c.series), unit, c.series.data1, c.series.type());
      EXPECT_EQ(where(find(series, c.value, c.options)), c.expected)
          << "find \"" << whole(c.series) << "\"@" << c.series.data1 << " " << whole(c.value) << " unit " << unit;
    }
  }
}

TEST_F(StringActions, FindRefusesWildcardsABadSkipAndAForeignPart) {
  Cell s = text("abc");
  EXPECT_EQ(catch_error([&] { find(s, text("a"), {.any = true}); }), ErrorId::internal_not_done);
  EXPECT_EQ(catch_error([&] { find(s, text("a"), {.with = true}); }), ErrorId::internal_not_done);
  EXPECT_EQ(catch_error([&] { find(s, text("a"), {.skip = integer_cell(0)}); }), ErrorId::script_out_of_range);
  EXPECT_EQ(catch_error([&] { find(s, text("a"), {.part = text("abc")}); }), ErrorId::script_invalid_refine_arg);
  Cell bytes = text("ab", 1, 0, TYPE_BINARY);
  EXPECT_EQ(catch_error([&] { find(s, bytes); }), ErrorId::script_invalid_arg)
      << "a binary! is sought only in a binary!";
  Cell position = s;
  position.data1 = 2;
  EXPECT_EQ(where(find(s, text("c"), {.part = position})), "none") << "a position ends the range before it";
}

TEST_F(StringActions, SelectAnswersWhatFollowsTheMatch) {
  Cell s = text("a=1;b=2", 2);
  Cell after_key = select(s, text("b="));
  EXPECT_TRUE(after_key.is(TYPE_CHAR));
  EXPECT_EQ(after_key.data2, uint32_t{'2'});
  EXPECT_TRUE(select(s, text("2")).is(TYPE_NONE)) << "the match ends at the tail";
  EXPECT_TRUE(select(s, text("x")).is(TYPE_NONE));
  EXPECT_EQ(select(s, character('A')).data2, uint32_t{'='});
  EXPECT_TRUE(select(s, character('A'), {.case_sensitive = true}).is(TYPE_NONE));
  EXPECT_EQ(select(s, character('='), {.last = true}).data2, uint32_t{'2'});
}

TEST_F(StringActions, BinarySeriesSearchBytesAndSelectIntegers) {
  Cell bytes = text("\x01\x02\x03""a", 1, 0, TYPE_BINARY);
  EXPECT_EQ(where(find(bytes, integer_cell(2))), "\x02\x03""a@1");
  Cell next = select(bytes, integer_cell(2));
  EXPECT_TRUE(next.is(TYPE_INTEGER));
  EXPECT_EQ(next.int_at2(), 3);
  EXPECT_EQ(where(find(bytes, text("A"))), "none") << "bytes compare with case";
  EXPECT_EQ(where(find(bytes, text("a"))), "a@3");
}

// --- trim ------------------------------------------------------------------------------------

struct Trim {
  bool head = false, tail = false, automatic = false, lines = false, all = false;
  std::optional<Cell> with = std::nullopt;
};

Cell trim(const Cell& series, const Trim& o = {}) {
  ActionFrame frame;
  Cell* s = frame.arg(series);
  int head = frame.optional(o.head);
  int tail = frame.optional(o.tail);
  int automatic = frame.optional(o.automatic);
  int lines = frame.optional(o.lines);
  int all = frame.optional(o.all);
  int with = frame.optional(o.with);
  return *action_handler<Action::trim>(TYPE_STRING)(s, head, tail, automatic, lines, all, with);
}

TEST_F(StringActions, TrimByRefinement) {
  struct Case {
    const char* text;
    Trim options;
    const char* expected;
  } cases[] = {
      {"  a  \n  b  \n", {}, "a\nb\n"},
      {"  hello  ", {}, "hello"},
      {" \t\n ", {}, ""},
      {"  a  ", {.head = true}, "a  "},
      {"  a  ", {.tail = true}, "  a"},
      {"a\n\n", {.tail = true}, "a"},
      {" a \t\n b ", {.lines = true}, "a b"},
      {" a b\tc\r\n", {.all = true}, "abc"},
      {"x-y-z", {.with = text("-")}, "xyz"},
      {"x-y-z", {.with = character('x')}, "-y-z"},
      {"x-y-z", {.with = text("zyx", 2)}, "--"},
      {"\xE3\x80\x80" "a\xC2\xA0", {}, "a"},
      {"a\xE2\x80\xA8" "b", {.lines = true}, "a b"},
  };
  for (const Case& c : cases) {
    for (uint32_t unit : {2u, 4u}) {
      Cell s = text(c.text, unit);
      trim(s, c.options);
      EXPECT_EQ(whole(s), c.expected) << "trim \"" << c.text << "\" unit " << unit;
    }
  }
}

TEST_F(StringActions, TrimWorksFromTheIndexAndRefusesAuto) {
  Cell s = text(" x  a  ", 1, 3);
  trim(s);
  EXPECT_EQ(whole(s), " x a");
  EXPECT_EQ(catch_error([&] { trim(s, {.automatic = true}); }), ErrorId::internal_not_done);
}

// --- sort ------------------------------------------------------------------------------------

struct Sort {
  bool case_sensitive = false;
  std::optional<Cell> skip = std::nullopt;
  std::optional<Cell> compare = std::nullopt;
  std::optional<Cell> part = std::nullopt;
  bool all = false;
  bool reverse = false;
  bool stable = true;
};

Cell sort(const Cell& series, const Sort& o = {}) {
  ActionFrame frame;
  Cell* s = frame.arg(series);
  int case_sensitive = frame.optional(o.case_sensitive);
  int skip = frame.optional(o.skip);
  int compare = frame.optional(o.compare);
  int part = frame.optional(o.part);
  int all = frame.optional(o.all);
  int reverse = frame.optional(o.reverse);
  int stable = frame.optional(o.stable);
  return *action_handler<Action::sort>(TYPE_STRING)(s, case_sensitive, skip, compare, part, all, reverse, stable);
}

TEST_F(StringActions, SortOrdersCharactersAndRecords) {
  struct Case {
    const char* text;
    uint32_t unit;
    uint32_t index;
    Sort options;
    const char* expected;
    uint32_t result_index;
  } cases[] = {
      {"dcba", 1, 0, {}, "abcd", 0},
      {"dcba", 1, 0, {.stable = false}, "abcd", 0},
      {"bBaA", 1, 0, {}, "aAbB", 0},
      {"bBaA", 2, 0, {}, "aAbB", 0},
      {"bBaA", 1, 0, {.case_sensitive = true}, "ABab", 0},
      {"bBaA", 4, 0, {.case_sensitive = true}, "ABab", 0},
      {"abcd", 1, 0, {.reverse = true}, "dcba", 0},
      {"€bAa", 2, 0, {}, "Aab€", 0},
      {"😀ba", 4, 0, {}, "ab😀", 0},
      {"éÉe", 2, 0, {}, "eéÉ", 0},
      {"b2a1", 1, 0, {.skip = integer_cell(2)}, "a1b2", 0},
      {"a2b1", 1, 0, {.skip = integer_cell(2), .compare = integer_cell(2)}, "b1a2", 0},
      {"b1a2a1", 1, 0, {.skip = integer_cell(2), .all = true}, "a1a2b1", 0},
      {"dcba", 1, 0, {.part = integer_cell(2)}, "cdba", 0},
      {"dcba", 1, 3, {.part = integer_cell(-2)}, "dbca", 1},
      {"dcba", 1, 2, {.part = integer_cell(-5)}, "dcba", 0},
      {"zdcba", 2, 1, {}, "zabcd", 1},
  };
  for (const Case& c : cases) {
    Cell s = text(c.text, c.unit, c.index);
    Cell result = sort(s, c.options);
    EXPECT_EQ(whole(s), c.expected) << "sort \"" << c.text << "\" unit " << c.unit;
    EXPECT_EQ(result.data1, c.result_index) << "sort \"" << c.text << "\"";
  }
}

TEST_F(StringActions, SortRefusesInconsistentRefinements) {
  Cell s = text("abcd");
  EXPECT_EQ(catch_error([&] { sort(s, {.all = true}); }), ErrorId::script_bad_refines);
  EXPECT_EQ(catch_error([&] { sort(s, {.skip = integer_cell(3)}); }), ErrorId::script_invalid_refine_arg);
  EXPECT_EQ(catch_error([&] { sort(s, {.skip = integer_cell(0)}); }), ErrorId::script_invalid_refine_arg);
  EXPECT_EQ(catch_error([&] { sort(s, {.skip = integer_cell(8)}); }), ErrorId::script_invalid_refine_arg);
  EXPECT_EQ(catch_error([&] { sort(s, {.compare = integer_cell(1)}); }), ErrorId::script_bad_refines);
  EXPECT_EQ(catch_error([&] { sort(s, {.skip = integer_cell(2), .compare = integer_cell(1), .all = true}); }),
            ErrorId::script_bad_refines);
  EXPECT_EQ(catch_error([&] { sort(s, {.skip = integer_cell(2), .compare = integer_cell(3)}); }),
            ErrorId::script_out_of_range);
  EXPECT_EQ(catch_error([&] { sort(s, {.compare = text("x")}); }), ErrorId::script_invalid_refine_arg);
  EXPECT_EQ(catch_error([&] { sort(s, {.part = text("abcd")}); }), ErrorId::script_invalid_refine_arg);
}

// A stand-in for the evaluator: a "function" whose data1 names a built-in
// comparison of its two arguments.
enum Comparison : uint32_t { kGreater = 1, kDifference = 2, kSecondCharGreater = 3, kHalf = 4 };
Cell call_builtin(const Cell& function, const Cell& x, const Cell& y) {
  switch (function.data1) {
    case kGreater: return make_cell(TYPE_LOGIC, x.data2 > y.data2 ? 1 : 0);
    case kDifference: return integer_cell(static_cast<int32_t>(x.data2) - static_cast<int32_t>(y.data2));
    case kHalf: {
      Cell f = make_cell(TYPE_FLOAT);
      f.set_double((static_cast<double>(x.data2) - y.data2) / 2);
      return f;
    }
    default:
      return make_cell(TYPE_LOGIC, string::rs_abs_at(&x, 1) > string::rs_abs_at(&y, 1) ? 1 : 0);
  }
}

// The evaluator's own caller is put back after each test.
class UserComparators : public StringActions {
 protected:
  void SetUp() override {
    StringActions::SetUp();
    installed_ = upcalls::table.call_comparison;
    upcalls::table.call_comparison = call_builtin;
  }
  void TearDown() override { upcalls::table.call_comparison = installed_; }

 private:
  upcalls::CallComparison installed_ = nullptr;
};

TEST_F(UserComparators, NumbersReadTheOtherWayRoundFromBlocks) {
  auto function = [](Comparison c) { return make_cell(TYPE_FUNCTION, c); };
  struct Case {
    const char* text;
    uint32_t unit;
    Sort options;
    const char* expected;
  } cases[] = {
      // The function gets the second element first: "true" puts its first
      // argument first, as for blocks, while a positive number puts it
      // last, so that a difference orders as a comparison does.
      {"acb", 1, {.compare = function(kGreater)}, "cba"},
      {"a€b", 2, {.compare = function(kDifference)}, "ab€"},
      {"acbd", 4, {.compare = function(kHalf)}, "abcd"},
      {"acb", 1, {.compare = function(kGreater), .reverse = true}, "abc"},
      {"acb", 1, {.compare = function(kGreater), .stable = false}, "cba"},
      {"a1c3b2", 2, {.skip = integer_cell(2), .compare = function(kSecondCharGreater), .all = true}, "c3b2a1"},
  };
  for (const Case& c : cases) {
    Cell s = text(c.text, c.unit);
    sort(s, c.options);
    EXPECT_EQ(whole(s), c.expected) << c.text;
  }
  EXPECT_EQ(string::comparator_result(make_cell(TYPE_NONE)), -1);
  EXPECT_EQ(string::comparator_result(make_cell(TYPE_LOGIC, 0)), -1);
  EXPECT_EQ(string::comparator_result(integer_cell(5)), -5);
  EXPECT_EQ(string::comparator_result(testing::float_cell(0.5)), -1);
  EXPECT_EQ(string::comparator_result(testing::float_cell(-0.5)), 1);
  EXPECT_EQ(string::comparator_result(testing::float_cell(0.0)), 0);
  EXPECT_EQ(string::comparator_result(text("x")), 1);
}

TEST_F(StringActions, AUserComparatorNeedsTheEvaluator) {
  upcalls::CallComparison installed = upcalls::table.call_comparison;
  ASSERT_NE(installed, nullptr) << "the evaluator installs its caller at start-up";
  upcalls::table.call_comparison = nullptr;
  Cell s = text("ba");
  EXPECT_EQ(catch_error([&] { sort(s, {.compare = make_cell(TYPE_FUNCTION, 1)}); }), ErrorId::internal_not_done);
  upcalls::table.call_comparison = installed;
}

// A vector! of 32-bit integers or 64-bit floats, built by hand (vector!
// inherits find, select and sort from string!).
template <class T>
Cell vector_of(std::initializer_list<T> values, TypeId element_type) {
  NodeId node = memory::alloc_series(static_cast<uint32_t>(values.size()), sizeof(T), 0);
  SeriesBuffer* b = memory::buffer_of(node);
  for (T v : values) {
    std::memcpy(b->tail_ptr(), &v, sizeof(T));
    b->tail += sizeof(T);
  }
  return *stack::push(make_cell(TYPE_VECTOR, 0, node, element_type));
}

template <class T>
std::vector<T> elements(const Cell& vector) {
  SeriesBuffer* b = memory::buffer_of(vector.data2);
  std::vector<T> out(b->used() / sizeof(T));
  std::memcpy(out.data(), b->head_ptr(), b->used());
  return out;
}

TEST_F(StringActions, VectorsSearchAndSortTheirNumbers) {
  Cell integers = vector_of<int32_t>({3, -1, 2, 7}, TYPE_INTEGER);
  EXPECT_EQ(find(integers, integer_cell(2)).data1, 2u);
  EXPECT_TRUE(find(integers, text("2")).is(TYPE_NONE)) << "text is not sought among numbers";
  Cell after = select(integers, integer_cell(-1));
  EXPECT_TRUE(after.is(TYPE_INTEGER));
  EXPECT_EQ(after.int_at2(), 2);
  sort(integers);
  EXPECT_EQ(elements<int32_t>(integers), (std::vector<int32_t>{-1, 2, 3, 7})) << "signed order";

  Cell floats = vector_of<double>({2.5, -0.5, 1.0}, TYPE_FLOAT);
  Cell one = make_cell(TYPE_FLOAT);
  one.set_double(1.0);
  EXPECT_EQ(find(floats, one).data1, 2u);
  EXPECT_EQ(find(floats, integer_cell(1)).data1, 2u);
  sort(floats, {.reverse = true});
  EXPECT_EQ(elements<double>(floats), (std::vector<double>{2.5, 1.0, -0.5}));
}

// --- swap, set operations --------------------------------------------------------------------

Cell swap(const Cell& a, const Cell& b) {
  ActionFrame frame;
  Cell* first = frame.arg(a);
  Cell* second = frame.arg(b);
  return *action_handler<Action::swap>(TYPE_STRING)(first, second);
}

TEST_F(StringActions, SwapExchangesTheFirstCharactersWideningEitherSide) {
  Cell a = text("abc");
  Cell b = text("x€z", 2, 1);
  Cell result = swap(a, b);
  EXPECT_EQ(whole(a), "€bc");
  EXPECT_EQ(unit_of(a), 2u);
  EXPECT_EQ(whole(b), "xaz");
  EXPECT_EQ(where(result), "€bc@0");

  Cell at_tail = text("q", 1, 1);
  swap(a, at_tail);
  EXPECT_EQ(whole(a), "€bc") << "nothing happens at a tail";
  EXPECT_EQ(catch_error([&] { swap(a, integer_cell(1)); }), ErrorId::script_invalid_arg);
}

TEST_F(StringActions, SetOperationsOnCharactersAndRecords) {
  enum : int32_t { kUnique = 8, kUnion, kIntersect, kExclude, kDifference };
  struct Case {
    int32_t op;
    Cell first;
    Cell second;
    bool case_sensitive;
    int32_t skip;
    const char* expected;
    uint32_t unit;
  } cases[] = {
      {kUnique, text("aAbB"), text(""), false, 1, "ab", 1},
      {kUnique, text("aAbB"), text(""), true, 1, "aAbB", 1},
      {kUnion, text("abc"), text("bcd"), false, 1, "abcd", 1},
      {kUnion, text("ab"), text("€A", 2), false, 1, "ab€", 2},
      {kIntersect, text("abc"), text("BCD"), false, 1, "bc", 1},
      {kIntersect, text("abc"), text("BCD"), true, 1, "", 1},
      {kExclude, text("abc"), text("bcd"), false, 1, "a", 1},
      {kDifference, text("abc"), text("bcd"), false, 1, "ad", 1},
      {kDifference, text("😀x", 4), text("x"), false, 1, "😀", 4},
      {kUnique, text("a1a2b1"), text(""), false, 2, "a1b1", 1},
      {kUnion, text("a1"), text("b2a3"), false, 2, "a1b2", 1},
      {kIntersect, text("zabc", 1, 1), text("c"), false, 1, "c", 1},
  };
  for (const Case& c : cases) {
    Cell* first = stack::push(c.first);
    Cell* second = stack::push(c.second);
    Cell* result = string::do_set_op(first, second, c.case_sensitive, c.skip, c.op);
    EXPECT_EQ(whole(*result), c.expected) << "op " << c.op << " " << whole(c.first) << " " << whole(c.second);
    EXPECT_EQ(unit_of(*result), c.unit);
    EXPECT_NE(result->data2, c.first.data2) << "a new string";
  }
  Cell* first = stack::push(text("ab"));
  Cell* second = stack::push(text("b"));
  EXPECT_EQ(catch_error([&] { string::do_set_op(first, second, false, 0, kUnion); }),
            ErrorId::script_invalid_refine_arg);
}

// --- Inherited series! actions ---------------------------------------------------------------

TEST_F(StringActions, TakeAnswersACharacterOrAString) {
  if (!is_registered(TYPE_SERIES)) GTEST_SKIP() << "series! is not registered yet";
  auto take = [](const Cell& series, std::optional<Cell> part, bool last) {
    ActionFrame frame;
    Cell* s = frame.arg(series);
    int p = frame.optional(part);
    int l = frame.optional(last);
    return *action_handler<Action::take>(TYPE_STRING)(s, p, -1, l);
  };
  Cell s = text("a€c", 2);
  Cell first = take(s, {}, false);
  EXPECT_TRUE(first.is(TYPE_CHAR));
  EXPECT_EQ(first.data2, uint32_t{'a'});
  Cell last = take(s, {}, true);
  EXPECT_EQ(last.data2, uint32_t{'c'});
  EXPECT_EQ(whole(s), "€");
  Cell two = take(text("xyz"), integer_cell(2), false);
  EXPECT_TRUE(two.is(TYPE_STRING));
  EXPECT_EQ(whole(two), "xy");
  EXPECT_TRUE(take(text(""), {}, false).is(TYPE_NONE));
}

TEST_F(StringActions, StringsAnswerTheSeriesActions) {
  if (!is_registered(TYPE_SERIES)) GTEST_SKIP() << "series! is not registered yet";
  Cell s = text("a€😀", 4);
  {
    ActionFrame frame;
    Cell* series = frame.arg(s);
    EXPECT_EQ(action_handler<Action::length_q>(TYPE_STRING)(series), 3);
  }
  {
    ActionFrame frame;
    Cell* series = frame.arg(s);
    Cell* index = frame.arg(integer_cell(2));
    Cell picked = *action_handler<Action::pick>(TYPE_STRING)(series, 2, index);
    EXPECT_TRUE(picked.is(TYPE_CHAR));
    EXPECT_EQ(picked.data2, 0x20ACu);
  }
  {
    ActionFrame frame;
    Cell* series = frame.arg(s);
    Cell* index = frame.arg(integer_cell(1));
    Cell* value = frame.arg(character('b'));
    action_handler<Action::poke>(TYPE_STRING)(series, 1, value, index);
    EXPECT_EQ(whole(s), "b€😀");
  }
  {
    ActionFrame frame;
    Cell* series = frame.arg(s);
    action_handler<Action::reverse>(TYPE_STRING)(series, -1, -1);
    EXPECT_EQ(whole(s), "😀€b");
  }
  {
    ActionFrame frame;
    Cell* series = frame.arg(s);
    action_handler<Action::remove>(TYPE_STRING)(series, -1, -1);
    EXPECT_EQ(whole(s), "€b");
  }
}

}  // namespace
}  // namespace kel
