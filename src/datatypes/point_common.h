// What point2D! and point3D! share: one implementation of every handler,
// written once for N axes (2 or 3) and instantiated by point2d.cpp and
// point3d.cpp, which register the handlers of their N.
//
// Cell: the axes as IEEE single-precision floats in data1, data2 (and
// data3 for three axes); data3 of a point2D! is 0. Every computation is
// made in double precision and stored back rounded to single precision.
// The twins differ only where a table of differences says so: what make
// accepts, which right operands arithmetic takes, that a pair! compares
// with a point2D!, and which axes reverse swaps. Nothing here keeps a
// pointer into a series buffer.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/pair.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/checked_math.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "runtime/hash_table.h"
#include "runtime/series_tail.h"

namespace kel::point_common {

template <int N>
constexpr TypeId point_type() {
  static_assert(N == 2 || N == 3, "points have two or three axes");
  return N == 2 ? TYPE_POINT2D : TYPE_POINT3D;
}

// --- Axes -------------------------------------------------------------------------------

inline uint32_t axis_bits(const Cell& point, int axis) {
  return axis == 0 ? point.data1 : axis == 1 ? point.data2 : point.data3;
}
inline float axis_value(const Cell& point, int axis) {
  uint32_t bits = axis_bits(point, axis);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}
inline void set_axis_bits(Cell* point, int axis, uint32_t bits) {
  (axis == 0 ? point->data1 : axis == 1 ? point->data2 : point->data3) = bits;
}
inline void set_axis(Cell* point, int axis, double value) {
  float single = static_cast<float>(value);
  uint32_t bits;
  std::memcpy(&bits, &single, sizeof bits);
  set_axis_bits(point, axis, bits);
}

template <int N>
Cell make_point(const double (&axes)[3]) {
  Cell point = make_cell(point_type<N>());
  for (int i = 0; i < N; ++i) set_axis(&point, i, axes[i]);
  return point;
}

// Sets the cell to the point, keeping its new-line flag.
template <int N>
Cell* set_cell(Cell* cell, const double (&axes)[3]) {
  uint32_t new_line = cell->header & flags::kNewLine;
  *cell = make_point<N>(axes);
  cell->header |= new_line;
  return cell;
}

// An integer! or float! as a coordinate (other cells read as 0).
inline double coordinate(const Cell& number) {
  if (number.is(TYPE_INTEGER)) return integer::get(number);
  if (number.is(TYPE_FLOAT)) return number.as_double();
  return 0.0;
}

// 1, 2 or 3 for the words x, y and z (any letter case; z only with three
// axes), 0 for anything else.
template <int N>
int32_t axis_of_word(const Cell& word) {
  if (!word::is_any_word(word.type())) return 0;
  std::string_view name = symbol::name(word::symbol_of(word));
  if (name.size() != 1) return 0;
  switch (name[0]) {
    case 'x':
    case 'X': return 1;
    case 'y':
    case 'Y': return 2;
    case 'z':
    case 'Z': return N == 3 ? 3 : 0;
    default: return 0;
  }
}

// --- Errors -----------------------------------------------------------------------------

[[noreturn]] inline void invalid_type(TypeId type) {
  Cell datatype = datatype::make(type);
  fire(ErrorId::script_invalid_type, &datatype);
}

template <int N>
[[noreturn]] void bad_to_arg(const Cell& value) {
  Cell datatype = datatype::make(point_type<N>());
  fire_bad_to_arg(&datatype, &value);
}

// --- make and to --------------------------------------------------------------------------

template <int N>
Cell* make(Cell*, Cell* spec, TypeId) {
  constexpr TypeId type = point_type<N>();
  double axes[3] = {};
  switch (spec->type()) {
    case TYPE_INTEGER:
    case TYPE_FLOAT:
      axes[0] = axes[1] = axes[2] = coordinate(*spec);
      break;
    case TYPE_PAIR:
      axes[0] = pair::x_of(*spec);
      axes[1] = pair::y_of(*spec);
      break;
    case TYPE_POINT2D:
      if (N == 2) return stack::set_result(*spec);
      axes[0] = axis_value(*spec, 0);
      axes[1] = axis_value(*spec, 1);
      break;
    case TYPE_POINT3D:
      if (N == 2) bad_to_arg<N>(*spec);
      return stack::set_result(*spec);
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: {
      int32_t count = block::rs_length(spec);
      const Cell* values = block::rs_abs_at(spec, spec->data1);
      bool enough = count >= N;
      for (int i = 0; enough && i < N; ++i) enough = values[i].is(TYPE_INTEGER) || values[i].is(TYPE_FLOAT);
      if (!enough) fire(ErrorId::syntax_malconstruct, spec);
      for (int i = 0; i < N; ++i) axes[i] = coordinate(values[i]);
      break;
    }
    case TYPE_STRING: {
      Cell loaded = make_cell(TYPE_UNSET);
      TypeId loaded_type = word::scan_text(string::to_std_string(*spec), &loaded);
      if (loaded_type == type && loaded.is(type)) return stack::set_result(loaded);
      bad_to_arg<N>(loaded_type != 0 ? loaded : *spec);
    }
    default: bad_to_arg<N>(*spec);
  }
  return stack::set_result(make_point<N>(axes));
}

// --- Arithmetic -----------------------------------------------------------------------------

// slot 0 (a point) := slot 0 op slot 1.
template <int N>
Cell* do_math(int32_t op) {
  Cell* left = stack::arguments();
  Cell* right = left + 1;
  double scalars[3] = {};
  switch (right->type()) {
    case TYPE_INTEGER:
      scalars[0] = scalars[1] = scalars[2] = integer::get(*right);
      break;
    case TYPE_FLOAT:
    case TYPE_PERCENT: {
      double f = right->as_double();
      if (op == kOpMultiply || op == kOpDivide) {
        // IEEE throughout: a zero divisor gives infinities or NaN.
        for (int i = 0; i < N; ++i) {
          double x = axis_value(*left, i);
          set_axis(left, i, op == kOpMultiply ? x * f : x / f);
        }
        return left;
      }
      scalars[0] = scalars[1] = scalars[2] = f;
      break;
    }
    case TYPE_PAIR:
      if (N != 2) invalid_type(right->type());
      scalars[0] = pair::x_of(*right);
      scalars[1] = pair::y_of(*right);
      break;
    case TYPE_POINT2D:
    case TYPE_POINT3D:
      if (!right->is(point_type<N>())) invalid_type(right->type());
      for (int i = 0; i < N; ++i) scalars[i] = axis_value(*right, i);
      break;
    default: invalid_type(right->type());
  }
  for (int i = 0; i < N; ++i) set_axis(left, i, float_type::modulo(axis_value(*left, i), scalars[i], op));
  return left;
}

template <int N> Cell* add() { return do_math<N>(kOpAdd); }
template <int N> Cell* subtract() { return do_math<N>(kOpSubtract); }
template <int N> Cell* multiply() { return do_math<N>(kOpMultiply); }
template <int N> Cell* divide() { return do_math<N>(kOpDivide); }
template <int N> Cell* remainder() { return do_math<N>(kOpRemainder); }

template <int N>
Cell* negate(Cell* point) {
  // 0.0 minus the axis, so that a zero axis stays a positive zero.
  for (int i = 0; i < N; ++i) set_axis(point, i, 0.0 - static_cast<double>(axis_value(*point, i)));
  return stack::set_result(*point);
}

template <int N>
Cell* absolute() {
  Cell* point = stack::arguments();
  point->data1 &= 0x7FFFFFFFu;
  point->data2 &= 0x7FFFFFFFu;
  if (N == 3) point->data3 &= 0x7FFFFFFFu;
  return point;
}

template <int N>
Cell* reverse(Cell* point, int, int) {
  if (N == 2) std::swap(point->data1, point->data2);
  else std::swap(point->data1, point->data3);
  return stack::set_result(*point);
}

// --- Rounding -------------------------------------------------------------------------------

// One axis rounded as a float! with float!'s rules, in a frame of its own.
// An integer scale is given as a float, so the result stays a float.
inline double round_axis(double value, RoundRefinements refinements, const Cell* scale) {
  stack::Guard guard;
  stack::mark_native(nullptr);
  Cell* cell = stack::push(float_type::make(value));
  if (scale != nullptr) {
    Cell step = scale->is(TYPE_INTEGER) ? float_type::make(integer::get(*scale)) : *scale;
    refinements.scale = stack::push(step);
  }
  Cell* result = float_type::round_value(cell, refinements);
  return result->is(TYPE_INTEGER) ? integer::get(*result) : result->as_double();
}

template <int N>
Cell* round(Cell* value, int to, int even, int down, int half_down, int floor, int ceiling, int half_ceiling) {
  RoundRefinements refinements = RoundRefinements::from_handler(even, down, half_down, floor, ceiling, half_ceiling);
  Cell scales[3];
  if (to >= 0) {
    Cell scale = stack::arguments()[to];
    if (scale.is(TYPE_MONEY)) {
      Cell call = error_value::call_word();
      Cell money = datatype::make(TYPE_MONEY);
      fire(ErrorId::script_not_related, &call, &money);
    }
    // A point or pair scale gives each axis its own step; an axis without
    // one gets 0.0, which leaves it as it is.
    for (Cell& s : scales) s = scale;
    if (scale.is(TYPE_PAIR)) {
      scales[0] = integer::make(pair::x_of(scale));
      scales[1] = integer::make(pair::y_of(scale));
      scales[2] = float_type::make(0.0);
    } else if (scale.is(TYPE_POINT2D) || scale.is(TYPE_POINT3D)) {
      for (int i = 0; i < 3; ++i)
        scales[i] = float_type::make(i < 2 || scale.is(TYPE_POINT3D) ? axis_value(scale, i) : 0.0);
    }
  }
  for (int i = 0; i < N; ++i)
    set_axis(value, i, round_axis(axis_value(*value, i), refinements, to >= 0 ? &scales[i] : nullptr));
  return stack::set_result(*value);
}

// --- Random --------------------------------------------------------------------------------

inline double random_up_to(double bound, bool secure) {
  if (secure) {
    double r1 = kel::random::rand_secure();
    double r2 = kel::random::rand_secure();
    return (r2 + r1 / 2147483647.0) / (2147483648.0 / bound);
  }
  return bound * (kel::random::rand() / 2147483647.0);
}

template <int N>
Cell* random(Cell* value, int seed, int secure, int) {
  if (seed >= 0) {
    uint32_t bytes[3] = {value->data1, value->data2, value->data3};
    kel::random::seed(static_cast<int32_t>(hash_table::murmur3(bytes, sizeof(uint32_t) * N)));
    return unset::set_result();
  }
  for (int i = 0; i < N; ++i) {
    double axis = axis_value(*value, i);
    if (axis != 0.0) set_axis(value, i, random_up_to(axis, secure >= 0));
  }
  return stack::set_result(*value);
}

// --- Access --------------------------------------------------------------------------------

template <int N>
Cell* pick(Cell* point, int32_t index, Cell* boxed) {
  Cell selector = boxed != nullptr ? *boxed : integer::make(index);
  int32_t axis = 0;
  if (word::is_any_word(selector.type())) {
    axis = axis_of_word<N>(selector);
    if (axis == 0) fire(ErrorId::script_cannot_use, &selector, point);
  } else if (selector.is(TYPE_INTEGER) && integer::get(selector) >= 1 && integer::get(selector) <= N) {
    axis = integer::get(selector);
  } else {
    fire(ErrorId::script_out_of_range, &selector);
  }
  return stack::set_result(float_type::make(axis_value(*point, axis - 1)));
}

template <int N>
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool, bool, bool) {
  int32_t axis = 0;
  if (element->is(TYPE_INTEGER)) {
    int32_t n = integer::get(*element);
    if (n >= 1 && n <= N) axis = n;
  } else {
    axis = axis_of_word<N>(*element);
  }
  if (axis == 0) fire(ErrorId::script_invalid_path, path, element);
  if (value == nullptr) return stack::push(float_type::make(axis_value(*parent, axis - 1)));
  if (!value->is(TYPE_INTEGER) && !value->is(TYPE_FLOAT)) invalid_type(value->type());
  // The owner of the cell is told of the change once paths write values
  // back through their parents.
  set_axis(parent, axis - 1, coordinate(*value));
  return stack::push(*value);
}

// --- Text ---------------------------------------------------------------------------------

template <int N>
std::string text_of(const Cell& point) {
  std::string text = "(";
  for (int i = 0; i < N; ++i) {
    if (i > 0) text += ", ";
    text += float_type::form_float(axis_value(point, i), float_type::kFormPoint).view();
  }
  text += ')';
  return text;
}

template <int N>
int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
  std::string text = text_of<N>(*value);
  string::concatenate_literal_part(buffer, text.data(), static_cast<uint32_t>(text.size()));
  return part - static_cast<int32_t>(text.size());
}

template <int N>
int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* arg, int32_t part, int32_t) {
  return form<N>(value, buffer, arg, part);
}

// --- Comparison ----------------------------------------------------------------------------

template <int N>
int32_t compare(Cell* value1, Cell* value2, int32_t op) {
  Cell right = *value2;
  if (N == 2 && right.is(TYPE_PAIR)) pair::to_point2d(&right);
  if (!right.is(point_type<N>())) return kNotComparable;
  switch (op) {
    case kCmpEqual:
    case kCmpNotEqual:
      for (int i = 0; i < N; ++i)
        if (!float_type::near_equal32(axis_value(*value1, i), axis_value(right, i))) return 1;
      return 0;
    case kCmpStrictEqual:
      for (int i = 0; i < N; ++i)
        if (!(axis_value(*value1, i) == axis_value(right, i))) return 1;
      return 0;
    case kCmpSame:
      for (int i = 0; i < N; ++i)
        if (axis_bits(*value1, i) != axis_bits(right, i)) return 1;
      return 0;
    default: {
      float difference = 0.0f;
      for (int i = 0; i < N; ++i) {
        difference = axis_value(*value1, i) - axis_value(right, i);
        if (!float_type::near_equal32(difference, 0.0f)) break;
      }
      return difference < 0.0f ? -1 : difference > 0.0f ? 1 : 0;
    }
  }
}

// --- Registration ---------------------------------------------------------------------------

template <int N>
void register_point(const char* name) {
  DatatypeRecord record(point_type<N>(), 0, name);
  // One statement each: the handlers are dependent names, so a chained
  // call would need the template keyword at every link.
  record.handle<Action::make>(make<N>);
  record.handle<Action::random>(random<N>);
  record.handle<Action::to>(make<N>);
  record.handle<Action::form>(form<N>);
  record.handle<Action::mold>(mold<N>);
  record.handle<Action::eval_path>(eval_path<N>);
  record.handle<Action::compare>(compare<N>);
  record.handle<Action::absolute>(absolute<N>);
  record.handle<Action::add>(add<N>);
  record.handle<Action::divide>(divide<N>);
  record.handle<Action::multiply>(multiply<N>);
  record.handle<Action::negate>(negate<N>);
  record.handle<Action::remainder>(remainder<N>);
  record.handle<Action::round>(round<N>);
  record.handle<Action::subtract>(subtract<N>);
  record.handle<Action::pick>(pick<N>);
  record.handle<Action::reverse>(reverse<N>);
  register_datatype(record);
}

}  // namespace kel::point_common
