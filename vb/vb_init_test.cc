#include "vb/vb_init.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "common/init.h"
#include "common/random.h"
#include "vb/vb_test_data.h"

namespace veska {
namespace {

using testing::run_capturing;
using testing::VbData;

// Discrete attributes 0 (values a, b, c) and 1 (x, y), the block (2, 3).
const char kCases[] =
    "a,x,1.0,2.0\n"
    "b,y,1.5,2.6\n"
    "c,x,0.5,1.1\n"
    "a,y,2.0,2.9\n"
    "b,x,1.1,1.3\n"
    "c,y,2.4,3.3\n";

void noisy(Settings& s) {
  s.noise = 0.4;
  s.noise_gauss = 0.7;
  s.smooth_c = 1.5;
  s.smooth_a = {SmoothConst{0.5, kModeValue}, SmoothConst{2.0, kModeValue}};
}

// The draws, replayed in their documented order: class pseudo counts; per
// class, attribute and value from the last one down; per class, block and
// component of the mean.
TEST(InitRandom, DrawOrderFixesTheState) {
  VbData data(kCases, 4, {"2,3"}, noisy);
  const Settings& s = data.settings;
  const int K = 3;
  rng_seed(42);
  VbState st = allocate_vb_state(*data.ctx, K);
  init_hparams_random(*data.ctx, st);
  const double after_init = rng_real();

  rng_seed(42);
  for (int k = 0; k < K; ++k) EXPECT_EQ(st.delta0[k], rng_real() * s.noise / K + s.smooth_c);
  for (int k = 0; k < K; ++k) {
    for (int j = 0; j < 2; ++j) {
      const int nv = st.n_values[j];
      for (int v = nv - 1; v >= 0; --v) {
        EXPECT_EQ(st.delta0_cat[st.cat_index(k, j, v)], rng_real() * s.noise / nv + s.smooth_a[j].value);
      }
    }
  }
  const GroupStats& g = data.stats.groups[0];
  for (int k = 0; k < K; ++k) {
    for (int d = 0; d < 2; ++d) {
      const double want =
          (*g.sample_mean)[d] + (rng_real() - 0.5) * std::sqrt((*g.sample_covar)[d][d]) * s.noise_gauss;
      EXPECT_EQ((*st.block(k, 0).mu0)[d], want);
    }
  }
  EXPECT_EQ(rng_real(), after_init);

  // The posteriors start at the priors, with N / K cases per class.
  EXPECT_EQ(st.delta, st.delta0);
  EXPECT_EQ(st.delta_cat, st.delta0_cat);
  for (int k = 0; k < K; ++k) {
    const VbBlock& blk = st.block(k, 0);
    EXPECT_EQ(st.n_k[k], 6.0 / K);
    EXPECT_EQ((*blk.mu)[1], (*blk.mu0)[1]);
    EXPECT_EQ((*blk.sigma)[0][1], (*blk.sigma0)[0][1]);
    EXPECT_GT(blk.det_sigma, 0.0);
    EXPECT_NEAR((*blk.w)[0][0] * blk.det_sigma, (*blk.sigma)[1][1], 1e-12);
  }
  free_vb_state(st);
}

// Without noise every class starts alike, and the generator still moves by
// the same number of draws.
TEST(InitRandom, ZeroNoiseKeepsTheStream) {
  double next[2];
  for (int quiet = 0; quiet < 2; ++quiet) {
    VbData data(kCases, 4, {"2,3"}, [quiet](Settings& s) {
      noisy(s);
      if (quiet) s.noise = s.noise_gauss = 0.0;
    });
    rng_seed(7);
    VbState st = allocate_vb_state(*data.ctx, 4);
    init_hparams_random(*data.ctx, st);
    next[quiet] = rng_real();
    if (quiet) {
      for (int k = 1; k < 4; ++k) {
        EXPECT_EQ(st.delta0[k], st.delta0[0]);
        EXPECT_EQ(st.delta0_cat[st.cat_index(k, 1, 1)], st.delta0_cat[st.cat_index(0, 1, 1)]);
        EXPECT_EQ((*st.block(k, 0).mu0)[1], (*st.block(0, 0).mu0)[1]);
      }
      EXPECT_EQ(st.delta0[0], 1.5);
    }
    free_vb_state(st);
  }
  EXPECT_EQ(next[0], next[1]);
}

// An "auto" class constant is 1/K for each K of a range.
TEST(InitRandom, AutoClassConstantFollowsK) {
  VbData data(kCases, 4, {"2,3"}, [](Settings& s) {
    s.smooth_c_mode = kModeAuto;
    s.smooth_c = kAutoValue;
    s.auto_used = true;
  });
  for (int K : {2, 5}) {
    resolve_auto_smoothing(data.settings, data.model, K);
    rng_seed(1);
    VbState st = allocate_vb_state(*data.ctx, K);
    init_hparams_random(*data.ctx, st);
    for (double d : st.delta0) {
      EXPECT_GE(d, 1.0 / K);
      EXPECT_LT(d, 1.0 / K + 0.1 / K);
    }
    free_vb_state(st);
  }
}

// A negative noise that drives a pseudo count to zero or below is refused.
TEST(InitRandom, NoiseThatLeavesNoProperPriorIsRefused) {
  VbData data(kCases, 4, {"2,3"}, [](Settings& s) { s.noise = -30.0; });
  rng_seed(2);
  VbState st = allocate_vb_state(*data.ctx, 2);
  testing::FatalResult r = run_capturing([&] { init_hparams_random(*data.ctx, st); });
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.log, "Illegal value for --noise option\n");
  free_vb_state(st);
}

// ---- Gaussian priors -----------------------------------------------------------

TEST(GaussPriors, SampleModeScalesTheSampleCovariance) {
  VbData data(kCases, 4, {"2,3"}, [](Settings& s) { s.smooth_var = 2.5; });
  VbState st = allocate_vb_state(*data.ctx, 2);
  set_gauss_priors(*data.ctx, st);
  const Matrix& s = *data.stats.groups[0].sample_covar;
  const double det_s = s[0][0] * s[1][1] - s[0][1] * s[1][0];
  for (int k = 0; k < 2; ++k) {
    const VbBlock& blk = st.block(k, 0);
    EXPECT_EQ((*blk.mu0)[0], (*data.stats.groups[0].sample_mean)[0]);
    EXPECT_DOUBLE_EQ((*blk.sigma0)[0][1], 2.5 * s[0][1]);
    EXPECT_NEAR((*blk.w0)[0][0], s[1][1] / det_s / 2.5, 1e-12);
    EXPECT_NEAR((*blk.w0)[0][1], -s[0][1] / det_s / 2.5, 1e-12);
    EXPECT_NEAR(blk.det_sigma0, det_s * 2.5 * 2.5, 1e-12);
  }
  free_vb_state(st);
}

TEST(GaussPriors, OneDimensionalSampleMode) {
  VbData data(kCases, 4, {"2", "3"}, [](Settings& s) { s.smooth_var = 3.0; });
  VbState st = allocate_vb_state(*data.ctx, 1);
  set_gauss_priors(*data.ctx, st);
  const double var = (*data.stats.groups[1].sample_covar)[0][0];
  const VbBlock& blk = st.block(0, 1);
  EXPECT_EQ((*blk.sigma0)[0][0], 3.0 * var);
  EXPECT_EQ((*blk.w0)[0][0], 1.0 / (3.0 * var));
  EXPECT_EQ(blk.det_sigma0, 3.0 * var);
  free_vb_state(st);
}

TEST(GaussPriors, ConstantModeAndConstantMean) {
  VbData data(kCases, 4, {"2,3"}, [](Settings& s) {
    s.smooth_var_mode = kSmoothVarConst;
    s.smooth_var = 0.5;
    s.smooth_mean = -1.25;
    s.smooth_mean_given = true;
  });
  VbState st = allocate_vb_state(*data.ctx, 2);
  set_gauss_priors(*data.ctx, st);
  const VbBlock& blk = st.block(1, 0);
  EXPECT_EQ((*blk.mu0)[0], -1.25);
  EXPECT_EQ((*blk.mu0)[1], -1.25);
  EXPECT_EQ((*blk.sigma0)[0][0], 0.5);
  EXPECT_EQ((*blk.sigma0)[0][1], 0.0);
  EXPECT_EQ((*blk.w0)[1][1], 2.0);
  EXPECT_EQ(blk.det_sigma0, 0.25);
  free_vb_state(st);
}

// With --regular-stat the sample pair is the one without extreme values.
TEST(GaussPriors, RegularStatisticsServeAsTheSample) {
  testing::Shape shape;
  shape.blocks = {2};
  shape.lines = 60;
  VbData data(testing::random_cases(shape), 2, {"0,1"}, [](Settings& s) { s.regular_stat = true; });
  const GroupStats& g = data.stats.groups[0];
  ASSERT_NE((*g.reg_covar)[0][0], (*g.covar)[0][0]);
  VbState st = allocate_vb_state(*data.ctx, 1);
  set_gauss_priors(*data.ctx, st);
  EXPECT_EQ((*st.block(0, 0).sigma0)[0][0], (*g.reg_covar)[0][0]);
  EXPECT_EQ((*st.block(0, 0).mu0)[1], (*g.reg_mean)[1]);
  free_vb_state(st);
}

TEST(GaussPriors, IllegalModeIsAnInternalError) {
  VbData data(kCases, 4, {"2,3"}, [](Settings& s) { s.smooth_var_mode = 7; });
  VbState st = allocate_vb_state(*data.ctx, 1);
  testing::FatalResult r = run_capturing([&] { set_gauss_priors(*data.ctx, st); });
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.log, "Internal error: Illegal mode_smooth_s\n");
  free_vb_state(st);
}

// ---- the start from a partition ----------------------------------------

// Discrete attributes 0 (a, b, c) and 1 (x, y), the block (2, 3): two
// clumps of the block, at (1, 2) and (4, 0).
const char kClumps[] =
    "a,x,1.0,2.0\n"
    "b,x,4.1,0.2\n"
    "b,y,3.8,-0.1\n"
    "a,y,1.3,2.4\n"
    "c,x,4.4,0.3\n"
    "c,y,0.7,1.6\n";

// The posteriors after the first update are the priors plus the counts and
// moments of each group, computed here straight from the cases.
TEST(PartitionStart, FirstUpdateCountsEachGroup) {
  VbData data(kClumps, 4, {"2,3"}, noisy);  // the noise must not matter
  const Settings& s = data.settings;
  const std::vector<int> groups = {0, 1, 1, 0, 2, 0};
  VbState st = allocate_vb_state(*data.ctx, 3);
  rng_seed(8);
  init_hparams_from_partition(*data.ctx, st, groups);
  const double next = rng_real();
  rng_seed(8);
  EXPECT_EQ(next, rng_real());  // nothing drawn

  const double tol = 1e-12;
  for (int k = 0; k < 3; ++k) {
    double n = 0, sum[2] = {0, 0};
    std::vector<double> count(5, 0.0);  // a, b, c, then x, y
    for (size_t e = 0; e < groups.size(); ++e) {
      if (groups[e] != k) continue;
      const CaseEntry& entry = data.cases.entries[e];
      n += entry.total;
      count[static_cast<size_t>(entry.codes()[0])] += 1;
      count[static_cast<size_t>(3 + entry.codes()[1])] += 1;
      for (int d = 0; d < 2; ++d) sum[d] += entry.values(0)[d];
    }
    EXPECT_EQ(st.delta0[k], s.smooth_c);
    EXPECT_NEAR(st.delta[k], n + s.smooth_c, tol);
    for (int v = 0; v < 3; ++v) EXPECT_NEAR(st.delta_cat[st.cat_index(k, 0, v)], count[v] + 0.5, tol);
    for (int v = 0; v < 2; ++v) EXPECT_NEAR(st.delta_cat[st.cat_index(k, 1, v)], count[3 + v] + 2.0, tol);
    const VbBlock& blk = st.block(k, 0);
    for (int d = 0; d < 2; ++d) {
      const double mu0 = (*data.stats.groups[0].sample_mean)[d];
      EXPECT_EQ((*blk.mu0)[d], mu0);  // no noise on the priors
      EXPECT_NEAR((*blk.mu)[d], (sum[d] + st.tau0 * mu0) / (n + st.tau0), 1e-9);
    }
  }
  free_vb_state(st);
}

TEST(PartitionStart, EmptyGroupStaysAtItsPriorsAndFinite) {
  VbData data(kClumps, 4, {"2,3"});
  VbState st = allocate_vb_state(*data.ctx, 3);
  init_hparams_from_partition(*data.ctx, st, std::vector<int>{0, 1, 0, 1, 0, 1});
  EXPECT_NEAR(st.delta[2], st.delta0[2], 1e-12);
  for (double d : st.delta_cat) EXPECT_TRUE(std::isfinite(d));
  for (const VbBlock& blk : st.blocks) {
    for (int d = 0; d < 2; ++d) EXPECT_TRUE(std::isfinite((*blk.mu)[d]));
    EXPECT_TRUE(std::isfinite(blk.det_sigma) && blk.det_sigma > 0.0);
  }
  free_vb_state(st);
}

}  // namespace
}  // namespace veska
