// The start-up check that every slot the boot fills was filled.
//
// Lower layers reach what is set up later through slots that later code
// fills: the native table (every number from 1 to 107), the action
// entries (every slot that has an action word), the print hooks, and every
// entry of the registration table through which a layer calls up
// (runtime/upcalls.h). A slot left empty shows only when a script reaches
// it, as internal not-done, a quiet fallback or a crash; this check names
// it at start-up instead. (The terminal GUI's suspend and resume hooks are
// not start-up wiring: they are set while a GUI is shown.)
//
// init_runtime runs the check in builds without optimisation and whenever
// a program asked for it before booting (the case runner and the unit
// tests do); a slot left empty then ends the process with a report.
#pragma once

#include <string>
#include <vector>

namespace kel::boot {

// The names of the empty slots ("native 23 print", "upcall evaluator
// call_comparison (sort/compare with a function)" ...), none when every
// slot is filled.
std::vector<std::string> unwired_slots();

// Makes init_runtime run the check (call before booting).
void require_wiring_check();

// Runs the check when it is on: a report of the empty slots on standard
// error and exit status 70 when any is empty.
void check_wiring();

}  // namespace kel::boot
