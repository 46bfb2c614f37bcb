// The process-wide random generator: MT19937 in its published reference form,
// so that a given seed yields the same stream on every platform and build.
#pragma once

#include <cstdint>

namespace veska {

// Restarts the stream from `seed` (reference init_genrand).
void rng_seed(uint32_t seed);

// Next tempered 32-bit output. A stream never seeded starts from seed 5489.
uint32_t rng_u32();

// Next 31-bit output: a 32-bit output shifted right by one.
int32_t rng_u31();

// A real in [0, 1) with 53-bit resolution, built from two 32-bit outputs.
double rng_real();

// Back to the never-seeded state; for tests that check the default stream.
void rng_forget_seed();

}  // namespace veska
