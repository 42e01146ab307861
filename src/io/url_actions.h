// The url! actions read and write: an http or https URL is one request of
// the HTTP client (io/http_client.h).
//
// read sends GET with the default header fields; write sends POST with the
// data as its body, or, for a block [method [fields] body], that method
// (upper-cased), exactly those fields and that body. The answer is the
// response body as text (UTF-8, line feeds only), a binary! (/binary) or a
// block of lines (/lines); /info gives [status headers body] with the
// headers as a map! (a name sent twice holds a block of its values). A
// request that gets no response raises access no-connect with the URL;
// /part, /seek and /as are not offered for HTTP (internal not-done). A URL
// of another scheme is made a port (its parts from url-parser/parse-url)
// and read or written through its scheme's actor.
#pragma once

#include "runtime/cell.h"

namespace kel::url_actions {

// Fills the registration table's url entries, which url! forwards to.
void init();

Cell* read_action(Cell* source, int part, int seek, int binary, int lines, int info, int as);
Cell* write_action(Cell* destination, Cell* data, int binary, int lines, int info, int append, int part,
                   int seek, int allow, int as);

}  // namespace kel::url_actions
