// Checksums, secure digests and HMAC: the computing core of the checksum
// native.
//
// Nine method words name the algorithms ("tcp" "md5" "sha1" "crc32"
// "adler32" "sha256" "sha384" "sha512" "hash"); a method argument is
// recognised by its canonical symbol, so letter case does not matter. The
// digest methods carry a small index (0 tcp, 1 crc32, 2 md5, 3 sha1,
// 4 sha256, 5 sha384, 6 sha512; only 2 to 6 have digests).
//
// CRC-32, Adler-32 and the Internet checksum are computed here; MD5, SHA-1,
// SHA-2 and HMAC go through libcrypto's EVP interface. Every libcrypto call
// is checked: a failure raises an error, so no caller ever receives a digest
// that was not computed. Nothing here allocates series memory, so callers
// may pass the address of a series buffer's bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kel::crypto {

// Interns the nine method words (once, at start-up).
void init();

// Whether the symbol (any case variant) is one of the nine method words.
bool method_q(uint32_t symbol);

// The methods by the canonical symbol of their word.
enum class Method : uint8_t { tcp, md5, sha1, crc32, adler32, sha256, sha384, sha512, hash, none };
Method method_of(uint32_t symbol);
// The symbol of a method's word (0 before init).
uint32_t method_symbol(Method method);

// The digest index of tcp, crc32, md5, sha1, sha256, sha384 or sha512;
// -1 for the other methods.
int32_t method_index(Method method);
// Digest sizes by index: 16, 20, 32, 48, 64 for 2 to 6, else 0.
uint32_t digest_size(int32_t index);
// The HMAC block size by index: 128 for SHA-384 and SHA-512, 64 for the
// other digests, 0 for an index without a digest.
uint32_t hmac_block_size(int32_t index);

// CRC-32 of ISO 3309 / ITU-T V.42 (gzip, PNG), as a signed integer: the
// text "123456789" gives 0xCBF43926.
int32_t crc32(const uint8_t* bytes, size_t length);
// Continues a CRC-32: crc is the CRC of the bytes before (0 for none).
uint32_t crc32_update(uint32_t crc, const uint8_t* bytes, size_t length);

// Adler-32 (RFC 1950) as a signed integer; an empty input gives 1.
int32_t adler32(const uint8_t* bytes, size_t length);
// Continues an Adler-32: adler is the checksum of the bytes before (1 for
// none).
uint32_t adler32_update(uint32_t adler, const uint8_t* bytes, size_t length);

// The Internet checksum (RFC 1071): big-endian 16-bit words, an odd last
// byte padded on the right, one's complement sum with end-around carry,
// complemented. 0 to 65535; an empty input gives 65535.
int32_t tcp_checksum(const uint8_t* bytes, size_t length);

// A digest: its first size bytes are the result.
struct Digest {
  std::array<uint8_t, 64> bytes{};
  uint32_t size = 0;
};

// The digest of the bytes for index 2 to 6; any other index raises script
// invalid-arg with the index. A libcrypto failure raises internal
// feature-na.
Digest digest(const uint8_t* bytes, size_t length, int32_t index);

// HMAC (RFC 2104) of the data under the key with a digest method (a key
// longer than the block size is replaced by its digest). A method without
// a digest raises script invalid-arg with its word; a libcrypto failure
// raises internal feature-na.
Digest hmac(const uint8_t* data, size_t data_length, const uint8_t* key, size_t key_length, Method method);

// The hash method with a table size. It has no algorithm yet: it prints
// "** /hash support not yet implemented; algorithm TBD." on a line of its
// own and answers 0.
int32_t hash_with_size(const uint8_t* bytes, size_t length, int32_t size);

// Fills the buffer with bytes from the operating system's cryptographic
// generator; a failure raises internal feature-na.
void random_bytes(uint8_t* buffer, size_t count);

}  // namespace kel::crypto
