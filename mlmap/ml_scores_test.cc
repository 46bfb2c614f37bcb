// The log-prior and the scores against closed forms computed another way:
// a 1-D Normal-Wishart prior is a normal times a gamma density; for one
// class and complete data the Cheeseman-Stutz score is the exact marginal
// likelihood (Dirichlet-multinomial, and the Normal-Wishart evidence in its
// textbook form); BIC counts the free parameters.
#include "mlmap/ml_scores.h"

#include <gtest/gtest.h>

#include <cmath>

#include "common/gauss.h"
#include "common/random.h"
#include "mlmap/ml_test_fit.h"

namespace veska {
namespace {

using testing::MlFit;
using testing::CaseData;

constexpr double kLnPi = 1.14472988584940017414;

TEST(MlScores, LogPriorOfOneDimensionIsNormalTimesGamma) {
  CaseData data("a,1.0\nb,2.5\na,0.5\nb,4.0\na,3.0\n", 2, {"1"},
              [](Settings& s) { testing::map_settings(s); });
  data.settings.smooth_a[0].value = 0.7;
  MlFit fit(data, 2);
  fit.params.pi = {0.3, 0.7};
  fit.params.theta = {0.4, 0.6, 0.9, 0.1};
  fit.params.mean = {1.2, 2.9};
  fit.params.covar = {0.8, 1.7};
  recompute_precisions(fit.layout, fit.params);
  const double a = 0.5, ai = 0.7, tau = 0.3;
  const double b0 = (*data.stats.groups[0].sample_covar)[0][0];  // s = 1
  const double m0 = (*data.stats.groups[0].sample_mean)[0];
  const double alpha = 1 + 1e-6;
  // Beta(a + 1, a + 1) at pi_0, Beta(ai + 1, ai + 1) at each theta.
  auto log_beta_density = [](double x, double c) {
    return std::lgamma(2 * c) - 2 * std::lgamma(c) + (c - 1) * (std::log(x) + std::log(1 - x));
  };
  double expected = log_beta_density(0.3, a + 1) + log_beta_density(0.4, ai + 1) +
                    log_beta_density(0.9, ai + 1);
  for (int k = 0; k < 2; ++k) {
    const double var = fit.params.covar[k], lambda = 1 / var;
    // lambda ~ Gamma(shape alpha / 2, scale 2 / b0); mu ~ N(m0, var / tau).
    expected += lgauss_1d(fit.params.mean[k], m0, var / tau) + (alpha / 2 - 1) * std::log(lambda) -
                lambda * b0 / 2 - (alpha / 2) * std::log(2 / b0) - std::lgamma(alpha / 2);
  }
  EXPECT_NEAR(compute_log_prior(fit.layout, fit.priors, fit.params), expected, 1e-12);
}

TEST(MlScores, CheesemanStutzOfOneClassIsTheExactEvidence) {
  // Discrete: the Dirichlet-multinomial evidence (the class part is 0).
  CaseData cat("a\nb\na\nc\na\nb\n", 1, {}, [](Settings& s) { testing::map_settings(s); });
  cat.settings.smooth_a[0].value = 0.4;
  MlFit one(cat, 1);
  rng_seed(1);
  initialise_params(one.ctx, one.layout, one.params);
  for (int t = 0; t < 3; ++t) {
    one.evaluate();
    one.update();
  }
  double loglike = one.evaluate() - compute_log_prior(one.layout, one.priors, one.params);
  compute_responsibilities(one.layout, one.work);
  compute_expected_stats(one.ctx, one.layout, one.params, one.work);
  const double c = 1.4;
  const double evidence = std::lgamma(3 * c) - std::lgamma(3 * c + 6) + std::lgamma(c + 3) +
                          std::lgamma(c + 2) + std::lgamma(c + 1) - 3 * std::lgamma(c);
  EXPECT_NEAR(compute_cs(one.ctx, one.layout, one.priors, one.params, one.work, loglike), evidence,
              1e-10);

  // A 2-D block: -(N d / 2) ln pi + ln G_2((alpha + N) / 2) - ln G_2(alpha / 2)
  // + (alpha / 2) ln |B0| - ((alpha + N) / 2) ln |Bn| + (d / 2) ln(tau / (tau + N)).
  CaseData gauss("1.0,2.0\n2.0,1.5\n0.5,0.7\n3.0,2.2\n1.7,1.1\n", 2, {"0,1"},
               [](Settings& s) { testing::map_settings(s); s.alpha = 4.5; });
  MlFit g(gauss, 1);
  rng_seed(2);
  initialise_params(g.ctx, g.layout, g.params);
  g.evaluate();
  g.update();
  loglike = g.evaluate() - compute_log_prior(g.layout, g.priors, g.params);
  compute_responsibilities(g.layout, g.work);
  compute_expected_stats(g.ctx, g.layout, g.params, g.work);
  const double N = 5, tau = 0.3, alpha = 4.5;
  const double x[5][2] = {{1.0, 2.0}, {2.0, 1.5}, {0.5, 0.7}, {3.0, 2.2}, {1.7, 1.1}};
  double mean[2] = {0, 0};
  for (auto& p : x) {
    mean[0] += p[0] / N;
    mean[1] += p[1] / N;
  }
  const Matrix& s = *gauss.stats.groups[0].sample_covar;
  const double* m0 = (*gauss.stats.groups[0].sample_mean).data;
  double bn[2][2];
  for (int i = 0; i < 2; ++i) {
    for (int j = 0; j < 2; ++j) {
      double scatter = 0;
      for (auto& p : x) scatter += (p[i] - mean[i]) * (p[j] - mean[j]);
      bn[i][j] = s[i][j] + scatter + tau * N / (tau + N) * (m0[i] - mean[i]) * (m0[j] - mean[j]);
    }
  }
  auto log_gamma2 = [](double v) { return 0.5 * kLnPi + std::lgamma(v) + std::lgamma(v - 0.5); };
  const double det_b0 = s[0][0] * s[1][1] - s[0][1] * s[1][0];
  const double det_bn = bn[0][0] * bn[1][1] - bn[0][1] * bn[1][0];
  const double gauss_evidence = -N * kLnPi + log_gamma2((alpha + N) / 2) - log_gamma2(alpha / 2) +
                                alpha / 2 * std::log(det_b0) - (alpha + N) / 2 * std::log(det_bn) +
                                std::log(tau / (tau + N));
  EXPECT_NEAR(compute_cs(g.ctx, g.layout, g.priors, g.params, g.work, loglike), gauss_evidence,
              1e-10 * std::fabs(gauss_evidence));
}

TEST(MlScores, BicCountsTheFreeParameters) {
  // 2 discrete attributes of 3 and 4 values, one block of dimension 2,
  // K = 3: P = 2 + 3 * 2 + 3 * 3 + 3 * (2 + 1) = 26.
  CaseData data("a,p,1,2\nb,q,2,1\nc,r,0,3\na,s,1,1\nb,p,3,1.5\nc,q,2,4\n", 4, {"2,3"},
              [](Settings& s) { testing::ml_settings(s); });
  MlFit fit(data, 3);
  EXPECT_DOUBLE_EQ(compute_bic(fit.ctx, -10.0, 3), -10.0 - 13.0 * std::log(6.0));
  auto res = veska::testing::run_capturing([] { check_bic(std::nan("")); });
  EXPECT_TRUE(res.exited);
  EXPECT_NE(res.log.find("Computed BIC is not a number"), std::string::npos);
  res = veska::testing::run_capturing([] { check_cs(-INFINITY); });
  EXPECT_NE(res.log.find("Computed Cheeseman-Stutz score is not finite"), std::string::npos);
}

}  // namespace
}  // namespace veska
