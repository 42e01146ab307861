// The Kel case-file format and its runner: how a file splits into cases,
// which malformed files are reported and where, how an evaluator's outcome
// is judged, and what a failure looks like.
#include "kel/runner/case_file.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

namespace kel::case_file {
namespace {

using Lines = std::vector<std::string>;

constexpr std::string_view kFixture =
    "; Arithmetic and definitions.\n"  // 1
    "\n"                               // 2
    "1 + 2\n"                          // 3
    "== 3\n"                           // 4
    "double: func [n] [\n"             // 5
    "    n * 2   ; a comment of the source\n"
    "]\n"                              // 7
    "\n"                               // 8
    "print double 5\n"                 // 9
    "print \"\"\n"                     // 10
    "-> 10\n"                          // 11
    "->\n"                             // 12
    "== unset\n"                       // 13
    "1 / 0\n"                          // 14
    "*** Math Error: attempt to divide by zero\n"
    "*** Where: /\n"
    "*** Near : [1 / 0]\n"             // 17
    "   ; an indented comment\n"       // 18
    "\"after\"\n"                      // 19
    "== \"after\"\n";                  // 20

TEST(CaseFileParse, SplitsCasesWithTheirFirstSourceLineAndExpectation) {
  CaseFile file = parse("fixture.kel", kFixture);
  EXPECT_TRUE(file.problems.empty());
  ASSERT_EQ(file.cases.size(), 4u);

  EXPECT_EQ(file.cases[0].line, 3);
  EXPECT_EQ(file.cases[0].source, "1 + 2");
  EXPECT_EQ(file.cases[0].expected, Lines{"== 3"});

  // Blank lines and comments inside a source belong to it.
  EXPECT_EQ(file.cases[1].line, 5);
  EXPECT_EQ(file.cases[1].source,
            "double: func [n] [\n    n * 2   ; a comment of the source\n]\n\n"
            "print double 5\nprint \"\"");
  EXPECT_EQ(file.cases[1].expected, (Lines{"-> 10", "->", "== unset"}));

  // All the "***" lines are one expectation, and the next case may follow
  // on the very next line.
  EXPECT_EQ(file.cases[2].line, 14);
  EXPECT_EQ(file.cases[2].expected,
            (Lines{"*** Math Error: attempt to divide by zero", "*** Where: /",
                   "*** Near : [1 / 0]"}));

  EXPECT_EQ(file.cases[3].line, 19);
  EXPECT_EQ(file.cases[3].source, "\"after\"");
}

TEST(CaseFileParse, ReadsCarriageReturnLineEndsAndAnEmptyPrintedLineWithItsSpace) {
  CaseFile file = parse("f.kel", "print \"\"\r\n-> \r\n== unset\r\n1 / 0\r\n*** Math Error: x");
  EXPECT_TRUE(file.problems.empty());
  ASSERT_EQ(file.cases.size(), 2u);
  EXPECT_EQ(file.cases[0].source, "print \"\"");
  EXPECT_EQ(file.cases[0].expected, (Lines{"->", "== unset"}));
  EXPECT_EQ(file.cases[1].expected, Lines{"*** Math Error: x"});
}

TEST(CaseFileParse, ReportsMalformedFilesAtTheLineWhereTheyGoWrong) {
  struct Row {
    std::string_view text;
    int line;
    std::string_view message;
    size_t cases;
  };
  const Row rows[] = {
      {"1 + 2\n== 3\n\nx: 1\ny: 2\n", 4, "source without expectation", 1},
      {"print 1\n-> 1\n\n2\n== 2\n", 3, "printed lines without a result", 1},
      {"print 1\n-> 1\n", 2, "printed lines without a result", 0},
      {"1\n== 1\n== 2\n*** Where: /\n-> x\n3\n== 3\n", 3, "expectation without source", 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    CaseFile file = parse("bad.kel", row.text);
    ASSERT_EQ(file.problems.size(), 1u);  // a run of stray lines is one problem
    EXPECT_EQ(file.problems[0].line, row.line);
    EXPECT_EQ(file.problems[0].message, row.message);
    EXPECT_EQ(file.cases.size(), row.cases);
    EXPECT_EQ(format_problem("bad.kel", file.problems[0]),
              "bad.kel:" + std::to_string(row.line) + ": " + std::string(row.message));
  }
}

TEST(CaseFileLoad, AnUnreadableFileIsAProblem) {
  CaseFile file = load("/nonexistent/cases.kel");
  EXPECT_TRUE(file.cases.empty());
  ASSERT_EQ(file.problems.size(), 1u);
  EXPECT_EQ(file.problems[0].message, "cannot read the file");
}

TEST(CaseFileOutcome, ShowsPrintedTextLineByLineBeforeTheResultLines) {
  struct Row {
    case_evaluation::Outcome outcome;
    Lines shown;
  };
  const Row rows[] = {
      {{"", "== 3"}, {"== 3"}},
      {{"a\n", "== unset"}, {"-> a", "== unset"}},
      {{"a\n\nb", "== unset"}, {"-> a", "->", "-> b", "== unset"}},  // unfinished last line
      {{"\n\n", "== none"}, {"->", "->", "== none"}},
      {{"", "*** Math Error: x\n*** Where: /"}, {"*** Math Error: x", "*** Where: /"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.outcome.printed + "|" + row.outcome.result_line);
    EXPECT_EQ(shown_lines(row.outcome), row.shown);
  }
}

TEST(CaseFileFailure, NamesFileLineAndSourceThenExpectedAndActualLinedUp) {
  Case failed{14, "f: func [] [\n    1 / 0\n]\nf", {"-> x", "== 1"}};
  EXPECT_EQ(format_failure("math.kel", failed, {"*** Math Error: attempt to divide by zero",
                                                "*** Where: /"}),
            "math.kel:14: f: func [] [\n"
            "        1 / 0\n"
            "    ]\n"
            "    f\n"
            "  expected: -> x\n"
            "            == 1\n"
            "  actual:   *** Math Error: attempt to divide by zero\n"
            "            *** Where: /");
  EXPECT_EQ(format_failure("a.kel", Case{1, "1", {"== 1"}}, {}),
            "a.kel:1: 1\n  expected: == 1\n  actual:   (nothing)");
}

// A stand-in for the interpreter: a few fixed answers, and a counter that
// shows the cases of a file run in order through one evaluator.
int evaluations = 0;

case_evaluation::Outcome fake_evaluate(const std::string& source) {
  ++evaluations;
  if (source == "1 + 2") return {"", "== 3"};
  if (source == "print 1") return {"1\n", "== unset"};
  if (source == "count") return {"", "== " + std::to_string(evaluations)};
  if (source == "1 / 0") {
    return {"", "*** Math Error: attempt to divide by zero\n*** Where: /\n*** Near : [1 / 0]"};
  }
  throw std::runtime_error("no answer for " + source);
}

class FakeEvaluator : public ::testing::Test {
 protected:
  void SetUp() override { evaluations = 0; }
};

TEST_F(FakeEvaluator, PassingCasesReportNothing) {
  CaseFile file = parse("good.kel",
                        "1 + 2\n== 3\nprint 1\n-> 1\n== unset\n1 / 0\n"
                        "*** Math Error: attempt to divide by zero\n*** Where: /\n"
                        "*** Near : [1 / 0]\ncount\n== 4\n");
  std::ostringstream report;
  Tally tally = run_file(file, fake_evaluate, report);
  EXPECT_EQ(tally.cases, 4);
  EXPECT_EQ(tally.failed, 0);
  EXPECT_EQ(report.str(), "");
}

TEST_F(FakeEvaluator, FailingCasesAndProblemsAreReportedAndCounted) {
  CaseFile file = parse("bad.kel",
                        "; wrong on purpose\n"
                        "1 + 2\n== 4\n"
                        "print 1\n-> 1\n== unset\n"
                        "1 / 0\n*** Math Error: attempt to divide by zero\n*** Where: /\n"
                        "oops\n== 0\n"
                        "== 5\n");
  std::ostringstream report;
  Tally tally = run_file(file, fake_evaluate, report);
  EXPECT_EQ(tally.cases, 5);
  EXPECT_EQ(tally.failed, 4);
  EXPECT_EQ(report.str(),
            "bad.kel:12: expectation without source\n"
            "bad.kel:2: 1 + 2\n"
            "  expected: == 4\n"
            "  actual:   == 3\n"
            "bad.kel:7: 1 / 0\n"
            "  expected: *** Math Error: attempt to divide by zero\n"
            "            *** Where: /\n"
            "  actual:   *** Math Error: attempt to divide by zero\n"
            "            *** Where: /\n"
            "            *** Near : [1 / 0]\n"
            "bad.kel:10: oops\n"
            "  expected: == 0\n"
            "  actual:   (the evaluator threw: no answer for oops)\n");
}

}  // namespace
}  // namespace kel::case_file
