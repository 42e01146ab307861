// Compiled bodies of library functions (see compiled.h).
#include "library/compiled.h"

#include <cstdlib>
#include <cstring>

#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/symbol.h"
#include "evaluator/interpreter.h"
#include "evaluator/trace.h"
#include "library/csv_compiled.h"
#include "library/json_compiled.h"
#include "library/series_compiled.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/string_buffer.h"
#include "runtime/string_units.h"
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
  // Whether the routine may hand a call back to the Kel body; such a body
  // is left to the Kel code while the tracer runs, so that the trace shows
  // one call, as the Kel code makes it.
  bool hands_over;
};
const Entry kBodies[] = {
    {"first", pick_nth<1>, false},
    {"second", pick_nth<2>, false},
    {"third", pick_nth<3>, false},
    {"fourth", pick_nth<4>, false},
    {"fifth", pick_nth<5>, false},
    {"last", last, false},
    {"empty?", empty, false},
    {"load-json", json_compiled::load_json, true},
    {"to-json", json_compiled::to_json, true},
    {"load-csv", csv_compiled::load_csv, true},
    {"to-csv", csv_compiled::to_csv, true},
    {"rejoin", series_compiled::rejoin, true},
};
constexpr int32_t kCount = sizeof kBodies / sizeof kBodies[0];

// The function values the routines belong to, for handing a call over.
Cell attached_functions[kCount];
// The index whose next lookup answers "no routine": the call that a routine
// hands over runs the Kel body.
int32_t handed_over = -1;
// The index of the routine running now (set at its lookup).
int32_t running = -1;
}  // namespace

void attach() {
  // KEL_COMPILED_BODIES=off leaves every library function to its Kel body
  // (the tests run the codecs' case files both ways).
  const char* setting = std::getenv("KEL_COMPILED_BODIES");
  if (setting != nullptr && std::strcmp(setting, "off") == 0) return;
  for (int32_t i = 0; i < kCount; ++i) {
    Cell* slot = context::global_slot(symbol::make(kBodies[i].name));
    if (slot == nullptr || !slot->is(TYPE_FUNCTION)) continue;
    *function::info(*slot, function::kInfoCode) = integer::make(i);
    attached_functions[i] = *slot;
    collector::add_global_root(&attached_functions[i]);
  }
}

Body body(int32_t index) {
  if (index < 0 || index >= kCount) return nullptr;
  if (handed_over == index) {
    handed_over = -1;
    return nullptr;
  }
  if (kBodies[index].hands_over && trace::active()) return nullptr;
  running = index;
  return kBodies[index].body;
}

void TextBuffer::push_wide(char32_t c) {
  if (!wide_) {
    wide_text_.reserve(narrow_.size() * 2 + 16);
    wide_text_.assign(narrow_.begin(), narrow_.end());
    std::string().swap(narrow_);
    wide_ = true;
  }
  wide_text_.push_back(c);
}

void TextBuffer::make(Cell* cell, uint32_t capacity) const {
  if (!wide_) {
    uint64_t length = narrow_.size();
    memory::check_series_size(length);
    string::load_at(cell, static_cast<uint32_t>(length < capacity ? capacity : length), 1);
    SeriesBuffer* buffer = memory::buffer_of(cell->data2);
    if (length != 0) std::memcpy(buffer->head_ptr(), narrow_.data(), length);
    buffer->tail = buffer->offset + static_cast<uint32_t>(length);
    return;
  }
  uint32_t widest = 0;
  for (char32_t c : wide_text_) widest = c > widest ? c : widest;
  uint32_t unit = widest <= 0x7F ? 1 : widest <= 0xFFFF ? 2 : 4;
  uint64_t length = wide_text_.size();
  memory::check_series_size(length * unit);
  string::load_at(cell, static_cast<uint32_t>(length < capacity ? capacity : length), unit);
  SeriesBuffer* buffer = memory::buffer_of(cell->data2);
  uint8_t* p = buffer->head_ptr();
  for (char32_t c : wide_text_) {
    unicode::put_char(p, unit, c);
    p += unit;
  }
  buffer->tail = buffer->offset + static_cast<uint32_t>(length * unit);
}

const Cell& running_function() {
  if (running < 0 || running >= kCount) fire(ErrorId::internal_feature_na);
  return attached_functions[running];
}

void run_kel_body() {
  int32_t index = running;
  if (index < 0 || index >= kCount) fire(ErrorId::internal_feature_na);
  const Cell& function = attached_functions[index];
  NodeId context = function::context_of(function);
  // The routine runs on its function's frame; a copy of the function with
  // a context of its own would bind its body elsewhere.
  if (stack::current_frame()->function_context != context) fire(ErrorId::internal_feature_na);
  handed_over = index;
  interpreter::call_function(function, context);
}

}  // namespace kel::compiled
