// Handing the library's bodies over (see library_bodies.h).
#include "boot/library_bodies.h"

#include <string_view>
#include <vector>

#include "datatypes/function.h"
#include "datatypes/word.h"
#include "runtime/symbol_table.h"

namespace kel::boot {

namespace {
// What a word of the code says about the blocks after it.
enum class Role : uint8_t {
  unknown,   // not yet looked at
  none,
  spec_body, // func, function, has: a spec, then the body
  body,      // does: the body
  object,    // context, object: an object's spec
  make,      // make: with object!, an object's spec
  object_type,
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
  if (name == "func" || name == "function" || name == "has") role = Role::spec_body;
  else if (name == "does") role = Role::body;
  else if (name == "context" || name == "object") role = Role::object;
  else if (name == "make") role = Role::make;
  else if (name == "object!") role = Role::object_type;
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

// Scans code that runs once: marks the bodies written after func and its
// kin, and scans the specs of the objects it makes. Nothing allocates in
// the series heap meanwhile, so the cells stay where they are.
void scan(const Cell& code) {
  SeriesBuffer* buffer = memory::buffer_of(code.data2);
  const Cell* cells = buffer->cells();
  uint32_t count = buffer->cell_count();
  for (uint32_t i = code.data1; i < count; ++i) {
    if (!cells[i].is(TYPE_WORD)) continue;
    switch (role_of(word::symbol_of(cells[i]))) {
      case Role::spec_body:
        if (i + 2 < count && cells[i + 1].is(TYPE_BLOCK) && cells[i + 2].is(TYPE_BLOCK)) {
          mark(cells[i + 2]);
          i += 2;
        }
        break;
      case Role::body:
        if (i + 1 < count && cells[i + 1].is(TYPE_BLOCK)) {
          mark(cells[i + 1]);
          i += 1;
        }
        break;
      case Role::object:
        if (i + 1 < count && cells[i + 1].is(TYPE_BLOCK)) {
          scan(cells[i + 1]);
          i += 1;
        }
        break;
      case Role::make:
        if (i + 2 < count && is_word(cells[i + 1], Role::object_type) && cells[i + 2].is(TYPE_BLOCK)) {
          scan(cells[i + 2]);
          i += 2;
        }
        break;
      default:
        break;
    }
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
