#include "fit/smem_candidates.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "common/misc.h"

namespace veska {

namespace {

// A criterion that is not a number (a class whose memberships all
// vanished) ranks last.
double ranked(double x) { return std::isnan(x) ? -INFINITY : x; }

}  // namespace

SmemCandidates::SmemCandidates(int K, const std::vector<double>& jmerge,
                               const std::vector<double>& jsplit)
    : K_(K) {
  for (int i = 0; i < K; ++i) {
    for (int j = i + 1; j < K; ++j) pairs_.push_back({i, j, 0});
  }
  // Total orders (ties by the smaller indices), so any sort gives the same
  // list.
  auto merge = [&](const SmemCandidate& c) { return ranked(jmerge[static_cast<size_t>(c.i) * K + c.j]); };
  std::sort(pairs_.begin(), pairs_.end(), [&](const SmemCandidate& a, const SmemCandidate& b) {
    const double ma = merge(a), mb = merge(b);
    if (ma != mb) return ma > mb;
    return a.i != b.i ? a.i < b.i : a.j < b.j;
  });
  split_order_.resize(static_cast<size_t>(K));
  std::iota(split_order_.begin(), split_order_.end(), 0);
  std::sort(split_order_.begin(), split_order_.end(), [&](int a, int b) {
    const double sa = ranked(jsplit[static_cast<size_t>(a)]), sb = ranked(jsplit[static_cast<size_t>(b)]);
    return sa != sb ? sa > sb : a < b;
  });
}

long long SmemCandidates::size() const {
  return static_cast<long long>(K_) * (K_ - 1) * (K_ - 2) / 2;
}

SmemCandidate SmemCandidates::at(long long position) const {
  const long long per_pair = K_ - 2;
  SmemCandidate c = pairs_[static_cast<size_t>(position / per_pair)];
  long long r = position % per_pair;
  for (int k : split_order_) {
    if (k == c.i || k == c.j) continue;
    if (r-- == 0) {
      c.k = k;
      return c;
    }
  }
  die("Internal error: split-merge candidate %lld out of range\n", position);
}

}  // namespace veska
