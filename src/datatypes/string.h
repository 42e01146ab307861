// string!: text as code points in 1-, 2- or 4-byte units (string_units.h).
//
// Cell: header type 7 (or a string-like child type: file!, url!, tag!,
// email!, ref!), data1 the index in characters from the buffer's head, data2
// the series node, data3 0. The buffer holds no terminating NUL; its tail
// marks the end. The unit is chosen as narrow as the content allows and
// widened in place when a wider code point arrives; it is narrowed only when
// the string is emptied by rs_reset.
//
// The routines here are the low-level ones through which the rest of the
// system reads and writes text; the string! actions (make, to, form, mold,
// compare, find, append, sort ...) build on them. Routines taking a
// SeriesBuffer* return the buffer they leave behind, which is another one
// after a growth or a widening: callers keep the returned pointer, never the
// one they passed. No routine here keeps a raw buffer pointer across an
// allocation.
//
// Offsets: "offset" arguments count characters from the buffer's head unless
// the routine says "from the index".
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "runtime/action_slots.h"
#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/string_buffer.h"
#include "runtime/string_units.h"

namespace kel::string {

// --- Cells ------------------------------------------------------------------------


// string!, file!, url!, tag!, email! and ref!: the types whose elements are
// characters and which compare as text.
inline bool is_string_like(TypeId type) {
  return type == TYPE_STRING || type == TYPE_FILE || type == TYPE_URL || type == TYPE_TAG ||
         type == TYPE_EMAIL || type == TYPE_REF;
}

// The series actions that the text types derived from string! (file!, url!,
// tag!, email!) take from it unchanged; each adds its own choice of make,
// to, form, mold, compare and path handling.
inline constexpr std::initializer_list<Action> kInheritedSeriesActions = {
    Action::append, Action::at,       Action::back,    Action::change, Action::clear,   Action::copy,
    Action::find,   Action::head,     Action::head_q,  Action::index_q, Action::insert, Action::length_q,
    Action::move,   Action::next,     Action::pick,    Action::poke,   Action::remove,  Action::reverse,
    Action::select, Action::skip,     Action::swap,    Action::tail,   Action::tail_q,  Action::take,
    Action::modify};

// Pushes a copy of the string cell on the evaluation stack.
Cell* push(const Cell& s);

// --- Loading external text ------------------------------------------------------------

// Encodings of external text: UTF-8, or UTF-16 little-endian.
constexpr int32_t kEncodingUtf8 = 0;
constexpr int32_t kEncodingUtf16le = -1;

// A new string from an external buffer. length counts units of the encoding
// (bytes for UTF-8, 16-bit units for UTF-16LE). An incomplete UTF-8 sequence
// at the end is dropped. The string goes into cell, or into a new stack slot
// when cell is null; returns that cell. Any other encoding is a fault of the
// caller and raises internal feature-na.
Cell* load(const uint8_t* bytes, uint32_t length, Cell* cell, int32_t encoding);
// load into a new stack slot.
Cell* load_cstr(const char* bytes, uint32_t length, int32_t encoding);
// load into a new cell appended at the tail of the block; returns that cell.
Cell* load_in(const uint8_t* bytes, uint32_t length, const Cell* block, int32_t encoding);
Cell* load_in_default(const uint8_t* bytes, uint32_t length, const Cell* block);
// A new string decoded from UTF-8, pushed on the stack. Undecodable input
// raises access invalid-utf8.
Cell* load_utf8_strict(const uint8_t* bytes, uint32_t length);

// --- Reading ------------------------------------------------------------------------------

// Code points from the index to the tail (0 when the index is past it).
uint32_t rs_length(const Cell* s);
// Code points from the head to the tail.
uint32_t rs_length_from_head(const Cell* s);
// Address of the character at the index; an index past the tail is first
// moved to the tail (the cell is updated). Valid until the next allocation.
uint8_t* rs_head(Cell* s);
uint8_t* rs_tail(const Cell* s);
// True when the index is at or past the tail.
bool rs_tail_q(const Cell* s);
// Code point at an absolute position from the head.
uint32_t rs_abs_at(const Cell* s, uint32_t position);
// Empties the string: unit 1, tail = head, index 0.
void rs_reset(Cell* s);
// Moves the index by n only when the new position does not pass the tail;
// answers whether the new position is at or past the tail.
bool rs_skip(Cell* s, int32_t n);
inline bool rs_next(Cell* s) { return rs_skip(s, 1); }

inline uint32_t get_char(const uint8_t* address, uint32_t unit) {
  return unicode::get_char(address, unit);
}

// The float value of a run of length characters of the given unit that holds
// the text of a number, read as float_type::parse reads it. A character that
// is not ASCII ends the number.
double parse_float(const uint8_t* start, uint32_t length, uint32_t unit);

// Offset from the index of the first occurrence of the code point, -1 when
// there is none.
int32_t find_char(const Cell* s, uint32_t code_point);
// True when the code point occurs at the index or at any position reached in
// steps of step characters from it; compares through upper-case folding
// unless case_sensitive.
bool has_char(const Cell* s, uint32_t code_point, int32_t step, bool case_sensitive);
// True when the string at its index begins with the bytes of text (each byte
// a code point; a code point above 255 never matches).
bool starts_with_literal(const Cell* s, const char* text);

// --- Writing characters ---------------------------------------------------------------

// Appends one code point; a 1-byte buffer widens above 127.
SeriesBuffer* append_char(SeriesBuffer* buffer, uint32_t code_point);
// Writes a code point at a character offset from the head; at or past the
// tail it is appended (the buffer grows and the tail moves). A 1-byte buffer
// widens above 255.
SeriesBuffer* overwrite_char(SeriesBuffer* buffer, uint32_t offset, uint32_t code_point);
// Inserts a code point at a character offset from the head (clamped to the
// tail); the rest moves up one character. A 1-byte buffer widens above 255.
SeriesBuffer* insert_char(SeriesBuffer* buffer, uint32_t offset, uint32_t code_point);
// Stores a code point at a byte position of the buffer's data area (from the
// start of the data, head offset included), widening first when it does not
// fit (a 1-byte buffer widens above 255); the position is rebased after
// widening.
SeriesBuffer* poke_char(SeriesBuffer* buffer, uint32_t byte_position, uint32_t code_point);

// Removes one character, or count characters, at an offset from the index
// (nothing past the tail).
void remove_char(Cell* s, uint32_t offset);
void remove_part(Cell* s, uint32_t offset, uint32_t count);
// Cuts the tail to n characters from the head when the buffer holds more.
void truncate_to(SeriesBuffer* buffer, uint32_t n);

// Widens the buffer in place from unit `from` (its current unit) to `to`
// (2 or 4); nothing when to is not wider.
SeriesBuffer* convert_width(SeriesBuffer* buffer, uint32_t from, uint32_t to);
// Copies the source buffer's characters (head to tail), widened to unit
// (wider than the source's), into the target node's buffer, whose content
// they replace, or into a new node when target is 0. Returns the node.
NodeId widen_copy(const SeriesBuffer* source, NodeId target, uint32_t unit);

// --- Copying text between strings ----------------------------------------------------

enum class Concatenate : uint8_t {
  kAppend = 0,     // at the tail
  kInsert = 1,     // at the offset; the rest moves up
  kOverwrite = 2,  // from the offset; the tail moves only when the write passes it
};

// Copies the source's characters from its index (at most part when part >=
// 0) into the target, widening the target first when the source is wider;
// offset (from the target's head) is where kInsert and kOverwrite write. The
// source may be the target itself, or a symbol! record (read from its first
// character).
void concatenate(Cell* target, const Cell* source, int32_t part, uint32_t offset, Concatenate mode);
inline void concatenate_part(Cell* target, const Cell* source, int32_t part) {
  concatenate(target, source, part, 0, Concatenate::kAppend);
}
inline void concatenate_overwrite(Cell* target, const Cell* source, int32_t part, uint32_t offset) {
  concatenate(target, source, part, offset, Concatenate::kOverwrite);
}


// Moves count characters from the source at its index into the target at
// its index (the target widening as needed), then removes them from the
// source. The two may be different series of different units.
void insert_codepoints(Cell* source, Cell* target, uint32_t count);

// Exchanges two byte ranges of one buffer separated by a gap: [base, base +
// first_length), gap bytes, then second_length bytes. Afterwards the second
// range comes first, then the gap, then the first range.
void exchange_blocks(uint8_t* base, uint32_t first_length, uint32_t gap, uint32_t second_length);

// --- Hexadecimal --------------------------------------------------------------------------

// Two upper-case hexadecimal digits.
std::array<char, 2> byte_to_hex(uint8_t byte);
// Eight upper-case hexadecimal digits (negative numbers show their two's
// complement, so they are padded with "F"); with trim the leading zeros are
// dropped ("FF" for 255), and 0 gives "00".
std::string to_hex(int32_t value, bool trim);

// --- Matching, for parse ---------------------------------------------------------------

// True when the code point at the string's index is in the bitset; a code
// point beyond the bitset's bytes answers whether the bitset is complemented.
// False at the tail.
bool char_in_bitset(const Cell* s, const Cell* bitset);
// True when the string has "<" at its index and ">" just past a tag's text
// after it (at index + the tag's length + 1). Never reads past the tail.
bool tag_delimiters(const Cell* s, const Cell* tag);
// Matches one value at the string's index: a char! its code point (folded
// to upper case unless op is strict-equal), a tag! its text between angle
// brackets, a string-like value its text (compare_strings in match mode).
// Any other value does not match.
bool match_value(const Cell* s, const Cell* value, int32_t op);

// --- Comparison -----------------------------------------------------------------------------

// Compares the text of two string-like values (or symbol! records) from
// their indexes under a comparison operator code: 0 equal, -1 when the first
// sorts before, 1 after. Operators 2 (strict-equal) and 8 (case sort) are
// case-sensitive, every other folds to upper case. In match mode the second
// value is a key sought at the start of the first: 0 when the first begins
// with it.
int32_t compare_strings(const Cell* first, const Cell* second, int32_t op, bool match);

// --- Text output ------------------------------------------------------------------------------

// Appends one code point as mold writes it inside a string or char! literal:
// "^/" for a line feed, "^(1E)" for U+001E, every code point above 127 in
// "^(..)" form under /all ...
void mold_char(Cell* buffer, uint32_t code_point, bool all);


// --- Actions used directly by other code -----------------------------------------------

// Inserts (or appends, with at_tail) a value's text into the target as the
// append and insert actions do: part -1 for all, count the /dup count (1 for
// once). Returns the character position just past the inserted text.
uint32_t insert_value(Cell* target, const Cell* value, int32_t part, bool only, int32_t count,
                      bool at_tail);

// The worker of the set-operation natives (op: 8 unique, 9 union, 10
// intersect, 11 exclude, 12 difference): the new string replaces *first,
// which is returned. skip is the record size (1 for single characters).
Cell* do_set_op(Cell* first, Cell* second, bool case_sensitive, int32_t skip, int32_t op);

// User comparison functions of sort/compare are called by the evaluator,
// through the registration table's call_comparison entry (runtime/upcalls.h),
// which runs the function on two values and answers its result value.
// How sort reads a comparison function's result for the pair (a, b), the
// function having been called with b first: true 1 (b before a), false -1,
// an integer i gives -i, a float -1 above 0, 1 below, 0 otherwise (NaN
// included), none -1, any other value 1. Numbers read the other way round
// from a block's function (block::comparator_result).
int32_t comparator_result(const Cell& result);

// Registers string! (id 7, parent series!).
void init();

}  // namespace kel::string
