// Value natives: small constructors and tests of values, case conversion,
// the new-line markers of lists and the coercion between series types:
// square-root, construct, value?, uppercase, lowercase, as-pair,
// as-point2D, as-point3D, as-money, extend, unset, new-line, new-line?,
// context? and as.
//
// Each entry reads its arguments from the current native frame (argument 0
// is also the result cell) and leaves its result there. None of them
// evaluates code except through the change handlers of an object whose
// field unset clears, so the only stack rule they follow is the general
// one: a list's buffer is re-read after every call that may allocate.
#include <cmath>
#include <initializer_list>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/point2d.h"
#include "datatypes/point3d.h"
#include "datatypes/series.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/native_arguments.h"
#include "evaluator/natives.h"
#include "evaluator/natives_families.h"
#include "runtime/stack.h"
#include "datatypes/case_change.h"
#include "runtime/errors.h"
#include "datatypes/runtime_words.h"
#include "datatypes/argument_checks.h"

namespace kel::natives_values {

namespace {

using namespace native_arguments;

// Accepted argument types, for entries called with check_types.
Cell square_root_types;  // float! integer! percent!
Cell block_types;
Cell object_types;
Cell word_types;
Cell case_value_types;   // any-string! char!
Cell case_limit_types;   // number! any-string!
Cell coordinate_types;   // integer! float!
Cell extend_target_types;  // object! map!
Cell extend_spec_types;    // block! hash! map!
Cell unset_types;          // word! block!
Cell list_types;           // any-list!
Cell logic_types;
Cell integer_types;
Cell any_word_types;
Cell as_type_types;        // datatype! block! paren! any-path! any-string!
Cell as_spec_types;        // block! paren! any-path! any-string!

inline bool is_function_kind(TypeId type) { return type_in(type, kAnyFunction); }

// An integer!, float! or percent! as a double.
double number_value(const Cell& number) {
  return number.is(TYPE_INTEGER) ? static_cast<double>(integer::get(number)) : number.as_double();
}

// --- square-root and construct -------------------------------------------------------------

void square_root(bool check_types, const int32_t*) {
  if (check_types) check(square_root_types, 0);
  stack::set_last(float_type::make(std::sqrt(number_value(*argument(0)))));
}

// Refinements: /with object, /only.
void construct(bool check_types, const int32_t* refinements) {
  int32_t with_at = refinements[0];
  bool only = used(refinements[1]);
  if (check_types) {
    check(block_types, 0);
    if (used(with_at)) check(object_types, with_at);
  }
  const Cell* prototype = used(with_at) ? argument(with_at) : nullptr;
  Cell made = *object::construct(argument(0), prototype, only);
  stack::set_last(made);
}

// --- value? ---------------------------------------------------------------------------

// Whether a word can be read without an error and holds something other
// than unset. A word that cannot be looked up (bound to nothing, not yet
// in its context, or a function's word outside a call) has no value.
bool word_has_value(const Cell& word_cell) {
  NodeId context = word::context_of(word_cell);
  if (context == 0) return false;
  int32_t index = word::index_of(word_cell);
  if (index < 0) return word::symbol_of(word_cell) == runtime_words::self;
  Cell* head = context::values_head(context);
  if (head == nullptr) return false;
  if (!context::on_stack(context) &&
      static_cast<uint32_t>(index) >= memory::buffer_of(context::values_node(context))->cell_count())
    return false;
  return !head[index].is(TYPE_UNSET);
}

void value_q(bool check_types, const int32_t*) {
  if (check_types) check(word_types, 0);
  Cell value = *argument(0);
  bool has_value = type_in(value.type(), kAnyWord) ? word_has_value(value) : !value.is(TYPE_UNSET);
  stack::set_last(logic::make(has_value));
}

// --- uppercase and lowercase -----------------------------------------------------------------

// Refinement: /part limit. A number limit counts characters (a float or
// percent truncated toward zero); a string limit is a position in the same
// string.
void change_case(bool check_types, const int32_t* refinements, bool upper) {
  int32_t part_at = refinements[0];
  if (check_types) {
    check(case_value_types, 0);
    if (used(part_at)) check(case_limit_types, part_at);
  }
  Cell limit;
  const Cell* part = nullptr;
  if (used(part_at)) {
    limit = *argument(part_at);
    if (limit.is(TYPE_FLOAT) || limit.is(TYPE_PERCENT)) {
      limit = integer::make(number_to_integer(limit));
    } else if (!limit.is(TYPE_INTEGER)) {
      // A position must be one in the string itself.
      const Cell* value = argument(0);
      bool same_series = limit.type() == value->type() && series::node_of(limit) == series::node_of(*value);
      if (!value->is(TYPE_CHAR) && !same_series) {
        Cell refinement = runtime_words::part_refinement;
        fire(ErrorId::script_invalid_refine_arg, &refinement, &limit);
      }
    }
    part = &limit;
  }
  case_folding::change_case(argument(0), part, upper);
}

void uppercase(bool check_types, const int32_t* refinements) { change_case(check_types, refinements, true); }
void lowercase(bool check_types, const int32_t* refinements) { change_case(check_types, refinements, false); }

// --- as-pair, as-point2D, as-point3D, as-money ------------------------------------------------------

// A pair coordinate: an integer as it is, a float truncated toward zero.
// A float that is not finite or whose integer part leaves the 32-bit range
// raises invalid-arg with the value, rather than wrapping into a wrong
// coordinate.
int32_t pair_coordinate(const Cell& value) {
  if (value.is(TYPE_INTEGER)) return integer::get(value);
  double truncated = std::trunc(value.as_double());
  if (!(truncated >= -2147483648.0 && truncated <= 2147483647.0)) fire(ErrorId::script_invalid_arg, &value);
  return static_cast<int32_t>(truncated);
}

void as_pair(bool check_types, const int32_t*) {
  if (check_types) {
    check(coordinate_types, 0);
    check(coordinate_types, 1);
  }
  stack::set_last(pair::make(pair_coordinate(*argument(0)), pair_coordinate(*argument(1))));
}

void as_point2d(bool check_types, const int32_t*) {
  if (check_types) {
    check(coordinate_types, 0);
    check(coordinate_types, 1);
  }
  stack::set_last(point2d::make(number_value(*argument(0)), number_value(*argument(1))));
}

void as_point3d(bool check_types, const int32_t*) {
  if (check_types) {
    for (int32_t i = 0; i < 3; ++i) check(coordinate_types, i);
  }
  stack::set_last(point3d::make(number_value(*argument(0)), number_value(*argument(1)), number_value(*argument(2))));
}

void as_money(bool check_types, const int32_t*) {
  if (check_types) {
    check(word_types, 0);
    check(coordinate_types, 1);
  }
  Cell currency = *argument(0);
  int32_t index = money::currency_word_index(currency);
  if (index <= 0) fire(ErrorId::script_bad_denom, &currency);
  Cell amount = *argument(1);
  Cell result = amount.is(TYPE_INTEGER) ? money::from_integer(integer::get(amount))
                                        : money::from_float(amount.as_double(), false);
  money::set_currency(&result, static_cast<uint32_t>(index));
  stack::set_last(result);
}

// --- extend ------------------------------------------------------------------------------

// Refinement: /case. Objects cannot grow fields through extend.
void extend(bool check_types, const int32_t* refinements) {
  if (check_types) {
    check(extend_target_types, 0);
    check(extend_spec_types, 1);
  }
  if (!argument(0)->is(TYPE_MAP)) fire(ErrorId::internal_not_done);
  map::extend(argument(0), argument(1), used(refinements[0]));
}

// --- unset ------------------------------------------------------------------------------

void unset_word(Cell word) { context::set(&word, make_cell(TYPE_UNSET)); }

void unset_(bool check_types, const int32_t*) {
  if (check_types) check(unset_types, 0);
  Cell target = *argument(0);
  if (!target.is(TYPE_BLOCK)) {
    unset_word(target);
    unset::set_result();
    return;
  }
  // An object's change handler may run at each word and may change the
  // block: its buffer and tail are read again at every step.
  for (uint32_t i = series::index_of(target); i < block::buffer_of(&target)->cell_count(); ++i) {
    Cell item = block::buffer_of(&target)->cells()[i];
    if (item.is(TYPE_WORD)) unset_word(item);
  }
  unset::set_result();
}

// --- new-line and new-line? -----------------------------------------------------------------

// Refinements: /all, /skip size.
void new_line(bool check_types, const int32_t* refinements) {
  int32_t skip_at = refinements[1];
  if (check_types) {
    check(list_types, 0);
    check(logic_types, 1);
    if (used(skip_at)) check(integer_types, skip_at);
  }
  Cell position = *argument(0);
  bool on = logic::get(*argument(1)) != 0;
  int64_t size = 0;
  if (used(skip_at)) {
    size = integer::get(*argument(skip_at));
    if (size <= 0) fire(ErrorId::script_out_of_range, argument(skip_at));
  }
  // Nothing below allocates, so the cells stay where they are.
  SeriesBuffer* buffer = block::buffer_of(&position);
  Cell* cells = buffer->cells();
  uint32_t tail = buffer->cell_count();
  uint32_t index = series::index_of(position);
  if (used(skip_at)) {
    for (uint32_t i = index; i < tail; ++i) cells[i].set_new_line(((i - index) % size == 0) ? on : !on);
  } else if (used(refinements[0])) {
    for (uint32_t i = index; i < tail; ++i) cells[i].set_new_line(on);
  } else if (index < tail) {
    cells[index].set_new_line(on);
  }
  stack::set_last(position);
}

void new_line_q(bool check_types, const int32_t*) {
  if (check_types) check(list_types, 0);
  Cell position = *argument(0);
  SeriesBuffer* buffer = block::buffer_of(&position);
  uint32_t index = series::index_of(position);
  bool marked = index < buffer->cell_count() && buffer->cells()[index].new_line();
  stack::set_last(logic::make(marked));
}

// --- context? ----------------------------------------------------------------------------------

// The object or function whose context the word is bound to; none for a
// context that no such value owns (the global context among them).
void context_q(bool check_types, const int32_t*) {
  if (check_types) check(any_word_types, 0);
  NodeId context = word::context_of(*argument(0));
  if (context == 0) {
    none::set_result();
    return;
  }
  Cell owner = *context::self_cell(context);
  if (object::is_object_kind(owner.type()) || is_function_kind(owner.type())) {
    clear_new_line(&owner);
    stack::set_last(owner);
  } else {
    none::set_result();
  }
}

// --- as ------------------------------------------------------------------------------------------

// The coercion families: values of one family share their cell layout and
// their buffer's unit, so retyping the cell is all a coercion takes.
int32_t coercion_family(TypeId type) {
  if (type_in(type, {TYPE_BLOCK, TYPE_PAREN}) || type_in(type, kAnyPath)) return 1;
  if (type_in(type, kAnyString)) return 2;
  return 0;
}

void as(bool check_types, const int32_t*) {
  if (check_types) {
    check(as_type_types, 0);
    check(as_spec_types, 1);
  }
  Cell type = *argument(0);
  Cell spec = *argument(1);
  TypeId target = type.is(TYPE_DATATYPE) ? datatype::named_type(type) : type.type();
  int32_t family = coercion_family(spec.type());
  if (family == 0 || family != coercion_family(target)) {
    Cell from = datatype::make(spec.type());
    Cell to = datatype::make(target);
    fire(ErrorId::script_not_same_class, &from, &to);
  }
  spec.set_type(target);
  clear_new_line(&spec);
  stack::set_last(spec);
}

}  // namespace

void init() {
  square_root_types = typeset_of({kNumber});
  block_types = typeset_of({{TYPE_BLOCK}});
  object_types = typeset_of({{TYPE_OBJECT}});
  word_types = typeset_of({{TYPE_WORD}});
  case_value_types = typeset_of({kAnyString, {TYPE_CHAR}});
  case_limit_types = typeset_of({kNumber, kAnyString});
  coordinate_types = typeset_of({{TYPE_INTEGER, TYPE_FLOAT}});
  extend_target_types = typeset_of({{TYPE_OBJECT, TYPE_MAP}});
  extend_spec_types = typeset_of({{TYPE_BLOCK, TYPE_HASH, TYPE_MAP}});
  unset_types = typeset_of({{TYPE_WORD, TYPE_BLOCK}});
  list_types = typeset_of({kAnyList});
  logic_types = typeset_of({{TYPE_LOGIC}});
  integer_types = typeset_of({{TYPE_INTEGER}});
  any_word_types = typeset_of({kAnyWord});
  as_type_types = typeset_of({{TYPE_DATATYPE, TYPE_BLOCK, TYPE_PAREN}, kAnyPath, kAnyString});
  as_spec_types = typeset_of({{TYPE_BLOCK, TYPE_PAREN}, kAnyPath, kAnyString});

  using natives::Native;
  natives::install(Native::square_root, square_root);
  natives::install(Native::construct, construct);
  natives::install(Native::value_q, value_q);
  natives::install(Native::uppercase, uppercase);
  natives::install(Native::lowercase, lowercase);
  natives::install(Native::as_pair, as_pair);
  natives::install(Native::as_point2d, as_point2d);
  natives::install(Native::as_point3d, as_point3d);
  natives::install(Native::as_money, as_money);
  natives::install(Native::extend, extend);
  natives::install(Native::unset, unset_);
  natives::install(Native::new_line, new_line);
  natives::install(Native::new_line_q, new_line_q);
  natives::install(Native::context_q, context_q);
  natives::install(Native::as, as);
}

}  // namespace kel::natives_values
