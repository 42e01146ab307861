// The cycle stack: recursive walks over blocks, parens, paths, hash!, map!
// and objects push the node of each container they enter, so that a
// container met again inside itself is shown as an ellipsis instead of being
// walked forever, and nesting deeper than 1000 is refused (internal too-deep).
//
// Walks hold an Entry for each container they enter: its destructor pops
// the entry whether the walk finishes or an error escapes it, so a stale
// entry can never make an innocent container print as "[...]" later.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::cycles {

constexpr uint32_t kCapacity = 1000;

// Pushes a node; the push that fills the stack empties it and raises
// internal too-deep.
void push(NodeId node);
void pop();
void pop_n(uint32_t n);
void reset();
bool find(NodeId node);
uint32_t size();

// The node a walk pushes for a value: the context of an object!, the series
// node of the series types.
NodeId node_of(const Cell& value);

// When the value's node is on the stack, appends the ellipsis text for the
// value to the string, subtracts its length from *remaining and answers true.
bool detect(const Cell& value, Cell* output, int32_t* remaining, bool mold);

// The ellipsis text detect() writes for a value.
const char* ellipsis(const Cell& value, bool mold);

// Forwards every node on the stack through a collector's forwarding function.
void mark(NodeId (*forward)(NodeId));

class Entry {
 public:
  explicit Entry(NodeId node) : depth_(size()) { push(node); }
  ~Entry() {
    if (size() > depth_) pop_n(size() - depth_);
  }
  Entry(const Entry&) = delete;
  Entry& operator=(const Entry&) = delete;

 private:
  uint32_t depth_;
};

}  // namespace kel::cycles
