// Sealing the library (see library_seal.h).
#include "boot/library_seal.h"

#include <algorithm>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "library/compiled.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/root_block.h"

namespace kel::boot {

namespace {
bool is_function_value(TypeId type) {
  return type == TYPE_NATIVE || type == TYPE_ACTION || type == TYPE_OP || type == TYPE_FUNCTION ||
         type == TYPE_ROUTINE;
}

bool is_code_block(TypeId type) { return type == TYPE_BLOCK || type == TYPE_PAREN; }

// Whether the node is met for the first time, noting it: a bit a node id
// (a few kilobytes for every node of the library), as sealing meets each
// of a few thousand nodes once or twice.
bool first_visit(std::vector<bool>* seen, NodeId node) {
  if (node >= seen->size()) seen->resize(std::max<size_t>(size_t{node} + 1, seen->size() * 2), false);
  if ((*seen)[node]) return false;
  (*seen)[node] = true;
  return true;
}

// Sealing only rewrites cells in place: nothing allocates while it runs,
// so a buffer's cells stay where they are for the whole walk.
struct Sealer {
  NodeId global = context::global();
  NodeId library = 0;                    // the snapshot of function values
  std::vector<int32_t> library_index;    // global index -> library index, -1 when not a function
  // A block is sealed once however many bodies share it: the library-code
  // flag, which only sealing sets, marks the blocks already walked.
  std::vector<bool> visited_maps;
  std::vector<bool> visited_contexts;
  std::vector<bool> visited_blocks;

  // Every function-valued global gets a word in the library context with
  // its current value.
  void snapshot() {
    uint32_t count = context::word_count(global);
    library = context::create(count, false, false, 0, context::kGlobalKind);
    root::keep(*context::cell(library));  // lives as long as the process
    library_index.assign(count, -1);
    // The global values are held between the words added to the snapshot
    // (which allocate) and read again after each.
    const Cell* values = context::values_head(global);
    for (uint32_t i = 0; i < count; ++i) {
      Cell value = values[i];
      if (!is_function_value(value.type())) continue;
      uint32_t symbol = word::symbol_of(*context::word_at(global, i));
      int32_t index = context::add_word(library, symbol);
      context::values_head(library)[index] = value;
      library_index[i] = index;
      values = context::values_head(global);
    }
  }

  // A word bound to a global that holds a function is bound to its
  // snapshot instead.
  void rebind(Cell* word) {
    if (word->data1 != global) return;
    auto index = static_cast<int32_t>(word->data3);
    if (index >= 0 && static_cast<uint32_t>(index) < library_index.size() && library_index[index] >= 0) {
      word->data1 = library;
      word->data3 = static_cast<uint32_t>(library_index[index]);
    }
  }

  // Rebinds the words of a body that name global functions, and flags
  // every block of it as library code.
  void seal_block(NodeId node) {
    if (node == 0) return;
    SeriesBuffer* buffer = memory::buffer_of(node);
    if ((buffer->flags & series_flags::kLibraryCode) != 0) return;
    buffer->flags |= series_flags::kLibraryCode;
    Cell* cell = buffer->cells();
    Cell* end = cell + buffer->cell_count();
    for (; cell < end; ++cell) {
      TypeId type = cell->type();
      if (is_code_block(type)) {
        seal_block(cell->data2);
      } else if (type == TYPE_WORD || type == TYPE_GET_WORD) {
        rebind(cell);
      } else if (type == TYPE_PATH || type == TYPE_GET_PATH || type == TYPE_SET_PATH) {
        // A path's first word may name a function (a call with refinements).
        SeriesBuffer* path = memory::buffer_of(cell->data2);
        Cell* head = path->cells();
        if (path->cell_count() > 0 && head->is(TYPE_WORD)) rebind(head);
      }
    }
  }

  void seal_value(const Cell& value) {
    if (value.is(TYPE_FUNCTION)) {
      Cell body = *function::info(value, function::kInfoBody);
      if (body.is(TYPE_BLOCK)) seal_block(body.data2);
    } else if (value.is(TYPE_OBJECT)) {
      seal_context(value.data1);
    } else if (value.is(TYPE_MAP) && first_visit(&visited_maps, value.data2)) {
      // The codec objects live in system/codecs, a map.
      uint32_t count = memory::buffer_of(value.data2)->cell_count();
      for (uint32_t i = 0; i < count; ++i) seal_value(memory::buffer_of(value.data2)->cells()[i]);
    } else if (value.is(TYPE_BLOCK) && first_visit(&visited_blocks, value.data2)) {
      // The library keeps functions in blocks too: the global event
      // functions it registers stand in system/view/handlers.
      uint32_t count = memory::buffer_of(value.data2)->cell_count();
      for (uint32_t i = 0; i < count; ++i) {
        Cell element = memory::buffer_of(value.data2)->cells()[i];
        if (element.is(TYPE_FUNCTION)) seal_value(element);
      }
    }
  }

  // The functions of an object (the system object, the library's contexts).
  void seal_context(NodeId context) {
    if (context == 0 || !first_visit(&visited_contexts, context)) return;
    if (context::on_stack(context)) return;
    uint32_t count = context::word_count(context);
    const Cell* values = context::values_head(context);
    for (uint32_t i = 0; i < count; ++i) seal_value(values[i]);
  }
};
}  // namespace

void seal_library() {
  collector::Pause pause;
  stack::Guard guard;
  Sealer sealer;
  sealer.snapshot();
  uint32_t count = context::word_count(sealer.global);
  const Cell* values = context::values_head(sealer.global);
  for (uint32_t i = 0; i < count; ++i) sealer.seal_value(values[i]);
  compiled::attach();
}

}  // namespace kel::boot
