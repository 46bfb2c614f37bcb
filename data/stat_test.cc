#include "data/stat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/matrix.h"
#include "data/test_model.h"
#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::make_model;
using testing::make_settings;
using testing::Roles;
using testing::run_capturing;
using testing::TempDir;
using testing::write_file;

// One line of a case file made only of one Gaussian group's members: a
// value per member (nullopt: missing) and an occurrence count.
struct Line {
  std::vector<std::optional<double>> x;
  int count = 1;
};

std::string number(double x) {
  char text[32];
  snprintf(text, sizeof text, "%.17g", x);
  return text;
}

std::string case_text(const std::vector<Line>& lines, bool with_counts) {
  std::string text;
  for (const Line& line : lines) {
    std::string row;
    for (size_t a = 0; a < line.x.size(); ++a) {
      if (a > 0) row += ",";
      row += line.x[a] ? number(*line.x[a]) : "?";
    }
    if (with_counts) {
      text += row + "," + std::to_string(line.count) + "\n";
    } else {
      for (int c = 0; c < line.count; ++c) text += row + "\n";
    }
  }
  return text;
}

// ---- reference computation over the occurrences, one at a time ---------

using Occurrence = std::vector<std::optional<double>>;

std::vector<Occurrence> occurrences(const std::vector<Line>& lines) {
  std::vector<Occurrence> out;
  for (const Line& line : lines) out.insert(out.end(), static_cast<size_t>(line.count), line.x);
  return out;
}

// The textbook linear-interpolation quantile of the sorted sample,
// position (n - 1) p counted from 0.
double reference_quantile(const std::vector<Occurrence>& occ, int a, double p) {
  std::vector<double> xs;
  for (const Occurrence& o : occ) {
    if (o[a]) xs.push_back(*o[a]);
  }
  std::sort(xs.begin(), xs.end());
  double h = (xs.size() - 1) * p;
  size_t b = static_cast<size_t>(std::floor(h));
  if (b + 1 >= xs.size()) return xs.back();
  return xs[b] + (h - b) * (xs[b + 1] - xs[b]);
}

struct Moments {
  std::vector<double> mean;
  std::vector<std::vector<double>> covar;
};

// Means over the occurrences where a member counts; covariances over those
// where both count, divided by the number of occurrences where at least one
// counts, minus one.
Moments reference_moments(const std::vector<Occurrence>& occ, int d,
                          const std::function<bool(const Occurrence&, int)>& counts) {
  Moments m;
  m.mean.assign(d, 0.0);
  m.covar.assign(d, std::vector<double>(d, 0.0));
  for (int a = 0; a < d; ++a) {
    double sum = 0;
    int n = 0;
    for (const Occurrence& o : occ) {
      if (counts(o, a)) {
        sum += *o[a];
        ++n;
      }
    }
    m.mean[a] = sum / n;
  }
  for (int a = 0; a < d; ++a) {
    for (int b = 0; b < d; ++b) {
      double sum = 0;
      int either = 0;
      for (const Occurrence& o : occ) {
        if (counts(o, a) && counts(o, b)) sum += (*o[a] - m.mean[a]) * (*o[b] - m.mean[b]);
        if (counts(o, a) || counts(o, b)) ++either;
      }
      m.covar[a][b] = sum / (either - 1);
    }
  }
  return m;
}

bool observed(const Occurrence& o, int a) { return o[a].has_value(); }

// ---- fixture ----------------------------------------------------------------

class Statistics : public ::testing::Test {
 protected:
  Statistics() { settings_ = make_settings(path_); }
  ~Statistics() override { free_statistics(stats_); }

  // Reads `text` with roles `r` and computes the statistics.
  testing::FatalResult compute(const std::string& text, const Roles& r) {
    write_file(path_, text);
    model_ = make_model(r);
    free_statistics(stats_);
    return run_capturing([&] {
      table_ = read_cases(settings_, model_);
      stats_ = compute_statistics(settings_, model_, table_);
    });
  }
  // One group made of every attribute.
  testing::FatalResult compute(const std::vector<Line>& lines, bool with_counts = true) {
    int d = static_cast<int>(lines.front().x.size());
    std::vector<int> members;
    for (int a = 0; a < d; ++a) members.push_back(a);
    return compute(case_text(lines, with_counts), Roles(d).group(members));
  }

  const GroupStats& group(int g = 0) { return stats_.groups[static_cast<size_t>(g)]; }

  void expect_moments(const Vector* mean, const Matrix* covar, const Moments& want) {
    int d = static_cast<int>(want.mean.size());
    ASSERT_EQ(mean->n, d);
    ASSERT_EQ(covar->rows, d);
    for (int a = 0; a < d; ++a) {
      EXPECT_NEAR((*mean)[a], want.mean[a], 1e-12) << "mean " << a;
      for (int b = 0; b < d; ++b) {
        EXPECT_NEAR((*covar)[a][b], want.covar[a][b], 1e-12) << "covar " << a << "," << b;
      }
    }
  }

  TempDir dir_;
  std::string path_ = dir_.file("s_freq.csv");
  Settings settings_;
  AttrModel model_;
  CaseTable table_;
  SampleStats stats_;
};

// Three members, each missing somewhere, one pair missing together; counts
// above one.
const std::vector<Line> kWithMissing = {
    {{1.0, 2.0, 0.5}, 2},        {{2.0, std::nullopt, 1.5}, 1}, {{std::nullopt, 4.0, 2.5}, 3},
    {{4.0, 3.0, std::nullopt}, 1}, {{5.5, 7.0, -1.0}, 1},
    {{std::nullopt, std::nullopt, 3.0}, 2}, {{3.0, 1.0, 0.0}, 1},
    {{-2.0, 6.0, 4.0}, 2}};

TEST_F(Statistics, PlainMomentsUseTheObservedOccurrencesOnly) {
  auto res = compute(kWithMissing);
  ASSERT_FALSE(res.exited) << res.log;
  std::vector<Occurrence> occ = occurrences(kWithMissing);
  Moments want = reference_moments(occ, 3, observed);
  expect_moments(group().mean, group().covar, want);
  EXPECT_EQ(group().sample_mean, group().mean);
  EXPECT_EQ(group().sample_covar, group().covar);

  for (int j = 0; j < 3; ++j) {
    const AttrStat& s = stats_.attrs[j];
    EXPECT_NEAR(s.mean, want.mean[j], 1e-12);
    EXPECT_NEAR(s.variance, want.covar[j][j], 1e-12);
    EXPECT_NEAR(s.sd, std::sqrt(want.covar[j][j]), 1e-12);
    EXPECT_DOUBLE_EQ(s.median, reference_quantile(occ, j, 0.5));
    const double levels[9] = {0, 0.05, 0.1, 0.25, 0.5, 0.75, 0.9, 0.95, 1};
    for (int i = 0; i < 9; ++i) {
      EXPECT_NEAR(s.percentiles[i], reference_quantile(occ, j, levels[i]), 1e-12) << j << " " << i;
    }
    EXPECT_EQ(s.min, s.percentiles[0]);
    EXPECT_EQ(s.max, s.percentiles[8]);
  }
  EXPECT_EQ(stats_.attrs[1].min, 1.0);
  EXPECT_EQ(stats_.attrs[2].max, 4.0);
}

TEST_F(Statistics, CountsWeighLikeRepeatedLines) {
  ASSERT_FALSE(compute(kWithMissing, true).exited);
  SampleStats counted = stats_;
  stats_ = SampleStats();  // keep the first result's store objects alive
  ASSERT_FALSE(compute(kWithMissing, false).exited);
  EXPECT_EQ(table_.n_cases, 13);
  EXPECT_EQ(table_.n_entries, 13);

  const GroupStats& a = counted.groups[0];
  const GroupStats& b = group();
  for (int i = 0; i < 3; ++i) {
    EXPECT_DOUBLE_EQ((*a.lower)[i], (*b.lower)[i]);
    EXPECT_DOUBLE_EQ((*a.upper)[i], (*b.upper)[i]);
    EXPECT_NEAR((*a.mean)[i], (*b.mean)[i], 1e-12);
    EXPECT_NEAR((*a.reg_mean)[i], (*b.reg_mean)[i], 1e-12);
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR((*a.covar)[i][k], (*b.covar)[i][k], 1e-12);
      EXPECT_NEAR((*a.reg_covar)[i][k], (*b.reg_covar)[i][k], 1e-12);
    }
    for (int p = 0; p < 9; ++p) {
      EXPECT_DOUBLE_EQ(counted.attrs[i].percentiles[p], stats_.attrs[i].percentiles[p]);
    }
  }
  free_statistics(counted);
}

// x = 1..10 (weights 1 to 3), y with a missing value and an outlier.
const std::vector<Line> kWithExtremes = {
    {{1.0, 2.0}, 1}, {{2.0, 2.5}, 2}, {{3.0, std::nullopt}, 1}, {{4.0, 3.5}, 1},
    {{5.0, 40.0}, 1}, {{6.0, 4.5}, 3}, {{7.0, 5.0}, 1}, {{8.0, -30.0}, 1},
    {{9.0, 6.0}, 2}, {{10.0, 6.5}, 1}, {{std::nullopt, 7.0}, 1}};

TEST_F(Statistics, RegularMomentsLeaveValuesOutsideTheBoundsOut) {
  settings_.extreme_low = 0.1;
  settings_.extreme_high = 0.9;
  auto res = compute(kWithExtremes);
  ASSERT_FALSE(res.exited) << res.log;
  std::vector<Occurrence> occ = occurrences(kWithExtremes);
  double lo[2], hi[2];
  for (int a = 0; a < 2; ++a) {
    lo[a] = reference_quantile(occ, a, 0.1);
    hi[a] = reference_quantile(occ, a, 0.9);
    EXPECT_NEAR((*group().lower)[a], lo[a], 1e-12);
    EXPECT_NEAR((*group().upper)[a], hi[a], 1e-12);
  }
  auto within = [&](const Occurrence& o, int a) {
    return o[a] && *o[a] >= lo[a] && *o[a] <= hi[a];
  };
  // The outliers of y lie outside its bounds, and so do x's ends.
  ASSERT_FALSE(within({1.0, 40.0}, 1));
  ASSERT_FALSE(within({1.0, -30.0}, 1));
  ASSERT_FALSE(within({1.0, 2.0}, 0));
  Moments want = reference_moments(occ, 2, within);
  expect_moments(group().reg_mean, group().reg_covar, want);
  EXPECT_TRUE(group().regular_defined);
  EXPECT_EQ((*group().reg_min)[0], 2.0);
  EXPECT_EQ((*group().reg_max)[0], 9.0);
  EXPECT_EQ((*group().reg_min)[1], 2.5);
  EXPECT_EQ((*group().reg_max)[1], 6.5);
  // The plain pair is what later stages see...
  EXPECT_EQ(group().sample_mean, group().mean);

  // ...unless the regular statistics are asked for.
  settings_.regular_stat = true;
  ASSERT_FALSE(compute(kWithExtremes).exited);
  EXPECT_EQ(group().sample_mean, group().reg_mean);
  EXPECT_EQ(group().sample_covar, group().reg_covar);
  expect_moments(group().sample_mean, group().sample_covar, want);
}

TEST_F(Statistics, WithoutExtremeValuesRegularEqualsPlain) {
  settings_.extreme_low = 0.0;
  settings_.extreme_high = 1.0;
  ASSERT_FALSE(compute(kWithMissing).exited);
  for (int a = 0; a < 3; ++a) {
    EXPECT_EQ((*group().reg_mean)[a], (*group().mean)[a]);
    EXPECT_EQ((*group().reg_min)[a], stats_.attrs[a].min);
    EXPECT_EQ((*group().reg_max)[a], stats_.attrs[a].max);
    for (int b = 0; b < 3; ++b) EXPECT_EQ((*group().reg_covar)[a][b], (*group().covar)[a][b]);
  }
}

TEST_F(Statistics, TooFewValuesWithinTheBoundsLeaveRegularElementsUndefined) {
  // Bounds 1.2 and 2.8 keep only the 2 of x, and 1.2 and 4.4 only the 2 of y.
  const std::vector<Line> three = {{{1.0, 1.0}, 1}, {{2.0, 5.0}, 1}, {{3.0, 2.0}, 1}};
  settings_.extreme_low = 0.1;
  settings_.extreme_high = 0.9;
  auto res = compute(three);
  ASSERT_FALSE(res.exited) << res.log;
  EXPECT_FALSE(group().regular_defined);
  EXPECT_EQ((*group().reg_mean)[0], 2.0);
  EXPECT_TRUE(std::isnan((*group().reg_covar)[0][0]));
  EXPECT_TRUE(std::isnan((*group().reg_covar)[0][1]));
  EXPECT_TRUE(std::isnan((*group().reg_covar)[1][0]));
  // The plain pair is unaffected and still the one used.
  EXPECT_FALSE(has_non_finite(group().covar));
  EXPECT_EQ(group().sample_covar, group().covar);

  settings_.regular_stat = true;
  res = compute(three);
  ASSERT_TRUE(res.exited);
  EXPECT_EQ(res.status, 1);
  EXPECT_EQ(res.log,
            "Too few values (1) of attribute 0 within the extreme-value bounds for computing "
            "sample means/covars; please specify a smaller value by '--extreme'\n");

  // A member with no value within its bounds has no regular mean either.
  settings_.regular_stat = false;
  settings_.extreme_low = 0.5;
  settings_.extreme_high = 0.5;
  ASSERT_FALSE(compute({{{1.0}, 1}, {{2.0}, 1}}).exited);
  EXPECT_TRUE(std::isnan((*group().reg_mean)[0]));
  EXPECT_TRUE(std::isnan((*group().reg_min)[0]));
}

TEST_F(Statistics, PlainMomentsNeedTwoObservedOccurrences) {
  auto res = compute({{{1.0, 2.0}, 1}, {{2.0, std::nullopt}, 1}, {{4.0, std::nullopt}, 1}});
  ASSERT_TRUE(res.exited);
  EXPECT_EQ(res.log, "Too few observed values (1) of attribute 1 for computing its sample variance\n");

  // Observed once but with a count of two is enough (its zero variance
  // would be singular as a prior scale).
  settings_.smooth_var_mode = kSmoothVarConst;
  ASSERT_FALSE(compute({{{1.0, 2.0}, 2}, {{2.0, std::nullopt}, 1}}).exited);
  EXPECT_EQ((*group().covar)[1][1], 0.0);

  // Never observed: the bounds cannot be taken.
  res = compute({{{1.0, std::nullopt}, 1}, {{2.0, std::nullopt}, 1}});
  ASSERT_TRUE(res.exited);
  EXPECT_EQ(res.log, "Too small data (size = 0) for computing 0.050000-quantile\r\n");
}

const char kSingular[] =
    "Sample covariance matrix is singular; please specify a diagonal covariance matrix by "
    "'--smooth-var const:Var'";

TEST_F(Statistics, SingularPlainCovarianceStopsRumelvbInTheSampleMode) {
  // Two identical columns next to an independent one (a 3 x 3 group) and a
  // 4 x 4 group with a column that is the sum of two others (column sums
  // divisible by 5 keep the arithmetic exact).
  std::string text =
      "1,1,5,1,2,3,3\n2,2,1,2,1,0,3\n3,3,4,5,6,1,11\n7,7,2,3,1,4,4\n4,4,4,4,0,7,4\n";
  Roles both = Roles(7).group({0, 1, 2}).group({3, 4, 5, 6});
  auto res = compute(text, both);
  ASSERT_TRUE(res.exited);
  EXPECT_EQ(res.log, kSingular);

  res = compute(text, Roles(7).group({0, 2}).group({3, 4, 5, 6}));
  ASSERT_TRUE(res.exited);  // the 4 x 4 one, through the factorising path
  EXPECT_EQ(res.log, kSingular);
  ASSERT_FALSE(compute(text, Roles(7).group({0, 2}).group({3, 4, 5})).exited);

  settings_.smooth_var_mode = kSmoothVarConst;
  ASSERT_FALSE(compute(text, both).exited);
}

TEST_F(Statistics, SingularTestDependsNeitherOnTheUnitsNorOnTheDimension) {
  for (Program program : {Program::kVb, Program::kMlMap}) {
    // Nonsingular data in small units: |S| is about 1e-16, far below an
    // absolute threshold, yet the matrix is as regular as in any other unit.
    settings_.program = program;
    settings_.gauss_prior_used = true;
    std::string small = "0.0001,0.0002\n0.0003,0.0001\n0.0002,0.0005\n0.0004,0.0003\n";
    ASSERT_FALSE(compute(small, Roles(2).group({0, 1})).exited);
    EXPECT_LT(std::fabs(det_general(group().covar).det), 1e-15);
    // Twelve strongly correlated columns: |R| is far below 1e-12, yet no
    // column is a combination of the others.
    std::string wide;
    unsigned state = 7;
    for (int i = 0; i < 60; ++i) {
      state = state * 1103515245u + 12345u;
      const double common = static_cast<double>(state >> 8 & 1023) / 64.0;
      for (int j = 0; j < 12; ++j) {
        state = state * 1103515245u + 12345u;
        wide += std::to_string(common + static_cast<double>(state >> 8 & 1023) / 2048.0);
        wide += j < 11 ? "," : "\n";
      }
  }
  Roles twelve(12);
  std::vector<int> all(12);
  for (int j = 0; j < 12; ++j) all[j] = j;
  ASSERT_FALSE(compute(wide, twelve.group(all)).exited);
  EXPECT_LT(det_general(group().covar).det, 1e-12 * [&] {
    double p = 1.0;
    for (int j = 0; j < 12; ++j) p *= (*group().covar)[j][j];
    return p;
  }());
  // Nearly collinear columns are singular at any scale.
  std::string flat = "1,2.000000000001\n2,4\n3,6\n4,8.000000000001\n";
  auto res = compute(flat, Roles(2).group({0, 1}));
  ASSERT_TRUE(res.exited);
  EXPECT_EQ(res.log, kSingular);
  }
}

TEST_F(Statistics, RumelChecksPlainMatricesOnlyWithItsPriorAndRegularOnesAlways) {
  settings_.program = Program::kMlMap;
  // Identical columns: the plain matrix is singular; the bounds keep a
  // single occurrence, so the regular matrix is undefined and never used.
  std::vector<Line> identical = {{{1.0, 1.0}, 1}, {{2.0, 2.0}, 1}, {{3.0, 3.0}, 1}};
  ASSERT_FALSE(compute(identical).exited);
  settings_.gauss_prior_used = true;
  auto res = compute(identical);
  ASSERT_TRUE(res.exited);
  EXPECT_EQ(res.log, kSingular);

  // A constant core with one value far out on each side: only the regular
  // variance is zero.
  settings_.gauss_prior_used = false;
  std::vector<Line> core = {{{1.0}, 1}, {{5.0}, 9}, {{100.0}, 1}};
  res = compute(core);
  ASSERT_TRUE(res.exited);
  EXPECT_EQ(res.log, kSingular);
  settings_.program = Program::kVb;
  ASSERT_FALSE(compute(core).exited);
  EXPECT_EQ((*group().reg_covar)[0][0], 0.0);
}

TEST_F(Statistics, DiscreteSummariesGiveValueCountAndMode) {
  // The mode follows lines, not counts: b is on three lines, a on two of
  // which one counts 5.
  auto res = compute("a,x,1.5\nb,?,2\nb,?,4\na,y,3,5\nc,?,?\nb,?,1\n", Roles(3).group({2}));
  ASSERT_FALSE(res.exited) << res.log;
  EXPECT_EQ(stats_.attrs[0].n_values, 3);
  EXPECT_EQ(stats_.attrs[0].mode, "b");
  EXPECT_EQ(stats_.attrs[0].mode_count, 3);
  // A tie goes to the smaller name.
  EXPECT_EQ(stats_.attrs[1].n_values, 2);
  EXPECT_EQ(stats_.attrs[1].mode, "x");
  EXPECT_EQ(stats_.attrs[1].mode_count, 1);
  EXPECT_DOUBLE_EQ(stats_.attrs[2].mean, (1.5 + 2 + 4 + 15 + 1) / 9);
  EXPECT_DOUBLE_EQ(stats_.attrs[2].median, 3.0);

  // Missing everywhere: no mode.
  ASSERT_FALSE(compute("?,1\n?,2\n", Roles(2).group({1})).exited);
  EXPECT_EQ(stats_.attrs[0].n_values, 0);
  EXPECT_EQ(stats_.attrs[0].mode, "?");
  EXPECT_EQ(stats_.attrs[0].mode_count, 0);
}

}  // namespace
}  // namespace veska
