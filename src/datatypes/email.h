// email!: an e-mail address (user@host).
//
// Cell and buffer as string! (string.h) with type 45. A child of string!
// written without delimiters or escapes, with path access to its two
// halves: e/user is the text before the first "@" (all of it without one),
// e/host the text after it (empty without one); setting either replaces
// that half in place.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kel::email {

// Pushes a copy of the cell.
Cell* push(const Cell& email);
// A new email! from UTF-8 text, pushed on the stack.
Cell* load(const uint8_t* bytes, uint32_t length);

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item,
                int32_t index, bool case_sensitive, bool get, bool tail);

// Registers email! (id 45, parent string!).
void init();

}  // namespace kel::email
