// Action dispatch (see actions.h).
#include "runtime/actions.h"

#include <cstdlib>

#include "runtime/errors.h"
#include "runtime/runtime.h"
#include "runtime/stack.h"
#include "runtime/string_buffer.h"
#include "runtime/upcalls.h"

namespace kel::actions {

void unsupported(const Cell& value) {
  // The error names the current call's first argument (the datatypes
  // build the words of that message).
  upcalls::table.raise_expect_arg(0, value.type());
  std::abort();  // the entry raises; never reached
}

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
  return handler_for<Action::form>(*value)(value, buffer, arg, part);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent) {
  return handler_for<Action::mold>(*value)(value, buffer, only, all, flat, arg, part, indent);
}

int32_t compare_value(Cell* value1, Cell* value2, int32_t op) {
  switch (value1->type()) {
    case TYPE_LOGIC:
      if (!value2->is(TYPE_LOGIC)) return kNotComparable;
      return static_cast<int32_t>(value1->data1) - static_cast<int32_t>(value2->data1);
    case TYPE_NATIVE:
    case TYPE_ACTION:
    case TYPE_OP: {
      auto a = static_cast<int32_t>(value1->data1), b = static_cast<int32_t>(value2->data1);
      return a < b ? -1 : a > b ? 1 : 0;
    }
    case TYPE_FUNCTION:
    case TYPE_ROUTINE: {
      auto a = static_cast<int32_t>(value1->data3), b = static_cast<int32_t>(value2->data3);
      return a < b ? -1 : a > b ? 1 : 0;
    }
    default:
      return handler_for<Action::compare>(*value1)(value1, value2, op);
  }
}

bool compare(Cell* value1, Cell* value2, int32_t op) {
  int32_t r = handler_for<Action::compare>(*value1)(value1, value2, op);
  if (r == kNotComparable) {
    switch (op) {
      case kCmpEqual:
      case kCmpNotEqual:
      case kCmpStrictEqual:
      case kCmpSame:
      case kCmpStrictWord:
      case kCmpWord:
      case kCmpFind:
        return op == kCmpNotEqual;
      case kCmpLesser:
      case kCmpLesserOrEqual:
      case kCmpGreater:
      case kCmpGreaterOrEqual:
      case kCmpSort:
      case kCmpCaseSort:
        fire(ErrorId::script_invalid_compare, value1, value2);
      default:
        runtime::quit(101, KEL_CALLER_ADDRESS());
    }
  }
  switch (op) {
    case kCmpNotEqual: return r != 0;
    case kCmpLesser: return r < 0;
    case kCmpLesserOrEqual: return r <= 0;
    case kCmpGreater: return r > 0;
    case kCmpGreaterOrEqual: return r >= 0;
    default: return r == 0;
  }
}

namespace {
template <class Write>
std::string to_text(const Cell& value, Write&& write) {
  stack::Guard guard;
  Cell* copy = stack::push(value);
  Cell* buffer = string::push_new(64);
  write(copy, buffer);
  return string::to_std_string(*buffer);
}
}  // namespace

std::string form_to_string(const Cell& value) {
  return to_text(value, [](Cell* v, Cell* b) { form(v, b, nullptr, 0x7FFFFFFF); });
}

std::string mold_to_string(const Cell& value, bool all) {
  return to_text(value, [all](Cell* v, Cell* b) { mold(v, b, false, all, false, nullptr, 0x7FFFFFFF, 0); });
}

}  // namespace kel::actions
