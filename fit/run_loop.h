// One run of an engine: from the model as it stands to convergence or an
// iteration limit, through stages of rising inverse temperature when
// annealing, with the histories, the progress and "*" marks, the end
// message and the decrease check.
#pragma once

#include "common/settings.h"
#include "fit/fit_engine.h"

namespace veska {

// Where a run keeps its histories and how it reports.
struct RunPlace {
  FitHistory* history;
  const char* op_label;  // "Restart" or "SplitMergeOperation", for the log
  int op;
  // Split-and-merge: the "*" of a new stage only in the restart phase
  // (op 0), and without annealing convergence only on a rise, so a fall
  // within rounding does not end the run.
  bool smem = false;
};

struct RunEnd {
  int t;        // final history index; the run's objective is at[t]
  double beta;  // final inverse temperature
};

// The inverse temperature a run starts at: beta_init with annealing, else 1.
double start_beta(const Settings& settings, double beta_init);

// Evaluates the model at index t0 and records it.
void evaluate_start(const Settings& settings, FitEngine& engine, const RunPlace& place, int t0,
                    double beta);

// The stages from index t0 (evaluated already). Without annealing the
// limit bounds the history index; with it, the iterations of each stage.
RunEnd run_stages(const Settings& settings, FitEngine& engine, const RunPlace& place, int t0,
                  int limit, double beta);

// Hands a fall of the objective by more than 1.0e-6 from index t-1 to t
// within one temperature to the engine, which ends the program.
void check_decrease(const Settings& settings, FitEngine& engine, const RunPlace& place, int t);

// --max-iterate below 1 means the largest limit.
int full_limit(const Settings& settings);

}  // namespace veska
