// The interpreter: evaluates blocks expression by expression on the
// evaluation stack. It resolves words, evaluates parens, sets words and
// paths, calls natives, actions, functions and routines with arguments
// gathered by their specs, and applies infix operators left to right.
//
// Result placement: every expression's value ends in the cell that was the
// stack top when the expression began, and the top is left one cell above
// it. A block's evaluation opens a frame whose first cell receives the value
// of each expression in turn, so the last one is the block's result.
//
// The interpreter never keeps a raw pointer into the block it runs across a
// sub-evaluation: it holds the block's node and an index and re-reads the
// buffer and its tail at every step, so code that modifies the block it runs
// in is safe.
//
// Non-local exits. Errors are C++ exceptions (exits::Unwind with kError)
// thrown after the stacks were unwound to the nearest try frame. break,
// continue, return, exit and throw are on hot paths and do not throw: their
// natives unroll the stacks to the catching frame and leave the exit's code
// in exits::pending. Every routine that evaluates code returns at once while an
// exit is pending, without touching the stacks (they were already unrolled),
// until the routine that owns the catching frame (a loop, a function call,
// catch) sees its code and clears it. C++ code that calls back into Kel but
// cannot pass an exit on (a sort comparator, a change handler) uses
// call_value(), which turns a pending exit into an exception; catchers
// accept both forms.
#pragma once

#include <csignal>
#include <cstdint>

#include "datatypes/argument_cache.h"
#include "runtime/cell.h"
#include "runtime/exits.h"
#include "runtime/memory.h"
#include "runtime/runtime.h"

namespace kel::interpreter {

// Whether a non-local exit is pending (exits::pending holds its code).
inline bool exiting() { return exits::exiting(); }

void init();

// The current position: the block of user code being evaluated with its
// index at the expression about to run (errors take their `near` from it),
// as the innermost block frame of user code records it; unset outside any.
Cell position();

// Evaluates a whole block from its index in a new frame named <body>. The
// value of its last expression (unset for an empty block) is left in the
// cell that was the stack top; with chain it is also copied into the
// caller's result slot.
void eval_block(const Cell& block, bool chain);
// eval_block(block, false) in the innermost frame, which the caller opened
// and closes: the block opens no frame of its own (tracing aside), and the
// frame carries its position while it runs. A frame that lives on after
// the block gives the position up (stack::clear_position). Loops run their
// bodies through it: an empty block still takes a safe point here, so that
// a loop over one stays interruptible.
void eval_block_in_frame(const Cell& block);

// Evaluates one expression of a block starting at index (below end); its
// value is left at the stack top as it was on entry. Returns the index after
// the expression. no_infix suppresses the operator look-ahead; with
// quote_functions, function values met in the block are taken as values.
uint32_t eval_expression(const Cell& block, uint32_t index, uint32_t end, bool no_infix,
                         bool quote_functions);

// One expression in its own frame (any, all, case, reduce): the value is
// pushed; returns the index after it. At the tail the value is unset.
uint32_t eval_next(const Cell& block, uint32_t index);

// Calls a native, action, function or routine value with arguments
// gathered from the block at index; the result replaces the cell at the
// stack top on entry. Returns the index after the last argument. name names
// the frame (null for <anon>); path, when given, holds the refinements from
// path_index on; object is the context of a method call (0 for none).
uint32_t eval_code(const Cell& callee, const Cell& block, uint32_t index, uint32_t end, bool infix,
                   const Cell* name, const Cell* path, uint32_t path_index, NodeId object);

// Evaluates a path (plain, get or set) whose cell was read at index - 1;
// returns the index after it. For a set-path, value is the value to set.
uint32_t eval_path(const Cell& path, const Cell& block, uint32_t index, uint32_t end, bool get,
                   const Cell* value);

// Sets a word to a value as context::set does (binding a word of the
// context that has none yet), storing in place when the word's values are at
// hand: a word of the global context, or of the function running now.
void set_word(Cell* word, const Cell& value);

// Runs a function's body in the current frame, which holds its arguments.
void call_function(const Cell& function, NodeId context);

// Calls a callable value with the given argument values (in spec order, no
// refinements) and answers its result. A pending exit raised inside is
// turned into an exception, so C++ callers unwind through it.
Cell call_value(const Cell& callable, const Cell* arguments, uint32_t count);

// The argument-spec cache of a callable (built on first use): a block of
// one typeset! per argument (kind in header bits 20-21), one refinement!
// per refinement (natives: ordinal in data3), and integers for the locals
// count (functions) or the refinement count (natives and actions).
NodeId argument_cache(const Cell& callable);

// Lays out a function's frame above its mark from its argument cache: the
// given values in order for its plain arguments (with through_refinements,
// for its arguments and refinements in the order of its interface, as a
// port's actor takes them), then for every cell left false for a
// refinement, none for an argument, false for /local and none for each
// local word. Answers how many given values it took. Every frame of a
// function laid out from values goes through it.
uint32_t push_frame_cells(NodeId cache, const Cell* given, uint32_t count, bool through_refinements = false);
// Opens the frame of a function called from C++, named by name, and lays
// it out (push_frame_cells); call_function then runs the body in it.
uint32_t open_function_frame(const Cell& function, const Cell& name, const Cell* given, uint32_t count,
                             bool through_refinements);
// The cells of the frame from cache position `from` on, none given: what a
// call leaves unfilled after its plain arguments.
void push_unfilled_cells(NodeId cache, uint32_t from);

// Registers the interface of a native! or action! value the boot binds to
// a word as the one its number's entry reads the frame by (see native.h).
void register_interface(const Cell& builtin);

// Argument kinds in a cache typeset's header (datatypes/argument_cache.h).
using argument_cache::kArgumentKindMask;
using argument_cache::kPlainArgument;
using argument_cache::kGetArgument;
using argument_cache::kLitArgument;
using argument_cache::kReturnSpec;

// The ordinal (from 1) of a native's or action's refinement in its cache
// entry (data3): the slot of the refinement integers that the entry reads.
inline uint32_t refinement_ordinal(const Cell& entry) { return entry.data3; }
inline void set_refinement_ordinal(Cell* entry, uint32_t ordinal) { entry->data3 = ordinal; }

// Whether the block being evaluated is the library's own code (its buffer
// carries series_flags::kLibraryCode). Library code behaves as compiled
// code: its frames do not count as interpreted, the tracer sees nothing
// inside it, and an error raised in it keeps the caller's expression as its
// near.
bool in_library_code();

// The tracing flag as user code sees it: inside library code (which runs
// untraced) the state that the user code around it had, and will have again
// once the library code returns. Setting it from library code (`trace` with
// a logic value, `do/trace` run by the developer tools) changes the tracing
// of the user code that the library code returns to or evaluates.
bool user_tracing();
void set_user_tracing(bool on);

// Console interrupts. The SIGINT handler only sets halt_requested; the
// interpreter tests it where it offers the collector a safe point
// (expression boundaries and loop iterations), as the parse engine does at
// each step and `wait` while it sleeps, and raises the console's halt
// there: the word halt-request under the name console, what `halt` throws,
// delivered to the innermost catch/name for the name console
// (stack::throw_halt). Unlike `halt`, it passes every other catch, try,
// try/all, loop and function on the way, so no code can keep the user from
// stopping it. While no such catch could take the halt the request waits.
using runtime::halt_requested;
void raise_halt();
inline void halt_point() {
  if (halt_requested) raise_halt();
}

// Runs a loop body in the current loop frame: the outcome tells the loop
// what to do next. A break leaves its value (unset, or the break/return
// value) as the loop frame's result.
enum class LoopOutcome { kNext, kBreak, kPropagate };
LoopOutcome run_loop_body(const Cell& body);

}  // namespace kel::interpreter
