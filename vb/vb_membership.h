// Membership and predictive distributions of the retained variational model.
//
// Cases are described by the posterior predictive distribution of the
// mixture rather than by the variational responsibilities: the class and
// value probabilities are the normalised pseudo counts, and each Gaussian
// block contributes a multivariate Student-t density. The results fill the
// Memberships record that clustering, ranking and evaluation read.
#pragma once

#include <cstdio>
#include <vector>

#include "analysis/memberships.h"
#include "common/matrix_store.h"
#include "common/students_t.h"
#include "vb/vb_state.h"

namespace veska {

// tau_k and alpha_kb (index k * n_groups + b) of the model: the values the
// hyperparameter file records as "Tau" and "Alpha".
struct VbPredictiveScalars {
  std::vector<double> tau;
  std::vector<double> alpha;
};

// N_k + tau0 and N_k + alpha0(D_b) from the state's N_k. Taken when the
// hyperparameter file is written, before anything recomputes N_k, so that
// the predictive distributions are those of the model in that file.
VbPredictiveScalars retained_scalars(const VbState& state);

// Per class and block (index k * n_groups + b) the Student-t predictive
// density: location mu_kb, scale S = Sigma_kb (tau + 1) / (tau f) and
// degrees of freedom f = alpha + 1 - D. Locations and scales are copies
// from the store, returned by free_predictive.
struct VbPredictive {
  int n_groups = 0;
  std::vector<Vector*> location;
  std::vector<Matrix*> scale;
  std::vector<double> dof;
  // The same densities prepared for the complete entries: one inverse per
  // class and block, not one per entry.
  std::vector<PreparedStudentsT> prepared;
};
void free_predictive(VbPredictive& pred);

// P(k) and P(v|k) into mem, the Student-t parameters into pred. A tau or a
// degree of freedom that is not positive is a numerical error. With
// --verbose writes PARAM-CLASS and PARAM-CAT%d to the log.
void compute_predictive(const VbContext& ctx, const VbState& state,
                        const VbPredictiveScalars& scalars, VbPredictive& pred, Memberships& mem);

// ln of the predictive density of block b of the entry in class k: all of
// the block observed, the marginal of the observed part, or 0 (a factor of
// 1) when the whole block is missing.
double student_t_log_density_block(const VbPredictive& pred, int k, int b,
                                   const CaseEntry& entry);

// Per entry: P(x|k), P(k|x) and P(x). Missing discrete values are skipped.
// With --verbose writes MEMBER-CASE to the log.
void compute_membership(const VbContext& ctx, const VbPredictive& pred, Memberships& mem);

// Per discrete value and per block entry. With --verbose writes MEMBER-CAT%d
// and MEMBER-GAUSS%d to the log.
void compute_attr_membership(const VbContext& ctx, const VbPredictive& pred, Memberships& mem);

// PREDICT-CLASS, PREDICT-CAT%d, per block PREDICT-GAUSS-MEAN%d and
// PREDICT-GAUSS-COVAR%d, then PREDICT-GAUSS-DOF%d per block. Flushes.
void print_predictive(FILE* file, const AttrModel& model, const VbPredictive& pred,
                      const Memberships& mem);

// Everything after the hyperparameter file of the estimation branch: one
// E-step and statistics pass on the state, the predictive and membership
// distributions from `scalars`, the membership file (-D), the predictive
// file (-P), clustering with evaluation, and ranking (-z).
void run_post_analysis(const VbContext& ctx, VbState& state, const VbPredictiveScalars& scalars);

// The same analysis for a model read from a hyperparameter file, whose
// stored Tau and Alpha are `scalars`: no E-step and no predictive file.
void run_read_hparam_analysis(const VbContext& ctx, const VbState& state,
                              const VbPredictiveScalars& scalars);

}  // namespace veska
