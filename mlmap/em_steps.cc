#include "mlmap/em_steps.h"

#include <algorithm>
#include <cmath>

#include "common/gauss.h"
#include "common/matrix.h"
#include "common/misc.h"
#include "fit/kernels.h"
#include "fit/parallel.h"

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

// (x - mu)' P (x - mu) from the upper triangle of the symmetric P, for the
// membership quantities of one entry and class. A block's dimension is
// fixed for the whole run, so the small dimensions get loops the compiler
// unrolls; the general loop serves the rest.
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

namespace {

// What the kernels' callbacks for the entries with missing values read: the
// model and the work arrays, and for the statistics the block at hand.
struct MissingValuesContext {
  const MlLayout& l;
  const MlParams& p;
  MlWork& w;
  const CaseTable& cases;
  int b = 0;
};

// The engine's term of a block with a missing value in the E-step.
double ml_missing_block_term(const void* self, int n, int b, int k, double*) {
  const MissingValuesContext& m = *static_cast<const MissingValuesContext*>(self);
  const CaseEntry& e = m.cases.entries[n];
  return block_term(m.l, m.p, m.w, e, k, b, e.values(b).data(), e.gauss_n_missing()[b]);
}

// The log joint of the listed classes on the shared kernel (a block's
// constant its log normaliser, its quadratic form unscaled), then its
// exponential in the normal domain; annealed, every term is taken times
// beta. A class gives the same bits whichever classes are listed with it.
void joint(const MlContext& ctx, const MlLayout& l, const MlParams& p, MlWork& w,
           const ClassList& classes) {
  refresh_log_norms(l, p, w);
  const int K = l.K;
  for (int k = 0; k < K; ++k) w.log_pi[k] = std::log(p.pi[k]);
  for (size_t i = 0; i < w.log_theta.size(); ++i) w.log_theta[i] = std::log(p.theta[i]);
  KernelScratch& ks = w.kernel;
  for (int k = 0; k < K; ++k) {
    for (int b = 0; b < l.n_groups; ++b) {
      const size_t kb = l.block(k, b);
      ks.mean[kb] = p.mean.data() + l.mean(k, b);
      ks.precision[kb] = p.precision.data() + l.covar(k, b);
      ks.log_const[kb] = w.log_norm[kb];
      ks.scale[kb] = 1.0;
    }
  }
  MissingValuesContext missing{l, p, w, ctx.cases};
  const LogJointModel model{w.beta < 1.0 ? w.beta : 1.0, w.log_pi.data(), w.log_theta.data(),
                            l.dims, MissingBlockTerm{ml_missing_block_term, &missing}};
  chunked_log_joint(w.views, ctx.cases, model, classes, ks, w.chunks,
                    ClassEntryArray{w.weight.data(), 1, static_cast<size_t>(K)},
                    [&](EntryRange range) {
                      if (w.log_domain) return;
                      for (int n = range.first; n < range.last; ++n) {
                        double* x = w.weight.data() + static_cast<size_t>(n) * K;
                        for (int i = 0; i < classes.size(); ++i) {
                          x[classes[i]] = std::exp(x[classes[i]]);
                        }
                      }
                    });
}

int entry_count(const MlWork& w) { return static_cast<int>(w.norm.size()); }

inline double responsibility(const MlWork& w, double x, double z) {
  if (w.log_domain) return std::exp(x - z);
  return z > kTinyNormaliser ? x / z : 0.0;
}

}  // namespace

void compute_joint(const MlContext& ctx, const MlLayout& l, const MlParams& p, MlWork& w) {
  joint(ctx, l, p, w, ClassList::all(l.K));
}

void compute_normalisers(const MlLayout& l, MlWork& w) {
  const int K = l.K;
  for_entry_chunks(entry_count(w), [&](EntryRange range) {
    for (int n = range.first; n < range.last; ++n) {
      const double* x = w.weight.data() + static_cast<size_t>(n) * K;
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
  });
}

double compute_loglike(const MlWork& w) {
  const double sum = sum_entry_chunks(entry_count(w), [&](EntryRange range) {
    double part = 0.0;
    for (int n = range.first; n < range.last; ++n) {
      const double c = w.count[n];
      if (w.log_domain) {
        part += c * w.norm[n];
      } else if (c > 0.0) {
        part += c * std::log(w.norm[n]);
      }
    }
    return part;
  });
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
  for_entry_chunks(entry_count(w), [&](EntryRange range) {
    for (int n = range.first; n < range.last; ++n) {
      const double z = w.norm[n];
      const double* x = w.weight.data() + static_cast<size_t>(n) * K;
      double* r = w.resp.data() + static_cast<size_t>(n) * K;
      for (int k = 0; k < K; ++k) r[k] = responsibility(w, x[k], z);
    }
  });
}

namespace {

// Adds omega times the completed point and its second moments to the sums
// of a block with missing values: observed values as they are, missing ones
// by their conditional mean given the observed part, and the conditional
// covariance of the missing part to S2.
void add_block_stats(const MlLayout& l, const MlParams& p, MlWork& w, const CaseEntry& e, int k,
                     int b, double omega, double* s1, double* s2) {
  const int d = l.dims[b];
  const double* mu = p.mean.data() + l.mean(k, b);
  const double* cov = p.covar.data() + l.covar(k, b);
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
  add_block_moments(xh, omega, d, s1, s2);
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

// The engine's imputation of an entry with a missing value in the block.
void ml_add_missing_moments(const void* self, int n, int k, double omega, double* s1, double* s2,
                            double*) {
  const MissingValuesContext& m = *static_cast<const MissingValuesContext*>(self);
  if (omega != 0.0) add_block_stats(m.l, m.p, m.w, m.cases.entries[n], k, m.b, omega, s1, s2);
}

// E_c, E_w, S1 and S2 of the listed classes on the shared kernels.
void expected_stats(const MlContext& ctx, const MlLayout& l, const MlParams& p, MlWork& w,
                    const ClassList& classes) {
  const int K = l.K;
  for (int i = 0; i < classes.size(); ++i) {
    const long k = classes[i];
    std::fill_n(w.s1.begin() + k * l.mean_stride, l.mean_stride, 0.0);
    std::fill_n(w.s2.begin() + k * l.covar_stride, l.covar_stride, 0.0);
  }
  KernelScratch& ks = w.kernel;
  const ConstClassEntryArray resp{w.resp.data(), 1, static_cast<size_t>(K)};
  chunked_class_counts(w.views, resp, classes, ks, w.chunks, w.e_class.data(), w.e_cat.data());
  for (int b = 0; b < l.n_groups; ++b) {
    for (int i = 0; i < classes.size(); ++i) {
      const int k = classes[i];
      ks.s1[k] = w.s1.data() + l.mean(k, b);
      ks.s2[k] = w.s2.data() + l.covar(k, b);
    }
    MissingValuesContext missing{l, p, w, ctx.cases, b};
    chunked_block_moments(w.views, resp, classes, b, l.dims[b], nullptr, ks, w.chunks,
                          MissingBlockMoments{ml_add_missing_moments, &missing});
  }
}

}  // namespace

void compute_expected_stats(const MlContext& ctx, const MlLayout& l, const MlParams& p,
                            MlWork& w) {
  expected_stats(ctx, l, p, w, ClassList::all(l.K));
}

namespace {

// Class k's means and covariances from its expected statistics, with the
// covariance floor and the lower triangle mirrored.
void gauss_m_step_class(const MlLayout& l, const MlPriors& pr, const BlockScales& sc,
                        const MlWork& w, MlParams& p, int k) {
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

}  // namespace

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

  for (int k = 0; k < K; ++k) gauss_m_step_class(l, pr, sc, w, p, k);
  recompute_precisions(l, p);
}

namespace {

bool block_singular(const MlLayout& l, const BlockScales& sc, const MlParams& p, int k, int b) {
  const int d = l.dims[b];
  if (d < 2) return false;
  const double* cov = p.covar.data() + l.covar(k, b);
  const double* prec = p.precision.data() + l.covar(k, b);
  const double det = p.det[l.block(k, b)];
  // Each attribute's variance given the others is 1 / (Sigma^-1)_ll;
  // measured against its sample variance it does not depend on the units,
  // and it is small whenever the class is flat in some direction, whatever
  // the dimension.
  bool singular = !(det > 0.0) || !std::isfinite(det);
  for (int i = 0; i < d && !singular; ++i) {
    const double var = sc.variance[l.mean_offset[b] + i];
    singular = !(cov[i * d + i] > 0.0) || !(1.0 / prec[i * d + i] >= kSingularRatio * var);
  }
  return singular;
}

SingularBlock singular_in(const MlLayout& l, const BlockScales& sc, const MlParams& p,
                          const int* classes, int n_classes) {
  for (int c = 0; c < n_classes; ++c) {
    const int k = classes == nullptr ? c : classes[c];
    for (int b = 0; b < l.n_groups; ++b) {
      if (block_singular(l, sc, p, k, b)) return SingularBlock{true, k, b, p.det[l.block(k, b)]};
    }
  }
  return SingularBlock{};
}

}  // namespace

SingularBlock find_singular_block(const MlLayout& l, const BlockScales& sc, const MlParams& p) {
  return singular_in(l, sc, p, nullptr, l.K);
}

// ---- the candidate's three classes ------------------------------------

void compute_joint_part(const MlContext& ctx, const MlLayout& l, const MlParams& p, MlWork& w,
                        const int* triple) {
  joint(ctx, l, p, w, ClassList::part(std::span<const int>(triple, 3)));
}

void keep_outside_weights(const MlLayout& l, MlWork& w, const int* triple) {
  const int K = l.K;
  for_entry_chunks(entry_count(w), [&](EntryRange range) {
    for (int n = range.first; n < range.last; ++n) {
      const double* x = w.weight.data() + static_cast<size_t>(n) * K;
      double s = 0.0;
      if (w.log_domain) {
        double m = -HUGE_VAL;
        for (int k = 0; k < K; ++k) {
          if (k != triple[0] && k != triple[1] && k != triple[2]) m = std::max(m, x[k]);
        }
        if (m == -HUGE_VAL) {
          w.outside[n] = m;  // no class outside: an empty sum
          continue;
        }
        for (int k = 0; k < K; ++k) {
          if (k != triple[0] && k != triple[1] && k != triple[2]) s += std::exp(x[k] - m);
        }
        w.outside[n] = std::log(s) + m;
      } else {
        for (int k = 0; k < K; ++k) {
          if (k != triple[0] && k != triple[1] && k != triple[2]) s += x[k];
        }
        w.outside[n] = s;
      }
    }
  });
}

void compute_normalisers_part(const MlLayout& l, MlWork& w, const int* triple) {
  const int K = l.K;
  for_entry_chunks(entry_count(w), [&](EntryRange range) {
    for (int n = range.first; n < range.last; ++n) {
      const double* x = w.weight.data() + static_cast<size_t>(n) * K;
      const double a = x[triple[0]], b = x[triple[1]], c = x[triple[2]];
      if (w.log_domain) {
        const double m = std::max({w.outside[n], a, b, c});
        const double rest = w.outside[n] == -HUGE_VAL ? 0.0 : std::exp(w.outside[n] - m);
        w.norm[n] = std::log(rest + std::exp(a - m) + std::exp(b - m) + std::exp(c - m)) + m;
      } else {
        w.norm[n] = w.outside[n] + a + b + c;
      }
    }
  });
}

void compute_responsibilities_part(const MlLayout& l, MlWork& w, const int* triple) {
  const int K = l.K;
  for_entry_chunks(entry_count(w), [&](EntryRange range) {
    for (int n = range.first; n < range.last; ++n) {
      const double* x = w.weight.data() + static_cast<size_t>(n) * K;
      double* r = w.resp.data() + static_cast<size_t>(n) * K;
      for (int c = 0; c < 3; ++c) r[triple[c]] = responsibility(w, x[triple[c]], w.norm[n]);
    }
  });
}

void compute_expected_stats_part(const MlContext& ctx, const MlLayout& l, const MlParams& p,
                                 MlWork& w, const int* triple) {
  expected_stats(ctx, l, p, w, ClassList::part(std::span<const int>(triple, 3)));
}

void m_step_part(const MlLayout& l, const MlPriors& pr, const BlockScales& sc, const MlWork& w,
                 MlParams& p, const int* triple, double s3) {
  // The full M-step's numerators, rescaled to the mass the three classes
  // had at the candidate's start.
  double num[3];
  double sum = 0.0;
  for (int c = 0; c < 3; ++c) {
    const int k = triple[c];
    if (pr.from_file) {
      num[c] = pr.delta[k] + w.e_class[k] - 1.0;
    } else if (pr.smooth_c > 0.0) {
      num[c] = pr.smooth_c + w.e_class[k];
    } else {
      num[c] = w.e_class[k];
    }
    sum += num[c];
  }
  for (int c = 0; c < 3; ++c) p.pi[triple[c]] = s3 * num[c] / sum;

  for (int c = 0; c < 3; ++c) {
    const int k = triple[c];
    for (int i = 0; i < l.n_discrete; ++i) {
      const int nv = l.n_values[i];
      double* theta = p.theta.data() + l.cat(k, i, 0);
      const double* counts = w.e_cat.data() + l.cat(k, i, 0);
      if (pr.from_file) {
        double total = 0.0;
        for (int v = 0; v < nv; ++v) {
          theta[v] = pr.delta_cat[l.cat(k, i, v)] + counts[v] - 1.0;
          total += theta[v];
        }
        for (int v = 0; v < nv; ++v) theta[v] /= total;
      } else {
        const double a = pr.smooth_a[i] > 0.0 ? pr.smooth_a[i] : 0.0;
        const double denom = w.e_class[k] + nv * a;
        for (int v = 0; v < nv; ++v) theta[v] = (counts[v] + a) / denom;
      }
    }
    gauss_m_step_class(l, pr, sc, w, p, k);
    recompute_class_precisions(l, p, k);
  }
}

SingularBlock find_singular_block_part(const MlLayout& l, const BlockScales& sc,
                                       const MlParams& p, const int* triple) {
  return singular_in(l, sc, p, triple, 3);
}

}  // namespace veska
