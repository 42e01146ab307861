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

namespace kel::json_codec {

// str [string!]: the same string, its escapes replaced in place and its
// tail moved after the last character written.
void unescape(uint32_t);

}  // namespace kel::json_codec
