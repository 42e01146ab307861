// The terminal GUI's input parser and mouse decoder (see input_parser.h).
#include "gui/terminal/input_parser.h"

#include "console/key_decoder.h"

namespace kel::tui {

namespace {

constexpr char kEscape = 0x1B;
constexpr size_t kIncomplete = std::string::npos;
// Parameters past this value are held at it: a report never overflows.
constexpr int32_t kLargestParameter = 1000000;
constexpr size_t kParametersKept = 4;

struct KeySequence {
  std::string_view text;
  int32_t key;
};
constexpr KeySequence kKeySequences[] = {
    {"[A", special_key::kUp},         {"[B", special_key::kDown},
    {"[C", special_key::kRight},      {"[D", special_key::kLeft},
    {"[F", special_key::kEnd},        {"[H", special_key::kHome},
    {"[3~", special_key::kDelete},    {"[5~", special_key::kPageUp},
    {"[6~", special_key::kPageDown},  {"OP", special_key::function_key(1)},
    {"OQ", special_key::function_key(2)},   {"OR", special_key::function_key(3)},
    {"OS", special_key::function_key(4)},   {"[15~", special_key::function_key(5)},
    {"[17~", special_key::function_key(6)}, {"[18~", special_key::function_key(7)},
    {"[19~", special_key::function_key(8)}, {"[20~", special_key::function_key(9)},
    {"[21~", special_key::function_key(10)}, {"[23~", special_key::function_key(11)},
    {"[24~", special_key::function_key(12)},
};

InputEvent key_event(int32_t key, uint32_t flags) {
  InputEvent event;
  event.kind = InputEvent::Kind::kKey;
  event.key = key;
  event.flags = flags;
  return event;
}

InputEvent mouse_event(int32_t button, int32_t column, int32_t row, bool release) {
  InputEvent event;
  event.kind = InputEvent::Kind::kMouse;
  event.button = button;
  event.column = column;
  event.row = row;
  event.release = release;
  return event;
}

// The 1015 and the old form mark a release with the low button bits 3 and
// do not say which button went up: it counts as the left one.
InputEvent legacy_mouse_event(int32_t code, int32_t column, int32_t row) {
  bool release = (code & 3) == 3 && (code & 0x20) == 0 && (code & 0x40) == 0;
  return mouse_event(release ? (code & ~3) : code, column, row, release);
}

}  // namespace

int32_t sequence_key(std::string_view sequence, uint32_t* flags) {
  *flags = 0;
  if (sequence == "[Z") {
    *flags = event_flag::kShift;
    return 9;
  }
  for (const KeySequence& entry : kKeySequences) {
    if (entry.text == sequence) {
      *flags = event_flag::kSpecialKey;
      return entry.key;
    }
  }
  return 0;
}

void InputParser::parse(std::vector<InputEvent>* events) {
  size_t at = 0;
  while (at < buffer_.size()) {
    unsigned char byte = static_cast<unsigned char>(buffer_[at]);
    size_t next;
    if (byte == kEscape) {
      if (at + 1 == buffer_.size()) {
        // A lone ESC at the end of what came is the Esc key.
        events->push_back(key_event(27, 0));
        next = at + 1;
      } else {
        next = parse_escape(at, events);
      }
    } else if (byte < 0x20 || byte == 0x7F) {
      int32_t key = byte == 8 ? 127 : byte == 10 ? 13 : byte;
      events->push_back(key_event(key, 0));
      next = at + 1;
    } else {
      size_t used = 0;
      int32_t code_point = key_decoder::decode_utf8(buffer_.data() + at, buffer_.size() - at, &used);
      if (code_point == key_decoder::kIncomplete) {
        next = kIncomplete;
      } else {
        events->push_back(key_event(code_point, 0));
        next = at + used;
      }
    }
    if (next == kIncomplete) break;
    at = next;
  }
  // What is left is the start of an unfinished sequence: kept, wherever it
  // starts, unless it has grown past any real sequence.
  buffer_.erase(0, at);
  if (buffer_.size() > kLongestPendingSequence) buffer_.clear();
}

size_t InputParser::parse_escape(size_t at, std::vector<InputEvent>* events) {
  char selector = buffer_[at + 1];
  if (selector == '[') return parse_control_sequence(at, events);
  if (selector == 'P' || selector == ']') {
    // A device control string or an operating system command: skipped up
    // to its terminator ESC backslash.
    size_t end = buffer_.find("\x1B\\", at + 2);
    return end == std::string::npos ? kIncomplete : end + 2;
  }
  // ESC and two bytes: only ESC O P ... ESC O S are keys.
  if (at + 2 >= buffer_.size()) return kIncomplete;
  uint32_t flags = 0;
  int32_t key = sequence_key(std::string_view(buffer_).substr(at + 1, 2), &flags);
  if (key != 0) events->push_back(key_event(key, flags));
  return at + 3;
}

size_t InputParser::parse_control_sequence(size_t at, std::vector<InputEvent>* events) {
  int32_t parameters[kParametersKept] = {};
  size_t count = 0;  // parameters seen, kept or not
  bool in_parameter = false, mouse_form = false;
  size_t k = at + 2;
  for (; k < buffer_.size(); ++k) {
    unsigned char byte = static_cast<unsigned char>(buffer_[k]);
    if (byte == kEscape) return k;  // abandoned: parsing goes on at this ESC
    if (byte >= '0' && byte <= '9') {
      if (!in_parameter) {
        in_parameter = true;
        ++count;
      }
      if (count <= kParametersKept) {
        int32_t& value = parameters[count - 1];
        value = value >= kLargestParameter / 10 ? kLargestParameter : value * 10 + (byte - '0');
      }
    } else if (byte == ';') {
      if (!in_parameter) ++count;  // an empty parameter counts as 0
      in_parameter = false;
    } else if (byte == '<') {
      mouse_form = true;
    } else if (byte >= 64 && byte <= 126 && byte != '[') {
      break;
    }
  }
  if (k >= buffer_.size()) return kIncomplete;
  // A ";" before the final byte leaves one more, empty, parameter.
  if (!in_parameter && k > at + 2 && buffer_[k - 1] == ';') ++count;
  char final_byte = buffer_[k];
  size_t next = k + 1;
  if ((final_byte == 'M' || final_byte == 'm') && count == 3) {
    if (mouse_form) {
      events->push_back(mouse_event(parameters[0], parameters[1], parameters[2], final_byte == 'm'));
    } else {
      events->push_back(legacy_mouse_event(parameters[0] - 32, parameters[1], parameters[2]));
    }
    return next;
  }
  if (final_byte == 'M' && count == 0 && !mouse_form && k == at + 2) {
    // The old form: three bytes, each the value plus 32.
    if (next + 3 > buffer_.size()) return kIncomplete;
    auto value = [&](size_t i) { return static_cast<int32_t>(static_cast<unsigned char>(buffer_[i])) - 32; };
    events->push_back(legacy_mouse_event(value(next), value(next + 1), value(next + 2)));
    return next + 3;
  }
  if (final_byte == 'R' && count == 2) {
    InputEvent report;
    report.kind = InputEvent::Kind::kCursorReport;
    report.row = parameters[0];
    report.column = parameters[1];
    events->push_back(report);
    return next;
  }
  uint32_t flags = 0;
  int32_t key = sequence_key(std::string_view(buffer_).substr(at + 1, k - at), &flags);
  if (key != 0) events->push_back(key_event(key, flags));
  return next;
}

MouseAction MouseDecoder::decode(const InputEvent& report, int32_t origin_row) {
  MouseAction action;
  int32_t code = report.button;
  action.x = static_cast<float>(report.column - 1);
  action.y = static_cast<float>(report.row - origin_row - 1);
  action.flags = static_cast<uint32_t>((code >> 2) & 3) * event_flag::kShift;
  if ((code & 0x10) != 0) action.flags |= event_flag::kControl;
  int32_t button = (code & 3) | ((code & 0x40) >> 4);
  switch (button) {
    case 0:
    case 1:
    case 2:
      if (report.release != released_) {
        released_ = report.release;
        action.kind = MouseAction::Kind::kButton;
        action.type = button * 2 + (report.release ? 1 : 0) + 1;
      } else {
        action.kind = MouseAction::Kind::kMotion;
        action.type = event_type::kOver;
        action.flags |= event_flag::kDown;
      }
      break;
    case 3:
      action.kind = MouseAction::Kind::kMotion;
      action.type = event_type::kOver;
      break;
    case 4:
    case 5:
      action.kind = MouseAction::Kind::kWheel;
      action.type = event_type::kWheel;
      action.picked = button == 4 ? 1 : -1;
      break;
    default:
      break;
  }
  return action;
}

}  // namespace kel::tui
