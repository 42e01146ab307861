// The terminal GUI's input: the bytes the terminal sends (typed text,
// key sequences, mouse reports, answers to the cursor query) turned into
// key, mouse and cursor-report events, and a mouse report turned into the
// GUI event it stands for.
//
// The parser holds the bytes not parsed yet. It never looks at a byte that
// is not there: a sequence or UTF-8 character cut off by the end of a read
// (wherever it starts) stays in the buffer for the next frame, except a
// lone ESC at the very end, which is the Esc key. A kept tail that grows
// past kLongestPendingSequence bytes (an unterminated string sequence) is
// dropped, so garbage cannot grow the buffer without end.
//
// Keys: a code point (control characters as they are, Backspace 8 as 127,
// line feed as carriage return) or a special key, a negative code with the
// special-key flag; Shift-Tab is Tab with the shift flag. Special keys are
// never text. A key sequence that carries modifier parameters (Ctrl with
// an arrow) and any sequence not in the table give no key.
//
// Mouse reports come in the 1006 form (ESC [ < b ; x ; y M or m), which
// the GUI asks for; the 1015 form (ESC [ b+32 ; x ; y M) and the old one
// (ESC [ M and three bytes) are read too, so their bytes never arrive as
// typed text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kel::tui {

// Flag bits of a GUI event.
namespace event_flag {
constexpr uint32_t kSpecialKey = 0x1;  // the key is a special key's negative code
constexpr uint32_t kDown = 0x02000000;  // a button is held
constexpr uint32_t kAway = 0x04000000;  // the pointer left the widget
constexpr uint32_t kControl = 0x10000000;
constexpr uint32_t kShift = 0x20000000;
constexpr uint32_t kAlt = 0x40000000;
}  // namespace event_flag

// The special keys.
namespace special_key {
constexpr int32_t kUp = -20, kDown = -21, kRight = -22, kLeft = -23, kEnd = -24, kHome = -25;
constexpr int32_t kInsert = -26, kDelete = -27, kPageUp = -28, kPageDown = -29;
constexpr int32_t kF1 = -31;  // F1 to F12 are -31 to -42
constexpr int32_t function_key(int32_t number) { return kF1 - (number - 1); }
}  // namespace special_key

// GUI event type codes the terminal produces.
namespace event_type {
constexpr int32_t kDown = 1, kUp = 2, kMidDown = 3, kMidUp = 4, kAltDown = 5, kAltUp = 6;
constexpr int32_t kClick = 9, kDoubleClick = 10, kWheel = 11, kOver = 12, kKey = 13, kKeyDown = 14;
constexpr int32_t kFocus = 17, kUnfocus = 18, kSelect = 25, kChange = 26, kResize = 30, kTime = 33;
}  // namespace event_type

struct InputEvent {
  enum class Kind : uint8_t { kKey, kMouse, kCursorReport };
  Kind kind = Kind::kKey;
  int32_t key = 0;        // kKey: code point or special key
  uint32_t flags = 0;     // kKey: kSpecialKey, or kShift for Shift-Tab
  int32_t button = 0;     // kMouse: the button code of the 1006 form
  int32_t column = 0;     // kMouse, kCursorReport: 1-based
  int32_t row = 0;
  bool release = false;   // kMouse: a button went up
  bool operator==(const InputEvent&) const = default;
};

// The key of a finished sequence, given as the text after ESC up to and
// including its final byte ("[A", "OP", "[15~"); 0 for none. *flags gets
// the key's flag bits.
int32_t sequence_key(std::string_view sequence, uint32_t* flags);

class InputParser {
 public:
  static constexpr size_t kLongestPendingSequence = 4096;
  // Adds bytes read from the terminal.
  void append(const char* bytes, size_t count) { buffer_.append(bytes, count); }
  // Parses every complete event, appending it; keeps an unfinished tail.
  void parse(std::vector<InputEvent>* events);
  void clear() { buffer_.clear(); }
  // The bytes kept for the next frame.
  size_t pending() const { return buffer_.size(); }

 private:
  std::string buffer_;
  // Parses the escape sequence at buffer_[at] (ESC and at least one more
  // byte); returns where parsing goes on, or npos when the sequence is
  // not complete yet.
  size_t parse_escape(size_t at, std::vector<InputEvent>* events);
  size_t parse_control_sequence(size_t at, std::vector<InputEvent>* events);
};

// What a mouse report means for the GUI.
struct MouseAction {
  enum class Kind : uint8_t { kNone, kButton, kMotion, kWheel };
  Kind kind = Kind::kNone;
  int32_t type = 0;      // kButton: down, up, mid-down ... alt-up; kWheel: wheel; kMotion: over
  uint32_t flags = 0;    // modifiers, and kDown for motion with a button held
  float x = 0, y = 0;    // cells, relative to the GUI's top-left cell
  int32_t picked = 0;    // kWheel: +1 or -1
  bool operator==(const MouseAction&) const = default;
};

// Turns mouse reports into actions; remembers whether the last button
// report was a press, so that a report repeating it is motion while held.
class MouseDecoder {
 public:
  MouseAction decode(const InputEvent& report, int32_t origin_row);
  void reset() { released_ = true; }

 private:
  bool released_ = true;
};

}  // namespace kel::tui
