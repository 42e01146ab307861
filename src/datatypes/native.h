// native!, action! and op!: the built-in functions and the infix operators.
//
//   native!  data1 the native number (1..120, its entry in the native
//            table); data2 the node of its interface block; data3 the node of a
//            two-cell info block: [context reference, argument-spec cache].
//   action!  the same, data1 the action slot (1..62). Parent native!.
//   op!      a copy of its source cell (native!, action!, function! or
//            routine!) whose header is (source type << 16) | 23. Parent
//            native!.
//
// The context reference is a copy of the context cell of the context made
// from the interface block's words (its data3 names the context), a stack
// context of function kind: the words are the arguments and refinements,
// whose values live on the evaluation stack during a call. The cache cell
// starts none and becomes the block the interpreter builds from the
// interface block on the first call.
//
// The boot registers the interface of the value it binds to each native
// and action word: the entry reads its frame by that interface. Any value
// of the number (the boot's own included) is held to that interface's shape
// when its cache is built (the same arguments and the same refinements with
// the same arguments, under any names), so the entry never reads a cell its
// caller did not fill, even after the interface block was changed.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::native {

constexpr uint32_t kInfoContext = 0;
constexpr uint32_t kInfoCache = 1;

// Makes a native! (or action!) value from an interface block and a number; the
// result is pushed on the evaluation stack and returned.
Cell* push(TypeId type, const Cell* spec, uint32_t number);

// The registered interface of a native number or action slot: the entries
// of its argument cache that a call fills (argument typesets and
// refinements, plain cells that refer to no series). registered_interface
// answers them, or null when the number has none.
void register_interface(TypeId type, uint32_t number, std::vector<Cell> shape);
const std::vector<Cell>* registered_interface(TypeId type, uint32_t number);
// Whether the number names a slot of the native table or of the actions.
bool known_number(TypeId type, uint32_t number);

// The native number or action slot (data1), the interface block's node
// (data2) and the info block's node (data3). The number is read inside the
// interpreter's always-inlined routines, and is always inlined too.
[[gnu::always_inline]] inline uint32_t number_of(const Cell& value) { return value.data1; }
inline NodeId interface_node(const Cell& value) { return value.data2; }
inline NodeId info_node(const Cell& value) { return value.data3; }
// The context made from the interface block's words.
NodeId context_of(const Cell& value);
// The source type of an op!.
inline TypeId op_source_type(const Cell& op) { return (op.header >> 16) & 0xFF; }
// An op! made from a native!, action!, function! or routine! cell.
Cell make_op(const Cell& source);

// The operator check: exactly two arguments, the left one a plain word.
bool op_spec_check(const Cell* spec);

void init_native();
void init_action();
void init_op();

}  // namespace kel::native
