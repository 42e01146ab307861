// The library written in Kel, embedded in the executable at build time
// (scripts/embed-kel.cmake writes the table from every .kel file below src/).
#pragma once

#include <string_view>

namespace kel::boot {

struct EmbeddedSource {
  const char* name;  // path below src/, e.g. "boot/actions.kel"
  const char* text;  // UTF-8 source
};

extern const EmbeddedSource kEmbeddedSources[];
extern const unsigned kEmbeddedSourceCount;

// The text of an embedded source by name, or an empty view.
std::string_view embedded_source(std::string_view name);

}  // namespace kel::boot
