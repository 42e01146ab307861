// Text-to-number parsers: the readers that turn the text of a string value
// into an integer or a float outside the lexer (for to integer!, make
// float! and the like), and the float syntax check that the lexer's float,
// percent and point loaders share.
//
// They read code points from a string buffer of any unit (1, 2 or 4 bytes)
// and never raise: a failure is reported through the error out-parameter so
// that the calling conversion raises its own error. A text is read whole or
// refused, never cut short.
#pragma once

#include <cstdint>

namespace kel::number_text {

// Error codes of the out-parameter (left alone on success).
constexpr int32_t kBadNumberText = -1;
constexpr int32_t kNumberOverflow = -2;

// The longest float text accepted.
constexpr uint32_t kMaxFloatText = 312;

// An optional "+" or "-", then decimal digits; "'" separators are skipped
// anywhere. A character that is neither a digit nor "'" sets the error to
// kBadNumberText and the value read so far is returned; a text without
// digits (empty, only a sign) is bad too. A magnitude beyond the 32-bit
// range sets kNumberOverflow and gives 0; -2147483648 itself is read.
int32_t scan_integer_text(const uint8_t* text, uint32_t length, uint32_t unit, int32_t* error);

// A float text: at most kMaxFloatText characters, "," read as ".", "'"
// separators dropped, checked by float_syntax_check and converted whole.
// A failure sets the error to kBadNumberText and gives NaN. The exponent
// adjustment is added to the decimal exponent (-2 reads the number of a
// percent text).
double scan_float_text(const uint8_t* text, uint32_t length, uint32_t unit, int32_t* error,
                       int32_t exponent_adjustment = 0);

// True when the bytes form a float by the syntax automaton: an optional
// sign, digits with "'" separators, an optional "." and fraction, an
// optional exponent ("1.", ".5" and "1'000.5" pass; "1e", "e5" and "1.e5"
// do not). Texts longer than kMaxFloatText fail.
bool float_syntax_check(const char* start, const char* end);

}  // namespace kel::number_text
