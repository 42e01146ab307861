// Conditionals and loops: if, unless, either, any, all, while, until, loop,
// repeat, forever, switch and case.
//
// Each entry reads its arguments from the current native frame and leaves
// its result in the frame's first cell. Two truth tests serve them: the
// lenient one (if, unless, any, all) in which only none and false are
// falsy, and the strict one (either, while, until, case) that refuses an
// unset value with script no-return.
//
// Every loop opens one loop frame above its arguments and runs each
// iteration in it (evaluator/loop_frame.h): an iteration ends done,
// continued, broken, or left by an exit that belongs to someone further
// out, in which case the loop returns at once without touching the stacks.
#include <cmath>
#include <cstdint>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/loop_frame.h"
#include "evaluator/native_arguments.h"
#include "evaluator/natives.h"
#include "evaluator/natives_families.h"
#include "runtime/stack.h"
#include "evaluator/truth.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/exits.h"
#include "runtime/runtime.h"
#include "datatypes/runtime_words.h"
#include "datatypes/argument_checks.h"

namespace kel::natives_control {

namespace {

using namespace native_arguments;

Cell body_word;  // names loop frames: <body>
Cell case_word;  // the word need-value names for an unfinished case

// Accepted argument types, for entries called with check_types.
Cell block_types;
Cell count_types;
Cell word_types;

void check_block(int index) { check_arg_type(block_types, index, argument(index)); }

inline uint32_t tail_of(const Cell& block) { return block::buffer_of(&block)->cell_count(); }
inline Cell cell_at(const Cell& block, uint32_t index) { return block::buffer_of(&block)->cells()[index]; }

using truth::lenient_true;
using truth::strict_true;

using loops::Iteration;
using loops::LoopFrame;
using loops::run_iteration;

// --- Conditionals ------------------------------------------------------------------

void if_(bool check_types, const int32_t*) {
  if (check_types) check_block(1);
  if (!lenient_true(*argument(0))) {
    none::set_result();
    return;
  }
  Cell then_block = *argument(1);
  interpreter::eval_block(then_block, true);
}

void unless(bool check_types, const int32_t*) {
  if (check_types) check_block(1);
  if (lenient_true(*argument(0))) {
    none::set_result();
    return;
  }
  Cell then_block = *argument(1);
  interpreter::eval_block(then_block, true);
}

void either(bool check_types, const int32_t*) {
  if (check_types) {
    check_block(1);
    check_block(2);
  }
  Cell branch = strict_true(*argument(0)) ? *argument(1) : *argument(2);
  interpreter::eval_block(branch, true);
}

// any and all evaluate one expression at a time, each in a frame of its
// own above the arguments; the value lands in the cell that was the top.
void any(bool check_types, const int32_t*) {
  if (check_types) check_block(0);
  Cell conditions = *argument(0);
  Cell* slot = stack::top;
  uint32_t index = series::index_of(conditions);
  while (index < tail_of(conditions)) {
    stack::top = slot;
    index = interpreter::eval_next(conditions, index);
    if (interpreter::exiting()) return;
    if (lenient_true(*slot)) {
      stack::set_last(*slot);
      return;
    }
  }
  none::set_result();
}

void all(bool check_types, const int32_t*) {
  if (check_types) check_block(0);
  Cell conditions = *argument(0);
  Cell* slot = stack::top;
  uint32_t index = series::index_of(conditions);
  if (index >= tail_of(conditions)) {
    none::set_result();
    return;
  }
  while (index < tail_of(conditions)) {
    stack::top = slot;
    index = interpreter::eval_next(conditions, index);
    if (interpreter::exiting()) return;
    if (!lenient_true(*slot)) {
      none::set_result();
      return;
    }
  }
  stack::set_last(*slot);
}

// --- Loops ---------------------------------------------------------------------------

void while_(bool check_types, const int32_t*) {
  if (check_types) {
    check_block(0);
    check_block(1);
  }
  Cell condition = *argument(0);
  Cell body = *argument(1);
  LoopFrame loop(&body_word);
  for (;;) {
    Iteration tested = run_iteration(loop, condition);
    if (tested == Iteration::kPropagate) return;
    if (tested != Iteration::kDone) fire(ErrorId::throw__while_cond);
    if (!strict_true(loop.result())) break;
    Iteration ran = run_iteration(loop, body);
    if (ran == Iteration::kPropagate) return;
    if (ran == Iteration::kBroken) break;
  }
  // while gives unset however it ended, a break/return value included.
  loop.close();
  unset::set_result();
}

void until(bool check_types, const int32_t*) {
  if (check_types) check_block(0);
  Cell body = *argument(0);
  LoopFrame loop(&body_word);
  for (;;) {
    Iteration ran = run_iteration(loop, body);
    if (ran == Iteration::kPropagate) return;
    if (ran == Iteration::kBroken) break;
    if (ran == Iteration::kContinued) continue;  // nothing to test
    if (strict_true(loop.result())) break;
  }
  loop.close_with_result();
}

void loop(bool check_types, const int32_t*) {
  if (check_types) {
    check_arg_type(count_types, 0, argument(0));
    check_block(1);
  }
  coerce_count(argument(0));
  int32_t count = argument(0)->int_at2();
  if (count <= 0) {
    none::set_result();
    return;
  }
  Cell body = *argument(1);
  LoopFrame frame(&body_word);
  for (int32_t i = 0; i < count; ++i) {
    Iteration ran = run_iteration(frame, body);
    if (ran == Iteration::kPropagate) return;
    if (ran == Iteration::kBroken) break;
  }
  frame.close_with_result();
}

// The counter is the native's own count cell: the body may assign to the
// word without changing the iterations or the word's next value.
void repeat(bool check_types, const int32_t*) {
  if (check_types) {
    check_arg_type(word_types, 0, argument(0));
    check_arg_type(count_types, 1, argument(1));
    check_block(2);
  }
  coerce_count(argument(1));
  int32_t count = argument(1)->int_at2();
  if (count <= 0) {
    none::set_result();
    return;
  }
  Cell body = *argument(2);
  Cell* word = argument(0);
  Cell* counter = argument(1);
  *counter = integer::make(1);
  LoopFrame frame(&body_word);
  for (int32_t i = 0; i < count; ++i) {
    interpreter::set_word(word, *counter);
    Iteration ran = run_iteration(frame, body);
    if (ran == Iteration::kPropagate) return;
    if (ran == Iteration::kBroken) break;
    // Unsigned: the step after the last may pass INT32_MAX.
    integer::set(counter, static_cast<int32_t>(static_cast<uint32_t>(integer::get(*counter)) + 1));
  }
  frame.close_with_result();
}

void forever(bool check_types, const int32_t*) {
  if (check_types) check_block(0);
  Cell body = *argument(0);
  LoopFrame frame(&body_word);
  for (;;) {
    Iteration ran = run_iteration(frame, body);
    if (ran == Iteration::kPropagate) return;
    if (ran == Iteration::kBroken) break;
  }
  frame.close_with_result();
}

// --- Selection -------------------------------------------------------------------------

// Whether a case value matches: the same datatype, and equal as equal? sees
// it (so 1 never matches 1.0).
bool case_matches(const Cell& value, const Cell& candidate) {
  if (candidate.type() != value.type()) return false;
  Cell left = value;
  Cell right = candidate;
  return actions::compare_value(&left, &right, kCmpEqual) == 0;
}

void switch_(bool check_types, const int32_t* refinements) {
  int32_t default_at = refinements[0];
  if (check_types) {
    check_block(1);
    if (default_at >= 0) check_block(default_at);
  }
  Cell value = *argument(0);
  Cell cases = *argument(1);
  // A block value matches nothing: blocks in the cases are the code.
  if (!value.is(TYPE_BLOCK)) {
    for (uint32_t index = series::index_of(cases); index < tail_of(cases); ++index) {
      if (!case_matches(value, cell_at(cases, index))) continue;
      // Several values may share the block that follows them.
      for (uint32_t at = index + 1; at < tail_of(cases); ++at) {
        Cell code = cell_at(cases, at);
        if (code.is(TYPE_BLOCK)) {
          interpreter::eval_block(code, true);
          return;
        }
      }
      none::set_result();
      return;
    }
  }
  if (default_at >= 0) {
    Cell fallback = *argument(default_at);
    interpreter::eval_block(fallback, true);
    return;
  }
  none::set_result();
}

// The conditions are evaluated in a frame of their own (named <anon>); its
// first cell holds each condition, then the value of the chosen code.
void case_(bool check_types, const int32_t* refinements) {
  if (check_types) check_block(0);
  bool test_all = refinements[0] != -1;
  Cell cases = *argument(0);
  uint32_t index = series::index_of(cases);
  if (index >= tail_of(cases)) {
    none::set_result();
    return;
  }
  stack::mark(nullptr, stack::kNative);
  Cell* first = stack::arguments();
  bool matched = false;
  while (index < tail_of(cases)) {
    if (test_all) matched = false;
    stack::top = first;
    index = interpreter::eval_expression(cases, index, UINT32_MAX, false, false);
    if (interpreter::exiting()) return;
    if (index >= tail_of(cases)) fire(ErrorId::script_need_value, &case_word);
    if (!strict_true(*first)) {
      ++index;  // the value after a falsy condition is skipped unevaluated
      continue;
    }
    Cell code = cell_at(cases, index);
    stack::top = first;
    if (code.is(TYPE_BLOCK)) {
      interpreter::eval_block(code, false);
      ++index;
    } else {
      index = interpreter::eval_expression(cases, index, UINT32_MAX, false, false);
    }
    if (interpreter::exiting()) return;
    if (!test_all) {
      stack::unwind_last();
      return;
    }
    matched = true;
  }
  stack::unwind_last();
  // case/all answers none when the last condition tested was falsy.
  if (!matched) none::set_result();
}

}  // namespace

void coerce_count(Cell* count) {
  if (!count->is(TYPE_FLOAT)) return;
  double value = count->as_double();
  int32_t whole;
  if (std::isnan(value)) whole = 0;
  else if (value >= 2147483647.0) whole = INT32_MAX;
  else if (value <= -2147483648.0) whole = INT32_MIN;
  else whole = static_cast<int32_t>(value);  // truncation toward zero
  uint32_t flags = count->header & ~flags::kTypeMask;
  *count = integer::make(whole);
  count->header |= flags;
}

void init() {
  body_word = word::make_value(runtime_words::angled_body, 0, -1);
  case_word = word::make_value(runtime_words::case_, 0, -1);
  block_types = typeset_of({{TYPE_BLOCK}});
  count_types = typeset_of({{TYPE_INTEGER, TYPE_FLOAT}});
  word_types = typeset_of({{TYPE_WORD}});

  using natives::Native;
  natives::install(Native::if_, if_);
  natives::install(Native::unless, unless);
  natives::install(Native::either, either);
  natives::install(Native::any, any);
  natives::install(Native::all, all);
  natives::install(Native::while_, while_);
  natives::install(Native::until, until);
  natives::install(Native::loop, loop);
  natives::install(Native::repeat, repeat);
  natives::install(Native::forever, forever);
  natives::install(Native::switch_, switch_);
  natives::install(Native::case_, case_);
}

}  // namespace kel::natives_control
