// The body the image decoders' libFuzzer targets share (png_fuzz.cpp ...
// bmp_fuzz.cpp): any bytes through one decoder, which must answer an image
// or nothing, never crash, hang, leak or allocate more than the bytes
// justify. An image that decodes is encoded again in the same format and
// decoded once more; the lossless formats must give the same pixels back
// (GIF is not counted among them: its encoder drops partial alpha).
//
// The decoders touch no cell and need no runtime: only the codec adapters
// and the libraries behind them run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

#include "datatypes/image_codecs.h"

namespace image_fuzz {

using kel::image_codecs::Raster;

template <class Decode, class Encode>
int run(const uint8_t* data, size_t size, Decode decode, Encode encode, bool lossless) {
  std::optional<Raster> raster = decode(data, size);
  if (!raster) return 0;
  if (raster->pixels.size() != size_t{raster->width} * raster->height) std::abort();
  std::optional<std::vector<uint8_t>> encoded = encode(*raster);
  if (!encoded) std::abort();
  std::optional<Raster> again = decode(encoded->data(), encoded->size());
  if (!again || again->width != raster->width || again->height != raster->height) std::abort();
  if (lossless && again->pixels != raster->pixels) std::abort();
  return 0;
}

}  // namespace image_fuzz
