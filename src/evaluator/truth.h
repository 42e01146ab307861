// The two truth tests of the conditionals and loops. In the lenient one
// (if, unless, any, all) only none and false are falsy; the strict one
// (either, while, until, case) first refuses an unset value with script
// no-return, raised in the frame of the native that asks.
#pragma once

#include "datatypes/logic.h"
#include "runtime/cell.h"
#include "runtime/errors.h"

namespace kel::truth {

inline bool lenient_true(const Cell& value) {
  if (value.is(TYPE_NONE)) return false;
  if (value.is(TYPE_LOGIC)) return logic::get(value) != 0;
  return true;
}

inline bool strict_true(const Cell& value) {
  if (value.is(TYPE_UNSET)) fire(ErrorId::script_no_return);
  return lenient_true(value);
}

}  // namespace kel::truth
