// point2D!: the two-axis instance of the shared point handlers (see
// point2d.h and point_common.h).
#include "datatypes/point2d.h"

#include "datatypes/point_common.h"

namespace kel::point2d {

Cell make(double x, double y) { return point_common::make_point<2>({x, y, 0.0}); }
float x_of(const Cell& point) { return point_common::axis_value(point, 0); }
float y_of(const Cell& point) { return point_common::axis_value(point, 1); }

Cell* set_cell(Cell* cell, double x, double y) { return point_common::set_cell<2>(cell, {x, y, 0.0}); }
Cell* make_in_block(const Cell* block, double x, double y) { return append_value(block, make(x, y)); }
Cell* push(double x, double y) { return stack::push(make(x, y)); }

float get_coordinate(const Cell& number) { return static_cast<float>(point_common::coordinate(number)); }
int32_t get_axis(const Cell& word) { return point_common::axis_of_word<2>(word); }

Cell* do_math(int32_t op) { return point_common::do_math<2>(op); }

void init() { point_common::register_point<2>("point2D!"); }

}  // namespace kel::point2d
