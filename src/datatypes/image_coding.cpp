// image! through the codecs (see decode_binary and encode in image.h). The
// bytes are copied out of series memory before a codec runs, and the pixels
// copied in after it, so no codec ever holds an address into a buffer the
// collector may move.
#include <cstring>

#include "datatypes/binary.h"
#include "datatypes/image.h"
#include "datatypes/image_codecs.h"
#include "datatypes/none.h"
#include "runtime/errors.h"
#include "runtime/output.h"
#include "runtime/stack.h"

namespace kel::image {

Cell decode_binary(const Cell& binary) {
  const uint8_t* head = binary::rs_head(&binary);
  size_t length = binary::rs_length(&binary);
  if (!image_codecs::sniff(head, length)) return none::value;
  std::vector<uint8_t> bytes(head, head + length);
  std::optional<image_codecs::Raster> raster = image_codecs::decode(bytes.data(), bytes.size());
  if (!raster) fire(ErrorId::access_bad_media);
  stack::Guard guard;
  return *push_pixels(raster->width, raster->height, raster->pixels.data());
}

Cell encode(const Cell& image, int32_t format) {
  if (image.data3 == 0) fire(ErrorId::access_bad_media);
  Cell result;
  if (area_of(image) == 0) {
    binary::init_cell(&result, 0);
    return result;
  }
  image_codecs::Raster raster;
  raster.width = width_of(image);
  raster.height = height_of(image);
  raster.pixels = copy_pixels(image);
  std::optional<std::vector<uint8_t>> bytes =
      image_codecs::encode(static_cast<image_codecs::Format>(format), raster);
  if (!bytes) fire(ErrorId::access_bad_media);
  memory::check_series_size(bytes->size());
  binary::init_cell(&result, static_cast<uint32_t>(bytes->size()));
  binary::append_bytes(&result, bytes->data(), static_cast<uint32_t>(bytes->size()));
  return result;
}

}  // namespace kel::image
