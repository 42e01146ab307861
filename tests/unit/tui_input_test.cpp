// The terminal GUI's input: the parser's keys, mouse reports and cursor
// reports, sequences split across reads, garbage, and what a mouse report
// means for the GUI.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gui/terminal/input_parser.h"
#include "tui_test_helpers.h"

namespace kel::tui {
namespace {

using testing::terminal_bytes;
using testing::visible;

std::string describe(const std::vector<InputEvent>& events) {
  std::string text;
  for (const InputEvent& event : events) {
    if (!text.empty()) text += ' ';
    switch (event.kind) {
      case InputEvent::Kind::kKey:
        text += "key " + std::to_string(event.key);
        if (event.flags == event_flag::kSpecialKey) text += "/special";
        if (event.flags == event_flag::kShift) text += "/shift";
        break;
      case InputEvent::Kind::kMouse:
        text += std::string(event.release ? "release " : "mouse ") + std::to_string(event.button) + "@" +
                std::to_string(event.column) + "," + std::to_string(event.row);
        break;
      case InputEvent::Kind::kCursorReport:
        text += "cursor " + std::to_string(event.row) + "," + std::to_string(event.column);
        break;
    }
  }
  return text;
}

std::string parse_all(const std::string& bytes) {
  InputParser parser;
  parser.append(bytes.data(), bytes.size());
  std::vector<InputEvent> events;
  parser.parse(&events);
  return describe(events);
}

struct Case {
  const char* input;  // readable: \e is ESC
  const char* expected;
};

// Every key sequence of the table, and what is no key: a sequence with
// modifier parameters, insert, unknown sequences.
TEST(TuiInput, KeySequences) {
  const Case cases[] = {
      {R"(\e[A)", "key -20/special"},   {R"(\e[B)", "key -21/special"},
      {R"(\e[C)", "key -22/special"},   {R"(\e[D)", "key -23/special"},
      {R"(\e[F)", "key -24/special"},   {R"(\e[H)", "key -25/special"},
      {R"(\e[3~)", "key -27/special"},  {R"(\e[5~)", "key -28/special"},
      {R"(\e[6~)", "key -29/special"},  {R"(\eOP)", "key -31/special"},
      {R"(\eOQ)", "key -32/special"},   {R"(\eOR)", "key -33/special"},
      {R"(\eOS)", "key -34/special"},   {R"(\e[15~)", "key -35/special"},
      {R"(\e[17~)", "key -36/special"}, {R"(\e[18~)", "key -37/special"},
      {R"(\e[19~)", "key -38/special"}, {R"(\e[20~)", "key -39/special"},
      {R"(\e[21~)", "key -40/special"}, {R"(\e[23~)", "key -41/special"},
      {R"(\e[24~)", "key -42/special"}, {R"(\e[Z)", "key 9/shift"},
      {R"(\e[1;5A)", ""},               // Ctrl with an arrow
      {R"(\e[2~)", ""},                 // insert
      {R"(\e[[A)", ""},                 // the Linux console's F1
      {R"(\e[?1;2c)", ""},              // a device attributes answer
      {R"(\exy)", ""},                  // ESC and two bytes that are no key
      {R"(\eOPq)", "key -31/special key 113"},
  };
  for (const Case& c : cases) EXPECT_EQ(parse_all(terminal_bytes(c.input)), c.expected) << c.input;
}

// Single bytes: control characters are keys by themselves (Backspace as
// 127, line feed as carriage return); a lone ESC at the end is Esc; UTF-8
// characters are decoded whole.
TEST(TuiInput, CharactersAndControls) {
  const Case cases[] = {
      {"a", "key 97"},
      {R"(\e)", "key 27"},
      {"\x08", "key 127"},
      {"\x7F", "key 127"},
      {R"(\n)", "key 13"},
      {R"(\r)", "key 13"},
      {"\t", "key 9"},
      {"\x03", "key 3"},
      {"\xC3\xA9", "key 233"},
      {"\xE4\xB8\xAD", "key 20013"},
      {"\xF0\x9F\x98\x80", "key 128512"},
      {R"(a\e)", "key 97 key 27"},
  };
  for (const Case& c : cases) EXPECT_EQ(parse_all(terminal_bytes(c.input)), c.expected) << visible(c.input);
}

// Mouse reports in the 1006 form (the one asked for), the 1015 form and
// the old form; cursor position reports.
TEST(TuiInput, MouseAndCursorReports) {
  const Case cases[] = {
      {R"(\e[<0;10;5M)", "mouse 0@10,5"},
      {R"(\e[<0;10;5m)", "release 0@10,5"},
      {R"(\e[<35;1;1M)", "mouse 35@1,1"},
      {R"(\e[<64;3;4M)", "mouse 64@3,4"},
      {R"(\e[32;10;5M)", "mouse 0@10,5"},    // 1015: the code plus 32
      {R"(\e[35;10;5M)", "release 0@10,5"},  // 1015: a release
      {R"(\e[67;2;2M)", "mouse 35@2,2"},     // 1015: motion
      {R"(\e[M !!)", "mouse 0@1,1"},         // the old form
      {R"(\e[M#!!)", "release 0@1,1"},
      {R"(\e[12;40R)", "cursor 12,40"},
      {R"(\e[<0;10M)", ""},                  // two parameters: no report
      {R"(\e[1;2;3;4;5;6M)", ""},            // six parameters: no report
      {R"(\e[<0;99999999999;1M)", "mouse 0@1000000,1"},  // held at its largest
  };
  for (const Case& c : cases) EXPECT_EQ(parse_all(terminal_bytes(c.input)), c.expected) << c.input;
}

// Garbage never stops the parsing and never arrives as a key sequence's
// bytes: string sequences are skipped to their terminator, an ESC inside a
// control sequence abandons it, a byte that is no UTF-8 is U+FFFD.
TEST(TuiInput, Garbage) {
  const Case cases[] = {
      {R"(\eP1$r0m\e\a)", "key 97"},
      {R"(\e]0;title\e\b)", "key 98"},
      {R"(\e[1\e[A)", "key -20/special"},
      {"\xFF", "key 65533"},
      {"\x80z", "key 65533 key 122"},
      {"\xC3(", "key 65533 key 40"},
      {R"(\e[12;;R)", ""},  // three parameters: not a cursor report
  };
  for (const Case& c : cases) EXPECT_EQ(parse_all(terminal_bytes(c.input)), c.expected) << visible(c.input);
}

// A sequence or character cut by the end of a read, wherever it starts, is
// kept whole for the next frame: every split of each input gives the
// events of the unsplit input. (A split right after a leading ESC is the
// one exception: a lone ESC at the end of a read is the Esc key.)
TEST(TuiInput, SplitAcrossReads) {
  const char* inputs[] = {
      R"(\e[A)",        R"(\e[<0;10;5M)", "\xE4\xB8\xAD",  "\xF0\x9F\x98\x80", R"(\eOP)",
      R"(\e[15~)",      R"(\e]0;t\e\x)",  R"(\e[12;40R)",  R"(\e[M !!)",       R"(\e[Z)",
  };
  for (const char* readable : inputs) {
    for (const std::string prefix : {"", "ab"}) {
      std::string bytes = prefix + terminal_bytes(readable);
      std::string whole = parse_all(bytes);
      for (size_t split = 1; split < bytes.size(); ++split) {
        if (split == prefix.size() + 1 && bytes[prefix.size()] == 0x1B) continue;
        InputParser parser;
        std::vector<InputEvent> events;
        parser.append(bytes.data(), split);
        parser.parse(&events);
        parser.append(bytes.data() + split, bytes.size() - split);
        parser.parse(&events);
        EXPECT_EQ(describe(events), whole) << visible(bytes) << " split at " << split;
        EXPECT_EQ(parser.pending(), 0u);
      }
    }
  }
}

// A lone ESC in one read is Esc, even when the next read starts a sequence.
TEST(TuiInput, LoneEscapeIsEsc) {
  InputParser parser;
  std::vector<InputEvent> events;
  parser.append("\x1B", 1);
  parser.parse(&events);
  EXPECT_EQ(describe(events), "key 27");
  EXPECT_EQ(parser.pending(), 0u);
}

// An unterminated string sequence is dropped once it outgrows any real
// sequence; what comes after it is parsed again.
TEST(TuiInput, EndlessSequenceDropped) {
  InputParser parser;
  std::vector<InputEvent> events;
  std::string junk = "\x1B]" + std::string(InputParser::kLongestPendingSequence, 'x');
  parser.append(junk.data(), junk.size());
  parser.parse(&events);
  EXPECT_EQ(parser.pending(), 0u);
  parser.append("q", 1);
  parser.parse(&events);
  EXPECT_EQ(describe(events), "key 113");
}

// --- Mouse reports as GUI actions ----------------------------------------------------------------

std::string describe(const MouseAction& action) {
  const char* kinds[] = {"none", "button", "motion", "wheel"};
  std::string text = kinds[static_cast<int>(action.kind)];
  if (action.kind == MouseAction::Kind::kNone) return text;
  text += " " + std::to_string(action.type) + " " + std::to_string(static_cast<int>(action.x)) + "," +
          std::to_string(static_cast<int>(action.y));
  if (action.flags & event_flag::kDown) text += " down";
  if (action.flags & event_flag::kControl) text += " control";
  if (action.flags & event_flag::kShift) text += " shift";
  if (action.flags & event_flag::kAlt) text += " alt";
  if (action.kind == MouseAction::Kind::kWheel) text += " picked " + std::to_string(action.picked);
  return text;
}

InputEvent report(int32_t button, int32_t column, int32_t row, bool release = false) {
  InputEvent event;
  event.kind = InputEvent::Kind::kMouse;
  event.button = button;
  event.column = column;
  event.row = row;
  event.release = release;
  return event;
}

// A press, motion with the button held, the release: down, over with the
// down flag, up. Each button has its pair of event types; motion without a
// button is over; the wheel gives +1 and -1; coordinates are 0-based and
// relative to the GUI's origin row.
TEST(TuiMouse, Actions) {
  struct Step {
    InputEvent report;
    int32_t origin_row;
    const char* expected;
  };
  const Step steps[] = {
      {report(0, 10, 5), 0, "button 1 9,4"},
      {report(32, 11, 5), 0, "motion 12 10,4 down"},
      {report(0, 11, 5, true), 0, "button 2 10,4"},
      {report(1, 1, 1), 0, "button 3 0,0"},
      {report(1, 1, 1, true), 0, "button 4 0,0"},
      {report(2, 1, 1), 0, "button 5 0,0"},
      {report(2, 1, 1, true), 0, "button 6 0,0"},
      {report(35, 4, 12), 10, "motion 12 3,1"},
      {report(64, 2, 2), 0, "wheel 11 1,1 picked 1"},
      {report(65, 2, 2), 0, "wheel 11 1,1 picked -1"},
      {report(66, 2, 2), 0, "none"},
      {report(4, 1, 1), 0, "button 1 0,0 shift"},
      {report(8, 1, 1, true), 0, "button 2 0,0 alt"},
      {report(16 | 4, 1, 1), 0, "button 1 0,0 control shift"},
  };
  MouseDecoder decoder;
  for (const Step& step : steps) {
    EXPECT_EQ(describe(decoder.decode(step.report, step.origin_row)), step.expected)
        << step.report.button << (step.report.release ? " release" : "");
  }
}

}  // namespace
}  // namespace kel::tui
