#include "analysis/evaluate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "analysis/analysis_fixture.h"

namespace veska {
namespace {

using testing::AnalysisFixture;
using testing::Roles;
using testing::run_capturing;

// A contingency table from its cells, row by row (clusters by classes).
Contingency table(int K, int A, const std::vector<int64_t>& cells) {
  Contingency t;
  t.K = K;
  t.A = A;
  t.n = cells;
  t.a.assign(static_cast<size_t>(K), 0);
  t.b.assign(static_cast<size_t>(A), 0);
  for (int k = 0; k < K; ++k) {
    for (int c = 0; c < A; ++c) {
      t.a[k] += t.at(k, c);
      t.b[c] += t.at(k, c);
      t.N += t.at(k, c);
    }
  }
  return t;
}

std::vector<double> all(const EvalMeasures& m) {
  return {m.purity, m.inverse_purity, m.f_purity, m.rand, m.wallace1, m.wallace2, m.f_wallace,
          m.fowlkes_mallows, m.adjusted_rand, m.jaccard, m.mirkin, m.nmi, m.vi, m.nvi};
}

// Identical partitions: every similarity 1, every distance 0, exactly.
void expect_agreement(const EvalMeasures& m) {
  for (double v : {m.purity, m.inverse_purity, m.f_purity, m.rand, m.wallace1, m.wallace2,
                   m.f_wallace, m.fowlkes_mallows, m.adjusted_rand, m.jaccard, m.nmi}) {
    EXPECT_EQ(v, 1.0);
  }
  EXPECT_EQ(m.mirkin, 0.0);
  EXPECT_EQ(m.vi, 0.0);
  EXPECT_EQ(m.nvi, 0.0);
}

TEST(Measures, IdenticalPartitionsAgreeWhateverTheLabels) {
  // Cluster 0 is class 2, cluster 1 class 0, cluster 2 class 1.
  expect_agreement(compute_measures(table(3, 3, {0, 0, 5, 3, 0, 0, 0, 7, 0}), 1.0, 1.0));
  // An empty cluster changes nothing.
  Contingency t = table(3, 2, {4, 0, 0, 0, 0, 6});
  EvalMeasures m = compute_measures(t, 1.0, 1.0);
  expect_agreement(m);
  EXPECT_EQ(t.a[1], 0);
}

TEST(Measures, IndependentClustersByHand) {
  // Two clusters cutting across two classes: every cell 2, N = 8.
  // TP = 4, SC = SA = 12, T = 28.
  EvalMeasures m = compute_measures(table(2, 2, {2, 2, 2, 2}), 1.0, 1.0);
  EXPECT_DOUBLE_EQ(m.purity, 0.5);
  EXPECT_DOUBLE_EQ(m.inverse_purity, 0.5);
  EXPECT_DOUBLE_EQ(m.f_purity, 0.5);
  EXPECT_DOUBLE_EQ(m.rand, 12.0 / 28.0);
  EXPECT_DOUBLE_EQ(m.wallace1, 1.0 / 3.0);
  EXPECT_DOUBLE_EQ(m.wallace2, 1.0 / 3.0);
  EXPECT_DOUBLE_EQ(m.f_wallace, 1.0 / 3.0);
  EXPECT_DOUBLE_EQ(m.fowlkes_mallows, 1.0 / 3.0);
  EXPECT_DOUBLE_EQ(m.adjusted_rand, (4.0 - 144.0 / 28) / (12.0 - 144.0 / 28));  // -1/6
  EXPECT_NEAR(m.adjusted_rand, -1.0 / 6.0, 1e-15);
  EXPECT_DOUBLE_EQ(m.jaccard, 0.2);
  EXPECT_DOUBLE_EQ(m.mirkin, 32.0);
  EXPECT_NEAR(m.nmi, 0.0, 1e-15);
  EXPECT_DOUBLE_EQ(m.vi, 2.0);
  EXPECT_NEAR(m.nvi, 1.0, 1e-15);
}

TEST(Measures, UnevenTableByHand) {
  // Clusters {A:3, B:1} and {B:2}; N = 6, a = (4, 2), b = (3, 3).
  // TP = 3 + 0 + 1 = 4, SC = 6 + 1 = 7, SA = 3 + 3 = 6, T = 15.
  EvalMeasures m = compute_measures(table(2, 2, {3, 1, 0, 2}), 1.0, 1.0);
  EXPECT_DOUBLE_EQ(m.purity, 5.0 / 6.0);
  EXPECT_DOUBLE_EQ(m.inverse_purity, 5.0 / 6.0);
  EXPECT_DOUBLE_EQ(m.rand, (15.0 - (7 + 6 - 4) + 4) / 15.0);
  EXPECT_DOUBLE_EQ(m.wallace1, 4.0 / 7.0);
  EXPECT_DOUBLE_EQ(m.wallace2, 4.0 / 6.0);
  EXPECT_DOUBLE_EQ(m.fowlkes_mallows, std::sqrt(4.0 / 7.0 * 4.0 / 6.0));
  EXPECT_DOUBLE_EQ(m.adjusted_rand, (4.0 - 42.0 / 15) / (6.5 - 42.0 / 15));
  EXPECT_DOUBLE_EQ(m.jaccard, 4.0 / 9.0);
  EXPECT_DOUBLE_EQ(m.mirkin, (1.0 - m.rand) * 30.0);
  const double i = 3.0 / 6 * std::log2(3.0 * 6 / 12) + 1.0 / 6 * std::log2(6.0 / 12) +
                   2.0 / 6 * std::log2(2.0 * 6 / 6);
  const double hk = -(4.0 / 6 * std::log2(4.0 / 6) + 2.0 / 6 * std::log2(2.0 / 6));
  const double ha = 1.0;
  EXPECT_DOUBLE_EQ(m.nmi, 2 * i / (hk + ha));
  EXPECT_DOUBLE_EQ(m.vi, hk + ha - 2 * i);
  EXPECT_DOUBLE_EQ(m.nvi, 1.0 - m.nmi);
}

TEST(Measures, WeightedFMeasures) {
  // One cluster {A:2, B:1}: P = 2/3, IP = 1; TP = 1, SC = 3, SA = 1, so
  // W1 = 1/3, W2 = 1.
  Contingency t = table(1, 2, {2, 1});
  EvalMeasures m = compute_measures(t, 2.0, 2.0);
  EXPECT_DOUBLE_EQ(m.f_purity, 10.0 / 11.0);  // 5 (2/3) / (4 (2/3) + 1)
  EXPECT_DOUBLE_EQ(m.f_wallace, 5.0 / 7.0);   // 5 (1/3) / (4 (1/3) + 1)
  m = compute_measures(t, 0.5, 0.5);
  EXPECT_DOUBLE_EQ(m.f_purity, 1.25 * 2.0 / 3.0 / (0.25 * 2.0 / 3.0 + 1.0));
  EXPECT_DOUBLE_EQ(m.f_wallace, 5.0 / 13.0);
  // Weight 1: the harmonic mean.
  m = compute_measures(t, 1.0, 1.0);
  EXPECT_DOUBLE_EQ(m.f_purity, 2 * (2.0 / 3.0) / (2.0 / 3.0 + 1.0));
  // Weight 0: the first measure alone.
  m = compute_measures(t, 0.0, 0.0);
  EXPECT_DOUBLE_EQ(m.f_purity, 2.0 / 3.0);
  EXPECT_DOUBLE_EQ(m.f_wallace, 1.0 / 3.0);
}

TEST(Measures, DegenerateTablesGiveNumbersInRange) {
  struct Case {
    const char* what;
    Contingency t;
    bool agree;
  };
  const std::vector<Case> cases = {
      {"a single case", table(2, 2, {1, 0, 0, 0}), true},
      {"one cluster, one class", table(1, 1, {9}), true},
      {"all singletons on both sides", table(3, 3, {1, 0, 0, 0, 1, 0, 0, 0, 1}), true},
      {"no case at all", table(2, 2, {0, 0, 0, 0}), true},
      {"one cluster, several classes", table(1, 3, {2, 3, 4}), false},
      {"singleton clusters, one class", table(3, 1, {1, 1, 1}), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EvalMeasures m = compute_measures(c.t, 1.0, 1.0);
    for (double v : all(m)) EXPECT_TRUE(std::isfinite(v));
    for (double v : {m.purity, m.inverse_purity, m.f_purity, m.rand, m.wallace1, m.wallace2,
                     m.f_wallace, m.fowlkes_mallows, m.jaccard, m.nmi, m.nvi}) {
      EXPECT_GE(v, 0.0);
      EXPECT_LE(v, 1.0);
    }
    EXPECT_LE(m.adjusted_rand, 1.0);
    if (c.agree) expect_agreement(m);
  }
  // One cluster for three classes: the adjusted index is exactly chance.
  EvalMeasures m = compute_measures(table(1, 3, {2, 3, 4}), 1.0, 1.0);
  EXPECT_EQ(m.adjusted_rand, 0.0);
  EXPECT_EQ(m.wallace2, 1.0);
  EXPECT_EQ(m.nmi, 0.0);
  // Singleton clusters put no pair together: Wallace I is vacuously 1, the
  // recall of the class pairs 0, and so are the F-measure and Jaccard.
  m = compute_measures(table(3, 1, {1, 1, 1}), 1.0, 1.0);
  EXPECT_EQ(m.wallace1, 1.0);
  EXPECT_EQ(m.wallace2, 0.0);
  EXPECT_EQ(m.f_wallace, 0.0);
  EXPECT_EQ(m.jaccard, 0.0);
  EXPECT_EQ(m.adjusted_rand, 0.0);
}

class Evaluation : public AnalysisFixture {
 protected:
  // Entries go to the cluster named by their first value ("c0", "c1", ...).
  void cluster_by_first_value() {
    std::vector<std::vector<double>> rows;
    for (const CaseEntry& e : cases_.entries) {
      const std::string& v = model_.values[0].names[static_cast<size_t>(e.codes()[0])];
      int k = v[1] - '0';
      std::vector<double> row(static_cast<size_t>(K_), 0.0);
      row[static_cast<size_t>(k)] = 1.0;
      rows.push_back(row);
    }
    set_case_probs(rows);
  }
  std::string evaluate_to_file() {
    Partition p = compute_clusters(input()).cases;
    auto res = run_capturing([&] { evaluate(input(), p); });
    EXPECT_FALSE(res.exited) << res.log;
    return file(s_.files.eval);
  }
};

const char kRepeatedCases[] =
    "c0,x,yes\n"
    "c0,x,yes,3\n"
    "c1,y,no\n"
    "c1,x,yes\n"
    "c0,x,yes\n"
    "c1,y,no,2\n"
    "c0,y,no\n";

TEST_F(Evaluation, FileLayoutCountsCases) {
  s_.weight_purity = 2.0;
  read(kRepeatedCases, Roles(3).eval(2));
  ASSERT_EQ(cases_.n_entries, 4);  // compressed
  cluster_by_first_value();
  // Cluster 0: yes 5, no 1; cluster 1: no 3, yes 1; N = 10.
  EXPECT_EQ(evaluate_to_file(),
            "#### ID:EVAL-PURITY\r\n"
            "#### Evaluation measure, Value\r\n"
            "#### -- Weight in F-measure of Purity = 2\r\n"
            "####\r\n"
            "Purity,0.8\r\n"
            "Inverse Purity,0.8\r\n"
            "F-Purity,0.8\r\n"
            "#### ID:EVAL-RAND\r\n"
            "#### Evaluation measure, Value\r\n"
            "#### -- Weight in F-measure of Wallance's measures = 1\r\n"
            "####\r\n"
            "Rand index,0.644444\r\n"
            "Wallance's measure I,0.619048\r\n"
            "Wallance's measure II,0.619048\r\n"
            "F-measure of Wallance's measures,0.619048\r\n"
            "Fowlkes and Mallows index,0.619048\r\n"
            "Adjusted Rand index,0.285714\r\n"
            "Jaccard index,0.448276\r\n"
            "Mirkin metric,32\r\n"
            "#### ID:EVAL-NMI\r\n"
            "#### Evaluation measure, Value\r\n"
            "####\r\n"
            "Normalized mutual information,0.264098\r\n"
            "Variation of information,1.42905\r\n"
            "Normalized variation of information,0.735902\r\n"
            "#### ID:CLUSTER-MATCH-BY-PREDICTED\r\n"
            "#### Cluster k [predicted], Answer class, Num. of matched cases\r\n"
            "####\r\n"
            "0,yes,5\r\n"
            "0,no,1\r\n"
            "1,yes,1\r\n"
            "1,no,3\r\n"
            "#### ID:CLUSTER-MATCH-BY-ANSWER\r\n"
            "#### Answer class, Cluster k [predicted], Num. of matched cases\r\n"
            "####\r\n"
            "yes,0,5\r\n"
            "yes,1,1\r\n"
            "no,0,1\r\n"
            "no,1,3\r\n");
}

TEST_F(Evaluation, CompressedAndUncompressedEntriesEvaluateAlike) {
  read(kRepeatedCases, Roles(3).eval(2));
  cluster_by_first_value();
  const std::string compressed = evaluate_to_file();

  s_.uncompress = true;
  read(kRepeatedCases, Roles(3).eval(2));
  ASSERT_EQ(cases_.n_entries, 7);
  cluster_by_first_value();
  EXPECT_EQ(evaluate_to_file(), compressed);

  // Every case on its own line, no counts at all.
  read("c0,x,yes\nc0,x,yes\nc0,x,yes\nc0,x,yes\nc1,y,no\nc1,x,yes\nc0,x,yes\n"
       "c1,y,no\nc1,y,no\nc0,y,no\n",
       Roles(3).eval(2));
  cluster_by_first_value();
  EXPECT_EQ(evaluate_to_file(), compressed);
}

TEST_F(Evaluation, AFileThatCannotBeCreatedIsFatal) {
  read(kRepeatedCases, Roles(3).eval(2));
  cluster_by_first_value();
  s_.files.eval = dir_.file("missing/d_eval.csv");
  Partition p = compute_clusters(input()).cases;
  auto res = run_capturing([&] { evaluate(input(), p); });
  EXPECT_TRUE(res.exited);
  EXPECT_EQ(res.status, 1);
  EXPECT_EQ(res.msg, "Couldn't open " + s_.files.eval + "\n");
}

}  // namespace
}  // namespace veska
