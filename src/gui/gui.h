// The GUI framework's start-up: the event! datatype, the routines of the
// platform contract, the display backend and the collector hook that marks
// what the GUI holds outside the collected heap.
//
// Order, as the boot runs it: register_types() with the other datatypes;
// init() once the symbol table exists and before the routine table is made;
// after the environment is built, finish_start_up().
#pragma once

namespace kel::gui {

class Platform;

void register_types();

// Interns the event words, adds the GUI's routines, registers the one
// collector hook (live event records and the backend's held cells) and
// installs the backend: the given one, else the recording platform.
void init(Platform* backend);

// The boot is done: with KEL_GUI_PLATFORM=recording in the environment the
// recording platform starts writing its log (the test runs read it).
void finish_start_up();

// A start from the boot image's heap holds the first screen's size as the
// image writer's backend gave it: this asks the backend in use again and
// stores the answer without running the face's change handlers. Called
// before finish_start_up, so that the recording platform logs nothing.
void refresh_screen_size();

}  // namespace kel::gui
