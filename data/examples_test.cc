// The shipped sample data sets, read the way a first run reads them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/init.h"
#include "data/name.h"
#include "data/read_freq.h"
#include "data/test_model.h"
#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::make_model;
using testing::make_settings;
using testing::Roles;
using testing::run_capturing;

// The repo's root: from the environment when the test runner passes it,
// else from this file's own path, so the test runs from any directory.
std::string source_dir() {
  if (const char* dir = getenv("VESKA_SOURCE_DIR")) return dir;
  std::string file = __FILE__;
  return file.substr(0, file.rfind("/data/"));
}

struct Loaded {
  testing::FatalResult result;
  AttrModel model;
  CaseTable table;
};

Loaded load(const std::string& name, const Roles& roles, bool uncompress = false) {
  std::string base = source_dir() + "/examples/" + name;
  Settings s = make_settings(base + "_freq.csv", base + "_name.txt");
  s.uncompress = uncompress;
  Loaded l{{}, make_model(roles), {}};
  l.result = run_capturing([&] {
    read_names(s, l.model);
    l.table = read_cases(s, l.model);
  });
  return l;
}

TEST(Examples, IrisOneBlockOfFourWithTheSpeciesAsAnswer) {
  Loaded l = load("iris", Roles(5).eval(4).group({0, 1, 2, 3}));
  ASSERT_FALSE(l.result.exited) << l.result.log;
  EXPECT_TRUE(l.model.names_read);
  EXPECT_EQ(l.model.attrs[2].name, "petallength");
  EXPECT_EQ(l.table.n_entries, 150);
  EXPECT_EQ(l.table.n_cases, 150);
  const CaseEntry& first = l.table.entries[0];
  EXPECT_EQ(std::vector<double>(first.values(0).begin(), first.values(0).end()),
            (std::vector<double>{5.1, 3.5, 1.4, 0.2}));
  const CaseEntry& last = l.table.entries[149];
  EXPECT_EQ(last.first_line, 150);
  EXPECT_EQ(last.values(0)[3], 1.8);
  EXPECT_EQ(l.table.gauss_missing_sum, 0);
  EXPECT_EQ(l.model.answer_names,
            (std::vector<std::string>{"Iris-setosa", "Iris-versicolor", "Iris-virginica"}));
  EXPECT_EQ(l.model.answer_entries, (std::vector<int>{50, 50, 50}));
  EXPECT_EQ(last.answer, 2);
}

// The same run with the roles resolved from option values.
TEST(Examples, IrisWithRolesFromTheOptions) {
  std::string base = source_dir() + "/examples/iris";
  Settings s = make_settings(base + "_freq.csv", base + "_name.txt");
  AttrModel model;
  CaseTable table;
  auto res = run_capturing([&] {
    s.n_attr = 5;
    add_gauss(s, "0-3");
    s.eval_given = true;
    s.eval_attr = 4;
    resolve_attributes(s, model);
    read_names(s, model);
    table = read_cases(s, model);
  });
  ASSERT_FALSE(res.exited) << res.log;
  EXPECT_EQ(table.n_entries, 150);
  EXPECT_EQ(table.entries[0].values(0)[2], 1.4);
  EXPECT_EQ(model.n_answers, 3);
}

TEST(Examples, IrisFourSeparateBlocks) {
  Loaded l = load("iris", Roles(5).eval(4).group({0}).group({1}).group({2}).group({3}));
  ASSERT_FALSE(l.result.exited) << l.result.log;
  const CaseEntry& first = l.table.entries[0];
  EXPECT_EQ(first.values(2).size(), 1u);
  EXPECT_EQ(first.values(2)[0], 1.4);
  EXPECT_EQ(first.gauss_n_missing().size(), 4u);
}

TEST(Examples, BreastCancerDiscreteWithMissingValues) {
  // Lines 60 and 85 share every discrete value but not the class, so the
  // cases can be merged only when the class is not the answer.
  Loaded merged = load("breast-cancer", Roles(10).eval(9));
  EXPECT_EQ(merged.result.status, 1);
  EXPECT_NE(merged.result.log.find(", Line 85, ID:214] different answer classes for the same object"),
            std::string::npos)
      << merged.result.log;

  Loaded l = load("breast-cancer", Roles(10).eval(9), /*uncompress=*/true);
  ASSERT_FALSE(l.result.exited) << l.result.log;
  EXPECT_EQ(l.table.n_entries, 286);
  EXPECT_EQ(l.table.n_cases, 286);
  std::vector<int> n_values;
  for (const DiscreteValues& v : l.model.values) n_values.push_back(v.n_values);
  EXPECT_EQ(n_values, (std::vector<int>{6, 3, 11, 7, 2, 3, 2, 5, 2}));
  // node-caps: "yes" seen first; 8 cases missing.
  const DiscreteValues& caps = l.model.values[4];
  EXPECT_EQ(caps.names, (std::vector<std::string>{"yes", "no"}));
  EXPECT_EQ(caps.order, (std::vector<int>{1, 0}));
  EXPECT_EQ(caps.freq, (std::vector<double>{56, 222}));
  EXPECT_EQ(l.table.missing_total[4], 8);
  EXPECT_EQ(l.table.missing_total[7], 1);
  EXPECT_EQ(l.table.disc_missing_sum, 9);
  EXPECT_EQ(l.model.values[0].names[static_cast<size_t>(l.model.values[0].order[0])], "20-29");
  EXPECT_EQ(l.model.answer_names,
            (std::vector<std::string>{"recurrence-events", "no-recurrence-events"}));
  EXPECT_EQ(l.model.answer_entries, (std::vector<int>{85, 201}));
}

TEST(Examples, BreastCancerWithoutNamesMergesWholeCases) {
  std::string base = source_dir() + "/examples/breast-cancer";
  Settings s = make_settings(base + "_freq.csv");
  AttrModel model = make_model(Roles(10));
  CaseTable table;
  auto res = run_capturing([&] { table = read_cases(s, model); });
  ASSERT_FALSE(res.exited) << res.log;
  EXPECT_EQ(table.n_entries, 272);  // distinct lines
  EXPECT_EQ(table.n_cases, 286);
  EXPECT_EQ(model.values[9].n_values, 2);
}

// A spreadsheet export writes a byte-order mark at the start of each file:
// it must not become part of the first name or the first value.
TEST(Examples, BreastCancerWithByteOrderMarksReadsAsWithout) {
  testing::TempDir dir;
  std::string base = source_dir() + "/examples/breast-cancer";
  const std::string bom = "\xEF\xBB\xBF";
  testing::write_file(dir.file("b_freq.csv"), bom + testing::read_file(base + "_freq.csv"));
  testing::write_file(dir.file("b_name.txt"), bom + testing::read_file(base + "_name.txt"));
  Settings s = make_settings(dir.file("b_freq.csv"), dir.file("b_name.txt"));
  s.uncompress = true;
  Loaded marked{{}, make_model(Roles(10).eval(9)), {}};
  marked.result = run_capturing([&] {
    read_names(s, marked.model);
    marked.table = read_cases(s, marked.model);
  });
  ASSERT_FALSE(marked.result.exited) << marked.result.log;
  Loaded plain = load("breast-cancer", Roles(10).eval(9), /*uncompress=*/true);
  EXPECT_EQ(marked.model.attrs[0].name, plain.model.attrs[0].name);
  for (size_t k = 0; k < plain.model.values.size(); ++k) {
    EXPECT_EQ(marked.model.values[k].names, plain.model.values[k].names) << k;
  }
  EXPECT_EQ(marked.table.n_entries, plain.table.n_entries);
}

}  // namespace
}  // namespace veska
