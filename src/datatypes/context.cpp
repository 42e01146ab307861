// Contexts and binding (see context.h).
//
// Every lookup goes through the context's word table (hash_table's kind-2
// word lookups), except that a bind walk over a small context reads a
// symbol-indexed copy of the table made for the walk (SymbolIndex below),
// which gives the same answers. Growth keeps the one invariant that
// binding relies on: a heap context has as many value cells as words, so an
// index found in the word table is always a valid value slot.
#include "datatypes/context.h"

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/cycles.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "runtime/hash_table.h"
#include "datatypes/runtime_words.h"
#include "runtime/series_tail.h"
#include "runtime/root_block.h"
#include "runtime/upcalls.h"
#include "runtime/collector.h"

#include <algorithm>
#include <vector>

namespace kel::context {

namespace {
NodeId global_node = 0;
bool recording = false;

SeriesBuffer* series(NodeId context) { return memory::buffer_of(context); }

// Keeps a context reachable while it is being built: a word bound to it
// reaches its series, and through it its word table and values.
Cell* push_root(NodeId context) {
  return stack::push(word::make_value(0, context, -1));
}

// Appends one unset value to a heap context's values block.
void append_value(NodeId context) {
  SeriesBuffer* values = memory::buffer_of(cell(context)->data2);
  alloc_tail(&values);
}

}  // namespace

// --- Access -------------------------------------------------------------------

Cell* self_cell(NodeId context) { return series(context)->cells() + 1; }
NodeId words_table(NodeId context) { return cell(context)->data1; }

Kind kind(NodeId context) {
  return static_cast<Kind>((cell(context)->header & flags::kContextKindMask) >> kKindShift);
}

bool on_stack(NodeId context) { return (cell(context)->header & flags::kStackValues) != 0; }

uint32_t word_count(NodeId context) { return hash_table::get_words(*cell(context))->cell_count(); }

Cell* word_at(NodeId context, uint32_t index) { return hash_table::get_word(*cell(context), index); }

Cell* values_head(NodeId context) {
  Cell* c = cell(context);
  if (c->data2 == 0) return nullptr;
  if (c->header & flags::kStackValues) return stack::bottom + (c->data2 - 1);
  return memory::buffer_of(c->data2)->cells();
}

NodeId values_node(NodeId context) {
  Cell* c = cell(context);
  return (c->header & flags::kStackValues) ? 0 : c->data2;
}

uint32_t stack_reference(const Cell* first_argument) {
  return static_cast<uint32_t>(first_argument - stack::bottom) + 1;
}

// --- The global context -------------------------------------------------------------

NodeId global() { return global_node; }

void init_global() {
  global_node = create(kGlobalCapacity, false, false, 0, kGlobalKind);
  recording = true;
}

bool word_recording() { return recording; }
void set_word_recording(bool on) { recording = on; }

// --- Creation and copy -------------------------------------------------------------

NodeId create(uint32_t size, bool stack_flag, bool object, NodeId source, Kind kind_value) {
  if (size == 0) size = 1;
  stack::Guard guard;
  NodeId node = memory::alloc_cells(2);
  SeriesBuffer* b = series(node);
  uint32_t header = TYPE_CONTEXT | ((static_cast<uint32_t>(kind_value) << kKindShift) & flags::kContextKindMask);
  if (stack_flag) header |= flags::kStackValues;
  if (object) header |= kObjectFlag;
  b->cells()[0] = make_cell(header, 0, 0, node);
  b->cells()[1] = make_cell(TYPE_UNSET);
  b->tail = b->offset + 2 * sizeof(Cell);
  push_root(node);

  NodeId table;
  uint32_t words = 0;
  if (source != 0) {
    Cell source_cell = *cell(source);
    table = hash_table::init(size, &source_cell, hash_table::kSymbols, 2);
    cell(node)->data1 = table;
    // The copied word cells still name the source context.
    SeriesBuffer* word_block = hash_table::get_words(*cell(node));
    words = word_block->cell_count();
    for (Cell* w = word_block->cells(); w < word_block->cells_tail(); ++w) w->data1 = node;
  } else {
    table = hash_table::init(size, nullptr, hash_table::kSymbols, 0);
    cell(node)->data1 = table;
  }
  if (!stack_flag) {
    // Room for size values; one unset value per word already there.
    NodeId values = memory::alloc_unset_cells(size > words ? size : words);
    SeriesBuffer* vb = memory::buffer_of(values);
    vb->tail = vb->offset + words * sizeof(Cell);
    cell(node)->data2 = values;
  }
  return node;
}

NodeId make_from_words(const Cell* block, bool stack_flag, bool object, Kind kind_value) {
  NodeId block_node = block->data2;
  uint32_t from = block->data1;
  uint32_t length = memory::buffer_of(block_node)->cell_count();
  uint32_t size = from < length ? length - from : 0;
  NodeId node = create(size, stack_flag, object, 0, kind_value);
  stack::Guard guard;
  push_root(node);
  for (uint32_t i = from; i < length; ++i) {
    Cell item = memory::buffer_of(block_node)->cells()[i];
    switch (item.type()) {
      case TYPE_WORD:
      case TYPE_GET_WORD:
      case TYPE_LIT_WORD:
      case TYPE_REFINEMENT: {
        int32_t added = -1;
        find_word_in(node, word::symbol_of(item), true, &added);
        break;
      }
      default:
        break;
    }
  }
  if (!stack_flag) {
    // One unset value per word; the values block was made with room for
    // every cell of the block, so this never grows it.
    uint32_t words = word_count(node);
    SeriesBuffer* vb = memory::buffer_of(cell(node)->data2);
    if (vb->size < words * sizeof(Cell)) vb = memory::expand_series(vb, words * sizeof(Cell));
    for (uint32_t i = vb->cell_count(); i < words; ++i) vb->cells()[i] = make_cell(TYPE_UNSET);
    vb->tail = vb->offset + words * sizeof(Cell);
  }
  return node;
}

NodeId copy(Cell* owner, Kind kind_value) {
  NodeId source = owner->data1;
  Cell* source_cell = cell(source);
  bool stack_flag = (source_cell->header & flags::kStackValues) != 0;
  bool object = (source_cell->header & kObjectFlag) != 0;
  NodeId node = create(word_count(source), stack_flag, object, source, kind_value);
  owner->data1 = node;
  return node;
}

// --- Lookup and growth -------------------------------------------------------------

int32_t find_word(NodeId context, uint32_t symbol, bool case_insensitive) {
  int32_t unused = -1;
  return hash_table::get_word_index(words_table(context), symbol, case_insensitive, 0, &unused);
}

int32_t find_word_in(NodeId context, uint32_t symbol, bool case_insensitive, int32_t* added) {
  return hash_table::get_word_index(words_table(context), symbol, case_insensitive, context, added);
}

int32_t add_word(NodeId context, uint32_t symbol) {
  int32_t added = -1;
  int32_t index = find_word_in(context, symbol, true, &added);
  if (index >= 0) return index;
  if (!on_stack(context)) append_value(context);
  return added;
}

void add_field(NodeId context, uint32_t symbol, Cell value) {
  int32_t added = -1;
  if (find_word_in(context, symbol, true, &added) >= 0) return;
  if (on_stack(context)) return;
  SeriesBuffer* values = memory::buffer_of(cell(context)->data2);
  *alloc_tail(&values) = value;
}

bool add_set_words(NodeId context, const Cell* block) {
  NodeId block_node = block->data2;
  uint32_t length = memory::buffer_of(block_node)->cell_count();
  uint32_t from = block->data1 < length ? block->data1 : length;
  uint32_t before = word_count(context);
  for (uint32_t i = from; i < length; ++i) {
    Cell item = memory::buffer_of(block_node)->cells()[i];
    if (item.is(TYPE_SET_WORD)) add_word(context, word::symbol_of(item));
  }
  return word_count(context) != before;
}

Cell* put_value(NodeId context, uint32_t symbol, Cell value) {
  int32_t index = add_word(context, symbol);
  Cell* head = values_head(context);
  if (head == nullptr) return nullptr;
  head[index] = value;
  return head + index;
}

Cell* value_slot(NodeId context, uint32_t symbol) {
  if (on_stack(context)) context = global_node;
  int32_t index = find_word(context, symbol, true);
  if (index < 0) return nullptr;
  return values_head(context) + index;
}

Cell* value_slot_or_global(NodeId context, uint32_t symbol) {
  int32_t index = find_word(context, symbol, false);
  if (index >= 0) return word_at(context, static_cast<uint32_t>(index));
  return add_global_word(symbol);
}

// A case variant (Print when print exists) gets its own word in the global
// context, but that word's index names the value slot of its canonical
// spelling, so both spellings read and write one variable. Its own value
// cell is still appended, keeping one value per word.
Cell* add_global(uint32_t symbol, bool case_insensitive, bool copy_flag) {
  int32_t added = -1;
  int32_t index = find_word_in(global_node, symbol, case_insensitive, &added);
  if (index >= 0) {
    Cell* found = word_at(global_node, static_cast<uint32_t>(index));
    if (case_insensitive && copy_flag && word::symbol_of(*found) != symbol) {
      Cell variant = *found;
      variant.data2 = symbol;
      return root::keep(variant);
    }
    return found;
  }
  if (symbol::get_alias(symbol) > 0) {
    int32_t canonical = find_word(global_node, symbol, true);
    if (canonical >= 0) word_at(global_node, static_cast<uint32_t>(added))->data3 = static_cast<uint32_t>(canonical);
  }
  append_value(global_node);
  return word_at(global_node, static_cast<uint32_t>(added));
}

Cell* add_global_word(uint32_t symbol) {
  Cell* word_cell = add_global(symbol, false, true);
  if (recording) return root::keep(Cell(*word_cell));
  return word_cell;
}

void global_value(uint32_t symbol, Cell* out) {
  Cell* found = add_global(symbol, true, false);
  int32_t index = word::index_of(*found);
  *out = values_head(global_node)[index];
}

Cell* global_slot(uint32_t symbol) { return value_slot(global_node, symbol); }

// --- Binding -------------------------------------------------------------------------

int32_t bind_word(NodeId context, Cell* word_cell) {
  int32_t index = find_word(context, word::symbol_of(*word_cell), true);
  if (index < 0) return -1;
  word_cell->data1 = context;
  word_cell->data3 = static_cast<uint32_t>(index);
  return index;
}

namespace {
// A bind walk meets most words many times and most of them are not the
// context's (a function body names far more globals than locals), so it
// does not ask the word table once per occurrence: it first spreads the
// context's words into an array indexed by canonical symbol, and each
// occurrence is one read. A stamp per entry tells this walk's entries from
// older ones, so nothing is cleared between walks. Two words of one
// canonical spelling (only the global context keeps case variants apart)
// are marked, and a word of that spelling is looked up in the table as
// before, so the answer is always the one the word table gives.
class SymbolIndex {
 public:
  static constexpr int32_t kAbsent = -1;
  static constexpr int32_t kAsk = -2;

  // Fills the array from the context's words; false (nothing filled) when
  // a walk is already using it or the context is too large to be worth it.
  bool fill(NodeId context) {
    if (busy_) return false;
    uint32_t words = word_count(context);
    if (words > kLargestFilled) return false;
    busy_ = true;
    ++stamp_;
    if (stamp_ == 0) {
      for (Entry& entry : entries_) entry.stamp = 0;
      stamp_ = 1;
    }
    // Binding makes no symbols: every symbol a walk meets has an entry,
    // and its canonical id is read from the symbol table as it is now.
    reserve(symbol::count());
    symbol_records_ = memory::buffer_of(symbol::detail::table_node)->cells();
    // Filling allocates nothing in the series heap: the word cells stay put.
    const Cell* word_cells = hash_table::get_words(*cell(context))->cells();
    for (uint32_t i = 0; i < words; ++i) {
      uint32_t canonical = canonical_of(word::symbol_of(word_cells[i]));
      if (canonical == 0) continue;
      reserve(canonical);
      Entry& entry = entries_[canonical];
      if (entry.stamp == stamp_) {
        entry.index = kAsk;
      } else {
        entry = {stamp_, static_cast<int32_t>(i)};
      }
    }
    return true;
  }
  void release() { busy_ = false; }

  // The word's index in the context, kAbsent, or kAsk (look it up). Every
  // symbol has an entry (fill reserved them), and the canonical id is read
  // straight from the symbol table's records, as symbol::resolve reads it.
  int32_t find(uint32_t symbol) const {
    if (symbol == 0 || symbol >= entries_.size()) [[unlikely]] return symbol == 0 ? kAsk : kAbsent;
    auto alias = static_cast<int32_t>(symbol_records_[symbol - 1].data1);
    uint32_t canonical = alias <= 0 ? symbol : static_cast<uint32_t>(alias);
    const Entry& entry = entries_[canonical];
    return entry.stamp == stamp_ ? entry.index : kAbsent;
  }
  // A word the walk added to the context (its spelling was absent); adding
  // it allocated, so the symbol table's records are found again.
  void added(uint32_t symbol, int32_t index) {
    symbol_records_ = memory::buffer_of(symbol::detail::table_node)->cells();
    uint32_t canonical = canonical_of(symbol);
    if (canonical == 0) return;
    reserve(canonical);
    entries_[canonical] = {stamp_, index};
  }

 private:
  // The global context is bound word by word: spreading its thousands of
  // words would cost more than the walk saves.
  static constexpr uint32_t kLargestFilled = 1024;

  // An entry is this walk's when its stamp is the walk's; the stamp and the
  // index lie side by side, so a lookup reads one place.
  struct Entry {
    uint32_t stamp;
    int32_t index;
  };

  static uint32_t canonical_of(uint32_t symbol) { return symbol == 0 ? 0 : symbol::resolve(symbol); }
  void reserve(uint32_t canonical) {
    if (canonical < entries_.size()) return;
    size_t size = std::max<size_t>(size_t{canonical} + 1, size_t{symbol::count()} + 1);
    entries_.resize(size, Entry{0, kAbsent});
  }

  std::vector<Entry> entries_;
  uint32_t stamp_ = 0;
  bool busy_ = false;
  const Cell* symbol_records_ = nullptr;  // the symbol table's records while filled
};

SymbolIndex symbol_index;

// The word's index in the context, through the filled array when there is one.
inline int32_t find_for_bind(NodeId context, uint32_t symbol, const SymbolIndex* filled) {
  if (filled != nullptr) {
    int32_t index = filled->find(symbol);
    if (index != SymbolIndex::kAsk) return index;
  }
  return find_word(context, symbol, true);
}

// Binds a word cell to the context when the context has its word; false,
// the cell unchanged, when it has not.
inline bool bind_known(Cell* cell, NodeId context, const SymbolIndex* filled) {
  int32_t index = find_for_bind(context, word::symbol_of(*cell), filled);
  if (index < 0) return false;
  cell->data1 = context;
  cell->data3 = static_cast<uint32_t>(index);
  return true;
}

void bind_series(NodeId block_node, uint32_t from, NodeId context, bool self_flag, bool add_unknown,
                 SymbolIndex* filled) {
  if (cycles::find(block_node)) return;
  cycles::Entry entry(block_node);
  // Only a nested walk and adding a word may allocate (and move the
  // block's cells): the buffer is read again after either.
  // The cells are held between those calls (binding changes no block's
  // length).
  SeriesBuffer* buffer = memory::buffer_of(block_node);
  Cell* cells = buffer->cells();
  uint32_t count = buffer->cell_count();
  uint32_t self = runtime_words::self;
  for (uint32_t i = from; i < count; ++i) {
    Cell* cell = cells + i;
    TypeId type = cell->type();
    if (series::is_block_kind(type)) {
      bind_series(cell->data2, cell->data1, context, self_flag, add_unknown, filled);
      buffer = memory::buffer_of(block_node);
      cells = buffer->cells();
      count = buffer->cell_count();
      continue;
    }
    if (type < TYPE_WORD || type > TYPE_REFINEMENT) continue;
    uint32_t symbol = word::symbol_of(*cell);
    if (self_flag && type == TYPE_WORD && symbol == self) {
      cell->data1 = context;
      cell->data3 = word::kUnresolved;
    } else if (!bind_known(cell, context, filled) && add_unknown) {
      int32_t index = add_word(context, symbol);
      if (filled != nullptr) filled->added(symbol, index);
      buffer = memory::buffer_of(block_node);
      cells = buffer->cells();
      count = buffer->cell_count();
      cell = cells + i;
      cell->data1 = context;
      cell->data3 = static_cast<uint32_t>(index);
    }
  }
}
}  // namespace

void bind(const Cell* block, NodeId context, bool self_flag, bool add_unknown) {
  if (!symbol_index.fill(context)) {
    bind_series(block->data2, block->data1, context, self_flag, add_unknown, nullptr);
    return;
  }
  // A walk that ends in an error (a block nested too deeply) frees the array too.
  struct Release {
    ~Release() { symbol_index.release(); }
  } release;
  bind_series(block->data2, block->data1, context, self_flag, add_unknown, &symbol_index);
}

namespace {
// The binding of a copy being made: the cells of each block as the clone
// copies it. The nested block!, paren! and path values are copied (and
// handed over) in their turn; a hash! is not copied, so the copy shares it
// with the source, and the copy is then walked again as bind walks it.
struct CopyBinding {
  NodeId context;
  const SymbolIndex* filled;
  bool walk_again;
};

void bind_copied(void* data, NodeId node) {
  auto* binding = static_cast<CopyBinding*>(data);
  SeriesBuffer* buffer = memory::buffer_of(node);
  Cell* cells = buffer->cells();
  uint32_t count = buffer->cell_count();
  for (uint32_t i = 0; i < count; ++i) {
    Cell* cell = cells + i;
    TypeId type = cell->type();
    if (type == TYPE_HASH) binding->walk_again = true;
    if (type >= TYPE_WORD && type <= TYPE_REFINEMENT) bind_known(cell, binding->context, binding->filled);
  }
}
}  // namespace

Cell* copy_bound(const Cell* block, NodeId context) {
  bool filled = symbol_index.fill(context);
  struct Release {
    bool filled;
    ~Release() {
      if (filled) symbol_index.release();
    }
  } release{filled};
  CopyBinding binding{context, filled ? &symbol_index : nullptr, false};
  Cell* copy = block::clone_deep(block, bind_copied, &binding);
  if (binding.walk_again) {
    if (filled) symbol_index.release();
    release.filled = false;
    bind(copy, context, false);
  }
  return copy;
}

// --- Reading and writing ------------------------------------------------------------

Cell* get(const Cell* word_cell) {
  NodeId context = word::context_of(*word_cell);
  int32_t index = word::index_of(*word_cell);
  if (index < 0) {
    if (context != 0 && word::symbol_of(*word_cell) == runtime_words::self) return self_cell(context);
    fire(ErrorId::script_no_value, word_cell);
  }
  // A word made without a context (a refinement, or a bare cell) has no slot.
  if (context == 0) fire(ErrorId::script_not_defined, word_cell);
  Cell* head = values_head(context);
  if (head == nullptr) fire(ErrorId::script_not_in_context, word_cell);
  if (!on_stack(context) && static_cast<uint32_t>(index) >= memory::buffer_of(values_node(context))->cell_count())
    fire(ErrorId::script_no_value, word_cell);
  return head + index;
}

Cell* set_in(Cell* word_cell, Cell value, NodeId context, bool notify) {
  if (context == 0) fire(ErrorId::script_not_defined, word_cell);
  if (word::index_of(*word_cell) < 0) {
    uint32_t symbol = word::symbol_of(*word_cell);
    int32_t index = find_word(context, symbol, false);
    if (index < 0) index = add_word(context, symbol);
    word_cell->data1 = context;
    word_cell->data3 = static_cast<uint32_t>(index);
  }
  auto index = static_cast<uint32_t>(word::index_of(*word_cell));
  Cell* head = values_head(context);
  if (head == nullptr) fire(ErrorId::script_not_defined, word_cell);
  if (on_stack(context)) {
    head[index] = value;
    return head + index;
  }
  if (index >= memory::buffer_of(values_node(context))->cell_count())
    fire(ErrorId::script_not_defined, word_cell);
  if (kind(context) == kObjectKind) {
    // An object with change handlers hears of the assignment (object.h);
    // a quiet one still keeps its ownership of the field's value in step.
    Cell self = *self_cell(context);
    if (object::is_object_kind(self.type()) && object::handlers_of(self) != 0) {
      Cell word_value = *word_cell;
      if (notify) {
        object::set_field(self, index, word_value, value);
      } else {
        word_at(context, index)->header |= flags::kFieldSet;
        object::store_field(self, index, word_value, value);
      }
      return values_head(context) + index;
    }
    word_at(context, index)->header |= flags::kFieldSet;
  }
  head[index] = value;
  return head + index;
}

Cell* set(Cell* word_cell, Cell value) { return set_in(word_cell, value, word::context_of(*word_cell), true); }

void set_integer(NodeId context, Cell* word_cell, int32_t n) {
  if (word::index_of(*word_cell) < 0) {
    int32_t index = find_word(context, word::symbol_of(*word_cell), false);
    if (index < 0) fire(ErrorId::script_not_defined, word_cell);
    word_cell->data3 = static_cast<uint32_t>(index);
  }
  Cell* head = values_head(context);
  if (head == nullptr) fire(ErrorId::script_not_defined, word_cell);
  head[word::index_of(*word_cell)] = integer::make(n);
}

void init() {
  upcalls::table.mark_datatype_roots = [] { collector::mark_node(global()); };
  DatatypeRecord record(TYPE_CONTEXT, 0, "context!");
  register_datatype(record);
}

}  // namespace kel::context
