// The path family: path! (a/b/1), lit-path! ('a/b), set-path! (a/b:) and
// get-path! (:a/b), sequences of values written with slashes.
//
// They keep the block cell and buffer (type ids 25 to 28) and inherit the
// block actions, except sort, random and trim. path! adds make, to, form,
// mold and copy, which its three children inherit; each child has its own
// mold, the path mold with its prefix or suffix. New-line markers inside a
// path are never rendered. Evaluating a path belongs to the interpreter,
// which hands each element to the eval-path action of the value reached.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kel::path {

// Pushes a copy of the cell on the evaluation stack, typed path!.
Cell* push(const Cell& cell);
// Makes the cell an empty path! with room for capacity cells; answers it.
Cell* make_at(Cell* cell, int32_t capacity);

Cell* make(Cell* proto, Cell* spec, TypeId type);
Cell* to(Cell* proto, Cell* spec, TypeId type);
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);
Cell* copy(Cell* value, Cell* result, int part, int deep, int types);

// Registers path! (id 25, parent block!).
void init();

}  // namespace kel::path

namespace kel::lit_path {
Cell* push(const Cell& cell);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);
// Registers lit-path! (id 26, parent path!).
void init();
}  // namespace kel::lit_path

namespace kel::set_path {
Cell* push(const Cell& cell);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);
// Registers set-path! (id 27, parent path!).
void init();
}  // namespace kel::set_path

namespace kel::get_path {
Cell* push(const Cell& cell);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);
// Registers get-path! (id 28, parent path!).
void init();
}  // namespace kel::get_path
