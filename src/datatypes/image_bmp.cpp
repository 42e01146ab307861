// BMP, our own reader and writer. The reader takes the core header (12
// bytes) and the info headers of 40 bytes and more, depths 1, 4 and 8 with a
// palette, 16, 24 and 32 without, BI_RGB and BITFIELDS (and the alpha
// variant of BITFIELDS), rows bottom-up or top-down (negative height). A
// 32-bit BI_RGB file is opaque (its fourth byte is padding); a channel of a
// bit mask is widened to 8 bits by repeating its bits. Every offset and length is
// checked against the bytes before it is read: the rows must lie whole in
// the file. Run-length coded files (RLE8 and RLE4, bottom-up) are read too:
// pixels the runs skip take palette entry 0, and runs past the right edge or
// the last row are cut; a run that the bytes do not hold whole fails.
//
// The writer writes 32 bits per pixel, BITFIELDS with an alpha mask in a
// version-4 header, bottom-up, so alpha survives.
#include <cstring>

#include "datatypes/image_codecs.h"

namespace kel::image_codecs {

namespace {

constexpr uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitfields = 3, kAlphaBitfields = 6;

uint32_t u16(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8; }
uint32_t u32(const uint8_t* p) { return u16(p) | u16(p + 2) << 16; }

void put16(std::vector<uint8_t>* out, uint32_t v) {
  out->push_back(static_cast<uint8_t>(v));
  out->push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>* out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

// One channel of a bit mask, scaled to 0..255.
struct Channel {
  uint32_t mask = 0;
  uint32_t shift = 0;
  int bits = 0;  // the channel's width (0: absent)

  explicit Channel(uint32_t m) : mask(m) {
    if (m == 0) return;
    while (((m >> shift) & 1) == 0) ++shift;
    for (uint32_t rest = m >> shift; rest & 1; rest >>= 1) ++bits;
  }
  // The value's bits repeated down from the top of a byte, so that 0 and
  // the largest value map to 0 and 255.
  uint32_t value(uint32_t pixel, uint32_t absent) const {
    if (bits == 0) return absent;
    uint32_t v = (pixel & mask) >> shift;
    if (bits >= 8) return (v >> (bits - 8)) & 255;
    uint32_t out = 0;
    for (int at = 8 - bits;; at -= bits) {
      if (at <= 0) return (out | (v >> -at)) & 255;
      out |= v << at;
    }
  }
};

// The palette indexes of a run-length coded bitmap, bottom row first;
// false when the codes run past the bytes.
bool expand_runs(const uint8_t* b, size_t size, uint64_t at, uint32_t depth, int64_t width, int64_t height,
                 std::vector<uint8_t>* indexes) {
  int64_t x = 0, y = 0;
  auto put = [&](uint32_t index) {
    if (x < width && y < height) (*indexes)[static_cast<size_t>(y * width + x)] = static_cast<uint8_t>(index);
    ++x;
  };
  while (y < height) {
    if (at + 2 > size) return false;
    uint32_t count = b[at], value = b[at + 1];
    at += 2;
    if (count > 0) {
      for (uint32_t k = 0; k < count; ++k) put(depth == 8 ? value : (k % 2 == 0 ? value >> 4 : value & 15));
      continue;
    }
    if (value == 0) {  // end of line
      x = 0;
      ++y;
    } else if (value == 1) {  // end of bitmap
      return true;
    } else if (value == 2) {  // move right and up
      if (at + 2 > size) return false;
      x += b[at];
      y += b[at + 1];
      at += 2;
    } else {  // value pixels as they are, padded to 16 bits
      uint64_t bytes = depth == 8 ? value : (value + 1) / 2;
      if (at + bytes > size) return false;
      for (uint32_t k = 0; k < value; ++k)
        put(depth == 8 ? b[at + k] : (k % 2 == 0 ? b[at + k / 2] >> 4 : b[at + k / 2] & 15));
      at += (bytes + 1) & ~uint64_t{1};
    }
  }
  return true;
}

}  // namespace

std::optional<Raster> decode_bmp(const uint8_t* b, size_t size) {
  if (size < 26 || b[0] != 'B' || b[1] != 'M') return std::nullopt;
  uint64_t data_offset = u32(b + 10);
  uint64_t header = u32(b + 14);
  if (header < 12 || 14 + header > size) return std::nullopt;
  int64_t width, height;
  uint32_t depth, compression = kRgb, colours_used = 0;
  uint64_t palette_entry = 4;
  if (header == 12) {
    width = u16(b + 18);
    height = u16(b + 20);
    depth = u16(b + 24);
    palette_entry = 3;
  } else {
    if (header < 40) return std::nullopt;
    width = static_cast<int32_t>(u32(b + 18));
    height = static_cast<int32_t>(u32(b + 22));
    depth = u16(b + 28);
    compression = u32(b + 30);
    colours_used = u32(b + 46);
  }
  bool top_down = height < 0;
  if (top_down) height = -height;
  bool runs = (compression == kRle8 && depth == 8) || (compression == kRle4 && depth == 4);
  // A run of two bytes paints up to 255 pixels; moves and line ends may skip
  // more, but a coded bitmap that sparse is left to the bound's margin.
  uint64_t pixels_per_byte = runs ? 1024 : 8;
  if (width <= 0 || !plausible(static_cast<uint64_t>(width), static_cast<uint64_t>(height), size, pixels_per_byte))
    return std::nullopt;
  if (runs && top_down) return std::nullopt;
  bool palette_depth = depth == 1 || depth == 4 || depth == 8;
  if (!palette_depth && depth != 16 && depth != 24 && depth != 32) return std::nullopt;
  uint32_t masks[4] = {0, 0, 0, 0};
  uint64_t after_header = 14 + header;
  if (compression == kBitfields || compression == kAlphaBitfields) {
    if (depth != 16 && depth != 32) return std::nullopt;
    uint64_t count = compression == kAlphaBitfields ? 4 : 3;
    if (header >= 52) {
      for (uint64_t i = 0; i < 3; ++i) masks[i] = u32(b + 54 + 4 * i);
      if (header >= 56) masks[3] = u32(b + 66);
    } else {
      // The masks follow a 40-byte header.
      if (after_header + 4 * count > size) return std::nullopt;
      for (uint64_t i = 0; i < count; ++i) masks[i] = u32(b + after_header + 4 * i);
      after_header += 4 * count;
    }
  } else if (compression != kRgb && !runs) {
    return std::nullopt;
  } else if (depth == 16) {
    masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
  } else if (depth == 24 || depth == 32) {
    masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
  }
  std::vector<uint32_t> palette;
  if (palette_depth) {
    uint64_t count = colours_used == 0 ? (uint64_t{1} << depth) : colours_used;
    if (count > (uint64_t{1} << depth)) return std::nullopt;
    if (after_header + count * palette_entry > size) return std::nullopt;
    for (uint64_t i = 0; i < count; ++i) {
      const uint8_t* e = b + after_header + i * palette_entry;
      palette.push_back(0xFF000000u | uint32_t{e[2]} << 16 | uint32_t{e[1]} << 8 | e[0]);
    }
  }
  if (data_offset > size) return std::nullopt;
  Raster raster;
  raster.width = static_cast<uint32_t>(width);
  raster.height = static_cast<uint32_t>(height);
  raster.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
  if (runs) {
    std::vector<uint8_t> indexes(raster.pixels.size(), 0);
    if (!expand_runs(b, size, data_offset, depth, width, height, &indexes)) return std::nullopt;
    for (int64_t row = 0; row < height; ++row)
      for (int64_t x = 0; x < width; ++x) {
        uint32_t index = indexes[static_cast<size_t>(row * width + x)];
        raster.pixels[static_cast<size_t>((height - 1 - row) * width + x)] =
            index < palette.size() ? palette[index] : 0xFF000000u;
      }
    return raster;
  }
  uint64_t stride = (static_cast<uint64_t>(width) * depth + 31) / 32 * 4;
  if (stride * static_cast<uint64_t>(height) > size - data_offset) return std::nullopt;
  Channel red(masks[0]), green(masks[1]), blue(masks[2]), alpha(masks[3]);
  for (int64_t row = 0; row < height; ++row) {
    const uint8_t* in = b + data_offset + static_cast<uint64_t>(row) * stride;
    int64_t y = top_down ? row : height - 1 - row;
    uint32_t* out = raster.pixels.data() + y * width;
    for (int64_t x = 0; x < width; ++x) {
      uint32_t pixel;
      if (palette_depth) {
        uint64_t bit = static_cast<uint64_t>(x) * depth;
        uint32_t index = (in[bit / 8] >> (8 - depth - bit % 8)) & ((1u << depth) - 1);
        // An index past the palette is black, as the format's readers have it.
        pixel = index < palette.size() ? palette[index] : 0xFF000000u;
      } else {
        uint32_t word = depth == 16   ? u16(in + 2 * x)
                        : depth == 24 ? uint32_t{in[3 * x]} | uint32_t{in[3 * x + 1]} << 8 | uint32_t{in[3 * x + 2]} << 16
                                      : u32(in + 4 * x);
        pixel = alpha.value(word, 255) << 24 | red.value(word, 0) << 16 | green.value(word, 0) << 8 | blue.value(word, 0);
      }
      out[x] = pixel;
    }
  }
  return raster;
}

std::optional<std::vector<uint8_t>> encode_bmp(const Raster& raster) {
  constexpr uint32_t kHeader = 108;
  uint64_t pixels = uint64_t{raster.width} * raster.height * 4;
  uint64_t offset = 14 + kHeader;
  std::vector<uint8_t> out;
  out.reserve(offset + pixels);
  out.push_back('B');
  out.push_back('M');
  put32(&out, static_cast<uint32_t>(offset + pixels));
  put32(&out, 0);
  put32(&out, static_cast<uint32_t>(offset));
  put32(&out, kHeader);
  put32(&out, raster.width);
  put32(&out, raster.height);
  put16(&out, 1);
  put16(&out, 32);
  put32(&out, kBitfields);
  put32(&out, static_cast<uint32_t>(pixels));
  put32(&out, 2835);  // 72 dots per inch, in dots per metre
  put32(&out, 2835);
  put32(&out, 0);
  put32(&out, 0);
  put32(&out, 0x00FF0000);
  put32(&out, 0x0000FF00);
  put32(&out, 0x000000FF);
  put32(&out, 0xFF000000);
  put32(&out, 0x73524742);  // the sRGB colour space
  out.resize(out.size() + 36 + 12, 0);  // end points and gamma, unused under sRGB
  for (uint32_t row = raster.height; row-- > 0;) {
    const uint8_t* in = reinterpret_cast<const uint8_t*>(raster.pixels.data() + size_t{row} * raster.width);
    out.insert(out.end(), in, in + size_t{raster.width} * 4);
  }
  return out;
}

}  // namespace kel::image_codecs
