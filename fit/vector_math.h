// The exponential and the logarithm on vectors of doubles (GCC's vector
// extension, any number of lanes), written with +, -, *, / and bit
// operations alone so that every lane of every vector width gives the same
// bits as the one-lane version: the kernels of every instruction set, and
// the plain references of the tests, agree to the last bit.
//
// Accuracy against std::exp and std::log (measured on dense sweeps by the
// tests, which hold these bounds): exp within 1 ulp on [-745, 709.7]
// (subnormal results within 1 ulp of the subnormal spacing), exactly 1 at 0,
// 0 below about -745.13, +inf above about 709.78; log within 1 ulp on every
// positive finite double, -inf at 0, +inf at +inf, NaN for a negative
// number. A NaN stays a NaN in both.
//
// Everything is in an unnamed namespace: each translation unit (one per
// instruction set) gets its own copy, compiled with its own flags, so the
// linker never picks one unit's code for another.
#pragma once

#include <cstdint>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace veska {
namespace {

template <int W>
struct Lanes {
  typedef double D __attribute__((vector_size(8 * W)));
  typedef std::uint64_t U __attribute__((vector_size(8 * W)));
};

template <class D>
inline D splat(double c) {
  return D{} + c;
}

// 2^(j/16) for j = 0..15 as hi + lo: hi the double nearest, lo the double
// nearest to what hi leaves (|lo| < 2^-53), so that the pair carries the
// power to about 2^-106.
alignas(64) constexpr double kExp2TableHi[16] = {
    0x1.0000000000000p+0, 0x1.0b5586cf9890fp+0, 0x1.172b83c7d517bp+0, 0x1.2387a6e756238p+0,
    0x1.306fe0a31b715p+0, 0x1.3dea64c123422p+0, 0x1.4bfdad5362a27p+0, 0x1.5ab07dd485429p+0,
    0x1.6a09e667f3bcdp+0, 0x1.7a11473eb0187p+0, 0x1.8ace5422aa0dbp+0, 0x1.9c49182a3f090p+0,
    0x1.ae89f995ad3adp+0, 0x1.c199bdd85529cp+0, 0x1.d5818dcfba487p+0, 0x1.ea4afa2a490dap+0,
};
alignas(64) constexpr double kExp2TableLo[16] = {
    0x0.0p+0, 0x1.8a62e4adc610bp-54, -0x1.19041b9d78a76p-55, 0x1.9b07eb6c70573p-54,
    0x1.6f46ad23182e4p-55, 0x1.ada0911f09ebcp-55, 0x1.d4397afec42e2p-56, 0x1.6324c054647adp-54,
    -0x1.bdd3413b26456p-54, -0x1.41577ee04992fp-55, 0x1.6e9f156864b27p-54, 0x1.c7c46b071f2bep-56,
    0x1.7a1cd345dcc81p-54, 0x1.11065895048ddp-55, 0x1.2ed02d75b3707p-55, -0x1.e9c23179c2893p-54,
};

// t[l] = table[j[l] & 15] for every lane: on AVX-512 one two-register
// permute of the sixteen entries (a gather costs several times more there),
// on AVX2 one gather, else lane by lane; the same entries either way.
template <int W>
inline typename Lanes<W>::D table16_lanes(const double* table, typename Lanes<W>::U j) {
  using D = typename Lanes<W>::D;
#if defined(__AVX512F__)
  if constexpr (W == 8) {
    return (D)_mm512_permutex2var_pd(_mm512_load_pd(table), (__m512i)j, _mm512_load_pd(table + 8));
  }
#endif
  j &= 15;
#if defined(__AVX2__)
  // (The masked form: the plain one starts from an unset register.)
  if constexpr (W == 4) {
    return (D)_mm256_mask_i64gather_pd(_mm256_setzero_pd(), table, (__m256i)j,
                                       _mm256_castsi256_pd(_mm256_set1_epi64x(-1)), 8);
  }
#endif
  D t;
  for (int l = 0; l < W; ++l) t[l] = table[j[l]];
  return t;
}

// x within [lo, hi], a NaN kept: max(lo, x) and min(hi, x) in the
// instructions' operand order give the second operand for a NaN, the same
// as the selects of the plain form.
template <int W>
inline typename Lanes<W>::D clamp_lanes(typename Lanes<W>::D x, double lo, double hi) {
  using D = typename Lanes<W>::D;
#if defined(__AVX512F__)
  if constexpr (W == 8) {
    // (The masked forms: the plain ones start from an unset register.)
    const __m512d a = _mm512_mask_max_pd((__m512d)x, 0xff, _mm512_set1_pd(lo), (__m512d)x);
    return (D)_mm512_mask_min_pd(a, 0xff, _mm512_set1_pd(hi), a);
  }
#endif
#if defined(__AVX__)
  if constexpr (W == 4) {
    return (D)_mm256_min_pd(_mm256_set1_pd(hi), _mm256_max_pd(_mm256_set1_pd(lo), (__m256d)x));
  }
#endif
#if defined(__SSE2__)
  if constexpr (W == 2) return (D)_mm_min_pd(_mm_set1_pd(hi), _mm_max_pd(_mm_set1_pd(lo), (__m128d)x));
#endif
  x = lo > x ? splat<D>(lo) : x;
  return hi < x ? splat<D>(hi) : x;
}

// y 2^m for m = floor(n / 16), one rounding (so a subnormal result is
// rounded once), +inf above the range, NaN for a NaN y; n = 16 m + j sits in
// the low bits of u (see exp_lanes). AVX-512 has the product in one scale
// instruction; elsewhere it is 2^m = 2^a 2^b with a = floor(m / 2), b = m -
// a, both normal for the |n| the clamp of exp_lanes leaves, built from
// exponent bits: the first product is exact, the second rounds, the same
// value as the single scaling.
template <int W>
inline typename Lanes<W>::D times_two_to_the(typename Lanes<W>::D y, typename Lanes<W>::D n,
                                             typename Lanes<W>::U u) {
  using D = typename Lanes<W>::D;
  using U = typename Lanes<W>::U;
#if defined(__AVX512F__)
  if constexpr (W == 8) return (D)_mm512_mask_scalef_pd((__m512d)y, 0xff, (__m512d)y, n * 0.0625);
#endif
  (void)n;
  // Shifting u right by 5 (4) and left by 52 leaves floor(m / 2) << 52 (m <<
  // 52), the rest of the bits falling off the top.
  constexpr std::uint64_t kExponentOne = 1023ULL << 52;
  const U two_a = ((u >> 5) << 52) + kExponentOne;
  const U two_b = ((u >> 4) << 52) - two_a + 2 * kExponentOne;
  return (y * (D)two_a) * (D)two_b;
}

// e^x: x = (16 m + j) ln2 / 16 + r with |r| <= ln2 / 32 (Cody-Waite: ln2 / 16
// in two parts, the first exact in n = 16 m + j times it), e^r - 1 by its
// Taylor series to r^7 (the next term is below 1.2e-18 on that interval),
// e^x = 2^m 2^(j/16) (1 + (e^r - 1)) with 2^(j/16) from the hi + lo table,
// then 2^m applied with one rounding. Measured on a dense sweep of [-745,
// 709.7]: normal results within 0.58 ulp of the exact value.
template <int W>
inline typename Lanes<W>::D exp_lanes(typename Lanes<W>::D x) {
  using D = typename Lanes<W>::D;
  using U = typename Lanes<W>::U;
  constexpr double kScaledLog2e = 0x1.71547652b82fep+4;  // 16 / ln2
  constexpr double kRoundShift = 6755399441055744.0;      // 1.5 * 2^52: adds and rounds to an integer
  constexpr double kStepHigh = 0x1.62e42fefa0000p-5;      // ln2 / 16 to 36 bits: n * it is exact
  constexpr double kStepLow = 0x1.cf79abc9e3b3ap-44;
  // Outside [-760, 710] the result is 0 or +inf anyway; the comparisons let a
  // NaN through.
  x = clamp_lanes<W>(x, -760.0, 710.0);
  const D shifted = x * kScaledLog2e + kRoundShift;
  const D n = shifted - kRoundShift;
  const D r = (x - n * kStepHigh) - n * kStepLow;
  D p = splat<D>(1.0 / 5040.0);
  p = p * r + 1.0 / 720.0;
  p = p * r + 1.0 / 120.0;
  p = p * r + 1.0 / 24.0;
  p = p * r + 1.0 / 6.0;
  p = p * r + 0.5;
  p = p * r + 1.0;
  p = p * r;
  // n sits in the low bits of `shifted`, above bits that are all zero: its
  // low 4 bits are j.
  const U u = (U)shifted;
  const D hi = table16_lanes<W>(kExp2TableHi, u);
  const D lo = table16_lanes<W>(kExp2TableLo, u);
  return times_two_to_the<W>(hi + (hi * p + lo), n, u);
}

// ln x: x = 2^e m with m in [sqrt(1/2), sqrt(2)), f = m - 1, s = f / (2 + f),
// ln(1 + f) = f - (f^2/2 - s (f^2/2 + R)) with R = sum_k 2 s^2k / (2k + 1)
// to k = 10 (the next term is below 3e-18 relative), and e ln2 in two
// parts. Subnormal inputs are scaled by 2^54 first.
template <int W>
inline typename Lanes<W>::D log_lanes(typename Lanes<W>::D x) {
  using D = typename Lanes<W>::D;
  using U = typename Lanes<W>::U;
  constexpr double kLn2High = 6.93147180369123816490e-01;  // 32 bits: e * kLn2High is exact
  constexpr double kLn2Low = 1.90821492927058770002e-10;
  constexpr double kTwo52 = 4503599627370496.0;
  constexpr std::uint64_t kSqrtHalfBits = 0x3fe6a09e667f3bcdULL;  // sqrt(1/2)
  constexpr std::uint64_t kOneBits = 0x3ff0000000000000ULL;
  constexpr std::uint64_t kMantissa = 0x000fffffffffffffULL;
  const auto subnormal = x < 2.2250738585072014e-308;
  const D y = subnormal ? x * 18014398509481984.0 : x;  // 2^54
  const D shift = subnormal ? splat<D>(54.0) : D{};
  // Moving sqrt(1/2) to 1 in the bits puts m's boundary on an exponent step.
  const U bits = (U)y + (kOneBits - kSqrtHalfBits);
  const U biased_e = bits >> 52;
  // e as a double: the small integer in the low bits of 2^52, less the bias.
  const D e = ((D)(biased_e | (U)splat<D>(kTwo52)) - kTwo52) - 1023.0 - shift;
  const D m = (D)((bits & kMantissa) + kSqrtHalfBits);
  const D f = m - 1.0;
  const D half_f2 = 0.5 * f * f;
  const D s = f / (2.0 + f);
  const D z = s * s;
  D q = splat<D>(2.0 / 21.0);
  q = q * z + 2.0 / 19.0;
  q = q * z + 2.0 / 17.0;
  q = q * z + 2.0 / 15.0;
  q = q * z + 2.0 / 13.0;
  q = q * z + 2.0 / 11.0;
  q = q * z + 2.0 / 9.0;
  q = q * z + 2.0 / 7.0;
  q = q * z + 2.0 / 5.0;
  q = q * z + 2.0 / 3.0;
  const D big_r = z * q;
  D result = e * kLn2High - ((half_f2 - (s * (half_f2 + big_r) + e * kLn2Low)) - f);
  const double inf = __builtin_inf();
  result = x == inf ? x : result;
  result = x == 0.0 ? splat<D>(-inf) : result;
  result = (x < 0.0 || x != x) ? splat<D>(__builtin_nan("")) : result;
  return result;
}

}  // namespace
}  // namespace veska
