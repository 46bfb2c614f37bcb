// Priors and the random initial state of one restart.
#pragma once

#include <span>

#include "vb/vb_state.h"

namespace veska {

// mu0, Sigma0, W0 = Sigma0^-1 and |Sigma0| for every class and block, from
// the sample statistics or the constants of --smooth-mean / --smooth-var.
void set_gauss_priors(const VbContext& ctx, VbState& state);

// The priors of one restart, perturbed by draws of the process-wide
// generator, copied into the posteriors. The order of the draws fixes what a
// seed produces: class pseudo counts by class; attribute pseudo counts by
// class, attribute, and value from the last down; Gaussian means by class,
// block, component. Reads the smoothing constants, so resolve_auto_smoothing
// must have run for this K.
void init_hparams_random(const VbContext& ctx, VbState& state);

// The first state of a restart from a partition of the cases (--start):
// the unperturbed priors, responsibilities one-hot to the groups (groups[n]
// is the group of entry n, 0 .. K-1), then one update of the
// hyperparameters from them. An empty group keeps only the responsibility
// floor of every entry, so its posteriors stay next to its priors. Draws
// nothing. Reads the smoothing constants, like init_hparams_random.
void init_hparams_from_partition(const VbContext& ctx, VbState& state, std::span<const int> groups);

}  // namespace veska
