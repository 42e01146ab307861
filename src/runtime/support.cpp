// Support routines (see support.h).
#include "runtime/support.h"

#include <cmath>
#include <cstring>

#include "datatypes/datatype.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/error.h"
#include "datatypes/string.h"
#include "evaluator/stack.h"
#include "runtime/errors.h"

namespace kel {

Cell* alloc_tail(SeriesBuffer** buffer) {
  SeriesBuffer* b = *buffer;
  if (uint64_t{b->tail} + sizeof(Cell) > b->size) {
    b = memory::expand_series(
        b, static_cast<uint32_t>(memory::grown_capacity(b->size, uint64_t{b->used()} + sizeof(Cell))));
    *buffer = b;
  }
  Cell* cell = reinterpret_cast<Cell*>(b->tail_ptr());
  *cell = make_cell(TYPE_UNSET);
  b->tail += sizeof(Cell);
  return cell;
}

Cell* alloc_tail_cell(const Cell* block) {
  SeriesBuffer* b = memory::buffer_of(block->data2);
  return alloc_tail(&b);
}

Cell* append_value(const Cell* block, const Cell& value) {
  Cell* cell = alloc_tail_cell(block);
  *cell = value;
  return cell;
}

uint8_t* alloc_tail_unit(SeriesBuffer** buffer, uint32_t n) {
  SeriesBuffer* b = *buffer;
  if (uint64_t{b->tail} + n > b->size) {
    // Content that does not start at the data start is moved there: the
    // new capacity holds the content and the n bytes.
    uint64_t size = memory::grown_capacity(std::max(b->size, n), uint64_t{b->used()} + n);
    b = memory::expand_series(b, static_cast<uint32_t>(size));
    *buffer = b;
  }
  uint8_t* p = b->tail_ptr();
  b->tail += n;
  return p;
}

void mold_indent(Cell* buffer, int32_t level) {
  for (int32_t i = 0; i < level; ++i) string::concatenate_literal(buffer, "    ");
}

void fill_pattern(uint8_t* buffer, uint32_t n, uint32_t count) {
  uint64_t total = uint64_t{n} * count;
  uint64_t done = n;
  while (done < total) {
    uint64_t chunk = done <= total - done ? done : total - done;
    std::memcpy(buffer + done, buffer, chunk);
    done += chunk;
  }
}

// --- Root block ----------------------------------------------------------------

namespace root {
namespace {
NodeId root_node = 0;
uint32_t image_base = 0;
}  // namespace

void init() { root_node = memory::alloc_cells(1000); }
NodeId block() { return root_node; }
void set_image_base(uint32_t cell_index) { image_base = cell_index; }
Cell* cell(uint32_t n) { return memory::buffer_of(root_node)->cells() + image_base + n; }
NodeId node(uint32_t n) { return cell(n)->data2; }
Cell* keep(const Cell& value) {
  SeriesBuffer* b = memory::buffer_of(root_node);
  Cell* slot = alloc_tail(&b);
  *slot = value;
  return slot;
}
}  // namespace root

// --- Argument checks ----------------------------------------------------------

namespace {
[[noreturn]] void expect_arg(int32_t index, TypeId type) {
  Cell call = error_value::call_word();
  Cell datatype = datatype::make(type);
  Cell argument = error_value::call_argument_word(index);
  fire(ErrorId::script_expect_arg, &call, &datatype, &argument);
}
}  // namespace

const Cell* check_arg_type(const Cell& typeset, int32_t index, const Cell* value) {
  if (!typeset_has(typeset, value->type())) expect_arg(index, value->type());
  return value;
}

void check_arg_type_at(const Cell& typeset, int32_t index) {
  if (index < 0) return;
  check_arg_type(typeset, index, stack::arguments() + index);
}

void check_refinement_arg_type(const Cell& refinement, const Cell& typeset, int32_t index,
                               const Cell* value) {
  if (refinement.is(TYPE_LOGIC) && refinement.data1 != 0) check_arg_type(typeset, index, value);
}

const Cell* check_arg_not_unset(int32_t index, const Cell* value) {
  if (value->is(TYPE_UNSET)) expect_arg(index, TYPE_UNSET);
  return value;
}

void set_refinement_slots(const Cell& refinement, int32_t index, int32_t count) {
  Cell* slot = stack::arguments() + index;
  if (refinement.is(TYPE_LOGIC) && refinement.data1 != 0) {
    *slot = logic::true_value;
    return;
  }
  for (int32_t i = 1; i <= count; ++i) slot[i] = none::value;
}

int32_t number_to_integer(const Cell& value) {
  if (value.is(TYPE_INTEGER)) return value.int_at2();
  double d = value.as_double();
  if (std::isnan(d) || d > 2147483647.0 || d < -2147483648.0) fire(ErrorId::script_out_of_range, &value);
  return static_cast<int32_t>(d);
}

}  // namespace kel
