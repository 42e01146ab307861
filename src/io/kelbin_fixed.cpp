// The fixed kelbin layout: its records, read and written (see kelbin.h for
// the container around them). Every field is a 32-bit little-endian word,
// so the records area is a whole number of words.
//
// A record starts with a header word:
//   bits 0-7    datatype id; 0 a padding word (skipped), 0xFF a reference
//               record (a copy of the value its path leads to); in the boot
//               mode 0xC4 a bind record (a word record, then the record of
//               the value it is set to)
//   bits 8-12   unit size of a text, binary! or vector! record; bits 8-11
//               the element count of a tuple!
//   bits 16-23  op!: the datatype of the value it wraps
//   bit 19      shared: a reference record follows the fixed words in place
//               of the contents
//   bit 22      money!: negative        bit 23  bitset!: complemented
//   bit 24      object!: handler indexes follow
//   bit 25      word: bound to the global context
//   bit 31      the value starts a new line
// A context record (inside object! and function! records, or alone as a
// context! record) has 14 in bits 0-7, its kind in bits 26-27, bit 28 self,
// bit 29 values on the stack, bit 30 values follow.
//
// A reference record is 0xFF, the path length, then the record indexes.
// Doubles are written high half first, and the writer pads the records area
// to a multiple of 8 bytes before a float!, percent! or time! record. Raw
// bytes are padded with zeros to the next word.
//
// A word record is its symbol index and its index in its context, then,
// unless it is global or shared, the record of the object! or function!
// that owns its context (codec mode) or the number of a context made
// earlier in the image (boot mode; no writer makes these).
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/date.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/money.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "io/kelbin_internal.h"
#include "runtime/errors.h"

namespace kel::kelbin {

namespace {

constexpr uint32_t kTypeMask = 0xFF;
constexpr uint32_t kReferenceType = 0xFF;
constexpr uint32_t kBindType = 0xC4;
constexpr uint32_t kUnitShift = 8;
constexpr uint32_t kUnitMask = 0x1F;
constexpr uint32_t kTupleCountMask = 0x0F;
constexpr uint32_t kOpShift = 16;
constexpr uint32_t kShared = 1u << 19;
constexpr uint32_t kNegative = 1u << 22;
constexpr uint32_t kComplemented = 1u << 23;
constexpr uint32_t kHandlers = 1u << 24;
constexpr uint32_t kGlobal = 1u << 25;
constexpr uint32_t kKindShift = 26;
constexpr uint32_t kSelf = 1u << 28;
constexpr uint32_t kStackValues = 1u << 29;
constexpr uint32_t kValuesFollow = 1u << 30;
constexpr uint32_t kNewLine = 1u << 31;

uint64_t padded(uint64_t bytes) { return (bytes + 3) & ~uint64_t{3}; }

// ---------------------------------------------------------------------------
// Reading

class Reader {
 public:
  Reader(Decoder& decoder, const uint8_t* position) : d_(decoder), p_(position) {}

  void records(NodeId block) {
    while (p_ < d_.records_end) {
      // Padding at the very end is no record.
      if (d_.bytes_left(p_) >= 4 && load_u32(p_) == 0) {
        p_ += 4;
        continue;
      }
      record(block);
    }
  }

 private:
  Decoder& d_;
  const uint8_t* p_;

  uint32_t next() {
    d_.need(p_, 4);
    uint32_t value = load_u32(p_);
    p_ += 4;
    return value;
  }
  // A count of records (each at least one word) that follow.
  uint32_t count() {
    const uint8_t* at = p_;
    uint32_t n = next();
    if (n > d_.bytes_left(p_) / 4) d_.fail(at);
    return n;
  }
  // length raw bytes and their padding.
  const uint8_t* take(uint64_t length, const uint8_t* at) {
    if (padded(length) > d_.bytes_left(p_)) d_.fail(at);
    const uint8_t* bytes = p_;
    p_ += padded(length);
    return bytes;
  }
  uint32_t head() {
    const uint8_t* at = p_;
    return d_.head(next(), at);
  }

  Cell reference() {
    const uint8_t* at = p_;
    if (next() != kReferenceType) d_.fail(at);
    uint32_t length = next();
    if (length < 1 || length > kMaxPathLength || length > d_.bytes_left(p_) / 4) d_.fail(at);
    d_.path.resize(length);
    for (uint32_t i = 0; i < length; ++i) d_.path[i] = next();
    return d_.walk(at);
  }

  // A header word, padding words passed over.
  uint32_t header() {
    for (;;) {
      uint32_t value = next();
      if (value != 0) return value;
    }
  }

  // Reads records into the block until it holds n more cells; a record
  // that appends anything else (a bind record, which data cannot hold) is
  // refused at the container's position.
  void contents(NodeId block, uint32_t n, const uint8_t* at) {
    uint32_t before = Decoder::cell_count(block);
    for (uint32_t i = 0; i < n; ++i) record(block);
    if (Decoder::cell_count(block) != before + n) d_.fail(at);
  }

  void record(NodeId block) {
    const uint8_t* at = p_;
    Decoder::Nesting nesting(d_, at);
    uint32_t h = header();
    at = p_ - 4;
    uint32_t type = h & kTypeMask;
    uint32_t position;
    if (type == kReferenceType) {
      position = Decoder::append(block, reference_after_header(at));
    } else if (type == kBindType) {
      if (d_.codec_q || h != kBindType) d_.fail(at);
      position = Decoder::cell_count(block);
      const uint8_t* word_at = p_;
      record(block);
      if (Decoder::cell_count(block) != position + 1 ||
          !word::is_any_word(Decoder::cell_at(block, position)->type()))
        d_.fail(word_at);
      record(block);
      d_.bind(block, position, at);
      return;
    } else {
      position = value(block, h, at);
    }
    if ((h & kNewLine) != 0) Decoder::cell_at(block, position)->set_new_line(true);
  }

  // A 0xFF record whose header was read: the path follows.
  Cell reference_after_header(const uint8_t* at) {
    uint32_t length = next();
    if (length < 1 || length > kMaxPathLength || length > d_.bytes_left(p_) / 4) d_.fail(at);
    d_.path.resize(length);
    for (uint32_t i = 0; i < length; ++i) d_.path[i] = next();
    return d_.walk(at);
  }

  uint32_t value(NodeId block, uint32_t h, const uint8_t* at) {
    TypeId type = h & kTypeMask;
    // Bit 19 is part of an op!'s wrapped type, and has no meaning elsewhere
    // outside the sharable types.
    bool shared = (h & kShared) != 0 && type != TYPE_OP;
    if (shared && !d_.sharable(type)) d_.fail(at);
    switch (type) {
      case TYPE_UNSET:
      case TYPE_NONE:
        return Decoder::append(block, make_cell(type));
      case TYPE_DATATYPE:
        return Decoder::append(block, d_.datatype_value(next(), at));
      case TYPE_LOGIC: {
        uint32_t flag = next();
        if (flag > 1) d_.fail(at);
        return Decoder::append(block, make_cell(TYPE_LOGIC, flag));
      }
      case TYPE_CHAR:
        return Decoder::append(block, d_.char_value(next(), at));
      case TYPE_INTEGER:
        return Decoder::append(block, make_cell(TYPE_INTEGER, 0, next()));
      case TYPE_PAIR: {
        uint32_t x = next();
        return Decoder::append(block, make_cell(TYPE_PAIR, 0, x, next()));
      }
      case TYPE_POINT2D: {
        uint32_t x = next();
        return Decoder::append(block, make_cell(TYPE_POINT2D, x, next(), 0));
      }
      case TYPE_POINT3D: {
        uint32_t x = next();
        uint32_t y = next();
        return Decoder::append(block, make_cell(TYPE_POINT3D, x, y, next()));
      }
      case TYPE_FLOAT:
      case TYPE_PERCENT:
      case TYPE_TIME: {
        uint32_t high = next();
        Cell cell = make_cell(type);
        cell.set_double(from_halves(next(), high));
        return Decoder::append(block, cell);
      }
      case TYPE_DATE: {
        uint32_t date_word = next();
        uint32_t high = next();
        double time = from_halves(next(), high);
        return Decoder::append(block, d_.date_value(date_word, date::has_time(date_word), time, at));
      }
      case TYPE_TYPESET: {
        const uint8_t* bytes = take(12, at);
        return Decoder::append(block, d_.typeset_value(bytes, 12));
      }
      case TYPE_TUPLE: {
        const uint8_t* bytes = take(12, at);
        return Decoder::append(block, d_.tuple_value(bytes, (h >> kUnitShift) & kTupleCountMask, at));
      }
      case TYPE_MONEY:
        return Decoder::append(block, d_.money_value((h & kNegative) != 0, take(12, at), at));
      case TYPE_ISSUE:
        return Decoder::append(block, d_.global_word(TYPE_ISSUE, next(), at));
      case TYPE_WORD:
      case TYPE_SET_WORD:
      case TYPE_LIT_WORD:
      case TYPE_GET_WORD:
      case TYPE_REFINEMENT:
        return word_record(block, h, at);
      case TYPE_CONTEXT: {
        if (d_.codec_q) d_.fail(at);
        ContextForm form = context_form(h, at);
        NodeId context = d_.make_context(form, at);
        uint32_t position = Decoder::append(block, d_.context_object(context));
        if (form.values) values(context, at);
        return position;
      }
      case TYPE_OBJECT:
        if (shared) return Decoder::append(block, d_.shared_owner(TYPE_OBJECT, reference(), at));
        return object(block, h, nullptr, at);
      case TYPE_FUNCTION:
        if (shared) return Decoder::append(block, d_.shared_owner(TYPE_FUNCTION, reference(), at));
        return function(block, nullptr, at);
      case TYPE_ERROR: {
        Cell error = d_.make_error(next(), at);
        uint32_t position = Decoder::append(block, error);
        for (uint32_t field = 0; field < 6; ++field) {
          const uint8_t* field_at = p_;
          record(d_.open_error_field(error, field, field_at));
          d_.close_error_field(error, field, field_at);
        }
        return position;
      }
      case TYPE_NATIVE:
      case TYPE_ACTION:
        return builtin(block, type, at);
      case TYPE_OP: {
        uint32_t position = Decoder::cell_count(block);
        const uint8_t* wrapped_at = p_;
        record(block);
        if (Decoder::cell_count(block) != position + 1) d_.fail(wrapped_at);
        d_.make_op(block, position, (h >> kOpShift) & kTypeMask, at);
        return position;
      }
      case TYPE_ROUTINE:
      case TYPE_TRIPLE:
      case TYPE_HANDLE:
      case TYPE_PORT:
      case TYPE_EVENT: {
        Cell datatype = make_cell(TYPE_DATATYPE, type);
        fire(ErrorId::access_no_codec, &datatype);
      }
      case TYPE_BITSET: {
        if (shared) return Decoder::append(block, d_.shared(type, 0, reference(), at));
        const uint8_t* length_at = p_;
        uint32_t length = next();
        return Decoder::append(block, d_.bitset_value((h & kComplemented) != 0, take(length, length_at), length));
      }
      case TYPE_MAP: {
        if (shared) return Decoder::append(block, d_.shared(type, 0, reference(), at));
        const uint8_t* count_at = p_;
        uint32_t n = count();
        Cell map = d_.begin_map(n, count_at);
        uint32_t position = Decoder::append(block, map);
        contents(map.data2, n, at);
        d_.finish_map(map, at);
        return position;
      }
      default:
        break;
    }
    if (is_headed_series(type))
      return series(block, h, shared, at);
    d_.fail(at);
  }

  uint32_t series(NodeId block, uint32_t h, bool shared, const uint8_t* at) {
    TypeId type = h & kTypeMask;
    uint32_t head_index = head();
    if (type == TYPE_IMAGE) {
      // No image! value can be made here: the record is checked as far as
      // its size, then refused.
      if (shared) d_.fail(at);
      const uint8_t* size_at = p_;
      uint32_t size = next();
      if (uint64_t{size & 0xFFFF} * (size >> 16) * 4 > d_.bytes_left(p_)) d_.fail(size_at);
      d_.image_record(at);
    }
    if (shared) return Decoder::append(block, d_.shared(type, head_index, reference(), at));
    if (is_block_family(type) || type == TYPE_HASH) {
      uint32_t n = count();
      Cell made = type == TYPE_HASH ? d_.begin_hash(head_index, n) : make_cell(type, head_index, Decoder::new_block(n), 0);
      uint32_t position = Decoder::append(block, made);
      contents(made.data2, n, at);
      if (type == TYPE_HASH) d_.finish_hash(made);
      return position;
    }
    uint32_t unit = (h >> kUnitShift) & kUnitMask;
    const uint8_t* length_at = p_;
    uint32_t length = next();
    if (type == TYPE_BINARY) {
      if (unit != 1 && unit != 0) d_.fail(at);
      return Decoder::append(block, d_.binary_value(head_index, take(length, length_at), length));
    }
    if (type == TYPE_VECTOR) {
      uint32_t element_type = next();
      if (unit != 1 && unit != 2 && unit != 4 && unit != 8) d_.fail(at);
      const uint8_t* bytes = take(uint64_t{length} * unit, length_at);
      return Decoder::append(block, d_.vector_value(head_index, element_type, unit, bytes, length, at));
    }
    if (unit != 1 && unit != 2 && unit != 4) d_.fail(at);
    const uint8_t* units = take(uint64_t{length} * unit, length_at);
    return Decoder::append(block, d_.text_value(type, head_index, units, length, unit, length_at));
  }

  // The header word of a context record, read by the caller, then the
  // word count and the symbol indexes.
  ContextForm context_form(uint32_t h, const uint8_t* at) {
    if ((h & kTypeMask) != TYPE_CONTEXT) d_.fail(at);
    ContextForm form;
    form.kind = (h >> kKindShift) & 3;
    form.self = (h & kSelf) != 0;
    form.stack = (h & kStackValues) != 0;
    form.values = (h & kValuesFollow) != 0 && !form.stack;
    uint32_t n = count();
    form.symbols.reserve(n);
    for (uint32_t i = 0; i < n; ++i) {
      const uint8_t* symbol_at = p_;
      form.symbols.push_back(d_.symbol(next(), symbol_at));
    }
    return form;
  }

  ContextForm context_record() {
    const uint8_t* at = p_;
    return context_form(next(), at);
  }

  void values(NodeId context, const uint8_t* at) {
    NodeId values_node = context::values_node(context);
    memory::buffer_of(values_node)->tail = memory::buffer_of(values_node)->offset;
    contents(values_node, context::word_count(context), at);
  }

  uint32_t object(NodeId block, uint32_t h, PendingWord* binding, const uint8_t* at) {
    auto class_id = static_cast<int32_t>(next());
    bool handlers = (h & kHandlers) != 0;
    int32_t on_change = -1;
    int32_t on_deep_change = -1;
    if (handlers) {
      on_change = static_cast<int32_t>(next());
      on_deep_change = static_cast<int32_t>(next());
    }
    ContextForm form = context_record();
    NodeId context = d_.make_context(form, at);
    Cell object = d_.begin_object(context, class_id, handlers, on_change, on_deep_change, at);
    uint32_t position = 0;
    if (binding != nullptr) {
      bind_pending(*binding, context, at);
    } else {
      position = Decoder::append(block, object);
    }
    if (form.values) values(context, at);
    d_.finish_object(object);
    return position;
  }

  uint32_t function(NodeId block, PendingWord* binding, const uint8_t* at) {
    const uint8_t* capacity_at = p_;
    uint32_t spec_capacity = next();
    uint32_t body_capacity = next();
    ContextForm form = context_record();
    NodeId context = d_.make_context(form, at);
    Cell function = d_.begin_function(context, spec_capacity, body_capacity, capacity_at);
    uint32_t position = 0;
    NodeId home = 0;
    if (binding != nullptr) {
      bind_pending(*binding, context, at);
    } else {
      home = block;
      position = Decoder::append(block, function);
    }
    function_block(&function, home, position, true);
    d_.check_function(function, at);
    function_block(&function, home, position, false);
    return position;
  }

  void function_block(Cell* function, NodeId home, uint32_t position, bool spec) {
    const uint8_t* at = p_;
    Decoder::Nesting nesting(d_, at);
    uint32_t h = header();
    at = p_ - 4;
    if ((h & kTypeMask) != TYPE_BLOCK) d_.fail(at);
    head();
    if ((h & kShared) != 0) {
      Cell target = reference();
      if (spec) d_.share_spec(function, home, position, target, at);
      else d_.share_body(*function, target, at);
      return;
    }
    uint32_t n = count();
    contents(spec ? Decoder::spec_node(*function) : Decoder::body_node(*function), n, at);
  }

  uint32_t builtin(NodeId block, TypeId type, const uint8_t* at) {
    uint32_t number = next();
    if (d_.codec_q) {
      uint32_t position = Decoder::cell_count(block);
      record(block);
      d_.make_builtin_at(block, position, type, number, at);
      return position;
    }
    uint32_t position = Decoder::append(block, make_cell(TYPE_NONE));
    record(block);
    if (Decoder::cell_count(block) < position + 2) d_.fail(at);
    Cell made = d_.builtin_value(type, number, *Decoder::cell_at(block, position + 1), at);
    *Decoder::cell_at(block, position) = made;
    return position;
  }

  uint32_t word_record(NodeId block, uint32_t h, const uint8_t* at) {
    TypeId type = h & kTypeMask;
    const uint8_t* symbol_at = p_;
    uint32_t symbol_index = next();
    auto index = static_cast<int32_t>(next());
    if ((h & kGlobal) != 0) {
      if ((h & kShared) != 0) d_.fail(at);
      return Decoder::append(block, d_.global_word(type, symbol_index, symbol_at));
    }
    if (!d_.codec_q) {
      uint32_t number = next();
      return Decoder::append(block, d_.numbered_word(type, symbol_index, number, index, at));
    }
    if ((h & kShared) != 0) {
      NodeId context = d_.target_context(reference(), at);
      return Decoder::append(block, d_.context_word(type, symbol_index, context, index, at));
    }
    d_.symbol(symbol_index, symbol_at);
    PendingWord pending{block, Decoder::append(block, make_cell(TYPE_NONE)), type, symbol_index, index};
    const uint8_t* owner_at = p_;
    uint32_t owner = next();
    if ((owner & (kTypeMask | kShared)) == TYPE_OBJECT) {
      object(block, owner, &pending, owner_at);
    } else if ((owner & (kTypeMask | kShared)) == TYPE_FUNCTION) {
      function(block, &pending, owner_at);
    } else {
      d_.fail(owner_at);
    }
    return pending.position;
  }

  void bind_pending(const PendingWord& pending, NodeId context, const uint8_t* at) {
    *Decoder::cell_at(pending.block, pending.position) =
        d_.context_word(pending.type, pending.symbol_index, context, pending.index, at);
  }
};

// ---------------------------------------------------------------------------
// Writing

class Writer {
 public:
  explicit Writer(Encoder& encoder) : e_(encoder), out_(encoder.records) {}

  void value(const Cell& cell, bool counted = true) {
    Encoder::Nesting nesting(e_);
    uint32_t line = cell.new_line() ? kNewLine : 0;
    TypeId type = cell.type();
    switch (type) {
      case TYPE_UNSET:
      case TYPE_NONE:
        put(type | line);
        break;
      case TYPE_DATATYPE:
      case TYPE_LOGIC:
        put(type | line);
        put(cell.data1);
        break;
      case TYPE_CHAR:
      case TYPE_INTEGER:
        put(type | line);
        put(cell.data2);
        break;
      case TYPE_PAIR:
        put(type | line);
        put(cell.data2);
        put(cell.data3);
        break;
      case TYPE_POINT2D:
        put(type | line);
        put(cell.data1);
        put(cell.data2);
        break;
      case TYPE_POINT3D:
      case TYPE_TYPESET:
        put(type | line);
        put(cell.data1);
        put(cell.data2);
        put(cell.data3);
        break;
      case TYPE_FLOAT:
      case TYPE_PERCENT:
      case TYPE_TIME:
        // The record starts on a multiple of 8 bytes of the records area.
        if (out_.size() % 8 != 0) put(0);
        put(type | line);
        put(cell.data3);
        put(cell.data2);
        break;
      case TYPE_DATE:
        put(type | line);
        put(cell.data1);
        put(cell.data3);
        put(cell.data2);
        break;
      case TYPE_TUPLE:
        put(type | line | tuple::size_of(cell) << kUnitShift);
        put(cell.data1);
        put(cell.data2);
        put(cell.data3);
        break;
      case TYPE_MONEY:
        put(type | line | (money::sign_bit(cell) ? kNegative : 0));
        put(cell.data1);
        put(cell.data2);
        put(cell.data3);
        break;
      case TYPE_ISSUE:
        put(type | line);
        put(e_.symbol_index(cell.data2));
        break;
      case TYPE_WORD:
      case TYPE_SET_WORD:
      case TYPE_LIT_WORD:
      case TYPE_GET_WORD:
      case TYPE_REFINEMENT:
        word_record(cell, line);
        break;
      case TYPE_OBJECT:
        object(cell, line);
        break;
      case TYPE_FUNCTION:
        function(cell, line);
        break;
      case TYPE_ERROR:
        error(cell, line);
        break;
      case TYPE_NATIVE:
      case TYPE_ACTION:
        put(type | line);
        put(cell.data1);
        value(block::make_value(cell.data2), false);
        break;
      case TYPE_OP: {
        TypeId source = native::op_source_type(cell);
        if (source != TYPE_NATIVE && source != TYPE_ACTION && source != TYPE_FUNCTION) Encoder::no_codec(cell);
        put(type | line | source << kOpShift);
        Cell wrapped = cell;
        wrapped.header = source;
        value(wrapped, false);
        break;
      }
      default:
        if (is_written_series(type)) {
          series(cell, line);
          break;
        }
        Encoder::no_codec(cell);
    }
    if (counted) e_.count();
  }

  // The records area ends on a whole word, as the fixed words of every
  // record do.
 private:
  Encoder& e_;
  std::vector<uint8_t>& out_;
  std::vector<uint32_t> path_;

  void put(uint32_t value) {
    uint8_t bytes[4];
    store_u32(bytes, value);
    out_.insert(out_.end(), bytes, bytes + 4);
  }
  void raw(const uint8_t* bytes, uint64_t count) {
    out_.insert(out_.end(), bytes, bytes + count);
    out_.resize(out_.size() + (padded(count) - count), 0);
  }
  void reference(uint32_t entry) {
    e_.path_of(entry, &path_);
    put(kReferenceType);
    put(static_cast<uint32_t>(path_.size()));
    for (uint32_t index : path_) put(index);
  }

  void series(const Cell& cell, uint32_t line) {
    TypeId type = cell.type();
    NodeId node = cell.data2;
    SeriesBuffer* buffer = memory::buffer_of(node);
    uint32_t unit = buffer->unit() == 0 ? 1 : buffer->unit();
    uint32_t entry = e_.find(node);
    uint32_t h = type | line | (entry != 0 ? kShared : 0);
    bool raw_bytes = is_text_family(type) || type == TYPE_BINARY || type == TYPE_VECTOR;
    if (raw_bytes) h |= unit << kUnitShift;
    if (type == TYPE_BITSET && (buffer->flags & series_flags::kBitsetComplement) != 0) h |= kComplemented;
    put(h);
    if (type != TYPE_MAP && type != TYPE_BITSET) put(cell.data1);
    if (entry != 0) {
      reference(entry);
      return;
    }
    Encoder::Inside inside(e_, e_.remember(node));
    if (is_block_family(type) || type == TYPE_HASH) {
      uint32_t n = memory::buffer_of(node)->cell_count();
      put(n);
      for (uint32_t i = 0; i < n; ++i) {
        Cell item = memory::buffer_of(node)->cells()[i];
        value(item);
      }
    } else if (type == TYPE_MAP) {
      uint32_t cells = memory::buffer_of(node)->cell_count() & ~1u;
      uint32_t live = 0;
      for (uint32_t i = 0; i < cells; i += 2)
        if (!memory::buffer_of(node)->cells()[i + 1].is(TYPE_VALUE)) ++live;
      put(2 * live);
      for (uint32_t i = 0; i < cells; i += 2) {
        if (memory::buffer_of(node)->cells()[i + 1].is(TYPE_VALUE)) continue;
        Cell key = memory::buffer_of(node)->cells()[i];
        value(key);
        Cell item = memory::buffer_of(node)->cells()[i + 1];
        value(item);
      }
    } else {
      uint32_t length = buffer->used() / unit;
      put(length);
      if (type == TYPE_VECTOR) put(cell.data3);
      raw(buffer->head_ptr(), uint64_t{length} * unit);
    }
  }

  void context_record(NodeId context, const ContextForm& form) {
    uint32_t h = TYPE_CONTEXT | form.kind << kKindShift | (form.self ? kSelf : 0) | (form.stack ? kStackValues : 0) |
                 (form.values ? kValuesFollow : 0);
    put(h);
    put(static_cast<uint32_t>(form.symbols.size()));
    for (uint32_t symbol : form.symbols) put(e_.symbol_index(symbol));
    if (form.values) {
      for (uint32_t i = 0; i < form.symbols.size(); ++i) {
        Cell item = context::values_head(context)[i];
        value(item);
      }
    }
  }

  void object(const Cell& cell, uint32_t line) {
    bool handlers = object::handlers_of(cell) != 0;
    uint32_t entry = e_.find(object::context_of(cell));
    put(TYPE_OBJECT | line | (handlers ? kHandlers : 0) | (entry != 0 ? kShared : 0));
    if (entry != 0) {
      reference(entry);
      return;
    }
    object_payload(cell);
  }

  void object_payload(const Cell& cell) {
    NodeId context = object::context_of(cell);
    put(object::class_of(cell));
    if (object::handlers_of(cell) != 0) {
      int32_t on_change, on_deep_change;
      Encoder::handler_indexes(cell, &on_change, &on_deep_change);
      put(static_cast<uint32_t>(on_change));
      put(static_cast<uint32_t>(on_deep_change));
    }
    ContextForm form = Encoder::context_form(context);
    Encoder::Inside inside(e_, e_.remember(context));
    context_record(context, form);
  }

  void function(const Cell& cell, uint32_t line) {
    uint32_t entry = e_.find(function::context_of(cell));
    put(TYPE_FUNCTION | line | (entry != 0 ? kShared : 0));
    if (entry != 0) {
      reference(entry);
      return;
    }
    function_payload(cell);
  }

  void function_payload(const Cell& cell) {
    NodeId context = function::context_of(cell);
    Cell spec = block::make_value(cell.data2);
    Cell body = *function::info(cell, function::kInfoBody);
    put(memory::buffer_of(spec.data2)->cell_count());
    put(body.is(TYPE_BLOCK) ? memory::buffer_of(body.data2)->cell_count() : 0);
    Encoder::Inside inside(e_, e_.remember(context));
    context_record(context, Encoder::context_form(context));
    value(spec);
    if (body.is(TYPE_BLOCK)) {
      value(body);
    } else {
      put(TYPE_BLOCK);
      put(0);
      put(0);
      e_.count();
    }
  }

  void error(const Cell& cell, uint32_t line) {
    NodeId context = cell.data1;
    uint32_t entry = context != 0 ? e_.find(context) : 0;
    if (entry != 0) {
      // The same error met again is the same value: a copy of the first.
      e_.path_of(entry, &path_);
      put(kReferenceType | line);
      put(static_cast<uint32_t>(path_.size()));
      for (uint32_t index : path_) put(index);
      return;
    }
    ErrorId id = kel::error_value::id_of(cell);
    const ErrorInfo& info = error_info(id);
    put(TYPE_ERROR | line);
    put(static_cast<uint32_t>(category_info(info.category).code + info.number));
    Encoder::Inside inside(e_, e_.remember(context));
    for (uint32_t field = kel::error_value::kArg1; field <= kel::error_value::kStack; ++field)
      value(kel::error_value::field(cell, static_cast<kel::error_value::Field>(field)));
  }

  void word_record(const Cell& cell, uint32_t line) {
    TypeId type = cell.type();
    uint32_t symbol_index = e_.symbol_index(cell.data2);
    Cell owner;
    if (!Encoder::bound_owner(cell, &owner)) {
      put(type | line | kGlobal);
      put(symbol_index);
      put(cell.data1 == context::global() ? cell.data3 : static_cast<uint32_t>(-1));
      return;
    }
    uint32_t entry = e_.find(cell.data1);
    put(type | line | (entry != 0 ? kShared : 0));
    put(symbol_index);
    put(cell.data3);
    if (entry != 0) {
      reference(entry);
      return;
    }
    if (owner.is(TYPE_OBJECT)) {
      put(TYPE_OBJECT | (object::handlers_of(owner) != 0 ? kHandlers : 0));
      object_payload(owner);
    } else {
      put(TYPE_FUNCTION);
      function_payload(owner);
    }
  }
};

}  // namespace

void read_fixed(Decoder& decoder, const uint8_t* records, const uint8_t* end) {
  decoder.records_end = end;
  Reader(decoder, records).records(decoder.destination);
}

void write_fixed(Encoder& encoder, const Cell& value) { Writer(encoder).value(value); }

}  // namespace kel::kelbin
