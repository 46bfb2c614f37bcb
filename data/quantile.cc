#include <algorithm>
#include <utility>
#include <vector>

#include "common/misc.h"
#include "data/stat.h"

namespace veska {

SortedSample::SortedSample(int n, const double* values, const double* weights) {
  pairs_.reserve(static_cast<size_t>(std::max(n, 0)));
  for (int i = 0; i < n; ++i) pairs_.emplace_back(values[i], weights[i]);
  std::sort(pairs_.begin(), pairs_.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  for (auto& pair : pairs_) {
    total_ += pair.second;
    pair.second = total_;
  }
}

// Ranks beyond the total (only for non-integer weights) take the largest
// value. The cumulative weights never fall, so the first that reaches r is
// found by bisection.
double SortedSample::value_of_rank(double r) const {
  auto it = std::lower_bound(pairs_.begin(), pairs_.end(), r,
                             [](const auto& pair, double rank) { return pair.second < rank; });
  return it == pairs_.end() ? pairs_.back().first : it->first;
}

double SortedSample::quantile(double p) const {
  // 1-based position in the sample where each value stands for weight copies.
  double h = 1.0 - p + p * total_;
  // With p = 0 the position is 1 even without any weight, so the empty sample
  // is tested on its own.
  if (h < 1.0 || total_ <= 0.0) {
    die(conv_msg("Too small data (size = %d) for computing %.Nf-quantile\n"),
        static_cast<int>(pairs_.size()), p);
  }
  double b = static_cast<double>(static_cast<long>(h));
  double fraction = h - b;
  if (fraction < 1e-6) return value_of_rank(b);
  double below = value_of_rank(b), above = value_of_rank(b + 1.0);
  // Between two copies of one value the weighted sum can land an ulp beside
  // it (1.3 becomes 1.2999999999999998), and a bound there would mark every
  // copy as extreme.
  if (below == above) return below;
  return (1.0 - fraction) * below + fraction * above;
}

double weighted_quantile(double p, int n, const double* values, const double* weights) {
  return SortedSample(n, values, weights).quantile(p);
}

}  // namespace veska
