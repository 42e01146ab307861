// error! values (see error.h) and their text.
#include "datatypes/error.h"

#include "datatypes/context.h"
#include "datatypes/none.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "runtime/memory.h"
#include "runtime/runtime_words.h"

namespace kel::error_value {

Cell create(ErrorId id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
  NodeId node = memory::alloc_cells(3);
  SeriesBuffer* b = memory::buffer_of(node);
  Cell* args = b->cells();
  args[0] = arg1 ? *arg1 : none::value;
  args[1] = arg2 ? *arg2 : none::value;
  args[2] = arg3 ? *arg3 : none::value;
  b->tail = 3 * sizeof(Cell);
  return make_cell(TYPE_ERROR, static_cast<uint32_t>(id), node, 0);
}

ErrorId id_of(const Cell& error) { return static_cast<ErrorId>(error.data1); }

Cell argument(const Cell& error, int n) {
  if (n < 1 || n > 3 || error.data2 == 0) return none::value;
  return memory::buffer_of(error.data2)->cells()[n - 1];
}

namespace {
// Forms one argument as the message shows it: molded and cut to 80
// characters in the syntax category, formed otherwise.
std::string argument_text(const Cell& error, int n) {
  Cell value = argument(error, n);
  const ErrorInfo& info = error_info(id_of(error));
  if (info.category == ErrorCategory::syntax) {
    std::string text = actions::mold_to_string(value, false);
    if (text.size() > 80) text.resize(80);
    return text;
  }
  return actions::form_to_string(value);
}
}  // namespace

std::string message_text(const Cell& error) {
  // The template is Kel source: a string, a block of strings and argument
  // references, or a lone argument word.
  const char* p = error_info(id_of(error)).template_source;
  std::string out;
  bool first = true;
  auto separate = [&] {
    if (!first) out += ' ';
    first = false;
  };
  while (*p) {
    if (*p == '"') {
      std::string piece;
      for (++p; *p && *p != '"'; ++p) piece += *p;
      if (*p) ++p;
      separate();
      out += piece;
    } else if (p[0] == ':' || (p[0] == 'a' && p[1] == 'r' && p[2] == 'g')) {
      if (*p == ':') ++p;
      int n = p[3] - '0';
      p += 4;
      separate();
      out += argument_text(error, n);
    } else {
      ++p;  // brackets and spaces
    }
  }
  return out;
}

std::string form_text(const Cell& error) {
  const ErrorInfo& info = error_info(id_of(error));
  std::string out = "*** ";
  out += category_info(info.category).title;
  out += ": ";
  out += message_text(error);
  out += "\n*** Where: ???";
  out += "\n*** Near : none";
  return out;
}

// A word of the global context once words exist; before the symbol table
// (errors during start-up) a bare cell naming the symbol.
Cell call_word() {
  uint32_t symbol = stack::call_symbol();
  if (symbol::table() == 0 || context::global() == 0) return make_cell(TYPE_WORD, 0, symbol, 0xFFFFFFFFu);
  if (symbol == 0) symbol = runtime_words::angled_anon;
  if (symbol == 0) return make_cell(TYPE_WORD, 0, 0, 0xFFFFFFFFu);
  Cell named;
  word::make_at(symbol, &named);
  return named;
}

Cell call_argument_word(int) { return make_cell(TYPE_WORD, 0, 0, 0xFFFFFFFFu); }

}  // namespace kel::error_value
