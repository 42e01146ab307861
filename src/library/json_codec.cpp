// The JSON decoder's unescape routine (see json_codec.h).
//
// The string is rewritten in place from its index: a read index runs ahead
// of (or level with) a write index, both counted in characters, so a write
// never overtakes what is still to be read. Writing a character may widen
// the buffer's unit (a code point above 255 in a 1-byte buffer); indexes in
// characters stay true across that, so the buffer and its unit are read
// again for every character instead of keeping a pointer.
#include "library/json_codec.h"

#include "datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kel::json_codec {

namespace {

constexpr uint32_t kHighFirst = 0xD800;
constexpr uint32_t kHighLast = 0xDBFF;
constexpr uint32_t kLowFirst = 0xDC00;
constexpr uint32_t kLowLast = 0xDFFF;

// A read that the text refuses: the string is left as it stands then.
struct Refused {};

struct Reader {
  NodeId node;
  uint32_t position;  // character index from the buffer's head

  uint32_t length() const {
    SeriesBuffer* buffer = memory::buffer_of(node);
    return buffer->used() / buffer->unit();
  }
  uint32_t remaining() const { uint32_t n = length(); return position < n ? n - position : 0; }
  uint32_t next() {
    if (position >= length()) throw Refused{};
    SeriesBuffer* buffer = memory::buffer_of(node);
    uint32_t unit = buffer->unit();
    return string::get_char(buffer->head_ptr() + position++ * unit, unit);
  }
  // Four hexadecimal digits, most significant first.
  uint32_t hex4() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      uint32_t c = next();
      uint32_t digit;
      if (c >= '0' && c <= '9') digit = c - '0';
      else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
      else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
      else throw Refused{};
      value = (value << 4) | digit;
    }
    return value;
  }
};

uint32_t escaped(Reader& reader) {
  uint32_t c = reader.next();
  switch (c) {
    case 'b': return 0x08;
    case 'f': return 0x0C;
    case 'n': return 0x0A;
    case 'r': return 0x0D;
    case 't': return 0x09;
    case 'u': break;
    default: return c;  // " \ / stand for themselves
  }
  uint32_t code = reader.hex4();
  if (code < kHighFirst || code > kHighLast) return code;  // a lone low surrogate stays as it is
  if (reader.remaining() < 6 || reader.next() != '\\' || reader.next() != 'u') throw Refused{};
  uint32_t low = reader.hex4();
  if (low < kLowFirst || low > kLowLast) throw Refused{};
  return 0x10000 + ((code - kHighFirst) << 10) + (low - kLowFirst);
}

}  // namespace

bool unescape_in_place(const Cell& subject) {
  Reader reader{subject.data2, subject.data1};
  uint32_t write = subject.data1;
  try {
    while (reader.position < reader.length()) {
      uint32_t c = reader.next();
      if (c == '\\') c = escaped(reader);
      string::overwrite_char(memory::buffer_of(subject.data2), write++, c);
    }
  } catch (const Refused&) {
    return false;
  }
  string::truncate_to(memory::buffer_of(subject.data2), write);
  return true;
}

void unescape(uint32_t) {
  Cell subject = stack::arguments()[0];
  if (!unescape_in_place(subject)) fire(ErrorId::script_invalid_data, &subject);
  stack::set_last(subject);
}

}  // namespace kel::json_codec
