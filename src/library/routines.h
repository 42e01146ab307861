// Routines: the systems-level functions of the library, written in C++ and
// bound to words as routine! values.
//
// Every routine is a row of one table (routines.cpp): its word, its spec
// (argument names, type blocks and doc strings, as `help` and `spec-of`
// show them), a one-line description that becomes the routine's body, the
// C++ entry and the datatype id of its result (-1 when the interface declares
// none). A routine! value names its row by index (function.h), so the
// table is the one place a routine is defined; the interpreter calls a
// routine through call().
//
// Most rows are bound to global words at start-up: the routines of the
// library (quit-return ... write-stdout) and the 62 type tests. The rest
// are the boot's own: the pieces of the system object that only the
// runtime can supply (build facts, the system/words object, the error
// catalog, the collector figures, the float options). They are reached
// only while the boot builds the system object (boot/system.kel), through
// the object the word `system-internals` holds until then. The library's
// sources have a few of their own (the JSON decoder's unescape), reached the
// same way through `library-internals` while they load.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/cell.h"

namespace kel::routines {

// An entry reads its arguments from the current frame (stack::arguments(),
// in the order of its interface block, already checked against the types
// given there) and leaves its result in the frame's first cell. parameter
// is the row's own number (the datatype a type test checks, the typeset word
// it reads ...).
using Entry = void (*)(uint32_t parameter);

// Routines of the layers above the library (the GUI's): each row is bound
// to a global word, or, when holder names a word, to a member of the object
// that word is given (the layer's Kel sources take them from there while
// they load). Rows are added before init() makes the routine values.
struct LayerRow {
  const char* word;
  const char* interface;    // Kel source of the interface block's contents
  const char* description;  // the body: one line saying what the C++ code does
  Entry entry;
  uint32_t parameter;
  int32_t return_type;      // datatype id, or -1
  const char* holder;       // nullptr: a global word
};
void add_layer_rows(const LayerRow* rows, uint32_t count);

// Makes every routine value and binds the library's words, and binds
// `system-internals` to the object of the boot's own routines and
// `library-internals` to the object of the library sources' own. Runs once,
// before the library's Kel sources.
void init();
// Only the C++ table the routine values name their rows in, for a start
// whose heap already holds the values (the boot image's heap): the same
// rows in the same order, so the values' row numbers hold. Interns no new
// symbol when the heap has them.
void init_table();

// Runs a routine! value in the frame the caller opened: the arguments are
// in place, the result replaces the first of them. A routine! that names
// no row raises internal `routines`.
void call(const Cell& routine);

// The number of word! entries of a spec (a routine's argument count).
uint32_t argument_count(const Cell& spec);

// OS information (os-info): the architecture word of a uname machine name
// (x86-64, x86-32, ARM64, ARM, IA-64, else Unknown), and the first three
// numbers of a kernel release text ("6.1.0-18-amd64" gives 6 1 0), each
// clamped to 255 so that it fits a tuple's byte; missing numbers are 0.
const char* architecture_word(const std::string& machine);
void release_numbers(const char* text, int32_t numbers[3]);

}  // namespace kel::routines
