// The catalog tables behind errors.h, and fire().
//
// fire() has the error! datatype build the error value (it owns the value's
// layout), lets the tracer see it, both through the registration table, and
// hands it to stack::throw_error.
#include "runtime/errors.h"

#include <cstring>

#include "runtime/stack.h"
#include "runtime/upcalls.h"

namespace kel {

namespace {
constexpr ErrorCategoryInfo kCategories[] = {
#define KEL_CATEGORY_ROW(ident, word, code, title) {word, code, title},
    KEL_ERROR_CATEGORIES(KEL_CATEGORY_ROW)
#undef KEL_CATEGORY_ROW
};
static_assert(sizeof kCategories / sizeof kCategories[0] == kErrorCategoryCount);

// Each id's number is its position within its category, counted from 2.
struct ErrorRow {
  ErrorCategory category;
  const char* word;
  const char* text;
};
constexpr ErrorRow kRows[] = {
#define KEL_ERROR_ROW(category, ident, word, text) {ErrorCategory::category, word, text},
    KEL_ERRORS(KEL_ERROR_ROW)
#undef KEL_ERROR_ROW
};

struct Numbered {
  ErrorInfo infos[sizeof kRows / sizeof kRows[0]];
  constexpr Numbered() : infos{} {
    int next[kErrorCategoryCount] = {};
    for (auto& n : next) n = 2;
    for (size_t i = 0; i < sizeof kRows / sizeof kRows[0]; ++i) {
      auto c = static_cast<int>(kRows[i].category);
      infos[i] = ErrorInfo{kRows[i].category, next[c]++, kRows[i].word, kRows[i].text};
    }
  }
};
constexpr Numbered kNumbered;
}  // namespace

const ErrorCategoryInfo& category_info(ErrorCategory category) {
  return kCategories[static_cast<int>(category)];
}

const ErrorInfo& error_info(ErrorId id) { return kNumbered.infos[static_cast<int>(id)]; }

bool find_error(const char* category_word, const char* id_word, ErrorId* out) {
  for (int i = 0; i < kErrorIdCount; ++i) {
    const ErrorInfo& info = kNumbered.infos[i];
    if (std::strcmp(info.word, id_word) == 0 &&
        std::strcmp(category_info(info.category).word, category_word) == 0) {
      *out = static_cast<ErrorId>(i);
      return true;
    }
  }
  return false;
}

void fire(ErrorId id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
  Cell error = upcalls::table.make_error(id, arg1, arg2, arg3);
  upcalls::table.report_error(error);
  stack::throw_error(error);
}

void fire_with_integer(ErrorId id, int32_t value) {
  Cell number = make_cell(TYPE_INTEGER, 0, static_cast<uint32_t>(value));
  fire(id, &number);
}

void fire_bad_to_arg(const Cell* a, const Cell* b) { fire(ErrorId::script_bad_to_arg, a, b); }

}  // namespace kel
