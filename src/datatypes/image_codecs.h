// The image codecs: PNG, JPEG, GIF and TIFF through the system's libpng,
// libjpeg-turbo, giflib and libtiff, BMP through a reader and writer of our
// own. Each decodes from memory and encodes to memory, and none touches a
// cell: the pixels travel as a Raster, one word A << 24 | R << 16 | G << 8 |
// B per pixel, rows top first with no padding (the pixel word of image!).
//
// Decoders are bounded on hostile input: the size a header claims is
// checked (each side 1..65535, the pixel store within the series limit, and
// the pixel count within what the format can pack into the bytes given)
// before the pixels are allocated, and any error, truncation or corruption
// the library reports makes the decode fail; a failed decode leaves no
// partial raster and no memory behind. Only the first frame of a file is
// read.
//
// The four libraries are opened at the first use of their format, not
// linked: together with what libtiff brings they are a dozen shared
// objects that a run touching no image would load for nothing. A library
// that cannot be opened (or lacks a function the adapter calls) raises
// access cannot-open with its file name at that use; that is the one way
// out of a codec that makes a Kel value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace kel::image_codecs {

// The encoder codes of the codec routines.
enum class Format : int32_t { kBmp = 0, kPng = 1, kGif = 2, kJpeg = 3, kTiff = 4 };

struct Raster {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint32_t> pixels;
};

// The format the first bytes announce, or nullopt for none of the five.
std::optional<Format> sniff(const uint8_t* bytes, size_t size);

// The first frame of the bytes; nullopt when they are not a readable image
// of a known format.
std::optional<Raster> decode(const uint8_t* bytes, size_t size);

// The encoded file; nullopt when the library refused (it never does for a
// raster of a valid size). JPEG drops the alpha; GIF keeps up to 256
// colours exactly and quantizes beyond, pixels with alpha below 128 taking
// the transparent index.
std::optional<std::vector<uint8_t>> encode(Format format, const Raster& raster);

// --- For the format adapters ---------------------------------------------------------

// True when a width x height image may be made from size bytes of a format
// that packs at most pixels_per_byte pixels into a byte.
bool plausible(uint64_t width, uint64_t height, size_t size, uint64_t pixels_per_byte);

// Raises access cannot-open naming the library file that would not open.
[[noreturn]] void library_missing(const char* file_name);

std::optional<Raster> decode_png(const uint8_t* bytes, size_t size);
std::optional<Raster> decode_jpeg(const uint8_t* bytes, size_t size);
std::optional<Raster> decode_gif(const uint8_t* bytes, size_t size);
std::optional<Raster> decode_tiff(const uint8_t* bytes, size_t size);
std::optional<Raster> decode_bmp(const uint8_t* bytes, size_t size);

std::optional<std::vector<uint8_t>> encode_png(const Raster& raster);
std::optional<std::vector<uint8_t>> encode_jpeg(const Raster& raster);
std::optional<std::vector<uint8_t>> encode_gif(const Raster& raster);
std::optional<std::vector<uint8_t>> encode_tiff(const Raster& raster);
std::optional<std::vector<uint8_t>> encode_bmp(const Raster& raster);

// A palette of at most 256 colours for a raster and each pixel's index in
// it. When the raster holds at most 256 distinct colours (every pixel with
// alpha below 128 counting as one transparent colour) the palette is exact;
// otherwise the opaque colours are reduced by median cut. transparent is
// the index of the transparent entry, or -1 when no pixel is transparent.
struct Palette {
  std::vector<uint32_t> colours;  // pixel words, opaque but for the transparent entry
  std::vector<uint8_t> indexes;   // one per pixel
  int32_t transparent = -1;
};
Palette quantize(const Raster& raster);

}  // namespace kel::image_codecs
