#include "mlmap/ml_smem.h"

#include <algorithm>
#include <cmath>

#include "common/gauss.h"
#include "common/misc.h"
#include "common/random.h"
#include "fit/kernels.h"

namespace veska {

namespace {

constexpr double kTiny = 1e-60;

void check_finite(double v, const char* nan_text, const char* inf_text, const char* check) {
  if (std::isnan(v)) fail_density_check(check, nan_text);
  if (std::isinf(v)) fail_density_check(check, inf_text);
}

void normalise(double* w, int n) {
  double sum = 0.0;
  for (int i = 0; i < n; ++i) sum += w[i];
  for (int i = 0; i < n; ++i) w[i] /= sum;
}

}  // namespace

std::vector<double> compute_jmerge(const MlLayout& l, const MlWork& w, bool normalised) {
  const int K = l.K;
  const size_t n_entries = static_cast<size_t>(w.views->n_entries);
  std::vector<double> j(static_cast<size_t>(K) * K, 0.0);
  std::vector<double> sq(static_cast<size_t>(K), 0.0);
  for (size_t n = 0; n < n_entries; ++n) {
    const double* r = w.resp.data() + n * K;
    const double c = w.views->entry_count[n];
    for (int a = 0; a < K; ++a) {
      sq[a] += c * r[a] * r[a];
      for (int b = a + 1; b < K; ++b) j[static_cast<size_t>(a) * K + b] += c * r[a] * r[b];
    }
  }
  for (int a = 0; a < K; ++a) {
    for (int b = a + 1; b < K; ++b) {
      double& v = j[static_cast<size_t>(a) * K + b];
      if (normalised) v /= std::sqrt(sq[a] * sq[b]);
      check_finite(v, "Computed Jmerge is not a number -- see the log file\n",
                   "Computed Jmerge is not finite -- see the log file\n", "check_jmerge");
    }
  }
  return j;
}

std::vector<double> compute_jsplit(const MlLayout& l, const MlParams& p, const MlWork& w) {
  const int K = l.K;
  std::vector<double> j(static_cast<size_t>(K), 0.0);
  for (size_t n = 0; n < static_cast<size_t>(w.views->n_entries); ++n) {
    const double* r = w.resp.data() + n * K;
    const double* x = w.weight.data() + n * K;
    for (int k = 0; k < K; ++k) {
      // An empty class has no share to compare.
      const double f = w.e_class[k] > 0.0 ? std::max(w.views->entry_count[n] * r[k] / w.e_class[k], kTiny) : kTiny;
      // The class-conditional density is the joint weight without pi_k.
      const double ln_p = w.log_domain ? std::max(x[k] - std::log(p.pi[k]), std::log(kTiny))
                                       : std::log(std::max(exp_value(x[k]) / p.pi[k], kTiny));
      j[k] += f * (std::log(f) - ln_p);
    }
  }
  char nan_text[80], inf_text[80];
  for (int k = 0; k < K; ++k) {
    snprintf(nan_text, sizeof nan_text, "Computed Jsplit[%d] is not a number -- see the log file\n", k);
    snprintf(inf_text, sizeof inf_text, "Computed Jsplit[%d] is not finite -- see the log file\n", k);
    check_finite(j[k], nan_text, inf_text, "check_jsplit");
  }
  return j;
}

void initialize_param_part(const MlContext& ctx, const MlLayout& l, MlParams& p,
                           const SmemCandidate& c, const std::vector<double>& counts) {
  const Settings& s = ctx.settings;
  const int i = c.i, j = c.j, k = c.k;
  // Two empty classes merge with equal weights.
  const double pair = counts[i] + counts[j];
  const double wi = pair > 0.0 ? counts[i] / pair : 0.5;
  const double wj = pair > 0.0 ? counts[j] / pair : 0.5;
  p.pi[i] += p.pi[j];
  p.pi[j] = p.pi[k] / 2.0;
  p.pi[k] = p.pi[k] / 2.0;

  for (int a = 0; a < l.n_discrete; ++a) {
    const int nv = l.n_values[a];
    double* ti = p.theta.data() + l.cat(i, a, 0);
    double* tj = p.theta.data() + l.cat(j, a, 0);
    double* tk = p.theta.data() + l.cat(k, a, 0);
    for (int v = 0; v < nv; ++v) {
      ti[v] = wj * tj[v] + wi * ti[v];
      const double u1 = rng_real();
      tj[v] = tk[v] + u1 * s.noise / nv;
      const double u2 = rng_real();
      tk[v] = tk[v] + u2 * s.noise / nv;
    }
    normalise(ti, nv);
    normalise(tj, nv);
    normalise(tk, nv);
  }

  for (int b = 0; b < l.n_groups; ++b) {
    const int d = l.dims[b];
    const GroupStats& g = ctx.stats.groups[b];
    double* mi = p.mean.data() + l.mean(i, b);
    double* mj = p.mean.data() + l.mean(j, b);
    double* mk = p.mean.data() + l.mean(k, b);
    for (int x = 0; x < d; ++x) {
      const double spread = std::sqrt((*g.sample_covar)[x][x]) * s.noise_gauss;
      mi[x] = wj * mj[x] + wi * mi[x];
      mj[x] = mk[x] + (0.5 - rng_real()) * spread;
      mk[x] = mk[x] + (0.5 - rng_real()) * spread;
    }
    double* ci = p.covar.data() + l.covar(i, b);
    double* cj = p.covar.data() + l.covar(j, b);
    double* ck = p.covar.data() + l.covar(k, b);
    const double det = p.det[l.block(k, b)];
    if (!(det > 0.0) || !std::isfinite(det)) {
      raise_numerical_error("initialize_param_part",
                            "Failed to compute the determinant of covariances\n");
    }
    const double f = std::pow(det, 1.0 / d);
    for (int x = 0; x < d * d; ++x) {
      ci[x] = wj * cj[x] + wi * ci[x];
      cj[x] = ck[x] = (x % (d + 1) == 0) ? f : 0.0;
    }
    for (int r = 0; r < d; ++r) {
      for (int q = 0; q < r; ++q) ci[r * d + q] = ci[q * d + r];
    }
  }
  for (const int m : {i, j, k}) recompute_class_precisions(l, p, m);
}

}  // namespace veska
