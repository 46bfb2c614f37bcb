// Split-and-merge for one class count: after the restarts, repeatedly merge
// two classes and split a third, trying the candidate triples in the order
// of the engine's merge and split criteria, each refitted first on its three
// classes alone (the partial run) and then on all of them, and keep the
// first that raises the objective enough.
#pragma once

#include <vector>

#include "common/settings.h"
#include "fit/fit_engine.h"

namespace veska {

// Iteration limits of the walk's runs.
struct SmemLimits {
  int restart;    // each restart of operation 0
  int candidate;  // partial and full runs of the candidates
};
SmemLimits smem_limits(const Settings& settings, const FitRules& rules);

// The restarts on operation 0's histories; leaves the best restart's model
// and history in place (no resumed run) and returns its objective.
double run_restart_phase(const Settings& settings, FitEngine& engine, ClassCountFit& fit,
                         SmemOperation& op, int limit);

// The partial run of a candidate on `history` from index 0: the engine's
// candidate start, then partial updates until convergence, the limit, a
// fall (which only ends the run) or the engine's own stop. Returns the final
// history index.
int run_partial(const Settings& settings, FitEngine& engine, const SmemCandidate& candidate,
                FitHistory& history, int limit);

// Operations 1..n_operations from the engine's model (whose objective is
// o_current): each tries the candidates until one is accepted; the first
// operation that accepts none ends them all. `ops` holds operation 0 and
// gets a record for each operation that runs. Returns the objective of the
// retained model.
double run_split_merge_operations(const Settings& settings, FitEngine& engine, int n_operations,
                                  std::vector<SmemOperation>& ops, double o_current);

// The restarts and the operations for the engine's K: records the restarts
// in `fit`, writes the engine's data matrices of the walk, and leaves the
// engine at the last accepted model (the best restart when none was).
void run_split_merge(const Settings& settings, FitEngine& engine, ClassCountFit& fit);

}  // namespace veska
