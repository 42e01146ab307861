// Checksums, secure digests and HMAC (see checksum.h).
//
// The CRC table is computed at compile time, so the first CRC-32 costs
// nothing extra and the table is shared read-only for the life of the
// process. The method words are held as canonical symbols in the order
// of the Method enum; method_of compares canonical ids, never names.
//
// libcrypto is opened at the first digest or HMAC, not linked: most runs
// never ask for one, and binding a library of its size at start-up would
// cost every process more than the rest of its dynamic linking. The
// functions used are looked up once; a system without the library (or
// without one of them) makes every digest and HMAC raise, as a failing
// libcrypto call does.
#include "runtime/checksum.h"

#include <openssl/evp.h>
#include <openssl/opensslv.h>
#include <sys/random.h>

#include <cerrno>
#include <string>

#include "runtime/shared_library.h"
#include "runtime/symbol_table.h"
#include "runtime/errors.h"
#include "runtime/output_hooks.h"

namespace kel::crypto {

namespace {

constexpr const char* kMethodNames[] = {"tcp",    "md5",    "sha1",   "crc32", "adler32",
                                        "sha256", "sha384", "sha512", "hash"};
constexpr size_t kMethodCount = sizeof kMethodNames / sizeof kMethodNames[0];
static_assert(kMethodCount == static_cast<size_t>(Method::none), "one word per method");

// The canonical symbol of each method word, in Method order.
uint32_t method_symbols[kMethodCount] = {};

// Eight tables for the CRC-32, so that eight bytes go in one step: table 0
// is the classic byte table, table k the CRC of a byte followed by k zero
// bytes (gzip checks whole decompressed files, which makes speed matter).
constexpr std::array<std::array<uint32_t, 256>, 8> make_crc_tables() {
  std::array<std::array<uint32_t, 256>, 8> tables{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    tables[0][i] = c;
  }
  for (uint32_t i = 0; i < 256; ++i)
    for (size_t k = 1; k < 8; ++k) tables[k][i] = (tables[k - 1][i] >> 8) ^ tables[0][tables[k - 1][i] & 0xFF];
  return tables;
}
constexpr std::array<std::array<uint32_t, 256>, 8> kCrcTables = make_crc_tables();

// The largest run of bytes over which the Adler sums cannot overflow 32
// unsigned bits before they are reduced (RFC 1950's NMAX).
constexpr size_t kAdlerRun = 5552;
constexpr uint32_t kAdlerModulus = 65521;

[[noreturn]] void crypto_failed();

// The libcrypto functions the digests use, typed as its header declares
// them.
struct Libcrypto {
  decltype(&EVP_md5) md5;
  decltype(&EVP_sha1) sha1;
  decltype(&EVP_sha256) sha256;
  decltype(&EVP_sha384) sha384;
  decltype(&EVP_sha512) sha512;
  decltype(&EVP_Digest) digest;
  decltype(&EVP_Q_mac) q_mac;
};

// Opens the libcrypto of the major version the headers describe; null when
// it or one of its functions is missing.
const Libcrypto* open_libcrypto() {
  std::string name = "libcrypto.so." + std::to_string(OPENSSL_VERSION_MAJOR);
  SharedLibrary library(name.c_str());
  static Libcrypto functions;
  library.take(&functions.md5, "EVP_md5");
  library.take(&functions.sha1, "EVP_sha1");
  library.take(&functions.sha256, "EVP_sha256");
  library.take(&functions.sha384, "EVP_sha384");
  library.take(&functions.sha512, "EVP_sha512");
  library.take(&functions.digest, "EVP_Digest");
  library.take(&functions.q_mac, "EVP_Q_mac");
  return library.complete() ? &functions : nullptr;
}

const Libcrypto& libcrypto() {
  static const Libcrypto* opened = open_libcrypto();
  if (opened == nullptr) crypto_failed();
  return *opened;
}

// The EVP digest of an index 2 to 6 (null for the others).
const EVP_MD* evp_digest(int32_t index) {
  switch (index) {
    case 2: return libcrypto().md5();
    case 3: return libcrypto().sha1();
    case 4: return libcrypto().sha256();
    case 5: return libcrypto().sha384();
    case 6: return libcrypto().sha512();
    default: return nullptr;
  }
}

const char* evp_digest_name(int32_t index) {
  switch (index) {
    case 2: return "MD5";
    case 3: return "SHA1";
    case 4: return "SHA256";
    case 5: return "SHA384";
    case 6: return "SHA512";
    default: return nullptr;
  }
}

[[noreturn]] void crypto_failed() { fire(ErrorId::internal_feature_na); }

[[noreturn]] void reject_method(Method method) {
  Cell word = make_cell(TYPE_WORD, 0, method_symbol(method), static_cast<uint32_t>(-1));  // unbound
  fire(ErrorId::script_invalid_arg, &word);
}

// libcrypto reads nothing through a pointer when the length is 0, but some
// of its entry points refuse a null pointer: give them a valid one.
const uint8_t* never_null(const uint8_t* bytes) {
  static const uint8_t empty = 0;
  return bytes != nullptr ? bytes : &empty;
}

}  // namespace

void init() {
  for (size_t i = 0; i < kMethodCount; ++i) method_symbols[i] = symbol::resolve(symbol::make(kMethodNames[i]));
}

Method method_of(uint32_t symbol) {
  uint32_t canonical = symbol::resolve(symbol);
  for (size_t i = 0; i < kMethodCount; ++i)
    if (method_symbols[i] != 0 && method_symbols[i] == canonical) return static_cast<Method>(i);
  return Method::none;
}

bool method_q(uint32_t symbol) { return method_of(symbol) != Method::none; }

uint32_t method_symbol(Method method) {
  auto i = static_cast<size_t>(method);
  return i < kMethodCount ? method_symbols[i] : 0;
}

int32_t method_index(Method method) {
  switch (method) {
    case Method::tcp: return 0;
    case Method::crc32: return 1;
    case Method::md5: return 2;
    case Method::sha1: return 3;
    case Method::sha256: return 4;
    case Method::sha384: return 5;
    case Method::sha512: return 6;
    default: return -1;
  }
}

uint32_t digest_size(int32_t index) {
  switch (index) {
    case 2: return 16;
    case 3: return 20;
    case 4: return 32;
    case 5: return 48;
    case 6: return 64;
    default: return 0;
  }
}

uint32_t hmac_block_size(int32_t index) {
  if (index == 5 || index == 6) return 128;
  return digest_size(index) != 0 ? 64 : 0;
}

// --- Our own checksums ------------------------------------------------------------------

uint32_t crc32_update(uint32_t crc, const uint8_t* bytes, size_t length) {
  const auto& t = kCrcTables;
  uint32_t reg = ~crc;
  size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    uint32_t low = reg ^ (uint32_t{bytes[i]} | uint32_t{bytes[i + 1]} << 8 | uint32_t{bytes[i + 2]} << 16 |
                          uint32_t{bytes[i + 3]} << 24);
    reg = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
          t[3][bytes[i + 4]] ^ t[2][bytes[i + 5]] ^ t[1][bytes[i + 6]] ^ t[0][bytes[i + 7]];
  }
  for (; i < length; ++i) reg = (reg >> 8) ^ t[0][(reg ^ bytes[i]) & 0xFF];
  return ~reg;
}

int32_t crc32(const uint8_t* bytes, size_t length) { return static_cast<int32_t>(crc32_update(0, bytes, length)); }

uint32_t adler32_update(uint32_t adler, const uint8_t* bytes, size_t length) {
  uint32_t a = adler & 0xFFFF;
  uint32_t b = adler >> 16;
  while (length > 0) {
    size_t run = length < kAdlerRun ? length : kAdlerRun;
    length -= run;
    for (size_t i = 0; i < run; ++i) {
      a += *bytes++;
      b += a;
    }
    a %= kAdlerModulus;
    b %= kAdlerModulus;
  }
  return (b << 16) | a;
}

int32_t adler32(const uint8_t* bytes, size_t length) { return static_cast<int32_t>(adler32_update(1, bytes, length)); }

int32_t tcp_checksum(const uint8_t* bytes, size_t length) {
  // 64 bits hold the sum of any input this process can address without
  // folding; the carries are folded back in once at the end.
  uint64_t sum = 0;
  size_t i = 0;
  for (; i + 1 < length; i += 2) sum += (uint32_t{bytes[i]} << 8) | bytes[i + 1];
  if (i < length) sum += uint32_t{bytes[i]} << 8;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<int32_t>(~sum & 0xFFFF);
}

// --- Through libcrypto ---------------------------------------------------------------------

Digest digest(const uint8_t* bytes, size_t length, int32_t index) {
  const EVP_MD* type = evp_digest(index);
  if (type == nullptr) {
    if (digest_size(index) == 0) fire_with_integer(ErrorId::script_invalid_arg, index);
    crypto_failed();
  }
  Digest result;
  unsigned int size = 0;
  if (libcrypto().digest(never_null(bytes), length, result.bytes.data(), &size, type, nullptr) != 1) crypto_failed();
  if (size != digest_size(index)) crypto_failed();
  result.size = size;
  return result;
}

Digest hmac(const uint8_t* data, size_t data_length, const uint8_t* key, size_t key_length, Method method) {
  int32_t index = method_index(method);
  const char* name = evp_digest_name(index);
  if (name == nullptr) reject_method(method);
  Digest result;
  size_t size = 0;
  // EVP's HMAC reduces a key longer than the block size to its digest
  // itself, as RFC 2104 asks.
  if (libcrypto().q_mac(nullptr, "HMAC", nullptr, name, nullptr, never_null(key), key_length, never_null(data), data_length,
                result.bytes.data(), result.bytes.size(), &size) == nullptr)
    crypto_failed();
  if (size != digest_size(index)) crypto_failed();
  result.size = static_cast<uint32_t>(size);
  return result;
}

int32_t hash_with_size(const uint8_t*, size_t, int32_t) {
  output_hooks::print_text("** /hash support not yet implemented; algorithm TBD.", true);
  return 0;
}

void random_bytes(uint8_t* buffer, size_t count) {
  size_t got = 0;
  while (got < count) {
    ssize_t n = ::getrandom(buffer + got, count - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      crypto_failed();
    }
    got += static_cast<size_t>(n);
  }
}

}  // namespace kel::crypto
