// Sealing the library (see library_seal.h).
#include "boot/library_seal.h"

#include <unordered_set>
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

struct Sealer {
  NodeId global = context::global();
  NodeId library = 0;                    // the snapshot of function values
  std::vector<int32_t> library_index;    // global index -> library index, -1 when not a function
  // A block is sealed once however many bodies share it: the library-code
  // flag, which only sealing sets, marks the blocks already walked.
  std::unordered_set<NodeId> visited_maps;
  std::unordered_set<NodeId> visited_contexts;
  std::unordered_set<NodeId> visited_blocks;

  // Every function-valued global gets a word in the library context with
  // its current value.
  void snapshot() {
    uint32_t count = context::word_count(global);
    library = context::create(count, false, false, 0, context::kGlobalKind);
    root::keep(*context::cell(library));  // lives as long as the process
    library_index.assign(count, -1);
    for (uint32_t i = 0; i < count; ++i) {
      Cell value = context::values_head(global)[i];
      if (!is_function_value(value.type())) continue;
      uint32_t symbol = word::symbol_of(*context::word_at(global, i));
      int32_t index = context::add_word(library, symbol);
      context::values_head(library)[index] = value;
      library_index[i] = index;
    }
  }

  // Rebinds the words of a body that name global functions, and flags
  // every block of it as library code.
  void seal_block(NodeId node) {
    if (node == 0 || (memory::buffer_of(node)->flags & series_flags::kLibraryCode) != 0) return;
    memory::buffer_of(node)->flags |= series_flags::kLibraryCode;
    uint32_t count = memory::buffer_of(node)->cell_count();
    for (uint32_t i = 0; i < count; ++i) {
      Cell* cell = memory::buffer_of(node)->cells() + i;
      TypeId type = cell->type();
      if (is_code_block(type)) {
        seal_block(cell->data2);
      } else if ((type == TYPE_WORD || type == TYPE_GET_WORD) && cell->data1 == global) {
        auto index = static_cast<int32_t>(cell->data3);
        if (index >= 0 && static_cast<uint32_t>(index) < library_index.size() && library_index[index] >= 0) {
          cell->data1 = library;
          cell->data3 = static_cast<uint32_t>(library_index[index]);
        }
      } else if (type == TYPE_PATH || type == TYPE_GET_PATH || type == TYPE_SET_PATH) {
        // A path's first word may name a function (a call with refinements).
        Cell* head = memory::buffer_of(cell->data2)->cells();
        if (memory::buffer_of(cell->data2)->cell_count() > 0 && head->is(TYPE_WORD) && head->data1 == global) {
          auto index = static_cast<int32_t>(head->data3);
          if (index >= 0 && static_cast<uint32_t>(index) < library_index.size() && library_index[index] >= 0) {
            head->data1 = library;
            head->data3 = static_cast<uint32_t>(library_index[index]);
          }
        }
      }
    }
  }

  void seal_value(const Cell& value) {
    if (value.is(TYPE_FUNCTION)) {
      Cell body = *function::info(value, function::kInfoBody);
      if (body.is(TYPE_BLOCK)) seal_block(body.data2);
    } else if (value.is(TYPE_OBJECT)) {
      seal_context(value.data1);
    } else if (value.is(TYPE_MAP) && visited_maps.insert(value.data2).second) {
      // The codec objects live in system/codecs, a map.
      uint32_t count = memory::buffer_of(value.data2)->cell_count();
      for (uint32_t i = 0; i < count; ++i) seal_value(memory::buffer_of(value.data2)->cells()[i]);
    } else if (value.is(TYPE_BLOCK) && visited_blocks.insert(value.data2).second) {
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
    if (context == 0 || !visited_contexts.insert(context).second) return;
    if (context::on_stack(context)) return;
    uint32_t count = context::word_count(context);
    for (uint32_t i = 0; i < count; ++i) seal_value(context::values_head(context)[i]);
  }
};
}  // namespace

void seal_library() {
  collector::Pause pause;
  stack::Guard guard;
  Sealer sealer;
  sealer.snapshot();
  uint32_t count = context::word_count(sealer.global);
  for (uint32_t i = 0; i < count; ++i) sealer.seal_value(context::values_head(sealer.global)[i]);
  compiled::attach();
}

}  // namespace kel::boot
