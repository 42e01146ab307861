// The line editor's core and the key decoder: keys in; line, cursor,
// history and what a terminal shows out (through VirtualScreen).
#include <gtest/gtest.h>

#include "console/key_decoder.h"
#include "console/line_editor.h"
#include "virtual_screen.h"

namespace kel {
namespace {

namespace keys = key_decoder::keys;
using line_editor::Completion;
using line_editor::Editor;
using line_editor::Outcome;

using Keys = std::vector<int32_t>;

Keys typed(const std::u32string& text) { return Keys(text.begin(), text.end()); }
Keys operator+(Keys a, const Keys& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// One read: the editor and the screen that shows what it writes.
struct Session {
  Editor editor;
  test_support::VirtualScreen screen;
  Outcome last = Outcome::kGoingOn;

  explicit Session(int columns = 80, std::u32string prompt = U">> ", std::vector<std::u32string> history = {},
                   bool hidden = false, int origin = 0)
      : screen(columns) {
    if (origin > 0) screen.write(std::string(static_cast<size_t>(origin), '.'));
    editor.begin(std::move(prompt), hidden, std::move(history), columns, origin);
    flush();
  }
  void flush() {
    editor.render();
    screen.write(editor.take_output());
  }
  Outcome press(const Keys& codes) {
    for (int32_t code : codes) {
      last = editor.key(code);
      if (last != Outcome::kGoingOn) break;
    }
    flush();
    return last;
  }
  std::string line() const { return line_editor::to_utf8(editor.line()); }
};

// Every key of the key table, and Ctrl-C and Ctrl-D at the head, in the
// middle and at the tail of the line: the line, the cursor and how the
// read stands afterwards.
struct KeyCase {
  const char* name;
  Keys keys;
  const char* line;
  size_t cursor;
  Outcome outcome;
};

TEST(LineEditorKeys, TableOfKeys) {
  const Keys abc = typed(U"abc");
  const KeyCase cases[] = {
      {"typing appends", abc, "abc", 3, Outcome::kGoingOn},
      {"Left moves back", abc + Keys{keys::kLeft}, "abc", 2, Outcome::kGoingOn},
      {"Ctrl-B moves back", abc + Keys{keys::kCtrlB, keys::kCtrlB}, "abc", 1, Outcome::kGoingOn},
      {"Left stops at the head", abc + Keys{keys::kHome, keys::kLeft}, "abc", 0, Outcome::kGoingOn},
      {"Right stops at the tail", abc + Keys{keys::kRight, keys::kCtrlF}, "abc", 3, Outcome::kGoingOn},
      {"Right and Ctrl-F move on", abc + Keys{keys::kHome, keys::kRight, keys::kCtrlF}, "abc", 2,
       Outcome::kGoingOn},
      {"Home", abc + Keys{keys::kHome}, "abc", 0, Outcome::kGoingOn},
      {"Ctrl-A", abc + Keys{keys::kCtrlA}, "abc", 0, Outcome::kGoingOn},
      {"End", abc + Keys{keys::kHome, keys::kEnd}, "abc", 3, Outcome::kGoingOn},
      {"Ctrl-E", abc + Keys{keys::kHome, keys::kCtrlE}, "abc", 3, Outcome::kGoingOn},
      {"insert in the middle", abc + Keys{keys::kLeft} + typed(U"X"), "abXc", 3, Outcome::kGoingOn},
      {"Backspace at the tail", abc + Keys{keys::kBackspace}, "ab", 2, Outcome::kGoingOn},
      {"Delete char (127) in the middle", abc + Keys{keys::kLeft, keys::kDeleteChar}, "ac", 1,
       Outcome::kGoingOn},
      {"Backspace at the head does nothing", abc + Keys{keys::kHome, keys::kBackspace}, "abc", 0,
       Outcome::kGoingOn},
      {"Delete at the tail does nothing", abc + Keys{keys::kDelete}, "abc", 3, Outcome::kGoingOn},
      {"Delete in the middle", abc + Keys{keys::kHome, keys::kDelete}, "bc", 0, Outcome::kGoingOn},
      {"Ctrl-K cuts to the tail", abc + Keys{keys::kLeft, keys::kLeft, keys::kCtrlK}, "a", 1,
       Outcome::kGoingOn},
      {"Ctrl-K at the tail", abc + Keys{keys::kCtrlK}, "abc", 3, Outcome::kGoingOn},
      {"Ctrl-D at the head deletes", abc + Keys{keys::kHome, keys::kCtrlD}, "bc", 0, Outcome::kGoingOn},
      {"Ctrl-D in the middle deletes", abc + Keys{keys::kLeft, keys::kLeft, keys::kCtrlD}, "ac", 1,
       Outcome::kGoingOn},
      {"Ctrl-D at the tail of a line does nothing", abc + Keys{keys::kCtrlD}, "abc", 3, Outcome::kGoingOn},
      {"Ctrl-D on an empty line quits", Keys{keys::kCtrlD}, "q", 1, Outcome::kQuit},
      {"Ctrl-C on an empty line quits", Keys{keys::kCtrlC}, "q", 1, Outcome::kQuit},
      {"Ctrl-C at the head quits", abc + Keys{keys::kHome, keys::kCtrlC}, "q", 1, Outcome::kQuit},
      {"Ctrl-C in the middle quits", abc + Keys{keys::kLeft, keys::kCtrlC}, "q", 1, Outcome::kQuit},
      {"Ctrl-C at the tail quits", abc + Keys{keys::kCtrlC}, "q", 1, Outcome::kQuit},
      {"Esc ends the line with ESC", abc + Keys{keys::kEscape}, "abc\x1B", 3, Outcome::kEscape},
      {"Enter ends the read", abc + Keys{keys::kEnter}, "abc", 3, Outcome::kLine},
      {"Insert, PgUp, PgDn and unknown keys are ignored",
       abc + Keys{keys::kInsert, keys::kPageUp, keys::kPageDown, keys::kIgnored, 7, 26, 31}, "abc", 3,
       Outcome::kGoingOn},
      {"a wide char", typed(U"日本"), "日本", 2, Outcome::kGoingOn},
  };
  for (const KeyCase& c : cases) {
    Session session;
    Outcome outcome = session.press(c.keys);
    EXPECT_EQ(session.line(), c.line) << c.name;
    if (c.outcome != Outcome::kQuit) {
      EXPECT_EQ(session.editor.cursor(), c.cursor) << c.name;
    }
    EXPECT_EQ(outcome, c.outcome) << c.name;
  }
}

// What the screen shows after the keys: the prompt row and the cursor.
TEST(LineEditorKeys, ScreenFollowsEdits) {
  struct ScreenCase {
    const char* name;
    Keys keys;
    const char* row0;
    int cursor_column;
  };
  const ScreenCase cases[] = {
      {"typed text follows the prompt", typed(U"print 1"), ">> print 1", 10},
      {"insert in the middle redraws the rest", typed(U"abc") + Keys{keys::kHome} + typed(U"XY"), ">> XYabc", 5},
      {"Backspace erases the last char", typed(U"abc") + Keys{keys::kBackspace}, ">> ab", 5},
      {"Ctrl-K erases to the end", typed(U"abcdef") + Keys{keys::kHome, keys::kRight, keys::kCtrlK}, ">> a", 4},
      {"Delete in the middle", typed(U"abc") + Keys{keys::kHome, keys::kDelete}, ">> bc", 3},
      {"a tab shows as four spaces", typed(U"a") + Keys{keys::kTab} + typed(U"b"), ">> a    b", 9},
      {"wide chars take two cells", typed(U"日本") + Keys{keys::kLeft}, ">> 日本", 5},
  };
  for (const ScreenCase& c : cases) {
    Session session;
    session.press(c.keys);
    EXPECT_EQ(session.screen.row(0), c.row0) << c.name;
    EXPECT_EQ(session.screen.row_count(), 1) << c.name;
    EXPECT_EQ(session.screen.cursor_row(), 0) << c.name;
    EXPECT_EQ(session.screen.cursor_column(), c.cursor_column) << c.name;
  }
}

// Enter, Ctrl-C, Ctrl-D and Esc (and a read given up for an error) leave the cursor at the start of the row
// below the text, wherever it was in the line.
TEST(LineEditorKeys, EndingTheReadGoesBelowTheText) {
  const Keys endings[] = {{keys::kEnter}, {keys::kCtrlC}, {keys::kEscape}};
  for (const Keys& ending : endings) {
    Session session(10);
    session.press(typed(U"abcdefghij") + Keys{keys::kHome} + ending);
    EXPECT_EQ(session.screen.row(0), ">> abcdefg");
    EXPECT_EQ(session.screen.row(1), "hij");
    EXPECT_EQ(session.screen.cursor_row(), 2);
    EXPECT_EQ(session.screen.cursor_column(), 0);
  }
  Session session(10);
  session.press(typed(U"abcdefghij") + Keys{keys::kHome});
  session.editor.abandon();
  session.screen.write(session.editor.take_output());
  EXPECT_EQ(session.screen.cursor_row(), 2);
  EXPECT_EQ(session.screen.cursor_column(), 0);
}

// History: newest first; Up past the oldest and Down past the newest empty
// the line; the first Down after Ups shows the same entry again; an entry
// is never changed by editing what was fetched.
TEST(LineEditorHistory, WalkingTheHistory) {
  struct HistoryCase {
    const char* name;
    Keys keys;
    const char* line;
  };
  const std::vector<std::u32string> history = {U"newest", U"middle", U"oldest"};
  const HistoryCase cases[] = {
      {"Up fetches the newest", {keys::kUp}, "newest"},
      {"Ctrl-P is Up", {keys::kCtrlP, keys::kCtrlP}, "middle"},
      {"Up to the oldest", {keys::kUp, keys::kUp, keys::kUp}, "oldest"},
      {"Up past the oldest empties the line", {keys::kUp, keys::kUp, keys::kUp, keys::kUp}, ""},
      {"Down past the newest empties the line", {keys::kDown}, ""},
      {"Ctrl-N is Down", {keys::kCtrlN}, ""},
      {"the first Down after Up shows the same entry", {keys::kUp, keys::kUp, keys::kDown}, "middle"},
      {"then Down goes to newer entries", {keys::kUp, keys::kUp, keys::kDown, keys::kDown}, "newest"},
      {"and past the newest it empties", {keys::kUp, keys::kDown, keys::kDown}, ""},
  };
  for (const HistoryCase& c : cases) {
    Session session(80, U">> ", history);
    session.press(c.keys);
    EXPECT_EQ(session.line(), c.line) << c.name;
    EXPECT_EQ(session.editor.cursor(), session.editor.line().size()) << c.name;
    EXPECT_EQ(session.screen.row(0), *c.line ? std::string(">> ") + c.line : ">>") << c.name;
  }
  Session session(80, U">> ", history);
  session.press(Keys{keys::kUp, keys::kBackspace, keys::kBackspace} + typed(U"XX") + Keys{keys::kUp, keys::kDown});
  EXPECT_EQ(session.line(), "middle");
  session.press({keys::kDown});
  EXPECT_EQ(session.line(), "newest");
}

// What Enter adds: not a hidden line, not an empty line, not the line that
// is already the newest entry (with the same letter case).
TEST(LineEditorHistory, WhatEnterAdds) {
  struct AddCase {
    const char* name;
    std::u32string typed_text;
    bool hidden;
    bool added;
  };
  const AddCase cases[] = {
      {"a new line", U"print 2", false, true},
      {"the newest entry again", U"print 1", false, false},
      {"the newest entry in other letter case", U"PRINT 1", false, true},
      {"an older entry", U"older", false, true},
      {"an empty line", U"", false, false},
      {"a hidden line", U"secret", true, false},
  };
  for (const AddCase& c : cases) {
    Session session(80, U">> ", {U"print 1", U"older"}, c.hidden);
    session.press(typed(c.typed_text) + Keys{keys::kEnter});
    EXPECT_EQ(session.editor.added_to_history(), c.added) << c.name;
    EXPECT_EQ(session.editor.history().size(), c.added ? 3u : 2u) << c.name;
    if (c.added) {
      EXPECT_EQ(session.editor.history().front(), c.typed_text) << c.name;
    }
  }
}

// Hidden reads show the prompt in clear and one "*" per char.
TEST(LineEditorScreen, HiddenReadsShowStars) {
  Session session(80, U"Password: ", {}, true);
  session.press(typed(U"sécret") + Keys{keys::kLeft, keys::kBackspace});
  EXPECT_EQ(session.line(), "sécrt");
  EXPECT_EQ(session.screen.row(0), "Password: *****");
  EXPECT_EQ(session.screen.cursor_column(), 14);
  session.press({keys::kUp});  // nothing in this history to show
  EXPECT_EQ(session.screen.row(0), "Password:");
}

// A prompt's colour sequences take no cells: the cursor lands right after
// the visible prompt, and wrapping counts only visible cells.
TEST(LineEditorScreen, PromptSequencesHaveNoWidth) {
  Session session(10, U"\x1B[1;31m>> \x1B[0m");
  EXPECT_EQ(session.screen.row(0), ">>");
  EXPECT_EQ(session.screen.cursor_column(), 3);
  session.press(typed(U"abcdefgh"));
  EXPECT_EQ(session.screen.row(0), ">> abcdefg");
  EXPECT_EQ(session.screen.row(1), "h");
  EXPECT_EQ(session.screen.cursor_row(), 1);
  EXPECT_EQ(session.screen.cursor_column(), 1);
}

// A wide char that would start in the last column goes to the next row,
// leaving that column blank; the cursor on it is on the next row too.
TEST(LineEditorScreen, WideCharAtTheLastColumn) {
  Session session(10);
  session.press(typed(U"abcdef日x"));
  EXPECT_EQ(session.screen.row(0), ">> abcdef");
  EXPECT_EQ(session.screen.row(1), "日x");
  EXPECT_EQ(session.screen.cursor_row(), 1);
  EXPECT_EQ(session.screen.cursor_column(), 3);
  session.press({keys::kLeft, keys::kLeft});
  EXPECT_EQ(session.screen.cursor_row(), 1);
  EXPECT_EQ(session.screen.cursor_column(), 0);
  session.press({keys::kLeft});
  EXPECT_EQ(session.screen.cursor_row(), 0);
  EXPECT_EQ(session.screen.cursor_column(), 8);
}

// A line longer than the screen is wide wraps; Home, End, Left and Right
// put the cursor on the right row, also across a row's end.
TEST(LineEditorScreen, WrappedLinesAndCursorKeys) {
  struct WrapCase {
    const char* name;
    Keys keys;
    int row;
    int column;
  };
  const Keys text = typed(U"0123456789abcdefghijklmnopq");  // 3 + 27 chars over rows of 10
  const WrapCase cases[] = {
      {"the end of a text that fills its last row", text, 3, 0},
      {"Home", text + Keys{keys::kHome}, 0, 3},
      {"End after Home", text + Keys{keys::kHome, keys::kEnd}, 3, 0},
      {"Left from the end", text + Keys{keys::kLeft}, 2, 9},
      {"Left across a row start", text + Keys{keys::kHome} + Keys(7, keys::kRight) + Keys{keys::kLeft}, 0, 9},
      {"Right onto the next row", text + Keys{keys::kHome} + Keys(7, keys::kRight), 1, 0},
      {"Right in the second row", text + Keys{keys::kHome} + Keys(12, keys::kRight), 1, 5},
  };
  for (const WrapCase& c : cases) {
    Session session(10);
    session.press(c.keys);
    EXPECT_EQ(session.screen.row(0), ">> 0123456") << c.name;
    EXPECT_EQ(session.screen.row(1), "789abcdefg") << c.name;
    EXPECT_EQ(session.screen.row(2), "hijklmnopq") << c.name;
    EXPECT_EQ(session.screen.cursor_row(), c.row) << c.name;
    EXPECT_EQ(session.screen.cursor_column(), c.column) << c.name;
    EXPECT_EQ(session.editor.cursor_position().row, c.row) << c.name;
  }
  // Taking chars back from a wrapped line erases the rows it no longer uses.
  Session session(10);
  session.press(text + Keys(21, keys::kBackspace));
  EXPECT_EQ(session.screen.row(0), ">> 012345");
  EXPECT_EQ(session.screen.row_count(), 1);
  EXPECT_EQ(session.screen.cursor_column(), 10 - 1);
}

// A prompt that starts after text already on its row.
TEST(LineEditorScreen, PromptAfterOtherText) {
  Session session(10, U"? ", {}, false, 4);
  session.press(typed(U"abcdef") + Keys{keys::kHome});
  EXPECT_EQ(session.screen.row(0), "....? abcd");
  EXPECT_EQ(session.screen.row(1), "ef");
  EXPECT_EQ(session.screen.cursor_row(), 0);
  EXPECT_EQ(session.screen.cursor_column(), 6);
}

// A screen 0 or fewer columns wide is taken as 1 column.
TEST(LineEditorScreen, ColumnsBelowOneCountAsOne) {
  Editor editor;
  editor.begin(U">", false, {}, 0, 0);
  EXPECT_EQ(editor.columns(), 1);
  for (int32_t code : typed(U"ab")) editor.key(code);
  editor.render();
  EXPECT_EQ(editor.end_position().row, 3);
}

// Tab: one value replaces the line (the cursor where completion puts it);
// several are listed on rows of their own, after which the prompt and the
// new line are drawn again and the same read goes on; none types a tab.
TEST(LineEditorCompletion, OneAndSeveralCandidates) {
  {
    Session session;
    session.editor.set_completer([](const std::u32string& line, size_t cursor) {
      EXPECT_EQ(line, U"prin x");
      EXPECT_EQ(cursor, 4u);
      return Completion{{U"print x"}, 5};
    });
    session.press(typed(U"prin x") + Keys{keys::kLeft, keys::kLeft, keys::kTab});
    EXPECT_EQ(session.line(), "print x");
    EXPECT_EQ(session.editor.cursor(), 5u);
    EXPECT_EQ(session.screen.row(0), ">> print x");
    EXPECT_EQ(session.screen.cursor_column(), 8);
  }
  {
    Session session;
    session.editor.set_completer([](const std::u32string&, size_t) {
      return Completion{{U"pr", U"print", U"probe", U"prin"}, 2};
    });
    Outcome outcome = session.press(typed(U"p") + Keys{keys::kTab});
    EXPECT_EQ(outcome, Outcome::kGoingOn);
    EXPECT_EQ(session.screen.row(0), ">> p");
    EXPECT_EQ(session.screen.row(1), "print probe prin");
    EXPECT_EQ(session.screen.row(2), ">> pr");
    EXPECT_EQ(session.screen.cursor_row(), 2);
    EXPECT_EQ(session.screen.cursor_column(), 5);
    EXPECT_EQ(session.press(typed(U"i") + Keys{keys::kEnter}), Outcome::kLine);
    EXPECT_EQ(session.line(), "pri");
  }
  {
    Session session;
    session.editor.set_completer([](const std::u32string&, size_t) { return Completion{}; });
    session.press(typed(U"x") + Keys{keys::kTab});
    EXPECT_EQ(session.line(), "x\t");
  }
}

// Appending at the tail writes only the new chars: a long paste costs
// what it adds.
TEST(LineEditorScreen, AppendingWritesOnlyTheNewChars) {
  Session session(80);
  session.press(typed(std::u32string(500, U'a')));
  session.editor.key('b');
  session.editor.render();
  EXPECT_EQ(session.editor.take_output(), "b");
}

// The decoder: the escape sequences of xterm and of the Linux console (CSI
// and SS3 forms), UTF-8 split across reads, invalid bytes, Enter forms.
TEST(KeyDecoder, SequencesAndChars) {
  struct DecodeCase {
    const char* name;
    std::vector<std::string> reads;
    Keys keys;
  };
  const DecodeCase cases[] = {
      {"arrows, CSI form", {"\x1B[A\x1B[B\x1B[C\x1B[D"}, {keys::kUp, keys::kDown, keys::kRight, keys::kLeft}},
      {"arrows, SS3 form", {"\x1BOA\x1BOB\x1BOC\x1BOD"}, {keys::kUp, keys::kDown, keys::kRight, keys::kLeft}},
      {"Home and End, xterm", {"\x1B[H\x1B[F\x1BOH\x1BOF"}, {keys::kHome, keys::kEnd, keys::kHome, keys::kEnd}},
      {"Home and End, Linux console", {"\x1B[1~\x1B[4~\x1B[7~\x1B[8~"},
       {keys::kHome, keys::kEnd, keys::kHome, keys::kEnd}},
      {"Insert, Delete, PgUp, PgDn", {"\x1B[2~\x1B[3~\x1B[5~\x1B[6~"},
       {keys::kInsert, keys::kDelete, keys::kPageUp, keys::kPageDown}},
      {"modified arrows act as arrows", {"\x1B[1;5C"}, {keys::kRight}},
      {"unknown sequences are dropped", {"a\x1B[15~\x1B[[A\x1BOP\x1B[2;3Rb"}, {'a', 'b'}},
      {"a sequence split across reads", {"\x1B", "[", "3", "~"}, {keys::kDelete}},
      {"Alt chords are dropped", {"\x1Bxy"}, {'y'}},
      {"two Esc", {"\x1B\x1B[A"}, {keys::kEscape, keys::kUp}},
      {"a UTF-8 char split across reads", {"\xE6\x97", "\xA5"}, {0x65E5}},
      {"a four-byte char", {"\xF0\x9F\x98\x80"}, {0x1F600}},
      {"bytes that cannot start a char", {"\x80" "a\xFF"}, {0xFFFD, 'a', 0xFFFD}},
      {"a char cut short", {"\xE6" "a"}, {0xFFFD, 'a'}},
      {"CR, LF and CR LF are each one Enter", {"a\rb\nc\r\nd"}, {'a', 13, 'b', 13, 'c', 13, 'd'}},
      {"CR LF split across reads", {"\r", "\n"}, {13}},
      {"control chars pass", {"\x01\x03\x04\x7F"}, {1, 3, 4, 127}},
  };
  for (const DecodeCase& c : cases) {
    key_decoder::Decoder decoder;
    Keys got;
    for (const std::string& bytes : c.reads) decoder.feed(bytes.data(), bytes.size(), &got);
    EXPECT_EQ(got, c.keys) << c.name;
  }
}

// A lone ESC is the Esc key only once the wait for more bytes is over; an
// unfinished sequence is then dropped, and what follows decoded afresh.
TEST(KeyDecoder, BareEscapeAfterTheWait) {
  key_decoder::Decoder decoder;
  Keys got;
  decoder.feed("\x1B", 1, &got);
  EXPECT_TRUE(got.empty());
  EXPECT_TRUE(decoder.escape_pending());
  decoder.timeout(&got);
  EXPECT_EQ(got, Keys{keys::kEscape});
  EXPECT_FALSE(decoder.escape_pending());
  got.clear();
  decoder.feed("\x1B[1", 3, &got);
  decoder.timeout(&got);
  decoder.feed("x", 1, &got);
  EXPECT_EQ(got, Keys{'x'});
  // A partial UTF-8 char is no escape: it waits for its other bytes.
  got.clear();
  decoder.feed("\xC3", 1, &got);
  EXPECT_FALSE(decoder.escape_pending());
  decoder.timeout(&got);
  decoder.feed("\xA9", 1, &got);
  EXPECT_EQ(got, Keys{0xE9});
}

}  // namespace
}  // namespace kel
