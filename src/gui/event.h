// event!: one GUI event as a value (type id 54).
//
// Cell: header type 54, with kMadeFlag set for an event built by `make`
// (clear for a live event of a backend); data1 the event type code (1-38,
// 0 while a made event has no type; any code outside 1-38 reads as none);
// data2 the event's payload; data3 the flags word.
//
// A made event's data2 is the node of a block of four cells (face, window,
// offset, picked), or 0 when its spec gave none of them; the collector marks
// that node. Bits 0-20 of its flags word hold the key's code point (0: no
// key), bits 22-31 the flag bits.
//
// A live event never points into the backend: data2 is the id of a record
// of the event record table below, and bits 1-20 of data3 hold that
// record's generation when the event was made (bit 0: the key is a special
// key, bits 22-31 the flag bits). Closing a record bumps its generation, so
// an event kept after its dispatch reads none for every field the record
// held, and its flags as they were; it never reads memory that was reused.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kel::gui::event {

constexpr uint32_t kMadeFlag = 0x1000;

// The flag bits of the flags word.
constexpr uint32_t kFlagAway = 0x04000000;
constexpr uint32_t kFlagDown = 0x02000000;
constexpr uint32_t kFlagMidDown = 0x01000000;
constexpr uint32_t kFlagAltDown = 0x00800000;
constexpr uint32_t kFlagAuxDown = 0x00400000;
constexpr uint32_t kFlagControl = 0x10000000;
constexpr uint32_t kFlagShift = 0x20000000;
constexpr uint32_t kFlagAlt = 0x40000000;
constexpr uint32_t kFlagCommand = 0x80000000;
constexpr uint32_t kFlagBits = 0xFFC00000;    // bits 22-31
constexpr uint32_t kKeyBits = 0x001FFFFF;     // a made event's code point (21 bits)
constexpr uint32_t kSpecialKeyBit = 0x1;      // a live event's key is a special-key word
constexpr uint32_t kGenerationMask = 0xFFFFF; // a live event's generation, in bits 1-20

// Field indexes, as path words and pick indexes name them.
enum Field : int32_t {
  kType = 1, kFace, kWindow, kOffset, kKey, kPicked, kFlags, kAway, kDown, kMidDown, kAltDown,
  kAuxDown, kCtrl, kShift, kOrientation,
};
constexpr int32_t kFieldCount = 15;
constexpr int32_t kTypeCodeCount = 38;

// Registers event! with the datatype registry; runs once with the other
// datatypes.
void register_type();
// Interns the words the datatype reads and answers and makes its flags
// block; runs once the symbol table exists.
void init();

// The field index of a word (1-15), -1 for any other word.
int32_t field_index(const Cell& word);
// The flag bit of a flag word (0 for any other word).
uint32_t flag_bit(const Cell& word);
// The type code of a type word, 0 when the word names no event type.
int32_t type_code(const Cell& word);
// Reads one field (1-15) of an event.
Cell read_field(const Cell& event, int32_t field);

// --- Live events (the backends' side) ------------------------------------------------
// What a backend knows of one event while it dispatches it. key is a char!
// or a special-key word (special_key true), or none.
struct LiveRecord {
  Cell face;
  Cell window;
  Cell offset;
  Cell key;
  Cell picked;
  Cell orientation;
};

// Opens a record for an event about to be dispatched and makes the live
// event that refers to it. flag_bits are bits 22-31 of the flags word.
Cell open_live(int32_t type_code, const LiveRecord& record, uint32_t flag_bits, bool special_key);
// Closes the record an event refers to: from now on the event is stale.
void close_live(const Cell& event);
// Marks the cells of the open records (the collector hook calls it).
void mark_live_records();

}  // namespace kel::gui::event
