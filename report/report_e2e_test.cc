// The report of real rumelvb runs: the numbers behind each plot against the
// files they come from, and an independent recomputation where one exists.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <memory>

#include "report/html_page.h"
#include "report/read_run.h"
#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::read_file;
using testing::run_program;
using testing::TempDir;
using testing::write_file;

class ReportRun : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    for (const char* name : {"iris_freq.csv", "iris_name.txt", "breast-cancer_freq.csv", "breast-cancer_name.txt"}) {
      write_file(dir_->file(name), read_file(testing::source_dir() + "/examples/" + name));
    }
    auto iris = run_program("rumelvb", {"-f", "iris", "-k", "2:4:1", "-x", "5", "-u", "0-3", "-E", "4", "-n", "3",
                                        "-b", "0.3:1.5", "-z", "5", "-D", "--seed", "1"}, dir_->path());
    auto bc = run_program("rumelvb", {"-f", "breast-cancer", "-k", "2:3:1", "-x", "10", "-E", "9", "--uncompress",
                                      "-z", "4", "--seed", "1"}, dir_->path());
    ASSERT_EQ(iris.status, 0) << iris.err;
    ASSERT_EQ(bc.status, 0) << bc.err;
    // rumel on the same cases, scored by both of its criteria.
    write_file(dir_->file("ml_freq.csv"), read_file(dir_->file("breast-cancer_freq.csv")));
    write_file(dir_->file("ml_name.txt"), read_file(dir_->file("breast-cancer_name.txt")));
    auto ml = run_program("rumel", {"-f", "ml", "-k", "2:4:1", "-x", "10", "-E", "9", "--uncompress", "--autoclass",
                                    "-n", "3", "-z", "4", "--seed", "1"}, dir_->path());
    ASSERT_EQ(ml.status, 0) << ml.err;
    // The same fit again, tab-separated, and once with the values hidden.
    std::vector<std::string> same = {"-f", "iris", "-k", "2:4:1", "-x", "5", "-u", "0-3", "-E", "4", "-n", "3",
                                     "-b", "0.3:1.5", "-z", "5", "-D", "--seed", "1"};
    for (std::vector<std::string> extra : {std::vector<std::string>{"-j", "txt", "-s", "tab"},
                                           std::vector<std::string>{"-V", "-s", "hidden"}}) {
      std::vector<std::string> args = same;
      args.insert(args.end(), extra.begin(), extra.end());
      auto r = run_program("rumelvb", args, dir_->path());
      ASSERT_EQ(r.status, 0) << r.err;
    }
  }
  static void TearDownTestSuite() { delete dir_; }

  static RunData read(const std::string& base, long max_points = 2000) {
    ReportSettings s;
    s.base = dir_->file(base);
    s.max_points = max_points;
    return read_run(s);
  }
  static TempDir* dir_;
};
TempDir* ReportRun::dir_ = nullptr;

double pairs(double m) { return m * (m - 1) / 2; }

TEST_F(ReportRun, FittingAndClusterNumbersAgreeAcrossFiles) {
  RunData run = read("iris");
  ASSERT_EQ(run.scores.size(), 1u);
  const ScoreSeries& fe = run.scores[0];
  EXPECT_EQ(fe.k, (std::vector<int>{2, 3, 4}));
  // The chosen K has the largest free energy; its kept run ends there and is
  // the best of the restarts.
  size_t at = static_cast<size_t>(std::find(fe.k.begin(), fe.k.end(), run.chosen_k) - fe.k.begin());
  ASSERT_LT(at, fe.k.size());
  EXPECT_EQ(fe.value[at], *std::max_element(fe.value.begin(), fe.value.end()));
  EXPECT_EQ(run.curve.value.back(), fe.value[at]);
  ASSERT_EQ(run.restarts.size(), 3u);
  double best = -INFINITY;
  for (const Restart& r : run.restarts) best = std::max(best, r.objective);
  EXPECT_EQ(best, fe.value[at]);
  ASSERT_EQ(run.curve.beta.size(), run.curve.value.size());
  EXPECT_EQ(run.curve.beta.back(), 1.0);
  EXPECT_TRUE(std::is_sorted(run.curve.beta.begin(), run.curve.beta.end()));

  long total = 0;
  for (long s : run.cluster_sizes) total += s;
  EXPECT_EQ(total, 150);
  double weights = 0;
  for (double w : run.class_weights) weights += w;
  EXPECT_NEAR(weights, 1.0, 1e-12);
  ASSERT_EQ(run.blocks.size(), 1u);
  for (const auto& sd : run.blocks[0].sd)
    for (double s : sd) EXPECT_GT(s, 0.0);

  // All 150 cases drawn, each in its cluster's colour.
  ASSERT_EQ(run.scatters.size(), 1u);
  const Scatter& s = run.scatters[0];
  EXPECT_TRUE(s.projected);
  ASSERT_EQ(s.x.size(), 150u);
  std::vector<long> per_cluster(run.cluster_sizes.size(), 0);
  for (int k : s.cluster) ++per_cluster[static_cast<size_t>(k)];
  EXPECT_EQ(per_cluster, run.cluster_sizes);
  double mx = 0, vx = 0, vy = 0;
  for (size_t i = 0; i < s.x.size(); ++i) mx += s.x[i] / 150;
  for (size_t i = 0; i < s.x.size(); ++i) {
    vx += s.x[i] * s.x[i];
    vy += s.y[i] * s.y[i];
  }
  EXPECT_NEAR(mx, 0.0, 1e-9);
  EXPECT_GE(vx, vy);
}

// rumel's log holds BIC and Cheeseman-Stutz for every K; the chosen K has
// the best score of the selected one, and the kept run is the best restart.
TEST_F(ReportRun, RumelScoresRestartsAndParameters) {
  RunData run = read("ml");
  EXPECT_EQ(run.program, "rumel");
  ASSERT_EQ(run.scores.size(), 2u);
  for (const ScoreSeries& s : run.scores) EXPECT_EQ(s.k, (std::vector<int>{2, 3, 4})) << s.name;
  const ScoreSeries& cs = run.scores[1];
  const size_t at = static_cast<size_t>(std::find(cs.k.begin(), cs.k.end(), run.chosen_k) - cs.k.begin());
  ASSERT_LT(at, cs.k.size());
  EXPECT_EQ(cs.value[at], *std::max_element(cs.value.begin(), cs.value.end()));
  ASSERT_EQ(run.restarts.size(), 3u);
  double best = -INFINITY;
  for (const Restart& r : run.restarts) best = std::max(best, r.objective);
  ASSERT_FALSE(run.curve.value.empty());
  EXPECT_GE(run.curve.value.back(), best - 1e-9 * std::fabs(best));
  // The parameter file's class probabilities and value tables are distributions.
  ASSERT_EQ(static_cast<int>(run.class_weights.size()), run.chosen_k);
  double sum = 0.0;
  for (double w : run.class_weights) sum += w;
  EXPECT_NEAR(sum, 1.0, 1e-9);
  ASSERT_EQ(run.discrete.size(), 9u);
  for (const DiscreteTable& t : run.discrete) {
    for (const std::vector<double>& row : t.prob) {
      double p = 0.0;
      for (double v : row) p += v;
      EXPECT_NEAR(p, 1.0, 1e-9) << t.name;
    }
  }
  long total = 0;
  for (long n : run.cluster_sizes) total += n;
  EXPECT_EQ(total, 286);
  EXPECT_TRUE(run.has_eval);
}

TEST_F(ReportRun, EvaluationMeasuresFollowFromTheConfusionTable) {
  RunData run = read("iris");
  ASSERT_TRUE(run.has_eval);
  const Evaluation& e = run.eval;
  ASSERT_EQ(e.answers, (std::vector<std::string>{"Iris-setosa", "Iris-versicolor", "Iris-virginica"}));
  // Purity, adjusted Rand and NMI recomputed from the drawn table.
  double N = 0, max_sum = 0, tp = 0, sc = 0, sa = 0;
  std::vector<double> a(e.counts.size(), 0), b(e.answers.size(), 0);
  for (size_t k = 0; k < e.counts.size(); ++k) {
    for (size_t c = 0; c < e.answers.size(); ++c) {
      double n = static_cast<double>(e.counts[k][c]);
      N += n;
      a[k] += n;
      b[c] += n;
      tp += pairs(n);
    }
    max_sum += static_cast<double>(*std::max_element(e.counts[k].begin(), e.counts[k].end()));
    EXPECT_EQ(a[k], static_cast<double>(run.cluster_sizes[k]));
  }
  for (double x : a) sc += pairs(x);
  for (double x : b) sa += pairs(x);
  double T = pairs(N);
  double mi = 0, hk = 0, ha = 0;
  for (size_t k = 0; k < a.size(); ++k)
    for (size_t c = 0; c < b.size(); ++c) {
      double n = static_cast<double>(e.counts[k][c]);
      if (n > 0) mi += n / N * std::log2(n * N / (a[k] * b[c]));
    }
  for (double x : a) hk -= x > 0 ? x / N * std::log2(x / N) : 0;
  for (double x : b) ha -= x > 0 ? x / N * std::log2(x / N) : 0;
  EXPECT_NEAR(e.purity, max_sum / N, 1e-11);
  EXPECT_NEAR(e.adjusted_rand, (tp - sc * sa / T) / ((sc + sa) / 2 - sc * sa / T), 1e-11);
  EXPECT_NEAR(e.nmi, 2 * mi / (hk + ha), 1e-11);
  EXPECT_EQ(e.measures.size(), 14u);
}

TEST_F(ReportRun, ValueTablesAndRankingOfDiscreteAttributes) {
  RunData run = read("breast-cancer");
  ASSERT_EQ(run.discrete.size(), 9u);
  for (const DiscreteTable& t : run.discrete) {
    for (const auto& p : t.prob) {
      double sum = 0;
      for (double x : p) sum += x;
      EXPECT_NEAR(sum, 1.0, 1e-12) << t.name;
    }
  }
  EXPECT_TRUE(run.scatters.empty());
  ASSERT_EQ(run.ranking.size(), static_cast<size_t>(run.chosen_k));
  for (size_t i = 0; i < run.ranking.size(); ++i) {
    const ClassRanking& c = run.ranking[i];
    if (i > 0) {
      EXPECT_GE(run.ranking[i - 1].class_prob, c.class_prob);
    }
    EXPECT_EQ(c.values.size(), 8u);
    for (size_t v = 1; v < c.values.size(); ++v) EXPECT_GE(c.values[v - 1].prob, c.values[v].prob);
  }
}

TEST_F(ReportRun, ScatterSampleIsEvenlySpreadAndRepeatable) {
  RunData run = read("iris", 40);
  ASSERT_EQ(run.scatters.size(), 1u);
  const Scatter& s = run.scatters[0];
  ASSERT_EQ(s.x.size(), 40u);
  // The t-th point is row floor(t * 150 / 40) of the cluster file.
  SectionFile cluster = load_section_file(dir_->file("iris_cluster.csv"),
                                          [](std::string_view id) { return id == "CLUSTER-CASE-BY-CASE"; });
  const DataMatrix& rows = cluster.need("CLUSTER-CASE-BY-CASE");
  for (long t = 0; t < 40; ++t) {
    EXPECT_EQ(s.cluster[static_cast<size_t>(t)], rows.integer(static_cast<size_t>(t * 150 / 40), 2)) << t;
  }
  RunData again = read("iris", 40);
  EXPECT_EQ(again.scatters[0].x, s.x);
  EXPECT_EQ(again.scatters[0].y, s.y);
  EXPECT_FALSE(again.values_hidden);
}

TEST_F(ReportRun, TabSeparatedAndHiddenValueRunsReadAlike) {
  RunData csv = read("iris");
  RunData tab = read("iris_tab");
  EXPECT_EQ(tab.scores[0].value, csv.scores[0].value);
  EXPECT_EQ(tab.curve.value, csv.curve.value);
  EXPECT_EQ(tab.cluster_sizes, csv.cluster_sizes);
  EXPECT_EQ(tab.blocks[0].mean, csv.blocks[0].mean);
  EXPECT_EQ(tab.blocks[0].sd, csv.blocks[0].sd);
  EXPECT_EQ(tab.eval.counts, csv.eval.counts);
  ASSERT_EQ(tab.scatters.size(), 1u);
  EXPECT_EQ(tab.scatters[0].x, csv.scatters[0].x);
  ASSERT_EQ(tab.ranking.size(), csv.ranking.size());
  EXPECT_EQ(tab.ranking[0].values.size(), csv.ranking[0].values.size());

  // Hidden values come from the case file instead: the same points.
  RunData hidden = read("iris_hidden");
  EXPECT_TRUE(hidden.values_hidden);
  EXPECT_TRUE(hidden.values_from_case_file);
  ASSERT_EQ(hidden.scatters.size(), 1u);
  EXPECT_EQ(hidden.scatters[0].x, csv.scatters[0].x);
  EXPECT_EQ(hidden.scatters[0].cluster, csv.scatters[0].cluster);
  RunData sampled = read("iris_hidden", 40);
  EXPECT_EQ(sampled.scatters[0].x, read("iris", 40).scatters[0].x);
  // A case file that is not the run's (a line short) gives no points.
  std::string cases = read_file(dir_->file("iris_freq.csv"));
  write_file(dir_->file("iris_freq.csv"), cases.substr(0, cases.rfind('\n', cases.size() - 2) + 1));
  RunData mismatch = read("iris_hidden");
  write_file(dir_->file("iris_freq.csv"), cases);
  EXPECT_TRUE(mismatch.scatters.empty());
  EXPECT_FALSE(mismatch.values_from_case_file);
}

TEST_F(ReportRun, ProgramWritesTheWholePageOrNothing) {
  auto ok = run_program("rumelreport", {"iris"}, dir_->path());
  ASSERT_EQ(ok.status, 0) << ok.err;
  std::string page = read_file(dir_->file("iris_report.html"));
  auto count = [&](const std::string& what) {
    size_t n = 0;
    for (size_t at = page.find(what); at != std::string::npos; at = page.find(what, at + 1)) ++n;
    return n;
  };
  // Score, learning curve, restarts, sizes, means, scatter, confusion table.
  EXPECT_EQ(count("<svg"), 7u);
  EXPECT_EQ(count("</svg>"), 7u);
  EXPECT_EQ(count("<script"), 0u);
  EXPECT_EQ(page.substr(page.size() - 8), "</html>\n");
  auto again = run_program("rumelreport", {"-o", "again.html", "iris"}, dir_->path());
  ASSERT_EQ(again.status, 0);
  EXPECT_EQ(read_file(dir_->file("again.html")), page);

  // A cluster file cut in the middle: a message, status 1, and no page.
  TempDir bad;
  for (const char* kind : {"log", "hparam", "cluster", "eval", "rank"}) {
    std::string name = std::string("iris_") + kind + ".csv";
    write_file(bad.file(name), read_file(dir_->file(name)));
  }
  std::string cluster = read_file(dir_->file("iris_cluster.csv"));
  write_file(bad.file("iris_cluster.csv"), cluster.substr(0, cluster.size() / 2));
  auto cut = run_program("rumelreport", {"iris"}, bad.path());
  EXPECT_EQ(cut.status, 1);
  EXPECT_NE(cut.err.find("iris_cluster.csv"), std::string::npos) << cut.err;
  for (const auto& entry : std::filesystem::directory_iterator(bad.path())) {
    EXPECT_EQ(entry.path().string().find("report"), std::string::npos) << entry.path();
  }
  auto missing = run_program("rumelreport", {"nothing"}, bad.path());
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "Couldn't open nothing_log.csv\n");
  EXPECT_EQ(run_program("rumelreport", {"-n", "0", "iris"}, bad.path()).status, 1);
  EXPECT_EQ(run_program("rumelreport", {"-q", "iris"}, bad.path()).status, 1);
  EXPECT_EQ(run_program("rumelreport", {}, bad.path()).status, 1);
}

}  // namespace
}  // namespace veska
