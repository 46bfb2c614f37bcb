// The starting parameters of one EM run, drawn from the process-wide
// generator in a fixed order: the classes, then per discrete attribute every
// class and value, then per class and block every dimension of the mean.
#pragma once

#include "mlmap/ml_params.h"

namespace veska {

// --init-c (random or noisy-uniform), --init-a (random, noisy-uniform or
// value-frequency), --noise and --noise-gauss; the means start at the sample
// mean shifted by sqrt(S_dd) noise-gauss (u - 0.5), the covariances at the
// sample covariance. Recomputes the precisions.
void initialise_params(const MlContext& ctx, const MlLayout& layout, MlParams& params);

}  // namespace veska
