// Relevance ranking: for every class, the cases, the discrete attribute
// values and the Gaussian-block cases of highest membership probability,
// written to the rank file. --rank gives a count of items per class or a
// threshold on the probability; --hide-rank also stops every list below 1/K.
#pragma once

#include <vector>

#include "analysis/memberships.h"

namespace veska {

// Indices 0..n-1 by decreasing probs[i * stride]; equal probabilities keep
// index order, so the file does not depend on the sort's whims.
std::vector<int> rank_order(int n, const double* probs, int stride = 1);

// How many items of a list of n a class shows at most: all of them with a
// threshold or a count below 1, else the smaller of the count and n.
int rank_limit(const Settings& settings, int n);

// How many of the ranked probabilities (in order) are listed: at most
// `limit`, stopping at the first below the threshold (threshold form) and,
// with --hide-rank, at the first below 1/K.
int rank_length(const Settings& settings, int K, const std::vector<double>& ranked, int limit);

// The ranking step: message, RANK-CASE, RANK-CAT%d per discrete attribute,
// RANK-GAUSS%d per block, in the rank file (fatal when it cannot be
// created).
void rank_relevant(const AnalysisInput& in);

}  // namespace veska
