// The interpreter (see interpreter.h for the result placement and the exit
// protocol). Each routine here reads the block it evaluates through its node
// and an index, never through a pointer kept across an evaluation.
#include "evaluator/interpreter.h"
#include "evaluator/parse.h"

#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/native.h"
#include "datatypes/string.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime/actions.h"
#include "evaluator/natives.h"
#include "runtime/stack.h"
#include "evaluator/trace.h"
#include "evaluator/truth.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/exits.h"
#include "runtime/runtime.h"
#include "datatypes/runtime_words.h"
#include "datatypes/argument_checks.h"
#include "runtime/upcalls.h"

namespace kel::interpreter {

namespace {
bool library_code = false;  // evaluating a block of the library's own code
// The current position is kept by the frames (stack.h); this holds it only
// while the overflow error of a block that could not open its frame forms.
Cell overflow_block = make_cell(TYPE_UNSET);
Cell body_word;      // names block frames: <body>
Cell set_path_word;  // names set-path frames

// The cells of a block from its buffer head (the block's own index is
// added by the caller) and the number of cells.
inline Cell* cells_of(NodeId node) { return memory::buffer_of(node)->cells(); }
inline uint32_t tail_of(NodeId node) { return memory::buffer_of(node)->cell_count(); }
inline uint32_t limit(NodeId node, uint32_t end) {
  uint32_t tail = tail_of(node);
  return end < tail ? end : tail;
}

// Sets of datatypes as bit masks, tested with one shift: the interpreter
// asks these of nearly every cell it meets.
static_assert(kTypeCount < 64, "type masks hold every datatype");
constexpr uint64_t type_bit(TypeId type) { return uint64_t{1} << type; }
[[gnu::always_inline]] inline bool in_types(uint64_t types, TypeId type) { return (types >> (type & 63)) & 1; }
constexpr uint64_t kCallableTypes =
    type_bit(TYPE_NATIVE) | type_bit(TYPE_ACTION) | type_bit(TYPE_FUNCTION) | type_bit(TYPE_ROUTINE);

[[gnu::always_inline]] inline bool is_callable(TypeId type) { return in_types(kCallableTypes, type); }

// A value is left at `slot`, with the top just above it.
inline void put(Cell* slot, const Cell& value) {
  *slot = value;
  stack::top = slot + 1;
}

Cell anonymous_word() { return word::make_value(runtime_words::angled_anon, 0, -1); }

// eval_block's body (below), for the call paths to inline.
void run_block(const Cell& block, bool chain);
// A block run in the frame its caller opened (below).
void run_block_here(const Cell& block);
// A paren evaluated as a value (below).
void run_paren(const Cell& paren);
// eval_expression given its slot, the stack top (below).
uint32_t expression_at(const Cell& code, uint32_t index, uint32_t end, bool no_infix, bool quote_functions,
                       Cell* slot);

// The word of the argument at a cache index, for error messages.
Cell argument_word(const Cell& callee, uint32_t index) {
  NodeId context = callee.is(TYPE_FUNCTION) || callee.is(TYPE_ROUTINE) ? function::context_of(callee)
                                                                         : native::context_of(callee);
  if (context == 0 || index >= context::word_count(context)) return anonymous_word();
  Cell word = *context::word_at(context, index);
  word.set_type(TYPE_WORD);
  return word;
}

[[noreturn]] void missing_argument(const Cell& name, const Cell& callee, uint32_t index) {
  Cell argument = argument_word(callee, index);
  fire(ErrorId::script_no_arg, &name, &argument);
}

[[noreturn]] void wrong_argument_type(const Cell& name, const Cell& callee, uint32_t index, TypeId type) {
  Cell datatype_cell = datatype::make(type);
  Cell argument = argument_word(callee, index);
  fire(ErrorId::script_expect_arg, &name, &datatype_cell, &argument);
}

// The global context and its values block, whose node never changes once
// made (UINT32_MAX: no context, before the runtime is set up).
NodeId global_context = UINT32_MAX;
NodeId global_values = 0;

// The value cell of a bound word, read straight from its context: the
// interpreter's most frequent operation. Anything unusual (an unbound word,
// a function context not running, an index past the values) goes through
// context::get, which raises the right error.
[[gnu::always_inline]] inline Cell* lookup(const Cell& word) {
  NodeId context = word::context_of(word);
  int32_t index = word::index_of(word);
  if (context == global_context) {
    // The global context, most words' home: its values block is known, so
    // the lookup skips reading the context cell. Each read on the way waits
    // on the one before, and lookups lie on the interpreter's longest chain
    // of such reads.
    SeriesBuffer* values = memory::buffer_of(global_values);
    if (static_cast<uint32_t>(index) < values->cell_count()) return values->cells() + index;
    return context::get(&word);
  }
  if (context == context::last_referenced.context && context::last_referenced.reference != 0 && index >= 0) {
    // The running function's own words, mostly: the mirror of its
    // reference spares reading the context cell, as above.
    return stack::bottom + (context::last_referenced.reference - 1) + index;
  }
  if (context != 0 && index >= 0) {
    const Cell* context_cell = memory::buffer_of(context)->cells();
    if (context_cell->header & flags::kStackValues) {
      uint32_t reference = context::values_of(*context_cell);
      if (reference != 0) return stack::bottom + (reference - 1) + index;
    } else {
      SeriesBuffer* values = memory::buffer_of(context::values_of(*context_cell));
      if (static_cast<uint32_t>(index) < values->cell_count()) return values->cells() + index;
    }
  }
  return context::get(&word);
}

// The value of a word when its context can be read right now (a function
// context whose function is not running has no values), else null.
[[gnu::always_inline]] inline const Cell* peek(const Cell& word) {
  NodeId context = word::context_of(word);
  if (context == global_context) return lookup(word);
  if (context == context::last_referenced.context)
    return context::last_referenced.reference != 0 ? lookup(word) : nullptr;
  if (context == 0) return nullptr;
  const Cell* context_cell = memory::buffer_of(context)->cells();
  if ((context_cell->header & flags::kStackValues) && context::values_of(*context_cell) == 0) return nullptr;
  return lookup(word);
}
}  // namespace

Cell position() {
  if (!overflow_block.is(TYPE_UNSET)) return overflow_block;
  for (const stack::Frame* f = stack::frame_top - 1; f >= stack::frame_bottom; --f) {
    if (f->code == 0) continue;
    Cell block = make_cell(f->header & stack::kCodeTypeMask, f->code_index, f->code, 0);
    block.set_new_line((f->header & stack::kCodeNewLine) != 0);
    return block;
  }
  return make_cell(TYPE_UNSET);
}

bool in_library_code() { return library_code; }

namespace {
// sort/compare's hook: the comparison function called with two values. A
// break or throw out of the function becomes an exception here, which the
// sort lets pass.
Cell call_comparison(const Cell& function, const Cell& first, const Cell& second) {
  Cell arguments[2] = {first, second};
  return call_value(function, arguments, 2);
}
}  // namespace

void init() {
  collector::add_global_root(&overflow_block);
  global_context = context::global();
  global_values = context::values_node(global_context);
  body_word = word::make_value(runtime_words::angled_body, 0, -1);
  set_path_word = word::make_value(runtime_words::set_path, 0, -1);
  // The calls into Kel code that the datatypes make.
  upcalls::table.call_comparison = call_comparison;
  upcalls::table.call_value = call_value;
  upcalls::table.call_function = call_function;
  upcalls::table.eval_block = eval_block;
  upcalls::table.argument_cache = argument_cache;
  upcalls::table.open_function_frame = open_function_frame;
  upcalls::table.position = position;
  upcalls::table.mark_evaluator_roots = parse::mark_engines;
}

// --- The argument-spec cache ---------------------------------------------------------

namespace {
// Whether a cache entry is one a call fills: an argument (but `return:`) or
// a refinement.
inline bool shape_entry(const Cell& entry) {
  if (entry.is(TYPE_REFINEMENT)) return true;
  return entry.is(TYPE_TYPESET) && (entry.header & kArgumentKindMask) != kReturnSpec;
}

// The entries of the cache of a spec block (see interpreter.h), read
// without allocating.
std::vector<Cell> cache_entries(const Cell& spec, bool native_like) {
  std::vector<Cell> entries;
  NodeId spec_node = series::node_of(spec);
  uint32_t count = tail_of(spec_node);
  uint32_t refinements = 0;
  for (uint32_t i = series::index_of(spec); i < count; ++i) {
    Cell item = cells_of(spec_node)[i];
    switch (item.type()) {
      case TYPE_WORD:
      case TYPE_GET_WORD:
      case TYPE_LIT_WORD:
      case TYPE_SET_WORD: {
        bool is_return = item.is(TYPE_SET_WORD);
        // The only set-word an interface may hold is its return type.
        if (is_return && symbol::resolve(word::symbol_of(item)) != symbol::resolve(runtime_words::return_))
          fire(ErrorId::script_bad_func_def, &item);
        uint32_t kind = is_return ? kReturnSpec
                        : item.is(TYPE_GET_WORD) ? kGetArgument
                        : item.is(TYPE_LIT_WORD) ? kLitArgument
                                                 : kPlainArgument;
        Cell next = i + 1 < count ? cells_of(spec_node)[i + 1] : make_cell(TYPE_NONE);
        Cell types = next.is(TYPE_BLOCK) ? typeset::from_block(&next) : typeset::all_value();
        types.header = (types.header & ~kArgumentKindMask) | kind;
        entries.push_back(types);
        break;
      }
      case TYPE_REFINEMENT: {
        if (symbol::resolve(word::symbol_of(item)) == symbol::resolve(runtime_words::local)) {
          // The locals: /local itself and every word after it.
          int32_t locals = 1;
          for (uint32_t j = i + 1; j < count; ++j)
            if (cells_of(spec_node)[j].is(TYPE_WORD)) ++locals;
          if (!native_like) entries.push_back(integer::make(locals));
          i = count;
          break;
        }
        Cell refinement = item;
        set_refinement_ordinal(&refinement, native_like ? ++refinements : 0);
        entries.push_back(refinement);
        break;
      }
      default:
        break;
    }
  }
  if (native_like && refinements > 0) entries.push_back(integer::make(static_cast<int32_t>(refinements)));
  return entries;
}

// Holds a native's or an action's cache entries to the interface its entry
// was registered with: the same arguments and refinements in the same order
// (names and argument kinds may differ), each argument accepting only types
// that both interfaces accept, so the entry never meets a cell its own
// interface would not pass. Answers false when the shapes differ.
bool conform_to_registered(std::vector<Cell>& entries, const std::vector<Cell>& registered) {
  size_t b = 0;
  for (Cell& mine : entries) {
    if (!shape_entry(mine)) continue;
    if (b == registered.size()) return false;
    const Cell& given = registered[b++];
    if (mine.type() != given.type()) return false;
    if (mine.is(TYPE_TYPESET)) {
      typeset::restrict_to(&mine, given);
    }
  }
  return b == registered.size();
}

// Builds the cache of a spec block: see interpreter.h. For a native or an
// action, registered is the interface registered for its number.
NodeId build_cache(const Cell& spec, bool native_like, const std::vector<Cell>* registered) {
  std::vector<Cell> entries = cache_entries(spec, native_like);
  if (registered != nullptr && !conform_to_registered(entries, *registered)) {
    Cell whole = spec;
    fire(ErrorId::script_bad_func_def, &whole);
  }
  stack::Guard guard;
  Cell* cache = block::push_only(static_cast<int32_t>(entries.size() > 0 ? entries.size() : 1));
  for (const Cell& entry : entries) block::rs_append(cache, entry);
  // The arguments a plain call takes (those before the first refinement)
  // are all evaluated ones: the interpreter's quick calls may take it.
  bool plain = true;
  SeriesBuffer* built = block::buffer_of(cache);
  for (uint32_t i = 0; i < built->cell_count() && built->cells()[i].is(TYPE_TYPESET); ++i) {
    uint32_t kind = built->cells()[i].header & kArgumentKindMask;
    if (kind != kPlainArgument && kind != kReturnSpec) plain = false;
  }
  if (plain) {
    built->flags |= series_flags::kPlainArguments;
    // The quick call reads the arguments' number here instead of walking
    // the entries, when they come first: a return type may follow them
    // (it takes no cell of the frame), but no argument after it.
    uint32_t arity = 0;
    while (arity < built->cell_count() && arity < 255 && built->cells()[arity].is(TYPE_TYPESET) &&
           (built->cells()[arity].header & kArgumentKindMask) == kPlainArgument)
      ++arity;
    uint32_t after = arity;
    while (after < built->cell_count() && built->cells()[after].is(TYPE_TYPESET) &&
           (built->cells()[after].header & kArgumentKindMask) == kReturnSpec)
      ++after;
    bool counted = after == built->cell_count() || !built->cells()[after].is(TYPE_TYPESET);
    built->flags &= ~(series_flags::kPlainArity | series_flags::kOnlyPlainArity);
    if (counted) built->flags |= arity << series_flags::kPlainArityShift;
    if (counted && after == built->cell_count()) built->flags |= series_flags::kOnlyPlainArity;
  }
  // The shape of the conditionals: plain arguments and nothing else, every
  // one after the first taking a block.
  bool branches = plain && built->cell_count() >= 2;
  for (uint32_t i = 0; branches && i < built->cell_count(); ++i) {
    const Cell& types = built->cells()[i];
    branches = types.is(TYPE_TYPESET) && (types.header & kArgumentKindMask) == kPlainArgument &&
               (i == 0 || typeset_has(types, TYPE_BLOCK));
  }
  if (branches) built->flags |= series_flags::kBlockBranches;
  return series::node_of(*cache);
}
}  // namespace

void push_unfilled_cells(NodeId cache, uint32_t from) {
  uint32_t count = tail_of(cache);
  for (uint32_t i = from; i < count; ++i) {
    const Cell entry = cells_of(cache)[i];
    if (entry.is(TYPE_TYPESET)) {
      if ((entry.header & kArgumentKindMask) != kReturnSpec) stack::push(none::value);
    } else if (entry.is(TYPE_REFINEMENT)) {
      stack::push(logic::false_value);
    } else if (entry.is(TYPE_INTEGER)) {
      stack::push(logic::false_value);  // /local, then its words
      for (int32_t k = 1; k < entry.int_at2(); ++k) stack::push(none::value);
    }
  }
}

uint32_t push_frame_cells(NodeId cache, const Cell* given, uint32_t count, bool through_refinements) {
  uint32_t taken = 0;
  uint32_t i = 0;
  for (; i < tail_of(cache) && taken < count; ++i) {
    const Cell entry = cells_of(cache)[i];
    if (entry.is(TYPE_TYPESET)) {
      if ((entry.header & kArgumentKindMask) == kReturnSpec) continue;
    } else if (!through_refinements || !entry.is(TYPE_REFINEMENT)) {
      break;
    }
    stack::push(given[taken++]);
  }
  push_unfilled_cells(cache, i);
  return taken;
}

uint32_t open_function_frame(const Cell& function, const Cell& name, const Cell* given, uint32_t count,
                             bool through_refinements) {
  NodeId cache = argument_cache(function);  // built before the frame opens: building it may push
  NodeId context = function::context_of(function);
  stack::mark_func(&name, context, context::values_reference(context));
  return push_frame_cells(cache, given, count, through_refinements);
}

NodeId argument_cache(const Cell& callable) {
  bool native_like = callable.is(TYPE_NATIVE) || callable.is(TYPE_ACTION);
  NodeId info = native_like ? native::info_node(callable) : function::info_node(callable);
  uint32_t slot = native_like ? native::kInfoCache : function::kInfoCache;
  Cell* cached = cells_of(info) + slot;
  if (cached->is(TYPE_BLOCK)) return series::node_of(*cached);
  const std::vector<Cell>* registered =
      native_like ? native::registered_interface(callable.type(), native::number_of(callable)) : nullptr;
  Cell spec = block::make_value(native_like ? native::interface_node(callable) : function::interface_node(callable));
  NodeId node = build_cache(spec, native_like, registered);
  cells_of(info)[slot] = block::make_value(node);
  return node;
}

void register_interface(const Cell& builtin) {
  std::vector<Cell> shape;
  for (const Cell& entry : cache_entries(block::make_value(native::interface_node(builtin)), true))
    if (shape_entry(entry)) shape.push_back(entry);
  native::register_interface(builtin.type(), native::number_of(builtin), std::move(shape));
}

// --- Argument fetching ---------------------------------------------------------------

namespace {
// The argument cache of a callee whose cache is built: read in place.
inline NodeId cached_arguments(const Cell& callable) {
  // Natives and actions keep their info node and cache where functions do.
  static_assert(native::kInfoCache == function::kInfoCache);
  const Cell& cached = cells_of(function::info_node(callable))[function::kInfoCache];
  return cached.is(TYPE_BLOCK) ? series::node_of(cached) : argument_cache(callable);
}

constexpr uint32_t kMaxRefinements = 32;

// One call being gathered. The refinement integers are filled only for
// natives and actions (fetch_arguments), so they are not cleared here.
struct Call {
  Call(const Cell& callee_, const Cell& name_, bool native_like_, bool infix_)
      : callee(callee_), name(name_), native_like(native_like_), infix(infix_) {}
  const Cell& callee;
  const Cell& name;
  bool native_like;
  bool infix;
  int32_t refinements[kMaxRefinements];
};

// Values that evaluate to themselves: everything but words, paths, parens
// and function values (which the expression evaluator must see).
constexpr uint64_t kEvaluatedTypes = type_bit(TYPE_WORD) | type_bit(TYPE_SET_WORD) | type_bit(TYPE_GET_WORD) |
                                     type_bit(TYPE_LIT_WORD) | type_bit(TYPE_PATH) | type_bit(TYPE_SET_PATH) |
                                     type_bit(TYPE_GET_PATH) | type_bit(TYPE_LIT_PATH) | type_bit(TYPE_PAREN) |
                                     kCallableTypes | type_bit(TYPE_OP) | type_bit(TYPE_ISSUE);
[[gnu::always_inline]] inline bool stands_for_itself(TypeId type) { return !in_types(kEvaluatedTypes, type); }

// The op! value of a word, or null when the cell is no word bound to one.
[[gnu::always_inline]] inline const Cell* operator_at(const Cell& cell) {
  if (!cell.is(TYPE_WORD)) return nullptr;
  const Cell* value = peek(cell);
  return value != nullptr && value->is(TYPE_OP) ? value : nullptr;
}

// Whether the cell at index is a word whose value is an op!.
inline bool operator_follows(SeriesBuffer* buffer, uint32_t index, uint32_t stop) {
  return index < stop && operator_at(buffer->cells()[index]) != nullptr;
}

// The value a code cell gives without running anything: the cell itself
// when it stands for itself, the value of a word whose value is no
// function, op or unset (evaluating it can raise nothing); else null.
[[gnu::always_inline]] inline const Cell* plain_value(const Cell& cell) {
  if (stands_for_itself(cell.type())) return &cell;
  if (!cell.is(TYPE_WORD)) return nullptr;
  const Cell* found = peek(cell);
  constexpr uint64_t kNotPlain = kCallableTypes | type_bit(TYPE_OP) | type_bit(TYPE_UNSET);
  if (found == nullptr || in_types(kNotPlain, found->type())) return nullptr;
  return found;
}

// The common argument: a value that stands for itself, or a word whose
// value is no function, with no operator after it (an operator's right
// operand takes none). Its value, to be pushed without the general
// expression machinery; null for anything else.
[[gnu::always_inline]] inline const Cell* simple_argument(SeriesBuffer* buffer, uint32_t index, uint32_t stop, bool infix) {
  const Cell* simple = plain_value(buffer->cells()[index]);
  if (simple != nullptr && (infix || !operator_follows(buffer, index + 1, stop))) return simple;
  return nullptr;
}

// Fetches one argument described by a cache typeset into a new stack cell.
// The arguments of a conditional refinement that is not used are evaluated
// and dropped: check_type is then false.
uint32_t fetch_one(Call& call, const Cell& code, uint32_t index, uint32_t end, const Cell& types,
                   uint32_t cache_index, bool check_type = true) {
  uint32_t kind = types.header & kArgumentKindMask;
  NodeId node = series::node_of(code);
  uint32_t stop = limit(node, end);
  Cell* slot = stack::top;
  if (index >= stop) {
    if (kind == kLitArgument && typeset_has(types, TYPE_UNSET)) {
      stack::push(unset::value);
      return index;
    }
    missing_argument(call.name, call.callee, cache_index);
  }
  switch (kind) {
    case kGetArgument:
      if (trace::active()) trace::fire(trace::kFetch, &code, index, &cells_of(node)[index], nullptr);
      stack::push(cells_of(node)[index]);
      ++index;
      break;
    case kLitArgument: {
      Cell value = cells_of(node)[index];
      if (trace::active()) trace::fire(trace::kFetch, &code, index, &value, nullptr);
      if (value.is(TYPE_PAREN)) {
        eval_block(value, false);
        ++index;
      } else if (value.is(TYPE_GET_WORD)) {
        stack::push(*lookup(value));
        ++index;
      } else if (value.is(TYPE_GET_PATH)) {
        index = eval_path(value, code, index + 1, end, true, nullptr);
      } else {
        stack::push(value);
        ++index;
      }
      break;
    }
    default:
      if (!trace::active()) {
        if (const Cell* simple = simple_argument(memory::buffer_of(node), index, stop, call.infix)) {
          stack::push(*simple);
          ++index;
          break;
        }
      }
      index = eval_expression(code, index, end, call.infix, false);
      break;
  }
  if (exiting()) return index;
  if (check_type && !typeset_has(types, slot->type()))
    wrong_argument_type(call.name, call.callee, cache_index, slot->type());
  return index;
}

// Applies the refinements named in a path (from path_index on) to a call
// whose plain arguments are already in the frame.
uint32_t apply_path_refinements(Call& call, NodeId cache, const Cell& code, uint32_t index, uint32_t end,
                                const Cell& path, uint32_t path_index) {
  NodeId context = call.native_like ? native::context_of(call.callee) : function::context_of(call.callee);
  uint32_t path_length = tail_of(series::node_of(path));
  for (uint32_t p = series::index_of(path) + path_index; p < path_length; ++p) {
    Cell element = cells_of(series::node_of(path))[p];
    bool used = true;
    if (element.is(TYPE_GET_WORD)) {
      used = logic::value_true(*context::get(&element), false, nullptr);
    } else if (!element.is(TYPE_WORD)) {
      fire(ErrorId::script_bad_refine, &element);
    }
    int32_t at = context::find_word(context, word::symbol_of(element), true);
    uint32_t cache_count = tail_of(cache);
    if (at < 0 || static_cast<uint32_t>(at) >= cache_count || !cells_of(cache)[at].is(TYPE_REFINEMENT)) {
      Cell name = call.name;
      fire(ErrorId::script_no_refine, &name, &element);
    }
    Cell refinement = cells_of(cache)[at];
    Cell* first = nullptr;
    if (call.native_like) {
      uint32_t ordinal = refinement_ordinal(refinement);
      if (call.refinements[ordinal - 1] != -1) fire(ErrorId::script_dup_refine, &path);
      if (used) call.refinements[ordinal - 1] = static_cast<int32_t>(stack::top - stack::arguments());
    } else {
      Cell* flag = stack::arguments() + at;
      if (flag->is(TYPE_LOGIC) && logic::get(*flag)) fire(ErrorId::script_dup_refine, &path);
      *flag = logic::make(used);
      first = flag + 1;
    }
    // The refinement's arguments follow it in the cache.
    Cell* pushed_from = stack::top;
    for (uint32_t a = static_cast<uint32_t>(at) + 1; a < cache_count; ++a) {
      Cell types = cells_of(cache)[a];
      if (!types.is(TYPE_TYPESET)) break;
      if ((types.header & kArgumentKindMask) == kReturnSpec) continue;
      index = fetch_one(call, code, index, end, types, a, used);
      if (exiting()) return index;
    }
    if (!call.native_like) {
      // Move the fetched values into the cells that follow the refinement.
      uint32_t n = static_cast<uint32_t>(stack::top - pushed_from);
      for (uint32_t k = 0; k < n; ++k) first[k] = used ? pushed_from[k] : none::value;
      stack::top = pushed_from;
    } else if (!used) {
      stack::top = pushed_from;
    }
  }
  return index;
}

// Pushes the arguments of one call into the frame just opened.
uint32_t fetch_arguments(Call& call, const Cell& code, uint32_t index, uint32_t end, const Cell* path,
                         uint32_t path_index) {
  NodeId cache = argument_cache(call.callee);
  if (call.native_like)
    for (uint32_t i = 0; i < kMaxRefinements; ++i) call.refinements[i] = -1;
  bool first_argument = true;
  uint32_t count = tail_of(cache);
  for (uint32_t i = 0; i < count; ++i) {
    Cell entry = cells_of(cache)[i];
    switch (entry.type()) {
      case TYPE_TYPESET: {
        if ((entry.header & kArgumentKindMask) == kReturnSpec) break;
        if (first_argument && call.infix) {
          // The left operand is already in the frame (eval_code took it in).
          if (!typeset_has(entry, stack::arguments()->type()))
            wrong_argument_type(call.name, call.callee, i, stack::arguments()->type());
        } else {
          index = fetch_one(call, code, index, end, entry, i);
          if (exiting()) return index;
        }
        first_argument = false;
        break;
      }
      case TYPE_REFINEMENT:
      case TYPE_INTEGER:
        // The plain arguments are in. Natives and actions take nothing for
        // the refinements a plain call leaves unused; a function's frame
        // holds a cell for every word of its context.
        if (!call.native_like) push_unfilled_cells(cache, i);
        i = count;
        break;
      default:
        break;
    }
  }
  if (path != nullptr) index = apply_path_refinements(call, cache, code, index, end, *path, path_index);
  return index;
}
// Runs a native or an action on the arguments in the current frame.
inline void run_native_like(const Cell& callee, const int32_t* refinements) {
  if (callee.is(TYPE_NATIVE)) {
    natives::call(native::number_of(callee), false, refinements);
  } else {
    action_entries::Entry entry = action_entries::entry(native::number_of(callee));
    if (entry == nullptr) fire(ErrorId::internal_not_done);
    entry(refinements);
  }
}
}  // namespace

// --- Calls ---------------------------------------------------------------------------

namespace {
// call_function's body, inlined into the quick function call.
[[gnu::always_inline]] inline void run_function(const Cell& function, NodeId context) {
  context::set_values_reference(context, context::stack_reference(stack::arguments()));
  stack::set_return_target(true);
  Cell body = *function::info(function, function::kInfoBody);
  trace::FunctionScope tracing_scope(function);
  if (trace::active()) trace::report_prolog(body, function);
  uint32_t caught = 0;
  Cell code_index = *function::info(function, function::kInfoCode);
  upcalls::CompiledBody compiled_body =
      code_index.is(TYPE_INTEGER) && function.is(TYPE_FUNCTION) ? upcalls::table.compiled_body(code_index.int_at2()) : nullptr;
  if (compiled_body != nullptr) {
    compiled_body();
  } else if (body.is(TYPE_BLOCK)) {
    // The body runs in the function's frame; its value becomes the call's.
    caught = exits::catch_exits(exits::kReturn, [&]() __attribute__((always_inline)) {
      Cell* first = stack::top;
      run_block_here(body);
      if (!exiting()) *stack::arguments() = *first;
    });
  } else {
    unset::set_result();
  }
  uint32_t code = caught ? caught : exits::pending;
  if (code == exits::kReturn || code == exits::kExit) exits::pending = 0;
  else if (caught) exits::throw_unwind(caught);
  if (trace::active() && !exiting()) trace::report_epilog(body, function);
}
}  // namespace

void call_function(const Cell& function, NodeId context) { run_function(function, context); }

uint32_t eval_code(const Cell& callee_value, const Cell& code, uint32_t index, uint32_t end, bool infix,
                   const Cell* name, const Cell* path, uint32_t path_index, NodeId object) {
  Cell callee = callee_value;
  Cell name_word = name && name->is(TYPE_WORD) ? *name : anonymous_word();
  Cell* slot = stack::top;
  const uint32_t call_position = index;  // the call site is the cell before it
  if (trace::active()) trace::fire(trace::kOpen, &code, index - 1, &name_word, nullptr);
  if (!infix) stack::push(callee);
  // The interface is read before the frame opens, as on the quick paths: an
  // interface that turned invalid is reported from the caller's frame. (An
  // infix call's left operand sits at the top, where building the cache
  // would push its scratch cells.)
  if (!infix) argument_cache(callee);
  Call call(callee, name_word, callee.is(TYPE_NATIVE) || callee.is(TYPE_ACTION), infix);
  switch (callee.type()) {
    case TYPE_NATIVE:
    case TYPE_ACTION: {
      stack::mark(&name_word, stack::kInterp);
      if (infix) ++stack::top;  // the left operand becomes the first argument
      index = fetch_arguments(call, code, index, end, path, path_index);
      if (exiting()) return index;
      if (trace::active()) trace::report_call(code, call_position, name_word, callee);
      run_native_like(callee, call.refinements);
      if (exiting()) return index;
      stack::unwind();
      break;
    }
    case TYPE_FUNCTION: {
      NodeId context = function::context_of(callee);
      Cell* extra = function::info(callee, function::kInfoExtra);
      (void)extra;
      (void)object;
      stack::mark_function(name_word, stack::kInterpFunc, context, context::values_reference(context));
      if (infix) ++stack::top;
      index = fetch_arguments(call, code, index, end, path, path_index);
      if (exiting()) return index;
      if (trace::active()) trace::report_call(code, call_position, name_word, callee);
      call_function(callee, context);
      if (exiting()) return index;
      stack::unwind();
      break;
    }
    case TYPE_ROUTINE: {
      // A routine is a C++ function (function.h): called as a native, its
      // arguments in a frame, its result in the frame's first cell. It runs
      // no Kel code, so no exit can be pending after it.
      stack::mark(&name_word, stack::kInterp);
      if (infix) ++stack::top;
      index = fetch_arguments(call, code, index, end, path, path_index);
      if (exiting()) return index;
      if (trace::active()) trace::report_call(code, call_position, name_word, callee);
      upcalls::table.call_routine(callee);
      stack::unwind();
      break;
    }
    default:
      runtime::quit(101, KEL_CALLER_ADDRESS());
  }
  if (trace::active()) trace::report_return(code, call_position, index, name_word, stack::top[-1]);
  if (!infix) {
    // The result replaces the callee pushed in the slot.
    *slot = slot[1];
    stack::top = slot + 1;
  }
  return index;
}

// --- Expressions --------------------------------------------------------------------

namespace {
// The shortcut of the infix look-ahead: an operator made from add,
// subtract or multiply, or from one of the comparison natives, applied to an
// integer left operand and a right operand that is an integer literal or a
// word holding an integer. The result comes back by value (in registers: a
// cell built in memory piece by piece and then read whole would stall the
// load), and a cell of no type (TYPE_VALUE) when the shortcut does not
// apply: the operator then runs through the general call.
constexpr Cell kNotShortcut = {0, 0, 0, 0};

[[gnu::always_inline]] inline Cell integer_operation(const Cell& operation, int32_t a, int32_t b) {
  TypeId source = native::op_source_type(operation);
  if (source == TYPE_ACTION) {
    int32_t op;
    int32_t sum;
    bool overflow;
    switch (static_cast<Action>(native::number_of(operation))) {
      case Action::add: op = 0; overflow = __builtin_add_overflow(a, b, &sum); break;
      case Action::subtract: op = 1; overflow = __builtin_sub_overflow(a, b, &sum); break;
      case Action::multiply: op = 2; overflow = __builtin_mul_overflow(a, b, &sum); break;
      default: return kNotShortcut;
    }
    if (!overflow) return integer::make(sum);
    // The exact result as a float, as the action gives it.
    Cell value = integer::make(0);
    integer::do_math_op(a, b, op, &value);
    return value;
  }
  if (source != TYPE_NATIVE) return kNotShortcut;
  bool holds;
  switch (static_cast<natives::Native>(native::number_of(operation))) {
    case natives::Native::equal_q:
    case natives::Native::strict_equal_q: holds = a == b; break;
    case natives::Native::not_equal_q: holds = a != b; break;
    case natives::Native::lesser_q: holds = a < b; break;
    case natives::Native::greater_q: holds = a > b; break;
    case natives::Native::lesser_or_equal_q: holds = a <= b; break;
    case natives::Native::greater_or_equal_q: holds = a >= b; break;
    default: return kNotShortcut;
  }
  return logic::make(holds);
}

[[gnu::always_inline]] inline Cell integer_shortcut(const Cell& operation, int32_t left, const Cell& right_cell) {
  const Cell* right = &right_cell;
  if (right->is(TYPE_WORD)) {
    right = peek(right_cell);
    if (right == nullptr) return kNotShortcut;
  }
  if (!right->is(TYPE_INTEGER)) return kNotShortcut;
  return integer_operation(operation, left, right->int_at2());
}

// An argument of a prefix call taken without the expression machinery: a
// value that stands for itself or a word whose value is no function,
// followed by any number of operators that the integer shortcut computes
// (as `n - 1` or `n < 2`). Its value goes to take(value); answers the index
// after the argument, or 0 when the general evaluation must take it
// (nothing is then changed: the shortcut computes without side effects).
template <class Take>
[[gnu::always_inline]] inline uint32_t quick_scan(const Cell* cells, uint32_t index, uint32_t stop, Take take) {
  const Cell* simple = plain_value(cells[index]);
  if (simple == nullptr) return 0;
  uint32_t at = index + 1;
  const Cell* operation = at < stop ? operator_at(cells[at]) : nullptr;
  if (operation == nullptr) {
    take(*simple);
    return at;
  }
  if (!simple->is(TYPE_INTEGER) || at + 1 >= stop) return 0;
  // The operators' results stay in registers until the last is taken.
  int32_t left = simple->int_at2();
  Cell result;
  for (;;) {
    result = integer_shortcut(*operation, left, cells[at + 1]);
    if (result.is(TYPE_VALUE)) return 0;
    at += 2;
    if (at >= stop) break;
    operation = operator_at(cells[at]);
    if (operation == nullptr) break;
    if (!result.is(TYPE_INTEGER) || at + 1 >= stop) return 0;
    left = result.int_at2();
  }
  take(result);
  return at;
}

// quick_scan's argument pushed.
[[gnu::always_inline]] inline uint32_t quick_argument(SeriesBuffer* buffer, uint32_t index, uint32_t stop) {
  return quick_scan(buffer->cells(), index, stop, [](const Cell& value) __attribute__((always_inline)) {
    stack::push(value);
  });
}

// quick_scan's argument left in *value.
[[gnu::always_inline]] inline uint32_t quick_value(const Cell* cells, uint32_t index, uint32_t stop, Cell* value) {
  return quick_scan(cells, index, stop, [value](const Cell& found) __attribute__((always_inline)) { *value = found; });
}

// A set-word's assignment done in place when the word's values are at hand:
// a word of the global context within its values, or a word of the
// function running now (its values on the stack). Answers false, having
// done nothing, for any other word, which context::set takes (an object's
// field may have change handlers to hear of it, an unbound word raises).
[[gnu::always_inline]] inline bool assign_in_place(const Cell& word, const Cell& value) {
  NodeId context = word::context_of(word);
  int32_t index = word::index_of(word);
  if (index < 0) return false;
  if (context == global_context) {
    SeriesBuffer* values = memory::buffer_of(global_values);
    if (static_cast<uint32_t>(index) >= values->cell_count()) return false;
    values->cells()[index] = value;
    return true;
  }
  if (context == context::last_referenced.context && context::last_referenced.reference != 0) {
    stack::bottom[context::last_referenced.reference - 1 + index] = value;
    return true;
  }
  return false;
}

// No refinement used: what a plain call hands a native or an action.
constexpr int32_t kNoRefinements[kMaxRefinements] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                                     -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};

// An operator made from a native or an action whose interface starts with two
// plain arguments, called with the left operand in the slot at the top:
// eval_code's infix call without the generality of the argument walk. The
// frame is marked before the right operand is fetched, as there, so that
// errors and exits meet the same stack. Integer arithmetic and comparison
// on the two operands give their result without calling the native.
// Answers the index after the right operand, or 0, having done nothing,
// for an operator of another shape. (The quick calls answer their index
// rather than set it through a reference, which would keep it in memory.)
[[gnu::always_inline]] inline uint32_t call_operator(const Cell& operation, const Cell& function, const Cell& code, uint32_t index, uint32_t end,
                   const Cell& name, Cell* slot) {
  // The left operand sits in the slot, below the top: building the cache
  // (on the first call) pushes scratch cells above it.
  stack::top = slot + 1;
  NodeId cache = cached_arguments(function);
  SeriesBuffer* shape = memory::buffer_of(cache);
  if (shape->cell_count() < 2) return 0;
  const Cell left_types = shape->cells()[0];
  const Cell right_types = shape->cells()[1];
  if (!left_types.is(TYPE_TYPESET) || !right_types.is(TYPE_TYPESET) ||
      (left_types.header & kArgumentKindMask) != kPlainArgument ||
      (right_types.header & kArgumentKindMask) != kPlainArgument)
    return 0;
  const uint32_t call_position = index;
  stack::top = slot;
  stack::mark(&name, stack::kInterp);
  ++stack::top;  // the left operand becomes the first argument
  Cell* left = stack::arguments();
  if (!typeset_has(left_types, left->type())) wrong_argument_type(name, function, 0, left->type());
  NodeId node = series::node_of(code);
  uint32_t stop = limit(node, end);
  if (index >= stop) missing_argument(name, function, 1);
  SeriesBuffer* buffer = memory::buffer_of(node);
  if (const Cell* simple = simple_argument(buffer, index, stop, true)) {
    stack::push(*simple);
    ++index;
  } else if (buffer->cells()[index].is(TYPE_PAREN)) {
    // A right operand takes no operator after it: a paren is all of it.
    Cell paren = buffer->cells()[index];
    run_paren(paren);
    ++index;
    if (exiting()) return index;
  } else {
    index = expression_at(code, index, end, true, false, left + 1);
    if (exiting()) return index;
  }
  left = stack::arguments();  // the stack does not move, but stay plain about it
  const Cell* right = left + 1;
  if (!typeset_has(right_types, right->type())) wrong_argument_type(name, function, 1, right->type());
  if (trace::active()) trace::report_call(code, call_position, name, function);
  Cell result = left->is(TYPE_INTEGER) && right->is(TYPE_INTEGER)
                    ? integer_operation(operation, left->int_at2(), right->int_at2())
                    : kNotShortcut;
  if (!result.is(TYPE_VALUE)) {
    *left = result;
    stack::top = left + 1;
  } else {
    run_native_like(function, kNoRefinements);
  }
  if (exiting()) return index;
  stack::unwind();
  if (trace::active()) trace::report_return(code, call_position, index, name, stack::top[-1]);
  return index;
}

// The opening of a quick word call: the callee pushed in the slot (where
// eval_code puts it) and its argument cache, when the cache is flagged as
// taking plain arguments only; else 0, with the stack as it was. The
// callee's value is not read after the cache is built (building it may
// collect, and move the block holding the value): callers read the slot.
inline NodeId open_plain_call(const Cell& callee, Cell* slot) {
  stack::top = slot;
  stack::push(callee);
  NodeId cache = cached_arguments(callee);
  if (memory::buffer_of(cache)->flags & series_flags::kPlainArguments) return cache;
  stack::top = slot;
  return 0;
}

// Pushes one plain argument of a quick word call (the one the typeset at
// position in the argument cache describes) and checks its type; answers
// the index after it. The caller returns at once while an exit is pending.
// The typeset is a copy the caller holds, or (types null) read after the
// argument is evaluated, through the cache's node: the evaluation may
// collect and move the cache.
[[gnu::always_inline]] inline uint32_t fetch_plain_argument(const Cell& callee, const Cell& name, const Cell& code,
                                                            uint32_t index, uint32_t end, NodeId cache,
                                                            uint32_t position, const Cell* types) {
  NodeId node = series::node_of(code);
  uint32_t stop = limit(node, end);
  if (index >= stop) missing_argument(name, callee, position);
  Cell* argument = stack::top;
  SeriesBuffer* buffer = memory::buffer_of(node);
  if (uint32_t after = quick_argument(buffer, index, stop)) {
    index = after;
  } else if (buffer->cells()[index].is(TYPE_PAREN) && !operator_follows(buffer, index + 1, stop)) {
    Cell paren = buffer->cells()[index];
    run_paren(paren);
    ++index;
    if (exiting()) return index;
  } else {
    index = expression_at(code, index, end, false, false, argument);
    if (exiting()) return index;
  }
  if (!typeset_has(types != nullptr ? *types : cells_of(cache)[position], argument->type()))
    wrong_argument_type(name, callee, position, argument->type());
  return index;
}

// The closing of a quick word call: the frame closed, the return reported,
// and the result moved into the slot the callee held (where eval_code
// leaves it).
[[gnu::always_inline]] inline void close_plain_call(const Cell& code, uint32_t call_position, uint32_t index,
                                                    const Cell& name, Cell* slot) {
  stack::unwind();
  if (trace::active()) trace::report_return(code, call_position, index, name, stack::top[-1]);
  *slot = slot[1];
  stack::top = slot + 1;
}

// The value of a block that holds one value and nothing else: a value that
// stands for itself, or a word whose value is no function. Evaluating such
// a block can raise nothing and run nothing, so its frame would never be
// seen: the value is its result. Null for any other block, while tracing
// (the tracer sees the block evaluated) and while the frame stack is full
// (opening the frame would overflow).
[[gnu::always_inline]] inline const Cell* sole_value(const Cell& block) {
  SeriesBuffer* buffer = memory::buffer_of(series::node_of(block));
  uint32_t index = series::index_of(block);
  if (buffer->cell_count() != index + 1 || stack::frame_top >= stack::frame_end || trace::active())
    return nullptr;
  return plain_value(buffer->cells()[index]);
}

// The arity of if and unless (2) and of either (3), whose own work a
// quick call does in place; 0 for any other callee.
[[gnu::always_inline]] inline uint32_t conditional_arity(const Cell& callee) {
  if (!callee.is(TYPE_NATIVE)) return 0;
  switch (static_cast<natives::Native>(native::number_of(callee))) {
    case natives::Native::if_:
    case natives::Native::unless: return 2;
    case natives::Native::either: return 3;
    default: return 0;
  }
}

// if, unless and either, their arguments in the frame: the branch taken
// runs in the conditional's frame, and the result goes to its first cell.
[[gnu::always_inline]] inline void run_conditional(const Cell& callee) {
  auto which = static_cast<natives::Native>(native::number_of(callee));
  Cell* arguments = stack::arguments();
  bool taken = which == natives::Native::either ? truth::strict_true(arguments[0])
               : which == natives::Native::if_  ? truth::lenient_true(arguments[0])
                                                : !truth::lenient_true(arguments[0]);
  if (!taken && which != natives::Native::either) {
    put(arguments, none::value);
    return;
  }
  Cell branch = taken ? arguments[1] : arguments[2];
  if (const Cell* value = sole_value(branch)) {
    put(arguments, *value);
    return;
  }
  Cell* first = stack::top;
  run_block_here(branch);
  if (!exiting()) put(arguments, *first);
}

// Whether a callee is return or exit.
[[gnu::always_inline]] inline bool is_return(const Cell& callee) {
  if (!callee.is(TYPE_NATIVE)) return false;
  auto which = static_cast<natives::Native>(native::number_of(callee));
  return which == natives::Native::return_ || which == natives::Native::exit;
}

// return whose value gives itself without running anything (quick_value),
// or exit: the value is known before its frame would open, and nothing
// could see that frame before the return unrolls it, so none opens (the
// room for it is checked all the same, so stack overflow stays where it
// was). A return that no function can take is left to the general call,
// whose frame the error names. Answers the index after the call, the exit
// pending, or 0, having changed nothing.
[[gnu::always_inline]] inline uint32_t quick_return(const Cell& code, uint32_t index, uint32_t end, NodeId cache,
                                                    uint32_t arity) {
  if (stack::frame_top >= stack::frame_end) return 0;
  if (arity == 0) return stack::return_value(nullptr) ? index : 0;
  if (arity != 1) return 0;
  SeriesBuffer* buffer = memory::buffer_of(series::node_of(code));
  const uint32_t stop = buffer->cell_count() < end ? buffer->cell_count() : end;
  if (index >= stop) return 0;
  Cell value;
  const uint32_t after = quick_value(buffer->cells(), index, stop, &value);
  if (after == 0 || !typeset_has(cells_of(cache)[0], value.type())) return 0;
  return stack::return_value(&value) ? after : 0;
}

// A conditional whose condition gives its value without running anything
// (quick_value) and whose branches are block literals: the arguments are
// known before its frame opens. When the branch it takes holds one value
// that runs nothing (sole_value), or it takes none, its frame could never
// be seen and none is opened: the result goes straight to the slot, where
// the callee sits (call_plainly pushed it). The room for the frame is
// checked all the same, so stack overflow stays where it was. Otherwise
// the frame opens with the arguments in it, as call_plainly lays it out,
// and the branch runs there. Answers the index after the call, or 0,
// having changed nothing, for any other conditional. Inlined into the
// conditionals' copy of the quick call: a call of its own cost more than
// the work of a conditional that runs nothing.
[[gnu::always_inline]] inline uint32_t quick_conditional(const Cell& callee, const Cell& code, uint32_t index,
                                                         uint32_t end, NodeId cache, uint32_t arity, const Cell& name,
                                                         Cell* slot) {
  SeriesBuffer* buffer = memory::buffer_of(series::node_of(code));
  const uint32_t stop = buffer->cell_count() < end ? buffer->cell_count() : end;
  if (index + arity > stop || stack::frame_top >= stack::frame_end) return 0;
  const Cell* cells = buffer->cells();
  Cell condition;
  const uint32_t at = quick_value(cells, index, stop, &condition);
  if (at == 0 || at + arity - 1 > stop || !typeset_has(cells_of(cache)[0], condition.type())) return 0;
  for (uint32_t i = 0; i + 1 < arity; ++i)
    if (!cells[at + i].is(TYPE_BLOCK)) return 0;
  const uint32_t after = at + arity - 1;
  if (operator_follows(buffer, after, stop)) return 0;
  auto which = static_cast<natives::Native>(native::number_of(callee));
  bool taken = which == natives::Native::unless ? !truth::lenient_true(condition) : truth::lenient_true(condition);
  if (!taken && which != natives::Native::either) {
    put(slot, none::value);
    return after;
  }
  const Cell branch = cells[taken ? at : at + 1];
  if (const Cell* value = sole_value(branch)) {
    put(slot, *value);
    return after;
  }
  const uint32_t call_position = index;
  stack::mark(&name, stack::kInterp);
  stack::push(condition);
  for (uint32_t i = 0; i + 1 < arity; ++i) stack::push(cells_of(series::node_of(code))[at + i]);
  // The branch is known: run_conditional's work without deciding again.
  Cell* first = stack::top;
  run_block_here(branch);
  if (exiting()) return after;
  put(stack::arguments(), *first);
  close_plain_call(code, call_position, after, name, slot);
  return after;
}

// The quick call: a function, native, action or routine called by a word,
// untraced, whose interface takes plain arguments only (any refinements are
// then unused). It is eval_code's call without the argument walk's
// generality, the frame laid out as there: the callee in the slot, the
// arguments above it, and for a function or a routine its refinements false
// with their arguments none, /local false and the locals none. if, unless
// and either do their work
// in place. Answers the index after the call, or 0, having done nothing,
// for an interface with a literal or get argument, or a conditional given
// another interface (make native! can): eval_code then takes the call.
// It is compiled five times, for functions, for the conditionals, for
// return and exit, for the other natives and actions, and for routines, so
// that each keeps only the work (and the registers) of its own kind.
enum class PlainCallee { kFunction, kConditional, kReturn, kNative, kRoutine };
template <PlainCallee kind>
[[gnu::noinline]] uint32_t call_plainly_as(const Cell& value, const Cell& code, uint32_t index, uint32_t end,
                                           const Cell& name, Cell* slot) {
  constexpr bool is_function = kind == PlainCallee::kFunction;
  // Read before building the cache, which may collect.
  const NodeId context = is_function ? function::context_of(value) : 0;
  const uint32_t conditional = kind == PlainCallee::kConditional ? conditional_arity(value) : 0;
  NodeId cache = open_plain_call(value, slot);
  if (cache == 0) return 0;
  // The cache's shape, read once: it never changes once built.
  const SeriesBuffer* cache_buffer = memory::buffer_of(cache);
  const uint32_t shape = cache_buffer->flags;
  const uint32_t count = cache_buffer->cell_count();
  if (conditional != 0 && (!(shape & series_flags::kBlockBranches) || count != conditional)) {
    stack::top = slot;
    return 0;
  }
  const Cell& callee = *slot;
  const uint32_t call_position = index;
  if (conditional != 0) {
    if (uint32_t after = quick_conditional(callee, code, index, end, cache, conditional, name, slot)) return after;
  }
  if constexpr (kind == PlainCallee::kReturn) {
    if (uint32_t after = quick_return(code, index, end, cache, count)) return after;
  }
  if constexpr (is_function) stack::mark_function(name, stack::kInterpFunc, context, context::values_reference(context));
  else stack::mark(&name, stack::kInterp);
  // The arguments: the typesets before the first refinement, counted in
  // the cache's flags when they come first.
  uint32_t i = 0;
  if (conditional != 0) {
    // The condition, then the branches: nearly always block literals, which
    // the shape of the cache (kBlockBranches) lets in, taken straight from
    // the code.
    for (; i < conditional; ++i) {
      if (i > 0) {
        SeriesBuffer* buffer = memory::buffer_of(series::node_of(code));
        uint32_t stop = buffer->cell_count() < end ? buffer->cell_count() : end;
        if (index < stop && buffer->cells()[index].is(TYPE_BLOCK) && !operator_follows(buffer, index + 1, stop)) {
          stack::push(buffer->cells()[index]);
          ++index;
          continue;
        }
      }
      index = fetch_plain_argument(callee, name, code, index, end, cache, i, nullptr);
      if (exiting()) return index;
    }
  } else if (const uint32_t arity = (shape & series_flags::kPlainArity) >> series_flags::kPlainArityShift) {
    for (; i < arity; ++i) {
      index = fetch_plain_argument(callee, name, code, index, end, cache, i, nullptr);
      if (exiting()) return index;
    }
    if (shape & series_flags::kOnlyPlainArity) i = count;
  } else {
    for (; i < count; ++i) {
      const Cell entry = cells_of(cache)[i];
      if (!entry.is(TYPE_TYPESET)) break;
      if ((entry.header & kArgumentKindMask) == kReturnSpec) continue;
      index = fetch_plain_argument(callee, name, code, index, end, cache, i, &entry);
      if (exiting()) return index;
    }
  }
  if constexpr (is_function) {
    if (i < count) push_unfilled_cells(cache, i);
    if (trace::active()) trace::report_call(code, call_position, name, callee);
    run_function(callee, context);
  } else {
    // A native takes nothing for the refinements a plain call leaves unused;
    // a routine's frame, like a function's, holds a cell for each.
    constexpr bool routine = kind == PlainCallee::kRoutine;
    if (routine && i < count) push_unfilled_cells(cache, i);
    if (trace::active()) trace::report_call(code, call_position, name, callee);
    if (conditional != 0) run_conditional(callee);
    else if (routine) upcalls::table.call_routine(callee);
    else run_native_like(callee, kNoRefinements);
  }
  if (exiting()) return index;
  close_plain_call(code, call_position, index, name, slot);
  return index;
}

[[gnu::always_inline]] inline uint32_t call_plainly(const Cell& value, const Cell& code, uint32_t index, uint32_t end,
                                                    const Cell& name, Cell* slot) {
  if (value.is(TYPE_FUNCTION)) return call_plainly_as<PlainCallee::kFunction>(value, code, index, end, name, slot);
  if (conditional_arity(value) != 0)
    return call_plainly_as<PlainCallee::kConditional>(value, code, index, end, name, slot);
  if (is_return(value)) return call_plainly_as<PlainCallee::kReturn>(value, code, index, end, name, slot);
  if (value.is(TYPE_ROUTINE)) return call_plainly_as<PlainCallee::kRoutine>(value, code, index, end, name, slot);
  return call_plainly_as<PlainCallee::kNative>(value, code, index, end, name, slot);
}

// A word met as an expression: its value, or the call of the function it
// names. The quick call takes calls while nothing is traced; what it
// declines goes through eval_code.
[[gnu::always_inline]] inline uint32_t eval_word(const Cell& word, const Cell& code, uint32_t index, uint32_t end,
                                                 Cell* slot) {
  Cell* found = lookup(word);
  const TypeId type = found->type();
  if (!is_callable(type)) {
    if (type == TYPE_UNSET) fire(ErrorId::script_no_value, &word);
    if (type == TYPE_OP) fire(ErrorId::script_no_op_arg, &word);
    put(slot, *found);
    if (trace::active()) trace::fire(trace::kPush, &code, index, slot, nullptr);
    return index;
  }
  // The quick paths copy the callee into the call's slot before anything
  // runs, and read it from there: a copy on the C++ stack would be read
  // back right after being written, which makes the processor wait.
  if (!trace::active()) {
    if (uint32_t after = call_plainly(*found, code, index, end, word, slot)) return after;
  }
  // A path that declined ran nothing, but may have built the argument
  // cache: the value is looked up again rather than read where it was.
  Cell callee = *lookup(word);
  return eval_code(callee, code, index, end, false, &word, nullptr, 0, 0);
}
}  // namespace

namespace {
// The frame a set-word opens for its expression, at the slot that takes
// the value (the value may be in it already).
[[gnu::always_inline]] inline void open_assignment_frame(const Cell& set_word, Cell* slot) {
  Cell* top = stack::top;
  stack::top = slot;
  stack::mark(&set_word, stack::kInterp);
  stack::top = top;
}

// The end of a set-word's expression: its value (in the slot, the frame the
// set-word opened still on the stack) is stored in the word, and the frame
// closed. The assignment's value is the expression's value. With
// frame_opened false, the expression ran nothing that could see the frame
// (below), which is opened only if storing the value can run code (an
// object's field with change handlers).
[[gnu::always_inline]] inline uint32_t assign(const Cell& set_word, const Cell& code, uint32_t index, Cell* slot,
                                              bool frame_opened = true) {
  Cell result = *slot;
  if (trace::active()) trace::fire(trace::kSet, &code, index, &result, &set_word);
  if (result.is(TYPE_UNSET)) fire(ErrorId::script_need_value, &set_word);
  if (!assign_in_place(set_word, result)) {
    if (!frame_opened) {
      open_assignment_frame(set_word, slot);
      frame_opened = true;
    }
    Cell word = set_word;
    context::set(&word, result);
  }
  if (frame_opened) stack::unwind();
  else stack::top = slot + 1;
  return index;
}
}  // namespace

void set_word(Cell* word, const Cell& value) {
  if (!assign_in_place(*word, value)) context::set(word, value);
}

namespace {

// The first value of an expression of the rarer kinds (expression_at keeps
// the common ones, and the registers their work needs, to itself): its
// value is left in the slot and the index after it answered, the operators
// after it still to come; finished when the expression is over (a
// set-path's assignment).
[[gnu::noinline]] uint32_t other_expression(Cell value, const Cell& code, uint32_t index, uint32_t end,
                                            bool quote_functions, Cell* slot, bool* finished) {
  NodeId node = series::node_of(code);
  switch (value.type()) {
    case TYPE_SET_PATH: {
      if (index >= limit(node, end)) fire(ErrorId::script_need_value, &value);
      stack::mark(&set_path_word, stack::kInterp);
      index = eval_expression(code, index, end, false, false);
      if (exiting()) return index;
      Cell result = *slot;
      if (trace::active()) trace::fire(trace::kSet, &code, index, &result, &value);
      {
        stack::Guard guard;
        eval_path(value, code, index, end, false, &result);
      }
      if (exiting()) return index;
      stack::unwind();
      put(slot, result);
      *finished = true;
      return index;
    }
    case TYPE_GET_WORD:
      put(slot, *lookup(value));
      if (trace::active()) trace::fire(trace::kPush, &code, index, slot, nullptr);
      break;
    case TYPE_LIT_WORD:
      value.set_type(TYPE_WORD);
      put(slot, value);
      if (trace::active()) trace::fire(trace::kPush, &code, index, slot, nullptr);
      break;
    case TYPE_PATH:
      index = eval_path(value, code, index, end, false, nullptr);
      break;
    case TYPE_GET_PATH:
      index = eval_path(value, code, index, end, true, nullptr);
      break;
    case TYPE_LIT_PATH:
      value.set_type(TYPE_PATH);
      series::clear_extra(&value);
      put(slot, value);
      if (trace::active()) trace::fire(trace::kPush, &code, index, slot, nullptr);
      break;
    case TYPE_ISSUE: {
      // #system [...] and #system-global [...] hold code for the compiler,
      // which the interpreter cannot run.
      uint32_t stop = limit(node, end);
      if (index < stop && cells_of(node)[index].is(TYPE_BLOCK)) {
        uint32_t symbol = symbol::resolve(word::symbol_of(value));
        if (symbol == symbol::resolve(runtime_words::system) || symbol == symbol::resolve(runtime_words::system_global))
          fire(ErrorId::internal_kel_system);
      }
      put(slot, value);
      if (trace::active()) trace::fire(trace::kPush, &code, index, slot, nullptr);
      break;
    }
    case TYPE_OP:
      fire(ErrorId::internal_not_done);
    case TYPE_NATIVE:
    case TYPE_ACTION:
    case TYPE_FUNCTION:
    case TYPE_ROUTINE:
      if (quote_functions) {
        put(slot, value);
      } else {
        uint32_t stop = limit(node, end);
        index = eval_code(value, code, index < stop ? index : stop, end, false, nullptr, nullptr, 0, 0);
        if (exiting()) return index;
      }
      break;
    default:
      break;
  }
  return index;
}

// The call of an infix operator (operation, the value of the word next at
// index) with the value in the slot as its left operand, when the integer
// shortcut cannot give its result: answers the index after its right
// operand. Out of line, so that the expression evaluator keeps its
// registers for its commoner work.
[[gnu::noinline]] uint32_t call_infix(const Cell& operation, const Cell& next, const Cell& code, uint32_t index,
                                      uint32_t end, Cell* slot) {
  // The op is copied out of its context first: the tracer runs Kel code,
  // which may move the context's values or rebind the word.
  Cell op = operation;
  Cell name = next;
  if (trace::active()) {
    collector::Root keep_op(&op);
    trace::fire(trace::kFetch, &code, index, &name, nullptr);
  }
  Cell function = op;
  function.header = (function.header & ~flags::kTypeMask & ~flags::kOpTypeMask) | native::op_source_type(op);
  if (!trace::active() && (function.is(TYPE_NATIVE) || function.is(TYPE_ACTION))) {
    // Natives and actions live as long as the process: no root needed.
    if (uint32_t after = call_operator(op, function, code, index + 1, end, name, slot)) return after;
  }
  stack::top = slot;
  collector::Root keep(&function);
  return eval_code(function, code, index + 1, end, true, &name, nullptr, 0, 0);
}

// eval_expression with the slot the caller has in hand (the stack top):
// reading it back from the stack's global would wait on the caller's store.
[[gnu::noinline]] uint32_t expression_at(const Cell& code, uint32_t index, uint32_t end, bool no_infix,
                                         bool quote_functions, Cell* slot) {
  NodeId node = series::node_of(code);
  Cell value = cells_of(node)[index];
  if (trace::active()) trace::fire(trace::kFetch, &code, index, &value, nullptr);
  ++index;
  bool assigning = false;  // a set-word's value is in the slot, its operators to come
  bool assignment_frame_pending = false;  // that set-word's frame not opened yet
  if (value.is(TYPE_WORD)) {
    // The commonest expression first, ahead of the general dispatch.
    index = eval_word(value, code, index, end, slot);
    if (exiting()) return index;
  } else switch (value.type()) {
    case TYPE_PAREN:
      run_paren(value);
      if (exiting()) return index;
      break;
    case TYPE_SET_WORD: {
      if (index >= limit(node, end)) fire(ErrorId::script_need_value, &value);
      if (!trace::active()) {
        // The value's first cell gives its value without running anything
        // (the commonest assignment, `x: x + 1`): it goes into the slot and
        // the operators after it run below, as the value's own expression
        // would run them. The set-word's frame opens before the first of
        // them that calls anything: integer arithmetic that the shortcut
        // computes can neither raise nor run code, so nothing would ever
        // see the frame. The room for it is checked here all the same.
        if (const Cell* simple = plain_value(cells_of(node)[index])) {
          if (stack::frame_top >= stack::frame_end) stack::overflow(true);
          put(slot, *simple);
          ++index;
          assigning = true;
          assignment_frame_pending = true;
          break;
        }
      }
      stack::mark(&value, stack::kInterp);
      index = eval_expression(code, index, end, false, false);
      if (exiting()) return index;
      return assign(value, code, index, slot);
    }
    case TYPE_GET_WORD:
    case TYPE_LIT_WORD:
    case TYPE_SET_PATH:
    case TYPE_PATH:
    case TYPE_GET_PATH:
    case TYPE_LIT_PATH:
    case TYPE_ISSUE:
    case TYPE_OP:
    case TYPE_NATIVE:
    case TYPE_ACTION:
    case TYPE_FUNCTION:
    case TYPE_ROUTINE: {
      bool finished = false;
      index = other_expression(value, code, index, end, quote_functions, slot, &finished);
      if (finished || exiting()) return index;
      break;
    }
    default:
      put(slot, value);
      if (trace::active()) trace::fire(trace::kPush, &code, index, slot, nullptr);
      break;
  }

  // Infix operators: while the next value is a word whose value is an op!,
  // call it with the value so far as its left operand. Integer arithmetic
  // and comparison on a plain right operand take a shortcut that gives the
  // same result without opening a frame (tracing takes the full path).
  while (!no_infix || assigning) {
    // One read of the buffer serves the bound check and the cells: nothing
    // is evaluated between them.
    SeriesBuffer* buffer = memory::buffer_of(node);
    uint32_t stop = buffer->cell_count() < end ? buffer->cell_count() : end;
    if (index >= stop) break;
    Cell next = buffer->cells()[index];
    const Cell* operation = operator_at(next);
    if (operation == nullptr) break;
    if (slot->is(TYPE_INTEGER) && !trace::active()) {
      uint32_t after = index + 1;
      if (after < stop) {
        Cell result = integer_shortcut(*operation, slot->int_at2(), buffer->cells()[after]);
        if (!result.is(TYPE_VALUE)) {
          *slot = result;
          index = after + 1;
          stack::top = slot + 1;
          continue;
        }
      }
    }
    if (assignment_frame_pending) {
      open_assignment_frame(value, slot);
      assignment_frame_pending = false;
    }
    index = call_infix(*operation, next, code, index, end, slot);
    if (exiting()) return index;
  }
  if (assigning) return assign(value, code, index, slot, !assignment_frame_pending);
  return index;
}
}  // namespace

uint32_t eval_expression(const Cell& code, uint32_t index, uint32_t end, bool no_infix, bool quote_functions) {
  return expression_at(code, index, end, no_infix, quote_functions, stack::top);
}

namespace {
// Enters library code or user code for the length of a block evaluation:
// library code keeps the caller's position and runs untraced.
// User code that library code evaluates (a block handed to a library
// function) is traced as it would be outside: the tracing state from before
// the library was entered comes back for it.
bool tracing_outside_library = false;

}  // namespace

bool user_tracing() { return library_code ? tracing_outside_library : trace::detail::tracing; }

void set_user_tracing(bool on) {
  if (library_code) tracing_outside_library = on;
  else trace::detail::tracing = on;
}

namespace {
// A block met with the frame stack full: the overflow error is raised with
// the block as its position (where it would stand had the frame opened).
[[gnu::noinline, noreturn]] void frame_overflow(const Cell& block, bool library) {
  struct Clear {
    ~Clear() { overflow_block = make_cell(TYPE_UNSET); }
  } clear;
  if (!library) overflow_block = block;
  stack::overflow(true);
}

class CodeKindScope {
 public:
  explicit CodeKindScope(bool library) : changes_(library != library_code) {
    if (!changes_) return;  // the same kind of code: nothing to switch
    saved_tracing_ = trace::detail::tracing;
    saved_outside_ = tracing_outside_library;
    if (library) {
      tracing_outside_library = trace::detail::tracing;
      trace::detail::tracing = false;
    } else {
      trace::detail::tracing = tracing_outside_library;
    }
    library_code = library;
  }
  ~CodeKindScope() {
    if (!changes_) return;
    // Back to user code: the tracing that library code left it (`trace
    // false` changes it); back to library code: the library's own.
    trace::detail::tracing = library_code ? tracing_outside_library : saved_tracing_;
    library_code = !library_code;
    tracing_outside_library = saved_outside_;
  }
  CodeKindScope(const CodeKindScope&) = delete;
  CodeKindScope& operator=(const CodeKindScope&) = delete;

 private:
  bool changes_;
  bool saved_tracing_ = false;
  bool saved_outside_ = false;
};

void run_block_of_other_kind(const Cell& block, bool chain, bool library);

// The expressions of a block from index on, each evaluated into first in
// the frame given, whose code index follows them; an empty block gives
// unset. Returns at once while an exit is pending. Tracing sees each
// expression's value and the block's end. Every expression starts at a
// safe point, which also takes a console interrupt. An empty block has
// none: a tracer's or handler's empty body would otherwise add one per
// event; a loop over an empty body takes its own (eval_block_in_frame).
[[gnu::always_inline]] inline void run_expressions(const Cell& block, NodeId node, uint32_t index,
                                                   stack::Frame* frame, Cell* first) {
  if (index >= tail_of(node)) {
    put(first, unset::value);
  } else {
    do {
      frame->code_index = index;
      stack::top = first;
      collector::safe_point();
      halt_point();
      index = expression_at(block, index, UINT32_MAX, false, false, first);
      if (exiting()) return;
      if (trace::active()) trace::fire(trace::kExpr, &block, index, first, nullptr);
    } while (index < tail_of(node));
  }
  if (trace::active()) trace::fire(trace::kExit, &block, tail_of(node), first, nullptr);
}

// The body of eval_block, inlined into the hot paths that evaluate a block
// (function bodies and conditional branches). Parens go through eval_block:
// a copy inlined there too made the expression evaluator larger and slower.
[[gnu::always_inline]] inline void run_block(const Cell& block, bool chain) {
  NodeId node = series::node_of(block);
  bool library = (memory::buffer_of(node)->flags & series_flags::kLibraryCode) != 0;
  if (library != library_code) {
    run_block_of_other_kind(block, chain, library);
    return;
  }
  uint32_t index = series::index_of(block);
  if (stack::frame_top >= stack::frame_end) frame_overflow(block, library);
  // The frame of user code records the position; library code keeps its
  // caller's.
  if (library) stack::mark_code(body_word, stack::kEval, 0, 0, index);
  else stack::mark_code(body_word, stack::kEval, block.type() | (block.new_line() ? stack::kCodeNewLine : 0), node, index);
  Cell* first = stack::arguments();
  if (trace::active()) trace::fire(trace::kEnter, &block, index, nullptr, nullptr);
  run_expressions(block, node, index, stack::current_frame(), first);
  if (exiting()) return;
  if (chain) stack::unwind_last();
  else stack::unwind();
}

// The room of one frame record taken for as long as a block runs in a frame
// it borrows (below), and given back however the block is left.
struct FrameRoomTaken {
  FrameRoomTaken() { --stack::frame_end; }
  ~FrameRoomTaken() { ++stack::frame_end; }
  FrameRoomTaken(const FrameRoomTaken&) = delete;
  FrameRoomTaken& operator=(const FrameRoomTaken&) = delete;
};

// A block run in the frame at the top, which its caller opened and closes
// (a function's body in the function's frame, a branch in the frame of
// its conditional, a loop body in the loop's frame): eval_block(block,
// false) without a frame of its own. The result lands in the cell at the
// top, the top just above it. The frame carries the block's position
// while it runs (none for library code, which keeps its caller's); a
// frame that lives on after the block clears it (clear_position). The
// check for room counts the frame the block no longer opens, so deep
// recursion meets the overflow error where it always did, and the
// room is held while the block runs. Tracing and a
// change between library and user code take eval_block's way, whose
// frames the tracer reports.
[[gnu::always_inline]] inline void run_block_here(const Cell& block) {
  NodeId node = series::node_of(block);
  bool library = (memory::buffer_of(node)->flags & series_flags::kLibraryCode) != 0;
  if (library != library_code || trace::active()) {
    eval_block(block, false);
    return;
  }
  uint32_t index = series::index_of(block);
  if (stack::frame_top >= stack::frame_end) frame_overflow(block, library);
  FrameRoomTaken room;
  stack::Frame* frame = stack::current_frame();
  if (!library) stack::set_position(frame, block.type() | (block.new_line() ? stack::kCodeNewLine : 0), node, index);
  Cell* first = stack::top;
  run_expressions(block, node, index, frame, first);
  if (exiting()) return;
  stack::top = first + 1;
}
}  // namespace

void eval_block(const Cell& block, bool chain) { run_block(block, chain); }

namespace {
// A paren met as a value (an expression, an argument, an operand):
// eval_block(paren, false), run in the frame at the top, which takes the
// paren's position while it runs and has its own back after. Library code
// keeps the position it finds. The room of the frame the paren no longer
// opens is held while it runs, as for run_block_here. An error thrown out
// of the paren leaves the frame's position as the paren's: the frames that
// live on after an exception passes (a loop's) give their position up.
[[gnu::always_inline]] inline void run_paren(const Cell& paren) {
  if (stack::frame_top == stack::frame_bottom) {
    eval_block(paren, false);
    return;
  }
  stack::Frame* frame = stack::current_frame();
  const uint32_t saved_code_type = frame->header & (stack::kCodeTypeMask | stack::kCodeNewLine);
  const NodeId saved_code = frame->code;
  const uint32_t saved_code_index = frame->code_index;
  run_block_here(paren);
  // The frame's position back (an exit on its way through may have closed
  // the frame: its record is then written and never read).
  stack::set_position(frame, saved_code_type, saved_code, saved_code_index);
}
}  // namespace

void eval_block_in_frame(const Cell& block) {
  if (series::index_of(block) >= tail_of(series::node_of(block))) {
    // An empty block has no expression to start at a safe point: a loop
    // over one takes it here, so that it stays interruptible.
    collector::safe_point();
    halt_point();
  }
  run_block_here(block);
}

namespace {
// A block of library code met in user code, or the other way round: it runs
// with the kind of code switched for its length (the same kind, the
// commonest case, needs no switch).
[[gnu::noinline]] void run_block_of_other_kind(const Cell& block, bool chain, bool library) {
  CodeKindScope code_kind(library);
  eval_block(block, chain);
}
}  // namespace

uint32_t eval_next(const Cell& block, uint32_t index) {
  NodeId node = series::node_of(block);
  stack::mark(&body_word, stack::kInterp);
  if (index >= tail_of(node)) {
    put(stack::arguments(), unset::value);
  } else {
    index = eval_expression(block, index, UINT32_MAX, false, false);
    if (exiting()) return index;
  }
  stack::unwind();
  return index;
}

// --- Paths -----------------------------------------------------------------------------

namespace {
// Values that live in the cell itself: setting one of their fields changes
// a copy, which must be stored back where it came from.
bool is_value_type(TypeId type) {
  switch (type) {
    case TYPE_PAIR:
    case TYPE_POINT2D:
    case TYPE_POINT3D:
    case TYPE_DATE:
    case TYPE_TIME:
    case TYPE_TUPLE:
    case TYPE_MONEY:
    case TYPE_EVENT:  // its type code
      return true;
    default:
      return false;
  }
}

// After a set-path: levels holds [value0 element1 value1 ... elementN valueN]
// (valueN the value set). From the deepest level up, a value-type level that
// the set changed is stored into its parent by the element that reached it,
// and a value-type first level back into the path's word.
void write_back_levels(const Cell& head, Cell* levels, uint32_t steps) {
  for (uint32_t k = steps - 1; k >= 1; --k) {
    Cell* changed = levels + 2 * k;
    if (!is_value_type(changed->type())) return;
    Cell* parent = levels + 2 * (k - 1);
    Cell* element = levels + 2 * k - 1;
    ActionHandler<Action::eval_path> handler = action_handler<Action::eval_path>(parent->type());
    if (handler == nullptr) return;
    Cell* top = stack::top;
    Cell path_cell = none::value;
    handler(parent, element, changed, &path_cell, nullptr, nullptr, static_cast<int32_t>(k), false, false, true);
    stack::top = top;
  }
  if (is_value_type(levels->type())) *lookup(head) = *levels;
}

// The element at `failing` (its value `element`, a paren evaluated) met a
// value of `type` that takes no path: the error shows the path up to that
// value and the path cut after the element, both as paths.
[[noreturn]] void path_does_not_apply(const Cell& path, uint32_t head, uint32_t failing, const Cell& element,
                                      TypeId type) {
  Cell* reached = block::push_only(static_cast<int32_t>(failing - head));
  Cell* cut = block::push_only(static_cast<int32_t>(failing - head + 1));
  for (uint32_t k = head; k < failing; ++k) {
    Cell item = cells_of(series::node_of(path))[k];
    block::rs_append(reached, item);
    block::rs_append(cut, item);
  }
  block::rs_append(cut, element);
  reached->set_type(TYPE_PATH);
  cut->set_type(TYPE_PATH);
  Cell datatype_cell = datatype::make(type);
  fire(ErrorId::script_bad_path_type, cut, &datatype_cell, reached);
}
}  // namespace

uint32_t eval_path(const Cell& path, const Cell& code, uint32_t index, uint32_t end, bool get,
                   const Cell* value) {
  NodeId node = series::node_of(path);
  uint32_t length = tail_of(node);
  uint32_t at = series::index_of(path);
  if (at >= length) fire(ErrorId::script_empty_path);
  Cell* slot = stack::top;
  Cell head = cells_of(node)[at];
  if (trace::active()) trace::fire(trace::kEnter, &path, at, nullptr, nullptr);
  if (trace::active()) trace::fire(trace::kFetch, &path, at, &head, nullptr);
  if (!head.is(TYPE_WORD)) fire(ErrorId::script_word_first, &path);
  Cell current = *lookup(head);
  if (current.is(TYPE_UNSET)) fire(ErrorId::script_unset_path, &path, &head);
  if (is_callable(current.type())) {
    if (value != nullptr) fire(ErrorId::script_invalid_path_set, &path);
    if (get) fire(ErrorId::script_invalid_path_get, &path);
    return eval_code(current, code, index, end, false, &head, &path, 1, 0);
  }
  stack::push(current);  // the value reached so far, kept reachable
  for (uint32_t i = at + 1; i < length; ++i) {
    Cell element = cells_of(node)[i];
    if (element.is(TYPE_PAREN)) {
      stack::Guard guard;
      eval_block(element, false);
      if (exiting()) return index;
      element = *stack::get_top();
    } else if (element.is(TYPE_GET_WORD)) {
      element = *context::get(&element);
    }
    if (element.is(TYPE_UNSET)) fire(ErrorId::script_invalid_path, &path, &element);
    bool last = i + 1 == length;
    Cell* parent = stack::get_top();
    Cell element_copy = element;
    Cell* element_cell = stack::push(element_copy);
    Cell path_copy = path;
    Cell* path_cell = stack::push(path_copy);
    Cell* set_cell = nullptr;
    if (last && value != nullptr) set_cell = stack::push(*value);
    ActionHandler<Action::eval_path> handler = action_handler<Action::eval_path>(parent->type());
    if (handler == nullptr) path_does_not_apply(path, at, i, element_copy, parent->type());
    Cell* reached = handler(parent, element_cell, set_cell, path_cell, nullptr, nullptr,
                            static_cast<int32_t>(i - at), false, get, last);
    Cell result = reached ? *reached : none::value;
    stack::top = parent;
    if (!get && value == nullptr && is_callable(result.type()) && !last) {
      // A method call: the rest of the path refines it.
      stack::top = slot;
      return eval_code(result, code, index, end, false, &element_copy, &path, i - at + 1, object::context_of(*parent));
    }
    if (!get && value == nullptr && is_callable(result.type()) && last) {
      stack::top = slot;
      return eval_code(result, code, index, end, false, &element_copy, nullptr, 0, object::context_of(*parent));
    }
    if (value != nullptr) {
      // A set-path keeps every level and its element on the stack, so that
      // a value-type level changed in place can be written back (below).
      stack::top = element_cell + 1;
      stack::push(result);
      continue;
    }
    *parent = result;
    stack::top = parent + 1;
  }
  if (value != nullptr) {
    write_back_levels(head, slot, length - at - 1);
    put(slot, *value);
    return index;
  }
  put(slot, *stack::get_top());
  if (trace::active()) trace::fire(trace::kPush, &path, length, slot, nullptr);
  if (trace::active()) trace::fire(trace::kExit, &path, length, slot, nullptr);
  return index;
}

// --- Calls from C++ ---------------------------------------------------------------

Cell call_value(const Cell& callable, const Cell* arguments, uint32_t count) {
  stack::Guard guard;
  Cell* slot = stack::push(callable);
  Cell name = anonymous_word();
  bool native_like = callable.is(TYPE_NATIVE) || callable.is(TYPE_ACTION);
  Call call(callable, name, native_like, false);
  for (uint32_t i = 0; i < kMaxRefinements; ++i) call.refinements[i] = -1;
  if (native_like) {
    stack::mark(&name, stack::kNative);
    for (uint32_t i = 0; i < count; ++i) stack::push(arguments[i]);
    if (callable.is(TYPE_NATIVE)) natives::call(native::number_of(callable), true, call.refinements);
    else action_entries::entry(native::number_of(callable))(call.refinements);
  } else if (callable.is(TYPE_FUNCTION)) {
    open_function_frame(callable, name, arguments, count, false);
    call_function(callable, function::context_of(callable));
  } else if (callable.is(TYPE_ROUTINE)) {
    // The routine's entry trusts its frame: each argument is checked here.
    stack::mark(&name, stack::kNative);
    NodeId cache = argument_cache(callable);
    uint32_t given = 0;
    for (uint32_t i = 0; i < tail_of(cache); ++i) {
      Cell entry = cells_of(cache)[i];
      if (!entry.is(TYPE_TYPESET) || (entry.header & kArgumentKindMask) == kReturnSpec) continue;
      Cell* argument = stack::push(given < count ? arguments[given] : none::value);
      ++given;
      if (!typeset_has(entry, argument->type())) wrong_argument_type(name, callable, i, argument->type());
    }
    upcalls::table.call_routine(callable);
  } else {
    fire(ErrorId::script_invalid_arg, &callable);
  }
  if (exiting()) {
    uint32_t code = exits::pending;
    exits::pending = 0;
    exits::throw_unwind(code);
  }
  Cell result = slot[1];
  return result;
}

// --- Console interrupts ----------------------------------------------------------------

void raise_halt() {
  stack::Frame* target = stack::halt_target();
  if (target == nullptr) return;
  halt_requested = 0;
  // What the catch receives is what `halt` throws: the word halt-request
  // under the name console.
  Cell value, name;
  word::make_at(symbol::make("halt-request"), &value);
  word::make_at(symbol::make("console"), &name);
  stack::throw_halt(target, value, name);
}

// --- Loops -----------------------------------------------------------------------------

LoopOutcome run_loop_body(const Cell& body) {
  Cell* first = stack::arguments();
  stack::top = first;
  stack::Frame* frame = stack::current_frame();
  uint32_t caught = exits::catch_exits(exits::kBreak, [&] { eval_block_in_frame(body); });
  stack::clear_position(frame);  // the loop's frame lives on
  uint32_t code = caught ? caught : exits::pending;
  if (caught == exits::kBreak || caught == exits::kContinue) runtime::system().exit_code = 0;
  switch (code) {
    case 0:
      return LoopOutcome::kNext;
    case exits::kBreak:
      exits::pending = 0;
      return LoopOutcome::kBreak;
    case exits::kContinue:
      exits::pending = 0;
      return LoopOutcome::kNext;
    default:
      if (caught) exits::throw_unwind(caught);
      return LoopOutcome::kPropagate;
  }
}

}  // namespace kel::interpreter
