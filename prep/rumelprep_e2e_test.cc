// The README's "your own table" job: rumelprep on the shipped table, then
// the rumelvb line it prints, run as a user would.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::read_file;
using testing::run_program;

std::vector<std::string> words_of(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

// The body rows of a data matrix of a file the clustering programs wrote.
std::vector<std::string> rows_of(const std::string& file, const std::string& id) {
  std::vector<std::string> rows;
  bool inside = false, body = false;
  for (const std::string& line : testing::lines_of(file)) {
    if (line.rfind("#### ID:", 0) == 0) {
      inside = line == "#### ID:" + id;
      body = false;
    } else if (inside && line == "####") {
      body = true;
    } else if (inside && body) {
      rows.push_back(line);
    }
  }
  return rows;
}

TEST(RumelprepEndToEnd, ShippedTableToClustersTwiceTheSame) {
  testing::TempDir dir;
  std::string table = testing::source_dir() + "/examples/customers.csv";
  testing::RunResult prep = run_program(
      "rumelprep", {table, "-f", "customers", "--id", "customer", "--class", "churned", "--ignore", "note"},
      dir.path());
  ASSERT_EQ(prep.status, 0) << prep.err;
  EXPECT_EQ(prep.err, "");
  size_t at = prep.out.find("\n  rumelvb ");
  ASSERT_NE(at, std::string::npos) << prep.out;
  std::string command = prep.out.substr(at + 3, prep.out.find('\n', at + 1) - at - 3);
  EXPECT_EQ(command, "rumelvb -f customers -k 2:5:1 -x 7 -u 2-3,5 -E 6 -I 0 --seed 1");

  std::vector<std::string> args = words_of(command);
  args.erase(args.begin());
  testing::RunResult fit = run_program("rumelvb", args, dir.path());
  ASSERT_EQ(fit.status, 0) << fit.err;
  std::string cluster = read_file(dir.file("customers_cluster.csv"));
  std::vector<std::string> by_case = rows_of(cluster, "CLUSTER-CASE-BY-CASE");
  ASSERT_EQ(by_case.size(), 48u);
  EXPECT_EQ(by_case[0].substr(0, 8), "C001,no,");
  // The quoted city with its comma is one value of five.
  std::string log = read_file(dir.file("customers_log.csv"));
  EXPECT_EQ(rows_of(log, "STAT-BASIC-CAT")[0].substr(0, 9), "1,city,5,") << log;
  EXPECT_EQ(rows_of(log, "NUM-MISSING-GAUSS")[0], "2,age,3,0.0625");
  EXPECT_FALSE(read_file(dir.file("customers_eval.csv")).empty());

  // A fixed seed: the same bytes on a second run.
  ASSERT_EQ(run_program("rumelvb", args, dir.path()).status, 0);
  EXPECT_EQ(read_file(dir.file("customers_cluster.csv")), cluster);
}

}  // namespace
}  // namespace veska
