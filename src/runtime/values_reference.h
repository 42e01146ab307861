// The values reference of a stack context: where the arguments of the
// running call of a function live on the evaluation stack. The stack puts
// the saved reference back whenever it pops a function's frame, so this
// much of a context's layout sits below the datatypes (context.h holds the
// rest of it).
//
// A context is a series whose first cell is the context cell; for a stack
// context its data2 is 1 + the evaluation stack index of the running call's
// first argument cell, or 0 while no call of it runs.
//
// The context whose values reference was last stored, with that reference,
// is mirrored in last_referenced: the interpreter reads a word of the
// running function from it without reading the context cell. Every store
// of a stack context's reference goes through set_values_reference, and the
// collector forgets the mirror when it frees nodes (a freed node may come
// back as another context), so the mirror always equals the context cell's
// data2.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::context {

// The context cell (cell 0 of the context's series). The address points
// into a series buffer: re-read it after any allocation.
inline Cell* cell(NodeId context) { return memory::buffer_of(context)->cells(); }

struct Referenced {
  NodeId context = UINT32_MAX;  // UINT32_MAX: none
  uint32_t reference = 0;
};
extern Referenced last_referenced;
inline uint32_t values_reference(NodeId context) { return cell(context)->data2; }
// The values word (data2) of a context cell in hand: the values reference
// of a stack context, the values block's node of a heap context. Always
// inlined, as the interpreter's word lookup that reads it.
[[gnu::always_inline]] inline uint32_t values_of(const Cell& context_cell) { return context_cell.data2; }
inline void set_values_reference(NodeId context, uint32_t reference) {
  cell(context)->data2 = reference;
  last_referenced = {context, reference};
}

}  // namespace kel::context
