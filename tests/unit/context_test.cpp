// Contexts: creation, lookup with and without case, growth, copy, deep
// binding of blocks, and reading and writing word values.
#include "datatypes/context.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/integer.h"
#include "runtime/cycles.h"
#include "datatypes/runtime_words.h"
#include "word_helpers.h"

namespace kel {
namespace {

using testing::block_of;
using testing::catch_error;
using testing::cell_at;
using testing::global_word;
using testing::loose_word;
using ContextTest = testing::RuntimeTest;

// A heap context holding the given words, in order.
NodeId context_with(std::initializer_list<const char*> names, context::Kind kind = context::kObjectKind) {
  NodeId ctx = context::create(static_cast<uint32_t>(names.size()), false, false, 0, kind);
  for (const char* name : names) context::add_word(ctx, symbol::make(name));
  return ctx;
}

TEST_F(ContextTest, ANewContextIsEmptyWithAnUnsetSelf) {
  NodeId ctx = context::create(0, false, true, 0, context::kObjectKind);
  EXPECT_EQ(context::word_count(ctx), 0u);
  EXPECT_TRUE(context::self_cell(ctx)->is(TYPE_UNSET));
  EXPECT_EQ(context::kind(ctx), context::kObjectKind);
  EXPECT_FALSE(context::on_stack(ctx));
  EXPECT_NE(context::cell(ctx)->header & context::kObjectFlag, 0u);
  EXPECT_TRUE(context::cell(ctx)->is(TYPE_CONTEXT));
}

TEST_F(ContextTest, AddingAWordTwiceKeepsOneIndexAndOneValue) {
  NodeId ctx = context_with({"ctx-a", "ctx-b"});
  EXPECT_EQ(context::add_word(ctx, symbol::make("ctx-b")), 1);
  EXPECT_EQ(context::add_word(ctx, symbol::make("CTX-B")), 1) << "adding is case-insensitive";
  EXPECT_EQ(context::word_count(ctx), 2u);
  EXPECT_EQ(memory::buffer_of(context::values_node(ctx))->cell_count(), 2u);
}

TEST_F(ContextTest, FindingWordsExactlyOrIgnoringCase) {
  NodeId ctx = context_with({"ctx-find"});
  uint32_t lower = symbol::make("ctx-find");
  uint32_t upper = symbol::make("CTX-FIND");
  EXPECT_EQ(context::find_word(ctx, lower, false), 0);
  EXPECT_EQ(context::find_word(ctx, upper, true), 0);
  EXPECT_EQ(context::find_word(ctx, upper, false), -1);
  EXPECT_EQ(context::find_word(ctx, symbol::make("ctx-missing"), true), -1);
}

TEST_F(ContextTest, FindWordInAddsTheMissingWordAndAnswersMinusOne) {
  NodeId ctx = context_with({"ctx-x"});
  int32_t added = -7;
  EXPECT_EQ(context::find_word_in(ctx, symbol::make("ctx-y"), true, &added), -1);
  EXPECT_EQ(added, 1);
  Cell* word_cell = context::word_at(ctx, 1);
  EXPECT_EQ(word_cell->data1, ctx);
  EXPECT_EQ(word_cell->data2, symbol::make("ctx-y"));
  EXPECT_EQ(word_cell->data3, 1u);
  EXPECT_EQ(context::find_word_in(ctx, symbol::make("ctx-y"), true, &added), 1);
}

TEST_F(ContextTest, AContextGrowsFarPastItsFirstCapacity) {
  NodeId ctx = context::create(2, false, false, 0, context::kObjectKind);
  std::vector<uint32_t> symbols;
  for (int i = 0; i < 500; ++i) {
    symbols.push_back(symbol::make("ctx-grow-" + std::to_string(i)));
    ASSERT_EQ(context::add_word(ctx, symbols.back()), i);
    context::put_value(ctx, symbols.back(), integer::make(i * 10));
  }
  EXPECT_EQ(context::word_count(ctx), 500u);
  EXPECT_EQ(memory::buffer_of(context::values_node(ctx))->cell_count(), 500u) << "one value per word";
  for (int i = 0; i < 500; ++i) {
    ASSERT_EQ(context::find_word(ctx, symbols[i], false), i);
    ASSERT_EQ(integer::get(*context::value_slot(ctx, symbols[i])), i * 10);
  }
}

TEST_F(ContextTest, MakeFromWordsTakesEveryWordKindButSetWordsOnceEach) {
  Cell spec = block_of({loose_word("ctx-a"), loose_word("CTX-A"), loose_word("ctx-b", TYPE_SET_WORD),
                        loose_word("ctx-c", TYPE_GET_WORD), loose_word("ctx-d", TYPE_LIT_WORD),
                        loose_word("ctx-e", TYPE_REFINEMENT), loose_word("ctx-f", TYPE_ISSUE),
                        integer::make(1)});
  NodeId ctx = context::make_from_words(&spec, false, false, context::kFunctionKind);
  ASSERT_EQ(context::word_count(ctx), 4u);
  const char* expected[] = {"ctx-a", "ctx-c", "ctx-d", "ctx-e"};
  for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(symbol::name(context::word_at(ctx, i)->data2), expected[i]);
  EXPECT_EQ(memory::buffer_of(context::values_node(ctx))->cell_count(), 4u);
  EXPECT_TRUE(context::values_head(ctx)[3].is(TYPE_UNSET));
}

TEST_F(ContextTest, AStackContextHasNoValuesUntilACallRuns) {
  Cell spec = block_of({loose_word("ctx-arg")});
  NodeId ctx = context::make_from_words(&spec, true, false, context::kFunctionKind);
  EXPECT_TRUE(context::on_stack(ctx));
  EXPECT_EQ(context::values_head(ctx), nullptr);
  Cell word_cell = *context::word_at(ctx, 0);
  EXPECT_EQ(catch_error([&] { context::get(&word_cell); }), ErrorId::script_not_in_context);
  EXPECT_EQ(catch_error([&] { context::set(&word_cell, integer::make(1)); }), ErrorId::script_not_defined);

  // A running call: the values are the arguments on the stack.
  stack::Guard guard;
  Cell* argument = stack::push(integer::make(5));
  uint32_t saved = context::values_reference(ctx);
  context::set_values_reference(ctx, context::stack_reference(argument));
  EXPECT_EQ(integer::get(*context::get(&word_cell)), 5);
  context::set(&word_cell, integer::make(6));
  EXPECT_EQ(integer::get(*argument), 6);
  context::set_values_reference(ctx, saved);
  EXPECT_EQ(context::values_head(ctx), nullptr);
}

TEST_F(ContextTest, CopyRebindsTheWordsToTheNewContext) {
  NodeId source = context_with({"ctx-p", "ctx-q"});
  context::put_value(source, symbol::make("ctx-p"), integer::make(1));
  Cell owner = make_cell(TYPE_OBJECT, source, 0, 0);
  NodeId copy = context::copy(&owner, context::kObjectKind);
  EXPECT_NE(copy, source);
  EXPECT_EQ(owner.data1, copy);
  ASSERT_EQ(context::word_count(copy), 2u);
  for (uint32_t i = 0; i < 2; ++i) {
    EXPECT_EQ(context::word_at(copy, i)->data1, copy);
    EXPECT_EQ(context::word_at(copy, i)->data2, context::word_at(source, i)->data2);
  }
  EXPECT_TRUE(context::values_head(copy)[0].is(TYPE_UNSET)) << "values are the caller's to copy";
  context::add_word(copy, symbol::make("ctx-r"));
  EXPECT_EQ(context::word_count(source), 2u) << "the copy's table is its own";
}

TEST_F(ContextTest, BindingANestedBlockBindsKnownWordsAtEveryLevel) {
  NodeId ctx = context_with({"bind-foo", "bind-bar", "bind-baz"});
  Cell outside = global_word("bind-other");
  Cell paren = block_of({loose_word("bind-baz", TYPE_GET_WORD)}, TYPE_PAREN);
  Cell path = block_of({loose_word("bind-bar"), loose_word("bind-foo", TYPE_REFINEMENT)}, TYPE_PATH);
  Cell inner = block_of({loose_word("bind-bar", TYPE_SET_WORD), paren, path});
  Cell outer = block_of({loose_word("BIND-FOO", TYPE_LIT_WORD), inner, outside, loose_word("bind-foo", TYPE_ISSUE)});

  context::bind(&outer, ctx, false);

  struct Expect {
    const Cell* cell;
    uint32_t index;
  };
  const Expect bound[] = {
      {&cell_at(outer, 0), 0}, {&cell_at(inner, 0), 1}, {&cell_at(paren, 0), 2},
      {&cell_at(path, 0), 1},  {&cell_at(path, 1), 0},
  };
  for (const Expect& e : bound) {
    EXPECT_EQ(e.cell->data1, ctx) << symbol::name(e.cell->data2);
    EXPECT_EQ(e.cell->data3, e.index) << symbol::name(e.cell->data2);
  }
  EXPECT_EQ(cell_at(outer, 2).data1, outside.data1) << "an unknown word keeps its binding";
  EXPECT_EQ(cell_at(outer, 2).data3, outside.data3);
  EXPECT_EQ(cell_at(outer, 3).data1, 0u) << "issues are never bound";
  EXPECT_EQ(context::word_count(ctx), 3u);
}

TEST_F(ContextTest, BindingCanAddTheWordsTheContextLacks) {
  NodeId ctx = context_with({"bind-known"});
  Cell block = block_of({loose_word("bind-known"), loose_word("bind-new"), loose_word("bind-new", TYPE_SET_WORD)});
  context::bind(&block, ctx, false, true);
  EXPECT_EQ(context::word_count(ctx), 2u);
  EXPECT_EQ(cell_at(block, 1).data1, ctx);
  EXPECT_EQ(cell_at(block, 1).data3, 1u);
  EXPECT_EQ(cell_at(block, 2).data3, 1u) << "both spellings share the added word";
  EXPECT_EQ(memory::buffer_of(context::values_node(ctx))->cell_count(), 2u);
}

TEST_F(ContextTest, SpellingsThatDifferByCaseBindToOneWord) {
  NodeId ctx = context_with({"bind-case"});
  Cell block = block_of({loose_word("bind-case"), loose_word("Bind-Case")});
  context::bind(&block, ctx, false);
  EXPECT_EQ(cell_at(block, 0).data3, 0u);
  EXPECT_EQ(cell_at(block, 1).data3, 0u);
  EXPECT_EQ(cell_at(block, 1).data1, ctx);
}

TEST_F(ContextTest, ABlockThatContainsItselfBindsWithoutLooping) {
  NodeId ctx = context_with({"bind-loop"});
  Cell block = block_of({loose_word("bind-loop")});
  append_value(&block, block);
  context::bind(&block, ctx, false);
  EXPECT_EQ(cell_at(block, 0).data1, ctx);
  EXPECT_EQ(cycles::size(), 0u) << "the walk leaves the cycle stack as it found it";
}

TEST_F(ContextTest, NestingDeeperThanTheCycleStackIsRefused) {
  NodeId ctx = context_with({"bind-deep"});
  Cell block = block_of({loose_word("bind-deep")});
  for (uint32_t i = 0; i < cycles::kCapacity + 5; ++i) block = block_of({block});
  EXPECT_EQ(catch_error([&] { context::bind(&block, ctx, false); }), ErrorId::internal_too_deep);
  EXPECT_EQ(cycles::size(), 0u);
}

TEST_F(ContextTest, SelfReadsAsTheOwnerOfTheContext) {
  NodeId ctx = context_with({"self-field"});
  *context::self_cell(ctx) = integer::make(99);
  Cell block = block_of({loose_word("self"), loose_word("self", TYPE_GET_WORD)});
  context::bind(&block, ctx, true);
  EXPECT_EQ(cell_at(block, 0).data1, ctx);
  EXPECT_EQ(static_cast<int32_t>(cell_at(block, 0).data3), -1);
  EXPECT_EQ(integer::get(*context::get(&cell_at(block, 0))), 99);
  EXPECT_NE(cell_at(block, 1).data1, ctx) << "only a word! spelled self is special";
}

TEST_F(ContextTest, ReadingAnUnresolvedWordRaisesNoValue) {
  NodeId ctx = context_with({"get-x"});
  Cell word_cell = word::make_value(symbol::make("get-y"), ctx, -1);
  EXPECT_EQ(catch_error([&] { context::get(&word_cell); }), ErrorId::script_no_value);
  Cell unbound = loose_word("get-z");
  unbound.data3 = 0;
  EXPECT_EQ(catch_error([&] { context::get(&unbound); }), ErrorId::script_not_defined)
      << "a word bound to no context has no slot";
}

TEST_F(ContextTest, SettingAWordMissingFromItsContextAddsIt) {
  NodeId ctx = context_with({"set-a"});
  Cell word_cell = word::make_value(symbol::make("set-new"), ctx, -1);
  context::set(&word_cell, integer::make(42));
  EXPECT_EQ(word_cell.data3, 1u);
  EXPECT_EQ(context::word_count(ctx), 2u);
  EXPECT_EQ(integer::get(*context::get(&word_cell)), 42);
}

TEST_F(ContextTest, AssigningAnObjectFieldMarksItsWord) {
  NodeId object = context_with({"field-a", "field-b"}, context::kObjectKind);
  NodeId plain = context_with({"field-a"}, context::kGlobalKind);
  Cell in_object = word::make_value(symbol::make("field-b"), object, 1);
  Cell in_plain = word::make_value(symbol::make("field-a"), plain, 0);
  context::set(&in_object, integer::make(1));
  context::set(&in_plain, integer::make(1));
  EXPECT_EQ(context::word_at(object, 0)->header & flags::kFieldSet, 0u);
  EXPECT_NE(context::word_at(object, 1)->header & flags::kFieldSet, 0u);
  EXPECT_EQ(context::word_at(plain, 0)->header & flags::kFieldSet, 0u);
}

TEST_F(ContextTest, AddSetWordsReportsWhetherTheContextGrew) {
  NodeId ctx = context_with({"sw-a"});
  Cell block = block_of({loose_word("sw-a", TYPE_SET_WORD), loose_word("sw-b"), loose_word("sw-c", TYPE_SET_WORD)});
  EXPECT_TRUE(context::add_set_words(ctx, &block));
  EXPECT_EQ(context::word_count(ctx), 2u) << "only set-words are added";
  EXPECT_FALSE(context::add_set_words(ctx, &block));
  Cell past_tail = block;
  past_tail.data1 = 99;
  EXPECT_FALSE(context::add_set_words(ctx, &past_tail)) << "an index past the tail adds nothing";
}

TEST_F(ContextTest, AddFieldKeepsTheFirstValue) {
  NodeId ctx = context_with({});
  uint32_t field = symbol::make("af-field");
  context::add_field(ctx, field, integer::make(1));
  context::add_field(ctx, field, integer::make(2));
  EXPECT_EQ(integer::get(*context::value_slot(ctx, field)), 1);
}

TEST_F(ContextTest, SetIntegerResolvesAnUnresolvedWord) {
  NodeId ctx = context_with({"si-a", "si-b"});
  Cell word_cell = word::make_value(symbol::make("si-b"), ctx, -1);
  context::set_integer(ctx, &word_cell, 7);
  EXPECT_EQ(word_cell.data3, 1u);
  EXPECT_EQ(integer::get(context::values_head(ctx)[1]), 7);
}

TEST_F(ContextTest, GlobalCaseVariantsShareTheCanonicalValue) {
  uint32_t lower = symbol::make("glob-var");
  uint32_t upper = symbol::make("Glob-Var");
  Cell lower_word = global_word("glob-var");
  context::set(&lower_word, integer::make(3));
  Cell* variant = context::add_global(upper, false, false);
  EXPECT_EQ(variant->data2, upper) << "an exact lookup adds the variant's own word";
  EXPECT_EQ(variant->data3, lower_word.data3) << "whose index names the canonical slot";
  Cell read;
  context::global_value(upper, &read);
  EXPECT_EQ(integer::get(read), 3);
  Cell* copied = context::add_global(upper, true, true);
  EXPECT_EQ(copied->data2, upper);
  EXPECT_EQ(copied->data3, lower_word.data3);
  EXPECT_EQ(context::add_global(lower, true, true)->data2, lower);
}

TEST_F(ContextTest, PutValueAndValueSlotUseTheGlobalContextForStackContexts) {
  uint32_t name = symbol::make("pv-global");
  context::put_value(context::global(), name, integer::make(11));
  Cell spec = block_of({loose_word("pv-arg")});
  NodeId function_context = context::make_from_words(&spec, true, false, context::kFunctionKind);
  ASSERT_NE(context::value_slot(function_context, name), nullptr);
  EXPECT_EQ(integer::get(*context::value_slot(function_context, name)), 11);
  EXPECT_EQ(context::value_slot(context::global(), symbol::make("pv-absent")), nullptr);
}

}  // namespace
}  // namespace kel
