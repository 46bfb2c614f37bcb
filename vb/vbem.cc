#include "vb/vbem.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/matrix.h"
#include "common/misc.h"
#include "common/gamma_functions.h"
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

// The imputation of missing continuous values in the statistics.
constexpr Temper kPlainImputation{false, 1.0, "compute_expect_gauss0_nodaem"};
Temper tempered_imputation(const VbState& st) {
  return Temper{true, st.beta, "compute_expect_gauss0_daem"};
}

// The classes a step works on: all K, or the few that split-and-merge
// refits (the other classes keep their values).
class ClassList {
 public:
  static ClassList all(int K) { return ClassList(K, {}); }
  static ClassList part(std::span<const int> listed) {
    return ClassList(static_cast<int>(listed.size()), listed);
  }
  int size() const { return n_; }
  int operator[](int i) const { return listed_.empty() ? i : listed_[static_cast<size_t>(i)]; }

 private:
  ClassList(int n, std::span<const int> listed) : n_(n), listed_(listed) {}
  int n_;
  std::span<const int> listed_;
};

// sum_{i=1..D} psi((nu + 1 - i) / 2)
double digamma_sum(int d, double nu) {
  double s = 0.0;
  for (int i = 1; i <= d; ++i) s += digamma((nu + 1 - i) / 2.0);
  return s;
}

[[noreturn]] void fail_observed_part(const char* name, Matrix* inv) {
  free_matrix(inv);
  raise_numerical_error(name, kObservedPartFailure);
}

// Sigma_oo^-1 of the components with a nonzero mask, into a new matrix from
// the store (o x o), and ln |Sigma_oo|.
Matrix* invert_observed(const Matrix* sigma, const int* observed, int o, const char* name,
                        double* ln_det) {
  Matrix* inv = new_matrix(o, o);
  extract_sub_matrix(inv, sigma, observed, observed);
  const DetResult r = inverse_spd(inv, inv);
  if (!r.ok) fail_observed_part(name, inv);
  *ln_det = std::log(r.det);
  return inv;
}

// x_o - mu_o into a new vector from the store.
Vector* observed_difference(std::span<const double> x, const Vector* mu, const int* observed,
                            int o) {
  Vector* diff = new_vector(o);
  int p = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    if (observed[i]) (*diff)[p++] = x[i] - (*mu)[static_cast<int>(i)];
  }
  return diff;
}

// The block term of log rho_kn before the factor beta, for entry e in block
// b with missing values (A, the precision scale s = nu_e / beta and
// ln|Sigma| of class k in c; the observed case is observed_block_lanes):
//   m missing:     A - [s Q_o + m ln s - m ln 2pi - ln|Sigma| + ln|Sigma_oo|] / 2,
//                  Q_o = (x_o - mu_o)' Sigma_oo^-1 (x_o - mu_o)
//   all missing:   A - [D ln s - D ln 2pi - ln|Sigma|] / 2
// The missing part is integrated out under its optimal Gaussian, whose
// entropy brings the logarithmic terms.
double missing_block_term(const VbBlock& blk, const CaseEntry& e, int b, int d, int m,
                          const VbBlockTerms& c, const char* name) {
  const double a = c.a, s = c.scale, ln_det = c.ln_det;
  if (m == d) return a - 0.5 * (d * std::log(s) - d * kLn2Pi - ln_det);
  const int o = d - m;
  const int* observed = e.gauss_observed(b).data();
  double ln_det_oo = 0.0;
  Matrix* inv = invert_observed(blk.sigma, observed, o, name, &ln_det_oo);
  Vector* diff = observed_difference(e.values(b), blk.mu, observed, o);
  double q = quadratic_form(inv, diff);
  free_vector(diff);
  free_matrix(inv);
  return a - 0.5 * (s * q + m * std::log(s) - m * kLn2Pi - ln_det + ln_det_oo);
}

// ---- lanes: classes side by side --------------------------------------------
//
// The E-step and the counts take the listed classes in chunks of up to
// kClassLanes lanes, one class per lane, so that one read of an entry serves
// every class of the chunk and the lanes' independent sums run in SSE
// registers two at a time. Each lane adds its terms in the order of the
// one-class loop, so the results are the same bits. A chunk short of
// classes repeats its last class in the spare lane, whose results are
// dropped.

// Two doubles in one register (GCC's vector extension): every operation is
// the ordinary double operation on each element.
typedef double Pair __attribute__((vector_size(16)));

Pair load_pair(const double* p) {
  Pair v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

void store_pair(double* p, Pair v) { std::memcpy(p, &v, sizeof v); }

// V pairs: 2V lanes, of which `used` hold a class of their own.
template <int V>
struct LaneChunk {
  static constexpr int kLanes = 2 * V;
  int k[kLanes];
  int used;
};

// Calls f(LaneChunk<V>) for consecutive chunks of the listed classes: six
// lanes while at least five classes are left, four while three are, then
// two. (Wider chunks would spill the lanes' registers.)
template <typename F>
void for_each_chunk(const ClassList& classes, F&& f) {
  static_assert(kClassLanes == 6, "chunks of up to three pairs");
  int first = 0;
  auto take = [&](auto chunk) {
    chunk.used = std::min(chunk.kLanes, classes.size() - first);
    for (int l = 0; l < chunk.kLanes; ++l) {
      chunk.k[l] = classes[first + std::min(l, chunk.used - 1)];
    }
    first += chunk.used;
    f(chunk);
  };
  while (classes.size() - first >= 5) take(LaneChunk<3>{});
  while (classes.size() - first >= 3) take(LaneChunk<2>{});
  if (classes.size() - first >= 1) take(LaneChunk<1>{});
}

// The pairs of lanes of per-lane values laid out lane by lane.
template <int V>
void load_lanes(const double* p, Pair* out) {
  for (int v = 0; v < V; ++v) out[v] = load_pair(p + 2 * v);
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
  return c;
}

// The lanes' copy of block b (see VbState::lane_gauss, here with the
// chunk's lanes): mu, the full W, A and s / 2 per lane; the per-lane terms
// also go to st.lanes.block_terms for the entries with missing values.
template <int V>
void load_block_lanes(VbState& st, const Temper& t, const LaneChunk<V>& c, int b) {
  constexpr int L = 2 * V;
  const int d = st.dims[static_cast<size_t>(b)];
  double* mu = st.lanes.lane_gauss.data() + st.lanes.lane_gauss_offset[static_cast<size_t>(b)];
  double* w = mu + d * L;
  double* a = w + d * d * L;
  double* half_scale = a + L;
  for (int l = 0; l < L; ++l) {
    const VbBlock& blk = st.block(c.k[l], b);
    for (int i = 0; i < d; ++i) mu[i * L + l] = (*blk.mu)[i];
    for (int i = 0; i < d * d; ++i) w[i * L + l] = blk.w->data[i];
    VbBlockTerms& terms = st.lanes.block_terms[static_cast<size_t>(b) * kClassLanes + l];
    terms = block_terms_of(st, t, c.k[l], b);
    a[l] = terms.a;
    half_scale[l] = 0.5 * terms.scale;
  }
}

// lr += beta (A - (s / 2) Q) lane by lane for an observed block x, with
// Q = (x - mu)' W (x - mu) summed as quadratic_form does: the diagonal
// terms, plus twice the sum of the rows of the upper triangle. kDim is the
// block dimension when it is one of the small fixed sizes, else 0 and the
// dimension is d (then x - mu goes to the scratch `spill`).
template <int V, int kDim>
void observed_block_lanes(const double* x, const double* lanes, int d, double beta, double* spill,
                          Pair* lr) {
  constexpr int L = 2 * V;
  if constexpr (kDim > 0) d = kDim;
  const double* mu = lanes;
  const double* w = mu + d * L;
  Pair fixed[kDim > 0 ? kDim * V : 1];
  auto diff = [&](int i, int v) {
    if constexpr (kDim > 0) {
      return fixed[i * V + v];
    } else {
      return load_pair(spill + (i * V + v) * 2);
    }
  };
  for (int i = 0; i < d; ++i) {
    for (int v = 0; v < V; ++v) {
      const Pair di = x[i] - load_pair(mu + i * L + 2 * v);
      if constexpr (kDim > 0) {
        fixed[i * V + v] = di;
      } else {
        store_pair(spill + (i * V + v) * 2, di);
      }
    }
  }
  Pair diagonal[V], off[V];
  for (int v = 0; v < V; ++v) diagonal[v] = off[v] = Pair{0.0, 0.0};
  for (int i = 0; i < d; ++i) {
    const double* wi = w + i * d * L;
    for (int v = 0; v < V; ++v) {
      const Pair di = diff(i, v);
      diagonal[v] += load_pair(wi + i * L + 2 * v) * di * di;
      Pair row{0.0, 0.0};
      for (int j = i + 1; j < d; ++j) row += load_pair(wi + j * L + 2 * v) * diff(j, v);
      off[v] += di * row;
    }
  }
  Pair a[V], half_scale[V];
  load_lanes<V>(w + d * d * L, a);
  load_lanes<V>(w + d * d * L + L, half_scale);
  for (int v = 0; v < V; ++v) lr[v] += beta * (a[v] - half_scale[v] * (diagonal[v] + 2.0 * off[v]));
}

template <int V>
void observed_block_lanes(const double* x, const double* lanes, int d, double beta, double* spill,
                          Pair* lr) {
  switch (d) {
    case 1: observed_block_lanes<V, 1>(x, lanes, d, beta, spill, lr); break;
    case 2: observed_block_lanes<V, 2>(x, lanes, d, beta, spill, lr); break;
    case 3: observed_block_lanes<V, 3>(x, lanes, d, beta, spill, lr); break;
    case 4: observed_block_lanes<V, 4>(x, lanes, d, beta, spill, lr); break;
    case 5: observed_block_lanes<V, 5>(x, lanes, d, beta, spill, lr); break;
    case 6: observed_block_lanes<V, 6>(x, lanes, d, beta, spill, lr); break;
    case 7: observed_block_lanes<V, 7>(x, lanes, d, beta, spill, lr); break;
    case 8: observed_block_lanes<V, 8>(x, lanes, d, beta, spill, lr); break;
    default: observed_block_lanes<V, 0>(x, lanes, d, beta, spill, lr); break;
  }
}

// log rho_kn = beta (E[ln pi_k] + sum_j E[ln theta_kj,x_nj]
//                    + sum_b [-(D/2) ln 2pi + block term])
// for the classes of one chunk, with the block terms above. At beta = 1
// this is the plain E-step term by term.
template <int V>
void complete_prob_lanes(const VbContext& ctx, VbState& st, const Temper& t,
                         const LaneChunk<V>& c) {
  const EntryViews& views = ctx.views;
  constexpr int L = 2 * V;
  const double beta = t.beta;
  const int nd = st.n_discrete;
  const size_t stride = static_cast<size_t>(st.cat_stride);
  double base_lanes[L];
  double* theta = st.lanes.lane_theta.data();
  for (int l = 0; l < L; ++l) {
    base_lanes[l] = beta * st.e_log_pi[c.k[l]];
    const double* e_log_theta = st.e_log_theta.data() + c.k[l] * stride;
    for (size_t v = 0; v < stride; ++v) theta[v * L + l] = beta * e_log_theta[v];
  }
  Pair base[V];
  load_lanes<V>(base_lanes, base);
  for (int b = 0; b < st.n_groups; ++b) load_block_lanes(st, t, c, b);
  double* log_rho[L];
  for (int l = 0; l < L; ++l) log_rho[l] = st.log_rho.data() + st.entry_index(c.k[l], 0);
  const int* cells = views.entry_cells.data();
  for (int n = 0; n < st.n_entries; ++n, cells += nd) {
    const bool complete = views.entry_complete[static_cast<size_t>(n)];
    Pair lr[V];
    for (int v = 0; v < V; ++v) lr[v] = base[v];
    for (int j = 0; j < nd; ++j) {
      if (!complete && cells[j] == kMissingCell) continue;
      const double* cell = theta + static_cast<size_t>(cells[j]) * L;
      for (int v = 0; v < V; ++v) lr[v] += load_pair(cell + 2 * v);
    }
    for (int b = 0; b < st.n_groups; ++b) {
      const size_t bi = static_cast<size_t>(b);
      const int d = st.dims[bi];
      const double ln_2pi_term = beta * 0.5 * d * kLn2Pi;
      for (int v = 0; v < V; ++v) lr[v] -= ln_2pi_term;
      const CaseEntry& e = ctx.cases.entries[static_cast<size_t>(n)];
      const int m = complete ? 0 : e.gauss_n_missing()[bi];
      if (m == 0) {
        const double* x = views.entry_reals[static_cast<size_t>(n)] + views.block_offset[bi];
        observed_block_lanes<V>(x, st.lanes.lane_gauss.data() + st.lanes.lane_gauss_offset[bi], d, beta,
                                st.lanes.lane_diff.data(), lr);
        continue;
      }
      const VbBlockTerms* terms = &st.lanes.block_terms[bi * kClassLanes];
      for (int l = 0; l < c.used; ++l) {
        const double term = missing_block_term(st.block(c.k[l], b), e, b, d, m, terms[l], t.name);
        lr[l / 2][l % 2] += beta * term;
      }
    }
    for (int l = 0; l < c.used; ++l) log_rho[l][n] = lr[l / 2][l % 2];
  }
}

void complete_prob(const VbContext& ctx, VbState& st, const Temper& t, const ClassList& classes) {
  for_each_chunk(classes, [&](const auto& chunk) { complete_prob_lanes(ctx, st, t, chunk); });
}

// S1 += w x and S2_ij += (w x_i) x_j (i <= j) for an observed block x of
// dimension d; S2 is d x d, row by row. T is double, or Pair for two
// classes at once.
template <typename T>
inline void add_observed_moments(const double* x, T w, int d, T* s1, T* s2) {
  for (int i = 0; i < d; ++i) {
    const T wx = w * x[i];
    s1[i] += wx;
    T* row = s2 + static_cast<size_t>(i) * d;
    for (int j = i; j < d; ++j) row[j] += wx * x[j];
  }
}

// Adds w times the completed moments of entry n's block b to S1 and S2
// (upper triangle). Missing components are imputed from mu and Sigma of
// class k before this update: the conditional mean
//   x_q = mu_q + Sigma_qo Sigma_oo^-1 (x_o - mu_o)
// and the conditional covariance (Sigma_qq - Sigma_qo Sigma_oo^-1 Sigma_oq) beta / nu_e
// (mu and Sigma beta / nu_e when the whole block is missing), the degrees of
// freedom nu_e taken with the N_k just counted.
void expect_block(VbState& st, int k, const CaseEntry& e, int b, double w, const Temper& t) {
  VbBlock& blk = st.block(k, b);
  const int d = st.dims[static_cast<size_t>(b)];
  const int m = st.gauss_missing ? e.gauss_n_missing()[static_cast<size_t>(b)] : 0;
  std::span<const double> x = e.values(b);
  Vector& s1 = *st.moments_of(k, b).s1;
  Matrix& s2 = *st.moments_of(k, b).s2;
  if (m == 0) {
    add_observed_moments(x.data(), w, d, s1.data, s2.data);
    return;
  }
  const double nu_e = t.dof(st, b, st.n_k[k]);
  const Vector& mu = *blk.mu;
  const Matrix& sigma = *blk.sigma;
  if (m == d) {
    for (int i = 0; i < d; ++i) {
      s1[i] += w * mu[i];
      for (int j = i; j < d; ++j) s2[i][j] += w * (mu[i] * mu[j] + sigma[i][j] * t.beta / nu_e);
    }
    return;
  }

  const int o = d - m;
  const int* observed = e.gauss_observed(b).data();
  const int* missing = e.gauss_missing(b).data();
  int n_obs = 0, n_mis = 0;
  for (int i = 0; i < d; ++i) {
    if (observed[i]) {
      st.lanes.obs_index[n_obs++] = i;
    } else {
      st.lanes.mis_position[i] = n_mis;
      st.lanes.mis_index[n_mis++] = i;
    }
  }
  double ln_det_oo = 0.0;
  Matrix* inv = invert_observed(&sigma, observed, o, t.name, &ln_det_oo);
  Vector* diff = observed_difference(x, &mu, observed, o);
  Vector* gain = new_vector(o);  // Sigma_oo^-1 (x_o - mu_o)
  multiply_matrix_vector(gain, inv, diff);
  Matrix* s_qo = new_matrix(m, o);
  extract_sub_matrix(s_qo, &sigma, missing, observed);
  Vector* shift = new_vector(m);  // Sigma_qo Sigma_oo^-1 (x_o - mu_o)
  multiply_matrix_vector(shift, s_qo, gain);
  Matrix* s_oq = new_matrix(o, m);
  transpose_matrix(s_oq, s_qo);
  Matrix* reg = new_matrix(m, o);  // Sigma_qo Sigma_oo^-1
  multiply_matrix(reg, s_qo, inv);
  Matrix* explained = new_matrix(m, m);
  multiply_matrix(explained, reg, s_oq);
  Matrix* cond = new_matrix(m, m);  // the conditional covariance
  extract_sub_matrix(cond, &sigma, missing, missing);
  subtract_matrix(cond, explained);

  double* z = st.lanes.completed.data();
  for (int p = 0; p < o; ++p) z[st.lanes.obs_index[p]] = x[static_cast<size_t>(st.lanes.obs_index[p])];
  for (int p = 0; p < m; ++p) z[st.lanes.mis_index[p]] = mu[st.lanes.mis_index[p]] + (*shift)[p];
  for (int i = 0; i < d; ++i) {
    s1[i] += w * z[i];
    for (int j = i; j < d; ++j) {
      double c = 0.0;
      if (!observed[i] && !observed[j]) {
        c = (*cond)[st.lanes.mis_position[i]][st.lanes.mis_position[j]] * t.beta / nu_e;
      }
      s2[i][j] += w * (z[i] * z[j] + c);
    }
  }

  free_matrix(cond);
  free_matrix(explained);
  free_matrix(reg);
  free_matrix(s_oq);
  free_vector(shift);
  free_matrix(s_qo);
  free_vector(gain);
  free_vector(diff);
  free_matrix(inv);
}

void expect_gauss0(const VbContext& ctx, VbState& st, int k, int n, double w, const Temper& t) {
  const CaseEntry& e = ctx.cases.entries[static_cast<size_t>(n)];
  for (int b = 0; b < st.n_groups; ++b) expect_block(st, k, e, b, w, t);
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

double entry_term(const EntryViews& views, const VbState& st) {
  double f = 0.0;
  for (int n = 0; n < st.n_entries; ++n) {
    f += views.entry_count[static_cast<size_t>(n)] * st.log_z[n];
  }
  return f;
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
// kNegligibleLog the exponential is under that floor anyway, so it is not
// computed.
constexpr double kNegligibleLog = -69.5;  // exp(-69.5) < 6.6e-31

void responsibilities(VbState& st, const ClassList& classes) {
  const double* log_z = st.log_z.data();
  for (int i = 0; i < classes.size(); ++i) {
    const int k = classes[i];
    const double* log_rho = st.log_rho.data() + st.entry_index(k, 0);
    double* resp = st.resp.data() + st.entry_index(k, 0);
    for (int n = 0; n < st.n_entries; ++n) {
      const double x = log_rho[n] - log_z[n];
      double r = 1.0;  // exp(0): a class that takes the entry alone
      if (x < kNegligibleLog) {
        r = kMinResponsibility;
      } else if (x != 0.0) {
        r = std::exp(x);
      }
      resp[n] = r < kMinResponsibility ? kMinResponsibility : r;
    }
  }
}

// N_k = sum_n c_n r_kn and n_kjv = sum_n c_n r_kn [x_nj = v] (missing values
// left out) of the classes of one chunk of lanes.
template <int V>
void count_lanes(const EntryViews& views, VbState& st, const LaneChunk<V>& c) {
  constexpr int L = 2 * V;
  const int nd = st.n_discrete;
  const size_t stride = static_cast<size_t>(st.cat_stride);
  const double* resp[L];
  for (int l = 0; l < L; ++l) resp[l] = st.resp.data() + st.entry_index(c.k[l], 0);
  double* counts = st.lanes.lane_counts.data();
  std::fill(counts, counts + stride * L, 0.0);
  Pair n_k[V];
  for (int v = 0; v < V; ++v) n_k[v] = Pair{0.0, 0.0};
  const int* cells = views.entry_cells.data();
  for (int n = 0; n < st.n_entries; ++n, cells += nd) {
    const double count = views.entry_count[static_cast<size_t>(n)];
    Pair w[V];
    for (int v = 0; v < V; ++v) {
      const Pair r{resp[2 * v][n], resp[2 * v + 1][n]};
      n_k[v] += count * r;
      w[v] = r * count;
    }
    const bool complete = views.entry_complete[static_cast<size_t>(n)];
    for (int j = 0; j < nd; ++j) {
      if (!complete && cells[j] == kMissingCell) continue;
      double* cell = counts + static_cast<size_t>(cells[j]) * L;
      for (int v = 0; v < V; ++v) store_pair(cell + 2 * v, load_pair(cell + 2 * v) + w[v]);
    }
  }
  for (int l = 0; l < c.used; ++l) {
    st.n_k[c.k[l]] = n_k[l / 2][l % 2];
    double* n_cat = st.n_cat.data() + c.k[l] * stride;
    for (size_t v = 0; v < stride; ++v) n_cat[v] = counts[v * L + l];
  }
}

// add_observed_moments over the entries first..last-1 (all observed in the
// block at `offset`) for a pair of classes with responsibilities r[0], r[1]
// and sums s1[0], s2[0] and s1[1], s2[1]; the second class is left alone
// unless `both`. The two classes' sums run side by side in SSE pairs, held
// in registers when kDim fixes the dimension; with kDim 0 the dimension is
// d, and a block above kPairedDims sums one class after the other in place.
constexpr int kPairedDims = 16;

template <int kDim>
void observed_moments_run(const EntryViews& views, const double* const r[2],
                          size_t offset, int first, int last, int d, double* const s1[2],
                          double* const s2[2], bool both) {
  const double* count = views.entry_count.data();
  const double* const* reals = views.entry_reals.data();
  const int lanes = both ? 2 : 1;
  if (kDim > 0 || d <= kPairedDims) {
    if constexpr (kDim > 0) d = kDim;
    constexpr int kSize = kDim > 0 ? kDim : kPairedDims;
    Pair a1[kSize], a2[kSize * kSize];
    for (int i = 0; i < d; ++i) a1[i] = Pair{s1[0][i], s1[1][i]};
    for (int i = 0; i < d * d; ++i) a2[i] = Pair{s2[0][i], s2[1][i]};
    for (int n = first; n < last; ++n) {
      const Pair w = Pair{r[0][n], r[1][n]} * count[n];
      add_observed_moments(reals[n] + offset, w, d, a1, a2);
    }
    for (int lane = 0; lane < lanes; ++lane) {
      for (int i = 0; i < d; ++i) s1[lane][i] = a1[i][lane];
      for (int i = 0; i < d * d; ++i) s2[lane][i] = a2[i][lane];
    }
    return;
  }
  for (int lane = 0; lane < lanes; ++lane) {
    for (int n = first; n < last; ++n) {
      add_observed_moments(reals[n] + offset, r[lane][n] * count[n], d, s1[lane], s2[lane]);
    }
  }
}

// S1 and S2 of block b in the listed classes over all entries, in entry
// order: runs of observed entries, and expect_block for each entry with a
// missing value in the block. The classes go in pairs (a class alone pairs
// with itself) over tiles of kTileEntries entries, so that an entry's values
// are read from memory once for all classes.
constexpr int kTileEntries = 256;

template <int kDim>
void block_moments(const VbContext& ctx, VbState& st, const ClassList& classes, int b,
                   const Temper& t) {
  const EntryViews& views = ctx.views;
  const int d = st.dims[static_cast<size_t>(b)];
  const size_t offset = static_cast<size_t>(views.block_offset[static_cast<size_t>(b)]);
  const std::vector<int>& missing = views.block_missing_entries[static_cast<size_t>(b)];
  size_t tile_missing = 0;  // the first missing entry of the tile
  for (int tile = 0; tile < st.n_entries; tile += kTileEntries) {
    const int end = std::min(st.n_entries, tile + kTileEntries);
    size_t tile_missing_end = tile_missing;
    while (tile_missing_end < missing.size() && missing[tile_missing_end] < end) ++tile_missing_end;
    for (int i = 0; i < classes.size(); i += 2) {
      const int k0 = classes[i];
      const int k1 = classes[std::min(i + 1, classes.size() - 1)];
      const bool both = k1 != k0;
      const double* const r[2] = {st.resp.data() + st.entry_index(k0, 0),
                                  st.resp.data() + st.entry_index(k1, 0)};
      double* const s1[2] = {st.moments_of(k0, b).s1->data, st.moments_of(k1, b).s1->data};
      double* const s2[2] = {st.moments_of(k0, b).s2->data, st.moments_of(k1, b).s2->data};
      int first = tile;
      for (size_t p = tile_missing; p < tile_missing_end; ++p) {
        const int n = missing[p];
        observed_moments_run<kDim>(views, r, offset, first, n, d, s1, s2, both);
        const CaseEntry& e = ctx.cases.entries[static_cast<size_t>(n)];
        const double count = views.entry_count[static_cast<size_t>(n)];
        expect_block(st, k0, e, b, r[0][n] * count, t);
        if (both) expect_block(st, k1, e, b, r[1][n] * count, t);
        first = n + 1;
      }
      observed_moments_run<kDim>(views, r, offset, first, end, d, s1, s2, both);
    }
    tile_missing = tile_missing_end;
  }
}

// N_k, n_kjv and the Gaussian moments of the listed classes, missing
// continuous values imputed under t.
void sufficient_stats(const VbContext& ctx, VbState& st, const ClassList& classes,
                      const Temper& t) {
  for_each_chunk(classes, [&](const auto& chunk) { count_lanes(ctx.views, st, chunk); });
  if (st.n_groups > 0) {
    for (int b = 0; b < st.n_groups; ++b) {
      for (int i = 0; i < classes.size(); ++i) {
        zero_vector(st.moments_of(classes[i], b).s1);
        zero_matrix(st.moments_of(classes[i], b).s2);
      }
      switch (st.dims[static_cast<size_t>(b)]) {
        case 1: block_moments<1>(ctx, st, classes, b, t); break;
        case 2: block_moments<2>(ctx, st, classes, b, t); break;
        case 3: block_moments<3>(ctx, st, classes, b, t); break;
        case 4: block_moments<4>(ctx, st, classes, b, t); break;
        case 5: block_moments<5>(ctx, st, classes, b, t); break;
        case 6: block_moments<6>(ctx, st, classes, b, t); break;
        case 7: block_moments<7>(ctx, st, classes, b, t); break;
        case 8: block_moments<8>(ctx, st, classes, b, t); break;
        default: block_moments<0>(ctx, st, classes, b, t); break;
      }
    }
    for (int i = 0; i < classes.size(); ++i) {
      const int k = classes[i];
      for (int b = 0; b < st.n_groups; ++b) {
        VbMoments& mom = st.moments_of(k, b);
        copy_vector(mom.xbar, mom.s1);
        divide_vector(mom.xbar, st.n_k[k]);
      }
    }
  }
}

// Normal-Wishart posteriors of the listed classes (beta enters only through
// the E-step):
//   mu = (N xbar + tau0 mu0) / (N + tau0)
//   Sigma = Sigma0 + (S2 - N xbar xbar') + d (mu0 - xbar)(mu0 - xbar)',
//   d = tau0 N / (tau0 + N); one-dimensional blocks add 2 Sigma0.
void update_gauss(VbState& st, const ClassList& classes) {
  const double tau0 = st.tau0;
  for (int i = 0; i < classes.size(); ++i) {
    const int k = classes[i];
    const double n = st.n_k[k];
    const double shrink = tau0 * n / (tau0 + n);
    for (int b = 0; b < st.n_groups; ++b) {
      VbBlock& blk = st.block(k, b);
      const int d = st.dims[static_cast<size_t>(b)];
      const VbMoments& mom = st.moments_of(k, b);
      const Vector& xbar = *mom.xbar;
      const Vector& mu0 = *blk.mu0;
      for (int a = 0; a < d; ++a) (*blk.mu)[a] = (n * xbar[a] + tau0 * mu0[a]) / (n + tau0);
      Matrix& sigma = *blk.sigma;
      const Matrix& sigma0 = *blk.sigma0;
      const Matrix& s2 = *mom.s2;
      if (d == 1) {
        const double dev = mu0[0] - xbar[0];
        sigma[0][0] = s2[0][0] - n * xbar[0] * xbar[0] + 2 * sigma0[0][0] + shrink * dev * dev;
        continue;
      }
      for (int a = 0; a < d; ++a) {
        for (int c = a; c < d; ++c) {
          sigma[a][c] = sigma0[a][c] + (s2[a][c] - n * xbar[a] * xbar[c]) +
                        shrink * (mu0[a] - xbar[a]) * (mu0[c] - xbar[c]);
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
  const int M = st.n_entries;
  for (int n = 0; n < M; ++n) {
    // ln Z = ln sum_k exp(log rho_k - M) + M, M the first largest log rho.
    const double* log_rho = st.log_rho.data() + n;
    double top = log_rho[0];
    int first_top = 0;
    for (int k = 1; k < st.K; ++k) {
      const double lr = log_rho[static_cast<size_t>(k) * M];
      if (lr > top) {
        top = lr;
        first_top = k;
      }
    }
    // Once the largest term (exp(0) = 1) is in, the sum is at least 1 and a
    // term below 2^-53 leaves it unchanged; before, only a term that is 0
    // does. Such terms are not computed, nor is exp(0).
    double sum = 0.0;
    for (int k = 0; k < st.K; ++k) {
      const double x = log_rho[static_cast<size_t>(k) * M] - top;
      if (x < (k > first_top ? kBelowHalfUlpOfOne : kUnderflowLog)) continue;
      sum += x == 0.0 ? 1.0 : std::exp(x);
    }
    st.log_z[n] = std::log(sum) + top;
    if (!std::isfinite(st.log_z[n])) {
      raise_numerical_error("compute_log_normalisers", "Log normaliser of a case is not finite\n");
    }
  }
  if (ctx.settings.verbose) print_log_normalisers(log_stream(), ctx, st);
}

void compute_responsibilities(const VbContext& ctx, VbState& st) {
  responsibilities(st, ClassList::all(st.K));
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
  update_gauss(st, ClassList::all(st.K));
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

void compute_log_normalisers_part(const VbContext&, VbState& st, std::span<const int> classes,
                                  std::span<const double> outside) {
  for (int n = 0; n < st.n_entries; ++n) {
    // The listed classes' log rho and the kept sum of the others, around
    // their largest.
    double top = outside[static_cast<size_t>(n)];
    for (int k : classes) top = std::max(top, st.log_rho[st.entry_index(k, n)]);
    double sum = 0.0;
    for (int k : classes) sum += std::exp(st.log_rho[st.entry_index(k, n)] - top);
    sum += std::exp(outside[static_cast<size_t>(n)] - top);
    st.log_z[n] = std::log(sum) + top;
    if (!std::isfinite(st.log_z[n])) {
      raise_numerical_error("compute_log_normalisers_part", "Log normaliser of a case is not finite\n");
    }
  }
}

void compute_responsibilities_part(const VbContext&, VbState& st, std::span<const int> classes) {
  responsibilities(st, ClassList::part(classes));
}

void compute_sufficient_stats_part(const VbContext& ctx, VbState& st, std::span<const int> classes) {
  sufficient_stats(ctx, st, ClassList::part(classes), kPlainImputation);
}

void update_hparams_part(const VbContext&, VbState& st, std::span<const int> classes) {
  for (int k : classes) {
    st.delta[k] = st.n_k[k] + st.delta0[k];
    for (int v = 0; v < st.cat_stride; ++v) {
      const size_t at = static_cast<size_t>(k) * st.cat_stride + v;
      st.delta_cat[at] = st.n_cat[at] + st.delta0_cat[at];
    }
  }
  update_gauss(st, ClassList::part(classes));
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
double compute_free_energy(const VbContext& ctx, const VbState& st) {
  double f = entry_term(ctx.views, st);
  f += dirichlet_part(st, 1.0);
  for (int k = 0; k < st.K; ++k) {
    for (int b = 0; b < st.n_groups; ++b) f += block_free_energy(st, k, b);
  }
  return checked_free_energy("compute_free_energy", f);
}

// F_beta = E_q[ln p(X, Z, theta)] + H[q] / beta at the tempered optimum:
// (1/beta) sum_n c_n ln Z_n plus the prior and entropy terms of every factor.
double compute_free_energy_daem(const VbContext& ctx, const VbState& st) {
  const double beta = st.beta;
  double f = entry_term(ctx.views, st) / beta;
  f += dirichlet_part(st, beta);
  for (int k = 0; k < st.K; ++k) {
    for (int b = 0; b < st.n_groups; ++b) f += block_free_energy_daem(st, k, b, beta);
  }
  return checked_free_energy("compute_free_energy_daem", f);
}

}  // namespace veska
