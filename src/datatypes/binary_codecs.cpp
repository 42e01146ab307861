// The base 2, 16, 58 and 64 codecs of binary! (see binary_codecs.h).
//
// Decoders gather bytes in a std::vector and make the binary at the end, so
// an invalid text allocates no series and every temporary is released on
// every path. Base 58 is a big-number conversion by repeated long division,
// quadratic in the length, as the format demands.
#include "datatypes/binary_codecs.h"

#include <cstring>
#include <vector>

#include "runtime/string_units.h"

namespace kel::binary {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr char kBase58Digits[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
constexpr char kBase64Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Decode table entries: below 0x40 a digit value; kSkipped and kInvalid.
constexpr uint8_t kSkipped = 0x40;
constexpr uint8_t kInvalid = 0x80;

struct DecodeTable {
  uint8_t entries[128];
};

constexpr DecodeTable make_table(const char* digits, int count) {
  DecodeTable table{};
  for (auto& e : table.entries) e = kInvalid;
  for (int i = 0; i < count; ++i) table.entries[static_cast<uint8_t>(digits[i])] = static_cast<uint8_t>(i);
  for (uint8_t skipped : {9, 10, 12, 13, 32, 39}) table.entries[skipped] = kSkipped;
  return table;
}

constexpr DecodeTable kBase58Table = make_table(kBase58Digits, 58);
constexpr DecodeTable kBase64Table = make_table(kBase64Digits, 64);

// Reads the code points of a text and skips ";" comments (up to and
// including the next line feed).
class TextReader {
 public:
  TextReader(const uint8_t* text, uint32_t count, uint32_t unit) : text_(text), count_(count), unit_(unit) {}

  // The next code point outside comments, or false at the end.
  bool next(uint32_t* code_point) {
    while (position_ < count_) {
      uint32_t c = unicode::get_char(text_ + static_cast<size_t>(position_) * unit_, unit_);
      ++position_;
      if (c != ';') {
        *code_point = c;
        return true;
      }
      while (position_ < count_) {
        uint32_t skipped = unicode::get_char(text_ + static_cast<size_t>(position_) * unit_, unit_);
        ++position_;
        if (skipped == '\n') break;
      }
    }
    return false;
  }

 private:
  const uint8_t* text_;
  uint32_t count_;
  uint32_t unit_;
  uint32_t position_ = 0;
};

NodeId make_binary(const std::vector<uint8_t>& bytes) {
  NodeId node = memory::alloc_bytes(static_cast<uint32_t>(bytes.size()));
  SeriesBuffer* buffer = memory::buffer_of(node);
  if (!bytes.empty()) std::memcpy(buffer->head_ptr(), bytes.data(), bytes.size());
  buffer->tail = buffer->offset + static_cast<uint32_t>(bytes.size());
  return node;
}

}  // namespace

// --- Encoders ---------------------------------------------------------------------------

char* encode_base2(char* output, const uint8_t* bytes, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i)
    for (int bit = 7; bit >= 0; --bit) *output++ = (bytes[i] >> bit) & 1 ? '1' : '0';
  return output;
}

char* encode_base16(char* output, const uint8_t* bytes, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    *output++ = kHexDigits[bytes[i] >> 4];
    *output++ = kHexDigits[bytes[i] & 15];
  }
  return output;
}

char* encode_base58(char* output, const uint8_t* bytes, uint32_t count) {
  uint32_t zeros = 0;
  while (zeros < count && bytes[zeros] == 0) ++zeros;
  std::vector<uint8_t> number(bytes + zeros, bytes + count);
  std::vector<char> digits;  // least significant first
  size_t start = 0;          // quotient bytes before it have become zero
  while (start < number.size()) {
    uint32_t remainder = 0;
    for (size_t i = start; i < number.size(); ++i) {
      uint32_t value = remainder * 256 + number[i];
      number[i] = static_cast<uint8_t>(value / 58);
      remainder = value % 58;
    }
    digits.push_back(kBase58Digits[remainder]);
    while (start < number.size() && number[start] == 0) ++start;
  }
  for (uint32_t i = 0; i < zeros; ++i) *output++ = '1';
  for (auto it = digits.rbegin(); it != digits.rend(); ++it) *output++ = *it;
  return output;
}

char* encode_base64(char* output, const uint8_t* bytes, uint32_t count) {
  uint32_t i = 0;
  for (; i + 3 <= count; i += 3) {
    uint32_t b0 = bytes[i], b1 = bytes[i + 1], b2 = bytes[i + 2];
    *output++ = kBase64Digits[b0 >> 2];
    *output++ = kBase64Digits[(b0 & 3) << 4 | b1 >> 4];
    *output++ = kBase64Digits[(b1 & 15) << 2 | b2 >> 6];
    *output++ = kBase64Digits[b2 & 63];
  }
  uint32_t rest = count - i;
  if (rest == 1) {
    uint32_t b0 = bytes[i];
    *output++ = kBase64Digits[b0 >> 2];
    *output++ = kBase64Digits[(b0 & 3) << 4];
    *output++ = '=';
    *output++ = '=';
  } else if (rest == 2) {
    uint32_t b0 = bytes[i], b1 = bytes[i + 1];
    *output++ = kBase64Digits[b0 >> 2];
    *output++ = kBase64Digits[(b0 & 3) << 4 | b1 >> 4];
    *output++ = kBase64Digits[(b1 & 15) << 2];
    *output++ = '=';
  }
  return output;
}

// --- Decoders ---------------------------------------------------------------------------

NodeId decode_base2(const uint8_t* text, uint32_t count, uint32_t unit) {
  std::vector<uint8_t> bytes;
  bytes.reserve(count / 8);
  TextReader reader(text, count, unit);
  uint32_t c, accumulated = 0, bits = 0;
  while (reader.next(&c)) {
    if (c <= 32) continue;
    if (c != '0' && c != '1') return 0;
    accumulated = accumulated << 1 | (c - '0');
    if (++bits == 8) {
      bytes.push_back(static_cast<uint8_t>(accumulated));
      accumulated = bits = 0;
    }
  }
  if (bits != 0) return 0;
  return make_binary(bytes);
}

NodeId decode_base16(const uint8_t* text, uint32_t count, uint32_t unit) {
  std::vector<uint8_t> bytes;
  bytes.reserve(count / 2);
  TextReader reader(text, count, unit);
  uint32_t c;
  int32_t high = -1;
  while (reader.next(&c)) {
    if (c <= 32) continue;
    int32_t digit = hex_digit_value(c);
    if (digit < 0) return 0;
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<uint8_t>(high << 4 | digit));
      high = -1;
    }
  }
  return make_binary(bytes);
}

NodeId decode_base64(const uint8_t* text, uint32_t count, uint32_t unit) {
  std::vector<uint8_t> bytes;
  bytes.reserve((3 * static_cast<size_t>(count) + 9) / 4);
  TextReader reader(text, count, unit);
  uint32_t c, group = 0, pending = 0;
  while (reader.next(&c)) {
    if (c == '=') {
      if (pending < 2) return 0;
      bytes.push_back(static_cast<uint8_t>(group >> (pending == 3 ? 10 : 4)));
      if (pending == 3) bytes.push_back(static_cast<uint8_t>(group >> 2));
      return make_binary(bytes);
    }
    uint8_t entry = c < 128 ? kBase64Table.entries[c] : kInvalid;
    if (entry == kSkipped) continue;
    if (entry == kInvalid) return 0;
    group = group << 6 | entry;
    if (++pending == 4) {
      bytes.push_back(static_cast<uint8_t>(group >> 16));
      bytes.push_back(static_cast<uint8_t>(group >> 8));
      bytes.push_back(static_cast<uint8_t>(group));
      group = pending = 0;
    }
  }
  return make_binary(bytes);
}

NodeId decode_base58(const uint8_t* text, uint32_t count, uint32_t unit) {
  std::vector<uint8_t> digits;
  digits.reserve(count);
  TextReader reader(text, count, unit);
  uint32_t c;
  while (reader.next(&c)) {
    // No character beyond ASCII is a digit: the text is invalid, as it is
    // in the other bases, rather than cut short with a partial result.
    if (c > 127) return 0;
    uint8_t entry = kBase58Table.entries[c];
    if (entry == kSkipped) continue;
    if (entry == kInvalid) return 0;
    digits.push_back(entry);
  }
  size_t zeros = 0;
  while (zeros < digits.size() && digits[zeros] == 0) ++zeros;
  std::vector<uint8_t> reversed;  // least significant byte first
  size_t start = zeros;
  while (start < digits.size()) {
    uint32_t remainder = 0;
    for (size_t i = start; i < digits.size(); ++i) {
      uint32_t value = remainder * 58 + digits[i];
      digits[i] = static_cast<uint8_t>(value / 256);
      remainder = value % 256;
    }
    reversed.push_back(static_cast<uint8_t>(remainder));
    while (start < digits.size() && digits[start] == 0) ++start;
  }
  std::vector<uint8_t> bytes(zeros, 0);
  bytes.insert(bytes.end(), reversed.rbegin(), reversed.rend());
  return make_binary(bytes);
}

NodeId decode_base(int32_t base, const uint8_t* text, uint32_t count, uint32_t unit) {
  switch (base) {
    case 2: return decode_base2(text, count, unit);
    case 16: return decode_base16(text, count, unit);
    case 58: return decode_base58(text, count, unit);
    case 64: return decode_base64(text, count, unit);
    default: return 0;
  }
}

}  // namespace kel::binary
