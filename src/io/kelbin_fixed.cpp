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
#include "datatypes/image.h"
#include "datatypes/money.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "io/kelbin_walk.h"
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

class Reader : public RecordReader<Reader> {
 public:
  Reader(Decoder& decoder, const uint8_t* position) : RecordReader(decoder, position) {}

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
  friend class RecordReader<Reader>;
  // Every number field is a word.
  static constexpr uint32_t kNumberBytes = 4;

  uint32_t next() {
    d_.need(p_, 4);
    uint32_t value = load_u32(p_);
    p_ += 4;
    return value;
  }
  uint32_t number() { return next(); }
  int32_t signed_number() { return static_cast<int32_t>(next()); }
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
    return path(at);
  }

  // A header word, padding words passed over.
  uint32_t header() {
    for (;;) {
      uint32_t value = next();
      if (value != 0) return value;
    }
  }

  // No record is read without its header word.
  static uint32_t quick_records(NodeId, uint32_t) { return 0; }

  void record(NodeId block) {
    const uint8_t* at = p_;
    Decoder::Nesting nesting(d_, at);
    uint32_t h = header();
    at = p_ - 4;
    uint32_t type = h & kTypeMask;
    uint32_t position;
    if (type == kReferenceType) {
      // A 0xFF record: the path follows its header.
      position = Decoder::append(block, path(at));
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
      case TYPE_CONTEXT:
        if (d_.codec_q) d_.fail(at);
        return context_value(block, context_form(h, at), at);
      case TYPE_OBJECT:
        if (shared) return Decoder::append(block, d_.shared_owner(TYPE_OBJECT, reference(), at));
        return object(block, (h & kHandlers) != 0, nullptr, at);
      case TYPE_FUNCTION:
        if (shared) return Decoder::append(block, d_.shared_owner(TYPE_FUNCTION, reference(), at));
        return function(block, nullptr, at);
      case TYPE_ERROR:
        return error(block, at);
      case TYPE_NATIVE:
      case TYPE_ACTION:
        return builtin(block, type, at);
      case TYPE_OP:
        return op(block, (h >> kOpShift) & kTypeMask, at);
      case TYPE_ROUTINE:
      case TYPE_TRIPLE:
      case TYPE_HANDLE:
      case TYPE_PORT:
      case TYPE_EVENT:
        no_codec(type);
      case TYPE_BITSET: {
        if (shared) return Decoder::append(block, d_.shared(type, 0, reference(), at));
        const uint8_t* length_at = p_;
        uint32_t length = next();
        return Decoder::append(block, d_.bitset_value((h & kComplemented) != 0, take(length, length_at), length));
      }
      case TYPE_MAP:
        return map(block, shared, at);
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
    // A shared series is rare in data: the branch stays out of the way of the contents.
    if (shared) [[unlikely]] return Decoder::append(block, d_.shared(type, head_index, reference(), at));
    if (is_block_family(type) || type == TYPE_HASH) return container(block, type, head_index, at);
    if (type == TYPE_IMAGE) {
      uint32_t size = next();
      uint32_t width = size & 0xFFFF;
      uint32_t height = size >> 16;
      d_.check_image_size(width, height, p_, at);
      const uint8_t* pixels = take(uint64_t{width} * height * 4, at);
      return Decoder::append(block, d_.image_value(head_index, width, height, pixels));
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
    uint32_t n = count(kNumberBytes);
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

  // A function's spec or body record: a block header word (padding passed
  // over), then the head (passed over).
  bool block_header(const uint8_t** at) {
    uint32_t h = header();
    *at = p_ - 4;
    if ((h & kTypeMask) != TYPE_BLOCK) d_.fail(*at);
    head();
    return (h & kShared) != 0;
  }

  // A bound word's owner: a header word, never shared.
  uint32_t owner_header(bool* handlers) {
    uint32_t owner = next();
    *handlers = (owner & kHandlers) != 0;
    return owner & (kTypeMask | kShared);
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
    return bound_word(block, type, symbol_index, index, (h & kShared) != 0, symbol_at, at);
  }
};

// ---------------------------------------------------------------------------
// Writing

class Writer : public RecordWriter<Writer> {
 public:
  explicit Writer(Encoder& encoder) : RecordWriter(encoder) {}

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
        word(cell, line);
        break;
      case TYPE_OBJECT:
      case TYPE_FUNCTION:
        owner(cell, line);
        break;
      case TYPE_ERROR:
        error(cell, line);
        break;
      case TYPE_NATIVE:
      case TYPE_ACTION:
        put(type | line);
        builtin_payload(cell);
        break;
      case TYPE_OP: {
        TypeId source = op_source(cell);
        put(type | line | source << kOpShift);
        op_wrapped(cell, source);
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
  friend class RecordWriter<Writer>;

  void put(uint32_t value) {
    uint8_t bytes[4];
    store_u32(bytes, value);
    out_.insert(out_.end(), bytes, bytes + 4);
  }
  void header(TypeId type, uint32_t line) { put(type | line); }
  void number(uint32_t value) { put(value); }
  void signed_number(int32_t value) { put(static_cast<uint32_t>(value)); }
  void raw(const uint8_t* bytes, uint64_t count) {
    out_.insert(out_.end(), bytes, bytes + count);
    out_.resize(out_.size() + (padded(count) - count), 0);
  }
  // A reference record after the fixed words of a shared record.
  void reference(uint32_t entry) {
    put(kReferenceType);
    path(entry);
  }
  void copy_reference(uint32_t entry, uint32_t line) {
    put(kReferenceType | line);
    path(entry);
  }

  // The header word (unit size, complement, shared), then the head.
  void series_header(const Cell& cell, bool shared, uint32_t line) {
    TypeId type = cell.type();
    SeriesBuffer* buffer = memory::buffer_of(cell.data2);
    uint32_t unit = buffer->unit() == 0 ? 1 : buffer->unit();
    uint32_t h = type | line | (shared ? kShared : 0);
    bool raw_bytes = is_text_family(type) || type == TYPE_BINARY || type == TYPE_VECTOR;
    if (raw_bytes) h |= unit << kUnitShift;
    if (type == TYPE_BITSET && (buffer->flags & series_flags::kBitsetComplement) != 0) h |= kComplemented;
    put(h);
    if (type != TYPE_MAP && type != TYPE_BITSET) put(cell.data1);
  }
  void series_bytes(const Cell& cell) {
    if (cell.type() == TYPE_IMAGE) {
      // The node's size word, then its pixels from the top-left one.
      uint32_t size = image::size_word_of(cell.data2);
      put(size);
      raw(memory::buffer_of(cell.data2)->head_ptr(), uint64_t{size & 0xFFFF} * (size >> 16) * 4);
      return;
    }
    SeriesBuffer* buffer = memory::buffer_of(cell.data2);
    uint32_t unit = buffer->unit() == 0 ? 1 : buffer->unit();
    uint32_t length = buffer->used() / unit;
    put(length);
    if (cell.type() == TYPE_VECTOR) put(cell.data3);
    raw(buffer->head_ptr(), uint64_t{length} * unit);
  }

  void context_description(const ContextForm& form) {
    uint32_t h = TYPE_CONTEXT | form.kind << kKindShift | (form.self ? kSelf : 0) | (form.stack ? kStackValues : 0) |
                 (form.values ? kValuesFollow : 0);
    put(h);
    put(static_cast<uint32_t>(form.symbols.size()));
    for (uint32_t symbol : form.symbols) put(e_.symbol_index(symbol));
  }

  void owner_header(TypeId type, bool handlers, bool shared, uint32_t line) {
    put(type | line | (handlers ? kHandlers : 0) | (shared ? kShared : 0));
  }
  // Header, head and count.
  void empty_block() {
    put(TYPE_BLOCK);
    put(0);
    put(0);
  }

  // A global word keeps its index in the global context (-1 for a word
  // bound nowhere the records can name).
  void global_word(const Cell& cell, uint32_t symbol_index, uint32_t line) {
    put(cell.type() | line | kGlobal);
    put(symbol_index);
    put(cell.data1 == context::global() ? cell.data3 : static_cast<uint32_t>(-1));
  }
  void bound_word_header(TypeId type, bool shared, uint32_t line) { put(type | line | (shared ? kShared : 0)); }
};

}  // namespace

void read_fixed(Decoder& decoder, const uint8_t* records, const uint8_t* end) {
  Reader::read(decoder, records, end);
}

void write_fixed(Encoder& encoder, const Cell& value) { Writer(encoder).value(value); }

}  // namespace kel::kelbin
