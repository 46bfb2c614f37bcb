#include "common/file_names.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::TempDir;
using testing::write_file;

Settings settings_in(const TempDir& dir, Program program = Program::kVb) {
  Settings s = Settings::defaults(program);
  s.target = dir.file("data");
  return s;
}

TEST(DetectInputFormat, ExistingFileDecidesAndCsvWins) {
  TempDir dir;
  Settings s = settings_in(dir);
  write_file(dir.file("data_freq.txt"), "a\n");
  s.input_format = Format::kCsv;  // an existing file overrides --input
  derive_file_names(s);
  EXPECT_EQ(s.input_format, Format::kTxt);
  EXPECT_EQ(s.output_format, Format::kTxt);
  EXPECT_EQ(s.files.cases, dir.file("data_freq.txt"));

  write_file(dir.file("data_freq.csv"), "a\n");
  s = settings_in(dir);
  s.input_format = Format::kTxt;
  derive_file_names(s);
  EXPECT_EQ(s.input_format, Format::kCsv);
}

TEST(DetectInputFormat, NothingFound) {
  TempDir dir;
  Settings s = settings_in(dir);
  s.input_format = Format::kTxt;  // given: the reader reports the missing file later
  derive_file_names(s);
  EXPECT_EQ(s.files.cases, dir.file("data_freq.txt"));
  std::string txt = dir.file("data_freq.txt");
  std::string csv = dir.file("data_freq.csv");
  EXPECT_EXIT(detect_input_format(txt, csv, Format::kNotGiven), ::testing::ExitedWithCode(1),
              "^Couldn't find the input file \\(neither " + txt + " nor " + csv + "\\)\n$");
}

TEST(DeriveFileNames, SuffixAndOutputFormat) {
  TempDir dir;
  write_file(dir.file("data_freq.csv"), "a\n");
  Settings s = settings_in(dir);
  s.suffix = "run1";
  s.suffix_given = true;
  s.output_format = Format::kTxt;
  derive_file_names(s);
  std::string stem = dir.file("data_run1");
  EXPECT_EQ(s.files.cases, dir.file("data_freq.csv"));  // never carries the suffix
  EXPECT_EQ(s.files.names, stem + "_name.txt");
  EXPECT_EQ(s.files.msg, stem + "_msg.txt");
  EXPECT_EQ(s.files.log, stem + "_log.txt");
  EXPECT_EQ(s.files.hparam, stem + "_hparam.txt");
  EXPECT_EQ(s.files.memp, stem + "_memp.txt");
  EXPECT_EQ(s.files.cluster, stem + "_cluster.txt");
  EXPECT_EQ(s.files.rank, stem + "_rank.txt");
  EXPECT_EQ(s.files.eval, stem + "_eval.txt");
  EXPECT_EQ(s.files.predict, stem + "_predict.txt");
}

TEST(DeriveFileNames, ReadingModelFilesProbesThemInstead) {
  TempDir dir;
  write_file(dir.file("data_freq.csv"), "a\n");
  write_file(dir.file("data_x_hparam.txt"), "a\n");
  Settings s = settings_in(dir);
  s.suffix = "x";
  s.suffix_given = true;
  s.run_estimation = false;  // --read-hparam
  derive_file_names(s);
  EXPECT_EQ(s.input_format, Format::kTxt);
  EXPECT_EQ(s.files.hparam, dir.file("data_x_hparam.txt"));
  EXPECT_EQ(s.files.cases, dir.file("data_freq.txt"));

  // rumel with --read-param probes the parameter file; the hyperparameter
  // file follows the input format.
  write_file(dir.file("data_x_param.csv"), "a\n");
  Settings r = settings_in(dir, Program::kMlMap);
  r.suffix = "x";
  r.suffix_given = true;
  r.run_estimation = false;
  r.output_format = Format::kTxt;
  derive_file_names(r);
  EXPECT_EQ(r.files.param, dir.file("data_x_param.csv"));
  EXPECT_EQ(r.files.hparam, dir.file("data_x_hparam.csv"));
  EXPECT_EQ(r.files.log, dir.file("data_x_log.txt"));

  Settings missing = settings_in(dir);
  missing.run_estimation = false;  // a case file exists, but no hyperparameter file
  EXPECT_EXIT(derive_file_names(missing), ::testing::ExitedWithCode(1),
              "neither .*data_hparam.txt nor .*data_hparam.csv");
}

}  // namespace
}  // namespace veska
