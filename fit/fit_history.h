// The per-iteration histories of one run: the objective O and, when the
// engine keeps them, the log-likelihood L and log-prior LP it is made of,
// plus the inverse temperature with annealing. They are indexed by the
// global iteration index and double their capacity whenever an index
// reaches it.
#pragma once

#include <cstddef>
#include <vector>

namespace veska {

// What one evaluation of the model yields.
struct FitObjective {
  double objective = 0.0;  // O: what the runs maximise
  double loglike = 0.0;    // L
  double log_prior = 0.0;  // LP
};

// Capacity given to a history that was never sized.
constexpr int kHistoryCapacity = 10000;

struct FitHistory {
  std::vector<double> objective;
  std::vector<double> loglike;    // with FitRules::keep_parts
  std::vector<double> log_prior;  // with FitRules::keep_parts
  std::vector<double> beta;       // with annealing

  // Stores the evaluation at index t, growing the histories first when t
  // reaches their capacity: the only allocation of a run.
  void record(int t, const FitObjective& value, double inverse_temperature, bool annealing,
              bool keep_parts);
  // Keeps indices 0..t and returns the rest of the memory.
  void trim(int t, bool annealing, bool keep_parts);
  void clear();

  double at(int t) const { return objective[static_cast<size_t>(t)]; }
  double beta_at(int t) const { return beta[static_cast<size_t>(t)]; }
};

}  // namespace veska
