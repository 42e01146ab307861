// Float text (see float_text.h). std::to_chars and std::from_chars do the
// exact work; everything here is layout and syntax around them.
#include "runtime/float_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

namespace kel::float_type {

namespace {

void set_text(Digits& digits, std::string_view text, int32_t position) {
  text.copy(digits.text, text.size());
  digits.text[text.size()] = '\0';
  digits.length = static_cast<int32_t>(text.size());
  digits.position = position;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// Steps over the letters of word (lower case) that follow at p, as far as
// they match.
const char* skip_word_tail(const char* p, const char* end, std::string_view word) {
  for (char expected : word) {
    if (p == end || lower(*p) != expected) break;
    ++p;
  }
  return p;
}

// Exponents beyond this magnitude make every mantissa overflow or vanish;
// clamping keeps the 64-bit sums below exact without changing the result.
constexpr int64_t kExponentClamp = 1'000'000'000'000LL;

}  // namespace

Digits to_digits(double value, int32_t ndigits, bool keep_zero) {
  Digits digits{};
  if (std::isnan(value)) {
    set_text(digits, "1.#NaN", kSpecialPosition);
    return digits;
  }
  digits.negative = std::signbit(value);
  if (std::isinf(value)) {
    set_text(digits, digits.negative ? "-1.#INF" : "1.#INF", kSpecialPosition);
    return digits;
  }
  if (value == 0.0) {
    set_text(digits, digits.negative ? (keep_zero ? "-0.0" : "-0") : (keep_zero ? "0.0" : "0"),
             kZeroPosition);
    return digits;
  }

  // Scientific form "d[.ddd]e<sign><exponent>" of the magnitude.
  char scratch[64];
  double magnitude = std::fabs(value);
  std::to_chars_result written =
      ndigits <= 0
          ? std::to_chars(scratch, scratch + sizeof scratch, magnitude, std::chars_format::scientific)
          : std::to_chars(scratch, scratch + sizeof scratch, magnitude, std::chars_format::scientific,
                          std::min(ndigits, kMaxDigits) - 1);
  const char* p = scratch;
  const char* end = written.ptr;
  int32_t length = 0;
  while (p < end && *p != 'e') {
    if (*p != '.') digits.text[length++] = *p;
    ++p;
  }
  int32_t exponent = 0;
  if (p < end) std::from_chars(p + 1 + (p[1] == '+'), end, exponent);
  while (length > 1 && digits.text[length - 1] == '0') --length;
  digits.text[length] = '\0';
  digits.length = length;
  digits.position = exponent + 1;
  return digits;
}

FloatText form_digits(const Digits& digits, bool keep_zero) {
  FloatText out{};
  int32_t n = 0;
  auto put = [&](char c) { out.text[n++] = c; };
  auto put_digits = [&](int32_t from, int32_t to) {
    for (int32_t i = from; i < to; ++i) put(digits.text[i]);
  };
  // A text ending in "." is finished with a 0, or the "." is dropped.
  auto finish_point = [&]() {
    if (out.text[n - 1] != '.') return;
    if (keep_zero)
      put('0');
    else
      --n;
  };

  if (digits.position >= kZeroPosition) {
    put_digits(0, digits.length);
  } else {
    int32_t position = digits.position;
    int32_t length = digits.length;
    if (digits.negative) put('-');
    if (position > 17 || position < -6) {
      put(digits.text[0]);
      put('.');
      put_digits(1, length);
      finish_point();
      put('e');
      std::to_chars_result r = std::to_chars(out.text + n, out.text + sizeof out.text, position - 1);
      n = static_cast<int32_t>(r.ptr - out.text);
    } else if (position > 0) {
      put_digits(0, std::min(position, length));
      for (int32_t i = length; i < position; ++i) put('0');
      put('.');
      put_digits(position, length);
      finish_point();
    } else {
      put('0');
      put('.');
      for (int32_t i = position; i < 0; ++i) put('0');
      put_digits(0, length);
    }
  }
  out.text[n] = '\0';
  out.length = n;
  return out;
}

FloatText form_buffer(double value, int32_t ndigits, bool keep_zero) {
  return form_digits(to_digits(value, ndigits, keep_zero), keep_zero);
}

double parse(const char* start, const char* end, int32_t exponent_adjustment, int32_t* remainder) {
  const char* p = start;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  const char* mantissa = p;
  while (p < end && *p == '0') ++p;
  const char* significant = p;
  while (p < end && is_digit(*p)) ++p;
  bool any_digit = p > mantissa;

  // "1.#INF", "-1.#INF", "1.#NaN": one digit after the leading zeros, then ".#".
  if (p - significant == 1 && end - p >= 3 && p[0] == '.' && p[1] == '#') {
    char letter = lower(p[2]);
    if (letter == 'i') {
      *remainder = static_cast<int32_t>(end - skip_word_tail(p + 3, end, "nf"));
      double infinity = std::numeric_limits<double>::infinity();
      return negative ? -infinity : infinity;
    }
    if (letter == 'n') {
      *remainder = static_cast<int32_t>(end - skip_word_tail(p + 3, end, "an"));
      return std::numeric_limits<double>::quiet_NaN();
    }
  }

  // The decimal order of the first significant digit: the count of integer
  // digits after the leading zeros, or minus the zeros that open the fraction.
  int64_t order = p - significant;
  bool all_zero = order == 0;
  if (p < end && *p == '.') {
    ++p;
    const char* fraction = p;
    while (p < end && *p == '0') ++p;
    if (all_zero) order = -(p - fraction);
    if (p < end && is_digit(*p)) all_zero = false;
    while (p < end && is_digit(*p)) ++p;
    any_digit = any_digit || p > fraction;
  }
  if (!any_digit) {
    *remainder = static_cast<int32_t>(end - start);
    return 0.0;
  }
  const char* mantissa_end = p;

  int64_t exponent = 0;
  if (p < end && (*p == 'e' || *p == 'E')) {
    const char* q = p + 1;
    bool exponent_negative = false;
    if (q < end && (*q == '+' || *q == '-')) {
      exponent_negative = *q == '-';
      ++q;
    }
    if (q < end && is_digit(*q)) {
      while (q < end && is_digit(*q)) {
        exponent = std::min(exponent * 10 + (*q - '0'), kExponentClamp);
        ++q;
      }
      if (exponent_negative) exponent = -exponent;
      p = q;  // an "e" without digits is not part of the number
    }
  }
  *remainder = static_cast<int32_t>(end - p);
  if (all_zero) return negative ? -0.0 : 0.0;
  exponent += exponent_adjustment;

  double magnitude = 0.0;
  std::from_chars_result r;
  if (exponent_adjustment == 0) {
    r = std::from_chars(mantissa, p, magnitude, std::chars_format::general);
  } else {
    std::string text(mantissa, mantissa_end);
    text += 'e';
    text += std::to_string(exponent);
    r = std::from_chars(text.data(), text.data() + text.size(), magnitude, std::chars_format::general);
  }
  if (r.ec == std::errc::result_out_of_range) {
    // Out of range both ways: a first significant digit at or above the
    // units place overflows, anything else underflows.
    magnitude = order + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  }
  return negative ? -magnitude : magnitude;
}

}  // namespace kel::float_type
