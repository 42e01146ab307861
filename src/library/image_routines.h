// The routines of the image codec objects (system/codecs/png, jpeg, bmp,
// gif and tiff), through which load and save reach the image codecs
// (datatypes/image_codecs.h).
//
// They are rows of the routine table (routines.h) that no global word
// names: boot/system.kel takes them from `system-internals` into the codec
// objects it puts into system/codecs.
#pragma once

#include <cstdint>

namespace kel::image_routines {

// img [image!] where [any-type!]: a new binary! of the image in the format
// the row's argument names (0 BMP, 1 PNG, 2 GIF, 3 JPEG, 4 TIFF).
void encode(uint32_t format);
// data [any-type!]: the image! a binary!, file! or url! holds. A binary
// without a known signature gives none, one that does not decode raises
// access bad-media; a file or URL that cannot be read or decoded raises
// access cannot-open with it.
void decode(uint32_t);

}  // namespace kel::image_routines
