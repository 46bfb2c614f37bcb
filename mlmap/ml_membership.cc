#include "mlmap/ml_membership.h"

#include <cmath>

#include "fit/kernels.h"
#include "mlmap/em_steps.h"

namespace veska {

Memberships take_ml_memberships(const MlContext& ctx, const MlLayout& l, const MlParams& p,
                                MlWork& w, const MembershipNeeds& needs) {
  const int K = l.K;
  const int n_entries = ctx.cases.n_entries;
  w.beta = 1.0;
  if (needs.densities) keep_normalisers(w);
  compute_e_step(ctx, l, p, w);
  Memberships mem = allocate_memberships(ctx.model, n_entries, K, needs, true);
  mem.p_class = p.pi;
  // The work's arrays become the record's: Z_n and w_kn / pi_k in place.
  if (mem.with_densities) {
    for (int n = 0; n < n_entries; ++n) {
      w.norm[n] = w.log_domain ? std::exp(w.norm[n]) : w.norm[n];
      for (int k = 0; k < K; ++k) {
        const size_t nk = mem.at(n, k);
        const double joint = w.log_domain ? std::exp(w.weight[nk]) : exp_value(w.weight[nk]);
        w.weight[nk] = joint / p.pi[k];
      }
    }
    mem.p_marginal.swap(w.norm);
    mem.p_component.swap(w.weight);
  }
  mem.p_case.swap(w.resp);
  std::vector<double>().swap(w.norm);
  std::vector<double>().swap(w.weight);

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
  // A shared block reads the case arrays: with no discrete attribute the
  // joint weight is pi_k times the block's density.
  const int n_groups = mem.blocks_share_case ? 0 : l.n_groups;
  std::vector<double>& g = w.class_scratch;
  for (int b = 0; b < n_groups; ++b) {
    BlockMemberships& bm = mem.blocks[b];
    for (int n = 0; n < n_entries; ++n) {
      double total = 0.0;
      for (int k = 0; k < K; ++k) {
        g[k] = std::exp(block_log_density(l, p, w, n, k, b));
        if (mem.with_densities) bm.p_block_given_class[mem.at(n, k)] = g[k];
        total += p.pi[k] * g[k];
      }
      if (mem.with_densities) bm.p_block[n] = total;
      for (int k = 0; k < K; ++k) bm.p_class_given_block[mem.at(n, k)] = p.pi[k] * g[k] / total;
    }
  }
  return mem;
}

}  // namespace veska
