#include <algorithm>
#include <utility>
#include <vector>

#include "common/misc.h"
#include "data/stat.h"

namespace veska {

double weighted_quantile(double p, int n, const double* values, const double* weights) {
  std::vector<std::pair<double, double>> pairs;  // (value, weight), sorted by value
  pairs.reserve(static_cast<size_t>(std::max(n, 0)));
  for (int i = 0; i < n; ++i) pairs.emplace_back(values[i], weights[i]);
  std::sort(pairs.begin(), pairs.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  // Cumulative weights, kept in the pairs' second members.
  double total = 0.0;
  for (auto& pair : pairs) {
    total += pair.second;
    pair.second = total;
  }

  // 1-based position in the sample where each value stands for weight copies.
  double h = 1.0 - p + p * total;
  // With p = 0 the position is 1 even without any weight, so the empty sample
  // is tested on its own.
  if (h < 1.0 || total <= 0.0) {
    die(conv_msg("Too small data (size = %d) for computing %.Nf-quantile\n"), n, p);
  }

  // The value of rank r: the first whose cumulative weight reaches r. Ranks
  // beyond the total (only for non-integer weights) take the largest value.
  auto value_of_rank = [&pairs](double r) {
    auto it = std::find_if(pairs.begin(), pairs.end(),
                           [r](const auto& pair) { return pair.second >= r; });
    return it == pairs.end() ? pairs.back().first : it->first;
  };

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

}  // namespace veska
