// The data matrices of a fit that both clustering programs write, titled in
// the words of the engine's objective: the learning curve of one run
// (FREE-ENERGY-K%d, LOGLIKE-K%d), the score of every class count (SCORE)
// and the restarts of one class count (SEED, SEED-K%d).
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

namespace veska {

// One restart of one class count: the fit driver's record of it.
struct RestartRecord {
  bool seeded = false;  // false with --seed: the stream was not reseeded
  uint32_t seed = 0;
  int updates = 0;  // final history index of the restart's run
  double objective = 0.0;
};

// A column of real values under its title, one value per row.
struct TitledColumn {
  const char* title;
  std::span<const double> values;
};

// `id` with K ("FREE-ENERGY-K%d"): "Num. of classes", "Num. of updates",
// then the columns, for the updates 0 .. rows - 1.
void print_learning_curve(FILE* log, const char* id, int K, std::span<const TitledColumn> columns,
                          int rows);

// A score of every class count; `computed` (empty: every one) marks the
// class counts that have it, the others show "N/A".
struct ScoreColumn {
  const char* title;
  std::vector<double> values;
  std::vector<bool> computed;
};

// SCORE: "Num. of classes" and the score columns, one row per class count;
// the note names the criterion first when there is one (`criterion` not
// null), then the chosen K.
void print_score_table(FILE* log, std::span<const int> ks, std::span<const ScoreColumn> columns,
                       const char* criterion, int k_opt);

// SEED (a single class count) or SEED-K%d (`per_k`): one row per restart
// with its seed ("N/A" when --seed kept the stream), its updates and its
// final objective under `objective_column`.
void print_seeds(FILE* log, bool per_k, int K, int best_restart,
                 const std::vector<RestartRecord>& runs, const char* objective_column);

}  // namespace veska
