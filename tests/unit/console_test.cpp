// The console's C++ parts: the halt that a console interrupt requests, the
// repair of piped input that is not well-formed UTF-8, and the title. The console's
// behaviour as a whole is tested through the real binary (tests/console).
#include <gtest/gtest.h>
#include <pthread.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>

#include "console/terminal.h"
#include "runtime/actions.h"
#include "evaluator/source_evaluation.h"
#include "evaluator/interpreter.h"
#include "runtime/stack.h"
#include "runtime/runtime.h"
#include "test_support.h"

namespace kel {
namespace {

class ConsoleHaltTest : public testing::RuntimeTest {
 protected:
  void TearDown() override { interpreter::halt_requested = 0; }

  std::string evaluate(const char* source) {
    stack::Guard guard;
    return actions::mold_to_string(*source_evaluation::do_source(source), false);
  }
};

TEST_F(ConsoleHaltTest, ARequestedHaltEndsAnEndlessLoopAtTheConsolesCatch) {
  interpreter::halt_requested = 1;
  EXPECT_EQ(evaluate("catch/name [forever [1 + 1]] 'console"), "halt-request");
  EXPECT_EQ(interpreter::halt_requested, 0);
}

TEST_F(ConsoleHaltTest, AHaltLeavesEveryCallBetweenItAndTheCatch) {
  interpreter::halt_requested = 1;
  EXPECT_EQ(evaluate("f: func [n] [f n + 1]  catch/name [while [true] [f 1]] 'console"), "halt-request");
}

// Code that catches everything it can must not keep Ctrl-C from stopping
// it: the halt passes every catch and try that is not the console's.
TEST_F(ConsoleHaltTest, AHaltPassesEveryOtherCatchAndTry) {
  for (const char* guard : {"catch [x: 1]", "try [x: 1]", "try/all [x: 1]", "catch/name [x: 1] 'other",
                            "catch/name [x: 1] [halt-request]", "parse \"abc\" [while [none]]"}) {
    interpreter::halt_requested = 1;
    std::string source = "catch/name [forever [" + std::string(guard) + "]] 'console";
    EXPECT_EQ(evaluate(source.c_str()), "halt-request") << guard;
    EXPECT_EQ(interpreter::halt_requested, 0) << guard;
  }
}

// A request that comes while the parse engine loops over its rules stops it
// there: no Kel code runs inside such a loop.
TEST_F(ConsoleHaltTest, AHaltStopsAParseLoopThatRunsNoCode) {
  std::thread interrupter([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    interpreter::halt_requested = 1;
  });
  EXPECT_EQ(evaluate("catch/name [parse \"abc\" [while [none]]] 'console"), "halt-request");
  interrupter.join();
}

// Ctrl-C wakes wait: the process's own SIGINT handler, a signal sent while
// the wait sleeps, and the halt at once (the wait would last 1000 s).
TEST(ConsoleHaltDeathTest, CtrlCWakesAWaitToHaltIt) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        runtime::start_up(0, nullptr);
        testing::boot();
        pthread_t sleeper = pthread_self();
        std::thread interrupter([sleeper] {
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
          pthread_kill(sleeper, SIGINT);
        });
        stack::Guard guard;
        Cell* caught = source_evaluation::do_source("catch/name [wait 1000] 'console");
        std::string result = actions::mold_to_string(*caught, false);
        interrupter.join();
        std::_Exit(result == "halt-request" ? 7 : 8);
      },
      ::testing::ExitedWithCode(7), "");
}

// Without a catch for the name console nothing could receive the halt: it
// waits (the console clears a request that came while no code of the
// user's ran).
TEST_F(ConsoleHaltTest, AHaltWaitsWhileNoCatchCouldTakeIt) {
  interpreter::halt_requested = 1;
  EXPECT_EQ(evaluate("1 + 2"), "3");
  EXPECT_EQ(evaluate("catch [try/all [1 + 2]]"), "3");
  EXPECT_EQ(interpreter::halt_requested, 1);
}

TEST(ConsoleInputTest, PipedBytesThatAreNoUtf8BecomeReplacementCharacters) {
  const std::string replacement = "\xEF\xBF\xBD";
  struct Case {
    std::string bytes;
    std::string text;
  } cases[] = {
      {"plain", "plain"},
      {"caf\xC3\xA9", "caf\xC3\xA9"},
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
      {"a\x80z", "a" + replacement + "z"},                   // a lone continuation byte
      {"\xC3", replacement},                                  // a sequence cut short
      {"\xC0\xAF", replacement + replacement},                // an overlong form
      {"\xED\xA0\x80", replacement + replacement + replacement},  // a surrogate
      {"\xFF" "ok", replacement + "ok"},
      {"line\r", "line\r"},  // a carriage return stays in the line
  };
  for (const Case& c : cases) EXPECT_EQ(terminal::repaired_utf8(c.bytes), c.text) << c.bytes;
}

// The title is written inside an escape sequence: a control character in
// it (BEL, ESC, or one of the C1 controls from U+0080 to U+009F) would end
// the sequence early and let the rest act on the terminal.
TEST(ConsoleTitleTest, ControlCharactersInTheTitleAreLeftOut) {
  EXPECT_EQ(terminal::title_sequence("Kel Console"), "\x1B]0;Kel Console\x07");
  EXPECT_EQ(terminal::title_sequence("a\x07" "b\x1B" "]c\xC2\x9B" "d\xC3\xA9\xC2\xA0"),
            "\x1B]0;ab]cd\xC3\xA9\xC2\xA0\x07");
}

}  // namespace
}  // namespace kel
