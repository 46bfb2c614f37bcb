// The engine's own duties around the steps: a singular update keeps the
// parameters the last objective belongs to; a log-likelihood that is not
// finite writes the parameters to the log before the run ends; the
// memberships are consistent distributions.
#include "mlmap/ml_engine.h"

#include <gtest/gtest.h>

#include <cmath>

#include "common/random.h"
#include "mlmap/ml_fit_engine.h"
#include "mlmap/ml_test_fit.h"

namespace veska {
namespace {

using testing::CaseData;

// Three identical points next to a spread: a class sitting on the three
// collapses onto them.
const char kCollapse[] = "5,5\n5,5\n5,5\n1,2\n2,0\n0,1\n3,4\n4,1\n2,3\n1,4\n";

TEST(MlEngine, SingularUpdateKeepsTheEvaluatedParameters) {
  CaseData data(kCollapse, 2, {"0,1"}, [](Settings& s) { testing::ml_settings(s); });
  MlEngine engine(data.settings, data.model, data.cases, data.stats);
  engine.start_class_count(2);
  MlParams p = engine.params();
  p.pi = {0.5, 0.5};
  p.mean = {2.0, 2.0, 5.0, 5.0};
  p.covar = {2.0, 0.0, 0.0, 2.0, 1e-4, 0.0, 0.0, 1e-4};
  recompute_precisions(engine.layout(), p);
  engine.set_params(p);
  const MlObjective before = engine.evaluate(1.0);
  const SingularBlock s = engine.update();
  ASSERT_TRUE(s.found);
  EXPECT_EQ(s.k, 1);
  EXPECT_EQ(engine.params().covar, p.covar);
  EXPECT_EQ(engine.params().mean, p.mean);
  EXPECT_EQ(engine.evaluate(1.0).objective, before.objective);
}

TEST(MlEngine, NonFiniteLogLikelihoodWritesTheParametersFirst) {
  CaseData data(kCollapse, 2, {"0,1"}, [](Settings& s) { testing::ml_settings(s); });
  MlEngine engine(data.settings, data.model, data.cases, data.stats);
  engine.start_class_count(2);
  MlParams p = engine.params();
  p.pi = {0.5, 0.5};
  p.mean = {1e6, 1e6, -1e6, -1e6};  // every density underflows to 0
  p.covar = {1e-3, 0.0, 0.0, 1e-3, 1e-3, 0.0, 0.0, 1e-3};
  recompute_precisions(engine.layout(), p);
  engine.set_params(p);
  auto res = veska::testing::run_capturing([&] { engine.evaluate(1.0); });
  ASSERT_TRUE(res.exited);
  EXPECT_EQ(res.status, 1);
  const size_t params = res.log.find("#### ID:PARAM-GAUSS-COVAR0");
  const size_t message = res.log.find("Computed log-likelihood is not finite -- see the log file");
  ASSERT_NE(params, std::string::npos);
  ASSERT_NE(message, std::string::npos);
  EXPECT_LT(params, message);
}

// Five EM iterations of three classes from the start of seed 8.
void fit_three_classes(MlEngine& engine) {
  engine.start_class_count(3);
  rng_seed(8);
  engine.initialise();
  for (int t = 0; t < 5; ++t) {
    engine.evaluate(1.0);
    engine.update();
  }
}

TEST(MlEngine, MembershipsAreDistributions) {
  const testing::Shape shape{{3, 2}, {2, 1}, 80, 0.1, 0.05};
  CaseData data(testing::random_cases(shape), shape.n_attr(), shape.gauss(),
              [](Settings& s) { testing::map_settings(s); });
  MlEngine engine(data.settings, data.model, data.cases, data.stats);
  fit_three_classes(engine);
  const Memberships mem = engine.memberships();
  for (int n = 0; n < mem.n_entries; ++n) {
    double sum = 0.0, marginal = 0.0;
    for (int k = 0; k < 3; ++k) {
      sum += mem.p_case[mem.at(n, k)];
      marginal += mem.p_class[k] * mem.p_component[mem.at(n, k)];
    }
    EXPECT_NEAR(sum, 1.0, 1e-12);
    EXPECT_NEAR(marginal, mem.p_marginal[n], 1e-12 * mem.p_marginal[n]);
    for (const BlockMemberships& b : mem.blocks) {
      double s = 0.0;
      for (int k = 0; k < 3; ++k) s += b.p_class_given_block[mem.at(n, k)];
      EXPECT_NEAR(s, 1.0, 1e-12);
    }
  }
  for (const ValueMemberships& v : mem.values) {
    double total = 0.0;
    for (int code = 0; code < v.n_values; ++code) total += v.p_value[code];
    EXPECT_NEAR(total, 1.0, 1e-12);
  }
}

// The arrays the post-analysis asks for hold the values of the full
// computation: the same bits, and for a lone block the case's values, which
// the block's own formula gives to a few ulps.
TEST(MlEngine, LeanAndSharedMembershipsKeepTheFullValues) {
  for (const bool block_only : {false, true}) {
    SCOPED_TRACE(block_only);
    const testing::Shape shape = block_only ? testing::Shape{{}, {3}, 80, 0.1, 0.05}
                                            : testing::Shape{{3, 2}, {2, 1}, 80, 0.1, 0.05};
    CaseData data(testing::random_cases(shape), shape.n_attr(), shape.gauss(),
                  [](Settings& s) { testing::map_settings(s); });
    MlEngine engine(data.settings, data.model, data.cases, data.stats);
    fit_three_classes(engine);
    const MlParams fitted = engine.params();
    const Memberships full = engine.memberships();
    for (const bool densities : {false, true}) {
      engine.start_class_count(3, false);  // the last call took the work's arrays
      engine.set_params(fitted);
      data.settings.mem_prob = densities;
      const Memberships lean = engine.memberships(analysis_needs(data.settings));
      ASSERT_EQ(lean.blocks_share_case, block_only);
      EXPECT_EQ(lean.p_case, full.p_case);
      EXPECT_EQ(lean.p_component, densities ? full.p_component : std::vector<double>{});
      EXPECT_EQ(lean.p_marginal, densities ? full.p_marginal : std::vector<double>{});
      for (size_t b = 0; b < full.blocks.size(); ++b) {
        const BlockMemberships& f = full.blocks[b];
        const int g = static_cast<int>(b);
        if (!block_only) {
          EXPECT_EQ(lean.class_given_block(g), f.p_class_given_block);
          if (densities) {
            EXPECT_EQ(lean.block_given_class(g), f.p_block_given_class);
            EXPECT_EQ(lean.block_marginal(g), f.p_block);
          }
          continue;
        }
        EXPECT_TRUE(lean.blocks[b].p_class_given_block.empty());
        for (size_t i = 0; i < f.p_class_given_block.size(); ++i) {
          EXPECT_NEAR(lean.class_given_block(g)[i], f.p_class_given_block[i], 1e-13);
          if (densities) {
            EXPECT_NEAR(lean.block_given_class(g)[i], f.p_block_given_class[i],
                        1e-12 * f.p_block_given_class[i]);
          }
        }
      }
    }
  }
}

TEST(MlFitEngine, AFallOfTheObjectiveIsReportedInItsWords) {
  CaseData data(kCollapse, 2, {"0,1"}, [](Settings& s) { testing::ml_settings(s); });
  MlFitEngine engine(data.settings, data.model, data.cases, data.stats);
  engine.prepare(2);
  rng_seed(1);
  engine.random_start();
  FitDecrease d;
  d.op = 2;
  d.t = 9;
  d.before = -10.25;
  d.after = -10.5;
  auto res = veska::testing::run_capturing([&] { engine.report_decrease(d); });
  ASSERT_TRUE(res.exited);
  EXPECT_EQ(res.msg, " (iter:9) LL or LPost decreased! (before: -10.250000 | after: -10.500000 | "
                     "diff: 0.250000) -- see the log file\n");
  const size_t report = res.log.find("#### ID:ERR-MSG-DECREASE\r\n#### -- Log-likelihood decreased!");
  const size_t params = res.log.find("#### ID:PARAM-CLASS");
  EXPECT_NE(report, std::string::npos);
  EXPECT_NE(params, std::string::npos);
  EXPECT_LT(report, params);
  EXPECT_NE(res.log.find("Restart,2\r\nNumberOfUpdates,9\r\n"), std::string::npos);

  d.annealing = true;
  d.beta_before = 0.5;
  d.beta_after = 0.5;
  res = veska::testing::run_capturing([&] { engine.report_decrease(d); });
  EXPECT_EQ(res.msg, " (iter:9) LL or LPost decreased! (before: -10.250000 (0.500000) | after: "
                     "-10.500000 (0.500000) | diff: 0.250000) -- see the log file\n");
}

}  // namespace
}  // namespace veska
