// os-info's reading of uname: machine names to architecture words, and the
// kernel release to three numbers that fit a tuple's bytes.
#include <gtest/gtest.h>

#include "library/routines.h"

namespace kel {
namespace {

TEST(OsInfo, ArchitectureWords) {
  struct Case {
    const char* machine;
    const char* word;
  };
  const Case cases[] = {{"x86_64", "x86-64"}, {"i686", "x86-32"}, {"aarch64", "ARM64"},
                        {"armv7l", "ARM"},    {"ia64", "IA-64"},  {"riscv64", "Unknown"}};
  for (const Case& c : cases) EXPECT_STREQ(routines::architecture_word(c.machine), c.word) << c.machine;
}

TEST(OsInfo, ReleaseNumbersAreClampedBytes) {
  struct Case {
    const char* release;
    int32_t numbers[3];
  };
  const Case cases[] = {
      {"6.1.0-18-amd64", {6, 1, 0}},
      {"6.18.44-fc-v1523", {6, 18, 44}},
      {"5.15", {5, 15, 0}},
      {"4", {4, 0, 0}},
      {"", {0, 0, 0}},
      {"300.256.255", {255, 255, 255}},
      {"99999999999999999999.1.2", {255, 1, 2}},
  };
  for (const Case& c : cases) {
    int32_t numbers[3] = {-1, -1, -1};
    routines::release_numbers(c.release, numbers);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(numbers[i], c.numbers[i]) << c.release << " #" << i;
  }
}

}  // namespace
}  // namespace kel
