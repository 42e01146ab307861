// Plane geometry on pixel buffers (see image_geometry.h).
#include "datatypes/image_geometry.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "datatypes/image.h"
#include "datatypes/pair.h"
#include "datatypes/point2d.h"
#include "runtime/stack.h"

namespace kel::geometry {

namespace {

constexpr double kPi = 3.14159265359;
// Coordinates beyond this are refused by the warp: its box must fit the
// image limit anyway, and every integer conversion stays in range.
constexpr float kLargestCoordinate = 1.0e7f;

bool finite_point(Point p) { return std::isfinite(p.x) && std::isfinite(p.y); }

Vector from(Point a, Point b) { return vector_between(a.x, a.y, b.x, b.y); }

// Twice the signed area of the quadrilateral.
double signed_area(const Quad& q) {
  double sum = 0.0;
  for (int k = 0; k < 4; ++k) {
    const Point& a = q[k];
    const Point& b = q[(k + 1) % 4];
    sum += double{a.x} * b.y - double{b.x} * a.y;
  }
  return sum;
}

bool degenerate(const Quad& q) {
  for (int k = 0; k < 4; ++k) {
    if (!finite_point(q[k])) return true;
    Vector edge = from(q[k], q[(k + 1) % 4]);
    if (edge.x == 0.0 && edge.y == 0.0) return true;
  }
  double area = signed_area(q);
  return !std::isfinite(area) || area == 0.0;
}

// Truncates toward zero a float known to be finite and below the largest
// coordinate.
int32_t truncate(float v) { return static_cast<int32_t>(v); }

}  // namespace

Vector vector_between(float ax, float ay, float bx, float by) {
  return Vector{double{bx} - double{ax}, double{by} - double{ay}};
}

double vector_length(Vector v) { return std::sqrt(v.x * v.x + v.y * v.y); }

Vector normalize(Vector v) {
  double length = vector_length(v);
  if (!(length > 0.0) || !std::isfinite(length)) return Vector{};
  return Vector{v.x / length, v.y / length};
}

double cross(Vector a, Vector b) { return a.x * b.y - a.y * b.x; }
double dot(Vector a, Vector b) { return a.x * b.x + a.y * b.y; }

bool side_negative(Point p, Point a, Point b) { return cross(from(a, p), from(a, b)) < 0.0; }
bool side_positive(Point p, Point a, Point b) { return cross(from(a, p), from(a, b)) > 0.0; }

double distance_to_line(Point p, Point a, Point b) { return std::fabs(cross(from(a, p), normalize(from(a, b)))); }

Vector rotate(Vector v, int32_t degrees) {
  double radians = degrees * kPi / 180.0;
  double c = std::cos(radians), s = std::sin(radians);
  return Vector{v.x * c - v.y * s, v.x * s + v.y * c};
}

void mirror_x(Quad* quad, float c) {
  for (Point& p : *quad) p.x = static_cast<float>(2.0f * c - p.x);
}

void mirror_y(Quad* quad, float c) {
  for (Point& p : *quad) p.y = static_cast<float>(2.0f * c - p.y);
}

bool point_in_quad(const Quad& quad, Point p) {
  if (!finite_point(p) || degenerate(quad)) return false;
  for (int k = 0; k < 4; ++k)
    if (side_positive(p, quad[k], quad[(k + 1) % 4])) return false;
  return true;
}

bool crop(const uint32_t* source, int32_t source_width, int32_t source_height, int32_t x, int32_t y,
          int32_t width, int32_t height, std::vector<uint32_t>* destination, int32_t* cut_width,
          int32_t* cut_height) {
  if (x < 0 || y < 0 || x >= source_width || y >= source_height) return false;
  int32_t w = std::clamp(width, 0, source_width - x);
  int32_t h = std::clamp(height, 0, source_height - y);
  destination->resize(static_cast<size_t>(w) * static_cast<size_t>(h));
  for (int32_t row = 0; row < h; ++row)
    std::memcpy(destination->data() + static_cast<size_t>(row) * w,
                source + static_cast<size_t>(y + row) * source_width + x, static_cast<size_t>(w) * 4);
  *cut_width = w;
  *cut_height = h;
  return true;
}

std::optional<Warped> warp(const uint32_t* source, int32_t source_width, int32_t source_height, const Quad& quad) {
  if (source_width < 1 || source_height < 1) return std::nullopt;
  float min_x = std::numeric_limits<float>::max(), min_y = min_x;
  float max_x = -min_x, max_y = -min_x;
  for (const Point& p : quad) {
    if (!finite_point(p) || std::fabs(p.x) > kLargestCoordinate || std::fabs(p.y) > kLargestCoordinate)
      return std::nullopt;
    min_x = std::min(min_x, p.x), max_x = std::max(max_x, p.x);
    min_y = std::min(min_y, p.y), max_y = std::max(max_y, p.y);
  }
  Warped out;
  out.left = truncate(min_x);
  out.top = truncate(min_y);
  out.width = truncate(max_x - min_x);
  out.height = truncate(max_y - min_y);
  if (out.width > static_cast<int32_t>(image::kMaxSide) || out.height > static_cast<int32_t>(image::kMaxSide))
    return std::nullopt;
  out.pixels.assign(static_cast<size_t>(out.width) * static_cast<size_t>(out.height), 0);
  Vector edges[4];
  for (int k = 0; k < 4; ++k) edges[k] = normalize(from(quad[k], quad[(k + 1) % 4]));
  const float sw = static_cast<float>(source_width), sh = static_cast<float>(source_height);
  for (int32_t r = 0; r < out.height; ++r) {
    for (int32_t c = 0; c < out.width; ++c) {
      Point p{static_cast<float>(c + out.left), static_cast<float>(r + out.top)};
      if (!point_in_quad(quad, p)) continue;
      double d[4];
      for (int k = 0; k < 4; ++k) d[k] = std::fabs(cross(from(quad[k], p), edges[k]));
      if (!(d[3] + d[1] > 0.0) || !(d[0] + d[2] > 0.0)) continue;
      float u = static_cast<float>(d[3] / (d[3] + d[1])) * sw;
      float v = static_cast<float>(d[0] / (d[0] + d[2])) * sh;
      if (!(u >= 0.0f && u < sw && v >= 0.0f && v < sh)) continue;
      int32_t j = truncate(u), i = truncate(v);
      int32_t j1 = j + 1 == source_width ? j : j + 1;
      int32_t i1 = i + 1 == source_height ? i : i + 1;
      float fu = std::max(0.0f, u - static_cast<float>(j)), fv = std::max(0.0f, v - static_cast<float>(i));
      float weights[4] = {(1 - fu) * (1 - fv), fu * (1 - fv), (1 - fu) * fv, fu * fv};
      uint32_t samples[4] = {source[static_cast<size_t>(i) * source_width + j],
                             source[static_cast<size_t>(i) * source_width + j1],
                             source[static_cast<size_t>(i1) * source_width + j],
                             source[static_cast<size_t>(i1) * source_width + j1]};
      uint32_t pixel = 0;
      for (int byte = 0; byte < 4; ++byte) {
        float sum = 0.0f;
        for (int s = 0; s < 4; ++s) sum += weights[s] * static_cast<float>((samples[s] >> (8 * byte)) & 255);
        pixel |= static_cast<uint32_t>(std::clamp(sum, 0.0f, 255.0f)) << (8 * byte);
      }
      out.pixels[static_cast<size_t>(r) * out.width + c] = pixel;
    }
  }
  return out;
}

std::optional<Warped> warp_to_size(const uint32_t* source, int32_t source_width, int32_t source_height,
                                   int32_t width, int32_t height) {
  Quad quad{Point{0, 0}, Point{static_cast<float>(width), 0}, Point{static_cast<float>(width), static_cast<float>(height)},
            Point{0, static_cast<float>(height)}};
  std::optional<Warped> warped = warp(source, source_width, source_height, quad);
  if (!warped || warped->width != width || warped->height != height) return std::nullopt;
  return warped;
}

void yuy2_to_pixels(uint32_t pixels_per_row, uint32_t rows, const uint8_t* yuy2, uint32_t* pixels) {
  // 16.16 fixed point: 1.402, 0.714, 0.344136 and 1.772.
  constexpr int32_t kRed = 91881, kGreenV = 46792, kGreenU = 22554, kBlue = 116129;
  auto clamp = [](int32_t v) { return static_cast<uint32_t>(std::clamp(v, 0, 255)); };
  uint64_t pairs = uint64_t{pixels_per_row / 2} * rows;
  for (uint64_t k = 0; k < pairs; ++k) {
    const uint8_t* s = yuy2 + 4 * k;
    int32_t u = s[1] - 128, v = s[3] - 128;
    int32_t r = (v * kRed) >> 16;
    int32_t g = ((v * kGreenV) >> 16) + ((u * kGreenU) >> 16);
    int32_t b = (u * kBlue) >> 16;
    for (int half = 0; half < 2; ++half) {
      int32_t y = s[half * 2];
      // The image's own pixel word: A << 24 | R << 16 | G << 8 | B.
      pixels[2 * k + half] = 0xFF000000u | clamp(y + r) << 16 | clamp(y - g) << 8 | clamp(y + b);
    }
  }
}

std::optional<Transformed> transform(const Cell& image, std::optional<CropRect> crop_rect,
                                     const std::vector<Cell>& points) {
  int32_t w = static_cast<int32_t>(image::width_of(image)), h = static_cast<int32_t>(image::height_of(image));
  std::vector<uint32_t> pixels = image::copy_pixels(image);
  if (crop_rect) {
    std::vector<uint32_t> cropped;
    int32_t cw = 0, ch = 0;
    if (!crop(pixels.data(), w, h, crop_rect->x, crop_rect->y, crop_rect->width, crop_rect->height, &cropped, &cw,
              &ch))
      return std::nullopt;
    pixels.swap(cropped);
    w = cw;
    h = ch;
  }
  std::vector<Point> given;
  for (const Cell& p : points) {
    if (p.is(TYPE_PAIR)) given.push_back(Point{static_cast<float>(pair::x_of(p)), static_cast<float>(pair::y_of(p))});
    else if (p.is(TYPE_POINT2D)) given.push_back(Point{point2d::x_of(p), point2d::y_of(p)});
    else return std::nullopt;
  }
  Quad q;
  const float fw = static_cast<float>(w), fh = static_cast<float>(h);
  switch (given.size()) {
    case 1: q = {given[0], Point{given[0].x + fw, given[0].y}, Point{given[0].x + fw, given[0].y + fh},
                 Point{given[0].x, given[0].y + fh}}; break;
    case 2: q = {given[0], Point{given[1].x, given[0].y}, given[1], Point{given[0].x, given[1].y}}; break;
    case 3: q = {given[0], given[1], Point{given[1].x + given[2].x - given[0].x, given[1].y + given[2].y - given[0].y},
                 given[2]}; break;
    case 4: q = {given[0], given[1], given[3], given[2]}; break;
    default: return std::nullopt;
  }
  bool flip_x = q[0].x > q[1].x, flip_y = q[1].y > q[2].y;
  if (flip_x) mirror_x(&q, q[0].x);
  if (flip_y) mirror_y(&q, q[0].y);
  std::optional<Warped> warped = warp(pixels.data(), w, h, q);
  if (!warped) return std::nullopt;
  Transformed result;
  result.image = *image::push_pixels(static_cast<uint32_t>(warped->width), static_cast<uint32_t>(warped->height),
                                     warped->pixels.data());
  result.left = warped->left;
  result.top = warped->top;
  result.width = flip_x ? -warped->width : warped->width;
  result.height = flip_y ? -warped->height : warped->height;
  return result;
}

}  // namespace kel::geometry
