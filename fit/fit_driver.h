// The fit of a whole run: every class count of the requested range with
// random restarts (or split-and-merge), the selection of the best score, and
// the results of the selected model.
#pragma once

#include "common/settings.h"
#include "fit/fit_engine.h"
#include "fit/run_loop.h"

namespace veska {

// Preliminary limit of each restart: -l when there are several restarts
// and it is at least 1 and below the full limit, else the full limit.
int restart_limit(const Settings& settings);

// Without --seed: draws the restart's seed, records it and reseeds the
// generator with it.
void reseed_restart(const Settings& settings, RestartRecord& run);

// The starting model of one restart: the partition of the cases that
// --start asks for, else the engine's random draws.
void start_restart(FitEngine& engine);

// The restarts of the engine's K on `history`, each run from index 0 with
// `limit`: reseeded (unless --seed), started (start_restart), run, the
// strictly best kept (ties keep the earlier). Leaves the engine at the best
// restart's model and `history` at its histories, and returns where its run
// ended. `smem`: the
// split-and-merge restart phase (histories of operation 0, every restart
// numbered in the messages).
RunEnd run_restart_loop(const Settings& settings, FitEngine& engine, ClassCountFit& fit,
                        FitHistory& history, int limit, bool smem);

// Restarts for the engine's K: reseeds each one (unless --seed), starts and
// runs it, keeps the strictly best one, resumes it with the full limit when
// there were several, and writes its learning curve. Leaves the engine at
// the end of the retained run.
void run_restarts(const Settings& settings, FitEngine& engine, ClassCountFit& fit);

// Whether the engine's K is fitted by split-and-merge.
bool uses_split_merge(const Settings& settings, const FitRules& rules, int K);

// Fits the engine's K (prepared) and returns its score.
double fit_class_count(const Settings& settings, FitEngine& engine, ClassCountFit& fit);

// Every K of the range (or the single K): prepared, fitted, scored; the
// strictly best score is kept (ties keep the smaller K). Leaves the engine
// at the selected model.
ClassRangeFit run_class_range(const Settings& settings, FitEngine& engine);

// The whole estimation: the range, its scores and seeds, the model file and
// the post-analysis of the selected model, which is released at the end.
void run_fit(const Settings& settings, FitEngine& engine);

}  // namespace veska
