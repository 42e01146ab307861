// The routine of the JSON decoder: `unescape` turns the body of a JSON
// string, as the decoder's grammar matched it, into the characters it
// stands for. The grammar admits only the JSON escapes (a backslash and one
// of " \ / b f n r t, or u and four hexadecimal digits), so anything else
// after a backslash cannot reach it; a \u escape that is not a proper
// surrogate pair raises script invalid-data.
//
// It is a row of the routine table (routines.h) that no global word names:
// library/json.kel takes it from `library-internals` into the decoder's
// grammar context.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kel::json_codec {

// str [string!]: the same string, its escapes replaced in place and its
// tail moved after the last character written.
void unescape(uint32_t);

// The same on a string cell: false, with the string as far as it got, where
// the routine raises invalid-data (a \u escape that is not a proper
// surrogate pair).
bool unescape_in_place(const Cell& subject);

}  // namespace kel::json_codec
