// The resource table: objects that live outside series memory (operating
// system handles, imaging objects) entered by slot index, so that a value
// can refer to one with a 32-bit number and the collector can release it
// once no value refers to it any more.
//
// Types: up to 20, each {flags, release callback}, known by a 1-based index
// in registration order. Slots: {type word, object, links}; the type word
// holds the type index in bits 0-7, the collector mark in bit 31, and a free
// slot is exactly kFreeSlot with a null object. Every slot is on exactly one
// of two lists: the free list (threaded by next, -1 ends it) or the used
// list (newest first, linked both ways so that a slot leaves it at once).
// The slot array doubles when the free list runs out; indexes stay valid.
//
// Release callbacks run after the table has let go of the slot, so a
// callback may use the table freely; they must not allocate series (they
// run inside the collector's sweep).
#pragma once

#include <cstdint>
#include <functional>

namespace kel::resource_table {

using ReleaseCallback = void (*)(void* object);

constexpr uint32_t kMaxTypes = 20;
constexpr uint32_t kInitialSlots = 1000;
constexpr uint32_t kTypeMask = 0x000000FF;
constexpr uint32_t kMarked = 0x80000000;
constexpr uint32_t kFreeSlot = 0x40000000;

class Table {
 public:
  Table();
  ~Table();
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  // Answers the new type's 1-based index. Registering a 21st type ends the
  // process with runtime error 98 ("assertion failed"): the table is sized
  // once for the runtime's own resource kinds.
  uint32_t register_type(uint32_t flags, ReleaseCallback release);
  uint32_t type_count() const { return type_count_; }
  uint32_t type_flags(uint32_t type) const;

  // Enters an object of a registered type; answers its 0-based slot index.
  int32_t allocate(void* object, uint32_t type);
  // Calls the release callback of the type in the type word's low byte
  // (nothing for type 0 or a type without a callback).
  void release_slot(uint32_t type_word, void* object) const;
  // Releases a slot's object, leaving the slot in use.
  void release(int32_t index) const;
  // Stores a new object; the old one is released when it differs.
  void replace(int32_t index, void* object);
  // Returns the slot to the free list, releasing its object first with
  // release_object. Freeing a free slot does nothing.
  void free(int32_t index, bool release_object);
  // The collector's mark: sets the mark bit, stores the object when one is
  // given; true when the slot was not marked before. Indexes out of range
  // and free slots answer false and change nothing.
  bool mark(int32_t index, void* object = nullptr);
  // Calls the callback with (type, object) for every used slot of the type,
  // newest first. The callback may free the slot it is given.
  void each(uint32_t type, const std::function<void(uint32_t type, void* object)>& callback) const;
  // After marking: clears the mark of every marked slot and frees every
  // unmarked one, then calls the release callbacks of the freed objects,
  // each exactly once. Answers the number of slots freed.
  uint32_t sweep();

  // Inspection.
  uint32_t capacity() const { return capacity_; }
  uint32_t used_count() const { return used_count_; }
  bool in_use(int32_t index) const;
  void* object(int32_t index) const;
  uint32_t type_of(int32_t index) const;
  bool marked(int32_t index) const;

 private:
  struct Slot {
    void* object;
    uint32_t type_word;
    int32_t next;      // free list or used list
    int32_t previous;  // used list only
  };
  struct TypeEntry {
    uint32_t flags;
    ReleaseCallback release;
  };

  bool valid_used(int32_t index) const;
  void grow();
  void unlink_used(int32_t index);
  void push_free(int32_t index);

  TypeEntry types_[kMaxTypes] = {};
  uint32_t type_count_ = 0;
  Slot* slots_ = nullptr;
  uint32_t capacity_ = 0;
  uint32_t used_count_ = 0;
  int32_t free_head_ = -1;
  int32_t used_head_ = -1;
};

// The runtime's own table, made on first use; init makes it at start-up.
void init();
Table& table();

// The runtime's table through the routine names the rest of the system
// uses.
inline uint32_t register_type(uint32_t flags, ReleaseCallback release) {
  return table().register_type(flags, release);
}
inline int32_t allocate(void* object, uint32_t type) { return table().allocate(object, type); }
inline void release_slot(uint32_t type_word, void* object) { table().release_slot(type_word, object); }
inline void release(int32_t index) { table().release(index); }
inline void replace(int32_t index, void* object) { table().replace(index, object); }
inline void free(int32_t index, bool release_object) { table().free(index, release_object); }
inline bool mark(int32_t index, void* object = nullptr) { return table().mark(index, object); }
inline void each(uint32_t type, const std::function<void(uint32_t type, void* object)>& callback) {
  table().each(type, callback);
}
inline uint32_t sweep() { return table().sweep(); }

}  // namespace kel::resource_table
