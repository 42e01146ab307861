// ref!: a reference written after "@" (@name).
//
// Cell and buffer as string! (string.h) with type 50; the "@" is not
// stored. A child of string! whose mold writes "@" and the text as it
// stands; its form is the bare text. Unlike string! it has no append and no
// path access.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kel::ref {

// Pushes a copy of the cell.
Cell* push(const Cell& ref);
// A new ref! from UTF-8 text (without the "@"), pushed on the stack.
Cell* load(const uint8_t* bytes, uint32_t length);

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);

// Registers ref! (id 50, parent string!).
void init();

}  // namespace kel::ref
