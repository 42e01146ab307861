// The seam between the case-file runner and the interpreter.
//
// The runner of tests/kel reads Kel source and expectations but cannot
// evaluate anything itself; the interpreter installs one evaluator here at
// boot, and the runner asks for it. An evaluator runs one case's source in
// the environment shared by the cases of one file and reports what the
// console would have shown: the text the case printed, and the result line
// the console prints after it. Until an evaluator is installed, installed()
// answers null and the runner refuses to judge any case.
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

// Makes evaluator the one the runner uses; null removes it.
void install(Evaluator evaluator);

// The evaluator installed last, or null when none is.
Evaluator installed();

}  // namespace kel::case_evaluation
