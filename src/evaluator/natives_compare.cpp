// Comparison, logic and set natives: the seven comparisons, same?, not,
// union, intersect, unique, difference, exclude, complement?, max and min.
//
// The comparisons ask the compare action of the first value's datatype with
// an operator code and box its answer; set operations hand the data to the
// datatype that holds it (block and hash!, string!, typeset!, bitset!, and
// date! for difference). max and min work element by element on pairs,
// points and tuples; everything else they compare whole.
//
// The first argument cell is also the result cell: element-wise max and min
// change it in place, and the set workers replace it with their result.
#include <bit>
#include <cmath>
#include <cstdint>
#include <utility>

#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/date.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/point_common.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "runtime/actions.h"
#include "evaluator/native_arguments.h"
#include "evaluator/natives.h"
#include "evaluator/natives_families.h"
#include "runtime/stack.h"
#include "runtime/errors.h"

namespace kel::natives_compare {

namespace {

using namespace native_arguments;

// Set operation codes of the datatype set workers.
constexpr int32_t kUnique = 8;
constexpr int32_t kUnion = 9;
constexpr int32_t kIntersect = 10;
constexpr int32_t kExclude = 11;
constexpr int32_t kDifference = 12;

Cell set1_word;  // the argument expect-arg names for an unsupported set
Cell set_word;   // the same for unique

// Accepted argument types, for entries called with check_types.
Cell set_types;
Cell difference_types;
Cell unique_types;
Cell size_types;
Cell extremum_types;

// --- Comparisons -------------------------------------------------------------------

void compare_op(int32_t op) { logic::box(actions::compare(argument(0), argument(1), op)); }

void equal_q(bool, const int32_t*) { compare_op(kCmpEqual); }
void not_equal_q(bool, const int32_t*) { compare_op(kCmpNotEqual); }
void strict_equal_q(bool, const int32_t*) { compare_op(kCmpStrictEqual); }
void lesser_q(bool, const int32_t*) { compare_op(kCmpLesser); }
void greater_q(bool, const int32_t*) { compare_op(kCmpGreater); }
void lesser_or_equal_q(bool, const int32_t*) { compare_op(kCmpLesserOrEqual); }
void greater_or_equal_q(bool, const int32_t*) { compare_op(kCmpGreaterOrEqual); }

// Identity: the same datatype and the same payload, where "the same" means
// what identifies a value of that datatype (a series is its buffer and its
// index; a number its bits).
bool identical(const Cell& a, const Cell& b) {
  if (a.type() != b.type()) return false;
  switch (a.type()) {
    case TYPE_DATATYPE:
      return datatype::named_type(a) == datatype::named_type(b);
    case TYPE_LOGIC:
      return logic::get(a) == logic::get(b);
    case TYPE_OBJECT:
      return object::context_of(a) == object::context_of(b);
    case TYPE_CHAR:
      return character::get(a) == character::get(b);
    case TYPE_INTEGER:
      return integer::get(a) == integer::get(b);
    case TYPE_BITSET:
      return bitset::node_of(a) == bitset::node_of(b);
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH:
    case TYPE_PATH:
    case TYPE_LIT_PATH:
    case TYPE_SET_PATH:
    case TYPE_GET_PATH:
    case TYPE_STRING:
    case TYPE_FILE:
    case TYPE_URL:
    case TYPE_TAG:
    case TYPE_EMAIL:
    case TYPE_REF:
    case TYPE_BINARY:
    case TYPE_VECTOR:
    case TYPE_IMAGE:
      return series::node_of(a) == series::node_of(b) && series::index_of(a) == series::index_of(b);
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME:
      // The bits: a NaN is itself, and -0.0 is not 0.0.
      return std::bit_cast<uint64_t>(a.as_double()) == std::bit_cast<uint64_t>(b.as_double());
    case TYPE_PAIR:
      return pair::x_of(a) == pair::x_of(b) && pair::y_of(a) == pair::y_of(b);
    case TYPE_TUPLE: {
      if (tuple::size_of(a) != tuple::size_of(b)) return false;
      Cell left = a, right = b;
      return actions::compare_value(&left, &right, kCmpEqual) == 0;
    }
    case TYPE_NONE:
    case TYPE_UNSET:
      return true;
    case TYPE_MONEY: {
      Cell left = a, right = b;
      return actions::compare_value(&left, &right, kCmpEqual) == 0;
    }
    case TYPE_ACTION:
    case TYPE_NATIVE:
      return native::number_of(a) == native::number_of(b) && native::interface_node(a) == native::interface_node(b);
    case TYPE_POINT2D:
      return point_common::axis_bits(a, 0) == point_common::axis_bits(b, 0) &&
             point_common::axis_bits(a, 1) == point_common::axis_bits(b, 1);
    case TYPE_OP:
      return native::interface_node(a) == native::interface_node(b) && native::info_node(a) == native::info_node(b);
    default:
      // Any other value is its three payload words.
      return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3;
  }
}

void same_q(bool, const int32_t*) { logic::box(identical(*argument(0), *argument(1))); }

void not_(bool, const int32_t*) {
  const Cell& value = *argument(0);
  logic::box(value.is(TYPE_NONE) || (value.is(TYPE_LOGIC) && logic::get(value) == 0));
}

// --- Set operations -------------------------------------------------------------------

inline bool is_block_set(TypeId type) { return type == TYPE_BLOCK || type == TYPE_HASH; }

[[noreturn]] void unsupported_set(const Cell& set, int32_t op) {
  Cell call = error_value::call_word();
  Cell type = datatype::make(set.type());
  const Cell& which = op == kUnique ? set_word : set1_word;
  fire(ErrorId::script_expect_arg, &call, &type, &which);
}

// The common routine of the five set natives: case_at is the /case
// refinement (-1 when absent), skip_at the frame index of the /skip size.
void set_op(int32_t op, int32_t case_at, int32_t skip_at) {
  Cell* first = argument(0);
  Cell* second = op == kUnique ? nullptr : argument(1);
  if (second != nullptr) {
    bool fit = is_block_set(first->type()) ? is_block_set(second->type()) : first->type() == second->type();
    if (!fit) {
      Cell type1 = datatype::make(first->type());
      Cell type2 = datatype::make(second->type());
      fire(ErrorId::script_expect_val, &type1, &type2);
    }
  }
  bool case_sensitive = case_at != -1;
  int32_t skip = skip_at >= 0 ? argument(skip_at)->int_at2() : 1;
  switch (first->type()) {
    case TYPE_BLOCK:
    case TYPE_HASH:
      block::do_set_op(first, second, case_sensitive, skip, op);
      return;
    case TYPE_STRING:
      string::do_set_op(first, second, case_sensitive, skip, op);
      return;
    case TYPE_TYPESET:
      if (op == kUnique) break;
      typeset::do_bitwise(op);
      return;
    case TYPE_BITSET:
      if (op == kUnique) break;
      bitset::do_bitwise(op);
      return;
    case TYPE_DATE:
      if (op != kDifference) break;
      date::to_time_value(first, *second);
      return;
    default:
      break;
  }
  unsupported_set(*first, op);
}

// Refinements of the set natives: /case, then /skip with its size.
void check_set_arguments(const Cell& types, bool two_sets, const int32_t* refinements) {
  check(types, 0);
  if (two_sets) check(types, 1);
  if (refinements[1] >= 0) check(size_types, refinements[1]);
}

void union_(bool check_types, const int32_t* r) {
  if (check_types) check_set_arguments(set_types, true, r);
  set_op(kUnion, r[0], r[1]);
}
void intersect(bool check_types, const int32_t* r) {
  if (check_types) check_set_arguments(set_types, true, r);
  set_op(kIntersect, r[0], r[1]);
}
void unique(bool check_types, const int32_t* r) {
  if (check_types) check_set_arguments(unique_types, false, r);
  set_op(kUnique, r[0], r[1]);
}
void difference(bool check_types, const int32_t* r) {
  if (check_types) check_set_arguments(difference_types, true, r);
  set_op(kDifference, r[0], r[1]);
}
void exclude(bool check_types, const int32_t* r) {
  if (check_types) check_set_arguments(set_types, true, r);
  set_op(kExclude, r[0], r[1]);
}

void complement_q(bool, const int32_t*) {
  const Cell& bits = *argument(0);
  if (!bits.is(TYPE_BITSET)) {
    Cell call = error_value::call_word();
    Cell type = datatype::make(bits.type());
    Cell which = word::make_value(symbol::make("bits"), 0, -1);
    fire(ErrorId::script_expect_arg, &call, &type, &which);
  }
  logic::box(bitset::complemented(&bits));
}

// --- max and min ------------------------------------------------------------------------

// Coordinates of point2D! and point3D!: IEEE singles, stored bit for bit.
inline float coordinate(const Cell& point, int axis) { return point_common::axis_value(point, axis); }
inline void set_coordinate(Cell* point, int axis, float value) {
  point_common::set_axis_bits(point, axis, std::bit_cast<uint32_t>(value));
}

inline bool is_nan_number(const Cell& value) {
  return (value.is(TYPE_FLOAT) || value.is(TYPE_PERCENT)) && std::isnan(value.as_double());
}
inline bool is_plain_number(const Cell& value) {
  return value.is(TYPE_INTEGER) || value.is(TYPE_FLOAT) || value.is(TYPE_PERCENT);
}
inline bool is_compound(const Cell& value) {
  return value.is(TYPE_PAIR) || value.is(TYPE_POINT2D) || value.is(TYPE_POINT3D) || value.is(TYPE_TUPLE);
}
inline double number_of(const Cell& value) {
  return value.is(TYPE_INTEGER) ? static_cast<double>(value.int_at2()) : value.as_double();
}

// A float that truncates into the 32-bit integer range.
inline bool fits_integer(double value) {
  return std::isfinite(value) && value > -2147483649.0 && value < 2147483648.0;
}

// The greater (or lesser) of two coordinates; a NaN on the second side wins.
inline float pick_float(float mine, float other, bool greatest) {
  if (std::isnan(other)) return other;
  return greatest ? (other > mine ? other : mine) : (other < mine ? other : mine);
}
inline int32_t pick_integer(int32_t mine, int32_t other, bool greatest) {
  return greatest ? (other > mine ? other : mine) : (other < mine ? other : mine);
}

// Both coordinates of a point2D! against the other side's x and y.
void pick_point2d(Cell* point, float x, float y, bool greatest) {
  set_coordinate(point, 0, pick_float(coordinate(*point, 0), x, greatest));
  set_coordinate(point, 1, pick_float(coordinate(*point, 1), y, greatest));
}

// Element-wise max/min of a compound first value; false when the pair of
// types has no element-wise meaning (the values are then compared whole).
bool element_wise(Cell* first, Cell* second, bool greatest) {
  switch (first->type()) {
    case TYPE_PAIR: {
      if (second->is(TYPE_INTEGER) || (second->is(TYPE_FLOAT) && fits_integer(second->as_double()))) {
        int32_t n = second->is(TYPE_INTEGER) ? second->int_at2() : static_cast<int32_t>(second->as_double());
        *first = pair::make(pick_integer(pair::x_of(*first), n, greatest), pick_integer(pair::y_of(*first), n, greatest));
        return true;
      }
      if (second->is(TYPE_FLOAT)) {
        auto n = static_cast<float>(second->as_double());
        pair::to_point2d(first);
        pick_point2d(first, n, n, greatest);
        return true;
      }
      if (second->is(TYPE_PAIR)) {
        *first = pair::make(pick_integer(pair::x_of(*first), pair::x_of(*second), greatest),
                            pick_integer(pair::y_of(*first), pair::y_of(*second), greatest));
        return true;
      }
      if (second->is(TYPE_POINT2D)) {
        pair::to_point2d(first);
        pick_point2d(first, coordinate(*second, 0), coordinate(*second, 1), greatest);
        return true;
      }
      return false;
    }
    case TYPE_POINT2D: {
      if (second->is(TYPE_INTEGER) || second->is(TYPE_FLOAT)) {
        auto n = static_cast<float>(number_of(*second));
        pick_point2d(first, n, n, greatest);
        return true;
      }
      if (second->is(TYPE_PAIR)) {
        pick_point2d(first, static_cast<float>(pair::x_of(*second)), static_cast<float>(pair::y_of(*second)), greatest);
        return true;
      }
      if (second->is(TYPE_POINT2D)) {
        pick_point2d(first, coordinate(*second, 0), coordinate(*second, 1), greatest);
        return true;
      }
      return false;
    }
    case TYPE_POINT3D: {
      bool number = second->is(TYPE_INTEGER) || second->is(TYPE_FLOAT);
      if (!number && !second->is(TYPE_POINT3D)) return false;
      for (int axis = 0; axis < 3; ++axis) {
        float other = number ? static_cast<float>(number_of(*second)) : coordinate(*second, axis);
        set_coordinate(first, axis, pick_float(coordinate(*first, axis), other, greatest));
      }
      return true;
    }
    case TYPE_TUPLE: {
      uint32_t size = tuple::size_of(*first);
      uint8_t* bytes = tuple::bytes_of(first);
      if (second->is(TYPE_INTEGER) || second->is(TYPE_FLOAT)) {
        int32_t n;
        if (second->is(TYPE_INTEGER)) {
          n = second->int_at2();
        } else {
          double value = second->as_double();
          if (!fits_integer(value)) {
            Cell integer_type = datatype::make(TYPE_INTEGER);
            fire(ErrorId::script_type_limit, &integer_type);
          }
          n = static_cast<int32_t>(value);
        }
        n = n < 0 ? 0 : n > 255 ? 255 : n;
        for (uint32_t i = 0; i < size; ++i)
          bytes[i] = static_cast<uint8_t>(pick_integer(bytes[i], n, greatest));
        return true;
      }
      if (second->is(TYPE_TUPLE) && tuple::size_of(*second) == size) {
        const uint8_t* others = tuple::bytes_of(*second);
        for (uint32_t i = 0; i < size; ++i)
          bytes[i] = static_cast<uint8_t>(pick_integer(bytes[i], others[i], greatest));
        return true;
      }
      return false;
    }
    default:
      return false;
  }
}

// The common routine of max (greatest set) and min.
void max_min(bool check_types, bool greatest) {
  if (check_types) {
    check(extremum_types, 0);
    check(extremum_types, 1);
  }
  Cell* first = argument(0);
  Cell* second = argument(1);
  // A NaN against a plain number wins either way round.
  if (is_nan_number(*first) && is_plain_number(*second)) return;
  if (is_nan_number(*second) && is_plain_number(*first)) {
    stack::set_last(*second);
    return;
  }
  // A number against a compound value works on the compound one.
  if (is_compound(*second) && (first->is(TYPE_INTEGER) || first->is(TYPE_FLOAT))) std::swap(*first, *second);
  if (element_wise(first, second, greatest)) return;
  // With equal values max keeps the first and min takes the second.
  bool first_lesser = actions::compare(first, second, kCmpLesser);
  if (greatest == first_lesser) stack::set_last(*second);
}

void max(bool check_types, const int32_t*) { max_min(check_types, true); }
void min(bool check_types, const int32_t*) { max_min(check_types, false); }

}  // namespace

void init() {
  set1_word = word::make_value(symbol::make("set1"), 0, -1);
  set_word = word::make_value(symbol::make("set"), 0, -1);

  set_types = typeset_of({{TYPE_BLOCK, TYPE_HASH, TYPE_STRING, TYPE_BITSET, TYPE_TYPESET}});
  difference_types = typeset_of({{TYPE_BLOCK, TYPE_HASH, TYPE_STRING, TYPE_BITSET, TYPE_TYPESET, TYPE_DATE}});
  unique_types = typeset_of({{TYPE_BLOCK, TYPE_HASH, TYPE_STRING}});
  size_types = typeset_of({{TYPE_INTEGER}});
  // scalar! and series!
  extremum_types = typeset_of({{TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT, TYPE_POINT2D, TYPE_POINT3D, TYPE_MONEY,
                                TYPE_CHAR, TYPE_PAIR, TYPE_TUPLE, TYPE_TIME, TYPE_DATE, TYPE_PATH, TYPE_LIT_PATH,
                                TYPE_SET_PATH, TYPE_GET_PATH, TYPE_BLOCK, TYPE_PAREN, TYPE_HASH, TYPE_STRING,
                                TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF, TYPE_BINARY, TYPE_IMAGE,
                                TYPE_VECTOR}});

  using natives::Native;
  natives::install(Native::equal_q, equal_q);
  natives::install(Native::not_equal_q, not_equal_q);
  natives::install(Native::strict_equal_q, strict_equal_q);
  natives::install(Native::lesser_q, lesser_q);
  natives::install(Native::greater_q, greater_q);
  natives::install(Native::lesser_or_equal_q, lesser_or_equal_q);
  natives::install(Native::greater_or_equal_q, greater_or_equal_q);
  natives::install(Native::same_q, same_q);
  natives::install(Native::not_, not_);
  natives::install(Native::union_, union_);
  natives::install(Native::intersect, intersect);
  natives::install(Native::unique, unique);
  natives::install(Native::difference, difference);
  natives::install(Native::exclude, exclude);
  natives::install(Native::complement_q, complement_q);
  natives::install(Native::max, max);
  natives::install(Native::min, min);
}

}  // namespace kel::natives_compare
