#include "vb/vb_state.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "common/matrix.h"
#include "common/random.h"
#include "vb/vb_init.h"
#include "vb/vb_test_data.h"

namespace veska {
namespace {

using testing::run_capturing;
using testing::VbData;

// Discrete attributes 0 (3 values) and 3 (2 values), a block (1, 2) and a
// block (4).
const char kCases[] =
    "a,1.0,2.0,x,5\n"
    "b,1.5,2.2,y,6\n"
    "c,0.5,1.1,x,4\n"
    "a,2.0,2.9,y,7\n"
    "b,1.1,1.4,x,5.5\n";

VbData mixed_data(const std::function<void(Settings&)>& tweak = {}) {
  return VbData(kCases, 5, {"1,2", "4"}, tweak);
}

TEST(VbStateAllocation, ShapesFollowTheModel) {
  VbData data(kCases, 5, {"1,2", "4"}, [](Settings& s) { s.daem = true; });
  VbState st = allocate_vb_state(*data.ctx, 3);
  EXPECT_EQ(st.n_entries, 5);
  EXPECT_EQ(st.n_values, (std::vector<int>{3, 2}));
  EXPECT_EQ(st.cat_offset, (std::vector<int>{0, 3}));
  EXPECT_EQ(st.cat_stride, 5);
  EXPECT_EQ(st.delta_cat.size(), 15u);
  EXPECT_EQ(st.dims, (std::vector<int>{2, 1}));
  EXPECT_EQ(st.alpha0, (std::vector<double>{2 + 1e-6, 1 + 1e-6}));
  EXPECT_EQ(st.log_rho.size(), 15u);
  ASSERT_EQ(st.blocks.size(), 6u);
  EXPECT_EQ(st.block(2, 0).sigma->rows, 2);
  EXPECT_EQ(st.moments_of(2, 1).s2->cols, 1);
  EXPECT_EQ(st.moments.size(), 6u);
  free_vb_state(st);
  EXPECT_TRUE(st.blocks.empty());
}

// A freed state's matrices go back to the store and serve the next K again.
TEST(VbStateAllocation, FreedStateIsRecycled) {
  VbData data = mixed_data();
  VbState a = allocate_vb_state(*data.ctx, 4);
  free_vb_state(a);
  const int64_t before = store_stats().system_allocations;
  VbState b = allocate_vb_state(*data.ctx, 4);
  EXPECT_EQ(store_stats().system_allocations, before);
  free_vb_state(b);
}

// ---- precisions ------------------------------------------------------------------

TEST(Precisions, InverseAndDeterminant) {
  VbData data = mixed_data();
  rng_seed(3);
  VbState st = allocate_vb_state(*data.ctx, 2);
  init_hparams_random(*data.ctx, st);
  const VbBlock& blk = st.block(1, 0);
  const Matrix& s = *blk.sigma;
  const Matrix& w = *blk.w;
  EXPECT_NEAR(blk.det_sigma, s[0][0] * s[1][1] - s[0][1] * s[1][0], 1e-15);
  for (int i = 0; i < 2; ++i) {
    for (int j = 0; j < 2; ++j) {
      EXPECT_NEAR(s[i][0] * w[0][j] + s[i][1] * w[1][j], i == j ? 1.0 : 0.0, 1e-12);
    }
  }
  EXPECT_NEAR(st.block(0, 1).det_sigma * (*st.block(0, 1).w)[0][0], 1.0, 1e-15);
  free_vb_state(st);
}

// Sigma that is not positive definite: by the closed form (2 x 2) and by the
// factorisation (4 x 4).
TEST(Precisions, FailureIsANumericalError) {
  const char* want =
      "Numerical error (compute_hparam_precisions): Failed to invert the hyperparameters for "
      "covariances\n";
  {
    VbData data = mixed_data();
    VbState st = allocate_vb_state(*data.ctx, 1);
    set_scaled_identity(st.block(0, 1).sigma, 1.0);
    Matrix& s = *st.block(0, 0).sigma;
    s[0][0] = s[1][1] = 1.0;
    s[0][1] = s[1][0] = 1.0;  // singular
    testing::FatalResult r = run_capturing([&] { compute_hparam_precisions(st); });
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.log, want);
    free_vb_state(st);
  }
  {
    VbData data("1,2,3,4\n2,3,1,4\n0,1,1,2\n3,1,2,2\n5,4,3,1\n", 4, {"0,1,2,3"});
    VbState st = allocate_vb_state(*data.ctx, 1);
    set_scaled_identity(st.block(0, 0).sigma, 1.0);
    (*st.block(0, 0).sigma)[3][3] = -2.0;  // negative pivot
    testing::FatalResult r = run_capturing([&] { compute_hparam_precisions(st); });
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.log, want);
    free_vb_state(st);
  }
}

// ---- saved copies ------------------------------------------------------------------

TEST(SavedState, ACopyOfTheRecordOwnsItsNumbersAndRestoresThemExactly) {
  VbData data = mixed_data([](Settings& s) { s.daem = true; });
  rng_seed(9);
  VbState st = allocate_vb_state(*data.ctx, 3);
  init_hparams_random(*data.ctx, st);
  st.n_k = {1.0, 2.0, 2.0};
  const VbHparams copy = st.hparams();
  const double mu0 = (*st.block(2, 0).mu0)[1], sigma = (*st.block(1, 0).sigma)[0][1];
  EXPECT_NE(copy.blocks[5].sigma->data, st.block(2, 1).sigma->data);

  init_hparams_random(*data.ctx, st);  // other draws overwrite everything
  st.n_k = {0.0, 0.0, 0.0};
  ASSERT_FALSE(st.hparams() == copy);
  EXPECT_EQ((*copy.blocks[4].mu0)[1], mu0);  // the copy did not move with the state
  restore_hparams(copy, st);
  EXPECT_TRUE(st.hparams() == copy);
  EXPECT_EQ((*st.block(1, 0).sigma)[0][1], sigma);
  // The restored views point into the state's own numbers.
  (*st.block(1, 0).sigma)[0][1] += 1.0;
  EXPECT_EQ((*copy.blocks[2].sigma)[0][1], sigma);
  EXPECT_FALSE(st.hparams() == copy);
}

TEST(SavedState, ACopyGoesOnlyIntoAStateOfItsShape) {
  VbData data = mixed_data();
  rng_seed(5);
  VbState st = allocate_vb_state(*data.ctx, 2);
  init_hparams_random(*data.ctx, st);
  const VbHparams copy = st.hparams();
  VbState fresh = allocate_vb_state(*data.ctx, 2);
  restore_hparams(copy, fresh);
  EXPECT_TRUE(fresh.hparams() == st.hparams());

  VbState other = allocate_vb_state(*data.ctx, 3);
  testing::FatalResult r = run_capturing([&] { restore_hparams(copy, other); });
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.log, "Internal error: saved hyperparameters do not fit\n");
}

}  // namespace
}  // namespace veska
