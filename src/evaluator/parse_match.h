// Parse value matching: how one rule value is compared with the input at
// its position, searched for (`to`, `thru`), repeated (`any`, `some`,
// `opt`, `while` and counts over one literal), and how kept values reach a
// collect target.
//
// Positions are absolute unit indexes from the input buffer's head: cells
// for block input, characters for text, bytes for binary. Every routine
// takes the end of the input (the tail, or the /part limit) and never
// matches past it. None of them allocates or evaluates while it reads the
// input, so the raw buffer addresses they take are valid for the whole
// call; the keep routines allocate and re-read everything afterwards.
//
// The comparison mode is the parse's: 0 folds characters to upper case, 2
// compares them exactly. Bitsets always test the exact code point.
#pragma once

#include <cstdint>

#include "datatypes/series.h"
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::parse::match {

enum class InputKind : uint8_t { kBlock, kText, kBinary };

InputKind kind_of(TypeId type);

// Units from the buffer's head to its tail.
inline uint32_t length_of(const Cell& series) {
  const SeriesBuffer* b = series::buffer_of(&series);
  return b->used() / b->unit();
}

// Whether the value is compared directly for this kind of input (a literal
// that the search and repeat loops handle without running the rules).
bool is_direct_literal(InputKind kind, const Cell& value);

// Whether `to` and `thru` can search binary input for the value.
bool searchable_in_binary(const Cell& value);

// How many units the value matches at position (0 for an empty text value),
// or -1 when it does not match there.
int64_t match_length(const Cell& input, uint32_t position, uint32_t end, const Cell& value, int32_t mode);

// The literal match: on a match the input's index moves past it.
bool literal(Cell* input, const Cell& value, int32_t mode, uint32_t end);

// A block element compared with a rule value: a lit-word or lit-path rule
// value matches a word or path of the same spelling whatever its kind;
// any other value compares as equal? (mode 0) or strict-equal? (mode 2).
bool compare_element(const Cell& element, const Cell& value, int32_t mode);

// The element at the input's index has the type the datatype! names, or
// one of the typeset's; on a match the index moves by one.
bool datatype_in_block(Cell* input, const Cell& rule, uint32_t end);
// The lexer recognises a value of the datatype (or of one of the typeset's)
// in the bytes at the input's index; on a match the index moves past it.
bool datatype_in_binary(Cell* input, const Cell& rule, uint32_t end);

// Searches from the input's index for the value (a direct literal); when
// found the index moves to the start of the occurrence (to) or past it
// (thru) and true is answered; otherwise nothing moves.
bool search(Cell* input, const Cell& value, int32_t mode, uint32_t end, bool thru);

// Matches the value repeatedly from the input's index, at most maximum
// times (negative: no maximum), and moves the index past the matched run.
// Succeeds when at least minimum rounds matched; an empty text value
// matches every round at once without moving.
bool repeat(Cell* input, const Cell& value, int32_t minimum, int32_t maximum, int32_t mode,
            uint32_t end);

// Adds a kept value to a collect target: at the target's tail (at_tail), or
// at its index, which then moves past the new content. A block target takes
// the value as one element, or each element of a block value with pick; a
// text target takes its text, a binary target its bytes.
void keep(Cell* target, const Cell& value, bool pick, bool at_tail);

}  // namespace kel::parse::match
