// Turns the bytes a terminal sends into the line editor's keys.
//
// A key is a code point (a typed char or a control char such as 3 for
// Ctrl-C) or one of the negative codes of the keys that carry no char
// below). The decoder knows the escape sequences of xterm-like
// terminals and of the Linux console: CSI forms (ESC [ A, ESC [ 3 ~,
// ESC [ 1 ; 5 C ...) and SS3 forms (ESC O A ...). A sequence it does not
// know is dropped whole, never typed as text.
//
// State: the bytes of a sequence or of a UTF-8 char not yet complete. A
// char split across two reads is kept whole; a byte that cannot start or
// continue UTF-8 becomes U+FFFD. A lone ESC stays pending until either more
// bytes come or the caller, after a short wait with nothing more, calls
// timeout(), which makes it the Esc key. Carriage return and line feed are
// both Enter; a line feed right after a carriage return is part of it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kel::key_decoder {

// The codes of the keys that carry no char, and the control chars the
// line editor acts on.
namespace keys {
constexpr int32_t kIgnored = 0;  // a key without a char that nothing uses
constexpr int32_t kCtrlA = 1, kCtrlB = 2, kCtrlC = 3, kCtrlD = 4, kCtrlE = 5, kCtrlF = 6;
constexpr int32_t kBackspace = 8, kTab = 9, kCtrlK = 11, kEnter = 13, kCtrlN = 14, kCtrlP = 16;
constexpr int32_t kEscape = 27, kDeleteChar = 127;
constexpr int32_t kUp = -20, kDown = -21, kRight = -22, kLeft = -23, kEnd = -24, kHome = -25;
constexpr int32_t kInsert = -26, kDelete = -27, kPageUp = -28, kPageDown = -29;
}  // namespace keys

// Decodes the UTF-8 char at the start of the bytes: its code point, with
// *used set to its length; U+FFFD with *used 1 for a byte that cannot start
// or continue a char (overlong forms, surrogates and code points past
// U+10FFFF included); -1 when the bytes end inside a char that may still be
// valid.
constexpr int32_t kIncomplete = -1;
constexpr int32_t kReplacementChar = 0xFFFD;
int32_t decode_utf8(const char* bytes, size_t available, size_t* used);

class Decoder {
 public:
  // Decodes the bytes, appending complete keys.
  void feed(const char* bytes, size_t count, std::vector<int32_t>* keys);
  // True while a sequence that only more bytes can complete waits (the
  // caller then waits briefly before calling timeout).
  bool escape_pending() const;
  // Nothing more came: a lone ESC becomes the Esc key; the start of an
  // unfinished sequence is dropped. A partial UTF-8 char waits on.
  void timeout(std::vector<int32_t>* keys);

 private:
  std::string pending_;
  bool after_carriage_return_ = false;
  // Decodes from pending_ as far as it can; returns the bytes used.
  size_t decode(std::vector<int32_t>* keys);
  // The key of a complete sequence (pending_[at] is ESC), 0 for one that
  // is unknown; -1000 when the sequence is not complete yet. *length gets
  // its length.
  int32_t sequence(size_t at, size_t* length) const;
};

}  // namespace kel::key_decoder
