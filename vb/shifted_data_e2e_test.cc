// Both clustering programs on iris with every continuous value shifted by a
// large common offset: the clusters must be those of iris itself, and the
// objective too (a shift of the data leaves every log-density unchanged).
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
using testing::source_dir;
using testing::TempDir;
using testing::write_file;

std::vector<std::string> fields_of(const std::string& row) {
  std::vector<std::string> out;
  size_t at = 0;
  for (;;) {
    const size_t end = row.find(',', at);
    out.push_back(row.substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) return out;
    at = end + 1;
  }
}

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

// What a run chose: the objective of the SCORE row (field `column`) and
// the cluster of every case.
struct Fit {
  double objective = 0.0;
  std::vector<std::string> clusters;
};

Fit fit_of(const std::string& program, const std::vector<std::string>& extra, double offset,
           int column) {
  TempDir dir;
  write_shifted_iris(dir, offset);
  std::vector<std::string> args = {"-f", "iris", "-k", "3", "-x", "5", "-u", "0-3", "-E", "4",
                                   "--seed", "1"};
  args.insert(args.end(), extra.begin(), extra.end());
  const testing::RunResult r = run_program(program, args, dir.path());
  EXPECT_EQ(r.status, 0) << program << " offset " << offset << ": " << r.err;
  Fit fit;
  const std::vector<std::string> log = lines_of(read_file(dir.file("iris_log.csv")));
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i] != "#### ID:SCORE") continue;
    size_t row = i + 1;
    while (row < log.size() && log[row].rfind("####", 0) == 0) ++row;
    if (row < log.size()) fit.objective = std::stod(fields_of(log[row])[static_cast<size_t>(column)]);
  }
  for (const std::string& line : lines_of(read_file(dir.file("iris_cluster.csv")))) {
    if (line.rfind("#", 0) != 0) fit.clusters.push_back(fields_of(line)[2]);
  }
  return fit;
}

void expect_shift_invariant(const std::string& program, const std::vector<std::string>& extra) {
  const Fit plain = fit_of(program, extra, 0.0, 1);
  ASSERT_GE(plain.clusters.size(), 150u);  // every case, in each table of the file
  ASSERT_NE(plain.objective, 0.0);
  for (double offset : {1e6, 1e8}) {
    SCOPED_TRACE(program + " offset " + std::to_string(offset));
    const Fit shifted = fit_of(program, extra, offset, 1);
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
