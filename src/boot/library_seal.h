// Sealing the library at the end of the boot: the functions the library
// defined become the library's own code.
//
// - Their bodies (every block and paren inside) are flagged as library code,
//   which the interpreter runs as compiled code (interpreter.h,
//   in_library_code).
// - Their words that name functions (natives, actions, operators, library
//   functions) are bound to a snapshot of those values taken now, so that a
//   user who redefines `append` or `print` does not change what the library
//   calls. Words that name other values stay bound to the global context,
//   where the library expects to see their current values.
#pragma once

namespace kel::boot {

void seal_library();

}  // namespace kel::boot
