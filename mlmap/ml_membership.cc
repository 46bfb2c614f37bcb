#include "mlmap/ml_membership.h"

#include <cmath>

#include "mlmap/em_steps.h"

namespace veska {

Memberships compute_ml_memberships(const MlContext& ctx, const MlLayout& l, const MlParams& p,
                                   MlWork& w) {
  const int K = l.K;
  const int n_entries = ctx.cases.n_entries;
  w.beta = 1.0;
  compute_joint(ctx, l, p, w);
  compute_normalisers(l, w);
  compute_responsibilities(l, w);
  Memberships mem = allocate_memberships(ctx.model, n_entries, K);
  mem.p_class = p.pi;
  for (int n = 0; n < n_entries; ++n) {
    mem.p_marginal[n] = w.log_domain ? std::exp(w.norm[n]) : w.norm[n];
    for (int k = 0; k < K; ++k) {
      const size_t nk = mem.at(n, k);
      const double joint = w.log_domain ? std::exp(w.weight[nk]) : w.weight[nk];
      mem.p_case[nk] = w.resp[nk];
      mem.p_component[nk] = joint / p.pi[k];
    }
  }
  for (int i = 0; i < l.n_discrete; ++i) {
    ValueMemberships& vm = mem.values[i];
    const int nv = l.n_values[i];
    for (int v = 0; v < nv; ++v) {
      double total = 0.0;
      for (int k = 0; k < K; ++k) {
        const double theta = p.theta[l.cat(k, i, v)];
        vm.p_value_given_class[static_cast<size_t>(k) * nv + v] = theta;
        total += p.pi[k] * theta;
      }
      vm.p_value[v] = total;
      for (int k = 0; k < K; ++k) {
        vm.p_class_given_value[static_cast<size_t>(v) * K + k] =
            p.pi[k] * p.theta[l.cat(k, i, v)] / total;
      }
    }
  }
  for (int b = 0; b < l.n_groups; ++b) {
    BlockMemberships& bm = mem.blocks[b];
    for (int n = 0; n < n_entries; ++n) {
      double total = 0.0;
      for (int k = 0; k < K; ++k) {
        const double g = std::exp(block_log_density(l, p, w, n, k, b));
        bm.p_block_given_class[mem.at(n, k)] = g;
        total += p.pi[k] * g;
      }
      bm.p_block[n] = total;
      for (int k = 0; k < K; ++k) {
        bm.p_class_given_block[mem.at(n, k)] = p.pi[k] * bm.p_block_given_class[mem.at(n, k)] / total;
      }
    }
  }
  return mem;
}

}  // namespace veska
