// The native table: the built-in functions whose bodies are runtime
// routines, reached by number (1 to 107; 120 slots). A native! value keeps
// its table index, never an address.
//
// Calling convention of every native entry: the caller opens a native frame,
// pushes the argument cells in spec order (the plain arguments, then the
// arguments of the refinements that are used), and calls the entry with the
// check-types flag and one integer per refinement in spec order: -1 when the
// refinement is not used, otherwise the frame index of its first argument
// cell (any value but -1 for a refinement without arguments). The entry
// leaves its result in the frame's first cell.
//
// Action entries (the 62 action words) follow the same convention without
// the check flag: they read the frame, call the datatype's handler and store
// the result.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/native_numbers.h"

namespace kel::natives {

using Entry = void (*)(bool check_types, const int32_t* refinements);

// Installs an entry for a native number. Each family of natives installs
// its entries from its own init function; numbers without an entry raise
// internal not-done when called.
void install(Native native, Entry entry);
void init();

// The entry of a native number (1..120), or null.
Entry entry(uint32_t number);

// Calls a native number in a frame already holding its arguments.
void call(uint32_t number, bool check_types, const int32_t* refinements);

}  // namespace kel::natives

namespace kel::action_entries {

using Entry = void (*)(const int32_t* refinements);

void init();
// The entry of an action slot (1..62); null for slot 8.
Entry entry(uint32_t slot);

}  // namespace kel::action_entries
