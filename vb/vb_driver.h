// The estimation branch of rumelvb: every class count K of the requested
// range is fitted with random restarts, the K of largest variational free
// energy is kept, and its hyperparameters are written to the hyperparameter
// file.
#pragma once

#include <vector>

#include "common/attributes.h"
#include "common/settings.h"
#include "data/read_freq.h"
#include "data/stat.h"
#include "vb/print_vb.h"
#include "vb/vb_state.h"

namespace veska {

// The fit of one class count, as the SCORE and SEED data matrices show it.
struct ClassCountFit {
  int K = 0;
  double free_energy = 0.0;
  int best_restart = 0;
  std::vector<VbRunRecord> runs;  // one per restart
};

// Restarts for the state's K: reseeds (unless --seed), initialises and runs
// each restart, keeps the strictly best one, resumes it with the full limit
// when there were several, and writes FREE-ENERGY-K%d. Leaves the state at
// the end of the retained run.
void run_restarts(const VbContext& ctx, VbState& state, ClassCountFit& fit);

// Fits the state's K and returns its free energy, evaluated at inverse
// temperature 1 whatever the annealing left.
double fit_class_count(const VbContext& ctx, VbState& state, ClassCountFit& fit);

// Fits every K of the range on the cases (read, with their statistics and
// data-size sections written, by the caller), writes SCORE and SEED /
// SEED-K%d to the log and the selected model to the hyperparameter file.
// `settings` is the one the context refers to: the "auto" smoothing
// constants are resolved in it for each K.
void run_class_range(Settings& settings, const AttrModel& model, const CaseTable& cases,
                     const SampleStats& stats);

}  // namespace veska
