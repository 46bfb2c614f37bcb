#include "vb/vb_run_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "common/matrix_store.h"
#include "common/misc.h"
#include "common/random.h"
#include "output/section_writer.h"
#include "tests/support/test_support.h"
#include "vb/vb_init.h"
#include "vb/vb_test_data.h"

// Counts the allocations of this test binary, to show that the iterations
// of a run take no memory beyond the growth of the histories.
namespace {
std::atomic<long> g_allocations{0};
}  // namespace

// GCC pairs malloc/free against the replaced operators and warns wrongly.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t size) {
  ++g_allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace veska {
namespace {

using testing::run_capturing;

// The run loop driven by a script of free energies: each evaluation returns
// the next value and notes the inverse temperature it was asked for.
std::vector<double> g_script;
size_t g_next = 0;
std::vector<double> g_betas_seen;
int g_updates = 0;

void scripted_update(const VbContext&, VbState&) { ++g_updates; }

double scripted_evaluate(const VbContext&, VbState& st) {
  g_betas_seen.push_back(st.beta);
  if (g_next >= g_script.size()) throw std::runtime_error("script exhausted");
  return g_script[g_next++];
}

const VbemSteps kScripted{scripted_update, scripted_evaluate};

// Histories as a freshly allocated state has them.
void reset_histories(const Settings& s, VbState& st) {
  st.fe_history.assign(kHistoryCapacity, 0.0);
  st.beta_history.assign(s.daem ? kHistoryCapacity : 0, 0.0);
}

class RunLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    set_conv_precision(6, 12);
    set_output_delimiter(',');
    section_writer_init();
    g_script.clear();
    g_next = 0;
    g_betas_seen.clear();
    g_updates = 0;
    st_.K = 3;
  }

  // Runs the loop on `script` and returns what it wrote to the message
  // stream; the final index goes to *t.
  std::string run(const std::vector<double>& script, int t0, int limit, double beta_init, int* t,
                  int restart = 0) {
    g_script = script;
    g_next = 0;
    g_betas_seen.clear();
    g_updates = 0;
    reset_histories(s_, st_);
    testing::StreamCapture capture;
    *t = run_vbem(ctx_, st_, restart, t0, limit, beta_init, kScripted);
    EXPECT_EQ(g_next, script.size()) << "the whole script is used";
    return capture.msg();
  }

  Settings s_;
  AttrModel model_;
  CaseTable cases_;
  SampleStats stats_;
  VbContext ctx_{s_, model_, cases_, stats_};
  VbState st_;
};

TEST_F(RunLoop, ConvergesOnceTheGainIsBelowEpsilon) {
  int t = 0;
  EXPECT_EQ(run({-100, -50, -40, -39.9995}, 0, 100, 0.1, &t),
            "  #iters 0 (Converged: 3 iters)\tF=-39.999500\r\n");
  EXPECT_EQ(t, 3);
  EXPECT_EQ(g_updates, 3);
  EXPECT_EQ(st_.fe_history[3], -39.9995);
  EXPECT_EQ(g_betas_seen, std::vector<double>(4, 1.0)) << "beta_init is ignored without DAEM";
}

TEST_F(RunLoop, StoppingWinsWhenTheLimitCoincidesWithConvergence) {
  int t = 0;
  EXPECT_EQ(run({-100, -50, -40, -39.9995}, 0, 3, 0.1, &t),
            "  #iters 0 (Stopped: 3 iters)\tF=-39.999500\r\n");
  EXPECT_EQ(run({-100, -50}, 0, 1, 0.1, &t), "  #iters 0 (Stopped: 1 iters)\tF=-50.000000\r\n");
  EXPECT_EQ(t, 1);
}

TEST_F(RunLoop, ChangesBelowEpsilonEitherWayConvergeWithoutAnnealing) {
  int t = 0;
  EXPECT_EQ(run({-10, -10.0000008}, 0, 100, 1, &t),
            "  #iters 0 (Converged: 1 iters)\tF=-10.000001\r\n");
  s_.prec_msg = 2;
  set_conv_precision(2, 12);
  EXPECT_EQ(run({-10, -10}, 0, 100, 1, &t), "  #iters 0 (Converged: 1 iters)\tF=-10.00\r\n");
}

TEST_F(RunLoop, ProgressMarksAndRestartLabel) {
  s_.restarts = 3;
  std::vector<double> rising;
  for (int i = 0; i <= 120; ++i) rising.push_back(-1000.0 + i);
  int t = 0;
  EXPECT_EQ(run(rising, 0, 120, 1, &t, 2), "  [2] #iters 0....100 (Stopped: 120 iters)\tF=-880.000000\r\n");
}

TEST_F(RunLoop, ResumedRunCountsTheLimitFromIndexZero) {
  int t = 0;
  EXPECT_EQ(run({-10, -9, -8, -7}, 5, 8, 1, &t), "  #iters  (Stopped: 8 iters)\tF=-7.000000\r\n");
  EXPECT_EQ(g_updates, 3);
}

TEST_F(RunLoop, AnnealingPassesEachBoundedByTheLimit) {
  s_.daem = true;
  s_.beta_rate = 2;
  int t = 0;
  EXPECT_EQ(run({-70, -60, -50, -40, -30, -20, -10}, 0, 2, 0.25, &t),
            "  #iters *0** (Stopped: 6 iters)\tF=-10.000000\r\n");
  EXPECT_EQ(t, 6);
  std::vector<double> schedule = {0.25, 0.25, 0.25, 0.5, 0.5, 1, 1};
  EXPECT_EQ(g_betas_seen, schedule);
  EXPECT_EQ(std::vector<double>(st_.beta_history.begin(), st_.beta_history.begin() + 7), schedule);
  EXPECT_EQ(st_.beta, 1.0);
}

TEST_F(RunLoop, AnnealedPassesEndSilentlyAndATemperatureChangeNeitherConvergesNorFails) {
  s_.daem = true;
  s_.beta_rate = 2;
  int t = 0;
  // Index 2 ends the pass at 0.5; index 3 is the first at beta 1, lower than
  // index 2 by less than epsilon.
  EXPECT_EQ(run({-10, -9, -8.9995, -8.9996, -8.9992}, 0, 100, 0.5, &t),
            "  #iters *0* (Converged: 4 iters)\tF=-8.999200\r\n");
  EXPECT_EQ(run({-10, -9, -8.9995, -9.5, -9.4999}, 0, 100, 0.5, &t),
            "  #iters *0* (Converged: 4 iters)\tF=-9.499900\r\n");
}

TEST_F(RunLoop, AnnealingNeedsAPositiveGainToConverge) {
  s_.daem = true;
  int t = 0;
  EXPECT_EQ(run({-10, -10, -10, -10}, 0, 3, 1, &t), "  #iters 0 (Stopped: 3 iters)\tF=-10.000000\r\n");
}

TEST_F(RunLoop, InitialTemperatureOneIsASinglePlainPass) {
  s_.daem = true;
  int t = 0;
  EXPECT_EQ(run({-10, -9, -8.9995}, 0, 100, 1, &t),
            "  #iters 0 (Converged: 2 iters)\tF=-8.999500\r\n");
  EXPECT_EQ(g_betas_seen, std::vector<double>(3, 1.0));
  // A resumed run at temperature 1 is marked, since it does not start at 0.
  EXPECT_EQ(run({-8.9995, -8.9991}, 20, 100, 1, &t),
            "  #iters *. (Converged: 21 iters)\tF=-8.999100\r\n");
}

TEST_F(RunLoop, HistoriesDoubleWhenAnIndexReachesTheirCapacity) {
  s_.daem = true;
  int t = 0;
  run({-4, -3, -2, -1.9999}, kHistoryCapacity - 2, 100, 1, &t);
  EXPECT_EQ(t, kHistoryCapacity + 1);
  ASSERT_EQ(st_.fe_history.size(), 2u * kHistoryCapacity);
  ASSERT_EQ(st_.beta_history.size(), 2u * kHistoryCapacity);
  EXPECT_EQ(st_.fe_history[kHistoryCapacity - 2], -4);
  EXPECT_EQ(st_.fe_history[kHistoryCapacity], -2);
  EXPECT_EQ(st_.beta_history[kHistoryCapacity + 1], 1);
}

TEST_F(RunLoop, DecreaseEndsTheRunWithTheLogSection) {
  int t = 0;
  testing::FatalResult r = run_capturing([&] {
    g_script = {-10, -10.5};
    reset_histories(s_, st_);
    t = run_vbem(ctx_, st_, 1, 0, 100, 1, kScripted);
  });
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.status, 1);
  const std::string message =
      "\n(iter:1) Variational free energy decreased! (before: -10.000000 | after: -10.500000 | "
      "diff: 0.500000) -- see the log file\n";
  EXPECT_EQ(r.log,
            "#### ID:ERR-MSG-DECREASE\r\n#### -- Variational free energy decreased!\r\n####\r\n"
            "NumberOfClasses,3\r\nRestart,1\r\nNumberOfUpdates,1\r\n"
            "FreeEnergyBeforeUpdate,-10\r\nFreeEnergyAfterUpdate,-10.5\r\n"
            "InverseTemperature,0\r\n" +
                message);
  EXPECT_EQ(r.msg, "  #iters 0" + message);
}

TEST_F(RunLoop, DecreaseWithinOneTemperatureReportsBothTemperatures) {
  s_.daem = true;
  s_.prec_msg = 3;
  set_conv_precision(3, 12);
  st_.fe_history = {-5, -4.25, -4.5};
  st_.beta_history = {0.5, 0.6, 0.6};
  testing::FatalResult r = run_capturing([&] { check_free_energy_decrease(ctx_, st_, 0, 2); });
  EXPECT_TRUE(r.exited);
  EXPECT_NE(r.log.find("NumberOfUpdates,2\r\nFreeEnergyBeforeUpdate,-4.25\r\n"
                       "FreeEnergyAfterUpdate,-4.5\r\nInverseTemperature,0.6\r\n"),
            std::string::npos);
  EXPECT_EQ(r.msg,
            "\n(iter:2) Variational free energy decreased! (before: -4.250 (0.600) | after: -4.500 "
            "(0.600) | diff: 0.250) -- see the log file\n");

  // Across a temperature change, and within rounding, a fall is no error.
  st_.beta_history = {0.5, 0.5, 0.6};
  EXPECT_FALSE(run_capturing([&] { check_free_energy_decrease(ctx_, st_, 0, 2); }).exited);
  s_.daem = false;
  st_.fe_history = {-5, -4.25, -4.2500009};
  EXPECT_FALSE(run_capturing([&] { check_free_energy_decrease(ctx_, st_, 0, 2); }).exited);
}

// The engine's own steps: once the first iterations have taken the store
// objects they need, further iterations allocate nothing, annealed or not.
TEST(RunLoopEngine, IterationsAllocateNothing) {
  testing::Shape shape;
  shape.discrete = {3, 4};
  shape.blocks = {3, 1};
  shape.p_missing = 0.1;
  shape.p_block_missing = 0.05;
  for (bool daem : {false, true}) {
    testing::VbData data(testing::random_cases(shape), shape.n_attr(), shape.gauss(),
                         [daem](Settings& s) {
                           s.daem = daem;
                           s.epsilon = -1;  // never converged: every iteration runs
                         });
    testing::StreamCapture capture;
    rng_seed(5);
    VbState st = allocate_vb_state(*data.ctx, 3);
    init_hparams_random(*data.ctx, st);
    int t = run_vbem(*data.ctx, st, 0, 0, 3, daem ? 0.5 : 1.0);

    const long before = g_allocations;
    const int64_t store_before = store_stats().system_allocations;
    // The limit bounds the index without annealing, the iterations of each
    // pass with it (five passes: 0.5, 0.6, 0.72, 0.864, 1).
    const int t0 = t;
    t = run_vbem(*data.ctx, st, 0, t0, daem ? 60 : t0 + 60, daem ? 0.5 : 1.0);
    EXPECT_GT(before, 0) << "the counter sees allocations";
    EXPECT_EQ(g_allocations - before, 0) << (daem ? "annealed" : "plain");
    EXPECT_EQ(store_stats().system_allocations - store_before, 0);
    EXPECT_EQ(t, t0 + (daem ? 5 * 60 : 60));
    free_vb_state(st);
  }
}

}  // namespace
}  // namespace veska
