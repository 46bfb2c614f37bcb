// rumel's files, written by hand to the layout its log, SCORE, LOGLIKE and
// parameter file have; rumelvb's are checked on real output in the e2e test.
#include "report/read_run.h"

#include <cmath>
#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::run_capturing;
using testing::TempDir;
using testing::write_file;

// Lines end in LF alone here; CR LF is the section reader's test.
// Two-class MAP fit with annealing over K = 2..3: attribute 0 discrete,
// attributes 1 and 2 one Gauss block, attribute 3 ignored.
std::string rumel_log(const std::string& loglike_id, const std::string& loglike_rows) {
  return (
      "#### ID:SETTING-VERSION\n#### Version\n####\n0.7\n"
      "#### ID:SETTING-FUNCTION\n#### Major function, Enabled/Disabled\n####\nReading parameters,Disabled\n"
      "Reading hyperparameters,Disabled\nMember distributions,Disabled\nClustering,Enabled\n"
      "Deterministic annealing EM,Enabled\nSplit-merge EM,Disabled\n"
      "#### ID:SETTING-MODEL-BASE\n#### Model specification\n####\nNum of classes [min],2\nNum of attributes,4\n"
      "ID attribute,(none)\nAnswer class attribute,(none)\nIgnored attributes,3\nDiscrete attributes,0\n"
      "Continuous attributes,1,2\nAttributes in Gauss0,1,2\nDimension of Gauss0,2\n"
      "#### ID:SETTING-SELECT\n#### Control parameter, Value\n####\nModel score,AUTOCLASS\n"
      "#### ID:DATASIZE\n####\n6,6,6\n" +
      loglike_id + "\n####\n" + loglike_rows +
      "#### ID:LOGLIKE-K3\n####\n3,0,-5,-1,-6,1\n"
      "#### ID:SCORE\n#### Num. of classes, BIC, AUTOCLASS\n#### -- Selected criterion = AUTOCLASS\n"
      "#### -- Optimal num. of classes = 2\n####\n2,-20.5,-18.25\n3,-22,N/A\n"
      "#### ID:SEED-K2\n####\n2,0,N/A,3,-7.5\n2,1,N/A,5,-6.5\n"
      "#### ID:SEED-K3\n####\n3,0,N/A,1,-6\n"
      "#### ID:CLUSTER-FREQ-CASE\n####\n0,4\n1,2\n"
      "#### ID:CLUSTER-FREQ-CAT0\n####\n0,color,0,2\n0,color,1,1\n"
      "#### ID:CLUSTER-FREQ-GAUSS0\n####\n0,0,4\n0,1,2\n");
}

const char kParam[] =
    "#### ID:PARAM-CLASS\n####\n0,0.625\n1,0.375\n"
    "#### ID:PARAM-CAT0\n####\n0,color,0,blue,0.5\n0,color,0,red,dark,0.25\n0,color,0,white,0.25\n"
    "0,color,1,blue,0.1\n0,color,1,red,dark,0.2\n0,color,1,white,0.7\n"
    "#### ID:PARAM-GAUSS-MEAN0\n####\n0,0,1,h,1.5\n0,0,2,w,-2\n0,1,1,h,3\n0,1,2,w,4\n"
    "#### ID:PARAM-GAUSS-COVAR0\n####\n0,0,1,1,h,h,4\n0,0,1,2,h,w,0.5\n0,0,2,2,w,w,0.25\n"
    "0,1,1,1,h,h,9\n0,1,1,2,h,w,0\n0,1,2,2,w,w,1\n";

TEST(ReadRun, RumelScoresCurveRestartsAndParameters) {
  TempDir dir;
  // MAP with annealing: K, update, log likelihood, log prior, log posterior, beta.
  write_file(dir.file("m_log.csv"), rumel_log("#### ID:LOGLIKE-K2", "2,0,-9,-1,-10,0.5\n2,1,-7,-1,-8,0.5\n2,2,-5.5,-1,-6.5,1\n"));
  write_file(dir.file("m_param.csv"), std::string(kParam));
  ReportSettings settings;
  settings.base = dir.file("m");
  RunData run = read_run(settings);

  EXPECT_EQ(run.program, "rumel");
  EXPECT_TRUE(run.fitted);
  EXPECT_EQ(run.chosen_k, 2);
  EXPECT_EQ(run.criterion, "AUTOCLASS");
  ASSERT_EQ(run.scores.size(), 2u);
  EXPECT_EQ(run.scores[0].k, (std::vector<int>{2, 3}));
  EXPECT_EQ(run.scores[0].value, (std::vector<double>{-20.5, -22}));
  // K = 3 has no Cheeseman-Stutz score: no point rather than a zero.
  EXPECT_EQ(run.scores[1].k, (std::vector<int>{2}));
  EXPECT_EQ(run.scores[1].value, (std::vector<double>{-18.25}));

  EXPECT_EQ(run.curve.objective, "Log a posteriori prob.");
  EXPECT_EQ(run.curve.value, (std::vector<double>{-10, -8, -6.5}));
  EXPECT_EQ(run.curve.beta, (std::vector<double>{0.5, 0.5, 1}));
  EXPECT_TRUE(run.curve.operation.empty());
  ASSERT_EQ(run.restarts.size(), 2u);  // only those of the chosen K
  EXPECT_EQ(run.restarts[1].objective, run.curve.value.back());
  EXPECT_EQ(run.restarts[1].seed, "N/A");

  EXPECT_EQ(run.layout.shown(), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(run.class_weights, (std::vector<double>{0.625, 0.375}));
  ASSERT_EQ(run.discrete.size(), 1u);
  // A value name holding the delimiter is put back together.
  EXPECT_EQ(run.discrete[0].values, (std::vector<std::string>{"blue", "red,dark", "white"}));
  EXPECT_EQ(run.discrete[0].prob[1], (std::vector<double>{0.1, 0.2, 0.7}));
  ASSERT_EQ(run.blocks.size(), 1u);
  EXPECT_EQ(run.blocks[0].names, (std::vector<std::string>{"h", "w"}));
  EXPECT_EQ(run.blocks[0].mean[1], (std::vector<double>{3, 4}));
  // Parameters are covariances: the deviation is their root as it stands.
  EXPECT_EQ(run.blocks[0].sd[0], (std::vector<double>{2, 0.5}));
  EXPECT_EQ(run.blocks[0].sd[1], (std::vector<double>{3, 1}));
}

TEST(ReadRun, RumelMaximumLikelihoodAndSplitMergeCurves) {
  TempDir dir;
  ReportSettings settings;
  settings.base = dir.file("m");
  // ML with annealing: K, update, log likelihood, beta.
  write_file(dir.file("m_log.csv"), rumel_log("#### ID:LOGLIKE-K2", "2,0,-9,0.5\n2,1,-6.5,1\n"));
  RunData ml = read_run(settings);
  EXPECT_EQ(ml.curve.objective, "Log likelihood");
  EXPECT_EQ(ml.curve.value, (std::vector<double>{-9, -6.5}));
  EXPECT_TRUE(ml.blocks.empty());  // no parameter file: no model pictures

  // Split-and-merge: the operation number follows K.
  write_file(dir.file("m_log.csv"),
             rumel_log("#### ID:LOGLIKE-SMEM-K2", "2,0,0,-9,-1,-10,1\n2,0,1,-8,-1,-9,1\n2,1,0,-7,-1,-8,1\n"));
  RunData smem = read_run(settings);
  EXPECT_EQ(smem.curve.operation, (std::vector<int>{0, 0, 1}));
  EXPECT_EQ(smem.curve.update, (std::vector<int>{0, 1, 0}));
  EXPECT_EQ(smem.curve.value, (std::vector<double>{-10, -9, -8}));

  // A row whose width fits neither ML nor MAP is refused.
  write_file(dir.file("m_log.csv"), rumel_log("#### ID:LOGLIKE-K2", "2,0,-9,-1,0.5\n"));
  auto r = run_capturing([&] { read_run(settings); });
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.status, 1);
}

TEST(ReadRun, FilesThatDisagreeOrStopShortAreRefused) {
  TempDir dir;
  ReportSettings settings;
  settings.base = dir.file("m");
  std::string log = rumel_log("#### ID:LOGLIKE-K2", "2,0,-9,-1,-10,1\n");
  std::string cut_log = log.substr(0, log.find("#### ID:CLUSTER-FREQ-GAUSS0"));
  std::string param = std::string(kParam);
  std::string three_classes = (std::string(kParam).replace(0, 43, "#### ID:PARAM-CLASS\n####\n0,0.5\n1,0.25\n2,0.25\n"));
  std::string bad_value = param;
  bad_value.replace(bad_value.find("0.7"), 3, "0.x");
  struct Case {
    std::string log, param;
  } cases[] = {
      {cut_log, param},          // the log lacks the last cluster sizes
      {log, three_classes},      // the parameter file is of another K
      {log, bad_value},          // a probability that is not a number
      {log, param.substr(0, param.size() - 40)},  // the parameter file stops short
  };
  for (const Case& c : cases) {
    write_file(dir.file("m_log.csv"), c.log);
    write_file(dir.file("m_param.csv"), c.param);
    auto r = run_capturing([&] { read_run(settings); });
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, 1);
  }
}

}  // namespace
}  // namespace veska
