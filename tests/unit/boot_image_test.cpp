// The boot image against the sources it was written from: every entry
// decodes to the very block that lexing its file gives now, cell for cell
// (headers with the new-line marker, bindings, indexes, string units and
// bytes), so that evaluating it makes what evaluating the source makes.
#include "boot/boot_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>
#include <string>

#include "boot/embedded_sources.h"
#include "datatypes/series.h"
#include "evaluator/source_evaluation.h"
#include "runtime/datatype_registry.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "test_support.h"

namespace kel {
namespace {

using BootImageTest = testing::RuntimeTest;

// The first difference between two loaded values, as a path of indexes and
// a reason; empty when they are the same.
std::string difference(const Cell& a, const Cell& b, const std::string& at) {
  if (a.header != b.header) return at + ": headers " + std::to_string(a.header) + " and " + std::to_string(b.header);
  TypeId type = a.type();
  if (!series::is_series_kind(type)) {
    if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3)
      return at + ": " + datatype_name(type) + " values differ";
    return "";
  }
  if (series::index_of(a) != series::index_of(b)) return at + ": indexes differ";
  SeriesBuffer* x = series::buffer_of(&a);
  SeriesBuffer* y = series::buffer_of(&b);
  if (x->unit() != y->unit() || x->used() != y->used()) return at + ": series sizes differ";
  if (!series::is_block_kind(type))
    return std::memcmp(x->head_ptr(), y->head_ptr(), x->used()) == 0 ? "" : at + ": series bytes differ";
  for (uint32_t i = 0; i < x->cell_count(); ++i) {
    std::string found = difference(series::buffer_of(&a)->cells()[i], series::buffer_of(&b)->cells()[i],
                                   at + "/" + std::to_string(i));
    if (!found.empty()) return found;
  }
  return "";
}

TEST_F(BootImageTest, EveryEntryDecodesToTheBlockItsSourceLoadsTo) {
  if (boot::kBuiltImage.bytes == nullptr) GTEST_SKIP() << "this build boots from the sources";
  for (unsigned i = 0; i < boot::kEmbeddedSourceCount; ++i) {
    const boot::EmbeddedSource& source = boot::kEmbeddedSources[i];
    stack::Guard guard;
    Cell decoded = *boot::load_library_source(source.name);
    Cell lexed = *source_evaluation::load(source.text);
    EXPECT_EQ(difference(decoded, lexed, source.name), "");
  }
}

// The texts of the library's tables (routine interfaces, error templates)
// come from the image too: a boot that loads them takes each at its place
// in the image's order (this runtime started from the image's heap and
// loaded none), and each decodes to what lexing it gives.
TEST_F(BootImageTest, EveryTextOfTheImageDecodesToWhatItsTextLoadsTo) {
  if (boot::kBuiltImage.bytes == nullptr) GTEST_SKIP() << "this build boots from the sources";
  EXPECT_EQ(boot::texts_taken_in_order(), boot::boot_texts().size());
  std::vector<std::string_view> texts = boot::image_texts();
  ASSERT_GT(texts.size(), 100u);
  for (std::string_view text : texts) {
    stack::Guard guard;
    Cell decoded = *boot::load_library_text(text);
    Cell lexed = *source_evaluation::load(text);
    EXPECT_EQ(difference(decoded, lexed, std::string(text)), "");
  }
}

// The offset after the list of source entries (u32 count, then per entry
// u32 name length, name, u32 data length, data, u32 symbol count, the
// symbols' u32 indexes), which starts after the checksum and the shared
// table's count.
size_t end_of_source_entries(const uint8_t* image) {
  auto u32 = [&](size_t at) {
    uint32_t value;
    std::memcpy(&value, image + at, 4);
    return value;
  };
  size_t at = 8;
  uint32_t count = u32(at);
  at += 4;
  for (uint32_t i = 0; i < count; ++i) {
    at += 4 + u32(at);
    at += 4 + u32(at);
    at += 4 + 4 * size_t{u32(at)};
  }
  return at;
}

// The writer is a function of the sources: writing the entries again gives
// the source entries of the image the build linked, byte for byte. (This
// runtime started from the image's heap, so it did not load the texts the
// library's evaluation loads; the boot-image process test writes the whole
// image again.)
TEST_F(BootImageTest, WritingTheSourceEntriesAgainGivesTheBuiltOnes) {
  if (boot::kBuiltImage.bytes == nullptr) GTEST_SKIP() << "this build boots from the sources";
  std::vector<uint8_t> image = boot::write_image();
  size_t end = end_of_source_entries(image.data());
  ASSERT_EQ(end, end_of_source_entries(boot::kBuiltImage.bytes));
  EXPECT_EQ(std::memcmp(image.data() + 8, boot::kBuiltImage.bytes + 8, end - 8), 0);
}

// The checksum every start-up takes of the image is Fletcher's two sums over
// its 64-bit words, summed here the plain way, one word at a time in 128
// bits: for every length around the four-word steps the checksum sums by
// (a partial last word, one to three words after the last step), on bytes
// that give the largest sums (all 0xFF) and on varied ones, and over an
// image larger than the steps it reduces its sums after.
uint32_t fletcher_one_word_at_a_time(const uint8_t* bytes, size_t length) {
  unsigned __int128 sum = 0;
  unsigned __int128 sum_of_sums = 0;
  for (size_t at = 0; at < length; at += 8) {
    uint64_t word = 0;
    std::memcpy(&word, bytes + at, std::min<size_t>(8, length - at));
    sum += word;
    sum_of_sums += sum;
  }
  return static_cast<uint32_t>(sum_of_sums % 65535) << 16 | static_cast<uint32_t>(sum % 65535);
}

TEST(BootImageChecksum, IsFletchersTwoSumsOverTheWords) {
  std::vector<uint8_t> bytes(300000);
  uint32_t state = 12345;
  for (uint8_t& byte : bytes) {
    state = state * 1103515245 + 12345;
    byte = static_cast<uint8_t>(state >> 16);
  }
  std::vector<uint8_t> full(bytes.size(), 0xFF);
  for (const std::vector<uint8_t>* data : {&bytes, &full}) {
    for (size_t length = 0; length <= 200; ++length)
      EXPECT_EQ(boot::image_checksum(data->data(), length), fletcher_one_word_at_a_time(data->data(), length))
          << "length " << length;
    for (size_t length : {size_t{131071}, size_t{131072}, size_t{131073}, size_t{299993}, data->size()})
      EXPECT_EQ(boot::image_checksum(data->data(), length), fletcher_one_word_at_a_time(data->data(), length))
          << "length " << length;
  }
}

}  // namespace
}  // namespace kel
