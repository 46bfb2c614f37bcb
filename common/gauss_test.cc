#include "common/gauss.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "common/matrix.h"
#include "common/misc.h"
#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::run_capturing;
using Dense = std::vector<std::vector<double>>;

const double kLn2Pi = std::log(2.0 * std::numbers::pi);

// The textbook log density, through a Cholesky factor computed here:
// -|L^-1 (x - mu)|^2 / 2 - sum ln L_ii - (D/2) ln 2 pi.
double direct_lgauss(const std::vector<double>& x, const std::vector<double>& mu,
                     const Dense& cov) {
  size_t d = x.size();
  Dense l(d, std::vector<double>(d, 0.0));
  for (size_t i = 0; i < d; ++i) {
    for (size_t j = 0; j <= i; ++j) {
      double s = cov[i][j];
      for (size_t k = 0; k < j; ++k) s -= l[i][k] * l[j][k];
      l[i][j] = i == j ? std::sqrt(s) : s / l[j][j];
    }
  }
  double q = 0.0, log_det_half = 0.0;
  std::vector<double> z(d);
  for (size_t i = 0; i < d; ++i) {
    double s = x[i] - mu[i];
    for (size_t k = 0; k < i; ++k) s -= l[i][k] * z[k];
    z[i] = s / l[i][i];
    q += z[i] * z[i];
    log_det_half += std::log(l[i][i]);
  }
  return -0.5 * q - log_det_half - 0.5 * d * kLn2Pi;
}

// B B' + I/2 for a random B.
Dense random_cov(size_t d, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Dense b(d, std::vector<double>(d));
  for (auto& row : b) {
    for (double& e : row) e = u(rng);
  }
  Dense c(d, std::vector<double>(d, 0.0));
  for (size_t i = 0; i < d; ++i) {
    for (size_t j = 0; j < d; ++j) {
      for (size_t k = 0; k < d; ++k) c[i][j] += b[i][k] * b[j][k];
    }
    c[i][i] += 0.5;
  }
  return c;
}

std::vector<double> random_point(size_t d, std::mt19937& rng) {
  std::normal_distribution<double> n(0.0, 1.5);
  std::vector<double> x(d);
  for (double& e : x) e = n(rng);
  return x;
}

Vector* to_vector(const std::vector<double>& v) {
  return new_vector_from(static_cast<int>(v.size()), v.data());
}

Matrix* to_matrix(const Dense& a) {
  int d = static_cast<int>(a.size());
  Matrix* m = new_matrix(d, static_cast<int>(a[0].size()));
  for (int i = 0; i < d; ++i) {
    for (size_t j = 0; j < a[i].size(); ++j) (*m)[i][j] = a[i][j];
  }
  return m;
}

// The entries (and blocks) selected by a mask, on the test's side.
std::vector<double> pick(const std::vector<double>& v, const std::vector<int>& mask, bool want) {
  std::vector<double> out;
  for (size_t i = 0; i < v.size(); ++i) {
    if ((mask[i] != 0) == want) out.push_back(v[i]);
  }
  return out;
}

Dense pick(const Dense& a, const std::vector<int>& mask) {
  Dense out;
  for (size_t i = 0; i < a.size(); ++i) {
    if (mask[i] != 0) out.push_back(pick(a[i], mask, true));
  }
  return out;
}

// A Gaussian problem held in store objects for one test.
struct Problem {
  Problem(const std::vector<double>& xs, const std::vector<double>& mus, const Dense& covs)
      : x(to_vector(xs)), mu(to_vector(mus)), cov(to_matrix(covs)) {}
  ~Problem() {
    free_vector(x);
    free_vector(mu);
    free_matrix(cov);
  }
  Vector* x;
  Vector* mu;
  Matrix* cov;
};

TEST(Gauss, OneDimensional) {
  EXPECT_DOUBLE_EQ(lgauss_1d(3.0, 3.0, 1.0), -0.5 * kLn2Pi);
  double x = 1.3, mu = -0.4, var = 2.2;
  double want = -(x - mu) * (x - mu) / (2 * var) - 0.5 * std::log(2 * std::numbers::pi * var);
  EXPECT_NEAR(lgauss_1d(x, mu, var), want, 1e-15);
  EXPECT_NEAR(gauss_1d(x, mu, var), std::exp(want), 1e-15);
}

TEST(Gauss, EveryFormAgreesWithTheTextbookDensity) {
  std::mt19937 rng(11);
  for (size_t d = 1; d <= 8; ++d) {
    for (int trial = 0; trial < 4; ++trial) {
      Dense c = random_cov(d, rng);
      std::vector<double> xs = random_point(d, rng), mus = random_point(d, rng);
      double want = direct_lgauss(xs, mus, c);
      Problem p(xs, mus, c);
      double tol = 1e-12 * std::max(1.0, std::fabs(want));
      EXPECT_NEAR(lgauss(p.x, p.mu, p.cov), want, tol) << d;
      EXPECT_NEAR(lgauss_mv(p.x, p.mu, p.cov), want, tol) << d;
      if (d == 2) {
        EXPECT_NEAR(lgauss_2d(p.x, p.mu, p.cov), want, tol);
      }
      Matrix* prec = new_matrix(int(d), int(d));
      double det = inverse_spd(prec, p.cov).det;
      EXPECT_NEAR(lgauss_mv_prec(p.x, p.mu, prec, det), want, tol) << d;
      EXPECT_NEAR(lgauss(p.x, p.mu, p.cov, prec, det), want, tol) << d;
      EXPECT_NEAR(gauss(p.x, p.mu, p.cov), std::exp(want), 1e-12 * std::exp(want)) << d;
      free_matrix(prec);
    }
  }
}

TEST(Gauss, MarginalIsTheDensityOfTheObservedBlock) {
  std::mt19937 rng(12);
  Dense c = random_cov(5, rng);
  std::vector<double> xs = random_point(5, rng), mus = random_point(5, rng);
  Problem p(xs, mus, c);
  for (std::vector<int> mask : {std::vector<int>{1, 0, 1, 0, 0}, {0, 1, 1, 1, 1}, {0, 0, 0, 2, 0},
                                {1, 1, 0, 1, 0}}) {
    double want = direct_lgauss(pick(xs, mask, true), pick(mus, mask, true), pick(c, mask));
    EXPECT_NEAR(lgauss_marginal(p.x, p.mu, p.cov, mask.data()), want, 1e-12);
  }
  std::vector<int> all(5, 1), none(5, 0);
  EXPECT_NEAR(lgauss_marginal(p.x, p.mu, p.cov, all.data()), lgauss(p.x, p.mu, p.cov), 1e-12);
  EXPECT_EQ(lgauss_marginal(p.x, p.mu, p.cov, none.data()), 0.0);
}

TEST(Gauss, ConditionalCompletesTheMarginal) {
  // ln p(x) = ln p(x_o) + ln p(x_m | x_o) for every split.
  std::mt19937 rng(13);
  for (size_t d = 2; d <= 6; ++d) {
    Dense c = random_cov(d, rng);
    std::vector<double> xs = random_point(d, rng), mus = random_point(d, rng);
    Problem p(xs, mus, c);
    double full = lgauss(p.x, p.mu, p.cov);
    for (unsigned bits = 1; bits + 1 < (1u << d); ++bits) {
      std::vector<int> mask(d);
      for (size_t i = 0; i < d; ++i) mask[i] = (bits >> i) & 1;
      double split = lgauss_marginal(p.x, p.mu, p.cov, mask.data()) +
                     lgauss_cond(p.x, p.mu, p.cov, mask.data());
      EXPECT_NEAR(split, full, 1e-11) << "d=" << d << " mask=" << bits;
    }
    std::vector<int> all(d, 1), none(d, 0);
    EXPECT_EQ(lgauss_cond(p.x, p.mu, p.cov, all.data()), 0.0);
    EXPECT_NEAR(lgauss_cond(p.x, p.mu, p.cov, none.data()), full, 1e-12);
  }
}

TEST(Gauss, SufficientStatisticsSumThePointDensities) {
  std::mt19937 rng(14);
  for (size_t d : {1u, 2u, 4u}) {
    Dense c = random_cov(d, rng);
    std::vector<double> mus = random_point(d, rng);
    const int n = 7;
    std::vector<double> s(d, 0.0);
    Dense ss(d, std::vector<double>(d, 0.0));
    double want = 0.0;
    for (int k = 0; k < n; ++k) {
      std::vector<double> x = random_point(d, rng);
      want += direct_lgauss(x, mus, c);
      for (size_t i = 0; i < d; ++i) {
        s[i] += x[i];
        for (size_t j = i; j < d; ++j) ss[i][j] += x[i] * x[j];
      }
    }
    for (size_t i = 0; i < d; ++i) {
      for (size_t j = 0; j < i; ++j) ss[i][j] = 1e6;  // lower triangle not read
    }
    Problem p(s, mus, c);
    Matrix* stat = to_matrix(ss);
    Matrix* prec = new_matrix(int(d), int(d));
    double det = inverse_spd(prec, p.cov).det;
    EXPECT_NEAR(lgauss_stat(n, p.x, stat, p.mu, prec, det), want, 1e-11 * std::fabs(want)) << d;
    EXPECT_NEAR(gauss_stat(n, p.x, stat, p.mu, prec, det), std::exp(want), 1e-11 * std::exp(want));
    free_matrix(stat);
    free_matrix(prec);
  }
}

void dump_model() { std::fputs("PARAM-CLASS ...\n", log_stream()); }

TEST(Gauss, NonFiniteDensitiesStopTheRunAfterTheModelDump) {
  Problem flat({1e200}, {0.0}, {{1.0}});  // too far out: -inf
  set_model_dump(dump_model);
  auto r = run_capturing([&] { lgauss(flat.x, flat.mu, flat.cov); });
  set_model_dump(nullptr);
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.msg, "Numerical error (check_gauss): Computed Gaussian p.d.f. is not finite\n");
  EXPECT_EQ(r.log, "PARAM-CLASS ...\n" + r.msg);

  EXPECT_EQ(run_capturing([] { check_gauss(-std::numeric_limits<double>::infinity()); }).msg,
            "Numerical error (check_gauss): Computed Gaussian p.d.f. is not finite\n");
  EXPECT_EQ(check_gauss(-3.5), -3.5);
}

TEST(Gauss, CovarianceThatCannotBeInvertedIsANumericalError) {
  Dense indefinite = {{1, 2, 0, 0}, {2, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
  Problem p({0, 0, 0, 0}, {0, 0, 0, 0}, indefinite);
  EXPECT_EQ(run_capturing([&] { lgauss(p.x, p.mu, p.cov); }).msg,
            "Numerical error (lgauss_mv): Failed to invert covariances\n");
  // The closed form of a 3 x 3 is tested as well: a negative determinant is
  // refused before any logarithm.
  Problem small({0, 0, 0}, {0, 0, 0}, {{1, 2, 0}, {2, 1, 0}, {0, 0, 1}});
  EXPECT_EQ(run_capturing([&] { lgauss(small.x, small.mu, small.cov); }).msg,
            "Numerical error (lgauss_mv): Failed to invert covariances\n");

  Dense five(5, std::vector<double>(5, 0.0));
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) five[i][j] = indefinite[i][j];
  }
  five[4][4] = 1;
  Problem q({0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}, five);
  std::vector<int> mask = {1, 1, 1, 1, 0};
  EXPECT_EQ(run_capturing([&] { lgauss_cond(q.x, q.mu, q.cov, mask.data()); }).msg,
            "Numerical error (lgauss_cond): Failed to invert the covariances of the observed part\n");
}

TEST(Gauss, MismatchedOperandsAreInternalErrors) {
  Problem p({0, 0, 0}, {0, 0}, {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}});
  EXPECT_EQ(run_capturing([&] { lgauss(p.x, p.mu, p.cov); }).msg,
            "Internal error: lgauss() -- illegal dimension(s)\n");
  Problem q({0, 0, 0}, {0, 0, 0}, {{1, 0}, {0, 1}});
  EXPECT_EQ(run_capturing([&] { lgauss_mv(q.x, q.mu, q.cov); }).msg,
            "Internal error: lgauss_mv() -- illegal dimension(s)\n");
  std::vector<int> mask = {1, 0, 1};
  EXPECT_EQ(run_capturing([&] { lgauss_cond(q.x, q.mu, q.cov, mask.data()); }).msg,
            "Internal error: lgauss_cond() -- illegal dimension(s)\n");
}

TEST(Gauss, DensityCallsTakeNothingFromTheSystemOnceWarm) {
  std::mt19937 rng(15);
  std::vector<std::unique_ptr<Problem>> problems;
  for (size_t d : {1u, 2u, 4u, 8u}) {
    problems.push_back(
        std::make_unique<Problem>(random_point(d, rng), random_point(d, rng), random_cov(d, rng)));
  }
  std::vector<int> mask = {1, 0, 1, 1, 0, 1, 0, 1};
  auto run_all = [&] {
    double sum = 0.0;
    for (auto& p : problems) {
      sum += lgauss(p->x, p->mu, p->cov);
      sum += lgauss_marginal(p->x, p->mu, p->cov, mask.data());
      sum += lgauss_cond(p->x, p->mu, p->cov, mask.data());
    }
    return sum;
  };
  double first = run_all();
  auto before = store_stats().system_allocations;
  for (int i = 0; i < 200; ++i) EXPECT_EQ(run_all(), first);
  EXPECT_EQ(store_stats().system_allocations, before);
}

}  // namespace
}  // namespace veska
