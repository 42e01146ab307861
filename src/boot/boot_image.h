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
// Layout (little-endian):
//   u32 checksum of every byte after this field (Fletcher's two sums over
//       64-bit words, see boot_image.cpp)
//   u32 the number of names of the shared symbol table
//   then, per entry: u32 name length, the name (UTF-8, as in
//   embedded_sources.h), u32 data length, the kelbin data, u32 its symbol
//   count, and for each of its symbols the u32 index of its name in the
//   shared table
// The image is read where it lies; a check that fails (the checksum, a length
// past the end, a shared index past the table, a record the kelbin reader
// refuses) says what failed and ends the process with status 1.
#pragma once

#include <cstddef>
#include <cstdint>
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

// The image of the embedded sources as they load now; the runtime must be
// initialised (the image writer boots from the sources first).
std::vector<uint8_t> write_image();

// Selects where the boot's library code comes from: the image, or, for none
// or one without bytes, the embedded sources. The image must outlive the
// boot.
void use_image(const BootImage* image);

// The library source of that name as loaded code, pushed on the evaluation
// stack: decoded from the image in use, else lexed from the embedded text.
// A source the boot does not have ends the process.
Cell* load_library_source(std::string_view name);

}  // namespace kel::boot
