// The global environment built at start-up: the datatype words, the action
// and native words with their specs (loaded from boot/actions.kel and the
// boot/natives-*.kel data files), then the core words defined in Kel source:
// boot/core.kel, then the files boot/manifest.kel lists, in its order.
#pragma once

namespace kel::boot {

void build_environment();

}  // namespace kel::boot
