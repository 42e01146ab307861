// The boot image (see boot_image.h): writing it from the embedded sources,
// and taking the library's code from it at start-up.
//
// While the boot reads an image, `entries` holds where each entry's name,
// kelbin data and symbol map lie inside it, and `shared_symbols` the
// symbols and global words the entries' decodes share; the image itself is
// never copied.
#include "boot/boot_image.h"

#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>

#include "boot/embedded_sources.h"
#include "datatypes/block.h"
#include "evaluator/source_evaluation.h"
#include "io/kelbin.h"
#include "runtime/exits.h"
#include "runtime/memory.h"
#include "runtime/runtime.h"
#include "runtime/stack.h"
#include "runtime/upcalls.h"

namespace kel::boot {

namespace {

constexpr size_t kChecksumSize = 4;

struct Entry {
  std::string_view name;
  const uint8_t* data;
  size_t size;
  kelbin::SymbolMap symbol_map;
};

std::vector<Entry> entries;
std::unique_ptr<kelbin::SharedSymbols> shared_symbols;
bool from_image = false;

uint32_t load_u32(const uint8_t* at) {
  uint32_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

void put_u32(std::vector<uint8_t>* out, uint32_t value) {
  uint8_t bytes[4];
  std::memcpy(bytes, &value, sizeof bytes);
  out->insert(out->end(), bytes, bytes + 4);
}

// The image's checksum: Fletcher's two sums over its 64-bit little-endian
// words (the last one padded with zeros), folded to 32 bits. Any changed
// byte changes the first sum, a moved word the second, and it costs a
// small part of a CRC-32, which every start-up would pay.
uint32_t image_checksum(const uint8_t* bytes, size_t length) {
  uint64_t sum = 0;
  uint64_t sum_of_sums = 0;
  size_t at = 0;
  for (; at + 8 <= length; at += 8) {
    uint64_t word;
    std::memcpy(&word, bytes + at, 8);
    sum += word;
    sum_of_sums += sum;
  }
  if (at < length) {
    uint64_t word = 0;
    std::memcpy(&word, bytes + at, length - at);
    sum += word;
    sum_of_sums += sum;
  }
  uint64_t folded = sum ^ (sum_of_sums * 0x9E3779B97F4A7C15u);
  return static_cast<uint32_t>(folded ^ (folded >> 32));
}

// The image cannot serve: the boot has no library to go on with.
[[noreturn]] void refuse_image(const std::string& what) {
  runtime::print_line("*** Boot Error: ", what.c_str());
  runtime::end_process(1);
}

// Reads the entries' places, checking the checksum and every length.
void read_entries(const BootImage& image) {
  if (image.size < kChecksumSize) refuse_image("the boot image is truncated");
  const uint8_t* p = image.bytes + kChecksumSize;
  const uint8_t* end = image.bytes + image.size;
  uint32_t stored = load_u32(image.bytes);
  if (image_checksum(p, static_cast<size_t>(end - p)) != stored)
    refuse_image("the boot image is corrupted (its checksum does not match)");
  auto take = [&](size_t* length) {
    if (end - p < 4) refuse_image("the boot image is truncated");
    *length = load_u32(p);
    p += 4;
    if (*length > static_cast<size_t>(end - p)) refuse_image("the boot image is truncated");
    const uint8_t* at = p;
    p += *length;
    return at;
  };
  if (end - p < 4) refuse_image("the boot image is truncated");
  uint32_t shared_count = load_u32(p);
  p += 4;
  shared_symbols = std::make_unique<kelbin::SharedSymbols>(shared_count);
  entries.clear();
  while (p < end) {
    Entry entry;
    size_t name_length;
    const uint8_t* name = take(&name_length);
    entry.name = std::string_view(reinterpret_cast<const char*>(name), name_length);
    entry.data = take(&entry.size);
    if (end - p < 4) refuse_image("the boot image is truncated");
    uint32_t symbol_count = load_u32(p);
    p += 4;
    if (symbol_count > static_cast<size_t>(end - p) / 4) refuse_image("the boot image is truncated");
    entry.symbol_map = {shared_symbols.get(), p, symbol_count};
    for (uint32_t i = 0; i < symbol_count; ++i, p += 4)
      if (load_u32(p) >= shared_count)
        refuse_image("the boot image's entry " + std::string(entry.name) + " names a symbol it does not have");
    entries.push_back(entry);
  }
}

const Entry* find_entry(std::string_view name) {
  for (const Entry& entry : entries)
    if (entry.name == name) return &entry;
  return nullptr;
}

// Decodes one entry in the codec mode (every record checked) into a new
// block on the stack and answers the block the entry holds, in that cell.
// A refused entry ends the process after saying why.
Cell* decode_entry(const Entry& entry) {
  Cell* result = stack::push_slot();
  {
    stack::Guard guard;
    Cell* destination = block::push_only(1);
    stack::mark_try(nullptr);
    try {
      kelbin::decode(entry.data, entry.size, *destination, true, nullptr, &entry.symbol_map);
    } catch (const exits::Unwind& unwind) {
      if (unwind.code != exits::kError) throw;
      std::string text = upcalls::table.error_text(stack::top[-1]);
      refuse_image("the boot image's entry " + std::string(entry.name) + " does not decode\n" + text);
    }
    SeriesBuffer* buffer = memory::buffer_of(destination->data2);
    if (buffer->cell_count() != 1 || !buffer->cells()[0].is(TYPE_BLOCK))
      refuse_image("the boot image's entry " + std::string(entry.name) + " holds no block");
    *result = buffer->cells()[0];
  }
  return result;
}

}  // namespace

std::vector<uint8_t> write_image() {
  // The shared symbol table is known once every entry is written: its
  // count goes in front of the entries.
  std::vector<uint8_t> image(kChecksumSize + 4, 0);
  std::unordered_map<std::string, uint32_t> shared_index;
  for (unsigned i = 0; i < kEmbeddedSourceCount; ++i) {
    std::string_view name = kEmbeddedSources[i].name;
    stack::Guard guard;
    Cell* loaded = source_evaluation::load(kEmbeddedSources[i].text);
    Cell encoded = kelbin::encode_cp(*loaded);
    SeriesBuffer* buffer = memory::buffer_of(encoded.data2);
    put_u32(&image, static_cast<uint32_t>(name.size()));
    image.insert(image.end(), name.begin(), name.end());
    put_u32(&image, buffer->used());
    image.insert(image.end(), buffer->head_ptr(), buffer->tail_ptr());
    std::vector<std::string_view> symbols = kelbin::symbol_names(buffer->head_ptr(), buffer->used());
    put_u32(&image, static_cast<uint32_t>(symbols.size()));
    for (std::string_view symbol : symbols) {
      auto index = static_cast<uint32_t>(shared_index.size());
      put_u32(&image, shared_index.emplace(std::string(symbol), index).first->second);
    }
  }
  uint32_t shared_count = static_cast<uint32_t>(shared_index.size());
  std::memcpy(image.data() + kChecksumSize, &shared_count, sizeof shared_count);
  uint32_t checksum = image_checksum(image.data() + kChecksumSize, image.size() - kChecksumSize);
  std::memcpy(image.data(), &checksum, sizeof checksum);
  return image;
}

void use_image(const BootImage* image) {
  from_image = image != nullptr && image->bytes != nullptr;
  entries.clear();
  shared_symbols.reset();
  if (from_image) read_entries(*image);
}

Cell* load_library_source(std::string_view name) {
  if (from_image) {
    const Entry* entry = find_entry(name);
    if (entry == nullptr) refuse_image("the boot image has no entry " + std::string(name));
    return decode_entry(*entry);
  }
  std::string_view text = embedded_source(name);
  if (text.empty()) {
    runtime::print_line("*** Boot Error: missing library source ", std::string(name).c_str());
    runtime::quit(98, KEL_CALLER_ADDRESS());
  }
  return source_evaluation::load(text);
}

}  // namespace kel::boot
