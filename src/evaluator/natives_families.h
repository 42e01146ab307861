// The families of natives. Each family keeps its entries in a file of its
// own and installs them in the native table (natives::install) from one init
// function, which the runtime initialisation calls before the boot
// environment binds the native words; each family's specs live in
// src/boot/natives-<family>.kel. A family adds its declarations here and
// nothing else.
#pragma once

#include "runtime/cell.h"

// Conditionals and loops: if unless either any all while until loop repeat
// forever switch case.
namespace kel::natives_control {
void init();
// A float! loop count becomes an integer! in place, truncated toward zero
// (clamped to the 32-bit range, NaN counting as 0); other cells are left
// alone.
void coerce_count(Cell* count);
}  // namespace kel::natives_control

// Leaving a computation early and guarded evaluation: try break continue
// exit return throw catch.
namespace kel::natives_exits {
void init();
}  // namespace kel::natives_exits

// A call whose arguments come from a block: apply.
namespace kel::natives_apply {
void init();
}  // namespace kel::natives_apply

// Text to values through the lexer: transcode; its init installs the
// lexer's callback bridge.
namespace kel::natives_transcode {
void init();
}  // namespace kel::natives_transcode

// Comparison, logic and set natives: equal? not-equal? strict-equal?
// lesser? greater? lesser-or-equal? greater-or-equal? same? not union
// intersect unique difference exclude complement? max min.
namespace kel::natives_compare {
void init();
}  // namespace kel::natives_compare

// Function makers and evaluation natives: func function does has do get set
// print prin type? reduce compose stats bind in, and the entry of parse.
namespace kel::natives_eval {
void init();
// Whether the text of the last print or prin ended with a line feed (the
// console asks before it shows its prompt).
bool last_line_feed();
}  // namespace kel::natives_eval

// Series iteration: foreach forall remove-each.
namespace kel::natives_series {
void init();
}  // namespace kel::natives_series

// Math and encoding natives: negative? positive? sign? zero? NaN? shift
// to-hex sine cosine tangent arcsine arccosine arctangent arctangent2 log-2
// log-10 log-e exp dehex enhex debase enbase size?.
namespace kel::natives_math {
void init();
}  // namespace kel::natives_math

// Value natives: square-root construct value? uppercase lowercase as-pair
// as-point2D as-point3D as-money extend unset new-line new-line? context? as.
namespace kel::natives_values {
void init();
}  // namespace kel::natives_values

// System natives: to-local-file wait checksum set-env get-env list-env now
// browse recycle. Its init also interns the checksum method words.
namespace kel::natives_system {
void init();
}  // namespace kel::natives_system

// Compression natives: compress decompress. Its init also interns the
// method words (zlib deflate gzip).
namespace kel::natives_compression {
void init();
}  // namespace kel::natives_compression

// Child processes: call.
namespace kel::natives_process {
void init();
}  // namespace kel::natives_process
