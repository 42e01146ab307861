// pair!: two signed 32-bit integers written NxM (width x height, column x
// row), the sizes and positions of images and of the GUI.
//
// Cell: type 37; data1 unused; data2 x, data3 y (two's complement).
// Arithmetic is componentwise integer arithmetic (add, subtract, multiply,
// divide, remainder, or~, and~, xor~) with an integer!, a pair!, or a
// float!/percent! truncated toward zero; the moment a component result is
// no longer an integer (an overflow, a division that is not exact) the
// whole operation is redone in floating point as a point2D!, so
// 2147483647x0 + 1x0 is the point (2147483648.0, 0.0), never a wrapped
// pair. A float multiplier or divisor gives a point2D! at once. An integer
// on the left arrives here from integer!'s arithmetic with the operands
// swapped (n - p as -p + n).
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kel::pair {

inline Cell make(int32_t x, int32_t y) {
  return make_cell(TYPE_PAIR, 0, static_cast<uint32_t>(x), static_cast<uint32_t>(y));
}
inline int32_t x_of(const Cell& pair) { return static_cast<int32_t>(pair.data2); }
inline int32_t y_of(const Cell& pair) { return static_cast<int32_t>(pair.data3); }

// The lexer's constructor: sets the cell to the pair (new-line flag kept).
Cell* set_cell(Cell* cell, int32_t x, int32_t y);
// Appends a new pair! to the block.
Cell* make_in_block(const Cell* block, int32_t x, int32_t y);
// Pushes a new pair! on the evaluation stack.
Cell* push(int32_t x, int32_t y);
// Converts the pair in the cell, in place, into a point2D! (each axis
// rounded to single precision).
void to_point2d(Cell* cell);
// The integer, or the float truncated toward zero (script invalid-arg when
// it is not finite or leaves the 32-bit range).
int32_t get_coordinate(const Cell& number);
// 1 for the word x, 2 for y (any letter case); 0 for any other word.
int32_t get_axis(const Cell& word);

// The arithmetic worker: slot 0 (a pair) := slot 0 op slot 1 of the frame.
Cell* do_math(int32_t op);

// Action handlers.
Cell* make(Cell* proto, Cell* spec, TypeId type);
Cell* random(Cell* value, int seed, int secure, int only);
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item,
                int32_t index, bool case_sensitive, bool get, bool tail);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
Cell* absolute();
Cell* add();
Cell* divide();
Cell* multiply();
Cell* negate(Cell* pair);
Cell* remainder();
Cell* round(Cell* value, int to, int even, int down, int half_down, int floor, int ceiling,
            int half_ceiling);
Cell* subtract();
Cell* and_t();
Cell* or_t();
Cell* xor_t();
Cell* pick(Cell* pair, int32_t index, Cell* boxed);
Cell* reverse(Cell* pair, int part, int skip);

// Registers pair! (id 37, no parent).
void init();

}  // namespace kel::pair
