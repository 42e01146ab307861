// PNG through libpng: every colour type, bit depth and interlacing is
// expanded to 8-bit BGRA (palette and transparency chunks to alpha, 16-bit
// samples scaled with rounding, grey to RGB); the encoder writes 8-bit RGBA,
// or RGB when every pixel is opaque.
//
// libpng reports errors by longjmp back to the setjmp in read_into and
// write_into. Those two functions hold no C++ object of their own across the
// jump: the buffers they fill belong to their callers, and the libpng
// structures are destroyed on both ways out.
//
// libpng is opened at the first PNG, and every call goes through the table
// taken from it; png.h gives the types only. Its png_jmpbuf macro is spelled
// out below, since it names the library's function directly.
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <string>

#include "datatypes/image_codecs.h"
#include "runtime/shared_library.h"

namespace kel::image_codecs {

namespace {

// The libpng functions the adapter calls, typed as png.h declares them.
struct Libpng {
  decltype(&png_create_read_struct) create_read_struct;
  decltype(&png_create_write_struct) create_write_struct;
  decltype(&png_create_info_struct) create_info_struct;
  decltype(&png_destroy_read_struct) destroy_read_struct;
  decltype(&png_destroy_write_struct) destroy_write_struct;
  decltype(&png_set_longjmp_fn) set_longjmp_fn;
  decltype(&png_longjmp) longjmp_to;
  decltype(&png_error) error;
  decltype(&png_get_io_ptr) get_io_ptr;
  decltype(&png_set_read_fn) set_read_fn;
  decltype(&png_set_write_fn) set_write_fn;
  decltype(&png_set_user_limits) set_user_limits;
  decltype(&png_set_chunk_malloc_max) set_chunk_malloc_max;
  decltype(&png_read_info) read_info;
  decltype(&png_get_image_width) get_image_width;
  decltype(&png_get_image_height) get_image_height;
  decltype(&png_get_color_type) get_color_type;
  decltype(&png_set_expand) set_expand;
  decltype(&png_set_scale_16) set_scale_16;
  decltype(&png_set_gray_to_rgb) set_gray_to_rgb;
  decltype(&png_set_bgr) set_bgr;
  decltype(&png_set_filler) set_filler;
  decltype(&png_set_interlace_handling) set_interlace_handling;
  decltype(&png_read_update_info) read_update_info;
  decltype(&png_get_rowbytes) get_rowbytes;
  decltype(&png_read_image) read_image;
  decltype(&png_read_end) read_end;
  decltype(&png_set_IHDR) set_IHDR;
  decltype(&png_write_info) write_info;
  decltype(&png_write_image) write_image;
  decltype(&png_write_end) write_end;
};

// The file of the libpng whose png.h this adapter was built with.
const std::string kLibraryFile =
    "libpng" + std::to_string(PNG_LIBPNG_VER_DLLNUM) + ".so." + std::to_string(PNG_LIBPNG_VER_SONUM);

const Libpng* open_libpng() {
  SharedLibrary library(kLibraryFile.c_str());
  static Libpng functions;
  library.take(&functions.create_read_struct, "png_create_read_struct");
  library.take(&functions.create_write_struct, "png_create_write_struct");
  library.take(&functions.create_info_struct, "png_create_info_struct");
  library.take(&functions.destroy_read_struct, "png_destroy_read_struct");
  library.take(&functions.destroy_write_struct, "png_destroy_write_struct");
  library.take(&functions.set_longjmp_fn, "png_set_longjmp_fn");
  library.take(&functions.longjmp_to, "png_longjmp");
  library.take(&functions.error, "png_error");
  library.take(&functions.get_io_ptr, "png_get_io_ptr");
  library.take(&functions.set_read_fn, "png_set_read_fn");
  library.take(&functions.set_write_fn, "png_set_write_fn");
  library.take(&functions.set_user_limits, "png_set_user_limits");
  library.take(&functions.set_chunk_malloc_max, "png_set_chunk_malloc_max");
  library.take(&functions.read_info, "png_read_info");
  library.take(&functions.get_image_width, "png_get_image_width");
  library.take(&functions.get_image_height, "png_get_image_height");
  library.take(&functions.get_color_type, "png_get_color_type");
  library.take(&functions.set_expand, "png_set_expand");
  library.take(&functions.set_scale_16, "png_set_scale_16");
  library.take(&functions.set_gray_to_rgb, "png_set_gray_to_rgb");
  library.take(&functions.set_bgr, "png_set_bgr");
  library.take(&functions.set_filler, "png_set_filler");
  library.take(&functions.set_interlace_handling, "png_set_interlace_handling");
  library.take(&functions.read_update_info, "png_read_update_info");
  library.take(&functions.get_rowbytes, "png_get_rowbytes");
  library.take(&functions.read_image, "png_read_image");
  library.take(&functions.read_end, "png_read_end");
  library.take(&functions.set_IHDR, "png_set_IHDR");
  library.take(&functions.write_info, "png_write_info");
  library.take(&functions.write_image, "png_write_image");
  library.take(&functions.write_end, "png_write_end");
  return library.complete() ? &functions : nullptr;
}

// libpng, opened once; raises when it cannot be.
const Libpng& libpng() {
  static const Libpng* opened = open_libpng();
  if (opened == nullptr) library_missing(kLibraryFile.c_str());
  return *opened;
}

// What png_jmpbuf gives: the jump buffer libpng's error path returns to.
jmp_buf& jump_buffer(const Libpng& api, png_structp png) {
  return *api.set_longjmp_fn(png, std::longjmp, sizeof(jmp_buf));
}

// PNG packs at most 8 one-bit pixels into a byte of the filtered data, and
// deflate at most 1032 of those into a byte of the file.
constexpr uint64_t kPixelsPerByte = 8 * 1032;

struct Source {
  const uint8_t* bytes;
  size_t size;
  size_t position;
};

void read_bytes(png_structp png, png_bytep out, size_t count) {
  const Libpng& api = libpng();
  auto* source = static_cast<Source*>(api.get_io_ptr(png));
  if (count > source->size - source->position) api.error(png, "truncated");
  std::memcpy(out, source->bytes + source->position, count);
  source->position += count;
}

void write_bytes(png_structp png, png_bytep data, size_t count) {
  const Libpng& api = libpng();
  auto* out = static_cast<std::vector<uint8_t>*>(api.get_io_ptr(png));
  out->insert(out->end(), data, data + count);
}

void flush_nothing(png_structp) {}
void quiet_warning(png_structp, png_const_charp) {}
[[noreturn]] void raise_error(png_structp png, png_const_charp) {
  libpng().longjmp_to(png, 1);
  std::abort();  // png_longjmp never returns; its pointer's type cannot say so
}

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
  const Libpng& api = libpng();
  png_structp png = api.create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, raise_error, quiet_warning);
  if (png == nullptr) return false;
  png_infop info = api.create_info_struct(png);
  if (info == nullptr || setjmp(jump_buffer(api, png))) {
    api.destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  api.set_read_fn(png, source, read_bytes);
  api.set_user_limits(png, 65535, 65535);
  // Compressed text inflates to no more than the file holds.
  api.set_chunk_malloc_max(png, source->size + 1);
  api.read_info(png, info);
  png_uint_32 width = api.get_image_width(png, info);
  png_uint_32 height = api.get_image_height(png, info);
  if (!plausible(width, height, source->size, kPixelsPerByte)) api.error(png, "size");
  int colour_type = api.get_color_type(png, info);
  api.set_expand(png);
  api.set_scale_16(png);
  if (colour_type == PNG_COLOR_TYPE_GRAY || colour_type == PNG_COLOR_TYPE_GRAY_ALPHA) api.set_gray_to_rgb(png);
  api.set_bgr(png);
  api.set_filler(png, 0xFF, PNG_FILLER_AFTER);
  api.set_interlace_handling(png);
  api.read_update_info(png, info);
  if (api.get_rowbytes(png, info) != size_t{width} * 4) api.error(png, "layout");
  raster->width = width;
  raster->height = height;
  raster->pixels.resize(size_t{width} * height);
  rows->resize(height);
  for (png_uint_32 y = 0; y < height; ++y)
    (*rows)[y] = reinterpret_cast<png_bytep>(raster->pixels.data() + size_t{y} * width);
  api.read_image(png, rows->data());
  api.read_end(png, nullptr);
  api.destroy_read_struct(&png, &info, nullptr);
  return true;
}

bool write_into(const Raster* raster, bool opaque, std::vector<uint8_t>* out, std::vector<png_bytep>* rows) {
  const Libpng& api = libpng();
  png_structp png = api.create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, raise_error, quiet_warning);
  if (png == nullptr) return false;
  png_infop info = api.create_info_struct(png);
  if (info == nullptr || setjmp(jump_buffer(api, png))) {
    api.destroy_write_struct(&png, &info);
    return false;
  }
  api.set_write_fn(png, out, write_bytes, flush_nothing);
  api.set_IHDR(png, info, raster->width, raster->height, 8, opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  api.write_info(png, info);
  api.set_bgr(png);
  if (opaque) api.set_filler(png, 0, PNG_FILLER_AFTER);  // the alpha byte of each pixel is left out
  api.write_image(png, rows->data());
  api.write_end(png, nullptr);
  api.destroy_write_struct(&png, &info);
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
