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

// AUTO-SMOOTH-CLASS-K%d and, with discrete attributes, AUTO-SMOOTH-CAT-K%d:
// the constants resolve_auto_smoothing just set for K.
void print_auto_smoothing(FILE* log, const Settings& settings, const AttrModel& model, int K);

// FREE-ENERGY-K%d: history indices 0..t-1 of the retained run, with the
// inverse temperature when annealing is on.
void print_free_energy(FILE* log, int K, const FitHistory& history, bool daem, int t);

// ERR-MSG-DECREASE of a fall in a run of K classes; the inverse temperature
// after the fall (0 without annealing).
void print_decrease_error(FILE* log, int K, const FitDecrease& d);

// SCORE: F per class count, with the selected one in the note.
void print_score(FILE* log, const std::vector<int>& ks, const std::vector<double>& free_energies,
                 int k_opt);

// SEED (single K, `per_k` false) or SEED-K%d: one row per restart.
void print_seeds(FILE* log, bool per_k, int K, int best_restart,
                 const std::vector<RestartRecord>& runs);

// HPARAM-CLASS, HPARAM-CAT%d per discrete attribute and, with Gaussian
// blocks, per block HPARAM-GAUSS-MEAN%d and HPARAM-GAUSS-COVAR%d, then
// HPARAM-GAUSS-TAU and HPARAM-GAUSS-ALPHA%d per block: the posterior
// hyperparameters of the state. Used for the hyperparameter file and for the
// verbose dumps in the log. Flushes the file.
void print_hparams(FILE* file, const VbContext& ctx, const VbState& state);

// A per-class data matrix of block g's upper-triangle (co)variances, as
// HPARAM-GAUSS-COVAR%d and PREDICT-GAUSS-COVAR%d write them.
void print_block_covariances(FILE* file, const char* id_format, const AttrModel& model, int g,
                             int K, const std::function<const Matrix&(int k)>& matrix_of);

}  // namespace veska
