// SEED (a single class count) or SEED-K%d: one row per restart with its
// seed ("N/A" when --seed kept the stream), its updates and its final
// objective, named by the engine.
#pragma once

#include <cstdio>
#include <vector>

#include "fit/fit_engine.h"

namespace veska {

void print_seeds(FILE* log, bool per_k, int K, int best_restart,
                 const std::vector<RestartRecord>& runs, const char* objective_column);

}  // namespace veska
