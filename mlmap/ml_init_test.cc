// The starting parameters and the priors: the draw order for a seed, the
// exact uniform start without noise, the value-frequency start, the prior
// scale of the sample mode, and the checks of a hyperparameter file.
#include "mlmap/ml_init.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "common/random.h"
#include "mlmap/ml_test_fit.h"

namespace veska {
namespace {

using testing::MlFit;
using testing::CaseData;

const char kCases[] = "a,x,1.0,2.0\nb,y,2.0,1.5\na,y,0.5,0.7\nc,x,3.0,2.2\na,x,1.7,1.1\n";

TEST(MlInit, DrawsClassesThenValuesThenMeansInOrder) {
  CaseData data(kCases, 4, {"2,3"}, [](Settings& s) { testing::ml_settings(s); });
  MlFit fit(data, 2);
  rng_seed(42);
  initialise_params(fit.ctx, fit.layout, fit.params);

  rng_seed(42);
  const double noise = 0.1;
  double pi[2];
  for (double& p : pi) p = 0.5 * (1 + noise * rng_real());
  EXPECT_DOUBLE_EQ(fit.params.pi[0], pi[0] / (pi[0] + pi[1]));
  // attribute-major, then class, then value
  for (int i = 0; i < 2; ++i) {
    const int nv = fit.layout.n_values[i];
    for (int k = 0; k < 2; ++k) {
      std::vector<double> w(nv);
      double sum = 0;
      for (double& x : w) sum += (x = (1.0 / nv) * (1 + noise * rng_real()));
      for (int v = 0; v < nv; ++v) {
        EXPECT_DOUBLE_EQ(fit.params.theta[fit.layout.cat(k, i, v)], w[v] / sum);
      }
    }
  }
  const Matrix& s = *data.stats.groups[0].sample_covar;
  for (int k = 0; k < 2; ++k) {
    for (int d = 0; d < 2; ++d) {
      const double shift = std::sqrt(s[d][d]) * 0.1 * (rng_real() - 0.5);
      EXPECT_DOUBLE_EQ(fit.params.mean[fit.layout.mean(k, 0) + d],
                       (*data.stats.groups[0].sample_mean)[d] + shift);
    }
  }
  EXPECT_EQ(fit.params.covar[1], s[0][1]);
  EXPECT_NEAR(fit.params.det[0], s[0][0] * s[1][1] - s[0][1] * s[0][1], 1e-15);

  // Without noise the start is exactly uniform.
  data.settings.noise = 0.0;
  initialise_params(fit.ctx, fit.layout, fit.params);
  EXPECT_EQ(fit.params.pi[1], 0.5);
  EXPECT_EQ(fit.params.theta[fit.layout.cat(1, 0, 2)], 1.0 / 3);

  // Value frequency: the rarest value starts most probable.
  data.settings.init_a = kInitValueFrequency;
  initialise_params(fit.ctx, fit.layout, fit.params);
  const DiscreteValues& v0 = data.model.values[0];
  int rare = 0, common = 0;
  for (int v = 0; v < v0.n_values; ++v) {
    if (v0.freq[v] < v0.freq[rare]) rare = v;
    if (v0.freq[v] > v0.freq[common]) common = v;
  }
  EXPECT_GT(fit.params.theta[fit.layout.cat(0, 0, rare)],
            fit.params.theta[fit.layout.cat(0, 0, common)]);

  // Random: 31-bit draws plus 32767.
  data.settings.init_c = kInitRandom;
  rng_seed(3);
  initialise_params(fit.ctx, fit.layout, fit.params);
  rng_seed(3);
  const double w0 = rng_u31() + 32767.0, w1 = rng_u31() + 32767.0;
  EXPECT_DOUBLE_EQ(fit.params.pi[0], w0 / (w0 + w1));
}

// The start from a partition (ML for the classes and blocks, the attribute
// smoothing in force): every class takes its group's share, smoothed value
// frequencies, mean and covariance (divisor: the group's count), computed
// here straight from the cases; nothing is drawn. A group
// too small for a covariance takes the sample covariance.
TEST(MlInit, PartitionStartTakesEachGroupsStatistics) {
  const char cases[] =
      "a,x,1.0,2.0\nb,y,2.0,1.5\na,y,0.5,0.7\na,x,1.6,1.1\n"
      "c,x,7.0,5.2\nc,y,6.1,4.4\nb,x,8.3,5.0\nc,x,6.8,6.1\n"
      "a,y,3.0,9.0\nb,y,3.5,9.5\n";
  CaseData data(cases, 4, {"2,3"}, [](Settings& s) { testing::ml_settings(s); });
  MlFit fit(data, 3);
  const std::vector<int> groups = {0, 0, 0, 0, 1, 1, 1, 1, 2, 2};
  rng_seed(6);
  initialise_params_from_partition(fit.ctx, fit.layout, fit.priors, fit.scales, groups, fit.work,
                                   fit.params);
  const double next = rng_real();
  rng_seed(6);
  EXPECT_EQ(next, rng_real());

  const MlLayout& l = fit.layout;
  for (int k = 0; k < 2; ++k) {
    std::vector<const CaseEntry*> members;
    for (size_t n = 0; n < groups.size(); ++n) {
      if (groups[n] == k) members.push_back(&data.cases.entries[n]);
    }
    const double nk = static_cast<double>(members.size());
    EXPECT_NEAR(fit.params.pi[k], nk / 10.0, 1e-12);
    for (int v = 0; v < l.n_values[0]; ++v) {
      double c = 0;
      for (const CaseEntry* e : members) c += e->codes()[0] == v ? 1 : 0;
      const double a = fit.priors.smooth_a[0];  // the smoothing in force
      EXPECT_NEAR(fit.params.theta[l.cat(k, 0, v)], (c + a) / (nk + l.n_values[0] * a), 1e-12);
    }
    double mean[2] = {0, 0};
    for (const CaseEntry* e : members) {
      for (int d = 0; d < 2; ++d) mean[d] += e->values(0)[d] / nk;
    }
    for (int i = 0; i < 2; ++i) {
      EXPECT_NEAR(fit.params.mean[l.mean(k, 0) + i], mean[i], 1e-12);
      for (int j = 0; j < 2; ++j) {
        double c = 0;
        for (const CaseEntry* e : members) c += (e->values(0)[i] - mean[i]) * (e->values(0)[j] - mean[j]) / nk;
        EXPECT_NEAR(fit.params.covar[l.covar(k, 0) + i * 2 + j], c, 1e-12);
      }
    }
  }
  // Two cases in two dimensions: no covariance of their own.
  const Matrix& sample = *data.stats.groups[0].sample_covar;
  for (int i = 0; i < 2; ++i) {
    for (int j = 0; j < 2; ++j) EXPECT_EQ(fit.params.covar[l.covar(2, 0) + i * 2 + j], sample[i][j]);
  }

  // One dimension: a group of equal values has no variance of its own.
  CaseData flat("a,1.0\nb,1.0\na,2.0\nb,4.0\nb,3.5\n", 2, {"1"}, [](Settings& s) { testing::ml_settings(s); });
  MlFit f(flat, 2);
  initialise_params_from_partition(f.ctx, f.layout, f.priors, f.scales, std::vector<int>{0, 0, 1, 1, 1},
                                   f.work, f.params);
  EXPECT_EQ(f.params.covar[f.layout.covar(0, 0)], (*flat.stats.groups[0].sample_covar)[0][0]);
  EXPECT_NEAR(f.params.covar[f.layout.covar(1, 0)], (4.0 + 16.0 + 12.25) / 3 - std::pow(9.5 / 3, 2), 1e-12);
}

TEST(MlPriors, SampleScaleAndDefaults) {
  CaseData data(kCases, 4, {"2,3"}, [](Settings& s) {
    testing::map_settings(s);
    s.smooth_var = 2.0;
  });
  data.settings.smooth_a[0].value = 0.2;
  MlFit fit(data, 3);
  const MlPriors& p = fit.priors;
  EXPECT_EQ(p.delta[2], 1.5);
  EXPECT_EQ(p.delta_cat[fit.layout.cat(1, 0, 1)], 1.2);
  EXPECT_EQ(p.alpha[fit.layout.block(2, 0)], 2 + 1e-6);
  const Matrix& s = *data.stats.groups[0].sample_covar;
  const double* b0 = p.b0.data() + fit.layout.covar(1, 0);
  const double* inv = p.b0_inverse.data() + fit.layout.covar(1, 0);
  EXPECT_EQ(b0[1], 2.0 * s[0][1]);
  for (int i = 0; i < 2; ++i) {
    for (int j = 0; j < 2; ++j) {
      EXPECT_NEAR(b0[i * 2] * inv[j] + b0[i * 2 + 1] * inv[2 + j], i == j ? 1.0 : 0.0, 1e-12);
    }
  }
  EXPECT_NEAR(p.b0_det[0], 4.0 * (s[0][0] * s[1][1] - s[0][1] * s[0][1]), 1e-13);
  EXPECT_EQ(p.m0[fit.layout.mean(2, 0) + 1], (*data.stats.groups[0].sample_mean)[1]);
}

TEST(MlPriors, HyperparameterFileChecks) {
  CaseData data(kCases, 4, {"2,3"}, [](Settings& s) { testing::map_settings(s); });
  data.settings.files.hparam = "h.csv";
  const MlLayout l = make_layout(data.model, 2);
  StoredHparams f;
  f.K = 2;
  f.n_groups = 1;
  f.delta = {1.5, 2.0};
  for (int i = 0; i < 2; ++i) f.delta_cat.push_back(std::vector<double>(2 * l.n_values[i], 1.3));
  f.tau = {0.5, 0.5};
  f.mean = {{0, 0}, {1, 1}};
  f.covar = {{1, 0, 0, 1}, {2, 0.5, 0.5, 1}};
  f.alpha = {3, 1.5};
  auto res = veska::testing::run_capturing([&] {
    MlPriors p = apply_hparams(data.settings, data.model, l, f);
    EXPECT_TRUE(p.gauss_prior);
    EXPECT_DOUBLE_EQ(p.b0_det[1], 1.75);
  });
  EXPECT_FALSE(res.exited);
  EXPECT_TRUE(data.settings.all_smoothing);

  f.delta[1] = 1.0;
  res = veska::testing::run_capturing([&] { apply_hparams(data.settings, data.model, l, f); });
  EXPECT_TRUE(res.exited);
  EXPECT_EQ(res.log, "Pseudo counts read from h.csv should be all positive\n");
  f.tau[1] = 0.0;
  res = veska::testing::run_capturing([&] { apply_hparams(data.settings, data.model, l, f); });
  EXPECT_EQ(res.log, "Illegal tau (0.000000,class=1) read from h.csv\n");
}

}  // namespace
}  // namespace veska
