// The deflate compressor: raw deflate streams (RFC 1951) of the system's
// own, for the compress native's deflate method and the zlib and gzip
// framings (framings.h).
//
// It trades ratio for speed and simplicity: the whole input becomes one
// final block with the fixed Huffman codes, and matches come from a table
// of 1024 buckets of 4 recent positions, taking the first slot whose three
// bytes agree, with no search for a longer match. The output is a function
// of the input alone, and decodes with any RFC 1951 decoder.
//
// No heap allocation: the match table (positions as 32-bit numbers, so an
// input stays below 4 GiB) lives in the call. The input is read only inside
// its bounds.
#pragma once

#include <cstddef>
#include <cstdint>

#include "io/compression.h"

namespace kel::deflate {

// Writes the raw deflate stream of the input into the output (its grow
// function is not used). The result is kDone when it fitted, else
// kOutputTooSmall (nothing was written at or past the capacity); the size
// is the stream's length either way.
compression::Outcome compress(const compression::Output& output, const uint8_t* input, size_t length);

// The same with an in/out capacity: on return it holds the stream's
// length. Answers 0 or 1.
int32_t compress(uint8_t* output, size_t* capacity, const uint8_t* input, size_t length);

}  // namespace kel::deflate
