// Compiled bodies of library functions (see compiled.h).
#include "library/compiled.h"

#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/symbol.h"
#include "runtime/actions.h"
#include "runtime/stack.h"

namespace kel::compiled {

namespace {
// pick s n: the body of first ... fifth.
template <int32_t N>
void pick_nth() {
  Cell* s = stack::arguments();
  Cell index = integer::make(N);
  Cell* result = actions::handler_for<Action::pick>(*s)(s, N, &index);
  stack::set_last(*result);
}

int32_t length_of(Cell* s) {
  return actions::handler_for<Action::length_q>(*s)(s);
}

// pick s length? s
void last() {
  Cell* s = stack::arguments();
  int32_t n = length_of(s);
  Cell index = integer::make(n);
  Cell* result = actions::handler_for<Action::pick>(*s)(s, n, &index);
  stack::set_last(*result);
}

// either none? data [true] [zero? length? data]
void empty() {
  Cell* data = stack::arguments();
  if (data->is(TYPE_NONE)) {
    logic::box(true);
    return;
  }
  logic::box(length_of(data) == 0);
}

struct Entry {
  const char* name;
  Body body;
};
const Entry kBodies[] = {
    {"first", pick_nth<1>}, {"second", pick_nth<2>}, {"third", pick_nth<3>}, {"fourth", pick_nth<4>},
    {"fifth", pick_nth<5>}, {"last", last},          {"empty?", empty},
};
constexpr int32_t kCount = sizeof kBodies / sizeof kBodies[0];
}  // namespace

void attach() {
  for (int32_t i = 0; i < kCount; ++i) {
    Cell* slot = context::global_slot(symbol::make(kBodies[i].name));
    if (slot == nullptr || !slot->is(TYPE_FUNCTION)) continue;
    *function::info(*slot, function::kInfoCode) = integer::make(i);
  }
}

Body body(int32_t index) { return index >= 0 && index < kCount ? kBodies[index].body : nullptr; }

}  // namespace kel::compiled
