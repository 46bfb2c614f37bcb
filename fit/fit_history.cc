#include "fit/fit_history.h"

namespace veska {

void FitHistory::record(int t, const FitObjective& value, double inverse_temperature,
                        bool annealing, bool keep_parts) {
  size_t capacity = objective.size();
  if (capacity == 0) capacity = kHistoryCapacity;
  while (static_cast<size_t>(t) >= capacity) capacity *= 2;
  // Each kept history at the same capacity, also one kept only from now on.
  auto grow = [capacity](std::vector<double>& v) {
    if (v.size() < capacity) v.resize(capacity);
  };
  grow(objective);
  if (annealing) grow(beta);
  if (keep_parts) {
    grow(loglike);
    grow(log_prior);
  }
  const size_t i = static_cast<size_t>(t);
  objective[i] = value.objective;
  if (annealing) beta[i] = inverse_temperature;
  if (keep_parts) {
    loglike[i] = value.loglike;
    log_prior[i] = value.log_prior;
  }
}

void FitHistory::trim(int t, bool annealing, bool keep_parts) {
  const size_t n = static_cast<size_t>(t) + 1;
  objective.resize(n);
  if (annealing) beta.resize(n);
  if (keep_parts) {
    loglike.resize(n);
    log_prior.resize(n);
  }
  for (std::vector<double>* v : {&objective, &loglike, &log_prior, &beta}) v->shrink_to_fit();
}

void FitHistory::clear() { *this = FitHistory{}; }

}  // namespace veska
