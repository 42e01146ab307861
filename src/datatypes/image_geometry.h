// Plane geometry on pixel buffers, for a GUI backend that draws images:
// vectors, the side of a point relative to an edge, rotation, mirroring,
// point in quadrilateral, cropping, a quadrilateral warp with bilinear
// sampling, the YUY2 camera-frame conversion, and transform, which draws an
// image onto one to four points.
//
// Pixels are the 32-bit words of image! (rows of width words, top row
// first); the warp treats the four bytes of a pixel alike. A quadrilateral's
// points are top-left, top-right, bottom-right, bottom-left in screen
// coordinates (y grows downward).
//
// Hostile coordinates are outside, never undefined: a quadrilateral with a
// zero-length edge or no area contains no point; NaN, infinite or huge
// coordinates make a warp give nothing; no float is turned into an integer
// unless it is known to fit, and no ratio divides by zero.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "runtime/cell.h"

namespace kel::geometry {

struct Vector {
  double x = 0.0;
  double y = 0.0;
};

struct Point {
  float x = 0.0f;
  float y = 0.0f;
};

using Quad = std::array<Point, 4>;

Vector vector_between(float ax, float ay, float bx, float by);
double vector_length(Vector v);
// The vector divided by its length; a zero-length vector stays (0, 0).
Vector normalize(Vector v);
double cross(Vector a, Vector b);
double dot(Vector a, Vector b);
// cross(P - A, B - A) below or above 0.
bool side_negative(Point p, Point a, Point b);
bool side_positive(Point p, Point a, Point b);
// The distance from P to the line through A and B; 0 when A is B.
double distance_to_line(Point p, Point a, Point b);
// The vector rotated by the angle in degrees.
Vector rotate(Vector v, int32_t degrees);
// Each point's x (or y) becomes 2c - x (or 2c - y), in single precision.
void mirror_x(Quad* quad, float c);
void mirror_y(Quad* quad, float c);
// True when P lies inside or on the edges; always false for a degenerate
// quadrilateral or a coordinate that is not finite.
bool point_in_quad(const Quad& quad, Point p);

// Copies the rectangle at (x, y), cut to the source, into destination rows
// of the cut width; false (nothing copied) when (x, y) lies outside.
bool crop(const uint32_t* source, int32_t source_width, int32_t source_height, int32_t x, int32_t y,
          int32_t width, int32_t height, std::vector<uint32_t>* destination, int32_t* cut_width,
          int32_t* cut_height);

struct Warped {
  std::vector<uint32_t> pixels;  // width x height, 0 outside the shape
  int32_t left = 0;
  int32_t top = 0;
  int32_t width = 0;
  int32_t height = 0;
};

// The source mapped onto the quadrilateral by distance ratios to opposite
// edges, placed in its bounding box; nothing for an empty source, a
// coordinate that is not finite or a box beyond 65535 pixels a side.
std::optional<Warped> warp(const uint32_t* source, int32_t source_width, int32_t source_height, const Quad& quad);
// The warp onto (0,0)-(width,height), when it has exactly that size.
std::optional<Warped> warp_to_size(const uint32_t* source, int32_t source_width, int32_t source_height,
                                   int32_t width, int32_t height);

// A YUY2 frame (Y0 U Y1 V for each pair of pixels, full-range BT.601) to
// pixel words; pixels_per_row is even.
void yuy2_to_pixels(uint32_t pixels_per_row, uint32_t rows, const uint8_t* yuy2, uint32_t* pixels);

// The image drawn onto one to four points (pair! or point2D! values): one
// point places it unscaled, two give the top-left and bottom-right corners,
// three the top-left, top-right and bottom-left of a parallelogram, four the
// top-left, top-right, bottom-left and bottom-right. crop, when given, is
// the position and size of the part of the image to draw. The result is a
// new image! and its placement; a width or height is negative when the
// points flipped the image that way. Nothing for another count of points or
// a warp that gives nothing.
struct Transformed {
  Cell image;
  int32_t left = 0;
  int32_t top = 0;
  int32_t width = 0;
  int32_t height = 0;
};
struct CropRect {
  int32_t x, y, width, height;
};
std::optional<Transformed> transform(const Cell& image, std::optional<CropRect> crop, const std::vector<Cell>& points);

}  // namespace kel::geometry
