#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/options.h"
#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::read_file;
using testing::run_program;
using testing::RunResult;
using testing::TempDir;
using testing::write_file;

// Help texts as the user sees them, written out line by line.
const char* const kShortUsage = R"USAGE([Usage] rumelvb -f basename -k #classes -x #attributes [option...]
Flags with an argument:
 --target   (-f) Prefix of input/output files                      [Required]
 --suffix   (-s) Suffix of output files                           [No suffix]
 --n-class  (-k) Number of classes or Kmin:Kmax:Kstep
                                                [Required unless -R/-H given]
 --n-attr   (-x) Number of attributes                              [Required]
 --gauss    (-u) Indices of continuous attributes        [No continous attrs]
 --id       (-I) Index of the ID attribute
 --ignore   (-y) Indices of the attributes to be ignored
 --eval     (-E) Index of the answer class attribute (Evaluation enabled)
 --output   (-j) File extension of the output files
                 (csv:comma-separated, txt:tab-separated)    [Same as inputs]
 --epsilon  (-e) Threshold in judging convergence                    [1.0e-6]
 --max-iter (-m) Max num. of EM iterations     [Iterate EM until convergence]
 --restart  (-n) Number of restarts                              [No restart]
 --start         Starting point of every restart
                 (random:Random, kmeans:K-means partition)           [Random]
 --rank     (-z) Number of attribute values highly relevant to a class,
                 or threshold for the relevance (Ranking enabled)
                                                           [Ranking disabled]
Flags with no argument:
 --read-hparam (-H) Disable VBEM and read hyperparameters from a file
 --mem-prob    (-D) Compute and output the membership distributions
 --predict     (-P) Compute and output the predictive distributions
 --save-msg    (-S) Output the terminal messages to the files  [To stderr]
 --version     (-v) Print the version number
 --help        (-h) Print brief descriptions on major flags
 --helpall     (-X) Print brief descriptions on all flags
)USAGE";

const char* const kFullUsage = R"USAGE([Usage] rumelvb -f basename -k #classes -x #attributes [option...]
Flags with an argument:
 --target   (-f) Prefix of input/output files                      [Required]
 --suffix   (-s) Suffix of output files                           [No suffix]
 --n-class  (-k) Number of classes or Kmin:Kmax:Kstep
                                                [Required unless -R/-H given]
 --n-attr   (-x) Number of attributes                              [Required]
 --gauss    (-u) Indices of continuous attributes        [No continous attrs]
 --id       (-I) Index of the ID attribute
 --ignore   (-y) Indices of the attributes to be ignored
 --eval     (-E) Index of the answer class attribute (Evaluation enabled)
 --input    (-i) File extension of the input files
                 (csv:comma-separated, txt:tab-separated)       [Auto-detect]
 --output   (-j) File extension of the output files
                 (csv:comma-separated, txt:tab-separated)    [Same as inputs]
 --smooth-c (-c) Initial hyperparemters for the class attribute
                 (auto:AutoClass, other positive float: as-is) [No smoothing]
 --smooth-a (-w) Initial hyperparameters for discrete attributes
                 (auto:AutoClass, other positive float: as-is) [No smoothing]
 --smooth-mean (-K) Initial hyperparameters for means
 --smooth-var  (-L) Initial hyperparameters for variances
                    (sample:<val>, const:<val>, or other short-forms)
                                                                 [sample:1.0]
 --tau      (-T) Tau in the Normal-Wishart priors
 --alpha    (-O) Alpha in the Normal-Wishart priors
 --epsilon  (-e) Threshold in judging convergence                    [1.0e-6]
 --max-iterate (-m) Max num. of EM iterations  [Iterate EM until convergence]
 --seed     (-r) Random seed                       [Returned value of time()]
 --restart  (-n) Number of restarts                              [No restart]
 --max-iter-restart (-l)
                 Max num. of preliminary VBEM iterations in random restart
                                             [Iterate VBEM until convergence]
 --start         Starting point of every restart
                 (random:Random, kmeans:K-means partition)           [Random]
 --threads       Number of threads in the estimation
                                      [Number of CPUs the process may run on]
 --noise         Noises in initialization of categorical hyperparams
 --noise-gauss   Noises in initialization of hyperparams of Gaussian means
 --extreme       Threshold for judging extreme values                  [0.05]
 --rank  (-z)    Number of attribute values highly relevant to a class,
                 or threshold for the relevance (Ranking is enabled)
                                                        [Ranking is disabled]
 --itemp (-B) Binit:Brate
                 where Binit is the initial value of the inverse temperature,
                 and Brate is the update rate of the inverse temperature
                                                                    [0.1:1.5]
 --n-sm     (-o) Max num. of split-merge operations (SMEM enabled)
                                                              [SMEM disabled]
 --n-cand   (-a) Max num. of SM candidates to be examined          [No limit]
 --n-jsplit (-G) Max num. of split candidates to be examined       [No limit]
 --min-c-param
              Lower limit of prob. of the class to be split/merged [No limit]
 --min-new-c-param
              Lower limit of prob. of the splited/merged class     [No limit]
 --min-sm-imp Lower limit of improvement by spilt-merge oparations
                                     [Threshold of convergence (given by -e)]
 --prec-out  Number of significant digits of
               a floating point number in the output files               [12]
 --prec-msg  Number of digits after the decimal point of
               a floating point number in the terminal messages           [6]
 Flags with no argument:
 --read-hparam    (-H) Disable VBEM and read hyperparameters from a file
 --mem-prob       (-D) Compute and output the membership distributions
 --predict        (-P) Compute and output the predictive distributions
 --uncompress          Uncompress the cases having the same attribute values
 --verbose             Output the temporarily computed results to log file
 --daem           (-b) Enable DAEM
 --norm-jmerge         Normalize Jmerge
 --regular-stat        Ignore extreme values in getting sample means/covars
 --occ-order           Print attvals in the appearance order     [Lex. order]
 --hide-attr      (-V) Hide attribute values in the output files
 --hide-rank           Hide irrevant attribute values in ranking
 --show-attr-memp      Show the membership probabilities for attributes
 --show-attr-cluster   Show the clusters of attribute values
 --save-msg       (-S) Output the terminal messages to the files  [To stderr]
 --version        (-v) Print the version number
 --help           (-h) Print brief descriptions on major flags
 --helpall        (-X) Print brief descriptions on all flags
)USAGE";

std::string crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string version() { return std::string("VESKA version 0.7 (VB, built on ") + build_date() + ")\r\n"; }

RunResult rumelvb(const TempDir& dir, const std::vector<std::string>& args) {
  return run_program("rumelvb", args, dir.path());
}

// A directory holding a small valid case file "data_freq.csv" of two discrete
// attributes.
struct CaseDir {
  CaseDir() { write_file(dir.file("data_freq.csv"), "a,x\r\nb,y\r\na,y\r\nb,x\r\n"); }
  TempDir dir;
};

void expect_failure(const RunResult& r, const std::string& err) {
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, err);
}

TEST(RumelvbInfo, VersionAndHelpTexts) {
  TempDir dir;
  RunResult r = rumelvb(dir, {"-v", "--no-such-option"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, version());
  EXPECT_EQ(r.err, "");
  r = rumelvb(dir, {"-f", "data", "-h"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "\r\n" + version() + crlf(kShortUsage) + "\r\n");
  r = rumelvb(dir, {"-X"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "\r\n" + version() + crlf(kFullUsage) + "\r\n");
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));  // no file touched
}

TEST(RumelvbCommandLine, ErrorsBeforeTheLogGoToStandardError) {
  CaseDir c;
  expect_failure(rumelvb(c.dir, {"-k", "2", "-x", "2"}),
                 "Missing or illegal --target (-f) option (Use -h for usage)\n");
  expect_failure(rumelvb(c.dir, {"-f", "data", "--n-class=3"}),
                 "Unknown/illegal option specification: --n-class=3 (Use -h for usage)\n");
  expect_failure(rumelvb(c.dir, {"-f", "data", "-x", "2", "-k3"}),
                 "Unknown/illegal option specification: -k3 (Use -h for usage)\n");
  expect_failure(rumelvb(c.dir, {"-f", "data", "-i", "csv"}),
                 "Unknown/illegal option specification: -i (Use -h for usage)\n");
  expect_failure(rumelvb(c.dir, {"-f", "data", "--output", "xls"}),
                 "Unexpected file format: xls (Use -h for usage)\n");
  expect_failure(rumelvb(c.dir, {"-f", "other", "-x", "2", "-k", "2"}),
                 "Couldn't find the input file (neither other_freq.txt nor other_freq.csv)\n");
  expect_failure(rumelvb(c.dir, {"-f", "data", "-x", "2", "-k", "2", "-H"}),
                 "Couldn't find the input file (neither data_hparam.txt nor data_hparam.csv)\n");
  expect_failure(rumelvb(c.dir, {"-f", "data", "-x", "2", "-s", std::string(600, 's')}),
                 "Too long value for --suffix (-s) option (at most 511 characters)\n");
  EXPECT_FALSE(std::filesystem::exists(c.dir.file("data_log.csv")));
}

// The instruction set forced from the environment: an unknown name ends the
// run with its message, a known one fits as usual.
TEST(RumelvbCommandLine, ForcedInstructionSetIsCheckedAndServes) {
  CaseDir c;
  const std::vector<std::string> args = {"-f", "data", "-x", "2", "-k", "2", "--seed", "1"};
  setenv("VESKA_ISA", "mmx", 1);
  const RunResult bad = rumelvb(c.dir, args);
  setenv("VESKA_ISA", "sse2", 1);
  const RunResult sse2 = rumelvb(c.dir, args);
  unsetenv("VESKA_ISA");
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("VESKA_ISA=mmx: unknown instruction set (sse2, avx2 or avx512)\n"),
            std::string::npos)
      << bad.err;
  EXPECT_EQ(sse2.status, 0) << sse2.err;
}

TEST(RumelvbCommandLine, ErrorsAfterTheLogGoThroughDie) {
  CaseDir c;
  // Option values: message stream (standard error here) and the log.
  RunResult r = rumelvb(c.dir, {"-f", "data", "-x", "2", "-k", "2", "-y", "-"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, version() + "No descriptive attributes\n");
  EXPECT_EQ(read_file(c.dir.file("data_log.csv")), "No descriptive attributes\n");

  r = rumelvb(c.dir, {"-f", "data", "-k", "2"});
  EXPECT_EQ(r.err, version() + "Missing or illegal --n-attr (-x) option (Use -h for usage)\n");
  EXPECT_EQ(r.status, 1);

  // The class count is reported on standard error only.
  r = rumelvb(c.dir, {"-f", "data", "-x", "2", "-k", "1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, version() + "Missing or illegal --n-class (-k) option (Use -h for usage)\n");
  EXPECT_EQ(read_file(c.dir.file("data_log.csv")), "");

  // Value words of the longest length and any bytes end with a message,
  // never a crash. (Compared as booleans: a failure would print 64 KiB.)
  std::string junk(65535, '\xff');
  r = rumelvb(c.dir, {"-f", "data", "-x", "2", "-k", "2", "-z", junk});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err == version() + "Illegal specification for ranking -- " + junk + "\n");
  std::string itemp = std::string(65533, '\x80') + ":2";
  r = rumelvb(c.dir, {"-f", "data", "-x", "2", "-k", "2", "-B", itemp});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err == version() + "Too long input for a floating-point number: " + itemp + "\n");
}

TEST(RumelvbCommandLine, SaveMsgRoutesMessagesToTheMessageFile) {
  CaseDir c;
  RunResult r = rumelvb(c.dir, {"-f", "data", "-x", "2", "-k", "2", "-S", "--smooth-var", "var:1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(read_file(c.dir.file("data_msg.txt")),
            version() + "Illegal value for --smooth-var (-L) option\n");
  EXPECT_EQ(read_file(c.dir.file("data_log.csv")), "Illegal value for --smooth-var (-L) option\n");
}

TEST(RumelvbRun, RumelOnlyOptionWarnsAndTheRunGoesOn) {
  CaseDir c;
  RunResult r = rumelvb(c.dir, {"-f", "data", "-x", "2", "-k", "2", "--score", "cs", "-r", "1", "-j", "txt"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind(version() + "Warning: --score not supported\r\n", 0), 0u) << r.err;
  EXPECT_TRUE(std::filesystem::exists(c.dir.file("data_log.txt")));
  EXPECT_FALSE(std::filesystem::exists(c.dir.file("data_msg.txt")));
}

// Noise this large makes the starting pseudo counts infinite: the run ends
// at the first free energy instead of running to the limit with "-nan", and
// no model file is written.
TEST(RumelvbRun, AFreeEnergyThatIsNotANumberEndsTheRun) {
  CaseDir c;
  RunResult r =
      rumelvb(c.dir, {"-f", "data", "-x", "2", "-k", "2:3:1", "--noise", "1e308", "-r", "1"});
  EXPECT_EQ(r.status, 1);
  const std::string message =
      "Numerical error (compute_free_energy): Computed variational free energy is not a number\n";
  EXPECT_EQ(r.err.substr(r.err.size() - std::min(r.err.size(), message.size())), message) << r.err;
  const std::string log = read_file(c.dir.file("data_log.csv"));
  EXPECT_EQ(log.substr(log.size() - std::min(log.size(), message.size())), message);
  EXPECT_EQ(log.find("nan"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(c.dir.file("data_hparam.csv")));
}

}  // namespace
}  // namespace veska
