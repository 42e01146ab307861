// What the lexer's own files share: the state record of a running scan,
// the value buffer, the marker cells of open series, the handler tables and
// the routines that scanners and loaders call on one another.
//
// The value buffer is one array of cells for all active scans. A scan's
// area runs from its record's base to its tail; head is the first cell of
// the innermost open series (base when none is open). Records keep indexes,
// not addresses, so the buffer may move when it grows, even under a nested
// scan. A Cell* into the buffer is valid only until the next grow() or the
// next callback.
//
// An open series is a marker cell (type triple!, used here only inside the
// buffer): data1 the head index of the series that encloses it, data2 the
// datatype being built in the low 16 bits and, for points, the comma count
// above, data3 the byte offset of its opening delimiter from the input's
// start. Marker cells never leave the buffer.
#pragma once

#include <cstdint>

#include "io/lexer.h"
#include "io/lexer_tables.h"
#include "runtime/cell.h"

namespace kel::lexer {

constexpr TypeId kMarkerType = TYPE_TRIPLE;

// The state of one running scan.
struct State {
  State* next = nullptr;    // the scan nested in this one
  State* parent = nullptr;  // the scan this one is nested in

  uint32_t base = 0;  // first cell of this scan's area
  uint32_t head = 0;  // first cell of the innermost open series
  uint32_t tail = 0;  // next free cell

  const uint8_t* input_head = nullptr;
  const uint8_t* input_tail = nullptr;
  const uint8_t* input_pos = nullptr;  // where the next token starts
  const uint8_t* token_end = nullptr;  // the end of the current token as the automaton saw it

  int32_t line = 1;           // line of input_pos, counted from 1
  int32_t line_at_token_end = 1;  // line of token_end (loaders that read past it count on from here)
  int32_t token_lines = 0;    // line feeds consumed by the current token, blanks before it included
  bool new_line = false;      // a line feed stood between the previous token and this one
  int32_t type_override = -1; // a datatype imposed on the rest of the token's handling
  TypeId type = 0;            // datatype of the current token
  uint8_t start_state = kStartState;
  uint8_t last_state = 0;     // the state before the final one
  TypeId open_type = 0;       // series type named by a missing-delimiter error
  TypeId last_type = 0;

  // Braced strings: the outermost "{", the nesting depth, the flags of
  // every part read so far.
  const uint8_t* open_pos = nullptr;
  int32_t brace_depth = 0;
  uint32_t brace_flags = 0;
  // Whether the value that the current braced string or point literal
  // makes starts a new line (remembered at its opening delimiter).
  bool opening_new_line = false;

  bool strict = false;  // raise syntax errors (load and output both on)

  // Event callback.
  bool has_callback = false;
  Cell callback{};
  uint32_t events = 0;
  bool has_source = false;
  Cell source{};             // with its index at the scan's first byte
  bool source_is_text = false;
  // The last byte position converted to a character index, so that events
  // count characters incrementally rather than from the start each time.
  const uint8_t* counted_pos = nullptr;
  int32_t counted_chars = 0;
  // Set when a callback moved the input: the scan goes on from there.
  bool resumed_by_callback = false;
};

// The stop signal: ends the handling of the current token (a non-strict
// error, a callback that refused). The scan loop catches it around every
// handler and callback; it never leaves the lexer.
struct Stop {};

// --- The value buffer ------------------------------------------------------------------

extern Cell* value_buffer;
extern uint32_t value_capacity;

// Doubles the value buffer (internal no-memory when it cannot).
void grow_value_buffer();

// A fresh unset! cell at the scan's tail, carrying the new-line marker when
// the current token starts a new line.
inline Cell* grow(State& s) {
  if (s.tail == value_capacity) grow_value_buffer();
  Cell* cell = value_buffer + s.tail++;
  *cell = make_cell(TYPE_UNSET);
  if (s.new_line) cell->header |= flags::kNewLine;
  return cell;
}

inline Cell* cell_at(uint32_t index) { return value_buffer + index; }

// Stores a value at the scan's tail, with the new-line marker of the token.
inline Cell* store(State& s, Cell value) {
  Cell* cell = grow(s);
  value.header = (value.header & ~flags::kNewLine) | (cell->header & flags::kNewLine);
  *cell = value;
  return cell;
}

// --- Markers -----------------------------------------------------------------------

inline bool is_marker(const Cell& cell) { return cell.is(kMarkerType); }
inline TypeId marker_type(const Cell& marker) { return marker.data2 & 0xFFFF; }
inline uint32_t marker_commas(const Cell& marker) { return marker.data2 >> 16; }
// The innermost open marker of the scan, or null.
inline Cell* innermost_marker(State& s) {
  return s.head > s.base ? cell_at(s.head - 1) : nullptr;
}
inline const uint8_t* marker_opening(const State& s, const Cell& marker) {
  return s.input_head + marker.data3;
}
inline bool is_path_type(TypeId type) { return type >= TYPE_PATH && type <= TYPE_GET_PATH; }

// Opens a series of the type at the opening delimiter (open event first).
void open_series(State& s, TypeId type, const uint8_t* opening);
// Closes the innermost series at the closing delimiter, expecting the type
// (see lexer_scan.cpp).
void close_series(State& s, TypeId type, const uint8_t* at);

// --- Errors and events -----------------------------------------------------------------

// Error codes of throw_error besides a datatype id.
constexpr int32_t kBadChar = -1;
constexpr int32_t kMalformedConstruct = -2;
constexpr int32_t kMissingHere = -3;
constexpr int32_t kMissingAtEnd = -4;

// Reports bad text: code > 0 is the datatype of an invalid token, or one of
// the codes above. start is where the quoted text begins (null: the
// innermost open series, or the input's start). A non-strict scan gets the
// stop signal instead of an error.
[[noreturn]] void throw_error(State& s, const uint8_t* start, const uint8_t* end, int32_t code);

// Calls the callback for an event (see lexer.cpp); true without a callback
// or when the event is not in its mask.
bool fire_event(State& s, Event event, int32_t type_code, Cell* value, const uint8_t* start,
                const uint8_t* end);
inline bool wants(const State& s, Event event) { return s.has_callback && (s.events & event) != 0; }

// The first position in [start, end) whose code point is not in the blank
// set (U+00A0 and the other wide blanks); a malformed sequence raises the
// invalid error for code.
const uint8_t* skip_blanks(State& s, const uint8_t* start, const uint8_t* end, int32_t code);
// True when the code point is one of the blanks beyond ASCII.
bool is_wide_blank(uint32_t code_point);

// Decodes one UTF-8 sequence at p (before end): the code point, or -1 for a
// malformed or cut-off sequence; *next receives the position after it.
int32_t decode_utf8(const uint8_t* p, const uint8_t* end, const uint8_t** next);

// The point look-ahead after "(": true when the text there is the start of
// a point literal ((1, 2) or (1, 2, 3)).
bool point_ahead(const State& s, const uint8_t* after_paren);

// --- Handlers -------------------------------------------------------------------------

// Scanners and loaders: (state, token start, token end, token flags, mode).
// For a loader, mode 0 checks and 1 also stores the value; structural
// scanners get the strict flag. Each sets input_pos to where scanning
// resumes.
using Handler = void (*)(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, int mode);

extern const Handler kScanners[kFinalStateCount];
extern const Handler kLoaders[kFinalStateCount];

// The scan loop.
void scan_tokens(State& s, bool single_token, bool no_load);

// The start state after a series closes or a literal inside a path ends:
// a path element when the innermost open series is a path, else ordinary.
inline uint8_t resume_state(State& s) {
  Cell* marker = innermost_marker(s);
  return marker != nullptr && is_path_type(marker_type(*marker)) ? kPathElementState : kStartState;
}

// Scanners (lexer_scan.cpp).
void scan_end(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void scan_error(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void scan_series_open(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void scan_block_close(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void scan_paren_close(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void scan_brace_open(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void scan_brace_close(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void scan_map_open(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void scan_path(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void scan_construct(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void scan_comment(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void scan_comma(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void scan_string_token(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void scan_word(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void scan_issue(State&, const uint8_t*, const uint8_t*, uint32_t, int);
// The path element routine, after each element read in a path.
void scan_path_element(State& s, const uint8_t* start, const uint8_t* pos, uint32_t flags, bool load);

// Loaders (lexer_load.cpp).
void load_string(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void load_word(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void load_integer(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void load_refinement(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void load_char(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void load_file(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void load_binary(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void load_percent(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void load_float(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void load_special_float(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void load_tuple(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void load_date(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void load_pair(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void load_point(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void load_time(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void load_money(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void load_tag(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void load_url(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void load_email(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void load_hex(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void load_raw_string(State&, const uint8_t*, const uint8_t*, uint32_t, int);
void load_ref(State&, const uint8_t*, const uint8_t*, uint32_t, int);

// Loads text between delimiters as a string of the type: with escapes "^"
// sequences are decoded; a malformed sequence or escape raises invalid
// error_type with the quoted text from token_start. Stores the value when
// store is set.
void load_text(State& s, const uint8_t* token_start, const uint8_t* text, const uint8_t* text_end,
               uint32_t flags, TypeId type, bool escapes, bool store, TypeId error_type);

// Stores a word of the kind for the name (the lexer's word constructor).
void store_word(State& s, const uint8_t* name, const uint8_t* name_end, TypeId kind);

// The construction values of "#(...)": the keyword or datatype named by the
// text, or false.
bool construct_value(const uint8_t* text, const uint8_t* text_end, Cell* out);

// A map! over count key and value cells (copied), in *cell; false when
// the map datatype cannot build it. Whether a datatype may be a map key.
bool make_map(Cell* cell, const Cell* pairs, uint32_t count);
bool map_key_allowed(TypeId type);

}  // namespace kel::lexer
