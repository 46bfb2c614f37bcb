#include "vb/vb_partition_start.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "common/random.h"
#include "vb/vb_test_data.h"

namespace veska {
namespace {

using testing::VbData;

// Discrete attributes 0 (a, b, c) and 1 (x, y), the block (2, 3): two
// clumps of the block, at (1, 2) and (4, 0).
const char kCases[] =
    "a,x,1.0,2.0\n"
    "b,x,4.1,0.2\n"
    "b,y,3.8,-0.1\n"
    "a,y,1.3,2.4\n"
    "c,x,4.4,0.3\n"
    "c,y,0.7,1.6\n";

void smoothed(Settings& s) {
  s.smooth_c = 1.5;
  s.smooth_a = {SmoothConst{0.5, kModeValue}, SmoothConst{2.0, kModeValue}};
}

// The posteriors after the first update are the priors plus the counts and
// moments of each group, computed here straight from the cases.
TEST(PartitionStart, FirstUpdateCountsEachGroup) {
  VbData data(kCases, 4, {"2,3"}, smoothed);
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
  VbData data(kCases, 4, {"2,3"});
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
