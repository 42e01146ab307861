// The parse dialect: matching an input series (a block of any kind, text of
// any string-like kind, or a binary) against a block of grammar rules.
//
// The engine walks the rules with an explicit state machine over two
// global stacks instead of recursion, so a grammar nested to any depth
// costs stack cells (bounded at 10000 per stack, "PARSE - stack limit
// reached"), never machine stack. The input stack holds the input series
// and one more series per open `into`; the rule stack holds three-cell
// frames: one per entered rule block and one per pending command (`some`,
// `copy`, `collect` ...). A parse started from a paren action or a trace
// callback of another parse works above the outer one's cells and leaves
// them as it found them, whether it ends normally, by an error or by a
// break, return or throw passing through.
//
// Paren actions run Kel code that may change anything: the rules, the
// input, the words. The engine therefore keeps no raw buffer pointer across
// an evaluation; it holds nodes and indexes and re-reads the buffers after
// every action.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kel::parse {

// Comparison modes of a running parse (/case and the case keyword).
constexpr int32_t kCaseInsensitive = 0;
constexpr int32_t kCaseSensitive = 2;

// The most cells either stack may hold for one parse.
constexpr uint32_t kStackLimit = 10000;

// Makes the two stacks and interns the keywords. Safe to call more than
// once; process() calls it on first use.
void init();

// Runs the rules over the input from its index and answers a logic! (the
// rules matched through their end and the input is exhausted) or the
// block built by a top-level collect. mode is kCaseInsensitive or
// kCaseSensitive. With has_limit, limit is an absolute input index that
// ends the input; it is clamped into [input index, tail]. callback, when
// not null, is the trace function called before each reported event.
// When a break, continue, return, exit or throw raised by an action is
// pending on return (interpreter::exiting()), the answer means nothing and
// the caller must return at once.
Cell process(const Cell& input, const Cell& rules, int32_t mode, bool has_limit, int64_t limit,
             const Cell* callback);

// The collector's marking of the values the running parse engines hold
// (their inputs, rules and collected values); the interpreter installs it
// as the registration table's mark_evaluator_roots entry.
void mark_engines();

}  // namespace kel::parse
