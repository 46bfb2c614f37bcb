#include "data/kmeans_start.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "common/random.h"
#include "common/workers.h"
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

// A case file read and summarised as the estimation sees it.
struct Loaded {
  TempDir dir;
  AttrModel model;
  CaseTable cases;
  SampleStats stats;
  ~Loaded() { free_statistics(stats); }

  std::vector<int> partition(uint32_t seed, int K) const {
    rng_seed(seed);
    return kmeans_partition(model, cases, stats, K);
  }
};

std::unique_ptr<Loaded> load(const std::string& text, const Roles& roles, bool uncompress = false) {
  auto d = std::make_unique<Loaded>();
  Settings s = make_settings(d->dir.file("d_freq.csv"));
  s.uncompress = uncompress;
  write_file(s.files.cases, text);
  d->model = make_model(roles);
  auto res = run_capturing([&] {
    d->cases = read_cases(s, d->model);
    d->stats = compute_statistics(s, d->model, d->cases);
  });
  EXPECT_FALSE(res.exited) << res.log << res.msg;
  return d;
}

// Cases of a known mixture: `classes` classes, a 2-D Gaussian block
// (attributes 0, 1) whose class means lie `spacing` apart, and `n_disc`
// discrete attributes whose class keeps one value with probability `keep`.
// Missing values ("?") with probability `missing`. Returns the text and the
// class of each line.
struct Mixture {
  std::string text;
  std::vector<int> truth;
};

struct Overlap {
  double spacing = 8.0;
  double keep = 0.9;
};

Mixture mixture(int classes, int n_disc, int lines, double missing, unsigned seed,
                double x_scale = 1.0, Overlap overlap = {}) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::normal_distribution<double> noise(0.0, 1.0);
  Mixture m;
  for (int i = 0; i < lines; ++i) {
    const int k = i % classes;
    std::string row;
    for (int a = 0; a < 2; ++a) {
      const double x = (overlap.spacing * (a == 0 ? k : (k * 7) % classes) + noise(gen)) * x_scale;
      row += (u(gen) < missing ? std::string("?") : std::to_string(x)) + ",";
    }
    for (int j = 0; j < n_disc; ++j) {
      const int v = u(gen) < overlap.keep ? (k + j) % 4 : static_cast<int>(u(gen) * 4);
      row += (u(gen) < missing ? std::string("?") : std::string(1, static_cast<char>('a' + v)));
      row += j + 1 < n_disc ? "," : "";
    }
    m.text += row + "\n";
    m.truth.push_back(k);
  }
  return m;
}

Roles mixture_roles(int n_disc) { return Roles(2 + n_disc).group({0, 1}); }

// Same grouping up to the names of the groups.
bool same_grouping(const std::vector<int>& a, const std::vector<int>& b) {
  if (a.size() != b.size()) return false;
  std::map<int, int> ab, ba;
  for (size_t i = 0; i < a.size(); ++i) {
    if (ab.emplace(a[i], b[i]).first->second != b[i]) return false;
    if (ba.emplace(b[i], a[i]).first->second != a[i]) return false;
  }
  return true;
}

// Cases in the group that holds most of their class, summed over classes,
// and the same with classes and groups swapped: the smaller of the two, so
// that merged classes count as badly as split ones.
int agreement(const std::vector<int>& groups, const std::vector<int>& truth, int K) {
  std::map<std::pair<int, int>, int> table;
  for (size_t i = 0; i < groups.size(); ++i) ++table[{truth[i], groups[i]}];
  int by_class = 0, by_group = 0;
  for (int a = 0; a < K; ++a) {
    int best_group = 0, best_class = 0;
    for (int b = 0; b < K; ++b) {
      best_group = std::max(best_group, table[{a, b}]);
      best_class = std::max(best_class, table[{b, a}]);
    }
    by_class += best_group;
    by_group += best_class;
  }
  return std::min(by_class, by_group);
}

void expect_valid(const std::vector<int>& groups, size_t entries, int K) {
  ASSERT_EQ(groups.size(), entries);
  for (int g : groups) {
    EXPECT_GE(g, 0);
    EXPECT_LT(g, K);
  }
}

// ---- an independent reference of the space and of Lloyd's fixed point -----
//
// The entries as explicit dense vectors: members divided by their weighted
// sample standard deviation, one-hot columns of a discrete attribute
// multiplied by 1 / sqrt(1 - sum of squared value shares); NaN marks a
// missing column.
std::vector<std::vector<double>> dense_points(const Loaded& d) {
  const CaseTable& t = d.cases;
  std::vector<std::vector<double>> pts(t.entries.size());
  for (int g = 0; g < d.model.n_groups; ++g) {
    for (int m = 0; m < d.model.groups[static_cast<size_t>(g)].size(); ++m) {
      double w = 0, s = 0, ss = 0;
      for (const CaseEntry& e : t.entries) {
        if (e.gauss_observed(g)[m] == 0) continue;
        w += e.total;
        s += e.total * e.values(g)[m];
      }
      const double mean = s / w;
      for (const CaseEntry& e : t.entries) {
        if (e.gauss_observed(g)[m] != 0) ss += e.total * std::pow(e.values(g)[m] - mean, 2);
      }
      const double sd = std::sqrt(ss / (w - 1));
      for (size_t i = 0; i < t.entries.size(); ++i) {
        const CaseEntry& e = t.entries[i];
        pts[i].push_back(e.gauss_observed(g)[m] != 0 ? e.values(g)[m] / sd : NAN);
      }
    }
  }
  for (int j = 0; j < d.model.n_discrete; ++j) {
    const int nv = d.model.values[static_cast<size_t>(j)].n_values;
    std::vector<double> count(static_cast<size_t>(nv), 0.0);
    double w = 0;
    for (const CaseEntry& e : t.entries) {
      const int c = e.codes()[static_cast<size_t>(j)];
      if (c >= 0) {
        count[static_cast<size_t>(c)] += e.total;
        w += e.total;
      }
    }
    double conc = 0;
    for (double c : count) conc += (c / w) * (c / w);
    const double scale = 1.0 / std::sqrt(1.0 - conc);
    for (size_t i = 0; i < t.entries.size(); ++i) {
      const int c = t.entries[i].codes()[static_cast<size_t>(j)];
      for (int v = 0; v < nv; ++v) pts[i].push_back(c < 0 ? NAN : (v == c ? scale : 0.0));
    }
  }
  return pts;
}

// Converged Lloyd: every entry is at least as near (over its observed
// columns) to the weighted mean of its own group as to any other group's.
void expect_lloyd_fixed_point(const Loaded& d, const std::vector<int>& groups, int K) {
  const auto pts = dense_points(d);
  const size_t D = pts[0].size();
  std::vector<std::vector<double>> sum(static_cast<size_t>(K), std::vector<double>(D, 0.0));
  auto weight = sum;
  for (size_t i = 0; i < pts.size(); ++i) {
    for (size_t c = 0; c < D; ++c) {
      if (std::isnan(pts[i][c])) continue;
      sum[static_cast<size_t>(groups[i])][c] += d.cases.entries[i].total * pts[i][c];
      weight[static_cast<size_t>(groups[i])][c] += d.cases.entries[i].total;
    }
  }
  for (size_t i = 0; i < pts.size(); ++i) {
    std::vector<double> dist(static_cast<size_t>(K), 0.0);
    for (int k = 0; k < K; ++k) {
      for (size_t c = 0; c < D; ++c) {
        if (std::isnan(pts[i][c]) || weight[static_cast<size_t>(k)][c] == 0) continue;
        dist[static_cast<size_t>(k)] +=
            std::pow(pts[i][c] - sum[static_cast<size_t>(k)][c] / weight[static_cast<size_t>(k)][c], 2);
      }
    }
    for (int k = 0; k < K; ++k) {
      EXPECT_LE(dist[static_cast<size_t>(groups[i])], dist[static_cast<size_t>(k)] + 1e-9)
          << "entry " << i << " group " << groups[i] << " nearer to " << k;
    }
  }
}

// ---- tests ------------------------------------------------------------------

TEST(KmeansPartition, RecoversSeparatedClassesAndIsALloydFixedPoint) {
  // Under 200 cases no share of them counts as settled: Lloyd runs to its
  // fixed point.
  const Mixture m = mixture(4, 3, 196, 0.0, 1);
  auto d = load(m.text, mixture_roles(3));
  for (uint32_t seed : {1u, 2u, 3u}) {
    std::vector<int> groups = d->partition(seed, 4);
    expect_valid(groups, m.truth.size(), 4);
    // A case whose discrete values mostly strayed may sit nearer another
    // class; nothing else may.
    EXPECT_GE(agreement(groups, m.truth, 4), 194) << "seed " << seed;
    expect_lloyd_fixed_point(*d, groups, 4);
  }
}

TEST(KmeansPartition, OverlappingClassesEndAtAFixedPointOfTheSpace) {
  // Many cases near the borders of the groups: a distance other than the
  // documented one moves some of them.
  const Mixture m = mixture(3, 3, 190, 0.15, 6, 1.0, Overlap{1.5, 0.5});
  auto d = load(m.text, mixture_roles(3));
  for (uint32_t seed : {1u, 2u, 3u, 4u}) expect_lloyd_fixed_point(*d, d->partition(seed, 3), 3);
}

TEST(KmeansPartition, MissingValuesStayOutOfDistancesAndCentres) {
  // A fifth of the values missing: the groups are still the classes, apart
  // from cases whose informative values are nearly all gone, and the result
  // is a fixed point of the distance over the observed columns.
  const Mixture m = mixture(3, 4, 180, 0.2, 2);
  auto d = load(m.text, mixture_roles(4));
  std::vector<int> groups = d->partition(7, 3);
  expect_valid(groups, m.truth.size(), 3);
  expect_lloyd_fixed_point(*d, groups, 3);
  EXPECT_GE(agreement(groups, m.truth, 3), 171);
}

TEST(KmeansPartition, SameSeedSameGroupsAndUnitsDoNotMatter) {
  const Mixture m = mixture(5, 2, 250, 0.05, 3);
  auto d = load(m.text, mixture_roles(2));
  EXPECT_EQ(d->partition(11, 5), d->partition(11, 5));
  // The continuous values in other units: standardising removes the unit.
  auto scaled = load(mixture(5, 2, 250, 0.05, 3, 1000.0).text, mixture_roles(2));
  EXPECT_TRUE(same_grouping(d->partition(11, 5), scaled->partition(11, 5)));
}

TEST(KmeansPartition, SameGroupsOnEveryThreadCount) {
  // Several chunks of the assignment step, holes included.
  const Mixture m = mixture(5, 2, 7000, 0.05, 4, 1.0, Overlap{2.0, 0.6});
  auto d = load(m.text, mixture_roles(2));
  const std::vector<int> one = d->partition(3, 5);
  for (int threads : {2, 3, 7}) {
    start_workers(threads);
    EXPECT_EQ(d->partition(3, 5), one) << threads;
  }
  stop_workers();
}

TEST(KmeansPartition, OccurrenceCountsWeighLikeRepeatedLines) {
  // Discrete cases: a pattern with count c groups like c copies of its line.
  std::mt19937 gen(4);
  std::string counted, repeated;
  std::vector<int> copies;
  for (int i = 0; i < 60; ++i) {
    std::string row;
    for (int j = 0; j < 4; ++j) row += std::string(1, static_cast<char>('a' + gen() % 3)) + (j < 3 ? "," : "");
    const int c = 1 + static_cast<int>(gen() % 2);
    counted += row + "," + std::to_string(c) + "\n";
    for (int r = 0; r < c; ++r) repeated += row + "\n";
    copies.push_back(c);
  }
  auto a = load(counted, Roles(4), true);
  auto b = load(repeated, Roles(4), true);
  std::vector<int> ga = a->partition(5, 4), gb = b->partition(5, 4);
  std::vector<int> expanded;
  for (size_t i = 0; i < ga.size(); ++i) expanded.insert(expanded.end(), static_cast<size_t>(copies[i]), ga[i]);
  EXPECT_TRUE(same_grouping(expanded, gb));
}

TEST(KmeansPartition, UninformativeAttributesChangeNothing) {
  // An attribute never observed, and one with a single value, weigh nothing:
  // the groups are those of the data without them, bit for bit.
  std::string plain, extra;
  const Mixture m = mixture(3, 2, 150, 0.1, 5);
  size_t at = 0;
  for (size_t end; (end = m.text.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = m.text.substr(at, end - at);
    plain += line + "\n";
    extra += line + ",?,same\n";
  }
  auto a = load(plain, mixture_roles(2));
  auto b = load(extra, mixture_roles(4));
  EXPECT_EQ(a->partition(9, 3), b->partition(9, 3));
}

TEST(KmeansPartition, MoreGroupsThanDistinctEntriesAndIdenticalCases) {
  // Three distinct continuous cases, each repeated: with K = 5 every copy
  // joins its twins and two groups stay empty.
  std::string text;
  for (int r = 0; r < 4; ++r) text += "1,2\n5,2\n1,9\n";
  auto d = load(text, Roles(2).group({0, 1}));
  for (uint32_t seed : {1u, 2u}) {
    std::vector<int> groups = d->partition(seed, 5);
    expect_valid(groups, 12, 5);
    std::set<int> used(groups.begin(), groups.end());
    EXPECT_EQ(used.size(), 3u);
    for (size_t i = 3; i < groups.size(); ++i) EXPECT_EQ(groups[i], groups[i % 3]);
  }
  // All cases identical (discrete): one group holds them all.
  auto same = load("a,b\na,b\na,b\n", Roles(2), true);
  EXPECT_EQ(same->partition(3, 4), (std::vector<int>{0, 0, 0}));
  // A case with every value missing is still assigned.
  auto blank = load("a,b\nc,d\n?,?\na,d\n", Roles(2));
  expect_valid(blank->partition(1, 3), 4, 3);
}

TEST(KmeansPartition, RarePatternStillGetsAGroup) {
  // K = 2 on two distinct patterns, one holding almost every occurrence:
  // both groups are used whatever the draws.
  auto d = load("a,1000\nb,1\n", Roles(1));
  for (uint32_t seed = 0; seed < 20; ++seed) {
    std::vector<int> groups = d->partition(seed, 2);
    EXPECT_NE(groups[0], groups[1]) << "seed " << seed;
  }
}

}  // namespace
}  // namespace veska
