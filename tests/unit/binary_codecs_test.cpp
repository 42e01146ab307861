// The base 2, 16, 58 and 64 codecs of binary!: random binaries survive an
// encode and a decode in every base, whatever the text's unit width and
// with blanks and comments laid between the digits; malformed texts are
// refused (no binary) in every base.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "datatypes/binary_codecs.h"
#include "runtime/memory.h"
#include "runtime/string_units.h"
#include "test_support.h"

namespace kel {
namespace {

class BinaryCodecsTest : public testing::RuntimeTest {};

using Encoder = char* (*)(char*, const uint8_t*, uint32_t);

struct Base {
  int32_t base;
  Encoder encode;
  uint64_t (*room)(uint64_t);
};

const Base kBases[] = {
    {2, binary::encode_base2, binary::base2_room},
    {16, binary::encode_base16, binary::base16_room},
    {58, binary::encode_base58, binary::base58_room},
    {64, binary::encode_base64, binary::base64_room},
};

std::string encoded(const Base& base, const std::vector<uint8_t>& bytes) {
  std::string text(base.room(bytes.size()), '\0');
  char* end = base.encode(text.data(), bytes.data(), static_cast<uint32_t>(bytes.size()));
  EXPECT_LE(static_cast<size_t>(end - text.data()), text.size()) << "base " << base.base;
  text.resize(static_cast<size_t>(end - text.data()));
  return text;
}

// The decoded bytes of the text stored in the given unit width, or
// nothing when the codec refuses the text.
std::optional<std::vector<uint8_t>> decoded(int32_t base, const std::string& text, uint32_t unit) {
  std::vector<uint8_t> units(text.size() * unit + 1);
  for (size_t i = 0; i < text.size(); ++i)
    unicode::put_char(units.data() + i * unit, unit, static_cast<uint8_t>(text[i]));
  NodeId node = binary::decode_base(base, units.data(), static_cast<uint32_t>(text.size()), unit);
  if (node == 0) return std::nullopt;
  SeriesBuffer* buffer = memory::buffer_of(node);
  return std::vector<uint8_t>(buffer->head_ptr(), buffer->tail_ptr());
}

// Blanks and a comment laid between the digits, where each base skips them.
std::string spread(const std::string& text, std::mt19937& generator) {
  std::string out;
  std::uniform_int_distribution<int> choice(0, 9);
  for (char c : text) {
    switch (choice(generator)) {
      case 0: out += ' '; break;
      case 1: out += "\r\n"; break;
      case 2: out += "\t;note\n"; break;
      default: break;
    }
    out += c;
  }
  return out;
}

TEST_F(BinaryCodecsTest, RandomBinariesRoundTripInEveryBaseAndUnit) {
  std::mt19937 generator(4648);
  std::uniform_int_distribution<int> length(0, 300);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> leading_zeros(0, 3);
  for (int round = 0; round < 60; ++round) {
    std::vector<uint8_t> bytes(static_cast<size_t>(leading_zeros(generator)), 0);
    for (int n = length(generator); n > 0; --n) bytes.push_back(static_cast<uint8_t>(byte(generator)));
    for (const Base& base : kBases) {
      std::string text = encoded(base, bytes);
      for (uint32_t unit : {1u, 2u, 4u}) {
        EXPECT_EQ(decoded(base.base, text, unit), bytes) << "base " << base.base << " unit " << unit;
        EXPECT_EQ(decoded(base.base, spread(text, generator), unit), bytes) << "base " << base.base;
      }
    }
  }
}

TEST_F(BinaryCodecsTest, EncodedTextsUseOnlyTheirAlphabets) {
  const std::pair<int32_t, const char*> alphabets[] = {
      {2, "01"},
      {16, "0123456789ABCDEF"},
      {58, "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz"},
      {64, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="},
  };
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<uint8_t>(255 - i));
  for (const Base& base : kBases) {
    std::string text = encoded(base, bytes);
    std::string alphabet;
    for (const auto& [b, letters] : alphabets)
      if (b == base.base) alphabet = letters;
    EXPECT_EQ(text.find_first_not_of(alphabet), std::string::npos) << "base " << base.base;
  }
}

TEST_F(BinaryCodecsTest, MalformedTextsAreRefusedInEveryBase) {
  const std::pair<int32_t, const char*> cases[] = {
      {2, "0000000"},      // a byte cut short
      {2, "00000002"},     // not a binary digit
      {2, "0000 000x"},
      {16, "0G"},          // not a hexadecimal digit
      {16, "AB-CD"},
      {58, "0"},           // 0, O, I and l are not base-58 digits
      {58, "1O"},
      {58, "abcI"},
      {58, "abl"},
      {58, "ab\x0B"},      // vertical tab is invalid, not skipped
      {64, "Y==="},        // "=" after one digit
      {64, "=AAA"},
      {64, "YW*I="},       // outside the alphabet
      {64, "YW\x0BI="},
      {64, "YWJj-"},
  };
  for (const auto& [base, text] : cases)
    EXPECT_EQ(decoded(base, text, 1), std::nullopt) << "base " << base << " " << text;
  for (int32_t unsupported : {0, 8, 10, 32, 65})
    EXPECT_EQ(decoded(unsupported, "00", 1), std::nullopt) << unsupported;
}

}  // namespace
}  // namespace kel
