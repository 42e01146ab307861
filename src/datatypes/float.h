// float!: the IEEE 754 double of the language, and the number routines that
// percent! and time! share with it.
//
// Cell: type 12 (38 for percent!, 43 for time!), the double in data2 (low
// half) and data3 (high half); data1 carries nothing.
//
// Two texts: mold writes the shortest text that reads back to the same
// double (so a value survives a save and load), form the rounded g-style
// text people read, which with the pretty? option also hides the noise of
// a last binary digit (0.1 + 0.7 forms as 0.8). Equality (=) is tolerant:
// values within 10 units in the last place, or closer than 2^-52, are equal;
// strict equality (==) is exact. Arithmetic follows IEEE 754: division by
// zero gives an infinity or NaN, never an error.
#pragma once

#include <cstdint>
#include <cstring>

#include "runtime/cell.h"
#include "runtime/checked_math.h"
#include "runtime/float_text.h"

namespace kel::float_type {

inline Cell make(double value, TypeId type = TYPE_FLOAT) {
  Cell cell = make_cell(type);
  cell.set_double(value);
  return cell;
}
inline double get(const Cell& cell) { return cell.as_double(); }

// Pushes a new float! on the evaluation stack (from a double, or from its
// two 32-bit halves).
Cell* push(double value);
Cell* push64(uint32_t low, uint32_t high);
// Makes the current frame's result cell a float!.
Cell* set_result(double value);
// Appends a float! to the block.
Cell* make_in(const Cell* block, double value);

// All exponent bits set and a non-zero mantissa.
bool nan_q(double value);
// +infinity, -infinity or NaN.
bool special_q(double value);

// The text forms of a double by the kind of value that holds it (the
// percent kinds receive the value already multiplied by 100).
enum FormKind : int32_t {
  kFormFloat32 = 0,    // float32 elements of vector!
  kFormFloat = 1,      // float!
  kFormPercent32 = 2,  // percent32 elements of vector!
  kFormPercent = 3,    // percent!
  kFormTime = 4,       // the seconds of time!
  kFormPoint = 5,      // float32 coordinates of point2D! and point3D!
};
FloatText form_float(double value, FormKind kind);

// The pretty? float option (off until the system options turn it on).
void set_pretty(bool on);
bool pretty();

// The tolerant equality of = and <>: never for NaN; exact equality; a
// difference below 2^-52; or at most 10 units in the last place apart. An
// infinity equals only itself.
bool near_equal(double a, double b);
// The same on 32-bit floats (10 units of the 32-bit pattern).
bool near_equal32(float a, float b);

// The answer of a compare handler for two doubles under a comparison
// operator (the operand types already checked): 0 equal, -1 / 1 by order;
// equality operators use near_equal, strict-equal exact equality, same?
// identical bits. With a NaN operand the ordering operators are all false
// and the sort operators answer 0.
int32_t compare_numbers(double a, double b, int32_t op);
// A number compared with a value of a type that knows how to compare with
// numbers (money!): that type's compare handler answers for the swapped
// pair and the answer is turned around. -2 when that type has no handler.
int32_t compare_mirrored(Cell* value1, Cell* value2, int32_t op);

// The arithmetic of float!, percent! and time! (and of an integer! on the
// left with one of them on the right): the frame's first two cells are the
// operands, the result replaces the first. The result takes the left
// operand's type (integer! becomes float!), except that exactly one time!
// operand makes it a time!.
Cell* do_math(int32_t op);
// One operation on two doubles: IEEE add, subtract, multiply, divide, and
// fmod for remainder; any other operator raises script cannot-use.
double modulo(double x, double y, int32_t op);

// The power action's body: the frame's first cell (float!, percent! or
// time!) raised to the second (integer! or float!); the first keeps its
// type.
Cell* power();

// round on a float!, percent! or time! cell. With /to the result takes the
// scale's type (an integer! scale gives an integer!: a result outside the
// 32-bit range raises script out-of-range).
Cell* round_value(Cell* value, const RoundRefinements& refinements);

void init();

}  // namespace kel::float_type
