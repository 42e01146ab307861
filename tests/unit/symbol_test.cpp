// The symbol table: interning, case variants and their canonical aliases,
// the cached names, and the runtime words interned at start-up.
#include "datatypes/symbol.h"

#include <gtest/gtest.h>

#include <string>

#include "datatypes/string.h"
#include "runtime/datatype_registry.h"
#include "runtime/hash_table.h"
#include "datatypes/runtime_words.h"
#include "word_helpers.h"

namespace kel {
namespace {

using SymbolTest = testing::RuntimeTest;

TEST_F(SymbolTest, InterningTheSameNameTwiceGivesTheSameId) {
  uint32_t first = symbol::make("sym-print");
  EXPECT_EQ(symbol::make("sym-print"), first);
  EXPECT_EQ(symbol::name(first), "sym-print");
}

TEST_F(SymbolTest, CaseVariantsGetTheirOwnIdsAliasedToTheFirstSpelling) {
  uint32_t print = symbol::make("sym-case");
  uint32_t capitalised = symbol::make("Sym-Case");
  uint32_t shouted = symbol::make("SYM-CASE");
  EXPECT_NE(capitalised, print);
  EXPECT_NE(shouted, print);
  EXPECT_NE(shouted, capitalised);
  EXPECT_EQ(symbol::get_alias(print), symbol::kCanonical);
  EXPECT_EQ(symbol::get_alias(capitalised), static_cast<int32_t>(print));
  EXPECT_EQ(symbol::get_alias(shouted), static_cast<int32_t>(print)) << "aliases name the canonical id, not a variant";
  EXPECT_EQ(symbol::resolve(shouted), print);
  EXPECT_EQ(symbol::resolve(print), print) << "a canonical id resolves to itself";
  EXPECT_EQ(symbol::name(shouted), "SYM-CASE") << "each variant keeps its spelling";
}

TEST_F(SymbolTest, FlaggedInterningAnswersTheExistingSymbolAndAddsNoRecord) {
  uint32_t print = symbol::make("sym-flagged");
  uint32_t before = symbol::count();
  EXPECT_EQ(symbol::make_flagged("SYM-FLAGGED"), print);
  EXPECT_EQ(symbol::count(), before);
  uint32_t fresh = symbol::make_flagged("Sym-Flagged-New");
  EXPECT_EQ(symbol::count(), before + 1);
  EXPECT_EQ(symbol::get_alias(fresh), symbol::kCanonical);
}

TEST_F(SymbolTest, OnlyAsciiLettersFoldSoAccentedCapitalsAreSeparateSymbols) {
  uint32_t lower = symbol::make("\xC3\xA4rger");  // ärger
  uint32_t upper = symbol::make("\xC3\x84rger");  // Ärger
  EXPECT_NE(lower, upper);
  EXPECT_EQ(symbol::get_alias(upper), symbol::kCanonical);
  EXPECT_EQ(symbol::resolve(upper), upper);
}

TEST_F(SymbolTest, TheEmptyNameIsInternedLikeAnyOther) {
  uint32_t empty = symbol::make("");
  EXPECT_GT(empty, 0u);
  EXPECT_EQ(symbol::make(""), empty);
  EXPECT_EQ(symbol::name(empty).size(), 0u);
  EXPECT_STREQ(symbol::get_c_string(empty), "");
}

TEST_F(SymbolTest, NamesAreNulTerminatedAndCountedInBytes) {
  uint32_t id = symbol::make_from_text("caf\xC3\xA9-and-more", 5);
  EXPECT_EQ(symbol::name(id), "caf\xC3\xA9");
  EXPECT_STREQ(symbol::get_c_string(id), "caf\xC3\xA9");
}

TEST_F(SymbolTest, TheCachedStringIsMadeOnceAndDecodesTheName) {
  uint32_t id = symbol::make("sym-\xC3\xA9t\xC3\xA9");  // sym-été
  EXPECT_EQ(symbol::record(id)->data2, 0u) << "no string before it is needed";
  NodeId node = symbol::get_string(id);
  EXPECT_NE(node, 0u);
  EXPECT_EQ(symbol::get_string(id), node);
  Cell text = string::make_value(node);
  EXPECT_EQ(string::rs_length(&text), 7u) << "code points, not bytes";
  EXPECT_EQ(string::to_std_string(text), "sym-\xC3\xA9t\xC3\xA9");
}

TEST_F(SymbolTest, InterningFromAStringStartsAtItsIndex) {
  stack::Guard guard;
  Cell* text = string::push_new(16);
  string::append_utf8(text, "xxsym-from-string");
  text->data1 = 2;
  EXPECT_EQ(symbol::make_from_string(text), symbol::make("sym-from-string"));
}

TEST_F(SymbolTest, ManyNamesStayDistinctAsTheTableGrows) {
  // Far more than the first capacity of the index: every name must survive
  // the resizes and still be found.
  std::vector<uint32_t> ids;
  for (int i = 0; i < 9000; ++i) ids.push_back(symbol::make("sym-many-" + std::to_string(i)));
  for (int i = 0; i < 9000; ++i) {
    std::string name = "sym-many-" + std::to_string(i);
    ASSERT_EQ(symbol::make(name), ids[i]) << name;
    ASSERT_EQ(symbol::name(ids[i]), name);
  }
}

TEST_F(SymbolTest, RecordsCompareByNameIgnoringCaseUnlessStrict) {
  struct Case {
    const char* first;
    const char* second;
    int32_t op;
    int32_t expected;
  };
  const Case cases[] = {
      {"sym-abc", "SYM-ABC", kCmpEqual, 0},
      {"sym-abc", "SYM-ABC", kCmpStrictEqual, 1},
      {"sym-abc", "sym-abd", kCmpLesser, -1},
      {"sym-abd", "sym-abc", kCmpLesser, 1},
      {"sym-ab", "sym-abc", kCmpLesser, -1},
      {"sym-B", "sym-a", kCmpSort, 1},
      {"sym-B", "sym-a", kCmpCaseSort, -1},
  };
  auto compare = action_handler<Action::compare>(TYPE_SYMBOL);
  ASSERT_NE(compare, nullptr);
  for (const Case& c : cases) {
    Cell first = *symbol::record(symbol::make(c.first));
    Cell second = *symbol::record(symbol::make(c.second));
    int32_t result = compare(&first, &second, c.op);
    EXPECT_EQ(result < 0 ? -1 : result > 0 ? 1 : 0, c.expected) << c.first << " " << c.second << " op " << c.op;
  }
}

TEST_F(SymbolTest, RuntimeWordsInternedTwiceShareOneId) {
  struct Case {
    uint32_t id;
    const char* name;
  };
  const Case repeated[] = {
      {runtime_words::head, "head"},     {runtime_words::pick, "pick"},   {runtime_words::skip, "skip"},
      {runtime_words::code, "code"},     {runtime_words::type, "type"},   {runtime_words::exit, "exit"},
      {runtime_words::return_, "return"}, {runtime_words::throw_, "throw"}, {runtime_words::user, "user"},
  };
  for (const Case& c : repeated) {
    EXPECT_NE(c.id, 0u) << c.name;
    EXPECT_EQ(symbol::make(c.name), c.id) << c.name;
  }
}

TEST_F(SymbolTest, EveryRuntimeWordHoldsTheIdOfItsName) {
  uint32_t before = symbol::count();
  struct Entry {
    const uint32_t* id;
    const char* name;
  };
#define KEL_RUNTIME_WORD_ENTRY(ident, name) {&runtime_words::ident, name},
  const Entry entries[] = {KEL_RUNTIME_WORDS(KEL_RUNTIME_WORD_ENTRY, KEL_RUNTIME_WORD_ENTRY)};
#undef KEL_RUNTIME_WORD_ENTRY
  static_assert(sizeof entries / sizeof entries[0] == runtime_words::kRuntimeWordCount);
  for (const Entry& entry : entries) EXPECT_EQ(symbol::make(entry.name), *entry.id) << entry.name;
  EXPECT_EQ(symbol::count(), before) << "re-interning the runtime words adds nothing";
  EXPECT_EQ(runtime_words::angled_anon, symbol::make("<anon>"));
}

TEST_F(SymbolTest, RuntimeRefinementsAndIssueAreKept) {
  EXPECT_TRUE(runtime_words::part_refinement.is(TYPE_REFINEMENT));
  EXPECT_EQ(runtime_words::part_refinement.data1, 0u) << "refinements have no context";
  EXPECT_EQ(symbol::name(runtime_words::part_refinement.data2), "part");
  EXPECT_TRUE(runtime_words::ooo_issue.is(TYPE_ISSUE));
  EXPECT_EQ(symbol::name(runtime_words::ooo_issue.data2), "ooo");
  EXPECT_EQ(runtime_words::ooo_issue.data1, context::global());
  EXPECT_EQ(static_cast<int32_t>(runtime_words::ooo_issue.data3), -1);
}

TEST_F(SymbolTest, EveryRegisteredTypeNameHasItsWord) {
  for (TypeId type = 1; type <= kTypeCount; ++type) {
    if (!is_registered(type)) continue;
    uint32_t id = type_name(type).symbol;
    ASSERT_NE(id, 0u) << type;
    EXPECT_EQ(symbol::name(id), type_name(type).name);
    EXPECT_GE(context::find_word(context::global(), id, false), 0) << type_name(type).name;
  }
}

}  // namespace
}  // namespace kel
