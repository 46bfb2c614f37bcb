#include "vb/vb_smem.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <numeric>

#include "common/matrix.h"
#include "common/misc.h"
#include "common/options.h"
#include "common/random.h"
#include "vb/print_vb.h"
#include "vb/vb_init.h"
#include "vb/vb_membership.h"
#include "vb/vb_run_loop.h"
#include "vb/vbem.h"

namespace veska {

namespace {

// A change in beta smaller than this is no change of temperature; a fall of
// F no larger than this is rounding.
constexpr double kTolerance = 1.0e-6;
// Floor of the split criterion's sums and densities.
constexpr double kTiny = 1.0e-60;

// A criterion that is not a number (a class whose memberships all
// vanished) ranks last.
double ranked(double x) { return std::isnan(x) ? -INFINITY : x; }

// The histories of one operation, reported by its number.
RunTrace smem_trace(SmemOperation& op, int operation) {
  return RunTrace{&op.fe_history, &op.beta_history, "SplitMergeOperation", operation, true};
}

void full_e_step(const VbContext& ctx, VbState& st) {
  compute_expected_logs(ctx, st);
  compute_complete_prob(ctx, st);
  compute_log_normalisers(ctx, st);
}

// Per entry, ln sum of exp(log rho) over the classes outside the triple
// (-infinity when there are none), around the first largest term.
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

// ---- snapshot -------------------------------------------------------------------

void add_vector(std::vector<std::span<double>>& out, Vector* v) {
  out.emplace_back(v->data, static_cast<size_t>(v->n));
}

void add_matrix(std::vector<std::span<double>>& out, Matrix* m) {
  out.emplace_back(m->data, static_cast<size_t>(m->rows) * m->cols);
}

// Every value of the state that a candidate can change.
std::vector<std::span<double>> state_fields(VbState& st) {
  std::vector<std::span<double>> f;
  for (std::vector<double>* v : {&st.delta0, &st.delta, &st.delta0_cat, &st.delta_cat, &st.n_k,
                                 &st.n_cat, &st.e_log_pi, &st.e_log_theta, &st.log_rho, &st.resp,
                                 &st.log_z}) {
    f.emplace_back(*v);
  }
  f.emplace_back(&st.beta, 1);
  for (VbBlock& blk : st.blocks) {
    add_vector(f, blk.mu0);
    add_matrix(f, blk.sigma0);
    add_matrix(f, blk.w0);
    f.emplace_back(&blk.det_sigma0, 1);
    add_vector(f, blk.mu);
    add_matrix(f, blk.sigma);
    add_matrix(f, blk.w);
    f.emplace_back(&blk.det_sigma, 1);
    add_vector(f, blk.s1);
    add_vector(f, blk.xbar);
    add_matrix(f, blk.s2);
  }
  return f;
}

// ---- the walk over the candidates ---------------------------------------------------

struct Limits {
  int full;     // partial and full runs of the candidates
  int restart;  // each restart
};

Limits limits_of(const Settings& s) {
  Limits l;
  l.full = s.max_iter < 1 ? kMaxIterLimit : s.max_iter;
  // Unlike plain restarts, a restart limit above the full one is kept.
  l.restart = (s.restarts >= 2 && s.max_iter_restart >= 1) ? s.max_iter_restart : l.full;
  return l;
}

// The restarts on operation 0's histories; leaves the best restart's state
// and history in place and returns its free energy.
double run_restart_phase(const VbContext& ctx, VbState& st, ClassCountFit& fit, SmemOperation& op,
                         int limit) {
  const Settings& s = ctx.settings;
  VbSavedState best;
  SmemOperation best_op;
  fit.runs.assign(static_cast<size_t>(s.restarts), VbRunRecord{});
  for (int r = 0; r < s.restarts; ++r) {
    VbRunRecord& run = fit.runs[static_cast<size_t>(r)];
    if (!s.seed_given) {
      run.seeded = true;
      run.seed = static_cast<uint32_t>(rng_u31());
      rng_seed(run.seed);
    }
    init_hparams_random(ctx, st);
    msg_printf("  [%d] #iters ", r);
    const int t = run_vbem_smem(ctx, st, 0, op, 0, limit, s.beta_init);
    run.updates = t;
    run.free_energy = op.fe_history[static_cast<size_t>(t)];
    // Ties keep the earlier restart.
    if (r == 0 || run.free_energy > fit.runs[static_cast<size_t>(fit.best_restart)].free_energy) {
      fit.best_restart = r;
      save_hparams_best(st, best);
      best_op = op;
      best_op.updates = t;
    }
  }
  restore_hparams_best(best, st);
  drop_saved_state(best);
  op = std::move(best_op);
  return op.fe_history[static_cast<size_t>(op.updates)];
}

// The candidate's three class probabilities before the operation.
struct TripleProbs {
  double i, j, k;
};

bool skipped(const Settings& s, int split_run, const TripleProbs& p) {
  if (s.n_jsplit > 0 && split_run >= s.n_jsplit) return true;
  const double m = s.min_c_param;
  return m > 0.0 && ((p.i < m && p.j < m) || p.k < m);
}

void print_outcome(const char* verdict, const SmemCandidate& c, double f_new, double f_cur) {
  msg_printf("    -- %s [%d,%d]->[%d] & [%d]->[%d,%d] (F current: %.Nf / last: %.Nf)\n", verdict, c.i,
             c.j, c.i, c.k, c.j, c.k, f_new, f_cur);
}

// One operation: tries the candidates in order until one is accepted
// (returns true, F in *f_cur) or the list or the --n-cand limit ends.
bool run_operation(const VbContext& ctx, VbState& st, int o, SmemOperation& op, int limit,
                   double* f_cur) {
  const Settings& s = ctx.settings;
  VbStateSnapshot before;
  take_snapshot(st, before);

  Memberships mem = allocate_memberships(ctx.model, ctx.cases.n_entries, st.K);
  VbPredictive pred;
  compute_predictive(ctx, st, retained_scalars(st), pred, mem);
  compute_membership(ctx, pred, mem);
  const std::vector<double> jmerge = compute_jmerge(ctx.cases, mem, s.norm_jmerge);
  const std::vector<double> jsplit = compute_jsplit(mem);
  free_predictive(pred);
  const std::vector<double> p_class = mem.p_class;
  mem = Memberships{};
  const SmemCandidates list(st.K, jmerge, jsplit);

  int split_run = 0;
  long long examined = 0;
  SmemCandidate last;
  for (long long kc = 0;; ++kc) {
    if (kc == list.size() || (s.n_cand > 0 && examined >= s.n_cand)) {
      if (kc == list.size()) {
        msg_printf("  [Op=%d]\n  <<All candidates are rejected>>\n", o);
      } else {
        msg_printf("  [Op=%d]\n  <<The number of rejected split-merge candidates reached the limit>>\n", o);
      }
      return false;
    }
    const SmemCandidate c = list.at(kc);
    split_run = (kc == 0 || c.i != last.i || c.j != last.j) ? 0 : split_run + 1;
    last = c;
    const TripleProbs p{p_class[static_cast<size_t>(c.i)], p_class[static_cast<size_t>(c.j)],
                        p_class[static_cast<size_t>(c.k)]};
    if (skipped(s, split_run, p)) {
      ++op.ignored;
      continue;
    }

    msg_printf("  [Op=%d]\n    Candidate %lld (%lld not skipped): Jmerge(%d,%d)=%.Nf / Jsplit(%d)=%.Nf\n",
               o, kc, examined, c.i, c.j, jmerge[static_cast<size_t>(c.i) * st.K + c.j], c.k,
               jsplit[static_cast<size_t>(c.k)]);
    msg_printf("    #iters ");
    const int partial = run_partial_vbem(ctx, st, c, op, limit);
    const int q = run_vbem_smem(ctx, st, o, op, partial, limit, 1.0);
    const double f_new = op.fe_history[static_cast<size_t>(q)];
    const double gain = f_new - *f_cur;
    const double m = s.min_new_c_param;
    const bool probable = m <= 0.0 || (p.i > m && p.j > m && p.k > m);
    if (f_new > *f_cur && gain > s.min_sm_imp && probable) {
      print_outcome("Accepted", c, f_new, *f_cur);
      op.partial_updates = partial;
      op.updates = q;
      *f_cur = f_new;
      return true;
    }
    print_outcome("Rejected", c, f_new, *f_cur);
    if (f_new <= *f_cur) {
      msg_printf("       <No improvement>\n");
    } else if (gain <= s.min_sm_imp) {
      msg_printf("       <Too small improvement: %.Ne>\n", gain);
    } else {
      msg_printf("       <Too small split/merged class probabilities: %d - %.Nf, %d - %.Nf, %d - %.Nf>\n",
                 c.i, p.i, c.j, p.j, c.k, p.k);
    }
    ++op.rejected;
    restore_snapshot(before, st);
    ++examined;
  }
}

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

SmemCandidates::SmemCandidates(int K, const std::vector<double>& jmerge,
                               const std::vector<double>& jsplit)
    : K_(K) {
  for (int i = 0; i < K; ++i) {
    for (int j = i + 1; j < K; ++j) pairs_.push_back({i, j, 0});
  }
  // Total orders (ties by the smaller indices), so any sort gives the same
  // list.
  auto merge = [&](const SmemCandidate& c) { return ranked(jmerge[static_cast<size_t>(c.i) * K + c.j]); };
  std::sort(pairs_.begin(), pairs_.end(), [&](const SmemCandidate& a, const SmemCandidate& b) {
    const double ma = merge(a), mb = merge(b);
    if (ma != mb) return ma > mb;
    return a.i != b.i ? a.i < b.i : a.j < b.j;
  });
  split_order_.resize(static_cast<size_t>(K));
  std::iota(split_order_.begin(), split_order_.end(), 0);
  std::sort(split_order_.begin(), split_order_.end(), [&](int a, int b) {
    const double sa = ranked(jsplit[static_cast<size_t>(a)]), sb = ranked(jsplit[static_cast<size_t>(b)]);
    return sa != sb ? sa > sb : a < b;
  });
}

long long SmemCandidates::size() const {
  return static_cast<long long>(K_) * (K_ - 1) * (K_ - 2) / 2;
}

SmemCandidate SmemCandidates::at(long long position) const {
  const long long per_pair = K_ - 2;
  SmemCandidate c = pairs_[static_cast<size_t>(position / per_pair)];
  long long r = position % per_pair;
  for (int k : split_order_) {
    if (k == c.i || k == c.j) continue;
    if (r-- == 0) {
      c.k = k;
      return c;
    }
  }
  die("Internal error: split-merge candidate %lld out of range\n", position);
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

int run_partial_vbem(const VbContext& ctx, VbState& st, const SmemCandidate& c, SmemOperation& op,
                     int limit) {
  const Settings& s = ctx.settings;
  const int triple[3] = {c.i, c.j, c.k};
  st.beta = 1.0;
  full_e_step(ctx, st);
  init_candidate(ctx, st, c);
  full_e_step(ctx, st);
  std::vector<double> outside;
  outside_log_sums(st, c, outside);
  const RunTrace trace = smem_trace(op, 0);
  record_history(ctx, st, trace, 0, compute_free_energy(ctx, st));
  progress_mark(0);
  for (int t = 0;; ++t) {
    compute_responsibilities_part(ctx, st, triple);
    compute_sufficient_stats_part(ctx, st, triple);
    update_hparams_part(ctx, st, triple);
    compute_expected_logs_part(ctx, st, triple);
    compute_complete_prob_part(ctx, st, triple);
    compute_log_normalisers_part(ctx, st, triple, outside);
    const int next = t + 1;
    record_history(ctx, st, trace, next, compute_free_energy(ctx, st));
    progress_mark(next);
    const double last = op.fe_history[static_cast<size_t>(t)];
    const double curr = op.fe_history[static_cast<size_t>(next)];
    if (last - curr > kTolerance) {
      msg_printf("\n(part) (iter:%d) Variational free energy decreased! (curr: %.Nf / last: %.Nf / diff: %.Nf)\n",
                 next, curr, last, last - curr);
      return next;
    }
    if (next >= limit) {
      msg_printf("(S:%d)", next);
      return next;
    }
    if (curr - last < s.epsilon) {
      msg_printf("(C:%d)", next);
      return next;
    }
  }
}

int run_vbem_smem(const VbContext& ctx, VbState& st, int operation, SmemOperation& op, int t0,
                  int limit, double beta_init) {
  return run_vbem_traced(ctx, st, smem_trace(op, operation), t0, limit, beta_init);
}

// ---- snapshot -------------------------------------------------------------------------

void take_snapshot(VbState& st, VbStateSnapshot& snapshot) {
  snapshot.values.clear();
  for (std::span<double> f : state_fields(st)) {
    snapshot.values.insert(snapshot.values.end(), f.begin(), f.end());
  }
}

void restore_snapshot(const VbStateSnapshot& snapshot, VbState& st) {
  size_t at = 0;
  for (std::span<double> f : state_fields(st)) {
    if (at + f.size() > snapshot.values.size()) die("Internal error: snapshot does not fit the state\n");
    std::copy_n(snapshot.values.begin() + static_cast<long>(at), f.size(), f.begin());
    at += f.size();
  }
  if (at != snapshot.values.size()) die("Internal error: snapshot does not fit the state\n");
}

// ---- driver ----------------------------------------------------------------------------

double run_split_merge_operations(const VbContext& ctx, VbState& st, int n_operations,
                                  std::vector<SmemOperation>& ops, double f_current) {
  const int limit = limits_of(ctx.settings).full;
  double f_cur = f_current;
  for (long long i = 1; i <= n_operations; ++i) {  // n_operations may be the largest int
    const int o = static_cast<int>(i);
    // Records only for the operations that run: --n-sm may be far more.
    ops.resize(static_cast<size_t>(o) + 1);
    SmemOperation& op = ops[static_cast<size_t>(o)];
    const bool accepted = run_operation(ctx, st, o, op, limit, &f_cur);
    // Keep only the retained run's history.
    if (accepted) {
      op.fe_history.resize(static_cast<size_t>(op.updates) + 1);
      if (ctx.settings.daem) op.beta_history.resize(static_cast<size_t>(op.updates) + 1);
    } else {
      op.fe_history = {};
      op.beta_history = {};
    }
    op.fe_history.shrink_to_fit();
    op.beta_history.shrink_to_fit();
    if (!accepted) break;
  }
  return f_cur;
}

void run_split_merge(const VbContext& ctx, VbState& st, ClassCountFit& fit) {
  const Settings& s = ctx.settings;
  // The snapshot and the candidate pairs grow with K x M and K^2: too
  // large a model ends like any allocation.
  try {
    std::vector<SmemOperation> ops(1);
    const double f_best = run_restart_phase(ctx, st, fit, ops[0], limits_of(s).restart);
    run_split_merge_operations(ctx, st, s.n_sm, ops, f_best);
    print_smem_updates(log_stream(), st.K, s.n_sm, ops);
    print_smem_free_energy(log_stream(), st.K, s.daem, ops);
    print_smem_candidates(log_stream(), st.K, s.n_sm, ops);
  } catch (const std::bad_alloc&) {
    die_stderr("Couldn't allocate memory (vbsmem, line %d)\n", __LINE__);
  }
}

}  // namespace veska
