// Handing the library's bodies over (see library_bodies.h).
#include "boot/library_bodies.h"

#include <string_view>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "datatypes/word.h"
#include "runtime/symbol_table.h"

namespace kel::boot {

namespace {
// What a word of the code says about the blocks after it.
enum class Role : uint8_t {
  unknown,   // not yet looked at
  none,
  interface_body, // func, function, has: an interface block, then the body
  body,      // does: the body
  object,    // context, object: an object's body block
  make,      // make: with object! or a path to an object, an object's body block
  object_type,
  run,       // do: a block run once (also through bind)
  bind,      // bind: gives its block back, bound in place
};

// The role of each symbol id, found from its name at its first meeting
// (the code's words are compared as ids, its names interned as the sources
// would intern them: nothing is interned here).
std::vector<Role> roles;

Role role_of(uint32_t symbol) {
  if (symbol >= roles.size()) roles.resize(symbol + 64, Role::unknown);
  Role& role = roles[symbol];
  if (role != Role::unknown) return role;
  std::string_view name = symbol::name(symbol);
  if (name == "func" || name == "function" || name == "has") role = Role::interface_body;
  else if (name == "does") role = Role::body;
  else if (name == "context" || name == "object") role = Role::object;
  else if (name == "make") role = Role::make;
  else if (name == "object!") role = Role::object_type;
  else if (name == "do") role = Role::run;
  else if (name == "bind") role = Role::bind;
  else role = Role::none;
  return role;
}

// The marked blocks, a bit per node id, and the list of them for clearing.
std::vector<uint64_t> marked_bits;
std::vector<NodeId> marked_nodes;

void mark(const Cell& block) {
  // A block not at its head is copied from its index as ever.
  if (block.data1 != 0) return;
  NodeId node = block.data2;
  if (node / 64 >= marked_bits.size()) marked_bits.resize(node / 64 + 1024, 0);
  marked_bits[node / 64] |= uint64_t{1} << (node % 64);
  marked_nodes.push_back(node);
}

bool is_word(const Cell& cell, Role role) { return cell.is(TYPE_WORD) && role_of(word::symbol_of(cell)) == role; }

// Whether a path of words names an object now (system/view/VID): making
// one from it runs its body block once, as make object! does. Nothing is
// evaluated: the words are read where they are bound.
bool names_object(const Cell& path) {
  SeriesBuffer* buffer = memory::buffer_of(path.data2);
  const Cell* cells = buffer->cells();
  uint32_t count = buffer->cell_count();
  if (count < 2 || !cells[0].is(TYPE_WORD)) return false;
  NodeId context = word::context_of(cells[0]);
  int32_t index = word::index_of(cells[0]);
  if (context != context::global() || index < 0 || static_cast<uint32_t>(index) >= context::word_count(context))
    return false;
  Cell value = context::values_head(context)[index];
  for (uint32_t i = 1; i < count; ++i) {
    if (!value.is(TYPE_OBJECT) || !cells[i].is(TYPE_WORD)) return false;
    value = *object::find_field(object::context_of(value), symbol::resolve(word::symbol_of(cells[i])));
  }
  return value.is(TYPE_OBJECT);
}

// The block at cells[i], or the one after `bind` there (bind gives its
// block back at the same index); the number of cells it takes, 0 when
// there is none.
uint32_t block_at(const Cell* cells, uint32_t i, uint32_t count, const Cell** block) {
  if (i < count && cells[i].is(TYPE_BLOCK)) {
    *block = &cells[i];
    return 1;
  }
  if (i + 1 < count && is_word(cells[i], Role::bind) && cells[i + 1].is(TYPE_BLOCK)) {
    *block = &cells[i + 1];
    return 2;
  }
  return 0;
}

// Scans code that runs once: marks the bodies written after func and its
// kin, and scans the body blocks of the objects it makes and the blocks it runs
// with do. Nothing allocates in the series heap meanwhile, so the cells
// stay where they are.
void scan(const Cell& code) {
  SeriesBuffer* buffer = memory::buffer_of(code.data2);
  const Cell* cells = buffer->cells();
  uint32_t count = buffer->cell_count();
  for (uint32_t i = code.data1; i < count; ++i) {
    if (!cells[i].is(TYPE_WORD)) continue;
    const Cell* block = nullptr;
    uint32_t taken = 0;  // the cells after the word up to the block, 0 when there is none
    bool is_body = false;  // a body to mark, else code to scan
    switch (role_of(word::symbol_of(cells[i]))) {
      case Role::interface_body:
        if (i + 1 < count && cells[i + 1].is(TYPE_BLOCK)) {
          taken = block_at(cells, i + 2, count, &block);
          if (taken > 0) ++taken;
        }
        is_body = true;
        break;
      case Role::body:
        taken = block_at(cells, i + 1, count, &block);
        is_body = true;
        break;
      case Role::object:
        taken = block_at(cells, i + 1, count, &block);
        break;
      case Role::make:
        if (i + 2 < count && cells[i + 2].is(TYPE_BLOCK) &&
            (is_word(cells[i + 1], Role::object_type) || (cells[i + 1].is(TYPE_PATH) && names_object(cells[i + 1])))) {
          taken = 2;
          block = &cells[i + 2];
        }
        break;
      case Role::run:
        taken = block_at(cells, i + 1, count, &block);
        break;
      default:
        break;
    }
    if (taken == 0) continue;
    if (is_body) mark(*block);
    else scan(*block);
    i += taken;
  }
}

void forget_marks() {
  for (NodeId node : marked_nodes) marked_bits[node / 64] &= ~(uint64_t{1} << (node % 64));
  marked_nodes.clear();
}
}  // namespace

void mark_library_bodies(const Cell& code) { scan(code); }

bool hand_over_marked_body(NodeId block) {
  if (block / 64 >= marked_bits.size()) return false;
  uint64_t bit = uint64_t{1} << (block % 64);
  if ((marked_bits[block / 64] & bit) == 0) return false;
  marked_bits[block / 64] &= ~bit;
  return true;
}

LibraryBodies::LibraryBodies(const Cell& code) {
  mark_library_bodies(code);
  function::hand_over_body = hand_over_marked_body;
}

LibraryBodies::~LibraryBodies() {
  function::hand_over_body = nullptr;
  forget_marks();
}

}  // namespace kel::boot
