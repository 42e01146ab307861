// The interpreter, end to end from source text: evaluation order, infix
// operators, words, paths and the errors of evaluation.
#include "evaluator/interpreter.h"

#include <gtest/gtest.h>

#include "runtime/actions.h"
#include "evaluator/source_evaluation.h"
#include "test_support.h"

namespace kel {
namespace {

using testing::catch_error;
using Interpreter = testing::RuntimeTest;

// The molded result of evaluating source, or the error's id word.
std::string run(const char* source) {
  std::string out;
  auto error = catch_error([&] {
    stack::Guard guard;
    Cell* result = source_evaluation::do_source(source);
    out = actions::mold_to_string(*result, false);
  });
  if (error) return std::string("error: ") + error_info(*error).word;
  return out;
}

TEST_F(Interpreter, Expressions) {
  struct Case {
    const char* source;
    const char* expected;
  } cases[] = {
      {"1", "1"},
      {"1 2 3", "3"},
      {"", "unset"},
      {"1 + 2", "3"},
      {"1 + 2 * 3", "9"},
      {"2 * (3 + 4)", "14"},
      {"a: 1 + 2 a", "3"},
      {"a: b: 5 a + b", "10"},
      {"'foo", "foo"},
      {"x: 10 :x", "10"},
      {"[1 + 2]", "[1 + 2]"},
      {"(1 + 2)", "3"},
      {"true and false", "false"},
      {"add 1 2", "3"},
      {"add 1 2 * 3", "7"},
      {"2 * 3", "6"},
      {"multiply 2 3", "6"},
      {"1 + 2 + 3", "6"},
      {"b: [10 20 30] b/2", "20"},
      {"b: [10 20 30] b/2: 99 b", "[10 99 30]"},
      {"length? [1 2 3]", "3"},
      {"append [1 2] 3", "[1 2 3]"},
      {"head? next [1 2]", "false"},
  };
  for (const Case& c : cases) EXPECT_EQ(run(c.source), c.expected) << c.source;
}

TEST_F(Interpreter, Errors) {
  struct Case {
    const char* source;
    const char* error;
  } cases[] = {
      {"undefined-word-here", "no-value"},
      {"a:", "need-value"},
      {"+ 1 2", "no-op-arg"},
      {"add 1", "no-arg"},
      {"add 1 \"x\"", "expect-arg"},
  };
  for (const Case& c : cases) EXPECT_EQ(run(c.source), std::string("error: ") + c.error) << c.source;
}

}  // namespace
}  // namespace kel
