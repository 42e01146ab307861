// The loop frame that the loop natives (while, until, loop, repeat,
// forever, foreach, forall, remove-each) run their iterations in.
//
// A loop opens one frame of kind loop above its arguments; its first cell
// receives the value of each iteration, so it holds the last one, or the
// break value once a break arrived. break and continue unroll the stacks to
// that frame and leave their code pending (or, from C++ callers of Kel code,
// arrive as an exception), so an iteration ends in one of four ways: done,
// continued, broken, or left by an exit that belongs to someone further out.
// In the last case the loop returns at once without touching the stacks,
// which already belong to the frame that catches the exit. After a break or
// a continue the loop puts the stack pointers back on its own frame itself
// (settle), so a C++ guard that restored them on the way out cannot mislead
// it.
#pragma once

#include <cstdint>

#include "evaluator/interpreter.h"
#include "runtime/stack.h"
#include "runtime/cell.h"
#include "runtime/exits.h"
#include "runtime/runtime.h"

namespace kel::loops {

// What a loop frame's first cell holds before the first iteration: whatever
// lay there (loops that always run once or set their result themselves), or
// unset pushed on opening.
enum class StartingResult { kLeftAsIs, kUnset };

// One running loop's frame, opened on construction and closed explicitly by
// close() or close_with_result() (an exit leaves it to whoever catches it).
class LoopFrame {
 public:
  // Opens the frame named by the word (<body> for the loop natives). With
  // StartingResult::kUnset a loop that runs no iteration answers unset.
  explicit LoopFrame(const Cell* name, StartingResult start = StartingResult::kLeftAsIs) {
    stack::mark_loop(name);
    frame_top_ = stack::frame_top;
    first_ = stack::arguments();
    if (start == StartingResult::kUnset) stack::push_slot();
  }
  LoopFrame(const LoopFrame&) = delete;
  LoopFrame& operator=(const LoopFrame&) = delete;

  Cell* first() const { return first_; }
  // The value of the last iteration that ended normally, or the break value.
  const Cell& result() const { return *first_; }

  // Back on this frame after a break or continue, whatever the stack
  // pointers were left at on the way here.
  void settle() const {
    stack::frame_top = frame_top_;
    stack::arguments_ = first_;
    stack::top = first_ + 1;
  }

  // The frame lives on after each block run in it: it gives up the
  // block's position, so that errors the loop itself raises take the
  // caller's, as they would with no block run.
  void clear_position() const { stack::clear_position(frame_top_ - 1); }

  // Closes the frame, its first cell becoming the native's result.
  void close_with_result() const { stack::unwind_last(); }
  // Closes the frame, dropping its result.
  void close() const { stack::unwind(); }

 private:
  stack::Frame* frame_top_;
  Cell* first_;
};

// How one iteration ended. Unlike interpreter::run_loop_body, a continue is
// kept apart from a normal end, for loops that must tell them apart (until
// tests nothing after a continue; remove-each removes nothing).
enum class Iteration { kDone, kContinued, kBroken, kPropagate };

// Runs one block in the loop frame (the block opens none of its own)
// under the iteration catch: break and continue stop here, every other exit
// passes on (kPropagate for a pending one, a rethrow for one that arrived
// as an exception).
inline Iteration run_iteration(const LoopFrame& loop, const Cell& block) {
  stack::top = loop.first();  // the block's safe points take collections and interrupts
  uint32_t caught = exits::catch_exits(exits::kBreak, [&] { interpreter::eval_block_in_frame(block); });
  loop.clear_position();
  uint32_t code = caught ? caught : exits::pending;
  switch (code) {
    case 0:
      return Iteration::kDone;
    case exits::kBreak:
    case exits::kContinue:
      exits::pending = 0;
      runtime::system().exit_code = 0;
      loop.settle();
      return code == exits::kBreak ? Iteration::kBroken : Iteration::kContinued;
    default:
      if (caught) exits::throw_unwind(caught);
      return Iteration::kPropagate;
  }
}

}  // namespace kel::loops
