#include "fit/fit_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/misc.h"
#include "common/random.h"
#include "fit/scripted_engine.h"
#include "fit/split_merge.h"
#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::ScriptedEngine;
using testing::StreamCapture;

bool has(const std::vector<std::string>& calls, const std::string& what) {
  return std::find(calls.begin(), calls.end(), what) != calls.end();
}

class Driver : public ::testing::Test {
 protected:
  void SetUp() override {
    set_conv_precision(6, 12);
    s_.seed_given = true;
    s_.max_iter = 100;
    s_.n_class = 3;
  }
  Settings s_;
  ScriptedEngine e_;
};

// ---- restarts -------------------------------------------------------------------------

TEST_F(Driver, BestRestartKeptOnAStrictRiseTiesKeepTheEarlierAndItIsResumed) {
  s_.restarts = 3;
  e_.K = 3;
  e_.script = {-10, -5, -5,  // restart 0: F = -5
               -10, -3, -3,  // restart 1: F = -3, the best
               -20, -3, -3,  // restart 2: a tie, not kept
               -3, -2.9995};  // the resumed restart 1 from index 2
  ClassCountFit fit;
  StreamCapture capture;
  run_restarts(s_, e_, fit);
  EXPECT_EQ(fit.best_restart, 1);
  EXPECT_EQ(e_.model, 1) << "the best restart's model is the one resumed";
  ASSERT_EQ(fit.runs.size(), 3u);
  EXPECT_EQ(fit.runs[0].objective, -5);
  EXPECT_EQ(fit.runs[2].updates, 2);
  EXPECT_FALSE(fit.runs[0].seeded);
  // The history written is the best restart's, continued by the resumed run.
  EXPECT_EQ(e_.written_history, (std::vector<double>{-10, -3, -3, -2.9995}));
  EXPECT_EQ(capture.msg(),
            "  [0] #iters 0 (Converged: 2 iters)\tF=-5.000000\r\n"
            "  [1] #iters 0 (Converged: 2 iters)\tF=-3.000000\r\n"
            "  [2] #iters 0 (Converged: 2 iters)\tF=-3.000000\r\n"
            "  <<Resumed #1>>\r\n"
            "  [1] #iters  (Converged: 3 iters)\tF=-2.999500\r\n");
  EXPECT_TRUE(e_.script.empty());
}

TEST_F(Driver, ASingleRestartUsesTheFullLimitAndIsNotResumed) {
  s_.restarts = 1;
  s_.max_iter = 2;
  s_.max_iter_restart = 1;  // only for several restarts
  e_.script = {-10, -9, -8};
  ClassCountFit fit;
  StreamCapture capture;
  run_restarts(s_, e_, fit);
  EXPECT_EQ(capture.msg(), "  #iters 0 (Stopped: 2 iters)\tF=-8.000000\r\n");
  EXPECT_FALSE(has(e_.calls, "restore best 1"));
  EXPECT_EQ(e_.written_history.size(), 3u);
}

TEST_F(Driver, IterationLimitsOfRestartsAndSplitAndMerge) {
  struct Case {
    int restarts, max_iter, l, plain, smem_restart, smem_vb, smem_ml;
  };
  for (const Case& c : std::vector<Case>{{1, 100, 5, 100, 100, 100, 100},
                                         {3, 100, 5, 5, 5, 100, 5},
                                         {3, 100, 0, 100, 100, 100, 100},
                                         {3, 100, 100, 100, 100, 100, 100},
                                         {3, 100, 150, 100, 150, 100, 150},
                                         {3, 0, 20000, 10000, 20000, 10000, 20000}}) {
    s_.restarts = c.restarts;
    s_.max_iter = c.max_iter;
    s_.max_iter_restart = c.l;
    EXPECT_EQ(restart_limit(s_), c.plain) << c.l;
    FitRules ml;
    ml.smem_restart_limit_everywhere = true;
    EXPECT_EQ(smem_limits(s_, FitRules{}).restart, c.smem_restart) << c.l;
    EXPECT_EQ(smem_limits(s_, FitRules{}).candidate, c.smem_vb) << c.l;
    EXPECT_EQ(smem_limits(s_, ml).candidate, c.smem_ml) << c.l;
  }
}

TEST_F(Driver, EachRestartIsReseededFromTheStreamUnlessSeedIsGiven) {
  s_.seed_given = false;
  s_.restarts = 2;
  e_.script = {-1, -1, -1, -1, -1, -1};
  rng_seed(42);
  const uint32_t first = static_cast<uint32_t>(rng_u31());
  rng_seed(first);
  const uint32_t second = static_cast<uint32_t>(rng_u31());
  rng_seed(42);
  ClassCountFit fit;
  StreamCapture capture;
  run_restarts(s_, e_, fit);
  EXPECT_TRUE(fit.runs[0].seeded);
  EXPECT_EQ(fit.runs[0].seed, first);
  EXPECT_EQ(fit.runs[1].seed, second);
}

TEST_F(Driver, EveryRestartStartsFromThePartitionWhenTheEngineGivesOne) {
  s_.restarts = 2;
  e_.script = {-1, -1, -1, -1, -1, -1, -1};
  StreamCapture capture;
  ClassCountFit fit;
  run_restarts(s_, e_, fit);
  EXPECT_TRUE(e_.partition_starts.empty());
  EXPECT_EQ(e_.starts, 2);
  e_.groups = {0, 1, 1};
  e_.starts = 0;
  e_.script = {-1, -1, -1, -1, -1, -1, -1};
  run_restarts(s_, e_, fit);
  EXPECT_EQ(e_.partition_starts, (std::vector<std::vector<int>>{{0, 1, 1}, {0, 1, 1}}));
  EXPECT_EQ(e_.starts, 2);
}

// ---- class counts ---------------------------------------------------------------------

TEST_F(Driver, RangeKeepsTheStrictlyBestScoreAndTheSmallerKOnATie) {
  s_.k_range_given = true;
  s_.k_min = 2;
  s_.k_max = 4;
  s_.k_step = 1;
  e_.scores = {{2, -10}, {3, -5}, {4, -5}};
  e_.script = {-1, -1, -1, -1, -1, -1};
  StreamCapture capture;
  run_fit(s_, e_);
  EXPECT_EQ(e_.prepared, (std::vector<int>{2, 3, 4}));
  EXPECT_EQ(e_.range.k_opt, 3);
  EXPECT_EQ(e_.range.scores, (std::vector<double>{-10, -5, -5}));
  EXPECT_EQ(e_.range.fits[1].K, 3);
  EXPECT_EQ(e_.K, 3) << "the optimal model is restored";
  EXPECT_EQ(e_.model, 1) << "K = 3 came from the second start";
  EXPECT_TRUE(has(e_.calls, "restore opt 1"));
  const std::vector<std::string> tail(e_.calls.end() - 3, e_.calls.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"write_model", "post_analysis", "release"}));
  const std::string msg = capture.msg();
  EXPECT_NE(msg.find("|Classes| = 2:\r\n"), std::string::npos);
  EXPECT_NE(msg.find("  Score = -10.000000 (temporarily optimal)\r\n"), std::string::npos);
  EXPECT_NE(msg.find("  Score = -5.000000 (temporarily optimal)\r\n"), std::string::npos);
  EXPECT_NE(msg.find("  Score = -5.000000\r\nOptimal"), std::string::npos) << "K = 4 only ties";
  EXPECT_NE(msg.find("Optimal |Classes| = 3\r\n"), std::string::npos);
}

TEST_F(Driver, SingleClassCountTakesTheEnginesHeader) {
  e_.texts_value.single_k_header = "#classes = %d:\n";
  e_.scores = {{3, -7}};
  e_.script = {-1, -1};
  StreamCapture capture;
  const ClassRangeFit range = run_class_range(s_, e_);
  EXPECT_EQ(capture.msg(), "#classes = 3:\r\n  #iters 0 (Converged: 1 iters)\tF=-1.000000\r\n  Score = -7.000000\r\n");
  EXPECT_EQ(range.k_opt, 3);
  EXPECT_FALSE(has(e_.calls, "release")) << "a single K stays allocated";
}

TEST_F(Driver, WhichClassCountsRunSplitAndMerge) {
  FitRules vb, ml;
  ml.smem_min_classes_single = 2;
  s_.n_sm = 1;
  EXPECT_FALSE(uses_split_merge(s_, vb, 2));
  EXPECT_TRUE(uses_split_merge(s_, vb, 3));
  EXPECT_TRUE(uses_split_merge(s_, ml, 2));
  s_.k_range_given = true;
  EXPECT_FALSE(uses_split_merge(s_, ml, 2));
  EXPECT_TRUE(uses_split_merge(s_, ml, 3));
  s_.n_sm = 0;
  EXPECT_FALSE(uses_split_merge(s_, vb, 5));
}

// ---- split-and-merge ------------------------------------------------------------------

class SplitMerge : public Driver {
 protected:
  void SetUp() override {
    Driver::SetUp();
    s_.n_sm = 1;
    s_.min_sm_imp = 0.01;
    e_.K = 3;
    e_.probs = {0.3, 0.3, 0.4};
  }
};

TEST_F(SplitMerge, ARejectedCandidateIsUndoneAndAnImprovingOneAccepted) {
  e_.script = {-10, -5, -4.9995,  // the restart phase: converged on a rise
               -8, -7.9995,  // candidate 1: partial run
               -7, -6.9995,  // its full run, evaluated again at index 1: no gain
               -8, -7.9995,  // candidate 2
               -4, -3.9995};
  ClassCountFit fit;
  StreamCapture capture;
  run_split_merge(s_, e_, fit);
  const std::string msg = capture.msg();
  EXPECT_TRUE(e_.script.empty());
  EXPECT_NE(msg.find("  [0] #iters 0 (Converged: 2 iters)\tF=-4.999500\r\n"), std::string::npos);
  EXPECT_NE(msg.find("    #iters 0(C:1) (Converged: 2 iters)\tF=-6.999500\r\n"
                     "    -- Rejected [0,1]->[0] & [2]->[1,2] (F current: -6.999500 / last: -4.999500)\r\n"
                     "       <No improvement>\r\n"),
            std::string::npos)
      << msg;
  EXPECT_NE(msg.find("    -- Accepted "), std::string::npos);
  EXPECT_TRUE(has(e_.calls, "restore before 0"));
  ASSERT_EQ(e_.ops.size(), 2u);
  EXPECT_EQ(e_.ops[0].updates, 2);
  EXPECT_EQ(e_.ops[1].rejected, 1);
  EXPECT_EQ(e_.ops[1].partial_updates, 1);
  EXPECT_EQ(e_.ops[1].updates, 2);
  EXPECT_EQ(e_.ops[1].history.objective, (std::vector<double>{-8, -4, -3.9995})) << "trimmed";
}

TEST_F(SplitMerge, EngineRulesForTheFullRunAndTheAcceptance) {
  // The full run goes on from the partial run's evaluation, and acceptance
  // reads the class probabilities after the run.
  e_.rules_value.smem_full_run_evaluates = false;
  e_.rules_value.smem_accept_probs_after_run = true;
  e_.probs_before = {0.3, 0.3, 0.4};
  e_.probs = {0.3, 0.0005, 0.4};
  e_.texts_value.objective_letter = "L";
  s_.n_cand = 1;
  e_.script = {-10, -5, -4.9995, -8, -7.9995, -4, -3.9995};
  ClassCountFit fit;
  StreamCapture capture;
  run_split_merge(s_, e_, fit);
  EXPECT_TRUE(e_.script.empty());
  const std::string msg = capture.msg();
  EXPECT_NE(msg.find("    -- Rejected [0,1]->[0] & [2]->[1,2] (L current: -3.999500 / last: -4.999500)\r\n"
                     "       <Too small split/merged class probabilities: 0 - 0.300000, 1 - 0.000500, "
                     "2 - 0.400000>\r\n"
                     "  [Op=1]\r\n  <<The number of rejected split-merge candidates reached the limit>>\r\n"),
            std::string::npos)
      << msg;
  EXPECT_TRUE(e_.ops[1].history.objective.empty());
}

TEST_F(SplitMerge, SkipRulesCountIgnoredCandidates) {
  e_.probs = {0.0001, 0.0002, 0.5};  // classes 0 and 1 too rare to merge or split
  e_.script = {-10, -5, -4.9995};
  ClassCountFit fit;
  StreamCapture capture;
  run_split_merge(s_, e_, fit);
  EXPECT_EQ(e_.ops[1].ignored, 3);
  EXPECT_EQ(e_.candidates, 0);
  EXPECT_NE(capture.msg().find("  [Op=1]\r\n  <<All candidates are rejected>>\r\n"), std::string::npos);
}

TEST_F(SplitMerge, RestartLabelBeforeOrAfterTheStartByTheEnginesRule) {
  e_.announce_start = true;
  for (const bool before : {false, true}) {
    e_.rules_value.smem_label_before_start = before;
    e_.script = {-10, -5, -4.9995};
    e_.probs = {0.0001, 0.0002, 0.5};
    ClassCountFit fit;
    StreamCapture capture;
    run_split_merge(s_, e_, fit);
    const std::string msg = capture.msg();
    EXPECT_EQ(msg.rfind(before ? "  [0] #iters {start}0" : "{start}  [0] #iters 0", 0), 0u) << msg;
  }
}

}  // namespace
}  // namespace veska
