// unset!: the absence of a value; a fresh cell is unset. No payload.
#pragma once

#include "runtime/cell.h"

namespace kel::unset {

// The shared constant cell routines hand back for unset.
extern const Cell value;

// Makes the current frame's result cell unset; returns it.
Cell* set_result();
Cell* make_in(const Cell* block);
Cell* push();

void init();

}  // namespace kel::unset
