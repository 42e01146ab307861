// Checksums, digests and HMAC against their published test vectors: MD5
// (RFC 1321), SHA-1 and SHA-2 (FIPS 180), HMAC (RFC 2202, RFC 4231), CRC-32
// (ISO 3309), Adler-32 (RFC 1950) and the Internet checksum (RFC 1071);
// plus the method words and the refusals.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "datatypes/symbol.h"
#include "runtime/checksum.h"
#include "test_support.h"

namespace kel {
namespace {

using crypto::Method;

std::vector<uint8_t> bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

std::string hex(const crypto::Digest& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (uint32_t i = 0; i < digest.size; ++i) {
    text += kDigits[digest.bytes[i] >> 4];
    text += kDigits[digest.bytes[i] & 15];
  }
  return text;
}

std::string digest_hex(const std::string& text, Method method) {
  std::vector<uint8_t> data = bytes(text);
  return hex(crypto::digest(data.data(), data.size(), crypto::method_index(method)));
}

std::string hmac_hex(const std::vector<uint8_t>& key, const std::string& text, Method method) {
  std::vector<uint8_t> data = bytes(text);
  return hex(crypto::hmac(data.data(), data.size(), key.data(), key.size(), method));
}

class ChecksumTest : public testing::RuntimeTest {};

// --- Digests ---------------------------------------------------------------------------

struct DigestCase {
  Method method;
  std::string input;
  const char* expected;
};

TEST_F(ChecksumTest, DigestsMatchThePublishedVectors) {
  const std::string alphabet448 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  const DigestCase cases[] = {
      {Method::md5, "", "d41d8cd98f00b204e9800998ecf8427e"},
      {Method::md5, "a", "0cc175b9c0f1b6a831c399e269772661"},
      {Method::md5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
      {Method::md5, "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {Method::md5, "abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {Method::md5, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {Method::sha1, "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {Method::sha1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {Method::sha1, alphabet448, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {Method::sha1, std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
      {Method::sha256, "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {Method::sha256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {Method::sha256, alphabet448, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {Method::sha384, "",
       "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da274edebfe76f65fbd51ad2f14898b95b"},
      {Method::sha384, "abc",
       "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
      {Method::sha512, "",
       "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce"
       "47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e"},
      {Method::sha512, "abc",
       "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
       "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
  };
  for (const DigestCase& c : cases) {
    EXPECT_EQ(digest_hex(c.input, c.method), c.expected)
        << "method " << static_cast<int>(c.method) << ", input of " << c.input.size() << " bytes";
  }
}

TEST_F(ChecksumTest, DigestSizesFollowTheIndex) {
  const uint32_t expected[] = {0, 0, 16, 20, 32, 48, 64, 0};
  for (int32_t index = 0; index < 8; ++index) EXPECT_EQ(crypto::digest_size(index), expected[index]) << index;
  EXPECT_EQ(crypto::hmac_block_size(crypto::method_index(Method::sha384)), 128u);
  EXPECT_EQ(crypto::hmac_block_size(crypto::method_index(Method::sha512)), 128u);
  EXPECT_EQ(crypto::hmac_block_size(crypto::method_index(Method::sha256)), 64u);
  EXPECT_EQ(crypto::hmac_block_size(crypto::method_index(Method::md5)), 64u);
}

TEST_F(ChecksumTest, ADigestIndexWithoutAnAlgorithmIsRefused) {
  for (int32_t index : {-1, 0, 1, 7}) {
    auto raised = testing::catch_error([&] { crypto::digest(nullptr, 0, index); });
    ASSERT_TRUE(raised.has_value()) << index;
    EXPECT_EQ(*raised, ErrorId::script_invalid_arg) << index;
  }
}

// --- HMAC ----------------------------------------------------------------------------------

struct HmacCase {
  Method method;
  std::vector<uint8_t> key;
  std::string data;
  const char* expected;
};

TEST_F(ChecksumTest, HmacMatchesTheRfcVectors) {
  const std::string jefe_data = "what do ya want for nothing?";
  const std::string big_key_data = "Test Using Larger Than Block-Size Key - Hash Key First";
  const std::vector<uint8_t> jefe = bytes("Jefe");
  const HmacCase cases[] = {
      // RFC 2202
      {Method::md5, std::vector<uint8_t>(16, 0x0b), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d"},
      {Method::md5, jefe, jefe_data, "750c783e6ab0b503eaa86e310a5db738"},
      {Method::md5, std::vector<uint8_t>(16, 0xaa), std::string(50, '\xdd'), "56be34521d144c88dbb8c733f0e8b3f6"},
      {Method::md5, std::vector<uint8_t>(80, 0xaa), big_key_data, "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
      {Method::sha1, std::vector<uint8_t>(20, 0x0b), "Hi There", "b617318655057264e28bc0b6fb378c8ef146be00"},
      {Method::sha1, jefe, jefe_data, "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
      {Method::sha1, std::vector<uint8_t>(80, 0xaa), big_key_data, "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
      // RFC 4231
      {Method::sha256, std::vector<uint8_t>(20, 0x0b), "Hi There",
       "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
      {Method::sha256, jefe, jefe_data, "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
      {Method::sha256, std::vector<uint8_t>(131, 0xaa), big_key_data,
       "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
      {Method::sha384, std::vector<uint8_t>(20, 0x0b), "Hi There",
       "afd03944d84895626b0825f4ab46907f15f9dadbe4101ec682aa034c7cebc59cfaea9ea9076ede7f4af152e8b2fa9cb6"},
      {Method::sha384, jefe, jefe_data,
       "af45d2e376484031617f78d2b58a6b1b9c7ef464f5a01b47e42ec3736322445e8e2240ca5e69e2c78b3239ecfab21649"},
      {Method::sha384, std::vector<uint8_t>(131, 0xaa), big_key_data,
       "4ece084485813e9088d2c63a041bc5b44f9ef1012a2b588f3cd11f05033ac4c60c2ef6ab4030fe8296248df163f44952"},
      {Method::sha512, std::vector<uint8_t>(20, 0x0b), "Hi There",
       "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cde"
       "daa833b7d6b8a702038b274eaea3f4e4be9d914eeb61f1702e696c203a126854"},
      {Method::sha512, jefe, jefe_data,
       "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea250554"
       "9758bf75c05a994a6d034f65f8f0e6fdcaeab1a34d4a6b4b636e070a38bce737"},
      {Method::sha512, std::vector<uint8_t>(131, 0xaa), big_key_data,
       "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f352"
       "6b56d037e05f2598bd0fd2215d6a1e5295e64f73f63f0aec8b915a985d786598"},
  };
  for (const HmacCase& c : cases) {
    EXPECT_EQ(hmac_hex(c.key, c.data, c.method), c.expected)
        << "method " << static_cast<int>(c.method) << ", key of " << c.key.size() << " bytes";
  }
}

// A key longer than the block size stands for its own digest; the block is
// 64 bytes for SHA-256 and 128 for SHA-512, so a 100-byte key is hashed
// for the first and used as it is for the second.
TEST_F(ChecksumTest, AKeyLongerThanTheBlockEqualsItsDigestAsKey) {
  std::vector<uint8_t> long_key(100);
  for (size_t i = 0; i < long_key.size(); ++i) long_key[i] = static_cast<uint8_t>(i * 7 + 1);
  for (Method method : {Method::md5, Method::sha1, Method::sha256, Method::sha512}) {
    crypto::Digest key_digest = crypto::digest(long_key.data(), long_key.size(), crypto::method_index(method));
    std::vector<uint8_t> short_key(key_digest.bytes.begin(), key_digest.bytes.begin() + key_digest.size);
    bool hashed = long_key.size() > crypto::hmac_block_size(crypto::method_index(method));
    EXPECT_EQ(hmac_hex(long_key, "data", method) == hmac_hex(short_key, "data", method), hashed)
        << static_cast<int>(method);
  }
}

TEST_F(ChecksumTest, HmacWithAnEmptyKeyAndEmptyData) {
  EXPECT_EQ(hmac_hex({}, "", Method::sha256), "b613679a0814d9ec772f95d778c35fc5ff1697c493715653c6c712144292c5ad");
}

TEST_F(ChecksumTest, HmacOverAMethodWithoutDigestIsRefused) {
  for (Method method : {Method::crc32, Method::tcp, Method::adler32, Method::hash}) {
    auto raised = testing::catch_error([&] { crypto::hmac(nullptr, 0, nullptr, 0, method); });
    ASSERT_TRUE(raised.has_value()) << static_cast<int>(method);
    EXPECT_EQ(*raised, ErrorId::script_invalid_arg);
  }
}

// --- CRC-32, Adler-32, the Internet checksum ----------------------------------------------

// The definitions, written plainly, for inputs too long to list.
uint32_t reference_adler32(const std::vector<uint8_t>& data) {
  uint64_t a = 1, b = 0;
  for (uint8_t byte : data) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  return static_cast<uint32_t>((b << 16) | a);
}

struct IntegerCase {
  std::string input;
  int32_t expected;
};

TEST_F(ChecksumTest, Crc32MatchesTheCheckValues) {
  const IntegerCase cases[] = {
      {"123456789", static_cast<int32_t>(0xCBF43926u)},
      {"", 0},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339},
      {std::string(1, '\0'), static_cast<int32_t>(0xD202EF8Du)},
  };
  for (const IntegerCase& c : cases) {
    std::vector<uint8_t> data = bytes(c.input);
    EXPECT_EQ(crypto::crc32(data.data(), data.size()), c.expected) << c.input;
  }
  EXPECT_EQ(crypto::crc32(reinterpret_cast<const uint8_t*>("123456789"), 9), -873187034);
}

TEST_F(ChecksumTest, Crc32ContinuesAcrossPieces) {
  std::vector<uint8_t> data = bytes("The quick brown fox jumps over the lazy dog");
  uint32_t first = crypto::crc32_update(0, data.data(), 10);
  EXPECT_EQ(crypto::crc32_update(first, data.data() + 10, data.size() - 10), 0x414FA339u);
}

TEST_F(ChecksumTest, Adler32MatchesTheDefinition) {
  const IntegerCase cases[] = {{"abc", 0x024D0127}, {"", 1}, {"Wikipedia", 0x11E60398}};
  for (const IntegerCase& c : cases) {
    std::vector<uint8_t> data = bytes(c.input);
    EXPECT_EQ(crypto::adler32(data.data(), data.size()), c.expected) << c.input;
  }
  // Long runs of 0xFF push the sums hardest between two reductions.
  for (size_t length : {3854u, 3855u, 5552u, 5553u, 100000u}) {
    std::vector<uint8_t> data(length, 0xFF);
    EXPECT_EQ(static_cast<uint32_t>(crypto::adler32(data.data(), data.size())), reference_adler32(data)) << length;
  }
  std::vector<uint8_t> data(20000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31 + 7);
  uint32_t first = crypto::adler32_update(1, data.data(), 7777);
  EXPECT_EQ(crypto::adler32_update(first, data.data() + 7777, data.size() - 7777), reference_adler32(data));
}

TEST_F(ChecksumTest, InternetChecksumFoldsEveryCarry) {
  struct Case {
    std::vector<uint8_t> input;
    int32_t expected;
  };
  const Case cases[] = {
      {{0x00, 0x01}, 65534},
      {{0x01}, 65279},  // the odd byte is the high half of a last word
      {{}, 65535},
      // RFC 1071's example: the sum is 0xDDF2.
      {{0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7}, 0x220D},
      // 0xFFFF + 0x0001 carries out of 16 bits and back in.
      {{0xFF, 0xFF, 0x00, 0x01}, 0xFFFE},
  };
  for (const Case& c : cases) EXPECT_EQ(crypto::tcp_checksum(c.input.data(), c.input.size()), c.expected);
  // Many carries: 70000 words of 0xFFFF fold to 0xFFFF, whose complement is 0.
  std::vector<uint8_t> ones(140000, 0xFF);
  EXPECT_EQ(crypto::tcp_checksum(ones.data(), ones.size()), 0);
}

// --- Method words ------------------------------------------------------------------------

TEST_F(ChecksumTest, MethodWordsAreRecognisedInAnyLetterCase) {
  struct Case {
    const char* word;
    Method expected;
  };
  const Case cases[] = {{"tcp", Method::tcp},       {"MD5", Method::md5},       {"Sha1", Method::sha1},
                        {"crc32", Method::crc32},   {"ADLER32", Method::adler32}, {"sha256", Method::sha256},
                        {"sha384", Method::sha384}, {"SHA512", Method::sha512}, {"hash", Method::hash},
                        {"sha3", Method::none},     {"md", Method::none}};
  for (const Case& c : cases) {
    uint32_t symbol = symbol::make(c.word);
    EXPECT_EQ(crypto::method_of(symbol), c.expected) << c.word;
    EXPECT_EQ(crypto::method_q(symbol), c.expected != Method::none) << c.word;
  }
}

TEST_F(ChecksumTest, SecureRandomBytesFillTheBuffer) {
  // 64 random bytes all zero has probability 2^-512: a buffer left alone
  // would be.
  std::vector<uint8_t> buffer(64, 0);
  crypto::random_bytes(buffer.data(), buffer.size());
  bool any_set = false;
  for (uint8_t byte : buffer) any_set = any_set || byte != 0;
  EXPECT_TRUE(any_set);
}

}  // namespace
}  // namespace kel
