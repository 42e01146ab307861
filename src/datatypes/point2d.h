// point2D!: two single-precision floats written (x, y), the positions and
// vectors of drawing and of the GUI, and what pair! arithmetic becomes
// once a result stops being an integer.
//
// Cell: type 51; data1 x and data2 y as IEEE single-precision bits; data3
// 0. Arithmetic takes an integer!, a float!, a percent!, a pair! or a
// point2D! on the right (a number on the left arrives here from integer!
// and float! arithmetic with the operands swapped) and is IEEE arithmetic
// done in double precision, each axis stored back as a single: dividing
// by zero gives infinities, never an error. = and <> compare each axis
// within 10 units in the last place; == compares exactly. The shared
// handlers are in point_common.h.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kel::point2d {

Cell make(double x, double y);
float x_of(const Cell& point);
float y_of(const Cell& point);

// The lexer's and the serializer's constructor: sets the cell to the point
// (each axis rounded to single precision; the new-line flag kept).
Cell* set_cell(Cell* cell, double x, double y);
// Appends a new point2D! to the block.
Cell* make_in_block(const Cell* block, double x, double y);
// Pushes a new point2D! on the evaluation stack.
Cell* push(double x, double y);
// An integer! or float! as a coordinate (rounded to single precision).
float get_coordinate(const Cell& number);
// 1 for the word x, 2 for y (any letter case), 0 for anything else.
int32_t get_axis(const Cell& word);

// The arithmetic worker: slot 0 (a point2D!) := slot 0 op slot 1 of the
// frame (op 0 add, 1 subtract, 2 multiply, 3 divide, 4 remainder).
Cell* do_math(int32_t op);

// Registers point2D! (id 51, no parent).
void init();

}  // namespace kel::point2d
