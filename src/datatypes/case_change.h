// Changing the case of a value in place: the series side of case folding
// (runtime/case_folding.h maps single code points), for `uppercase` and
// `lowercase`. The owner of a changed series hears of the change.
#pragma once

#include "runtime/cell.h"

namespace kel::case_folding {

// Changes the case of a char! cell's code point, or of the characters of a
// string-like series from its index, in place, and returns the value. An
// index past the tail is first moved to the tail. part limits the count:
// null for "to the tail", an integer! count (negative counts as 0), or a
// series of the value's type and buffer whose index ends the range; any other
// part raises script invalid-refine-arg. The count never reaches past the
// tail. A string widens its unit when a new code point needs it.
Cell* change_case(Cell* value, const Cell* part, bool upper);

}  // namespace kel::case_folding
