// Runtime words (see runtime_words.h): the globals and their start-up.
#include "datatypes/runtime_words.h"

#include "datatypes/symbol.h"
#include "datatypes/word.h"

namespace kel::runtime_words {

#define KEL_RUNTIME_WORD_DEFINE(ident, name) uint32_t ident = 0;
#define KEL_RUNTIME_WORD_REPEAT(ident, name)
KEL_RUNTIME_WORDS(KEL_RUNTIME_WORD_DEFINE, KEL_RUNTIME_WORD_REPEAT)
#undef KEL_RUNTIME_WORD_DEFINE
#undef KEL_RUNTIME_WORD_REPEAT

#define KEL_RUNTIME_WORD_COUNT(ident, name) +1
static_assert(0 KEL_RUNTIME_WORDS(KEL_RUNTIME_WORD_COUNT, KEL_RUNTIME_WORD_COUNT) == kRuntimeWordCount,
              "the runtime word list is out of step");
#undef KEL_RUNTIME_WORD_COUNT

Cell local_refinement{};
Cell extern_refinement{};
Cell compare_refinement{};
Cell part_refinement{};
Cell skip_refinement{};
Cell with_refinement{};
Cell ooo_issue{};

void init_words() {
  // A repeated name is interned again on purpose: the second interning finds
  // the first record, so the shared global keeps the same id.
#define KEL_RUNTIME_WORD_INTERN(ident, name) ident = symbol::make(name);
  KEL_RUNTIME_WORDS(KEL_RUNTIME_WORD_INTERN, KEL_RUNTIME_WORD_INTERN)
#undef KEL_RUNTIME_WORD_INTERN
}

void init_refinements() {
  local_refinement = *refinement::load("local");
  extern_refinement = *refinement::load("extern");
  compare_refinement = *refinement::load("compare");
  part_refinement = *refinement::load("part");
  skip_refinement = *refinement::load("skip");
  with_refinement = *refinement::load("with");
}

void init_issues() { ooo_issue = *issue::load("ooo"); }

void init() {
  init_words();
  init_refinements();
  init_issues();
}

}  // namespace kel::runtime_words
