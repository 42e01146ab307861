// Starting from the heap the boot left: the boot image's heap section.
//
// Evaluating the library is most of a start-up's work. The image writer
// (src/write_boot_image.cpp) therefore boots a second time, from the image
// it wrote, as kel boots, and keeps the heap that boot left (see
// runtime/memory.h for the heap image) with the few pieces of C++ state the
// evaluation set outside the heap. A start whose heap, where the routine
// values would be made and the library evaluated, is the one the writer's
// boot had there (same fingerprint) puts that heap back instead, then sets
// again what lives outside it (the routines' table first) and refreshes
// what belongs to the process (its command line, current folder, home,
// screen size, time zone). Any other start makes and evaluates them as
// before.
//
// The heap section's bytes: a Record (below), then the heap image.
#pragma once

#include <cstdint>
#include <vector>

#include "boot/boot_image.h"

namespace kel::boot {

// What the image writer's second boot asks of init_runtime: the heap's
// fingerprint where the library's evaluation begins, and at the end the
// heap section's bytes (empty, with the reason, when the heap cannot be
// carried).
struct HeapCapture {
  uint64_t section_offset = 0;  // where the section will start in the image
  uint64_t fingerprint = 0;
  std::vector<uint8_t> section;
  const char* failure = nullptr;
};

// Notes the fingerprint; called where the library's evaluation begins.
void begin_capture(HeapCapture* capture);
// Writes the heap section; called once the boot is done.
void end_capture(HeapCapture* capture);

// Puts the image's heap back when this start's heap has its fingerprint,
// and sets again what the evaluation left outside the heap: true when the
// library needs no evaluation. An image whose heap section does not hold
// together ends the process after saying why.
bool restore_heap(const HeapSection& section);

// Whether this process's library came from the image's heap.
bool started_from_heap();

}  // namespace kel::boot
