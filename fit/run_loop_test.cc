#include "fit/run_loop.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/misc.h"
#include "fit/scripted_engine.h"
#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::Decreased;
using testing::ScriptedEngine;

// The stages of one run driven by a script of objectives.
class RunLoop : public ::testing::Test {
 protected:
  void SetUp() override { set_conv_precision(6, 12); }

  // Runs from t0 on `script` and returns what it wrote to the message
  // stream; the final index goes to *t.
  std::string run(const std::vector<double>& script, int t0, int limit, double beta_init, int* t,
                  bool smem = false, int op = 0) {
    e_ = ScriptedEngine{};
    e_.script.assign(script.begin(), script.end());
    h_ = FitHistory{};
    testing::StreamCapture capture;
    const RunPlace place{&h_, smem ? "SplitMergeOperation" : "Restart", op, smem};
    const double beta = start_beta(s_, beta_init);
    evaluate_start(s_, e_, place, t0, beta);
    end_ = run_stages(s_, e_, place, t0, limit, beta);
    *t = end_.t;
    EXPECT_TRUE(e_.script.empty()) << "the whole script is used";
    return capture.msg();
  }

  Settings s_;
  ScriptedEngine e_;
  FitHistory h_;
  RunEnd end_{0, 0.0};
};

TEST_F(RunLoop, ConvergesOnceTheGainIsBelowEpsilon) {
  int t = 0;
  EXPECT_EQ(run({-100, -50, -40, -39.9995}, 0, 100, 0.1, &t), "0 (Converged: 3 iters)\tF=-39.999500\r\n");
  EXPECT_EQ(t, 3);
  EXPECT_EQ(e_.updates, 3);
  EXPECT_EQ(h_.at(3), -39.9995);
  EXPECT_EQ(e_.betas_seen, std::vector<double>(4, 1.0)) << "beta_init is ignored without DAEM";
  e_.texts_value.objective_letter = "L";
  e_.script = {-1, -1};
  testing::StreamCapture capture;
  const RunPlace place{&h_, "Restart", 0};
  evaluate_start(s_, e_, place, 0, 1.0);
  run_stages(s_, e_, place, 0, 100, 1.0);
  EXPECT_EQ(capture.msg(), "0 (Converged: 1 iters)\tL=-1.000000\r\n") << "the engine's letter";
}

TEST_F(RunLoop, StoppingWinsWhenTheLimitCoincidesWithConvergence) {
  int t = 0;
  EXPECT_EQ(run({-100, -50, -40, -39.9995}, 0, 3, 0.1, &t), "0 (Stopped: 3 iters)\tF=-39.999500\r\n");
  EXPECT_EQ(run({-100, -50}, 0, 1, 0.1, &t), "0 (Stopped: 1 iters)\tF=-50.000000\r\n");
  EXPECT_EQ(t, 1);
}

TEST_F(RunLoop, ChangesBelowEpsilonEitherWayConvergeWithoutAnnealing) {
  int t = 0;
  EXPECT_EQ(run({-10, -10.0000008}, 0, 100, 1, &t), "0 (Converged: 1 iters)\tF=-10.000001\r\n");
  set_conv_precision(2, 12);
  EXPECT_EQ(run({-10, -10}, 0, 100, 1, &t), "0 (Converged: 1 iters)\tF=-10.00\r\n");
}

TEST_F(RunLoop, SplitMergeRunsConvergeOnlyOnARise) {
  int t = 0;
  EXPECT_EQ(run({-10, -10.0000008, -10.0000004}, 0, 100, 1, &t, true, 1),
            "0 (Converged: 2 iters)\tF=-10.000000\r\n");
  EXPECT_EQ(t, 2);
}

TEST_F(RunLoop, ProgressMarks) {
  std::vector<double> rising;
  for (int i = 0; i <= 120; ++i) rising.push_back(-1000.0 + i);
  int t = 0;
  EXPECT_EQ(run(rising, 0, 120, 1, &t), "0....100 (Stopped: 120 iters)\tF=-880.000000\r\n");
}

TEST_F(RunLoop, ResumedRunCountsTheLimitFromIndexZero) {
  int t = 0;
  EXPECT_EQ(run({-10, -9, -8, -7}, 5, 8, 1, &t), " (Stopped: 8 iters)\tF=-7.000000\r\n");
  EXPECT_EQ(e_.updates, 3);
}

TEST_F(RunLoop, AnnealingStagesEachBoundedByTheLimit) {
  s_.daem = true;
  s_.beta_rate = 2;
  int t = 0;
  EXPECT_EQ(run({-70, -60, -50, -40, -30, -20, -10}, 0, 2, 0.25, &t), "*0** (Stopped: 6 iters)\tF=-10.000000\r\n");
  EXPECT_EQ(t, 6);
  const std::vector<double> schedule = {0.25, 0.25, 0.25, 0.5, 0.5, 1, 1};
  EXPECT_EQ(e_.betas_seen, schedule);
  EXPECT_EQ(std::vector<double>(h_.beta.begin(), h_.beta.begin() + 7), schedule);
  EXPECT_EQ(end_.beta, 1.0);
  // The split-and-merge operations mark no stage; the restart phase does.
  EXPECT_EQ(run({-70, -60, -50, -40, -30, -20, -10}, 0, 2, 0.25, &t, true, 1), "0 (Stopped: 6 iters)\tF=-10.000000\r\n");
  EXPECT_EQ(run({-70, -60, -50, -40, -30, -20, -10}, 0, 2, 0.25, &t, true, 0), "*0** (Stopped: 6 iters)\tF=-10.000000\r\n");
}

TEST_F(RunLoop, AnnealedStagesEndSilentlyAndATemperatureChangeNeitherConvergesNorFails) {
  s_.daem = true;
  s_.beta_rate = 2;
  int t = 0;
  // Index 2 ends the stage at 0.5; index 3 is the first at beta 1, lower than
  // index 2 by less than epsilon.
  EXPECT_EQ(run({-10, -9, -8.9995, -8.9996, -8.9992}, 0, 100, 0.5, &t), "*0* (Converged: 4 iters)\tF=-8.999200\r\n");
  EXPECT_EQ(run({-10, -9, -8.9995, -9.5, -9.4999}, 0, 100, 0.5, &t), "*0* (Converged: 4 iters)\tF=-9.499900\r\n");
}

TEST_F(RunLoop, AnnealingConvergesOnARiseBelowEpsilonOrNoChangeButNotOnAFall) {
  s_.daem = true;
  int t = 0;
  // An objective that no longer changes at all converges at once instead of
  // running to the limit.
  EXPECT_EQ(run({-10, -10}, 0, 3, 1, &t), "0 (Converged: 1 iters)\tF=-10.000000\r\n");
  EXPECT_EQ(run({-10, -10.0000004, -10.0000008, -10.0000009}, 0, 3, 1, &t),
            "0 (Stopped: 3 iters)\tF=-10.000001\r\n");
}

TEST_F(RunLoop, InitialTemperatureOneIsASinglePlainStage) {
  s_.daem = true;
  int t = 0;
  EXPECT_EQ(run({-10, -9, -8.9995}, 0, 100, 1, &t), "0 (Converged: 2 iters)\tF=-8.999500\r\n");
  EXPECT_EQ(e_.betas_seen, std::vector<double>(3, 1.0));
  // A resumed run at temperature 1 is marked, since it does not start at 0.
  EXPECT_EQ(run({-8.9995, -8.9991}, 20, 100, 1, &t), "*. (Converged: 21 iters)\tF=-8.999100\r\n");
}

TEST_F(RunLoop, AnEngineStopEndsTheStageWithoutAnEvaluation) {
  e_ = ScriptedEngine{};
  // Without annealing the stop ends the run at the index it was asked at.
  s_.daem = false;
  e_.script = {-10, -9};
  e_.refused_updates = {2};
  h_ = FitHistory{};
  testing::StreamCapture capture;
  const RunPlace place{&h_, "Restart", 0};
  evaluate_start(s_, e_, place, 0, 1.0);
  EXPECT_EQ(run_stages(s_, e_, place, 0, 100, 1.0).t, 1);
  // With annealing below 1 the next stage begins.
  s_.daem = true;
  s_.beta_rate = 2;
  e_.script = {-10, -9, -8, -7.9995};
  e_.refused_updates = {4};
  e_.betas_seen.clear();
  evaluate_start(s_, e_, place, 0, 0.5);
  const RunEnd end = run_stages(s_, e_, place, 0, 100, 0.5);
  EXPECT_EQ(end.t, 3);
  EXPECT_EQ(end.beta, 1.0);
  EXPECT_EQ(e_.betas_seen, (std::vector<double>{0.5, 0.5, 1, 1}));
  EXPECT_EQ(capture.msg(), "0*0* (Converged: 3 iters)\tF=-7.999500\r\n");
}

TEST_F(RunLoop, HistoriesDoubleWhenAnIndexReachesTheirCapacity) {
  s_.daem = true;
  int t = 0;
  run({-4, -3, -2, -1.9999}, kHistoryCapacity - 2, 100, 1, &t);
  EXPECT_EQ(t, kHistoryCapacity + 1);
  ASSERT_EQ(h_.objective.size(), 2u * kHistoryCapacity);
  ASSERT_EQ(h_.beta.size(), 2u * kHistoryCapacity);
  EXPECT_TRUE(h_.loglike.empty()) << "kept only by engines that ask";
  EXPECT_EQ(h_.at(kHistoryCapacity - 2), -4);
  EXPECT_EQ(h_.at(kHistoryCapacity), -2);
  EXPECT_EQ(h_.beta_at(kHistoryCapacity + 1), 1);

  FitHistory parts;
  parts.record(3, {-5.0, -4.0, -1.0}, 1.0, false, true);
  EXPECT_EQ(parts.loglike.size(), static_cast<size_t>(kHistoryCapacity));
  EXPECT_EQ(parts.log_prior[3], -1.0);
  parts.trim(3, false, true);
  EXPECT_EQ(parts.objective.size(), 4u);
  EXPECT_EQ(parts.loglike.size(), 4u);
}

TEST_F(RunLoop, AFallWithinOneTemperatureGoesToTheEngine) {
  int t = 0;
  try {
    run({-10, -10.5}, 0, 100, 1, &t, true, 4);
    FAIL() << "no decrease reported";
  } catch (const Decreased& x) {
    EXPECT_EQ(std::string(x.d.op_label), "SplitMergeOperation");
    EXPECT_EQ(x.d.op, 4);
    EXPECT_TRUE(x.d.smem);
    EXPECT_EQ(x.d.t, 1);
    EXPECT_EQ(x.d.before, -10);
    EXPECT_EQ(x.d.after, -10.5);
    EXPECT_FALSE(x.d.annealing);
  }
  s_.daem = true;
  h_ = FitHistory{};
  h_.objective = {-5, -4.25, -4.5};
  h_.beta = {0.5, 0.6, 0.6};
  const RunPlace place{&h_, "Restart", 2};
  try {
    check_decrease(s_, e_, place, 2);
    FAIL() << "no decrease reported";
  } catch (const Decreased& x) {
    EXPECT_EQ(x.d.beta_before, 0.6);
    EXPECT_EQ(x.d.beta_after, 0.6);
    EXPECT_TRUE(x.d.annealing);
  }
  // Across a temperature change, and within rounding, a fall is no error.
  h_.beta = {0.5, 0.5, 0.6};
  EXPECT_NO_THROW(check_decrease(s_, e_, place, 2));
  s_.daem = false;
  h_.objective = {-5, -4.25, -4.2500009};
  EXPECT_NO_THROW(check_decrease(s_, e_, place, 2));
}

}  // namespace
}  // namespace veska
