// libFuzzer target for the deflate decoder and its framings: any bytes,
// decoded as raw deflate, as a zlib stream and as a gzip member, into an
// output of fixed room and into one that grows; then the same bytes taken
// as data, compressed by each method and decoded again.
//
// What must hold: every result is one of the codes 0 to 5; with fixed room
// a result of 0 fits and a result of 1 does not; a growing output never
// reports 1, and when both decodings succeed (or the fixed one only lacked
// room) they agree on the size, and when both succeed on every byte; a
// round trip gives the data back. Memory errors, leaks and undefined
// behaviour are the sanitizers' to report; a stream can only decode to
// about 1032 times its length, so no input makes the decoder run long.
//
// Built and run by `make fuzz-inflate` (clang++ with
// -fsanitize=fuzzer,address,undefined), seeded from tests/fuzz/inflate_corpus.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "io/compression.h"
#include "io/deflate.h"
#include "io/framings.h"
#include "io/inflate.h"

namespace {

using kel::compression::Outcome;
using kel::compression::Output;
using Bytes = std::vector<uint8_t>;

void require(bool condition) {
  if (!condition) std::abort();
}

// An output that grows as the decoder asks, in an allocation of exact
// size; new room is left uninitialised (the decoder reads only what it
// wrote), so a large length field does not cost a large clearing.
struct Growing {
  std::unique_ptr<uint8_t[]> buffer = std::make_unique<uint8_t[]>(1);
  Output output;
  Growing() {
    output = Output(buffer.get(), 1);
    output.owner = this;
    output.grow = [](Output& target, size_t needed) {
      auto* self = static_cast<Growing*>(target.owner);
      require(needed > target.capacity);
      size_t capacity = std::max(needed, target.capacity * 2);
      std::unique_ptr<uint8_t[]> grown(new uint8_t[capacity]);
      std::copy(self->buffer.get(), self->buffer.get() + target.capacity, grown.get());
      self->buffer = std::move(grown);
      target.bytes = self->buffer.get();
      target.capacity = capacity;
    };
  }
};

using Decoder = Outcome (*)(Output&, const uint8_t*, size_t);
using Encoder = Outcome (*)(const Output&, const uint8_t*, size_t);

void check_decoder(Decoder decode, const Bytes& input, size_t room) {
  Bytes fixed(room);
  Output fixed_output(fixed.data(), fixed.size());
  Outcome bounded = decode(fixed_output, input.data(), input.size());
  require(bounded.result >= 0 && bounded.result <= 5);
  if (bounded.result == kel::compression::kDone) require(bounded.size <= room);
  if (bounded.result == kel::compression::kOutputTooSmall) require(bounded.size > room);

  Growing growing;
  Outcome grown = decode(growing.output, input.data(), input.size());
  require(grown.result >= 0 && grown.result <= 5 && grown.result != kel::compression::kOutputTooSmall);
  require(growing.output.bytes == growing.buffer.get());
  bool both_decoded = grown.result == kel::compression::kDone &&
                      (bounded.result == kel::compression::kDone || bounded.result == kel::compression::kOutputTooSmall);
  if (both_decoded) require(grown.size == bounded.size);
  if (both_decoded && bounded.result == kel::compression::kDone)
    require(std::equal(fixed.begin(), fixed.begin() + static_cast<ptrdiff_t>(grown.size), growing.buffer.get()));
}

void check_round_trip(Encoder encode, Decoder decode, const Bytes& data) {
  Bytes packed(data.size() + 32);
  Outcome written = encode(Output(packed.data(), packed.size()), data.data(), data.size());
  if (written.result == kel::compression::kOutputTooSmall) {
    packed.assign(written.size, 0);
    written = encode(Output(packed.data(), packed.size()), data.data(), data.size());
  }
  require(written.result == kel::compression::kDone);
  packed.resize(written.size);
  Growing growing;
  Outcome read = decode(growing.output, packed.data(), packed.size());
  require(read.result == kel::compression::kDone && read.size == data.size());
  require(std::equal(data.begin(), data.end(), growing.buffer.get()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return 0;
  Bytes input(data, data + size);
  // The fixed room: from the first byte, so that both fitting and
  // overflowing outputs are tried.
  size_t room = size == 0 ? 0 : size_t{data[0]} * 16;
  check_decoder(kel::deflate::decompress, input, room);
  check_decoder(kel::zlib::decompress, input, room);
  check_decoder(kel::gzip::decompress, input, room);
  check_round_trip(kel::deflate::compress, kel::deflate::decompress, input);
  check_round_trip(kel::zlib::compress, kel::zlib::decompress, input);
  check_round_trip(kel::gzip::compress, kel::gzip::decompress, input);
  return 0;
}
