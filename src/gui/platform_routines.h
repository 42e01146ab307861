// The routines of the platform contract (see platform_routines.cpp).
#pragma once

namespace kel::gui {

// Adds the GUI's routine rows to the routine table; runs before the table
// makes its routine values.
void add_platform_routines();

}  // namespace kel::gui
