// triple!: three signed 32-bit integers that only mold and form, as
// "make triple! [1 2 3]".
//
// Cell: type 31; data1, data2 and data3 the three integers, in order. The
// language has no constructor for it: values come from the serializer
// (set_cell). The lexer borrows the type for its marker cells, which never
// leave its value buffer.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kel::triple {

inline Cell make(int32_t first, int32_t second, int32_t third) {
  return make_cell(TYPE_TRIPLE, static_cast<uint32_t>(first), static_cast<uint32_t>(second),
                   static_cast<uint32_t>(third));
}
inline int32_t first_of(const Cell& triple) { return static_cast<int32_t>(triple.data1); }
inline int32_t second_of(const Cell& triple) { return static_cast<int32_t>(triple.data2); }
inline int32_t third_of(const Cell& triple) { return static_cast<int32_t>(triple.data3); }
// Sets the cell to the triple, keeping its new-line flag.
Cell* set_cell(Cell* cell, int32_t first, int32_t second, int32_t third);

// Registers triple! (id 31, no parent): form and mold only.
void init();

}  // namespace kel::triple
