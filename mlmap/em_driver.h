// The estimation path of rumel: the cases and their statistics, every class
// count of the range fitted and scored (BIC or Cheeseman-Stutz), the best
// kept, the parameter file written, then memberships, clustering,
// evaluation and ranking through the shared post-analysis.
#pragma once

#include "common/attributes.h"
#include "common/settings.h"

namespace veska {

// `settings` is the run's: its "auto" constants are resolved per K. With
// --read-hparam the priors and K come from the hyperparameter file.
void run_em_driver(Settings& settings, AttrModel& model);

}  // namespace veska
