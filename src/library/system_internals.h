// The boot's own routines: what only the runtime can put into the system
// object (build facts, the object of the global context, the error catalog
// built from the runtime's table, the collector's figures, the float
// options), and the hand-over of the finished object to the parts of the
// runtime that read it (error forming, date molding, the lexer).
//
// They are rows of the routine table (routines.h) that no global word
// names: boot/system.kel reaches them through `system-internals` while it
// builds the system object, and keeps the ones the object needs later
// (collector figures, float options, interpreted?) inside it.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kel::system_internals {

// Entries (see routines::Entry). Each reads its arguments from the frame.
void build_value(uint32_t);            // name [word!]: a fact of the build
void words_object(uint32_t);           // system/words
void error_catalog(uint32_t);          // system/catalog/errors
void command_line(uint32_t);           // from [integer!]: the command line as text
void argument_list(uint32_t);          // the process's arguments, a string each
void environment_variable(uint32_t);   // name [string!]: its value or none
void interpreted(uint32_t);            // called from interpreted code?
void float_option(uint32_t);           // name [word!] value: float formatter flags
void collector_active(uint32_t);       // the collector's enabled flag
void collector_series_cycles(uint32_t);
void collector_node_cycles(uint32_t);
void install(uint32_t);                // system [object!]: hands the object over

// A start from the boot image's heap (boot/boot_heap.h) holds what the
// boot evaluated, made in the process that wrote the image: reinstall
// hands the system object over again, and refresh_process_facts puts
// this process's facts in it without running change handlers (the
// current folder, the cache folder under HOME, the command line and the
// arguments taken from it, the commit date in the local time zone).
void reinstall();
void refresh_process_facts();

// The full-support flag of the float formatter (system/options/float/full?);
// nothing reads it yet.
bool float_full_support();

}  // namespace kel::system_internals
