// The console's C++ parts: the halt that a console interrupt requests, and
// the repair of piped input that is not well-formed UTF-8. The console's
// behaviour as a whole is tested through the real binary (tests/console).
#include <gtest/gtest.h>

#include <string>

#include "console/terminal.h"
#include "evaluator/actions.h"
#include "evaluator/evaluate.h"
#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "test_support.h"

namespace kel {
namespace {

class ConsoleHaltTest : public testing::RuntimeTest {
 protected:
  void TearDown() override { interpreter::halt_requested = 0; }

  std::string evaluate(const char* source) {
    stack::Guard guard;
    return actions::mold_to_string(*evaluate::do_source(source), false);
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

// Without a catch frame nothing could receive the halt: it waits (the
// console clears a request that came while no code of the user's ran).
TEST_F(ConsoleHaltTest, AHaltWaitsWhileNoCatchCouldTakeIt) {
  interpreter::halt_requested = 1;
  EXPECT_EQ(evaluate("1 + 2"), "3");
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

}  // namespace
}  // namespace kel
