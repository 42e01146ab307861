// kel: the executable. The runtime runs on a large stack of its own, so
// that the language's own stack limits (20000 cells, 12000 frames) are
// always reached before the machine stack is exhausted. The main thread
// switches to that stack (swapcontext) rather than starting a thread on it:
// a thread's creation, its first scheduling and the join cost a tenth of a
// millisecond of every start. Under the sanitizers, which follow stacks
// they did not see made poorly, a thread carries it instead.
#include <malloc.h>
#include <pthread.h>
#include <sys/mman.h>
#include <ucontext.h>

#include <cstdio>
#include <cstdlib>

#include "boot/entry.h"

namespace {
constexpr size_t kRuntimeStackSize = size_t{256} << 20;  // 256 MiB
constexpr size_t kGuardSize = size_t{64} << 10;          // below it, never mapped

struct Arguments {
  int argc;
  char** argv;
};
Arguments arguments;

// The runtime's entry never returns: it ends the process itself.
[[noreturn]] void run() { kel::boot::entry(arguments.argc, arguments.argv, &kel::boot::kBuiltImage); }

void* run_thread(void*) { run(); }

#ifndef KEL_SANITIZE
// Switches to a stack of kRuntimeStackSize (its pages mapped as they are
// first touched) with an inaccessible guard below it, and runs there.
// Answers only when the stack cannot be made.
void run_on_own_stack() {
  void* block = mmap(nullptr, kGuardSize + kRuntimeStackSize, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
  if (block == MAP_FAILED) return;
  if (mprotect(block, kGuardSize, PROT_NONE) != 0) return;
  static ucontext_t caller;
  static ucontext_t runtime;
  if (getcontext(&runtime) != 0) return;
  runtime.uc_stack.ss_sp = static_cast<char*>(block) + kGuardSize;
  runtime.uc_stack.ss_size = kRuntimeStackSize;
  runtime.uc_link = &caller;
  makecontext(&runtime, run, 0);
  swapcontext(&caller, &runtime);
}
#endif
}  // namespace

int main(int argc, char** argv) {
  // The C++ heap stays the process's main heap, instead of an arena of its
  // own for a second thread that grows a page per system call.
  mallopt(M_ARENA_MAX, 1);
  arguments = Arguments{argc, argv};
#ifndef KEL_SANITIZE
  run_on_own_stack();
#endif
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, kRuntimeStackSize);
  pthread_t thread;
  if (pthread_create(&thread, &attributes, run_thread, nullptr) != 0) {
    // Without a large stack, run here: deep recursion then meets the
    // language's limits later than the machine's, but the program works.
    run();
  }
  pthread_join(thread, nullptr);
  return 0;
}
