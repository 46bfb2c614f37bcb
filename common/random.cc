#include "common/random.h"

namespace veska {

namespace {

constexpr int kN = 624;
constexpr int kM = 397;
constexpr uint32_t kMatrixA = 0x9908b0dfU;
constexpr uint32_t kUpperMask = 0x80000000U;
constexpr uint32_t kLowerMask = 0x7fffffffU;
constexpr uint32_t kDefaultSeed = 5489U;

uint32_t g_state[kN];
int g_index = kN + 1;  // kN + 1: never seeded

uint32_t twist(uint32_t upper, uint32_t lower, uint32_t far) {
  uint32_t y = (upper & kUpperMask) | (lower & kLowerMask);
  return far ^ (y >> 1) ^ ((y & 1U) != 0 ? kMatrixA : 0U);
}

void regenerate() {
  int k = 0;
  for (; k < kN - kM; ++k) g_state[k] = twist(g_state[k], g_state[k + 1], g_state[k + kM]);
  for (; k < kN - 1; ++k) g_state[k] = twist(g_state[k], g_state[k + 1], g_state[k + kM - kN]);
  g_state[kN - 1] = twist(g_state[kN - 1], g_state[0], g_state[kM - 1]);
  g_index = 0;
}

}  // namespace

void rng_seed(uint32_t seed) {
  g_state[0] = seed;
  for (int i = 1; i < kN; ++i) {
    g_state[i] = 1812433253U * (g_state[i - 1] ^ (g_state[i - 1] >> 30)) + static_cast<uint32_t>(i);
  }
  g_index = kN;
}

uint32_t rng_u32() {
  if (g_index >= kN) {
    if (g_index == kN + 1) rng_seed(kDefaultSeed);
    regenerate();
  }
  uint32_t y = g_state[g_index++];
  y ^= y >> 11;
  y ^= (y << 7) & 0x9d2c5680U;
  y ^= (y << 15) & 0xefc60000U;
  y ^= y >> 18;
  return y;
}

int32_t rng_u31() { return static_cast<int32_t>(rng_u32() >> 1); }

double rng_real() {
  // The order of the two draws is fixed: a first, b second.
  uint32_t a = rng_u32() >> 5;
  uint32_t b = rng_u32() >> 6;
  return (a * 67108864.0 + b) * (1.0 / 9007199254740992.0);
}

void rng_forget_seed() { g_index = kN + 1; }

}  // namespace veska
