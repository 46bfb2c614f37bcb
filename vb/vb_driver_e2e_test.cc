// The estimation branch as a user runs it: restarts, class ranges, the
// learning curves, scores and seeds in the log, and the hyperparameter file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::lines_of;
using testing::read_file;
using testing::run_program;
using testing::source_dir;
using testing::RunResult;
using testing::TempDir;
using testing::write_file;

std::vector<std::string> fields_of(const std::string& row) {
  std::vector<std::string> out;
  size_t at = 0;
  for (;;) {
    size_t end = row.find(',', at);
    out.push_back(row.substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) return out;
    at = end + 1;
  }
}

// The IDs of a file's data matrices, in order.
std::vector<std::string> ids_of(const std::string& text) {
  std::vector<std::string> out;
  for (const std::string& line : lines_of(text)) {
    if (line.rfind("#### ID:", 0) == 0) out.push_back(line.substr(8));
  }
  return out;
}

// One data matrix: its header lines and body rows.
struct DataMatrix {
  std::vector<std::string> header;
  std::vector<std::string> rows;
};

DataMatrix matrix_of(const std::string& text, const std::string& id) {
  DataMatrix m;
  bool in = false, body = false;
  for (const std::string& line : lines_of(text)) {
    if (line.rfind("#### ID:", 0) == 0) {
      if (in) break;
      in = line == "#### ID:" + id;
      body = false;
    }
    if (!in) continue;
    if (body) {
      m.rows.push_back(line);
    } else {
      m.header.push_back(line);
      body = line == "####";
    }
  }
  return m;
}

// The last field of every body row replaced by "#": the layout without the
// fitted values.
std::string without_values(const std::string& text) {
  std::string out;
  bool body = false;
  for (const std::string& line : lines_of(text)) {
    if (line.rfind("####", 0) == 0) {
      body = line == "####";
      out += line;
    } else if (body) {
      out += line.substr(0, line.rfind(',') + 1) + "#";
    }
    out += "\r\n";
  }
  return out;
}

double number(const std::string& text) { return std::stod(text); }

// 40 cases of two well separated groups: a discrete attribute 0 (a, b, c),
// a block of attributes 1 and 2, a discrete attribute 3 (x, y).
std::string mixed_cases() {
  std::string text;
  for (int i = 0; i < 40; ++i) {
    bool first = i % 2 == 0;
    double wobble1 = ((i * 37) % 11 - 5) / 10.0;
    double wobble2 = ((i * 53) % 7 - 3) / 10.0;
    char line[128];
    snprintf(line, sizeof line, "%s,%.2f,%.2f,%s\n", first ? (i % 6 == 0 ? "b" : "a") : "c",
             (first ? 0.0 : 6.0) + wobble1, (first ? 1.0 : -2.0) + wobble2,
             (i % 3 == 0) == first ? "x" : "y");
    text += line;
  }
  return text;
}

struct Fit {
  RunResult run;
  std::string log;
  std::string hparam;
};

Fit fit(const TempDir& dir, std::vector<std::string> args) {
  std::vector<std::string> all = {"-f", "data", "-x", "4", "-u", "1,2"};
  all.insert(all.end(), args.begin(), args.end());
  Fit f;
  f.run = run_program("rumelvb", all, dir.path());
  f.log = read_file(dir.file("data_log.csv"));
  f.hparam = read_file(dir.file("data_hparam.csv"));
  return f;
}

class VbDriverE2e : public ::testing::Test {
 protected:
  void SetUp() override { write_file(dir_.file("data_freq.csv"), mixed_cases()); }
  TempDir dir_;
};

TEST_F(VbDriverE2e, SameSeedGivesTheSameBytes) {
  TempDir other;
  write_file(other.file("data_freq.csv"), mixed_cases());
  std::vector<std::string> args = {"-k", "2:3:1", "-n", "3", "-l", "5", "-r", "7"};
  Fit a = fit(dir_, args);
  Fit b = fit(other, args);
  ASSERT_EQ(a.run.status, 0) << a.run.err;
  EXPECT_EQ(a.run.err, b.run.err);
  EXPECT_EQ(a.log, b.log);
  EXPECT_EQ(a.hparam, b.hparam);
  EXPECT_FALSE(a.hparam.empty());
  // With --seed no per-restart seed is drawn.
  DataMatrix seeds = matrix_of(a.log, "SEED-K3");
  ASSERT_EQ(seeds.rows.size(), 3u);
  for (const std::string& row : seeds.rows) EXPECT_EQ(fields_of(row)[2], "N/A") << row;
}

TEST_F(VbDriverE2e, RecordedSeedReproducesTheBestRestart) {
  Fit drawn = fit(dir_, {"-k", "2", "-n", "4"});
  ASSERT_EQ(drawn.run.status, 0) << drawn.run.err;
  DataMatrix seeds = matrix_of(drawn.log, "SEED");
  ASSERT_EQ(seeds.rows.size(), 4u);
  std::smatch best_note;
  std::string note = seeds.header[2];
  ASSERT_TRUE(std::regex_match(note, best_note, std::regex("#### -- Best seed = ([0-3])")));
  int best = std::stoi(best_note[1]);
  std::vector<std::string> best_row = fields_of(seeds.rows[best]);
  double best_f = number(best_row[4]);
  for (int r = 0; r < 4; ++r) {
    std::vector<std::string> row = fields_of(seeds.rows[r]);
    EXPECT_EQ(row[0], "2");
    EXPECT_EQ(row[1], std::to_string(r));
    EXPECT_LT(std::stoull(row[2]), 1ull << 31) << "a 31-bit draw";
    EXPECT_LE(number(row[4]), best_f);
    if (r < best) {
      EXPECT_LT(number(row[4]), best_f) << "ties keep the earlier restart";
    }
  }

  TempDir again;
  write_file(again.file("data_freq.csv"), mixed_cases());
  Fit rerun = fit(again, {"-k", "2", "-n", "1", "-r", best_row[2]});
  ASSERT_EQ(rerun.run.status, 0) << rerun.run.err;
  DataMatrix one = matrix_of(rerun.log, "SEED");
  ASSERT_EQ(one.rows.size(), 1u);
  EXPECT_EQ(one.rows[0], "2,0,N/A," + best_row[3] + "," + best_row[4]);
}

TEST_F(VbDriverE2e, LearningCurvesScoresAndSeedsInTheLog) {
  Fit f = fit(dir_, {"-k", "2:3:1", "-n", "2", "-r", "5", "-c", "auto"});
  ASSERT_EQ(f.run.status, 0) << f.run.err;
  std::vector<std::string> ids = ids_of(f.log);
  // The fit's data matrices, before those of the analysis of the model.
  auto first_fit = std::find(ids.begin(), ids.end(), "AUTO-SMOOTH-CLASS-K2");
  ASSERT_GE(ids.end() - first_fit, 9);
  EXPECT_EQ(std::vector<std::string>(first_fit, first_fit + 9),
            (std::vector<std::string>{"AUTO-SMOOTH-CLASS-K2", "AUTO-SMOOTH-CAT-K2", "FREE-ENERGY-K2",
                                      "AUTO-SMOOTH-CLASS-K3", "AUTO-SMOOTH-CAT-K3", "FREE-ENERGY-K3",
                                      "SCORE", "SEED-K2", "SEED-K3"}));
  EXPECT_EQ(matrix_of(f.log, "AUTO-SMOOTH-CLASS-K3").rows,
            std::vector<std::string>{"3,0.333333333333"});
  EXPECT_EQ(matrix_of(f.log, "AUTO-SMOOTH-CAT-K2").rows,
            (std::vector<std::string>{"2,0,X0,1", "2,3,X3,1"}));

  // Each K: the restarts, the resumed best one, then its free energy.
  std::vector<std::string> msg = lines_of(f.run.err);
  std::vector<double> reported;
  std::vector<int> final_index;
  std::regex end(".* \\((Converged|Stopped): ([0-9]+) iters\\)\tF=-?[0-9]+\\.[0-9]{6}");
  std::regex energy("  Variational Free Energy = (-?[0-9]+\\.[0-9]{6})( \\(temporarily optimal\\))?");
  std::regex resumed("  <<Resumed best hyperparameter set #[01]>>");
  int last_index = -1;
  std::smatch m;
  for (size_t i = 0; i < msg.size(); ++i) {
    if (std::regex_match(msg[i], m, end)) last_index = std::stoi(m[2]);
    if (std::regex_match(msg[i], m, energy)) {
      reported.push_back(number(m[1]));
      final_index.push_back(last_index);
      ASSERT_GE(i, 2u);
      EXPECT_TRUE(std::regex_match(msg[i - 2], resumed)) << f.run.err;
    }
  }
  ASSERT_EQ(reported.size(), 2u) << f.run.err;
  std::string optimal = std::string("Optimal |Classes| = ") + (reported[1] > reported[0] ? "3" : "2");
  EXPECT_NE(std::find(msg.begin(), msg.end(), optimal), msg.end()) << f.run.err;

  for (int K : {2, 3}) {
    DataMatrix curve = matrix_of(f.log, "FREE-ENERGY-K" + std::to_string(K));
    EXPECT_EQ(curve.header, (std::vector<std::string>{
                                "#### ID:FREE-ENERGY-K" + std::to_string(K),
                                "#### Num. of classes, Num. of updates, Variational free energy", "####"}));
    ASSERT_EQ(static_cast<int>(curve.rows.size()), final_index[K - 2]) << "rows 0..t-1";
    double previous = -INFINITY;
    for (size_t i = 0; i < curve.rows.size(); ++i) {
      std::vector<std::string> row = fields_of(curve.rows[i]);
      ASSERT_EQ(row.size(), 3u);
      EXPECT_EQ(row[0], std::to_string(K));
      EXPECT_EQ(row[1], std::to_string(i));
      EXPECT_GE(number(row[2]), previous - 1e-6) << "the retained run never loses";
      previous = number(row[2]);
    }
  }

  DataMatrix score = matrix_of(f.log, "SCORE");
  ASSERT_EQ(score.rows.size(), 2u);
  int k_opt = reported[1] > reported[0] ? 3 : 2;
  EXPECT_EQ(score.header[2], "#### -- Optimal num. of classes = " + std::to_string(k_opt));
  for (int i = 0; i < 2; ++i) {
    std::vector<std::string> row = fields_of(score.rows[i]);
    EXPECT_EQ(row[0], std::to_string(i + 2));
    EXPECT_NEAR(number(row[1]), reported[i], 1e-6);
  }
  DataMatrix seeds = matrix_of(f.log, "SEED-K2");
  EXPECT_EQ(seeds.header[1],
            "#### Num. of classes, Restart, Random seed, Num. of updates, Variational free energy");
  EXPECT_EQ(seeds.rows.size(), 2u);
  // The hyperparameter file holds the selected K.
  EXPECT_EQ(matrix_of(f.hparam, "HPARAM-CLASS").rows.size(), static_cast<size_t>(k_opt));
}

TEST_F(VbDriverE2e, ProgressDisplayOfOneClassCount) {
  Fit f = fit(dir_, {"-k", "2", "-n", "2", "-r", "3"});
  ASSERT_EQ(f.run.status, 0) << f.run.err;
  // From the class count to its free energy.
  size_t from = f.run.err.find("|Classes|");
  size_t to = f.run.err.find("\r\n", f.run.err.find("  Variational Free Energy"));
  ASSERT_NE(to, std::string::npos) << f.run.err;
  std::string fitted = f.run.err.substr(from, to + 2 - from);
  std::string run = "#iters 0[.0-9]* \\(Converged: [0-9]+ iters\\)\tF=-?[0-9]+\\.[0-9]{6}\r\n";
  EXPECT_TRUE(std::regex_match(
      fitted, std::regex("\\|Classes\\| = 2:\r\n"
                         "  \\[0\\] " + run + "  \\[1\\] " + run +
                         "  <<Resumed best hyperparameter set #([01])>>\r\n"
                         "  \\[\\1\\] #iters [.0-9]* \\(Converged: [0-9]+ iters\\)\tF=-?[0-9]+\\.[0-9]{6}\r\n"
                         "  Variational Free Energy = -?[0-9]+\\.[0-9]{6}\r\n")))
      << fitted;
}

TEST_F(VbDriverE2e, OneIterationAndAnnealing) {
  Fit f = fit(dir_, {"-k", "2", "-m", "1", "-r", "3"});
  ASSERT_EQ(f.run.status, 0) << f.run.err;
  EXPECT_NE(f.run.err.find("  #iters 0 (Stopped: 1 iters)\tF="), std::string::npos) << f.run.err;
  DataMatrix curve = matrix_of(f.log, "FREE-ENERGY-K2");
  ASSERT_EQ(curve.rows.size(), 1u);
  EXPECT_EQ(curve.rows[0].rfind("2,0,", 0), 0u);

  f = fit(dir_, {"-k", "2", "-b", "-B", "0.5:2", "-r", "3", "-m", "3"});
  ASSERT_EQ(f.run.status, 0) << f.run.err;
  EXPECT_NE(f.run.err.find("  #iters *0*"), std::string::npos) << f.run.err;
  curve = matrix_of(f.log, "FREE-ENERGY-K2");
  EXPECT_EQ(curve.header[1],
            "#### Num. of classes, Num. of updates, Variational free energy, Inverse temperature");
  ASSERT_GE(curve.rows.size(), 2u);
  EXPECT_EQ(fields_of(curve.rows[0])[3], "0.5");
  EXPECT_EQ(fields_of(curve.rows.back())[3], "1");

  // Starting at temperature 1 there is a single unmarked pass.
  f = fit(dir_, {"-k", "2", "-b", "-B", "1:2", "-r", "3"});
  ASSERT_EQ(f.run.status, 0) << f.run.err;
  EXPECT_NE(f.run.err.find("  #iters 0"), std::string::npos) << f.run.err;
  EXPECT_EQ(f.run.err.find('*'), std::string::npos) << f.run.err;
}

TEST_F(VbDriverE2e, HyperparameterFileOfAMixedModel) {
  Fit f = fit(dir_, {"-k", "2", "-r", "11"});
  ASSERT_EQ(f.run.status, 0) << f.run.err;
  EXPECT_EQ(without_values(f.hparam),
            "#### ID:HPARAM-CLASS\r\n#### Class k, Class pseudo count delta(k)\r\n####\r\n"
            "0,#\r\n1,#\r\n"
            "#### ID:HPARAM-CAT0\r\n"
            "#### Attr. ID, Attr. name, Class k, Attr. value x0, Attr. pseudo count delta(x0|k)\r\n"
            "####\r\n"
            "0,X0,0,a,#\r\n0,X0,0,b,#\r\n0,X0,0,c,#\r\n0,X0,1,a,#\r\n0,X0,1,b,#\r\n0,X0,1,c,#\r\n"
            "#### ID:HPARAM-CAT3\r\n"
            "#### Attr. ID, Attr. name, Class k, Attr. value x3, Attr. pseudo count delta(x3|k)\r\n"
            "####\r\n"
            "3,X3,0,x,#\r\n3,X3,0,y,#\r\n3,X3,1,x,#\r\n3,X3,1,y,#\r\n"
            "#### ID:HPARAM-GAUSS-MEAN0\r\n#### Gauss ID, Class k, Attr. ID, Attr. name, Mean\r\n"
            "####\r\n"
            "0,0,1,X1,#\r\n0,0,2,X2,#\r\n0,1,1,X1,#\r\n0,1,2,X2,#\r\n"
            "#### ID:HPARAM-GAUSS-COVAR0\r\n"
            "#### Gauss ID, Class k, Attr. ID, Attr. ID, Attr. name, Attr. name, (Co)Variance\r\n"
            "####\r\n"
            "0,0,1,1,X1,X1,#\r\n0,0,1,2,X1,X2,#\r\n0,0,2,2,X2,X2,#\r\n"
            "0,1,1,1,X1,X1,#\r\n0,1,1,2,X1,X2,#\r\n0,1,2,2,X2,X2,#\r\n"
            "#### ID:HPARAM-GAUSS-TAU\r\n#### Class k, Tau\r\n####\r\n0,#\r\n1,#\r\n"
            "#### ID:HPARAM-GAUSS-ALPHA0\r\n#### Gauss ID, Class k, Alpha\r\n####\r\n"
            "0,0,#\r\n0,1,#\r\n");

  // The values belong to one fitted state: N_1 + N_2 = 40 cases shows in
  // every count-like hyperparameter.
  auto column_sum = [&](const std::string& id, size_t col) {
    double sum = 0;
    for (const std::string& row : matrix_of(f.hparam, id).rows) sum += number(fields_of(row)[col]);
    return sum;
  };
  double c0 = 1.0, noise = 0.1, tau0 = 0.001, alpha0 = 2.000001;
  EXPECT_GE(column_sum("HPARAM-CLASS", 1), 40 + 2 * c0);
  EXPECT_LE(column_sum("HPARAM-CLASS", 1), 40 + 2 * c0 + noise);
  EXPECT_NEAR(column_sum("HPARAM-GAUSS-TAU", 1), 40 + 2 * tau0, 1e-9);
  EXPECT_NEAR(column_sum("HPARAM-GAUSS-ALPHA0", 2), 40 + 2 * alpha0, 1e-9);
  // The two groups are found: one class per group, its means near the
  // group's centre.
  DataMatrix means = matrix_of(f.hparam, "HPARAM-GAUSS-MEAN0");
  double m0 = number(fields_of(means.rows[0])[4]), m1 = number(fields_of(means.rows[2])[4]);
  EXPECT_NEAR(std::min(m0, m1), 0.0, 0.5);
  EXPECT_NEAR(std::max(m0, m1), 6.0, 0.5);
}

TEST_F(VbDriverE2e, UnwritableHyperparameterFile) {
  std::filesystem::create_directory(dir_.file("data_hparam.csv"));
  Fit f = fit(dir_, {"-k", "2", "-r", "1"});
  EXPECT_EQ(f.run.status, 1);
  const std::string message = "Couldn't open data_hparam.csv\n";
  EXPECT_EQ(f.run.err.substr(f.run.err.size() - message.size()), message);
  EXPECT_EQ(f.log.substr(f.log.size() - message.size()), message);
}

// The shipped examples run to the end as a new user would run them.
TEST(VbDriverExamples, IrisAndBreastCancer) {
  TempDir dir;
  for (const char* name : {"iris_freq.csv", "iris_name.txt", "breast-cancer_freq.csv",
                           "breast-cancer_name.txt"}) {
    std::filesystem::copy_file(testing::source_dir() + "/examples/" + name, dir.file(name));
  }
  RunResult r = run_program("rumelvb", {"-f", "iris", "-k", "2:5:1", "-x", "5", "-u", "0-3", "-E", "4", "-r", "1"},
                            dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Optimal |Classes| = "), std::string::npos);
  // Class counts, one block's means and covariances, tau, alpha.
  EXPECT_EQ(ids_of(read_file(dir.file("iris_hparam.csv"))).size(), 5u);
  EXPECT_EQ(matrix_of(read_file(dir.file("iris_log.csv")), "SCORE").rows.size(), 4u);

  // Two identical cases of the file differ in their answer class, so they
  // cannot be merged into one entry.
  r = run_program("rumelvb", {"-f", "breast-cancer", "-k", "2:4:1", "-x", "10", "-E", "9", "-r", "1",
                              "--uncompress"},
                  dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ids_of(read_file(dir.file("breast-cancer_hparam.csv"))).size(), 10u);
}

// Both clustering programs on iris with every continuous value shifted by a
// large common offset: the clusters must be those of iris itself, and the
// objective too (a shift of the data leaves every log-density unchanged).
// iris with `offset` added to its four continuous values, in a directory
// of its own.
void write_shifted_iris(const TempDir& dir, double offset) {
  std::string text;
  const std::string iris = read_file(source_dir() + "/examples/iris_freq.csv");
  for (size_t at = 0, end; at < iris.size(); at = end + 1) {
    end = iris.find('\n', at);
    if (end == std::string::npos) end = iris.size();
    const std::vector<std::string> f = fields_of(iris.substr(at, end - at));
    if (f.size() < 5) continue;
    for (int i = 0; i < 4; ++i) {
      char value[40];
      std::snprintf(value, sizeof value, "%.17g,", std::stod(f[static_cast<size_t>(i)]) + offset);
      text += value;
    }
    text += f[4] + "\n";
  }
  write_file(dir.file("iris_freq.csv"), text);
  write_file(dir.file("iris_name.txt"), read_file(source_dir() + "/examples/iris_name.txt"));
}

// What a run chose: the objective of the SCORE row (its second field) and
// the cluster of every case.
struct ShiftedFit {
  double objective = 0.0;
  std::vector<std::string> clusters;
};

ShiftedFit shifted_fit(const std::string& program, const std::vector<std::string>& extra,
                       double offset) {
  TempDir dir;
  write_shifted_iris(dir, offset);
  std::vector<std::string> args = {"-f", "iris", "-k", "3", "-x", "5", "-u", "0-3", "-E", "4",
                                   "--seed", "1"};
  args.insert(args.end(), extra.begin(), extra.end());
  const RunResult r = run_program(program, args, dir.path());
  EXPECT_EQ(r.status, 0) << program << " offset " << offset << ": " << r.err;
  ShiftedFit fit;
  const DataMatrix score = matrix_of(read_file(dir.file("iris_log.csv")), "SCORE");
  if (!score.rows.empty()) fit.objective = std::stod(fields_of(score.rows[0])[1]);
  for (const std::string& line : lines_of(read_file(dir.file("iris_cluster.csv")))) {
    if (line.rfind("#", 0) != 0) fit.clusters.push_back(fields_of(line)[2]);
  }
  return fit;
}

void expect_shift_invariant(const std::string& program, const std::vector<std::string>& extra) {
  const ShiftedFit plain = shifted_fit(program, extra, 0.0);
  ASSERT_GE(plain.clusters.size(), 150u);  // every case, in each table of the file
  ASSERT_NE(plain.objective, 0.0);
  for (double offset : {1e6, 1e8}) {
    SCOPED_TRACE(program + " offset " + std::to_string(offset));
    const ShiftedFit shifted = shifted_fit(program, extra, offset);
    EXPECT_EQ(shifted.clusters, plain.clusters);
    // The shifted values themselves round at 2^-53 of the offset, which
    // moves the objective by about 1e-9 of itself at 1e8.
    EXPECT_NEAR(shifted.objective, plain.objective, 1e-8 * std::fabs(plain.objective));
  }
}

TEST(ShiftedData, VbemFitsIrisPlusALargeOffsetAsIris) {
  expect_shift_invariant("rumelvb", {});
}

TEST(ShiftedData, EmFitsIrisPlusALargeOffsetAsIris) {
  expect_shift_invariant("rumel", {"-n", "2"});
}

}  // namespace
}  // namespace veska
