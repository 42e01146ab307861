// The owner table: what owning a value flags and records, how containers
// are owned with their contents, how ownership is released, and that the
// table keeps nothing alive across a collection.
#include "datatypes/ownership.h"

#include <gtest/gtest.h>

#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/source_evaluation.h"
#include "runtime/stack.h"
#include "runtime/collector.h"
#include "runtime/hash_table.h"
#include "datatypes/runtime_words.h"
#include "test_support.h"

namespace kel {
namespace {

using Ownership = testing::RuntimeTest;

Cell* push_text(const char* utf8) {
  Cell* s = string::push_new(8);
  string::append_utf8(s, utf8);
  return s;
}

Cell field_word(const char* name) { return word::make_value(symbol::make(name), 0, -1); }

int32_t live_entries() { return ownership::table() ? hash_table::size(ownership::table()) : 0; }

TEST_F(Ownership, OwningAContainerOwnsEverythingInsideItByTheSameOwnerAndField) {
  stack::Guard guard;
  Cell* owner = object::push_new(2, object::next_class_id());
  Cell* outer = block::push_only(4);
  Cell* inner = block::push_only(2);
  Cell* text = push_text("leaf");
  block::rs_append(inner, *text);
  block::rs_append(outer, *inner);
  block::rs_append(outer, make_cell(TYPE_INTEGER, 0, 7));
  Cell word = field_word("data");

  ownership::set_owner(*outer, *owner, word);

  for (const Cell* value : {outer, inner, text}) {
    EXPECT_TRUE(ownership::is_owned(*value));
    const Cell* recorded = ownership::get_owner(ownership::key_of(*value));
    ASSERT_NE(recorded, nullptr);
    EXPECT_EQ(object::context_of(*recorded), object::context_of(*owner));
    EXPECT_EQ(word::symbol_of(recorded[1]), word::symbol_of(word)) << "the field word travels with the owner";
  }
}

TEST_F(Ownership, ValuesThatCannotBeOwnedAreLeftAlone) {
  stack::Guard guard;
  Cell* owner = object::push_new(1, object::next_class_id());
  int32_t before = live_entries();
  for (Cell value : {make_cell(TYPE_INTEGER, 0, 1), make_cell(TYPE_NONE), logic::make(true)}) {
    ownership::set_owner(value, *owner, field_word("x"));
    EXPECT_FALSE(ownership::is_owned(value));
  }
  EXPECT_EQ(live_entries(), before);
}

TEST_F(Ownership, AValueAlreadyOwnedKeepsItsFirstOwner) {
  stack::Guard guard;
  Cell* first = object::push_new(1, object::next_class_id());
  Cell* second = object::push_new(1, object::next_class_id());
  Cell* series = push_text("shared");
  ownership::set_owner(*series, *first, field_word("a"));
  ownership::set_owner(*series, *second, field_word("b"));
  EXPECT_EQ(object::context_of(*ownership::get_owner(series->data2)), object::context_of(*first));
}

TEST_F(Ownership, ABlockThatContainsItselfIsOwnedOnce) {
  stack::Guard guard;
  Cell* owner = object::push_new(1, object::next_class_id());
  Cell* loop = block::push_only(2);
  block::rs_append(loop, *loop);
  block::rs_append(loop, *loop);
  int32_t before = live_entries();
  ownership::set_owner(*loop, *owner, field_word("loop"));
  EXPECT_EQ(live_entries(), before + 1);
  ownership::unbind(*loop);
  EXPECT_EQ(live_entries(), before);
  EXPECT_FALSE(ownership::is_owned(*loop));
}

TEST_F(Ownership, UnbindingReleasesTheContainerAndItsContents) {
  stack::Guard guard;
  Cell* owner = object::push_new(1, object::next_class_id());
  Cell* outer = block::push_only(2);
  Cell* text = push_text("inside");
  block::rs_append(outer, *text);
  ownership::set_owner(*outer, *owner, field_word("f"));
  ownership::unbind(*outer);
  EXPECT_FALSE(ownership::is_owned(*outer));
  EXPECT_FALSE(ownership::is_owned(*text));
  EXPECT_EQ(ownership::get_owner(outer->data2), nullptr);
  EXPECT_EQ(ownership::get_owner(text->data2), nullptr);
}

TEST_F(Ownership, UnbindingARangeReleasesOnlyTheCellsInIt) {
  stack::Guard guard;
  Cell* owner = object::push_new(1, object::next_class_id());
  Cell* outer = block::push_only(3);
  Cell* first = push_text("one");
  Cell* second = push_text("two");
  Cell* third = push_text("three");
  for (Cell* c : {first, second, third}) block::rs_append(outer, *c);
  ownership::set_owner(*outer, *owner, field_word("f"));
  ownership::unbind_range(*outer, 1, 1);
  EXPECT_TRUE(ownership::is_owned(*first));
  EXPECT_FALSE(ownership::is_owned(*second));
  EXPECT_TRUE(ownership::is_owned(*third));
  EXPECT_TRUE(ownership::is_owned(*outer));
}

TEST_F(Ownership, CheckSendsNothingWithoutAnOwnerOrWithoutHandlers) {
  stack::Guard guard;
  Cell* loose = push_text("nobody's");
  EXPECT_FALSE(ownership::check(*loose, runtime_words::append, nullptr, 0, 1));
  Cell* owner = object::push_new(1, object::next_class_id());  // no handler block
  Cell* series = push_text("owned");
  ownership::set_owner(*series, *owner, field_word("f"));
  EXPECT_FALSE(ownership::check(*series, runtime_words::append, nullptr, 0, 1));
}

TEST_F(Ownership, CheckCallsTheOwnersDeepChangeHandlerWithTheChange) {
  auto error = testing::catch_error([] {
    stack::Guard guard;
    source_evaluation::do_source(
        "seen: none "
        "watcher: make object! ["
        "  items: [1 2] "
        "  on-deep-change*: func [owner word target action new index part] ["
        "    seen: reduce [word action new index part]]]");
    Cell* items = source_evaluation::do_source("watcher/items");
    Cell added = make_cell(TYPE_INTEGER, 0, 3);
    EXPECT_TRUE(ownership::check(*items, runtime_words::append, &added, 2, 1));
    Cell* seen = source_evaluation::do_source("mold seen");
    EXPECT_EQ(string::to_std_string(*seen), "[items append 3 2 1]");
  });
  EXPECT_FALSE(error.has_value());
}

TEST_F(Ownership, ACollectionDropsEntriesWhoseValueIsGoneAndKeepsTheOthers) {
  collector::set_enabled(true);
  collector::collect();  // entries left by earlier tests go first
  stack::Guard guard;
  Cell* owner = object::push_new(1, object::next_class_id());
  Cell* kept = push_text("kept");
  ownership::set_owner(*kept, *owner, field_word("f"));
  int32_t with_kept = live_entries();
  {
    stack::Guard inner;
    Cell* lost = push_text("lost");
    ownership::set_owner(*lost, *owner, field_word("g"));
    EXPECT_EQ(live_entries(), with_kept + 1);
  }
  collector::collect();
  EXPECT_EQ(live_entries(), with_kept);
  EXPECT_TRUE(ownership::is_owned(*kept));
  const Cell* recorded = ownership::get_owner(kept->data2);
  ASSERT_NE(recorded, nullptr);
  EXPECT_EQ(object::context_of(*recorded), object::context_of(*owner));
  // The table itself survives: owning works after the collection.
  Cell* later = push_text("later");
  ownership::set_owner(*later, *owner, field_word("h"));
  EXPECT_TRUE(ownership::is_owned(*later));
}

}  // namespace
}  // namespace kel
