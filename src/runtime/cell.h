// The value cell: every Kel value is one 16-byte cell of four 32-bit words.
//
//   word 0  header  bits 0-7 datatype id, bits 8-31 flags
//   word 1  data1   by type: series head index, word context node, logic 0/1,
//                   the id a datatype! names ...
//   word 2  data2   by type: series node, word symbol id, integer value, char
//                   code point, low half of a double
//   word 3  data3   by type: series extra (0 for a new block or string), word
//                   index in its context (-1 unresolved), high half of a double
//
// Cells are copied whole and never hold a machine address: series and
// contexts are reached through 32-bit node ids (memory.h), so buffers can
// move under the collector without touching the cells that refer to them.
// A fresh cell is unset!.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kel {

// The datatype ids, fixed numbers shared by the runtime, the lexer, the
// serializer and the collector. symbol!, context! and series! are internal
// (no global word). X(id, identifier, name).
#define KEL_DATATYPES(X)            \
  X(1, DATATYPE, "datatype!")       \
  X(2, UNSET, "unset!")             \
  X(3, NONE, "none!")               \
  X(4, LOGIC, "logic!")             \
  X(5, BLOCK, "block!")             \
  X(6, PAREN, "paren!")             \
  X(7, STRING, "string!")           \
  X(8, FILE, "file!")               \
  X(9, URL, "url!")                 \
  X(10, CHAR, "char!")              \
  X(11, INTEGER, "integer!")        \
  X(12, FLOAT, "float!")            \
  X(13, SYMBOL, "symbol!")          \
  X(14, CONTEXT, "context!")        \
  X(15, WORD, "word!")              \
  X(16, SET_WORD, "set-word!")      \
  X(17, LIT_WORD, "lit-word!")      \
  X(18, GET_WORD, "get-word!")      \
  X(19, REFINEMENT, "refinement!")  \
  X(20, ISSUE, "issue!")            \
  X(21, NATIVE, "native!")          \
  X(22, ACTION, "action!")          \
  X(23, OP, "op!")                  \
  X(24, FUNCTION, "function!")      \
  X(25, PATH, "path!")              \
  X(26, LIT_PATH, "lit-path!")      \
  X(27, SET_PATH, "set-path!")      \
  X(28, GET_PATH, "get-path!")      \
  X(29, ROUTINE, "routine!")        \
  X(30, BITSET, "bitset!")          \
  X(31, TRIPLE, "triple!")          \
  X(32, OBJECT, "object!")          \
  X(33, TYPESET, "typeset!")        \
  X(34, ERROR, "error!")            \
  X(35, VECTOR, "vector!")          \
  X(36, HASH, "hash!")              \
  X(37, PAIR, "pair!")              \
  X(38, PERCENT, "percent!")        \
  X(39, TUPLE, "tuple!")            \
  X(40, MAP, "map!")                \
  X(41, BINARY, "binary!")          \
  X(42, SERIES, "series!")          \
  X(43, TIME, "time!")              \
  X(44, TAG, "tag!")                \
  X(45, EMAIL, "email!")            \
  X(46, HANDLE, "handle!")          \
  X(47, DATE, "date!")              \
  X(48, PORT, "port!")              \
  X(49, MONEY, "money!")            \
  X(50, REF, "ref!")                \
  X(51, POINT2D, "point2D!")        \
  X(52, POINT3D, "point3D!")        \
  X(53, IMAGE, "image!")            \
  X(54, EVENT, "event!")

using TypeId = uint32_t;

enum : TypeId {
  TYPE_VALUE = 0,  // "no type": a cell never assigned (only seen in raw buffers)
#define KEL_TYPE_ENUM(id, name, text) TYPE_##name = id,
  KEL_DATATYPES(KEL_TYPE_ENUM)
#undef KEL_TYPE_ENUM
};

constexpr TypeId kTypeCount = 54;  // highest datatype id
#define KEL_TYPE_COUNT(id, name, text) +1
static_assert(0 KEL_DATATYPES(KEL_TYPE_COUNT) == kTypeCount, "datatype table out of step");
#undef KEL_TYPE_COUNT

// Header flags that the runtime core reads. Datatypes define their own above
// bit 8 in their files; these are the shared ones.
namespace flags {
constexpr uint32_t kTypeMask = 0x000000FF;
constexpr uint32_t kNewLine = 0x40000000;       // value starts a new line when molded
constexpr uint32_t kStackValues = 0x00400000;   // context: values live on the evaluation stack
constexpr uint32_t kContextKindMask = 0x00001800; // context cell: kind in bits 11-12
constexpr uint32_t kFieldSet = 0x00002000;      // object field word: field was assigned
constexpr uint32_t kOpTypeMask = 0x00FF0000;    // op!: type id of the wrapped function
}  // namespace flags

struct Cell {
  uint32_t header;
  uint32_t data1;
  uint32_t data2;
  uint32_t data3;

  TypeId type() const { return header & flags::kTypeMask; }
  bool is(TypeId t) const { return type() == t; }

  // Replaces the type byte, keeping the flags (the runtime's set-type).
  Cell& set_type(TypeId t) {
    header = (header & ~flags::kTypeMask) | t;
    return *this;
  }
  bool new_line() const { return (header & flags::kNewLine) != 0; }
  void set_new_line(bool on) {
    header = on ? (header | flags::kNewLine) : (header & ~flags::kNewLine);
  }

  // Typed views of the payload. A double spans data2 (low half) and data3
  // (high half); memcpy keeps the access well defined.
  int32_t int_at2() const { return static_cast<int32_t>(data2); }
  double as_double() const {
    double d;
    std::memcpy(&d, &data2, sizeof d);
    return d;
  }
  void set_double(double d) { std::memcpy(&data2, &d, sizeof d); }
};

static_assert(sizeof(Cell) == 16, "the value cell is four 32-bit words");
static_assert(offsetof(Cell, data2) + 4 == offsetof(Cell, data3), "double halves are adjacent");

// A cell of the given type with all data words zero.
inline Cell make_cell(TypeId type, uint32_t d1 = 0, uint32_t d2 = 0, uint32_t d3 = 0) {
  return Cell{type, d1, d2, d3};
}

// Copies the four words (the runtime's copy-cell); nothing when both are the
// same cell. Returns the destination.
inline Cell* copy_cell(const Cell* source, Cell* destination) {
  if (source != destination) *destination = *source;
  return destination;
}

inline void clear_new_line(Cell* cell) { cell->header &= ~flags::kNewLine; }

// The datatype's name ("block!") by id, or nullptr for an id outside 1..54.
const char* datatype_name(TypeId id);

}  // namespace kel
