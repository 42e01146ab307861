// Starting from the heap the boot left (see boot_heap.h).
//
// The Record holds the C++ state the library's evaluation sets outside the
// heap and that cannot be worked out again from the heap alone: the block
// of built-in values whose interfaces C++ keeps, the last class id handed
// out, the owner table of the objects with deep-change handlers, the
// installed currency list and the float formatter's flag. Everything else
// the evaluation set outside the heap is set again from the heap
// (system_internals::reinstall, compiled::attach) or from the process.
#include "boot/boot_heap.h"

#include <cstring>

#include "boot/environment.h"
#include "datatypes/context.h"
#include "datatypes/float.h"
#include "datatypes/money.h"
#include "datatypes/object.h"
#include "datatypes/ownership.h"
#include "evaluator/interpreter.h"
#include "gui/gui.h"
#include "library/compiled.h"
#include "library/routines.h"
#include "library/system_internals.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/platform.h"
#include "runtime/runtime.h"

namespace kel::boot {

namespace {
constexpr uint32_t kRecordMagic = 0x43524B48u;  // "HKRC"

struct Record {
  uint32_t magic;
  NodeId builtins;
  uint32_t last_class_id;
  NodeId owner_table;
  Cell currency_list;
  uint32_t float_pretty;
  NodeId interfaces;  // the built-ins' interfaces, garbage once registered
  uint32_t reserved[2];
};
static_assert(sizeof(Record) % 8 == 0, "the heap image after the record stays 8-byte aligned");

bool from_heap = false;

// Builds the argument cache of every function and routine of a context's
// values and, depth levels down, of the objects among them, so that the
// image holds them: a start then finds built the caches of the library
// code its first lines call (the console's methods among them), instead of
// building them with their allocations and the fresh pages they touch. The
// natives and actions keep building theirs at their first call, which is
// where a changed interface of a built-in is reported. The values are read
// by index: building a cache allocates.
void build_argument_caches(NodeId context, int depth) {
  NodeId values = context::values_node(context);
  if (values == 0) return;
  for (uint32_t i = 0; i < memory::buffer_of(values)->cell_count(); ++i) {
    Cell value = memory::buffer_of(values)->cells()[i];
    if (value.is(TYPE_FUNCTION) || value.is(TYPE_ROUTINE)) {
      interpreter::argument_cache(value);
    } else if (depth > 0 && object::is_object_kind(value.type()) && object::context_of(value) != context) {
      build_argument_caches(object::context_of(value), depth - 1);
    }
  }
}
}  // namespace

bool started_from_heap() { return from_heap; }

void begin_capture(HeapCapture* capture) { capture->fingerprint = memory::heap_fingerprint(); }

void end_capture(HeapCapture* capture) {
  // An error caught during the boot leaves its value behind: not the next
  // process's.
  runtime::system().thrown_value = Cell{};
  build_argument_caches(context::global(), 2);
  // The boot never collects: what it left behind as garbage stays out of
  // the image (a start copies every byte of it).
  collector::set_enabled(true);
  collector::collect();
  collector::set_enabled(false);
  Record record{};
  record.magic = kRecordMagic;
  record.builtins = builtin_values();
  record.last_class_id = object::last_class_id();
  record.owner_table = ownership::table();
  record.currency_list = money::currency_list();
  record.float_pretty = float_type::pretty() ? 1 : 0;
  record.interfaces = builtin_interfaces();
  capture->section.resize(sizeof record);
  std::memcpy(capture->section.data(), &record, sizeof record);
  uint64_t page_offset = (capture->section_offset + capture->section.size()) % 4096;
  if (!memory::write_heap_image(&capture->section, page_offset, &capture->failure)) capture->section.clear();
}

bool restore_heap(const HeapSection& section) {
  if (section.bytes == nullptr || section.size < sizeof(Record)) return false;
  if (memory::heap_fingerprint() != section.fingerprint) return false;
  Record record;
  std::memcpy(&record, section.bytes, sizeof record);
  if (record.magic != kRecordMagic) refuse_image("the boot image's heap section has another format");
  const char* failure = nullptr;
  // The executable's own image is mapped where its file holds it, page by
  // page as the process touches it; another (a test's) is copied.
  bool map_pages = platform::in_executable_file(section.bytes, section.size);
  if (!memory::read_heap_image(section.bytes + sizeof record, section.size - sizeof record, map_pages, &failure))
    refuse_image(std::string("the boot image's heap does not hold together: ") + failure);
  // What the routines and the evaluation set outside the heap.
  routines::init_table();
  if (!register_builtin_interfaces(record.builtins, record.interfaces))
    refuse_image("the boot image's heap has no interfaces for its built-in values");
  object::set_last_class_id(record.last_class_id);
  ownership::adopt_table(record.owner_table);
  if (record.currency_list.is(TYPE_BLOCK)) money::set_currency_list(record.currency_list);
  float_type::set_pretty(record.float_pretty != 0);
  system_internals::reinstall();
  end_boot();
  // The writer's boot attached no compiled bodies: this process's setting
  // decides, as sealing would.
  compiled::attach();
  // What belongs to this process.
  system_internals::refresh_process_facts();
  gui::refresh_screen_size();
  from_heap = true;
  return true;
}

}  // namespace kel::boot
