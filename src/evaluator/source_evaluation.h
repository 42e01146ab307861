// Evaluating source text: the path from UTF-8 text to a result that the
// boot, the console and the test runners share. Loaded words are bound to
// the global context by the lexer.
#pragma once

#include <string_view>

#include "runtime/cell.h"

namespace kel::source_evaluation {

// Loads UTF-8 source into a new block, pushed on the evaluation stack.
Cell* load(std::string_view source);

// Loads and evaluates source text; the result is pushed on the evaluation
// stack and returned. Errors propagate as exceptions (exits::Unwind).
Cell* do_source(std::string_view source);

// Evaluates a loaded script: a leading header (the word Kel followed by a
// block) is skipped. The result is pushed and returned.
Cell* do_script(std::string_view source);

// The same for code already loaded (a block on the stack, which the result
// replaces): the boot's library decoded from its image.
Cell* do_loaded_script(Cell* code);

}  // namespace kel::source_evaluation
