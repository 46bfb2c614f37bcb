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

// One E-step: ln w_kn = ln pi_k + sum ln theta_kiv + sum ln g_kbn (each
// term times beta when annealed; a block with every value missing adds 0,
// one partly missing the log density of its observed part) in both
// domains; Z_n = sum_k w_kn, or ln Z_n = m + ln sum_k exp(ln w_kn - m); the
// responsibilities r_kn = w_kn / Z_n (0 when Z_n <= 1e-60), or
// exp(ln w_kn - m) / sum; all per chunk of entries in one go. Returns
// sum_n c_n ln Z_n at the work's temperature (not divided by beta), which
// check_loglike then checks.
double compute_e_step(const MlContext& ctx, const MlLayout& layout, const MlParams& params,
                      MlWork& work);
// The log-likelihood sum itself; one that is not finite writes the model
// dump and ends the run.
double check_loglike(double sum);
// The responsibilities again from the weights and normalisers in place.
void compute_responsibilities(const MlLayout& layout, MlWork& work);
// The responsibilities of every class for an update: those the last E-step
// left, unless it was a partial run's (or there was none).
void responsibilities_for_update(const MlLayout& layout, MlWork& work);
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

// ln g_kbn of entry n: the whole block, its observed part, or 0 when the
// whole block is missing. Shared with the membership quantities.
double block_log_density(const MlLayout& layout, const MlParams& params, MlWork& work, int n,
                         int k, int b);

// The candidate's three classes `triple` of a split-and-merge partial run;
// the weights of the other classes stay as the last full E-step left them.
// Keeps per entry the weights of the classes outside the triple (work.outside).
void keep_outside_weights(const MlLayout& layout, MlWork& work, const int* triple);
// The E-step of the three classes only (inverse temperature 1), their
// normalisers from the kept outside weights and their new ones; returns the
// log-likelihood sum as compute_e_step does.
double compute_e_step_part(const MlContext& ctx, const MlLayout& layout, const MlParams& params,
                           MlWork& work, const int* triple);
void compute_expected_stats_part(const MlContext& ctx, const MlLayout& layout,
                                 const MlParams& params, MlWork& work, const int* triple);
// The three classes' parameters: class probabilities rescaled to sum to s3,
// value probabilities without the missing-value term, the Gaussian update of
// the full M-step (with the same priors).
void m_step_part(const MlLayout& layout, const MlPriors& priors, const BlockScales& scales,
                 const MlWork& work, MlParams& params, const int* triple, double s3);
SingularBlock find_singular_block_part(const MlLayout& layout, const BlockScales& scales,
                                       const MlParams& params, const int* triple);

}  // namespace veska
