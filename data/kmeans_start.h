// A data-driven starting partition for the clustering engines: greedy
// k-means++ seeding followed by Lloyd iterations over the attributes in use,
// the best of a few such runs.
//
// The space: every continuous attribute standardised by its sample standard
// deviation; every discrete attribute as one-hot columns scaled so that the
// attribute's total variance is 1, as much as one standardised continuous
// column. A missing value takes no part in a distance or a centre. Entries
// weigh by their occurrence counts, so a compressed table gives the groups
// of its uncompressed twin.
//
// The draws come from the process-wide generator, so the seed fixes the
// partition and every restart (reseeded or continuing the stream) gets its
// own.
#pragma once

#include <vector>

#include "common/attributes.h"
#include "data/read_freq.h"
#include "data/stat.h"

namespace veska {

// Lloyd iterations stop after this many, or once an iteration moves at
// most this share of the occurrences to another group: the start only has
// to be a good neighbourhood for the engine, and the last few moves of a
// large table take as long as the first ones.
constexpr int kKmeansMaxIterations = 20;
constexpr double kKmeansSettledShare = 0.005;
// Whole k-means runs (seeding and iterations) per partition, the one of
// least weighted squared distance to its centres kept: a single run now
// and then splits a compact class and merges two others.
constexpr int kKmeansRuns = 3;

// The group (0 .. K-1) of every case-table entry. Every entry is assigned.
// A group left empty by an iteration takes the entry farthest from its
// centre out of a group of several entries; a group that no distinct entry
// can fill (K above the number of distinct entries) stays empty.
std::vector<int> kmeans_partition(const AttrModel& model, const CaseTable& cases,
                                  const SampleStats& stats, int K);

}  // namespace veska
