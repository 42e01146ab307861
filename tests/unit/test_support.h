// Shared helpers for the unit tests: a booted runtime, and running code that
// may raise a Kel error the way a `try` would.
#pragma once

#include <gtest/gtest.h>

#include <optional>

#include "boot/entry.h"
#include "datatypes/error.h"
#include "evaluator/stack.h"
#include "runtime/errors.h"
#include "runtime/exits.h"
#include "runtime/runtime.h"

namespace kel::testing {

// Initialises the runtime once per test binary.
inline void boot() { boot::init_runtime(); }

// Runs body inside a try frame. Returns the catalog id of the error it
// raised, or nothing when it completed. The stacks are left as they were.
template <class Body>
std::optional<ErrorId> catch_error(Body&& body) {
  boot();
  stack::Guard guard;
  stack::mark_try(nullptr);
  try {
    body();
  } catch (const exits::Unwind& unwind) {
    if (unwind.code != exits::kError) throw;
    runtime::system().exit_code = 0;
    return error_value::id_of(runtime::system().thrown_value);
  }
  return std::nullopt;
}

// The error value caught by the last catch_error that caught one.
inline const Cell& last_error() { return runtime::system().thrown_value; }

// A float! cell.
inline Cell float_cell(double d) {
  Cell c = make_cell(TYPE_FLOAT);
  c.set_double(d);
  return c;
}

// A fixture that boots the runtime.
class RuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override { boot(); }
};

}  // namespace kel::testing
