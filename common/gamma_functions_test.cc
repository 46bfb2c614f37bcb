#include "common/gamma_functions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

namespace veska {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Reference values in long double.
constexpr long double kGamma = 0.577215664901532860606512090082402431L;  // Euler
constexpr long double kPiL = 3.141592653589793238462643383279502884L;

// |got - want| within `rel` of |want|, or of 1 where psi or ln Gamma is near
// one of its zeros (absolute accuracy is what is well defined there).
void expect_close(double got, long double want, double x, double rel = 1e-14) {
  double scale = std::max(std::fabs(static_cast<double>(want)), 1.0);
  EXPECT_NEAR(got, static_cast<double>(want), rel * scale) << "x = " << x;
}

// ---- log_gamma ----

TEST(LogGamma, KnownValues) {
  EXPECT_NEAR(log_gamma(1.0), 0.0, 1e-16);
  EXPECT_NEAR(log_gamma(2.0), 0.0, 1e-16);
  EXPECT_NEAR(log_gamma(0.5), 0.5 * std::log(std::numbers::pi), 1e-15);
  EXPECT_NEAR(log_gamma(-0.5), std::log(2.0 * std::sqrt(std::numbers::pi)), 1e-15);
  EXPECT_TRUE(std::isnan(log_gamma(std::nan(""))));
  EXPECT_EQ(log_gamma(kInf), kInf);
  EXPECT_EQ(log_gamma(-kInf), kInf);
  for (double pole : {0.0, -0.0, -1.0, -2.0, -37.0, -4503599627370496.0, -1e20, -1e300}) {
    EXPECT_EQ(log_gamma(pole), kInf) << pole;
  }
}

TEST(LogGamma, FactorialsAndHalfIntegers) {
  // ln Gamma(n) = ln (n-1)!, ln Gamma(n + 1/2) = ln( (2n)! sqrt(pi) / (4^n n!) ).
  long double log_factorial = 0.0L;  // ln (n-1)!
  long double log_half = 0.5L * std::log(kPiL);  // ln Gamma(1/2)
  for (int n = 1; n <= 60; ++n) {
    if (n > 1) log_factorial += std::log(static_cast<long double>(n - 1));
    expect_close(log_gamma(n), log_factorial, n);
    double x = n - 0.5;
    expect_close(log_gamma(x), log_half, x);
    log_half += std::log(static_cast<long double>(x));  // Gamma(x + 1) = x Gamma(x)
  }
}

TEST(LogGamma, AgreesWithTheLibraryAcrossEveryBranch) {
  const std::vector<double> points = {
      // tiny, and either side of 2.22e-16
      1e-300, 1e-20, 2.2e-16, 2.21999e-16, 2.22e-16, 2.23e-16, 1e-10,
      // below 0.5
      1e-3, 0.1, 0.25, 0.4999999999,
      // 0.5 .. 0.6796875
      0.5, 0.55, 0.6796874999,
      // 0.6796875 .. 1.5
      0.6796875, 0.7, 0.9, 0.999, 1.001, 1.25, 1.4999999,
      // 1.5 .. 4
      1.5, 1.75, 1.999, 2.001, 2.5, 3.3, 3.9999999,
      // 4 .. 12
      4.0, 4.5, 7.77, 11.999999,
      // Stirling
      12.0, 12.5, 30.0, 100.5, 1e3, 1e5, 1e10, 1e15, 1e20, 1e50, 1e76, 2.2499e76,
      // without the series
      2.25e76, 1e100, 1e200, 1e300,
      // reflection
      -1e-300, -1e-10, -0.1, -0.5, -0.9, -1.5, -2.5, -3.7, -10.3, -100.7, -170.5, -1000.25,
      -100000.5};
  for (double x : points) expect_close(log_gamma(x), std::lgamma(x), x);
  EXPECT_EQ(log_gamma(1.7e308), kInf);  // beyond the largest double
}

TEST(LogGamma, IsContinuousAtTheBranchBoundaries) {
  for (double b : {0.5, 0.6796875, 1.5, 4.0, 12.0}) {
    double below = std::nextafter(b, 0.0);
    EXPECT_NEAR(log_gamma(below), log_gamma(b), 1e-15 * std::max(1.0, std::fabs(log_gamma(b))))
        << b;
  }
}

// ---- digamma ----

// Gauss's digamma theorem, 0 < r < m:
// psi(r/m) = -gamma - ln 2m - (pi/2) cot(pi r/m) + 2 sum_{n=1}^{ceil(m/2)-1} cos(2 pi n r/m) ln sin(pi n/m).
long double psi_rational(int r, int m) {
  long double sum = 0.0L;
  for (int n = 1; n <= (m + 1) / 2 - 1; ++n) {
    sum += std::cos(2.0L * kPiL * n * r / m) * std::log(std::sin(kPiL * n / m));
  }
  long double a = kPiL * r / m;
  return -kGamma - std::log(2.0L * m) - 0.5L * kPiL * std::cos(a) / std::sin(a) + 2.0L * sum;
}

// ln x - 1/(2x) - sum_k B_2k / (2k x^2k), k = 1..7; good to 1e-17 from x = 10.
long double psi_asymptotic(long double x) {
  const long double b[] = {1.0L / 6, -1.0L / 30, 1.0L / 42, -1.0L / 30, 5.0L / 66,
                           -691.0L / 2730, 7.0L / 6};
  long double w = 1.0L / (x * x), power = w, sum = 0.0L;
  for (int k = 1; k <= 7; ++k) {
    sum += b[k - 1] / (2 * k) * power;
    power *= w;
  }
  return std::log(x) - 0.5L / x - sum;
}

TEST(Digamma, KnownValues) {
  EXPECT_NEAR(digamma(1.0), -0.5772156649015329, 1e-16);
  EXPECT_NEAR(digamma(0.5), static_cast<double>(-kGamma - 2 * std::log(2.0L)), 1e-15);
  EXPECT_NEAR(digamma(0.25), static_cast<double>(-kGamma - kPiL / 2 - 3 * std::log(2.0L)), 1e-14);
  EXPECT_NEAR(digamma(1.0 / 3),
              static_cast<double>(-kGamma - kPiL / (2 * std::sqrt(3.0L)) - 1.5L * std::log(3.0L)),
              1e-14);
  EXPECT_EQ(digamma(0.0), kInf);
  EXPECT_EQ(digamma(-0.0), kInf);
  EXPECT_EQ(digamma(-4.5e15), kInf);
  EXPECT_EQ(digamma(1e-310), -kInf);
  EXPECT_TRUE(std::isnan(digamma(std::nan(""))));
  EXPECT_EQ(digamma(kInf), kInf);
}

TEST(Digamma, RationalArgumentsAndTheirShiftsUpAndDown) {
  // Dyadic r/m are exact doubles, so every shift by an integer is exact too.
  for (int m : {2, 4, 8, 16, 64}) {
    for (int r = 1; r < m; ++r) {
      long double up = psi_rational(r, m);
      long double down = up;
      for (int k = 0; k <= 40; ++k) {
        double x = static_cast<double>(r) / m + k;
        expect_close(digamma(x), up, x);
        up += 1.0L / x;  // psi(x + 1) = psi(x) + 1/x
        if (k > 0 && k <= 12) {
          double neg = static_cast<double>(r) / m - k;
          down -= 1.0L / neg;  // psi(x) = psi(x + 1) - 1/x
          expect_close(digamma(neg), down, neg);
        }
      }
    }
  }
  // Other denominators: x is rounded, which is harmless away from the zeros.
  for (int m : {3, 5, 6, 7, 10, 12}) {
    for (int r = 1; r < m; ++r) expect_close(digamma(static_cast<double>(r) / m), psi_rational(r, m), 1.0 * r / m, 2e-14);
  }
}

TEST(Digamma, BoundaryOfTheMiddleAndLargeBranches) {
  long double psi3 = 1.5L - kGamma;  // psi(3) = 1 + 1/2 - gamma
  expect_close(digamma(3.0), psi3, 3.0);
  double above = std::nextafter(3.0, 4.0);
  expect_close(digamma(above), psi3 + (above - 3.0L) * (kPiL * kPiL / 6 - 1.25L), above);
  // psi(3.5) = psi(1/2) + 2 + 2/3 + 2/5
  expect_close(digamma(3.5), -kGamma - 2 * std::log(2.0L) + 2 + 2.0L / 3 + 2.0L / 5, 3.5);
}

TEST(Digamma, LargeArguments) {
  for (double x : {10.0, 33.3, 100.0, 1e3, 1e5, 1e10, 2.7e14, 2.70999e14, 2.71e14, 1e15, 1e100,
                   1e300}) {
    expect_close(digamma(x), psi_asymptotic(x), x);
  }
}

TEST(Digamma, TinyArguments) {
  // psi(e) = -1/e - gamma + (pi^2/6) e + O(e^2)
  for (double e : {1e-8, 5.8e-9, 5e-9, 1e-10, 1e-200, -1e-8, -5e-9, -1e-10, -1e-200}) {
    long double want = -1.0L / e - kGamma + kPiL * kPiL / 6 * e;
    expect_close(digamma(e), want, e);
  }
}

TEST(LogWishartConst, MatchesItsDefinition) {
  EXPECT_NEAR(log_wishart_const(1, 3.0), -(1.5 * std::log(2.0) + std::lgamma(1.5)), 1e-14);
  double nu = 7.25;
  double want = -(1.5 * std::log(std::numbers::pi) + nu * 1.5 * std::log(2.0) +
                  std::lgamma(nu / 2) + std::lgamma((nu - 1) / 2) + std::lgamma((nu - 2) / 2));
  EXPECT_NEAR(log_wishart_const(3, nu), want, 1e-13);
}

}  // namespace
}  // namespace veska
