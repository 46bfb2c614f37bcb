#include "vb/vb_read_hparam.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "common/matrix.h"
#include "vb/vb_test_data.h"

namespace veska {
namespace {

using testing::run_capturing;
using testing::VbData;

// Discrete attribute 0 (values a, b) and the block (1, 2).
const char kCases[] =
    "a,1.0,2.0\n"
    "b,1.5,2.2\n"
    "a,0.5,?\n"
    "b,2.0,2.9\n";

// A stored model for those attributes with two classes.
StoredHparams stored_model() {
  StoredHparams h;
  h.K = 2;
  h.n_groups = 1;
  h.delta = {3, 2};
  h.delta_cat = {{1.5, 2.5, 0.5, 1}};
  h.tau = {3.5, 2.5};
  h.mean = {{1, 2}, {1.5, 2.5}};
  h.covar = {{2, 0.5, 0.5, 1}, {4, -1, -1, 3}};
  h.alpha = {4.5, 3.5};
  return h;
}

class StoredModel : public ::testing::Test {
 protected:
  std::string check(const StoredHparams& h) {
    auto res = run_capturing([&] { check_stored_model(data_.settings, data_.model, h); });
    return res.exited ? res.log : "";
  }
  VbData data_{kCases, 3, {"1,2"}};
};

TEST_F(StoredModel, PredictiveDistributionsNeedPositiveFiniteCounts) {
  EXPECT_EQ(check(stored_model()), "");
  StoredHparams h = stored_model();
  h.delta[1] = 0;
  EXPECT_EQ(check(h), "Class pseudo counts must be positive: 0.000000 (class=1)\n");
  h = stored_model();
  h.delta = {1e308, 1e308};
  EXPECT_EQ(check(h), "Class pseudo counts too large to be normalised\n");
  h = stored_model();
  h.delta_cat[0][2] = -1;  // class 1, value code 0: the reader accepts -1
  EXPECT_EQ(check(h), "Attribute pseudo counts must be positive: -1.000000 (class=1, attribute=0)\n");
  h = stored_model();
  h.delta_cat[0][0] = h.delta_cat[0][1] = 1.5e308;
  EXPECT_EQ(check(h), "Attribute pseudo counts too large to be normalised (class=0, attribute=0)\n");
}

TEST_F(StoredModel, CovariancesMustBePositiveDefinite) {
  // Negative definite with a positive determinant, indefinite, singular and
  // non-finite: the closed-form inverse of a 2 x 2 matrix tests none of them.
  const std::vector<std::vector<double>> bad = {
      {-1, 0, 0, -1}, {1, 2, 2, 1}, {1, 1, 1, 1}, {1e308, 0, 0, 1e308 * 10}};
  for (const std::vector<double>& covar : bad) {
    StoredHparams h = stored_model();
    h.covar[1] = covar;
    EXPECT_EQ(check(h), "Covariance hyperparameters not positive definite (class=1, Gauss ID=0)\n");
  }
}

TEST_F(StoredModel, LoadsIntoPriorAndPosteriorSlots) {
  const StoredHparams h = stored_model();
  VbState st = allocate_vb_state(*data_.ctx, h.K);
  load_stored_hparams(h, st);
  EXPECT_EQ(st.delta0, h.delta);
  EXPECT_EQ(st.delta, h.delta);
  EXPECT_EQ(st.delta0_cat[st.cat_index(1, 0, 0)], 0.5);
  EXPECT_EQ(st.delta_cat[st.cat_index(0, 0, 1)], 2.5);
  for (int k = 0; k < h.K; ++k) {
    const VbBlock& blk = st.block(k, 0);
    const std::vector<double>& s = h.covar[h.block_index(k, 0)];
    EXPECT_EQ((*blk.mu0)[1], h.mean[h.block_index(k, 0)][1]);
    EXPECT_EQ((*blk.mu)[0], h.mean[h.block_index(k, 0)][0]);
    EXPECT_EQ((*blk.sigma0)[0][1], s[1]);
    EXPECT_EQ((*blk.sigma)[1][0], s[2]);
    EXPECT_DOUBLE_EQ(blk.det_sigma0, s[0] * s[3] - s[1] * s[2]);
    EXPECT_EQ(blk.det_sigma, blk.det_sigma0);
    // W0 inverts Sigma0.
    for (int r = 0; r < 2; ++r) {
      for (int c = 0; c < 2; ++c) {
        double sum = (*blk.sigma0)[r][0] * (*blk.w0)[0][c] + (*blk.sigma0)[r][1] * (*blk.w0)[1][c];
        EXPECT_NEAR(sum, r == c ? 1.0 : 0.0, 1e-14);
      }
    }
    EXPECT_EQ((*blk.w)[0][1], (*blk.w0)[0][1]);
  }
  const VbPredictiveScalars scalars = stored_scalars(h);
  EXPECT_EQ(scalars.tau, h.tau);
  EXPECT_EQ(scalars.alpha, h.alpha);
  free_vb_state(st);
}

TEST(StoredScalars, WithoutBlocksEveryClassStillHasATauSlot) {
  StoredHparams h;
  h.K = 3;
  EXPECT_EQ(stored_scalars(h).tau, (std::vector<double>(3, 0.0)));
  EXPECT_TRUE(stored_scalars(h).alpha.empty());
}

}  // namespace
}  // namespace veska
