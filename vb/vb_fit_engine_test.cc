#include "vb/vb_fit_engine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <deque>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/matrix_store.h"
#include "common/misc.h"
#include "common/random.h"
#include "fit/run_loop.h"
#include "output/section_writer.h"
#include "tests/support/test_support.h"
#include "vb/vb_init.h"
#include "vb/vb_test_data.h"
#include "vb/vbem.h"

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

// The variational engine's reports with a scripted free energy in place of
// its maths.
class ScriptedVb : public VbFitEngine {
 public:
  using VbFitEngine::VbFitEngine;
  std::deque<double> script;
  bool update(double, int, double) override { return true; }
  FitObjective evaluate(double) override {
    if (script.empty()) throw std::runtime_error("script exhausted");
    const double f = script.front();
    script.pop_front();
    return {f, 0.0, 0.0};
  }
};

class VbReports : public ::testing::Test {
 protected:
  void SetUp() override {
    set_conv_precision(6, 12);
    set_output_delimiter(',');
    section_writer_init();
    engine_.state().K = 3;
  }
  Settings s_;
  AttrModel model_;
  CaseTable cases_;
  SampleStats stats_;
  EntryViews views_;
  ScriptedVb engine_{s_, model_, cases_, stats_, views_};
};

TEST_F(VbReports, AFallEndsTheRunWithTheLogSection) {
  FitHistory h;
  testing::FatalResult r = run_capturing([&] {
    engine_.script = {-10, -10.5};
    const RunPlace place{&h, "Restart", 1};
    evaluate_start(s_, engine_, place, 0, 1.0);
    run_stages(s_, engine_, place, 0, 100, 1.0);
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
  EXPECT_EQ(r.msg, "0" + message);
}

TEST_F(VbReports, AFallWithinOneTemperatureReportsBothTemperatures) {
  s_.daem = true;
  s_.prec_msg = 3;
  set_conv_precision(3, 12);
  FitHistory h;
  h.objective = {-5, -4.25, -4.5};
  h.beta = {0.5, 0.6, 0.6};
  testing::FatalResult r = run_capturing(
      [&] { check_decrease(s_, engine_, RunPlace{&h, "SplitMergeOperation", 2, true}, 2); });
  EXPECT_TRUE(r.exited);
  EXPECT_NE(r.log.find("SplitMergeOperation,2\r\nNumberOfUpdates,2\r\nFreeEnergyBeforeUpdate,-4.25\r\n"
                       "FreeEnergyAfterUpdate,-4.5\r\nInverseTemperature,0.6\r\n"),
            std::string::npos);
  EXPECT_EQ(r.msg,
            "\n(iter:2) Variational free energy decreased! (before: -4.250 (0.600) | after: -4.500 "
            "(0.600) | diff: 0.250) -- see the log file\n");
}

// The engine's own steps: once the first iterations have taken the store
// objects they need, further iterations allocate nothing, annealed or not.
TEST(VbEngine, IterationsAllocateNothing) {
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
    VbFitEngine engine(data.settings, data.model, data.cases, data.stats, data.views);
    engine.state() = allocate_vb_state(*data.ctx, 3);
    engine.random_start();
    FitHistory h;
    const RunPlace place{&h, "Restart", 0};
    const double beta = daem ? 0.5 : 1.0;
    evaluate_start(data.settings, engine, place, 0, beta);
    int t = run_stages(data.settings, engine, place, 0, 3, beta).t;

    const long before = g_allocations;
    const int64_t store_before = store_stats().system_allocations;
    // The limit bounds the index without annealing, the iterations of each
    // stage with it (five stages: 0.5, 0.6, 0.72, 0.864, 1).
    const int t0 = t;
    evaluate_start(data.settings, engine, place, t0, beta);
    t = run_stages(data.settings, engine, place, t0, daem ? 60 : t0 + 60, beta).t;
    EXPECT_GT(before, 0) << "the counter sees allocations";
    EXPECT_EQ(g_allocations - before, 0) << (daem ? "annealed" : "plain");
    EXPECT_EQ(store_stats().system_allocations - store_before, 0);
    EXPECT_EQ(t, t0 + (daem ? 5 * 60 : 60));
  }
}

// The engine's evaluation is the run loop's E-step and free energy: the
// plain forms at beta 1, the tempered ones below it with annealing.
TEST(VbEngine, EvaluationIsTheEStepAndTheFreeEnergyAtItsTemperature) {
  testing::Shape shape;
  shape.discrete = {3};
  shape.blocks = {2};
  testing::VbData data(testing::random_cases(shape), shape.n_attr(), shape.gauss(),
                       [](Settings& s) { s.daem = true; });
  const VbContext& ctx = *data.ctx;
  rng_seed(3);
  VbFitEngine engine(data.settings, data.model, data.cases, data.stats, data.views);
  VbState& st = engine.state();
  st = allocate_vb_state(ctx, 3);
  engine.random_start();
  for (double beta : {0.4, 1.0}) {
    const double f = engine.evaluate(beta).objective;
    st.beta = beta;
    compute_expected_logs(ctx, st);
    if (beta < 1.0) {
      compute_complete_prob_daem(ctx, st);
    } else {
      compute_complete_prob(ctx, st);
    }
    compute_log_normalisers(ctx, st);
    const double want = beta < 1.0 ? compute_free_energy_daem(ctx, st) : compute_free_energy(ctx, st);
    EXPECT_EQ(f, want) << beta;
  }
  engine.update(0.4, 0, 0.0);
  EXPECT_EQ(st.beta, 0.4);
  const double score = engine.score();
  EXPECT_EQ(score, compute_free_energy(ctx, st));
  EXPECT_EQ(st.beta, 1.0) << "the score is at beta 1";
}

}  // namespace
}  // namespace veska
