// The codecs' front (see image_codecs.h): the signatures that tell the
// formats apart, the size bound every decoder applies, and the dispatch to
// the format adapters.
#include "datatypes/image_codecs.h"

#include <cstring>

#include "datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace kel::image_codecs {

namespace {
constexpr uint64_t kMaxSide = 65535;
}  // namespace

std::optional<Format> sniff(const uint8_t* b, size_t n) {
  if (n >= 4 && b[0] == 0x89 && b[1] == 'P' && b[2] == 'N' && b[3] == 'G') return Format::kPng;
  if (n >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return Format::kJpeg;
  if (n >= 2 && b[0] == 'B' && b[1] == 'M') return Format::kBmp;
  if (n >= 6 && std::memcmp(b, "GIF8", 4) == 0 && (b[4] == '7' || b[4] == '9') && b[5] == 'a') return Format::kGif;
  if (n >= 4 && ((b[0] == 'I' && b[1] == 'I' && b[2] == '*' && b[3] == 0) ||
                 (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && b[3] == '*')))
    return Format::kTiff;
  return std::nullopt;
}

bool plausible(uint64_t width, uint64_t height, size_t size, uint64_t pixels_per_byte) {
  if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return false;
  uint64_t area = width * height;
  if (area * 4 > memory::kMaxSeriesBytes) return false;
  return area / pixels_per_byte <= size;
}

void library_missing(const char* file_name) {
  Cell name = *string::load_cstr(file_name, static_cast<uint32_t>(std::strlen(file_name)), string::kEncodingUtf8);
  fire(ErrorId::access_cannot_open, &name);
}

std::optional<Raster> decode(const uint8_t* bytes, size_t size) {
  std::optional<Format> format = sniff(bytes, size);
  if (!format) return std::nullopt;
  switch (*format) {
    case Format::kPng: return decode_png(bytes, size);
    case Format::kJpeg: return decode_jpeg(bytes, size);
    case Format::kBmp: return decode_bmp(bytes, size);
    case Format::kGif: return decode_gif(bytes, size);
    case Format::kTiff: return decode_tiff(bytes, size);
  }
  return std::nullopt;
}

std::optional<std::vector<uint8_t>> encode(Format format, const Raster& raster) {
  switch (format) {
    case Format::kPng: return encode_png(raster);
    case Format::kJpeg: return encode_jpeg(raster);
    case Format::kBmp: return encode_bmp(raster);
    case Format::kGif: return encode_gif(raster);
    case Format::kTiff: return encode_tiff(raster);
  }
  return std::nullopt;
}

}  // namespace kel::image_codecs
