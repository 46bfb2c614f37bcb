// Hard clustering of a fixed model: every case-table entry, every value of
// every discrete attribute and every entry within every Gaussian block goes
// to its class of highest membership probability. The result goes to the
// cluster file and the log, and feeds the evaluation.
#pragma once

#include <vector>

#include "analysis/memberships.h"

namespace veska {

// The class of highest probability among probs[0], probs[stride], ...
// (K of them): a class replaces the best only when strictly greater, from a
// best of class 0 at probability 0. So ties go to the lowest class, and
// all-zero (or NaN) probabilities give class 0.
int assign_cluster(const double* probs, int K, int stride = 1);

// A partition of items (entries or value codes) into K clusters.
struct Partition {
  std::vector<int> cluster;               // per item
  std::vector<std::vector<int>> members;  // per cluster, in list order
};

struct Clustering {
  Partition cases;                // entries
  std::vector<Partition> values;  // per discrete attribute: value codes
  std::vector<Partition> blocks;  // per Gaussian block: entries (empty when shared)
  bool blocks_share_cases = false;  // the lone block's partition is `cases`

  const Partition& block(int g) const {
    return blocks_share_cases ? cases : blocks[static_cast<size_t>(g)];
  }
};

// Value clusters, block clusters, then case clusters. Member lists follow
// entry order; value lists follow the attribute's display order (code order
// with --occ-order, else sorted by value name).
Clustering compute_clusters(const AnalysisInput& in);

// The clustering step: messages, CLUSTER-FREQ-* to the log, the cluster
// file, then with an answer-class attribute the evaluation.
void cluster_cases(const AnalysisInput& in);

}  // namespace veska
