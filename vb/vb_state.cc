#include "vb/vb_state.h"

#include <cmath>

#include "common/matrix.h"
#include "common/misc.h"

namespace veska {

namespace {

// alpha0(D): --alpha when positive, else just above the smallest proper
// degrees of freedom.
double prior_alpha(const Settings& s, int d) { return s.alpha > 0.0 ? s.alpha : d + 1.0e-6; }

}  // namespace

VbState allocate_vb_state(const VbContext& ctx, int K) {
  const AttrModel& model = ctx.model;
  const CaseTable& cases = ctx.cases;
  VbState st;
  st.K = K;
  st.n_entries = cases.n_entries;
  st.n_discrete = model.n_discrete;
  st.n_groups = model.n_groups;
  st.gauss_missing = cases.gauss_missing_sum > 0;

  st.cat_offset = ctx.views.cat_offset;
  st.cat_stride = ctx.views.cat_stride;
  for (int j = 0; j < st.n_discrete; ++j) {
    st.n_values.push_back(model.values[static_cast<size_t>(j)].n_values);
  }
  for (int b = 0; b < st.n_groups; ++b) {
    int d = model.groups[static_cast<size_t>(b)].size();
    st.dims.push_back(d);
    st.alpha0.push_back(prior_alpha(ctx.settings, d));
    if (d > st.max_dim) st.max_dim = d;
  }
  st.tau0 = ctx.settings.tau;

  const size_t k = static_cast<size_t>(K);
  const size_t cat = k * static_cast<size_t>(st.cat_stride);
  const size_t per_entry = k * static_cast<size_t>(st.n_entries);

  st.delta0.assign(k, 0.0);
  st.delta.assign(k, 0.0);
  st.delta0_cat.assign(cat, 0.0);
  st.delta_cat.assign(cat, 0.0);
  st.n_k.assign(k, 0.0);
  st.blocks.reserve(k * static_cast<size_t>(st.n_groups));
  st.moments.reserve(k * static_cast<size_t>(st.n_groups));
  for (int c = 0; c < K; ++c) {
    for (int d : st.dims) {
      st.blocks.push_back(VbBlock{VectorValue(d), MatrixValue(d, d), MatrixValue(d, d), 0.0,
                                  VectorValue(d), MatrixValue(d, d), MatrixValue(d, d), 0.0});
      st.moments.push_back(VbMoments{VectorValue(d), VectorValue(d), MatrixValue(d, d)});
    }
  }
  st.n_cat.assign(cat, 0.0);
  st.e_log_pi.assign(k, 0.0);
  st.e_log_theta.assign(cat, 0.0);
  st.log_rho.assign(per_entry, 0.0);
  st.resp.assign(per_entry, 0.0);
  VbLaneScratch& lanes = st.lanes;
  lanes.block_terms.assign(k * static_cast<size_t>(st.n_groups), VbBlockTerms{});
  lanes.kernel = allocate_kernel_scratch(K, st.cat_stride, st.dims);
  lanes.kernel.missing_work.assign(pattern_work_size(st.max_dim), 0.0);
  st.missing_tables = PatternTables(ctx.views, K);
  // Last: the workers' scratch copies the caller's as sized above.
  lanes.chunks = allocate_chunk_work(st.n_entries, K, st.cat_stride, st.dims, lanes.kernel);
  return st;
}

void free_vb_state(VbState& st) { st = VbState{}; }

void release_entry_arrays(VbWork& w) {
  std::vector<double>().swap(w.log_rho);
  std::vector<double>().swap(w.resp);
}

namespace {

// W = Sigma^-1 and |Sigma| of every block of class k; `name` is the step
// named by the numerical error.
void class_precisions(VbState& st, int k, const char* name) {
  for (int b = 0; b < st.n_groups; ++b) {
    VbBlock& blk = st.block(k, b);
    const DetResult r = inverse_spd(blk.w, blk.sigma);
    if (!r.ok || has_non_finite(blk.w)) {
      raise_numerical_error(name, "Failed to invert the hyperparameters for covariances\n");
    }
    blk.det_sigma = r.det;
  }
}

}  // namespace

void compute_hparam_precisions(VbState& st) {
  for (int k = 0; k < st.K; ++k) class_precisions(st, k, "compute_hparam_precisions");
}

void compute_hparam_precisions_part(VbState& st, std::span<const int> classes) {
  for (int k : classes) class_precisions(st, k, "compute_hparam_precisions_part");
}

void restore_hparams(const VbHparams& copy, VbState& st) {
  if (copy.delta.size() != st.delta.size() || copy.delta_cat.size() != st.delta_cat.size() ||
      copy.blocks.size() != st.blocks.size()) {
    die("Internal error: saved hyperparameters do not fit\n");
  }
  st.hparams() = copy;
}

}  // namespace veska
