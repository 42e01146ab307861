// apply: a call whose arguments come from a block rather than from the
// code after the function. The callee is a function value, or a word or a
// path naming one (a path's further elements name refinements); each
// argument is the value of the block's next expression, whatever the kind
// of the interface's argument (apply reduces; it never quotes).
//
// The call frame is laid out exactly as the interpreter lays out a call, so
// the entry of a native or action, or the body of a function, reads it as
// it reads any frame: a native's cells are its plain arguments and then the
// arguments of the refinements used, with one refinement integer each (the
// frame index of its first argument, -1 when unused); a function's cells
// are every word of its context in order, refinements logic values and
// their arguments none when unused. The callee stays on the stack while the
// arguments evaluate, and the block is read through its node and index at
// every step, since an argument's evaluation may change or move it.
#include <cstdint>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/native_arguments.h"
#include "evaluator/natives.h"
#include "evaluator/natives_families.h"
#include "runtime/stack.h"
#include "runtime/errors.h"
#include "datatypes/runtime_words.h"
#include "datatypes/argument_checks.h"

namespace kel::natives_apply {

namespace {

using namespace native_arguments;

Cell applied_word;  // names the call of a function value given to apply directly

// Accepted argument types, for the entry called with check_types.
Cell applicable_types;
Cell block_types;

inline bool is_callable(TypeId type) {
  return type == TYPE_NATIVE || type == TYPE_ACTION || type == TYPE_OP || type == TYPE_FUNCTION ||
         type == TYPE_ROUTINE;
}

// One call made by apply: its frame, gathered from the args block, then the
// call itself.
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
      stack::mark_function(name_, stack::kInterpFunc, context_, context::values_reference(context_));
    }
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
    if (!native_like_) interpreter::push_unfilled_cells(cache_, at);
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
  uint32_t cache_count() const { return memory::buffer_of(cache_)->cell_count(); }
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
    *present = index_ < block::length_from_head(&args_);
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
        if (index_ < block::length_from_head(&args_)) ++index_;
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
    for (uint32_t p = series::index_of(path) + 1; p < block::length_from_head(&path); ++p) {
      bool used = false;
      uint32_t at = refinement_at(*block::rs_abs_at(&path, p), &used);
      if (already_used(at)) fire(ErrorId::script_dup_refine, &path);
      if (!refinement_arguments(at, used)) return false;
    }
    return true;
  }

  // Without /all, the values after the plain arguments name refinements,
  // each followed by its arguments (`apply :append [[] [1 2] /only]`), used
  // as a path would use them; anything else there is no refinement.
  bool refinements_named_in_block() {
    while (index_ < block::length_from_head(&args_)) {
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
      for (uint32_t p = series::index_of(*path) + 1; p < block::length_from_head(path); ++p) {
        bool used = false;
        uint32_t at = refinement_at(*block::rs_abs_at(path, p), &used);
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
      Cell head = block::length_from_head(&target) > at ? *block::rs_abs_at(&target, at) : none::value;
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

}  // namespace

void init() {
  applied_word = word::make_value(symbol::make("<applied>"), 0, -1);
  applicable_types = typeset_of({{TYPE_WORD, TYPE_PATH}, kAnyFunction});
  block_types = typeset_of({{TYPE_BLOCK}});
  natives::install(natives::Native::apply, apply);
}

}  // namespace kel::natives_apply
