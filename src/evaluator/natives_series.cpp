// Series iteration natives: foreach, forall and remove-each.
//
// Each walks a series while running a body block once per position. The
// body may change the series it walks (append to it, remove from it, clear
// it), so no raw pointer into a series buffer is ever kept across the body:
// the position lives in a cell on the evaluation stack (the iterator, a
// private copy of the series cell whose index advances, or for forall the
// word's own value), and every step re-reads the buffer and its tail
// through the node. A step that finds its index at or past the tail ends
// the walk, so a series shortened under the loop simply ends it early.
//
// Stack layout of foreach and remove-each, above their arguments:
//   [group size (remove-each only)] [iterator] [word or word block]
//   then the loop frame, named <body>, whose first cell receives each
//   iteration's value (or the break value).
// forall keeps the starting series and a copy of its word there instead.
//
// Exits follow the loop protocol: break ends the walk with the loop frame's
// result, continue ends the iteration, and any other exit (return, exit,
// throw, or an error) leaves at once without touching the stacks, which
// then belong to the frame that catches it. Kel code also runs between
// iterations (change handlers called when a loop word is set or a group is
// removed); its break and continue belong to this loop as well.
#include <cstdint>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/word.h"
#include "runtime/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/loop_frame.h"
#include "evaluator/native_arguments.h"
#include "evaluator/natives.h"
#include "evaluator/natives_families.h"
#include "runtime/stack.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/exits.h"
#include "runtime/runtime.h"
#include "datatypes/runtime_words.h"
#include "datatypes/argument_checks.h"

namespace kel::natives_series {

namespace {

using namespace native_arguments;

Cell body_word;  // names loop frames: <body>

// Accepted argument types, for entries called with check_types.
Cell loop_word_types;  // 'word of foreach and remove-each: word! block!
Cell foreach_types;    // series of foreach: series! map!
Cell series_types;     // data of remove-each, and the value forall's word must hold
Cell block_types;
Cell word_types;

// Whether a series cell has a value at its index. The tail is read from the
// buffer each time: the body may have grown or shortened the series.
bool has_more(const Cell& series) {
  return series::index_of(series) < series::rs_length_from_head(&series);
}

// The word kinds a loop may set (the block form of set accepts the same).
inline bool settable_word(TypeId type) { return type >= TYPE_WORD && type <= TYPE_GET_WORD; }

// --- The loop frame ------------------------------------------------------------------

// A walk's loop frame starts with an unset result
// (loops::StartingResult::kUnset), so a walk with nothing to visit answers
// unset.
using loops::Iteration;
using loops::LoopFrame;

// remove-each runs its body through loops::run_iteration rather than
// interpreter::run_loop_body, which folds continue into a normal end: it
// must not remove the group of an iteration left by continue (its value is
// then unset, which would count as truthy).

// Setting a loop word may run an object's change handler, and removing a
// group may run a series owner's: Kel code that runs outside the body but
// inside this loop, so a break or continue raised there belongs to this loop
// too. It arrives as an exception (handlers are called through
// interpreter::call_value), with the stacks already unrolled to the loop
// frame. A break ends the walk; a continue skips the rest of the step.
enum class StepExit { kNone, kBreak, kContinue };

template <class Step>
StepExit guarded_step(const LoopFrame& loop, Step&& step) {
  uint32_t caught = exits::catch_exits(exits::kBreak, step);
  if (caught == 0) return StepExit::kNone;
  if (caught != exits::kBreak && caught != exits::kContinue) exits::throw_unwind(caught);
  runtime::system().exit_code = 0;
  loop.settle();
  return caught == exits::kBreak ? StepExit::kBreak : StepExit::kContinue;
}

// --- Walking a series with loop words --------------------------------------------------

// The iteration cells of foreach and remove-each. The pointers are stack
// cells: the stack is a fixed array, so they stay valid for the native's call.
struct Walk {
  Cell* iterator;  // private copy of the series; its index advances
  Cell* words;     // the word argument: a word!, or a block of words
  int32_t group;   // values taken per iteration: 1, or the word block's length
};

// Pushes the iterator and the word copy, and works out the group size. A
// word block must hold at least one value; a map takes exactly a key word
// and a value word.
Walk begin_walk(const Cell& words, const Cell& series) {
  int32_t group = 1;
  if (words.is(TYPE_BLOCK)) {
    group = block::rs_length(&words);
    if (group <= 0) fire(ErrorId::script_invalid_arg, &words);
    if (series.is(TYPE_MAP) && group != 2) fire(ErrorId::script_invalid_arg, &words);
  } else if (series.is(TYPE_MAP)) {
    fire(ErrorId::script_invalid_arg, &words);
  }
  Walk walk;
  walk.iterator = stack::push(series);
  walk.words = stack::push(words);
  walk.group = group;
  return walk;
}

// One value for one word: a single word takes the value at the iterator's
// index and the index moves on by one.
bool next_single(const Walk& walk) {
  Cell* iterator = walk.iterator;
  if (!has_more(*iterator)) return false;
  Cell value = series::is_block_kind(iterator->type())
                   ? block::buffer_of(iterator)->cells()[series::index_of(*iterator)]
                   : series::pick_value(iterator, 1);
  series::set_index(iterator, series::index_of(*iterator) + 1);
  context::set(walk.words, value);
  return true;
}

// One group for a word block: word i takes the value i places from the
// iterator's index (none past the tail) and the index moves on by the group
// size. A map hands out its next key and value.
bool next_group(const Walk& walk) {
  Cell* iterator = walk.iterator;
  if (iterator->is(TYPE_MAP)) return map::foreach_next(walk.words, iterator, walk.group);
  if (!has_more(*iterator)) return false;
  Cell position = *iterator;
  series::set_index(iterator, series::index_of(*iterator) + static_cast<uint32_t>(walk.group));
  const Cell words = *walk.words;
  for (int32_t i = 0; i < walk.group; ++i) {
    // The body may have shortened the word block itself: words gone from it
    // are left out rather than read past its tail.
    uint32_t at = series::index_of(words) + static_cast<uint32_t>(i);
    if (at >= block::buffer_of(&words)->cell_count()) break;
    Cell word = block::buffer_of(&words)->cells()[at];
    if (!settable_word(word.type())) fire(ErrorId::script_invalid_arg, &word);
    // Setting a word may run a change handler, which may change the series:
    // each value is read afresh.
    Cell value = series::pick_value(&position, i + 1);
    context::set(&word, value);
  }
  return true;
}

inline bool next(const Walk& walk) { return walk.words->is(TYPE_BLOCK) ? next_group(walk) : next_single(walk); }

// How the search for the next value ended.
enum class Advance { kValue, kEnd, kBroken };

// Takes the next value or group; a continue raised while the words were
// set moves on to the one after.
Advance advance(const Walk& walk, const LoopFrame& loop) {
  for (;;) {
    bool more = false;
    StepExit exit = guarded_step(loop, [&] { more = next(walk); });
    if (exit == StepExit::kBreak) return Advance::kBroken;
    if (exit == StepExit::kNone) return more ? Advance::kValue : Advance::kEnd;
  }
}

// Removes the group just visited: the iterator moves back over it and the
// remove action takes it out there (its /part the group size), so change
// notifications and a hash!'s index see an ordinary remove.
void remove_group(const Walk& walk, const Cell* group_size) {
  Cell* iterator = walk.iterator;
  uint32_t back = static_cast<uint32_t>(walk.group);
  uint32_t index = series::index_of(*iterator);
  series::set_index(iterator, index > back ? index - back : 0);
  auto remove_handler = actions::handler_for<Action::remove>(*iterator);
  stack::Guard guard;
  stack::mark_native(nullptr);
  Cell* target = stack::push(*iterator);
  stack::push(*group_size);
  remove_handler(target, walk.group > 1 ? 1 : -1, -1);
}

// --- foreach ----------------------------------------------------------------------------------

void foreach(bool check_types, const int32_t*) {
  if (check_types) {
    check(loop_word_types, 0);
    check(foreach_types, 1);
    check(block_types, 2);
  }
  Cell body = *argument(2);
  Walk walk = begin_walk(*argument(0), *argument(1));
  LoopFrame loop(&body_word, loops::StartingResult::kUnset);
  while (advance(walk, loop) == Advance::kValue) {
    interpreter::LoopOutcome outcome = interpreter::run_loop_body(body);
    if (outcome == interpreter::LoopOutcome::kPropagate) return;
    loop.settle();
    if (outcome == interpreter::LoopOutcome::kBreak) break;
  }
  loop.close_with_result();
}

// --- forall -------------------------------------------------------------------------------------

// The word's own value is the position: the body sees it move and may move
// it itself, but must leave it on the same series.
void forall(bool check_types, const int32_t*) {
  if (check_types) {
    check(word_types, 0);
    check(block_types, 1);
  }
  Cell body = *argument(1);
  Cell start = *context::get(argument(0));
  if (start.is(TYPE_UNSET)) fire(ErrorId::script_no_value, argument(0));
  check_arg_type(series_types, 0, &start);
  const Cell* starting = stack::push(start);
  Cell* word = stack::push(*argument(0));
  LoopFrame loop(&body_word, loops::StartingResult::kUnset);
  bool broken = false;
  if (has_more(start)) {
    for (;;) {
      interpreter::LoopOutcome outcome = interpreter::run_loop_body(body);
      if (outcome == interpreter::LoopOutcome::kPropagate) return;
      loop.settle();
      if (outcome == interpreter::LoopOutcome::kBreak) {
        broken = true;
        break;
      }
      Cell* position = context::get(word);
      if (!series::is_series_kind(position->type()) || series::node_of(*position) != series::node_of(*starting))
        fire(ErrorId::script_bad_loop_series, position);
      series::set_index(position, series::index_of(*position) + 1);
      if (!has_more(*position)) break;
    }
  }
  loop.close_with_result();
  // After a normal end the word is back where it started; a break leaves it
  // where the break happened.
  if (!broken) context::set(word, *starting);
}

// --- remove-each --------------------------------------------------------------------------------

void remove_each(bool check_types, const int32_t*) {
  if (check_types) {
    check(loop_word_types, 0);
    check(series_types, 1);
    check(block_types, 2);
  }
  Cell body = *argument(2);
  int32_t group = argument(0)->is(TYPE_BLOCK) ? block::rs_length(argument(0)) : 1;
  const Cell* group_size = stack::push(integer::make(group));
  Walk walk = begin_walk(*argument(0), *argument(1));
  LoopFrame loop(&body_word, loops::StartingResult::kUnset);
  while (advance(walk, loop) == Advance::kValue) {
    Iteration ran = loops::run_iteration(loop, body);
    if (ran == Iteration::kPropagate) return;
    if (ran == Iteration::kBroken) break;
    if (ran == Iteration::kContinued) continue;
    const Cell& verdict = loop.result();
    bool falsy = verdict.is(TYPE_NONE) || (verdict.is(TYPE_LOGIC) && logic::get(verdict) == 0);
    if (falsy) continue;
    if (guarded_step(loop, [&] { remove_group(walk, group_size); }) == StepExit::kBreak) break;
  }
  loop.close();
  // The answer is the data argument itself, at its starting index.
  stack::set_last(*argument(1));
}

}  // namespace

void init() {
  body_word = word::make_value(runtime_words::angled_body, 0, -1);
  loop_word_types = typeset_of({{TYPE_WORD, TYPE_BLOCK}});
  series_types = make_cell(TYPE_TYPESET);
  for (TypeId type = 1; type <= kTypeCount; ++type)
    if (series::is_series_kind(type)) typeset_add(series_types, type);
  foreach_types = series_types;
  typeset_add(foreach_types, TYPE_MAP);
  block_types = typeset_of({{TYPE_BLOCK}});
  word_types = typeset_of({{TYPE_WORD}});

  using natives::Native;
  natives::install(Native::foreach, foreach);
  natives::install(Native::forall, forall);
  natives::install(Native::remove_each, remove_each);
}

}  // namespace kel::natives_series
