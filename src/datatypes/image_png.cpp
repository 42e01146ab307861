// PNG through libpng: every colour type, bit depth and interlacing is
// expanded to 8-bit BGRA (palette and transparency chunks to alpha, 16-bit
// samples scaled with rounding, grey to RGB); the encoder writes 8-bit RGBA,
// or RGB when every pixel is opaque.
//
// libpng reports errors by longjmp back to the setjmp in read_into and
// write_into. Those two functions hold no C++ object of their own across the
// jump: the buffers they fill belong to their callers, and the libpng
// structures are destroyed on both ways out.
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>

#include "datatypes/image_codecs.h"

namespace kel::image_codecs {

namespace {

// PNG packs at most 8 one-bit pixels into a byte of the filtered data, and
// deflate at most 1032 of those into a byte of the file.
constexpr uint64_t kPixelsPerByte = 8 * 1032;

struct Source {
  const uint8_t* bytes;
  size_t size;
  size_t position;
};

void read_bytes(png_structp png, png_bytep out, size_t count) {
  auto* source = static_cast<Source*>(png_get_io_ptr(png));
  if (count > source->size - source->position) png_error(png, "truncated");
  std::memcpy(out, source->bytes + source->position, count);
  source->position += count;
}

void write_bytes(png_structp png, png_bytep data, size_t count) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + count);
}

void flush_nothing(png_structp) {}
void quiet_warning(png_structp, png_const_charp) {}
[[noreturn]] void raise_error(png_structp png, png_const_charp) { png_longjmp(png, 1); }

// Whether every chunk up to IEND lies whole in the bytes: libpng sizes its
// buffer for an ancillary chunk by the chunk's length field before it reads
// the data, so a length that the file cannot hold is refused here first.
bool chunks_fit(const uint8_t* bytes, size_t size) {
  size_t at = 8;
  while (at + 12 <= size) {
    uint64_t length = uint64_t{bytes[at]} << 24 | uint64_t{bytes[at + 1]} << 16 | uint64_t{bytes[at + 2]} << 8 |
                      bytes[at + 3];
    if (length > size - at - 12) return false;
    if (std::memcmp(bytes + at + 4, "IEND", 4) == 0) return true;
    at += 12 + length;
  }
  return false;
}

// Fills the raster; false on any error. Rows are the raster's own rows.
bool read_into(Source* source, Raster* raster, std::vector<png_bytep>* rows) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, raise_error, quiet_warning);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, source, read_bytes);
  png_set_user_limits(png, 65535, 65535);
  // Compressed text inflates to no more than the file holds.
  png_set_chunk_malloc_max(png, source->size + 1);
  png_read_info(png, info);
  png_uint_32 width = png_get_image_width(png, info);
  png_uint_32 height = png_get_image_height(png, info);
  if (!plausible(width, height, source->size, kPixelsPerByte)) png_error(png, "size");
  int colour_type = png_get_color_type(png, info);
  png_set_expand(png);
  png_set_scale_16(png);
  if (colour_type == PNG_COLOR_TYPE_GRAY || colour_type == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  png_set_bgr(png);
  png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != size_t{width} * 4) png_error(png, "layout");
  raster->width = width;
  raster->height = height;
  raster->pixels.resize(size_t{width} * height);
  rows->resize(height);
  for (png_uint_32 y = 0; y < height; ++y)
    (*rows)[y] = reinterpret_cast<png_bytep>(raster->pixels.data() + size_t{y} * width);
  png_read_image(png, rows->data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

bool write_into(const Raster* raster, bool opaque, std::vector<uint8_t>* out, std::vector<png_bytep>* rows) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, raise_error, quiet_warning);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, out, write_bytes, flush_nothing);
  png_set_IHDR(png, info, raster->width, raster->height, 8, opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_set_bgr(png);
  if (opaque) png_set_filler(png, 0, PNG_FILLER_AFTER);  // the alpha byte of each pixel is left out
  png_write_image(png, rows->data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

std::optional<Raster> decode_png(const uint8_t* bytes, size_t size) {
  if (!chunks_fit(bytes, size)) return std::nullopt;
  Source source{bytes, size, 0};
  Raster raster;
  std::vector<png_bytep> rows;
  if (!read_into(&source, &raster, &rows)) return std::nullopt;
  return raster;
}

std::optional<std::vector<uint8_t>> encode_png(const Raster& raster) {
  std::vector<uint8_t> out;
  std::vector<png_bytep> rows(raster.height);
  for (uint32_t y = 0; y < raster.height; ++y)
    rows[y] = reinterpret_cast<png_bytep>(const_cast<uint32_t*>(raster.pixels.data()) + size_t{y} * raster.width);
  // An opaque image goes as RGB: a quarter less to filter and compress.
  bool opaque = std::all_of(raster.pixels.begin(), raster.pixels.end(), [](uint32_t p) { return (p >> 24) == 255; });
  if (!write_into(&raster, opaque, &out, &rows)) return std::nullopt;
  return out;
}

}  // namespace kel::image_codecs
