// The LZ bit-stream codec: a small LZ77 format of the runtime's own, for
// payloads stored packed inside the program image (the boot image, packed
// kelbin payloads).
//
// A packed record is an 8-byte header (packed size: bytes of block area that
// follow; unpacked size: total output bytes; both 32-bit little-endian) and
// a sequence of independent blocks. A block is a 32-bit length L (1 to
// 1048576 output bytes) followed by a bit stream, read least significant bit
// first, of literals and back references into the block's own output; the
// next block starts at the first byte the stream did not touch. Blocks never
// refer to each other, so each decodes on its own.
//
// Both directions keep their state local to the call: there are no globals,
// and a record is decoded (or written) in one call.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kel::lz_codec {

constexpr uint32_t kHeaderSize = 8;
constexpr uint32_t kBlockLimit = 1048576;   // output bytes of one block, at most
constexpr uint32_t kMinimumInput = 128;      // shorter inputs are not compressed
constexpr uint32_t kLongestMatch = 566;
constexpr uint32_t kFarthestMatch = 262144;

// Unpacks the record of record_length bytes. Answers a buffer from the
// runtime heap (capacity unpacked size + 8; release it with free_buffer)
// holding the output, or null when the record is inconsistent in any way:
// a header or packed size that does not fit the input, a bad block length,
// a stream that runs past the block area, a reference before the block's
// start or past its end, or an output total that differs from the unpacked
// size. No byte outside the record is read, whatever it holds. When
// produced is given it receives the number of output bytes.
uint8_t* decompress(const uint8_t* record, size_t record_length, uint32_t* produced = nullptr);

// Packs length bytes of source into output, which must have room for length
// bytes. Answers the size of the record written (packed size + 8), or -1
// when the input is shorter than 128 bytes or the record would not fit in
// length bytes (the output then holds no valid record). The output is a
// function of the input alone.
int64_t compress(const uint8_t* source, uint32_t length, uint8_t* output);

// Releases a buffer answered by decompress (null does nothing).
void free_buffer(uint8_t* buffer);

}  // namespace kel::lz_codec
