// Reading and checking a native's arguments, shared by the families of
// natives (natives_*.cpp).
//
// A native entry runs inside the native frame its caller opened: argument i
// is the cell at frame index i, a refinement arrives as -1 when unused (see
// evaluator/natives.h), and an entry called with its check-types flag set
// checks each argument against a typeset built once at start-up from the
// type groups below. The groups list the datatypes a pseudo-type such as
// any-string! stands for, in the order the typesets are built from them.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "runtime/stack.h"
#include "runtime/cell.h"
#include "datatypes/argument_checks.h"

namespace kel::native_arguments {

// The argument cell at a frame index of the running native.
inline Cell* argument(int32_t index) { return stack::arguments() + index; }

// Raises script expect-arg unless the argument at the frame index has a type
// in the typeset.
inline void check(const Cell& types, int32_t index) { check_arg_type(types, index, argument(index)); }

// Whether a refinement was used.
inline bool used(int32_t refinement) { return refinement != -1; }

// The datatypes behind the pseudo-types the natives' specs name.
inline constexpr std::initializer_list<TypeId> kAnyWord = {TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD};
inline constexpr std::initializer_list<TypeId> kAnyPath = {TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH};
inline constexpr std::initializer_list<TypeId> kAnyList = {TYPE_BLOCK, TYPE_PAREN, TYPE_HASH};
inline constexpr std::initializer_list<TypeId> kAnyObject = {TYPE_OBJECT, TYPE_ERROR, TYPE_PORT};
inline constexpr std::initializer_list<TypeId> kAnyFunction = {TYPE_NATIVE, TYPE_ACTION, TYPE_OP, TYPE_FUNCTION,
                                                               TYPE_ROUTINE};
inline constexpr std::initializer_list<TypeId> kAnyString = {TYPE_STRING, TYPE_FILE,  TYPE_URL,
                                                             TYPE_TAG,    TYPE_EMAIL, TYPE_REF};
inline constexpr std::initializer_list<TypeId> kNumber = {TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT};

// Whether a datatype is one of a group.
inline bool type_in(TypeId type, std::initializer_list<TypeId> group) {
  for (TypeId member : group)
    if (member == type) return true;
  return false;
}

// A typeset holding every datatype of the groups:
// typeset_of({kAnyString, {TYPE_BINARY}}).
inline Cell typeset_of(std::initializer_list<std::initializer_list<TypeId>> groups) {
  Cell types = make_cell(TYPE_TYPESET);
  for (const auto& group : groups)
    for (TypeId type : group) typeset_add(types, type);
  return types;
}

}  // namespace kel::native_arguments
