// The GUI framework's start-up (see gui.h).
#include "gui/gui.h"

#include <cstdlib>
#include <cstring>

#include "gui/event.h"
#include "gui/platform.h"
#include "gui/platform_routines.h"
#include "gui/recording_platform.h"
#include "runtime/collector.h"

namespace kel::gui {

namespace {

RecordingPlatform recording;
Platform* backend_in_use = nullptr;

bool recording_selected() {
  const char* choice = std::getenv("KEL_GUI_PLATFORM");
  return choice != nullptr && std::strcmp(choice, "recording") == 0;
}

// The one hook: events being dispatched and the backend's widgets, windows
// and timers refer to faces the collected heap must keep.
void mark_gui_roots() {
  event::mark_live_records();
  if (backend_in_use != nullptr) backend_in_use->mark();
}

}  // namespace

void register_types() { event::register_type(); }

void init(Platform* backend) {
  event::init();
  add_platform_routines();
  collector::add_mark_hook(mark_gui_roots);
  backend_in_use = backend != nullptr && !recording_selected() ? backend : &recording;
  install_platform(backend_in_use);
}

void finish_start_up() {
  if (backend_in_use == &recording && recording_selected()) recording.set_logging(true);
}

}  // namespace kel::gui
