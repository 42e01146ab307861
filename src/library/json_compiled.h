// Compiled bodies of load-json and to-json (see compiled.h): C++ routines
// that give what the Kel bodies in json.kel give, for the documents and
// values they are sure of. Anything else (a text that is not JSON, an
// escape that unescape refuses, a number the quick reading does not cover,
// a value the encoder leaves to mold or to a conversion, a container that
// holds itself, nesting deeper than the routines go) makes them hand the
// whole call to the Kel body, so every error value and every raised error
// stays the Kel body's own.
#pragma once

namespace kel::json_compiled {

// load-json input: the frame holds the input string.
void load_json();
// to-json data /pretty indent /ascii: the frame holds data, the /pretty
// flag, indent and the /ascii flag.
void to_json();

}  // namespace kel::json_compiled
