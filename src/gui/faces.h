// Face objects as the GUI's C++ code reads them: a field by name, the
// identity of two objects, a word against a name. Faces themselves are Kel
// objects made from `face!` (gui/faces.kel); nothing here changes them.
#pragma once

#include <string_view>

#include "runtime/cell.h"

namespace kel::gui::faces {

// The value of an object's field, or none when the value is no object or
// has no such field.
Cell field(const Cell& object, std::string_view name);
// Whether both values are objects with the same context (the same object).
bool same_object(const Cell& a, const Cell& b);
// Whether a word (of any kind) is the named word (case-insensitive).
bool is_word(const Cell& word, std::string_view name);

}  // namespace kel::gui::faces
