// The runtime floor: threshold catches, heap blocks, the runtime-error
// report and the fault handlers, angle folding and the char printer.
#include "runtime/runtime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>

#include "evaluator/interpreter.h"
#include "runtime/exits.h"
#include "runtime/output.h"
#include "test_support.h"

namespace kel {
namespace {

TEST(ExitsTest, ThresholdCatchesEveryCodeNotAboveIt) {
  struct Case {
    uint32_t threshold, code;
    bool caught;
  } cases[] = {
      {exits::kMemoryCatch, exits::kOsCommitRefused, true},
      {exits::kMemoryCatch, exits::kMemoryCatch, true},
      {exits::kMemoryCatch, exits::kThrow, false},
      {exits::kMemoryCatch, exits::kError, false},
      {exits::kError, exits::kThrow, true},
      {exits::kError, exits::kBreak, true},
      {exits::kError, exits::kError, true},
      {exits::kBreak, exits::kError, false},
      {exits::kCatchAll, exits::kError, true},
  };
  for (const Case& c : cases) {
    uint32_t caught = 0;
    bool passed_out = false;
    try {
      caught = exits::catch_exits(c.threshold, [&] { exits::throw_unwind(c.code); });
    } catch (const exits::Unwind& u) {
      passed_out = true;
      EXPECT_EQ(u.code, c.code);
    }
    EXPECT_EQ(passed_out, !c.caught) << std::hex << c.threshold << " / " << c.code;
    if (c.caught) {
      EXPECT_EQ(caught, c.code);
    }
    EXPECT_EQ(runtime::system().exit_code, c.code) << "a raise records its code";
  }
}

TEST(ExitsTest, CompletingBodyCatchesNothing) {
  EXPECT_EQ(exits::catch_exits(exits::kError, [] {}), 0u);
}

TEST(HeapTest, BlocksJoinAndLeaveTheLiveList) {
  size_t before = runtime::live_block_count();
  void* a = runtime::allocate(10);
  void* b = runtime::allocate_zeroed(100);
  EXPECT_EQ(runtime::live_block_count(), before + 2);
  EXPECT_EQ(static_cast<unsigned char*>(b)[99], 0);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 16, 0u);
  runtime::free(a);
  runtime::free(b);
  EXPECT_EQ(runtime::live_block_count(), before);
}

TEST(HeapTest, ResizeOfNullAllocatesAndToZeroFrees) {
  size_t before = runtime::live_block_count();
  void* p = runtime::resize(nullptr, 32);
  ASSERT_NE(p, nullptr);
  std::memset(p, 7, 32);
  p = runtime::resize(p, 100000);
  EXPECT_EQ(static_cast<unsigned char*>(p)[31], 7) << "content survives a move";
  EXPECT_EQ(runtime::live_block_count(), before + 1);
  EXPECT_EQ(runtime::resize(p, 0), nullptr);
  EXPECT_EQ(runtime::live_block_count(), before);
}

TEST(RuntimeErrorReport, TextIsByteExact) {
  EXPECT_EQ(runtime::format_report(0, 0x1234), "");
  EXPECT_EQ(runtime::format_report(95, 0x00401A2B),
            "\n*** Runtime Error 95: no CATCH for THROW\n*** at: 00401A2Bh\n");
  EXPECT_EQ(runtime::format_report(57, 0xDEADBEEF),
            "\n*** Runtime Error 57: unknown error code!\n*** at: DEADBEEFh\n");
  EXPECT_EQ(runtime::format_report(6, 0), "\n*** Runtime Error 6: float denormal operan\n*** at: 00000000h\n");
}

TEST(RuntimeErrorReport, MessagesOfTheTable) {
  struct Case {
    int code;
    const char* message;
  } cases[] = {{1, "access violation"},       {13, "integer divide by zero"},
               {19, "stack error or overflow"}, {34, "Bus error"},
               {94, "out of memory"},          {98, "assertion failed"},
               {99, "unknown error"},          {100, "no value matched in CASE"},
               {101, "no value matched in SWITCH"}, {35, "unknown error code!"}};
  for (const Case& c : cases) EXPECT_STREQ(runtime::error_message(c.code), c.message) << c.code;
}

class RuntimeDeathTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(RuntimeDeathTest, QuitEndsWithTheCodeAsStatus) {
  EXPECT_EXIT(runtime::quit(95, 0), ::testing::ExitedWithCode(95), "");
  EXPECT_EXIT(runtime::quit(0, 0), ::testing::ExitedWithCode(0), "");
}

TEST_F(RuntimeDeathTest, UncaughtThrowReachesTheTopCatch) {
  EXPECT_EXIT(runtime::top_catch(), ::testing::ExitedWithCode(95), "");
}

#ifndef KEL_SANITIZE
volatile int zero = 0;

// A real integer division instruction, which the optimiser cannot remove.
void divide_by(int divisor) {
  int quotient = 1, remainder = 0;
  asm volatile("cltd\n\tidivl %2" : "+a"(quotient), "=&d"(remainder) : "r"(divisor) : "cc");
}
volatile int* volatile nowhere = nullptr;

TEST_F(RuntimeDeathTest, HardwareFaultsEndThroughTheReport) {
  EXPECT_EXIT(
      {
        runtime::start_up(0, nullptr);
        *nowhere = 1;
      },
      ::testing::ExitedWithCode(1), "");
  EXPECT_EXIT(
      {
        runtime::start_up(0, nullptr);
        divide_by(zero);
      },
      ::testing::ExitedWithCode(13), "");
}
#endif

// A console interrupt no longer ends the process: it asks the interpreter
// to halt the evaluation in progress.
TEST_F(RuntimeDeathTest, ConsoleInterruptRequestsAHaltAndTheProcessGoesOn) {
  EXPECT_EXIT(
      {
        runtime::start_up(0, nullptr);
        interpreter::halt_requested = 0;
        std::raise(SIGINT);
        std::_Exit(interpreter::halt_requested ? 7 : 8);
      },
      ::testing::ExitedWithCode(7), "");
}

TEST(AngleFolding, FoldsIntoTheRangeOfEachFunction) {
  const double pi = 3.141592653589793;
  EXPECT_DOUBLE_EQ(runtime::degrees_to_radians(270, 1), -pi / 2);
  EXPECT_DOUBLE_EQ(runtime::degrees_to_radians(135, 0), -45 * pi / 180);
  EXPECT_DOUBLE_EQ(runtime::degrees_to_radians(135, 2), 45 * pi / 180);
  EXPECT_DOUBLE_EQ(runtime::degrees_to_radians(-135, 2), -45 * pi / 180);
  EXPECT_EQ(std::sin(runtime::degrees_to_radians(180, 2)), 0.0) << "sine 180 is exactly 0";
}

TEST(CharLiteral, WritesTheLanguagesCharSyntax) {
  struct Case {
    uint8_t byte;
    const char* text;
  } cases[] = {{9, "#\"^-\""},  {27, "#\"^[\""},   {200, "#\"^(C8)\""}, {65, "#\"A\""},
               {0, "#\"^@\""},  {10, "#\"^/\""},   {1, "#\"^A\""},      {30, "#\"^^\""},
               {31, "#\"^_\""}, {127, "#\"\x7F\""}, {34, "#\"\"\""},   {94, "#\"^\""}};
  for (const Case& c : cases) EXPECT_EQ(runtime::char_literal_text(c.byte), c.text) << int(c.byte);
}

}  // namespace
}  // namespace kel

namespace kel {
namespace {

std::string captured;
void capture(const char* bytes, size_t count) { captured.append(bytes, count); }

class TypedPrint : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::boot();
    captured.clear();
    output::set_terminal(false);
    output::set_sink(capture);
  }
  void TearDown() override { output::set_sink(nullptr); }
};

TEST_F(TypedPrint, ItemsByType) {
  runtime::print(true, ' ', int32_t{-42}, ' ', 1.5, ' ', 0.1f, ' ', runtime::Hex{0xBEEF}, " end");
  EXPECT_EQ(captured, "true -42 1.5 0.1 0000BEEF end");
}

TEST_F(TypedPrint, SeparatedItemsGetOneSpaceUnlessTheyEndInBlank) {
  runtime::print_typed(true, "a", "b ", "c\n", "d", int32_t{5});
  EXPECT_EQ(captured, "a b c\nd 5");
}

TEST_F(TypedPrint, PrintLineEndsWithLineFeed) {
  runtime::print_line("x", int32_t{1});
  EXPECT_EQ(captured, "x1\n");
}

TEST_F(TypedPrint, PrintCharsStopsAtCountOrNul) {
  struct Case {
    int32_t count;
    const char* written;
  } cases[] = {{3, "hel"}, {9, "hello"}, {0, ""}, {-1, "hello"}};
  for (const Case& c : cases) {
    captured.clear();
    EXPECT_STREQ(runtime::print_chars("hello", c.count), "hello");
    EXPECT_EQ(captured, c.written) << c.count;
  }
}

}  // namespace
}  // namespace kel
