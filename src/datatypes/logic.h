// logic!: true and false. Cell: data1 is 1 for true, 0 for false.
#pragma once

#include "runtime/cell.h"

namespace kel::logic {

// The shared constant cells.
extern const Cell true_value;
extern const Cell false_value;

inline Cell make(bool flag) { return make_cell(TYPE_LOGIC, flag ? 1u : 0u); }
inline uint32_t get(const Cell& cell) { return cell.data1; }

// Makes the current frame's result cell a logic! holding the flag.
Cell* box(bool flag);
Cell* make_in(const Cell* block, bool flag);
Cell* push(bool flag);

// Truth of a value: false for none and logic false, true for every other
// value. With check set, an unset value raises script no-value naming word.
bool value_true(const Cell& cell, bool check, const Cell* word);
// Truth of the result cell; unset raises script no-return.
bool true_q();
// The result cell is none or false (unset counts as true).
bool false_q();
// The last pushed value (or the frame's first cell when nothing was pushed
// above it) is none or false.
bool top_false();
inline bool top_true() { return !top_false(); }

void init();

}  // namespace kel::logic
