// The data matrices of a split-and-merge fit: the update counts of every
// operation (SMEM-STAT-EM-K%d), its learning curves (FREE-ENERGY-SMEM-K%d)
// and the rejected and ignored candidates (SMEM-STAT-SM-K%d).
#pragma once

#include <cstdio>
#include <vector>

#include "fit/fit_engine.h"

namespace veska {

// `ops` holds the operations that ran (0 first); the others up to n_sm
// count as having recorded nothing.

// SMEM-STAT-EM-K%d: per operation 0..n_sm the partial updates ("N/A" for
// operation 0) and the full ones.
void print_smem_updates(FILE* log, int K, int n_sm, const std::vector<SmemOperation>& ops);

// FREE-ENERGY-SMEM-K%d: per operation, history indices 0..updates-1, with
// the inverse temperature when annealing is on.
void print_smem_free_energy(FILE* log, int K, bool daem, const std::vector<SmemOperation>& ops);

// SMEM-STAT-SM-K%d: one row per split-and-merge operation, numbered from 0.
void print_smem_candidates(FILE* log, int K, int n_sm, const std::vector<SmemOperation>& ops);

}  // namespace veska
