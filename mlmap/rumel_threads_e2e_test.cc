// rumel with --threads: the same bytes in every file and message on 1, 2, 3
// and 7 threads over data of several chunks (restarts, a class range,
// annealing, split-and-merge, both domains, -D, missing values, one entry per
// case of discrete data), and a bad thread count refused before anything is
// written.
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

std::string cases_text(double p_missing, const std::vector<int>& blocks) {
  testing::Shape shape{{3, 4}, blocks, 5000, p_missing, p_missing / 2};
  return testing::random_cases(shape);
}

void expect_same_on_every_thread_count(const std::vector<std::string>& args,
                                       const std::string& cases) {
  const std::map<std::string, std::string> inputs = {{"m_freq.csv", cases}};
  const RunOutputs one = run_with_threads("rumel", args, inputs, 1);
  ASSERT_EQ(one.status, 0) << one.err;
  ASSERT_GE(one.files.size(), 3u);
  for (int threads : kOtherThreadCounts) {
    EXPECT_TRUE(run_with_threads("rumel", args, inputs, threads) == one) << threads;
  }
}

const std::vector<std::string> kMixed = {"-f", "m", "-x", "7", "-u", "2-4#5-6", "--seed", "3"};

std::vector<std::string> with(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(RumelThreads, SameBytesOnEveryThreadCount) {
  const std::string complete = cases_text(0.0, {3, 2});
  expect_same_on_every_thread_count(with(kMixed, {"-k", "2:4:1", "-n", "2", "-D"}), complete);
  expect_same_on_every_thread_count(with(kMixed, {"-k", "3", "-b", "-m", "40"}), complete);
  expect_same_on_every_thread_count(with(kMixed, {"-k", "4", "-o", "2", "-m", "30"}), complete);
  expect_same_on_every_thread_count(with(kMixed, {"-k", "3", "--log-scale", "--autoclass"}),
                                    complete);
  const std::string holes = cases_text(0.04, {3, 2});
  expect_same_on_every_thread_count(with(kMixed, {"-k", "3", "-n", "2", "-D", "-m", "30"}), holes);
  const std::string discrete = cases_text(0.02, {});
  expect_same_on_every_thread_count(
      {"-f", "m", "-x", "2", "-k", "3", "-n", "2", "--uncompress", "--seed", "1", "--autoclass"},
      discrete);
}

TEST(RumelThreads, ABadThreadCountEndsBeforeAnyFileIsWritten) {
  testing::TempDir dir;
  testing::write_file(dir.file("m_freq.csv"), cases_text(0.0, {}));
  const testing::RunResult r = testing::run_program(
      "rumel", {"-f", "m", "-x", "2", "-k", "3", "--threads", "0"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Illegal value for --threads option\n");
  EXPECT_FALSE(std::filesystem::exists(dir.file("m_log.csv")));
}

}  // namespace
}  // namespace veska
