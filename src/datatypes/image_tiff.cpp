// TIFF through libtiff, from and to memory through client procedures. The
// first directory is read: 8-bit RGB, RGBA with unassociated alpha, grey and
// grey with alpha, and palettes of 1 to 8 bits in strips row by row,
// exactly; every other layout (other depths, tiles, YCbCr, CMYK, associated
// alpha) through libtiff's RGBA reader. The encoder writes 8-bit RGBA with unassociated alpha, LZW
// compressed. libtiff's messages are silenced: a failure shows as a failed
// decode.
//
// libtiff is opened at the first TIFF, and every call goes through the
// table taken from it; tiffio.h gives the types only. libtiff brings a
// train of compression libraries of its own, the largest share of what
// linking the codecs would cost every start.
#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "datatypes/image_codecs.h"
#include "runtime/shared_library.h"

namespace kel::image_codecs {

namespace {

// The libtiff functions the adapter calls, typed as tiffio.h declares them.
struct Libtiff {
  decltype(&TIFFSetErrorHandler) set_error_handler;
  decltype(&TIFFSetWarningHandler) set_warning_handler;
  decltype(&TIFFClientOpenExt) client_open;
  decltype(&TIFFOpenOptionsAlloc) options_alloc;
  decltype(&TIFFOpenOptionsFree) options_free;
  decltype(&TIFFOpenOptionsSetMaxSingleMemAlloc) options_set_max_single_alloc;
  decltype(&TIFFClose) close;
  decltype(&TIFFScanlineSize) scanline_size;
  decltype(&TIFFReadScanline) read_scanline;
  decltype(&TIFFWriteScanline) write_scanline;
  decltype(&TIFFGetField) get_field;
  decltype(&TIFFGetFieldDefaulted) get_field_defaulted;
  decltype(&TIFFSetField) set_field;
  decltype(&TIFFIsTiled) is_tiled;
  decltype(&TIFFRGBAImageOK) rgba_image_ok;
  decltype(&TIFFReadRGBAImageOriented) read_rgba_image_oriented;
  decltype(&TIFFDefaultStripSize) default_strip_size;
};

// The file of libtiff 4.5 and later (whose tiffvers.h names the major
// version), and of the releases before it.
#ifdef TIFFLIB_MAJOR_VERSION
constexpr const char* kLibraryFile = "libtiff.so.6";
#else
constexpr const char* kLibraryFile = "libtiff.so.5";
#endif

const Libtiff* open_libtiff() {
  SharedLibrary library(kLibraryFile);
  static Libtiff functions;
  library.take(&functions.set_error_handler, "TIFFSetErrorHandler");
  library.take(&functions.set_warning_handler, "TIFFSetWarningHandler");
  library.take(&functions.client_open, "TIFFClientOpenExt");
  library.take(&functions.options_alloc, "TIFFOpenOptionsAlloc");
  library.take(&functions.options_free, "TIFFOpenOptionsFree");
  library.take(&functions.options_set_max_single_alloc, "TIFFOpenOptionsSetMaxSingleMemAlloc");
  library.take(&functions.close, "TIFFClose");
  library.take(&functions.scanline_size, "TIFFScanlineSize");
  library.take(&functions.read_scanline, "TIFFReadScanline");
  library.take(&functions.write_scanline, "TIFFWriteScanline");
  library.take(&functions.get_field, "TIFFGetField");
  library.take(&functions.get_field_defaulted, "TIFFGetFieldDefaulted");
  library.take(&functions.set_field, "TIFFSetField");
  library.take(&functions.is_tiled, "TIFFIsTiled");
  library.take(&functions.rgba_image_ok, "TIFFRGBAImageOK");
  library.take(&functions.read_rgba_image_oriented, "TIFFReadRGBAImageOriented");
  library.take(&functions.default_strip_size, "TIFFDefaultStripSize");
  if (!library.complete()) return nullptr;
  // libtiff's messages are silenced once: a failure shows as a failed decode.
  functions.set_error_handler(nullptr);
  functions.set_warning_handler(nullptr);
  return &functions;
}

// libtiff, opened once; raises when it cannot be.
const Libtiff& libtiff() {
  static const Libtiff* opened = open_libtiff();
  if (opened == nullptr) library_missing(kLibraryFile);
  return *opened;
}

// Generous: a fax-coded bilevel page packs thousands of pixels into a byte.
constexpr uint64_t kPixelsPerByte = 16384;

struct Stream {
  std::vector<uint8_t>* grown = nullptr;  // writing
  const uint8_t* bytes = nullptr;         // reading
  uint64_t size = 0;
  uint64_t position = 0;
};

tmsize_t read_proc(thandle_t handle, void* out, tmsize_t count) {
  auto* s = static_cast<Stream*>(handle);
  if (count < 0 || s->position >= s->size) return 0;
  uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(count), s->size - s->position);
  std::memcpy(out, s->bytes + s->position, n);
  s->position += n;
  return static_cast<tmsize_t>(n);
}

tmsize_t write_proc(thandle_t handle, void* data, tmsize_t count) {
  auto* s = static_cast<Stream*>(handle);
  if (s->grown == nullptr || count < 0) return -1;
  uint64_t end = s->position + static_cast<uint64_t>(count);
  if (end > s->grown->size()) s->grown->resize(end);
  std::memcpy(s->grown->data() + s->position, data, static_cast<size_t>(count));
  s->position = end;
  s->size = s->grown->size();
  return count;
}

toff_t seek_proc(thandle_t handle, toff_t offset, int whence) {
  auto* s = static_cast<Stream*>(handle);
  uint64_t base = whence == SEEK_CUR ? s->position : whence == SEEK_END ? s->size : 0;
  uint64_t target = base + offset;
  if (s->grown == nullptr && target > s->size) return static_cast<toff_t>(-1);
  s->position = target;
  return target;
}

int close_proc(thandle_t) { return 0; }
toff_t size_proc(thandle_t handle) { return static_cast<Stream*>(handle)->size; }
int map_proc(thandle_t, void**, toff_t*) { return 0; }
void unmap_proc(thandle_t, void*, toff_t) {}

// Opens the stream; libtiff refuses any one allocation above max_alloc
// bytes (0: no limit). A few hundred hostile bytes can claim strips of
// gigabytes, which libtiff would otherwise allocate and clear before it
// finds the data missing.
TIFF* open(Stream* stream, const char* mode, uint64_t max_alloc) {
  const Libtiff& api = libtiff();
  TIFFOpenOptions* options = api.options_alloc();
  if (options == nullptr) return nullptr;
  api.options_set_max_single_alloc(options, static_cast<tmsize_t>(std::min<uint64_t>(max_alloc, INT64_MAX)));
  TIFF* tiff = api.client_open("memory", mode, stream, read_proc, write_proc, seek_proc, close_proc, size_proc,
                               map_proc, unmap_proc, options);
  api.options_free(options);
  return tiff;
}

struct Closer {
  TIFF* tiff;
  ~Closer() {
    if (tiff != nullptr) libtiff().close(tiff);
  }
};

// The rows of the plain layouts, sample by sample; false when a row cannot
// be read.
bool read_rows(TIFF* tiff, uint16_t photometric, uint16_t samples, Raster* raster) {
  const Libtiff& api = libtiff();
  tmsize_t line = api.scanline_size(tiff);
  if (line < static_cast<tmsize_t>(uint64_t{raster->width} * samples)) return false;
  std::vector<uint8_t> row(static_cast<size_t>(line));
  bool grey = photometric == PHOTOMETRIC_MINISBLACK;
  for (uint32_t y = 0; y < raster->height; ++y) {
    if (api.read_scanline(tiff, row.data(), y, 0) < 0) return false;
    uint32_t* out = raster->pixels.data() + size_t{y} * raster->width;
    for (uint32_t x = 0; x < raster->width; ++x) {
      const uint8_t* s = row.data() + size_t{x} * samples;
      uint32_t r = s[0], g = grey ? s[0] : s[1], b = grey ? s[0] : s[2];
      uint32_t a = samples == (grey ? 2 : 4) ? s[samples - 1] : 255;
      out[x] = a << 24 | r << 16 | g << 8 | b;
    }
  }
  return true;
}

// The rows of a palette image of 1, 2, 4 or 8 bits; the colour map's
// 16-bit samples are scaled to 8 bits rounding down, as the format's
// readers have it.
bool read_palette_rows(TIFF* tiff, uint16_t bits, Raster* raster) {
  const Libtiff& api = libtiff();
  uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
  if (!api.get_field(tiff, TIFFTAG_COLORMAP, &red, &green, &blue)) return false;
  tmsize_t line = api.scanline_size(tiff);
  if (line < static_cast<tmsize_t>((uint64_t{raster->width} * bits + 7) / 8)) return false;
  std::vector<uint8_t> row(static_cast<size_t>(line));
  auto scale = [](uint32_t v) { return v * 255 / 65535; };
  for (uint32_t y = 0; y < raster->height; ++y) {
    if (api.read_scanline(tiff, row.data(), y, 0) < 0) return false;
    uint32_t* out = raster->pixels.data() + size_t{y} * raster->width;
    for (uint32_t x = 0; x < raster->width; ++x) {
      uint64_t bit = uint64_t{x} * bits;
      uint32_t i = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
      out[x] = 0xFF000000u | scale(red[i]) << 16 | scale(green[i]) << 8 | scale(blue[i]);
    }
  }
  return true;
}

}  // namespace

std::optional<Raster> decode_tiff(const uint8_t* bytes, size_t size) {
  const Libtiff& api = libtiff();
  Stream stream;
  stream.bytes = bytes;
  stream.size = size;
  // The most a plausible image needs at once: 16-bit samples, four of
  // them, for as many pixels as the data can describe.
  uint64_t max_alloc = std::max<uint64_t>(uint64_t{size} * kPixelsPerByte * 8, uint64_t{1} << 20);
  Closer file{open(&stream, "rm", max_alloc)};
  if (file.tiff == nullptr) return std::nullopt;
  TIFF* tiff = file.tiff;
  uint32_t width = 0, height = 0;
  if (!api.get_field(tiff, TIFFTAG_IMAGEWIDTH, &width) || !api.get_field(tiff, TIFFTAG_IMAGELENGTH, &height))
    return std::nullopt;
  if (!plausible(width, height, size, kPixelsPerByte)) return std::nullopt;
  uint16_t bits = 1, samples = 1, photometric = 0, planar = PLANARCONFIG_CONTIG, extra_count = 0;
  uint16_t* extra = nullptr;
  api.get_field_defaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  api.get_field_defaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  api.get_field_defaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
  api.get_field_defaulted(tiff, TIFFTAG_EXTRASAMPLES, &extra_count, &extra);
  if (!api.get_field(tiff, TIFFTAG_PHOTOMETRIC, &photometric)) return std::nullopt;
  bool unassociated = extra_count == 1 && extra != nullptr && extra[0] == EXTRASAMPLE_UNASSALPHA;
  bool plain_colour = photometric == PHOTOMETRIC_RGB && (samples == 3 || (samples == 4 && unassociated));
  bool plain_grey = photometric == PHOTOMETRIC_MINISBLACK && (samples == 1 || (samples == 2 && unassociated));
  Raster raster;
  raster.width = width;
  raster.height = height;
  raster.pixels.resize(size_t{width} * height);
  if (bits == 8 && planar == PLANARCONFIG_CONTIG && !api.is_tiled(tiff) && (plain_colour || plain_grey)) {
    if (!read_rows(tiff, photometric, samples, &raster)) return std::nullopt;
    return raster;
  }
  if (photometric == PHOTOMETRIC_PALETTE && samples == 1 && planar == PLANARCONFIG_CONTIG && !api.is_tiled(tiff) &&
      (bits == 1 || bits == 2 || bits == 4 || bits == 8)) {
    if (!read_palette_rows(tiff, bits, &raster)) return std::nullopt;
    return raster;
  }
  char message[1024];
  if (!api.rgba_image_ok(tiff, message)) return std::nullopt;
  if (!api.read_rgba_image_oriented(tiff, width, height, raster.pixels.data(), ORIENTATION_TOPLEFT, 1)) return std::nullopt;
  for (uint32_t& p : raster.pixels)
    p = TIFFGetA(p) << 24 | TIFFGetR(p) << 16 | TIFFGetG(p) << 8 | TIFFGetB(p);
  return raster;
}

std::optional<std::vector<uint8_t>> encode_tiff(const Raster& raster) {
  const Libtiff& api = libtiff();
  std::vector<uint8_t> out;
  Stream stream;
  stream.grown = &out;
  bool ok;
  {
    Closer file{open(&stream, "w", 0)};
    TIFF* tiff = file.tiff;
    if (tiff == nullptr) return std::nullopt;
    uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
    api.set_field(tiff, TIFFTAG_IMAGEWIDTH, raster.width);
    api.set_field(tiff, TIFFTAG_IMAGELENGTH, raster.height);
    api.set_field(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    api.set_field(tiff, TIFFTAG_SAMPLESPERPIXEL, 4);
    api.set_field(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
    api.set_field(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    api.set_field(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    api.set_field(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    api.set_field(tiff, TIFFTAG_ROWSPERSTRIP, api.default_strip_size(tiff, 0));
    std::vector<uint8_t> row(size_t{raster.width} * 4);
    ok = true;
    for (uint32_t y = 0; ok && y < raster.height; ++y) {
      const uint32_t* in = raster.pixels.data() + size_t{y} * raster.width;
      for (uint32_t x = 0; x < raster.width; ++x) {
        row[4 * x] = static_cast<uint8_t>(in[x] >> 16);
        row[4 * x + 1] = static_cast<uint8_t>(in[x] >> 8);
        row[4 * x + 2] = static_cast<uint8_t>(in[x]);
        row[4 * x + 3] = static_cast<uint8_t>(in[x] >> 24);
      }
      ok = api.write_scanline(tiff, row.data(), y, 0) >= 0;
    }
  }
  if (!ok) return std::nullopt;
  return out;
}

}  // namespace kel::image_codecs
