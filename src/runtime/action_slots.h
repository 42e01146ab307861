// The 62 action slots of the datatype action table, declared once with the
// signature of their handlers.
//
// X(slot, identifier, "word", handler signature). Slots 7, 8 and 9 have no
// word of their own: path evaluation reaches slot 7 and the comparison
// natives slot 9; slot 8 holds no entry.
//
// Handler conventions:
// - Argument cells come first, in spec order (they live on the evaluation
//   stack; the first is also the frame's result cell).
// - Each refinement arrives as one plain integer: -1 when absent, otherwise
//   the frame index of its first argument cell (any value but -1 for a
//   refinement without arguments).
// - form and mold take the value, the output string, the /part argument cell
//   (or null) and the part limit left; they append their text and return
//   the limit less the characters written (negative once passed). mold also
//   takes /only, /all, /flat and the indentation depth.
// - compare takes two values and an operator code and answers 0 (equal),
//   negative (first sorts before), positive, or -2 (not comparable).
// - The arithmetic, bitwise and index actions whose entries find the handler
//   themselves (add ... xor~, at, back, head, head?, index?, next, skip, tail,
//   tail?) take no arguments: they read the current frame.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kel {

#define KEL_ACTIONS(X)                                                                        \
  X(1, make, "make", Cell*(Cell * proto, Cell * spec, TypeId type))                           \
  X(2, random, "random", Cell*(Cell * value, int seed, int secure, int only))                 \
  X(3, reflect, "reflect", Cell*(Cell * value, int field))                                    \
  X(4, to, "to", Cell*(Cell * proto, Cell * spec, TypeId type))                               \
  X(5, form, "form", int32_t(Cell * value, Cell * buffer, Cell * arg, int32_t part))          \
  X(6, mold, "mold",                                                                          \
    int32_t(Cell * value, Cell * buffer, bool only, bool all, bool flat, Cell * arg,          \
            int32_t part, int32_t indent))                                                    \
  X(7, eval_path, nullptr,                                                                    \
    Cell*(Cell * parent, Cell * element, Cell * value, Cell * path, Cell * gparent,           \
          Cell * p_item, int32_t index, bool case_sensitive, bool get, bool tail))            \
  X(8, set_path, nullptr, Cell*(Cell * parent, Cell * element, Cell * value, Cell * path))    \
  X(9, compare, nullptr, int32_t(Cell * value1, Cell * value2, int32_t op))                   \
  X(10, absolute, "absolute", Cell*())                                                        \
  X(11, add, "add", Cell*())                                                                  \
  X(12, divide, "divide", Cell*())                                                            \
  X(13, multiply, "multiply", Cell*())                                                        \
  X(14, negate, "negate", Cell*(Cell * number))                                               \
  X(15, power, "power", Cell*())                                                              \
  X(16, remainder, "remainder", Cell*())                                                      \
  X(17, round, "round",                                                                       \
    Cell*(Cell * value, int to, int even, int down, int half_down, int floor, int ceiling,    \
          int half_ceiling))                                                                  \
  X(18, subtract, "subtract", Cell*())                                                        \
  X(19, even_q, "even?", Cell*(Cell * number))                                                \
  X(20, odd_q, "odd?", Cell*(Cell * number))                                                  \
  X(21, and_t, "and~", Cell*())                                                               \
  X(22, complement, "complement", Cell*(Cell * value))                                        \
  X(23, or_t, "or~", Cell*())                                                                 \
  X(24, xor_t, "xor~", Cell*())                                                               \
  X(25, append, "append", Cell*(Cell * series, Cell * value, int part, int only, int dup))    \
  X(26, at, "at", Cell*())                                                                    \
  X(27, back, "back", Cell*())                                                                \
  X(28, change, "change", Cell*(Cell * series, Cell * value, int part, int only, int dup))    \
  X(29, clear, "clear", Cell*(Cell * series))                                                 \
  X(30, copy, "copy", Cell*(Cell * value, Cell * result, int part, int deep, int types))      \
  X(31, find, "find",                                                                         \
    Cell*(Cell * series, Cell * value, int part, int only, int case_sensitive, int same,      \
          int any, int with, int skip, int last, int reverse, int tail, int match))           \
  X(32, head, "head", Cell*())                                                                \
  X(33, head_q, "head?", Cell*())                                                             \
  X(34, index_q, "index?", Cell*())                                                           \
  X(35, insert, "insert", Cell*(Cell * series, Cell * value, int part, int only, int dup))    \
  X(36, length_q, "length?", int32_t(Cell * series))                                          \
  X(37, move, "move", Cell*(Cell * origin, Cell * target, int part))                          \
  X(38, next, "next", Cell*())                                                                \
  X(39, pick, "pick", Cell*(Cell * series, int32_t index, Cell * boxed))                      \
  X(40, poke, "poke", Cell*(Cell * series, int32_t index, Cell * data, Cell * boxed))         \
  X(41, put, "put", Cell*(Cell * series, Cell * key, Cell * value, int case_sensitive))       \
  X(42, remove, "remove", Cell*(Cell * series, int part, int key))                            \
  X(43, reverse, "reverse", Cell*(Cell * series, int part, int skip))                         \
  X(44, select, "select",                                                                     \
    Cell*(Cell * series, Cell * value, int part, int only, int case_sensitive, int same,      \
          int any, int with, int skip, int last, int reverse))                                \
  X(45, sort, "sort",                                                                         \
    Cell*(Cell * series, int case_sensitive, int skip, int compare, int part, int all,        \
          int reverse, int stable))                                                           \
  X(46, skip, "skip", Cell*())                                                                \
  X(47, swap, "swap", Cell*(Cell * series1, Cell * series2))                                  \
  X(48, tail, "tail", Cell*())                                                                \
  X(49, tail_q, "tail?", Cell*())                                                             \
  X(50, take, "take", Cell*(Cell * series, int part, int deep, int last))                     \
  X(51, trim, "trim",                                                                         \
    Cell*(Cell * series, int head, int tail, int automatic, int lines, int all, int with))    \
  X(52, create, "create", Cell*(Cell * port))                                                 \
  X(53, close, "close", Cell*(Cell * port))                                                   \
  X(54, delete_, "delete", Cell*(Cell * file))                                                \
  X(55, modify, "modify", Cell*(Cell * target, Cell * field, Cell * value, int case_sensitive)) \
  X(56, open, "open", Cell*(Cell * port, int new_, int read, int write, int seek, int allow))  \
  X(57, open_q, "open?", Cell*(Cell * port))                                                  \
  X(58, query, "query", Cell*(Cell * target))                                                 \
  X(59, read, "read",                                                                         \
    Cell*(Cell * source, int part, int seek, int binary, int lines, int info, int as))        \
  X(60, rename, "rename", Cell*(Cell * from, Cell * to))                                      \
  X(61, update, "update", Cell*(Cell * port))                                                 \
  X(62, write, "write",                                                                       \
    Cell*(Cell * destination, Cell * data, int binary, int lines, int info, int append,       \
          int part, int seek, int allow, int as))

constexpr int kActionCount = 62;

enum class Action : uint8_t {
#define KEL_ACTION_ENUM(slot, ident, word, signature) ident = slot,
  KEL_ACTIONS(KEL_ACTION_ENUM)
#undef KEL_ACTION_ENUM
};

#define KEL_ACTION_COUNT(slot, ident, word, signature) +1
static_assert(0 KEL_ACTIONS(KEL_ACTION_COUNT) == kActionCount, "the action table has 62 slots");
#undef KEL_ACTION_COUNT

// The handler type of each slot: ActionHandler<Action::form> is the
// function pointer type of a form handler.
template <Action A>
struct ActionTraits;
#define KEL_ACTION_TRAITS(slot, ident, word, signature) \
  template <>                                           \
  struct ActionTraits<Action::ident> {                  \
    using Function = signature;                         \
  };
KEL_ACTIONS(KEL_ACTION_TRAITS)
#undef KEL_ACTION_TRAITS

template <Action A>
using ActionHandler = typename ActionTraits<A>::Function*;

// Comparison operator codes passed to every compare handler.
enum CompareOp : int32_t {
  kCmpEqual = 0,
  kCmpNotEqual = 1,
  kCmpStrictEqual = 2,
  kCmpLesser = 3,
  kCmpLesserOrEqual = 4,
  kCmpGreater = 5,
  kCmpGreaterOrEqual = 6,
  kCmpSort = 7,
  kCmpCaseSort = 8,
  kCmpSame = 9,
  kCmpStrictWord = 10,
  kCmpWord = 11,
  kCmpFind = 12,
};
// A compare handler's answer for values that cannot be compared.
constexpr int32_t kNotComparable = -2;

// The equality operators that every value answers (=, <>, ==, same?, find).
constexpr bool is_plain_equality(int32_t op) {
  return op == kCmpEqual || op == kCmpNotEqual || op == kCmpStrictEqual || op == kCmpSame ||
         op == kCmpFind;
}
// The same, plus the two sort orders (types that sort but have no < or >).
constexpr bool is_equality_or_sort(int32_t op) {
  return is_plain_equality(op) || op == kCmpSort || op == kCmpCaseSort;
}

// The word of an action slot ("make"), or nullptr for slots 7, 8 and 9.
const char* action_word(Action action);

}  // namespace kel
