#include "mlmap/em_steps.h"

#include <algorithm>
#include <cmath>

#include "common/gauss.h"
#include "common/matrix.h"
#include "common/misc.h"

namespace veska {

namespace {

constexpr double kLn2Pi = 1.83787706640934548356;
constexpr double kTinyNormaliser = 1e-60;
constexpr double kCovarianceFloor = 1e-12;
constexpr double kSingularRatio = 1e-12;

// The observed and missing components of block b of an entry into the work
// lists; returns the number observed.
int split_components(const CaseEntry& e, int b, int d, MlWork& w) {
  const std::span<const int> observed = e.gauss_observed(b);
  int o = 0, m = 0;
  for (int i = 0; i < d; ++i) {
    if (observed[i]) {
      w.observed[o++] = i;
    } else {
      w.missing[m++] = i;
    }
  }
  return o;
}

// Sigma_oo^-1 of class k's block into work.sub (o x o); returns ln |Sigma_oo|.
double invert_observed(const double* cov, int d, int o, MlWork& w) {
  for (int r = 0; r < o; ++r) {
    for (int c = 0; c < o; ++c) w.sub[r * o + c] = cov[w.observed[r] * d + w.observed[c]];
  }
  double det;
  if (o == 1) {
    det = w.sub[0];
    w.sub[0] = 1.0 / det;
  } else {
    Matrix a{o, o, w.sub.data(), 0};
    const DetResult r = inverse_spd(&a, &a);
    det = r.ok ? r.det : 0.0;
  }
  if (!(det > 0.0) || !std::isfinite(det)) {
    raise_numerical_error("compute_expect_gauss0",
                          "Failed to invert covariances of the observed part\n");
  }
  return std::log(det);
}

// (x_o - mu_o) into work.diff; returns its quadratic form with work.sub.
double observed_quadratic(std::span<const double> x, const double* mu, int o, MlWork& w) {
  for (int r = 0; r < o; ++r) w.diff[r] = x[w.observed[r]] - mu[w.observed[r]];
  double q = 0.0;
  for (int r = 0; r < o; ++r) {
    double row = 0.0;
    for (int c = 0; c < o; ++c) row += w.sub[r * o + c] * w.diff[c];
    q += w.diff[r] * row;
  }
  return q;
}

// (x - mu)' P (x - mu) from the upper triangle of the symmetric P, and the
// moments omega x, omega x x' (upper triangle) added to S1 and S2. A block's
// dimension is fixed for the whole run, so the small dimensions get loops
// the compiler unrolls; the general loops serve the rest.
template <int D>
[[gnu::always_inline]] inline double quadratic_fixed(const double* x, const double* mu,
                                                     const double* prec) {
  double diff[D];
  for (int i = 0; i < D; ++i) diff[i] = x[i] - mu[i];
  double q = 0.0;
  for (int i = 0; i < D; ++i) {
    double off = 0.0;
    for (int j = i + 1; j < D; ++j) off += prec[i * D + j] * diff[j];
    q += diff[i] * (prec[i * D + i] * diff[i] + 2.0 * off);
  }
  return q;
}

double quadratic_general(const double* x, const double* mu, const double* prec, int d,
                         double* diff) {
  for (int i = 0; i < d; ++i) diff[i] = x[i] - mu[i];
  double q = 0.0;
  for (int i = 0; i < d; ++i) {
    const double* row = prec + i * d;
    double off = 0.0;
    for (int j = i + 1; j < d; ++j) off += row[j] * diff[j];
    q += diff[i] * (row[i] * diff[i] + 2.0 * off);
  }
  return q;
}

double full_quadratic(const double* x, const double* mu, const double* prec, int d,
                      double* diff) {
  switch (d) {
    case 1: return quadratic_fixed<1>(x, mu, prec);
    case 2: return quadratic_fixed<2>(x, mu, prec);
    case 3: return quadratic_fixed<3>(x, mu, prec);
    case 4: return quadratic_fixed<4>(x, mu, prec);
    case 5: return quadratic_fixed<5>(x, mu, prec);
    case 6: return quadratic_fixed<6>(x, mu, prec);
    default: return quadratic_general(x, mu, prec, d, diff);
  }
}

template <int D>
[[gnu::always_inline]] inline void moments_fixed(double omega, const double* x, double* s1,
                                                 double* s2) {
  for (int i = 0; i < D; ++i) {
    const double wx = omega * x[i];
    s1[i] += wx;
    for (int j = i; j < D; ++j) s2[i * D + j] += wx * x[j];
  }
}

void moments_general(double omega, const double* x, int d, double* s1, double* s2) {
  for (int i = 0; i < d; ++i) {
    const double wx = omega * x[i];
    s1[i] += wx;
    for (int j = i; j < d; ++j) s2[i * d + j] += wx * x[j];
  }
}

// Every class at once for one complete block of one entry, the class
// parameters lying `stride` apart: acc[k] += ln g_k (E-step) and the
// moments added with weight omega[k] (statistics). The dimension is
// dispatched once per entry and block, not per class.
struct ClassStrides {
  int mean;
  int covar;
  int block;
};

template <int D>
void block_logs_fixed(const double* x, const double* mu, const double* prec, const double* ln,
                      const ClassStrides& st, int K, double* acc) {
  for (int k = 0; k < K; ++k) {
    acc[k] += ln[k * st.block] - 0.5 * quadratic_fixed<D>(x, mu + k * st.mean, prec + k * st.covar);
  }
}

void block_logs(int d, const double* x, const double* mu, const double* prec, const double* ln,
                const ClassStrides& st, int K, double* acc, double* diff) {
  switch (d) {
    case 1: return block_logs_fixed<1>(x, mu, prec, ln, st, K, acc);
    case 2: return block_logs_fixed<2>(x, mu, prec, ln, st, K, acc);
    case 3: return block_logs_fixed<3>(x, mu, prec, ln, st, K, acc);
    case 4: return block_logs_fixed<4>(x, mu, prec, ln, st, K, acc);
    case 5: return block_logs_fixed<5>(x, mu, prec, ln, st, K, acc);
    case 6: return block_logs_fixed<6>(x, mu, prec, ln, st, K, acc);
    default:
      for (int k = 0; k < K; ++k) {
        acc[k] += ln[k * st.block] -
                  0.5 * quadratic_general(x, mu + k * st.mean, prec + k * st.covar, d, diff);
      }
  }
}

template <int D>
void block_moments_fixed(const double* x, const double* omega, const ClassStrides& st, int K,
                         double* s1, double* s2) {
  // The point in registers: the sums' stores cannot change it.
  double xs[D];
  for (int i = 0; i < D; ++i) xs[i] = x[i];
  for (int k = 0; k < K; ++k) {
    if (omega[k] != 0.0) moments_fixed<D>(omega[k], xs, s1 + k * st.mean, s2 + k * st.covar);
  }
}

void block_moments(int d, const double* x, const double* omega, const ClassStrides& st, int K,
                   double* s1, double* s2) {
  switch (d) {
    case 1: return block_moments_fixed<1>(x, omega, st, K, s1, s2);
    case 2: return block_moments_fixed<2>(x, omega, st, K, s1, s2);
    case 3: return block_moments_fixed<3>(x, omega, st, K, s1, s2);
    case 4: return block_moments_fixed<4>(x, omega, st, K, s1, s2);
    case 5: return block_moments_fixed<5>(x, omega, st, K, s1, s2);
    case 6: return block_moments_fixed<6>(x, omega, st, K, s1, s2);
    default:
      for (int k = 0; k < K; ++k) {
        if (omega[k] != 0.0) moments_general(omega[k], x, d, s1 + k * st.mean, s2 + k * st.covar);
      }
  }
}

void refresh_log_norms(const MlLayout& l, const MlParams& p, MlWork& w) {
  for (int k = 0; k < l.K; ++k) {
    for (int b = 0; b < l.n_groups; ++b) {
      const size_t kb = l.block(k, b);
      w.log_norm[kb] = -0.5 * (l.dims[b] * kLn2Pi + std::log(p.det[kb]));
    }
  }
}

}  // namespace

namespace {

// ln g_kbn of entry e's block b, whose values and missing count the work's
// flat views give.
double block_term(const MlLayout& l, const MlParams& p, MlWork& w, const CaseEntry& e, int k,
                  int b, const double* x, int n_missing) {
  const int d = l.dims[b];
  if (n_missing == d) return 0.0;
  const double* mu = p.mean.data() + l.mean(k, b);
  if (n_missing == 0) {
    const double q = full_quadratic(x, mu, p.precision.data() + l.covar(k, b), d, w.diff.data());
    return w.log_norm[l.block(k, b)] - 0.5 * q;
  }
  const int o = split_components(e, b, d, w);
  const double ln_det = invert_observed(p.covar.data() + l.covar(k, b), d, o, w);
  const double q = observed_quadratic(e.values(b), mu, o, w);
  return -0.5 * (o * kLn2Pi + ln_det + q);
}

}  // namespace

double block_log_density(const MlLayout& l, const MlParams& p, MlWork& w, const CaseEntry& e,
                         int k, int b) {
  return block_term(l, p, w, e, k, b, e.values(b).data(), e.gauss_n_missing()[b]);
}

void compute_joint(const MlContext& ctx, const MlLayout& l, const MlParams& p, MlWork& w) {
  refresh_log_norms(l, p, w);
  const int K = l.K;
  const int nd = l.n_discrete;
  const int G = l.n_groups;
  const double beta = w.beta;
  const bool tempered = beta < 1.0;
  const ClassStrides strides{l.mean_stride, l.covar_stride, G};
  const int n_entries = ctx.cases.n_entries;
  for (int n = 0; n < n_entries; ++n) {
    const CaseEntry& e = ctx.cases.entries[n];
    const int* cells = w.cells.data() + static_cast<size_t>(n) * nd;
    const double* const* values = w.block_values.data() + static_cast<size_t>(n) * G;
    const int* missing = w.block_missing.data() + static_cast<size_t>(n) * G;
    double* out = w.weight.data() + static_cast<size_t>(n) * K;
    // The blocks' log densities per class; they multiply as one
    // exponential, a block with every value missing adding 0 (a factor 1).
    double* lg = w.class_scratch.data();
    std::fill(lg, lg + K, 0.0);
    for (int b = 0; b < G; ++b) {
      if (missing[b] == 0) {
        block_logs(l.dims[b], values[b], p.mean.data() + l.mean_offset[b],
                   p.precision.data() + l.covar_offset[b], w.log_norm.data() + b, strides, K, lg,
                   w.diff.data());
      } else {
        for (int k = 0; k < K; ++k) lg[k] += block_term(l, p, w, e, k, b, values[b], missing[b]);
      }
    }
    for (int k = 0; k < K; ++k) {
      const double* theta = p.theta.data() + static_cast<size_t>(k) * l.cat_stride;
      if (w.log_domain) {
        double s = std::log(p.pi[k]);
        for (int i = 0; i < nd; ++i) {
          if (cells[i] >= 0) s += std::log(theta[cells[i]]);
        }
        s += lg[k];
        out[k] = tempered ? beta * s : s;
      } else if (!tempered) {
        double x = p.pi[k];
        for (int i = 0; i < nd; ++i) {
          if (cells[i] >= 0) x *= theta[cells[i]];
        }
        out[k] = G > 0 ? x * std::exp(lg[k]) : x;
      } else {
        double x = std::pow(p.pi[k], beta);
        for (int i = 0; i < nd; ++i) {
          if (cells[i] >= 0) x *= std::pow(theta[cells[i]], beta);
        }
        out[k] = G > 0 ? x * std::exp(beta * lg[k]) : x;
      }
    }
  }
}

void compute_normalisers(const MlLayout& l, MlWork& w) {
  const int K = l.K;
  const size_t n_entries = w.norm.size();
  for (size_t n = 0; n < n_entries; ++n) {
    const double* x = w.weight.data() + n * K;
    if (w.log_domain) {
      double m = x[0];
      for (int k = 1; k < K; ++k) m = std::max(m, x[k]);
      double s = 0.0;
      for (int k = 0; k < K; ++k) s += std::exp(x[k] - m);
      w.norm[n] = std::log(s) + m;
    } else {
      double s = 0.0;
      for (int k = 0; k < K; ++k) s += x[k];
      w.norm[n] = s;
    }
  }
}

double compute_loglike(const MlWork& w) {
  double sum = 0.0;
  for (size_t n = 0; n < w.norm.size(); ++n) {
    const double c = w.count[n];
    if (w.log_domain) {
      sum += c * w.norm[n];
    } else if (c > 0.0) {
      sum += c * std::log(w.norm[n]);
    }
  }
  if (std::isnan(sum)) {
    fail_density_check("compute_loglike",
                       "Computed log-likelihood is not a number -- see the log file\n");
  }
  if (std::isinf(sum)) {
    fail_density_check("compute_loglike",
                       "Computed log-likelihood is not finite -- see the log file\n");
  }
  return sum;
}

void compute_responsibilities(const MlLayout& l, MlWork& w) {
  const int K = l.K;
  for (size_t n = 0; n < w.norm.size(); ++n) {
    const double z = w.norm[n];
    const double* x = w.weight.data() + n * K;
    double* r = w.resp.data() + n * K;
    for (int k = 0; k < K; ++k) {
      if (w.log_domain) {
        r[k] = std::exp(x[k] - z);
      } else {
        r[k] = z > kTinyNormaliser ? x[k] / z : 0.0;
      }
    }
  }
}

namespace {

// Adds omega times the completed point and its second moments to the sums
// of a block with missing values: observed values as they are, missing ones
// by their conditional mean given the observed part, and the conditional
// covariance of the missing part to S2.
void add_block_stats(const MlLayout& l, const MlParams& p, MlWork& w, const CaseEntry& e, int k,
                     int b, double omega) {
  const int d = l.dims[b];
  const double* mu = p.mean.data() + l.mean(k, b);
  const double* cov = p.covar.data() + l.covar(k, b);
  double* s1 = w.s1.data() + l.mean(k, b);
  double* s2 = w.s2.data() + l.covar(k, b);
  const int n_missing = e.gauss_n_missing()[b];
  const std::span<const double> x = e.values(b);
  if (n_missing == d) {
    for (int i = 0; i < d; ++i) {
      s1[i] += omega * mu[i];
      for (int j = i; j < d; ++j) s2[i * d + j] += omega * (mu[i] * mu[j] + cov[i * d + j]);
    }
    return;
  }
  const int o = split_components(e, b, d, w);
  const int m = d - o;
  invert_observed(cov, d, o, w);
  for (int r = 0; r < o; ++r) w.diff[r] = x[w.observed[r]] - mu[w.observed[r]];
  // gain = Sigma_mo Sigma_oo^-1 (m x o)
  for (int a = 0; a < m; ++a) {
    for (int c = 0; c < o; ++c) {
      double s = 0.0;
      for (int r = 0; r < o; ++r) s += cov[w.missing[a] * d + w.observed[r]] * w.sub[r * o + c];
      w.gain[a * o + c] = s;
    }
  }
  double* xh = w.point.data();
  for (int r = 0; r < o; ++r) xh[w.observed[r]] = x[w.observed[r]];
  for (int a = 0; a < m; ++a) {
    double s = mu[w.missing[a]];
    for (int c = 0; c < o; ++c) s += w.gain[a * o + c] * w.diff[c];
    xh[w.missing[a]] = s;
  }
  moments_general(omega, xh, d, s1, s2);
  // Q_mm = Sigma_mm - gain Sigma_om, added on the missing-missing pairs.
  for (int a = 0; a < m; ++a) {
    for (int c = a; c < m; ++c) {
      const int i = w.missing[a], j = w.missing[c];
      double s = cov[i * d + j];
      for (int r = 0; r < o; ++r) s -= w.gain[a * o + r] * cov[w.observed[r] * d + j];
      s2[i * d + j] += omega * s;
    }
  }
}

}  // namespace

void compute_expected_stats(const MlContext& ctx, const MlLayout& l, const MlParams& p,
                            MlWork& w) {
  std::fill(w.e_class.begin(), w.e_class.end(), 0.0);
  std::fill(w.e_cat.begin(), w.e_cat.end(), 0.0);
  std::fill(w.s1.begin(), w.s1.end(), 0.0);
  std::fill(w.s2.begin(), w.s2.end(), 0.0);
  const int K = l.K;
  const int nd = l.n_discrete;
  const int G = l.n_groups;
  const ClassStrides strides{l.mean_stride, l.covar_stride, G};
  const int n_entries = ctx.cases.n_entries;
  for (int n = 0; n < n_entries; ++n) {
    const CaseEntry& e = ctx.cases.entries[n];
    const int* cells = w.cells.data() + static_cast<size_t>(n) * nd;
    const double* const* values = w.block_values.data() + static_cast<size_t>(n) * G;
    const int* missing = w.block_missing.data() + static_cast<size_t>(n) * G;
    const double* r = w.resp.data() + static_cast<size_t>(n) * K;
    double* omega = w.class_scratch.data();
    for (int k = 0; k < K; ++k) {
      omega[k] = w.count[n] * r[k];
      w.e_class[k] += omega[k];
      double* counts = w.e_cat.data() + static_cast<size_t>(k) * l.cat_stride;
      for (int i = 0; i < nd; ++i) {
        if (cells[i] >= 0) counts[cells[i]] += omega[k];
      }
    }
    for (int b = 0; b < G; ++b) {
      if (missing[b] == 0) {
        block_moments(l.dims[b], values[b], omega, strides, K, w.s1.data() + l.mean_offset[b],
                      w.s2.data() + l.covar_offset[b]);
        continue;
      }
      for (int k = 0; k < K; ++k) {
        if (omega[k] != 0.0) add_block_stats(l, p, w, e, k, b, omega[k]);
      }
    }
  }
}

void m_step(const MlContext& ctx, const MlLayout& l, const MlPriors& pr, const BlockScales& sc,
            const MlWork& w, MlParams& p) {
  const int K = l.K;
  const double N = ctx.cases.n_cases;
  if (pr.from_file) {
    double sum = 0.0;
    for (int k = 0; k < K; ++k) sum += pr.delta[k] + w.e_class[k] - 1.0;
    for (int k = 0; k < K; ++k) p.pi[k] = (pr.delta[k] + w.e_class[k] - 1.0) / sum;
  } else if (pr.smooth_c > 0.0) {
    for (int k = 0; k < K; ++k) p.pi[k] = (pr.smooth_c + w.e_class[k]) / (pr.smooth_c * K + N);
  } else {
    for (int k = 0; k < K; ++k) p.pi[k] = w.e_class[k] / N;
  }

  for (int i = 0; i < l.n_discrete; ++i) {
    const int nv = l.n_values[i];
    // The missing-value term spreads every class's share of the cases
    // missing attribute i over its current value probabilities.
    const double missing =
        static_cast<double>(ctx.cases.missing_total[ctx.model.discrete_attr[i]]);
    for (int k = 0; k < K; ++k) {
      double* theta = p.theta.data() + l.cat(k, i, 0);
      const double* counts = w.e_cat.data() + l.cat(k, i, 0);
      double sum = 0.0;
      for (int v = 0; v < nv; ++v) {
        double s = 0.0;
        if (pr.from_file) {
          s = pr.delta_cat[l.cat(k, i, v)] - 1.0;
        } else if (pr.smooth_a[i] > 0.0) {
          s = pr.smooth_a[i];
        }
        theta[v] = missing * theta[v] + counts[v] + s;
        sum += theta[v];
      }
      for (int v = 0; v < nv; ++v) theta[v] /= sum;
    }
  }

  for (int k = 0; k < K; ++k) {
    const double nk = w.e_class[k];
    for (int b = 0; b < l.n_groups; ++b) {
      const int d = l.dims[b];
      const double* s1 = w.s1.data() + l.mean(k, b);
      const double* s2 = w.s2.data() + l.covar(k, b);
      double* mu = p.mean.data() + l.mean(k, b);
      double* cov = p.covar.data() + l.covar(k, b);
      const double* var = sc.variance.data() + l.mean_offset[b];
      if (pr.gauss_prior) {
        const double tau = pr.tau[k];
        const double* m0 = pr.m0.data() + l.mean(k, b);
        const double* b0 = pr.b0.data() + l.covar(k, b);
        const double denom = nk + pr.alpha[l.block(k, b)] - d;
        for (int i = 0; i < d; ++i) mu[i] = (s1[i] + tau * m0[i]) / (nk + tau);
        for (int i = 0; i < d; ++i) {
          for (int j = i; j < d; ++j) {
            cov[i * d + j] = (s2[i * d + j] + b0[i * d + j] - mu[i] * s1[j] - s1[i] * mu[j] +
                              nk * mu[i] * mu[j] + tau * (m0[i] - mu[i]) * (m0[j] - mu[j])) /
                             denom;
          }
        }
      } else {
        for (int i = 0; i < d; ++i) mu[i] = s1[i] / nk;
        for (int i = 0; i < d; ++i) {
          for (int j = i; j < d; ++j) cov[i * d + j] = s2[i * d + j] / nk - mu[i] * mu[j];
        }
      }
      // The floor is measured in the data's own units.
      for (int i = 0; i < d; ++i) {
        for (int j = i; j < d; ++j) {
          const double floor = kCovarianceFloor * std::sqrt(var[i] * var[j]);
          double& c = cov[i * d + j];
          if (std::fabs(c) <= floor) c = (i != j && c < 0.0) ? -floor : floor;
        }
      }
      for (int i = 0; i < d; ++i) {
        for (int j = 0; j < i; ++j) cov[i * d + j] = cov[j * d + i];
      }
    }
  }
  recompute_precisions(l, p);
}

SingularBlock find_singular_block(const MlLayout& l, const BlockScales& sc, const MlParams& p) {
  SingularBlock s;
  for (int k = 0; k < l.K; ++k) {
    for (int b = 0; b < l.n_groups; ++b) {
      const int d = l.dims[b];
      if (d < 2) continue;
      const double* cov = p.covar.data() + l.covar(k, b);
      const double* prec = p.precision.data() + l.covar(k, b);
      const double det = p.det[l.block(k, b)];
      // Each attribute's variance given the others is 1 / (Sigma^-1)_ll;
      // measured against its sample variance it does not depend on the
      // units, and it is small whenever the class is flat in some
      // direction, whatever the dimension.
      bool singular = !(det > 0.0) || !std::isfinite(det);
      for (int i = 0; i < d && !singular; ++i) {
        const double var = sc.variance[l.mean_offset[b] + i];
        singular = !(cov[i * d + i] > 0.0) || !(1.0 / prec[i * d + i] >= kSingularRatio * var);
      }
      if (singular) {
        s.found = true;
        s.k = k;
        s.b = b;
        s.det = det;
        return s;
      }
    }
  }
  return s;
}

}  // namespace veska
