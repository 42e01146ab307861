// The collector: what is reachable survives with its content, what is not
// is reclaimed, buffers move under their nodes, pins hold buffers in place.
#include "runtime/collector.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "evaluator/source_evaluation.h"
#include "runtime/stack.h"
#include "runtime/resource_table.h"
#include "test_support.h"

namespace kel {
namespace {

class Collector : public testing::RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    collector::set_enabled(true);
  }
};

Cell text(const char* utf8) {
  Cell* s = string::push_new(8);
  string::append_utf8(s, utf8);
  Cell value = *s;
  stack::pop(1);
  return value;
}

TEST_F(Collector, UnreachableSeriesAreReclaimedAndTheirNodesReused) {
  NodeId lost;
  {
    stack::Guard guard;
    lost = text("nobody holds me").data2;
  }
  uint32_t used_before = memory::usage().nodes_used;
  collector::collect();
  EXPECT_TRUE(memory::node_is_free(lost));
  EXPECT_LT(memory::usage().nodes_used, used_before);
  // Freed nodes go back to their frame's free list and are handed out again
  // before a new node frame is made, however many other frames have free
  // nodes to give first (earlier tests leave some).
  std::vector<NodeId> taken;
  bool reused = false;
  const uint32_t frames = memory::usage().node_frames;
  while (!reused && memory::usage().node_frames == frames) {
    taken.push_back(memory::alloc_node());
    reused = taken.back() == lost;
  }
  EXPECT_TRUE(reused);
  for (NodeId n : taken) memory::free_node(n);
}

TEST_F(Collector, ReachableValuesSurviveWithTheirContent) {
  stack::Guard guard;
  // Garbage before the kept string, so that compaction moves it.
  for (int i = 0; i < 200; ++i) {
    stack::Guard inner;
    text("garbage garbage garbage");
  }
  Cell* kept = stack::push(text("kept across collections"));
  SeriesBuffer* before = memory::buffer_of(kept->data2);
  collector::collect();
  collector::collect();
  EXPECT_EQ(string::to_std_string(*kept), "kept across collections");
  EXPECT_NE(memory::buffer_of(kept->data2), before) << "the buffer slid down";
  EXPECT_EQ(memory::buffer_of(kept->data2)->node, kept->data2);
  EXPECT_FALSE(memory::buffer_of(kept->data2)->flags & series_flags::kMark);
}

TEST_F(Collector, PinnedBuffersStayPut) {
  stack::Guard guard;
  for (int i = 0; i < 100; ++i) {
    stack::Guard inner;
    text("garbage garbage garbage");
  }
  Cell* kept = stack::push(text("pinned"));
  Cell* after = stack::push(text("after the pin"));
  SeriesBuffer* before = memory::buffer_of(kept->data2);
  {
    Pin pin(kept->data2);
    collector::collect();
    EXPECT_EQ(memory::buffer_of(kept->data2), before);
  }
  EXPECT_EQ(string::to_std_string(*after), "after the pin");
  collector::collect();
  EXPECT_EQ(string::to_std_string(*kept), "pinned") << "the frame is still walkable after the gap";
}

TEST_F(Collector, NestingAMillionDeepIsMarkedWithoutRecursion) {
  stack::Guard guard;
  Cell* outer = block::push_only(1);
  Cell current = *outer;
  for (int i = 0; i < 1000000; ++i) {
    Cell* inner = block::push_only(1);
    block::rs_append(&current, *inner);
    current = *inner;
    stack::pop(1);
  }
  block::rs_append(&current, integer::make(42));
  collector::collect();
  Cell walk = *outer;
  int depth = 0;
  while (block::rs_head(&walk)->is(TYPE_BLOCK)) {
    walk = *block::rs_head(&walk);
    ++depth;
  }
  EXPECT_EQ(depth, 1000000);
  EXPECT_EQ(block::rs_head(&walk)->int_at2(), 42);
}

TEST_F(Collector, ABlockThatContainsItselfSurvives) {
  stack::Guard guard;
  Cell* b = block::push_only(2);
  block::rs_append(b, *b);
  block::rs_append(b, integer::make(7));
  collector::collect();
  EXPECT_EQ(block::rs_length(b), 2);
  EXPECT_EQ(block::rs_abs_at(b, 1)->int_at2(), 7);
  EXPECT_EQ(block::rs_abs_at(b, 0)->data2, b->data2);
}

TEST_F(Collector, HeldRootsAndGlobalRootsAreMarked) {
  Cell held;
  {
    stack::Guard guard;
    held = text("held by C++");
  }
  {
    collector::Root root(&held);
    collector::collect();
    EXPECT_EQ(string::to_std_string(held), "held by C++");
  }
  collector::collect();
  EXPECT_TRUE(memory::node_is_free(held.data2)) << "without the guard it is garbage";
}

TEST_F(Collector, MemoryStaysFlatWhileGarbageIsMadeAndDropped) {
  collector::collect();
  uint64_t baseline = memory::usage().os_bytes;
  for (int round = 0; round < 50; ++round) {
    for (int i = 0; i < 5000; ++i) {
      stack::Guard guard;
      text("a short string that becomes garbage at once");
    }
    collector::safe_point();
  }
  collector::collect();
  EXPECT_LT(memory::usage().os_bytes, baseline + (8u << 20));
}

TEST_F(Collector, LongLivedBuffersAmongGarbageDoNotHoldEverMoreFrames) {
  // Each round leaves one buffer alive among garbage of varied sizes, the
  // way a long run keeps making words whose names live for good. Compaction keeps
  // such buffers in the frames they were made in, so allocation must go on
  // filling those frames rather than map new ones (it once settled on the
  // first, nearly full frame and so made a new frame at every fill).
  collector::collect();
  stack::Guard guard;
  uint32_t frames_before = memory::series_frame_count();
  uint32_t seed = 12345;
  auto next_size = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return 16 + (seed >> 16) % 4000;
  };
  for (int round = 0; round < 400; ++round) {
    for (int i = 0; i < 300; ++i) {
      stack::Guard inner;
      memory::alloc_bytes(next_size());
    }
    stack::push(make_cell(TYPE_BINARY, 0, memory::alloc_bytes(next_size()), 0));
    collector::safe_point();
  }
  collector::collect();
  EXPECT_LE(memory::series_frame_count(), frames_before + 4);
}

// A bulk value (a load, a decode) whose making let the collection fall due
// counts as live: the collection waits for as many bytes again, once per
// cycle, so loads whose results are dropped at once still get collected.
TEST_F(Collector, ABulkValueDefersTheCollectionItMadeDueOnce) {
  auto make_bytes = [](uint64_t total) {
    for (uint64_t made = 0; made < total; made += 4096) memory::alloc_bytes(4096);
  };
  collector::collect();
  const uint32_t cycles = collector::statistics().cycles;
  stack::Guard guard;
  memory::BulkMark mark = memory::bulk_mark();
  make_bytes(12u << 20);
  ASSERT_TRUE(memory::collection_requested);
  memory::take_bulk_as_live(mark);
  EXPECT_FALSE(memory::collection_requested);
  collector::safe_point();
  EXPECT_EQ(collector::statistics().cycles, cycles);
  // A second bulk in the same cycle is not taken as live.
  mark = memory::bulk_mark();
  make_bytes(13u << 20);
  ASSERT_TRUE(memory::collection_requested);
  memory::take_bulk_as_live(mark);
  EXPECT_TRUE(memory::collection_requested);
  collector::safe_point();
  EXPECT_EQ(collector::statistics().cycles, cycles + 1);
  // Nor is one whose collection fell due before it began.
  make_bytes(64u << 20);
  ASSERT_TRUE(memory::collection_requested);
  mark = memory::bulk_mark();
  make_bytes(1u << 20);
  memory::take_bulk_as_live(mark);
  EXPECT_TRUE(memory::collection_requested);
}

TEST_F(Collector, BulkValuesDroppedAtOnceStillGetCollected) {
  collector::collect();
  uint64_t baseline = memory::usage().os_bytes;
  for (int round = 0; round < 40; ++round) {
    memory::BulkMark mark = memory::bulk_mark();
    {
      stack::Guard guard;
      for (int i = 0; i < 3000; ++i) memory::alloc_bytes(4096);
    }
    memory::take_bulk_as_live(mark);
    collector::safe_point();
  }
  collector::collect();
  EXPECT_LT(memory::usage().os_bytes, baseline + (64u << 20));
}

TEST_F(Collector, NodeFramesThatEmptyStayWhileTheNextCycleWouldFillThemAgain) {
  // A program that makes and drops many short-lived series empties whole
  // node frames at every collection; giving their pages back and faulting
  // them in again right after once took a good part of such a run.
  // The garbage fills the nodes the frames have free (however many the
  // boot left in use) and then three whole frames, which the collection
  // empties.
  collector::collect();
  uint32_t free_nodes = 0;
  for (const memory::NodeFrameView& frame : memory::node_frame_views()) free_nodes += frame.capacity - frame.used;
  for (uint32_t i = 0; i < free_nodes + 3 * memory::kNodesPerFrame; ++i) {
    stack::Guard guard;
    text("garbage");
  }
  uint32_t frames_full = memory::usage().node_frames;
  collector::collect();
  EXPECT_EQ(memory::usage().node_frames, frames_full) << "the cycle handed out as many nodes as they hold";
  collector::collect();
  EXPECT_LT(memory::usage().node_frames, frames_full) << "a cycle that hands out none releases them";
}

TEST_F(Collector, PausedCollectionsDoNothing) {
  NodeId lost;
  {
    stack::Guard guard;
    lost = text("survives a paused collection").data2;
  }
  {
    collector::Pause pause;
    collector::collect();
    EXPECT_FALSE(memory::node_is_free(lost));
  }
  collector::collect();
  EXPECT_TRUE(memory::node_is_free(lost));
}

TEST_F(Collector, EvaluationSurvivesCollectionsAtEverySafePoint) {
  // The whole environment (functions, contexts, symbols) is reachable.
  for (int i = 0; i < 3; ++i) collector::collect();
  auto error = testing::catch_error([] {
    stack::Guard guard;
    Cell* r = source_evaluation::do_source("b: [] repeat-me: 0 append b 1 append b 2 length? b");
    EXPECT_EQ(r->int_at2(), 2);
  });
  EXPECT_EQ(error, std::nullopt);
}

int releases = 0;
void count_release(void*) { ++releases; }

TEST_F(Collector, ResourcesOfUnreachableHandlesAreReleasedOnce) {
  static uint32_t type = resource_table::register_type(0, count_release);
  int object = 0;
  int32_t slot = resource_table::allocate(&object, type);
  Cell handle = make_cell(TYPE_HANDLE, 1, 0, static_cast<uint32_t>(slot));
  releases = 0;
  {
    collector::Root root(&handle);
    collector::collect();
    EXPECT_EQ(releases, 0) << "a reachable handle keeps its resource";
  }
  collector::collect();
  EXPECT_EQ(releases, 1);
  collector::collect();
  EXPECT_EQ(releases, 1) << "released exactly once";
}

// --- The evacuating stress setting -------------------------------------------------

class Evacuation : public Collector {
 protected:
  void SetUp() override {
    Collector::SetUp();
    previous_ = collector::stress_mode();
    collector::set_stress_mode(collector::StressMode::kEvacuate);
  }
  void TearDown() override { collector::set_stress_mode(previous_); }

 private:
  collector::StressMode previous_ = collector::StressMode::kOff;
};

TEST_F(Evacuation, EveryCollectionMovesReachableBuffersWithTheirContent) {
  stack::Guard guard;
  Cell* kept = stack::push(text("kept across evacuations"));
  for (int i = 0; i < 5; ++i) {
    SeriesBuffer* before = memory::buffer_of(kept->data2);
    collector::collect();
    EXPECT_NE(memory::buffer_of(kept->data2), before) << "collection " << i;
    EXPECT_EQ(memory::buffer_of(kept->data2)->node, kept->data2);
  }
  EXPECT_EQ(string::to_std_string(*kept), "kept across evacuations");
}

TEST_F(Evacuation, APointerKeptAcrossACollectionFaults) {
  stack::Guard guard;
  Cell* kept = stack::push(text("moved away"));
  for (int i = 0; i < 2; ++i) {  // from a frame made before the ring, then within it
    const volatile uint8_t* stale = memory::buffer_of(kept->data2)->head_ptr();
    collector::collect();
    EXPECT_DEATH(static_cast<void>(*stale), "") << "collection " << i;
  }
  EXPECT_EQ(string::to_std_string(*kept), "moved away");
}

TEST_F(Evacuation, PinnedBuffersStayWhileTheirNeighboursMove) {
  stack::Guard guard;
  Cell* pinned = stack::push(text("pinned"));
  Cell* neighbour = stack::push(text("neighbour"));
  collector::collect();
  SeriesBuffer* pinned_at = memory::buffer_of(pinned->data2);
  SeriesBuffer* neighbour_at = memory::buffer_of(neighbour->data2);
  {
    Pin pin(pinned->data2);
    collector::collect();
    EXPECT_EQ(memory::buffer_of(pinned->data2), pinned_at);
    EXPECT_NE(memory::buffer_of(neighbour->data2), neighbour_at);
    collector::collect();
    EXPECT_EQ(memory::buffer_of(pinned->data2), pinned_at);
  }
  collector::collect();
  EXPECT_NE(memory::buffer_of(pinned->data2), pinned_at) << "unpinned, it moves again";
  EXPECT_EQ(string::to_std_string(*pinned), "pinned");
  EXPECT_EQ(string::to_std_string(*neighbour), "neighbour");
}

TEST_F(Evacuation, ABufferThatAGrowthAbandonsIsPoisoned) {
  stack::Guard guard;
  Cell* grown = stack::push(text("short"));
  SeriesBuffer* old = memory::buffer_of(grown->data2);
  const uint8_t* stale = old->data();
  string::append_utf8(grown, std::string(old->size + 1, 'x'));
  ASSERT_NE(memory::buffer_of(grown->data2), old);
  EXPECT_EQ(stale[0], 0xDD);
  EXPECT_EQ(string::to_std_string(*grown).substr(0, 6), "shortx");
}

TEST_F(Evacuation, TheRingComesRoundWithoutGrowingTheMemoryHeld) {
  // A big buffer whose pages are never touched: each move costs address
  // space only, so the ring comes round after a few hundred collections.
  stack::Guard guard;
  constexpr uint32_t kBig = 256u << 20;
  NodeId node = memory::alloc_bytes(kBig);
  stack::push(make_cell(TYPE_BINARY, 0, node, 0));
  memory::buffer_of(node)->data()[0] = 0x5A;
  memory::buffer_of(node)->data()[kBig - 1] = 0xA5;
  collector::collect();
  uint64_t held = memory::usage().os_bytes;
  bool came_round = false;
  for (int i = 0; i < 1000 && !came_round; ++i) {
    SeriesBuffer* before = memory::buffer_of(node);
    collector::collect();
    came_round = memory::buffer_of(node) < before;
  }
  EXPECT_TRUE(came_round);
  collector::collect();
  EXPECT_EQ(memory::buffer_of(node)->data()[0], 0x5A);
  EXPECT_EQ(memory::buffer_of(node)->data()[kBig - 1], 0xA5);
  EXPECT_LE(memory::usage().os_bytes, held + (8u << 20));
}

}  // namespace
}  // namespace kel
