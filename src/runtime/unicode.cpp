// Unicode conversions (see unicode.h).
//
// Decoders append code points at a string buffer's tail through TailWriter,
// which keeps one invariant: while bytes of input remain, the buffer has room
// for one unit per remaining input byte (no input byte yields more than one
// code point). The hot loop therefore never checks room; only a widening,
// which changes the unit, re-establishes the reserve. Everything that may
// move the buffer (widening, growth) goes through the writer, which re-reads
// its pointers afterwards.
//
// Conversions to NUL-terminated text write into process-wide vectors that
// grow and never shrink; they live outside the series heap, so filling them
// never moves a string being read.
#include "runtime/unicode.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

#include "runtime/errors.h"

namespace kel::unicode {

namespace {

struct WidthRange {
  uint32_t first;
  uint32_t last;
};

#include "runtime/unicode_width_tables.inc"

// Windows-1251 bytes 0x80-0xFF. 0x98 is unassigned in the code page and maps
// to the C1 control of the same number, so every byte stays readable.
constexpr uint16_t kCp1251High[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

constexpr uint8_t kCarriageReturn = '\r';
constexpr uint8_t kLineFeed = '\n';

std::vector<uint8_t> utf8_scratch;
std::vector<uint16_t> utf16_scratch;

// --- Raising -------------------------------------------------------------------------

[[noreturn]] void raise_invalid_char(int64_t code_point) {
  Cell value = make_cell(TYPE_INTEGER, 0, static_cast<uint32_t>(static_cast<int32_t>(code_point)));
  fire(ErrorId::script_invalid_char, &value);
}

// The binary! argument holds the bytes from the failing position on, at most
// four and never more than the input has.
[[noreturn]] void raise_invalid_utf8(const uint8_t* p, uint32_t left) {
  uint32_t n = std::min<uint32_t>(left, 4);
  NodeId node = memory::alloc_bytes(n);
  SeriesBuffer* buffer = memory::buffer_of(node);
  std::memcpy(buffer->data(), p, n);
  buffer->tail = n;
  Cell binary = make_cell(TYPE_BINARY, 0, node, 0);
  fire(ErrorId::access_invalid_utf8, &binary);
}

// --- Validating UTF-8 decode -------------------------------------------------------------

enum class Utf8Status { kComplete, kIncomplete, kInvalid };

struct Utf8Sequence {
  Utf8Status status;
  uint32_t length;  // bytes of the sequence (announced length when incomplete)
  uint32_t code_point;
};

bool is_continuation(uint8_t byte) { return (byte & 0xC0) == 0x80; }

// Decodes the sequence at p from the left bytes that exist. A sequence cut
// short by the end of input is incomplete only while the bytes present could
// still begin a valid one: a bad continuation byte, or a prefix whose every
// completion lands in an invalid range, is invalid at once.
Utf8Sequence decode_sequence(const uint8_t* p, uint32_t left) {
  if (left == 0) return {Utf8Status::kIncomplete, 0, 0};
  uint8_t lead = p[0];
  if (lead < 0x80) return {Utf8Status::kComplete, 1, lead};
  uint32_t length;
  uint32_t value;
  if (lead < 0xC0) return {Utf8Status::kInvalid, 1, 0};
  if (lead < 0xE0) {
    length = 2;
    value = lead & 0x1Fu;
  } else if (lead < 0xF0) {
    length = 3;
    value = lead & 0x0Fu;
  } else if (lead < 0xF8) {
    length = 4;
    value = lead & 0x07u;
  } else {
    return {Utf8Status::kInvalid, 1, 0};
  }
  uint32_t present = std::min(length, left);
  for (uint32_t i = 1; i < present; ++i) {
    if (!is_continuation(p[i])) return {Utf8Status::kInvalid, length, 0};
    value = (value << 6) | (p[i] & 0x3Fu);
  }
  // The smallest and largest results the missing bytes could give.
  uint32_t missing_bits = 6 * (length - present);
  uint32_t lowest = value << missing_bits;
  uint32_t highest = lowest | ((1u << missing_bits) - 1);
  bool invalid = (length == 3 && lowest >= 0xDC00 && highest <= 0xDCFF) ||
                 (length == 4 && lowest > kMaxCodePoint);
  if (invalid) return {Utf8Status::kInvalid, length, 0};
  if (present < length) return {Utf8Status::kIncomplete, length, 0};
  return {Utf8Status::kComplete, length, value};
}

// --- Appending code points at a string's tail ----------------------------------------------

bool unit_holds(uint32_t unit, uint32_t code_point) {
  return unit == 4 || (unit == 2 ? code_point <= 0xFFFF : code_point <= 0xFF);
}

class TailWriter {
 public:
  // Keeps room for reserve code points in the buffer's current unit.
  TailWriter(NodeId node, uint32_t reserve) : buffer_(memory::buffer_of(node)) {
    unit_ = buffer_->unit();
    if (unit_ != 1 && unit_ != 2 && unit_ != 4) bad_unit();
    start_count_ = buffer_->used() / unit_;
    reserve_room(reserve);
  }

  // Stores a code point; remaining counts the input bytes not yet consumed,
  // this code point's included, and is the reserve kept after a widening.
  void put(uint32_t code_point, uint32_t remaining) {
    if (!unit_holds(unit_, code_point)) widen(code_point, remaining);
    put_char(out_, unit_, code_point);
    out_ += unit_;
  }

  // A code point that every unit holds (below 0x100).
  void put_narrow(uint32_t code_point) {
    put_char(out_, unit_, code_point);
    out_ += unit_;
  }

  void finish() { buffer_->tail = static_cast<uint32_t>(out_ - buffer_->data()); }

  // Drops what was appended: the buffer keeps its earlier content (in the
  // unit it may have been widened to).
  void roll_back() {
    buffer_->tail = buffer_->offset + start_count_ * unit_;
    out_ = buffer_->tail_ptr();
  }

 private:
  void reserve_room(uint64_t code_points) {
    uint64_t need = code_points * unit_;
    if (buffer_->room() < need) {
      // At least doubling, so that text arriving in chunks (a file read
      // piece by piece into one string) costs linear time, not quadratic.
      uint64_t size = memory::grown_capacity(buffer_->size, uint64_t{buffer_->used()} + need);
      buffer_ = memory::expand_series(buffer_, static_cast<uint32_t>(size));
    }
    out_ = buffer_->tail_ptr();
  }

  void widen(uint32_t code_point, uint32_t remaining) {
    finish();
    buffer_ = widen_for(buffer_, code_point, 0xFF);
    unit_ = buffer_->unit();
    reserve_room(remaining);
  }

  SeriesBuffer* buffer_;
  uint8_t* out_ = nullptr;
  uint32_t unit_ = 1;
  uint32_t start_count_ = 0;
};

// --- Reading a string's units ------------------------------------------------------------

// The units of a string from its index, limited to part code points when
// part is not negative.
struct UnitRange {
  const uint8_t* from;
  const uint8_t* to;
  uint32_t unit;
  uint32_t count;
};

UnitRange units_of(const Cell* string, int32_t part) {
  const SeriesBuffer* buffer = memory::buffer_of(string->data2);
  uint32_t unit = buffer->unit();
  if (unit != 1 && unit != 2 && unit != 4) bad_unit();
  uint32_t length = buffer->used() / unit;
  uint32_t count = string->data1 >= length ? 0 : length - string->data1;
  if (part >= 0 && static_cast<uint32_t>(part) < count) count = static_cast<uint32_t>(part);
  const uint8_t* from = buffer->data() + buffer->offset + uint64_t{string->data1} * unit;
  if (count == 0) from = buffer->data() + buffer->offset;
  return {from, from + uint64_t{count} * unit, unit, count};
}

int32_t part_limit(const int32_t* part) { return part ? *part : -1; }

bool in_table(const WidthRange* table, size_t size, uint32_t code_point) {
  if (code_point < table[0].first || code_point > table[size - 1].last) return false;
  const WidthRange* end = table + size;
  // The first range that ends at or after the code point.
  const WidthRange* range = std::lower_bound(
      table, end, code_point, [](const WidthRange& r, uint32_t cp) { return r.last < cp; });
  return range != end && range->first <= code_point;
}

}  // namespace

// --- UTF-8 reading ---------------------------------------------------------------------

int32_t count_chars(const uint8_t* from, const uint8_t* to) {
  int32_t count = 0;
  for (const uint8_t* p = from; p < to; ++p) count += !is_continuation(*p);
  return count;
}

const uint8_t* skip_chars(const uint8_t* from, const uint8_t* to, int32_t n) {
  const uint8_t* p = from;
  for (; n > 0 && p < to; --n) {
    ++p;
    while (p < to && is_continuation(*p)) ++p;
  }
  return p;
}

int32_t lead_size(uint8_t byte) {
  if ((byte & 0xF0) == 0xF0) return 4;
  if ((byte & 0xE0) == 0xE0) return 3;
  if ((byte & 0xC0) == 0xC0) return 2;
  return 0;
}

int32_t decode_utf8_char(const uint8_t* p, int32_t* count) {
  uint32_t left = *count > 0 ? static_cast<uint32_t>(*count) : 0;
  Utf8Sequence sequence = decode_sequence(p, left);
  switch (sequence.status) {
    case Utf8Status::kComplete:
      *count = static_cast<int32_t>(sequence.length);
      return static_cast<int32_t>(sequence.code_point);
    case Utf8Status::kIncomplete:
      *count = static_cast<int32_t>(sequence.length);
      return -1;
    case Utf8Status::kInvalid:
      break;
  }
  raise_invalid_utf8(p, left);
}

NodeId load_utf8(const uint8_t* bytes, uint32_t count, NodeId target, uint32_t* remainder,
                 bool crlf) {
  if (remainder) *remainder = 0;
  if (count > 2 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
    bytes += 3;
    count -= 3;
  }
  NodeId node = target ? target : memory::alloc_codepoints(count == 0 ? 1 : count, 1);
  TailWriter writer(node, count);
  const uint8_t* p = bytes;
  const uint8_t* end = bytes + count;
  while (p < end) {
    uint8_t byte = *p;
    if (byte < 0x80) {
      ++p;
      if (byte == kCarriageReturn && crlf) {
        // CR LF leaves its LF to the next round; a lone CR becomes LF.
        if (p < end && *p == kLineFeed) continue;
        byte = kLineFeed;
      }
      writer.put_narrow(byte);
      continue;
    }
    uint32_t left = static_cast<uint32_t>(end - p);
    Utf8Sequence sequence = decode_sequence(p, left);
    if (sequence.status == Utf8Status::kIncomplete && remainder) {
      *remainder = left;
      break;
    }
    if (sequence.status != Utf8Status::kComplete) {
      writer.roll_back();
      raise_invalid_utf8(p, left);
    }
    writer.put(sequence.code_point, left);
    p += sequence.length;
  }
  writer.finish();
  return node;
}

NodeId load_utf8_into(const uint8_t* bytes, uint32_t count, Cell* string, bool crlf) {
  return load_utf8(bytes, count, string->data2, nullptr, crlf);
}

NodeId load_utf8_new(const uint8_t* bytes, uint32_t count, bool crlf) {
  return load_utf8(bytes, count, 0, nullptr, crlf);
}

// --- UTF-8 writing -------------------------------------------------------------------------

int32_t char_size(int64_t code_point) {
  if (code_point < 0 || code_point > kMaxCodePoint) raise_invalid_char(code_point);
  if (code_point <= 0x7F) return 1;
  if (code_point <= 0x7FF) return 2;
  if (code_point <= 0xFFFF) return 3;
  return 4;
}

int64_t utf8_length(const uint8_t* from, const uint8_t* to, uint32_t unit) {
  int64_t length = 0;
  if (unit == 1) {
    for (const uint8_t* p = from; p < to; ++p) length += *p < 0x80 ? 1 : 2;
    return length;
  }
  for (const uint8_t* p = from; p < to; p += unit) length += char_size(get_char(p, unit));
  return length;
}

int32_t encode_char(uint32_t code_point, uint8_t* destination) {
  if (code_point <= 0x7F) {
    destination[0] = static_cast<uint8_t>(code_point);
    return 1;
  }
  if (code_point <= 0x7FF) {
    destination[0] = static_cast<uint8_t>(0xC0 | (code_point >> 6));
    destination[1] = static_cast<uint8_t>(0x80 | (code_point & 0x3F));
    return 2;
  }
  if (code_point <= 0xFFFF) {
    destination[0] = static_cast<uint8_t>(0xE0 | (code_point >> 12));
    destination[1] = static_cast<uint8_t>(0x80 | ((code_point >> 6) & 0x3F));
    destination[2] = static_cast<uint8_t>(0x80 | (code_point & 0x3F));
    return 3;
  }
  if (code_point <= kMaxCodePoint) {
    destination[0] = static_cast<uint8_t>(0xF0 | (code_point >> 18));
    destination[1] = static_cast<uint8_t>(0x80 | ((code_point >> 12) & 0x3F));
    destination[2] = static_cast<uint8_t>(0x80 | ((code_point >> 6) & 0x3F));
    destination[3] = static_cast<uint8_t>(0x80 | (code_point & 0x3F));
    return 4;
  }
  raise_invalid_char(code_point);
}

int32_t encode_char_bounded(uint32_t code_point, uint8_t* destination, int32_t room) {
  uint8_t sequence[4];
  int32_t length = encode_char(code_point, sequence);
  if (room <= 0) return 0;
  int32_t written = std::min(length, room);
  std::memcpy(destination, sequence, static_cast<size_t>(written));
  return written;
}

const char* to_utf8_buffer(const Cell* string, int32_t* part, bool crlf) {
  UnitRange range = units_of(string, part_limit(part));
  // Each unit needs at most this many bytes: a Latin-1 code point or an LF
  // written as CR LF 2, a UCS-2 one 3, anything else 4.
  uint32_t per_unit = range.unit == 1 ? 2 : range.unit == 2 ? 3 : 4;
  size_t room = (size_t{range.count} + 1) * per_unit;
  if (utf8_scratch.size() < room) utf8_scratch.resize(room);
  uint8_t* out = utf8_scratch.data();
  for (const uint8_t* p = range.from; p < range.to; p += range.unit) {
    uint32_t code_point = get_char(p, range.unit);
    if (code_point < 0x80) {
      if (code_point == kLineFeed && crlf) *out++ = kCarriageReturn;
      *out++ = static_cast<uint8_t>(code_point);
    } else {
      out += encode_char(code_point, out);
    }
  }
  *out = 0;
  if (part) *part = static_cast<int32_t>(out - utf8_scratch.data());
  return reinterpret_cast<const char*>(utf8_scratch.data());
}

const char* to_utf8(const Cell* string, int32_t* part) { return to_utf8_buffer(string, part, false); }

const char* to_utf8_lines(const Cell* string, int32_t* part, bool crlf) {
  return to_utf8_buffer(string, part, crlf);
}

int32_t write_utf8(const Cell* string, uint8_t* destination, int32_t part) {
  UnitRange range = units_of(string, part);
  uint8_t* out = destination;
  for (const uint8_t* p = range.from; p < range.to; p += range.unit) {
    out += encode_char(get_char(p, range.unit), out);
  }
  return static_cast<int32_t>(out - destination);
}

int32_t write_utf8_bounded(const Cell* string, uint8_t* destination, int32_t room, int32_t part,
                           bool nul) {
  if (room < 0) return 0;
  UnitRange range = units_of(string, part);
  int32_t written = 0;
  for (const uint8_t* p = range.from; p < range.to && written < room; p += range.unit) {
    written += encode_char_bounded(get_char(p, range.unit), destination + written, room - written);
  }
  if (nul) destination[written] = 0;
  return written;
}

// --- UTF-16 --------------------------------------------------------------------------------

uint32_t utf16_unit_size(const uint16_t* units, uint32_t count) {
  uint32_t unit = 1;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t high = units[i] >> 8;
    if (high >= 0xD8 && high <= 0xDF) return 4;
    if (high != 0) unit = 2;
  }
  return unit;
}

NodeId load_utf16le(const uint16_t* units, uint32_t count, NodeId target, bool drop_cr) {
  // Text in the target's own buffer is copied out first: decoding may widen
  // it, and the buffer is about to be rewritten from its head.
  std::vector<uint16_t> own_text;
  if (units == nullptr) {
    if (target == 0) count = 0;
    if (count > 0) {
      const SeriesBuffer* source = memory::buffer_of(target);
      count = std::min(count, (source->size - source->offset) / 2);
      own_text.resize(count);
      std::memcpy(own_text.data(), source->data() + source->offset, size_t{count} * 2);
    }
    units = own_text.data();
  }
  uint32_t unit = utf16_unit_size(units, count);
  SeriesBuffer* buffer;
  NodeId node = target;
  if (target) {
    buffer = memory::buffer_of(target);
    buffer->tail = buffer->offset;  // nothing of the old content is kept
    uint64_t need = uint64_t{count} * unit;
    memory::check_series_size(need);
    if (buffer->room() < need) buffer = memory::expand_series(buffer, static_cast<uint32_t>(need));
    buffer->set_unit(unit);
  } else {
    node = memory::alloc_codepoints(count == 0 ? 1 : count, unit);
    buffer = memory::buffer_of(node);
  }
  uint8_t* out = buffer->tail_ptr();
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t code_point = units[i];
    if (code_point == kCarriageReturn && drop_cr) continue;
    if (code_point >= 0xD800 && code_point <= 0xDFFF) {
      // Only reached at unit 4: utf16_unit_size chose it for the surrogate.
      bool high = code_point <= 0xDBFF;
      if (high && i + 1 < count && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
        code_point = 0x10000 + (((code_point & 0x3FF) << 10) | (units[i + 1] & 0x3FF));
        ++i;
      } else {
        code_point = kReplacementCharacter;
      }
    }
    put_char(out, unit, code_point);
    out += unit;
  }
  buffer->tail = static_cast<uint32_t>(out - buffer->data());
  memory::set_series_flag(buffer, series_flags::kFromUtf16);
  return node;
}

int32_t encode_utf16_char(uint32_t code_point, uint16_t* destination) {
  if (code_point < 0x10000) {
    destination[0] = static_cast<uint16_t>(code_point);
    return 1;
  }
  if (code_point > kMaxCodePoint) return 0;
  destination[0] = static_cast<uint16_t>(0xD800 | ((code_point - 0x10000) >> 10));
  destination[1] = static_cast<uint16_t>(0xDC00 | (code_point & 0x3FF));
  return 2;
}

const uint16_t* to_utf16_part(const Cell* string, int32_t* part, bool crlf) {
  UnitRange range = units_of(string, part_limit(part));
  // One unit per code point, one more for each that needs a pair or gets a
  // CR, and the NUL.
  size_t room = size_t{range.count} + 1;
  for (const uint8_t* p = range.from; p < range.to; p += range.unit) {
    uint32_t code_point = get_char(p, range.unit);
    if (code_point > kMaxCodePoint) {
      if (part) *part = 0;
      return nullptr;
    }
    room += (code_point >= 0x10000) + (crlf && code_point == kLineFeed);
  }
  if (utf16_scratch.size() < room) utf16_scratch.resize(room);
  uint16_t* out = utf16_scratch.data();
  for (const uint8_t* p = range.from; p < range.to; p += range.unit) {
    uint32_t code_point = get_char(p, range.unit);
    if (code_point == kLineFeed && crlf) *out++ = kCarriageReturn;
    out += encode_utf16_char(code_point, out);
  }
  *out = 0;
  if (part) *part = static_cast<int32_t>(out - utf16_scratch.data());
  return utf16_scratch.data();
}

const uint16_t* to_utf16(const Cell* string) { return to_utf16_part(string, nullptr, false); }

void latin1_to_utf16(const char* text, uint16_t* destination) {
  do {
    *destination++ = static_cast<uint8_t>(*text);
  } while (*text++ != 0);
}

NodeId load_cp1251(const uint8_t* bytes, uint32_t count, NodeId target, bool crlf) {
  NodeId node = target ? target : memory::alloc_codepoints(count == 0 ? 1 : count, 1);
  TailWriter writer(node, count);
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t byte = bytes[i];
    if (byte >= 0x80) {
      writer.put(kCp1251High[byte - 0x80], count - i);
      continue;
    }
    if (byte == kCarriageReturn && crlf) {
      if (i + 1 < count && bytes[i + 1] == kLineFeed) continue;
      byte = kLineFeed;
    }
    writer.put_narrow(byte);
  }
  writer.finish();
  return node;
}

// --- Display width -------------------------------------------------------------------------

int32_t char_width(uint32_t code_point) {
  if (code_point == 0) return 0;
  if (code_point < 0x20 || (code_point >= 0x7F && code_point < 0xA0)) return 1;
  if (in_table(kZeroWidthRanges, std::size(kZeroWidthRanges), code_point)) return 0;
  if (in_table(kDoubleWidthRanges, std::size(kDoubleWidthRanges), code_point)) return 2;
  return 1;
}

int32_t char_width_cjk(uint32_t code_point) {
  if (in_table(kAmbiguousWidthRanges, std::size(kAmbiguousWidthRanges), code_point)) return 2;
  return char_width(code_point);
}

}  // namespace kel::unicode
