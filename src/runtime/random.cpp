// The random generator (see random.h). All words are 32 bits; asr is an
// arithmetic shift of the signed word.
#include "runtime/random.h"

#include "runtime/checksum.h"

#include <cstring>

namespace kel::random {

namespace {
constexpr int kWords = 624;
constexpr int kMiddle = 397;
uint32_t state[kWords];
int index = 0;

inline uint32_t asr(uint32_t value, int shift) {
  return static_cast<uint32_t>(static_cast<int32_t>(value) >> shift);
}

void regenerate() {
  for (int k = 0; k < kWords; ++k) {
    uint32_t y = (state[k] & 0x80000000u) | (state[(k + 1) % kWords] & 0x7FFFFFFFu);
    uint32_t next = state[(k + kMiddle) % kWords] ^ asr(y, 1);
    if (y & 1) next ^= 0x9908B0DFu;
    state[k] = next;
  }
}
}  // namespace

void init() { seed(19650218); }

void seed(int32_t s) {
  state[0] = static_cast<uint32_t>(s);
  for (int k = 1; k < kWords; ++k)
    state[k] = 1812433253u * (state[k - 1] ^ asr(state[k - 1], 30)) + static_cast<uint32_t>(k);
  index = 0;
}

int32_t rand() {
  if (index == kWords) {
    regenerate();
    index = 0;
  }
  uint32_t y = state[index++];
  y ^= asr(y, 11);
  y ^= (y << 7) & 0x9D2C5680u;
  y ^= (y << 15) & 0xEFC60000u;
  y ^= asr(y, 18);
  return static_cast<int32_t>(y);
}

int32_t rand_secure() {
  // A failing system source raises an error rather than spinning.
  uint8_t bytes[4];
  crypto::random_bytes(bytes, sizeof bytes);
  uint32_t word = static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
                  (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
  return static_cast<int32_t>(word & 0x7FFFFFFFu);
}

int32_t int_uniform(bool secure, int32_t n) {
  auto draw = [secure] { return secure ? rand_secure() : rand(); };
  if (n == 0) return 0;
  if (n == INT32_MIN) return -1 - draw();
  int32_t m = n < 0 ? -n : n;
  int32_t limit = (2147483647 / m) * m;
  int32_t r;
  do r = draw();
  while (r >= limit);
  int32_t result = r % m + 1;
  return n < 0 ? -result : result;
}

uint32_t hash_seed() { return 0x9E3779B9u; }

}  // namespace kel::random
