#include "mlmap/ml_params.h"

#include <algorithm>
#include <cmath>

#include "common/matrix.h"
#include "common/misc.h"

namespace veska {

MlLayout make_layout(const AttrModel& model, int K) {
  MlLayout l;
  l.K = K;
  l.n_discrete = model.n_discrete;
  l.n_groups = model.n_groups;
  for (int i = 0; i < l.n_discrete; ++i) {
    const int nv = static_cast<size_t>(i) < model.values.size() ? model.values[i].n_values : 0;
    l.n_values.push_back(nv);
    l.cat_offset.push_back(l.cat_stride);
    l.cat_stride += nv;
  }
  for (int b = 0; b < l.n_groups; ++b) {
    const int d = model.groups[b].size();
    l.dims.push_back(d);
    l.mean_offset.push_back(l.mean_stride);
    l.covar_offset.push_back(l.covar_stride);
    l.mean_stride += d;
    l.covar_stride += d * d;
    l.max_dim = std::max(l.max_dim, d);
  }
  return l;
}

MlParams allocate_params(const MlLayout& l) {
  MlParams p;
  p.K = l.K;
  p.pi.assign(static_cast<size_t>(l.K), 0.0);
  p.theta.assign(static_cast<size_t>(l.K) * l.cat_stride, 0.0);
  p.mean.assign(static_cast<size_t>(l.K) * l.mean_stride, 0.0);
  p.covar.assign(static_cast<size_t>(l.K) * l.covar_stride, 0.0);
  p.precision.assign(p.covar.size(), 0.0);
  p.det.assign(static_cast<size_t>(l.K) * l.n_groups, 0.0);
  return p;
}

void recompute_class_precisions(const MlLayout& l, MlParams& p, int k) {
  for (int b = 0; b < l.n_groups; ++b) {
    const int d = l.dims[b];
    double* cov = p.covar.data() + l.covar(k, b);
    double* prec = p.precision.data() + l.covar(k, b);
    double det;
    if (d == 1) {
      det = cov[0];
      prec[0] = 1.0 / cov[0];
    } else {
      Matrix a{d, d, cov, 0};
      Matrix inv{d, d, prec, 0};
      const DetResult r = inverse_spd(&inv, &a);
      det = r.det;
      // A matrix that is not positive definite has no usable inverse; its
      // zero determinant sends it to the singular check.
      if (!r.ok) {
        det = 0.0;
        std::fill(prec, prec + d * d, 0.0);
      }
    }
    bool finite = std::isfinite(det);
    for (int i = 0; i < d * d && finite; ++i) finite = std::isfinite(prec[i]);
    if (!finite) die("Failed to invert covariances\n");
    p.det[l.block(k, b)] = det;
  }
}

void recompute_precisions(const MlLayout& l, MlParams& p) {
  for (int k = 0; k < l.K; ++k) recompute_class_precisions(l, p, k);
}

BlockScales block_scales(const MlContext& ctx, const MlLayout& l) {
  BlockScales s;
  s.variance.assign(static_cast<size_t>(l.mean_stride), 1.0);
  for (int b = 0; b < l.n_groups; ++b) {
    const Matrix* c = ctx.stats.groups[b].sample_covar;
    for (int i = 0; i < l.dims[b]; ++i) s.variance[l.mean_offset[b] + i] = (*c)[i][i];
  }
  return s;
}

void keep_normalisers(MlWork& w) {
  if (w.norm.empty()) w.norm.assign(static_cast<size_t>(w.views->n_entries), 0.0);
}

MlWork allocate_work(const MlLayout& l, const EntryViews& views, bool keep_normalisers) {
  MlWork w;
  const int n_entries = views.n_entries;
  w.log_norm.assign(static_cast<size_t>(l.K) * l.n_groups, 0.0);
  const size_t nk = static_cast<size_t>(n_entries) * l.K;
  w.weight.assign(nk, 0.0);
  if (keep_normalisers) w.norm.assign(static_cast<size_t>(n_entries), 0.0);
  w.resp.assign(nk, 0.0);
  w.e_class.assign(static_cast<size_t>(l.K), 0.0);
  w.e_cat.assign(static_cast<size_t>(l.K) * l.cat_stride, 0.0);
  w.s1.assign(static_cast<size_t>(l.K) * l.mean_stride, 0.0);
  w.s2.assign(static_cast<size_t>(l.K) * l.covar_stride, 0.0);
  w.centre.assign(static_cast<size_t>(l.mean_stride), 0.0);
  const size_t d = static_cast<size_t>(l.max_dim);
  w.diff.assign(d, 0.0);
  w.class_scratch.assign(static_cast<size_t>(l.K), 0.0);
  w.views = &views;
  w.kernel = allocate_kernel_scratch(l.K, l.cat_stride, l.dims);
  w.kernel.missing_work.assign(pattern_work_size(l.max_dim), 0.0);
  w.missing_tables = PatternTables(views, l.K);
  // Last: the workers' scratch copies the caller's as sized above.
  w.chunks = allocate_chunk_work(n_entries, l.K, l.cat_stride, l.dims, w.kernel);
  w.log_pi.assign(static_cast<size_t>(l.K), 0.0);
  w.log_theta.assign(static_cast<size_t>(l.K) * l.cat_stride, 0.0);
  return w;
}

void raw_block_sums(const MlLayout& l, const MlWork& w, std::vector<double>& s1,
                    std::vector<double>& s2) {
  s1 = w.s1;
  s2 = w.s2;
  for (int k = 0; k < l.K; ++k) {
    const double nk = w.e_class[k];
    for (int b = 0; b < l.n_groups; ++b) {
      const int d = l.dims[b];
      const double* c = w.centre.data() + l.mean_offset[b];
      const double* t1 = w.s1.data() + l.mean(k, b);
      double* r1 = s1.data() + l.mean(k, b);
      double* r2 = s2.data() + l.covar(k, b);
      for (int i = 0; i < d; ++i) {
        r1[i] += nk * c[i];
        for (int j = i; j < d; ++j) r2[i * d + j] += c[i] * t1[j] + t1[i] * c[j] + nk * c[i] * c[j];
      }
    }
  }
}

}  // namespace veska
