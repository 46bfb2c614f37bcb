// The starting parameters of one EM run, drawn from the process-wide
// generator in a fixed order: the classes, then per discrete attribute every
// class and value, then per class and block every dimension of the mean.
#pragma once

#include <span>

#include "mlmap/ml_params.h"

namespace veska {

// --init-c (random or noisy-uniform), --init-a (random, noisy-uniform or
// value-frequency), --noise and --noise-gauss; the means start at the sample
// mean shifted by sqrt(S_dd) noise-gauss (u - 0.5), the covariances at the
// sample covariance. Recomputes the precisions.
void initialise_params(const MlContext& ctx, const MlLayout& layout, MlParams& params);

// The starting parameters from a partition of the cases (--start; groups[n]
// is the group of entry n, 0 .. K-1): responsibilities one-hot to the
// groups, then one M-step with the smoothing in force, from uniform class
// and value probabilities and the sample moments (the expectations of
// missing values read them). A group without entries keeps a floor of
// every entry's responsibility, so it starts next to the whole sample's
// moments; a block whose covariance comes out singular takes the sample
// covariance. Draws nothing.
void initialise_params_from_partition(const MlContext& ctx, const MlLayout& layout,
                                      const MlPriors& priors, const BlockScales& scales,
                                      std::span<const int> groups, MlWork& work, MlParams& params);

}  // namespace veska
