// pair!: construction, componentwise arithmetic with its move to point2D!,
// axis access and text (see pair.h for the cell and the arithmetic rules).
#include "datatypes/pair.h"

#include <cmath>
#include <cstring>
#include <string_view>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/checked_math.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "runtime/series_tail.h"

namespace kel::pair {

namespace {

[[noreturn]] void bad_to_arg(const Cell* spec) {
  Cell type = datatype::make(TYPE_PAIR);
  fire_bad_to_arg(&type, spec);
}

[[noreturn]] void invalid_type(const Cell& value) {
  Cell type = datatype::make(value.type());
  fire(ErrorId::script_invalid_type, &type);
}

uint32_t float_bits(double value) {
  float single = static_cast<float>(value);
  uint32_t bits;
  std::memcpy(&bits, &single, sizeof bits);
  return bits;
}

// A point2D! cell: x in data1, y in data2, each a single-precision float.
Cell point(double x, double y) { return make_cell(TYPE_POINT2D, float_bits(x), float_bits(y), 0); }

bool is_text_axis(const Cell& word, char letter) {
  std::string_view name = symbol::name(word::symbol_of(word));
  return name.size() == 1 && (name[0] == letter || name[0] == letter - 32);
}

void set_axes(Cell* cell, int32_t x, int32_t y) {
  cell->data2 = static_cast<uint32_t>(x);
  cell->data3 = static_cast<uint32_t>(y);
}

}  // namespace

// --- Constructors and helpers -------------------------------------------------------

Cell* set_cell(Cell* cell, int32_t x, int32_t y) {
  cell->set_type(TYPE_PAIR);
  cell->data1 = 0;
  set_axes(cell, x, y);
  return cell;
}

Cell* make_in_block(const Cell* block, int32_t x, int32_t y) { return append_value(block, make(x, y)); }

Cell* push(int32_t x, int32_t y) { return stack::push(make(x, y)); }

void to_point2d(Cell* cell) {
  uint32_t header = cell->header;
  *cell = point(x_of(*cell), y_of(*cell));
  cell->header = (header & ~flags::kTypeMask) | TYPE_POINT2D;
}

int32_t get_coordinate(const Cell& number) {
  if (number.is(TYPE_INTEGER)) return integer::get(number);
  double value = number.as_double();
  if (!checked_math::truncates_to_integer(value)) fire(ErrorId::script_invalid_arg, &number);
  return static_cast<int32_t>(value);
}

int32_t get_axis(const Cell& word) {
  if (!word::is_any_word(word.type())) return 0;
  if (is_text_axis(word, 'x')) return 1;
  if (is_text_axis(word, 'y')) return 2;
  return 0;
}

// --- Arithmetic -----------------------------------------------------------------------

Cell* do_math(int32_t op) {
  Cell* left = stack::arguments();
  Cell* right = left + 1;
  int32_t rx, ry;
  switch (right->type()) {
    case TYPE_INTEGER: rx = ry = integer::get(*right); break;
    case TYPE_PAIR:
      rx = x_of(*right);
      ry = y_of(*right);
      break;
    case TYPE_FLOAT:
    case TYPE_PERCENT: {
      double f = right->as_double();
      if (op == kOpMultiply || op == kOpDivide) {
        // A fraction never leaves a pair a pair.
        if (std::isnan(f) || (op == kOpMultiply && std::isinf(f))) fire(ErrorId::script_invalid_arg, right);
        double x = x_of(*left), y = y_of(*left);
        *left = op == kOpMultiply ? point(x * f, y * f) : point(x / f, y / f);
        return left;
      }
      if (!std::isfinite(f)) fire(ErrorId::script_invalid_arg, right);
      rx = ry = get_coordinate(*right);
      break;
    }
    case TYPE_POINT2D:
      to_point2d(left);
      return integer::dispatch_math(op, *left);
    default: invalid_type(*right);
  }
  Cell x_result = integer::make(0), y_result = integer::make(0);
  int32_t x = integer::do_math_op(x_of(*left), rx, op, &x_result);
  int32_t y = integer::do_math_op(y_of(*left), ry, op, &y_result);
  if (x_result.is(TYPE_INTEGER) && y_result.is(TYPE_INTEGER)) {
    set_axes(left, x, y);
    return left;
  }
  // A component stopped being an integer: the whole operation again in
  // floating point, on the operands as they were.
  *right = make(rx, ry);
  to_point2d(left);
  to_point2d(right);
  return integer::dispatch_math(op, *left);
}

Cell* add() { return do_math(kOpAdd); }
Cell* subtract() { return do_math(kOpSubtract); }
Cell* multiply() { return do_math(kOpMultiply); }
Cell* divide() { return do_math(kOpDivide); }
Cell* remainder() { return do_math(kOpRemainder); }
Cell* or_t() { return do_math(kOpOr); }
Cell* and_t() { return do_math(kOpAnd); }
Cell* xor_t() { return do_math(kOpXor); }

Cell* negate(Cell* pair) {
  // Two's complement: the minimum integer stays itself.
  set_axes(pair, static_cast<int32_t>(0u - pair->data2), static_cast<int32_t>(0u - pair->data3));
  return pair;
}

Cell* absolute() {
  Cell* pair = stack::arguments();
  set_axes(pair, integer::absolute_value(x_of(*pair)), integer::absolute_value(y_of(*pair)));
  return pair;
}

Cell* reverse(Cell* pair, int, int) {
  std::swap(pair->data2, pair->data3);
  return pair;
}

namespace {

// One axis rounded as an integer with integer!'s rules, in a frame of its
// own (the integer rounding writes the frame's result cell).
int32_t round_axis(int32_t value, RoundRefinements refinements, const Cell* scale) {
  stack::Guard guard;
  stack::mark_native(nullptr);
  Cell* cell = stack::push(integer::make(value));
  if (scale != nullptr) refinements.scale = stack::push(*scale);
  Cell* result = integer::round_value(cell, refinements);
  if (result->is(TYPE_INTEGER)) return integer::get(*result);
  double rounded = std::trunc(result->as_double());
  if (!checked_math::truncates_to_integer(rounded)) checked_math::overflow();
  return static_cast<int32_t>(rounded);
}

}  // namespace

Cell* round(Cell* value, int to, int even, int down, int half_down, int floor, int ceiling, int half_ceiling) {
  RoundRefinements refinements = RoundRefinements::from_handler(even, down, half_down, floor, ceiling, half_ceiling);
  Cell scale = to >= 0 ? stack::arguments()[to] : make_cell(TYPE_NONE);
  if (scale.is(TYPE_MONEY)) {
    Cell call = error_value::call_word();
    Cell money = datatype::make(TYPE_MONEY);
    fire(ErrorId::script_not_related, &call, &money);
  }
  Cell x_scale = scale, y_scale = scale;
  if (scale.is(TYPE_PAIR)) {
    x_scale = integer::make(x_of(scale));
    y_scale = integer::make(y_of(scale));
  }
  const Cell* xs = to >= 0 ? &x_scale : nullptr;
  const Cell* ys = to >= 0 ? &y_scale : nullptr;
  int32_t x = round_axis(x_of(*value), refinements, xs);
  int32_t y = round_axis(y_of(*value), refinements, ys);
  set_axes(value, x, y);
  return value;
}

Cell* random(Cell* value, int seed, int secure, int) {
  if (seed >= 0) {
    kel::random::seed(x_of(*value) ^ y_of(*value));
    return stack::set_result(make_cell(TYPE_UNSET));
  }
  int32_t x = x_of(*value), y = y_of(*value);
  if (x != 0) x = kel::random::int_uniform(secure >= 0, x);
  if (y != 0) y = kel::random::int_uniform(secure >= 0, y);
  set_axes(value, x, y);
  return value;
}

// --- Construction -----------------------------------------------------------------------

Cell* make(Cell*, Cell* spec, TypeId) {
  switch (spec->type()) {
    case TYPE_INTEGER: return stack::set_result(make(integer::get(*spec), integer::get(*spec)));
    case TYPE_FLOAT: {
      int32_t n = get_coordinate(*spec);
      return stack::set_result(make(n, n));
    }
    case TYPE_PAIR: return stack::set_result(*spec);
    case TYPE_POINT2D: {
      float x, y;
      std::memcpy(&x, &spec->data1, sizeof x);
      std::memcpy(&y, &spec->data2, sizeof y);
      if (!checked_math::truncates_to_integer(x) || !checked_math::truncates_to_integer(y))
        fire(ErrorId::script_invalid_arg, spec);
      return stack::set_result(make(static_cast<int32_t>(x), static_cast<int32_t>(y)));
    }
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: {
      SeriesBuffer* buffer = block::buffer_of(spec);
      uint32_t count = buffer->cell_count() > spec->data1 ? buffer->cell_count() - spec->data1 : 0;
      const Cell* values = buffer->cells() + spec->data1;
      auto number = [](const Cell& v) { return v.is(TYPE_INTEGER) || v.is(TYPE_FLOAT); };
      if (count < 2 || !number(values[0]) || !number(values[1])) fire(ErrorId::syntax_malconstruct, spec);
      Cell first = values[0], second = values[1];
      return stack::set_result(make(get_coordinate(first), get_coordinate(second)));
    }
    case TYPE_STRING: {
      Cell loaded = make_cell(TYPE_UNSET);
      TypeId loaded_type = word::scan_text(string::to_std_string(*spec), &loaded);
      if (loaded_type == TYPE_PAIR && loaded.is(TYPE_PAIR)) return stack::set_result(loaded);
      bad_to_arg(loaded_type != 0 ? &loaded : spec);
    }
    default: bad_to_arg(spec);
  }
}

// --- Text, comparison, access ----------------------------------------------------------

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
  integer::SignedText x = integer::form_signed(x_of(*value));
  integer::SignedText y = integer::form_signed(y_of(*value));
  string::concatenate_literal_part(buffer, x.text, static_cast<uint32_t>(x.length));
  string::concatenate_literal_part(buffer, "x", 1);
  string::concatenate_literal_part(buffer, y.text, static_cast<uint32_t>(y.length));
  return part - x.length - y.length - 1;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* arg, int32_t part, int32_t) {
  return form(value, buffer, arg, part);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
  if (value2->is(TYPE_POINT2D)) {
    auto point_compare = action_handler<Action::compare>(TYPE_POINT2D);
    if (point_compare == nullptr) return kNotComparable;
    Cell as_point = *value1;
    to_point2d(&as_point);
    return point_compare(&as_point, value2, op);
  }
  if (!value2->is(TYPE_PAIR)) return kNotComparable;
  int32_t x1 = x_of(*value1), x2 = x_of(*value2);
  if (x1 != x2) return x1 < x2 ? -1 : 1;
  int32_t y1 = y_of(*value1), y2 = y_of(*value2);
  if (y1 != y2) return y1 < y2 ? -1 : 1;
  return 0;
}

Cell* pick(Cell* pair, int32_t index, Cell* boxed) {
  Cell selector = boxed != nullptr ? *boxed : integer::make(index);
  int32_t axis = 0;
  if (word::is_any_word(selector.type())) {
    axis = get_axis(selector);
    if (axis == 0) fire(ErrorId::script_cannot_use, &selector, pair);
  } else if (selector.is(TYPE_INTEGER)) {
    axis = integer::get(selector);
    if (axis != 1 && axis != 2) fire(ErrorId::script_out_of_range, &selector);
  } else {
    fire(ErrorId::script_out_of_range, &selector);
  }
  return stack::set_result(integer::make(axis == 1 ? x_of(*pair) : y_of(*pair)));
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool, bool, bool) {
  int32_t axis = 0;
  if (element->is(TYPE_INTEGER)) {
    int32_t n = integer::get(*element);
    if (n == 1 || n == 2) axis = n;
  } else {
    axis = get_axis(*element);
  }
  if (axis == 0) fire(ErrorId::script_invalid_path, path, element);
  if (value == nullptr) return stack::push(integer::make(axis == 1 ? x_of(*parent) : y_of(*parent)));
  if (!value->is(TYPE_INTEGER)) invalid_type(*value);
  // The owner of the cell is told of the change once ownership exists.
  if (axis == 1) parent->data2 = value->data2;
  else parent->data3 = value->data2;
  return stack::push(*value);
}

void init() {
  DatatypeRecord record(TYPE_PAIR, 0, "pair!");
  record.handle<Action::make>(make)
      .handle<Action::random>(random)
      .handle<Action::to>(make)
      .handle<Action::form>(form)
      .handle<Action::mold>(mold)
      .handle<Action::eval_path>(eval_path)
      .handle<Action::compare>(compare)
      .handle<Action::absolute>(absolute)
      .handle<Action::add>(add)
      .handle<Action::divide>(divide)
      .handle<Action::multiply>(multiply)
      .handle<Action::negate>(negate)
      .handle<Action::remainder>(remainder)
      .handle<Action::round>(round)
      .handle<Action::subtract>(subtract)
      .handle<Action::and_t>(and_t)
      .handle<Action::or_t>(or_t)
      .handle<Action::xor_t>(xor_t)
      .handle<Action::pick>(pick)
      .handle<Action::reverse>(reverse);
  register_datatype(record);
}

}  // namespace kel::pair
