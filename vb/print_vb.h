// The data matrices of the variational-Bayes fit: the learning curves, the
// free-energy decrease report, the scores and seeds of the class counts, the
// resolved "auto" smoothing constants and the hyperparameters of a model.
#pragma once

#include <functional>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "common/attributes.h"
#include "common/settings.h"
#include "fit/fit_engine.h"
#include "vb/vb_state.h"

namespace veska {

// FREE-ENERGY-K%d: history indices 0..t-1 of the retained run, with the
// inverse temperature when annealing is on.
void print_free_energy(FILE* log, int K, const FitHistory& history, bool daem, int t);

// ERR-MSG-DECREASE of a fall in a run of K classes; the inverse temperature
// after the fall (0 without annealing).
void print_decrease_error(FILE* log, int K, const FitDecrease& d);

// SCORE: F per class count, with the selected one in the note.
void print_score(FILE* log, const std::vector<int>& ks, const std::vector<double>& free_energies,
                 int k_opt);

// HPARAM-CLASS, HPARAM-CAT%d per discrete attribute and, with Gaussian
// blocks, per block HPARAM-GAUSS-MEAN%d and HPARAM-GAUSS-COVAR%d, then
// HPARAM-GAUSS-TAU and HPARAM-GAUSS-ALPHA%d per block: the posterior
// hyperparameters of the state. Used for the hyperparameter file and for the
// verbose dumps in the log. Flushes the file.
void print_hparams(FILE* file, const VbContext& ctx, const VbState& state);

}  // namespace veska
