// Math and encoding natives: the sign tests negative?, positive?, sign?,
// zero? and NaN?, shift and to-hex, the trigonometry (sine, cosine, tangent,
// arcsine, arccosine, arctangent, arctangent2), the logarithms log-2,
// log-10, log-e and exp, the text codecs dehex, enhex, debase and enbase,
// and size?.
//
// Every entry works in the frame's first argument cell, which is also its
// result cell. The floating-point natives read an integer! or percent!
// argument as the double it stands for (50% as 0.5) and leave a float!. The
// C library's functions run with every floating-point exception masked, so
// an argument out of a function's domain gives an infinity or NaN, never a
// fault.
//
// Angles are in degrees unless /radians is used. Degrees are folded into
// -180..180 and then by the symmetry of each function before they become
// radians (runtime::degrees_to_radians), so the angles where a function is
// exactly 0 or infinite come out exact: sine 180 is 0.0 and tangent 90 is
// infinite, not 1.2246e-16 and 1.633e16.
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/binary_codecs.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/money.h"
#include "datatypes/none.h"
#include "datatypes/pair.h"
#include "datatypes/point2d.h"
#include "datatypes/point3d.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/url.h"
#include "datatypes/word.h"
#include "evaluator/native_arguments.h"
#include "evaluator/natives.h"
#include "evaluator/natives_families.h"
#include "runtime/stack.h"
#include "io/file_system.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/runtime.h"

namespace kel::natives_math {

namespace {

using namespace native_arguments;

constexpr double kPi = 3.141592653589793;
// Below this magnitude a sine or cosine is taken as exactly 0 (the rounding
// noise of pi in the argument).
constexpr double kSineNoise = 2.220446049250313e-16;
constexpr double kLogOf2 = 0.6931471805599453;
constexpr double kE = 2.718281828459045;

// The folding modes of runtime::degrees_to_radians.
constexpr int kTangentFold = 0;
constexpr int kCosineFold = 1;
constexpr int kSineFold = 2;

// Accepted argument types, for entries called with check_types.
Cell signed_types;     // number! money! time!
Cell zero_types;       // number! money! pair! time! char! tuple! any-point!
Cell number_types;     // number!
Cell integer_types;    // integer!
Cell angle_types;      // float! integer!
Cell logarithm_types;  // float! integer! percent!
Cell text_types;       // any-string!
Cell string_types;     // string!
Cell enbase_types;     // binary! string!
Cell file_types;       // file!

// The double an integer!, float!, percent! or time! argument stands for.
inline double number_of(const Cell& value) {
  return value.is(TYPE_INTEGER) ? static_cast<double>(value.int_at2()) : value.as_double();
}

// --- Sign tests ----------------------------------------------------------------------------

// -1, 0 or 1 for a value of the sign tests' types (NaN is 0); any other type
// raises expect-arg naming the native and its argument.
int32_t sign_of(int index) {
  const Cell& value = *argument(index);
  switch (value.type()) {
    case TYPE_MONEY:
      return money::sign(value);
    case TYPE_INTEGER:
      return value.int_at2() > 0 ? 1 : value.int_at2() < 0 ? -1 : 0;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: {
      double number = value.as_double();
      return number > 0.0 ? 1 : number < 0.0 ? -1 : 0;
    }
    default:
      check(signed_types, index);  // raises: every accepted type is handled above
      return 0;
  }
}

void negative_q(bool, const int32_t*) { logic::box(sign_of(0) < 0); }
void positive_q(bool, const int32_t*) { logic::box(sign_of(0) > 0); }
void sign_q(bool, const int32_t*) { stack::set_last(integer::make(sign_of(0))); }

void zero_q(bool check_types, const int32_t*) {
  if (check_types) check(zero_types, 0);
  const Cell& value = *argument(0);
  bool zero = false;
  switch (value.type()) {
    case TYPE_MONEY: zero = money::zero_amount_q(value); break;
    case TYPE_CHAR:
    case TYPE_INTEGER: zero = value.int_at2() == 0; break;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: zero = value.as_double() == 0.0; break;  // -0.0 too; never NaN
    case TYPE_PAIR: zero = pair::x_of(value) == 0 && pair::y_of(value) == 0; break;
    case TYPE_POINT2D: zero = point2d::x_of(value) == 0.0f && point2d::y_of(value) == 0.0f; break;
    case TYPE_POINT3D:
      zero = point3d::x_of(value) == 0.0f && point3d::y_of(value) == 0.0f && point3d::z_of(value) == 0.0f;
      break;
    case TYPE_TUPLE: zero = tuple::zero_q(value); break;
    default: break;
  }
  logic::box(zero);
}

void nan_q(bool check_types, const int32_t*) {
  if (check_types) check(number_types, 0);
  const Cell& value = *argument(0);
  logic::box(!value.is(TYPE_INTEGER) && float_type::nan_q(value.as_double()));
}

// --- Bits and hexadecimal ----------------------------------------------------------------------

// Refinements: /left, /logical (/left wins). A negative count shifts by 0;
// 32 bits or more shift everything out.
void shift(bool check_types, const int32_t* refinements) {
  if (check_types) {
    check(integer_types, 0);
    check(integer_types, 1);
  }
  int32_t data = argument(0)->int_at2();
  int32_t bits = argument(1)->int_at2();
  if (bits < 0) bits = 0;
  auto pattern = static_cast<uint32_t>(data);
  int32_t result;
  if (used(refinements[0])) {
    result = bits >= 32 ? 0 : static_cast<int32_t>(pattern << bits);
  } else if (used(refinements[1])) {
    result = bits >= 32 ? 0 : static_cast<int32_t>(pattern >> bits);
  } else if (bits >= 32) {
    result = data < 0 ? -1 : 0;
  } else {
    result = data >> bits;  // arithmetic: the sign bit fills from the top
  }
  stack::set_last(integer::make(result));
}

// Refinement: /size length. The issue of the value's eight hexadecimal
// digits, or of the last length of them.
void to_hex(bool check_types, const int32_t* refinements) {
  int32_t size_at = refinements[0];
  if (check_types) {
    check(integer_types, 0);
    if (used(size_at)) check(integer_types, size_at);
  }
  std::string digits = string::to_hex(argument(0)->int_at2(), false);
  if (used(size_at)) {
    int32_t length = argument(size_at)->int_at2();
    if (length <= 0) fire(ErrorId::script_invalid_arg, argument(size_at));
    if (length < static_cast<int32_t>(digits.size())) digits.erase(0, digits.size() - static_cast<size_t>(length));
  }
  issue::make_at(argument(0), digits.c_str());
}

// --- Trigonometry ----------------------------------------------------------------------------------

// The angle argument in radians: degrees are folded for the function first.
double angle_argument(bool check_types, int32_t radians, int fold) {
  if (check_types) check(angle_types, 0);
  double angle = number_of(*argument(0));
  return used(radians) ? angle : runtime::degrees_to_radians(angle, fold);
}

// Rounding noise around a zero of sine or cosine becomes exactly zero.
inline double without_noise(double value) { return std::fabs(value) < kSineNoise ? 0.0 : value; }

// Refinement of each: /radians.
void sine(bool check_types, const int32_t* refinements) {
  float_type::set_result(without_noise(std::sin(angle_argument(check_types, refinements[0], kSineFold))));
}

void cosine(bool check_types, const int32_t* refinements) {
  float_type::set_result(without_noise(std::cos(angle_argument(check_types, refinements[0], kCosineFold))));
}

// tan of the double nearest pi/2 is a large finite number; the exact
// quarter turn is taken as the pole it stands for.
void tangent(bool check_types, const int32_t* refinements) {
  double angle = angle_argument(check_types, refinements[0], kTangentFold);
  double result;
  if (angle == kPi / 2.0) result = HUGE_VAL;
  else if (angle == -kPi / 2.0) result = -HUGE_VAL;
  else result = std::tan(angle);
  float_type::set_result(result);
}

// The inverse functions answer in degrees unless /radians is used.
template <double (*Inverse)(double)>
void arc(bool check_types, const int32_t* refinements) {
  if (check_types) check(angle_types, 0);
  double result = Inverse(number_of(*argument(0)));
  if (!used(refinements[0])) result = result * 180.0 / kPi;
  float_type::set_result(result);
}

double arcsine_of(double value) { return std::asin(value); }
double arccosine_of(double value) { return std::acos(value); }
double arctangent_of(double value) { return std::atan(value); }

void arctangent2(bool check_types, const int32_t* refinements) {
  if (check_types) {
    check(angle_types, 0);
    check(angle_types, 1);
  }
  double result = std::atan2(number_of(*argument(0)), number_of(*argument(1)));
  if (!used(refinements[0])) result *= 180.0 / kPi;
  float_type::set_result(result);
}

// --- Logarithms ------------------------------------------------------------------------------------

template <double (*Function)(double)>
void logarithm(bool check_types, const int32_t*) {
  if (check_types) check(logarithm_types, 0);
  float_type::set_result(Function(number_of(*argument(0))));
}

double log_2_of(double value) { return std::log(value) / kLogOf2; }
double log_10_of(double value) { return std::log10(value); }
double log_e_of(double value) { return std::log(value); }
double exp_of(double value) { return std::pow(kE, value); }

// --- Percent encoding -------------------------------------------------------------------------------

// A new string! holding the argument's text from its index with its %XX
// escapes decoded, whatever the argument's string type.
void dehex(bool check_types, const int32_t*) {
  if (check_types) check(text_types, 0);
  const Cell* source = argument(0);
  Cell* decoded = string::push_new(string::rs_length(source));
  url::dehex(source, decoded);
  stack::set_last(*decoded);
}

// A new string! of the argument's UTF-8 bytes with every byte outside the
// keep set escaped: a string! keeps only the unreserved characters, the
// other string types also the URL punctuation.
void enhex(bool check_types, const int32_t*) {
  if (check_types) check(text_types, 0);
  const Cell* source = argument(0);
  int32_t mode = source->is(TYPE_STRING) ? url::kUnreservedMode : url::kUrlMode;
  Cell* encoded = string::push_new(string::rs_length(source));
  url::enhex(source, encoded, mode);
  stack::set_last(*encoded);
}

// --- Base encodings --------------------------------------------------------------------------------

// The base of debase and enbase: base-value with /base, else 64; a base
// without a codec raises invalid-arg with it.
int32_t base_argument(int32_t base_at) {
  if (!used(base_at)) return 64;
  int32_t base = argument(base_at)->int_at2();
  if (base != 64 && base != 58 && base != 16 && base != 2) fire(ErrorId::script_invalid_arg, argument(base_at));
  return base;
}

// Refinement: /base base-value. Text that is not valid in the base gives none.
void debase(bool check_types, const int32_t* refinements) {
  int32_t base_at = refinements[0];
  if (check_types) {
    check(string_types, 0);
    if (used(base_at)) check(integer_types, base_at);
  }
  int32_t base = base_argument(base_at);
  Cell text = *argument(0);
  none::set_result();
  NodeId decoded;
  {
    // The decoder allocates its result while it reads the text.
    Pin pinned(series::node_of(text));
    uint32_t count = string::rs_length(&text);
    uint8_t* start = string::rs_head(&text);
    decoded = binary::decode_base(base, start, count, string::buffer_of(&text)->unit());
  }
  if (decoded != 0) stack::set_last(binary::make_value(decoded));
}

// The room the encoded text may take for count bytes (the writers need no
// more than this); beyond 32 bits the content is too long.
uint32_t encoded_room(int32_t base, uint64_t count) {
  uint64_t room = 0;
  switch (base) {
    case 64: room = 4 * (count / 3) + (4 * (count % 3)) / 3 + 2 * (count / 32) + 5; break;
    case 58: room = 2 * count; break;
    case 16: room = 2 * count + count / 32 + 32; break;
    default: room = 8 * count + 2 * (count / 8) + 4; break;
  }
  if (room > UINT32_MAX) fire(ErrorId::script_too_long);
  return static_cast<uint32_t>(room);
}

char* encode(int32_t base, char* output, const uint8_t* bytes, uint32_t count) {
  switch (base) {
    case 64: return binary::encode_base64(output, bytes, count);
    case 58: return binary::encode_base58(output, bytes, count);
    case 16: return binary::encode_base16(output, bytes, count);
    default: return binary::encode_base2(output, bytes, count);
  }
}

// Refinement: /base base-value. The bytes of a binary! from its index, or
// the UTF-8 encoding of a string! from its index, as a new string!.
void enbase(bool check_types, const int32_t* refinements) {
  int32_t base_at = refinements[0];
  if (check_types) {
    check(enbase_types, 0);
    if (used(base_at)) check(integer_types, base_at);
  }
  int32_t base = base_argument(base_at);
  Cell value = *argument(0);
  std::string utf8;
  if (value.is(TYPE_STRING)) utf8 = string::to_std_string(value);
  uint32_t count = value.is(TYPE_STRING) ? static_cast<uint32_t>(utf8.size()) : binary::rs_length(&value);
  Cell* text = string::push_new(encoded_room(base, count));
  // No allocation between reading the two addresses and the writing.
  const uint8_t* bytes = value.is(TYPE_STRING) ? reinterpret_cast<const uint8_t*>(utf8.data()) : binary::rs_head(&value);
  SeriesBuffer* buffer = string::buffer_of(text);
  char* start = reinterpret_cast<char*>(buffer->head_ptr());
  char* end = encode(base, start, bytes, count);
  buffer->tail = buffer->offset + static_cast<uint32_t>(end - start);
  stack::set_last(*text);
}

// --- Files ----------------------------------------------------------------------------------------

// A folder (a path ending in a slash) has no content size, and a file that
// cannot be opened or measured gives none. A size beyond the integer range
// comes as a float.
void size_q(bool check_types, const int32_t*) {
  if (check_types) check(file_types, 0);
  Cell* path = argument(0);
  uint32_t length = string::rs_length(path);
  if (length > 0 && string::rs_abs_at(path, series::index_of(*path) + length - 1) == '/') {
    none::set_result();
    return;
  }
  int64_t size = file_system::content_size(*path);
  if (size < 0) none::set_result();
  else if (size <= INT32_MAX) stack::set_last(integer::make(static_cast<int32_t>(size)));
  else stack::set_last(float_type::make(static_cast<double>(size)));
}

}  // namespace

void init() {
  signed_types = typeset_of({{TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT, TYPE_MONEY, TYPE_TIME}});
  zero_types = typeset_of({{TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT, TYPE_MONEY, TYPE_PAIR, TYPE_TIME, TYPE_CHAR,
                            TYPE_TUPLE, TYPE_POINT2D, TYPE_POINT3D}});
  number_types = typeset_of({{TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT}});
  integer_types = typeset_of({{TYPE_INTEGER}});
  angle_types = typeset_of({{TYPE_FLOAT, TYPE_INTEGER}});
  logarithm_types = typeset_of({{TYPE_FLOAT, TYPE_INTEGER, TYPE_PERCENT}});
  text_types = typeset_of({kAnyString});
  string_types = typeset_of({{TYPE_STRING}});
  enbase_types = typeset_of({{TYPE_BINARY, TYPE_STRING}});
  file_types = typeset_of({{TYPE_FILE}});

  using natives::Native;
  natives::install(Native::dehex, dehex);
  natives::install(Native::enhex, enhex);
  natives::install(Native::negative_q, negative_q);
  natives::install(Native::positive_q, positive_q);
  natives::install(Native::shift, shift);
  natives::install(Native::to_hex, to_hex);
  natives::install(Native::sine, sine);
  natives::install(Native::cosine, cosine);
  natives::install(Native::tangent, tangent);
  natives::install(Native::arcsine, arc<arcsine_of>);
  natives::install(Native::arccosine, arc<arccosine_of>);
  natives::install(Native::arctangent, arc<arctangent_of>);
  natives::install(Native::arctangent2, arctangent2);
  natives::install(Native::nan_q, nan_q);
  natives::install(Native::log_2, logarithm<log_2_of>);
  natives::install(Native::log_10, logarithm<log_10_of>);
  natives::install(Native::log_e, logarithm<log_e_of>);
  natives::install(Native::exp, logarithm<exp_of>);
  natives::install(Native::debase, debase);
  natives::install(Native::enbase, enbase);
  natives::install(Native::sign_q, sign_q);
  natives::install(Native::zero_q, zero_q);
  natives::install(Native::size_q, size_q);
}

}  // namespace kel::natives_math
