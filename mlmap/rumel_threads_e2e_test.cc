// rumel with --threads: the same bytes in every file and message on 1, 2, 3
// and 7 threads over data of several chunks (restarts, a class range,
// annealing, split-and-merge, both domains, the k-means start, -D, missing
// values, one entry per case of discrete data), and a bad thread count
// refused before anything is written.
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
  testing::expect_same_on_every_thread_count("rumel", args, cases);
}

TEST(RumelThreads, SameBytesOnEveryThreadCount) {
  const std::string complete = chunked_cases(0.0, {3, 2});
  expect_same(with(kChunkedMixed, {"-k", "2:4:1", "-n", "2", "-D"}), complete);
  expect_same(with(kChunkedMixed, {"-k", "3", "-b", "-m", "40"}), complete);
  expect_same(with(kChunkedMixed, {"-k", "4", "-o", "2", "-m", "30"}), complete);
  expect_same(with(kChunkedMixed, {"-k", "3", "--log-scale", "--autoclass"}), complete);
  expect_same(with(kChunkedMixed, {"-k", "3", "--start", "kmeans", "-n", "2"}), complete);
  expect_same(with(kChunkedMixed, {"-k", "3", "-n", "2", "-D", "-m", "30"}),
              chunked_cases(0.04, {3, 2}));
  expect_same({"-f", "m", "-x", "2", "-k", "3", "-n", "2", "--uncompress", "--seed", "1",
               "--autoclass"},
              chunked_cases(0.02, {}));
}

TEST(RumelThreads, ABadThreadCountEndsBeforeAnyFileIsWritten) {
  testing::TempDir dir;
  testing::write_file(dir.file("m_freq.csv"), chunked_cases(0.0, {}));
  const testing::RunResult r = testing::run_program(
      "rumel", {"-f", "m", "-x", "2", "-k", "3", "--threads", "0"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Illegal value for --threads option\n");
  EXPECT_FALSE(std::filesystem::exists(dir.file("m_log.csv")));
}

}  // namespace
}  // namespace veska
