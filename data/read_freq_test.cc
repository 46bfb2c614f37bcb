#include "data/read_freq.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "data/test_model.h"
#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::make_model;
using testing::make_settings;
using testing::Roles;
using testing::run_capturing;
using testing::TempDir;
using testing::write_file;

using Ints = std::vector<int>;
using Reals = std::vector<double>;

Ints ints(std::span<const int> s) { return Ints(s.begin(), s.end()); }
Reals reals(std::span<const double> s) { return Reals(s.begin(), s.end()); }

class CaseFile : public ::testing::Test {
 protected:
  CaseFile() { settings_ = make_settings(path_); }

  // Reads `text` as the case file of a model with roles `r`.
  testing::FatalResult read(const std::string& text, const Roles& r) {
    write_file(path_, text);
    model_ = make_model(r);
    return read_again();
  }
  // Reads the file once more into the current model (whose value tables
  // may have been fixed by the test).
  testing::FatalResult read_again() {
    return run_capturing([&] { table_ = read_cases(settings_, model_); });
  }
  std::string line_error(int line, int id, const std::string& message) {
    return "[" + path_ + ", Line " + std::to_string(line) + ", ID:" + std::to_string(id) + "] " +
           message + "\n";
  }
  const CaseEntry& entry(int e) { return table_.entries[static_cast<size_t>(e)]; }

  TempDir dir_;
  std::string path_ = dir_.file("d_freq.csv");
  Settings settings_;
  AttrModel model_;
  CaseTable table_;
};

TEST_F(CaseFile, IdenticalPatternsMergeWithTheirCounts) {
  auto res = read("# cases\na,b,c\nx,y,z\na,b,c,4\n", Roles(3));
  ASSERT_FALSE(res.exited) << res.log;
  EXPECT_EQ(res.msg, "Reading cases from " + path_ + "...done\r\n");
  ASSERT_EQ(table_.n_entries, 2);
  EXPECT_EQ(table_.n_cases, 6);
  EXPECT_EQ(entry(0).total, 5);
  EXPECT_EQ(entry(0).first_line, 2);  // the comment counts
  EXPECT_EQ(ints(entry(0).codes()), (Ints{0, 0, 0}));
  EXPECT_EQ(ints(entry(1).codes()), (Ints{1, 1, 1}));
  EXPECT_EQ(entry(1).first_line, 3);
  // Value tables count lines, not occurrences.
  EXPECT_EQ(model_.values[0].table.nodes[0].count, 2);
  EXPECT_EQ(model_.values[0].freq, (Reals{5, 1}));
  EXPECT_EQ(model_.values[2].n_values, 2);
  EXPECT_EQ(model_.values[2].names, (std::vector<std::string>{"c", "z"}));

  settings_.uncompress = true;
  res = read("# cases\na,b,c\nx,y,z\na,b,c,4\n", Roles(3));
  ASSERT_FALSE(res.exited) << res.log;
  ASSERT_EQ(table_.n_entries, 3);
  EXPECT_EQ(entry(0).total, 1);
  EXPECT_EQ(entry(2).total, 4);
  EXPECT_EQ(entry(2).first_line, 4);
  EXPECT_EQ(ints(entry(2).codes()), (Ints{0, 0, 0}));
  EXPECT_EQ(table_.n_cases, 6);
}

TEST_F(CaseFile, MissingValuesAndTheirTotals) {
  // "?" and "NA" both mean missing but make different patterns.
  auto res = read("a,?,c\na,NA,c,3\na,?,c,2\n?,?,c\n", Roles(3));
  ASSERT_FALSE(res.exited) << res.log;
  ASSERT_EQ(table_.n_entries, 3);
  EXPECT_EQ(ints(entry(0).codes()), (Ints{0, kCodeMissing, 0}));
  EXPECT_EQ(ints(entry(0).disc_missing()), (Ints{0, 1, 0}));
  EXPECT_EQ(entry(0).n_disc_missing, 2);  // one per merged line
  EXPECT_EQ(entry(0).total, 3);
  EXPECT_EQ(entry(1).total, 3);
  EXPECT_EQ(entry(2).n_disc_missing, 2);
  EXPECT_EQ(table_.missing_total, (std::vector<long>{1, 7, 0}));
  EXPECT_EQ(table_.disc_missing_sum, 8);
  EXPECT_EQ(table_.gauss_missing_sum, 0);
  EXPECT_EQ(model_.values[1].n_values, 0);
  EXPECT_EQ(model_.values[0].freq, (Reals{6}));
}

TEST_F(CaseFile, ValueCodesAndDisplayOrder) {
  auto res = read("b\na\nc\na\n", Roles(1));
  ASSERT_FALSE(res.exited) << res.log;
  const DiscreteValues& v = model_.values[0];
  EXPECT_EQ(v.names, (std::vector<std::string>{"b", "a", "c"}));
  EXPECT_EQ(v.order, (Ints{1, 0, 2}));
  EXPECT_EQ(v.freq, (Reals{1, 2, 1}));
  settings_.lex_order = false;
  res = read("b\na\nc\n", Roles(1));
  EXPECT_EQ(model_.values[0].order, (Ints{0, 1, 2}));
  // Byte order: upper case and digits before lower case, high bytes last.
  settings_.lex_order = true;
  res = read("\xC3\xA9t\xC3\xA9\nb\nB\n10\n9\n", Roles(1));
  std::vector<std::string> sorted;
  for (int code : model_.values[0].order) sorted.push_back(model_.values[0].names[code]);
  EXPECT_EQ(sorted, (std::vector<std::string>{"10", "9", "B", "b", "\xC3\xA9t\xC3\xA9"}));
}

TEST_F(CaseFile, GaussianGroupsIdAndIgnoredColumns) {
  // id, x, g0a, ignored, g1, g0b, class; groups {2,5} and {4}.
  Roles r = Roles(7).id(0).ignore(3).eval(6).group({2, 5}).group({4});
  auto res = read(
      "c1, red, 1.5,  , -2, 3e2, yes\n"
      "c2, blue, ?, junk, +4, NA, no, 2\n"
      "c3, red, .5, x, 1., -0.25e-1, yes\n",
      r);
  ASSERT_FALSE(res.exited) << res.log;
  ASSERT_EQ(table_.n_entries, 3);  // no merging with an ID or groups
  EXPECT_EQ(table_.n_cases, 4);
  EXPECT_EQ(reals(entry(0).values(0)), (Reals{1.5, 300}));
  EXPECT_EQ(reals(entry(0).values(1)), (Reals{-2}));
  const Vector* v = entry(0).value_vector(0);
  EXPECT_EQ(v->n, 2);
  EXPECT_EQ((*v)[1], 300);
  EXPECT_EQ(entry(2).value_vector(1)->data, entry(2).values(1).data());
  EXPECT_EQ(ints(entry(1).gauss_missing(0)), (Ints{1, 1}));
  EXPECT_EQ(ints(entry(1).gauss_observed(0)), (Ints{0, 0}));
  EXPECT_EQ(ints(entry(1).gauss_n_missing()), (Ints{2, 0}));
  EXPECT_EQ(reals(entry(1).values(1)), (Reals{4}));
  EXPECT_EQ(ints(entry(2).gauss_observed(0)), (Ints{1, 1}));
  EXPECT_EQ(reals(entry(2).values(0)), (Reals{0.5, -0.025}));
  EXPECT_EQ(table_.missing_total[2], 2);
  EXPECT_EQ(table_.missing_total[5], 2);
  EXPECT_EQ(table_.gauss_missing_sum, 4);
  EXPECT_EQ(ints(entry(2).codes()), (Ints{0}));

  EXPECT_EQ(entry(2).case_id, 2);
  EXPECT_EQ(model_.n_case_ids, 3);
  EXPECT_EQ(*model_.case_id_texts[1], "c2");
  EXPECT_EQ(model_.n_answers, 2);
  EXPECT_EQ(model_.answer_names, (std::vector<std::string>{"yes", "no"}));
  EXPECT_EQ(model_.answer_entries, (Ints{2, 1}));
  EXPECT_EQ(entry(1).answer, 1);
}

TEST_F(CaseFile, TabSeparatedFiles) {
  path_ = dir_.file("t_freq.txt");
  settings_ = make_settings(path_, "", Format::kTxt);
  auto res = read("New York\t1,5\t2.5\nNew York\t1,5\t?\n", Roles(3).group({2}));
  ASSERT_FALSE(res.exited) << res.log;
  EXPECT_EQ(model_.values[0].names, (std::vector<std::string>{"NewYork"}));
  EXPECT_EQ(model_.values[1].names, (std::vector<std::string>{"1,5"}));
  EXPECT_EQ(reals(entry(0).values(0)), (Reals{2.5}));
}

TEST_F(CaseFile, CountColumn) {
  auto res = read("a,007\nb,1\n", Roles(1));
  ASSERT_FALSE(res.exited) << res.log;
  EXPECT_EQ(entry(0).total, 7);
  EXPECT_EQ(table_.n_cases, 8);

  const std::string positive = "the object counts should be positive";
  res = read("a\nb,000\n", Roles(1));
  EXPECT_EQ(res.log, line_error(2, 205, positive) + "b,000\r\n  ^\n");
  res = read("b, -3\n", Roles(1));
  EXPECT_EQ(res.log, line_error(1, 205, positive) + "b, -3\r\n   ^\n");
  res = read("b,3.0\n", Roles(1));
  EXPECT_EQ(res.log, line_error(1, 204, "illegal format for an integer") + "b,3.0\r\n  ^\n");
  res = read("b,x\n", Roles(1));
  EXPECT_EQ(res.log, line_error(1, 204, "illegal format for an integer") + "b,x\r\n  ^\n");
  res = read("b,2147483648\n", Roles(1));
  EXPECT_EQ(res.log, line_error(1, 206, "the object count is larger than 2147483647") +
                         "b,2147483648\r\n  ^\n");
  res = read("b,2147483647\n", Roles(1));
  EXPECT_FALSE(res.exited) << res.log;
  res = read("b,2147483647\nb\n", Roles(1));
  EXPECT_EQ(res.log, line_error(2, 215, "the object counts add up to more than 2147483647") + "b\r\n");
}

TEST_F(CaseFile, FieldErrors) {
  Roles r = Roles(3).group({1});
  auto res = read("a,1,b\n\n", r);
  EXPECT_EQ(res.log, line_error(2, 202, "Too few fields (columns)") + "\r\n");
  res = read("a,1,b,1,2\n", r);
  EXPECT_EQ(res.log, line_error(1, 201, "Too many fields (columns)") + "a,1,b,1,2\r\n");
  res = read("a,1,b\na, ,b\n", r);
  EXPECT_EQ(res.log, line_error(2, 203, "empty value") + "a, ,b\r\n");
  res = read("a,1,b,\n", r);
  EXPECT_EQ(res.log, line_error(1, 203, "empty value") + "a,1,b,\r\n");
  // A blank line of a one-attribute file has the one field, empty.
  res = read("a\n\n", Roles(1));
  EXPECT_EQ(res.log, line_error(2, 203, "empty value") + "\r\n");

  const std::string real = "illegal format for a floating-point number";
  for (const char* bad : {"x", "1e", "0x10", "inf", "nan", "+-1", "--1", "1.2.3"}) {
    res = read("a, " + std::string(bad) + "\t,b\n", Roles(3).group({1}));
    EXPECT_EQ(res.log, line_error(1, 207, real) + "a, " + bad + "\t,b\r\n   ^\n") << bad;
  }
  res = read("a,1e999,b\n", r);
  EXPECT_EQ(res.log, line_error(1, 208, "floating-point number out of range") + "a,1e999,b\r\n  ^\n");
  res = read("a,1e-400,b\na,-0,b\n", r);
  ASSERT_FALSE(res.exited) << res.log;
  EXPECT_EQ(reals(entry(0).values(0)), (Reals{0.0}));
}

TEST_F(CaseFile, LongTextsAreRejectedNotCut) {
  std::string v256(256, 'v');
  auto res = read(v256 + ",x\n", Roles(2).eval(1));
  ASSERT_FALSE(res.exited) << res.log;
  res = read("a,b" + v256 + "\n", Roles(2));
  EXPECT_EQ(res.log, line_error(1, 209, "Too long value name (more than 256 characters)") + "a,b" +
                         v256 + "\r\n  ^\n");
  res = read("a,b" + v256 + "\n", Roles(2).id(1));
  EXPECT_EQ(res.log, line_error(1, 210, "Too long case ID (more than 256 characters)") + "a,b" +
                         v256 + "\r\n  ^\n");
  res = read("a,b" + v256 + "\n", Roles(2).eval(1));
  EXPECT_EQ(res.log, line_error(1, 211, "Too long answer class (more than 256 characters)") +
                         "a,b" + v256 + "\r\n  ^\n");
  // A longer line than the limit is one error, not two records.
  std::string line(131071, 'x');
  res = read("a\n" + line + "\r\n", Roles(1));
  std::string expected =
      line_error(2, 209, "Too long value name (more than 256 characters)") + line + "\r\r\n^\n";
  EXPECT_TRUE(res.log == expected) << res.log.substr(0, 120);
  res = read("a\n" + line + "y\r\n", Roles(1));
  EXPECT_EQ(res.log, line_error(2, 200, "Too long line (more than 131071 characters)") +
                         std::string(80, 'x') + "...\r\n");
  res = read("a\n" + line + "y", Roles(1));  // and without a line end
  EXPECT_EQ(res.status, 1);
  EXPECT_NE(res.log.find("Line 2, ID:200"), std::string::npos);
}

TEST_F(CaseFile, LineCutShortByCrOrNulIsRejected) {
  // CR-only line ends make one line; its first CR would end the split.
  auto res = read("a,b\rc,d\r", Roles(2));
  EXPECT_EQ(res.log, line_error(1, 216, "Unexpected CR or NUL character inside the line") +
                         "a,b\rc,d\r\r\n   ^\n");
  res = read(std::string("a,b\0c\n", 6), Roles(2));
  EXPECT_EQ(res.log, line_error(1, 216, "Unexpected CR or NUL character inside the line") +
                         "a,b c\r\n   ^\n");
  // Extra CRs before the line end cut nothing.
  res = read("a,b\r\r\nc,d\r", Roles(2));
  ASSERT_FALSE(res.exited) << res.log;
  EXPECT_EQ(table_.n_cases, 2);
}

TEST_F(CaseFile, FixedValueSets) {
  model_ = make_model(Roles(2));
  strtab_insert(model_.values[0].table, "x");
  strtab_insert(model_.values[0].table, "y");
  model_.values[0].fixed = true;
  write_file(path_, "y,p\nx,q\ny,q\n");
  auto res = read_again();
  ASSERT_FALSE(res.exited) << res.log;
  EXPECT_EQ(ints(entry(0).codes()), (Ints{1, 0}));
  EXPECT_EQ(model_.values[0].table.nodes[1].count, 1);  // the case file does not count them
  EXPECT_EQ(model_.values[0].freq, (Reals{1, 2}));

  write_file(path_, "y,p\n#\nz,p\n");
  model_ = make_model(Roles(2));
  strtab_insert(model_.values[0].table, "x");
  model_.values[0].fixed = true;
  res = read_again();
  EXPECT_EQ(res.log, "[" + path_ + ", Line 1, ID:212] Unknown attribute value -- y\ny,p\r\n");

  // Without estimation every value set is closed.
  settings_.run_estimation = false;
  res = read("p\n", Roles(1));
  EXPECT_EQ(res.log, "[" + path_ + ", Line 1, ID:212] Unknown attribute value -- p\np\r\n");
}

TEST_F(CaseFile, CaseIdsAndAnswerClasses) {
  auto res = read("1,a\n2,b\n1,c\n", Roles(2).id(0));
  EXPECT_EQ(res.log, line_error(3, 213, "duplicating case ID") + "1,c\r\n");
  // IDs are not checked otherwise: empty ones are texts too.
  res = read(",a\n,b\n", Roles(2).id(0));
  EXPECT_EQ(res.log, line_error(2, 213, "duplicating case ID") + ",b\r\n");

  res = read("a,b,yes\na,b,no\n", Roles(3).eval(2));
  EXPECT_EQ(res.log, line_error(2, 214, "different answer classes for the same object") +
                         "a,b,no\r\n");
  // With a missing value in the pattern the later class replaces the earlier.
  res = read("a,?,yes\na,?,no\nz,y,no\n", Roles(3).eval(2));
  ASSERT_FALSE(res.exited) << res.log;
  EXPECT_EQ(table_.n_entries, 2);
  EXPECT_EQ(entry(0).answer, 1);
  EXPECT_EQ(model_.answer_entries, (Ints{0, 2}));
  // Without merging each case keeps its own class.
  settings_.uncompress = true;
  res = read("a,b,yes\na,b,no\n", Roles(3).eval(2));
  ASSERT_FALSE(res.exited) << res.log;
  EXPECT_EQ(model_.answer_entries, (Ints{1, 1}));
}

TEST_F(CaseFile, EmptyAndMissingFiles) {
  auto res = read("# only\n# comments\n", Roles(1));
  EXPECT_EQ(res.log, "the file is empty\n");
  res = read("", Roles(1));
  EXPECT_EQ(res.log, "the file is empty\n");
  // A last line without a line end still counts.
  res = read("# c\na", Roles(1));
  ASSERT_FALSE(res.exited) << res.log;
  EXPECT_EQ(table_.n_cases, 1);
  settings_.files.cases = dir_.file("absent_freq.csv");
  res = read_again();
  EXPECT_EQ(res.log, "Couldn't open " + dir_.file("absent_freq.csv") + "\n");
  EXPECT_EQ(res.msg, "Reading cases from " + dir_.file("absent_freq.csv") + "..." + res.log);
}

}  // namespace
}  // namespace veska
