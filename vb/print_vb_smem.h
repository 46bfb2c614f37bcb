// The data matrices of a split-and-merge fit: the update counts of every
// operation (SMEM-STAT-EM-K%d), its learning curves (FREE-ENERGY-SMEM-K%d)
// and the rejected and ignored candidates (SMEM-STAT-SM-K%d).
#pragma once

#include <cstdio>
#include <vector>

namespace veska {

// What one operation leaves behind. Operation 0 is the restart phase;
// operations 1..n_sm are the split-and-merge steps.
struct SmemOperation {
  // F (and, with annealing, beta) by history index, of the retained run: the
  // best restart for operation 0, the accepted candidate otherwise.
  std::vector<double> fe_history;
  std::vector<double> beta_history;
  int partial_updates = 0;  // updates of the accepted candidate's partial run
  int updates = 0;          // its final history index (0: nothing accepted)
  int rejected = 0;         // candidates examined and rejected
  int ignored = 0;          // candidates skipped
};

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
