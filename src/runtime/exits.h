// Non-local exits: every recoverable unwinding of the runtime is a throw of
// one 32-bit exit code, carried as a C++ exception.
//
// The codes sit at the top of the signed range so that one unsigned
// comparison orders them: a catch site declares a threshold and catches every
// code at or below it; anything above passes on to an outer catcher. The
// language's own exits are throw < exit < return < continue < break < error;
// the memory manager's codes lie just below them, and the console's halt
// above them all. The code in flight is also
// recorded in the runtime system record (runtime::system().exit_code), where
// the catcher reads it and clears it once it has dealt with the exit.
//
// Whatever a routine changed before a throw passes through it (stack
// pointers, cycle-stack entries, pins, console mode) is restored by RAII
// guards on the way out, never by the catcher.
#pragma once

#include <cstdint>

namespace kel::exits {

constexpr uint32_t kThrow = 0x7FFFFFFA;
constexpr uint32_t kExit = 0x7FFFFFFB;
constexpr uint32_t kReturn = 0x7FFFFFFC;
constexpr uint32_t kContinue = 0x7FFFFFFD;
constexpr uint32_t kBreak = 0x7FFFFFFE;
constexpr uint32_t kError = 0x7FFFFFFF;

// The console's halt, which a console interrupt (Ctrl-C) requests: above
// every language exit, so that no try, catch, loop or function call takes
// it on the way to the console's catch (see interpreter::raise_halt).
constexpr uint32_t kHalt = 0x80000000;

// The platform layer's memory refusals, and the threshold at which the
// memory manager catches them.
constexpr uint32_t kOsCommitRefused = 0x7FFFFFF7;
constexpr uint32_t kOsReleaseRefused = 0x7FFFFFF6;
constexpr uint32_t kMemoryCatch = 0x7FFFFFF8;

// The outermost catcher takes everything.
constexpr uint32_t kCatchAll = 0xFFFFFFFF;

// The exception object of a non-local exit.
struct Unwind {
  uint32_t code;
};

// The code of the pending break, continue, return, exit or throw, 0 when
// none. These exits do not throw: their natives unroll the stacks to the
// catching frame and leave the code here; every routine that evaluates code
// returns at once while it is set (see interpreter.h).
extern uint32_t pending;

// Records the code in the runtime system record and throws it.
[[noreturn]] void throw_unwind(uint32_t code);

// Runs body; returns 0 when it completes, or the code of an exit at or below
// threshold that it raised (the exit is then over). Codes above the
// threshold propagate.
template <class Body>
[[gnu::always_inline]] inline uint32_t catch_exits(uint32_t threshold, Body&& body) {
  try {
    body();
    return 0;
  } catch (const Unwind& unwind) {
    if (unwind.code > threshold) throw;
    return unwind.code;
  }
}

// Whether a non-local exit is pending (pending holds its code).
inline bool exiting() { return pending != 0; }

}  // namespace kel::exits
