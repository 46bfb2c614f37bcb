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

#if defined(__AVX2__)
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

// 2^(j/128) for j = 0..127 as hi + lo: hi the double nearest, lo the double
// nearest to what hi leaves (|lo| < 2^-53), so that the pair carries the
// power to about 2^-106.
alignas(64) constexpr double kExp2TableHi[128] = {
    0x1.0000000000000p+0, 0x1.0163da9fb3335p+0, 0x1.02c9a3e778061p+0, 0x1.04315e86e7f85p+0,
    0x1.059b0d3158574p+0, 0x1.0706b29ddf6dep+0, 0x1.0874518759bc8p+0, 0x1.09e3ecac6f383p+0,
    0x1.0b5586cf9890fp+0, 0x1.0cc922b7247f7p+0, 0x1.0e3ec32d3d1a2p+0, 0x1.0fb66affed31bp+0,
    0x1.11301d0125b51p+0, 0x1.12abdc06c31ccp+0, 0x1.1429aaea92de0p+0, 0x1.15a98c8a58e51p+0,
    0x1.172b83c7d517bp+0, 0x1.18af9388c8deap+0, 0x1.1a35beb6fcb75p+0, 0x1.1bbe084045cd4p+0,
    0x1.1d4873168b9aap+0, 0x1.1ed5022fcd91dp+0, 0x1.2063b88628cd6p+0, 0x1.21f49917ddc96p+0,
    0x1.2387a6e756238p+0, 0x1.251ce4fb2a63fp+0, 0x1.26b4565e27cddp+0, 0x1.284dfe1f56381p+0,
    0x1.29e9df51fdee1p+0, 0x1.2b87fd0dad990p+0, 0x1.2d285a6e4030bp+0, 0x1.2ecafa93e2f56p+0,
    0x1.306fe0a31b715p+0, 0x1.32170fc4cd831p+0, 0x1.33c08b26416ffp+0, 0x1.356c55f929ff1p+0,
    0x1.371a7373aa9cbp+0, 0x1.38cae6d05d866p+0, 0x1.3a7db34e59ff7p+0, 0x1.3c32dc313a8e5p+0,
    0x1.3dea64c123422p+0, 0x1.3fa4504ac801cp+0, 0x1.4160a21f72e2ap+0, 0x1.431f5d950a897p+0,
    0x1.44e086061892dp+0, 0x1.46a41ed1d0057p+0, 0x1.486a2b5c13cd0p+0, 0x1.4a32af0d7d3dep+0,
    0x1.4bfdad5362a27p+0, 0x1.4dcb299fddd0dp+0, 0x1.4f9b2769d2ca7p+0, 0x1.516daa2cf6642p+0,
    0x1.5342b569d4f82p+0, 0x1.551a4ca5d920fp+0, 0x1.56f4736b527dap+0, 0x1.58d12d497c7fdp+0,
    0x1.5ab07dd485429p+0, 0x1.5c9268a5946b7p+0, 0x1.5e76f15ad2148p+0, 0x1.605e1b976dc09p+0,
    0x1.6247eb03a5585p+0, 0x1.6434634ccc320p+0, 0x1.6623882552225p+0, 0x1.68155d44ca973p+0,
    0x1.6a09e667f3bcdp+0, 0x1.6c012750bdabfp+0, 0x1.6dfb23c651a2fp+0, 0x1.6ff7df9519484p+0,
    0x1.71f75e8ec5f74p+0, 0x1.73f9a48a58174p+0, 0x1.75feb564267c9p+0, 0x1.780694fde5d3fp+0,
    0x1.7a11473eb0187p+0, 0x1.7c1ed0130c132p+0, 0x1.7e2f336cf4e62p+0, 0x1.80427543e1a12p+0,
    0x1.82589994cce13p+0, 0x1.8471a4623c7adp+0, 0x1.868d99b4492edp+0, 0x1.88ac7d98a6699p+0,
    0x1.8ace5422aa0dbp+0, 0x1.8cf3216b5448cp+0, 0x1.8f1ae99157736p+0, 0x1.9145b0b91ffc6p+0,
    0x1.93737b0cdc5e5p+0, 0x1.95a44cbc8520fp+0, 0x1.97d829fde4e50p+0, 0x1.9a0f170ca07bap+0,
    0x1.9c49182a3f090p+0, 0x1.9e86319e32323p+0, 0x1.a0c667b5de565p+0, 0x1.a309bec4a2d33p+0,
    0x1.a5503b23e255dp+0, 0x1.a799e1330b358p+0, 0x1.a9e6b5579fdbfp+0, 0x1.ac36bbfd3f37ap+0,
    0x1.ae89f995ad3adp+0, 0x1.b0e07298db666p+0, 0x1.b33a2b84f15fbp+0, 0x1.b59728de5593ap+0,
    0x1.b7f76f2fb5e47p+0, 0x1.ba5b030a1064ap+0, 0x1.bcc1e904bc1d2p+0, 0x1.bf2c25bd71e09p+0,
    0x1.c199bdd85529cp+0, 0x1.c40ab5fffd07ap+0, 0x1.c67f12e57d14bp+0, 0x1.c8f6d9406e7b5p+0,
    0x1.cb720dcef9069p+0, 0x1.cdf0b555dc3fap+0, 0x1.d072d4a07897cp+0, 0x1.d2f87080d89f2p+0,
    0x1.d5818dcfba487p+0, 0x1.d80e316c98398p+0, 0x1.da9e603db3285p+0, 0x1.dd321f301b460p+0,
    0x1.dfc97337b9b5fp+0, 0x1.e264614f5a129p+0, 0x1.e502ee78b3ff6p+0, 0x1.e7a51fbc74c83p+0,
    0x1.ea4afa2a490dap+0, 0x1.ecf482d8e67f1p+0, 0x1.efa1bee615a27p+0, 0x1.f252b376bba97p+0,
    0x1.f50765b6e4540p+0, 0x1.f7bfdad9cbe14p+0, 0x1.fa7c1819e90d8p+0, 0x1.fd3c22b8f71f1p+0,
};
alignas(64) constexpr double kExp2TableLo[128] = {
    0x0.0p+0, 0x1.b61299ab8cdb7p-54, -0x1.19083535b085dp-56, -0x1.0a31c1977c96ep-54,
    0x1.d73e2a475b465p-55, -0x1.c91dfe2b13c27p-55, 0x1.186be4bb284ffp-57, 0x1.1487818316136p-54,
    0x1.8a62e4adc610bp-54, 0x1.01edc16e24f71p-54, 0x1.03a1727c57b53p-59, -0x1.b9bedc44ebd7bp-57,
    -0x1.6c51039449b3ap-54, -0x1.1b514b36ca5c7p-58, -0x1.32fbf9af1369ep-54, 0x1.2406ab9eeab0ap-55,
    -0x1.19041b9d78a76p-55, -0x1.11023d1970f6cp-54, 0x1.e5b4c7b4968e4p-55, -0x1.95386352ef607p-54,
    0x1.e016e00a2643cp-54, -0x1.1df98027bb78cp-54, 0x1.dc775814a8495p-55, 0x1.2a97e9494a5eep-55,
    0x1.9b07eb6c70573p-54, 0x1.ac155bef4f4a4p-55, 0x1.2bd339940e9d9p-55, -0x1.a4c3a8c3f0d7ep-54,
    0x1.612e8afad1255p-55, -0x1.10adcd6381aa4p-59, 0x1.0024754db41d5p-54, 0x1.1ca0f45d52383p-56,
    0x1.6f46ad23182e4p-55, 0x1.a9ce78e18047cp-55, 0x1.32721843659a6p-54, -0x1.b5cee5c4e4628p-55,
    -0x1.63aeabf42eae2p-54, -0x1.e958d3c9904bdp-54, -0x1.5e436d661f5e3p-56, -0x1.efff8375d29c3p-54,
    0x1.ada0911f09ebcp-55, -0x1.7d023f956f9f3p-54, -0x1.ef3691c309278p-58, -0x1.1c7dde35f7999p-55,
    0x1.89b7a04ef80d0p-59, 0x1.c944bd1648a76p-54, 0x1.3c1a3b69062f0p-56, 0x1.9cb62f3d1be56p-54,
    0x1.d4397afec42e2p-56, 0x1.8ecdbbc6a7833p-54, -0x1.4b309d25957e3p-54, -0x1.f768569bd93efp-55,
    -0x1.07abe1db13cadp-55, -0x1.d689cefede59bp-55, 0x1.9bb2c011d93adp-54, 0x1.295e15b9a1de8p-55,
    0x1.6324c054647adp-54, 0x1.c4b1b816986a2p-60, 0x1.ba6f93080e65ep-54, -0x1.3e2429b56de47p-54,
    -0x1.383c17e40b497p-54, -0x1.c483c759d8933p-55, -0x1.bb60987591c34p-54, 0x1.038ae44f73e65p-57,
    -0x1.bdd3413b26456p-54, -0x1.2895667ff0b0dp-56, -0x1.bbe3a683c88abp-57, -0x1.83c0f25860ef6p-55,
    -0x1.16e4786887a99p-55, -0x1.0a8d96c65d53cp-54, -0x1.0245957316dd3p-54, 0x1.866b80a02162dp-54,
    -0x1.41577ee04992fp-55, 0x1.f124cd1164dd6p-54, 0x1.05d02ba15797ep-56, -0x1.27c86626d972bp-54,
    -0x1.d4c1dd41532d8p-54, -0x1.8d684a341cdfbp-55, -0x1.fc6f89bd4f6bap-54, 0x1.994c2f37cb53ap-54,
    0x1.6e9f156864b27p-54, -0x1.0d55e32e9e3aap-56, 0x1.5cc13a2e3976cp-55, -0x1.dd6792e582524p-54,
    -0x1.75fc781b57ebcp-57, -0x1.64b7c96a5f039p-56, -0x1.d185b7c1b85d1p-54, -0x1.173bd91cee632p-54,
    0x1.c7c46b071f2bep-56, 0x1.824ca78e64c6ep-56, -0x1.359495d1cd533p-54, 0x1.6305c7ddc36abp-54,
    -0x1.d2f6edb8d41e1p-54, 0x1.bcb7ecac563c7p-54, 0x1.0fac90ef7fd31p-54, -0x1.f9234cae76cd0p-55,
    0x1.7a1cd345dcc81p-54, -0x1.bdef54c80e425p-54, -0x1.2805e3084d708p-57, -0x1.c71dfbbba6de3p-54,
    -0x1.5584f7e54ac3bp-56, -0x1.efcd30e54292ep-54, 0x1.23dd07a2d9e84p-55, -0x1.efdca3f6b9c73p-54,
    0x1.11065895048ddp-55, 0x1.b4537e083c60ap-54, 0x1.2884dff483cadp-54, 0x1.1acbc48805c44p-56,
    0x1.503cbd1e949dbp-56, -0x1.dd83b53829d72p-55, -0x1.cbc3743797a9cp-54, -0x1.d487b719d8578p-54,
    0x1.2ed02d75b3707p-55, -0x1.11ec18beddfe8p-54, 0x1.c2300696db532p-54, 0x1.2da5778f018c3p-54,
    -0x1.1a5cd4f184b5cp-54, -0x1.7b627817a1496p-54, 0x1.39e8980a9cc8fp-55, 0x1.2d522ca0c8de2p-54,
    -0x1.e9c23179c2893p-54, -0x1.c93f3b411ad8cp-54, 0x1.dc7f486a4b6b0p-54, 0x1.3a1a5bf0d8e43p-54,
    0x1.9d3e12dd8a18bp-54, -0x1.dbb12d006350ap-54, 0x1.74853f3a5931ep-55, 0x1.2eb74966579e7p-57,
};

// t[l] = table[j[l]] for every lane: one gather where the unit's
// instruction set has it, else lane by lane (the same loads, so the same
// values either way).
template <int W>
inline typename Lanes<W>::D table_lanes(const double* table, typename Lanes<W>::U j) {
  using D = typename Lanes<W>::D;
#if defined(__AVX512F__)
  // (The masked forms: the plain ones start from an unset register.)
  if constexpr (W == 8) {
    return (D)_mm512_mask_i64gather_pd(_mm512_setzero_pd(), 0xff, (__m512i)j, table, 8);
  }
#endif
#if defined(__AVX2__)
  if constexpr (W == 4) {
    return (D)_mm256_mask_i64gather_pd(_mm256_setzero_pd(), table, (__m256i)j,
                                       _mm256_castsi256_pd(_mm256_set1_epi64x(-1)), 8);
  }
#endif
  D t;
  for (int l = 0; l < W; ++l) t[l] = table[j[l]];
  return t;
}

// e^x: x = (128 m + j) ln2 / 128 + r with |r| <= ln2 / 256 (Cody-Waite: ln2
// / 128 in two parts, the first exact in n = 128 m + j times it), e^r - 1
// by its Taylor series to r^5 (the next term is below 6e-19 on that
// interval), e^x = 2^m 2^(j/128) (1 + (e^r - 1)) with 2^(j/128) from the
// hi + lo table, then 2^m applied as two powers of two built from exponent
// bits, so that a subnormal result is rounded once. Measured on a dense
// sweep of [-745, 709.7]: within 1 ulp of std::exp (0.5x ulp from the
// exact value).
template <int W>
inline typename Lanes<W>::D exp_lanes(typename Lanes<W>::D x) {
  using D = typename Lanes<W>::D;
  using U = typename Lanes<W>::U;
  constexpr double kScaledLog2e = 0x1.71547652b82fep+7;  // 128 / ln2
  constexpr double kRoundShift = 6755399441055744.0;      // 1.5 * 2^52: adds and rounds to an integer
  constexpr double kStepHigh = 0x1.62e42fefc0000p-8;      // ln2 / 128 to 35 bits: n * it is exact
  constexpr double kStepLow = -0x1.c610ca86c3899p-44;
  constexpr std::uint64_t kExponentOne = 1023ULL << 52;
  // Outside [-760, 710] the result is 0 or +inf anyway; the comparisons let a
  // NaN through.
  x = x < -760.0 ? splat<D>(-760.0) : x;
  x = x > 710.0 ? splat<D>(710.0) : x;
  const D shifted = x * kScaledLog2e + kRoundShift;
  const D n = shifted - kRoundShift;
  const D r = (x - n * kStepHigh) - n * kStepLow;
  D p = splat<D>(1.0 / 120.0);
  p = p * r + 1.0 / 24.0;
  p = p * r + 1.0 / 6.0;
  p = p * r + 0.5;
  p = p * r + 1.0;
  p = p * r;
  // n sits in the low bits of `shifted`, above bits that are all zero: its
  // low 7 bits are j, and shifting right by 7 (8) and left by 52 leaves
  // m << 52 (floor(m / 2) << 52), the rest of the bits falling off the top.
  const U u = (U)shifted;
  const U j = u & 127;
  const D hi = table_lanes<W>(kExp2TableHi, j);
  const D lo = table_lanes<W>(kExp2TableLo, j);
  const D scaled = hi + (hi * p + lo);
  // 2^m = 2^a 2^b with a = floor(m / 2), b = m - a, both normal on the
  // clamped range; multiplying (not adding to the exponent bits) keeps a NaN.
  const U two_a = ((u >> 8) << 52) + kExponentOne;
  const U two_b = ((u >> 7) << 52) - two_a + 2 * kExponentOne;
  return (scaled * (D)two_a) * (D)two_b;
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
