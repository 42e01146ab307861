// integer!: the language's signed 32-bit integer. Cell: data2 the value.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kel::integer {

inline Cell make(int32_t value) { return make_cell(TYPE_INTEGER, 0, static_cast<uint32_t>(value)); }
inline int32_t get(const Cell& cell) { return cell.int_at2(); }

}  // namespace kel::integer
