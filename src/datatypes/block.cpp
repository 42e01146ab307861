// block!: the block routines, construction, make and to, the text forms
// with their new-line and indentation rules, comparison and path access (see
// block.h for the cell and the buffer). The search and modification actions
// are in block_actions.cpp; the index and element actions are inherited from
// series!.
//
// Walks over nested blocks (mold, form, compare, clone) hold a cycles::Entry
// for each block they enter, so a block met inside itself shows as "[...]"
// (or compares, or refuses to be cloned) and an error escaping a walk leaves
// the cycle stack as it found it.
#include "datatypes/block.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/actions.h"
#include "runtime/stack.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "datatypes/runtime_words.h"
#include "runtime/series_tail.h"
#include "datatypes/argument_checks.h"
#include "runtime/upcalls.h"

namespace kel::block {

namespace {

// make_in and make_fixed_in without a parent build their block here.
Cell scratch_cell = make_cell(TYPE_UNSET);
Cell fixed_scratch_cell = make_cell(TYPE_UNSET);

bool is_number(TypeId type) { return type == TYPE_INTEGER || type == TYPE_FLOAT || type == TYPE_PERCENT; }

// The last code point of a string (0 when it is empty).
uint32_t last_char(const Cell* text) {
  const SeriesBuffer* b = memory::buffer_of(text->data2);
  uint32_t unit = b->unit();
  if (b->used() < unit) return 0;
  return unicode::get_char(b->data() + b->tail - unit, unit);
}

// The value a reflect handler answers for the body of an object! or a map!,
// run in a frame of its own so that it cannot overwrite the caller's.
Cell reflect_body(const Cell* value) {
  stack::Guard guard;
  stack::mark_native(nullptr);
  Cell* v = stack::push(*value);
  return *actions::handler_for<Action::reflect>(*v)(v, static_cast<int>(runtime_words::body));
}

// A new block (pushed) of the element values of a vector!.
Cell* vector_values(const Cell* vector) {
  Cell source = *vector;
  int32_t length = series::rs_length(&source, false);
  Cell* result = push_only(length);
  for (int32_t i = 0; i < length; ++i)
    rs_append(result, series::element_at(&source, source.data1 + static_cast<uint32_t>(i)));
  return result;
}

// A new block (pushed) of the datatypes a typeset! holds, in id order.
Cell* typeset_types(const Cell* typeset) {
  Cell* result = push_only(8);
  for (TypeId type = 1; type <= kTypeCount; ++type)
    if (typeset_has(*typeset, type)) rs_append(result, datatype::make(type));
  return result;
}

// Told of each block the clone makes (see clone_deep).
struct CopyWatcher {
  void (*copied)(void* data, NodeId node);
  void* data;
};

void clone_into(const Cell* block, bool deep, bool any_block, Cell* out, const CopyWatcher* watcher = nullptr) {
  int32_t length = std::max(rs_length(block), 0);
  NodeId node = memory::alloc_cells(static_cast<uint32_t>(std::max(length, 1)));
  SeriesBuffer* to = memory::buffer_of(node);
  if (length > 0) std::memcpy(to->data(), buffer_of(block)->cells() + block->data1, size_t(length) * sizeof(Cell));
  to->tail = static_cast<uint32_t>(length) * sizeof(Cell);
  *out = make_cell(block->type(), 0, node, 0);
  if (watcher != nullptr) watcher->copied(watcher->data, node);
  if (!deep) return;
  if (cycles::find(block->data2)) fire(ErrorId::internal_no_cycle);
  cycles::Entry entry(block->data2);
  // The copy's cells are held while the scan meets no nested block; a
  // nested clone allocates, and they are read again after it.
  const Cell* cells = memory::buffer_of(node)->cells();
  for (int32_t i = 0; i < length; ++i) {
    Cell cell = cells[i];
    TypeId type = cell.type();
    bool nested = type == TYPE_BLOCK ||
                  (any_block && (type == TYPE_PAREN || (type >= TYPE_PATH && type <= TYPE_GET_PATH)));
    if (!nested) continue;
    Cell* copy = stack::push_slot();
    clone_into(&cell, true, any_block, copy, watcher);
    Cell kept = *copy;
    kept.header = cell.header;
    memory::buffer_of(node)->cells()[i] = kept;
    stack::pop(1);
    cells = memory::buffer_of(node)->cells();
  }
}

// The cell after a match of value (find comparison) from the index, as an
// absolute position, or -1.
int64_t position_after_match(const Cell* block, const Cell& value, uint32_t from) {
  uint32_t length = length_from_head(block);
  for (uint32_t i = from; i < length; ++i) {
    Cell cell = buffer_of(block)->cells()[i];
    Cell wanted = value;
    if (actions::compare(&cell, &wanted, kCmpFind)) return i + 1;
  }
  return -1;
}

}  // namespace

// --- rs routines ----------------------------------------------------------------

int32_t rs_length(const Cell* block) {
  return static_cast<int32_t>(static_cast<int64_t>(length_from_head(block)) - index_of(block));
}

bool rs_next(Cell* block) {
  int64_t next = index_of(block) + 1;
  bool at_end = next >= length_from_head(block);
  if (!at_end) block->data1 = static_cast<uint32_t>(next);
  return at_end;
}

Cell* rs_head(Cell* block) {
  block->data1 = clamped_index(block);
  return buffer_of(block)->cells() + block->data1;
}

Cell* rs_tail(const Cell* block) { return buffer_of(block)->cells_tail(); }

bool rs_tail_q(const Cell* block) { return index_of(block) >= length_from_head(block); }

Cell* rs_abs_at(const Cell* block, uint32_t position) { return buffer_of(block)->cells() + position; }

void rs_clear_from(const Cell* block) {
  SeriesBuffer* b = buffer_of(block);
  b->tail = b->offset + clamped_index(block) * sizeof(Cell);
}

void rs_set_tail(const Cell* block, uint32_t position) {
  SeriesBuffer* b = buffer_of(block);
  b->tail = b->offset + position * sizeof(Cell);
}

Cell* rs_append(const Cell* block, const Cell& value) {
  Cell copy = value;  // the value may lie in the buffer that grows
  Cell* cell = alloc_tail_cell(block);
  *cell = copy;
  return cell;
}

void rs_remove_last(Cell* block) {
  SeriesBuffer* b = buffer_of(block);
  if (b->used() == 0) return;
  b->tail -= sizeof(Cell);
  block->data1 = clamped_index(block);
}

void rs_append_block(const Cell* target, const Cell* source) {
  int32_t count = rs_length(source);
  if (count <= 0) return;
  uint32_t from = source->data1;
  NodeId source_node = source->data2;
  uint32_t at = length_from_head(target);
  SeriesBuffer* b = series::open_gap(target, at, static_cast<uint32_t>(count));
  // Read the source after the growth: it may be the target itself.
  std::memmove(b->cells() + at, memory::buffer_of(source_node)->cells() + from,
               size_t(count) * sizeof(Cell));
}

Cell rs_select(const Cell* block, const Cell& value) {
  int64_t after = position_after_match(block, value, clamped_index(block));
  if (after < 0 || after >= length_from_head(block)) return none::value;
  return buffer_of(block)->cells()[after];
}

void rs_remove_value(const Cell* block, const Cell& value, bool from_head) {
  int64_t after = position_after_match(block, value, from_head ? 0 : clamped_index(block));
  if (after > 0) series::remove_units(block, static_cast<uint32_t>(after - 1), 1);
}

// --- Construction -------------------------------------------------------------------

Cell* make_at(Cell* cell, int32_t capacity) {
  *cell = make_cell(TYPE_UNSET);
  NodeId node = memory::alloc_cells(static_cast<uint32_t>(std::max(capacity, 1)));
  *cell = make_value(node);
  return cell;
}

Cell* init_at(Cell* cell, int32_t capacity, bool fixed) {
  *cell = make_cell(TYPE_UNSET);
  uint32_t count = static_cast<uint32_t>(std::max(capacity, 1));
  NodeId node = fixed ? memory::alloc_fixed_series(count, sizeof(Cell), 0) : memory::alloc_unset_cells(count);
  *cell = make_value(node);
  return cell;
}

Cell* make_in(const Cell* parent, int32_t capacity) {
  NodeId node = memory::alloc_cells(static_cast<uint32_t>(std::max(capacity, 1)));
  Cell* cell = parent ? alloc_tail_cell(parent) : &scratch_cell;
  *cell = make_value(node);
  return cell;
}

Cell* make_fixed_in(const Cell* parent, int32_t capacity) {
  NodeId node = memory::alloc_fixed_series(static_cast<uint32_t>(std::max(capacity, 1)), sizeof(Cell), 0);
  Cell* cell = parent ? alloc_tail_cell(parent) : &fixed_scratch_cell;
  *cell = make_value(node);
  return cell;
}

Cell* push(const Cell& block) { return stack::push(block); }

Cell* push_only(int32_t capacity) { return make_at(stack::push_slot(), capacity); }

Cell* clone(const Cell* block, bool deep, bool any_block) {
  Cell source = *block;
  Cell* result = stack::push_slot();
  clone_into(&source, deep, any_block, result);
  return result;
}

Cell* clone_deep(const Cell* block, void (*copied)(void* data, NodeId node), void* data) {
  Cell source = *block;
  Cell* result = stack::push_slot();
  CopyWatcher watcher{copied, data};
  clone_into(&source, true, true, result, &watcher);
  return result;
}

void insert_cells(Cell* block, const Cell& value, bool advance, bool at_head) {
  Cell copy = value;
  uint32_t position = at_head ? 0 : clamped_index(block);
  SeriesBuffer* b = series::open_gap(block, position, 1);
  b->cells()[position] = copy;
  series::index_inserted(block, position, 1);
  if (advance) block->data1 = at_head ? block->data1 + 1 : position + 1;
}

void rs_insert_block(Cell* block, const Cell* source) {
  int32_t count = rs_length(source);
  if (count <= 0) return;
  // The source may be the block itself: take its cells before inserting.
  const Cell* from = buffer_of(source)->cells() + source->data1;
  std::vector<Cell> cells(from, from + count);
  Cell target = *block;
  target.data1 = clamped_index(block);
  for (const Cell& cell : cells) insert_cells(&target, cell, true, false);
}

void insert_frame_value() {
  Cell* value = stack::arguments();
  insert_cells(value - 1, *value, true, false);
}

void append_frame_arg() {
  Cell* block = stack::arguments();
  uint32_t at = length_from_head(block);
  rs_append(block, block[1]);
  series::index_inserted(block, at, 1);
}

void append_frame_value() {
  Cell* value = stack::arguments();
  Cell* block = value - 1;
  uint32_t at = length_from_head(block);
  rs_append(block, *value);
  series::index_inserted(block, at, 1);
}

Cell select_word(const Cell* block, const Cell& word, bool case_sensitive) {
  uint32_t symbol = word.data2;
  uint32_t canonical = case_sensitive ? symbol : symbol::resolve(symbol);
  uint32_t length = length_from_head(block);
  for (uint32_t i = clamped_index(block); i < length; ++i) {
    const Cell& cell = buffer_of(block)->cells()[i];
    TypeId type = cell.type();
    if (type < TYPE_WORD || type > TYPE_GET_WORD) continue;
    uint32_t candidate = case_sensitive ? cell.data2 : symbol::resolve(cell.data2);
    if (candidate != canonical) continue;
    return i + 1 < length ? buffer_of(block)->cells()[i + 1] : none::value;
  }
  return none::value;
}

// --- Text ---------------------------------------------------------------------------

int32_t mold_each(Cell* block, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
                  int32_t indent) {
  cycles::Entry entry(block->data2);
  uint32_t first = clamped_index(block);
  int32_t depth = indent;
  bool multi_line = false;
  for (uint32_t i = first; i < length_from_head(block); ++i) {
    if (part <= 0) return part;
    Cell value = buffer_of(block)->cells()[i];
    bool line_start = value.new_line() && !flat;
    if (line_start) {
      if (i == first && !only) {
        multi_line = true;
        ++depth;
      }
      if (!(i == first && only)) {
        string::concatenate_literal(buffer, "\n");
        --part;
      }
      mold_indent(buffer, depth);
      part -= 4 * depth;
    } else if (i != first) {
      string::concatenate_literal(buffer, " ");
      --part;
    }
    part = actions::mold(&value, buffer, false, all, flat, arg, part, depth);
  }
  if (multi_line) {
    string::concatenate_literal(buffer, "\n");
    mold_indent(buffer, indent);
    part -= 1 + 4 * indent;
  }
  return part;
}

int32_t form_each(Cell* block, Cell* buffer, Cell* arg, int32_t part) {
  cycles::Entry entry(block->data2);
  uint32_t first = clamped_index(block);
  for (uint32_t i = first; i < length_from_head(block); ++i) {
    if (part <= 0) return part;
    if (i != first) {
      uint32_t last = last_char(buffer);
      if (last != '\t' && last != '\n' && last != '\r') {
        string::concatenate_literal(buffer, " ");
        --part;
      }
    }
    Cell value = buffer_of(block)->cells()[i];
    part = actions::form(&value, buffer, arg, part);
  }
  return part;
}

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
  if (cycles::detect(*value, buffer, &part, false)) return part;
  return form_each(value, buffer, arg, part);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent) {
  if (cycles::detect(*value, buffer, &part, true)) return part;
  if (!only) {
    string::concatenate_literal(buffer, "[");
    --part;
  }
  part = mold_each(value, buffer, only, all, flat, arg, part, indent);
  if (!only) {
    string::concatenate_literal(buffer, "]");
    --part;
  }
  return part;
}

// --- Comparison -----------------------------------------------------------------------

int32_t compare_blocks(Cell* block1, Cell* block2, int32_t op) {
  if (block1->data2 == block2->data2 && block1->data1 == block2->data1) return 0;
  if (op == kCmpSame) return -1;
  if (cycles::find(block1->data2)) return cycles::find(block2->data2) ? 0 : -1;
  int32_t length1 = std::max(rs_length(block1), 0);
  int32_t length2 = std::max(rs_length(block2), 0);
  bool equality = op == kCmpEqual || op == kCmpNotEqual || op == kCmpStrictEqual ||
                  op == kCmpStrictWord || op == kCmpWord || op == kCmpFind;
  if (length1 != length2 && equality) return 1;
  if (length1 == 0) return 0;
  if (length2 == 0) return 1;
  cycles::Entry first(block1->data2);
  cycles::Entry second(block2->data2);
  int32_t shorter = std::min(length1, length2);
  for (int32_t i = 0; i < shorter; ++i) {
    Cell a = buffer_of(block1)->cells()[block1->data1 + i];
    Cell b = buffer_of(block2)->cells()[block2->data1 + i];
    TypeId type_a = a.type();
    TypeId type_b = b.type();
    int32_t result;
    if (type_a == type_b || (word::is_any_word(type_a) && word::is_any_word(type_b)) ||
        (is_number(type_a) && is_number(type_b))) {
      result = actions::compare_value(&a, &b, op);
    } else {
      result = type_a < type_b ? -1 : 1;
    }
    if (result != 0) return result;
  }
  return length1 < length2 ? -1 : length1 > length2 ? 1 : 0;
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
  TypeId type1 = value1->type();
  TypeId type2 = value2->type();
  if (type1 != type2) {
    bool word_operator = op == kCmpStrictWord || op == kCmpWord;
    bool path_pair = (type1 == TYPE_PATH && type2 == TYPE_LIT_PATH) ||
                     (type1 == TYPE_LIT_PATH && type2 == TYPE_PATH);
    if (!(word_operator && path_pair)) return kNotComparable;
  }
  return compare_blocks(value1, value2, op);
}

// --- make and to -----------------------------------------------------------------------

Cell* make(Cell*, Cell* spec, TypeId type) {
  Cell* result;
  switch (spec->type()) {
    case TYPE_INTEGER:
    case TYPE_FLOAT: result = push_only(number_to_integer(*spec)); break;
    case TYPE_OBJECT:
    case TYPE_MAP: result = stack::push(reflect_body(spec)); break;
    case TYPE_VECTOR: result = vector_values(spec); break;
    default:
      if (!series::is_block_kind(spec->type())) {
        Cell wanted = datatype::make(type);
        fire(ErrorId::script_bad_make_arg, &wanted, spec);
      }
      result = clone(spec, false, false);
  }
  result->set_type(type);
  return stack::set_result(*result);
}

Cell* to(Cell*, Cell* spec, TypeId type) {
  Cell* result;
  switch (spec->type()) {
    case TYPE_OBJECT:
    case TYPE_MAP: result = stack::push(reflect_body(spec)); break;
    case TYPE_VECTOR: result = vector_values(spec); break;
    case TYPE_TYPESET: result = typeset_types(spec); break;
    case TYPE_STRING: {
      // Source text becomes its values, loaded as a script's text would be
      // (bad text raises its syntax error).
      Cell text = *spec;
      result = stack::push_slot();
      upcalls::table.load_source(result, &text);
      break;
    }
    default:
      if (series::is_block_kind(spec->type())) {
        result = clone(spec, false, false);
      } else {
        Cell value = *spec;
        result = push_only(1);
        rs_append(result, value);
      }
  }
  result->set_type(type);
  return stack::set_result(*result);
}

// --- Path access ------------------------------------------------------------------------

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t,
                bool case_sensitive, bool, bool) {
  if (element->is(TYPE_INTEGER)) {
    if (value == nullptr) return stack::push(series::pick_value(parent, element->int_at2()));
    int32_t n = element->int_at2();
    int64_t target = int64_t{static_cast<int32_t>(parent->data1)} + (n > 0 ? n - 1 : n);
    series::Stretch stretch;
    if (n != 0 && target >= 0 && target < static_cast<int64_t>(length_from_head(parent)))
      stretch = series::announce(*parent, runtime_words::poke, value, target, 1);
    series::poke_value(parent, n, value);
    series::announce_done(*parent, runtime_words::poked, value, stretch);
    return value;
  }
  FindOptions options;
  options.only = true;
  options.case_sensitive = case_sensitive;
  if (value == nullptr) {
    if (element->is(TYPE_WORD) && !parent->is(TYPE_HASH))
      return stack::push(select_word(parent, *element, case_sensitive));
    return stack::push(select_value(parent, element, options));
  }
  Cell found = find_value(parent, element, options);
  if (found.is(TYPE_NONE)) fire(ErrorId::script_bad_path_set, path, element);
  series::Stretch stretch = series::announce(*parent, runtime_words::poke, value, found.data1 + 1, 1, 1);
  // The owner may have moved or removed the key: it is looked for again.
  if (stretch.announced) {
    found = find_value(parent, element, options);
    if (found.is(TYPE_NONE)) fire(ErrorId::script_bad_path_set, path, element);
    stretch.start = found.data1 + 1;
  }
  series::poke_value(&found, 2, value);
  series::announce_done(*parent, runtime_words::poked, value, stretch);
  return value;
}

// --- Registration ----------------------------------------------------------------------

void init() {
  collector::add_global_root(&scratch_cell);
  collector::add_global_root(&fixed_scratch_cell);
  DatatypeRecord record(TYPE_BLOCK, TYPE_SERIES, "block!");
  record.handle<Action::make>(make)
      .handle<Action::to>(to)
      .handle<Action::form>(form)
      .handle<Action::mold>(mold)
      .handle<Action::eval_path>(eval_path)
      .handle<Action::compare>(compare)
      .handle<Action::append>(append)
      .handle<Action::change>(change)
      .handle<Action::copy>(copy)
      .handle<Action::find>(find)
      .handle<Action::insert>(insert)
      .handle<Action::put>(put)
      .handle<Action::select>(select)
      .handle<Action::sort>(sort)
      .handle<Action::swap>(swap)
      .handle<Action::take>(take)
      .handle<Action::trim>(trim)
      .inherit_rest();
  register_datatype(record);
}

}  // namespace kel::block
