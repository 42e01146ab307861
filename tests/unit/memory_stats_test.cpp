// Memory statistics: the figures add up frame by frame, follow what the
// program allocates, and the detailed report lays them out as blocks.
#include "datatypes/memory_stats.h"

#include <gtest/gtest.h>

#include "datatypes/block.h"
#include "runtime/stack.h"
#include "runtime/memory.h"
#include "test_support.h"

namespace kel {
namespace {

using testing::RuntimeTest;
using MemoryStatsTest = RuntimeTest;

TEST_F(MemoryStatsTest, EveryFrameEntryAddsUpAndMatchesTheMemoryManager) {
  memory_stats::Figures figures = memory_stats::gather();
  memory::Usage usage = memory::usage();

  ASSERT_FALSE(figures.node_frames.empty());
  EXPECT_EQ(figures.node_frames.size(), usage.node_frames);
  uint64_t nodes_used = 0;
  for (const auto& frame : figures.node_frames) {
    EXPECT_EQ(frame.free + frame.used, frame.capacity);
    nodes_used += frame.used;
  }
  EXPECT_EQ(nodes_used, usage.nodes_used);
  EXPECT_EQ(figures.node_frames[0].capacity, memory::kNodesPerFrame - 1) << "id 0 is never handed out";

  ASSERT_FALSE(figures.series_frames.empty());
  EXPECT_EQ(figures.series_frames.size(), usage.series_frames);
  uint64_t series_used = 0;
  for (const auto& frame : figures.series_frames) {
    EXPECT_EQ(frame.free + frame.used, frame.total);
    series_used += frame.used;
  }
  EXPECT_EQ(series_used, usage.series_bytes_used);
  EXPECT_EQ(figures.big_frames.size(), usage.big_frames);
}

TEST_F(MemoryStatsTest, TheTotalGrowsByWhatAnAllocationTakes) {
  // One node slot, plus a 100-byte request rounded to 112 bytes of
  // capacity and a 24-byte header.
  uint64_t before = memory_stats::total_bytes();
  memory::alloc_bytes(100);
  EXPECT_EQ(memory_stats::total_bytes() - before, sizeof(uintptr_t) + 112 + 24);
}

TEST_F(MemoryStatsTest, AThreeMebibyteSeriesShowsAsOneBigFrame) {
  memory_stats::Figures before = memory_stats::gather();
  memory::alloc_bytes(3 * 1048576);
  memory_stats::Figures after = memory_stats::gather();
  ASSERT_EQ(after.big_frames.size(), before.big_frames.size() + 1);
  EXPECT_GE(after.big_frames.back(), 3u * 1048576);
  EXPECT_GE(after.total - before.total, 3u * 1048576);
}

// The integers of a block.
std::vector<int32_t> integers_of(const Cell* block) {
  std::vector<int32_t> values;
  for (int32_t i = 0; i < block::rs_length(block); ++i) {
    const Cell* cell = block::rs_abs_at(block, static_cast<uint32_t>(i));
    EXPECT_TRUE(cell->is(TYPE_INTEGER));
    values.push_back(cell->int_at2());
  }
  return values;
}

TEST_F(MemoryStatsTest, TheDetailedReportLaysOutEveryFrame) {
  memory_stats::Figures figures{};
  figures.node_frames = {{9990, 9, 9999}, {10000, 0, 10000}};
  figures.series_frames = {{1000, 48576, 1048576}};
  figures.big_frames = {3145752, 0x90000000ull};
  figures.total = 6000000000ull;
  figures.heap = 123456;

  stack::Guard guard;
  Cell* result = block::push_only(8);
  memory_stats::fill_block(result, figures);
  ASSERT_EQ(block::rs_length(result), 5);
  for (uint32_t i = 0; i < 5; ++i) EXPECT_TRUE(block::rs_abs_at(result, i)->new_line()) << i;

  Cell nodes = *block::rs_abs_at(result, 0);
  ASSERT_TRUE(nodes.is(TYPE_BLOCK));
  ASSERT_EQ(block::rs_length(&nodes), 2);
  EXPECT_EQ(integers_of(block::rs_abs_at(&nodes, 0)), (std::vector<int32_t>{9990, 9, 9999}));
  EXPECT_EQ(integers_of(block::rs_abs_at(&nodes, 1)), (std::vector<int32_t>{10000, 0, 10000}));
  EXPECT_TRUE(block::rs_abs_at(&nodes, 1)->new_line());

  Cell series = *block::rs_abs_at(result, 1);
  ASSERT_EQ(block::rs_length(&series), 1);
  EXPECT_EQ(integers_of(block::rs_abs_at(&series, 0)), (std::vector<int32_t>{1000, 48576, 1048576}));

  // A figure beyond 32 bits becomes a float!.
  Cell big = *block::rs_abs_at(result, 2);
  ASSERT_EQ(block::rs_length(&big), 2);
  EXPECT_TRUE(block::rs_abs_at(&big, 0)->is(TYPE_INTEGER));
  EXPECT_EQ(block::rs_abs_at(&big, 0)->int_at2(), 3145752);
  EXPECT_TRUE(block::rs_abs_at(&big, 1)->is(TYPE_FLOAT));
  EXPECT_EQ(block::rs_abs_at(&big, 1)->as_double(), 2415919104.0);

  EXPECT_TRUE(block::rs_abs_at(result, 3)->is(TYPE_FLOAT));
  EXPECT_EQ(block::rs_abs_at(result, 3)->as_double(), 6e9);
  EXPECT_TRUE(block::rs_abs_at(result, 4)->is(TYPE_INTEGER));
  EXPECT_EQ(block::rs_abs_at(result, 4)->int_at2(), 123456);
}

TEST_F(MemoryStatsTest, TheReportDescribesMemoryAsItWasWhenAsked) {
  // Building the report allocates; its figures are those from before.
  stack::Guard guard;
  Cell* result = block::push_only(8);
  memory_stats::Figures figures = memory_stats::gather();
  memory_stats::fill_block(result);
  Cell nodes = *block::rs_abs_at(result, 0);
  ASSERT_EQ(static_cast<size_t>(block::rs_length(&nodes)), figures.node_frames.size());
  for (uint32_t i = 0; i < figures.node_frames.size(); ++i) {
    std::vector<int32_t> entry = integers_of(block::rs_abs_at(&nodes, i));
    EXPECT_EQ(entry, (std::vector<int32_t>{static_cast<int32_t>(figures.node_frames[i].free),
                                           static_cast<int32_t>(figures.node_frames[i].used),
                                           static_cast<int32_t>(figures.node_frames[i].capacity)}));
  }
  EXPECT_EQ(block::rs_abs_at(result, 3)->int_at2(), static_cast<int32_t>(figures.total));
}

TEST_F(MemoryStatsTest, NumbersThatFitIn32BitsAreIntegers) {
  struct Case {
    int64_t number;
    TypeId type;
  } cases[] = {{0, TYPE_INTEGER},
               {2147483647, TYPE_INTEGER},
               {2147483648, TYPE_FLOAT},
               {-2147483648LL, TYPE_INTEGER},
               {-2147483649LL, TYPE_FLOAT}};
  stack::Guard guard;
  Cell* result = block::push_only(8);
  for (const Case& c : cases) memory_stats::append_number(result, c.number);
  for (uint32_t i = 0; i < std::size(cases); ++i) {
    const Cell* cell = block::rs_abs_at(result, i);
    ASSERT_TRUE(cell->is(cases[i].type)) << cases[i].number;
    double value = cell->is(TYPE_INTEGER) ? cell->int_at2() : cell->as_double();
    EXPECT_EQ(value, static_cast<double>(cases[i].number));
  }
}

}  // namespace
}  // namespace kel
