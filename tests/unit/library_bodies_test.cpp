// The bodies the boot hands over: code run as a library file runs keeps
// the bodies written after func and its kin at its top level and in the
// body blocks of the objects it makes, and copies every other body as ever; the
// functions work the same either way.
#include "boot/library_bodies.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "evaluator/interpreter.h"
#include "evaluator/source_evaluation.h"
#include "runtime/stack.h"
#include "runtime/symbol_table.h"
#include "test_support.h"

namespace kel {
namespace {

using LibraryBodiesTest = testing::RuntimeTest;

// Every block, paren and path of loaded code, by node.
void collect_nodes(const Cell& block, std::set<NodeId>* nodes) {
  if (!nodes->insert(block.data2).second) return;
  SeriesBuffer* buffer = series::buffer_of(&block);
  for (uint32_t i = 0; i < buffer->cell_count(); ++i) {
    Cell cell = series::buffer_of(&block)->cells()[i];
    if (series::is_block_kind(cell.type())) collect_nodes(cell, nodes);
  }
}

// The function a path of field names leads to from a global word.
Cell function_at(const std::vector<std::string>& path) {
  Cell value = *context::global_slot(symbol::resolve(symbol::make(path[0])));
  for (size_t i = 1; i < path.size(); ++i) {
    EXPECT_TRUE(object::is_object_kind(value.type()));
    value = *object::find_field(object::context_of(value), symbol::resolve(symbol::make(path[i])));
  }
  EXPECT_TRUE(value.is(TYPE_FUNCTION));
  return value;
}

struct Case {
  const char* code;
  std::vector<std::string> function;  // the word (and fields) naming it
  bool kept;                          // its body is the block written in the code
  const char* call;                   // what calling it gives, as code
  int32_t result;
};

TEST_F(LibraryBodiesTest, TopLevelAndObjectSpecBodiesAreKeptOthersCopied) {
  const Case cases[] = {
      {"lb-f: func [a] [a + 1]", {"lb-f"}, true, "lb-f 1", 2},
      {"lb-f: function [a] [b: a * 2 b + 1]", {"lb-f"}, true, "lb-f 3", 7},
      {"lb-f: has [b] [b: 5 b]", {"lb-f"}, true, "lb-f", 5},
      {"lb-f: does [6]", {"lb-f"}, true, "lb-f", 6},
      {"lb-o: context [lb-f: func [a] [a * 3]]", {"lb-o", "lb-f"}, true, "lb-o/lb-f 2", 6},
      {"lb-o: object [n: 4 lb-f: does [n]]", {"lb-o", "lb-f"}, true, "lb-o/lb-f", 4},
      {"lb-o: make object! [p: make object! [lb-f: func [] [8]]]", {"lb-o", "p", "lb-f"}, true, "lb-o/p/lb-f", 8},
      {"do [lb-f: does [15]]", {"lb-f"}, true, "lb-f", 15},
      {"lb-c: context [n: 16] do bind [lb-f: func [] [n]] lb-c", {"lb-f"}, true, "lb-f", 16},
      {"lb-c: context [n: 17] lb-f: func [] bind [n] lb-c", {"lb-f"}, true, "lb-f", 17},
      {"lb-o: make lb-proto/inner [lb-f: func [] [n + 1]]", {"lb-o", "lb-f"}, true, "lb-o/lb-f", 19},
      // A body held by a word, or written where it may run again, is copied.
      {"lb-d: make lb-proto/kind [func [] [20]] lb-f: do lb-d", {"lb-f"}, false, "lb-f", 20},
      {"lb-b: [9] lb-f: func [] lb-b", {"lb-f"}, false, "lb-f", 9},
      {"if true [lb-f: func [] [10]]", {"lb-f"}, false, "lb-f", 10},
      {"loop 2 [lb-f: func [] [11]]", {"lb-f"}, false, "lb-f", 11},
      {"lb-m: func [] [func [] [12]] lb-f: lb-m", {"lb-f"}, false, "lb-f", 12},
      {"lb-d: [lb-f: func [] [13]] do lb-d", {"lb-f"}, false, "lb-f", 13},
      {"lb-f: func [] next [0 14]", {"lb-f"}, false, "lb-f", 14},
  };
  // The prototype a path names must be there before the code is scanned.
  source_evaluation::do_source("lb-proto: context [inner: context [n: 18] kind: block!]");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    stack::Guard guard;
    Cell* code = source_evaluation::load(c.code);
    std::set<NodeId> written;
    collect_nodes(*code, &written);
    {
      boot::LibraryBodies bodies(*code);
      source_evaluation::do_loaded_script(code);
    }
    Cell made = function_at(c.function);
    Cell body = *function::info(made, function::kInfoBody);
    EXPECT_EQ(written.count(body.data2) == 1, c.kept);
    EXPECT_EQ(series::index_of(body), 0u);
    EXPECT_EQ(integer::get(*source_evaluation::do_source(c.call)), c.result);
  }
}

// Functions made by a kept function each copy the body written in it.
TEST_F(LibraryBodiesTest, FunctionsMadeByAKeptBodyCopyTheirs) {
  stack::Guard guard;
  Cell* code = source_evaluation::load("lb-m: func [] [func [x] [x + 1]] lb-g: lb-m lb-h: lb-m");
  std::set<NodeId> written;
  collect_nodes(*code, &written);
  {
    boot::LibraryBodies bodies(*code);
    source_evaluation::do_loaded_script(code);
  }
  EXPECT_EQ(written.count(function::info(function_at({"lb-m"}), function::kInfoBody)->data2), 1u);
  NodeId g = function::info(function_at({"lb-g"}), function::kInfoBody)->data2;
  NodeId h = function::info(function_at({"lb-h"}), function::kInfoBody)->data2;
  EXPECT_EQ(written.count(g), 0u);
  EXPECT_EQ(written.count(h), 0u);
  EXPECT_NE(g, h);
  EXPECT_EQ(integer::get(*source_evaluation::do_source("lb-g 5")), 6);
  EXPECT_EQ(integer::get(*source_evaluation::do_source("lb-h 7")), 8);
}

// A marked block is handed over once, and only while its file runs.
TEST_F(LibraryBodiesTest, AMarkedBlockIsHandedOverOnceWhileItsFileRuns) {
  stack::Guard guard;
  Cell* code = source_evaluation::load("func [] [1]");
  NodeId body = series::buffer_of(code)->cells()[2].data2;
  {
    boot::LibraryBodies bodies(*code);
    EXPECT_NE(function::hand_over_body, nullptr);
    EXPECT_TRUE(boot::hand_over_marked_body(body));
    EXPECT_FALSE(boot::hand_over_marked_body(body));
  }
  EXPECT_EQ(function::hand_over_body, nullptr);
  // Marked again for another run, it is handed over again; the marks end
  // with the run.
  {
    boot::LibraryBodies bodies(*code);
    EXPECT_TRUE(boot::hand_over_marked_body(body));
  }
  {
    boot::LibraryBodies bodies(*source_evaluation::load("1"));
    EXPECT_FALSE(boot::hand_over_marked_body(body));
  }
}

}  // namespace
}  // namespace kel
