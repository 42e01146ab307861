// The entry routine and the runtime initialisation.
//
// entry() takes the bare process, brings the runtime into a known state in
// its fixed order (each step uses what the steps before it made), builds the
// environment and hands control to the console; every way out of it ends
// the process.
#pragma once

#include "boot/boot_heap.h"
#include "boot/boot_image.h"

namespace kel::boot {

// Runs the runtime initialisation once, in order, taking the library from
// the image (see boot_image.h; null or empty: from the embedded sources),
// from the heap it carries when it can (boot_heap.h). Safe to call again
// (it does nothing the second time); the test programs call it to get a
// runtime. With a capture, the library is evaluated and the heap it leaves
// is written to the capture (the image writer's second boot).
void init_runtime(const BootImage* image, HeapCapture* capture = nullptr);

// The whole program; never returns.
[[noreturn]] void entry(int argc, char** argv, const BootImage* image);

}  // namespace kel::boot
