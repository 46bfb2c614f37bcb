// The first state of a restart from a partition of the cases (--start
// kmeans): the unperturbed priors, responsibilities one-hot to the groups,
// then one update of the hyperparameters from them.
#pragma once

#include <span>

#include "vb/vb_state.h"

namespace veska {

// groups[n] is the group of entry n (0 .. K-1). An empty group keeps only
// the responsibility floor of every entry, so its posteriors stay next to
// its priors. Draws nothing from the generator. Reads the smoothing
// constants, so resolve_auto_smoothing must have run for this K.
void init_hparams_from_partition(const VbContext& ctx, VbState& state, std::span<const int> groups);

}  // namespace veska
