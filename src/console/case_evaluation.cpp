// The installed case evaluator (see case_evaluation.h): one process-wide
// slot, written at boot and read by the case-file runner.
#include "console/case_evaluation.h"

namespace kel::case_evaluation {

namespace {
Evaluator current = nullptr;
}  // namespace

void install(Evaluator evaluator) { current = evaluator; }

Evaluator installed() { return current; }

}  // namespace kel::case_evaluation
