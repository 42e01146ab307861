// file!: a file or directory path in the language's own form.
//
// Cell and buffer as string! (string.h) with type 8; file! is a child of
// url! and behaves as a string in every series action. Paths are POSIX
// paths: "/" separates the segments both in the language and in the
// operating system, there are no drive letters, so the conversion to and
// from the system's form changes no character of a UTF-8 name (a relative
// path gains the current directory when a full path is asked for). A byte
// of a system name that is not part of well-formed UTF-8 is kept as the
// code point U+DC00 + byte, which no UTF-8 text holds, and goes back to
// the system as that byte (file.cpp), so every name listed reaches its
// own file again. Its own parts are the
// mold with the "%" prefix and the conversions to and from the system's
// paths; the file actions (read, write, query ...) belong to the file
// system layer.
//
// Mold writes an ordinary name bare (%dir/name.txt) and quotes a name that
// holds a character the lexer would stop at or misread (%"my file"); inside
// the quotes a double quote, a caret, control characters and escaped bytes
// are caret-escaped, so every file name molds to text that loads back to
// the same name.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/cell.h"

namespace kel::file {

// Pushes a copy of the cell.
Cell* push(const Cell& file);
// string::load with the result typed file!, pushed on the stack.
Cell* load_cstr(const uint8_t* bytes, uint32_t length, int32_t encoding);
// The system form of the path (bytes, UTF-8 but for escaped bytes); with
// full, a relative path is prefixed by the current directory.
std::string to_os_path(const Cell& file, bool full);
// Appends the path to the target string, prefixed by the current
// directory when full is asked for and the path is relative.
void convert_path(const Cell& file, Cell* target, bool full);
// The process's current directory as a string! pushed on the stack, ending
// with "/".
Cell* get_current_dir();
// A system path (bytes) as a new file! pushed on the stack, each byte that
// is not part of well-formed UTF-8 escaped; a directory path keeps its
// trailing "/".
Cell* from_os_path(const uint8_t* bytes, uint32_t length);
// Other text the system gives as bytes (a command-line argument) as a new
// string! pushed on the stack, escaped the same way, so that a file! made
// from it reaches the file the bytes name.
Cell* from_os_text(const uint8_t* bytes, uint32_t length);

// True when a name needs the quoted form in mold.
bool needs_quotes(uint32_t code_point);

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);

// Registers file! (id 8, parent url!).
void init();

}  // namespace kel::file
