// The loaders: token text into values.
//
// A loader gets the token's bytes and the flags the automaton gathered over
// them. With mode 0 it only checks the text; with mode 1 it also stores the
// value at the scan's tail. The automaton has already fixed the token's
// shape (which characters may stand where), so loaders check what a finite
// automaton cannot: ranges, counts, escapes and UTF-8 sequences. Text
// without escapes and without bytes beyond ASCII, by far the common case,
// is copied as it stands; anything else is decoded in two passes, one to
// size the string exactly and choose its narrowest unit, one to fill it.
//
// Every failure goes through throw_error with the token's datatype, so the
// message quotes the token from its first byte.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

#include "datatypes/binary.h"
#include "datatypes/binary_codecs.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/pair.h"
#include "datatypes/percent.h"
#include "datatypes/point2d.h"
#include "datatypes/point3d.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/time.h"
#include "datatypes/tuple.h"
#include "datatypes/url.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "io/lexer_internal.h"
#include "runtime/number_parsers.h"
#include "runtime/float_text.h"
#include "runtime/memory.h"
#include "runtime/string_units.h"

namespace kel::lexer {

namespace {

// ASCII hexadecimal digits only: no byte beyond 127 is a digit.
constexpr std::array<uint8_t, 256> build_hex_digits() {
  std::array<uint8_t, 256> table{};
  for (uint8_t& entry : table) entry = 255;
  for (int c = '0'; c <= '9'; ++c) table[static_cast<size_t>(c)] = static_cast<uint8_t>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) table[static_cast<size_t>(c)] = static_cast<uint8_t>(c - 'A' + 10);
  for (int c = 'a'; c <= 'f'; ++c) table[static_cast<size_t>(c)] = static_cast<uint8_t>(c - 'a' + 10);
  return table;
}
constexpr std::array<uint8_t, 256> kHexDigits = build_hex_digits();
static_assert(kHexDigits['f'] == 15 && kHexDigits['g'] == 255 && kHexDigits[0xE6] == 255);

constexpr bool is_digit(uint8_t c) { return c >= '0' && c <= '9'; }

constexpr uint8_t ascii_lower(uint8_t c) { return c >= 'A' && c <= 'Z' ? static_cast<uint8_t>(c + 32) : c; }

// Case-insensitive comparison of n bytes with a lower-case ASCII name.
bool same_name(const uint8_t* text, const char* name, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (ascii_lower(text[i]) != static_cast<uint8_t>(name[i])) return false;
  }
  return true;
}

struct NamedEscape {
  const char* name;
  uint32_t length;
  uint32_t code_point;
};
constexpr NamedEscape kNamedEscapes[] = {
    {"null", 4, 0}, {"back", 4, 8}, {"tab", 3, 9}, {"line", 4, 10},
    {"page", 4, 12}, {"esc", 3, 27}, {"del", 3, 127},
};
static_assert(sizeof(kNamedEscapes) / sizeof(kNamedEscapes[0]) == 7);

// One escape after its "^" (p is past the caret): the position after it, or
// null when it is malformed.
const uint8_t* read_escape(const uint8_t* p, const uint8_t* end, uint32_t* code_point) {
  if (p >= end) return nullptr;
  uint8_t c = *p;
  if (c == '(') {
    const uint8_t* q = p + 1;
    for (const NamedEscape& named : kNamedEscapes) {
      if (end - q > named.length && same_name(q, named.name, named.length) && q[named.length] == ')') {
        *code_point = named.code_point;
        return q + named.length + 1;
      }
    }
    uint32_t value = 0;
    int digits = 0;
    for (; q < end && *q != ')'; ++q) {
      uint8_t digit = kHexDigits[*q];
      if (digit > 15 || ++digits > 6) return nullptr;
      value = value * 16 + digit;
    }
    if (q >= end || value > character::kMaxCodePoint) return nullptr;
    *code_point = value;
    return q + 1;
  }
  switch (c) {
    case '"': *code_point = '"'; return p + 1;
    case '-': *code_point = '\t'; return p + 1;
    case '/': *code_point = '\n'; return p + 1;
    case '^': *code_point = '^'; return p + 1;
    case '{': *code_point = '{'; return p + 1;
    case '}': *code_point = '}'; return p + 1;
    case '~': *code_point = 127; return p + 1;
    case '@': *code_point = 0; return p + 1;
    default: break;
  }
  if (c >= 'a' && c <= 'z') {
    *code_point = c - 96u;
    return p + 1;
  }
  if (c >= 0x41 && c <= 0x5F) {
    *code_point = c - 64u;
    return p + 1;
  }
  if (c < 0x80) {
    *code_point = c;
    return p + 1;
  }
  const uint8_t* next;
  int32_t decoded = decode_utf8(p, end, &next);
  if (decoded < 0) return nullptr;
  *code_point = static_cast<uint32_t>(decoded);
  return next;
}

// Lines that a loader reading past the automaton's token end passes over
// are counted here, from the line at the token end (so a second call over
// the same token counts them once).
void count_lines_to(State& s, const uint8_t* resume) {
  int32_t line = s.line_at_token_end;
  for (const uint8_t* p = s.token_end; p < resume; ++p) line += *p == '\n';
  s.line = line;
}

// A value pushed on the evaluation stack by a datatype's constructor,
// taken off again.
Cell take_pushed(Cell* pushed) {
  Cell value = *pushed;
  stack::pop(1);
  return value;
}

// --- Numbers ------------------------------------------------------------------------------

// The integer of a token (optional sign, digits, "'" separators); false
// when its value leaves the 32-bit range, so that it reads as a float.
bool read_integer(State& s, const uint8_t* start, const uint8_t* end, int32_t* value, TypeId error_type) {
  const uint8_t* p = start;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  if (p >= end) throw_error(s, start, end, TYPE_PAIR);
  if (end - p == 1) {
    if (!is_digit(*p)) throw_error(s, start, end, static_cast<int32_t>(error_type));
    *value = negative ? -(*p - '0') : *p - '0';
    return true;
  }
  constexpr uint64_t kLimit = uint64_t{1} << 31;
  uint64_t magnitude = 0;
  bool any_digit = false;
  for (; p < end; ++p) {
    if (*p == '\'') {
      if (p + 1 < end && p[1] == '\'') throw_error(s, start, end, TYPE_INTEGER);
      continue;
    }
    if (!is_digit(*p)) throw_error(s, start, end, static_cast<int32_t>(error_type));
    any_digit = true;
    magnitude = magnitude * 10 + static_cast<uint64_t>(*p - '0');
    if (magnitude > kLimit) return false;
  }
  if (!any_digit) throw_error(s, start, end, static_cast<int32_t>(error_type));
  if (magnitude == kLimit && !negative) return false;
  *value = static_cast<int32_t>(negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude));
  return true;
}

// A float text: the syntax check, "'" separators dropped, the conversion
// of the whole text. False when any step refuses it.
bool read_float(const uint8_t* start, const uint8_t* end, int32_t exponent_adjustment, double* value) {
  const char* text = reinterpret_cast<const char*>(start);
  const char* text_end = reinterpret_cast<const char*>(end);
  if (!number_text::float_syntax_check(text, text_end)) return false;
  char copy[number_text::kMaxFloatText + 1];
  if (std::memchr(text, '\'', static_cast<size_t>(text_end - text)) != nullptr) {
    char* out = copy;
    for (const char* p = text; p < text_end; ++p) {
      if (*p != '\'') *out++ = *p;
    }
    text = copy;
    text_end = out;
  }
  int32_t remainder = 0;
  *value = float_type::parse(text, text_end, exponent_adjustment, &remainder);
  return remainder == 0;
}

// "1.#INF", "-1.#inf", "1.#NaN" (letters in any case).
bool read_special_float(const uint8_t* start, const uint8_t* end, double* value) {
  const uint8_t* p = start;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  if (end - p != 6 || p[0] != '1' || p[1] != '.' || p[2] != '#') return false;
  if (same_name(p + 3, "nan", 3)) {
    uint64_t bits = 0x7FF8000000000000ull;
    std::memcpy(value, &bits, sizeof bits);
    return true;
  }
  if (same_name(p + 3, "inf", 3)) {
    *value = negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    return true;
  }
  return false;
}

// --- Dates ---------------------------------------------------------------------------------

// Between min and max decimal digits at p; false when fewer than min.
bool read_digits(const uint8_t*& p, const uint8_t* end, int min, int max, int32_t* value, int* count = nullptr) {
  int n = 0;
  int32_t v = 0;
  while (p < end && n < max && is_digit(*p)) {
    v = v * 10 + (*p - '0');
    ++p;
    ++n;
  }
  if (count != nullptr) *count = n;
  *value = v;
  return n >= min;
}

struct TimeOfDay {
  double seconds = 0;
  int32_t zone_hours = 0;
  int32_t zone_minutes = 0;
  bool present = false;
};

// Seconds with an optional fraction: digits, optionally "." and digits.
bool read_seconds(const uint8_t*& p, const uint8_t* end, double* seconds) {
  const uint8_t* from = p;
  while (p < end && is_digit(*p)) ++p;
  if (p == from) return false;
  if (p < end && *p == '.') {
    ++p;
    while (p < end && is_digit(*p)) ++p;
  }
  int32_t remainder = 0;
  *seconds = float_type::parse(reinterpret_cast<const char*>(from), reinterpret_cast<const char*>(p), 0, &remainder);
  return remainder == 0 && *seconds < 60.0;
}

// "Z", or a sign, zone hours, an optional ":" and zone minutes, ending the token.
bool read_zone(const uint8_t*& p, const uint8_t* end, TimeOfDay* time) {
  if (p == end) return true;
  if (*p == 'Z') return ++p == end;
  if (*p != '+' && *p != '-') return false;
  bool negative = *p++ == '-';
  int32_t hours = 0;
  int32_t minutes = 0;
  if (!read_digits(p, end, 1, 2, &hours)) return false;
  if (p < end && *p == ':') ++p;
  read_digits(p, end, 0, 2, &minutes);
  if (hours > 15 || minutes > 59) return false;
  time->zone_hours = negative ? -hours : hours;
  time->zone_minutes = negative && hours == 0 ? -minutes : minutes;
  return p == end;
}

// The time after a date's "/" or "T": hours ":" minutes, optionally ":"
// and seconds, then the zone.
bool read_time_of_day(const uint8_t*& p, const uint8_t* end, TimeOfDay* time) {
  int32_t hours = 0;
  int32_t minutes = 0;
  double seconds = 0;
  if (!read_digits(p, end, 1, 2, &hours)) return false;
  if (p >= end || *p != ':') return false;
  ++p;
  if (!read_digits(p, end, 1, 2, &minutes)) return false;
  if (p < end && *p == ':') {
    ++p;
    if (!read_seconds(p, end, &seconds)) return false;
  }
  if (hours > 23 || minutes > 59) return false;
  time->seconds = hours * 3600.0 + minutes * 60.0 + seconds;
  time->present = true;
  return read_zone(p, end, time);
}

bool leap_year(int32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int32_t days_in_month(int32_t year, int32_t month) {
  constexpr int32_t kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && !leap_year(year) ? 28 : kDays[month - 1];
}

bool valid_date(int32_t year, int32_t month, int32_t day) {
  return year >= -9999 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
         day <= days_in_month(year, month);
}

constexpr const char* kMonthNames[12] = {"january", "february", "march",     "april",   "may",      "june",
                                         "july",    "august",   "september", "october", "november", "december"};

// A month written in letters: 3 to 9 letters that begin a month's name.
int32_t read_month_name(const uint8_t*& p, const uint8_t* end) {
  const uint8_t* from = p;
  while (p < end && ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z'))) ++p;
  size_t n = static_cast<size_t>(p - from);
  if (n < 3 || n > 9) return 0;
  for (int32_t month = 0; month < 12; ++month) {
    if (n <= std::strlen(kMonthNames[month]) && same_name(from, kMonthNames[month], n)) return month + 1;
  }
  return 0;
}

Cell make_date(int32_t year, int32_t month, int32_t day, const TimeOfDay& time) {
  Cell date = make_cell(TYPE_DATE);
  date::set_cell(&date, year, month, day, time.seconds, time.zone_hours, time.zone_minutes, time.present);
  return date;
}

// The three forms that a date in digits may take besides the general one.
// Each answers false when the text is not of its form.
bool read_compact_date(const uint8_t* start, const uint8_t* end, Cell* date, bool* valid) {
  if (end - start < 13 || start[8] != 'T') return false;
  for (int i = 0; i < 8; ++i) {
    if (!is_digit(start[i])) return false;
  }
  const uint8_t* p = start;
  int32_t year = 0, month = 0, day = 0, hours = 0, minutes = 0;
  read_digits(p, end, 4, 4, &year);
  read_digits(p, end, 2, 2, &month);
  read_digits(p, end, 2, 2, &day);
  ++p;  // "T"
  TimeOfDay time;
  *valid = false;
  if (!read_digits(p, end, 2, 2, &hours) || !read_digits(p, end, 2, 2, &minutes)) return true;
  double seconds = 0;
  if (p < end && is_digit(*p) && !read_seconds(p, end, &seconds)) return true;
  if (hours > 23 || minutes > 59 || !read_zone(p, end, &time)) return true;
  time.seconds = hours * 3600.0 + minutes * 60.0 + seconds;
  time.present = true;
  if (!valid_date(year, month, day)) return true;
  *date = make_date(year, month, day, time);
  *valid = true;
  return true;
}

}  // namespace

// --- Text ----------------------------------------------------------------------------------

void load_text(State& s, const uint8_t* token_start, const uint8_t* text, const uint8_t* text_end,
               uint32_t flags, TypeId type, bool escapes, bool store_it, TypeId error_type) {
  bool carets = escapes && (flags & token_flags::kCaret) != 0;
  bool plain = (flags & token_flags::kNonAscii) == 0 && !carets;
  uint32_t count = static_cast<uint32_t>(text_end - text);
  uint32_t unit = 1;
  if (!plain) {
    // First pass: check, count and find the widest code point.
    count = 0;
    uint32_t widest = 0;
    for (const uint8_t* p = text; p < text_end; ++count) {
      uint32_t code_point;
      if (*p == '^' && carets) {
        p = read_escape(p + 1, text_end, &code_point);
        if (p == nullptr) throw_error(s, token_start, text_end, static_cast<int32_t>(error_type));
      } else if (*p < 0x80) {
        code_point = *p++;
      } else {
        int32_t decoded = decode_utf8(p, text_end, &p);
        if (decoded < 0) throw_error(s, token_start, text_end, static_cast<int32_t>(error_type));
        code_point = static_cast<uint32_t>(decoded);
      }
      widest = std::max(widest, code_point);
    }
    unit = unicode::unit_for(widest);
  }
  if (!store_it) return;
  NodeId node = memory::alloc_codepoints(count, unit);
  SeriesBuffer* buffer = memory::buffer_of(node);
  uint8_t* out = buffer->head_ptr();
  if (plain) {
    std::memcpy(out, text, count);
  } else {
    for (const uint8_t* p = text; p < text_end; out += unit) {
      uint32_t code_point;
      if (*p == '^' && carets) {
        p = read_escape(p + 1, text_end, &code_point);
      } else if (*p < 0x80) {
        code_point = *p++;
      } else {
        code_point = static_cast<uint32_t>(decode_utf8(p, text_end, &p));
      }
      unicode::put_char(out, unit, code_point);
    }
  }
  buffer->tail = buffer->offset + count * unit;
  store(s, string::make_value(node, 0, type));
}

void scan_string_token(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, int) {
  TypeId type = s.type_override > 0 ? static_cast<TypeId>(s.type_override) : TYPE_STRING;
  load_text(s, start, start + 1, end, flags, type, true, false, type);
  s.input_pos = end + 1;
}

void load_string(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, int mode) {
  TypeId type = s.type_override > 0 ? static_cast<TypeId>(s.type_override) : TYPE_STRING;
  load_text(s, start, start + 1, end, flags, type, true, mode != 0, type);
  s.input_pos = end + 1;
}

void load_raw_string(State& s, const uint8_t* start, const uint8_t* end, uint32_t, int mode) {
  const uint8_t* tail = s.input_tail;
  const uint8_t* open = start;
  while (open < tail && *open == '%') ++open;
  size_t percents = static_cast<size_t>(open - start);
  if (open >= tail || *open != '{') throw_error(s, start, end, TYPE_STRING);
  // The text ends at the first "}" followed by at least as many "%" as
  // opened it; more than that is an error.
  const uint8_t* close = nullptr;
  for (const uint8_t* q = open + 1; q < tail; ++q) {
    q = static_cast<const uint8_t*>(std::memchr(q, '}', static_cast<size_t>(tail - q)));
    if (q == nullptr) break;
    size_t following = 0;
    while (q + 1 + following < tail && q[1 + following] == '%') ++following;
    if (following >= percents) {
      if (following > percents) throw_error(s, start, q + 1 + following, TYPE_STRING);
      close = q;
      break;
    }
  }
  if (close == nullptr) throw_error(s, start, tail, TYPE_STRING);
  const uint8_t* resume = close + 1 + percents;
  if (mode == 0 && wants(s, kEventOpen)) fire_event(s, kEventOpen, TYPE_STRING, nullptr, start, open + 1);
  uint32_t text_flags = 0;
  for (const uint8_t* p = open + 1; p < close; ++p) {
    if (*p >= 0x80) {
      text_flags = token_flags::kNonAscii;
      break;
    }
  }
  load_text(s, start, open + 1, close, text_flags, TYPE_STRING, false, mode != 0, TYPE_STRING);
  if (mode == 0 && wants(s, kEventClose)) fire_event(s, kEventClose, TYPE_STRING, nullptr, close, resume);
  s.type = TYPE_STRING;
  s.input_pos = resume;
  count_lines_to(s, resume);
}

void load_char(State& s, const uint8_t* start, const uint8_t* end, uint32_t, int mode) {
  // "#" and a quote start the token; end is at the closing quote.
  if (end >= s.input_tail || *end != '"' || end - start < 3) throw_error(s, start, end + 1, TYPE_CHAR);
  const uint8_t* p = start + 2;
  uint32_t code_point = 0;
  if (*p == '^') {
    p = read_escape(p + 1, end, &code_point);
  } else {
    int32_t decoded = decode_utf8(p, end, &p);
    code_point = static_cast<uint32_t>(decoded);
    if (decoded < 0) p = nullptr;
  }
  if (p != end || code_point > character::kMaxCodePoint) throw_error(s, start, end + 1, TYPE_CHAR);
  if (mode != 0) store(s, character::make(code_point));
  s.input_pos = end + 1;
}

void load_file(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, int mode) {
  if (end - start >= 2 && start[1] == '"') {
    // The quoted form: escapes apply, so the closing quote is found here
    // rather than by the automaton, which took the first quote it met.
    const uint8_t* q = start + 2;
    while (q < s.input_tail && *q != '"') {
      if (*q == '\n') throw_error(s, start, q, TYPE_FILE);
      if (*q == '^' && q + 1 < s.input_tail && q[1] != '\n') ++q;
      ++q;
    }
    if (q >= s.input_tail) throw_error(s, start, q, TYPE_FILE);
    load_text(s, start, start + 2, q, token_flags::kNonAscii | token_flags::kCaret, TYPE_FILE, true, mode != 0,
              TYPE_FILE);
    s.input_pos = q + 1;
    return;
  }
  const uint8_t* text = start + 1;
  if (std::memchr(text, '%', static_cast<size_t>(end - text)) != nullptr) {
    // Percent escapes decode as in a URL.
    load_text(s, start, text, end, flags, TYPE_FILE, false, false, TYPE_FILE);
    if (mode != 0) {
      Cell file = take_pushed(url::load(text, static_cast<uint32_t>(end - text)));
      store(s, file.set_type(TYPE_FILE));
    }
  } else {
    load_text(s, start, text, end, flags, TYPE_FILE, false, mode != 0, TYPE_FILE);
  }
  s.input_pos = end;
}

void load_tag(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, int mode) {
  if (*start != '<' || end >= s.input_tail) throw_error(s, start, end, TYPE_TAG);
  load_text(s, start, start + 1, end, flags, TYPE_TAG, false, mode != 0, TYPE_TAG);
  s.input_pos = end + 1;
}

void load_url(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, int mode) {
  if (*start == ':') throw_error(s, start, end, TYPE_GET_WORD);
  if (*start == '\'') throw_error(s, start, end, TYPE_LIT_WORD);
  if (std::memchr(start, '%', static_cast<size_t>(end - start)) != nullptr) {
    load_text(s, start, start, end, flags, TYPE_URL, false, false, TYPE_URL);
    if (mode != 0) store(s, take_pushed(url::load(start, static_cast<uint32_t>(end - start))));
  } else {
    load_text(s, start, start, end, flags, TYPE_URL, false, mode != 0, TYPE_URL);
  }
  s.input_pos = end;
}

void load_email(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, int mode) {
  load_text(s, start, start, end, flags, TYPE_EMAIL, false, mode != 0, TYPE_EMAIL);
  s.input_pos = end;
}

void load_ref(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, int mode) {
  load_text(s, start, start + 1, end, flags, TYPE_REF, false, mode != 0, TYPE_REF);
  s.input_pos = end;
}

// --- Words ---------------------------------------------------------------------------------

void store_word(State& s, const uint8_t* name, const uint8_t* name_end, TypeId kind) {
  uint32_t symbol = symbol::make_from_text(reinterpret_cast<const char*>(name), static_cast<uint32_t>(name_end - name));
  Cell value;
  if (kind == TYPE_ISSUE) {
    value = word::make_value(symbol, context::global(), -1, TYPE_ISSUE);
  } else {
    word::make_at(symbol, &value);
    value.set_type(kind);
  }
  store(s, value);
}

void load_word(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, int mode) {
  TypeId kind = s.type_override >= 0 ? static_cast<TypeId>(s.type_override) : s.type;
  // A malformed sequence never becomes a symbol's name (issues and
  // refinements have no scanner that would have checked it).
  if ((flags & token_flags::kNonAscii) != 0) {
    for (const uint8_t* p = start; p < end;) {
      if (decode_utf8(p, end, &p) < 0) throw_error(s, start, end, static_cast<int32_t>(kind));
    }
  }
  const uint8_t* name = start;
  const uint8_t* name_end = end;
  switch (kind) {
    case TYPE_SET_WORD: --name_end; break;
    case TYPE_GET_WORD:
    case TYPE_LIT_WORD:
    case TYPE_REFINEMENT:
    case TYPE_ISSUE: ++name; break;
    default: break;
  }
  if (name >= name_end) throw_error(s, start, end, static_cast<int32_t>(kind));
  if (mode != 0) store_word(s, name, name_end, kind);
  s.type = kind;
}

void load_refinement(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, int mode) {
  size_t length = static_cast<size_t>(end - start);
  if (length == 1 && *start == '/') {
    s.type_override = TYPE_WORD;
  } else if (length == 2 && start[0] == '\'') {
    s.type_override = TYPE_LIT_WORD;
  } else if (length == 2 && start[0] == ':') {
    s.type_override = TYPE_GET_WORD;
  } else if (length == 2 && start[1] == ':') {
    s.type_override = TYPE_SET_WORD;
  } else if (*start != '/') {
    throw_error(s, start, end, TYPE_REFINEMENT);
  } else {
    s.type_override = TYPE_REFINEMENT;
  }
  load_word(s, start, end, flags, mode);
}

// --- Numbers ------------------------------------------------------------------------------

void load_integer(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, int mode) {
  int32_t value = 0;
  if (!read_integer(s, start, end, &value, TYPE_INTEGER)) {
    s.type = TYPE_FLOAT;
    load_float(s, start, end, flags, mode);
    return;
  }
  if (mode != 0) store(s, integer::make(value));
  s.input_pos = end;
}

void load_float(State& s, const uint8_t* start, const uint8_t* end, uint32_t, int mode) {
  double value = 0;
  if (!read_float(start, end, 0, &value)) throw_error(s, start, end, TYPE_FLOAT);
  if (mode != 0) store(s, float_type::make(value));
  s.input_pos = end;
}

void load_special_float(State& s, const uint8_t* start, const uint8_t* end, uint32_t, int mode) {
  double value = 0;
  if (!read_special_float(start, end, &value)) throw_error(s, start, end, TYPE_FLOAT);
  if (mode != 0) store(s, float_type::make(value));
  s.input_pos = end;
}

void load_percent(State& s, const uint8_t* start, const uint8_t* end, uint32_t, int mode) {
  // end is at the "%".
  double value = 0;
  if (!read_float(start, end, -2, &value)) throw_error(s, start, end + 1, TYPE_FLOAT);
  if (mode != 0) store(s, percent::make(value));
  s.input_pos = end + 1;
}

void load_hex(State& s, const uint8_t* start, const uint8_t* end, uint32_t, int mode) {
  // Digits, then "h".
  const uint8_t* digits_end = end - 1;
  ptrdiff_t digits = digits_end - start;
  if (digits < 1 || *digits_end != 'h') throw_error(s, start, end, TYPE_INTEGER);
  if (digits == 1 && !is_digit(*start)) throw_error(s, start, end, TYPE_WORD);
  if (digits < 2 || digits > 8) throw_error(s, start, end, TYPE_INTEGER);
  uint32_t value = 0;
  for (const uint8_t* p = start; p < digits_end; ++p) {
    uint8_t digit = kHexDigits[*p];
    if (digit > 15) throw_error(s, start, end, TYPE_INTEGER);
    value = value << 4 | digit;
  }
  if (mode != 0) store(s, integer::make(static_cast<int32_t>(value)));
  s.type = TYPE_INTEGER;
  s.input_pos = end;
}

void load_tuple(State& s, const uint8_t* start, const uint8_t* end, uint32_t, int mode) {
  uint8_t bytes[tuple::kMaxSize] = {};
  uint32_t count = 0;
  const uint8_t* p = start;
  for (;;) {
    int32_t part = 0;
    int digits = 0;
    if (!read_digits(p, end, 1, 4, &part, &digits) || part > 255 || count == tuple::kMaxSize) {
      throw_error(s, start, end, TYPE_TUPLE);
    }
    bytes[count++] = static_cast<uint8_t>(part);
    if (p == end) break;
    if (*p != '.' || ++p == end) throw_error(s, start, end, TYPE_TUPLE);
  }
  if (count < tuple::kMinSize) throw_error(s, start, end, TYPE_TUPLE);
  if (mode != 0) {
    Cell value = make_cell(TYPE_TUPLE);
    store(s, *tuple::set_bytes(&value, bytes, count));
  }
  s.input_pos = end;
}

void load_pair(State& s, const uint8_t* start, const uint8_t* end, uint32_t, int mode) {
  if (std::memchr(start, '.', static_cast<size_t>(end - start)) != nullptr) throw_error(s, start, end, TYPE_PAIR);
  const uint8_t* x = start + 1;
  while (x < end && *x != 'x' && *x != 'X') ++x;
  if (x >= end) throw_error(s, start, end, TYPE_PAIR);
  int32_t first = 0;
  int32_t second = 0;
  if (!read_integer(s, start, x, &first, TYPE_PAIR) || !read_integer(s, x + 1, end, &second, TYPE_PAIR)) {
    throw_error(s, start, end, TYPE_PAIR);
  }
  if (mode != 0) {
    Cell value = make_cell(TYPE_PAIR);
    store(s, *pair::set_cell(&value, first, second));
  }
  s.input_pos = end;
}

void load_time(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, int mode) {
  auto invalid = [&] { throw_error(s, start, end, TYPE_TIME); };
  if ((flags & token_flags::kExponent) != 0) invalid();
  const uint8_t* p = start;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  // The first number may group its digits with "'".
  double first = 0;
  bool any_digit = false;
  for (; p < end && (is_digit(*p) || *p == '\''); ++p) {
    if (*p == '\'') continue;
    first = first * 10 + (*p - '0');
    any_digit = true;
  }
  if (!any_digit || p >= end || *p != ':' || ++p == end) invalid();
  int32_t second = 0;
  const uint8_t* second_start = p;
  if (!read_digits(p, end, 1, 9, &second)) invalid();
  double seconds = 0;
  if (p == end) {
    seconds = first * 3600 + second * 60.0;
  } else if (*p == '.' || *p == ',') {
    // Minutes, then seconds with a fraction.
    char text[number_text::kMaxFloatText + 1];
    size_t length = static_cast<size_t>(end - second_start);
    if (length > number_text::kMaxFloatText) invalid();
    std::memcpy(text, second_start, length);
    std::replace(text, text + length, ',', '.');
    int32_t remainder = 0;
    double fraction = float_type::parse(text, text + length, 0, &remainder);
    if (remainder != 0 || !(fraction >= 0)) invalid();
    seconds = first * 60 + fraction;
  } else if (*p == ':') {
    ++p;
    const uint8_t* from = p;
    while (p < end && (is_digit(*p) || *p == '.')) ++p;
    int32_t remainder = 0;
    double rest = float_type::parse(reinterpret_cast<const char*>(from), reinterpret_cast<const char*>(end), 0, &remainder);
    if (from == end || p != end || remainder != 0 || !(rest >= 0)) invalid();
    seconds = first * 3600 + second * 60.0 + rest;
  } else {
    invalid();
  }
  if (mode != 0) {
    Cell value = make_cell(TYPE_TIME);
    store(s, *time_type::make_at(&value, negative ? -seconds : seconds));
  }
  s.input_pos = end;
}

void load_date(State& s, const uint8_t* start, const uint8_t* end, uint32_t, int mode) {
  auto invalid = [&] { throw_error(s, start, end, TYPE_DATE); };
  Cell date;
  bool valid = false;
  if (read_compact_date(start, end, &date, &valid)) {
    if (!valid) invalid();
    if (mode != 0) store(s, date);
    s.input_pos = end;
    return;
  }
  const uint8_t* p = start;
  bool first_negative = *p == '-';
  if (first_negative) ++p;
  int32_t first = 0;
  int first_digits = 0;
  if (!read_digits(p, end, 1, 4, &first, &first_digits) || p >= end || is_digit(*p)) invalid();
  if (first_negative) first = -first;
  uint8_t separator = *p++;
  if (separator != '-' && separator != '/') invalid();
  TimeOfDay time;

  // Week date: year "-W" week ["-" weekday] ["T" time].
  if (separator == '-' && first_digits == 4 && p < end && *p == 'W') {
    ++p;
    int32_t week = 0;
    int32_t weekday = 0;
    if (!read_digits(p, end, 2, 2, &week) || week < 1 || week > 53) invalid();
    if (p < end && *p == '-') {
      ++p;
      if (!read_digits(p, end, 1, 1, &weekday) || weekday < 1 || weekday > 7) invalid();
    }
    if (p < end && (*p++ != 'T' || !read_time_of_day(p, end, &time))) invalid();
    if (p != end || !valid_date(first, 1, 1)) invalid();
    if (mode != 0) {
      date = make_date(first, 1, 1, time);
      date::set_week(&date, week);
      if (weekday != 0) date::set_week_day(&date, weekday);
      store(s, date);
    }
    s.input_pos = end;
    return;
  }

  // Ordinal date: year "-" three digits of the day of the year ["T" time].
  if (separator == '-') {
    const uint8_t* q = p;
    int32_t year_day = 0;
    if (read_digits(q, end, 3, 3, &year_day) && (q == end || *q == 'T')) {
      p = q;
      if (p < end && (++p, !read_time_of_day(p, end, &time))) invalid();
      if (year_day < 1 || year_day > (leap_year(first) ? 366 : 365) || !valid_date(first, 1, 1)) invalid();
      if (mode != 0) {
        date = make_date(first, 1, 1, time);
        date::set_year_day(&date, year_day);
        store(s, date);
      }
      s.input_pos = end;
      return;
    }
  }

  // General: first, the month in digits or letters, last, each joined by
  // the same separator; then optionally "/" or "T" and a time.
  int32_t month = 0;
  if (p < end && is_digit(*p)) {
    if (!read_digits(p, end, 1, 2, &month)) invalid();
  } else {
    month = read_month_name(p, end);
  }
  if (month == 0 || p >= end || *p++ != separator) invalid();
  bool last_negative = p < end && *p == '-';
  if (last_negative) ++p;
  int32_t last = 0;
  int last_digits = 0;
  if (!read_digits(p, end, 1, 4, &last, &last_digits) || (p < end && is_digit(*p))) invalid();
  if (last_negative) last = -last;
  if (p < end && ((*p != '/' && *p != 'T') || (++p, !read_time_of_day(p, end, &time)))) invalid();
  int32_t year = first;
  int32_t day = last;
  int year_digits = first_digits;
  // The day comes first when the last number cannot be a day or the first
  // is written with at most two digits.
  if (last_negative || last > 31 || first_digits <= 2) {
    day = first;
    year = last;
    year_digits = last_digits;
  }
  if (year_digits <= 2 && year >= 0 && year <= 99) year += year < 50 ? 2000 : 1900;
  if (!valid_date(year, month, day)) invalid();
  if (mode != 0) store(s, make_date(year, month, day, time));
  s.input_pos = end;
}

void load_binary(State& s, const uint8_t* start, const uint8_t* end, uint32_t, int mode) {
  // [base] "#{" digits "}": end is at the "}".
  int32_t base = 16;
  const uint8_t* p = start;
  if (*p != '#') {
    if (!read_digits(p, end, 1, 2, &base) || *p != '#') throw_error(s, start, end + 1, TYPE_BINARY);
  }
  if (base != 2 && base != 16 && base != 64) throw_error(s, start, end + 1, TYPE_BINARY);
  const uint8_t* text = p + 2;
  // The digits outside comments, to refuse what the codecs would let
  // pass: an odd hexadecimal digit, a base-64 group cut short.
  uint32_t digits = 0;
  bool padded = false;
  for (const uint8_t* q = text; q < end; ++q) {
    if (*q == ';') {
      while (q < end && *q != '\n') ++q;
      continue;
    }
    if (*q == '=') {
      padded = true;
      break;
    }
    if (*q > ' ') ++digits;
  }
  bool complete = base == 16   ? digits % 2 == 0
                  : base == 2  ? digits % 8 == 0
                               : digits % 4 == 0 || (padded && digits % 4 >= 2);
  if (!complete) throw_error(s, start, end + 1, TYPE_BINARY);
  NodeId node = binary::decode_base(base, text, static_cast<uint32_t>(end - text), 1);
  if (node == 0) throw_error(s, start, end + 1, TYPE_BINARY);
  if (mode != 0) store(s, binary::make_value(node));
  s.input_pos = end + 1;
}

void load_point(State& s, const uint8_t* start, const uint8_t* end, uint32_t, int mode) {
  // The text between "(" and ")": two or three numbers separated by ",".
  s.start_state = resume_state(s);
  s.new_line = s.opening_new_line;
  const uint8_t* opening = start - 1;
  double coordinates[3] = {};
  int count = 0;
  const uint8_t* p = start;
  TypeId type = TYPE_POINT2D;
  for (;;) {
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
    const uint8_t* from = p;
    while (p < end && *p != ',' && *p != ' ' && *p != '\t') ++p;
    double value = 0;
    if (!read_float(from, p, 0, &value) && !read_special_float(from, p, &value)) {
      throw_error(s, opening, end + 1, static_cast<int32_t>(type));
    }
    coordinates[count++] = value;
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
    if (p == end) break;
    if (*p != ',' || count == 3) throw_error(s, opening, end + 1, static_cast<int32_t>(type));
    ++p;
    if (count == 2) type = TYPE_POINT3D;
  }
  if (count < 2 || end >= s.input_tail) throw_error(s, opening, end + 1, static_cast<int32_t>(type));
  s.type = type;
  s.input_pos = end + 1;
  if (mode != 0) {
    Cell point = make_cell(type);
    if (type == TYPE_POINT2D) {
      point2d::set_cell(&point, coordinates[0], coordinates[1]);
    } else {
      point3d::set_cell(&point, coordinates[0], coordinates[1], coordinates[2]);
    }
    store(s, point);
  }
}

void load_money(State& s, const uint8_t* start, const uint8_t* end, uint32_t, int mode) {
  auto invalid = [&] { throw_error(s, start, end, TYPE_MONEY); };
  const uint8_t* p = start;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  const auto* dollar = static_cast<const uint8_t*>(std::memchr(p, '$', static_cast<size_t>(end - p)));
  if (dollar == nullptr || (dollar - p != 0 && dollar - p != 3)) invalid();
  uint32_t currency = 0;
  if (dollar > p) {
    int32_t index = money::currency_code_index(
        std::string_view(reinterpret_cast<const char*>(p), static_cast<size_t>(dollar - p)));
    if (index < 0) invalid();
    currency = static_cast<uint32_t>(index);
  }
  p = dollar + 1;
  if (p == end || *p == '.' || *p == ',' || *p == '\'') invalid();
  while (p < end && (*p == '0' || *p == '\'')) ++p;
  const uint8_t* integer_start = p;
  int integer_digits = 0;
  for (; p < end && (is_digit(*p) || *p == '\''); ++p) {
    if (*p == '\'') {
      if (p + 1 >= end || p[1] == '\'') invalid();
      continue;
    }
    if (++integer_digits > money::kIntegerDigits) invalid();
  }
  const uint8_t* integer_end = p;
  const uint8_t* fraction_start = end;
  if (p < end) {
    if ((*p != '.' && *p != ',') || ++p == end) invalid();
    fraction_start = p;
    int fraction_digits = 0;
    for (; p < end; ++p) {
      if (!is_digit(*p) || ++fraction_digits > money::kFractionDigits) invalid();
    }
  }
  auto text = [](const uint8_t* from, const uint8_t* to) {
    return std::string_view(reinterpret_cast<const char*>(from), static_cast<size_t>(to - from));
  };
  Cell value = make_cell(TYPE_MONEY);
  if (!money::make_from_digits(&value, negative, currency, text(integer_start, integer_end),
                               text(fraction_start, end))) {
    invalid();
  }
  if (mode != 0) store(s, value);
  s.input_pos = end;
}

// --- Construction syntax and maps -------------------------------------------------------

bool construct_value(const uint8_t* text, const uint8_t* text_end, Cell* out) {
  size_t length = static_cast<size_t>(text_end - text);
  struct Keyword {
    const char* name;
    Cell value;
  };
  const Keyword keywords[] = {
      {"true", logic::make(true)},
      {"false", logic::make(false)},
      {"none", make_cell(TYPE_NONE)},
      {"unset", make_cell(TYPE_UNSET)},
  };
  for (const Keyword& keyword : keywords) {
    if (length == std::strlen(keyword.name) && same_name(text, keyword.name, length)) {
      *out = keyword.value;
      return true;
    }
  }
  for (TypeId id = 1; id <= kTypeCount; ++id) {
    const char* name = datatype_name(id);
    if (name == nullptr || std::strlen(name) != length) continue;
    bool equal = true;
    for (size_t i = 0; i < length && equal; ++i) equal = ascii_lower(text[i]) == ascii_lower(static_cast<uint8_t>(name[i]));
    if (equal) {
      *out = datatype::make(id);
      return true;
    }
  }
  return false;
}

bool make_map(Cell* cell, const Cell* pairs, uint32_t count) {
  NodeId node = memory::alloc_cells(count == 0 ? 1 : count);
  SeriesBuffer* buffer = memory::buffer_of(node);
  if (count > 0) std::memcpy(buffer->head_ptr(), pairs, size_t{count} * sizeof(Cell));
  buffer->tail = buffer->offset + count * static_cast<uint32_t>(sizeof(Cell));
  Cell block = block::make_value(node);
  Cell map;
  map::make_at(&map, &block, static_cast<int32_t>(count));
  *cell = map;
  return true;
}

bool map_key_allowed(TypeId type) { return map::key_type_q(type); }

}  // namespace kel::lexer
