// The evaluation stack: a value stack of cells and a call-frame stack of
// small records, the one calling convention of the interpreter, the natives,
// the actions and the library.
//
// Every call opens a frame (its first cell is the current top and also its
// result slot), pushes its arguments, runs, and closes the frame leaving one
// result cell. Both stacks are fixed arrays (20000 cells, 12000 frames), so a
// pointer to an argument cell stays valid for the life of its call; a
// reservation or a frame past the end raises internal stack-overflow.
//
// Invariants: bottom <= arguments <= top < end while code runs; opening a
// frame reserves no cell; with no frame open, arguments = top = bottom.
//
// The stack is a runtime service, below the datatypes, since every datatype
// pushes and pops on it; its hot routines stay inline here. Of a context it
// knows only the values reference that popping a function's frame puts back
// (values_reference.h).
#pragma once

#include <cstdint>
#include <exception>

#include "runtime/cell.h"
#include "runtime/exits.h"
#include "runtime/memory.h"
#include "runtime/values_reference.h"

namespace kel::stack {

constexpr uint32_t kValueCapacity = 20000;
constexpr uint32_t kFrameCapacity = 12000;

// Frame type bytes (bits 24-31 of a frame header). The low four bits are the
// kind that unwinding looks at.
enum FrameType : uint32_t {
  kFunction = 0x01,
  kNative = 0x02,
  kTry = 0x04,
  kTryAll = 0x05,
  kCatch = 0x06,
  kEval = 0x87,
  kLoop = 0x08,
  kReserved = 0x09,  // kind 9: no opener uses it
  kInterp = 0x82,
  kInterpFunc = 0x81,
  kCompiledFunc = 0x12,
};
constexpr uint32_t kKindMask = 0x0F;
constexpr uint32_t kReturnTarget = 0x10000000;  // header bit 28
// header bit 31: the frames the interpreter opens for calls (kInterp,
// kInterpFunc) carry it in their type byte already.
constexpr uint32_t kInterpreted = 0x80000000;
// A catch frame that takes the console's halt: one opened by catch/name for
// the name console. The halt that a console interrupt requests passes every
// other frame (see throw_halt).
constexpr uint32_t kHaltTarget = 0x20000000;  // header bit 29

// The frame of a block of user code records where evaluation stands (the
// current position that errors take their `near` from): the block's node
// in `code`, the index of the expression being evaluated in `code_index`,
// and the block's datatype, with its new-line flag, in the header's low
// byte. Every other frame has code 0. The two fields sit where the record
// would otherwise be padded.
constexpr uint32_t kCodeTypeMask = 0x7F;
constexpr uint32_t kCodeNewLine = 0x80;

struct Frame {
  uint32_t header;          // type << 24 | symbol << 8 | code type
  NodeId code;              // the block of user code evaluated in this frame, or 0
  Cell* saved_arguments;    // the caller's arguments pointer
  NodeId word_context;      // context of the word that names the frame
  NodeId function_context;  // context of the function whose body runs here, or 0
  uint32_t saved_values;    // that context's values reference before the call
  uint32_t code_index;      // with code: the index of the expression being evaluated

  uint32_t type() const { return header >> 24; }
  uint32_t kind() const { return (header >> 24) & kKindMask; }
  uint32_t symbol() const { return (header >> 8) & 0xFFFF; }
};
static_assert(sizeof(Frame) == 32, "a frame record stays 32 bytes");

extern Cell* bottom;
extern Cell* arguments_;
extern Cell* top;
extern Cell* value_end;
extern Frame* frame_bottom;
extern Frame* frame_top;
extern Frame* frame_end;

void init();
// Symbols that name anonymous frames (skipped in call traces).
void set_anonymous_symbols(uint32_t body, uint32_t anon);

inline Cell* arguments() { return arguments_; }
inline uint32_t depth() { return static_cast<uint32_t>(frame_top - frame_bottom); }
inline Frame* current_frame() { return frame_top - 1; }
inline bool empty() { return frame_top == frame_bottom; }

// Raises internal stack-overflow after making room for the error.
[[noreturn]] void overflow(bool frames);

inline Cell* push_slot() {
  Cell* cell = top;
  if (++top >= value_end) overflow(false);
  *cell = make_cell(TYPE_UNSET);
  return cell;
}
[[gnu::always_inline]] inline Cell* push(const Cell& value) {
  Cell* cell = top;
  if (++top >= value_end) overflow(false);
  *cell = value;
  return cell;
}
// Pushes a copy of the value retyped, for the datatypes that share one cell
// layout (a block as paren! or a path kind).
inline Cell* push_as(const Cell& value, TypeId type) {
  Cell* cell = push(value);
  cell->set_type(type);
  return cell;
}
inline void pop(uint32_t n) {
  top = (static_cast<uint32_t>(top - bottom) < n) ? bottom : top - n;
}
inline Cell* get_top() { return top == bottom ? bottom : top - 1; }
inline void set_last(const Cell& value) { *arguments_ = value; }
// Stores the value as the frame's result and returns the result cell.
inline Cell* set_result(const Cell& value) {
  *arguments_ = value;
  return arguments_;
}
inline Cell* reset() {
  top = arguments_;
  return arguments_;
}
inline Cell* keep() {
  top = arguments_ + 1;
  return arguments_;
}
inline void set_last_reset(const Cell& value) {
  top = arguments_ + 1;
  *arguments_ = value;
}
inline TypeId top_type() { return get_top()->type(); }

// Opening frames. The word names the call (its symbol and context); a null
// word names the frame <anon>.
extern uint32_t anonymous_symbol;
// Writes the record of a new frame, whole (amending a header just stored
// would make the processor wait for that store), and opens it. The caller
// has checked that there is room.
[[gnu::always_inline]] inline void open_frame(uint32_t header, NodeId word_context, NodeId code,
                                              uint32_t code_index) {
  *frame_top = Frame{header, code, arguments_, word_context, 0, 0, code_index};
  ++frame_top;
  arguments_ = top;
}
[[gnu::always_inline]] inline void mark(const Cell* word, uint32_t type) {
  if (frame_top >= frame_end) overflow(true);
  uint32_t symbol = word ? (word->data2 & 0xFFFF) : anonymous_symbol;
  open_frame((type << 24) | (symbol << 8), word ? word->data1 : 0, 0, 0);
}
// A frame that evaluates a block, with its position fields: the block's
// node (0 for library code, which keeps its caller's position), its type
// and new-line flag (code_type) and the index of the current expression.
[[gnu::always_inline]] inline void mark_code(const Cell& word, uint32_t type, uint32_t code_type, NodeId code,
                                             uint32_t code_index) {
  if (frame_top >= frame_end) overflow(true);
  open_frame((type << 24) | ((word.data2 & 0xFFFF) << 8) | code_type, word.data1, code, code_index);
}
// A function's frame, its record written whole: the context whose body runs
// in it and the values reference that context gets back when it closes.
[[gnu::always_inline]] inline void mark_function(const Cell& word, uint32_t type, NodeId function_context,
                                                 uint32_t saved_values) {
  if (frame_top >= frame_end) overflow(true);
  *frame_top = Frame{(type << 24) | ((word.data2 & 0xFFFF) << 8), 0, arguments_, word.data1, function_context,
                     saved_values, 0};
  ++frame_top;
  arguments_ = top;
}
void mark_func(const Cell* word, NodeId function_context, uint32_t saved_values);
inline void mark_native(const Cell* word) { mark(word, kNative); }
inline void mark_try(const Cell* word) { mark(word, kTry); }
inline void mark_try_all(const Cell* word) { mark(word, kTryAll); }
inline void mark_catch(const Cell* word) { mark(word, kCatch); }
inline void mark_eval(const Cell* word) { mark(word, kEval); }
inline void mark_loop(const Cell* word) { mark(word, kLoop); }
inline void mark_interp(const Cell* word) { mark(word, kInterp); }
inline void mark_interp_func(const Cell* word) { mark(word, kInterpFunc); }

// A frame that runs a block it did not open (see interpreter.cpp) takes the
// block's position fields while it does, and gives them up when it lives on
// after the block.
[[gnu::always_inline]] inline void set_position(Frame* f, uint32_t code_type, NodeId code, uint32_t code_index) {
  f->header = (f->header & ~(kCodeTypeMask | kCodeNewLine)) | code_type;
  f->code = code;
  f->code_index = code_index;
}
[[gnu::always_inline]] inline void clear_position(Frame* f) {
  f->header &= ~(kCodeTypeMask | kCodeNewLine);
  f->code = 0;
  f->code_index = 0;
}

inline void set_return_target(bool on) {
  Frame* f = frame_top - 1;
  f->header = on ? (f->header | kReturnTarget) : (f->header & ~kReturnTarget);
}
inline void set_interp_flag() { (frame_top - 1)->header |= kInterpreted; }

// Closing frames. A function frame gives its context back the values
// reference it had before the call.
inline void restore_frame_values(const Frame* f) {
  context::set_values_reference(f->function_context, f->saved_values);
}
[[gnu::always_inline]] inline Cell* unwind() {
  Frame* f = --frame_top;
  top = arguments_ + 1;
  arguments_ = f->saved_arguments;
  if (f->kind() == kFunction && f->function_context) restore_frame_values(f);
  return arguments_;
}
[[gnu::always_inline]] inline Cell* unwind_last() {
  Cell* result = arguments_;
  unwind();
  *arguments_ = *result;
  return arguments_;
}
void unwind_drop();
void drop_frame();
// Pops records down to the nearest frame of the kind (or a try/all frame, or
// the bottom); see stack.cpp.
void unroll(uint32_t kind, bool keep);
void unroll_last(uint32_t kind);

// True when a frame below the given one (the top frame for null) was opened
// by the interpreter; with this_frame_only, only the frame just below it is
// looked at.
bool opened_by_interpreter(const Frame* frame, bool this_frame_only);

// The symbol of the innermost named frame (0 when none).
uint32_t call_symbol();

// Raises an error! value: unwinds to the nearest try frame and throws the
// error code; an error with no try frame left is printed and ends the
// process with status -2.
[[noreturn]] void throw_error(const Cell& error);

// break (or continue): unrolls to the nearest loop frame, empties it and
// leaves the break value (the current frame's first cell, with_value) or
// unset as its result; sets exits::pending. A try/all frame on the way, or
// no loop at all, raises the throw-category error instead.
void throw_break(bool with_value, bool is_continue);
// return (with_value: the current frame's first cell) or exit: unrolls to
// the nearest return target (a function body); sets exits::pending.
// from_function_frame: the current frame is itself the function's frame.
void throw_return(bool with_value, bool from_function_frame);
// return with the value given (exit: null), from code that opened no frame
// for it: unrolls as throw_return does and answers true, or answers false,
// having changed nothing, when no return target can take it (the caller
// then raises the error that return itself raises).
bool return_value(const Cell* value);
// throw: unrolls to the nearest catch frame and pushes the thrown value
// (the current frame's first cell) and its name (the second cell) there;
// sets exits::pending to the code.
void throw_value(uint32_t code);

// The console's halt. halt_target is the innermost frame flagged
// kHaltTarget, or null. throw_halt makes that frame the top frame, as a
// throw caught there would (every frame above it popped, try/all frames
// included, the value and the name in its first two cells), and throws
// exits::kHalt, which only that frame's catch takes.
Frame* halt_target();
[[noreturn]] void throw_halt(Frame* target, const Cell& value, const Cell& name);

// The frame recorded by the last throw (for naming the call), cleared on use.
Frame* take_throw_marker();

// Collector support: the cells in use and the contexts the frames hold.
template <class MarkCell, class MarkNode>
void mark_frames(MarkCell&& mark_cell, MarkNode&& mark_node) {
  for (Cell* c = bottom; c < top; ++c) mark_cell(*c);
  for (Frame* f = frame_bottom; f < frame_top; ++f) {
    if (f->word_context) mark_node(f->word_context);
    if (f->function_context) mark_node(f->function_context);
    if (f->code) mark_node(f->code);
  }
}

// Restores both stacks on scope exit, for C++ code that must leave the
// stacks as it found them. An exit in flight (an exception passing through,
// or a pending break/continue/return/exit/throw) has already unrolled the
// stacks to its catching frame: the guard then leaves them alone, since
// restoring would undo that unwinding.
class Guard {
 public:
  Guard()
      : arguments_at_(arguments_), top_at_(top), frame_at_(frame_top), exceptions_(std::uncaught_exceptions()) {}
  ~Guard() {
    if (exits::pending != 0 || std::uncaught_exceptions() > exceptions_) return;
    // A function frame left open gives its context back the values
    // reference it had before the call, innermost first, as popping it
    // would: else a function that runs again while an outer call of it is
    // on the stack (a change handler that changes its own series) leaves
    // the outer call reading the inner call's arguments.
    for (Frame* f = frame_top; f > frame_at_;) {
      --f;
      if (f->kind() == kFunction && f->function_context) restore_frame_values(f);
    }
    arguments_ = arguments_at_;
    top = top_at_;
    frame_top = frame_at_;
  }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

 private:
  Cell* arguments_at_;
  Cell* top_at_;
  Frame* frame_at_;
  int exceptions_;
};

}  // namespace kel::stack
