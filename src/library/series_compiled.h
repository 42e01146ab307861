// Compiled body of rejoin (see compiled.h): a C++ routine that gives what
// the Kel body in series.kel gives for the blocks it is sure of, those whose
// values reduce without running anything (values that stand for themselves
// and words bound to such values) and join into a text: a first value that
// is a string, file, url, tag or email (copied) or no series at all
// (formed), and further values whose form runs no Kel code. Every other
// block (parens, paths, calls, operators, a word without a value, a first
// value that is a block or binary, a nested block) goes to the Kel body,
// so every error and every other result stays the Kel body's own.
#pragma once

namespace kel::series_compiled {

// rejoin block: the frame holds the block.
void rejoin();

}  // namespace kel::series_compiled
