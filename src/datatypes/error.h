// error!: the value that describes a failure. An error is an object (a
// child of object!) whose fields say what went wrong, where, and with which
// arguments; its text comes from the error catalog (runtime/error_catalog.h),
// whose categories hold the message templates.
//
// Cell: as an object! cell with type 34: data1 the context node, data2 the
// class id (always 1), data3 0 (errors have no change handlers). The fields,
// by index: 0 code (category base code + the id's position), 1 type (the
// category word), 2 id (the error word), 3-5 arg1..arg3, 6 near (the
// expression being evaluated when the error was made: a block at its
// index), 7 where (the word of the innermost named call when it was
// raised), 8 stack (the frame depth at the raise, or the captured block of
// call words), 9 files (a block when present). An error made before the
// word table exists (during start-up) carries its catalog id alone:
// data1 0, data2 the id + 1.
//
// The text of an error is built from its type and id fields when it is
// formed, so an error whose fields were changed forms with the new text.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/cell.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace kel::error_value {

enum Field : uint32_t {
  kCode = 0,
  kType = 1,
  kId = 2,
  kArg1 = 3,
  kArg2 = 4,
  kArg3 = 5,
  kNear = 6,
  kWhere = 7,
  kStack = 8,
  kFiles = 9,
};
constexpr uint32_t kFieldCount = 10;
constexpr uint32_t kClassId = 1;
// The longest near text and syntax argument shown in an error's text.
constexpr int32_t kNearLimit = 40;
constexpr int32_t kSyntaxArgumentLimit = 80;

// Makes an error of the catalog id with up to three argument values (null
// for none); its near field is the interpreter's current position.
Cell create(ErrorId id, const Cell* arg1, const Cell* arg2, const Cell* arg3);
// The catalog id the error's type and id fields name; internal
// invalid-error when they name nothing in the catalog.
ErrorId id_of(const Cell& error);
// The same, answering false when the fields name nothing in the catalog.
bool find_id(const Cell& error, ErrorId* out);
// Argument n (1..3); none when absent.
Cell argument(const Cell& error, int n);
// A field's value (none when the error has no fields).
Cell field(const Cell& error, Field which);
void set_field(const Cell& error, Field which, const Cell& value);

// The error's text as the console prints it: "*** <category title>: " and
// the message with the arguments formed in place, then the "*** Where: "
// and "*** Near : " lines ("*** Stack: " when the trace depth is above 0,
// "*** Files: " when the files field is a block). Never raises: an error
// whose fields name nothing in the catalog shows the invalid-error text.
std::string form_text(const Cell& error);
// Just the message with its arguments filled in.
std::string message_text(const Cell& error);

// What the raise records in an error: the word of the innermost named call
// frame (given by its symbol and the frame's function context, 0 for the
// global context) as where, when where is still none; and the frame depth
// as stack, unless stack already holds a block.
void record_raise(const Cell& error, uint32_t where_symbol, NodeId where_context, uint32_t depth);

// Captures the call trace of an error just caught (try/keep): when its
// stack field holds the frame depth of its raise, the field becomes a block
// of the words of the named calls between the frame depth `from` (the
// frames of the code the catcher guarded start there) and the raise,
// outermost first, at the trace depth in force (at least 1). The frame
// records above the current frame top must still be those the error left.
void capture_trace(const Cell& error, uint32_t from);

// The depth of the call trace (system/state/stack-trace when it is an
// integer above 0, else 0): at 0 an error's text shows no trace; at 1 the
// trace holds the named function calls; above 1 every named call. Errors
// show a trace once it has been captured.
int32_t trace_depth();

// The word of the call being made (for expect-arg and friends).
Cell call_word();
// The word of the call's argument at a 0-based index, from the called
// value's spec; the word <anon> when there is no such argument.
Cell call_argument_word(int index);

// The object! that every new error copies: the ten fields, all none.
Cell prototype();

// Where errors find the system object's parts once it exists. prototype
// answers the context of system/standard/error (0 while there is none);
// category answers the object of system/catalog/errors for a category
// (none while there is none). New errors then copy that prototype, and an
// error's text takes its category title and message template from the
// catalog object, so a program that changes a template changes the text of
// later errors. A part that is missing or malformed (a prototype without
// the ten fields in order, a template that is neither a string, a block
// nor a word) falls back to the runtime's own prototype and table.
struct SystemParts {
  NodeId (*prototype)() = nullptr;
  Cell (*category)(ErrorCategory category) = nullptr;
  // The value of system/state/stack-trace (none while there is none).
  Cell (*trace_depth)() = nullptr;
};
void set_system_parts(const SystemParts& parts);

// Action handlers.
Cell* make(Cell* proto, Cell* spec, TypeId type);
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);
int32_t compare(Cell* value1, Cell* value2, int32_t op);

}  // namespace kel::error_value

namespace kel::error_type {
// Registers error! (id 34, parent object!).
void init();
}  // namespace kel::error_type
