// The lexer's tables: the byte classes, the transition table of the token
// automaton, the per-state skip and datatype tables and the token entries.
//
// The lexer is one deterministic automaton over bytes. Each byte maps to a
// class (0-39) plus flag bits; the automaton walks 65 working states (0-64)
// and stops in one of 36 final states (66-101) without consuming the byte
// that led there. A final state names a token entry, whose scanner does the
// structural work (blocks, parens, paths, braced strings, comments) and
// whose loader turns the token's text into a value. Everything here is
// constant data built at compile time: the transition table is written row
// by row in the compact form "classes>next" and expanded by a constexpr
// builder that refuses malformed or overlapping rows, so a typing slip in a
// row is a compile error rather than a silent wrong token.
//
// Invariants checked below: every byte has a class; a transition leads to a
// working state 0-64 or a final state 66-101 (65 never occurs); the end-of-
// input column of every working state leads to a final state, so a token
// cut off by the end of the input is always finished.
#pragma once

#include <array>
#include <cstdint>

#include "runtime/cell.h"

namespace kel::lexer {

// --- Byte classes -------------------------------------------------------------------

enum CharClass : uint8_t {
  kClassBlank = 0,         // tab, carriage return, space
  kClassLineFeed = 1,
  kClassDigit = 2,         // 1-9
  kClassZero = 3,
  kClassBlockOpen = 4,     // [
  kClassBlockClose = 5,    // ]
  kClassParenOpen = 6,     // (
  kClassParenClose = 7,    // )
  kClassBraceOpen = 8,     // {
  kClassBraceClose = 9,    // }
  kClassQuote = 10,        // "
  kClassHash = 11,         // #
  kClassApostrophe = 12,   // '
  kClassColon = 13,
  kClassX = 14,            // x X
  kClassT = 15,            // T
  kClassH = 16,            // h
  kClassLowerE = 17,       // e
  kClassUpperE = 18,       // E
  kClassLowerHex = 19,     // a-d f
  kClassUpperHex = 20,     // A-D F
  kClassSlash = 21,
  kClassBackslash = 22,
  kClassLess = 23,         // <
  kClassGreater = 24,      // >
  kClassEqual = 25,
  kClassPercent = 26,
  kClassComma = 27,
  kClassSemicolon = 28,
  kClassAt = 29,
  kClassDot = 30,
  kClassDollar = 31,
  kClassPlus = 32,
  kClassMinus = 33,
  kClassCaret = 34,
  kClassControl = 35,      // control bytes other than tab, line feed, carriage return, NUL
  kClassContinuation = 36, // DEL and the UTF-8 continuation bytes 0x80-0xBF
  kClassWordLetter = 37,   // the other name characters and the UTF-8 lead bytes 0xC2-0xF7
  kClassNeverUtf8 = 38,    // 0xC0, 0xC1, 0xF8-0xFF
  kClassEnd = 39,          // NUL, and the end of the input
};
constexpr int kClassCount = 40;

// Flag bits above the class byte, ORed over every byte of a token so that
// a loader knows at once whether a sign, an exponent letter, a separator or
// a non-ASCII byte occurred.
namespace token_flags {
constexpr uint32_t kClassMask = 0x000000FF;
// UTF-8 continuation bytes 0x80-0xBF. A lone one (or one too many) is
// malformed text that only decoding finds; the flag makes every loader
// that copies plain ASCII text as it stands decode this token instead.
constexpr uint32_t kContinuation = 0x00010000;
constexpr uint32_t kSpansLines = 0x00020000;  // braced string text crossed line feeds
constexpr uint32_t kPercent = 0x00040000;
constexpr uint32_t kGreater = 0x00080000;
constexpr uint32_t kLess = 0x00100000;
constexpr uint32_t kSign = 0x00200000;
constexpr uint32_t kNul = 0x00400000;
constexpr uint32_t kHash = 0x00800000;
constexpr uint32_t kExponent = 0x01000000;
constexpr uint32_t kApostrophe = 0x02000000;
constexpr uint32_t kColon = 0x04000000;
constexpr uint32_t kComma = 0x08000000;
constexpr uint32_t kDot = 0x10000000;
constexpr uint32_t kCaret = 0x20000000;
constexpr uint32_t kLead2Or3 = 0x40000000;  // lead bytes 0xC2-0xEF
constexpr uint32_t kLead4 = 0x80000000;     // lead bytes 0xF0-0xF7
constexpr uint32_t kNonAscii = kLead2Or3 | kLead4 | kContinuation;
}  // namespace token_flags

namespace detail {

constexpr std::array<uint32_t, 256> build_char_classes() {
  std::array<uint32_t, 256> table{};
  for (uint32_t& entry : table) entry = 0xFF;  // unassigned, refused below
  auto set = [&table](int first, int last, uint32_t value) {
    for (int byte = first; byte <= last; ++byte) table[static_cast<size_t>(byte)] = value;
  };
  auto one = [&set](char byte, uint32_t value) { set(static_cast<uint8_t>(byte), static_cast<uint8_t>(byte), value); };
  set(0x00, 0x00, kClassEnd | token_flags::kNul);
  set(0x01, 0x08, kClassControl);
  set(0x09, 0x09, kClassBlank);
  set(0x0A, 0x0A, kClassLineFeed);
  set(0x0B, 0x0C, kClassControl);
  set(0x0D, 0x0D, kClassBlank);
  set(0x0E, 0x1F, kClassControl);
  one(' ', kClassBlank);
  for (char c : {'!', '&', '*', '?', 'Y', 'Z', '_', '`', 'g', 'y', 'z', '|', '~'}) one(c, kClassWordLetter);
  set('G', 'S', kClassWordLetter);
  set('U', 'W', kClassWordLetter);
  set('i', 'w', kClassWordLetter);
  one('"', kClassQuote);
  one('#', kClassHash | token_flags::kHash);
  one('$', kClassDollar);
  one('%', kClassPercent | token_flags::kPercent);
  one('\'', kClassApostrophe | token_flags::kApostrophe);
  one('(', kClassParenOpen);
  one(')', kClassParenClose);
  one('+', kClassPlus | token_flags::kSign);
  one(',', kClassComma | token_flags::kComma);
  one('-', kClassMinus | token_flags::kSign);
  one('.', kClassDot | token_flags::kDot);
  one('/', kClassSlash);
  one('0', kClassZero);
  set('1', '9', kClassDigit);
  one(':', kClassColon | token_flags::kColon);
  one(';', kClassSemicolon);
  one('<', kClassLess | token_flags::kLess);
  one('=', kClassEqual);
  one('>', kClassGreater | token_flags::kGreater);
  one('@', kClassAt);
  set('A', 'D', kClassUpperHex);
  one('E', kClassUpperE | token_flags::kExponent);
  one('F', kClassUpperHex);
  one('T', kClassT);
  one('X', kClassX);
  one('[', kClassBlockOpen);
  one('\\', kClassBackslash);
  one(']', kClassBlockClose);
  one('^', kClassCaret | token_flags::kCaret);
  set('a', 'd', kClassLowerHex);
  one('e', kClassLowerE | token_flags::kExponent);
  one('f', kClassLowerHex);
  one('h', kClassH);
  one('x', kClassX);
  one('{', kClassBraceOpen);
  one('}', kClassBraceClose);
  set(0x7F, 0x7F, kClassContinuation);
  set(0x80, 0xBF, kClassContinuation | token_flags::kContinuation);
  set(0xC0, 0xC1, kClassNeverUtf8);
  set(0xC2, 0xEF, kClassWordLetter | token_flags::kLead2Or3);
  set(0xF0, 0xF7, kClassWordLetter | token_flags::kLead4);
  set(0xF8, 0xFF, kClassNeverUtf8);
  for (uint32_t entry : table) {
    if ((entry & token_flags::kClassMask) >= kClassCount) throw "a byte has no class";
  }
  return table;
}

}  // namespace detail

// Indexed by byte: the class in bits 0-7, token flags above.
inline constexpr std::array<uint32_t, 256> kCharClasses = detail::build_char_classes();
static_assert(kCharClasses.size() == 256);

// --- States ----------------------------------------------------------------------------

constexpr int kWorkingStateCount = 65;  // states 0-64
constexpr int kFirstFinalState = 66;
constexpr int kFinalStateCount = 36;    // states 66-101, token entries 0-35
constexpr int kStateCount = kFirstFinalState + kFinalStateCount;

// Start states: ordinary scanning, inside a braced string, the body of a
// point literal after its "(", and a path element after a "/".
constexpr uint8_t kStartState = 0;
constexpr uint8_t kBraceStringState = 4;
constexpr uint8_t kRawStringBodyState = 10;
constexpr uint8_t kRawStringCloseState = 11;
constexpr uint8_t kRawStringPercentState = 12;
constexpr uint8_t kPointState = 35;
constexpr uint8_t kPathElementState = 59;

// The final states the scan loop tests by number.
constexpr uint8_t kEndFinal = 66;
constexpr uint8_t kErrorFinal = 67;
constexpr uint8_t kPathStartFinal = 75;

// Token entries: final state s selects entry s - 66.
enum TokenEntry : uint8_t {
  kEntryEnd = 0,
  kEntryError = 1,
  kEntryBlockOpen = 2,
  kEntryBlockClose = 3,
  kEntryParenOpen = 4,
  kEntryParenClose = 5,
  kEntryBraceOpen = 6,
  kEntryBraceClose = 7,
  kEntryMapOpen = 8,
  kEntryPath = 9,
  kEntryConstruct = 10,
  kEntryComment = 11,
  kEntryComma = 12,
  kEntryString = 13,
  kEntryWord = 14,
  kEntryIssue = 15,
  kEntryInteger = 16,
  kEntryRefinement = 17,
  kEntryChar = 18,
  kEntryFile = 19,
  kEntryBinary = 20,
  kEntryPercent = 21,
  kEntryFloat = 22,
  kEntrySpecialFloat = 23,
  kEntryTuple = 24,
  kEntryDate = 25,
  kEntryPair = 26,
  kEntryPoint = 27,
  kEntryTime = 28,
  kEntryMoney = 29,
  kEntryTag = 30,
  kEntryUrl = 31,
  kEntryEmail = 32,
  kEntryHex = 33,
  kEntryRawString = 34,
  kEntryRef = 35,
};
// Entries up to here are structural: their scanners get the strict flag.
constexpr uint8_t kLastStructuralEntry = kEntryComma;

namespace detail {

// One row of the transition table: the next state for every class not
// listed, then "classes>next" groups separated by ";", where classes is a
// comma-separated list of classes and class ranges.
struct TransitionRow {
  int state;
  int rest;
  const char* moves;
};

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

constexpr int read_number(const char*& p) {
  if (!is_digit(*p)) throw "a number was expected in a transition row";
  int value = 0;
  while (is_digit(*p)) value = value * 10 + (*p++ - '0');
  return value;
}

template <size_t N>
constexpr std::array<uint8_t, kWorkingStateCount * kClassCount> build_transitions(const TransitionRow (&rows)[N]) {
  static_assert(N == kWorkingStateCount, "one row per working state");
  std::array<uint8_t, kWorkingStateCount * kClassCount> table{};
  for (int row = 0; row < kWorkingStateCount; ++row) {
    const TransitionRow& described = rows[row];
    if (described.state != row) throw "transition rows out of order";
    bool listed[kClassCount] = {};
    for (int c = 0; c < kClassCount; ++c) table[static_cast<size_t>(row * kClassCount + c)] = static_cast<uint8_t>(described.rest);
    const char* p = described.moves;
    while (*p != '\0') {
      int classes[kClassCount] = {};
      int count = 0;
      for (;;) {
        int first = read_number(p);
        int last = first;
        if (*p == '-') {
          ++p;
          last = read_number(p);
        }
        if (first > last || last >= kClassCount) throw "bad class range in a transition row";
        for (int c = first; c <= last; ++c) classes[count++] = c;
        if (*p != ',') break;
        ++p;
      }
      if (*p != '>') throw "'>' expected in a transition row";
      ++p;
      int next = read_number(p);
      for (int i = 0; i < count; ++i) {
        if (listed[classes[i]]) throw "a class is listed twice in a transition row";
        listed[classes[i]] = true;
        table[static_cast<size_t>(row * kClassCount + classes[i])] = static_cast<uint8_t>(next);
      }
      if (*p == ';') ++p;
      while (*p == ' ') ++p;
    }
  }
  for (uint8_t next : table) {
    if (next >= kStateCount || next == kWorkingStateCount) throw "a transition leads to no state";
  }
  return table;
}

inline constexpr TransitionRow kTransitionRows[] = {
    {0, 52, "0-1,35>0; 28>1; 10>2; 26>6; 21>13; 11>16; 2-3>23; 31>36; 18,20>40; 23>43; 32-33>47; 30>49; 12-13>51; 29>57; 25>58; 39>66; 9,22,36,38>67; 4>68; 5>69; 6>70; 7>71; 8>72; 27>78"},
    {1, 1, "38>67; 1,39>77"},
    {2, 2, "34>3; 1,38-39>67; 10>79"},
    {3, 2, "38-39>67"},
    {4, 4, "34>5; 38-39>67; 8>72; 9>73"},
    {5, 4, "38-39>67"},
    {6, 7, "10>8; 26>9; 8>10; 13>54; 38>67; 0-1,4-7,9,28-29,35,39>80"},
    {7, 7, "10,38>67; 0-1,4-9,13,28-29,39>85"},
    {8, 8, "1,38-39>67; 10>85"},
    {9, 7, "26>9; 8>10; 38>67; 0-1,4-7,9-10,22,28,35,39>80"},
    {10, 10, "9>11; 38-39>67"},
    {11, 10, "9>11; 26>12; 38-39>67"},
    {12, 67, "26>12; 0-1,4-8,10,23,28,35,39>100"},
    {13, 14, "21>15; 13>53; 27,38>67; 0-1,4-11,28-29,35,39>80"},
    {14, 14, "13,27,38>67; 0-1,4-10,21,28-29,35,39>83"},
    {15, 52, "21>15; 26-27,31,38>67; 0-1,4-11,28-29,35,39>80"},
    {16, 22, "8>17; 10>19; 6>21; 0-1,5,7,9,13,23-24,27,38>67; 4>74; 28-29,35,39>81"},
    {17, 67, "0-3,14-21,25,32,37>17; 28>18; 9>86"},
    {18, 18, "1>17; 38-39>67"},
    {19, 19, "34>20; 38-39>67; 10>84"},
    {20, 19, "38-39>67"},
    {21, 21, "38-39>67; 7>76"},
    {22, 22, "13,21,38>67; 0-1,4-10,28-29,35,39>81"},
    {23, 82, "11>16; 2-3,12>23; 30>24; 17>26; 18>27; 15,21,33>30; 13>31; 14>33; 20>39; 16>42; 29>56; 19,22,24-25,31-32,34,36-38>67; 26>87"},
    {24, 67, "2-3,12>25; 17-18>26; 11>28; 14>33; 26>87; 0-1,4-10,21,23,27-28,35,39>88"},
    {25, 88, "2-3,12>25; 17-18>26; 30>29; 14>33; 29>56; 11,15-16,19-20,22,24-25,31-34,36-38>67; 26>87"},
    {26, 67, "2-3,32-33>26; 29>56; 0-1,4-10,13,21,23,27-28,35,39>88"},
    {27, 88, "32-33>26; 2-3>27; 30>29; 18,20>40; 16>42; 29>56; 11-12,14-15,17,19,22,24-25,28,31,34,36-38>67; 26>87"},
    {28, 89, "14-20,24-25,30,32-33,36-37>28; 11-13,26,29,31,34,38>67; 2>88"},
    {29, 67, "2-3,30>29; 0-1,4-10,13,21,23,28,35,39>90"},
    {30, 30, "26-27,29,34,36,38>67; 0-1,4-10,23,28,31,35,39>91"},
    {31, 67, "2-3>32"},
    {32, 67, "2-3,13,30>32; 0-1,4-10,21,23,28,35,39>94"},
    {33, 67, "2-3,32-33>34; 29>56"},
    {34, 67, "2-3,17-18,30>34; 29>56; 0-1,4-10,13,21,23,28,35,39>92"},
    {35, 67, "0,2-3,5,11,17-20,27,30,32-33,37>35; 7>93"},
    {36, 67, "2-3>37"},
    {37, 67, "2-3,12>37; 30>38; 0-1,4-11,13,21,23,28,35,39>95"},
    {38, 67, "2-3,12>38; 0-1,4-11,13,21,23,28,35,39>95"},
    {39, 67, "2-3,18,20>39; 16>41; 29>56"},
    {40, 80, "31>37; 2-3,18,20>40; 16>41; 12,14-15,17,19,23-25,30,32-34,36-37>52; 13>53; 29>56; 26-27,38>67; 21>75"},
    {41, 52, "31>37; 13>53; 29>56; 11,26-27,38>67; 21>75; 0-1,4-10,22,28,35,39>99"},
    {42, 67, "31>37; 29>56; 21>75; 0-1,4-10,22-23,28,35,39>99"},
    {43, 44, "23>43; 12>46; 24-25,33>52; 13>53; 38>67; 0-1,4-10,28,35,39>80"},
    {44, 44, "10>45; 12>46; 38-39>67; 24>96"},
    {45, 45, "10>44; 38-39>67"},
    {46, 46, "12>44; 38-39>67"},
    {47, 52, "2-3>23; 31>37; 30>49; 12,26,34,38>67; 21>75; 0-1,4-11,22,28,35,39>80"},
    {48, 52, "12,26,31,34,38>67; 21>75; 0-1,4-11,22,28,35,39>80"},
    {49, 52, "2-3,32-33>50; 13>53; 29>56; 26-27,31,38>67; 21>75; 0-1,4-11,22,28,35,39>80"},
    {50, 67, "14>33; 2-3,17-18,32-33>50; 29>56; 26>87; 0-1,4-10,13,21,23,35,39>88"},
    {51, 67, "21>13; 23>43; 32-33>48; 14-20,24,30,34,36-37>52; 26>54; 25>58"},
    {52, 52, "31>36; 13>53; 29>56; 26-27,38>67; 21>75; 0-1,4-11,22-23,28,35,39>80"},
    {53, 55, "23,38>67; 0-1,4-10,22,28,35,39>80"},
    {54, 67, "26>54; 0-1,4-9,22,28,35,39>80"},
    {55, 55, "24,34,38>67; 0-1,4-10,22-23,28,35,39>97"},
    {56, 98, "2-3,14-20,26,30,32-33,36-37>56; 11-13,24-25,27,29,31,34,38>67"},
    {57, 57, "11-12,22,24-25,27,29,31,34,38>67; 0-1,4-10,23,28,35,39>101"},
    {58, 52, "11,26-27,29,31,38>67; 21>75; 0-1,4-10,13,22,28,35,39>80"},
    {59, 67, "10>2; 31>36; 23>43; 29>57; 2-3>60; 12-13>61; 14-20,24-25,30,36-37>62; 11>63; 32-33>64; 6>70; 7>71"},
    {60, 67, "30>24; 17-18>26; 14>33; 29>56; 2-3,12>60; 0-1,4-10,13,21,23,28,35,39>82; 26>87"},
    {61, 67, "14-20,23-25,30,32-33,36-37>62"},
    {62, 62, "31>36; 29>56; 11,26-27,38>67; 0-1,4-10,13,21-22,28,35,39>80"},
    {63, 22, "10>19; 4>21; 0-1,5-9,13,21,23-25,27-29,35,38-39>67"},
    {64, 80, "31>36; 29>56; 2-3>60; 14-20,24-25,30,36-37>62; 32-33>64; 11-12,23,26-27,34,38>67"},
};

}  // namespace detail

// Next state = kTransitions[state * kClassCount + class].
inline constexpr std::array<uint8_t, kWorkingStateCount * kClassCount> kTransitions =
    detail::build_transitions(detail::kTransitionRows);
static_assert(kTransitions.size() == 2600, "65 working states by 40 classes");
static_assert(kTransitions[0 * kClassCount + kClassEnd] == kEndFinal, "the end of input between tokens ends the scan");
static_assert(kTransitions[0 * kClassCount + kClassContinuation] == kErrorFinal,
              "a continuation byte cannot start a token");
static_assert(kTransitions[kBraceStringState * kClassCount + kClassBraceClose] == 73);

namespace detail {
constexpr bool end_column_is_final() {
  for (int state = 0; state < kWorkingStateCount; ++state) {
    if (kTransitions[static_cast<size_t>(state * kClassCount + kClassEnd)] < kFirstFinalState) return false;
  }
  return true;
}
}  // namespace detail
static_assert(detail::end_column_is_final(), "the end of the input finishes a token from every state");

// 1 for the state that moves the token start on (state 0: blanks and line
// feeds before a token), 0 for every other state.
namespace detail {
constexpr std::array<uint8_t, kStateCount> build_skip() {
  std::array<uint8_t, kStateCount> table{};
  table[kStartState] = 1;
  return table;
}
constexpr std::array<uint8_t, kClassCount> build_line_feeds() {
  std::array<uint8_t, kClassCount> table{};
  table[kClassLineFeed] = 1;  // a carriage return alone never counts
  return table;
}
}  // namespace detail
inline constexpr std::array<uint8_t, kStateCount> kSkip = detail::build_skip();
inline constexpr std::array<uint8_t, kClassCount> kLineFeeds = detail::build_line_feeds();
static_assert(kSkip.size() == 102 && kLineFeeds.size() == 40);

// The datatype id of the token each state belongs to (0: none).
namespace detail {
constexpr std::array<uint8_t, kStateCount> build_state_types() {
  std::array<uint8_t, kStateCount> table{};
  auto set = [&table](std::initializer_list<int> states, TypeId type) {
    for (int state : states) table[static_cast<size_t>(state)] = static_cast<uint8_t>(type);
  };
  set({2, 3, 4, 5, 10, 11, 12}, TYPE_STRING);
  set({6, 7, 8, 9}, TYPE_FILE);
  set({13, 15, 41, 47, 48, 49, 51, 52, 54, 58, 61, 62, 64}, TYPE_WORD);
  set({14}, TYPE_REFINEMENT);
  set({16, 22, 63}, TYPE_ISSUE);
  set({17}, TYPE_BINARY);
  set({19, 20}, TYPE_CHAR);
  set({23, 40, 42, 60}, TYPE_INTEGER);
  set({24, 25, 26, 27, 28, 50}, TYPE_FLOAT);
  set({29}, TYPE_TUPLE);
  set({30}, TYPE_DATE);
  set({31, 32}, TYPE_TIME);
  set({33, 34}, TYPE_PAIR);
  set({35}, TYPE_POINT2D);
  set({36, 37, 38}, TYPE_MONEY);
  set({43, 44, 45, 46}, TYPE_TAG);
  set({53}, TYPE_SET_WORD);
  set({55}, TYPE_URL);
  set({56}, TYPE_EMAIL);
  set({57}, TYPE_REF);
  set({59}, TYPE_PATH);
  // Final states: the token entry's datatype.
  set({67}, TYPE_ERROR);
  set({73, 79, 100}, TYPE_STRING);
  set({80}, TYPE_WORD);
  set({81}, TYPE_ISSUE);
  set({82, 99}, TYPE_INTEGER);
  set({83}, TYPE_REFINEMENT);
  set({84}, TYPE_CHAR);
  set({85}, TYPE_FILE);
  set({86}, TYPE_BINARY);
  set({87}, TYPE_PERCENT);
  set({88, 89}, TYPE_FLOAT);
  set({90}, TYPE_TUPLE);
  set({91}, TYPE_DATE);
  set({92}, TYPE_PAIR);
  set({93}, TYPE_POINT2D);
  set({94}, TYPE_TIME);
  set({95}, TYPE_MONEY);
  set({96}, TYPE_TAG);
  set({97}, TYPE_URL);
  set({98}, TYPE_EMAIL);
  set({101}, TYPE_REF);
  return table;
}
}  // namespace detail
inline constexpr std::array<uint8_t, kStateCount> kStateTypes = detail::build_state_types();
static_assert(kStateTypes.size() == 102);

// The names of the token entries, for diagnostics and the tests.
extern const std::array<const char*, kFinalStateCount> kTokenEntryNames;

}  // namespace kel::lexer
