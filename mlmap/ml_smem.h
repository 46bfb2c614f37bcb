// rumel's own parts of split-and-merge: the merge and split criteria of the
// current model and the starting parameters of a candidate (merge two
// classes into the first slot, split the third over the two freed slots),
// drawn from the process-wide generator in a fixed order.
#pragma once

#include <vector>

#include "fit/smem_candidates.h"
#include "mlmap/ml_params.h"

namespace veska {

// From the responsibilities, joint weights and expected class counts of an
// E-step at inverse temperature 1 on the current parameters:
// Jmerge(i, j) = sum_n c_n r_in r_jn (divided by the norms of both classes'
// weighted responsibilities with --norm-jmerge), at i * K + j; and
// Jsplit(k) = sum_n f_kn ln(f_kn / p_kn), the divergence of the class's
// share of the data from its class-conditional density. Values that are not
// finite end the run.
std::vector<double> compute_jmerge(const MlLayout& layout, const MlWork& work, bool normalised);
std::vector<double> compute_jsplit(const MlLayout& layout, const MlParams& params,
                                   const MlWork& work);

// The candidate's start: `counts` are the expected class counts that weigh
// the merge. Discrete values get noise / V_i times a fresh draw, the split
// means sqrt(S_dd) noise-gauss (0.5 - u); the split covariances become the
// old split class's determinant-matched multiple of the identity.
void initialize_param_part(const MlContext& ctx, const MlLayout& layout, MlParams& params,
                           const SmemCandidate& candidate, const std::vector<double>& counts);

}  // namespace veska
