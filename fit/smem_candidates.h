// The candidate triples of a split-and-merge operation in ranking order.
#pragma once

#include <vector>

namespace veska {

// Classes i < j merge into i; class k (neither) splits into j and k.
struct SmemCandidate {
  int i = 0;
  int j = 0;
  int k = 0;
};

// Merge pairs by Jmerge descending, within a pair the split classes by
// Jsplit descending (ties: smaller indices first; a criterion that is not a
// number ranks last). Positions are computed on demand, so a large K costs
// memory of the order of K^2, not K^3.
class SmemCandidates {
 public:
  SmemCandidates(int K, const std::vector<double>& jmerge, const std::vector<double>& jsplit);
  long long size() const;  // K (K-1) (K-2) / 2
  SmemCandidate at(long long position) const;

 private:
  int K_;
  std::vector<SmemCandidate> pairs_;  // merge pairs in order (k unused)
  std::vector<int> split_order_;      // every class, best split first
};

}  // namespace veska
