// Kel case files (see case_file.h). The parser walks the file once with a
// small state machine: outside a case, in its source, in its printed lines,
// in its error lines. A case is complete at its "==" line or at the first
// line after its "***" lines; anything that leaves a case unfinished is a
// problem at the line where it shows.
#include "kel/runner/case_file.h"

#include <exception>
#include <fstream>
#include <ostream>
#include <sstream>

namespace kel::case_file {

namespace {

enum class LineKind { Other, Printed, Result, Error };

bool starts_with(std::string_view line, std::string_view prefix) {
  return line.substr(0, prefix.size()) == prefix;
}

LineKind kind_of(std::string_view line) {
  if (line == "->" || starts_with(line, "-> ")) return LineKind::Printed;
  if (starts_with(line, "== ")) return LineKind::Result;
  if (starts_with(line, "*** ")) return LineKind::Error;
  return LineKind::Other;
}

// Blank lines and comment lines between cases.
bool is_ignorable(std::string_view line) {
  size_t first = line.find_first_not_of(" \t");
  return first == std::string_view::npos || line[first] == ';';
}

// "-> " followed by nothing is the same empty printed line as "->".
std::string printed_line(std::string_view text) {
  return text.empty() ? std::string("->") : "-> " + std::string(text);
}

std::vector<std::string> split_lines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    lines.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

class Parser {
 public:
  explicit Parser(CaseFile& file) : file_(file) {}

  void take(int number, std::string_view line) {
    LineKind kind = kind_of(line);
    switch (state_) {
      case State::Outside:
        if (kind == LineKind::Other) {
          stray_reported_ = false;
          if (!is_ignorable(line)) begin_case(number, line);
        } else if (!stray_reported_) {
          problem(number, "expectation without source");
          stray_reported_ = true;
        }
        return;
      case State::Source:
        if (kind == LineKind::Other) {
          current_.source += '\n';
          current_.source += line;
        } else {
          expect(kind, line);
        }
        return;
      case State::Printed:
        if (kind == LineKind::Other) {
          problem(number, "printed lines without a result");
          state_ = State::Outside;
          take(number, line);
        } else {
          expect(kind, line);
        }
        return;
      case State::Errors:
        if (kind == LineKind::Error) {
          current_.expected.emplace_back(line);
        } else {
          finish_case();
          take(number, line);
        }
        return;
    }
  }

  void end(int last_line) {
    if (state_ == State::Source) problem(current_.line, "source without expectation");
    if (state_ == State::Printed) problem(last_line, "printed lines without a result");
    if (state_ == State::Errors) finish_case();
    state_ = State::Outside;
  }

 private:
  enum class State { Outside, Source, Printed, Errors };

  void begin_case(int number, std::string_view line) {
    current_ = Case{number, std::string(line), {}};
    state_ = State::Source;
  }

  void expect(LineKind kind, std::string_view line) {
    switch (kind) {
      case LineKind::Printed:
        current_.expected.push_back(printed_line(line.substr(line.size() > 2 ? 3 : 2)));
        state_ = State::Printed;
        return;
      case LineKind::Result:
        current_.expected.emplace_back(line);
        finish_case();
        return;
      case LineKind::Error:
        current_.expected.emplace_back(line);
        state_ = State::Errors;
        return;
      case LineKind::Other:
        return;
    }
  }

  void finish_case() {
    file_.cases.push_back(std::move(current_));
    current_ = Case{};
    state_ = State::Outside;
  }

  void problem(int number, std::string message) {
    file_.problems.push_back(Problem{number, std::move(message)});
  }

  CaseFile& file_;
  State state_ = State::Outside;
  Case current_;
  bool stray_reported_ = false;
};

// A new line holding the label and the first line; the others line up
// under it.
void append_block(std::string& text, const std::string& label,
                  const std::vector<std::string>& lines) {
  text += '\n' + label;
  if (lines.empty()) text += "(nothing)";
  for (size_t index = 0; index < lines.size(); ++index) {
    if (index > 0) text += '\n' + std::string(label.size(), ' ');
    text += lines[index];
  }
}

}  // namespace

CaseFile parse(const std::string& path, std::string_view text) {
  CaseFile file{path, {}, {}};
  Parser parser(file);
  int number = 0;
  for (std::string& line : split_lines(text)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    parser.take(number, line);
  }
  parser.end(number);
  return file;
}

CaseFile load(const std::string& path) {
  std::ifstream stream(path, std::ios::binary);
  if (!stream) return CaseFile{path, {}, {Problem{0, "cannot read the file"}}};
  std::ostringstream text;
  text << stream.rdbuf();
  return parse(path, text.str());
}

std::vector<std::string> shown_lines(const case_evaluation::Outcome& outcome) {
  std::vector<std::string> lines;
  for (const std::string& line : split_lines(outcome.printed)) lines.push_back(printed_line(line));
  for (std::string& line : split_lines(outcome.result_line)) lines.push_back(std::move(line));
  return lines;
}

std::string format_failure(const std::string& path, const Case& failed_case,
                           const std::vector<std::string>& actual) {
  std::string text = path + ":" + std::to_string(failed_case.line) + ": ";
  std::vector<std::string> source = split_lines(failed_case.source);
  for (size_t index = 0; index < source.size(); ++index) {
    if (index > 0) text += "\n    ";
    text += source[index];
  }
  append_block(text, "  expected: ", failed_case.expected);
  append_block(text, "  actual:   ", actual);
  return text;
}

std::string format_problem(const std::string& path, const Problem& problem) {
  return path + ":" + std::to_string(problem.line) + ": " + problem.message;
}

bool run_case(const std::string& path, const Case& test_case,
              case_evaluation::Evaluator evaluator, std::ostream& report) {
  std::vector<std::string> actual;
  // An evaluator must turn every Kel error into its report; anything that
  // still escapes is a fault of the evaluator, shown as this case's failure.
  try {
    actual = shown_lines(evaluator(test_case.source));
  } catch (const std::exception& escaped) {
    actual = {std::string("(the evaluator threw: ") + escaped.what() + ")"};
  } catch (...) {
    actual = {"(the evaluator threw a non-standard exception)"};
  }
  if (actual == test_case.expected) return true;
  report << format_failure(path, test_case, actual) << '\n';
  return false;
}

Tally run_file(const CaseFile& file, case_evaluation::Evaluator evaluator,
               std::ostream& report) {
  Tally tally;
  for (const Problem& problem : file.problems) {
    report << format_problem(file.path, problem) << '\n';
    ++tally.cases;
    ++tally.failed;
  }
  for (const Case& test_case : file.cases) {
    ++tally.cases;
    if (!run_case(file.path, test_case, evaluator, report)) ++tally.failed;
  }
  return tally;
}

}  // namespace kel::case_file
