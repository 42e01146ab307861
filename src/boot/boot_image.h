// The boot image: the library written in Kel, loaded once at build time
// and kept in the executable as kelbin data, so that start-up decodes the
// library's code instead of lexing its text.
//
// The image holds one entry per embedded source file (every .kel file below
// src/, see embedded_sources.h): the file's name and the compact kelbin
// encoding of the block that loading its text gives, words bound to the
// global context. The boot takes each entry at the moment it would have
// lexed that file and evaluates the decoded block exactly as it would have
// evaluated the loaded one. Decoding a file's block interns its symbols and
// adds its words to the global context in the order the lexer meets them,
// and the evaluation between two files is the same code on the same state,
// so every symbol, global slot, function, object and flag the boot makes
// is the one it makes from the sources. The entries name the same words
// again and again: each entry maps its symbols onto one table of the
// image, so that a name is interned and a global word looked up once for
// all of them (at its first use, where the sources would intern it too).
//
// The library's C++ tables hold Kel texts too (the routines' interfaces,
// the error templates), which the boot loads one by one as it makes the
// routines and the error catalog: the image holds each of them loaded, as
// one entry per distinct text named by the text itself, and the order the
// boot loads them in, so that each load takes the next entry without a
// search and decodes it at the moment the text would have been lexed.
//
// Layout (little-endian):
//   u32 checksum of every byte after this field (Fletcher's two sums over
//       64-bit words, see boot_image.cpp)
//   u32 the number of names of the shared symbol table
//   u32 the number of source entries, then, per entry: u32 name length,
//       the name (UTF-8, as in embedded_sources.h), u32 data length, the
//       kelbin data, u32 its symbol count, and for each of its symbols the
//       u32 index of its name in the shared table
//   u32 the number of text entries, then the entries as above, each named
//       by its text
//   u32 the number of texts the boot loads, then for each the u32 index of
//       its text entry
//   zero bytes up to a multiple of 8 from the image's start
//   u64 the heap's fingerprint when the library's evaluation starts, u64
//       the size of the heap image, and the heap image (runtime/memory.h):
//       the heap the boot left (size 0: none)
// The image is read where it lies; a check that fails (the checksum, a length
// past the end, a shared index past the table, a record the kelbin reader
// refuses) says what failed and ends the process with status 1. The
// checksum is taken of an image read from a file; the executable's own
// image is trusted as its code is, and only the parts a start uses are
// touched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/cell.h"

namespace kel::boot {

struct BootImage {
  const uint8_t* bytes;  // null: no image, the boot lexes the embedded sources
  size_t size;
};

// The image of this build, defined by the file the image writer generates
// (an empty image when the build boots from the sources). Only the programs
// that start a runtime (kel and the test programs) link it.
extern const BootImage kBuiltImage;

// The checksum an image stores in front of the rest of its bytes:
// Fletcher's two sums over those bytes' 64-bit little-endian words (the
// last one padded with zeros), each modulo 65535, the second in the high
// half.
uint32_t image_checksum(const uint8_t* bytes, size_t length);

// The image of the embedded sources as they load now; the runtime must be
// initialised (the image writer boots from the sources first).
std::vector<uint8_t> write_image();

// The image with its heap section filled: the heap's fingerprint where the
// boot starts evaluating the library, and the heap it left (see memory.h).
std::vector<uint8_t> with_heap(std::vector<uint8_t> image, uint64_t fingerprint, const std::vector<uint8_t>& heap);

// The heap section of the image in use (bytes null when it has none). A
// start whose heap has that fingerprint when the library's evaluation
// would begin puts the heap image back instead of evaluating the library.
struct HeapSection {
  uint64_t fingerprint = 0;
  const uint8_t* bytes = nullptr;
  size_t size = 0;
};
const HeapSection& image_heap();

// The image cannot serve: says what failed ("*** Boot Error: " first) and
// ends the process with status 1.
[[noreturn]] void refuse_image(const std::string& what);

// Selects where the boot's library code comes from: the image, or, for none
// or one without bytes, the embedded sources. The image must outlive the
// boot.
void use_image(const BootImage* image);

// The library source of that name as loaded code, pushed on the evaluation
// stack: decoded from the image in use, else lexed from the embedded text.
// A source the boot does not have ends the process.
Cell* load_library_source(std::string_view name);

// A text of the library's tables as loaded code, pushed on the evaluation
// stack: decoded from the image when it holds the text, else lexed. Until
// end_boot the texts are noted for write_image (they must outlive the
// process's runtime, as the tables' texts do).
Cell* load_library_text(std::string_view text);
void end_boot();

// The texts the boot loaded, in order, and how many of them it took from
// the image at their place in its order (all of them, when the image was
// written by this build).
const std::vector<std::string_view>& boot_texts();
uint32_t texts_taken_in_order();
// The texts the image in use holds, in its order.
std::vector<std::string_view> image_texts();

}  // namespace kel::boot
