// vector!: element access, construction, append/insert/change, text,
// comparison and element-wise arithmetic (see vector.h for the cell and
// the element rules).
//
// Values to be written are gathered and checked before a vector changes,
// so a bad value (or a vector appended to itself) never leaves it half
// written; arithmetic checks its errors (zero divisors, float operands
// outside the integer range) before the first element changes. Raw element
// addresses are taken after the last allocation of each routine.
#include "datatypes/vector.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/checked_math.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "datatypes/runtime_words.h"
#include "runtime/series_tail.h"
#include "datatypes/argument_checks.h"

namespace kel::vector {

namespace {

constexpr uint64_t kMaxBytes = memory::kMaxSeriesBytes;

bool float_kind(TypeId element_type) { return element_type == TYPE_FLOAT || element_type == TYPE_PERCENT; }

bool valid_element_type(TypeId type) {
  return type == TYPE_CHAR || type == TYPE_INTEGER || type == TYPE_FLOAT || type == TYPE_PERCENT;
}

[[noreturn]] void invalid_arg(const Cell& value) { fire(ErrorId::script_invalid_arg, &value); }

[[noreturn]] void bad_make_arg(const Cell& spec) {
  Cell datatype = datatype::make(TYPE_VECTOR);
  fire(ErrorId::script_bad_make_arg, &datatype, &spec);
}

[[noreturn]] void invalid_spec_field(const Cell& spec) { fire(ErrorId::script_invalid_spec_field, &spec); }

[[noreturn]] void cannot_use_on_floats() {
  Cell call = error_value::call_word();
  Cell datatype = datatype::make(TYPE_FLOAT);
  fire(ErrorId::script_cannot_use, &call, &datatype);
}

uint32_t length_from_head(const Cell* vector) { return buffer_of(vector)->used() / element_size_of(vector); }

// The element type's name as mold writes it.
const char* type_name(TypeId element_type) { return datatype_name(element_type); }

// --- Ownership ------------------------------------------------------------------------------


// --- Gathering values -------------------------------------------------------------------------

// The values a series action writes: the cells of a block, paren, hash! or
// path from its index, the elements of a vector from its index, or the one
// value. Each must be of the element type.
std::vector<Cell> gather(const Cell* vector, const Cell& value, int64_t limit) {
  std::vector<Cell> values;
  TypeId type = value.type();
  if (series::is_block_kind(type)) {
    int32_t count = std::max(block::rs_length(&value), 0);
    if (limit >= 0) count = static_cast<int32_t>(std::min<int64_t>(count, limit));
    for (int32_t i = 0; i < count; ++i) values.push_back(*block::rs_abs_at(&value, value.data1 + static_cast<uint32_t>(i)));
  } else if (type == TYPE_VECTOR) {
    uint32_t count = rs_length(&value);
    if (limit >= 0) count = static_cast<uint32_t>(std::min<int64_t>(count, limit));
    uint32_t size = element_size_of(&value);
    for (uint32_t i = 0; i < count; ++i)
      values.push_back(element_value(buffer_of(&value)->head_ptr() + uint64_t{value.data1 + i} * size, size,
                                     element_type_of(&value)));
  } else {
    values.push_back(value);
  }
  for (const Cell& v : values)
    if (v.type() != element_type_of(vector)) invalid_arg(v);
  return values;
}

// The count of a /part or /dup refinement argument.
int64_t refinement_count(const Cell* series, int index, bool part) {
  if (index < 0) return -1;
  const Cell* argument = stack::arguments() + index;
  if (argument->is(TYPE_INTEGER)) return integer::get(*argument);
  if (part) return series::part_count(series, argument);
  fire(ErrorId::script_invalid_arg, argument);
}

// Writes the values from an element position, then repeats them to fill
// count x repeat elements.
void write_values(const Cell* vector, uint32_t position, const std::vector<Cell>& values, uint64_t repeat) {
  uint32_t size = element_size_of(vector);
  uint8_t* at = buffer_of(vector)->head_ptr() + uint64_t{position} * size;
  for (size_t i = 0; i < values.size(); ++i) set_value(at + i * size, values[i], size);
  if (repeat > 1) fill_pattern(at, static_cast<uint32_t>(values.size() * size), static_cast<uint32_t>(repeat));
}

uint64_t checked_total(const Cell* vector, size_t count, int64_t repeat) {
  uint64_t total = uint64_t{count} * static_cast<uint64_t>(repeat);
  if (total > kMaxBytes || total * element_size_of(vector) + buffer_of(vector)->used() > kMaxBytes)
    fire(ErrorId::internal_no_memory);
  return total;
}

// --- Arithmetic on elements ---------------------------------------------------------------

// Integer elements wrap around where integer! would move to float!.
int32_t integer_operation(int32_t a, int32_t b, int32_t op) {
  uint32_t x = static_cast<uint32_t>(a), y = static_cast<uint32_t>(b);
  switch (op) {
    case kOpAdd: return static_cast<int32_t>(x + y);
    case kOpSubtract: return static_cast<int32_t>(x - y);
    case kOpMultiply: return static_cast<int32_t>(x * y);
    default: return integer::do_math_op(a, b, op, nullptr);
  }
}

// Raises the error a division or remainder of a by b would raise.
void check_division(int32_t a, int32_t b, int32_t op) {
  if (op != kOpDivide && op != kOpRemainder) return;
  if (b == 0) fire(ErrorId::math_zero_divide);
  if (a == checked_math::kMinInteger && b == -1) checked_math::overflow();
}

void store_integer(uint8_t* address, int32_t value, uint32_t size) {
  uint32_t bits = static_cast<uint32_t>(value);
  for (uint32_t i = 0; i < size; ++i) address[i] = static_cast<uint8_t>(bits >> (8 * i));
}

void store_float(uint8_t* address, double value, uint32_t size) {
  if (size == 4) {
    float single = static_cast<float>(value);
    std::memcpy(address, &single, 4);
  } else {
    std::memcpy(address, &value, 8);
  }
}

Cell vector_with_vector(int32_t op, const Cell& first, const Cell& second) {
  TypeId type = element_type_of(&first);
  if (element_type_of(&second) != type) fire(ErrorId::script_not_same_type);
  bool floats = float_kind(type);
  if (floats && op >= kOpOr) cannot_use_on_floats();
  uint32_t size1 = element_size_of(&first), size2 = element_size_of(&second);
  uint32_t size = std::max(size1, size2);
  uint32_t length = std::min(rs_length(&first), rs_length(&second));
  if (!floats) {
    const uint8_t* a = rs_head(&first);
    const uint8_t* b = rs_head(&second);
    for (uint32_t i = 0; i < length; ++i)
      check_division(element_as_integer(a + i * size1, size1), element_as_integer(b + i * size2, size2), op);
  }
  Cell result;
  make_at(&result, length, type, size);
  uint8_t* out = buffer_of(&result)->head_ptr();
  const uint8_t* a = rs_head(&first);
  const uint8_t* b = rs_head(&second);
  for (uint32_t i = 0; i < length; ++i) {
    if (floats) {
      double x = element_as_float(a + i * size1, size1), y = element_as_float(b + i * size2, size2);
      store_float(out + i * size, float_type::modulo(x, y, op), size);
    } else {
      int32_t x = element_as_integer(a + i * size1, size1), y = element_as_integer(b + i * size2, size2);
      store_integer(out + i * size, integer_operation(x, y, op), size);
    }
  }
  SeriesBuffer* buffer = buffer_of(&result);
  buffer->tail = buffer->offset + length * size;
  return result;
}

// --- Text -----------------------------------------------------------------------------------

// The elements from the index, separated by spaces, stopping once the part
// limit is reached. Characters are written as mold writes them inside a
// char! literal, with #" and " around them when molding.
int32_t write_elements(const Cell* vector, Cell* buffer, bool mold, bool all, int32_t part) {
  TypeId type = element_type_of(vector);
  uint32_t size = element_size_of(vector);
  uint32_t length = rs_length(vector);
  Cell source = *vector;
  for (uint32_t i = 0; i < length && part > 0; ++i) {
    if (i > 0) {
      string::concatenate_literal_part(buffer, " ", 1);
      part -= 1;
    }
    const uint8_t* at = buffer_of(&source)->head_ptr() + uint64_t{source.data1 + i} * size;
    std::string text;
    switch (type) {
      case TYPE_CHAR: {
        uint32_t code_point = static_cast<uint32_t>(element_value(at, size, type).data2);
        uint32_t before = string::rs_length_from_head(buffer);
        if (mold) string::concatenate_literal_part(buffer, "#\"", 2);
        string::mold_char(buffer, code_point, all);
        if (mold) string::concatenate_literal_part(buffer, "\"", 1);
        part -= static_cast<int32_t>(string::rs_length_from_head(buffer) - before);
        continue;
      }
      case TYPE_INTEGER: text = integer::form_signed(element_as_integer(at, size)).view(); break;
      case TYPE_FLOAT:
        text = float_type::form_float(element_as_float(at, size),
                                      size == 8 ? float_type::kFormFloat : float_type::kFormFloat32)
                   .view();
        break;
      default:
        text = float_type::form_float(element_as_float(at, size) * 100.0,
                                      size == 8 ? float_type::kFormPercent : float_type::kFormPercent32)
                   .view();
    }
    string::concatenate_literal_part(buffer, text.data(), static_cast<uint32_t>(text.size()));
    part -= static_cast<int32_t>(text.size());
  }
  return part;
}

int32_t append_literal(Cell* buffer, const std::string& text, int32_t part) {
  string::concatenate_literal_part(buffer, text.data(), static_cast<uint32_t>(text.size()));
  return part - static_cast<int32_t>(text.size());
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool, Cell*, int32_t part, int32_t) {
  TypeId type = element_type_of(value);
  uint32_t size = element_size_of(value);
  if (!only) part = append_literal(buffer, "make vector! [", part);
  if (length_from_head(value) > 0 && size == default_size(type)) {
    part = write_elements(value, buffer, true, all, part);
    if (!only) part = append_literal(buffer, "]", part);
    return part;
  }
  part = append_literal(buffer, std::string(type_name(type)) + " " + std::to_string(size * 8) + " [", part);
  part = write_elements(value, buffer, true, all, part);
  return append_literal(buffer, only ? "]" : "]]", part);
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) { return write_elements(value, buffer, false, false, part); }

// --- make ---------------------------------------------------------------------------------

// The element type a word (or datatype!) of a spec names, 0 for none.
TypeId named_type(const Cell& value) {
  if (value.is(TYPE_DATATYPE)) return valid_element_type(value.data1) ? value.data1 : 0;
  if (!value.is(TYPE_WORD)) return 0;
  std::string_view name = symbol::name(word::symbol_of(value));
  for (TypeId type : {TYPE_CHAR, TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT}) {
    std::string_view wanted = type_name(type);
    if (name.size() == wanted.size() &&
        std::equal(name.begin(), name.end(), wanted.begin(), [](char a, char b) {
          return (a >= 'A' && a <= 'Z' ? a + 32 : a) == b;
        }))
      return type;
  }
  return 0;
}

Cell make_filled(TypeId type, uint32_t size, uint64_t count, const std::vector<Cell>& values) {
  uint64_t total = std::max<uint64_t>(count, values.size());
  if (total * size > kMaxBytes) fire(ErrorId::internal_no_memory);
  for (const Cell& v : values)
    if (v.type() != type) invalid_arg(v);
  Cell result;
  make_at(&result, static_cast<uint32_t>(total), type, size);
  SeriesBuffer* buffer = buffer_of(&result);
  std::memset(buffer->head_ptr(), 0, static_cast<size_t>(total * size));
  buffer->tail = buffer->offset + static_cast<uint32_t>(total * size);
  write_values(&result, 0, values, 1);
  return result;
}

// The cells of a block from its index.
std::vector<Cell> block_values(const Cell& block) {
  std::vector<Cell> values;
  int32_t length = std::max(block::rs_length(&block), 0);
  for (int32_t i = 0; i < length; ++i) values.push_back(*block::rs_abs_at(&block, block.data1 + static_cast<uint32_t>(i)));
  return values;
}

Cell make_from_block(const Cell& spec) {
  std::vector<Cell> items = block_values(spec);
  if (items.empty()) return make_filled(TYPE_INTEGER, 4, 0, {});
  const Cell& first = items[0];
  if (valid_element_type(first.type())) return make_filled(first.type(), default_size(first.type()), 0, items);
  if (!first.is(TYPE_WORD) && !first.is(TYPE_DATATYPE)) {
    Cell datatype = datatype::make(first.type());
    fire(ErrorId::script_invalid_type, &datatype);
  }
  if (items.size() < 2) bad_make_arg(spec);
  TypeId type = named_type(first);
  if (type == 0) bad_make_arg(spec);
  size_t at = 1;
  uint32_t size;
  if (items[at].is(TYPE_INTEGER)) {
    int32_t bits = integer::get(items[at++]);
    if (type == TYPE_PERCENT) {
      size = 8;
    } else {
      bool valid = float_kind(type) ? bits == 32 || bits == 64 : bits == 8 || bits == 16 || bits == 32;
      if (!valid) bad_make_arg(spec);
      size = static_cast<uint32_t>(bits / 8);
    }
  } else if (type == TYPE_PERCENT) {
    size = 8;
  } else {
    invalid_spec_field(spec);
  }
  int64_t count = 0;
  std::vector<Cell> values;
  if (at < items.size() && items[at].is(TYPE_INTEGER)) {
    count = integer::get(items[at++]);
    if (count < 0) invalid_spec_field(spec);
  }
  if (at < items.size()) {
    if (!items[at].is(TYPE_BLOCK)) invalid_spec_field(spec);
    values = block_values(items[at++]);
  }
  if (at < items.size()) invalid_spec_field(spec);
  return make_filled(type, size, static_cast<uint64_t>(count), values);
}

Cell* make(Cell*, Cell* spec, TypeId) {
  switch (spec->type()) {
    case TYPE_INTEGER:
    case TYPE_FLOAT: {
      int32_t count = number_to_integer(*spec);
      return stack::set_result(make_filled(TYPE_INTEGER, 4, count > 0 ? static_cast<uint64_t>(count) : 0, {}));
    }
    case TYPE_BLOCK: return stack::set_result(make_from_block(*spec));
    default: fire(ErrorId::internal_not_done);
  }
}

// --- Series actions -------------------------------------------------------------------------

Cell* add_values(Cell* series, Cell* value, int part, int dup, bool at_tail) {
  uint32_t length = length_from_head(series);
  if (series->data1 > length) series->data1 = length;
  int64_t limit = part >= 0 ? std::max<int64_t>(refinement_count(value, part, true), 0) : -1;
  int64_t repeat = dup >= 0 ? refinement_count(series, dup, false) : 1;
  std::vector<Cell> values = gather(series, *value, series::is_block_kind(value->type()) ? limit : -1);
  if (values.empty() || repeat <= 0) return stack::set_result(*series);
  uint64_t total = checked_total(series, values.size(), repeat);
  uint32_t position = at_tail ? length : series->data1;
  Cell shown = *value;
  series::Stretch stretch = series::announce(*series, at_tail ? runtime_words::append : runtime_words::insert, &shown,
                                             position, 0, static_cast<int64_t>(total));
  // The values are numbers copied out already; the place is the live tail,
  // or the index clamped to it.
  length = length_from_head(series);
  if (series->data1 > length) series->data1 = length;
  position = at_tail ? length : series->data1;
  stretch.start = position;
  series::open_gap(series, position, total);
  write_values(series, position, values, static_cast<uint64_t>(repeat));
  if (!at_tail) series->data1 += static_cast<uint32_t>(total);
  series::announce_done(*series, at_tail ? runtime_words::appended : runtime_words::inserted, &shown, stretch);
  return stack::set_result(*series);
}

Cell* append(Cell* series, Cell* value, int part, int, int dup) { return add_values(series, value, part, dup, true); }
Cell* insert(Cell* series, Cell* value, int part, int, int dup) { return add_values(series, value, part, dup, false); }

Cell* change(Cell* series, Cell* value, int part, int, int dup) {
  uint32_t length = length_from_head(series);
  if (series->data1 > length) series->data1 = length;
  uint32_t index = series->data1;
  int64_t repeat = dup >= 0 ? refinement_count(series, dup, false) : 1;
  std::vector<Cell> values = gather(series, *value, -1);
  if (repeat < 0) repeat = 0;
  uint64_t replacing = checked_total(series, values.size(), repeat);
  uint64_t after = length - index;
  int64_t wanted = part >= 0 ? std::max<int64_t>(refinement_count(series, part, true), 0) : 0;
  uint64_t span = part >= 0 ? static_cast<uint64_t>(wanted) : replacing;
  span = std::min(span, after);
  Cell shown = *value;
  series::Stretch stretch =
      series::announce(*series, runtime_words::change, &shown, index, part >= 0 ? wanted : static_cast<int64_t>(span));
  // What the owner left of the stretch is replaced.
  index = stretch.start;
  span = part >= 0 ? stretch.count : std::min<uint64_t>(replacing, length_from_head(series) - index);
  series->data1 = index;
  if (replacing > span) series::open_gap(series, index + static_cast<uint32_t>(span), replacing - span);
  if (replacing < span) series::remove_units(series, index + static_cast<uint32_t>(replacing), span - replacing);
  if (!values.empty() && repeat > 0) write_values(series, index, values, static_cast<uint64_t>(repeat));
  series->data1 = std::min<uint32_t>(index + static_cast<uint32_t>(replacing), length_from_head(series));
  stretch.part = static_cast<int32_t>(replacing);
  series::announce_done(*series, runtime_words::changed, &shown, stretch);
  return stack::set_result(*series);
}

// --- Comparison -------------------------------------------------------------------------------

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
  if (!value2->is(TYPE_VECTOR)) return kNotComparable;
  TypeId type = element_type_of(value1);
  if (element_type_of(value2) != type) fire(ErrorId::script_not_same_type);
  bool equality = op == kCmpEqual || op == kCmpNotEqual || op == kCmpStrictEqual || op == kCmpFind;
  if (value1->data2 == value2->data2 && value1->data1 == value2->data1 && (equality || op == kCmpSame)) return 0;
  if (op == kCmpSame) return -1;
  uint32_t length1 = rs_length(value1), length2 = rs_length(value2);
  if (length1 == 0 && length2 == 0) return 0;
  if (length1 != length2 && equality) return 1;
  uint32_t size1 = element_size_of(value1), size2 = element_size_of(value2);
  const uint8_t* a = rs_head(value1);
  const uint8_t* b = rs_head(value2);
  for (uint32_t i = 0, n = std::min(length1, length2); i < n; ++i) {
    if (float_kind(type)) {
      double x = element_as_float(a + i * size1, size1), y = element_as_float(b + i * size2, size2);
      if (x < y) return -1;
      if (x > y) return 1;
    } else {
      int64_t x = element_value(a + i * size1, size1, type).int_at2();
      int64_t y = element_value(b + i * size2, size2, type).int_at2();
      if (type == TYPE_CHAR) {
        x = static_cast<uint32_t>(x);
        y = static_cast<uint32_t>(y);
      }
      if (x != y) return x < y ? -1 : 1;
    }
  }
  return length1 < length2 ? -1 : length1 > length2 ? 1 : 0;
}

// --- Arithmetic actions ------------------------------------------------------------------

Cell* add() { return do_math(kOpAdd); }
Cell* subtract() { return do_math(kOpSubtract); }
Cell* multiply() { return do_math(kOpMultiply); }
Cell* divide() { return do_math(kOpDivide); }
Cell* remainder() { return do_math(kOpRemainder); }
Cell* and_t() { return do_math(kOpAnd); }
Cell* or_t() { return do_math(kOpOr); }
Cell* xor_t() { return do_math(kOpXor); }

}  // namespace

// --- Public routines --------------------------------------------------------------------------

uint32_t default_size(TypeId element_type) { return float_kind(element_type) ? 8 : 4; }

Cell* make_at(Cell* cell, uint32_t count, TypeId element_type, uint32_t element_size) {
  uint64_t bytes = uint64_t{count} * element_size;
  if (bytes > kMaxBytes) fire(ErrorId::internal_no_memory);
  NodeId node = memory::alloc_series(count == 0 ? 1 : count, element_size, 0);
  SeriesBuffer* buffer = memory::buffer_of(node);
  buffer->tail = buffer->offset;
  *cell = make_value(node, 0, element_type);
  return cell;
}

Cell* push(const Cell& vector) { return stack::push(vector); }

int32_t element_as_integer(const uint8_t* address, uint32_t size) {
  switch (size) {
    case 1: return static_cast<int8_t>(address[0]);
    case 2: return static_cast<int16_t>(static_cast<uint16_t>(address[0] | address[1] << 8));
    default: {
      uint32_t bits = static_cast<uint32_t>(address[0]) | static_cast<uint32_t>(address[1]) << 8 |
                      static_cast<uint32_t>(address[2]) << 16 | static_cast<uint32_t>(address[3]) << 24;
      return static_cast<int32_t>(bits);
    }
  }
}

double element_as_float(const uint8_t* address, uint32_t size) {
  if (size == 4) {
    float single;
    std::memcpy(&single, address, 4);
    return single;
  }
  double value;
  std::memcpy(&value, address, 8);
  return value;
}

Cell element_value(const uint8_t* address, uint32_t size, TypeId element_type) {
  switch (element_type) {
    case TYPE_CHAR: {
      uint32_t code_point = size == 1 ? address[0] : size == 2 ? static_cast<uint32_t>(address[0] | address[1] << 8)
                                                               : static_cast<uint32_t>(element_as_integer(address, 4));
      return make_cell(TYPE_CHAR, 0, code_point);
    }
    case TYPE_FLOAT:
    case TYPE_PERCENT: return float_type::make(element_as_float(address, size), element_type);
    default: return integer::make(element_as_integer(address, size));
  }
}

Cell* get_value(const uint8_t* address, uint32_t size, TypeId element_type) {
  return stack::push(element_value(address, size, element_type));
}

void set_value(uint8_t* address, const Cell& value, uint32_t size) {
  if (value.is(TYPE_FLOAT) || value.is(TYPE_PERCENT)) store_float(address, value.as_double(), size);
  else store_integer(address, static_cast<int32_t>(value.data2), size);
}

uint32_t rs_length(const Cell* vector) {
  uint32_t length = length_from_head(vector);
  return vector->data1 < length ? length - vector->data1 : 0;
}

uint8_t* rs_head(const Cell* vector) {
  uint32_t position = std::min(vector->data1, length_from_head(vector));
  return buffer_of(vector)->head_ptr() + uint64_t{position} * element_size_of(vector);
}

uint8_t* rs_tail(const Cell* vector) { return buffer_of(vector)->tail_ptr(); }

bool tail_q(const Cell* vector) { return vector->data1 >= length_from_head(vector); }

void skip(Cell* vector, int32_t count) {
  int64_t position = int64_t{vector->data1} + count;
  vector->data1 = static_cast<uint32_t>(std::clamp<int64_t>(position, 0, length_from_head(vector)));
}

void clear(Cell* vector) {
  SeriesBuffer* buffer = buffer_of(vector);
  uint32_t position = std::min(vector->data1, length_from_head(vector));
  buffer->tail = buffer->offset + position * buffer->unit();
}

void append_int(const Cell* vector, int32_t value) { vector::append_value(vector, integer::make(value)); }

void append_value(const Cell* vector, const Cell& value) {
  poke_value(vector, length_from_head(vector), value);
}

void poke_value(const Cell* vector, uint32_t position, const Cell& value) {
  if (value.type() != element_type_of(vector)) invalid_arg(value);
  uint32_t length = length_from_head(vector);
  if (position >= length) {
    position = length;
    series::open_gap(vector, position, 1);
  }
  set_value(buffer_of(vector)->head_ptr() + uint64_t{position} * element_size_of(vector), value,
            element_size_of(vector));
}

void insert_value(const Cell* vector, uint32_t position, const Cell& value) {
  if (value.type() != element_type_of(vector)) invalid_arg(value);
  position = std::min(position, length_from_head(vector));
  series::open_gap(vector, position, 1);
  set_value(buffer_of(vector)->head_ptr() + uint64_t{position} * element_size_of(vector), value,
            element_size_of(vector));
}

void append_block(const Cell* vector, const Cell* block) {
  std::vector<Cell> values = gather(vector, *block, -1);
  if (values.empty()) return;
  uint32_t position = length_from_head(vector);
  series::open_gap(vector, position, checked_total(vector, values.size(), 1));
  write_values(vector, position, values, 1);
}

void to_block(const Cell* vector, Cell* target) {
  Cell source = *vector;
  uint32_t length = rs_length(&source);
  block::make_at(target, static_cast<int32_t>(std::max<uint32_t>(length, 1)));
  uint32_t size = element_size_of(&source);
  for (uint32_t i = 0; i < length; ++i)
    block::rs_append(target, element_value(buffer_of(&source)->head_ptr() + uint64_t{source.data1 + i} * size, size,
                                           element_type_of(&source)));
}

Cell* do_math_scalar(int32_t op, Cell* vector, const Cell* number, bool number_first) {
  TypeId type = element_type_of(vector);
  bool floats = float_kind(type);
  if (floats && op >= kOpOr) cannot_use_on_floats();
  int32_t integer_operand = 0;
  double float_operand = 0.0;
  switch (number->type()) {
    case TYPE_INTEGER:
    case TYPE_CHAR:
      integer_operand = integer::get(*number);
      float_operand = integer_operand;
      break;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
      float_operand = number->as_double();
      // Truncated for integer elements; beyond the 32-bit range there is no
      // integer to truncate to.
      if (!floats) integer_operand = checked_math::truncate_to_integer(float_operand, *number);
      break;
    default: fire(ErrorId::internal_not_done);
  }
  if (!number_first) {
    bool identity = floats ? ((op == kOpAdd || op == kOpSubtract) && float_operand == 0.0) ||
                                 ((op == kOpMultiply || op == kOpDivide) && float_operand == 1.0)
                           : ((op == kOpAdd || op == kOpSubtract) && integer_operand == 0) ||
                                 ((op == kOpMultiply || op == kOpDivide) && integer_operand == 1);
    if (identity) return vector;
  }
  uint32_t size = element_size_of(vector);
  uint32_t length = rs_length(vector);
  uint8_t* at = rs_head(vector);
  if (!floats) {
    for (uint32_t i = 0; i < length; ++i) {
      int32_t element = element_as_integer(at + i * size, size);
      if (number_first) check_division(integer_operand, element, op);
      else check_division(element, integer_operand, op);
    }
  }
  for (uint32_t i = 0; i < length; ++i) {
    uint8_t* element = at + i * size;
    if (floats) {
      double x = element_as_float(element, size);
      store_float(element, number_first ? float_type::modulo(float_operand, x, op) : float_type::modulo(x, float_operand, op),
                  size);
    } else {
      int32_t x = element_as_integer(element, size);
      store_integer(element, number_first ? integer_operation(integer_operand, x, op) : integer_operation(x, integer_operand, op),
                    size);
    }
  }
  return vector;
}

Cell* do_math(int32_t op) {
  Cell* left = stack::arguments();
  Cell* right = left + 1;
  if (left->is(TYPE_VECTOR) && right->is(TYPE_VECTOR)) {
    Cell result = vector_with_vector(op, *left, *right);
    *left = result;
    return left;
  }
  if (left->is(TYPE_VECTOR)) return do_math_scalar(op, left, right, false);
  Cell vector = *right;
  do_math_scalar(op, &vector, left, true);
  *left = vector;
  return left;
}

void init() {
  DatatypeRecord record(TYPE_VECTOR, TYPE_STRING, "vector!");
  record.handle<Action::make>(make)
      .handle<Action::form>(form)
      .handle<Action::mold>(mold)
      .handle<Action::compare>(compare)
      .handle<Action::add>(add)
      .handle<Action::divide>(divide)
      .handle<Action::multiply>(multiply)
      .handle<Action::remainder>(remainder)
      .handle<Action::subtract>(subtract)
      .handle<Action::and_t>(and_t)
      .handle<Action::or_t>(or_t)
      .handle<Action::xor_t>(xor_t)
      .handle<Action::append>(append)
      .handle<Action::insert>(insert)
      .handle<Action::change>(change);
  record.inherit({Action::random, Action::reflect, Action::eval_path, Action::at, Action::back, Action::clear,
                  Action::copy, Action::find, Action::head, Action::head_q, Action::index_q, Action::length_q,
                  Action::move, Action::next, Action::pick, Action::poke, Action::remove, Action::reverse,
                  Action::select, Action::sort, Action::skip, Action::tail, Action::tail_q, Action::take,
                  Action::modify});
  register_datatype(record);
}

}  // namespace kel::vector
