// Running the script the command line names (`kel script.kel a b`), the way
// the console's launch does it when it is given one: the options before the
// script are consumed, the script's own arguments are left in
// system/options/args and system/script/args, the script's folder becomes
// the current folder, the text from its `Kel [...]` header on is loaded and
// evaluated, and an error that escapes is printed.
#pragma once

#include <cstddef>
#include <string>

namespace kel::boot {

// Runs the command line's script, if it names one that can be read.
// Returns false when there is none (no script argument, or a script that
// could not be read, whose error is then printed): the caller goes on as
// without a script. Errors raised outside the script's own evaluation (a
// script folder that does not exist) end the process as any error without
// a try frame does.
bool run_command_line_script();

// The steps on texts, exposed for their tests.
// A local path in Kel's form: "\" and "/" become one "/", a drive colon a
// leading segment (C:\a gives /C/a); a second colon ends the conversion.
std::string to_kel_file(const std::string& path);
// The byte offset in the raw command text (the text after the executable)
// where the script's own arguments begin: after the leading switches, the
// script's name (quoted stretches kept together) and the blanks after it.
size_t script_arguments_offset(const std::string& text);

}  // namespace kel::boot
