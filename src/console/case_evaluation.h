// Running a case of a Kel case file the way the console runs a typed line.
//
// The runner of tests/kel reads Kel source and expectations but evaluates
// nothing itself: it hands each case to an evaluator, evaluate() below on
// a booted runtime (its own tests pass stand-ins). An evaluator runs one
// case's source in the environment shared by the cases of one file and
// reports what the console would have shown: the text the case printed,
// and the result line the console prints after it.
#pragma once

#include <string>

namespace kel::case_evaluation {

struct Outcome {
  // Everything the case printed, byte for byte, line feeds included.
  std::string printed;
  // "== " and the molded result (e.g. "== [1 2]", "== unset"), or the
  // "*** ..." lines of the error report joined by line feeds (no final one).
  std::string result_line;
};

using Evaluator = Outcome (*)(const std::string& source);

// The console's evaluator: loads the source, evaluates it under a try and
// gives the result molded after "== " (a float! formed) or the error's
// report, with everything the case printed.
Outcome evaluate(const std::string& source);

// The same under a tracer that does nothing: every step of the case reports
// its events, so the evaluation takes the interpreter's general path, and
// the outcome must read as the plain one's (the differential run). A case
// that installs a tracer of its own (do/trace) runs under that one alone,
// since a traced evaluation keeps the tracer it runs under.
Outcome evaluate_traced(const std::string& source);

}  // namespace kel::case_evaluation
