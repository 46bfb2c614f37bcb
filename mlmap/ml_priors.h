// The priors of MAP estimation for one class count: Dirichlet pseudo counts
// from the smoothing constants and the Normal-Wishart prior of the Gaussian
// blocks, or everything from a hyperparameter file.
#pragma once

#include "data/read_hparam.h"
#include "mlmap/ml_params.h"

namespace veska {

// From the settings, whose "auto" constants resolve_auto_smoothing has just
// resolved for the layout's K: delta = a + 1, delta_kiv = a_i + 1, tau, alpha
// (--alpha when positive, else D + 1e-6), m0 (--smooth-mean or the sample
// mean) and B0 (s times the sample covariance, or s I).
MlPriors set_up_priors(const MlContext& ctx, const MlLayout& layout);

// From a hyperparameter file whose K the layout has. Sets the smoothing
// flags of `settings` from the pseudo counts; a tau that is not positive
// and pseudo counts not all above 1 end the run; an alpha not above the
// block's dimension is reported and accepted.
MlPriors apply_hparams(Settings& settings, const AttrModel& model, const MlLayout& layout,
                       const StoredHparams& file);

}  // namespace veska
