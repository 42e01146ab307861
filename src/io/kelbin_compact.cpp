// The compact kelbin layout: its records, read and written (see kelbin.h
// for the container around them).
//
// A record is zero or more prefix bytes, a lead byte and a payload:
//
//   0xC0          prefix: the value starts a new line
//   0xC1          prefix: shared, a reference path in place of the contents
//                 (series, object!, function!, the binding of a word)
//   0xC4          prefix, boot mode only: bind, a word and the value it is
//                 set to, both then dropped
//   0x00-0x7F     type byte: datatype id in bits 0-5 (63: the id follows as
//                 a uleb), bit 6 the short form S
//   0x80-0xBF     the integer! 0 to 63
//   0xC2, 0xC3    true, false
//   0xFF          a reference path: a copy of the value found there
//
// Integers in payloads are unsigned LEB128 (uleb, at most five bytes, the
// fifth below 0x10) or zigzag (a signed number folded into a uleb). Text is
// stored in its units (1, 2 or 4 bytes, little-endian code points), never as
// UTF-8. A series record has its head when S is set; a word record its
// binding when S is set (otherwise it is bound to the global context).
//
// The reader keeps a position in the records area and checks every read
// against the area's end; the writer appends to the encoder's bytes. Both
// visit a value's parts in the same order: the record indexes a reference
// path counts are the order the reader appends in.
#include <cmath>
#include <cstring>

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
#include "runtime/string_buffer.h"
#include "runtime/stack.h"
#include "io/kelbin_walk.h"
#include "runtime/errors.h"

namespace kel::kelbin {

namespace {

constexpr uint8_t kNewLinePrefix = 0xC0;
constexpr uint8_t kSharedPrefix = 0xC1;
constexpr uint8_t kTrueByte = 0xC2;
constexpr uint8_t kFalseByte = 0xC3;
constexpr uint8_t kBindPrefix = 0xC4;
constexpr uint8_t kReferenceByte = 0xFF;
constexpr uint8_t kSmallInteger = 0x80;
constexpr uint8_t kShortForm = 0x40;
constexpr uint32_t kIdMask = 0x3F;
constexpr uint32_t kLongId = 63;
// Context description flags.
constexpr uint8_t kKindMask = 3;
constexpr uint8_t kStackValues = 4;
constexpr uint8_t kSelf = 8;
constexpr uint8_t kValuesFollow = 16;

// The short form of a float! or time!: a whole number of the 32-bit range
// (negative zero and NaN never).
bool short_float(double value, int32_t* n) {
  if (!(value >= -2147483000.0 && value <= 2147483000.0)) return false;
  if (value != std::trunc(value) || (value == 0.0 && std::signbit(value))) return false;
  *n = static_cast<int32_t>(value);
  return true;
}

// The short form of a percent!: a whole number of hundredths.
bool short_percent(double value, int32_t* n) {
  if (!(value >= -21474836.0 && value <= 21474836.0) || (value == 0.0 && std::signbit(value))) return false;
  double scaled = value * 100.0;
  double rounded = value >= 0 ? std::trunc(scaled + 0.5) : std::trunc(scaled - 0.5);
  if (rounded / 100.0 != value) return false;
  *n = static_cast<int32_t>(rounded);
  return true;
}

// ---------------------------------------------------------------------------
// Reading

class Reader : public RecordReader<Reader> {
 public:
  Reader(Decoder& decoder, const uint8_t* position) : RecordReader(decoder, position) {}

  void records(NodeId block) {
    while (p_ < d_.records_end) record(block);
  }

 private:
  friend class RecordReader<Reader>;
  // The smallest number field: a one-byte uleb.
  static constexpr uint32_t kNumberBytes = 1;

  uint8_t byte() {
    d_.need(p_, 1);
    return *p_++;
  }
  // Inlined where it is read, as in the record loop: a call per number
  // costs more than the loop itself.
  [[gnu::always_inline]] uint32_t uleb() {
    const uint8_t* at = p_;
    uint32_t value;
    if (!quick_uleb(&p_, d_.records_end, &value)) d_.fail(at);
    return value;
  }
  int32_t zigzag() { return zigzag_decode(uleb()); }
  uint32_t number() { return uleb(); }
  int32_t signed_number() { return zigzag(); }
  uint32_t u32() {
    d_.need(p_, 4);
    uint32_t value = load_u32(p_);
    p_ += 4;
    return value;
  }
  const uint8_t* take(uint64_t bytes) {
    d_.need(p_, bytes);
    const uint8_t* at = p_;
    p_ += bytes;
    return at;
  }

  Cell reference() { return path(p_); }

  // A uleb at *p, at most five bytes before end, the fifth below 0x10:
  // false, having moved nothing, when it is cut short or too large.
  [[gnu::always_inline]] static bool quick_uleb(const uint8_t** p, const uint8_t* end, uint32_t* value) {
    const uint8_t* q = *p;
    if (q < end && *q < 0x80) [[likely]] {
      *value = *q;
      *p = q + 1;
      return true;
    }
    uint32_t v = 0;
    for (uint32_t shift = 0;; shift += 7) {
      if (q >= end) return false;
      uint8_t next = *q++;
      if (shift == 28 && next >= 0x10) return false;
      v |= uint32_t{next & 0x7Fu} << shift;
      if ((next & 0x80) == 0) break;
    }
    *value = v;
    *p = q;
    return true;
  }

  // Reads up to count records into the block while they are of the forms
  // most data is made of, without the call of a whole record: integers,
  // floats, logic values, none, words bound to the global context, and
  // strings of 1-byte units and blocks without a head, alone or after the
  // new-line prefix. Answers how many it read; the position is then at the
  // first record of another form, or at one that a check refuses, which
  // record() reads again and refuses where it always does. The caller
  // checked that a leaf fits in the nesting; a block takes its own guard,
  // as record() does.
  //
  // The block's buffer stays where it is meanwhile: nothing here grows it
  // but its own appends, and the records read inside a nested block append
  // to that block. Its tail is kept up to date, so that a reference path
  // read inside a nested block finds every cell appended before.
  uint32_t quick_records(NodeId block, uint32_t count) {
    const uint8_t* p = p_;
    const uint8_t* const end = d_.records_end;
    SeriesBuffer* buffer = memory::buffer_of(block);
    uint32_t done = 0;
    for (; done < count; ++done) {
      if (p >= end) break;
      const uint8_t* const record_at = p;
      uint8_t lead = *p;
      uint32_t new_line = 0;
      if (lead == kNewLinePrefix) {
        if (p + 1 >= end) break;
        lead = *++p;
        new_line = flags::kNewLine;
      }
      const uint8_t* const lead_at = p++;
      Cell cell;
      if (lead >= TYPE_WORD && lead <= TYPE_ISSUE) {
        uint32_t symbol_index;
        if (!quick_uleb(&p, end, &symbol_index)) {
          p = record_at;
          break;
        }
        cell = d_.global_word(lead, symbol_index, lead_at + 1);
      } else if (lead >= kSmallInteger && lead < kNewLinePrefix) {
        cell = make_cell(TYPE_INTEGER, 0, lead & kIdMask);
      } else if (lead == TYPE_INTEGER) {
        uint32_t folded;
        if (!quick_uleb(&p, end, &folded)) {
          p = record_at;
          break;
        }
        cell = make_cell(TYPE_INTEGER, 0, static_cast<uint32_t>(zigzag_decode(folded)));
      } else if (lead == TYPE_FLOAT) {
        // Cut short, the record fails at the half that is missing.
        if (end - p < 8) {
          p = record_at;
          break;
        }
        cell = make_cell(TYPE_FLOAT);
        std::memcpy(&cell.data2, p, 8);
        p += 8;
      } else if (lead == TYPE_STRING) {
        // The unit (bits 0-1, 0 for 1 byte) and the length in one uleb.
        uint32_t form;
        if (!quick_uleb(&p, end, &form) || (form & 3) != 0 || form >> 2 > static_cast<uint64_t>(end - p)) {
          p = record_at;
          break;
        }
        uint32_t length = form >> 2;
        NodeId node = memory::alloc_codepoints(length, 1);
        SeriesBuffer* text = memory::buffer_of(node);
        std::memcpy(text->data(), p, length);
        text->tail = length;
        p += length;
        cell = string::make_value(node);
      } else if (lead == TYPE_BLOCK) {
        p_ = p;
        {
          Decoder::Nesting nesting(d_, record_at);
          container(block, TYPE_BLOCK, 0, lead_at);
        }
        p = p_;
        buffer = memory::buffer_of(block);
        Cell* made = reinterpret_cast<Cell*>(buffer->tail_ptr()) - 1;
        made->header |= new_line;
        continue;
      } else if (lead == kTrueByte || lead == kFalseByte) {
        cell = make_cell(TYPE_LOGIC, lead == kTrueByte ? 1 : 0);
      } else if (lead == TYPE_NONE) {
        cell = make_cell(TYPE_NONE);
      } else {
        p = record_at;
        break;
      }
      cell.header |= new_line;
      if (buffer->room() >= sizeof(Cell)) [[likely]] {
        *reinterpret_cast<Cell*>(buffer->tail_ptr()) = cell;
        buffer->tail += sizeof(Cell);
      } else {
        Decoder::append(block, cell);
        buffer = memory::buffer_of(block);
      }
    }
    p_ = p;
    return done;
  }

  void record(NodeId block) {
    const uint8_t* at = p_;
    Decoder::Nesting nesting(d_, at);
    bool new_line = false;
    bool shared = false;
    bool bind = false;
    uint8_t lead;
    for (;;) {
      at = p_;
      lead = byte();
      if (lead == kNewLinePrefix) {
        new_line = true;
      } else if (lead == kSharedPrefix) {
        shared = true;
      } else if (lead == kBindPrefix) {
        if (d_.codec_q) d_.fail(at);
        bind = true;
      } else {
        break;
      }
    }
    uint32_t position;
    if (lead >= 0x80) {
      if (shared || bind) d_.fail(at);
      if (lead < kNewLinePrefix) {
        position = Decoder::append(block, make_cell(TYPE_INTEGER, 0, lead & kIdMask));
      } else if (lead == kTrueByte || lead == kFalseByte) {
        position = Decoder::append(block, make_cell(TYPE_LOGIC, lead == kTrueByte ? 1 : 0));
      } else if (lead == kReferenceByte) {
        position = Decoder::append(block, reference());
      } else {
        d_.fail(at);
      }
    } else {
      bool short_form = (lead & kShortForm) != 0;
      uint32_t id = lead & kIdMask;
      if (id == kLongId) id = uleb();
      if (id == 0 || (bind && (id < TYPE_WORD || id > TYPE_ISSUE))) d_.fail(at);
      position = value(block, id, short_form, shared, at);
      if (bind) {
        record(block);
        d_.bind(block, position, at);
        return;
      }
    }
    if (new_line) Decoder::cell_at(block, position)->set_new_line(true);
  }

  // The payload of a type byte; the value is appended to the block and
  // its position answered.
  uint32_t value(NodeId block, uint32_t id, bool short_form, bool shared, const uint8_t* at) {
    TypeId type = id;
    if (shared && !d_.sharable(type)) d_.fail(at);
    switch (type) {
      case TYPE_DATATYPE:
        return Decoder::append(block, d_.datatype_value(uleb(), at));
      case TYPE_UNSET:
      case TYPE_NONE:
        return Decoder::append(block, make_cell(type));
      case TYPE_CHAR:
        return Decoder::append(block, d_.char_value(uleb(), at));
      case TYPE_INTEGER:
        return Decoder::append(block, make_cell(TYPE_INTEGER, 0, static_cast<uint32_t>(zigzag())));
      case TYPE_FLOAT:
      case TYPE_TIME:
      case TYPE_PERCENT: {
        double number;
        if (short_form) {
          int32_t n = zigzag();
          number = type == TYPE_PERCENT ? n / 100.0 : static_cast<double>(n);
        } else {
          uint32_t low = u32();
          number = from_halves(low, u32());
        }
        Cell cell = make_cell(type);
        cell.set_double(number);
        return Decoder::append(block, cell);
      }
      case TYPE_CONTEXT:
        // Only the boot image makes contexts of its own; data holds them
        // inside the objects and functions that own them.
        if (d_.codec_q) d_.fail(at);
        return context_value(block, context_form(false), at);
      case TYPE_WORD:
      case TYPE_SET_WORD:
      case TYPE_LIT_WORD:
      case TYPE_GET_WORD:
      case TYPE_REFINEMENT:
        return word(block, type, short_form, shared, at);
      case TYPE_ISSUE:
        return Decoder::append(block, d_.global_word(TYPE_ISSUE, uleb(), at));
      case TYPE_NATIVE:
      case TYPE_ACTION:
        return builtin(block, type, at);
      case TYPE_OP:
        return op(block, 0, at);
      case TYPE_FUNCTION:
        if (shared) return Decoder::append(block, d_.shared_owner(TYPE_FUNCTION, reference(), at));
        return function(block, nullptr, at);
      case TYPE_OBJECT:
        if (shared) return Decoder::append(block, d_.shared_owner(TYPE_OBJECT, reference(), at));
        return object(block, short_form, nullptr, at);
      case TYPE_ROUTINE:
      case TYPE_TRIPLE:
      case TYPE_HANDLE:
      case TYPE_PORT:
      case TYPE_EVENT:
        no_codec(type);
      case TYPE_BITSET: {
        if (shared) return Decoder::append(block, d_.shared(type, 0, reference(), at));
        uint32_t length = count(1);
        return Decoder::append(block, d_.bitset_value(short_form, take(length), length));
      }
      case TYPE_TYPESET: {
        uint32_t length = byte();
        if (length > 12) d_.fail(at);
        return Decoder::append(block, d_.typeset_value(take(length), length));
      }
      case TYPE_ERROR:
        return error(block, at);
      case TYPE_PAIR: {
        int32_t x = zigzag();
        return Decoder::append(block, make_cell(TYPE_PAIR, 0, static_cast<uint32_t>(x), static_cast<uint32_t>(zigzag())));
      }
      case TYPE_TUPLE: {
        uint32_t length = short_form ? byte() : 3;
        if (length < 1 || length > 12) d_.fail(at);
        return Decoder::append(block, d_.tuple_value(take(length), length, at));
      }
      case TYPE_MAP:
        if (short_form) d_.fail(at);
        return map(block, shared, at);
      case TYPE_DATE: {
        uint32_t date_word = u32();
        double time = 0.0;
        if (short_form) {
          uint32_t low = u32();
          time = from_halves(low, u32());
        }
        return Decoder::append(block, d_.date_value(date_word, short_form, time, at));
      }
      case TYPE_MONEY:
        return Decoder::append(block, d_.money_value(short_form, take(12), at));
      case TYPE_POINT2D: {
        uint32_t x = u32();
        return Decoder::append(block, make_cell(TYPE_POINT2D, x, u32(), 0));
      }
      case TYPE_POINT3D: {
        uint32_t x = u32();
        uint32_t y = u32();
        return Decoder::append(block, make_cell(TYPE_POINT3D, x, y, u32()));
      }
      default:
        break;
    }
    if (is_headed_series(type))
      return series(block, type, short_form, shared, at);
    // 13 (symbol!), 14 handled above, 42 (series!) and ids above 54.
    d_.fail(at);
  }

  uint32_t series(NodeId block, TypeId type, bool short_form, bool shared, const uint8_t* at) {
    uint32_t head = 0;
    if (short_form) {
      const uint8_t* head_at = p_;
      head = d_.head(uleb(), head_at);
    }
    // A shared series is rare in data: the branch stays out of the way of the contents.
    if (shared) [[unlikely]] return Decoder::append(block, d_.shared(type, head, reference(), at));
    if (is_block_family(type) || type == TYPE_HASH) return container(block, type, head, at);
    if (type == TYPE_IMAGE) {
      uint32_t width = uleb();
      uint32_t height = uleb();
      d_.check_image_size(width, height, p_, at);
      return Decoder::append(block, d_.image_value(head, width, height, take(uint64_t{width} * height * 4)));
    }
    if (type == TYPE_BINARY) {
      uint32_t length = count(1);
      return Decoder::append(block, d_.binary_value(head, take(length), length));
    }
    if (type == TYPE_VECTOR) {
      const uint8_t* kind_at = p_;
      uint32_t kind = byte();
      uint32_t unit = 1u << (kind & 3);
      uint32_t length = count(unit);
      return Decoder::append(block,
                             d_.vector_value(head, kind >> 2, unit, take(uint64_t{length} * unit), length, kind_at));
    }
    return Decoder::append(block, text(type, head));
  }

  // A text record's contents: the unit and the length in one uleb, then
  // the units.
  Cell text(TypeId type, uint32_t head) {
    const uint8_t* form_at = p_;
    uint32_t form = uleb();
    if ((form & 3) == 3) d_.fail(form_at);
    uint32_t unit = 1u << (form & 3);
    uint32_t length = form >> 2;
    if (length > d_.bytes_left(p_) / unit) d_.fail(form_at);
    return d_.text_value(type, head, take(uint64_t{length} * unit), length, unit, form_at);
  }

  // A context description: kind and flags, then the words (the values are
  // read once the context exists). Inside object! and function! records it
  // opens with a type byte of id 14.
  ContextForm context_form(bool with_type_byte) {
    if (with_type_byte) {
      const uint8_t* type_at = p_;
      uint8_t type = byte();
      if (type >= 0x80 || (type & kIdMask) != TYPE_CONTEXT) d_.fail(type_at);
    }
    uint8_t flags = byte();
    ContextForm form;
    form.kind = flags & kKindMask;
    form.stack = (flags & kStackValues) != 0;
    form.self = (flags & kSelf) != 0;
    form.values = (flags & kValuesFollow) != 0 && !form.stack;
    uint32_t n = count(1);
    form.symbols.reserve(n);
    for (uint32_t i = 0; i < n; ++i) {
      const uint8_t* symbol_at = p_;
      form.symbols.push_back(d_.symbol(uleb(), symbol_at));
    }
    return form;
  }
  ContextForm context_record() { return context_form(true); }

  // A function's spec or body record: prefixes, then a block type byte
  // and the head (passed over).
  bool block_header(const uint8_t** at) {
    bool shared = false;
    uint8_t lead;
    for (;;) {
      *at = p_;
      lead = byte();
      if (lead == kNewLinePrefix) continue;
      if (lead == kSharedPrefix) {
        shared = true;
        continue;
      }
      break;
    }
    if (lead >= 0x80 || (lead & kIdMask) != TYPE_BLOCK) d_.fail(*at);
    if ((lead & kShortForm) != 0) uleb();
    return shared;
  }

  // A bound word's owner: a type byte, its short form the handlers.
  uint32_t owner_header(bool* handlers) {
    const uint8_t* owner_at = p_;
    uint8_t owner = byte();
    if (owner >= 0x80) d_.fail(owner_at);
    *handlers = (owner & kShortForm) != 0;
    return owner & kIdMask;
  }

  uint32_t word(NodeId block, TypeId type, bool short_form, bool shared, const uint8_t* at) {
    const uint8_t* symbol_at = p_;
    uint32_t symbol_index = uleb();
    if (!short_form) {
      if (shared) d_.fail(at);
      return Decoder::append(block, d_.global_word(type, symbol_index, symbol_at));
    }
    if (!d_.codec_q) {
      uint32_t number = uleb();
      int32_t index = zigzag();
      return Decoder::append(block, d_.numbered_word(type, symbol_index, number, index, at));
    }
    int32_t index = zigzag();
    // The binding's owner follows: an object's or a function's payload.
    return bound_word(block, type, symbol_index, index, shared, symbol_at, at);
  }
};

// ---------------------------------------------------------------------------
// Writing

class Writer : public RecordWriter<Writer> {
 public:
  explicit Writer(Encoder& encoder) : RecordWriter(encoder) {}

  void value(const Cell& cell, bool counted = true) {
    Encoder::Nesting nesting(e_);
    if (cell.new_line()) byte(kNewLinePrefix);
    TypeId type = cell.type();
    switch (type) {
      case TYPE_UNSET:
      case TYPE_NONE:
        type_byte(type);
        break;
      case TYPE_DATATYPE:
        type_byte(type);
        uleb(cell.data1);
        break;
      case TYPE_LOGIC:
        byte(cell.data1 != 0 ? kTrueByte : kFalseByte);
        break;
      case TYPE_INTEGER: {
        int32_t n = cell.int_at2();
        if (n >= 0 && n <= 63) {
          byte(static_cast<uint8_t>(kSmallInteger + n));
        } else {
          type_byte(type);
          zigzag(n);
        }
        break;
      }
      case TYPE_CHAR:
        type_byte(type);
        uleb(cell.data2);
        break;
      case TYPE_FLOAT:
      case TYPE_TIME:
      case TYPE_PERCENT: {
        double number = cell.as_double();
        int32_t n;
        if (type == TYPE_PERCENT ? short_percent(number, &n) : short_float(number, &n)) {
          type_byte(type, true);
          zigzag(n);
        } else {
          type_byte(type);
          u32(cell.data2);
          u32(cell.data3);
        }
        break;
      }
      case TYPE_PAIR:
        type_byte(type);
        zigzag(static_cast<int32_t>(cell.data2));
        zigzag(static_cast<int32_t>(cell.data3));
        break;
      case TYPE_POINT2D:
        type_byte(type);
        u32(cell.data1);
        u32(cell.data2);
        break;
      case TYPE_POINT3D:
        type_byte(type);
        u32(cell.data1);
        u32(cell.data2);
        u32(cell.data3);
        break;
      case TYPE_DATE: {
        bool time = date::has_time(cell.data1);
        type_byte(type, time);
        u32(cell.data1);
        if (time) {
          u32(cell.data2);
          u32(cell.data3);
        }
        break;
      }
      case TYPE_TYPESET: {
        const auto* bytes = reinterpret_cast<const uint8_t*>(&cell.data1);
        uint8_t length = 12;
        while (length > 0 && bytes[length - 1] == 0) --length;
        type_byte(type);
        byte(length);
        raw(bytes, length);
        break;
      }
      case TYPE_TUPLE: {
        uint32_t size = tuple::size_of(cell);
        type_byte(type, size != 3);
        if (size != 3) byte(static_cast<uint8_t>(size));
        raw(tuple::bytes_of(cell), size);
        break;
      }
      case TYPE_MONEY:
        type_byte(type, money::sign_bit(cell));
        raw(reinterpret_cast<const uint8_t*>(&cell.data1), 12);
        break;
      case TYPE_ISSUE:
        type_byte(type);
        uleb(e_.symbol_index(cell.data2));
        break;
      case TYPE_WORD:
      case TYPE_SET_WORD:
      case TYPE_LIT_WORD:
      case TYPE_GET_WORD:
      case TYPE_REFINEMENT:
        word(cell, 0);
        break;
      case TYPE_OBJECT:
      case TYPE_FUNCTION:
        owner(cell, 0);
        break;
      case TYPE_ERROR:
        error(cell, 0);
        break;
      case TYPE_NATIVE:
      case TYPE_ACTION:
        type_byte(type);
        builtin_payload(cell);
        break;
      case TYPE_OP: {
        TypeId source = op_source(cell);
        type_byte(type);
        op_wrapped(cell, source);
        break;
      }
      default:
        if (is_written_series(type)) {
          series(cell, 0);
          break;
        }
        // routine!, triple!, handle!, port!, event! and the runtime's own
        // types.
        Encoder::no_codec(cell);
    }
    if (counted) e_.count();
  }

 private:
  friend class RecordWriter<Writer>;

  void byte(uint8_t value) { out_.push_back(value); }
  void type_byte(TypeId type, bool short_form = false) {
    byte(static_cast<uint8_t>(type | (short_form ? kShortForm : 0)));
  }
  // The new-line prefix went before the record: no header bit holds it.
  void header(TypeId type, uint32_t /*line*/) { type_byte(type); }
  void uleb(uint32_t value) {
    while (value >= 0x80) {
      out_.push_back(static_cast<uint8_t>(value | 0x80));
      value >>= 7;
    }
    out_.push_back(static_cast<uint8_t>(value));
  }
  void zigzag(int32_t value) { uleb(zigzag_encode(value)); }
  void number(uint32_t value) { uleb(value); }
  void signed_number(int32_t value) { zigzag(value); }
  void u32(uint32_t value) {
    uint8_t bytes[4];
    store_u32(bytes, value);
    raw(bytes, 4);
  }
  void raw(const uint8_t* bytes, size_t count) { out_.insert(out_.end(), bytes, bytes + count); }
  // After the header of a shared record: the path alone.
  void reference(uint32_t entry) { path(entry); }
  void copy_reference(uint32_t entry, uint32_t /*line*/) {
    byte(kReferenceByte);
    path(entry);
  }

  // A series' type byte, short with a head (for bitset!: complemented),
  // then the head.
  void series_header(const Cell& cell, bool shared, uint32_t /*line*/) {
    TypeId type = cell.type();
    bool headless = type == TYPE_MAP || type == TYPE_BITSET;
    uint32_t head = headless ? 0 : cell.data1;
    bool short_form = type == TYPE_BITSET
                          ? (memory::buffer_of(cell.data2)->flags & series_flags::kBitsetComplement) != 0
                          : head != 0;
    if (shared) byte(kSharedPrefix);
    type_byte(type, short_form);
    if (head != 0) uleb(head);
  }
  void series_bytes(const Cell& cell) {
    TypeId type = cell.type();
    if (type == TYPE_IMAGE) {
      // The size and pixels of the node, from its top-left pixel.
      uint32_t size = image::size_word_of(cell.data2);
      uleb(size & 0xFFFF);
      uleb(size >> 16);
      raw(memory::buffer_of(cell.data2)->head_ptr(), size_t{size & 0xFFFF} * (size >> 16) * 4);
      return;
    }
    SeriesBuffer* buffer = memory::buffer_of(cell.data2);
    uint32_t unit = buffer->unit() == 0 ? 1 : buffer->unit();
    uint32_t length = buffer->used() / unit;
    if (is_text_family(type)) {
      if (length >= (1u << 30)) Encoder::no_codec(cell);
      uleb(length << 2 | unit_log(unit));
    } else if (type == TYPE_VECTOR) {
      byte(static_cast<uint8_t>(cell.data3 << 2 | unit_log(unit)));
      uleb(length);
    } else {
      uleb(length);
    }
    raw(buffer->head_ptr(), size_t{length} * unit);
  }

  void context_description(const ContextForm& form) {
    type_byte(TYPE_CONTEXT);
    byte(static_cast<uint8_t>(form.kind | (form.stack ? kStackValues : 0) | (form.self ? kSelf : 0) |
                              (form.values ? kValuesFollow : 0)));
    uleb(static_cast<uint32_t>(form.symbols.size()));
    for (uint32_t symbol : form.symbols) uleb(e_.symbol_index(symbol));
  }

  // An object! (short with handlers) or function! type byte.
  void owner_header(TypeId type, bool handlers, bool shared, uint32_t /*line*/) {
    if (shared) byte(kSharedPrefix);
    type_byte(type, handlers);
  }
  void empty_block() {
    type_byte(TYPE_BLOCK);
    uleb(0);
  }

  void global_word(const Cell& cell, uint32_t symbol_index, uint32_t /*line*/) {
    type_byte(cell.type());
    uleb(symbol_index);
  }
  // A bound word is short; its symbol index and index follow.
  void bound_word_header(TypeId type, bool shared, uint32_t /*line*/) {
    if (shared) byte(kSharedPrefix);
    type_byte(type, true);
  }
};

}  // namespace

void read_compact(Decoder& decoder, const uint8_t* records, const uint8_t* end) {
  Reader::read(decoder, records, end);
}

void write_compact(Encoder& encoder, const Cell& value) { Writer(encoder).value(value); }

}  // namespace kel::kelbin
