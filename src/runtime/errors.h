// Raising catalog errors from C++: fire() and the argument checks built on it.
//
// An error is named by its catalog id (error_catalog.h); its category, its
// number within the category and its message template come from the
// catalog. fire() has the error! datatype build the value and the tracer
// report it (both above the runtime, reached through the registration
// table, upcalls.h), and throws it to the nearest try (stack::throw_error);
// it never returns.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/error_catalog.h"

namespace kel {

enum class ErrorCategory : uint8_t {
#define KEL_CATEGORY_ENUM(ident, word, code, title) ident,
  KEL_ERROR_CATEGORIES(KEL_CATEGORY_ENUM)
#undef KEL_CATEGORY_ENUM
};
constexpr int kErrorCategoryCount = 10;

enum class ErrorId : uint16_t {
#define KEL_ERROR_ENUM(category, ident, word, text) category##_##ident,
  KEL_ERRORS(KEL_ERROR_ENUM)
#undef KEL_ERROR_ENUM
};
#define KEL_ERROR_COUNT(category, ident, word, text) +1
constexpr int kErrorIdCount = 0 KEL_ERRORS(KEL_ERROR_COUNT);
#undef KEL_ERROR_COUNT

struct ErrorCategoryInfo {
  const char* word;
  int32_t code;   // base code: 0, 100 ... 900
  const char* title;
};

struct ErrorInfo {
  ErrorCategory category;
  int32_t number;           // position in its category, counted from 2
  const char* word;
  const char* template_source;  // Kel source of the message template
};

const ErrorCategoryInfo& category_info(ErrorCategory category);
const ErrorInfo& error_info(ErrorId id);
// The catalog id of a category word and id word, or false when the catalog
// has no such error.
bool find_error(const char* category_word, const char* id_word, ErrorId* out);

// Raises the error with up to three argument values (null for none).
[[noreturn]] void fire(ErrorId id, const Cell* arg1 = nullptr, const Cell* arg2 = nullptr,
                       const Cell* arg3 = nullptr);

// fire() for an argument of a plain integer (the integer! is made here).
[[noreturn]] void fire_with_integer(ErrorId id, int32_t value);

// script bad-to-arg with its two values ("cannot MAKE/TO" a "from:" b).
[[noreturn]] void fire_bad_to_arg(const Cell* a, const Cell* b);

}  // namespace kel
