// port!: the language's I/O endpoint. A port is an object (cell as
// object!'s, type 48, class id 2) made from the standard port template;
// what it does comes from its actor, an object supplied by the port's
// scheme whose fields are functions named after the actions. The runtime
// implements no I/O for ports itself: every series-like and I/O action
// applied to a port is forwarded to the actor's function of the same name,
// called in a function frame named after the action with the port and the
// action's arguments and refinements in the order of its interface (a
// refinement with an argument as its logic then its value).
//
// The forwarding relies on the template's first three fields:
//   0 spec    the port description object
//   1 scheme  the scheme name, a word!
//   2 actor   the actor object
// Templates and schemes are read from the system object
// (system/standard/port, system/standard/url-parts, system/schemes) when
// it exists; until then from templates of the same fields kept here, with
// no scheme known.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kel::port {

constexpr uint32_t kSpecField = 0;
constexpr uint32_t kSchemeField = 1;
constexpr uint32_t kActorField = 2;
// A scheme object's actor field.
constexpr uint32_t kSchemeActorField = 3;

// The port's actor; access invalid-port when it is not an object.
Cell get_actor(const Cell& port);

// Calls the actor's function named by the action with the port followed by
// the given cells, in a function frame named after the action, and answers
// the result (pushed). Access no-port-action when the actor has no such
// function. Answers null when the call ended in a pending exit (the stacks
// are then already unrolled).
Cell* call_actor(const Cell& port, uint32_t action_symbol, const Cell* cells, uint32_t count);

Cell* make(Cell* proto, Cell* spec, TypeId type);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);

// Registers port! (id 48, parent object!).
void init();

}  // namespace kel::port
