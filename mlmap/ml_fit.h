// The fit of one class count: restarts (or split-and-merge) of EM runs on
// the engine, the kept run's learning curve in the log, and the record the
// SEED data matrices show.
#pragma once

#include <vector>

#include "mlmap/ml_engine.h"
#include "mlmap/print_mlmap.h"

namespace veska {

struct MlClassCountFit {
  int K = 0;
  int best_restart = 0;
  std::vector<MlRunRecord> runs;  // one per restart
  MlObjective result;             // of the kept run, at its final index
};

// Fits the engine's current class count; leaves the kept parameters in it.
void fit_class_count(MlEngine& engine, MlClassCountFit& fit);

}  // namespace veska
