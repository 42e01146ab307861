// The zlib and gzip framings (see framings.h).
#include "io/framings.h"

#include <algorithm>

#include "runtime/checksum.h"
#include "io/deflate.h"
#include "io/inflate.h"

namespace kel {

namespace {

using compression::Outcome;
using compression::Output;

uint32_t big_endian32(const uint8_t* at) {
  return uint32_t{at[0]} << 24 | uint32_t{at[1]} << 16 | uint32_t{at[2]} << 8 | at[3];
}
uint32_t little_endian32(const uint8_t* at) {
  return uint32_t{at[3]} << 24 | uint32_t{at[2]} << 16 | uint32_t{at[1]} << 8 | at[0];
}
void store_big_endian32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}
void store_little_endian32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

// The deflate data between a framing's header and its trailer; the
// outcome's size is the whole stream's length.
Outcome deflate_inside(const Output& output, size_t header, size_t framing, const uint8_t* input, size_t length) {
  Outcome inner = deflate::compress(Output(output.bytes + header, output.capacity - header), input, length);
  size_t size = inner.size + framing;
  if (inner.result != compression::kDone || size > output.capacity) return {compression::kOutputTooSmall, size};
  return {compression::kDone, size};
}

// The in/out capacity form of an outcome.
int32_t report(Outcome outcome, size_t* capacity) {
  *capacity = outcome.size;
  return outcome.result;
}

}  // namespace

namespace zlib {

Outcome compress(const Output& output, const uint8_t* input, size_t length) {
  if (output.capacity < kFramingBytes) return {compression::kMalformed, length + kFramingBytes};
  output.bytes[0] = 0x78;
  output.bytes[1] = 0x01;
  Outcome outcome = deflate_inside(output, 2, kFramingBytes, input, length);
  if (outcome.result == compression::kDone)
    store_big_endian32(output.bytes + outcome.size - 4, crypto::adler32_update(1, input, length));
  return outcome;
}

Outcome decompress(Output& output, const uint8_t* input, size_t length) {
  if (length < kFramingBytes) return {compression::kMalformed, 0};
  uint32_t method = input[0], flags = input[1];
  bool header_passes = (method << 8 | flags) % 31 == 0 && (method & 0x0F) == 8 && (method & 0x80) == 0 &&
                       (flags & 0x20) == 0;
  if (!header_passes) return {compression::kMalformed, 0};
  Outcome outcome = deflate::decompress(output, input + 2, length - kFramingBytes);
  if (outcome.result != compression::kDone) return outcome;
  if (crypto::adler32_update(1, output.bytes, outcome.size) != big_endian32(input + length - 4))
    return {compression::kMalformed, outcome.size};
  return outcome;
}

int32_t compress(uint8_t* output, size_t* capacity, const uint8_t* input, size_t length) {
  return report(compress(Output(output, *capacity), input, length), capacity);
}

int32_t decompress(uint8_t* output, size_t* capacity, const uint8_t* input, size_t length) {
  Output target(output, *capacity);
  return report(decompress(target, input, length), capacity);
}

}  // namespace zlib

namespace gzip {

namespace {

constexpr uint8_t kHeader[10] = {0x1F, 0x8B, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x04};
constexpr size_t kTrailerBytes = 8;

enum Flag : uint8_t { kHeaderCrc = 2, kExtra = 4, kName = 8, kComment = 16, kReserved = 0xE0 };

// The offset of the deflate data of the member, or 0 when its header is
// malformed. The header's fields must end before the trailer.
size_t data_offset(const uint8_t* input, size_t length) {
  if (length < kFramingBytes || input[0] != 0x1F || input[1] != 0x8B || input[2] != 0x08) return 0;
  uint8_t flags = input[3];
  if (flags & kReserved) return 0;
  size_t limit = length - kTrailerBytes;
  size_t position = 10;
  if (flags & kExtra) {
    if (limit - position < 2) return 0;
    size_t extra = input[position] | size_t{input[position + 1]} << 8;
    position += 2;
    if (limit - position < extra) return 0;
    position += extra;
  }
  for (Flag text : {kName, kComment}) {
    if (!(flags & text)) continue;
    const uint8_t* end = std::find(input + position, input + limit, 0);
    if (end == input + limit) return 0;
    position = static_cast<size_t>(end - input) + 1;
  }
  if (flags & kHeaderCrc) {
    if (limit - position < 2) return 0;
    uint32_t stored = input[position] | uint32_t{input[position + 1]} << 8;
    if ((crypto::crc32_update(0, input, position) & 0xFFFF) != stored) return 0;
    position += 2;
  }
  return position;
}

}  // namespace

Outcome compress(const Output& output, const uint8_t* input, size_t length) {
  if (output.capacity < kFramingBytes) return {compression::kMalformed, length + kFramingBytes};
  std::copy(kHeader, kHeader + sizeof kHeader, output.bytes);
  Outcome outcome = deflate_inside(output, sizeof kHeader, kFramingBytes, input, length);
  if (outcome.result == compression::kDone) {
    uint8_t* trailer = output.bytes + outcome.size - kTrailerBytes;
    store_little_endian32(trailer, crypto::crc32_update(0, input, length));
    store_little_endian32(trailer + 4, static_cast<uint32_t>(length));
  }
  return outcome;
}

Outcome decompress(Output& output, const uint8_t* input, size_t length) {
  size_t offset = data_offset(input, length);
  if (offset == 0) return {compression::kMalformed, 0};
  const uint8_t* trailer = input + length - kTrailerBytes;
  uint32_t expected = little_endian32(trailer + 4);
  if (output.grow == nullptr) {
    if (output.capacity < expected) return {compression::kOutputTooSmall, expected};
  } else {
    size_t hint = std::min<size_t>(expected, kTrustedSizeHint);
    if (output.capacity < hint) output.grow(output, hint);
  }
  Outcome outcome = deflate::decompress(output, input + offset, length - kTrailerBytes - offset);
  if (outcome.result != compression::kDone) return outcome;
  if (static_cast<uint32_t>(outcome.size) != expected) return {compression::kMalformed, outcome.size};
  if (crypto::crc32_update(0, output.bytes, outcome.size) != little_endian32(trailer))
    return {compression::kMalformed, outcome.size};
  return outcome;
}

int32_t compress(uint8_t* output, size_t* capacity, const uint8_t* input, size_t length) {
  return report(compress(Output(output, *capacity), input, length), capacity);
}

int32_t decompress(uint8_t* output, size_t* capacity, const uint8_t* input, size_t length) {
  Output target(output, *capacity);
  return report(decompress(target, input, length), capacity);
}

}  // namespace gzip

}  // namespace kel
