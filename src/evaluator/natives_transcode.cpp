// transcode: UTF-8 text (a string! or a binary! from its index) turned
// into values by the lexer, all of them or, with /next, /one, /prescan and
// /scan, only the next value or its datatype; with /trace the lexer calls a
// function on its events, through the callback bridge this file installs.
//
// The source's index is the scan's start: an index past the tail reads as
// the tail, a binary's UTF-8 byte-order mark is skipped, and /part limits
// the length from there. A callback runs Kel code in the middle of a scan,
// which may change or move the source: a binary is scanned from a copy of
// its bytes. The bridge calls the callback as the interpreter calls a
// function, its frame on the evaluation stack; an exit that leaves the
// callback cannot pass through the lexer as a pending exit, so it becomes
// an exception.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/native_arguments.h"
#include "evaluator/natives.h"
#include "evaluator/natives_families.h"
#include "runtime/stack.h"
#include "io/lexer.h"
#include "runtime/errors.h"
#include "runtime/exits.h"
#include "runtime/memory.h"
#include "runtime/upcalls.h"
#include "datatypes/runtime_words.h"

namespace kel::natives_transcode {

namespace {

using namespace native_arguments;

// Accepted argument types, for the entry called with check_types.
Cell source_types;
Cell part_types;
Cell block_types;
Cell callback_types;

void transcode(bool check_types, const int32_t* refinements) {
  int32_t next_flag = refinements[0];
  int32_t one_flag = refinements[1];
  int32_t prescan_flag = refinements[2];
  int32_t scan_flag = refinements[3];
  int32_t part_at = refinements[4];
  int32_t into_at = refinements[5];
  int32_t trace_at = refinements[6];
  if (check_types) {
    check(source_types, 0);
    if (part_at >= 0) check(part_types, part_at);
    if (into_at >= 0) check(block_types, into_at);
    if (trace_at >= 0) check(callback_types, trace_at);
  }
  bool next = next_flag != -1;
  bool datatype_only = prescan_flag != -1 || scan_flag != -1;
  lexer::ScanOptions options;
  options.load = prescan_flag == -1;
  options.output = scan_flag == -1;
  options.single_token = next || one_flag != -1 || scan_flag != -1;

  Cell* source = argument(0);
  bool is_binary = source->is(TYPE_BINARY);
  // A head past the tail reads as the tail.
  uint32_t from_head = is_binary ? binary::buffer_of(source)->used() : string::rs_length_from_head(source);
  if (series::index_of(*source) > from_head) series::set_index(source, from_head);
  uint32_t available = from_head - series::index_of(*source);
  int64_t length = available;
  if (part_at >= 0) {
    const Cell& part = *argument(part_at);
    if (part.is(TYPE_INTEGER)) {
      length = part.int_at2();
    } else if (part.type() == source->type()) {
      length = static_cast<int64_t>(series::index_of(part)) - static_cast<int64_t>(series::index_of(*source));
    } else {
      fire(ErrorId::script_not_same_type);
    }
    if (length < 0) length = 0;
    if (length > available) length = available;
  }
  // A UTF-8 byte-order mark is no part of the text. The mark is looked for
  // in the source, whatever the part: a part that ends inside it reads
  // nothing rather than half a mark.
  if (is_binary && available >= 3) {
    const uint8_t* bytes = binary::rs_head(source);
    if (bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
      series::set_index(source, series::index_of(*source) + 3);
      length = std::max<int64_t>(length - 3, 0);
    }
  }
  options.source = source;
  if (into_at >= 0) options.target = argument(into_at);
  if (trace_at >= 0) options.callback = argument(trace_at);

  if (datatype_only && length == 0) {
    none::set_result();
    return;
  }
  Cell* output = stack::push_slot();
  int32_t consumed = 0;
  TypeId type;
  const memory::BulkMark mark = memory::bulk_mark();
  if (is_binary && options.callback != nullptr) {
    // The scan runs Kel code (the trace callback), which may change the
    // binary: it reads a copy of the bytes.
    const uint8_t* head = binary::rs_head(source);
    std::vector<uint8_t> bytes(head, head + length);
    type = lexer::scan(output, bytes.data(), static_cast<uint32_t>(length), options, &consumed);
  } else if (is_binary) {
    // Without a callback nothing but the scan runs: it reads the bytes
    // where they are, the buffer pinned against a move.
    Pin pin(series::node_of(*source));
    type = lexer::scan(output, binary::rs_head(source), static_cast<uint32_t>(length), options, &consumed);
  } else {
    type = lexer::scan_string(output, source, static_cast<int32_t>(length), options, &consumed);
  }
  if (datatype_only) {
    if (type == 0) *output = none::value;
    else *output = datatype::make(type);
  }
  if (next && one_flag == -1) {
    Cell* pair = block::push_only(2);
    block::rs_append(pair, *output);
    Cell rest = *source;
    series::set_index(&rest, series::index_of(rest) + static_cast<uint32_t>(consumed));
    block::rs_append(pair, rest);
    *output = *pair;
  }
  if (into_at >= 0) *output = *argument(into_at);
  memory::take_bulk_as_live(mark);
  stack::set_last(*output);
}

// --- The lexer's trace callbacks ----------------------------------------------------

// Calls a transcode/trace callback with the lexer's five event arguments and
// answers whether its result is truthy. The value the callback's input
// argument holds at the end goes back into arguments[1], so a callback that
// moves its input moves the scan. The lexer cannot pass a pending exit on:
// one that leaves the callback becomes an exception.
bool call_lexer_callback(const Cell& callback, Cell* arguments) {
  if (!callback.is(TYPE_FUNCTION)) fire(ErrorId::internal_routines);
  Cell* slot = stack::push(callback);
  Cell name = word::make_value(runtime_words::angled_lexer_callback, 0, -1);
  uint32_t given = interpreter::open_function_frame(callback, name, arguments, 5, false);
  Cell* frame = stack::arguments();
  interpreter::call_function(callback, function::context_of(callback));
  if (interpreter::exiting()) {
    uint32_t code = exits::pending;
    exits::pending = 0;
    exits::throw_unwind(code);
  }
  Cell result = frame[0];
  if (given > 1) arguments[1] = frame[1];
  stack::unwind();
  stack::top = slot;
  return logic::value_true(result, false, nullptr);
}

// The first value of a callback function's body (its event filter, when it
// is a block).
bool callback_first_body_value(const Cell& callback, Cell* out) {
  if (!callback.is(TYPE_FUNCTION)) return false;
  Cell body = *function::info(callback, function::kInfoBody);
  if (!body.is(TYPE_BLOCK) || series::index_of(body) >= block::length_from_head(&body)) return false;
  *out = *block::rs_abs_at(&body, series::index_of(body));
  return true;
}

}  // namespace

void init() {
  source_types = typeset_of({{TYPE_BINARY, TYPE_STRING}});
  part_types = typeset_of({{TYPE_INTEGER, TYPE_BINARY}});
  block_types = typeset_of({{TYPE_BLOCK}});
  callback_types = typeset_of({{TYPE_FUNCTION, TYPE_ROUTINE}});

  upcalls::table.lexer_callback = call_lexer_callback;
  upcalls::table.lexer_first_body_value = callback_first_body_value;

  natives::install(natives::Native::transcode, transcode);
}

}  // namespace kel::natives_transcode
