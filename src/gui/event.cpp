// event! (see event.h): the datatype's actions, its word tables and the
// table of live event records.
#include "gui/event.h"

#include <array>
#include <string_view>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/context.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/pair.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/symbol_table.h"

namespace kel::gui::event {

namespace {

constexpr const char* kFieldNames[kFieldCount] = {
    "type", "face",      "window",    "offset",    "key",   "picked", "flags",      "away?",
    "down?", "mid-down?", "alt-down?", "aux-down?", "ctrl?", "shift?", "orientation",
};

constexpr const char* kTypeNames[kTypeCodeCount] = {
    "down",   "up",        "mid-down", "mid-up", "alt-down", "alt-up",  "aux-down", "aux-up",
    "click",  "dbl-click", "wheel",    "over",   "key",      "key-down", "key-up",  "ime",
    "focus",  "unfocus",   "enter",    "zoom",   "pan",      "rotate",  "two-tap",  "press-tap",
    "select", "change",    "menu",     "close",  "move",     "resize",  "moving",   "resizing",
    "time",   "drawing",   "scroll",   "minimize", "maximize", "restore",
};

struct FlagName {
  const char* name;
  uint32_t bit;
};
// In the order a `flags` read lists them; `command` is never listed.
constexpr FlagName kFlagNames[] = {
    {"away", kFlagAway},       {"down", kFlagDown},       {"mid-down", kFlagMidDown},
    {"alt-down", kFlagAltDown}, {"aux-down", kFlagAuxDown}, {"control", kFlagControl},
    {"shift", kFlagShift},     {"alt", kFlagAlt},         {"command", kFlagCommand},
};
constexpr int kListedFlags = 8;

// Canonical symbols of the words above, interned by init().
std::array<uint32_t, kFieldCount> field_symbols{};
std::array<uint32_t, kTypeCodeCount> type_symbols{};
std::array<uint32_t, sizeof kFlagNames / sizeof kFlagNames[0]> flag_symbols{};

// The one block a `flags` read fills (kept by the datatype, marked as a
// global root): each read clears and refills it.
Cell flags_block;

uint32_t canonical(const Cell& word) { return symbol::resolve(word::symbol_of(word)); }

// --- Live records -----------------------------------------------------------------------

struct Slot {
  LiveRecord record;
  uint32_t generation = 0;
  bool open = false;
};
std::vector<Slot> slots;        // record id n is slots[n - 1]
std::vector<uint32_t> free_ids; // closed ids, reused last closed first

uint32_t generation_of(const Cell& event) { return (event.data3 >> 1) & kGenerationMask; }

// The open record a live event refers to, or nullptr when it was closed.
const LiveRecord* live_record(const Cell& event) {
  uint32_t id = event.data2;
  if (id == 0 || id > slots.size()) return nullptr;
  const Slot& slot = slots[id - 1];
  if (!slot.open || slot.generation != generation_of(event)) return nullptr;
  return &slot.record;
}

bool is_made(const Cell& event) { return (event.header & kMadeFlag) != 0; }

// A made event's block cell (0 face, 1 window, 2 offset, 3 picked), or
// nullptr when it has none.
const Cell* made_cell(const Cell& event, int position) {
  if (event.data2 == 0) return nullptr;
  SeriesBuffer* buffer = memory::buffer_of(event.data2);
  if (buffer == nullptr || buffer->cell_count() < 4) return nullptr;
  return buffer->cells() + position;
}

Cell none_cell() { return make_cell(TYPE_NONE); }

Cell type_word(int32_t code) {
  if (code < 1 || code > kTypeCodeCount) return none_cell();
  Cell word;
  word::make_at(type_symbols[code - 1], &word);
  return word;
}

Cell flags_of(uint32_t flags_word) {
  Cell* block = &flags_block;
  block::rs_set_tail(block, 0);
  for (int i = 0; i < kListedFlags; ++i)
    if (flags_word & kFlagNames[i].bit) word::append_to(block, flag_symbols[i]);
  return *block;
}

// --- Actions ----------------------------------------------------------------------------

// A spec value: a bound word or get-word stands for its value.
Cell spec_value(const Cell& value) {
  if ((value.is(TYPE_WORD) || value.is(TYPE_GET_WORD)) && word::context_of(value) != 0 &&
      word::index_of(value) >= 0)
    return *context::get(&value);
  return value;
}

Cell* make(Cell*, Cell* spec, TypeId) {
  Cell event = make_cell(TYPE_EVENT | kMadeFlag);
  if (!spec->is(TYPE_BLOCK)) return stack::set_result(event);
  Cell kept[4] = {none_cell(), none_cell(), pair::make(0, 0), integer::make(0)};
  bool any_kept = false;
  Cell walk = *spec;
  // Positions are re-read from the live block at every step: reading a
  // word's value runs no code, but the block is never held by address.
  for (uint32_t at = block::clamped_index(&walk); at + 1 < block::length_from_head(&walk); ++at) {
    Cell name = *block::rs_abs_at(&walk, at);
    if (!name.is(TYPE_SET_WORD)) continue;
    Cell value = spec_value(*block::rs_abs_at(&walk, at + 1));
    ++at;
    switch (field_index(name)) {
      case kType:
        if (value.is(TYPE_WORD) || value.is(TYPE_LIT_WORD)) {
          int32_t code = type_code(value);
          if (code == 0) fire(ErrorId::script_not_event_type, &value);
          event.data1 = static_cast<uint32_t>(code);
        }
        break;
      case kKey:
        // The whole code point is kept; a second key replaces the first.
        if (value.is(TYPE_CHAR)) event.data3 = (event.data3 & ~kKeyBits) | (character::get(value) & kKeyBits);
        break;
      case kFlags:
        if (value.is(TYPE_BLOCK)) {
          for (uint32_t i = block::clamped_index(&value); i < block::length_from_head(&value); ++i) {
            Cell flag = *block::rs_abs_at(&value, i);
            if (word::is_any_word(flag.type())) event.data3 |= flag_bit(flag);
          }
        }
        break;
      case kFace:
      case kWindow:
        if (value.is(TYPE_OBJECT)) {
          kept[field_index(name) == kFace ? 0 : 1] = value;
          any_kept = true;
        }
        break;
      case kOffset:
        if (value.is(TYPE_PAIR) || value.is(TYPE_POINT2D)) {
          kept[2] = value;
          any_kept = true;
        }
        break;
      case kPicked:
        if (value.is(TYPE_INTEGER)) {
          kept[3] = value;
          any_kept = true;
        }
        break;
      default: break;
    }
  }
  if (any_kept) {
    stack::Guard guard;
    Cell* block = block::make_at(stack::push(none_cell()), 4);
    for (const Cell& cell : kept) block::rs_append(block, cell);
    event.data2 = block->data2;
  }
  return stack::set_result(event);
}

int32_t form(Cell*, Cell* buffer, Cell*, int32_t part) {
  string::concatenate_literal(buffer, "event");
  return part - 5;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* arg, int32_t part, int32_t) {
  return form(value, buffer, arg, part);
}

// Two events are always equal; they have no order.
int32_t compare(Cell*, Cell* value2, int32_t op) {
  if (!value2->is(TYPE_EVENT)) return kNotComparable;
  return is_equality_or_sort(op) || op == kCmpSame ? 0 : kNotComparable;
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool, bool, bool) {
  int32_t field = word::is_any_word(element->type()) ? field_index(*element) : -1;
  if (value == nullptr) {
    if (field < 0) fire(ErrorId::script_invalid_path, path, element);
    return stack::push(read_field(*parent, field));
  }
  if (field != kType) fire(ErrorId::script_bad_path_set, path, element);
  if (!value->is(TYPE_WORD) && !value->is(TYPE_LIT_WORD)) fire(ErrorId::script_bad_path_set, path, value);
  int32_t code = type_code(*value);
  if (code == 0) fire(ErrorId::script_not_event_type, value);
  parent->data1 = static_cast<uint32_t>(code);
  return stack::push(*value);
}

Cell* pick(Cell* event, int32_t index, Cell* boxed) {
  Cell selector = boxed != nullptr ? *boxed : integer::make(index);
  int32_t field;
  if (word::is_any_word(selector.type())) {
    field = field_index(selector);
    if (field < 0) fire(ErrorId::script_cannot_use, &selector, event);
  } else if (selector.is(TYPE_INTEGER)) {
    field = integer::get(selector);
    if (field < 1 || field > kFieldCount) fire(ErrorId::script_out_of_range, &selector);
  } else {
    fire(ErrorId::script_out_of_range, &selector);
  }
  return stack::set_result(read_field(*event, field));
}

}  // namespace

int32_t field_index(const Cell& word) {
  uint32_t symbol = canonical(word);
  for (int32_t i = 0; i < kFieldCount; ++i)
    if (field_symbols[i] == symbol) return i + 1;
  return -1;
}

uint32_t flag_bit(const Cell& word) {
  uint32_t symbol = canonical(word);
  for (size_t i = 0; i < flag_symbols.size(); ++i)
    if (flag_symbols[i] == symbol) return kFlagNames[i].bit;
  return 0;
}

int32_t type_code(const Cell& word) {
  uint32_t symbol = canonical(word);
  for (int32_t i = 0; i < kTypeCodeCount; ++i)
    if (type_symbols[i] == symbol) return i + 1;
  return 0;
}

Cell read_field(const Cell& event, int32_t field) {
  uint32_t flags_word = event.data3;
  switch (field) {
    case kType: return type_word(static_cast<int32_t>(event.data1));
    case kFlags: return flags_of(flags_word);
    case kAway: return logic::make(flags_word & kFlagAway);
    case kDown: return logic::make(flags_word & kFlagDown);
    case kMidDown: return logic::make(flags_word & kFlagMidDown);
    case kAltDown: return logic::make(flags_word & kFlagAltDown);
    case kAuxDown: return logic::make(flags_word & kFlagAuxDown);
    case kCtrl: return logic::make(flags_word & kFlagControl);
    case kShift: return logic::make(flags_word & kFlagShift);
    default: break;
  }
  if (is_made(event)) {
    const Cell* cell;
    switch (field) {
      case kFace: return (cell = made_cell(event, 0)) ? *cell : none_cell();
      case kWindow: return (cell = made_cell(event, 1)) ? *cell : none_cell();
      case kOffset: return (cell = made_cell(event, 2)) ? *cell : pair::make(0, 0);
      case kPicked: return (cell = made_cell(event, 3)) ? *cell : integer::make(0);
      case kKey: return (flags_word & kKeyBits) ? character::make(flags_word & kKeyBits) : none_cell();
      default: return none_cell();
    }
  }
  const LiveRecord* record = live_record(event);
  if (record == nullptr) return none_cell();
  switch (field) {
    case kFace: return record->face;
    case kWindow: return record->window;
    case kOffset: return record->offset;
    case kKey: return record->key;
    case kPicked: return record->picked;
    case kOrientation: return record->orientation;
    default: return none_cell();
  }
}

Cell open_live(int32_t type_code, const LiveRecord& record, uint32_t flag_bits, bool special_key) {
  uint32_t id;
  if (!free_ids.empty()) {
    id = free_ids.back();
    free_ids.pop_back();
  } else {
    slots.emplace_back();
    id = static_cast<uint32_t>(slots.size());
  }
  Slot& slot = slots[id - 1];
  slot.record = record;
  slot.open = true;
  uint32_t flags_word = (flag_bits & kFlagBits) | ((slot.generation & kGenerationMask) << 1) |
                        (special_key ? kSpecialKeyBit : 0);
  return make_cell(TYPE_EVENT, static_cast<uint32_t>(type_code), id, flags_word);
}

void close_live(const Cell& event) {
  if (is_made(event) || live_record(event) == nullptr) return;
  Slot& slot = slots[event.data2 - 1];
  slot.open = false;
  slot.record = LiveRecord{none_cell(), none_cell(), none_cell(), none_cell(), none_cell(), none_cell()};
  slot.generation = (slot.generation + 1) & kGenerationMask;
  free_ids.push_back(event.data2);
}

void mark_live_records() {
  for (const Slot& slot : slots) {
    if (!slot.open) continue;
    const LiveRecord& r = slot.record;
    for (const Cell* cell : {&r.face, &r.window, &r.offset, &r.key, &r.picked, &r.orientation})
      collector::mark_value(*cell);
  }
}

void register_type() {
  DatatypeRecord record(TYPE_EVENT, 0, "event!");
  record.handle<Action::make>(make)
      .handle<Action::form>(form)
      .handle<Action::mold>(mold)
      .handle<Action::eval_path>(eval_path)
      .handle<Action::compare>(compare)
      .handle<Action::pick>(pick);
  register_datatype(record);
}

void init() {
  for (int i = 0; i < kFieldCount; ++i) field_symbols[i] = symbol::resolve(symbol::make(kFieldNames[i]));
  for (int i = 0; i < kTypeCodeCount; ++i) type_symbols[i] = symbol::resolve(symbol::make(kTypeNames[i]));
  for (size_t i = 0; i < flag_symbols.size(); ++i) flag_symbols[i] = symbol::resolve(symbol::make(kFlagNames[i].name));
  block::make_at(&flags_block, 8);
  collector::add_global_root(&flags_block);
}

}  // namespace kel::gui::event
