// point3D!: the three-axis instance of the shared point handlers (see
// point3d.h and point_common.h).
#include "datatypes/point3d.h"

#include "datatypes/point_common.h"

namespace kel::point3d {

Cell make(double x, double y, double z) { return point_common::make_point<3>({x, y, z}); }
float x_of(const Cell& point) { return point_common::axis_value(point, 0); }
float y_of(const Cell& point) { return point_common::axis_value(point, 1); }
float z_of(const Cell& point) { return point_common::axis_value(point, 2); }

Cell* set_cell(Cell* cell, double x, double y, double z) { return point_common::set_cell<3>(cell, {x, y, z}); }
Cell* make_in_block(const Cell* block, double x, double y, double z) { return append_value(block, make(x, y, z)); }
Cell* push(double x, double y, double z) { return stack::push(make(x, y, z)); }

float get_coordinate(const Cell& number) { return static_cast<float>(point_common::coordinate(number)); }
int32_t get_axis(const Cell& word) { return point_common::axis_of_word<3>(word); }

Cell* do_math(int32_t op) { return point_common::do_math<3>(op); }

void init() { point_common::register_point<3>("point3D!"); }

}  // namespace kel::point3d
