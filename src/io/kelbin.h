// kelbin: the binary serialization of Kel values.
//
// One buffer holds a header, an optional symbol table and a records area in
// which each value is one record (a container's record holds the records
// of its contents). Two layouts share the header and the symbol table: the
// compact layout, whose integers are LEB128 and whose small values take one
// byte (kelbin_compact.cpp), and the fixed layout, in which every field is a
// 32-bit little-endian word (kelbin_fixed.cpp).
//
//   offset 0   "KELBIN"
//   offset 6   version: the writers put 2, the reader ignores it
//   offset 7   flags: 1 compact layout, 2 compressed, 4 symbol table present
//   offset 8   the layout's own header (record count, records size, the
//              symbol table when flagged), then the records area; with the
//              compressed flag everything from offset 8 on is one record of
//              the runtime's LZ codec whose unpacked bytes take its place
//
// Series shared inside the value stay shared: the writer remembers where it
// wrote each buffer, object, function and error, and writes a later use of
// it as a reference path (record indexes from the top value down) that the
// reader follows through what it has already built.
//
// The reader has two modes. The codec mode (codec_q true) reads data from
// outside, which is untrusted: every record is checked against the records
// area and the datatype's rules, and a bad one raises script
// kb-invalid-record with 1 + its byte offset from the start of the buffer
// (of the unpacked bytes when compressed); nothing is allocated beyond what
// the bytes read so far justify, and nesting deeper than kMaxDepth records
// is refused. The boot mode reads the image built into the executable: it
// also accepts bind records (a word set to a value, both then dropped) and
// words bound by the position of a context made earlier in the image.
//
// Neither direction evaluates Kel code or reaches a safe point of the
// collector, so nothing moves while a value is written or read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "runtime/cell.h"

namespace kel::kelbin {

constexpr uint8_t kVersion = 2;
// Header flags.
constexpr uint8_t kCompactFlag = 1;
constexpr uint8_t kCompressedFlag = 2;
constexpr uint8_t kSymbolsFlag = 4;
// The deepest nesting of records either direction accepts, as deep as the
// cycle stack lets other walks go.
constexpr uint32_t kMaxDepth = 1000;

// The fixed-layout encoding of the value in a new binary! (not rooted: the
// caller stores it before anything else allocates). A value of a datatype
// without a kelbin form (routine!, triple!, handle!, port!, event!)
// raises access no-codec with that value; nesting deeper than
// kMaxDepth raises internal too-deep.
Cell encode(const Cell& value);
// The same in the compact layout.
Cell encode_cp(const Cell& value);

// Symbols that several decodes share (the boot image's entries, which name
// the same words again and again): each buffer's symbol index maps to an
// index of one table, whose symbol and global word the first decode that
// uses it makes, and every later one takes as they are. A name is so
// interned where it would be without the table, only never looked up twice.
struct SharedSymbols {
  std::vector<uint32_t> ids;   // symbol id by shared index, 0 until first used
  std::vector<Cell> words;     // global word by shared index, header 0 until first used
  explicit SharedSymbols(uint32_t count) : ids(count, 0), words(count, make_cell(TYPE_VALUE)) {}
};
// One buffer's map onto the shared table: count 32-bit little-endian
// shared indexes (below the table's size), one for each of its symbols.
struct SymbolMap {
  SharedSymbols* shared;
  const uint8_t* indexes;
  uint32_t count;
};

// Decodes the length bytes of buffer, appending the top-level values to the
// destination block (which the caller keeps rooted). A bad magic or
// corrupted compressed data raises script invalid-data with subject (the
// data handed to the decoder; none when null); malformed records raise
// script kb-invalid-record. What was appended before an error stays. The
// buffer must not move while it is read: a binary's buffer is pinned by the
// caller. Answers the position of the first cell appended. With a symbol
// map, the buffer's symbol table must have the map's count of names.
uint32_t decode(const uint8_t* buffer, size_t length, const Cell& destination, bool codec_q,
                const Cell* subject, const SymbolMap* symbol_map = nullptr);

// The names of the symbol table of a compact buffer that encode_cp wrote,
// in index order.
std::vector<std::string_view> symbol_names(const uint8_t* buffer, size_t length);

// The boot mode's entry: decodes the image into the root block with the
// collector off and answers the root position of its first cell. A bad
// magic or corrupted compressed data ends the process with status 1 after
// saying so.
uint32_t decode_boot(const uint8_t* buffer, size_t length);

}  // namespace kel::kelbin
