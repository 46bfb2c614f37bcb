// rumel --read-param end to end: a parameter file written by rumel and read
// back gives the same clusters and memberships (mixed data with missing
// values, csv and txt), and edited files stop with their messages.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "mlmap/rumel_test_files.h"

namespace veska {
namespace {

using testing::read_file;
using testing::rumel;
using testing::RunResult;
using testing::TempDir;
using testing::write_file;

// Three groups of a colour and a 2-D block, with missing values of both.
void write_data(const TempDir& dir, const char* sep, const char* ext) {
  std::mt19937 gen(3);
  auto unit = [&gen] { return gen() / 4294967296.0; };
  std::string text;
  char line[96];
  for (int n = 0; n < 150; ++n) {
    const int g = n % 3;
    const char* colour = unit() < 0.8 ? (g == 0 ? "a" : g == 1 ? "b" : "c") : "a";
    char x[32], y[32];
    snprintf(x, sizeof x, "%.3f", 5.0 * g + 2.0 * (unit() - 0.5));
    snprintf(y, sizeof y, "%.3f", 3.0 * (g == 1) - 3.0 * (g == 2) + 2.0 * (unit() - 0.5));
    snprintf(line, sizeof line, "%s%s%s%s%s\n", n % 11 == 0 ? "?" : colour, sep,
             n % 7 == 0 ? "?" : x, sep, n % 13 == 0 ? "?" : y);
    text += line;
  }
  write_file(dir.file(std::string("d_freq.") + ext), text);
  write_file(dir.file("d_name.txt"), "colour\tnominal\nx\treal\ny\treal\n");
}

const std::vector<std::string> kArgs = {"-f", "d", "-k", "3", "-x", "3", "-u", "1-2", "-D", "--prec-out", "17"};

std::vector<std::string> with(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The file's fields, split at commas, tabs and line ends.
std::vector<std::string> fields_of(const std::string& text) {
  std::vector<std::string> out(1);
  for (const char c : text) {
    if (c == ',' || c == '\t' || c == '\n' || c == '\r') {
      if (!out.back().empty()) out.emplace_back();
    } else {
      out.back() += c;
    }
  }
  return out;
}

TEST(RumelParamE2e, ReadBackGivesTheSameClustersAndMemberships) {
  for (const auto& [sep, ext] : {std::pair{",", "csv"}, std::pair{"\t", "txt"}}) {
    TempDir dir;
    write_data(dir, sep, ext);
    RunResult fit = rumel(dir, with(kArgs, {"--seed", "1"}));
    ASSERT_EQ(fit.status, 0) << fit.err;
    const std::string memp = read_file(dir.file(std::string("d_memp.") + ext));
    const std::string cluster = read_file(dir.file(std::string("d_cluster.") + ext));
    RunResult again = rumel(dir, with(kArgs, {"-R"}));
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.err.find("Reading parameters from d_param." + std::string(ext) + "...done"),
              std::string::npos);
    EXPECT_NE(again.err.find("Computing membership distributions...done"), std::string::npos);
    EXPECT_EQ(again.err.find("#iters"), std::string::npos) << "no EM";
    EXPECT_EQ(read_file(dir.file(std::string("d_cluster.") + ext)), cluster) << ext;
    const std::vector<std::string> a = fields_of(memp);
    const std::vector<std::string> b = fields_of(read_file(dir.file(std::string("d_memp.") + ext)));
    ASSERT_EQ(a.size(), b.size());
    int numbers = 0;
    for (size_t i = 0; i < a.size(); ++i) {
      char* end_a = nullptr;
      const double x = std::strtod(a[i].c_str(), &end_a);
      if (*end_a != '\0' || a[i].empty()) {
        EXPECT_EQ(a[i], b[i]);
        continue;
      }
      ++numbers;
      EXPECT_NEAR(std::strtod(b[i].c_str(), nullptr), x, 1e-12 * (1.0 + std::fabs(x))) << i;
    }
    EXPECT_GT(numbers, 1000);
  }
}

// Replaces the first `from` after `anchor` by `to`.
std::string edited(std::string text, const std::string& anchor, const std::string& from,
                   const std::string& to) {
  const size_t at = text.find(from, text.find(anchor));
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// Replaces the rest of the row that starts with `prefix` after `anchor`.
std::string row_value(std::string text, const std::string& anchor, const std::string& prefix,
                      const std::string& value) {
  const size_t at = text.find(prefix, text.find(anchor)) + prefix.size();
  return text.replace(at, text.find("\r\n", at) - at, value);
}

TEST(RumelParamE2e, EditedFilesStopWithTheirMessages) {
  TempDir dir;
  write_data(dir, ",", "csv");
  ASSERT_EQ(rumel(dir, {"-f", "d", "-k", "3", "-x", "3", "-u", "1-2", "--seed", "1"}).status, 0);
  const std::string file = read_file(dir.file("d_param.csv"));
  const size_t cat = file.find("PARAM-CAT0");
  // Class 1's first two values, to be swapped.
  const size_t row_a = file.find("0,colour,1,", cat);
  const size_t row_b = file.find("0,colour,1,", row_a + 1);
  const size_t row_c = file.find("0,colour,1,", row_b + 1);
  std::string swapped = file;
  swapped.replace(row_a, row_c - row_a,
                  file.substr(row_b, row_c - row_b) + file.substr(row_a, row_b - row_a));
  const size_t class1 = file.find("\r\n1,", file.find("PARAM-CLASS")) + 2;
  const std::string class1_row = file.substr(class1, file.find("\r\n", class1) - class1);
  struct Case {
    std::string text;
    std::string message;
  };
  const std::vector<Case> cases = {
      {edited(file, "PARAM-CLASS", class1_row, "2" + class1_row.substr(1)),
       "Unexpected order of class numbers"},
      {swapped, "] Found an inconsistent entry -- "},
      {file.substr(0, file.find("#### ID:PARAM-GAUSS-MEAN0")),
       "Insufficiennt parameter specifications in d_param.csv (#data-matrices = 2)\n"},
      {edited(file, "PARAM-CLASS", class1_row, "1,1.5"), "Unexpected class parameter: 1.500000 (class=1)"},
      {edited(file, "PARAM-GAUSS-MEAN0", "\r\n0,2,", "\r\n5,2,"), "Unexpected Gauss ID"},
      {edited(file, "PARAM-GAUSS-MEAN0", "\r\n0,2,", "\r\n0,3,"), "Unexpected class number"},
      {row_value(file, "PARAM-GAUSS-COVAR0", "\r\n0,1,1,2,x,y,", "9e9"),
       "Failed to invert covariances\n"},
  };
  for (const Case& c : cases) {
    write_file(dir.file("d_param.csv"), c.text);
    RunResult r = rumel(dir, {"-f", "d", "-x", "3", "-u", "1-2", "-R"});
    EXPECT_EQ(r.status, 1) << c.message;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace veska
