// Tracing hooks: the events that the interpreter, fire() and the exit
// natives report to a tracer, a Kel function installed by do/trace.
//
// State: a tracer cell (none while no tracer is installed), the tracer's
// event mask, and two flags. `installed` says a tracer is in place for the
// running do/trace; `tracing` says events are reported right now. Tracing
// goes off while the tracer itself runs (so it is never traced), inside
// functions marked [no-trace], and comes back on inside functions marked
// [trace]. Every report site tests active() first, which keeps the hooks to
// one flag test per step while nothing is traced.
//
// A report opens a function frame for the tracer one cell above the stack
// top (the cell being reported may sit exactly at the top), passes it the
// event word, the code block or path, the offset of the position from the
// code's index (-1 outside it, and with no code), the value, the ref and the
// extent of the observed frame as a pair! of stack indexes, and puts the
// stacks back afterwards. Whatever the tracer raises goes on to the traced
// code: errors as they are, break, continue and throw as exceptions (the
// report sites cannot take a pending exit).
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kel::trace {

// The events, one bit each, in the order of their words.
enum Event : uint32_t {
  kInit = 0x0001,
  kEnd = 0x0002,
  kProlog = 0x0004,
  kEpilog = 0x0008,
  kEnter = 0x0010,
  kExit = 0x0020,
  kOpen = 0x0040,
  kReturn = 0x0080,
  kFetch = 0x0100,
  kPush = 0x0200,
  kSet = 0x0400,
  kCall = 0x0800,
  kError = 0x1000,
  kThrow = 0x2000,
  kCatch = 0x4000,
  kExpr = 0x8000,
};
constexpr uint32_t kErrorEvent = kError;
constexpr uint32_t kEventCount = 16;
// The mask of a tracer whose body does not start with a block of events.
constexpr uint32_t kDefaultMask = 0x1FFFF;
// A position that lies in no code (reported as offset -1).
constexpr uint32_t kNoPosition = 0xFFFFFFFF;

// Whether events are reported right now (a tracer is installed and tracing
// is on). Every report site tests it before calling in here, so it is one
// load on the interpreter's hot paths.
namespace detail {
extern bool tracing;
}
inline bool active() { return detail::tracing; }
// Whether a tracer is installed.
bool installed();

// Fills the tracer's entry of the registration table: fire() reports every
// error through it (report_error).
void init();
// The error event of an error being raised, while tracing is on; the exit
// code register is kept as it was.
void report_error(const Cell& error);

// Reports one event when its bit is in the tracer's mask. code is the block
// or path being evaluated (null for none) and position an absolute cell
// index in it; value and ref may be null (none). The ref reaches the tracer
// only for set, prolog, epilog, return and call.
void fire(uint32_t event, const Cell* code, uint32_t position, const Cell* value, const Cell* ref);
// An event with a value and no code (the error event of fire()).
void fire(uint32_t event, const Cell& value);

// The fixed-event reports.
void report_init();
void report_end();
// throw and catch report the current frame's first cell (the thrown value).
void report_throw();
void report_catch();
// A call whose arguments are gathered, and its return with the result.
// call_position is the position after the word or path naming the call:
// the call site, reported as ref and by its offset, is the cell before it
// (name when there is none). The return is reported at end_position, after
// the arguments.
void report_call(const Cell& code, uint32_t call_position, const Cell& name, const Cell& callee);
void report_return(const Cell& code, uint32_t call_position, uint32_t end_position, const Cell& name,
                   const Cell& result);

// A function's body is about to run (reported at its head), or has run
// (reported at its tail); body is none for a function without one.
void report_prolog(const Cell& body, const Cell& function);
void report_epilog(const Cell& body, const Cell& function);

// The event mask of a tracer function: the bits of the event words of the
// block its body starts with, or kDefaultMask.
uint32_t event_mask(const Cell& tracer);

// Installs a tracer and turns tracing on; false (and nothing changes) when
// one is installed already.
bool install(const Cell& tracer);
// Removes the tracer and turns tracing off.
void remove();

// Tracing for the body of a function: [trace] (flag 0x400) turns it on when
// a tracer is installed, [no-trace] (0x200) turns it off; the previous state
// comes back when the scope ends, however it ends.
// A function with neither marker, the common case, costs one test on
// entry and one on leaving.
class FunctionScope {
 public:
  // The two markers' bits in a function cell's header.
  static constexpr uint32_t kMarkers = 0x400 | 0x200;
  explicit FunctionScope(const Cell& function)
      : saved_(detail::tracing), changes_((function.header & kMarkers) != 0) {
    if (changes_) enter(function);
  }
  // A function without either marker leaves the flag as its body left it,
  // so that `trace false` inside it holds after it returns.
  ~FunctionScope() {
    if (changes_) detail::tracing = saved_;
  }
  FunctionScope(const FunctionScope&) = delete;
  FunctionScope& operator=(const FunctionScope&) = delete;

 private:
  // Sets the flag as the function's marker asks.
  static void enter(const Cell& function);
  bool saved_;
  bool changes_;
};

}  // namespace kel::trace
