#include "vb/vb_state.h"

#include <cmath>

#include "common/matrix.h"
#include "common/misc.h"

namespace veska {

namespace {

// alpha0(D): --alpha when positive, else just above the smallest proper
// degrees of freedom.
double prior_alpha(const Settings& s, int d) { return s.alpha > 0.0 ? s.alpha : d + 1.0e-6; }

void append_vector(std::vector<double>& out, const Vector* v) {
  out.insert(out.end(), v->data, v->data + v->n);
}

void append_matrix(std::vector<double>& out, const Matrix* m) {
  out.insert(out.end(), m->data, m->data + static_cast<size_t>(m->rows) * m->cols);
}

// Reads the next v->n values of `in` from `pos` into v.
void take_vector(const std::vector<double>& in, size_t& pos, Vector* v) {
  if (pos + static_cast<size_t>(v->n) > in.size()) die("Internal error: saved hyperparameters do not fit\n");
  for (int i = 0; i < v->n; ++i) (*v)[i] = in[pos++];
}

void take_matrix(const std::vector<double>& in, size_t& pos, Matrix* m) {
  size_t n = static_cast<size_t>(m->rows) * m->cols;
  if (pos + n > in.size()) die("Internal error: saved hyperparameters do not fit\n");
  for (size_t i = 0; i < n; ++i) m->data[i] = in[pos++];
}

void save(const VbState& st, VbSavedState& copy, bool with_priors) {
  copy = VbSavedState{};
  copy.valid = true;
  copy.with_priors = with_priors;
  copy.K = st.K;
  copy.delta0 = st.delta0;
  copy.delta = st.delta;
  copy.delta0_cat = st.delta0_cat;
  copy.delta_cat = st.delta_cat;
  copy.n_k = st.n_k;
  for (const VbBlock& blk : st.blocks) {
    if (with_priors) {
      append_vector(copy.mu0, blk.mu0);
      append_matrix(copy.sigma0, blk.sigma0);
      append_matrix(copy.w0, blk.w0);
      copy.det_sigma0.push_back(blk.det_sigma0);
    }
    append_vector(copy.mu, blk.mu);
    append_matrix(copy.sigma, blk.sigma);
    append_matrix(copy.w, blk.w);
    copy.det_sigma.push_back(blk.det_sigma);
  }
}

void restore(const VbSavedState& copy, VbState& st) {
  if (!copy.valid || copy.K != st.K || copy.delta.size() != st.delta.size() ||
      copy.delta_cat.size() != st.delta_cat.size() ||
      copy.det_sigma.size() != st.blocks.size()) {
    die("Internal error: saved hyperparameters do not fit\n");
  }
  st.delta0 = copy.delta0;
  st.delta = copy.delta;
  st.delta0_cat = copy.delta0_cat;
  st.delta_cat = copy.delta_cat;
  st.n_k = copy.n_k;
  size_t p_mu0 = 0, p_sigma0 = 0, p_w0 = 0, p_mu = 0, p_sigma = 0, p_w = 0;
  for (size_t i = 0; i < st.blocks.size(); ++i) {
    VbBlock& blk = st.blocks[i];
    if (copy.with_priors) {
      take_vector(copy.mu0, p_mu0, blk.mu0);
      take_matrix(copy.sigma0, p_sigma0, blk.sigma0);
      take_matrix(copy.w0, p_w0, blk.w0);
      blk.det_sigma0 = copy.det_sigma0[i];
    }
    take_vector(copy.mu, p_mu, blk.mu);
    take_matrix(copy.sigma, p_sigma, blk.sigma);
    take_matrix(copy.w, p_w, blk.w);
    blk.det_sigma = copy.det_sigma[i];
  }
}

// The flat per-entry arrays of the state (see VbState).
void build_entry_views(const CaseTable& cases, VbState& st) {
  const size_t n_entries = static_cast<size_t>(st.n_entries);
  const size_t nd = static_cast<size_t>(st.n_discrete);
  st.entry_cells.assign(n_entries * nd, kMissingCell);
  st.entry_count.assign(n_entries, 0.0);
  st.entry_complete.assign(n_entries, 1);
  st.entry_reals.assign(n_entries, nullptr);
  st.block_missing_entries.assign(static_cast<size_t>(st.n_groups), {});
  for (size_t n = 0; n < n_entries; ++n) {
    const CaseEntry& e = cases.entries[n];
    st.entry_count[n] = e.total;
    st.entry_reals[n] = e.reals;
    std::span<const int> codes = e.codes();
    std::span<const int> missing = e.disc_missing();
    for (size_t j = 0; j < nd; ++j) {
      if (missing[j]) {
        st.entry_complete[n] = 0;
      } else {
        st.entry_cells[n * nd + j] = st.cat_offset[j] + codes[j];
      }
    }
    std::span<const int> block_missing = e.gauss_n_missing();
    for (size_t b = 0; b < block_missing.size(); ++b) {
      if (block_missing[b] == 0) continue;
      st.entry_complete[n] = 0;
      st.block_missing_entries[b].push_back(static_cast<int>(n));
    }
  }
  if (cases.layout) st.block_offset = cases.layout->group_offset;
}

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

  st.cat_offset.resize(static_cast<size_t>(st.n_discrete));
  for (int j = 0; j < st.n_discrete; ++j) {
    int nv = model.values[static_cast<size_t>(j)].n_values;
    st.n_values.push_back(nv);
    st.cat_offset[static_cast<size_t>(j)] = st.cat_stride;
    st.cat_stride += nv;
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
  st.delta0_cat.assign(cat, 0.0);
  st.blocks.resize(k * static_cast<size_t>(st.n_groups));
  for (int c = 0; c < K; ++c) {
    for (int b = 0; b < st.n_groups; ++b) {
      VbBlock& blk = st.block(c, b);
      int d = st.dims[static_cast<size_t>(b)];
      blk.mu0 = new_zero_vector(d);
      blk.sigma0 = new_zero_matrix(d, d);
      blk.w0 = new_zero_matrix(d, d);
    }
  }
  st.delta.assign(k, 0.0);
  st.delta_cat.assign(cat, 0.0);
  for (int c = 0; c < K; ++c) {
    for (int b = 0; b < st.n_groups; ++b) {
      VbBlock& blk = st.block(c, b);
      int d = st.dims[static_cast<size_t>(b)];
      blk.mu = new_zero_vector(d);
      blk.sigma = new_zero_matrix(d, d);
      blk.w = new_zero_matrix(d, d);
    }
  }
  st.e_log_pi.assign(k, 0.0);
  st.e_log_theta.assign(cat, 0.0);
  st.log_rho.assign(per_entry, 0.0);
  st.resp.assign(per_entry, 0.0);
  st.log_z.assign(static_cast<size_t>(st.n_entries), 0.0);
  st.n_k.assign(k, 0.0);
  st.n_cat.assign(cat, 0.0);
  for (int c = 0; c < K; ++c) {
    for (int b = 0; b < st.n_groups; ++b) {
      VbBlock& blk = st.block(c, b);
      int d = st.dims[static_cast<size_t>(b)];
      blk.s1 = new_zero_vector(d);
      blk.xbar = new_zero_vector(d);
      blk.s2 = new_zero_matrix(d, d);
    }
  }
  const size_t m = static_cast<size_t>(st.max_dim);
  st.obs_index.assign(m, 0);
  st.mis_index.assign(m, 0);
  st.mis_position.assign(m, 0);
  st.completed.assign(m, 0.0);
  build_entry_views(cases, st);
  const size_t lanes = static_cast<size_t>(kClassLanes);
  st.lane_theta.assign(static_cast<size_t>(st.cat_stride) * lanes, 0.0);
  st.lane_counts.assign(static_cast<size_t>(st.cat_stride) * lanes, 0.0);
  size_t gauss = 0;
  for (int d : st.dims) {
    st.lane_gauss_offset.push_back(gauss);
    gauss += static_cast<size_t>(d + d * d + 2) * lanes;
  }
  st.lane_gauss.assign(gauss, 0.0);
  st.lane_diff.assign(m * lanes, 0.0);
  st.block_terms.assign(static_cast<size_t>(st.n_groups) * lanes, VbBlockTerms{});
  return st;
}

void free_vb_state(VbState& st) {
  // Reverse groups: statistics, posteriors, priors; each group in reverse.
  for (size_t i = st.blocks.size(); i-- > 0;) {
    VbBlock& blk = st.blocks[i];
    free_matrix(blk.s2);
    free_vector(blk.xbar);
    free_vector(blk.s1);
  }
  for (size_t i = st.blocks.size(); i-- > 0;) {
    VbBlock& blk = st.blocks[i];
    free_matrix(blk.w);
    free_matrix(blk.sigma);
    free_vector(blk.mu);
  }
  for (size_t i = st.blocks.size(); i-- > 0;) {
    VbBlock& blk = st.blocks[i];
    free_matrix(blk.w0);
    free_matrix(blk.sigma0);
    free_vector(blk.mu0);
  }
  st = VbState{};
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

void save_hparams_best(const VbState& st, VbSavedState& copy) { save(st, copy, true); }
void restore_hparams_best(const VbSavedState& copy, VbState& st) { restore(copy, st); }
void save_hparams_opt(const VbState& st, VbSavedState& copy) { save(st, copy, false); }
void restore_hparams_opt(const VbSavedState& copy, VbState& st) { restore(copy, st); }
void drop_saved_state(VbSavedState& copy) { copy = VbSavedState{}; }

}  // namespace veska
