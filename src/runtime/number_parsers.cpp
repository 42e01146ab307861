// Text-to-number parsers (see number_parsers.h).
#include "runtime/number_parsers.h"

#include <cmath>
#include <limits>
#include <string>

#include "runtime/float_text.h"
#include "runtime/string_units.h"

namespace kel::number_text {

namespace {

// The float syntax automaton: character classes, then one row of next
// states per state. kError absorbs everything; the last column says whether
// the text may end in that state.
enum FloatClass : uint8_t { kOther, kSign, kDigit, kExponent, kPoint, kQuote, kClassCount };
constexpr uint8_t kError = 9;
struct FloatState {
  uint8_t next[kClassCount];
  bool accepts_end;
};
constexpr FloatState kFloatSyntax[] = {
    /* 0 start                     */ {{kError, 0, 1, kError, 4, kError}, false},
    /* 1 integer digits            */ {{kError, kError, 1, 6, 5, 2}, true},
    /* 2 after "'" in the integer  */ {{kError, kError, 1, kError, kError, kError}, true},
    /* 3 fraction digits           */ {{kError, kError, 3, 6, kError, 4}, true},
    /* 4 after a leading "." or a "'" in the fraction */
    {{kError, kError, 3, kError, kError, kError}, true},
    /* 5 after "." that follows digits */ {{kError, kError, 3, kError, kError, kError}, true},
    /* 6 after the exponent letter */ {{kError, 7, 8, kError, kError, kError}, false},
    /* 7 after the exponent sign   */ {{kError, kError, 8, kError, kError, kError}, false},
    /* 8 exponent digits           */ {{kError, kError, 8, kError, kError, kError}, true},
};

FloatClass class_of(char c) {
  switch (c) {
    case '+':
    case '-': return kSign;
    case 'e':
    case 'E': return kExponent;
    case '.': return kPoint;
    case '\'': return kQuote;
    default: return c >= '0' && c <= '9' ? kDigit : kOther;
  }
}

}  // namespace

bool float_syntax_check(const char* start, const char* end) {
  if (end - start > static_cast<std::ptrdiff_t>(kMaxFloatText)) return false;
  uint8_t state = 0;
  for (const char* p = start; p < end && state != kError; ++p) state = kFloatSyntax[state].next[class_of(*p)];
  return state != kError && kFloatSyntax[state].accepts_end;
}

int32_t scan_integer_text(const uint8_t* text, uint32_t length, uint32_t unit, int32_t* error) {
  uint32_t i = 0;
  bool negative = false;
  if (length > 0) {
    uint32_t first = unicode::get_char(text, unit);
    if (first == '+' || first == '-') {
      negative = first == '-';
      i = 1;
    }
  }
  // The magnitude is gathered in 64 bits and held to 2^31, the largest
  // that any text may reach (as -2147483648).
  constexpr int64_t kLimit = int64_t{1} << 31;
  int64_t magnitude = 0;
  bool any_digit = false;
  for (; i < length; ++i) {
    uint32_t c = unicode::get_char(text + static_cast<size_t>(i) * unit, unit);
    if (c == '\'') continue;
    if (c < '0' || c > '9') {
      *error = kBadNumberText;
      return static_cast<int32_t>(negative ? -magnitude : magnitude);
    }
    any_digit = true;
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > kLimit || (!negative && magnitude == kLimit)) {
      *error = kNumberOverflow;
      return 0;
    }
  }
  if (!any_digit) {
    *error = kBadNumberText;
    return 0;
  }
  return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

double scan_float_text(const uint8_t* text, uint32_t length, uint32_t unit, int32_t* error,
                       int32_t exponent_adjustment) {
  double failed = std::numeric_limits<double>::quiet_NaN();
  if (length > kMaxFloatText) {
    *error = kBadNumberText;
    return failed;
  }
  std::string copy(length, '\0');
  for (uint32_t i = 0; i < length; ++i) {
    uint32_t c = unicode::get_char(text + static_cast<size_t>(i) * unit, unit);
    // Beyond ASCII nothing belongs to a number; \x01 is an "other" class.
    copy[i] = c == ',' ? '.' : c < 128 ? static_cast<char>(c) : '\x01';
  }
  if (!float_syntax_check(copy.data(), copy.data() + copy.size())) {
    *error = kBadNumberText;
    return failed;
  }
  std::erase(copy, '\'');
  int32_t remainder = 0;
  double value = float_type::parse(copy.data(), copy.data() + copy.size(), exponent_adjustment, &remainder);
  // The automaton lets through a few texts that are no number ("." alone,
  // repeated signs): what the conversion could not read refuses them.
  if (remainder != 0) {
    *error = kBadNumberText;
    return failed;
  }
  return value;
}

}  // namespace kel::number_text
