// What the compression routines share: their result codes and the output
// they write to.
//
// Every routine (deflate.h, inflate.h, framings.h) writes into an output
// that its caller owns: an address and a capacity. A routine never writes a
// byte at or past the capacity. Without a way to grow, it goes on counting
// past the capacity and reports result 1 with the size it would have
// needed, so the caller can enlarge the buffer and call again. With one (a
// grow function), it asks for more room before writing past the end and
// goes on in the larger buffer; the grow function may raise (a Kel error
// passes through the routines, which hold nothing that needs releasing).
//
// The routines read their input through a raw pointer and never allocate
// series memory themselves; a grow function that does must not move the
// input (the caller pins it).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kel::compression {

// Result codes shared by every routine.
enum Result : int32_t {
  kDone = 0,
  kOutputTooSmall = 1,  // the size variable holds the size needed
  kMalformed = 2,       // bad framing or stream, check value mismatch, buffer below a framing's minimum
  kStoredPastEnd = 3,   // a stored block runs past the end of the input
  kReservedBlock = 4,   // a block of the reserved type 3
  kDistanceTooFar = 5,  // a back reference before the start of the output
};

struct Output {
  uint8_t* bytes = nullptr;
  size_t capacity = 0;
  // Makes room for at least needed bytes, keeping the bytes written so far,
  // and updates bytes and capacity (which may then exceed needed). Null:
  // the output cannot grow.
  void (*grow)(Output& output, size_t needed) = nullptr;
  void* owner = nullptr;  // for the grow function

  Output() = default;
  Output(uint8_t* address, size_t size) : bytes(address), capacity(size) {}
};

// What a routine reports: its result code and a size (the stream's length
// for the compressors, the decoded length for the decompressors; with
// kOutputTooSmall the size needed).
struct Outcome {
  Result result;
  size_t size;
};

}  // namespace kel::compression
