// The routines of the kelbin codec object (system/codecs/kelbin), through
// which load and save reach the kelbin format (io/kelbin.h): encode* writes
// a value in the compact or the fixed layout, decode reads a binary, or
// the bytes of a file or URL, in the codec mode (untrusted data).
//
// They are rows of the routine table (routines.h) that no global word
// names: boot/system.kel takes them from `system-internals` into the codec
// object it puts into system/codecs.
#pragma once

#include <cstdint>

namespace kel::kelbin_codec {

// data [any-type!] compact? [logic!]: a new binary! of the encoding.
void encode_star(uint32_t);
// payload [any-type!]: the value the payload holds (a block when it holds
// other than one top-level value).
void decode(uint32_t);

}  // namespace kel::kelbin_codec
