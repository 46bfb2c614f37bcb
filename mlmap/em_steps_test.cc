// The EM steps against what EM guarantees and against independent
// formulas: the objective never falls within one temperature (and a planted
// fault is caught), the log domain agrees with the normal one, the
// log-likelihood equals the mixture density evaluated with the density
// module, the imputed statistics of missing block values follow the
// conditional Gaussian, and the MAP M-step maximises the expected
// complete-data log-likelihood plus the log-prior.
#include "mlmap/em_steps.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "common/gauss.h"
#include "common/random.h"
#include "mlmap/ml_test_fit.h"

namespace veska {
namespace {

using testing::MlFit;
using testing::random_cases;
using testing::Shape;
using testing::CaseData;

std::vector<Shape> data_shapes() {
  std::vector<Shape> shapes;
  shapes.push_back(Shape{{3, 4, 2}, {}});                  // discrete only
  shapes.push_back(Shape{{}, {3}});                         // one block
  shapes.push_back(Shape{{}, {1, 1, 1}});                   // several 1-D blocks
  shapes.push_back(Shape{{3, 2}, {2, 1}});                  // mixed
  shapes.push_back(Shape{{3, 2}, {3, 2}, 150, 0.08, 0.05});  // missing everywhere
  return shapes;
}

void settings_for(Settings& s, bool map) {
  if (map) {
    testing::map_settings(s);
  } else {
    testing::ml_settings(s);
  }
}

// The largest fall of the objective over 25 iterations at a fixed inverse
// temperature. With `fault` the M-step forgets the prior scale B0.
double worst_fall(CaseData& data, int K, unsigned seed, double beta, bool map, bool log_domain,
                  bool fault, std::vector<double>* history = nullptr) {
  for (SmoothConst& c : data.settings.smooth_a) c.value = map ? 0.25 : 0.0;
  MlFit fit(data, K);
  fit.work.beta = beta;
  fit.work.log_domain = log_domain;
  MlPriors faulty = fit.priors;
  std::fill(faulty.b0.begin(), faulty.b0.end(), 0.0);
  rng_seed(seed);
  initialise_params(fit.ctx, fit.layout, fit.params);
  double last = fit.evaluate(), worst = 0.0;
  if (history) history->push_back(last);
  for (int t = 0; t < 25; ++t) {
    compute_responsibilities(fit.layout, fit.work);
    compute_expected_stats(fit.ctx, fit.layout, fit.params, fit.work);
    m_step(fit.ctx, fit.layout, fault ? faulty : fit.priors, fit.scales, fit.work, fit.params);
    if (find_singular_block(fit.layout, fit.scales, fit.params).found) break;
    const double o = fit.evaluate();
    if (history) history->push_back(o);
    worst = std::max(worst, last - o);
    last = o;
  }
  return worst;
}

TEST(EmSteps, ObjectiveNeverFallsWithinATemperature) {
  double planted = 0.0;
  for (const Shape& shape : data_shapes()) {
    for (bool map : {false, true}) {
      CaseData data(random_cases(shape), shape.n_attr(), shape.gauss(),
                  [map](Settings& s) { settings_for(s, map); });
      for (double beta : {1.0, 0.4}) {
        for (int K = 2; K <= 6; ++K) {
          for (unsigned seed : {1u, 7u}) {
            SCOPED_TRACE(::testing::Message() << "shape " << shape.n_attr() << " map " << map
                                            << " beta " << beta << " K " << K << " seed " << seed);
            EXPECT_LE(worst_fall(data, K, seed, beta, map, false, false), 1e-6);
            if (map && !shape.blocks.empty()) {
              planted = std::max(planted, worst_fall(data, K, seed, beta, map, false, true));
            }
          }
        }
      }
    }
  }
  // The same check sees an M-step that drops the prior's scale matrix.
  EXPECT_GT(planted, 1e-6);
}

TEST(EmSteps, LogDomainGivesTheSameHistory) {
  for (const Shape& shape : {data_shapes()[3], data_shapes()[4]}) {
    CaseData data(random_cases(shape), shape.n_attr(), shape.gauss(),
                [](Settings& s) { settings_for(s, true); });
    for (double beta : {1.0, 0.3}) {
      std::vector<double> normal, log;
      worst_fall(data, 4, 3, beta, true, false, false, &normal);
      worst_fall(data, 4, 3, beta, true, true, false, &log);
      ASSERT_EQ(normal.size(), log.size());
      for (size_t t = 0; t < normal.size(); ++t) {
        EXPECT_NEAR(log[t], normal[t], 1e-9 * std::fabs(normal[t])) << t;
      }
    }
  }
}

// sum_n c_n ln sum_k pi_k prod theta prod g with the density module's
// whole and marginal Gaussian densities.
double mixture_loglike(const MlFit& f) {
  const MlLayout& l = f.layout;
  double total = 0.0;
  for (int n = 0; n < f.ctx.cases.n_entries; ++n) {
    const CaseEntry& e = f.ctx.cases.entries[n];
    double z = 0.0;
    for (int k = 0; k < l.K; ++k) {
      double p = f.params.pi[k];
      for (int i = 0; i < l.n_discrete; ++i) {
        if (e.codes()[i] >= 0) p *= f.params.theta[l.cat(k, i, e.codes()[i])];
      }
      for (int b = 0; b < l.n_groups; ++b) {
        const int d = l.dims[b];
        std::vector<double> mu(f.params.mean.begin() + l.mean(k, b),
                               f.params.mean.begin() + l.mean(k, b) + d);
        std::vector<double> cov(f.params.covar.begin() + l.covar(k, b),
                                f.params.covar.begin() + l.covar(k, b) + d * d);
        Vector mv{d, 0, mu.data()};
        Matrix cm{d, d, cov.data(), 0};
        const int m = e.gauss_n_missing()[b];
        if (m == 0) p *= std::exp(lgauss(e.value_vector(b), &mv, &cm));
        if (m > 0 && m < d) {
          p *= std::exp(lgauss_marginal(e.value_vector(b), &mv, &cm, e.gauss_observed(b).data()));
        }
      }
      z += p;
    }
    total += e.total * std::log(z);
  }
  return total;
}

TEST(EmSteps, LogLikelihoodIsTheMixtureDensity) {
  const Shape shape = data_shapes()[4];
  CaseData data(random_cases(shape), shape.n_attr(), shape.gauss(),
              [](Settings& s) { settings_for(s, true); });
  MlFit fit(data, 3);
  rng_seed(5);
  initialise_params(fit.ctx, fit.layout, fit.params);
  for (int t = 0; t < 3; ++t) {
    fit.evaluate();
    fit.update();
  }
  for (bool log_domain : {false, true}) {
    fit.work.log_domain = log_domain;
    const double got = check_loglike(compute_e_step(fit.ctx, fit.layout, fit.params, fit.work));
    const double expected = mixture_loglike(fit);
    EXPECT_NEAR(got, expected, 1e-12 * std::fabs(expected));
    for (int n = 0; n < data.cases.n_entries; ++n) {
      double sum = 0.0;
      for (int k = 0; k < 3; ++k) sum += fit.work.resp[static_cast<size_t>(n) * 3 + k];
      EXPECT_NEAR(sum, 1.0, 1e-12);
    }
    // A work that keeps no per-entry normalisers gives the same bits.
    MlWork lean = allocate_work(fit.layout, fit.views, false);
    lean.log_domain = log_domain;
    ASSERT_TRUE(lean.norm.empty());
    EXPECT_EQ(compute_e_step(fit.ctx, fit.layout, fit.params, lean), got);
    EXPECT_EQ(lean.resp, fit.work.resp);
  }
}

TEST(EmSteps, MissingBlockValuesAddTheirConditionalMoments) {
  // One class, a 2-D block: a complete case, a case missing its first
  // value, a case missing both.
  CaseData data("1.0,2.0\n?,3.0\n?,?\n0.5,0.25\n", 2, {"0,1"},
              [](Settings& s) { settings_for(s, false); });
  MlFit fit(data, 1);
  fit.params.pi = {1.0};
  fit.params.mean = {0.5, 1.5};
  fit.params.covar = {2.0, 0.6, 0.6, 1.0};
  recompute_precisions(fit.layout, fit.params);
  fit.evaluate();
  compute_responsibilities(fit.layout, fit.work);
  compute_expected_stats(fit.ctx, fit.layout, fit.params, fit.work);
  const double x0 = 0.5 + 0.6 / 1.0 * (3.0 - 1.5);  // mu_0 + S01 / S11 (x1 - mu1)
  const double q = 2.0 - 0.6 * 0.6 / 1.0;
  const std::vector<double> s1 = {1.0 + x0 + 0.5 + 0.5, 2.0 + 3.0 + 1.5 + 0.25};
  std::vector<double> raw1, raw2;  // the sums on the data's scale
  raw_block_sums(fit.layout, fit.work, raw1, raw2);
  EXPECT_NEAR(raw1[0], s1[0], 1e-14);
  EXPECT_NEAR(raw1[1], s1[1], 1e-14);
  EXPECT_NEAR(raw2[0], 1.0 + (x0 * x0 + q) + (0.25 + 2.0) + 0.25, 1e-13);
  EXPECT_NEAR(raw2[1], 2.0 + x0 * 3.0 + (0.75 + 0.6) + 0.125, 1e-13);
  EXPECT_NEAR(raw2[3], 4.0 + 9.0 + (2.25 + 1.0) + 0.0625, 1e-13);
  EXPECT_DOUBLE_EQ(fit.work.e_class[0], 4.0);

  // The ML M-step of complete data is the sample mean and the covariance
  // divided by N.
  CaseData full("1,2\n3,1\n0,0.5\n2,2\n", 2, {"0,1"}, [](Settings& s) { settings_for(s, false); });
  MlFit one(full, 1);
  one.params = fit.params;
  one.evaluate();
  one.update();
  EXPECT_DOUBLE_EQ(one.params.mean[0], 1.5);
  EXPECT_DOUBLE_EQ(one.params.mean[1], 1.375);
  EXPECT_NEAR(one.params.covar[0], (14.0 / 4) - 2.25, 1e-15);
  EXPECT_NEAR(one.params.covar[1], (2 + 3 + 0 + 4) / 4.0 - 1.5 * 1.375, 1e-15);
  EXPECT_EQ(one.params.covar[1], one.params.covar[2]);
}

// Q + LP: the expected complete-data log-likelihood from the statistics
// (the density module's sufficient-statistics form) plus the log-prior.
double map_objective(const MlFit& f, const MlParams& p) {
  const MlLayout& l = f.layout;
  std::vector<double> raw1, raw2;  // the sums on the data's scale
  raw_block_sums(l, f.work, raw1, raw2);
  double q = 0.0;
  for (int k = 0; k < l.K; ++k) {
    q += f.work.e_class[k] * std::log(p.pi[k]);
    for (int i = 0; i < l.n_discrete; ++i) {
      for (int v = 0; v < l.n_values[i]; ++v) {
        q += f.work.e_cat[l.cat(k, i, v)] * std::log(p.theta[l.cat(k, i, v)]);
      }
    }
    for (int b = 0; b < l.n_groups; ++b) {
      const int d = l.dims[b];
      std::vector<double> s1(raw1.begin() + l.mean(k, b), raw1.begin() + l.mean(k, b) + d);
      std::vector<double> s2(raw2.begin() + l.covar(k, b), raw2.begin() + l.covar(k, b) + d * d);
      std::vector<double> mu(p.mean.begin() + l.mean(k, b), p.mean.begin() + l.mean(k, b) + d);
      std::vector<double> prec(p.precision.begin() + l.covar(k, b),
                               p.precision.begin() + l.covar(k, b) + d * d);
      Vector sv{d, 0, s1.data()}, mv{d, 0, mu.data()};
      Matrix ssm{d, d, s2.data(), 0}, pm{d, d, prec.data(), 0};
      q += lgauss_stat(f.work.e_class[k], &sv, &ssm, &mv, &pm, p.det[l.block(k, b)]);
    }
  }
  return q + compute_log_prior(l, f.priors, p);
}

TEST(EmSteps, MapStepMaximisesExpectedLogLikelihoodPlusPrior) {
  const Shape shape{{3, 2}, {3, 1}, 150, 0.0, 0.0};
  CaseData data(random_cases(shape), shape.n_attr(), shape.gauss(),
              [](Settings& s) { settings_for(s, true); });
  for (SmoothConst& c : data.settings.smooth_a) c.value = 0.3;
  MlFit fit(data, 3);
  rng_seed(11);
  initialise_params(fit.ctx, fit.layout, fit.params);
  fit.evaluate();
  fit.update();  // statistics of the start, then the M-step from them
  const MlParams best = fit.params;
  const double top = map_objective(fit, best);
  const MlLayout& l = fit.layout;
  auto expect_lower = [&](const std::function<void(MlParams&, double)>& change, const char* what) {
    for (double eps : {1e-3, -1e-3}) {
      MlParams p = best;
      change(p, eps);
      recompute_precisions(l, p);
      EXPECT_LT(map_objective(fit, p), top) << what << " " << eps;
    }
  };
  expect_lower([](MlParams& p, double e) { p.pi[0] += e; p.pi[1] -= e; }, "pi");
  expect_lower([&](MlParams& p, double e) {
    p.theta[l.cat(1, 0, 0)] += e;
    p.theta[l.cat(1, 0, 2)] -= e;
  }, "theta");
  expect_lower([&](MlParams& p, double e) { p.mean[l.mean(2, 0) + 1] += e; }, "mean");
  expect_lower([&](MlParams& p, double e) { p.covar[l.covar(0, 0) + 4] += e; }, "variance");
  expect_lower([&](MlParams& p, double e) {
    p.covar[l.covar(1, 0) + 1] += e;
    p.covar[l.covar(1, 0) + 3] += e;
  }, "covariance");
  expect_lower([&](MlParams& p, double e) { p.covar[l.covar(0, 1)] += e; }, "1-D variance");
}

TEST(EmSteps, SingularCovarianceIsMeasuredInTheDataUnits) {
  // Centimetre-sized spreads measured in metres: tiny determinants, yet
  // not singular; a class flat along one direction is singular.
  CaseData data("0.0001,0.0002\n0.0003,0.0001\n0.0002,0.0005\n0.0004,0.0003\n", 2, {"0,1"},
              [](Settings& s) { settings_for(s, false); });
  MlFit fit(data, 2);
  const double v0 = (*data.stats.groups[0].sample_covar)[0][0];
  const double v1 = (*data.stats.groups[0].sample_covar)[1][1];
  fit.params.covar = {v0, 0.0, 0.0, v1, v0, std::sqrt(v0 * v1), std::sqrt(v0 * v1), v1 * (1 + 1e-13)};
  recompute_precisions(fit.layout, fit.params);
  ASSERT_LT(fit.params.det[0], 1e-15);  // the absolute test would call this singular
  SingularBlock s = find_singular_block(fit.layout, fit.scales, fit.params);
  EXPECT_TRUE(s.found);
  EXPECT_EQ(s.k, 1);
  EXPECT_EQ(s.b, 0);
  fit.params.covar[7] = v1 * 2;
  recompute_precisions(fit.layout, fit.params);
  EXPECT_FALSE(find_singular_block(fit.layout, fit.scales, fit.params).found);
  fit.params.covar[0] = -v0;  // a diagonal that is not positive
  recompute_precisions(fit.layout, fit.params);
  EXPECT_TRUE(find_singular_block(fit.layout, fit.scales, fit.params).found);
}

TEST(EmSteps, SingularTestHoldsInManyDimensions) {
  // A 12-D class a thousand times narrower than the sample in every
  // direction is no singular matrix (its determinant relative to the
  // sample's is 1e-36); one flat along a diagonal direction is.
  const testing::Shape shape{{}, {12}, 200};
  CaseData data(random_cases(shape), shape.n_attr(), shape.gauss(),
                [](Settings& s) { settings_for(s, false); });
  MlFit fit(data, 1);
  const Matrix& s = *data.stats.groups[0].sample_covar;
  for (int i = 0; i < 12; ++i) {
    for (int j = 0; j < 12; ++j) fit.params.covar[i * 12 + j] = i == j ? 1e-3 * s[i][i] : 0.0;
  }
  recompute_precisions(fit.layout, fit.params);
  EXPECT_FALSE(find_singular_block(fit.layout, fit.scales, fit.params).found);
  for (int i = 0; i < 12; ++i) {
    for (int j = 0; j < 12; ++j) {
      fit.params.covar[i * 12 + j] = std::sqrt(s[i][i] * s[j][j]) * (i == j ? 1 + 1e-13 : 1.0);
    }
  }
  recompute_precisions(fit.layout, fit.params);
  EXPECT_TRUE(find_singular_block(fit.layout, fit.scales, fit.params).found);
}

TEST(EmSteps, CollapsedVarianceIsFlooredInTheDataUnits) {
  // Class 1 owns the two identical cases 5.0: its variance is floored at
  // 1e-12 of the sample variance; a 1-D block is never singular.
  CaseData data("5.0\n5.0\n1.0\n2.0\n3.0\n", 1, {"0"}, [](Settings& s) { settings_for(s, false); });
  MlFit fit(data, 2);
  fit.work.resp.assign(fit.work.resp.size(), 0.0);
  for (int n = 0; n < data.cases.n_entries; ++n) {
    const bool five = data.cases.entries[n].values(0)[0] == 5.0;
    fit.work.resp[static_cast<size_t>(n) * 2 + (five ? 1 : 0)] = 1.0;
  }
  fit.params.covar = {1.0, 1.0};
  recompute_precisions(fit.layout, fit.params);
  compute_expected_stats(fit.ctx, fit.layout, fit.params, fit.work);
  m_step(fit.ctx, fit.layout, fit.priors, fit.scales, fit.work, fit.params);
  const double var = (*data.stats.groups[0].sample_covar)[0][0];
  EXPECT_DOUBLE_EQ(fit.params.covar[1], 1e-12 * var);
  EXPECT_FALSE(find_singular_block(fit.layout, fit.scales, fit.params).found);

  // A normaliser below 1e-60 gives no responsibility in the normal domain.
  fit.work.norm[0] = 1e-61;
  compute_responsibilities(fit.layout, fit.work);
  EXPECT_EQ(fit.work.resp[0], 0.0);
  EXPECT_EQ(fit.work.resp[1], 0.0);
}

// A block with a tiny spread around a large value (1000 + 1e-4 u): the ML
// covariance of one class keeps its digits, against a two-pass sum in long
// double over the same parsed values.
TEST(EmSteps, TinySpreadAroundALargeValueKeepsItsCovariance) {
  std::string csv;
  std::vector<std::array<double, 2>> x;
  for (int n = 0; n < 200; ++n) {
    const double u = std::sin(0.37 * n), v = std::cos(1.3 * n);
    char line[80];
    std::snprintf(line, sizeof line, "%.17g,%.17g\n", 1000.0 + 1e-4 * u, 1000.0 + 1e-4 * (u + 0.5 * v));
    csv += line;
    double a, b;
    std::sscanf(line, "%lf,%lf", &a, &b);
    x.push_back({a, b});
  }
  CaseData data(csv, 2, {"0,1"}, [](Settings& s) { settings_for(s, false); });
  MlFit fit(data, 1);
  fit.params.pi = {1.0};
  fit.params.mean = {1000.0, 1000.0};
  fit.params.covar = {1e-8, 0.0, 0.0, 1e-8};
  recompute_precisions(fit.layout, fit.params);
  fit.evaluate();
  fit.update();
  long double mean[2] = {0.0L, 0.0L};
  for (const auto& p : x) {
    mean[0] += p[0];
    mean[1] += p[1];
  }
  mean[0] /= x.size();
  mean[1] /= x.size();
  long double cov[4] = {};
  for (const auto& p : x) {
    for (int i = 0; i < 2; ++i) {
      for (int j = 0; j < 2; ++j) cov[i * 2 + j] += (p[i] - mean[i]) * (p[j] - mean[j]);
    }
  }
  for (int i = 0; i < 2; ++i) {
    EXPECT_NEAR(fit.params.mean[i], static_cast<double>(mean[i]), 1e-12);
  }
  for (int i = 0; i < 4; ++i) {
    const double want = static_cast<double>(cov[i] / x.size());
    EXPECT_NEAR(fit.params.covar[i], want, 1e-10 * std::fabs(want)) << i;
  }
}

}  // namespace
}  // namespace veska
