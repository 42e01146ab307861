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
// jpeglib.h needs size_t and FILE declared before it.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

#include "datatypes/image_codecs.h"

namespace kel::image_codecs {

namespace {

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
  jpeg_decompress_struct codec;
  ErrorManager errors;
  codec.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = exit_by_jump;
  errors.base.emit_message = warning_fails;
  if (setjmp(errors.jump)) {
    jpeg_destroy_decompress(&codec);
    return false;
  }
  jpeg_create_decompress(&codec);
  jpeg_mem_src(&codec, bytes, static_cast<unsigned long>(size));
  if (jpeg_read_header(&codec, TRUE) != JPEG_HEADER_OK) longjmp(errors.jump, 1);
  if (!plausible(codec.image_width, codec.image_height, size, kPixelsPerByte)) longjmp(errors.jump, 1);
  bool cmyk = codec.jpeg_color_space == JCS_CMYK || codec.jpeg_color_space == JCS_YCCK;
  codec.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
  jpeg_start_decompress(&codec);
  uint32_t width = codec.output_width, height = codec.output_height;
  raster->width = width;
  raster->height = height;
  raster->pixels.resize(size_t{width} * height);
  row->resize(size_t{width} * 4);
  bool inverted = codec.saw_Adobe_marker;
  while (codec.output_scanline < height) {
    uint32_t y = codec.output_scanline;
    JSAMPROW target = cmyk ? row->data() : reinterpret_cast<JSAMPROW>(raster->pixels.data() + size_t{y} * width);
    if (jpeg_read_scanlines(&codec, &target, 1) != 1) longjmp(errors.jump, 1);
    if (cmyk)
      for (uint32_t x = 0; x < width; ++x)
        raster->pixels[size_t{y} * width + x] = cmyk_to_pixel(row->data() + 4 * x, inverted);
  }
  jpeg_finish_decompress(&codec);
  jpeg_destroy_decompress(&codec);
  return true;
}

bool write_into(const Raster* raster, unsigned char** out, unsigned long* out_size) {
  jpeg_compress_struct codec;
  ErrorManager errors;
  codec.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = exit_by_jump;
  if (setjmp(errors.jump)) {
    jpeg_destroy_compress(&codec);
    return false;
  }
  jpeg_create_compress(&codec);
  jpeg_mem_dest(&codec, out, out_size);
  codec.image_width = raster->width;
  codec.image_height = raster->height;
  codec.input_components = 4;
  codec.in_color_space = JCS_EXT_BGRX;
  jpeg_set_defaults(&codec);
  jpeg_set_quality(&codec, kQuality, TRUE);
  jpeg_start_compress(&codec, TRUE);
  while (codec.next_scanline < codec.image_height) {
    JSAMPROW row = reinterpret_cast<JSAMPROW>(const_cast<uint32_t*>(raster->pixels.data()) +
                                              size_t{codec.next_scanline} * raster->width);
    jpeg_write_scanlines(&codec, &row, 1);
  }
  jpeg_finish_compress(&codec);
  jpeg_destroy_compress(&codec);
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
