// object::construct, the routine behind the construct native: a spec read
// as data, not evaluated.
#include "datatypes/object.h"

#include <gtest/gtest.h>

#include "datatypes/symbol.h"
#include "runtime/actions.h"
#include "evaluator/source_evaluation.h"
#include "runtime/stack.h"
#include "test_support.h"

namespace kel {
namespace {

using ObjectConstruct = testing::RuntimeTest;

std::string construct_text(const char* spec, bool only) {
  std::string text;
  auto error = testing::catch_error([&] {
    stack::Guard guard;
    Cell* loaded = source_evaluation::do_source(spec);
    Cell* made = object::construct(loaded, nullptr, only);
    text = actions::mold_to_string(*made, false);
  });
  EXPECT_FALSE(error.has_value()) << spec;
  return text;
}

TEST_F(ObjectConstruct, ConsecutiveSetWordsShareTheNextValueAndTheLastGetsNone) {
  EXPECT_EQ(construct_text("[a: b: yes c:]", false),
            "make object! [\n    a: true\n    b: true\n    c: none\n]");
}

TEST_F(ObjectConstruct, LogicAndNoneWordsBecomeValuesUnlessOnly) {
  struct Case {
    const char* spec;
    bool only;
    const char* expected;
  } cases[] = {
      {"[a: on b: off c: none d: maybe]", false, "make object! [\n    a: true\n    b: false\n    c: none\n    d: 'maybe\n]"},
      {"[a: yes b: no]", true, "make object! [\n    a: 'yes\n    b: 'no\n]"},
      // Nothing is evaluated: a paren stays a paren.
      {"[a: (1 + 2)]", false, "make object! [\n    a: (1 + 2)\n]"},
  };
  for (const Case& c : cases) EXPECT_EQ(construct_text(c.spec, c.only), c.expected) << c.spec;
}

TEST_F(ObjectConstruct, APrototypeGivesItsFieldsAndItsClass) {
  auto error = testing::catch_error([] {
    stack::Guard guard;
    Cell* proto = source_evaluation::do_source("make object! [a: 1 b: 2]");
    Cell* spec = source_evaluation::do_source("[b: 20]");
    Cell* made = object::construct(spec, proto, false);
    EXPECT_EQ(actions::mold_to_string(*made, false), "make object! [\n    a: 1\n    b: 20\n]");
    EXPECT_EQ(object::class_of(*made), object::class_of(*proto));
    EXPECT_NE(object::context_of(*made), object::context_of(*proto));
  });
  EXPECT_FALSE(error.has_value());
}

}  // namespace
}  // namespace kel
