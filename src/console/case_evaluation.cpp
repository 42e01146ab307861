// The evaluator behind the case-file runner (see case_evaluation.h): the
// print hooks are swapped for a capture while the case runs.
#include "console/case_evaluation.h"

#include "datatypes/error.h"
#include "datatypes/string.h"
#include "runtime/actions.h"
#include "evaluator/source_evaluation.h"
#include "evaluator/interpreter.h"
#include "evaluator/trace.h"
#include "runtime/collector.h"
#include "runtime/stack.h"
#include "runtime/exits.h"
#include "runtime/output_hooks.h"
#include "runtime/runtime.h"

namespace kel::case_evaluation {

namespace {
std::string* capture = nullptr;

void capture_print(const Cell* text, bool newline) {
  if (capture == nullptr) return;
  *capture += string::to_std_string(*text);
  if (newline) *capture += '\n';
}

// The tracer of the differential run, made on first use and kept rooted.
Cell silent_tracer = make_cell(TYPE_NONE);

const Cell& get_silent_tracer() {
  if (silent_tracer.is(TYPE_NONE)) {
    silent_tracer = *source_evaluation::do_source("func [event code offset value ref frame] []");
    collector::add_global_root(&silent_tracer);
  }
  return silent_tracer;
}

}  // namespace

Outcome evaluate_traced(const std::string& source) {
  // What a tracer changes on purpose: do/trace keeps the outer tracer, and
  // tracing? answers true.
  if (source.find("do/trace") != std::string::npos || source.find("tracing?") != std::string::npos)
    return evaluate(source);
  bool installed = trace::install(get_silent_tracer());
  struct Removal {
    bool installed;
    ~Removal() {
      if (installed) trace::remove();
    }
  } removal{installed};
  return evaluate(source);
}

Outcome evaluate(const std::string& source) {
  Outcome outcome;
  capture = &outcome.printed;
  output_hooks::remove(output_hooks::print_to_console, nullptr);
  output_hooks::add(capture_print, nullptr);
  stack::Guard guard;
  Cell* base = stack::top;
  stack::mark_try(nullptr);
  try {
    Cell* result = source_evaluation::do_source(source);
    if (result->is(TYPE_FLOAT)) outcome.result_line = "== " + actions::form_to_string(*result);
    else outcome.result_line = "== " + actions::mold_to_string(*result, false);
  } catch (const exits::Unwind& unwind) {
    // The cells the error left above the try frame are dropped first: after
    // a stack overflow they leave no room to form the error.
    stack::top = base;
    runtime::system().exit_code = 0;
    exits::pending = 0;
    if (unwind.code == exits::kError) outcome.result_line = error_value::form_text(runtime::system().thrown_value);
    else outcome.result_line = "*** unexpected exit";
  }
  output_hooks::remove(capture_print, nullptr);
  output_hooks::add(output_hooks::print_to_console, nullptr);
  capture = nullptr;
  return outcome;
}

}  // namespace kel::case_evaluation
