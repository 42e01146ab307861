// paren!: a block that the interpreter evaluates in place, written between
// parentheses. It keeps the block cell and buffer (type id 6) and inherits
// every block action but trim; only its mold is its own.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kel::paren {

// Pushes a copy of the cell on the evaluation stack, typed paren!.
Cell* push(const Cell& cell);

// "(" and ")" around the cells (unless only), which follow the new-line and
// indentation rules of blocks.
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);

// Registers paren! (id 6, parent block!).
void init();

}  // namespace kel::paren
