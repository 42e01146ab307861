// The zlib (RFC 1950) and gzip (RFC 1952) framings around raw deflate
// streams (deflate.h, inflate.h).
//
// zlib stream as written: 0x78 0x01, the deflate data, the Adler-32 of the
// uncompressed data, big-endian. gzip member as written: 0x1F 0x8B, method
// 8, flags 0, modification time 0 (4 bytes), extra flags 4, OS byte 4, the
// deflate data, the CRC-32 of the uncompressed data and its length modulo
// 2^32, both little-endian. Every input is wrapped, also one that already
// looks like a gzip member.
//
// Reading, a zlib header passes when its two bytes as a big-endian number
// are a multiple of 31, the method is 8, the window size field is at most
// 7 and no preset dictionary is asked for; a gzip member needs more than
// 17 bytes, method 8 and no reserved flag, and its optional fields
// (FEXTRA, FNAME, FCOMMENT, FHCRC) must end before the 8-byte trailer.
// The check value must match the decoded bytes, and for gzip so must the
// length. A gzip member's length field never sizes the output beyond
// kTrustedSizeHint: a larger output grows while it is decoded.
//
// Results as in compression.h: the compressors answer kMalformed for a
// capacity below the framing's minimum (6 bytes for zlib, 18 for gzip;
// the size then is the input length plus that minimum).
#pragma once

#include <cstddef>
#include <cstdint>

#include "io/compression.h"

namespace kel::zlib {

constexpr size_t kFramingBytes = 6;

compression::Outcome compress(const compression::Output& output, const uint8_t* input, size_t length);
compression::Outcome decompress(compression::Output& output, const uint8_t* input, size_t length);

// With an in/out capacity: on return it holds the stream's or the decoded
// length, or the size needed.
int32_t compress(uint8_t* output, size_t* capacity, const uint8_t* input, size_t length);
int32_t decompress(uint8_t* output, size_t* capacity, const uint8_t* input, size_t length);

}  // namespace kel::zlib

namespace kel::gzip {

constexpr size_t kFramingBytes = 18;
// The most output a member's length field makes room for before decoding.
constexpr size_t kTrustedSizeHint = size_t{1} << 20;

compression::Outcome compress(const compression::Output& output, const uint8_t* input, size_t length);
// Without a grow function, an output below the member's length field gives
// kOutputTooSmall with that length, before anything is decoded.
compression::Outcome decompress(compression::Output& output, const uint8_t* input, size_t length);

int32_t compress(uint8_t* output, size_t* capacity, const uint8_t* input, size_t length);
int32_t decompress(uint8_t* output, size_t* capacity, const uint8_t* input, size_t length);

}  // namespace kel::gzip
