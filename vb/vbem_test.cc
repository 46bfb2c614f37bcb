#include "vb/vbem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "common/matrix.h"
#include "common/matrix_store.h"
#include "common/misc.h"
#include "common/random.h"
#include "common/workers.h"
#include "common/gamma_functions.h"
#include "output/section_writer.h"
#include "vb/vb_init.h"
#include "vb/vb_test_data.h"

namespace veska {
namespace {

using testing::random_cases;
using testing::run_capturing;
using testing::Shape;
using testing::VbData;

// The E-step and the free energy at the state's temperature, as the run loop
// evaluates them.
double evaluate(const VbContext& ctx, VbState& st) {
  const bool tempered = ctx.settings.daem && st.beta < 1.0;
  compute_expected_logs(ctx, st);
  if (tempered) {
    compute_complete_prob_daem(ctx, st);
  } else {
    compute_complete_prob(ctx, st);
  }
  compute_log_normalisers(ctx, st);
  return tempered ? compute_free_energy_daem(ctx, st) : compute_free_energy(ctx, st);
}

// One iteration in the run loop's order; returns the new free energy.
double iterate(const VbContext& ctx, VbState& st) {
  compute_responsibilities(ctx, st);
  compute_sufficient_stats(ctx, st);
  update_hparams(ctx, st);
  return evaluate(ctx, st);
}

// A state for K classes, randomly initialised from `seed` and evaluated.
VbState fresh_state(const VbContext& ctx, int K, unsigned seed) {
  rng_seed(seed);
  VbState st = allocate_vb_state(ctx, K);
  init_hparams_random(ctx, st);
  evaluate(ctx, st);
  return st;
}

double relative(double a, double b) { return std::fabs(a - b) / std::max(std::fabs(b), 1.0); }

// ---- monotonicity ---------------------------------------------------------

// Iterations at each inverse temperature in turn; returns the largest fall
// of F between two iterations at the same temperature (negative when F only
// rose). Every F must be finite.
double largest_fall(const VbContext& ctx, VbState& st, const std::vector<double>& betas, int iters) {
  double worst = -INFINITY;
  for (double beta : betas) {
    st.beta = beta;
    double f = evaluate(ctx, st);
    for (int i = 0; i < iters; ++i) {
      const double next = iterate(ctx, st);
      EXPECT_TRUE(std::isfinite(next));
      worst = std::max(worst, f - next);
      f = next;
    }
  }
  return worst;
}

struct Named {
  const char* name;
  Shape shape;
};

std::vector<Named> data_shapes() {
  std::vector<Named> out;
  Shape s;
  s.discrete = {3, 4, 2, 5};
  out.push_back({"discrete", s});
  s.p_missing = 0.15;
  out.push_back({"discrete, missing", s});
  s = Shape{};
  s.blocks = {4};  // above 3 x 3: the factorising inverses
  out.push_back({"one 4-d block", s});
  s.p_missing = 0.15;
  s.p_block_missing = 0.1;
  out.push_back({"one 4-d block, missing", s});
  s = Shape{};
  s.blocks = {1, 1, 1};
  out.push_back({"three 1-d blocks", s});
  s.p_missing = 0.2;
  out.push_back({"three 1-d blocks, missing", s});
  s = Shape{};
  s.discrete = {3, 2};
  s.blocks = {2, 1, 3};
  out.push_back({"mixed", s});
  s.p_missing = 0.15;
  s.p_block_missing = 0.1;
  out.push_back({"mixed, missing", s});
  s.lines = 20;  // few cases: classes run empty, posteriors stay near the priors
  s.p_missing = 0.35;
  s.p_block_missing = 0.3;
  out.push_back({"mixed, small, mostly missing", s});
  return out;
}

TEST(FreeEnergy, NeverFallsWithinOneTemperature) {
  double worst_overall = -INFINITY;
  for (const Named& c : data_shapes()) {
    for (bool daem : {false, true}) {
      VbData data(random_cases(c.shape), c.shape.n_attr(), c.shape.gauss(),
                  [daem](Settings& s) { s.daem = daem; });
      const std::vector<double> betas =
          daem ? std::vector<double>{0.1, 0.3, 0.6, 1.0} : std::vector<double>{1.0};
      for (int K = 2; K <= 6; ++K) {
        for (unsigned seed : {1u, 2u, 3u}) {
          VbState st = fresh_state(*data.ctx, K, seed);
          const double fall = largest_fall(*data.ctx, st, betas, daem ? 20 : 50);
          EXPECT_LE(fall, 1e-6) << c.name << (daem ? ", annealed" : "") << ", K=" << K
                                << ", seed=" << seed;
          worst_overall = std::max(worst_overall, fall);
          free_vb_state(st);
        }
      }
    }
  }
  printf("largest fall of F within one temperature: %.3g\n", worst_overall);
}

// The fit moves: F rises by a clear margin from the random start.
TEST(FreeEnergy, RisesFromTheRandomStart) {
  Shape s;
  s.discrete = {3, 2};
  s.blocks = {2};
  VbData data(random_cases(s), s.n_attr(), s.gauss());
  VbState st = fresh_state(*data.ctx, 3, 7);
  const double start = evaluate(*data.ctx, st);
  double f = start;
  for (int i = 0; i < 30; ++i) f = iterate(*data.ctx, st);
  EXPECT_GT(f - start, 1.0);
  free_vb_state(st);
}

// ---- the tempered forms at beta = 1 -----------------------------------------

TEST(Annealing, TemperedFormsAtBetaOneEqualThePlainOnes) {
  Shape s;
  s.discrete = {3, 2};
  s.blocks = {3, 1, 2};
  s.p_missing = 0.2;
  s.p_block_missing = 0.1;
  VbData data(random_cases(s), s.n_attr(), s.gauss(), [](Settings& x) { x.daem = true; });
  const VbContext& ctx = *data.ctx;
  VbState st = fresh_state(ctx, 3, 11);
  st.beta = 1.0;
  for (int i = 0; i < 3; ++i) iterate(ctx, st);

  compute_complete_prob(ctx, st);
  const std::vector<double> plain_rho = st.log_rho;
  compute_complete_prob_daem(ctx, st);
  for (size_t i = 0; i < plain_rho.size(); ++i) {
    ASSERT_LE(relative(st.log_rho[i], plain_rho[i]), 1e-12) << "log rho " << i;
  }

  compute_log_normalisers(ctx, st);
  EXPECT_LE(relative(compute_free_energy_daem(ctx, st), compute_free_energy(ctx, st)), 1e-12);

  compute_responsibilities(ctx, st);
  compute_sufficient_stats(ctx, st);  // tempered imputation: annealing is on
  std::vector<std::vector<double>> tempered;
  for (const VbMoments& b : st.moments) {
    tempered.emplace_back(b.s2->data, b.s2->data + b.s2->rows * b.s2->cols);
    tempered.back().insert(tempered.back().end(), b.s1->data, b.s1->data + b.s1->n);
  }
  data.settings.daem = false;
  compute_sufficient_stats(ctx, st);
  for (size_t i = 0; i < st.moments.size(); ++i) {
    const VbMoments& b = st.moments[i];
    std::vector<double> plain(b.s2->data, b.s2->data + b.s2->rows * b.s2->cols);
    plain.insert(plain.end(), b.s1->data, b.s1->data + b.s1->n);
    for (size_t j = 0; j < plain.size(); ++j) ASSERT_LE(relative(tempered[i][j], plain[j]), 1e-12);
  }
  free_vb_state(st);
}

// ---- compression ------------------------------------------------------------

TEST(Compression, CompressedAndUncompressedCasesGiveTheSameFreeEnergy) {
  Shape s;
  s.discrete = {3, 2, 2};
  s.lines = 300;
  s.p_missing = 0.1;
  const std::string text = random_cases(s);
  VbData packed(text, s.n_attr(), {});
  VbData plain(text, s.n_attr(), {}, [](Settings& x) { x.uncompress = true; });
  ASSERT_LT(packed.cases.n_entries, plain.cases.n_entries / 5);
  ASSERT_EQ(packed.cases.n_cases, plain.cases.n_cases);
  for (int K : {2, 4}) {
    VbState a = fresh_state(*packed.ctx, K, 5);
    VbState b = fresh_state(*plain.ctx, K, 5);
    for (int i = 0; i < 25; ++i) {
      const double fa = iterate(*packed.ctx, a);
      const double fb = iterate(*plain.ctx, b);
      ASSERT_LE(relative(fa, fb), 1e-9) << "K=" << K << ", iteration " << i;
    }
    free_vb_state(b);
    free_vb_state(a);
  }
}

// ---- single steps -------------------------------------------------------------

TEST(EStep, LogNormaliserAndResponsibilities) {
  VbData data("a\nb\nc\n", 1, {});
  VbState st = allocate_vb_state(*data.ctx, 3);
  ASSERT_EQ(st.n_entries, 3);
  // Entry 0: huge gap; entry 1: two equal leaders; entry 2: a class far below.
  const double rho[3][3] = {{0.0, -100.0, -2.0}, {-1.0, -1.0, -3.0}, {5.0, -60.0, 4.0}};
  for (int k = 0; k < 3; ++k) {
    for (int n = 0; n < 3; ++n) st.log_rho[st.entry_index(k, n)] = rho[n][k];
  }
  compute_log_normalisers(*data.ctx, st);
  compute_responsibilities(*data.ctx, st);
  const std::vector<double> log_z = log_normalisers(st);
  double entry_term = 0.0;
  for (int n = 0; n < 3; ++n) {
    const double z = std::log(std::exp(rho[n][0]) + std::exp(rho[n][1]) + std::exp(rho[n][2]));
    EXPECT_NEAR(log_z[n], z, 1e-12);
    entry_term += data.ctx->views.entry_count[n] * log_z[n];
  }
  EXPECT_EQ(st.entry_term, entry_term);
  // exp(-100 - ln Z) is below 1e-30 and is lifted to it, without renormalising.
  EXPECT_EQ(st.resp[st.entry_index(1, 0)], 1e-30);
  EXPECT_NEAR(st.resp[st.entry_index(0, 1)], st.resp[st.entry_index(1, 1)], 1e-15);
  EXPECT_NEAR(st.resp[st.entry_index(1, 2)], std::exp(-60.0 - log_z[2]), 1e-40);
  free_vb_state(st);
}

TEST(EStep, OneClassTakesEveryCase) {
  Shape s;
  s.discrete = {3};
  s.blocks = {2};
  s.p_missing = 0.2;
  VbData data(random_cases(s), s.n_attr(), s.gauss());
  VbState st = fresh_state(*data.ctx, 1, 3);
  for (int i = 0; i < 3; ++i) iterate(*data.ctx, st);
  compute_responsibilities(*data.ctx, st);
  for (double r : st.resp) EXPECT_DOUBLE_EQ(r, 1.0);
  compute_sufficient_stats(*data.ctx, st);
  EXPECT_DOUBLE_EQ(st.n_k[0], data.cases.n_cases);
  free_vb_state(st);
}

TEST(EStep, DiscreteOnlyDataCountsClasses) {
  Shape s;
  s.discrete = {3, 3};
  s.p_missing = 0.1;
  VbData data(random_cases(s), s.n_attr(), {});
  VbState st = fresh_state(*data.ctx, 2, 1);
  EXPECT_TRUE(st.blocks.empty());
  compute_responsibilities(*data.ctx, st);
  compute_sufficient_stats(*data.ctx, st);
  EXPECT_NEAR(st.n_k[0] + st.n_k[1], data.cases.n_cases, 1e-9);
  // Every observed value is counted once over the classes.
  for (int j = 0; j < 2; ++j) {
    double counted = 0.0;
    for (int k = 0; k < 2; ++k) {
      for (int v = 0; v < st.n_values[j]; ++v) counted += st.n_cat[st.cat_index(k, j, v)];
    }
    const int attr = data.model.discrete_attr[j];
    EXPECT_NEAR(counted, data.cases.n_cases - data.cases.missing_total[attr], 1e-9);
  }
  free_vb_state(st);
}

// An attribute whose every value is missing has no parameters: it adds
// nothing to log rho or to F.
TEST(EStep, AttributeNeverObserved) {
  VbData with("a,?,x\nb,?,y\na,?,y\nb,?,x\na,?,x\n", 3, {});
  VbData without("a,x\nb,y\na,y\nb,x\na,x\n", 2, {});
  ASSERT_EQ(with.model.values[1].n_values, 0);
  VbState a = fresh_state(*with.ctx, 2, 6);
  VbState b = fresh_state(*without.ctx, 2, 6);
  for (int i = 0; i < 5; ++i) {
    const double fa = iterate(*with.ctx, a);
    const double fb = iterate(*without.ctx, b);
    ASSERT_TRUE(std::isfinite(fa));
    EXPECT_NEAR(fa, fb, 1e-12 * std::fabs(fb));
  }
  free_vb_state(b);
  free_vb_state(a);
}

// A case whose whole block is missing contributes the expected log
// normaliser terms only, and its imputed moments are mu and mu mu' + Sigma/nu.
TEST(Imputation, WholeBlockMissing) {
  VbData data("1,2\n?,?\n3,1\n2,2\n0,1\n", 2, {"0,1"});
  VbState st = fresh_state(*data.ctx, 2, 4);
  for (int i = 0; i < 2; ++i) iterate(*data.ctx, st);
  compute_responsibilities(*data.ctx, st);
  compute_sufficient_stats(*data.ctx, st);  // sets N_k, which the imputation reads

  const int k = 1, n = 1;
  const VbBlock& blk = st.block(k, 0);
  VbMoments& mom = st.moments_of(k, 0);
  zero_vector(mom.s1);
  zero_matrix(mom.s2);
  const double w = 0.75;
  compute_expect_gauss0_nodaem(*data.ctx, st, k, n, w);
  const double nu = st.n_k[k] + st.alpha0[0];
  const Vector& c = *data.ctx->stats.groups[0].mean;  // the moments' centre
  for (int i = 0; i < 2; ++i) {
    EXPECT_NEAR((*mom.s1)[i], w * ((*blk.mu)[i] - c[i]), 1e-14);
    for (int j = i; j < 2; ++j) {
      const double want =
          w * (((*blk.mu)[i] - c[i]) * ((*blk.mu)[j] - c[j]) + (*blk.sigma)[i][j] / nu);
      EXPECT_NEAR((*mom.s2)[i][j], want, 1e-12);
    }
  }
  EXPECT_EQ((*mom.s2)[1][0], 0.0);  // only the upper triangle is collected

  // log rho = E[ln pi_k] - ln 2pi + A - [2 ln nu - 2 ln 2pi - ln|Sigma|] / 2, with
  // A = [psi(nu/2) + psi((nu-1)/2) + 2 ln 2 - ln|Sigma| - 2/tau] / 2.
  compute_expected_logs(*data.ctx, st);
  compute_complete_prob(*data.ctx, st);
  const double tau = st.n_k[k] + st.tau0;
  const double ln_det = std::log(blk.det_sigma);
  const double a = 0.5 * (digamma(nu / 2) + digamma((nu - 1) / 2) + 2 * std::log(2.0) - ln_det - 2 / tau);
  const double ln_2pi = std::log(2 * M_PI);
  const double want = st.e_log_pi[k] - ln_2pi + a - 0.5 * (2 * std::log(nu) - 2 * ln_2pi - ln_det);
  EXPECT_NEAR(st.log_rho[st.entry_index(k, n)], want, 1e-12);
  free_vb_state(st);
}


// One member of a three-dimensional block missing: the conditional mean and
// covariance of the missing member given the two observed ones.
TEST(Imputation, PartlyMissingBlock) {
  VbData data("1,2,0.5\n2,?,1.5\n3,1,1.0\n2,2,2.5\n0,1,0.2\n1.5,3,1.1\n", 3, {"0,1,2"});
  VbState st = fresh_state(*data.ctx, 2, 8);
  for (int i = 0; i < 2; ++i) iterate(*data.ctx, st);
  compute_responsibilities(*data.ctx, st);
  compute_sufficient_stats(*data.ctx, st);

  const int k = 0, n = 1;
  const VbBlock& blk = st.block(k, 0);
  VbMoments& mom = st.moments_of(k, 0);
  zero_vector(mom.s1);
  zero_matrix(mom.s2);
  const double w = 1.5;
  compute_expect_gauss0_nodaem(*data.ctx, st, k, n, w);

  // Observed o = {0, 2}, missing q = {1}.
  const Matrix& sg = *blk.sigma;
  const Vector& mu = *blk.mu;
  const double a = sg[0][0], b = sg[0][2], c = sg[2][2], det = a * c - b * b;
  const double inv[2][2] = {{c / det, -b / det}, {-b / det, a / det}};
  const double dev[2] = {2.0 - mu[0], 1.5 - mu[2]};
  const double s_qo[2] = {sg[1][0], sg[1][2]};
  double shift = 0.0, explained = 0.0;
  for (int i = 0; i < 2; ++i) {
    for (int j = 0; j < 2; ++j) {
      shift += s_qo[i] * inv[i][j] * dev[j];
      explained += s_qo[i] * inv[i][j] * s_qo[j];
    }
  }
  const double nu = st.n_k[k] + st.alpha0[0];
  const Vector& ctr = *data.ctx->stats.groups[0].mean;  // the moments' centre
  const double z[3] = {2.0 - ctr[0], mu[1] + shift - ctr[1], 1.5 - ctr[2]};
  const double r = (sg[1][1] - explained) / nu;
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR((*mom.s1)[i], w * z[i], 1e-12);
    for (int j = i; j < 3; ++j) {
      EXPECT_NEAR((*mom.s2)[i][j], w * (z[i] * z[j] + (i == 1 && j == 1 ? r : 0.0)), 1e-12)
          << i << "," << j;
    }
  }
  free_vb_state(st);
}

// An observed part of four members whose covariance is not positive
// definite stops every step that inverts it, each under its own name.
TEST(Imputation, ObservedPartThatCannotBeInverted) {
  Shape s;
  s.blocks = {5};
  s.lines = 40;
  VbData data(random_cases(s) + "1,2,?,4,5\n", 5, {"0,1,2,3,4"},
              [](Settings& x) { x.daem = true; });
  VbState st = fresh_state(*data.ctx, 2, 1);
  const int n = st.n_entries - 1;
  compute_responsibilities(*data.ctx, st);
  compute_sufficient_stats(*data.ctx, st);
  set_scaled_identity(st.block(0, 0).sigma, 1.0);
  (*st.block(0, 0).sigma)[0][0] = -1.0;
  const std::string tail = ": Failed to invert the covariances of the observed part\n";
  struct Step {
    const char* name;
    std::function<void()> run;
  };
  st.beta = 0.5;
  const Step steps[] = {
      {"compute_complete_prob", [&] { compute_complete_prob(*data.ctx, st); }},
      {"compute_complete_prob_daem", [&] { compute_complete_prob_daem(*data.ctx, st); }},
      {"compute_expect_gauss0_nodaem", [&] { compute_expect_gauss0_nodaem(*data.ctx, st, 0, n, 1.0); }},
      {"compute_expect_gauss0_daem", [&] { compute_expect_gauss0_daem(*data.ctx, st, 0, n, 1.0); }},
  };
  for (const Step& step : steps) {
    testing::FatalResult r = run_capturing(step.run);
    EXPECT_TRUE(r.exited) << step.name;
    EXPECT_EQ(r.log, std::string("Numerical error (") + step.name + ")" + tail);
  }
  free_vb_state(st);
}

// ---- allocation -----------------------------------------------------------------

// Once the shapes of the temporaries have been seen, iterations take nothing
// from the system through the store.
TEST(Iteration, SteadyStateTakesNoNewMemoryFromTheStore) {
  Shape s;
  s.discrete = {3};
  s.blocks = {3, 2};
  s.p_missing = 0.2;
  s.p_block_missing = 0.1;
  for (bool daem : {false, true}) {
    VbData data(random_cases(s), s.n_attr(), s.gauss(), [daem](Settings& x) { x.daem = daem; });
    VbState st = fresh_state(*data.ctx, 4, 2);
    st.beta = daem ? 0.5 : 1.0;
    for (int i = 0; i < 2; ++i) iterate(*data.ctx, st);
    const int64_t before = store_stats().system_allocations;
    for (int i = 0; i < 3; ++i) iterate(*data.ctx, st);
    EXPECT_EQ(store_stats().system_allocations, before);
    free_vb_state(st);
  }
}


// With --verbose each step leaves its results in the log, in the order of
// the iteration: responsibilities, statistics, hyperparameters, expected
// logs, log rho, log normalisers.
TEST(VerboseDumps, EachStepWritesItsDataMatrices) {
  set_conv_precision(6, 12);
  set_output_delimiter(',');
  section_writer_init();
  VbData data("a,x\nb,y\na,?\n", 2, {}, [](Settings& x) { x.verbose = true; });
  VbState st;
  run_capturing([&] { st = fresh_state(*data.ctx, 2, 1); });
  // The responsibilities the iteration starts from (its end leaves the next).
  const double resp_used = st.resp[st.entry_index(1, 2)];
  testing::FatalResult r = run_capturing([&] { iterate(*data.ctx, st); });
  ASSERT_FALSE(r.exited);

  std::vector<std::string> ids;
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < r.log.size()) {
    size_t end = r.log.find("\r\n", pos);
    ASSERT_NE(end, std::string::npos);
    lines.push_back(r.log.substr(pos, end - pos));
    if (lines.back().rfind("#### ID:", 0) == 0) ids.push_back(lines.back().substr(8));
    pos = end + 2;
  }
  const std::vector<std::string> want = {"COND",        "EXPECT-CLASS", "EXPECT-CAT0", "EXPECT-CAT1",
                                         "HPARAM-CLASS", "HPARAM-CAT0",  "HPARAM-CAT1", "PI-CLASS",
                                         "PI-CAT0",      "PI-CAT1",      "COMP",        "INCOMP"};
  EXPECT_EQ(ids, want);

  char row[200];
  auto has = [&lines](const char* text) {
    return std::find(lines.begin(), lines.end(), text) != lines.end();
  };
  EXPECT_TRUE(has("#### Class k, Case ID, Attr. values x1, x2, ..., xJ, Complete data prob. P(k,x)"));
  snprintf(row, sizeof row, "1,2,a,?,%.12g", st.log_rho[st.entry_index(1, 2)]);
  EXPECT_TRUE(has(row)) << row;
  snprintf(row, sizeof row, "1,b,y,%.12g", log_normalisers(st)[1]);
  EXPECT_TRUE(has(row)) << row;
  snprintf(row, sizeof row, "0,X0,1,b,%.12g", st.e_log_theta[st.cat_index(1, 0, 1)]);
  EXPECT_TRUE(has(row)) << row;
  snprintf(row, sizeof row, "1,X1,0,y,%.12g", st.n_cat[st.cat_index(0, 1, 1)]);
  EXPECT_TRUE(has(row)) << row;
  snprintf(row, sizeof row, "2,a,?,1,%.12g", resp_used);
  EXPECT_TRUE(has(row)) << row;
  free_vb_state(st);
}

// A normaliser that is not finite in two chunks far apart ends the run with
// the step's message whichever threads meet it, and the same iteration gives
// the same bits on any number of threads.
TEST(Threads, NumericalErrorInAChunkAndTheSameBits) {
  Shape s;
  s.discrete = {3};
  s.blocks = {2};
  s.lines = 7000;  // four chunks
  VbData data(random_cases(s), s.n_attr(), s.gauss());
  std::vector<double> first_f;
  for (int threads : {1, 2, 3, 7}) {
    start_workers(threads);
    VbState st = fresh_state(*data.ctx, 3, 4);
    for (int i = 0; i < 3; ++i) first_f.push_back(iterate(*data.ctx, st));
    EXPECT_EQ(first_f[first_f.size() - 3], first_f[0]) << threads;
    EXPECT_EQ(first_f.back(), first_f[2]) << threads;
    for (int n : {4500, 6900}) {
      for (int k = 0; k < 3; ++k) st.log_rho[st.entry_index(k, n)] = INFINITY;
    }
    const testing::FatalResult r = run_capturing([&] { compute_log_normalisers(*data.ctx, st); });
    EXPECT_TRUE(r.exited) << threads;
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.msg,
              "Numerical error (compute_log_normalisers): Log normaliser of a case is not finite\n");
    free_vb_state(st);
  }
  stop_workers();
}

}  // namespace
}  // namespace veska
