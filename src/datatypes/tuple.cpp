// tuple!: construction, byte arithmetic with clamping, byte access and text
// (see tuple.h for the cell layout).
#include "datatypes/tuple.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

#include "datatypes/binary.h"
#include "datatypes/binary_codecs.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/checked_math.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"

namespace kel::tuple {

namespace {

[[noreturn]] void bad_to_arg(const Cell* spec) {
  Cell type = datatype::make(TYPE_TUPLE);
  fire_bad_to_arg(&type, spec);
}

[[noreturn]] void invalid_type(const Cell& value) {
  Cell type = datatype::make(value.type());
  fire(ErrorId::script_invalid_type, &type);
}

uint8_t clamp_byte(int64_t value) { return static_cast<uint8_t>(std::clamp<int64_t>(value, 0, 255)); }

void set_size(Cell* cell, uint32_t size) {
  cell->header = (cell->header & flags::kNewLine) | TYPE_TUPLE | (size << kSizeShift);
}

}  // namespace

// --- Constructors ---------------------------------------------------------------------

Cell* set_bytes(Cell* cell, const uint8_t* bytes, uint32_t count) {
  count = std::min(count, kMaxSize);
  // The source may be the cell's own bytes: memmove, then clear the rest.
  uint8_t* target = bytes_of(cell);
  std::memmove(target, bytes, count);
  std::memset(target + count, 0, kMaxSize - count);
  set_size(cell, std::max(count, kMinSize));
  return cell;
}

Cell* push(uint32_t size, uint32_t word1, uint32_t word2, uint32_t word3) {
  Cell cell = make_cell(TYPE_TUPLE, word1, word2, word3);
  set_size(&cell, std::clamp(size, kMinSize, kMaxSize));
  return stack::push(cell);
}

Cell* set_rgba(Cell* cell, int32_t channel1, int32_t channel2, int32_t channel3, int32_t alpha) {
  uint8_t bytes[4] = {static_cast<uint8_t>(channel1), static_cast<uint8_t>(channel2), static_cast<uint8_t>(channel3),
                      static_cast<uint8_t>(alpha)};
  return set_bytes(cell, bytes, alpha == -1 ? 3 : 4);
}

Cell* from_values(uint32_t count, const int32_t* values) {
  uint8_t bytes[kMaxSize] = {};
  count = std::min(count, kMaxSize);
  for (uint32_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(values[i]);
  Cell cell = make_cell(TYPE_TUPLE);
  set_bytes(&cell, bytes, count);
  return stack::push(cell);
}

Cell* get_bytes(const Cell& binary, Cell* target) {
  uint32_t count = std::min(binary::rs_length(&binary), kMaxSize);
  return set_bytes(target, binary::rs_head(&binary), count);
}

Cell* from_issue(const Cell& issue, Cell* target) {
  std::string_view name = symbol::name(word::symbol_of(issue));
  size_t length = name.size();
  if (length != 3 && length != 6 && length != 8) fire(ErrorId::script_invalid_data, &issue);
  int32_t digits[8];
  for (size_t i = 0; i < length; ++i) {
    // Hexadecimal digits are ASCII only: a byte of a longer UTF-8 sequence
    // is never one.
    digits[i] = binary::hex_digit_value(static_cast<uint8_t>(name[i]));
    if (digits[i] < 0) fire(ErrorId::script_invalid_data, &issue);
  }
  uint8_t bytes[4];
  uint32_t count;
  if (length == 3) {
    for (size_t i = 0; i < 3; ++i) bytes[i] = static_cast<uint8_t>(digits[i] * 17);
    count = 3;
  } else {
    count = static_cast<uint32_t>(length / 2);
    for (uint32_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(digits[2 * i] << 4 | digits[2 * i + 1]);
  }
  return set_bytes(target, bytes, count);
}

bool zero_q(const Cell& tuple) {
  const uint8_t* bytes = bytes_of(tuple);
  for (uint32_t i = 0; i < size_of(tuple); ++i)
    if (bytes[i] != 0) return false;
  return true;
}

// --- Conversion ------------------------------------------------------------------------

namespace {

Cell from_block(const Cell* spec) {
  SeriesBuffer* buffer = block::buffer_of(spec);
  uint32_t count = buffer->cell_count() > spec->data1 ? buffer->cell_count() - spec->data1 : 0;
  if (count > kMaxSize) bad_to_arg(spec);
  const Cell* values = buffer->cells() + spec->data1;
  uint8_t bytes[kMaxSize] = {};
  for (uint32_t i = 0; i < count; ++i) {
    int64_t n;
    switch (values[i].type()) {
      case TYPE_INTEGER: n = integer::get(values[i]); break;
      case TYPE_CHAR: n = values[i].data2; break;
      case TYPE_FLOAT: {
        double f = values[i].as_double();
        if (!(f > -1.0 && f < 256.0)) bad_to_arg(spec);
        n = static_cast<int64_t>(f);
        break;
      }
      default: bad_to_arg(spec);
    }
    if (n < 0 || n > 255) bad_to_arg(spec);
    bytes[i] = static_cast<uint8_t>(n);
  }
  Cell cell = make_cell(TYPE_TUPLE);
  set_bytes(&cell, bytes, count);
  return cell;
}

}  // namespace

Cell* to(Cell*, Cell* spec, TypeId) {
  Cell result = make_cell(TYPE_TUPLE);
  switch (spec->type()) {
    case TYPE_TUPLE: return stack::set_result(*spec);
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: return stack::set_result(from_block(spec));
    case TYPE_BINARY: get_bytes(*spec, &result); break;
    case TYPE_ISSUE: from_issue(*spec, &result); break;
    default: {
      if (!string::is_string_like(spec->type())) bad_to_arg(spec);
      if (word::scan_text(string::to_std_string(*spec), &result) != TYPE_TUPLE || !result.is(TYPE_TUPLE))
        bad_to_arg(spec);
    }
  }
  return stack::set_result(result);
}

Cell* make(Cell* proto, Cell* spec, TypeId type) { return to(proto, spec, type); }

// --- Arithmetic ------------------------------------------------------------------------

Cell* do_math(int32_t op) {
  Cell* left = stack::arguments();
  Cell* right = left + 1;
  if (!left->is(TYPE_TUPLE)) {
    if (op == kOpSubtract || op == kOpDivide) {
      Cell call = error_value::call_word();
      Cell type = datatype::make(left->type());
      fire(ErrorId::script_not_related, &call, &type);
    }
    // The tuple becomes the left operand; its bytes stay the left operands
    // of the byte operations (remainder included).
    std::swap(left[0], left[1]);
  }
  uint32_t size = size_of(*left);
  uint8_t* bytes = bytes_of(left);
  switch (right->type()) {
    case TYPE_INTEGER:
    case TYPE_TUPLE: {
      bool is_tuple = right->is(TYPE_TUPLE);
      uint32_t right_size = is_tuple ? size_of(*right) : 0;
      uint32_t result_size = std::max(size, right_size);
      const uint8_t* other = is_tuple ? bytes_of(*right) : nullptr;
      int32_t scalar = is_tuple ? 0 : integer::get(*right);
      uint8_t result[kMaxSize] = {};
      for (uint32_t i = 0; i < result_size; ++i) {
        int32_t a = i < size ? bytes[i] : 0;
        int32_t b = is_tuple ? (i < right_size ? other[i] : 0) : scalar;
        Cell overflow = integer::make(0);
        int32_t value = integer::do_math_op(a, b, op, &overflow);
        // integer! answers a float for a sum out of its range (clamped here
        // by its sign) and for a division that is not exact (truncated).
        if (overflow.is(TYPE_FLOAT)) {
          double exact = overflow.as_double();
          result[i] = checked_math::truncates_to_integer(exact) ? clamp_byte(static_cast<int64_t>(exact))
                                                                : (exact <= 0.0 ? 0 : 255);
        } else {
          result[i] = clamp_byte(value);
        }
      }
      set_bytes(left, result, result_size);
      return left;
    }
    case TYPE_FLOAT:
    case TYPE_PERCENT: {
      double number = right->as_double();
      for (uint32_t i = 0; i < size; ++i) {
        double value = std::trunc(float_type::modulo(bytes[i], number, op));
        // Beyond the integer range a byte clamps by its sign, as in the
        // integer arithmetic above (an infinity included); NaN gives 0.
        bytes[i] = checked_math::truncates_to_integer(value) ? clamp_byte(static_cast<int64_t>(value))
                                                             : (value > 0.0 ? 255 : 0);
      }
      return left;
    }
    default: invalid_type(*right);
  }
}

Cell* add() { return do_math(kOpAdd); }
Cell* subtract() { return do_math(kOpSubtract); }
Cell* multiply() { return do_math(kOpMultiply); }
Cell* divide() { return do_math(kOpDivide); }
Cell* remainder() { return do_math(kOpRemainder); }
Cell* and_t() { return do_math(kOpAnd); }
Cell* or_t() { return do_math(kOpOr); }
Cell* xor_t() { return do_math(kOpXor); }

Cell* complement(Cell* value) {
  uint8_t* bytes = bytes_of(value);
  for (uint32_t i = 0; i < size_of(*value); ++i) bytes[i] = static_cast<uint8_t>(~bytes[i]);
  return value;
}

// --- Access -------------------------------------------------------------------------------

int32_t length_q(Cell* value) { return static_cast<int32_t>(size_of(*value)); }

Cell* pick(Cell* value, int32_t index, Cell* boxed) {
  if (index < 1 || static_cast<uint32_t>(index) > size_of(*value)) {
    Cell shown = boxed != nullptr ? *boxed : integer::make(index);
    fire(ErrorId::script_out_of_range, &shown);
  }
  return stack::set_result(integer::make(bytes_of(*value)[index - 1]));
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell*, Cell*, Cell*, int32_t, bool, bool, bool) {
  if (!element->is(TYPE_INTEGER)) invalid_type(*element);
  int32_t index = integer::get(*element);
  uint32_t size = size_of(*parent);
  if (value == nullptr) {
    if (index < 1 || static_cast<uint32_t>(index) > size) fire(ErrorId::script_out_of_range, element);
    return stack::push(integer::make(bytes_of(*parent)[index - 1]));
  }
  if (!value->is(TYPE_INTEGER) && !value->is(TYPE_NONE)) invalid_type(*value);
  if (index < 1 || static_cast<uint32_t>(index) > size) fire(ErrorId::script_out_of_range, element);
  uint8_t* bytes = bytes_of(parent);
  if (value->is(TYPE_INTEGER)) {
    bytes[index - 1] = clamp_byte(integer::get(*value));
  } else {
    // none cuts the tuple before the index, never below 3 bytes.
    std::fill(bytes + index - 1, bytes + kMaxSize, 0);
    set_size(parent, std::max(static_cast<uint32_t>(index - 1), kMinSize));
  }
  // The owner of the cell is told of the change once ownership exists.
  return stack::push(*value);
}

Cell* reverse(Cell* value, int part, int skip) {
  uint32_t size = size_of(*value);
  uint32_t count = size;
  if (part >= 0) {
    const Cell& length = stack::arguments()[part];
    if (!length.is(TYPE_INTEGER)) series::fire_bad_part(&length);
    if (integer::get(length) < 0) fire(ErrorId::script_out_of_range, &length);
    count = std::min(size, static_cast<uint32_t>(integer::get(length)));
  }
  uint32_t group = 1;
  if (skip >= 0) {
    const Cell& step = stack::arguments()[skip];
    if (!step.is(TYPE_INTEGER)) series::fire_bad_skip(&step);
    int32_t n = integer::get(step);
    if (n < 1) fire(ErrorId::script_out_of_range, &step);
    if (static_cast<uint32_t>(n) > count || count % static_cast<uint32_t>(n) != 0) series::fire_bad_skip(&step);
    group = static_cast<uint32_t>(n);
  }
  if (group == count || count == 0) return value;
  uint8_t* bytes = bytes_of(value);
  uint8_t reversed[kMaxSize];
  uint32_t groups = count / group;
  for (uint32_t g = 0; g < groups; ++g)
    std::memcpy(reversed + g * group, bytes + (groups - 1 - g) * group, group);
  std::memcpy(bytes, reversed, count);
  return value;
}

Cell* random(Cell* value, int seed, int secure, int) {
  if (seed >= 0) {
    kel::random::seed(static_cast<int32_t>(value->data1 ^ value->data2 ^ value->data3));
    return stack::set_result(make_cell(TYPE_UNSET));
  }
  uint8_t* bytes = bytes_of(value);
  for (uint32_t i = 0; i < size_of(*value); ++i)
    bytes[i] = static_cast<uint8_t>(kel::random::int_uniform(secure >= 0, bytes[i] + 1) - 1);
  return value;
}

// --- Comparison and text --------------------------------------------------------------

int32_t compare(Cell* value1, Cell* value2, int32_t) {
  if (!value2->is(TYPE_TUPLE)) return kNotComparable;
  uint32_t size1 = size_of(*value1), size2 = size_of(*value2);
  const uint8_t* a = bytes_of(*value1);
  const uint8_t* b = bytes_of(*value2);
  for (uint32_t i = 0; i < std::max(size1, size2); ++i) {
    uint8_t x = i < size1 ? a[i] : 0, y = i < size2 ? b[i] : 0;
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
  char text[kMaxSize * 4] = {};
  int32_t length = 0;
  const uint8_t* bytes = bytes_of(*value);
  for (uint32_t i = 0; i < size_of(*value); ++i) {
    if (i > 0) text[length++] = '.';
    uint8_t b = bytes[i];
    if (b >= 100) text[length++] = static_cast<char>('0' + b / 100);
    if (b >= 10) text[length++] = static_cast<char>('0' + b / 10 % 10);
    text[length++] = static_cast<char>('0' + b % 10);
  }
  string::concatenate_literal_part(buffer, text, static_cast<uint32_t>(length));
  return part - length;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* arg, int32_t part, int32_t) {
  return form(value, buffer, arg, part);
}

void init() {
  DatatypeRecord record(TYPE_TUPLE, 0, "tuple!");
  record.handle<Action::make>(make)
      .handle<Action::random>(random)
      .handle<Action::to>(to)
      .handle<Action::form>(form)
      .handle<Action::mold>(mold)
      .handle<Action::eval_path>(eval_path)
      .handle<Action::compare>(compare)
      .handle<Action::add>(add)
      .handle<Action::subtract>(subtract)
      .handle<Action::multiply>(multiply)
      .handle<Action::divide>(divide)
      .handle<Action::remainder>(remainder)
      .handle<Action::and_t>(and_t)
      .handle<Action::complement>(complement)
      .handle<Action::or_t>(or_t)
      .handle<Action::xor_t>(xor_t)
      .handle<Action::length_q>(length_q)
      .handle<Action::pick>(pick)
      .handle<Action::reverse>(reverse);
  register_datatype(record);
}

}  // namespace kel::tuple
