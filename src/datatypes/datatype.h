// datatype!: a value naming a datatype. Cell: data1 holds the named type id.
#pragma once

#include "runtime/cell.h"

namespace kel::datatype {

inline Cell make(TypeId type) { return make_cell(TYPE_DATATYPE, type); }
// The type id the value names.
inline TypeId named_type(const Cell& datatype) { return datatype.data1; }
// Appends a datatype! cell to a block; returns it.
Cell* make_in(const Cell* block, TypeId type);
// Pushes a datatype! on the evaluation stack; returns it.
Cell* push(TypeId type);

void init();

}  // namespace kel::datatype
