// The garbage collector: precise mark and compact over the memory manager.
//
// Marking sets the mark bit of every series buffer reachable from the roots.
// A node reached for the first time is marked and, when its buffer holds
// value cells (unit 16), queued on an explicit mark stack, so nesting of any
// depth costs heap, never C++ stack. The cells of a queued buffer are then
// read one by one: each datatype's cell names the nodes it refers to (the
// table in collector.cpp). Sweeping frees what stayed unmarked (nodes, big
// buffers, heap buffers, resources) and compaction slides the live buffers
// of each series frame together; node ids never change, only the addresses
// in the node slots.
//
// Roots are precise and explicit: the symbol table, the root block, the
// evaluation stack and its frames, the slot pool, registered global cells,
// the cells that C++ code holds through Root guards, and what the layers
// above hold (the global context, the running scans' values, the parse
// engines' values), which the collector reaches through the entries of the
// registration table (upcalls.h) that those layers fill.
//
// Collections run only at safe points, where every live value is reachable
// from the roots: the interpreter's expression boundaries and loop
// iterations, and recycle. An allocation that finds no room grows the heap
// and requests a collection for the next safe point.
//
// Stress settings, from KEL_GC_STRESS in the environment:
//   KEL_GC_STRESS=1         every safe point collects and compacts, and freed
//                           space is poisoned, so a stale pointer into a
//                           moved buffer reads garbage;
//   KEL_GC_STRESS=evacuate  every safe point collects and moves every
//                           unpinned buffer to fresh memory, making the
//                           memory it left inaccessible (until the
//                           evacuation ring comes round again, see
//                           memory.cpp), so a raw pointer kept across a
//                           call that may evaluate faults at its next use.
// Under both, a buffer that a growth abandons is poisoned at once.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::collector {

void init();

// The enable word: collections happen only while it is on. The boot turns
// it on once the environment is built.
bool enabled();
void set_enabled(bool on);
// True while a cycle runs.
bool active();
// How collections are stressed (see above). Tests may set it.
enum class StressMode { kOff, kCompact, kEvacuate };
StressMode stress_mode();
void set_stress_mode(StressMode mode);
// True under either stress setting.
bool stress();
uint32_t cycle_count();

// Runs one cycle when collections are enabled.
void collect();
// A safe point: collects when a collection was requested (or always under
// stress).
inline void safe_point();

// --- Marking, for the layers above ---------------------------------------------------------
// Marks a node's buffer (queuing its cells when it holds values); true
// when it was not marked before. Node 0 and free nodes are ignored.
bool mark_node(NodeId node);
// Marks what a value refers to.
void mark_value(const Cell& cell);
void mark_values(const Cell* first, const Cell* last);
bool is_marked(NodeId node);

using Hook = void (*)();
// Runs after marking, before anything is freed: tables that drop entries
// whose keys were not marked (the owner table, the resource table).
void add_sweep_hook(Hook hook);
// Runs while the roots are marked: a layer above marks the values it holds
// outside the collected heap (the GUI's widgets, windows and timers), with
// mark_value.
void add_mark_hook(Hook hook);

// A global cell that lives for the process (a module's scratch value):
// marked at every cycle.
void add_global_root(Cell* cell);

// A cell that C++ code holds across a call that may collect. Guards nest
// strictly (last made, first gone).
class Root {
 public:
  explicit Root(Cell* cell) : cell_(cell), previous_(innermost) { innermost = this; }
  ~Root() { innermost = previous_; }
  Root(const Root&) = delete;
  Root& operator=(const Root&) = delete;

  // The guards form a chain from the innermost one (collector.cpp walks it).
  static Root* innermost;
  Cell* cell_;
  Root* previous_;
};

// Turns collections off for a scope (code that keeps raw buffer addresses
// across allocations) and back to what they were.
class Pause {
 public:
  Pause();
  ~Pause();
  Pause(const Pause&) = delete;
  Pause& operator=(const Pause&) = delete;

 private:
  bool was_enabled_;
};

// Figures of the last cycle and of all cycles.
struct Statistics {
  uint32_t cycles;
  uint64_t freed_buffers;   // in the last cycle
  uint64_t freed_bytes;     // in the last cycle
  uint64_t moved_bytes;     // in the last cycle
};
Statistics statistics();

namespace detail {
extern bool collect_at_every_safe_point;
}

inline void safe_point() {
  if (memory::collection_requested || detail::collect_at_every_safe_point) collect();
}

}  // namespace kel::collector
