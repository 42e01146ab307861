// libFuzzer target for the lexer: any bytes, scanned every way a caller
// may scan them. A strict load may raise a Kel error (bad text, bad UTF-8)
// and nothing else; the checking scans never raise; after every scan the
// chain of active scans is empty again. Memory errors and undefined
// behaviour are the sanitizers' to report.
//
// Between two inputs nothing the scans made is reachable any more: the end
// of an input is a safe point, where the collector runs once the allocations
// since its last run reached its budget, so memory stays flat however long
// the fuzzer runs.
//
// Built and run by `make fuzz-lexer` (clang++ with
// -fsanitize=fuzzer,address,undefined), seeded from tests/fuzz/lexer_corpus.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "boot/entry.h"
#include "datatypes/binary.h"
#include "runtime/stack.h"
#include "runtime/upcalls.h"
#include "io/lexer.h"
#include "runtime/collector.h"
#include "runtime/exits.h"
#include "runtime/runtime.h"

namespace {

using kel::Cell;
namespace lexer = kel::lexer;

// Runs a scan that may raise a Kel error; any other exit is a fault.
void scan_catching_errors(const uint8_t* data, uint32_t size, const lexer::ScanOptions& options) {
  kel::stack::Guard guard;
  kel::stack::mark_try(nullptr);
  try {
    Cell result;
    int32_t position = 0;
    lexer::scan(&result, data, size, options, &position);
    if (position < 0 || static_cast<uint32_t>(position) > size) std::abort();
  } catch (const kel::exits::Unwind& unwind) {
    if (unwind.code != kel::exits::kError) std::abort();
    kel::runtime::system().exit_code = 0;
  }
  if (lexer::active_scans() != 0) std::abort();
}

// A scan that must end quietly whatever the text.
void scan_quietly(const uint8_t* data, uint32_t size, const lexer::ScanOptions& options) {
  Cell result;
  int32_t position = 0;
  lexer::scan(&result, data, size, options, &position);
  if (position < 0 || static_cast<uint32_t>(position) > size) std::abort();
  if (lexer::active_scans() != 0) std::abort();
}

// A stand-in for a Kel callback: its answers, and now and then a move of
// its input one step on, come from bits of the input itself.
uint32_t callback_bits = 0;

bool answer_event(const Cell&, Cell* arguments) {
  callback_bits = callback_bits >> 1 | callback_bits << 31;
  if ((callback_bits & 6) == 6) arguments[1].data1 += 1;
  return (callback_bits & 1) != 0;
}

bool no_event_list(const Cell&, Cell*) { return false; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool booted = [] {
    kel::boot::init_runtime(nullptr);
    kel::upcalls::table.lexer_callback = answer_event;
    kel::upcalls::table.lexer_first_body_value = no_event_list;
    return true;
  }();
  (void)booted;
  if (size > 1 << 16) return 0;
  auto length = static_cast<uint32_t>(size);

  scan_catching_errors(data, length, lexer::ScanOptions{});
  lexer::ScanOptions one;
  one.single_token = true;
  scan_catching_errors(data, length, one);

  lexer::ScanOptions check;
  check.output = false;
  scan_quietly(data, length, check);
  lexer::ScanOptions quick;
  quick.load = false;
  scan_quietly(data, length, quick);
  quick.single_token = true;
  scan_quietly(data, length, quick);

  // Every event through a callback whose answers vary with the input.
  callback_bits = 0x9E3779B9u;
  for (size_t i = 0; i < size && i < 16; ++i) callback_bits = callback_bits * 31 + data[i];
  Cell callback = kel::make_cell(kel::TYPE_NONE);
  Cell source = kel::binary::make_value(0);
  lexer::ScanOptions traced;
  traced.callback = &callback;
  traced.source = &source;
  scan_catching_errors(data, length, traced);
  kel::collector::safe_point();
  return 0;
}
