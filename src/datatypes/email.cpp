// email!: its text form and the user and host halves reached by path (see
// email.h).
#include "datatypes/email.h"

#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "datatypes/runtime_words.h"

namespace kel::email {

Cell* push(const Cell& email) { return stack::push(email); }

Cell* load(const uint8_t* bytes, uint32_t length) {
  Cell* cell = string::load_cstr(reinterpret_cast<const char*>(bytes), length, string::kEncodingUtf8);
  cell->set_type(TYPE_EMAIL);
  return cell;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* arg, int32_t part, int32_t) {
  return action_handler<Action::form>(TYPE_STRING)(value, buffer, arg, part);
}

namespace {

enum class Half { kUser, kHost };

// A new string! of count characters from an absolute position.
Cell* push_piece(const Cell* email, uint32_t start, uint32_t count) {
  Cell* piece = string::push_new(count);
  Cell from = *email;
  from.data1 = start;
  string::concatenate_part(piece, &from, static_cast<int32_t>(count));
  return piece;
}

}  // namespace

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item, int32_t index,
                bool case_sensitive, bool get, bool tail) {
  if (element->is(TYPE_INTEGER))
    return action_handler<Action::eval_path>(TYPE_STRING)(parent, element, value, path, gparent, p_item, index,
                                                           case_sensitive, get, tail);
  if (!element->is(TYPE_WORD)) fire(ErrorId::script_invalid_path, path, element);
  uint32_t symbol = symbol::resolve(word::symbol_of(*element));
  Half half;
  if (symbol == symbol::resolve(runtime_words::user)) half = Half::kUser;
  else if (symbol == symbol::resolve(runtime_words::host)) half = Half::kHost;
  else fire(ErrorId::script_invalid_path, path, element);

  uint32_t start = string::index_of(parent);
  uint32_t length = string::rs_length(parent);
  int32_t at = string::find_char(parent, '@');
  uint32_t split = at < 0 ? length : static_cast<uint32_t>(at);
  if (value == nullptr) {
    if (half == Half::kUser) return push_piece(parent, start, split);
    uint32_t host_start = at < 0 ? length : split + 1;
    return push_piece(parent, start + host_start, length - host_start);
  }
  // The owner of the email is told of the change once ownership exists.
  if (half == Half::kUser) {
    string::remove_part(parent, 0, split);
    string::insert_value(parent, value, -1, false, 1, false);
  } else {
    if (at < 0) {
      // An address without "@" gains one, so that the host stays apart from
      // the user.
      string::concatenate_literal(parent, "@");
    } else {
      string::remove_part(parent, split + 1, length - split - 1);
    }
    string::insert_value(parent, value, -1, false, 1, true);
  }
  return stack::push(*value);
}

void init() {
  DatatypeRecord record(TYPE_EMAIL, TYPE_STRING, "email!");
  record.handle<Action::mold>(mold).handle<Action::eval_path>(eval_path);
  record.inherit(string::kInheritedSeriesActions)
      .inherit({Action::make, Action::reflect, Action::to, Action::form, Action::compare});
  register_datatype(record);
}

}  // namespace kel::email
