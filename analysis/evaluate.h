// Evaluation of the case clusters against the answer classes: a contingency
// table of clusters by answer classes and three families of external
// validity measures (purity, pair counting, information).
//
// Every count is a count of cases: an entry standing for several identical
// cases adds its occurrence count to its cell, and N, the cluster sizes a[k]
// and the class sizes b[c] are sums of the table. So a compressed table and
// its uncompressed form evaluate alike, and every measure stays in its range.
#pragma once

#include <cstdint>
#include <vector>

#include "analysis/cluster.h"

namespace veska {

struct Contingency {
  int K = 0;  // clusters
  int A = 0;  // answer classes
  std::vector<int64_t> n;  // n[k][c] at k * A + c
  std::vector<int64_t> a;  // per cluster: sum over c
  std::vector<int64_t> b;  // per answer class: sum over k
  int64_t N = 0;

  int64_t at(int k, int c) const { return n[static_cast<size_t>(k) * A + c]; }
};

// n[cluster(e)][answer(e)] += total(e) for every entry; entries without an
// answer class count nowhere.
Contingency build_contingency(const CaseTable& cases, const std::vector<int>& cluster, int K,
                              int n_answers);

struct EvalMeasures {
  double purity = 0, inverse_purity = 0, f_purity = 0;
  double rand = 0, wallace1 = 0, wallace2 = 0, f_wallace = 0, fowlkes_mallows = 0;
  double adjusted_rand = 0, jaccard = 0, mirkin = 0;
  double nmi = 0, vi = 0, nvi = 0;
};

// The measures, with the weights of the two F-measures.
//
// Degenerate tables: a ratio whose denominator is 0 has a numerator of 0 as
// well, and only happens when there is no evidence against agreement (no
// case; a single case, so no pair; both partitions a single group; both all
// singletons; no pair put together by the clusters). Such a ratio takes the
// value of agreement: 1 for the similarity measures (Wallace's measures,
// adjusted Rand, Jaccard, purity, normalised mutual information), and so 0
// for the distances. An F-measure of two zero measures is 0.
EvalMeasures compute_measures(const Contingency& t, double beta_purity, double beta_wallace);

// Builds the table, computes the measures and writes the evaluation file:
// EVAL-PURITY, EVAL-RAND, EVAL-NMI, CLUSTER-MATCH-BY-PREDICTED,
// CLUSTER-MATCH-BY-ANSWER. A file that cannot be created is fatal.
void evaluate(const AnalysisInput& in, const Partition& cases);

}  // namespace veska
