// The built rumelcut program, run as a user would: exact bytes of its
// standard output, standard error, exit status and the files it writes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cut/cut_options.h"
#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::read_file;
using testing::RunResult;
using testing::write_file;

// Hand-written in the format of the clustering programs' output files.
const std::string kVersion = "#### ID:SETTING-VERSION\r\n#### Item, Value\r\n####\r\nVersion,0.7\r\n";
const std::string kClass =
    "#### ID:HPARAM-CLASS\r\n#### Class, Hyperparameter\r\n#### -- Sum = 6\r\n####\r\n0,3.5\r\n1,2.5\r\n";
const std::string kCat = "#### ID:HPARAM-CAT1\r\n#### Class, Attr. values x1, x2, ..., xJ\r\n####\r\n0,1.5,2\r\n";
const std::string kFile = kVersion + kClass + kCat;

class RumelcutTest : public ::testing::Test {
 protected:
  RunResult run(const std::vector<std::string>& args, const std::string& stdin_text = "") {
    return testing::run_program("rumelcut", args, dir_.path(), stdin_text);
  }
  void expect(const RunResult& r, int status, const std::string& out, const std::string& err) {
    EXPECT_EQ(r.status, status);
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(r.err, err);
  }
  std::string file(const std::string& name) { return read_file(dir_.file(name)); }
  void put(const std::string& name, const std::string& bytes) { write_file(dir_.file(name), bytes); }

  testing::TempDir dir_;
};

TEST_F(RumelcutTest, ListsViewsAndSplitsAHandWrittenFile) {
  put("run_hparam.csv", kFile);
  expect(run({"run_hparam.csv"}), 0, "SETTING-VERSION\nHPARAM-CLASS\nHPARAM-CAT1\n", "");
  expect(run({"-v", "hparam-class", "run_hparam.csv"}), 0, kClass, "");
  expect(run({"run_hparam.csv", "-f", "part"}), 0, "",
         "Output: part_SETTING-VERSION.csv\nOutput: part_HPARAM-CLASS.csv\nOutput: part_HPARAM-CAT1.csv\n");
  EXPECT_EQ(file("part_SETTING-VERSION.csv"), kVersion);
  EXPECT_EQ(file("part_HPARAM-CLASS.csv"), kClass);
  EXPECT_EQ(file("part_HPARAM-CAT1.csv"), kCat);
}

TEST_F(RumelcutTest, BareLineFeedsAreWrittenAsCrLf) {
  std::string lf = "#### ID:A\n####\n1,2\n#### ID:B\n####\n3\r\n4";  // mixed, last line unterminated
  put("m.txt", lf);
  expect(run({"m.txt", "-o", "a"}), 0, "", "Output: out_A.txt\n");
  EXPECT_EQ(file("out_A.txt"), "#### ID:A\r\n####\r\n1,2\r\n");
  expect(run({"-v", "B", "-", "-F", "m.txt"}, lf), 0,
         "#### ID:B\r\n####\r\n3\r\n4\r\n#### ID:B\r\n####\r\n3\r\n4\r\n", "");
}

TEST_F(RumelcutTest, SeveralInputsAndStandardInput) {
  put("a_log.csv", kVersion);
  put("b_hparam.csv", kClass + kCat);
  expect(run({"a_log.csv", "-", "b_hparam.csv"}, kCat), 0,
         "a_log.csv: SETTING-VERSION\n(stdin): HPARAM-CAT1\nb_hparam.csv: HPARAM-CLASS\nb_hparam.csv: HPARAM-CAT1\n", "");
  expect(run({"-F", "a_log.csv", "b_hparam.csv"}), 0, "SETTING-VERSION\nHPARAM-CLASS\nHPARAM-CAT1\n", "");
  expect(run({"-m", "EXACT", "-v", "hparam-cat1", "-d", "-", "b_hparam.csv"}, kCat), 0,
         "(stdin): 0,1.5,2\r\nb_hparam.csv: 0,1.5,2\r\n", "");
  expect(run({"-o", "cat", "-", "b_hparam.csv"}, kCat), 0, "",
         "Output: (stdin): out_HPARAM-CAT1.csv\nOutput: b_hparam.csv: out_HPARAM-CAT1.csv\n");
}

TEST_F(RumelcutTest, OutputFileNames) {
  put("x.csv", "#### ID:PI-CLASS\r\n#### ID:PI-CAT1\r\n#### ID:X-PI\r\n#### ID:AB-AB\r\n#### ID:X-AB\r\n");
  put("y.txt", "#### ID:SCORE\r\n");
  expect(run({"-o", "pi", "--match", "Prefix", "x.csv"}), 0, "",
         "Output: out_PI-CLASS.csv\nOutput: out_PI-CAT1.csv\n");
  expect(run({"-o", "ab", "-m", "suffix", "-D", "x.csv"}), 0, "", "");
  EXPECT_EQ(file("out_X-AB.csv"), "#### ID:X-AB\r\n");
  EXPECT_EQ(file("out_AB-AB.csv"), "");
  expect(run({"-f", "res", "-s", "run2", "y.txt", "-D"}), 0, "", "");
  EXPECT_EQ(file("res_run2_SCORE.txt"), "#### ID:SCORE\r\n");
  expect(run({"--target", "t", "x.csv", "y.txt", "-o", "score"}), 0, "", "Output: y.txt: t_SCORE.out\n");
  expect(run({"--target", "e", "--ext", "dat", "y.txt"}), 0, "", "Output: e_SCORE.dat\n");
}

TEST_F(RumelcutTest, HelpAndVersion) {
  std::string version = cut_version_line();
  EXPECT_EQ(version.substr(0, 28), "VESKA version 0.7 (built on ");
  expect(run({"--version", "-q"}), 0, version, "");
  RunResult help = run({"-h", "--bogus"});
  expect(help, 0, "\n" + cut_usage_text() + "\n", "");
  EXPECT_NE(help.out.find("\n --hide-file (-F) Hide filenames\n --help      (-h) Print this message\n\n"),
            std::string::npos);
}

TEST_F(RumelcutTest, ErrorMessages) {
  put("in.csv", kFile);
  const std::string usage = " (Use -h for usage)\n";
  struct Case {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"--bogus", "in.csv"}, "Unknown/illegal option specification: --bogus" + usage},
      {{"in.csv", "-v"}, "Unknown/illegal option specification: -v" + usage},
      {{"-v", "-d", "in.csv"}, "Unknown/illegal option specification: -v" + usage},
      {{"-vHPARAM", "in.csv"}, "Unknown/illegal option specification: -vHPARAM" + usage},
      {{"-V", "x", "in.csv"}, "Unknown/illegal option specification: -V" + usage},
      {{"-m", "middle", "in.csv"}, "Unknown matching criterion -- middle (Use for usage)\n"},
      {{"-d"}, "No input file specified" + usage},
      {{"in.csv", "missing.csv"}, "Couldn't open missing.csv\n"},
      {{"-e", "abcdefghij", "in.csv"}, "Too long argument of --ext (-e) (at most 9 characters)\n"},
      {{"-f", "no/such/dir", "-D", "in.csv"}, "Couldn't open no/such/dir_SETTING-VERSION.csv\n"},
      {{std::string(1024, 'n')}, "Too long file name (at most 1023 characters): " + std::string(64, 'n') + "...\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    expect(run(c.args), 1, "", c.err);
  }
}

TEST_F(RumelcutTest, LimitsOfIdsAndLines) {
  put("id.csv", "#### ID:" + std::string(1025, 'I') + "\r\n");
  expect(run({"id.csv"}), 1, "", "Internal error: too long data matrix ID\n");

  // Lines of any length are listed past, viewed and written whole: a cluster
  // line of a wide case table is longer than 65,536 bytes.
  std::string long_row = std::string(70300, 'x') + "\n";
  put("long.csv", "#### ID:A\r\n####\r\n1\r\n" + long_row + "#### ID:B\r\n" + long_row);
  expect(run({"long.csv"}), 0, "A\nB\n", "");
  expect(run({"long.csv", "-D", "-v", "b"}), 0, "#### ID:B\r\n", "");
  expect(run({"long.csv", "-o", "a"}), 0, "", "Output: out_A.csv\n");
  EXPECT_EQ(file("out_A.csv"), "#### ID:A\r\n####\r\n1\r\n" + std::string(70300, 'x') + "\r\n");
  put("fits.csv", "#### ID:C\r\n" + std::string(65534, 'y') + "\r\n");
  expect(run({"fits.csv", "-v", "c", "-d"}), 0, std::string(65534, 'y') + "\r\n", "");
}

TEST_F(RumelcutTest, ByteOrderMarkBeforeTheFirstHeaderLineIsSkipped) {
  const std::string bom = "\xEF\xBB\xBF";
  put("bom.csv", bom + kFile);
  put("late.csv", "x\r\n" + bom + kVersion);  // only the start of a file carries one
  expect(run({"bom.csv"}), 0, "SETTING-VERSION\nHPARAM-CLASS\nHPARAM-CAT1\n", "");
  expect(run({"-v", "setting", "-F", "-", "late.csv"}, bom + kVersion), 0, kVersion, "");
}

}  // namespace
}  // namespace veska
