// The GUI framework's start-up (see gui.h).
#include "gui/gui.h"

#include <cstdlib>
#include <cstring>

#include "gui/event.h"
#include "gui/platform.h"
#include "gui/platform_routines.h"
#include "gui/recording_platform.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "runtime/collector.h"
#include "runtime/stack.h"

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

void refresh_screen_size() {
  stack::Guard guard;
  auto field = [](const Cell& object, const char* name) {
    if (!object::is_object_kind(object.type())) return none::value;
    return *object::find_field(object::context_of(object), symbol::resolve(symbol::make(name)));
  };
  Cell* system = context::global_slot(symbol::resolve(symbol::make("system")));
  if (system == nullptr) return;
  Cell screens = field(field(*system, "view"), "screens");
  if (!screens.is(TYPE_BLOCK) || block::rs_length(&screens) == 0) return;
  Cell screen = *block::rs_head(&screens);
  if (!object::is_object_kind(screen.type())) return;
  Cell size = platform().get_screen_size(0);
  object::store_field_named(screen, symbol::resolve(symbol::make("size")), size);
}

void finish_start_up() {
  if (backend_in_use == &recording && recording_selected()) recording.set_logging(true);
}

}  // namespace kel::gui
