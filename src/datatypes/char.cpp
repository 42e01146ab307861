// char!: conversions, texts, comparison and code point arithmetic.
#include "datatypes/char.h"

#include <utility>

#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/checked_math.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "runtime/series_tail.h"
#include "runtime/unicode.h"

namespace kel::character {

Cell* push(uint32_t code_point) { return stack::push(make(code_point)); }

Cell* make_in(const Cell* block, uint32_t code_point) { return append_value(block, make(code_point)); }

int32_t decode_utf8_sequence(const uint8_t* bytes, uint32_t count) {
  // The decoding automaton of the unicode module, run only over the bytes
  // that exist: running out of bytes before it accepts is a cut sequence.
  uint32_t state = unicode::kUtf8Accept;
  uint32_t value = 0;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t byte = bytes[i];
    uint32_t byte_class = unicode::kUtf8Dfa[byte];
    value = i == 0 ? (0xFFu >> byte_class) & byte : (byte & 0x3Fu) | (value << 6);
    state = unicode::kUtf8Dfa[256 + state + byte_class];
    if (state == unicode::kUtf8Reject) return -1;
    if (state == unicode::kUtf8Accept) return static_cast<int32_t>(value);
  }
  return -1;
}

namespace {

Cell* box(uint32_t code_point) { return stack::set_result(make(code_point)); }

[[noreturn]] void bad_to_arg(const Cell* spec) {
  Cell type = datatype::make(TYPE_CHAR);
  fire_bad_to_arg(&type, spec);
}

Cell* checked_box(int64_t code_point, const Cell* spec) {
  if (code_point < 0 || code_point > kMaxCodePoint) fire(ErrorId::script_out_of_range, spec);
  return box(static_cast<uint32_t>(code_point));
}

Cell* make_char(Cell*, Cell* spec, TypeId) {
  switch (spec->type()) {
    case TYPE_CHAR:
    case TYPE_INTEGER: return checked_box(integer::get(*spec), spec);
    case TYPE_FLOAT:
    case TYPE_PERCENT: return checked_box(checked_math::truncate_to_integer(spec->as_double(), *spec), spec);
    case TYPE_BINARY: {
      SeriesBuffer* buffer = memory::buffer_of(spec->data2);
      uint32_t used = buffer->used();
      uint32_t index = spec->data1;
      int32_t code_point =
          index >= used ? -1 : decode_utf8_sequence(buffer->head_ptr() + index, used - index);
      if (code_point < 0) bad_to_arg(spec);
      return box(static_cast<uint32_t>(code_point));
    }
    default:
      if (!string::is_string_like(spec->type())) bad_to_arg(spec);
      if (string::rs_length(spec) == 0) bad_to_arg(spec);
      return box(string::rs_abs_at(spec, spec->data1));
  }
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
  string::append_char(string::buffer_of(buffer), get(*value));
  return part - 1;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell*, int32_t part, int32_t) {
  string::concatenate_literal(buffer, "#\"");
  string::mold_char(buffer, get(*value), all);
  string::concatenate_literal(buffer, "\"");
  return part - 4;
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
  if ((op == kCmpStrictEqual || op == kCmpFind || op == kCmpSame) && !value2->is(TYPE_CHAR)) return 1;
  if (!value2->is(TYPE_CHAR) && !value2->is(TYPE_INTEGER)) return kNotComparable;
  int32_t a = integer::get(*value1), b = integer::get(*value2);
  return (a > b) - (a < b);
}

Cell* do_math(int32_t op) {
  Cell* left = stack::arguments();
  Cell* right = left + 1;
  int32_t operand;
  switch (right->type()) {
    case TYPE_CHAR:
    case TYPE_INTEGER: operand = integer::get(*right); break;
    case TYPE_FLOAT: operand = checked_math::truncate_to_integer(right->as_double(), *right); break;
    case TYPE_VECTOR:
      // The code point takes part as an integer scalar of the vector's operation.
      integer::make_at(left, static_cast<int32_t>(get(*left)));
      std::swap(left[0], left[1]);
      return integer::dispatch_math(op, *left);
    default: {
      Cell type = datatype::make(right->type());
      fire(ErrorId::script_invalid_type, &type);
    }
  }
  // No result cell: a result beyond 32 bits raises overflow, and divide
  // stays an integer division.
  int32_t result = integer::do_math_op(static_cast<int32_t>(get(*left)), operand, op, nullptr);
  if (result < 0 || static_cast<uint32_t>(result) > kMaxCodePoint) checked_math::overflow();
  left->data2 = static_cast<uint32_t>(result);
  return left;
}

Cell* add() { return do_math(kOpAdd); }
Cell* subtract() { return do_math(kOpSubtract); }
Cell* multiply() { return do_math(kOpMultiply); }
Cell* divide() { return do_math(kOpDivide); }
Cell* remainder() { return do_math(kOpRemainder); }
Cell* or_t() { return do_math(kOpOr); }
Cell* and_t() { return do_math(kOpAnd); }
Cell* xor_t() { return do_math(kOpXor); }

}  // namespace

void init() {
  DatatypeRecord record(TYPE_CHAR, TYPE_INTEGER, "char!");
  record.handle<Action::make>(make_char)
      .handle<Action::to>(make_char)
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
      .inherit(Action::random)
      .inherit(Action::absolute)
      .inherit(Action::even_q)
      .inherit(Action::odd_q);
  register_datatype(record);
}

}  // namespace kel::character
