// Float text: the one conversion from an IEEE 754 double to decimal text and
// the one conversion back.
//
// Digits come from the standard library's exact conversions (std::to_chars
// gives the shortest digit string that reads back to the same double, or a
// correctly rounded string of a given length; std::from_chars gives the
// nearest double for any decimal text, however long). This module adds the
// system's own layout on top: where the decimal point goes, when to switch
// to exponent form, how zero and the special values are written, and which
// texts are read as numbers.
//
// Every result is returned by value in a small fixed buffer owned by the
// caller, so conversions nest freely (forming a value while forming
// another). A digit string is 0.d1d2...dn x 10^position: "15" with position
// 2 is 15.0, with position 0 it is 0.15. The special values never carry
// digits: infinity is "1.#INF" or "-1.#INF" and NaN "1.#NaN", whatever its
// sign bit, both written and read.
#pragma once

#include <cstdint>
#include <string_view>

namespace kel::float_type {

// Positions that mark a ready text rather than digits.
constexpr int32_t kSpecialPosition = 9999;
constexpr int32_t kZeroPosition = 9998;
// The most significant digits a rounded conversion gives (more than any
// caller needs; the exact expansion of a double may run to 767 digits).
constexpr int32_t kMaxDigits = 40;

struct Digits {
  char text[kMaxDigits + 8];  // the digits, or the zero / special text; NUL-terminated
  int32_t length;             // characters in text
  int32_t position;           // decimal exponent, or one of the two marks above
  bool negative;              // the sign bit (also for -0.0)

  std::string_view view() const { return {text, static_cast<size_t>(length)}; }
};

// The text of a number, ready to be appended to a string.
struct FloatText {
  char text[80];
  int32_t length;

  std::string_view view() const { return {text, static_cast<size_t>(length)}; }
  const char* c_str() const { return text; }
};

// The digits of a double. ndigits <= 0 asks for the shortest string that
// converts back to the same double; ndigits > 0 for at most that many
// significant digits, correctly rounded (capped at kMaxDigits). Trailing
// zeros are removed. Zero gives position kZeroPosition and the text "0.0" /
// "-0.0" with keep_zero, else "0" / "-0"; the special values give position
// kSpecialPosition and their fixed text.
Digits to_digits(double value, int32_t ndigits, bool keep_zero);

// Lays digits out as text: exponent form when the position is above 17 or
// below -6 ("1.0e17", "1.0e-8"), else plain; a text ending in "." gets a
// "0" with keep_zero and loses the "." otherwise; a negative value gets "-".
FloatText form_digits(const Digits& digits, bool keep_zero);

// to_digits and form_digits in one step. ndigits 0 with keep_zero is the
// round-trip text: parse(form_buffer(x, 0, true)) == x for every double x
// that is not NaN.
FloatText form_buffer(double value, int32_t ndigits, bool keep_zero);

// Reads decimal text between start and end: an optional sign, digits with
// an optional "." and fraction, an optional exponent ("e" or "E", optional
// sign, digits); the exponent adjustment is added to the decimal exponent
// (-2 reads a percent). The special forms are read where one digit precedes
// ".#": "I"/"i" gives infinity (with the sign), "N"/"n" a positive quiet NaN;
// the rest of the word ("INF", "NaN") is consumed when present. The result
// is the nearest double of the whole text (never of a truncated copy);
// values too large give infinity, values too small zero, both signed.
// *remainder receives the count of characters left unread at the end (the
// whole length when no number starts the text, which then reads as 0.0).
double parse(const char* start, const char* end, int32_t exponent_adjustment, int32_t* remainder);

}  // namespace kel::float_type
