// GIF through giflib: the first image of the file, placed on the logical
// screen (the rest of the screen transparent), its colours from the local
// or the global colour table, the transparent index of the graphic control
// extension before it; interlaced rows are put back in order. The encoder
// writes GIF89a with one image, a palette from quantize() and its
// transparent index.
//
// The records are walked one by one rather than slurped, so that the first
// image's size is checked before its rows are allocated and later frames
// are never read.
#include <gif_lib.h>

#include <cstring>

#include "datatypes/image_codecs.h"

namespace kel::image_codecs {

namespace {

// LZW codes of at most 12 bits, each for a string of at most 4096 pixels.
constexpr uint64_t kPixelsPerByte = 4096;

struct Source {
  const uint8_t* bytes;
  size_t size;
  size_t position;
};

int read_bytes(GifFileType* gif, GifByteType* out, int count) {
  auto* source = static_cast<Source*>(gif->UserData);
  size_t n = std::min<size_t>(static_cast<size_t>(count), source->size - source->position);
  std::memcpy(out, source->bytes + source->position, n);
  source->position += n;
  return static_cast<int>(n);
}

int write_bytes(GifFileType* gif, const GifByteType* data, int count) {
  auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
  out->insert(out->end(), data, data + count);
  return count;
}

// Closes the file on every way out of the decoder.
struct Closer {
  GifFileType* gif;
  ~Closer() {
    int error = 0;
    if (gif != nullptr) DGifCloseFile(gif, &error);
  }
};

bool read_first_image(GifFileType* gif, size_t size, Raster* raster) {
  int transparent = NO_TRANSPARENT_COLOR;
  for (;;) {
    GifRecordType record;
    if (DGifGetRecordType(gif, &record) == GIF_ERROR) return false;
    if (record == TERMINATE_RECORD_TYPE) return false;  // no image at all
    if (record == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* block = nullptr;
      if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return false;
      if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 4) {
        GraphicsControlBlock control;
        if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK) transparent = control.TransparentColor;
      }
      while (block != nullptr)
        if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
      continue;
    }
    if (record != IMAGE_DESC_RECORD_TYPE) return false;
    if (DGifGetImageDesc(gif) == GIF_ERROR) return false;
    const GifImageDesc& desc = gif->Image;
    int64_t left = desc.Left, top = desc.Top, width = desc.Width, height = desc.Height;
    int64_t screen_width = std::max<int64_t>(gif->SWidth, left + width);
    int64_t screen_height = std::max<int64_t>(gif->SHeight, top + height);
    if (!plausible(static_cast<uint64_t>(width), static_cast<uint64_t>(height), size, kPixelsPerByte) ||
        !plausible(static_cast<uint64_t>(screen_width), static_cast<uint64_t>(screen_height), size, kPixelsPerByte))
      return false;
    const ColorMapObject* map = desc.ColorMap != nullptr ? desc.ColorMap : gif->SColorMap;
    if (map == nullptr) return false;
    std::vector<GifPixelType> indexes(static_cast<size_t>(width * height));
    if (desc.Interlace) {
      static constexpr int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
      for (int pass = 0; pass < 4; ++pass)
        for (int64_t y = kStart[pass]; y < height; y += kStep[pass])
          if (DGifGetLine(gif, indexes.data() + y * width, static_cast<int>(width)) == GIF_ERROR) return false;
    } else {
      for (int64_t y = 0; y < height; ++y)
        if (DGifGetLine(gif, indexes.data() + y * width, static_cast<int>(width)) == GIF_ERROR) return false;
    }
    raster->width = static_cast<uint32_t>(screen_width);
    raster->height = static_cast<uint32_t>(screen_height);
    raster->pixels.assign(static_cast<size_t>(screen_width * screen_height), 0);
    for (int64_t y = 0; y < height; ++y) {
      for (int64_t x = 0; x < width; ++x) {
        int index = indexes[static_cast<size_t>(y * width + x)];
        uint32_t pixel = 0;
        if (index != transparent) {
          // An index past the table is black, as the format's readers have it.
          if (index < map->ColorCount) {
            const GifColorType& c = map->Colors[index];
            pixel = 0xFF000000u | uint32_t{c.Red} << 16 | uint32_t{c.Green} << 8 | c.Blue;
          } else {
            pixel = 0xFF000000u;
          }
        }
        raster->pixels[static_cast<size_t>((top + y) * screen_width + left + x)] = pixel;
      }
    }
    return true;
  }
}

}  // namespace

std::optional<Raster> decode_gif(const uint8_t* bytes, size_t size) {
  Source source{bytes, size, 0};
  int error = 0;
  Closer file{DGifOpen(&source, read_bytes, &error)};
  if (file.gif == nullptr) return std::nullopt;
  Raster raster;
  if (!read_first_image(file.gif, size, &raster)) return std::nullopt;
  return raster;
}

std::optional<std::vector<uint8_t>> encode_gif(const Raster& raster) {
  Palette palette = quantize(raster);
  int bits = 1;
  while ((1u << bits) < palette.colours.size()) ++bits;
  std::vector<GifColorType> colours(size_t{1} << bits, GifColorType{0, 0, 0});
  for (size_t i = 0; i < palette.colours.size(); ++i)
    colours[i] = GifColorType{static_cast<GifByteType>(palette.colours[i] >> 16),
                              static_cast<GifByteType>(palette.colours[i] >> 8),
                              static_cast<GifByteType>(palette.colours[i])};
  std::vector<uint8_t> out;
  int error = 0;
  GifFileType* gif = EGifOpen(&out, write_bytes, &error);
  if (gif == nullptr) return std::nullopt;
  ColorMapObject* map = GifMakeMapObject(1 << bits, colours.data());
  bool ok = map != nullptr;
  EGifSetGifVersion(gif, true);
  ok = ok && EGifPutScreenDesc(gif, static_cast<int>(raster.width), static_cast<int>(raster.height), bits, 0, map) == GIF_OK;
  if (ok && palette.transparent >= 0) {
    GraphicsControlBlock control{DISPOSAL_UNSPECIFIED, false, 0, palette.transparent};
    GifByteType extension[4];
    size_t length = EGifGCBToExtension(&control, extension);
    ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension) == GIF_OK;
  }
  ok = ok && EGifPutImageDesc(gif, 0, 0, static_cast<int>(raster.width), static_cast<int>(raster.height), false,
                              nullptr) == GIF_OK;
  for (uint32_t y = 0; ok && y < raster.height; ++y)
    ok = EGifPutLine(gif, palette.indexes.data() + size_t{y} * raster.width, static_cast<int>(raster.width)) == GIF_OK;
  if (EGifCloseFile(gif, &error) != GIF_OK) ok = false;
  GifFreeMapObject(map);
  if (!ok) return std::nullopt;
  return out;
}

}  // namespace kel::image_codecs
