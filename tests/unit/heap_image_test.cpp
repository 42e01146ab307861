// The heap image: a start puts the writer's heap back (the test runtime
// itself started that way), a heap written and read back is the heap it
// was, whatever was made or changed in between, and an image that does
// not hold together is refused with its reason, the heap untouched.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "boot/boot_heap.h"
#include "datatypes/block.h"
#include "evaluator/source_evaluation.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "test_support.h"

namespace kel {
namespace {

using HeapImageTest = testing::RuntimeTest;

std::vector<uint8_t> heap_image() {
  std::vector<uint8_t> image;
  const char* failure = nullptr;
  EXPECT_TRUE(memory::write_heap_image(&image, 0, &failure)) << (failure ? failure : "");
  return image;
}

TEST_F(HeapImageTest, TheTestRuntimeStartedFromTheImagesHeap) {
  if (boot::kBuiltImage.bytes == nullptr) GTEST_SKIP() << "this build boots from the sources";
  EXPECT_TRUE(boot::started_from_heap());
}

TEST_F(HeapImageTest, ReadingAHeapBackUndoesWhatWasMadeAfterIt) {
  stack::Guard guard;
  Cell block = *source_evaluation::do_source("kept: [1 2 3]");
  (void)block;
  std::vector<uint8_t> image = heap_image();
  uint64_t fingerprint = memory::heap_fingerprint();
  // Made and changed after the image was taken: a new series, and the
  // block grown far past its buffer.
  NodeId made = memory::alloc_cells(1000);
  source_evaluation::do_source("append/dup kept 7 500");
  ASSERT_NE(memory::heap_fingerprint(), fingerprint);
  const char* failure = nullptr;
  ASSERT_TRUE(memory::read_heap_image(image.data(), image.size(), false, &failure)) << failure;
  EXPECT_EQ(memory::heap_fingerprint(), fingerprint);
  EXPECT_TRUE(memory::node_is_free(made));
  // The runtime goes on from the heap it got back.
  Cell* length = source_evaluation::do_source("append kept 4  length? kept");
  EXPECT_EQ(integer::get(*length), 4);
}

TEST_F(HeapImageTest, APinnedBufferKeepsTheHeapFromAnImage) {
  stack::Guard guard;
  NodeId node = memory::alloc_cells(4);
  Pin pin(node);
  std::vector<uint8_t> image;
  const char* failure = nullptr;
  EXPECT_FALSE(memory::write_heap_image(&image, 0, &failure));
  EXPECT_STREQ(failure, "a buffer is pinned or marked");
}

// The image's layout: a 56-byte header (counts first), a 24-byte record a
// node frame, per series frame a 32-byte record (serial, size, bytes in
// use, zero bytes before them) and its bytes padded to 8, then a u32 a
// node slot.
TEST_F(HeapImageTest, AnImageThatDoesNotHoldTogetherIsRefused) {
  std::vector<uint8_t> image = heap_image();
  uint32_t node_frames;
  std::memcpy(&node_frames, image.data() + 8, 4);
  size_t first_frame = 56 + 24 * size_t{node_frames};
  size_t slots = image.size() - size_t{node_frames} * memory::kNodesPerFrame * 4;
  auto with_u32 = [&](size_t at, uint32_t value) {
    std::vector<uint8_t> changed = image;
    std::memcpy(changed.data() + at, &value, 4);
    return changed;
  };
  auto with_u64 = [&](size_t at, uint64_t value) {
    std::vector<uint8_t> changed = image;
    std::memcpy(changed.data() + at, &value, 8);
    return changed;
  };
  std::vector<uint8_t> longer = image;
  longer.push_back(0);
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    const char* failure;
  };
  const Case cases[] = {
      {"no bytes", {}, "the heap image is cut short"},
      {"cut inside the slots", std::vector<uint8_t>(image.begin(), image.end() - 4), "the heap image is cut short"},
      {"a byte past the slots", longer, "the heap image is cut short"},
      {"another magic number", with_u32(0, 0x12345678), "the heap image has another format"},
      {"no node frames", with_u32(8, 0), "the heap image's counts are out of range"},
      {"an active frame past the frames", with_u32(20, 300), "the heap image's counts are out of range"},
      {"a frame using more than its size", with_u64(first_frame + 8, 16),
       "a series frame of the heap image does not hold together"},
      {"a frame out of order", with_u64(first_frame, 1), "a series frame of the heap image does not hold together"},
      {"a frame's bytes a page or more past its record", with_u64(first_frame + 24, 4096),
       "a series frame of the heap image does not hold together"},
      {"a slot naming a frame it does not have", with_u32(slots + 4, 0x7F000008),
       "a node of the heap image names no buffer"},
      {"a slot naming a place past its frame's bytes", with_u32(slots + 4, 0x01FFFFF8),
       "a node of the heap image names no buffer"},
      {"a free node linking past the nodes", with_u32(slots + 4, (node_frames * memory::kNodesPerFrame + 1) << 1 | 1),
       "a free node of the heap image links outside its nodes"},
  };
  uint64_t fingerprint = memory::heap_fingerprint();
  for (const Case& c : cases) {
    const char* failure = nullptr;
    EXPECT_FALSE(memory::read_heap_image(c.bytes.data(), c.bytes.size(), false, &failure)) << c.what;
    EXPECT_STREQ(failure, c.failure) << c.what;
    EXPECT_EQ(memory::heap_fingerprint(), fingerprint) << c.what;
  }
}

}  // namespace
}  // namespace kel
