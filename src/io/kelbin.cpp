// The kelbin container (see kelbin.h): the header, the symbol table, the
// unpacking of compressed data, and the entries that hand the records area
// to the layout readers and writers.
//
// Compact layout header, from offset 8 (unsigned LEB128 integers):
//   record count, records size,
//   with flag 4: symbol count N, string-area size S, N offsets of 4 bytes,
//   the string area (names back to back, each ending with a NUL);
//   then the records area.
// Fixed layout header, from offset 8 (32-bit little-endian words): the same
// fields in the same order; each name of its string area starts at a
// multiple of 8 bytes.
//
// The writers put a record count of 1 (they write one value); the reader
// reads records until the records area ends and never looks at the count.
// Neither writer compresses; the reader unpacks a compressed payload with
// the runtime's LZ codec into a heap buffer it releases however it ends.
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/symbol.h"
#include "runtime/stack.h"
#include "io/kelbin_internal.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/lz_codec.h"
#include "runtime/runtime.h"
#include "runtime/root_block.h"

namespace kel::kelbin {

namespace {

constexpr uint8_t kMagic[6] = {'K', 'E', 'L', 'B', 'I', 'N'};
constexpr size_t kPrefixSize = 8;  // magic, version, flags

// The data is no kelbin, or its packed payload does not unpack: the codec
// mode raises script invalid-data with the data, the boot mode cannot go on
// and ends the process as failed.
[[noreturn]] void refuse(bool codec_q, const Cell* subject, const char* boot_message) {
  if (!codec_q) {
    runtime::print_line(boot_message);
    runtime::end_process(1);
  }
  Cell none = make_cell(TYPE_NONE);
  fire(ErrorId::script_invalid_data, subject != nullptr ? subject : &none);
}

// The unpacked payload, released whichever way the decode ends.
class Unpacked {
 public:
  Unpacked() = default;
  ~Unpacked() { lz_codec::free_buffer(bytes); }
  Unpacked(const Unpacked&) = delete;
  Unpacked& operator=(const Unpacked&) = delete;
  uint8_t* bytes = nullptr;
};

// A uleb of the compact header: at most five bytes before the end, the
// fifth below 0x10.
uint32_t header_uleb(const Decoder& decoder, const uint8_t** p, const uint8_t* end) {
  const uint8_t* at = *p;
  uint32_t value = 0;
  for (uint32_t shift = 0;; shift += 7) {
    if (*p >= end) decoder.fail(at);
    uint8_t next = *(*p)++;
    if (shift == 28 && next >= 0x10) decoder.fail(at);
    value |= uint32_t{next & 0x7Fu} << shift;
    if ((next & 0x80) == 0) return value;
  }
}

// Checks the symbol table of count offsets and a string area of size bytes
// at p and hands it to the decoder; answers the position after it.
const uint8_t* take_symbols(Decoder& decoder, const uint8_t* at, const uint8_t* p, const uint8_t* end,
                            uint32_t count, uint32_t size) {
  auto left = static_cast<uint64_t>(end - p);
  if (count > left / 4 || size > left - uint64_t{count} * 4) decoder.fail(at);
  const uint8_t* names = p + uint64_t{count} * 4;
  if (size > 0 && names[size - 1] != 0) decoder.fail(at);
  if (decoder.symbol_map != nullptr && decoder.symbol_map->count != count) decoder.fail(at);
  decoder.set_symbols(p, count, names, size);
  return names + size;
}

void decode_compact(Decoder& decoder, const uint8_t* p, const uint8_t* end, bool symbols) {
  header_uleb(decoder, &p, end);  // the record count
  const uint8_t* size_at = p;
  uint32_t records_size = header_uleb(decoder, &p, end);
  if (symbols) {
    const uint8_t* at = p;
    uint32_t count = header_uleb(decoder, &p, end);
    uint32_t size = header_uleb(decoder, &p, end);
    p = take_symbols(decoder, at, p, end, count, size);
  }
  if (records_size > static_cast<uint64_t>(end - p)) decoder.fail(size_at);
  read_compact(decoder, p, p + records_size);
}

void decode_fixed(Decoder& decoder, const uint8_t* p, const uint8_t* end, bool symbols, const Cell* subject) {
  if (end - p < 8) refuse(true, subject, nullptr);
  const uint8_t* size_at = p + 4;
  uint32_t records_size = load_u32(size_at);
  p += 8;
  if (symbols) {
    const uint8_t* at = p;
    if (end - p < 8) decoder.fail(at);
    uint32_t count = load_u32(p);
    uint32_t size = load_u32(p + 4);
    p = take_symbols(decoder, at, p + 8, end, count, size);
    if (!decoder.codec_q) decoder.resolve_all_symbols(at);
  }
  if (records_size > static_cast<uint64_t>(end - p)) decoder.fail(size_at);
  read_fixed(decoder, p, p + records_size);
}

// The string area of the writers' symbols: each name followed by its NUL,
// padded to a multiple of pad bytes; offsets receives where each starts.
std::vector<uint8_t> string_area(const std::vector<uint32_t>& symbols, uint32_t pad, std::vector<uint32_t>* offsets) {
  std::vector<uint8_t> area;
  for (uint32_t id : symbols) {
    offsets->push_back(static_cast<uint32_t>(area.size()));
    std::string_view name = symbol::name(id);
    area.insert(area.end(), name.begin(), name.end());
    area.push_back(0);
    while (area.size() % pad != 0) area.push_back(0);
  }
  return area;
}

void put_uleb(std::vector<uint8_t>* out, uint32_t value) {
  while (value >= 0x80) {
    out->push_back(static_cast<uint8_t>(value | 0x80));
    value >>= 7;
  }
  out->push_back(static_cast<uint8_t>(value));
}

void put_u32(std::vector<uint8_t>* out, uint32_t value) {
  uint8_t bytes[4];
  store_u32(bytes, value);
  out->insert(out->end(), bytes, bytes + 4);
}

// A new binary! of the header bytes followed by the records.
Cell assemble(const std::vector<uint8_t>& header, const std::vector<uint8_t>& records) {
  uint64_t size = uint64_t{header.size()} + records.size();
  memory::check_series_size(size);
  NodeId node = memory::alloc_bytes(static_cast<uint32_t>(size));
  SeriesBuffer* buffer = memory::buffer_of(node);
  std::memcpy(buffer->data(), header.data(), header.size());
  if (!records.empty()) std::memcpy(buffer->data() + header.size(), records.data(), records.size());
  buffer->tail = static_cast<uint32_t>(size);
  return make_cell(TYPE_BINARY, 0, node, 0);
}

std::vector<uint8_t> prefix(uint8_t flags) {
  std::vector<uint8_t> header(sizeof kMagic + 2);
  std::memcpy(header.data(), kMagic, sizeof kMagic);
  header[sizeof kMagic] = kVersion;
  header[sizeof kMagic + 1] = flags;
  return header;
}

}  // namespace

Cell encode_cp(const Cell& value) {
  Encoder encoder;
  write_compact(encoder, value);
  const std::vector<uint32_t>& symbols = encoder.symbols();
  std::vector<uint8_t> header = prefix(symbols.empty() ? kCompactFlag : kCompactFlag | kSymbolsFlag);
  put_uleb(&header, 1);
  memory::check_series_size(encoder.records.size());
  put_uleb(&header, static_cast<uint32_t>(encoder.records.size()));
  if (!symbols.empty()) {
    std::vector<uint32_t> offsets;
    std::vector<uint8_t> names = string_area(symbols, 1, &offsets);
    memory::check_series_size(names.size());
    put_uleb(&header, static_cast<uint32_t>(symbols.size()));
    put_uleb(&header, static_cast<uint32_t>(names.size()));
    for (uint32_t offset : offsets) put_u32(&header, offset);
    header.insert(header.end(), names.begin(), names.end());
  }
  return assemble(header, encoder.records);
}

Cell encode(const Cell& value) {
  Encoder encoder;
  write_fixed(encoder, value);
  const std::vector<uint32_t>& symbols = encoder.symbols();
  std::vector<uint8_t> header = prefix(symbols.empty() ? 0 : kSymbolsFlag);
  memory::check_series_size(encoder.records.size());
  put_u32(&header, 1);
  put_u32(&header, static_cast<uint32_t>(encoder.records.size()));
  if (!symbols.empty()) {
    std::vector<uint32_t> offsets;
    std::vector<uint8_t> names = string_area(symbols, 8, &offsets);
    memory::check_series_size(names.size());
    put_u32(&header, static_cast<uint32_t>(symbols.size()));
    put_u32(&header, static_cast<uint32_t>(names.size()));
    for (uint32_t offset : offsets) put_u32(&header, offset);
    header.insert(header.end(), names.begin(), names.end());
  }
  return assemble(header, encoder.records);
}

uint32_t decode(const uint8_t* buffer, size_t length, const Cell& destination, bool codec_q, const Cell* subject,
                const SymbolMap* symbol_map) {
  if (length < kPrefixSize || std::memcmp(buffer, kMagic, sizeof kMagic) != 0)
    refuse(codec_q, subject, "Error: Not a Kelbin file!");
  uint8_t flags = buffer[7];
  const uint8_t* start = buffer;
  const uint8_t* payload = buffer + kPrefixSize;
  const uint8_t* end = buffer + length;
  Unpacked unpacked;
  if ((flags & kCompressedFlag) != 0) {
    uint32_t produced = 0;
    unpacked.bytes = lz_codec::decompress(payload, length - kPrefixSize, &produced);
    if (unpacked.bytes == nullptr) refuse(codec_q, subject, "Error: Kelbin compressed data corrupted!");
    // Positions in errors count from the start of the unpacked bytes.
    start = payload = unpacked.bytes;
    end = unpacked.bytes + produced;
  }
  Decoder decoder(start, codec_q, destination);
  decoder.symbol_map = symbol_map;
  uint32_t first = decoder.base_count;
  bool symbols = (flags & kSymbolsFlag) != 0;
  // A map for a buffer without names fits it only when it maps none.
  if (!symbols && symbol_map != nullptr && symbol_map->count != 0) decoder.fail(payload);
  if ((flags & kCompactFlag) != 0) decode_compact(decoder, payload, end, symbols);
  else decode_fixed(decoder, payload, end, symbols, subject);
  return first;
}

std::vector<std::string_view> symbol_names(const uint8_t* buffer, size_t length) {
  std::vector<std::string_view> names;
  if (length < kPrefixSize || (buffer[7] & kSymbolsFlag) == 0) return names;
  // The writer's own bytes: no field needs a check.
  const uint8_t* p = buffer + kPrefixSize;
  auto uleb = [&p] {
    uint32_t value = 0;
    for (uint32_t shift = 0;; shift += 7) {
      uint8_t next = *p++;
      value |= uint32_t{next & 0x7Fu} << shift;
      if ((next & 0x80) == 0) return value;
    }
  };
  uleb();  // the record count
  uleb();  // the records size
  uint32_t count = uleb();
  uleb();  // the string area's size
  const uint8_t* area = p + uint64_t{count} * 4;
  for (uint32_t i = 0; i < count; ++i)
    names.emplace_back(reinterpret_cast<const char*>(area + load_u32(p + 4 * size_t{i})));
  return names;
}

uint32_t decode_boot(const uint8_t* buffer, size_t length) {
  collector::Pause pause;
  Cell root = block::make_value(root::block());
  return decode(buffer, length, root, false, nullptr);
}

}  // namespace kel::kelbin
