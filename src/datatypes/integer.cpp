// integer!: constructors, the checked arithmetic core and the actions.
//
// Arithmetic handlers read their operands from the current frame (the first
// cell is also the result). An integer on the left and a number of another
// type on the right is handed over: float!, percent! and time! to the float
// arithmetic, the compound types (pair!, points, tuple!, vector!, date!,
// money!) to their own handlers, with the operands swapped where that type
// expects itself on the left.
#include "datatypes/integer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/error.h"
#include "datatypes/float.h"
#include "datatypes/logic.h"
#include "datatypes/money.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime/actions.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/number_parsers.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "runtime/runtime.h"
#include "datatypes/runtime_words.h"
#include "runtime/series_tail.h"

namespace kel::integer {

Cell* push(int32_t value) { return stack::push(make(value)); }

Cell* box(int32_t value) { return stack::set_result(make(value)); }

Cell* make_at(Cell* cell, int32_t value) {
  cell->set_type(TYPE_INTEGER);
  cell->data2 = static_cast<uint32_t>(value);
  return cell;
}

Cell* make_in(const Cell* block, int32_t value) { return append_value(block, make(value)); }

int32_t get_result() { return get(*stack::arguments()); }

int32_t get_result_any() {
  const Cell& result = *stack::arguments();
  return result.is(TYPE_INTEGER) ? get(result) : 0;
}

int32_t absolute_value(int32_t value) { return checked_math::absolute(value); }

bool out_of_range_q(const Cell& number) {
  return !checked_math::truncates_to_integer(number.as_double());
}

SignedText form_signed(int32_t value) {
  SignedText out{};
  std::to_chars_result r = std::to_chars(out.text, out.text + sizeof out.text, value);
  out.length = static_cast<int32_t>(r.ptr - out.text);
  return out;
}

int32_t do_math_op(int32_t left, int32_t right, int32_t op, Cell* result) {
  int32_t value = 0;
  double wide = 0.0;  // the exact result when it is not a 32-bit integer
  bool exact = true;
  switch (op) {
    case kOpAdd:
      exact = checked_math::add(left, right, &value);
      wide = static_cast<double>(left) + static_cast<double>(right);
      break;
    case kOpSubtract:
      exact = checked_math::subtract(left, right, &value);
      wide = static_cast<double>(left) - static_cast<double>(right);
      break;
    case kOpMultiply:
      exact = checked_math::multiply(left, right, &value);
      wide = static_cast<double>(left) * static_cast<double>(right);
      break;
    case kOpDivide:
      value = checked_math::divide(left, right);
      if (result != nullptr && left % right != 0) {
        exact = false;
        wide = static_cast<double>(left) / static_cast<double>(right);
      }
      break;
    case kOpRemainder: value = checked_math::remainder(left, right); break;
    case kOpOr: value = left | right; break;
    case kOpAnd: value = left & right; break;
    case kOpXor: value = left ^ right; break;
    default: runtime::quit(101, KEL_CALLER_ADDRESS());
  }
  if (!exact) {
    if (result == nullptr) checked_math::overflow();
    result->set_type(TYPE_FLOAT);
    result->set_double(wide);
    return 0;
  }
  if (result != nullptr) result->data2 = static_cast<uint32_t>(value);
  return value;
}

Cell* dispatch_math(int32_t op, const Cell& owner) {
  switch (op) {
    case kOpAdd: return actions::handler_for<Action::add>(owner)();
    case kOpSubtract: return actions::handler_for<Action::subtract>(owner)();
    case kOpMultiply: return actions::handler_for<Action::multiply>(owner)();
    case kOpDivide: return actions::handler_for<Action::divide>(owner)();
    case kOpRemainder: return actions::handler_for<Action::remainder>(owner)();
    case kOpOr: return actions::handler_for<Action::or_t>(owner)();
    case kOpAnd: return actions::handler_for<Action::and_t>(owner)();
    case kOpXor: return actions::handler_for<Action::xor_t>(owner)();
    default: runtime::quit(101, KEL_CALLER_ADDRESS());
  }
}

namespace {

[[noreturn]] void not_related(uint32_t action_symbol, TypeId type) {
  Cell action = word::make_value(action_symbol, 0, -1);
  Cell datatype = datatype::make(type);
  fire(ErrorId::script_not_related, &action, &datatype);
}

[[noreturn]] void invalid_type(const Cell& operand) {
  Cell datatype = datatype::make(operand.type());
  fire(ErrorId::script_invalid_type, &datatype);
}

[[noreturn]] void expect_argument(const Cell& argument, int index) {
  Cell call = error_value::call_word();
  Cell type = datatype::make(argument.type());
  Cell argument_word = error_value::call_argument_word(index);
  fire(ErrorId::script_expect_arg, &call, &type, &argument_word);
}

void swap_operands() {
  Cell* left = stack::arguments();
  std::swap(left[0], left[1]);
}

// A compound type that takes a number as its right operand.
Cell* hand_over_swapped(int32_t op) {
  swap_operands();
  return dispatch_math(op, *stack::arguments());
}

}  // namespace

Cell* do_math(int32_t op) {
  Cell* left = stack::arguments();
  Cell* right = left + 1;
  switch (right->type()) {
    case TYPE_CHAR:
    case TYPE_INTEGER:
      do_math_op(get(*left), get(*right), op, left);
      return left;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: return float_type::do_math(op);
    case TYPE_VECTOR: return hand_over_swapped(op);
    case TYPE_PAIR:
    case TYPE_POINT2D:
    case TYPE_POINT3D:
      if (op == kOpDivide) not_related(runtime_words::divide, TYPE_INTEGER);
      swap_operands();
      if (op == kOpSubtract) {
        // n - p is -p + n.
        actions::handler_for<Action::negate>(*left)(left);
        op = kOpAdd;
      }
      return dispatch_math(op, *left);
    case TYPE_TUPLE:
      if (op == kOpSubtract) not_related(runtime_words::subtract, TYPE_INTEGER);
      if (op == kOpDivide) not_related(runtime_words::divide, TYPE_INTEGER);
      return hand_over_swapped(op);
    case TYPE_DATE:
      if (op != kOpAdd) not_related(runtime_words::subtract, TYPE_INTEGER);
      return hand_over_swapped(op);
    case TYPE_MONEY:
      // money! takes an integer on either side: its own handler decides.
      if (op > kOpRemainder) invalid_type(*right);
      return dispatch_math(op, Cell(*right));
    default: invalid_type(*right);
  }
}

namespace {

// --- Conversions -------------------------------------------------------------------------

Cell* from_text(Cell* spec) {
  SeriesBuffer* buffer = string::buffer_of(spec);
  uint32_t unit = buffer->unit();
  uint32_t length = string::rs_length(spec);
  const uint8_t* text = buffer->head_ptr() + static_cast<size_t>(spec->data1) * unit;
  int32_t error = 0;
  int32_t value = number_text::scan_integer_text(text, length, unit, &error);
  if (error != 0) {
    Cell type = datatype::make(TYPE_INTEGER);
    fire_bad_to_arg(&type, spec);
  }
  return box(value);
}

int hex_digit(uint32_t c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
  return -1;
}

Cell* from_issue(Cell* spec) {
  std::string_view name = symbol::name(spec->data2);
  if (name.empty() || name.size() > 8) fire(ErrorId::script_invalid_data, spec);
  uint32_t value = 0;
  for (char c : name) {
    int digit = hex_digit(static_cast<uint8_t>(c));
    if (digit < 0) fire(ErrorId::script_invalid_data, spec);
    value = (value << 4) | static_cast<uint32_t>(digit);
  }
  return box(static_cast<int32_t>(value));
}

Cell* from_binary(Cell* spec) {
  SeriesBuffer* buffer = memory::buffer_of(spec->data2);
  uint32_t used = buffer->used();
  uint32_t index = spec->data1;
  uint32_t count = index >= used ? 0 : std::min<uint32_t>(4, used - index);
  const uint8_t* bytes = buffer->head_ptr() + index;
  uint32_t value = 0;
  for (uint32_t i = 0; i < count; ++i) value = (value << 8) | bytes[i];
  return box(static_cast<int32_t>(value));
}

// A double truncated toward zero; outside the range: script type-limit.
Cell* from_double(double value) {
  if (!checked_math::truncates_to_integer(value)) {
    Cell type = datatype::make(TYPE_INTEGER);
    fire(ErrorId::script_type_limit, &type);
  }
  return box(static_cast<int32_t>(value));
}

Cell* to(Cell*, Cell* spec, TypeId) {
  switch (spec->type()) {
    case TYPE_INTEGER: return box(get(*spec));
    case TYPE_CHAR: return box(get(*spec));
    case TYPE_FLOAT:
    case TYPE_PERCENT: return from_double(spec->as_double());
    case TYPE_TIME: return from_double(spec->as_double() + 0.5);
    case TYPE_ISSUE: return from_issue(spec);
    case TYPE_BINARY: return from_binary(spec);
    case TYPE_DATE: return box(date::to_epoch_seconds(*spec));
    case TYPE_MONEY: return box(money::to_integer(*spec));
    default:
      if (string::is_string_like(spec->type())) return from_text(spec);
      Cell type = datatype::make(TYPE_INTEGER);
      fire_bad_to_arg(&type, spec);
  }
}

Cell* make_integer(Cell* proto, Cell* spec, TypeId type) {
  if (spec->is(TYPE_LOGIC)) return box(spec->data1 != 0 ? 1 : 0);
  return to(proto, spec, type);
}

// --- Text ------------------------------------------------------------------------------------

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
  SignedText text = form_signed(get(*value));
  string::concatenate_literal_part(buffer, text.text, static_cast<uint32_t>(text.length));
  return part - text.length;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* arg, int32_t part, int32_t) {
  return form(value, buffer, arg, part);
}

// --- Comparison ------------------------------------------------------------------------------

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
  if ((op == kCmpStrictEqual || op == kCmpFind || op == kCmpSame) && !value2->is(TYPE_INTEGER))
    return 1;
  switch (value2->type()) {
    case TYPE_CHAR:
    case TYPE_INTEGER: {
      int32_t a = get(*value1), b = get(*value2);
      return (a > b) - (a < b);
    }
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME:
      return float_type::compare_numbers(static_cast<double>(get(*value1)), value2->as_double(), op);
    case TYPE_MONEY: return float_type::compare_mirrored(value1, value2, op);
    default: return kNotComparable;
  }
}

// --- Arithmetic actions ------------------------------------------------------------------

Cell* add() { return do_math(kOpAdd); }
Cell* subtract() { return do_math(kOpSubtract); }
Cell* multiply() { return do_math(kOpMultiply); }
Cell* divide() { return do_math(kOpDivide); }
Cell* remainder() { return do_math(kOpRemainder); }
Cell* or_t() { return do_math(kOpOr); }
Cell* and_t() { return do_math(kOpAnd); }
Cell* xor_t() { return do_math(kOpXor); }

Cell* absolute() {
  Cell* value = stack::arguments();
  value->data2 = static_cast<uint32_t>(absolute_value(get(*value)));
  return value;
}

Cell* negate(Cell* number) {
  number->data2 = static_cast<uint32_t>(checked_math::negate(get(*number)));
  return stack::set_result(*number);
}

Cell* complement(Cell* value) {
  value->data2 = ~value->data2;
  return value;
}

Cell* even_q(Cell* number) { return logic::box((number->data2 & 1) == 0); }
Cell* odd_q(Cell* number) { return logic::box((number->data2 & 1) != 0); }

// Continues as a float power with the base converted.
Cell* float_power(Cell* base) {
  base->set_type(TYPE_FLOAT);
  base->set_double(static_cast<double>(static_cast<int32_t>(base->data2)));
  return float_type::power();
}

Cell* power() {
  Cell* base = stack::arguments();
  Cell* exponent = base + 1;
  if (exponent->is(TYPE_FLOAT)) return float_power(base);
  if (!exponent->is(TYPE_INTEGER)) expect_argument(*exponent, 1);
  int32_t e = get(*exponent);
  if (e < 0) return float_power(base);
  // Square and multiply, low bit first; any overflow redoes it in floats.
  int32_t factor = get(*base);
  int32_t result = 1;
  uint32_t bits = static_cast<uint32_t>(e);
  while (true) {
    if ((bits & 1) != 0 && !checked_math::multiply(result, factor, &result)) return float_power(base);
    bits >>= 1;
    if (bits == 0) break;
    if (!checked_math::multiply(factor, factor, &factor)) return float_power(base);
  }
  return make_at(base, result);
}

Cell* random(Cell* value, int seed, int secure, int) {
  if (seed >= 0) {
    random::seed(get(*value));
    return unset::set_result();
  }
  Cell result = *value;
  int32_t bound = get(*value);
  if (bound != 0) result.data2 = static_cast<uint32_t>(random::int_uniform(secure >= 0, bound));
  return stack::set_result(result);
}

Cell* round(Cell* value, int to, int even, int down, int half_down, int floor, int ceiling,
            int half_ceiling) {
  RoundRefinements refinements = RoundRefinements::from_handler(even, down, half_down, floor, ceiling, half_ceiling);
  refinements.scale = to >= 0 ? stack::arguments() + to : nullptr;
  return round_value(value, refinements);
}

}  // namespace

Cell* round_value(Cell* value, const RoundRefinements& refinements) {
  const Cell* scale = refinements.scale;
  if (scale != nullptr && scale->is(TYPE_MONEY)) {
    Cell call = error_value::call_word();
    Cell type = datatype::make(TYPE_MONEY);
    fire(ErrorId::script_not_related, &call, &type);
  }
  // The minimum has no positive counterpart to round: it stays as it is,
  // whatever the scale.
  if (static_cast<int32_t>(value->data2) == INT32_MIN) return stack::set_result(*value);
  if (scale != nullptr) {
    switch (scale->type()) {
      case TYPE_INTEGER: break;
      case TYPE_FLOAT:
      case TYPE_PERCENT:
      case TYPE_TIME:
        value->set_type(TYPE_FLOAT);
        value->set_double(static_cast<double>(static_cast<int32_t>(value->data2)));
        return float_type::round_value(value, refinements);
      default: expect_argument(*scale, static_cast<int>(scale - stack::arguments()));
    }
  }
  // 64 bits hold every magnitude here, the minimum's included; only a
  // result outside the 32-bit range is refused.
  int64_t number = get(*value);
  int64_t step = scale != nullptr ? std::llabs(get(*scale)) : 1;
  if (step == 0) return stack::set_result(*value);
  int64_t magnitude = std::llabs(number);
  int64_t quotient = magnitude / step;
  int64_t rest = magnitude % step;
  if (rest == 0) return stack::set_result(*value);
  bool positive = number > 0;
  int64_t down = magnitude - rest;
  int64_t distance_up = step - rest;
  int64_t up = magnitude + distance_up;
  int64_t chosen;
  if (refinements.down) {
    chosen = down;
  } else if (refinements.floor) {
    chosen = positive ? down : up;
  } else if (refinements.ceiling) {
    chosen = positive ? up : down;
  } else if (rest < distance_up) {
    chosen = down;
  } else if (rest > distance_up) {
    chosen = up;
  } else if (refinements.even) {
    chosen = (quotient & 1) != 0 ? up : down;
  } else if (refinements.half_down) {
    chosen = down;
  } else if (refinements.half_ceiling) {
    chosen = positive ? up : down;
  } else {
    chosen = up;
  }
  int32_t result = checked_math::narrow(positive ? chosen : -chosen);
  value->data2 = static_cast<uint32_t>(result);
  return stack::set_result(*value);
}

void init() {
  DatatypeRecord record(TYPE_INTEGER, 0, "integer!");
  record.handle<Action::make>(make_integer)
      .handle<Action::random>(random)
      .handle<Action::to>(to)
      .handle<Action::form>(form)
      .handle<Action::mold>(mold)
      .handle<Action::compare>(compare)
      .handle<Action::absolute>(absolute)
      .handle<Action::add>(add)
      .handle<Action::divide>(divide)
      .handle<Action::multiply>(multiply)
      .handle<Action::negate>(negate)
      .handle<Action::power>(power)
      .handle<Action::remainder>(remainder)
      .handle<Action::round>(round)
      .handle<Action::subtract>(subtract)
      .handle<Action::even_q>(even_q)
      .handle<Action::odd_q>(odd_q)
      .handle<Action::and_t>(and_t)
      .handle<Action::complement>(complement)
      .handle<Action::or_t>(or_t)
      .handle<Action::xor_t>(xor_t);
  register_datatype(record);
}

}  // namespace kel::integer
