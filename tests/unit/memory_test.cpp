// The memory manager: nodes, buffer sizes and placement, growth and moves.
#include "runtime/memory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <set>

#include "test_support.h"

namespace kel {
namespace {

using testing::RuntimeTest;
using MemoryTest = RuntimeTest;

TEST_F(MemoryTest, CapacityRoundsUpToSixteenBytes) {
  struct Case {
    uint32_t count, unit, capacity;
  } cases[] = {{0, 1, 0}, {1, 1, 16}, {16, 1, 16}, {17, 1, 32}, {3, 16, 48}, {5, 4, 32}};
  for (const Case& c : cases) {
    SeriesBuffer* b = memory::alloc_series_buffer(c.count, c.unit, 0);
    EXPECT_EQ(b->size, c.capacity) << c.count << " x " << c.unit;
    EXPECT_EQ(b->unit(), c.unit);
    EXPECT_TRUE(b->flags & series_flags::kInUse);
    EXPECT_TRUE(b->flags & series_flags::kFresh);
  }
}

TEST_F(MemoryTest, ZeroByteRequestsStillGetRoom) {
  EXPECT_EQ(memory::buffer_of(memory::alloc_bytes(0))->size, 16u);
  EXPECT_EQ(memory::buffer_of(memory::alloc_codepoints(0, 2))->size, 16u);
  EXPECT_EQ(memory::buffer_of(memory::alloc_codepoints(0, 4))->size, 16u);
}

TEST_F(MemoryTest, OffsetMinusOneStartsInTheMiddle) {
  SeriesBuffer* b = memory::alloc_series_buffer(64, 1, -1);
  EXPECT_EQ(b->offset, 32u);
  EXPECT_EQ(b->tail, 32u);
  EXPECT_TRUE(b->flags & series_flags::kStartedInMiddle);
}

TEST_F(MemoryTest, BigThresholdDecidesTheFrameKind) {
  // Capacity + 24 header bytes reaching 2 MiB goes to a big frame of its own.
  uint32_t exact = memory::kBigThreshold - 24;
  SeriesBuffer* big = memory::alloc_series_buffer(exact, 1, 0);
  EXPECT_TRUE(big->flags & series_flags::kBig);
  SeriesBuffer* small = memory::alloc_series_buffer(exact - 16, 1, 0);
  EXPECT_FALSE(small->flags & series_flags::kBig);
}

TEST_F(MemoryTest, NodesLinkBothWaysAndAreReused) {
  NodeId a = memory::alloc_bytes(10);
  EXPECT_NE(a, 0u);
  EXPECT_EQ(memory::buffer_of(a)->node, a);
  memory::free_node(a);
  EXPECT_TRUE(memory::node_is_free(a));
  NodeId b = memory::alloc_node();
  EXPECT_EQ(b, a) << "the last freed node is handed out first";
  memory::free_node(b);
}

TEST_F(MemoryTest, ManyNodesSpanSeveralFramesWithDistinctIds) {
  std::set<NodeId> seen;
  for (int i = 0; i < 25000; ++i) seen.insert(memory::alloc_node());
  EXPECT_EQ(seen.size(), 25000u);
  EXPECT_EQ(seen.count(0), 0u);
  EXPECT_GE(memory::usage().node_frames, 3u);
  for (NodeId n : seen) memory::free_node(n);
}

TEST_F(MemoryTest, ResizeAbandonsTheOldBufferAndKeepsTheNode) {
  NodeId node = memory::alloc_bytes_filled(20, 0xAB);
  SeriesBuffer* old = memory::buffer_of(node);
  SeriesBuffer* fresh = memory::expand_series(old, 200);
  EXPECT_EQ(memory::buffer_of(node), fresh);
  EXPECT_EQ(fresh->node, node);
  EXPECT_EQ(fresh->used(), 20u);
  EXPECT_GE(fresh->size, 200u);
  EXPECT_EQ(fresh->head_ptr()[19], 0xAB);
  EXPECT_EQ(old->node, 0u);
  EXPECT_FALSE(old->flags & series_flags::kInUse);
}

TEST_F(MemoryTest, ExpandMovesContentToTheStart) {
  NodeId node = memory::alloc_series(64, 1, -1);
  SeriesBuffer* b = memory::buffer_of(node);
  std::memcpy(b->tail_ptr(), "hello", 5);
  b->tail += 5;
  b = memory::expand_series(b, 0);
  EXPECT_EQ(b->offset, 0u);
  EXPECT_EQ(std::memcmp(b->head_ptr(), "hello", 5), 0);
  EXPECT_EQ(b->size, 128u) << "size 0 means twice the capacity";
}

TEST_F(MemoryTest, CopySeriesGetsSameCapacityFlagsAndContent) {
  NodeId node = memory::alloc_codepoints(10, 2);
  SeriesBuffer* b = memory::buffer_of(node);
  b->tail = 6;
  std::memcpy(b->data(), "a\0b\0c\0", 6);
  NodeId copy = memory::copy_series(b);
  SeriesBuffer* c = memory::buffer_of(copy);
  EXPECT_EQ(c->size, b->size);
  EXPECT_EQ(c->unit(), 2u);
  EXPECT_EQ(c->used(), 6u);
  EXPECT_EQ(std::memcmp(c->head_ptr(), b->head_ptr(), 6), 0);
  EXPECT_EQ(c->node, copy);
}

TEST_F(MemoryTest, SeriesFramesStayInAddressOrder) {
  // Fill enough to force several new frames.
  for (int i = 0; i < 40; ++i) memory::alloc_series_buffer(200000, 1, 0);
  uint32_t count = memory::series_frame_count();
  ASSERT_GE(count, 2u);
  for (uint32_t i = 1; i < count; ++i)
    EXPECT_LT(memory::series_frame_at(i - 1).start, memory::series_frame_at(i).start);
}

TEST_F(MemoryTest, UnsetCellsAreUnset) {
  NodeId node = memory::alloc_unset_cells(4);
  Cell* cells = reinterpret_cast<Cell*>(memory::buffer_of(node)->data());
  for (int i = 0; i < 4; ++i) EXPECT_EQ(cells[i].type(), TYPE_UNSET);
}

TEST_F(MemoryTest, PinCountsNest) {
  NodeId node = memory::alloc_bytes(4);
  {
    Pin a(node);
    Pin b(node);
    EXPECT_EQ(memory::buffer_of(node)->pins, 2u);
  }
  EXPECT_EQ(memory::buffer_of(node)->pins, 0u);
}

// --- Sizes and growth: computed in 64 bits, checked against the one series
// limit; growth near the limit takes the limit, not the bare request. These
// call the sizing functions with big numbers; nothing is allocated.

constexpr uint64_t kLimit = memory::kMaxSeriesBytes;

TEST_F(MemoryTest, GrowthDoublesOrTakesWhatIsNeededUpToTheLimit) {
  struct Case {
    uint64_t current, needed, grown;
  } cases[] = {
      {64, 65, 128},                        // doubling
      {64, 1000, 1000},                     // more than twice: what is needed
      {0, 1, 1},                            // an empty buffer grows at all
      {0x30000000, 0x30000001, 0x60000000}, // 768 MiB doubles to 1.5 GiB
      // Near the limit the capacity stops at the limit, so that the next
      // requests find room instead of each costing a copy of everything.
      {0x40000000, 0x40000001, kLimit},     // 1 GiB: twice would pass the limit
      {0x70000000, 0x70000010, kLimit},
      {0x7FFFFFE0, kLimit, kLimit},         // exactly the limit is allowed
      {kLimit, kLimit, kLimit},
  };
  for (const Case& c : cases) {
    std::optional<ErrorId> error = testing::catch_error([&] {
      EXPECT_EQ(memory::grown_capacity(c.current, c.needed), c.grown) << c.current << " for " << c.needed;
    });
    EXPECT_EQ(error, std::nullopt) << c.current << " for " << c.needed;
  }
}

TEST_F(MemoryTest, SizesPastTheSeriesLimitAreOutOfMemory) {
  // Sizes that a 32-bit computation would wrap to something small.
  for (uint64_t needed : {kLimit + 1, uint64_t{0x80000000}, uint64_t{0x100000000} + 16, uint64_t{1} << 40}) {
    EXPECT_EQ(testing::catch_error([&] { memory::grown_capacity(0x40000000, needed); }),
              ErrorId::internal_no_memory)
        << needed;
    EXPECT_EQ(testing::catch_error([&] { memory::check_series_size(needed); }), ErrorId::internal_no_memory)
        << needed;
  }
  EXPECT_EQ(testing::catch_error([] { memory::check_series_size(kLimit); }), std::nullopt);
  // A buffer already at the limit cannot take one byte more.
  EXPECT_EQ(testing::catch_error([] { memory::grown_capacity(kLimit, kLimit + 1); }), ErrorId::internal_no_memory);
}

TEST_F(MemoryTest, ResizingWithoutASizeGrowsAnEmptyBuffer) {
  // 0 asks for the next growth step, which an empty buffer must take too.
  SeriesBuffer* empty = memory::alloc_series_buffer(0, sizeof(Cell), 0);
  ASSERT_EQ(empty->size, 0u);
  SeriesBuffer* grown = memory::expand_series(empty, 0);
  EXPECT_GE(grown->size, sizeof(Cell));
}

}  // namespace
}  // namespace kel
