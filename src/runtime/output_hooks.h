// Output hooks: text the language prints goes to a list of print hooks, the
// first of which (print_to_console) writes to standard output; the console
// and tools that capture output add their own or remove the default one. A
// second list of raw output hooks receives byte buffers. Both lists keep
// insertion order; capacity starts at 5 and grows by 5.
#pragma once

#include <cstddef>
#include <string_view>

#include "runtime/cell.h"

namespace kel::output_hooks {

using PrintHook = void (*)(const Cell* string, bool newline);
using RawHook = void (*)(const char* bytes, size_t length, int flag);

void init();
// Appends each non-null hook to its list.
void add(PrintHook print, RawHook raw);
// Removes the first entry equal to each non-null hook.
void remove(PrintHook print, RawHook raw);
void run_print_hooks(const Cell* string, bool newline);
void run_raw_output_hooks(const char* bytes, size_t length, int flag);
size_t print_hook_count();
size_t print_hook_capacity();

// The default print hook: the string from its head to its tail, in its own
// unit, to the console output layer.
void print_to_console(const Cell* string, bool newline);

// Prints UTF-8 text through the print hooks (made into a string first).
void print_text(std::string_view utf8, bool newline);

// The build date and time, "DD-Mon-YYYY/hh:mm:ss", fixed when built.
const char* build_date();

}  // namespace kel::output_hooks
