// In-place widening of string buffers (see string_units.h).
#include "runtime/string_units.h"

#include "runtime/runtime.h"

namespace kel::unicode {

void bad_unit() { runtime::quit(101, KEL_CALLER_ADDRESS()); }

namespace {
// Widens the content from `from` to `to` bytes per unit, from the last unit
// backward. The content is first moved to the start of the data area when it
// does not start there or the buffer lacks room (needs used x factor + extra).
SeriesBuffer* widen(SeriesBuffer* buffer, uint32_t from, uint32_t to, uint32_t extra) {
  uint32_t used = buffer->used();
  uint64_t need = uint64_t{used} / from * to + extra;
  if (buffer->offset != 0 || need > buffer->size) {
    // Sizes in 64 bits: a doubling of a 32-bit size past 2 GiB would wrap.
    uint64_t size = memory::grown_capacity(buffer->size, need);
    buffer = memory::expand_series(buffer, static_cast<uint32_t>(size));
  }
  uint32_t count = used / from;
  uint8_t* data = buffer->data();
  for (size_t i = count; i-- > 0;) put_char(data + i * to, to, get_char(data + i * from, from));
  buffer->tail = count * to;
  buffer->set_unit(to);
  return buffer;
}
}  // namespace

SeriesBuffer* widen_latin1_to_ucs2(SeriesBuffer* buffer) { return widen(buffer, 1, 2, 2); }
SeriesBuffer* widen_latin1_to_ucs4(SeriesBuffer* buffer) { return widen(buffer, 1, 4, 4); }
SeriesBuffer* widen_ucs2_to_ucs4(SeriesBuffer* buffer) { return widen(buffer, 2, 4, 4); }

SeriesBuffer* widen_for(SeriesBuffer* buffer, uint32_t code_point, uint32_t one_byte_limit) {
  switch (buffer->unit()) {
    case 1:
      if (code_point <= one_byte_limit) return buffer;
      return code_point <= 0xFFFF ? widen_latin1_to_ucs2(buffer) : widen_latin1_to_ucs4(buffer);
    case 2:
      return code_point <= 0xFFFF ? buffer : widen_ucs2_to_ucs4(buffer);
    case 4:
      return buffer;
    default:
      bad_unit();
  }
}

}  // namespace kel::unicode
