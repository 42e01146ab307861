// The bodies the boot hands over to the functions the library makes.
//
// func, function, has and does copy the body they are given, so that the
// function's body is its own whatever else holds the block. The code of a
// library file, decoded or lexed just before it runs, is held by nothing
// but the boot while it runs and is dropped after, so the body written
// right after `func [interface]` in it is reachable only as that argument: the
// function may keep the block itself, bound in place, and the copy is
// saved. Only code run once qualifies: the file's top level, the body
// blocks of the objects made there (`context [...]`, `object [...]`,
// `make object! [...]`, `make system/view/VID [...]` when the path names an
// object before the file runs) and the blocks it runs with `do [...]`;
// each of those blocks, and a body, may also be written `bind [...] ctx`
// (bind gives its block back). A body inside another body, a loop, a
// branch or a block of data is left alone, since it may be run (or read)
// again.
//
// A marked block is handed over at most once (a second function given it
// copies it as usual), and only while the file that marked it runs: a block
// still marked afterwards is never handed over.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::boot {

// Marks the bodies of code that is about to run once, as above.
void mark_library_bodies(const Cell& code);

// Whether the block was marked and not yet handed over; true unmarks it.
bool hand_over_marked_body(NodeId block);

// Runs one library file's code with its bodies handed over: marks them,
// lets function::push take them while the guard lives, and forgets the
// marks after.
class LibraryBodies {
 public:
  explicit LibraryBodies(const Cell& code);
  ~LibraryBodies();
  LibraryBodies(const LibraryBodies&) = delete;
  LibraryBodies& operator=(const LibraryBodies&) = delete;
};

}  // namespace kel::boot
