// none!: the empty value. No payload. It also answers the series actions
// clear, find, remove, select and take (none) and length? (none).
#pragma once

#include "runtime/cell.h"

namespace kel::none {

// The shared constant cell routines hand back for none.
extern const Cell value;

// Makes the current frame's result cell none; returns it.
Cell* set_result();
Cell* make_in(const Cell* block);
Cell* push();

void init();

}  // namespace kel::none
