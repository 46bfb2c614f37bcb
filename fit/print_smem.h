// The split-and-merge data matrices both programs write, each under its own
// ID: the update counts of every operation and the rejected and ignored
// candidates. `ops` holds the operations that ran (0 first); the others up
// to n_sm count as having recorded nothing.
#pragma once

#include <cstdio>
#include <vector>

#include "fit/fit_engine.h"

namespace veska {

// Per operation 0..n_sm the partial updates ("N/A" for operation 0) and the
// full ones (`id` is "SMEM-STAT-EM-K%d" or "SMEM-EM-STAT-K%d").
void print_smem_updates(FILE* log, const char* id, int K, int n_sm,
                        const std::vector<SmemOperation>& ops);

// One row per split-and-merge operation, numbered from 0 (`id` is
// "SMEM-STAT-SM-K%d" or "SMEM-OP-STAT-K%d").
void print_smem_candidates(FILE* log, const char* id, int K, int n_sm,
                           const std::vector<SmemOperation>& ops);

}  // namespace veska
