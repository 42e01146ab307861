// error!: the value that describes a failure: its catalog id and up to three
// argument values.
//
// Cell: type 34; data1 the catalog id; data2 the node of a three-cell block
// holding arg1..arg3 (none when absent). The error! datatype proper (an
// object with code, type, id, the arguments, near, where and stack fields)
// builds on this when objects exist; the C++ interface below stays.
#pragma once

#include <string>

#include "runtime/cell.h"
#include "runtime/errors.h"

namespace kel::error_value {

// Makes an error of the catalog id with up to three argument values.
Cell create(ErrorId id, const Cell* arg1, const Cell* arg2, const Cell* arg3);
ErrorId id_of(const Cell& error);
// Argument n (1..3); none when absent.
Cell argument(const Cell& error, int n);

// The error's text as the console prints it: "*** <category title>: " and
// the message with the arguments formed in place, then the "*** Where: "
// and "*** Near : " lines.
std::string form_text(const Cell& error);
// Just the message with its arguments filled in.
std::string message_text(const Cell& error);

// The word of the call being made (for expect-arg and friends).
Cell call_word();
// The word of the call's argument at a 0-based index.
Cell call_argument_word(int index);

}  // namespace kel::error_value
