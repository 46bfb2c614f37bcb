// rumelvb with --threads: the same bytes in every file and message on 1, 2,
// 3 and 7 threads over data of several chunks (restarts, a class range,
// annealing, split-and-merge, the k-means start, -D -P, missing values, one
// entry per case of discrete data), and bad thread counts refused before
// anything is written.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/thread_counts.h"

namespace veska {
namespace {

using testing::chunked_cases;
using testing::kChunkedMixed;
using testing::with;

void expect_same(const std::vector<std::string>& args, const std::string& cases) {
  testing::expect_same_on_every_thread_count("rumelvb", args, cases);
}

TEST(RumelvbThreads, SameBytesOnEveryThreadCount) {
  const std::string complete = chunked_cases(0.0, {3, 2});
  expect_same(with(kChunkedMixed, {"-k", "2:4:1", "-n", "2", "-D", "-P"}), complete);
  expect_same(with(kChunkedMixed, {"-k", "3", "-b", "-m", "40"}), complete);
  expect_same(with(kChunkedMixed, {"-k", "4", "-o", "2", "-m", "30"}), complete);
  expect_same(with(kChunkedMixed, {"-k", "3", "--start", "kmeans", "-n", "2"}), complete);
  expect_same(with(kChunkedMixed, {"-k", "3", "-n", "2", "-D", "-P", "-m", "30"}),
              chunked_cases(0.04, {3, 2}));
  expect_same({"-f", "m", "-x", "2", "-k", "3", "-n", "2", "--uncompress", "--seed", "1", "-D"},
              chunked_cases(0.02, {}));
}

TEST(RumelvbThreads, BadThreadCountsEndBeforeAnyFileIsWritten) {
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
  testing::TempDir dir;
  testing::write_file(dir.file("m_freq.csv"), chunked_cases(0.0, {}));
  for (const Case& c : cases) {
    const testing::RunResult r = testing::run_program(
        "rumelvb", with({"-f", "m", "-x", "2", "-k", "3", "--threads"}, c.value), dir.path());
    EXPECT_EQ(r.status, 1) << c.message;
    EXPECT_EQ(r.err, c.message);
    EXPECT_FALSE(std::filesystem::exists(dir.file("m_log.csv"))) << c.message;
  }
}

}  // namespace
}  // namespace veska
