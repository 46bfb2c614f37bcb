// The free energy of a small fitted model recomputed from first principles:
// textbook expectations under the (tempered) Dirichlet and Normal-Wishart
// posteriors, written out here with std::lgamma and a digamma of its own, in
// the precision form (the engine works with covariances). Blocks have one or
// two dimensions so that every inverse is a closed form.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "common/random.h"
#include "vb/vb_init.h"
#include "vb/vb_test_data.h"
#include "vb/vbem.h"
#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::VbData;

const double kPi = 3.14159265358979323846;

// Recurrence up to 10, then the asymptotic series.
double psi(double x) {
  double r = 0.0;
  for (; x < 10.0; x += 1.0) r -= 1.0 / x;
  const double w = 1.0 / (x * x);
  return r + std::log(x) - 0.5 / x -
         w * (1.0 / 12 - w * (1.0 / 120 - w * (1.0 / 252 - w * (1.0 / 240 - w / 132))));
}

// A 1 x 1 or 2 x 2 symmetric matrix.
struct Small {
  int d = 1;
  double a[2][2] = {{0, 0}, {0, 0}};
  double det() const { return d == 1 ? a[0][0] : a[0][0] * a[1][1] - a[0][1] * a[1][0]; }
  Small inverse() const {
    Small r;
    r.d = d;
    const double t = det();
    if (d == 1) {
      r.a[0][0] = 1.0 / t;
    } else {
      r.a[0][0] = a[1][1] / t;
      r.a[1][1] = a[0][0] / t;
      r.a[0][1] = r.a[1][0] = -a[0][1] / t;
    }
    return r;
  }
  Small times(double s) const {
    Small r = *this;
    for (auto& row : r.a) {
      for (double& x : row) x *= s;
    }
    return r;
  }
  double quad(const double* x) const {
    double q = 0.0;
    for (int i = 0; i < d; ++i) {
      for (int j = 0; j < d; ++j) q += x[i] * a[i][j] * x[j];
    }
    return q;
  }
  double trace_with(const Small& b) const {
    double t = 0.0;
    for (int i = 0; i < d; ++i) {
      for (int j = 0; j < d; ++j) t += a[i][j] * b.a[j][i];
    }
    return t;
  }
};

Small from(const Matrix* m) {
  Small s;
  s.d = m->rows;
  for (int i = 0; i < s.d; ++i) {
    for (int j = 0; j < s.d; ++j) s.a[i][j] = (*m)[i][j];
  }
  return s;
}

// ln B(W, nu) of the Wishart density with scale matrix W.
double ln_wishart_norm(double ln_det_w, int d, double nu) {
  double s = -0.5 * nu * ln_det_w - 0.5 * nu * d * std::log(2.0) - 0.25 * d * (d - 1) * std::log(kPi);
  for (int i = 1; i <= d; ++i) s -= std::lgamma((nu + 1 - i) / 2);
  return s;
}

// E[ln p] + H[q] / beta of a Dirichlet posterior delta (prior delta0).
double dirichlet(const double* d0, const double* d, int n, double beta) {
  double s0 = 0, s = 0;
  for (int v = 0; v < n; ++v) {
    s0 += d0[v];
    s += d[v];
  }
  double e_ln_p = std::lgamma(s0), e_ln_q = std::lgamma(s);
  for (int v = 0; v < n; ++v) {
    const double e_log = psi(d[v]) - psi(s);
    e_ln_p += -std::lgamma(d0[v]) + (d0[v] - 1) * e_log;
    e_ln_q += -std::lgamma(d[v]) + (d[v] - 1) * e_log;
  }
  return e_ln_p - e_ln_q / beta;
}

// The Normal-Wishart posterior of one block raised to beta: tau' = beta tau,
// scale W' = Sigma^-1 / beta, nu' = D + beta (nu - D).
struct Tempered {
  int d;
  double tau, nu, ln_det_w, e_ln_det;
  Small w, e_lambda;
  const double* mu;
};

Tempered temper(const VbState& st, int k, int b, double beta) {
  const VbBlock& blk = st.block(k, b);
  Tempered t;
  t.d = st.dims[b];
  t.tau = beta * (st.n_k[k] + st.tau0);
  t.nu = t.d + beta * (st.n_k[k] + st.alpha0[b] - t.d);
  t.w = from(blk.sigma).inverse().times(1.0 / beta);
  t.ln_det_w = std::log(t.w.det());
  t.e_ln_det = t.d * std::log(2.0) + t.ln_det_w;
  for (int i = 1; i <= t.d; ++i) t.e_ln_det += psi((t.nu + 1 - i) / 2);
  t.e_lambda = t.w.times(t.nu);
  t.mu = blk.mu->data;
  return t;
}

// E[ln N(x | mu, Lambda^-1)] with the missing components integrated out
// under their optimal Gaussian q (precision E[Lambda]_qq), plus H[q].
double block_expectation(const Tempered& t, const double* x, const int* observed) {
  const int d = t.d;
  double z[2], dev[2];
  int n_mis = 0, q_index = -1;
  for (int i = 0; i < d; ++i) {
    if (!observed[i]) {
      ++n_mis;
      q_index = i;
    }
  }
  Small cov_q;  // covariance of q over the missing components
  if (n_mis == 0) {
    for (int i = 0; i < d; ++i) z[i] = x[i];
  } else if (n_mis == d) {
    for (int i = 0; i < d; ++i) z[i] = t.mu[i];
    cov_q = t.e_lambda.inverse();
  } else {  // d = 2, one missing: z_q = mu_q - L_qq^-1 L_qo (x_o - mu_o)
    const int o = 1 - q_index;
    const double l_qq = t.e_lambda.a[q_index][q_index];
    z[o] = x[o];
    z[q_index] = t.mu[q_index] - t.e_lambda.a[q_index][o] * (x[o] - t.mu[o]) / l_qq;
    cov_q.d = 1;
    cov_q.a[0][0] = 1.0 / l_qq;
  }
  for (int i = 0; i < d; ++i) dev[i] = z[i] - t.mu[i];
  double e = 0.5 * t.e_ln_det - 0.5 * d * std::log(2 * kPi) - 0.5 * (d / t.tau + t.e_lambda.quad(dev));
  if (n_mis > 0) {
    // E over q of the quadratic form adds tr(E[Lambda]_qq cov_q) = n_mis.
    e += -0.5 * n_mis + 0.5 * (n_mis * std::log(2 * kPi * std::exp(1.0)) + std::log(cov_q.det()));
  }
  return e;
}

// E[ln p(mu, Lambda)] + H[q'] / beta; the one-dimensional blocks have the
// prior scale 2 Sigma0 (their update adds the prior twice).
double normal_wishart(const VbState& st, int k, int b, double beta) {
  const VbBlock& blk = st.block(k, b);
  const Tempered t = temper(st, k, b, beta);
  const int d = t.d;
  const double tau0 = st.tau0, nu0 = st.alpha0[b];
  const Small prior_scale_inv = from(blk.sigma0).times(d == 1 ? 2.0 : 1.0);  // W0^-1
  double dm[2];
  for (int i = 0; i < d; ++i) dm[i] = t.mu[i] - (*blk.mu0)[i];
  const double e_ln_p = 0.5 * d * std::log(tau0 / (2 * kPi)) + 0.5 * t.e_ln_det -
                        0.5 * (d * tau0 / t.tau + tau0 * t.e_lambda.quad(dm)) +
                        ln_wishart_norm(-std::log(prior_scale_inv.det()), d, nu0) +
                        0.5 * (nu0 - d - 1) * t.e_ln_det - 0.5 * prior_scale_inv.trace_with(t.e_lambda);
  const double e_ln_q = 0.5 * t.e_ln_det + 0.5 * d * std::log(t.tau / (2 * kPi)) - 0.5 * d +
                        ln_wishart_norm(t.ln_det_w, d, t.nu) + 0.5 * (t.nu - d - 1) * t.e_ln_det -
                        0.5 * t.nu * d;
  return e_ln_p - e_ln_q / beta;
}

double free_energy_by_hand(const VbContext& ctx, const VbState& st, double beta) {
  const int K = st.K;
  std::vector<double> e_ln_pi(K);
  double sum = 0;
  for (int k = 0; k < K; ++k) sum += st.delta[k];
  for (int k = 0; k < K; ++k) e_ln_pi[k] = psi(st.delta[k]) - psi(sum);

  double f = 0.0;
  for (int n = 0; n < st.n_entries; ++n) {
    const CaseEntry& e = ctx.cases.entries[n];
    std::vector<double> rho(K);
    for (int k = 0; k < K; ++k) {
      double r = e_ln_pi[k];
      for (int j = 0; j < st.n_discrete; ++j) {
        if (e.codes()[j] < 0) continue;
        const size_t i = st.cat_index(k, j, 0);
        double s = 0;
        for (int v = 0; v < st.n_values[j]; ++v) s += st.delta_cat[i + v];
        r += psi(st.delta_cat[i + e.codes()[j]]) - psi(s);
      }
      for (int b = 0; b < st.n_groups; ++b) {
        r += block_expectation(temper(st, k, b, beta), e.values(b).data(), e.gauss_observed(b).data());
      }
      rho[k] = beta * r;
    }
    double top = rho[0];
    for (double r : rho) top = std::max(top, r);
    double z = 0;
    for (double r : rho) z += std::exp(r - top);
    f += e.total * (std::log(z) + top) / beta;
  }
  f += dirichlet(st.delta0.data(), st.delta.data(), K, beta);
  for (int k = 0; k < K; ++k) {
    for (int j = 0; j < st.n_discrete; ++j) {
      const size_t i = st.cat_index(k, j, 0);
      f += dirichlet(&st.delta0_cat[i], &st.delta_cat[i], st.n_values[j], beta);
    }
  }
  for (int k = 0; k < K; ++k) {
    for (int b = 0; b < st.n_groups; ++b) f += normal_wishart(st, k, b, beta);
  }
  return f;
}

// Two discrete attributes, a two-dimensional block (2, 3) and a
// one-dimensional one (4); values missing in each, a case with the whole
// pair missing and one with one member of it missing.
const char kCases[] =
    "a,x,1.0,2.0,0.5\n"
    "a,x,1.2,2.5,0.4\n"
    "b,y,3.1,0.2,1.9\n"
    "b,?,2.9,?,2.2\n"
    "c,y,3.3,0.1,?\n"
    "a,x,?,?,0.6\n"
    "c,x,0.8,1.7,0.3\n"
    "b,y,3.0,0.5,2.0\n"
    "?,y,2.7,-0.1,1.8\n"
    "a,x,1.1,2.2,0.7\n"
    "c,y,?,0.3,2.4\n"
    "a,y,0.9,1.9,0.2\n"
    "b,x,3.4,0.0,2.1\n"
    "a,x,1.3,2.4,0.5\n";

TEST(FreeEnergyByHand, MatchesTheEngine) {
  VbData data(kCases, 5, {"2,3", "4"}, [](Settings& s) {
    s.tau = 0.5;
    s.smooth_c = 0.8;
    s.daem = true;
  });
  const VbContext& ctx = *data.ctx;
  ASSERT_EQ(data.cases.n_entries, 14);
  rng_seed(21);
  VbState st = allocate_vb_state(ctx, 3);
  init_hparams_random(ctx, st);
  st.beta = 1.0;
  for (int i = 0; i < 6; ++i) {
    compute_responsibilities(ctx, st);
    compute_sufficient_stats(ctx, st);
    update_hparams(ctx, st);
  }

  compute_expected_logs(ctx, st);
  compute_complete_prob(ctx, st);
  compute_log_normalisers(ctx, st);
  const double plain = compute_free_energy(ctx, st);
  const double by_hand = free_energy_by_hand(ctx, st, 1.0);
  EXPECT_NEAR(plain, by_hand, 1e-10 * std::fabs(by_hand));

  for (double beta : {0.4, 0.85}) {
    st.beta = beta;
    compute_complete_prob_daem(ctx, st);
    compute_log_normalisers(ctx, st);
    const double tempered = compute_free_energy_daem(ctx, st);
    const double want = free_energy_by_hand(ctx, st, beta);
    EXPECT_NEAR(tempered, want, 1e-10 * std::fabs(want)) << "beta " << beta;
  }
  free_vb_state(st);
}

// A free energy that is not a number or infinite ends the run with the
// step's name, in either form; a finite one is returned as it is.
TEST(FreeEnergyCheck, NotANumberAndInfinityEndTheRun) {
  VbData data(kCases, 5, {"2,3", "4"}, [](Settings& s) { s.daem = true; });
  const VbContext& ctx = *data.ctx;
  rng_seed(4);
  VbState st = allocate_vb_state(ctx, 2);
  init_hparams_random(ctx, st);
  st.beta = 0.5;
  compute_expected_logs(ctx, st);
  compute_complete_prob_daem(ctx, st);
  compute_log_normalisers(ctx, st);
  ASSERT_TRUE(std::isfinite(compute_free_energy_daem(ctx, st)));

  struct Case {
    double log_z0;  // the whole sum_n c_n ln Z_n
    bool tempered;
    const char* want;
  };
  const Case cases[] = {
      {std::nan(""), false,
       "Numerical error (compute_free_energy): Computed variational free energy is not a number\n"},
      {INFINITY, false,
       "Numerical error (compute_free_energy): Computed variational free energy is not finite\n"},
      {-INFINITY, true,
       "Numerical error (compute_free_energy_daem): Computed variational free energy is not "
       "finite\n"},
      {std::nan(""), true,
       "Numerical error (compute_free_energy_daem): Computed variational free energy is not a "
       "number\n"},
  };
  for (const Case& c : cases) {
    st.entry_term = c.log_z0;
    const testing::FatalResult r = testing::run_capturing([&] {
      c.tempered ? compute_free_energy_daem(ctx, st) : compute_free_energy(ctx, st);
    });
    EXPECT_TRUE(r.exited) << c.want;
    EXPECT_EQ(r.log, c.want);
  }
  free_vb_state(st);
}

}  // namespace
}  // namespace veska
