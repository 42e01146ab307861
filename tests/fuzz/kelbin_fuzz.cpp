// libFuzzer target for the kelbin reader: any bytes, read as the codec
// reads data from outside. A read may raise a Kel error (invalid data, a
// bad record, a datatype without a form) and nothing else: never a crash,
// a hang or an allocation the input does not justify. What reads back is
// written again in both layouts and read once more, so the writers meet
// every shape the reader accepts; those steps may raise Kel errors too (a
// value that came back nested deeper than the writer goes).
//
// The input is read as it is, and once more behind a fixed prefix
// ("KELBIN", version 2, then its first byte as the flags), so that inputs
// whose magic a mutation broke still reach the records.
//
// Between two inputs nothing read is reachable any more: the end of an
// input is a safe point, where the collector runs once the allocations
// since its last run reached its budget, so memory stays flat however long
// the fuzzer runs.
//
// Built and run by `make fuzz-kelbin` (clang++ with
// -fsanitize=fuzzer,address,undefined), seeded from tests/fuzz/kelbin_corpus.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "boot/entry.h"
#include "datatypes/block.h"
#include "runtime/stack.h"
#include "io/kelbin.h"
#include "runtime/collector.h"
#include "runtime/exits.h"
#include "runtime/memory.h"
#include "runtime/runtime.h"

namespace {

using kel::Cell;

// Runs a step that may raise a Kel error; any other exit is a fault.
template <class Step>
void catching_errors(Step&& step) {
  kel::stack::Guard guard;
  kel::stack::mark_try(nullptr);
  try {
    step();
  } catch (const kel::exits::Unwind& unwind) {
    if (unwind.code != kel::exits::kError) std::abort();
    kel::runtime::system().exit_code = 0;
  }
}

// Reads the bytes into a new block; true when they read back.
bool read_into(const uint8_t* data, size_t size, Cell* out) {
  bool read = false;
  catching_errors([&] {
    Cell* block = kel::block::push_only(1);
    kel::kelbin::decode(data, size, *block, true, nullptr);
    *out = *block;
    read = true;
  });
  return read;
}

// Writes the value in a layout and reads the result back.
void write_and_read(const Cell& value, bool compact) {
  catching_errors([&] {
    Cell encoded = compact ? kel::kelbin::encode_cp(value) : kel::kelbin::encode(value);
    kel::stack::push(encoded);
    kel::Pin pin(encoded.data2);
    kel::SeriesBuffer* buffer = kel::memory::buffer_of(encoded.data2);
    Cell again;
    // What one writer wrote, the reader reads, unless it runs deeper than
    // the reader goes.
    read_into(buffer->head_ptr(), buffer->used(), &again);
  });
}

void exercise(const uint8_t* data, size_t size) {
  kel::stack::Guard guard;
  Cell* value = kel::stack::push(kel::make_cell(kel::TYPE_NONE));
  if (!read_into(data, size, value)) return;
  write_and_read(*value, true);
  write_and_read(*value, false);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool booted = (kel::boot::init_runtime(nullptr), true);
  (void)booted;
  if (size > 1 << 16) return 0;
  exercise(data, size);
  if (size > 0) {
    std::vector<uint8_t> prefixed = {'K', 'E', 'L', 'B', 'I', 'N', 2, data[0]};
    prefixed.insert(prefixed.end(), data + 1, data + size);
    exercise(prefixed.data(), prefixed.size());
  }
  kel::collector::safe_point();
  return 0;
}
