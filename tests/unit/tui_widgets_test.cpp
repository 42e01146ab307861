// The terminal GUI's widgets on a small cell grid: faces shown through the
// terminal platform of the program, talking to a scripted terminal, painted
// and checked row by row; keys and mouse actions handed to the widgets as
// the frames hand them, and what the widgets make of them (a field's text
// and caret, a check box's data, a text list's selection).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/point2d.h"
#include "evaluator/source_evaluation.h"
#include "gui/faces.h"
#include "gui/terminal/terminal_platform.h"
#include "runtime/string_buffer.h"
#include "test_support.h"
#include "tui_fake_terminal.h"

namespace kel::tui {
namespace {

using kel::testing::FakeTerminal;

std::string utf8(char32_t c) {
  std::string bytes;
  uint32_t code = c;
  if (code < 0x80) {
    bytes += static_cast<char>(code);
  } else if (code < 0x800) {
    bytes += static_cast<char>(0xC0 | code >> 6);
    bytes += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    bytes += static_cast<char>(0xE0 | code >> 12);
    bytes += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    bytes += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    bytes += static_cast<char>(0xF0 | code >> 18);
    bytes += static_cast<char>(0x80 | (code >> 12 & 0x3F));
    bytes += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    bytes += static_cast<char>(0x80 | (code & 0x3F));
  }
  return bytes;
}

// Each case shows its window on the program's terminal platform, which
// talks to a scripted terminal for the length of the case; the windows are
// closed after it.
class WidgetsTest : public kel::testing::RuntimeTest {
 protected:
  FakeTerminal terminal;
  TerminalPlatform& platform = terminal_platform();

  void SetUp() override {
    RuntimeTest::SetUp();
    platform.use_terminal(&terminal);
  }
  void TearDown() override {
    run("unview/all");
    platform.use_terminal(nullptr);
  }

  // Evaluates Kel source; an error fails the case.
  void run(const std::string& source) {
    auto error = kel::testing::catch_error([&] { source_evaluation::do_source(source); });
    ASSERT_FALSE(error.has_value()) << source << "\n" << (error ? error_info(*error).word : "");
  }
  std::string text_of(const std::string& source) {
    std::string text;
    auto error = kel::testing::catch_error([&] { text = string::to_std_string(*source_evaluation::do_source(source)); });
    EXPECT_FALSE(error.has_value()) << source;
    return text;
  }

  // The painted rows, each without its trailing blanks.
  std::vector<std::string> rows() {
    platform.present_now();
    Screen& screen = platform.frames().display().screen();
    std::vector<std::string> lines;
    for (int32_t y = 0; y < screen.height(); ++y) {
      std::string line;
      for (int32_t x = 0; x < screen.width(); ++x) {
        const ScreenCell& cell = screen.at(x, y);
        if (cell.attributes & attribute::kContinuation) continue;
        line += cell.code_point == 0 ? " " : utf8(cell.code_point);
      }
      line.erase(line.find_last_not_of(' ') + 1);
      lines.push_back(line);
    }
    return lines;
  }
  const ScreenCell& cell(int32_t x, int32_t y) { return platform.frames().display().screen().at(x, y); }

  // Shows a window of the size holding the faces (a Kel block of face
  // specs, reduced).
  void show(const std::string& size, const std::string& faces) {
    run("win: make face! [type: 'window offset: 0x0 size: " + size + " pane: reduce [" + faces + "]] show win");
  }
  void type(const std::u32string& keys) {
    for (char32_t key : keys) platform.key(static_cast<int32_t>(key), 0);
  }
};

// --- Painting: each face type as it shows in cells -------------------------------------

struct PaintCase {
  const char* what;
  const char* size;
  const char* faces;
  std::vector<std::string> rows;
};

TEST_F(WidgetsTest, FacesPaintAsTheirTypeShows) {
  const PaintCase cases[] = {
      {"text, placed by the para", "10x2",
       R"(make face! [type: 'text text: "hi" offset: 0x0 size: 10x1 para: make para! [align: 'right]]
          make face! [type: 'text text: "mid" offset: 0x1 size: 9x1 para: make para! [align: 'center]])",
       {"        hi", "   mid"}},
      {"a button", "6x1", R"(make face! [type: 'button text: "OK" offset: 1x0 size: 4x1])", {" OK"}},
      {"check boxes and radio buttons by their data", "12x3",
       R"(make face! [type: 'check text: "on" offset: 0x0 size: 6x1 data: true]
          make face! [type: 'check text: "off" offset: 6x0 size: 6x1]
          make face! [type: 'radio text: "a" offset: 0x1 size: 5x1 data: true]
          make face! [type: 'radio text: "b" offset: 6x1 size: 5x1])",
       {"🞕 on  ☐ off", "◉ a   ○ b", ""}},
      {"a progress bar, a quarter full", "12x1", "make face! [type: 'progress offset: 0x0 size: 10x1 data: 0.25]",
       {"[##      ]"}},
      {"a group box, rounded, with its title", "8x3",
       R"(make face! [type: 'group-box text: "G" offset: 0x0 size: 8x3 options: [border-corners: round]])",
       {"╭G─────╮", "│      │", "╰──────╯"}},
      {"a text list's lines, the selection's SGR read as reverse, not painted", "6x3",
       R"(make face! [type: 'text-list offset: 0x0 size: 6x3 data: ["one" "two"] flags: [focusable]])",
       {"one", "two", ""}},
      {"an empty field shows its hint", "8x1",
       R"(make face! [type: 'field text: "" offset: 0x0 size: 8x1 options: [hint: "name"]])", {"name"}},
      {"a hidden face and its children are not painted", "8x2",
       R"(make face! [type: 'panel offset: 0x0 size: 8x2 visible?: false pane: reduce [
            make face! [type: 'text text: "inner" offset: 0x0 size: 5x1]]]
          make face! [type: 'text text: "shown" offset: 0x1 size: 5x1])",
       {"", "shown"}},
      {"a child is clipped to its parent", "8x1",
       R"(make face! [type: 'panel offset: 0x0 size: 3x1 pane: reduce [
            make face! [type: 'text text: "clipped" offset: 0x0 size: 7x1]]])",
       {"cli"}},
      {"escape bytes in a face's text are read as SGR, never painted", "8x1",
       R"(make face! [type: 'text text: "^[[1mB^[[0mx" offset: 0x0 size: 8x1])", {"Bx"}},
  };
  for (const PaintCase& c : cases) {
    SCOPED_TRACE(c.what);
    show(c.size, c.faces);
    EXPECT_EQ(rows(), c.rows);
    run("unview/all");
  }
}

TEST_F(WidgetsTest, FocusShowsReversed) {
  show("12x1", R"(b: make face! [type: 'button text: "OK" offset: 0x0 size: 2x1 flags: [focusable]]
                  c: make face! [type: 'check text: "c" offset: 4x0 size: 4x1 flags: [focusable]])");
  rows();
  // The first focusable face took the focus; the second is plain.
  EXPECT_TRUE(cell(0, 0).attributes & attribute::kReverse);
  EXPECT_FALSE(cell(4, 0).attributes & attribute::kReverse);
  EXPECT_EQ(text_of("form reduce [TUI-helpers/focused? b TUI-helpers/focused? c]"), "true false");
}

// An image shows as lower half blocks, two pixels a cell (the upper the
// background, the lower the foreground); where the upper pixel is fully
// transparent the cell stays blank.
TEST_F(WidgetsTest, ImageCells) {
  show("4x1", R"(make face! [type: 'base offset: 0x0 size: 2x1 image: make image! [2x2 255.0.0]]
                 make face! [type: 'base offset: 2x0 size: 2x1 image: make image! [2x2 0.0.255.255]])");
  EXPECT_EQ(rows(), std::vector<std::string>{"▄▄"});
  EXPECT_EQ(cell(0, 0).background, cell(0, 0).foreground);
  EXPECT_NE(cell(0, 0).background, color::kDefault);
  EXPECT_EQ(cell(2, 0).background, color::kDefault);
}

// A base whose options name a caret face places that face's caret at the
// base while the face has the focus.
TEST_F(WidgetsTest, BaseStandsForACaret) {
  show("8x1", R"(f: make face! [type: 'field text: "ab" offset: 0x0 size: 3x1 flags: [focusable]]
                 make face! [type: 'base offset: 6x0 size: 1x1 options: reduce [first [caret:] f]])");
  rows();
  EXPECT_EQ(platform.frames().display().caret_column(), 6);
  EXPECT_EQ(platform.frames().display().caret_row(), 0);
}

// --- Keys and the mouse -----------------------------------------------------------------

// A field inserts what is typed while it fits, Backspace removes before the
// caret, Left and Ctrl-B move the caret, special keys are never text, and
// the caret is the terminal's cursor.
TEST_F(WidgetsTest, FieldEditing) {
  show("8x1", R"(f: make face! [type: 'field text: "ab" offset: 1x0 size: 5x1 flags: [focusable]])");
  type(U"cde");
  EXPECT_EQ(text_of("f/text"), "abcde");
  type(U"f");  // full: five columns
  EXPECT_EQ(text_of("f/text"), "abcde");
  platform.key(127, 0);
  EXPECT_EQ(text_of("f/text"), "abcd");
  platform.key(special_key::kLeft, event_flag::kSpecialKey);
  platform.key(2, 0);  // Ctrl-B
  platform.key(special_key::kUp, event_flag::kSpecialKey);
  platform.key(special_key::kDelete, event_flag::kSpecialKey);
  type(U"X");
  EXPECT_EQ(text_of("f/text"), "abXcd");
  EXPECT_EQ(rows(), std::vector<std::string>{" abXcd"});
  platform.key(8, 0);  // Backspace
  EXPECT_EQ(text_of("f/text"), "abcd");
  rows();
  // The caret is after "ab", and the terminal shows it.
  EXPECT_TRUE(platform.frames().display().has_caret());
  EXPECT_EQ(platform.tree().focused_widget()->caret_column, 2);
}

// A password field keeps its text; its cells are written masked.
TEST_F(WidgetsTest, PasswordFieldIsMasked) {
  show("8x1", R"(make face! [type: 'field text: "abc" offset: 0x0 size: 8x1 flags: [password]])");
  EXPECT_EQ(rows(), std::vector<std::string>{"abc"});
  EXPECT_TRUE(cell(0, 0).attributes & attribute::kMasked);
  EXPECT_NE(terminal.written.find("***"), std::string::npos);
}

// A wide character takes two columns: it moves the caret two cells and
// counts two against the field's width.
TEST_F(WidgetsTest, FieldCountsDisplayColumns) {
  show("8x1", R"(f: make face! [type: 'field text: "" offset: 0x0 size: 3x1 flags: [focusable]])");
  type(U"界界");
  EXPECT_EQ(text_of("f/text"), "界");
  type(U"a");
  EXPECT_EQ(text_of("f/text"), "界a");
  Widget* field = platform.tree().focused_widget();
  ASSERT_NE(field, nullptr);
  EXPECT_EQ(field->caret_column, 3);
}

// Space toggles a check box (none becomes true, true false) and sends
// change; a radio button becomes set and the others of its pane unset.
TEST_F(WidgetsTest, CheckAndRadioToggle) {
  show("20x2", R"(c: make face! [type: 'check text: "c" offset: 0x0 size: 6x1 flags: [focusable]
                    actors: object [changes: 0 on-change: func [f e][changes: changes + 1]]]
                  r1: make face! [type: 'radio text: "1" offset: 0x1 size: 4x1 data: true]
                  r2: make face! [type: 'radio text: "2" offset: 5x1 size: 4x1])");
  type(U" ");
  EXPECT_EQ(text_of("form reduce [c/data c/actors/changes]"), "true 1");
  type(U" ");
  EXPECT_EQ(text_of("form c/data"), "false");
  // A click on the second radio button.
  MouseAction down{MouseAction::Kind::kButton, event_type::kDown, 0, 6, 1, 0};
  MouseAction up{MouseAction::Kind::kButton, event_type::kUp, 0, 6, 1, 0};
  platform.mouse(down);
  platform.mouse(up);
  EXPECT_EQ(text_of("form reduce [r1/data r2/data]"), "false true");
  EXPECT_EQ(rows()[1], "○ 1  ◉ 2");
}

// A button clicks on Space, and on a mouse press and release over it; a
// press outside it and a release over it is no click.
TEST_F(WidgetsTest, ButtonClicks) {
  show("10x2", R"(b: make face! [type: 'button text: "OK" offset: 2x1 size: 4x1 flags: [focusable]
                    actors: object [clicks: 0 on-click: func [f e][clicks: clicks + 1]]])");
  type(U" ");
  EXPECT_EQ(text_of("form b/actors/clicks"), "1");
  platform.mouse(MouseAction{MouseAction::Kind::kButton, event_type::kDown, 0, 3, 1, 0});
  platform.mouse(MouseAction{MouseAction::Kind::kButton, event_type::kUp, 0, 3, 1, 0});
  EXPECT_EQ(text_of("form b/actors/clicks"), "2");
  platform.mouse(MouseAction{MouseAction::Kind::kButton, event_type::kDown, 0, 8, 0, 0});
  platform.mouse(MouseAction{MouseAction::Kind::kButton, event_type::kUp, 0, 3, 1, 0});
  EXPECT_EQ(text_of("form b/actors/clicks"), "2");
}

// Down and Up move a text list's selection within its entries, scrolling
// so that the selection stays in view.
TEST_F(WidgetsTest, TextListSelection) {
  show("6x2", R"(l: make face! [type: 'text-list offset: 0x0 size: 6x2 data: ["a" "b" "c"] flags: [focusable]])");
  // The focused list selects its first entry.
  EXPECT_EQ(text_of("form l/selected"), "1");
  platform.key(special_key::kDown, event_flag::kSpecialKey);
  platform.key(special_key::kDown, event_flag::kSpecialKey);
  EXPECT_EQ(text_of("form l/selected"), "3");
  EXPECT_EQ(rows(), (std::vector<std::string>{"b", "c"}));
  EXPECT_TRUE(cell(0, 1).attributes & attribute::kReverse);
  platform.key(special_key::kDown, event_flag::kSpecialKey);
  EXPECT_EQ(text_of("form l/selected"), "3");
  platform.key(special_key::kUp, event_flag::kSpecialKey);
  EXPECT_EQ(text_of("form l/selected"), "2");
}

// A disabled face takes no keys.
TEST_F(WidgetsTest, DisabledFaceTakesNoKeys) {
  show("8x1", R"(f: make face! [type: 'field text: "" offset: 0x0 size: 5x1 flags: [focusable]])");
  run("f/enabled?: false");
  type(U"x");
  EXPECT_EQ(text_of("f/text"), "");
}

// The outermost loop is the one started while no loop runs and raw mode is
// off: two windows shown with view/no-wait, then do-events runs the loop on
// the newest, in raw mode, until a window closes; then the terminal is back
// (raw mode off, cursor shown) and the other window is still open.
TEST_F(WidgetsTest, EventLoopAfterTwoWindowsShownWithoutWaiting) {
  const char* window = R"(make face! [type: 'window offset: 0x0 size: 6x1 pane: reduce [
      make face! [type: 'button text: "B" offset: 0x0 size: 2x1 flags: [focusable] actors: object [
        on-click: func [f e][clicks: clicks + 1]
        on-key: func [f e][if e/key = #"q" [unview]]]]]])";
  run(std::string("clicks: 0 w1: ") + window + " w2: " + window);
  run("view/no-wait w1 view/no-wait w2");
  EXPECT_FALSE(terminal.raw);
  EXPECT_EQ(terminal.written, "");  // nothing is drawn before a loop runs
  // (q, not Escape: Escape closes every window.)
  terminal.reads = {" ", "q"};
  run("do-events");
  EXPECT_EQ(text_of("form reduce [clicks length? system/view/screens/1/pane]"), "1 1");
  EXPECT_FALSE(terminal.raw);
  EXPECT_NE(terminal.written.find("B"), std::string::npos);
  EXPECT_EQ(terminal.written.substr(terminal.written.rfind("\x1B[")), "\x1B[?25h");
}

// An unknown flag word and an invalid rate are script errors.
TEST_F(WidgetsTest, BadFacetsAreErrors) {
  struct Case {
    const char* face;
    const char* error;
  };
  const Case cases[] = {
      {"make face! [type: 'base offset: 0x0 size: 2x1 flags: [no-such-flag]]", "invalid-arg"},
      {"make face! [type: 'base offset: 0x0 size: 2x1 rate: 0]", "invalid-facet-type"},
      {"make face! [type: 'base offset: 0x0 size: 2x1 rate: \"fast\"]", "invalid-facet-type"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.face);
    auto error = kel::testing::catch_error([&] {
      source_evaluation::do_source(std::string("w: make face! [type: 'window offset: 0x0 size: 4x1 pane: reduce [") +
                                   c.face + "]] show w");
    });
    ASSERT_TRUE(error.has_value());
    EXPECT_STREQ(error_info(*error).word, c.error);
    run("unview/all");
  }
}

// Closing a window lowers the loop's nesting level; removing a face from
// a pane does not.
TEST_F(WidgetsTest, OnlyAWindowClosingEndsALevel) {
  show("8x2", R"(t: make face! [type: 'text text: "x" offset: 0x0 size: 2x1])");
  int32_t before = platform.nesting();
  run("remove find/same win/pane t");
  EXPECT_EQ(platform.nesting(), before);
  run("unview");
  EXPECT_EQ(platform.nesting(), before - 1);
}

}  // namespace
}  // namespace kel::tui

namespace kel::tui {
namespace {

// Text metrics of a rich-text face, laid out in cells as the painter lays
// them: a line feed starts a line, a character that would pass the box's
// width starts the next one.
TEST_F(WidgetsTest, TextBoxMetrics) {
  struct Case {
    const char* text;
    const char* size;
    const char* argument;
    int32_t kind;
    const char* expected;
  };
  const Case cases[] = {
      {"ab^/cde", "10x5", "1", 0, "0x0"},
      {"ab^/cde", "10x5", "4", 0, "0x1"},
      {"ab^/cde", "10x5", "6", 0, "2x1"},
      {"ab^/cde", "10x5", "4", 6, "0x2"},
      {"ab^/cde", "10x5", "1x1", 1, "5"},
      {"ab^/cde", "10x5", "5x0", 1, "3"},
      {"ab^/cde", "10x5", "5x0", 5, "2"},
      {"ab^/cde", "10x5", "none", 3, "3x2"},
      {"ab^/cde", "10x5", "none", 4, "2"},
      {"ab^/cde", "10x5", "none", 2, "1"},
      {"abcdef", "4x5", "none", 4, "2"},
      {"abcdef", "4x5", "5", 0, "0x1"},
      {"界界界", "5x5", "3", 0, "0x1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " " + c.argument + " " + std::to_string(c.kind));
    run(std::string("f: make face! [type: 'rich-text text: \"") + c.text + "\" size: " + c.size + "]");
    std::string answer;
    auto error = kel::testing::catch_error([&] {
      Cell face = *source_evaluation::do_source("f");
      Cell argument = *source_evaluation::do_source(c.argument);
      Cell result = platform.text_box_metrics(face, gui::faces::field(face, "text"), argument, c.kind);
      if (result.is(TYPE_POINT2D)) {
        answer = std::to_string(static_cast<int>(point2d::x_of(result))) + "x" +
                 std::to_string(static_cast<int>(point2d::y_of(result)));
      } else if (result.is(TYPE_INTEGER)) {
        answer = std::to_string(integer::get(result));
      } else if (result.is(TYPE_FLOAT)) {
        answer = std::to_string(static_cast<int>(float_type::get(result)));
      }
    });
    ASSERT_FALSE(error.has_value());
    EXPECT_EQ(answer, c.expected);
  }
}

}  // namespace
}  // namespace kel::tui
