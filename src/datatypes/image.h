// image!: a raster of 32-bit pixels that behaves as a series of pixels in
// row-major order.
//
// Cell: type 53, data1 the index in pixels from the top-left pixel, data2
// the image node, data3 the size word (width in bits 0-15, height in bits
// 16-31). Every image has a node, an empty one (width or height 0) too, so
// the series code it shares never meets node 0.
//
// The node is a series buffer of unit 4 whose content is the pixels, one
// word A << 24 | R << 16 | G << 8 | B per pixel (bytes B, G, R, A in
// memory, A the opacity), rows of width words with no padding, top row
// first; 16 bytes in front of the content hold the size word, so the node
// alone says how large it is. A node never changes its size: a bound taken
// from the cell stays true after Kel code ran, only the pixel address must be
// read again. The pixels live in series memory, so the collector frees an
// image as it frees any series; no resource of the operating system is held.
//
// Colours cross to the language as tuples R.G.B.T with T = 255 - A.
// Width and height are at most 65535; sizes and offsets are computed in 64
// bits.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::image {

constexpr uint32_t kMaxSide = 65535;

// Formats of extract_data and set_data.
enum DataFormat : int32_t { kAlpha = 0, kRgb = 1, kArgb = 2 };

inline uint32_t width_of(const Cell& image) { return image.data3 & 0xFFFF; }
inline uint32_t height_of(const Cell& image) { return image.data3 >> 16; }
inline uint64_t area_of(const Cell& image) { return uint64_t{width_of(image)} * height_of(image); }
inline uint32_t size_word(uint32_t width, uint32_t height) { return width | (height << 16); }

// The size word a node keeps in front of its pixels: the node's own size,
// whatever a cell over it says.
inline uint32_t size_word_of(NodeId node) {
  uint32_t word;
  std::memcpy(&word, memory::buffer_of(node)->data(), sizeof word);
  return word;
}

// The pixel words of a node; the address is good until the next allocation.
inline uint32_t* pixels_of(NodeId node) { return reinterpret_cast<uint32_t*>(memory::buffer_of(node)->head_ptr()); }
inline uint32_t* pixels_of(const Cell& image) { return pixels_of(image.data2); }

// A tuple R.G.B.T of a pixel word, and the pixel word of a tuple (a 3-byte
// tuple is opaque).
Cell pixel_to_tuple(uint32_t pixel);
uint32_t tuple_to_pixel(const Cell& tuple);

// A new node of width x height pixels, every pixel the given word. A side
// above 65535 raises script invalid-arg with the size as a pair; a size past
// the series limit raises internal no-memory.
NodeId make_node(uint32_t width, uint32_t height, uint32_t fill);
// The cell of an image over a node, at index 0, its size from the node.
Cell* init_cell(Cell* cell, NodeId node);
// A new image! of the pixels (width x height words), pushed on the stack.
Cell* push_pixels(uint32_t width, uint32_t height, const uint32_t* pixels);
// The pixels of an image as a vector (for encoders, which may not touch
// series memory while they run).
std::vector<uint32_t> copy_pixels(const Cell& image);

// A new binary! of the whole image in the format (the index plays no part).
Cell extract_data(const Cell& image, DataFormat format);
// Writes a binary!, tuple! or integer! into every pixel in the format;
// anything else raises script invalid-arg.
void set_data(const Cell& image, const Cell& value, DataFormat format);

// A new image! of the whole image scaled to width x height, nearest
// neighbour, pushed on the stack (for a GUI backend). A side above 65535 or
// below 0 raises script invalid-arg with the size as a pair.
Cell* push_resized(const Cell& image, int64_t width, int64_t height);

// The pixel at an absolute offset as a tuple (for the series code).
Cell pixel_at(const Cell& image, uint64_t offset);

void init();

}  // namespace kel::image

namespace kel::image {

// The codecs' bridge (image_coding.cpp).
// A new image! of the first frame of the binary's bytes (from its index),
// or none when they carry no known signature; bytes of a known format that
// do not decode raise access bad-media.
Cell decode_binary(const Cell& binary);
// A new binary! of the image encoded in the format (the codes of the codec
// routines: 0 BMP, 1 PNG, 2 GIF, 3 JPEG, 4 TIFF). An image of no pixels
// at all (0x0) raises access bad-media; one with a single side 0 encodes to
// an empty binary.
Cell encode(const Cell& image, int32_t format);

}  // namespace kel::image
