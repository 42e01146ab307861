// money!: an exact decimal amount with an optional currency, written
// $12.50, -USD$1'000.00 or EUR$0.5.
//
// Cell: type 49; header bit 14 the sign (set = negative); byte 4 of the
// cell (the low byte of data1) the 1-based index of the currency code in
// the currency list, 0 for none; bytes 5 to 15 twenty-two packed decimal
// digits, most significant first, two to a byte (high nibble first):
// seventeen integer digits, then five fraction digits. An amount whose
// digits are all zero is zero whatever its sign bit, and every result
// this file makes is such a zero without the sign bit.
//
// Arithmetic is exact: an amount is read as an integer count of
// 0.00001 units (below 10^22, so it fits a 128-bit integer with room for
// every intermediate result), computed on, and packed again. Products and
// quotients are truncated toward zero to five fraction digits; a result of
// more than seventeen integer digits raises script type-limit. Numbers
// meet money through exact conversions: an integer! as it is, a float! or
// percent! through its shortest round-trip decimal text (so 0.1 is $0.10,
// never $0.09999...).
//
// The currency list is the block of code words that the system's locale
// settings hold once the boot environment installs it (set_currency_list);
// until then it is the built-in list of 170 codes in the same order, so an
// index means the same code before and after.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/cell.h"

namespace kel::money {

constexpr uint32_t kSignBit = 0x4000;
constexpr int kDigitCount = 22;
constexpr int kIntegerDigits = 17;
constexpr int kFractionDigits = 5;
constexpr int kDigitBytes = 11;

// --- Cell fields ------------------------------------------------------------------------

inline bool sign_bit(const Cell& cell) { return (cell.header & kSignBit) != 0; }
inline void set_sign(Cell* cell, bool negative) {
  cell->header = negative ? (cell->header | kSignBit) : (cell->header & ~kSignBit);
}
inline uint32_t currency_index(const Cell& cell) { return cell.data1 & 0xFF; }
inline void set_currency(Cell* cell, uint32_t index) { cell->data1 = (cell->data1 & ~0xFFu) | (index & 0xFF); }

// The 11 digit bytes of the cell.
const uint8_t* digits(const Cell& cell);
uint8_t* digits(Cell* cell);
bool digits_zero(const uint8_t* digit_bytes);

// --- Currencies ----------------------------------------------------------------------------

// The index of a currency code (letter case ignored), or -1 when the list
// has no such code.
int32_t currency_code_index(std::string_view code);
// The same for a word's name.
int32_t currency_word_index(const Cell& word);
// The code of an index (1-based), empty for 0 or an index past the list.
std::string currency_code(uint32_t index);
// Installs the block of code words that the system's locale holds; the
// list is read from it from then on.
void set_currency_list(const Cell& block);
// The installed block (none until one is installed).
Cell currency_list();
// The number of fraction digits form and mold show (the money-digits
// option; 2 until the system options set it).
void set_form_digits(int32_t count);
int32_t form_digits();

// --- Construction ------------------------------------------------------------------------

// The serializer's constructor: sets the cell from its parts.
Cell* set_cell(Cell* cell, bool negative, uint32_t currency, const uint8_t* digit_bytes);
// The lexer's constructor: integer digits right-aligned in the seventeen
// integer places, fraction digits left-aligned from the first fraction place
// (only the first five are taken); "'" in either text is skipped. False
// (the cell untouched) when a text holds anything but digits and "'", or
// more than seventeen integer digits after the leading zeros, or the
// currency index is past the list.
bool make_from_digits(Cell* cell, bool negative, uint32_t currency, std::string_view integer_digits,
                      std::string_view fraction_digits);
// Exact.
Cell from_integer(int32_t value);
// Through the shortest decimal text of the double. A value that is not
// finite, of magnitude 1e17 or more, or non-zero below 1e-5 raises script
// bad-make-arg; strict also refuses a text with more than five fraction
// digits (otherwise those are truncated).
Cell from_float(double value, bool strict);
bool float_too_large(double value);
bool float_too_small(double value);

// --- Reading ---------------------------------------------------------------------------

// The integer part with the sign; beyond the 32-bit range script type-limit
// with integer!.
int32_t to_integer(const Cell& cell);
// The nearest double to the amount.
double to_float(const Cell& cell);
// -1, 0 or 1 (0 for a zero amount whatever its sign bit).
int32_t sign(const Cell& cell);
inline bool negative_q(const Cell& cell) { return sign(cell) < 0; }
inline bool zero_amount_q(const Cell& cell) { return sign(cell) == 0; }
inline bool positive_q(const Cell& cell) { return sign(cell) > 0; }

// --- Text ------------------------------------------------------------------------------

// "-", the currency code, "$", the integer digits ("0" when none), then "."
// and form_digits() fraction digits (five with all; cut, not rounded; no
// "." below one digit). group puts "'" between thousands. Returns the text.
std::string amount_text(const Cell& cell, bool all, bool group);
// Appends amount_text to the output string; returns the part limit less
// the characters written.
int32_t form_amount(const Cell& cell, Cell* output, int32_t part, bool all, bool group);

// --- Arithmetic ----------------------------------------------------------------------------

// The frame's first two cells (money!, integer!, float! or percent!, at
// least one of them money!) combined by op (0 add, 1 subtract, 2 multiply,
// 3 divide, 4 remainder); the result replaces the first cell. money!
// divided by money! answers a float!.
Cell* do_math(int32_t op);

// Registers money! (id 49, no parent).
void init();

}  // namespace kel::money
