#include "cut/output_name.h"

#include <gtest/gtest.h>

namespace veska {
namespace {

TEST(OutputNameTest, CommonExtension) {
  using V = std::vector<std::string>;
  EXPECT_EQ(common_extension(V{"a_hparam.csv", "dir/b_log.csv"}), "csv");
  EXPECT_EQ(common_extension(V{"a.csv", "b.txt"}), "out");
  EXPECT_EQ(common_extension(V{"a.txt", "-"}), "txt");
  EXPECT_EQ(common_extension(V{"-"}), "out");
  EXPECT_EQ(common_extension(V{"noext"}), "out");
  EXPECT_EQ(common_extension(V{"ends."}), "");
  EXPECT_EQ(common_extension(V{"run.1/log", "./x.csv"}), "out");  // dots of directories are no extension
  EXPECT_EQ(common_extension(V{"a.tar.gz"}), "gz");
  EXPECT_EQ(common_extension(V{"a.abcdefghij"}), "abcdefghij");
  EXPECT_EQ(common_extension(V{"a.abcdefghijk", "b.c"}), "out");
}

TEST(OutputNameDeathTest, TooLongExtensionIsRefused) {
  EXPECT_EXIT(common_extension({"a.abcdefghijk"}), testing::ExitedWithCode(1),
              "^Too long extension of the input files: abcdefghijk \\(Use -e to give one\\)\n$");
}

TEST(OutputNameTest, Path) {
  CutSettings s;
  s.ext = "csv";
  EXPECT_EQ(output_path(s, "PI-CLASS"), "out_PI-CLASS.csv");
  s.prefix = "res";
  s.suffix = "run2";
  s.suffix_given = true;
  s.ext = "";
  EXPECT_EQ(output_path(s, "SCORE"), "res_run2_SCORE.");
}

}  // namespace
}  // namespace veska
