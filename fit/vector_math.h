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

// e^x: x = n ln2 + r with |r| <= ln2 / 2 (Cody-Waite: ln2 in two parts, the
// first exact in n times it), e^r by its Taylor series to r^13 (the next
// term is below 4e-18 on that interval), then 2^n applied as two powers of
// two built from exponent bits, so that a subnormal result is rounded once.
template <int W>
inline typename Lanes<W>::D exp_lanes(typename Lanes<W>::D x) {
  using D = typename Lanes<W>::D;
  using U = typename Lanes<W>::U;
  constexpr double kLog2e = 1.4426950408889634074;
  constexpr double kRoundShift = 6755399441055744.0;  // 1.5 * 2^52: adds and rounds to an integer
  constexpr double kLn2High = 0.693145751953125;       // 21 bits: n * kLn2High is exact
  constexpr double kLn2Low = 1.42860682030941723212e-6;
  // Outside [-760, 710] the result is 0 or +inf anyway; the comparisons let a
  // NaN through.
  x = x < -760.0 ? splat<D>(-760.0) : x;
  x = x > 710.0 ? splat<D>(710.0) : x;
  const D shifted = x * kLog2e + kRoundShift;
  const D n = shifted - kRoundShift;
  const D r = (x - n * kLn2High) - n * kLn2Low;
  D p = splat<D>(1.0 / 6227020800.0);  // 1/13!
  p = p * r + 1.0 / 479001600.0;
  p = p * r + 1.0 / 39916800.0;
  p = p * r + 1.0 / 3628800.0;
  p = p * r + 1.0 / 362880.0;
  p = p * r + 1.0 / 40320.0;
  p = p * r + 1.0 / 5040.0;
  p = p * r + 1.0 / 720.0;
  p = p * r + 1.0 / 120.0;
  p = p * r + 1.0 / 24.0;
  p = p * r + 1.0 / 6.0;
  p = p * r + 0.5;
  p = p * r + 1.0;
  p = p * r + 1.0;
  // n sits in the low bits of `shifted`; n + 2048 is positive, so halving
  // it with a logical shift needs no sign. 2^n = 2^a 2^b, both normal.
  const U n_bits = (U)shifted - (U)splat<D>(kRoundShift) + 2048;
  const U a = (n_bits >> 1) - 1024;
  const U b = n_bits - 2048 - a;
  const D two_a = (D)((a + 1023) << 52);
  const D two_b = (D)((b + 1023) << 52);
  return (p * two_a) * two_b;
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
