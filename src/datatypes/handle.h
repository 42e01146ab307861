// handle!: an operating-system handle (a window, an imaging object ...)
// carried through the language.
//
// Cell: type 46; data1 the handle's class (0 for none; the classes count
// from 1, kClassWindow first); data2 the handle value; data3 the index of its
// slot in the resource table, -1 when the handle is not tracked (the
// collector marks a tracked handle's slot, so its resource is released when
// no value refers to it any more). A child of integer! that inherits
// nothing: it forms as eight hexadecimal digits and "h", molds as "handle!"
// ("#[handle! ...]" with mold/all) and compares by its value.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kel::handle {

// Handle classes, numbered from 1.
constexpr uint32_t kClassWindow = 1;

// An untracked handle of the value and class.
inline Cell make_value(uint32_t value, uint32_t handle_class) {
  return make_cell(TYPE_HANDLE, handle_class, value, static_cast<uint32_t>(-1));
}
// The handle as the current frame's result; returns the result cell.
Cell* box(uint32_t value, uint32_t handle_class);
// Appends a new handle to a block; returns the appended cell.
Cell* make_in_block(const Cell* block, uint32_t value, uint32_t handle_class);
// Pushes the null handle: value 0, class 0.
Cell* push_null();

// Registers handle! (id 46, parent integer!).
void init();

}  // namespace kel::handle
