// Console output: the escape translator as a pure function (every ending of
// its state table, renditions and their colour mapping, pass-through, cut-off
// sequences), and the output layer through a capturing sink on both the
// redirected and the terminal path (UTF-8 from every unit, LF line ends,
// batching, number printers, raw output hooks, terminal GUI suspension).
#include "runtime/output.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runtime/output_hooks.h"

namespace kel::output {
namespace {

#define ESC "\x1b"

struct TranslationCase {
  const char* behaviour;
  std::string input;
  std::string expected;
};

std::string translated(const std::string& input) {
  EscapeTranslator translator;
  return translator.translate(input);
}

TEST(EscapeTranslator, RewritesEverySequenceIntoTheStandardOneWithTheSameEffect) {
  const std::vector<TranslationCase> cases = {
      {"plain text", "hello\nworld", "hello\nworld"},
      {"save cursor", ESC "[s", ESC "7"},
      {"restore cursor", ESC "[u", ESC "8"},
      {"erase to end of line", ESC "[K", ESC "[K"},
      {"erase from the start of the cursor's row down", ESC "[J", ESC "7\r" ESC "[J" ESC "8"},
      {"home with H", ESC "[H", ESC "[H"},
      {"home with f", ESC "[f", ESC "[H"},
      {"leading semicolons are ignored", ESC "[;;H", ESC "[H"},
      {"position: first number is the column, both from 0", ESC "[5;10H", ESC "[11;6H"},
      {"position with f at the origin", ESC "[0;0f", ESC "[1;1H"},
      {"semicolons before the second number are ignored", ESC "[2;;3H", ESC "[4;3H"},
      {"cursor up", ESC "[3A", ESC "[3A"},
      {"cursor down", ESC "[12B", ESC "[12B"},
      {"cursor right", ESC "[4C", ESC "[4C"},
      {"cursor left", ESC "[1D", ESC "[1D"},
      {"cursor up without a number does nothing", ESC "[Ax", "x"},
      {"a zero count moves nothing (a terminal would move 1)", ESC "[0Cx", "x"},
      {"numbers accumulate modulo 65535", ESC "[65536C", ESC "[1C"},
      {"a count of 65535 wraps to nothing", ESC "[65535C", ""},
      {"erase rows above the cursor's row", ESC "[1J",
       ESC "7" ESC "[1A" ESC "[999C" ESC "[1J" ESC "8"},
      {"erase the screen and home", ESC "[2J", ESC "[2J" ESC "[H"},
      {"erase with another number does nothing", ESC "[3Jx", "x"},
      {"erase to the line start, cursor to it", ESC "[1K", ESC "[1K\r"},
      {"erase the whole line, cursor to its start", ESC "[2K", ESC "[2K\r"},
      {"erase line with another number does nothing", ESC "[0Kx", "x"},
      {"private sequences pass through", "a" ESC "[?25lb", "a" ESC "[?25lb"},
      {"private sequences with intermediates pass through", ESC "[?1049h" ESC "[?2004;1h",
       ESC "[?1049h" ESC "[?2004;1h"},
      {"a control byte ends a private sequence unsent", ESC "[?25\nx", "x"},
      {"ESC without [ is an ordinary character", "a" ESC "]b", "a" ESC "]b"},
      {"two ESC in a row: the first is ordinary", ESC ESC "[s", ESC ESC "7"},
      {"an unknown ending is consumed without effect", ESC "[Zrest", "rest"},
      {"an unknown ending after the first number", ESC "[5Hrest", "rest"},
      {"an unknown ending after p;", ESC "[1;Zrest", "rest"},
      {"a multi-byte character ending a sequence is consumed whole", ESC "[\xC3\xA9x", "x"},
      {"a line feed inside a sequence ends it", ESC "[3\nx", "x"},
      {"renditions pending after ; are dropped without m", ESC "[1;32;5Ax", ESC "[5Ax"},
      {"a sequence cut off after [ is dropped", "abc" ESC "[", "abc"},
      {"a sequence cut off inside numbers is dropped", "abc" ESC "[12;3", "abc"},
      {"a private sequence cut off is dropped", "abc" ESC "[?25", "abc"},
      {"an ESC at the very end is dropped", "abc" ESC, "abc"},
      {"text around sequences is kept", "\xC3\xA9" ESC "[2C\xE2\x82\xAC", "\xC3\xA9" ESC "[2C\xE2\x82\xAC"},
  };
  for (const auto& c : cases) EXPECT_EQ(translated(c.input), c.expected) << c.behaviour;
}

TEST(EscapeTranslator, RenditionsFollowTheAttributeArithmeticAndKeepUnsetColoursAtTheTerminalDefault) {
  const std::vector<TranslationCase> cases = {
      {"reset", ESC "[0m", ESC "[0m"},
      {"a foreground colour", ESC "[31m", ESC "[0;31m"},
      {"a background colour", ESC "[44m", ESC "[0;44m"},
      {"intensity and colour in one sequence", ESC "[1;32m", ESC "[0;92m"},
      {"intensity alone on the defaults: bold, default background", ESC "[1m", ESC "[0;1m"},
      {"39 adds foreground intensity", ESC "[39m", ESC "[0;1m"},
      {"49 adds background intensity to a set background", ESC "[41;49m", ESC "[0;101m"},
      {"underline", ESC "[4m", ESC "[0;4m"},
      {"a colour code drops the underline set before it", ESC "[4;31m", ESC "[0;31m"},
      {"underline after a colour stays", ESC "[31;4m", ESC "[0;4;31m"},
      {"three codes: pending pair then the third", ESC "[36;41;1m", ESC "[0;96;101m"},
      {"an unknown code leaves the attribute unchanged", ESC "[33;5m", ESC "[0;33m"},
      {"an unknown code alone on the defaults", ESC "[5m", ESC "[0m"},
      {"reverse on the defaults", ESC "[7m", ESC "[0;7m"},
      {"reverse with a set foreground: it becomes the background", ESC "[31;7m", ESC "[0;7;31m"},
      {"reverse with both colours set swaps them", ESC "[31;44m" ESC "[7m", ESC "[0;31;44m" ESC "[0;34;41m"},
      {"reverse twice restores", ESC "[7m" ESC "[7m", ESC "[0;7m" ESC "[0m"},
      {"reverse drops the underline", ESC "[31;4m" ESC "[7m", ESC "[0;4;31m" ESC "[0;7;31m"},
      {"an empty rendition after ; is no rendition", ESC "[1;32;mx", "x"},
  };
  for (const auto& c : cases) EXPECT_EQ(translated(c.input), c.expected) << c.behaviour;
}

TEST(EscapeTranslator, MapsEachColourCodeToTheSameStandardColour) {
  // The emulated console numbers colours blue 1, green 2, red 4; the
  // standard codes red 1, green 2, blue 4. Both mappings must cancel out.
  for (int index = 0; index < 8; ++index) {
    std::string code = std::to_string(30 + index);
    EXPECT_EQ(translated(ESC "[" + code + "m"), ESC "[0;" + code + "m");
    EXPECT_EQ(translated(ESC "[1;" + code + "m"), ESC "[0;" + std::to_string(90 + index) + "m");
    code = std::to_string(40 + index);
    EXPECT_EQ(translated(ESC "[" + code + "m"), ESC "[0;" + code + "m");
    EXPECT_EQ(translated(ESC "[" + code + ";1m"), ESC "[0;1;" + std::to_string(100 + index) + "m");
  }
}

TEST(EscapeTranslator, KeepsTheAttributeInTheConsoleBitOrder) {
  EscapeTranslator translator;
  translator.translate(ESC "[31m");
  EXPECT_EQ(translator.attribute() & 0xFFFF, 0x04);  // red
  translator.translate(ESC "[34;42m");
  EXPECT_EQ(translator.attribute() & 0xFFFF, 0x21);  // blue on green
  translator.translate(ESC "[1;4m");
  EXPECT_EQ(translator.attribute() & 0xFFFF, 0x80A9);
  translator.translate(ESC "[0m");
  EXPECT_EQ(translator.attribute(), EscapeTranslator::kDefault);
}

TEST(EscapeTranslator, ArithmeticCountsDefaultForegroundAsSevenAndBackgroundAsZero) {
  using T = EscapeTranslator;
  EXPECT_EQ(T::apply_rendition(T::kDefault, 1) & 0xFFFF, 0x8F);
  EXPECT_EQ(T::apply_rendition(T::kDefault, 7) & 0xFFFF, 0x70);
  EXPECT_EQ(T::apply_rendition(0x801E, 7), 0xE1);
  EXPECT_EQ(T::apply_rendition(0x80FF, 32), 0xFA);
  EXPECT_EQ(T::apply_rendition(0x80FF, 42), 0xAF);
  EXPECT_EQ(T::apply_rendition(0x12, 9999), 0x12);
}

TEST(EscapeTranslator, CarriesTheAttributeFromOneWriteToTheNextUntilReset) {
  EscapeTranslator translator;
  EXPECT_EQ(translator.translate(ESC "[31m"), ESC "[0;31m");
  EXPECT_EQ(translator.translate("x" ESC "[1m"), "x" ESC "[0;91m");
  translator.reset();
  EXPECT_EQ(translator.translate(ESC "[1m"), ESC "[0;1m");
}

// --- The output layer through a capturing sink ---------------------------------------

std::string captured;
std::vector<size_t> chunk_sizes;

void capture(const char* bytes, size_t count) {
  captured.append(bytes, count);
  chunk_sizes.push_back(count);
}

class OutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    captured.clear();
    chunk_sizes.clear();
    set_sink(capture);
    set_terminal(false);
  }
  void TearDown() override {
    set_sink(nullptr);
    init();
  }
};

TEST_F(OutputTest, RedirectedOutputPassesEscapeSequencesUnchanged) {
  std::string text = "a" ESC "[31mred" ESC "[0m" ESC "[5;10H" ESC "[?25l" ESC "[1";
  print_bytes(text.data(), text.size());
  EXPECT_EQ(captured, text);
}

TEST_F(OutputTest, EncodesEveryUnitAsUtf8) {
  const uint8_t latin1[] = {'A', 0xE9, 0xFF};
  print_latin1(latin1, sizeof latin1);
  EXPECT_EQ(captured, "A\xC3\xA9\xC3\xBF");

  captured.clear();
  const uint16_t ucs2[] = {'B', 0xE9, 0x20AC, 0xD800};
  print_ucs2(ucs2, sizeof ucs2);
  EXPECT_EQ(captured, "B\xC3\xA9\xE2\x82\xAC\xEF\xBF\xBD") << "a lone surrogate shows as U+FFFD";

  captured.clear();
  const uint32_t ucs4[] = {'C', 0x7FF, 0x800, 0x1F600, 0x10FFFF, 0x110000};
  print_ucs4(ucs4, sizeof ucs4);
  EXPECT_EQ(captured, "C\xDF\xBF\xE0\xA0\x80\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF\xEF\xBF\xBD");
}

TEST_F(OutputTest, EndsLinesWithLineFeedOnlyInEveryUnit) {
  const uint8_t latin1[] = {'a'};
  const uint16_t ucs2[] = {'b'};
  const uint32_t ucs4[] = {'c'};
  print_line_latin1(latin1, sizeof latin1);
  print_line_ucs2(ucs2, sizeof ucs2);
  print_line_ucs4(ucs4, sizeof ucs4);
  write("", 0, 1, true);
  EXPECT_EQ(captured, "a\nb\nc\n\n");
  set_terminal(true);
  captured.clear();
  print_line_latin1(latin1, sizeof latin1);
  EXPECT_EQ(captured, "a\n");
}

TEST_F(OutputTest, UnitsOtherThanOneTwoOrFourAreRuntimeError101) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const uint8_t text[] = {'a', 'b', 'c'};
  EXPECT_EXIT(write(text, sizeof text, 3, false), ::testing::ExitedWithCode(101), "");
  EXPECT_EXIT(write(text, sizeof text, 0, true), ::testing::ExitedWithCode(101), "");
}

TEST_F(OutputTest, LongTextArrivesIntactInChunksOfAtMostTheBufferSize) {
  // Two-byte characters at every other place make code points straddle the
  // flush threshold.
  std::vector<uint16_t> units;
  std::string expected;
  for (int i = 0; i < 1500; ++i) {
    if (i % 3 == 0) {
      units.push_back(0xE9);
      expected += "\xC3\xA9";
    } else {
      units.push_back(static_cast<uint16_t>('a' + i % 26));
      expected += static_cast<char>('a' + i % 26);
    }
  }
  print_line_ucs2(units.data(), units.size() * 2);
  expected += '\n';
  EXPECT_EQ(captured, expected);
  ASSERT_GE(chunk_sizes.size(), 2u);
  for (size_t size : chunk_sizes) EXPECT_LE(size, 1024u);

  captured.clear();
  chunk_sizes.clear();
  std::string bytes(5000, 'z');
  print_bytes(bytes.data(), bytes.size());
  EXPECT_EQ(captured, bytes);
  for (size_t size : chunk_sizes) EXPECT_LE(size, 1024u);
}

TEST_F(OutputTest, TerminalOutputIsTranslatedPerWrite) {
  set_terminal(true);
  const uint16_t text[] = {0x1B, '[', '5', ';', '1', '0', 'H', 0xE9, 0x1B, '[', '3'};
  print_line_ucs2(text, sizeof text);
  EXPECT_EQ(captured, ESC "[11;6H\xC3\xA9\n") << "the cut-off sequence is dropped, the line end kept";

  captured.clear();
  std::string colour = ESC "[32mgreen";
  print_bytes(colour.data(), colour.size());
  EXPECT_EQ(captured, ESC "[0;32mgreen");
}

TEST_F(OutputTest, CStringsGoOutUntranslatedAndToTheRawOutputHooks) {
  static std::string hooked;
  hooked.clear();
  auto hook = [](const char* bytes, size_t length, int) { hooked.append(bytes, length); };
  output_hooks::add(nullptr, hook);
  set_terminal(true);
  const char* text = "x" ESC "[5;10H";
  EXPECT_EQ(print_c_string(text), text);
  output_hooks::remove(nullptr, hook);
  EXPECT_EQ(captured, text);
  EXPECT_EQ(hooked, text);
}

TEST_F(OutputTest, NumberPrintersWriteTheirFormatHandItToTheRawHooksAndReturnTheArgument) {
  static std::string hooked;
  hooked.clear();
  auto hook = [](const char* bytes, size_t length, int) { hooked.append(bytes, length).append("|"); };
  output_hooks::add(nullptr, hook);
  EXPECT_EQ(form_integer(-42), -42);
  EXPECT_EQ(form_integer(2147483647), 2147483647);
  EXPECT_EQ(form_hex2(0xA), 0xAu);
  EXPECT_EQ(form_hex2(0x1FF), 0x1FFu);
  EXPECT_EQ(form_hex8(0xBEEF), 0xBEEFu);
  EXPECT_EQ(form_float(1.0 / 3), 1.0 / 3);
  EXPECT_EQ(form_float(1e300), 1e300);
  EXPECT_EQ(form_float32(1.0f / 3), 1.0f / 3);
  EXPECT_EQ(form_float32(0.1f), 0.1f);
  output_hooks::remove(nullptr, hook);
  const char* expected =
      "-42|2147483647|0A|1FF|0000BEEF|0.3333333333333333|1e+300|0.3333333|0.1|";
  EXPECT_EQ(hooked, expected);
  std::string without_bars = expected;
  std::erase(without_bars, '|');
  EXPECT_EQ(captured, without_bars);
}

TEST(SuspendTerminalGui, OnlyTheOutermostGuardSuspendsAndResumes) {
  static std::string calls;
  calls.clear();
  set_terminal_gui_hooks([] { calls += "suspend "; }, [] { calls += "resume "; });
  {
    SuspendTerminalGui outer;
    {
      SuspendTerminalGui inner;
      EXPECT_EQ(calls, "suspend ");
    }
    EXPECT_EQ(calls, "suspend ");
  }
  EXPECT_EQ(calls, "suspend resume ");
  set_terminal_gui_hooks(nullptr, nullptr);
  { SuspendTerminalGui without_hooks; }
  EXPECT_EQ(calls, "suspend resume ");
}

}  // namespace
}  // namespace kel::output
