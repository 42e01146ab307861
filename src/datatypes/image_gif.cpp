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
//
// giflib is opened at the first GIF, and every call goes through the table
// taken from it; gif_lib.h gives the types only.
#include <gif_lib.h>

#include <cstring>

#include "datatypes/image_codecs.h"
#include "runtime/shared_library.h"

namespace kel::image_codecs {

namespace {

// The giflib functions the adapter calls, typed as gif_lib.h declares them.
struct Libgif {
  decltype(&DGifOpen) d_open;
  decltype(&DGifCloseFile) d_close_file;
  decltype(&DGifGetRecordType) d_get_record_type;
  decltype(&DGifGetExtension) d_get_extension;
  decltype(&DGifGetExtensionNext) d_get_extension_next;
  decltype(&DGifExtensionToGCB) d_extension_to_gcb;
  decltype(&DGifGetImageDesc) d_get_image_desc;
  decltype(&DGifGetLine) d_get_line;
  decltype(&EGifOpen) e_open;
  decltype(&EGifCloseFile) e_close_file;
  decltype(&EGifSetGifVersion) e_set_gif_version;
  decltype(&EGifPutScreenDesc) e_put_screen_desc;
  decltype(&EGifGCBToExtension) e_gcb_to_extension;
  decltype(&EGifPutExtension) e_put_extension;
  decltype(&EGifPutImageDesc) e_put_image_desc;
  decltype(&EGifPutLine) e_put_line;
  decltype(&GifMakeMapObject) make_map_object;
  decltype(&GifFreeMapObject) free_map_object;
};

// giflib 5 has kept the interface of its library file 7.
static_assert(GIFLIB_MAJOR == 5, "the library file below is giflib 5's");
constexpr const char* kLibraryFile = "libgif.so.7";

const Libgif* open_libgif() {
  SharedLibrary library(kLibraryFile);
  static Libgif functions;
  library.take(&functions.d_open, "DGifOpen");
  library.take(&functions.d_close_file, "DGifCloseFile");
  library.take(&functions.d_get_record_type, "DGifGetRecordType");
  library.take(&functions.d_get_extension, "DGifGetExtension");
  library.take(&functions.d_get_extension_next, "DGifGetExtensionNext");
  library.take(&functions.d_extension_to_gcb, "DGifExtensionToGCB");
  library.take(&functions.d_get_image_desc, "DGifGetImageDesc");
  library.take(&functions.d_get_line, "DGifGetLine");
  library.take(&functions.e_open, "EGifOpen");
  library.take(&functions.e_close_file, "EGifCloseFile");
  library.take(&functions.e_set_gif_version, "EGifSetGifVersion");
  library.take(&functions.e_put_screen_desc, "EGifPutScreenDesc");
  library.take(&functions.e_gcb_to_extension, "EGifGCBToExtension");
  library.take(&functions.e_put_extension, "EGifPutExtension");
  library.take(&functions.e_put_image_desc, "EGifPutImageDesc");
  library.take(&functions.e_put_line, "EGifPutLine");
  library.take(&functions.make_map_object, "GifMakeMapObject");
  library.take(&functions.free_map_object, "GifFreeMapObject");
  return library.complete() ? &functions : nullptr;
}

// giflib, opened once; raises when it cannot be.
const Libgif& libgif() {
  static const Libgif* opened = open_libgif();
  if (opened == nullptr) library_missing(kLibraryFile);
  return *opened;
}

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
    if (gif != nullptr) libgif().d_close_file(gif, &error);
  }
};

bool read_first_image(GifFileType* gif, size_t size, Raster* raster) {
  const Libgif& api = libgif();
  int transparent = NO_TRANSPARENT_COLOR;
  for (;;) {
    GifRecordType record;
    if (api.d_get_record_type(gif, &record) == GIF_ERROR) return false;
    if (record == TERMINATE_RECORD_TYPE) return false;  // no image at all
    if (record == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* block = nullptr;
      if (api.d_get_extension(gif, &code, &block) == GIF_ERROR) return false;
      if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 4) {
        GraphicsControlBlock control;
        if (api.d_extension_to_gcb(block[0], block + 1, &control) == GIF_OK) transparent = control.TransparentColor;
      }
      while (block != nullptr)
        if (api.d_get_extension_next(gif, &block) == GIF_ERROR) return false;
      continue;
    }
    if (record != IMAGE_DESC_RECORD_TYPE) return false;
    if (api.d_get_image_desc(gif) == GIF_ERROR) return false;
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
          if (api.d_get_line(gif, indexes.data() + y * width, static_cast<int>(width)) == GIF_ERROR) return false;
    } else {
      for (int64_t y = 0; y < height; ++y)
        if (api.d_get_line(gif, indexes.data() + y * width, static_cast<int>(width)) == GIF_ERROR) return false;
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
  const Libgif& api = libgif();
  Source source{bytes, size, 0};
  int error = 0;
  Closer file{api.d_open(&source, read_bytes, &error)};
  if (file.gif == nullptr) return std::nullopt;
  Raster raster;
  if (!read_first_image(file.gif, size, &raster)) return std::nullopt;
  return raster;
}

std::optional<std::vector<uint8_t>> encode_gif(const Raster& raster) {
  const Libgif& api = libgif();
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
  GifFileType* gif = api.e_open(&out, write_bytes, &error);
  if (gif == nullptr) return std::nullopt;
  ColorMapObject* map = api.make_map_object(1 << bits, colours.data());
  bool ok = map != nullptr;
  api.e_set_gif_version(gif, true);
  ok = ok && api.e_put_screen_desc(gif, static_cast<int>(raster.width), static_cast<int>(raster.height), bits, 0, map) == GIF_OK;
  if (ok && palette.transparent >= 0) {
    GraphicsControlBlock control{DISPOSAL_UNSPECIFIED, false, 0, palette.transparent};
    GifByteType extension[4];
    size_t length = api.e_gcb_to_extension(&control, extension);
    ok = api.e_put_extension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension) == GIF_OK;
  }
  ok = ok && api.e_put_image_desc(gif, 0, 0, static_cast<int>(raster.width), static_cast<int>(raster.height), false,
                              nullptr) == GIF_OK;
  for (uint32_t y = 0; ok && y < raster.height; ++y)
    ok = api.e_put_line(gif, palette.indexes.data() + size_t{y} * raster.width, static_cast<int>(raster.width)) == GIF_OK;
  if (api.e_close_file(gif, &error) != GIF_OK) ok = false;
  api.free_map_object(map);
  if (!ok) return std::nullopt;
  return out;
}

}  // namespace kel::image_codecs
