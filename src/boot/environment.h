// The global environment built at start-up: the datatype words, the action
// and native words with their specs (loaded from boot/actions.kel and
// boot/natives.kel, data files), then the core words defined in Kel source
// (boot/core.kel and the files it lists).
#pragma once

namespace kel::boot {

void build_environment();

}  // namespace kel::boot
