// Leaving a computation early and running code under a guard: try, break,
// continue, exit, return, throw and catch.
//
// break, continue, exit, return and throw never throw a C++ exception: they
// unroll the stacks to the frame that catches them and leave their code in
// exits::pending (stack::throw_break and friends), and every evaluation on
// the way returns at once. Errors are exceptions, already unwound to the
// nearest try frame when they reach try.
//
// try and catch own a frame of their own above their arguments. When an
// exit they consume arrives as an exception, C++ guards on the way may have
// put the stack pointers back where those guards found them; so both
// remember where their own frame stands and put the pointers back on it
// themselves, using only what the exit left in fixed places: the error in
// the runtime system record, the thrown value and name in the catch frame's
// first two cells. A catch/name for the name console also takes the
// console's halt, which arrives as an exception and passes every other
// catch and try (interpreter.h).
#include <cstdint>

#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/native_arguments.h"
#include "evaluator/natives.h"
#include "evaluator/natives_families.h"
#include "runtime/stack.h"
#include "evaluator/trace.h"
#include "runtime/errors.h"
#include "runtime/exits.h"
#include "runtime/runtime.h"
#include "datatypes/runtime_words.h"
#include "datatypes/argument_checks.h"

namespace kel::natives_exits {

namespace {

using namespace native_arguments;

Cell try_word;      // names try frames
Cell body_word;     // names catch frames: <body>
Cell name_word;     // the refinement catch/name's errors name
uint32_t console_symbol;  // canonical: a catch/name for it takes the console's halt

// Accepted argument types, for entries called with check_types.
Cell block_types;
Cell word_types;
Cell names_types;

inline uint32_t tail_of(const Cell& block) { return block::buffer_of(&block)->cell_count(); }
inline Cell cell_at(const Cell& block, uint32_t index) { return block::buffer_of(&block)->cells()[index]; }

// --- try ------------------------------------------------------------------------------

// Evaluates the block in a try frame (try/all: a frame that also turns
// break, continue, return, exit and throw into errors). An error becomes
// the result; the exits that a plain try lets pass go on outward.
void try_(bool check_types, const int32_t* refinements) {
  if (check_types) check(block_types, 0);
  bool all = refinements[0] != -1;
  bool keep = refinements[1] != -1;
  Cell block = *argument(0);
  Cell* result = stack::arguments();
  stack::Frame* own_top = stack::frame_top;
  stack::mark(&try_word, all ? stack::kTryAll : stack::kTry);
  uint32_t caught = exits::catch_exits(exits::kError, [&] { interpreter::eval_block(block, false); });
  if (caught == 0) {
    if (interpreter::exiting()) return;  // the stacks belong to the exit's catcher now
    stack::unwind_last();
    return;
  }
  if (caught != exits::kError) exits::throw_unwind(caught);
  // The error unwound the stacks to this try frame and popped it.
  runtime::SystemRecord& system = runtime::system();
  Cell error = system.thrown_value;
  system.exit_code = 0;
  // The records of the calls the error left still lie above this frame:
  // nothing has opened a frame since the raise. The trace is that of the
  // guarded code: the calls above the try frame.
  if (keep) error_value::capture_trace(error, static_cast<uint32_t>(own_top - stack::frame_bottom) + 1);
  stack::frame_top = own_top;
  stack::arguments_ = result;
  *result = error;
  stack::top = result + 1;
}

// --- break, continue, exit, return, throw -------------------------------------------

void break_(bool, const int32_t* refinements) { stack::throw_break(refinements[0] != -1, false); }

void continue_(bool, const int32_t*) { stack::throw_break(false, true); }

void exit(bool, const int32_t*) { stack::throw_return(false, false); }

void return_(bool, const int32_t*) { stack::throw_return(true, false); }

// The thrown value is the frame's first cell and the name its second: the
// word of /name, or unset for a throw without a name.
void throw_(bool check_types, const int32_t* refinements) {
  int32_t name_at = refinements[0];
  if (check_types && name_at >= 0) check(word_types, name_at);
  if (trace::active()) trace::report_throw();
  if (name_at < 0) {
    stack::top = argument(1);
    stack::push(unset::value);
  }
  stack::throw_value(exits::kThrow);
}

// --- catch ---------------------------------------------------------------------------

// Whether a throw's name is one that catch/name waits for: a word of the
// same canonical symbol as the catch's word or one of its block's words.
bool name_matches(const Cell& names, const Cell& thrown_name) {
  if (names.is(TYPE_BLOCK)) {
    for (uint32_t i = series::index_of(names); i < tail_of(names); ++i) {
      if (!cell_at(names, i).is(TYPE_WORD)) fire(ErrorId::script_invalid_refine_arg, &name_word, &names);
    }
  }
  if (!thrown_name.is(TYPE_WORD)) return false;
  uint32_t wanted = symbol::resolve(word::symbol_of(thrown_name));
  if (names.is(TYPE_WORD)) return symbol::resolve(word::symbol_of(names)) == wanted;
  for (uint32_t i = series::index_of(names); i < tail_of(names); ++i) {
    if (symbol::resolve(word::symbol_of(cell_at(names, i))) == wanted) return true;
  }
  return false;
}

// Whether a catch/name waits for the name console: such a catch takes the
// console's halt (see interpreter::raise_halt).
bool names_console(const Cell& names) {
  if (names.is(TYPE_WORD)) return symbol::resolve(word::symbol_of(names)) == console_symbol;
  if (!names.is(TYPE_BLOCK)) return false;
  for (uint32_t i = series::index_of(names); i < tail_of(names); ++i) {
    Cell name = cell_at(names, i);
    if (name.is(TYPE_WORD) && symbol::resolve(word::symbol_of(name)) == console_symbol) return true;
  }
  return false;
}

void catch_(bool check_types, const int32_t* refinements) {
  int32_t name_at = refinements[0];
  if (check_types) {
    check(block_types, 0);
    if (name_at >= 0) check(names_types, name_at);
  }
  Cell block = *argument(0);
  Cell names = name_at >= 0 ? *argument(name_at) : none::value;
  stack::Frame* own_top = stack::frame_top;
  Cell* frame_first = stack::top;
  stack::mark(&body_word, stack::kCatch);
  bool takes_halt = name_at >= 0 && names_console(names);
  if (takes_halt) stack::current_frame()->header |= stack::kHaltTarget;
  uint32_t caught = 0;
  try {
    interpreter::eval_block(block, false);
  } catch (const exits::Unwind& unwind) {
    // The console's halt stops only at the frame it was unrolled to, which
    // it left holding its value and name as a throw would.
    bool halt_here = unwind.code == exits::kHalt && takes_halt && stack::frame_top == own_top + 1;
    if (unwind.code > exits::kThrow && !halt_here) throw;
    caught = halt_here ? exits::kThrow : unwind.code;
  }
  uint32_t code = caught ? caught : exits::pending;
  if (code == 0) {
    stack::unwind_last();
    return;
  }
  if (code != exits::kThrow) {
    if (caught) exits::throw_unwind(caught);
    return;
  }
  // A throw ended here: this catch frame is the top frame and holds the
  // thrown value and its name.
  exits::pending = 0;
  runtime::system().exit_code = 0;
  stack::frame_top = own_top + 1;
  stack::arguments_ = frame_first;
  stack::top = frame_first + 2;
  if (name_at >= 0 && !name_matches(names, frame_first[1])) {
    // Not ours: the same throw goes on to the next catch outward.
    stack::throw_value(exits::kThrow);
    return;
  }
  // The throw is over: the frame it recorded must not name the call of
  // a later error.
  stack::take_throw_marker();
  if (trace::active()) trace::report_catch();
  stack::unwind_last();
}

}  // namespace

void init() {
  try_word = word::make_value(symbol::make("try"), 0, -1);
  body_word = word::make_value(runtime_words::angled_body, 0, -1);
  name_word = word::make_value(runtime_words::name, 0, -1);
  console_symbol = symbol::resolve(symbol::make("console"));

  block_types = typeset_of({{TYPE_BLOCK}});
  word_types = typeset_of({{TYPE_WORD}});
  names_types = typeset_of({{TYPE_WORD, TYPE_BLOCK}});

  using natives::Native;
  natives::install(Native::try_, try_);
  natives::install(Native::break_, break_);
  natives::install(Native::continue_, continue_);
  natives::install(Native::exit, exit);
  natives::install(Native::return_, return_);
  natives::install(Native::throw_, throw_);
  natives::install(Native::catch_, catch_);
}

}  // namespace kel::natives_exits
