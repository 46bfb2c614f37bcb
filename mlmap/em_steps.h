// The steps of one EM iteration on the ML/MAP mixture: the joint weights of
// every entry and class (normal or log domain, annealed below inverse
// temperature 1), their normalisers, the log-likelihood, the
// responsibilities, the expected statistics with missing values filled in
// by their conditional expectations, and the ML or MAP M-step with its
// covariance floor; then the singular-covariance check.
//
// All sums are weighted by the entries' occurrence counts. Nothing here
// takes memory from the system: the work arrays are sized per class count.
#pragma once

#include "mlmap/ml_params.h"

namespace veska {

// w_kn = pi_k prod theta_kiv prod g_kbn (each factor to the power beta), or
// its logarithm in the log domain (work.log_domain) times beta. A block
// with every value missing is a factor 1, one partly missing the density of
// its observed part.
void compute_joint(const MlContext& ctx, const MlLayout& layout, const MlParams& params,
                   MlWork& work);
// Z_n = sum_k w_kn, or ln Z_n = m + ln sum_k exp(ln w_kn - m).
void compute_normalisers(const MlLayout& layout, MlWork& work);
// sum_n c_n ln Z_n at the work's temperature (not divided by beta). A result
// that is not finite writes the model dump and ends the run.
double compute_loglike(const MlWork& work);
// r_kn = w_kn / Z_n (0 when Z_n <= 1e-60), or exp(ln w_kn - ln Z_n).
void compute_responsibilities(const MlLayout& layout, MlWork& work);
// E_c, E_w, S1 and S2 (upper triangle) from the responsibilities.
void compute_expected_stats(const MlContext& ctx, const MlLayout& layout, const MlParams& params,
                            MlWork& work);
// New parameters from the expected statistics; covariance entries whose
// size is at most 1e-12 sqrt(S_ll S_mm) are floored there; the precisions
// are recomputed.
void m_step(const MlContext& ctx, const MlLayout& layout, const MlPriors& priors,
            const BlockScales& scales, const MlWork& work, MlParams& params);

// The first class and block (of dimension above 1) whose covariance is
// singular relative to the data's spread: some attribute's variance given
// the block's other attributes, 1 / (Sigma^-1)_ll, below 1e-12 S_ll (S the
// sample covariance), or a determinant or diagonal entry that is not
// positive.
struct SingularBlock {
  bool found = false;
  int k = -1;
  int b = -1;
  double det = 0.0;
};
SingularBlock find_singular_block(const MlLayout& layout, const BlockScales& scales,
                                  const MlParams& params);

// ln g_kbn of one entry: the whole block, its observed part, or 0 when the
// whole block is missing. Shared with the membership quantities.
double block_log_density(const MlLayout& layout, const MlParams& params, MlWork& work,
                         const CaseEntry& entry, int k, int b);

}  // namespace veska
