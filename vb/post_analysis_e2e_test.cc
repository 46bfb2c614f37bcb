// The post-analysis as a user runs it: membership, predictive, cluster,
// rank and evaluation files of a small mixed case, byte for byte, under the
// options that shape them; the fatal path of each output file; and the
// shipped examples.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::read_file;
using testing::run_program;
using testing::RunResult;
using testing::TempDir;
using testing::write_file;

// A discrete attribute, a two-attribute block with missing values and the
// answer class: two well-separated groups. Case 7 has no block value at all.
const char kMixedCases[] =
    "a,1.0,1.1,yes\n"
    "a,1.2,0.9,yes\n"
    "a,0.8,1.0,yes\n"
    "b,?,1.2,yes\n"
    "b,5.0,5.2,no\n"
    "b,5.1,4.8,no\n"
    "a,4.9,5.0,no\n"
    "b,?,?,no\n";

// The fit every test below shares: one seed, a narrow covariance prior so
// that the eight cases form two groups, four significant digits.
const std::vector<std::string> kMixedFit = {"-f", "d", "-k", "2", "-x", "4", "-u", "1,2",
                                            "-E", "3", "--seed", "3", "-L", "const:0.1",
                                            "--prec-out", "4"};

// Expected files, written with LF line ends and comma-separated fields.
const char kMixedMemp[] = R"(#### ID:MEMBER-CASE
#### Case ID, Answer class, Attr. values x1, x2, ..., xJ, Class k, Class prob. P(k), Component prob. P(x|k), Marginal prob. P(x), Membership prob. P(k|x)
####
0,yes,a,1,1.1,0,0.541,2.144,1.16,1
0,yes,a,1,1.1,1,0.459,6.171e-08,1.16,2.442e-08
1,yes,a,1.2,0.9,0,0.541,1.035,0.5598,1
1,yes,a,1.2,0.9,1,0.459,6.526e-08,0.5598,5.35e-08
2,yes,a,0.8,1,0,0.541,1.314,0.7108,1
2,yes,a,0.8,1,1,0.459,4.764e-08,0.7108,3.076e-08
3,yes,b,?,1.2,0,0.541,0.5312,0.2874,1
3,yes,b,?,1.2,1,0.459,1.353e-05,0.2874,2.161e-05
4,no,b,5,5.2,0,0.541,9.261e-09,0.6194,8.089e-09
4,no,b,5,5.2,1,0.459,1.35,0.6194,1
5,no,b,5.1,4.8,0,0.541,1.311e-08,0.5592,1.268e-08
5,no,b,5.1,4.8,1,0.459,1.218,0.5592,1
6,no,a,4.9,5,0,0.541,2.052e-08,0.4677,2.374e-08
6,no,a,4.9,5,1,0.459,1.019,0.4677,1
7,no,b,?,?,0,0.541,0.3766,0.4973,0.4097
7,no,b,?,?,1,0.459,0.6395,0.4973,0.5903
#### ID:MEMBER-CAT0
#### Attr. ID, Attr. name, Attr. value x0, Class k, Class prob. P(k), Component prob. P(x0|k), Marginal prob. P(x0), Membership prob. P(k|x0)
####
0,X0,a,0,0.541,0.6234,0.5027,0.6709
0,X0,a,1,0.459,0.3605,0.5027,0.3291
0,X0,b,0,0.541,0.3766,0.4973,0.4097
0,X0,b,1,0.459,0.6395,0.4973,0.5903
#### ID:MEMBER-GAUSS0
#### Gauss ID, Case ID, Attr. x1, Attr. x2, Class k, Class prob. P(k), Component prob. P(Gauss0|k), Marginal prob. P(Gauss0), Membership prob. P(k|Gauss0)
####
0,0,1,1.1,0,0.541,3.439,1.861,1
0,0,1,1.1,1,0.459,1.712e-07,1.861,4.223e-08
0,1,1.2,0.9,0,0.541,1.66,0.898,1
0,1,1.2,0.9,1,0.459,1.81e-07,0.898,9.254e-08
0,2,0.8,1,0,0.541,2.107,1.14,1
0,2,0.8,1,1,0.459,1.322e-07,1.14,5.32e-08
0,3,?,1.2,0,0.541,1.411,0.7633,1
0,3,?,1.2,1,0.459,2.116e-05,0.7633,1.273e-05
0,4,5,5.2,0,0.541,2.459e-08,0.9686,1.374e-08
0,4,5,5.2,1,0.459,2.11,0.9686,1
0,5,5.1,4.8,0,0.541,3.482e-08,0.8744,2.154e-08
0,5,5.1,4.8,1,0.459,1.905,0.8744,1
0,6,4.9,5,0,0.541,3.292e-08,1.298,1.373e-08
0,6,4.9,5,1,0.459,2.827,1.298,1
0,7,?,?,0,0.541,1,1,0.541
0,7,?,?,1,0.459,1,1,0.459
)";

const char kMixedPredict[] = R"(#### ID:PREDICT-CLASS
#### Class k, Class predictive prob. P(k)
####
0,0.541
1,0.459
#### ID:PREDICT-CAT0
#### Attr. ID, Attr. name, Class k, Attr. value x0, Attr. predictive prob. P(x0|k)
####
0,X0,0,a,0.6234
0,X0,0,b,0.3766
0,X0,1,a,0.3605
0,X0,1,b,0.6395
#### ID:PREDICT-GAUSS-MEAN0
#### Gauss ID, Class k, Attr. ID, Attr. name, Mean
####
0,0,1,X1,0.9956
0,0,2,X2,1.05
0,1,1,X1,4.999
0,1,2,X2,4.999
#### ID:PREDICT-GAUSS-COVAR0
#### Gauss ID, Class k, Attr. ID, Attr. ID, Attr. name, Attr. name, (Co)Variance
####
0,0,1,1,X1,X1,0.05339
0,0,1,2,X1,X2,-0.004802
0,0,2,2,X2,X2,0.03696
0,1,1,1,X1,X1,0.03877
0,1,1,2,X1,X2,-0.004748
0,1,2,2,X2,X2,0.0577
#### ID:PREDICT-GAUSS-DOF0
#### Gauss ID, Class k, Degrees of freedom
####
0,0,5.417
0,1,4.583
)";

const char kMixedCluster[] = R"(#### ID:CLUSTER-CASE-BY-CASE
#### Case ID, Answer class, Cluster k, Attr. values x1, x2, ..., xJ, Membership prob. P(k|x)
####
0,yes,0,a,1,1.1,1
1,yes,0,a,1.2,0.9,1
2,yes,0,a,0.8,1,1
3,yes,0,b,?,1.2,1
4,no,1,b,5,5.2,1
5,no,1,b,5.1,4.8,1
6,no,1,a,4.9,5,1
7,no,1,b,?,?,0.5903
#### ID:CLUSTER-CASE-BY-CLUSTER
#### Cluster k, Answer class, Case ID, Attr. values x1, x2, ..., xJ, Membership prob. P(k|x)
####
0,yes,0,a,1,1.1,1
0,yes,1,a,1.2,0.9,1
0,yes,2,a,0.8,1,1
0,yes,3,b,?,1.2,1
1,no,4,b,5,5.2,1
1,no,5,b,5.1,4.8,1
1,no,6,a,4.9,5,1
1,no,7,b,?,?,0.5903
#### ID:CLUSTER-CAT0-BY-ATT
#### Attr. ID, Attr. name, Attr. x0, Cluster k, Membership prob. P(k|x0)
####
0,X0,a,0,0.6709
0,X0,b,1,0.5903
#### ID:CLUSTER-CAT0-BY-CLUSTER
#### Attr. ID, Attr. name, Cluster k, Attr. x0, Membership prob. P(k|x0)
####
0,X0,0,a,0.6709
0,X0,1,b,0.5903
#### ID:CLUSTER-GAUSS0-BY-ATT
#### Gauss ID, Case ID, Attr. x1, Attr. x2, Cluster k, Membership prob. P(k|Gauss0)
####
0,0,1,1.1,0,1
0,1,1.2,0.9,0,1
0,2,0.8,1,0,1
0,3,?,1.2,0,1
0,4,5,5.2,1,1
0,5,5.1,4.8,1,1
0,6,4.9,5,1,1
0,7,?,?,0,0.541
#### ID:CLUSTER-GAUSS0-BY-CLUSTER
#### Gauss ID, Cluster k, Case ID, Attr. x1, Attr. x2, Membership prob. P(k|Gauss0)
####
0,0,0,1,1.1,1
0,0,1,1.2,0.9,1
0,0,2,0.8,1,1
0,0,3,?,1.2,1
0,0,7,?,?,0.541
0,1,4,5,5.2,1
0,1,5,5.1,4.8,1
0,1,6,4.9,5,1
)";

const char kMixedEval[] = R"(#### ID:EVAL-PURITY
#### Evaluation measure, Value
#### -- Weight in F-measure of Purity = 2
####
Purity,1
Inverse Purity,1
F-Purity,1
#### ID:EVAL-RAND
#### Evaluation measure, Value
#### -- Weight in F-measure of Wallance's measures = 1
####
Rand index,1
Wallance's measure I,1
Wallance's measure II,1
F-measure of Wallance's measures,1
Fowlkes and Mallows index,1
Adjusted Rand index,1
Jaccard index,1
Mirkin metric,0
#### ID:EVAL-NMI
#### Evaluation measure, Value
####
Normalized mutual information,1
Variation of information,0
Normalized variation of information,0
#### ID:CLUSTER-MATCH-BY-PREDICTED
#### Cluster k [predicted], Answer class, Num. of matched cases
####
0,yes,4
0,no,0
1,yes,0
1,no,4
#### ID:CLUSTER-MATCH-BY-ANSWER
#### Answer class, Cluster k [predicted], Num. of matched cases
####
yes,0,4
yes,1,0
no,0,0
no,1,4
)";

const char kMixedRank[] = R"(#### ID:RANK-CASE
#### Class k, Answer class, Case ID, Attr. values x1, x2, ..., xJ, Class prob. P(k), Membership prob. P(k|x)
#### -- in the decending order of the class probs. and the membership probs.
####
0,yes,0,a,1,1.1,0.541,1
0,yes,2,a,0.8,1,0.541,1
1,no,4,b,5,5.2,0.459,1
1,no,5,b,5.1,4.8,0.459,1
#### ID:RANK-CAT0
#### Attr. ID, Attr. name, Class k, Attr. value x0, Class prob. P(k), Membership prob. P(k|x0)
#### -- in the decending order of the class probs. and the membership probs.
####
0,X0,0,a,0.541,0.6709
0,X0,0,b,0.541,0.4097
0,X0,1,b,0.459,0.5903
0,X0,1,a,0.459,0.3291
#### ID:RANK-GAUSS0
#### Gauss ID, Class k, Case ID, Attr. x1, Attr. x2, Class prob. P(k), Membership prob. P(k|Gauss0)
#### -- in the decending order of the class probs. and the membership probs.
####
0,0,0,1,1.1,0.541,1
0,0,2,0.8,1,0.541,1
0,1,6,4.9,5,0.459,1
0,1,4,5,5.2,0.459,1
)";

const char kMixedClusterSizes[] = R"(#### ID:CLUSTER-FREQ-CASE
#### Cluster for cases, Cluster size
####
0,4
1,4
#### ID:CLUSTER-FREQ-CAT0
#### Attr. ID, Attr. name, Cluster for attr. 0, Cluster size
####
0,X0,0,1
0,X0,1,1
#### ID:CLUSTER-FREQ-GAUSS0
#### Gauss ID, Cluster for Gauss0, Cluster size
####
0,0,5
0,1,3
)";

const char kHiddenMemp[] = R"(#### ID:MEMBER-CASE
#### Case ID, Answer class, Class k, Class prob. P(k), Component prob. P(x|k), Marginal prob. P(x), Membership prob. P(k|x)
####
0,yes,0,0.541,2.144,1.16,1
0,yes,1,0.459,6.171e-08,1.16,2.442e-08
1,yes,0,0.541,1.035,0.5598,1
1,yes,1,0.459,6.526e-08,0.5598,5.35e-08
2,yes,0,0.541,1.314,0.7108,1
2,yes,1,0.459,4.764e-08,0.7108,3.076e-08
3,yes,0,0.541,0.5312,0.2874,1
3,yes,1,0.459,1.353e-05,0.2874,2.161e-05
4,no,0,0.541,9.261e-09,0.6194,8.089e-09
4,no,1,0.459,1.35,0.6194,1
5,no,0,0.541,1.311e-08,0.5592,1.268e-08
5,no,1,0.459,1.218,0.5592,1
6,no,0,0.541,2.052e-08,0.4677,2.374e-08
6,no,1,0.459,1.019,0.4677,1
7,no,0,0.541,0.3766,0.4973,0.4097
7,no,1,0.459,0.6395,0.4973,0.5903
#### ID:MEMBER-CAT0
#### Attr. ID, Attr. name, Attr. value x0, Class k, Class prob. P(k), Component prob. P(x0|k), Marginal prob. P(x0), Membership prob. P(k|x0)
####
0,X0,a,0,0.541,0.6234,0.5027,0.6709
0,X0,a,1,0.459,0.3605,0.5027,0.3291
0,X0,b,0,0.541,0.3766,0.4973,0.4097
0,X0,b,1,0.459,0.6395,0.4973,0.5903
#### ID:MEMBER-GAUSS0
#### Gauss ID, Case ID, Class k, Class prob. P(k), Component prob. P(Gauss0|k), Marginal prob. P(Gauss0), Membership prob. P(k|Gauss0)
####
0,0,0,0.541,3.439,1.861,1
0,0,1,0.459,1.712e-07,1.861,4.223e-08
0,1,0,0.541,1.66,0.898,1
0,1,1,0.459,1.81e-07,0.898,9.254e-08
0,2,0,0.541,2.107,1.14,1
0,2,1,0.459,1.322e-07,1.14,5.32e-08
0,3,0,0.541,1.411,0.7633,1
0,3,1,0.459,2.116e-05,0.7633,1.273e-05
0,4,0,0.541,2.459e-08,0.9686,1.374e-08
0,4,1,0.459,2.11,0.9686,1
0,5,0,0.541,3.482e-08,0.8744,2.154e-08
0,5,1,0.459,1.905,0.8744,1
0,6,0,0.541,3.292e-08,1.298,1.373e-08
0,6,1,0.459,2.827,1.298,1
0,7,0,0.541,1,1,0.541
0,7,1,0.459,1,1,0.459
)";

const char kHiddenCluster[] = R"(#### ID:CLUSTER-CASE-BY-CASE
#### Case ID, Answer class, Cluster k, Membership prob. P(k|x)
####
0,yes,0,1
1,yes,0,1
2,yes,0,1
3,yes,0,1
4,no,1,1
5,no,1,1
6,no,1,1
7,no,1,0.5903
#### ID:CLUSTER-CASE-BY-CLUSTER
#### Cluster k, Answer class, Case ID, Membership prob. P(k|x)
####
0,yes,0,1
0,yes,1,1
0,yes,2,1
0,yes,3,1
1,no,4,1
1,no,5,1
1,no,6,1
1,no,7,0.5903
#### ID:CLUSTER-CAT0-BY-ATT
#### Attr. ID, Attr. name, Attr. x0, Cluster k, Membership prob. P(k|x0)
####
0,X0,a,0,0.6709
0,X0,b,1,0.5903
#### ID:CLUSTER-CAT0-BY-CLUSTER
#### Attr. ID, Attr. name, Cluster k, Attr. x0, Membership prob. P(k|x0)
####
0,X0,0,a,0.6709
0,X0,1,b,0.5903
#### ID:CLUSTER-GAUSS0-BY-ATT
#### Gauss ID, Case ID, Cluster k, Membership prob. P(k|Gauss0)
####
0,0,0,1
0,1,0,1
0,2,0,1
0,3,0,1
0,4,1,1
0,5,1,1
0,6,1,1
0,7,0,0.541
#### ID:CLUSTER-GAUSS0-BY-CLUSTER
#### Gauss ID, Cluster k, Case ID, Membership prob. P(k|Gauss0)
####
0,0,0,1
0,0,1,1
0,0,2,1
0,0,3,1
0,0,7,0.541
0,1,4,1
0,1,5,1
0,1,6,1
)";

const char kHiddenRank[] = R"(#### ID:RANK-CASE
#### Class k, Answer class, Case ID, Class prob. P(k), Membership prob. P(k|x)
#### -- in the decending order of the class probs. and the membership probs.
####
0,yes,0,0.541,1
0,yes,2,0.541,1
0,yes,1,0.541,1
0,yes,3,0.541,1
1,no,4,0.459,1
1,no,5,0.459,1
1,no,6,0.459,1
1,no,7,0.459,0.5903
#### ID:RANK-CAT0
#### Attr. ID, Attr. name, Class k, Attr. value x0, Class prob. P(k), Membership prob. P(k|x0)
#### -- in the decending order of the class probs. and the membership probs.
####
0,X0,0,a,0.541,0.6709
0,X0,1,b,0.459,0.5903
#### ID:RANK-GAUSS0
#### Gauss ID, Class k, Case ID, Class prob. P(k), Membership prob. P(k|Gauss0)
#### -- in the decending order of the class probs. and the membership probs.
####
0,0,0,0.541,1
0,0,2,0.541,1
0,0,1,0.541,1
0,0,3,0.541,1
0,0,7,0.541,0.541
0,1,6,0.459,1
0,1,4,0.459,1
0,1,5,0.459,1
)";

// LF -> CR LF.
std::string crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// As written with -j txt: body fields separated by tabs.
std::string tabbed(const std::string& text) {
  std::string out;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    std::string line = text.substr(at, end - at + 1);
    if (line.rfind("####", 0) != 0) {
      for (char& c : line) {
        if (c == ',') c = '\t';
      }
    }
    out += line;
    at = end + 1;
  }
  return crlf(out);
}

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

class PostAnalysisE2e : public ::testing::Test {
 protected:
  void SetUp() override { write_file(dir_.file("d_freq.csv"), kMixedCases); }
  RunResult run(const std::vector<std::string>& args) {
    return run_program("rumelvb", args, dir_.path());
  }
  std::string out(const std::string& name) { return read_file(dir_.file(name)); }
  // The message-stream lines from the first post-analysis step on.
  static std::string steps(const std::string& err) {
    size_t at = err.find("Computing");
    if (at == std::string::npos) at = err.find("Clustering");
    return at == std::string::npos ? "" : err.substr(at);
  }

  TempDir dir_;
};

TEST_F(PostAnalysisE2e, EveryFileOfTheMixedCase) {
  RunResult r = run(with(kMixedFit, {"-D", "--show-attr-memp", "-P", "--show-attr-cluster", "-z",
                                     "2", "--weight-purity", "2"}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(steps(r.err),
            "Computing membership distributions...done\r\n"
            "Computing predictive distributions...done\r\n"
            "Clustering cases and attribute values...done\r\n"
            "Evaluating clusters...done\r\n"
            "Ranking relevant cases/attvals...done\r\n");
  EXPECT_EQ(out("d_memp.csv"), crlf(kMixedMemp));
  EXPECT_EQ(out("d_predict.csv"), crlf(kMixedPredict));
  EXPECT_EQ(out("d_cluster.csv"), crlf(kMixedCluster));
  EXPECT_EQ(out("d_eval.csv"), crlf(kMixedEval));
  EXPECT_EQ(out("d_rank.csv"), crlf(kMixedRank));
  // The cluster sizes close the log.
  const std::string log = out("d_log.csv");
  EXPECT_EQ(log.substr(log.find("#### ID:CLUSTER-FREQ-CASE")), crlf(kMixedClusterSizes));
}

TEST_F(PostAnalysisE2e, HiddenValuesOneOverKCutAndTabs) {
  RunResult r = run(with(kMixedFit, {"-D", "--show-attr-memp", "--show-attr-cluster", "-V", "-z",
                                     "10", "--hide-rank", "-j", "txt"}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(out("d_memp.txt"), tabbed(kHiddenMemp));
  EXPECT_EQ(out("d_cluster.txt"), tabbed(kHiddenCluster));
  EXPECT_EQ(out("d_rank.txt"), tabbed(kHiddenRank));
  EXPECT_EQ(out("d_predict.txt"), "");
}

TEST_F(PostAnalysisE2e, ThresholdRankingAndDefaultFiles) {
  RunResult r = run(with(kMixedFit, {"-z", "0.6"}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(steps(r.err),
            "Clustering cases...done\r\n"
            "Evaluating clusters...done\r\n"
            "Ranking relevant cases/attvals...done\r\n");
  // Only what reaches 0.6: of the values, a in class 0 alone.
  EXPECT_EQ(out("d_rank.csv"), crlf(R"(#### ID:RANK-CASE
#### Class k, Answer class, Case ID, Attr. values x1, x2, ..., xJ, Class prob. P(k), Membership prob. P(k|x)
#### -- in the decending order of the class probs. and the membership probs.
####
0,yes,0,a,1,1.1,0.541,1
0,yes,2,a,0.8,1,0.541,1
0,yes,1,a,1.2,0.9,0.541,1
0,yes,3,b,?,1.2,0.541,1
1,no,4,b,5,5.2,0.459,1
1,no,5,b,5.1,4.8,0.459,1
1,no,6,a,4.9,5,0.459,1
#### ID:RANK-CAT0
#### Attr. ID, Attr. name, Class k, Attr. value x0, Class prob. P(k), Membership prob. P(k|x0)
#### -- in the decending order of the class probs. and the membership probs.
####
0,X0,0,a,0.541,0.6709
#### ID:RANK-GAUSS0
#### Gauss ID, Class k, Case ID, Attr. x1, Attr. x2, Class prob. P(k), Membership prob. P(k|Gauss0)
#### -- in the decending order of the class probs. and the membership probs.
####
0,0,0,1,1.1,0.541,1
0,0,2,0.8,1,0.541,1
0,0,1,1.2,0.9,0.541,1
0,0,3,?,1.2,0.541,1
0,1,6,4.9,5,0.459,1
0,1,4,5,5.2,0.459,1
0,1,5,5.1,4.8,0.459,1
)"));
  // Without -D and -P there is neither a membership nor a predictive file;
  // the cluster file is always written.
  EXPECT_FALSE(std::filesystem::exists(dir_.file("d_memp.csv")));
  EXPECT_FALSE(std::filesystem::exists(dir_.file("d_predict.csv")));
  EXPECT_EQ(out("d_cluster.csv").substr(0, 24), "#### ID:CLUSTER-CASE-BY-");
}

TEST_F(PostAnalysisE2e, OutputFilesThatCannotBeCreated) {
  const std::vector<std::string> all = {"-D", "-P", "-z", "2"};
  for (const char* name : {"d_memp.csv", "d_predict.csv", "d_cluster.csv", "d_eval.csv",
                           "d_rank.csv"}) {
    SCOPED_TRACE(name);
    // A directory in the file's place cannot be opened for writing.
    std::filesystem::create_directory(dir_.file(name));
    RunResult r = run(with(kMixedFit, all));
    EXPECT_EQ(r.status, 1);
    const std::string message = std::string("Couldn't open ") + name + "\n";
    ASSERT_GE(r.err.size(), message.size());
    EXPECT_EQ(r.err.substr(r.err.size() - message.size()), message);
    EXPECT_EQ(out("d_log.csv").substr(out("d_log.csv").size() - message.size()), message);
    std::filesystem::remove(dir_.file(name));
  }
}

// The value of one row of the evaluation file.
double measure(const std::string& eval, const std::string& label) {
  size_t at = eval.find("\r\n" + label + ",");
  if (at == std::string::npos) return NAN;
  return std::atof(eval.c_str() + at + 3 + label.size());
}

TEST(PostAnalysisCounts, CompressedAndUncompressedCasesEvaluateAlike) {
  TempDir dir;
  std::string text;
  const std::vector<std::pair<std::string, int>> patterns = {
      {"a,x,p,yes", 5}, {"a,x,q,yes", 3}, {"b,y,q,no", 4}, {"b,y,p,no", 2},
      {"a,y,p,yes", 1}, {"b,x,q,no", 2},  {"a,y,q,no", 1}};
  for (const auto& [line, n] : patterns) {
    for (int i = 0; i < n; ++i) text += line + "\n";
  }
  write_file(dir.file("d_freq.csv"), text);
  for (const char* seed : {"1", "3"}) {
    SCOPED_TRACE(seed);
    const std::vector<std::string> args = {"-f", "d", "-k", "2", "-x", "4", "-E", "3", "--seed", seed};
    RunResult r = run_program("rumelvb", args, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string compressed = read_file(dir.file("d_eval.csv"));
    r = run_program("rumelvb", with(args, {"--uncompress"}), dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir.file("d_eval.csv")), compressed);
    // Cases, not entries: 18 of them in the table, purity within its range.
    const std::string match = compressed.substr(compressed.find("#### ID:CLUSTER-MATCH-BY-ANSWER"));
    int total = 0;
    for (size_t at = match.find("####\r\n") + 6; at < match.size();) {
      size_t end = match.find("\r\n", at);
      total += std::atoi(match.c_str() + match.rfind(',', end) + 1);
      at = end + 2;
    }
    EXPECT_EQ(total, 18);
    EXPECT_LE(measure(compressed, "Purity"), 1.0);
  }
}

TEST(PostAnalysisExamples, ReadmeCommandAndBreastCancer) {
  TempDir dir;
  for (const char* name : {"iris_freq.csv", "iris_name.txt", "breast-cancer_freq.csv",
                           "breast-cancer_name.txt"}) {
    std::filesystem::copy_file(testing::source_dir() + "/examples/" + name, dir.file(name));
  }
  RunResult r = run_program("rumelvb", {"-f", "iris", "-k", "2:5:1", "-x", "5", "-u", "0-3", "-E",
                                        "4", "--seed", "1"},
                            dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  std::string eval = read_file(dir.file("iris_eval.csv"));
  const std::string cluster = read_file(dir.file("iris_cluster.csv"));
  EXPECT_NE(cluster.find("\r\n149,Iris-virginica,"), std::string::npos);
  for (const char* label : {"Purity", "Inverse Purity", "Rand index", "Adjusted Rand index",
                            "Normalized mutual information"}) {
    EXPECT_TRUE(measure(eval, label) > 0.0 && measure(eval, label) <= 1.0) << label;
  }

  // Three classes: setosa alone in one cluster, the other two mostly apart.
  r = run_program("rumelvb", {"-f", "iris", "-k", "3", "-x", "5", "-u", "0-3", "-E", "4",
                              "--seed", "1"},
                  dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  eval = read_file(dir.file("iris_eval.csv"));
  EXPECT_NE(eval.find(",Iris-setosa,50\r\n"), std::string::npos) << eval;
  EXPECT_GT(measure(eval, "Adjusted Rand index"), 0.5);
  EXPECT_GT(measure(eval, "Purity"), 0.75);

  r = run_program("rumelvb", {"-f", "breast-cancer", "-x", "10", "-E", "9", "-k", "2:4:1",
                              "--uncompress", "--seed", "1"},
                  dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  eval = read_file(dir.file("breast-cancer_eval.csv"));
  // No better than chance would be a purity of 201 / 286.
  EXPECT_GT(measure(eval, "Purity"), 201.0 / 286.0);
  EXPECT_TRUE(std::isfinite(measure(eval, "Adjusted Rand index")));
}

}  // namespace
}  // namespace veska
