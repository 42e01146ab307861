// The routines read-clipboard and write-clipboard.
//
// On a desktop whose clipboard tool is there (io/clipboard.h) they go to
// the system clipboard: text as text, a block of files as a list of file
// URIs, an image as a PNG. Elsewhere an in-process store keeps a copy of
// the last value written, so a value written reads back without a desktop
// too.
// Values cross as copies: changing what was written, or what was read,
// changes nothing inside the clipboard.
#pragma once

#include <cstdint>

namespace kel::clipboard_routines {

// read-clipboard: a string!, a block of file! values, an image!, none when
// empty (or when its picture does not decode), false when the clipboard
// cannot be read.
void read(uint32_t);
// write-clipboard: none empties the clipboard; a string!, a block of
// file! values or an image! is put on it; true when it took the value.
// Any other value raises script invalid-arg.
void write(uint32_t);

}  // namespace kel::clipboard_routines
