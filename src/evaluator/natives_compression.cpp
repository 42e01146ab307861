// Compression natives: compress and decompress, the Kel entries into the
// deflate, zlib and gzip routines of src/io (deflate.h, inflate.h,
// framings.h).
//
// The method word is recognised by its canonical symbol, so letter case
// does not matter. A string is compressed as its UTF-8 text, a binary from
// its position. The result is always a new binary!.
//
// The routines read the input through a raw pointer while the output is
// made or enlarged, so a binary input is pinned for the call (nothing
// here reaches a safe point, but the rule holds: no buffer address is kept
// across an allocation without a pin). The output binary is never pinned:
// enlarging it gives its node a new buffer, whose address every call reads
// again.
//
// compress starts with room for the input plus 32 bytes and calls the
// compressor again with the size it reports while that does not fit.
// decompress lets the output grow while it decodes: it starts with the
// /size given (deflate and zlib), or with an estimate from the input's
// length, and the output doubles whenever it is full, so no length field
// of the data sizes an allocation by itself; a binary left with much more
// room than its bytes is copied into one of its size.
#include <algorithm>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/native_arguments.h"
#include "evaluator/natives.h"
#include "evaluator/natives_families.h"
#include "runtime/stack.h"
#include "io/deflate.h"
#include "io/framings.h"
#include "io/inflate.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace kel::natives_compression {

namespace {

using namespace native_arguments;

enum class Method : uint8_t { zlib, deflate, gzip };
constexpr const char* kMethodNames[] = {"zlib", "deflate", "gzip"};
constexpr size_t kMethodCount = 3;

// The canonical symbol of each method word, in Method order.
uint32_t method_symbols[kMethodCount] = {};

Cell compress_data_types;  // any-string! binary!
Cell binary_types;
Cell word_types;
Cell integer_types;

constexpr uint32_t kCompressionRoom = 32;  // compress's first output: the input plus this
// decompress's first output without /size: four times the input (most
// data deflates to a quarter or more of its size), within these bounds.
constexpr uint64_t kSmallestEstimate = 64;
constexpr uint64_t kLargestEstimate = uint64_t{64} << 20;
// Room past the result that decompress leaves in its binary, at most.
constexpr uint32_t kSlackKept = 4096;

// The method named by the argument; any other word raises script
// invalid-arg with it.
Method method_of(const Cell& word) {
  uint32_t canonical = symbol::resolve(word::symbol_of(word));
  for (size_t i = 0; i < kMethodCount; ++i)
    if (method_symbols[i] == canonical) return static_cast<Method>(i);
  Cell argument = word;
  fire(ErrorId::script_invalid_arg, &argument);
}

// Data the method cannot read (or, never in practice, a compressor's
// refusal other than a too small output) raises script invalid-data with
// the method word.
[[noreturn]] void refuse(const Cell& method_word) {
  Cell word = method_word;
  fire(ErrorId::script_invalid_data, &word);
}

// The binary's bytes as the routines' output: from its head to the end of
// its buffer.
compression::Output output_of(const Cell* binary) {
  SeriesBuffer* buffer = memory::buffer_of(binary->data2);
  return compression::Output(buffer->head_ptr(), buffer->size - buffer->offset);
}

void set_length(const Cell* binary, size_t length) {
  SeriesBuffer* buffer = memory::buffer_of(binary->data2);
  buffer->tail = buffer->offset + static_cast<uint32_t>(length);
}

// The grow function of decompress's output: the binary (the output's
// owner) takes a buffer of at least twice its capacity, keeping every byte
// of the old one; past the series limit it raises internal no-memory.
void grow_binary(compression::Output& output, size_t needed) {
  const Cell* binary = static_cast<const Cell*>(output.owner);
  SeriesBuffer* buffer = memory::buffer_of(binary->data2);
  uint64_t capacity = memory::grown_capacity(buffer->size, uint64_t{buffer->offset} + needed);
  buffer->tail = buffer->size;  // the decoder's bytes are not counted in the tail yet
  memory::expand_series(buffer, static_cast<uint32_t>(capacity));
  compression::Output grown = output_of(binary);
  output.bytes = grown.bytes;
  output.capacity = grown.capacity;
}

// Refinements: none. data [any-string! binary!] method [word!].
void compress(bool check_types, const int32_t*) {
  if (check_types) {
    check(compress_data_types, 0);
    check(word_types, 1);
  }
  Cell method_word = *argument(1);
  Method method = method_of(method_word);
  Cell data = *argument(0);
  std::string text;
  NodeId input_node = 0;
  size_t length;
  if (data.is(TYPE_BINARY)) {
    input_node = series::node_of(data);
    length = binary::rs_length(&data);
  } else {
    text = string::to_std_string(data);
    length = text.size();
  }
  uint64_t capacity = uint64_t{length} + kCompressionRoom;
  memory::check_series_size(capacity);
  Cell* made = binary::init_cell(stack::push_slot(), static_cast<uint32_t>(capacity));
  Pin pin(input_node);
  for (;;) {
    const uint8_t* input = input_node != 0 ? binary::rs_head(&data) : reinterpret_cast<const uint8_t*>(text.data());
    compression::Output output = output_of(made);
    compression::Outcome outcome;
    switch (method) {
      case Method::zlib: outcome = zlib::compress(output, input, length); break;
      case Method::deflate: outcome = deflate::compress(output, input, length); break;
      default: outcome = gzip::compress(output, input, length); break;
    }
    if (outcome.result == compression::kDone) {
      set_length(made, outcome.size);
      break;
    }
    if (outcome.result != compression::kOutputTooSmall) refuse(method_word);
    memory::check_series_size(outcome.size);
    memory::resize_series_buffer(memory::buffer_of(made->data2), static_cast<uint32_t>(outcome.size));
  }
  stack::set_last(*made);
}

// Refinement: /size sz. data [binary!] method [word!].
void decompress(bool check_types, const int32_t* refinements) {
  int32_t size_at = refinements[0];
  if (check_types) {
    check(binary_types, 0);
    check(word_types, 1);
    if (used(size_at)) check(integer_types, size_at);
  }
  Cell method_word = *argument(1);
  Method method = method_of(method_word);
  Cell data = *argument(0);
  size_t length = binary::rs_length(&data);
  uint64_t capacity;
  if (used(size_at) && method != Method::gzip) {
    Cell size = *argument(size_at);
    if (integer::get(size) < 0) fire(ErrorId::script_out_of_range, &size);
    capacity = static_cast<uint64_t>(integer::get(size));
  } else {
    capacity = std::min(std::max(uint64_t{length} * 4, kSmallestEstimate), kLargestEstimate);
  }
  memory::check_series_size(capacity);
  Cell* made = binary::init_cell(stack::push_slot(), static_cast<uint32_t>(capacity));
  Pin pin(series::node_of(data));
  compression::Output output = output_of(made);
  output.grow = grow_binary;
  output.owner = made;
  const uint8_t* input = binary::rs_head(&data);
  compression::Outcome outcome;
  switch (method) {
    case Method::zlib: outcome = zlib::decompress(output, input, length); break;
    case Method::deflate: outcome = deflate::decompress(output, input, length); break;
    default: outcome = gzip::decompress(output, input, length); break;
  }
  if (outcome.result != compression::kDone) refuse(method_word);
  set_length(made, outcome.size);
  // An estimate or a doubling far beyond the result is given back: the
  // binary may be kept long after.
  SeriesBuffer* buffer = memory::buffer_of(made->data2);
  if (buffer->size - buffer->used() > buffer->used() / 2 + kSlackKept)
    memory::expand_series(buffer, std::max<uint32_t>(buffer->used(), 16));
  stack::set_last(*made);
}

}  // namespace

void init() {
  for (size_t i = 0; i < kMethodCount; ++i) method_symbols[i] = symbol::resolve(symbol::make(kMethodNames[i]));

  compress_data_types = typeset_of({kAnyString, {TYPE_BINARY}});
  binary_types = typeset_of({{TYPE_BINARY}});
  word_types = typeset_of({{TYPE_WORD}});
  integer_types = typeset_of({{TYPE_INTEGER}});

  natives::install(natives::Native::compress, compress);
  natives::install(natives::Native::decompress, decompress);
}

}  // namespace kel::natives_compression
