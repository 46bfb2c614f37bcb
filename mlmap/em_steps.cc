#include "mlmap/em_steps.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "common/gauss.h"
#include "common/matrix.h"
#include "common/misc.h"
#include "fit/kernels.h"
#include "fit/missing_patterns.h"
#include "fit/parallel.h"

namespace veska {

namespace {

constexpr double kLn2Pi = 1.83787706640934548356;
constexpr double kTinyNormaliser = 1e-60;
constexpr double kCovarianceFloor = 1e-12;
constexpr double kSingularRatio = 1e-12;

[[noreturn]] void fail_observed_part() {
  raise_numerical_error("compute_expect_gauss0",
                        "Failed to invert covariances of the observed part\n");
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

// ln g_kbn of a block with a missing value from its pattern's tables: the
// density of the observed part, 0 when the whole block is missing.
double missing_block_density(const PatternView& pv, const double* x, const double* mu,
                             double* work) {
  const int o = pv.o();
  if (o == 0) return 0.0;
  const double q = observed_quadratic(pv, x, mu, work);
  return -0.5 * (o * kLn2Pi + pv.ln_det_oo + q);
}

// The pattern tables of the listed classes from their current covariances.
void refresh_missing_tables(const MlLayout& l, const MlParams& p, MlWork& w,
                            const ClassList& classes) {
  for (int i = 0; i < classes.size(); ++i) {
    const int k = classes[i];
    for (int b = 0; b < l.n_groups; ++b) {
      if (!w.missing_tables.fill_block(*w.views, b, k, p.covar.data() + l.covar(k, b), l.dims[b])) {
        fail_observed_part();
      }
    }
  }
}

const double* block_values(const EntryViews& views, int n, int b) {
  return views.reals_of(n) + views.block_offset[static_cast<size_t>(b)];
}

}  // namespace

double block_log_density(const MlLayout& l, const MlParams& p, MlWork& w, int n, int k, int b) {
  const double* x = block_values(*w.views, n, b);
  const double* mu = p.mean.data() + l.mean(k, b);
  const int pattern = w.views->pattern_of(n, b);
  if (pattern == kNoPattern) {
    const double q =
        full_quadratic(x, mu, p.precision.data() + l.covar(k, b), l.dims[b], w.diff.data());
    return -0.5 * (l.dims[b] * kLn2Pi + std::log(p.det[l.block(k, b)])) - 0.5 * q;
  }
  // One entry alone: its pattern's tables from the current covariance.
  if (!w.missing_tables.fill(*w.views, b, pattern, k, p.covar.data() + l.covar(k, b), l.dims[b])) {
    fail_observed_part();
  }
  return missing_block_density(w.missing_tables.view(*w.views, b, pattern, k), x, mu,
                               w.kernel.missing_work.data());
}

namespace {

ClassEntryArray weight_array(MlWork& w, int K) {
  return ClassEntryArray{w.weight.data(), 1, static_cast<size_t>(K)};
}

ConstClassEntryArray weight_array(const MlWork& w, int K) {
  return ConstClassEntryArray{w.weight.data(), 1, static_cast<size_t>(K)};
}

ClassEntryArray resp_array(MlWork& w, int K) {
  return ClassEntryArray{w.resp.data(), 1, static_cast<size_t>(K)};
}

// What the kernels' callbacks for the entries with missing values read: the
// model and the pattern tables, and for the statistics the block at hand.
struct MissingValuesContext {
  const MlLayout& l;
  const MlParams& p;
  const MlWork& w;
  int b = 0;
};

// The engine's term of a block with a missing value in the E-step, per
// pattern and class: the log density of the observed part,
// -(o ln 2pi + ln|Sigma_oo|) / 2 - Q_o / 2 (missing_block_density), 0 when
// the whole block is missing.
void ml_missing_pattern_term(const void* self, int b, int p, int k, PatternTerm* out) {
  const MissingValuesContext& m = *static_cast<const MissingValuesContext*>(self);
  const PatternView pv = m.w.missing_tables.view(*m.w.views, b, p, k);
  out->mean = m.p.mean.data() + m.l.mean(k, b);
  out->precision = pv.inv_oo;
  const int o = pv.o();
  out->constant = o == 0 ? 0.0 : -0.5 * (o * kLn2Pi + pv.ln_det_oo);
  out->scale = o == 0 ? 0.0 : 1.0;
}

// r = exp(ln w - ln Z), or w / Z unless Z is negligible (w = exp(ln w)).
ResponsibilityRules responsibility_rules(const MlWork& w) {
  ResponsibilityRules r{w.log_domain, 0.0, -HUGE_VAL, kTinyNormaliser};
  r.exponentiate = !w.log_domain;
  r.second_exponential = true;  // the log domain's bits of the two passes
  return r;
}

// One E-step on the listed classes, chunk by chunk so that each chunk is
// still in cache for its second half: the log joint on the shared kernel (a
// block's constant its log normaliser, its quadratic form unscaled; every
// term times beta when annealed), then in one pass the normalisers (the
// kept term of the other classes first in a partial run), the
// responsibilities and the chunk's sum c ln Z. A class gives the same bits
// whichever classes are listed with it.
double e_step(const MlContext&, const MlLayout& l, const MlParams& p, MlWork& w,
              const ClassList& classes, const double* outside) {
  // A partial run's responsibilities are recomputed from the normalisers.
  if (outside != nullptr) keep_normalisers(w);
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
  refresh_missing_tables(l, p, w, classes);
  MissingValuesContext missing{l, p, w};
  const LogJointModel model{w.beta < 1.0 ? w.beta : 1.0, w.log_pi.data(), w.log_theta.data(),
                            l.dims, MissingBlockTerm{ml_missing_pattern_term, &missing}};
  NormaliserRules rules;
  rules.log_domain = w.log_domain;
  rules.exponentiate = !w.log_domain;
  const ResponsibilityRules resp_rules = responsibility_rules(w);
  const double sum = chunked_log_joint(
      *w.views, model, classes, ks, w.chunks, weight_array(w, K), [&](EntryRange range) {
        NormaliserSum part;
        part.count = w.views->entry_count.data();
        normalise_entries(weight_array(std::as_const(w), K), classes, outside, rules, resp_rules,
                          range, w.norm.empty() ? nullptr : w.norm.data(), resp_array(w, K), &part);
        return part.weighted;
      });
  w.fresh_resp =
      outside == nullptr ? MlWork::FreshResp::kAllClasses : MlWork::FreshResp::kListedClasses;
  return sum;
}

int entry_count(const MlWork& w) { return w.views->n_entries; }

}  // namespace

double compute_e_step(const MlContext& ctx, const MlLayout& l, const MlParams& p, MlWork& w) {
  return e_step(ctx, l, p, w, ClassList::all(l.K), nullptr);
}

double check_loglike(double sum) {
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
  if (w.norm.empty()) die("Internal error: responsibilities without normalisers\n");
  w.fresh_resp = MlWork::FreshResp::kAllClasses;
  for_entry_chunks(entry_count(w), [&](EntryRange range) {
    class_responsibilities(weight_array(std::as_const(w), l.K), ClassList::all(l.K), w.norm.data(),
                           responsibility_rules(w), range, resp_array(w, l.K));
  });
}

void responsibilities_for_update(const MlLayout& l, MlWork& w) {
  if (w.fresh_resp != MlWork::FreshResp::kAllClasses) compute_responsibilities(l, w);
}

namespace {

// The engine's imputation of the entries with a missing value in the block,
// per pattern and class: the completed point, missing values by their
// conditional mean given the observed part, and the conditional covariance
// of the missing part.
void ml_missing_pattern_moments(const void* self, int p, int k, PatternMoments* out) {
  const MissingValuesContext& m = *static_cast<const MissingValuesContext*>(self);
  const PatternView pv = m.w.missing_tables.view(*m.w.views, m.b, p, k);
  out->mean = m.p.mean.data() + m.l.mean(k, m.b);
  out->regression = pv.regression;
  out->cond = pv.cond;
  out->cond_scale = 1.0;
}

// The centres of the block sums: the sample means (zero without statistics).
void set_block_centres(const MlContext& ctx, const MlLayout& l, MlWork& w) {
  std::fill(w.centre.begin(), w.centre.end(), 0.0);
  if (ctx.stats.groups.empty()) return;
  for (int b = 0; b < l.n_groups; ++b) {
    const Vector& mean = *ctx.stats.groups[static_cast<size_t>(b)].mean;
    std::copy(mean.data, mean.data + l.dims[b], w.centre.begin() + l.mean_offset[b]);
  }
}

// E_c, E_w, S1 and S2 of the listed classes on the shared kernels, S1 and S2
// the sums of x - c (MlWork::centre).
void expected_stats(const MlContext& ctx, const MlLayout& l, const MlParams& p, MlWork& w,
                    const ClassList& classes) {
  const int K = l.K;
  set_block_centres(ctx, l, w);
  for (int i = 0; i < classes.size(); ++i) {
    const long k = classes[i];
    std::fill_n(w.s1.begin() + k * l.mean_stride, l.mean_stride, 0.0);
    std::fill_n(w.s2.begin() + k * l.covar_stride, l.covar_stride, 0.0);
  }
  refresh_missing_tables(l, p, w, classes);
  KernelScratch& ks = w.kernel;
  const ConstClassEntryArray resp{w.resp.data(), 1, static_cast<size_t>(K)};
  chunked_class_counts(*w.views, resp, classes, ks, w.chunks, w.e_class.data(), w.e_cat.data());
  for (int b = 0; b < l.n_groups; ++b) {
    for (int i = 0; i < classes.size(); ++i) {
      const int k = classes[i];
      ks.s1[k] = w.s1.data() + l.mean(k, b);
      ks.s2[k] = w.s2.data() + l.covar(k, b);
    }
    const double* centre = w.centre.data() + l.mean_offset[b];
    MissingValuesContext missing{l, p, w, b};
    chunked_block_moments(*w.views, resp, classes, b, l.dims[b], centre, ks, w.chunks,
                          MissingBlockMoments{ml_missing_pattern_moments, &missing});
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
    // In the coordinates of the sums, x - c: mu - c into mu first, then c
    // added back.
    const double* c = w.centre.data() + l.mean_offset[b];
    if (pr.gauss_prior) {
      const double tau = pr.tau[k];
      const double* m0 = pr.m0.data() + l.mean(k, b);
      const double* b0 = pr.b0.data() + l.covar(k, b);
      const double denom = nk + pr.alpha[l.block(k, b)] - d;
      auto m0c = [&](int i) { return m0[i] - c[i]; };
      for (int i = 0; i < d; ++i) mu[i] = (s1[i] + tau * m0c(i)) / (nk + tau);
      for (int i = 0; i < d; ++i) {
        for (int j = i; j < d; ++j) {
          cov[i * d + j] = (s2[i * d + j] + b0[i * d + j] - mu[i] * s1[j] - s1[i] * mu[j] +
                            nk * mu[i] * mu[j] + tau * (m0c(i) - mu[i]) * (m0c(j) - mu[j])) /
                           denom;
        }
      }
    } else {
      for (int i = 0; i < d; ++i) mu[i] = s1[i] / nk;
      for (int i = 0; i < d; ++i) {
        for (int j = i; j < d; ++j) cov[i * d + j] = s2[i * d + j] / nk - mu[i] * mu[j];
      }
    }
    for (int i = 0; i < d; ++i) mu[i] += c[i];
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

double compute_e_step_part(const MlContext& ctx, const MlLayout& l, const MlParams& p,
                           MlWork& w, const int* triple) {
  return e_step(ctx, l, p, w, ClassList::part(std::span<const int>(triple, 3)), w.outside.data());
}

void keep_outside_weights(const MlLayout& l, MlWork& w, const int* triple) {
  const int K = l.K;
  w.outside.resize(static_cast<size_t>(entry_count(w)));  // sized by the first candidate of a K
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
          if (k != triple[0] && k != triple[1] && k != triple[2]) s += exp_value(x[k]);
        }
        w.outside[n] = s;
      }
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
