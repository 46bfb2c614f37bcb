// The steps of one VBEM iteration on the working state: expected logs and
// responsibilities (E-step), sufficient statistics with the imputation of
// missing continuous values, the update of the posterior hyperparameters
// (M-step), and the variational free energy. The "_daem" forms are the
// tempered ones used while the inverse temperature state.beta is below 1;
// at beta = 1 they give the values of the plain forms.
//
// One iteration runs: responsibilities, statistics, update, expected logs,
// log rho, log normalisers, free energy.
#pragma once

#include <span>
#include <vector>

#include "vb/vb_state.h"

namespace veska {

// E[ln pi_k] = psi(delta_k) - psi(sum delta); E[ln theta_kjv] likewise per
// attribute.
void compute_expected_logs(const VbContext& ctx, VbState& state);

// log rho_kn: the expected log joint of entry n and class k (beta = 1), and
// its tempered form at state.beta.
void compute_complete_prob(const VbContext& ctx, VbState& state);
void compute_complete_prob_daem(const VbContext& ctx, VbState& state);

// ln Z_n = ln sum_k exp(log rho_kn), kept only as sum_n c_n ln Z_n (with
// the responsibilities of the same pass).
void compute_log_normalisers(const VbContext& ctx, VbState& state);
// Each entry's ln Z_n of the current log rho, the bits of the pass above
// (the verbose dump; not the hot loop).
std::vector<double> log_normalisers(const VbState& state);

// The smallest responsibility: every class keeps N_k > 0, so its statistics
// stay finite even when no case belongs to it.
constexpr double kMinResponsibility = 1.0e-30;

// r_kn = exp(log rho_kn - ln Z_n), at least kMinResponsibility.
void compute_responsibilities(const VbContext& ctx, VbState& state);

// N_k, n_kjv and the Gaussian moments (then x-bar = S1 / N_k). The moments
// of one (class, entry) pair with weight w = r_kn c_n come from one of the
// two functions below: the tempered one whenever annealing is enabled.
void compute_sufficient_stats(const VbContext& ctx, VbState& state);
void compute_expect_gauss0_nodaem(const VbContext& ctx, VbState& state, int k, int n, double w);
void compute_expect_gauss0_daem(const VbContext& ctx, VbState& state, int k, int n, double w);

// Posterior pseudo counts at state.beta, Normal-Wishart posteriors, then
// their precisions.
void update_hparams(const VbContext& ctx, VbState& state);

// The variational free energy at beta = 1 / its tempered form at state.beta.
double compute_free_energy(const VbContext& ctx, const VbState& state);
double compute_free_energy_daem(const VbContext& ctx, const VbState& state);

// The partial steps of split-and-merge: the steps above for the listed
// classes only, the other classes keeping every value. Always at inverse
// temperature 1, without the verbose dumps.
//   expected logs: E[ln pi_k] still normalised over all K classes;
//   statistics: always the untempered imputation;
//   update: delta = N + delta0 and delta_kjv = n_kjv + delta0_kjv.
void compute_expected_logs_part(const VbContext& ctx, VbState& state, std::span<const int> classes);
void compute_complete_prob_part(const VbContext& ctx, VbState& state, std::span<const int> classes);
void compute_responsibilities_part(const VbContext& ctx, VbState& state,
                                   std::span<const int> classes);
void compute_sufficient_stats_part(const VbContext& ctx, VbState& state,
                                   std::span<const int> classes);
void update_hparams_part(const VbContext& ctx, VbState& state, std::span<const int> classes);
// ln Z_n from the listed classes' log rho and outside[n], the log-sum-exp of
// the other classes' log rho kept from before.
void compute_log_normalisers_part(const VbContext& ctx, VbState& state,
                                  std::span<const int> classes, std::span<const double> outside);

}  // namespace veska
