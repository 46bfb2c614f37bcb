// Descriptive statistics of the case table: per Gaussian group the sample
// means and covariances (plain, and "regular" ones that leave extreme values
// out), the extreme-value bounds, and a summary per attribute. All sums are
// weighted by the entries' occurrence counts, so compressed and uncompressed
// tables agree.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "common/attributes.h"
#include "common/matrix_store.h"
#include "common/settings.h"
#include "data/read_freq.h"

namespace veska {

// Per Gaussian group (size d). Matrices and vectors come from the store and
// are returned by free_statistics.
struct GroupStats {
  Vector* mean = nullptr;   // plain
  Matrix* covar = nullptr;  // plain
  Vector* lower = nullptr;  // weighted quantile at extreme_low, per member
  Vector* upper = nullptr;  // weighted quantile at extreme_high
  // Regular statistics: an occurrence whose value lies outside the member's
  // bounds is treated like a missing value. Elements that too few
  // occurrences support are NaN (see regular_defined).
  Vector* reg_mean = nullptr;
  Matrix* reg_covar = nullptr;
  Vector* reg_min = nullptr;  // smallest / largest value within the bounds
  Vector* reg_max = nullptr;
  // Every member has at least two occurrences within its bounds, so every
  // regular element is a number.
  bool regular_defined = false;
  // The pair later stages use: regular with --regular-stat, else plain.
  const Vector* sample_mean = nullptr;
  const Matrix* sample_covar = nullptr;
};

// Summary of one attribute; unused for the ID, answer-class and ignored ones.
struct AttrStat {
  int n_values = 0;  // discrete: distinct values
  std::string mode;  // discrete: most frequent value name ("?" when it has none)
  long mode_count = 0;
  double min = 0, max = 0, mean = 0, median = 0, variance = 0, sd = 0;  // continuous
  double percentiles[9] = {};  // min, 5, 10, 25, 50, 75, 90, 95 %, max
};

// Levels of the percentile row, in percent.
constexpr int kPercentLevels[9] = {0, 5, 10, 25, 50, 75, 90, 95, 100};

struct SampleStats {
  std::vector<GroupStats> groups;
  std::vector<AttrStat> attrs;  // by attribute index
};

// Computes everything for a case table that the estimation will fit, and
// stops the run when a sample covariance the engine would build its prior
// from is singular, or when the statistics it would use are undefined (fewer
// than two observed occurrences of a member; with --regular-stat, fewer than
// two within the bounds). Writing the STAT data matrices is print_statistics'
// (output/print_stat.h).
SampleStats compute_statistics(const Settings& settings, const AttrModel& model,
                               const CaseTable& cases);
void free_statistics(SampleStats& stats);

// The p-quantile of n values with positive weights: linear interpolation at
// position (W - 1) p + 1 of the sample in which each value is repeated by its
// weight. An empty sample is fatal.
double weighted_quantile(double p, int n, const double* values, const double* weights);

// A weighted sample sorted once, for the many quantiles of one attribute:
// each then takes a binary search instead of a sort of the whole sample.
class SortedSample {
 public:
  SortedSample() = default;
  SortedSample(int n, const double* values, const double* weights);
  // weighted_quantile(p, ...) of the sample, to the bit.
  double quantile(double p) const;

 private:
  // The value at the first cumulative weight that reaches rank r.
  double value_of_rank(double r) const;

  std::vector<std::pair<double, double>> pairs_;  // (value, cumulative weight), by value
  double total_ = 0.0;
};

}  // namespace veska
