// The function makers and evaluation natives as C++ callers see them (type
// checks on request), and the tracing module's own state: event masks, one
// tracer at a time, the stacks and flags put back after a report.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "runtime/actions.h"
#include "evaluator/source_evaluation.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/natives_families.h"
#include "evaluator/trace.h"
#include "test_support.h"

namespace kel {
namespace {

using testing::catch_error;
using EvalNatives = testing::RuntimeTest;
using Tracing = testing::RuntimeTest;

// Evaluates source and pushes its result (kept on the stack, so it survives
// collections for as long as the caller's stack guard lives).
Cell* value_of(const char* source) { return source_evaluation::do_source(source); }

// Calls a native as C++ code does: a native frame holding the arguments,
// the types checked by the entry.
void call_checked(natives::Native native, std::initializer_list<const Cell*> arguments,
                  std::vector<int32_t> refinements) {
  stack::mark_native(nullptr);
  for (const Cell* argument : arguments) stack::push(*argument);
  refinements.resize(8, -1);
  natives::call(static_cast<uint32_t>(native), true, refinements.data());
}

TEST_F(EvalNatives, CheckedCallsRefuseArgumentsOutsideTheirTypesBeforeActing) {
  struct Case {
    const char* what;
    natives::Native native;
    std::vector<const char*> arguments;
    std::vector<int32_t> refinements;
  } cases[] = {
      {"func with an integer spec", natives::Native::func, {"1", "[]"}, {}},
      {"function with an integer body", natives::Native::function, {"[]", "1"}, {-1}},
      {"does with a string", natives::Native::does, {"{x}"}, {}},
      {"has with an integer", natives::Native::has, {"1", "[]"}, {}},
      {"do of unset", natives::Native::do_, {"()"}, {-1, -1, -1, -1}},
      {"do/next with a block as position", natives::Native::do_, {"[1]", "[p]"}, {-1, -1, 1, -1}},
      {"get of an integer", natives::Native::get, {"1"}, {-1, -1}},
      {"set of a string", natives::Native::set, {"{x}", "1"}, {-1, -1, -1, -1}},
      {"reduce/into an integer", natives::Native::reduce, {"[1]", "2"}, {1}},
      {"compose of an integer", natives::Native::compose, {"1"}, {-1, -1, -1}},
      {"bind to an integer", natives::Native::bind, {"[a]", "1"}, {-1}},
      {"in of a string", natives::Native::in, {"{x}", "'a"}, {}},
      {"parse of an integer", natives::Native::parse, {"1", "[]"}, {-1, -1, -1}},
  };
  for (const Case& c : cases) {
    auto error = catch_error([&] {
      std::vector<Cell*> values;
      for (const char* source : c.arguments) values.push_back(value_of(source));
      std::vector<int32_t> refinements = c.refinements;
      stack::mark_native(nullptr);
      for (Cell* v : values) stack::push(*v);
      refinements.resize(8, -1);
      natives::call(static_cast<uint32_t>(c.native), true, refinements.data());
    });
    EXPECT_EQ(error, ErrorId::script_expect_arg) << c.what;
  }
}

TEST_F(EvalNatives, CheckedCallsRunWithArgumentsOfTheirTypes) {
  std::string molded;
  auto error = catch_error([&] {
    Cell* code = value_of("[1 + 2]");
    call_checked(natives::Native::reduce, {code}, {-1});
    molded = actions::mold_to_string(*stack::arguments(), false);
  });
  EXPECT_FALSE(error.has_value());
  EXPECT_EQ(molded, "[3]");
}

// A short reduce makes its block at the size of its values: the two-value
// blocks of a tree built by reduce once kept a cell of room for every cell
// of their code, which the collector then walked and compacted for as long
// as the tree lived.
TEST_F(EvalNatives, AShortReduceMakesItsBlockAtTheSizeOfItsValues) {
  auto error = catch_error([] {
    struct Case {
      const char* source;
      uint32_t capacity_in_cells;
    } cases[] = {
        {"reduce [1 + 1 2 * 3]", 2},
        {"reduce [none none]", 2},
        {"reduce skip [1 + 1 2 * 3 4] 3", 2},
        {"reduce []", 1},
    };
    for (const Case& c : cases) {
      Cell* result = value_of(c.source);
      ASSERT_TRUE(result->is(TYPE_BLOCK)) << c.source;
      EXPECT_EQ(block::buffer_of(result)->size, c.capacity_in_cells * sizeof(Cell)) << c.source;
    }
  });
  EXPECT_FALSE(error.has_value());
}

TEST_F(EvalNatives, ComposeOfANonBlockFromCppRaisesExpectVal) {
  // Without the type check the entry still refuses what it cannot compose.
  auto error = catch_error([] {
    Cell* value = value_of("1");
    stack::mark_native(nullptr);
    stack::push(*value);
    int32_t refinements[3] = {-1, -1, -1};
    natives::call(static_cast<uint32_t>(natives::Native::compose), false, refinements);
  });
  EXPECT_EQ(error, ErrorId::script_expect_val);
}

TEST_F(EvalNatives, PrintRemembersWhetherItEndedTheLine) {
  auto error = catch_error([] {
    value_of("prin {}");
    EXPECT_FALSE(natives_eval::last_line_feed());
    value_of("print {}");
    EXPECT_TRUE(natives_eval::last_line_feed());
  });
  EXPECT_FALSE(error.has_value());
}

// --- Tracing ----------------------------------------------------------------------------

TEST_F(Tracing, TheEventMaskComesFromTheBlockThatStartsTheTracersBody) {
  struct Case {
    const char* tracer;
    uint32_t mask;
  } cases[] = {
      {"func [e c o v r f] [[call] 1]", trace::kCall},
      {"func [e c o v r f] [[init end expr] 1]", trace::kInit | trace::kEnd | trace::kExpr},
      {"func [e c o v r f] [[CALL Return] 1]", trace::kCall | trace::kReturn},
      {"func [e c o v r f] [[nothing 1 \"x\"] 1]", 0},
      {"func [e c o v r f] [1 [call]]", trace::kDefaultMask},
      {"func [e c o v r f] []", trace::kDefaultMask},
  };
  for (const Case& c : cases) {
    uint32_t mask = 0;
    auto error = catch_error([&] { mask = trace::event_mask(*value_of(c.tracer)); });
    EXPECT_FALSE(error.has_value()) << c.tracer;
    EXPECT_EQ(mask, c.mask) << c.tracer;
  }
}

TEST_F(Tracing, OnlyOneTracerIsInstalledAtATime) {
  auto error = catch_error([] {
    Cell* first = value_of("func [e c o v r f] [[end] 1]");
    Cell* second = value_of("func [e c o v r f] [[end] 2]");
    EXPECT_TRUE(trace::install(*first));
    EXPECT_TRUE(trace::installed());
    EXPECT_TRUE(trace::active());
    EXPECT_FALSE(trace::install(*second));
    trace::remove();
    EXPECT_FALSE(trace::installed());
    EXPECT_FALSE(trace::active());
  });
  EXPECT_FALSE(error.has_value());
}

TEST_F(Tracing, AReportLeavesTheStacksAsItFoundThem) {
  auto error = catch_error([] {
    value_of("heard: copy []");
    Cell* tracer = value_of("func [event code offset value ref frame] [append heard offset]");
    Cell* code = value_of("[a b c]");
    ASSERT_TRUE(trace::install(*tracer));
    Cell* arguments = stack::arguments();
    Cell* top = stack::top;
    stack::Frame* frame_top = stack::frame_top;
    trace::fire(trace::kFetch, code, 1, code, nullptr);
    trace::fire(trace::kFetch, code, 7, code, nullptr);  // past the tail: -1
    EXPECT_EQ(stack::arguments(), arguments);
    EXPECT_EQ(stack::top, top);
    EXPECT_EQ(stack::frame_top, frame_top);
    EXPECT_TRUE(trace::active()) << "tracing is back on after the tracer ran";
    trace::remove();
    EXPECT_EQ(actions::mold_to_string(*value_of("heard"), false), "[1 -1]");
  });
  trace::remove();
  EXPECT_FALSE(error.has_value());
}

TEST_F(Tracing, AnErrorInTheTracerReachesTheTracedCodeWithTracingBackOn) {
  auto error = catch_error([] {
    Cell* tracer = value_of("func [event code offset value ref frame] [add {x} 1]");
    ASSERT_TRUE(trace::install(*tracer));
    trace::report_init();
  });
  EXPECT_EQ(error, ErrorId::script_expect_arg);
  EXPECT_TRUE(trace::active());
  trace::remove();
}

TEST_F(Tracing, FunctionAttributesSetTracingForTheBodyAndPutItBack) {
  auto error = catch_error([] {
    Cell* quiet = value_of("func [[no-trace]] []");
    Cell* loud = value_of("func [[trace]] []");
    Cell* tracer = value_of("func [e c o v r f] [[end] 1]");
    EXPECT_EQ(quiet->header & function::kNoTraceFlag, function::kNoTraceFlag);
    {
      trace::FunctionScope scope(*loud);
      EXPECT_FALSE(trace::active()) << "no tracer: [trace] changes nothing";
    }
    ASSERT_TRUE(trace::install(*tracer));
    {
      trace::FunctionScope outer(*quiet);
      EXPECT_FALSE(trace::active());
      {
        trace::FunctionScope inner(*loud);
        EXPECT_TRUE(trace::active());
      }
      EXPECT_FALSE(trace::active());
    }
    EXPECT_TRUE(trace::active());
    trace::remove();
  });
  trace::remove();
  EXPECT_FALSE(error.has_value());
}

}  // namespace
}  // namespace kel
