// Console output (see output.h).
//
// All text is encoded as UTF-8 into one 1024-byte buffer that goes to the
// sink (standard output unless a test captured it) when 1020 bytes or more
// are used, which leaves room for one more code point, and at the end of
// every write, so nothing lingers between writes. On a terminal the text of
// one write is first run through the escape translator; redirected, the
// bytes go out as they are. The translator keeps only the current attribute
// between writes: cursor saving is left to the terminal (ESC7/ESC8).
#include "runtime/output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "runtime/output_hooks.h"
#include "runtime/string_units.h"

namespace kel::output {

namespace {

constexpr size_t kBufferSize = 1024;
constexpr size_t kFlushThreshold = 1020;
constexpr char kEscape = '\x1b';

char buffer[kBufferSize];
size_t buffer_used = 0;
// -1 until init() or the first write asks the operating system.
int terminal_state = -1;
void (*sink)(const char* bytes, size_t count) = nullptr;
EscapeTranslator translator;

void (*gui_suspend)() = nullptr;
void (*gui_resume)() = nullptr;
int gui_suspension_depth = 0;

void append_byte(char byte) {
  buffer[buffer_used++] = byte;
  if (buffer_used >= kFlushThreshold) flush();
}

void append_bytes(const char* bytes, size_t count) {
  while (count > 0) {
    size_t room = kBufferSize - buffer_used;
    size_t part = count < room ? count : room;
    std::memcpy(buffer + buffer_used, bytes, part);
    buffer_used += part;
    bytes += part;
    count -= part;
    if (buffer_used >= kFlushThreshold) flush();
  }
}

// Surrogates (a UCS-2 string may hold a lone one) and values beyond Unicode
// have no UTF-8 form; they are shown as U+FFFD rather than ending the print
// half-way.
size_t encode_utf8(uint32_t code_point, char* out) {
  if ((code_point >= 0xD800 && code_point <= 0xDFFF) || code_point > 0x10FFFF) code_point = 0xFFFD;
  if (code_point < 0x80) {
    out[0] = static_cast<char>(code_point);
    return 1;
  }
  if (code_point < 0x800) {
    out[0] = static_cast<char>(0xC0 | (code_point >> 6));
    out[1] = static_cast<char>(0x80 | (code_point & 0x3F));
    return 2;
  }
  if (code_point < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (code_point >> 12));
    out[1] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (code_point & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (code_point >> 18));
  out[1] = static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (code_point & 0x3F));
  return 4;
}

template <class Consume>
void for_each_code_point(const void* text, size_t byte_count, int unit, Consume&& consume) {
  const auto* bytes = static_cast<const uint8_t*>(text);
  size_t count = byte_count / static_cast<size_t>(unit);
  for (size_t i = 0; i < count; ++i)
    consume(unicode::get_char(bytes + i * static_cast<size_t>(unit), static_cast<uint32_t>(unit)));
}

// Text that is already UTF-8, translated on a terminal.
void append_text(const char* bytes, size_t count) {
  if (is_terminal()) {
    std::string translated = translator.translate(std::string_view(bytes, count));
    append_bytes(translated.data(), translated.size());
  } else {
    append_bytes(bytes, count);
  }
}

template <class Number>
Number print_number(const char* format, Number value) {
  char text[64];
  int length = std::snprintf(text, sizeof text, format, value);
  if (length < 0) return value;
  size_t count = static_cast<size_t>(length) < sizeof text ? static_cast<size_t>(length) : sizeof text - 1;
  write(text, count, 1, false);
  output_hooks::run_raw_output_hooks(text, count, 0);
  return value;
}

}  // namespace

void init() {
  flush();
  terminal_state = ::isatty(STDOUT_FILENO) ? 1 : 0;
  translator.reset();
}

bool is_terminal() {
  if (terminal_state < 0) terminal_state = ::isatty(STDOUT_FILENO) ? 1 : 0;
  return terminal_state == 1;
}

void set_terminal(bool terminal) { terminal_state = terminal ? 1 : 0; }

void set_sink(void (*new_sink)(const char* bytes, size_t count)) {
  flush();
  sink = new_sink;
}

// Other write failures are ignored: there is nowhere left to report them.
// A reader that has gone (EPIPE: SIGPIPE itself is ignored) ends the
// process quietly with the status a Unix program that SIGPIPE ended
// reports, so a program whose output goes into `head` stops with it.
void write_standard_output(const char* bytes, size_t count) {
  while (count > 0) {
    ssize_t written = ::write(STDOUT_FILENO, bytes, count);
    if (written < 0) {
      if (errno == EINTR) continue;
      if (errno == EPIPE) ::_exit(kClosedPipeStatus);
      return;
    }
    bytes += written;
    count -= static_cast<size_t>(written);
  }
}

void flush() {
  if (buffer_used == 0) return;
  size_t count = buffer_used;
  // Reset first: a sink that prints must not see the same bytes again.
  buffer_used = 0;
  if (sink) sink(buffer, count);
  else write_standard_output(buffer, count);
}

void write(const void* text, size_t byte_count, int unit, bool line_end) {
  if (unit != 1 && unit != 2 && unit != 4) unicode::bad_unit();
  if (is_terminal()) {
    // The translator needs the whole write at once to see sequences whole.
    std::string utf8;
    utf8.reserve(byte_count);
    for_each_code_point(text, byte_count, unit, [&](uint32_t code_point) {
      char encoded[4];
      utf8.append(encoded, encode_utf8(code_point, encoded));
    });
    std::string translated = translator.translate(utf8);
    append_bytes(translated.data(), translated.size());
  } else {
    for_each_code_point(text, byte_count, unit, [](uint32_t code_point) {
      // At most 1019 bytes are ever held between code points, so four more fit.
      buffer_used += encode_utf8(code_point, buffer + buffer_used);
      if (buffer_used >= kFlushThreshold) flush();
    });
  }
  // After translation, so a sequence cut off at the end cannot swallow it.
  if (line_end) append_byte('\n');
  flush();
}

void print_latin1(const uint8_t* text, size_t byte_count) { write(text, byte_count, 1, false); }
void print_line_latin1(const uint8_t* text, size_t byte_count) { write(text, byte_count, 1, true); }
void print_ucs2(const uint16_t* text, size_t byte_count) { write(text, byte_count, 2, false); }
void print_line_ucs2(const uint16_t* text, size_t byte_count) { write(text, byte_count, 2, true); }
void print_ucs4(const uint32_t* text, size_t byte_count) { write(text, byte_count, 4, false); }
void print_line_ucs4(const uint32_t* text, size_t byte_count) { write(text, byte_count, 4, true); }

void print_bytes(const char* bytes, size_t count) {
  append_text(bytes, count);
  flush();
}

const char* print_c_string(const char* text) {
  size_t count = std::strlen(text);
  append_bytes(text, count);
  flush();
  output_hooks::run_raw_output_hooks(text, count, 0);
  return text;
}

int32_t form_integer(int32_t value) { return print_number("%i", value); }
uint32_t form_hex2(uint32_t value) { return print_number("%02X", value); }
uint32_t form_hex8(uint32_t value) { return print_number("%08X", value); }
double form_float(double value) { return print_number("%.16g", value); }
float form_float32(float value) {
  print_number("%.7g", static_cast<double>(value));
  return value;
}

// --- Terminal GUI suspension ------------------------------------------------------

void set_terminal_gui_hooks(void (*suspend)(), void (*resume)()) {
  gui_suspend = suspend;
  gui_resume = resume;
}

SuspendTerminalGui::SuspendTerminalGui() {
  if (gui_suspension_depth++ == 0 && gui_suspend) gui_suspend();
}

SuspendTerminalGui::~SuspendTerminalGui() {
  if (--gui_suspension_depth == 0 && gui_resume) gui_resume();
}

// --- Escape translation -------------------------------------------------------------
//
// After ESC "[" the units are read in four states; numbers accumulate as
// (number x 10 + digit) modulo 65535. What each ending becomes:
//
//   state 1 (start)   digit: p begins, state 2      ";": ignored
//                     "s" -> ESC7                   "u" -> ESC8
//                     "K" -> ESC[K                  "H", "f" -> ESC[H
//                     "J" (from the start of the cursor's row down)
//                         -> ESC7 CR ESC[J ESC8
//                     "?" right after "[": the sequence passes unchanged up
//                         to its final byte (0x40-0x7E)
//   state 2 (after p) digit: p continues            ";": state 3
//                     "m" -> rendition p
//                     "A" "B" "C" "D" -> ESC[pA etc. (nothing when p is 0,
//                         which a terminal would take as 1)
//                     "J": p 1 -> rows above the cursor's row erased,
//                              p 2 -> ESC[2J ESC[H, else nothing
//                     "K": p 1 -> ESC[1K CR, p 2 -> ESC[2K CR, else nothing
//   state 3 (p ";")   digit: q begins, state 4      ";": ignored
//   state 4 (after q) digit: q continues
//                     "m" -> renditions p then q
//                     ";" -> renditions p then q kept for the rest of the
//                            sequence (shown only by a later "m"); state 1
//                     "H", "f" -> column p, row q, both from 0:
//                            ESC[<q+1>;<p+1>H
//
// Any other unit ends the sequence without effect and is consumed (a whole
// UTF-8 sequence, never part of one). An ESC not followed by "[" is an
// ordinary character; one cut off by the end of the text is dropped.

namespace {

// The foreground (and, shifted left by 4, background) bits for colour codes
// 30-37 / 40-47: blue 1, green 2, red 4.
constexpr int32_t kColourBits[8] = {0, 4, 2, 6, 1, 5, 3, 7};
constexpr int32_t kUnderline = 0x8000;
constexpr int32_t kForegroundDefaults = EscapeTranslator::kDefaultForegroundInForeground |
                                        EscapeTranslator::kDefaultBackgroundInForeground;
constexpr int32_t kBackgroundDefaults = EscapeTranslator::kDefaultBackgroundInBackground |
                                        EscapeTranslator::kDefaultForegroundInBackground;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The position after the unit starting at `at`: continuation bytes of a
// UTF-8 sequence go with their lead byte.
size_t past_unit(std::string_view text, size_t at) {
  auto lead = static_cast<uint8_t>(text[at]);
  size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  size_t end = at + 1;
  while (end < text.size() && end < at + length && (static_cast<uint8_t>(text[end]) & 0xC0) == 0x80)
    ++end;
  return end;
}

// Windows colour bits (1 blue, 2 green, 4 red) to the ANSI colour index
// (1 red, 2 green, 4 blue).
int ansi_colour(int32_t bits) { return ((bits & 1) << 2) | (bits & 2) | ((bits & 4) >> 2); }

void append_number(std::string& out, uint32_t number) { out += std::to_string(number); }

void append_cursor_move(std::string& out, uint32_t count, char direction) {
  // A terminal takes a count of 0 as 1; here it means no move.
  if (count == 0) return;
  out += "\x1b[";
  append_number(out, count);
  out += direction;
}

}  // namespace

int32_t EscapeTranslator::apply_rendition(int32_t attribute, uint32_t code) {
  int32_t colours = attribute & 0xFF;
  switch (code) {
    case 0: return kDefault;
    case 1: return attribute | 0x08 | 0x80;
    case 4: return attribute | kUnderline;
    case 7: {
      // The colour nibbles change places and so do the defaults they hold;
      // everything else is dropped.
      int32_t swapped = ((colours & 0x0F) << 4) | (colours >> 4);
      if (attribute & kDefaultForegroundInForeground) swapped |= kDefaultForegroundInBackground;
      if (attribute & kDefaultBackgroundInForeground) swapped |= kDefaultBackgroundInBackground;
      if (attribute & kDefaultBackgroundInBackground) swapped |= kDefaultBackgroundInForeground;
      if (attribute & kDefaultForegroundInBackground) swapped |= kDefaultForegroundInForeground;
      return swapped;
    }
    case 39: return attribute | 0x08;
    case 49: return attribute | 0x80;
    default: break;
  }
  if (code >= 30 && code <= 37)
    return (attribute & 0xF8) | kColourBits[code - 30] | (attribute & kBackgroundDefaults);
  if (code >= 40 && code <= 47)
    return (attribute & 0x8F) | (kColourBits[code - 40] << 4) | (attribute & kForegroundDefaults);
  // Codes the emulated console does not know change nothing.
  return attribute;
}

void EscapeTranslator::emit_attribute(std::string& out, int32_t attribute) {
  // A slot that holds the other slot's default colour can only be shown by
  // reverse video, under which the terminal draws its foreground setting as
  // the background and the reverse: the settings then come from the
  // opposite slots.
  bool reversed = (attribute & (kDefaultBackgroundInForeground | kDefaultForegroundInBackground)) != 0;
  int32_t foreground = attribute & 0x0F;
  int32_t background = (attribute >> 4) & 0x0F;
  bool foreground_default = (attribute & kForegroundDefaults) != 0;
  bool background_default = (attribute & kBackgroundDefaults) != 0;
  if (reversed) {
    std::swap(foreground, background);
    std::swap(foreground_default, background_default);
  }
  out += "\x1b[0";
  if (reversed) out += ";7";
  if (attribute & kUnderline) out += ";4";
  if (foreground_default) {
    // Intensity on the terminal's own foreground: bold, which terminals
    // also show brighter.
    if (foreground & 0x08) out += ";1";
  } else {
    out += ';';
    append_number(out, static_cast<uint32_t>((foreground & 0x08 ? 90 : 30) + ansi_colour(foreground)));
  }
  // Intensity on the terminal's own background has no standard form.
  if (!background_default) {
    out += ';';
    append_number(out, static_cast<uint32_t>((background & 0x08 ? 100 : 40) + ansi_colour(background)));
  }
  out += 'm';
}

std::string EscapeTranslator::translate(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 16);
  size_t at = 0;
  while (at < text.size()) {
    size_t escape = text.find(kEscape, at);
    if (escape == std::string_view::npos) {
      out.append(text.substr(at));
      break;
    }
    out.append(text.substr(at, escape - at));
    at = sequence(text, escape, out);
  }
  return out;
}

size_t EscapeTranslator::sequence(std::string_view text, size_t at, std::string& out) {
  size_t size = text.size();
  // An ESC at the very end may be the start of a sequence the next write
  // holds; like any cut-off sequence it is dropped.
  if (at + 1 >= size) return size;
  if (text[at + 1] != '[') {
    out += kEscape;
    return at + 1;
  }
  size_t position = at + 2;

  if (position < size && text[position] == '?') {
    for (size_t end = position + 1; end < size; ++end) {
      auto byte = static_cast<uint8_t>(text[end]);
      if (byte >= 0x40 && byte <= 0x7E) {
        out.append(text.substr(at, end - at + 1));
        return end + 1;
      }
      // Parameter and intermediate bytes; anything else ends it unsent.
      if (byte < 0x20 || byte > 0x3F) return past_unit(text, end);
    }
    return size;
  }

  int state = 1;
  uint32_t first = 0;
  uint32_t second = 0;
  // Renditions of a sequence accumulate here and reach the terminal only
  // with its closing "m".
  int32_t working = attribute_;
  auto show = [&](int32_t attribute) {
    attribute_ = attribute;
    emit_attribute(out, attribute);
  };
  while (position < size) {
    char unit = text[position];
    if (is_digit(unit)) {
      uint32_t digit = static_cast<uint32_t>(unit - '0');
      switch (state) {
        case 1: first = digit; state = 2; break;
        case 2: first = (first * 10 + digit) % 65535; break;
        case 3: second = digit; state = 4; break;
        default: second = (second * 10 + digit) % 65535; break;
      }
      ++position;
      continue;
    }
    if (unit == ';') {
      ++position;
      if (state == 2) {
        state = 3;
      } else if (state == 4) {
        working = apply_rendition(apply_rendition(working, first), second);
        first = second = 0;
        state = 1;
      }
      continue;
    }
    size_t after = past_unit(text, position);
    switch (state) {
      case 1:
        switch (unit) {
          case 's': out += "\x1b" "7"; break;
          case 'u': out += "\x1b" "8"; break;
          case 'K': out += "\x1b[K"; break;
          case 'J': out += "\x1b" "7\r\x1b[J\x1b" "8"; break;
          case 'H':
          case 'f': out += "\x1b[H"; break;
          default: break;
        }
        break;
      case 2:
        switch (unit) {
          case 'm': show(apply_rendition(working, first)); break;
          case 'A':
          case 'B':
          case 'C':
          case 'D': append_cursor_move(out, first, unit); break;
          case 'J':
            // Rows above the cursor's row: from the end of the row above,
            // erase to the top. Known imprecision: on row 0 there is no row
            // above to move to, so row 0 itself is erased up to the cursor's
            // far end although nothing should be.
            if (first == 1) out += "\x1b" "7\x1b[1A\x1b[999C\x1b[1J\x1b" "8";
            else if (first == 2) out += "\x1b[2J\x1b[H";
            break;
          case 'K':
            if (first == 1) out += "\x1b[1K\r";
            else if (first == 2) out += "\x1b[2K\r";
            break;
          default: break;
        }
        break;
      case 4:
        switch (unit) {
          case 'm': show(apply_rendition(apply_rendition(working, first), second)); break;
          case 'H':
          case 'f':
            out += "\x1b[";
            append_number(out, second + 1);
            out += ';';
            append_number(out, first + 1);
            out += 'H';
            break;
          default: break;
        }
        break;
      default: break;
    }
    return after;
  }
  return size;
}

}  // namespace kel::output
