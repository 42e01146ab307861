// The resource table (see resource_table.h for the slot layout and the
// invariants).
//
// The slot array lives on the runtime heap and moves when it doubles, so
// nothing here keeps a Slot pointer across a call that can reach a release
// callback or a growth: code holds indexes and re-reads the array.
#include "runtime/resource_table.h"

#include <utility>
#include <vector>

#include "runtime/runtime.h"

namespace kel::resource_table {

namespace {
// Runtime error 98, "assertion failed": a misuse of the table by the
// runtime's own code, which no program can cause or recover from.
constexpr int kAssertionFailed = 98;
// Runtime error 94: the slot indexes would no longer fit their 31 bits.
constexpr int kOutOfMemory = 94;
constexpr uint32_t kLargestCapacity = 0x40000000;
}  // namespace

Table::Table() {
  capacity_ = kInitialSlots;
  slots_ = static_cast<Slot*>(runtime::allocate(sizeof(Slot) * capacity_));
  for (uint32_t i = 0; i < capacity_; ++i) {
    slots_[i] = Slot{nullptr, kFreeSlot, i + 1 == capacity_ ? -1 : static_cast<int32_t>(i + 1), -1};
  }
  free_head_ = 0;
}

Table::~Table() { runtime::free(slots_); }

uint32_t Table::register_type(uint32_t flags, ReleaseCallback release) {
  if (type_count_ == kMaxTypes) runtime::quit(kAssertionFailed, KEL_CALLER_ADDRESS());
  types_[type_count_] = TypeEntry{flags, release};
  return ++type_count_;
}

uint32_t Table::type_flags(uint32_t type) const {
  return type >= 1 && type <= type_count_ ? types_[type - 1].flags : 0;
}

void Table::grow() {
  if (capacity_ >= kLargestCapacity) runtime::quit(kOutOfMemory, KEL_CALLER_ADDRESS());
  uint32_t old_capacity = capacity_;
  capacity_ *= 2;
  slots_ = static_cast<Slot*>(runtime::resize(slots_, sizeof(Slot) * capacity_));
  // The new half goes on the free list, lowest index first, in front of
  // whatever the list still holds.
  for (uint32_t i = old_capacity; i < capacity_; ++i) {
    int32_t next = i + 1 == capacity_ ? free_head_ : static_cast<int32_t>(i + 1);
    slots_[i] = Slot{nullptr, kFreeSlot, next, -1};
  }
  free_head_ = static_cast<int32_t>(old_capacity);
}

int32_t Table::allocate(void* object, uint32_t type) {
  if (type < 1 || type > type_count_) runtime::quit(kAssertionFailed, KEL_CALLER_ADDRESS());
  if (free_head_ < 0) grow();
  int32_t index = free_head_;
  Slot& slot = slots_[index];
  free_head_ = slot.next;
  slot = Slot{object, type, used_head_, -1};
  if (used_head_ >= 0) slots_[used_head_].previous = index;
  used_head_ = index;
  ++used_count_;
  return index;
}

void Table::release_slot(uint32_t type_word, void* object) const {
  uint32_t type = type_word & kTypeMask;
  if (type < 1 || type > type_count_) return;
  if (ReleaseCallback release = types_[type - 1].release) release(object);
}

bool Table::valid_used(int32_t index) const {
  return index >= 0 && static_cast<uint32_t>(index) < capacity_ && slots_[index].type_word != kFreeSlot;
}

void Table::release(int32_t index) const {
  if (!valid_used(index)) return;
  release_slot(slots_[index].type_word, slots_[index].object);
}

void Table::replace(int32_t index, void* object) {
  if (!valid_used(index)) return;
  void* old = slots_[index].object;
  uint32_t type_word = slots_[index].type_word;
  slots_[index].object = object;
  if (old != object) release_slot(type_word, old);
}

void Table::unlink_used(int32_t index) {
  Slot& slot = slots_[index];
  if (slot.previous >= 0) slots_[slot.previous].next = slot.next;
  else used_head_ = slot.next;
  if (slot.next >= 0) slots_[slot.next].previous = slot.previous;
  --used_count_;
}

void Table::push_free(int32_t index) {
  slots_[index] = Slot{nullptr, kFreeSlot, free_head_, -1};
  free_head_ = index;
}

void Table::free(int32_t index, bool release_object) {
  if (!valid_used(index)) return;
  uint32_t type_word = slots_[index].type_word;
  void* object = slots_[index].object;
  unlink_used(index);
  push_free(index);
  if (release_object) release_slot(type_word, object);
}

bool Table::mark(int32_t index, void* object) {
  if (!valid_used(index)) return false;
  Slot& slot = slots_[index];
  bool first = (slot.type_word & kMarked) == 0;
  slot.type_word |= kMarked;
  if (object != nullptr) slot.object = object;
  return first;
}

void Table::each(uint32_t type, const std::function<void(uint32_t type, void* object)>& callback) const {
  for (int32_t index = used_head_; index >= 0;) {
    // Read on before the call: the callback may free this slot.
    int32_t next = slots_[index].next;
    if ((slots_[index].type_word & kTypeMask) == type) callback(type, slots_[index].object);
    index = next;
  }
}

uint32_t Table::sweep() {
  // First the table lets go of every unmarked slot, then the callbacks run:
  // a callback that frees or allocates slots cannot disturb the walk.
  std::vector<std::pair<uint32_t, void*>> released;
  for (int32_t index = used_head_; index >= 0;) {
    Slot& slot = slots_[index];
    int32_t next = slot.next;
    if (slot.type_word & kMarked) {
      slot.type_word &= ~kMarked;
    } else {
      released.emplace_back(slot.type_word, slot.object);
      unlink_used(index);
      push_free(index);
    }
    index = next;
  }
  for (const auto& [type_word, object] : released) release_slot(type_word, object);
  return static_cast<uint32_t>(released.size());
}

bool Table::in_use(int32_t index) const { return valid_used(index); }

void* Table::object(int32_t index) const { return valid_used(index) ? slots_[index].object : nullptr; }

uint32_t Table::type_of(int32_t index) const {
  return valid_used(index) ? slots_[index].type_word & kTypeMask : 0;
}

bool Table::marked(int32_t index) const { return valid_used(index) && (slots_[index].type_word & kMarked) != 0; }

void init() { table(); }

Table& table() {
  // Made once and never destroyed: the runtime's last steps may still sweep.
  static Table* const the_table = new Table();
  return *the_table;
}

}  // namespace kel::resource_table
