// The kelbin codec's routines (see kelbin_codec.h).
//
// decode reads a file! or url! payload with the read action of its type
// (as read/binary does), takes a binary! as it is and refuses anything
// else, and anything of 10 bytes or fewer (no kelbin is that short), with
// script invalid-data. The bytes are read from the binary's index to its
// tail into a new block, with the binary's buffer pinned meanwhile.
#include "library/kelbin_codec.h"

#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "runtime/actions.h"
#include "runtime/stack.h"
#include "io/kelbin.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace kel::kelbin_codec {

namespace {
constexpr uint32_t kShortest = 11;  // the prefix and the smallest header
}  // namespace

void encode_star(uint32_t) {
  Cell* frame = stack::arguments();
  Cell data = frame[0];
  bool compact = logic::get(frame[1]) != 0;
  Cell encoded = compact ? kelbin::encode_cp(data) : kelbin::encode(data);
  stack::set_last(encoded);
}

void decode(uint32_t) {
  Cell payload = stack::arguments()[0];
  Cell data = payload;
  // The file's bytes are read as part of the bulk: they are what made the
  // collection fall due as often as the value decoded from them.
  const memory::BulkMark mark = memory::bulk_mark();
  if (payload.is(TYPE_FILE) || payload.is(TYPE_URL)) {
    // read/binary: the refinement present (any index but -1), no others.
    Cell source = payload;
    data = *actions::handler_for<Action::read>(source)(&source, -1, -1, 0, -1, -1, -1);
  }
  if (!data.is(TYPE_BINARY)) fire(ErrorId::script_invalid_data, &payload);
  SeriesBuffer* buffer = memory::buffer_of(series::node_of(data));
  uint32_t index = series::index_of(data);
  uint32_t length = index < buffer->used() ? buffer->used() - index : 0;
  if (length < kShortest) fire(ErrorId::script_invalid_data, &payload);
  Cell result;
  {
    stack::Guard guard;
    stack::push(data);  // the bytes stay reachable while they are read
    Cell* out = block::push_only(1);
    Pin pin(series::node_of(data));
    const uint8_t* bytes = memory::buffer_of(series::node_of(data))->head_ptr() + index;
    kelbin::decode(bytes, length, *out, true, &payload);
    result = block::rs_length(out) == 1 ? *block::rs_head(out) : *out;
    memory::take_bulk_as_live(mark);
  }
  stack::set_last(result);
}

}  // namespace kel::kelbin_codec
