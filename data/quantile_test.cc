#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "common/misc.h"
#include "data/stat.h"
#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::run_capturing;

double quantile(double p, const std::vector<double>& values, const std::vector<double>& weights) {
  return weighted_quantile(p, static_cast<int>(values.size()), values.data(), weights.data());
}

TEST(WeightedQuantile, InterpolatesBetweenNeighbouringRanks) {
  std::vector<double> values{3, 1, 4, 2};  // order of input does not matter
  std::vector<double> ones{1, 1, 1, 1};
  EXPECT_DOUBLE_EQ(quantile(0.25, values, ones), 1.75);
  EXPECT_DOUBLE_EQ(quantile(0.5, values, ones), 2.5);
  EXPECT_DOUBLE_EQ(quantile(0.0, values, ones), 1.0);
  EXPECT_DOUBLE_EQ(quantile(1.0, values, ones), 4.0);
  EXPECT_DOUBLE_EQ(quantile(0.9, values, ones), 3.7);
  EXPECT_DOUBLE_EQ(quantile(0.5, {7}, {1}), 7.0);
}

TEST(WeightedQuantile, BetweenCopiesOfOneValueIsExactlyThatValue) {
  // Interpolating 1.3 with itself at these positions drifts by an ulp, which
  // would put a bound just beside the value.
  EXPECT_EQ(quantile(0.05, {1.3}, {2}), 1.3);
  EXPECT_EQ(quantile(0.9, {1.3}, {3}), 1.3);
  EXPECT_EQ(quantile(0.1, {1.3, 0.5}, {18, 1}), 1.3);
}

TEST(WeightedQuantile, WeightsStandForRepeatedValues) {
  // Position 2.5 falls between two copies of 10; position 3.85 between the
  // last 10 and the 20.
  EXPECT_DOUBLE_EQ(quantile(0.5, {10, 20}, {3, 1}), 10.0);
  EXPECT_DOUBLE_EQ(quantile(0.95, {20, 10}, {1, 3}), 18.5);

  // The same sample compressed with counts and written out one per value.
  std::vector<double> compressed{5, -1, 2.5, 8};
  std::vector<double> counts{2, 3, 1, 4};
  std::vector<double> expanded, ones;
  for (size_t i = 0; i < compressed.size(); ++i) {
    for (int c = 0; c < counts[i]; ++c) {
      expanded.push_back(compressed[i]);
      ones.push_back(1);
    }
  }
  for (double p : {0.0, 0.05, 0.1, 0.25, 0.333, 0.5, 0.75, 0.9, 0.95, 1.0}) {
    EXPECT_DOUBLE_EQ(quantile(p, compressed, counts), quantile(p, expanded, ones)) << p;
  }
}

TEST(WeightedQuantile, OneSortedSampleAnswersEveryLevel) {
  // Counts 1 to 3 on values with many ties, against the plain interpolation
  // on the sample written out one per value.
  std::vector<double> values, counts, expanded;
  unsigned state = 12345;
  for (int i = 0; i < 2000; ++i) {
    state = state * 1103515245u + 12345u;
    values.push_back(static_cast<double>((state >> 8) % 300) / 7.0);
    counts.push_back(1.0 + (state >> 20) % 3);
    expanded.insert(expanded.end(), static_cast<size_t>(counts.back()), values.back());
  }
  std::sort(expanded.begin(), expanded.end());
  const SortedSample sample(static_cast<int>(values.size()), values.data(), counts.data());
  for (int i = 0; i <= 20; ++i) {
    const double p = i / 20.0;
    const double h = 1.0 + p * (static_cast<double>(expanded.size()) - 1.0);
    const size_t b = static_cast<size_t>(h);
    const double below = expanded[b - 1], above = expanded[std::min(b, expanded.size() - 1)];
    EXPECT_DOUBLE_EQ(sample.quantile(p), below + (h - std::floor(h)) * (above - below)) << p;
  }
}

TEST(WeightedQuantile, EmptySampleIsFatal) {
  auto res = run_capturing([] { quantile(0.05, {}, {}); });
  ASSERT_TRUE(res.exited);
  EXPECT_EQ(res.status, 1);
  EXPECT_EQ(res.msg, "Too small data (size = 0) for computing 0.050000-quantile\r\n");
  EXPECT_EQ(res.log, res.msg);

  // Position 1 at p = 0 exists even without weight; still an empty sample.
  res = run_capturing([] { quantile(0.0, {}, {}); });
  ASSERT_TRUE(res.exited);
  EXPECT_EQ(res.msg, "Too small data (size = 0) for computing 0.000000-quantile\r\n");
}

}  // namespace
}  // namespace veska
