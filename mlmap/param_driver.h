// rumel without EM: the model of a parameter file, then memberships,
// clustering, ranking and evaluation as after a fit.
#pragma once

#include "common/attributes.h"
#include "common/settings.h"

namespace veska {

void run_param_driver(Settings& settings, AttrModel& model);

}  // namespace veska
