#include "data/stat.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "common/matrix.h"
#include "common/misc.h"
#include "common/option_scan.h"
#include "common/options.h"

namespace veska {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Quantile levels of the percentile row between its min and max.
constexpr double kQuantileLevels[7] = {0.05, 0.1, 0.25, 0.5, 0.75, 0.9, 0.95};
// A sample covariance cannot serve as the scale of a prior when some
// attribute's variance given the others is this small relative to its own
// variance, or when a variance is not positive: measured in the data's own
// units, whatever the dimension.
constexpr double kSingularRatio = 1e-12;

// The observed values of one member of a group with the entries' weights.
struct Sample {
  std::vector<double> values;
  std::vector<double> weights;
  SortedSample sorted;  // of values and weights, for the quantiles
  double quantile(double p) const { return sorted.quantile(p); }
};

Sample observed_sample(const CaseTable& cases, int g, int a) {
  Sample s;
  for (int e = 0; e < cases.n_entries; ++e) {
    const CaseEntry& entry = cases.entries[e];
    if (entry.gauss_observed(g)[a] == 0) continue;
    s.values.push_back(entry.values(g)[a]);
    s.weights.push_back(entry.total);
  }
  s.sorted = SortedSample(static_cast<int>(s.values.size()), s.values.data(), s.weights.data());
  return s;
}

// Which occurrences count, per entry and member: index e * d + a.
using Presence = std::vector<char>;

// Weighted mean and covariance of group g over the occurrences present.
// Mean of a: sum of w x_a over the entries where a is present, divided by the
// weight of those entries (counted[a]). Covariance of (a, b): sum of
// w (x_a - mean_a)(x_b - mean_b) over the entries where both are present,
// divided by N - (weight of the entries where neither is present) - 1; an
// entry with only one of the two present adds nothing to the sum but stays
// in the divisor. For a = b the divisor is counted[a] - 1.
//
// An element whose divisor would not be positive is NaN, set here rather
// than left to a division by zero: a mean needs counted[a] >= 1, a
// (co)variance counted >= 2 for both members (which keeps every divisor of
// the pair at least 1). The callers decide what an undefined element means.
void weighted_moments(const CaseTable& cases, int g, int d, const Presence& present,
                      Vector* mean, Matrix* covar, std::vector<double>& counted) {
  counted.assign(static_cast<size_t>(d), 0.0);
  // The sums are of x - s, s the first value present: with a large common
  // offset they keep the digits of the spread (s + sum / W, not sum x / W).
  std::vector<double> sum(static_cast<size_t>(d), 0.0);
  std::vector<double> shift(static_cast<size_t>(d), kNaN);
  for (int e = 0; e < cases.n_entries; ++e) {
    const CaseEntry& entry = cases.entries[e];
    for (int a = 0; a < d; ++a) {
      if (!present[static_cast<size_t>(e) * d + a]) continue;
      const double x = entry.values(g)[a];
      if (counted[a] == 0) shift[a] = x;
      counted[a] += entry.total;
      sum[a] += entry.total * (x - shift[a]);
    }
  }
  for (int a = 0; a < d; ++a) (*mean)[a] = counted[a] > 0 ? shift[a] + sum[a] / counted[a] : kNaN;

  for (int a = 0; a < d; ++a) {
    for (int b = a; b < d; ++b) {
      double products = 0.0;
      double neither = 0.0;
      for (int e = 0; e < cases.n_entries; ++e) {
        const CaseEntry& entry = cases.entries[e];
        bool has_a = present[static_cast<size_t>(e) * d + a];
        bool has_b = present[static_cast<size_t>(e) * d + b];
        if (has_a && has_b) {
          std::span<const double> x = entry.values(g);
          products += entry.total * (x[a] - (*mean)[a]) * (x[b] - (*mean)[b]);
        } else if (!has_a && !has_b) {
          neither += entry.total;
        }
      }
      bool defined = counted[a] >= 2 && counted[b] >= 2;
      double value = defined ? products / (cases.n_cases - neither - 1.0) : kNaN;
      (*covar)[a][b] = value;
      (*covar)[b][a] = value;
    }
  }
}

void summarise_discrete(const AttrModel& model, int j, AttrStat& stat) {
  const DiscreteValues& v = model.values[model.attrs[j].position];
  stat.n_values = v.n_values;
  const std::string* text = nullptr;
  long count = -1;
  strtab_most_frequent(v.table, &text, &count);
  // An attribute missing in every case has no mode.
  stat.mode = text != nullptr ? *text : "?";
  stat.mode_count = text != nullptr ? count : 0;
}

// Range and quantiles of one continuous attribute; mean and variance follow
// from the group's plain statistics.
void summarise_continuous(const Sample& sample, AttrStat& stat) {
  stat.min = *std::min_element(sample.values.begin(), sample.values.end());
  stat.max = *std::max_element(sample.values.begin(), sample.values.end());
  stat.percentiles[0] = stat.min;
  for (int i = 0; i < 7; ++i) stat.percentiles[i + 1] = sample.quantile(kQuantileLevels[i]);
  stat.percentiles[8] = stat.max;
  stat.median = stat.percentiles[4];
}

// Plain statistics are what the engines always use (the prior's scale, the
// noise of the initial means), so they must be numbers.
void require_plain_defined(const AttrModel& model, const GroupStats& gs,
                           const std::vector<double>& counted, int g) {
  int d = model.groups[g].size();
  for (int a = 0; a < d; ++a) {
    if (counted[a] < 2) {
      die("Too few observed values (%d) of attribute %d for computing its sample variance\n",
          static_cast<int>(counted[a]), model.groups[g].attrs[a]);
    }
  }
  if (has_non_finite(gs.mean) || has_non_finite(gs.covar)) {
    raise_numerical_error("compute_statistics", "Sample means or covariances are not finite\n");
  }
}

// With --regular-stat the engines use the regular pair, so it must be
// complete; otherwise it is only shown, undefined elements as "?".
void require_regular_defined(const Settings& settings, const AttrModel& model,
                             const std::vector<double>& counted, int g) {
  int d = model.groups[g].size();
  for (int a = 0; a < d; ++a) {
    if (counted[a] < 2) {
      die("Too few values (%d) of attribute %d within the extreme-value bounds for computing "
          "sample means/covars; please specify a smaller value by '%s'\n",
          static_cast<int>(counted[a]), model.groups[g].attrs[a],
          get_option_str(kOptExtreme, option_table(settings.program), true).c_str());
    }
  }
}

void compute_group(const Settings& settings, const AttrModel& model, const CaseTable& cases,
                   int g, GroupStats& gs, std::vector<AttrStat>& attrs) {
  const GaussGroup& group = model.groups[g];
  int d = group.size();
  gs.mean = new_vector(d);
  gs.covar = new_matrix(d, d);
  gs.lower = new_vector(d);
  gs.upper = new_vector(d);
  gs.reg_mean = new_vector(d);
  gs.reg_covar = new_matrix(d, d);
  gs.reg_min = new_vector(d);
  gs.reg_max = new_vector(d);

  // Bounds and summaries first: a member never observed ends the run here,
  // with the quantile's message.
  for (int a = 0; a < d; ++a) {
    Sample sample = observed_sample(cases, g, a);
    (*gs.lower)[a] = sample.quantile(settings.extreme_low);
    (*gs.upper)[a] = sample.quantile(settings.extreme_high);
    summarise_continuous(sample, attrs[group.attrs[a]]);
  }

  size_t n = static_cast<size_t>(cases.n_entries) * d;
  Presence observed(n), within(n);
  for (int a = 0; a < d; ++a) {
    (*gs.reg_min)[a] = kNaN;
    (*gs.reg_max)[a] = kNaN;
  }
  for (int e = 0; e < cases.n_entries; ++e) {
    const CaseEntry& entry = cases.entries[e];
    for (int a = 0; a < d; ++a) {
      size_t i = static_cast<size_t>(e) * d + a;
      observed[i] = entry.gauss_observed(g)[a] != 0;
      double x = entry.values(g)[a];
      within[i] = observed[i] && x >= (*gs.lower)[a] && x <= (*gs.upper)[a];
      if (!within[i]) continue;
      // fmin/fmax take the number over the initial NaN.
      (*gs.reg_min)[a] = std::fmin((*gs.reg_min)[a], x);
      (*gs.reg_max)[a] = std::fmax((*gs.reg_max)[a], x);
    }
  }

  std::vector<double> counted;
  weighted_moments(cases, g, d, observed, gs.mean, gs.covar, counted);
  require_plain_defined(model, gs, counted, g);
  weighted_moments(cases, g, d, within, gs.reg_mean, gs.reg_covar, counted);
  gs.regular_defined = std::all_of(counted.begin(), counted.end(), [](double c) { return c >= 2; });
  if (settings.regular_stat) require_regular_defined(settings, model, counted, g);

  for (int a = 0; a < d; ++a) {
    AttrStat& stat = attrs[group.attrs[a]];
    stat.mean = (*gs.mean)[a];
    stat.variance = (*gs.covar)[a][a];
    stat.sd = std::sqrt(stat.variance);
  }
  gs.sample_mean = settings.regular_stat ? gs.reg_mean : gs.mean;
  gs.sample_covar = settings.regular_stat ? gs.reg_covar : gs.covar;
}

bool is_singular(const Matrix* covar) {
  // Each attribute's variance given the others, 1 / (S^-1)_ll, against its
  // own variance: one minus its squared multiple correlation with them.
  const int d = covar->rows;
  for (int i = 0; i < d; ++i) {
    if (!((*covar)[i][i] > 0.0)) return true;
  }
  Matrix* inv = new_matrix(d, d);
  bool singular = !inverse_spd(inv, covar).ok;
  for (int i = 0; i < d && !singular; ++i) {
    singular = !(1.0 / (*inv)[i][i] >= kSingularRatio * (*covar)[i][i]);
  }
  free_matrix(inv);
  return singular;
}

void check_singular(const Settings& settings, const Matrix* covar) {
  if (is_singular(covar)) {
    die("Sample covariance matrix is singular; please specify a diagonal covariance matrix by "
        "'%s const:Var'",
        get_option_str(kOptSmoothVar, option_table(settings.program), true).c_str());
  }
}

// Only the sample mode builds a prior scale from these matrices. rumelvb
// checks the plain ones; rumel the plain ones when its Gaussian prior is in
// use, and the regular ones always (those left undefined are never used).
void check_singular_covariances(const Settings& settings, const SampleStats& stats) {
  if (settings.smooth_var_mode != kSmoothVarSample) return;
  bool vb = settings.program == Program::kVb;
  for (const GroupStats& gs : stats.groups) {
    if (vb || settings.gauss_prior_used) check_singular(settings, gs.covar);
    if (!vb && gs.regular_defined) check_singular(settings, gs.reg_covar);
  }
}

}  // namespace

SampleStats compute_statistics(const Settings& settings, const AttrModel& model,
                               const CaseTable& cases) {
  SampleStats stats;
  stats.attrs.resize(model.attrs.size());
  for (int j = 0; j < static_cast<int>(model.attrs.size()); ++j) {
    if (model.attrs[j].role == AttrRole::kDiscrete) summarise_discrete(model, j, stats.attrs[j]);
  }
  stats.groups.resize(model.groups.size());
  for (int g = 0; g < static_cast<int>(model.groups.size()); ++g) {
    compute_group(settings, model, cases, g, stats.groups[g], stats.attrs);
  }
  check_singular_covariances(settings, stats);
  return stats;
}

void free_statistics(SampleStats& stats) {
  for (GroupStats& gs : stats.groups) {
    free_vector(gs.mean);
    free_matrix(gs.covar);
    free_vector(gs.lower);
    free_vector(gs.upper);
    free_vector(gs.reg_mean);
    free_matrix(gs.reg_covar);
    free_vector(gs.reg_min);
    free_vector(gs.reg_max);
    gs = GroupStats();
  }
  stats.groups.clear();
  stats.attrs.clear();
}

}  // namespace veska
