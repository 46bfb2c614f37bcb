#include "vb/vb_smem.h"

#include <algorithm>
#include <cmath>

#include "common/matrix.h"
#include "common/misc.h"
#include "common/random.h"
#include "vb/vbem.h"

namespace veska {

namespace {

// Floor of the split criterion's sums and densities.
constexpr double kTiny = 1.0e-60;

}  // namespace

// ---- criteria ---------------------------------------------------------------------

std::vector<double> compute_jmerge(const CaseTable& cases, const Memberships& mem, bool normalise) {
  const int K = mem.K;
  std::vector<double> j(static_cast<size_t>(K) * K, 0.0);
  std::vector<double> norm(static_cast<size_t>(K), 0.0);  // sum_n c_n P(k|x_n)^2
  for (int n = 0; n < mem.n_entries; ++n) {
    const double c = cases.entries[static_cast<size_t>(n)].total;
    const double* p = &mem.p_case[mem.at(n, 0)];
    for (int a = 0; a < K; ++a) {
      norm[static_cast<size_t>(a)] += c * p[a] * p[a];
      for (int b = a + 1; b < K; ++b) j[static_cast<size_t>(a) * K + b] += c * p[a] * p[b];
    }
  }
  if (normalise) {
    for (int a = 0; a < K; ++a) {
      for (int b = a + 1; b < K; ++b) {
        j[static_cast<size_t>(a) * K + b] /= std::sqrt(norm[static_cast<size_t>(a)] * norm[static_cast<size_t>(b)]);
      }
    }
  }
  return j;
}

// Jsplit(k) = T / S - ln S with S = sum_n P(k|x_n) and
// T = sum_n P(k|x_n) (ln P(k|x_n) - ln P(x_n|k)): the divergence between the
// cases' distribution within class k and the class's predictive density.
std::vector<double> compute_jsplit(const Memberships& mem) {
  const int K = mem.K;
  std::vector<double> out(static_cast<size_t>(K), 0.0);
  for (int k = 0; k < K; ++k) {
    double s = 0.0;
    for (int n = 0; n < mem.n_entries; ++n) s += mem.p_case[mem.at(n, k)];
    if (!(s > 0.0)) s = kTiny;
    double t = 0.0;
    for (int n = 0; n < mem.n_entries; ++n) {
      const double p = mem.p_case[mem.at(n, k)];
      if (!(p > 0.0)) continue;
      // P(x_n|k) is the product of the value probabilities and block
      // densities; the floor also covers a product that underflowed.
      t += p * (std::log(p) - std::log(std::max(mem.p_component[mem.at(n, k)], kTiny)));
    }
    out[static_cast<size_t>(k)] = t / s - std::log(s);
  }
  return out;
}

// ---- one candidate ------------------------------------------------------------------

void init_candidate(const VbContext& ctx, VbState& st, const SmemCandidate& c) {
  const Settings& s = ctx.settings;
  const int i = c.i, j = c.j, k = c.k;
  const double w_i = st.n_k[i] / (st.n_k[i] + st.n_k[j]);
  const double w_j = st.n_k[j] / (st.n_k[i] + st.n_k[j]);

  // Class pseudo counts: i takes j's counts, j and k half of k's each.
  const double k_old = st.delta[k];
  st.delta[i] = st.delta[i] + st.delta[j] - st.delta0[j];
  st.delta[j] = st.delta0[j] + (k_old - st.delta0[k]) / 2;
  st.delta[k] = st.delta0[k] + (k_old - st.delta0[k]) / 2;

  // Value pseudo counts: i the weighted mean of i's and j's counts; j and k
  // k's counts, pushed apart by one draw per value.
  for (int a = 0; a < st.n_discrete; ++a) {
    const int nv = st.n_values[static_cast<size_t>(a)];
    for (int v = 0; v < nv; ++v) {
      const double u = rng_real();
      const size_t ci = st.cat_index(i, a, v), cj = st.cat_index(j, a, v), ck = st.cat_index(k, a, v);
      const double* d0 = st.delta0_cat.data();
      double* d = st.delta_cat.data();
      d[ci] = d0[ci] + w_i * (d[ci] - d0[ci]) + w_j * (d[cj] - d0[cj]);
      d[cj] = d0[cj] + (1 - u * s.noise / nv) * (d[ck] - d0[ck]);
      d[ck] = d0[ck] + (1 + u * s.noise / nv) * (d[ck] - d0[ck]);
    }
  }

  // Means: i the weighted mean; j and k k's mean moved apart by one draw
  // per component.
  for (int b = 0; b < st.n_groups; ++b) {
    const Matrix& covar = *ctx.stats.groups[static_cast<size_t>(b)].sample_covar;
    Vector& mu_i = *st.block(i, b).mu;
    Vector& mu_j = *st.block(j, b).mu;
    Vector& mu_k = *st.block(k, b).mu;
    for (int d = 0; d < st.dims[static_cast<size_t>(b)]; ++d) {
      const double u = rng_real();
      mu_i[d] = w_j * mu_j[d] + w_i * mu_i[d];
      const double e = (0.5 - u) * std::sqrt(covar[d][d]) * s.noise_gauss;
      mu_j[d] = mu_k[d] + e;
      mu_k[d] = mu_k[d] - e;
    }
  }

  // Covariances: i the weighted mean of i's and j's, j a copy of k's.
  for (int b = 0; b < st.n_groups; ++b) {
    VbBlock& bi = st.block(i, b);
    Matrix& sigma_i = *bi.sigma;
    const Matrix& sigma0_i = *bi.sigma0;
    const Matrix& sigma_j0 = *st.block(j, b).sigma0;
    Matrix& sigma_j = *st.block(j, b).sigma;
    const Matrix& sigma_k = *st.block(k, b).sigma;
    const int dim = st.dims[static_cast<size_t>(b)];
    for (int r = 0; r < dim; ++r) {
      for (int col = r; col < dim; ++col) {
        sigma_i[r][col] = sigma0_i[r][col] + w_i * (sigma_i[r][col] - sigma0_i[r][col]) +
                          w_j * (sigma_j[r][col] - sigma_j0[r][col]);
        sigma_j[r][col] = sigma_k[r][col];
      }
    }
    symmetrise(&sigma_i);
    symmetrise(&sigma_j);
    symmetrise(st.block(k, b).sigma);
  }
  const int triple[3] = {i, j, k};
  if (st.n_groups > 0) compute_hparam_precisions_part(st, triple);

  st.n_k[i] = st.n_k[i] + st.n_k[j];
  st.n_k[j] = st.n_k[k] / 2;
  st.n_k[k] = st.n_k[k] / 2;
}

void full_e_step(const VbContext& ctx, VbState& st) {
  compute_expected_logs(ctx, st);
  compute_complete_prob(ctx, st);
  compute_log_normalisers(ctx, st);
}

void outside_log_sums(const VbState& st, const SmemCandidate& c, std::vector<double>& out) {
  out.assign(static_cast<size_t>(st.n_entries), -INFINITY);
  for (int n = 0; n < st.n_entries; ++n) {
    double top = -INFINITY;
    for (int k = 0; k < st.K; ++k) {
      if (k == c.i || k == c.j || k == c.k) continue;
      top = std::max(top, st.log_rho[st.entry_index(k, n)]);
    }
    if (top == -INFINITY) continue;
    double sum = 0.0;
    for (int k = 0; k < st.K; ++k) {
      if (k == c.i || k == c.j || k == c.k) continue;
      sum += std::exp(st.log_rho[st.entry_index(k, n)] - top);
    }
    out[static_cast<size_t>(n)] = std::log(sum) + top;
  }
}

// ---- snapshot -------------------------------------------------------------------------

void take_snapshot(const VbState& st, VbStateSnapshot& snapshot) {
  snapshot.hparams = st.hparams();
  snapshot.work = st.work();
}

void restore_snapshot(const VbStateSnapshot& snapshot, VbState& st) {
  if (snapshot.work.log_rho.size() != st.log_rho.size() ||
      snapshot.work.moments.size() != st.moments.size()) {
    die("Internal error: snapshot does not fit the state\n");
  }
  restore_hparams(snapshot.hparams, st);
  st.work() = snapshot.work;
}

}  // namespace veska
