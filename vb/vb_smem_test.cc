#include "vb/vb_smem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "common/matrix.h"
#include "common/misc.h"
#include "common/random.h"
#include "fit/fit_driver.h"
#include "fit/run_loop.h"
#include "fit/split_merge.h"
#include "output/section_writer.h"
#include "tests/support/test_support.h"
#include "vb/vb_fit_engine.h"
#include "vb/vb_init.h"
#include "vb/vb_membership.h"
#include "vb/vbem.h"
#include "vb/vb_test_data.h"

namespace veska {
namespace {

using testing::random_cases;
using testing::Shape;
using testing::StreamCapture;
using testing::VbData;

class Smem : public ::testing::Test {
 protected:
  void SetUp() override {
    set_conv_precision(6, 12);
    set_output_delimiter(',');
    section_writer_init();
  }
};

void e_step(const VbContext& ctx, VbState& st) {
  compute_expected_logs(ctx, st);
  compute_complete_prob(ctx, st);
  compute_log_normalisers(ctx, st);
}

// A state for K classes from a random start, `iters` plain iterations on,
// ending with an E-step.
VbState fitted_state(const VbContext& ctx, int K, unsigned seed, int iters) {
  rng_seed(seed);
  VbState st = allocate_vb_state(ctx, K);
  init_hparams_random(ctx, st);
  e_step(ctx, st);
  for (int i = 0; i < iters; ++i) {
    compute_responsibilities(ctx, st);
    compute_sufficient_stats(ctx, st);
    update_hparams(ctx, st);
    e_step(ctx, st);
  }
  return st;
}

void append(std::vector<double>& out, const Vector* v) { out.insert(out.end(), v->data, v->data + v->n); }
void append(std::vector<double>& out, const Matrix* m) {
  out.insert(out.end(), m->data, m->data + static_cast<size_t>(m->rows) * m->cols);
}

// Every value of the state but its shape and scratch, compared whole.
struct Everything {
  VbHparams hparams;
  VbWork work;
  bool operator==(const Everything&) const = default;
};
Everything everything(const VbState& st) { return {st.hparams(), st.work()}; }

// Bit for bit, so that -0.0 and NaN payloads count too.
bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](double x, double y) {
           return std::memcmp(&x, &y, sizeof x) == 0;
         });
}

struct Named {
  const char* name;
  Shape shape;
};

std::vector<Named> shapes() {
  std::vector<Named> out;
  Shape s;
  s.discrete = {3, 4, 2};
  s.p_missing = 0.1;
  out.push_back({"discrete, missing", s});
  s = Shape{};
  s.blocks = {4};
  s.p_missing = 0.15;
  s.p_block_missing = 0.1;
  out.push_back({"4-d block, missing", s});
  s = Shape{};
  s.blocks = {1, 1};
  out.push_back({"two 1-d blocks", s});
  s = Shape{};
  s.discrete = {3, 2};
  s.blocks = {2, 1};
  s.p_missing = 0.1;
  s.p_block_missing = 0.05;
  out.push_back({"mixed, missing", s});
  return out;
}

// ---- partial steps ----------------------------------------------------------------

// Values of class k that a step writes, by step.
std::vector<double> class_values(const VbState& st, int k) {
  std::vector<double> out;
  out.push_back(st.delta[k]);
  out.push_back(st.n_k[k]);
  out.push_back(st.e_log_pi[k]);
  for (int v = 0; v < st.cat_stride; ++v) {
    const size_t at = static_cast<size_t>(k) * st.cat_stride + v;
    out.push_back(st.delta_cat[at]);
    out.push_back(st.n_cat[at]);
    out.push_back(st.e_log_theta[at]);
  }
  for (int n = 0; n < st.n_entries; ++n) {
    out.push_back(st.log_rho[st.entry_index(k, n)]);
    out.push_back(st.resp[st.entry_index(k, n)]);
  }
  for (int b = 0; b < st.n_groups; ++b) {
    const VbBlock& blk = st.block(k, b);
    append(out, blk.mu);
    append(out, blk.sigma);
    append(out, blk.w);
    out.push_back(blk.det_sigma);
    const VbMoments& mom = st.moments_of(k, b);
    append(out, mom.s1);
    append(out, mom.xbar);
    append(out, mom.s2);
  }
  return out;
}

TEST_F(Smem, PartialStepsGiveTheFullStepsValuesForTheirClasses) {
  for (const Named& c : shapes()) {
    VbData data(random_cases(c.shape), c.shape.n_attr(), c.shape.gauss());
    const VbContext& ctx = *data.ctx;
    VbState st = fitted_state(ctx, 5, 3, 4);
    const int triple[3] = {3, 0, 4};
    std::vector<double> outside(static_cast<size_t>(st.n_entries));
    for (int n = 0; n < st.n_entries; ++n) {
      // ln(exp(rho_1) + exp(rho_2)), the classes outside the triple
      const double a = st.log_rho[st.entry_index(1, n)], b = st.log_rho[st.entry_index(2, n)];
      outside[static_cast<size_t>(n)] = std::max(a, b) + std::log1p(std::exp(-std::fabs(a - b)));
    }
    struct Step {
      const char* name;
      void (*full)(const VbContext&, VbState&);
      std::function<void(VbState&)> part;
      bool exact;
    };
    const std::vector<Step> steps = {
        {"responsibilities", compute_responsibilities,
         [&](VbState& s) { compute_responsibilities_part(ctx, s, triple); }, true},
        {"statistics", compute_sufficient_stats,
         [&](VbState& s) { compute_sufficient_stats_part(ctx, s, triple); }, true},
        // delta = (N + delta0 - 1) + 1 against N + delta0: equal up to rounding
        {"update", update_hparams, [&](VbState& s) { update_hparams_part(ctx, s, triple); }, false},
        {"expected logs", compute_expected_logs,
         [&](VbState& s) { compute_expected_logs_part(ctx, s, triple); }, true},
        {"log rho", compute_complete_prob,
         [&](VbState& s) { compute_complete_prob_part(ctx, s, triple); }, true},
        {"log normalisers", compute_log_normalisers,
         [&](VbState& s) { compute_log_normalisers_part(ctx, s, triple, outside); }, false},
    };
    // Each step from the same state: the full step, then (back at the
    // start) the partial one.
    for (const Step& step : steps) {
      VbStateSnapshot start;
      take_snapshot(st, start);
      const Everything before = everything(st);
      step.full(ctx, st);
      std::vector<std::vector<double>> full;
      for (int k : triple) full.push_back(class_values(st, k));
      const double full_entry_term = st.entry_term;
      restore_snapshot(start, st);
      step.part(st);
      for (int i = 0; i < 3; ++i) {
        const std::vector<double> part = class_values(st, triple[i]);
        ASSERT_EQ(part.size(), full[i].size());
        for (size_t v = 0; v < part.size(); ++v) {
          if (step.exact) {
            ASSERT_EQ(part[v], full[i][v]) << c.name << ", " << step.name << ", class " << triple[i];
          } else {
            ASSERT_NEAR(part[v], full[i][v], 1e-12 * std::max(1.0, std::fabs(full[i][v])))
                << c.name << ", " << step.name << ", class " << triple[i];
          }
        }
      }
      ASSERT_NEAR(st.entry_term, full_entry_term, 1e-12 * std::max(1.0, std::fabs(full_entry_term)))
          << c.name << ", " << step.name;
      // Classes 1 and 2 are untouched by every partial step.
      restore_snapshot(start, st);
      const std::vector<double> class1 = class_values(st, 1), class2 = class_values(st, 2);
      step.part(st);
      EXPECT_TRUE(same_bits(class1, class_values(st, 1))) << c.name << ", " << step.name;
      EXPECT_TRUE(same_bits(class2, class_values(st, 2))) << c.name << ", " << step.name;
      restore_snapshot(start, st);
      EXPECT_TRUE(before == everything(st));
    }
    free_vb_state(st);
  }
}

// ---- the candidate's start ------------------------------------------------------------

TEST_F(Smem, CandidateStartMergesAndSplitsWithOneDrawPerValueAndComponent) {
  Shape shape;
  shape.discrete = {3, 2};
  shape.blocks = {2, 1};
  VbData data(random_cases(shape), shape.n_attr(), shape.gauss());
  const VbContext& ctx = *data.ctx;
  VbState st = fitted_state(ctx, 4, 5, 6);
  const SmemCandidate c{0, 2, 3};
  const VbState& s = st;
  const double n_i = s.n_k[0], n_j = s.n_k[2], n_k = s.n_k[3];
  const double w_i = n_i / (n_i + n_j), w_j = n_j / (n_i + n_j);
  const double d_i = s.delta[0], d_j = s.delta[2], d_k = s.delta[3];
  const std::vector<double> cat = s.delta_cat;
  const double mu_i = (*s.block(0, 0).mu)[1], mu_j = (*s.block(2, 0).mu)[1], mu_k = (*s.block(3, 0).mu)[1];
  const double sig_i = (*s.block(0, 0).sigma)[0][1], sig_j = (*s.block(2, 0).sigma)[0][1];
  const double sig_k = (*s.block(3, 0).sigma)[0][1];
  const std::vector<double> class1 = class_values(st, 1);

  rng_seed(77);
  init_candidate(ctx, st, c);
  const double after = rng_real();
  rng_seed(77);
  const int draws = 3 + 2 + 2 + 1;  // every value, then every block component
  for (int i = 0; i < draws; ++i) rng_real();
  EXPECT_EQ(after, rng_real());

  EXPECT_DOUBLE_EQ(st.delta[0], d_i + d_j - st.delta0[2]);
  EXPECT_DOUBLE_EQ(st.delta[2], st.delta0[2] + (d_k - st.delta0[3]) / 2);
  EXPECT_DOUBLE_EQ(st.delta[3], st.delta0[3] + (d_k - st.delta0[3]) / 2);
  EXPECT_DOUBLE_EQ(st.n_k[0], n_i + n_j);
  EXPECT_DOUBLE_EQ(st.n_k[2], n_k / 2);
  EXPECT_DOUBLE_EQ(st.n_k[3], n_k / 2);
  for (int v = 0; v < 3; ++v) {
    const size_t i = st.cat_index(0, 0, v), j = st.cat_index(2, 0, v), k = st.cat_index(3, 0, v);
    const double* d0 = st.delta0_cat.data();
    EXPECT_DOUBLE_EQ(st.delta_cat[i], d0[i] + w_i * (cat[i] - d0[i]) + w_j * (cat[j] - d0[j]));
    // j and k share k's counts, pushed apart by the same draw
    const double spread_j = (st.delta_cat[j] - d0[j]) / (cat[k] - d0[k]);
    const double spread_k = (st.delta_cat[k] - d0[k]) / (cat[k] - d0[k]);
    EXPECT_NEAR(spread_j + spread_k, 2.0, 1e-12);
    EXPECT_LE(spread_j, 1.0);
  }
  EXPECT_DOUBLE_EQ((*st.block(0, 0).mu)[1], w_j * mu_j + w_i * mu_i);
  EXPECT_DOUBLE_EQ((*st.block(2, 0).mu)[1] + (*st.block(3, 0).mu)[1], 2 * mu_k);
  const double s0 = (*st.block(0, 0).sigma0)[0][1], s0j = (*st.block(2, 0).sigma0)[0][1];
  EXPECT_DOUBLE_EQ((*st.block(0, 0).sigma)[0][1], s0 + w_i * (sig_i - s0) + w_j * (sig_j - s0j));
  EXPECT_DOUBLE_EQ((*st.block(0, 0).sigma)[1][0], (*st.block(0, 0).sigma)[0][1]);
  EXPECT_EQ((*st.block(2, 0).sigma)[0][1], sig_k);
  // The precisions follow the new covariances.
  for (int k : {0, 2, 3}) {
    const VbBlock& blk = st.block(k, 0);
    const Matrix& a = *blk.sigma;
    const Matrix& w = *blk.w;
    EXPECT_NEAR(a[0][0] * w[0][1] + a[0][1] * w[1][1], 0.0, 1e-9);
    EXPECT_NEAR(blk.det_sigma, a[0][0] * a[1][1] - a[0][1] * a[1][0], 1e-9 * blk.det_sigma);
  }
  EXPECT_TRUE(same_bits(class1, class_values(st, 1)));
  free_vb_state(st);
}

TEST_F(Smem, CriteriaFromTheMemberships) {
  Shape shape;
  shape.discrete = {3, 2};
  shape.blocks = {2};
  shape.p_missing = 0.1;
  shape.lines = 60;
  VbData data(random_cases(shape), shape.n_attr(), shape.gauss());
  const VbContext& ctx = *data.ctx;
  VbState st = fitted_state(ctx, 3, 2, 5);
  Memberships mem = allocate_memberships(ctx.model, ctx.cases.n_entries, 3);
  VbPredictive pred;
  {
    StreamCapture quiet;
    compute_predictive(ctx, st, retained_scalars(st), pred, mem);
    compute_membership(ctx, pred, mem);
  }
  const std::vector<double> jm = compute_jmerge(ctx.cases, mem, false);
  const std::vector<double> jn = compute_jmerge(ctx.cases, mem, true);
  for (int i = 0; i < 3; ++i) {
    for (int j = i + 1; j < 3; ++j) {
      double sum = 0.0, ni = 0.0, nj = 0.0;
      for (int n = 0; n < mem.n_entries; ++n) {
        const double c = ctx.cases.entries[n].total;
        sum += c * mem.p_case[mem.at(n, i)] * mem.p_case[mem.at(n, j)];
        ni += c * mem.p_case[mem.at(n, i)] * mem.p_case[mem.at(n, i)];
        nj += c * mem.p_case[mem.at(n, j)] * mem.p_case[mem.at(n, j)];
      }
      EXPECT_NEAR(jm[i * 3 + j], sum, 1e-12);
      EXPECT_NEAR(jn[i * 3 + j], sum / std::sqrt(ni * nj), 1e-12);
      EXPECT_EQ(jm[j * 3 + i], 0.0);
    }
  }
  // Jsplit with ln P(x|k) summed from the value probabilities and the
  // block densities.
  const std::vector<double> js = compute_jsplit(mem);
  for (int k = 0; k < 3; ++k) {
    double s = 0.0, t = 0.0;
    for (int n = 0; n < mem.n_entries; ++n) {
      const CaseEntry& e = ctx.cases.entries[n];
      double l = 0.0;
      for (int j = 0; j < 2; ++j) {
        if (e.disc_missing()[j]) continue;
        const ValueMemberships& v = mem.values[j];
        l += std::log(v.p_value_given_class[k * v.n_values + e.codes()[j]]);
      }
      l += student_t_log_density_block(pred, k, 0, e);
      const double p = mem.p_case[mem.at(n, k)];
      s += p;
      t += p * (std::log(p) - std::max(l, std::log(1e-60)));
    }
    EXPECT_NEAR(js[k], t / s - std::log(s), 1e-9 * std::fabs(js[k]));
  }
  free_predictive(pred);
  free_vb_state(st);
}

// The engine over the test data.
struct Engine {
  explicit Engine(VbData& data) : fit(data.settings, data.model, data.cases, data.stats, data.views) {}
  VbFitEngine fit;
};

// A plain run of the engine's model at beta 1 from index 0; returns its
// final free energy.
double run_plain(const Settings& s, VbFitEngine& engine, int limit) {
  FitHistory h;
  const RunPlace place{&h, "Restart", 0};
  evaluate_start(s, engine, place, 0, 1.0);
  return h.at(run_stages(s, engine, place, 0, limit, 1.0).t);
}

// ---- runs -----------------------------------------------------------------------------

// Every candidate's partial run, from a model fitted to convergence, on
// every data shape: F never falls by more than rounding, in the partial run
// or in the full run after it (which would end the program).
TEST_F(Smem, FreeEnergyNeverFallsInPartialOrFullRuns) {
  double worst = -INFINITY;
  int runs = 0;
  for (const Named& c : shapes()) {
    VbData data(random_cases(c.shape), c.shape.n_attr(), c.shape.gauss());
    const VbContext& ctx = *data.ctx;
    for (unsigned seed : {1u, 2u}) {
      Engine e(data);
      VbState& st = e.fit.state();
      st = fitted_state(ctx, 4, seed, 60);
      VbStateSnapshot start;
      take_snapshot(st, start);
      const SmemCandidates list(4, std::vector<double>(16, 0.0), {0, 0, 0, 0});
      for (long long p = 0; p < list.size(); ++p) {
        SmemOperation op;
        StreamCapture capture;
        const int partial = run_partial(data.settings, e.fit, list.at(p), op.history, 500);
        const RunPlace place{&op.history, "SplitMergeOperation", 1, true};
        evaluate_start(data.settings, e.fit, place, partial, 1.0);
        const int q = run_stages(data.settings, e.fit, place, partial, 500, 1.0).t;
        EXPECT_EQ(capture.msg().find("(part)"), std::string::npos) << c.name << " " << capture.msg();
        for (int t = 1; t <= q; ++t) {
          if (t == partial) continue;  // the full run re-evaluates at its start
          worst = std::max(worst, op.history.at(t - 1) - op.history.at(t));
        }
        ++runs;
        restore_snapshot(start, st);
      }
    }
  }
  EXPECT_LE(worst, 1e-6);
  printf("%d candidates: largest fall of F in one update %.3g\n", runs, worst);
}

// Four well-separated groups; a start that covers two of them with one class
// and splits a third between two classes. Plain VBEM stays there;
// split-and-merge finds the four groups.
TEST_F(Smem, SplitAndMergeLeavesALocalOptimumThatPlainVbemKeeps) {
  const double centre[4][2] = {{0, 0}, {8, 0}, {0, 8}, {8, 8}};
  std::mt19937 gen(11);
  std::normal_distribution<double> noise(0.0, 0.8);
  std::string csv;
  for (int n = 0; n < 400; ++n) {
    const int g = n % 4;
    csv += std::to_string(centre[g][0] + noise(gen)) + "," + std::to_string(centre[g][1] + noise(gen)) + "\n";
  }
  VbData data(csv, 2, {"0,1"}, [](Settings& s) {
    s.n_sm = 5;
    s.min_sm_imp = 0.01;
  });
  const VbContext& ctx = *data.ctx;
  rng_seed(1);
  Engine e(data);
  VbState& st = e.fit.state();
  st = allocate_vb_state(ctx, 4);
  init_hparams_random(ctx, st);
  // Class 0 spans groups 0 and 1; classes 1 and 2 share group 2; class 3
  // holds group 3.
  const double start_mean[4][2] = {{4, 0}, {-0.5, 8}, {0.5, 8}, {8, 8}};
  const double start_var[4][2] = {{17, 0.7}, {0.6, 0.6}, {0.6, 0.6}, {0.6, 0.6}};
  const double size[4] = {200, 50, 50, 100};
  for (int k = 0; k < 4; ++k) {
    VbBlock& blk = st.block(k, 0);
    st.n_k[k] = size[k];
    st.delta[k] = st.delta0[k] + size[k];
    for (int d = 0; d < 2; ++d) {
      (*blk.mu)[d] = start_mean[k][d];
      for (int e = 0; e < 2; ++e) (*blk.sigma)[d][e] = (*blk.sigma0)[d][e] + (d == e ? size[k] * start_var[k][d] : 0.0);
    }
  }
  compute_hparam_precisions(st);

  StreamCapture capture;
  const double f_plain = run_plain(data.settings, e.fit, 3000);
  EXPECT_NEAR((*st.block(0, 0).mu)[0], 4.0, 0.5) << "the start is not a local optimum";

  // With every improving candidate refused for its class probabilities, the
  // model stays where it was.
  data.settings.min_new_c_param = 0.99;
  std::vector<SmemOperation> refused(1);
  VbStateSnapshot stuck;
  take_snapshot(st, stuck);
  const Everything before = everything(st);
  EXPECT_EQ(run_split_merge_operations(data.settings, e.fit, 1, refused, f_plain), f_plain);
  EXPECT_NE(capture.msg().find("<Too small split/merged class probabilities: "), std::string::npos);
  EXPECT_TRUE(before == everything(st));

  data.settings.min_new_c_param = 0.001;
  std::vector<SmemOperation> ops(1);
  const double f_smem = run_split_merge_operations(data.settings, e.fit, 5, ops, f_plain);
  printf("local optimum F = %.6f, after split-and-merge F = %.6f\n", f_plain, f_smem);
  EXPECT_GT(f_smem, f_plain + 50.0);
  EXPECT_GE(ops[1].updates, 1);
  // Every group has a class centred on it.
  for (const auto& g : centre) {
    bool found = false;
    for (int k = 0; k < 4; ++k) {
      const Vector& mu = *st.block(k, 0).mu;
      found = found || (std::fabs(mu[0] - g[0]) < 0.5 && std::fabs(mu[1] - g[1]) < 0.5);
    }
    EXPECT_TRUE(found) << "no class at (" << g[0] << ", " << g[1] << ")";
  }
  // The retained model's free energy is the last accepted one.
  e_step(ctx, st);
  EXPECT_NEAR(compute_free_energy(ctx, st), f_smem, 1e-9 * std::fabs(f_smem));
}

// ---- the walk over the candidates -------------------------------------------------

struct Walk {
  std::string msg;
  std::vector<SmemOperation> ops;
  double f_before = 0.0;
  double f_after = 0.0;
  bool unchanged = false;  // the state is bit for bit the one before
};

// Two operations from a converged K = 4 model on mixed data, with the
// settings changed by `tweak`.
Walk walk(const std::function<void(Settings&)>& tweak) {
  Shape shape;
  shape.discrete = {3, 2};
  shape.blocks = {2};
  VbData data(random_cases(shape), shape.n_attr(), shape.gauss(), tweak);
  const VbContext& ctx = *data.ctx;
  Engine e(data);
  VbState& st = e.fit.state();
  st = fitted_state(ctx, 4, 4, 200);
  Walk w;
  w.f_before = compute_free_energy(ctx, st);
  const Everything before = everything(st);
  w.ops.resize(1);
  StreamCapture capture;
  w.f_after = run_split_merge_operations(data.settings, e.fit, 2, w.ops, w.f_before);
  w.msg = capture.msg();
  w.unchanged = before == everything(st);
  return w;
}

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST_F(Smem, EveryRejectedCandidateIsUndoneBitForBit) {
  const Walk w = walk([](Settings& s) { s.min_sm_imp = 1e300; });
  EXPECT_EQ(w.ops[1].rejected, 12);
  EXPECT_EQ(w.ops[1].ignored, 0);
  EXPECT_EQ(w.ops[1].updates, 0);
  EXPECT_EQ(count(w.msg, "    -- Rejected ["), 12);
  EXPECT_EQ(count(w.msg, "<Too small improvement: ") + count(w.msg, "<No improvement>"), 12);
  EXPECT_NE(w.msg.find("  [Op=1]\r\n  <<All candidates are rejected>>\r\n"), std::string::npos);
  EXPECT_EQ(w.msg.find("[Op=2]"), std::string::npos);  // the phase ended
  EXPECT_EQ(w.ops.size(), 2u);
  EXPECT_TRUE(w.unchanged);
  EXPECT_EQ(w.f_after, w.f_before);
}

TEST_F(Smem, CandidateLimitEndsThePhase) {
  const Walk w = walk([](Settings& s) {
    s.min_sm_imp = 1e300;
    s.n_cand = 1;
  });
  EXPECT_EQ(w.ops[1].rejected, 1);
  EXPECT_NE(w.msg.find("  [Op=1]\r\n  <<The number of rejected split-merge candidates reached the limit>>\r\n"),
            std::string::npos);
  EXPECT_TRUE(w.unchanged);
}

TEST_F(Smem, OneSplitCandidatePerMergePair) {
  const Walk w = walk([](Settings& s) {
    s.min_sm_imp = 1e300;
    s.n_jsplit = 1;
  });
  EXPECT_EQ(w.ops[1].rejected, 6);  // one per pair
  EXPECT_EQ(w.ops[1].ignored, 6);
  EXPECT_NE(w.msg.find("    Candidate 10 (5 not skipped): Jmerge("), std::string::npos);
}

TEST_F(Smem, RareClassesAreIgnoredNotRejected) {
  const Walk w = walk([](Settings& s) { s.min_c_param = 0.99; });
  EXPECT_EQ(w.ops[1].rejected, 0);
  EXPECT_EQ(w.ops[1].ignored, 12);
  EXPECT_EQ(w.msg, "  [Op=1]\r\n  <<All candidates are rejected>>\r\n");
  EXPECT_TRUE(w.unchanged);
}

// ---- driver ----------------------------------------------------------------------------

// Restarts alone against restarts followed by split-and-merge, same seed:
// the kept model is never worse than the best restart.
TEST_F(Smem, KeptModelIsNeverWorseThanTheBestRestart) {
  Shape shape;
  shape.blocks = {2};
  shape.discrete = {3};
  shape.lines = 150;
  int better = 0;
  for (unsigned seed : {1u, 2u, 3u, 4u}) {
    double f[2] = {0.0, 0.0};
    for (int n_sm : {0, 3}) {
      VbData data(random_cases(shape), shape.n_attr(), shape.gauss(), [&](Settings& s) {
        s.n_sm = n_sm;
        s.restarts = 2;
        s.max_iter_restart = 5;
        s.seed_given = true;
        s.min_sm_imp = 10 * s.epsilon;
      });
      rng_seed(seed);
      Engine e(data);
      StreamCapture capture;
      e.fit.prepare(5);
      ClassCountFit fit;
      f[n_sm > 0] = fit_class_count(data.settings, e.fit, fit);
      if (n_sm > 0) {
        EXPECT_GE(f[1], fit.runs[fit.best_restart].objective) << "seed " << seed;
        EXPECT_NE(capture.log().find("#### ID:SMEM-STAT-SM-K5"), std::string::npos);
        EXPECT_EQ(capture.log().find("FREE-ENERGY-K5"), std::string::npos);
      }
    }
    printf("seed %u: restarts F = %.6f, with split-and-merge F = %.6f\n", seed, f[0], f[1]);
    if (f[1] > f[0] + 1e-3) ++better;
  }
  EXPECT_GE(better, 1);
}

}  // namespace
}  // namespace veska
