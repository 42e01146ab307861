// Evaluating source text (see source_evaluation.h).
#include "evaluator/source_evaluation.h"

#include "datatypes/block.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "runtime/stack.h"
#include "io/lexer.h"

namespace kel::source_evaluation {

Cell* load(std::string_view source) {
  Cell* result = stack::push_slot();
  lexer::load(result, reinterpret_cast<const uint8_t*>(source.data()), static_cast<uint32_t>(source.size()));
  return result;
}

namespace {

// Evaluates loaded code from its index; unless an exit is leaving, the
// result takes the code block's place on the stack.
Cell* evaluate_in_place(Cell* code) {
  Cell* result = stack::top;
  interpreter::eval_block(*code, false);
  if (!interpreter::exiting()) {
    *code = *result;
    stack::top = code + 1;
  }
  return code;
}

}  // namespace

Cell* do_source(std::string_view source) { return evaluate_in_place(load(source)); }

Cell* do_script(std::string_view source) { return do_loaded_script(load(source)); }

Cell* do_loaded_script(Cell* code) {
  SeriesBuffer* b = block::buffer_of(code);
  Cell* cells = b->cells();
  uint32_t count = b->cell_count();
  if (count >= 2 && cells[0].is(TYPE_WORD) && cells[1].is(TYPE_BLOCK) &&
      symbol::name(word::symbol_of(cells[0])) == "Kel")
    series::set_index(code, 2);
  return evaluate_in_place(code);
}

}  // namespace kel::source_evaluation
