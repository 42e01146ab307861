// The image codec routines (see image_routines.h).
#include "library/image_routines.h"

#include "datatypes/image.h"
#include "datatypes/none.h"
#include "runtime/actions.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

namespace kel::image_routines {

void encode(uint32_t format) {
  Cell image = stack::arguments()[0];
  stack::set_last(image::encode(image, static_cast<int32_t>(format)));
}

void decode(uint32_t) {
  Cell payload = stack::arguments()[0];
  if (payload.is(TYPE_FILE) || payload.is(TYPE_URL)) {
    // read/binary: the refinement present (any index but -1), no others.
    Cell source = payload;
    Cell data = *actions::handler_for<Action::read>(source)(&source, -1, -1, 0, -1, -1, -1);
    Cell* bytes = stack::push(data);  // reachable while it is decoded
    Cell made = data.is(TYPE_BINARY) ? image::decode_binary(*bytes) : none::value;
    if (!made.is(TYPE_IMAGE)) fire(ErrorId::access_cannot_open, &payload);
    stack::set_last(made);
    return;
  }
  if (!payload.is(TYPE_BINARY)) fire(ErrorId::script_invalid_arg, &payload);
  stack::set_last(image::decode_binary(payload));
}

}  // namespace kel::image_routines
