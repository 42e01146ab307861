// The platform layer and the output hooks.
#include "runtime/platform.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "boot/boot_image.h"

#include "datatypes/string.h"
#include "runtime/output_hooks.h"
#include "test_support.h"

namespace kel {
namespace {

// Bytes the executable's file holds (its constant data, the boot image
// linked into it), and bytes it does not (the heap, the stack, past the
// end of a segment).
const char kInTheFile[] = "held by the executable's file";

TEST(Platform, TellsTheExecutablesOwnBytes) {
  EXPECT_TRUE(platform::in_executable_file(kInTheFile, sizeof kInTheFile));
  if (boot::kBuiltImage.bytes != nullptr) {
    EXPECT_TRUE(platform::in_executable_file(boot::kBuiltImage.bytes, boot::kBuiltImage.size));
  }
  std::vector<char> on_the_heap(64);
  char on_the_stack[64] = {};
  EXPECT_FALSE(platform::in_executable_file(on_the_heap.data(), on_the_heap.size()));
  EXPECT_FALSE(platform::in_executable_file(on_the_stack, sizeof on_the_stack));
  EXPECT_FALSE(platform::in_executable_file(kInTheFile, size_t{1} << 40));
}

// The VmFlags line of the mapping that holds address, from /proc/self/smaps
// (empty when no mapping holds it).
std::string vm_flags_of(const void* address) {
  std::ifstream smaps("/proc/self/smaps");
  auto at = reinterpret_cast<uintptr_t>(address);
  bool inside = false;
  for (std::string line; std::getline(smaps, line);) {
    uintptr_t from = 0, to = 0;
    if (std::sscanf(line.c_str(), "%lx-%lx ", &from, &to) == 2 && line.find('-') < line.find(' ')) {
      inside = from <= at && at < to;
    } else if (inside && line.rfind("VmFlags:", 0) == 0) {
      return line;
    }
  }
  return "";
}

// A block of a huge page or more starts on a huge page boundary either way,
// and asks for huge pages only when told to (the memory manager's budget).
TEST(Platform, AsksForHugePagesOnlyWhenTold) {
  if (!std::ifstream("/sys/kernel/mm/transparent_hugepage/enabled")) GTEST_SKIP() << "no huge pages here";
  constexpr size_t kSize = size_t{4} << 20;
  for (bool huge : {true, false}) {
    void* block = platform::os_allocate(kSize, false, huge);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % (size_t{2} << 20), 0u);
    std::string flags = vm_flags_of(block);
    ASSERT_FALSE(flags.empty());
    EXPECT_EQ(flags.find(" hg") != std::string::npos, huge) << flags;
    platform::os_free(block, kSize);
  }
}

TEST(Platform, SleepIsAtLeastOneMillisecond) {
  EXPECT_EQ(platform::milliseconds_to_sleep(0.0001), 1u);
  EXPECT_EQ(platform::milliseconds_to_sleep(0), 1u);
  EXPECT_EQ(platform::milliseconds_to_sleep(2.5), 2500u);
}

TEST(Platform, MissingFolderLeavesTheCurrentDirectory) {
  std::string before = platform::get_current_dir();
  EXPECT_FALSE(before.empty());
  EXPECT_FALSE(platform::set_current_dir("/no/such/folder/anywhere"));
  EXPECT_EQ(platform::get_current_dir(), before);
}

TEST(Platform, EnvironmentVariables) {
  std::string value = "hello world";
  EXPECT_TRUE(platform::set_env("KEL_PLATFORM_TEST", &value));
  EXPECT_EQ(platform::get_env("KEL_PLATFORM_TEST"), value);
  EXPECT_TRUE(platform::set_env("KEL_PLATFORM_TEST", nullptr));
  EXPECT_EQ(platform::get_env("KEL_PLATFORM_TEST"), std::nullopt);
}

TEST(Platform, ZonePacking) {
  EXPECT_EQ(platform::pack_zone(0), 0u);
  EXPECT_EQ(platform::pack_zone(60), 4u);
  EXPECT_EQ(platform::pack_zone(330), (5u << 2) | 2u) << "+5:30";
  EXPECT_EQ(platform::pack_zone(-480), 0x40u | (8u << 2)) << "-8:00";
}

TEST(Platform, TodayInUtcHasZoneZero) {
  uint32_t today = platform::now_local(true);
  EXPECT_EQ(today & 0x7F, 0u);
  uint32_t year = today >> 17, month = (today >> 12) & 0x1F, day = (today >> 7) & 0x1F;
  EXPECT_GE(year, 2024u);
  EXPECT_TRUE(month >= 1 && month <= 12);
  EXPECT_TRUE(day >= 1 && day <= 31);
  double now = platform::now_utc(true);
  EXPECT_TRUE(now >= 0 && now < 86400);
}

// Hooks that record what they were given.
int calls_a = 0, calls_b = 0;
void hook_a(const Cell*, bool) { ++calls_a; }
void hook_b(const Cell*, bool) { ++calls_b; }

TEST(OutputHooks, ListGrowsByFiveAndKeepsOrder) {
  testing::boot();
  output_hooks::init();
  output_hooks::remove(output_hooks::print_to_console, nullptr);
  for (int i = 0; i < 5; ++i) output_hooks::add(hook_a, nullptr);
  EXPECT_EQ(output_hooks::print_hook_capacity(), 5u);
  output_hooks::add(hook_b, nullptr);
  EXPECT_EQ(output_hooks::print_hook_capacity(), 10u);
  calls_a = calls_b = 0;
  output_hooks::print_text("x", false);
  EXPECT_EQ(calls_a, 5);
  EXPECT_EQ(calls_b, 1);
  output_hooks::remove(hook_a, nullptr);
  EXPECT_EQ(output_hooks::print_hook_count(), 5u) << "only the first entry is removed";
  output_hooks::init();
}

TEST(OutputHooks, BuildDateHasItsShape) {
  std::string date = output_hooks::build_date();
  ASSERT_EQ(date.size(), 20u);
  EXPECT_EQ(date[2], '-');
  EXPECT_EQ(date[6], '-');
  EXPECT_EQ(date[11], '/');
}

}  // namespace
}  // namespace kel
