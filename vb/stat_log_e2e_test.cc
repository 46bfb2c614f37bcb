// The statistics data matrices of rumelvb's log on the shipped iris example,
// checked against means, covariances and quantiles computed here from the
// case file by the textbook formulas.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::read_file;
using testing::run_program;
using testing::RunResult;
using testing::source_dir;
using testing::TempDir;
using testing::write_file;

using Row = std::vector<std::string>;

// The body rows of one data matrix, split at commas.
std::vector<Row> body(const std::string& log, const std::string& id) {
  std::vector<Row> rows;
  size_t at = log.find("#### ID:" + id + "\r\n");
  if (at == std::string::npos) return rows;
  at = log.find("####\r\n", at) + 6;
  while (at < log.size() && log.compare(at, 4, "####") != 0) {
    size_t end = log.find("\r\n", at);
    std::string line = log.substr(at, end - at);
    Row fields;
    std::stringstream in(line);
    for (std::string field; std::getline(in, field, ',');) fields.push_back(field);
    rows.push_back(fields);
    at = end + 2;
  }
  return rows;
}

std::vector<std::string> ids(const std::string& log) {
  std::vector<std::string> out;
  for (size_t at = log.find("#### ID:"); at != std::string::npos;
       at = log.find("#### ID:", at + 1)) {
    out.push_back(log.substr(at + 8, log.find("\r\n", at) - at - 8));
  }
  return out;
}

double num(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

// Printed with 12 significant digits.
void expect_close(const std::string& printed, double want, const std::string& what) {
  EXPECT_NEAR(num(printed), want, 1e-10 * std::max(1.0, std::fabs(want))) << what;
}

// ---- the reference computation ----------------------------------------

struct Iris {
  std::vector<std::vector<double>> x;  // [attribute][case]
};

Iris read_iris(const std::string& text) {
  Iris iris;
  iris.x.resize(4);
  std::stringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) continue;
    std::stringstream fields(line);
    std::string field;
    for (int j = 0; j < 4; ++j) {
      std::getline(fields, field, ',');
      iris.x[j].push_back(num(field));
    }
  }
  return iris;
}

double mean(const std::vector<double>& v) {
  double s = 0;
  for (double x : v) s += x;
  return s / v.size();
}

// Sample covariance, divisor n - 1.
double covariance(const std::vector<double>& a, const std::vector<double>& b) {
  double ma = mean(a), mb = mean(b), s = 0;
  for (size_t i = 0; i < a.size(); ++i) s += (a[i] - ma) * (b[i] - mb);
  return s / (a.size() - 1);
}

// Linear interpolation between order statistics at (n - 1) p.
double quantile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  double h = (v.size() - 1) * p;
  size_t b = static_cast<size_t>(std::floor(h));
  if (b + 1 >= v.size()) return v.back();
  return v[b] + (h - b) * (v[b + 1] - v[b]);
}

const char* const kNames[4] = {"sepallength", "sepalwidth", "petallength", "petalwidth"};

TEST(StatisticsLog, IrisAgreesWithAnIndependentComputation) {
  TempDir dir;
  std::string cases = read_file(source_dir() + "/examples/iris_freq.csv");
  ASSERT_FALSE(cases.empty());
  write_file(dir.file("iris_freq.csv"), cases);
  write_file(dir.file("iris_name.txt"), read_file(source_dir() + "/examples/iris_name.txt"));
  RunResult r = run_program(
      "rumelvb", {"-f", "iris", "-x", "5", "-u", "0-3", "-E", "4", "-k", "3", "-r", "1"},
      dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  std::string log = read_file(dir.file("iris_log.csv"));

  // The statistics come right after the settings and before the answer
  // classes; without discrete attributes there is no STAT-BASIC-CAT.
  std::vector<std::string> all = ids(log);
  auto first = std::find(all.begin(), all.end(), "STAT-BASIC-GAUSS");
  ASSERT_NE(first, all.end());
  EXPECT_EQ(first[-1].rfind("SETTING-", 0), 0u) << first[-1];
  EXPECT_EQ(std::vector<std::string>(first, first + 8),
            (std::vector<std::string>{"STAT-BASIC-GAUSS", "STAT-PERCENTILE", "STAT-GAUSS-MEAN",
                                      "STAT-GAUSS-COVAR", "STAT-REGULAR-Q", "STAT-REGULAR-MEAN",
                                      "STAT-REGULAR-COVAR", "ANS-CLASS"}));
  EXPECT_EQ(std::count(all.begin(), all.end(), "STAT-BASIC-CAT"), 0);

  Iris iris = read_iris(cases);
  ASSERT_EQ(iris.x[0].size(), 150u);

  std::vector<Row> basic = body(log, "STAT-BASIC-GAUSS");
  ASSERT_EQ(basic.size(), 4u);
  for (int j = 0; j < 4; ++j) {
    const std::vector<double>& x = iris.x[j];
    const Row& row = basic[j];
    ASSERT_EQ(row.size(), 9u);
    EXPECT_EQ(row[0], "0");
    EXPECT_EQ(row[1], std::to_string(j));
    EXPECT_EQ(row[2], kNames[j]);
    expect_close(row[3], *std::min_element(x.begin(), x.end()), "min");
    expect_close(row[4], mean(x), "mean");
    expect_close(row[5], quantile(x, 0.5), "median");
    expect_close(row[6], *std::max_element(x.begin(), x.end()), "max");
    expect_close(row[7], covariance(x, x), "variance");
    expect_close(row[8], std::sqrt(covariance(x, x)), "sd");
  }

  std::vector<Row> percentiles = body(log, "STAT-PERCENTILE");
  ASSERT_EQ(percentiles.size(), 36u);
  const int percents[9] = {0, 5, 10, 25, 50, 75, 90, 95, 100};
  for (int j = 0; j < 4; ++j) {
    for (int i = 0; i < 9; ++i) {
      const Row& row = percentiles[j * 9 + i];
      EXPECT_EQ(row[0], std::to_string(j));
      EXPECT_EQ(row[2], std::to_string(percents[i]));
      expect_close(row[3], quantile(iris.x[j], percents[i] / 100.0), row[2] + "%");
    }
  }

  std::vector<Row> means = body(log, "STAT-GAUSS-MEAN");
  ASSERT_EQ(means.size(), 4u);
  for (int j = 0; j < 4; ++j) expect_close(means[j][3], mean(iris.x[j]), "sample mean");

  std::vector<Row> covars = body(log, "STAT-GAUSS-COVAR");
  ASSERT_EQ(covars.size(), 10u);
  size_t k = 0;
  for (int a = 0; a < 4; ++a) {
    for (int b = a; b < 4; ++b, ++k) {
      EXPECT_EQ(covars[k][1], std::to_string(a));
      EXPECT_EQ(covars[k][2], std::to_string(b));
      EXPECT_EQ(covars[k][4], kNames[b]);
      expect_close(covars[k][5], covariance(iris.x[a], iris.x[b]), "covariance");
    }
  }

  std::vector<Row> q = body(log, "STAT-REGULAR-Q");
  ASSERT_EQ(q.size(), 1u);
  EXPECT_EQ(q[0], (Row{"0.05", "0.95"}));

  // Regular statistics: a value outside its member's 5 % and 95 % quantiles
  // is left out like a missing one. Covariances sum over the cases where
  // both are kept and divide by the cases where either is kept, minus one.
  std::vector<std::vector<bool>> kept(4);
  std::vector<double> reg_mean(4);
  std::vector<Row> regular = body(log, "STAT-REGULAR-MEAN");
  ASSERT_EQ(regular.size(), 4u);
  for (int j = 0; j < 4; ++j) {
    double lo = quantile(iris.x[j], 0.05), hi = quantile(iris.x[j], 0.95);
    std::vector<double> within;
    for (double x : iris.x[j]) {
      kept[j].push_back(x >= lo && x <= hi);
      if (kept[j].back()) within.push_back(x);
    }
    ASSERT_LT(within.size(), 150u);  // iris has values outside the bounds
    reg_mean[j] = mean(within);
    expect_close(regular[j][3], *std::min_element(within.begin(), within.end()), "regular min");
    expect_close(regular[j][4], reg_mean[j], "regular mean");
    expect_close(regular[j][5], *std::max_element(within.begin(), within.end()), "regular max");
  }
  std::vector<Row> reg_covars = body(log, "STAT-REGULAR-COVAR");
  ASSERT_EQ(reg_covars.size(), 10u);
  k = 0;
  for (int a = 0; a < 4; ++a) {
    for (int b = a; b < 4; ++b, ++k) {
      double s = 0;
      int either = 0;
      for (size_t i = 0; i < 150; ++i) {
        if (kept[a][i] && kept[b][i]) s += (iris.x[a][i] - reg_mean[a]) * (iris.x[b][i] - reg_mean[b]);
        if (kept[a][i] || kept[b][i]) ++either;
      }
      expect_close(reg_covars[k][5], s / (either - 1), "regular covariance");
    }
  }
}

TEST(StatisticsLog, SingularSampleCovarianceEndsTheRun) {
  TempDir dir;
  write_file(dir.file("s_freq.csv"), "1,1\n2,2\n3,3.0\n5,5\n");
  RunResult r = run_program("rumelvb", {"-f", "s", "-x", "2", "-u", "0,1", "-k", "2"}, dir.path());
  EXPECT_EQ(r.status, 1);
  const std::string message =
      "Sample covariance matrix is singular; please specify a diagonal covariance matrix by "
      "'--smooth-var const:Var'";
  EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
  std::string log = read_file(dir.file("s_log.csv"));
  EXPECT_EQ(log.substr(log.size() - message.size()), message);
  EXPECT_EQ(log.find("STAT-"), std::string::npos);  // nothing written before the check

  r = run_program("rumelvb", {"-f", "s", "-x", "2", "-u", "0,1", "-k", "2", "-L", "const:1"},
                  dir.path());
  EXPECT_NE(read_file(dir.file("s_log.csv")).find("#### ID:STAT-GAUSS-COVAR"), std::string::npos)
      << r.err;
}

}  // namespace
}  // namespace veska
