// The layout of a callable's argument cache: the block of one typeset! per
// argument (its kind in header bits 20-21), one refinement! per refinement
// and the integers that close it, which the interpreter builds once per
// callable (interpreter::argument_cache) and the port actor also reads to
// shape the frames it calls. The datatypes reach the cache itself through
// the registration table's argument_cache entry.
#pragma once

#include <cstdint>

namespace kel::argument_cache {

// Argument kinds in a cache typeset's header.
constexpr uint32_t kArgumentKindMask = 0x300000;
constexpr uint32_t kPlainArgument = 0;
constexpr uint32_t kGetArgument = 0x100000;
constexpr uint32_t kLitArgument = 0x200000;
constexpr uint32_t kReturnSpec = 0x300000;

}  // namespace kel::argument_cache
