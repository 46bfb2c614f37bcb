#include "vb/vb_read_hparam.h"

#include <cmath>
#include <new>
#include <vector>

#include "common/init.h"
#include "common/matrix.h"
#include "common/misc.h"
#include "data/read_freq.h"
#include "data/stat.h"
#include "output/print_data.h"
#include "output/print_hparam_read.h"
#include "vb/print_vb.h"

namespace veska {

namespace {

// Whether the Cholesky factorisation of the d x d matrix `a` (row by row)
// finds only positive, finite pivots. The closed-form inverses of small
// matrices make no such test, so it is made here.
bool positive_definite(std::vector<double> a, int d) {
  const size_t n = static_cast<size_t>(d);
  for (size_t c = 0; c < n; ++c) {
    double pivot = a[c * n + c];
    for (size_t m = 0; m < c; ++m) pivot -= a[c * n + m] * a[c * n + m];
    if (!(pivot > 0.0) || !std::isfinite(pivot)) return false;
    const double l = std::sqrt(pivot);
    a[c * n + c] = l;
    for (size_t r = c + 1; r < n; ++r) {
      double s = a[r * n + c];
      for (size_t m = 0; m < c; ++m) s -= a[r * n + m] * a[c * n + m];
      a[r * n + c] = s / l;
      if (!std::isfinite(a[r * n + c])) return false;
    }
  }
  return true;
}

void copy_into(Vector* v, const std::vector<double>& values) {
  for (int i = 0; i < v->n; ++i) (*v)[i] = values[static_cast<size_t>(i)];
}

void copy_into(Matrix* m, const std::vector<double>& values) {
  for (size_t i = 0; i < values.size(); ++i) m->data[i] = values[i];
}

}  // namespace

void check_stored_model(const Settings& s, const AttrModel& model, const StoredHparams& h) {
  const int prec = s.prec_msg;
  double total = 0.0;
  for (int k = 0; k < h.K; ++k) {
    const double d = h.delta[static_cast<size_t>(k)];
    if (!(d > 0.0)) die("Class pseudo counts must be positive: %.*f (class=%d)\n", prec, d, k);
    total += d;
  }
  if (!std::isfinite(total)) die("Class pseudo counts too large to be normalised\n");

  for (int i = 0; i < model.n_discrete; ++i) {
    const int j = model.discrete_attr[static_cast<size_t>(i)];
    const std::vector<double>& counts = h.delta_cat[static_cast<size_t>(i)];
    const size_t n_values = counts.size() / static_cast<size_t>(h.K);
    for (int k = 0; k < h.K; ++k) {
      double sum = 0.0;
      for (size_t v = 0; v < n_values; ++v) {
        const double d = counts[static_cast<size_t>(k) * n_values + v];
        if (!(d > 0.0)) {
          die("Attribute pseudo counts must be positive: %.*f (class=%d, attribute=%d)\n", prec, d, k,
              j);
        }
        sum += d;
      }
      if (!std::isfinite(sum)) {
        die("Attribute pseudo counts too large to be normalised (class=%d, attribute=%d)\n", k, j);
      }
    }
  }

  for (int k = 0; k < h.K; ++k) {
    for (int b = 0; b < h.n_groups; ++b) {
      if (!positive_definite(h.covar[h.block_index(k, b)], model.groups[static_cast<size_t>(b)].size())) {
        die("Covariance hyperparameters not positive definite (class=%d, Gauss ID=%d)\n", k, b);
      }
    }
  }
}

void load_stored_hparams(const StoredHparams& h, VbState& st) {
  if (st.K != h.K || st.n_groups != h.n_groups ||
      st.n_discrete != static_cast<int>(h.delta_cat.size())) {
    die("Internal error: load_stored_hparams() -- the state does not fit the stored model\n");
  }
  for (int k = 0; k < h.K; ++k) {
    st.delta0[static_cast<size_t>(k)] = h.delta[static_cast<size_t>(k)];
  }
  for (int j = 0; j < st.n_discrete; ++j) {
    const std::vector<double>& counts = h.delta_cat[static_cast<size_t>(j)];
    const int n_values = st.n_values[static_cast<size_t>(j)];
    if (counts.size() != static_cast<size_t>(h.K) * n_values) {
      die("Internal error: load_stored_hparams() -- the state does not fit the stored model\n");
    }
    for (int k = 0; k < h.K; ++k) {
      for (int v = 0; v < n_values; ++v) {
        st.delta0_cat[st.cat_index(k, j, v)] = counts[static_cast<size_t>(k) * n_values + v];
      }
    }
  }
  st.delta = st.delta0;
  st.delta_cat = st.delta0_cat;
  for (int k = 0; k < h.K; ++k) {
    for (int b = 0; b < h.n_groups; ++b) {
      VbBlock& blk = st.block(k, b);
      const size_t i = h.block_index(k, b);
      copy_into(blk.mu0, h.mean[i]);
      copy_into(blk.sigma0, h.covar[i]);
      copy_into(blk.mu, h.mean[i]);
      copy_into(blk.sigma, h.covar[i]);
    }
  }
  compute_hparam_precisions(st);
  for (VbBlock& blk : st.blocks) {
    const size_t n = static_cast<size_t>(blk.w->rows) * blk.w->cols;
    for (size_t i = 0; i < n; ++i) blk.w0->data[i] = blk.w->data[i];
    blk.det_sigma0 = blk.det_sigma;
  }
}

VbPredictiveScalars stored_scalars(const StoredHparams& h) {
  VbPredictiveScalars scalars;
  scalars.tau = h.tau;
  // Without Gaussian blocks the file holds no tau and nothing reads one; the
  // predictive code still takes a slot per class.
  if (h.n_groups == 0) scalars.tau.assign(static_cast<size_t>(h.K), 0.0);
  scalars.alpha = h.alpha;
  return scalars;
}

void run_read_hparam(Settings& s, AttrModel& model) {
  try {
    StoredHparams h = read_hparam(s, model);
    if (s.verbose) print_attribute_values(log_stream(), model);
    check_stored_model(s, model, h);

    CaseTable cases = read_cases(s, model);
    print_case_summaries(log_stream(), s, model, cases);
    if (resolve_auto_smoothing(s, model, h.K)) print_auto_smoothing(log_stream(), s, model, h.K);
    print_data_size(log_stream(), s, model, cases, {h.K});

    const SampleStats no_stats;  // nothing is estimated
    const EntryViews views = build_entry_views(cases, model);
    const VbContext ctx{s, model, cases, no_stats, views};
    VbState st = allocate_vb_state(ctx, h.K);
    load_stored_hparams(h, st);
    release_entry_arrays(st);  // nothing is estimated
    run_read_hparam_analysis(ctx, st, stored_scalars(h));
    free_vb_state(st);
  } catch (const std::bad_alloc&) {
    die_stderr("Couldn't allocate memory (vb_read_hparam, line %d)\n", __LINE__);
  }
}

}  // namespace veska
