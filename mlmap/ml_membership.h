// The membership quantities of the final model, at inverse temperature 1,
// into the record the shared post-analysis reads.
#pragma once

#include "analysis/memberships.h"
#include "mlmap/ml_params.h"

namespace veska {

// Per entry P(k) = pi_k, P(k|x) = r_kn, P(x) = Z_n, P(x|k) = w_kn / pi_k;
// per discrete value P(v|k) = theta_kiv, P(v) = sum_k pi_k theta_kiv and
// P(k|v); per block and entry the density of its observed part, the
// mixture of those and the block's membership (a shared block takes the
// case's). Runs one E-step on `work` (log domain as the work says), then
// moves its weights, normalisers and responsibilities into the record: the
// work must be allocated again before another step.
Memberships take_ml_memberships(const MlContext& ctx, const MlLayout& layout,
                                const MlParams& params, MlWork& work,
                                const MembershipNeeds& needs = {});

}  // namespace veska
