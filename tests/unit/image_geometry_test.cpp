// Image geometry: vectors, sides and distances, rotation, point in
// quadrilateral, crop, the warp, the YUY2 conversion and transform, and
// hostile coordinates (degenerate shapes, zero-length edges, NaN and huge
// values), which count as outside and never reach undefined arithmetic.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "datatypes/image.h"
#include "datatypes/image_geometry.h"
#include "datatypes/pair.h"
#include "runtime/stack.h"
#include "value_types_helpers.h"

namespace kel {
namespace {

using geometry::Point;
using geometry::Quad;

constexpr float kNan = std::numeric_limits<float>::quiet_NaN();

Quad square(float side) { return Quad{Point{0, 0}, Point{side, 0}, Point{side, side}, Point{0, side}}; }

TEST(ImageGeometry, VectorsSidesAndDistances) {
  geometry::Vector v = geometry::rotate(geometry::Vector{1, 0}, 90);
  EXPECT_NEAR(v.x, 0.0, 1e-9);
  EXPECT_NEAR(v.y, 1.0, 1e-9);
  geometry::Vector n = geometry::normalize(geometry::Vector{3, 4});
  EXPECT_DOUBLE_EQ(n.x, 0.6);
  EXPECT_DOUBLE_EQ(n.y, 0.8);
  // A zero-length vector stays zero instead of dividing by its length.
  geometry::Vector zero = geometry::normalize(geometry::Vector{0, 0});
  EXPECT_EQ(zero.x, 0.0);
  EXPECT_EQ(zero.y, 0.0);
  EXPECT_DOUBLE_EQ(geometry::distance_to_line(Point{0, 5}, Point{-1, 0}, Point{1, 0}), 5.0);
  EXPECT_EQ(geometry::distance_to_line(Point{0, 5}, Point{1, 1}, Point{1, 1}), 0.0);
  EXPECT_TRUE(geometry::side_positive(Point{0, -1}, Point{0, 0}, Point{1, 0}));
  EXPECT_TRUE(geometry::side_negative(Point{0, 1}, Point{0, 0}, Point{1, 0}));
}

TEST(ImageGeometry, PointInQuadCountsEdgesInsideAndDegenerateShapesEmpty) {
  Quad q = square(10);
  EXPECT_TRUE(geometry::point_in_quad(q, Point{5, 5}));
  EXPECT_TRUE(geometry::point_in_quad(q, Point{0, 5}));   // on an edge
  EXPECT_TRUE(geometry::point_in_quad(q, Point{10, 10})); // a corner
  EXPECT_FALSE(geometry::point_in_quad(q, Point{11, 5}));
  // Listed counter-clockwise on screen: no point is inside.
  Quad reversed{q[0], q[3], q[2], q[1]};
  EXPECT_FALSE(geometry::point_in_quad(reversed, Point{5, 5}));
  // No area, a zero-length edge, NaN anywhere: outside.
  Quad flat{Point{0, 0}, Point{10, 0}, Point{20, 0}, Point{5, 0}};
  EXPECT_FALSE(geometry::point_in_quad(flat, Point{5, 0}));
  Quad collapsed{Point{0, 0}, Point{0, 0}, Point{10, 10}, Point{0, 10}};
  EXPECT_FALSE(geometry::point_in_quad(collapsed, Point{1, 5}));
  EXPECT_FALSE(geometry::point_in_quad(q, Point{kNan, 5}));
  Quad with_nan{Point{0, 0}, Point{kNan, 0}, Point{10, 10}, Point{0, 10}};
  EXPECT_FALSE(geometry::point_in_quad(with_nan, Point{1, 5}));
}

TEST(ImageGeometry, CropCutsToTheSourceAndRefusesAStartOutside) {
  std::vector<uint32_t> source = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  std::vector<uint32_t> out;
  int32_t w = 0, h = 0;
  ASSERT_TRUE(geometry::crop(source.data(), 3, 3, 1, 1, 5, 5, &out, &w, &h));
  EXPECT_EQ(w, 2);
  EXPECT_EQ(h, 2);
  EXPECT_EQ(out, (std::vector<uint32_t>{5, 6, 8, 9}));
  EXPECT_FALSE(geometry::crop(source.data(), 3, 3, 3, 0, 1, 1, &out, &w, &h));
  EXPECT_FALSE(geometry::crop(source.data(), 3, 3, -1, 0, 1, 1, &out, &w, &h));
}

TEST(ImageGeometry, WarpOntoTheSourceRectangleKeepsThePixels) {
  std::vector<uint32_t> source(16);
  for (uint32_t k = 0; k < 16; ++k) source[k] = 0xFF000000u | k * 0x101010u;
  std::optional<geometry::Warped> warped = geometry::warp_to_size(source.data(), 4, 4, 4, 4);
  ASSERT_TRUE(warped.has_value());
  ASSERT_EQ(warped->pixels.size(), 16u);
  // Single-precision rounding may take a byte one lower.
  for (size_t k = 0; k < 16; ++k)
    for (int byte = 0; byte < 4; ++byte) {
      int a = (source[k] >> (8 * byte)) & 255, b = (warped->pixels[k] >> (8 * byte)) & 255;
      EXPECT_LE(std::abs(a - b), 1) << "pixel " << k;
    }
}

TEST(ImageGeometry, WarpGivesNothingForHostilePointsAndAnEmptyBoxForATinyOne) {
  std::vector<uint32_t> source(4, 0xFFFFFFFFu);
  Quad with_nan = square(10);
  with_nan[2].x = kNan;
  EXPECT_FALSE(geometry::warp(source.data(), 2, 2, with_nan).has_value());
  Quad huge = square(3.0e38f);
  EXPECT_FALSE(geometry::warp(source.data(), 2, 2, huge).has_value());
  Quad infinite = square(std::numeric_limits<float>::infinity());
  EXPECT_FALSE(geometry::warp(source.data(), 2, 2, infinite).has_value());
  EXPECT_FALSE(geometry::warp(source.data(), 0, 2, square(10)).has_value());
  std::optional<geometry::Warped> tiny = geometry::warp(source.data(), 2, 2, square(0.5f));
  ASSERT_TRUE(tiny.has_value());
  EXPECT_EQ(tiny->width, 0);
  EXPECT_EQ(tiny->height, 0);
  // A degenerate shape has a box but no pixel inside it.
  Quad flat{Point{0, 0}, Point{10, 0}, Point{20, 0}, Point{5, 0}};
  std::optional<geometry::Warped> none_inside = geometry::warp(source.data(), 2, 2, flat);
  ASSERT_TRUE(none_inside.has_value());
  EXPECT_EQ(none_inside->height, 0);
}

TEST(ImageGeometry, Yuy2GreyAndColourInTheImagesByteOrder) {
  const uint8_t grey[] = {128, 128, 128, 128};
  uint32_t pixels[2] = {};
  geometry::yuy2_to_pixels(2, 1, grey, pixels);
  EXPECT_EQ(pixels[0], 0xFF808080u);
  EXPECT_EQ(pixels[1], 0xFF808080u);
  // Full red chroma: R rises, B falls; the word is A R G B from the top.
  const uint8_t reddish[] = {100, 128, 100, 255};
  geometry::yuy2_to_pixels(2, 1, reddish, pixels);
  EXPECT_EQ((pixels[0] >> 16) & 255, 255u);  // 100 + 178, clamped
  EXPECT_EQ(pixels[0] & 255, 100u);          // no blue difference
  EXPECT_EQ(pixels[0] >> 24, 255u);
}

class ImageTransformTest : public value_types_testing::LiteralTest {};

TEST_F(ImageTransformTest, OnePointPlacesTheImageAndCrossedPointsFlipIt) {
  stack::Guard guard;
  Cell image;
  image::init_cell(&image, image::make_node(2, 2, 0xFF102030u));
  stack::push(image);
  std::optional<geometry::Transformed> placed = geometry::transform(image, std::nullopt, {pair::make(5, 7)});
  ASSERT_TRUE(placed.has_value());
  EXPECT_EQ(placed->left, 5);
  EXPECT_EQ(placed->top, 7);
  EXPECT_EQ(placed->width, 2);
  EXPECT_EQ(placed->height, 2);
  EXPECT_EQ(image::pixels_of(placed->image)[0], 0xFF102030u);
  std::optional<geometry::Transformed> flipped =
      geometry::transform(image, std::nullopt, {pair::make(4, 0), pair::make(0, 4)});
  ASSERT_TRUE(flipped.has_value());
  EXPECT_EQ(flipped->width, -4);
  EXPECT_EQ(flipped->height, 4);
  EXPECT_FALSE(geometry::transform(image, std::nullopt, {}).has_value());
  EXPECT_FALSE(geometry::transform(image, geometry::CropRect{5, 5, 1, 1}, {pair::make(0, 0)}).has_value());
}

TEST_F(ImageTransformTest, ResizeTakesTheNearestPixelAndRefusesSidesPastTheLimit) {
  stack::Guard guard;
  Cell image;
  image::init_cell(&image, image::make_node(2, 1, 0xFF000000u));
  stack::push(image);
  image::pixels_of(image)[1] = 0xFFFFFFFFu;
  Cell* doubled = image::push_resized(image, 4, 2);
  EXPECT_EQ(image::width_of(*doubled), 4u);
  EXPECT_EQ(image::height_of(*doubled), 2u);
  const uint32_t* p = image::pixels_of(*doubled);
  EXPECT_EQ(std::vector<uint32_t>(p, p + 8), (std::vector<uint32_t>{0xFF000000u, 0xFF000000u, 0xFFFFFFFFu, 0xFFFFFFFFu,
                                                                   0xFF000000u, 0xFF000000u, 0xFFFFFFFFu, 0xFFFFFFFFu}));
  EXPECT_EQ(testing::catch_error([&] { image::push_resized(image, 65536, 1); }), ErrorId::script_invalid_arg);
  EXPECT_EQ(testing::catch_error([&] { image::push_resized(image, 1, -1); }), ErrorId::script_invalid_arg);
}

}  // namespace
}  // namespace kel
