// function! and routine!: user functions and systems-level routines.
//
//   function!  header 24 | attribute flags (0x400 trace, 0x200 no-trace);
//              data1 the node of its context (a stack context of function
//              kind made from the interface's words: the arguments, refinements,
//              refinement arguments and locals); data2 the interface block node;
//              data3 the node of the five-cell info block.
//   routine!   type 29 (| 0x8000 when flagged), the argument count in
//              header bits 25-29, the same data words.
//
// Info block: cell 0 the body block (a deep copy bound to the context) or
// none; cell 1 the argument-spec cache (unset until the first call); cell 2
// the index of compiled code (unset: the body runs); cell 3 a copy of the
// op! made from the function; cell 4 an extra integer given at creation.
// The context's self cell holds the function itself.
//
// Routines are C++ functions (library/routines.h). A routine!'s info cell 2
// is an integer!: the index of its row in the routine table; cell 4 is an
// integer!: the datatype id of its result, -1 when its spec declares none;
// its body block holds one string that says what the C++ code does. The
// interpreter calls a routine as it calls a native: it opens a frame,
// pushes the arguments in interface order (checked against their types)
// and hands the routine! to routines::call, whose entry reads the frame's
// cells and leaves the result in the first of them.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::function {

constexpr uint32_t kInfoBody = 0;
constexpr uint32_t kInfoCache = 1;
constexpr uint32_t kInfoCode = 2;
constexpr uint32_t kInfoOp = 3;
constexpr uint32_t kInfoExtra = 4;

// A routine!'s argument count (the word! entries of its spec), header bits 25-29.
constexpr uint32_t kRoutineArgumentShift = 25;

constexpr uint32_t kTraceFlag = 0x400;
constexpr uint32_t kNoTraceFlag = 0x200;

// Builds a function! on a new stack cell from a spec and a body (null for
// none), with the given context (0 to make one from the interface block) and header
// flags; returns the pushed cell. Without a given context the body copy is
// bound deeply to the new context.
Cell* push(const Cell* spec, const Cell* body, NodeId context, uint32_t flags);

// While the boot runs the library's code it can hand bodies over: push
// asks the hook about a body block at its head, and when the hook answers
// yes (it does so once per block, for blocks that nothing but the code
// being run can reach) the function keeps that block, bound in place,
// instead of a copy. Null the rest of the time: every body is copied.
extern bool (*hand_over_body)(NodeId block);

inline NodeId context_of(const Cell& value) { return value.data1; }
inline NodeId interface_node(const Cell& value) { return value.data2; }
inline NodeId info_node(const Cell& value) { return value.data3; }
Cell* info(const Cell& value, uint32_t cell);

// Checks a function spec; returns the attribute flags. Raises bad-func-def,
// invalid-type-spec, no-value or dup-vars.
uint32_t validate_spec(const Cell* spec);

// The function native's collection of local words (set-words and the loop
// words of repeat, foreach and remove-each in the body); appends /local and
// the words to the interface block when any were found.
void collect_words(Cell* spec, const Cell* body);

void init_function();
void init_routine();

}  // namespace kel::function
