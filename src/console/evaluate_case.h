// Installs the evaluator that the case-file runner uses (see
// case_evaluation.h).
#pragma once

namespace kel::console {

void install_case_evaluator();

}  // namespace kel::console
