// The lexer: UTF-8 source text into Kel values.
//
// A scan runs the token automaton of lexer_tables.h over a byte range and
// builds the values it recognises in one value buffer shared by all scans.
// Open blocks, parens, maps and paths sit in that buffer as marker cells
// until their closing delimiter turns the cells after the marker into one
// value, so nesting depth costs buffer cells, never C++ stack. When the scan
// ends the buffer area becomes one block (or the values go into a target
// block, or a single value is delivered).
//
// Scans nest: a callback or a datatype conversion may start a scan while
// another runs. Each scan owns an area of the value buffer above the area of
// the scan that encloses it and a state record linked into the chain of
// active scans; every way out of a scan, an error included, unlinks its
// record and gives its buffer space back, so a failed load never disturbs
// the next one. The collector reaches the values under construction through
// mark_buffers.
//
// Errors: bad text raises a syntax error (invalid, missing, bad-char,
// malconstruct) whose first argument is "(line N)", N being the line the
// scan has reached. Malformed UTF-8 is bad text like any other: inside a
// token it makes that token invalid, where no token may start it is a bad
// character. Only a strict scan (load and output both on) raises; any other
// scan ends quietly with the type error!. A NUL byte between tokens ends
// the text, whatever follows it.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kel::lexer {

// Lexer events: bits of a callback's event mask, named by the words
// prescan, scan, load, open, close and error.
enum Event : uint32_t {
  kEventPrescan = 1,
  kEventScan = 2,
  kEventLoad = 4,
  kEventOpen = 8,
  kEventClose = 16,
  kEventError = 32,
};
constexpr uint32_t kAllEvents = 63;

struct ScanOptions {
  // Stop once one complete value (or, without load, one datatype) is known.
  bool single_token = false;
  // Build values. Without it the scan only finds the datatypes of the
  // tokens (the quick check behind word lexing and delimiter checks).
  bool load = true;
  // Deliver the values. A scan raises syntax errors only when both load
  // and output are on; otherwise an error ends it with the type error!.
  bool output = true;
  // In single-token mode, deliver a block even when it holds one value.
  bool keep_block = false;
  // The event function (a function! or routine!) called for lexer events,
  // or null.
  const Cell* callback = nullptr;
  // The string! or binary! that the bytes come from: the callback sees it,
  // and a string makes the reported position count characters.
  const Cell* source = nullptr;
  // A block to append the values to, instead of a new block in the result.
  const Cell* target = nullptr;
};

// Scans length bytes of UTF-8 text. The bytes must stay where they are for
// the whole scan: a callback runs Kel code, which may collect or change a
// series, so a caller scanning a series' own bytes with a callback scans a
// copy. The values go, by the options, to the result cell (a new block!,
// or the one value in single-token mode) or to the target block. Returns the datatype id of the last token (error! when
// a non-strict scan met an error). When position is not null it receives
// how far the scan got: characters of the source string, else bytes.
TypeId scan(Cell* result, const uint8_t* bytes, uint32_t length, const ScanOptions& options,
            int32_t* position = nullptr);

// The same for a string value from its index: length characters, or all up
// to the tail when length is negative. The string is its own source value.
TypeId scan_string(Cell* result, const Cell* string, int32_t length, const ScanOptions& options,
                   int32_t* position = nullptr);

// Loads a whole UTF-8 text (a leading byte-order mark skipped) into a new
// block in the result cell; returns the result cell. Raises on bad text.
Cell* load(Cell* result, const uint8_t* bytes, uint32_t length);

// Allocates the buffers and fills the lexer's entries of the registration
// table (the word datatype's scanner, loading a string's source, marking
// what running scans hold). Called once by the runtime initialisation.
void init();

// The collector's entry: reports every value that active scans hold (the
// cells built so far, the source values and the callbacks).
using MarkCell = void (*)(const Cell& cell);
void mark_buffers(MarkCell mark);

// Number of scans running (0 between scans: the chain is always unwound).
uint32_t active_scans();

// --- Event callbacks ---------------------------------------------------------------

// The evaluator's part of calling a callback is two entries of the
// registration table (runtime/upcalls.h), filled when the evaluator starts.
// lexer_callback runs the callback with its five arguments (event word,
// input, type, line, token) and answers its logic result; before returning
// it writes the value its input argument holds at the end of the call into
// arguments[1], so that a callback which moved its input moves the scan.
// lexer_first_body_value gives the first value of a callback function's
// body (false when there is none), from which the event mask is read.

// The block of exit-state words (system/lexer/exit-states) whose entries
// name the type argument of events about tokens without a datatype; none
// until the boot environment provides it.
void set_exit_states(const Cell& block);

}  // namespace kel::lexer
