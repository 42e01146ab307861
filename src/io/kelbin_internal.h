// What the two kelbin layouts share (see kelbin.h): the reader's state and
// the values it builds, and the writer's state.
//
// A layout reader parses its records and calls the Decoder below to build
// the values, so both layouts make the same values under the same checks.
// A record's value is appended at the tail of the block it is read into (the
// destination for the top-level records, a container's own block for its
// contents) before the records inside it are read: a reference path met
// inside a container may lead back to the container itself, and the walk
// finds only what has been appended. Every built value lies in a block the
// caller roots, and nothing collects during a decode, so the cells and
// nodes held here stay valid.
//
// A layout writer walks the value and calls the Encoder to name symbols and
// to remember every series buffer, object context, function context and
// error context it writes, under the path of record indexes that leads to
// it; meeting one again, it writes that path instead of the contents. A
// path is kept as an entry naming its parent's entry and its own index, so
// remembering costs one entry whatever the depth.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "io/kelbin.h"
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::kelbin {

static_assert(std::endian::native == std::endian::little, "records hold little-endian units copied as they are");

// The longest reference path a record may hold.
constexpr uint32_t kMaxPathLength = 65536;

inline uint32_t load_u32(const uint8_t* at) {
  uint32_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}
inline void store_u32(uint8_t* at, uint32_t value) { std::memcpy(at, &value, sizeof value); }

inline uint32_t zigzag_encode(int32_t n) {
  return (static_cast<uint32_t>(n) << 1) ^ static_cast<uint32_t>(n >> 31);
}
inline int32_t zigzag_decode(uint32_t u) { return static_cast<int32_t>((u >> 1) ^ (0u - (u & 1))); }

// A double's halves as the records hold them.
inline uint32_t low_half(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return static_cast<uint32_t>(bits);
}
inline uint32_t high_half(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return static_cast<uint32_t>(bits >> 32);
}
inline double from_halves(uint32_t low, uint32_t high) {
  uint64_t bits = uint64_t{high} << 32 | low;
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// The datatype families both layouts sort records by.
inline bool is_block_family(TypeId type) {
  return type == TYPE_BLOCK || type == TYPE_PAREN || (type >= TYPE_PATH && type <= TYPE_GET_PATH);
}
inline bool is_text_family(TypeId type) {
  return type == TYPE_STRING || type == TYPE_FILE || type == TYPE_URL || type == TYPE_TAG || type == TYPE_EMAIL ||
         type == TYPE_REF;
}
inline bool is_word_kind(TypeId type) { return type >= TYPE_WORD && type <= TYPE_REFINEMENT; }
// The series records that carry a head: blocks, text, binary!, vector!,
// hash! and image!.
inline bool is_headed_series(TypeId type) {
  return is_block_family(type) || is_text_family(type) || type == TYPE_BINARY || type == TYPE_VECTOR ||
         type == TYPE_HASH || type == TYPE_IMAGE;
}
// The series the writers write.
inline bool is_written_series(TypeId type) {
  return is_block_family(type) || is_text_family(type) || type == TYPE_BINARY || type == TYPE_VECTOR ||
         type == TYPE_HASH || type == TYPE_MAP || type == TYPE_BITSET || type == TYPE_IMAGE;
}

// The base-2 logarithm of a unit size of 1, 2, 4 or 8 bytes.
inline uint32_t unit_log(uint32_t unit) { return static_cast<uint32_t>(std::countr_zero(unit)); }

// The kind, flags and words of a context as a record describes it.
struct ContextForm {
  uint32_t kind = 0;      // 0 global, 1 function, 2 object; 3 names no kind
  bool stack = false;     // values live on the evaluation stack (a function's)
  bool self = false;      // made by the object constructors
  bool values = false;    // the values follow the words
  std::vector<uint32_t> symbols;
};

// ---------------------------------------------------------------------------
// Reading

// The word a binding is being read for: appended before the binding's
// owner is read, bound to the owner's context as soon as it exists, so
// that a path through the word finds the owner's values.
struct PendingWord {
  NodeId block;
  uint32_t position;
  TypeId type;
  uint32_t symbol_index;
  int32_t index;
};

class Decoder {
 public:
  Decoder(const uint8_t* start, bool codec_q, const Cell& destination);

  const uint8_t* const start;   // error positions count from here
  const bool codec_q;           // codec mode: untrusted data, no boot-only forms
  const NodeId destination;     // the block of the top-level records
  const uint32_t base_count;    // its cells before this decode
  const uint8_t* records_end = nullptr;

  // Script kb-invalid-record at a position of the buffer.
  [[noreturn]] void fail(const uint8_t* at) const;
  // Fails unless count bytes lie between at and the records area's end.
  void need(const uint8_t* at, uint64_t count) const {
    if (at > records_end || static_cast<uint64_t>(records_end - at) < count) fail(at);
  }
  uint64_t bytes_left(const uint8_t* at) const { return at < records_end ? static_cast<uint64_t>(records_end - at) : 0; }

  // The types whose records may be shared (a reference path in place of
  // the contents); a word's binding only in codec mode.
  bool sharable(TypeId type) const {
    return is_block_family(type) || is_text_family(type) || type == TYPE_BINARY || type == TYPE_VECTOR ||
           type == TYPE_HASH || type == TYPE_MAP || type == TYPE_BITSET || type == TYPE_IMAGE || type == TYPE_OBJECT ||
           type == TYPE_FUNCTION || (is_word_kind(type) && codec_q);
  }

  // Whether a leaf record read without a Nesting guard lies within the
  // nesting the guards allow.
  bool leaf_fits() const { return depth_ < kMaxDepth; }
  // Counts the nesting of records; deeper than kMaxDepth fails.
  class Nesting {
   public:
    Nesting(Decoder& decoder, const uint8_t* at) : decoder_(decoder) {
      if (++decoder_.depth_ > kMaxDepth) decoder_.fail(at);
    }
    ~Nesting() { --decoder_.depth_; }
    Nesting(const Nesting&) = delete;
    Nesting& operator=(const Nesting&) = delete;

   private:
    Decoder& decoder_;
  };

  // --- Symbols ---------------------------------------------------------------
  // The symbol table of the buffer (already checked to lie inside it, its
  // string area ending with a NUL when not empty).
  void set_symbols(const uint8_t* offsets, uint32_t count, const uint8_t* names, uint32_t size);
  // The table shared with other decodes, if any (see SymbolMap); its count
  // is checked against the buffer's symbol table once that is read.
  const SymbolMap* symbol_map = nullptr;
  // The symbol of a symbol index read at position at.
  uint32_t symbol(uint32_t index, const uint8_t* at);
  // Turns every name of the table into a symbol at once (the boot mode).
  void resolve_all_symbols(const uint8_t* at);

  // --- Blocks ----------------------------------------------------------------
  // Appends the cell to the block and answers its position. Blocks are
  // made with room for the count their record gives, so the buffer grows
  // only for the boot mode's native specs.
  [[gnu::always_inline]] static uint32_t append(NodeId block, const Cell& cell) {
    SeriesBuffer* buffer = memory::buffer_of(block);
    uint32_t position = buffer->cell_count();
    if (buffer->room() >= sizeof(Cell)) {
      *reinterpret_cast<Cell*>(buffer->tail_ptr()) = cell;
      buffer->tail += sizeof(Cell);
    } else {
      append_grown(buffer, cell);
    }
    return position;
  }
  static Cell* cell_at(NodeId block, uint32_t position) { return memory::buffer_of(block)->cells() + position; }
  static uint32_t cell_count(NodeId block) { return memory::buffer_of(block)->cell_count(); }
  // A new block buffer with room for count cells (at least one); count was
  // checked against the bytes left.
  static NodeId new_block(uint32_t count);
  // A head index read from a record: at most the largest signed index.
  uint32_t head(uint32_t value, const uint8_t* at) const;

  // --- Reference paths -------------------------------------------------------
  // The indexes of the path being read (filled by the layout reader).
  std::vector<uint32_t> path;
  // The cell the path leads to, from the destination's first cell down.
  Cell walk(const uint8_t* at) const;
  // A series of the record's type taking the target's buffer, at head.
  Cell shared(TypeId type, uint32_t head, const Cell& target, const uint8_t* at) const;
  // The object! or function! a shared object or function record names
  // (directly, an op! for a function, or a word bound to its context).
  Cell shared_owner(TypeId type, const Cell& target, const uint8_t* at) const;

  // --- Scalars -----------------------------------------------------------------
  Cell datatype_value(uint32_t id, const uint8_t* at) const;
  Cell char_value(uint32_t code_point, const uint8_t* at) const;
  Cell tuple_value(const uint8_t* bytes, uint32_t count, const uint8_t* at) const;
  Cell money_value(bool negative, const uint8_t* twelve_bytes, const uint8_t* at) const;
  Cell date_value(uint32_t date_word, bool time_flag, double time, const uint8_t* at) const;
  Cell typeset_value(const uint8_t* bytes, uint32_t count) const;

  // --- Series ------------------------------------------------------------------
  // A text, binary or vector series of length units copied from bytes.
  Cell text_value(TypeId type, uint32_t head, const uint8_t* units, uint32_t length, uint32_t unit,
                  const uint8_t* at) const;
  Cell binary_value(uint32_t head, const uint8_t* bytes, uint32_t length) const;
  Cell vector_value(uint32_t head, TypeId element_type, uint32_t unit, const uint8_t* bytes, uint32_t length,
                    const uint8_t* at) const;
  Cell bitset_value(bool complemented, const uint8_t* bytes, uint32_t length) const;
  // An image! record's size, checked before anything is made: sides of at
  // most 65535, and pixels (4 bytes each) that the bytes left at pixels_at
  // hold, so that nothing is allocated for pixels the input lacks. A bad
  // size fails at the record.
  void check_image_size(uint32_t width, uint32_t height, const uint8_t* pixels_at, const uint8_t* at) const {
    if (width > 0xFFFF || height > 0xFFFF || uint64_t{width} * height * 4 > bytes_left(pixels_at)) fail(at);
  }
  // An image! of width x height pixels copied from the bytes, at head.
  Cell image_value(uint32_t head, uint32_t width, uint32_t height, const uint8_t* pixels) const;

  // hash! and map!: the cell carries its table before its contents are
  // read, so that every copy taken meanwhile has it; finish indexes them.
  Cell begin_hash(uint32_t head, uint32_t count) const;
  void finish_hash(const Cell& hash) const;
  Cell begin_map(uint32_t count, const uint8_t* at) const;
  void finish_map(const Cell& map, const uint8_t* at) const;

  // --- Words -------------------------------------------------------------------
  // A word of the type (15-20) for a symbol index, bound to the global
  // context (an issue! gets the global context and index -1). The word of
  // each index is made once.
  [[gnu::always_inline]] Cell global_word(TypeId type, uint32_t symbol_index, const uint8_t* at) {
    if (symbol_index < symbol_count_) {
      const Cell& known = symbol_map != nullptr ? symbol_map->shared->words[shared_index(symbol_index)]
                                                : global_words_[symbol_index];
      if (known.header != 0) {
        Cell word = known;
        if (type == TYPE_ISSUE) word.data3 = static_cast<uint32_t>(-1);
        word.header = type;
        return word;
      }
    }
    return first_global_word(type, symbol_index, at);
  }
  // A word bound to a context at an index (-1: unresolved, as a self word).
  Cell context_word(TypeId type, uint32_t symbol_index, NodeId context, int32_t index, const uint8_t* at);
  // The context of a shared binding's target: an object!, a function!, an
  // op! of a function, or a word bound to one of those.
  NodeId target_context(const Cell& target, const uint8_t* at) const;
  // The boot mode's context by number: that of the cell at base count +
  // number of the destination.
  NodeId numbered_context(uint32_t number, const uint8_t* at) const;
  // A boot-mode word bound by context number, its index -1 looked up.
  Cell numbered_word(TypeId type, uint32_t symbol_index, uint32_t number, int32_t index, const uint8_t* at);
  // The end of a bind record: the word appended at word_position of the
  // block is set to the value after it, and both leave the block.
  void bind(NodeId block, uint32_t word_position, const uint8_t* at) const;

  // --- Contexts, objects, functions, errors, natives ---------------------------
  // A context with the form's words (a heap context gets one unset value a
  // word). Fails on a kind of 3 or a word named twice.
  NodeId make_context(const ContextForm& form, const uint8_t* at) const;
  // The object! for a new heap context (class id -1 in codec mode). With
  // handlers, the handler block is made now from the two field indexes
  // (-1: none), checked to name the handler fields.
  Cell begin_object(NodeId context, int32_t class_id, bool handlers, int32_t on_change, int32_t on_deep_change,
                    const uint8_t* at) const;
  // After the values: an object with on-deep-change* owns its fields.
  void finish_object(const Cell& object) const;
  // The object! that a context! record appends (the boot mode's only).
  Cell context_object(NodeId context) const;

  // A function! for a new stack context with empty spec and body blocks of
  // the given capacities (checked against the bytes left).
  Cell begin_function(NodeId context, uint32_t spec_capacity, uint32_t body_capacity, const uint8_t* at) const;
  // Where a function's spec and body are read into.
  static NodeId spec_node(const Cell& function) { return function.data2; }
  static NodeId body_node(const Cell& function);
  // A shared spec or body: the function takes the buffer of the target
  // block (the function cell is updated where it was appended, at
  // position of block, when block is not 0, and in its context).
  void share_spec(Cell* function, NodeId block, uint32_t position, const Cell& target, const uint8_t* at) const;
  void share_body(const Cell& function, const Cell& target, const uint8_t* at) const;
  // After the interface block: the context's words must be those it makes, as
  // a function made by func has them, so that a call fills every slot.
  void check_function(const Cell& function, const uint8_t* at) const;

  // An error! of the catalog entry with the code (fields none).
  Cell make_error(uint32_t code, const uint8_t* at) const;
  // The fields arg1 .. stack (0 .. 5) are read straight into the error's
  // values, so that a path met inside a field finds the fields before it:
  // open answers the values block with its tail at the field's slot,
  // close checks that the record put one value there and shows the rest
  // again.
  NodeId open_error_field(const Cell& error, uint32_t field, const uint8_t* at) const;
  void close_error_field(const Cell& error, uint32_t field, const uint8_t* at) const;

  // A native! or action! of a table number with a spec block.
  Cell builtin_value(TypeId type, uint32_t number, const Cell& spec, const uint8_t* at) const;
  // The codec mode reads a native's spec record where the native goes: the
  // interface block is in its place while its contents are read (a path to
  // the native's children walks the interface block's cells either way), then the
  // native takes the place.
  void make_builtin_at(NodeId block, uint32_t position, TypeId type, uint32_t number, const uint8_t* at) const;
  // Turns the cell at position of block into an op! of it.
  void make_op(NodeId block, uint32_t position, TypeId expected, const uint8_t* at) const;

 private:
  static void append_grown(SeriesBuffer* buffer, const Cell& cell);
  Cell first_global_word(TypeId type, uint32_t symbol_index, const uint8_t* at);

  // The symbol of a name of the buffer's table, made from its text (the
  // caller notes it for the index).
  uint32_t new_symbol(uint32_t index, const uint8_t* at);
  // The shared index of a symbol index below the count (the image reader
  // checked every index of a map against the shared table).
  uint32_t shared_index(uint32_t index) const { return load_u32(symbol_map->indexes + 4 * size_t{index}); }

  uint32_t depth_ = 0;
  const uint8_t* symbol_offsets_ = nullptr;
  const uint8_t* names_ = nullptr;
  uint32_t symbol_count_ = 0;
  uint32_t names_size_ = 0;
  // Without a symbol map: the symbol id by index (0 until first used),
  // the symbol id of each name read by its offset in the string area (0
  // until read; as large as the string area, which the input holds), and
  // the global word by symbol index (header 0 until first used). With a
  // map, the shared table holds the ids and words for every decode, and
  // these stay empty: a decode then costs nothing per name it does not use.
  std::vector<uint32_t> symbols_;
  std::vector<uint32_t> symbol_of_offset_;
  std::vector<Cell> global_words_;
};

// Reads a compact records area into the destination.
void read_compact(Decoder& decoder, const uint8_t* records, const uint8_t* end);
// Reads a fixed records area.
void read_fixed(Decoder& decoder, const uint8_t* records, const uint8_t* end);

// ---------------------------------------------------------------------------
// Writing

class Encoder {
 public:
  Encoder() = default;
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;

  std::vector<uint8_t> records;

  // --- Symbols, in the order of first use --------------------------------------
  uint32_t symbol_index(uint32_t symbol);
  const std::vector<uint32_t>& symbols() const { return symbols_; }

  // --- References --------------------------------------------------------------
  // The entry a node was remembered under, 0 when it was not.
  uint32_t find(NodeId node) const {
    return node < entry_of_node_.size() ? entry_of_node_[node] : 0;
  }
  // Remembers the node at the position of the next record; answers its
  // entry. Node 0 gets an entry that nothing finds.
  uint32_t remember(NodeId node);
  // The record indexes of an entry's path, from the top value down.
  void path_of(uint32_t entry, std::vector<uint32_t>* out) const;

  // Writing the contents of a remembered value: its children count from 0.
  class Inside {
   public:
    Inside(Encoder& encoder, uint32_t entry)
        : encoder_(encoder), entry_(encoder.current_), index_(encoder.record_index_) {
      encoder.current_ = entry;
      encoder.record_index_ = 0;
    }
    ~Inside() {
      encoder_.current_ = entry_;
      encoder_.record_index_ = index_;
    }
    Inside(const Inside&) = delete;
    Inside& operator=(const Inside&) = delete;

   private:
    Encoder& encoder_;
    uint32_t entry_;
    uint32_t index_;
  };
  // One more record of the current container written.
  void count() { ++record_index_; }

  // Counts the nesting of records; deeper than kMaxDepth raises internal
  // too-deep.
  class Nesting {
   public:
    explicit Nesting(Encoder& encoder);
    ~Nesting() { --encoder_.depth_; }
    Nesting(const Nesting&) = delete;
    Nesting& operator=(const Nesting&) = delete;

   private:
    Encoder& encoder_;
  };

  // Access no-codec with the value.
  [[noreturn]] static void no_codec(const Cell& value);

  // The owner of a word's binding when the word is written with it: the
  // object! or function! whose context the word is bound to. False for a
  // word written as bound to the global context (the global context, no
  // context, or a context no object or function owns).
  static bool bound_owner(const Cell& word, Cell* owner);
  // The field indexes of an object's two change handlers (-1: none).
  static void handler_indexes(const Cell& object, int32_t* on_change, int32_t* on_deep_change);
  // A context's description: kind, flags and words; values follow when its
  // values are on the heap and one of them is set.
  static ContextForm context_form(NodeId context);

 private:
  struct Entry {
    uint32_t parent;
    uint32_t index;
  };
  std::vector<uint32_t> symbols_;          // symbol ids by index
  std::vector<uint32_t> index_of_symbol_;  // index + 1 by symbol id
  std::vector<uint32_t> entry_of_node_;    // entry by node id
  std::vector<Entry> entries_{Entry{0, 0}};  // entry 0: the top, outside every value
  uint32_t current_ = 0;
  uint32_t record_index_ = 0;
  uint32_t depth_ = 0;
};

// Writes the value's records (compact or fixed) into the encoder.
void write_compact(Encoder& encoder, const Cell& value);
void write_fixed(Encoder& encoder, const Cell& value);

}  // namespace kel::kelbin
