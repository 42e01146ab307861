// The word family: text forms of the six kinds, comparison with and without
// case, index?, make/to, and the value helpers the interpreter uses.
#include "datatypes/word.h"

#include <gtest/gtest.h>

#include <string>

#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/runtime_words.h"
#include "word_helpers.h"
#include "runtime/upcalls.h"

namespace kel {
namespace {

using testing::call_in_frame;
using testing::catch_error;
using testing::form;
using testing::global_word;
using testing::loose_word;
using testing::mold;
using testing::molded_part;
using WordTest = testing::RuntimeTest;

TEST_F(WordTest, EachKindMoldsWithItsMarkAndFormsAsItsName) {
  struct Case {
    TypeId type;
    const char* mold;
  };
  const Case cases[] = {
      {TYPE_WORD, "w-name"},        {TYPE_SET_WORD, "w-name:"},     {TYPE_LIT_WORD, "'w-name"},
      {TYPE_GET_WORD, ":w-name"},   {TYPE_REFINEMENT, "/w-name"},   {TYPE_ISSUE, "#w-name"},
  };
  for (const Case& c : cases) {
    Cell value = loose_word("w-name", c.type);
    EXPECT_EQ(mold(value), c.mold) << type_name(c.type).name;
    EXPECT_EQ(form(value), "w-name") << type_name(c.type).name;
  }
}

TEST_F(WordTest, NamesKeepTheirSpellingAndNonAsciiText) {
  EXPECT_EQ(mold(loose_word("W-Mixed-Case")), "W-Mixed-Case");
  EXPECT_EQ(mold(loose_word("w-\xC3\xA9t\xC3\xA9", TYPE_SET_WORD)), "w-\xC3\xA9t\xC3\xA9:");
  EXPECT_EQ(mold(loose_word("w-\xE2\x82\xAC", TYPE_ISSUE)), "#w-\xE2\x82\xAC") << "a name wider than one byte";
}

TEST_F(WordTest, TheMarkCountsAgainstThePartLimit) {
  int32_t left = 0;
  EXPECT_EQ(molded_part(loose_word("abcdef", TYPE_LIT_WORD), 100, &left), "'abcdef");
  EXPECT_EQ(left, 100 - 7);
  EXPECT_EQ(molded_part(loose_word("abcdef", TYPE_SET_WORD), 100, &left), "abcdef:");
  EXPECT_EQ(left, 100 - 7);
  EXPECT_EQ(molded_part(loose_word("abcdef"), 3, &left), "abc") << "the name is cut at the limit";
  EXPECT_EQ(left, 3 - 6) << "the limit left goes negative once passed";
  EXPECT_EQ(molded_part(loose_word("w-\xC3\xA9t\xC3\xA9"), 3, &left), "w-\xC3\xA9") << "cut in code points";
}

// Compares two words under an operator code: -2 not comparable, 0 equal,
// non-zero otherwise (ordering codes give the sign).
int32_t compare(const Cell& a, const Cell& b, int32_t op) {
  Cell first = a;
  Cell second = b;
  return action_handler<Action::compare>(first.type())(&first, &second, op);
}

TEST_F(WordTest, EqualityIgnoresCaseAndKindWhileStrictEqualityDoesNot) {
  struct Case {
    Cell first;
    Cell second;
    int32_t op;
    bool equal;
  };
  const Case cases[] = {
      {loose_word("cmp-a", TYPE_LIT_WORD), loose_word("CMP-A", TYPE_LIT_WORD), kCmpEqual, true},
      {loose_word("cmp-a", TYPE_LIT_WORD), loose_word("CMP-A", TYPE_LIT_WORD), kCmpStrictEqual, false},
      {loose_word("cmp-a", TYPE_LIT_WORD), loose_word("cmp-a", TYPE_LIT_WORD), kCmpStrictEqual, true},
      {loose_word("cmp-a"), loose_word("cmp-a", TYPE_REFINEMENT), kCmpEqual, true},
      {loose_word("cmp-a"), loose_word("cmp-a", TYPE_SET_WORD), kCmpStrictEqual, false},
      {loose_word("cmp-a"), loose_word("cmp-b"), kCmpEqual, false},
      {loose_word("cmp-a", TYPE_ISSUE), loose_word("CMP-A", TYPE_ISSUE), kCmpEqual, true},
      // same?: type, exact symbol and context.
      {global_word("cmp-a"), global_word("cmp-a"), kCmpSame, true},
      {global_word("cmp-a"), loose_word("cmp-a"), kCmpSame, false},
      // strict word equality: word!/lit-word! pairs by exact symbol only.
      {loose_word("cmp-a"), loose_word("cmp-a", TYPE_LIT_WORD), kCmpStrictWord, true},
      {loose_word("cmp-a"), loose_word("CMP-A", TYPE_LIT_WORD), kCmpStrictWord, false},
      {loose_word("cmp-a"), loose_word("cmp-a", TYPE_GET_WORD), kCmpStrictWord, false},
      // word equality: word!/lit-word! pairs ignore case; others need one type.
      {loose_word("cmp-a", TYPE_LIT_WORD), loose_word("CMP-A"), kCmpWord, true},
      {loose_word("cmp-a", TYPE_SET_WORD), loose_word("CMP-A", TYPE_SET_WORD), kCmpWord, true},
      {loose_word("cmp-a", TYPE_SET_WORD), loose_word("cmp-a"), kCmpWord, false},
  };
  for (const Case& c : cases) {
    int32_t result = compare(c.first, c.second, c.op);
    EXPECT_NE(result, kNotComparable);
    EXPECT_EQ(result == 0, c.equal) << mold(c.first) << " " << mold(c.second) << " op " << c.op;
  }
}

TEST_F(WordTest, IssuesAndOtherWordsCannotBeCompared) {
  EXPECT_EQ(compare(loose_word("cmp-a", TYPE_LIT_WORD), loose_word("cmp-a", TYPE_ISSUE), kCmpEqual), kNotComparable);
  EXPECT_EQ(compare(loose_word("cmp-a", TYPE_ISSUE), loose_word("cmp-a"), kCmpEqual), kNotComparable);
  EXPECT_EQ(compare(loose_word("cmp-a"), integer::make(1), kCmpEqual), kNotComparable);
}

TEST_F(WordTest, OrderingComparesNamesAsText) {
  EXPECT_LT(compare(loose_word("ord-abc"), loose_word("ord-abd"), kCmpLesser), 0);
  EXPECT_GT(compare(loose_word("ord-b"), loose_word("ORD-A"), kCmpLesser), 0) << "ordering folds case";
  EXPECT_LT(compare(loose_word("ord-ab"), loose_word("ord-abc"), kCmpLesser), 0) << "a prefix sorts first";
  EXPECT_EQ(compare(loose_word("ord-x"), loose_word("ORD-X"), kCmpSort), 0);
}

TEST_F(WordTest, IndexOfAWordIsItsPositionInItsContext) {
  NodeId ctx = context::create(2, false, false, 0, context::kObjectKind);
  context::add_word(ctx, symbol::make("idx-first"));
  context::add_word(ctx, symbol::make("idx-second"));
  struct Case {
    Cell word_cell;
    int32_t expected;  // 0: none
  };
  const Case cases[] = {
      {word::make_value(symbol::make("idx-first"), ctx, 0), 1},
      {word::make_value(symbol::make("idx-second"), ctx, 1, TYPE_SET_WORD), 2},
      {loose_word("idx-loose"), 0},
  };
  for (const Case& c : cases) {
    Cell result = call_in_frame<Action::index_q>({c.word_cell}, [](auto handler, Cell*) { handler(); });
    if (c.expected == 0) {
      EXPECT_TRUE(result.is(TYPE_NONE));
    } else {
      ASSERT_TRUE(result.is(TYPE_INTEGER));
      EXPECT_EQ(integer::get(result), c.expected);
    }
  }
  EXPECT_EQ(action_handler<Action::index_q>(TYPE_REFINEMENT), nullptr);
  EXPECT_EQ(action_handler<Action::index_q>(TYPE_ISSUE), nullptr);
}

// make/to through the word! handler (the kinds inherit it, issue! has its own).
Cell convert(TypeId target, const Cell& spec) {
  Cell proto = datatype::make(target);
  return call_in_frame<Action::to>(
      {proto, spec}, [target](auto handler, Cell* frame) { handler(&frame[0], &frame[1], target); }, target);
}

TEST_F(WordTest, ConversionsToWordKinds) {
  Cell from_datatype = convert(TYPE_WORD, datatype::make(TYPE_INTEGER));
  EXPECT_TRUE(from_datatype.is(TYPE_WORD));
  EXPECT_EQ(mold(from_datatype), "integer!");
  EXPECT_EQ(from_datatype.data1, context::global());

  Cell from_logic = convert(TYPE_LIT_WORD, logic::make(true));
  EXPECT_EQ(mold(from_logic), "'true");

  Cell bound = global_word("conv-x");
  Cell retyped = convert(TYPE_SET_WORD, bound);
  EXPECT_TRUE(retyped.is(TYPE_SET_WORD));
  EXPECT_EQ(retyped.data1, bound.data1) << "to set-word! keeps the binding";
  EXPECT_EQ(retyped.data3, bound.data3);

  Cell from_issue_kind = convert(TYPE_ISSUE, loose_word("conv-y", TYPE_GET_WORD));
  EXPECT_EQ(mold(from_issue_kind), "#conv-y");
}

TEST_F(WordTest, ConversionsFromOtherTypesAreRefused) {
  EXPECT_EQ(catch_error([] { convert(TYPE_WORD, integer::make(1)); }), ErrorId::script_bad_to_arg);
  EXPECT_EQ(catch_error([] { convert(TYPE_ISSUE, integer::make(1)); }), ErrorId::script_bad_to_arg);
}

// A stand-in for the lexer: names made of letters and hyphens are words (a
// trailing colon a set-word), digits an integer, anything else not one value.
TypeId fake_scanner(std::string_view text, Cell* out) {
  if (text.empty()) return 0;
  bool digits = text.find_first_not_of("0123456789") == std::string_view::npos;
  if (digits) {
    if (out) *out = integer::make(std::stoi(std::string(text)));
    return TYPE_INTEGER;
  }
  bool set_word = text.back() == ':';
  std::string_view name = set_word ? text.substr(0, text.size() - 1) : text;
  if (name.empty() || name.find_first_not_of("abcdefghijklmnopqrstuvwxyz-") != std::string_view::npos) return 0;
  TypeId type = set_word ? TYPE_SET_WORD : TYPE_WORD;
  if (out) {
    word::make_at(symbol::make(name), out);
    out->set_type(type);
  }
  return type;
}

class WordScannerTest : public WordTest {
 protected:
  void SetUp() override {
    WordTest::SetUp();
    installed_ = upcalls::table.scan_word;
    upcalls::table.scan_word = fake_scanner;
  }
  void TearDown() override { upcalls::table.scan_word = installed_; }

 private:
  upcalls::ScanWord installed_ = nullptr;
};

Cell text(const char* utf8) {
  Cell* s = string::push_new(16);
  string::append_utf8(s, utf8);
  return *s;
}

TEST_F(WordScannerTest, TextConvertsWhenItLoadsAsOneWord) {
  stack::Guard guard;
  Cell from_set_word = convert(TYPE_WORD, text("conv-foo:"));
  EXPECT_TRUE(from_set_word.is(TYPE_WORD));
  EXPECT_EQ(mold(from_set_word), "conv-foo");
  EXPECT_EQ(catch_error([] { convert(TYPE_WORD, text("1")); }), ErrorId::script_invalid_chars);
  EXPECT_EQ(catch_error([] { convert(TYPE_WORD, text("a b")); }), ErrorId::script_invalid_chars);
  Cell character = make_cell(TYPE_CHAR, 0, 'q');
  EXPECT_EQ(mold(convert(TYPE_GET_WORD, character)), ":q");
}

TEST_F(WordScannerTest, IssuesAndRefinementsConvertWhenTheirNameIsAWord) {
  Cell issue_value = loose_word("conv-bar", TYPE_ISSUE);
  global_word("conv-bar");
  Cell result = convert(TYPE_WORD, issue_value);
  EXPECT_TRUE(result.is(TYPE_WORD));
  EXPECT_EQ(result.data1, context::global()) << "bound in the global context";
  EXPECT_EQ(static_cast<int32_t>(result.data3), context::find_word(context::global(), result.data2, true));
  EXPECT_EQ(catch_error([] { convert(TYPE_WORD, loose_word("123", TYPE_ISSUE)); }), ErrorId::script_bad_to_arg);
  EXPECT_EQ(mold(convert(TYPE_LIT_WORD, loose_word("conv-ref", TYPE_REFINEMENT))), "'conv-ref");
}

TEST_F(WordTest, TextThatIsNoWordDoesNotConvert) {
  stack::Guard guard;
  EXPECT_EQ(catch_error([] { convert(TYPE_WORD, text("12")); }), ErrorId::script_invalid_chars);
  EXPECT_EQ(catch_error([] { convert(TYPE_WORD, text("a b")); }), ErrorId::script_invalid_chars);
}

TEST_F(WordTest, IssuesTakeTextAsItIs) {
  stack::Guard guard;
  Cell proto = datatype::make(TYPE_ISSUE);
  Cell result = call_in_frame<Action::make>(
      {proto, text("a b")}, [](auto handler, Cell* frame) { handler(&frame[0], &frame[1], TYPE_ISSUE); },
      TYPE_ISSUE);
  ASSERT_TRUE(result.is(TYPE_ISSUE));
  EXPECT_EQ(mold(result), "#a b");
  EXPECT_EQ(result.data1, context::global());
  EXPECT_EQ(static_cast<int32_t>(result.data3), -1) << "issues are never bound";
}

TEST_F(WordTest, ReadingAnUnsetWordRaisesNoValue) {
  Cell unset_word = global_word("val-unset");
  EXPECT_EQ(catch_error([&] { word::get(&unset_word); }), ErrorId::script_no_value);
  stack::Guard guard;
  EXPECT_TRUE(word::push_value_of(&unset_word)->is(TYPE_UNSET)) << "push-value-of does not check";
}

TEST_F(WordTest, SetWordEvaluationStoresTheValueAndReturnsIt) {
  Cell target = global_word("val-set", TYPE_SET_WORD);
  Cell result = call_in_frame<Action::make>({target, integer::make(8)}, [](auto, Cell*) { word::set_from_frame(); });
  EXPECT_EQ(integer::get(result), 8);
  stack::Guard guard;
  EXPECT_EQ(integer::get(*word::get(&target)), 8);
  auto error = catch_error([&] {
    stack::mark_native(nullptr);
    stack::push(target);
    stack::push(make_cell(TYPE_UNSET));
    word::set_from_frame();
  });
  EXPECT_EQ(error, ErrorId::script_need_value);
}

TEST_F(WordTest, HeapSlotsAreWrittenFromTheStack) {
  NodeId ctx = context::create(2, false, false, 0, context::kObjectKind);
  context::add_word(ctx, symbol::make("slot-a"));
  stack::Guard guard;
  stack::push(integer::make(1));
  word::set_value(ctx, 0);
  EXPECT_EQ(integer::get(*word::get_in(ctx, 0)), 1);
  EXPECT_NE(word::at(ctx, 0)->header & flags::kFieldSet, 0u) << "an object field is marked as set";
  stack::push(integer::make(2));
  word::set_value_keep_old(ctx, 0);
  EXPECT_EQ(integer::get(*stack::get_top()), 1) << "the old value is pushed";
  EXPECT_EQ(integer::get(*word::get_in(ctx, 0)), 2);
  EXPECT_EQ(integer::get(*word::push_value(ctx, 0)), 2);
}

TEST_F(WordTest, KindHelpersSetTheirTypes) {
  Cell block = testing::block_of({});
  EXPECT_TRUE(lit_word::append_name("kind-a", &block)->is(TYPE_LIT_WORD));
  EXPECT_TRUE(refinement::append_name("kind-a", &block)->is(TYPE_REFINEMENT));
  EXPECT_TRUE(issue::append_name("kind-a", &block)->is(TYPE_ISSUE));
  EXPECT_TRUE(set_word::load("kind-b")->is(TYPE_SET_WORD));
  Cell* global_entry = context::word_at(context::global(), context::find_word(context::global(), symbol::make("kind-b"), false));
  EXPECT_TRUE(global_entry->is(TYPE_WORD)) << "the global table's own word stays a word!";
  Cell* refinement_value = refinement::load("kind-c");
  EXPECT_TRUE(refinement_value->is(TYPE_REFINEMENT));
  EXPECT_EQ(refinement_value->data1, 0u);
}

TEST_F(WordTest, AnyTypeIsRecognisedCanonically) {
  EXPECT_TRUE(word::any_type_q(loose_word("any-type!")));
  EXPECT_TRUE(word::any_type_q(loose_word("ANY-TYPE!")));
  EXPECT_FALSE(word::any_type_q(loose_word("any-type")));
}

TEST_F(WordTest, TheCallWordOfAnErrorIsAGlobalWord) {
  Cell call = error_value::call_word();
  ASSERT_TRUE(call.is(TYPE_WORD));
  EXPECT_EQ(call.data1, context::global());
  EXPECT_GE(static_cast<int32_t>(call.data3), 0);
}

}  // namespace
}  // namespace kel
