// The evaluation stack and its call frames (see stack.h), and the raise of
// errors to the nearest try frame.
#include "runtime/stack.h"

#include "runtime/cycles.h"
#include "runtime/errors.h"
#include "runtime/exits.h"
#include "runtime/output_hooks.h"
#include "runtime/runtime.h"
#include "runtime/upcalls.h"

namespace kel::context {
Referenced last_referenced;
}  // namespace kel::context

namespace kel::stack {

namespace {
alignas(16) Cell value_buffer[kValueCapacity];
Frame frame_buffer[kFrameCapacity];
uint32_t body_symbol = 0;

inline void restore_context(const Frame* f) {
  if (f->kind() == kFunction && f->function_context) restore_frame_values(f);
}
}  // namespace

Cell* bottom = value_buffer;
Cell* arguments_ = value_buffer;
Cell* top = value_buffer;
Cell* value_end = value_buffer + kValueCapacity;
Frame* frame_bottom = frame_buffer;
Frame* frame_top = frame_buffer;
Frame* frame_end = frame_buffer + kFrameCapacity;
uint32_t anonymous_symbol = 0;

void init() {
  arguments_ = top = bottom;
  frame_top = frame_bottom;
}

void set_anonymous_symbols(uint32_t body, uint32_t anon) {
  body_symbol = body;
  anonymous_symbol = anon;
}

void overflow(bool frames) {
  top = (static_cast<uint32_t>(top - bottom) < 5) ? bottom : top - 5;
  if (!frames && arguments_ > top) arguments_ = top;
  cycles::reset();
  fire(ErrorId::internal_stack_overflow);
}

void mark_func(const Cell* word, NodeId function_context, uint32_t saved_values) {
  mark(word, kFunction);
  Frame* f = current_frame();
  f->function_context = function_context;
  f->saved_values = function_context ? saved_values : 0;
}

void unwind_drop() {
  Frame* f = --frame_top;
  arguments_ = f->saved_arguments;
  top = arguments_;
  restore_context(f);
}

void drop_frame() {
  Frame* f = --frame_top;
  restore_context(f);
  if (frame_top == frame_bottom) {
    arguments_ = top = bottom;
  } else {
    top = arguments_;
    arguments_ = f->saved_arguments;
  }
}

namespace {
// Pops records down to the reached one; returns the reached frame's own
// first cell (null when the frame stack emptied).
Cell* unroll_to(uint32_t kind, bool keep) {
  Cell* innermost = arguments_;
  Cell* first = arguments_;  // first cell of the frame just above the reached one
  bool popped = false;
  while (frame_top > frame_bottom) {
    Frame* f = frame_top - 1;
    uint32_t k = f->kind();
    if (k == kind || k == (kTryAll & kKindMask)) {
      if (popped) arguments_ = keep ? first : f->saved_arguments;
      top = innermost + 1;
      return first;
    }
    restore_context(f);
    first = f->saved_arguments;
    --frame_top;
    popped = true;
  }
  arguments_ = top = bottom;
  return nullptr;
}
}  // namespace

void unroll(uint32_t kind, bool keep) { unroll_to(kind, keep); }

void unroll_last(uint32_t kind) {
  Cell result = *arguments_;
  Cell* first = unroll_to(kind, false);
  if (first == nullptr) return;
  *first = result;
  arguments_ = first;
  top = first;
}

bool opened_by_interpreter(const Frame* frame, bool this_frame_only) {
  const Frame* f = (frame ? frame : frame_top) - 1;
  for (; f >= frame_bottom; --f) {
    if (f->header & kInterpreted) return true;
    if (this_frame_only) break;
  }
  return false;
}

namespace {
Frame* throw_marker = nullptr;

// The first cell of a frame: the arguments pointer saved by the frame just
// above it, or the current arguments pointer for the top frame.
Cell* first_cell_of(Frame* f) { return f + 1 < frame_top ? (f + 1)->saved_arguments : arguments_; }

// Makes f the top frame: pops every record above it (restoring function
// contexts), empties it and stores the result in its first cell.
void make_top_frame(Frame* f, const Cell& result) {
  Cell* first = first_cell_of(f);
  while (frame_top > f + 1) {
    restore_context(frame_top - 1);
    --frame_top;
  }
  arguments_ = first;
  *first = result;
  top = first + 1;
}

// Walks down from `from` to the nearest frame of the kind, or the one whose
// header has the flag; a try/all frame met on the way answers null with
// *blocked set.
Frame* find_target(Frame* from, uint32_t kind, uint32_t flag, bool* blocked) {
  *blocked = false;
  for (Frame* f = from; f >= frame_bottom; --f) {
    if (f->kind() == (kTryAll & kKindMask)) {
      *blocked = true;
      return nullptr;
    }
    if (flag ? (f->header & flag) != 0 : f->kind() == kind) return f;
  }
  return nullptr;
}
}  // namespace

Frame* take_throw_marker() {
  Frame* marker = throw_marker;
  throw_marker = nullptr;
  return marker;
}

void throw_break(bool with_value, bool is_continue) {
  Cell value = with_value && !is_continue ? *arguments_ : make_cell(TYPE_UNSET);
  bool blocked = false;
  Frame* loop = find_target(frame_top - 1, kLoop, 0, &blocked);
  if (loop == nullptr) fire(is_continue ? ErrorId::throw__continue : ErrorId::throw__break);
  make_top_frame(loop, value);
  exits::pending = is_continue ? exits::kContinue : exits::kBreak;
}

void throw_return(bool with_value, bool from_function_frame) {
  Cell value = with_value ? *arguments_ : make_cell(TYPE_UNSET);
  bool blocked = false;
  Frame* start = from_function_frame ? frame_top - 1 : frame_top - 2;
  Frame* target = find_target(start, 0, kReturnTarget, &blocked);
  if (target == nullptr) fire(ErrorId::throw__return);
  make_top_frame(target, value);
  exits::pending = with_value ? exits::kReturn : exits::kExit;
}

bool return_value(const Cell* value) {
  bool blocked = false;
  Frame* target = find_target(frame_top - 1, 0, kReturnTarget, &blocked);
  if (target == nullptr) return false;
  Cell result = value != nullptr ? *value : make_cell(TYPE_UNSET);
  make_top_frame(target, result);
  exits::pending = value != nullptr ? exits::kReturn : exits::kExit;
  return true;
}

void throw_value(uint32_t code) {
  Cell value = *arguments_;
  Cell name = top > arguments_ + 1 ? arguments_[1] : make_cell(TYPE_NONE);
  // A throw that no catch takes is an error raised at the throw itself,
  // with the frames as they are: only one that unwinds records its frame,
  // for the call an error raised after it names.
  bool blocked = false;
  Frame* target = find_target(frame_top - 2, kCatch, 0, &blocked);
  if (target == nullptr) fire(ErrorId::throw__throw, &value);
  if (throw_marker == nullptr) throw_marker = frame_top - 1;
  make_top_frame(target, value);
  push(name);
  exits::pending = code;
}

Frame* halt_target() {
  for (Frame* f = frame_top - 1; f >= frame_bottom; --f) {
    if (f->header & kHaltTarget) return f;
  }
  return nullptr;
}

void throw_halt(Frame* target, const Cell& value, const Cell& name) {
  exits::pending = 0;
  make_top_frame(target, value);
  push(name);
  exits::throw_unwind(exits::kHalt);
}

uint32_t call_symbol() {
  for (const Frame* f = frame_top - 1; f >= frame_bottom; --f) {
    uint32_t s = f->symbol();
    if (s != body_symbol && s != anonymous_symbol) return s;
  }
  return 0;
}

void throw_error(const Cell& error) {
  runtime::SystemRecord& system = runtime::system();
  system.thrown_value = error;
  if (frame_top > frame_bottom && error.is(TYPE_ERROR)) {
    // The error learns where it was raised: the innermost named call (below
    // the frame a throw recorded, when one did) and the frame depth.
    Frame* marker = take_throw_marker();
    Frame* f = (marker != nullptr && marker < frame_top ? marker : frame_top) - 1;
    while (f >= frame_bottom && (f->symbol() == body_symbol || f->symbol() == anonymous_symbol)) --f;
    uint32_t where = f >= frame_bottom ? f->symbol() : 0;
    NodeId where_context = f >= frame_bottom ? f->function_context : 0;
    upcalls::table.record_raise(error, where, where_context, depth());
  }
  // Unwind to the nearest try or try/all frame, keeping the cells above it.
  Cell* remembered_top = top;
  bool caught = false;
  while (frame_top > frame_bottom) {
    Frame* f = --frame_top;
    restore_context(f);
    uint32_t k = f->kind();
    arguments_ = f->saved_arguments;
    if (k == (kTry & kKindMask) || k == (kTryAll & kKindMask)) {
      caught = true;
      break;
    }
  }
  if (!caught) {
    arguments_ = top = bottom;
    std::string text = upcalls::table.error_text(error);
    output_hooks::print_text(text, true);
    runtime::end_process(-2);
  }
  top = remembered_top;
  push(error);
  exits::throw_unwind(exits::kError);
}

}  // namespace kel::stack
