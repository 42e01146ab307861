// Compiled bodies of load-csv and to-csv (see compiled.h): C++ routines
// that give what the Kel bodies in csv.kel give for the calls they are
// sure of: rows of plain fields with a one-character delimiter and quote
// character that no case folding can confuse. Every other call (the
// /header, /as-columns, /as-records, /flat and /trim refinements of
// load-csv, /skip and maps or objects for to-csv, a multi-character
// delimiter, misaligned rows, a value to-csv does not form here) goes to
// the Kel body, which gives its own result or error.
#pragma once

namespace kel::csv_compiled {

// load-csv data /with delimiter /header /as-columns /as-records /flat
// /trim /quote qt-char, in that frame order.
void load_csv();
// to-csv data /with delimiter /skip size /quote qt-char.
void to_csv();

}  // namespace kel::csv_compiled
