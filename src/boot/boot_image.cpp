// The boot image (see boot_image.h): writing it from the embedded sources,
// and taking the library's code from it at start-up.
//
// While the boot reads an image, `entries` holds where each entry's name,
// kelbin data and symbol map lie inside it, and `shared_symbols` the
// symbols and global words the entries' decodes share; the image itself is
// never copied.
#include "boot/boot_image.h"

#include <algorithm>
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
#include "runtime/platform.h"
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

std::vector<Entry> entries;       // the library's source files
std::vector<Entry> text_entries;  // the texts of the library's tables
// The text entry of each text the boot loads, in the order it loads them.
const uint8_t* text_order = nullptr;
uint32_t text_order_count = 0;
uint32_t texts_loaded = 0;
std::unique_ptr<kelbin::SharedSymbols> shared_symbols;
bool from_image = false;
// The texts the boot loaded through load_library_text, in order, kept
// while it runs (the tables hold them for the process's life), so that
// writing the image knows them.
std::vector<std::string_view> texts_of_boot;
bool booting = true;
HeapSection heap_section;

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

}  // namespace

// The image's checksum: Fletcher's two sums over the image's 64-bit
// little-endian words (the last one padded with zeros), each taken modulo
// 65535, the second sum in the high half. Since 65535 divides 2^64 - 1,
// the first sum modulo 65535 is the sum of the image's 16-bit halves: a
// changed byte moves it by a nonzero amount below the modulus, so every
// single changed byte is caught; the second sum weighs each word by its
// place, so words that trade places are caught too. (Sums modulo 2^64
// folded with xor let a changed high byte cancel out, and a damaged image
// booted.)
//
// An image from a file is checked whole at its start, so the sums are taken four words
// at a time in two-lane vectors: 2^32 is 1 modulo 65535, so a word counts
// as the sum of its 32-bit halves. Lane j adds up the words 4m + j (S_j)
// and the running sums of those (T_j, which weighs word 4m + j by K - m
// after K steps); a word's place from the end, n - 4m - j, is then
// 4(K - m) - j + r for n = 4K + r, which gives the second sum as
// 4 sum T_j - sum j S_j + r sum S_j, plus the r words left over. The lanes
// are reduced modulo 65535 every kReduceSteps steps, well before they can
// overflow (a step adds below 2^33 to S_j).
uint32_t image_checksum(const uint8_t* bytes, size_t length) {
  using Lanes = uint64_t __attribute__((vector_size(16)));
  constexpr uint64_t kModulus = 65535;
  constexpr size_t kReduceSteps = 4096;
  const Lanes low_half = {0xFFFFFFFFu, 0xFFFFFFFFu};
  Lanes sums_a = {0, 0}, sums_b = {0, 0}, weighted_a = {0, 0}, weighted_b = {0, 0};
  size_t words = length / 8;
  size_t steps = words / 4;
  for (size_t done = 0; done < steps;) {
    size_t until = std::min(steps, done + kReduceSteps);
    for (; done < until; ++done) {
      Lanes a, b;
      std::memcpy(&a, bytes + done * 32, 16);
      std::memcpy(&b, bytes + done * 32 + 16, 16);
      sums_a += (a & low_half) + (a >> 32);
      sums_b += (b & low_half) + (b >> 32);
      weighted_a += sums_a;
      weighted_b += sums_b;
    }
    sums_a %= kModulus;
    sums_b %= kModulus;
    weighted_a %= kModulus;
    weighted_b %= kModulus;
  }
  // Lanes 0 to 3: words 4m, 4m + 1 (a), 4m + 2, 4m + 3 (b).
  uint64_t sum = sums_a[0] + sums_a[1] + sums_b[0] + sums_b[1];
  uint64_t weighted = 4 * (weighted_a[0] + weighted_a[1] + weighted_b[0] + weighted_b[1]) +
                      kModulus * 6 - (sums_a[1] + 2 * sums_b[0] + 3 * sums_b[1]);
  // The words after the last step (the last one padded with zeros), place
  // from the end r - t for the t-th of them, r in all.
  size_t left_bytes = length - steps * 32;
  uint64_t rest = (left_bytes + 7) / 8;
  weighted += rest * sum;
  for (uint64_t t = 0; t < rest; ++t) {
    uint64_t word = 0;
    size_t at = steps * 32 + t * 8;
    std::memcpy(&word, bytes + at, std::min<size_t>(8, length - at));
    uint64_t folded = (word & 0xFFFFFFFFu) + (word >> 32);
    sum += folded;
    weighted += (rest - t) * folded;
  }
  return static_cast<uint32_t>(weighted % kModulus) << 16 | static_cast<uint32_t>(sum % kModulus);
}

void refuse_image(const std::string& what) {
  runtime::print_line("*** Boot Error: ", what.c_str());
  runtime::end_process(1);
}

namespace {

// Reads the entries' places, checking the checksum and every length.
void read_entries(const BootImage& image) {
  if (image.size < kChecksumSize) refuse_image("the boot image is truncated");
  const uint8_t* p = image.bytes + kChecksumSize;
  const uint8_t* end = image.bytes + image.size;
  uint32_t stored = load_u32(image.bytes);
  // The executable's own image is as much the executable as its code: a
  // start reads it where it lies and touches only what it uses. An image
  // from elsewhere (a test's damaged one) is checked whole.
  if (!platform::in_executable_file(image.bytes, image.size) &&
      image_checksum(p, static_cast<size_t>(end - p)) != stored)
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
  auto count = [&] {
    if (end - p < 4) refuse_image("the boot image is truncated");
    uint32_t value = load_u32(p);
    p += 4;
    return value;
  };
  uint32_t shared_count = count();
  shared_symbols = std::make_unique<kelbin::SharedSymbols>(shared_count);
  auto read_list = [&](std::vector<Entry>* list) {
    uint32_t n = count();
    list->clear();
    list->reserve(n);
    for (uint32_t e = 0; e < n; ++e) {
      Entry entry;
      size_t name_length;
      const uint8_t* name = take(&name_length);
      entry.name = std::string_view(reinterpret_cast<const char*>(name), name_length);
      entry.data = take(&entry.size);
      uint32_t symbol_count = count();
      if (symbol_count > static_cast<size_t>(end - p) / 4) refuse_image("the boot image is truncated");
      entry.symbol_map = {shared_symbols.get(), p, symbol_count};
      // The largest index, taken without a branch a word (the loop runs
      // over every symbol of every entry at each start-up).
      uint32_t largest = 0;
      for (uint32_t i = 0; i < symbol_count; ++i) largest = std::max(largest, load_u32(p + 4 * size_t{i}));
      p += 4 * size_t{symbol_count};
      if (symbol_count > 0 && largest >= shared_count)
        refuse_image("the boot image's entry " + std::string(entry.name) + " names a symbol it does not have");
      list->push_back(entry);
    }
  };
  read_list(&entries);
  read_list(&text_entries);
  text_order_count = count();
  if (text_order_count > static_cast<size_t>(end - p) / 4) refuse_image("the boot image is truncated");
  text_order = p;
  for (uint32_t i = 0; i < text_order_count; ++i, p += 4)
    if (load_u32(p) >= text_entries.size()) refuse_image("the boot image's order of texts names no text");
  // The heap section, 8-aligned (the heap image is read in place).
  while (p < end && (p - image.bytes) % 8 != 0) {
    if (*p++ != 0) refuse_image("the boot image's heap section is misplaced");
  }
  if (end - p < 16) refuse_image("the boot image is truncated");
  std::memcpy(&heap_section.fingerprint, p, 8);
  uint64_t heap_size;
  std::memcpy(&heap_size, p + 8, 8);
  p += 16;
  if (heap_size > static_cast<uint64_t>(end - p)) refuse_image("the boot image is truncated");
  if (heap_size < static_cast<uint64_t>(end - p)) refuse_image("the boot image has bytes past its last entry");
  heap_section.bytes = heap_size == 0 ? nullptr : p;
  heap_section.size = heap_size;
  texts_loaded = 0;
}

const Entry* find_entry(const std::vector<Entry>& list, std::string_view name) {
  for (const Entry& entry : list)
    if (entry.name == name) return &entry;
  return nullptr;
}

// The entry of a text: the one the order names for the boot's next load
// when it is that text, else any entry of that text.
const Entry* find_text_entry(std::string_view text) {
  if (texts_loaded < text_order_count) {
    const Entry& next = text_entries[load_u32(text_order + 4 * size_t{texts_loaded})];
    if (next.name == text) {
      ++texts_loaded;
      return &next;
    }
  }
  return find_entry(text_entries, text);
}

// Appends an entry: its name, the compact kelbin of the value, and its
// symbols' indexes in the shared table (which grows by the names it meets
// first).
void put_entry(std::vector<uint8_t>* image, std::unordered_map<std::string, uint32_t>* shared_index,
               std::string_view name, const Cell& value) {
  Cell encoded = kelbin::encode_cp(value);
  SeriesBuffer* buffer = memory::buffer_of(encoded.data2);
  put_u32(image, static_cast<uint32_t>(name.size()));
  image->insert(image->end(), name.begin(), name.end());
  put_u32(image, buffer->used());
  image->insert(image->end(), buffer->head_ptr(), buffer->tail_ptr());
  std::vector<std::string_view> symbols = kelbin::symbol_names(buffer->head_ptr(), buffer->used());
  put_u32(image, static_cast<uint32_t>(symbols.size()));
  for (std::string_view symbol : symbols) {
    auto index = static_cast<uint32_t>(shared_index->size());
    put_u32(image, shared_index->emplace(std::string(symbol), index).first->second);
  }
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
  put_u32(&image, kEmbeddedSourceCount);
  for (unsigned i = 0; i < kEmbeddedSourceCount; ++i) {
    stack::Guard guard;
    put_entry(&image, &shared_index, kEmbeddedSources[i].name, *source_evaluation::load(kEmbeddedSources[i].text));
  }
  // Each distinct text once, then the order the boot loaded them in.
  std::unordered_map<std::string_view, uint32_t> text_index;
  std::vector<std::string_view> distinct;
  std::vector<uint32_t> order;
  for (std::string_view text : texts_of_boot) {
    auto [found, added] = text_index.emplace(text, static_cast<uint32_t>(distinct.size()));
    if (added) distinct.push_back(text);
    order.push_back(found->second);
  }
  put_u32(&image, static_cast<uint32_t>(distinct.size()));
  for (std::string_view text : distinct) {
    stack::Guard guard;
    put_entry(&image, &shared_index, text, *source_evaluation::load(text));
  }
  put_u32(&image, static_cast<uint32_t>(order.size()));
  for (uint32_t index : order) put_u32(&image, index);
  // The heap section, empty: with_heap fills it.
  image.resize((image.size() + 7) & ~size_t{7}, 0);
  image.resize(image.size() + 16, 0);
  uint32_t shared_count = static_cast<uint32_t>(shared_index.size());
  std::memcpy(image.data() + kChecksumSize, &shared_count, sizeof shared_count);
  uint32_t checksum = image_checksum(image.data() + kChecksumSize, image.size() - kChecksumSize);
  std::memcpy(image.data(), &checksum, sizeof checksum);
  return image;
}

std::vector<uint8_t> with_heap(std::vector<uint8_t> image, uint64_t fingerprint, const std::vector<uint8_t>& heap) {
  // The empty heap section ends the image: its two fields are the last 16 bytes.
  size_t at = image.size() - 16;
  uint64_t size = heap.size();
  std::memcpy(image.data() + at, &fingerprint, 8);
  std::memcpy(image.data() + at + 8, &size, 8);
  image.insert(image.end(), heap.begin(), heap.end());
  uint32_t checksum = image_checksum(image.data() + kChecksumSize, image.size() - kChecksumSize);
  std::memcpy(image.data(), &checksum, sizeof checksum);
  return image;
}

const HeapSection& image_heap() { return heap_section; }

void use_image(const BootImage* image) {
  from_image = image != nullptr && image->bytes != nullptr;
  heap_section = HeapSection{};
  entries.clear();
  text_entries.clear();
  text_order_count = 0;
  shared_symbols.reset();
  if (from_image) read_entries(*image);
}

Cell* load_library_text(std::string_view text) {
  if (booting) texts_of_boot.push_back(text);
  if (from_image) {
    if (const Entry* entry = find_text_entry(text)) return decode_entry(*entry);
  }
  return source_evaluation::load(text);
}

void end_boot() { booting = false; }

const std::vector<std::string_view>& boot_texts() { return texts_of_boot; }

uint32_t texts_taken_in_order() { return texts_loaded; }

std::vector<std::string_view> image_texts() {
  std::vector<std::string_view> texts;
  for (const Entry& entry : text_entries) texts.push_back(entry.name);
  return texts;
}

Cell* load_library_source(std::string_view name) {
  if (from_image) {
    const Entry* entry = find_entry(entries, name);
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
