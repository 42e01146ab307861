// The global environment built at start-up: the datatype words, the action
// and native words with their specs (loaded from boot/actions.kel and the
// boot/natives-*.kel data files), then the core words defined in Kel source:
// boot/core.kel, then the files boot/manifest.kel lists, in its order.
#pragma once

#include "runtime/memory.h"

namespace kel::boot {

void build_environment();

// The native! and action! values the boot made from the interface files,
// in the order it made them, in a block the root block keeps: a start from
// the boot image's heap registers their interfaces again (they are kept in
// C++, outside the heap). 0 before the boot made them.
NodeId builtin_values();
// The interfaces registered for those values, a block of cells each, in a
// new block (not kept: the image writer's boot writes it into the heap it
// keeps); and registering them again from such a block, without reading
// the values' interface blocks (false when the two blocks do not match).
NodeId builtin_interfaces();
bool register_builtin_interfaces(NodeId values, NodeId interfaces);

}  // namespace kel::boot
