// The clustering data matrices: cluster sizes for the log (CLUSTER-FREQ-*)
// and the case, value and block clusters for the cluster file.
#pragma once

#include <cstdio>

#include "analysis/cluster.h"

namespace veska {

// CLUSTER-FREQ-CASE, CLUSTER-FREQ-CAT%d per discrete attribute and
// CLUSTER-FREQ-GAUSS%d per block. Sizes count entries and values, not
// occurrences. Flushes.
void print_cluster_sizes(FILE* log, const AnalysisInput& in, const Clustering& c);

// CLUSTER-CASE-BY-CASE and CLUSTER-CASE-BY-CLUSTER. Flushes.
void print_case_clusters(FILE* file, const AnalysisInput& in, const Partition& cases);

// Per discrete attribute CLUSTER-CAT%d-BY-ATT and -BY-CLUSTER, then per
// block CLUSTER-GAUSS%d-BY-ATT and -BY-CLUSTER. Flushes.
void print_attribute_clusters(FILE* file, const AnalysisInput& in, const Clustering& c);

}  // namespace veska
