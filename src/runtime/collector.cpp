// The garbage collector (see collector.h).
#include "runtime/collector.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "runtime/stack.h"
#include "runtime/symbol_table.h"
#include "runtime/upcalls.h"
#include "runtime/values_reference.h"
#include "runtime/hash_table.h"
#include "runtime/resource_table.h"
#include "runtime/runtime.h"
#include "runtime/slot_pool.h"
#include "runtime/root_block.h"

namespace kel::collector {

namespace detail {
bool collect_at_every_safe_point = false;
}

namespace {
StressMode stress_setting = StressMode::kOff;
bool enable_word = false;
bool running = false;
uint32_t cycles = 0;
Statistics last{};
std::vector<NodeId> mark_stack;
std::vector<Hook> sweep_hooks;
std::vector<Hook> mark_hooks;
std::vector<Cell*> global_roots;

void mark_table(NodeId table) {
  if (table == 0) return;
  hash_table::mark(table, [](NodeId n) { mark_node(n); });
}

// The context cell of a context series: its word table, its values (unless
// they live on the stack) and the context itself.
void mark_context_cell(const Cell& cell) {
  mark_table(cell.data1);
  if ((cell.header & flags::kStackValues) == 0) mark_node(cell.data2);
  mark_node(cell.data3);
}

// Reads the cells of every queued buffer until the stack is empty.
void drain() {
  while (!mark_stack.empty()) {
    NodeId node = mark_stack.back();
    mark_stack.pop_back();
    SeriesBuffer* b = memory::buffer_of(node);
    // Index-based: marking never allocates series, so the buffer stays put.
    uint32_t count = b->cell_count();
    const Cell* cells = b->cells();
    for (uint32_t i = 0; i < count; ++i) mark_value(cells[i]);
  }
}
}  // namespace

void init() {
  add_sweep_hook([] { resource_table::sweep(); });
  const char* stress = std::getenv("KEL_GC_STRESS");
  if (stress == nullptr) set_stress_mode(StressMode::kOff);
  else if (std::strcmp(stress, "evacuate") == 0) set_stress_mode(StressMode::kEvacuate);
  else set_stress_mode(stress[0] == '1' ? StressMode::kCompact : StressMode::kOff);
}

StressMode stress_mode() { return stress_setting; }

void set_stress_mode(StressMode mode) {
  stress_setting = mode;
  detail::collect_at_every_safe_point = mode != StressMode::kOff;
  memory::set_stress(mode != StressMode::kOff, mode == StressMode::kEvacuate);
}

bool enabled() { return enable_word; }
void set_enabled(bool on) { enable_word = on; }
bool active() { return running; }
bool stress() { return stress_setting != StressMode::kOff; }
uint32_t cycle_count() { return cycles; }
Statistics statistics() { return last; }

bool is_marked(NodeId node) {
  if (node == 0 || memory::node_is_free(node)) return false;
  SeriesBuffer* b = memory::buffer_of(node);
  return b != nullptr && (b->flags & series_flags::kMark) != 0;
}

bool mark_node(NodeId node) {
  if (node == 0 || memory::node_is_free(node)) return false;
  SeriesBuffer* b = memory::buffer_of(node);
  if (b == nullptr || (b->flags & series_flags::kMark)) return false;
  b->flags |= series_flags::kMark;
  if (b->unit() == sizeof(Cell)) mark_stack.push_back(node);
  return true;
}

void mark_value(const Cell& cell) {
  switch (cell.type()) {
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_PATH:
    case TYPE_LIT_PATH:
    case TYPE_SET_PATH:
    case TYPE_GET_PATH:
    case TYPE_STRING:
    case TYPE_FILE:
    case TYPE_URL:
    case TYPE_TAG:
    case TYPE_EMAIL:
    case TYPE_REF:
    case TYPE_BINARY:
    case TYPE_VECTOR:
    case TYPE_BITSET:
    case TYPE_IMAGE:
      mark_node(cell.data2);
      break;
    case TYPE_HASH:
    case TYPE_MAP:
      mark_node(cell.data2);
      mark_table(cell.data3);
      break;
    case TYPE_SYMBOL:
      mark_node(cell.data2);
      mark_node(cell.data3);
      break;
    case TYPE_CONTEXT:
      mark_context_cell(cell);
      break;
    case TYPE_WORD:
    case TYPE_SET_WORD:
    case TYPE_LIT_WORD:
    case TYPE_GET_WORD:
    case TYPE_REFINEMENT:
    case TYPE_ISSUE:
      mark_node(cell.data1);
      break;
    case TYPE_NATIVE:
    case TYPE_ACTION:
      mark_node(cell.data2);
      mark_node(cell.data3);
      break;
    case TYPE_OP: {
      TypeId source = (cell.header >> 16) & 0xFF;
      if (source == TYPE_FUNCTION || source == TYPE_ROUTINE) mark_node(cell.data1);
      mark_node(cell.data2);
      mark_node(cell.data3);
      break;
    }
    case TYPE_FUNCTION:
    case TYPE_ROUTINE:
      mark_node(cell.data1);
      mark_node(cell.data2);
      mark_node(cell.data3);
      break;
    case TYPE_OBJECT:
    case TYPE_ERROR:
    case TYPE_PORT:
      mark_node(cell.data1);
      mark_node(cell.data3);
      break;
    case TYPE_EVENT:
      // A made event (header flag 0x1000) holds the node of its block of
      // face, window, offset and picked; a live one a record id.
      if (cell.header & 0x1000) mark_node(cell.data2);
      break;
    case TYPE_HANDLE:
      if (static_cast<int32_t>(cell.data3) >= 0) resource_table::mark(static_cast<int32_t>(cell.data3));
      break;
    default:
      break;
  }
}

void mark_values(const Cell* first, const Cell* last) {
  for (const Cell* c = first; c < last; ++c) mark_value(*c);
}

void add_sweep_hook(Hook hook) { sweep_hooks.push_back(hook); }
void add_mark_hook(Hook hook) { mark_hooks.push_back(hook); }

void add_global_root(Cell* cell) { global_roots.push_back(cell); }

Root* Root::innermost = nullptr;

Pause::Pause() : was_enabled_(enable_word) { enable_word = false; }
Pause::~Pause() { enable_word = was_enabled_; }

namespace {
void mark_roots() {
  mark_node(symbol::table());
  mark_table(symbol::index());
  // The roots the layers above hold: the global context, the running
  // scans' values, the parse engines' values.
  upcalls::table.mark_datatype_roots();
  upcalls::table.mark_lexer_roots();
  upcalls::table.mark_evaluator_roots();
  mark_node(root::block());
  mark_node(slot_pool::node());
  stack::mark_frames([](const Cell& c) { mark_value(c); }, [](NodeId n) { mark_node(n); });
  mark_value(runtime::system().thrown_value);
  for (Cell* c : global_roots) mark_value(*c);
  for (Root* r = Root::innermost; r != nullptr; r = r->previous_) mark_value(*r->cell_);
  for (Hook h : mark_hooks) h();
}
}  // namespace

void collect() {
  if (!enable_word || running) return;
  running = true;
  memory::collection_requested = false;
  mark_roots();
  drain();
  for (Hook h : sweep_hooks) h();
  memory::SweepResult swept = stress_setting == StressMode::kEvacuate ? memory::evacuate()
                                                                     : memory::sweep(stress_setting == StressMode::kCompact);
  // A freed node may come back as another context: the mirror of the last
  // values reference must not outlive its context.
  context::last_referenced = {};
  last.freed_buffers = swept.freed_buffers;
  last.freed_bytes = swept.freed_bytes;
  last.moved_bytes = swept.moved_bytes;
  memory::collect_node_frames();
  ++cycles;
  last.cycles = cycles;
  running = false;
}

}  // namespace kel::collector
