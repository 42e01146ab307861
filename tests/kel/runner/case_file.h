// Kel case files: parsing, judging and running (the format is described in
// tests/kel/README.md).
//
// A parsed file is a list of cases in file order. Each case keeps the line of
// its first source line, its source text, and its expectation as the lines
// the console would show: "-> text" (or "->") for each printed line, then
// either one "== ..." line or one or more "*** ..." lines. An outcome from
// the evaluator is turned into lines of that same shape, so judging a case
// is comparing two lists of lines. Lines the parser cannot place become
// problems, reported like failed cases, so that a malformed file never
// passes silently.
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "console/case_evaluation.h"

namespace kel::case_file {

struct Case {
  int line = 0;                        // first source line, counted from 1
  std::string source;                  // the source lines joined by line feeds
  std::vector<std::string> expected;   // "-> ..." lines, then "== ..." or "*** ..." lines
};

struct Problem {
  int line = 0;
  std::string message;
};

struct CaseFile {
  std::string path;
  std::vector<Case> cases;
  std::vector<Problem> problems;
};

// Splits text into cases; path only labels the result.
CaseFile parse(const std::string& path, std::string_view text);

// Reads and parses the file at path; an unreadable file is one problem.
CaseFile load(const std::string& path);

// The lines the console shows for an outcome, in the shape of Case::expected.
// A last printed line without its line feed still counts as a line.
std::vector<std::string> shown_lines(const case_evaluation::Outcome& outcome);

// "<path>:<line>: <source>", then the expected and actual lines.
std::string format_failure(const std::string& path, const Case& failed_case,
                           const std::vector<std::string>& actual);

// "<path>:<line>: <message>".
std::string format_problem(const std::string& path, const Problem& problem);

// Evaluates one case and writes its failure, if any, to report.
// Returns whether the case passed.
bool run_case(const std::string& path, const Case& test_case,
              case_evaluation::Evaluator evaluator, std::ostream& report);

struct Tally {
  int cases = 0;
  int failed = 0;
};

// Reports the file's problems, then runs its cases in order through one
// evaluator (so definitions carry over). Each problem counts as a failed case.
Tally run_file(const CaseFile& file, case_evaluation::Evaluator evaluator,
               std::ostream& report);

}  // namespace kel::case_file
