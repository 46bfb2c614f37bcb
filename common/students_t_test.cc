#include "common/students_t.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "common/gauss.h"
#include "common/matrix.h"
#include "common/misc.h"
#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::run_capturing;
using testing::StreamCapture;

constexpr double kPi = std::numbers::pi;

// A Student-t problem held in store objects for one test.
struct Problem {
  Problem(std::vector<double> xs, std::vector<double> mus)
      : x(new_vector_from(int(xs.size()), xs.data())),
        mu(new_vector_from(int(mus.size()), mus.data())),
        scale(new_matrix(int(xs.size()), int(xs.size()))) {}
  explicit Problem(int d) : Problem(std::vector<double>(d), std::vector<double>(d)) {}
  ~Problem() {
    free_vector(x);
    free_vector(mu);
    free_matrix(scale);
  }
  Vector* x;
  Vector* mu;
  Matrix* scale;
};

// B B' + I/2 for a random B, and random x and mu.
void randomise(Problem& p, std::mt19937& rng) {
  int d = p.x->n;
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<double> b(d * d);
  for (double& e : b) e = u(rng);
  for (int i = 0; i < d; ++i) {
    p.x->data[i] = 2 * u(rng);
    p.mu->data[i] = u(rng);
    for (int j = 0; j < d; ++j) {
      double s = i == j ? 0.5 : 0.0;
      for (int k = 0; k < d; ++k) s += b[i * d + k] * b[j * d + k];
      (*p.scale)[i][j] = s;
    }
  }
}

// The textbook density, with the general (LU) inverse and determinant:
// ln G((nu+D)/2) - (D/2) ln(nu pi) - ln G(nu/2) - ln|S|/2 - ((nu+D)/2) ln(1 + q/nu).
double direct_lt(const std::vector<double>& x, const std::vector<double>& mu,
                 const Matrix* scale, double nu) {
  int d = static_cast<int>(x.size());
  Matrix* inv = new_matrix(d, d);
  double det = inverse_general(inv, scale).det;
  double q = 0.0;
  for (int i = 0; i < d; ++i) {
    for (int j = 0; j < d; ++j) q += (x[i] - mu[i]) * (*inv)[i][j] * (x[j] - mu[j]);
  }
  free_matrix(inv);
  return std::lgamma((nu + d) / 2) - 0.5 * d * std::log(nu * kPi) - std::lgamma(nu / 2) -
         0.5 * std::log(det) - 0.5 * (nu + d) * std::log(1 + q / nu);
}

std::vector<double> values(const Vector* v) { return {v->data, v->data + v->n}; }

TEST(StudentsT, OneDimensional) {
  // nu = 1 is the Cauchy density 1 / (pi s (1 + z^2)).
  double x = 2.5, mu = 0.5, var = 4.0;
  double z = (x - mu) / 2.0;
  EXPECT_NEAR(lstudents_t_1d(x, mu, var, 1.0), -std::log(kPi * 2.0 * (1 + z * z)), 1e-15);
  double nu = 3.7;
  double want = std::lgamma((nu + 1) / 2) - 0.5 * std::log(nu * kPi) - std::lgamma(nu / 2) -
                0.5 * std::log(var) - 0.5 * (nu + 1) * std::log(1 + (x - mu) * (x - mu) / (var * nu));
  EXPECT_NEAR(lstudents_t_1d(x, mu, var, nu), want, 1e-14);
  EXPECT_NEAR(students_t_1d(x, mu, var, nu), std::exp(want), 1e-15);

  Problem p({x}, {mu});
  (*p.scale)[0][0] = var;
  EXPECT_NEAR(lstudents_t(p.x, p.mu, p.scale, nu), want, 1e-14);
}

TEST(StudentsT, MultivariateAgreesWithTheTextbookDensity) {
  std::mt19937 rng(21);
  for (int d = 2; d <= 7; ++d) {
    for (double nu : {0.7, 3.0, 12.5}) {
      Problem p(d);
      randomise(p, rng);
      double want = direct_lt(values(p.x), values(p.mu), p.scale, nu);
      double tol = 1e-12 * std::max(1.0, std::fabs(want));
      EXPECT_NEAR(lstudents_t_mv(p.x, p.mu, p.scale, nu), want, tol) << d;
      EXPECT_NEAR(lstudents_t(p.x, p.mu, p.scale, nu), want, tol) << d;
      EXPECT_NEAR(students_t(p.x, p.mu, p.scale, nu), std::exp(want), 1e-12 * std::exp(want));
    }
  }
}

TEST(StudentsT, ManyDegreesOfFreedomApproachTheGaussian) {
  // The gap shrinks like 1/nu (the log-gamma difference limits how far).
  std::mt19937 rng(22);
  for (int d = 1; d <= 5; ++d) {
    Problem p(d);
    randomise(p, rng);
    double gauss = lgauss(p.x, p.mu, p.scale);
    double gap3 = std::fabs(lstudents_t(p.x, p.mu, p.scale, 1e3) - gauss);
    double gap6 = std::fabs(lstudents_t(p.x, p.mu, p.scale, 1e6) - gauss);
    EXPECT_LT(gap3, 0.1) << d;
    EXPECT_LT(gap6, 2e-3 * gap3 + 1e-9) << d;
  }
}

// ln of the integral of the joint density over component `missing`, with
// x_m = mu_m + c tan(theta) and Simpson's rule over (-pi/2, pi/2).
double integrate_out(const Problem& p, int missing, double nu) {
  std::vector<double> x = values(p.x), mu = values(p.mu);
  double c = std::sqrt((*p.scale)[missing][missing]);
  const int n = 20000;
  double h = kPi / n, sum = 0.0;
  for (int k = 1; k < n; ++k) {  // the integrand vanishes at both ends
    double theta = -kPi / 2 + k * h;
    x[missing] = mu[missing] + c * std::tan(theta);
    double g = std::exp(direct_lt(x, mu, p.scale, nu)) * c / (std::cos(theta) * std::cos(theta));
    sum += (k % 2 == 1 ? 4.0 : 2.0) * g;
  }
  return std::log(sum * h / 3);
}

TEST(StudentsT, MarginalIntegratesTheJointDensity) {
  std::mt19937 rng(23);
  for (int d : {2, 3}) {
    for (double nu : {2.5, 6.0}) {
      Problem p(d);
      randomise(p, rng);
      std::vector<int> mask(d, 1);
      mask[1] = 0;
      EXPECT_NEAR(lstudents_t_marginal(p.x, p.mu, p.scale, nu, mask.data()),
                  integrate_out(p, 1, nu), 1e-9)
          << "d=" << d << " nu=" << nu;
    }
  }
}

TEST(StudentsT, MarginalKeepsTheObservedScaleBlock) {
  std::mt19937 rng(24);
  Problem p(5);
  randomise(p, rng);
  double nu = 4.2;
  std::vector<int> one = {0, 0, 3, 0, 0};
  EXPECT_NEAR(lstudents_t_marginal(p.x, p.mu, p.scale, nu, one.data()),
              lstudents_t_1d(p.x->data[2], p.mu->data[2], (*p.scale)[2][2], nu), 1e-14);
  std::vector<int> mask = {1, 0, 1, 1, 0};
  Vector* xo = new_sub_vector(p.x, mask.data());
  Vector* mo = new_sub_vector(p.mu, mask.data());
  Matrix* so = new_sub_matrix(p.scale, mask.data(), mask.data());
  EXPECT_NEAR(lstudents_t_marginal(p.x, p.mu, p.scale, nu, mask.data()),
              direct_lt(values(xo), values(mo), so, nu), 1e-12);
  free_vector(xo);
  free_vector(mo);
  free_matrix(so);
}

TEST(StudentsT, MarginalWithNothingMissingOrNothingObserved) {
  std::mt19937 rng(25);
  Problem p(3);
  randomise(p, rng);
  std::vector<int> all(3, 1), none(3, 0);
  StreamCapture capture;
  EXPECT_NEAR(lstudents_t_marginal(p.x, p.mu, p.scale, 5.0, all.data()),
              lstudents_t(p.x, p.mu, p.scale, 5.0), 1e-13);
  EXPECT_EQ(lstudents_t_marginal(p.x, p.mu, p.scale, 5.0, none.data()), 0.0);
  EXPECT_EQ(capture.msg(), "n_miss = 0, n_obs = 3\r\nn_miss = 3, n_obs = 0\r\n");
}

void dump_model() { std::fputs("PARAM-CAT0 ...\n", log_stream()); }

TEST(StudentsT, FailuresAreNumericalErrors) {
  Problem p({0, 0, 0, 0, 0}, {0, 0, 0, 0, 0});
  set_scaled_identity(p.scale, 1.0);
  (*p.scale)[0][1] = (*p.scale)[1][0] = 2.0;  // indefinite in the first two components
  std::vector<int> mask = {1, 1, 1, 1, 0};
  EXPECT_EQ(run_capturing([&] { lstudents_t_marginal(p.x, p.mu, p.scale, 3.0, mask.data()); }).msg,
            "Numerical error (lstudents_t_marginal): Failed to invert the covariances of the "
            "observed part\n");
  EXPECT_EQ(run_capturing([&] { lstudents_t(p.x, p.mu, p.scale, 3.0); }).msg,
            "Numerical error (lstudents_t_mv): Failed to invert covariances\n");

  set_model_dump(dump_model);
  auto r = run_capturing([] { check_students_t(std::nan("")); });
  set_model_dump(nullptr);
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.msg, "Numerical error (check_students_t): Student's-t p.d.f. returned NaN\n");
  EXPECT_EQ(r.log, "PARAM-CAT0 ...\n" + r.msg);
  // A point too far out: -inf.
  Problem flat({1e200}, {0.0});
  (*flat.scale)[0][0] = 1.0;
  EXPECT_EQ(run_capturing([&] { lstudents_t(flat.x, flat.mu, flat.scale, 3.0); }).msg,
            "Numerical error (check_students_t): Student's-t p.d.f. returned INF\n");
  EXPECT_EQ(run_capturing([&] { lstudents_t(flat.x, p.mu, flat.scale, 3.0); }).msg,
            "Internal error: lstudents_t() -- illegal dimension(s)\n");
}

TEST(StudentsT, PreparedDensityGivesTheSameBits) {
  std::mt19937 rng(11);
  for (int d = 1; d <= 7; ++d) {
    Problem p(d);
    for (int trial = 0; trial < 20; ++trial) {
      randomise(p, rng);
      const double nu = 0.5 + trial;
      PreparedStudentsT t = prepare_students_t(p.mu, p.scale, nu);
      EXPECT_EQ(lstudents_t(t, p.x->data), lstudents_t(p.x, p.mu, p.scale, nu)) << d;
      free_students_t(t);
    }
  }
  // A scale that cannot be inverted fails at the first point, not before.
  Problem bad({0, 0}, {0, 0});
  set_scaled_identity(bad.scale, 1.0);
  (*bad.scale)[0][1] = (*bad.scale)[1][0] = 2.0;
  PreparedStudentsT t = prepare_students_t(bad.mu, bad.scale, 3.0);
  EXPECT_EQ(run_capturing([&] { lstudents_t(t, bad.x->data); }).msg,
            "Numerical error (lstudents_t_mv): Failed to invert covariances\n");
  free_students_t(t);
}

TEST(StudentsT, DensityCallsTakeNothingFromTheSystemOnceWarm) {
  std::mt19937 rng(26);
  Problem p1(1);
  Problem p4(4);
  randomise(p1, rng);
  randomise(p4, rng);
  std::vector<int> mask = {1, 0, 1, 1};
  auto run_all = [&] {
    return lstudents_t(p1.x, p1.mu, p1.scale, 3.0) + lstudents_t(p4.x, p4.mu, p4.scale, 3.0) +
           lstudents_t_marginal(p4.x, p4.mu, p4.scale, 3.0, mask.data());
  };
  double first = run_all();
  auto before = store_stats().system_allocations;
  for (int i = 0; i < 200; ++i) EXPECT_EQ(run_all(), first);
  EXPECT_EQ(store_stats().system_allocations, before);
}

}  // namespace
}  // namespace veska
