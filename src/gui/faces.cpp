// Face objects as the GUI's C++ code reads them (see faces.h).
#include "gui/faces.h"

#include "datatypes/object.h"
#include "datatypes/word.h"
#include "runtime/symbol_table.h"

namespace kel::gui::faces {

Cell field(const Cell& object, std::string_view name) {
  if (!object::is_object_kind(object.type())) return make_cell(TYPE_NONE);
  const Cell* value = object::find_field(object::context_of(object), symbol::resolve(symbol::make(name)));
  return value != nullptr ? *value : make_cell(TYPE_NONE);
}

bool same_object(const Cell& a, const Cell& b) {
  return object::is_object_kind(a.type()) && object::is_object_kind(b.type()) &&
         object::context_of(a) == object::context_of(b);
}

bool is_word(const Cell& word, std::string_view name) {
  return word::is_any_word(word.type()) &&
         symbol::resolve(word::symbol_of(word)) == symbol::resolve(symbol::make(name));
}

}  // namespace kel::gui::faces
