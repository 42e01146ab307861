// float!: texts, tolerant comparison, arithmetic, conversions and rounding.
//
// The pretty? option is one process-wide flag read by form_float; nothing
// else here keeps state. Every text is built in a buffer returned by value,
// so forming a value while forming another is safe.
#include "datatypes/float.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/money.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime/actions.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/number_parsers.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "datatypes/runtime_words.h"
#include "runtime/string_units.h"
#include "runtime/series_tail.h"

namespace kel::float_type {

namespace {
bool pretty_flag = false;

// Below this magnitude two doubles are equal whatever their bits, and
// pretty? forms a value as zero.
constexpr double kEqualityEpsilon = 2.220446049250313e-16;
constexpr uint64_t kUlpTolerance = 10;
}  // namespace

Cell* push(double value) { return stack::push(make(value)); }

Cell* push64(uint32_t low, uint32_t high) { return stack::push(make_cell(TYPE_FLOAT, 0, low, high)); }

Cell* set_result(double value) { return stack::set_result(make(value)); }

Cell* make_in(const Cell* block, double value) { return append_value(block, make(value)); }

bool nan_q(double value) { return std::isnan(value); }

bool special_q(double value) { return !std::isfinite(value); }

void set_pretty(bool on) { pretty_flag = on; }

bool pretty() { return pretty_flag; }

// --- Text ------------------------------------------------------------------------------------

namespace {

FloatText literal(std::string_view text) {
  FloatText out{};
  text.copy(out.text, text.size());
  out.length = static_cast<int32_t>(text.size());
  return out;
}

// The printf "%.<precision>g" text.
FloatText g_format(double value, int precision) {
  FloatText out{};
  std::to_chars_result r = std::to_chars(out.text, out.text + sizeof out.text - 1, value,
                                         std::chars_format::general, precision);
  out.length = static_cast<int32_t>(r.ptr - out.text);
  out.text[out.length] = '\0';
  return out;
}

int32_t exponent_index(const FloatText& text) {
  for (int32_t i = 0; i < text.length; ++i)
    if (text.text[i] == 'e') return i;
  return -1;
}

// A text that shows all the digits a double has and ends in 01 or 99 is
// most likely the noise of the last binary digit.
bool looks_noisy(const FloatText& text) {
  int32_t e = exponent_index(text);
  bool long_text = e >= 0 ? e > 16 : text.length > (text.text[0] == '0' ? 17 : 16);
  if (!long_text) return false;
  int32_t end = e >= 0 ? e : text.length;
  if (end < 2) return false;
  std::string_view last(text.text + end - 2, 2);
  return last == "01" || last == "99";
}

// "1e+020" becomes "1e20", "1e-005" "1e-5".
void shorten_exponent(FloatText& text) {
  int32_t e = exponent_index(text);
  if (e < 0) return;
  int32_t read = e + 1, write = e + 1;
  if (read < text.length && text.text[read] == '+') ++read;
  if (read < text.length && text.text[read] == '-') text.text[write++] = text.text[read++];
  while (read < text.length - 1 && text.text[read] == '0') ++read;
  while (read < text.length) text.text[write++] = text.text[read++];
  text.length = write;
  text.text[write] = '\0';
}

void insert_at(FloatText& text, int32_t position, std::string_view piece) {
  std::copy_backward(text.text + position, text.text + text.length,
                     text.text + text.length + piece.size());
  piece.copy(text.text + position, piece.size());
  text.length += static_cast<int32_t>(piece.size());
  text.text[text.length] = '\0';
}

}  // namespace

FloatText form_float(double value, FormKind kind) {
  if (std::isnan(value)) return literal("1.#NaN");
  if (std::isinf(value)) return literal(value < 0 ? "-1.#INF" : "1.#INF");
  bool percent = kind == kFormPercent32 || kind == kFormPercent;
  if (pretty_flag && std::fabs(value) < kEqualityEpsilon)
    return literal(percent ? "0%" : kind == kFormPoint ? "0" : "0.0");

  bool single = kind == kFormFloat32 || kind == kFormPercent32 || kind == kFormPoint;
  FloatText text = kind == kFormTime ? form_buffer(value, 6, false)
                                     : g_format(value, single ? 7 : kind == kFormPercent ? 13 : 16);
  if (pretty_flag && looks_noisy(text)) {
    bool short_kind = kind == kFormFloat32 || kind == kFormTime || kind == kFormPoint;
    text = g_format(value, short_kind ? 5 : 14);
  }
  shorten_exponent(text);
  if (percent) {
    insert_at(text, text.length, "%");
  } else if (kind == kFormFloat32 || kind == kFormFloat) {
    if (std::find(text.text, text.text + text.length, '.') == text.text + text.length) {
      int32_t e = exponent_index(text);
      insert_at(text, e >= 0 ? e : text.length, ".0");
    }
  }
  return text;
}

// --- Comparison ----------------------------------------------------------------------------

namespace {

// The double's bits on one ordered scale: -0.0 and 0.0 meet at 0, and one
// step of the scale is one unit in the last place.
int64_t ordered_bits(double value) {
  int64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits < 0 ? std::numeric_limits<int64_t>::min() - bits : bits;
}

int32_t ordered_bits32(float value) {
  int32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits < 0 ? std::numeric_limits<int32_t>::min() - bits : bits;
}

template <class T>
uint64_t distance(T a, T b) {
  return a > b ? static_cast<uint64_t>(a) - static_cast<uint64_t>(b)
               : static_cast<uint64_t>(b) - static_cast<uint64_t>(a);
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

bool near_equal(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return false;
  if (a == b) return true;
  if (std::isinf(a) || std::isinf(b)) return false;
  if (std::fabs(a - b) < kEqualityEpsilon) return true;
  return distance(ordered_bits(a), ordered_bits(b)) <= kUlpTolerance;
}

bool near_equal32(float a, float b) {
  if (std::isnan(a) || std::isnan(b)) return false;
  if (a == b) return true;
  if (std::isinf(a) || std::isinf(b)) return false;
  if (std::fabs(static_cast<double>(a) - static_cast<double>(b)) < kEqualityEpsilon) return true;
  int64_t da = ordered_bits32(a), db = ordered_bits32(b);
  return distance(da, db) <= kUlpTolerance;
}

int32_t compare_numbers(double a, double b, int32_t op) {
  bool unordered = std::isnan(a) || std::isnan(b);
  switch (op) {
    case kCmpEqual:
    case kCmpNotEqual: return near_equal(a, b) ? 0 : 1;
    case kCmpStrictEqual: return a == b ? 0 : 1;
    case kCmpSame: return same_bits(a, b) ? 0 : 1;
    // Answers that make both operators of a pair false.
    case kCmpLesser:
    case kCmpLesserOrEqual:
      if (unordered) return 1;
      break;
    case kCmpGreater:
    case kCmpGreaterOrEqual:
      if (unordered) return -1;
      break;
    default:
      if (unordered) return 0;
  }
  return (a > b) - (a < b);
}

int32_t compare_mirrored(Cell* value1, Cell* value2, int32_t op) {
  ActionHandler<Action::compare> handler = action_handler<Action::compare>(value2->type());
  if (handler == nullptr) return kNotComparable;
  int32_t mirrored = op;
  switch (op) {
    case kCmpLesser: mirrored = kCmpGreater; break;
    case kCmpLesserOrEqual: mirrored = kCmpGreaterOrEqual; break;
    case kCmpGreater: mirrored = kCmpLesser; break;
    case kCmpGreaterOrEqual: mirrored = kCmpLesserOrEqual; break;
    default: break;
  }
  Cell left = *value2;
  Cell right = *value1;
  int32_t answer = handler(&left, &right, mirrored);
  return answer == kNotComparable ? answer : -answer;
}

namespace {

// money! cannot hold every double: magnitudes from 1e17 on and non-zero
// ones below 1e-5 are ordered here, by sign, before money! is asked.
int32_t compare_with_money(Cell* value1, Cell* value2, int32_t op) {
  double x = value1->as_double();
  if (std::isnan(x)) return compare_numbers(x, 0.0, op);
  double magnitude = std::fabs(x);
  if (magnitude >= 1e17) return x > 0 ? 1 : -1;
  if (magnitude != 0.0 && magnitude < 1e-5) {
    Cell zero = make(0.0);
    int32_t zero_against_money = compare_mirrored(&zero, value2, op);
    if (zero_against_money != 0) return zero_against_money;
    return x > 0 ? 1 : -1;
  }
  return compare_mirrored(value1, value2, op);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
  if ((op == kCmpStrictEqual || op == kCmpSame || op == kCmpFind) && value1->type() != value2->type())
    return 1;
  double b;
  switch (value2->type()) {
    case TYPE_INTEGER: b = static_cast<double>(integer::get(*value2)); break;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: b = value2->as_double(); break;
    case TYPE_MONEY: return compare_with_money(value1, value2, op);
    default: return kNotComparable;
  }
  return compare_numbers(value1->as_double(), b, op);
}

}  // namespace

// --- Arithmetic --------------------------------------------------------------------------

namespace {

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

double number_of(const Cell& cell) {
  return cell.is(TYPE_INTEGER) || cell.is(TYPE_CHAR) ? static_cast<double>(integer::get(cell))
                                                     : cell.as_double();
}

}  // namespace

double modulo(double x, double y, int32_t op) {
  switch (op) {
    case kOpAdd: return x + y;
    case kOpSubtract: return x - y;
    case kOpMultiply: return x * y;
    case kOpDivide: return x / y;
    case kOpRemainder: return std::fmod(x, y);
    default: {
      Cell call = error_value::call_word();
      Cell type = datatype::make(TYPE_FLOAT);
      fire(ErrorId::script_cannot_use, &call, &type);
    }
  }
}

Cell* do_math(int32_t op) {
  Cell* left = stack::arguments();
  Cell* right = left + 1;
  TypeId left_type = left->type();
  switch (right->type()) {
    case TYPE_TUPLE:
    case TYPE_MONEY:
      // Both take a number on the left themselves.
      return integer::dispatch_math(op, Cell(*right));
    case TYPE_VECTOR:
      std::swap(left[0], left[1]);
      return integer::dispatch_math(op, *left);
    case TYPE_PAIR:
    case TYPE_POINT2D:
    case TYPE_POINT3D:
      if (left_type == TYPE_TIME) invalid_type(*right);
      if (op == kOpSubtract || op == kOpDivide) {
        Cell action = word::make_value(op == kOpSubtract ? runtime_words::subtract : runtime_words::divide, 0, -1);
        Cell datatype = datatype::make(right->type());
        fire(ErrorId::script_not_related, &action, &datatype);
      }
      std::swap(left[0], left[1]);
      return integer::dispatch_math(op, *left);
    case TYPE_CHAR:
      if (left_type != TYPE_FLOAT) invalid_type(*right);
      break;
    case TYPE_INTEGER:
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: break;
    default: invalid_type(*right);
  }
  double result = modulo(number_of(*left), number_of(*right), op);
  TypeId result_type = left_type == TYPE_INTEGER ? TYPE_FLOAT : left_type;
  if ((left_type == TYPE_TIME) != right->is(TYPE_TIME)) result_type = TYPE_TIME;
  left->set_type(result_type);
  left->set_double(result);
  return left;
}

Cell* power() {
  Cell* base = stack::arguments();
  Cell* exponent = base + 1;
  if (!exponent->is(TYPE_INTEGER) && !exponent->is(TYPE_FLOAT)) expect_argument(*exponent, 1);
  base->set_double(std::pow(base->as_double(), number_of(*exponent)));
  return base;
}

// --- Rounding ----------------------------------------------------------------------------

namespace {

// The integral value v rounds to under the refinements.
double integral(double v, const RoundRefinements& r) {
  double magnitude = std::fabs(v);
  if (r.down) return std::copysign(std::floor(magnitude), v);
  if (r.floor) return std::floor(v);
  if (r.ceiling) return std::ceil(v);
  double half = std::floor(magnitude) + 0.5;
  if (magnitude > half) return std::copysign(std::ceil(magnitude), v);
  if (magnitude < half) return std::copysign(std::floor(magnitude), v);
  if (r.even)
    return std::copysign(std::fmod(magnitude, 2.0) >= 1.0 ? std::ceil(magnitude) : std::floor(magnitude), v);
  if (r.half_down) return std::copysign(std::floor(magnitude), v);
  if (r.half_ceiling) return std::ceil(v);
  return std::copysign(std::ceil(magnitude), v);
}

}  // namespace

Cell* round_value(Cell* value, const RoundRefinements& refinements) {
  const Cell* scale = refinements.scale;
  bool percent_value = value->is(TYPE_PERCENT);
  double step = percent_value ? 0.01 : 1.0;
  if (scale != nullptr) {
    switch (scale->type()) {
      case TYPE_INTEGER: step = std::fabs(static_cast<double>(integer::get(*scale))); break;
      case TYPE_FLOAT:
      case TYPE_PERCENT:
      case TYPE_TIME: step = std::fabs(scale->as_double()); break;
      case TYPE_MONEY: {
        Cell call = error_value::call_word();
        Cell type = datatype::make(TYPE_MONEY);
        fire(ErrorId::script_not_related, &call, &type);
      }
      default: expect_argument(*scale, static_cast<int>(scale - stack::arguments()));
    }
    if (percent_value) step /= 100.0;
  }
  double x = value->as_double();
  // A scale below the value's precision (or no scale at all) leaves it as it is.
  if (!std::isfinite(x) || !(step > 0.0) || std::ldexp(std::fabs(x), -53) > step)
    return stack::set_result(*value);

  double result;
  if (step >= 1.0) {
    result = integral(x / step, refinements) * step;
    if (std::isinf(result)) checked_math::overflow();
  } else {
    // The reciprocal of a scale keeps decimal steps exact (0.1 has no exact
    // double, 10.0 has); a subnormal scale has no finite reciprocal and is
    // divided by directly.
    double reciprocal = 1.0 / step;
    if (std::isfinite(reciprocal))
      result = integral(x * reciprocal, refinements) / reciprocal;
    else
      result = integral(x / step, refinements) * step;
  }

  TypeId result_type = scale != nullptr ? scale->type() : value->type();
  if (result_type == TYPE_INTEGER) {
    Cell shown = make(result);
    return stack::set_result(integer::make(checked_math::truncate_to_integer(result, shown)));
  }
  return stack::set_result(make(result, result_type));
}

// --- Conversions ---------------------------------------------------------------------------

namespace {

[[noreturn]] void bad_to_arg(TypeId target, const Cell* spec) {
  Cell type = datatype::make(target);
  fire_bad_to_arg(&type, spec);
}

// The first min(8, length) bytes from the index as a big-endian number,
// whose 64 bits are the double's bit pattern.
double from_binary(const Cell* spec) {
  SeriesBuffer* buffer = memory::buffer_of(spec->data2);
  uint32_t used = buffer->used();
  uint32_t index = spec->data1;
  uint32_t count = index >= used ? 0 : std::min<uint32_t>(8, used - index);
  const uint8_t* bytes = buffer->head_ptr() + index;
  uint64_t bits = 0;
  for (uint32_t i = 0; i < count; ++i) bits = (bits << 8) | bytes[i];
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// [m e]: m x 10^e, correctly rounded from m's decimal digits (so [3 -1]
// gives 0.3, not 3 x 0.1).
double from_block(TypeId target, const Cell* spec) {
  SeriesBuffer* buffer = memory::buffer_of(spec->data2);
  uint32_t count = buffer->cell_count();
  uint32_t index = spec->data1;
  if (index >= count || count - index != 2) bad_to_arg(target, spec);
  Cell mantissa = buffer->cells()[index];
  Cell exponent_cell = buffer->cells()[index + 1];
  for (const Cell& c : {mantissa, exponent_cell})
    if (!c.is(TYPE_INTEGER) && !c.is(TYPE_FLOAT)) bad_to_arg(target, spec);
  int64_t exponent = exponent_cell.is(TYPE_INTEGER)
                         ? integer::get(exponent_cell)
                         : checked_math::truncate_to_integer(exponent_cell.as_double(), exponent_cell);

  std::string text;
  if (mantissa.is(TYPE_INTEGER)) {
    text = integer::form_signed(integer::get(mantissa)).view();
  } else {
    Digits digits = to_digits(mantissa.as_double(), 0, false);
    // Zero, the infinities and NaN stay what they are at any scale.
    if (digits.position >= kZeroPosition) return mantissa.as_double();
    if (digits.negative) text += '-';
    text += "0.";
    text += digits.view();
    exponent += digits.position;
  }
  // Beyond this every mantissa overflows or vanishes.
  exponent = std::clamp<int64_t>(exponent, -100000, 100000);
  int32_t remainder = 0;
  return parse(text.data(), text.data() + text.size(), static_cast<int32_t>(exponent), &remainder);
}

// The text from the string's index as code points (any unit).
struct TextSpan {
  const uint8_t* bytes;
  uint32_t length;
  uint32_t unit;
};
TextSpan text_of(const Cell* spec) {
  SeriesBuffer* buffer = string::buffer_of(spec);
  uint32_t unit = buffer->unit();
  return {buffer->head_ptr() + static_cast<size_t>(spec->data1) * unit, string::rs_length(spec), unit};
}

bool is_space(uint32_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// to percent! of a text reads one number the way source text would: an
// integer, a float or a percent, with blanks around it.
double percent_from_text(const Cell* spec) {
  TextSpan text = text_of(spec);
  uint32_t first = 0, last = text.length;
  while (first < last && is_space(unicode::get_char(text.bytes + first * text.unit, text.unit))) ++first;
  while (last > first && is_space(unicode::get_char(text.bytes + (last - 1) * text.unit, text.unit))) --last;
  const uint8_t* start = text.bytes + first * text.unit;
  uint32_t length = last - first;
  if (length == 0) bad_to_arg(TYPE_PERCENT, spec);
  int32_t error = 0;
  if (unicode::get_char(start + (length - 1) * text.unit, text.unit) == '%') {
    double value = number_text::scan_float_text(start, length - 1, text.unit, &error, -2);
    if (error != 0) bad_to_arg(TYPE_PERCENT, spec);
    return value;
  }
  int32_t integer_value = number_text::scan_integer_text(start, length, text.unit, &error);
  if (error == 0) return integer_value;
  error = 0;
  double value = number_text::scan_float_text(start, length, text.unit, &error);
  if (error != 0) bad_to_arg(TYPE_PERCENT, spec);
  return value;
}

double float_from_text(const Cell* spec) {
  TextSpan text = text_of(spec);
  int32_t error = 0;
  double value = text.length == 0 ? 0.0 : number_text::scan_float_text(text.bytes, text.length, text.unit, &error);
  if (text.length == 0 || error != 0) bad_to_arg(TYPE_FLOAT, spec);
  return value;
}

Cell* make_float(Cell*, Cell* spec, TypeId type) {
  TypeId target = type == TYPE_PERCENT ? TYPE_PERCENT : TYPE_FLOAT;
  double value;
  switch (spec->type()) {
    case TYPE_CHAR:
    case TYPE_INTEGER: value = static_cast<double>(integer::get(*spec)); break;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: value = spec->as_double(); break;
    case TYPE_MONEY: value = money::to_float(*spec); break;
    case TYPE_BINARY: value = from_binary(spec); break;
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: value = from_block(target, spec); break;
    default:
      if (!string::is_string_like(spec->type())) bad_to_arg(target, spec);
      value = target == TYPE_PERCENT ? percent_from_text(spec) : float_from_text(spec);
  }
  return stack::set_result(make(value, target));
}

// --- Actions -----------------------------------------------------------------------------

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
  FloatText text = form_float(value->as_double(), kFormFloat);
  string::concatenate_literal_part(buffer, text.text, static_cast<uint32_t>(text.length));
  return part - text.length;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell*, int32_t part, int32_t) {
  FloatText text = form_buffer(value->as_double(), 0, true);
  string::concatenate_literal_part(buffer, text.text, static_cast<uint32_t>(text.length));
  return part - text.length;
}

Cell* random(Cell* value, int seed, int secure, int) {
  double x = value->as_double();
  if (seed >= 0) {
    random::seed(static_cast<int32_t>(value->data2 ^ value->data3));
    return unset::set_result();
  }
  double result;
  if (secure >= 0) {
    double r1 = random::rand_secure();
    double r2 = random::rand_secure();
    result = (r2 + r1 / 2147483647.0) / (2147483648.0 / x);
  } else {
    result = x * (random::rand() / 2147483647.0);
  }
  return stack::set_result(make(result, value->type()));
}

Cell* absolute() {
  Cell* value = stack::arguments();
  value->data3 &= 0x7FFFFFFFu;
  return value;
}

Cell* negate(Cell* number) {
  number->set_double(0.0 - number->as_double());
  return stack::set_result(*number);
}

// Parity of the value truncated toward zero, exact for every finite double
// (from 2^53 on every double is even).
bool odd(const Cell& number) {
  double x = number.as_double();
  if (!std::isfinite(x)) fire(ErrorId::script_out_of_range, &number);
  return std::fmod(std::trunc(x), 2.0) != 0.0;
}
Cell* even_q(Cell* number) { return logic::box(!odd(*number)); }
Cell* odd_q(Cell* number) { return logic::box(odd(*number)); }

Cell* add() { return do_math(kOpAdd); }
Cell* subtract() { return do_math(kOpSubtract); }
Cell* multiply() { return do_math(kOpMultiply); }
Cell* divide() { return do_math(kOpDivide); }
Cell* remainder() { return do_math(kOpRemainder); }

Cell* round(Cell* value, int to, int even, int down, int half_down, int floor, int ceiling,
            int half_ceiling) {
  RoundRefinements refinements = RoundRefinements::from_handler(even, down, half_down, floor, ceiling, half_ceiling);
  refinements.scale = to >= 0 ? stack::arguments() + to : nullptr;
  return round_value(value, refinements);
}

}  // namespace

void init() {
  DatatypeRecord record(TYPE_FLOAT, 0, "float!");
  record.handle<Action::make>(make_float)
      .handle<Action::random>(random)
      .handle<Action::to>(make_float)
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
      .handle<Action::odd_q>(odd_q);
  register_datatype(record);
}

}  // namespace kel::float_type
