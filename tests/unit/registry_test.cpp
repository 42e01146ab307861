// The datatype registry: inheritance resolved at registration, the type
// name table. Test types use ids far above the real ones.
#include "runtime/datatype_registry.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace kel {
namespace {

Cell* parent_make(Cell* proto, Cell*, TypeId) { return proto; }
Cell* child_make(Cell* proto, Cell*, TypeId) { return proto; }
int32_t parent_compare(Cell*, Cell*, int32_t) { return 0; }

TEST(Registry, ChildInheritsWhatItMarksAndParentAnswers) {
  DatatypeRecord parent(240, 0, "parent!");
  parent.handle<Action::make>(parent_make).handle<Action::compare>(parent_compare);
  register_datatype(parent);

  DatatypeRecord child(241, 240, "child!");
  child.inherit(Action::make).inherit(Action::compare).inherit(Action::append);
  register_datatype(child);

  DatatypeRecord own(242, 240, "own!");
  own.handle<Action::make>(child_make);  // compare left unsupported
  register_datatype(own);

  EXPECT_EQ(action_handler<Action::make>(241), parent_make);
  EXPECT_EQ(action_handler<Action::compare>(241), parent_compare);
  EXPECT_EQ(action_entry(241, Action::append), nullptr) << "inherits 0 where the parent has 0";
  EXPECT_EQ(action_handler<Action::make>(242), child_make);
  EXPECT_EQ(action_entry(242, Action::compare), nullptr);
}

TEST(Registry, InheritWithoutParentStaysUnsupported) {
  DatatypeRecord orphan(243, 0, "orphan!");
  orphan.inherit_rest();
  register_datatype(orphan);
  EXPECT_EQ(action_entry(243, Action::form), nullptr);
}

TEST(Registry, HighestIdOnlyGrows) {
  register_datatype(DatatypeRecord(245, 0, "high!"));
  EXPECT_GE(highest_registered_type(), 245u);
  TypeId highest = highest_registered_type();
  register_datatype(DatatypeRecord(239, 0, "low!"));
  EXPECT_EQ(highest_registered_type(), highest);
}

TEST(Registry, TypeNamesKeepTheirLengthWithoutTheBang) {
  testing::boot();
  EXPECT_STREQ(type_name(TYPE_LOGIC).name, "logic!");
  EXPECT_EQ(type_name(TYPE_LOGIC).length, 5u);
  EXPECT_STREQ(datatype_name(TYPE_POINT3D), "point3D!");
  EXPECT_STREQ(datatype_name(TYPE_EVENT), "event!");
  EXPECT_EQ(datatype_name(0), nullptr);
  EXPECT_STREQ(action_word(Action::even_q), "even?");
  EXPECT_EQ(action_word(Action::eval_path), nullptr);
}

}  // namespace
}  // namespace kel
