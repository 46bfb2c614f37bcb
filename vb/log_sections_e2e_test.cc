// The data matrices rumelvb writes to its log before fitting, checked byte
// for byte on a small discrete data set (csv) and a small mixed one (txt).
#include <gtest/gtest.h>

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

// Lines joined and ended with CR LF.
std::string lines(const std::vector<std::string>& ls) {
  std::string out;
  for (const std::string& l : ls) out += l + "\r\n";
  return out;
}

// The settings group: the log from its start up to the first data matrix
// whose ID is not a SETTING one.
std::string settings_group(const std::string& log) {
  size_t at = 0;
  while ((at = log.find("#### ID:", at + 1)) != std::string::npos) {
    if (log.compare(at, 16, "#### ID:SETTING-") != 0) return log.substr(0, at);
  }
  return log;
}

// The data matrices from the one with ID `first` through the one with ID
// `last`; empty when either is absent.
std::string matrices(const std::string& log, const std::string& first, const std::string& last) {
  size_t from = log.find("#### ID:" + first + "\r\n");
  size_t at = log.find("#### ID:" + last + "\r\n");
  if (from == std::string::npos || at == std::string::npos) return "";
  size_t end = log.find("#### ID:", at + 1);
  return log.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

// Colour, shape, size code and the answer; missing values and counts.
const char* const kDiscreteCases =
    "red,round,1,yes\n"
    "blue,square,2,no\n"
    "red,?,1,yes,3\n"
    "green,square,NA,no\n"
    "blue,square,2,no\n"
    "red,round,1,yes\n"
    "green,round,2,no\n"
    "blue,round,1,yes\n";

TEST(LogSections, DiscreteCsvRunWithEveryOptionalSetting) {
  TempDir dir;
  write_file(dir.file("d_freq.csv"), kDiscreteCases);
  RunResult r = run_program("rumelvb",
                            {"-f", "d", "-k", "2:3:1", "-x", "4", "-E", "3", "-r", "11", "-z",
                             "0.2", "--hide-rank", "-D", "-P", "-b", "-B", "0.5:1.5", "-n", "2",
                             "-l", "10", "--prec-out", "5", "-e", "0.000123456789", "-S",
                             "--verbose", "--weight-purity", "0.5", "-c", "0.5", "-w",
                             "2,3,0.25"},
                            dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");  // every message went to the message file
  std::string log = read_file(dir.file("d_log.csv"));
  EXPECT_EQ(settings_group(log),
            lines({"#### ID:SETTING-VERSION",
                   "#### Version",
                   "####",
                   "0.7",
                   "#### ID:SETTING-FILE",
                   "#### Input/Output, Contents, Filename",
                   "####",
                   "Input,Cases,d_freq.csv",
                   "Output,Hyperparameters,d_hparam.csv",
                   "Output,Member distributions,d_memp.csv",
                   "Output,Predictive distributions,d_predict.csv",
                   "Output,Clusters,d_cluster.csv",
                   "Output,Rankings,d_rank.csv",
                   "Output,Evaluation results,d_eval.csv",
                   "Output,Logs,d_log.csv",
                   "Output,Message logs,d_msg.txt",
                   "#### ID:SETTING-FUNCTION",
                   "#### Major function, Enabled/Disabled",
                   "####",
                   "Reading hyperparameters,Disabled",
                   "Member distributions,Enabled",
                   "Predictive distributions,Enabled",
                   "Clustering,Enabled",
                   "Relevance analysis,Enabled",
                   "Model selection,Enabled",
                   "Deterministic annealing EM,Enabled",
                   "Split-merge EM,Disabled",
                   "Evaluation,Enabled",
                   "#### ID:SETTING-MODEL-BASE",
                   "#### Model specification",
                   "####",
                   "Num of classes [min],2",
                   "Num of classes [max],3",
                   "Num of classes [step],1",
                   "Num of attributes,4",
                   "Num of discrete attributes,3",
                   "Num of continuous attributes,0",
                   "ID attribute,(none)",
                   "Answer class attribute,3",
                   "Ignored attributes,(none)",
                   "Discrete attributes,0,1,2",
                   "Continuous attributes,(none)",
                   "#### ID:SETTING-MODEL-HPARAM",
                   "#### Hyperparameter, Value",
                   "####",
                   "Pseudo count [class],0.5",
                   "Pseudo count [attr 0],2",
                   "Pseudo count [attr 1],3",
                   "Pseudo count [attr 2],0.25",
                   "Prior Tau,0",
                   "Prior Alpha,Dimension + 1e-06",
                   "Prior Mean,Sample mean",
                   "Prior Sigma,Sample covariances multiplied by 1",
                   "#### ID:SETTING-EM",
                   "#### Control parameter, Value",
                   "####",
                   "Random seed,11",
                   "Threshold for convergence,0.00012346",
                   "Max num Of EM iterations,3000",
                   "Random restarts,Enabled",
                   "Num. of restarts,2",
                   "Max num of EM iterations in restarts,10",
                   "Noises in initialization of categorical hyperparameters,0.1",
                   "Noises in initialization of hyperparameters of Gaussian means,0.1",
                   "Threshold for extreme values (Min.),0.05",
                   "Threshold for extreme values (Max.),0.95",
                   "#### ID:SETTING-SELECT",
                   "#### Control parameter, Value",
                   "####",
                   "Model score,Variational free energy",
                   "#### ID:SETTING-RANK",
                   "#### Control parameter, Value",
                   "####",
                   "Hiding less relevant cases/attvals,Enabled",
                   "Threshold for relevant cases/attvals,0.2",
                   "#### ID:SETTING-DAEM",
                   "#### Control parameter, Value",
                   "####",
                   "Initial value of inverse temperature,0.5",
                   "Update rate of inverse temperature,1.5",
                   "#### ID:SETTING-EVAL",
                   "#### Control parameter, Value",
                   "####",
                   "Weight in F-measure of Purity,0.5",
                   "Weight in F-measure of Wallance's measures,1",
                   "#### ID:SETTING-INOUT",
                   "#### Control parameter, Value",
                   "####",
                   "Target,d",
                   "Suffix,(none)",
                   "Input file extension,csv",
                   "Output file extension,csv",
                   "#### ID:SETTING-MISC",
                   "#### Control parameter, Value",
                   "####",
                   "Ignoring extreme values when computing sample means/covars,Disabled",
                   "Writing attvals in lexicographical order,Enabled",
                   "Uncompressing identical objects,Disabled",
                   "Saving messages,Enabled",
                   "Being verbose,Enabled",
                   "Showing attvals,Enabled",
                   "Showing membership probs. for attributes,Disabled",
                   "Showing clusters of attvals,Disabled",
                   "Precision of float-point numbers [file output],5",
                   "Precision of float-point numbers [terminal message],6"}));
  // Six distinct patterns of ten cases on eight lines.
  EXPECT_EQ(matrices(log, "ANS-CLASS", "NUM-MISSING-CAT"),
            lines({"#### ID:ANS-CLASS",
                   "#### Answer class, Num of occurrences",
                   "####",
                   "yes,3",
                   "no,3",
                   "#### ID:FREQ-CAT0",
                   "#### Attr. ID, Attr. name, ID of attr. value x0, Attr. value x0, "
                   "#occurrences N(x0)",
                   "####",
                   "0,X0,1,blue,3",
                   "0,X0,2,green,2",
                   "0,X0,0,red,5",
                   "#### ID:FREQ-CAT1",
                   "#### Attr. ID, Attr. name, ID of attr. value x1, Attr. value x1, "
                   "#occurrences N(x1)",
                   "####",
                   "1,X1,0,round,4",
                   "1,X1,1,square,3",
                   "#### ID:FREQ-CAT2",
                   "#### Attr. ID, Attr. name, ID of attr. value x2, Attr. value x2, "
                   "#occurrences N(x2)",
                   "####",
                   "2,X2,0,1,6",
                   "2,X2,1,2,3",
                   "#### ID:FREQ-CASE",
                   "#### Case ID, Answer class, Attr. values x1, x2, ..., xJ, #occurrences N(x)",
                   "####",
                   "0,yes,red,round,1,2",
                   "1,no,blue,square,2,2",
                   "2,yes,red,?,1,3",
                   "3,no,green,square,?,1",
                   "4,no,green,round,2,1",
                   "5,yes,blue,round,1,1",
                   "#### ID:DATASIZE",
                   "#### Total num. of cases, #entries [original], "
                   "#entries [multiple occurences compressed]",
                   "####",
                   "10,8,6",
                   "#### ID:PARAMSIZE",
                   "#### Num. of classes, Num. of class params, Num. of params for discrete attrs, "
                   "Num. of params for continuous attrs, Total num. of params",
                   "####",
                   "2,1,8,0,9",
                   "3,2,12,0,14",
                   "#### ID:NUM-MISSING-CAT",
                   "#### Attr. ID, Attr. name, Num. of missing values, Ratio of missing values",
                   "####",
                   "0,X0,0,0",
                   "1,X1,3,0.3",
                   "2,X2,1,0.1"}));
  EXPECT_EQ(log.find("#### ID:NUM-MISSING-GAUSS"), std::string::npos);
}

// ID, colour, a block of two measures, a block of one, an ignored column.
const char* const kMixedCases =
    "c1\tred\t1.5\t2.0\t9\tjunk\n"
    "c2\tblue\tNA\t-3\t?\t\n"
    "c3\tred\t0.25\t1e-3\t7\tjunk\n"
    "c4\tblue\t2.5\t4.5\t8\tjunk\n"
    "c5\tred\t1.25\t2.5\t6.5\tjunk\n"
    "c6\tblue\t3\t5\t10\tjunk\n";

const char* const kMixedNames =
    "# the mixed sample\n"
    "case\tid\n"
    "colour\t{red, blue}\n"
    "x\treal\n"
    "y\treal\n"
    "z\tinteger\n"
    "junk\tignored\n";

TEST(LogSections, MixedTxtRunWithSuffixAndPriors) {
  TempDir dir;
  write_file(dir.file("m_freq.txt"), kMixedCases);
  write_file(dir.file("m_run1_name.txt"), kMixedNames);
  RunResult r = run_program(
      "rumelvb",
      {"-f", "m", "-s", "run1", "-k", "2", "-x", "6", "-I", "0", "-u", "2,3#4", "-y", "5", "-r",
       "5", "--occ-order", "--uncompress", "--regular-stat", "-V", "--show-attr-memp",
       "--show-attr-cluster", "--extreme", "0.1", "--noise", "0.2", "--noise-gauss", "0.3", "-T",
       "0.5", "-O", "3", "-K", "1.5", "-L", "const:2", "-e", "1e-4", "-m", "200", "--prec-msg",
       "3"},
      dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  std::string log = read_file(dir.file("m_run1_log.txt"));
  EXPECT_EQ(settings_group(log),
            lines({"#### ID:SETTING-VERSION",
                   "#### Version",
                   "####",
                   "0.7",
                   "#### ID:SETTING-FILE",
                   "#### Input/Output, Contents, Filename",
                   "####",
                   "Input\tCases\tm_freq.txt",
                   "Output\tHyperparameters\tm_run1_hparam.txt",
                   "Output\tClusters\tm_run1_cluster.txt",
                   "Output\tLogs\tm_run1_log.txt",
                   "#### ID:SETTING-FUNCTION",
                   "#### Major function, Enabled/Disabled",
                   "####",
                   "Reading hyperparameters\tDisabled",
                   "Member distributions\tDisabled",
                   "Predictive distributions\tDisabled",
                   "Clustering\tEnabled",
                   "Relevance analysis\tDisabled",
                   "Model selection\tDisabled",
                   "Deterministic annealing EM\tDisabled",
                   "Split-merge EM\tDisabled",
                   "Evaluation\tDisabled",
                   "#### ID:SETTING-MODEL-BASE",
                   "#### Model specification",
                   "####",
                   "Num of classes\t2",
                   "Num of attributes\t6",
                   "Num of discrete attributes\t1",
                   "Num of continuous attributes\t3",
                   "ID attribute\t0",
                   "Answer class attribute\t(none)",
                   "Ignored attributes\t5",
                   "Discrete attributes\t1",
                   "Continuous attributes\t2\t3\t4",
                   "Attributes in Gauss0\t2\t3",
                   "Attributes in Gauss1\t4",
                   "Dimension of Gauss0\t2",
                   "Dimension of Gauss1\t1",
                   "#### ID:SETTING-MODEL-HPARAM",
                   "#### Hyperparameter, Value",
                   "####",
                   "Pseudo count [class]\t1",
                   "Pseudo count [attr 1]\t1",
                   "Prior Tau\t0.5",
                   "Prior Alpha\t3",
                   "Prior Mean\t1.5",
                   "Prior Sigma\tDiagonal with all elements (variances) being 2",
                   "#### ID:SETTING-EM",
                   "#### Control parameter, Value",
                   "####",
                   "Random seed\t5",
                   "Threshold for convergence\t0.0001",
                   "Max num Of EM iterations\t200",
                   "Random restarts\tDisabled",
                   "Noises in initialization of categorical hyperparameters\t0.2",
                   "Noises in initialization of hyperparameters of Gaussian means\t0.3",
                   "Threshold for extreme values (Min.)\t0.1",
                   "Threshold for extreme values (Max.)\t0.9",
                   "#### ID:SETTING-INOUT",
                   "#### Control parameter, Value",
                   "####",
                   "Target\tm",
                   "Suffix\trun1",
                   "Input file extension\ttxt",
                   "Output file extension\ttxt",
                   "#### ID:SETTING-MISC",
                   "#### Control parameter, Value",
                   "####",
                   "Ignoring extreme values when computing sample means/covars\tEnabled",
                   "Writing attvals in lexicographical order\tDisabled",
                   "Uncompressing identical objects\tEnabled",
                   "Saving messages\tDisabled",
                   "Being verbose\tDisabled",
                   "Showing attvals\tDisabled",
                   "Showing membership probs. for attributes\tEnabled",
                   "Showing clusters of attvals\tEnabled",
                   "Precision of float-point numbers [file output]\t12",
                   "Precision of float-point numbers [terminal message]\t3"}));
  // Quiet and uncompressed: sizes and missing counts only, under the names
  // from the names file.
  EXPECT_EQ(log.find("#### ID:ANS-CLASS"), std::string::npos);
  EXPECT_EQ(log.find("#### ID:FREQ-"), std::string::npos);
  EXPECT_EQ(log.find("#### ID:NUM-MISSING-CAT"), std::string::npos);
  EXPECT_EQ(matrices(log, "DATASIZE", "NUM-MISSING-GAUSS"),
            lines({"#### ID:DATASIZE",
                   "#### Total num. of cases, #entries [original]",
                   "####",
                   "6\t6",
                   "#### ID:PARAMSIZE",
                   "#### Num. of classes, Num. of class params, Num. of params for discrete attrs, "
                   "Num. of params for continuous attrs, Total num. of params",
                   "####",
                   "2\t1\t2\t8\t11",
                   "#### ID:NUM-MISSING-GAUSS",
                   "#### Attr. ID, Attr. name, Num. of missing values, Ratio of missing values",
                   "####",
                   "2\tx\t1\t0.166666666667",
                   "3\ty\t0\t0",
                   "4\tz\t1\t0.166666666667"}));
}

}  // namespace
}  // namespace veska
