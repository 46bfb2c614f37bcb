#include "mlmap/ml_scores.h"

#include <cmath>

#include "common/gamma_functions.h"
#include "common/gauss.h"
#include "common/matrix.h"
#include "output/print_data.h"

namespace veska {

namespace {

constexpr double kLn2Pi = 1.83787706640934548356;

double checked(double x, const char* check, const char* nan_text, const char* inf_text) {
  if (std::isnan(x)) fail_density_check(check, nan_text);
  if (std::isinf(x)) fail_density_check(check, inf_text);
  return x;
}

// trace(A B) of two symmetric d x d matrices.
double trace_product(const double* a, const double* b, int d) {
  double t = 0.0;
  for (int i = 0; i < d; ++i) {
    for (int j = 0; j < d; ++j) t += a[i * d + j] * b[j * d + i];
  }
  return t;
}

double log_det_symmetric(std::vector<double>& m, int d) {
  if (d == 1) return std::log(m[0]);
  Matrix a{d, d, m.data(), 0};
  const DetResult r = det_spd(&a);
  return r.ok ? std::log(r.det) : std::nan("");
}

}  // namespace

double compute_log_prior(const MlLayout& l, const MlPriors& pr, const MlParams& p) {
  const int K = l.K;
  double sum = 0.0;
  if (pr.from_file) {
    double total = 0.0;
    for (int k = 0; k < K; ++k) {
      total += pr.delta[k];
      sum += -log_gamma(pr.delta[k]) + (pr.delta[k] - 1.0) * std::log(p.pi[k]);
    }
    sum += log_gamma(total);
    for (int k = 0; k < K; ++k) {
      for (int i = 0; i < l.n_discrete; ++i) {
        double t = 0.0;
        for (int v = 0; v < l.n_values[i]; ++v) {
          const double delta = pr.delta_cat[l.cat(k, i, v)];
          t += delta;
          sum += -log_gamma(delta) + (delta - 1.0) * std::log(p.theta[l.cat(k, i, v)]);
        }
        sum += log_gamma(t);
      }
    }
  } else {
    const double a = pr.smooth_c;
    if (a > 0.0) {
      sum += log_gamma((a + 1.0) * K) - K * log_gamma(a + 1.0);
      for (int k = 0; k < K; ++k) sum += a * std::log(p.pi[k]);
    }
    for (int i = 0; i < l.n_discrete; ++i) {
      const double ai = pr.smooth_a[i];
      const int nv = l.n_values[i];
      sum += K * log_gamma((ai + 1.0) * nv) - K * nv * log_gamma(ai + 1.0);
      if (ai <= 0.0) continue;
      for (int k = 0; k < K; ++k) {
        for (int v = 0; v < nv; ++v) sum += ai * std::log(p.theta[l.cat(k, i, v)]);
      }
    }
  }
  if (pr.gauss_prior) {
    for (int k = 0; k < K; ++k) {
      for (int b = 0; b < l.n_groups; ++b) {
        const int d = l.dims[b];
        const size_t kb = l.block(k, b);
        const double tau = pr.tau[k];
        const double alpha = pr.alpha[kb];
        const double ln_det = std::log(p.det[kb]);
        const double* mu = p.mean.data() + l.mean(k, b);
        const double* m0 = pr.m0.data() + l.mean(k, b);
        const double* prec = p.precision.data() + l.covar(k, b);
        double q = 0.0;
        for (int i = 0; i < d; ++i) {
          for (int j = 0; j < d; ++j) q += (mu[i] - m0[i]) * prec[i * d + j] * (mu[j] - m0[j]);
        }
        const double normal = -0.5 * d * kLn2Pi - 0.5 * (ln_det - d * std::log(tau)) - 0.5 * tau * q;
        const double wishart = (alpha - d - 1.0) / 2.0 * (-ln_det) -
                               alpha / 2.0 * (-std::log(pr.b0_det[kb])) -
                               0.5 * trace_product(pr.b0.data() + l.covar(k, b), prec, d) +
                               log_wishart_const(d, alpha);
        sum += normal + wishart;
      }
    }
  }
  return checked(sum, "compute_log_prior", "Computed log-prior is not a number -- see the log file\n",
                 "Computed log-prior is not finite -- see the log file\n");
}

double compute_bic(const MlContext& ctx, double loglike, int K) {
  const double P = static_cast<double>(param_count(ctx.model, K).total());
  return loglike - 0.5 * P * std::log(static_cast<double>(ctx.cases.n_cases));
}

double check_bic(double bic) {
  return checked(bic, "check_bic", "Computed BIC is not a number\n", "Computed BIC is not finite\n");
}

double check_cs(double cs) {
  return checked(cs, "check_cs", "Computed Cheeseman-Stutz score is not a number\n",
                 "Computed Cheeseman-Stutz score is not finite\n");
}

double compute_cs(const MlContext& ctx, const MlLayout& l, const MlPriors& pr,
                  const MlParams& p, const MlWork& w, double loglike) {
  const int K = l.K;
  const double N = ctx.cases.n_cases;
  double m = 0.0;
  // Classes.
  if (pr.from_file) {
    double d0 = 0.0, dn = 0.0;
    for (int k = 0; k < K; ++k) {
      d0 += pr.delta[k];
      dn += pr.delta[k] + w.e_class[k];
      m += log_gamma(w.e_class[k] + pr.delta[k]) - log_gamma(pr.delta[k]);
    }
    m += log_gamma(d0) - log_gamma(dn);
  } else {
    const double a1 = pr.smooth_c + 1.0;
    m += log_gamma(K * a1) - log_gamma(K * a1 + N) - K * log_gamma(a1);
    for (int k = 0; k < K; ++k) m += log_gamma(a1 + w.e_class[k]);
  }
  // Discrete attributes.
  for (int i = 0; i < l.n_discrete; ++i) {
    const int nv = l.n_values[i];
    if (pr.from_file) {
      for (int k = 0; k < K; ++k) {
        double d0 = 0.0, dn = 0.0;
        for (int v = 0; v < nv; ++v) {
          const double delta = pr.delta_cat[l.cat(k, i, v)];
          const double e = w.e_cat[l.cat(k, i, v)];
          d0 += delta;
          dn += e + delta;
          m += log_gamma(e + delta) - log_gamma(delta);
        }
        m += log_gamma(d0) - log_gamma(dn);
      }
    } else {
      const double a1 = pr.smooth_a[i] + 1.0;
      m += K * (log_gamma(nv * a1) - nv * log_gamma(a1));
      for (int k = 0; k < K; ++k) {
        m -= log_gamma(nv * a1 + w.e_class[k]);
        for (int v = 0; v < nv; ++v) m += log_gamma(a1 + w.e_cat[l.cat(k, i, v)]);
      }
    }
  }
  // Gaussian blocks.
  std::vector<double> bn;
  for (int k = 0; k < K; ++k) {
    const double nk = w.e_class[k];
    for (int b = 0; b < l.n_groups; ++b) {
      const int d = l.dims[b];
      const size_t kb = l.block(k, b);
      const double tau = pr.tau[k];
      const double alpha = pr.alpha[kb];
      const double* s1 = w.s1.data() + l.mean(k, b);
      const double* s2 = w.s2.data() + l.covar(k, b);
      const double* m0 = pr.m0.data() + l.mean(k, b);
      const double* c = w.centre.data() + l.mean_offset[b];
      const double* b0 = pr.b0.data() + l.covar(k, b);
      const double shrink = tau * nk / (tau + nk);
      bn.assign(static_cast<size_t>(d) * d, 0.0);
      for (int i = 0; i < d; ++i) {
        for (int j = i; j < d; ++j) {
          // The sums are of x - c (MlWork::centre): so is the mean here.
          const double di = m0[i] - c[i] - s1[i] / nk, dj = m0[j] - c[j] - s1[j] / nk;
          bn[i * d + j] = b0[i * d + j] + (s2[i * d + j] - s1[i] * s1[j] / nk) + shrink * di * dj;
          bn[j * d + i] = bn[i * d + j];
        }
      }
      m += alpha / 2.0 * std::log(pr.b0_det[kb]) - (alpha + nk) / 2.0 * log_det_symmetric(bn, d) +
           log_wishart_const(d, alpha) - log_wishart_const(d, alpha + nk) -
           d / 2.0 * nk * kLn2Pi + d / 2.0 * (std::log(tau) - std::log(tau + nk));
    }
  }

  double q = 0.0;
  for (int k = 0; k < K; ++k) q += w.e_class[k] * std::log(p.pi[k]);
  for (int k = 0; k < K; ++k) {
    for (int i = 0; i < l.n_discrete; ++i) {
      for (int v = 0; v < l.n_values[i]; ++v) {
        q += w.e_cat[l.cat(k, i, v)] * std::log(p.theta[l.cat(k, i, v)]);
      }
    }
  }
  for (int k = 0; k < K; ++k) {
    const double nk = w.e_class[k];
    for (int b = 0; b < l.n_groups; ++b) {
      const int d = l.dims[b];
      const double* s1 = w.s1.data() + l.mean(k, b);
      const double* s2 = w.s2.data() + l.covar(k, b);
      const double* mu = p.mean.data() + l.mean(k, b);
      const double* c = w.centre.data() + l.mean_offset[b];
      const double* prec = p.precision.data() + l.covar(k, b);
      double tr = 0.0;
      for (int i = 0; i < d; ++i) {
        for (int j = 0; j < d; ++j) {
          const double ss = i <= j ? s2[i * d + j] : s2[j * d + i];
          const double mi = mu[i] - c[i], mj = mu[j] - c[j];  // in the sums' coordinates
          tr += prec[i * d + j] * (ss - mj * s1[i] - s1[j] * mi + nk * mi * mj);
        }
      }
      q += -0.5 * (nk * (std::log(p.det[l.block(k, b)]) + d * kLn2Pi) + tr);
    }
  }
  return m - q + loglike;
}

}  // namespace veska
