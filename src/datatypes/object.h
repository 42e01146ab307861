// object!: the language's record and prototype type, and the base of error!
// and port!.
//
// Cell: header type 32 (34 for error!, 48 for port!); data1 the node of the
// object's context (a heap context of object kind with the object flag set);
// data2 the class id; data3 the node of the object's handler block, or 0
// when the object has no change handlers (see object_events.cpp). The
// context's self cell (cell 1) holds a copy of the object cell, so `self`
// and the change machinery reach the object from its context.
//
// Class ids: objects made from the same prototype without new fields share
// the prototype's class id; any new field, and every object made from
// scratch, takes the next id of a counter that starts above 1000000. Smaller
// ids are fixed: 0 for objects made by start-up code, 1 for errors, 2 for
// ports.
//
// Field-change marks: the word cell of a field in the context's word table
// carries flags::kFieldSet once the field has been assigned; `make` clears
// them all after running the body block, `reflect obj 'changed` lists them and
// `modify obj 'changed none` clears them.
//
// Handler block: a block of exactly two pair!-typed cells, cell 0 for
// `on-change*` and cell 1 for `on-deep-change*`: data2 = (field index << 16)
// | local count, field index 0xFFFF when the object has no such field; data3
// the node of the handler's interface block the local count was computed from.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::object {

constexpr uint32_t kStartUpClass = 0;
constexpr uint32_t kErrorClass = 1;
constexpr uint32_t kPortClass = 2;
// The last class id handed out before the first object is made.
constexpr uint32_t kClassCounterStart = 1000000;
// Context cell flag of an object that owns its values (ownership.h).
constexpr uint32_t kOwnerFlag = 0x00010000;
// Handler block field index meaning "no such field".
constexpr uint32_t kNoHandler = 0xFFFF;
constexpr uint32_t kOnChangeCell = 0;
constexpr uint32_t kOnDeepChangeCell = 1;

// --- Cells ----------------------------------------------------------------------------

inline bool is_object_kind(TypeId type) {
  return type == TYPE_OBJECT || type == TYPE_ERROR || type == TYPE_PORT;
}
inline Cell make_value(NodeId context, uint32_t class_id, NodeId handlers, TypeId type = TYPE_OBJECT) {
  return make_cell(type, context, class_id, handlers);
}
inline NodeId context_of(const Cell& object) { return object.data1; }
inline uint32_t class_of(const Cell& object) { return object.data2; }
inline NodeId handlers_of(const Cell& object) { return object.data3; }

// The next class id (the first one handed out is 1000001).
uint32_t next_class_id();
// The last class id handed out, and setting it (a start from the boot
// image's heap goes on from the ids the boot handed out).
uint32_t last_class_id();
void set_last_class_id(uint32_t id);

// --- Constructors ----------------------------------------------------------------------
// Each stores the object cell in its context's self cell.

// Makes cell an object with a new context of room for size fields, class id
// 0 and no handlers. cell must not live in a series buffer.
Cell* make_at(Cell* cell, uint32_t size);
// Pushes a new empty object of the type with room for size fields.
Cell* push_new(uint32_t size, uint32_t class_id, TypeId type = TYPE_OBJECT);
// Pushes an object for an existing context (no handlers); a context whose
// values block is empty first gets one unset value per word.
Cell* push_for_context(NodeId context, uint32_t class_id);
// Pushes an object with the three fields given.
Cell* push(NodeId context, uint32_t class_id, NodeId handlers);

// A copy of the source object into destination (which must not live in a
// series buffer): a new context with the same words, the values copied, the
// same type and class id. With deep, series values are replaced by deep
// copies; function! values are always rebound to the new object. With
// new_handlers the handler block is rebuilt from the copy's own fields,
// otherwise the source's block is shared. Answers destination.
Cell* duplicate(const Cell& source, Cell* destination, bool deep, bool new_handlers);

// make with a prototype (an object, or none for a new object) and a body
// (block or object): the object! make action's work, also used by error!.
// The result is pushed and returned. When evaluating the body block ends in a
// pending exit, answers null with the stacks already unrolled.
Cell* make_object(const Cell* prototype, const Cell* spec, TypeId type);

// Evaluates a body block into an object: its set-words become fields, the
// block is bound to the object (self included) and run, and the field marks
// are cleared. The handler block is not touched. Answers false when the
// evaluation ended in a pending exit.
bool run_spec(const Cell& object, const Cell& spec);

// The construct native: a copy of the prototype (or a new object) whose
// fields are read from the body block as data. The result is pushed and returned.
Cell* construct(const Cell* spec, const Cell* prototype, bool only);

// --- Fields ------------------------------------------------------------------------------
// Addresses point into series buffers: re-read them after any allocation.

uint32_t size_of(const Cell& object);
Cell* values_of(const Cell& object);
// The word cell of the field at an index.
Cell* word_at(const Cell& object, uint32_t index);
// The index of a field by canonical symbol, or -1.
int32_t find_field_index(NodeId context, uint32_t symbol);
// The value of a field by canonical symbol, or the shared none cell.
const Cell* find_field(NodeId context, uint32_t symbol);
// Whether a value is an object whose context is the given one.
bool holds_context(const Cell& value, NodeId context);

// Stores a value into a field by index: with notification (the field's old
// value and the new one are handed to `on-change*`, and ownership follows the
// value) when the object has a handler block, directly otherwise. The field
// is marked as set either way. word names the field for the handler. A
// handler that raises an error leaves the field with its old value (owned
// again) before the error goes on.
void set_field(const Cell& object, uint32_t index, const Cell& word, const Cell& value);
// Stores a value into a field by index without notification; an object
// with `on-deep-change*` stops owning the field's old value and owns the
// new one (word names the field in the owner table).
void store_field(const Cell& object, uint32_t index, const Cell& word, const Cell& value);
// store_field for the field a symbol names; false when the object has none.
bool store_field_named(const Cell& object, uint32_t symbol, const Cell& value);

// --- Text ---------------------------------------------------------------------------------

// Writes the fields as "word: value" entries: each on its own line indented
// one level deeper than indent when lines is set (a line break then closes
// the body at the object's own indentation), separated by single spaces
// otherwise. The change handler fields are left out unless all is set.
// Answers the part limit left.
int32_t write_body(const Cell& object, Cell* buffer, bool all, bool flat, bool lines, Cell* arg,
                   int32_t part, int32_t indent);

// --- Change handlers (object_events.cpp) -------------------------------------------------------

// Builds the handler block from the object's own `on-change*` and
// `on-deep-change*` fields (data3 becomes 0 when it has neither), makes an
// object with `on-deep-change*` the owner of its values and stores the
// object in its context's self cell. Raises script bad-field-set when a
// handler field holds anything but a function! (routines are refused: the
// handlers are called as functions).
void install_handlers(Cell* object);
// The same as install_handlers for start-up code that knows the two field
// indexes (-1 for an absent one).
void push_with_handlers(Cell* object, int32_t on_change_index, int32_t on_deep_change_index);
bool has_deep_handler(const Cell& object);
// Makes the object the owner of its field values (but not of its handlers),
// as an object with `on-deep-change*` is.
void own_fields(const Cell& object);
// Calls `on-change*` with the field word, the old and the new value.
void fire_on_set(const Cell& object, const Cell& word, const Cell& old_value, const Cell& new_value);
// The two steps of fire_on_set: the function in the `on-change*` field
// (false when the object has no such field; script invalid-obj-evt when
// it holds no function), and the call of that function.
bool change_handler(const Cell& object, Cell* function);
void call_change_handler(const Cell& object, const Cell& function, const Cell& word, const Cell& old_value,
                         const Cell& new_value);
// The same for the object in a context's self cell.
void fire_on_set_context(NodeId context, const Cell& word, const Cell& old_value, const Cell& new_value);
// Calls `on-deep-change*` of the owner with the field word, the changed
// series, the action word, the new value (null: none), the index and the
// part.
void fire_on_deep_change(const Cell& owner, const Cell& word, const Cell& target, const Cell& action,
                         const Cell* new_value, int32_t index, int32_t part);
// The set native on an object target.
void set_values(const Cell& object, const Cell& value, bool any, bool only, bool some);

// --- Action handlers (shared with error! and port!) ------------------------------------------

Cell* make(Cell* proto, Cell* spec, TypeId type);
Cell* reflect(Cell* value, int field);
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item,
                int32_t index, bool case_sensitive, bool get, bool tail);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
Cell* copy(Cell* value, Cell* result, int part, int deep, int types);
Cell* put(Cell* series, Cell* key, Cell* value, int case_sensitive);
Cell* select(Cell* series, Cell* value, int part, int only, int case_sensitive, int same, int any,
             int with, int skip, int last, int reverse);
Cell* modify(Cell* target, Cell* field, Cell* value, int case_sensitive);

// Registers object! (id 32, no parent).
void init();

}  // namespace kel::object
