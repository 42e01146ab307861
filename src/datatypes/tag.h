// tag!: markup written between angle brackets (<a href>).
//
// Cell and buffer as string! (string.h) with type 44; the brackets are not
// stored. A child of string! that differs from it only in its text form:
// form and mold both write "<", the text as it stands (no escapes) and ">".
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kel::tag {

// Pushes a copy of the cell.
Cell* push(const Cell& tag);
// A new tag! from UTF-8 text (without the brackets), pushed on the stack.
Cell* load(const uint8_t* bytes, uint32_t length);

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);

// Registers tag! (id 44, parent string!).
void init();

}  // namespace kel::tag
