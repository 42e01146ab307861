// Taking the script from the command line (`kel --catch script.kel a b`),
// the first step of the console's launch: the options before the script
// are consumed ("--catch" is taken out and sets system/console/catch?), the
// script's own arguments are left in system/options/args and
// system/script/args, the script's folder becomes the current folder, and
// the script's text is read. Loading, checking and running the text is the
// console's launch (console/console.kel).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/cell.h"

namespace kel::boot {

// The console's read-argument: pushes the script's text as a string!, or
// none when the command line names no script or the script cannot be read
// (its error is then printed, and the console goes on as without a
// script). The current folder becomes the script's folder in both cases
// (when that folder exists).
Cell* read_argument();

// The routine entry of read-argument (routines.h).
void script_argument_routine(uint32_t);

// The steps on texts, exposed for their tests.
// A local path in Kel's form: "\" and "/" become one "/", a drive colon a
// leading segment (C:\a gives /C/a); a second colon ends the conversion.
std::string to_kel_file(const std::string& path);
// The byte offset in the raw command text (the text after the executable)
// where the script's own arguments begin: after the leading switches, the
// script's name (quoted stretches kept together) and the blanks after it.
size_t script_arguments_offset(const std::string& text);

}  // namespace kel::boot
