// integer!: the language's signed 32-bit integer.
//
// Cell: type 11, data2 the value (two's complement); data1 and data3 carry
// nothing. The range is -2147483648 .. 2147483647; the minimum has no
// positive counterpart, so negate and absolute refuse it (math overflow)
// while add, subtract and multiply that leave the range answer a float!
// holding the exact sum, difference or product (as a double), and a
// division that is not exact answers the float quotient.
//
// The arithmetic core, do_math_op, is shared with char!, vector!, pair! and
// tuple! element arithmetic; do_math is the body of the eight arithmetic and
// bitwise actions and hands an operation whose right operand is another
// number-like type to that type (through the action table).
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/cell.h"
#include "runtime/checked_math.h"

namespace kel::integer {

inline Cell make(int32_t value) { return make_cell(TYPE_INTEGER, 0, static_cast<uint32_t>(value)); }
inline int32_t get(const Cell& cell) { return cell.int_at2(); }
// Replaces the value, keeping the cell's header.
inline void set(Cell* cell, int32_t value) { cell->data2 = static_cast<uint32_t>(value); }

// Pushes a new integer! on the evaluation stack.
Cell* push(int32_t value);
// Makes the current frame's result cell an integer!.
Cell* box(int32_t value);
// Retypes the cell as integer! holding the value (flags kept).
Cell* make_at(Cell* cell, int32_t value);
// Appends an integer! to the block.
Cell* make_in(const Cell* block, int32_t value);
// data2 of the frame's result cell; the same but 0 unless it is an integer!.
int32_t get_result();
int32_t get_result_any();

inline int32_t sign(int32_t value) { return (value > 0) - (value < 0); }
// |value|; the minimum raises math overflow.
int32_t absolute_value(int32_t value);
// True when the float! (or percent!, time!) cell's double, truncated toward
// zero, is not a 32-bit integer (NaN and the infinities included).
bool out_of_range_q(const Cell& number);

// The decimal text of a value, in the caller's own buffer.
struct SignedText {
  char text[12];
  int32_t length;
  std::string_view view() const { return {text, static_cast<size_t>(length)}; }
};
SignedText form_signed(int32_t value);

// One operation on two integers. add, subtract and multiply whose exact
// result leaves the range, and a divide that is not exact, make the result
// cell a float! holding the double result; otherwise the result cell's
// data2 receives the integer (its type is left as it is) and the integer is
// returned. With a null result cell, divide truncates and a result that
// leaves the range raises math overflow. Division and remainder by zero
// raise math zero-divide; the minimum by -1 raises math overflow. An
// operator code outside 0..7 ends the process with runtime error 101.
int32_t do_math_op(int32_t left, int32_t right, int32_t op, Cell* result);

// The action body of add ... xor~: the frame's first cell (an integer) and
// second cell are the operands, the result replaces the first cell.
Cell* do_math(int32_t op);

// Calls the handler that the owner's type registered for the action of the
// operator, on the current frame as it stands (the way mixed arithmetic
// hands an operation over once the operands are in the order that type
// expects). A type with no such handler raises script expect-arg.
Cell* dispatch_math(int32_t op, const Cell& owner);

// round on an integer! cell (the round action's body, also for callers
// that decoded the refinements themselves). A float!, percent! or time!
// scale continues as a float rounding; a result outside the 32-bit range
// raises math overflow.
Cell* round_value(Cell* value, const RoundRefinements& refinements);

void init();

}  // namespace kel::integer
