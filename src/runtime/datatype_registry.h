// The datatype registry: every datatype hands its identity and its 62 action
// entries to register_datatype() once at start-up. The registry fills the
// datatype action table, through which an action is dispatched on its first
// argument's type, and the type name table through which types are named.
//
// Inheritance is resolved once, at registration: an entry marked inherit
// copies the parent's entry of the same slot as it stands then, so parents
// register before their children. The table never changes afterwards.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>

#include "runtime/action_slots.h"
#include "runtime/cell.h"

namespace kel {

using GenericHandler = void (*)();

struct ActionEntry {
  enum Kind : uint8_t { kUnsupported, kHandler, kInherit };
  GenericHandler function = nullptr;
  Kind kind = kUnsupported;
};

// A registration record: the type, its parent (0 for none), its name and
// exactly 62 entries in slot order (std::array checks the count).
struct DatatypeRecord {
  TypeId id;
  TypeId parent;
  const char* name;
  std::array<ActionEntry, kActionCount> entries{};

  DatatypeRecord(TypeId id_, TypeId parent_, const char* name_) : id(id_), parent(parent_), name(name_) {}

  template <Action A>
  DatatypeRecord& handle(ActionHandler<A> function) {
    entries[static_cast<int>(A) - 1] = {reinterpret_cast<GenericHandler>(function), ActionEntry::kHandler};
    return *this;
  }
  DatatypeRecord& inherit(Action action) {
    entries[static_cast<int>(action) - 1] = {nullptr, ActionEntry::kInherit};
    return *this;
  }
  // Marks each of the actions as inherited.
  DatatypeRecord& inherit(std::initializer_list<Action> actions) {
    for (Action action : actions) inherit(action);
    return *this;
  }
  // Marks every slot that has no handler yet as inherited.
  DatatypeRecord& inherit_rest() {
    for (auto& e : entries)
      if (e.kind == ActionEntry::kUnsupported) e.kind = ActionEntry::kInherit;
    return *this;
  }
};

void register_datatype(const DatatypeRecord& record);

// The raw entry for a type and slot (null when unsupported).
GenericHandler action_entry(TypeId type, Action action);

template <Action A>
ActionHandler<A> action_handler(TypeId type) {
  return reinterpret_cast<ActionHandler<A>>(action_entry(type, A));
}

// Type name table.
struct TypeName {
  const char* name;      // "block!"
  uint32_t length;       // without the "!"
  uint32_t symbol;       // word of the name; 0 until words exist
};
const TypeName& type_name(TypeId type);
void set_type_symbol(TypeId type, uint32_t symbol);
TypeId highest_registered_type();
bool is_registered(TypeId type);

// Forgets every registration (tests).
void reset_registry();

}  // namespace kel
