// Output hooks (see output_hooks.h).
#include "runtime/output_hooks.h"

#include <vector>

#include "build_info.h"
#include "runtime/string_buffer.h"
#include "runtime/stack.h"
#include "runtime/output.h"
#include "runtime/runtime.h"

namespace kel::output_hooks {

namespace {
// A list that grows by five entries at a time, as the hooks' users expect
// to observe through print_hook_capacity().
template <class Hook>
struct HookList {
  std::vector<Hook> entries;
  size_t capacity = 5;
  void add(Hook hook) {
    if (entries.size() == capacity) capacity += 5;
    entries.push_back(hook);
  }
  void remove(Hook hook) {
    for (auto it = entries.begin(); it != entries.end(); ++it)
      if (*it == hook) {
        entries.erase(it);
        return;
      }
  }
};
HookList<PrintHook> print_hooks;
HookList<RawHook> raw_hooks;
bool ready = false;
}  // namespace

void init() {
  print_hooks = {};
  raw_hooks = {};
  print_hooks.add(print_to_console);
  ready = true;
}

void add(PrintHook print, RawHook raw) {
  if (print) print_hooks.add(print);
  if (raw) raw_hooks.add(raw);
}

void remove(PrintHook print, RawHook raw) {
  if (print) print_hooks.remove(print);
  if (raw) raw_hooks.remove(raw);
}

void run_print_hooks(const Cell* string, bool newline) {
  // A hook may add or remove hooks; run over a snapshot.
  std::vector<PrintHook> snapshot = print_hooks.entries;
  for (PrintHook hook : snapshot) hook(string, newline);
}

void run_raw_output_hooks(const char* bytes, size_t length, int flag) {
  std::vector<RawHook> snapshot = raw_hooks.entries;
  for (RawHook hook : snapshot) hook(bytes, length, flag);
}

size_t print_hook_count() { return print_hooks.entries.size(); }
size_t print_hook_capacity() { return print_hooks.capacity; }

void print_to_console(const Cell* s, bool newline) {
  output::SuspendTerminalGui suspended;
  SeriesBuffer* b = string::buffer_of(s);
  uint32_t unit = b->unit();
  if (unit != 1 && unit != 2 && unit != 4) {
    runtime::print_line("Error: unknown string encoding: ", static_cast<int32_t>(unit));
    return;
  }
  uint32_t from = s->data1 * unit;
  uint32_t used = b->used();
  if (from > used) from = used;
  output::write(b->head_ptr() + from, used - from, static_cast<int>(unit), newline);
}

void print_text(std::string_view utf8, bool newline) {
  if (!ready) {
    output::print_bytes(utf8.data(), utf8.size());
    if (newline) output::print_bytes("\n", 1);
    output::flush();
    return;
  }
  stack::Guard guard;
  Cell* s = string::push_new(static_cast<uint32_t>(utf8.size()));
  string::append_utf8(s, utf8);
  run_print_hooks(s, newline);
}

const char* build_date() { return KEL_BUILD_STAMP; }

}  // namespace kel::output_hooks
