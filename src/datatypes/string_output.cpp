// string! construction, conversion, text output, comparison, path access
// and registration: the make, to, form, mold, compare and eval-path actions.
//
// mold writes a string back in a form the lexer reads again: in double
// quotes when it is short and simple, in braces when it holds a double
// quote, three or more line feeds, or 50 characters or more. Control
// characters and the caret are escaped with "^"; inside braces, a brace
// without a partner is escaped too, so the braces the lexer counts always
// pair up. Results of make and to are built on the evaluation stack (rooted)
// and copied into the frame's result cell at the end.
#include <algorithm>
#include <vector>

#include "datatypes/datatype.h"
#include "datatypes/string.h"
#include "datatypes/string_internal.h"
#include "runtime/actions.h"
#include "runtime/stack.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "datatypes/argument_checks.h"
#include "runtime/unicode.h"

namespace kel::string {

using detail::kNoPartLimit;

// --- mold -------------------------------------------------------------------------------------

namespace {
// Escapes of the code points 0-31 after a caret; 30 is always written in
// hexadecimal, so its entry is never used.
constexpr char kEscapes[] = "@ABCDEFGH-/KLMNOPQRSTUVWXYZ[\\]^_";

// Appends ASCII text to the output string, tracking its buffer.
void put_literal(Cell* buffer, const char* text) { concatenate_literal(buffer, text); }
void put_char(Cell* buffer, uint32_t code_point) {
  append_char(buffer_of(buffer), code_point);
}

// Marks the "{" of the range that have a partner "}" after them, counting
// nesting as the lexer does. One pass with a stack of the open braces: a "{"
// still open at the end has none.
std::vector<bool> closed_braces(const Cell* s, uint32_t start, uint32_t count) {
  std::vector<bool> closed(count, false);
  std::vector<uint32_t> open;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t c = rs_abs_at(s, start + i);
    if (c == '{') {
      open.push_back(i);
    } else if (c == '}' && !open.empty()) {
      closed[open.back()] = true;
      open.pop_back();
    }
  }
  return closed;
}
}  // namespace

void mold_char(Cell* buffer, uint32_t c, bool all) {
  if (c == 30 || (c >= 128 && c <= 159) || (all && c > 127)) {
    std::string digits = to_hex(static_cast<int32_t>(c), true);
    put_literal(buffer, "^(");
    put_literal(buffer, digits.c_str());
    put_literal(buffer, ")");
    return;
  }
  if (c < 32 || c == '"' || c == '^') {
    char escape[3] = {'^', c < 32 ? kEscapes[c] : static_cast<char>(c), 0};
    put_literal(buffer, escape);
    return;
  }
  if (c == 127) {
    put_literal(buffer, "^~");
    return;
  }
  put_char(buffer, c);
}

int32_t mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell*, int32_t part, int32_t) {
  uint32_t length = rs_length(value);
  uint32_t count = length;
  if (part != kNoPartLimit) count = part <= 0 ? 0 : std::min(length, static_cast<uint32_t>(part));
  uint32_t start = value->data1;

  uint32_t quotes = 0;
  uint32_t lines = 0;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t c = rs_abs_at(value, start + i);
    if (c == '"') ++quotes;
    if (c == '\n') ++lines;
  }
  bool braces = lines >= 3 || quotes >= 1 || length >= 50;

  if (!braces) {
    put_char(buffer, '"');
    for (uint32_t i = 0; i < count; ++i) mold_char(buffer, rs_abs_at(value, start + i), all);
    put_char(buffer, '"');
    return part - static_cast<int32_t>(count) - 2;
  }

  std::vector<bool> closed = closed_braces(value, start, count);
  bool balanced = true;
  int32_t open = 0;
  put_char(buffer, '{');
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t c = rs_abs_at(value, start + i);
    switch (c) {
      case '{':
        // Once one "{" has no partner, every later one is escaped as well.
        if (balanced && !closed[i]) balanced = false;
        if (balanced) {
          ++open;
          put_char(buffer, '{');
        } else {
          put_literal(buffer, "^{");
        }
        break;
      case '}':
        if (open < 1) {
          put_literal(buffer, "^}");
        } else {
          --open;
          put_char(buffer, '}');
        }
        break;
      case '"':
        put_char(buffer, '"');
        break;
      default:
        mold_char(buffer, c, all);
    }
  }
  put_char(buffer, '}');
  return part - static_cast<int32_t>(count) - 2;
}

// --- form -------------------------------------------------------------------------------------

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
  uint32_t length = rs_length(value);
  int32_t limit = (part == kNoPartLimit || part < 0) ? -1 : part;
  concatenate(buffer, value, limit, 0, Concatenate::kAppend);
  return part - static_cast<int32_t>(length);
}

// --- make and to ------------------------------------------------------------------------------

namespace {
Cell* set_result(const Cell& result) {
  *stack::arguments() = result;
  return stack::arguments();
}

// Builds the text of a conversion in a string pushed on the stack.
Cell* converted(Cell* spec, TypeId type) {
  switch (spec->type()) {
    case TYPE_NONE: {
      Cell string_type = datatype::make(TYPE_STRING);
      fire_bad_to_arg(&string_type, spec);
    }
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: {
      Cell* result = push_new(16);
      insert_value(result, spec, -1, false, 1, true);
      return result;
    }
    case TYPE_STRING:
    case TYPE_FILE:
    case TYPE_URL:
    case TYPE_TAG:
    case TYPE_EMAIL:
    case TYPE_REF:
      return detail::push_copy(spec, std::min(spec->data1, rs_length_from_head(spec)), rs_length(spec),
                               TYPE_STRING);
    case TYPE_REFINEMENT: {
      Cell* result = push_new(16);
      if (type == TYPE_STRING) {
        actions::form(spec, result, nullptr, kNoPartLimit);
      } else {
        actions::mold(spec, result, true, true, true, nullptr, kNoPartLimit, 0);
      }
      return result;
    }
    case TYPE_BINARY: {
      // The bytes are copied out first: decoding allocates, which may move them.
      SeriesBuffer* bytes = memory::buffer_of(spec->data2);
      uint32_t index = std::min(spec->data1, bytes->used());
      std::vector<uint8_t> copy(bytes->head_ptr() + index, bytes->tail_ptr());
      return load_utf8_strict(copy.data(), static_cast<uint32_t>(copy.size()));
    }
    default: {
      Cell* result = push_new(16);
      actions::form(spec, result, nullptr, kNoPartLimit);
      return result;
    }
  }
}
}  // namespace

Cell* to(Cell*, Cell* spec, TypeId type) {
  Cell* result = converted(spec, type);
  result->set_type(type);
  Cell value = *result;
  stack::pop(1);
  return set_result(value);
}

Cell* make(Cell* proto, Cell* spec, TypeId type) {
  if (spec->is(TYPE_INTEGER) || spec->is(TYPE_FLOAT)) {
    int32_t size = number_to_integer(*spec);
    if (size < 0) fire(ErrorId::script_out_of_range, spec);
    Cell result;
    rs_make_at(&result, size == 0 ? 16 : static_cast<uint32_t>(size));
    result.set_type(type);
    return set_result(result);
  }
  if (type == TYPE_BINARY) {
    if (spec->is(TYPE_MONEY)) {
      Cell binary_type = datatype::make(TYPE_BINARY);
      fire(ErrorId::script_bad_make_arg, &binary_type, spec);
    }
    auto binary_to = action_handler<Action::to>(TYPE_BINARY);
    if (binary_to == nullptr) actions::unsupported(*proto);
    return binary_to(proto, spec, type);
  }
  return to(proto, spec, type);
}

// --- compare ---------------------------------------------------------------------------------

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
  if (value1->type() != value2->type()) {
    bool text = is_string_like(value2->type()) && (op == kCmpEqual || op == kCmpNotEqual);
    if (!text) return kNotComparable;
  }
  return compare_strings(value1, value2, op, false);
}

// --- eval-path -------------------------------------------------------------------------------

namespace {
// pick and poke are series! actions; string! reaches them through the
// action table, in a frame of their own.
Cell picked(const Cell& series, const Cell& index) {
  auto pick = action_handler<Action::pick>(series.type());
  if (pick == nullptr) actions::unsupported(series);
  stack::Guard guard;
  stack::mark_native(nullptr);
  Cell* s = stack::push(series);
  Cell* boxed = stack::push(index);
  return *pick(s, boxed->int_at2(), boxed);
}

void poked(const Cell& series, const Cell& index, const Cell& value) {
  auto poke = action_handler<Action::poke>(series.type());
  if (poke == nullptr) actions::unsupported(series);
  stack::Guard guard;
  stack::mark_native(nullptr);
  Cell* s = stack::push(series);
  Cell* boxed = stack::push(index);
  Cell* data = stack::push(value);
  poke(s, boxed->int_at2(), data, boxed);
}
}  // namespace

// The value reached is pushed on the evaluation stack and returned.
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool case_sensitive,
                bool, bool) {
  if (element->is(TYPE_INTEGER)) {
    if (value == nullptr) return stack::push(picked(*parent, *element));
    poked(*parent, *element, *value);
    return stack::push(*value);
  }
  if (element->is(TYPE_WORD)) fire(ErrorId::script_invalid_path, path, element);

  detail::Search options;
  options.case_sensitive = case_sensitive;
  detail::Found found = detail::search(parent, element, options);
  if (value == nullptr) {
    if (found.position < 0) return stack::push(make_cell(TYPE_NONE));
    uint64_t after = static_cast<uint64_t>(found.position) + found.length;
    if (after >= rs_length_from_head(parent)) return stack::push(make_cell(TYPE_NONE));
    return stack::push(detail::element_value(parent, static_cast<uint32_t>(after)));
  }
  if (found.position < 0) fire(ErrorId::script_bad_path_set, path, element);
  Cell at = *parent;
  at.data1 = static_cast<uint32_t>(found.position);
  Cell second = make_cell(TYPE_INTEGER, 0, 2);
  poked(at, second, *value);
  return stack::push(*value);
}

// --- registration ----------------------------------------------------------------------------

void init() {
  DatatypeRecord record(TYPE_STRING, TYPE_SERIES, "string!");
  record.handle<Action::make>(make)
      .handle<Action::to>(to)
      .handle<Action::form>(form)
      .handle<Action::mold>(mold)
      .handle<Action::eval_path>(eval_path)
      .handle<Action::compare>(compare)
      .handle<Action::append>(append)
      .handle<Action::change>(change)
      .handle<Action::find>(find)
      .handle<Action::insert>(insert)
      .handle<Action::select>(select)
      .handle<Action::sort>(sort)
      .handle<Action::swap>(swap)
      .handle<Action::take>(take)
      .handle<Action::trim>(trim);
  record.inherit({Action::random, Action::reflect, Action::at, Action::back, Action::clear, Action::copy,
                  Action::head, Action::head_q, Action::index_q, Action::length_q, Action::move, Action::next,
                  Action::pick, Action::poke, Action::remove, Action::reverse, Action::skip, Action::tail,
                  Action::tail_q, Action::modify});
  register_datatype(record);
}

}  // namespace kel::string
