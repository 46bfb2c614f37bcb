// The data-driven start methods behind --start: each restart of an engine
// asks for a partition of the case-table entries and sets its first state
// from it. Another method is one more case here.
#pragma once

#include <vector>

#include "common/attributes.h"
#include "common/settings.h"
#include "data/read_freq.h"
#include "data/stat.h"

namespace veska {

// The group (0 .. K-1) of every entry under the start method of the
// settings; empty for the random start, whose draws the engine makes itself.
// Draws from the process-wide generator.
std::vector<int> start_partition(const Settings& settings, const AttrModel& model,
                                 const CaseTable& cases, const SampleStats& stats, int K);

}  // namespace veska
