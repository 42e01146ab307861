// point3D!: three single-precision floats written (x, y, z).
//
// Cell: type 52; data1 x, data2 y, data3 z as IEEE single-precision bits.
// The twin of point2D! (point2d.h) with a third axis: arithmetic takes an
// integer!, a float!, a percent! or a point3D! on the right, make also
// accepts a point2D! or a pair! (z 0), reverse swaps x and z, and only a
// point3D! compares with a point3D!. The shared handlers are in
// point_common.h.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kel::point3d {

Cell make(double x, double y, double z);
float x_of(const Cell& point);
float y_of(const Cell& point);
float z_of(const Cell& point);

// The lexer's and the serializer's constructor (the new-line flag kept).
Cell* set_cell(Cell* cell, double x, double y, double z);
// Appends a new point3D! to the block.
Cell* make_in_block(const Cell* block, double x, double y, double z);
// Pushes a new point3D! on the evaluation stack.
Cell* push(double x, double y, double z);
// An integer! or float! as a coordinate (rounded to single precision).
float get_coordinate(const Cell& number);
// 1, 2 or 3 for the words x, y and z (any letter case), 0 otherwise.
int32_t get_axis(const Cell& word);

// The arithmetic worker: slot 0 (a point3D!) := slot 0 op slot 1.
Cell* do_math(int32_t op);

// Registers point3D! (id 52, no parent).
void init();

}  // namespace kel::point3d
