// kel: the executable. The runtime runs on one thread with a large stack,
// so that the language's own stack limits (20000 cells, 12000 frames) are
// always reached before the machine stack is exhausted.
#include <malloc.h>
#include <pthread.h>

#include <cstdio>
#include <cstdlib>

#include "boot/entry.h"

namespace {
constexpr size_t kRuntimeStackSize = size_t{256} << 20;  // 256 MiB

struct Arguments {
  int argc;
  char** argv;
};

void* run(void* data) {
  auto* arguments = static_cast<Arguments*>(data);
  kel::boot::entry(arguments->argc, arguments->argv, &kel::boot::kBuiltImage);
}
}  // namespace

int main(int argc, char** argv) {
  // One thread allocates: the C++ heap it uses stays the process's main
  // heap, instead of an arena of its own that grows a page per system call.
  mallopt(M_ARENA_MAX, 1);
  Arguments arguments{argc, argv};
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, kRuntimeStackSize);
  pthread_t thread;
  if (pthread_create(&thread, &attributes, run, &arguments) != 0) {
    // Without a large stack, run here: deep recursion then meets the
    // language's limits later than the machine's, but the program works.
    kel::boot::entry(argc, argv, &kel::boot::kBuiltImage);
  }
  pthread_join(thread, nullptr);
  return 0;
}
