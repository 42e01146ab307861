// Tracing hooks. A tracer is a callback installed by do/trace and its
// friends; until one is installed, fire() has nothing to call.
#include "evaluator/trace.h"

namespace kel::trace {

namespace {
Tracer installed = nullptr;
}

bool active() { return installed != nullptr; }

void install(Tracer tracer) { installed = tracer; }

void fire(uint32_t event, const Cell& value) {
  if (installed) installed(event, value);
}

}  // namespace kel::trace
