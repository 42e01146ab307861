// Checked number arithmetic shared by every number-like datatype.
//
// Integers are 32-bit two's complement. The machine operations wrap or trap
// at the edges (overflow, the minimum integer, which has no positive
// counterpart, and doubles outside the 32-bit range), so every datatype asks
// these helpers instead of doing its own sums: add, subtract and multiply
// report overflow and let the caller decide (integer! then answers a float!),
// while negation, absolute value, division and remainder at the minimum, and
// conversions of doubles whose result is visible, raise the catalog error
// rather than produce a wrong number. No helper here has undefined
// behaviour for any input.
//
// The arithmetic operator codes and the rounding refinements live here too,
// because integer!, char!, float!, percent! and the compound number types
// all pass them around.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "runtime/cell.h"
#include "runtime/errors.h"

namespace kel {

// The operator codes of the math routines of every number-like type.
enum MathOp : int32_t {
  kOpAdd = 0,
  kOpSubtract = 1,
  kOpMultiply = 2,
  kOpDivide = 3,
  kOpRemainder = 4,
  kOpOr = 5,
  kOpAnd = 6,
  kOpXor = 7,
};
constexpr int32_t kMathOpCount = 8;

// The refinements of round, decoded from the handler's plain integers. A
// null scale means no /to.
struct RoundRefinements {
  const Cell* scale = nullptr;
  bool even = false;
  bool down = false;
  bool half_down = false;
  bool floor = false;
  bool ceiling = false;
  bool half_ceiling = false;

  // Decodes the rounding flags a round handler receives as refinement
  // integers (-1 when absent); the scale is left to the caller, which knows
  // what its /to accepts.
  static RoundRefinements from_handler(int even, int down, int half_down, int floor, int ceiling,
                                       int half_ceiling) {
    RoundRefinements refinements;
    refinements.even = even >= 0;
    refinements.down = down >= 0;
    refinements.half_down = half_down >= 0;
    refinements.floor = floor >= 0;
    refinements.ceiling = ceiling >= 0;
    refinements.half_ceiling = half_ceiling >= 0;
    return refinements;
  }
};

namespace checked_math {

constexpr int32_t kMinInteger = std::numeric_limits<int32_t>::min();
constexpr int32_t kMaxInteger = std::numeric_limits<int32_t>::max();

// Each stores the 32-bit result and answers true when it is exact, false
// when the true result lies outside the range (the stored value is then
// meaningless).
inline bool add(int32_t a, int32_t b, int32_t* out) { return !__builtin_add_overflow(a, b, out); }
inline bool subtract(int32_t a, int32_t b, int32_t* out) { return !__builtin_sub_overflow(a, b, out); }
inline bool multiply(int32_t a, int32_t b, int32_t* out) { return !__builtin_mul_overflow(a, b, out); }

[[noreturn]] inline void overflow() { fire(ErrorId::math_overflow); }

inline int32_t negate(int32_t value) {
  if (value == kMinInteger) overflow();
  return -value;
}

inline int32_t absolute(int32_t value) {
  if (value == kMinInteger) overflow();
  return value < 0 ? -value : value;
}

// Truncated quotient; zero raises zero-divide, minimum / -1 overflow.
inline int32_t divide(int32_t a, int32_t b) {
  if (b == 0) fire(ErrorId::math_zero_divide);
  if (a == kMinInteger && b == -1) overflow();
  return a / b;
}

// Truncated remainder (its sign is the dividend's). The minimum by -1 would
// be 0 mathematically, but the machine division traps, and the operation
// is refused like the quotient it comes from.
inline int32_t remainder(int32_t a, int32_t b) {
  if (b == 0) fire(ErrorId::math_zero_divide);
  if (a == kMinInteger && b == -1) overflow();
  return a % b;
}

// A 64-bit intermediate narrowed back, raising overflow when it does not fit.
inline int32_t narrow(int64_t value) {
  if (value < kMinInteger || value > kMaxInteger) overflow();
  return static_cast<int32_t>(value);
}

// True when the double truncated toward zero is a 32-bit integer (NaN and
// the infinities never are).
inline bool truncates_to_integer(double value) {
  return value > -2147483649.0 && value < 2147483648.0;
}

// The double truncated toward zero; raises script out-of-range with the
// value cell when the result would not be a 32-bit integer.
inline int32_t truncate_to_integer(double value, const Cell& shown) {
  if (!truncates_to_integer(value)) fire(ErrorId::script_out_of_range, &shown);
  return static_cast<int32_t>(value);
}

}  // namespace checked_math
}  // namespace kel
