// Tracing hooks (see trace.h). The tracer is called like any function, in a
// frame of its own opened above everything the observed evaluation uses, so
// that a report never disturbs a cell the interpreter is still working on.
#include "evaluator/trace.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/pair.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "runtime/stack.h"
#include "runtime/collector.h"
#include "runtime/exits.h"
#include "datatypes/runtime_words.h"
#include "runtime/upcalls.h"
#include "runtime/runtime.h"

namespace kel::trace {

namespace detail {
bool tracing = false;
}
using detail::tracing;

namespace {
// The event words in bit order.
constexpr const char* kEventNames[kEventCount] = {"init",  "end",  "prolog", "epilog", "enter", "exit",
                                                  "open",  "return", "fetch", "push",  "set",  "call",
                                                  "error", "throw", "catch", "expr"};

Cell tracer = make_cell(TYPE_NONE);
uint32_t mask = kDefaultMask;
bool tracer_installed = false;
bool in_tracer = false;  // the tracer is running: nothing turns tracing on
uint32_t event_symbols[kEventCount] = {};
bool ready = false;

// The words and the tracer's root are made the first time a tracer is
// installed: nothing is reported before that.
void make_ready() {
  if (ready) return;
  ready = true;
  for (uint32_t i = 0; i < kEventCount; ++i) event_symbols[i] = symbol::make(kEventNames[i]);
  collector::add_global_root(&tracer);
}

uint32_t bit_index(uint32_t event) {
  uint32_t i = 0;
  while (i < kEventCount && (event >> i) != 1) ++i;
  return i;
}

// The offset of an absolute position from the code's index, -1 when the
// position lies outside the code.
int32_t offset_in(const Cell& code, uint32_t position) {
  uint32_t index = series::index_of(code);
  if (position == kNoPosition || position < index) return -1;
  uint32_t tail = block::buffer_of(&code)->cell_count();
  if (position > tail) return -1;
  return static_cast<int32_t>(position - index);
}

// Blocks and paths are code; anything else is reported as none.
bool is_code(TypeId type) { return series::is_block_kind(type); }

bool carries_ref(uint32_t event) {
  return (event & (kSet | kProlog | kEpilog | kReturn | kCall)) != 0;
}

// Tracing off while the tracer runs, back as it was afterwards, however the
// tracer ends. That holds for user code the tracer calls as well (an
// inspector function of the user's), also when the event comes from
// library code that installed the tracer for the user code it runs.
class TracerRun {
 public:
  TracerRun()
      : saved_tracing_(tracing), saved_user_tracing_(interpreter::user_tracing()), saved_in_tracer_(in_tracer) {
    interpreter::set_user_tracing(false);
    tracing = false;
    in_tracer = true;
  }
  ~TracerRun() {
    interpreter::set_user_tracing(saved_user_tracing_);
    tracing = saved_tracing_;
    in_tracer = saved_in_tracer_;
  }
  TracerRun(const TracerRun&) = delete;
  TracerRun& operator=(const TracerRun&) = delete;

 private:
  bool saved_tracing_;
  bool saved_user_tracing_;
  bool saved_in_tracer_;
};

}  // namespace

bool installed() { return tracer_installed; }

// The room a report keeps free for the tracer's frame and the first steps
// of its body. An event that finds less goes unheard: the traced code then
// meets the limit where it would untraced (same depth, same near and
// where), and the error event of a stack overflow cannot overflow again
// opening the tracer's frame, which would report that error in turn,
// without end.
constexpr ptrdiff_t kTracerFrameRoom = 8;
constexpr ptrdiff_t kTracerCellRoom = 256;

void fire(uint32_t event, const Cell* code, uint32_t position, const Cell* value, const Cell* ref) {
  if (!tracing || (mask & event) == 0 || !tracer.is(TYPE_FUNCTION)) return;
  if (stack::frame_end - stack::frame_top < kTracerFrameRoom || stack::value_end - stack::top < kTracerCellRoom)
    return;
  // The six values, copied before anything moves.
  Cell reported[6];
  if (code != nullptr && is_code(code->type())) {
    reported[1] = *code;
    reported[2] = integer::make(offset_in(*code, position));
  } else {
    reported[1] = none::value;
    reported[2] = integer::make(-1);
  }
  reported[3] = value != nullptr ? *value : none::value;
  reported[4] = ref != nullptr && carries_ref(event) ? *ref : none::value;
  word::make_at(event_symbols[bit_index(event)], &reported[0]);  // may allocate: after the copies
  Cell* observed_arguments = stack::arguments();
  Cell* observed_top = stack::top;
  stack::Frame* observed_frame_top = stack::frame_top;
  reported[5] = pair::make(static_cast<int32_t>(observed_arguments - stack::bottom),
                           static_cast<int32_t>(observed_top - stack::bottom));
  // The cell at the top may be the one reported (an infix left operand):
  // the tracer's frame starts above it.
  if (stack::top + 1 >= stack::value_end) stack::overflow(false);
  ++stack::top;

  Cell function = tracer;
  collector::Root keep(&function);
  Cell name = word::make_value(runtime_words::angled_interp_callback, 0, -1);
  // The six reported values go to its first six plain arguments.
  interpreter::open_function_frame(function, name, reported, 6, false);
  {
    TracerRun run;
    interpreter::call_function(function, function::context_of(function));
    if (interpreter::exiting()) {
      // break, continue or throw out of the tracer: the stacks already
      // belong to the frame that takes it; go on there as an exception.
      uint32_t code_in_flight = exits::pending;
      exits::pending = 0;
      exits::throw_unwind(code_in_flight);
    }
  }
  stack::unwind();
  stack::frame_top = observed_frame_top;
  stack::arguments_ = observed_arguments;
  stack::top = observed_top;
}

void fire(uint32_t event, const Cell& value) { fire(event, nullptr, kNoPosition, &value, nullptr); }

void report_error(const Cell& error) {
  if (!active()) return;
  runtime::SystemRecord& s = runtime::system();
  uint32_t saved = s.exit_code;
  s.exit_code = 0;
  fire(kErrorEvent, error);
  s.exit_code = saved;
}

void init() { upcalls::table.report_error = report_error; }

void report_init() { fire(kInit, nullptr, kNoPosition, nullptr, nullptr); }
void report_end() { fire(kEnd, nullptr, kNoPosition, nullptr, nullptr); }
void report_throw() { fire(kThrow, nullptr, kNoPosition, stack::arguments(), nullptr); }
void report_catch() { fire(kCatch, nullptr, kNoPosition, stack::arguments(), nullptr); }

namespace {
Cell call_site(const Cell& code, uint32_t position, const Cell& name) {
  SeriesBuffer* buffer = block::buffer_of(&code);
  if (position == 0 || position == kNoPosition || position > buffer->cell_count()) return name;
  return buffer->cells()[position - 1];
}
}  // namespace

void report_call(const Cell& code, uint32_t call_position, const Cell& name, const Cell& callee) {
  Cell site = call_site(code, call_position, name);
  Cell value = callee;
  fire(kCall, &code, call_position - 1, &value, &site);
}

void report_return(const Cell& code, uint32_t call_position, uint32_t end_position, const Cell& name,
                   const Cell& result) {
  Cell site = call_site(code, call_position, name);
  Cell value = result;
  fire(kReturn, &code, end_position, &value, &site);
}

void report_prolog(const Cell& body, const Cell& function) {
  fire(kProlog, &body, body.is(TYPE_BLOCK) ? series::index_of(body) : kNoPosition, nullptr, &function);
}

void report_epilog(const Cell& body, const Cell& function) {
  uint32_t tail = body.is(TYPE_BLOCK) ? block::buffer_of(&body)->cell_count() : kNoPosition;
  fire(kEpilog, &body, tail, nullptr, &function);
}

uint32_t event_mask(const Cell& function) {
  make_ready();
  if (!function.is(TYPE_FUNCTION)) return kDefaultMask;
  Cell body = *function::info(function, function::kInfoBody);
  if (!body.is(TYPE_BLOCK) || block::rs_length(&body) <= 0) return kDefaultMask;
  Cell first = block::buffer_of(&body)->cells()[series::index_of(body)];
  if (!first.is(TYPE_BLOCK)) return kDefaultMask;
  uint32_t bits = 0;
  SeriesBuffer* events = block::buffer_of(&first);
  for (uint32_t i = series::index_of(first); i < events->cell_count(); ++i) {
    Cell item = events->cells()[i];
    if (!item.is(TYPE_WORD)) continue;
    uint32_t wanted = symbol::resolve(word::symbol_of(item));
    for (uint32_t e = 0; e < kEventCount; ++e)
      if (symbol::resolve(event_symbols[e]) == wanted) bits |= 1u << e;
  }
  return bits;
}

bool install(const Cell& function) {
  make_ready();
  if (tracer_installed) return false;
  mask = event_mask(function);
  tracer = function;
  tracer_installed = true;
  tracing = true;
  return true;
}

void remove() {
  tracer = none::value;
  mask = kDefaultMask;
  tracer_installed = false;
  tracing = false;
}

static_assert(FunctionScope::kMarkers == (function::kTraceFlag | function::kNoTraceFlag),
              "the markers FunctionScope tests are the function header's");

void FunctionScope::enter(const Cell& function) {
  if (function.header & function::kTraceFlag) tracing = tracer_installed && !in_tracer;
  else if (function.header & function::kNoTraceFlag) tracing = false;
}

}  // namespace kel::trace
