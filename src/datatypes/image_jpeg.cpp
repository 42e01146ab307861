// JPEG through libjpeg-turbo: baseline and progressive, grey, YCbCr and
// CMYK files decode to opaque BGRA (CMYK through the inverted samples
// Adobe's files carry, plain samples otherwise); the encoder writes YCbCr at
// quality 90 and drops the alpha.
//
// libjpeg reports errors through the error manager, whose exit jumps back to
// the setjmp in read_into or write_into; those functions keep no C++ object
// of their own across the jump, and destroy the codec on both ways out. A
// warning (data cut short, a corrupt segment) also fails the decode: the
// library would otherwise hand back a picture partly made up.
//
// libjpeg is opened at the first JPEG, and every call goes through the
// table taken from it; jpeglib.h gives the types only. Its create macros
// are spelled out below, since they name the library's functions directly.
// jpeglib.h needs size_t and FILE declared before it.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

#include <string>

#include "datatypes/image_codecs.h"
#include "runtime/shared_library.h"

namespace kel::image_codecs {

namespace {

// The libjpeg functions the adapter calls, typed as jpeglib.h declares them.
struct Libjpeg {
  decltype(&jpeg_std_error) std_error;
  decltype(&jpeg_CreateDecompress) create_decompress;
  decltype(&jpeg_CreateCompress) create_compress;
  decltype(&jpeg_destroy_decompress) destroy_decompress;
  decltype(&jpeg_destroy_compress) destroy_compress;
  decltype(&jpeg_mem_src) mem_src;
  decltype(&jpeg_mem_dest) mem_dest;
  decltype(&jpeg_read_header) read_header;
  decltype(&jpeg_start_decompress) start_decompress;
  decltype(&jpeg_read_scanlines) read_scanlines;
  decltype(&jpeg_finish_decompress) finish_decompress;
  decltype(&jpeg_set_defaults) set_defaults;
  decltype(&jpeg_set_quality) set_quality;
  decltype(&jpeg_start_compress) start_compress;
  decltype(&jpeg_write_scanlines) write_scanlines;
  decltype(&jpeg_finish_compress) finish_compress;
};

// The file of the libjpeg whose jpeglib.h this adapter was built with: the
// 6b interface is version 62, later ones their major version.
const std::string kLibraryFile =
    "libjpeg.so." + std::to_string(JPEG_LIB_VERSION < 70 ? JPEG_LIB_VERSION : JPEG_LIB_VERSION / 10);

const Libjpeg* open_libjpeg() {
  SharedLibrary library(kLibraryFile.c_str());
  static Libjpeg functions;
  library.take(&functions.std_error, "jpeg_std_error");
  library.take(&functions.create_decompress, "jpeg_CreateDecompress");
  library.take(&functions.create_compress, "jpeg_CreateCompress");
  library.take(&functions.destroy_decompress, "jpeg_destroy_decompress");
  library.take(&functions.destroy_compress, "jpeg_destroy_compress");
  library.take(&functions.mem_src, "jpeg_mem_src");
  library.take(&functions.mem_dest, "jpeg_mem_dest");
  library.take(&functions.read_header, "jpeg_read_header");
  library.take(&functions.start_decompress, "jpeg_start_decompress");
  library.take(&functions.read_scanlines, "jpeg_read_scanlines");
  library.take(&functions.finish_decompress, "jpeg_finish_decompress");
  library.take(&functions.set_defaults, "jpeg_set_defaults");
  library.take(&functions.set_quality, "jpeg_set_quality");
  library.take(&functions.start_compress, "jpeg_start_compress");
  library.take(&functions.write_scanlines, "jpeg_write_scanlines");
  library.take(&functions.finish_compress, "jpeg_finish_compress");
  return library.complete() ? &functions : nullptr;
}

// libjpeg, opened once; raises when it cannot be.
const Libjpeg& libjpeg() {
  static const Libjpeg* opened = open_libjpeg();
  if (opened == nullptr) library_missing(kLibraryFile.c_str());
  return *opened;
}

// The densest a JPEG packs pixels: one bit for a block's DC and one for its
// end, 64 pixels of a grey image, or fewer bits with a progressive file's
// end-of-band runs; this bound leaves a wide margin above any of them.
constexpr uint64_t kPixelsPerByte = 4096;
constexpr int kQuality = 90;

struct ErrorManager {
  jpeg_error_mgr base;
  jmp_buf jump;
};

[[noreturn]] void exit_by_jump(j_common_ptr codec) { longjmp(reinterpret_cast<ErrorManager*>(codec->err)->jump, 1); }

void warning_fails(j_common_ptr codec, int level) {
  if (level < 0) longjmp(reinterpret_cast<ErrorManager*>(codec->err)->jump, 1);
}

uint32_t cmyk_to_pixel(const uint8_t* s, bool inverted) {
  uint32_t c = s[0], m = s[1], y = s[2], k = s[3];
  if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
  uint32_t r = (c * k + 127) / 255, g = (m * k + 127) / 255, b = (y * k + 127) / 255;
  return 0xFF000000u | r << 16 | g << 8 | b;
}

bool read_into(const uint8_t* bytes, size_t size, Raster* raster, std::vector<uint8_t>* row) {
  const Libjpeg& api = libjpeg();
  jpeg_decompress_struct codec;
  ErrorManager errors;
  codec.err = api.std_error(&errors.base);
  errors.base.error_exit = exit_by_jump;
  errors.base.emit_message = warning_fails;
  if (setjmp(errors.jump)) {
    api.destroy_decompress(&codec);
    return false;
  }
  api.create_decompress(&codec, JPEG_LIB_VERSION, sizeof codec);
  api.mem_src(&codec, bytes, static_cast<unsigned long>(size));
  if (api.read_header(&codec, TRUE) != JPEG_HEADER_OK) longjmp(errors.jump, 1);
  if (!plausible(codec.image_width, codec.image_height, size, kPixelsPerByte)) longjmp(errors.jump, 1);
  bool cmyk = codec.jpeg_color_space == JCS_CMYK || codec.jpeg_color_space == JCS_YCCK;
  codec.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
  api.start_decompress(&codec);
  uint32_t width = codec.output_width, height = codec.output_height;
  raster->width = width;
  raster->height = height;
  raster->pixels.resize(size_t{width} * height);
  row->resize(size_t{width} * 4);
  bool inverted = codec.saw_Adobe_marker;
  while (codec.output_scanline < height) {
    uint32_t y = codec.output_scanline;
    JSAMPROW target = cmyk ? row->data() : reinterpret_cast<JSAMPROW>(raster->pixels.data() + size_t{y} * width);
    if (api.read_scanlines(&codec, &target, 1) != 1) longjmp(errors.jump, 1);
    if (cmyk)
      for (uint32_t x = 0; x < width; ++x)
        raster->pixels[size_t{y} * width + x] = cmyk_to_pixel(row->data() + 4 * x, inverted);
  }
  api.finish_decompress(&codec);
  api.destroy_decompress(&codec);
  return true;
}

bool write_into(const Raster* raster, unsigned char** out, unsigned long* out_size) {
  const Libjpeg& api = libjpeg();
  jpeg_compress_struct codec;
  ErrorManager errors;
  codec.err = api.std_error(&errors.base);
  errors.base.error_exit = exit_by_jump;
  if (setjmp(errors.jump)) {
    api.destroy_compress(&codec);
    return false;
  }
  api.create_compress(&codec, JPEG_LIB_VERSION, sizeof codec);
  api.mem_dest(&codec, out, out_size);
  codec.image_width = raster->width;
  codec.image_height = raster->height;
  codec.input_components = 4;
  codec.in_color_space = JCS_EXT_BGRX;
  api.set_defaults(&codec);
  api.set_quality(&codec, kQuality, TRUE);
  api.start_compress(&codec, TRUE);
  while (codec.next_scanline < codec.image_height) {
    JSAMPROW row = reinterpret_cast<JSAMPROW>(const_cast<uint32_t*>(raster->pixels.data()) +
                                              size_t{codec.next_scanline} * raster->width);
    api.write_scanlines(&codec, &row, 1);
  }
  api.finish_compress(&codec);
  api.destroy_compress(&codec);
  return true;
}

}  // namespace

std::optional<Raster> decode_jpeg(const uint8_t* bytes, size_t size) {
  Raster raster;
  std::vector<uint8_t> row;
  if (!read_into(bytes, size, &raster, &row)) return std::nullopt;
  return raster;
}

std::optional<std::vector<uint8_t>> encode_jpeg(const Raster& raster) {
  unsigned char* buffer = nullptr;
  unsigned long length = 0;
  bool written = write_into(&raster, &buffer, &length);
  std::optional<std::vector<uint8_t>> result;
  if (written) result.emplace(buffer, buffer + length);
  // The memory destination's buffer is the library's (malloc), kept after
  // the codec is destroyed on either way out.
  std::free(buffer);
  return result;
}

}  // namespace kel::image_codecs
