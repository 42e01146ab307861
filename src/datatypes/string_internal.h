// Helpers shared by the files of string! (string.cpp, string_output.cpp,
// string_actions.cpp, string_sort.cpp); not for other datatypes.
//
// Each helper that may allocate takes and returns a SeriesBuffer*, and the
// caller continues with the returned one. Characters are counted in the
// buffer's own unit; "position" is a character offset from the head.
#pragma once

#include <cstdint>

#include "datatypes/string.h"
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::string {

// The action handlers of string! (signatures of action_slots.h); init()
// registers them.
Cell* make(Cell* proto, Cell* spec, TypeId type);
Cell* to(Cell* proto, Cell* spec, TypeId type);
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item,
                int32_t index, bool case_sensitive, bool get, bool tail);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
Cell* append(Cell* series, Cell* value, int part, int only, int dup);
Cell* insert(Cell* series, Cell* value, int part, int only, int dup);
Cell* change(Cell* series, Cell* value, int part, int only, int dup);
Cell* find(Cell* series, Cell* value, int part, int only, int case_sensitive, int same, int any,
           int with, int skip, int last, int reverse, int tail, int match);
Cell* select(Cell* series, Cell* value, int part, int only, int case_sensitive, int same, int any,
             int with, int skip, int last, int reverse);
Cell* sort(Cell* series, int case_sensitive, int skip, int compare, int part, int all, int reverse,
           int stable);
Cell* swap(Cell* series1, Cell* series2);
Cell* take(Cell* series, int part, int deep, int last);
Cell* trim(Cell* series, int head, int tail, int automatic, int lines, int all, int with);

}  // namespace kel::string

namespace kel::string::detail {

// The part limit that form and mold receive when no /part is in force.
constexpr int32_t kNoPartLimit = 0x7FFFFFFF;

// A search as find and select make it: the refinements decoded.
struct Search {
  int32_t part = -1;          // frame index of the /part argument, -1 when absent
  bool case_sensitive = false;
  bool any = false;
  bool with = false;
  int32_t skip = -1;          // frame index of the /skip argument
  bool last = false;
  bool reverse = false;
  bool match = false;
};
// Where a search found its key: the character position of the match and the
// number of characters the match covers (the whole key for a substring, one
// for a character, a bitset member or a number), or position -1 when
// nothing was found.
struct Found {
  int64_t position = -1;
  uint32_t length = 0;
};
Found search(const Cell* series, const Cell* value, const Search& options);

// The element at a position as a value: a char! for text, an integer! byte
// for binary!, a value of the element type for vector!.
Cell element_value(const Cell* series, uint32_t position);

// checked_unit (the unit of a string buffer, checked) is in
// runtime/string_buffer.h.
inline uint32_t length_from_head(const SeriesBuffer* buffer) {
  return buffer->used() / checked_unit(buffer);
}
// The element size of any series that inherits from string!: a vector!'s
// elements may also be 8 bytes wide (64-bit floats); text units are checked.
uint32_t element_unit(const Cell* series);
inline uint32_t elements_from_head(const Cell* series) {
  return memory::buffer_of(series->data2)->used() / element_unit(series);
}

// Makes room for extra bytes past the tail (growing to at least twice the
// capacity); internal no-memory past the 32-bit range.
SeriesBuffer* reserve(SeriesBuffer* buffer, uint64_t extra_bytes);
// Widens the buffer to unit when it is narrower.
SeriesBuffer* widen_to(SeriesBuffer* buffer, uint32_t unit);
// Opens count characters of room at position (clamped to the tail): the
// rest moves up and the tail with it. The room's content is undefined.
SeriesBuffer* open_gap(SeriesBuffer* buffer, uint32_t position, uint32_t count);
// Copies count code points between two unit widths (the destination at
// least as wide as every code point copied). Ranges may overlap only when
// the units are equal.
void copy_chars(uint8_t* destination, uint32_t destination_unit, const uint8_t* source,
                uint32_t source_unit, uint32_t count);
// Pushes a new string of the source's unit holding count characters of the
// source from an absolute position; its type is type.
Cell* push_copy(const Cell* source, uint32_t position, uint32_t count, TypeId type);

// Upper-case folding as comparisons use it.
uint32_t fold(uint32_t code_point);

// The whitespace of trim/lines and of the trimmed ends: code points 1-32,
// U+0085, U+00A0, U+1680, U+180E, U+2000-U+200A, U+2028, U+2029, U+202F,
// U+205F, U+3000.
bool is_whitespace(uint32_t code_point);
// The blanks that trimming drops inside lines: space, tab and the Unicode
// spaces of that set, but no line or paragraph separator.
bool is_blank(uint32_t code_point);

// The length of a series' part argument, as the search and sort actions
// take it: an integer! count, or a position in the same series (its index
// less the series' index); any other value raises script invalid-refine-arg
// with the word part.
int32_t part_count(const Cell* series, const Cell* part);
// Raises script invalid-refine-arg naming a refinement (part, skip,
// compare) and the value given to it.
enum class Refinement : uint8_t { kPart, kSkip, kCompare };
[[noreturn]] void bad_refinement_argument(Refinement refinement, const Cell* value);

// The frame's argument cell of a refinement given as its frame index.
Cell* refinement_argument(int index);

}  // namespace kel::string::detail
