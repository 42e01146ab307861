// Console output: the lowest output layer. It takes text in any of the three
// string units (1 byte Latin-1, 2 bytes UCS-2, 4 bytes UCS-4) or as UTF-8
// bytes and writes it to standard output as UTF-8, batched in a 1024-byte
// buffer. Lines end with LF.
//
// When standard output is a terminal, the escape sequences in the text keep
// the meanings the system gives them (cursor moves with the column first,
// colours as attribute arithmetic, erasing) and are rewritten by the escape
// translator into the standard sequences that produce them; `ESC[?`
// sequences pass through. When output is redirected, bytes pass unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kel::output {

// Detects whether standard output is a terminal and resets the translator.
void init();
bool is_terminal();
// Forces the terminal/redirected choice (tests, and the console when it
// knows better).
void set_terminal(bool terminal);
// Where the bytes go: standard output by default (and again after a null
// sink). Tests capture into a string.
void set_sink(void (*sink)(const char* bytes, size_t count));

// Writes text of byte_count bytes in units of `unit` (1, 2 or 4) as UTF-8,
// with a line end (LF) when asked. Any other unit is runtime error 101.
void write(const void* text, size_t byte_count, int unit, bool line_end);
void print_latin1(const uint8_t* text, size_t byte_count);
void print_line_latin1(const uint8_t* text, size_t byte_count);
void print_ucs2(const uint16_t* text, size_t byte_count);
void print_line_ucs2(const uint16_t* text, size_t byte_count);
void print_ucs4(const uint32_t* text, size_t byte_count);
void print_line_ucs4(const uint32_t* text, size_t byte_count);
// UTF-8 bytes as they are (escape translation on a terminal).
void print_bytes(const char* bytes, size_t count);
// A NUL-terminated byte string written as it is (never translated), then
// handed to the raw output hooks.
const char* print_c_string(const char* text);

// Number printers; each returns its argument.
int32_t form_integer(int32_t value);    // "%i"
uint32_t form_hex2(uint32_t value);     // "%02X"
uint32_t form_hex8(uint32_t value);     // "%08X"
double form_float(double value);        // "%.16g"
float form_float32(float value);        // "%.7g"

void flush();

// The status of a process whose standard output's reader has gone: 128 +
// SIGPIPE, as the shell reports a program that SIGPIPE ended.
constexpr int kClosedPipeStatus = 141;
// Bytes to standard output as they are, unbuffered (what flush sends).
// When the reader has gone the process ends at once, quietly, with
// kClosedPipeStatus.
void write_standard_output(const char* bytes, size_t count);

// The terminal GUI stops drawing around direct console writes. It installs
// its suspend and resume callbacks here; without them these do nothing.
void set_terminal_gui_hooks(void (*suspend)(), void (*resume)());
struct SuspendTerminalGui {
  SuspendTerminalGui();
  ~SuspendTerminalGui();
  SuspendTerminalGui(const SuspendTerminalGui&) = delete;
  SuspendTerminalGui& operator=(const SuspendTerminalGui&) = delete;
};

// The escape translator: a pure bytes-to-bytes function with state (the
// current attribute). See output.cpp for the table of sequences and what
// each becomes.
class EscapeTranslator {
 public:
  // Translates one write's worth of UTF-8 text. A sequence cut off by the
  // end of the text is dropped.
  std::string translate(std::string_view text);
  void reset() { attribute_ = kDefault; }

  // The attribute model of the emulated console: foreground bits 0-3
  // (1 blue, 2 green, 4 red, 8 intensity), background bits 4-7, 0x8000
  // underline. The bits above 16 say which colour slot still holds one of
  // the terminal's own default colours (arithmetic counts the default
  // foreground as 7 and the default background as 0, but such a slot is
  // emitted as the terminal's default). After a swap (code 7) a slot may
  // hold the other slot's default, which is emitted with reverse video.
  static constexpr int32_t kDefaultForegroundInForeground = 1 << 16;
  static constexpr int32_t kDefaultBackgroundInBackground = 1 << 17;
  static constexpr int32_t kDefaultBackgroundInForeground = 1 << 18;
  static constexpr int32_t kDefaultForegroundInBackground = 1 << 19;
  // The attribute ESC[0m restores: the terminal's own defaults.
  static constexpr int32_t kDefault =
      0x07 | kDefaultForegroundInForeground | kDefaultBackgroundInBackground;
  int32_t attribute() const { return attribute_; }

  // The attribute after one graphic-rendition code.
  static int32_t apply_rendition(int32_t attribute, uint32_t code);
  // Appends the standard sequence (ESC[0;...m) that shows an attribute.
  static void emit_attribute(std::string& out, int32_t attribute);

 private:
  int32_t attribute_ = kDefault;
  // Translates the sequence whose ESC is at text[at]; returns the position
  // after what it consumed.
  size_t sequence(std::string_view text, size_t at, std::string& out);
};

}  // namespace kel::output
