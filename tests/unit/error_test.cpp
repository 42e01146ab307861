// error! internals the case files cannot reach: the call trace an error
// captures at the trace depth in force when it is raised, and the text of
// errors whose fields no longer name a catalog error.
#include "datatypes/error.h"

#include <gtest/gtest.h>

#include <string>

#include "evaluator/source_evaluation.h"
#include "runtime/stack.h"
#include "test_support.h"

namespace kel {
namespace {

using ErrorValue = testing::RuntimeTest;

// Raises an error inside two named functions under try/keep, at the given
// trace depth (system/state/stack-trace), and answers the caught error's
// text at that depth.
std::string report_at_depth(int32_t depth, Cell* caught = nullptr) {
  std::string text;
  auto id = testing::catch_error([&] {
    stack::Guard guard;
    std::string source = "system/state/stack-trace: " + std::to_string(depth) +
                         " inner: func [] [1 / 0] outer: func [] [inner] try/keep [outer]";
    Cell* error = source_evaluation::do_source(source);
    EXPECT_TRUE(error->is(TYPE_ERROR));
    EXPECT_EQ(error_value::id_of(*error), ErrorId::math_zero_divide);
    text = error_value::form_text(*error);
    if (caught != nullptr) *caught = *error;
  });
  EXPECT_FALSE(id.has_value());
  stack::Guard guard;
  source_evaluation::do_source("system/state/stack-trace: 1");
  return text;
}

TEST_F(ErrorValue, NoStackLineAppearsAtTraceDepthZero) {
  std::string text = report_at_depth(0);
  EXPECT_EQ(text, "*** Math Error: attempt to divide by zero\n*** Where: /\n*** Near : [1 / 0]");
}

TEST_F(ErrorValue, TraceDepthOneListsTheFunctionCallsOutermostFirst) {
  std::string text = report_at_depth(1);
  EXPECT_NE(text.find("\n*** Stack: outer inner"), std::string::npos) << text;
  EXPECT_EQ(text.find("/", text.find("*** Stack:")), std::string::npos) << "the operator is no function: " << text;
}

TEST_F(ErrorValue, DeeperTracesListEveryNamedCall) {
  std::string text = report_at_depth(2);
  EXPECT_NE(text.find("outer inner /"), std::string::npos) << text;
}

TEST_F(ErrorValue, TheTraceIsCapturedWhenTheErrorIsCaught) {
  Cell error;
  report_at_depth(1, &error);
  // The frames are gone once the error is caught: try/keep kept their
  // words in the stack field.
  stack::Guard guard;
  stack::push(error);
  Cell stack_field = error_value::field(error, error_value::kStack);
  EXPECT_TRUE(stack_field.is(TYPE_BLOCK));
  std::string text = error_value::form_text(error);
  EXPECT_NE(text.find("\n*** Stack: outer inner"), std::string::npos) << text;
}

TEST_F(ErrorValue, AnErrorWhoseFieldsNameNoCatalogErrorFormsAsInvalidError) {
  std::string text;
  auto id = testing::catch_error([&] {
    stack::Guard guard;
    Cell* made = source_evaluation::do_source("make error! [type: 'script id: 'no-such-id]");
    ErrorId found;
    EXPECT_FALSE(error_value::find_id(*made, &found));
    EXPECT_EQ(error_value::id_of(*made), ErrorId::internal_invalid_error);
    text = error_value::form_text(*made);
  });
  EXPECT_FALSE(id.has_value());
  EXPECT_EQ(text, "*** Internal Error: invalid error object field value: no-such-id");
}

}  // namespace
}  // namespace kel
