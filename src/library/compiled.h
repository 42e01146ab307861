// Compiled bodies of library functions: C++ routines that do exactly what
// the Kel body of a hot library function does (first, second ... last,
// empty?), the way the library's compiled code did. The function! value
// keeps its Kel body for reflection (body-of, source, help); its info cell
// of compiled code holds the index of the routine here, and a call runs the
// routine on the function's frame instead of evaluating the body.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/cell.h"

namespace kel::compiled {

// A compiled body: reads the function's arguments from the current frame
// and leaves the result in its first cell.
using Body = void (*)();

// Attaches the compiled bodies to the library functions by name (after the
// boot has defined them).
void attach();

// The routine of an index stored in a function's info block, or null.
Body body(int32_t index);

// Called by a routine that leaves its call to the Kel body (an input it
// does not handle itself): runs the body of the routine's function on the
// current frame, which must still hold the call's arguments, and leaves its
// result (or its error) as the call's.
void run_kel_body();
// The function value of the routine running now.
const Cell& running_function();

// Text that a routine writes: ASCII in one byte a character until the
// first other character, which widens it to code points. make() puts it in
// a new string! (room for at least capacity characters), in the unit
// appends would have left: 1 for ASCII, 2 up to U+FFFF, else 4.
class TextBuffer {
 public:
  void push_back(char32_t c) {
    if (!wide_ && c <= 0x7F) narrow_.push_back(static_cast<char>(c));
    else push_wide(c);
  }
  void append(const std::u32string& text) {
    for (char32_t c : text) push_back(c);
  }
  void make(Cell* cell, uint32_t capacity) const;

 private:
  void push_wide(char32_t c);
  std::string narrow_;
  std::u32string wide_text_;
  bool wide_ = false;
};

}  // namespace kel::compiled
