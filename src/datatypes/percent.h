// percent!: a double shown multiplied by 100 with a "%" sign.
//
// Cell: type 38, the fraction as a double in data2 (low half) and data3
// (high half): 50% holds 0.5. percent! is a child of float! and inherits
// every action but form and mold. Its form is the rounded text of the value
// times 100; its mold is the shortest text that reads back to the same
// fraction, its decimal point moved two places (0.1 + 0.2 molds as
// 30.000000000000004%), so that a percent survives a save and load.
#pragma once

#include <cstdint>

#include "datatypes/float.h"
#include "runtime/cell.h"

namespace kel::percent {

inline Cell make(double fraction) { return float_type::make(fraction, TYPE_PERCENT); }

// Sets the cell to a percent! (its flags kept).
Cell* set_cell(Cell* cell, double fraction);
// Appends a percent! to the block.
Cell* make_in_block(const Cell* block, double fraction);
// Makes the current frame's result cell a percent!.
Cell* box(double fraction);
// The same as set_cell (the name other datatypes use).
inline Cell* make_at(Cell* cell, double fraction) { return set_cell(cell, fraction); }
// Pushes a new percent! (from a double or its two 32-bit halves).
Cell* push(double fraction);
Cell* push64(uint32_t low, uint32_t high);

// The round-trip text of a fraction: "50%", "12.5%", "1.#INF".
float_type::FloatText mold_text(double fraction);

void init();

}  // namespace kel::percent
