// bitset!: bit access, the description walker, construction, the set operations,
// text, comparison and the actions (see bitset.h for the cell and the
// membership invariant).
//
// Routines that grow a bitset re-read its buffer through the node
// afterwards; the walker reads spec values by index on every step, so no
// raw address survives an allocation or a change notification (which runs
// user code).
#include "datatypes/bitset.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "datatypes/ownership.h"
#include "datatypes/runtime_words.h"
#include "datatypes/argument_checks.h"

namespace kel::bitset {

namespace {

constexpr uint32_t kComplement = series_flags::kBitsetComplement;

uint8_t fill_of(bool complement) { return complement ? 0xFF : 0x00; }
uint8_t mask_of(int64_t n) { return static_cast<uint8_t>(0x80 >> (n & 7)); }
uint32_t stored_bytes(const Cell* bitset) { return buffer_of(bitset)->used(); }

// A new bitset of count stored bytes, each the fill, pushed on the stack.
Cell* push_new(uint32_t count, uint8_t fill, bool complement) {
  NodeId node = memory::alloc_bytes_filled(count, fill);
  if (complement) memory::buffer_of(node)->flags |= kComplement;
  return stack::push(make_value(node));
}

// A copy of the bitset's stored bytes and flag (never its owner), pushed.
Cell* push_copy(const Cell* bitset) {
  uint32_t count = stored_bytes(bitset);
  bool complement = complemented(bitset);
  Cell* copy = push_new(count, 0, complement);
  if (count > 0) std::memcpy(buffer_of(copy)->head_ptr(), rs_head(bitset), count);
  return copy;
}

[[noreturn]] void bad_spec(const Cell& value, ErrorMode mode) {
  Cell datatype = datatype::make(TYPE_BITSET);
  switch (mode) {
    case kFromMake: fire(ErrorId::script_bad_make_arg, &datatype, &value);
    case kFromTo: fire_bad_to_arg(&datatype, &value);
    default: fire(ErrorId::script_invalid_arg, &value);
  }
}

bool is_word_named(const Cell& value, const char* name) {
  return value.is(TYPE_WORD) && symbol::name(symbol::resolve(word::symbol_of(value))) == name;
}

// The bit index a char!, integer! or float! names (a float truncated; one
// outside the 32-bit range raises out-of-range).
int64_t index_of_value(const Cell& value) {
  if (value.is(TYPE_CHAR)) return value.data2;
  return number_to_integer(value);
}

// One bit: set, clear or test. A virtual bit already has the membership
// that set (on a complemented bitset) or clear (on a plain one) would give
// it, so those do nothing.
int64_t bit_operation(Cell* bitset, int64_t n, Operation operation) {
  switch (operation) {
    case kSet:
      if (beyond_q(bitset, n) && complemented(bitset)) return 1;
      expand(bitset, n)[n >> 3] |= mask_of(n);
      return 1;
    case kClear:
      if (beyond_q(bitset, n) && !complemented(bitset)) return 0;
      expand(bitset, n)[n >> 3] &= static_cast<uint8_t>(~mask_of(n));
      return 0;
    default: return test_bit(bitset, n) ? 1 : 0;
  }
}

// The bits lower..upper: set, clear or test (1 when every one is a
// member). Bits past the stored bytes are looked at once, as a group.
int64_t range_operation(Cell* bitset, int64_t lower, int64_t upper, Operation operation) {
  if (operation == kTest) {
    for (int64_t n = lower; n <= upper; ++n) {
      // From the first virtual bit on, every bit of the range reads as the flag.
      if (n >= 0 && beyond_q(bitset, n)) return complemented(bitset) ? 1 : 0;
      if (!test_bit(bitset, n)) return 0;
    }
    return 1;
  }
  bool already = operation == kSet ? complemented(bitset) : !complemented(bitset);
  if (already) {
    // Only the stored bits can change.
    upper = std::min<int64_t>(upper, int64_t{stored_bytes(bitset)} * 8 - 1);
  } else if (lower <= upper) {
    expand(bitset, upper);
  }
  for (int64_t n = lower; n <= upper; ++n) bit_operation(bitset, n, operation);
  return operation == kSet ? 1 : 0;
}

int64_t process_value(const Cell* spec, Cell* bitset, Operation operation, ErrorMode mode);

int64_t process_text(const Cell* spec, Cell* bitset, Operation operation) {
  Cell text = *spec;
  uint32_t length = string::rs_length(&text);
  int64_t highest = 0;
  for (uint32_t i = 0; i < length; ++i) {
    int64_t n = string::rs_abs_at(&text, text.data1 + i);
    if (operation == kHighest) {
      highest = std::max(highest, n);
    } else if (operation == kTest) {
      if (!test_bit(bitset, n)) return 0;
    } else {
      bit_operation(bitset, n, operation);
    }
  }
  if (operation == kHighest) return highest;
  if (operation == kTest) return length > 0 ? 1 : 0;
  return operation == kSet ? 1 : 0;
}

int64_t process_block(const Cell* spec, Cell* bitset, Operation operation, ErrorMode mode) {
  Cell block = *spec;
  int32_t length = block::rs_length(&block);
  int64_t result = 0;
  bool any = false;
  for (int32_t i = 0; i < length; ++i) {
    Cell value = *block::rs_abs_at(&block, block.data1 + static_cast<uint32_t>(i));
    int64_t answer;
    bool range = (value.is(TYPE_CHAR) || value.is(TYPE_INTEGER)) && i + 1 < length &&
                 is_word_named(*block::rs_abs_at(&block, block.data1 + static_cast<uint32_t>(i) + 1), "-");
    if (range) {
      if (i + 2 >= length) fire(ErrorId::script_past_end);
      Cell upper_value = *block::rs_abs_at(&block, block.data1 + static_cast<uint32_t>(i) + 2);
      if (upper_value.type() != value.type()) fire(ErrorId::script_invalid_arg, &upper_value);
      int64_t lower = index_of_value(value);
      int64_t upper = index_of_value(upper_value);
      if ((lower < 0 || upper < 0) && operation != kTest) fire(ErrorId::script_out_of_range, lower < 0 ? &value : &upper_value);
      if (upper < lower) fire(ErrorId::script_past_end);
      answer = operation == kHighest ? upper : range_operation(bitset, lower, upper, operation);
      i += 2;
    } else {
      answer = process_value(&value, bitset, operation, mode);
    }
    any = true;
    if (operation == kHighest) {
      result = std::max(result, answer);
    } else if (operation == kTest && answer == 0) {
      return 0;
    } else {
      result = answer;
    }
  }
  if (operation == kTest) return any ? 1 : 0;
  return result;
}

int64_t process_value(const Cell* spec, Cell* bitset, Operation operation, ErrorMode mode) {
  switch (spec->type()) {
    case TYPE_CHAR:
    case TYPE_INTEGER:
    case TYPE_FLOAT: {
      int64_t n = index_of_value(*spec);
      if (n < 0 && operation != kTest) fire(ErrorId::script_out_of_range, spec);
      if (operation == kHighest) return n;
      return bit_operation(bitset, n, operation);
    }
    case TYPE_BLOCK: return process_block(spec, bitset, operation, mode);
    case TYPE_BINARY: fire(ErrorId::internal_not_done);
    default:
      if (string::is_string_like(spec->type())) return process_text(spec, bitset, operation);
      bad_spec(*spec, mode);
  }
}

// --- Set operations -------------------------------------------------------------------------

bool combine_flags(bool a, bool b, int32_t op) {
  switch (op) {
    case kOpOr:
    case 9: return a || b;
    case kOpAnd:
    case 10: return a && b;
    case 11: return a && !b;
    default: return a != b;  // xor~ and difference
  }
}

uint8_t combine_bytes(uint8_t a, uint8_t b, int32_t op) {
  switch (op) {
    case kOpOr:
    case 9: return a | b;
    case kOpAnd:
    case 10: return a & b;
    case 11: return static_cast<uint8_t>(a & ~b);
    default: return a ^ b;
  }
}

// --- Ownership ------------------------------------------------------------------------------

// A bitset's changes are told with index 0 and part 0; every change reads
// the bytes afresh after the owner has heard of it.
series::Stretch announce(const Cell* bitset, uint32_t action, const Cell* value) {
  return series::announce(*bitset, action, value, 0, 0);
}


// --- Text -----------------------------------------------------------------------------------

int32_t write_text(const Cell* value, Cell* buffer, Cell* arg, int32_t part) {
  bool complement = complemented(value);
  std::string text = complement ? "make bitset! [not #{" : "make bitset! #{";
  part -= static_cast<int32_t>(text.size());
  uint32_t count = stored_bytes(value);
  const uint8_t* bytes = rs_head(value);
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t byte = complement ? static_cast<uint8_t>(~bytes[i]) : bytes[i];
    std::array<char, 2> digits = string::byte_to_hex(byte);
    text.append(digits.data(), 2);
    part -= 2;
    if (arg != nullptr && part < 0) break;
  }
  if (arg == nullptr || part >= 1) {
    text += '}';
    part -= 1;
    if (complement) {
      text += ']';
      part -= 1;
    }
  }
  string::concatenate_literal_part(buffer, text.data(), static_cast<uint32_t>(text.size()));
  return part;
}

// --- Actions -----------------------------------------------------------------------------

Cell* make(Cell*, Cell* spec, TypeId) { return stack::set_result(*make_from(spec, kFromMake)); }
Cell* to(Cell*, Cell* spec, TypeId) { return stack::set_result(*make_from(spec, kFromTo)); }

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part) { return write_text(value, buffer, arg, part); }

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* arg, int32_t part, int32_t) {
  return write_text(value, buffer, arg, part);
}

Cell* reflect(Cell* value, int field) {
  if (field <= 0 || symbol::resolve(static_cast<uint32_t>(field)) != symbol::resolve(runtime_words::owned))
    fire(ErrorId::internal_not_done);
  const Cell* owner = ownership::get_owner(value->data2);
  return stack::set_result(owner != nullptr ? *owner : none::value);
}

Cell* modify(Cell* target, Cell* field, Cell* value, int) {
  bool owned_field = word::is_any_word(field->type()) &&
                     symbol::resolve(word::symbol_of(*field)) == symbol::resolve(runtime_words::owned);
  if (!owned_field) return value;
  if (value->is(TYPE_NONE)) {
    ownership::unbind(*target);
  } else if (value->is(TYPE_BLOCK) && block::rs_length(value) >= 2) {
    Cell owner = *block::rs_abs_at(value, value->data1);
    Cell word = *block::rs_abs_at(value, value->data1 + 1);
    ownership::set_owner_flagged(*target, owner, word);
  }
  return value;
}

// The index spec of pick, poke and path access: the boxed argument when
// there is one, else the plain integer.
Cell index_spec(int32_t index, const Cell* boxed) { return boxed != nullptr ? *boxed : integer::make(index); }

bool member(Cell* bitset, const Cell& spec) {
  return process(&spec, bitset, kTest, true, kFromAction) > 0;
}

Cell* pick(Cell* bitset, int32_t index, Cell* boxed) {
  return stack::set_result(logic::make(member(bitset, index_spec(index, boxed))));
}

// none!, a logic! other than true, 0 and 0.0 clear; anything else sets.
bool counts_as_true(const Cell& value) {
  switch (value.type()) {
    case TYPE_NONE: return false;
    case TYPE_LOGIC: return logic::get(value) != 0;
    case TYPE_INTEGER: return integer::get(value) != 0;
    case TYPE_FLOAT: return value.as_double() != 0.0;
    default: return true;
  }
}

void poke_bits(Cell* bitset, const Cell& spec, const Cell* data) {
  series::Stretch told = announce(bitset, runtime_words::poke, data);
  process(&spec, bitset, counts_as_true(*data) ? kSet : kClear, false, kFromAction);
  series::announce_done(*bitset, runtime_words::poked, data, told);
}

Cell* poke(Cell* bitset, int32_t index, Cell* data, Cell* boxed) {
  Cell value = *data;
  poke_bits(bitset, index_spec(index, boxed), &value);
  return stack::set_result(value);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell*, Cell*, Cell*, int32_t, bool, bool, bool) {
  if (!element->is(TYPE_INTEGER) && !element->is(TYPE_CHAR)) {
    Cell datatype = datatype::make(element->type());
    fire(ErrorId::script_invalid_type, &datatype);
  }
  Cell spec = *element;
  if (value == nullptr) return stack::push(logic::make(member(parent, spec)));
  Cell data = *value;
  poke_bits(parent, spec, &data);
  return stack::push(data);
}

Cell* find(Cell* series, Cell* value, int, int, int, int, int, int, int, int, int, int, int) {
  return stack::set_result(member(series, *value) ? logic::true_value : none::value);
}

Cell* append(Cell* series, Cell* value, int, int, int) {
  Cell spec = *value;
  series::Stretch told = announce(series, runtime_words::insert, &spec);
  process(&spec, series, kSet, false, kFromAction);
  series::announce_done(*series, runtime_words::inserted, &spec, told);
  return stack::set_result(*series);
}

Cell* remove(Cell* series, int, int key) {
  if (key < 0) fire(ErrorId::script_missing_arg);
  Cell spec = stack::arguments()[key];
  // Removal clears the key's bits whether the bitset is complemented or
  // not: the key is no member afterwards.
  series::Stretch told = announce(series, runtime_words::remove, &spec);
  process(&spec, series, kClear, false, kFromAction);
  series::announce_done(*series, runtime_words::removed, &spec, told);
  return stack::set_result(*series);
}

Cell* clear(Cell* series) {
  series::Stretch told = announce(series, runtime_words::clear, nullptr);
  SeriesBuffer* buffer = buffer_of(series);
  std::memset(buffer->head_ptr(), fill_of(complemented(series)), buffer->used());
  series::announce_done(*series, runtime_words::cleared, nullptr, told);
  return stack::set_result(*series);
}

Cell* copy(Cell* value, Cell*, int, int, int) { return stack::set_result(*push_copy(value)); }

// A copy with the flag toggled and every byte inverted: every bit's
// membership, virtual ones included, is inverted.
Cell* complemented_copy(const Cell* value) {
  Cell* copy = push_copy(value);
  SeriesBuffer* buffer = buffer_of(copy);
  buffer->flags ^= kComplement;
  invert_bytes(buffer);
  return copy;
}

Cell* complement(Cell* value) { return stack::set_result(*complemented_copy(value)); }

Cell* negate(Cell* number) {
  *number = *complemented_copy(number);
  return stack::set_result(*number);
}

int32_t length(Cell* series) { return length_q(series); }

Cell* and_t() { return do_bitwise(kOpAnd); }
Cell* or_t() { return do_bitwise(kOpOr); }
Cell* xor_t() { return do_bitwise(kOpXor); }

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
  if (!value2->is(TYPE_BITSET)) return kNotComparable;
  if (op == kCmpSame) return value1->data2 == value2->data2 ? 0 : 1;
  uint32_t size1 = stored_bytes(value1), size2 = stored_bytes(value2);
  if (size1 != size2) return size1 < size2 ? -1 : 1;
  if (size1 == 0) return 0;
  bool flag1 = complemented(value1), flag2 = complemented(value2);
  if (flag1 != flag2) return flag1 ? 1 : -1;
  const uint8_t* bytes1 = rs_head(value1);
  const uint8_t* bytes2 = rs_head(value2);
  for (uint32_t i = size1; i-- > 0;)
    if (bytes1[i] != bytes2[i]) return bytes1[i] < bytes2[i] ? -1 : 1;
  return 0;
}

}  // namespace

// --- Reading ---------------------------------------------------------------------------------

uint8_t* rs_head(const Cell* bitset) { return buffer_of(bitset)->head_ptr(); }
uint8_t* rs_tail(const Cell* bitset) { return buffer_of(bitset)->tail_ptr(); }
int32_t length_q(const Cell* bitset) { return static_cast<int32_t>(stored_bytes(bitset) * 8); }
bool complemented(const Cell* bitset) { return (buffer_of(bitset)->flags & kComplement) != 0; }

bool beyond_q(const Cell* bitset, int64_t n) { return n < 0 || (n >> 3) >= int64_t{stored_bytes(bitset)}; }

bool test_bit(const Cell* bitset, int64_t n) {
  if (beyond_q(bitset, n)) return complemented(bitset);
  return (rs_head(bitset)[n >> 3] & mask_of(n)) != 0;
}

// --- Writing ---------------------------------------------------------------------------------

uint8_t* expand(Cell* bitset, int64_t n) {
  int64_t needed = (n >> 3) + 1;
  memory::check_series_size(static_cast<uint64_t>(needed));
  SeriesBuffer* buffer = buffer_of(bitset);
  uint8_t fill = fill_of((buffer->flags & kComplement) != 0);
  uint32_t bytes = static_cast<uint32_t>(needed);
  if (uint64_t{buffer->offset} + bytes > buffer->size) {
    uint64_t size = memory::grown_capacity(buffer->size, bytes);
    buffer = memory::expand_series_filled(buffer, static_cast<uint32_t>(size), fill);
  }
  if (buffer->used() < bytes) {
    // Bytes that become stored take the flag's fill whatever the spare
    // capacity held, so no membership changes.
    std::memset(buffer->tail_ptr(), fill, bytes - buffer->used());
    buffer->tail = buffer->offset + bytes;
  }
  return buffer->head_ptr();
}

void invert_bytes(SeriesBuffer* buffer) {
  uint8_t* bytes = buffer->head_ptr();
  uint32_t count = buffer->size - buffer->offset;
  for (uint32_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(~bytes[i]);
}

// --- Specs ----------------------------------------------------------------------------------

int64_t process(const Cell* spec, Cell* bitset, Operation operation, bool nested, ErrorMode mode) {
  int64_t result = process_value(spec, bitset, operation, mode);
  if (!nested && operation == kHighest) return std::max<int64_t>(1, (result + 8) >> 3);
  return result;
}

Cell* make_from(const Cell* spec, ErrorMode mode) {
  Cell source = *spec;
  bool complement = false;
  if (source.is(TYPE_BLOCK) && block::rs_length(&source) > 0 &&
      is_word_named(*block::rs_abs_at(&source, source.data1), "not")) {
    complement = true;
    source.data1 += 1;
    if (block::rs_length(&source) > 0 && block::rs_abs_at(&source, source.data1)->is(TYPE_BINARY))
      source = *block::rs_abs_at(&source, source.data1);
  }
  switch (source.type()) {
    case TYPE_BITSET: return push_copy(&source);
    case TYPE_INTEGER:
    case TYPE_FLOAT: {
      if (mode == kFromTo) bad_spec(source, mode);
      int64_t bits = number_to_integer(source);
      if (bits < 0) fire(ErrorId::script_out_of_range, &source);
      return push_new(static_cast<uint32_t>((bits + 7) >> 3), 0, false);
    }
    case TYPE_BINARY: {
      uint32_t count = series::rs_length(&source, false) > 0 ? static_cast<uint32_t>(series::rs_length(&source, false)) : 0;
      Cell* result = push_new(count, 0, complement);
      uint8_t* to = buffer_of(result)->head_ptr();
      const uint8_t* from = memory::buffer_of(source.data2)->head_ptr() + source.data1;
      for (uint32_t i = 0; i < count; ++i) to[i] = complement ? static_cast<uint8_t>(~from[i]) : from[i];
      return result;
    }
    default: {
      int64_t count = process(&source, nullptr, kHighest, false, mode);
      memory::check_series_size(static_cast<uint64_t>(std::max<int64_t>(count, 0)));
      Cell* result = push_new(static_cast<uint32_t>(count), fill_of(complement), complement);
      process(&source, result, complement ? kClear : kSet, false, mode);
      return result;
    }
  }
}

Cell* do_bitwise(int32_t op) {
  Cell* first = stack::arguments();
  Cell* second = first + 1;
  if (!second->is(TYPE_BITSET)) {
    Cell datatype = datatype::make(second->type());
    fire(ErrorId::script_invalid_type, &datatype);
  }
  if (op == 8) return first;  // unique: a bitset holds each bit once already
  uint32_t size1 = stored_bytes(first), size2 = stored_bytes(second);
  bool flag1 = complemented(first), flag2 = complemented(second);
  bool flag = combine_flags(flag1, flag2, op);
  uint32_t size = std::max(size1, size2);
  Cell* result = push_new(size, 0, flag);
  uint8_t* out = buffer_of(result)->head_ptr();
  const uint8_t* bytes1 = rs_head(first);
  const uint8_t* bytes2 = rs_head(second);
  for (uint32_t i = 0; i < size; ++i) {
    uint8_t a = i < size1 ? bytes1[i] : fill_of(flag1);
    uint8_t b = i < size2 ? bytes2[i] : fill_of(flag2);
    out[i] = combine_bytes(a, b, op);
  }
  if (op == kOpAnd) {
    // and~ keeps only the common bytes when the rest says nothing the
    // result's flag does not say already.
    uint32_t common = std::min(size1, size2);
    bool redundant = std::all_of(out + common, out + size, [&](uint8_t byte) { return byte == fill_of(flag); });
    if (redundant) buffer_of(result)->tail = buffer_of(result)->offset + common;
  }
  return stack::set_result(*result);
}

Cell* push(const Cell& bitset) { return stack::push(bitset); }

void init() {
  DatatypeRecord record(TYPE_BITSET, 0, "bitset!");
  record.handle<Action::make>(make)
      .handle<Action::reflect>(reflect)
      .handle<Action::to>(to)
      .handle<Action::form>(form)
      .handle<Action::mold>(mold)
      .handle<Action::eval_path>(eval_path)
      .handle<Action::compare>(compare)
      .handle<Action::negate>(negate)
      .handle<Action::and_t>(and_t)
      .handle<Action::complement>(complement)
      .handle<Action::or_t>(or_t)
      .handle<Action::xor_t>(xor_t)
      .handle<Action::append>(append)
      .handle<Action::clear>(clear)
      .handle<Action::copy>(copy)
      .handle<Action::find>(find)
      .handle<Action::insert>(append)
      .handle<Action::length_q>(length)
      .handle<Action::pick>(pick)
      .handle<Action::poke>(poke)
      .handle<Action::remove>(remove)
      .handle<Action::modify>(modify);
  register_datatype(record);
}

}  // namespace kel::bitset
