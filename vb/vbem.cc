#include "vb/vbem.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "common/matrix.h"
#include "common/misc.h"
#include "common/gamma_functions.h"
#include "fit/kernels.h"
#include "fit/parallel.h"
#include "vb/print_vb.h"
#include "vb/print_vb_dumps.h"

namespace veska {

namespace {

constexpr double kLn2 = 0.69314718055994530942;
constexpr double kLn2Pi = 1.83787706640934548356;
// exp(x) < 2^-53 below the first (exp(-37.5) < 5.3e-17), and exp(x) is 0
// below the second.
constexpr double kBelowHalfUlpOfOne = -37.5;
constexpr double kUnderflowLog = -746.0;

const char kObservedPartFailure[] = "Failed to invert the covariances of the observed part\n";

// The temperature of one E-step or imputation: beta, and the degrees of
// freedom of block b in class k. Plain: nu = N_k + alpha0(D). Tempered:
// nu' = D + beta (nu - D), the exponent of |Lambda| in the posterior raised
// to the power beta. The tempered posterior has E[Lambda] = (nu' / beta) W.
struct Temper {
  bool daem;
  double beta;
  const char* name;  // for the numerical-error message

  double dof(const VbState& st, int b, double n_k) const {
    const double nu = n_k + st.alpha0[static_cast<size_t>(b)];
    if (!daem) return nu;
    const int d = st.dims[static_cast<size_t>(b)];
    return d + beta * (nu - d);
  }
};

// Where the block moments are centred: the block's sample mean (none when
// the run has no statistics).
const double* block_centre(const VbContext& ctx, int b) {
  if (ctx.stats.groups.empty()) return nullptr;
  return ctx.stats.groups[static_cast<size_t>(b)].mean->data;
}

// The imputation of missing continuous values in the statistics.
constexpr Temper kPlainImputation{false, 1.0, "compute_expect_gauss0_nodaem"};
Temper tempered_imputation(const VbState& st) {
  return Temper{true, st.beta, "compute_expect_gauss0_daem"};
}

// sum_{i=1..D} psi((nu + 1 - i) / 2)
double digamma_sum(int d, double nu) {
  double s = 0.0;
  for (int i = 1; i <= d; ++i) s += digamma((nu + 1 - i) / 2.0);
  return s;
}

// The block term of log rho_kn before the factor beta for the entries whose
// observed dimensions in block b are a pattern with m missing (A, the
// precision scale s = nu_e / beta and ln|Sigma| of class k in c; the
// observed case is observed_block_lanes), as constant - (s / 2) Q_o:
//   m missing:     A - [m ln s - m ln 2pi - ln|Sigma| + ln|Sigma_oo|] / 2 - (s / 2) Q_o,
//                  Q_o = (x_o - mu_o)' Sigma_oo^-1 (x_o - mu_o)
//   all missing:   A - [D ln s - D ln 2pi - ln|Sigma|] / 2
// The missing part is integrated out under its optimal Gaussian, whose
// entropy brings the logarithmic terms.
PatternTerm missing_pattern_term(const VbBlock& blk, const PatternView& pv, int d,
                                 const VbBlockTerms& c) {
  const double a = c.a, ln_s = c.ln_scale, ln_det = c.ln_det;
  const int m = pv.m();
  PatternTerm t;
  t.mean = blk.mu->data;
  t.precision = pv.inv_oo;
  if (m == d) {
    t.constant = a - 0.5 * (d * ln_s - d * kLn2Pi - ln_det);
    return t;
  }
  t.constant = a - 0.5 * (m * ln_s - m * kLn2Pi - ln_det + pv.ln_det_oo);
  t.scale = c.scale;
  return t;
}

// The pattern tables of the listed classes from their current Sigma; `name`
// is the step a Sigma_oo that cannot be inverted is reported under.
void refresh_missing_tables(const VbContext& ctx, VbState& st, const ClassList& classes,
                            const char* name) {
  if (!st.gauss_missing) return;
  for (int i = 0; i < classes.size(); ++i) {
    const int k = classes[i];
    for (int b = 0; b < st.n_groups; ++b) {
      if (!st.missing_tables.fill_block(ctx.views, b, k, st.block(k, b).sigma->data,
                                        st.dims[static_cast<size_t>(b)])) {
        raise_numerical_error(name, kObservedPartFailure);
      }
    }
  }
}

// A, nu_e / beta and ln|Sigma| of block b in class k:
//   A = [sum_i psi((nu_e + 1 - i)/2) + D ln(2/beta) - ln|Sigma|] / 2 - D / (2 tau_k beta),
// the expected log normaliser of the Gaussian under the (tempered) posterior.
VbBlockTerms block_terms_of(const VbState& st, const Temper& t, int k, int b) {
  const VbBlock& blk = st.block(k, b);
  const int d = st.dims[static_cast<size_t>(b)];
  const double nu_e = t.dof(st, b, st.n_k[k]);
  const double tau = st.n_k[k] + st.tau0;
  VbBlockTerms c;
  c.ln_det = std::log(blk.det_sigma);
  c.a = 0.5 * (digamma_sum(d, nu_e) + d * std::log(2.0 / t.beta) - c.ln_det) -
        0.5 * d / (tau * t.beta);
  c.scale = nu_e / t.beta;
  c.ln_scale = std::log(c.scale);
  return c;
}

// The engine's term of a block with a missing value in the E-step.
struct MissingTermContext {
  const VbContext& ctx;
  const VbState& st;
};

void vb_missing_pattern_term(const void* self, int b, int p, int k, PatternTerm* out) {
  const MissingTermContext& m = *static_cast<const MissingTermContext*>(self);
  const size_t bi = static_cast<size_t>(b);
  const size_t kb = static_cast<size_t>(k) * m.st.n_groups + bi;
  *out = missing_pattern_term(m.st.block(k, b), m.st.missing_tables.view(m.ctx.views, b, p, k),
                              m.st.dims[bi], m.st.lanes.block_terms[kb]);
}

// log rho_kn = beta (E[ln pi_k] + sum_j E[ln theta_kj,x_nj]
//                    + sum_b [-(D/2) ln 2pi + block term])
// for the listed classes: A - (nu_e / 2 beta) Q for an observed block, the
// terms above for one with missing values. At beta = 1 this is the plain
// E-step term by term.
void complete_prob(const VbContext& ctx, VbState& st, const Temper& t, const ClassList& classes) {
  KernelScratch& ks = st.lanes.kernel;
  for (int i = 0; i < classes.size(); ++i) {
    const int k = classes[i];
    for (int b = 0; b < st.n_groups; ++b) {
      const size_t kb = static_cast<size_t>(k) * st.n_groups + b;
      const VbBlock& blk = st.block(k, b);
      const VbBlockTerms terms = block_terms_of(st, t, k, b);
      st.lanes.block_terms[kb] = terms;
      ks.mean[kb] = blk.mu->data;
      ks.precision[kb] = blk.w->data;
      ks.log_const[kb] = terms.a;
      ks.scale[kb] = terms.scale;
    }
  }
  for (int b = 0; b < st.n_groups; ++b) {
    ks.block_shift[static_cast<size_t>(b)] = t.beta * 0.5 * st.dims[static_cast<size_t>(b)] * kLn2Pi;
  }
  refresh_missing_tables(ctx, st, classes, t.name);
  MissingTermContext missing{ctx, st};
  const LogJointModel model{t.beta, st.e_log_pi.data(), st.e_log_theta.data(), st.dims,
                            MissingBlockTerm{vb_missing_pattern_term, &missing}};
  chunked_log_joint(ctx.views, model, classes, ks, st.lanes.chunks,
                    ClassEntryArray{st.log_rho.data(), static_cast<size_t>(st.n_entries), 1});
  st.fresh_resp = VbWork::FreshResp::kNone;
}

// Adds w times the completed moments of entry n's block b, less the centre
// (nullptr: none), to S1 and S2 (upper triangle). Missing components are
// imputed from mu and Sigma of class k before this update: the conditional
// mean
//   x_q = mu_q + Sigma_qo Sigma_oo^-1 (x_o - mu_o)
// and the conditional covariance (Sigma_qq - Sigma_qo Sigma_oo^-1 Sigma_oq) beta / nu_e
// (mu and Sigma beta / nu_e when the whole block is missing), the degrees of
// freedom nu_e taken with the N_k just counted. The pattern tables of class
// k must be fresh.
void expect_block(const VbContext& ctx, const VbState& st, int k, int n, int b, double w,
                  const Temper& t, const double* centre, double* s1, double* s2, double* work) {
  const EntryViews& views = ctx.views;
  const int d = st.dims[static_cast<size_t>(b)];
  const double* x = views.reals_of(n) + views.block_offset[static_cast<size_t>(b)];
  const int p = st.gauss_missing ? views.pattern_of(n, b) : kNoPattern;
  if (p == kNoPattern) {
    double* y = work;
    for (int i = 0; i < d; ++i) y[i] = centre ? x[i] - centre[i] : x[i];
    add_block_moments(y, w, d, s1, s2);
    return;
  }
  const double nu_e = t.dof(st, b, st.n_k[k]);
  add_imputed_moments(st.missing_tables.view(views, b, p, k), x, st.block(k, b).mu->data, centre,
                      w, t.beta / nu_e, d, s1, s2, work);
}

void expect_gauss0(const VbContext& ctx, VbState& st, int k, int n, double w, const Temper& t) {
  const int only[1] = {k};
  refresh_missing_tables(ctx, st, ClassList::part(only), t.name);
  for (int b = 0; b < st.n_groups; ++b) {
    VbMoments& mom = st.moments_of(k, b);
    expect_block(ctx, st, k, n, b, w, t, block_centre(ctx, b), mom.s1->data, mom.s2->data,
                 st.lanes.kernel.missing_work.data());
  }
}

// lnGamma(sum a0) - lnGamma(sum a)/beta + sum_v [lnGamma(a_v)/beta - lnGamma(a0_v)]:
// the log normalisers of a Dirichlet prior and of its (tempered) posterior.
double dirichlet_log_gammas(const double* a0, const double* a, int n, double beta) {
  double sum0 = 0.0, sum = 0.0;
  for (int v = 0; v < n; ++v) {
    sum0 += a0[v];
    sum += a[v];
  }
  double f = log_gamma(sum0) - log_gamma(sum) / beta;
  for (int v = 0; v < n; ++v) f += log_gamma(a[v]) / beta - log_gamma(a0[v]);
  return f;
}

// sum_v [(a_v - 1)/beta - (a0_v - 1)] E[ln p_v]; (a_v - a0_v) E[ln p_v] at beta = 1.
double dirichlet_expectations(const double* a0, const double* a, const double* e_log, int n,
                              double beta) {
  double f = 0.0;
  for (int v = 0; v < n; ++v) {
    const double c = beta == 1.0 ? a[v] - a0[v] : (a[v] - 1.0) / beta - (a0[v] - 1.0);
    f += c * e_log[v];
  }
  return f;
}

// The Dirichlet part of F (class, then attributes by class): the terms that
// both forms share, at the given beta.
double dirichlet_part(const VbState& st, double beta) {
  const int K = st.K;
  double f = dirichlet_log_gammas(st.delta0.data(), st.delta.data(), K, beta);
  f -= dirichlet_expectations(st.delta0.data(), st.delta.data(), st.e_log_pi.data(), K, beta);
  for (int k = 0; k < K; ++k) {
    for (int j = 0; j < st.n_discrete; ++j) {
      const int nv = st.n_values[static_cast<size_t>(j)];
      if (nv == 0) continue;  // an attribute never observed has no parameters
      const size_t i = st.cat_index(k, j, 0);
      f += dirichlet_log_gammas(&st.delta0_cat[i], &st.delta_cat[i], nv, beta);
    }
  }
  for (int k = 0; k < K; ++k) {
    for (int j = 0; j < st.n_discrete; ++j) {
      const int nv = st.n_values[static_cast<size_t>(j)];
      if (nv == 0) continue;
      const size_t i = st.cat_index(k, j, 0);
      f -= dirichlet_expectations(&st.delta0_cat[i], &st.delta_cat[i], &st.e_log_theta[i], nv, beta);
    }
  }
  return f;
}

// tr[(Sigma - c Sigma0 - tau0 (mu - mu0)(mu - mu0)') W], c = 1 (c = 2 for the
// one-dimensional blocks, whose update adds the prior twice).
double trace_term(const VbBlock& blk, double tau0, double c) {
  const int d = blk.sigma->rows;
  double tr = 0.0;
  for (int i = 0; i < d; ++i) {
    const double di = (*blk.mu)[i] - (*blk.mu0)[i];
    for (int j = 0; j < d; ++j) {
      const double dj = (*blk.mu)[j] - (*blk.mu0)[j];
      tr += ((*blk.sigma)[i][j] - c * (*blk.sigma0)[i][j] - tau0 * di * dj) * (*blk.w)[j][i];
    }
  }
  return tr;
}

// G_kb = -KL(q(mu, Lambda) || p(mu, Lambda)) of block b in class k.
double block_free_energy(const VbState& st, int k, int b) {
  const VbBlock& blk = st.block(k, b);
  const int d = st.dims[static_cast<size_t>(b)];
  const double n = st.n_k[k];
  const double nu0 = st.alpha0[static_cast<size_t>(b)];
  const double nu = n + nu0;
  const double tau = n + st.tau0;
  const double ln_det = std::log(blk.det_sigma);
  const double ln_det0 = std::log(blk.det_sigma0);
  if (d == 1) {
    const double sigma = (*blk.sigma)[0][0];
    return 0.5 * nu0 * ln_det0 - log_gamma(nu0 / 2) + 0.5 * (std::log(st.tau0) - std::log(tau)) +
           log_gamma(nu / 2) - 0.5 * nu * std::log(sigma / 2) + 0.5 * n / tau -
           0.5 * n * (kLn2 - std::log(sigma) + digamma(nu / 2)) +
           0.5 * nu * trace_term(blk, st.tau0, 2.0);
  }
  return 0.5 * nu0 * ln_det0 + log_wishart_const(d, nu0) +
         0.5 * d * (std::log(st.tau0) - std::log(tau)) - log_wishart_const(d, nu) -
         0.5 * nu * ln_det + 0.5 * d * n / tau + 0.5 * nu * trace_term(blk, st.tau0, 1.0) -
         0.5 * n * (digamma_sum(d, nu) + d * kLn2 - ln_det);
}

// G'_kb: E[ln p(mu, Lambda)] + H[q'(mu, Lambda)] / beta under the tempered
// posterior q' (tau' = beta tau, Sigma' = beta Sigma, nu' = D + beta (nu - D)).
double block_free_energy_daem(const VbState& st, int k, int b, double beta) {
  const VbBlock& blk = st.block(k, b);
  const int d = st.dims[static_cast<size_t>(b)];
  const double n = st.n_k[k];
  const double nu0 = st.alpha0[static_cast<size_t>(b)];
  const double nu = n + nu0;
  const double nup = d + beta * (nu - d);
  const double tau = n + st.tau0;
  const double ln_det = std::log(blk.det_sigma);
  const double ln_det0 = std::log(blk.det_sigma0);
  const double ln_beta = std::log(beta);
  const double h = 0.5 * ((nup - d - 1) / beta + (1 / beta - 1) - (nu0 - d - 1));
  const double scale = nup / (2 * beta);
  const double tau_terms =
      std::log(st.tau0) - std::log(tau) / beta - ln_beta / beta + kLn2Pi * (1 / beta - 1);
  if (d == 1) {
    const double sigma = (*blk.sigma)[0][0];
    return 0.5 * nu0 * ln_det0 - log_gamma(nu0 / 2) + 0.5 * tau_terms + log_gamma(nup / 2) / beta -
           scale * std::log(beta * sigma / 2) + 0.5 * n / (beta * tau) -
           h * (kLn2 - ln_beta - std::log(sigma) + digamma(nup / 2)) +
           scale * trace_term(blk, st.tau0, 2.0);
  }
  return 0.5 * nu0 * ln_det0 + log_wishart_const(d, nu0) + 0.5 * d * tau_terms -
         log_wishart_const(d, nup) / beta - (ln_det + d * ln_beta) * scale +
         0.5 * d * n / (beta * tau) + scale * trace_term(blk, st.tau0, 1.0) -
         h * (d * std::log(2 / beta) - ln_det + digamma_sum(d, nup));
}

ConstClassEntryArray log_rho_array(const VbState& st) {
  return ConstClassEntryArray{st.log_rho.data(), static_cast<size_t>(st.n_entries), 1};
}

// ln Z = ln sum_k exp(log rho_k - M) + M, M the first largest log rho.
// Once the largest term (exp(0) = 1) is in, the sum is at least 1 and a
// term below 2^-53 leaves it unchanged; before, only a term that is 0 does.
NormaliserRules vb_normaliser_rules() {
  NormaliserRules rules;
  rules.negligible_before_top = kUnderflowLog;
  rules.negligible_after_top = kBelowHalfUlpOfOne;
  return rules;
}

}  // namespace

namespace {

// E[ln pi_k] and E[ln theta_kjv] of the listed classes; the class term is
// normalised over all K classes.
void expected_logs(VbState& st, const ClassList& classes) {
  double sum = 0.0;
  for (int k = 0; k < st.K; ++k) sum += st.delta[k];
  const double psi_sum = digamma(sum);
  for (int i = 0; i < classes.size(); ++i) {
    const int k = classes[i];
    st.e_log_pi[k] = digamma(st.delta[k]) - psi_sum;
  }
  for (int i = 0; i < classes.size(); ++i) {
    const int k = classes[i];
    for (int j = 0; j < st.n_discrete; ++j) {
      const int nv = st.n_values[static_cast<size_t>(j)];
      const size_t at = st.cat_index(k, j, 0);
      double s = 0.0;
      for (int v = 0; v < nv; ++v) s += st.delta_cat[at + v];
      const double psi = digamma(s);
      for (int v = 0; v < nv; ++v) st.e_log_theta[at + v] = digamma(st.delta_cat[at + v]) - psi;
    }
  }
}

// r_kn = exp(log rho_kn - ln Z_n), at least kMinResponsibility. Below
// kNegligibleLog the exponential is under that floor anyway.
constexpr double kNegligibleLog = -69.5;  // exp(-69.5) < 6.6e-31

constexpr ResponsibilityRules kVbResponsibilityRules{true, kMinResponsibility, kNegligibleLog,
                                                     0.0};

ClassEntryArray resp_array(VbState& st) {
  return ClassEntryArray{st.resp.data(), static_cast<size_t>(st.n_entries), 1};
}

// One normaliser pass over the listed classes: their responsibilities in
// place, sum_n c_n ln Z_n chunk by chunk (added in chunk order, so every
// thread count gives the same bits) and the check that every ln Z_n is
// finite; `name` is the step's in the message.
void normaliser_pass(const VbContext& ctx, VbState& st, const ClassList& classes,
                     const double* outside, const NormaliserRules& rules, const char* name) {
  std::atomic<bool> finite{true};
  st.entry_term = sum_entry_chunks(st.n_entries, [&](EntryRange range) {
    NormaliserSum sum;
    sum.count = ctx.views.entry_count.data();
    normalise_entries(log_rho_array(st), classes, outside, rules, kVbResponsibilityRules, range,
                      nullptr, resp_array(st), &sum);
    if (!sum.finite) finite.store(false, std::memory_order_relaxed);
    return sum.weighted;
  });
  if (!finite.load(std::memory_order_relaxed)) {
    raise_numerical_error(name, "Log normaliser of a case is not finite\n");
  }
}

// The normaliser pass leaves them behind (see normalise_entries) unless
// log rho has changed since; then a normaliser pass takes them again. A
// partial step always follows its own normaliser pass (it alone knows the
// outside term).
void responsibilities(const VbContext& ctx, VbState& st, const ClassList& classes,
                      bool all_classes) {
  using Fresh = VbWork::FreshResp;
  if (st.fresh_resp == Fresh::kAllClasses ||
      (!all_classes && st.fresh_resp == Fresh::kListedClasses)) {
    return;
  }
  if (!all_classes) die("Internal error: partial responsibilities without their normalisers\n");
  normaliser_pass(ctx, st, classes, nullptr, vb_normaliser_rules(), "compute_responsibilities");
  st.fresh_resp = Fresh::kAllClasses;
}

// The engine's imputation of the entries with a missing value in the block
// (see expect_block), per pattern and class.
struct MissingMomentsContext {
  const VbContext& ctx;
  const VbState& st;
  int b;
  const Temper& t;
};

void vb_missing_pattern_moments(const void* self, int p, int k, PatternMoments* out) {
  const MissingMomentsContext& m = *static_cast<const MissingMomentsContext*>(self);
  const PatternView pv = m.st.missing_tables.view(m.ctx.views, m.b, p, k);
  out->mean = m.st.block(k, m.b).mu->data;
  out->regression = pv.regression;
  out->cond = pv.cond;
  out->cond_scale = m.t.beta / m.t.dof(m.st, m.b, m.st.n_k[k]);
}

// N_k, n_kjv and the Gaussian moments of the listed classes, missing
// continuous values imputed under t. The moments are sums of x - c, c the
// block's sample mean, so that a large common offset costs no digits.
void sufficient_stats(const VbContext& ctx, VbState& st, const ClassList& classes,
                      const Temper& t) {
  KernelScratch& ks = st.lanes.kernel;
  const ConstClassEntryArray resp{st.resp.data(), static_cast<size_t>(st.n_entries), 1};
  refresh_missing_tables(ctx, st, classes, t.name);
  chunked_class_counts(ctx.views, resp, classes, ks, st.lanes.chunks, st.n_k.data(),
                       st.n_cat.data());
  if (st.n_groups > 0) {
    for (int b = 0; b < st.n_groups; ++b) {
      for (int i = 0; i < classes.size(); ++i) {
        VbMoments& mom = st.moments_of(classes[i], b);
        zero_vector(mom.s1);
        zero_matrix(mom.s2);
        ks.s1[static_cast<size_t>(classes[i])] = mom.s1->data;
        ks.s2[static_cast<size_t>(classes[i])] = mom.s2->data;
      }
      const double* centre = block_centre(ctx, b);
      MissingMomentsContext missing{ctx, st, b, t};
      chunked_block_moments(ctx.views, resp, classes, b, st.dims[static_cast<size_t>(b)], centre,
                            ks, st.lanes.chunks,
                            MissingBlockMoments{vb_missing_pattern_moments, &missing});
    }
    for (int i = 0; i < classes.size(); ++i) {
      const int k = classes[i];
      for (int b = 0; b < st.n_groups; ++b) {
        VbMoments& mom = st.moments_of(k, b);
        const double* centre = block_centre(ctx, b);
        for (int a = 0; a < mom.s1->n; ++a) {
          (*mom.xbar)[a] = (centre ? centre[a] : 0.0) + (*mom.s1)[a] / st.n_k[k];
        }
      }
    }
  }
}

// Normal-Wishart posteriors of the listed classes (beta enters only through
// the E-step):
//   mu = (N xbar + tau0 mu0) / (N + tau0)
//   Sigma = Sigma0 + (S2 - N xbar xbar') + d (mu0 - xbar)(mu0 - xbar)',
//   d = tau0 N / (tau0 + N); one-dimensional blocks add 2 Sigma0.
// Worked in the coordinates of the moments, x - c: xbar - c = S1 / N, and
// S2 - N xbar xbar' is the same matrix in both.
void update_gauss(const VbContext& ctx, VbState& st, const ClassList& classes) {
  const double tau0 = st.tau0;
  for (int i = 0; i < classes.size(); ++i) {
    const int k = classes[i];
    const double n = st.n_k[k];
    const double shrink = tau0 * n / (tau0 + n);
    for (int b = 0; b < st.n_groups; ++b) {
      VbBlock& blk = st.block(k, b);
      const int d = st.dims[static_cast<size_t>(b)];
      const VbMoments& mom = st.moments_of(k, b);
      const Vector& s1 = *mom.s1;
      const Vector& mu0 = *blk.mu0;
      const double* centre = block_centre(ctx, b);
      auto c = [&](int a) { return centre ? centre[a] : 0.0; };
      auto m0 = [&](int a) { return mu0[a] - c(a); };  // mu0 - c
      auto x = [&](int a) { return s1[a] / n; };        // xbar - c
      for (int a = 0; a < d; ++a) (*blk.mu)[a] = c(a) + (s1[a] + tau0 * m0(a)) / (n + tau0);
      Matrix& sigma = *blk.sigma;
      const Matrix& sigma0 = *blk.sigma0;
      const Matrix& s2 = *mom.s2;
      if (d == 1) {
        const double dev = m0(0) - x(0);
        sigma[0][0] = s2[0][0] - n * x(0) * x(0) + 2 * sigma0[0][0] + shrink * dev * dev;
        continue;
      }
      for (int a = 0; a < d; ++a) {
        for (int e = a; e < d; ++e) {
          sigma[a][e] = sigma0[a][e] + (s2[a][e] - n * x(a) * x(e)) +
                        shrink * (m0(a) - x(a)) * (m0(e) - x(e));
        }
      }
      symmetrise(&sigma);
    }
  }
}

}  // namespace

void compute_expected_logs(const VbContext& ctx, VbState& st) {
  expected_logs(st, ClassList::all(st.K));
  if (ctx.settings.verbose) print_expected_logs(log_stream(), ctx, st);
}

void compute_complete_prob(const VbContext& ctx, VbState& st) {
  complete_prob(ctx, st, Temper{false, 1.0, "compute_complete_prob"}, ClassList::all(st.K));
  if (ctx.settings.verbose) print_complete_prob(log_stream(), ctx, st);
}

void compute_complete_prob_daem(const VbContext& ctx, VbState& st) {
  complete_prob(ctx, st, Temper{true, st.beta, "compute_complete_prob_daem"}, ClassList::all(st.K));
  if (ctx.settings.verbose) print_complete_prob(log_stream(), ctx, st);
}

void compute_log_normalisers(const VbContext& ctx, VbState& st) {
  normaliser_pass(ctx, st, ClassList::all(st.K), nullptr, vb_normaliser_rules(),
                  "compute_log_normalisers");
  st.fresh_resp = VbWork::FreshResp::kAllClasses;
  if (ctx.settings.verbose) print_log_normalisers(log_stream(), ctx, st);
}

std::vector<double> log_normalisers(const VbState& st) {
  std::vector<double> z(static_cast<size_t>(st.n_entries));
  const NormaliserRules rules = vb_normaliser_rules();
  for_entry_chunks(st.n_entries, [&](EntryRange range) {
    entry_normalisers(log_rho_array(st), ClassList::all(st.K), nullptr, rules, range, z.data());
  });
  return z;
}

void compute_responsibilities(const VbContext& ctx, VbState& st) {
  responsibilities(ctx, st, ClassList::all(st.K), true);
  if (ctx.settings.verbose) print_responsibilities(log_stream(), ctx, st);
}

void compute_sufficient_stats(const VbContext& ctx, VbState& st) {
  sufficient_stats(ctx, st, ClassList::all(st.K),
                   ctx.settings.daem ? tempered_imputation(st) : kPlainImputation);
  if (ctx.settings.verbose) print_sufficient_stats(log_stream(), ctx, st);
}

void compute_expect_gauss0_nodaem(const VbContext& ctx, VbState& st, int k, int n, double w) {
  expect_gauss0(ctx, st, k, n, w, kPlainImputation);
}

void compute_expect_gauss0_daem(const VbContext& ctx, VbState& st, int k, int n, double w) {
  expect_gauss0(ctx, st, k, n, w, tempered_imputation(st));
}

void update_hparams(const VbContext& ctx, VbState& st) {
  const double beta = st.beta;
  // delta = beta (N + delta0 - 1) + 1: the Dirichlet posterior raised to beta.
  for (int k = 0; k < st.K; ++k) st.delta[k] = beta * (st.n_k[k] + st.delta0[k] - 1.0) + 1.0;
  for (size_t i = 0; i < st.delta_cat.size(); ++i) {
    st.delta_cat[i] = beta * (st.n_cat[i] + st.delta0_cat[i] - 1.0) + 1.0;
  }
  update_gauss(ctx, st, ClassList::all(st.K));
  if (st.n_groups > 0) compute_hparam_precisions(st);
  if (ctx.settings.verbose) print_hparams(log_stream(), ctx, st);
}

// ---- the partial steps ------------------------------------------------------

void compute_expected_logs_part(const VbContext&, VbState& st, std::span<const int> classes) {
  expected_logs(st, ClassList::part(classes));
}

void compute_complete_prob_part(const VbContext& ctx, VbState& st, std::span<const int> classes) {
  complete_prob(ctx, st, Temper{false, 1.0, "compute_complete_prob_part"}, ClassList::part(classes));
}

void compute_log_normalisers_part(const VbContext& ctx, VbState& st, std::span<const int> classes,
                                  std::span<const double> outside) {
  // The listed classes' log rho and the kept sum of the others, around
  // their largest; the others' term added last.
  NormaliserRules rules;
  rules.outside_first = false;
  normaliser_pass(ctx, st, ClassList::part(classes), outside.data(), rules,
                  "compute_log_normalisers_part");
  st.fresh_resp = VbWork::FreshResp::kListedClasses;
}

void compute_responsibilities_part(const VbContext& ctx, VbState& st, std::span<const int> classes) {
  responsibilities(ctx, st, ClassList::part(classes), false);
}

void compute_sufficient_stats_part(const VbContext& ctx, VbState& st, std::span<const int> classes) {
  sufficient_stats(ctx, st, ClassList::part(classes), kPlainImputation);
}

void update_hparams_part(const VbContext& ctx, VbState& st, std::span<const int> classes) {
  for (int k : classes) {
    st.delta[k] = st.n_k[k] + st.delta0[k];
    for (int v = 0; v < st.cat_stride; ++v) {
      const size_t at = static_cast<size_t>(k) * st.cat_stride + v;
      st.delta_cat[at] = st.n_cat[at] + st.delta0_cat[at];
    }
  }
  update_gauss(ctx, st, ClassList::part(classes));
  if (st.n_groups > 0) compute_hparam_precisions_part(st, classes);
}

namespace {

// A free energy that is not a number or infinite would run on to the limit
// and be scored: it ends the run instead, naming the step that computed it.
double checked_free_energy(const char* name, double f) {
  if (std::isnan(f)) {
    raise_numerical_error(name, "Computed variational free energy is not a number\n");
  }
  if (std::isinf(f)) {
    raise_numerical_error(name, "Computed variational free energy is not finite\n");
  }
  return f;
}

}  // namespace

// F = sum_n c_n ln Z_n - KL(q(pi)||p(pi)) - sum_kj KL(q(theta_kj)||p(theta_kj))
//     - sum_kb KL(q(mu_kb, Lambda_kb)||p(mu_kb, Lambda_kb))
double compute_free_energy(const VbContext&, const VbState& st) {
  double f = st.entry_term;
  f += dirichlet_part(st, 1.0);
  for (int k = 0; k < st.K; ++k) {
    for (int b = 0; b < st.n_groups; ++b) f += block_free_energy(st, k, b);
  }
  return checked_free_energy("compute_free_energy", f);
}

// F_beta = E_q[ln p(X, Z, theta)] + H[q] / beta at the tempered optimum:
// (1/beta) sum_n c_n ln Z_n plus the prior and entropy terms of every factor.
double compute_free_energy_daem(const VbContext&, const VbState& st) {
  const double beta = st.beta;
  double f = st.entry_term / beta;
  f += dirichlet_part(st, beta);
  for (int k = 0; k < st.K; ++k) {
    for (int b = 0; b < st.n_groups; ++b) f += block_free_energy_daem(st, k, b, beta);
  }
  return checked_free_energy("compute_free_energy_daem", f);
}

}  // namespace veska
