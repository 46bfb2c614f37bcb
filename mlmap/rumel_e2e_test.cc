// rumel as a user runs it: bad options end with their messages and status
// 1; the iris fit reaches the known maximum; the log domain, compression,
// reruns, a recorded restart seed and a change of units all give what they
// must; the files hold their data matrices in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "mlmap/rumel_test_files.h"
#include "tests/support/case_data.h"

namespace veska {
namespace {

using testing::real_of;
using testing::rumel;
using testing::RunResult;
using testing::TempDir;

// The iris sample in the temporary directory; with `scale` its lengths in
// other units.
void copy_iris(const TempDir& dir, double scale = 1.0) {
  const std::string base = testing::source_dir() + "/examples/iris";
  testing::write_file(dir.file("iris_name.txt"), testing::read_file(base + "_name.txt"));
  std::string text = testing::read_file(base + "_freq.csv");
  if (scale != 1.0) {
    std::string out;
    std::stringstream ss(text);
    for (std::string line; std::getline(ss, line);) {
      std::stringstream ls(line);
      std::string f, row;
      for (int j = 0; j < 4 && std::getline(ls, f, ','); ++j) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.17g,", real_of(f) * scale);
        row += buf;
      }
      std::getline(ls, f);
      out += row + f + "\n";
    }
    text = out;
  }
  testing::write_file(dir.file("iris_freq.csv"), text);
}

const std::vector<std::string> kIris = {"-f", "iris", "-k", "3", "-x", "5", "-u", "0-3", "-E", "4"};

std::vector<std::string> with(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The last row of the kept run's learning curve.
std::vector<std::string> final_row(const TempDir& dir, const std::string& base, int K) {
  return testing::read_sections(dir.file(base + "_log.csv"))["LOGLIKE-K" + std::to_string(K)].back();
}

TEST(RumelE2e, BadOptionsEndWithTheirMessages) {
  TempDir dir;
  copy_iris(dir);
  testing::write_file(dir.file("iris_param.csv"), "");
  struct Case {
    std::vector<std::string> extra;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"-g", "aic"}, "Unexpected information criterion: aic (Use -h for usage)\n"},
      {{"--init-c", "v_freq"}, "Unknown initialization method -- v_freq (Use -h for usage)\n"},
      {{"-m", "10001"}, "Maximum number of iterations cannot exceed 10000\n"},
      {{"-g", "cs"}, "Couldn't use the AUTOCLASS mode unless all smoothing constant > 0\n"},
      {{"-P"}, "Unknown/illegal option specification: -P (Use -h for usage)\n"},
      {{"-R"}, "Insufficiennt parameter specifications in iris_param.csv (#data-matrices = 0)\n"},
  };
  for (const Case& c : cases) {
    RunResult r = rumel(dir, with(kIris, c.extra));
    EXPECT_EQ(r.status, 1) << c.message;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

TEST(RumelE2e, PriorsAndClassCountFromARumelvbModel) {
  TempDir dir;
  copy_iris(dir);
  ASSERT_EQ(testing::run_program("rumelvb", with(kIris, {"--seed", "1"}), dir.path()).status, 0);
  RunResult r = rumel(dir, {"-f", "iris", "-x", "5", "-u", "0-3", "-E", "4", "--seed", "1", "-H"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("#classes = 3:"), std::string::npos);
  const testing::Sections log = testing::read_sections(dir.file("iris_log.csv"));
  EXPECT_EQ(log.at("LOGLIKE-K3")[0].size(), 5u);  // L, LP and O: MAP
  EXPECT_NE(log.at("SCORE")[0][2], "N/A");        // every pseudo count above 1

  // A class pseudo count of exactly 1 cannot serve as a MAP prior.
  std::string file = testing::read_file(dir.file("iris_hparam.csv"));
  const size_t row = file.find("####\r\n0,") + 8;
  file.replace(row, file.find("\r\n", row) - row, "1");
  testing::write_file(dir.file("iris_hparam.csv"), file);
  r = rumel(dir, {"-f", "iris", "-x", "5", "-u", "0-3", "-E", "4", "-H"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Pseudo counts read from iris_hparam.csv should be all positive\n"),
            std::string::npos) << r.err;
}

TEST(RumelE2e, StoppingRulesAndAnnealing) {
  TempDir dir;
  copy_iris(dir);
  RunResult r = rumel(dir, with(kIris, {"--seed", "1", "-m", "5", "--show-attr-cluster"}));
  EXPECT_NE(r.err.find("#classes = 3:\r\n  #iters 0 (Stopped: 5 iters)\tL="), std::string::npos) << r.err;
  EXPECT_EQ(testing::read_sections(dir.file("iris_log.csv")).at("LOGLIKE-K3").size(), 6u);
  // rumel names the per-case clustering of a block by its cases.
  EXPECT_EQ(testing::read_sections(dir.file("iris_cluster.csv")).count("CLUSTER-GAUSS0-BY-CASE"), 1u);
  r = rumel(dir, with(kIris, {"--seed", "1", "-e", "1e9"}));
  EXPECT_NE(r.err.find("(Converged: 1 iters)"), std::string::npos) << r.err;

  // From beta 0.1 at rate 1.2 the temperature reaches 1 after 13 increases:
  // 14 temperatures, each opened by a star.
  r = rumel(dir, with(kIris, {"--seed", "1", "--daem", "-B", "0.1:1.2"}));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string line = r.err.substr(r.err.find("#iters"));
  EXPECT_EQ(std::count(line.begin(), line.begin() + line.find('\n'), '*'), 14);
  const auto curve = testing::read_sections(dir.file("iris_log.csv")).at("LOGLIKE-K3");
  EXPECT_EQ(curve.front()[3], "0.1");
  EXPECT_EQ(curve.back()[3], "1");

  // Preliminary runs stop at the restart limit; the best one continues.
  r = rumel(dir, with(kIris, {"--seed", "1", "-n", "3", "-l", "4"}));
  ASSERT_EQ(r.status, 0) << r.err;
  const testing::Sections log = testing::read_sections(dir.file("iris_log.csv"));
  for (const auto& row : log.at("SEED")) EXPECT_EQ(row[3], "4");
  EXPECT_GT(log.at("LOGLIKE-K3").size(), 5u);
}

TEST(RumelE2e, KmeansStartReachesTheIrisMaximumAndRandomIsTheDefault) {
  // Ten restarts from k-means partitions, the default noise and threshold:
  // the known maximum, within the threshold, whatever the seed.
  for (const char* seed : {"1", "2", "3"}) {
    TempDir dir;
    copy_iris(dir);
    RunResult r = rumel(dir, with(kIris, {"--start", "kmeans", "-n", "10", "--seed", seed}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NEAR(real_of(final_row(dir, "iris", 3)[2]), -180.99696, 1e-3) << "seed " << seed;
  }
  TempDir plain, random;
  copy_iris(plain);
  copy_iris(random);
  ASSERT_EQ(rumel(plain, with(kIris, {"-n", "3", "--seed", "4"})).status, 0);
  ASSERT_EQ(rumel(random, with(kIris, {"-n", "3", "--seed", "4", "--start", "random"})).status, 0);
  for (const char* file : {"iris_log.csv", "iris_param.csv", "iris_cluster.csv"}) {
    EXPECT_EQ(testing::read_file(plain.file(file)), testing::read_file(random.file(file))) << file;
  }
  // The same seed, the same partitions and bytes.
  for (const TempDir* dir : {&plain, &random}) {
    ASSERT_EQ(rumel(*dir, with(kIris, {"-n", "3", "--seed", "4", "--start", "kmeans"})).status, 0);
  }
  EXPECT_EQ(testing::read_file(plain.file("iris_log.csv")), testing::read_file(random.file("iris_log.csv")));
  EXPECT_EQ(testing::read_file(plain.file("iris_param.csv")), testing::read_file(random.file("iris_param.csv")));
}

TEST(RumelE2e, IrisReachesTheKnownMaximum) {
  // ML, one 4-D block, K = 3: wide starting means and 20 restarts.
  TempDir dir;
  copy_iris(dir);
  RunResult r = rumel(dir, with(kIris, {"-n", "20", "--seed", "1", "--noise-gauss", "3", "-e", "1e-9"}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NEAR(real_of(final_row(dir, "iris", 3)[2]), -180.99696, 5e-6);
  EXPECT_NE(r.err.find("<<Resumed best parameter set #"), std::string::npos);
  const testing::Sections log = testing::read_sections(dir.file("iris_log.csv"));
  EXPECT_EQ(log.at("SEED").size(), 20u);
  EXPECT_EQ(log.at("SCORE")[0][2], "N/A");  // no prior: no Cheeseman-Stutz score
  // The parameter file in the order it is read back.
  std::vector<std::string> ids;
  for (const std::string& line : testing::lines_of(testing::read_file(dir.file("iris_param.csv")))) {
    if (line.rfind("#### ID:", 0) == 0) ids.push_back(line.substr(8));
  }
  EXPECT_EQ(ids, (std::vector<std::string>{"PARAM-CLASS", "PARAM-GAUSS-MEAN0", "PARAM-GAUSS-COVAR0"}));
}

TEST(RumelE2e, ReproducibleAndIndependentOfDomainAndCompression) {
  TempDir dir;
  testing::Shape shape{{3, 2, 4}, {2}, 200, 0.05, 0.03};
  testing::write_file(dir.file("m_freq.csv"), testing::random_cases(shape));
  const std::vector<std::string> base = {"-f", "m", "-k", "2:4:1", "-x", "5", "-u", "3,4",
                                         "--autoclass", "-n", "3", "--seed", "5", "-D",
                                         "--prec-out", "17"};
  ASSERT_EQ(rumel(dir, base).status, 0);
  const std::string log1 = testing::read_file(dir.file("m_log.csv"));
  const std::string memp1 = testing::read_file(dir.file("m_memp.csv"));
  ASSERT_EQ(rumel(dir, base).status, 0);
  EXPECT_EQ(testing::read_file(dir.file("m_log.csv")), log1);
  EXPECT_EQ(testing::read_file(dir.file("m_memp.csv")), memp1);

  auto curves = [&](const std::string& log_text) {
    testing::write_file(dir.file("tmp_log.csv"), log_text);
    return testing::read_sections(dir.file("tmp_log.csv"));
  };
  const testing::Sections normal = curves(log1);
  ASSERT_EQ(rumel(dir, with(base, {"--log-scale"})).status, 0);
  const testing::Sections log_domain = curves(testing::read_file(dir.file("m_log.csv")));
  for (int K = 2; K <= 4; ++K) {
    const auto& a = normal.at("LOGLIKE-K" + std::to_string(K));
    const auto& b = log_domain.at("LOGLIKE-K" + std::to_string(K));
    ASSERT_EQ(a.size(), b.size());
    for (size_t t = 0; t < a.size(); ++t) {
      EXPECT_NEAR(real_of(b[t][4]), real_of(a[t][4]), 1e-9 * std::fabs(real_of(a[t][4])));
    }
  }

  // Repeated discrete patterns: compressed entries and one entry per case.
  std::string repeated;
  for (int i = 0; i < 30; ++i) repeated += std::string(1, "abc"[i % 3]) + "," + "xy"[i % 2 * (i % 5 > 1)] + "\n";
  testing::write_file(dir.file("c_freq.csv"), repeated);
  const std::vector<std::string> cat = {"-f", "c", "-k", "2", "-x", "2", "--autoclass", "--seed", "2"};
  ASSERT_EQ(rumel(dir, cat).status, 0);
  const double compressed = real_of(final_row(dir, "c", 2)[4]);
  ASSERT_EQ(rumel(dir, with(cat, {"--uncompress"})).status, 0);
  EXPECT_NEAR(real_of(final_row(dir, "c", 2)[4]), compressed, 1e-9 * std::fabs(compressed));
}

TEST(RumelE2e, RecordedRestartSeedReproducesThatRestart) {
  TempDir dir;
  copy_iris(dir);
  ASSERT_EQ(rumel(dir, with(kIris, {"-n", "3", "--prec-out", "17"})).status, 0);
  const auto seeds = testing::read_sections(dir.file("iris_log.csv")).at("SEED");
  ASSERT_EQ(seeds.size(), 3u);
  const std::vector<std::string>& second = seeds[1];
  ASSERT_EQ(rumel(dir, with(kIris, {"-n", "1", "--seed", second[2], "--prec-out", "17"})).status, 0);
  const auto again = testing::read_sections(dir.file("iris_log.csv")).at("SEED");
  EXPECT_EQ(again[0][3], second[3]);  // updates
  EXPECT_EQ(again[0][4], second[4]);  // log-likelihood
  EXPECT_EQ(again[0][2], "N/A");
}

TEST(RumelE2e, UnitsOfTheDataDoNotChangeTheFit) {
  // Iris in metres: the same clusters; the log-likelihood differs by
  // exactly N D ln 100 (the densities scale by 100^-D per case). Under MAP
  // the prior scales with the sample covariance and follows the data.
  TempDir cm, m;
  copy_iris(cm);
  copy_iris(m, 0.01);
  auto clusters = [](const TempDir& dir) {
    std::vector<std::string> out;
    const testing::Sections sections = testing::read_sections(dir.file("iris_cluster.csv"));
    for (auto& row : sections.at("CLUSTER-CASE-BY-CASE")) out.push_back(row[2]);
    return out;
  };
  for (const std::vector<std::string>& prior : {std::vector<std::string>{}, {"--autoclass"}}) {
    const std::vector<std::string> args =
        with(with(kIris, {"-n", "5", "--seed", "3", "--prec-out", "17"}), prior);
    ASSERT_EQ(rumel(cm, args).status, 0);
    ASSERT_EQ(rumel(m, args).status, 0);
    const double l_cm = real_of(final_row(cm, "iris", 3)[2]);
    const double l_m = real_of(final_row(m, "iris", 3)[2]);
    EXPECT_NEAR(l_m - l_cm, 150 * 4 * std::log(100.0), 1e-6) << prior.size();
    EXPECT_EQ(clusters(m), clusters(cm)) << prior.size();
  }
}

}  // namespace
}  // namespace veska
