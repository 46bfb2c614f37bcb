#include "analysis/cluster.h"

#include "analysis/evaluate.h"
#include "analysis/output_file.h"
#include "analysis/print_cluster.h"
#include "common/misc.h"

namespace veska {

namespace {

constexpr const char* kMembershipCriterion = "MEMBERSHIP_DIST";

// Items 0..n-1 walked in `order` (or index order when empty), each put into
// the cluster of its probability row items * K.
Partition partition(int n, int K, const std::vector<double>& probs, const std::vector<int>& order) {
  Partition p;
  p.cluster.resize(static_cast<size_t>(n));
  p.members.resize(static_cast<size_t>(K));
  for (int i = 0; i < n; ++i) {
    p.cluster[static_cast<size_t>(i)] = assign_cluster(probs.data() + static_cast<size_t>(i) * K, K);
  }
  auto append = [&p](int i) { p.members[static_cast<size_t>(p.cluster[static_cast<size_t>(i)])].push_back(i); };
  if (order.empty()) {
    for (int i = 0; i < n; ++i) append(i);
  } else {
    for (int i : order) append(i);
  }
  return p;
}

}  // namespace

int assign_cluster(const double* probs, int K, int stride) {
  int best = 0;
  double best_p = 0.0;
  for (int k = 0; k < K; ++k) {
    double p = probs[static_cast<size_t>(k) * stride];
    if (p > best_p) {
      best = k;
      best_p = p;
    }
  }
  return best;
}

Clustering compute_clusters(const AnalysisInput& in) {
  const Memberships& mem = in.mem;
  Clustering c;
  for (int pos = 0; pos < in.model.n_discrete; ++pos) {
    const ValueMemberships& v = mem.values[static_cast<size_t>(pos)];
    c.values.push_back(partition(v.n_values, mem.K, v.p_class_given_value,
                                 in.model.values[static_cast<size_t>(pos)].order));
  }
  c.cases = partition(mem.n_entries, mem.K, mem.p_case, {});
  c.blocks_share_cases = mem.blocks_share_case;
  if (!c.blocks_share_cases) {
    for (const BlockMemberships& b : mem.blocks) {
      c.blocks.push_back(partition(mem.n_entries, mem.K, b.p_class_given_block, {}));
    }
  }
  return c;
}

void cluster_cases(const AnalysisInput& in) {
  const Settings& s = in.settings;
  if (s.cluster_criterion != kMembershipCriterion) {
    die("Internal error: Unsupported clustering method\n");
  }
  msg_printf(s.show_attr_cluster ? "Clustering cases and attribute values..."
                                 : "Clustering cases...");
  const Clustering c = compute_clusters(in);
  print_cluster_sizes(log_stream(), in, c);
  {
    OutputFile file(s.files.cluster);
    print_case_clusters(file.get(), in, c.cases);
    if (s.show_attr_cluster) print_attribute_clusters(file.get(), in, c);
  }
  msg_printf("done\n");
  if (s.eval_given) {
    msg_printf("Evaluating clusters...");
    evaluate(in, c.cases);
    msg_printf("done\n");
  }
}

}  // namespace veska
