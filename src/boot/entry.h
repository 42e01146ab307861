// The entry routine and the runtime initialisation.
//
// entry() takes the bare process, brings the runtime into a known state in
// its fixed order (each step uses what the steps before it made), builds the
// environment and hands control to the console; every way out of it ends
// the process.
#pragma once

namespace kel::boot {

// Runs the runtime initialisation once, in order. Safe to call again (it
// does nothing the second time); the unit tests call it to get a runtime.
void init_runtime();

// The whole program; never returns.
[[noreturn]] void entry(int argc, char** argv);

}  // namespace kel::boot
