// rumelvb -H as a user runs it: a model fitted on mixed data with missing
// values, read back on the same cases, gives the same clusters and the same
// memberships; edited, damaged and incomplete hyperparameter files end in
// the reader's messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "vb/vb_test_data.h"

namespace veska {
namespace {

using testing::lines_of;
using testing::read_file;
using testing::run_program;
using testing::RunResult;
using testing::TempDir;
using testing::write_file;

std::vector<std::string> fields_of(const std::string& row, char delimiter) {
  std::vector<std::string> out;
  size_t at = 0;
  for (;;) {
    size_t end = row.find(delimiter, at);
    out.push_back(row.substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) return out;
    at = end + 1;
  }
}

// The body rows of data matrix `id`, split into fields.
std::vector<std::vector<std::string>> rows_of(const std::string& text, const std::string& id,
                                              char delimiter = ',') {
  std::vector<std::vector<std::string>> rows;
  bool inside = false;
  for (const std::string& line : lines_of(text)) {
    if (line.rfind("#### ID:", 0) == 0) inside = line.substr(8) == id;
    if (inside && line.rfind("#", 0) != 0) rows.push_back(fields_of(line, delimiter));
  }
  return rows;
}

// Discrete attributes 0 (3 values) and 1 (2 values), the blocks (2, 3) and
// (4), about 5 % of the values missing.
testing::Shape mixed_shape() {
  testing::Shape shape;
  shape.discrete = {3, 2};
  shape.blocks = {2, 1};
  shape.lines = 150;
  shape.p_missing = 0.05;
  shape.seed = 7;
  return shape;
}

const std::vector<std::string> kOptions = {"-f", "d", "-k", "3", "-x", "5", "-u", "2,3",
                                           "-u", "4", "--seed", "11", "-D"};

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

class ReadHparamRun : public ::testing::Test {
 protected:
  // Writes the cases (csv or txt) and fits them.
  void fit(bool txt, const std::vector<std::string>& more = {}) {
    std::string cases = testing::random_cases(mixed_shape());
    if (txt) std::replace(cases.begin(), cases.end(), ',', '\t');
    ext_ = txt ? "txt" : "csv";
    delim_ = txt ? '\t' : ',';
    write_file(file("freq"), cases);
    RunResult r = run_program("rumelvb", with(kOptions, more), dir_.path());
    ASSERT_EQ(r.status, 0) << r.err;
    fit_memp_ = read_file(file("memp"));
    fit_cluster_ = read_file(file("cluster"));
    hparam_ = read_file(file("hparam"));
    ASSERT_FALSE(hparam_.empty());
    std::filesystem::remove(file("memp"));
    std::filesystem::remove(file("cluster"));
  }
  RunResult read_back(const std::vector<std::string>& more = {}) {
    return run_program("rumelvb", with(with(kOptions, {"-H"}), more), dir_.path());
  }
  std::string file(const std::string& kind) const { return dir_.file("d_" + kind + "." + ext_); }

  // Largest difference of the membership probabilities P(k|x) of the two
  // runs, absolute and in their logarithms; the rows must match otherwise.
  void compare_memberships(const std::string& memp, double* abs_diff, double* log_diff) {
    auto fitted = rows_of(fit_memp_, "MEMBER-CASE", delim_);
    auto read = rows_of(memp, "MEMBER-CASE", delim_);
    ASSERT_EQ(fitted.size(), read.size());
    ASSERT_EQ(fitted.size(), 150u * 3);
    *abs_diff = *log_diff = 0.0;
    for (size_t i = 0; i < fitted.size(); ++i) {
      const size_t n = fitted[i].size();
      ASSERT_EQ(read[i].size(), n);
      // Case ID, values and class k are the same text.
      for (size_t f = 0; f + 4 < n; ++f) ASSERT_EQ(read[i][f], fitted[i][f]) << i;
      const double a = std::strtod(fitted[i][n - 1].c_str(), nullptr);
      const double b = std::strtod(read[i][n - 1].c_str(), nullptr);
      ASSERT_TRUE(std::isfinite(b));
      *abs_diff = std::max(*abs_diff, std::fabs(a - b));
      if (a > 0 && b > 0) *log_diff = std::max(*log_diff, std::fabs(std::log(a) - std::log(b)));
    }
  }
  // (case ID, cluster) of every case.
  std::vector<std::pair<std::string, std::string>> clusters(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& row : rows_of(text, "CLUSTER-CASE-BY-CASE", delim_)) out.emplace_back(row[0], row[1]);
    return out;
  }

  void round_trip(bool txt) {
    fit(txt);
    RunResult r = read_back();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Reading hyperparameters from d_hparam." + ext_ + "...done\r\n"),
              std::string::npos);
    ASSERT_EQ(clusters(fit_cluster_).size(), 150u);
    EXPECT_EQ(clusters(read_file(file("cluster"))), clusters(fit_cluster_));
    double abs_diff = 0, log_diff = 0;
    compare_memberships(read_file(file("memp")), &abs_diff, &log_diff);
    // Measured: 2e-12 and 6e-11.
    EXPECT_LT(abs_diff, 1e-10);
    EXPECT_LT(log_diff, 1e-9);
    // Nothing estimated, nothing written back.
    EXPECT_EQ(read_file(file("hparam")), hparam_);
  }

  TempDir dir_;
  std::string ext_ = "csv";
  char delim_ = ',';
  std::string fit_memp_, fit_cluster_, hparam_;
};

// The file keeps 12 significant digits: a relative change of up to 5e-12 in
// every value, which the log densities (tens in size, through inverses of the
// covariances) turn into differences of some 1e-10 in ln P(k|x), far less in
// P(k|x) itself.
TEST_F(ReadHparamRun, RoundTripGivesTheFittedClustersAndMembershipsCsv) { round_trip(false); }
TEST_F(ReadHparamRun, RoundTripGivesTheFittedClustersAndMembershipsTxt) { round_trip(true); }

// With 17 digits every double comes back exactly; only sums over values in
// another code order may differ in the last bit.
TEST_F(ReadHparamRun, SeventeenDigitsReproduceTheMemberships) {
  fit(false, {"--prec-out", "17"});
  RunResult r = read_back({"--prec-out", "17"});
  ASSERT_EQ(r.status, 0) << r.err;
  double abs_diff = 0, log_diff = 0;
  compare_memberships(read_file(file("memp")), &abs_diff, &log_diff);
  EXPECT_LT(abs_diff, 1e-15);
  EXPECT_LT(log_diff, 1e-13);
}

TEST_F(ReadHparamRun, LogShowsTheReadModelAndNoEstimation) {
  fit(false);
  RunResult r = read_back({"--verbose", "-P"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string log = read_file(file("log"));
  EXPECT_NE(log.find("Input,Hyperparameters,d_hparam.csv\r\n"), std::string::npos);
  EXPECT_EQ(rows_of(log, "ATTVAL0"), (std::vector<std::vector<std::string>>{{"0", "a"}, {"1", "b"}, {"2", "c"}}));
  EXPECT_EQ(rows_of(log, "ATTVAL1").size(), 2u);
  EXPECT_EQ(rows_of(log, "PARAMSIZE")[0][0], "3");
  for (const char* absent : {"ID:STAT-", "ID:SCORE", "ID:SEED", "ID:FREE-ENERGY", "ID:HPARAM-"}) {
    EXPECT_EQ(log.find(absent), std::string::npos) << absent;
  }
  EXPECT_LT(log.find("ID:ATTVAL1"), log.find("ID:DATASIZE"));
  EXPECT_NE(log.find("ID:CLUSTER-FREQ-CASE"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(file("predict")));
}

TEST_F(ReadHparamRun, EditedIdsStillReadByPosition) {
  fit(false);
  ASSERT_EQ(read_back().status, 0);
  const std::string memp = read_file(file("memp"));
  std::string edited = hparam_;
  for (size_t at = edited.find("#### ID:"); at != std::string::npos; at = edited.find("#### ID:", at + 1)) {
    edited.insert(at + 8, "EDITED-");
  }
  write_file(file("hparam"), edited);
  RunResult r = read_back();
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(file("memp")), memp);
}

TEST_F(ReadHparamRun, IncompleteOrInconsistentFilesStop) {
  fit(false);
  // Without the last data matrix (alpha of block 1): 1 + 2 + 2 * 2 + 1 + 1.
  std::string shorter = hparam_.substr(0, hparam_.find("#### ID:HPARAM-GAUSS-ALPHA1"));
  write_file(file("hparam"), shorter);
  RunResult r = read_back();
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Insufficiennt hyperparameter specifications in d_hparam.csv (#data-matrices = 9)\n"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(std::filesystem::exists(file("memp")));

  // Class 1 lists the first two values of attribute 0 the other way round.
  std::vector<std::string> lines = lines_of(hparam_);
  auto first = std::find_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.rfind("0,X0,1,", 0) == 0; });
  ASSERT_NE(first, lines.end());
  std::iter_swap(first, first + 1);
  std::string swapped;
  for (const std::string& l : lines) swapped += l + "\r\n";
  write_file(file("hparam"), swapped);
  r = read_back();
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Found an inconsistent entry -- " + *first), std::string::npos) << r.err;

  // A bad row: the line error reaches the log as well.
  write_file(file("hparam"), "#### ID:HPARAM-CLASS\r\n####\r\n0,1,2\r\n");
  r = read_back();
  EXPECT_EQ(r.status, 1);
  const std::string expected = "[d_hparam.csv, Line 3, ID:247] Unexpected # of fields for class probs\n";
  EXPECT_NE(r.err.find(expected), std::string::npos) << r.err;
  EXPECT_NE(read_file(file("log")).find(expected), std::string::npos);

  std::filesystem::remove(file("hparam"));
  r = read_back();
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Couldn't find the input file (neither d_hparam.txt nor d_hparam.csv)"),
            std::string::npos)
      << r.err;
}

TEST_F(ReadHparamRun, CasesMayUseOnlyTheModelsValues) {
  fit(false);
  std::string cases = read_file(file("freq"));
  cases.replace(0, 1, "q");  // first case, attribute 0
  write_file(file("freq"), cases);
  RunResult r = read_back();
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Unknown attribute value -- q"), std::string::npos) << r.err;
}

// Random damage to a fitted file: every run ends with status 0 and finite
// memberships, or with status 1 and a message.
TEST_F(ReadHparamRun, DamagedFilesEndInAModelOrAMessage) {
  fit(false);
  std::mt19937 rng(2024);
  const std::string pieces[] = {",", "\r\n", "-", "0", "1e308", "1e-308", "nan", "9", "-1", "#"};
  int ok = 0;
  for (int trial = 0; trial < 60; ++trial) {
    std::string text = hparam_;
    const size_t at = rng() % text.size();
    switch (trial % 3) {
      case 0:
        text.erase(at, 1 + rng() % 20);
        break;
      case 1:
        text.insert(at, pieces[rng() % (sizeof pieces / sizeof pieces[0])]);
        break;
      default:
        text[at] = static_cast<char>(rng() & 0xff);
    }
    write_file(file("hparam"), text);
    std::filesystem::remove(file("memp"));
    RunResult r = read_back();
    ASSERT_TRUE(r.status == 0 || r.status == 1) << r.status << r.err;
    if (r.status == 1) {
      EXPECT_FALSE(r.err.empty());
      continue;
    }
    ++ok;
    for (const auto& row : rows_of(read_file(file("memp")), "MEMBER-CASE")) {
      const double p = std::strtod(row.back().c_str(), nullptr);
      ASSERT_TRUE(p >= 0.0 && p <= 1.0) << row.back() << "\n" << text;
    }
  }
  EXPECT_GT(ok, 0);
}

}  // namespace
}  // namespace veska
