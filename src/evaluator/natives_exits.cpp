// Leaving a computation early and running code under a guard: try, break,
// continue, exit, return, throw and catch; and the two natives that hand
// work to another engine: apply (a call whose arguments come from a block)
// and transcode (text to values through the lexer, whose trace callbacks
// this file also calls).
//
// break, continue, exit, return and throw never throw a C++ exception: they
// unroll the stacks to the frame that catches them and leave their code in
// exits::pending (stack::throw_break and friends), and every evaluation on
// the way returns at once. Errors are exceptions, already unwound to the
// nearest try frame when they reach try.
//
// try and catch own a frame of their own above their arguments. When an
// exit they consume arrives as an exception, C++ guards on the way may have
// put the stack pointers back where those guards found them; so both
// remember where their own frame stands and put the pointers back on it
// themselves, using only what the exit left in fixed places: the error in
// the runtime system record, the thrown value and name in the catch frame's
// first two cells. A catch/name for the name console also takes the
// console's halt, which arrives as an exception and passes every other
// catch and try (interpreter.h).
#include <algorithm>
#include <cstdint>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/native_arguments.h"
#include "evaluator/natives.h"
#include "evaluator/natives_families.h"
#include "evaluator/stack.h"
#include "evaluator/trace.h"
#include "io/lexer.h"
#include "runtime/errors.h"
#include "runtime/exits.h"
#include "runtime/runtime.h"
#include "runtime/runtime_words.h"
#include "runtime/support.h"

namespace kel::natives_exits {

namespace {

using namespace native_arguments;

Cell try_word;      // names try frames
Cell body_word;     // names catch frames: <body>
Cell name_word;     // the refinement catch/name's errors name
Cell applied_word;  // names the call of a function value given to apply directly
uint32_t console_symbol;  // canonical: a catch/name for it takes the console's halt

// Accepted argument types, for entries called with check_types.
Cell block_types;
Cell word_types;
Cell names_types;
Cell source_types;
Cell part_types;
Cell callback_types;
Cell applicable_types;

inline uint32_t tail_of(const Cell& block) { return block::buffer_of(&block)->cell_count(); }
inline Cell cell_at(const Cell& block, uint32_t index) { return block::buffer_of(&block)->cells()[index]; }

inline bool is_callable(TypeId type) {
  return type == TYPE_NATIVE || type == TYPE_ACTION || type == TYPE_OP || type == TYPE_FUNCTION ||
         type == TYPE_ROUTINE;
}

// --- try ------------------------------------------------------------------------------

// Evaluates the block in a try frame (try/all: a frame that also turns
// break, continue, return, exit and throw into errors). An error becomes
// the result; the exits that a plain try lets pass go on outward.
void try_(bool check_types, const int32_t* refinements) {
  if (check_types) check(block_types, 0);
  bool all = refinements[0] != -1;
  bool keep = refinements[1] != -1;
  Cell block = *argument(0);
  Cell* result = stack::arguments();
  stack::Frame* own_top = stack::frame_top;
  stack::mark(&try_word, all ? stack::kTryAll : stack::kTry);
  uint32_t caught = exits::catch_exits(exits::kError, [&] { interpreter::eval_block(block, false); });
  if (caught == 0) {
    if (interpreter::exiting()) return;  // the stacks belong to the exit's catcher now
    stack::unwind_last();
    return;
  }
  if (caught != exits::kError) exits::throw_unwind(caught);
  // The error unwound the stacks to this try frame and popped it.
  runtime::SystemRecord& system = runtime::system();
  Cell error = system.thrown_value;
  system.exit_code = 0;
  // The records of the calls the error left still lie above this frame:
  // nothing has opened a frame since the raise. The trace is that of the
  // guarded code: the calls above the try frame.
  if (keep) error_value::capture_trace(error, static_cast<uint32_t>(own_top - stack::frame_bottom) + 1);
  stack::frame_top = own_top;
  stack::arguments_ = result;
  *result = error;
  stack::top = result + 1;
}

// --- break, continue, exit, return, throw -------------------------------------------

void break_(bool, const int32_t* refinements) { stack::throw_break(refinements[0] != -1, false); }

void continue_(bool, const int32_t*) { stack::throw_break(false, true); }

void exit(bool, const int32_t*) { stack::throw_return(false, false); }

void return_(bool, const int32_t*) { stack::throw_return(true, false); }

// The thrown value is the frame's first cell and the name its second: the
// word of /name, or unset for a throw without a name.
void throw_(bool check_types, const int32_t* refinements) {
  int32_t name_at = refinements[0];
  if (check_types && name_at >= 0) check(word_types, name_at);
  if (trace::active()) trace::report_throw();
  if (name_at < 0) {
    stack::top = argument(1);
    stack::push(unset::value);
  }
  stack::throw_value(exits::kThrow);
}

// --- catch ---------------------------------------------------------------------------

// Whether a throw's name is one that catch/name waits for: a word of the
// same canonical symbol as the catch's word or one of its block's words.
bool name_matches(const Cell& names, const Cell& thrown_name) {
  if (names.is(TYPE_BLOCK)) {
    for (uint32_t i = series::index_of(names); i < tail_of(names); ++i) {
      if (!cell_at(names, i).is(TYPE_WORD)) fire(ErrorId::script_invalid_refine_arg, &name_word, &names);
    }
  }
  if (!thrown_name.is(TYPE_WORD)) return false;
  uint32_t wanted = symbol::resolve(word::symbol_of(thrown_name));
  if (names.is(TYPE_WORD)) return symbol::resolve(word::symbol_of(names)) == wanted;
  for (uint32_t i = series::index_of(names); i < tail_of(names); ++i) {
    if (symbol::resolve(word::symbol_of(cell_at(names, i))) == wanted) return true;
  }
  return false;
}

// Whether a catch/name waits for the name console: such a catch takes the
// console's halt (see interpreter::raise_halt).
bool names_console(const Cell& names) {
  if (names.is(TYPE_WORD)) return symbol::resolve(word::symbol_of(names)) == console_symbol;
  if (!names.is(TYPE_BLOCK)) return false;
  for (uint32_t i = series::index_of(names); i < tail_of(names); ++i) {
    Cell name = cell_at(names, i);
    if (name.is(TYPE_WORD) && symbol::resolve(word::symbol_of(name)) == console_symbol) return true;
  }
  return false;
}

void catch_(bool check_types, const int32_t* refinements) {
  int32_t name_at = refinements[0];
  if (check_types) {
    check(block_types, 0);
    if (name_at >= 0) check(names_types, name_at);
  }
  Cell block = *argument(0);
  Cell names = name_at >= 0 ? *argument(name_at) : none::value;
  stack::Frame* own_top = stack::frame_top;
  Cell* frame_first = stack::top;
  stack::mark(&body_word, stack::kCatch);
  bool takes_halt = name_at >= 0 && names_console(names);
  if (takes_halt) stack::current_frame()->header |= stack::kHaltTarget;
  uint32_t caught = 0;
  try {
    interpreter::eval_block(block, false);
  } catch (const exits::Unwind& unwind) {
    // The console's halt stops only at the frame it was unrolled to, which
    // it left holding its value and name as a throw would.
    bool halt_here = unwind.code == exits::kHalt && takes_halt && stack::frame_top == own_top + 1;
    if (unwind.code > exits::kThrow && !halt_here) throw;
    caught = halt_here ? exits::kThrow : unwind.code;
  }
  uint32_t code = caught ? caught : exits::pending;
  if (code == 0) {
    stack::unwind_last();
    return;
  }
  if (code != exits::kThrow) {
    if (caught) exits::throw_unwind(caught);
    return;
  }
  // A throw ended here: this catch frame is the top frame and holds the
  // thrown value and its name.
  exits::pending = 0;
  runtime::system().exit_code = 0;
  stack::frame_top = own_top + 1;
  stack::arguments_ = frame_first;
  stack::top = frame_first + 2;
  if (name_at >= 0 && !name_matches(names, frame_first[1])) {
    // Not ours: the same throw goes on to the next catch outward.
    stack::throw_value(exits::kThrow);
    return;
  }
  // The throw is over: the frame it recorded must not name the call of
  // a later error.
  stack::take_throw_marker();
  if (trace::active()) trace::report_catch();
  stack::unwind_last();
}

// --- apply ---------------------------------------------------------------------------

// One call made by apply. The arguments come from the args block, each the
// value of its next expression whatever the kind of the interface's argument
// (apply reduces; it does not quote). The frame is laid out as the
// interpreter lays out a call: a native's cells are its plain arguments and
// then the arguments of the refinements used, with one integer per
// refinement; a function's cells are every word of its context in order.
class Application {
 public:
  Application(const Cell& callee, const Cell& name, const Cell& args, bool all, bool safer)
      : callee_(callee), name_(name), args_(args), index_(series::index_of(args)), all_(all), safer_(safer) {
    native_like_ = callee.is(TYPE_NATIVE) || callee.is(TYPE_ACTION);
    context_ = native_like_ ? native::context_of(callee) : function::context_of(callee);
    cache_ = interpreter::argument_cache(callee);
    for (int32_t& r : refinements_) r = -1;
  }

  // Opens the call frame and fills it; false when an exit left the
  // evaluation of an argument.
  bool gather(const Cell* path) {
    if (native_like_) {
      stack::mark(&name_, stack::kInterp);
    } else {
      uint32_t saved = context::values_reference(context_);
      stack::mark(&name_, stack::kInterpFunc);
      stack::Frame* frame = stack::current_frame();
      frame->function_context = context_;
      frame->saved_values = saved;
    }
    stack::set_interp_flag();
    uint32_t count = cache_count();
    uint32_t at = 0;
    // The plain arguments.
    for (; at < count; ++at) {
      Cell entry = cache_entry(at);
      if (!entry.is(TYPE_TYPESET)) break;
      if (is_return_spec(entry)) continue;
      if (!take_argument(entry, at)) return false;
    }
    // A function's frame holds a cell for every word of its context.
    if (!native_like_) {
      for (uint32_t i = at; i < count; ++i) {
        Cell entry = cache_entry(i);
        if (entry.is(TYPE_TYPESET) && !is_return_spec(entry)) stack::push(none::value);
        else if (entry.is(TYPE_REFINEMENT)) stack::push(logic::false_value);
        else if (entry.is(TYPE_INTEGER)) {
          stack::push(logic::false_value);  // /local, then its words
          for (int32_t k = 1; k < entry.int_at2(); ++k) stack::push(none::value);
        }
      }
    }
    if (all_) return refinements_from_block(at, path);
    if (path != nullptr && !refinements_from_path(*path)) return false;
    return refinements_named_in_block();
  }

  // Calls the callee in the gathered frame; its result is the frame's
  // first cell.
  void call() {
    switch (callee_.type()) {
      case TYPE_NATIVE:
        natives::call(native::number_of(callee_), false, refinements_);
        break;
      case TYPE_ACTION: {
        action_entries::Entry entry = action_entries::entry(native::number_of(callee_));
        if (entry == nullptr) fire(ErrorId::internal_not_done);
        entry(refinements_);
        break;
      }
      case TYPE_FUNCTION:
        interpreter::call_function(callee_, context_);
        break;
      default:
        fire(ErrorId::internal_routines);
    }
  }

 private:
  uint32_t cache_count() const { return tail_of(block::make_value(cache_)); }
  Cell cache_entry(uint32_t at) const { return memory::buffer_of(cache_)->cells()[at]; }
  static bool is_return_spec(const Cell& entry) {
    return (entry.header & interpreter::kArgumentKindMask) == interpreter::kReturnSpec;
  }

  Cell argument_word(uint32_t at) const {
    if (context_ == 0 || at >= context::word_count(context_)) return word::make_value(runtime_words::angled_anon, 0, -1);
    Cell word = *context::word_at(context_, at);
    word.set_type(TYPE_WORD);
    return word;
  }

  // The value of the next expression of the args block, pushed; false at
  // the tail (nothing pushed) or when an exit left the evaluation.
  bool evaluate_next(bool* present) {
    *present = index_ < tail_of(args_);
    if (!*present) return true;
    index_ = interpreter::eval_expression(args_, index_, UINT32_MAX, false, false);
    return !interpreter::exiting();
  }

  // Pushes the argument described by the cache entry at `at`; a missing
  // one is none under /all and an error otherwise.
  bool take_argument(const Cell& types, uint32_t at) {
    Cell* slot = stack::top;
    bool present = false;
    if (!evaluate_next(&present)) return false;
    if (!present) {
      if (all_) {
        stack::push(none::value);
        return true;
      }
      Cell word = argument_word(at);
      fire(ErrorId::script_no_arg, &name_, &word);
    }
    if (!typeset_has(types, slot->type())) {
      Cell datatype = datatype::make(slot->type());
      Cell word = argument_word(at);
      fire(ErrorId::script_expect_arg, &name_, &datatype, &word);
    }
    return true;
  }

  // The arguments of the refinement at cache index `at`: taken into the
  // frame when it is used; otherwise their expressions are evaluated and
  // dropped, or, under /safer, skipped unevaluated.
  bool refinement_arguments(uint32_t at, bool used) {
    Cell* flag = stack::arguments() + at;
    if (used) {
      if (native_like_)
        refinements_[interpreter::refinement_ordinal(cache_entry(at)) - 1] =
            static_cast<int32_t>(stack::top - stack::arguments());
      else *flag = logic::true_value;
    }
    uint32_t count = cache_count();
    uint32_t taken = 0;
    Cell* pushed_from = stack::top;
    for (uint32_t a = at + 1; a < count; ++a) {
      Cell types = cache_entry(a);
      if (!types.is(TYPE_TYPESET)) break;
      if (is_return_spec(types)) continue;
      if (!used && safer_) {
        if (index_ < tail_of(args_)) ++index_;
        continue;
      }
      if (used) {
        if (!take_argument(types, a)) return false;
        ++taken;
      } else {
        bool present = false;
        if (!evaluate_next(&present)) return false;
        stack::top = pushed_from;
      }
    }
    if (!native_like_ && used) {
      for (uint32_t k = 0; k < taken; ++k) flag[1 + k] = pushed_from[k];
      stack::top = pushed_from;
    }
    return true;
  }

  bool already_used(uint32_t at) const {
    if (native_like_) return refinements_[interpreter::refinement_ordinal(cache_entry(at)) - 1] != -1;
    const Cell* flag = stack::arguments() + at;
    return flag->is(TYPE_LOGIC) && logic::get(*flag) != 0;
  }

  // The cache index of the refinement a path element names; *used is
  // false for a get-word whose value is falsy.
  uint32_t refinement_at(const Cell& element, bool* used) {
    *used = true;
    if (element.is(TYPE_GET_WORD)) *used = logic::value_true(*context::get(&element), false, nullptr);
    else if (!element.is(TYPE_WORD)) fire(ErrorId::script_bad_refine, &element);
    int32_t at = context::find_word(context_, word::symbol_of(element), true);
    if (at < 0 || static_cast<uint32_t>(at) >= cache_count() || !cache_entry(static_cast<uint32_t>(at)).is(TYPE_REFINEMENT))
      fire(ErrorId::script_no_refine, &name_, &element);
    return static_cast<uint32_t>(at);
  }

  // The refinements a path names, in path order, as a call through the
  // path would use them.
  bool refinements_from_path(const Cell& path) {
    for (uint32_t p = series::index_of(path) + 1; p < tail_of(path); ++p) {
      bool used = false;
      uint32_t at = refinement_at(cell_at(path, p), &used);
      if (already_used(at)) fire(ErrorId::script_dup_refine, &path);
      if (!refinement_arguments(at, used)) return false;
    }
    return true;
  }

  // Without /all, the values after the plain arguments name refinements,
  // each followed by its arguments (`apply :append [[] [1 2] /only]`), used
  // as a path would use them; anything else there is no refinement.
  bool refinements_named_in_block() {
    while (index_ < tail_of(args_)) {
      Cell* slot = stack::top;
      bool present = false;
      if (!evaluate_next(&present)) return false;
      Cell element = *slot;
      stack::top = slot;
      if (!element.is(TYPE_REFINEMENT)) fire(ErrorId::script_bad_refine, &element);
      Cell word = element;
      word.set_type(TYPE_WORD);
      bool used = false;
      uint32_t at = refinement_at(word, &used);
      if (already_used(at)) fire(ErrorId::script_dup_refine, &args_);
      if (!refinement_arguments(at, used)) return false;
    }
    return true;
  }

  // /all: every refinement of the interface in order, each a logic value from
  // the block followed by its arguments; missing trailing ones are false.
  // A refinement that the path names is used whatever its logic value.
  bool refinements_from_block(uint32_t from, const Cell* path) {
    std::vector<bool> named(cache_count(), false);
    if (path != nullptr) {
      for (uint32_t p = series::index_of(*path) + 1; p < tail_of(*path); ++p) {
        bool used = false;
        uint32_t at = refinement_at(cell_at(*path, p), &used);
        if (named[at]) fire(ErrorId::script_dup_refine, path);
        named[at] = used;
      }
    }
    for (uint32_t at = from; at < cache_count(); ++at) {
      if (!cache_entry(at).is(TYPE_REFINEMENT)) continue;
      Cell* slot = stack::top;
      bool present = false;
      if (!evaluate_next(&present)) return false;
      bool used = named[at] || (present && logic::value_true(*slot, false, nullptr));
      stack::top = slot;
      if (!refinement_arguments(at, used)) return false;
    }
    return true;
  }

  Cell callee_;
  Cell name_;
  Cell args_;
  uint32_t index_;
  bool all_;
  bool safer_;
  bool native_like_ = false;
  NodeId context_ = 0;
  NodeId cache_ = 0;
  int32_t refinements_[32];
};

void apply(bool check_types, const int32_t* refinements) {
  if (check_types) {
    check(applicable_types, 0);
    check(block_types, 1);
  }
  bool all = refinements[0] != -1;
  bool safer = refinements[1] != -1;
  Cell target = *argument(0);
  Cell args = *argument(1);
  Cell name = applied_word;
  Cell callee = target;
  const Cell* path = nullptr;
  switch (target.type()) {
    case TYPE_WORD:
    case TYPE_LIT_WORD:
    case TYPE_GET_WORD:
    case TYPE_SET_WORD:
      callee = *context::get(&target);
      name = target;
      name.set_type(TYPE_WORD);
      break;
    case TYPE_PATH: {
      uint32_t at = series::index_of(target);
      Cell head = tail_of(target) > at ? cell_at(target, at) : none::value;
      if (!head.is(TYPE_WORD)) fire(ErrorId::script_invalid_arg, &target);
      callee = *context::get(&head);
      name = head;
      path = argument(0);
      break;
    }
    default:
      break;
  }
  if (!is_callable(callee.type())) fire(ErrorId::script_invalid_arg, &target);
  if (callee.is(TYPE_OP)) {
    callee.header = (callee.header & ~flags::kTypeMask & ~flags::kOpTypeMask) | native::op_source_type(callee);
  }
  if (callee.is(TYPE_ROUTINE)) fire(ErrorId::internal_routines);
  stack::set_interp_flag();
  // The callee stays reachable on the stack while the arguments evaluate.
  Cell* callee_cell = stack::push(callee);
  Application application(*callee_cell, name, args, all, safer);
  if (!application.gather(path)) return;
  application.call();
  if (interpreter::exiting()) return;
  stack::unwind();
  stack::set_last(callee_cell[1]);
}

// --- transcode -------------------------------------------------------------------------

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
  if (is_binary) {
    // The scan may run Kel code (the trace callback) that changes the
    // binary: it reads a copy of the bytes.
    const uint8_t* head = binary::rs_head(source);
    std::vector<uint8_t> bytes(head, head + length);
    type = lexer::scan(output, bytes.data(), static_cast<uint32_t>(length), options, &consumed);
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
  NodeId context = function::context_of(callback);
  Cell name = word::make_value(runtime_words::angled_lexer_callback, 0, -1);
  stack::mark_func(&name, context, context::values_reference(context));
  NodeId cache = interpreter::argument_cache(callback);
  uint32_t given = 0;
  bool in_refinements = false;
  for (uint32_t i = 0; i < tail_of(block::make_value(cache)); ++i) {
    Cell entry = memory::buffer_of(cache)->cells()[i];
    if (entry.is(TYPE_TYPESET)) {
      if ((entry.header & interpreter::kArgumentKindMask) == interpreter::kReturnSpec) continue;
      stack::push(!in_refinements && given < 5 ? arguments[given++] : none::value);
    } else if (entry.is(TYPE_REFINEMENT)) {
      in_refinements = true;
      stack::push(logic::false_value);
    } else if (entry.is(TYPE_INTEGER)) {
      stack::push(logic::false_value);  // /local, then its words
      for (int32_t k = 1; k < entry.int_at2(); ++k) stack::push(none::value);
    }
  }
  Cell* frame = stack::arguments();
  interpreter::call_function(callback, context);
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
  if (!body.is(TYPE_BLOCK) || series::index_of(body) >= tail_of(body)) return false;
  *out = cell_at(body, series::index_of(body));
  return true;
}

}  // namespace

void init() {
  try_word = word::make_value(symbol::make("try"), 0, -1);
  body_word = word::make_value(runtime_words::angled_body, 0, -1);
  name_word = word::make_value(runtime_words::name, 0, -1);
  applied_word = word::make_value(symbol::make("<applied>"), 0, -1);
  console_symbol = symbol::resolve(symbol::make("console"));

  block_types = typeset_of({{TYPE_BLOCK}});
  word_types = typeset_of({{TYPE_WORD}});
  names_types = typeset_of({{TYPE_WORD, TYPE_BLOCK}});
  source_types = typeset_of({{TYPE_BINARY, TYPE_STRING}});
  part_types = typeset_of({{TYPE_INTEGER, TYPE_BINARY}});
  callback_types = typeset_of({{TYPE_FUNCTION, TYPE_ROUTINE}});
  applicable_types = typeset_of({{TYPE_WORD, TYPE_PATH}, kAnyFunction});

  lexer::CallbackBridge bridge;
  bridge.call = call_lexer_callback;
  bridge.first_body_value = callback_first_body_value;
  lexer::set_callback_bridge(bridge);

  using natives::Native;
  natives::install(Native::try_, try_);
  natives::install(Native::break_, break_);
  natives::install(Native::continue_, continue_);
  natives::install(Native::exit, exit);
  natives::install(Native::return_, return_);
  natives::install(Native::throw_, throw_);
  natives::install(Native::catch_, catch_);
  natives::install(Native::transcode, transcode);
  natives::install(Native::apply, apply);
}

}  // namespace kel::natives_exits
