// The datatype action table and the type name table (see datatype_registry.h).
#include "runtime/datatype_registry.h"

#include <cstring>

namespace kel {

namespace {
// One row per type id of a slot per action, slots counted from 1 as in the
// action numbering (slot 0 unused). A row holds just the actions: start-up
// writes the row of every datatype, and rows of 256 slots spread those
// writes over four times the pages, each a page fault.
constexpr int kRowSize = 256;
constexpr int kSlotsPerRow = 64;
static_assert(kActionCount < kSlotsPerRow, "every action has its slot in a row");
GenericHandler action_table[kRowSize][kSlotsPerRow];
TypeName type_names[kRowSize];
bool registered[kRowSize];
TypeId highest = 0;
}  // namespace

const char* action_word(Action action) {
  switch (action) {
#define KEL_ACTION_WORD(slot, ident, word, signature) \
  case Action::ident:                                 \
    return word;
    KEL_ACTIONS(KEL_ACTION_WORD)
#undef KEL_ACTION_WORD
  }
  return nullptr;
}

const char* datatype_name(TypeId id) {
  switch (id) {
#define KEL_TYPE_NAME(id_, name, text) \
  case id_:                            \
    return text;
    KEL_DATATYPES(KEL_TYPE_NAME)
#undef KEL_TYPE_NAME
    default: return nullptr;
  }
}

void register_datatype(const DatatypeRecord& record) {
  TypeId id = record.id;
  if (id > highest) highest = id;
  uint32_t length = static_cast<uint32_t>(std::strlen(record.name));
  type_names[id] = TypeName{record.name, length > 0 ? length - 1 : 0, type_names[id].symbol};
  registered[id] = true;
  for (int slot = 1; slot <= kActionCount; ++slot) {
    const ActionEntry& e = record.entries[slot - 1];
    GenericHandler h = nullptr;
    if (e.kind == ActionEntry::kHandler) h = e.function;
    else if (e.kind == ActionEntry::kInherit && record.parent != 0) h = action_table[record.parent][slot];
    action_table[id][slot] = h;
  }
}

GenericHandler action_entry(TypeId type, Action action) {
  auto slot = static_cast<uint32_t>(action);
  return slot < kSlotsPerRow ? action_table[type & 0xFF][slot] : nullptr;
}

const TypeName& type_name(TypeId type) {
  TypeName& entry = type_names[type & 0xFF];
  // Every datatype of the system is named from the start, registered or
  // not, so messages can name a type before its registration runs.
  if (entry.name == nullptr) {
    if (const char* name = datatype_name(type & 0xFF)) {
      uint32_t length = static_cast<uint32_t>(std::strlen(name));
      entry = TypeName{name, length - 1, entry.symbol};
    }
  }
  return entry;
}

void set_type_symbol(TypeId type, uint32_t symbol) { type_names[type & 0xFF].symbol = symbol; }

TypeId highest_registered_type() { return highest; }

bool is_registered(TypeId type) { return registered[type & 0xFF]; }

void reset_registry() {
  std::memset(action_table, 0, sizeof action_table);
  std::memset(type_names, 0, sizeof type_names);
  std::memset(registered, 0, sizeof registered);
  highest = 0;
}

}  // namespace kel
