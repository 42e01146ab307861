// The start-up check that every slot the boot fills was filled.
//
// Lower layers reach what is set up later through slots that later code
// fills: the native table (numbers 1 to 107, but for the few natives whose
// families are not built yet, listed in wiring_check.cpp), the action entries (every
// slot that has an action word), and the hooks: the two sort/compare
// callers of blocks and strings, the word datatype's scanner, the lexer's
// callback bridge, the print hooks, the month names of date mold and the
// case evaluator of the test runner. A slot left empty shows only when a
// script reaches it, as internal not-done or a quiet fallback; this check
// names it at start-up instead. (The terminal GUI's suspend and resume
// hooks are optional: without a GUI they stay empty.)
//
// init_runtime runs the check in builds without optimisation and whenever
// a program asked for it before booting (the case runner and the unit
// tests do); a slot left empty then ends the process with a report.
#pragma once

#include <string>
#include <vector>

namespace kel::boot {

// The names of the empty slots ("native 23 print", "hook sort/compare of
// blocks" ...), none when every slot is filled.
std::vector<std::string> unwired_slots();

// Makes init_runtime run the check (call before booting).
void require_wiring_check();

// Runs the check when it is on: a report of the empty slots on standard
// error and exit status 70 when any is empty.
void check_wiring();

}  // namespace kel::boot
