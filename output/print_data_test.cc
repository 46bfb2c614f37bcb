#include "output/print_data.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/misc.h"
#include "data/test_model.h"
#include "output/section_writer.h"
#include "output/value_text.h"
#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::make_model;
using testing::Roles;
using testing::run_capturing;
using testing::TempDir;
using testing::write_file;

class PrintData : public ::testing::Test {
 protected:
  void SetUp() override {
    set_conv_precision(6, 12);
    set_output_delimiter(',');
    section_writer_init();
  }
  void TearDown() override {
    set_conv_precision(6, 12);
    set_output_delimiter(',');
  }

  // Reads `text` as the case file of a model with roles `r`; the settings
  // follow the roles as the option handling would set them.
  void read(const std::string& text, const Roles& r, Format format = Format::kCsv) {
    path_ = dir_.file(format == Format::kCsv ? "d_freq.csv" : "d_freq.txt");
    write_file(path_, text);
    model_ = make_model(r);
    settings_.files.cases = path_;
    settings_.input_format = settings_.output_format = format;
    settings_.n_attr = r.n_attr;
    settings_.id_given = r.id_attr >= 0, settings_.id_attr = r.id_attr;
    settings_.eval_given = r.eval_attr >= 0, settings_.eval_attr = r.eval_attr;
    settings_.groups = model_.groups;
    auto res = run_capturing([&] { table_ = read_cases(settings_, model_); });
    ASSERT_FALSE(res.exited) << res.log;
  }

  // What the two data-group calls write.
  std::string write(const std::vector<int>& ks) {
    std::unique_ptr<FILE, int (*)(FILE*)> f(tmpfile(), fclose);
    print_case_summaries(f.get(), settings_, model_, table_);
    print_data_size(f.get(), settings_, model_, table_, ks);
    std::string out;
    rewind(f.get());
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f.get())) > 0) out.append(buf, n);
    return out;
  }

  TempDir dir_;
  std::string path_;
  Settings settings_;
  AttrModel model_;
  CaseTable table_;
};

TEST_F(PrintData, DiscreteCasesWithAnswerClassesCountsAndMissingValues) {
  settings_.verbose = true;
  read("# colour,size,class\n"
       "red,big,yes\n"
       "blue,?,no\n"
       "red,big,yes,3\n"
       "green,small,no\n"
       "blue,?,yes\n",
       Roles(3).eval(2));
  EXPECT_EQ(write({2, 3}),
            "#### ID:ANS-CLASS\r\n#### Answer class, Num of occurrences\r\n####\r\n"
            "yes,2\r\n"
            "no,1\r\n"
            "#### ID:FREQ-CAT0\r\n"
            "#### Attr. ID, Attr. name, ID of attr. value x0, Attr. value x0, "
            "#occurrences N(x0)\r\n"
            "####\r\n"
            "0,X0,1,blue,2\r\n"
            "0,X0,2,green,1\r\n"
            "0,X0,0,red,4\r\n"
            "#### ID:FREQ-CAT1\r\n"
            "#### Attr. ID, Attr. name, ID of attr. value x1, Attr. value x1, "
            "#occurrences N(x1)\r\n"
            "####\r\n"
            "1,X1,0,big,4\r\n"
            "1,X1,1,small,1\r\n"
            "#### ID:FREQ-CASE\r\n"
            "#### Case ID, Answer class, Attr. values x1, x2, ..., xJ, #occurrences N(x)\r\n"
            "####\r\n"
            "0,yes,red,big,4\r\n"
            "1,yes,blue,?,2\r\n"
            "2,no,green,small,1\r\n"
            "#### ID:DATASIZE\r\n"
            "#### Total num. of cases, #entries [original], "
            "#entries [multiple occurences compressed]\r\n"
            "####\r\n"
            "7,5,3\r\n"
            "#### ID:PARAMSIZE\r\n"
            "#### Num. of classes, Num. of class params, Num. of params for discrete attrs, "
            "Num. of params for continuous attrs, Total num. of params\r\n"
            "####\r\n"
            "2,1,6,0,7\r\n"
            "3,2,9,0,11\r\n"
            "#### ID:NUM-MISSING-CAT\r\n"
            "#### Attr. ID, Attr. name, Num. of missing values, Ratio of missing values\r\n"
            "####\r\n"
            "0,X0,0,0\r\n"
            "1,X1,2,0.285714285714\r\n");
}

TEST_F(PrintData, QuietRunWritesOnlyTheSizes) {
  read("a,b\na,c\n", Roles(2));
  EXPECT_EQ(write({2}),
            "#### ID:DATASIZE\r\n"
            "#### Total num. of cases, #entries [original], "
            "#entries [multiple occurences compressed]\r\n"
            "####\r\n"
            "2,2,2\r\n"
            "#### ID:PARAMSIZE\r\n"
            "#### Num. of classes, Num. of class params, Num. of params for discrete attrs, "
            "Num. of params for continuous attrs, Total num. of params\r\n"
            "####\r\n"
            "2,1,2,0,3\r\n");
}

TEST_F(PrintData, MixedCasesWithIdsTabsAndFewerDigits) {
  settings_.verbose = true;
  settings_.uncompress = true;
  set_output_delimiter('\t');
  set_conv_precision(6, 5);
  read("c1\tred\t1.5\t2.123456789\t9\n"
       "c2\tblue\tNA\t-3\t?\n"
       "c3\tred\t0.25\t1e-3\t7\n",
       Roles(5).id(0).group({2, 3}).group({4}), Format::kTxt);
  std::string text = write({2});
  std::string freq_case =
      "#### ID:FREQ-CASE\r\n"
      "#### Case ID, Attr. values x1, x2, ..., xJ, #occurrences N(x)\r\n"
      "####\r\n"
      "c1\tred\t1.5\t2.1235\t9\t1\r\n"
      "c2\tblue\t?\t-3\t?\t1\r\n"
      "c3\tred\t0.25\t0.001\t7\t1\r\n";
  EXPECT_NE(text.find(freq_case), std::string::npos) << text;
  size_t sizes = text.find("#### ID:DATASIZE");
  ASSERT_NE(sizes, std::string::npos);
  EXPECT_EQ(text.substr(sizes),
            "#### ID:DATASIZE\r\n#### Total num. of cases, #entries [original]\r\n####\r\n"
            "3\t3\r\n"
            "#### ID:PARAMSIZE\r\n"
            "#### Num. of classes, Num. of class params, Num. of params for discrete attrs, "
            "Num. of params for continuous attrs, Total num. of params\r\n"
            "####\r\n"
            "2\t1\t2\t8\t11\r\n"
            "#### ID:NUM-MISSING-GAUSS\r\n"
            "#### Attr. ID, Attr. name, Num. of missing values, Ratio of missing values\r\n"
            "####\r\n"
            "2\tX2\t1\t0.33333\r\n"
            "3\tX3\t0\t0\r\n"
            "4\tX4\t1\t0.33333\r\n");

  // Hidden attribute values take their column and fields along.
  settings_.hide_attr = true;
  text = write({2});
  EXPECT_NE(text.find("#### Case ID, #occurrences N(x)\r\n####\r\nc1\t1\r\nc2\t1\r\nc3\t1\r\n"),
            std::string::npos)
      << text;
}

TEST_F(PrintData, ValueTexts) {
  read("b,1\na,?\n", Roles(2).group({1}));
  EXPECT_STREQ(attr_name(model_, 0), "X0");
  EXPECT_STREQ(case_id_str(model_, table_.entries[0], 0), "0");
  EXPECT_STREQ(freq_entry_val(model_, table_.entries[1], 0), "a");
  EXPECT_STREQ(freq_entry_val(model_, table_.entries[1], 1), "?");
  model_.names_read = true;
  model_.attrs[0].has_name = true;
  model_.attrs[0].name = "letter";
  EXPECT_STREQ(attr_name(model_, 0), "letter");
  EXPECT_STREQ(attr_name(model_, 1), "X1");

  // The values of one block and their columns, unless hidden.
  std::unique_ptr<FILE, int (*)(FILE*)> f(tmpfile(), fclose);
  set_matrix_id("BLOCK");
  add_block_columns(settings_, model_, 0);
  print_header(f.get());
  add_block_fields(settings_, model_, table_.entries[0], 0);
  add_block_fields(settings_, model_, table_.entries[1], 0);
  end_row(f.get());
  settings_.hide_attr = true;
  set_matrix_id("HIDDEN");
  add_block_columns(settings_, model_, 0);
  print_header(f.get());
  add_field("x");
  add_block_fields(settings_, model_, table_.entries[0], 0);
  end_row(f.get());
  std::string text(256, '\0');
  rewind(f.get());
  text.resize(fread(text.data(), 1, text.size(), f.get()));
  EXPECT_EQ(text,
            "#### ID:BLOCK\r\n#### Attr. x1\r\n####\r\n1,?\r\n"
            "#### ID:HIDDEN\r\n####\r\nx\r\n");

  // A discrete value neither coded nor marked missing is a fault of the program.
  table_.int_store[0] = kCodeUnset;
  auto r = run_capturing([&] { freq_entry_val(model_, table_.entries[0], 0); });
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.msg, "Internal error: freq_entry_val(): word not assigned");
}

TEST(ClassCounts, RangeOrSingle) {
  Settings s;
  s.n_class = 4;
  EXPECT_EQ(class_counts(s), (std::vector<int>{4}));
  s.k_range_given = true;
  s.k_min = 2, s.k_max = 7, s.k_step = 2;
  EXPECT_EQ(class_counts(s), (std::vector<int>{2, 4, 6}));
}

}  // namespace
}  // namespace veska
