// Shared by the terminal GUI's tests: terminal bytes shown as readable text
// (ESC as \e, CR as \r, LF as \n), so that expected escape output is
// written the way it reads and a mismatch shows where it differs.
#pragma once

#include <string>
#include <string_view>

namespace kel::testing {

inline std::string visible(std::string_view bytes) {
  std::string text;
  for (char byte : bytes) {
    if (byte == 0x1B) {
      text += "\\e";
    } else if (byte == '\r') {
      text += "\\r";
    } else if (byte == '\n') {
      text += "\\n";
    } else {
      text += byte;
    }
  }
  return text;
}

// The bytes of a readable text (the inverse of visible).
inline std::string terminal_bytes(std::string_view text) {
  std::string bytes;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      char next = text[i + 1];
      if (next == 'e' || next == 'r' || next == 'n') {
        bytes += next == 'e' ? '\x1B' : next == 'r' ? '\r' : '\n';
        ++i;
        continue;
      }
    }
    bytes += text[i];
  }
  return bytes;
}

}  // namespace kel::testing
