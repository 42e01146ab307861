// money!: packing, currencies, conversions, text, exact arithmetic and the
// actions (see money.h for the cell and the rules).
//
// Every routine unpacks the digits into an Amount (sign, count of 0.00001
// units, currency), works on that, and packs the result; nothing here
// keeps a pointer into a series buffer.
#include "datatypes/money.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <iterator>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/checked_math.h"
#include "runtime/collector.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "runtime/float_text.h"
#include "datatypes/runtime_words.h"

namespace kel::money {

static_assert(std::endian::native == std::endian::little,
              "the currency byte is byte 4 of the cell, the low byte of data1");

namespace {

// A count of 0.00001 units: below 10^22 in a cell, and products of up to
// 28 significant digits (10^28 < 2^94) in intermediate results.
using Magnitude = unsigned __int128;
using Signed = __int128;

constexpr Magnitude power_of_ten(int n) {
  Magnitude m = 1;
  while (n-- > 0) m *= 10;
  return m;
}
constexpr Magnitude kLimit = power_of_ten(kDigitCount);     // the first magnitude that does not fit
constexpr Magnitude kUnit = power_of_ten(kFractionDigits);  // units in one
constexpr int kDigitOffset = 5;                             // byte of the cell where the digits start

struct Amount {
  bool negative = false;
  Magnitude magnitude = 0;
  uint32_t currency = 0;
};

// The built-in currency list, in the order of the system's locale list.
constexpr const char* kBuiltInCodes[] = {
    "AED", "AFN", "ALL", "AMD", "ANG", "AOA", "ARS", "AUD", "AWG", "AZN", "BAM", "BBD", "BDT", "BTC", "BGN",
    "BHD", "BIF", "BMD", "BND", "BOB", "BRL", "BSD", "BTN", "BWP", "BYN", "BZD", "CAD", "CDF", "CHF", "CKD",
    "CLP", "CNY", "COP", "CRC", "CUC", "CUP", "CVE", "CZK", "DJF", "DKK", "DOP", "DZD", "EGP", "ERN", "ETB",
    "ETH", "EUR", "FJD", "FKP", "FOK", "GBP", "GEL", "GGP", "GHS", "GIP", "GMD", "GNF", "GTQ", "GYD", "HKD",
    "HNL", "HRK", "HTG", "HUF", "IDR", "ILS", "IMP", "INR", "IQD", "IRR", "ISK", "JEP", "JMD", "JOD", "JPY",
    "KES", "KGS", "KHR", "KID", "KMF", "KPW", "KRW", "KWD", "KYD", "KZT", "LAK", "LBP", "LKR", "LRD", "LSL",
    "LYD", "MAD", "MDL", "MGA", "MKD", "MMK", "MNT", "MOP", "MRU", "MUR", "MVR", "MWK", "MXN", "MYR", "MZN",
    "NAD", "NGN", "NIO", "NOK", "NPR", "NZD", "OMR", "PAB", "PEN", "PGK", "PHP", "PKR", "PLN", "PND", "PRB",
    "PYG", "QAR", "KEL", "RON", "RSD", "RUB", "RWF", "SAR", "SBD", "SCR", "SDG", "SEK", "SGD", "SHP", "SLL",
    "SLS", "SOS", "SRD", "SSP", "STN", "SYP", "SZL", "THB", "TJS", "TMT", "TND", "TOP", "TRY", "TTD", "TVD",
    "TWD", "TZS", "UAH", "UGX", "USD", "UYU", "UZS", "VES", "VND", "VUV", "WST", "CFA", "XAF", "XCD", "XOF",
    "CFP", "XPF", "YER", "ZAR", "ZMW",
};
static_assert(std::size(kBuiltInCodes) == 170, "the locale list starts with 170 codes");

// The locale's block of code words once installed (none until then).
Cell installed_list = make_cell(TYPE_NONE);
bool installed_list_rooted = false;
int32_t shown_fraction_digits = 2;

// --- Errors -----------------------------------------------------------------------------------

[[noreturn]] void type_limit(TypeId type) {
  Cell datatype = datatype::make(type);
  fire(ErrorId::script_type_limit, &datatype);
}

[[noreturn]] void invalid_type(TypeId type) {
  Cell datatype = datatype::make(type);
  fire(ErrorId::script_invalid_type, &datatype);
}

[[noreturn]] void bad_make_arg(const Cell& value) {
  Cell datatype = datatype::make(TYPE_MONEY);
  fire(ErrorId::script_bad_make_arg, &datatype, &value);
}

[[noreturn]] void bad_to_arg(const Cell& value) {
  Cell datatype = datatype::make(TYPE_MONEY);
  fire_bad_to_arg(&datatype, &value);
}

// --- Packing ----------------------------------------------------------------------------------

Magnitude unpack(const uint8_t* bytes) {
  Magnitude m = 0;
  for (int i = 0; i < kDigitBytes; ++i) m = m * 100 + (bytes[i] >> 4) * 10 + (bytes[i] & 15);
  return m;
}

void pack(Magnitude m, uint8_t* bytes) {
  for (int i = kDigitBytes - 1; i >= 0; --i) {
    uint8_t low = static_cast<uint8_t>(m % 10);
    m /= 10;
    uint8_t high = static_cast<uint8_t>(m % 10);
    m /= 10;
    bytes[i] = static_cast<uint8_t>(high << 4 | low);
  }
}

Amount read(const Cell& cell) {
  Amount a;
  a.magnitude = unpack(digits(cell));
  a.negative = sign_bit(cell) && a.magnitude != 0;
  a.currency = currency_index(cell);
  return a;
}

// The cell of an amount; beyond seventeen integer digits script type-limit.
Cell write(const Amount& a) {
  if (a.magnitude >= kLimit) type_limit(TYPE_MONEY);
  Cell cell = make_cell(TYPE_MONEY);
  set_sign(&cell, a.negative && a.magnitude != 0);
  set_currency(&cell, a.currency);
  pack(a.magnitude, digits(&cell));
  return cell;
}

int significant_digits(Magnitude m) {
  int count = 1;
  while (m >= 10) {
    m /= 10;
    ++count;
  }
  return count;
}

std::string decimal_text(Magnitude m) {
  char buffer[48];
  int n = 0;
  do {
    buffer[n++] = static_cast<char>('0' + static_cast<int>(m % 10));
    m /= 10;
  } while (m != 0);
  return std::string(std::make_reverse_iterator(buffer + n), std::make_reverse_iterator(buffer));
}

// --- Currencies ------------------------------------------------------------------------------

bool list_installed() { return installed_list.is(TYPE_BLOCK); }

uint32_t currency_count() {
  if (!list_installed()) return static_cast<uint32_t>(std::size(kBuiltInCodes));
  int32_t length = block::rs_length(&installed_list);
  return length > 0 ? static_cast<uint32_t>(length) : 0;
}

bool same_code(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

// --- Conversions from doubles ---------------------------------------------------------------

enum class FloatFit : uint8_t { kExact, kTooPrecise, kOutOfRange };

// The amount of a double's shortest decimal text, its fraction cut to five
// digits; tells whether digits were cut or the double has no amount.
FloatFit decimal_of(double value, Amount* out) {
  *out = Amount{};
  if (!std::isfinite(value) || float_too_large(value) || float_too_small(value)) return FloatFit::kOutOfRange;
  if (value == 0.0) return FloatFit::kExact;
  float_type::Digits d = float_type::to_digits(value, 0, false);
  std::string_view text = d.view();
  int32_t length = static_cast<int32_t>(text.size());
  Magnitude integer_part = 0;
  std::string fraction;
  if (d.position > 0) {
    for (int32_t i = 0; i < d.position; ++i) integer_part = integer_part * 10 + (i < length ? text[i] - '0' : 0);
    if (d.position < length) fraction = text.substr(static_cast<size_t>(d.position));
  } else {
    fraction.assign(static_cast<size_t>(-d.position), '0');
    fraction += text;
  }
  Magnitude fraction_part = 0;
  for (int i = 0; i < kFractionDigits; ++i)
    fraction_part = fraction_part * 10 + (i < static_cast<int>(fraction.size()) ? fraction[i] - '0' : 0);
  out->magnitude = integer_part * kUnit + fraction_part;
  out->negative = d.negative && out->magnitude != 0;
  return fraction.size() > static_cast<size_t>(kFractionDigits) ? FloatFit::kTooPrecise : FloatFit::kExact;
}

Amount amount_of_float(double value, bool strict) {
  Amount a;
  FloatFit fit = decimal_of(value, &a);
  if (fit == FloatFit::kOutOfRange || (strict && fit == FloatFit::kTooPrecise))
    bad_make_arg(float_type::make(value));
  return a;
}

Amount amount_of_integer(int32_t value) {
  Amount a;
  a.negative = value < 0;
  a.magnitude = static_cast<Magnitude>(value < 0 ? -static_cast<int64_t>(value) : static_cast<int64_t>(value)) * kUnit;
  return a;
}

// --- Comparison of amounts -------------------------------------------------------------------

int32_t amount_sign(const Amount& a) { return a.magnitude == 0 ? 0 : a.negative ? -1 : 1; }

int32_t compare_amounts(const Amount& a, const Amount& b) {
  int32_t sa = amount_sign(a), sb = amount_sign(b);
  if (sa != sb) return sa < sb ? -1 : 1;
  if (a.magnitude == b.magnitude) return 0;
  bool less = a.magnitude < b.magnitude;
  if (sa < 0) less = !less;
  return less ? -1 : 1;
}

}  // namespace

// --- Cell fields -----------------------------------------------------------------------------

const uint8_t* digits(const Cell& cell) { return reinterpret_cast<const uint8_t*>(&cell) + kDigitOffset; }
uint8_t* digits(Cell* cell) { return reinterpret_cast<uint8_t*>(cell) + kDigitOffset; }

bool digits_zero(const uint8_t* digit_bytes) {
  for (int i = 0; i < kDigitBytes; ++i)
    if (digit_bytes[i] != 0) return false;
  return true;
}

// --- Currencies ------------------------------------------------------------------------------

std::string currency_code(uint32_t index) {
  if (index == 0 || index > currency_count()) return {};
  if (!list_installed()) return kBuiltInCodes[index - 1];
  const Cell* code = block::rs_abs_at(&installed_list, installed_list.data1 + index - 1);
  if (!word::is_any_word(code->type())) return {};
  return std::string(symbol::name(word::symbol_of(*code)));
}

int32_t currency_code_index(std::string_view code) {
  if (code.empty()) return -1;
  uint32_t count = currency_count();
  for (uint32_t i = 1; i <= count; ++i)
    if (same_code(code, currency_code(i))) return static_cast<int32_t>(i);
  return -1;
}

int32_t currency_word_index(const Cell& word) {
  if (!word::is_any_word(word.type())) return -1;
  return currency_code_index(symbol::name(word::symbol_of(word)));
}

void set_currency_list(const Cell& block) {
  if (!installed_list_rooted) {
    collector::add_global_root(&installed_list);
    installed_list_rooted = true;
  }
  installed_list = block;
}

Cell currency_list() { return installed_list; }

void set_form_digits(int32_t count) { shown_fraction_digits = count; }
int32_t form_digits() { return shown_fraction_digits; }

// --- Construction ------------------------------------------------------------------------

Cell* set_cell(Cell* cell, bool negative, uint32_t currency, const uint8_t* digit_bytes) {
  uint32_t new_line = cell->header & flags::kNewLine;
  *cell = make_cell(TYPE_MONEY);
  cell->header |= new_line;
  set_currency(cell, currency);
  std::memcpy(digits(cell), digit_bytes, kDigitBytes);
  set_sign(cell, negative && !digits_zero(digit_bytes));
  return cell;
}

bool make_from_digits(Cell* cell, bool negative, uint32_t currency, std::string_view integer_digits,
                      std::string_view fraction_digits) {
  if (currency > currency_count()) return false;
  Magnitude integer_part = 0;
  int significant = 0;
  for (char c : integer_digits) {
    if (c == '\'') continue;
    if (c < '0' || c > '9') return false;
    if (significant == 0 && c == '0') continue;
    if (++significant > kIntegerDigits) return false;
    integer_part = integer_part * 10 + static_cast<Magnitude>(c - '0');
  }
  Magnitude fraction_part = 0;
  int taken = 0;
  for (char c : fraction_digits) {
    if (c == '\'') continue;
    if (c < '0' || c > '9') return false;
    if (taken < kFractionDigits) {
      fraction_part = fraction_part * 10 + static_cast<Magnitude>(c - '0');
      ++taken;
    }
  }
  for (; taken < kFractionDigits; ++taken) fraction_part *= 10;
  Amount a;
  a.magnitude = integer_part * kUnit + fraction_part;
  a.negative = negative;
  a.currency = currency;
  uint32_t new_line = cell->header & flags::kNewLine;
  *cell = write(a);
  cell->header |= new_line;
  return true;
}

Cell from_integer(int32_t value) { return write(amount_of_integer(value)); }

Cell from_float(double value, bool strict) { return write(amount_of_float(value, strict)); }

bool float_too_large(double value) { return std::fabs(value) >= 1e17; }
bool float_too_small(double value) { return value != 0.0 && std::fabs(value) < 1e-5; }

// --- Reading -----------------------------------------------------------------------------

int32_t to_integer(const Cell& cell) {
  Amount a = read(cell);
  Magnitude integer_part = a.magnitude / kUnit;
  Magnitude bound = a.negative ? Magnitude{2147483648u} : Magnitude{2147483647u};
  if (integer_part > bound) type_limit(TYPE_INTEGER);
  int64_t value = static_cast<int64_t>(integer_part);
  return static_cast<int32_t>(a.negative ? -value : value);
}

double to_float(const Cell& cell) {
  // The nearest double to the decimal text, rounded once.
  Amount a = read(cell);
  std::string text = a.negative ? "-" : "";
  text += decimal_text(a.magnitude / kUnit);
  std::string fraction = decimal_text(a.magnitude % kUnit);
  text += '.';
  text.append(static_cast<size_t>(kFractionDigits) - fraction.size(), '0');
  text += fraction;
  int32_t remainder = 0;
  return float_type::parse(text.data(), text.data() + text.size(), 0, &remainder);
}

int32_t sign(const Cell& cell) { return amount_sign(read(cell)); }

// --- Text --------------------------------------------------------------------------------

std::string amount_text(const Cell& cell, bool all, bool group) {
  Amount a = read(cell);
  std::string text;
  if (a.negative) text += '-';
  if (a.currency != 0) text += currency_code(a.currency);
  text += '$';
  std::string integer_digits = decimal_text(a.magnitude / kUnit);
  size_t count = integer_digits.size();
  for (size_t i = 0; i < count; ++i) {
    text += integer_digits[i];
    if (group && i + 1 < count && (count - 1 - i) % 3 == 0) text += '\'';
  }
  int32_t shown = all || shown_fraction_digits > kFractionDigits ? kFractionDigits : shown_fraction_digits;
  if (shown >= 1) {
    std::string fraction = decimal_text(a.magnitude % kUnit);
    fraction.insert(0, static_cast<size_t>(kFractionDigits) - fraction.size(), '0');
    text += '.';
    text.append(fraction, 0, static_cast<size_t>(shown));
  }
  return text;
}

int32_t form_amount(const Cell& cell, Cell* output, int32_t part, bool all, bool group) {
  std::string text = amount_text(cell, all, group);
  string::concatenate_literal_part(output, text.data(), static_cast<uint32_t>(text.size()));
  return part - static_cast<int32_t>(text.size());
}

// --- Arithmetic ----------------------------------------------------------------------------

namespace {

Amount operand(const Cell& value) {
  switch (value.type()) {
    case TYPE_MONEY: return read(value);
    case TYPE_INTEGER: return amount_of_integer(integer::get(value));
    case TYPE_FLOAT:
    case TYPE_PERCENT: return amount_of_float(value.as_double(), false);
    default: invalid_type(value.type());
  }
}

Amount add_amounts(const Amount& a, const Amount& b) {
  Signed sum = (a.negative ? -static_cast<Signed>(a.magnitude) : static_cast<Signed>(a.magnitude)) +
               (b.negative ? -static_cast<Signed>(b.magnitude) : static_cast<Signed>(b.magnitude));
  Amount result;
  result.negative = sum < 0;
  result.magnitude = static_cast<Magnitude>(sum < 0 ? -sum : sum);
  return result;
}

}  // namespace

Cell* do_math(int32_t op) {
  Cell* left = stack::arguments();
  Cell* right = left + 1;
  bool left_money = left->is(TYPE_MONEY);
  bool right_money = right->is(TYPE_MONEY);
  if (op < kOpAdd || op > kOpRemainder) invalid_type(TYPE_MONEY);
  if (op == kOpMultiply && left_money && right_money) invalid_type(TYPE_MONEY);
  if ((op == kOpDivide || op == kOpRemainder) && !left_money && right_money) invalid_type(TYPE_MONEY);
  Amount a = operand(*left);
  Amount b = operand(*right);
  if (a.currency != 0 && b.currency != 0 && a.currency != b.currency)
    fire(ErrorId::script_wrong_denom, left, right);

  Amount result;
  switch (op) {
    case kOpAdd: result = add_amounts(a, b); break;
    case kOpSubtract: {
      Amount negated = b;
      negated.negative = !b.negative;
      result = add_amounts(a, negated);
      break;
    }
    case kOpMultiply:
      if (a.magnitude != 0 && b.magnitude != 0) {
        // More than 28 significant digits between them always leave the
        // seventeen integer places (and would overflow the product).
        if (significant_digits(a.magnitude) + significant_digits(b.magnitude) > 28) type_limit(TYPE_MONEY);
        result.magnitude = a.magnitude * b.magnitude / kUnit;
        result.negative = a.negative != b.negative;
      }
      break;
    case kOpDivide:
      if (b.magnitude == 0) fire(ErrorId::math_zero_divide);
      result.magnitude = a.magnitude * kUnit / b.magnitude;
      result.negative = a.negative != b.negative;
      break;
    default:  // remainder
      if (b.magnitude == 0) fire(ErrorId::math_zero_divide);
      result.magnitude = a.magnitude % b.magnitude;
      result.negative = a.negative;
  }
  result.currency = b.currency != 0 ? b.currency : a.currency;
  Cell packed = write(result);
  if (op == kOpDivide && left_money && right_money) {
    left->set_type(TYPE_FLOAT);
    left->header &= ~kSignBit;
    left->data1 = 0;
    left->set_double(to_float(packed));
    return left;
  }
  uint32_t new_line = left->header & flags::kNewLine;
  *left = packed;
  left->header |= new_line;
  return left;
}

namespace {

// --- Actions ------------------------------------------------------------------------------

Cell* add() { return do_math(kOpAdd); }
Cell* subtract() { return do_math(kOpSubtract); }
Cell* multiply() { return do_math(kOpMultiply); }
Cell* divide() { return do_math(kOpDivide); }
Cell* remainder() { return do_math(kOpRemainder); }

Cell* absolute() {
  Cell* value = stack::arguments();
  set_sign(value, false);
  return value;
}

Cell* negate(Cell* number) {
  Amount a = read(*number);
  set_sign(number, a.magnitude != 0 && !a.negative);
  return stack::set_result(*number);
}

bool odd(const Cell& value) { return (read(value).magnitude / kUnit) % 2 != 0; }
Cell* even_q(Cell* number) { return logic::box(!odd(*number)); }
Cell* odd_q(Cell* number) { return logic::box(odd(*number)); }

// --- Text ---------------------------------------------------------------------------------

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) { return form_amount(*value, buffer, part, false, true); }

int32_t mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell*, int32_t part, int32_t) {
  return form_amount(*value, buffer, part, all, false);
}

// --- make and to --------------------------------------------------------------------------

// Text through the lexer: a money literal, or a plain number converted.
Cell from_text(const Cell& spec) {
  Cell loaded = make_cell(TYPE_UNSET);
  TypeId type = word::scan_text(string::to_std_string(spec), &loaded);
  if (type == TYPE_MONEY && loaded.is(TYPE_MONEY)) return loaded;
  if (type == TYPE_INTEGER && loaded.is(TYPE_INTEGER)) return from_integer(integer::get(loaded));
  if (type == TYPE_FLOAT && loaded.is(TYPE_FLOAT)) return from_float(loaded.as_double(), true);
  bad_to_arg(spec);
}

Cell convert(const Cell& spec) {
  switch (spec.type()) {
    case TYPE_MONEY: return spec;
    case TYPE_INTEGER: return from_integer(integer::get(spec));
    case TYPE_FLOAT:
    case TYPE_PERCENT: return from_float(spec.as_double(), true);
    default:
      if (string::is_string_like(spec.type())) return from_text(spec);
      bad_to_arg(spec);
  }
}

// [currency] amount [units of 0.00001 after an integer amount].
Cell from_block(const Cell& spec) {
  int32_t length = block::rs_length(&spec);
  if (length < 1 || length > 3) bad_make_arg(spec);
  const Cell* values = block::rs_abs_at(&spec, spec.data1);
  Cell items[3];
  std::copy(values, values + length, items);
  int32_t at = 0;
  uint32_t currency = 0;
  if (items[0].is(TYPE_WORD)) {
    int32_t index = currency_word_index(items[0]);
    if (index < 0 || length < 2) bad_make_arg(spec);
    currency = static_cast<uint32_t>(index);
    at = 1;
  }
  Amount a;
  const Cell& amount = items[at];
  if (amount.is(TYPE_INTEGER)) {
    a = amount_of_integer(integer::get(amount));
    if (at + 1 < length) {
      const Cell& units = items[at + 1];
      if (!units.is(TYPE_INTEGER) || integer::get(units) < 0 || integer::get(units) > 99999 || at + 2 < length)
        bad_make_arg(spec);
      // The units take the amount's sign: [-12 50000] is -12.5.
      a.magnitude += static_cast<Magnitude>(integer::get(units));
    }
  } else if (amount.is(TYPE_FLOAT)) {
    if (at + 1 < length) bad_make_arg(spec);
    a = amount_of_float(amount.as_double(), true);
  } else {
    bad_make_arg(spec);
  }
  a.currency = currency;
  return write(a);
}

Cell* to(Cell*, Cell* spec, TypeId) { return stack::set_result(convert(*spec)); }

Cell* make(Cell*, Cell* spec, TypeId) {
  if (spec->is(TYPE_WORD)) {
    int32_t index = currency_word_index(*spec);
    if (index < 0) bad_make_arg(*spec);
    Amount zero;
    zero.currency = static_cast<uint32_t>(index);
    return stack::set_result(write(zero));
  }
  if (spec->is(TYPE_BLOCK) || spec->is(TYPE_PAREN)) return stack::set_result(from_block(*spec));
  return stack::set_result(convert(*spec));
}

// --- Comparison -------------------------------------------------------------------------

bool strict_operator(int32_t op) { return op == kCmpStrictEqual || op == kCmpSame || op == kCmpFind; }
bool ordering_operator(int32_t op) { return op >= kCmpLesser && op <= kCmpGreaterOrEqual; }

int32_t compare_money(const Cell& value1, const Cell& value2, int32_t op) {
  Amount a = read(value1), b = read(value2);
  if (ordering_operator(op)) {
    if (a.currency != 0 && b.currency != 0 && a.currency != b.currency) {
      Cell x = value1, y = value2;
      fire(ErrorId::script_wrong_denom, &x, &y);
    }
  } else if (op == kCmpSort || op == kCmpCaseSort) {
    if (a.currency != b.currency) {
      if (a.currency == 0 || b.currency == 0) return a.currency == 0 ? -1 : 1;
      int c = currency_code(a.currency).compare(currency_code(b.currency));
      if (c != 0) return c < 0 ? -1 : 1;
    }
  } else if (strict_operator(op)) {
    if (a.currency != b.currency) return 1;
  } else if (a.currency != 0 && b.currency != 0 && a.currency != b.currency) {
    return 1;
  }
  return compare_amounts(a, b);
}

// A money! on the left of every comparison, also when a number on the left
// handed the comparison over (with the operands swapped): nothing here
// hands it back.
int32_t compare(Cell* value1, Cell* value2, int32_t op) {
  if (strict_operator(op) && !value2->is(TYPE_MONEY)) return 1;
  switch (value2->type()) {
    case TYPE_MONEY: return compare_money(*value1, *value2, op);
    case TYPE_INTEGER: return compare_amounts(read(*value1), amount_of_integer(integer::get(*value2)));
    case TYPE_FLOAT:
    case TYPE_PERCENT: {
      // A double with an exact amount compares as decimals; any other
      // (too large, too small, too precise, not finite) as doubles.
      double x = value2->as_double();
      Amount b;
      if (decimal_of(x, &b) == FloatFit::kExact) return compare_amounts(read(*value1), b);
      return float_type::compare_numbers(to_float(*value1), x, op);
    }
    default: return kNotComparable;
  }
}

// --- Access -------------------------------------------------------------------------------

// 1 for code (or 1), 2 for amount (or 2), 0 otherwise.
int32_t field_of(const Cell& element) {
  if (element.is(TYPE_INTEGER)) {
    int32_t n = integer::get(element);
    return n == 1 || n == 2 ? n : 0;
  }
  if (!word::is_any_word(element.type())) return 0;
  uint32_t symbol = symbol::resolve(word::symbol_of(element));
  if (symbol == symbol::resolve(runtime_words::code)) return 1;
  if (symbol == symbol::resolve(runtime_words::amount)) return 2;
  return 0;
}

Cell field_value(const Cell& value, int32_t field) {
  if (field == 1) {
    uint32_t index = currency_index(value);
    if (index == 0) return none::value;
    std::string code = currency_code(index);
    if (code.empty()) return none::value;
    Cell word = make_cell(TYPE_UNSET);
    word::make_at(symbol::make(code), &word);
    return word;
  }
  Cell amount = value;
  set_currency(&amount, 0);
  clear_new_line(&amount);
  return amount;
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool, bool, bool) {
  if (value != nullptr) fire(ErrorId::script_bad_path_set, path, element);
  int32_t field = field_of(*element);
  if (field == 0) fire(ErrorId::script_invalid_path, path, element);
  return stack::push(field_value(*parent, field));
}

Cell* pick(Cell* value, int32_t index, Cell* boxed) {
  Cell selector = boxed != nullptr ? *boxed : integer::make(index);
  int32_t field = field_of(selector);
  if (field == 0) fire(ErrorId::script_out_of_range, &selector);
  return stack::set_result(field_value(*value, field));
}

// --- Rounding -----------------------------------------------------------------------------

Cell* round(Cell* value, int to, int even, int down, int half_down, int floor, int ceiling, int half_ceiling) {
  Amount a = read(*value);
  if (a.magnitude == 0) return stack::set_result(*value);
  Magnitude scale = kUnit;
  if (to >= 0) {
    const Cell& given = stack::arguments()[to];
    switch (given.type()) {
      case TYPE_MONEY: scale = read(given).magnitude; break;
      case TYPE_INTEGER: scale = amount_of_integer(integer::get(given)).magnitude; break;
      case TYPE_FLOAT: scale = amount_of_float(given.as_double(), true).magnitude; break;
      default: {
        Cell call = error_value::call_word();
        Cell datatype = datatype::make(given.type());
        fire(ErrorId::script_not_related, &call, &datatype);
      }
    }
    if (scale == 0) return stack::set_result(*value);
  }
  Magnitude rest = a.magnitude % scale;
  if (rest == 0) return stack::set_result(*value);
  bool positive = !a.negative;
  Magnitude lower = a.magnitude - rest;
  Magnitude upper = lower + scale;
  bool up;
  if (down >= 0) {
    up = false;
  } else if (floor >= 0) {
    up = !positive;
  } else if (ceiling >= 0) {
    up = positive;
  } else if (rest * 2 != scale) {
    up = rest * 2 > scale;
  } else if (even >= 0) {
    up = (a.magnitude / scale) % 2 != 0;
  } else if (half_down >= 0) {
    up = false;
  } else if (half_ceiling >= 0) {
    up = positive;
  } else {
    up = true;
  }
  a.magnitude = up ? upper : lower;
  Cell rounded = write(a);
  rounded.header |= value->header & flags::kNewLine;
  return stack::set_result(rounded);
}

// --- Random -------------------------------------------------------------------------------

Cell* random(Cell* value, int seed, int, int) {
  if (seed >= 0) {
    uint32_t mixed = value->data1 ^ value->data2 ^ value->data3 ^ (value->header & kSignBit);
    random::seed(static_cast<int32_t>(mixed));
    return unset::set_result();
  }
  // Digit by digit from the most significant: while the drawn prefix equals
  // the value's, a digit is drawn up to the value's digit, and drawing the
  // value's digit itself is kept only rarely, so the value is a very
  // unlikely result; once below, every digit is free.
  const uint8_t* bytes = digits(*value);
  uint8_t drawn[kDigitBytes] = {};
  bool bounded = true;
  for (int position = 0; position < kDigitCount; ++position) {
    int limit = position % 2 == 0 ? bytes[position / 2] >> 4 : bytes[position / 2] & 15;
    int digit;
    if (!bounded) {
      digit = random::rand() % 10;
    } else if (limit == 0) {
      digit = 0;  // no other choice
    } else {
      for (;;) {
        digit = random::rand() % (limit + 1);
        if (digit != limit) {
          bounded = false;
          break;
        }
        if (random::rand() % 1000 == random::rand() % 1000) break;
      }
    }
    drawn[position / 2] |= static_cast<uint8_t>(position % 2 == 0 ? digit << 4 : digit);
  }
  Cell result = *value;
  set_cell(&result, sign_bit(*value), currency_index(*value), drawn);
  return stack::set_result(result);
}

}  // namespace

void init() {
  DatatypeRecord record(TYPE_MONEY, 0, "money!");
  record.handle<Action::make>(make)
      .handle<Action::random>(random)
      .handle<Action::to>(to)
      .handle<Action::form>(form)
      .handle<Action::mold>(mold)
      .handle<Action::eval_path>(eval_path)
      .handle<Action::compare>(compare)
      .handle<Action::absolute>(absolute)
      .handle<Action::add>(add)
      .handle<Action::divide>(divide)
      .handle<Action::multiply>(multiply)
      .handle<Action::negate>(negate)
      .handle<Action::remainder>(remainder)
      .handle<Action::round>(round)
      .handle<Action::subtract>(subtract)
      .handle<Action::even_q>(even_q)
      .handle<Action::odd_q>(odd_q)
      .handle<Action::pick>(pick);
  register_datatype(record);
}

}  // namespace kel::money
