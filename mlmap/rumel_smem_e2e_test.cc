// rumel's split-and-merge end to end: on a known mixture whose poor starts
// merge two true classes and split another, the walk reaches a better
// log-likelihood than the same restarts alone and never keeps less than its
// best restart; a single K of 2 has no candidate.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>

#include "mlmap/rumel_test_files.h"

namespace veska {
namespace {

using testing::read_sections;
using testing::real_of;
using testing::rumel;
using testing::RunResult;
using testing::TempDir;

// Six unit-variance 2-D groups in three close pairs far apart: a poor
// start puts two classes on one pair and one class on two groups.
void write_mixture(const TempDir& dir) {
  const double centres[6][2] = {{0, 0}, {0, 4}, {10, 0}, {10, 4}, {20, 10}, {24, 10}};
  std::mt19937 gen(5);
  auto normal = [&gen] {
    // Box-Muller from the generator's own 32-bit words: the same on every
    // standard library.
    const double u = (gen() + 1.0) / 4294967297.0, v = gen() / 4294967296.0;
    return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * v);
  };
  std::string text;
  char line[64];
  for (int n = 0; n < 600; ++n) {
    const double x = centres[n % 6][0] + normal();
    const double y = centres[n % 6][1] + normal();
    snprintf(line, sizeof line, "%.4f,%.4f\n", x, y);
    text += line;
  }
  testing::write_file(dir.file("mix_freq.csv"), text);
  testing::write_file(dir.file("mix_name.txt"), "x\treal\ny\treal\n");
}

double bic_of(const TempDir& dir) {
  return real_of(read_sections(dir.file("mix_log.csv"))["SCORE"].at(0).at(1));
}

TEST(RumelSmemE2e, BeatsRestartsAloneAndKeepsAtLeastTheBestRestart) {
  TempDir dir;
  write_mixture(dir);
  int better = 0;
  for (const char* seed : {"1", "2", "3", "4"}) {
    const std::vector<std::string> base = {"-f", "mix", "-k", "6", "-x", "2", "-u", "0-1", "--seed", seed};
    RunResult plain = rumel(dir, base);
    ASSERT_EQ(plain.status, 0) << plain.err;
    const double bic_plain = bic_of(dir);
    std::vector<std::string> smem = base;
    smem.insert(smem.end(), {"--n-sm", "4"});
    RunResult r = rumel(dir, smem);
    ASSERT_EQ(r.status, 0) << r.err;
    const double bic_smem = bic_of(dir);
    // Both runs stop at the convergence threshold, not at the same point.
    EXPECT_GE(bic_smem, bic_plain - 0.01) << seed << " " << bic_smem - bic_plain;
    if (bic_smem > bic_plain + 10.0) ++better;

    // The last retained run ends at least where the restart phase did.
    const auto rows = read_sections(dir.file("mix_log.csv"))["LOGLIKE-SMEM-K6"];
    ASSERT_FALSE(rows.empty());
    double restart_end = 0.0;
    for (const auto& row : rows) {
      if (row.at(1) == "0") restart_end = real_of(row.at(3));
    }
    EXPECT_GE(real_of(rows.back().at(3)), restart_end) << seed;
    EXPECT_EQ(read_sections(dir.file("mix_log.csv"))["SMEM-EM-STAT-K6"].size(), 5u);
    EXPECT_EQ(read_sections(dir.file("mix_log.csv"))["SMEM-OP-STAT-K6"].size(), 4u);
  }
  EXPECT_EQ(better, 4) << "every poor start is repaired";
}

TEST(RumelSmemE2e, TwoClassesHaveNoCandidate) {
  TempDir dir;
  write_mixture(dir);
  RunResult r = rumel(dir, {"-f", "mix", "-k", "2", "-x", "2", "-u", "0-1", "--seed", "1", "--n-sm", "1"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("  [0] #iters 0"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("  [Op=1]\r\n  <<All candidates are rejected>>\r\n"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace veska
