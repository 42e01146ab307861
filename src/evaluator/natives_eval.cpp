// Function makers and evaluation natives: func, function, does, has, do,
// get, set, print, prin, type?, reduce, compose, stats, bind, in, and the
// entry of parse.
//
// Each entry reads its arguments from the current native frame (argument 0
// is also the result cell) and leaves its result there. Entries that
// evaluate code keep every value they still need on the evaluation stack
// (the frame's own cells, or cells pushed above them) while Kel code runs,
// and return at once, without touching the stacks, when the evaluation ends
// in a pending exit: the stacks then belong to the frame that catches it.
//
// Output blocks (reduce, compose) are filled in one of two modes: appending
// when the output is new or positioned at its tail, inserting at its
// position otherwise, the position then moving past each inserted value.
// insert_value does both and keeps a hash! output's index in step.
#include <cstring>
#include <initializer_list>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/native_arguments.h"
#include "evaluator/natives.h"
#include "evaluator/natives_families.h"
#include "evaluator/parse.h"
#include "evaluator/parse_match.h"
#include "runtime/stack.h"
#include "evaluator/trace.h"
#include "io/lexer.h"
#include "datatypes/memory_stats.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "runtime/exits.h"
#include "runtime/output_hooks.h"
#include "runtime/runtime.h"
#include "datatypes/runtime_words.h"
#include "datatypes/argument_checks.h"

namespace kel::natives_eval {

namespace {

using namespace native_arguments;

// Whether the text of the last print or prin ended with a line feed.
bool line_feed_last = true;

// Library functions that do hands its work to.
uint32_t do_file_symbol = 0;
uint32_t expand_directives_symbol = 0;
uint32_t show_memory_stats_symbol = 0;

// Accepted argument types, for entries called with check_types.
Cell block_types;
Cell any_block_types;
Cell word_types;
Cell function_types;
Cell get_word_types;      // get: any-word! any-path! object!
Cell set_word_types;      // set: any-word! block! object! any-path!
Cell bind_target_types;   // bind: block! any-word!
Cell bind_context_types;  // bind: any-word! any-object! function!
Cell in_object_types;     // in: any-object! any-function!
Cell in_word_types;       // in: any-word! refinement!
Cell parse_input_types;   // parse: binary! any-block! any-string!
Cell parse_length_types;  // parse: number! series!

inline SeriesBuffer* buffer_of(const Cell& block) { return block::buffer_of(&block); }
inline uint32_t tail_of(const Cell& block) { return buffer_of(block)->cell_count(); }
inline void clamp_index(Cell* block) {
  uint32_t tail = tail_of(*block);
  if (series::index_of(*block) > tail) series::set_index(block, tail);
}
inline bool is_any_path(TypeId type) { return type_in(type, kAnyPath); }
inline bool is_any_block(TypeId type) { return type_in(type, kAnyList) || is_any_path(type); }
inline bool is_function_kind(TypeId type) { return type_in(type, kAnyFunction); }

// Puts one value into an output block: appended, or inserted at the
// output's position, which then moves past it.
void put_value(Cell* out, const Cell& value, bool append) {
  uint32_t after = block::insert_value(out, &value, -1, true, 1, append);
  if (!append) series::set_index(out, after);
}
// The same for every value of a block (from its index).
void put_values(Cell* out, const Cell& values, bool append) {
  uint32_t after = block::insert_value(out, &values, -1, false, 1, append);
  if (!append) series::set_index(out, after);
}

// Evaluates one value as an expression of its own (a word yields its
// value, a path is evaluated, a function value is called with no
// arguments); the result is pushed. False when an exit is pending.
bool eval_single(const Cell& value) {
  Cell* holder = block::push_only(1);
  block::rs_append(holder, value);
  Cell code = *holder;
  Cell* result = stack::top;
  interpreter::eval_next(code, 0);
  if (interpreter::exiting()) return false;
  *holder = *result;
  stack::top = holder + 1;
  return true;
}

// An empty block for path evaluations that take no arguments from code.
Cell* push_empty_code() { return block::push_only(1); }

// --- Function makers -------------------------------------------------------------------

// The work of func: validates the interface block and makes the function,
// bound to a new context made from that block's words.
void make_function(Cell spec, Cell body) {
  clamp_index(&spec);
  clamp_index(&body);
  uint32_t flags = function::validate_spec(&spec);
  Cell made = *function::push(&spec, &body, 0, flags);
  stack::set_last(made);
}

void func(bool check_types, const int32_t*) {
  if (check_types) {
    check(block_types, 0);
    check(block_types, 1);
  }
  make_function(*argument(0), *argument(1));
}

// function: the set-words of the body (and the words of repeat, foreach and
// remove-each) become locals of a copy of the interface block, unless /extern names
// them there.
void function_(bool check_types, const int32_t*) {
  if (check_types) {
    check(block_types, 0);
    check(block_types, 1);
  }
  clamp_index(argument(0));
  clamp_index(argument(1));
  Cell* spec = block::clone(argument(0), false, true);
  function::collect_words(spec, argument(1));
  make_function(*spec, *argument(1));
}

void does(bool check_types, const int32_t*) {
  if (check_types) check(block_types, 0);
  Cell* spec = block::push_only(1);
  make_function(*spec, *argument(0));
}

void has(bool check_types, const int32_t*) {
  if (check_types) {
    check(block_types, 0);
    check(block_types, 1);
  }
  clamp_index(argument(0));
  Cell* spec = block::clone(argument(0), false, true);
  block::insert_cells(spec, runtime_words::local_refinement, false, true);
  make_function(*spec, *argument(1));
}

// --- do --------------------------------------------------------------------------------------

// The preprocessor, when the library has one: expands the directives of
// the block in place. Until the library brings it, a block is run as it is.
void expand_directives(const Cell& code) {
  Cell* expander = context::global_slot(expand_directives_symbol);
  if (expander == nullptr || !expander->is(TYPE_FUNCTION)) return;
  Cell function = *expander;
  interpreter::call_value(function, &code, 1);
}

// A block (or paren or hash) as do runs it: the whole block, or with
// next_at >= 0 one expression, the position word then receiving the block
// at the position after it.
void do_block(Cell code, bool expand, int32_t next_at) {
  clamp_index(&code);
  Cell* held = stack::push(code);  // stays reachable while it runs
  if (expand) expand_directives(code);
  Cell* result = stack::top;
  if (next_at < 0) {
    interpreter::eval_block(code, false);
    if (interpreter::exiting()) return;
    stack::set_last(*result);
    return;
  }
  uint32_t after = interpreter::eval_next(code, series::index_of(code));
  if (interpreter::exiting()) return;
  Cell position = *held;
  series::set_index(&position, after);
  context::set(argument(next_at), position);
  stack::set_last(*result);
}

// file! and url!: the library's do-file runs the script.
void do_script_file(const Cell& file, const Cell& script_arguments) {
  Cell* runner = context::global_slot(do_file_symbol);
  if (runner == nullptr || !runner->is(TYPE_FUNCTION)) fire(ErrorId::internal_not_done);
  Cell function = *runner;
  Cell arguments[3] = {file, none::value, script_arguments};
  Cell result = interpreter::call_value(function, arguments, 3);
  stack::set_last(result);
}

void evaluate_value(const Cell& value, bool expand, int32_t args_at, int32_t next_at) {
  switch (value.type()) {
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH:
      do_block(value, expand, next_at);
      return;
    case TYPE_STRING: {
      std::string text = string::to_std_string(value);
      Cell* loaded = stack::push_slot();
      lexer::load(loaded, reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()));
      do_block(*loaded, expand, next_at);
      return;
    }
    case TYPE_FILE:
    case TYPE_URL:
      do_script_file(value, used(args_at) ? *argument(args_at) : none::value);
      return;
    case TYPE_ERROR:
      stack::throw_error(value);
    default: {
      Cell* result = stack::top;
      if (!eval_single(value)) return;
      stack::set_last(*result);
      return;
    }
  }
}

// The end of a traced do: the tracer hears `end` with the exit in flight
// set aside, then it is removed.
void finish_tracing() {
  runtime::SystemRecord& system = runtime::system();
  uint32_t pending = exits::pending;
  uint32_t exit_code = system.exit_code;
  Cell thrown = system.thrown_value;
  exits::pending = 0;
  struct Removal {
    ~Removal() { trace::remove(); }
  } removal;
  trace::report_end();
  exits::pending = pending;
  system.exit_code = exit_code;
  system.thrown_value = thrown;
}

// Refinements in spec order: /expand, /args, /next, /trace.
void do_(bool check_types, const int32_t* refinements) {
  int32_t expand = refinements[0], args_at = refinements[1], next_at = refinements[2],
          trace_at = refinements[3];
  // The value may be anything but unset.
  check_arg_not_unset(0, argument(0));
  if (check_types) {
    if (used(next_at)) check(word_types, next_at);
    if (used(trace_at)) check(function_types, trace_at);
  }
  Cell value = *argument(0);
  // Read before the install, which turns tracing on.
  bool user_tracing_before = interpreter::user_tracing();
  // A do/trace inside a traced evaluation keeps the tracer it runs under.
  if (!used(trace_at) || !trace::install(*argument(trace_at))) {
    evaluate_value(value, used(expand), args_at, next_at);
    return;
  }
  // Installed from library code (the developer tools), the tracer still
  // hears the user code that the library evaluates; afterwards that code
  // runs untraced again.
  interpreter::set_user_tracing(true);
  try {
    trace::report_init();
    evaluate_value(value, used(expand), args_at, next_at);
  } catch (const exits::Unwind&) {
    finish_tracing();
    interpreter::set_user_tracing(user_tracing_before);
    throw;
  }
  finish_tracing();
  interpreter::set_user_tracing(user_tracing_before);
}

// --- get and set ------------------------------------------------------------------------------

// Refinements: /any, /case.
void get(bool check_types, const int32_t* refinements) {
  if (check_types) check(get_word_types, 0);
  bool any = used(refinements[0]);
  Cell target = *argument(0);
  if (is_any_path(target.type())) {
    // Paths are read in get mode. The path steps compare keys their own
    // way: /case does not reach them yet.
    Cell* code = push_empty_code();
    Cell* result = stack::top;
    interpreter::eval_path(target, *code, 0, 0, true, nullptr);
    if (interpreter::exiting()) return;
    stack::set_last(*result);
    return;
  }
  if (object::is_object_kind(target.type())) {
    Cell* result = actions::handler_for<Action::reflect>(target)(argument(0), static_cast<int>(runtime_words::values));
    stack::set_last(*result);
    return;
  }
  Cell value = *context::get(&target);
  if (value.is(TYPE_UNSET) && !any) fire(ErrorId::script_no_value, &target);
  stack::set_last(value);
}

// set with a block of words: the i-th word takes the i-th value of a block
// kind value (none past its end), or each word the value itself.
void set_words(const Cell& words, const Cell& value, bool any, bool only, bool some) {
  bool spread = !only && is_any_block(value.type());
  uint32_t value_index = series::index_of(value);
  for (uint32_t i = series::index_of(words); i < tail_of(words); ++i, ++value_index) {
    Cell word = buffer_of(words)->cells()[i];
    if (!word::is_any_word(word.type()) || word.is(TYPE_REFINEMENT) || word.is(TYPE_ISSUE))
      fire(ErrorId::script_invalid_arg, &word);
    Cell assigned = value;
    if (spread) assigned = value_index < tail_of(value) ? buffer_of(value)->cells()[value_index] : none::value;
    if (assigned.is(TYPE_UNSET) && !any) fire(ErrorId::script_need_value, &word);
    if (some && assigned.is(TYPE_NONE)) continue;
    context::set(&word, assigned);
  }
}

// Refinements: /any, /case, /only, /some.
void set(bool check_types, const int32_t* refinements) {
  if (check_types) check(set_word_types, 0);
  bool any = used(refinements[0]);
  bool only = used(refinements[2]);
  bool some = used(refinements[3]);
  Cell target = *argument(0);
  Cell value = *argument(1);
  if (value.is(TYPE_UNSET) && !any) fire(ErrorId::script_need_value, &target);
  if (target.is(TYPE_BLOCK)) {
    set_words(target, value, any, only, some);
  } else if (is_any_path(target.type())) {
    Cell* code = push_empty_code();
    interpreter::eval_path(target, *code, 0, 0, false, argument(1));
    if (interpreter::exiting()) return;
  } else if (object::is_object_kind(target.type())) {
    object::set_values(target, value, any, only, some);
  } else {
    context::set(argument(0), value);
  }
  stack::set_last(value);
}

// --- print and prin -------------------------------------------------------------------------------

void reduce_into(const Cell& code, Cell* out, bool append);

// A block is reduced and its values formed with spaces between them; a
// string goes out from its index; anything else is formed.
void output(bool line_feed) {
  Cell value = *argument(0);
  Cell* text;
  if (value.is(TYPE_BLOCK)) {
    Cell* reduced = block::push_only(block::rs_length(&value) > 0 ? block::rs_length(&value) : 1);
    reduce_into(value, reduced, true);
    if (interpreter::exiting()) return;
    text = string::push_new(16);
    actions::form(reduced, text, nullptr, 0x7FFFFFFF);
  } else if (value.is(TYPE_STRING)) {
    text = stack::push(value);
    uint32_t length = string::rs_length_from_head(text);
    if (series::index_of(*text) > length) series::set_index(text, length);
  } else {
    text = string::push_new(16);
    actions::form(argument(0), text, nullptr, 0x7FFFFFFF);
  }
  output_hooks::run_print_hooks(text, line_feed);
  line_feed_last = line_feed;
  unset::set_result();
}

void print(bool, const int32_t*) { output(true); }
void prin(bool, const int32_t*) { output(false); }

// --- type? ----------------------------------------------------------------------------------------

// Refinement: /word.
void type_q(bool, const int32_t* refinements) {
  TypeId type = argument(0)->type();
  if (used(refinements[0])) word::make_in_result(type_name(type).symbol);
  else stack::set_last(datatype::make(type));
}

// --- reduce and compose --------------------------------------------------------------------------

// Evaluates the expressions of code one by one into out.
void reduce_into(const Cell& code, Cell* out, bool append) {
  uint32_t index = series::index_of(code);
  while (index < tail_of(code)) {
    Cell* result = stack::top;
    index = interpreter::eval_next(code, index);
    if (interpreter::exiting()) return;
    Cell value = *result;
    clear_new_line(&value);
    stack::top = result;
    put_value(out, value, append);
  }
}

// Code of at most this many cells is reduced onto the evaluation stack and
// its block made at the end, at its exact size: a short reduce (the
// two-value blocks that build trees and pairs) would otherwise reserve a
// cell per cell of code and keep the surplus alive as long as the block.
// The bound keeps the values waiting on the stack, below the expression
// being evaluated, about as few as the one output block they replace.
constexpr int32_t kStackedReduceCells = 8;

// Reduces code (index clamped) into a new block pushed on the stack, and
// answers it (unless an exit is pending).
Cell reduce_stacked(const Cell& code) {
  Cell* values = stack::top;
  uint32_t count = 0;
  uint32_t index = series::index_of(code);
  while (index < tail_of(code)) {
    Cell* result = values + count;
    stack::top = result;
    index = interpreter::eval_next(code, index);
    if (interpreter::exiting()) return none::value;
    clear_new_line(result);
    stack::top = result + 1;
    ++count;
  }
  // The values stay on the stack, and so reachable, while the block is made.
  NodeId node = memory::alloc_cells(count > 0 ? count : 1);
  SeriesBuffer* buffer = memory::buffer_of(node);
  std::memcpy(buffer->data(), values, count * sizeof(Cell));
  buffer->tail = count * sizeof(Cell);
  Cell made = block::make_value(node);
  *values = made;
  stack::top = values + 1;
  return made;
}

// Refinement: /into out.
void reduce(bool check_types, const int32_t* refinements) {
  int32_t into = refinements[0];
  if (check_types && used(into)) check(any_block_types, into);
  Cell value = *argument(0);
  Cell* out = used(into) ? argument(into) : nullptr;
  bool append = out == nullptr || block::rs_length(out) <= 0;
  uint32_t out_index = out ? series::index_of(*out) : 0;
  if (!value.is(TYPE_BLOCK)) {
    Cell* result = stack::top;
    if (is_function_kind(value.type())) stack::push(value);
    else if (!eval_single(value)) return;
    if (out == nullptr) {
      stack::set_last(*result);
      return;
    }
    put_value(out, *result, append);
    if (append) series::set_index(out, out_index);
    stack::set_last(*out);
    return;
  }
  clamp_index(&value);
  if (out == nullptr && block::rs_length(&value) <= kStackedReduceCells) {
    Cell made = reduce_stacked(value);
    if (!interpreter::exiting()) stack::set_last(made);
    return;
  }
  if (out == nullptr) {
    int32_t length = block::rs_length(&value);
    out = block::push_only(length > 0 ? length : 1);
  }
  reduce_into(value, out, append);
  if (interpreter::exiting()) return;
  if (append && used(into)) series::set_index(out, out_index);
  stack::set_last(*out);
}

// Composes the values of code into out: parens are evaluated (an empty one,
// or an unset result, contributes nothing; a block result contributes its
// values unless only), nested blocks are composed with deep.
void compose_into(const Cell& code, Cell* out, bool append, bool deep, bool only) {
  for (uint32_t i = series::index_of(code); i < tail_of(code); ++i) {
    Cell item = buffer_of(code)->cells()[i];
    if (item.is(TYPE_BLOCK) && deep) {
      int32_t length = block::rs_length(&item);
      Cell* nested = block::push_only(length > 0 ? length : 1);
      compose_into(item, nested, true, deep, only);
      if (interpreter::exiting()) return;
      Cell composed = *nested;
      composed.set_new_line(item.new_line());
      stack::top = nested;
      put_value(out, composed, append);
    } else if (item.is(TYPE_PAREN)) {
      if (block::rs_length(&item) <= 0) continue;
      Cell* result = stack::top;
      interpreter::eval_block(item, false);
      if (interpreter::exiting()) return;
      Cell value = *result;
      stack::top = result;
      if (value.is(TYPE_UNSET)) continue;
      if (value.is(TYPE_BLOCK) && !only) put_values(out, value, append);
      else put_value(out, value, append);
    } else {
      put_value(out, item, append);
    }
  }
}

// Refinements: /deep, /only, /into out.
void compose(bool check_types, const int32_t* refinements) {
  bool deep = used(refinements[0]);
  bool only = used(refinements[1]);
  int32_t into = refinements[2];
  if (check_types) {
    check(block_types, 0);
    if (used(into)) check(any_block_types, into);
  }
  Cell value = *argument(0);
  if (!value.is(TYPE_BLOCK)) {
    Cell expected = datatype::make(TYPE_BLOCK);
    Cell given = datatype::make(value.type());
    fire(ErrorId::script_expect_val, &expected, &given);
  }
  clamp_index(&value);
  Cell* out = used(into) ? argument(into) : nullptr;
  bool append = out == nullptr || block::rs_length(out) <= 0;
  uint32_t out_index = out ? series::index_of(*out) : 0;
  if (out == nullptr) {
    int32_t length = block::rs_length(&value);
    out = block::push_only(length > 0 ? length : 1);
  }
  compose_into(value, out, append, deep, only);
  if (interpreter::exiting()) return;
  if (append && used(into)) series::set_index(out, out_index);
  stack::set_last(*out);
}

// --- stats ------------------------------------------------------------------------------------------

// Refinements: /show, /info. The total is the memory statistics' figure:
// the node slots in use, the used part of every series frame and every big
// frame. /info answers the detailed table; /show hands it to the library's
// show-memory-stats, which prints it.
void stats(bool, const int32_t* refinements) {
  if (used(refinements[0]) || used(refinements[1])) {
    // The figures are taken before the table is built, which allocates.
    memory_stats::Figures figures = memory_stats::gather();
    Cell* table = block::push_only(5);
    memory_stats::fill_block(table, figures);
    if (used(refinements[1])) {
      stack::set_last(*table);
      return;
    }
    Cell* shower = context::global_slot(show_memory_stats_symbol);
    if (shower == nullptr || !shower->is(TYPE_FUNCTION)) fire(ErrorId::internal_not_done);
    Cell function = *shower;
    interpreter::call_value(function, table, 1);
    unset::set_result();
    return;
  }
  double total = static_cast<double>(memory_stats::total_bytes());
  if (total > 2147483647.0) stack::set_last(float_type::make(total));
  else stack::set_last(integer::make(static_cast<int32_t>(total)));
}

// --- bind and in ----------------------------------------------------------------------------------

// The context behind a bind target or an in source, 0 when it has none.
NodeId context_behind(const Cell& value, bool* is_object) {
  *is_object = false;
  TypeId type = value.is(TYPE_OP) ? native::op_source_type(value) : value.type();
  switch (type) {
    case TYPE_FUNCTION:
    case TYPE_ROUTINE:
      return function::context_of(value);
    case TYPE_NATIVE:
    case TYPE_ACTION:
      return native::context_of(value);
    case TYPE_OBJECT:
    case TYPE_ERROR:
    case TYPE_PORT:
      *is_object = true;
      return object::context_of(value);
    default:
      return word::is_any_word(type) ? word::context_of(value) : 0;
  }
}

// Refinement: /copy.
void bind(bool check_types, const int32_t* refinements) {
  if (check_types) {
    check(bind_target_types, 0);
    check(bind_context_types, 1);
  }
  bool is_object = false;
  NodeId context = context_behind(*argument(1), &is_object);
  Cell* target = argument(0);
  if (target->is(TYPE_BLOCK)) {
    if (used(refinements[0])) target = block::clone(target, true, true);
    if (context != 0) context::bind(target, context, is_object);
    stack::set_last(*target);
    return;
  }
  if (context != 0) context::bind_word(context, target);
}

void in(bool check_types, const int32_t*) {
  if (check_types) {
    check(in_object_types, 0);
    check(in_word_types, 1);
  }
  bool is_object = false;
  NodeId context = context_behind(*argument(0), &is_object);
  Cell word = *argument(1);
  if (context == 0 || context::bind_word(context, &word) < 0) {
    none::set_result();
    return;
  }
  if (word.is(TYPE_REFINEMENT)) word.set_type(TYPE_WORD);
  stack::set_last(word);
}

// --- parse (entry) ------------------------------------------------------------------------------

// Refinements: /case, /part length, /trace callback. The entry settles the
// comparison mode and the limit (an absolute input index; one at or before
// the input's index answers at once, one beyond its tail is clamped by the
// engine) and hands the rest to the parse engine. A break,
// continue, return, exit or throw raised by a rule's action is left pending
// by the engine; the entry then returns at once.
void parse(bool check_types, const int32_t* refinements) {
  int32_t case_at = refinements[0], part_at = refinements[1], trace_at = refinements[2];
  if (check_types) {
    check(parse_input_types, 0);
    check(block_types, 1);
    if (used(part_at)) check(parse_length_types, part_at);
    if (used(trace_at)) check(function_types, trace_at);
  }
  Cell input = *argument(0);
  int64_t limit = 0;
  if (used(part_at)) {
    Cell length = *argument(part_at);
    if (length.is(TYPE_INTEGER)) {
      limit = int64_t{series::index_of(input)} + length.int_at2();
    } else if (length.is(TYPE_FLOAT) || length.is(TYPE_PERCENT)) {
      limit = int64_t{series::index_of(input)} + number_to_integer(length);
    } else {
      if (length.type() != input.type() || series::node_of(length) != series::node_of(input)) {
        Cell refinement = runtime_words::part_refinement;
        fire(ErrorId::script_invalid_refine_arg, &refinement, &length);
      }
      limit = series::index_of(length);
    }
    // Nothing to parse: the rules do not run, and the answer is whether
    // the input itself is empty from its index.
    if (limit <= int64_t{series::index_of(input)}) {
      stack::set_last(logic::make(series::index_of(input) >= parse::match::length_of(input)));
      return;
    }
  }
  const Cell* callback = used(trace_at) ? argument(trace_at) : nullptr;
  int32_t mode = used(case_at) ? parse::kCaseSensitive : parse::kCaseInsensitive;
  Cell result = parse::process(input, *argument(1), mode, used(part_at), limit, callback);
  if (interpreter::exiting()) return;  // the stacks belong to the exit's catcher now
  stack::set_last(result);
}

}  // namespace

bool last_line_feed() { return line_feed_last; }

void init() {
  do_file_symbol = symbol::make("do-file");
  expand_directives_symbol = symbol::make("expand-directives");
  show_memory_stats_symbol = symbol::make("show-memory-stats");

  block_types = typeset_of({{TYPE_BLOCK}});
  any_block_types = typeset_of({kAnyList, kAnyPath});
  word_types = typeset_of({{TYPE_WORD}});
  function_types = typeset_of({{TYPE_FUNCTION}});
  get_word_types = typeset_of({kAnyWord, kAnyPath, {TYPE_OBJECT}});
  set_word_types = typeset_of({kAnyWord, {TYPE_BLOCK, TYPE_OBJECT}, kAnyPath});
  bind_target_types = typeset_of({{TYPE_BLOCK}, kAnyWord});
  bind_context_types = typeset_of({kAnyWord, kAnyObject, {TYPE_FUNCTION}});
  in_object_types = typeset_of({kAnyObject, kAnyFunction});
  in_word_types = typeset_of({kAnyWord, {TYPE_REFINEMENT}});
  parse_input_types = typeset_of({{TYPE_BINARY}, kAnyList, kAnyPath, kAnyString});
  parse_length_types = typeset_of({{TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT}, kAnyList, kAnyPath, kAnyString,
                                   {TYPE_BINARY, TYPE_IMAGE, TYPE_VECTOR}});

  using natives::Native;
  natives::install(Native::func, func);
  natives::install(Native::function, function_);
  natives::install(Native::does, does);
  natives::install(Native::has, has);
  natives::install(Native::do_, do_);
  natives::install(Native::get, get);
  natives::install(Native::set, set);
  natives::install(Native::print, print);
  natives::install(Native::prin, prin);
  natives::install(Native::type_q, type_q);
  natives::install(Native::reduce, reduce);
  natives::install(Native::compose, compose);
  natives::install(Native::stats, stats);
  natives::install(Native::bind, bind);
  natives::install(Native::in, in);
  natives::install(Native::parse, parse);
}

}  // namespace kel::natives_eval
