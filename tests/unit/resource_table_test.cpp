// The resource table: slots handed out and reused, growth that keeps
// indexes valid, marking and sweeping as the collector drives them, and
// release callbacks that run exactly once per object.
//
// Each test works on a table of its own, so the runtime's table (and the
// types other parts of the runtime register in it) stays untouched.
#include "runtime/resource_table.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "test_support.h"

namespace kel {
namespace {

using resource_table::Table;

// Release callbacks record which objects they were handed, in order.
std::vector<void*> released;
void record_release(void* object) { released.push_back(object); }

// Stand-ins for outside objects: only their addresses matter.
int objects[3000];
void* object(int n) { return &objects[n]; }

class ResourceTableTest : public ::testing::Test {
 protected:
  void SetUp() override { released.clear(); }
};

int count_of(void* what) {
  int count = 0;
  for (void* o : released) count += o == what;
  return count;
}

TEST_F(ResourceTableTest, TypesAreNumberedFromOneInRegistrationOrder) {
  Table table;
  EXPECT_EQ(table.register_type(0x10, record_release), 1u);
  EXPECT_EQ(table.register_type(0x20, nullptr), 2u);
  EXPECT_EQ(table.type_flags(1), 0x10u);
  EXPECT_EQ(table.type_flags(2), 0x20u);
  EXPECT_EQ(table.type_flags(3), 0u);
}

TEST_F(ResourceTableTest, SlotsAreHandedOutInOrderAndReusedLastFreedFirst) {
  Table table;
  uint32_t type = table.register_type(0, record_release);
  EXPECT_EQ(table.allocate(object(0), type), 0);
  EXPECT_EQ(table.allocate(object(1), type), 1);
  EXPECT_EQ(table.allocate(object(2), type), 2);
  table.free(1, false);
  table.free(0, false);
  EXPECT_EQ(table.allocate(object(3), type), 0);
  EXPECT_EQ(table.allocate(object(4), type), 1);
  EXPECT_EQ(table.allocate(object(5), type), 3);
  EXPECT_EQ(table.object(0), object(3));
  EXPECT_EQ(table.type_of(0), type);
  EXPECT_EQ(table.used_count(), 4u);
  EXPECT_TRUE(released.empty());
}

TEST_F(ResourceTableTest, FreeReleasesOnlyWhenAskedAndOnlyOnce) {
  Table table;
  uint32_t type = table.register_type(0, record_release);
  int32_t kept = table.allocate(object(0), type);
  int32_t dropped = table.allocate(object(1), type);
  table.free(kept, false);
  table.free(dropped, true);
  table.free(dropped, true);  // already free: nothing happens
  EXPECT_EQ(released, std::vector<void*>{object(1)});
  EXPECT_FALSE(table.in_use(dropped));
  EXPECT_EQ(table.object(dropped), nullptr);
  EXPECT_EQ(table.used_count(), 0u);
  // The free list was not damaged by the second free: two allocations
  // still get two different slots.
  EXPECT_NE(table.allocate(object(2), type), table.allocate(object(3), type));
}

TEST_F(ResourceTableTest, ReplacingReleasesTheOldObjectOnlyWhenItDiffers) {
  Table table;
  uint32_t type = table.register_type(0, record_release);
  int32_t slot = table.allocate(object(0), type);
  table.replace(slot, object(0));
  EXPECT_TRUE(released.empty());
  table.replace(slot, object(1));
  EXPECT_EQ(released, std::vector<void*>{object(0)});
  EXPECT_EQ(table.object(slot), object(1));
}

TEST_F(ResourceTableTest, ReleaseCallsTheCallbackOfTheSlotsType) {
  Table table;
  uint32_t with_callback = table.register_type(0, record_release);
  uint32_t without = table.register_type(0, nullptr);
  int32_t first = table.allocate(object(0), with_callback);
  int32_t second = table.allocate(object(1), without);
  table.release(first);
  table.release(second);
  table.release_slot(0, object(2));  // type 0: nothing
  table.release_slot(0x80000000 | with_callback, object(3));  // the mark bit is not part of the type
  EXPECT_EQ(released, (std::vector<void*>{object(0), object(3)}));
  EXPECT_TRUE(table.in_use(first)) << "release leaves the slot in use";
}

TEST_F(ResourceTableTest, TheThousandAndFirstSlotDoublesTheArray) {
  Table table;
  uint32_t type = table.register_type(0, record_release);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(table.allocate(object(i), type), i);
  EXPECT_EQ(table.capacity(), 1000u);
  EXPECT_EQ(table.allocate(object(1000), type), 1000);
  EXPECT_EQ(table.capacity(), 2000u);
  for (int i = 0; i <= 1000; ++i) ASSERT_EQ(table.object(i), object(i)) << i;
  // The new half is handed out in order, and the used list still reaches
  // every slot.
  EXPECT_EQ(table.allocate(object(1001), type), 1001);
  int visited = 0;
  table.each(type, [&](uint32_t, void*) { ++visited; });
  EXPECT_EQ(visited, 1002);
}

TEST_F(ResourceTableTest, MarkAnswersWhetherTheSlotWasNewlyMarked) {
  Table table;
  uint32_t type = table.register_type(0, record_release);
  int32_t slot = table.allocate(object(0), type);
  EXPECT_TRUE(table.mark(slot));
  EXPECT_FALSE(table.mark(slot));
  EXPECT_TRUE(table.marked(slot));
  EXPECT_EQ(table.object(slot), object(0)) << "no object given: the old one stays";
  EXPECT_FALSE(table.mark(slot, object(1)));
  EXPECT_EQ(table.object(slot), object(1)) << "a given object is stored";
  EXPECT_EQ(table.type_of(slot), type) << "the mark is not part of the type";
  // Stale or damaged indexes change nothing.
  table.free(slot, false);
  for (int32_t index : {slot, -1, 1000, 5000}) EXPECT_FALSE(table.mark(index)) << index;
  EXPECT_FALSE(table.marked(slot));
  EXPECT_TRUE(released.empty());
}

TEST_F(ResourceTableTest, SweepReleasesEachUnmarkedObjectExactlyOnce) {
  Table table;
  uint32_t counted = table.register_type(0, record_release);
  uint32_t silent = table.register_type(0, nullptr);
  std::vector<int32_t> slots;
  for (int i = 0; i < 8; ++i) slots.push_back(table.allocate(object(i), i == 5 ? silent : counted));
  // Reachable: 0, 2, 3 and 7 (3 reached twice).
  for (int i : {0, 2, 3, 3, 7}) table.mark(slots[i]);

  EXPECT_EQ(table.sweep(), 4u);
  std::map<void*, int> expected = {{object(1), 1}, {object(4), 1}, {object(6), 1}};
  std::map<void*, int> actual;
  for (void* o : released) ++actual[o];
  EXPECT_EQ(actual, expected);
  for (int i : {0, 2, 3, 7}) {
    EXPECT_TRUE(table.in_use(slots[i])) << i;
    EXPECT_FALSE(table.marked(slots[i])) << "sweep clears the marks";
  }
  for (int i : {1, 4, 5, 6}) EXPECT_FALSE(table.in_use(slots[i])) << i;
  EXPECT_EQ(table.used_count(), 4u);

  // The next cycle reaches nothing: the survivors go now, once each, and
  // the objects released before are not released again.
  released.clear();
  EXPECT_EQ(table.sweep(), 4u);
  for (int i : {0, 2, 3, 7}) EXPECT_EQ(count_of(object(i)), 1) << i;
  EXPECT_EQ(released.size(), 4u);
  EXPECT_EQ(table.used_count(), 0u);
  EXPECT_EQ(table.sweep(), 0u);
}

// A callback that uses the table it is called from, as the release of an
// imaging object may free the slots of the objects it owned.
Table* reentrant_table = nullptr;
int32_t slot_to_free = -1;
uint32_t reentrant_type = 0;
void release_and_touch_table(void* object) {
  released.push_back(object);
  int32_t target = slot_to_free;
  slot_to_free = -1;
  if (target >= 0) reentrant_table->free(target, true);
  reentrant_table->allocate(nullptr, reentrant_type);
}

TEST_F(ResourceTableTest, ACallbackMayChangeTheTableDuringTheSweep) {
  Table table;
  reentrant_table = &table;
  reentrant_type = table.register_type(0, release_and_touch_table);
  int32_t dying = table.allocate(object(0), reentrant_type);
  int32_t survivor = table.allocate(object(1), reentrant_type);
  slot_to_free = survivor;
  table.mark(survivor);
  EXPECT_EQ(table.sweep(), 1u);
  // The dying object's callback freed the survivor, whose release ran the
  // callback once more; each callback then took a slot for a new object,
  // reusing the two just freed.
  EXPECT_EQ(released, (std::vector<void*>{object(0), object(1)}));
  EXPECT_EQ(table.used_count(), 2u);
  EXPECT_EQ(table.object(survivor), nullptr);
  EXPECT_EQ(table.object(dying), nullptr);
}

TEST_F(ResourceTableTest, EachVisitsTheSlotsOfOneTypeNewestFirst) {
  Table table;
  uint32_t first = table.register_type(0, record_release);
  uint32_t second = table.register_type(0, record_release);
  for (int i = 0; i < 6; ++i) table.allocate(object(i), i % 2 ? second : first);
  std::vector<void*> seen;
  table.each(second, [&](uint32_t type, void* o) {
    EXPECT_EQ(type, second);
    seen.push_back(o);
  });
  EXPECT_EQ(seen, (std::vector<void*>{object(5), object(3), object(1)}));
  // The callback may free the slot it is handed.
  table.each(first, [&](uint32_t, void* o) { table.free(static_cast<int32_t>(static_cast<int*>(o) - objects), true); });
  EXPECT_EQ(released, (std::vector<void*>{object(4), object(2), object(0)}));
  EXPECT_EQ(table.used_count(), 3u);
}

TEST_F(ResourceTableTest, TheRuntimesTableServesTheRoutineNames) {
  testing::boot();
  resource_table::init();
  uint32_t type = resource_table::register_type(0, record_release);
  int32_t slot = resource_table::allocate(object(0), type);
  EXPECT_EQ(resource_table::table().object(slot), object(0));
  resource_table::free(slot, true);
  EXPECT_EQ(released, std::vector<void*>{object(0)});
}

class ResourceTableDeathTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(ResourceTableDeathTest, ATwentyFirstTypeEndsWithAssertionFailed) {
  EXPECT_EXIT(
      {
        Table table;
        for (uint32_t i = 1; i <= resource_table::kMaxTypes; ++i) {
          if (table.register_type(0, nullptr) != i) runtime::quit(1, 0);
        }
        table.register_type(0, nullptr);
        runtime::quit(0, 0);
      },
      ::testing::ExitedWithCode(98), "");
}

TEST_F(ResourceTableDeathTest, AnUnregisteredTypeEndsWithAssertionFailed) {
  EXPECT_EXIT(
      {
        Table table;
        table.register_type(0, nullptr);
        table.allocate(object(0), 2);
        runtime::quit(0, 0);
      },
      ::testing::ExitedWithCode(98), "");
}

}  // namespace
}  // namespace kel
