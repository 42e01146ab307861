// symbol!: the records of the symbol table (runtime/symbol_table.h) as a
// datatype of their own (id 13, no global word): they compare as their
// names' text.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/symbol_table.h"

namespace kel::symbol {

// The compare handler of symbol! records (names as text).
int32_t compare(Cell* value1, Cell* value2, int32_t op);

// Registers symbol! (id 13).
void init();

}  // namespace kel::symbol
