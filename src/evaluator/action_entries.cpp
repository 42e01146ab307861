// The 62 action entries: each reads its argument cells from the current
// frame, asks the first argument's datatype for its handler and stores the
// handler's result as the frame's result. Refinements arrive as integers
// (-1 when absent, else the frame index of their first argument).
#include <cstdint>

#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/actions.h"
#include "evaluator/natives.h"
#include "runtime/stack.h"
#include "runtime/errors.h"

namespace kel::action_entries {

namespace {
using actions::handler_for;

inline Cell* arg(int i) { return stack::arguments() + i; }
inline void result(const Cell* value) {
  if (value != stack::arguments()) stack::set_last(*value);
}

// make and to dispatch on the type a datatype! names, else on the value's own.
TypeId target_type(const Cell* first) {
  return first->is(TYPE_DATATYPE) ? datatype::named_type(*first) : first->type();
}
template <Action A>
ActionHandler<A> handler_for_type(TypeId type, const Cell& value) {
  ActionHandler<A> h = action_handler<A>(type);
  if (h == nullptr) actions::unsupported(value);
  return h;
}

void make(const int32_t*) {
  TypeId type = target_type(arg(0));
  result(handler_for_type<Action::make>(type, *arg(0))(arg(0), arg(1), type));
}
void to(const int32_t*) {
  TypeId type = target_type(arg(0));
  result(handler_for_type<Action::to>(type, *arg(0))(arg(0), arg(1), type));
}
void random(const int32_t* r) { result(handler_for<Action::random>(*arg(0))(arg(0), r[0], r[1], r[2])); }
void reflect(const int32_t*) {
  result(handler_for<Action::reflect>(*arg(0))(arg(0), static_cast<int>(word::symbol_of(*arg(1)))));
}

// form and mold write into a fresh string; a /part limit of zero or less
// gives the empty string without asking the datatype, and a positive excess
// is cut off.
template <class Write>
void text_entry(int part_index, Write&& write) {
  int32_t limit = 0x7FFFFFFF;
  Cell* part = nullptr;
  if (part_index >= 0) {
    part = arg(part_index);
    limit = part->int_at2();
  }
  Cell* buffer = string::push_new(16);
  if (part == nullptr || limit > 0) {
    int32_t left = write(buffer, part, limit);
    if (part != nullptr && left < 0) string::truncate_to(string::buffer_of(buffer), static_cast<uint32_t>(limit));
  }
  stack::set_last(*buffer);
}
void form(const int32_t* r) {
  text_entry(r[0], [](Cell* buffer, Cell* part, int32_t limit) {
    return actions::form(arg(0), buffer, part, limit);
  });
}
void mold(const int32_t* r) {
  text_entry(r[3], [r](Cell* buffer, Cell* part, int32_t limit) {
    return actions::mold(arg(0), buffer, r[0] >= 0, r[1] >= 0, r[2] >= 0, part, limit, 0);
  });
}

void eval_path(const int32_t*) {
  result(handler_for<Action::eval_path>(*arg(0))(arg(0), arg(1), nullptr, nullptr, nullptr, nullptr, 0,
                                                 false, false, false));
}
void compare(const int32_t*) {
  logic::box(actions::compare(arg(0), arg(1), static_cast<int32_t>(arg(2)->int_at2())));
}

// Arithmetic, bitwise and index actions: the handler reads the frame.
template <Action A>
void frame_entry(const int32_t*) {
  result(handler_for<A>(*arg(0))());
}

template <Action A>
void one_value(const int32_t*) {
  result(handler_for<A>(*arg(0))(arg(0)));
}

void round(const int32_t* r) {
  result(handler_for<Action::round>(*arg(0))(arg(0), r[0], r[1], r[2], r[3], r[4], r[5], r[6]));
}

template <Action A>
void series_value_entry(const int32_t* r) {
  result(handler_for<A>(*arg(0))(arg(0), arg(1), r[0], r[1], r[2]));
}

void copy(const int32_t* r) {
  result(handler_for<Action::copy>(*arg(0))(arg(0), arg(0), r[0], r[1], r[2]));
}
void find(const int32_t* r) {
  result(handler_for<Action::find>(*arg(0))(arg(0), arg(1), r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7],
                                            r[8], r[9], r[10]));
}
void select(const int32_t* r) {
  result(handler_for<Action::select>(*arg(0))(arg(0), arg(1), r[0], r[1], r[2], r[3], r[4], r[5], r[6],
                                              r[7], r[8]));
}
void length(const int32_t*) {
  int32_t n = handler_for<Action::length_q>(*arg(0))(arg(0));
  if (n < 0) none::set_result();
  else stack::set_last(integer::make(n));
}
void move(const int32_t* r) { result(handler_for<Action::move>(*arg(0))(arg(0), arg(1), r[0])); }

// The index of pick and poke: an integer, a char's code point, true 1 and
// false 2, anything else 0.
int32_t index_argument() {
  const Cell* index = arg(1);
  switch (index->type()) {
    case TYPE_INTEGER:
    case TYPE_CHAR: return index->int_at2();
    case TYPE_LOGIC: return logic::get(*index) ? 1 : 2;
    default: return 0;
  }
}
void pick(const int32_t*) { result(handler_for<Action::pick>(*arg(0))(arg(0), index_argument(), arg(1))); }
void poke(const int32_t*) {
  Cell value = *arg(2);
  handler_for<Action::poke>(*arg(0))(arg(0), index_argument(), arg(2), arg(1));
  stack::set_last(value);
}
void put(const int32_t* r) { result(handler_for<Action::put>(*arg(0))(arg(0), arg(1), arg(2), r[0])); }
void remove(const int32_t* r) { result(handler_for<Action::remove>(*arg(0))(arg(0), r[0], r[1])); }
void reverse(const int32_t* r) { result(handler_for<Action::reverse>(*arg(0))(arg(0), r[0], r[1])); }
void sort(const int32_t* r) {
  result(handler_for<Action::sort>(*arg(0))(arg(0), r[0], r[1], r[2], r[3], r[4], r[5], r[6]));
}
void swap(const int32_t*) { result(handler_for<Action::swap>(*arg(0))(arg(0), arg(1))); }
void take(const int32_t* r) { result(handler_for<Action::take>(*arg(0))(arg(0), r[0], r[1], r[2])); }
void trim(const int32_t* r) {
  result(handler_for<Action::trim>(*arg(0))(arg(0), r[0], r[1], r[2], r[3], r[4], r[5]));
}
void modify(const int32_t* r) { result(handler_for<Action::modify>(*arg(0))(arg(0), arg(1), arg(2), r[0])); }
void open(const int32_t* r) { result(handler_for<Action::open>(*arg(0))(arg(0), r[0], r[1], r[2], r[3], r[4])); }
void read(const int32_t* r) {
  result(handler_for<Action::read>(*arg(0))(arg(0), r[0], r[1], r[2], r[3], r[4], r[5]));
}
void rename(const int32_t*) { result(handler_for<Action::rename>(*arg(0))(arg(0), arg(1))); }
void write(const int32_t* r) {
  result(handler_for<Action::write>(*arg(0))(arg(0), arg(1), r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7]));
}

Entry table[63] = {
    nullptr,
    make,
    random,
    reflect,
    to,
    form,
    mold,
    eval_path,
    nullptr,  // set-path has no entry
    compare,
    frame_entry<Action::absolute>,
    frame_entry<Action::add>,
    frame_entry<Action::divide>,
    frame_entry<Action::multiply>,
    one_value<Action::negate>,
    frame_entry<Action::power>,
    frame_entry<Action::remainder>,
    round,
    frame_entry<Action::subtract>,
    one_value<Action::even_q>,
    one_value<Action::odd_q>,
    frame_entry<Action::and_t>,
    one_value<Action::complement>,
    frame_entry<Action::or_t>,
    frame_entry<Action::xor_t>,
    series_value_entry<Action::append>,
    frame_entry<Action::at>,
    frame_entry<Action::back>,
    series_value_entry<Action::change>,
    one_value<Action::clear>,
    copy,
    find,
    frame_entry<Action::head>,
    frame_entry<Action::head_q>,
    frame_entry<Action::index_q>,
    series_value_entry<Action::insert>,
    length,
    move,
    frame_entry<Action::next>,
    pick,
    poke,
    put,
    remove,
    reverse,
    select,
    sort,
    frame_entry<Action::skip>,
    swap,
    frame_entry<Action::tail>,
    frame_entry<Action::tail_q>,
    take,
    trim,
    one_value<Action::create>,
    one_value<Action::close>,
    one_value<Action::delete_>,
    modify,
    open,
    one_value<Action::open_q>,
    one_value<Action::query>,
    read,
    rename,
    one_value<Action::update>,
    write,
};
}  // namespace

void init() {}

Entry entry(uint32_t slot) { return slot >= 1 && slot <= 62 ? table[slot] : nullptr; }

}  // namespace kel::action_entries
