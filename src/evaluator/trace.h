// Tracing hooks: the events that the interpreter, fire() and the parse
// engine report to an installed tracer. Nothing is reported while no tracer
// is installed (active() is false), which keeps the hooks off the hot paths.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kel::trace {

constexpr uint32_t kErrorEvent = 0x1000;

// True while a tracer is installed.
bool active();

// Reports an event with a value to the installed tracer.
void fire(uint32_t event, const Cell& value);

}  // namespace kel::trace

namespace kel::trace {
using Tracer = void (*)(uint32_t event, const Cell& value);
// Installs a tracer (null removes it).
void install(Tracer tracer);
}  // namespace kel::trace
