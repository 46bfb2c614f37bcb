// The E-step and the statistics against plain loops, bit for bit.
//
// The engine takes the classes several at a time, skips exponentials that
// cannot change a result, and sums the Gaussian moments in tiles of entries;
// none of that may change a single bit. The loops here do the same sums the
// plain way (one class at a time, every entry in order, every term computed)
// and must give exactly the engine's values: for every number of classes
// (the lanes come in chunks of six, four and two, with a spare lane for an
// odd class), data spanning several tiles, missing values in every form,
// blocks of fixed and of general dimension, and a tempered E-step.
#include "vb/vbem.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "common/matrix.h"
#include "common/matrix_store.h"
#include "common/random.h"
#include "common/gamma_functions.h"
#include "fit/kernels.h"
#include "vb/vb_init.h"
#include "vb/vb_test_data.h"

namespace veska {
namespace {

using testing::random_cases;
using testing::Shape;
using testing::VbData;

constexpr double kLn2Pi = 1.83787706640934548356;

// Degrees of freedom of block b in class k at the E-step's temperature.
double dof(const VbState& st, int k, int b, bool tempered) {
  const int d = st.dims[static_cast<size_t>(b)];
  const double nu = st.n_k[k] + st.alpha0[static_cast<size_t>(b)];
  return tempered ? d + st.beta * (nu - d) : nu;
}

// The block term of log rho before the factor beta (see compute_complete_prob).
double block_term(const VbState& st, const CaseEntry& e, int k, int b, bool tempered) {
  const VbBlock& blk = st.block(k, b);
  const int d = st.dims[static_cast<size_t>(b)];
  const double beta = tempered ? st.beta : 1.0;
  const double nu_e = dof(st, k, b, tempered);
  const double tau = st.n_k[k] + st.tau0;
  const double ln_det = std::log(blk.det_sigma);
  double psi = 0.0;
  for (int i = 1; i <= d; ++i) psi += digamma((nu_e + 1 - i) / 2.0);
  const double a = 0.5 * (psi + d * std::log(2.0 / beta) - ln_det) - 0.5 * d / (tau * beta);
  const double s = nu_e / beta;
  const int m = e.gauss_n_missing()[static_cast<size_t>(b)];
  if (m == d) return a - 0.5 * (d * std::log(s) - d * kLn2Pi - ln_det);  // no quadratic form
  const int o = d - m;
  const int* observed = e.gauss_observed(b).data();
  Matrix* inv = new_matrix(o, o);
  double ln_det_oo = 0.0;
  if (m == 0) {
    copy_matrix(inv, blk.w);
  } else {
    extract_sub_matrix(inv, blk.sigma, observed, observed);
    ln_det_oo = std::log(inverse_spd(inv, inv).det);
  }
  Vector* diff = new_vector(o);
  for (int i = 0, p = 0; i < d; ++i) {
    if (observed[i]) (*diff)[p++] = e.values(b)[static_cast<size_t>(i)] - (*blk.mu)[i];
  }
  const double q = quadratic_form(inv, diff);
  free_vector(diff);
  free_matrix(inv);
  if (m == 0) return a - 0.5 * s * q;
  return (a - 0.5 * (m * std::log(s) - m * kLn2Pi - ln_det + ln_det_oo)) - 0.5 * s * q;
}

std::vector<double> plain_log_rho(const VbContext& ctx, const VbState& st, bool tempered) {
  const double beta = tempered ? st.beta : 1.0;
  std::vector<double> out(st.log_rho.size());
  for (int k = 0; k < st.K; ++k) {
    for (int n = 0; n < st.n_entries; ++n) {
      const CaseEntry& e = ctx.cases.entries[static_cast<size_t>(n)];
      double lr = beta * st.e_log_pi[k];
      for (int j = 0; j < st.n_discrete; ++j) {
        if (e.disc_missing()[static_cast<size_t>(j)]) continue;
        lr += beta * st.e_log_theta[st.cat_index(k, j, e.codes()[static_cast<size_t>(j)])];
      }
      // The blocks without a missing value in order, then those with one.
      for (int b = 0; b < st.n_groups; ++b) {
        lr -= beta * 0.5 * st.dims[static_cast<size_t>(b)] * kLn2Pi;
        if (e.gauss_n_missing()[static_cast<size_t>(b)] == 0) lr += beta * block_term(st, e, k, b, tempered);
      }
      for (int b = 0; b < st.n_groups; ++b) {
        if (e.gauss_n_missing()[static_cast<size_t>(b)] > 0) lr += beta * block_term(st, e, k, b, tempered);
      }
      out[st.entry_index(k, n)] = lr;
    }
  }
  return out;
}

std::vector<double> plain_log_z(const VbState& st) {
  std::vector<double> out(static_cast<size_t>(st.n_entries));
  for (int n = 0; n < st.n_entries; ++n) {
    double top = st.log_rho[st.entry_index(0, n)];
    for (int k = 1; k < st.K; ++k) top = std::max(top, st.log_rho[st.entry_index(k, n)]);
    double sum = 0.0;
    for (int k = 0; k < st.K; ++k) sum += exp_value(st.log_rho[st.entry_index(k, n)] - top);
    out[static_cast<size_t>(n)] = log_value(sum) + top;
  }
  return out;
}

// r = exp(log rho - top) / sum, the normaliser's own terms, at least the floor.
std::vector<double> plain_responsibilities(const VbState& st) {
  std::vector<double> out(st.resp.size());
  for (int n = 0; n < st.n_entries; ++n) {
    double top = st.log_rho[st.entry_index(0, n)];
    for (int k = 1; k < st.K; ++k) top = std::max(top, st.log_rho[st.entry_index(k, n)]);
    double sum = 0.0;
    for (int k = 0; k < st.K; ++k) sum += exp_value(st.log_rho[st.entry_index(k, n)] - top);
    const double inverse = 1.0 / sum;
    for (int k = 0; k < st.K; ++k) {
      const double r = exp_value(st.log_rho[st.entry_index(k, n)] - top) * inverse;
      out[st.entry_index(k, n)] = std::max(r, 1.0e-30);
    }
  }
  return out;
}

// The statistics as the engine left them: N_k, n_kjv, then per class and
// block S1 and S2.
std::vector<double> statistics(const VbState& st) {
  std::vector<double> out = st.n_k;
  out.insert(out.end(), st.n_cat.begin(), st.n_cat.end());
  for (const VbMoments& blk : st.moments) {
    out.insert(out.end(), blk.s1->data, blk.s1->data + blk.s1->n);
    out.insert(out.end(), blk.s2->data, blk.s2->data + blk.s2->rows * blk.s2->cols);
  }
  return out;
}

// The statistics summed the plain way into the state (its responsibilities
// given), returned as statistics() lists them: per class and block the
// observed entries in order, then pattern by pattern the completed points
// (missing values at mu_q + R (x_o - mu_o), from the engine's own tables of
// R and C) and the pattern's sum of weights times C beta / nu_e.
std::vector<double> plain_statistics(const VbContext& ctx, VbState& st) {
  const std::vector<CaseEntry>& entries = ctx.cases.entries;
  const EntryViews& views = ctx.views;
  const bool tempered = ctx.settings.daem;
  const double beta = tempered ? st.beta : 1.0;
  for (int k = 0; k < st.K; ++k) {
    double sum = 0.0;
    for (int n = 0; n < st.n_entries; ++n) {
      sum += entries[static_cast<size_t>(n)].total * st.resp[st.entry_index(k, n)];
    }
    st.n_k[k] = sum;
  }
  std::fill(st.n_cat.begin(), st.n_cat.end(), 0.0);
  for (int k = 0; k < st.K; ++k) {
    for (int n = 0; n < st.n_entries; ++n) {
      const CaseEntry& e = entries[static_cast<size_t>(n)];
      const double w = st.resp[st.entry_index(k, n)] * e.total;
      for (int j = 0; j < st.n_discrete; ++j) {
        if (e.disc_missing()[static_cast<size_t>(j)]) continue;
        st.n_cat[st.cat_index(k, j, e.codes()[static_cast<size_t>(j)])] += w;
      }
    }
    for (int b = 0; b < st.n_groups; ++b) {
      VbMoments& blk = st.moments_of(k, b);
      zero_vector(blk.s1);
      zero_matrix(blk.s2);
      const int d = blk.s1->n;
      const Vector& c = *ctx.stats.groups[static_cast<size_t>(b)].mean;
      auto add = [&](const std::vector<double>& z, double w) {
        for (int i = 0; i < d; ++i) {
          const double wz = w * z[static_cast<size_t>(i)];
          (*blk.s1)[i] += wz;
          for (int j = i; j < d; ++j) (*blk.s2)[i][j] += wz * z[static_cast<size_t>(j)];
        }
      };
      std::vector<double> z(static_cast<size_t>(d));
      for (int n = 0; n < st.n_entries; ++n) {
        const CaseEntry& e = entries[static_cast<size_t>(n)];
        if (e.gauss_n_missing()[static_cast<size_t>(b)] > 0) continue;
        for (int i = 0; i < d; ++i) z[static_cast<size_t>(i)] = e.values(b)[static_cast<size_t>(i)] - c[i];
        add(z, st.resp[st.entry_index(k, n)] * e.total);
      }
      const double* mu = st.block(k, b).mu->data;
      const std::vector<BlockPattern>& patterns = views.block_patterns[static_cast<size_t>(b)];
      for (int p = 0; p < static_cast<int>(patterns.size()); ++p) {
        const PatternView pv = st.missing_tables.view(views, b, p, k);
        const std::vector<int>& obs = patterns[static_cast<size_t>(p)].observed;
        const std::vector<int>& mis = patterns[static_cast<size_t>(p)].missing;
        const size_t o = obs.size(), m = mis.size();
        double w_sum = 0.0;
        for (int n = 0; n < st.n_entries; ++n) {
          if (views.pattern_of(n, b) != p) continue;
          const double* x = entries[static_cast<size_t>(n)].values(b).data();
          for (int j : obs) z[static_cast<size_t>(j)] = x[j] - c[j];
          for (size_t a = 0; a < m; ++a) {
            double v = mu[mis[a]] - c[mis[a]];
            for (size_t i = 0; i < o; ++i) v += pv.regression[a * o + i] * (x[obs[i]] - mu[obs[i]]);
            z[static_cast<size_t>(mis[a])] = v;
          }
          const double w = st.resp[st.entry_index(k, n)] * entries[static_cast<size_t>(n)].total;
          add(z, w);
          w_sum += w;
        }
        const double wc = w_sum * (beta / dof(st, k, b, tempered));
        for (size_t a = 0; a < m; ++a) {
          for (size_t i = a; i < m; ++i) (*blk.s2)[mis[a]][mis[i]] += wc * pv.cond[a * m + i];
        }
      }
    }
  }
  return statistics(st);
}

// Exact equality, element by element, with the first difference named.
void expect_same(const std::vector<double>& engine, const std::vector<double>& plain,
                 const std::string& what) {
  ASSERT_EQ(engine.size(), plain.size()) << what;
  for (size_t i = 0; i < engine.size(); ++i) {
    ASSERT_EQ(engine[i], plain[i]) << what << " [" << i << "]";
  }
}

struct Case {
  const char* name;
  Shape shape;
  bool daem;
};

std::vector<Case> cases() {
  Shape mixed;
  mixed.discrete = {3, 5, 2};
  // Fixed sizes 1..4; 9 and 17 the general ways (two classes at a time, one).
  mixed.blocks = {4, 1, 2, 3, 9, 17};
  mixed.lines = 600;  // three tiles of entries
  mixed.p_missing = 0.05;
  mixed.p_block_missing = 0.03;
  Shape observed = mixed;
  observed.p_missing = 0.0;
  observed.p_block_missing = 0.0;
  Shape discrete;
  discrete.discrete = {4, 3, 6, 2, 5};
  discrete.lines = 400;
  discrete.p_missing = 0.1;
  return {{"mixed with missing values", mixed, false},
          {"mixed with missing values, tempered", mixed, true},
          {"mixed, all observed", observed, false},
          {"discrete with missing values", discrete, false}};
}

TEST(LanesAgainstPlainLoops, EStepAndStatisticsAreTheSameBits) {
  for (const Case& c : cases()) {
    VbData data(random_cases(c.shape), c.shape.n_attr(), c.shape.gauss(),
                [&](Settings& s) { s.daem = c.daem; });
    const VbContext& ctx = *data.ctx;
    for (int K : {1, 2, 3, 4, 5, 6, 7, 9}) {
      SCOPED_TRACE(std::string(c.name) + ", K = " + std::to_string(K));
      rng_seed(static_cast<unsigned>(K));
      VbState st = allocate_vb_state(ctx, K);
      init_hparams_random(ctx, st);
      st.beta = c.daem ? 0.4 : 1.0;
      // Twice: from the random start, and after an update has moved the
      // classes apart.
      for (int round = 0; round < 2; ++round) {
        compute_expected_logs(ctx, st);
        if (c.daem) {
          compute_complete_prob_daem(ctx, st);
        } else {
          compute_complete_prob(ctx, st);
        }
        expect_same(st.log_rho, plain_log_rho(ctx, st, c.daem), "log rho");
        compute_log_normalisers(ctx, st);
        const std::vector<double> log_z = plain_log_z(st);
        expect_same(log_normalisers(st), log_z, "ln Z");
        ASSERT_EQ(st.entry_term, sum_entry_chunks(st.n_entries, [&](EntryRange r) {
                    double f = 0.0;
                    for (int n = r.first; n < r.last; ++n) f += ctx.views.entry_count[n] * log_z[n];
                    return f;
                  }));
        compute_responsibilities(ctx, st);
        expect_same(st.resp, plain_responsibilities(st), "r");
        compute_sufficient_stats(ctx, st);
        const std::vector<double> engine = statistics(st);
        expect_same(engine, plain_statistics(ctx, st), "statistics");
        update_hparams(ctx, st);
      }
      free_vb_state(st);
    }
  }
}

}  // namespace
}  // namespace veska
