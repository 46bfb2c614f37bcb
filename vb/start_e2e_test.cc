// --start as a user runs it: the random start is the default byte for byte,
// the k-means start is fixed by the seed and named in the log, and awkward
// tables still fit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::lines_of;
using testing::read_file;
using testing::run_program;
using testing::RunResult;
using testing::TempDir;
using testing::write_file;

// Three groups of a discrete attribute 0, a block of attributes 1 and 2 and
// a discrete attribute 3, with a few values missing.
std::string three_groups() {
  std::string text;
  for (int i = 0; i < 60; ++i) {
    const int g = i % 3;
    char line[128];
    snprintf(line, sizeof line, "%s,%.2f,%.2f,%s\n", i % 17 == 0 ? "?" : (g == 0 ? "a" : g == 1 ? "b" : "c"),
             4.0 * g + ((i * 37) % 11 - 5) / 10.0, (g == 1 ? 3.0 : -1.0) + ((i * 53) % 7 - 3) / 10.0,
             (i % 4 == 0) == (g == 2) ? "x" : "y");
    text += line;
  }
  return text;
}

// Every output file of a run in dir, and the run itself.
struct Outputs {
  RunResult run;
  std::string log, hparam, cluster, msg;
  bool operator==(const Outputs& o) const {
    return run.status == o.run.status && log == o.log && hparam == o.hparam && cluster == o.cluster &&
           msg == o.msg;
  }
};

Outputs fit(const std::string& cases, std::vector<std::string> args) {
  TempDir dir;
  write_file(dir.file("data_freq.csv"), cases);
  std::vector<std::string> all = {"-f", "data", "-x", "4", "-u", "1,2", "-S"};
  all.insert(all.end(), args.begin(), args.end());
  Outputs o;
  o.run = run_program("rumelvb", all, dir.path());
  o.log = read_file(dir.file("data_log.csv"));
  o.hparam = read_file(dir.file("data_hparam.csv"));
  o.cluster = read_file(dir.file("data_cluster.csv"));
  o.msg = read_file(dir.file("data_msg.txt"));
  return o;
}

std::string without(const std::string& text, const std::string& line) {
  std::string out;
  for (const std::string& l : lines_of(text)) {
    if (l != line) out += l + "\r\n";
  }
  return out;
}

TEST(StartE2e, RandomIsTheDefaultByteForByte) {
  const std::vector<std::string> common = {"-k", "2:4:1", "-n", "3", "-r", "5"};
  std::vector<std::string> random = common;
  random.insert(random.end(), {"--start", "random"});
  const Outputs plain = fit(three_groups(), common);
  ASSERT_EQ(plain.run.status, 0) << plain.run.err;
  EXPECT_TRUE(plain == fit(three_groups(), random));
}

TEST(StartE2e, KmeansIsFixedBySeedAndNamedInTheLog) {
  // Every restart draws its own partition from the seeded stream.
  const std::vector<std::string> args = {"-k", "3", "-n", "4", "-r", "9", "--start", "kmeans"};
  const Outputs a = fit(three_groups(), args);
  ASSERT_EQ(a.run.status, 0) << a.run.err;
  EXPECT_TRUE(a == fit(three_groups(), args));
  std::vector<std::string> random = args;
  random.back() = "random";
  const Outputs r = fit(three_groups(), random);
  // The log row is the only settings difference.
  const std::string settings_end = "#### ID:STAT-BASIC-CAT";
  const std::string a_settings = a.log.substr(0, a.log.find(settings_end));
  const std::string r_settings = r.log.substr(0, r.log.find(settings_end));
  EXPECT_NE(a_settings.find("\r\nInitial state,K-means\r\n"), std::string::npos);
  EXPECT_EQ(without(a_settings, "Initial state,K-means"), r_settings);
}

TEST(StartE2e, KmeansFitsTablesWithFewDistinctCases) {
  // Two distinct cases, each repeated, for up to 5 classes: empty groups
  // must not make the fit fail or produce a non-finite value.
  std::string text;
  for (int i = 0; i < 10; ++i) text += i % 2 ? "a,1.0,2.0,x\n" : "b,3.0,-1.0,y\n";
  const Outputs o = fit(text, {"-k", "2:5:1", "-r", "1", "--start", "kmeans", "-L", "const:1"});
  ASSERT_EQ(o.run.status, 0) << o.run.err << o.msg;
  EXPECT_EQ(o.log.find("nan"), std::string::npos);
  EXPECT_EQ(o.log.find("inf"), std::string::npos);
}

}  // namespace
}  // namespace veska
