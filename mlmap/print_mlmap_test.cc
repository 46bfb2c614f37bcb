// The fitting data matrices in the words of the objective: MAP or ML
// labels, the annealing column and row, "N/A" for scores and seeds that do
// not exist.
#include "mlmap/print_mlmap.h"

#include "output/print_fit_tables.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "tests/support/test_support.h"

namespace veska {
namespace {

std::string written(const std::function<void(FILE*)>& write) { return testing::written_by(write); }

TEST(PrintMlmap, DecreaseScoreAndSeeds) {
  FitDecrease d;
  d.op = 1;
  d.t = 7;
  d.before = -10.5;
  d.after = -11.0;
  EXPECT_EQ(written([&](FILE* f) { print_ml_decrease(f, 3, d, false); }),
            "#### ID:ERR-MSG-DECREASE\r\n#### -- Log-likelihood decreased!\r\n####\r\n"
            "NumberOfClasses,3\r\nRestart,1\r\nNumberOfUpdates,7\r\n"
            "LogLikelihoodBeforeUpdate,-10.5\r\nLogLikelihoodAfterUpdate,-11\r\n");
  d.annealing = true;
  d.beta_after = 0.5;
  const std::string map = written([&](FILE* f) { print_ml_decrease(f, 3, d, true); });
  EXPECT_NE(map.find("-- Log posterior prob. decreased!\r\n"), std::string::npos);
  EXPECT_NE(map.find("LogPostProbAfterUpdate,-11\r\nInverseTemperature,0.5\r\n"), std::string::npos);

  EXPECT_EQ(written([](FILE* f) {
              print_ml_score(f, {{2, -5.25, true, -4.5}, {3, -6.0, false, 0.0}}, "BIC", 2);
            }),
            "#### ID:SCORE\r\n#### Num. of classes, BIC, AUTOCLASS\r\n"
            "#### -- Selected criterion = BIC\r\n#### -- Optimal num. of classes = 2\r\n####\r\n"
            "2,-5.25,-4.5\r\n3,-6,N/A\r\n");

  const std::string seeds = written([](FILE* f) {
    print_seeds(f, true, 4, 1, {{true, 123u, 9, -2.5}, {false, 0u, 12, -2.0}}, "Log a posteriori prob.");
  });
  EXPECT_NE(seeds.find("#### ID:SEED-K4\r\n"), std::string::npos);
  EXPECT_NE(seeds.find("Num. of updates, Log a posteriori prob.\r\n#### -- Best seed = 1\r\n"),
            std::string::npos);
  EXPECT_NE(seeds.find("4,0,123,9,-2.5\r\n4,1,N/A,12,-2\r\n"), std::string::npos);
}

TEST(PrintMlmap, LearningCurveColumns) {
  FitHistory h;
  h.loglike = {-3.0, -2.0};
  h.log_prior = {-1.0, -0.5};
  h.objective = {-4.0, -2.5};
  h.beta = {0.5, 1.0};
  EXPECT_EQ(written([&](FILE* f) { print_loglike(f, 2, h, false, false, 1); }),
            "#### ID:LOGLIKE-K2\r\n#### Num. of classes, Num. of updates, Log likelihood\r\n####\r\n"
            "2,0,-3\r\n2,1,-2\r\n");
  EXPECT_EQ(written([&](FILE* f) { print_loglike(f, 2, h, true, true, 1); }),
            "#### ID:LOGLIKE-K2\r\n#### Num. of classes, Num. of updates, Log likelihood, Log prior "
            "prob., Log a posteriori prob., Inverse temperature\r\n####\r\n"
            "2,0,-3,-1,-4,0.5\r\n2,1,-2,-0.5,-2.5,1\r\n");
}

}  // namespace
}  // namespace veska
