// rumelvb with --threads: the same bytes in every file and message on 1, 2,
// 3 and 7 threads over data of several chunks (restarts, a class range,
// annealing, split-and-merge, the k-means start, -D -P, missing values, one
// entry per case of discrete data), and bad thread counts refused before
// anything is written.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/case_data.h"
#include "tests/support/thread_counts.h"

namespace veska {
namespace {

using testing::kOtherThreadCounts;
using testing::run_with_threads;
using testing::RunOutputs;

// 5,000 cases: three chunks of entries.
std::string cases_text(double p_missing, const std::vector<int>& blocks) {
  testing::Shape shape{{3, 4}, blocks, 5000, p_missing, p_missing / 2};
  return testing::random_cases(shape);
}

void expect_same_on_every_thread_count(const std::vector<std::string>& args,
                                       const std::string& cases) {
  const std::map<std::string, std::string> inputs = {{"m_freq.csv", cases}};
  const RunOutputs one = run_with_threads("rumelvb", args, inputs, 1);
  ASSERT_EQ(one.status, 0) << one.err;
  ASSERT_GE(one.files.size(), 3u);
  for (int threads : kOtherThreadCounts) {
    EXPECT_TRUE(run_with_threads("rumelvb", args, inputs, threads) == one) << threads;
  }
}

const std::vector<std::string> kMixed = {"-f", "m", "-x", "7", "-u", "2-4#5-6", "--seed", "3"};

std::vector<std::string> with(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(RumelvbThreads, SameBytesOnEveryThreadCount) {
  const std::string complete = cases_text(0.0, {3, 2});
  expect_same_on_every_thread_count(with(kMixed, {"-k", "2:4:1", "-n", "2", "-D", "-P"}), complete);
  expect_same_on_every_thread_count(with(kMixed, {"-k", "3", "-b", "-m", "40"}), complete);
  expect_same_on_every_thread_count(with(kMixed, {"-k", "4", "-o", "2", "-m", "30"}), complete);
  expect_same_on_every_thread_count(with(kMixed, {"-k", "3", "--start", "kmeans", "-n", "2"}),
                                    complete);
  const std::string holes = cases_text(0.04, {3, 2});
  expect_same_on_every_thread_count(with(kMixed, {"-k", "3", "-n", "2", "-D", "-P", "-m", "30"}),
                                    holes);
  const std::string discrete = cases_text(0.02, {});
  expect_same_on_every_thread_count(
      {"-f", "m", "-x", "2", "-k", "3", "-n", "2", "--uncompress", "--seed", "1", "-D"}, discrete);
}

TEST(RumelvbThreads, BadThreadCountsEndBeforeAnyFileIsWritten) {
  const std::map<std::string, std::string> inputs = {{"m_freq.csv", cases_text(0.0, {})}};
  struct Case {
    std::vector<std::string> value;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"0"}, "Illegal value for --threads option\n"},
      {{"-1"}, "Illegal value for --threads option\n"},
      {{"x"}, "Illegal value for --threads option\n"},
      {{"2x"}, "Illegal value for --threads option\n"},
      {{"1025"}, "Too large value for --threads option (at most 1024)\n"},
      {{}, "Unknown/illegal option specification: --threads (Use -h for usage)\n"},
  };
  for (const Case& c : cases) {
    testing::TempDir dir;
    testing::write_file(dir.file("m_freq.csv"), inputs.at("m_freq.csv"));
    std::vector<std::string> args = {"-f", "m", "-x", "2", "-k", "3", "--threads"};
    args.insert(args.end(), c.value.begin(), c.value.end());
    const testing::RunResult r = testing::run_program("rumelvb", args, dir.path());
    EXPECT_EQ(r.status, 1) << c.message;
    EXPECT_EQ(r.err, c.message);
    EXPECT_FALSE(std::filesystem::exists(dir.file("m_log.csv"))) << c.message;
  }
}

}  // namespace
}  // namespace veska
