// The process's one pseudo-random generator: a Mersenne-Twister-shaped
// generator (624 words, the MT19937 constants) whose right shifts propagate
// the sign bit, so every output lies in 0 .. 2147483647. Seeded with
// 19650218 at start-up; the first draws after seeding come from the seeded
// state itself. The secure draws come from the operating system.
#pragma once

#include <cstdint>

namespace kel::random {

void init();
void seed(int32_t seed);
int32_t rand();
int32_t rand_secure();
// A uniform integer for bound n: 1..n for n > 0, -n..-1 for n < 0, 0 for 0.
int32_t int_uniform(bool secure, int32_t n);

// The fixed seed of the hash tables' hash function.
uint32_t hash_seed();

}  // namespace kel::random
