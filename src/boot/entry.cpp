// The entry routine and the runtime initialisation order (see entry.h).
#include "boot/entry.h"

#include <cfenv>
#include <cstdio>

#include "boot/boot_heap.h"
#include "boot/boot_image.h"
#include "boot/environment.h"
#include "boot/library_seal.h"
#include "boot/wiring_check.h"
#include "boot/script_run.h"
#include "console/terminal.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/binary.h"
#include "datatypes/image.h"
#include "datatypes/bitset.h"
#include "datatypes/money.h"
#include "datatypes/point2d.h"
#include "datatypes/point3d.h"
#include "datatypes/triple.h"
#include "datatypes/vector.h"
#include "datatypes/date.h"
#include "datatypes/email.h"
#include "datatypes/error.h"
#include "datatypes/file.h"
#include "datatypes/pair.h"
#include "datatypes/ref.h"
#include "datatypes/tag.h"
#include "datatypes/time.h"
#include "datatypes/tuple.h"
#include "datatypes/url.h"
#include "datatypes/datatype.h"
#include "datatypes/function.h"
#include "datatypes/native.h"
#include "datatypes/float.h"
#include "datatypes/handle.h"
#include "datatypes/hash.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/paren.h"
#include "datatypes/path.h"
#include "datatypes/percent.h"
#include "datatypes/port.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/context.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "datatypes/unset.h"
#include "evaluator/interpreter.h"
#include "gui/gui.h"
#include "gui/terminal/terminal_platform.h"
#include "evaluator/natives.h"
#include "evaluator/natives_families.h"
#include "evaluator/trace.h"
#include "io/file_system.h"
#include "io/url_actions.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "io/lexer.h"
#include "library/routines.h"
#include "runtime/collector.h"
#include "runtime/exits.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/output_hooks.h"
#include "runtime/platform.h"
#include "runtime/runtime.h"
#include "datatypes/runtime_words.h"
#include "runtime/slot_pool.h"
#include "runtime/upcalls.h"
#include "runtime/root_block.h"

namespace kel::boot {

namespace {
bool initialised = false;

// Every datatype registers once, parents before children, in this order.
// A datatype not yet built keeps its line commented out until it is.
void register_datatypes() {
  datatype::init();
  unset::init();
  none::init();
  logic::init();
  series::init();
  block::init();
  string::init();
  binary::init();
  integer::init();
  symbol::init();
  context::init();
  word::init();
  lit_word::init();
  set_word::init();
  get_word::init();
  refinement::init();
  character::init();
  native::init_native();
  native::init_action();
  native::init_op();
  path::init();
  lit_path::init();
  set_path::init();
  get_path::init();
  function::init_function();
  function::init_routine();
  paren::init();
  issue::init();
  url::init();
  file::init();
  object::init();
  bitset::init();
  triple::init();
  float_type::init();
  typeset::init();
  error_type::init();
  vector::init();
  map::init();
  hash::init();
  pair::init();
  percent::init();
  tuple::init();
  time_type::init();
  tag::init();
  email::init();
  handle::init();
  date::init();
  port::init();
  money::init();
  ref::init();
  point2d::init();
  point3d::init();
  image::init();
  gui::register_types();
}
}  // namespace

void init_runtime(const BootImage* image, HeapCapture* capture) {
  if (initialised) return;
  initialised = true;
  output::init();
  output_hooks::init();
  platform::init();
  random::init();
  // The image is read first (it makes no series): a start that will map
  // the image's heap from the executable leaves the first frame to be
  // mapped, instead of filling a huge page it would then replace.
  use_image(image);
  const HeapSection& heap = image_heap();
  memory::init(capture == nullptr && heap.bytes != nullptr && platform::in_executable_file(heap.bytes, heap.size));
  collector::init();
  register_datatypes();
  root::init();
  stack::init();
  slot_pool::init();
  // Words: the symbol table, the global context, a word for every type
  // name, then the runtime words, refinements and issue.
  symbol::init_table();
  context::init_global();
  word::init_type_names();
  runtime_words::init();
  stack::set_anonymous_symbols(runtime_words::angled_body, runtime_words::angled_anon);
  lexer::init();
  file_system::init();
  url_actions::init();
  natives::init();
  action_entries::init();
  interpreter::init();
  trace::init();
  natives_control::init();
  natives_exits::init();
  natives_apply::init();
  natives_transcode::init();
  natives_compare::init();
  natives_eval::init();
  natives_values::init();
  natives_system::init();
  natives_compression::init();
  natives_process::init();
  natives_series::init();
  natives_math::init();
  // The library's texts come from the image from here on: the routines
  // load their interfaces.
  upcalls::table.load_library_text = load_library_text;
  // The GUI shows in the terminal (KEL_GUI_PLATFORM=recording selects the
  // recording platform instead, for the tests).
  gui::init(tui::init());
  terminal::register_routines();
  upcalls::table.script_argument = script_argument_routine;
  // The routines and the library: the heap the image writer's boot left,
  // when this start stands where that boot stood; else made and evaluated.
  if (capture != nullptr) begin_capture(capture);
  if (capture != nullptr || !restore_heap(image_heap())) {
    routines::init();
    build_environment();
    end_boot();
    seal_library();
  }
  check_wiring();
  gui::finish_start_up();
  if (capture != nullptr) end_capture(capture);
  collector::set_enabled(true);
}

namespace {
// The console takes over: it runs the command line's script, or reads and
// evaluates lines until quit; when it returns, the process ends. It is
// called as a value, so that no code of the boot's own stands as the near
// of an error raised outside the user's code.
void launch_console() {
  stack::Guard guard;
  Cell* console = context::global_slot(symbol::resolve(symbol::make("cli-console-ctx")));
  if (console == nullptr || !object::is_object_kind(console->type())) return;
  const Cell* launch = object::find_field(object::context_of(*console), symbol::resolve(symbol::make("launch")));
  if (launch == nullptr || !launch->is(TYPE_FUNCTION)) return;
  Cell function = *launch;
  interpreter::call_value(function, nullptr, 0);
}
}  // namespace

void entry(int argc, char** argv, const BootImage* image) {
  std::feclearexcept(FE_ALL_EXCEPT);
  runtime::start_up(argc, argv);
  try {
    init_runtime(image);
    launch_console();
  } catch (const exits::Unwind&) {
    runtime::top_catch();
  }
  runtime::quit(0, 0);
}

}  // namespace kel::boot
