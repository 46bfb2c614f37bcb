// The learning curves of a split-and-merge fit (FREE-ENERGY-SMEM-K%d); the
// update counts and candidate counts are fit/print_smem's.
#pragma once

#include <cstdio>
#include <vector>

#include "fit/fit_engine.h"

namespace veska {

// `ops` holds the operations that ran (0 first); the others up to n_sm
// count as having recorded nothing.

// FREE-ENERGY-SMEM-K%d: per operation, history indices 0..updates-1, with
// the inverse temperature when annealing is on.
void print_smem_free_energy(FILE* log, int K, bool daem, const std::vector<SmemOperation>& ops);

}  // namespace veska
