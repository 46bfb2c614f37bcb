#include "vb/vb_partition_start.h"

#include "common/misc.h"
#include "vb/vb_init.h"
#include "vb/vbem.h"

namespace veska {

namespace {

// The smallest responsibility the E-step ever gives: every class then has
// N_k > 0 and finite statistics even when its group is empty.
constexpr double kResponsibilityFloor = 1.0e-30;

}  // namespace

void init_hparams_from_partition(const VbContext& ctx, VbState& st, std::span<const int> groups) {
  const Settings& s = ctx.settings;
  const int K = st.K;
  if (groups.size() != static_cast<size_t>(st.n_entries)) {
    die("Internal error: a starting partition does not cover the cases\n");
  }

  for (int k = 0; k < K; ++k) st.delta0[k] = s.smooth_c;
  for (int k = 0; k < K; ++k) {
    for (int j = 0; j < st.n_discrete; ++j) {
      const double a0 = s.smooth_a[static_cast<size_t>(j)].value;
      for (int v = 0; v < st.n_values[static_cast<size_t>(j)]; ++v) st.delta0_cat[st.cat_index(k, j, v)] = a0;
    }
  }
  st.delta = st.delta0;
  st.delta_cat = st.delta0_cat;
  if (st.n_groups > 0) {
    // The statistics impute missing values from the posteriors: start them
    // at the priors.
    set_gauss_priors(ctx, st);
    for (VbBlock& blk : st.blocks) {
      copy_vector(blk.mu, blk.mu0);
      copy_matrix(blk.sigma, blk.sigma0);
    }
    for (int k = 0; k < K; ++k) st.n_k[k] = static_cast<double>(ctx.cases.n_cases) / K;
    compute_hparam_precisions(st);
  }

  for (int k = 0; k < K; ++k) {
    for (int n = 0; n < st.n_entries; ++n) {
      st.resp[st.entry_index(k, n)] = groups[static_cast<size_t>(n)] == k ? 1.0 : kResponsibilityFloor;
    }
  }
  st.beta = 1.0;
  compute_sufficient_stats(ctx, st);
  update_hparams(ctx, st);
}

}  // namespace veska
