// The statistics data matrices of the log file: what the case table looks
// like before any fitting (modes, ranges, percentiles) and the sample means
// and covariances, with and without extreme values, that the priors and
// initial values are built from.
#pragma once

#include <cstdio>

#include "common/attributes.h"
#include "common/settings.h"
#include "data/stat.h"

namespace veska {

// STAT-BASIC-CAT when discrete attributes exist; STAT-BASIC-GAUSS,
// STAT-PERCENTILE, STAT-GAUSS-MEAN, STAT-GAUSS-COVAR, STAT-REGULAR-Q,
// STAT-REGULAR-MEAN and STAT-REGULAR-COVAR when continuous ones do. Flushes
// the log.
void print_statistics(FILE* log, const Settings& settings, const AttrModel& model,
                      const SampleStats& stats);

}  // namespace veska
