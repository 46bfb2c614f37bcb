// The log-prior of MAP estimation and the two model scores, BIC and the
// Cheeseman-Stutz approximation of the marginal likelihood (all on the log
// scale, larger is better).
#pragma once

#include "mlmap/ml_params.h"

namespace veska {

// ln p(parameters): the Dirichlet densities of the class and value
// probabilities and, with the Normal-Wishart prior in force, per class and
// block ln N(mu | m0, Sigma / tau) + ln W(Sigma^-1 | B0^-1, alpha). A
// result that is not finite writes the model dump and ends the run.
double compute_log_prior(const MlLayout& layout, const MlPriors& priors, const MlParams& params);

// L - P ln(N) / 2 with P the free parameters of the model.
double compute_bic(const MlContext& ctx, double loglike, int K);

// M - Q + L: M the log marginal likelihood of the completed data and Q its
// log-likelihood at the parameters, both from the expected statistics in
// the work arrays.
double compute_cs(const MlContext& ctx, const MlLayout& layout, const MlPriors& priors,
                  const MlParams& params, const MlWork& work, double loglike);

// The score checks: not a number or not finite writes the model dump and
// ends the run.
double check_bic(double bic);
double check_cs(double cs);

}  // namespace veska
